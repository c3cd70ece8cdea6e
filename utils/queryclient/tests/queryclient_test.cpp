// The query clients' shared rules: the recent-value list in QXAPPS.INI and
// the reply bytes made printable, each as a table.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "queryclient.h"
#include "qxtest/support.h"

namespace {

std::vector<std::string> Slots(const std::string &ini) {
  std::vector<std::string> out;
  for (int i = 0; i < 10; ++i) {
    char key[16], value[128];
    std::snprintf(key, sizeof key, "FILE_%d", i);
    GetPrivateProfileStringA("Finger", key, "<none>", value, sizeof value, ini.c_str());
    out.push_back(value);
  }
  while (!out.empty() && out.back() == "<none>") out.pop_back();
  return out;
}

TEST(RecentList, MovesToTheFrontAndKeepsNine) {
  qxtest::ScratchDir scratch("qx-recent");
  const std::string ini = (scratch.dir() / "QXAPPS.INI").string();
  struct Step {
    const char *add;
    std::vector<std::string> after;
  };
  const std::vector<Step> steps = {
      {"alpha", {"alpha"}},
      {"beta", {"beta", "alpha"}},
      {"gamma", {"gamma", "beta", "alpha"}},
      {"ALPHA", {"ALPHA", "gamma", "beta"}},  // the same host in another case moves up, in its new case
      {"gamma", {"gamma", "ALPHA", "beta"}},
      {"gamma", {"gamma", "ALPHA", "beta"}},  // already first: nothing moves
  };
  for (const Step &s : steps) {
    SCOPED_TRACE(s.add);
    RecentListAdd(ini.c_str(), "Finger", "FILE_%d", s.add);
    EXPECT_EQ(Slots(ini), s.after);
  }
  for (const char *host : {"h4", "h5", "h6", "h7", "h8", "h9"}) RecentListAdd(ini.c_str(), "Finger", "FILE_%d", host);
  EXPECT_EQ(Slots(ini), (std::vector<std::string>{"h9", "h8", "h7", "h6", "h5", "h4", "gamma", "ALPHA", "beta"}));
  RecentListAdd(ini.c_str(), "Finger", "FILE_%d", "h10");  // a tenth distinct value drops the oldest
  EXPECT_EQ(Slots(ini), (std::vector<std::string>{"h10", "h9", "h8", "h7", "h6", "h5", "h4", "gamma", "ALPHA"}));
}

TEST(ReplyBytes, RewrittenForTheTextWindow) {
  struct Case {
    std::string in;
    const char *lpd;
    const char *finger;
  };
  const std::vector<Case> cases = {
      {"a\nb", "a\r\nb", "a\nb"},                                    // LF: CR added for LPD only
      {"a\r\nb", "a\r\r\nb", "a\r\nb"},                              // CR LF becomes CR CR LF, shown the same
      {"\x88\x89\x8a\x8c", "\b\t\n\f", "\b\t\n\f"},                  // the top bit dropped
      {"x\x8dy", "x\r\ny", "x\ny"},                                  // 0x8D: a new line
      {"\x8b\x8e\xe9\x80", "\x8b\x8e\xe9\x80", "\x8b\x8e\xe9\x80"},  // others kept
      {std::string("n\0u\0\0l", 6), "nul", "nul"},                   // NULs would end the printed string
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(QueryRewriteReply(QUERY_REPLY_LPD, c.in.data(), static_cast<int>(c.in.size())), c.lpd);
    EXPECT_EQ(QueryRewriteReply(QUERY_REPLY_FINGER, c.in.data(), static_cast<int>(c.in.size())), c.finger);
  }
}

}  // namespace
