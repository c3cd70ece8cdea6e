// The "qxdebug.log" trace against a real log file: the "/debug" switch, every
// logger's entry, the repeat rule, the hex dump, address texts and flushing.
#include "common_fixture.h"

#include <cstring>
#include <vector>

using namespace commontest;
using namespace qxtest;

namespace {

WinsockSession g_winsock;

class Trace : public ::testing::Test {
 protected:
  void SetUp() override { StartTrace(); }
  void TearDown() override { ResetTrace(); }
  ScratchDir scratch;
};

sockaddr_in Addr(unsigned char a, unsigned char b, unsigned char c, unsigned char d, unsigned char p0,
                 unsigned char p1) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  auto *ab = reinterpret_cast<unsigned char *>(&in.sin_addr);
  ab[0] = a, ab[1] = b, ab[2] = c, ab[3] = d;
  auto *pb = reinterpret_cast<unsigned char *>(&in.sin_port);
  pb[0] = p0, pb[1] = p1;
  return in;
}

// A dump line: the hex part from column 0, the characters from column 50,
// blanks to 79 characters.
std::string DumpLine(const std::string &hex, const std::string &chars) {
  std::string line = hex + std::string(50 - hex.size(), ' ') + chars;
  return line + std::string(79 - line.size(), ' ') + "\n";
}

const sockaddr *Sa(const sockaddr_in &in) { return reinterpret_cast<const sockaddr *>(&in); }

}  // namespace

struct SwitchCase {
  const char *line;
  const char *after;
  bool traced;
};

TEST(DebugLogOpen, RemovesExactCaseSwitchAndOpensLog) {
  static const SwitchCase kCases[] = {
      {"host /debug /p=23", "host  /p=23", true},
      {"/DEBUG host", "/DEBUG host", false},
      {"host /Debug", "host /Debug", false},
      {"/debug", "", true},
      {"/debug/p=23 host", "/p=23 host", true},
      {"a /debug /debug", "a  /debug", true},  // only the first is cut
      {"", "", false},
  };
  for (const SwitchCase &c : kCases) {
    SCOPED_TRACE(c.line);
    ScratchDir scratch;
    ResetTrace();
    std::vector<char> line(c.line, c.line + std::strlen(c.line) + 1);
    DebugLogOpen(GetModuleHandleA(nullptr), line.data());
    EXPECT_STREQ(line.data(), c.after);
    EXPECT_EQ(g_TraceOn, c.traced ? 1 : 0);
    EXPECT_EQ(std::filesystem::exists("qxdebug.log"), c.traced);
    ResetTrace();
  }
}

TEST(DebugLogOpen, HeaderNamesModuleAndTimeAndTruncatesOldLog) {
  ScratchDir scratch;
  { std::ofstream("qxdebug.log") << "old text that must go\nmore\n"; }
  StartTrace();
  ASSERT_EQ(g_TraceOn, 1);
  ResetTrace();
  const std::string raw = ReadFile("qxdebug.log");
  EXPECT_EQ(raw.find("old text"), std::string::npos);
  char module[257];
  GetModuleFileNameA(GetModuleHandleA(nullptr), module, 256);
  // "<module> - Thu Dec 10 13:59:32 2026" then CR LF: text mode on disk.
  ASSERT_EQ(raw.rfind(std::string(module) + " - ", 0), 0u) << raw;
  EXPECT_EQ(raw.size(), std::strlen(module) + 3 + 24 + 2) << raw;
  EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
}

TEST(DebugLogOpen, UnwritableDirectoryLeavesTracingOffWithSwitchRemoved) {
  ScratchDir scratch;
  std::filesystem::create_directory("qxdebug.log");  // a directory cannot be opened as the log
  ResetTrace();
  char line[] = "x /debug";
  DebugLogOpen(GetModuleHandleA(nullptr), line);
  EXPECT_STREQ(line, "x ");
  EXPECT_EQ(g_TraceOn, 0);
}

struct AddrCase {
  sockaddr_in addr;
  const char *text;
};

TEST(TraceAddrText, BytesInStoredOrderAndPortUnsigned) {
  const AddrCase kCases[] = {
      {Addr(192, 168, 1, 10, 0x04, 0x01), "192.168.1.10,1025"},
      {Addr(10, 0, 0, 1, 0x00, 0x50), "10.0.0.1,80"},
      {Addr(10, 0, 0, 1, 0x00, 0x80), "10.0.0.1,128"},
      {Addr(255, 255, 255, 255, 0xFF, 0xFF), "255.255.255.255,65535"},
      {Addr(0, 0, 0, 0, 0, 0), "0.0.0.0,0"},
  };
  for (const AddrCase &c : kCases) EXPECT_STREQ(TraceAddrText(&c.addr), c.text);
}

