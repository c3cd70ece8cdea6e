// The service control manager: the service table lives in the registry under
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\<name> (ImagePath,
// Start, Type, ErrorControl, DisplayName, ObjectName as on NT); StartService
// starts the program detached; ControlService and QueryServiceStatus talk to
// the running service's dispatcher over its control socket. There is no
// manager daemon: a service runs when its control socket answers.
#include <windows.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <thread>
#include <vector>

#include "qx/env.h"
#include "qx/errors.h"
#include "qx/handles.h"
#include "qx/paths.h"
#include "service_channel.h"

// The files part maps Windows paths through the drive table; a build without
// that part (see QX_PLATFORM_PARTS) finds programs by name only.
namespace qx {
bool HostPath(std::string_view path, std::string &host, DWORD &error) __attribute__((weak));
}

extern char **environ;

using qx::Fail;

namespace {

const char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services";
constexpr size_t kMaxServiceName = 256;
constexpr int kControlTimeoutMs = 30000;

struct ScObject : qx::KernelObject {
  ScObject(qx::ObjectKind kind, std::string n, DWORD a) : qx::KernelObject(kind), name(std::move(n)), access(a) {}
  std::string name;  // the service's name as stored (empty for the manager)
  DWORD access;
};

struct ServiceConfig {
  DWORD type = 0, start = SERVICE_DEMAND_START, error_control = SERVICE_ERROR_NORMAL;
  std::string image_path, group, display_name, object_name;
  std::string dependencies;  // multi-string with its closing NUL
};

// --- registry access -------------------------------------------------------

class Key {
 public:
  Key() = default;
  ~Key() {
    if (h_) RegCloseKey(h_);
  }
  Key(const Key &) = delete;
  Key &operator=(const Key &) = delete;
  HKEY *out() { return &h_; }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

bool ValidServiceName(const char *name) {
  if (!name || !*name || std::strlen(name) > kMaxServiceName) return false;
  for (const char *p = name; *p; ++p)
    if (*p == '/' || *p == '\\' || static_cast<unsigned char>(*p) < 0x20) return false;
  return true;
}

bool ReadString(HKEY key, const char *name, std::string &out) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  std::string buf(size, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buf.data()), &size) != ERROR_SUCCESS)
    return false;
  buf.resize(size);
  if (type != REG_MULTI_SZ)
    while (!buf.empty() && buf.back() == '\0') buf.pop_back();
  out = buf;
  return true;
}

bool ReadDword(HKEY key, const char *name, DWORD &out) {
  DWORD type = 0, size = sizeof out, v = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&v), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof v)
    return false;
  out = v;
  return true;
}

LONG WriteString(HKEY key, const char *name, const std::string &value, DWORD type = REG_SZ) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE *>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
}

LONG WriteDword(HKEY key, const char *name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
}

// Multi-string from a caller's list (names each ended by NUL, list ended by an
// extra NUL), bounded so that a list without its end cannot run away.
std::string MultiString(const char *list) {
  std::string out;
  if (!list) return out;
  const char *p = list;
  while (*p && out.size() < 65536) {
    size_t n = strnlen(p, 4096);
    out.append(p, n);
    out += '\0';
    p += n + 1;
  }
  out += '\0';
  return out;
}

// The stored spelling of a service whose key exists and holds "Type".
bool FindService(const char *name, std::string &stored, ServiceConfig *config = nullptr) {
  if (!ValidServiceName(name)) return false;
  Key services;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServicesKey, 0, KEY_READ, services.out()) != ERROR_SUCCESS) return false;
  Key key;
  if (RegOpenKeyExA(services.get(), name, 0, KEY_READ, key.out()) != ERROR_SUCCESS) return false;
  ServiceConfig c;
  if (!ReadDword(key.get(), "Type", c.type)) return false;
  // The key's own spelling: find it among its parent's subkeys.
  stored = name;
  char buf[kMaxServiceName + 2];
  for (DWORD i = 0; RegEnumKeyA(services.get(), i, buf, sizeof buf) == ERROR_SUCCESS; ++i) {
    if (strcasecmp(buf, name) == 0) {
      stored = buf;
      break;
    }
  }
  if (config) {
    ReadDword(key.get(), "Start", c.start);
    ReadDword(key.get(), "ErrorControl", c.error_control);
    ReadString(key.get(), "ImagePath", c.image_path);
    ReadString(key.get(), "Group", c.group);
    if (!ReadString(key.get(), "DisplayName", c.display_name)) c.display_name = stored;
    ReadString(key.get(), "ObjectName", c.object_name);
    if (!ReadString(key.get(), "DependOnService", c.dependencies) || c.dependencies.empty())
      c.dependencies.assign(2, '\0');
    if (c.dependencies.back() != '\0') c.dependencies += '\0';
    *config = c;
  }
  return true;
}

