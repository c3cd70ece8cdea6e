// The console session and its desktop: the console user's token, the
// environment block with the display variables of that user's session read
// from its processes, and a process started as that user. Runs as root in a
// mount namespace of its own, where /run holds the seat and session state
// files logind would write, and "nobody" is the user at the console.
#include <windows.h>
#include <ntsecapi.h>
#include <userenv.h>
#include <winsock.h>
#include <wtsapi32.h>

#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <qxtest/loopback.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

std::vector<std::string> BlockEntries(LPVOID block) {
  std::vector<std::string> out;
  for (const char *p = static_cast<const char *>(block); *p; p += std::strlen(p) + 1) out.emplace_back(p);
  return out;
}

std::string Value(const std::vector<std::string> &env, const std::string &name) {
  for (const std::string &e : env)
    if (e.compare(0, name.size() + 1, name + "=") == 0) return e.substr(name.size() + 1);
  return "(unset)";
}

void WriteFile(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

class ConsoleSessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (geteuid() != 0) return;
    // State files of our own: a private mount namespace with an empty /run.
    ASSERT_EQ(unshare(CLONE_NEWNS), 0);
    ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    ASSERT_EQ(mount("tmpfs", "/run", "tmpfs", 0, "mode=0755"), 0);
    ASSERT_EQ(system("mkdir -p /run/systemd/seats /run/systemd/sessions"), 0);
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
  }

  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: a mount namespace and processes started as another user";
    unsetenv("QX_CONSOLE_USER");
    passwd *pw = getpwnam("nobody");
    ASSERT_NE(pw, nullptr);
    nobody_ = pw->pw_uid;
    nobody_home_ = pw->pw_dir;
    unlink("/run/systemd/seats/seat0");
  }

  void TearDown() override {
    for (HANDLE h : started_) {
      TerminateProcess(h, 1);
      WaitForSingleObject(h, 5000);
      CloseHandle(h);
    }
  }

  // logind's state: seat0's active session id of uid, led by leader.
  void Seat(const std::string &id, uid_t uid, DWORD leader, const std::string &display) {
    WriteFile("/run/systemd/seats/seat0", "ACTIVE=" + id + "\nACTIVE_UID=" + std::to_string(uid) + "\n");
    WriteFile("/run/systemd/sessions/" + id, "UID=" + std::to_string(uid) + "\nUSER=x\nACTIVE=1\nTYPE=x11\nLEADER=" +
                                                 std::to_string(leader) + "\nDISPLAY=" + display + "\n");
  }

  // A process of the console user with the given environment, as a desktop
  // session's process would be; its pid.
  DWORD StartSessionProcess(HANDLE token, const std::string &env) {
    std::string block = env;
    for (char &c : block)
      if (c == ' ') c = '\0';
    block += std::string("\0\0", 2);
    std::string line = "sleep 30";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    EXPECT_TRUE(CreateProcessAsUserA(token, nullptr, line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                                     block.data(), nullptr, &si, &pi))
        << GetLastError();
    CloseHandle(pi.hThread);
    started_.push_back(pi.hProcess);
    Sleep(200);  // until the program runs with its own environment
    return pi.dwProcessId;
  }

  HANDLE ConsoleToken() {
    HANDLE token = nullptr;
    EXPECT_EQ(WTSGetActiveConsoleSessionId(), 1u);
    EXPECT_TRUE(WTSQueryUserToken(WTSGetActiveConsoleSessionId(), &token)) << GetLastError();
    return token;
  }

  std::vector<std::string> BlockFor(HANDLE token) {
    LPVOID block = nullptr;
    EXPECT_TRUE(CreateEnvironmentBlock(&block, token, FALSE));
    std::vector<std::string> env = block ? BlockEntries(block) : std::vector<std::string>{};
    DestroyEnvironmentBlock(block);
    return env;
  }

  uid_t nobody_ = 0;
  std::string nobody_home_;
  std::vector<HANDLE> started_;
};

TEST_F(ConsoleSessionTest, NobodyAtTheConsoleMeansNoSessionAndNoToken) {
  EXPECT_EQ(WTSGetActiveConsoleSessionId(), WTS_NO_CONSOLE_SESSION);
  HANDLE token = reinterpret_cast<HANDLE>(1);
  EXPECT_FALSE(WTSQueryUserToken(1, &token));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
  EXPECT_EQ(token, nullptr);
}

