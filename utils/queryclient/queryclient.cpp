// The pieces the one-window query clients share: recent-value lists, host
// lookup, connecting and reading while the window keeps being served, and the
// reply bytes made printable for the text window.
#include "queryclient.h"

#include <qxcommon.h>
#include <textwin.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kRecentSlots = 9;       // slots 0..8 are written
constexpr int kRecentShown = 10;      // the dialogs read up to ten
constexpr int kRecentValueLen = 256;  // a slot's value; the listers' hosts reach 254 characters
constexpr long kSliceMicros = 50000;  // between two looks at the message queue

std::string SlotKey(LPCSTR pattern, int slot) {
  char key[32];
  std::snprintf(key, sizeof key, pattern, slot);
  return key;
}

// One pending message: 0 none, 1 dispatched, -1 WM_QUIT (posted again).
int DispatchPending() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return 0;
  if (msg.message == WM_QUIT) {
    PostQuitMessage(static_cast<int>(msg.wParam));
    return -1;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return 1;
}

bool WritableWithin(SOCKET s, long micros) {
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  struct timeval timeout {
    0, micros
  };
  return select(0, nullptr, &writable, &failed, &timeout) != 0;
}

// What each reply byte becomes; bytes not listed stay as they are.
struct ByteRule {
  unsigned char byte;
  const char *lpd;
  const char *finger;
};
constexpr ByteRule kByteRules[] = {
    {'\n', "\r\n", "\n"}, {0x88, "\b", "\b"}, {0x89, "\t", "\t"},
    {0x8A, "\n", "\n"},   {0x8C, "\f", "\f"}, {0x8D, "\r\n", "\n"},
};

}  // namespace

void RecentListAdd(LPCSTR iniFile, LPCSTR section, LPCSTR keyPattern, LPCSTR value) {
  std::string carry = value ? value : "";
  for (int slot = 0; slot < kRecentSlots; ++slot) {
    const std::string key = SlotKey(keyPattern, slot);
    char old[kRecentValueLen] = "";
    GetPrivateProfileStringA(section, key.c_str(), "", old, sizeof old, iniFile);
    WritePrivateProfileStringA(section, key.c_str(), carry.c_str(), iniFile);
    if (!old[0] || lstrcmpiA(old, value) == 0) return;
    carry = old;
  }
}

int RecentListFill(HWND combo, LPCSTR iniFile, LPCSTR section, LPCSTR keyPattern) {
  int added = 0;
  for (int slot = 0; slot < kRecentShown; ++slot) {
    char text[kRecentValueLen] = "";
    GetPrivateProfileStringA(section, SlotKey(keyPattern, slot).c_str(), "", text, sizeof text, iniFile);
    if (!text[0]) break;
    SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    ++added;
  }
  SendMessageA(combo, CB_SETCURSEL, 0, 0);
  return added;
}

BOOL QueryResolveHost(LPCSTR host, struct in_addr *address) {
  if (!host || !host[0]) return FALSE;
  const unsigned long dotted = inet_addr(host);
  if (dotted != INADDR_NONE) {
    address->s_addr = dotted;
    return TRUE;
  }
  const struct hostent *entry = gethostbyname(host);
  if (!entry || entry->h_addrtype != AF_INET || entry->h_length != 4 || !entry->h_addr_list || !entry->h_addr_list[0])
    return FALSE;
  std::memcpy(&address->s_addr, entry->h_addr_list[0], 4);
  return TRUE;
}

int QueryConnect(SOCKET s, struct in_addr address, unsigned short port, DWORD timeoutMs) {
  u_long nonBlocking = 1;
  if (WsIoctlSocket(s, FIONBIO, &nonBlocking) == SOCKET_ERROR) return WSAGetLastError();
  struct sockaddr_in to {};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr = address;
  if (WsConnect(s, reinterpret_cast<const struct sockaddr *>(&to), sizeof to) == 0) return 0;
  const int started = WSAGetLastError();
  if (started != WSAEWOULDBLOCK && started != WSAEINPROGRESS) return started;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const int pumped = DispatchPending();
    if (pumped < 0) return SOCK_PUMP_QUIT;
    if (pumped > 0) continue;
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return WSAETIMEDOUT;
    if (!WritableWithin(s, left < kSliceMicros ? static_cast<long>(left) : kSliceMicros)) continue;
    int error = 0, size = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size) == SOCKET_ERROR)
      return WSAGetLastError();
    return error;
  }
}

