// Bookmarks, checkpoints and the recent-servers list of the gopher client,
// without a network: checkpoint files written and read back (the text
// compared), damaged checkpoint files and bookmark entries as tables (each
// reported and left byte for byte as it was, the tree untouched), the
// checkpoint file names, names refused, and the recent-servers list.
#include "bookmarks.h"
#include "settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "qxtest/support.h"
#include "recorder.h"

namespace {

bool FileExists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

std::string WindowsPath(const std::string &host) {
  std::string path = "Z:" + host;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// Depth, type, display, selector, host, port and flags of every item, depth first.
std::string Describe(const GopherItem *first) {
  std::string out;
  std::vector<const GopherItem *> stack;
  for (const GopherItem *item = first; item || !stack.empty();) {
    if (!item) {
      item = stack.back()->next;
      stack.pop_back();
      continue;
    }
    char line[1200];
    snprintf(line, sizeof line, "%*s%c %s|%s|%s|%d|%d%s\n", 2 * (item->depth - 1), "", item->typeChar,
             item->display.c_str(), item->selector.c_str(), item->host.c_str(), item->port, item->flags,
             item->parent && item->depth != item->parent->depth + 1 ? " BAD DEPTH" : "");
    out += line;
    if (item->firstChild) {
      stack.push_back(item);
      item = item->firstChild;
    } else {
      item = item->next;
    }
  }
  return out;
}

GopherItem *Item(const char *line, int flags) {
  GopherItem *item = ParseMenuLine(line);
  item->flags = flags;
  return item;
}

void AddChildren(GopherItem *parent, std::initializer_list<GopherItem *> children) {
  GopherItem *cursor = parent;
  int asChild = 1;
  for (GopherItem *child : children) asChild = LinkItem(&cursor, asChild, child);
}

class BookmarkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetGopherUi(&ui);
    ini = WindowsPath(dir / "BURROWVIEW.INI");
  }
  void TearDown() override {
    SetGopherUi(nullptr);
    FreeItemList(g_Roots);
    g_Roots = nullptr;
  }
  // A server with an expanded menu (a text, an unknown type on port 7070, a
  // display with a double quote), a collapsed menu that keeps its children,
  // an information line, and a second root.
  void BuildTree() {
    GopherItem *root = Item("Shome\t\tgopher.example\t70", kItemSelectable | kItemExpanded);
    AppendRoot(root, 1);
    GopherItem *docs = Item("1Documents\t/docs\tgopher.example\t70", kItemSelectable | kItemExpanded);
    GopherItem *closed = Item("1Closed menu\t/closed\tgopher.example\t70", kItemSelectable);
    AddChildren(root, {docs, closed, Item("iJust words\t\t\t0", 0)});
    AddChildren(docs, {Item("0The \"big\" manual\t/docs/manual.txt\tgopher.example\t70", kItemSelectable),
                       Item("xOdd thing\t/odd\tother.example\t7070", kItemSelectable)});
    AddChildren(closed, {Item("0Hidden\t/closed/hidden\tgopher.example\t70", kItemSelectable)});
    AppendRoot(Item("Sother.example\t\tother.example\t7070", kItemSelectable), 0);
  }
  std::string CheckpointFile(const std::string &name) {
    char path[600] = {};
    GetPrivateProfileStringA(kCheckpointSection, name.c_str(), "", path, sizeof path, ini.c_str());
    std::string host = path;
    host = host.substr(2);
    std::replace(host.begin(), host.end(), '\\', '/');
    return host;
  }
  // A checkpoint entry naming a file of this text.
  std::string PlantCheckpoint(const std::string &name, const std::string &text) {
    const std::string file = dir / "QXCP0100.000";
    EXPECT_TRUE(qxtest::WriteFile(file, text));
    EXPECT_TRUE(WritePrivateProfileStringA(kCheckpointSection, name.c_str(), WindowsPath(file).c_str(), ini.c_str()));
    return file;
  }

  qxtest::TempDir dir{"qx-gopher-bm"};
  std::string ini;
  gophertest::RecorderUi ui;
};

