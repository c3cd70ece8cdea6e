// AF_UNIX addresses under the runtime directory and descriptor helpers.
#include "qx/unixsock.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <unistd.h>

namespace qx {

socklen_t RuntimeSocketAddress(const std::string &dir, const std::string &name, sockaddr_un &addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::string path = dir + "/" + name;
  if (path.size() >= sizeof addr.sun_path) {
    // The directory descriptor stays open so the short alias stays valid.
    static std::mutex lock;
    static auto *dirs = new std::map<std::string, int>;
    int fd;
    {
      std::lock_guard guard(lock);
      auto it = dirs->find(dir);
      if (it == dirs->end()) {
        fd = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return 0;
        it = dirs->emplace(dir, fd).first;
      }
      fd = it->second;
    }
    path = "/proc/self/fd/" + std::to_string(fd) + "/" + name;
    if (path.size() >= sizeof addr.sun_path) return 0;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
}

socklen_t SocketFileAddress(const std::string &path, sockaddr_un &addr) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return RuntimeSocketAddress(".", path, addr);
  return RuntimeSocketAddress(slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1), addr);
}

std::string HashName(const std::string &text) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char out[17];
  std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(h));
  return out;
}

void SetFdFlags(int fd, bool nonblocking) {
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  if (nonblocking) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace qx
