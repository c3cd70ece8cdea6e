// Network and mount namespaces of the test's own.
#include "qxtest/netns.h"

#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qxtest {

std::string EnterOwnNetworkNamespace() {
  if (unshare(CLONE_NEWNET) != 0)
    return std::string("unshare(CLONE_NEWNET) failed: ") + strerror(errno) +
           "; these tests need root (or CAP_SYS_ADMIN) to get a loopback network of their own";
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) return std::string("socket failed in the new namespace: ") + strerror(errno);
  ifreq request{};
  strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  std::string error;
  if (ioctl(s, SIOCGIFFLAGS, &request) != 0) {
    error = std::string("reading the flags of lo failed: ") + strerror(errno);
  } else {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    if (ioctl(s, SIOCSIFFLAGS, &request) != 0) error = std::string("bringing lo up failed: ") + strerror(errno);
  }
  close(s);
  return error;
}

std::string EnterOwnMountNamespace() {
  if (unshare(CLONE_NEWNS) != 0) return std::string("unshare(CLONE_NEWNS) failed: ") + strerror(errno);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return std::string("making the mounts private failed: ") + strerror(errno);
  return std::string();
}

}  // namespace qxtest