TEST_F(Trace, HexDumpOf17Bytes) {
  char data[17];
  for (int i = 0; i < 17; ++i) data[i] = static_cast<char>(0x30 + i);
  data[0] = 0x41;
  data[1] = static_cast<char>(0xC8);
  data[16] = 0x7E;
  TraceHexDump(data, 17);
  // Written out in full once: digits at 3i+1, characters from column 50.
  const std::string want =
      " 41 C8 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F  A.23456789:;<=>?             \n"
      " 7E                                               ~                            \n";
  EXPECT_EQ(want,
            DumpLine(" 41 C8 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F", "A.23456789:;<=>?") + DumpLine(" 7E", "~"));
  EXPECT_EQ(Entries(), want);
  for (const auto &line : {want.substr(0, 80), want.substr(80)}) EXPECT_EQ(line.size(), 80u);  // 79 + LF
}

TEST_F(Trace, HexDumpOfNothingWritesNothing) {
  TraceHexDump("", 0);
  EXPECT_EQ(Entries(), "");
}

TEST_F(Trace, HexDumpControlAndHighBytesAreDots) {
  const char data[] = {0x1F, 0x20, 0x7F, static_cast<char>(0x80), static_cast<char>(0xFF)};
  TraceHexDump(data, 5);
  EXPECT_EQ(Entries(), DumpLine(" 1F 20 7F 80 FF", ". ..."));
}

struct EntryCase {
  const char *name;
  void (*write)();
  const char *text;
};

const sockaddr_in kPeer = Addr(192, 168, 1, 10, 0x04, 0x01);

TEST_F(Trace, EveryLoggerWritesItsFormat) {
  static const EntryCase kCases[] = {
      {"accept fail",
       [] {
         WSASetLastError(10035);
         TraceAccept(INVALID_SOCKET, 5, nullptr, nullptr);
       },
       "Accept Error: Socket = 5, Error = 10035\n"},
      {"accept addr",
       [] {
         int l = 16;
         TraceAccept(7, 5, Sa(kPeer), &l);
       },
       "Accept Success: Socket = 5, New Socket = 7, Addr = 192.168.1.10,1025\n"},
      {"accept bare", [] { TraceAccept(7, 5, nullptr, nullptr); }, "Accept Success: Socket = 5, New Socket = 7\n"},
      {"bind fail",
       [] {
         WSASetLastError(10048);
         TraceBind(-1, 5, Sa(kPeer), 16);
       },
       "Bind Error: Socket = 5, Addr = 192.168.1.10,1025, Error = 10048\n"},
      {"bind", [] { TraceBind(0, 5, Sa(kPeer), 16); }, "Bind Success: Socket = 5, Addr = 192.168.1.10,1025\n"},
      {"close fail",
       [] {
         WSASetLastError(10038);
         TraceClose(-1, 9);
       },
       "Close Error: Socket = 9, Error = 10038\n"},
      {"close", [] { TraceClose(0, 9); }, "Close Success: Socket = 9\n"},
      {"connect fail",
       [] {
         WSASetLastError(10061);
         TraceConnect(-1, 5, Sa(kPeer), 16);
       },
       "Connect Error: Socket = 5, Addr = 192.168.1.10,1025, Error = 10061\n"},
      {"connect", [] { TraceConnect(0, 5, Sa(kPeer), 16); }, "Connect Success: Socket = 5, Addr = 192.168.1.10,1025\n"},
      {"ioctl",
       [] {
         u_long v = 1;
         TraceIoctl(0, 5, FIONBIO, &v);
       },
       "IoctlSocket Success: Socket = 5, Cmd = 8004667E, Arg = 1\n"},
      {"ioctl fail",
       [] {
         WSASetLastError(10038);
         u_long v = 0;
         TraceIoctl(-1, 5, FIONREAD, &v);
       },
       "IoctlSocket Error: Socket = 5, Cmd = 4004667F, Arg = 0, Error = 10038\n"},
      {"ioctl null arg", [] { TraceIoctl(0, 5, FIONBIO, nullptr); },
       "IoctlSocket Success: Socket = 5, Cmd = 8004667E, Arg = 0\n"},
      {"socket", [] { TraceSocket(6, AF_INET, SOCK_STREAM, 0); },
       "Socket Success: Family = 2, Type = 1, Protocol = 0, New Socket = 6\n"},
      {"socket fail",
       [] {
         WSASetLastError(10047);
         TraceSocket(INVALID_SOCKET, 99, SOCK_DGRAM, 17);
       },
       "Socket Error: Family = 99, Type = 2, Protocol = 17, Error = 10047\n"},
      {"setsockopt",
       [] {
         int v = 65536;
         TraceSetSockOpt(0, 5, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char *>(&v), 4);
       },
       "SetSockOpt Success: Socket = 5, Level = 65535, Optname = 4097, Optval = 65536, Error = 0\n"},
      {"setsockopt 1 byte",
       [] {
         const char v[1] = {3};
         TraceSetSockOpt(0, 5, IPPROTO_IP, IP_TTL, v, 1);
       },
       "SetSockOpt Success: Socket = 5, Level = 0, Optname = 7, Optval = 3, Error = 0\n"},
      {"setsockopt fail",
       [] {
         WSASetLastError(10042);
         int v = -1;
         TraceSetSockOpt(-1, 5, 6, 1, reinterpret_cast<char *>(&v), 4);
       },
       "SetSockOpt Error: Socket = 5, Level = 6, Optname = 1, Optval = -1, Error = 10042\n"},
      {"shutdown", [] { TraceShutdown(0, 5, 1); }, "Shutdown Success: Socket = 5, How = 1\n"},
      {"shutdown fail",
       [] {
         WSASetLastError(10057);
         TraceShutdown(-1, 5, 2);
       },
       "Shutdown Error: Socket = 5, How = 2, Error = 10057\n"},
      {"recv", [] { TraceRecv(2, 5, "hi", 10, 0, nullptr, nullptr); },
       "Recv Success: Socket = 5, Flags = 0, Len = 2\n"
       " 68 69                                            hi                           \n"},
      {"recvfrom",
       [] {
         int l = 16;
         TraceRecv(1, 5, "x", 10, MSG_PEEK, Sa(kPeer), &l);
       },
       "Recv Success: Socket = 5, Flags = 2, Addr = 192.168.1.10,1025, Len = 1\n"
       " 78                                               x                            \n"},
      {"recv closed", [] { TraceRecv(0, 5, "", 10, 0, nullptr, nullptr); },
       "Recv Success: Socket = 5, Flags = 0, Len = 0\n"},
      {"send", [] { TraceSend(1, 5, "ab", 2, 0, nullptr, 0); },
       "Send Success: Socket = 5, Flags = 0, Sent 1 of 2\n"
       " 61                                               a                            \n"},
      {"sendto", [] { TraceSend(2, 5, "ab", 2, 0, Sa(kPeer), 16); },
       "Send Success: Socket = 5, Flags = 0, Addr = 192.168.1.10,1025, Sent 2 of 2\n"
       " 61 62                                            ab                           \n"},
  };
  for (const EntryCase &c : kCases) {
    SCOPED_TRACE(c.name);
    StartTrace();
    c.write();
    EXPECT_EQ(Entries(), c.text);
  }
}

