// portwarden running on loopback with its daemons, against real peers: Debian's
// rdate and nc, raw UDP and TCP clients; the hand-over under load, the
// hand-over timer, and a stop through the service manager's tool.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "qxtest/automation.h"
#include "qxtest/support.h"
#include "portwarden_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

using namespace pwtest;

// Descriptors of a process that are TCP sockets with the given local port
// (its listener and its copies of accepted connections).
int SocketsOnPort(pid_t pid, int port) {
  std::vector<std::string> inodes;
  std::istringstream table(ReadFile("/proc/net/tcp"));
  std::string line;
  std::getline(table, line);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
    if (local.size() > 9 && std::stoi(local.substr(9), nullptr, 16) == port) inodes.push_back("socket:[" + inode + "]");
  }
  std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
  DIR *dir = opendir(fdDir.c_str());
  int count = 0;
  while (dirent *e = dir ? readdir(dir) : nullptr) {
    char target[128];
    ssize_t n = readlink((fdDir + "/" + e->d_name).c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    for (const std::string &inode : inodes) count += inode == target ? 1 : 0;
  }
  if (dir) closedir(dir);
  return count;
}

// Sends one datagram to 127.0.0.1:port and waits for one reply.
std::string UdpExchange(int port, const std::string &request, int timeoutMs = 3000) {
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons((uint16_t)port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(s, request.data(), request.size(), 0, (sockaddr *)&to, sizeof to);
  char buffer[2048];
  ssize_t got = recv(s, buffer, sizeof buffer, 0);
  close(s);
  return got > 0 ? std::string(buffer, (size_t)got) : std::string();
}

TEST_F(PortwardenTest, TimeAnsweredForRdateOverUdpAndTcpAndRawUdp) {
  std::string port = std::to_string(port_);
  Table("set clockanswer port=" + port + " enabled=1");
  Table("set 12 name=clocktcp program=clockanswer proto=tcp port=" + port + " max=4 enabled=1");
  Table("logging on");
  Start();
  ASSERT_TRUE(WaitEvents(105, 2));
  EXPECT_EQ(Events(105, "Opened clockanswer on port " + port + ", socket "), 1);

  for (const char *form : {"-u ", ""}) {
    int status = 0;
    std::string out = Shell(std::string("rdate -p ") + form + "-o " + port + " 127.0.0.1 2>&1", &status);
    ASSERT_EQ(status, 0) << form << out;
    // "Thu Dec 10 14:54:36 UTC 2026": the zone name is left out of the parse.
    std::istringstream words(out);
    std::string day, month, mday, clock, zone, year;
    words >> day >> month >> mday >> clock >> zone >> year;
    if (year.empty()) year = zone;
    tm shown{};
    ASSERT_NE(
        strptime((day + " " + month + " " + mday + " " + clock + " " + year).c_str(), "%a %b %d %H:%M:%S %Y", &shown),
        nullptr)
        << out;
    shown.tm_isdst = -1;
    EXPECT_LE(std::labs((long)(mktime(&shown) - time(nullptr))), 3L) << out;
  }
  // After the idle time the UDP daemon ends and the port is ours again.
  ASSERT_TRUE(WaitEvents(105, 2, 5000, "Opened clockanswer"));
  std::string reply = UdpExchange(port_, "x");
  ASSERT_EQ(reply.size(), 4u);
  uint32_t value = ntohl(*(const uint32_t *)reply.data());
  EXPECT_LE(std::labs((long)((long long)value - ((long long)time(nullptr) + 2208988800LL) % 4294967296LL)), 2L);
  EXPECT_EQ(Events(107, "Incoming connect for clockanswer"), 2);
  EXPECT_EQ(Events(106, "Incoming connect from 127.0.0.1 for clocktcp"), 1);
}

TEST_F(PortwardenTest, QuoteForNcAndNameAnswersByteForByte) {
  std::ofstream(dir_ + "/COOKIE.JAR", std::ios::binary) << "1%Only one quote in this jar,\n1%over two lines.\n";
  std::string quotePort = std::to_string(port_ + 1), namePort = std::to_string(port_ + 2);
  Table("set quipserve port=" + quotePort + " enabled=1");
  Table("set nameanswer port=" + namePort + " enabled=1");
  Start();
  ASSERT_TRUE(WaitFor([&] { return Shell("ss -lnu | grep -c ':" + namePort + " '") != "0\n"; }, 5000));
  ASSERT_TRUE(WaitFor([&] { return Shell("ss -lnu | grep -c ':" + quotePort + " '") != "0\n"; }, 5000));

  std::string quote = Shell("echo | nc -u -w1 127.0.0.1 " + quotePort);
  EXPECT_EQ(quote, "Only one quote in this jar,\nover two lines.\n");

  const std::string known("\x01\x09localhost", 11);
  EXPECT_EQ(UdpExchange(port_ + 2, known), known + std::string("\x02\x04\x7f\x00\x00\x01", 6));
  const std::string unknown("\x01\x14no-such-host.invalid", 22);
  EXPECT_EQ(UdpExchange(port_ + 2, unknown), unknown + "\x03\x0fUnknown machine");
  // A length past the datagram is dropped; the daemon answers the next one.
  EXPECT_EQ(UdpExchange(port_ + 2,
                        std::string("\x01\xc8"
                                    "abc",
                                    5),
                        500),
            "");
  EXPECT_EQ(UdpExchange(port_ + 2, known), known + std::string("\x02\x04\x7f\x00\x00\x01", 6));
}

TEST_F(PortwardenTest, QuoteWithoutCookieJarApologises) {
  Table("set quipserve port=" + std::to_string(port_ + 1) + " enabled=1");
  Start();
  ASSERT_TRUE(WaitFor([&] { return Shell("ss -lnu | grep -c ':" + std::to_string(port_ + 1) + " '") != "0\n"; }, 5000));
  EXPECT_EQ(UdpExchange(port_ + 1, "\n"), "Sorry, I can't find the cookie jar!\n");
}

TEST_F(PortwardenTest, HandOverUnderLoadWithMaximumFour) {
  std::string port = std::to_string(port_ + 3);
  Table("set 12 name=testd program=servers_testd proto=tcp port=" + port + " max=4 enabled=1 \"params=a  b\"");
  Table("logging on");
  Start();
  ASSERT_TRUE(WaitEvents(105, 1));
  EXPECT_EQ(SocketsOnPort(pid_, port_ + 3), 1);

  std::vector<int> clients;
  for (int i = 0; i < 4; i++) {
    int s = TcpConnect(port_ + 3);
    ASSERT_GE(s, 0);
    EXPECT_EQ(ReadLine(s), "ok a b");
    clients.push_back(s);
  }
  // At the maximum the listener is closed and every handed copy released.
  ASSERT_TRUE(WaitFor([&] { return SocketsOnPort(pid_, port_ + 3) == 0; }, 5000)) << SocketsOnPort(pid_, port_ + 3);
  EXPECT_EQ(TcpConnect(port_ + 3), -1);
  close(clients.back());
  clients.pop_back();
  ASSERT_TRUE(WaitEvents(112, 1));
  EXPECT_EQ(Events(112, "Restarting listen at "), 1);
  ASSERT_TRUE(WaitEvents(105, 2));
  for (int s : clients) close(s);

  // Sixteen clients at once: each is served sooner or later. Refused or reset
  // ones (the listener closed at the maximum) retry; so does one whose
  // handshake the kernel left half-done when the accept queue overflowed,
  // after its read times out.
  std::atomic<int> served{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 16; i++)
    threads.emplace_back([&] {
      for (int attempt = 0; attempt < 200; attempt++) {
        int s = TcpConnect(port_ + 3);
        if (s < 0) {
          usleep(25000);
          continue;
        }
        bool ok = ReadLine(s) == "ok a b";
        usleep(50000);
        close(s);
        if (ok) {
          served++;
          return;
        }
      }
    });
  for (auto &t : threads) t.join();
  EXPECT_EQ(served.load(), 16);
  EXPECT_EQ(Events(106, "Incoming connect from 127.0.0.1 for testd"), 20);
  // Every session was reported once: none missing (the listener is back), none extra.
  ASSERT_TRUE(WaitFor([&] { return SocketsOnPort(pid_, port_ + 3) == 1; }, 5000)) << SocketsOnPort(pid_, port_ + 3);
  EXPECT_EQ(Events(111), 0);
  int s = TcpConnect(port_ + 3);
  ASSERT_GE(s, 0);
  EXPECT_EQ(ReadLine(s), "ok a b");
  close(s);
}

TEST_F(PortwardenTest, BogusSessionEndsAreLoggedAndIgnored) {
  std::string port = std::to_string(port_ + 4);
  Table("set 12 name=testd program=servers_testd proto=tcp port=" + port + " max=1 enabled=1 params=bogus");
  Table("logging on");
  Start();
  ASSERT_TRUE(WaitEvents(105, 1));
  int s = TcpConnect(port_ + 4);
  ASSERT_GE(s, 0);
  EXPECT_EQ(ReadLine(s), "ok bogus");
  ASSERT_TRUE(WaitEvents(110, 2));
  EXPECT_EQ(Events(110, "Received close for Invalid handle 32 at "), 1);
  EXPECT_EQ(Events(110, "Received close for Invalid handle -1 at "), 1);
  EXPECT_EQ(TcpConnect(port_ + 4), -1);  // still at its maximum of one
  close(s);
  ASSERT_TRUE(WaitEvents(112, 1));
}

TEST_F(PortwardenTest, SilentDaemonsCopyClosedByTheTimer) {
  setenv("QX_TEST_HANDOVER_MS", "700", 1);
  Table("set 12 name=mute program=servers_mute proto=tcp port=" + std::to_string(port_ + 5) + " max=4 enabled=1");
  Start();
  ASSERT_TRUE(WaitFor([&] { return TcpConnect(port_ + 5) >= 0 || false; }, 5000));  // first client, served by mute
  int s = TcpConnect(port_ + 5);
  ASSERT_GE(s, 0);
  // The only copy of the connection is the super-server's: the timer closes it.
  char c;
  auto started = Clock::now();
  EXPECT_EQ(recv(s, &c, 1, 0), 0);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(15));  // the real hand-over timer is 30 s
  close(s);
}

