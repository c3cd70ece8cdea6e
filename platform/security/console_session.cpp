// The console session and its desktop: which session of a user is the one
// at the console (logind's state, else the login records), and the display
// variables of that session, read from the environment of its processes.
// A service uses them to start a program on the console user's desktop
// (WTSQueryUserToken, CreateEnvironmentBlock, CreateProcessAsUserA).
#include <windows.h>
#include <userenv.h>
#include <wtsapi32.h>
#include <ntsecapi.h>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utmpx.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "qx/accounts.h"
#include "qx/errors.h"

namespace qx {
namespace {

constexpr size_t kEnvironFileLimit = 256 * 1024;  // more is not a process environment we use
constexpr size_t kValueLimit = 4096;              // longer display values are not taken
constexpr int kAncestorSteps = 64;

// What a program on the desktop needs of the session's environment.
constexpr const char *kDisplayVariables[] = {
    "DISPLAY",
    "XAUTHORITY",
    "WAYLAND_DISPLAY",
    "XDG_RUNTIME_DIR",
    "XDG_SESSION_TYPE",
    "XDG_SESSION_ID",
    "XDG_CURRENT_DESKTOP",
    "DBUS_SESSION_BUS_ADDRESS",
    "LANG",
};

// "KEY=value" lines of a logind state file.
std::map<std::string, std::string> StateFile(const std::string &path) {
  std::map<std::string, std::string> values;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos && eq > 0) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

bool ParseNumber(const std::string &text, unsigned long &value) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  value = std::strtoul(text.c_str(), nullptr, 10);
  return true;
}

// logind: seat0's active session, when it is uid's.
bool LogindSession(uid_t uid, ConsoleSession &session) {
  auto seat = StateFile("/run/systemd/seats/seat0");
  const std::string id = seat["ACTIVE"];
  unsigned long active_uid = 0;
  if (id.empty() || id.find('/') != std::string::npos || id[0] == '.') return false;
  if (!ParseNumber(seat["ACTIVE_UID"], active_uid) || active_uid != uid) return false;
  auto values = StateFile("/run/systemd/sessions/" + id);
  unsigned long session_uid = 0, leader = 0;
  if (!ParseNumber(values["UID"], session_uid) || session_uid != uid) return false;
  ParseNumber(values["LEADER"], leader);
  session.id = id;
  session.leader = static_cast<pid_t>(leader);
  session.display = values["DISPLAY"];
  return true;
}

// The login records: the user's newest live record on a console line.
bool UtmpSession(uid_t uid, ConsoleSession &session) {
  std::vector<char> buffer(16384);
  passwd pw{}, *found = nullptr;
  if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
  static std::mutex lock;  // the utmpx cursor is shared
  std::lock_guard guard(lock);
  long long best_time = -1;
  setutxent();
  while (const utmpx *u = getutxent()) {
    if (u->ut_type != USER_PROCESS || u->ut_pid <= 0) continue;
    char line[sizeof u->ut_line + 1] = {}, user[sizeof u->ut_user + 1] = {}, host[sizeof u->ut_host + 1] = {};
    std::memcpy(line, u->ut_line, sizeof u->ut_line);
    std::memcpy(user, u->ut_user, sizeof u->ut_user);
    std::memcpy(host, u->ut_host, sizeof u->ut_host);
    if (!IsConsoleLine(line) || std::strcmp(user, pw.pw_name) != 0) continue;
    if (kill(u->ut_pid, 0) != 0 && errno == ESRCH) continue;  // stale record
    if (static_cast<long long>(u->ut_tv.tv_sec) < best_time) continue;
    best_time = static_cast<long long>(u->ut_tv.tv_sec);
    session.id.clear();
    session.leader = u->ut_pid;
    session.display = line[0] == ':' ? line : (host[0] == ':' ? host : "");
  }
  endutxent();
  return best_time >= 0;
}

std::string ReadSmallFile(const std::string &path, size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string data;
  char chunk[4096];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got <= 0) break;
    data.append(chunk, static_cast<size_t>(got));
    if (data.size() > limit) {
      data.clear();  // not an environment we take
      break;
    }
  }
  ::close(fd);
  return data;
}

pid_t ParentOf(pid_t pid) {
  const std::string stat = ReadSmallFile("/proc/" + std::to_string(pid) + "/stat", 4096);
  const size_t paren = stat.rfind(')');
  if (paren == std::string::npos || paren + 4 >= stat.size()) return 0;
  return static_cast<pid_t>(std::atoi(stat.c_str() + paren + 4));  // ") S PPID"
}

bool InSession(pid_t pid, const ConsoleSession &session) {
  if (!session.id.empty()) {
    const std::string cgroup = ReadSmallFile("/proc/" + std::to_string(pid) + "/cgroup", 16384);
    if (cgroup.find("/session-" + session.id + ".scope") != std::string::npos) return true;
  }
  if (session.leader <= 0) return false;
  for (int step = 0; step < kAncestorSteps && pid > 1; ++step) {
    if (pid == session.leader) return true;
    pid = ParentOf(pid);
  }
  return false;
}

