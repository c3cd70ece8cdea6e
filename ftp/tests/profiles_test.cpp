// Connection profiles in QXFTP.INI, options and recent hosts in QXAPPS.INI,
// and the two password scramblings.
#include "peer_server.h"
#include "profiles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string ReadAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class ProfilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    snprintf(g_FtpIni, sizeof g_FtpIni, "%s/QXFTP.INI", dir.path().c_str());
    snprintf(g_AppsIni, sizeof g_AppsIni, "%s/QXAPPS.INI", dir.path().c_str());
  }
  void Write(const std::string &file, const std::string &text) { std::ofstream(file, std::ios::binary) << text; }
  qxtest::TempDir dir;
};

TEST(Scramble, RoundTripsAndDiffersByTime) {
  for (const std::string &password :
       std::vector<std::string>{"", "secret", std::string(63, 'p'), std::string("\xff\x01 x", 4)}) {
    const std::string a = ScramblePassword(password, 1000), b = ScramblePassword(password, 1001);
    EXPECT_EQ(a.size(), 2 * (4 + password.size()));
    EXPECT_NE(a, b);
    EXPECT_EQ(UnscramblePassword(a), password);
    EXPECT_EQ(UnscramblePassword(b), password);
  }
  // Lower-case hex reads too; broken texts give no password rather than junk.
  std::string lower = ScramblePassword("pw", 7);
  for (char &c : lower) c = static_cast<char>(tolower(c));
  EXPECT_EQ(UnscramblePassword(lower), "pw");
  for (const char *broken : {"", "FF", "0011223", "00112233ZZ", "0011223344556"})
    EXPECT_EQ(UnscramblePassword(broken), "");
}

TEST(Scramble, OlderForm) {
  EXPECT_EQ(UnscrambleOldPassword("6163"), "ab");  // byte minus its index
  EXPECT_EQ(UnscrambleOldPassword("CA"), "*");     // a letter: C stands for 2
  EXPECT_EQ(UnscrambleOldPassword("616"), "a");    // an odd last character is ignored
  EXPECT_EQ(UnscrambleOldPassword(""), "");
}

TEST_F(ProfilesTest, FixtureProfilesLoadWithTheirFallbacks) {
  Write(g_FtpIni, "[WithPassword]\r\nHost=alpha\r\nUsername=joe\r\nPassword=" + ScramblePassword("s3cret", 99) +
                      "\r\nRemoteDirectory=/pub\r\n"
                      "[OldOnly]\r\nHost=beta\r\nUID=old\r\nPWD=6163\r\nACT=acc\r\nDIR=/d\r\nLOCDIR=/tmp\r\n"
                      "[NoUser]\r\nHost=gamma\r\nUsername=\r\n"
                      "[Bogus]\r\nUsername=x\r\n");
  EXPECT_EQ(HostProfileList(), (std::vector<std::string>{"WithPassword", "OldOnly", "NoUser"}));
  HOST_PROFILE p;
  ASSERT_TRUE(LoadProfile("WithPassword", &p));
  EXPECT_EQ(p.host, "alpha");
  EXPECT_EQ(p.user, "joe");
  EXPECT_EQ(p.password, "s3cret");
  EXPECT_EQ(p.remoteDirectory, "/pub");
  ASSERT_TRUE(LoadProfile("oldonly", &p));  // section names ignore case
  EXPECT_EQ(p.user, "old");
  EXPECT_EQ(p.password, "ab");
  EXPECT_EQ(p.account, "acc");
  EXPECT_EQ(p.remoteDirectory, "/d");
  EXPECT_EQ(p.localDirectory, "/tmp");
  ASSERT_TRUE(LoadProfile("NoUser", &p));
  EXPECT_EQ(p.user, "anonymous");
  EXPECT_EQ(p.password, "");
  EXPECT_FALSE(LoadProfile("Bogus", &p));
}

