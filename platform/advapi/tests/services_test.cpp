// Services: a test service installed with qxsc, started, sent control 128,
// queried and stopped with the tool, its events read from the log; the
// manager's calls and their refusals; a service run from a shell and stopped
// with SIGTERM.
#include <gtest/gtest.h>
#include <windows.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "test_env.h"

namespace {

auto &g_dirs = advapi_test::Dirs();
using advapi_test::Capture;
using advapi_test::RunTool;

const char kService[] = "Q&XTestService";

std::string ServiceBinary() { return advapi_test::BinDir() + "/advapi_test_service"; }
std::string EventLog() { return advapi_test::ReadFile(std::getenv("QX_EVENTLOG_FILE")); }

// Pids of test services that reported their start, so none is left behind.
std::vector<int> StartedPids() {
  std::vector<int> pids;
  const std::string log = EventLog(), mark = "id=1 \"started pid=";
  for (size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1))
    pids.push_back(std::atoi(log.c_str() + at + mark.size()));
  return pids;
}

class Services : public ::testing::Test {
 protected:
  void SetUp() override {
    RunTool({"qxsc", "stop", kService});
    RunTool({"qxsc", "delete", kService});
  }
  void TearDown() override {
    RunTool({"qxsc", "stop", kService});
    RunTool({"qxsc", "delete", kService});
    // Only a process that is still a test service (its pid may have been reused).
    for (int pid : StartedPids())
      if (advapi_test::ReadFile("/proc/" + std::to_string(pid) + "/comm").rfind("advapi_test_ser", 0) == 0)
        kill(pid, SIGKILL);
  }
};

bool WaitFor(const std::string &text, int ms = 5000) {
  for (int waited = 0; waited < ms; waited += 20) {
    if (EventLog().find(text) != std::string::npos) return true;
    usleep(20000);
  }
  return false;
}

// StartService returns once the dispatcher answers, which may be before the
// service reports RUNNING (as on NT, "sc start" may show START_PENDING): the
// state the tool printed, then the tool's queries, must reach RUNNING.
bool ReachesRunning(const std::string &start_output) {
  if (start_output.find("STATE              : 4  RUNNING") != std::string::npos) return true;
  if (start_output.find("STATE              : 2  START_PENDING") == std::string::npos) return false;
  for (int waited = 0; waited < 10000; waited += 20) {
    if (Capture({"qxsc", "query", kService}).find("STATE              : 4  RUNNING") != std::string::npos) return true;
    usleep(20000);
  }
  return false;
}

