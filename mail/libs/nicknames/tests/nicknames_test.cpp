// The alias library loaded by name as its callers load it: expansion of
// aliases from alias files written by hand, the alias file a person's edits
// in the dialogs leave behind (compared as text), and hostile files.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "nicknames.h"
#include "person.h"
#include "qx/window.h"

namespace {

namespace fs = std::filesystem;

struct Machine {
  Machine() {
    std::string base = (fs::temp_directory_path() / "qxnicknames-XXXXXX").string();
    root = mkdtemp(base.data());
    fs::create_directories(root + "/home");
    fs::create_directories(root + "/runtime");
    fs::create_directories(root + "/mail");
    setenv("QX_HOME", (root + "/home").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    unsetenv("DISPLAY");
    setenv("QX_DISPLAY", "headless", 1);
    setenv("QX_AUTOMATION", "0", 1);
  }
  ~Machine() { fs::remove_all(root); }
  std::string root;
};

Machine &TheMachine() {
  static Machine machine;
  return machine;
}

struct Box {
  std::string caption, text;
};
std::vector<Box> g_boxes;

int RecordBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
  g_boxes.push_back({caption ? caption : "", text ? text : ""});
  return IDOK;
}

struct Library {
  INITIALIZEALIAS initialize = nullptr;
  FREEUSERCONTEXT freeContext = nullptr;
  ALIASMANAGEMENT manage = nullptr;
  GETUSERALIASLIST pick = nullptr;
  CHECKALIAS check = nullptr;
  GETNEXTALIASEXPANSION next = nullptr;
};

Library &Nicknames() {
  static Library lib = [] {
    TheMachine();
    qx::SetMessageBoxAnswerHook(RecordBox);
    Library l;
    HMODULE module = LoadLibraryA(NICKNAMES_MODULE);
    if (!module) return l;
    auto proc = [&](const char *name) { return reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)); };
    l.initialize = reinterpret_cast<INITIALIZEALIAS>(proc("InitializeAlias"));
    l.freeContext = reinterpret_cast<FREEUSERCONTEXT>(proc("FreeUserContext"));
    l.manage = reinterpret_cast<ALIASMANAGEMENT>(proc("AliasManagement"));
    l.pick = reinterpret_cast<GETUSERALIASLIST>(proc("GetUserAliasList"));
    l.check = reinterpret_cast<CHECKALIAS>(proc("CheckAlias"));
    l.next = reinterpret_cast<GETNEXTALIASEXPANSION>(proc("GetNextAliasExpansion"));
    return l;
  }();
  return lib;
}

std::string AliasFile() { return TheMachine().root + "/mail/qxalias.ini"; }

