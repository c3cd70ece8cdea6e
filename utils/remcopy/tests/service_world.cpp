// The peers of the remote copy and remote command tests (service_world.h).
#include "service_world.h"

#include <sys/mount.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "program_driver.h"

namespace rshtest {
namespace {

namespace fs = std::filesystem;

std::string RshPeers() {
  const char *d = getenv("QX_RSH_PEERS");
  return std::string(d && *d ? d : "/opt/qx-rsh-peers") + "/rsh-server";
}

std::string Run(const std::string &command) {
  std::string out;
  if (FILE *p = popen(command.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace

void ServiceWorld::SetUp() {
  utiltest::EnterTestWorld(true);
  setenv("USERNAME", "root", 1);  // the local-side user the shell service checks in .rhosts
  const std::string world = utiltest::WorldDir();
  home_ = world + "/roothome";
  fs::create_directories(home_);
  fs::permissions(home_, fs::perms::owner_all);
  qxtest::WriteFile(home_ + "/.rhosts", "localhost root\n127.0.0.1 root\n");
  chmod((home_ + "/.rhosts").c_str(), 0600);
  ASSERT_EQ(mount(home_.c_str(), "/root", nullptr, MS_BIND, nullptr), 0) << "bind-mount over /root";
  // root's password for the exec service, in a shadow file of the test's own.
  const std::string hash = Run(std::string("openssl passwd -6 ") + kPassword);
  ASSERT_EQ(hash.rfind("$6$", 0), 0u) << hash;
  std::ifstream in("/etc/shadow");
  std::string line, shadow;
  while (std::getline(in, line))
    shadow += (line.rfind("root:", 0) == 0 ? "root:" + hash + line.substr(line.find(':', 5)) : line) + "\n";
  qxtest::WriteFile(world + "/shadow", shadow);
  chmod((world + "/shadow").c_str(), 0640);
  ASSERT_EQ(mount((world + "/shadow").c_str(), "/etc/shadow", nullptr, MS_BIND, nullptr), 0);
  // The daemons write their refusals on standard error: it is the socket,
  // as under inetd.
  const std::string rexecd = RshPeers() + "/usr/sbin/in.rexecd";
  ASSERT_TRUE(fs::exists(rexecd)) << rexecd << " is missing: run bash scripts/setup.sh";
  ASSERT_TRUE(fs::exists("/usr/sbin/in.rshd")) << "in.rshd is missing: install rsh-redone-server (scripts/setup.sh)";
  StartDaemon(512, rexecd);
  StartDaemon(514, "/usr/sbin/in.rshd");
}

void ServiceWorld::TearDown() {
  servers_.clear();
  utiltest::KillOthersInOwnNetworkNamespace();
  qxtest::KillProcessesOfRuntime(utiltest::WorldDir() + "/run");
}

void ServiceWorld::StartDaemon(int port, const std::string &daemon) {
  const std::string wrapper = utiltest::WorldDir() + "/service-" + std::to_string(port) + ".sh";
  qxtest::WriteFile(wrapper, "#!/bin/sh\nexec " + daemon + " 2>&1\n");
  chmod(wrapper.c_str(), 0755);
  servers_.push_back(std::make_unique<qxtest::Child>(std::vector<std::string>{
      "/usr/bin/socat", "-lf/dev/null", "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr,fork",
      "EXEC:" + wrapper + ",nofork"}));
  ASSERT_TRUE(qxtest::WaitUntil([port] { return utiltest::PortOpen(port); }, 10000)) << port;
}

std::string ServiceWorld::home_;

}  // namespace rshtest
