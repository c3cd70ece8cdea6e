// The request authorisation library: rule lines good and bad, the order the
// rules are tried in, whole-label DNS matching, and ValidateRequest itself
// with its rule file re-read on change and its log lines.
#include <gtest/gtest.h>

#include <windows.h>
#include <winsock.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "gatekeeper.h"
#include "rules.h"

using namespace gatekeeper;

namespace {

uint32_t Quad(const char *text) {
  uint32_t value = 0;
  EXPECT_TRUE(ParseDottedQuad(text, &value)) << text;
  return value;
}

// Each line alone: the message it earns (0: taken).
TEST(GatekeeperRules, EachLineTakenOrRefusedWithItsMessage) {
  const struct {
    const char *line;
    int message;
    const char *detail;
  } cases[] = {
      {"default 1", 0, ""},
      {"DEFAULT -3 docs", 0, ""},
      {"default", kOnlyDefault, ""},
      {"default x1", kBadCode, "x1"},
      {"default 1x docs", kBadCode, "1x"},
      {"default 99999999999 docs", kBadCode, "99999999999"},
      {"10.0.0.0", kOnlyAddress, ""},
      {"10.0.0.0 docs", kMaskExpected, "docs"},
      {"10.0.0.0 255.0.255.0 1 docs", kBadMask, "255.0.255.0"},
      {"10.0.0.0 255.255.255.1 1 docs", kBadMask, "255.255.255.1"},
      {"10.0.0.0 255.0.0.0", kOnlyAddressAndMask, ""},
      {"10.0.0.0 255.0.0.0 one docs", kBadCode, "one"},
      {"10.0.0.0 255.0.0.0 1", kNoDirectory, ""},
      {"10.0.0.0 0.0.0.0 1 docs", 0, ""},
      {"10.0.0.0 255.255.255.255 1 docs # a comment", 0, ""},
      {"example.com 1", kNoDirectory, ""},
      {"example.com 1 docs", 0, ""},
      {"exa$mple.com 1 docs", kBadDnsName, ""},
      {"10.0.0.256 255.0.0.0 1 docs", kBadCode, "255.0.0.0"},  // not a quad: read as a name and its code
      {"1.2.3.4.5 255.0.0.0 1 docs", kBadCode, "255.0.0.0"},
      {"   # only a comment", 0, ""},
      {"", 0, ""},
  };
  for (const auto &c : cases) {
    std::vector<LineError> errors;
    ParseRules(c.line, &errors);
    if (c.message == 0) {
      EXPECT_TRUE(errors.empty()) << c.line << " -> " << errors[0].message;
    } else {
      ASSERT_EQ(errors.size(), 1u) << c.line;
      EXPECT_EQ(errors[0].message, c.message) << c.line;
      EXPECT_EQ(errors[0].detail, c.detail) << c.line;
      EXPECT_EQ(errors[0].line, 1);
    }
  }
  EXPECT_EQ(MessageText(kBadMask, "255.0.255.0"), "Invalid netmask - \"255.0.255.0\"");
}

TEST(GatekeeperRules, ConflictsBetweenLinesKeepTheFirst) {
  std::vector<LineError> errors;
  RuleSet rules = ParseRules(
      "default 1\n"
      "default 2\n"                   // line 2: second master default
      "default 3 docs\n"              // kept
      "default 4 docs\n"              // line 4: second directory default
      "10.0.0.0 255.0.0.0 5 docs\n"   // kept, before the default
      "example.com 6 docs\n"          // line 6: mixed kinds
      "example.com 7 names\n"         // kept
      "10.0.0.0 255.0.0.0 8 names\n"  // line 8: mixed kinds
      ,
      &errors);
  ASSERT_EQ(errors.size(), 4u);
  EXPECT_EQ(errors[0].line, 2);
  EXPECT_EQ(errors[0].message, kSecondMasterDefault);
  EXPECT_EQ(errors[1].line, 4);
  EXPECT_EQ(errors[1].message, kSecondDefault);
  EXPECT_EQ(errors[2].line, 6);
  EXPECT_EQ(errors[2].message, kMixedKinds);
  EXPECT_EQ(errors[3].line, 8);
  EXPECT_EQ(errors[3].message, kMixedKinds);
  // Longest directory first; the empty one (master default) last.
  ASSERT_EQ(rules.size(), 3u);
  EXPECT_EQ(rules[0].directory, "names");
  EXPECT_EQ(rules[1].directory, "docs");
  EXPECT_EQ(rules[2].directory, "");
  ASSERT_EQ(rules[1].rules.size(), 2u);
  EXPECT_EQ(rules[1].rules[0].code, 5);
  EXPECT_EQ(rules[1].rules[1].kind, kDirectoryDefault);
}

TEST(GatekeeperRules, OverlongLinesAreSkippedWholeNotSplit) {
  // A 300-character line whose tail would read as a rule of its own.
  std::string longLine = "default 9 " + std::string(280, 'x') + " 10.0.0.0 255.0.0.0 7 docs";
  std::vector<LineError> errors;
  RuleSet rules = ParseRules(longLine + "\r\ndefault 1\r\n", &errors);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].message, kLineTooLong);
  EXPECT_EQ(errors[0].line, 1);
  ASSERT_EQ(rules.size(), 1u);
  EXPECT_EQ(Decide(rules, Quad("10.1.1.1"), "docs", nullptr), 1);
  std::string exact = "default 2 " + std::string(kMaxLine - 10, 'd');
  errors.clear();
  ParseRules(exact, &errors);
  EXPECT_TRUE(errors.empty());
}

