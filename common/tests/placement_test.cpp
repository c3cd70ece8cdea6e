// Window placement in the program's section of "QXAPPS.INI" and the recent
// hosts keys; the version texts of the About box from a version resource.
#include "common_fixture.h"

#include <map>

using namespace commontest;
using namespace qxtest;

namespace {

// The version resource of this test program: 3.2.0.1 with the string.
const QX_VERSION_STRING kStrings[] = {{"FileVersion", QX_VERSION_TEXT(3, 2, 0, 1)}, {"ProductName", "QX test"}};
const QX_VERSION kVersion = QX_PROGRAM_VERSION(3, 2, 0, 1, kStrings);
const QX_RESOURCE kResources[] = {QX_RES_VERSION(kVersion)};
QX_REGISTER_RESOURCES(kResources);

LRESULT CALLBACK PlainProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

HWND MakeWindow(int x, int y, int cx, int cy) {
  static bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = PlainProc;
    wc.lpszClassName = "QxCommonPlacementTest";
    return RegisterClassA(&wc) != 0;
  }();
  if (!registered) return nullptr;
  return CreateWindowA("QxCommonPlacementTest", "placement", WS_OVERLAPPEDWINDOW, x, y, cx, cy, nullptr, nullptr,
                       nullptr, nullptr);
}

// The INI file's lines without CR, in file order.
std::vector<std::string> IniLines(const std::string &path) {
  std::vector<std::string> lines;
  std::string text = LogText(path), line;
  std::istringstream in(text);
  while (std::getline(in, line))
    if (!line.empty()) lines.push_back(line);
  return lines;
}

void WriteHistory(LPCSTR ini, LPCSTR section) { WritePrivateProfileStringA(section, "History", "1", ini); }

class Placement : public ::testing::Test {
 protected:
  void SetUp() override {
    { std::ofstream(QX_APPS_INI) << "[Other]\r\nXl=5\r\n"; }
    PlacementSetup("QX220", WriteHistory);
  }
  ScratchDir scratch;
};

TEST_F(Placement, SetupFindsTheIniAlongTheSearchPath) {
  EXPECT_NE(std::string(g_PlacementIniFile).find("QXAPPS.INI"), std::string::npos);
  EXPECT_NE(std::string(g_PlacementIniFile), "QXAPPS.INI");  // a full path: found in the current directory
  EXPECT_STREQ(g_PlacementSection, "QX220");
}

TEST_F(Placement, ClosingWritesKeysInOrderWithInclusiveSize) {
  HWND w = MakeWindow(10, 20, 640, 480);
  ASSERT_NE(w, nullptr);
  RECT r;
  GetWindowRect(w, &r);
  ASSERT_EQ(r.right, 650);
  ASSERT_EQ(r.bottom, 500);
  SaveWindowPlacement(w);
  DestroyWindow(w);
  EXPECT_EQ(IniLines(QX_APPS_INI), (std::vector<std::string>{"[Other]", "Xl=5", "[QX220]", "Xl=10", "Yt=20", "Cx=641",
                                                             "Cy=481", "History=1"}));
}

TEST_F(Placement, IconicWindowWritesNothing) {
  HWND w = MakeWindow(10, 20, 640, 480);
  ASSERT_NE(w, nullptr);
  ShowWindow(w, SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(w));
  const std::string before = ReadFile(QX_APPS_INI);
  SaveWindowPlacement(w);
  DestroyWindow(w);
  EXPECT_EQ(ReadFile(QX_APPS_INI), before);
}

TEST_F(Placement, ReadAtStartGivesStoredValuesElseDefaults) {
  int x = 1, y = 2, cx = 3, cy = 4;
  ReadWindowPlacement(&x, &y, &cx, &cy);
  EXPECT_EQ((std::vector<int>{x, y, cx, cy}), (std::vector<int>{1, 2, 3, 4}));
  HWND w = MakeWindow(-30, 40, 300, 200);  // a left edge off screen is kept as it is
  SaveWindowPlacement(w);
  DestroyWindow(w);
  ReadWindowPlacement(&x, &y, &cx, &cy);
  EXPECT_EQ((std::vector<int>{x, y, cx, cy}), (std::vector<int>{-30, 40, 301, 201}));
}

TEST_F(Placement, RecentHostsUseFileKeys) {
  char hosts[3][RECENT_HOST_LEN] = {"alpha", "beta (2323)", ""};
  WriteRecentHosts(g_PlacementIniFile, "QX220", hosts, 3);
  EXPECT_EQ(IniLines(QX_APPS_INI),
            (std::vector<std::string>{"[Other]", "Xl=5", "[QX220]", "FILE_0=alpha", "FILE_1=beta (2323)"}));
  char back[9][RECENT_HOST_LEN];
  EXPECT_EQ(ReadRecentHosts(g_PlacementIniFile, "QX220", back, 9), 2);
  EXPECT_STREQ(back[0], "alpha");
  EXPECT_STREQ(back[1], "beta (2323)");
  EXPECT_STREQ(back[2], "");
}

TEST(VersionTexts, FileVersionStringAndFixedParts) {
  void *block = VerLoadInfo(GetModuleHandleA(nullptr));
  ASSERT_NE(block, nullptr);
  EXPECT_STREQ(VerQueryString(block, "\\FileVersion"), "3.2.0.1");
  EXPECT_STREQ(VerQueryString(block, "\\ProductName"), "QX test");
  EXPECT_STREQ(VerQueryString(block, "\\Missing"), "");
  DWORD v[2];
  VerGetFileVersion(block, v);
  EXPECT_EQ(v[0], 0x00030002u);
  EXPECT_EQ(v[1], 0x00000001u);
  std::snprintf(g_AboutBuildDate, sizeof g_AboutBuildDate, "%s", "Jul  5 1995");
  char version[64], compiled[64];
  AboutVersionTexts(block, version, sizeof version, compiled, sizeof compiled);
  EXPECT_STREQ(version, "3.2.0.1 (3.2.0.1)");
  EXPECT_STREQ(compiled, "3.2 (Jul  5 1995)");
  VerFreeInfo(block);
}

TEST(VersionTexts, NoBlockGivesTheFixedText) {
  EXPECT_STREQ(VerQueryString(nullptr, "\\FileVersion"), "<<no version info found>>");
  DWORD v[2] = {9, 9};
  VerGetFileVersion(nullptr, v);
  EXPECT_EQ(v[0], 0u);
  EXPECT_EQ(v[1], 0u);
  char version[64], compiled[64];
  AboutVersionTexts(nullptr, version, sizeof version, compiled, sizeof compiled);
  EXPECT_STREQ(version, "<<no version info found>> (0.0.0.0)");
  EXPECT_EQ(std::string(compiled).rfind("0.0 (", 0), 0u);
}

}  // namespace
