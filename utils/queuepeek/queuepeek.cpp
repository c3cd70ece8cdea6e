// queuepeek: asks a remote LPD server for the state of one print queue (the
// short queue-state request) and shows the answer in the text output window.
// A state word, looked at after every window message, drives the query:
// 1 a queue was chosen in the Host dialog, 2 the request is to be sent,
// 3 the reply is to be read. Connecting and reading keep the window served.
#include <windows.h>
#include <winsock.h>

#include <qxcommon.h>
#include <queryclient.h>
#include <textwin.h>

#include <cstdio>
#include <string>

#include "resources.h"

int g_QueryState = 0; /* 0 idle, 1 chosen, 2 request to send, 3 reply to read */

namespace {

constexpr unsigned short kLpdPort = 515;
constexpr unsigned short kReservedPort = 1000;  // the local port LPD servers expect of a client
constexpr int kFieldSize = 64;                  // host, printer and user, up to 63 characters
constexpr int kPieceSize = 1024;                // reply bytes received at a time
constexpr const char *kSection = "lpq";
constexpr const char *kCaption = "lpq";

HINSTANCE g_instance = nullptr;
HWND g_window = nullptr;
HMENU g_menu = nullptr;
char g_host[kFieldSize] = "";
char g_printer[kFieldSize] = "";
char g_user[kFieldSize] = "";
SOCKET g_socket = INVALID_SOCKET;

void ShowError(const std::string &text, const std::string &detail) { QueryShowError(kCaption, text, detail); }

void CloseQuerySocket() {
  if (g_socket == INVALID_SOCKET) return;
  WsCloseSocket(g_socket);
  g_socket = INVALID_SOCKET;
}

void SetQueryMenu(bool enabled) { EnableMenuItem(g_menu, IDM_LPQ_HOST, enabled ? MF_ENABLED : MF_GRAYED); }

// A socket bound to the reserved local port when this process may have it
// (servers that check the client's port want it); otherwise an unbound one,
// whose port the system picks: a server that insists says so in its reply.
SOCKET ReservedPortSocket() {
  SOCKET s = WsSocket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return s;
  const BOOL reuse = TRUE;  // a query right after another may meet the port in TIME_WAIT
  WsSetSockOpt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&reuse), sizeof reuse);
  struct sockaddr_in local {};
  local.sin_family = AF_INET;
  local.sin_port = htons(kReservedPort);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (WsBind(s, reinterpret_cast<const struct sockaddr *>(&local), sizeof local) == 0) return s;
  WsCloseSocket(s);
  return WsSocket(AF_INET, SOCK_STREAM, 0);
}

// Connects from the reserved port, or from any port when that one is taken
// for this server (a quick second query) or may not be had.
int ConnectToServer(struct in_addr address) {
  int result = QueryConnect(g_socket, address, kLpdPort, QUERY_CONNECT_MS);
  if (result != WSAEADDRINUSE && result != WSAEADDRNOTAVAIL) return result;
  CloseQuerySocket();
  g_socket = WsSocket(AF_INET, SOCK_STREAM, 0);
  if (g_socket == INVALID_SOCKET) return WSAGetLastError();
  return QueryConnect(g_socket, address, kLpdPort, QUERY_CONNECT_MS);
}

void FailedToConnect(int error) {
  char text[160];
  std::snprintf(text, sizeof text, "Host %s does not respond to LPQ request", g_host);
  TextWinPrint(text);
  TextWinPrint("\r\n");
  char detail[200];
  std::snprintf(detail, sizeof detail,
                "No print server answered on port 515: %s (error %d). Check the host, or try later.",
                QueryErrorWords(error), error);
  ShowError(text, detail);
}

