// LockFile regions are mandatory for the other handles of a file, as on
// Windows: a read through another handle (of this process or another one)
// that touches a region locked by a writable handle, and a write touching any
// locked region, fail with ERROR_LOCK_VIOLATION. The locks are OFD byte-range
// locks (file_handles.cpp), so the question "does another open hold a lock
// here" is one F_OFD_GETLK, which never reports the asking handle's own
// locks: the handle that locked a region reads and writes it freely.
#include <windows.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include "files_internal.h"

namespace qx {

bool RangeLockedByOthers(int fd, long long at, std::uint64_t length, bool write) {
  if (length == 0) return false;
  if (at < 0) {
    at = lseek(fd, 0, SEEK_CUR);
    if (at < 0) return false;  // a pipe or device: nothing to lock
  }
  struct flock fl {};
  fl.l_type = write ? F_WRLCK : F_RDLCK;  // a write meets every lock, a read only exclusive ones
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(at);
  const std::uint64_t room = static_cast<std::uint64_t>(LLONG_MAX - 64) - static_cast<std::uint64_t>(at);
  fl.l_len = static_cast<off_t>(length < room ? length : room);
  if (fl.l_len <= 0) return false;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

}  // namespace qx