TEST(GatekeeperRules, DecisionsByAddressDirectoryAndOrder) {
  std::vector<LineError> errors;
  RuleSet rules = ParseRules(
      "default 0\n"
      "10.0.0.0 255.0.0.0 1 docs\n"
      "10.1.0.0 255.255.0.0 2 docs\n"   // longer mask: tried first
      "10.2.0.0 255.255.0.0 -1 docs\n"  // negative: on to the shorter directory
      "default 4 do\n"
      "default 3 docs/public\n"
      "0.0.0.0 0.0.0.0 5 open\n"       // a mask of no ones matches everyone...
      "default 6 open\n"               // ...and the default stays behind it
      "10.0.0.1 255.255.0.0 7 gap\n",  // network bits outside its mask: never matches
      &errors);
  ASSERT_TRUE(errors.empty());
  const struct {
    const char *peer;
    const char *request;
    long code;
  } cases[] = {
      {"10.1.2.3", "docs/x", 2},       {"10.5.2.3", "docs/x", 1}, {"11.1.2.3", "docs/x", 4},
      {"11.1.2.3", "other", 0},        {"10.2.3.4", "docs/x", 4}, {"10.1.2.3", "DOCS/PUBLIC/y", 3},
      {"200.1.1.1", "docs/public", 3}, {"10.5.2.3", "open", 5},   {"10.0.0.1", "gap", 0},
      {"10.1.2.3", "docsecret", 2},  // prefixes are plain text, as the rule file writes them
  };
  for (const auto &c : cases)
    EXPECT_EQ(Decide(rules, Quad(c.peer), c.request, nullptr), c.code) << c.peer << " " << c.request;
}

TEST(GatekeeperRules, DnsRulesMatchWholeLabelsOfAConfirmedName) {
  const struct {
    const char *host;
    const char *name;
    bool match;
  } cases[] = {
      {"pc1.example.com", "example.com", true},
      {"example.com", "example.com", true},
      {"PC1.Example.COM", "example.com", true},
      {"badexample.com", "example.com", false},
      {"badexample.com", ".example.com", false},
      {"pc1.example.com", ".example.com", true},
      {"com", "example.com", false},
      {"\xff", "example.com", false},
  };
  for (const auto &c : cases) EXPECT_EQ(DnsNameMatches(c.host, c.name), c.match) << c.host << " " << c.name;

  std::vector<LineError> errors;
  RuleSet rules = ParseRules("default 0\nexample.com 1 docs\npc1.example.com 2 docs\n", &errors);
  ASSERT_TRUE(errors.empty());
  int lookups = 0;
  std::string answer;
  NameLookup lookup = [&](uint32_t) {
    lookups++;
    return answer;
  };
  answer = "pc1.example.com.";
  EXPECT_EQ(Decide(rules, 1, "docs/a", lookup), 2);  // the longer name first
  answer = "pc2.example.com";
  EXPECT_EQ(Decide(rules, 1, "docs/a", lookup), 1);
  answer = "pc2.badexample.com";
  EXPECT_EQ(Decide(rules, 1, "docs/a", lookup), 0);
  answer = "";  // no name, or one that does not lead back to the peer
  EXPECT_EQ(Decide(rules, 1, "docs/a", lookup), 0);
  lookups = 0;
  EXPECT_EQ(Decide(rules, 1, "other", lookup), 0);
  EXPECT_EQ(lookups, 0);  // no DNS rule applies: no lookup
}

TEST(GatekeeperRules, LogTextEscapesControlCharacters) {
  EXPECT_EQ(EscapeForLog("0docs\r\nfake line\t\x01\x7f"), "0docs\\r\\nfake line\\t\\x01\\x7F");
  EXPECT_EQ(EscapeForLog("plain\\path"), "plain\\path");
}

