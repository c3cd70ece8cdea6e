// DOS device names: DefineDosDeviceA and QueryDosDeviceA.
//
// A name ("QXNFS_RPC", "X:") holds a stack of targets, the newest first, as
// Windows keeps them: defining pushes, removing takes the newest (or the one
// that matches). Names are shared by the user's processes like Windows'
// session-wide names: each is a small file under RuntimeDir()/dosdevices/
// (owner-only), one target per line, changed under an exclusive lock on the
// file. A name whose last target is removed disappears.
#include <windows.h>

#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

#include "devices_internal.h"
#include "qx/env.h"

namespace qx {
namespace {

constexpr size_t kMaxTargets = 64;  // a name defined again and again keeps its newest targets
constexpr size_t kMaxText = 1024;   // longest name or target accepted

const std::string &NamesDir() {
  static const std::string *dir = [] {
    auto *d = new std::string(RuntimeDir() + "/dosdevices");
    EnsurePrivateDir(*d);
    return d;
  }();
  return *dir;
}

bool ValidText(const char *text, bool is_name) {
  if (!text || !*text || std::strlen(text) > kMaxText) return false;
  for (const char *p = text; *p; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7F) return false;
    if (is_name && (c == '\\' || c == '/')) return false;
  }
  return true;
}

// File name of a DOS name: upper case (names are case-blind), every byte
// other than a letter, digit, '-' or '_' written as %XX.
std::string FileOf(const std::string &name) {
  std::string out;
  for (unsigned char c : name) {
    c = static_cast<unsigned char>(std::toupper(c));
    if (std::isalnum(c) || c == '-' || c == '_') {
      out += static_cast<char>(c);
    } else {
      static const char hex[] = "0123456789ABCDEF";
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return NamesDir() + "/" + out;
}

std::string NameOfFile(const std::string &file) {
  std::string out;
  for (size_t i = 0; i < file.size(); ++i) {
    if (file[i] == '%' && i + 2 < file.size() && std::isxdigit(static_cast<unsigned char>(file[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(file[i + 2]))) {
      out += static_cast<char>(std::strtol(file.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += file[i];
    }
  }
  return out;
}

std::vector<std::string> ReadTargets(int fd) {
  std::vector<std::string> targets;
  std::string data;
  char buf[4096];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) data.append(buf, static_cast<size_t>(n));
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find('\n', start);
    if (end == std::string::npos) end = data.size();
    if (end > start) targets.push_back(data.substr(start, end - start));
    start = end + 1;
  }
  return targets;
}

bool WriteTargets(int fd, const std::vector<std::string> &targets) {
  std::string data;
  for (const std::string &t : targets) data += t + "\n";
  if (ftruncate(fd, 0) != 0) return false;
  return pwrite(fd, data.data(), data.size(), 0) == static_cast<ssize_t>(data.size());
}

// An open, exclusively locked name file (created when `create`).
class LockedName {
 public:
  LockedName(const std::string &name, bool create) : path_(FileOf(name)) {
    fd_ = open(path_.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
    if (fd_ >= 0)
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~LockedName() {
    if (fd_ >= 0) close(fd_);  // drops the lock
  }
  LockedName(const LockedName &) = delete;
  LockedName &operator=(const LockedName &) = delete;
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  void Remove() { unlink(path_.c_str()); }

 private:
  std::string path_;
  int fd_ = -1;
};

bool StartsWithNoCase(const std::string &text, const std::string &prefix) {
  return text.size() >= prefix.size() && strncasecmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

}  // namespace

std::vector<std::string> DosDeviceTargets(const std::string &name) {
  if (!ValidText(name.c_str(), true)) return {};
  LockedName file(name, false);
  return file.ok() ? ReadTargets(file.fd()) : std::vector<std::string>{};
}

}  // namespace qx

using namespace qx;

extern "C" {

BOOL WINAPI DefineDosDeviceA(DWORD dwFlags, LPCSTR lpDeviceName, LPCSTR lpTargetPath) {
  if (!ValidText(lpDeviceName, true) || (lpTargetPath && *lpTargetPath && !ValidText(lpTargetPath, false)))
    return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  if (dwFlags & DDD_REMOVE_DEFINITION) {
    LockedName file(lpDeviceName, false);
    if (!file.ok()) return SetLastError(ERROR_FILE_NOT_FOUND), FALSE;
    std::vector<std::string> targets = ReadTargets(file.fd());
    auto match = targets.begin();
    if (lpTargetPath && *lpTargetPath) {
      const std::string want = (dwFlags & DDD_RAW_TARGET_PATH) ? lpTargetPath : std::string("\\??\\") + lpTargetPath;
      match = std::find_if(targets.begin(), targets.end(), [&](const std::string &t) {
        return (dwFlags & DDD_EXACT_MATCH_ON_REMOVE) ? strcasecmp(t.c_str(), want.c_str()) == 0
                                                     : StartsWithNoCase(t, want);
      });
    }
    if (match == targets.end()) return SetLastError(ERROR_FILE_NOT_FOUND), FALSE;
    targets.erase(match);
    if (targets.empty()) {
      file.Remove();
    } else if (!WriteTargets(file.fd(), targets)) {
      return SetLastError(ERROR_CANTWRITE), FALSE;
    }
    return TRUE;
  }
  if (!lpTargetPath || !*lpTargetPath) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  // A DOS path as target is kept in the object-manager form Windows shows.
  const std::string target = (dwFlags & DDD_RAW_TARGET_PATH) ? lpTargetPath : std::string("\\??\\") + lpTargetPath;
  LockedName file(lpDeviceName, true);
  if (!file.ok()) return SetLastError(ERROR_ACCESS_DENIED), FALSE;
  std::vector<std::string> targets = ReadTargets(file.fd());
  targets.insert(targets.begin(), target);
  if (targets.size() > kMaxTargets) targets.resize(kMaxTargets);
  if (!WriteTargets(file.fd(), targets)) return SetLastError(ERROR_CANTWRITE), FALSE;
  return TRUE;
}

// The targets of a name, newest first, each ended by a NUL, then a final
// NUL; with no name, the defined names the same way. Returns the characters
// stored (both NULs counted), or 0 with ERROR_INSUFFICIENT_BUFFER /
// ERROR_FILE_NOT_FOUND.
DWORD WINAPI QueryDosDeviceA(LPCSTR lpDeviceName, LPSTR lpTargetPath, DWORD ucchMax) {
  std::vector<std::string> items;
  if (lpDeviceName) {
    if (!ValidText(lpDeviceName, true)) return SetLastError(ERROR_INVALID_PARAMETER), 0;
    items = DosDeviceTargets(lpDeviceName);
    if (items.empty()) return SetLastError(ERROR_FILE_NOT_FOUND), 0;
  } else if (DIR *d = opendir(NamesDir().c_str())) {
    while (const dirent *e = readdir(d))
      if (e->d_name[0] != '.') items.push_back(NameOfFile(e->d_name));
    closedir(d);
    std::sort(items.begin(), items.end());
  }
  std::string out;
  for (const std::string &t : items) out += t + '\0';
  out += '\0';
  if (!lpTargetPath || ucchMax < out.size()) return SetLastError(ERROR_INSUFFICIENT_BUFFER), 0;
  std::memcpy(lpTargetPath, out.data(), out.size());
  return static_cast<DWORD>(out.size());
}

}  // extern "C"
