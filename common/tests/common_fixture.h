// Helpers of the common library's tests: a private runtime for the whole
// program and the trace log's text (scratch folders and loopback pairs come
// from the shared test support).
#pragma once

#include <windows.h>
#include <winsock.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "qxcommon.h"
#include "qxtest/loopback.h"
#include "qxtest/support.h"

namespace commontest {

// The layer's runtime state (objects, windows) in a directory of this test
// program's own, set before the first call into the layer.
inline qxtest::PrivateRuntime g_privateRuntime;

// The log as text with the CR of each CR LF removed (it is written in text
// mode, so each line ends in CR LF on disk).
inline std::string LogText(const std::filesystem::path &p) {
  std::string raw = qxtest::ReadFile(p.string()), out;
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

}  // namespace commontest
