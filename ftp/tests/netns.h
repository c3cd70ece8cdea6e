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
}  // namespace ftptest

#endif
