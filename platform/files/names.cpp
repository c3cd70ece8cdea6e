// Names in directories: delete, move (never replacing unless asked), copy,
// directories, attributes, temporary names and directory listings with
// Windows wildcards, order and 8.3 alternate names.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "files_internal.h"
#include "qx/errors.h"
#include "qx/paths.h"

using qx::ErrorFromErrno;
using qx::Fail;
using qx::HostCall;

namespace {

// Maps a path for a call that needs an existing name.
bool ExistingHost(LPCSTR path, std::string &host, struct stat &st) {
  DWORD error;
  if (!path) return Fail(ERROR_INVALID_PARAMETER);
  if (!qx::HostPath(path, host, error)) return Fail(error);
  if (lstat(host.c_str(), &st) != 0) return Fail(ErrorFromErrno(errno, HostCall::Lookup));
  return true;
}

bool IsDriveRoot(const std::string &host) {
  for (char letter = 'A'; letter <= 'Z'; ++letter)
    if (qx::DriveRoot(letter) == host) return true;
  return false;
}

bool CopyContents(int from, int to) {
  for (;;) {
    ssize_t n = sendfile(to, from, nullptr, 1 << 20);
    if (n == 0) return true;
    if (n > 0) continue;
    if (errno == EINTR) continue;
    if (errno != EINVAL && errno != ENOSYS) return false;
    char buf[65536];  // file systems without sendfile
    for (;;) {
      ssize_t r = read(from, buf, sizeof buf);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return r == 0;
      for (ssize_t off = 0; off < r;) {
        ssize_t w = write(to, buf + off, static_cast<size_t>(r - off));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        off += w;
      }
    }
  }
}

// Copies a regular file with its times and mode; fail_if_exists refuses an
// existing target atomically (O_EXCL).
bool CopyHostFile(const std::string &from, const std::string &to, bool fail_if_exists) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail(ErrorFromErrno(errno));
  struct stat st {};
  fstat(in, &st);
  if (S_ISDIR(st.st_mode)) {
    close(in);
    return Fail(ERROR_ACCESS_DENIED);
  }
  struct stat target {};
  if (!fail_if_exists && stat(to.c_str(), &target) == 0 && (qx::IsReadOnly(target) || S_ISDIR(target.st_mode))) {
    close(in);
    return Fail(ERROR_ACCESS_DENIED);
  }
  qx::DirChange change(to);
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (fail_if_exists ? O_EXCL : O_TRUNC), 0666);
  if (out < 0) {
    DWORD e = ErrorFromErrno(errno, HostCall::Open);
    close(in);
    return Fail(e);
  }
  bool ok = CopyContents(in, out);
  int saved = errno;
  if (ok) {
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(out, times);
    fchmod(out, st.st_mode & 07777);
  }
  close(in);
  close(out);
  if (!ok) {
    unlink(to.c_str());
    return Fail(ErrorFromErrno(saved));
  }
  return true;
}

