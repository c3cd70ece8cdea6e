// A scripted TCP server on a loopback port for the gopher client's tests:
// each connection's request is read up to an end text and recorded, then the
// next scripted answer is sent (or the connection is reset) and closed.
#ifndef QX_GOPHER_TESTS_SCRIPTED_SERVER_H
#define QX_GOPHER_TESTS_SCRIPTED_SERVER_H

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <winsock.h>

namespace gophertest {

struct Answer {
  std::string bytes;
  bool reset = false;  // send the bytes, then reset the connection
};

class ScriptedServer {
 public:
  // `end` is what ends a request ("\n" for gopher, "bye\r\n" for ph).
  explicit ScriptedServer(std::string end = "\n");
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer &) = delete;
  ScriptedServer &operator=(const ScriptedServer &) = delete;

  u_short port() const { return port_; }
  // Answers in order; the last one repeats.
  void Script(std::vector<Answer> answers);
  std::vector<std::string> Requests();
  int Accepts() const { return accepts_; }

 private:
  void Run();
  std::string end_;
  SOCKET listener_ = INVALID_SOCKET;
  u_short port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepts_{0};
  std::mutex mutex_;
  std::vector<Answer> answers_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace gophertest

#endif
