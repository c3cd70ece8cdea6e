// One session: resolve, connect without freezing the window, pick the set-up
// file through the host map, log in (rlogin greeting or script), then the
// loop that feeds received bytes to the emulator and typed keys to the host.
// Every wait is a wait for a socket event or a window message, with a
// time-out where one is needed: the window repaints and the CPU rests.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "login.h"
#include "vtconsole.h"

SESSION g_Session;
static bool g_SessionRunning;

namespace {

constexpr DWORD kRefreshMs = 40;  // repaint at least 25 times a second during a flood

// ---------------------------------------------------------------- waiting

// Dispatches every pending message: false when WM_QUIT was seen (posted again).
bool DispatchPending() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage((int)msg.wParam);
      return false;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return true;
}

// Waits until the event flag is set (a socket event of events, a key, a
// command) or timeoutMs passed: 1 event, 0 time-out, -1 WM_QUIT. The thread
// sleeps in MsgWaitForMultipleObjects, which any message ends (input,
// injected input among it, paints, timers, the socket's WM_TERMSOCKET);
// what woke it is dispatched and the flag looked at again.
int WaitEvent(long events, DWORD timeoutMs) {
  SESSION &s = g_Session;
  if (s.sock != INVALID_SOCKET) WSAAsyncSelect(s.sock, g_MainWindow, WM_TERMSOCKET, events);
  const DWORD start = GetTickCount();
  for (;;) {
    if (!DispatchPending()) return -1;
    if (s.eventFlag) {
      s.eventFlag = false;
      return 1;
    }
    DWORD wait = INFINITE;
    if (timeoutMs != INFINITE) {
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= timeoutMs) return 0;
      wait = timeoutMs - elapsed;
    }
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT) == WAIT_FAILED) return 0;
  }
}

void ErrorBox(const char *caption, const char *format, const char *arg = "") {
  char text[512];
  std::snprintf(text, sizeof text, format, arg);
  MessageBoxA(g_MainWindow, text, caption, MB_OK | MB_ICONSTOP);
}

// ---------------------------------------------------------------- screen texts

void ScreenText(int row, int col, const char *text) {
  WriteText(*g_Term, row, col, text, 0);
  if (g_Term->display) g_Term->display->PaintCells(row, col, (int)std::strlen(text));
}

void CursorTo(int row, int col) {
  g_Term->st.cursorRow = (BYTE)row;
  g_Term->st.cursorCol = (BYTE)col;
  SyncCursor(*g_Term);
}

// A line feed as the emulation performs it, then column 0.
void SessionEnd() {
  g_Term->st.currentByte = '\n';
  VtParseByte(*g_Term);
  g_Term->st.currentByte = '\r';
  VtParseByte(*g_Term);
  TermRefresh();
}

// ---------------------------------------------------------------- receiving

// Feeds one data byte to the emulator, or to the 3270 record in 3270 mode.
void ParseByte(unsigned char b) {
  if (g_Session.tn.mode & MODE_3270) {
    Tn3270HostByte(b);
    return;
  }
  g_Term->st.currentByte = b;
  VtParseByte(*g_Term);
}

// Fills the receive buffer: 1 bytes are there, 0 none for now, -1 closed or
// failed (g_SockError says which: 0 closed).
int Receive() {
  SESSION &s = g_Session;
  if (s.recvCount > 0) return 1;
  if (s.sock == INVALID_SOCKET) {
    g_SockError = 0;
    return -1;
  }
  s.recvIndex = 0;
  const int got = WsRecv(s.sock, (char *)s.recv, sizeof s.recv, 0);
  if (got > 0) {
    s.recvCount = got;
    return 1;
  }
  g_SockError = got == 0 ? 0 : WSAGetLastError();
  return g_SockError == WSAEWOULDBLOCK ? 0 : -1;
}

