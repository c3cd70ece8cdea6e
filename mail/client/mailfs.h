// File-system operations of the mail store that need more than the C++ library
// gives: renaming without ever replacing a file, and the mailbox lock.
#ifndef QX_MAIL_MAILFS_H
#define QX_MAIL_MAILFS_H

#include <cstdio>
#include <string>

// Renames from to to; fails (false) when to exists. The rename is atomic, so a
// message file always has exactly one name, whenever the process dies.
bool RenameNoReplace(const std::string &from, const std::string &to);

// The mailbox lock "QXLOCK.LCK" in a mail directory: held by one process at a
// time, released when it is closed or its process ends.
class MailboxLock {
 public:
  MailboxLock() = default;
  ~MailboxLock() { Close(); }
  MailboxLock(const MailboxLock &) = delete;
  MailboxLock &operator=(const MailboxLock &) = delete;
  // True when this process now holds the lock of directory (or another lock
  // file there, such as the send queue's).
  bool Open(const std::string &directory, const char *name = "QXLOCK.LCK");
  void Close();
  bool Held() const { return handle_ != nullptr; }
  // After Open failed: true when another process holds the lock (waiting may
  // help), false when the lock file cannot be made or opened for writing at
  // all (a read-only directory or lock file: waiting never helps).
  bool HeldElsewhere() const { return heldElsewhere_; }

 private:
  void *handle_ = nullptr;  // the open lock file (a HANDLE); null while not held
  bool heldElsewhere_ = false;
};

#endif
