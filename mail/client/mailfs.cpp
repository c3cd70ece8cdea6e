// File-system operations of the mail store beyond plain file I/O: renaming
// without replacing (MoveFileA refuses an existing target) and the mailbox
// lock, a share-mode open of "QXLOCK.LCK" that denies other writers.
#include "mailfs.h"

// Last, so that the layer's C runtime names (fopen) are not undone by <cstdio>.
#include <windows.h>

bool RenameNoReplace(const std::string &from, const std::string &to) {
  return MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

// The lock file is opened for writing while denying other writers (readers
// may look). The layer tells a holder's refusal (a sharing violation) apart
// from a file or directory that cannot be written at all.
bool MailboxLock::Open(const std::string &directory, const char *name) {
  Close();
  const std::string path = directory + "\\" + name;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  heldElsewhere_ = file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
  if (file != INVALID_HANDLE_VALUE) handle_ = file;
  return Held();
}

void MailboxLock::Close() {
  if (handle_) {
    CloseHandle(handle_);
    handle_ = nullptr;
  }
}
