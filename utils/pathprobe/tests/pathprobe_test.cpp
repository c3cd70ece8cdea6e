// pathprobe over a route of four network namespaces of the test's own: the
// test's namespace A, routers R1 and R2 (forwarding) and the target B, joined
// by veth pairs; host names from a hosts file bind-mounted over /etc/hosts.
// The program is driven through the layer's automation (dialogs filled,
// menu commands chosen) and its traditional view read back as list items;
// Debian's traceroute -I traces the same route for comparison.
//
//   A 10.1.1.1 -- 10.1.1.2 R1 10.1.2.1 -- 10.1.2.2 R2 10.1.3.1 -- 10.1.3.2 B
//
// R2 has no route to 10.1.9.0/24 (net unreachable, "!N"), finds no neighbour
// for 10.1.3.99 (host unreachable, "!H"), and is made silent for time
// exceeded by an ICMP rate limit (the hop shows "No Response").
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "program_driver.h"
#include "qxtest/support.h"

namespace {

using utiltest::Auto;
using utiltest::DrivenProgram;
using utiltest::MustRun;
using utiltest::Sh;

const std::string kPrefix = "qxpp" + std::to_string(getpid());
const std::string kR1 = kPrefix + "r1", kR2 = kPrefix + "r2", kB = kPrefix + "b";

class RouteWorld : public ::testing::Environment {
 public:
  void SetUp() override {
    utiltest::EnterTestWorld(true);
    const std::string hosts = utiltest::WorldDir() + "/hosts";
    qxtest::WriteFile(hosts,
                      "127.0.0.1 localhost\n10.1.1.1 a.route.test\n10.1.1.2 r1.route.test\n"
                      "10.1.2.2 r2.route.test\n10.1.3.2 target.route.test\n");
    ASSERT_EQ(mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr), 0) << "cannot bind-mount /etc/hosts";
    for (const std::string &ns : {kR1, kR2, kB}) {
      MustRun("ip netns add " + ns);
      MustRun("ip -n " + ns + " link set lo up");
      MustRun("ip netns exec " + ns + " sysctl -qw net.ipv4.icmp_ratelimit=0");
    }
    MustRun("ip link add a0 type veth peer name r1a netns " + kR1);
    MustRun("ip -n " + kR1 + " link add r1b type veth peer name r2a netns " + kR2);
    MustRun("ip -n " + kR2 + " link add r2b type veth peer name b0 netns " + kB);
    const std::vector<std::string> setup = {
        "ip addr add 10.1.1.1/24 dev a0",
        "ip link set a0 up",
        "ip route add default via 10.1.1.2",
        "ip -n " + kR1 + " addr add 10.1.1.2/24 dev r1a",
        "ip -n " + kR1 + " addr add 10.1.2.1/24 dev r1b",
        "ip -n " + kR1 + " link set r1a up",
        "ip -n " + kR1 + " link set r1b up",
        "ip -n " + kR1 + " route add default via 10.1.2.2",
        "ip -n " + kR2 + " addr add 10.1.2.2/24 dev r2a",
        "ip -n " + kR2 + " addr add 10.1.3.1/24 dev r2b",
        "ip -n " + kR2 + " link set r2a up",
        "ip -n " + kR2 + " link set r2b up",
        "ip -n " + kR2 + " route add 10.1.1.0/24 via 10.1.2.1",
        "ip -n " + kB + " addr add 10.1.3.2/24 dev b0",
        "ip -n " + kB + " link set b0 up",
        "ip -n " + kB + " route add default via 10.1.3.1",
        "ip netns exec " + kR1 + " sysctl -qw net.ipv4.ip_forward=1",
        "ip netns exec " + kR2 + " sysctl -qw net.ipv4.ip_forward=1",
        // A neighbour that never answers is given up after 0.3 s.
        "ip netns exec " + kR2 +
            " sysctl -qw net.ipv4.neigh.r2b.mcast_solicit=1 net.ipv4.neigh.r2b.retrans_time_ms=300",
    };
    for (const std::string &c : setup) MustRun(c);
  }
  void TearDown() override {
    qxtest::KillProcessesOfRuntime(utiltest::WorldDir() + "/run");
    for (const std::string &ns : {kR1, kR2, kB}) Sh("ip netns del " + ns);
  }
};
const auto *g_env = ::testing::AddGlobalTestEnvironment(new RouteWorld);

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// The address column of a traditional line ("Hop  1 ... 10.1.1.2  name"), "-" for "No Response".
std::string AddressOf(const std::string &line) {
  if (line.find("No Response") != std::string::npos) return "-";
  std::istringstream in(line.substr(line.find(" ms ") + 4));
  std::string address;
  in >> address;
  return address;
}

