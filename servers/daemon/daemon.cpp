/* Daemon start-up and end shared by every daemon of portwarden: the hand-over
 * word, the duplicate of the handed socket, the hidden window, the loop, and
 * the WM_DAEMON_EXITED report that lets the super-server count the session. */
#include "qxdaemon.h"

#include <qxcommon.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

SOCKET g_DaemonSocket = INVALID_SOCKET;
HWND g_PortwardenWindow = (HWND)(LONG_PTR)-1;
int g_DaemonSlot = -1;
int g_DaemonArgCount = 0;
char *g_DaemonArgs[DAEMON_MAX_ARGS];
HWND g_DaemonWindow = nullptr;
HINSTANCE g_DaemonInstance = nullptr;

namespace {

/* The daemons' string table. */
const char kNotByHand[] = "This program is not intended to be run manually; it is to be started by PORTWARDEN.";
const char kInvocationCaption[] = "QX Daemon Invocation Error";

std::string g_ArgumentCopy; /* owns the words g_DaemonArgs points into */

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

int ParseHandoverWord(const char *commandLine, HANDOVER_WORD *word) {
  long fields[4] = {-1, -1, -1, -1};
  const char *p = commandLine ? commandLine : "";
  while (IsBlank(*p)) p++;
  /* Only the first word counts: a dot in a parameter never completes it. */
  for (int i = 0; i < 4; i++) {
    const char *start = p;
    long value = 0;
    bool negative = false;
    if (*p == '-') {
      negative = true;
      p++;
    }
    int digits = 0;
    while (*p >= '0' && *p <= '9' && digits < 10) {
      value = value * 10 + (*p - '0');
      p++;
      digits++;
    }
    if (digits == 0 || *p != '.' || p == start) {
      word->socket = -1;
      word->window = -1;
      word->serverPid = -1;
      word->slot = -1;
      return i + 1;
    }
    fields[i] = negative ? -value : value;
    p++; /* the dot */
  }
  word->socket = fields[0];
  word->serverPid = fields[1];
  word->window = fields[2];
  word->slot = fields[3];
  return 0;
}

void DaemonSplitArguments(const char *commandLine) {
  g_ArgumentCopy.assign(commandLine ? commandLine : "");
  for (char &c : g_ArgumentCopy)
    if (c == '\t') c = ' ';
  g_DaemonArgCount = 0;
  char *p = g_ArgumentCopy.data();
  while (*p == ' ') p++;
  while (*p && *p != ' ') /* the hand-over word */
    p++;
  while (*p) {
    while (*p == ' ') p++;
    if (!*p) break;
    if (g_DaemonArgCount < DAEMON_MAX_ARGS) g_DaemonArgs[g_DaemonArgCount++] = p;
    while (*p && *p != ' ') p++;
    if (*p) *p++ = '\0';
  }
}

int DaemonTakeSocket(const char *commandLine, SOCKET *socketOut, HWND *serverWindow, int *slot) {
  DaemonSplitArguments(commandLine);
  HANDOVER_WORD word;
  int rc = ParseHandoverWord(commandLine, &word);
  if (rc != 0) {
    *socketOut = INVALID_SOCKET;
    *serverWindow = (HWND)(LONG_PTR)-1;
    return rc;
  }
  *slot = (int)word.slot;
  *serverWindow = (HWND)(LONG_PTR)word.window;

  WSADATA data;
  WSAStartup(MAKEWORD(1, 1), &data);

  HANDLE own = INVALID_HANDLE_VALUE;
  HANDLE server = OpenProcess(PROCESS_DUP_HANDLE, FALSE, (DWORD)word.serverPid);
  BOOL duplicated = FALSE;
  if (server) {
    duplicated = DuplicateHandle(server, (HANDLE)(LONG_PTR)word.socket, GetCurrentProcess(), &own, 0, FALSE,
                                 DUPLICATE_SAME_ACCESS);
    CloseHandle(server);
  }
  *socketOut = duplicated ? (SOCKET)(LONG_PTR)own : INVALID_SOCKET;

  /* Reported even when the duplicate failed, so the super-server closes its copy at once. */
  PostMessageA(*serverWindow, WM_DAEMON_SOCKET_TAKEN, (WPARAM)word.socket, 0);
  return 0;
}

HWND DaemonCreateWindow(const DAEMON_INFO *info, HINSTANCE instance, HINSTANCE previous) {
  if (!previous) {
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = info->windowProc;
    wc.hInstance = instance;
    wc.lpszClassName = info->className;
    RegisterClassA(&wc);
  }
  return CreateWindowA(info->className, "", WS_OVERLAPPEDWINDOW | WS_HSCROLL | WS_VSCROLL, -1, -1, -1, -1, nullptr,
                       nullptr, instance, nullptr);
}

int DaemonWinMain(const DAEMON_INFO *info, HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  g_DaemonInstance = instance;
  int invocation = DaemonTakeSocket(commandLine, &g_DaemonSocket, &g_PortwardenWindow, &g_DaemonSlot);
  if (invocation != 0) {
    MessageBoxA(nullptr, kNotByHand, kInvocationCaption, MB_ICONERROR);
    ExitProcess((UINT)invocation); /* 1-4: the field of the hand-over word that was missing */
  }
  DebugLogOpen(instance, commandLine);

  /* A daemon whose duplicate failed has nothing to serve: it ends and still reports. */
  if (g_DaemonSocket != INVALID_SOCKET) {
    TraceDaemonStartup(g_DaemonSocket);
    g_DaemonWindow = DaemonCreateWindow(info, instance, previous);
    if (g_DaemonWindow) {
      PostMessageA(g_DaemonWindow, WM_DAEMON_START, info->startWithSocket ? (WPARAM)g_DaemonSocket : 0, 0);
      if (info->datagram) PostMessageA(g_DaemonWindow, WM_DAEMON_READ, 0, 0);
      MSG msg;
      while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (info->filterMessage && info->filterMessage(&msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
    if (g_DaemonSocket != INVALID_SOCKET) WsCloseSocket(g_DaemonSocket);
  }
  WSACleanup();
  if (g_PortwardenWindow != (HWND)(LONG_PTR)-1)
    PostMessageA(g_PortwardenWindow, WM_DAEMON_EXITED, (WPARAM)g_DaemonSlot, 0);
  ExitProcess(0);
  return 0;
}

void DaemonFinishReply(SOCKET s) {
  WsShutdown(s, 1);
  char sink[4096];
  int drained = 0;
  int got;
  while (drained < 65536 && (got = SockRecvPumpingFor(s, sink, sizeof sink, 1000)) > 0) drained += got;
}

CONNECTION_SERVE g_ConnectionServe = nullptr;

LRESULT CALLBACK ConnectionWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DAEMON_START:
      if (g_ConnectionServe) g_ConnectionServe(g_DaemonSocket);
      DaemonFinishReply(g_DaemonSocket);
      WsCloseSocket(g_DaemonSocket);
      g_DaemonSocket = INVALID_SOCKET;
      PostMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == DAEMON_CMD_QUIT) PostMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_DAEMON_READ: return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

BYTE FindLoggedOnAccount(char *buffer, int size) {
  /* Key names and account names live in separate buffers, so what is
   * returned is always an account the lookup resolved. */
  char keyName[1024];
  char account[1024];
  char domain[255];
  BYTE found = 0;
  for (DWORD index = 0; RegEnumKeyA(HKEY_USERS, index, keyName, sizeof keyName) == ERROR_SUCCESS; index++) {
    if (strncmp(keyName, "S-", 2) != 0) continue;
    int f[10] = {};
    int parsed = sscanf(keyName, "S-%d-%d-%d-%d-%d-%d-%d-%d-%d-%d", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6],
                        &f[7], &f[8], &f[9]);
    if (parsed < 2) continue;
    SID_IDENTIFIER_AUTHORITY authority = {{0, 0, 0, 0, 0, (BYTE)f[1]}};
    BYTE count = (BYTE)(parsed - 2);
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&authority, count, (DWORD)f[2], (DWORD)f[3], (DWORD)f[4], (DWORD)f[5], (DWORD)f[6],
                                  (DWORD)f[7], (DWORD)f[8], (DWORD)f[9], &sid))
      continue;
    DWORD accountSize = sizeof account;
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use;
    char candidate[1024];
    if (LookupAccountSidA(nullptr, sid, candidate, &accountSize, domain, &domainSize, &use)) {
      memcpy(account, candidate, sizeof account);
      account[sizeof account - 1] = '\0';
      found = 1;
    }
    FreeSid(sid);
  }
  if (found && size > 0) {
    strncpy(buffer, account, (size_t)size);
    buffer[size - 1] = '\0';
  }
  return found;
}