TEST_F(Services, InstallStartControlQueryStopWithTheTool) {
  int rc = 0;
  EXPECT_EQ(Capture({"qxsc", "create", kService, ServiceBinary(), "display=QX test service", "start=demand"}, &rc),
            "[SC] CreateService SUCCESS\n");
  ASSERT_EQ(rc, 0);
  // The entry is where NT keeps it, with NT's values.
  const std::string key = std::string("HKLM\\SYSTEM\\CurrentControlSet\\Services\\") + kService;
  EXPECT_EQ(Capture({"qxreg", "get", key, "ImagePath"}), ServiceBinary() + "\n");
  EXPECT_EQ(Capture({"qxreg", "get", key, "Type"}), "0x10 (16)\n");
  EXPECT_EQ(Capture({"qxreg", "get", key, "Start"}), "0x3 (3)\n");
  EXPECT_EQ(Capture({"qxreg", "get", key, "ErrorControl"}), "0x1 (1)\n");
  EXPECT_EQ(Capture({"qxreg", "get", key, "DisplayName"}), "QX test service\n");
  EXPECT_EQ(Capture({"qxreg", "get", key, "ObjectName"}), "LocalSystem\n");

  const std::string started = Capture({"qxsc", "start", kService, "one", "two words"}, &rc);
  ASSERT_EQ(rc, 0) << started;
  ASSERT_TRUE(ReachesRunning(started)) << started;
  ASSERT_TRUE(WaitFor("args=Q&XTestService one two words\""));

  const std::string controlled = Capture({"qxsc", "control", kService, "128"}, &rc);
  EXPECT_EQ(rc, 0) << controlled;
  ASSERT_TRUE(WaitFor("id=128 \"control 128 received\""));
  EXPECT_NE(Capture({"qxsc", "query", kService}).find("4  RUNNING"), std::string::npos);

  const std::string stopped = Capture({"qxsc", "stop", kService}, &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(stopped.find("1  STOPPED"), std::string::npos) << stopped;
  ASSERT_TRUE(WaitFor("id=2 \"stopping\""));
  // The events, in order, each from the service's source.
  const std::string log = EventLog();
  const size_t a = log.find("\"QXTestService32\" information category=0 id=1 \"started");
  const size_t b = log.find("\"QXTestService32\" information category=0 id=128 \"control 128 received\"");
  const size_t c = log.find("\"QXTestService32\" information category=0 id=2 \"stopping\"");
  ASSERT_NE(a, std::string::npos);
  ASSERT_NE(b, std::string::npos);
  ASSERT_NE(c, std::string::npos);
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  // The control socket went with the service ("&" escaped in its file name).
  EXPECT_NE(access((g_dirs.root() + "/run/svc").c_str(), F_OK), -1);
  EXPECT_EQ(access((g_dirs.root() + "/run/svc/q%26xtestservice").c_str(), F_OK), -1);

  EXPECT_EQ(Capture({"qxsc", "delete", kService}, &rc), "[SC] DeleteService SUCCESS\n");
  EXPECT_NE(RunTool({"qxsc", "query", kService}), 0);
}

// A runtime directory too long for a socket address (108 bytes) still holds
// working control sockets: the tool and the service reach them through a
// short alias of the directory.
TEST_F(Services, ALongRuntimeDirectoryStillCarriesControls) {
  const std::string dir = g_dirs.root() + "/" + std::string(70, 'r') + "/" + std::string(70, 'u');
  ASSERT_GT(dir.size() + std::strlen("/svc/q%26xtestservice"), 108u);
  ASSERT_EQ(std::system(("mkdir -p -m 700 '" + dir + "'").c_str()), 0);
  const std::string saved = std::getenv("QX_RUNTIME_DIR");
  setenv("QX_RUNTIME_DIR", dir.c_str(), 1);  // for the tool and the service it starts
  int rc = 0;
  RunTool({"qxsc", "create", kService, ServiceBinary(), "start=demand"});
  const std::string started = Capture({"qxsc", "start", kService}, &rc);
  EXPECT_EQ(rc, 0) << started;
  EXPECT_TRUE(ReachesRunning(started)) << started;
  EXPECT_EQ(RunTool({"qxsc", "control", kService, "129"}), 0);
  EXPECT_TRUE(WaitFor("id=129 \"control 129 received\""));
  const std::string stopped = Capture({"qxsc", "stop", kService}, &rc);
  EXPECT_EQ(rc, 0) << stopped;
  EXPECT_NE(stopped.find("1  STOPPED"), std::string::npos) << stopped;
  EXPECT_EQ(access((dir + "/svc/q%26xtestservice").c_str(), F_OK), -1);  // gone with the service
  setenv("QX_RUNTIME_DIR", saved.c_str(), 1);
}

class Manager {
 public:
  Manager() : h_(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {}
  ~Manager() { CloseServiceHandle(h_); }
  SC_HANDLE get() const { return h_; }

 private:
  SC_HANDLE h_;
};

SC_HANDLE Create(SC_HANDLE mgr, const char *name, const std::string &path, DWORD start = SERVICE_DEMAND_START) {
  return CreateServiceA(mgr, name, nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, start, SERVICE_ERROR_NORMAL,
                        path.c_str(), nullptr, nullptr, "Tcpip\0Afd\0", nullptr, nullptr);
}

TEST_F(Services, ManagerCallsAndRefusals) {
  Manager mgr;
  ASSERT_NE(mgr.get(), nullptr);
  SC_HANDLE svc = Create(mgr.get(), kService, ServiceBinary());
  ASSERT_NE(svc, nullptr);
  SERVICE_STATUS status{};

  struct Refusal {
    const char *what;
    std::function<bool()> call;
    DWORD error;
  };
  const Refusal refusals[] = {
      {"exists (names are case-blind)", [&] { return Create(mgr.get(), "q&xtestSERVICE", ServiceBinary()) != nullptr; },
       ERROR_SERVICE_EXISTS},
      {"bad name", [&] { return Create(mgr.get(), "a/b", ServiceBinary()) != nullptr; }, ERROR_INVALID_NAME},
      {"missing", [&] { return OpenServiceA(mgr.get(), "NoSuchService", SERVICE_ALL_ACCESS) != nullptr; },
       ERROR_SERVICE_DOES_NOT_EXIST},
      {"not running", [&] { return ControlService(svc, 128, &status) != FALSE; }, ERROR_SERVICE_NOT_ACTIVE},
      {"shutdown from outside", [&] { return ControlService(svc, SERVICE_CONTROL_SHUTDOWN, &status) != FALSE; },
       ERROR_INVALID_PARAMETER},
      {"beyond 255", [&] { return ControlService(svc, 256, &status) != FALSE; }, ERROR_INVALID_PARAMETER},
      {"no status record", [&] { return ControlService(svc, 128, nullptr) != FALSE; }, ERROR_INVALID_PARAMETER},
  };
  for (const auto &r : refusals) {
    SCOPED_TRACE(r.what);
    SetLastError(0);
    EXPECT_FALSE(r.call());
    EXPECT_EQ(GetLastError(), r.error);
  }

  ASSERT_TRUE(QueryServiceStatus(svc, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
  EXPECT_EQ(status.dwServiceType, SERVICE_WIN32_OWN_PROCESS);

  // The configuration, with the size rules of the call.
  DWORD needed = 0;
  EXPECT_FALSE(QueryServiceConfigA(svc, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<char> buf(needed);
  auto *config = reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(buf.data());
  ASSERT_TRUE(QueryServiceConfigA(svc, config, needed, &needed));
  EXPECT_STREQ(config->lpBinaryPathName, ServiceBinary().c_str());
  EXPECT_STREQ(config->lpDisplayName, kService);
  EXPECT_STREQ(config->lpServiceStartName, "LocalSystem");
  EXPECT_EQ(std::string(config->lpDependencies, 11), std::string("Tcpip\0Afd\0\0", 11));
  EXPECT_EQ(config->dwStartType, SERVICE_DEMAND_START);

  // Disabled services do not start; enabled again they do, once.
  ASSERT_TRUE(ChangeServiceConfigA(svc, SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, "Shown name"));
  EXPECT_FALSE(StartServiceA(svc, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DISABLED));
  ASSERT_TRUE(ChangeServiceConfigA(svc, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(StartServiceA(svc, 0, nullptr));
  EXPECT_FALSE(StartServiceA(svc, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
  ASSERT_TRUE(WaitFor("id=1 \"started"));
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(QueryServiceStatus(svc, &status));
    if (status.dwCurrentState == SERVICE_RUNNING) break;
    usleep(20000);
  }
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
  EXPECT_EQ(status.dwControlsAccepted, SERVICE_ACCEPT_STOP);
  ASSERT_TRUE(ControlService(svc, 200, &status));
  EXPECT_TRUE(WaitFor("id=200 \"control 200 received\""));
  ASSERT_TRUE(ControlService(svc, SERVICE_CONTROL_INTERROGATE, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);

  // Listed by the enumeration, with its display name.
  std::vector<char> list(8192);
  DWORD count = 0, resume = 0;
  ASSERT_TRUE(EnumServicesStatusA(mgr.get(), SERVICE_WIN32, SERVICE_ACTIVE,
                                  reinterpret_cast<LPENUM_SERVICE_STATUSA>(list.data()),
                                  static_cast<DWORD>(list.size()), &needed, &count, &resume));
  ASSERT_EQ(count, 1u);
  auto *entry = reinterpret_cast<LPENUM_SERVICE_STATUSA>(list.data());
  EXPECT_STREQ(entry->lpServiceName, kService);
  EXPECT_STREQ(entry->lpDisplayName, "Shown name");
  EXPECT_FALSE(EnumServicesStatusA(mgr.get(), SERVICE_WIN32, SERVICE_ACTIVE,
                                   reinterpret_cast<LPENUM_SERVICE_STATUSA>(list.data()), 8, &needed, &count, &resume));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(count, 0u);
  EXPECT_GT(needed, sizeof(ENUM_SERVICE_STATUSA));

  ASSERT_TRUE(ControlService(svc, SERVICE_CONTROL_STOP, &status));
  EXPECT_TRUE(WaitFor("id=2 \"stopping\""));
  EXPECT_TRUE(DeleteService(svc));
  EXPECT_TRUE(CloseServiceHandle(svc));
  EXPECT_FALSE(CloseServiceHandle(svc));
}

TEST_F(Services, AProgramThatEndsAtOnceFailsToStart) {
  Manager mgr;
  SC_HANDLE svc = Create(mgr.get(), kService, "/bin/true");
  ASSERT_NE(svc, nullptr);
  EXPECT_FALSE(StartServiceA(svc, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROCESS_ABORTED));
  ASSERT_TRUE(ChangeServiceConfigA(svc, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                   "C:\\QXTCP\\NOSUCHPROGRAM.EXE", nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr));
  EXPECT_FALSE(StartServiceA(svc, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // A Windows path finds the suite's program of that name (".exe" and case aside).
  ASSERT_TRUE(ChangeServiceConfigA(svc, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                   "C:\\QXTCP\\ADVAPI_TEST_SERVICE.EXE", nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr));
  setenv("PATH", (advapi_test::BinDir() + ":" + std::getenv("PATH")).c_str(), 1);
  EXPECT_TRUE(StartServiceA(svc, 0, nullptr)) << GetLastError();
  SERVICE_STATUS status{};
  EXPECT_TRUE(ControlService(svc, SERVICE_CONTROL_STOP, &status) || GetLastError() == ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
  CloseServiceHandle(svc);
}

TEST_F(Services, AnUnquotedPathWithBlanksTakesTheLongestProgram) {
  // "<root>/dir with blank/advapi_test_service" beside a decoy "<root>/dir":
  // the decoy is a program too, but the longer path names the service.
  unlink(std::getenv("QX_EVENTLOG_FILE"));  // this test's events only
  const std::string dir = g_dirs.root() + "/dir with blank";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  ASSERT_EQ(symlink(ServiceBinary().c_str(), (dir + "/advapi_test_service").c_str()), 0);
  ASSERT_EQ(symlink("/bin/true", (g_dirs.root() + "/dir").c_str()), 0);
  Manager mgr;
  SC_HANDLE svc = Create(mgr.get(), kService, dir + "/advapi_test_service extra");
  ASSERT_NE(svc, nullptr);
  EXPECT_TRUE(StartServiceA(svc, 0, nullptr)) << GetLastError();
  EXPECT_TRUE(WaitFor("id=1 \"started"));
  SERVICE_STATUS status{};
  for (int i = 0; i < 100 && (QueryServiceStatus(svc, &status), status.dwCurrentState != SERVICE_RUNNING); ++i)
    usleep(20000);
  EXPECT_TRUE(ControlService(svc, SERVICE_CONTROL_STOP, &status));
  EXPECT_TRUE(WaitFor("id=2 \"stopping\""));
  CloseServiceHandle(svc);
}

TEST_F(Services, RunFromAShellItStopsOnSigterm) {
  pid_t pid = advapi_test::Spawn({"advapi_test_service"});
  ASSERT_GT(pid, 0);
  std::string pid_text = "started pid=" + std::to_string(pid) + " ";
  ASSERT_TRUE(WaitFor(pid_text));
  // It answers the tool while in the foreground, as it would as a service.
  Manager mgr;
  SC_HANDLE svc = Create(mgr.get(), kService, ServiceBinary());
  ASSERT_NE(svc, nullptr);
  SERVICE_STATUS status{};
  for (int i = 0; i < 100 && (QueryServiceStatus(svc, &status), status.dwCurrentState != SERVICE_RUNNING); ++i)
    usleep(20000);
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
  // A second instance is refused while the first runs.
  EXPECT_EQ(RunTool({"advapi_test_service"}), 1);
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_EQ(advapi_test::Wait(pid), 0);
  EXPECT_TRUE(WaitFor("id=2 \"stopping\""));
  ASSERT_TRUE(QueryServiceStatus(svc, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
  CloseServiceHandle(svc);
}

// Sends one request line to a control socket as another user (uid/gid 65534)
// and returns the error code of the reply, or -1.
int RequestAsNobody(const std::string &socket_path, const char *request) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket_path.c_str());
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return -1;
  const size_t request_size = std::strlen(request);
  pid_t pid = fork();
  if (pid == 0) {
    // Only system calls from here on.
    int code = -1;
    if (setgid(65534) == 0 && setuid(65534) == 0) {
      int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      char reply[128] = {};
      if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
          write(fd, request, request_size) == static_cast<ssize_t>(request_size) &&
          read(fd, reply, sizeof reply - 1) > 0) {
        code = 0;
        for (const char *p = reply; *p >= '0' && *p <= '9'; ++p) code = code * 10 + (*p - '0');
      }
    }
    ssize_t w = write(pipe_fds[1], &code, sizeof code);
    (void)w;
    _exit(0);
  }
  close(pipe_fds[1]);
  int code = -1;
  if (read(pipe_fds[0], &code, sizeof code) != sizeof code) code = -1;
  close(pipe_fds[0]);
  advapi_test::Wait(pid);
  return code;
}

TEST_F(Services, OtherUsersMaySendUserControlsButNotStop) {
  if (geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  unlink(std::getenv("QX_EVENTLOG_FILE"));  // this test's events only
  pid_t pid = advapi_test::Spawn({"advapi_test_service"});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitFor("started pid=" + std::to_string(pid) + " "));
  // Let another user reach the socket; its rights are the dispatcher's to check.
  const std::string socket_path = g_dirs.root() + "/run/svc/q%26xtestservice";
  for (const std::string &dir : {g_dirs.root(), g_dirs.root() + "/run", g_dirs.root() + "/run/svc"})
    ASSERT_EQ(chmod(dir.c_str(), 0711), 0);
  ASSERT_EQ(chmod(socket_path.c_str(), 0666), 0);

  EXPECT_EQ(RequestAsNobody(socket_path, "control 1\n"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RequestAsNobody(socket_path, "control 2\n"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RequestAsNobody(socket_path, "control 130\n"), ERROR_SUCCESS);
  EXPECT_EQ(RequestAsNobody(socket_path, "query\n"), ERROR_SUCCESS);
  EXPECT_TRUE(WaitFor("id=130 \"control 130 received\""));
  EXPECT_EQ(EventLog().find("id=2 \"stopping\""), std::string::npos);  // still running

  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_EQ(advapi_test::Wait(pid), 0);
  for (const std::string &dir : {g_dirs.root(), g_dirs.root() + "/run", g_dirs.root() + "/run/svc"})
    chmod(dir.c_str(), 0700);
}

}  // namespace
