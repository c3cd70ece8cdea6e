// The C runtime's bridge between descriptors and HANDLEs (_get_osfhandle,
// _open_osfhandle) and its error texts as the Microsoft runtime words them.
#include <windows.h>

#include <fcntl.h>
#include <linux/kcmp.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "files_internal.h"

namespace qx {
namespace {

// The HANDLE that goes with a runtime descriptor: made by _get_osfhandle, or
// given to _open_osfhandle. Either way _close of the descriptor closes it,
// as the runtime closes the handle underneath a descriptor.
std::mutex g_osf_lock;
std::unordered_map<int, HANDLE> &OsfHandles() {
  static auto *map = new std::unordered_map<int, HANDLE>;
  return *map;
}

bool IsSocketDescriptor(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

// Whether two descriptors are the same open file (one file position). A
// stream closed with fclose leaves its descriptor's handle behind; the next
// file given that descriptor number must not write through it.
bool SameOpenFile(int a, int b) {
  const long same = syscall(SYS_kcmp, getpid(), getpid(), KCMP_FILE, a, b);
  if (same >= 0) return same == 0;
  struct stat sa {
  }, sb{};  // no kcmp here: the same file at least
  return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string HostPathOfDescriptor(int fd) {
  char link[64], target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

}  // namespace

void ForgetOsfHandle(int fd) {
  HANDLE h = nullptr;
  {
    std::lock_guard guard(g_osf_lock);
    auto it = OsfHandles().find(fd);
    if (it == OsfHandles().end()) return;
    h = it->second;
    OsfHandles().erase(it);
  }
  CloseHandle(h);
}

}  // namespace qx

extern "C" {

// A socket's handle is the socket itself, as Winsock's handles are; a file's
// is a table handle on the same open file (same offset, same locks), made
// once per descriptor.
intptr_t _get_osfhandle(int fd) {
  const int flags = fd >= 0 ? fcntl(fd, F_GETFL) : -1;
  if (flags < 0) {
    errno = EBADF;
    return -1;
  }
  if (qx::IsSocketDescriptor(fd)) return fd;
  std::lock_guard guard(qx::g_osf_lock);
  auto &map = qx::OsfHandles();
  if (auto it = map.find(fd); it != map.end()) {
    const auto known = qx::Lookup<qx::FileObject>(it->second, qx::ObjectKind::File);
    if (known && qx::SameOpenFile(fd, known->fd())) return static_cast<intptr_t>(QX_HANDLE_VALUE(it->second));
    // The program closed the handle itself, or the descriptor now names
    // another file (its stream was closed by fclose): a new handle.
    if (known) CloseHandle(it->second);
    map.erase(it);
  }
  const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (copy < 0) {
    errno = EMFILE;
    return -1;
  }
  const int mode = flags & O_ACCMODE;
  auto file = std::make_shared<qx::FileObject>(copy, mode != O_WRONLY, mode != O_RDONLY, qx::HostPathOfDescriptor(fd));
  HANDLE h = qx::InsertHandle(file);
  if (!h) {
    errno = EMFILE;
    return -1;
  }
  map[fd] = h;
  return static_cast<intptr_t>(QX_HANDLE_VALUE(h));
}

// The descriptor takes the handle over: _close closes both. A socket (or any
// descriptor value) is taken as it is.
int _open_osfhandle(intptr_t osfhandle, int flags) {
  HANDLE h = QX_HANDLE_FROM(HANDLE, static_cast<DWORD>(osfhandle));
  int fd = -1;
  if (osfhandle > 0 && osfhandle <= 0x7FFFFFFF && qx::IsTableHandle(h)) {
    auto file = qx::Lookup<qx::FileObject>(h, qx::ObjectKind::File);
    if (!file) {
      errno = EBADF;
      return -1;
    }
    fd = fcntl(file->fd(), F_DUPFD_CLOEXEC, 3);
    if (fd < 0) {
      errno = EMFILE;
      return -1;
    }
    std::lock_guard guard(qx::g_osf_lock);
    qx::OsfHandles()[fd] = h;
  } else {
    fd = static_cast<int>(osfhandle);
    if (osfhandle < 0 || osfhandle > 0x7FFFFFFF || fcntl(fd, F_GETFD) < 0) {
      errno = EBADF;
      return -1;
    }
  }
  if (flags & _O_TEXT) _setmode(fd, _O_TEXT);
  return fd;
}

}  // extern "C"

// ---- error texts ----------------------------------------------------------------

namespace {

// Indexed by this system's errno values, worded as the Microsoft runtime
// words the same error; numbers it has no text for read "Unknown error".
const char *const kErrorTexts[] = {
    "No error",                             // 0
    "Operation not permitted",              // EPERM
    "No such file or directory",            // ENOENT
    "No such process",                      // ESRCH
    "Interrupted function call",            // EINTR
    "Input/output error",                   // EIO
    "No such device or address",            // ENXIO
    "Arg list too long",                    // E2BIG
    "Exec format error",                    // ENOEXEC
    "Bad file descriptor",                  // EBADF
    "No child processes",                   // ECHILD
    "Resource temporarily unavailable",     // EAGAIN
    "Not enough space",                     // ENOMEM
    "Permission denied",                    // EACCES
    "Bad address",                          // EFAULT
    "Unknown error",                        // 15
    "Resource device",                      // EBUSY
    "File exists",                          // EEXIST
    "Improper link",                        // EXDEV
    "No such device",                       // ENODEV
    "Not a directory",                      // ENOTDIR
    "Is a directory",                       // EISDIR
    "Invalid argument",                     // EINVAL
    "Too many open files in system",        // ENFILE
    "Too many open files",                  // EMFILE
    "Inappropriate I/O control operation",  // ENOTTY
    "Unknown error",                        // 26
    "File too large",                       // EFBIG
    "No space left on device",              // ENOSPC
    "Invalid seek",                         // ESPIPE
    "Read-only file system",                // EROFS
    "Too many links",                       // EMLINK
    "Broken pipe",                          // EPIPE
    "Domain error",                         // EDOM
    "Result too large",                     // ERANGE
    "Resource deadlock avoided",            // EDEADLK (35 here)
    "Filename too long",                    // ENAMETOOLONG (36)
    "No locks available",                   // ENOLCK (37)
    "Function not implemented",             // ENOSYS (38)
    "Directory not empty",                  // ENOTEMPTY (39)
    "Unknown error",                        // 40
    "Unknown error",                        // 41
    "Unknown error",                        // 42
};
static_assert(EDEADLK == 35 && ENAMETOOLONG == 36 && ENOLCK == 37 && ENOSYS == 38 && ENOTEMPTY == 39);
constexpr int kErrorCount = static_cast<int>(sizeof kErrorTexts / sizeof kErrorTexts[0]);
static_assert(kErrorCount == 43, "the runtime's count of error texts");

const char *ErrorText(int code) {
  if (code >= 0 && code < kErrorCount) return kErrorTexts[code];
  if (code == EILSEQ) return "Illegal byte sequence";
  return "Unknown error";
}

}  // namespace

extern "C" {

const int _sys_nerr = kErrorCount;
const char *const _sys_errlist[] = {
    kErrorTexts[0],  kErrorTexts[1],  kErrorTexts[2],  kErrorTexts[3],  kErrorTexts[4],  kErrorTexts[5],
    kErrorTexts[6],  kErrorTexts[7],  kErrorTexts[8],  kErrorTexts[9],  kErrorTexts[10], kErrorTexts[11],
    kErrorTexts[12], kErrorTexts[13], kErrorTexts[14], kErrorTexts[15], kErrorTexts[16], kErrorTexts[17],
    kErrorTexts[18], kErrorTexts[19], kErrorTexts[20], kErrorTexts[21], kErrorTexts[22], kErrorTexts[23],
    kErrorTexts[24], kErrorTexts[25], kErrorTexts[26], kErrorTexts[27], kErrorTexts[28], kErrorTexts[29],
    kErrorTexts[30], kErrorTexts[31], kErrorTexts[32], kErrorTexts[33], kErrorTexts[34], kErrorTexts[35],
    kErrorTexts[36], kErrorTexts[37], kErrorTexts[38], kErrorTexts[39], kErrorTexts[40], kErrorTexts[41],
    kErrorTexts[42],
};

char *qxcrt_strerror(int code) { return const_cast<char *>(ErrorText(code)); }

// "prefix: text\n" for the current errno (just "text\n" without a prefix), in
// a buffer of the calling thread, as the runtime's _strerror returns it.
char *_strerror(const char *prefix) {
  thread_local char buffer[512];
  const char *text = ErrorText(errno);
  if (prefix && *prefix)
    std::snprintf(buffer, sizeof buffer, "%.400s: %s\n", prefix, text);
  else
    std::snprintf(buffer, sizeof buffer, "%s\n", text);
  return buffer;
}

void qxcrt_perror(const char *prefix) {
  const char *text = ErrorText(errno);
  if (prefix && *prefix)
    std::fprintf(stderr, "%s: %s\n", prefix, text);
  else
    std::fprintf(stderr, "%s\n", text);
}

}  // extern "C"
