// What the remote copy and remote command tests share: Debian's rexec server
// (in.rexecd, unpacked by scripts/setup.d/rsh-peers.sh) and rsh server
// (in.rshd of rsh-redone-server), both started per connection by socat on
// 127.0.0.1 of a network and mount namespace of the test's own. Inside it
// root's home is a scratch folder whose .rhosts trusts root on loopback, and
// root's password (for rexec) is one the test sets in a copy of the shadow
// file mounted over the machine's.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "qxtest/support.h"

namespace rshtest {

constexpr const char *kPassword = "rexec-test-pw";

class ServiceWorld : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
  static std::string Home() { return home_; }

 private:
  void StartDaemon(int port, const std::string &daemon);
  static std::string home_;
  std::vector<std::unique_ptr<qxtest::Child>> servers_;
};

}  // namespace rshtest
