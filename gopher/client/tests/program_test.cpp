// The burrowview program against gophernicus on 127.0.0.1:70 of the test's
// own network namespace, driven through the layer's automation on the
// headless display: the home server's tree, a menu expanded, a text shown in
// the document list, a search, telnet items handed to a recording stand-in
// for the terminal (a hostile one refused), and Exit saving the placement.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include "burrowview_automation.h"
#include "gophernicus_peer.h"
#include "qx/gdi.h"
#include "qxtest/automation.h"
#include "qxtest/netns.h"
#include "qxtest/support.h"
#include "test_media.h"

namespace {

const auto *g_network = ::testing::AddGlobalTestEnvironment(new qxtest::OwnLoopbackNetwork);

// burrowview in a working directory, its standard error in a file; killed at
// the end if it still runs.
class Program {
 public:
  explicit Program(const std::string &cwd) : errors_(cwd + "/stderr.txt") {
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(cwd.c_str()) != 0) _exit(126);
      const int err = open(errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (err >= 0) dup2(err, 2);
      const std::string path = qxtest::BinDir() + "/burrowview";
      execl(path.c_str(), path.c_str(), static_cast<char *>(nullptr));
      _exit(127);
    }
  }
  ~Program() {
    if (pid_ > 0) qxtest::StopProcess(pid_, 2000);
  }
  int Pid() const { return pid_; }
  std::string Errors() const { return qxtest::ReadFile(errors_); }
  // The exit status once it ended within the time, else -1.
  int Wait(int timeoutMs) {
    int status = 0;
    const bool ended = qxtest::WaitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeoutMs);
    if (!ended) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  std::string errors_;
};

using gophertest::DoubleClickRow;
using gophertest::WaitForCount;
using qxtest::AutomationCommand;

std::string Handle(const std::string &answer) { return answer.rfind("ok ", 0) == 0 ? answer.substr(3) : ""; }

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.Error().empty()) << peer.Error();
    setenv("QX_HOME", (work.path() + "/home").c_str(), 1);
    setenv("QX_RUNTIME_DIR", runtime.path().c_str(), 1);
    setenv("QX_DISPLAY", "headless", 1);
    setenv("TEMP", (work.path() + "/tmp").c_str(), 1);
    unsetenv("QX_AUTOMATION");
    unsetenv("DISPLAY");
    ASSERT_EQ(mkdir((work.path() + "/tmp").c_str(), 0700), 0);
    ASSERT_TRUE(qxtest::WriteFile(work.path() + "/QXAPPS.INI",
                                  "[burrowview]\r\nInitialAction=0\r\nHomeGopherHost=127.0.0.1\r\n"
                                  "UserTelnet=termrec.sh %h /p=%p /l=%u /once\r\n"));
    // The terminal's stand-in records the words it was started with.
    ASSERT_TRUE(qxtest::WriteFile(work.path() + "/termrec.sh",
                                  "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$(dirname \"$0\")/"
                                  "terminal-args.txt\"\n"));
    ASSERT_EQ(chmod((work.path() + "/termrec.sh").c_str(), 0755), 0);
  }

  // The main window and the client area's lists, once the program shows them.
  struct Windows {
    std::string main, client, tree, document;
  };
  static Windows FindWindows(Program &program) {
    Windows w;
    const int pid = program.Pid();
    EXPECT_TRUE(qxtest::WaitUntil(
        [&] { return !(w.main = Handle(AutomationCommand(pid, "find burrowview burrowview - 127.0.0.1"))).empty(); },
        15000))
        << program.Errors();
    w.client = Handle(AutomationCommand(pid, "item " + w.main + " 200"));
    w.tree = Handle(AutomationCommand(pid, "item " + w.client + " 203"));
    w.document = Handle(AutomationCommand(pid, "item " + w.client + " 204"));
    EXPECT_FALSE(w.tree.empty() || w.document.empty());
    return w;
  }

  // The tune (Sun audio, mu-law) served beside the documents, a 3-second
  // pre-buffer in the INI file, and burrowview started on the given SDL
  // audio driver (the disk driver writing to `played`); the samples it plays.
  std::string ServeTuneAndStart(const char *driver, const std::string &played, std::unique_ptr<Program> *program);

  gophertest::GophernicusPeer peer;
  qxtest::TempDir work{"qx-burrowview"};
  qxtest::TempDir runtime{"qx-burrowview-rt"};
};

