// Peers of the POP retrieval tests: the scripted server (pop_peer.py) and
// Debian's dovecot with a configuration of the test's own, both on loopback.
#ifndef QX_MAIL_POP_PEERS_H
#define QX_MAIL_POP_PEERS_H

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "test_support.h"
#include "wintransport.h"

#include <winsock.h>

extern char **environ;

namespace mailtest {

// The program's transport with the services' ports of the test.
class PortTransport : public WinsockMailTransport {
 public:
  std::map<std::string, int> ports;
  int LookupServicePort(const char *name) override {
    auto it = ports.find(name);
    return it == ports.end() ? 0 : it->second;
  }
};

// A loopback port nothing listens on (bound once, then released).
inline int FreePort() {
  SOCKET probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr("127.0.0.1");
  bind(probe, reinterpret_cast<sockaddr *>(&a), sizeof a);
  int len = sizeof a;
  getsockname(probe, reinterpret_cast<sockaddr *>(&a), &len);
  closesocket(probe);
  return ntohs(a.sin_port);
}

// A child process, ended with SIGTERM (then waited for) when the peer goes.
class Child {
 public:
  Child() = default;
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;
  ~Child() { Stop(); }
  // Starts argv; with readPort, the child's first line of output is its port.
  bool Start(const std::vector<std::string> &args, bool readPort) {
    std::vector<char *> argv;
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    int fds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (readPort) {
      if (pipe(fds) != 0) return false;
      posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
      posix_spawn_file_actions_addclose(&actions, fds[0]);
    }
    int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (readPort) close(fds[1]);
    if (rc != 0) {
      pid_ = -1;
      if (readPort) close(fds[0]);
      return false;
    }
    if (!readPort) return true;
    std::string text;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') text += c;
    close(fds[0]);
    port_ = std::atoi(text.c_str());
    return port_ > 0;
  }
  void Stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
  // The exit status once the child ended by itself (within seconds), or -1.
  int Wait(int seconds) {
    for (int i = 0; i < seconds * 20 && pid_ > 0; ++i) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// True once something accepts connections on port (within about 10 s).
inline bool WaitForPort(int port) {
  for (int i = 0; i < 100; ++i) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    bool ok = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    closesocket(s);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

// Debian's dovecot serving POP3 for user "alice" (password "secret") from a
// Maildir under the test's directory. Needs root (it starts as a daemon and
// hands the mailbox to the user "nobody").
class Dovecot {
 public:
  Dovecot(const std::string &root, bool enableLast) : root_(root) {
    namespace fs = std::filesystem;
    // The server's own users (auth, mail) read below the test's directory.
    fs::create_directories(root);
    chmod(fs::path(root).parent_path().c_str(), 0755);
    chmod(root.c_str(), 0755);
    fs::create_directories(maildir() + "/new");
    fs::create_directories(maildir() + "/cur");
    fs::create_directories(maildir() + "/tmp");
    port_ = FreePort();
    WriteFile(root + "/passwd", "alice:{PLAIN}secret::::::\n");
    std::ofstream conf(root + "/dovecot.conf");
    conf << "protocols = pop3\nlisten = 127.0.0.1\nbase_dir = " << root << "/run\nstate_dir = " << root
         << "/state\nlog_path = " << root << "/dovecot.log\nssl = no\ndisable_plaintext_auth = no\n"
         << "auth_mechanisms = plain\nmail_location = maildir:" << root << "/users/%u/Maildir\n"
         << "pop3_uidl_format = %08Xu%08Xv\npop3_enable_last = " << (enableLast ? "yes" : "no") << "\n"
         << "default_internal_user = dovecot\ndefault_login_user = dovenull\n"
         << "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " << root << "/passwd\n}\n"
         << "userdb {\n  driver = static\n  args = uid=65534 gid=65534 home=" << root << "/users/%u\n}\n"
         << "service pop3-login {\n  inet_listener pop3 {\n    port = " << port_
         << "\n  }\n  inet_listener pop3s {\n    port = 0\n  }\n}\n";
  }
  bool Start() {
    Chown();
    return child_.Start({"/usr/sbin/dovecot", "-F", "-c", root_ + "/dovecot.conf"}, false) && WaitForPort(port_);
  }
  std::string maildir() const { return root_ + "/users/alice/Maildir"; }
  // A message delivered into the Maildir as a mail server would.
  void Deliver(const std::string &name, const std::string &text) {
    WriteFile(maildir() + "/new/" + name, text);
    Chown();
  }
  // Messages the server still holds.
  size_t Held() const {
    size_t n = 0;
    for (const char *sub : {"/new", "/cur"})
      for (const auto &e : std::filesystem::directory_iterator(maildir() + sub)) n += e.is_regular_file();
    return n;
  }
  int port() const { return port_; }

 private:
  void Chown() {
    for (const auto &e : std::filesystem::recursive_directory_iterator(root_ + "/users"))
      lchown(e.path().c_str(), 65534, 65534);
    lchown((root_ + "/users").c_str(), 65534, 65534);
  }
  std::string root_;
  int port_ = 0;
  Child child_;
};

inline bool IsRoot() { return geteuid() == 0; }

}  // namespace mailtest

#endif
