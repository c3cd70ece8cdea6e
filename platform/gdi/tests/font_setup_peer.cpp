// A program that does one thing of a drawing program (named by its argument)
// and reports whether that started reading the font configuration. A process
// that only reads display metrics through a hidden window (the finger daemon)
// must not; a window that will be seen, a control or a font must.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "qx/gdi.h"

namespace {

HWND g_Window;  // the step's window, destroyed at the end with its children and menu
HFONT g_Font;

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND HiddenTopLevel(HMENU menu = nullptr) {
  return g_Window =
             CreateWindowA("FontSetupPeer", "", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, menu, nullptr, nullptr);
}

// What whoanswer does for its report: a hidden window's DC for the screen's size and colours.
bool ReadMetrics() {
  HWND window = HiddenTopLevel();
  if (!window) return false;
  HDC dc = GetDC(window);
  const int width = GetDeviceCaps(dc, HORZRES), bits = GetDeviceCaps(dc, BITSPIXEL);
  ReleaseDC(window, dc);
  PostQuitMessage(0);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return width > 0 && bits > 0 && GetSystemMetrics(SM_CXSCREEN) > 0;
}

bool VisibleWindow() {
  g_Window = CreateWindowA("FontSetupPeer", "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr,
                           nullptr, nullptr);
  return g_Window != nullptr;
}

bool ShownLater() {
  HWND window = HiddenTopLevel();
  if (!window) return false;
  ShowWindow(window, SW_SHOWNORMAL);
  return true;
}

bool Control() {
  HWND window = HiddenTopLevel();
  return window && CreateWindowA("Static", "text", WS_CHILD, 0, 0, 50, 20, window, nullptr, nullptr, nullptr);
}

bool MenuBar() {
  HMENU menu = CreateMenu();
  AppendMenuA(menu, MF_STRING, 1, "&File");
  return HiddenTopLevel(menu) != nullptr;
}

// A main window whose class names its menu bar (burrowview's), made hidden.
bool ClassMenuBar() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = PlainProc;
  wc.lpszClassName = "FontSetupPeerMenu";
  wc.lpszMenuName = "MAINMENU";
  if (!RegisterClassA(&wc)) return false;
  g_Window =
      CreateWindowA("FontSetupPeerMenu", "", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
  return g_Window != nullptr;
}

bool Font() { return (g_Font = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "Arial")) != nullptr; }

struct Step {
  const char *name;
  bool (*run)();
};
const Step kSteps[] = {
    {"metrics", ReadMetrics}, {"visible", VisibleWindow},   {"shown", ShownLater}, {"control", Control},
    {"menu", MenuBar},        {"class-menu", ClassMenuBar}, {"font", Font}};

}  // namespace

int main(int argc, char **argv) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = PlainProc;
  wc.lpszClassName = "FontSetupPeer";
  if (argc != 2 || !RegisterClassA(&wc)) {
    std::fprintf(stderr, "usage: font_setup_peer metrics|visible|shown|control|menu|class-menu|font\n");
    return 2;
  }
  for (const Step &step : kSteps) {
    if (std::strcmp(argv[1], step.name) != 0) continue;
    if (!step.run()) {
      std::printf("%s: the step failed (error %lu)\n", step.name, static_cast<unsigned long>(GetLastError()));
      return 1;
    }
    std::printf("font setup started: %s\n", qx::gdi::FontSetupStarted() ? "yes" : "no");
    std::fflush(stdout);
    if (g_Window) DestroyWindow(g_Window);
    if (g_Font) DeleteObject(g_Font);
    return 0;
  }
  std::fprintf(stderr, "font_setup_peer: no step named %s\n", argv[1]);
  return 2;
}
