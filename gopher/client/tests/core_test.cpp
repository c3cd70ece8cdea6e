// The gopher client's core without a network: the type table, menu lines
// (hostile ones included), the menu file, the end-line rule, the terminal's
// command line, received file names and CSO field lists and queries.
#include "gophercore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "qxtest/support.h"

namespace {

struct ItemDeleter {
  void operator()(GopherItem *item) const { FreeItemList(item); }
};
using ItemPtr = std::unique_ptr<GopherItem, ItemDeleter>;

ItemPtr Parse(std::string_view line) { return ItemPtr(ParseMenuLine(line)); }

// Writes the menu file through the layer, as a retrieval does.
bool WriteMenuFile(const std::string &bytes) {
  FileHandle f(CreateFileA(TempPath("MenuFile").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return f.ok() && WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

TEST(TypeTable, IndexNameAndActivation) {
  const std::string chars = "0123456789+TgIiShsM?";
  for (int i = 0; i < 20; ++i) EXPECT_EQ(TypeIndexOf(static_cast<unsigned char>(chars[i])), i) << chars[i];
  EXPECT_EQ(TypeIndexOf('x'), kTypeUnknown);
  EXPECT_EQ(TypeIndexOf(0), kTypeUnknown);
  EXPECT_EQ(TypeName(kTypeUnknown, 'x'), "Unknown type - \"x\"");
  EXPECT_EQ(TypeName(kTypeSearch, '7'), "Index Search node");
  EXPECT_EQ(TypePicture(kTypeServer), 18);
  EXPECT_TRUE(IsMenuType(kTypeMenu) && IsMenuType(kTypeSearch) && IsMenuType(kTypeServer));
  EXPECT_FALSE(IsMenuType(kTypeText));
}

// Menu lines, friendly and hostile: what the item holds and whether a click
// may act on it.
TEST(MenuLine, Table) {
  struct Case {
    std::string line;
    int typeIndex;
    std::string display, selector, host;
    int port;
    bool selectable;
  };
  const Case cases[] = {
      {"0About\t/about.txt\tgopher.example\t70\r", 0, "About", "/about.txt", "gopher.example", 70, true},
      {"1Docs\t/docs\th\t7070", 1, "Docs", "/docs", "h", 7070, true},
      // A fifth field (gopher+) is ignored.
      {"7Search\t/find\th\t70\t+", 7, "Search", "/find", "h", 70, true},
      {"iJust text\t\terror.host\t1", kTypeInfo, "Just text", "", "error.host", 1, false},
      {"xOdd\tsel\th\t70", kTypeUnknown, "Odd", "sel", "h", 70, true},
      // Missing fields: no host or port, nothing to connect to.
      {"0Only a display", 0, "Only a display", "", "", 0, false},
      {"0Two\tfields", 0, "Two", "fields", "", 0, false},
      {"", kTypeUnknown, "", "", "", 0, false},
      // Ports out of range are kept as read but make the item unselectable.
      {"0P\ts\th\t0", 0, "P", "s", "h", 0, false},
      {"0P\ts\th\t65536", 0, "P", "s", "h", 65536, false},
      {"0P\ts\th\t-70", 0, "P", "s", "h", -70, false},
      {"0P\ts\th\t99999999999999999999", 0, "P", "s", "h", 1000000, false},
      {"0P\ts\th\t 70x", 0, "P", "s", "h", 70, true},
  };
  for (const Case &c : cases) {
    ItemPtr item = Parse(c.line);
    ASSERT_TRUE(item) << c.line;
    EXPECT_EQ(item->typeIndex, c.typeIndex) << c.line;
    EXPECT_EQ(item->display, c.display) << c.line;
    EXPECT_EQ(item->selector, c.selector) << c.line;
    EXPECT_EQ(item->host, c.host) << c.line;
    EXPECT_EQ(item->port, c.port) << c.line;
    EXPECT_EQ((item->flags & kItemSelectable) != 0, c.selectable) << c.line;
  }
  // A line far beyond the bound keeps only the bound's worth.
  ItemPtr huge = Parse("0" + std::string(10000, 'd') + "\tsel\th\t70");
  ASSERT_TRUE(huge);
  EXPECT_EQ(huge->display.size(), kMaxMenuLine - 1);
  EXPECT_FALSE(huge->flags & kItemSelectable);
}

// A parsed item's texts live in its own allocation: a copy of the item, a
// field set afterwards (from a text of the same item too) and the fields left
// alone each stay readable after the original is freed (ASan sees any read of
// freed memory).
TEST(MenuLine, TextsOutliveTheirSource) {
  ItemPtr item = Parse("0Display text of the item\t/a/selector/longer/than/sixteen\thost.example\t70");
  ASSERT_TRUE(item);
  GopherItem copy = *item;
  copy.next = copy.firstChild = copy.parent = nullptr;
  item->display = item->selector;  // from its own allocation
  item->host = std::string("another.host.example.org");
  EXPECT_EQ(item->display, "/a/selector/longer/than/sixteen");
  EXPECT_EQ(item->selector, "/a/selector/longer/than/sixteen");
  item.reset();
  EXPECT_EQ(copy.display, "Display text of the item");
  EXPECT_EQ(copy.host, "host.example");
  EXPECT_STREQ(copy.selector.c_str(), "/a/selector/longer/than/sixteen");
  copy.display = copy.display;  // assigning a text to itself keeps it
  EXPECT_EQ(copy.display, "Display text of the item");
  EXPECT_EQ(copy.selector + "\r\n", "/a/selector/longer/than/sixteen\r\n");
}

class MenuFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TEMP", base.path().c_str(), 1);
    ASSERT_TRUE(MakePrivateTempDir());
  }
  void TearDown() override {
    FreeItemList(g_Roots);
    g_Roots = nullptr;
    RemovePrivateTempDir();
  }
  GopherItem *Root() {
    GopherItem *root = ParseMenuLine("1Root\t\th\t70");
    AppendRoot(root, 1);
    return root;
  }
  std::vector<GopherItem *> Children(GopherItem *parent) {
    std::vector<GopherItem *> out;
    for (GopherItem *c = parent->firstChild; c; c = c->next) out.push_back(c);
    return out;
  }
  qxtest::TempDir base{"qx-gopher"};
};

TEST_F(MenuFileTest, HostileMenuStaysBoundedAndInLine) {
  std::string menu;
  menu += "0First\t/a\th\t70\r\n";
  menu += "0" + std::string(10000, 'L') + "\t/long\th\t70\r\n";  // one item, cut, not several
  menu += std::string("0Nul\0hidden\t/x\th\t70\r\n", 22);        // the NUL ends what is read of it
  menu += "\r\n";                                                // a blank line is an item, not selectable
  menu += "9Bin\t/b\th\t70\r\n";
  menu += ".\n";  // an end line without CR
  menu += "0Tail without line feed\t/t\th\t70";
  ASSERT_TRUE(WriteMenuFile(menu));
  GopherItem *root = Root();
  ASSERT_EQ(LoadMenuFile(root, 1), 6);
  auto kids = Children(root);
  ASSERT_EQ(kids.size(), 6u);
  EXPECT_EQ(kids[0]->display, "First");
  EXPECT_EQ(kids[1]->display.size(), kMaxMenuLine - 1);
  EXPECT_EQ(kids[2]->display, "Nul");
  EXPECT_EQ(kids[2]->selector, "");
  EXPECT_FALSE(kids[3]->flags & kItemSelectable);
  EXPECT_EQ(kids[4]->typeIndex, kTypeBinary9);
  EXPECT_EQ(kids[5]->display, "Tail without line feed");
  for (GopherItem *k : kids) {
    EXPECT_EQ(k->parent, root);
    EXPECT_EQ(k->depth, 2);
  }
  // Collapsing keeps the children; dropping them frees them (ASan sees any use after).
  CollapseItem(root, 0);
  EXPECT_EQ(CountChildren(root), 6);
  CollapseItem(root, 1);
  EXPECT_EQ(root->firstChild, nullptr);
}

// The menu file is read in blocks of 64 KiB: lines of every length, overlong
// ones and ones with a NUL, fall on and across the block edges, each still
// one item with exactly what a line in the middle of a block would give.
TEST_F(MenuFileTest, LinesAcrossReadBlocksKeepTheirBounds) {
  struct Expected {
    std::string display, selector;
  };
  std::string menu;
  std::vector<Expected> expected;
  for (int i = 0; menu.size() < 5 * 65536; ++i) {
    const size_t length = static_cast<size_t>((i * 977) % 4500);  // some past the line bound
    std::string display(length, static_cast<char>('a' + i % 26));
    const std::string selector = "/s" + std::to_string(i);
    std::string line = "0" + display + "\t" + selector + "\th\t70\r\n";
    // What is read of the line ends at a NUL or the bound, whichever comes first.
    size_t cut = kMaxMenuLine;
    if (i % 7 == 3 && length > 10) {
      line[1 + length / 2] = '\0';
      cut = std::min(cut, 1 + length / 2);
    }
    menu += line;
    const std::string kept = line.substr(0, cut);
    const size_t tab = kept.find('\t');
    if (tab == std::string::npos)
      expected.push_back({kept.substr(1), ""});
    else
      expected.push_back({kept.substr(1, tab - 1), kept.substr(tab + 1, kept.find('\t', tab + 1) - tab - 1)});
  }
  ASSERT_TRUE(WriteMenuFile(menu));
  GopherItem *root = Root();
  ASSERT_EQ(LoadMenuFile(root, 1), static_cast<int>(expected.size()));
  auto kids = Children(root);
  ASSERT_EQ(kids.size(), expected.size());
  for (size_t i = 0; i < kids.size(); ++i) {
    ASSERT_EQ(kids[i]->display, expected[i].display) << "item " << i;
    ASSERT_EQ(kids[i]->selector, expected[i].selector) << "item " << i;
  }
}

TEST_F(MenuFileTest, LargeMenuStreamsIntoTheTree) {
  std::string menu;
  for (int i = 0; i < 20000; ++i) menu += "0Item " + std::to_string(i) + "\t/i" + std::to_string(i) + "\th\t70\r\n";
  menu += ".\r\n";
  ASSERT_TRUE(WriteMenuFile(menu));
  GopherItem *root = Root();
  ASSERT_EQ(LoadMenuFile(root, 1), 20000);
  auto kids = Children(root);
  EXPECT_EQ(kids.back()->display, "Item 19999");
  EXPECT_EQ(kids.back()->selector, "/i19999");
}

// The items of a menu are carved from shared blocks: freed one by one in any
// order, every item still held stays readable (ASan sees a block given back
// early) and the last one gives its block back (LSan sees one kept); a copy of
// an item belongs to no block and outlives the menu.
TEST_F(MenuFileTest, ItemsOfAMenuAreFreedInAnyOrder) {
  std::string menu;
  for (int i = 0; i < 3000; ++i) menu += "0Item " + std::to_string(i) + "\t/i" + std::to_string(i) + "\th\t70\r\n";
  ASSERT_TRUE(WriteMenuFile(menu));
  GopherItem *first = Root();
  ASSERT_EQ(LoadMenuFile(first, 1), 3000);
  GopherItem *second = ParseMenuLine("1Second\t\th\t70");
  AppendRoot(second, 0);
  ASSERT_EQ(LoadMenuFile(second, 1), 3000);
  auto kids = Children(first);
  first->firstChild = nullptr;
  GopherItem copy = *kids[1500];
  copy.next = copy.firstChild = copy.parent = nullptr;
  EXPECT_EQ(copy.origin.block(), nullptr);
  // Odd rows from the end, then even rows from the start: blocks empty out of order.
  for (size_t i = kids.size() - 1; i < kids.size(); i -= 2) delete kids[i];
  EXPECT_EQ(kids[0]->display, "Item 0");
  EXPECT_EQ(kids[2998]->selector, "/i2998");
  for (size_t i = 0; i < kids.size(); i += 2) delete kids[i];
  EXPECT_EQ(copy.display, "Item 1500");
  CollapseItem(second, 1);
  EXPECT_EQ(second->firstChild, nullptr);
  ASSERT_EQ(LoadMenuFile(second, 1), 3000);
  EXPECT_EQ(Children(second).back()->display, "Item 2999");
}

TEST_F(MenuFileTest, DeletingRootsAndSearchCollapse) {
  GopherItem *a = Root();
  GopherItem *b = ParseMenuLine("7Find\t/f\th\t70");
  AppendRoot(b, 0);
  GopherItem *c = ParseMenuLine("1C\t/c\th\t70");
  AppendRoot(c, 0);
  GopherItem *cursor = b;
  LinkItem(&cursor, 1, ParseMenuLine("0Hit\t/h\th\t70"));
  ASSERT_EQ(CountChildren(b), 1);
  CollapseItem(b, 0);  // a search asks again: its answer goes
  EXPECT_EQ(b->firstChild, nullptr);
  DeleteRoot(b);
  EXPECT_EQ(g_Roots, a);
  EXPECT_EQ(a->next, c);
  DeleteRoot(a);
  EXPECT_EQ(g_Roots, c);
}

TEST(Terminator, Table) {
  struct Case {
    std::string in;
    size_t kept;
  };
  const Case cases[] = {
      {"", 0},          {".\r", 2},          {".\r\n", 0},   {"x.\r\n", 1},
      {"\r\n.\r\n", 2}, {"abc\r\n.\r\n", 5}, {"abc\r\n", 5}, {"abc.\r\n", 6},
  };
  for (const Case &c : cases) EXPECT_EQ(TerminatorCut(c.in), c.kept) << c.in;
}

TEST(TerminalCommand, TemplatesAndHostileItems) {
  ItemPtr telnet = Parse("8Library\tguest\tlib.example\t2323");
  std::string command;
  ASSERT_TRUE(ExpandCommandTemplate(*telnet, "guest", &command));
  EXPECT_EQ(command, "vtconsole.EXE lib.example /p=2323 /l=guest /once");
  ItemPtr ibm = Parse("TMainframe\t\tmvs.example\t23");
  ASSERT_TRUE(ExpandCommandTemplate(*ibm, "", &command));
  EXPECT_EQ(command, "vtconsole.EXE /I /T=IBM-3278-2 mvs.example /p=23 /once");

  const std::string saved = g_UserTelnet;
  g_UserTelnet = "term %H:%P as %U %q 100%";
  ASSERT_TRUE(ExpandCommandTemplate(*telnet, "me", &command));
  EXPECT_EQ(command, "term lib.example:2323 as me %q 100%");
  g_UserTelnet = saved;

  struct Hostile {
    std::string host, user;
  };
  const Hostile refused[] = {
      {"host; rm -rf /", ""}, {"-debug host", ""}, {"/I", ""},          {"", ""},
      {"h\"q", ""},           {"ok", "x /debug"},  {"ok", "-l"},        {"ok", "a\"b"},
      {"ok", "a\tb"},         {"ok", "x/debug"},   {"ok\r\nx", "user"}, {std::string(300, 'h'), ""},
  };
  for (const Hostile &h : refused) {
    GopherItem item;
    item.typeIndex = kTypeTelnet;
    item.host = h.host;
    item.port = 23;
    EXPECT_FALSE(ExpandCommandTemplate(item, h.user, &command)) << h.host << " / " << h.user;
    EXPECT_TRUE(command.empty());
  }
}

TEST(ReceivedFiles, PictureRuleNamesAndOpening) {
  struct Pic {
    char type;
    std::string display, selector;
    bool picture;
  };
  const Pic pics[] = {
      {'I', "cat.gif", "/x", true},          {'I', "cat.GIF (12k)", "/x", true}, {'I', "cat.gifs", "/x", false},
      {'I', "cat.gifs", "/p/cat.GiF", true}, {'9', "photo", "/p.gif", true},     {'5', "zip", "/a.zip", false},
      {'s', "tune.gif", "/t", true},         {'g', "anything", "/a", true},      {'0', "x.gif", "/x.gif", false},
  };
  for (const Pic &p : pics) {
    GopherItem item;
    item.typeChar = static_cast<uint8_t>(p.type);
    item.typeIndex = static_cast<uint8_t>(TypeIndexOf(static_cast<unsigned char>(p.type)));
    item.display = p.display;
    item.selector = p.selector;
    EXPECT_EQ(ActivationOf(item) == kActPicture, p.picture) << p.type << " " << p.display << " " << p.selector;
  }

  EXPECT_EQ(ProposedFileName("/pub/dir/file.tar.gz"), "file.tar.gz");
  EXPECT_EQ(ProposedFileName("DISK$USER:[DIR]README.TXT"), "README.TXT");
  EXPECT_EQ(ProposedFileName("a\\b\\..\\..\\evil.exe"), "evil.exe");
  EXPECT_EQ(ProposedFileName("/x/.bashrc"), "bashrc");
  EXPECT_EQ(ProposedFileName("/x/../"), "");
  EXPECT_EQ(ProposedFileName("/x/a b;c|d"), "abcd");
  // A long name keeps its last 128 characters, never a leading dot.
  EXPECT_EQ(ProposedFileName("/x/" + std::string(200, 'a') + ".profile" + std::string(120, 'b')),
            "profile" + std::string(120, 'b'));
  EXPECT_EQ(ProposedFileName(std::string(300, 'c')), std::string(128, 'c'));

  struct Default {
    char type;
    std::string proposed, extension;
    int filter;
  };
  const Default defaults[] = {{'9', "tool.exe", "exe", 1}, {'9', "tool", "BIN", 5}, {'s', "", "AU", 3},
                              {'I', "", "GIF", 2},         {'6', "", "UUE", 4},     {'5', "", "ZIP", 5},
                              {'4', "", "HQX", 5},         {'h', "", "TXT", 1}};
  for (const Default &d : defaults) {
    GopherItem item;
    item.typeChar = static_cast<uint8_t>(d.type);
    std::string extension;
    int filter = 0;
    SaveDefaults(item, d.proposed, &extension, &filter);
    EXPECT_EQ(extension, d.extension) << d.type;
    EXPECT_EQ(filter, d.filter) << d.type;
  }

  for (const char *never : {"C:\\x\\tool.EXE", "a.com", "b.Bat", "run.desktop", "x.sh", "y.jar"})
    EXPECT_FALSE(MayOpenSavedFile(never)) << never;
  for (const char *ok : {"notes.txt", "pic.gif", "archive.zip", "page.html"}) EXPECT_TRUE(MayOpenSavedFile(ok)) << ok;
}

TEST(Cso, FieldListFormAndQueries) {
  // A qi "fields" reply: properties line, then description lines of the same
  // field; a banner and a field with two descriptions do not shift the rest.
  const char *reply[] = {
      "100:Ph server here",
      "-200:1:alias:max 32 Indexed Lookup Public Default Change",
      "-200:1:alias:Unique name.",
      "-200:2:name:max 256 Indexed Lookup Public Default",
      "-200:2:name:Full name.",
      "-200:2:name:Second description line.",
      "-200:3:email:max 128 Public Default Change\r",
      "-200:3:email:Mail address.",
      "-200:4:password:max 32 Change",
      "-200:4:password:Secret.",
      "-200:5:phone:max 32 Lookup Public",
      "-200:5:phone:Telephone.",
      "200:Ok.",
  };
  std::string fields, last;
  for (const char *line : reply) CsoExamineFieldLine(line, &last, &fields);
  EXPECT_EQ(fields, "3alias:3name:0email:1phone:");

  CSO_FORM form = CsoFormOf(fields);
  EXPECT_EQ(form.keys, (std::vector<std::string>{"alias", "name", "phone"}));
  EXPECT_EQ(form.keySelection, 1);
  EXPECT_EQ(form.returnRows, (std::vector<std::string>{"All", "Default", "alias", "name", "email", "phone"}));
  EXPECT_EQ(CsoFormOf("").returnRows, (std::vector<std::string>{"All", "Default"}));

  const auto &rows = form.returnRows;
  struct Query {
    std::string value;
    std::vector<bool> selected;
    std::string expected;
  };
  const std::string end = "\r\nquit\r\nexit\r\nbye\r\n";
  const Query queries[] = {
      {"john smith", {}, "query name=john name=smith" + end},
      {"john", {false, true}, "query name=john" + end},
      {"john", {true, true, true}, "query name=john return all" + end},
      {"john", {false, true, false, false, true}, "query name=john" + end},
      {"john", {false, false, false, false, true, true}, "query name=john return email phone" + end},
      {"  a\r\nquit  b ", {}, "query name=a name=quit name=b" + end},
  };
  for (const Query &q : queries) EXPECT_EQ(BuildCsoQuery("name", q.value, rows, q.selected), q.expected) << q.value;

  // A list that would pass its bound keeps the fields that fit.
  std::string many, lastNumber;
  for (int i = 0; i < 400; ++i)
    CsoExamineFieldLine("-200:" + std::to_string(i) + ":field" + std::to_string(i) + ":Lookup Public", &lastNumber,
                        &many);
  EXPECT_LE(many.size(), kMaxCsoFields);
  EXPECT_EQ(many.back(), ':');
}

TEST(WinsockErrors, TextsNameTheHost) {
  EXPECT_EQ(WinsockErrorText(10061, "h.example"),
            "The remote host (h.example) has refused to accept a connection from you.");
  EXPECT_EQ(WinsockErrorText(10004, "h"), "WSAEINTR - Blocking call was cancelled");
  EXPECT_EQ(WinsockErrorText(12345, "h"), "Unknown Winsock error - 12345");
}

}  // namespace