TEST_F(PortwardenTest, DaemonStartedByHandShowsItsMessageBoxAndFails) {
  const struct {
    const char *line;
    int status; /* the field of the hand-over word that is missing */
  } cases[] = {{"", 1}, {"12.34.56. x", 4}, {"12.34.56. -r /srv/tftp.d", 4}, {"12. 34.56.7.", 2}};
  for (const auto &c : cases) {
    int status = -1;
    std::string out = Shell("'" + BinDir() + "/quipserve' " + c.line + " 2>&1", &status);
    EXPECT_NE(out.find("[QX Daemon Invocation Error] This program is not intended to be run manually; it is "
                       "to be started by PORTWARDEN."),
              std::string::npos)
        << out;
    EXPECT_EQ(status, c.status) << c.line;
  }
}

TEST_F(PortwardenTest, KilledUdpDaemonFreesItsPortAtOnce) {
  setenv("QX_TEST_DAEMON_IDLE_MS", "20000", 1);  // the daemon would otherwise stay a long while
  Table("set clockanswer port=" + std::to_string(port_ + 8) + " enabled=1");
  Table("logging on");
  Start();
  ASSERT_TRUE(WaitEvents(105, 1));
  ASSERT_EQ(UdpExchange(port_ + 8, "x").size(), 4u);
  std::vector<pid_t> daemons;
  ASSERT_TRUE(WaitFor([&] { return (daemons = DaemonPids("clockanswer")).size() == 1; }, 3000));
  kill(daemons[0], SIGKILL);
  // The super-server sees the end itself: the session ends as a report would end it.
  ASSERT_TRUE(WaitEvents(112, 1, 3000));
  ASSERT_TRUE(WaitEvents(105, 2, 3000));
  EXPECT_EQ(UdpExchange(port_ + 8, "x").size(), 4u);
  EXPECT_EQ(Events(111), 0);
  EXPECT_EQ(Events(112), 1);
}