TEST_F(ProgramTest, BrowsesTheTreeAndHandsTelnetItemsToTheTerminal) {
  Program program(work.path());
  const int pid = program.Pid();
  const Windows w = FindWindows(program);
  ASSERT_FALSE(HasFailure());
  const std::string &main = w.main, &tree = w.tree, &document = w.document;

  // The root and its six items: welcome, Documents, search, big menu, two terminals.
  ASSERT_EQ(WaitForCount(pid, tree, 7), 7) << program.Errors();

  DoubleClickRow(pid, tree, 2);  // Documents
  ASSERT_EQ(WaitForCount(pid, tree, 9), 9) << program.Errors();
  // Enter opens the selected item as a double-click does.
  ASSERT_EQ(AutomationCommand(pid, "select " + tree + " 3"), "ok");  // The manual
  ASSERT_EQ(AutomationCommand(pid, "key " + tree + " 28 0 down"), "ok");
  ASSERT_EQ(AutomationCommand(pid, "key " + tree + " 28 0 up"), "ok");
  EXPECT_EQ(WaitForCount(pid, document, 200), 200) << program.Errors();
  DoubleClickRow(pid, tree, 2);  // Documents collapses
  ASSERT_EQ(WaitForCount(pid, tree, 7), 7);

  DoubleClickRow(pid, tree, 3);  // the search asks for words
  std::string search;
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] { return !(search = Handle(AutomationCommand(pid, "find - Index Search"))).empty(); }, 10000));
  ASSERT_EQ(
      AutomationCommand(pid, "settext " + Handle(AutomationCommand(pid, "item " + search + " 600")) + " gopher holes"),
      "ok");
  ASSERT_EQ(AutomationCommand(pid, "press " + Handle(AutomationCommand(pid, "item " + search + " 1"))), "ok");
  ASSERT_EQ(WaitForCount(pid, tree, 8), 8) << program.Errors();

  DoubleClickRow(pid, tree, 6);  // the library's terminal (rows shifted by the hit)
  const std::string args = work.path() + "/terminal-args.txt";
  ASSERT_TRUE(qxtest::WaitUntil([&] { return !qxtest::ReadFile(args).empty(); }, 10000)) << program.Errors();
  EXPECT_EQ(qxtest::ReadFile(args), "library.example\n/p=2323\n/l=guest\n/once\n");

  unlink(args.c_str());
  DoubleClickRow(pid, tree, 7);  // the hostile one
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] { return program.Errors().find("cannot be handed to the terminal safely") != std::string::npos; }, 10000))
      << program.Errors();
  EXPECT_TRUE(qxtest::ReadFile(args).empty());

  ASSERT_EQ(AutomationCommand(pid, "menu " + main + " 106"), "ok");  // Exit
  EXPECT_EQ(program.Wait(10000), 0) << program.Errors();
  const std::string ini = qxtest::ReadFile(work.path() + "/QXAPPS.INI");
  EXPECT_NE(ini.find("Location="), std::string::npos) << ini;
  EXPECT_NE(ini.find("Cx="), std::string::npos) << ini;
  // A second run keeps the size the first one saved: no creeping placement.
  auto key = [](const std::string &text, const char *name) {
    const size_t at = text.find(std::string(name) + "=");
    return at == std::string::npos ? std::string() : text.substr(at, text.find_first_of("\r\n", at) - at);
  };
  {
    Program again(work.path());
    std::string window;
    ASSERT_TRUE(qxtest::WaitUntil(
        [&] {
          return !(window = Handle(AutomationCommand(again.Pid(), "find burrowview burrowview - 127.0.0.1"))).empty();
        },
        15000))
        << again.Errors();
    ASSERT_EQ(AutomationCommand(again.Pid(), "menu " + window + " 106"), "ok");
    EXPECT_EQ(again.Wait(10000), 0) << again.Errors();
  }
  const std::string second = qxtest::ReadFile(work.path() + "/QXAPPS.INI");
  EXPECT_EQ(key(second, "Cx"), key(ini, "Cx"));
  EXPECT_EQ(key(second, "Cy"), key(ini, "Cy"));
  EXPECT_FALSE(key(ini, "Cx").empty());
  // The private temporary folder goes with the program.
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(work.path() + "/tmp"), std::filesystem::directory_iterator()),
      0);
}