void WriteAliasFile(const std::string &text) {
  std::ofstream out(AliasFile(), std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadAliasFile() {
  std::ifstream in(AliasFile(), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string TakeText(HGLOBAL block) {
  const char *p = static_cast<const char *>(GlobalLock(block));
  std::string text = p ? p : "";
  GlobalUnlock(block);
  GlobalFree(block);
  return text;
}

class Aliases : public ::testing::Test {
 protected:
  void SetUp() override {
    lib_ = Nicknames();
    ASSERT_TRUE(lib_.initialize && lib_.freeContext && lib_.manage && lib_.pick && lib_.check && lib_.next)
        << "nicknames.DLL must load and give all six functions";
    fs::remove(AliasFile());
    context_ = lib_.initialize((TheMachine().root + "/mail").c_str(), "pat");
    ASSERT_NE(context_, nullptr);
    g_boxes.clear();
  }
  void TearDown() override { lib_.freeContext(context_); }

  // Every member CheckAlias gives for name; "-" when name is no alias.
  std::string Expand(const std::string &name) {
    HGLOBAL expansion = lib_.check(context_, name.c_str());
    if (!expansion) return "-";
    std::string members;
    while (HGLOBAL member = lib_.next(context_, expansion)) members += (members.empty() ? "" : ",") + TakeText(member);
    // The expansion freed itself at its end.
    EXPECT_EQ(GlobalLock(expansion), nullptr);
    EXPECT_EQ(lib_.next(context_, expansion), nullptr);
    return members;
  }

  Library lib_;
  HGLOBAL context_ = nullptr;
};

TEST_F(Aliases, ExpandsAliasesOfAHandWrittenFile) {
  WriteAliasFile(
      "[QX-Aliases]\r\nteam=\r\nEmpty=\r\nlooping=\r\n\r\n"
      "[team]\r\nann@example.org=\r\nbob@example.org=\r\nx\xFFy@example.org=\r\n"
      "[EMPTY]\r\n"
      "[looping]\r\nlooping=\r\nteam=\r\n");
  const struct {
    const char *name, *members;
  } cases[] = {
      {"team", "ann@example.org,bob@example.org,x=y@example.org"},
      {"TEAM", "ann@example.org,bob@example.org,x=y@example.org"},
      {"team  \t", "ann@example.org,bob@example.org,x=y@example.org"},
      {"team:;", "ann@example.org,bob@example.org,x=y@example.org"},
      {"empty", ""},
      // An alias naming itself is expanded one level and ends; what is an
      // alias among the members is the caller's to expand or not.
      {"looping", "looping,team"},
      {"ann@example.org", "-"},
      {":;", "-"},
      {"", "-"},
      {"QX-Aliases", "-"},
  };
  for (const auto &c : cases) EXPECT_EQ(Expand(c.name), c.members) << "\"" << c.name << "\"";

  // A caller that stops early frees the expansion itself.
  HGLOBAL expansion = lib_.check(context_, "team");
  ASSERT_NE(expansion, nullptr);
  EXPECT_EQ(TakeText(lib_.next(context_, expansion)), "ann@example.org");
  EXPECT_EQ(GlobalFree(expansion), nullptr);
  EXPECT_EQ(lib_.next(context_, expansion), nullptr);
}

TEST_F(Aliases, ContextsNeedADirectoryAndAUser) {
  EXPECT_EQ(lib_.initialize((TheMachine().root + "/mail").c_str(), nullptr), nullptr);
  EXPECT_EQ(lib_.initialize((TheMachine().root + "/mail").c_str(), ""), nullptr);
  EXPECT_EQ(lib_.initialize(nullptr, "pat"), nullptr);
  EXPECT_EQ(lib_.check(nullptr, "team"), nullptr);
  EXPECT_EQ(lib_.next(nullptr, nullptr), nullptr);
  lib_.freeContext(nullptr);
  // No alias file yet: nothing is an alias.
  EXPECT_EQ(Expand("team"), "-");
}

// ---------------------------------------------------------------------------
// The dialogs, worked by a person on a timer
// ---------------------------------------------------------------------------

using namespace person;

// The entry dialog's edit, then OK.
Step Type(const std::string &text) { return Enter(106, text); }

Step Check(const std::function<void(HWND)> &check) { return check; }

std::vector<std::string> ListItems(HWND d, int id) {
  std::vector<std::string> items;
  HWND l = GetDlgItem(d, id);
  const LRESULT n = SendMessageA(l, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < n; ++i) {
    char text[256] = {};
    SendMessageA(l, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    items.emplace_back(text);
  }
  return items;
}

constexpr const char *kManage = "Alias Management";

TEST_F(Aliases, EditsInTheDialogLeaveTheFileAsExpected) {
  Person person;
  person.Then(kManage, Click(101))
      .Then("Mail Alias Entry", Type("my friends"))
      .Then(kManage, Then(Choose(100, "my_friends"), Click(104)))
      .Then("Alias Entry", Type("ann@example.org"))
      .Then(kManage, Click(104))
      .Then("Alias Entry", Type("Bob <b=ob@example.org>"))
      .Then(kManage, Click(104))
      .Then("Alias Entry", Type("carl@example.org"))
      .Then(kManage, Then(Choose(103, "carl@example.org"), Click(109)))
      .Then("Edit Alias", Type("cora@example.org"))
      .Then(kManage, Then(Choose(103, "ann@example.org"), Click(105)))
      .Then(kManage, Click(101))
      .Then("Mail Alias Entry", Type("old"))
      .Then(kManage, Check([](HWND d) {
              EXPECT_EQ(ListItems(d, 100), (std::vector<std::string>{"my_friends", "old"}));
              EXPECT_EQ(ListItems(d, 103), (std::vector<std::string>{"Bob <b=ob@example.org>", "cora@example.org"}));
              SendDlgItemMessageA(d, IDCANCEL, BM_CLICK, 0, 0);
            }));
  int32_t end = -1;
  WithPerson(person, [&] { end = lib_.manage(context_, nullptr); });
  EXPECT_EQ(end, 0) << "cancelled";
  EXPECT_TRUE(g_boxes.empty());
  EXPECT_EQ(ReadAliasFile(),
            "[QX-Aliases]\r\nmy_friends=\r\nold=\r\n[my_friends]\r\nBob <b\xFFob@example.org>=\r\ncora@example.org=\r\n"
            "[old]\r\n");
  EXPECT_EQ(Expand("my_friends"), "Bob <b=ob@example.org>,cora@example.org");
  EXPECT_EQ(Expand("old"), "");

  // Renaming keeps the members; deleting removes the alias and its section.
  Person second;
  second.Then(kManage, Then(Choose(100, "my_friends"), Click(108)))
      .Then("Edit Alias", Type("pals"))
      .Then(kManage, Then(Choose(100, "old"), Click(102)))
      .Then(kManage, Click(IDCANCEL));
  WithPerson(second, [&] { lib_.manage(context_, nullptr); });
  EXPECT_EQ(Expand("pals"), "Bob <b=ob@example.org>,cora@example.org");
  EXPECT_EQ(Expand("my_friends"), "-");
  EXPECT_EQ(Expand("old"), "-");
  EXPECT_EQ(ReadAliasFile().find("[old]"), std::string::npos);
  EXPECT_EQ(ReadAliasFile().find("[my_friends]"), std::string::npos);
}

TEST_F(Aliases, PickingAnAliasOrAMember) {
  WriteAliasFile("[QX-Aliases]\nteam=\nfriends=\n[team]\nann@example.org=\n[friends]\nx\xFFy@example.org=\n");
  const struct {
    int mode;
    const char *title;
  } modes[] = {{1, "Select <To:> Alias"}, {2, "Select <Cc:> Alias"}, {3, "Select <Bcc:> Alias"}};
  for (const auto &m : modes) {
    Person person;
    person.Then(m.title, Then(Choose(100, "team"), Click(IDOK)));
    HGLOBAL picked = nullptr;
    WithPerson(person, [&] { picked = lib_.pick(context_, m.mode, nullptr); });
    ASSERT_NE(picked, nullptr) << m.title;
    EXPECT_EQ(TakeText(picked), "team");
  }
  // A double click on a member picks the member, shown with its "=".
  Person member;
  member.Then("Select <Cc:> Alias", Then(Choose(100, "friends"), Choose(103, "x=y@example.org", LBN_DBLCLK)));
  HGLOBAL picked = nullptr;
  WithPerson(member, [&] { picked = lib_.pick(context_, 2, nullptr); });
  ASSERT_NE(picked, nullptr);
  EXPECT_EQ(TakeText(picked), "x=y@example.org");
  // OK with nothing selected and Cancel pick nothing; management reports 1
  // only when something was picked.
  Person none;
  none.Then("Select <To:> Alias", Click(IDOK));
  WithPerson(none, [&] { picked = lib_.pick(context_, 1, nullptr); });
  EXPECT_EQ(picked, nullptr);
  Person manage;
  manage.Then(kManage, Then(Choose(100, "team"), Click(IDOK)));
  int32_t end = -1;
  WithPerson(manage, [&] { end = lib_.manage(context_, nullptr); });
  EXPECT_EQ(end, 0);
}

TEST_F(Aliases, MissingSelectionsAndUnstorableNamesAreRefusedWithAMessage) {
  WriteAliasFile("[QX-Aliases]\nteam=\n[team]\nann@example.org=\n");
  const std::string before = ReadAliasFile();
  Person person;
  person.Then(kManage, Click(102))
      .Then(kManage, Click(108))
      .Then(kManage, Click(104))
      .Then(kManage, Click(109))
      .Then(kManage, Click(105))
      .Then(kManage, Click(101))
      .Then("Mail Alias Entry", Type("a=b"))
      .Then(kManage, Click(101))
      .Then("Mail Alias Entry", Type("[x"))
      .Then(kManage, Then(Choose(100, "team"), Click(104)))
      .Then("Alias Entry", Type(";comment"))
      .Then(kManage, Click(IDCANCEL));
  WithPerson(person, [&] { lib_.manage(context_, nullptr); });
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Delete Alias", "No Alias Selected to Delete"},
      {"Edit Alias", "No Alias Selected to Edit"},
      {"Alias Entry", "No Mail Alias Selected"},
      {"Edit Alias Entry", "No Alias Entry Selected to Edit"},
      {"Delete Alias Entry", "No Alias Entry Selected to Delete"},
  };
  ASSERT_EQ(g_boxes.size(), expected.size() + 3);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(g_boxes[i].caption, expected[i].first);
    EXPECT_EQ(g_boxes[i].text, expected[i].second);
  }
  for (size_t i = expected.size(); i < g_boxes.size(); ++i)
    EXPECT_NE(g_boxes[i].text.find("cannot"), std::string::npos) << g_boxes[i].text;
  EXPECT_EQ(ReadAliasFile(), before) << "refused edits must leave the file alone";
}

// ---------------------------------------------------------------------------
// Hostile alias files
// ---------------------------------------------------------------------------

TEST_F(Aliases, HostileFilesGiveBoundedResults) {
  const std::string longName(5000, 'n');
  std::string many = "[QX-Aliases]\nbig=\n[big]\n";
  for (int i = 0; i < 9000; ++i) many += "member" + std::to_string(i) + "@example.org=\n";
  const struct {
    const char *name;
    std::string file;
    const char *alias;
    size_t atMostMembers;
  } cases[] = {
      {"a 5000-character alias name", "[QX-Aliases]\n" + longName + "=\n[" + longName + "]\na@b=\n", "n", 0},
      {"members beyond the list bound", many, "big", 9000},
      {"binary garbage", std::string("\x00\xFF[\x01]\n\n\x7F=\xFE[QX-Aliases\n==\n", 25), "x", 0},
      {"a section header never closed", "[QX-Aliases\nteam=\n[team\na@b=\n", "team", 1},
      {"a very long member line", "[QX-Aliases]\nt=\n[t]\n" + std::string(100000, 'm') + "=\n", "t", 1},
  };
  for (const auto &c : cases) {
    WriteAliasFile(c.file);
    HGLOBAL expansion = lib_.check(context_, c.alias);
    size_t members = 0, bytes = 0;
    while (expansion) {
      HGLOBAL member = lib_.next(context_, expansion);
      if (!member) break;
      bytes += TakeText(member).size();
      ++members;
    }
    EXPECT_LE(members, c.atMostMembers) << c.name;
    EXPECT_LT(bytes, 60000u) << c.name << ": one alias's list stays within its bound";
  }
}

// An alias whose members are more than its list bound: every member given is
// one the file holds, whole (the last used to come cut where the list
// buffer ended, another address), and renaming it is refused with a message
// instead of moving only the members that fit and dropping the rest.
TEST_F(Aliases, AMemberListOverItsBoundIsNeverCutOrHalfMoved) {
  std::string file = "[QX-Aliases]\r\nbig=\r\n[big]\r\n";
  for (int i = 0; i < 9000; ++i) file += "member" + std::to_string(i) + "@example.org=\r\n";
  WriteAliasFile(file);
  HGLOBAL expansion = lib_.check(context_, "big");
  ASSERT_NE(expansion, nullptr);
  int members = 0;
  while (HGLOBAL member = lib_.next(context_, expansion)) {
    EXPECT_EQ(TakeText(member), "member" + std::to_string(members) + "@example.org");
    ++members;
  }
  EXPECT_GT(members, 2000) << "the members within the bound are given";

  Person person;
  person.Then(kManage, Then(Choose(100, "big"), Click(108)))
      .Then("Edit Alias", Type("huge"))
      .Then(kManage, Click(IDCANCEL));
  WithPerson(person, [&] { lib_.manage(context_, nullptr); });
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].caption, "Edit Alias");
  EXPECT_NE(g_boxes[0].text.find("more members than can be moved"), std::string::npos) << g_boxes[0].text;
  EXPECT_TRUE(ReadAliasFile() == file) << "a refused rename must leave the file alone";
}

}  // namespace