// The next data byte through the telnet layer; -1 with g_SockError 10035 when
// nothing is there for now, else the close (0) or error.
int TelnetGetByte() {
  SESSION &s = g_Session;
  for (;;) {
    const int got = Receive();
    if (got <= 0) {
      if (got == 0) g_SockError = WSAEWOULDBLOCK;
      return -1;
    }
    const unsigned char b = s.recv[s.recvIndex++];
    --s.recvCount;
    const int data = TelnetReceive(s.tn, b, s.out, Tn3270Start);
    if (!s.out.empty() && s.recvCount == 0) SessionFlush();  // the answers to one block go together
    if (data == TELNET_END_OF_RECORD) Tn3270HostData(1);
    // The host withdrew binary or end-of-record: back to VT mode.
    if (!(s.tn.mode & MODE_3270) && Tn3270Active()) Tn3270Stop();
    if (data >= 0) return data;
  }
}

// Shows locally echoed bytes, once the received bytes before them are shown.
void DrainEcho() {
  SESSION &s = g_Session;
  if (s.echo.empty() || s.recvCount > 0) return;
  std::string echo;
  echo.swap(s.echo);
  for (unsigned char b : echo) ParseByte(b);
}

// ---------------------------------------------------------------- connecting

bool HostResolve(const char *name, in_addr &address) {
  address.s_addr = inet_addr(name);
  if (address.s_addr != INADDR_NONE || std::strcmp(name, "255.255.255.255") == 0) return true;
  hostent *h = gethostbyname(name);
  if (!h || h->h_addrtype != AF_INET || !h->h_addr_list[0]) return false;
  std::memcpy(&address, h->h_addr_list[0], sizeof address);
  return true;
}

// rlogin servers accept only clients on a reserved port: bind one, starting
// at a port that changes with the time and trying downwards.
bool BindReserved(SOCKET sock) {
  const int first = 600 + (int)(time(nullptr) % 424);
  for (int i = 0; i < 512; ++i) {
    int port = first - i;
    if (port < 512) port += 512;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons((u_short)port);
    if (WsBind(sock, (sockaddr *)&local, sizeof local) == 0) return true;
    const int error = WSAGetLastError();
    if (error == WSAEACCES) {
      ErrorBox("Connect",
               "rlogin needs a local port below 1024, and this program may not bind one.\n"
               "Run vtconsole as root or give it the CAP_NET_BIND_SERVICE capability.");
      return false;
    }
    if (error != WSAEADDRINUSE) break;
  }
  ErrorBox("Connect", "No free local port below 1024 for rlogin; try again in a minute.");
  return false;
}

// Connects without blocking the window: 0 connected, else the Winsock error
// (-1 when the window is closing or the user disconnected).
int ConnectPumped(SOCKET sock, const in_addr &address) {
  u_long on = 1;
  WsIoctlSocket(sock, FIONBIO, &on);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons((u_short)g_Start.port);
  peer.sin_addr = address;
  if (WsConnect(sock, (sockaddr *)&peer, sizeof peer) == 0) return 0;
  int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK && error != WSAEINPROGRESS) return error;
  g_Session.lastSelect = 0;
  for (;;) {
    const int woke = WaitEvent(FD_CONNECT, INFINITE);
    if (woke < 0 || g_Session.sock == INVALID_SOCKET) return -1;
    if (WSAGETSELECTEVENT(g_Session.lastSelect) & FD_CONNECT) return WSAGETSELECTERROR(g_Session.lastSelect);
  }
}

std::string ReadWholeFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Finds a file in the current directory or along the search path.
std::string FindFile(const char *name) {
  char path[MAX_PATH];
  char *filePart = nullptr;
  if (SearchPathA(nullptr, name, nullptr, sizeof path, path, &filePart) == 0) return "";
  return path;
}

// The set-up file of the host from "hostmap", else the default; loaded when
// it exists (the built-in set-up serves otherwise).
void HostMapLookupAndLoad(const char *host) {
  std::string setupName = g_Start.setupName;
  const std::string mapPath = FindFile("hostmap");
  if (!mapPath.empty()) {
    std::string found;
    if (HostMapFind(ReadWholeFile(mapPath), host, found)) setupName = found;
  }
  std::snprintf(g_Term->st.setupFileName, sizeof g_Term->st.setupFileName, "%s", setupName.c_str());
  if (!g_Term->files || g_Term->files->FindSetupFile(setupName.c_str()).empty()) return;
  SetupFileLoad(*g_Term);
  SetupApplyColumns(*g_Term);
}

