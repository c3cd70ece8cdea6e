// parley / oldparley: a conversation with a user on another host by the talk
// protocol (new: UDP 518, 84-byte requests; old: UDP 517, 76-byte requests).
// One run holds one call: it looks for an invitation from the called party
// first and invites when there is none; once a TCP connection stands, the two
// sides exchange their edit characters and then every typed character. The
// upper half of the screen shows what the local user types, the lower half
// the other party. The call runs inside the handler of a private message;
// every wait dispatches window messages, so the window stays live.
//
// Control answers are taken only from the daemon that was asked; a request is
// sent again every 2 s until its answer comes, and an invitation is renewed
// every 30 s, well within the daemons' 60-second lifetime.
#include <windows.h>
#include <winsock.h>

#include <qxcommon.h>
#include <queryclient.h>
#include <talkproto.h>
#include <textwin.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifndef PARLEY_NEW
#error "PARLEY_NEW selects the protocol: 1 new (parley), 0 old (oldparley)"
#endif

namespace {

#if PARLEY_NEW
const TALK_LAYOUT &kLayout = kNewTalkLayout;
constexpr unsigned short kDaemonPort = 518;
constexpr const char *kTitle = "New Talk";
constexpr const char *kAboutTitle = "About New Talk";
#else
const TALK_LAYOUT &kLayout = kOldTalkLayout;
constexpr unsigned short kDaemonPort = 517;
constexpr const char *kTitle = "Old Talk";
constexpr const char *kAboutTitle = "About Old Talk";
#endif

constexpr UINT WM_TALK_DIALOG = 0x7FFD;
constexpr UINT WM_TALK_CALL = 0x7FFE;
constexpr UINT WM_TALK_SOCKET = 0x70DD;
constexpr UINT_PTR kStatusTimer = 1;
constexpr UINT kStatusMs = 4000;
constexpr DWORD kResendMs = 2000;   // a control request unanswered this long is sent again
constexpr int kMaxSends = 15;       // then the daemon is given up (30 s)
constexpr DWORD kReRingMs = 30000;  // an invitation is renewed this often while waiting
constexpr long kSliceMicros = 50000;
constexpr int kRingSize = 16;
constexpr int kLocalTop = 0, kLocalFirst = 1, kDividerRow = 12, kRemoteFirst = 13, kErrorRow = 23;

enum : UINT {
  IDM_TALK = 2,
  IDM_EXIT = 1,
  IDM_HELP_INDEX = 200,
  IDM_HELP_TALKING = 201,
  IDM_HELP_USING = 202,
  IDM_ABOUT = 203,
  IDC_USER = 103,
  IDC_HOST = 104,
  IDC_TTY = 105,
};

// The resource strings by number.
const char *const kStrings[] = {
    "Talk Error",
    "Username must be specified.",
    "Host must be specified.",
    "Bad socket",
    "Couldn't bind local socket",
    "Bad address for local socket",
    "Couldn't bind to control socket",
    "Bad address for control socket",
    "Can't resolve local machinename to IP Address",
    "Unable to resolve host \"%s\"\r\n",
    "Connection established",
    "Connection closed. Exiting",
    "",
    "Error on attempt to listen for caller",
    "Waiting for your party to respond",
    "Unable to connect with your party",
    "Ringing your party again",
    "Your party is not logged on",
    "Target machine does not recognize us",
    "Target machine can not handle remote talk",
    "Target machine is too confused to talk to us",
    "Your party is refusing messages",
    "Trying to connect to your party's talk daemon",
    "Error on write to talk daemon",
    "",
    "Error on read from talk daemon",
    "No connection yet",
    "Lost the connection",
    "Checking for invitation on caller's machine",
    "Waiting to connect with caller",
    "Unable to connect with initiator",
};

// ---- State of the one call ----

struct Talk {
  HINSTANCE instance = nullptr;
  HWND window = nullptr;
  std::vector<std::string> args;  // element 0 is "talk"
  std::string request;            // the request template, kLayout.requestSize bytes
  struct in_addr localAddress {};
  struct in_addr remoteAddress {};
  uint32_t remoteId = 0, localId = 0;
  bool inviting = false;  // invitations outstanding
  int status = 26;
  int ringCount = 0;
  SOCKET control = INVALID_SOCKET;
  SOCKET conversation = INVALID_SOCKET;
  unsigned char erase = 8, kill = 21, wordErase = 23;
  char ring[kRingSize] = {};
  int ringRead = 0, ringWrite = 0, ringCount16 = 0;
  int lastError = 0;
  bool over = false;       // the call ended (error or close): go no further
  bool abandoned = false;  // WM_QUIT met in a wait
  int localRow = kLocalFirst, localColumn = 0;
  int remoteRow = kRemoteFirst, remoteColumn = 0;
};
Talk g;

const char *Str(int id) { return id >= 0 && id < static_cast<int>(std::size(kStrings)) ? kStrings[id] : ""; }

void CloseSocket(SOCKET &s) {
  if (s == INVALID_SOCKET) return;
  WsCloseSocket(s);
  s = INVALID_SOCKET;
}

// ---- The screen ----

void Print(const std::string &text) { TextWinPrint(text.c_str()); }

void ClearRow(int row) {
  TextWinSetCursor(row, 0);
  TalkClearToEol();
}

void TalkStatus(int id) {
  g.status = id;
  const int row = g.ringCount % 10;
  ClearRow(row);
  char line[260];
  std::snprintf(line, sizeof line, "[%.250s]\r\n", Str(id));
  Print(line);
}

void TalkClose();

// The error line on the status row and in a message box, then the call ends.
void TalkError(int id) {
  KillTimer(g.window, kStatusTimer);
  char line[400];
  if (g.lastError) {
    const char *words = g.lastError >= 10000 ? QueryErrorWords(g.lastError) : std::strerror(g.lastError);
    std::snprintf(line, sizeof line, "[%s : %s (%d)]\r\n", Str(id), words ? words : "Unknown error", g.lastError);
  } else {
    std::snprintf(line, sizeof line, "[%s]\r\n", Str(id));
  }
  ClearRow(g.ringCount % 10);
  Print(line);
  TextWinSetCursor(kErrorRow, 0);
  std::string shown(line);
  while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
  MessageBoxA(g.window, shown.c_str(), Str(0), MB_OK | MB_ICONERROR);
  TalkClose();
}

// Prints one byte at one half's cursor and keeps that half's rows: a new row
// is cleared as it is reached, and past the half's last row writing starts
// again at its top.
void PrintInHalf(unsigned char byte, int &row, int &column, int firstRow, int endRow) {
  TextWinSetCursor(row, column);
  const char text[2] = {static_cast<char>(byte), '\0'};
  TextWinPrint(text);
  int nowRow = 0, nowColumn = 0;
  TextWinGetCursor(&nowRow, &nowColumn);
  if (nowRow < endRow) {
    if (nowRow != row) {
      row = nowRow;
      column = nowColumn;
      const int next = row + 1 < endRow ? row + 1 : firstRow;
      ClearRow(next);
    } else {
      column = nowColumn;
    }
  } else {
    row = firstRow;
    column = 0;
    ClearRow(firstRow + 1);
  }
  TextWinSetCursor(row, column);
}

// ---- Waiting while the window is served ----

// One slice: every pending message, then a sleep of at most a slice on the
// socket. FALSE when WM_QUIT came: the call is abandoned.
bool PumpSlice(SOCKET s, bool *ready) {
  if (PumpMessages()) {
    g.abandoned = g.over = true;
    return false;
  }
  *ready = false;
  if (s == INVALID_SOCKET) {
    Sleep(20);
    return true;
  }
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  struct timeval timeout {
    0, kSliceMicros
  };
  *ready = select(0, &set, nullptr, nullptr, &timeout) > 0;
  return true;
}

// ---- The request template ----

void PutBytes(int at, const void *data, size_t size) {
  if (at < 0) return;
  std::memcpy(g.request.data() + at, data, size);
}
void PutU32(int at, uint32_t value) { PutBytes(at, &value, 4); }
void PutName(int at, int size, const std::string &name) {
  std::memset(g.request.data() + at, 0, static_cast<size_t>(size));
  std::memcpy(g.request.data() + at, name.data(), std::min(name.size(), static_cast<size_t>(size)));
  g.request[static_cast<size_t>(at + size - 1)] = '\0';
}
// A sockaddr as the request carries it: family 2 in network order, then
// port and address as given.
void PutSockaddr(int at, const struct sockaddr_in &address) {
  unsigned char bytes[TALK_SOCKADDR_SIZE] = {0, 2};
  std::memcpy(bytes + 2, &address.sin_port, 2);
  std::memcpy(bytes + 4, &address.sin_addr, 4);
  PutBytes(at, bytes, sizeof bytes);
}

uint32_t GetU32(const char *data, int at) {
  uint32_t v;
  std::memcpy(&v, data + at, 4);
  return v;
}

// ---- The control exchange ----

bool SendRequest(const std::string &request, struct in_addr daemon) {
  struct sockaddr_in to {};
  to.sin_family = AF_INET;
  to.sin_port = htons(kDaemonPort);
  to.sin_addr = daemon;
  for (;;) {
    const int sent = WsSendTo(g.control, request.data(), static_cast<int>(request.size()), 0,
                              reinterpret_cast<const struct sockaddr *>(&to), sizeof to);
    if (sent == static_cast<int>(request.size())) return true;
    g.lastError = WSAGetLastError();
    if (g.lastError == WSAEINTR) continue;
    TalkError(23);
    return false;
  }
}

std::string MakeRequest(int type, uint32_t id) {
  std::string request = g.request;
  if (kLayout.versionAt >= 0) request[static_cast<size_t>(kLayout.versionAt)] = 1;
  request[static_cast<size_t>(kLayout.typeAt)] = static_cast<char>(type);
  std::memcpy(request.data() + kLayout.idAt, &id, 4);
  return request;
}

// Sends the request and waits for the answer of the same type from the
// daemon asked (its address and port), sending again every 2 s. TRUE with
// the 24-byte response; FALSE after TalkError or when the call ended.
bool TalkCtlExchange(struct in_addr daemon, int type, uint32_t id, char response[TALK_RESPONSE_SIZE]) {
  const std::string request = MakeRequest(type, id);
  for (int sends = 0; sends < kMaxSends && !g.over; ++sends) {
    if (!SendRequest(request, daemon)) return false;
    const auto resendAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(kResendMs);
    while (std::chrono::steady_clock::now() < resendAt) {
      bool ready = false;
      if (!PumpSlice(g.control, &ready)) return false;
      if (g.over) return false;
      if (!ready) continue;
      struct sockaddr_in from {};
      int fromSize = sizeof from;
      char got[64];
      const int n = WsRecvFrom(g.control, got, sizeof got, 0, reinterpret_cast<struct sockaddr *>(&from), &fromSize);
      if (n < 0) {
        g.lastError = WSAGetLastError();
        if (g.lastError == WSAEWOULDBLOCK || g.lastError == WSAEINTR) continue;
        if (g.lastError == WSAECONNRESET) continue;  // an earlier datagram was refused: keep waiting
        TalkError(25);
        return false;
      }
      // Only the daemon asked may answer; anything else is dropped.
      if (from.sin_addr.s_addr != daemon.s_addr || from.sin_port != htons(kDaemonPort)) continue;
      if (n < TALK_RESPONSE_SIZE || static_cast<unsigned char>(got[kLayout.respTypeAt]) != type) continue;
      std::memcpy(response, got, TALK_RESPONSE_SIZE);
      return true;
    }
  }
  if (!g.over) {
    g.lastError = WSAETIMEDOUT;
    TalkError(25);
  }
  return false;
}

int Answer(const char *response) { return static_cast<unsigned char>(response[kLayout.respAnswerAt]); }
uint32_t ResponseId(const char *response) { return GetU32(response, kLayout.respIdAt); }

// Withdraws both invitations without waiting for answers.
void TalkCancelInvites() {
  if (g.control == INVALID_SOCKET) return;
  struct sockaddr_in to {};
  to.sin_family = AF_INET;
  to.sin_port = htons(kDaemonPort);
  const std::string remote = MakeRequest(DELETE, g.remoteId), local = MakeRequest(DELETE, g.localId);
  to.sin_addr = g.remoteAddress;
  WsSendTo(g.control, remote.data(), static_cast<int>(remote.size()), 0, reinterpret_cast<const struct sockaddr *>(&to),
           sizeof to);
  to.sin_addr = g.localAddress;
  WsSendTo(g.control, local.data(), static_cast<int>(local.size()), 0, reinterpret_cast<const struct sockaddr *>(&to),
           sizeof to);
  g.inviting = false;
}

void TalkClose() {
  g.over = true;
  if (g.inviting) TalkCancelInvites();
  if (g.window) PostMessageA(g.window, WM_CLOSE, 0, 0);
}

// ---- Names and addresses ----

// The called party: "user@host", or "host:user", "host!user", "host.user"
// split at the first separator.
bool SplitParty(const std::string &party, std::string *user, std::string *host) {
  const size_t at = party.find_first_of("@:!.");
  if (at == std::string::npos) {
    *host = party;
    user->clear();
  } else if (party[at] == '@') {
    *user = party.substr(0, at);
    *host = party.substr(at + 1);
  } else {
    *host = party.substr(0, at);
    *user = party.substr(at + 1);
  }
  return true;
}

std::string DefaultLocalUser() {
  char name[64] = "";
  const DWORD got = GetEnvironmentVariableA("USERNAME", name, sizeof name);
  if (got == 0 || got >= sizeof name) return "pc-user";
  std::string lower = name;
  for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// The local address the called host can reach: the one the system picks to
// send to its daemon; the host name's address only when that fails.
bool FindLocalAddress() {
  SOCKET probe = WsSocket(AF_INET, SOCK_DGRAM, 0);
  if (probe != INVALID_SOCKET) {
    struct sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(kDaemonPort);
    to.sin_addr = g.remoteAddress;
    struct sockaddr_in me {};
    int size = sizeof me;
    const bool found = WsConnect(probe, reinterpret_cast<const struct sockaddr *>(&to), sizeof to) == 0 &&
                       getsockname(probe, reinterpret_cast<struct sockaddr *>(&me), &size) == 0 &&
                       me.sin_addr.s_addr != 0;
    WsCloseSocket(probe);
    if (found) {
      g.localAddress = me.sin_addr;
      return true;
    }
  }
  char name[256] = "";
  if (gethostname(name, sizeof name) != 0) return false;
  return QueryResolveHost(name, &g.localAddress) != FALSE;
}

// ---- Sockets ----

// A socket bound to any port, its address (the local host's) in the template.
SOCKET MakeSocket(int type, int bindError, int nameError, int at) {
  SOCKET s = WsSocket(AF_INET, type, 0);
  if (s == INVALID_SOCKET) {
    g.lastError = WSAGetLastError();
    TalkError(3);
    return INVALID_SOCKET;
  }
  struct sockaddr_in address {};
  address.sin_family = AF_INET;
  if (WsBind(s, reinterpret_cast<const struct sockaddr *>(&address), sizeof address) != 0) {
    g.lastError = WSAGetLastError();
    WsCloseSocket(s);
    TalkError(bindError);
    return INVALID_SOCKET;
  }
  int size = sizeof address;
  if (getsockname(s, reinterpret_cast<struct sockaddr *>(&address), &size) != 0) {
    g.lastError = WSAGetLastError();
    WsCloseSocket(s);
    TalkError(nameError);
    return INVALID_SOCKET;
  }
  address.sin_addr = g.localAddress;
  PutSockaddr(at, address);
  return s;
}

bool MakeConversationSocket() {
  g.conversation = MakeSocket(SOCK_STREAM, 4, 5, kLayout.addrAt);
  return g.conversation != INVALID_SOCKET;
}

void SetNonBlocking(SOCKET s) {
  u_long on = 1;
  WsIoctlSocket(s, FIONBIO, &on);
}

void StartStatusTimer() {
  TalkStatus(g.status);
  SetTimer(g.window, kStatusTimer, kStatusMs, nullptr);
}

// ---- Answering: an invitation from the called party ----

// 1 connected, 0 no invitation (go on to invite), -1 the call ended.
int TalkAnswer() {
  g.status = 28;
  char response[TALK_RESPONSE_SIZE];
  if (!TalkCtlExchange(g.remoteAddress, LOOK_UP, 0, response)) return -1;
  if (Answer(response) != SUCCESS) return 0;
  const uint32_t id = ResponseId(response);
  g.status = 29;
  // The caller's address: family (either byte order), port, address.
  const unsigned char *a = reinterpret_cast<const unsigned char *>(response + kLayout.respAddrAt);
  struct sockaddr_in to {};
  to.sin_family = AF_INET;
  std::memcpy(&to.sin_port, a + 2, 2);
  std::memcpy(&to.sin_addr, a + 4, 4);
  if (WsConnect(g.conversation, reinterpret_cast<const struct sockaddr *>(&to), sizeof to) == 0) {
    SetNonBlocking(g.conversation);
    WSAAsyncSelect(g.conversation, g.window, WM_TALK_SOCKET, FD_READ | FD_CLOSE);
    return 1;
  }
  g.lastError = WSAGetLastError();
  if (g.lastError != WSAECONNREFUSED) {
    TalkError(30);
    return -1;
  }
  // A stale invitation: withdrawn at the caller's daemon, then we invite.
  if (!TalkCtlExchange(g.remoteAddress, DELETE, id, response)) return -1;
  CloseSocket(g.conversation);
  g.lastError = 0;
  return MakeConversationSocket() ? 0 : -1;
}

// ---- Inviting ----

bool TalkAnnounceInvite(uint32_t id) {
  g.status = 22;
  char response[TALK_RESPONSE_SIZE];
  if (!TalkCtlExchange(g.remoteAddress, ANNOUNCE, id, response)) return false;
  g.remoteId = ResponseId(response);
  const int answer = Answer(response);
  if (answer != SUCCESS) {
    static const int kAnswerText[] = {0, 17, 20, 18, 21, 19};
    g.lastError = 0;
    if (answer >= 1 && answer <= 5)
      TalkError(kAnswerText[answer]);
    else
      TalkClose();
    return false;
  }
  if (!TalkCtlExchange(g.localAddress, LEAVE_INVITE, id, response)) return false;
  g.localId = ResponseId(response);
  return true;
}

bool TalkReRing() {
  TalkStatus(16);
  ++g.ringCount;
  return TalkAnnounceInvite(g.remoteId + 1);
}

bool TalkInvite() {
  if (listen(g.conversation, 5) != 0) {
    g.lastError = WSAGetLastError();
    TalkError(13);
    return false;
  }
  SetNonBlocking(g.conversation);
  WSAAsyncSelect(g.conversation, g.window, WM_TALK_SOCKET, FD_READ | FD_ACCEPT | FD_CLOSE);
  g.inviting = true;
  if (!TalkAnnounceInvite(0xFFFFFFFFu)) return false;
  KillTimer(g.window, kStatusTimer);
  TalkStatus(14);
  auto ringAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReRingMs);
  for (;;) {
    SOCKET accepted = WsAccept(g.conversation, nullptr, nullptr);
    if (accepted != INVALID_SOCKET) {
      CloseSocket(g.conversation);
      g.conversation = accepted;
      SetNonBlocking(g.conversation);
      WSAAsyncSelect(g.conversation, g.window, WM_TALK_SOCKET, FD_READ | FD_CLOSE);
      break;
    }
    g.lastError = WSAGetLastError();
    if (g.lastError != WSAEWOULDBLOCK) {
      TalkError(15);
      return false;
    }
    bool ready = false;
    if (!PumpSlice(g.conversation, &ready) || g.over) return false;
    if (std::chrono::steady_clock::now() >= ringAt) {
      if (!TalkReRing()) return false;
      TalkStatus(14);
      ringAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReRingMs);
    }
  }
  g.lastError = 0;
  g.status = 14;
  StartStatusTimer();
  char response[TALK_RESPONSE_SIZE];
  if (!TalkCtlExchange(g.localAddress, DELETE, g.localId, response)) return false;
  if (!TalkCtlExchange(g.remoteAddress, DELETE, g.remoteId, response)) return false;
  g.inviting = false;
  return true;
}