struct RepeatCase {
  const char *name;
  std::vector<char> steps;  // r: recv error, s: send error, R: other recv error code, o: other entry
  const char *text;
};

void Step(char step) {
  switch (step) {
    case 'r':
      WSASetLastError(10035);
      TraceRecv(-1, 4, nullptr, 0, 0, nullptr, nullptr);
      break;
    case 'R':
      WSASetLastError(10054);
      TraceRecv(-1, 4, nullptr, 0, 0, nullptr, nullptr);
      break;
    case 's':
      WSASetLastError(10035);
      TraceSend(-1, 4, nullptr, 0, 0, nullptr, 0);
      break;
    case 'o': TraceClose(0, 4); break;
  }
}

TEST_F(Trace, RepeatRuleCollapsesIdenticalErrors) {
  const char *kRecv = "Recv Error: Socket = 4, Flags = 0, Error = 10035\n";
  const char *kReset = "Recv Error: Socket = 4, Flags = 0, Error = 10054\n";
  const char *kSend = "Send Error: Socket = 4, Flags = 0, Error = 10035\n";
  const char *kClose = "Close Success: Socket = 4\n";
  auto rep = [](int n) { return "Last message was repeated " + std::to_string(n) + " times\n"; };
  const std::vector<std::pair<RepeatCase, std::string>> kCases = {
      {{"five would-block receives then another entry", {'r', 'r', 'r', 'r', 'r', 'o'}, ""},
       std::string(kRecv) + rep(5) + kClose},
      {{"receive then send error of the same code", {'r', 's'}, ""}, std::string(kRecv) + kSend},
      {{"a different code ends the run", {'r', 'r', 'R'}, ""}, std::string(kRecv) + rep(2) + kReset},
      {{"a count of 1 survives other entries", {'r', 'o', 'r', 'o'}, ""},
       std::string(kRecv) + kClose + rep(2) + kClose},
      {{"after a report the same error is written again", {'r', 'r', 'o', 'r'}, ""},
       std::string(kRecv) + rep(2) + kClose + kRecv},
      {{"one counter for both kinds", {'r', 'r', 's', 's', 's', 'o'}, ""},
       std::string(kRecv) + rep(2) + kSend + rep(3) + kClose},
  };
  for (const auto &[c, want] : kCases) {
    SCOPED_TRACE(c.name);
    StartTrace();
    for (char step : c.steps) Step(step);
    EXPECT_EQ(Entries(), want);
  }
}

