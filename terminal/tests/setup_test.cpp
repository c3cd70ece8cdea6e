// Set-up record and files: factory values, the file format, failed loads,
// answerback concealment, range checks of loaded fields, and colours.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "layer_host.h"
#include "term_harness.h"

namespace {

namespace fs = std::filesystem;

class SetupFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qxterm-setup-" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const char *name) { return (dir_ / name).string(); }
  void WriteFile(const char *name, const std::string &bytes) { std::ofstream(Path(name), std::ios::binary) << bytes; }
  std::string ReadFile(const char *name) {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  int Load(TestTerminal &t, const std::string &path) {
    std::snprintf(t.st().setupFileName, sizeof t.st().setupFileName, "%s", path.c_str());
    return SetupFileLoad(*t.term);
  }
  fs::path dir_;
  LayerTermFiles files_;
};

TEST(SetupRecord, FactoryValues) {
  const TERM_SETUP &s = SetupFactoryRecord();
  const BYTE *b = reinterpret_cast<const BYTE *>(&s);
  struct {
    int offset;
    BYTE value;
  } table[] = {
      {0, '4'}, {1, '7'}, {2, 0},   {5, 0},   {10, 1},  {19, 1},  {21, 80}, {25, 1},  {26, 1},  {27, 1},
      {28, 1},  {30, 1},  {32, 0},  {36, 1},  {37, 1},  {38, 14}, {39, 0},  {40, 2},  {42, 0},  {50, 1},
      {58, 1},  {170, 1}, {173, 0}, {174, 0}, {228, 1}, {229, 7}, {230, 4}, {231, 2}, {232, 1},
  };
  for (auto [offset, value] : table) EXPECT_EQ(b[offset], value) << "offset " << offset;
  int stops = 0;
  for (BYTE stop : s.tabStops) stops += stop;
  EXPECT_EQ(stops, 16);  // 8, 16, ..., 128
}

TEST(SetupRecord, ConcealmentIsAChainedXorThatRoundTrips) {
  BYTE answerback[51] = "log\r\x01in\x1b";
  BYTE original[51];
  std::memcpy(original, answerback, 51);
  AnswerbackConceal(answerback);
  EXPECT_NE(std::memcmp(answerback, original, 51), 0);
  // Each stored byte is the running XOR of the seed and the text so far.
  EXPECT_EQ(answerback[1] ^ answerback[0], original[1]);
  AnswerbackReveal(answerback);
  EXPECT_EQ(std::memcmp(answerback, original, 51), 0);
}

TEST_F(SetupFileTest, SaveThenLoadGivesTheSameRecordAndNames) {
  TestTerminal t(24, &files_);
  std::memcpy(t.st().s.answerback, "user\r\x05\x1b[A", 9);
  t.st().s.columns = 132;
  t.st().s.nationalLanguage = 6;
  std::strcpy(t.st().printName, "/tmp/print.out");
  std::strcpy(t.st().keyMapName, "MY.KEY");
  TERM_SETUP saved = t.st().s;
  ASSERT_EQ(SetupFileSave(*t.term, Path("a.stu").c_str()), 0);
  EXPECT_EQ(t.host.messages, "Done\n");
  std::string file = ReadFile("a.stu");
  ASSERT_EQ(file.size(), 361u);
  EXPECT_EQ(file.substr(0, 4), std::string("47\0\0", 4));
  EXPECT_NE(file.substr(174, 9), std::string("user\r\x05\x1b[A", 9)) << "answerback stored in clear";
  EXPECT_EQ(file.substr(233, 15), std::string("/tmp/print.out\0", 15));
  EXPECT_EQ(file.substr(297, 7), std::string("MY.KEY\0", 7));
  EXPECT_EQ(std::memcmp(&t.st().s, &saved, sizeof saved), 0) << "memory answerback revealed again";

  TestTerminal u(24, &files_);
  ASSERT_EQ(Load(u, Path("a.stu")), 0);
  EXPECT_EQ(std::memcmp(&u.st().s, &saved, sizeof saved), 0);
  EXPECT_STREQ(u.st().printName, "/tmp/print.out");
  EXPECT_STREQ(u.st().keyMapName, "MY.KEY");
}

struct BadFile {
  const char *name;
  std::string bytes;
  const char *message;
};

class SetupLoadFailure : public SetupFileTest, public ::testing::WithParamInterface<BadFile> {};

TEST_P(SetupLoadFailure, LeavesTheRecordAndShowsTheMessage) {
  const BadFile &bad = GetParam();
  WriteFile("bad.stu", bad.bytes);
  TestTerminal t(24, &files_);
  t.st().s.columns = 132;  // a setting that must survive the failed load
  EXPECT_EQ(Load(t, Path("bad.stu")), -1);
  EXPECT_EQ(t.host.messages, std::string(bad.message) + "\n");
  EXPECT_EQ(t.st().s.columns, 132);
  EXPECT_EQ(t.st().s.eightBit, 1);
}

std::string RecordBytes(size_t size) {
  std::string bytes(reinterpret_cast<const char *>(&SetupFactoryRecord()), sizeof(TERM_SETUP));
  bytes += std::string(128, '\0');
  bytes.resize(size, '\0');
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(Files, SetupLoadFailure,
                         ::testing::Values(BadFile{"TwoBytes", "47", "Invalid setup file format"},
                                           BadFile{"ReservedNotZero", std::string("47\1\0", 4) + std::string(357, '\0'),
                                                   "Invalid setup file format"},
                                           BadFile{"WrongMagic", "48" + std::string(359, '\0'),
                                                   "Invalid setup file format"},
                                           BadFile{"ShortRecord", RecordBytes(100), "Corrupted setup file"},
                                           BadFile{"ShortNames", RecordBytes(233 + 64), "Corrupted setup file"},
                                           BadFile{"Empty", "", "Invalid setup file format"}),
                         [](const auto &param_info) { return param_info.param.name; });

TEST_F(SetupFileTest, ShortNamesResetThePrintAndKeyMapNames) {
  WriteFile("short.stu", RecordBytes(233 + 64));
  TestTerminal t(24, &files_);
  std::strcpy(t.st().keyMapName, "OTHER.KEY");
  EXPECT_EQ(Load(t, Path("short.stu")), -1);
  EXPECT_STREQ(t.st().keyMapName, "VT220AT.KEY");
}

TEST_F(SetupFileTest, StartKeyMapNameOutlivesAMissingSetupFile) {
  TestTerminal t(24, &files_);
  SetupStartKeyMapName(*t.term, "IBM.KEY");  // a 3270 terminal's
  EXPECT_EQ(Load(t, Path("IBM.STU")), -1);
  EXPECT_STREQ(t.st().keyMapName, "IBM.KEY");
  SetupStartKeyMapName(*t.term, "VT220AT.KEY");  // the process-wide names as the other tests expect them
}

TEST_F(SetupFileTest, MissingFileIsReportedAndRecallFallsBack) {
  TestTerminal t(24, &files_);
  EXPECT_EQ(Load(t, Path("none.stu")), -1);
  EXPECT_EQ(t.host.messages, "Setup file " + Path("none.stu") + " not found\n");

  TERM_SETUP good = SetupFactoryRecord();
  good.columns = 132;
  std::string bytes(reinterpret_cast<const char *>(&good), sizeof good);
  WriteFile("good.stu", bytes + std::string(128, '\0'));
  ASSERT_EQ(Load(t, Path("good.stu")), 0);
  t.host.messages.clear();
  EXPECT_EQ(SetupRecall(*t.term, Path("missing.stu").c_str()), -1);
  EXPECT_EQ(t.st().setupFileName, files_.FindSetupFile(Path("good.stu").c_str()));
  EXPECT_EQ(t.st().s.columns, 132);
  EXPECT_EQ(t.host.messages, "Setup file " + Path("missing.stu") + " not found\n");
}

TEST_F(SetupFileTest, MessagesFollowTheSetUpLanguage) {
  TestTerminal t(24, &files_);
  t.st().s.setupLanguage = 2;
  Load(t, Path("none.stu"));
  EXPECT_EQ(t.host.messages, "Aufstellungsakte " + Path("none.stu") + " fehlt\n");
}

TEST_F(SetupFileTest, SaveRefusesNamesThatDoNotFitTheirField) {
  TestTerminal t(24, &files_);
  EXPECT_EQ(SetupFileSave(*t.term, (std::string(70, 'x') + ".stu").c_str()), -1);
  EXPECT_EQ(SetupFileSave(*t.term, "/nonexistent-dir/a.stu"), -1);
  EXPECT_EQ(t.host.messages, "Invalid Setup Filename\nInvalid Setup Filename\n");
}

// Set-up files through the layer: a bare name is looked for along the search
// order (the current directory first) whatever its case, and the Windows name
// it is found under loads again.
TEST_F(SetupFileTest, BareNamesAreFoundAlongTheSearchOrder) {
  std::string bytes = RecordBytes(361);
  bytes[21] = static_cast<char>(132);
  WriteFile("bare.stu", bytes);
  char previous[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(sizeof previous, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
  TestTerminal t(24, &files_);
  int loaded = Load(t, "BARE.STU");
  SetCurrentDirectoryA(previous);
  ASSERT_EQ(loaded, 0) << t.host.messages;
  EXPECT_EQ(t.st().s.columns, 132);
  std::string found = t.st().setupFileName;
  ASSERT_GT(found.size(), 9u);
  EXPECT_EQ(found.substr(found.size() - 9), "\\bare.stu") << found;
  EXPECT_EQ(found[1], ':') << "not a Windows name: " << found;

  TestTerminal u(24, &files_);
  EXPECT_EQ(Load(u, found), 0) << u.host.messages;
  EXPECT_EQ(u.st().s.columns, 132);
}

// The print destination is appended to; "NAME:" names the file NAME.
TEST_F(SetupFileTest, PrintDestinationIsAppendedTo) {
  LayerTermPrinter printer;
  ASSERT_TRUE(printer.Open(Path("print.out").c_str()));
  printer.Write(reinterpret_cast<const unsigned char *>("one\r\n"), 5);
  printer.Close();
  EXPECT_FALSE(printer.IsOpen());
  ASSERT_TRUE(printer.Open((Path("print.out") + ":").c_str()));
  printer.Write(reinterpret_cast<const unsigned char *>("two"), 3);
  printer.Close();
  EXPECT_EQ(ReadFile("print.out"), "one\r\ntwo");
  EXPECT_FALSE(printer.Open(Path("no-such-dir/print.out").c_str()));
  EXPECT_FALSE(printer.Open(""));
}

// A crafted file cannot put a value into the record that indexes past a table.
TEST_F(SetupFileTest, OutOfRangeFieldsTakeFactoryValues) {
  std::string bytes = RecordBytes(361);
  bytes[21] = static_cast<char>(200);              // columns
  bytes[6] = 40;                                   // national language
  bytes[20] = 9;                                   // Set-Up language
  bytes[40] = 77;                                  // terminal mode
  bytes[11] = 9;                                   // print mode
  for (int i = 233; i < 361; ++i) bytes[i] = 'n';  // names without a NUL
  WriteFile("crafted.stu", bytes);
  TestTerminal t(24, &files_);
  ASSERT_EQ(Load(t, Path("crafted.stu")), 0);
  EXPECT_EQ(t.st().s.columns, 80);
  EXPECT_EQ(t.st().s.nationalLanguage, 0);
  EXPECT_EQ(t.st().s.setupLanguage, 0);
  EXPECT_EQ(t.st().s.terminalId, 2);
  EXPECT_EQ(t.st().s.printMode, 0);
  EXPECT_EQ(std::strlen(t.st().printName), 63u);
  EXPECT_EQ(std::strlen(t.st().keyMapName), 63u);
}

// Random files of 0..400 bytes: no crash, every checked field in range.
TEST_F(SetupFileTest, RandomFilesLeaveAUsableRecord) {
  std::mt19937 rng(7);
  TestTerminal t(24, &files_);
  for (int i = 0; i < 300; ++i) {
    std::string bytes(rng() % 401, '\0');
    for (char &c : bytes) c = static_cast<char>(rng());
    if (i % 2 && bytes.size() >= 4) bytes.replace(0, 4, std::string("47\0\0", 4));
    WriteFile("random.stu", bytes);
    Load(t, Path("random.stu"));
    const TERM_SETUP &s = t.st().s;
    ASSERT_TRUE(s.columns == 80 || s.columns == 132);
    ASSERT_LE(s.nationalLanguage, 12);
    ASSERT_LE(s.terminalId, 5);
    ASSERT_LE(s.setupLanguage, 2);
    t.Push("\e[c\e(K[]\e[99;200HXYZ\x05");
    ASSERT_FALSE(t.display.outOfGrid);
  }
}

// A recall that narrows the screen while the cursor is far right keeps it on the grid.
TEST_F(SetupFileTest, NarrowerColumnsKeepTheCursorOnTheScreen) {
  WriteFile("narrow.stu", RecordBytes(361));
  TestTerminal t(24, &files_);
  t.Push("\e[?3h\e[1;130H");
  ASSERT_EQ(t.st().cursorCol, 129);
  ASSERT_EQ(SetupRecall(*t.term, Path("narrow.stu").c_str()), 0);
  EXPECT_EQ(t.st().s.columns, 80);
  EXPECT_LT(t.st().cursorCol, 80);
  t.Push("ABCDEFGH");
  EXPECT_EQ(t.st().cursorCol, 79);
  EXPECT_EQ(t.term->screen.cells[0][80].ch, 0x20);
}

TEST(SetupDefaultTest, RestoresTheFactoryRecordAndClearsTheScreen) {
  TestTerminal t;
  t.Push("text\e[?3h\e[?7h");
  SetupDefault(*t.term);
  EXPECT_EQ(t.st().s.columns, 80);
  EXPECT_EQ(t.st().s.autowrap, 0);
  EXPECT_EQ(t.RowText(0), "");
  EXPECT_EQ(t.host.messages, "Done\n");
}

TEST(CellColourTest, Table) {
  TestTerminal t;
  TERM_STATE &st = t.st();
  st.colourAttribute = 0x07;
  struct {
    BYTE screenMode, attribute, colour;
  } table[] = {
      {0, 0x00, 0x07},          // light text on dark
      {1, 0x00, 0x70},          // dark on light: swapped
      {0, ATTR_REVERSE, 0x70},  // reverse on a dark screen
      {1, ATTR_REVERSE, 0x07},
      {0, ATTR_BOLD, 0x87},
      {0, ATTR_UNDERLINE, 0x01},
      {0, ATTR_BLINK, 0x04},
      {0, ATTR_UNDERLINE | ATTR_BLINK, 0x02},
      {0, ATTR_GLYPH, 0x0F},
      {0, 0x84, 0x04},  // colour form: red on black
      {0, 0x8C, 0x14},  // red on blue
      {1, 0xC4, 0x0C},  // glyph bit gives intensity; screen mode has no say
  };
  for (auto [mode, attribute, colour] : table) {
    st.s.screenMode = mode;
    EXPECT_EQ(CellColour(st, attribute), colour) << "mode " << int(mode) << " attribute " << int(attribute);
  }
}

TEST(StatusLineTest, LongTitlesAreClipped) {
  TestTerminal t;
  std::string title(300, 'h');
  ShowStatus(*t.term, title.c_str());
  EXPECT_EQ(t.RowText(24).size(), 80u);
  EXPECT_EQ(t.RowText(24).back(), ']');
  EXPECT_FALSE(t.display.outOfGrid);
  TestTerminal tall(45);
  ShowStatus(*tall.term, title.c_str());
  EXPECT_EQ(tall.RowText(45).size(), 80u);
}

TEST(StatusLineTest, TitleRangeAndLeds) {
  TestTerminal t;
  t.st().viewLeft = 10;
  t.st().viewRight = 89;
  t.st().leds = 0x0A;
  ShowStatus(*t.term, "host");
  EXPECT_EQ(t.RowText(24), "[host]                         L 2 4    (11-90)");
}

TEST(ScreenRowsTest, RowCountIsLimited) {
  EXPECT_EQ(TestTerminal(5).st().screenRows, 20);
  EXPECT_EQ(TestTerminal(99).st().screenRows, 45);
  TestTerminal t(45);
  t.Push("\e[99;1Hbottom\n\n");
  EXPECT_EQ(t.RowText(42), "bottom");
  EXPECT_EQ(t.RowText(45), "");
}

}  // namespace
