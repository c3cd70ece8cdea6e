// whoprobe: sends one finger query (TCP port 79) to a host and shows the
// answer in the text output window. A state word, looked at after every
// window message, drives the query: 1 a host was chosen in the Host dialog,
// 2 the reply is to be read. Connecting and reading keep the window served.
#include <windows.h>
#include <winsock.h>

#include <qxcommon.h>
#include <queryclient.h>
#include <textwin.h>

#include <cstdio>
#include <string>

#include "resources.h"

int g_QueryState = 0; /* 0 idle, 1 a query was chosen, 2 the reply is to be read */

namespace {

constexpr unsigned short kFingerPort = 79;
constexpr int kFieldSize = 64;   // host and user, up to 63 characters
constexpr int kPieceSize = 127;  // reply bytes received at a time
constexpr const char *kSection = "Finger";

HINSTANCE g_instance = nullptr;
HWND g_window = nullptr;
HMENU g_menu = nullptr;
char g_host[kFieldSize] = "";
char g_user[kFieldSize] = "";
BYTE g_longOutput = 0;
SOCKET g_socket = INVALID_SOCKET;

std::string LoadText(UINT id) {
  char text[128] = "";
  LoadStringA(g_instance, id, text, sizeof text);
  return text;
}

// A message box with the program's text first, then what happened and what to do.
void ShowError(const std::string &text, const std::string &detail) {
  QueryShowError(LoadText(IDS_CAPTION).c_str(), text, detail);
}

void CloseQuerySocket() {
  if (g_socket == INVALID_SOCKET) return;
  WsCloseSocket(g_socket);
  g_socket = INVALID_SOCKET;
}

void SetQueryMenu(bool enabled) { EnableMenuItem(g_menu, IDM_FINGER_HOST, enabled ? MF_ENABLED : MF_GRAYED); }

// Sends the query: "/W " by itself when long output is on, then the user and CR LF.
bool SendQuery() {
  if (g_longOutput && SockSendAll(g_socket, "/W ", 3) != 3) return false;
  const std::string line = std::string(g_user) + "\r\n";
  return SockSendAll(g_socket, line.c_str(), static_cast<int>(line.size())) == static_cast<int>(line.size());
}

void EndQuery(int result) {
  CloseQuerySocket();
  if (result == SOCK_PUMP_QUIT) return;  // the quit stays posted: the main loop ends the program
  if (result != 0) QueryPrintError(result);
  TextWinPrint("\r\n");
  SetQueryMenu(true);
  UpdateWindow(g_window);
  g_QueryState = 0;
}

void FingerQuery() {
  g_QueryState = 0;
  if (PumpMessages()) return;
  struct in_addr address {};
  if (!QueryResolveHost(g_host, &address)) {
    char text[160];
    std::snprintf(text, sizeof text, LoadText(IDS_UNKNOWN_HOST).c_str(), g_host);
    ShowError(text, "No address was found for this name. Check its spelling, or give the host's address.");
    SetQueryMenu(true);
    return;
  }
  g_socket = WsSocket(AF_INET, SOCK_STREAM, 0);
  if (g_socket == INVALID_SOCKET) {
    char detail[160];
    std::snprintf(detail, sizeof detail,
                  "No network connection could be made (error %d). Close other programs and try again.",
                  WSAGetLastError());
    ShowError(LoadText(IDS_SOCKET_ERROR), detail);
    SetQueryMenu(true);
    return;
  }
  UpdateWindow(g_window);
  const int connected = QueryConnect(g_socket, address, kFingerPort, QUERY_CONNECT_MS);
  if (connected != 0) {
    CloseQuerySocket();
    if (connected == SOCK_PUMP_QUIT) return;
    char detail[200];
    std::snprintf(detail, sizeof detail,
                  "No finger server answered on %s: %s (error %d). Check the host, or try later.", g_host,
                  QueryErrorWords(connected), connected);
    ShowError(LoadText(IDS_CONNECT_ERROR), detail);
    SetQueryMenu(true);
    return;
  }
  TextWinPrint("[");
  TextWinPrint(g_host);
  TextWinPrint("]\r\n");
  if (!SendQuery()) {
    EndQuery(WSAGetLastError() ? WSAGetLastError() : WSAECONNABORTED);
    return;
  }
  UpdateWindow(g_window);
  g_QueryState = 2;
}

void FingerReadReply() { EndQuery(QueryReadReply(g_socket, QUERY_REPLY_FINGER, kPieceSize)); }

// ---- Host dialog ----

HBRUSH g_dialogBrush = nullptr;

INT_PTR CALLBACK HostDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      if (!g_Ctl3dActive) g_dialogBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
      RecentListFill(GetDlgItem(dialog, IDC_HOST), TextWinIniPath(), kSection, "FILE_%d");
      SetDlgItemTextA(dialog, IDC_USER, g_user);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        GetDlgItemTextA(dialog, IDC_HOST, g_host, kFieldSize);
        GetDlgItemTextA(dialog, IDC_USER, g_user, kFieldSize);
        // The query is pending from here: the menu stays grey until it ends,
        // so a second query cannot start while this one is being set up.
        SetQueryMenu(false);
        EndDialog(dialog, 1);
        g_QueryState = 1;
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 2);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      if (g_dialogBrush) DeleteObject(g_dialogBrush);
      g_dialogBrush = nullptr;
      return FALSE;
    default: return reinterpret_cast<INT_PTR>(QueryDialogColor(message, wParam, lParam, g_dialogBrush));
  }
}