// Closes the session's socket and leaves the cursor on a fresh line.
void CloseSession() {
  SESSION &s = g_Session;
  if (s.sock != INVALID_SOCKET) WsCloseSocket(s.sock);
  s.sock = INVALID_SOCKET;
  s.recvCount = 0;
  s.out.clear();
  s.tn.mode &= ~MODE_3270;
  Tn3270Stop();
  SessionEnd();
}

// Waits for text with the script's time-out, showing what arrives. 1 seen or
// timed out, 0 the connection ended, -1 quitting.
int ScriptWait(const SCRIPT_STEP &step) {
  ScriptMatcher matcher(step.text);
  const DWORD start = GetTickCount();
  const DWORD limit = (DWORD)(step.timeoutSeconds + 1) * 1000;
  while (!matcher.Matched()) {
    const int b = TelnetGetByte();
    if (b >= 0) {
      int shown = b;
      if (shown > 0x80 && g_Term->st.s.terminalId < 4) shown -= 0x80;
      matcher.Feed((unsigned char)shown);
      ParseByte((unsigned char)b);
      continue;
    }
    if (g_SockError != WSAEWOULDBLOCK) return 0;
    TermRefresh();
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= limit) break;
    if (WaitEvent(FD_READ | FD_CLOSE, limit - elapsed) < 0) return -1;
  }
  return 1;
}

// Runs the log-in script: 1 done, 0 the connection ended, -1 quitting.
int RunScript(const std::string &script) {
  for (const SCRIPT_STEP &step : ScriptSteps(script)) {
    if (step.kind == SCRIPT_STEP::TYPE) {
      SessionSendText(step.text.data(), step.text.size());
    } else if (step.kind == SCRIPT_STEP::WAIT) {
      const int r = ScriptWait(step);
      if (r <= 0) return r;
    }
  }
  return 1;
}

// Connects; 1 connected, 0 failed (the window stays), -1 quitting.
int Connect(const char *host) {
  SESSION &s = g_Session;
  ShowStatus(*g_Term, "---");
  in_addr address{};
  if (!HostResolve(host, address)) {
    ErrorBox("Connect", "Unknown host %s, try again.", host);
    return 0;
  }
  char text[160];
  std::snprintf(text, sizeof text, "Connecting to %.100s .... ", host);
  s.host = host;
  ScreenText(1, 0, text);
  CursorTo(1, (int)std::strlen(text) + 1);
  TermRefresh();

  SOCKET sock = WsSocket(AF_INET, SOCK_STREAM, 0);
  if (sock == INVALID_SOCKET) {
    ErrorBox("QX220", "Too many sockets open");
    return -1;
  }
  s.sock = sock;
  s.recvCount = 0;
  if (g_Start.rlogin && !BindReserved(sock)) {
    CloseSession();
    return 0;
  }
  const int error = ConnectPumped(sock, address);
  if (error != 0) {
    if (error == -1 && g_WindowGone) return -1;
    g_SockError = error;
    if (error == WSAECONNREFUSED)
      ErrorBox("Connect", "Connection refused by remote host.");
    else if (error != -1)
      ErrorBox("Connect", "Unable to connect to remote host.");
    CursorTo(2, 0);
    CloseSession();
    return 0;
  }
  ScreenText(1, (int)std::strlen(text) + 1, "connected.");
  BOOL oobInline = TRUE;
  WsSetSockOpt(sock, SOL_SOCKET, SO_OOBINLINE, (const char *)&oobInline, sizeof oobInline);

  HostMapLookupAndLoad(host);
  ShowStatus(*g_Term, host);
  CursorTo(3, 0);
  TermRefresh();
  return 1;
}