TEST_F(BookmarkTest, CheckpointWritesTheVisibleTreeAndReadsItBack) {
  BuildTree();
  const std::string before = Describe(g_Roots);
  ASSERT_EQ(SaveCheckpoint(ini.c_str(), "work"), 1) << ui.BoxTexts();
  EXPECT_EQ(CheckpointFile("work"), dir / "QXCP0000.000");
  // Children of the collapsed menu are not written, nor linked to; a double
  // quote is kept as the byte 255; the unknown type keeps its character.
  EXPECT_EQ(qxtest::ReadFile(dir / "QXCP0000.000"),
            "1=15F3B7C2H\"gopher.example\"D\"home\"\n"
            "2=1F3A1B5C3H\"gopher.example\"D\"Documents\"K\"/docs\"\n"
            "3=0A2B4H\"gopher.example\"D\"The \xFF"
            "big\xFF manual\"K\"/docs/manual.txt\"\n"
            "4=19\"x\"P7070A2H\"other.example\"D\"Odd thing\"K\"/odd\"\n"
            "5=1A1B6H\"gopher.example\"D\"Closed menu\"K\"/closed\"\n"
            "6=14P0F0A1H\"\"D\"Just words\"\n"
            "7=15P7070H\"other.example\"D\"other.example\"\n");

  FreeItemList(g_Roots);
  g_Roots = nullptr;
  std::string problem;
  ASSERT_EQ(LoadCheckpoint(ini.c_str(), "work", 1, &problem), kCheckpointLoaded) << problem;
  std::string expected = before;
  const size_t hidden = expected.find("    0 Hidden");
  ASSERT_NE(hidden, std::string::npos);
  expected.erase(hidden, expected.find('\n', hidden) + 1 - hidden);
  EXPECT_EQ(Describe(g_Roots), expected);

  // Clear-first off: the checkpoint's roots follow the tree's.
  ASSERT_EQ(LoadCheckpoint(ini.c_str(), "work", 0, &problem), kCheckpointLoaded) << problem;
  EXPECT_EQ(Describe(g_Roots), expected + expected);
  // Clear-first on: they replace it.
  ASSERT_EQ(LoadCheckpoint(ini.c_str(), "work", 1, &problem), kCheckpointLoaded) << problem;
  EXPECT_EQ(Describe(g_Roots), expected);

  // Saving again under the name writes a new file and drops the old one.
  ASSERT_EQ(SaveCheckpoint(ini.c_str(), "work"), 1) << ui.BoxTexts();
  EXPECT_EQ(CheckpointFile("work"), dir / "QXCP0000.001");
  EXPECT_FALSE(FileExists(dir / "QXCP0000.000"));
  EXPECT_EQ(ListCheckpoints(ini.c_str()), std::vector<std::string>{"work"});
  ASSERT_TRUE(RemoveCheckpoint(ini.c_str(), "work"));
  EXPECT_FALSE(FileExists(dir / "QXCP0000.001"));
  EXPECT_TRUE(ListCheckpoints(ini.c_str()).empty());
  EXPECT_TRUE(ui.boxes.empty()) << ui.BoxTexts();
}

TEST_F(BookmarkTest, CheckpointFileNamesCountOnFromTheFirstFree) {
  EXPECT_EQ(NewCheckpointPath("BURROWVIEW.INI"), "");
  for (int i = 0; i < 1000; ++i) {
    char name[32];
    snprintf(name, sizeof name, "QXCP0000.%03d", i);
    ASSERT_TRUE(qxtest::WriteFile(dir / name, ""));
  }
  EXPECT_EQ(NewCheckpointPath(ini.c_str()), WindowsPath(dir / "QXCP0001.000"));
  ASSERT_EQ(remove((dir / "QXCP0000.500").c_str()), 0);
  EXPECT_EQ(NewCheckpointPath(ini.c_str()), WindowsPath(dir / "QXCP0000.500"));
}

TEST_F(BookmarkTest, ACheckpointThatCannotBeCreatedIsReportedAndNotRecorded) {
  BuildTree();
  const std::string missing = WindowsPath(dir / "gone/BURROWVIEW.INI");
  EXPECT_EQ(SaveCheckpoint(missing.c_str(), "work"), 0);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].text.find("Unable to create a file for the checkpoint\n\n" +
                                  WindowsPath(dir / "gone/QXCP0000.000") + " could not be created"),
            std::string::npos)
      << ui.BoxTexts();
  EXPECT_TRUE(ListCheckpoints(missing.c_str()).empty());
}

