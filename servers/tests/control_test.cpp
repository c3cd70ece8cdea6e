// portwarden's Control and Configure dialogs driven as a person would, through
// the layer's automation on the headless display: control 128 of the running
// service opens them, and every change is checked where it shows (the list,
// the listeners, the table file, the event log, the message boxes' texts).
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <windows.h>

#include "portwarden_fixture.h"
#include "qxtest/automation.h"
#include "qxtest/drawing.h"

namespace {

using namespace pwtest;
using qxtest::AutomationAwaitOk;
using qxtest::AutomationValue;

// The path of a file of the test as the layer names it ("Z:\\tmp\\...").
std::string WindowsPath(std::string path) {
  for (char &c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}

// Little-endian bytes of a table file record, written out by hand.
std::string Le(unsigned value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; i++) out.push_back((char)((value >> (8 * i)) & 0xFF));
  return out;
}

std::string StoredString(const std::string &text) { return Le((unsigned)text.size() + 1, 4) + text + '\0'; }

class ControlDialogTest : public PortwardenTest {
 protected:
  void SetUp() override {
    PortwardenTest::SetUp();
    // The headless display with its automation socket; message boxes print
    // "[caption] text" on the service's standard error and answer at once.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QX_DISPLAY");
    unsetenv("QX_AUTOMATION");
    unsetenv("QX_MSGBOX");
    unsetenv("QX_MSGBOX_ANSWER");
    captureErrors_ = true;
    // Ports of their own: the super-server's peer test may run beside this one,
    // and its ports lie at 20000 and above.
    port_ = 12000 + (int)(getpid() % 1000) * 8;
  }

  // The service in the foreground of this test, registered so that the
  // service manager's tool can send it control 128.
  void StartService() {
    int status = 0;
    std::string out =
        Shell("'" + BinDir() + "/qxsc' create 'Q&Xportwarden' '" + BinDir() + "/portwarden' 2>&1", &status);
    ASSERT_EQ(status, 0) << out;
    Start();
    ASSERT_TRUE(WaitFor(
        [&] { return Shell("'" + BinDir() + "/qxsc' query 'Q&Xportwarden'").find("RUNNING") != std::string::npos; },
        10000));
  }

  std::string Auto(const std::string &command) { return qxtest::AutomationCommand(pid_, command); }

