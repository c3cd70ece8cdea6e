// The layer's one way to name an AF_UNIX endpoint (message endpoints, named
// objects, the socket lender, service control sockets, automation): addresses
// that fit sun_path whatever the length of the runtime directory, and the
// descriptor helpers shared by named objects and cross-process messages.
#pragma once

#include <string>
#include <sys/socket.h>
#include <sys/un.h>

namespace qx {

// Fills addr for the file `name` inside directory `dir`. Long directories are
// reached through /proc/self/fd/<n> of a directory descriptor kept open for the
// life of the process, so the socket path always fits. Returns the length to
// pass to bind/connect/sendto, or 0 when the directory cannot be opened.
socklen_t RuntimeSocketAddress(const std::string &dir, const std::string &name, sockaddr_un &addr);

// The same for a socket file's full path (its directory, then its name).
socklen_t SocketFileAddress(const std::string &path, sockaddr_un &addr);

// FNV-1a 64-bit hash in 16 hex digits: a fixed-length file name for any text.
std::string HashName(const std::string &text);

// Sets close-on-exec and (optionally) non-blocking on a descriptor.
void SetFdFlags(int fd, bool nonblocking);

}  // namespace qx