TEST_F(BookmarkTest, AnItemTooLongForALineStopsTheCheckpointThere) {
  AppendRoot(Item("Sfirst\t\thost.example\t70", kItemSelectable), 1);
  const std::string longDisplay(600, 'd'), longSelector(600, 's');
  std::string line = "0" + longDisplay + "\t/short\thost.example\t70";
  AppendRoot(Item(line.c_str(), kItemSelectable), 0);
  line = "0long\t" + longSelector + "\thost.example\t70";
  AppendRoot(Item(line.c_str(), kItemSelectable), 0);
  AppendRoot(Item("Slast\t\thost.example\t70", kItemSelectable), 0);
  EXPECT_EQ(SaveCheckpoint(ini.c_str(), "long"), 0);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_NE(ui.boxes[0].text.find("Checkpoint file full; only 2 of 4 nodes entered"), std::string::npos)
      << ui.BoxTexts();
  const std::string text = qxtest::ReadFile(CheckpointFile("long"));
  // The long display gave way: its line is exactly as long as a line may be.
  const size_t second = text.find('\n') + 1;
  EXPECT_EQ(text.find('\n', second) + 1 - second, kMaxCheckpointLine);
  // What was written loads: the link to the third item names no line.
  std::string problem;
  ASSERT_EQ(LoadCheckpoint(ini.c_str(), "long", 1, &problem), kCheckpointLoaded) << problem;
  const size_t kept = kMaxCheckpointLine - strlen("2=0B3H\"host.example\"D\"\"K\"/short\"\n");
  EXPECT_EQ(Describe(g_Roots),
            "S first||host.example|70|2\n0 " + std::string(kept, 'd') + "|/short|host.example|70|2\n");
}

// The byte 255 stands for a double quote in a checkpoint line, so a selector
// or host that holds it would come back as another selector or host: the
// checkpoint stops before such an item and says why, as for a selector too
// long, and what was written loads with every selector as it was.
TEST_F(BookmarkTest, AnItemWithTheByte255InItsSelectorOrHostStopsTheCheckpointThere) {
  const struct {
    const char *what;
    const char *line;
  } cases[] = {
      {"a selector", "0Caf\xE9 menu\t/caf\xFF\thost.example\t70"},
      {"a host", "0Menu\t/menu\thost\xFF.example\t70"},
  };
  for (const auto &c : cases) {
    FreeItemList(g_Roots);
    g_Roots = nullptr;
    ui.boxes.clear();
    AppendRoot(Item("Sfirst\t\thost.example\t70", kItemSelectable), 1);
    AppendRoot(Item(c.line, kItemSelectable), 0);
    AppendRoot(Item("Slast\t\thost.example\t70", kItemSelectable), 0);
    EXPECT_EQ(SaveCheckpoint(ini.c_str(), "bytes"), 0) << c.what;
    ASSERT_EQ(ui.boxes.size(), 1u) << c.what;
    EXPECT_NE(ui.boxes[0].text.find("has the byte 255 in its selector or host"), std::string::npos)
        << c.what << ": " << ui.BoxTexts();
    EXPECT_NE(ui.boxes[0].text.find("only 1 of 3 nodes entered"), std::string::npos) << c.what << ": " << ui.BoxTexts();
    std::string problem;
    ASSERT_EQ(LoadCheckpoint(ini.c_str(), "bytes", 1, &problem), kCheckpointLoaded) << c.what << ": " << problem;
    EXPECT_EQ(Describe(g_Roots), "S first||host.example|70|2\n") << c.what;
  }
}

struct DamagedCase {
  const char *what;
  std::string text;
  const char *reported;
};

