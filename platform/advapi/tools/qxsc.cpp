// qxsc: installs, starts, stops, queries and controls services through the
// layer's service control manager.
//
//   qxsc create NAME PATH [display=TEXT] [start=auto|demand|disabled]
//                         [type=own|interactive] [error=ignore|normal|severe|critical]
//                         [depend=A/B] [obj=ACCOUNT]      ("install" is the same)
//   qxsc delete  NAME
//   qxsc start   NAME [ARG...]
//   qxsc stop    NAME            sends SERVICE_CONTROL_STOP and waits until it has stopped
//   qxsc query   NAME
//   qxsc control NAME N          a control code: 1-4 or a user control 128-255
//   qxsc config  NAME [KEY=VALUE...]   shows, or changes (same keys as create, plus binpath=)
//   qxsc list
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <thread>
#include <vector>

namespace {

struct Word {
  const char *text;
  DWORD value;
};
const Word kStarts[] = {{"boot", SERVICE_BOOT_START},
                        {"system", SERVICE_SYSTEM_START},
                        {"auto", SERVICE_AUTO_START},
                        {"demand", SERVICE_DEMAND_START},
                        {"disabled", SERVICE_DISABLED}};
const Word kTypes[] = {{"own", SERVICE_WIN32_OWN_PROCESS},
                       {"share", SERVICE_WIN32_SHARE_PROCESS},
                       {"interactive", SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS},
                       {"kernel", SERVICE_KERNEL_DRIVER},
                       {"filesys", SERVICE_FILE_SYSTEM_DRIVER}};
const Word kErrors[] = {{"ignore", SERVICE_ERROR_IGNORE},
                        {"normal", SERVICE_ERROR_NORMAL},
                        {"severe", SERVICE_ERROR_SEVERE},
                        {"critical", SERVICE_ERROR_CRITICAL}};
const Word kStates[] = {{"STOPPED", SERVICE_STOPPED},
                        {"START_PENDING", SERVICE_START_PENDING},
                        {"STOP_PENDING", SERVICE_STOP_PENDING},
                        {"RUNNING", SERVICE_RUNNING},
                        {"CONTINUE_PENDING", SERVICE_CONTINUE_PENDING},
                        {"PAUSE_PENDING", SERVICE_PAUSE_PENDING},
                        {"PAUSED", SERVICE_PAUSED}};

template <size_t N>
bool Lookup(const Word (&table)[N], const std::string &text, DWORD &out) {
  for (const auto &w : table)
    if (strcasecmp(w.text, text.c_str()) == 0) {
      out = w.value;
      return true;
    }
  return false;
}

template <size_t N>
const char *Name(const Word (&table)[N], DWORD value) {
  for (const auto &w : table)
    if (w.value == value) return w.text;
  return "?";
}

int Fail(const std::string &what) {
  const DWORD e = GetLastError();
  char text[512];
  if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                      nullptr, e, 0, text, sizeof text, nullptr))
    std::snprintf(text, sizeof text, "no text for this error");
  std::fprintf(stderr, "qxsc: %s failed: %s (error %u)\n", what.c_str(), text, e);
  return 1;
}

class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE h) : h_(h) {}
  ~ScHandle() {
    if (h_) CloseServiceHandle(h_);
  }
  ScHandle(const ScHandle &) = delete;
  ScHandle &operator=(const ScHandle &) = delete;
  SC_HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  SC_HANDLE h_;
};

void PrintStatus(const std::string &name, const SERVICE_STATUS &s) {
  std::printf("SERVICE_NAME: %s\n", name.c_str());
  std::printf("        TYPE               : %x\n", s.dwServiceType);
  std::printf("        STATE              : %u  %s\n", s.dwCurrentState, Name(kStates, s.dwCurrentState));
  std::printf("        CONTROLS_ACCEPTED  : %x\n", s.dwControlsAccepted);
  std::printf("        WIN32_EXIT_CODE    : %u\n", s.dwWin32ExitCode);
  std::printf("        SERVICE_EXIT_CODE  : %u\n", s.dwServiceSpecificExitCode);
  std::printf("        CHECKPOINT         : %u\n", s.dwCheckPoint);
  std::printf("        WAIT_HINT          : %u\n", s.dwWaitHint);
}

