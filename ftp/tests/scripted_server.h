// Test support: a one-connection server on 127.0.0.1:21 that plays a script:
// it sends bytes, waits for command lines, and may close in mid-reply.
#ifndef QX_FTP_TESTS_SCRIPTED_SERVER_H
#define QX_FTP_TESTS_SCRIPTED_SERVER_H

#include <string>
#include <thread>
#include <vector>

namespace ftptest {

struct ScriptStep {
  // kPause: bytes holds milliseconds. kConnectData: bytes is "SOURCE|DATA":
  // connect from address SOURCE to the last PORT the client sent, send DATA
  // and close.
  enum Kind { kSend, kExpectLine, kClose, kPause, kConnectData } kind;
  std::string bytes;  // to send, or the command line expected (without CR LF)
};

class ScriptedServer {
 public:
  explicit ScriptedServer(std::vector<ScriptStep> script, unsigned short port = 21);
  ~ScriptedServer();
  bool Listening() const { return listener_ >= 0; }
  // Command lines received, in order (without CR LF).
  std::vector<std::string> Received();
  // Waits for the script's end (at most a few seconds); false when it did not end.
  bool Finish();

 private:
  void Run();
  void ConnectData(const std::string &step);
  std::vector<ScriptStep> script_;
  int listener_ = -1;
  std::thread thread_;
  std::vector<std::string> received_;
  bool done_ = false;
};

}  // namespace ftptest

#endif