TEST_F(BookmarkTest, DamagedCheckpointsAreReportedAndKept) {
  std::string deep;
  for (int i = 1; i <= kMaxCheckpointDepth + 1; ++i)
    deep += std::to_string(i) + "=1F3" + (i > 1 ? "A" + std::to_string(i - 1) : "") + "C" + std::to_string(i + 1) +
            "H\"h\"\n";
  const DamagedCase cases[] = {
      {"a line of 600 characters", "1=0H\"h\"D\"" + std::string(600, 'x') + "\"\n", "Line 1 is longer than 511"},
      {"no host", "1=0D\"x\"\n", "Line 1 has no host"},
      {"a negative port", "1=0P-1H\"h\"\n", "Line 1 has a port that is not a number from 0 to 65535"},
      {"port 70000", "1=0P70000H\"h\"\n", "port that is not a number"},
      {"flags 9", "1=0F9H\"h\"\n", "flags that are not"},
      {"type index 25", "1=25H\"h\"\n", "no type index from 0 to 19"},
      {"unknown type without its character", "1=19H\"h\"\n", "no quoted type character"},
      {"an unclosed quote", "1=0H\"h\n", "no closed double-quoted text after H"},
      {"garbage",
       "\x7f"
       "ELF\x01\x02\x03garbage\n",
       "Line 1 does not begin with an item number"},
      {"a stray letter", "1=0Z5H\"h\"\n", "holds 'Z' where a field letter"},
      {"a field twice", "1=0H\"h\"H\"i\"\n", "gives the field H twice"},
      {"a number of ten digits", "1=0B1234567890H\"h\"\n", "no item number after B"},
      {"two lines with one number", "1=0B2H\"h\"\n2=0H\"h\"\n2=0H\"h\"\n", "Lines 2 and 3 both carry"},
      {"a next link backwards (a cycle)", "1=0B2H\"h\"\n2=0B1H\"h\"\n",
       "Line 2 links to item 1, which does not follow"},
      {"a child link to itself", "1=1F3C1H\"h\"\n", "Line 1 links to item 1"},
      {"two links to one item", "1=1F3B2C2H\"h\"\n2=0A1H\"h\"\n", "another line links to already"},
      {"a line nothing links to", "1=0H\"h\"\n2=0H\"h\"\n", "Line 2 is not linked into the tree"},
      {"a parent that does not hold it", "1=1F3B3C2H\"h\"\n2=0A3H\"h\"\n3=0H\"h\"\n",
       "Line 2 names item 3 as its parent"},
      {"a tree deeper than a person's", deep, "deeper than 1000 levels"},
      {"a file of 9 MB", std::string(9u << 20, '\n'), "larger than 8 MB"},
  };
  for (const DamagedCase &c : cases) {
    SCOPED_TRACE(c.what);
    AppendRoot(Item("Skept\t\tkept.example\t70", kItemSelectable), 1);
    const std::string file = PlantCheckpoint("bad", c.text);
    const std::string iniBefore = qxtest::ReadFile(dir / "BURROWVIEW.INI");
    ui.boxes.clear();
    EXPECT_EQ(LoadCheckpointCommand(ini.c_str(), "bad", 1, "No Home Checkpoint specified"), 0);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_NE(ui.boxes[0].text.find("Error loading Checkpoint \"bad\""), std::string::npos) << ui.BoxTexts();
    EXPECT_NE(ui.boxes[0].text.find(c.reported), std::string::npos) << ui.BoxTexts();
    EXPECT_NE(ui.boxes[0].text.find("The file is left as it is"), std::string::npos) << ui.BoxTexts();
    EXPECT_EQ(ui.boxes[0].caption, "burrowview Error");
    EXPECT_EQ(Describe(g_Roots), "S kept||kept.example|70|2\n");
    EXPECT_TRUE(qxtest::ReadFile(file) == c.text) << "the file changed";
    EXPECT_EQ(qxtest::ReadFile(dir / "BURROWVIEW.INI"), iniBefore);
  }
}

