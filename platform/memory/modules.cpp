// Modules: the program's instance handle, libraries loaded by name with
// LoadLibrary (each its own symbol scope, attached once, reference counted),
// GetProcAddress by export name, and module file names.
#include "module_registry.h"

#include <dirent.h>
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <strings.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "qx/env.h"
#include "qx/modules.h"

namespace qx {
namespace {

// Held across dlopen and DllMain, as a loader lock: one module is attached at
// a time, and a DllMain may load further modules on the same thread.
std::recursive_mutex &LoaderLock() {
  static auto *lock = new std::recursive_mutex;
  return *lock;
}

// Modules loaded by LoadLibrary, in load order.
std::vector<std::shared_ptr<Module>> &LoadedModules() {
  static auto *modules = new std::vector<std::shared_ptr<Module>>;
  return *modules;
}

std::string Resolve(const std::string &path) {
  char buffer[PATH_MAX];
  if (realpath(path.c_str(), buffer)) return buffer;
  return path;
}

std::string DirectoryOf(const std::string &path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// "C:\\suite\\NickNames.DLL" -> "NickNames"; a name without extension stands
// for NAME.DLL as on Windows, and ".so" is accepted too.
std::string ModuleStem(const char *name) {
  std::string s(name);
  const auto sep = s.find_last_of("\\/:");
  if (sep != std::string::npos) s.erase(0, sep + 1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '.')) s.pop_back();
  for (const char *ext : {".dll", ".so", ".exe"}) {
    const size_t n = std::strlen(ext);
    if (s.size() > n && strcasecmp(s.c_str() + s.size() - n, ext) == 0) {
      s.erase(s.size() - n);
      break;
    }
  }
  return s;
}

// The file stem of a module path: "/x/libnicknames.so" -> "nicknames".
bool StemMatches(const std::string &path, const std::string &stem) {
  std::string base = path.substr(path.rfind('/') + 1);
  for (const char *ext : {".so", ".dll"}) {
    const size_t n = std::strlen(ext);
    if (base.size() > n && strcasecmp(base.c_str() + base.size() - n, ext) == 0) {
      base.erase(base.size() - n);
      break;
    }
  }
  if (strcasecmp(base.c_str(), stem.c_str()) == 0) return true;
  return base.size() == stem.size() + 3 && strncasecmp(base.c_str(), "lib", 3) == 0 &&
         strcasecmp(base.c_str() + 3, stem.c_str()) == 0;
}

// Directories searched for a library: beside the program, then each entry of
// QX_LIB_DIR (colon separated).
std::vector<std::string> SearchDirectories() {
  std::vector<std::string> dirs{DirectoryOf(ProgramPath())};
  if (const char *env = getenv("QX_LIB_DIR")) {
    std::string list(env);
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      if (end > start) dirs.push_back(list.substr(start, end - start));
      start = end + 1;
    }
  }
  return dirs;
}

// Finds "<stem>.so" or "lib<stem>.so" in a directory, without regard to case.
std::string FindInDirectory(const std::string &dir, const std::string &stem) {
  DIR *d = opendir(dir.c_str());
  if (!d) return {};
  std::string exact, prefixed;
  const std::string want = stem + ".so";
  const std::string want_lib = "lib" + stem + ".so";
  while (const dirent *e = readdir(d)) {
    if (strcasecmp(e->d_name, want.c_str()) == 0 && exact.empty()) exact = dir + "/" + e->d_name;
    if (strcasecmp(e->d_name, want_lib.c_str()) == 0 && prefixed.empty()) prefixed = dir + "/" + e->d_name;
  }
  closedir(d);
  return !exact.empty() ? exact : prefixed;
}

std::string FindLibraryFile(const std::string &stem) {
  if (stem.empty() || stem.find('/') != std::string::npos) return {};
  for (const std::string &dir : SearchDirectories()) {
    std::string found = FindInDirectory(dir, stem);
    if (!found.empty()) return Resolve(found);
  }
  return {};
}

std::vector<ModuleUnloadHook> &UnloadHooks() {
  static auto *hooks = new std::vector<ModuleUnloadHook>;
  return *hooks;
}

void *ModuleSymbol(const Module &m, const char *name) {
  void *symbol = dlsym(m.dl, name);
  // dlsym also searches the module's dependencies: only the module's own
  // exports count, as on Windows.
  if (symbol && LinkMapOf(symbol) != m.map) return nullptr;
  return symbol;
}

void CallEntry(Module &m, DWORD reason) {
  auto entry = reinterpret_cast<QX_DLLMAIN>(ModuleSymbol(m, "DllMain"));
  if (!entry) {
    if (reason == DLL_PROCESS_ATTACH) m.attached = true;
    return;
  }
  const BOOL ok = entry(reinterpret_cast<HINSTANCE>(m.handle), reason, nullptr);
  if (reason == DLL_PROCESS_ATTACH) m.attached = ok != FALSE;
}

HMODULE LoadModule(const char *name) {
  const std::string stem = ModuleStem(name);
  const std::string path = FindLibraryFile(stem);
  if (path.empty()) {
    Trace("LoadLibrary %s: no library file for \"%s\"", name, stem.c_str());
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  std::lock_guard guard(LoaderLock());
  if (auto loaded = FindLoadedModuleByPath(path)) {
    if (!loaded->is_program) ++loaded->references;
    return loaded->handle;
  }
  void *dl = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!dl) {
    Trace("LoadLibrary %s: %s", path.c_str(), dlerror());
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  auto m = std::make_shared<Module>();
  m->dl = dl;
  link_map *map = nullptr;
  if (dlinfo(dl, RTLD_DI_LINKMAP, &map) != 0) map = nullptr;
  m->map = map;
  m->path = path;
  m->references = 1;
  m->handle = static_cast<HMODULE>(InsertHandle(m));
  if (!m->handle) {
    dlclose(dl);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  LoadedModules().push_back(m);
  CallEntry(*m, DLL_PROCESS_ATTACH);
  if (!m->attached) {
    Trace("LoadLibrary %s: DllMain refused to attach", path.c_str());
    auto &mods = LoadedModules();
    std::erase(mods, m);
    RemoveHandle(m->handle);
    dlclose(dl);
    SetLastError(ERROR_DLL_INIT_FAILED);
    return nullptr;
  }
  return m->handle;
}

BOOL FreeModule(HMODULE handle) {
  std::lock_guard guard(LoaderLock());
  auto m = ModuleFromHandle(handle);
  if (!m || !handle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (m->is_program) return TRUE;
  if (m->linked) {  // stays mapped for the program; LoadLibrary references still count
    if (m->references > 1) --m->references;
    return TRUE;
  }
  if (--m->references > 0) return TRUE;
  CallEntry(*m, DLL_PROCESS_DETACH);
  for (ModuleUnloadHook hook : UnloadHooks()) hook(m->handle);
  std::erase(LoadedModules(), m);
  RemoveHandle(m->handle);
  dlclose(m->dl);
  return TRUE;
}

// Copies a name with Windows' truncation rule: at most size - 1 characters
// and a terminator; a truncated copy returns size and ERROR_INSUFFICIENT_BUFFER.
DWORD CopyName(const std::string &name, LPSTR buffer, DWORD size) {
  if (!buffer || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (name.size() < size) {
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(name.size());
  }
  std::memcpy(buffer, name.data(), size - 1);
  buffer[size - 1] = '\0';
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

}  // namespace

const std::string &ProgramPath() {
  static const std::string path = [] {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
  }();
  return path;
}

std::string ShownPath(const std::string &host) {
  if (WindowsPathOf) {
    std::string windows = WindowsPathOf(host);
    if (!windows.empty()) return windows;
  }
  return host;
}

std::string HostFileName(const char *file) {
  std::string name(file);
  // A host path stays as it is; anything else is a Windows path.
  if (!name.empty() && name[0] == '/') return name;
  std::string host;
  DWORD error = 0;
  bool (*const host_path)(std::string_view, std::string &, DWORD &) = HostPath;
  if (host_path && host_path(name, host, error)) return host;
  return name;
}

link_map *LinkMapOf(const void *address) {
  Dl_info info{};
  link_map *map = nullptr;
  if (!dladdr1(address, &info, reinterpret_cast<void **>(&map), RTLD_DL_LINKMAP)) return nullptr;
  return map;
}

bool AddressInModule(HMODULE module, const void *address) {
  auto m = ModuleFromHandle(module);
  return m && address && m->map && LinkMapOf(address) == m->map;
}

void AddModuleUnloadHook(ModuleUnloadHook hook) {
  if (!hook) return;
  std::lock_guard guard(LoaderLock());
  UnloadHooks().push_back(hook);
}

void AdoptLinkedModule(const std::shared_ptr<Module> &m) {
  std::lock_guard guard(LoaderLock());
  LoadedModules().push_back(m);
}

std::shared_ptr<Module> ProgramModule() {
  static const std::shared_ptr<Module> program = [] {
    auto m = std::make_shared<Module>();
    m->is_program = true;
    m->attached = true;
    m->references = 1;
    m->dl = dlopen(nullptr, RTLD_NOW);
    link_map *map = nullptr;
    if (m->dl && dlinfo(m->dl, RTLD_DI_LINKMAP, &map) == 0) m->map = map;
    m->path = ProgramPath();
    m->handle = static_cast<HMODULE>(InsertHandle(m));
    return m;
  }();
  return program;
}

std::shared_ptr<Module> ModuleFromHandle(HMODULE module) {
  if (!module) return ProgramModule();
  return Lookup<Module>(module, ObjectKind::Module);
}

std::shared_ptr<Module> FindLoadedModuleByPath(const std::string &path) {
  std::lock_guard guard(LoaderLock());
  if (path == ProgramPath()) return ProgramModule();
  for (const auto &m : LoadedModules())
    if (m->path == path) return m;
  return nullptr;
}

}  // namespace qx

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  auto program = qx::ProgramModule();
  if (!name) return program->handle;
  const std::string stem = qx::ModuleStem(name);
  std::lock_guard guard(qx::LoaderLock());
  for (const auto &m : qx::LoadedModules())
    if (qx::StemMatches(m->path, stem)) return m->handle;
  if (qx::StemMatches(program->path, stem)) return program->handle;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  auto m = qx::ModuleFromHandle(module);
  if (!m) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  return qx::CopyName(qx::ShownPath(m->path), buffer, size);
}

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return qx::LoadModule(name);
}

BOOL WINAPI FreeLibrary(HMODULE module) { return qx::FreeModule(module); }

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  auto m = qx::ModuleFromHandle(module);
  if (!m || !m->dl) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // Modules export by name only; there is no ordinal table to look in.
  if (!name || IS_INTRESOURCE(name)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void *symbol = qx::ModuleSymbol(*m, name);
  if (!symbol) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE module) {
  // Thread attach and detach notifications are never sent.
  if (!qx::ModuleFromHandle(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