// Logs in: 1 go on, 0 the connection ended, -1 quitting.
int LogIn() {
  SESSION &s = g_Session;
  if (g_Start.rlogin) {
    char user[TERM_USER_MAX + 1] = "";
    GetEnvironmentVariableA("USERNAME", user, sizeof user);
    const std::string greeting = RloginGreeting(g_Start.localUser, g_Start.remoteUser, s.tn.termTypes[0], user);
    SendAllPumping(s.sock, greeting.data(), (int)greeting.size());
    // The server answers the greeting with one zero byte.
    for (;;) {
      const int got = Receive();
      if (got < 0) return 0;
      if (got > 0) {
        if (s.recv[s.recvIndex] == 0) {
          ++s.recvIndex;
          --s.recvCount;
        }
        break;
      }
      if (WaitEvent(FD_READ | FD_CLOSE, 30000) <= 0) return g_WindowGone ? -1 : 0;
    }
    return 1;
  }
  std::string script;
  if (g_Start.scriptFile[0]) {
    const std::string path = FindFile(g_Start.scriptFile);
    if (!path.empty()) script = ScriptTranslate(ReadWholeFile(path));
  } else if (g_Start.remoteUser[0]) {
    script = ScriptForUser(g_Start.remoteUser);
  } else if (g_Term->st.s.autoAnswerback) {
    script.assign((const char *)g_Term->st.s.answerback, strnlen((const char *)g_Term->st.s.answerback, 50));
  }
  return script.empty() ? 1 : RunScript(script);
}

// Reads what is there into the emulator; false when the connection ended.
bool ReceiveBurst(DWORD &lastRefresh) {
  for (int n = 0; n < 65536; ++n) {
    const int b = TelnetGetByte();
    if (b < 0) {
      if (g_SockError != WSAEWOULDBLOCK) return false;
      break;
    }
    ParseByte((unsigned char)b);
    if ((n & 1023) == 1023 && GetTickCount() - lastRefresh >= kRefreshMs) {
      TermRefresh();
      if (!DispatchPending()) return true;
      lastRefresh = GetTickCount();
    }
  }
  return true;
}

// The loop of a connected session: 0 the connection ended, -1 quitting.
int SessionLoop() {
  SESSION &s = g_Session;
  DWORD lastRefresh = GetTickCount();
  for (;;) {
    if (g_WindowGone) return -1;
    BYTE key, modifier;
    while (TermKeyRingGet(key, modifier)) TermKeyDispatch(key, modifier);
    if (s.sock == INVALID_SOCKET) return 0;
    // Nothing is received while the screen is frozen or Set-Up is shown.
    const bool frozen = !g_Term->st.s.receiveOn || TermSelectionShown() || TermSetupActive();
    if (!frozen && !ReceiveBurst(lastRefresh)) return 0;
    DrainEcho();
    if (TermKeyRingCount() > 0 || (!frozen && s.recvCount > 0)) continue;
    // Out of data. During a flood the data stops for moments all the time:
    // draw at most every kRefreshMs then, but at once after a quiet spell,
    // so typing echoes without delay.
    const DWORD sinceRefresh = GetTickCount() - lastRefresh;
    if (sinceRefresh < kRefreshMs && !frozen) {
      const int woke = WaitEvent(FD_READ | FD_CLOSE, kRefreshMs - sinceRefresh);
      if (woke < 0) return -1;
      if (woke > 0) continue;
    }
    TermRefresh();
    lastRefresh = GetTickCount();
    // Nothing to do: sleep until the socket, a key or a command wakes us.
    // While the screen is frozen only a close is of interest.
    if (WaitEvent(frozen ? FD_CLOSE : FD_READ | FD_CLOSE, INFINITE) < 0) return -1;
  }
}

// The emulator's side of the session: its replies (device attributes,
// reports, answerback) go to the host through the telnet encoder.
class SessionHost : public TermHost {
 public:
  void SendBytes(const unsigned char *data, size_t length, bool raw) override {
    SESSION &s = g_Session;
    if (s.sock == INVALID_SOCKET) return;
    for (size_t i = 0; i < length; ++i) TelnetEncodeTyped(s.tn, data[i], s.out);
    SessionFlush();
  }
  void ShowMessage(const char *text) override {
    if (TermSetupActive())
      TermSetupMessage(text);
    else
      MessageBoxA(g_MainWindow, text, "Information", MB_OK | MB_ICONINFORMATION);
  }
  // The key map: modes switched by the host, user-defined keys.
  void ApplyKeypad(int mode) override { KeyMapApplyKeypad(g_KeyMap, mode); }
  void ApplyKeypadNumeric() override { KeyMapApplyKeypadNumeric(g_KeyMap); }
  void ApplyCursorKeys(int mode) override { KeyMapApplyCursorKeys(g_KeyMap, mode); }
  void ApplySetupKeys(int typewriter) override { KeyMapApplySetupKeys(g_KeyMap, typewriter ? 2 : 1); }
  void ReloadKeyMap(const char *name) override { TermReloadKeyMap(name); }
  void ClearUserKeys() override { KeyMapClearUserKeys(g_KeyMap); }
  void DefineUserKey(int key, const unsigned char *data, size_t length) override {
    KeyMapDefineUserKey(g_KeyMap, key, data, length);
  }
  int KeyboardLanguage() override { return KeyMapLanguage(g_KeyMap); }
  bool In3270Mode() override { return (g_Session.tn.mode & MODE_3270) != 0; }
};