  // Control 128, and the Control dialog's window once it shows.
  std::string OpenControl() {
    int status = 0;
    std::string out = Shell("'" + BinDir() + "/qxsc' control 'Q&Xportwarden' 128 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    return AutomationValue(AutomationAwaitOk(pid_, "find - Portwarden Configuration", 20000));
  }

  std::string Item(const std::string &dialog, int id) {
    return AutomationValue(Auto("item " + dialog + " " + std::to_string(id)));
  }
  std::string Press(const std::string &dialog, int id) { return Auto("press " + Item(dialog, id)); }
  // A button whose action opens a modal dialog is clicked (the click returns at once).
  std::string Click(const std::string &dialog, int id) { return Auto("click " + Item(dialog, id) + " 4 4"); }
  std::string Text(const std::string &dialog, int id) { return Auto("text " + Item(dialog, id)); }
  std::string SetText(const std::string &dialog, int id, const std::string &text) {
    return Auto("settext " + Item(dialog, id) + " " + text);
  }
  std::string State(const std::string &dialog, int id) { return Auto("state " + Item(dialog, id)); }
  std::string Lines(const std::string &dialog) { return Auto("items " + Item(dialog, 101)); }
  std::string Select(const std::string &dialog, int line) {
    return Auto("select " + Item(dialog, 101) + " " + std::to_string(line));
  }

  // Message boxes shown so far with this caption and text.
  int Boxes(const std::string &caption, const std::string &text) {
    const std::string errors = Errors(), line = "[" + caption + "] " + text;
    int count = 0;
    for (size_t at = errors.find(line); at != std::string::npos; at = errors.find(line, at + 1)) count++;
    return count;
  }

  bool Listening(int port) {
    int s = TcpConnect(port);
    if (s < 0) return false;
    close(s);
    return true;
  }

  // The daemon behind the port greets a client with "ok".
  std::string Greeting(int port) {
    int s = TcpConnect(port);
    if (s < 0) return "(refused)";
    std::string line = ReadLine(s);
    close(s);
    return line;
  }

  // The dialog saved as a picture, compared with its golden picture.
  void ComparePicture(const std::string &dialog, const std::string &name) {
    const std::string actual = std::filesystem::current_path().string() + "/" + name + ".actual.png";
    // Painting goes on after the dialog shows: the picture counts once two in a row agree.
    std::string previous;
    ASSERT_TRUE(WaitFor(
        [&] {
          if (Auto("png " + dialog + " " + actual) != "ok") return false;
          std::string now = ReadFile(actual);
          bool same = !now.empty() && now == previous;
          previous = now;
          if (!same) std::this_thread::sleep_for(std::chrono::milliseconds(100));
          return same;
        },
        5000));
    qx::gdi::Surface picture;
    ASSERT_TRUE(qx::gdi::ReadPng(actual, picture)) << actual;
    const std::string why = qx::test::CompareGoldenIn(picture, qxtest::SourceDir() + "/servers/tests/golden", name);
    EXPECT_EQ(why, "") << name;
    if (why.empty()) std::filesystem::remove(actual);
  }
};

// A TCP listener of the test's own on a port, as another program would hold it.
int HoldPort(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons((uint16_t)port);
  if (bind(s, (sockaddr *)&address, sizeof address) != 0 || listen(s, 1) != 0) {
    close(s);
    return -1;
  }
  return s;
}

}  // namespace

// The whole road of a person at the dialogs: Add (with its refusals), Enable
// (a client then connects), Disable and Enable again, Configure, the Enable
// failure texts with and without logging, Delete, Save (the file's bytes),
// ReLoad after an outside edit and of a damaged file, Defaults, Close.
TEST_F(ControlDialogTest, DrivenAsAPersonWould) {
  const int p = port_;
  Table("set 12 name=echo program=servers_testd proto=tcp port=" + std::to_string(p) + " max=2");
  const std::string original = ReadFile(dir_ + "/PORTWARDEN.CFG");
  HANDLE closed = CreateEventA(nullptr, FALSE, FALSE, "PortwardenControl");
  ASSERT_NE(closed, nullptr);
  StartService();
  const std::string control = OpenControl();
  ASSERT_FALSE(control.empty()) << Errors();

  EXPECT_EQ(Lines(control),
            "ok\nhaulerd\nburrowserve\nconsoled\nwhoanswer\nLpd\nquipserve\nclockanswer\n"
            "nameanswer\noldparleyd\nparleyd\nlightfiles\nstartanswer\necho");
  EXPECT_NE(State(control, 101).find("sel=0 count=13"), std::string::npos);
  EXPECT_NE(State(control, 103).find("enabled=1"), std::string::npos);  // Enable
  EXPECT_NE(State(control, 104).find("enabled=0"), std::string::npos);  // Disable
  EXPECT_NE(State(control, 108).find("check=0"), std::string::npos);    // Connection Logging
  ComparePicture(control, "control");

  // Add: a new TCP service, refused while its port or maximum is 0.
  ASSERT_EQ(Click(control, 106), "ok");
  std::string configure = AutomationValue(AutomationAwaitOk(pid_, "find - Daemon Configuration"));
  ASSERT_FALSE(configure.empty());
  EXPECT_EQ(Text(configure, 512), "ok ");
  EXPECT_EQ(Text(configure, 502), "ok 0");
  EXPECT_EQ(Text(configure, 511), "ok 1");
  EXPECT_NE(State(configure, 507).find("check=1"), std::string::npos);
  EXPECT_EQ(Press(configure, 508), "ok");  // UDP: the maximum is 1 and greyed
  EXPECT_EQ(Text(configure, 511), "ok 1");
  EXPECT_NE(State(configure, 511).find("enabled=0"), std::string::npos);
  EXPECT_NE(State(configure, 600).find("enabled=0"), std::string::npos);
  EXPECT_EQ(Press(configure, 507), "ok");
  EXPECT_NE(State(configure, 511).find("enabled=1"), std::string::npos);
  EXPECT_EQ(SetText(configure, 512, "later"), "ok");
  EXPECT_EQ(SetText(configure, 501, "servers_testd"), "ok");
  EXPECT_EQ(SetText(configure, 511, "3"), "ok");
  ComparePicture(configure, "configure");
  EXPECT_EQ(Press(configure, 1), "ok");
  EXPECT_EQ(Boxes("Configure Error", "The port must be a number from 1 to 65535."), 1) << Errors();
  EXPECT_EQ(SetText(configure, 502, std::to_string(p + 1)), "ok");
  EXPECT_EQ(SetText(configure, 511, "0"), "ok");
  EXPECT_EQ(Press(configure, 1), "ok");
  EXPECT_EQ(Boxes("Configure Error", "Maximum Servers must be a number from 1 to 2147483647."), 1) << Errors();
  EXPECT_EQ(SetText(configure, 511, "3"), "ok");
  EXPECT_EQ(Press(configure, 1), "ok");
  ASSERT_TRUE(WaitFor([&] { return Auto("find - Daemon Configuration").rfind("error", 0) == 0; }, 5000));
  EXPECT_NE(State(control, 101).find("sel=13 count=14"), std::string::npos);
  EXPECT_FALSE(Listening(p + 1));  // added disabled: it listens only after Enable

  // Enable: a client then connects; Disable closes, Enable reopens.
  EXPECT_EQ(Press(control, 103), "ok");
  EXPECT_EQ(Greeting(p + 1), "ok");
  EXPECT_NE(Lines(control).find("\nlater\t"), std::string::npos);
  EXPECT_NE(Lines(control).find("\tEnabled"), std::string::npos);
  EXPECT_NE(State(control, 103).find("enabled=0"), std::string::npos);
  EXPECT_EQ(Press(control, 104), "ok");
  EXPECT_FALSE(Listening(p + 1));
  EXPECT_EQ(Lines(control).find("Enabled"), std::string::npos);
  EXPECT_EQ(Press(control, 103), "ok");
  EXPECT_EQ(Greeting(p + 1), "ok");

  // Configure: the fields show the service; a new name and port take effect.
  ASSERT_EQ(Click(control, 105), "ok");
  configure = AutomationValue(AutomationAwaitOk(pid_, "find - Daemon Configuration"));
  ASSERT_FALSE(configure.empty());
  EXPECT_EQ(Text(configure, 512), "ok later");
  EXPECT_EQ(Text(configure, 501), "ok servers_testd");
  EXPECT_EQ(Text(configure, 502), "ok " + std::to_string(p + 1));
  EXPECT_EQ(Text(configure, 511), "ok 3");
  EXPECT_EQ(SetText(configure, 512, "moved"), "ok");
  EXPECT_EQ(SetText(configure, 502, std::to_string(p + 2)), "ok");
  EXPECT_EQ(Press(configure, 1), "ok");
  ASSERT_TRUE(WaitFor([&] { return Auto("find - Daemon Configuration").rfind("error", 0) == 0; }, 5000));
  EXPECT_FALSE(Listening(p + 1));  // the old listener closed; the new port opens when Control closes
  EXPECT_NE(Lines(control).find("\nmoved\t"), std::string::npos);
  EXPECT_EQ(Press(control, 104), "ok");
  EXPECT_EQ(Press(control, 103), "ok");
  EXPECT_EQ(Greeting(p + 2), "ok");

  // Enable of a port another program holds: the text depends on logging.
  int holder = HoldPort(p);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(Select(control, 12), "ok");  // echo
  EXPECT_EQ(Press(control, 103), "ok");
  EXPECT_EQ(Boxes("Enable Error", "Error enabling daemon; Enable logging and re-try."), 1) << Errors();
  EXPECT_NE(State(control, 103).find("enabled=1"), std::string::npos);  // disabled again
  EXPECT_EQ(Press(control, 108), "ok");
  EXPECT_NE(State(control, 108).find("check=1"), std::string::npos);
  EXPECT_EQ(Press(control, 103), "ok");
  EXPECT_EQ(Boxes("Enable Error", "Error enabling daemon; Consult Error Log for details"), 1) << Errors();
  EXPECT_TRUE(WaitEvents(104, 1, 5000, "Bind failure on port " + std::to_string(p) + ", program servers_testd"));
  close(holder);

  // Delete closes the listener at once.
  ASSERT_EQ(Select(control, 13), "ok");  // moved
  EXPECT_EQ(Press(control, 107), "ok");
  EXPECT_NE(State(control, 101).find("sel=12 count=13"), std::string::npos);
  EXPECT_FALSE(Listening(p + 2));
  EXPECT_EQ(Events(100, "Shutting down moved server"), 1);

  // Save: the table as it stands, logging on, in the file it came from.
  EXPECT_EQ(Press(control, 109), "ok");
  EXPECT_EQ(Boxes("Save Configuration", "Configuration saved in " + WindowsPath(dir_ + "/PORTWARDEN.CFG")), 1)
      << Errors();
  const std::string saved = ReadFile(dir_ + "/PORTWARDEN.CFG");
  std::string expected = original;
  expected[0] = '\x01';
  EXPECT_EQ(saved, expected);
  const std::string echoRecord = std::string(1, '\x01') + Le((unsigned)p, 2) + Le(2, 4) + StoredString("echo") +
                                 StoredString("servers_testd") + StoredString("");
  ASSERT_GE(saved.size(), echoRecord.size());
  EXPECT_EQ(saved.substr(saved.size() - echoRecord.size()), echoRecord);

  // ReLoad after an outside edit; a damaged file changes nothing.
  Table("set echo port=" + std::to_string(p + 4) + " enabled=1");
  EXPECT_EQ(Press(control, 110), "ok");
  EXPECT_EQ(Greeting(p + 4), "ok");
  EXPECT_NE(Lines(control).find("\necho\t"), std::string::npos);
  const std::string edited = ReadFile(dir_ + "/PORTWARDEN.CFG");
  ASSERT_TRUE(qxtest::WriteFile(dir_ + "/PORTWARDEN.CFG", edited.substr(0, edited.size() - 3)));
  EXPECT_EQ(Press(control, 110), "ok");
  EXPECT_EQ(
      Boxes("Error", "Error Opening Configuration File (" + WindowsPath(dir_ + "/PORTWARDEN.CFG") +
                         " cannot be read whole: record 13 (at byte " +
                         std::to_string(original.size() - echoRecord.size()) +
                         ") is cut short or holds a string length outside 1-256); the table in use is unchanged."),
      1)
      << Errors();
  EXPECT_EQ(Greeting(p + 4), "ok");

  // Defaults: the 12 rows, none enabled, every listener of the old table closed.
  EXPECT_EQ(Press(control, 111), "ok");
  EXPECT_NE(State(control, 101).find("count=12"), std::string::npos);
  EXPECT_EQ(Lines(control).find("Enabled"), std::string::npos);
  EXPECT_FALSE(Listening(p + 4));

  // Close: the dialog goes and the service signals whoever waits on it.
  EXPECT_EQ(Press(control, 102), "ok");
  EXPECT_EQ(WaitForSingleObject(closed, 5000), WAIT_OBJECT_0);
  CloseHandle(closed);
  EXPECT_TRUE(WaitFor([&] { return Auto("find - Portwarden Configuration").rfind("error", 0) == 0; }, 5000));
}

// With all 32 slots used, Add refuses before any field is shown and no service
// is overwritten; a second control 128 brings the open dialog forward instead
// of a second one; a stop while the dialog is open ends the service promptly.
TEST_F(ControlDialogTest, FullTableRefusesAddAndStopEndsTheDialog) {
  std::string table(1, '\0');  // logging off, then 32 TCP services of maximum 1, none enabled
  for (int slot = 0; slot < 32; slot++)
    table += std::string(1, '\x01') + Le((unsigned)(port_ + slot), 2) + Le(1, 4) +
             StoredString("s" + std::to_string(slot)) + StoredString("servers_testd") + StoredString("");
  ASSERT_TRUE(qxtest::WriteFile(dir_ + "/PORTWARDEN.CFG", table));
  const std::string before = table;
  StartService();
  const std::string control = OpenControl();
  ASSERT_FALSE(control.empty()) << Errors();
  EXPECT_NE(State(control, 101).find("count=32"), std::string::npos);
  ASSERT_EQ(Click(control, 106), "ok");
  ASSERT_TRUE(WaitFor([&] { return Boxes("Internal Error", "Maximum Programs Exceeded") == 1; }, 5000)) << Errors();
  EXPECT_TRUE(WaitFor([&] { return Auto("find - Daemon Configuration").rfind("error", 0) == 0; }, 5000));
  EXPECT_NE(State(control, 101).find("count=32"), std::string::npos);
  EXPECT_EQ(Press(control, 109), "ok");  // Save: the same 32 services
  EXPECT_EQ(ReadFile(dir_ + "/PORTWARDEN.CFG"), before);

  EXPECT_EQ(OpenControl(), control);
  std::string windows = Auto("list");
  size_t dialogs = 0;
  for (size_t at = windows.find("|Portwarden Configuration"); at != std::string::npos;
       at = windows.find("|Portwarden Configuration", at + 1))
    dialogs++;
  EXPECT_EQ(dialogs, 1u) << windows;

  ASSERT_EQ(kill(pid_, SIGTERM), 0);
  int status = 0;
  EXPECT_TRUE(WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 5000));
  pid_ = -1;
  EXPECT_TRUE(WIFEXITED(status)) << status;
}
