// Modules loaded by name, as other parts of the layer see them: whether an
// address (a window procedure, a callback) lies in a module, and a hook run
// before a module is unloaded, so that windows and classes whose procedures
// live in it are destroyed first instead of calling into unmapped code.
#pragma once

#include <windows.h>

namespace qx {

// True when the address lies in the module's code or data (NULL: the program).
bool AddressInModule(HMODULE module, const void *address);

// Called with a module's handle after its DllMain has seen DLL_PROCESS_DETACH
// and before its code is unmapped, on the thread that called FreeLibrary.
using ModuleUnloadHook = void (*)(HMODULE module);
void AddModuleUnloadHook(ModuleUnloadHook hook);

}  // namespace qx
