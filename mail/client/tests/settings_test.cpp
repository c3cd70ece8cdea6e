// Mail settings: INI contents to values (defaults, [default] under the user's
// section, booleans, out-of-range numbers) and what the Configure dialog's OK
// writes, through the layer's private-profile calls.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "configure_golden.h"
#include "mailstore.h"
#include "settings.h"
#include "test_support.h"

using namespace mailtest;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProfileAccess(nullptr);  // the layer's private-profile calls
    Settings() = MAIL_SETTINGS{};
    Settings().iniFile = dir / "QXMAIL.INI";
    Settings().user = "tester";
  }
  void Load(const std::string &ini) {
    WriteFile(Settings().iniFile, ini);
    LoadSettings();
  }
  TempDir dir;
};

TEST_F(SettingsTest, DefaultsWithoutAFile) {
  EXPECT_EQ(LoadSettings(), ENOENT);  // "C:\QXTCP" does not exist here
  const MAIL_SETTINGS &s = Settings();
  EXPECT_EQ(s.indexFormat, "None");
  EXPECT_FALSE(s.indexFormatCurrent);
  EXPECT_EQ(s.mailDir, "C:\\QXTCP");
  EXPECT_EQ(s.replyString, "On <Date>, in <Message-Id>, <Author> wrote:");
  EXPECT_EQ(s.indentString, ">");
  EXPECT_EQ(s.interval, 5);
  EXPECT_EQ(s.wordWrap, 76);
  EXPECT_EQ(s.sortOrder, 3);
  const int bools[] = {s.login,        s.delayedSend,   s.timed,           s.ccSelf,         s.verbose,
                       s.includeReply, s.includeHeader, s.autoAdvance,     s.reDirectPrompt, s.deleteReadFromServer,
                       s.useSound,     s.saveSent,      s.reverseSortOrder};
  const int expected[] = {1, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0};
  for (size_t i = 0; i < std::size(bools); ++i) EXPECT_EQ(bools[i], expected[i]) << i;
  EXPECT_EQ(s.readFont, "System");
  EXPECT_EQ(s.readSize, 10);
  EXPECT_EQ(s.readWeight, 700);
  EXPECT_EQ(s.composeFont, "Fixedsys");
  EXPECT_EQ(s.composeSize, 9);
  EXPECT_EQ(s.composeWeight, 400);
  EXPECT_EQ(s.currentFolder, s.mailDir);
  EXPECT_EQ(s.lastTargetFolder, s.mailDir);
}

TEST_F(SettingsTest, IniTable) {
  struct Case {
    const char *what;
    const char *ini;
    std::function<int()> actual;
    int expected;
  };
  const MAIL_SETTINGS &s = Settings();
  const Case cases[] = {
      {"[default] no, no user key", "[default]\nLogin=no\n", [&] { return s.login; }, 0},
      {"[default] no, user maybe", "[default]\nLogin=no\n[tester]\nLogin=maybe\n", [&] { return s.login; }, 0},
      {"[default] no, user YES", "[default]\nLogin=no\n[tester]\nLogin=YES\n", [&] { return s.login; }, 1},
      {"user yes in any case", "[tester]\nCcSelf=yEs\n", [&] { return s.ccSelf; }, 1},
      {"default-on flipped by False", "[tester]\nAutoAdvance=False\n", [&] { return s.autoAdvance; }, 0},
      {"default-on kept by True", "[tester]\nAutoAdvance=True\n", [&] { return s.autoAdvance; }, 1},
      {"default-off kept by off", "[tester]\nVerbose=0\n", [&] { return s.verbose; }, 0},
      {"other user's section ignored", "[someone]\nVerbose=1\n", [&] { return s.verbose; }, 0},
      {"section names ignore case", "[TESTER]\nTimed=1\n", [&] { return s.timed; }, 1},
      {"[default] number", "[default]\nInterval=30\n", [&] { return s.interval; }, 30},
      {"user number over [default]", "[default]\nInterval=30\n[tester]\nInterval=45\n", [&] { return s.interval; }, 45},
      {"leading blanks and sign", "[tester]\nWordWrap=  +80\n", [&] { return s.wordWrap; }, 80},
      {"WordWrap below range", "[tester]\nWordWrap=20\n", [&] { return s.wordWrap; }, 76},
      {"WordWrap above range", "[tester]\nWordWrap=500\n", [&] { return s.wordWrap; }, 76},
      {"WordWrap not a number", "[tester]\nWordWrap=wide\n", [&] { return s.wordWrap; }, 76},
      {"Interval zero", "[tester]\nInterval=0\n", [&] { return s.interval; }, 5},
      {"Interval negative", "[tester]\nInterval=-3\n", [&] { return s.interval; }, 5},
      {"Interval huge", "[tester]\nInterval=99999999999\n", [&] { return s.interval; }, 5},
      {"SortOrder out of range", "[tester]\nSortOrder=9\n", [&] { return s.sortOrder; }, 3},
      {"SortOrder in range", "[tester]\nSortOrder=1\n", [&] { return s.sortOrder; }, 1},
      {"font size out of range", "[tester]\nReadSize=0\n", [&] { return s.readSize; }, 10},
      {"IndexFormat ignores case", "[tester]\nIndexFormat=bytepacked\n", [&] { return s.indexFormatCurrent ? 1 : 0; },
       1},
      {"IndexFormat other", "[tester]\nIndexFormat=Packed\n", [&] { return s.indexFormatCurrent ? 1 : 0; }, 0},
  };
  for (const Case &c : cases) {
    Settings() = MAIL_SETTINGS{};
    Settings().iniFile = dir / "QXMAIL.INI";
    Settings().user = "tester";
    Load(c.ini);
    EXPECT_EQ(c.actual(), c.expected) << c.what;
  }
}

