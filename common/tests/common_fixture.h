// Helpers of the common library's tests: a private runtime and working
// directory, the log's text, and loopback socket pairs through the layer.
#pragma once

#include <windows.h>
#include <winsock.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "qxcommon.h"

namespace commontest {

// The layer's runtime state (objects, windows) in a directory of this test
// program's own, set before the first call into the layer.
struct PrivateRuntime {
  std::string dir;
  PrivateRuntime() {
    char tmpl[] = "/tmp/qx-common-rt-XXXXXX";
    if (mkdtemp(tmpl)) dir = tmpl;
    setenv("QX_RUNTIME_DIR", dir.c_str(), 1);
  }
  ~PrivateRuntime() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};
inline PrivateRuntime g_privateRuntime;

// A fresh directory for the layer's runtime state and the test's files; the
// process works in it while the object lives.
struct ScratchDir {
  std::filesystem::path dir, previous;
  ScratchDir() {
    char tmpl[] = "/tmp/qx-common-XXXXXX";
    dir = mkdtemp(tmpl);
    previous = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    SetCurrentDirectoryA(dir.c_str());  // the layer keeps its own current directory
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::current_path(previous, ec);
    SetCurrentDirectoryA(previous.c_str());
    std::filesystem::remove_all(dir, ec);
  }
};

inline std::string ReadFile(const std::filesystem::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The log as text with the CR of each CR LF removed (it is written in text
// mode, so each line ends in CR LF on disk).
inline std::string LogText(const std::filesystem::path &p) {
  std::string raw = ReadFile(p), out;
  for (size_t i = 0; i < raw.size(); ++i)
    if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')) out += raw[i];
  return out;
}

// Closes the trace and forgets its state, so that a test starts a new log.
inline void ResetTrace() {
  if (g_DebugLog) fclose(g_DebugLog);
  g_DebugLog = nullptr;
  g_TraceOn = 0;
  g_RepeatCount = 0;
  g_LastRecvError = 0;
  g_LastSendError = 0;
}

// Starts tracing in the current directory as a program started with "/debug".
inline void StartTrace() {
  ResetTrace();
  char line[] = "/debug";
  DebugLogOpen(GetModuleHandleA(nullptr), line);
}

// The log without its header line.
inline std::string Entries() {
  if (g_DebugLog) fflush(g_DebugLog);
  std::string text = LogText("qxdebug.log");
  const auto nl = text.find('\n');
  return nl == std::string::npos ? std::string() : text.substr(nl + 1);
}

struct WinsockSession {
  WinsockSession() {
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
  }
  ~WinsockSession() { WSACleanup(); }
};

inline sockaddr_in Loopback(u_short port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A listening socket on a free loopback port.
inline SOCKET Listener(u_short &port) {
  SOCKET l = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  bind(l, reinterpret_cast<sockaddr *>(&a), sizeof a);
  listen(l, 5);
  int len = sizeof a;
  getsockname(l, reinterpret_cast<sockaddr *>(&a), &len);
  port = ntohs(a.sin_port);
  return l;
}

// A connected pair over loopback: client and the accepted server end.
inline void ConnectedPair(SOCKET &client, SOCKET &server) {
  u_short port = 0;
  SOCKET l = Listener(port);
  client = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(port);
  connect(client, reinterpret_cast<sockaddr *>(&a), sizeof a);
  server = accept(l, nullptr, nullptr);
  closesocket(l);
}

}  // namespace commontest
