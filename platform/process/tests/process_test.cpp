// Processes: starting the suite's programs by their Windows names, the exact
// command line and show state reaching the child, detached children, exit
// codes, OpenProcess on running and ended processes, reaping, environment
// variables, and a socket taken over by another process with DuplicateHandle.
#include <windows.h>
#include <qxhandover.h>
#include <winsock.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <csignal>
#include <map>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// Freed memory is overwritten, so that a child reading a start's block after
// it was freed gets garbage and fails visibly.
extern "C" const char *__asan_default_options() { return "max_free_fill_size=65536"; }
#endif

namespace {

std::map<std::string, std::string> ReadReport(const std::string &file) {
  std::map<std::string, std::string> out;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

int OpenDescriptors() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (const dirent *e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n - 1;  // the directory's own descriptor
}

bool WaitForFile(const std::string &file, int ms) {
  struct stat st {};
  for (int i = 0; i < ms / 10; ++i) {
    if (stat(file.c_str(), &st) == 0 && st.st_size > 0) {
      Sleep(50);  // let the child finish writing
      return true;
    }
    Sleep(10);
  }
  return false;
}

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qxproc-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }

  // Starts a command line and returns its process information.
  PROCESS_INFORMATION Start(const std::string &line, DWORD flags, int show = -1) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (show >= 0) {
      si.dwFlags = STARTF_USESHOWWINDOW;
      si.wShowWindow = static_cast<WORD>(show);
    }
    std::string writable = line;
    PROCESS_INFORMATION pi{};
    EXPECT_TRUE(CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &si, &pi))
        << line << " error " << GetLastError();
    return pi;
  }

  DWORD WaitExit(const PROCESS_INFORMATION &pi) {
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
  }

  std::string dir_;
};

TEST_F(ProcessTest, SuiteProgramStartsByItsWindowsNameWithExactCommandLine) {
  const std::string file = dir_ + "/report";
  const std::string line = "QX_Process_Probe.EXE report " + file + " \"a b\"  tail ";
  PROCESS_INFORMATION pi = Start(line, DETACHED_PROCESS, 0 /* SW_HIDE */);
  ASSERT_NE(pi.hProcess, nullptr);
  EXPECT_EQ(WaitExit(pi), 7u);
  auto report = ReadReport(file);
  EXPECT_EQ(report["cmdline"], line);
  EXPECT_EQ(report["args"], "report " + file + " \"a b\"  tail ");
  EXPECT_EQ(report["show"], "0");
  EXPECT_EQ(report["own_session"], "1");
  EXPECT_EQ(report["qx_cmdline_left"], "0");
  EXPECT_EQ(report["fds"], "0,1,2");  // nothing of ours was inherited
}

// The child starts with no signal blocked and with SIGPIPE at its default,
// whatever the starting thread blocks or ignores; another ignored signal
// stays ignored, as across any exec.
TEST_F(ProcessTest, ChildStartsWithNoSignalBlockedAndSigpipeAtDefault) {
  struct sigaction ignore {};
  struct sigaction old_pipe {};
  struct sigaction old_usr2 {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old_pipe);
  sigaction(SIGUSR2, &ignore, &old_usr2);
  sigset_t block, old_mask;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &block, &old_mask);
  const std::string file = dir_ + "/signals";
  const DWORD code = WaitExit(Start("qx_process_probe report " + file, DETACHED_PROCESS));
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  sigaction(SIGPIPE, &old_pipe, nullptr);
  sigaction(SIGUSR2, &old_usr2, nullptr);
  ASSERT_EQ(code, 7u);
  auto report = ReadReport(file);
  ASSERT_FALSE(report["SigBlk"].empty());
  EXPECT_EQ(std::stoull(report["SigBlk"], nullptr, 16), 0u);
  const unsigned long long ignored = std::stoull(report["SigIgn"], nullptr, 16);
  EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u);
  EXPECT_NE(ignored & (1ull << (SIGUSR2 - 1)), 0u);
}

