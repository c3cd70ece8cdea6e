// installkit's entry point and the texts every step answers with.
#include "installkit.h"

const char kOutOk[] = "OK";
const char kOutBad[] = "BAD";

HINSTANCE g_InstallKitInstance = nullptr;

extern "C" QX_DLLEXPORT BOOL WINAPI Win32LibMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) g_InstallKitInstance = instance;
  return TRUE;
}

// The layer's loader calls DllMain; the library's own entry is Win32LibMain.
extern "C" QX_DLLEXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return Win32LibMain(instance, reason, reserved);
}