std::string IniText() { return qxtest::ReadFile(utiltest::WorldDir() + "/work/QXAPPS.INI"); }
// A menu command is posted: the program writes its setting a moment after the choice.
bool IniHolds(const std::string &line) {
  return qxtest::WaitUntil([&] { return IniText().find(line) != std::string::npos; }, 5000);
}

class Pathprobe : public DrivenProgram {
 public:
  Pathprobe() : DrivenProgram("pathprobe", "TraceRoute", "-") {}
  // The destination dialog opens at start; later it is chosen from the menu.
  void Trace(const std::string &host, bool atStart = false) {
    std::string dialog = atStart ? AwaitDialog("Traceroute Destination") : "";
    if (!atStart) {
      ASSERT_TRUE(AwaitMenu(100)) << Errors();
      dialog = AwaitDialog("Traceroute Destination");
    }
    ASSERT_FALSE(dialog.empty()) << Errors();
    Fill(dialog, {{300, host}}, IDOK);
  }
  void CancelDestination() {
    const std::string dialog = AwaitDialog("Traceroute Destination");
    ASSERT_FALSE(dialog.empty()) << Errors();
    EXPECT_EQ(Auto("press " + Auto("item " + dialog + " 2")), "ok");
  }
  // The traditional view's list ("" while the graphical view is on).
  std::string List() const {
    const std::string view = Auto("item " + window() + " 302");
    return utiltest::IsHandle(view) ? Auto("item " + view + " 301") : "";
  }
  std::vector<std::string> Hops() const { return Lines(Auto("items " + List())); }
  // The hop lines once the last one ends the trace as `done` says (bounded wait).
  std::vector<std::string> AwaitHops(size_t count, const std::string &lastHas, int ms) const {
    std::vector<std::string> hops;
    qxtest::WaitUntil(
        [&] {
          hops = Hops();
          return hops.size() == count && hops.back().find(lastHas) != std::string::npos;
        },
        ms);
    return hops;
  }
  // Sets the options dialog's fields after pressing the buttons given (201
  // toggles Lookup Names, 209 Save Configuration), then OK.
  void SetOptions(const std::vector<std::pair<int, std::string>> &fields, const std::vector<int> &press) {
    ASSERT_EQ(Auto("menu " + window() + " 101"), "ok");
    const std::string dialog = AwaitDialog("Options");
    ASSERT_FALSE(dialog.empty());
    for (int id : press) EXPECT_EQ(Auto("press " + Auto("item " + dialog + " " + std::to_string(id))), "ok");
    Fill(dialog, fields, IDOK);
  }
  // What the options dialog shows: probes, hops, data size, port, lookup check.
  std::string ShownOptions() {
    EXPECT_EQ(Auto("menu " + window() + " 101"), "ok");
    const std::string dialog = AwaitDialog("Options");
    std::string shown;
    for (int id : {207, 202, 204, 206})
      shown += Auto("text " + Auto("item " + dialog + " " + std::to_string(id))) + " ";
    shown +=
        Auto("state " + Auto("item " + dialog + " 201")).find("check=1") != std::string::npos ? "names" : "no-names";
    EXPECT_EQ(Auto("press " + Auto("item " + dialog + " 2")), "ok");
    return shown;
  }
  // The recent destinations the dialog offers, newest first.
  std::string OfferedDestinations() {
    EXPECT_TRUE(AwaitMenu(100));
    const std::string dialog = AwaitDialog("Traceroute Destination");
    const std::string offered = Auto("items " + Auto("item " + dialog + " 300"));
    EXPECT_EQ(Auto("press " + Auto("item " + dialog + " 2")), "ok");
    return offered;
  }
  int Exit() { return DrivenProgram::Exit("Traceroute Destination", 104); }
};

