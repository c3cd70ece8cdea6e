// The directory-name table: stored spellings found without regard to case,
// the first in byte order among those equal but for case, through growth,
// shrinking, removal from the middle of a probe run and rewriting of its text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "name_table.h"

namespace {

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// What the table must answer, from a plain set of names.
struct Model {
  std::set<std::string> names;
  // Folded name -> the first spelling in byte order (the set is in byte order).
  std::map<std::string, std::string> FirstSpellings() const {
    std::map<std::string, std::string> first;
    for (const auto &n : names) first.emplace(Lower(n), n);
    return first;
  }
};

void ExpectSame(const qx::NameTable &table, const Model &model, const std::vector<std::string> &probes) {
  std::vector<std::string> listed;
  table.ForEach([&](std::string_view n) { listed.emplace_back(n); });
  std::sort(listed.begin(), listed.end());
  ASSERT_EQ(listed, std::vector<std::string>(model.names.begin(), model.names.end()));
  ASSERT_EQ(table.size(), model.names.size());
  const auto first = model.FirstSpellings();
  for (const auto &p : probes) {
    auto it = first.find(Lower(p));
    ASSERT_EQ(std::string(table.Find(p)), it == first.end() ? "" : it->second) << "lookup of " << p;
  }
}

TEST(NameTable, AnswersLikeAPlainSet) {
  struct Op {
    char kind;  // '+' add, '-' remove
    const char *name;
  };
  const Op ops[] = {
      {'+', "Readme"}, {'+', "README"},  {'+', "readme"},    {'+', "README"},  // an exact repeat changes nothing
      {'-', "README"}, {'-', "absent"},  {'+', "m1.msg"},    {'+', "M1.MSG"},
      {'-', "m1.msg"}, {'+', "a b.txt"}, {'+', "\xe9t\xe9"}, {'+', "\xc9T\xc9"},  // bytes past ASCII are not folded
      {'-', "readme"}, {'-', "Readme"},
  };
  const std::vector<std::string> probes = {"readme",    "REAdme", "m1.msg", "M1.msg", "A B.TXT", "\xe9T\xe9",
                                           "\xc9t\xc9", "absent", "",       "m1.ms",  "m1.msgx"};
  qx::NameTable table;
  Model model;
  for (const auto &op : ops) {
    SCOPED_TRACE(std::string(1, op.kind) + op.name);
    if (op.kind == '+') {
      EXPECT_TRUE(table.Add(op.name));
      model.names.insert(op.name);
    } else {
      table.Remove(op.name);
      model.names.erase(op.name);
    }
    ExpectSame(table, model, probes);
  }
}

TEST(NameTable, RefusesNamesNoDirectoryHolds) {
  const std::string with_nul("a\0b", 3);
  for (const std::string &bad : {std::string(), with_nul}) {
    qx::NameTable table;
    ASSERT_TRUE(table.Add("a"));
    EXPECT_FALSE(table.Add(bad));
    EXPECT_EQ(table.size(), 1u);
    EXPECT_EQ(table.Find("A"), "a");  // the NUL must not make "a\0b" a spelling of "a"
  }
}

// Many names in few case-folded groups, added and removed at random: long
// probe runs, removals from their middle, growth, shrinking and the text
// block rewritten many times over; every step checked against the model.
TEST(NameTable, RandomChurnKeepsEveryAnswer) {
  std::mt19937 rnd(21);
  auto spelling = [&](int group) {
    std::string base = "msg" + std::to_string(group) + ".txt";
    for (char &c : base)
      if (rnd() % 2) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return base;
  };
  qx::NameTable table;
  Model model;
  std::vector<std::string> probes;
  for (int g = 0; g < 400; ++g) probes.push_back("MSG" + std::to_string(g) + ".TXT");
  for (int round = 0; round < 6; ++round) {
    // Grow to about 3,000 names, then shrink to a handful: both directions.
    const bool growing = round % 2 == 0;
    for (int step = 0; step < 4000; ++step) {
      const int group = static_cast<int>(rnd() % 400);
      if (growing ? rnd() % 4 != 0 : rnd() % 4 == 0) {
        std::string name = spelling(group);
        ASSERT_TRUE(table.Add(name));
        model.names.insert(name);
      } else if (!model.names.empty()) {
        auto it = model.names.begin();
        std::advance(it, static_cast<long>(rnd() % model.names.size()));
        table.Remove(*it);
        model.names.erase(it);
      }
      if (step % 97 == 0) ExpectSame(table, model, probes);
    }
    ExpectSame(table, model, probes);
  }
  // Down to nothing: the memory goes back.
  for (const auto &n : std::set<std::string>(model.names)) table.Remove(n);
  EXPECT_EQ(table.size(), 0u);
  EXPECT_EQ(table.MemoryBytes(), 0u);
  EXPECT_EQ(table.Find("msg1.txt"), "");
}

}  // namespace
