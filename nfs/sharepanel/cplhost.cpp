// cplhost: stands in for the control panel. It loads an applet library by
// name ("cplhost [LIBRARY [INDEX]]", default sharepanel and its first applet),
// calls CPlApplet as a control panel does (INIT, GETCOUNT, NEWINQUIRE of each
// applet, DBLCLK of the one asked for, STOP, EXIT) and ends when the applet's
// dialog closes.
#include <windows.h>

#include <cpl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kCaption[] = "Control Panel";

int Fail(const std::string &text) {
  fprintf(stderr, "cplhost: %s\n", text.c_str());
  MessageBoxA(nullptr, text.c_str(), kCaption, MB_OK | MB_ICONSTOP);
  return 1;
}

// The applet's window owner: a window of the host's own, never shown.
HWND CreateOwnerWindow(HINSTANCE instance) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = instance;
  wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  wc.lpszClassName = "QXControlPanel";
  RegisterClassA(&wc);
  return CreateWindowA("QXControlPanel", kCaption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 200, 100, nullptr,
                       nullptr, instance, nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
  char library[MAX_PATH] = "sharepanel.DLL";
  int index = 0;
  sscanf(command_line, "%259s %d", library, &index);
  HMODULE module = LoadLibraryA(library);
  if (!module)
    return Fail(std::string("The applet library ") + library + " cannot be loaded (error " +
                std::to_string(GetLastError()) + "); check that it is installed with the suite.");
  auto applet = reinterpret_cast<APPLET_PROC>(GetProcAddress(module, "CPlApplet"));
  if (!applet) {
    FreeLibrary(module);
    return Fail(std::string(library) + " is not a control-panel applet: it has no CPlApplet.");
  }
  HWND owner = CreateOwnerWindow(instance);
  int result = 0;
  if (applet(owner, CPL_INIT, 0, 0) == 0) {
    result = Fail(std::string(library) + " refused to start (CPL_INIT).");
  } else {
    LONG count = applet(owner, CPL_GETCOUNT, 0, 0);
    for (LONG i = 0; i < count; ++i) {
      NEWCPLINFOA info{};
      applet(owner, CPL_NEWINQUIRE, i, reinterpret_cast<LPARAM>(&info));
      printf("applet %ld: %s - %s\n", long(i), info.szName, info.szInfo);
      fflush(stdout);
    }
    if (index < 0 || index >= count)
      result = Fail(std::string(library) + " has no applet " + std::to_string(index) + ".");
    else
      applet(owner, CPL_DBLCLK, index, 0);
    for (LONG i = 0; i < count; ++i) applet(owner, CPL_STOP, i, 0);
    applet(owner, CPL_EXIT, 0, 0);
  }
  if (owner) DestroyWindow(owner);
  FreeLibrary(module);
  return result;
}
