// installkit's entry point, the texts every step answers with and the colour
// rule of its dialogs.
#include "installkit.h"

#include <qxcommon.h>

const char kOutOk[] = "OK";
const char kOutBad[] = "BAD";

HINSTANCE g_InstallKitInstance = nullptr;

extern "C" QX_DLLEXPORT BOOL WINAPI Win32LibMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) g_InstallKitInstance = instance;
  return TRUE;
}

INT_PTR InstallKitControlColour(UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_Ctl3dActive && Ctl3dCtlColorEx) return (INT_PTR)Ctl3dCtlColorEx(message, wParam, lParam);
  return FALSE;
}

// The layer's loader calls DllMain; the library's own entry is Win32LibMain.
extern "C" QX_DLLEXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return Win32LibMain(instance, reason, reserved);
}
