// File-system operations of the mail store beyond plain file I/O: renaming
// without replacing (MoveFileA refuses an existing target) and the mailbox
// lock, a share-mode open of "QXLOCK.LCK" that denies other writers.
#include "mailfs.h"

#include <cerrno>

// Last, so that the layer's C runtime names (fopen) are not undone by <cstdio>.
#include <windows.h>

bool RenameNoReplace(const std::string &from, const std::string &to) {
  return MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

namespace {

// Whether a lock file that would not open for writing is held by another
// process. The C runtime reports a holder's refusal and a file or directory
// that cannot be written alike (EACCES); opening the existing file for writing
// while sharing everything tells them apart: only a holder makes that a
// sharing violation. A file that opens was released meanwhile: the caller's
// next try takes it.
bool HeldByAnotherProcess(const std::string &path) {
  HANDLE probe = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(probe);
  return true;
}

}  // namespace

bool MailboxLock::Open(const std::string &directory, const char *name) {
  Close();
  const std::string path = directory + "\\" + name;
  file_ = _fsopen(path.c_str(), "a+", _SH_DENYWR);
  heldElsewhere_ = !file_ && errno == EACCES && HeldByAnotherProcess(path);
  return file_ != nullptr;
}

void MailboxLock::Close() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
}