TEST_F(BookmarkTest, FilesALoadAcceptsAndCheckpointsThatCannotBeRead) {
  // Lines ended CR LF, a blank last line, a link to a line that was never
  // written, and the children of a collapsed item named by an older writer.
  PlantCheckpoint("ok", "1=15F3C2H\"h\"\r\n2=1A1B9C5H\"h\"D\"m\"\r\n\r\n");
  std::string problem;
  ASSERT_EQ(LoadCheckpoint(ini.c_str(), "ok", 1, &problem), kCheckpointLoaded) << problem;
  EXPECT_EQ(Describe(g_Roots), "S ||h|70|3\n  1 m||h|70|2\n");

  EXPECT_EQ(LoadCheckpointCommand(ini.c_str(), "", 1, "No Home Checkpoint specified"), 0);
  EXPECT_EQ(LoadCheckpointCommand(ini.c_str(), "nothing", 1, "No Home Checkpoint specified"), 0);
  ASSERT_TRUE(
      WritePrivateProfileStringA(kCheckpointSection, "gone", WindowsPath(dir / "QXCP0042.000").c_str(), ini.c_str()));
  EXPECT_EQ(LoadCheckpointCommand(ini.c_str(), "gone", 1, "No Home Checkpoint specified"), 0);
  ASSERT_EQ(ui.boxes.size(), 3u);
  EXPECT_EQ(ui.boxes[0].text, "No Home Checkpoint specified");
  EXPECT_NE(ui.boxes[1].text.find("Error loading Checkpoint \"nothing\"\n\nThere is no checkpoint of that name"),
            std::string::npos)
      << ui.BoxTexts();
  EXPECT_NE(ui.boxes[2].text.find("QXCP0042.000 cannot be opened"), std::string::npos) << ui.BoxTexts();
  EXPECT_EQ(Describe(g_Roots), "S ||h|70|3\n  1 m||h|70|2\n");

  // Remove deletes only a file named like a checkpoint file.
  const std::string precious = dir / "precious.txt";
  ASSERT_TRUE(qxtest::WriteFile(precious, "keep me"));
  ASSERT_TRUE(WritePrivateProfileStringA(kCheckpointSection, "odd", WindowsPath(precious).c_str(), ini.c_str()));
  ui.boxes.clear();
  EXPECT_TRUE(RemoveCheckpoint(ini.c_str(), "odd"));
  EXPECT_EQ(qxtest::ReadFile(precious), "keep me");
  EXPECT_NE(ui.BoxTexts().find("left in place"), std::string::npos) << ui.BoxTexts();
}

