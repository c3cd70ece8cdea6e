#include "scripted_server.h"

#include "qxtest/loopback.h"

namespace gophertest {

ScriptedServer::ScriptedServer(std::string end) : end_(std::move(end)) {
  listener_ = qxtest::Listener(port_);
  if (listener_ != INVALID_SOCKET) thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  // A connection of our own wakes the blocking accept.
  SOCKET wake = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to = qxtest::Loopback(port_);
  connect(wake, reinterpret_cast<sockaddr *>(&to), sizeof to);
  if (thread_.joinable()) thread_.join();
  closesocket(wake);
  closesocket(listener_);
}

void ScriptedServer::Script(std::vector<Answer> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_ = std::move(answers);
}

std::vector<std::string> ScriptedServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void ScriptedServer::Run() {
  for (;;) {
    SOCKET s = accept(listener_, nullptr, nullptr);
    if (stop_) {
      if (s != INVALID_SOCKET) closesocket(s);
      return;
    }
    if (s == INVALID_SOCKET) continue;
    ++accepts_;
    std::string request;
    char buffer[512];
    while (request.find(end_) == std::string::npos) {
      const int n = recv(s, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, n);
    }
    Answer answer;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
      if (!answers_.empty()) {
        answer = answers_.front();
        if (answers_.size() > 1) answers_.erase(answers_.begin());
      }
    }
    size_t sent = 0;
    while (sent < answer.bytes.size()) {
      const int n = send(s, answer.bytes.data() + sent, static_cast<int>(answer.bytes.size() - sent), 0);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
    if (answer.reset) {
      linger hard{1, 0};
      setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&hard), sizeof hard);
    }
    closesocket(s);
  }
}

}  // namespace gophertest