TEST_F(PortwardenTest, ProgramThatNeverReportsDoesNotKeepItsSession) {
  // "/bin/sh" is started with the hand-over word as a script name: it fails and never reports.
  Table("set 12 name=shell program=/bin/sh proto=tcp port=" + std::to_string(port_ + 9) + " max=1 enabled=1");
  Table("logging on");
  setenv("QX_TEST_HANDOVER_MS", "700", 1);
  Start();
  ASSERT_TRUE(WaitEvents(105, 1));
  for (int round = 1; round <= 2; round++) {
    int s = -1;
    ASSERT_TRUE(WaitFor([&] { return (s = TcpConnect(port_ + 9)) >= 0; }, 5000)) << round;
    ASSERT_TRUE(WaitEvents(112, round, 5000)) << round;  // the slot at its maximum of one is freed
    close(s);
  }
  EXPECT_EQ(Events(106, "for shell"), 2);
  EXPECT_EQ(Events(111), 0);
}

TEST_F(PortwardenTest, ForgedHandOverWordInTheTableTakesNothing) {
  // The program text carries its own hand-over word naming descriptor 3 of
  // process 1: the daemon reads that one, and no process lends it anything.
  Table("set 12 name=forged \"program=servers_testd 3.1.0.0.\" proto=tcp port=" + std::to_string(port_ + 15) +
        " max=1 enabled=1");
  Table("logging on");
  setenv("QX_TEST_HANDOVER_MS", "700", 1);
  Start();
  ASSERT_TRUE(WaitEvents(105, 1));
  int s = TcpConnect(port_ + 15);
  ASSERT_GE(s, 0);
  EXPECT_EQ(ReadLine(s), "");  // no greeting: the daemon holds no socket; our copy closes at the timer
  close(s);
  ASSERT_TRUE(WaitEvents(112, 1, 5000));  // its end frees the slot although it never reported
}

