#include "scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <mutex>

namespace ftptest {

namespace {
std::mutex g_mutex;

// One line from the client, at most five seconds of waiting.
bool ReadLine(int s, std::string *line) {
  line->clear();
  for (;;) {
    pollfd p{s, POLLIN, 0};
    if (poll(&p, 1, 5000) != 1) return false;
    char c;
    if (recv(s, &c, 1, 0) != 1) return false;
    if (c == '\n') break;
    if (c != '\r') *line += c;
  }
  return true;
}
}  // namespace

ScriptedServer::ScriptedServer(std::vector<ScriptStep> script, unsigned short port) : script_(std::move(script)) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(listener_, 1) != 0) {
    close(listener_);
    listener_ = -1;
    return;
  }
  thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
  Finish();
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
}

void ScriptedServer::Run() {
  pollfd p{listener_, POLLIN, 0};
  if (poll(&p, 1, 10000) != 1) return;
  const int s = accept(listener_, nullptr, nullptr);
  if (s < 0) return;
  for (const ScriptStep &step : script_) {
    if (step.kind == ScriptStep::kSend) {
      if (send(s, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL) < 0) break;
    } else if (step.kind == ScriptStep::kExpectLine) {
      std::string line;
      if (!ReadLine(s, &line)) break;
      std::lock_guard<std::mutex> lock(g_mutex);
      received_.push_back(line);
    } else if (step.kind == ScriptStep::kPause) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(step.bytes)));
    } else if (step.kind == ScriptStep::kConnectData) {
      ConnectData(step.bytes);
    } else {
      break;
    }
  }
  // Linger until the client closes (or a short while), so that the last
  // bytes are read before the connection ends.
  shutdown(s, SHUT_WR);
  pollfd c{s, POLLIN, 0};
  char sink[256];
  while (poll(&c, 1, 2000) == 1 && recv(s, sink, sizeof sink, 0) > 0) {
  }
  close(s);
  std::lock_guard<std::mutex> lock(g_mutex);
  done_ = true;
}

void ScriptedServer::ConnectData(const std::string &step) {
  std::string port;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const std::string &line : received_)
      if (line.rfind("PORT ", 0) == 0) port = line.substr(5);
  }
  unsigned h[6];
  if (sscanf(port.c_str(), "%u,%u,%u,%u,%u,%u", &h[0], &h[1], &h[2], &h[3], &h[4], &h[5]) != 6) return;
  const size_t bar = step.find('|');
  const std::string source = step.substr(0, bar), data = bar == std::string::npos ? "" : step.substr(bar + 1);
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, source.c_str(), &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(h[4] * 256 + h[5]));
  to.sin_addr.s_addr = htonl((h[0] << 24) | (h[1] << 16) | (h[2] << 8) | h[3]);
  if (bind(s, reinterpret_cast<sockaddr *>(&from), sizeof from) == 0 &&
      connect(s, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0)
    send(s, data.data(), data.size(), MSG_NOSIGNAL);
  close(s);
}

std::vector<std::string> ScriptedServer::Received() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return received_;
}

bool ScriptedServer::Finish() {
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(g_mutex);
  return done_;
}

}  // namespace ftptest
