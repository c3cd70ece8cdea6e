// The filemover program against vsftpd on 127.0.0.1:21 of the test's own
// network namespace: the unattended download as the MIME library's hand-off
// writes its command line, and the Host and Info dialogs driven through the
// layer's automation.
#include "qxtest/automation.h"
#include "qxtest/netns.h"
#include "peer_server.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cairo.h>
#include <pwd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace ftptest;
namespace fs = std::filesystem;

namespace {

ServerDir *g_home;

class NamespaceEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::string error = qxtest::EnterOwnNetworkNamespace();
    ASSERT_TRUE(error.empty()) << error;
    // The programs' per-user tree and runtime directory belong to the test.
    g_home = new ServerDir;
    setenv("QX_HOME", (g_home->path() + "/home").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (g_home->path() + "/run").c_str(), 1);
    fs::create_directories(g_home->path() + "/run");
    fs::permissions(g_home->path() + "/run", fs::perms::owner_all);
    unsetenv("QX_DISPLAY");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
  }
  void TearDown() override { delete g_home; }
};
const auto *g_env = ::testing::AddGlobalTestEnvironment(new NamespaceEnvironment);

std::string BinDir() {
  if (const char *d = std::getenv("QX_BIN_DIR")) return d;
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).parent_path().string();
}

std::string ReadAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// filemover with these arguments, in a working directory, its standard error
// kept in a file; killed at the end if it is still running.
class Program {
 public:
  Program(const std::vector<std::string> &args, const std::string &cwd) : errors_(cwd + "/stderr.txt") {
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(cwd.c_str()) != 0) _exit(126);
      const int err = open(errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (err >= 0) dup2(err, 2);
      std::vector<std::string> argv = {BinDir() + "/filemover"};
      argv.insert(argv.end(), args.begin(), args.end());
      std::vector<char *> raw;
      for (std::string &a : argv) raw.push_back(a.data());
      raw.push_back(nullptr);
      execv(raw[0], raw.data());
      _exit(127);
    }
  }
  ~Program() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  int Pid() const { return pid_; }
  // The exit code, or -1 when it did not end within the time.
  int Wait(int seconds) {
    for (int i = 0; i < seconds * 50; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  std::string Errors() const { return ReadAll(errors_); }

 private:
  pid_t pid_ = -1;
  std::string errors_;
};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root.path().empty() || work.path().empty() || dest.path().empty());
    std::ofstream(root.path() + "/notes.txt", std::ios::binary) << "first line\nsecond line\n";
    fs::create_directory(root.path() + "/sub dir");
    std::string binary;
    for (int i = 0; i < 3000; ++i) binary += static_cast<char>(i * 7 % 256);
    std::ofstream(root.path() + "/sub dir/data.bin", std::ios::binary) << binary;
    server = std::make_unique<PeerServer>(PeerKind::kVsftpd, root.path(), work.path());
    ASSERT_TRUE(server->Error().empty()) << server->Error();
  }
  ServerDir root, work, dest;
  std::unique_ptr<PeerServer> server;
};

