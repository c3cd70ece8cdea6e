// DllMain for the suite's libraries a program links at build time.
//
// A library loaded with LoadLibrary is attached by the loader. One the
// program links directly is mapped before main, when no entry point may run
// yet; the WinMain entry calls AttachLinkedModules once the process is set up
// and before WinMain, as Windows attaches a program's implicit libraries
// before its entry point: each loaded object whose own symbol table has
// DllMain becomes a module (its handle is what GetModuleHandleA returns for
// it, and a later LoadLibrary of it counts a reference) and is attached in
// load order. A library whose DllMain refuses ends the process, as a failed
// implicit library ends it on Windows. At exit they are detached in reverse
// order.
#include "module_registry.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace qx {

// modules.cpp
void AdoptLinkedModule(const std::shared_ptr<Module> &m);

namespace {

std::vector<std::shared_ptr<Module>> &Linked() {
  static auto *linked = new std::vector<std::shared_ptr<Module>>;
  return *linked;
}

// The objects mapped into the process, in load order, as (name as loaded, link map).
std::vector<std::pair<std::string, link_map *>> LoadedObjects() {
  std::vector<std::pair<std::string, link_map *>> out;
  for (link_map *map = _r_debug.r_map; map; map = map->l_next)
    if (map->l_name && map->l_name[0] == '/') out.emplace_back(map->l_name, map);
  return out;
}

std::string ResolvedPath(const std::string &name) {
  char resolved[PATH_MAX];
  return realpath(name.c_str(), resolved) ? std::string(resolved) : name;
}

void DetachLinked() {
  auto &linked = Linked();
  for (auto it = linked.rbegin(); it != linked.rend(); ++it) {
    auto entry = reinterpret_cast<QX_DLLMAIN>(dlsym((*it)->dl, "DllMain"));
    if (entry && LinkMapOf(reinterpret_cast<void *>(entry)) == (*it)->map)
      entry(reinterpret_cast<HINSTANCE>((*it)->handle), DLL_PROCESS_DETACH, reinterpret_cast<LPVOID>(1));
  }
}

}  // namespace

void AttachLinkedModules() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (auto &[name, map] : LoadedObjects()) {
      // By the name it was loaded under, the loader finds the object without
      // opening its file again; only a library with a DllMain of its own
      // (one of the suite's) has its path resolved.
      void *dl = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
      if (!dl) continue;
      void *entry = dlsym(dl, "DllMain");
      if (!entry || LinkMapOf(entry) != map) {
        dlclose(dl);
        continue;
      }
      const std::string path = ResolvedPath(name);
      if (FindLoadedModuleByPath(path)) {
        dlclose(dl);
        continue;
      }
      auto m = std::make_shared<Module>();
      m->dl = dl;
      m->map = map;
      m->path = path;
      m->references = 1;
      m->linked = true;
      m->handle = static_cast<HMODULE>(InsertHandle(m));
      if (!m->handle) continue;
      AdoptLinkedModule(m);
      const BOOL ok = reinterpret_cast<QX_DLLMAIN>(entry)(reinterpret_cast<HINSTANCE>(m->handle), DLL_PROCESS_ATTACH,
                                                          reinterpret_cast<LPVOID>(1));
      if (!ok) {
        std::fprintf(stderr, "The library %s failed to initialize; the program cannot start.\n", path.c_str());
        std::fflush(nullptr);
        _exit(static_cast<int>(ERROR_DLL_INIT_FAILED));
      }
      m->attached = true;
      Linked().push_back(m);
    }
    if (!Linked().empty()) std::atexit(DetachLinked);
  });
}

}  // namespace qx