// ---- Edit characters and the conversation ----

bool TalkEditChars() {
  const char mine[3] = {8, 21, 23};
  if (SockSendAll(g.conversation, mine, 3) < 3) {
    g.lastError = WSAGetLastError();
    TalkError(27);
    return false;
  }
  unsigned char theirs[3];
  int got = 0;
  while (got < 3) {  // the three bytes may come in more than one piece
    const int n = SockRecvPumpingFor(g.conversation, reinterpret_cast<char *>(theirs) + got, 3 - got, 60000);
    if (n == SOCK_PUMP_QUIT) {
      g.abandoned = g.over = true;
      return false;
    }
    if (n <= 0) {
      g.lastError = n == 0 ? 0 : WSAGetLastError();
      TalkError(27);
      return false;
    }
    got += n;
  }
  g.erase = theirs[0];
  g.kill = theirs[1];
  g.wordErase = theirs[2];
  return true;
}

void ShowReceived(const char *data, int count) {
  for (int i = 0; i < count; ++i) {
    unsigned char byte = static_cast<unsigned char>(data[i]);
    if (byte == '\0') continue;
    if (byte == g.erase) byte = '\b';
    PrintInHalf(byte, g.remoteRow, g.remoteColumn, kRemoteFirst, kErrorRow);
  }
}