bool ServicesWritable() {
  Key services;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kServicesKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, services.out(),
                      nullptr) != ERROR_SUCCESS)
    return false;
  return true;
}

// Deletes a key with everything below it (RegDeleteKey itself refuses keys
// with subkeys, as NT does).
LONG DeleteTree(HKEY parent, const std::string &name, int depth = 0) {
  if (depth > 64) return ERROR_INVALID_PARAMETER;
  {
    Key key;
    LONG rc = RegOpenKeyExA(parent, name.c_str(), 0, KEY_ALL_ACCESS, key.out());
    if (rc != ERROR_SUCCESS) return rc;
    char buf[260];
    while (RegEnumKeyA(key.get(), 0, buf, sizeof buf) == ERROR_SUCCESS) {
      rc = DeleteTree(key.get(), buf, depth + 1);
      if (rc != ERROR_SUCCESS) return rc;
    }
  }
  return RegDeleteKeyA(parent, name.c_str());
}

std::shared_ptr<ScObject> LookupSc(SC_HANDLE h, qx::ObjectKind kind) {
  return qx::Lookup<ScObject>(reinterpret_cast<HANDLE>(h), kind);
}

// --- status ----------------------------------------------------------------

SERVICE_STATUS StoppedStatus(DWORD type) { return SERVICE_STATUS{type, SERVICE_STOPPED, 0, 0, 0, 0, 0}; }

// Asks the running service; a service that does not run is STOPPED.
SERVICE_STATUS CurrentStatus(const std::string &name, DWORD type) {
  DWORD service_error = 0;
  SERVICE_STATUS status{};
  if (qx::svc::Request(name, "query", 5000, service_error, status) == ERROR_SUCCESS) return status;
  return StoppedStatus(type);
}

// --- starting --------------------------------------------------------------

// Splits a command line the Windows way: blanks separate, quotes group,
// backslashes are literal except before a quote.
std::vector<std::string> SplitCommandLine(const std::string &line) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      size_t slashes = 0;
      while (i < line.size() && line[i] == '\\') ++slashes, ++i;
      if (i < line.size() && line[i] == '"') {
        arg.append(slashes / 2, '\\');
        if (slashes % 2) {
          arg += '"';
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        arg.append(slashes, '\\');
        if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) arg += line[i++];
      }
    }
    out.push_back(arg);
  }
  return out;
}

// %NAME% references of an expandable string, from the environment; unknown
// names stay as written, as ExpandEnvironmentStrings leaves them.
std::string ExpandVariables(const std::string &s) {
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    size_t end = s[i] == '%' ? s.find('%', i + 1) : std::string::npos;
    if (end != std::string::npos && end > i + 1) {
      const std::string var = s.substr(i + 1, end - i - 1);
      if (const char *v = std::getenv(var.c_str())) {
        out += v;
        i = end + 1;
        continue;
      }
    }
    out += s[i++];
  }
  return out;
}

