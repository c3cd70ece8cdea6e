// The same program shows the same pixels headless and on a real X display
// (Xvfb, through the SDL2 driver with its x11 video driver).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "qxtest/drawing.h"

namespace {

int Shell(const std::string &cmd) { return std::system(cmd.c_str()); }

TEST(DisplayXvfb, HeadlessAndX11ShowIdenticalPixels) {
  const char *bin = std::getenv("QX_BIN_DIR");
  ASSERT_NE(bin, nullptr);
  ASSERT_EQ(Shell("command -v xvfb-run >/dev/null"), 0)
      << "xvfb-run is needed (package xvfb, see .ci/packages.d/display.txt)";
  const std::string dir = ::testing::TempDir() + "xvfb-" + std::to_string(getpid());
  ASSERT_EQ(Shell("rm -rf " + dir + " && mkdir -p " + dir + "/fb"), 0);
  const std::string demo = std::string(bin) + "/display_demo";
  ASSERT_EQ(
      Shell("env -u DISPLAY QX_DISPLAY=headless QX_AUTOMATION=0 " + demo + " " + dir + "/headless.png >/dev/null"), 0);
  // Its own starting display number, as the clipboard test has: two
  // xvfb-run -a started at once both try display 99 first.
  const std::string x11 =
      "xvfb-run -a -n " + std::to_string(100 + getpid() % 800) + " -s '-screen 0 1024x768x24 -fbdir " + dir +
      "/fb' env QX_DISPLAY=sdl SDL_VIDEODRIVER=x11 QX_AUTOMATION=0 QX_XWD_FILE=" + dir + "/fb/Xvfb_screen0 " + demo +
      " " + dir + "/sdl.png " + dir + "/screen.png > " + dir + "/out.txt 2>&1";
  ASSERT_EQ(Shell(x11), 0) << "see " << dir << "/out.txt";
  ASSERT_EQ(Shell("grep -q 'driver sdl' " + dir + "/out.txt"), 0) << "the SDL2 driver ran on the X display";
  EXPECT_EQ(Shell("grep -q 'screen yes' " + dir + "/out.txt"), 0) << "a program knows its windows reach a screen";
  qx::gdi::Surface headless, sdl, screen;
  ASSERT_TRUE(qx::gdi::ReadPng(dir + "/headless.png", headless));
  ASSERT_TRUE(qx::gdi::ReadPng(dir + "/sdl.png", sdl));
  ASSERT_TRUE(qx::gdi::ReadPng(dir + "/screen.png", screen));
  EXPECT_EQ(qx::test::CompareSurfaces(headless, sdl, 0, 0.0), "") << "the layer drew the same pixels";
  EXPECT_EQ(qx::test::CompareSurfaces(headless, screen, 0, 0.0), "") << "the X display shows them unchanged";
  Shell("rm -rf " + dir);
}

// Whether a program's windows reach a screen: not headless, and not when the X
// display named cannot be opened (SDL2 would draw into its offscreen driver).
TEST(DisplayXvfb, ProgramsKnowWhenNoScreenShowsTheirWindows) {
  const char *bin = std::getenv("QX_BIN_DIR");
  ASSERT_NE(bin, nullptr);
  const std::string dir = ::testing::TempDir() + "noscreen-" + std::to_string(getpid());
  ASSERT_EQ(Shell("rm -rf " + dir + " && mkdir -p " + dir), 0);
  const std::string demo = std::string(bin) + "/display_demo " + dir + "/w.png > " + dir + "/out.txt 2>&1";
  struct Case {
    const char *what, *env, *driver;
  } cases[] = {
      {"headless", "env -u DISPLAY QX_DISPLAY=headless", "headless"},
      {"an X display that is not there", "env -u SDL_VIDEODRIVER QX_DISPLAY=sdl DISPLAY=:4093", "headless"},
  };
  for (const Case &c : cases) {
    ASSERT_EQ(Shell(std::string(c.env) + " QX_AUTOMATION=0 " + demo), 0) << c.what;
    EXPECT_EQ(Shell("grep -q 'driver " + std::string(c.driver) + "' " + dir + "/out.txt"), 0) << c.what;
    EXPECT_EQ(Shell("grep -q 'screen no' " + dir + "/out.txt"), 0) << c.what;
  }
  Shell("rm -rf " + dir);
}

}  // namespace