TEST_F(ProcessTest, WinExecPassesShowStateAndReportsSuccessAbove31) {
  const std::string file = dir_ + "/winexec";
  EXPECT_GT(WinExec(("qx_process_probe.exe report " + file).c_str(), 5 /* SW_SHOW */), 31u);
  ASSERT_TRUE(WaitForFile(file, 20000));
  auto report = ReadReport(file);
  EXPECT_EQ(report["show"], "5");
  EXPECT_EQ(report["own_session"], "0");
  EXPECT_EQ(report["args"], "report " + file);
}

TEST_F(ProcessTest, MissingProgramsFailWithWin32Codes) {
  EXPECT_EQ(WinExec("no_such_qx_program_anywhere x", 1), 2u);
  std::string line = "no_such_qx_program_anywhere.exe x";
  PROCESS_INFORMATION pi{};
  STARTUPINFOA si{};
  si.cb = sizeof si;
  EXPECT_FALSE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(WinExec("/no/such/dir/prog", 1), 3u);
}

// The image is looked at before a child is made: what cannot run at all
// fails CreateProcess itself with the Win32 code, and a script runs through
// its interpreter.
TEST_F(ProcessTest, ImagesThatCannotRunFailBeforeAChildIsMade) {
  struct Case {
    const char *name;
    const char *content;
    bool starts;
    DWORD error_or_exit;
  };
  const Case cases[] = {
      {"text", "just words\n", false, 193 /* ERROR_BAD_EXE_FORMAT */},
      {"empty", "", false, 193},
      {"nointerp", "#!/no/such/interpreter\nexit 3\n", false, ERROR_FILE_NOT_FOUND},
      {"script", "#!/bin/sh\nexit 9\n", true, 9},
      {"spaced", "#!  /bin/sh -e\nexit 4\n", true, 4},
      // An ELF header over garbage passes the look; its exec fails in the child, which ends with 127.
      {"badelf", "\177ELF garbage", true, 127},
  };
  for (const Case &c : cases) {
    const std::string path = dir_ + "/" + c.name;
    {
      std::ofstream out(path, std::ios::binary);
      out << c.content;
    }
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
    std::string line = path;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    SetLastError(0);
    const BOOL started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si, &pi);
    EXPECT_EQ(started != FALSE, c.starts) << c.name << " error " << GetLastError();
    if (!started) {
      EXPECT_EQ(GetLastError(), c.error_or_exit) << c.name;
    } else {
      EXPECT_EQ(WaitExit(pi), c.error_or_exit) << c.name;
    }
  }
}

// Starts from several threads at once, each caller going on before its child
// has run: every child still gets its own command line, descriptors and
// directory, never another start's.
TEST_F(ProcessTest, ManyStartsAtOnceEachGetTheirOwnCommandLine) {
  constexpr int kThreads = 4, kEach = 6;
  std::vector<std::thread> threads;
  std::vector<std::vector<PROCESS_INFORMATION>> started(kThreads);
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        const std::string line = "qx_process_probe report " + dir_ + "/r" + std::to_string(t) + "_" +
                                 std::to_string(i) + " word" + std::to_string(t * 100 + i);
        started[t].push_back(Start(line, DETACHED_PROCESS));
      }
    });
  for (auto &thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kEach; ++i) {
      ASSERT_EQ(WaitExit(started[t][i]), 7u) << t << " " << i;
      const std::string file = dir_ + "/r" + std::to_string(t) + "_" + std::to_string(i);
      auto report = ReadReport(file);
      EXPECT_EQ(report["args"], "report " + file + " word" + std::to_string(t * 100 + i));
      EXPECT_EQ(report["fds"], "0,1,2");
      EXPECT_EQ(report["SigBlk"].empty() ? ~0ull : std::stoull(report["SigBlk"], nullptr, 16), 0u);
    }
}

TEST_F(ProcessTest, ExitCodesAndStillActive) {
  EXPECT_EQ(WaitExit(Start("qx_process_probe exit 5", DETACHED_PROCESS)), 5u);
  PROCESS_INFORMATION pi = Start("qx_process_probe sleep", DETACHED_PROCESS);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(TerminateProcess(pi.hProcess, 42));
  EXPECT_EQ(WaitExit(pi), 42u);
}