bool IsExecutable(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A Windows path's program through the drive table, "" when the table has
// no such program (".exe" may be left off the file, whose case may differ).
std::string DriveTableProgram(const std::string &program) {
  using HostPathFn = bool (*)(std::string_view, std::string &, DWORD &);
  const HostPathFn host_path = &qx::HostPath;
  if (!host_path || program.size() <= 2 || program[1] != ':') return std::string();
  std::string host;
  DWORD error = 0;
  if (!host_path(program, host, error)) return std::string();
  if (IsExecutable(host)) return host;
  const size_t dot = host.rfind('.');
  if (dot == std::string::npos || Lower(host.substr(dot)) != ".exe") return std::string();
  const std::string bare = host.substr(0, dot);
  if (IsExecutable(bare)) return bare;
  const size_t slash = bare.rfind('/');
  const std::string lower = bare.substr(0, slash + 1) + Lower(bare.substr(slash + 1));
  return IsExecutable(lower) ? lower : std::string();
}

// Finds the program of an ImagePath: a Linux path as it is; a Windows path
// through the drive table; otherwise its file name (with or without ".exe",
// case-blind) beside the calling program, in the directory the path names, or
// along PATH. So "C:\QXTCP\PORTWARDEN.EXE" finds the suite's "portwarden".
std::string ResolveProgram(const std::string &program) {
  if (!program.empty() && program[0] == '/' && IsExecutable(program)) return program;
  if (std::string mapped = DriveTableProgram(program); !mapped.empty()) return mapped;
  size_t cut = program.find_last_of("\\/");
  std::string base = cut == std::string::npos ? program : program.substr(cut + 1);
  std::vector<std::string> names{base};
  std::string lower = Lower(base);
  if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".exe") == 0) {
    names.push_back(base.substr(0, base.size() - 4));
    names.push_back(lower.substr(0, lower.size() - 4));
  }
  names.push_back(lower);
  std::vector<std::string> dirs;
  if (!program.empty() && program[0] == '/' && cut != std::string::npos) dirs.push_back(program.substr(0, cut));
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string exe(self, static_cast<size_t>(n));
    dirs.push_back(exe.substr(0, exe.rfind('/')));
  }
  if (const char *path = std::getenv("PATH")) {
    std::string p = path;
    size_t start = 0;
    while (start <= p.size()) {
      size_t end = p.find(':', start);
      if (end == std::string::npos) end = p.size();
      if (end > start) dirs.push_back(p.substr(start, end - start));
      start = end + 1;
    }
  }
  for (const auto &dir : dirs)
    for (const auto &name : names)
      if (IsExecutable(dir + "/" + name)) return dir + "/" + name;
  return std::string();
}

// A path that names an existing program as written: a Linux path, or a
// Windows path through the drive table (".exe" may be left off the file).
std::string ExactProgram(const std::string &path) {
  if (path.empty()) return std::string();
  if (path[0] == '/') return IsExecutable(path) ? path : std::string();
  return DriveTableProgram(path);
}

// The program and arguments of an ImagePath. An unquoted path with blanks
// ("C:\Program Files\QX\PORTWARDEN.EXE") is taken as the longest run of
// words that names an existing program, never a shorter one first, so a
// "C:\Program.exe" cannot stand in for it.
std::vector<std::string> ImageCommand(const std::string &image_path) {
  std::vector<std::string> args = SplitCommandLine(image_path);
  if (args.empty()) return args;
  const size_t lead = image_path.find_first_not_of(" \t");
  if (args.size() > 1 && lead != std::string::npos && image_path[lead] != '"' &&
      image_path.find('"') == std::string::npos) {
    for (size_t words = args.size(); words > 1; --words) {
      std::string candidate = args[0];
      for (size_t i = 1; i < words; ++i) candidate += " " + args[i];
      const std::string program = ExactProgram(candidate);
      if (!program.empty()) {
        std::vector<std::string> out{program};
        out.insert(out.end(), args.begin() + static_cast<long>(words), args.end());
        return out;
      }
    }
  }
  const std::string program = ResolveProgram(args[0]);
  if (program.empty()) return {};
  args[0] = program;
  return args;
}