// key=value options of create and config; a value not given stays unchanged.
struct Options {
  DWORD type = SERVICE_NO_CHANGE, start = SERVICE_NO_CHANGE, error = SERVICE_NO_CHANGE;
  std::string display, depend, obj, binpath;
  bool has_display = false, has_depend = false, has_obj = false, has_binpath = false;
};

bool ParseOptions(const std::vector<std::string> &args, size_t from, Options &o) {
  for (size_t i = from; i < args.size(); ++i) {
    const size_t eq = args[i].find('=');
    if (eq == std::string::npos) return false;
    const std::string key = args[i].substr(0, eq), value = args[i].substr(eq + 1);
    bool ok = true;
    if (key == "start")
      ok = Lookup(kStarts, value, o.start);
    else if (key == "type")
      ok = Lookup(kTypes, value, o.type);
    else if (key == "error")
      ok = Lookup(kErrors, value, o.error);
    else if (key == "display")
      o.display = value, o.has_display = true;
    else if (key == "obj")
      o.obj = value, o.has_obj = true;
    else if (key == "binpath")
      o.binpath = value, o.has_binpath = true;
    else if (key == "depend") {
      // "A/B" -> "A\0B\0\0"
      o.depend.clear();
      for (char c : value) o.depend += c == '/' ? '\0' : c;
      o.depend += std::string(2, '\0');
      o.has_depend = true;
    } else
      ok = false;
    if (!ok) {
      std::fprintf(stderr, "qxsc: bad option %s\n", args[i].c_str());
      return false;
    }
  }
  return true;
}

