#include "peer_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace ftptest {

namespace fs = std::filesystem;

namespace {

std::string PeersDir() {
  const char *d = getenv("QX_FTP_PEERS");
  return d && *d ? d : "/opt/qx-ftp-peers";
}

bool WriteText(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

std::string Missing(const std::string &what) {
  return what + " is missing; run `bash scripts/setup.sh` (as root) to install the FTP test peers";
}

}  // namespace

std::string LocalPassword() {
  std::ifstream in(PeersDir() + "/qxftpuser.pass");
  std::string password;
  std::getline(in, password);
  return password;
}

const char *PeerName(PeerKind kind) {
  switch (kind) {
    case PeerKind::kVsftpd: return "vsftpd";
    case PeerKind::kProftpd: return "proftpd";
    case PeerKind::kPureFtpd: return "pure-ftpd";
  }
  return "?";
}

PeerServer::PeerServer(PeerKind kind, const std::string &root, const std::string &work, bool bindAnonymousHome,
                       const std::string &address, bool writable)
    : address_(address) {
  if (!getpwnam(kLocalUser) || LocalPassword().empty()) {
    error_ = Missing(std::string("The local account ") + kLocalUser);
    return;
  }
  std::vector<std::string> argv;
  if (kind == PeerKind::kVsftpd) {
    if (access("/usr/sbin/vsftpd", X_OK) != 0) {
      error_ = Missing("/usr/sbin/vsftpd");
      return;
    }
    const std::string conf = work + "/vsftpd.conf";
    WriteText(work + "/banner", "Welcome to the test server\nsecond line\n");
    WriteText(conf, "listen=YES\nlisten_ipv6=NO\nlisten_address=" + address +
                        "\nlisten_port=21\nbackground=NO\n"
                        "anonymous_enable=YES\nanon_root=" +
                        root + "\nno_anon_password=YES\nlocal_enable=YES\nwrite_enable=" + (writable ? "YES" : "NO") +
                        "\nanon_upload_enable=NO\nlocal_umask=022\nascii_upload_enable=YES\npam_service_name=vsftpd\n"
                        "seccomp_sandbox=NO\nsecure_chroot_dir=/var/run/vsftpd/empty\nconnect_from_port_20=NO\n"
                        "ascii_download_enable=YES\nbanner_file=" +
                        work +
                        "/banner\n"
                        "xferlog_enable=NO\nvsftpd_log_file=" +
                        work + "/vsftpd.log\n");
    argv = {"/usr/sbin/vsftpd", conf};
  } else if (kind == PeerKind::kProftpd) {
    const std::string base = PeersDir() + "/proftpd-core";
    const std::string binary = base + "/usr/sbin/proftpd";
    if (access(binary.c_str(), X_OK) != 0) {
      error_ = Missing(binary);
      return;
    }
    const std::string conf = work + "/proftpd.conf";
    WriteText(conf, "ServerType standalone\nServerName \"qx test\"\nDefaultAddress " + address +
                        "\nPort 21\n"
                        "SocketBindTight on\nUseIPv6 off\nUser nobody\nGroup nogroup\nPidFile " +
                        work + "/proftpd.pid\nScoreboardFile " + work +
                        "/proftpd.scoreboard\nDelayTable none\nWtmpLog off\nUseReverseDNS off\n"
                        "AuthPAM off\nAuthOrder mod_auth_unix.c\nRequireValidShell off\nDefaultServer on\n"
                        "TransferLog none\nSystemLog " +
                        work + "/proftpd.log\nModulePath " + base + "/usr/lib/proftpd\n<Anonymous " + root +
                        ">\n  User ftp\n  Group nogroup\n  UserAlias anonymous ftp\n  RequireValidShell off\n"
                        "</Anonymous>\n");
    argv = {binary, "-n", "-q", "-c", conf};
  } else {
    const std::string binary = PeersDir() + "/pure-ftpd/usr/sbin/pure-ftpd";
    if (access(binary.c_str(), X_OK) != 0) {
      error_ = Missing(binary);
      return;
    }
    const passwd *ftp = getpwnam("ftp");
    if (bindAnonymousHome && ftp && ftp->pw_dir && mount(root.c_str(), ftp->pw_dir, nullptr, MS_BIND, nullptr) == 0)
      boundHome_ = ftp->pw_dir;
    anonymous_ = !boundHome_.empty();
    argv = {binary, "-S", address + ",21", "-4", "-H", "-l", "unix", "-g", work + "/pure-ftpd.pid"};
    if (!anonymous_) argv.push_back("-E");
  }
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    const int log = open((work + "/server.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (log >= 0) {
      dup2(log, 1);
      dup2(log, 2);
    }
    std::vector<char *> args;
    for (std::string &a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  if (pid_ < 0) {
    error_ = std::string("fork failed: ") + strerror(errno);
    return;
  }
  setpgid(pid_, pid_);
  if (!WaitForPort()) {
    std::ifstream out(work + "/server.out");
    std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
    error_ =
        std::string(PeerName(kind)) + " did not listen on " + address_ + ":21 within 10 seconds; its output: " + text;
  }
}

bool PeerServer::WaitForPort() {
  for (int i = 0; i < 200; ++i) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(21);
    inet_pton(AF_INET, address_.c_str(), &a.sin_addr);
    const bool up = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(s);
    if (up) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

PeerServer::~PeerServer() {
  Stop();
  if (!boundHome_.empty()) umount2(boundHome_.c_str(), MNT_DETACH);
}

namespace {

// Every process descended from `root` (sessions may leave the server's
// process group).
std::vector<pid_t> Descendants(pid_t root) {
  std::vector<std::pair<pid_t, pid_t>> parents;  // (pid, parent)
  for (const auto &e : fs::directory_iterator("/proc")) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(e.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state;
    int parent = 0;
    if (sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2)
      parents.emplace_back(static_cast<pid_t>(std::stoi(name)), static_cast<pid_t>(parent));
  }
  std::vector<pid_t> found{root};
  for (size_t i = 0; i < found.size(); ++i)
    for (const auto &[pid, parent] : parents)
      if (parent == found[i]) found.push_back(pid);
  found.erase(found.begin());
  return found;
}

}  // namespace

void PeerServer::Stop() {
  if (pid_ <= 0) return;
  for (pid_t session : Descendants(pid_)) kill(session, SIGKILL);
  kill(-pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      kill(-pid_, SIGKILL);  // children of the server, if any are left
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(-pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::vector<TreeEntry> MakeListingTree(const std::string &root, std::string *error) {
  auto file = [&](const std::string &name, const std::string &text) {
    if (!WriteText(root + "/" + name, text)) *error = "cannot write " + root + "/" + name;
  };
  file("a b.txt", "two words\n");
  file("  lead.txt", "leading blanks\n");
  file("x -> y", "an arrow in a regular file's name\n");
  file("plain", "p");
  file("old.txt", "from a past year\n");
  file("recent.txt", "from this year\n");
  if (symlink("a b.txt", (root + "/link").c_str()) != 0) *error = "symlink failed";
  fs::create_directory(root + "/sub dir");
  fs::create_directory(root + "/q\"dir");
  file("q\"dir/inside", "in the quoted directory\n");
  const int big = open((root + "/big.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (big < 0 || ftruncate(big, 5LL * 1024 * 1024 * 1024) != 0) *error = "cannot make the sparse 5 GB file";
  if (big >= 0) close(big);
  // A date of a past year, and one of this year (a few days ago, so that
  // every server shows the time of day, not the year).
  timespec times[2] = {{1552000000, 0}, {1552000000, 0}};  // March 2019
  utimensat(AT_FDCWD, (root + "/old.txt").c_str(), times, 0);
  const time_t now = time(nullptr);
  timespec recent[2] = {{now - 3 * 86400, 0}, {now - 3 * 86400, 0}};
  utimensat(AT_FDCWD, (root + "/recent.txt").c_str(), recent, 0);
  std::vector<TreeEntry> entries;
  for (const auto &e : fs::directory_iterator(root)) {
    struct stat st {};
    lstat(e.path().c_str(), &st);
    const int kind = S_ISLNK(st.st_mode) ? 2 : S_ISDIR(st.st_mode) ? 1 : 0;
    entries.push_back({e.path().filename().string(), kind, static_cast<unsigned long long>(st.st_size)});
  }
  return entries;
}

}  // namespace ftptest