// A GIF item shown in the document list (one row per band of 16 lines, the
// picture's pixels on the screen) and printed with the Print button to the
// PDF printer.
TEST_F(ProgramTest, ShowsAndPrintsAPicture) {
  ASSERT_TRUE(qxtest::WriteFile(peer.Root() + "/docs/picture.gif", gophertest::TestGif(true)));
  ASSERT_TRUE(qxtest::WriteFile(
      peer.Root() + "/docs/gophermap",
      qxtest::ReadFile(peer.Root() + "/docs/gophermap") + "gA picture\t/docs/picture.gif\t127.0.0.1\t70\r\n"));
  const std::string pdf = work.path() + "/pdf";
  ASSERT_EQ(mkdir((work.path() + "/home").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(pdf.c_str(), 0700), 0);
  ASSERT_TRUE(qxtest::WriteFile(work.path() + "/home/printers.ini",
                                "[default]\nPrinter=Print to PDF\nPaper=A4\n[folders]\nPDF=" + pdf + "\n"));
  setenv("CUPS_SERVER", (work.path() + "/no-cups.sock").c_str(), 1);
  Program program(work.path());
  const int pid = program.Pid();
  const Windows w = FindWindows(program);
  ASSERT_FALSE(HasFailure());
  const std::string &main = w.main, &client = w.client, &tree = w.tree, &document = w.document;
  ASSERT_EQ(WaitForCount(pid, tree, 7), 7) << program.Errors();
  DoubleClickRow(pid, tree, 2);  // Documents: the manual, the data, the picture
  ASSERT_EQ(WaitForCount(pid, tree, 10), 10) << program.Errors();
  DoubleClickRow(pid, tree, 5);
  ASSERT_EQ(WaitForCount(pid, document, 3), 3) << program.Errors();  // 40 lines in bands of 16

  // The picture is somewhere near the list's top left corner, whole and in
  // display order (it is interlaced in the file), once the list has painted.
  const std::string shot = work.path() + "/document.png";
  qx::gdi::Surface s;
  auto pictureAt = [&](int ox, int oy) {
    for (int y = 0; y < gophertest::kPictureH; ++y)
      for (int x = 0; x < gophertest::kPictureW; ++x)
        if (!s.Contains(ox + x, oy + y) || s.Get(ox + x, oy + y) != gophertest::PictureColourAt(x, y)) return false;
    return true;
  };
  auto shown = [&] {
    if (AutomationCommand(pid, "png " + document + " " + shot) != "ok" || !qx::gdi::ReadPng(shot, s)) return false;
    for (int oy = 0; oy < 8; ++oy)
      for (int ox = 0; ox < 8; ++ox)
        if (pictureAt(ox, oy)) return true;
    return false;
  };
  EXPECT_TRUE(qxtest::WaitUntil(shown, 10000)) << "the picture is not in " << shot;

  const std::string print = Handle(AutomationCommand(pid, "item " + client + " 206"));
  ASSERT_EQ(AutomationCommand(pid, "press " + print), "ok");
  const std::string printed = pdf + "/Gopher-Gif.pdf";
  EXPECT_TRUE(qxtest::WaitUntil([&] { return std::filesystem::exists(printed); }, 15000)) << program.Errors();
  ASSERT_EQ(AutomationCommand(pid, "menu " + main + " 106"), "ok");  // Exit
  EXPECT_EQ(program.Wait(10000), 0) << program.Errors();
}

// A sound item played by the program through SDL's disk driver after the
// pre-buffer the INI file chose; with "Save To File" from the Sound menu the
// next one asks for a file name instead.
std::string ProgramTest::ServeTuneAndStart(const char *driver, const std::string &played,
                                           std::unique_ptr<Program> *program) {
  const std::string mulaw = gophertest::SoundPattern(6000, 7);
  const std::string root = peer.Root(), home = work.path();
  EXPECT_TRUE(qxtest::WriteFile(root + "/docs/tune.au", gophertest::SunAudio(1, 8000, 1, mulaw)));
  EXPECT_TRUE(qxtest::WriteFile(root + "/docs/gophermap", qxtest::ReadFile(root + "/docs/gophermap") +
                                                              "sA tune\t/docs/tune.au\t127.0.0.1\t70\r\n"));
  EXPECT_TRUE(qxtest::WriteFile(home + "/QXAPPS.INI", qxtest::ReadFile(home + "/QXAPPS.INI") + "SecondsOfSound=3\r\n"));
  setenv("SDL_AUDIODRIVER", driver, 1);
  setenv("SDL_DISKAUDIOFILE", played.c_str(), 1);
  *program = std::make_unique<Program>(home);
  unsetenv("SDL_DISKAUDIOFILE");
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  return gophertest::MulawPlayed(mulaw);
}

TEST_F(ProgramTest, PlaysASoundItemAndSavesOnRequest) {
  const std::string played = work.path() + "/played.raw";
  std::unique_ptr<Program> started;
  const std::string samples = ServeTuneAndStart("disk", played, &started);
  Program &program = *started;
  const int pid = program.Pid();
  const Windows w = FindWindows(program);
  ASSERT_FALSE(HasFailure());
  ASSERT_EQ(WaitForCount(pid, w.tree, 7), 7) << program.Errors();
  DoubleClickRow(pid, w.tree, 2);  // Documents: the manual, the data, the tune
  ASSERT_EQ(WaitForCount(pid, w.tree, 10), 10) << program.Errors();
  DoubleClickRow(pid, w.tree, 5);
  EXPECT_TRUE(qxtest::WaitUntil([&] { return qxtest::ReadFile(played).find(samples) != std::string::npos; }, 15000))
      << program.Errors();

  ASSERT_EQ(AutomationCommand(pid, "menu " + w.main + " 120"), "ok");  // Save To File
  DoubleClickRow(pid, w.tree, 5);
  std::string save;
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] { return !(save = Handle(AutomationCommand(pid, "find - Save Document"))).empty(); }, 10000))
      << program.Errors();
  ASSERT_EQ(AutomationCommand(pid, "press " + Handle(AutomationCommand(pid, "item " + save + " 2"))), "ok");
  ASSERT_EQ(AutomationCommand(pid, "menu " + w.main + " 106"), "ok");  // Exit
  EXPECT_EQ(program.Wait(10000), 0) << program.Errors();
  EXPECT_NE(qxtest::ReadFile(work.path() + "/QXAPPS.INI").find("SecondsOfSound=0"), std::string::npos);
}