// ValidateRequest itself, in a directory of its own with "QXAPPS.INI" in the
// Windows directory naming a log file.
class GatekeeperCall : public ::testing::Test {
 protected:
  static std::string dir_;
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/qx-gatekeeper-XXXXXX";
    dir_ = mkdtemp(pattern);
    setenv("QX_HOME", (dir_ + "/home").c_str(), 1);
    setenv("QX_WINDOWS_DIR", dir_.c_str(), 1);
    setenv("QX_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    std::ofstream(dir_ + "/QXAPPS.INI") << "[gatekeeper]\r\nLogFile=" << dir_ << "/gate.log\r\n";
    Rules("default 1\n");
  }
  static void TearDownTestSuite() {
    if (chdir("/") != 0) return;
    std::string command = "rm -rf '" + dir_ + "'";
    if (system(command.c_str()) != 0) return;
  }
  static void Rules(const std::string &text) { std::ofstream(dir_ + "/GATEKEEPER.DAT", std::ios::trunc) << text; }
  static sockaddr_in Peer(const char *quad, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(Quad(quad));
    a.sin_port = htons((u_short)port);
    return a;
  }
  static std::string LogTail(size_t from) {
    std::ifstream in(dir_ + "/gate.log", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::string all = s.str();
    return from < all.size() ? all.substr(from) : "";
  }
  static size_t LogSize() { return LogTail(0).size(); }
};
std::string GatekeeperCall::dir_;

// "Fri Dec 11 03:10:00 2026 - " is 27 characters: the rest is compared.
std::vector<std::string> LinesWithoutTime(const std::string &log) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find("\r\n", start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    lines.push_back(line.size() > 27 ? line.substr(27) : line);
    start = end + 2;
  }
  return lines;
}

TEST_F(GatekeeperCall, DecidesLogsAndRereadsAnEditedFile) {
  size_t mark = LogSize();
  sockaddr_in peer = Peer("10.1.2.3", 4242);
  EXPECT_EQ(ValidateRequest(GATEKEEPER_GOPHER, &peer, "0docs/x\r\n", nullptr), 1);
  EXPECT_EQ(ValidateRequest(GATEKEEPER_GOPHER, &peer, "\r\n", nullptr), 1);
  EXPECT_EQ(ValidateRequest(GATEKEEPER_GOPHER, &peer, nullptr, nullptr), 0);
  int permission = 7;
  EXPECT_EQ(ValidateRequest(GATEKEEPER_HTTP, &peer, "/a", &permission), 1);
  EXPECT_EQ(ValidateRequest(0x10009, &peer, "x", &permission), 1);

  // Edited at once, in the same second: the next call sees the new rules.
  Rules("default 0\n10.0.0.0 255.0.0.0 1 0docs\n10.0.0.0 255.0.255.0 1 0docs\n");
  EXPECT_EQ(ValidateRequest(GATEKEEPER_GOPHER, &peer, "0docs/x\r\n", nullptr), 1);
  sockaddr_in stranger = Peer("11.1.2.3", 80);
  EXPECT_EQ(ValidateRequest(GATEKEEPER_GOPHER, &stranger, "0docs/x\r\n", nullptr), 0);
  EXPECT_EQ(ValidateRequest(GATEKEEPER_GOPHER, &peer, "0other\r\n", nullptr), 0);

  std::vector<std::string> lines = LinesWithoutTime(LogTail(mark));
  const std::vector<std::string> expected = {
      "QXburrowserve got IP=10.1.2.3 Port=4242 requesting 0docs/x\\r\\n, permission (none) - we said 1",
      "QXburrowserve got IP=10.1.2.3 Port=4242 requesting the default, permission (none) - we said 1",
      "QXburrowserve got IP=10.1.2.3 Port=4242 with no request at all",
      "QXHttpD got IP=10.1.2.3 Port=4242 requesting /a, permission 7 - we said 1",
      "Unknown Application got IP=10.1.2.3 Port=4242 requesting x, permission (none) - we said 1",
      "GATEKEEPER.DAT Line 3: Invalid netmask - \"255.0.255.0\"",
      "QXburrowserve got IP=10.1.2.3 Port=4242 requesting 0docs/x\\r\\n, permission (none) - we said 1",
      "QXburrowserve got IP=11.1.2.3 Port=80 requesting 0docs/x\\r\\n, permission (none) - we said 0",
      "QXburrowserve got IP=10.1.2.3 Port=4242 requesting 0other\\r\\n, permission (none) - we said 0",
  };
  EXPECT_EQ(lines, expected);
  // The time is ctime's text without its line end.
  std::string first = LogTail(mark).substr(0, 27);
  EXPECT_EQ(first.substr(24), " - ") << first;

  // Loaded by name, as a program that does not link it calls it: the same export.
  HMODULE library = LoadLibraryA("GATEKEEPER.DLL");
  ASSERT_NE(library, nullptr);
  typedef LONG(WINAPI * VALIDATE)(DWORD, const sockaddr_in *, const char *, const int *);
  VALIDATE validate = (VALIDATE)GetProcAddress(library, "ValidateRequest");
  ASSERT_NE(validate, nullptr);
  EXPECT_EQ(validate(GATEKEEPER_GOPHER, &peer, "0docs/y\r\n", nullptr), 1);
  FreeLibrary(library);

  // A missing file keeps the rules in force.
  unlink((dir_ + "/GATEKEEPER.DAT").c_str());
  EXPECT_EQ(ValidateRequest(GATEKEEPER_GOPHER, &peer, "0docs/x\r\n", nullptr), 1);
  Rules("default 1\n");
}

}  // namespace
