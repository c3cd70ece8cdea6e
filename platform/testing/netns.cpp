// Network and mount namespaces of the test's own.
#include "qxtest/netns.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

namespace {

// The mount points below /etc in this namespace (a container's /etc/hosts,
// /etc/resolv.conf, /etc/hostname), which an overlay over /etc would hide.
std::vector<std::string> MountsBelowEtc() {
  std::vector<std::string> found;
  std::ifstream info("/proc/self/mountinfo");
  std::string line;
  while (std::getline(info, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point;
    fields >> id >> parent >> device >> root >> point;
    if (point.rfind("/etc/", 0) == 0) found.push_back(point);
  }
  return found;
}

std::string Failed(const std::string &what) { return what + " failed: " + strerror(errno); }

}  // namespace

std::string OverlayOwnEtc() {
  std::string error = EnterOwnMountNamespace();
  if (!error.empty()) return error;
  // The overlay's upper and work folders on a tmpfs of the namespace's own,
  // mounted on a scratch folder that is unmounted and removed again once the
  // overlay holds it.
  char scratch[] = "/tmp/qx-own-etc-XXXXXX";
  if (!mkdtemp(scratch)) return Failed("making a scratch folder under /tmp");
  const std::string dir = scratch;
  if (mount("qx-own-etc", scratch, "tmpfs", 0, "mode=0700") != 0) {
    error = Failed("mounting a tmpfs on " + dir);
    rmdir(scratch);
    return error;
  }
  const std::vector<std::string> kept = MountsBelowEtc();
  if (mkdir((dir + "/upper").c_str(), 0755) != 0 || mkdir((dir + "/work").c_str(), 0700) != 0 ||
      mkdir((dir + "/kept").c_str(), 0700) != 0)
    error = Failed("making the overlay's folders in " + dir);
  // What is mounted below /etc now is bound aside and bound back over the
  // overlay.
  for (size_t i = 0; error.empty() && i < kept.size(); ++i) {
    const std::string aside = dir + "/kept/" + std::to_string(i);
    struct stat st {};
    const bool isDir = stat(kept[i].c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    const int made = isDir ? mkdir(aside.c_str(), 0700) : open(aside.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    if (made < 0) error = Failed("making " + aside);
    if (made > 0 && !isDir) close(made);
    if (error.empty() && mount(kept[i].c_str(), aside.c_str(), nullptr, MS_BIND, nullptr) != 0)
      error = Failed("binding " + kept[i] + " aside");
  }
  const std::string options = "lowerdir=/etc,upperdir=" + dir + "/upper,workdir=" + dir + "/work";
  if (error.empty() && mount("qx-own-etc", "/etc", "overlay", 0, options.c_str()) != 0)
    error = Failed("mounting an overlay over /etc (" + options + ")");
  for (size_t i = 0; error.empty() && i < kept.size(); ++i)
    if (mount((dir + "/kept/" + std::to_string(i)).c_str(), kept[i].c_str(), nullptr, MS_BIND, nullptr) != 0)
      error = Failed("binding " + kept[i] + " back over the overlay");
  // The overlay keeps its own hold on the tmpfs; the scratch mount goes.
  umount2(scratch, MNT_DETACH);
  rmdir(scratch);
  return error;
}

}  // namespace qxtest