// No sound device can be opened (an audio driver SDL does not have): the
// sound item is offered for saving instead, and nothing is played.
TEST_F(ProgramTest, SavesASoundItemWhenNoDeviceOpens) {
  const std::string played = work.path() + "/played.raw";
  std::unique_ptr<Program> started;
  ServeTuneAndStart("no-such-driver", played, &started);
  Program &program = *started;
  const int pid = program.Pid();
  const Windows w = FindWindows(program);
  ASSERT_FALSE(HasFailure());
  ASSERT_EQ(WaitForCount(pid, w.tree, 7), 7) << program.Errors();
  DoubleClickRow(pid, w.tree, 2);
  ASSERT_EQ(WaitForCount(pid, w.tree, 10), 10) << program.Errors();
  DoubleClickRow(pid, w.tree, 5);
  std::string save;
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] { return !(save = Handle(AutomationCommand(pid, "find - Save Document"))).empty(); }, 10000))
      << program.Errors();
  ASSERT_EQ(AutomationCommand(pid, "press " + Handle(AutomationCommand(pid, "item " + save + " 2"))), "ok");
  EXPECT_FALSE(std::filesystem::exists(played));
  ASSERT_EQ(AutomationCommand(pid, "menu " + w.main + " 106"), "ok");  // Exit
  EXPECT_EQ(program.Wait(10000), 0) << program.Errors();
}

}  // namespace
