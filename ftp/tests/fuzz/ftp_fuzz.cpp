// Fuzz target of what an FTP server sends the client: reply lines (multi-line
// replies, Telnet commands inside them, the PWD reply) and remote listings of
// every host type, with the "ftp.cfg" listing rules applied to them. The
// client's own session code runs over a stand-in for the socket layer that
// hands out the input's bytes in pieces of the input's choosing; a listing
// must give the same entries as when it comes in pieces of 1024 bytes.
//
// Input: byte 0 picks the mode (bit 0: listing or replies), the pane's host
// type and the piece size; in listing mode the next line is the rule line of
// "ftp.cfg" and the rest is the listing; in reply mode the rest is what the
// control connection carries.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ftpcore.h"
#include <common/qxcommon.h>

namespace {

constexpr SOCKET kControl = 100, kListener = 101, kData = 102;

struct Stream {
  std::string_view bytes;
  size_t at = 0;
};
Stream g_control, g_data;
size_t g_piece = 1;
DWORD g_ticks = 0;

int Deliver(Stream &s, char *buffer, int size) {
  if (size <= 0) return 0;
  const size_t n = std::min({s.bytes.size() - s.at, static_cast<size_t>(size), g_piece});
  if (n) memcpy(buffer, s.bytes.data() + s.at, n);
  s.at += n;
  return static_cast<int>(n);
}

}  // namespace

// ---- The socket layer and the few other calls the session makes ----

SOCKET WsSocket(int, int, int) { return kListener; }
int WsBind(SOCKET, const sockaddr *, int) { return 0; }
int WsConnect(SOCKET, const sockaddr *, int) { return 0; }
int WsIoctlSocket(SOCKET, long, u_long *) { return 0; }
int WsCloseSocket(SOCKET) { return 0; }
SOCKET WsAccept(SOCKET, sockaddr *address, int *length) {
  if (address && length && *length >= static_cast<int>(sizeof(sockaddr_in))) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = 0x0100007f;
    memcpy(address, &peer, sizeof peer);
  }
  return kData;
}
int WsSend(SOCKET, const char *, int length, int) { return length; }
int WsRecv(SOCKET s, char *buffer, int size, int) { return Deliver(s == kControl ? g_control : g_data, buffer, size); }
int PumpMessages() { return 0; }

extern "C" {
int PASCAL WSAGetLastError() { return 0; }
void PASCAL qxws_fd_set_add(SOCKET s, qx_fd_set *set) {
  if (set->fd_count < FD_SETSIZE) set->fd_array[set->fd_count++] = s;
}
int PASCAL qxws_select(int, qx_fd_set *, qx_fd_set *, qx_fd_set *, const timeval *) { return 1; }
u_short PASCAL htons(u_short v) { return __builtin_bswap16(v); }
u_short PASCAL ntohs(u_short v) { return __builtin_bswap16(v); }
ULONG PASCAL ntohl(ULONG v) { return __builtin_bswap32(static_cast<uint32_t>(v)); }
ULONG PASCAL inet_addr(const char *) { return 0x0100007f; }
hostent *PASCAL gethostbyname(const char *) { return nullptr; }
int PASCAL listen(SOCKET, int) { return 0; }
int PASCAL getsockname(SOCKET, sockaddr *name, int *length) {
  if (!name || !length || *length < static_cast<int>(sizeof(sockaddr_in))) return -1;
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = 0x0100007f;
  self.sin_port = 0x3930;
  memcpy(name, &self, sizeof self);
  return 0;
}
int PASCAL getpeername(SOCKET s, sockaddr *name, int *length) { return getsockname(s, name, length); }
DWORD WINAPI GetTickCount() { return g_ticks += 7; }
DWORD WINAPI GetCurrentDirectoryA(DWORD, LPSTR) { return 0; }
BOOL WINAPI SetCurrentDirectoryA(LPCSTR) { return FALSE; }
HFILE WINAPI OpenFile(LPCSTR, LPOFSTRUCT, UINT) { return HFILE_ERROR; }
HANDLE WINAPI CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  return INVALID_HANDLE_VALUE;
}
BOOL WINAPI ReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) { return FALSE; }
BOOL WINAPI CloseHandle(HANDLE) { return TRUE; }
FILE *qxcrt_fopen(const char *, const char *) { return nullptr; }
}

namespace {

const int kKinds[] = {kPaneClosed, kHostUnix, kHostStaff, kHostVms, kHostRules, kHostNameList};

// The replies of a listing: PORT accepted, LIST started, transfer done, PWD.
constexpr char kListingReplies[] =
    "200 PORT command successful.\r\n150 Here comes the listing.\r\n"
    "226 Transfer complete.\r\n257 \"/pub/dir\" is the current directory.\r\n";

void ResetPane(int kind) {
  g_Panes[0] = FTP_PANE();
  g_Panes[0].control = kControl;
  g_Panes[0].kind = kind;
  strcpy(g_Panes[0].host, "127.0.0.1");
}

void FuzzReplies(std::string_view bytes, char quote) {
  ResetPane(kHostUnix);
  g_control = {bytes, 0};
  // Every reply the bytes hold, as long as the reader moves on.
  for (int replies = 0; replies < 1000 && g_control.at < bytes.size(); ++replies) {
    const size_t before = g_control.at;
    const int result = ReadReply(replies & 1, 0);
    std::string directory;
    ParsePwdReply(LastReplyLine(), quote, &directory);
    if (result < 0 || g_control.at == before) break;
  }
}

// The pane's entries after a listing, one string.
std::string ListInto(std::string_view rule, std::string_view listing, int kind) {
  ResetPane(kind);
  g_Panes[0].ruleLine = std::string(rule);
  g_control = {kListingReplies, 0};
  g_data = {listing, 0};
  ParseRemoteListing(0);
  std::string entries = std::to_string(g_Panes[0].kind) + "\n";
  for (const ENTRY_NODE &entry : g_Panes[0].entries) {
    if (entry.name.empty()) abort();  // an entry always has a name
    RuleSubdirectoryPath(g_Panes[0].ruleLine, "/pub/dir", entry.name);
    entries += entry.name + "|" + std::to_string(entry.flags) + "|" + std::to_string(entry.size) + "\n";
  }
  return entries;
}

// However the listing's bytes arrive, the pane gets the same entries.
void FuzzListing(std::string_view rule, std::string_view listing, int kind) {
  const std::string entries = ListInto(rule, listing, kind);
  const size_t piece = g_piece;
  g_piece = 1024;
  if (ListInto(rule, listing, kind) != entries) abort();
  g_piece = piece;
  const std::string fileText(rule);
  SelectRuleLine(fileText + "\n" + fileText, std::string(listing.substr(0, 80)));
  RuleQuoteCharacter(g_Panes[0].ruleLine);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  const std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
  g_piece = (control >> 5) == 7 ? 1024 : 1u + (control >> 5) * 3;
  if (control & 1) {
    const size_t lf = rest.find('\n');
    const std::string_view rule = lf == std::string_view::npos ? rest : rest.substr(0, lf);
    const std::string_view listing = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
    FuzzListing(rule, listing, kKinds[((control >> 1) & 15) % 6]);
  } else {
    FuzzReplies(rest, (control & 2) ? '\'' : '"');
  }
  return 0;
}