SessionHost g_SessionHost;

}  // namespace

TermHost *SessionHostInterface() { return &g_SessionHost; }

void SessionFlush() {
  SESSION &s = g_Session;
  if (s.flushing) return;  // the outer flush sends what was queued meanwhile
  s.flushing = true;
  while (!s.out.empty() && s.sock != INVALID_SOCKET) {
    std::string chunk;
    chunk.swap(s.out);
    const int sent = SendAllPumping(s.sock, chunk.data(), (int)chunk.size());
    if (sent < (int)chunk.size() && g_SockError != WSAEWOULDBLOCK) {
      s.out.clear();  // the connection failed; the loop sees it on the next receive
      break;
    }
  }
  s.flushing = false;
}

void SessionSendByte(unsigned char b) {
  SESSION &s = g_Session;
  if (s.tn.mode & MODE_3270) {
    Tn3270SendKey(b);
    s.eventFlag = true;
    return;
  }
  const bool online = s.sock != INVALID_SOCKET && TelnetEncodeTyped(s.tn, b, s.out);
  if ((!online || TelnetEchoesLocally(s.tn)) && s.echo.size() < 256) {
    s.echo.push_back((char)b);
    if (b == '\r' && s.echo.size() < 256) s.echo.push_back('\n');
  }
  s.eventFlag = true;
}

void SessionSendText(const char *text, size_t length) {
  for (size_t i = 0; i < length; ++i) SessionSendByte((unsigned char)text[i]);
  SessionFlush();
}

void SessionSendBreak() {
  TelnetBreak(g_Session.tn, g_Session.out);
  SessionFlush();
}

void SessionDisconnect() {
  SESSION &s = g_Session;
  if (s.sock != INVALID_SOCKET) WsCloseSocket(s.sock);
  s.sock = INVALID_SOCKET;
  s.recvCount = 0;
  s.eventFlag = true;
}

void SessionSocketEvent(WPARAM wParam, LPARAM lParam) {
  if ((SOCKET)wParam == g_Session.sock) g_Session.lastSelect = lParam;
  g_Session.eventFlag = true;
}

bool SessionRunning() { return g_SessionRunning; }

int SessionRun(const char *host) {
  SESSION &s = g_Session;
  struct Running {
    Running() { g_SessionRunning = true; }
    ~Running() { g_SessionRunning = false; }
  } running;
  if (s.sock == INVALID_SOCKET) {
    if (!host || !*host) return -1;  // the host dialog belongs to the settings dialogs
    TelnetReset(s.tn);
    s.tn.rlogin = g_Start.rlogin != 0;
    s.tn.localEcho = &g_Term->st.s.localEcho;
    s.tn.onLine = &g_Term->st.s.onLine;
    s.echo.clear();
    const int connected = Connect(host);
    if (connected <= 0) return connected;
    const int loggedIn = LogIn();
    if (loggedIn < 0) return -1;
    if (loggedIn == 0) {
      CloseSession();
      return 0;
    }
  }
  Tn3270SessionParams();
  TermRefresh();
  const int result = SessionLoop();
  if (result < 0) return -1;
  CursorTo(g_Term->st.cursorRow, 0);
  SessionEnd();
  const char kBye[] = "Disconnected from Remote Host";
  WriteText(*g_Term, g_Term->st.cursorRow, 0, kBye, 0);
  if (g_Term->display) g_Term->display->PaintCells(g_Term->st.cursorRow, 0, (int)sizeof kBye - 1);
  CloseSession();
  return 0;
}