// Which process's display the block takes, and when it takes none.
TEST_F(ConsoleSessionTest, TheBlockCarriesTheDisplayOfTheConsoleUsersSession) {
  Seat("7", nobody_, 1, "");
  HANDLE token = ConsoleToken();
  ASSERT_NE(token, nullptr);
  const DWORD on_93 = StartSessionProcess(token, "DISPLAY=:93 XAUTHORITY=/tmp/qx-auth-93 XDG_RUNTIME_DIR=/tmp/qx-rt");
  const DWORD on_94 = StartSessionProcess(token, "DISPLAY=:94 XAUTHORITY=/tmp/qx-auth-94");
  const DWORD no_display = StartSessionProcess(token, "LANG=C");
  struct Case {
    const char *what;
    DWORD leader;
    const char *logind_display;
    uid_t seat_uid;
    const char *display, *xauthority;
  } cases[] = {
      {"the session leader's display", on_93, "", nobody_, ":93", "/tmp/qx-auth-93"},
      {"the display logind names for the session", on_94, ":94", nobody_, ":94", "/tmp/qx-auth-94"},
      {"a session whose processes have no display: logind's", no_display, ":95", nobody_, ":95", "(unset)"},
      {"a session without any display", no_display, "", nobody_, "(unset)", "(unset)"},
  };
  for (const Case &c : cases) {
    Seat("7", c.seat_uid, c.leader, c.logind_display);
    const auto env = BlockFor(token);
    EXPECT_EQ(Value(env, "DISPLAY"), c.display) << c.what;
    EXPECT_EQ(Value(env, "XAUTHORITY"), c.xauthority) << c.what;
    EXPECT_EQ(Value(env, "USER"), "nobody") << c.what;
    EXPECT_EQ(Value(env, "HOME"), nobody_home_) << c.what;
  }
  // Another user at the console: nobody's token gets no display of theirs.
  Seat("7", nobody_, on_93, "");
  const auto before = BlockFor(token);
  EXPECT_EQ(Value(before, "XDG_RUNTIME_DIR"), "/tmp/qx-rt");
  Seat("8", 0, on_93, "");
  EXPECT_EQ(Value(BlockFor(token), "DISPLAY"), "(unset)") << "root is at the console now";
  CloseHandle(token);
}

// The child runs as the token's user with only the standard handles given.
TEST_F(ConsoleSessionTest, ProcessAsTheConsoleUserHasItsIdentityAndOnlyItsStandardHandles) {
  Seat("7", nobody_, 1, "");
  HANDLE token = ConsoleToken();
  ASSERT_NE(token, nullptr);
  SOCKET ours = INVALID_SOCKET, theirs = INVALID_SOCKET;
  ASSERT_TRUE(qxtest::ConnectedPair(ours, theirs));
  LPVOID env = nullptr;
  ASSERT_TRUE(CreateEnvironmentBlock(&env, token, FALSE));
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = si.hStdOutput = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(theirs));
  std::string line = "qx_process_probe report -";
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessAsUserA(token, nullptr, line.data(), nullptr, nullptr, FALSE, 0, env, "/", &si, &pi))
      << GetLastError();
  DestroyEnvironmentBlock(env);
  closesocket(theirs);
  std::string report;
  char buf[1024];
  for (int got; (got = recv(ours, buf, sizeof buf, 0)) > 0;) report.append(buf, static_cast<size_t>(got));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  std::map<std::string, std::string> fields;
  size_t at = 0;
  for (size_t nl; (nl = report.find('\n', at)) != std::string::npos; at = nl + 1) {
    const std::string l = report.substr(at, nl - at);
    const size_t eq = l.find('=');
    if (eq != std::string::npos) fields[l.substr(0, eq)] = l.substr(eq + 1);
  }
  passwd *pw = getpwnam("nobody");
  ASSERT_NE(pw, nullptr);
  EXPECT_EQ(fields["uid"], std::to_string(pw->pw_uid)) << report;
  EXPECT_EQ(fields["euid"], std::to_string(pw->pw_uid));
  EXPECT_EQ(fields["gid"], std::to_string(pw->pw_gid));
  EXPECT_EQ(fields["groups"], std::to_string(pw->pw_gid)) << "only nobody's groups";
  EXPECT_EQ(fields["env_USER"], "nobody");
  EXPECT_EQ(fields["fds"], "0,1,2") << "the standard handles given and /dev/null, nothing else of ours";
  closesocket(ours);

  // Refusals: not a token, a standard handle that is not a socket.
  struct Refusal {
    const char *what;
    HANDLE token;
    HANDLE std_in;
    DWORD error;
  } refusals[] = {
      {"a handle that is not a token", reinterpret_cast<HANDLE>(0x123456), nullptr, ERROR_INVALID_HANDLE},
      {"a standard handle that is not a socket", token, reinterpret_cast<HANDLE>(0x7fff), ERROR_INVALID_HANDLE},
  };
  for (const Refusal &r : refusals) {
    STARTUPINFOA bad{};
    bad.cb = sizeof bad;
    bad.dwFlags = STARTF_USESTDHANDLES;
    bad.hStdInput = r.std_in;
    std::string l = "qx_process_probe exit 0";
    PROCESS_INFORMATION none{};
    SetLastError(0);
    EXPECT_FALSE(
        CreateProcessAsUserA(r.token, nullptr, l.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &bad, &none))
        << r.what;
    EXPECT_EQ(GetLastError(), r.error) << r.what;
  }
  CloseHandle(token);
}

}  // namespace