// Waits until the service reports STOPPED (or no longer runs).
bool WaitStopped(SC_HANDLE service, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  SERVICE_STATUS s{};
  while (std::chrono::steady_clock::now() < deadline) {
    if (!QueryServiceStatus(service, &s) || s.dwCurrentState == SERVICE_STOPPED) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

int ShowConfig(SC_HANDLE service, const std::string &name) {
  DWORD needed = 0;
  QueryServiceConfigA(service, nullptr, 0, &needed);
  std::vector<char> buf(needed ? needed : sizeof(QUERY_SERVICE_CONFIGA));
  auto *c = reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(buf.data());
  if (!QueryServiceConfigA(service, c, static_cast<DWORD>(buf.size()), &needed)) return Fail("QueryServiceConfig");
  std::string deps;
  for (const char *p = c->lpDependencies; p && *p; p += std::strlen(p) + 1)
    deps += (deps.empty() ? "" : "/") + std::string(p);
  std::printf("SERVICE_NAME: %s\n", name.c_str());
  std::printf("        TYPE               : %x\n", c->dwServiceType);
  std::printf("        START_TYPE         : %u  %s\n", c->dwStartType, Name(kStarts, c->dwStartType));
  std::printf("        ERROR_CONTROL      : %u  %s\n", c->dwErrorControl, Name(kErrors, c->dwErrorControl));
  std::printf("        BINARY_PATH_NAME   : %s\n", c->lpBinaryPathName);
  std::printf("        LOAD_ORDER_GROUP   : %s\n", c->lpLoadOrderGroup);
  std::printf("        DISPLAY_NAME       : %s\n", c->lpDisplayName);
  std::printf("        DEPENDENCIES       : %s\n", deps.c_str());
  std::printf("        SERVICE_START_NAME : %s\n", c->lpServiceStartName);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: qxsc create|install NAME PATH [display=T] [start=auto|demand|disabled] [type=own|interactive]\n"
               "                            [error=normal|...] [depend=A/B] [obj=ACCOUNT]\n"
               "       qxsc delete|start|stop|query NAME\n"
               "       qxsc control NAME N\n"
               "       qxsc config NAME [KEY=VALUE...]\n"
               "       qxsc list\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string cmd = args[0];
  if (cmd == "list") {
    ScHandle mgr(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    if (!mgr) return Fail("OpenSCManager");
    DWORD needed = 0, count = 0, resume = 0;
    std::vector<char> buf(4096);
    for (;;) {
      auto *e = reinterpret_cast<LPENUM_SERVICE_STATUSA>(buf.data());
      BOOL ok = EnumServicesStatusA(mgr.get(), SERVICE_TYPE_ALL, SERVICE_STATE_ALL, e, static_cast<DWORD>(buf.size()),
                                    &needed, &count, &resume);
      if (!ok && GetLastError() != ERROR_MORE_DATA) return Fail("EnumServicesStatus");
      for (DWORD i = 0; i < count; ++i)
        std::printf("%-24s %-16s %s\n", e[i].lpServiceName, Name(kStates, e[i].ServiceStatus.dwCurrentState),
                    e[i].lpDisplayName);
      if (ok) return 0;
      if (needed > buf.size()) buf.resize(needed);
    }
  }
  if (args.size() < 2) return Usage();
  const std::string name = args[1];

  if (cmd == "create" || cmd == "install") {
    if (args.size() < 3) return Usage();
    Options o;
    if (!ParseOptions(args, 3, o)) return 2;
    ScHandle mgr(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!mgr) return Fail("OpenSCManager");
    ScHandle svc(CreateServiceA(mgr.get(), name.c_str(), o.has_display ? o.display.c_str() : nullptr,
                                SERVICE_ALL_ACCESS, o.type == SERVICE_NO_CHANGE ? SERVICE_WIN32_OWN_PROCESS : o.type,
                                o.start == SERVICE_NO_CHANGE ? SERVICE_DEMAND_START : o.start,
                                o.error == SERVICE_NO_CHANGE ? SERVICE_ERROR_NORMAL : o.error, args[2].c_str(), nullptr,
                                nullptr, o.has_depend ? o.depend.c_str() : nullptr, o.has_obj ? o.obj.c_str() : nullptr,
                                nullptr));
    if (!svc) return Fail("CreateService");
    std::printf("[SC] CreateService SUCCESS\n");
    return 0;
  }

  ScHandle mgr(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!mgr) return Fail("OpenSCManager");
  ScHandle svc(OpenServiceA(mgr.get(), name.c_str(), cmd == "query" ? SERVICE_QUERY_STATUS : SERVICE_ALL_ACCESS));
  if (!svc) return Fail("OpenService");
  SERVICE_STATUS status{};

  if (cmd == "delete" && args.size() == 2) {
    if (!DeleteService(svc.get())) return Fail("DeleteService");
    std::printf("[SC] DeleteService SUCCESS\n");
    return 0;
  }
  if (cmd == "start") {
    std::vector<const char *> rest;
    for (size_t i = 2; i < args.size(); ++i) rest.push_back(args[i].c_str());
    if (!StartServiceA(svc.get(), static_cast<DWORD>(rest.size()), rest.empty() ? nullptr : rest.data()))
      return Fail("StartService");
    QueryServiceStatus(svc.get(), &status);
    PrintStatus(name, status);
    return 0;
  }
  if (cmd == "stop" && args.size() == 2) {
    if (!ControlService(svc.get(), SERVICE_CONTROL_STOP, &status)) return Fail("ControlService");
    if (!WaitStopped(svc.get(), 30)) {
      std::fprintf(stderr, "qxsc: %s did not stop within 30 seconds\n", name.c_str());
      return 1;
    }
    QueryServiceStatus(svc.get(), &status);
    PrintStatus(name, status);
    return 0;
  }
  if (cmd == "query" && args.size() == 2) {
    if (!QueryServiceStatus(svc.get(), &status)) return Fail("QueryServiceStatus");
    PrintStatus(name, status);
    return 0;
  }
  if (cmd == "control" && args.size() == 3) {
    char *end = nullptr;
    unsigned long code = std::strtoul(args[2].c_str(), &end, 10);
    if (*end || args[2].empty() || code > 255) return Usage();
    if (!ControlService(svc.get(), static_cast<DWORD>(code), &status)) return Fail("ControlService");
    PrintStatus(name, status);
    return 0;
  }
  if (cmd == "config") {
    if (args.size() == 2) return ShowConfig(svc.get(), name);
    Options o;
    if (!ParseOptions(args, 2, o)) return 2;
    if (!ChangeServiceConfigA(svc.get(), o.type, o.start, o.error, o.has_binpath ? o.binpath.c_str() : nullptr, nullptr,
                              nullptr, o.has_depend ? o.depend.c_str() : nullptr, o.has_obj ? o.obj.c_str() : nullptr,
                              nullptr, o.has_display ? o.display.c_str() : nullptr))
      return Fail("ChangeServiceConfig");
    std::printf("[SC] ChangeServiceConfig SUCCESS\n");
    return 0;
  }
  return Usage();
}