TEST_F(BookmarkTest, BookmarkOfAMenuComesBackAsAMenu) {
  GopherItem *menu = Item("1Docs \"new\"\t/docs\tgopher.example\t7070", kItemSelectable);
  ASSERT_TRUE(WriteBookmark(ini.c_str(), "Docs", *menu));
  FreeItemList(menu);
  EXPECT_EQ(qxtest::ReadFile(dir / "BURROWVIEW.INI"),
            "[Docs]\r\nHost=gopher.example\r\nKey=/docs\r\nDescription=Docs \"new\"\r\nPort=7070\r\nType=1\r\n");
  EXPECT_TRUE(BookmarkExists(ini.c_str(), "docs"));
  std::unique_ptr<GopherItem, void (*)(GopherItem *)> item(BookmarkItem(ini.c_str(), "Docs", "No bookmark specified"),
                                                           FreeItemList);
  ASSERT_TRUE(item) << ui.BoxTexts();
  EXPECT_EQ(Describe(item.get()), "1 Docs \"new\"|/docs|gopher.example|7070|2\n");
  EXPECT_EQ(item->typeIndex, kTypeMenu);

  ASSERT_TRUE(WritePrivateProfileStringA(kCheckpointSection, "Host", "Z:\\nowhere\\QXCP0000.000", ini.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Empty", "Host", "", ini.c_str()));
  EXPECT_EQ(ListIniSections(ini.c_str(), "Host"), std::vector<std::string>{"Docs"});
  EXPECT_FALSE(DeleteBookmark(ini.c_str(), "checkpoints"));
  EXPECT_TRUE(DeleteBookmark(ini.c_str(), "Docs"));
  EXPECT_TRUE(ListIniSections(ini.c_str(), "Host").empty());
  EXPECT_EQ(ListCheckpoints(ini.c_str()), std::vector<std::string>{"Host"});
}

// Every item a server sends can be saved as a bookmark that loads again: a
// display with control characters (ANSI colours) or over 255 characters is
// kept readable; an item whose host, selector or port a bookmark cannot hold
// is refused with the reason and nothing is written.
TEST_F(BookmarkTest, AnItemIsSavedOnlyAsABookmarkThatLoadsAgain) {
  const struct {
    const char *what;
    std::string line;
    const char *loaded;   // Describe() of the loaded item, when checked
    const char *refusal;  // why the item cannot be a bookmark
  } cases[] = {
      {"colours in the display", "1\x1b[1mBold\x1b[0m docs\t/docs\tgopher.example\t70",
       "1 [1mBold [0m docs|/docs|gopher.example|70|2\n", nullptr},
      {"a display of 400 characters", "1" + std::string(400, 'd') + "\t/docs\tgopher.example\t70", nullptr, nullptr},
      {"a selector of 300 characters", "0Search\t/" + std::string(299, 's') + "\tgopher.example\t70", nullptr,
       "its selector is longer than the 255 characters a bookmark holds"},
      {"a control character in the selector",
       "0Search\t/a\x01"
       "b\tgopher.example\t70",
       nullptr, "its selector holds a tab or another control character"},
      {"a port of 0", "1Docs\t/docs\tgopher.example\t0", nullptr, "its port 0 is not a port number from 1 to 65535"},
      {"no server", "iJust words\t\t\t0", nullptr, "it names no server"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    std::remove((dir / "BURROWVIEW.INI").c_str());
    ui.boxes.clear();
    GopherItem *source = Item(c.line.c_str(), kItemSelectable);
    const bool written = WriteBookmark(ini.c_str(), "b", *source);
    const std::string problem = BookmarkItemProblem(*source);
    FreeItemList(source);
    std::unique_ptr<GopherItem, void (*)(GopherItem *)> item(BookmarkItem(ini.c_str(), "b", "No bookmark specified"),
                                                             FreeItemList);
    if (c.refusal) {
      EXPECT_EQ(problem, c.refusal);
      EXPECT_FALSE(written);
      EXPECT_FALSE(FileExists(dir / "BURROWVIEW.INI")) << qxtest::ReadFile(dir / "BURROWVIEW.INI");
      continue;
    }
    EXPECT_TRUE(written);
    ASSERT_TRUE(item) << ui.BoxTexts();
    if (c.loaded) {
      EXPECT_EQ(Describe(item.get()), c.loaded);
    }
    EXPECT_LE(item->display.size(), kMaxBookmarkValue);
  }
}

// A removal the INI file refuses (here a file over the 16 MB the layer
// rewrites) is reported, not passed over in silence.
TEST_F(BookmarkTest, ARemovalTheIniFileRefusesIsReported) {
  const std::string file = PlantCheckpoint("big", "1=1H\"h\"\n");
  std::string text = "[Docs]\r\nHost=gopher.example\r\nType=1\r\n" + qxtest::ReadFile(dir / "BURROWVIEW.INI");
  text += "[Padding]\r\n";
  while (text.size() < (17u << 20)) text += "; padding that makes the file larger than an INI file may be\r\n";
  ASSERT_TRUE(qxtest::WriteFile(dir / "BURROWVIEW.INI", text));
  ui.boxes.clear();
  EXPECT_FALSE(RemoveCheckpoint(ini.c_str(), "big"));
  EXPECT_FALSE(DeleteBookmark(ini.c_str(), "Docs"));
  ASSERT_EQ(ui.boxes.size(), 2u) << ui.BoxTexts();
  EXPECT_NE(ui.boxes[0].text.find("The checkpoint \"big\" could not be removed"), std::string::npos) << ui.BoxTexts();
  EXPECT_NE(ui.boxes[1].text.find("The bookmark \"Docs\" could not be deleted"), std::string::npos) << ui.BoxTexts();
  EXPECT_TRUE(FileExists(file)) << "the file of a checkpoint still listed was deleted";
  EXPECT_TRUE(qxtest::ReadFile(dir / "BURROWVIEW.INI") == text) << "the INI file changed";
}

TEST_F(BookmarkTest, SectionNamesForTheListsAreBounded) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "[bookmark number " + std::to_string(i) + "]\r\nHost=h\r\nType=1\r\n";
  ASSERT_TRUE(qxtest::WriteFile(dir / "BURROWVIEW.INI", text));
  const std::vector<std::string> names = ListIniSections(ini.c_str(), "Host");
  size_t total = 1;
  for (const std::string &n : names) total += n.size() + 1;
  EXPECT_LE(total, kMaxSectionNames);
  EXPECT_GT(names.size(), 90u);
  EXPECT_EQ(names[0], "bookmark number 0");
}

struct BadBookmark {
  const char *what;
  std::string section;
  const char *reported;
};

TEST_F(BookmarkTest, DamagedBookmarksAreReportedAndKept) {
  const BadBookmark cases[] = {
      {"no Host", "Key=/x\r\nType=1\r\n", "Unable to load bookmark \"b\""},
      {"an empty Host", "Host=\r\nType=1\r\n", "Unable to load bookmark \"b\""},
      {"port 0", "Host=h\r\nPort=0\r\nType=1\r\n", "its Port \"0\" is not a port number from 1 to 65535"},
      {"port 99999", "Host=h\r\nPort=99999\r\nType=1\r\n", "its Port \"99999\""},
      {"port with letters", "Host=h\r\nPort=7o\r\nType=1\r\n", "its Port \"7o\""},
      {"no Type", "Host=h\r\nPort=70\r\n", "its Type is not one item type character"},
      {"a Type of two characters", "Host=h\r\nType=11\r\n", "its Type is not one"},
      {"a tab in the Key", "Host=h\r\nKey=/a\tb\r\nType=1\r\n", "its Key holds a tab"},
      {"an over-long Description", "Host=h\r\nDescription=" + std::string(400, 'd') + "\r\nType=1\r\n",
       "its Description is longer than 255 characters"},
      {"an over-long line of garbage", "Host=" + std::string(5000, '\x80') + "\r\nType=1\r\n",
       "its Host is longer than 255"},
  };
  for (const BadBookmark &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = "[other]\r\nHost=fine\r\nType=1\r\n\x01\x02 junk line\r\n[b]\r\n" + c.section;
    ASSERT_TRUE(qxtest::WriteFile(dir / "BURROWVIEW.INI", text));
    ui.boxes.clear();
    EXPECT_EQ(BookmarkItem(ini.c_str(), "b", "No bookmark specified"), nullptr);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_NE(ui.boxes[0].text.find(c.reported), std::string::npos) << ui.BoxTexts();
    EXPECT_EQ(ui.boxes[0].caption, "burrowview Error");
    EXPECT_TRUE(qxtest::ReadFile(dir / "BURROWVIEW.INI") == text) << "the file changed";
  }
  ui.boxes.clear();
  EXPECT_EQ(BookmarkItem(ini.c_str(), "", "No bookmark specified"), nullptr);
  EXPECT_EQ(ui.BoxTexts(), "burrowview Error: No bookmark specified\n");
}

TEST(BookmarkNames, NamesThatWouldBreakTheFileAreRefused) {
  const struct {
    const char *name;
    bool bookmark;
    const char *refusal;  // empty: accepted
  } cases[] = {
      {"Home", true, ""},
      {"a=b", true, ""},
      {"a=b", false, "cannot hold '='"},
      {"a]b", true, "cannot hold ']'"},
      {"a]b", false, ""},
      {"CHECKPOINTS", true, "is the name of the list of checkpoints"},
      {"Checkpoints", false, ""},
      {";comment", true, "cannot begin with"},
      {"[x", false, "cannot begin with"},
      {"tab\there", true, "control character"},
      {"", true, "Enter a name"},
  };
  for (const auto &c : cases) {
    const std::string problem = NameProblem(c.name, c.bookmark);
    if (!*c.refusal)
      EXPECT_EQ(problem, "") << c.name;
    else
      EXPECT_NE(problem.find(c.refusal), std::string::npos) << c.name << ": " << problem;
  }
  EXPECT_NE(NameProblem(std::string(129, 'n'), true), "");
  EXPECT_EQ(NameProblem(std::string(128, 'n'), true), "");
}

class RecentServers : public ::testing::Test {
 protected:
  std::vector<std::string> List() { return ReadRecentServers(apps.c_str()); }
  qxtest::TempDir dir{"qx-gopher-recent"};
  std::string apps = WindowsPath(dir / "QXAPPS.INI");
};

TEST_F(RecentServers, NewestFirstEachOnceAtMostNineteen) {
  RememberServer(apps.c_str(), "alpha.example", 70);
  RememberServer(apps.c_str(), "beta.example", 7070);
  RememberServer(apps.c_str(), "", 70);  // nothing
  EXPECT_EQ(List(), (std::vector<std::string>{"beta.example (7070)", "alpha.example"}));
  RememberServer(apps.c_str(), "ALPHA.example", 70);  // the same server, in other case
  EXPECT_EQ(List(), (std::vector<std::string>{"ALPHA.example", "beta.example (7070)"}));
  RememberServer(apps.c_str(), "beta.example", 70);  // another port is another entry
  EXPECT_EQ(List(), (std::vector<std::string>{"beta.example", "ALPHA.example", "beta.example (7070)"}));
  EXPECT_EQ(qxtest::ReadFile(dir / "QXAPPS.INI"),
            "[burrowview]\r\nFILE_0=beta.example\r\nFILE_1=ALPHA.example\r\nFILE_2=beta.example (7070)\r\n");

  for (int i = 0; i < 19; ++i) RememberServer(apps.c_str(), "host" + std::to_string(i), 70);
  std::vector<std::string> list = List();
  ASSERT_EQ(list.size(), 19u);
  EXPECT_EQ(list.front(), "host18");
  EXPECT_EQ(list.back(), "host0");
  RememberServer(apps.c_str(), "host5", 70);  // from the middle to the head
  list = List();
  ASSERT_EQ(list.size(), 19u);
  EXPECT_EQ(list[0], "host5");
  EXPECT_EQ(std::count(list.begin(), list.end(), "host5"), 1);
  RememberServer(apps.c_str(), "newest", 70);  // the oldest goes
  list = List();
  ASSERT_EQ(list.size(), 19u);
  EXPECT_EQ(list[0], "newest");
  EXPECT_EQ(std::count(list.begin(), list.end(), "host0"), 0);
}

TEST(ServerChooser, EntriesPortsAndTheScrollBar) {
  EXPECT_EQ(PortOfEntry("gopher.example"), 70);
  EXPECT_EQ(PortOfEntry("gopher.example (7070)"), 7070);
  EXPECT_EQ(PortOfEntry("gopher.example (junk)"), 70);
  EXPECT_EQ(HostOfEntry("gopher.example (7070)"), "gopher.example");
  EXPECT_EQ(HostOfEntry("(7070)"), "");  // nothing before the '(': no host, no write before the text
  EXPECT_EQ(HostOfEntry("  spaced.example  "), "spaced.example");
  const struct {
    int port, code, thumb, expected;
  } scrolls[] = {
      {70, SB_LINEUP, 0, 71},          {70, SB_LINEDOWN, 0, 69},        {5, SB_PAGEDOWN, 0, 1},
      {1, SB_LINEDOWN, 0, 1},          {32767, SB_LINEUP, 0, 32767},    {32765, SB_PAGEUP, 0, 32767},
      {70, SB_PAGEUP, 0, 78},          {70, SB_THUMBTRACK, 4000, 4000}, {70, SB_THUMBPOSITION, 9, 9},
      {40000, SB_ENDSCROLL, 0, 40000},
  };
  for (const auto &s : scrolls) EXPECT_EQ(ScrollPort(s.port, s.code, s.thumb), s.expected) << s.port << " " << s.code;
  const struct {
    const char *text;
    int port;  // 0: refused
  } ports[] = {{"70", 70}, {" 8080 ", 8080}, {"65535", 65535}, {"0", 0},     {"65536", 0},
               {"-1", 0},  {"7o", 0},        {"", 0},          {"123456", 0}};
  for (const auto &p : ports) {
    int port = 0;
    EXPECT_EQ(ParsePortText(p.text, &port), p.port != 0) << p.text;
    if (p.port) {
      EXPECT_EQ(port, p.port) << p.text;
    }
  }
}

}  // namespace