std::string QueryRewriteReply(QUERY_REPLY_STYLE style, const char *data, int count) {
  std::string out;
  out.reserve(static_cast<size_t>(count) * 2);
  for (int i = 0; i < count; ++i) {
    const auto byte = static_cast<unsigned char>(data[i]);
    if (byte == 0) continue;
    const ByteRule *rule = nullptr;
    for (const ByteRule &r : kByteRules)
      if (r.byte == byte) rule = &r;
    if (rule)
      out += style == QUERY_REPLY_LPD ? rule->lpd : rule->finger;
    else
      out += static_cast<char>(byte);
  }
  return out;
}

int QueryReadReply(SOCKET s, QUERY_REPLY_STYLE style, int pieceSize) {
  char piece[1024];
  if (pieceSize <= 0 || pieceSize > static_cast<int>(sizeof piece)) pieceSize = static_cast<int>(sizeof piece);
  for (;;) {
    const int got = SockRecvPumping(s, piece, pieceSize);
    if (got == SOCK_PUMP_QUIT) return SOCK_PUMP_QUIT;
    if (got == 0) return 0;
    if (got < 0) return WSAGetLastError();
    TextWinPrint(QueryRewriteReply(style, piece, got).c_str());
  }
}

const char *QueryErrorWords(int error) {
  static const struct {
    int code;
    const char *words;
  } kWords[] = {
      {WSAECONNREFUSED, "the host refused the connection: no server listens on that port"},
      {WSAETIMEDOUT, "the host did not answer in time"},
      {WSAECONNRESET, "the server reset the connection"},
      {WSAECONNABORTED, "the connection was aborted"},
      {WSAENETUNREACH, "the network of the host cannot be reached"},
      {WSAEHOSTUNREACH, "the host cannot be reached"},
      {WSAENETDOWN, "the network is down"},
  };
  for (const auto &w : kWords)
    if (w.code == error) return w.words;
  return "the connection failed";
}

void QueryPrintError(int error) {
  int row = 0, column = 0;
  TextWinGetCursor(&row, &column);
  if (column != 0) TextWinPrint("\r\n");
  // Two short lines: the window shows 80 columns and drops the rest.
  char text[200];
  std::snprintf(text, sizeof text, "The reply is incomplete: %s (error %d).\r\nQuery again to see all of it.",
                QueryErrorWords(error), error);
  TextWinPrint(text);
}

HBRUSH QueryDialogColor(UINT message, WPARAM wParam, LPARAM lParam, HBRUSH brush) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC: break;
    default: return nullptr;
  }
  if (g_Ctl3dActive && Ctl3dCtlColorEx) return Ctl3dCtlColorEx(message, wParam, lParam);
  if (!brush) return nullptr;
  HDC dc = reinterpret_cast<HDC>(wParam);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return brush;
}

LRESULT QueryClientWindowProc(const QUERY_CLIENT &client, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      if (client.cleanup) client.cleanup();
      PostQuitMessage(0);
      return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_SYSCOLORCHANGE:
      if (g_Ctl3dActive && Ctl3dColorChange) {
        Ctl3dColorChange();
        return 0;
      }
      break;
    case WM_COMMAND:
      for (int i = 0; i < client.commandCount; ++i)
        if (client.commands[i].id == LOWORD(wParam)) client.commands[i].handler(window);
      return 0;
    default: break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

BOOL QueryStartWinsock(LPCSTR caption) {
  WSADATA wsa;
  if (WSAStartup(0x0101, &wsa) == 0) return TRUE;
  MessageBoxA(nullptr, "Winsock could not be started, so no query can be made. Check the network set-up.", caption,
              MB_OK | MB_ICONERROR);
  return FALSE;
}

void QueryShowError(LPCSTR caption, const std::string &text, const std::string &detail) {
  const std::string shown = detail.empty() ? text : text + "\n\n" + detail;
  MessageBoxA(GetActiveWindow(), shown.c_str(), caption, MB_OK | MB_ICONERROR);
}