bool TakeTyped(char *c) {
  if (g.ringCount16 == 0) return false;
  *c = g.ring[g.ringRead];
  g.ringRead = (g.ringRead + 1) % kRingSize;
  --g.ringCount16;
  return true;
}

void TalkConverse() {
  TalkStatus(10);
  MessageBeep(0);
  g.ringCount = 0;
  g.localRow = kLocalFirst;
  g.localColumn = 0;
  g.remoteRow = kRemoteFirst;
  g.remoteColumn = 0;
  for (;;) {
    char piece[513];
    const int n = WsRecv(g.conversation, piece, 512, 0);
    if (n > 0) {
      ShowReceived(piece, n);
    } else if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
      return;
    } else if (g.ringCount16 == 0) {
      bool ready = false;
      if (!PumpSlice(g.conversation, &ready) || g.over) return;
      continue;
    }
    char typed;
    if (TakeTyped(&typed)) {
      if (typed == '\r') typed = '\n';
      PrintInHalf(static_cast<unsigned char>(typed), g.localRow, g.localColumn, kLocalTop, kDividerRow);
      if (SockSendAll(g.conversation, &typed, 1) != 1) return;
    }
  }
}

// ---- The call ----

void TalkCall() {
  std::string user, host;
  SplitParty(g.args.size() > 1 ? g.args[1] : "", &user, &host);
  const std::string localUser = g.args.size() > 2 ? g.args[2] : DefaultLocalUser();
  const std::string tty = g.args.size() > 3 ? g.args[3] : "";
  if (user.empty()) {
    MessageBoxA(g.window, Str(1), Str(0), MB_OK | MB_ICONERROR);
    TalkClose();
    return;
  }
  if (!QueryResolveHost(host.c_str(), &g.remoteAddress)) {
    char text[300];
    std::snprintf(text, sizeof text, Str(9), host.c_str());
    Print(text);
    MessageBoxA(g.window, text, Str(0), MB_OK | MB_ICONERROR);
    TalkClose();
    return;
  }
  if (!FindLocalAddress()) {
    MessageBoxA(g.window, Str(8), Str(0), MB_OK | MB_ICONERROR);
    TalkClose();
    return;
  }
  g.request.assign(static_cast<size_t>(kLayout.requestSize), '\0');
  // The C runtime of this system gives rand() up to 2^31 - 1: its low 15 bits keep the 0..32767 range.
  const uint32_t pid =
      static_cast<uint32_t>((rand() & 0x7FFF) * 3000 / 32767) + static_cast<uint32_t>(GetCurrentProcessId());
  PutU32(kLayout.pidAt, pid);
  PutName(kLayout.lNameAt, kLayout.lNameSize, localUser);
  PutName(kLayout.rNameAt, kLayout.rNameSize, user);
  PutName(kLayout.rTtyAt, kLayout.rTtySize, tty);
  // The divider and the first status.
  TextWinSetCursor(kDividerRow, 0);
  Print(std::string(80, '-'));
  g.status = 26;
  g.control = MakeSocket(SOCK_DGRAM, 6, 7, kLayout.ctlAddrAt);
  if (g.control == INVALID_SOCKET) return;
  SetNonBlocking(g.control);
  WSAAsyncSelect(g.control, g.window, WM_TALK_SOCKET, FD_READ);
  if (!MakeConversationSocket()) return;
  StartStatusTimer();
  const int answered = TalkAnswer();
  if (answered < 0 || g.over) return;
  if (answered == 0 && !TalkInvite()) return;
  KillTimer(g.window, kStatusTimer);
  if (!TalkEditChars()) return;
  TalkConverse();
  if (g.abandoned) return;
  TalkStatus(11);
  TalkClose();
}

