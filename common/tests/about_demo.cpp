// A program of the suite's shape that shows the About box: a main window
// with a Help menu; started with "/about" it opens the box at once, prints
// the texts the box shows, and ends when the box is closed.
#include <windows.h>
#include <winsock.h>

#include <cstdio>
#include <cstring>

#include "qxcommon.h"

namespace {

constexpr UINT IDM_ABOUT = 901;

// A 4 x 2 logo, 24 bits a pixel, bottom-up rows padded to 4 bytes.
const unsigned char
    kLogoDib[] =
        {
            40, 0, 0,  0,   4,   0,   0, 0,   2,   0,   0, 0,   1,   0,   24,  0,   0, 0,
            0,  0, 24, 0,   0,   0,   0, 0,   0,   0,   0, 0,   0,   0,   0,   0,   0, 0,
            0,  0, 0,  0,   255, 0,   0, 0,   255, 0,   0, 0,   255, 255, 255, 255,  // blue green red white
            0,  0, 0,  128, 128, 128, 0, 255, 255, 255, 0, 255,                      // black grey yellow magenta
};

const QX_DIALOG_ITEM kAboutItems[] = {
    QX_CONTROL("", IDC_ABOUT_LOGO, "Button", BS_OWNERDRAW | WS_CHILD | WS_VISIBLE, 8, 8, 48, 48),
    QX_LTEXT("QX TCP/IP suite", -1, 64, 8, 150, 8),
    QX_LTEXT("Extended Version Number", -1, 64, 20, 150, 8),
    QX_LTEXT("", IDC_ABOUT_VERSION, 64, 30, 150, 8),
    QX_LTEXT("Network Layer:", -1, 8, 64, 60, 8),
    QX_CONTROL("", IDC_ABOUT_NETWORK, "Edit", ES_LEFT | ES_READONLY | WS_CHILD | WS_VISIBLE | WS_BORDER, 70, 62, 144,
               12),
    QX_LTEXT("Vrsn compiled:", -1, 8, 80, 60, 8),
    QX_CONTROL("", IDC_ABOUT_COMPILED, "Edit", ES_LEFT | ES_READONLY | WS_CHILD | WS_VISIBLE | WS_BORDER, 70, 78, 144,
               12),
    QX_DEFPUSHBUTTON("OK", IDOK, 90, 98, 40, 14),
};
const QX_DIALOG kAbout = QX_DIALOG_TEMPLATE(0, 0, 222, 118, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, "About",
                                            "MS Sans Serif", 8, kAboutItems);
const QX_MENU_ITEM kHelpMenu[] = {QX_MENUITEM("&About...", IDM_ABOUT)};
const QX_MENU_ITEM kMainItems[] = {QX_POPUP("&Help", kHelpMenu)};
const QX_MENU kMainMenu = QX_MENU_OF(kMainItems);
const QX_VERSION_STRING kStrings[] = {{"FileVersion", QX_VERSION_TEXT(3, 2, 0, 1)}, {"ProductName", "QX about demo"}};
const QX_VERSION kVersion = QX_PROGRAM_VERSION(3, 2, 0, 1, kStrings);
const QX_RESOURCE kResources[] = {
    QX_RES_DIALOG("ABOUT", kAbout),
    QX_RES_MENU("MAINMENU", kMainMenu),
    QX_RES_BITMAP("logo", kLogoDib),
    QX_RES_VERSION(kVersion),
};
QX_REGISTER_RESOURCES(kResources);

HINSTANCE g_instance;
bool g_aboutOnly = false;

// Shows what the box put in its controls, for the test that runs the demo.
INT_PTR CALLBACK ReportingAboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  const INT_PTR result = AboutDlgProc(dialog, message, wParam, lParam);
  if (message == WM_INITDIALOG) {
    static const int kIds[] = {IDC_ABOUT_VERSION, IDC_ABOUT_NETWORK, IDC_ABOUT_COMPILED};
    for (int id : kIds) {
      char text[300] = "";
      GetDlgItemTextA(dialog, id, text, sizeof text);
      std::printf("%d=%s\n", id, text);
    }
    std::fflush(stdout);
  }
  return result;
}

LRESULT CALLBACK MainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDM_ABOUT) {
        DialogBoxParamA(g_instance, "ABOUT", hwnd, ReportingAboutProc, 0);
        if (g_aboutOnly) PostMessageA(hwnd, WM_CLOSE, 0, 0);
        return 0;
      }
      break;
    case WM_SYSCOLORCHANGE:
      if (g_Ctl3dActive && Ctl3dColorChange) Ctl3dColorChange();
      return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
  DebugLogOpen(instance, commandLine);
  g_instance = instance;
  g_aboutOnly = std::strstr(commandLine, "/about") != nullptr;
  std::snprintf(g_AboutBuildDate, sizeof g_AboutBuildDate, "%s", "Jul  5 1995");
  Ctl3dLoad(instance);
  WNDCLASSA wc{};
  wc.lpfnWndProc = MainProc;
  wc.hInstance = instance;
  wc.lpszClassName = "QxAboutDemo";
  wc.lpszMenuName = "MAINMENU";
  if (!RegisterClassA(&wc)) return 1;
  HWND hwnd = CreateWindowA("QxAboutDemo", "About demo", WS_OVERLAPPEDWINDOW, 10, 10, 320, 200, nullptr, nullptr,
                            instance, nullptr);
  if (!hwnd) return 1;
  ShowWindow(hwnd, show);
  if (g_aboutOnly) PostMessageA(hwnd, WM_COMMAND, IDM_ABOUT, 0);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  Ctl3dUnload(instance);
  return static_cast<int>(msg.wParam);
}
