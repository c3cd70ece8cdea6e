// INI files: one table of steps run in order on one file, then writes seen
// by other processes and writers in several processes at once.
#include <gtest/gtest.h>

#include <windows.h>

#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "test_tree.h"

namespace {

qxtest::Tree &g_tree = qxtest::TheTree();

enum Op { kRaw, kRead, kReadInt, kWrite, kReadSection, kWriteSection, kFileIs };

struct Step {
  Op op;
  const char *section;
  const char *key;
  const char *text;    // raw content, default, value or section lines ("\0"-separated, use std::string)
  size_t text_len;     // for texts with embedded NULs; 0: strlen
  DWORD size;          // buffer size of reads
  long result;         // expected return (BOOL for writes)
  const char *expect;  // expected buffer (reads) or file content (kFileIs)
  size_t expect_len;   // for lists; 0: strlen + 1
};

#define S(x) x, sizeof(x) - 1

const Step kSteps[] = {
    {kRaw, nullptr, nullptr,
     S("; settings\n[Mail]\n  Host =  smtp.example.com  \nQuoted=\"  spaced  \"\nSingle='x'\n"
       "Empty=\nNoEquals\nNum= 42 \nNeg=-3\n[Other]\nK=1\n"),
     0, 0, nullptr, 0},
    // Names without regard to case; blanks around values trimmed; one pair of quotes removed.
    {kRead, "mail", "HOST", "d", 0, 64, 16, "smtp.example.com", 0},
    {kRead, " Mail ", "quoted", "d", 0, 64, 10, "  spaced  ", 0},
    {kRead, "Mail", "Single", "d", 0, 64, 1, "x", 0},
    // An existing empty value beats the default; a missing key gives the default, trailing blanks cut.
    {kRead, "Mail", "Empty", "dflt", 0, 64, 0, "", 0},
    {kRead, "Mail", "Missing", "dflt  ", 0, 64, 4, "dflt", 0},
    {kRead, "Mail", "NoEquals", "dflt", 0, 64, 4, "dflt", 0},
    {kRead, "Nowhere", "Host", nullptr, 0, 64, 0, "", 0},
    // Truncation: size - 1 for values, size - 2 for lists.
    {kRead, "Mail", "Host", "d", 0, 5, 4, "smtp", 0},
    {kRead, "Mail", "Host", "d", 0, 1, 0, "", 0},
    {kRead, "Mail", nullptr, nullptr, 0, 100, 42, "Host\0Quoted\0Single\0Empty\0NoEquals\0Num\0Neg\0", 43},
    {kRead, nullptr, nullptr, nullptr, 0, 100, 11, "Mail\0Other\0", 12},
    {kRead, nullptr, nullptr, nullptr, 0, 8, 6, "Mail\0O\0", 8},
    {kRead, "Missing", nullptr, nullptr, 0, 100, 0, "\0", 2},
    {kReadInt, "Mail", "Num", nullptr, 0, 7, 42, nullptr, 0},
    {kReadInt, "Mail", "Neg", nullptr, 0, 7, -3, nullptr, 0},
    {kReadInt, "Mail", "Host", nullptr, 0, 7, 0, nullptr, 0},
    {kReadInt, "Mail", "Missing", nullptr, 0, 7, 7, nullptr, 0},
    {kReadInt, "Mail", "Empty", nullptr, 0, 7, 7, nullptr, 0},
    // Writing: the stored spelling of a key stays, new keys go to the end of
    // their section, new sections to the end of the file, CR LF throughout.
    {kWrite, "MAIL", "host", "new.example.com", 0, 0, TRUE, nullptr, 0},
    {kWrite, "Mail", "Added", " two words ", 0, 0, TRUE, nullptr, 0},
    {kWrite, "New Section", "Xl", "10", 0, 0, TRUE, nullptr, 0},
    {kRead, "mail", "host", "d", 0, 64, 15, "new.example.com", 0},
    {kRead, "Mail", "Added", "d", 0, 64, 9, "two words", 0},
    // Deleting a key (no value) and a section (no key).
    {kWrite, "Mail", "Single", nullptr, 0, 0, TRUE, nullptr, 0},
    {kWrite, "Mail", "NoEquals", nullptr, 0, 0, TRUE, nullptr, 0},
    {kWrite, "OTHER", nullptr, nullptr, 0, 0, TRUE, nullptr, 0},
    {kRead, "Other", "K", "gone", 0, 64, 4, "gone", 0},
    {kFileIs, nullptr, nullptr, nullptr, 0, 0, 0,
     "; settings\r\n[Mail]\r\nHost=new.example.com\r\nQuoted=\"  spaced  \"\r\n"
     "Empty=\r\nNum= 42 \r\nNeg=-3\r\nAdded= two words \r\n[New Section]\r\nXl=10\r\n",
     0},
    // Text that would change the file's structure is refused.
    {kWrite, "Mail", "Evil", "x\r\n[Injected]", 0, 0, FALSE, nullptr, 0},
    {kWrite, "Mail]x", "K", "v", 0, 0, FALSE, nullptr, 0},
    {kWrite, "Mail", "K=V", "v", 0, 0, FALSE, nullptr, 0},
    // Whole sections.
    {kWriteSection, "New Section", nullptr, S("Cx=641\0Cy=481\0"), 0, TRUE, nullptr, 0},
    {kReadSection, "new section", nullptr, nullptr, 0, 100, 14, "Cx=641\0Cy=481\0", 15},
    {kReadSection, "new section", nullptr, nullptr, 0, 10, 8, "Cx=641\0C\0", 10},
    {kWriteSection, "Made", nullptr, S("A=1\0"), 0, TRUE, nullptr, 0},
    {kRead, "made", "a", "d", 0, 64, 1, "1", 0},
    {kRead, nullptr, nullptr, nullptr, 0, 100, 22, "Mail\0New Section\0Made\0", 23},
};

TEST(Ini, TableOfSteps) {
  const char *file = "QXTEST.INI";  // no path: the Windows directory
  char win[MAX_PATH];
  GetWindowsDirectoryA(win, sizeof win);
  const std::string host = g_tree.DriveC() + "/WINDOWS/QXTEST.INI";
  int index = 0;
  for (const auto &s : kSteps) {
    SCOPED_TRACE("step " + std::to_string(index++));
    std::string text = s.text ? std::string(s.text, s.text_len ? s.text_len : std::strlen(s.text)) : "";
    char buf[256];
    std::memset(buf, '#', sizeof buf);
    switch (s.op) {
      case kRaw: qxtest::Tree::Write(host, text); break;
      case kRead: {
        DWORD n = GetPrivateProfileStringA(s.section, s.key, s.text, buf, s.size, file);
        EXPECT_EQ(static_cast<long>(n), s.result);
        size_t len = s.expect_len ? s.expect_len : std::strlen(s.expect) + 1;
        EXPECT_EQ(std::string(buf, len), std::string(s.expect, len));
        break;
      }
      case kReadInt:
        EXPECT_EQ(static_cast<long>(
                      static_cast<INT>(GetPrivateProfileIntA(s.section, s.key, static_cast<INT>(s.size), file))),
                  s.result);
        break;
      case kWrite: EXPECT_EQ(WritePrivateProfileStringA(s.section, s.key, s.text, file), s.result); break;
      case kWriteSection:
        text.push_back(0);
        EXPECT_EQ(WritePrivateProfileSectionA(s.section, text.c_str(), file), s.result);
        break;
      case kReadSection: {
        DWORD n = GetPrivateProfileSectionA(s.section, buf, s.size, file);
        EXPECT_EQ(static_cast<long>(n), s.result);
        EXPECT_EQ(std::string(buf, s.expect_len), std::string(s.expect, s.expect_len));
        break;
      }
      case kFileIs: EXPECT_EQ(qxtest::Tree::Read(host), s.expect); break;
    }
  }
}

TEST(Ini, MissingFilesAreCreatedOnWriteAndWinIniServesProfiles) {
  EXPECT_EQ(GetPrivateProfileIntA("S", "K", 5, "D:\\fresh.ini"), 5u);
  EXPECT_TRUE(WritePrivateProfileStringA("S", "K", "6", "D:\\fresh.ini"));
  EXPECT_EQ(qxtest::Tree::Read(g_tree.DriveD() + "/fresh.ini"), "[S]\r\nK=6\r\n");
  EXPECT_FALSE(WritePrivateProfileStringA("S", "K", "6", "D:\\no\\such\\dir\\x.ini"));
  // A read-only INI file is not replaced behind the attribute's back.
  ASSERT_TRUE(SetFileAttributesA("D:\\fresh.ini", FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(WritePrivateProfileStringA("S", "K", "7", "D:\\fresh.ini"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(GetPrivateProfileIntA("S", "K", 5, "D:\\fresh.ini"), 6u);
  ASSERT_TRUE(SetFileAttributesA("D:\\fresh.ini", FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(WriteProfileStringA("Windows", "QXNFSUsername", "fred"));
  char buf[32];
  EXPECT_EQ(GetProfileStringA("windows", "qxnfsusername", "", buf, sizeof buf), 4u);
  EXPECT_STREQ(buf, "fred");
  EXPECT_EQ(GetPrivateProfileStringA("Windows", "QXNFSUsername", "", buf, sizeof buf, "win.ini"), 4u);
  EXPECT_EQ(GetProfileIntA("Windows", "Nothing", 9), 9u);
}

TEST(Ini, AFileLargerThanAnIniFileIsReadButNeverRewritten) {
  const std::string host = g_tree.DriveD() + "/huge.ini";
  const std::string text = "[S]\r\nK=1\r\n" + std::string(17u << 20, ';') + "\r\n[T]\r\nL=2\r\n";
  qxtest::Tree::Write(host, text);
  EXPECT_EQ(GetPrivateProfileIntA("S", "K", 5, "D:\\huge.ini"), 1u);
  EXPECT_FALSE(WritePrivateProfileStringA("S", "K", "3", "D:\\huge.ini"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_TOO_LARGE));
  EXPECT_FALSE(WritePrivateProfileStringA("S", nullptr, nullptr, "D:\\huge.ini"));
  EXPECT_TRUE(qxtest::Tree::Read(host) == text) << "the file changed";
}

// Damaged or hostile files: a section of 300,000 keys, a header repeated
// 200,000 times and a million blank lines are each dealt with in one pass over
// the file (a key lookup, a section's deletion took hours), and a file of more
// lines than any INI file is read only that far and never rewritten.
TEST(Ini, HostileFilesAreReadInOnePass) {
  std::string keys = "[S]\r\n";
  for (int i = 0; i < 300000; ++i) keys += "K" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
  std::string headers;
  for (int i = 0; i < 200000; ++i) headers += "[S]\r\nK=1\r\n";
  headers += "[T]\r\nL=2\r\n";
  const std::string blank = std::string(1000000, '\n') + "[S]\r\nK=1\r\n";

  const struct {
    const char *name;
    std::string text;
    const char *key;    // read from section S
    UINT value;         // its value read (7: the default)
    bool delete_s;      // then delete section S
    BOOL deleted;       // what the deletion returns
    std::string after;  // the file afterwards
  } cases[] = {
      {"a section of 300,000 keys", keys, "K299999", 299999, false, TRUE, keys},
      {"a missing key of that section", keys, "K300000", 7, false, TRUE, keys},
      {"a header 200,000 times", headers, "K", 1, true, TRUE, "[T]\r\nL=2\r\n"},
      {"a million blank lines first", blank, "K", 7, true, FALSE, blank},
  };
  const std::string host = g_tree.DriveD() + "/hostile.ini";
  for (const auto &c : cases) {
    qxtest::Tree::Write(host, c.text);
    EXPECT_EQ(GetPrivateProfileIntA("S", c.key, 7, "D:\\hostile.ini"), c.value) << c.name;
    if (c.delete_s) {
      EXPECT_EQ(WritePrivateProfileStringA("S", nullptr, nullptr, "D:\\hostile.ini"), c.deleted) << c.name;
      if (!c.deleted) {
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_TOO_LARGE)) << c.name;
      }
    }
    EXPECT_TRUE(qxtest::Tree::Read(host) == c.after) << c.name << ": the file is not as expected";
  }
}

TEST(Ini, AnotherProcessReadsAFreshWrite) {
  const char *file = "D:\\shared.ini";
  for (int round = 0; round < 3; ++round) {
    std::string value = "value" + std::to_string(round);
    ASSERT_TRUE(WritePrivateProfileStringA("Share", "Key", value.c_str(), file));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      char buf[32];
      GetPrivateProfileStringA("share", "key", "", buf, sizeof buf, file);
      _exit(value == buf ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << round;
  }
}

TEST(Ini, WritersInSeveralProcessesKeepEachOthersKeys) {
  const char *file = "D:\\busy.ini";
  const int kWriters = 4, kKeys = 15;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int k = 0; k < kKeys; ++k) {
        std::string key = "W" + std::to_string(w) + "K" + std::to_string(k);
        if (!WritePrivateProfileStringA("Busy", key.c_str(), key.c_str(), file)) _exit(1);
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (pid_t c : children) {
    int status = 0;
    ASSERT_EQ(waitpid(c, &status, 0), c);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int w = 0; w < kWriters; ++w)
    for (int k = 0; k < kKeys; ++k) {
      std::string key = "W" + std::to_string(w) + "K" + std::to_string(k);
      char buf[32];
      GetPrivateProfileStringA("Busy", key.c_str(), "", buf, sizeof buf, file);
      EXPECT_EQ(key, buf);
    }
}

}  // namespace