// ---- Dialog, window, start ----

HBRUSH g_dialogBrush = nullptr;

INT_PTR CALLBACK TalkDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      if (!g_Ctl3dActive) g_dialogBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
      SetWindowTextA(dialog, kTitle);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        char user[64] = "", host[64] = "", tty[64] = "";
        GetDlgItemTextA(dialog, IDC_USER, user, sizeof user);
        GetDlgItemTextA(dialog, IDC_HOST, host, sizeof host);
        GetDlgItemTextA(dialog, IDC_TTY, tty, sizeof tty);
        if (!user[0] || !host[0]) {
          MessageBoxA(dialog, Str(user[0] ? 2 : 1), Str(0), MB_OK | MB_ICONERROR);
          return TRUE;
        }
        g.args = {"talk", std::string(user) + "@" + host, DefaultLocalUser()};
        if (tty[0]) g.args.push_back(tty);
        EndDialog(dialog, 0);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, -1);
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

void OnCommand(HWND window, UINT id) {
  switch (id) {
    case IDM_TALK: PostMessageA(window, WM_TALK_DIALOG, 0, 0); break;
    case IDM_EXIT: TalkClose(); break;
    case IDM_HELP_INDEX: WinHelpA(window, "WINTALK.HLP", HELP_INDEX, 0); break;
    case IDM_HELP_TALKING: WinHelpA(window, "WINTALK.HLP", HELP_KEY, reinterpret_cast<ULONG_PTR>("TALKING")); break;
    case IDM_HELP_USING: WinHelpA(window, "WINHELP.HLP", HELP_INDEX, 0); break;
    case IDM_ABOUT: DialogBoxA(g.instance, "About", window, AboutDlgProc); break;
    default: break;
  }
}

