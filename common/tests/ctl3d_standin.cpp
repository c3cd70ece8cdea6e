// A stand-in for "CTL3D32.DLL", built only for the tests of the 3-D look
// loader: it exports the entry points by name and counts the calls it gets.
// QX_CTL3D_AUTOSUBCLASS=0 in the environment makes auto-subclassing fail;
// built with QX_CTL3D_NO_REGISTER it lacks Ctl3dRegister.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {
int g_calls[4];  // register, unregister, auto-subclass, colour change
}

extern "C" {

#ifndef QX_CTL3D_NO_REGISTER
QX_DLLEXPORT BOOL WINAPI Ctl3dRegister(HINSTANCE) {
  ++g_calls[0];
  return TRUE;
}
#endif
QX_DLLEXPORT BOOL WINAPI Ctl3dUnregister(HINSTANCE) {
  ++g_calls[1];
  return TRUE;
}
QX_DLLEXPORT BOOL WINAPI Ctl3dAutoSubclass(HINSTANCE) {
  ++g_calls[2];
  const char *mode = std::getenv("QX_CTL3D_AUTOSUBCLASS");
  return !(mode && std::strcmp(mode, "0") == 0);
}
QX_DLLEXPORT BOOL WINAPI Ctl3dSubclassDlg(HWND, WORD) { return TRUE; }
QX_DLLEXPORT WORD WINAPI Ctl3dGetVer(void) { return 0x0231; }
QX_DLLEXPORT BOOL WINAPI Ctl3dColorChange(void) {
  ++g_calls[3];
  return TRUE;
}
QX_DLLEXPORT BOOL WINAPI Ctl3dEnabled(void) { return TRUE; }
QX_DLLEXPORT BOOL WINAPI Ctl3dSubclassCtl(HWND) { return TRUE; }
QX_DLLEXPORT HBRUSH WINAPI Ctl3dCtlColorEx(UINT, WPARAM, LPARAM) { return nullptr; }

// For the tests: how often each counted entry point was called.
QX_DLLEXPORT int WINAPI StandinCalls(int which) { return which >= 0 && which < 4 ? g_calls[which] : -1; }
}
