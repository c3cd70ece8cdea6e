// Files behind HANDLEs: CreateFileA and the calls on its handles, share modes
// between opens, byte-range locks, OpenFile and the _l calls.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <optional>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "files_internal.h"
#include "qx/errors.h"
#include "qx/paths.h"
#include "qx/print.h"

namespace qx {

FileObject::~FileObject() {
  if (delete_on_close_) {
    DirChange change(host_);
    unlink(host_.c_str());
  }
  if (fd_ >= 0) close(fd_);
}

namespace {
// Marker bytes of the share-mode protocol, far beyond any file's data and
// beyond what LockFile callers use.
constexpr off_t kShareBase = LLONG_MAX - 64;
enum ShareSlot { kHasRead = 0, kHasWrite = 1, kDeniesRead = 2, kDeniesWrite = 3 };

bool TakeMarker(int fd, int slot) {
  struct flock fl {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kShareBase + slot;
  fl.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

void DropMarker(int fd, int slot) {
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kShareBase + slot;
  fl.l_len = 1;
  fcntl(fd, F_OFD_SETLK, &fl);
}

// Serialises the share-mode step of racing opens of one file.
class ShareGate {
 public:
  explicit ShareGate(int fd) : fd_(fd) {
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~ShareGate() { flock(fd_, LOCK_UN); }
  ShareGate(const ShareGate &) = delete;
  ShareGate &operator=(const ShareGate &) = delete;

 private:
  int fd_;
};

// True when another open file description holds the marker.
bool OtherHolds(int fd, int slot) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kShareBase + slot;
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}
}  // namespace

DWORD AcquireShareMode(int fd, bool read_access, bool write_access, DWORD share, const struct stat *known) {
  if (!read_access && !write_access) return 0;  // attribute-only opens take part in nothing
  struct stat st {};
  if (known)
    st = *known;
  else if (fstat(fd, &st) != 0)
    return 0;
  if (!S_ISREG(st.st_mode)) return 0;
  bool deny_read = !(share & FILE_SHARE_READ);
  bool deny_write = !(share & FILE_SHARE_WRITE);
  const bool want[4] = {read_access, write_access, deny_read, deny_write};
  // An open that denies nothing can be refused only by an open that denies
  // its access, and never makes a racing open fail wrongly: if it sees such a
  // denial it backs off and asks again through the gate below, where the
  // order between the two is settled. So the common case takes no gate.
  if (!deny_read && !deny_write) {
    for (int slot = 0; slot < 2; ++slot)
      if (want[slot]) TakeMarker(fd, slot);
    if (!(read_access && OtherHolds(fd, kDeniesRead)) && !(write_access && OtherHolds(fd, kDeniesWrite))) return 0;
    for (int slot = 0; slot < 2; ++slot)
      if (want[slot]) DropMarker(fd, slot);
  }
  // Taking markers and checking the others' is one step for each opener:
  // without this gate two racing opens could each see the other's markers
  // and both be refused. flock works on read-only descriptors and does not
  // interact with the markers' record locks; it is held only for this step.
  ShareGate gate(fd);
  for (int slot = 0; slot < 4; ++slot) {
    // A descriptor without read access cannot take markers; such an open
    // still checks what others hold.
    if (want[slot]) TakeMarker(fd, slot);
  }
  bool conflict = (read_access && OtherHolds(fd, kDeniesRead)) || (write_access && OtherHolds(fd, kDeniesWrite)) ||
                  (deny_read && OtherHolds(fd, kHasRead)) || (deny_write && OtherHolds(fd, kHasWrite));
  if (conflict) {
    for (int slot = 0; slot < 4; ++slot)
      if (want[slot]) DropMarker(fd, slot);
    return ERROR_SHARING_VIOLATION;
  }
  return 0;
}

int OpenForShare(const std::string &host, int flags, mode_t mode) {
  flags |= O_CLOEXEC;
  if ((flags & O_ACCMODE) == O_WRONLY) {
    int fd = open(host.c_str(), (flags & ~O_ACCMODE) | O_RDWR, mode);
    if (fd >= 0 || (errno != EACCES && errno != EPERM)) return fd;
  }
  return open(host.c_str(), flags, mode);
}

bool IsReadOnly(const struct stat &st) { return (st.st_mode & 0222) == 0; }

DWORD AttributesOf(const std::string &host, const struct stat &st) {
  DWORD attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (IsReadOnly(st) && !S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_READONLY;
  char value[16] = {};
  ssize_t n = getxattr(host.c_str(), "user.qx.attrib", value, sizeof value - 1);
  if (n > 0) {
    attributes |= static_cast<DWORD>(std::strtoul(value, nullptr, 10)) &
                  (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
  } else if (!S_ISDIR(st.st_mode)) {
    attributes |= FILE_ATTRIBUTE_ARCHIVE;  // what a new file has on Windows
  }
  return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

FILETIME FileTimeFrom(const struct timespec &ts) {
  const long long kEpochDelta = 11644473600LL;  // seconds from 1601 to 1970
  unsigned long long v = static_cast<unsigned long long>(ts.tv_sec + kEpochDelta) * 10000000ULL +
                         static_cast<unsigned long long>(ts.tv_nsec / 100);
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(v);
  ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return ft;
}

struct timespec TimespecFrom(const FILETIME &ft) {
  unsigned long long v = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  struct timespec ts {};
  ts.tv_sec = static_cast<time_t>(v / 10000000ULL) - 11644473600LL;
  ts.tv_nsec = static_cast<long>(v % 10000000ULL) * 100;
  return ts;
}

struct timespec BirthTime(const std::string &host, const struct stat &st) {
  struct statx sx {};
  if (!host.empty() && statx(AT_FDCWD, host.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME)) {
    struct timespec ts {};
    ts.tv_sec = sx.stx_btime.tv_sec;
    ts.tv_nsec = sx.stx_btime.tv_nsec;
    return ts;
  }
  return st.st_ctim;
}

int FileHandleDescriptor(HANDLE handle) {
  auto file = Lookup<FileObject>(handle, ObjectKind::File);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  return file->fd();
}

}  // namespace qx

namespace qx {
// The devices part (weak: a build may leave it out).
HANDLE OpenDosDevice(const std::string &name, DWORD access) __attribute__((weak));
}  // namespace qx

using qx::Fail;

namespace {

std::shared_ptr<qx::FileObject> FileOf(HANDLE h) {
  auto file = qx::Lookup<qx::FileObject>(h, qx::ObjectKind::File);
  if (!file) SetLastError(ERROR_INVALID_HANDLE);
  return file;
}

// LockFile ranges stay below the share-mode markers.
constexpr long long kShareBaseLimit() { return LLONG_MAX - 64; }

// Reads or writes everything asked for unless end of file or an error
// stops it; at is -1 for the current position.
ssize_t ReadAll(int fd, void *buffer, size_t count, off_t at) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = at < 0 ? read(fd, static_cast<char *>(buffer) + done, count - done)
                       : pread(fd, static_cast<char *>(buffer) + done, count - done, at + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done ? static_cast<ssize_t>(done) : -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

ssize_t WriteAll(int fd, const void *buffer, size_t count, off_t at) {
  size_t done = 0;
  while (done < count) {
    ssize_t n = at < 0
                    ? write(fd, static_cast<const char *>(buffer) + done, count - done)
                    : pwrite(fd, static_cast<const char *>(buffer) + done, count - done, at + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done ? static_cast<ssize_t>(done) : -1;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool WantsRead(DWORD access) { return access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA); }
bool WantsWrite(DWORD access) { return access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA); }

}  // namespace

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  (void)lpSecurityAttributes;
  (void)hTemplateFile;
  if (!lpFileName || dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  // "\\.\NAME": a device another part of the suite provides.
  if (std::strncmp(lpFileName, "\\\\.\\", 4) == 0 && lpFileName[4] && qx::OpenDosDevice)
    return qx::OpenDosDevice(lpFileName + 4, dwDesiredAccess);
  std::string host;
  DWORD error = 0;
  // "PRN" and "LPT1:" open a new print job's data file; anything else is a path.
  const bool device = qx::print::OpenDevice(lpFileName, host, error);
  if ((device && error) || (!device && !qx::HostPath(lpFileName, host, error))) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  const bool want_read = WantsRead(dwDesiredAccess);
  const bool want_write = WantsWrite(dwDesiredAccess);
  struct stat st {};
  bool existed = stat(host.c_str(), &st) == 0;
  if (existed && S_ISDIR(st.st_mode)) {
    if (!(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) || dwCreationDisposition == CREATE_NEW ||
        dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING) {
      SetLastError(dwCreationDisposition == CREATE_NEW ? ERROR_ALREADY_EXISTS : ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    int fd = open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      SetLastError(qx::ErrorFromErrno(errno));
      return INVALID_HANDLE_VALUE;
    }
    HANDLE h = qx::InsertHandle(std::make_shared<qx::FileObject>(fd, false, false, host));
    if (!h) {
      SetLastError(ERROR_TOO_MANY_OPEN_FILES);
      return INVALID_HANDLE_VALUE;
    }
    SetLastError(dwCreationDisposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
  }
  if (dwCreationDisposition == CREATE_NEW && existed) {
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
  }
  if ((dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING) && !existed) {
    SetLastError(qx::ErrorFromErrno(errno, qx::HostCall::Lookup));
    return INVALID_HANDLE_VALUE;
  }
  const bool truncate = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
  // The read-only attribute holds for every caller, root included.
  if (existed && qx::IsReadOnly(st) && (want_write || truncate) && host != "/dev/null") {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  int flags = (want_read && (want_write || truncate)) ? O_RDWR : (want_write || truncate) ? O_WRONLY : O_RDONLY;
  if (!existed || dwCreationDisposition == OPEN_ALWAYS || dwCreationDisposition == CREATE_ALWAYS) flags |= O_CREAT;
  if (dwCreationDisposition == CREATE_NEW) flags |= O_EXCL;
  // A file that appears meanwhile is opened as existing: creation is exclusive.
  int fd = -1;
  std::optional<qx::DirChange> change;  // a name this call may add (or remove again)
  if (!existed && (flags & O_CREAT)) {
    change.emplace(host);
    fd = qx::OpenForShare(host, flags | O_EXCL, 0666);
    if (fd < 0 && errno == EEXIST && dwCreationDisposition != CREATE_NEW) {
      existed = true;
      flags &= ~O_CREAT;
    }
  }
  if (fd < 0 && (existed || !(flags & O_CREAT))) fd = qx::OpenForShare(host, flags, 0666);
  if (fd < 0) {
    SetLastError(qx::ErrorFromErrno(errno, existed ? qx::HostCall::Open : qx::HostCall::Create));
    return INVALID_HANDLE_VALUE;
  }
  // Share modes are checked before anything changes, so a refused open
  // never truncates another process's file.
  // A file this call just made can only be refused because another process
  // opened it in between and holds it: the file stays, as it is in use.
  if (DWORD share_error = qx::AcquireShareMode(fd, want_read, want_write, dwShareMode)) {
    close(fd);
    SetLastError(share_error);
    return INVALID_HANDLE_VALUE;
  }
  if (truncate && existed && ftruncate(fd, 0) != 0) {
    SetLastError(qx::ErrorFromErrno(errno));
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  if (!existed && (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY)) fchmod(fd, 0444);
  auto file = std::make_shared<qx::FileObject>(fd, want_read, want_write, host);
  if (dwFlagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) file->set_delete_on_close(true);
  HANDLE h = qx::InsertHandle(file);
  if (!h) {
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
  }
  bool report_existing = existed && (dwCreationDisposition == OPEN_ALWAYS || dwCreationDisposition == CREATE_ALWAYS);
  SetLastError(report_existing ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = 0;
  auto file = FileOf(hFile);
  if (!file) return FALSE;
  if (!file->can_read()) return Fail(ERROR_ACCESS_DENIED);
  if (!lpBuffer && nNumberOfBytesToRead) return Fail(ERROR_INVALID_PARAMETER);
  off_t at =
      lpOverlapped
          ? static_cast<off_t>((static_cast<unsigned long long>(lpOverlapped->OffsetHigh) << 32) | lpOverlapped->Offset)
          : -1;
  if (qx::RangeLockedByOthers(file->fd(), at, nNumberOfBytesToRead, false)) return Fail(ERROR_LOCK_VIOLATION);
  ssize_t n = ReadAll(file->fd(), lpBuffer, nNumberOfBytesToRead, at);
  if (n < 0) return Fail(qx::ErrorFromErrno(errno));
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = static_cast<DWORD>(n);
  if (lpOverlapped) lpOverlapped->InternalHigh = static_cast<ULONG_PTR>(n);
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
  auto file = FileOf(hFile);
  if (!file) return FALSE;
  if (!file->can_write()) return Fail(ERROR_ACCESS_DENIED);
  if (!lpBuffer && nNumberOfBytesToWrite) return Fail(ERROR_INVALID_PARAMETER);
  off_t at =
      lpOverlapped
          ? static_cast<off_t>((static_cast<unsigned long long>(lpOverlapped->OffsetHigh) << 32) | lpOverlapped->Offset)
          : -1;
  if (qx::RangeLockedByOthers(file->fd(), at, nNumberOfBytesToWrite, true)) return Fail(ERROR_LOCK_VIOLATION);
  ssize_t n = WriteAll(file->fd(), lpBuffer, nNumberOfBytesToWrite, at);
  if (n < 0) return Fail(qx::ErrorFromErrno(errno));
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = static_cast<DWORD>(n);
  if (static_cast<DWORD>(n) < nNumberOfBytesToWrite) return Fail(ERROR_DISK_FULL);
  return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  auto file = FileOf(hFile);
  if (!file) return INVALID_SET_FILE_POINTER;
  long long distance =
      lpDistanceToMoveHigh
          ? static_cast<long long>((static_cast<unsigned long long>(static_cast<DWORD>(*lpDistanceToMoveHigh)) << 32) |
                                   static_cast<DWORD>(lDistanceToMove))
          : static_cast<long long>(lDistanceToMove);
  int whence = dwMoveMethod == FILE_BEGIN     ? SEEK_SET
               : dwMoveMethod == FILE_CURRENT ? SEEK_CUR
               : dwMoveMethod == FILE_END     ? SEEK_END
                                              : -1;
  if (whence < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  off_t target = distance;
  if (whence != SEEK_SET) {
    struct stat st {};
    off_t base = whence == SEEK_CUR ? lseek(file->fd(), 0, SEEK_CUR) : (fstat(file->fd(), &st) == 0 ? st.st_size : -1);
    if (base < 0) {
      SetLastError(qx::ErrorFromErrno(errno));
      return INVALID_SET_FILE_POINTER;
    }
    target = base + distance;
  }
  if (target < 0 || (!lpDistanceToMoveHigh && target > 0xFFFFFFFELL)) {
    SetLastError(target < 0 ? 131L /* ERROR_NEGATIVE_SEEK */ : ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (lseek(file->fd(), target, SEEK_SET) < 0) {
    SetLastError(qx::ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<unsigned long long>(target) >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(target);
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  auto file = FileOf(hFile);
  if (!file) return FALSE;
  if (!file->can_write()) return Fail(ERROR_ACCESS_DENIED);
  off_t at = lseek(file->fd(), 0, SEEK_CUR);
  if (at < 0 || ftruncate(file->fd(), at) != 0) return Fail(qx::ErrorFromErrno(errno));
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  auto file = FileOf(hFile);
  struct stat st {};
  if (!file || fstat(file->fd(), &st) != 0) {
    if (file) SetLastError(qx::ErrorFromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  unsigned long long size = static_cast<unsigned long long>(st.st_size);
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                        LPFILETIME lpLastWriteTime) {
  auto file = FileOf(hFile);
  struct stat st {};
  if (!file) return FALSE;
  if (fstat(file->fd(), &st) != 0) return Fail(qx::ErrorFromErrno(errno));
  if (lpCreationTime) *lpCreationTime = qx::FileTimeFrom(qx::BirthTime(file->host(), st));
  if (lpLastAccessTime) *lpLastAccessTime = qx::FileTimeFrom(st.st_atim);
  if (lpLastWriteTime) *lpLastWriteTime = qx::FileTimeFrom(st.st_mtim);
  return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE hFile, const FILETIME *lpCreationTime, const FILETIME *lpLastAccessTime,
                        const FILETIME *lpLastWriteTime) {
  (void)lpCreationTime;  // the host keeps no settable creation time
  auto file = FileOf(hFile);
  if (!file) return FALSE;
  struct timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_nsec = UTIME_OMIT;
  if (lpLastAccessTime) times[0] = qx::TimespecFrom(*lpLastAccessTime);
  if (lpLastWriteTime) times[1] = qx::TimespecFrom(*lpLastWriteTime);
  if (futimens(file->fd(), times) != 0) return Fail(qx::ErrorFromErrno(errno));
  return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
  auto file = FileOf(hFile);
  if (!file) return FALSE;
  if (fsync(file->fd()) != 0 && errno != EINVAL) return Fail(qx::ErrorFromErrno(errno));
  return TRUE;
}

DWORD WINAPI GetFileType(HANDLE hFile) {
  auto file = FileOf(hFile);
  struct stat st {};
  if (!file || fstat(file->fd(), &st) != 0) return FILE_TYPE_UNKNOWN;
  if (S_ISCHR(st.st_mode)) return FILE_TYPE_CHAR;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_DISK;
}

BOOL WINAPI GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION info) {
  auto file = FileOf(hFile);
  struct stat st {};
  if (!file) return FALSE;
  if (!info) return Fail(ERROR_INVALID_PARAMETER);
  if (fstat(file->fd(), &st) != 0) return Fail(qx::ErrorFromErrno(errno));
  info->dwFileAttributes = qx::AttributesOf(file->host(), st);
  info->ftCreationTime = qx::FileTimeFrom(qx::BirthTime(file->host(), st));
  info->ftLastAccessTime = qx::FileTimeFrom(st.st_atim);
  info->ftLastWriteTime = qx::FileTimeFrom(st.st_mtim);
  info->dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev ^ (st.st_dev >> 32));
  info->nFileSizeHigh = static_cast<DWORD>(static_cast<unsigned long long>(st.st_size) >> 32);
  info->nFileSizeLow = static_cast<DWORD>(st.st_size);
  info->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
  info->nFileIndexHigh = static_cast<DWORD>(static_cast<unsigned long long>(st.st_ino) >> 32);
  info->nFileIndexLow = static_cast<DWORD>(st.st_ino);
  return TRUE;
}

BOOL WINAPI LockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh, DWORD nNumberOfBytesToLockLow,
                     DWORD nNumberOfBytesToLockHigh) {
  auto file = FileOf(hFile);
  if (!file) return FALSE;
  std::uint64_t offset = (std::uint64_t{dwFileOffsetHigh} << 32) | dwFileOffsetLow;
  std::uint64_t length = (std::uint64_t{nNumberOfBytesToLockHigh} << 32) | nNumberOfBytesToLockLow;
  if (length == 0 || offset >= static_cast<std::uint64_t>(kShareBaseLimit()) ||
      length > static_cast<std::uint64_t>(kShareBaseLimit()) - offset)
    return Fail(ERROR_INVALID_PARAMETER);
  // Windows refuses an overlapping lock even from the same handle.
  for (const auto &r : file->locked_ranges())
    if (offset < r.offset + r.length && r.offset < offset + length) return Fail(ERROR_LOCK_VIOLATION);
  struct flock fl {};
  fl.l_type = file->can_write() ? F_WRLCK : F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  if (fcntl(file->fd(), F_OFD_SETLK, &fl) != 0) return Fail(ERROR_LOCK_VIOLATION);
  file->locked_ranges().push_back({offset, length});
  return TRUE;
}

BOOL WINAPI UnlockFile(HANDLE hFile, DWORD dwFileOffsetLow, DWORD dwFileOffsetHigh, DWORD nNumberOfBytesToUnlockLow,
                       DWORD nNumberOfBytesToUnlockHigh) {
  auto file = FileOf(hFile);
  if (!file) return FALSE;
  std::uint64_t offset = (std::uint64_t{dwFileOffsetHigh} << 32) | dwFileOffsetLow;
  std::uint64_t length = (std::uint64_t{nNumberOfBytesToUnlockHigh} << 32) | nNumberOfBytesToUnlockLow;
  auto &ranges = file->locked_ranges();
  auto it = std::find_if(ranges.begin(), ranges.end(),
                         [&](const qx::FileObject::Range &r) { return r.offset == offset && r.length == length; });
  if (it == ranges.end()) return Fail(158L /* ERROR_NOT_LOCKED */);
  ranges.erase(it);
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fcntl(file->fd(), F_OFD_SETLK, &fl);
  // Locks of this handle that overlapped the released bytes are taken again.
  for (const auto &r : ranges) {
    if (r.offset < offset + length && offset < r.offset + r.length) {
      struct flock again {};
      again.l_type = file->can_write() ? F_WRLCK : F_RDLCK;
      again.l_whence = SEEK_SET;
      again.l_start = static_cast<off_t>(r.offset);
      again.l_len = static_cast<off_t>(r.length);
      fcntl(file->fd(), F_OFD_SETLK, &again);
    }
  }
  return TRUE;
}

}  // extern "C"