TEST_F(ProcessTest, OpenProcessTellsWhetherAProcessRunsAndEndedChildrenAreReaped) {
  PROCESS_INFORMATION pi = Start("qx_process_probe sleep", DETACHED_PROCESS);
  const DWORD pid = pi.dwProcessId;
  HANDLE opened = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  ASSERT_NE(opened, nullptr);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(opened, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  CloseHandle(opened);
  // The creator lets go of its handles at once, as the super-server does.
  CloseHandle(pi.hThread);
  HANDLE killer = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  ASSERT_NE(killer, nullptr);
  CloseHandle(pi.hProcess);
  ASSERT_TRUE(TerminateProcess(killer, 1));
  CloseHandle(killer);
  bool gone = false;
  for (int i = 0; i < 500 && !gone; ++i) {
    HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!h)
      gone = true;
    else {
      CloseHandle(h);
      Sleep(10);
    }
  }
  EXPECT_TRUE(gone);
  struct stat st {};
  EXPECT_NE(stat(("/proc/" + std::to_string(pid)).c_str(), &st), 0) << "left as a zombie";
  EXPECT_EQ(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 0), nullptr);
}

TEST_F(ProcessTest, CurrentProcessAndCommandLine) {
  EXPECT_EQ(GetCurrentProcess(), reinterpret_cast<HANDLE>(-1));
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(GetCurrentProcess(), &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_NE(std::strstr(GetCommandLineA(), "process_test"), nullptr);
  STARTUPINFOA si;
  GetStartupInfoA(&si);
  EXPECT_EQ(si.cb, sizeof si);
}

TEST_F(ProcessTest, EnvironmentNamesIgnoreCase) {
  ASSERT_TRUE(SetEnvironmentVariableA("QxProcTestVar", "v1"));
  char buf[16];
  EXPECT_EQ(GetEnvironmentVariableA("QXPROCTESTVAR", buf, sizeof buf), 2u);
  EXPECT_STREQ(buf, "v1");
  EXPECT_EQ(GetEnvironmentVariableA("qxproctestvar", buf, 2), 3u);  // too small: the size needed
  ASSERT_TRUE(SetEnvironmentVariableA("QXPROCTESTVAR", "v2"));
  EXPECT_EQ(GetEnvironmentVariableA("QxProcTestVar", buf, sizeof buf), 2u);
  EXPECT_STREQ(buf, "v2");
  ASSERT_TRUE(SetEnvironmentVariableA("qxproctestvar", nullptr));
  EXPECT_EQ(GetEnvironmentVariableA("QxProcTestVar", buf, sizeof buf), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
  EXPECT_FALSE(SetEnvironmentVariableA("A=B", "x"));
}

TEST_F(ProcessTest, DuplicateHandleInProcessCopiesObjectsAndSockets) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  HANDLE copy = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS));
  EXPECT_NE(copy, event);
  ASSERT_TRUE(SetEvent(copy));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  CloseHandle(event);
  EXPECT_EQ(WaitForSingleObject(copy, 0), WAIT_OBJECT_0);  // the object lives on
  CloseHandle(copy);

  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  HANDLE dup = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), QX_HANDLE_FROM(HANDLE, s), GetCurrentProcess(), &dup, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  EXPECT_NE(QX_HANDLE_VALUE(dup), s);
  EXPECT_EQ(closesocket(static_cast<SOCKET>(QX_HANDLE_VALUE(dup))), 0);
  EXPECT_EQ(closesocket(s), 0);
  EXPECT_FALSE(DuplicateHandle(GetCurrentProcess(), QX_HANDLE_FROM(HANDLE, 0xFFFE), GetCurrentProcess(), &dup, 0, FALSE,
                               DUPLICATE_SAME_ACCESS));
  WSACleanup();
}

// Another process takes an accepted socket of ours, serves the client and
// ends; we close our copy; the client sees the taker's bytes and the close.
using HandOverTest = ProcessTest;