// Starts the program detached (new session, standard streams on /dev/null,
// nothing inherited) and returns its pid, or 0 with errno_out set.
pid_t SpawnDetached(const std::string &program, const std::vector<std::string> &args,
                    const std::vector<std::string> &env, int &errno_out) {
  std::vector<char *> argv, envp;
  for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  for (const auto &e : env) envp.push_back(const_cast<char *>(e.c_str()));
  envp.push_back(nullptr);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    errno_out = errno;
    return 0;
  }
  pid_t middle = fork();
  if (middle < 0) {
    errno_out = errno;
    close(report[0]);
    close(report[1]);
    return 0;
  }
  if (middle == 0) {
    // Only async-signal-safe calls from here on.
    setsid();
    pid_t child = fork();
    if (child == 0) {
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      int null_fd = open("/dev/null", O_RDWR);
      if (null_fd >= 0) {
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(null_fd, 2);
        if (null_fd > 2) close(null_fd);
      }
      close_range(3, ~0u, CLOSE_RANGE_CLOEXEC);
      if (chdir("/") != 0) {
      }
      execve(program.c_str(), argv.data(), envp.data());
      int e = errno;
      ssize_t w = write(report[1], &e, sizeof e);
      (void)w;
      _exit(127);
    }
    int e = child < 0 ? errno : 0;
    pid_t sent = child < 0 ? 0 : child;
    ssize_t w = write(report[1], &sent, sizeof sent);
    w = write(report[1], &e, sizeof e);
    (void)w;
    _exit(0);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  pid_t child = 0;
  int fork_error = 0, exec_error = 0;
  bool ok = read(report[0], &child, sizeof child) == sizeof child &&
            read(report[0], &fork_error, sizeof fork_error) == sizeof fork_error;
  // The descriptor closes at exec; 4 more bytes mean the exec failed.
  if (ok && child > 0 && read(report[0], &exec_error, sizeof exec_error) == sizeof exec_error) {
    errno_out = exec_error;
    child = 0;
  } else if (!ok || child <= 0) {
    errno_out = fork_error ? fork_error : EAGAIN;
    child = 0;
  }
  close(report[0]);
  return child;
}

int StartTimeoutMs() {
  if (const char *t = std::getenv("QX_SERVICE_START_TIMEOUT_MS")) {
    long v = std::strtol(t, nullptr, 10);
    if (v > 0 && v < 600000) return static_cast<int>(v);
  }
  return kControlTimeoutMs;
}

}  // namespace

