// The About box in a program of the suite's shape: the demo opens it, the
// texts come from its version resource and Winsock, and the box is saved as
// a PNG through the layer's automation before Enter closes it.
#include "qxtest/automation.h"
#include "common_fixture.h"
#include "qx/gdi.h"

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace commontest;
using namespace qxtest;

namespace {

std::string BinDir() {
  if (const char *d = std::getenv("QX_BIN_DIR")) return d;
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
}

// The demo with a pipe on its output; killed and reaped at the end.
struct Demo {
  pid_t pid = -1;
  int out = -1;
  explicit Demo(const std::string &path) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid = fork();
    if (pid == 0) {
      dup2(fds[1], 1);
      execl(path.c_str(), path.c_str(), "/about", static_cast<char *>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    out = fds[0];
  }
  // Output lines until `count` are there or ten seconds pass.
  std::string ReadLines(int count) {
    std::string text;
    for (int waited = 0; waited < 100 && std::count(text.begin(), text.end(), '\n') < count; ++waited) {
      pollfd p{out, POLLIN, 0};
      if (poll(&p, 1, 100) == 1) {
        char buf[512];
        const ssize_t n = read(out, buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
      }
    }
    return text;
  }
  int Wait() {
    int status = 0;
    for (int waited = 0; waited < 1000; ++waited) {
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(10000);
    }
    return -2;
  }
  ~Demo() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
  }
};

TEST(AboutBox, ShowsVersionWinsockAndDateAndSavesPng) {
  ScratchDir scratch;
  Demo demo(BinDir() + "/common_about_demo");
  ASSERT_GT(demo.pid, 0);
  const std::string texts = demo.ReadLines(3);
  EXPECT_NE(texts.find("1002=3.2.0.1 (3.2.0.1)\n"), std::string::npos) << texts;
  EXPECT_NE(texts.find("1004=3.2 (Jul  5 1995)\n"), std::string::npos) << texts;
  const auto network = texts.find("1003=");
  ASSERT_NE(network, std::string::npos) << texts;
  EXPECT_GT(texts.find('\n', network), network + 5) << "a Winsock description";

  std::string found;
  for (int tries = 0; tries < 50 && found.rfind("ok ", 0) != 0; ++tries) {
    found = AutomationCommand(demo.pid, "find - About");
    if (found.rfind("ok ", 0) != 0) usleep(100000);
  }
  ASSERT_EQ(found.rfind("ok ", 0), 0u) << found;
  const std::string hwnd = found.substr(3);
  const std::filesystem::path png = scratch.dir() / "about.png";
  EXPECT_EQ(AutomationCommand(demo.pid, "png " + hwnd + " " + png.string()).rfind("ok", 0), 0u);
  // The picture is the dialog as drawn: a real image of dialog size with its
  // texts in dark pixels on the face colour, not an empty or blank file.
  qx::gdi::Surface shot;
  ASSERT_TRUE(qx::gdi::ReadPng(png.string(), shot)) << "the saved file is not a readable PNG";
  EXPECT_GE(shot.width, 150);
  EXPECT_GE(shot.height, 80);
  size_t dark = 0;
  for (std::uint32_t px : shot.px)
    if (((px >> 16) & 0xFF) + ((px >> 8) & 0xFF) + (px & 0xFF) < 3 * 0x40) ++dark;
  EXPECT_GT(dark * 200, shot.px.size()) << "under half a percent of dark pixels: no text drawn";
  EXPECT_LT(dark * 3, shot.px.size()) << "a third or more dark: not a dialog face";
  if (const char *keep = std::getenv("QX_ABOUT_PNG"))
    std::filesystem::copy_file(png, keep, std::filesystem::copy_options::overwrite_existing);

  AutomationCommand(demo.pid, "key " + hwnd + " 28 0 DOWN");  // Enter: the OK button
  AutomationCommand(demo.pid, "key " + hwnd + " 28 0 UP");
  EXPECT_EQ(demo.Wait(), 0);
}

}  // namespace
