// The test program's own loopback network with Winsock started in it. Kept
// apart from netns.cpp: the Winsock header renames the socket calls.
#include <winsock.h>

#include "qxtest/netns.h"

namespace qxtest {

void OwnLoopbackNetwork::SetUp() {
  const std::string error = EnterOwnNetworkNamespace();
  ASSERT_TRUE(error.empty()) << error;
  WSADATA data;
  ASSERT_EQ(WSAStartup(0x0101, &data), 0) << "Winsock did not start in the test's namespace";
}

void OwnLoopbackNetwork::TearDown() { WSACleanup(); }

}  // namespace qxtest