// The wanted variables of one process's environment ("" for those it lacks).
std::map<std::string, std::string> DisplayVariablesOf(pid_t pid) {
  std::map<std::string, std::string> vars;
  const std::string environ = ReadSmallFile("/proc/" + std::to_string(pid) + "/environ", kEnvironFileLimit);
  for (size_t at = 0; at < environ.size();) {
    const size_t end = std::min(environ.find('\0', at), environ.size());
    const std::string entry = environ.substr(at, end - at);
    at = end + 1;
    const size_t eq = entry.find('=');
    if (eq == std::string::npos || entry.size() - eq - 1 > kValueLimit) continue;
    const std::string name = entry.substr(0, eq);
    for (const char *wanted : kDisplayVariables)
      if (name == wanted) vars[name] = entry.substr(eq + 1);
  }
  return vars;
}

}  // namespace

bool FindConsoleSession(uid_t uid, ConsoleSession &session) {
  session = ConsoleSession{};
  return LogindSession(uid, session) || UtmpSession(uid, session);
}

std::vector<std::string> SessionDisplayVariables(uid_t uid, const ConsoleSession &session) {
  std::map<std::string, std::string> chosen;
  DIR *proc = ::opendir("/proc");
  if (!proc) return {};
  while (const dirent *e = ::readdir(proc)) {
    unsigned long number = 0;
    if (!ParseNumber(e->d_name, number)) continue;
    const pid_t pid = static_cast<pid_t>(number);
    struct stat st {};
    if (::stat(("/proc/" + std::to_string(pid)).c_str(), &st) != 0 || st.st_uid != uid) continue;
    if (!InSession(pid, session)) continue;
    auto vars = DisplayVariablesOf(pid);
    if (vars["DISPLAY"].empty() && vars["WAYLAND_DISPLAY"].empty()) continue;
    // The process on the display logind names wins; else the first found.
    const bool named = !session.display.empty() && vars["DISPLAY"] == session.display;
    if (chosen.empty() || named) chosen = vars;
    if (named) break;
  }
  ::closedir(proc);
  if (chosen.empty() && !session.display.empty()) chosen["DISPLAY"] = session.display;
  std::vector<std::string> out;
  for (const auto &[name, value] : chosen)
    if (!value.empty()) out.push_back(name + "=" + value);
  return out;
}

}  // namespace qx

namespace {

constexpr DWORD kConsoleSessionId = 1;

// HOME, USER, LOGNAME, SHELL and PATH of an account.
std::vector<std::string> AccountVariables(uid_t uid) {
  std::vector<char> buffer(16384);
  passwd pw{}, *found = nullptr;
  if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) != 0 || !found) return {};
  return {std::string("HOME=") + pw.pw_dir, std::string("USER=") + pw.pw_name, std::string("LOGNAME=") + pw.pw_name,
          std::string("SHELL=") + (pw.pw_shell && *pw.pw_shell ? pw.pw_shell : "/bin/sh"),
          "PATH=/usr/local/bin:/usr/bin:/bin"};
}

// Sets NAME=value in a list of entries, replacing an entry of the same name.
void Put(std::vector<std::string> &env, const std::string &entry) {
  const std::string name = entry.substr(0, entry.find('=') + 1);
  for (std::string &e : env)
    if (e.compare(0, name.size(), name) == 0) {
      e = entry;
      return;
    }
  env.push_back(entry);
}

}  // namespace

extern char **environ;

extern "C" {

WINBASEAPI DWORD WINAPI WTSGetActiveConsoleSessionId(void) {
  std::string name;
  uid_t uid = 0;
  return qx::ConsoleUser(name, uid) ? kConsoleSessionId : WTS_NO_CONSOLE_SESSION;
}

WINBASEAPI BOOL WINAPI CreateEnvironmentBlock(LPVOID *block, HANDLE token, BOOL inherit) {
  if (!block) return qx::Fail(ERROR_INVALID_PARAMETER);
  *block = nullptr;
  std::vector<std::string> env;
  if (inherit)
    for (char **e = environ; e && *e; ++e) env.emplace_back(*e);
  if (token) {
    std::vector<unsigned char> info(1024);
    DWORD needed = 0;
    uid_t uid = 0;
    if (!GetTokenInformation(token, TokenUser, info.data(), static_cast<DWORD>(info.size()), &needed)) return FALSE;
    if (!qx::SidToUid(reinterpret_cast<TOKEN_USER *>(info.data())->User.Sid, uid))
      return qx::Fail(ERROR_INVALID_PARAMETER);
    for (const std::string &entry : AccountVariables(uid)) Put(env, entry);
    std::string console_name;
    uid_t console_uid = 0;
    qx::ConsoleSession session;
    if (qx::ConsoleUser(console_name, console_uid) && console_uid == uid && qx::FindConsoleSession(uid, session))
      for (const std::string &entry : qx::SessionDisplayVariables(uid, session)) Put(env, entry);
  }
  size_t total = 1;
  for (const std::string &e : env) total += e.size() + 1;
  char *out = static_cast<char *>(std::calloc(total, 1));
  if (!out) return qx::Fail(ERROR_NOT_ENOUGH_MEMORY);
  char *p = out;
  for (const std::string &e : env) {
    std::memcpy(p, e.c_str(), e.size() + 1);
    p += e.size() + 1;
  }
  *block = out;
  return TRUE;
}

WINBASEAPI BOOL WINAPI DestroyEnvironmentBlock(LPVOID block) {
  std::free(block);
  return TRUE;
}

}  // extern "C"
