// The standard classes are registered on first use, not when the drawing
// library happens to be loaded: a program linked "as needed" that names "Edit"
// and nothing else of the drawing half still gets a working edit control.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "qxtest/controls.h"
#include "qxtest/support.h"

namespace {

// Runs a program of the build and gives its output and exit status.
int RunProgram(const std::string &command, std::string &out) {
  FILE *p = popen(("timeout 60 " + command + " 2>&1").c_str(), "r");
  if (!p) return -1;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StandardClasses, AProgramThatOnlyNamesEditGetsAnEditControl) {
  std::string out;
  const int status = RunProgram(qxtest::BinDir() + "/controls_standard_class_peer", out);
  // The peer proves its own premise: the drawing library was not loaded when it started.
  EXPECT_NE(out.find("drawing library at start: no"), std::string::npos) << out;
  EXPECT_NE(out.find("text: hello world"), std::string::npos) << out;
  EXPECT_EQ(status, 0) << out;
}

TEST(StandardClasses, ClassInformationOfEveryStandardClassWithoutAWindow) {
  for (const char *name : {"Button", "STATIC", "edit", "ListBox", "ComboBox", "ScrollBar", "#32770"}) {
    WNDCLASSA wc{};
    EXPECT_TRUE(GetClassInfoA(nullptr, name, &wc)) << name;
    EXPECT_NE(wc.lpfnWndProc, nullptr) << name;
  }
  WNDCLASSA wc{};
  EXPECT_FALSE(GetClassInfoA(nullptr, "NoSuchClass", &wc));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
}

}  // namespace
