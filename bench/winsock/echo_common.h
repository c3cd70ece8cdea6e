// The two halves of the echo benchmark: the plain side uses the C library's
// sockets, the layer side Winsock; they cannot share a translation unit.
#pragma once

#include <cstddef>

namespace qxbench {

// A connected loopback TCP pair (client, server) with TCP_NODELAY.
bool MakeTcpPair(int &client, int &server);
// One round trip from the client: send n bytes, read n bytes back.
bool RoundTrip(int client, std::size_t n);
void CloseFd(int fd);

// Echo servers on a thread of their own, until the client closes.
void PlainPollEchoServer(int server);    // poll() + recv/send
void AsyncSelectEchoServer(int server);  // WSAAsyncSelect messages to a window

}  // namespace qxbench
