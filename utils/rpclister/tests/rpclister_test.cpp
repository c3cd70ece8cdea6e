// The listers' decoding of XDR results within the bytes received, their list
// lines and the NIS field selection, as tables of hostile and ordinary input.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rpclister.h"

namespace {

std::string Word(std::uint32_t v) {
  std::string out;
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<char>((v >> s) & 0xFF));
  return out;
}
std::string Str(const std::string &s) {
  std::string out = Word(static_cast<std::uint32_t>(s.size())) + s;
  while (out.size() % 4) out.push_back('\0');
  return out;
}
// One export: its directory and groups, as the MOUNT export list encodes it.
std::string Export(const std::string &dir, const std::vector<std::string> &groups) {
  std::string out = Word(1) + Str(dir);
  for (const std::string &g : groups) out += Word(1) + Str(g);
  return out + Word(0);
}

EXPORT_TABLE Exports(const std::string &body) {
  return DecodeExportList(reinterpret_cast<const unsigned char *>(body.data()), static_cast<DWORD>(body.size()));
}

TEST(ExportList, DecodesWithinTheBytesReceived) {
  struct Case {
    const char *name;
    std::string body;
    size_t exports;
    int notShown;
    bool damaged;
  };
  std::string many;
  for (int i = 0; i < 300; ++i) many += Export("/d/e" + std::to_string(i), {});
  const std::string two = Export("/d/pub", {}) + Export("/d/ro", {"alpha", "beta"});
  const std::vector<Case> cases = {
      {"empty list", Word(0), 0, 0, false},
      {"two exports", two + Word(0), 2, 0, false},
      {"no end word", two, 2, 0, true},
      {"nothing at all", "", 0, 0, true},
      {"string length past the datagram", Word(1) + Word(0x7FFFFFF0) + "abcd", 0, 0, true},
      {"padding past the datagram", Word(1) + Word(3) + "abc", 0, 0, true},
      {"group list cut", Word(1) + Str("/d/x") + Word(1) + Word(9), 0, 0, true},
      {"300 exports", many + Word(0), 250, 50, false},
  };
  for (const Case &c : cases) {
    const EXPORT_TABLE t = Exports(c.body);
    EXPECT_EQ(t.exports.size(), c.exports) << c.name;
    EXPECT_EQ(t.notShown, c.notShown) << c.name;
    EXPECT_EQ(t.damaged, c.damaged) << c.name;
  }
  const EXPORT_TABLE t = Exports(two + Word(0));
  EXPECT_EQ(t.exports[1].directory, "/d/ro");
  EXPECT_EQ(t.exports[1].groups, (std::vector<std::string>{"alpha", "beta"}));
}

TEST(ExportList, GroupNamesAreCappedAndControlBytesShownSafely) {
  std::string body;
  for (int i = 0; i < 3; ++i) body += Export("/d/" + std::to_string(i), std::vector<std::string>(100, "g"));
  const EXPORT_TABLE t = Exports(body + Word(0));
  ASSERT_EQ(t.exports.size(), 3u);
  EXPECT_EQ(t.exports[0].groups.size() + t.exports[1].groups.size() + t.exports[2].groups.size(), 250u);
  const EXPORT_TABLE nul = Exports(Export(std::string("/d/a\0b\n", 7), {}) + Word(0));
  ASSERT_EQ(nul.exports.size(), 1u);
  EXPECT_EQ(nul.exports[0].directory, "/d/a?b?");
}

TEST(ListLines, AsTheListsShowThem) {
  EXPECT_EQ(ExportLine({"/d/pub", {}}), "/d/pub" + std::string(26, ' ') + "\t (everyone)");
  EXPECT_EQ(ExportLine({"/d/ro", {"alpha", "beta"}}), "/d/ro" + std::string(27, ' ') + "\t alpha beta");
  const std::string longDir(40, 'x');
  EXPECT_EQ(ExportLine({longDir, {}}), longDir + "\t (everyone)");
  struct Case {
    RPC_REGISTRATION e;
    const char *line;
  };
  const std::vector<Case> cases = {
      {{100000, 2, 17, 111}, "    100000\t 2\t  111\t udp\tportmapper"},
      {{100005, 1, 6, 2049}, "    100005\t 1\t 2049\t tcp\tmountd"},
      {{788585389, 1, 17, 2049}, " 788585389\t 1\t 2049\t udp\tqxnfsd"},
      {{400123, 3, 17, 900}, "    400123\t 3\t  900\t udp\t(unknown)"},
      {{0xFFFFFFFFu, 1, 17, 1}, "        -1\t 1\t    1\t udp\t"},  // the table's end entry: no name
  };
  for (const Case &c : cases) EXPECT_EQ(RegistrationLine(c.e), c.line);
  EXPECT_EQ(TableEndLine(0, false, false), "");
  EXPECT_EQ(TableEndLine(50, false, false), "... (50 more not shown)");
  EXPECT_EQ(TableEndLine(0, true, false), "... (the reply ended early; the list may be incomplete)");
}

TEST(Registrations, DecodeWithinTheBytesReceived) {
  std::string body;
  for (int i = 0; i < 300; ++i) body += Word(1) + Word(100000 + i) + Word(1) + Word(17) + Word(700 + i);
  const std::string whole = body + Word(0);
  REGISTRATION_TABLE t =
      DecodeRegistrations(reinterpret_cast<const unsigned char *>(whole.data()), static_cast<DWORD>(whole.size()));
  EXPECT_EQ(t.entries.size(), 250u);
  EXPECT_EQ(t.notShown, 50);
  EXPECT_FALSE(t.damaged);
  const std::string cut = Word(1) + Word(100000) + Word(2);
  t = DecodeRegistrations(reinterpret_cast<const unsigned char *>(cut.data()), static_cast<DWORD>(cut.size()));
  EXPECT_TRUE(t.entries.empty());
  EXPECT_TRUE(t.damaged);
  t = DecodeRegistrations(nullptr, 100);
  EXPECT_TRUE(t.damaged);
}

TEST(NisField, SelectsOneFieldWithinTheLimit) {
  struct Case {
    const char *value;
    int field, max;
    const char *want;
  };
  const std::vector<Case> cases = {
      {"10.1.2.3 pc1 pc1.example.com", 1, 80, "10.1.2.3"},
      {"10.1.2.3 pc1 pc1.example.com", 2, 80, "pc1"},
      {"10.1.2.3\tpc1", 2, 80, "pc1"},
      {"a:b:c", 3, 80, "c"},
      {"a  b", 2, 80, ""},  // two blanks make an empty field
      {"a  b", 3, 80, "b"},
      {"whole value: kept", 0, 80, "whole value: kept"},
      {"10.1.2.3 pc1", 1, 4, "10.1"},  // never more than the limit
      {"x", 5, 80, ""},
  };
  for (const Case &c : cases) EXPECT_EQ(NisField(c.value, c.field, c.max), c.want) << c.value << " " << c.field;
}

}  // namespace
