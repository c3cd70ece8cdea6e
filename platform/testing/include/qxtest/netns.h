// A network namespace of the test's own, so that a server on a fixed port of
// 127.0.0.1 (21, 79, 111) belongs to this test alone and no packet leaves it.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace qxtest {

// Moves the calling process (before it starts threads) into a new network
// namespace and brings its loopback interface up. Empty on success, else what
// failed and what to do.
std::string EnterOwnNetworkNamespace();
// Moves the process into a mount namespace of its own whose mounts do not
// reach the rest of the machine (for bind mounts a test needs).
std::string EnterOwnMountNamespace();
// Enters a mount namespace of the process's own and lays a writable overlay
// over /etc whose changes live in memory and go with the namespace: a test
// that adds accounts (useradd, chpasswd) or PAM services changes only its own
// /etc. The account tools replace /etc/passwd and /etc/shadow by renaming new
// files over them, which would drop another test's bind mount over those
// files; here the real files are never touched. Files mounted over entries of
// /etc (a container's /etc/hosts) stay mounted. Call before threads start.
// Empty on success, else what failed.
std::string OverlayOwnEtc();

// A test program's environment: its own network namespace with loopback up,
// then Winsock started. Fails every test, saying why, when the namespace
// cannot be made.
class OwnLoopbackNetwork : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace qxtest
