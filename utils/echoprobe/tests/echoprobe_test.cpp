// echoprobe watching hosts in network namespaces of the test's own, each
// joined to the test's namespace by a veth pair:
//
//   10.2.1.2  answers every request
//   10.2.2.2  lossy: tc netem drops a share of its replies (where the kernel
//             has no netem, the host ignores echo requests one second at a time)
//   10.2.3.2  unreachable: a route of the test's namespace refuses it, until the
//             test deletes the route and the host answers again
//
// The program is driven through the layer's automation: hosts come from
// "ping.cfg" and the "host" dialog, one is removed by a double-click. The
// counters and the colour of each host are read back as the text the window
// copies; the colours drawn are looked for in a picture of the window.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <random>
#include <thread>
#include <vector>

#include "program_driver.h"
#include "qxtest/support.h"

namespace {

using utiltest::DrivenProgram;
using utiltest::MustRun;
using utiltest::Sh;

const std::string kPrefix = "qxep" + std::to_string(getpid());

std::string Ns(int k) { return kPrefix + "h" + std::to_string(k); }

// Where the kernel has no netem, the lossy host ignores echo requests for one
// second, then answers for one to two. The answering time is drawn each round:
// a lost request is followed by the next 6 s later (5 s reply wait and the
// 1 s delay), and with a fixed 3 s round every request after a lost one fell
// into the ignoring second again, so the host never answered.
class EchoIgnorer {
 public:
  void Start() {
    thread_ = std::thread([this] {
      std::mt19937 random(std::random_device{}());
      std::uniform_int_distribution<int> answering(10, 20);  // tenths of a second
      while (!stop_) {
        Sh("ip netns exec " + Ns(2) + " sysctl -qw net.ipv4.icmp_echo_ignore_all=1");
        std::this_thread::sleep_for(std::chrono::seconds(1));
        Sh("ip netns exec " + Ns(2) + " sysctl -qw net.ipv4.icmp_echo_ignore_all=0");
        for (int i = answering(random); i > 0 && !stop_; --i)
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
EchoIgnorer g_ignorer;

class HostsWorld : public ::testing::Environment {
 public:
  void SetUp() override {
    utiltest::EnterTestWorld(false);
    for (int k = 1; k <= 3; ++k) {
      const std::string ns = Ns(k), net = "10.2." + std::to_string(k);
      for (const std::string &c :
           {"ip netns add " + ns, "ip -n " + ns + " link set lo up",
            "ip link add a" + std::to_string(k) + " type veth peer name h0 netns " + ns,
            "ip addr add " + net + ".1/24 dev a" + std::to_string(k), "ip link set a" + std::to_string(k) + " up",
            "ip -n " + ns + " addr add " + net + ".2/24 dev h0", "ip -n " + ns + " link set h0 up"})
        MustRun(c);
    }
    MustRun("ip route add unreachable 10.2.3.2/32");
    const std::string netem = Sh("tc -n " + Ns(2) + " qdisc add dev h0 root netem loss 40%");
    if (netem.rfind("FAILED", 0) == 0) {
      std::printf("tc netem is not available in this kernel; the lossy host ignores echo requests instead\n");
      g_ignorer.Start();
    }
  }
  void TearDown() override {
    g_ignorer.Stop();
    qxtest::KillProcessesOfRuntime(utiltest::WorldDir() + "/run");
    for (int k = 1; k <= 3; ++k) Sh("ip netns del " + Ns(k));
  }
};
const auto *g_env = ::testing::AddGlobalTestEnvironment(new HostsWorld);

// One host as the window copies it.
struct HostRow {
  int sent = -1, answered = -1, lastMs = -1;
  std::string colour;
};

class Echoprobe : public DrivenProgram {
 public:
  Echoprobe() : DrivenProgram("echoprobe", "PingWindow", "Ping") {}
  std::map<std::string, HostRow> Hosts() const {
    std::map<std::string, HostRow> hosts;
    std::istringstream in(Copied());
    for (std::string line; std::getline(in, line);) {
      std::istringstream fields(line);
      std::string address, ms;
      HostRow s;
      if (fields >> address >> s.sent >> s.answered >> s.lastMs >> ms >> s.colour) hosts[address] = s;
    }
    return hosts;
  }
  // Waits until the host's counters satisfy the condition; the last seen.
  HostRow AwaitHost(const std::string &address, const std::function<bool(const HostRow &)> &ok, int ms) const {
    HostRow seen;
    qxtest::WaitUntil(
        [&] {
          const auto hosts = Hosts();
          const auto it = hosts.find(address);
          if (it == hosts.end()) return false;
          seen = it->second;
          return ok(seen);
        },
        ms);
    return seen;
  }
  void AddHost(const std::string &host) {
    ASSERT_TRUE(AwaitMenu(100)) << Errors();
    const std::string dialog = AwaitDialog("Ping Host");
    ASSERT_FALSE(dialog.empty()) << Errors();
    Fill(dialog, {{101, host}}, IDOK);
  }
  // A number dialog ("Ping Delay", "Packet Size"): the value it offers, then the answer typed.
  std::string AnswerNumber(int command, const std::string &title, const std::string &answer) {
    EXPECT_TRUE(AwaitMenu(command));
    const std::string dialog = AwaitDialog(title);
    const std::string offered = Auto("text " + Auto("item " + dialog + " 101"));
    Fill(dialog, {{101, answer}}, IDOK);
    return offered;
  }
  int Exit() { return DrivenProgram::Exit("Ping Host", 50); }
};

// A host's cell height as the window computes it: the address line under the
// 64 x 64 picture scaled to the system fixed font, and 4 pixels.
int CellHeight() {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SIZE text{};
  GetTextExtentPoint32A(dc, "888.888.888.888", 15, &text);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return text.cy + 64 * (tm.tmHeight + tm.tmExternalLeading) / 15 + 4;
}

constexpr std::uint32_t kRed = 0xFF0000, kMagenta = 0xFF00FF, kBlue = 0x0000FF;

std::string WinIni() {
  std::string text;
  for (const char *name : {"WIN.INI", "win.ini"})
    text += qxtest::ReadFile(utiltest::WorldDir() + "/home/drive_c/WINDOWS/" + name);
  return text;
}

TEST(EchoprobeTest, ColoursAndCountsMoveAsRequestsGoUnanswered) {
  qxtest::WriteFile(utiltest::WorldDir() + "/work/ping.cfg",
                    "# hosts to watch\n10.2.1.2 answers everything\n\n\t10.2.2.2\t# lossy\n#10.2.9.9\n");
  Echoprobe ping;
  ASSERT_TRUE(qxtest::WaitUntil([&] { return ping.Hosts().size() == 2; }, 10000)) << ping.Copied() << ping.Errors();
  ping.AddHost("10.2.3.2");

  // Unreachable: every request unanswered; magenta from 5, red from 10.
  std::vector<std::string> colours;
  const HostRow dead = ping.AwaitHost(
      "10.2.3.2",
      [&](const HostRow &s) {
        if (colours.empty() || colours.back() != s.colour) colours.push_back(s.colour);
        EXPECT_EQ(s.colour, s.sent >= 10 ? "red" : s.sent >= 5 ? "magenta" : "black") << s.sent;
        return s.sent >= 10;
      },
      40000);
  EXPECT_GE(dead.sent, 10);
  EXPECT_EQ(dead.answered, 0);
  EXPECT_EQ(dead.lastMs, 0);
  // Seen in that order (black may have passed before the first look).
  ASSERT_GE(colours.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(colours.end() - 2, colours.end()), (std::vector<std::string>{"magenta", "red"}));
  EXPECT_TRUE(qxtest::WaitUntil([&] { return ping.PixelsOf(kRed) > 10; }, 5000)) << "no red drawn";
  ping.AddHost("10.2.1.2");  // already watched: once only
  ping.AddHost("no-such-host.invalid");
  EXPECT_TRUE(qxtest::WaitUntil(
      [&] { return ping.Errors().find("[Unknown Host] no-such-host.invalid") != std::string::npos; }, 15000))
      << ping.Errors();
  EXPECT_EQ(ping.Hosts().size(), 3u) << ping.Copied();

  // The host that answers everything stays black; its round trip is counted.
  const HostRow good = ping.AwaitHost(
      "10.2.1.2", [](const HostRow &s) { return s.answered >= 5; }, 20000);
  EXPECT_GE(good.answered, good.sent - 1);
  EXPECT_EQ(good.colour, "black");
  EXPECT_LT(good.lastMs, 1000);

  // A request as it reaches the host: time-to-live 255 and 56 bytes 0, 1, 2, ...
  {
    utiltest::EchoRequestCapture capture(Ns(1), "h0");
    ASSERT_TRUE(capture.Ready()) << "tshark did not start capturing";
    std::string pattern;
    for (int i = 0; i < 56; ++i) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", i);
      pattern += hex;
    }
    EXPECT_EQ(capture.Fields(10000), "255\t84\t" + pattern);
  }

  // The lossy host: some requests answered, some not.
  const HostRow lossy = ping.AwaitHost(
      "10.2.2.2", [](const HostRow &s) { return s.sent >= 8 && s.answered > 0 && s.answered < s.sent - 1; }, 60000);
  EXPECT_GT(lossy.answered, 0);
  EXPECT_LT(lossy.answered, lossy.sent - 1) << "sent " << lossy.sent;

  // The route is lifted: the next reply turns the host black again.
  MustRun("ip route del unreachable 10.2.3.2/32");
  const HostRow revived = ping.AwaitHost(
      "10.2.3.2", [](const HostRow &s) { return s.answered > 0; }, 20000);
  EXPECT_EQ(revived.colour, "black");
  // Its red is gone from the picture. The lossy host may be magenta or red by
  // now (a run of lost replies): a colour may stay only while a row has it.
  const auto onlyRowColours = [&] {
    bool red = false, magenta = false;
    for (const auto &[address, row] : ping.Hosts()) {
      red |= row.colour == "red";
      magenta |= row.colour == "magenta";
    }
    return (red || ping.PixelsOf(kRed) == 0) && (magenta || ping.PixelsOf(kMagenta) == 0);
  };
  EXPECT_TRUE(qxtest::WaitUntil(onlyRowColours, 10000))
      << "red " << ping.PixelsOf(kRed) << " magenta " << ping.PixelsOf(kMagenta) << "\n"
      << ping.Copied();

  // A broadcast address is blue whatever comes back.
  ping.AddHost("10.2.1.255");
  EXPECT_EQ(ping.AwaitHost(
                    "10.2.1.255", [](const HostRow &s) { return s.sent >= 1; }, 10000)
                .colour,
            "blue");
  EXPECT_TRUE(qxtest::WaitUntil([&] { return ping.PixelsOf(kBlue) > 10; }, 5000)) << "no blue drawn";

  // A double-click on the third cell of the first column removes that host (10.2.3.2).
  EXPECT_EQ(ping.Auto("click " + ping.window() + " 20 " + std::to_string(2 + 2 * CellHeight() + 20) + " double"), "ok");
  EXPECT_TRUE(qxtest::WaitUntil([&] { return ping.Hosts().count("10.2.3.2") == 0; }, 10000)) << ping.Copied();
  EXPECT_EQ(ping.Hosts().size(), 3u) << ping.Copied();
  EXPECT_EQ(ping.Exit(), 0);
}

// Runs after the test above: its settings and recent hosts come back.
TEST(EchoprobeTest, DelayAndSizeDialogsAreHeldToTheirRangesAndKept) {
  std::remove((utiltest::WorldDir() + "/work/ping.cfg").c_str());
  {
    Echoprobe ping;  // no hosts: the dialog opens at start, offering every name given before, newest first
    const std::string dialog = ping.AwaitDialog("Ping Host");
    ASSERT_FALSE(dialog.empty()) << ping.Errors();
    EXPECT_EQ(ping.Auto("items " + ping.Auto("item " + dialog + " 101")),
              "10.2.1.255\nno-such-host.invalid\n10.2.1.2\n10.2.3.2");
    EXPECT_EQ(ping.Auto("press " + ping.Auto("item " + dialog + " 2")), "ok");
    EXPECT_EQ(ping.AnswerNumber(102, "Ping Delay", "90"), "1");
    EXPECT_EQ(ping.AnswerNumber(103, "Packet Size", "5000"), "56");
    EXPECT_EQ(ping.AnswerNumber(103, "Packet Size", "0"), "4000");  // 0 changes nothing
    EXPECT_EQ(ping.AnswerNumber(102, "Ping Delay", "2"), "60");
    EXPECT_EQ(ping.Exit(), 0);
  }
  EXPECT_NE(WinIni().find("Delay=2"), std::string::npos) << WinIni();
  EXPECT_NE(WinIni().find("Size=4000"), std::string::npos) << WinIni();
  Echoprobe again;
  const std::string dialog = again.AwaitDialog("Ping Host");
  ASSERT_FALSE(dialog.empty()) << again.Errors();
  EXPECT_EQ(again.Auto("press " + again.Auto("item " + dialog + " 2")), "ok");
  EXPECT_EQ(again.AnswerNumber(103, "Packet Size", "0"), "4000");
  EXPECT_EQ(again.AnswerNumber(102, "Ping Delay", "0"), "2");
  EXPECT_EQ(again.Exit(), 0);
}

// Without ICMP datagram or raw sockets the host is not added and the message says what to grant.
TEST(EchoprobeTest, AHostCannotBeWatchedWithoutICMPPermission) {
  setenv("QX_ICMP_BACKEND", "dgram", 1);
  MustRun("sysctl -qw net.ipv4.ping_group_range='1 0'");
  Echoprobe ping;
  ping.AddHost("10.2.1.2");
  unsetenv("QX_ICMP_BACKEND");
  EXPECT_TRUE(qxtest::WaitUntil(
      [&] { return ping.Errors().find("Unable to get a socket for 10.2.1.2") != std::string::npos; }, 15000))
      << ping.Errors();
  EXPECT_NE(ping.Errors().find("ping_group_range"), std::string::npos);
  EXPECT_TRUE(ping.Hosts().empty()) << ping.Copied();
  EXPECT_EQ(ping.Exit(), 0);
}

}  // namespace
