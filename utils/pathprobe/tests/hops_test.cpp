// pathprobe's hop states, hop texts, box layout and settings, as tables.
#include <gtest/gtest.h>
#include <icmpapi.h>
#include <winsock.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "hops.h"
#include "qxtest/support.h"

namespace {

TEST(HopsTest, StatusesGiveStatesAndOnlyARouterGoesOn) {
  const struct {
    ULONG status;
    BYTE state;
  } cases[] = {
      {IP_SUCCESS, HOP_REACHED},
      {IP_DEST_NET_UNREACHABLE, HOP_NET_UNREACHABLE},
      {IP_DEST_HOST_UNREACHABLE, HOP_HOST_UNREACHABLE},
      {IP_DEST_PROT_UNREACHABLE, HOP_PROT_UNREACHABLE},
      {IP_DEST_PORT_UNREACHABLE, HOP_PROT_UNREACHABLE},
      {IP_PACKET_TOO_BIG, HOP_TOO_BIG},
      {IP_BAD_ROUTE, HOP_BAD_ROUTE},
      {IP_TTL_EXPIRED_TRANSIT, HOP_ROUTER},
      {IP_REQ_TIMED_OUT, HOP_ROUTER},
      {IP_TTL_EXPIRED_REASSEM, HOP_OTHER},
      {IP_PARAM_PROBLEM, HOP_OTHER},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(HopStateFromStatus(c.status), c.state) << c.status;
    EXPECT_EQ(HopStateGoesOn(c.state), c.state == HOP_ROUTER) << c.status;
  }
}

HOP_RECORD Hop(DWORD sendTick, DWORD replyTick, const char *address, const char *name, BYTE state) {
  HOP_RECORD hop{};
  hop.sendTick = sendTick;
  hop.replyTick = replyTick;
  hop.address = inet_addr(address);
  std::snprintf(hop.name, sizeof hop.name, "%s", name);
  hop.state = state;
  return hop;
}

TEST(HopsTest, HopTextInBothViewsAsATable) {
  const struct {
    HOP_RECORD hop;
    int k;
    const char *traditional;
    const char *graphical;
    BOOL ends;
  } cases[] = {
      {Hop(1000, 0, "0.0.0.0", "", HOP_NO_REPLY), 2, "Hop  2             No Response", "No Response", FALSE},
      {Hop(1000, 1003, "10.1.1.2", "r1.test", HOP_ROUTER), 1, "Hop  1        3 ms        10.1.1.2  r1.test",
       "r1.test - 3 ms", FALSE},
      {Hop(1000, 1012, "10.1.3.2", "10.1.3.2", HOP_REACHED), 3, "Hop  3       12 ms        10.1.3.2  10.1.3.2",
       "10.1.3.2 - 12 ms", TRUE},
      {Hop(5, 6, "10.1.2.2", "r2", HOP_NET_UNREACHABLE), 12, "Hop 12 !N     1 ms        10.1.2.2  r2", "r2 !N - 1 ms",
       TRUE},
      {Hop(5, 6, "10.1.2.2", "r2", HOP_HOST_UNREACHABLE), 2, "Hop  2 !H     1 ms        10.1.2.2  r2", "r2 !H - 1 ms",
       TRUE},
      {Hop(5, 6, "10.1.2.2", "r2", HOP_PROT_UNREACHABLE), 2, "Hop  2 !P     1 ms        10.1.2.2  r2", "r2 !P - 1 ms",
       TRUE},
      {Hop(5, 6, "10.1.2.2", "r2", HOP_TOO_BIG), 2, "Hop  2 !F     1 ms        10.1.2.2  r2", "r2 !F - 1 ms", TRUE},
      {Hop(5, 6, "10.1.2.2", "r2", HOP_BAD_ROUTE), 2, "Hop  2 !S     1 ms        10.1.2.2  r2", "r2 !S - 1 ms", TRUE},
      // Any other state: " !" and the state minus one in hexadecimal; it ends the trace in the engine only.
      {Hop(5, 6, "10.1.2.2", "r2", HOP_OTHER), 2, "Hop  2 !fd     1 ms        10.1.2.2  r2", "r2 !fd - 1 ms", FALSE},
      // The tick counter wrapping between send and reply still gives the time taken.
      {Hop(0xFFFFFFFE, 3, "192.168.100.200", "far", HOP_ROUTER), 255, "Hop 255        5 ms %s192.168.100.200  far",
       "far - 5 ms", FALSE},
  };
  for (const auto &c : cases) {
    std::string text;
    std::string want = c.traditional;
    if (const size_t at = want.find("%s"); at != std::string::npos) want.erase(at, 2);
    EXPECT_EQ(HopText(c.hop, c.k, true, &text), c.ends) << want;
    EXPECT_EQ(text, want);
    EXPECT_EQ(HopText(c.hop, c.k, false, &text), c.ends);
    EXPECT_EQ(text, c.graphical);
  }
}

TEST(HopsTest, BoxesRunDownOneColumnAndUpTheNext) {
  const int w = 32, r = 24;
  HOP_LAYOUT layout{};
  // n = ((h - 8) / R - 1) / 2 = 2: two rows a column, even n.
  HopBoxLayout(8 + 5 * r, w, r, &layout);
  EXPECT_EQ(layout.perColumn, 2);
  EXPECT_EQ(layout.box[0].x, w + 2);
  EXPECT_EQ(layout.box[0].y, 0);
  const POINT even[] = {{2, 2 * r}, {2 + 2 * w, 4 * r}, {2 + 4 * w, 2 * r}, {2 + 6 * w, 0}, {2 + 8 * w, 2 * r}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(layout.box[i + 1].x, even[i].x) << i + 1;
    EXPECT_EQ(layout.box[i + 1].y, even[i].y) << i + 1;
  }
  // A window 8 + 3R high gives n = 1: every column holds one box.
  HopBoxLayout(8 + 3 * r, w, r, &layout);
  EXPECT_EQ(layout.perColumn, 1);
  for (int i = 1; i < 8; ++i) EXPECT_EQ(layout.box[i + 1].x - layout.box[i].x != 0, true) << i;
  // n = 3, odd: the turn at the top of the upward column moves into the next column.
  HopBoxLayout(8 + 7 * r, w, r, &layout);
  EXPECT_EQ(layout.perColumn, 3);
  EXPECT_EQ(layout.box[6].y, 0);
  EXPECT_EQ(layout.box[6].x, 2 + 4 * w + 4 * w);  // box 6 and n differ in parity: no shift
  // Every box of the table has a place; the extent covers the boxes asked for.
  EXPECT_EQ(HopLayoutExtent(layout, w, 1), layout.box[1].x + 4 * w + 2);
  EXPECT_GE(HopLayoutExtent(layout, w, 255), layout.box[255].x + 4 * w + 2);
  EXPECT_EQ(HopLayoutExtent(layout, w, 999), HopLayoutExtent(layout, w, 255));
}

TEST(HopsTest, SettingsOutOfRangeFallBackToTheirDefaults) {
  qxtest::TempDir dir("qx-hops", 0700);
  const std::string ini = dir / "QXAPPS.INI";
  const struct {
    const char *text;
    bool lookup, traditional;
    unsigned dataLen;
    int maxTtl, numProbes;
    long port;
  } cases[] = {
      {"", true, false, 56, 30, 3, 33434},
      {"LookupName=maybe\nTraditional=maybe\n", false, true, 56, 30, 3, 33434},
      {"LookupName=YES\nTraditional=no\nDataLen=65499\nMaxTTL=255\nNumProbes=10\nPort=70000\n", true, false, 65499, 255,
       10, 70000},
      // DataLen past what an IPv4 echo carries, MaxTTL 0 and 256, NumProbes 11, Port 0.
      {"LookupName=1\nTraditional=0\nDataLen=65500\nMaxTTL=256\nNumProbes=11\nPort=0\n", true, false, 56, 30, 3, 33434},
      {"LookupName=0\nTraditional=1\nDataLen=0\nMaxTTL=0\nNumProbes=0\nPort=x\n", false, true, 56, 30, 3, 33434},
  };
  for (const auto &c : cases) {
    qxtest::WriteFile(ini, std::string("[pathprobe]\n") + c.text);
    PROBE_SETTINGS s{};
    ReadProbeSettings(ini.c_str(), &s);
    EXPECT_EQ(s.lookupName, c.lookup) << c.text;
    EXPECT_EQ(s.traditional, c.traditional) << c.text;
    EXPECT_EQ(s.dataLen, c.dataLen) << c.text;
    EXPECT_EQ(s.maxTtl, c.maxTtl) << c.text;
    EXPECT_EQ(s.numProbes, c.numProbes) << c.text;
    EXPECT_EQ(s.basePort, c.port) << c.text;
  }
}

}  // namespace