TEST_F(ProgramTest, UnattendedDownloadAsTheMimeLibraryStartsIt) {
  const std::string d = dest.path();
  struct Case {
    const char *what;
    std::vector<std::string> args;
    int exitCode;
    const char *file;      // expected in the local directory (nullptr: nothing new)
    const char *fromRoot;  // its content, as a path under the served root
    const char *message;   // part of the error shown
  } cases[] = {
      {"text mode, anonymous, four empty tokens",
       {"127.0.0.1", "", "", "", "", "notes.txt", d, "ASCII"},
       0,
       "notes.txt",
       "notes.txt",
       nullptr},
      {"binary from a directory with a blank",
       {"127.0.0.1", "anonymous", "", "", "sub dir", "data.bin", d, "binary"},
       0,
       "data.bin",
       "sub dir/data.bin",
       nullptr},
      {"the file exists already",
       {"127.0.0.1", "", "", "", "", "notes.txt", d, "ASCII"},
       1,
       nullptr,
       nullptr,
       "already exists"},
      {"missing tokens", {"127.0.0.1"}, 1, nullptr, nullptr, "missing"},
      {"a name that would leave the directory",
       {"127.0.0.1", "", "", "", "", "../evil", d, "ASCII"},
       1,
       nullptr,
       nullptr,
       "not a valid local file name"},
      {"no such remote file", {"127.0.0.1", "", "", "", "", "absent.txt", d, "binary"}, 1, nullptr, nullptr, "refused"},
      {"no such remote directory", {"127.0.0.1", "", "", "", "nowhere", "x", d, "binary"}, 1, nullptr, nullptr, "550"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const auto before = std::distance(fs::directory_iterator(d), fs::directory_iterator());
    Program program(c.args, work.path());
    ASSERT_EQ(program.Wait(60), c.exitCode) << program.Errors();
    if (c.file) {
      EXPECT_EQ(ReadAll(d + "/" + c.file), ReadAll(root.path() + "/" + c.fromRoot));
    } else {
      EXPECT_EQ(std::distance(fs::directory_iterator(d), fs::directory_iterator()), before);
    }
    if (c.message) {
      EXPECT_NE(program.Errors().find(c.message), std::string::npos) << program.Errors();
    }
  }
  EXPECT_FALSE(fs::exists(dest.path() + "/../evil"));
}

using qxtest::AutomationCommand;

// Repeats a command until it answers "ok..." (the window may not exist yet).
std::string AwaitOk(int pid, const std::string &command) {
  std::string answer;
  for (int i = 0; i < 100; ++i) {
    answer = AutomationCommand(pid, command);
    if (answer.rfind("ok", 0) == 0) return answer;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return answer;
}

std::string Handle(const std::string &answer) { return answer.size() > 3 ? answer.substr(3) : ""; }

TEST_F(ProgramTest, HostDialogSavesLogsInAndInfoShowsTheGreeting) {
  Program program({}, work.path());
  // The Host dialog opens at once when there is no command line.
  const std::string dialog = Handle(AwaitOk(program.Pid(), "find - Remote Host"));
  ASSERT_FALSE(dialog.empty());
  auto item = [&](int id) {
    return Handle(AutomationCommand(program.Pid(), "item " + dialog + " " + std::to_string(id)));
  };
  auto set = [&](int id, const std::string &text) {
    EXPECT_EQ(AutomationCommand(program.Pid(), "settext " + item(id) + " " + text), "ok") << id;
  };
  set(100, "Peer");
  set(101, "127.0.0.1");
  set(102, kLocalUser);
  set(103, LocalPassword());
  set(105, root.path());
  ASSERT_EQ(AutomationCommand(program.Pid(), "press " + item(107)), "ok");  // Save
  ASSERT_EQ(AutomationCommand(program.Pid(), "press " + item(1)), "ok");    // OK: connect
  // vsftpd's greeting has several lines: they go to the Info dialog.
  const std::string info = Handle(AwaitOk(program.Pid(), "find - Info"));
  ASSERT_FALSE(info.empty());
  const std::string list = Handle(AutomationCommand(program.Pid(), "item " + info + " 200"));
  std::string lines;
  for (int i = 0; i < 50 && lines.find("220 ") == std::string::npos; ++i) {
    lines = AutomationCommand(program.Pid(), "items " + list);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_NE(lines.find("220-Welcome to the test server"), std::string::npos) << lines;
  EXPECT_NE(lines.find("220-second line"), std::string::npos) << lines;
  // The profile was stored, its password scrambled, the host remembered.
  std::string profiles;
  for (int i = 0; i < 50 && profiles.find("LastConfig") == std::string::npos; ++i) {
    profiles = ReadAll(work.path() + "/QXAPPS.INI");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const std::string ftpIni = ReadAll(work.path() + "/QXFTP.INI");
  EXPECT_NE(ftpIni.find("[Peer]"), std::string::npos) << ftpIni;
  EXPECT_NE(ftpIni.find("Host=127.0.0.1"), std::string::npos) << ftpIni;
  EXPECT_EQ(ftpIni.find(LocalPassword()), std::string::npos) << "the password is stored in clear";
  EXPECT_NE(profiles.find("LastConfig=Peer"), std::string::npos) << profiles;
  std::string apps;
  for (int i = 0; i < 50 && apps.find("FILE_0") == std::string::npos; ++i) {
    apps = ReadAll(work.path() + "/QXAPPS.INI");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_NE(apps.find("FILE_0=127.0.0.1"), std::string::npos) << apps;
  // The lower pane (521: its path bar) lists the remote directory.
  const std::string frame = Handle(AwaitOk(program.Pid(), "find FtpFrameWindow -"));
  const std::string pathBar = Handle(AutomationCommand(program.Pid(), "item " + frame + " 521"));
  std::string path;
  for (int i = 0; i < 50 && path != "ok 127.0.0.1:" + root.path(); ++i) {
    path = AutomationCommand(program.Pid(), "text " + pathBar);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(path, "ok 127.0.0.1:" + root.path());
  // Closing the Info dialog, then the program through its menu.
  EXPECT_EQ(
      AutomationCommand(program.Pid(), "press " + Handle(AutomationCommand(program.Pid(), "item " + info + " 1"))),
      "ok");
  EXPECT_EQ(AutomationCommand(program.Pid(), "menu " + frame + " 50"), "ok");
  EXPECT_EQ(program.Wait(30), 0) << program.Errors();
}

TEST_F(ProgramTest, HostDialogLoadsTheLastProfileAndRefusesUnknownDeletes) {
  std::ofstream(work.path() + "/QXFTP.INI", std::ios::binary)
      << "[Home]\r\nHost=10.1.2.3\r\nUsername=ftp\r\nPassword=FF\r\n[Peer]\r\nHost=127.0.0.9\r\nUsername=joe\r\n";
  std::ofstream(work.path() + "/QXAPPS.INI", std::ios::binary) << "[Ftp]\r\nLastConfig=Peer\r\n";
  Program program({}, work.path());
  const std::string dialog = Handle(AwaitOk(program.Pid(), "find - Remote Host"));
  ASSERT_FALSE(dialog.empty());
  auto item = [&](int id) {
    return Handle(AutomationCommand(program.Pid(), "item " + dialog + " " + std::to_string(id)));
  };
  auto text = [&](int id) { return AutomationCommand(program.Pid(), "text " + item(id)); };
  EXPECT_EQ(text(101), "ok 127.0.0.9");
  EXPECT_EQ(text(102), "ok joe");
  EXPECT_EQ(AutomationCommand(program.Pid(), "items " + item(100)), "ok\nHome\nPeer");
  // Choosing the other profile loads it; an empty password shows the
  // anonymous name.
  EXPECT_EQ(AutomationCommand(program.Pid(), "select " + item(100) + " 0"), "ok");
  EXPECT_EQ(text(101), "ok 10.1.2.3");
  EXPECT_EQ(text(102), "ok ftp");
  EXPECT_NE(text(103).find("@"), std::string::npos);
  // Deleting a name that is no profile says so and changes nothing.
  EXPECT_EQ(AutomationCommand(program.Pid(), "settext " + item(100) + " Nothing"), "ok");
  EXPECT_EQ(AutomationCommand(program.Pid(), "press " + item(109)), "ok");
  EXPECT_NE(ReadAll(work.path() + "/QXFTP.INI").find("[Home]"), std::string::npos);
  // New empties the fields; Cancel connects nowhere.
  EXPECT_EQ(AutomationCommand(program.Pid(), "press " + item(108)), "ok");
  EXPECT_EQ(text(101), "ok ");
  EXPECT_EQ(AutomationCommand(program.Pid(), "press " + item(2)), "ok");
  const std::string frame = Handle(AwaitOk(program.Pid(), "find FtpFrameWindow -"));
  EXPECT_EQ(AutomationCommand(program.Pid(), "menu " + frame + " 50"), "ok");
  EXPECT_EQ(program.Wait(30), 0);
  EXPECT_NE(program.Errors().find("There is no configuration by that name to delete"), std::string::npos)
      << program.Errors();
}

// Pixels of two PNG files that differ by more than `channel` in a colour
// channel; -1 when either cannot be read or the sizes differ.
long DifferentPixels(const std::string &a, const std::string &b, int channel) {
  cairo_surface_t *x = cairo_image_surface_create_from_png(a.c_str());
  cairo_surface_t *y = cairo_image_surface_create_from_png(b.c_str());
  long differ = -1;
  if (cairo_surface_status(x) == CAIRO_STATUS_SUCCESS && cairo_surface_status(y) == CAIRO_STATUS_SUCCESS &&
      cairo_image_surface_get_width(x) == cairo_image_surface_get_width(y) &&
      cairo_image_surface_get_height(x) == cairo_image_surface_get_height(y)) {
    cairo_surface_flush(x);
    cairo_surface_flush(y);
    differ = 0;
    const int w = cairo_image_surface_get_width(x), h = cairo_image_surface_get_height(x);
    for (int row = 0; row < h; ++row) {
      const unsigned char *p = cairo_image_surface_get_data(x) + row * cairo_image_surface_get_stride(x);
      const unsigned char *q = cairo_image_surface_get_data(y) + row * cairo_image_surface_get_stride(y);
      for (int i = 0; i < w * 4; i += 4) {
        bool off = false;
        for (int c = 0; c < 3; ++c) off = off || std::abs(p[i + c] - q[i + c]) > channel;
        differ += off ? 1 : 0;
      }
    }
  }
  cairo_surface_destroy(x);
  cairo_surface_destroy(y);
  return differ;
}

// The panes through the automation: clicks with Ctrl and Shift and their
// totals, dragging the selection into a directory of the other pane and onto
// its free space, double clicks on a directory and on the path bar, and the
// local list as a picture.
TEST_F(ProgramTest, PanesSelectDragAndDoubleClick) {
  ServerDir local, remoteRoot, peerWork;
  const passwd *user = getpwnam(kLocalUser);
  ASSERT_NE(user, nullptr);
  const std::string remote = remoteRoot.path();
  fs::create_directory(remote + "/incoming");
  std::ofstream(remote + "/remote.txt") << "remote";
  for (const std::string &p : {remote, remote + "/incoming", remote + "/remote.txt"})
    ASSERT_EQ(chown(p.c_str(), user->pw_uid, user->pw_gid), 0);
  std::ofstream(local.path() + "/alpha.txt") << std::string(10, 'a');
  std::ofstream(local.path() + "/beta.bin") << std::string(20, 'b');
  std::ofstream(local.path() + "/gamma.txt") << std::string(30, 'c');
  fs::create_directory(local.path() + "/sub");
  PeerServer writable(PeerKind::kVsftpd, remote, peerWork.path(), false, "127.0.0.2", true);
  ASSERT_TRUE(writable.Error().empty()) << writable.Error();

  Program program({}, work.path());
  const int pid = program.Pid();
  const std::string dialog = Handle(AwaitOk(pid, "find - Remote Host"));
  ASSERT_FALSE(dialog.empty());
  auto item = [&](const std::string &window, int id) {
    return Handle(AutomationCommand(pid, "item " + window + " " + std::to_string(id)));
  };
  auto set = [&](int id, const std::string &text) {
    EXPECT_EQ(AutomationCommand(pid, "settext " + item(dialog, id) + " " + text), "ok");
  };
  set(101, "127.0.0.2");
  set(102, kLocalUser);
  set(103, LocalPassword());
  set(105, remote);
  set(106, local.path());
  ASSERT_EQ(AutomationCommand(pid, "press " + item(dialog, 1)), "ok");
  const std::string frame = Handle(AwaitOk(pid, "find FtpFrameWindow -"));
  const std::string list0 = item(frame, 522), list1 = item(frame, 523), path0 = item(frame, 520);
  const std::string path1 = item(frame, 521), status = item(frame, 524);
  auto waitText = [&](const std::string &window, const std::string &want) {
    std::string got;
    for (int i = 0; i < 200 && got != "ok " + want; ++i) {
      got = AutomationCommand(pid, "text " + window);
      if (got != "ok " + want) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return got.substr(std::min<size_t>(3, got.size()));
  };
  ASSERT_EQ(waitText(path1, "127.0.0.2:" + remote), "127.0.0.2:" + remote);
  const std::string info = Handle(AwaitOk(pid, "find - Info"));
  if (!info.empty()) AutomationCommand(pid, "press " + item(info, 1));

  // Rows are 18 pixels high below an empty top band of one row.
  constexpr int kRow = 18;
  auto click = [&](const std::string &list, int row, const char *how = "left") {
    return AutomationCommand(pid, "click " + list + " 30 " + std::to_string(kRow * (row + 1) + kRow / 2) + " " + how);
  };
  auto key = [&](int scan, bool down) {
    AutomationCommand(pid, "key " + list0 + " " + std::to_string(scan) + " 0 " + (down ? "down" : "up"));
  };
  // Which row a name stands in (the directories come first).
  std::string seen;  // the status texts rowOf saw, for a failure's message
  // Each click's own status text is awaited (it differs from the last).
  auto rowOf = [&](const std::string &list, const std::string &name) {
    seen.clear();
    std::string last = AutomationCommand(pid, "text " + status);
    for (int row = 0; row < 10; ++row) {
      click(list, row);
      std::string text = last;
      for (int i = 0; i < 100 && text == last; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        text = AutomationCommand(pid, "text " + status);
      }
      last = text;
      seen += text + "\n";
      if (text.find(" : " + name) != std::string::npos) return row;
    }
    return -1;
  };
  const int alpha = rowOf(list0, "alpha.txt"), gamma = rowOf(list0, "gamma.txt"), sub = rowOf(list0, "sub");
  ASSERT_GE(alpha, 0) << seen;
  ASSERT_EQ(gamma, alpha + 2);  // alpha, beta, gamma: byte order
  ASSERT_LT(sub, alpha);        // directories first

  // Click, Ctrl-click, Ctrl-Shift-click: the range adds only beta.
  click(list0, alpha);
  EXPECT_EQ(waitText(status, "10 bytes : alpha.txt"), "10 bytes : alpha.txt");
  key(0x1D, true);
  click(list0, gamma);
  EXPECT_EQ(waitText(status, "Size of selected files 40 bytes."), "Size of selected files 40 bytes.");
  key(0x2A, true);
  click(list0, alpha);
  key(0x2A, false);
  key(0x1D, false);
  EXPECT_EQ(waitText(status, "Size of selected files 60 bytes."), "Size of selected files 60 bytes.");

  // The list with its three marked entries, as a picture (checked by eye
  // once; the golden file allows small differences of font rendering).
  const std::string shot = work.path() + "/panes.png";
  ASSERT_EQ(AutomationCommand(pid, "png " + list0 + " " + shot), "ok");
  const std::string golden = qxtest::SourceDir() + "/ftp/tests/golden/marked-list.png";
  if (std::getenv("QX_UPDATE_GOLDEN")) fs::copy_file(shot, golden, fs::copy_options::overwrite_existing);
  const long differ = DifferentPixels(shot, golden, 64);
  EXPECT_GE(differ, 0) << "cannot compare " << shot << " with " << golden;
  EXPECT_LT(differ, 400) << "the marked list looks different from " << golden
                         << " (QX_KEEP_TEST_FILES=1 keeps the picture at " << shot << ")";

  // Drag the selection onto "incoming" in the other pane: asked whether to
  // copy into it, asked the mode once ("All Files"), copied there.
  const int incoming = rowOf(list1, "incoming");
  ASSERT_GE(incoming, 0);
  // Alpha marked, then gamma pressed with Ctrl and dragged: both go.
  click(list0, alpha);
  key(0x1D, true);
  EXPECT_EQ(AutomationCommand(pid, "drag " + list0 + " 30 " + std::to_string(kRow * (gamma + 1) + 9) + " " + list1 +
                                       " 30 " + std::to_string(kRow * (incoming + 1) + 9)),
            "ok");
  key(0x1D, false);
  const std::string putIn = Handle(AwaitOk(pid, "find - Do you want to copy into a directory?"));
  ASSERT_FALSE(putIn.empty());
  EXPECT_EQ(AutomationCommand(pid, "press " + item(putIn, 1)), "ok");
  const std::string mode = Handle(AwaitOk(pid, "find - Transfer Mode"));
  ASSERT_FALSE(mode.empty());
  EXPECT_EQ(AutomationCommand(pid, "press " + item(mode, 103)), "ok");  // All Files
  EXPECT_EQ(AutomationCommand(pid, "press " + item(mode, 121)), "ok");  // Binary
  // A file is complete when the program's status says the copy ended.
  auto waitFile = [&](const std::string &path, const std::string &content) {
    for (int i = 0; i < 200 && ReadAll(path) != content; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return ReadAll(path);
  };
  EXPECT_EQ(waitFile(remote + "/incoming/alpha.txt", std::string(10, 'a')), std::string(10, 'a'));
  EXPECT_EQ(waitFile(remote + "/incoming/gamma.txt", std::string(30, 'c')), std::string(30, 'c'));
  EXPECT_FALSE(fs::exists(remote + "/incoming/beta.bin"));
  EXPECT_FALSE(fs::exists(remote + "/alpha.txt"));  // into the directory, not beside it
  // The pane goes back to its directory last.
  EXPECT_EQ(waitText(status, "250 Directory successfully changed."), "250 Directory successfully changed.");

  // One file dragged onto free space of the other pane lands in its
  // directory and in its list.
  // (The press of the drag selects it: a click before it would make a
  // double click, which opens the file.)
  const int beta = alpha + 1;
  EXPECT_EQ(AutomationCommand(pid, "drag " + list0 + " 30 " + std::to_string(kRow * (beta + 1) + 9) + " " + list1 +
                                       " 30 " + std::to_string(kRow * 6 + 9)),
            "ok");
  const std::string mode2 = Handle(AwaitOk(pid, "find - Transfer Mode"));
  ASSERT_FALSE(mode2.empty());
  EXPECT_EQ(AutomationCommand(pid, "press " + item(mode2, 121)), "ok") << AutomationCommand(pid, "text " + status);
  EXPECT_EQ(waitFile(remote + "/beta.bin", std::string(20, 'b')), std::string(20, 'b'));
  EXPECT_GE(rowOf(list1, "beta.bin"), 0);

  // A double click on a remote directory changes into it and lists it.
  click(list1, incoming, "double");
  EXPECT_EQ(waitText(path1, "127.0.0.2:" + remote + "/incoming"), "127.0.0.2:" + remote + "/incoming");
  EXPECT_GE(rowOf(list1, "gamma.txt"), 0) << seen;

  // A double click on a directory enters it; one on the start of the path
  // bar goes to the top of the drive.
  const std::string before = waitText(path0, "");
  click(list0, sub, "double");
  EXPECT_EQ(waitText(path0, before + "\\sub"), before + "\\sub");
  AutomationCommand(pid, "click " + path0 + " 6 5 double");
  EXPECT_EQ(waitText(path0, before.substr(0, 3)), before.substr(0, 3));

  EXPECT_EQ(AutomationCommand(pid, "menu " + frame + " 50"), "ok");
  EXPECT_EQ(program.Wait(30), 0) << program.Errors();
}

}  // namespace