TEST(PathprobeTest, RouteHopsNamesAndEndsAgainstDebianTraceroute) {
  Pathprobe probe;
  probe.CancelDestination();
  // The traditional view, kept at once; options saved from the dialog.
  ASSERT_EQ(probe.Auto("menu " + probe.window() + " 200"), "ok");
  EXPECT_TRUE(IniHolds("Traditional=True")) << IniText();
  probe.SetOptions({{207, "2"}, {202, "8"}}, {209});
  for (const char *saved : {"NumProbes=2", "MaxTTL=8", "LookupName=True", "DataLen=56", "Port=33434"})
    EXPECT_NE(IniText().find(saved), std::string::npos) << saved << "\n" << IniText();

  // To the target: two routers, then the target, each with its name; no hop 4.
  probe.Trace("target.route.test");
  std::vector<std::string> hops = probe.AwaitHops(3, "target.route.test", 20000);
  ASSERT_EQ(hops.size(), 3u) << probe.Auto("items " + probe.List());
  EXPECT_EQ(hops[0].substr(0, 10), "Hop  1    ");
  EXPECT_NE(hops[0].find(" ms        10.1.1.2  r1.route.test"), std::string::npos) << hops[0];
  EXPECT_NE(hops[1].find(" ms        10.1.2.2  r2.route.test"), std::string::npos) << hops[1];
  EXPECT_NE(hops[2].find(" ms        10.1.3.2  target.route.test"), std::string::npos) << hops[2];
  EXPECT_EQ(probe.Auto("text " + probe.window()), "TraceRoute to target.route.test (10.1.3.2)");
  // Debian's traceroute over ICMP echo sees the same hops.
  const std::vector<std::string> debian = Lines(Sh("timeout 30 traceroute -I -n -q 1 -w 2 -m 8 10.1.3.2"));
  ASSERT_EQ(debian.size(), 4u) << Sh("traceroute -I -n -q 1 -w 2 -m 8 10.1.3.2");
  for (size_t i = 0; i < 3; ++i) {
    std::istringstream in(debian[i + 1]);
    std::string number, address;
    in >> number >> address;
    EXPECT_EQ(address, AddressOf(hops[i])) << debian[i + 1] << " / " << hops[i];
  }

  // Rejections end the trace at the router that rejects: no route ("!N"),
  // no neighbour ("!H", after R2 gives the address up).
  struct Rejection {
    const char *host;
    size_t hops;
    const char *last;
  };
  for (const Rejection &r : {Rejection{"10.1.9.1", 2, "Hop  2 !N"}, Rejection{"10.1.3.99", 3, "Hop  3 !H"}}) {
    SCOPED_TRACE(r.host);
    probe.Trace(r.host);
    hops = probe.AwaitHops(r.hops, r.last, 30000);
    ASSERT_EQ(hops.size(), r.hops) << probe.Auto("items " + probe.List());
    EXPECT_EQ(hops.back().substr(0, 9), r.last);
    EXPECT_EQ(AddressOf(hops.back()), "10.1.2.2") << hops.back();
    const std::string debianRejects = Sh(std::string("timeout 30 traceroute -I -n -q 1 -w 2 -m 8 ") + r.host);
    EXPECT_NE(debianRejects.find(std::string(r.last).substr(7)), std::string::npos) << debianRejects;
  }

  // A router silent on time exceeded: one try (not saved) gives "No Response"
  // after the wait for a reply, and the trace goes on to the target.
  probe.SetOptions({{207, "1"}}, {});
  MustRun("ip netns exec " + kR2 + " sysctl -qw net.ipv4.icmp_ratelimit=1000000 net.ipv4.icmp_ratemask=2048");
  probe.Trace("target.route.test");
  hops = probe.AwaitHops(3, "target.route.test", 20000);
  MustRun("ip netns exec " + kR2 + " sysctl -qw net.ipv4.icmp_ratelimit=0");
  ASSERT_EQ(hops.size(), 3u) << probe.Auto("items " + probe.List());
  EXPECT_EQ(hops[1], "Hop  2             No Response");
  EXPECT_NE(hops[0].find("r1.route.test"), std::string::npos);
  EXPECT_NE(IniText().find("NumProbes=2"), std::string::npos) << IniText();

  // A new trace while the silent hop is still awaited: the old trace's late
  // result is dropped, and the new one (to R1 itself, reached at hop 1) shows alone.
  MustRun("ip netns exec " + kR2 + " sysctl -qw net.ipv4.icmp_ratelimit=1000000");
  probe.Trace("target.route.test");
  ASSERT_TRUE(qxtest::WaitUntil([&] { return probe.Hops().size() == 2; }, 10000))
      << probe.Auto("items " + probe.List());
  probe.Trace("r1.route.test");
  hops = probe.AwaitHops(1, "10.1.1.2  r1.route.test", 20000);
  Sleep(2000);
  MustRun("ip netns exec " + kR2 + " sysctl -qw net.ipv4.icmp_ratelimit=0");
  EXPECT_EQ(probe.Hops(), hops);
  ASSERT_EQ(hops.size(), 1u) << probe.Auto("items " + probe.List());
  EXPECT_EQ(probe.Auto("text " + probe.window()), "TraceRoute to r1.route.test (10.1.1.2)");
  EXPECT_EQ(probe.OfferedDestinations(), "r1.route.test\ntarget.route.test\n10.1.3.99\n10.1.9.1");
  EXPECT_EQ(probe.Exit(), 0);
}

