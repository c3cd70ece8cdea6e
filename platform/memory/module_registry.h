// The modules of this process: the program itself and the libraries it loaded
// by name. Shared by the module, resource and version code of this folder.
#pragma once

#include <windows.h>

#include <link.h>

#include <memory>
#include <string>

#include "qx/handles.h"
#include "qx/paths.h"

namespace qx {

// The files part names module files as Windows paths; a build without it
// keeps host paths. Weak, so such a build still links.
std::string WindowsPathOf(const std::string &host) __attribute__((weak));
bool HostPath(std::string_view path, std::string &host, DWORD &error) __attribute__((weak));

class Module : public KernelObject {
 public:
  Module() : KernelObject(ObjectKind::Module) {}
  void *dl = nullptr;       // dlopen handle (of the program: dlopen(NULL))
  link_map *map = nullptr;  // identifies the module's resources
  std::string path;         // absolute file name
  HMODULE handle = nullptr;
  int references = 0;  // LoadLibrary count; the program is never unloaded
  bool is_program = false;
  bool linked = false;    // linked at build time: attached before WinMain, never unloaded
  bool attached = false;  // DllMain(DLL_PROCESS_ATTACH) succeeded
};

// The program's module (created on first use).
std::shared_ptr<Module> ProgramModule();
// The module a handle names; NULL names the program. Null when the handle is
// stale or not a module.
std::shared_ptr<Module> ModuleFromHandle(HMODULE module);
// The link map of the object holding an address (null when none does).
link_map *LinkMapOf(const void *address);
// A module loaded by LoadLibrary (or the program) whose file is path
// (absolute, resolved), or null.
std::shared_ptr<Module> FindLoadedModuleByPath(const std::string &path);
// Attaches the libraries the program linked at build time (linked_modules.cpp).
void AttachLinkedModules();
// The canonical file name of the running program.
const std::string &ProgramPath();
// A module's file name as programs see it: its Windows path when a drive
// holds it, else the host path.
std::string ShownPath(const std::string &host);
// The host path of a file name a program gives (a Windows path such as
// ShownPath returned, or a host path).
std::string HostFileName(const char *file);

}  // namespace qx
