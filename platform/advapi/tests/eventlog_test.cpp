// The event log: one escaped line per event with source, type, category, id,
// strings and raw data; bad calls refused; lines from many threads intact.
#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_env.h"

namespace {

auto &g_dirs = advapi_test::Dirs();

std::string LogPath() { return std::getenv("QX_EVENTLOG_FILE"); }

std::vector<std::string> LogLines() {
  std::istringstream in(advapi_test::ReadFile(LogPath()));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The line after its time stamp, which has the shape 2026-12-10T13:45:01+0000.
std::string Body(const std::string &line) {
  const std::string shape = "dddd-dd-ddTdd:dd:dd+dddd ";
  bool ok = line.size() > shape.size();
  for (size_t i = 0; ok && i < shape.size(); ++i) {
    const char c = line[i];
    if (shape[i] == 'd')
      ok = c >= '0' && c <= '9';
    else if (shape[i] == '+')
      ok = c == '+' || c == '-';
    else
      ok = c == shape[i];
  }
  EXPECT_TRUE(ok) << line;
  return line.substr(line.find(' ') + 1);
}

TEST(EventLog, EachEventIsOneEscapedLine) {
  unlink(LogPath().c_str());
  HANDLE source = RegisterEventSourceA(nullptr, "QXportwarden32");
  ASSERT_NE(source, nullptr);
  struct Case {
    WORD type;
    WORD category;
    DWORD id;
    std::vector<const char *> strings;
    std::string data;
    const char *expected;
  };
  const Case cases[] = {
      {EVENTLOG_INFORMATION_TYPE,
       0,
       105,
       {"Opened whoanswer on port 79, socket 5 at Thu Dec 10 13:45:01 2026\n\r"},
       "",
       "\"QXportwarden32\" information category=0 id=105 \"Opened whoanswer on port 79, socket 5 at Thu Dec 10 "
       "13:45:01 2026\\n\\r\""},
      {EVENTLOG_ERROR_TYPE,
       3,
       108,
       {"** Error activating C:\\qx\\a.exe \"x\"\t\x01"},
       "",
       "\"QXportwarden32\" error category=3 id=108 \"** Error activating C:\\\\qx\\\\a.exe \\\"x\\\"\\t\\x01\""},
      {EVENTLOG_WARNING_TYPE,
       0,
       7,
       {"one", "", "three"},
       "",
       "\"QXportwarden32\" warning category=0 id=7 \"one\" \"\" \"three\""},
      {EVENTLOG_AUDIT_FAILURE,
       1,
       9,
       {},
       std::string("\x00\xff\x10", 3),
       "\"QXportwarden32\" audit-failure category=1 id=9 data=00ff10"},
      {EVENTLOG_SUCCESS, 0, 0, {}, "", "\"QXportwarden32\" success category=0 id=0"},
  };
  for (const auto &c : cases) {
    std::vector<const char *> strings = c.strings;
    ASSERT_TRUE(ReportEventA(source, c.type, c.category, c.id, nullptr, static_cast<WORD>(strings.size()),
                             static_cast<DWORD>(c.data.size()), strings.empty() ? nullptr : strings.data(),
                             c.data.empty() ? nullptr : const_cast<char *>(c.data.data())));
  }
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), std::size(cases));
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(Body(lines[i]), cases[i].expected);
  EXPECT_TRUE(DeregisterEventSource(source));
}

TEST(EventLog, BadCallsAreRefused) {
  HANDLE source = RegisterEventSourceA(nullptr, "QXTest");
  ASSERT_NE(source, nullptr);
  const char *one[] = {"x"};
  struct Case {
    const char *what;
    HANDLE handle;
    WORD type;
    WORD count;
    const char **strings;
    DWORD data_size;
    DWORD error;
  };
  const Case cases[] = {
      {"unknown type", source, 3, 1, one, 0, ERROR_INVALID_PARAMETER},
      {"strings missing", source, EVENTLOG_INFORMATION_TYPE, 1, nullptr, 0, ERROR_INVALID_PARAMETER},
      {"data missing", source, EVENTLOG_INFORMATION_TYPE, 1, one, 4, ERROR_INVALID_PARAMETER},
      {"not a source", reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7777)), EVENTLOG_INFORMATION_TYPE, 1, one, 0,
       ERROR_INVALID_HANDLE},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(0);
    EXPECT_FALSE(ReportEventA(c.handle, c.type, 0, 1, nullptr, c.count, c.data_size, c.strings, nullptr));
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_TRUE(DeregisterEventSource(source));
  EXPECT_FALSE(ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 1, 0, one, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(DeregisterEventSource(source));

  EXPECT_EQ(RegisterEventSourceA(nullptr, ""), nullptr);
  EXPECT_EQ(RegisterEventSourceA("\\\\elsewhere", "QXTest"), nullptr);
  setenv("QX_EVENTLOG_FAIL", "1", 1);
  EXPECT_EQ(RegisterEventSourceA(nullptr, "QXportwarden32"), nullptr);
  unsetenv("QX_EVENTLOG_FAIL");
  // CloseHandle closes a source too.
  source = RegisterEventSourceA(nullptr, "QXTest");
  EXPECT_TRUE(CloseHandle(source));
}

TEST(EventLog, ManyThreadsNeverMixLines) {
  unlink(LogPath().c_str());
  constexpr int kThreads = 4, kEvents = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      HANDLE source = RegisterEventSourceA(nullptr, ("source" + std::to_string(t)).c_str());
      const std::string text(300, static_cast<char>('a' + t));
      const char *strings[] = {text.c_str()};
      for (int i = 0; i < kEvents; ++i)
        ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, static_cast<DWORD>(i), nullptr, 1, 0, strings, nullptr);
      DeregisterEventSource(source);
    });
  }
  for (auto &t : threads) t.join();
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kEvents));
  for (const auto &line : lines) {
    // "source<t>" information category=0 id=<i> "<300 times letter t>"
    const std::string body = Body(line);
    ASSERT_GT(body.size(), 9u);
    const int t = body[7] - '0';
    ASSERT_TRUE(t >= 0 && t < kThreads) << body.substr(0, 40);
    const std::string head = "\"source" + std::to_string(t) + "\" information category=0 id=";
    EXPECT_EQ(body.compare(0, head.size(), head), 0) << body.substr(0, 60);
    const std::string tail = " \"" + std::string(300, static_cast<char>('a' + t)) + "\"";
    ASSERT_GT(body.size(), tail.size());
    EXPECT_EQ(body.substr(body.size() - tail.size()), tail) << body.substr(0, 60);
  }
}

}  // namespace