TEST_F(PortwardenTest, FailuresAreLoggedAndTheServiceGoesOn) {
  // A UDP port another program holds, a program that does not exist, a TCP service that works.
  int holder = socket(AF_INET, SOCK_DGRAM, 0);
  int on = 1;
  setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);  // sharing is refused all the same
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons((uint16_t)(port_ + 10));
  ASSERT_EQ(bind(holder, (sockaddr *)&address, sizeof address), 0);
  Table("set clockanswer port=" + std::to_string(port_ + 10) + " enabled=1");
  Table("set 12 name=missing program=no-such-daemon proto=tcp port=" + std::to_string(port_ + 11) + " max=2 enabled=1");
  Table("set 13 name=testd program=servers_testd proto=tcp port=" + std::to_string(port_ + 12) + " max=2 enabled=1");
  Table("logging on");
  Start();
  ASSERT_TRUE(WaitEvents(105, 2));
  EXPECT_EQ(Events(102), 1);
  EXPECT_EQ(Events(104, "Bind failure on port " + std::to_string(port_ + 10) + ", program clockanswer, Error 10048"),
            1);
  for (int round = 1; round <= 2; round++) {
    int s = TcpConnect(port_ + 11);
    ASSERT_GE(s, 0) << round;  // the listener stays for the next client
    ASSERT_TRUE(WaitEvents(108, round)) << round;
    close(s);
  }
  EXPECT_EQ(Events(108, "** Error activating no-such-daemon "), 2);
  int s = TcpConnect(port_ + 12);
  ASSERT_GE(s, 0);
  EXPECT_EQ(ReadLine(s), "ok");
  close(s);
  close(holder);
}