TEST_F(SettingsTest, TextsWidthsAndDerivedValues) {
  const std::string longHost(100, 'h');
  Load("[default]\nMailHost=site.example\nOrganization=Site\nMailDir=" + dir.path() +
       "\n"
       "[tester]\nMailHost=10.0.0.1\nIndentString=> \xFF\nPersonalName=" +
       std::string(100, 'p') + "\n");
  const MAIL_SETTINGS &s = Settings();
  EXPECT_EQ(LoadSettings(), 1);
  EXPECT_EQ(s.mailHost, "10.0.0.1");
  EXPECT_EQ(s.organization, "Site");
  EXPECT_EQ(s.indentString, "> ");
  EXPECT_EQ(s.personalName, std::string(63, 'p'));
  EXPECT_EQ(s.ownAddress, "tester@[10.0.0.1]");
  EXPECT_EQ(MakeOwnAddress("ann", "mail.example.com"), "ann@mail.example.com");
  EXPECT_EQ(MakeOwnAddress("ann", "1.2.3.256"), "ann@1.2.3.256");
  EXPECT_EQ(MakeOwnAddress("ann", "1.2.3"), "ann@[1.2.3]");  // inet_addr reads it as 1.2.0.3
  EXPECT_EQ(MakeOwnAddress("ann", "0x7f.1"), "ann@[0x7f.1]");
  EXPECT_EQ(MakeOwnAddress("ann", "255.255.255.255"), "ann@[255.255.255.255]");
  EXPECT_EQ(MakeOwnAddress("ann", "1.2.3.4.example"), "ann@1.2.3.4.example");
  EXPECT_EQ(FontHeight(10, 96), -13);
  EXPECT_EQ(FontHeight(9, 96), -12);
}

TEST_F(SettingsTest, ConfigureWritesTheKeys) {
  const std::string mailDir = dir / "mail";
  Load(ConfigureGoldenStart());
  CONFIGURE_VALUES v = ConfigureInitialValues();
  v.mailDir = mailDir;
  v.mailHost = "mail.example.com";
  v.personalName = "Test User";
  v.wordWrapText = "20";
  v.intervalText = "10000";
  v.includeReply = 1;
  v.indentString = "> ";
  v.replyString = "<Author> wrote:";
  v.verbose = 1;
  v.timed = 1;
  CONFIGURE_RESULT r = ConfigureApply(v);
  EXPECT_EQ(r.dialogResult, 1);
  EXPECT_EQ(r.failedWrites, 0);
  EXPECT_TRUE(r.setTimer);
  EXPECT_FALSE(r.killTimer);
  EXPECT_EQ(Settings().wordWrap, 40);
  EXPECT_EQ(Settings().interval, 7200);
  EXPECT_EQ(Settings().indentString, "> ");  // read back without the marker
  EXPECT_TRUE(Settings().indexFormatCurrent);
  EXPECT_EQ(ReadFile(IndexPath(mailDir)), std::string("\1") + std::string(108, '\0'));
  EXPECT_EQ(ReadFile(Settings().iniFile), ConfigureGoldenIni(mailDir));
}

TEST_F(SettingsTest, ConfigureLimitsAndUntickedInclude) {
  Load("[tester]\nReplyString=Kept\nIndentString=|\nTimed=1\nMailDir=" + dir.path() + "\n");
  const struct {
    const char *wrap, *interval;
    int wrapOut, intervalOut;
  } kLimits[] = {{"20", "0", 40, 1}, {"500", "10000", 132, 7200}, {"80", "15", 80, 15}, {"x", "-5", 40, 1}};
  for (const auto &l : kLimits) {
    CONFIGURE_VALUES v = ConfigureInitialValues();
    v.wordWrapText = l.wrap;
    v.intervalText = l.interval;
    v.includeReply = 0;
    v.replyString = "ignored";
    v.indentString = "ignored";
    v.timed = 0;
    CONFIGURE_RESULT r = ConfigureApply(v);
    EXPECT_EQ(Settings().wordWrap, l.wrapOut) << l.wrap;
    EXPECT_EQ(Settings().interval, l.intervalOut) << l.interval;
    EXPECT_EQ(Settings().replyString, "Kept");
    EXPECT_EQ(Settings().indentString, "|");
    EXPECT_EQ(GetProfileAccess()->Get(Settings().iniFile, "tester", "ReplyString", "", 255), "Kept");  // still written
    EXPECT_EQ(r.dialogResult, 1);
  }
  // Timed switched off kills the timer once.
  Load("[tester]\nTimed=1\nMailDir=" + dir.path() + "\n");
  CONFIGURE_VALUES v = ConfigureInitialValues();
  v.timed = 0;
  EXPECT_TRUE(ConfigureApply(v).killTimer);
}

TEST_F(SettingsTest, ConfigureFailures) {
  WriteFile(dir / "afile", "x");
  Load("[tester]\nMailDir=" + dir.path() + "\n");
  CONFIGURE_VALUES v = ConfigureInitialValues();
  v.mailDir = dir / "afile/sub";  // cannot be a directory
  CONFIGURE_RESULT r = ConfigureApply(v);
  EXPECT_EQ(r.dialogResult, 0);  // the dialog stays open with string 46
  EXPECT_TRUE(r.mailDirMissing);

  // An INI file in a directory that does not exist cannot be written.
  Settings().iniFile = dir / "missing/QXMAIL.INI";
  v.mailDir = dir.path();
  r = ConfigureApply(v);
  EXPECT_EQ(r.failedWrites, 23);  // every key was tried, failures reported once
}
