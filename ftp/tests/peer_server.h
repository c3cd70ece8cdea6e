// Test support: Debian's FTP servers (vsftpd, proftpd, pure-ftpd) started on
// 127.0.0.1:21 of the test's network namespace, each with a configuration
// written by the test, and a prepared directory tree to list.
#ifndef QX_FTP_TESTS_PEER_SERVER_H
#define QX_FTP_TESTS_PEER_SERVER_H

#include <string>

#include "qxtest/support.h"
#include <vector>

#include <sys/types.h>

namespace ftptest {

// The local account the servers log in; scripts/setup.d/ftp-peers.sh makes it.
constexpr const char *kLocalUser = "qxftpuser";
// Its password, made at random by the setup script; empty when missing.
std::string LocalPassword();

enum class PeerKind { kVsftpd, kProftpd, kPureFtpd };
const char *PeerName(PeerKind kind);

class PeerServer {
 public:
  // Starts the server with `root` as the anonymous root; `work` holds its
  // configuration and logs. Error() says what failed.
  // pure-ftpd serves anonymous logins from the home of the account "ftp":
  // with `bindAnonymousHome` (in a mount namespace of the test's own) the
  // root is mounted there for the server's life; without, it serves local
  // logins only.
  // `address` is the loopback address it listens on (port 21); `writable`
  // lets logged-in users store, delete and rename (vsftpd converts TYPE A
  // uploads then too).
  PeerServer(PeerKind kind, const std::string &root, const std::string &work, bool bindAnonymousHome = false,
             const std::string &address = "127.0.0.1", bool writable = false);
  ~PeerServer();
  const std::string &Error() const { return error_; }
  bool Anonymous() const { return anonymous_; }  // serves anonymous logins
  // Ends the server and every session it runs (as a crash would).
  void Stop();

 private:
  bool WaitForPort();
  std::string address_;
  pid_t pid_ = -1;
  std::string error_;
  bool anonymous_ = true;
  std::string boundHome_;
};

// A scratch folder the servers' own accounts can read.
struct ServerDir : qxtest::TempDir {
  ServerDir() : qxtest::TempDir("qxftp", 0755) {}
};

struct TreeEntry {
  std::string name;
  int kind;  // 0 file, 1 directory, 2 symbolic link
  unsigned long long size;
};

// Fills the directory with names that are hard to list: blanks inside and in
// front, "->" in a regular file's name, a symbolic link, a sparse 5 GB file,
// dates of this year and of past years, a directory with a quote in its
// name. Returns what lstat says of each.
std::vector<TreeEntry> MakeListingTree(const std::string &root, std::string *error);

}  // namespace ftptest

#endif
