// Test support: a network namespace of the test's own, so that a server on
// port 21 of 127.0.0.1 belongs to this test alone.
#ifndef QX_FTP_TESTS_NETNS_H
#define QX_FTP_TESTS_NETNS_H

#include <string>

namespace ftptest {
// Moves the calling process (before it starts threads) into a new network
// namespace and brings its loopback interface up. Empty on success, else
// what failed and what to do.
std::string EnterOwnNetworkNamespace();
// Moves the process into a mount namespace of its own whose mounts do not
// reach the rest of the machine (for bind mounts a test needs).
std::string EnterOwnMountNamespace();
}  // namespace ftptest

#endif