// ---- Menu commands ----

void OnFingerHost(HWND window) {
  DialogBoxA(g_instance, "Host", window, HostDlgProc);
  if (g_host[0]) RecentListAdd(TextWinIniPath(), kSection, "FILE_%d", g_host);
}

void OnExit(HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); }

void OnLongOutput(HWND) {
  g_longOutput = !g_longOutput;
  CheckMenuItem(g_menu, IDM_LONG_OUTPUT, g_longOutput ? MF_CHECKED : MF_UNCHECKED);
}

void OnHelpIndex(HWND window) { WinHelpA(window, "DARERIZE.DAR", HELP_INDEX, 0); }
void OnHelpOptions(HWND window) { WinHelpA(window, "DARERIZE.DAR", HELP_KEY, reinterpret_cast<ULONG_PTR>("OPTIONS")); }
void OnHelpUsing(HWND window) { WinHelpA(window, "WINHELP.HLP", HELP_INDEX, 0); }
void OnAbout(HWND window) { DialogBoxA(g_instance, "About", window, AboutDlgProc); }

const QUERY_COMMAND kCommands[] = {
    {IDM_FINGER_HOST, OnFingerHost},
    {IDM_EXIT, OnExit},
    {IDM_LONG_OUTPUT, OnLongOutput},
    {IDM_HELP_INDEX, OnHelpIndex},
    {IDM_HELP_OPTIONS, OnHelpOptions},
    {IDM_HELP_USING, OnHelpUsing},
    {IDM_ABOUT, OnAbout},
};

void FingerCleanup() {
  Ctl3dUnload(g_instance);
  WSACancelBlockingCall();
  CloseQuerySocket();
}

const QUERY_CLIENT kClient = {kCommands, static_cast<int>(sizeof kCommands / sizeof kCommands[0]), FingerCleanup};

LRESULT CALLBACK FingerMainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TextWinProc(window, message, wParam, lParam);
  return QueryClientWindowProc(kClient, window, message, wParam, lParam);
}

bool FingerInitInstance(HINSTANCE instance, HINSTANCE previous, int show) {
  if (!QueryStartWinsock(LoadText(IDS_CAPTION).c_str())) return false;
  g_window =
      TextWinCreate(TEXTWIN_CREATE{"Finger", instance, previous, "AppIcon1", "finger", -1, -1, show, FingerMainProc});
  if (!g_window) {
    MessageBoxA(nullptr, "The window of whoprobe could not be made.", "whoprobe", MB_OK | MB_ICONERROR);
    return false;
  }
  g_menu = GetMenu(g_window);
  SetMenuItemBitmaps(g_menu, IDM_LONG_OUTPUT, MF_BYCOMMAND, nullptr, nullptr);
  CheckMenuItem(g_menu, IDM_LONG_OUTPUT, MF_UNCHECKED);
  g_host[0] = '\0';
  PostMessageA(g_window, WM_COMMAND, IDM_FINGER_HOST, 0);
  return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  DebugLogOpen(instance, commandLine);
  g_instance = instance;
  SetMessageQueue(120);
  Ctl3dLoad(instance);
  if (!FingerInitInstance(instance, previous, show)) return 1;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    if (g_QueryState == 1) {
      FingerQuery();
      if (g_QueryState == 2) FingerReadReply();
    } else if (g_QueryState == 2) {
      FingerReadReply();
    }
  }
  WSACleanup();
  return 0;
}