// Renames without ever replacing an existing target.
int RenameNoReplace(const std::string &from, const std::string &to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // File systems without RENAME_NOREPLACE: link() refuses an existing name.
  struct stat st {};
  if (lstat(from.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
    if (link(from.c_str(), to.c_str()) != 0) return -1;
    return unlink(from.c_str());
  }
  if (lstat(to.c_str(), &st) == 0) {
    errno = EEXIST;
    return -1;
  }
  return rename(from.c_str(), to.c_str());
}

bool MoveHost(LPCSTR existing, LPCSTR target, DWORD flags) {
  std::string from, to, to_full;
  struct stat st {};
  DWORD error;
  if (!ExistingHost(existing, from, st)) return false;
  if (!target) return Fail(ERROR_INVALID_PARAMETER);
  if (!qx::HostPath(target, to, to_full, error)) return Fail(error);
  struct stat tst {};
  qx::DirChange change(from, to);
  bool target_exists = lstat(to.c_str(), &tst) == 0;
  if (target_exists && tst.st_dev == st.st_dev && tst.st_ino == st.st_ino) {
    // The same file under another case: rename to the spelling asked for.
    std::string wanted = to.substr(0, to.rfind('/') + 1);
    std::string name = target;
    size_t cut = name.find_last_of("\\/");
    wanted += cut == std::string::npos ? name.substr(name.find(':') == 1 ? 2 : 0) : name.substr(cut + 1);
    while (!wanted.empty() && (wanted.back() == '.' || wanted.back() == ' ')) wanted.pop_back();
    change.Add(wanted);
    if (rename(from.c_str(), wanted.c_str()) != 0) return Fail(ErrorFromErrno(errno));
    return true;
  }
  if (target_exists && !(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
  if (target_exists && (S_ISDIR(tst.st_mode) || qx::IsReadOnly(tst))) return Fail(ERROR_ACCESS_DENIED);
  int rc = (flags & MOVEFILE_REPLACE_EXISTING) ? rename(from.c_str(), to.c_str()) : RenameNoReplace(from, to);
  if (rc == 0) return true;
  if (errno != EXDEV) return Fail(ErrorFromErrno(errno));
  // Another file system: files are copied and the original removed.
  if (S_ISDIR(st.st_mode) || !(flags & MOVEFILE_COPY_ALLOWED)) return Fail(ERROR_NOT_SAME_DEVICE);
  if (!CopyHostFile(from, to, !(flags & MOVEFILE_REPLACE_EXISTING))) return false;
  if (unlink(from.c_str()) != 0) return Fail(ErrorFromErrno(errno));
  return true;
}

// ---- Directory listings ----

bool WildcardMatch(const char *pattern, const char *name) {
  const char *star = nullptr, *resume = nullptr;
  while (*name) {
    if (*pattern == '?' ||
        std::tolower(static_cast<unsigned char>(*pattern)) == std::tolower(static_cast<unsigned char>(*name))) {
      ++pattern;
      ++name;
    } else if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == 0;
}

// Windows rules on top of plain wildcards: "*.*" and "*" take everything,
// "name.*" also takes "name", and a pattern ending in "." takes only names
// without an extension.
bool NameMatches(const std::string &pattern, const std::string &name) {
  if (pattern == "*" || pattern == "*.*") return true;
  if (WildcardMatch(pattern.c_str(), name.c_str())) return true;
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
      WildcardMatch(pattern.substr(0, pattern.size() - 2).c_str(), name.c_str()))
    return true;
  if (!pattern.empty() && pattern.back() == '.' && name.find('.') == std::string::npos)
    return WildcardMatch(pattern.substr(0, pattern.size() - 1).c_str(), name.c_str());
  return false;
}

struct FindEntry {
  WIN32_FIND_DATAA data;
};

class FindObject : public qx::KernelObject {
 public:
  FindObject() : KernelObject(qx::ObjectKind::FindFile) {}
  std::vector<FindEntry> entries;
  size_t next = 0;
};

// NTFS lists names in the order of their upper-cased forms.
bool NtfsBefore(const std::string &a, const std::string &b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int ca = std::toupper(static_cast<unsigned char>(a[i])), cb = std::toupper(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

void FillEntry(const std::string &dir_host, const std::string &name, const struct stat &st, FindEntry &e) {
  std::memset(&e.data, 0, sizeof e.data);
  std::string host = dir_host + (dir_host == "/" ? "" : "/") + name;
  e.data.dwFileAttributes = qx::AttributesOf(host, st);
  e.data.ftCreationTime = qx::FileTimeFrom(qx::BirthTime(host, st));
  e.data.ftLastAccessTime = qx::FileTimeFrom(st.st_atim);
  e.data.ftLastWriteTime = qx::FileTimeFrom(st.st_mtim);
  unsigned long long size = S_ISDIR(st.st_mode) ? 0 : static_cast<unsigned long long>(st.st_size);
  e.data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  e.data.nFileSizeLow = static_cast<DWORD>(size);
  std::snprintf(e.data.cFileName, sizeof e.data.cFileName, "%s", name.c_str());
}

}  // namespace

extern "C" {

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  std::string host;
  struct stat st {};
  if (!ExistingHost(lpFileName, host, st)) return FALSE;
  if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && qx::IsReadOnly(st))) return Fail(ERROR_ACCESS_DENIED);
  qx::DirChange change(host);
  if (unlink(host.c_str()) != 0) return Fail(ErrorFromErrno(errno));
  return TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
  return MoveHost(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) return Fail(ERROR_NOT_SUPPORTED);
  if (!lpNewFileName) return DeleteFileA(lpExistingFileName);
  return MoveHost(lpExistingFileName, lpNewFileName, dwFlags);
}

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  std::string from, to;
  struct stat st {};
  DWORD error;
  if (!ExistingHost(lpExistingFileName, from, st)) return FALSE;
  if (!lpNewFileName) return Fail(ERROR_INVALID_PARAMETER);
  if (!qx::HostPath(lpNewFileName, to, error)) return Fail(error);
  struct stat tst {};
  if (stat(to.c_str(), &tst) == 0 && tst.st_dev == st.st_dev && tst.st_ino == st.st_ino)
    return Fail(bFailIfExists ? ERROR_FILE_EXISTS : ERROR_SHARING_VIOLATION);
  return CopyHostFile(from, to, bFailIfExists);
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  (void)lpSecurityAttributes;
  std::string host;
  DWORD error;
  if (!lpPathName) return Fail(ERROR_INVALID_PARAMETER);
  if (!qx::HostPath(lpPathName, host, error)) return Fail(error);
  qx::DirChange change(host);
  if (mkdir(host.c_str(), 0777) != 0) return Fail(ErrorFromErrno(errno, HostCall::MakeDirectory));
  return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
  std::string host;
  struct stat st {};
  if (!ExistingHost(lpPathName, host, st)) return FALSE;
  if (!S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY);
  if (IsDriveRoot(host)) return Fail(ERROR_ACCESS_DENIED);
  qx::DirChange change(host);
  if (rmdir(host.c_str()) != 0) return Fail(ErrorFromErrno(errno));
  return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  std::string host;
  DWORD error;
  struct stat st {};
  if (!lpFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (!qx::HostPath(lpFileName, host, error)) {
    SetLastError(error);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (stat(host.c_str(), &st) != 0) {
    return Fail(ErrorFromErrno(errno, HostCall::Lookup), INVALID_FILE_ATTRIBUTES);
  }
  return qx::AttributesOf(host, st);
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  std::string host;
  struct stat st {};
  if (!ExistingHost(lpFileName, host, st)) return FALSE;
  if (S_ISLNK(st.st_mode) && stat(host.c_str(), &st) != 0) return Fail(ERROR_FILE_NOT_FOUND);
  if (!S_ISDIR(st.st_mode)) {
    mode_t mode = st.st_mode & 07777;
    if (dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
      mode &= ~static_cast<mode_t>(0222);
    } else if (qx::IsReadOnly(st)) {
      mode |= S_IWUSR;  // owner write back; group and others stay as they were
    }
    if (mode != (st.st_mode & 07777) && chmod(host.c_str(), mode) != 0) return Fail(ErrorFromErrno(errno));
  }
  DWORD kept = dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  char value[16];
  std::snprintf(value, sizeof value, "%u", static_cast<unsigned>(kept));
  // File systems without user attributes keep only the read-only bit.
  if (setxattr(host.c_str(), "user.qx.attrib", value, std::strlen(value), 0) != 0 && errno != ENOTSUP &&
      errno != EPERM && errno != EACCES)
    return Fail(ErrorFromErrno(errno));
  return TRUE;
}

UINT WINAPI GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName) {
  if (!lpPathName || !lpTempFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string dir = lpPathName;
  if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += "\\";
  std::string prefix = lpPrefixString ? std::string(lpPrefixString).substr(0, 3) : "";
  auto name_for = [&](unsigned number) {
    char tail[16];
    std::snprintf(tail, sizeof tail, "%X.TMP", number & 0xFFFF);
    return dir + prefix + tail;
  };
  if (uUnique != 0) {  // the caller's number: the name only, nothing created
    std::string name = name_for(uUnique);
    if (name.size() >= MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return 0;
    }
    std::memcpy(lpTempFileName, name.c_str(), name.size() + 1);
    return uUnique & 0xFFFF;
  }
  static std::atomic<unsigned> counter{static_cast<unsigned>(getpid()) * 7919u};
  for (int tries = 0; tries < 0x10000; ++tries) {
    unsigned number = (counter++ & 0xFFFF);
    if (number == 0) continue;
    std::string name = name_for(number);
    if (name.size() >= MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return 0;
    }
    HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      std::string host, full;
      DWORD error;
      if (qx::HostPath(name, host, full, error) && full.size() < MAX_PATH) name = full;
      std::memcpy(lpTempFileName, name.c_str(), name.size() + 1);
      return number;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return 0;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (!lpFileName || !lpFindFileData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string full;
  DWORD error;
  if (!qx::FullWindowsPath(lpFileName, full, error, true)) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  std::string given = lpFileName;
  if (!given.empty() && (given.back() == '\\' || given.back() == '/')) {
    SetLastError(ERROR_FILE_NOT_FOUND);  // "dir\" names no file
    return INVALID_HANDLE_VALUE;
  }
  // The pattern is taken as given: "*." must keep its dot, which full-path
  // parsing would drop.
  size_t cut = full.rfind('\\');
  std::string dir = full.substr(0, cut + 1);
  size_t given_cut = given.find_last_of("\\/");
  if (given_cut == std::string::npos && given.size() >= 2 && given[1] == ':') given_cut = 1;
  std::string pattern = given_cut == std::string::npos ? given : given.substr(given_cut + 1);
  if (pattern == "." || pattern == "..") pattern = full.substr(cut + 1);
  if (pattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::string dir_host;
  if (!qx::HostPath(dir, dir_host, error)) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  DIR *d = opendir(dir_host.c_str());
  if (!d) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::vector<std::string> names;
  while (dirent *e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end(), NtfsBefore);
  auto found = std::make_shared<FindObject>();
  if (!IsDriveRoot(dir_host)) {
    for (const char *dot : {".", ".."}) {
      struct stat st {};
      if (NameMatches(pattern, dot) && stat((dir_host + "/" + dot).c_str(), &st) == 0) {
        FindEntry e;
        FillEntry(dir_host, dot, st, e);
        found->entries.push_back(e);
      }
    }
  }
  // Alternate 8.3 names, made from each name itself (short_names.cpp).
  const std::vector<std::string> alternates = qx::AlternateNames(names);
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string &name = names[i];
    const std::string &alternate = alternates[i];
    if (!NameMatches(pattern, name) && (alternate.empty() || !NameMatches(pattern, alternate))) continue;
    struct stat st {};
    if (stat((dir_host + (dir_host == "/" ? "" : "/") + name).c_str(), &st) != 0) continue;  // dangling link
    if (name.size() >= MAX_PATH) continue;
    FindEntry e;
    FillEntry(dir_host, name, st, e);
    std::snprintf(e.data.cAlternateFileName, sizeof e.data.cAlternateFileName, "%s", alternate.c_str());
    found->entries.push_back(e);
  }
  if (found->entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *lpFindFileData = found->entries[0].data;
  found->next = 1;
  HANDLE h = qx::InsertHandle(found);
  if (!h) {
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return h;
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  auto found = qx::Lookup<FindObject>(hFindFile, qx::ObjectKind::FindFile);
  if (!found) return Fail(ERROR_INVALID_HANDLE);
  if (!lpFindFileData) return Fail(ERROR_INVALID_PARAMETER);
  if (found->next >= found->entries.size()) return Fail(ERROR_NO_MORE_FILES);
  *lpFindFileData = found->entries[found->next++].data;
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
  if (!qx::Lookup<FindObject>(hFindFile, qx::ObjectKind::FindFile)) return Fail(ERROR_INVALID_HANDLE);
  return CloseHandle(hFindFile);
}

}  // extern "C"