void LpqQuery() {
  g_QueryState = 0;
  if (PumpMessages()) return;
  struct in_addr address {};
  if (!QueryResolveHost(g_host, &address)) {
    ShowError("Unknown Host", "No address was found for \"" + std::string(g_host) +
                                  "\". Check its spelling, or give the host's address.");
    SetQueryMenu(true);
    return;
  }
  g_socket = ReservedPortSocket();
  if (g_socket == INVALID_SOCKET) {
    char detail[160];
    std::snprintf(detail, sizeof detail,
                  "No network connection could be made (error %d). Close other programs and try again.",
                  WSAGetLastError());
    ShowError("Error creating a Socket", detail);
    SetQueryMenu(true);
    return;
  }
  char line[160];
  std::snprintf(line, sizeof line, "Connecting to %s\r\n", g_host);
  TextWinPrint(line);
  UpdateWindow(g_window);
  const int connected = ConnectToServer(address);
  if (connected != 0) {
    CloseQuerySocket();
    if (connected == SOCK_PUMP_QUIT) return;
    FailedToConnect(connected);
    SetQueryMenu(true);
    return;
  }
  UpdateWindow(g_window);
  g_QueryState = 2;
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

// The short queue-state request: 0x03, the queue, a blank, the user, LF.
void LpqSendRequest() {
  char request[3 * kFieldSize + 4];
  const int length = std::snprintf(request, sizeof request, "\x03%s %s\n", g_printer, g_user);
  g_QueryState = 3;
  if (SockSendAll(g_socket, request, length) != length)
    EndQuery(WSAGetLastError() ? WSAGetLastError() : WSAECONNABORTED);
}

void LpqReadReply() {
  if (g_socket == INVALID_SOCKET) return;
  EndQuery(QueryReadReply(g_socket, QUERY_REPLY_LPD, kPieceSize));
}

// ---- Host dialog ----

HBRUSH g_dialogBrush = nullptr;

void ReadFields(HWND dialog) {
  GetDlgItemTextA(dialog, IDC_HOST, g_host, kFieldSize);
  GetDlgItemTextA(dialog, IDC_PRINTER, g_printer, kFieldSize);
  GetDlgItemTextA(dialog, IDC_USER, g_user, kFieldSize);
}

INT_PTR CALLBACK HostDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      if (!g_Ctl3dActive) g_dialogBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
      RecentListFill(GetDlgItem(dialog, IDC_HOST), TextWinIniPath(), kSection, "FILE_%d");
      RecentListFill(GetDlgItem(dialog, IDC_PRINTER), TextWinIniPath(), kSection, "PRT_%d");
      SetDlgItemTextA(dialog, IDC_USER, g_user);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        ReadFields(dialog);
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

// After the dialog, OK or Cancel: the host and the printer (an empty printer
// too) go to the front of their lists.
void LpqRememberQuery() {
  if (!g_host[0]) return;
  RecentListAdd(TextWinIniPath(), kSection, "FILE_%d", g_host);
  RecentListAdd(TextWinIniPath(), kSection, "PRT_%d", g_printer);
}

// ---- Menu commands ----

void OnLpqHost(HWND window) {
  DialogBoxA(g_instance, "Host", window, HostDlgProc);
  LpqRememberQuery();
}
void OnExit(HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); }
void OnHelpIndex(HWND window) { WinHelpA(window, "LPQ.HLP", HELP_INDEX, 0); }
void OnHelpOptions(HWND window) { WinHelpA(window, "LPQ.HLP", HELP_KEY, reinterpret_cast<ULONG_PTR>("OPTIONS")); }
void OnAbout(HWND window) { DialogBoxA(g_instance, "About", window, AboutDlgProc); }

const QUERY_COMMAND kCommands[] = {
    {IDM_LPQ_HOST, OnLpqHost},     {IDM_EXIT, OnExit},
    {IDM_HELP_INDEX, OnHelpIndex}, {IDM_HELP_OPTIONS, OnHelpOptions},
    {IDM_HELP_USING, OnHelpIndex}, {IDM_ABOUT, OnAbout},
};

void LpqCleanup() {
  Ctl3dUnload(g_instance);
  WSACancelBlockingCall();
  CloseQuerySocket();
}

const QUERY_CLIENT kClient = {kCommands, static_cast<int>(sizeof kCommands / sizeof kCommands[0]), LpqCleanup};

LRESULT CALLBACK LpqMainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TextWinProc(window, message, wParam, lParam);
  return QueryClientWindowProc(kClient, window, message, wParam, lParam);
}

bool LpqInitInstance(HINSTANCE instance, HINSTANCE previous, int show) {
  if (!QueryStartWinsock(kCaption)) return false;
  g_window = TextWinCreate(TEXTWIN_CREATE{"lpq", instance, previous, "AppIcon1", "lpq", -1, -1, show, LpqMainProc});
  if (!g_window) {
    MessageBoxA(nullptr, "The window of queuepeek could not be made.", kCaption, MB_OK | MB_ICONERROR);
    return false;
  }
  g_menu = GetMenu(g_window);
  g_host[0] = g_printer[0] = g_user[0] = '\0';
  PostMessageA(g_window, WM_COMMAND, IDM_LPQ_HOST, 0);
  return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  DebugLogOpen(instance, commandLine);
  g_instance = instance;
  Ctl3dLoad(instance);
  if (!LpqInitInstance(instance, previous, show)) return 1;
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    switch (g_QueryState) {
      case 1:
        LpqQuery();
        if (g_QueryState != 2) break;
        [[fallthrough]];
      case 2:
        LpqSendRequest();
        LpqReadReply();
        break;
      case 3: LpqReadReply(); break;
      default: break;
    }
  }
  WSACleanup();
  return 0;
}