void OnCall(HWND window) {
  EnableMenuItem(GetMenu(window), IDM_TALK, MF_GRAYED);
  TalkCall();
  KillTimer(window, kStatusTimer);
  if (IsWindow(window)) DestroyWindow(window);
  PostQuitMessage(0);
}

LRESULT CALLBACK TalkMainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TextWinProc(window, message, wParam, lParam);
  switch (message) {
    case WM_TALK_DIALOG:
      if (DialogBoxA(g.instance, "talk", window, TalkDlgProc) == 0) PostMessageA(window, WM_TALK_CALL, 0, 0);
      return 0;
    case WM_TALK_CALL: OnCall(window); return 0;
    case WM_TALK_SOCKET: return 0;  // the nested waits look at the sockets themselves
    case WM_COMMAND: OnCommand(window, LOWORD(wParam)); return 0;
    case WM_CHAR:
      if (g.ringCount16 < kRingSize) {  // a full ring drops the character
        g.ring[g.ringWrite] = static_cast<char>(wParam);
        g.ringWrite = (g.ringWrite + 1) % kRingSize;
        ++g.ringCount16;
      }
      return 0;
    case WM_TIMER:
      if (wParam == kStatusTimer) TalkStatus(g.status);
      return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_DESTROY:
      g.over = true;
      if (g.inviting) TalkCancelInvites();
      KillTimer(window, kStatusTimer);
      g.window = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_SYSCOLORCHANGE:
      if (g_Ctl3dActive && Ctl3dColorChange) {
        Ctl3dColorChange();
        return 0;
      }
      break;
    default: break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

std::vector<std::string> SplitArguments(const char *commandLine) {
  std::vector<std::string> args = {"talk"};
  const char *p = commandLine ? commandLine : "";
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) return args;
    const char *start = p;
    while (*p && *p != ' ' && *p != '\t') ++p;
    args.emplace_back(start, p);
  }
}