TEST_F(PortwardenTest, SocketFailureWhenDescriptorsRunOutIsLogged) {
  constexpr int kServices = 6, kRefused = 3;
  for (int i = 0; i < kServices; i++)
    Table("set " + std::to_string(12 + i) + " name=t" + std::to_string(i) +
          " program=servers_testd proto=tcp port=" + std::to_string(port_ + 13 + i) + " max=2 enabled=1");
  Table("logging on");
  // A first run shows the descriptor of the last listener made: listeners are
  // made last, and a descriptor is always the lowest one free.
  Start();
  ASSERT_TRUE(WaitEvents(105, kServices));
  int highest = -1;
  std::istringstream events(ReadFile(dir_ + "/events.txt"));
  for (std::string line; std::getline(events, line);)
    if (auto at = line.find(", socket "); at != std::string::npos) highest = std::max(highest, atoi(&line[at + 9]));
  ASSERT_GT(highest, kServices);
  Stop();
  std::filesystem::remove(dir_ + "/events.txt");

  // A limit below it leaves the last listeners without a socket.
  Start(static_cast<rlim_t>(highest + 1 - kRefused));
  ASSERT_TRUE(WaitEvents(101, kRefused)) << ReadFile(dir_ + "/events.txt");
  EXPECT_EQ(Events(105), kServices - kRefused);
  for (int i = kServices - kRefused; i < kServices; i++)
    EXPECT_EQ(Events(101, "Socket failure on port " + std::to_string(port_ + 13 + i) +
                              ", program servers_testd, Error 10024 at "),
              1)
        << i;
  // The stop path may need descriptors of its own (the sanitizers' checks do).
  rlimit plenty{};
  getrlimit(RLIMIT_NOFILE, &plenty);
  EXPECT_EQ(prlimit(pid_, RLIMIT_NOFILE, &plenty, nullptr), 0);
}

TEST_F(PortwardenTest, PortZeroInTheFileIsRefused) {
  // Written by hand: logging on, one TCP record (used, enabled) on port 0.
  std::ofstream(dir_ + "/PORTWARDEN.CFG", std::ios::binary) << std::string(
      "\x01"
      "\x09\x00\x00\x01\x00\x00\x00"
      "\x05\x00\x00\x00zero\x00"
      "\x0e\x00\x00\x00servers_testd\x00"
      "\x01\x00\x00\x00\x00",
      1 + 7 + 9 + 18 + 5);
  Start();
  ASSERT_TRUE(WaitEvents(104, 1));
  EXPECT_EQ(Events(104, "Bind failure on port 0, program servers_testd, Error 10049"), 1);
  EXPECT_EQ(Events(103, "Network Error: 10049"), 1);
  EXPECT_EQ(Events(105), 0);
}

TEST_F(PortwardenTest, NothingLoggedWithLoggingOffOrWithoutATableFile) {
  Start();  // no table file: the default rows, nothing enabled, nothing listening
  usleep(500000);
  ASSERT_EQ(waitpid(pid_, nullptr, WNOHANG), 0);  // still running
  EXPECT_EQ(SocketsOnPort(pid_, 37), 0);
  Stop();
  Table("set clockanswer port=" + std::to_string(port_ + 13) + " enabled=1");
  Table("logging off");
  Start();
  ASSERT_TRUE(WaitFor([&] { return UdpExchange(port_ + 13, "x", 300).size() == 4; }, 5000));
  Stop();
  EXPECT_EQ(ReadFile(dir_ + "/events.txt"), "");
}