TEST_F(ProfilesTest, SaveLoadDeleteAndRefusedNames) {
  Write(g_FtpIni, "[Keep]\r\nHost=h\r\nPWD=6163\r\n");
  HOST_PROFILE p{"ftp.example.org", "joe", std::string(63, 'Z'), "", "/pub/x y", ""};
  ASSERT_EQ(SaveProfile("Work", p, 12345), "");
  HOST_PROFILE q;
  ASSERT_TRUE(LoadProfile("Work", &q));
  EXPECT_EQ(q.password, p.password);  // the longest password survives
  EXPECT_EQ(q.remoteDirectory, "/pub/x y");
  // An empty password removes the key; the older PWD key then speaks.
  HOST_PROFILE k{"h", "u", "", "", "", ""};
  ASSERT_EQ(SaveProfile("Keep", k, 1), "");
  ASSERT_TRUE(LoadProfile("Keep", &q));
  EXPECT_EQ(q.password, "ab");
  char value[16];
  GetPrivateProfileStringA("Keep", "Password", "absent", value, sizeof value, g_FtpIni);
  EXPECT_STREQ(value, "absent");

  const std::string before = ReadAll(g_FtpIni);
  EXPECT_FALSE(DeleteProfile("Nothing"));
  EXPECT_EQ(ReadAll(g_FtpIni), before);
  for (const char *bad : {"", "a]b", "[x", "tab\there", " lead", "trail "}) {
    EXPECT_NE(SaveProfile(bad, p, 1), "") << bad;
  }
  EXPECT_EQ(ReadAll(g_FtpIni), before);
  EXPECT_TRUE(DeleteProfile("Work"));
  EXPECT_EQ(HostProfileList(), std::vector<std::string>{"Keep"});
}

TEST_F(ProfilesTest, ProfileFileIsCreatedOwnerOnlyAndKeepsItsMode) {
  char old[4096];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_TRUE(SetCurrentDirectoryA(dir.path().c_str()));
  LocateIniFiles();
  const std::string ftpIni = dir.path() + "/QXFTP.INI";
  struct stat st {};
  ASSERT_EQ(stat(ftpIni.c_str(), &st), 0) << g_FtpIni;
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  HOST_PROFILE p{"h", "u", "pw", "", "", ""};
  ASSERT_EQ(SaveProfile("P", p, 1), "");
  ASSERT_EQ(stat(ftpIni.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  SetCurrentDirectoryA(old);
}

TEST_F(ProfilesTest, RecentHostsNewestFirstWithoutRepeats) {
  for (const char *h : {"a", "b", "A"}) AddRecentHost(h);
  EXPECT_EQ(RecentHosts(), (std::vector<std::string>{"A", "b"}));
  AddRecentHost("");
  EXPECT_EQ(RecentHosts().size(), 2u);
  for (int i = 0; i < 10; ++i) AddRecentHost("h" + std::to_string(i));
  const auto hosts = RecentHosts();
  ASSERT_EQ(hosts.size(), 9u);
  EXPECT_EQ(hosts.front(), "h9");
  EXPECT_EQ(hosts.back(), "h1");
}

TEST_F(ProfilesTest, OptionsAndTheirDefaults) {
  FTP_OPTIONS o;
  ReadOptions(&o);
  EXPECT_EQ(o.deletePrompt, 1);
  EXPECT_EQ(o.overwritePrompt, 1);
  EXPECT_EQ(o.autoSelect, 0);
  EXPECT_EQ(o.anonymousName, DefaultAnonymousName());
  EXPECT_EQ(o.anonymousName.back(), '@');
  WriteOption("Overwrite", 0);  // read back through the key "OverWrite"
  WriteOption("AutoSelect", 1);
  WriteLastConfig("Work");
  ReadOptions(&o);
  EXPECT_EQ(o.overwritePrompt, 0);
  EXPECT_EQ(o.autoSelect, 1);
  EXPECT_EQ(o.lastConfig, "Work");
  EXPECT_TRUE(PasswordShownInClear("FTP"));
  EXPECT_TRUE(PasswordShownInClear("Anonymous"));
  EXPECT_FALSE(PasswordShownInClear("joe"));
}

}  // namespace