// ---- Resources ----

const QX_MENU_ITEM kFileMenu[] = {
    QX_MENUITEM("&Talk", IDM_TALK),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("E&xit", IDM_EXIT),
};
const QX_MENU_ITEM kHelpMenu[] = {
    QX_MENUITEM("&Index", IDM_HELP_INDEX),      QX_MENUITEM("&Talking", IDM_HELP_TALKING),
    QX_MENUITEM("&Using Help", IDM_HELP_USING), QX_MENUSEPARATOR(),
    QX_MENUITEM("&About Talk...", IDM_ABOUT),
};
const QX_MENU_ITEM kMenuItems[] = {
    QX_POPUP("&File", kFileMenu),
    QX_POPUP("&Help", kHelpMenu),
};
const QX_MENU kMenu = QX_MENU_OF(kMenuItems);

#define EDIT_STYLE (ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP)
const QX_DIALOG_ITEM kTalkItems[] = {
    QX_LTEXT("Username :", -1, 8, 10, 44, 8),
    QX_CONTROL("", IDC_USER, "Edit", EDIT_STYLE, 56, 8, 110, 12),
    QX_LTEXT("Host :", -1, 8, 28, 44, 8),
    QX_CONTROL("", IDC_HOST, "Edit", EDIT_STYLE, 56, 26, 110, 12),
    QX_LTEXT("Tty :", -1, 8, 46, 44, 8),
    QX_CONTROL("", IDC_TTY, "Edit", EDIT_STYLE, 56, 44, 110, 12),
    QX_DEFPUSHBUTTON("&Talk", IDOK, 176, 8, 44, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 176, 26, 44, 14),
};
const QX_DIALOG kTalkDialog = QX_DIALOG_TEMPLATE(20, 20, 228, 66, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                                 kTitle, "MS Sans Serif", 8, kTalkItems);