extern "C" {

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) {
  if (machine && *machine) {
    const char *name = machine[0] == '\\' && machine[1] == '\\' ? machine + 2 : machine;
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    if (strcasecmp(name, host) != 0 && strcasecmp(name, "localhost") != 0 && strcmp(name, ".") != 0) {
      SetLastError(RPC_S_SERVER_UNAVAILABLE);
      return nullptr;
    }
  }
  if (database && *database && strcasecmp(database, SERVICES_ACTIVE_DATABASEA) != 0) {
    SetLastError(1065);  // ERROR_DATABASE_DOES_NOT_EXIST
    return nullptr;
  }
  if ((access & (SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG)) && !ServicesWritable()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  HANDLE h = qx::InsertHandle(std::make_shared<ScObject>(qx::ObjectKind::ServiceManager, std::string(), access));
  if (!h) SetLastError(ERROR_NO_SYSTEM_RESOURCES);
  return reinterpret_cast<SC_HANDLE>(h);
}

SC_HANDLE WINAPI CreateServiceA(SC_HANDLE manager, LPCSTR name, LPCSTR display_name, DWORD access, DWORD type,
                                DWORD start, DWORD error_control, LPCSTR binary_path, LPCSTR group, LPDWORD tag,
                                LPCSTR dependencies, LPCSTR start_name, LPCSTR password) {
  auto mgr = LookupSc(manager, qx::ObjectKind::ServiceManager);
  if (!mgr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!(mgr->access & SC_MANAGER_CREATE_SERVICE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (!ValidServiceName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  const DWORD base_type = type & ~SERVICE_INTERACTIVE_PROCESS;
  const bool win32 = base_type == SERVICE_WIN32_OWN_PROCESS || base_type == SERVICE_WIN32_SHARE_PROCESS;
  const bool driver = base_type == SERVICE_KERNEL_DRIVER || base_type == SERVICE_FILE_SYSTEM_DRIVER;
  if ((!win32 && !driver) || (driver && (type & SERVICE_INTERACTIVE_PROCESS)) || start > SERVICE_DISABLED ||
      error_control > SERVICE_ERROR_CRITICAL || !binary_path || !*binary_path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string stored;
  if (FindService(name, stored)) {
    SetLastError(ERROR_SERVICE_EXISTS);
    return nullptr;
  }
  Key services, key;
  LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kServicesKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, services.out(),
                            nullptr);
  if (rc == ERROR_SUCCESS)
    rc = RegCreateKeyExA(services.get(), name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.out(), nullptr);
  // "Type" goes last: a half-written entry is not yet a service.
  if (rc == ERROR_SUCCESS) rc = WriteDword(key.get(), "Start", start);
  if (rc == ERROR_SUCCESS) rc = WriteDword(key.get(), "ErrorControl", error_control);
  if (rc == ERROR_SUCCESS) rc = WriteString(key.get(), "ImagePath", binary_path, REG_EXPAND_SZ);
  if (rc == ERROR_SUCCESS)
    rc = WriteString(key.get(), "DisplayName", display_name && *display_name ? display_name : name);
  if (rc == ERROR_SUCCESS && win32)
    rc = WriteString(key.get(), "ObjectName", start_name && *start_name ? start_name : "LocalSystem");
  if (rc == ERROR_SUCCESS && group && *group) rc = WriteString(key.get(), "Group", group);
  if (rc == ERROR_SUCCESS && dependencies && *dependencies) {
    const std::string deps = MultiString(dependencies);
    rc = RegSetValueExA(key.get(), "DependOnService", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(deps.data()),
                        static_cast<DWORD>(deps.size()));
  }
  if (rc == ERROR_SUCCESS) rc = WriteDword(key.get(), "Type", type);
  if (rc != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(rc));
    return nullptr;
  }
  if (tag) *tag = 0;
  HANDLE h = qx::InsertHandle(std::make_shared<ScObject>(qx::ObjectKind::Service, name, access));
  if (!h) SetLastError(ERROR_NO_SYSTEM_RESOURCES);
  return reinterpret_cast<SC_HANDLE>(h);
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) {
  if (!LookupSc(manager, qx::ObjectKind::ServiceManager)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!ValidServiceName(name)) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  std::string stored;
  if (!FindService(name, stored)) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  if ((access & (SERVICE_CHANGE_CONFIG | DELETE)) && !ServicesWritable()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  HANDLE h = qx::InsertHandle(std::make_shared<ScObject>(qx::ObjectKind::Service, stored, access));
  if (!h) SetLastError(ERROR_NO_SYSTEM_RESOURCES);
  return reinterpret_cast<SC_HANDLE>(h);
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
  auto h = reinterpret_cast<HANDLE>(handle);
  if (!qx::LookupHandle(h, qx::ObjectKind::ServiceManager) && !qx::LookupHandle(h, qx::ObjectKind::Service))
    return Fail(ERROR_INVALID_HANDLE);
  qx::RemoveHandle(h);
  return TRUE;
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
  auto svc = LookupSc(service, qx::ObjectKind::Service);
  if (!svc) return Fail(ERROR_INVALID_HANDLE);
  if (!status) return Fail(ERROR_INVALID_PARAMETER);
  if (!(svc->access & SERVICE_QUERY_STATUS)) return Fail(ERROR_ACCESS_DENIED);
  ServiceConfig config;
  std::string stored;
  if (!FindService(svc->name.c_str(), stored, &config)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  *status = CurrentStatus(stored, config.type);
  return TRUE;
}

BOOL WINAPI StartServiceA(SC_HANDLE service, DWORD argc, LPCSTR *argv) {
  auto svc = LookupSc(service, qx::ObjectKind::Service);
  if (!svc) return Fail(ERROR_INVALID_HANDLE);
  if (!(svc->access & SERVICE_START)) return Fail(ERROR_ACCESS_DENIED);
  if (argc && !argv) return Fail(ERROR_INVALID_PARAMETER);
  ServiceConfig config;
  std::string stored;
  if (!FindService(svc->name.c_str(), stored, &config)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  if (config.start == SERVICE_DISABLED) return Fail(ERROR_SERVICE_DISABLED);
  if (!(config.type & SERVICE_WIN32)) return Fail(ERROR_NOT_SUPPORTED);  // drivers are not loaded here
  if (CurrentStatus(stored, config.type).dwCurrentState != SERVICE_STOPPED) return Fail(ERROR_SERVICE_ALREADY_RUNNING);

  std::vector<std::string> args = ImageCommand(ExpandVariables(config.image_path));
  if (args.empty()) return Fail(ERROR_FILE_NOT_FOUND);
  const std::string program = args[0];

  std::vector<std::string> env;
  for (char **e = environ; e && *e; ++e)
    if (std::strncmp(*e, "QX_SERVICE_NAME=", 16) && std::strncmp(*e, "QX_SERVICE_ARGS=", 16)) env.emplace_back(*e);
  env.push_back("QX_SERVICE_NAME=" + stored);
  env.push_back("QX_SERVICE_ARGS=" + qx::svc::EncodeArgs(argc, argv));

  int spawn_error = 0;
  const pid_t pid = SpawnDetached(program, args, env, spawn_error);
  if (!pid) return Fail(spawn_error == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
  qx::Trace("service %s: started %s as %d", stored.c_str(), program.c_str(), static_cast<int>(pid));

  // Started once the dispatcher answers; a process that ends first failed.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(StartTimeoutMs());
  while (std::chrono::steady_clock::now() < deadline) {
    DWORD service_error = 0;
    SERVICE_STATUS status{};
    if (qx::svc::Request(stored, "query", 2000, service_error, status) == ERROR_SUCCESS) return TRUE;
    if (kill(pid, 0) != 0 && errno == ESRCH) return Fail(ERROR_PROCESS_ABORTED);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
}

BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
  auto svc = LookupSc(service, qx::ObjectKind::Service);
  if (!svc) return Fail(ERROR_INVALID_HANDLE);
  if (!status) return Fail(ERROR_INVALID_PARAMETER);
  DWORD right;
  switch (control) {
    case SERVICE_CONTROL_STOP: right = SERVICE_STOP; break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE: right = SERVICE_PAUSE_CONTINUE; break;
    case SERVICE_CONTROL_INTERROGATE: right = SERVICE_INTERROGATE; break;
    default:
      if (control < 128 || control > 255) return Fail(ERROR_INVALID_PARAMETER);
      right = SERVICE_USER_DEFINED_CONTROL;
  }
  if (!(svc->access & right)) return Fail(ERROR_ACCESS_DENIED);
  ServiceConfig config;
  std::string stored;
  if (!FindService(svc->name.c_str(), stored, &config)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  DWORD service_error = 0;
  SERVICE_STATUS reply = StoppedStatus(config.type);
  const DWORD rc =
      qx::svc::Request(stored, "control " + std::to_string(control), kControlTimeoutMs, service_error, reply);
  *status = reply;
  if (rc != ERROR_SUCCESS) return Fail(rc);
  if (service_error != ERROR_SUCCESS) return Fail(service_error);
  return TRUE;
}

BOOL WINAPI QueryServiceConfigA(SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config_out, DWORD size, LPDWORD needed) {
  auto svc = LookupSc(service, qx::ObjectKind::Service);
  if (!svc) return Fail(ERROR_INVALID_HANDLE);
  if (!needed) return Fail(ERROR_INVALID_PARAMETER);
  if (!(svc->access & SERVICE_QUERY_CONFIG)) return Fail(ERROR_ACCESS_DENIED);
  ServiceConfig c;
  std::string stored;
  if (!FindService(svc->name.c_str(), stored, &c)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  const std::string *strings[] = {&c.image_path, &c.group, &c.object_name, &c.display_name};
  DWORD total = sizeof(QUERY_SERVICE_CONFIGA) + static_cast<DWORD>(c.dependencies.size());
  for (const auto *s : strings) total += static_cast<DWORD>(s->size() + 1);
  *needed = total;
  if (!config_out || size < total) return Fail(ERROR_INSUFFICIENT_BUFFER);
  char *p = reinterpret_cast<char *>(config_out) + sizeof(QUERY_SERVICE_CONFIGA);
  auto put = [&p](const std::string &s, size_t n) {
    char *start = p;
    std::memcpy(p, s.data(), s.size());
    std::memset(p + s.size(), 0, n - s.size());
    p += n;
    return start;
  };
  config_out->dwServiceType = c.type;
  config_out->dwStartType = c.start;
  config_out->dwErrorControl = c.error_control;
  config_out->lpBinaryPathName = put(c.image_path, c.image_path.size() + 1);
  config_out->lpLoadOrderGroup = put(c.group, c.group.size() + 1);
  config_out->dwTagId = 0;
  config_out->lpDependencies = put(c.dependencies, c.dependencies.size());
  config_out->lpServiceStartName = put(c.object_name, c.object_name.size() + 1);
  config_out->lpDisplayName = put(c.display_name, c.display_name.size() + 1);
  return TRUE;
}

BOOL WINAPI ChangeServiceConfigA(SC_HANDLE service, DWORD type, DWORD start, DWORD error_control, LPCSTR binary_path,
                                 LPCSTR group, LPDWORD tag, LPCSTR dependencies, LPCSTR start_name, LPCSTR password,
                                 LPCSTR display_name) {
  auto svc = LookupSc(service, qx::ObjectKind::Service);
  if (!svc) return Fail(ERROR_INVALID_HANDLE);
  if (!(svc->access & SERVICE_CHANGE_CONFIG)) return Fail(ERROR_ACCESS_DENIED);
  if (type != SERVICE_NO_CHANGE) {
    const DWORD base = type & ~SERVICE_INTERACTIVE_PROCESS;
    if (base != SERVICE_WIN32_OWN_PROCESS && base != SERVICE_WIN32_SHARE_PROCESS && base != SERVICE_KERNEL_DRIVER &&
        base != SERVICE_FILE_SYSTEM_DRIVER)
      return Fail(ERROR_INVALID_PARAMETER);
  }
  if ((start != SERVICE_NO_CHANGE && start > SERVICE_DISABLED) ||
      (error_control != SERVICE_NO_CHANGE && error_control > SERVICE_ERROR_CRITICAL))
    return Fail(ERROR_INVALID_PARAMETER);
  std::string stored;
  if (!FindService(svc->name.c_str(), stored)) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
  Key key;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kServicesKey) + "\\" + stored).c_str(), 0, KEY_ALL_ACCESS,
                          key.out());
  if (rc == ERROR_SUCCESS && type != SERVICE_NO_CHANGE) rc = WriteDword(key.get(), "Type", type);
  if (rc == ERROR_SUCCESS && start != SERVICE_NO_CHANGE) rc = WriteDword(key.get(), "Start", start);
  if (rc == ERROR_SUCCESS && error_control != SERVICE_NO_CHANGE)
    rc = WriteDword(key.get(), "ErrorControl", error_control);
  if (rc == ERROR_SUCCESS && binary_path) rc = WriteString(key.get(), "ImagePath", binary_path, REG_EXPAND_SZ);
  if (rc == ERROR_SUCCESS && group) rc = WriteString(key.get(), "Group", group);
  if (rc == ERROR_SUCCESS && start_name) rc = WriteString(key.get(), "ObjectName", start_name);
  if (rc == ERROR_SUCCESS && display_name) rc = WriteString(key.get(), "DisplayName", display_name);
  if (rc == ERROR_SUCCESS && dependencies) {
    if (!*dependencies) {
      LONG drc = RegDeleteValueA(key.get(), "DependOnService");
      if (drc != ERROR_FILE_NOT_FOUND) rc = drc;
    } else {
      const std::string deps = MultiString(dependencies);
      rc = RegSetValueExA(key.get(), "DependOnService", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(deps.data()),
                          static_cast<DWORD>(deps.size()));
    }
  }
  if (rc != ERROR_SUCCESS) return Fail(static_cast<DWORD>(rc));
  if (tag) *tag = 0;
  return TRUE;
}

BOOL WINAPI DeleteService(SC_HANDLE service) {
  auto svc = LookupSc(service, qx::ObjectKind::Service);
  if (!svc) return Fail(ERROR_INVALID_HANDLE);
  if (!(svc->access & DELETE)) return Fail(ERROR_ACCESS_DENIED);
  std::string stored;
  if (!FindService(svc->name.c_str(), stored)) return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  Key services;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServicesKey, 0, KEY_ALL_ACCESS, services.out());
  // A running service goes on running; only its entry is removed.
  if (rc == ERROR_SUCCESS) rc = DeleteTree(services.get(), stored);
  if (rc != ERROR_SUCCESS) return Fail(static_cast<DWORD>(rc));
  return TRUE;
}

BOOL WINAPI EnumServicesStatusA(SC_HANDLE manager, DWORD type_mask, DWORD state_mask, LPENUM_SERVICE_STATUSA out,
                                DWORD size, LPDWORD needed, LPDWORD returned, LPDWORD resume) {
  auto mgr = LookupSc(manager, qx::ObjectKind::ServiceManager);
  if (!mgr) return Fail(ERROR_INVALID_HANDLE);
  if (!needed || !returned || !type_mask || !state_mask || (state_mask & ~SERVICE_STATE_ALL))
    return Fail(ERROR_INVALID_PARAMETER);
  if (!(mgr->access & SC_MANAGER_ENUMERATE_SERVICE)) return Fail(ERROR_ACCESS_DENIED);
  struct Entry {
    std::string name, display;
    SERVICE_STATUS status;
  };
  std::vector<Entry> entries;
  {
    Key services;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServicesKey, 0, KEY_READ, services.out()) == ERROR_SUCCESS) {
      char buf[kMaxServiceName + 2];
      for (DWORD i = 0; RegEnumKeyA(services.get(), i, buf, sizeof buf) == ERROR_SUCCESS; ++i) {
        ServiceConfig c;
        std::string stored;
        if (!FindService(buf, stored, &c) || !(c.type & type_mask)) continue;
        SERVICE_STATUS st = CurrentStatus(stored, c.type);
        const bool active = st.dwCurrentState != SERVICE_STOPPED;
        if ((active && !(state_mask & SERVICE_ACTIVE)) || (!active && !(state_mask & SERVICE_INACTIVE))) continue;
        entries.push_back({stored, c.display_name, st});
      }
    }
  }
  DWORD index = resume ? *resume : 0;
  if (index > entries.size()) index = static_cast<DWORD>(entries.size());
  // Records from the front of the buffer, their strings from the back.
  DWORD count = 0;
  size_t front = 0, back = out ? size : 0;
  DWORD i = index;
  for (; i < entries.size(); ++i) {
    const Entry &e = entries[i];
    const size_t strings = e.name.size() + 1 + e.display.size() + 1;
    if (!out || front + sizeof(ENUM_SERVICE_STATUSA) + strings > back) break;
    char *base = reinterpret_cast<char *>(out);
    back -= strings;
    char *s = base + back;
    std::memcpy(s, e.name.c_str(), e.name.size() + 1);
    std::memcpy(s + e.name.size() + 1, e.display.c_str(), e.display.size() + 1);
    out[count].lpServiceName = s;
    out[count].lpDisplayName = s + e.name.size() + 1;
    out[count].ServiceStatus = e.status;
    front += sizeof(ENUM_SERVICE_STATUSA);
    ++count;
  }
  *returned = count;
  DWORD more = 0;
  for (DWORD j = i; j < entries.size(); ++j)
    more += static_cast<DWORD>(sizeof(ENUM_SERVICE_STATUSA) + entries[j].name.size() + entries[j].display.size() + 2);
  *needed = more;
  if (resume) *resume = i < entries.size() ? i : 0;
  if (i < entries.size()) return Fail(ERROR_MORE_DATA);
  return TRUE;
}

}  // extern "C"