// A connected pair on loopback: the client end and the accepted end.
struct LoopbackPair {
  SOCKET listener = INVALID_SOCKET, client = INVALID_SOCKET, accepted = INVALID_SOCKET;
  LoopbackPair() {
    listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    int len = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len);
    listen(listener, 4);
    client = socket(AF_INET, SOCK_STREAM, 0);
    connect(client, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    accepted = accept(listener, nullptr, nullptr);
  }
  ~LoopbackPair() {
    if (accepted != INVALID_SOCKET) closesocket(accepted);
    closesocket(client);
    closesocket(listener);
  }
};

TEST_F(HandOverTest, AnotherProcessTakesTheSocketOfferedToIt) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
  // Warm up once so the layer's own threads and endpoints exist before counting.
  WaitExit(Start("qx_process_probe exit 0", DETACHED_PROCESS));
  const int fds_before = OpenDescriptors();
  {
    LoopbackPair pair;
    ASSERT_NE(pair.accepted, INVALID_SOCKET);
    char line[128];
    std::snprintf(line, sizeof line, "qx_process_probe take %u %lu", pair.accepted,
                  static_cast<unsigned long>(GetCurrentProcessId()));
    ASSERT_TRUE(QxOfferSocketToNextChild(pair.accepted));
    PROCESS_INFORMATION pi = Start(line, DETACHED_PROCESS);
    EXPECT_EQ(WaitExit(pi), 0u);
    EXPECT_EQ(closesocket(pair.accepted), 0);
    pair.accepted = INVALID_SOCKET;

    std::string got;
    char buf[64];
    for (;;) {
      const int n = recv(pair.client, buf, sizeof buf, 0);
      ASSERT_GE(n, 0) << WSAGetLastError();
      if (n == 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, "hello from the taker\r\n");
  }
  // The reaper lets go of the child's pidfd right after collecting it.
  for (int i = 0; i < 200 && OpenDescriptors() != fds_before; ++i) Sleep(10);
  EXPECT_EQ(OpenDescriptors(), fds_before);
  WSACleanup();
}

// Only what was offered, to that child, once, and while it is still the same
// socket: a forged or late hand-over takes nothing (the probe ends with 82).
TEST_F(HandOverTest, SocketsNotOfferedAreRefused) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
  LoopbackPair pair, other;
  ASSERT_NE(pair.accepted, INVALID_SOCKET);
  ASSERT_NE(other.accepted, INVALID_SOCKET);
  const unsigned long me = static_cast<unsigned long>(GetCurrentProcessId());
  auto take = [&](SOCKET s) {
    char line[128];
    std::snprintf(line, sizeof line, "qx_process_probe take %u %lu", s, me);
    return WaitExit(Start(line, DETACHED_PROCESS));
  };
  EXPECT_EQ(take(pair.accepted), 82u) << "never offered";
  ASSERT_TRUE(QxOfferSocketToNextChild(pair.accepted));
  EXPECT_EQ(take(other.accepted), 82u) << "another socket than the one offered";
  EXPECT_EQ(take(pair.accepted), 82u) << "offered to an earlier child";
  ASSERT_TRUE(QxOfferSocketToNextChild(pair.accepted));
  EXPECT_EQ(take(pair.listener), 82u) << "the listener beside the offered socket";

  // Offered, then closed, and the number reused by another socket before the child asks.
  const SOCKET number = pair.accepted;
  ASSERT_TRUE(QxOfferSocketToNextChild(number));
  char line[128];
  std::snprintf(line, sizeof line, "qx_process_probe take %u %lu", number, me);
  closesocket(pair.accepted);
  pair.accepted = INVALID_SOCKET;
  // Lower numbers may come free meanwhile (the reaper closes pidfds): take sockets until one gets it.
  std::vector<SOCKET> spare;
  SOCKET reuse = INVALID_SOCKET;
  for (int i = 0; i < 64 && reuse != number; i++) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == number)
      reuse = s;
    else
      spare.push_back(s);
  }
  for (SOCKET s : spare) closesocket(s);
  ASSERT_EQ(reuse, number);
  EXPECT_EQ(WaitExit(Start(line, DETACHED_PROCESS)), 82u) << "number reused";
  closesocket(reuse);

  EXPECT_FALSE(QxOfferSocketToNextChild(0xFFFE));  // no such socket
  WSACleanup();
}

}  // namespace