TEST_F(PortwardenTest, SecondServerIsRefusedAndNeverSharesAUdpPort) {
  std::string port = std::to_string(port_ + 14);
  Table("set clockanswer port=" + port + " enabled=1");
  Start();
  ASSERT_TRUE(WaitFor([&] { return Shell("ss -lnu | grep -c ':" + port + " '") != "0\n"; }, 5000));
  // The same service again, by hand: refused with the reason.
  int status = 0;
  std::string out = Shell("cd '" + dir_ + "' && timeout 10 '" + BinDir() + "/portwarden' 2>&1 </dev/null", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("already running"), std::string::npos) << out;
  // Another super-server of another runtime directory: its bind fails and it says so.
  out = Shell("cd '" + dir_ + "' && QX_RUNTIME_DIR='" + dir_ + "/run2' QX_EVENTLOG_FILE='" + dir_ +
                  "/events2.txt' timeout 2 '" + BinDir() + "/portwarden' 2>&1 </dev/null",
              &status);
  EXPECT_NE(out.find("cannot listen on UDP port " + port + " for clockanswer"), std::string::npos) << out;
  // Nor does any other program share it, even when it asks to.
  int other = socket(AF_INET, SOCK_DGRAM, 0);
  int on = 1;
  setsockopt(other, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons((uint16_t)(port_ + 14));
  EXPECT_NE(bind(other, (sockaddr *)&address, sizeof address), 0);
  close(other);
  EXPECT_EQ(UdpExchange(port_ + 14, "x").size(), 4u);
}

TEST_F(PortwardenTest, TableToolRefusesBadWordsAndKeepsADamagedFile) {
  Table("set clockanswer port=3700 enabled=1");
  std::string file = dir_ + "/PORTWARDEN.CFG";
  std::string before = ReadFile(file);
  int status = 0;
  std::string out = Pwtable("logging maybe", &status);
  EXPECT_EQ(status, 2) << out;
  EXPECT_NE(out.find("logging takes on or off"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(file), before);

  // Cut in the middle of its last record: reported, never replaced without --force.
  std::string damaged = before.substr(0, before.size() - 3);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << damaged;
  out = Pwtable("list", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("cannot be read whole: record 12"), std::string::npos) << out;
  EXPECT_NE(out.find("quipserve"), std::string::npos) << out;  // the rows before the fault are shown
  out = Pwtable("enable quipserve", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("--force"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(file), damaged);
  out = Pwtable("--force enable quipserve", &status);
  EXPECT_EQ(status, 0) << out;
  out = Pwtable("list", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("clockanswer"), std::string::npos) << out;
  EXPECT_EQ(out.find("startanswer"), std::string::npos) << out;  // the cut record is gone for good
}

TEST_F(PortwardenTest, StopThroughServiceManager) {
  std::string a = std::to_string(port_ + 6), b = std::to_string(port_ + 7);
  // A service starts in "/": its table file is found in the Windows directory.
  Table("-w set 12 name=one program=servers_testd proto=tcp port=" + a + " max=2 enabled=1");
  Table("-w set clockanswer port=" + b + " enabled=1");
  Table("-w logging on");
  std::string qxsc = "'" + BinDir() + "/qxsc' ";
  int status = 0;
  std::string out = Shell(qxsc + "create 'Q&Xportwarden' '" + BinDir() + "/portwarden' 2>&1", &status);
  ASSERT_EQ(status, 0) << out;
  out = Shell(qxsc + "start 'Q&Xportwarden' 2>&1", &status);
  ASSERT_EQ(status, 0) << out;
  ASSERT_TRUE(WaitEvents(105, 2));
  // Control 128 shows the Control dialog in the service; when it is closed the
  // service signals the named event it shares with whoever waits on it.
  HANDLE controlled = CreateEventA(nullptr, FALSE, FALSE, "PortwardenControl");
  ASSERT_NE(controlled, nullptr);
  out = Shell(qxsc + "control 'Q&Xportwarden' 128 2>&1", &status);
  EXPECT_EQ(status, 0) << out;
  std::vector<pid_t> service = DaemonPids("portwarden");
  ASSERT_EQ(service.size(), 1u);
  std::string dialog =
      qxtest::AutomationValue(qxtest::AutomationAwaitOk(service[0], "find - Portwarden Configuration", 20000));
  ASSERT_FALSE(dialog.empty()) << "control 128 never reached the service";
  std::string close = qxtest::AutomationValue(qxtest::AutomationCommand(service[0], "item " + dialog + " 102"));
  EXPECT_EQ(qxtest::AutomationCommand(service[0], "press " + close), "ok");
  EXPECT_EQ(WaitForSingleObject(controlled, 5000), WAIT_OBJECT_0) << "the closed dialog signalled nothing";
  CloseHandle(controlled);
  out = Shell("timeout 10 '" + BinDir() + "/portwarden' 2>&1 </dev/null", &status);
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("is already running (An instance of the service is already running. (error 1056)); stop it "
                     "first with: qxsc stop"),
            std::string::npos)
      << out;
  out = Shell(qxsc + "start 'Q&Xportwarden' 2>&1", &status);  // tools print the error's text beside its number
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("qxsc: StartService failed: An instance of the service is already running. (error 1056)"),
            std::string::npos)
      << out;
  out = Shell(qxsc + "stop 'Q&Xportwarden' 2>&1", &status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_NE(out.find("STOPPED"), std::string::npos) << out;
  EXPECT_EQ(Events(100), 0);  // logging ends before the listeners close
  EXPECT_TRUE(WaitFor([&] { return Shell("ss -lntu | grep -c -E ':(" + a + "|" + b + ") '") == "0\n"; }, 3000));
}

}  // namespace
