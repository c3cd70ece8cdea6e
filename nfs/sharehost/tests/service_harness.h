// sharehost as a running service for a test: a machine of the test's own
// (home, registry, runtime, Windows directory, event log, drive D:) inside
// the test program's own network namespace, the service created and started
// with qxsc, and stopped and cleaned up after each test.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "qxtest/netns.h"
#include "qxtest/support.h"

namespace nfstest {

using qxtest::Shell;

class ServiceTest : public ::testing::Test {
 protected:
  std::string dir_;
  bool created_ = false;
  pid_t capture_ = -1;
  uintmax_t capture_header_ = 0;

  void SetUp() override {
    static std::string entered = qxtest::EnterOwnNetworkNamespace();
    ASSERT_EQ(entered, "");
    char pattern[] = "/tmp/qx-sharehost-XXXXXX";
    dir_ = mkdtemp(pattern);
    // Clients' uids must reach the exported directories through it.
    chmod(dir_.c_str(), 0755);
    setenv("QX_HOME", (dir_ + "/home").c_str(), 1);
    setenv("QX_MACHINE_DIR", (dir_ + "/machine").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
    setenv("QX_EVENTLOG_FILE", (dir_ + "/events.txt").c_str(), 1);
    setenv("QX_WINDOWS_DIR", (dir_ + "/windows").c_str(), 1);
    setenv("QX_DRIVE_D", (dir_ + "/d").c_str(), 1);
    for (const char *d : {"windows", "d/qxnfs"}) std::filesystem::create_directories(dir_ + "/" + d);
    Qxreg("set 'HKLM\\SOFTWARE\\Corvane\\NFSClient\\CurrentVersion' 'Installation Directory' REG_SZ 'D:\\qxnfs'");
  }

  void TearDown() override {
    StopCapture();
    Qxsc("stop QXNFSServer");
    qxtest::KillProcessesOfRuntime(dir_ + "/run");
    std::filesystem::remove_all(dir_);
  }

  // Captures every UDP datagram on lo into dir_/wire.pcapng until StopCapture.
  void StartCapture() {
    std::string file = dir_ + "/wire.pcapng";
    capture_ = fork();
    if (capture_ == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execlp("dumpcap", "dumpcap", "-q", "-i", "lo", "-f", "udp", "-w", file.c_str(), (char *)nullptr);
      _exit(127);
    }
    ASSERT_GT(capture_, 0);
    // dumpcap writes the file's header once it captures.
    ASSERT_TRUE(
        qxtest::WaitUntil([&] { return std::filesystem::exists(file) && std::filesystem::file_size(file) > 0; }, 10000))
        << "dumpcap did not start capturing on lo";
    capture_header_ = std::filesystem::file_size(file);
  }
  // dumpcap hands packets to its file a block at a time and drops a block not
  // yet handed over when it is stopped: wait until what the test sent has
  // reached the file (its size grew and then held still), at most 3 s.
  void StopCapture() {
    if (capture_ <= 0) return;
    std::string file = dir_ + "/wire.pcapng";
    auto size = [&] {
      std::error_code ec;
      auto n = std::filesystem::file_size(file, ec);
      return ec ? uintmax_t(0) : n;
    };
    uintmax_t last = 0;
    int still = 0;
    qxtest::WaitUntil(
        [&] {
          uintmax_t now = size();
          still = now == last ? still + 1 : 0;
          last = now;
          return now > capture_header_ && still >= 20;
        },
        3000);
    qxtest::StopProcess(capture_);
    capture_ = -1;
  }

  std::string Host(const std::string &relative) const { return dir_ + "/" + relative; }
  void WriteExports(const std::string &text) { std::ofstream(dir_ + "/windows/exports") << text; }

  std::string Qxreg(const std::string &arguments) {
    int status = 0;
    std::string out = Shell("'" + qxtest::BinDir() + "/qxreg' " + arguments + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    return out;
  }
  std::string Qxsc(const std::string &arguments, int *status = nullptr) {
    return Shell("'" + qxtest::BinDir() + "/qxsc' " + arguments + " 2>&1", status);
  }

  // Creates (once) and starts the service; waits until it serves unless told not to.
  void Start(const std::string &arguments = "", bool wait_serving = true) {
    int status = 0;
    std::string out;
    if (!created_) {
      out = Qxsc("create QXNFSServer '" + qxtest::BinDir() + "/sharehost'", &status);
      ASSERT_EQ(status, 0) << out;
      created_ = true;
    }
    std::filesystem::remove(dir_ + "/events.txt");
    out = Qxsc("start QXNFSServer " + arguments, &status);
    ASSERT_EQ(status, 0) << out;
    if (wait_serving) {
      ASSERT_TRUE(WaitEvent(4)) << qxtest::ReadFile(dir_ + "/events.txt");
    }
  }
  bool WaitEvent(int id) {
    return qxtest::WaitUntil([&] { return !Events(id).empty(); }, 10000);
  }

  // Events of the source "QXNFSServer" with this id: their texts.
  std::vector<std::string> Events(int id) {
    std::vector<std::string> texts;
    std::istringstream in(qxtest::ReadFile(dir_ + "/events.txt"));
    std::string line, mark = " id=" + std::to_string(id) + " \"";
    while (std::getline(in, line)) {
      size_t at = line.find(mark);
      if (line.find(" \"QXNFSServer\" ") == std::string::npos || at == std::string::npos) continue;
      std::string text = line.substr(at + mark.size());
      if (!text.empty() && text.back() == '"') text.pop_back();
      texts.push_back(text);
    }
    return texts;
  }
};

}  // namespace nfstest
