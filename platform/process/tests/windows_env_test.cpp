// The Windows variables a program expects (SystemRoot, windir, USERNAME,
// TEMP, ...) and ExpandEnvironmentStringsA, in a private QX_HOME.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {

std::string Var(const char *name) {
  char buf[MAX_PATH];
  const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n && n < sizeof buf ? std::string(buf) : std::string("<unset>");
}

std::string Expand(const char *text) {
  char buf[512];
  const DWORD n = ExpandEnvironmentStringsA(text, buf, sizeof buf);
  EXPECT_GT(n, 0u);
  return n <= sizeof buf ? std::string(buf) : std::string("<too long>");
}

class WindowsEnvironment : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/qxenv-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    home_ = tmpl;
    setenv("QX_HOME", home_.c_str(), 1);
    unsetenv("QX_WINDOWS_DIR");
    for (const char *name : {"SystemRoot", "windir", "USERNAME", "TEMP", "TMP", "COMPUTERNAME", "OS"}) unsetenv(name);
  }
  static void TearDownTestSuite() { (void)!system(("rm -rf " + home_).c_str()); }
  static std::string home_;
};
std::string WindowsEnvironment::home_;

TEST_F(WindowsEnvironment, LayerSuppliesTheWindowsVariables) {
  char windows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(windows, sizeof windows), 0u);
  EXPECT_EQ(Var("SystemRoot"), windows);
  EXPECT_EQ(Var("WINDIR"), windows);  // names are found without regard to case
  EXPECT_EQ(Var("SystemDrive"), std::string(windows, 2));
  char user[256];
  DWORD size = sizeof user;
  ASSERT_TRUE(GetUserNameA(user, &size));
  EXPECT_EQ(Var("USERNAME"), user);
  EXPECT_EQ(Var("OS"), "Windows_NT");
  // TEMP is GetTempPath without its final backslash.
  char temp[MAX_PATH];
  ASSERT_GT(GetTempPathA(sizeof temp, temp), 3u);
  std::string t(temp);
  t.pop_back();
  EXPECT_EQ(Var("TEMP"), t);
  EXPECT_EQ(Var("NO_SUCH_VARIABLE_QX"), "<unset>");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
  // The host environment is left as it was, for children that are not Windows programs.
  EXPECT_EQ(getenv("SystemRoot"), nullptr);
}

TEST_F(WindowsEnvironment, HostValuesWinAndHostTempIsShownAsAWindowsPath) {
  setenv("USERNAME", "alice", 1);
  setenv("TEMP", "/var/tmp", 1);
  EXPECT_EQ(Var("USERNAME"), "alice");
  EXPECT_EQ(Var("TEMP"), "Z:\\var\\tmp");
  setenv("TEMP", "D:\\scratch", 1);
  EXPECT_EQ(Var("TEMP"), "D:\\scratch");
  unsetenv("USERNAME");
  unsetenv("TEMP");
}

TEST_F(WindowsEnvironment, ExpandTable) {
  setenv("QXA", "one", 1);
  setenv("QX_EMPTY", "", 1);
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, sizeof windows);
  const struct {
    const char *in;
    std::string out;
  } cases[] = {
      {"%SystemRoot%\\System32", std::string(windows) + "\\System32"},
      {"%qxa%-%QXA%", "one-one"},
      {"x%QX_EMPTY%y", "xy"},
      {"%NO_SUCH_QX%\\a", "%NO_SUCH_QX%\\a"},
      {"100%", "100%"},
      {"%%", "%%"},
      {"50%%QXA%", "50%one"},
      {"a%QXA", "a%QXA"},
      {"", ""},
  };
  for (const auto &c : cases) EXPECT_EQ(Expand(c.in), c.out) << c.in;

  // Too small: the size needed comes back and nothing past the buffer is written.
  char small[8] = "#######";
  EXPECT_EQ(ExpandEnvironmentStringsA("%QXA%%QXA%%QXA%", small, 4), 10u);
  EXPECT_EQ(small[4], '#');
  EXPECT_EQ(ExpandEnvironmentStringsA("%QXA%", nullptr, 0), 4u);
}

}  // namespace
