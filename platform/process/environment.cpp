// The command line, show state and environment of this process.
//
// A process started by CreateProcessA/WinExec finds its exact command line in
// QX_CMDLINE and its show state in QX_SHOWWINDOW. Both are taken (and removed
// from the environment, so that they do not leak into grandchildren) before
// main runs. QX_CMDLINE is believed only when it splits into the same words
// as argv; otherwise the command line is made from argv with Windows quoting.
#include <windows.h>

#include "cmdline.h"
#include "process_internal.h"
#include "qx/process.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <mutex>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace qx {
namespace {

constexpr size_t kMaxCmdline = 1 << 20;

struct StartState {
  std::string command_line;
  std::vector<char> writable;  // what GetCommandLineA returns (and lpCmdLine points into)
  int show = -1;
};

// Plain read(2), not a stream: every process runs this before main, and a
// stream builds the C++ locale first, a large share of a daemon's start-up.
std::string ReadOwnCmdline() {
  std::string raw;
  const int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return raw;
  char chunk[4096];
  while (raw.size() < kMaxCmdline) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    raw.append(chunk, std::min(static_cast<size_t>(n), kMaxCmdline - raw.size()));
  }
  ::close(fd);
  return raw;
}

std::vector<std::string> ArgvOfThisProcess() {
  const std::string raw = ReadOwnCmdline();
  std::vector<std::string> argv;
  size_t start = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\0') {
      argv.emplace_back(raw, start, i - start);
      start = i + 1;
    }
  }
  if (start < raw.size()) argv.emplace_back(raw, start);
  return argv;
}

StartState &State() {
  static StartState *state = new StartState;
  return *state;
}

std::atomic<bool> g_show_taken{false};

void CaptureStart() {
  StartState &st = State();
  const std::vector<std::string> argv = ArgvOfThisProcess();
  const char *given = std::getenv("QX_CMDLINE");
  bool taken = false;
  if (given && std::strlen(given) < kMaxCmdline) {
    const std::vector<std::string> words = SplitCommandLine(given);
    taken =
        !argv.empty() && words.size() == argv.size() && std::equal(words.begin() + 1, words.end(), argv.begin() + 1);
    if (taken) st.command_line = given;
  }
  if (!taken) {
    std::vector<std::string> words = argv;
    if (words.empty()) words.emplace_back("");
    st.command_line = JoinCommandLine(words);
  }
  if (const char *show = std::getenv("QX_SHOWWINDOW")) {
    char *end = nullptr;
    const long v = std::strtol(show, &end, 10);
    if (end != show && *end == '\0' && v >= 0 && v <= 11) st.show = static_cast<int>(v);
  }
  unsetenv("QX_CMDLINE");
  unsetenv("QX_SHOWWINDOW");
  st.writable.assign(st.command_line.begin(), st.command_line.end());
  st.writable.push_back('\0');
}

// Runs before main (and before any thread of the program exists), so the
// environment can be changed safely.
__attribute__((constructor)) void CaptureStartAtLoad() { CaptureStart(); }

// Finds an environment name without regard to case, as Windows does.
const char *FindEnvName(const char *name, std::string &found) {
  if (const char *v = std::getenv(name)) {
    found = name;
    return v;
  }
  const size_t len = std::strlen(name);
  for (char **e = environ; e && *e; ++e) {
    const char *eq = std::strchr(*e, '=');
    if (!eq || static_cast<size_t>(eq - *e) != len) continue;
    if (strncasecmp(*e, name, len) == 0) {
      found.assign(*e, len);
      return eq + 1;
    }
  }
  return nullptr;
}

bool ValidEnvName(const char *name) { return name && *name && std::strchr(name, '=') == nullptr; }

}  // namespace

const std::string &StartCommandLine() { return State().command_line; }

const char *HostEnvironmentValue(const char *name) {
  std::string found;
  return ValidEnvName(name) ? FindEnvName(name, found) : nullptr;
}

// The Windows view of a variable (windows_env.cpp).
bool WindowsEnvironmentValue(const char *name, const char *host_value, std::string &out);

int TakeStartupShowState() {
  if (State().show < 0 || g_show_taken.exchange(true)) return -1;
  return State().show;
}

}  // namespace qx

using namespace qx;

extern "C" {

WINBASEAPI LPSTR WINAPI GetCommandLineA(void) { return State().writable.data(); }

WINBASEAPI void WINAPI GetStartupInfoA(LPSTARTUPINFOA info) {
  if (!info) return;
  std::memset(info, 0, sizeof *info);
  info->cb = sizeof *info;
  if (State().show >= 0) {
    info->dwFlags = STARTF_USESHOWWINDOW;
    info->wShowWindow = static_cast<WORD>(State().show);
  }
}

WINBASEAPI DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  if (!ValidEnvName(name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string found, shown;
  if (!WindowsEnvironmentValue(name, FindEnvName(name, found), shown)) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  const char *value = shown.c_str();
  const size_t len = shown.size();
  if (len > 0x7ffffffe) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if (!buffer || size <= len) return static_cast<DWORD>(len + 1);  // the size needed, NUL included
  std::memcpy(buffer, value, len + 1);
  return static_cast<DWORD>(len);
}

WINBASEAPI BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value) {
  if (!ValidEnvName(name)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string found;
  const bool exists = FindEnvName(name, found) != nullptr;
  const std::string target = exists ? found : std::string(name);
  if (!value) {  // removing a name that is not there succeeds too
    if (exists) unsetenv(target.c_str());
    return TRUE;
  }
  if (setenv(target.c_str(), value, 1) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
