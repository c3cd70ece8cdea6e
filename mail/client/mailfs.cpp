// File-system operations of the mail store beyond the C++ library. These are
// the two calls that move to the platform layer's MoveFileA (which refuses an
// existing target) and share-mode open of "QXLOCK.LCK" once those exist.
#include "mailfs.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

bool RenameNoReplace(const std::string &from, const std::string &to) {
  return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool MailboxLock::Open(const std::string &directory) {
  Close();
  std::string path = directory + "/QXLOCK.LCK";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  // An open-file lock: it belongs to this open file, not to the process's other
  // descriptors of the same file, and ends with the process.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void MailboxLock::Close() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}