TEST_F(Trace, ErrorEntryIsInTheFileAfterTheNextEntry) {
  Step('r');
  TraceClose(0, 4);  // flushes
  EXPECT_NE(LogText("qxdebug.log").find("Recv Error"), std::string::npos);
  EXPECT_NE(LogText("qxdebug.log").find("Close Success"), std::string::npos);
}

TEST_F(Trace, WrappersKeepResultAndErrorAndLogRealCalls) {
  SOCKET client, server;
  ConnectedPair(client, server);
  u_long on = 1;
  ASSERT_EQ(WsIoctlSocket(client, FIONBIO, &on), 0);
  char buf[32];
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(WsRecv(client, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);  // the logger left the error alone
  }
  EXPECT_EQ(WsSend(server, "hello", 5, 0), 5);
  EXPECT_EQ(closesocket(server), 0);
  Sleep(50);
  EXPECT_EQ(WsRecv(client, buf, sizeof buf, 0), 5);
  EXPECT_EQ(WsRecv(client, buf, sizeof buf, 0), 0);  // the peer closed
  EXPECT_EQ(WsCloseSocket(client), 0);
  EXPECT_EQ(WsCloseSocket(client), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  const unsigned c = static_cast<unsigned>(client), s = static_cast<unsigned>(server);
  const std::string want = "IoctlSocket Success: Socket = " + std::to_string(c) + ", Cmd = 8004667E, Arg = 1\n" +
                           "Recv Error: Socket = " + std::to_string(c) + ", Flags = 0, Error = 10035\n" +
                           "Last message was repeated 5 times\n" + "Send Success: Socket = " + std::to_string(s) +
                           ", Flags = 0, Sent 5 of 5\n" +
                           " 68 65 6C 6C 6F                                   hello                        \n" +
                           "Recv Success: Socket = " + std::to_string(c) + ", Flags = 0, Len = 5\n" +
                           " 68 65 6C 6C 6F                                   hello                        \n" +
                           "Recv Success: Socket = " + std::to_string(c) + ", Flags = 0, Len = 0\n" +
                           "Close Success: Socket = " + std::to_string(c) + "\n" +
                           "Close Error: Socket = " + std::to_string(c) + ", Error = 10038\n";
  EXPECT_EQ(Entries(), want);
}

TEST(TraceOff, WrappersWriteNothing) {
  ScratchDir scratch;
  ResetTrace();
  SOCKET s = WsSocket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  EXPECT_EQ(WsCloseSocket(s), 0);
  TraceDaemonStartup(s);
  EXPECT_FALSE(std::filesystem::exists("qxdebug.log"));
}

TEST_F(Trace, DaemonStartupNamesBothEnds) {
  SOCKET client, server;
  ConnectedPair(client, server);
  TraceDaemonStartup(server);
  SOCKET unconnected = socket(AF_INET, SOCK_STREAM, 0);
  TraceDaemonStartup(unconnected);
  sockaddr_in local{}, peer{};
  int len = sizeof local;
  getsockname(server, reinterpret_cast<sockaddr *>(&local), &len);
  len = sizeof peer;
  getpeername(server, reinterpret_cast<sockaddr *>(&peer), &len);
  std::string localText = TraceAddrText(&local), peerText = TraceAddrText(&peer);
  const std::string sv = std::to_string(static_cast<int>(server)), un = std::to_string(static_cast<int>(unconnected));
  EXPECT_EQ(Entries(), " Daemon Startup: Socket - " + sv + ", Sockname - " + localText + "\n" +
                           " Daemon Startup: Socket - " + sv + ", Peername - " + peerText + "\n" +
                           " Daemon Startup: Socket - " + un + ", Sockname - 0.0.0.0,0\n" +
                           " Daemon Startup: Socket - " + un + ", Peername - 0.0.0.0,0\n");
  closesocket(client);
  closesocket(server);
  closesocket(unconnected);
}
