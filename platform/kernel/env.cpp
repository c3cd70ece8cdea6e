// The layer's directories and its own trace (see qx/env.h).
#include "qx/env.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qx {
namespace {

std::string FromEnv(const char *name) {
  const char *v = std::getenv(name);
  return v && *v ? std::string(v) : std::string();
}

bool MakeDirs(const std::string &dir, mode_t mode) {
  if (dir.empty()) return false;
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    std::string part = dir.substr(0, pos);
    if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  return true;
}

std::string UserHome() {
  std::string home = FromEnv("HOME");
  if (!home.empty()) return home;
  if (const passwd *pw = getpwuid(getuid())) return pw->pw_dir;
  return "/tmp";
}

}  // namespace

const std::string &HomeDir() {
  static const std::string dir = [] {
    std::string d = FromEnv("QX_HOME");
    if (d.empty()) d = UserHome() + "/.qxtcp";
    MakeDirs(d, 0700);
    return d;
  }();
  return dir;
}

const std::string &MachineDir() {
  static const std::string dir = [] {
    std::string d = FromEnv("QX_MACHINE_DIR");
    if (d.empty()) {
      d = "/var/lib/qxtcp";
      if (!MakeDirs(d, 0755) || access(d.c_str(), W_OK) != 0) d = HomeDir() + "/machine";
    }
    MakeDirs(d, 0755);
    return d;
  }();
  return dir;
}

const std::string &RuntimeDir() {
  static const std::string dir = [] {
    std::string d = FromEnv("QX_RUNTIME_DIR");
    if (d.empty()) {
      std::string xdg = FromEnv("XDG_RUNTIME_DIR");
      d = xdg.empty() ? "/tmp/qx-" + std::to_string(getuid()) : xdg + "/qx";
    }
    EnsurePrivateDir(d);
    return d;
  }();
  return dir;
}

bool EnsurePrivateDir(const std::string &dir) {
  struct stat st {};
  // Usually it is there already: one look instead of a mkdir per path component
  // (every daemon's start passes here several times).
  if (lstat(dir.c_str(), &st) != 0) {
    if (!MakeDirs(dir, 0700) || lstat(dir.c_str(), &st) != 0) return false;
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != getuid()) return false;
  if ((st.st_mode & 077) != 0) chmod(dir.c_str(), 0700);
  return true;
}

namespace {
FILE *TraceFile() {
  static FILE *file = []() -> FILE * {
    std::string name = FromEnv("QX_TRACE");
    if (name.empty()) return nullptr;
    if (name == "-") return stderr;
    return std::fopen(name.c_str(), "a");
  }();
  return file;
}
}  // namespace

bool TraceEnabled() { return TraceFile() != nullptr; }

void Trace(const char *format, ...) {
  FILE *f = TraceFile();
  if (!f) return;
  static std::mutex lock;
  std::lock_guard guard(lock);
  std::fprintf(f, "[%d] ", static_cast<int>(getpid()));
  va_list ap;
  va_start(ap, format);
  std::vfprintf(f, format, ap);
  va_end(ap);
  std::fputc('\n', f);
  std::fflush(f);
}

}  // namespace qx