const QX_DIALOG_ITEM kAboutItems[] = {
    QX_LTEXT("QX TCP/IP suite: talk", -1, 8, 8, 200, 8),
    QX_LTEXT("", IDC_ABOUT_VERSION, 8, 22, 200, 8),
    QX_LTEXT("Network Layer:", -1, 8, 40, 60, 8),
    QX_CONTROL("", IDC_ABOUT_NETWORK, "Edit", ES_LEFT | ES_READONLY | WS_CHILD | WS_VISIBLE | WS_BORDER, 70, 38, 144,
               12),
    QX_LTEXT("Vrsn compiled:", -1, 8, 56, 60, 8),
    QX_CONTROL("", IDC_ABOUT_COMPILED, "Edit", ES_LEFT | ES_READONLY | WS_CHILD | WS_VISIBLE | WS_BORDER, 70, 54, 144,
               12),
    QX_DEFPUSHBUTTON("OK", IDOK, 90, 74, 40, 14),
};
const QX_DIALOG kAbout = QX_DIALOG_TEMPLATE(0, 0, 222, 94, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                            kAboutTitle, "MS Sans Serif", 8, kAboutItems);

QX_SUITE_VERSION(kVersion, 1, 0, 0, 0, "Talk client");

const QX_RESOURCE kResources[] = {
    QX_RES_MENU("TalkMenu", kMenu),
    QX_RES_DIALOG("talk", kTalkDialog),
    QX_RES_DIALOG("About", kAbout),
    QX_RES_VERSION(kVersion),
};

}  // namespace

QX_REGISTER_RESOURCES(kResources);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  DebugLogOpen(instance, commandLine);
  Ctl3dLoad(instance);
  g.instance = instance;
  g.window =
      TextWinCreate(TEXTWIN_CREATE{kTitle, instance, previous, "AppIcon1", "TalkMenu", -1, -1, show, TalkMainProc, 1});
  if (!g.window) {
    MessageBoxA(nullptr, "The talk window could not be made.", Str(0), MB_OK | MB_ICONERROR);
    return 1;
  }
  WSADATA wsa;
  if (WSAStartup(0x0101, &wsa) != 0) {
    MessageBoxA(g.window, "Winsock could not be started, so nobody can be called. Check the network set-up.", Str(0),
                MB_OK | MB_ICONERROR);
    return 1;
  }
  g.args = SplitArguments(commandLine);
  PostMessageA(g.window, g.args.size() > 1 ? WM_TALK_CALL : WM_TALK_DIALOG, 0, 0);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  Ctl3dUnload(instance);
  CloseSocket(g.control);
  CloseSocket(g.conversation);
  WSACleanup();
  return 0;
}
