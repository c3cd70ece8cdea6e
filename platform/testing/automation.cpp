// One command to a program's automation socket; kept apart from the Winsock
// headers, which name the socket calls differently.
#include "qxtest/automation.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace qxtest {

std::string AutomationCommand(int pid, const std::string &command) {
  const char *dir = std::getenv("QX_RUNTIME_DIR");
  if (!dir) return "error no runtime directory";
  const std::string path = std::string(dir) + "/auto-" + std::to_string(pid) + ".sock";
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return "error path too long";
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return "error socket";
  timeval timeout{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
    close(fd);
    return "error connect";
  }
  const std::string line = command + "\n";
  if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    close(fd);
    return "error write";
  }
  shutdown(fd, SHUT_WR);  // the program answers and closes
  std::string answer;
  char buf[512];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) answer.append(buf, static_cast<size_t>(n));
  close(fd);
  while (!answer.empty() && answer.back() == '\n') answer.pop_back();
  return answer;
}

std::string AutomationAwaitOk(int pid, const std::string &command, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string answer;
  for (;;) {
    answer = AutomationCommand(pid, command);
    if (answer.rfind("ok", 0) == 0 || std::chrono::steady_clock::now() >= deadline) return answer;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::string AutomationValue(const std::string &answer) { return answer.rfind("ok ", 0) == 0 ? answer.substr(3) : ""; }

std::vector<std::string> AutomationItems(int pid, const std::string &window) {
  std::string answer = AutomationCommand(pid, "items " + window);
  std::vector<std::string> lines;
  if (answer.rfind("ok", 0) != 0) return lines;
  for (size_t at = answer.find('\n'); at != std::string::npos;) {
    size_t end = answer.find('\n', at + 1);
    lines.push_back(answer.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1));
    at = end;
  }
  return lines;
}

}  // namespace qxtest
