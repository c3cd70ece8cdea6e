// qxauto: drives a program of the suite from the command line through its
// automation socket. Usage: qxauto [-p PID] COMMAND [ARGS...]
// Without -p the only running program with a display is used. Prints the
// reply; exits 0 on "ok", 1 on an error reply, 2 when no program answers.
#include <dirent.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "qx/env.h"
#include "qx/unixsock.h"

namespace {

std::vector<std::string> Sockets() {
  std::vector<std::string> out;
  DIR *d = opendir(qx::RuntimeDir().c_str());
  if (!d) return out;
  while (dirent *e = readdir(d)) {
    const std::string n = e->d_name;
    if (n.rfind("auto-", 0) == 0 && n.size() > 10 && n.substr(n.size() - 5) == ".sock")
      out.push_back(qx::RuntimeDir() + "/" + n);
  }
  closedir(d);
  return out;
}

int Ask(const std::string &path, const std::string &line, std::string &reply) {
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  const socklen_t length = qx::SocketFileAddress(path, addr);
  if (s < 0 || length == 0) {
    if (s >= 0) close(s);
    return -1;
  }
  if (connect(s, reinterpret_cast<sockaddr *>(&addr), length) != 0) {
    close(s);
    return -1;
  }
  timeval tv{15, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  const std::string msg = line + "\n";
  if (write(s, msg.data(), msg.size()) != static_cast<ssize_t>(msg.size())) {
    close(s);
    return -1;
  }
  char buf[4096];
  ssize_t n;
  while ((n = read(s, buf, sizeof buf)) > 0) reply.append(buf, static_cast<size_t>(n));
  close(s);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  int i = 1;
  std::string path;
  if (i + 1 < argc && std::strcmp(argv[i], "-p") == 0) {
    path = qx::RuntimeDir() + "/auto-" + argv[i + 1] + ".sock";
    i += 2;
  }
  if (i >= argc) {
    std::fprintf(stderr, "usage: qxauto [-p PID] list|find|text|type|key|click|drag|scroll|png|answer ARGS...\n");
    return 2;
  }
  std::string line;
  for (; i < argc; ++i) line += (line.empty() ? "" : " ") + std::string(argv[i]);
  if (path.empty()) {
    auto all = Sockets();
    if (all.size() != 1) {
      std::fprintf(stderr, "qxauto: %zu programs with a display are running; name one with -p PID\n", all.size());
      return 2;
    }
    path = all[0];
  }
  std::string reply;
  if (Ask(path, line, reply) != 0) {
    std::fprintf(stderr, "qxauto: no answer from %s\n", path.c_str());
    return 2;
  }
  std::fputs(reply.c_str(), stdout);
  return reply.rfind("ok", 0) == 0 ? 0 : 1;
}
