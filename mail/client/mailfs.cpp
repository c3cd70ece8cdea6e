// File-system operations of the mail store beyond plain file I/O: renaming
// without replacing (MoveFileA refuses an existing target) and the mailbox
// lock, a share-mode open of "QXLOCK.LCK" that denies other writers.
#include "mailfs.h"

// Last, so that the layer's C runtime names (fopen) are not undone by <cstdio>.
#include <windows.h>

bool RenameNoReplace(const std::string &from, const std::string &to) {
  return MoveFileA(from.c_str(), to.c_str()) != FALSE;
}

bool MailboxLock::Open(const std::string &directory, const char *name) {
  Close();
  file_ = _fsopen((directory + "\\" + name).c_str(), "a+", _SH_DENYWR);
  return file_ != nullptr;
}

void MailboxLock::Close() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
}
