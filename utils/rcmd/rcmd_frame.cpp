// The frame of the remote copy and remote command programs: options, a
// hidden frame window owning one modeless dialog, and what their dialogs
// share (recent hosts, the user fields, colours, the minimised icon).
#include <qxcommon.h>
#include <queryclient.h>

#include <cstdio>

#include "rcmd.h"

RCMD_OPTIONS g_RcmdOptions{};
char g_RcmdIniFile[MAX_PATH] = "";
HINSTANCE g_RcmdInstance = nullptr;

namespace {

const RCMD_PROGRAM *g_program = nullptr;
HWND g_frame = nullptr;
HWND g_dialog = nullptr;
HICON g_icon = nullptr;
HBRUSH g_brush = nullptr;

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
    case WM_ENDSESSION: return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_SYSCOLORCHANGE:
      if (g_Ctl3dActive && Ctl3dColorChange) Ctl3dColorChange();
      return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

bool MakeFrame(HINSTANCE instance) {
  WNDCLASSA wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = FrameProc;
  wc.hInstance = instance;
  wc.hIcon = g_icon;
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = g_program->section;
  RegisterClassA(&wc);
  g_frame = CreateWindowA(g_program->section, g_program->section, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  return g_frame != nullptr;
}

}  // namespace

int RcmdProgramMain(HINSTANCE instance, LPSTR commandLine, const RCMD_PROGRAM &program) {
  g_program = &program;
  g_RcmdInstance = instance;
  WSADATA wsa;
  if (WSAStartup(0x0101, &wsa) != 0) {
    MessageBoxA(nullptr, "Winsock could not be started, so no host can be reached. Check the network set-up.",
                program.section, MB_OK | MB_ICONERROR);
    return 1;
  }
  DebugLogOpen(instance, commandLine);
  if (!RcmdParseOptions(commandLine, program.exec, &g_RcmdOptions)) {
    MessageBoxA(nullptr, program.usage, "Usage", MB_OK | MB_ICONINFORMATION);
    WSACleanup();
    return -3;
  }
  Ctl3dLoad(instance);
  FindAppsIni(g_RcmdIniFile, sizeof g_RcmdIniFile);
  g_icon = LoadIconA(instance, "AppIcon1");
  if (!MakeFrame(instance) || !(g_dialog = CreateDialogA(instance, program.dialogName, g_frame, program.dialogProc))) {
    MessageBoxA(nullptr, "The program's window could not be made.", program.section, MB_OK | MB_ICONERROR);
    WSACleanup();
    return 1;
  }
  ShowWindow(g_dialog, SW_SHOW);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0)) {
    if (g_dialog && IsWindow(g_dialog) && IsDialogMessageA(g_dialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  RcmdClose();
  Ctl3dUnload(instance);
  if (g_icon) DestroyIcon(g_icon);
  WSACleanup();
  return 0;
}

void RcmdInitDialog(HWND dialog) {
  RecentListFill(GetDlgItem(dialog, 100), g_RcmdIniFile, g_program->section, "FILE_%d");
  SetDlgItemTextA(dialog, 101, RcmdLocalSideUser(g_RcmdOptions).c_str());
  if (g_program->exec) SetDlgItemTextA(dialog, 104, g_RcmdOptions.password);
  if (!g_Ctl3dActive && !g_brush) g_brush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
}

BOOL RcmdDialogDefault(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, INT_PTR *result) {
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(dialog);
      g_dialog = nullptr;
      PostMessageA(g_frame, WM_CLOSE, 0, 0);
      *result = TRUE;
      return TRUE;
    case WM_DESTROY:
      if (g_brush) DeleteObject(g_brush);
      g_brush = nullptr;
      return FALSE;
    case WM_PAINT:
      if (!IsIconic(dialog)) return FALSE;
      {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(dialog, &ps);
        if (g_icon) DrawIcon(dc, 1, 1, g_icon);
        EndPaint(dialog, &ps);
      }
      *result = TRUE;
      return TRUE;
    case WM_ERASEBKGND:
      if (!IsIconic(dialog)) return FALSE;
      *result = DefWindowProcA(GetDesktopWindow(), message, wParam, lParam);
      return TRUE;
    case WM_QUERYDRAGICON: *result = reinterpret_cast<INT_PTR>(g_icon); return TRUE;
    default: break;
  }
  if (HBRUSH brush = QueryDialogColor(message, wParam, lParam, g_brush)) {
    *result = reinterpret_cast<INT_PTR>(brush);
    return TRUE;
  }
  return FALSE;
}

BOOL RcmdReadField(HWND dialog, int id, char *buffer, int size, LPCSTR missing) {
  GetDlgItemTextA(dialog, id, buffer, size);
  if (buffer[0]) return TRUE;
  MessageBoxA(dialog, missing, g_program->section, MB_OK | MB_ICONEXCLAMATION);
  return FALSE;
}

void RcmdRememberHost(LPCSTR host) { RecentListAdd(g_RcmdIniFile, g_program->section, "FILE_%d", host); }