// Runs after the test above, in the same working directory: what it saved
// comes back, the graphical view draws and selects, a value out of range is
// refused, and the window keeps its size from run to run.
TEST(PathprobeTest, SettingsPersistAndViewsSwitch) {
  std::string placement;
  {
    Pathprobe probe;
    probe.CancelDestination();
    EXPECT_TRUE(utiltest::IsHandle(probe.List())) << "the traditional view was kept";
    EXPECT_EQ(probe.ShownOptions(), "2 8 56 33434 names");
    // 300 hops and 0 probes are refused: the values in force stay.
    probe.SetOptions({{202, "300"}, {207, "0"}, {204, "65500"}, {206, "65000"}}, {});
    EXPECT_EQ(probe.ShownOptions(), "2 8 56 65000 names");
    // The largest data length an IPv4 echo carries is taken and saved, and read back at the next start.
    probe.SetOptions({{204, "65499"}}, {209});
    ASSERT_EQ(probe.Auto("menu " + probe.window() + " 201"), "ok");
    EXPECT_TRUE(IniHolds("Traditional=False")) << IniText();
    EXPECT_TRUE(qxtest::WaitUntil([&] { return !utiltest::IsHandle(probe.List()); }, 5000));
    probe.Trace("target.route.test");
    // The graphical view: the title says the trace began; a double-click selects the first hop's box.
    EXPECT_TRUE(qxtest::WaitUntil(
        [&] { return probe.Auto("text " + probe.window()).find("(10.1.3.2)") != std::string::npos; }, 10000));
    // Box 0 (this computer) sits at the top left; selecting it fills its label with the face colour.
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const std::uint32_t faceRgb = (GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face);
    const size_t unselected = probe.PixelsOf(faceRgb);
    EXPECT_EQ(probe.Auto("click " + probe.window() + " 45 10 double"), "ok");
    EXPECT_TRUE(qxtest::WaitUntil([&] { return probe.PixelsOf(faceRgb) > unselected + 200; }, 5000))
        << "the selected box is not filled";
    // A double-click on empty space unselects it and selects nothing.
    EXPECT_EQ(probe.Auto("click " + probe.window() + " 600 380 double"), "ok");
    EXPECT_TRUE(qxtest::WaitUntil([&] { return probe.PixelsOf(faceRgb) == unselected; }, 5000));
    EXPECT_EQ(probe.Exit(), 0);
    placement = IniText().substr(IniText().find("Xl="));
  }
  Pathprobe again;
  again.CancelDestination();
  EXPECT_FALSE(utiltest::IsHandle(again.List())) << "the graphical view was kept";
  EXPECT_EQ(again.ShownOptions(), "2 8 65499 65000 names");
  EXPECT_EQ(again.Exit(), 0);
  EXPECT_EQ(IniText().substr(IniText().find("Xl=")), placement) << "the window kept its place and size";
}

// MaxTTL 1 and no name lookups (neither saved), and the request as it leaves
// the test's namespace: time-to-live 1 and DataLen + 8 bytes of data (the
// sequence byte, the time-to-live, two zeros, the send tick, then zeros).
TEST(PathprobeTest, OneHopWithoutNamesAndTheRequestOnTheWire) {
  Pathprobe probe;
  probe.CancelDestination();
  ASSERT_EQ(probe.Auto("menu " + probe.window() + " 200"), "ok");
  probe.SetOptions({{202, "1"}, {204, "56"}}, {201});
  utiltest::EchoRequestCapture capture("", "a0");
  ASSERT_TRUE(capture.Ready()) << "tshark did not start capturing on a0";
  probe.Trace("target.route.test");
  const std::vector<std::string> hops = probe.AwaitHops(1, "10.1.1.2", 15000);
  ASSERT_EQ(hops.size(), 1u) << probe.Auto("items " + probe.List());
  EXPECT_NE(hops[0].find(" ms        10.1.1.2  10.1.1.2"), std::string::npos) << hops[0];
  const std::string wire = capture.Fields(15000);
  std::istringstream fields(wire);
  std::string ttl, length, data;
  fields >> ttl >> length >> data;
  EXPECT_EQ(ttl, "1") << wire;
  EXPECT_EQ(length, "92") << wire;  // 20 + 8 + 56 + 8
  ASSERT_EQ(data.size(), 128u) << wire;
  EXPECT_EQ(data.substr(2, 6), "010000") << wire;
  EXPECT_EQ(data.substr(16), std::string(112, '0')) << wire;
  Sleep(1500);
  EXPECT_EQ(probe.Hops().size(), 1u) << "a hop past MaxTTL was probed";
  EXPECT_EQ(probe.Exit(), 0);
}

// ICMP datagram sockets, which need no privilege where the system allows
// them: refused (the message says what to grant), then allowed in this
// namespace and used for a trace.
TEST(PathprobeTest, DatagramSocketsWhereAllowedAndAClearMessageOtherwise) {
  setenv("QX_ICMP_BACKEND", "dgram", 1);
  MustRun("sysctl -qw net.ipv4.ping_group_range='1 0'");
  {
    Pathprobe refused;
    EXPECT_EQ(refused.WaitExit(15000), 1);
    EXPECT_NE(refused.Errors().find("Unable to get a socket"), std::string::npos) << refused.Errors();
    EXPECT_NE(refused.Errors().find("ping_group_range"), std::string::npos) << refused.Errors();
    EXPECT_NE(refused.Errors().find("cap_net_raw"), std::string::npos) << refused.Errors();
  }
  MustRun("sysctl -qw net.ipv4.ping_group_range='0 2147483647'");
  Pathprobe allowed;
  allowed.Trace("target.route.test", true);
  unsetenv("QX_ICMP_BACKEND");
  EXPECT_TRUE(qxtest::WaitUntil(
      [&] { return allowed.Auto("text " + allowed.window()).find("(10.1.3.2)") != std::string::npos; }, 10000));
  EXPECT_EQ(allowed.Exit(), 0);
}

}  // namespace
