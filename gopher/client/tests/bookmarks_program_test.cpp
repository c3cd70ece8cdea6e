// burrowview's bookmark, checkpoint and settings dialogs, driven through the
// layer's automation on the headless display against gophernicus on
// 127.0.0.1:70 of the test's own network namespace: bookmarks and a
// checkpoint saved, the program restarted, the checkpoint's tree and the
// bookmark added again and used, both deleted through their dialogs, a
// damaged checkpoint reported and kept; the server chooser with its recent
// servers and port rules, the configuration dialog and a background colour,
// each compared in the INI files' text. Message boxes of a headless program
// go to its standard error and take their default answer.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "burrowview_automation.h"
#include "gophernicus_peer.h"
#include "qxtest/automation.h"
#include "qxtest/netns.h"
#include "qxtest/support.h"

namespace {

const auto *g_network = ::testing::AddGlobalTestEnvironment(new qxtest::OwnLoopbackNetwork);

constexpr int kRowHeight = 18;
constexpr int kOk = 1;  // the OK button's id  // tree rows: a 16-pixel picture cell and 2

using gophertest::DoubleClickRow;
using gophertest::WaitForCount;
using qxtest::AutomationCommand;
using qxtest::AutomationValue;

std::string WindowsPath(const std::string &host) {
  std::string path = "Z:" + host;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// burrowview started in the work folder with its standard error in a file.
class Burrowview {
 public:
  explicit Burrowview(const std::string &cwd)
      : errors_(cwd + "/stderr.txt"),
        child_(
            {"/bin/sh", "-c", "cd '" + cwd + "' && exec '" + qxtest::BinDir() + "/burrowview' 2>'" + errors_ + "'"}) {}
  int Pid() const { return child_.pid(); }
  std::string Errors() const { return qxtest::ReadFile(errors_); }
  bool SaysSoon(const std::string &text) {
    return qxtest::WaitUntil([&] { return Errors().find(text) != std::string::npos; }, 10000);
  }
  int Wait(int timeoutMs) { return child_.Wait(timeoutMs); }

 private:
  std::string errors_;
  qxtest::Child child_;
};

class BookmarkProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.Error().empty()) << peer.Error();
    setenv("QX_HOME", (work.path() + "/home").c_str(), 1);
    setenv("QX_RUNTIME_DIR", runtime.path().c_str(), 1);
    setenv("QX_DISPLAY", "headless", 1);
    setenv("TEMP", (work.path() + "/tmp").c_str(), 1);
    unsetenv("QX_AUTOMATION");
    unsetenv("QX_MSGBOX_ANSWER");
    unsetenv("DISPLAY");
    ASSERT_EQ(mkdir((work.path() + "/tmp").c_str(), 0700), 0);
  }

  std::string Find(int pid, const std::string &what) {
    std::string window;
    qxtest::WaitUntil([&] { return !(window = AutomationValue(AutomationCommand(pid, "find " + what))).empty(); },
                      10000);
    return window;
  }
  bool Gone(int pid, const std::string &what) {
    return qxtest::WaitUntil([&] { return AutomationValue(AutomationCommand(pid, "find " + what)).empty(); }, 10000);
  }
  std::string Item(int pid, const std::string &window, int id) {
    return AutomationValue(AutomationCommand(pid, "item " + window + " " + std::to_string(id)));
  }
  std::string Text(int pid, const std::string &window, int id) {
    return AutomationValue(AutomationCommand(pid, "text " + Item(pid, window, id)));
  }
  void SetText(int pid, const std::string &window, int id, const std::string &text) {
    ASSERT_EQ(AutomationCommand(pid, "settext " + Item(pid, window, id) + " " + text), "ok") << id;
  }
  void Press(int pid, const std::string &window, int id) {
    ASSERT_EQ(AutomationCommand(pid, "press " + Item(pid, window, id)), "ok") << id;
  }

  // The main window (titled after the home server) and its two lists.
  void Attach(int pid, const char *title = "burrowview - 127.0.0.1") {
    main = Find(pid, std::string("burrowview ") + title);
    ASSERT_FALSE(main.empty());
    const std::string client = Item(pid, main, 200);
    tree = Item(pid, client, 203);
    document = Item(pid, client, 204);
    ASSERT_FALSE(tree.empty() || document.empty());
  }
  void Menu(int pid, int id) { ASSERT_EQ(AutomationCommand(pid, "menu " + main + " " + std::to_string(id)), "ok"); }
  // The text of an INI file once it is `wanted` (the command writes it after
  // its dialog has gone), else as it is after 10 s.
  std::string FileOnce(const std::string &name, const std::string &wanted) {
    std::string text;
    qxtest::WaitUntil([&] { return (text = qxtest::ReadFile(work.path() + "/" + name)) == wanted; }, 10000);
    return text;
  }
  std::string Ini(const std::string &wanted) { return FileOnce("BURROWVIEW.INI", wanted); }

  gophertest::GophernicusPeer peer;
  qxtest::TempDir work{"qx-burrowview-bm"};
  qxtest::TempDir runtime{"qx-burrowview-bm-rt"};
  std::string main, tree, document;
};

TEST_F(BookmarkProgramTest, BookmarksAndCheckpointsThroughTheirDialogsAcrossARestart) {
  ASSERT_TRUE(qxtest::WriteFile(work.path() + "/QXAPPS.INI",
                                "[burrowview]\r\nInitialAction=0\r\nHomeGopherHost=127.0.0.1\r\n"));
  {
    // Questions are answered No in this run, Yes (their default) in the next.
    setenv("QX_MSGBOX_ANSWER", "IDNO", 1);
    Burrowview program(work.path());
    unsetenv("QX_MSGBOX_ANSWER");
    const int pid = program.Pid();
    Attach(pid);
    ASSERT_EQ(WaitForCount(pid, tree, 7), 7) << program.Errors();
    DoubleClickRow(pid, tree, 2);  // Documents
    ASSERT_EQ(WaitForCount(pid, tree, 9), 9) << program.Errors();

    // A bookmark of the selected menu; a name that would break the file is refused first.
    ASSERT_EQ(AutomationCommand(pid, "select " + tree + " 2"), "ok");
    Menu(pid, 107);
    std::string dialog = Find(pid, "- Save Bookmark");
    ASSERT_FALSE(dialog.empty()) << program.Errors();
    EXPECT_EQ(Text(pid, dialog, 500), "Bookmark Name:");
    SetText(pid, dialog, 501, "Checkpoints");
    Press(pid, dialog, kOk);
    EXPECT_TRUE(program.SaysSoon("is the name of the list of checkpoints")) << program.Errors();
    SetText(pid, dialog, 501, "Docs");
    Press(pid, dialog, kOk);
    ASSERT_TRUE(Gone(pid, "- Save Bookmark"));
    const std::string bookmark =
        "[Docs]\r\nHost=127.0.0.1\r\nKey=/docs\r\nDescription=Documents\r\nPort=70\r\nType=1\r\n";
    EXPECT_EQ(Ini(bookmark), bookmark);
    // The same name again: asked about; No keeps the dialog and the bookmark.
    ASSERT_EQ(AutomationCommand(pid, "select " + tree + " 3"), "ok");
    Menu(pid, 107);
    dialog = Find(pid, "- Save Bookmark");
    SetText(pid, dialog, 501, "Docs");
    Press(pid, dialog, kOk);
    EXPECT_TRUE(
        program.SaysSoon("[Bookmark found] There is already a Bookmark named \"Docs\".  Do you want to overwrite?"))
        << program.Errors();
    EXPECT_FALSE(Find(pid, "- Save Bookmark").empty());
    Press(pid, dialog, 2);  // Cancel
    ASSERT_TRUE(Gone(pid, "- Save Bookmark"));
    EXPECT_EQ(Ini(bookmark), bookmark);

    // A checkpoint of the visible tree.
    Menu(pid, 110);
    dialog = Find(pid, "- Save Checkpoint");
    ASSERT_FALSE(dialog.empty()) << program.Errors();
    EXPECT_EQ(Text(pid, dialog, 500), "Checkpoint Name:");
    SetText(pid, dialog, 501, "a=b");
    Press(pid, dialog, kOk);
    EXPECT_TRUE(program.SaysSoon("A checkpoint name cannot hold '='.")) << program.Errors();
    SetText(pid, dialog, 501, "session");
    Press(pid, dialog, kOk);
    ASSERT_TRUE(Gone(pid, "- Save Checkpoint"));
    const std::string file = work.path() + "/QXCP0000.000";
    const std::string recorded = bookmark + "[Checkpoints]\r\nsession=" + WindowsPath(file) + "\r\n";
    EXPECT_EQ(Ini(recorded), recorded);
    const std::string lines = qxtest::ReadFile(file);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 9) << lines;
    EXPECT_EQ(lines.substr(0, lines.find('\n')), "1=15F3C2H\"127.0.0.1\"D\"127.0.0.1\"");

    Menu(pid, 106);
    ASSERT_EQ(program.Wait(10000), 0) << program.Errors();
  }

  Burrowview program(work.path());
  const int pid = program.Pid();
  Attach(pid);
  ASSERT_EQ(WaitForCount(pid, tree, 7), 7) << program.Errors();
  // The checkpoint replaces the tree: the expanded menu is back without a retrieval.
  Menu(pid, 112);
  std::string dialog = Find(pid, "- Select Checkpoint");
  ASSERT_FALSE(dialog.empty()) << program.Errors();
  EXPECT_EQ(qxtest::AutomationItems(pid, Item(pid, dialog, 400)), std::vector<std::string>{"session"});
  Press(pid, dialog, 403);  // Clear Screen before adding
  Press(pid, dialog, kOk);
  ASSERT_EQ(WaitForCount(pid, tree, 9), 9) << program.Errors();
  DoubleClickRow(pid, tree, 3);  // the manual, an item read back from the file
  EXPECT_EQ(WaitForCount(pid, document, 200), 200) << program.Errors();

  // The bookmark comes back as a menu root after the tree.
  Menu(pid, 109);
  dialog = Find(pid, "- Select Bookmark");
  ASSERT_FALSE(dialog.empty()) << program.Errors();
  EXPECT_EQ(qxtest::AutomationItems(pid, Item(pid, dialog, 400)), std::vector<std::string>{"Docs"});
  EXPECT_EQ(AutomationCommand(pid, "state " + Item(pid, dialog, 403)).find("check=1") != std::string::npos, true);
  Press(pid, dialog, 402);  // Don't Clear Screen before adding
  Press(pid, dialog, kOk);
  EXPECT_EQ(WaitForCount(pid, tree, 12), 12) << program.Errors();

  // The same bookmark name for the manual: Yes replaces the section.
  ASSERT_EQ(AutomationCommand(pid, "select " + tree + " 3"), "ok");
  Menu(pid, 107);
  dialog = Find(pid, "- Save Bookmark");
  SetText(pid, dialog, 501, "Docs");
  Press(pid, dialog, kOk);
  ASSERT_TRUE(Gone(pid, "- Save Bookmark"));
  const std::string manual = "[Checkpoints]\r\nsession=" + WindowsPath(work.path() + "/QXCP0000.000") +
                             "\r\n[Docs]\r\nHost=127.0.0.1\r\nKey=/docs/manual.txt\r\nDescription=The manual\r\n"
                             "Port=70\r\nType=0\r\n";
  EXPECT_EQ(Ini(manual), manual);

  // Both go through their dialogs: the section, the entry and the file.
  Menu(pid, 108);
  dialog = Find(pid, "- Delete Bookmark");
  ASSERT_FALSE(dialog.empty()) << program.Errors();
  EXPECT_EQ(Text(pid, dialog, kOk), "&Delete");
  Press(pid, dialog, kOk);
  ASSERT_TRUE(Gone(pid, "- Delete Bookmark"));
  Menu(pid, 111);
  dialog = Find(pid, "- Delete Checkpoint");
  ASSERT_FALSE(dialog.empty()) << program.Errors();
  Press(pid, dialog, kOk);
  ASSERT_TRUE(Gone(pid, "- Delete Checkpoint"));
  EXPECT_EQ(Ini("[Checkpoints]\r\n"), "[Checkpoints]\r\n");
  EXPECT_TRUE(qxtest::WaitUntil([&] { return access((work.path() + "/QXCP0000.000").c_str(), F_OK) != 0; }, 10000));

  // A damaged checkpoint is reported and neither loaded nor changed.
  const std::string damaged = "1=1F3C2H\"127.0.0.1\"\n2=0A1B1H\"127.0.0.1\"\n";
  ASSERT_TRUE(qxtest::WriteFile(work.path() + "/QXCP0007.000", damaged));
  const std::string ini = "[Checkpoints]\r\nbroken=" + WindowsPath(work.path() + "/QXCP0007.000") + "\r\n";
  ASSERT_TRUE(qxtest::WriteFile(work.path() + "/BURROWVIEW.INI", ini));
  Menu(pid, 112);
  dialog = Find(pid, "- Select Checkpoint");
  ASSERT_FALSE(dialog.empty()) << program.Errors();
  Press(pid, dialog, kOk);
  EXPECT_TRUE(program.SaysSoon("Line 2 links to item 1, which does not follow it.")) << program.Errors();
  EXPECT_NE(program.Errors().find("[burrowview Error] Error loading Checkpoint \"broken\""), std::string::npos);
  EXPECT_EQ(WaitForCount(pid, tree, 12), 12);
  EXPECT_EQ(qxtest::ReadFile(work.path() + "/QXCP0007.000"), damaged);
  EXPECT_EQ(Ini(ini), ini);

  Menu(pid, 106);
  EXPECT_EQ(program.Wait(10000), 0) << program.Errors();
}

TEST_F(BookmarkProgramTest, TheHomeCheckpointAtStart) {
  ASSERT_TRUE(
      qxtest::WriteFile(work.path() + "/QXAPPS.INI", "[burrowview]\r\nInitialAction=1\r\nHomeCheckpoint=home\r\n"));
  ASSERT_TRUE(qxtest::WriteFile(work.path() + "/QXCP0000.000",
                                "1=15F3C2H\"127.0.0.1\"D\"Home\"\n2=1A1H\"127.0.0.1\"D\"Documents\"K\"/docs\"\n"));
  ASSERT_TRUE(qxtest::WriteFile(work.path() + "/BURROWVIEW.INI",
                                "[Checkpoints]\r\nhome=" + WindowsPath(work.path() + "/QXCP0000.000") + "\r\n"));
  Burrowview program(work.path());
  const int pid = program.Pid();
  Attach(pid, "burrowview");
  ASSERT_EQ(WaitForCount(pid, tree, 2), 2) << program.Errors();
  DoubleClickRow(pid, tree, 1);  // the restored menu is retrieved when opened
  EXPECT_EQ(WaitForCount(pid, tree, 4), 4) << program.Errors();
  Menu(pid, 106);
  EXPECT_EQ(program.Wait(10000), 0) << program.Errors();
}

// A home port the INI file gives outside 1 to 65535 is reported, not cut to
// 16 bits (65606 would reach port 70).
TEST_F(BookmarkProgramTest, AHomeGopherPortOutsideThePortRangeIsReported) {
  ASSERT_TRUE(
      qxtest::WriteFile(work.path() + "/QXAPPS.INI",
                        "[burrowview]\r\nInitialAction=0\r\nHomeGopherHost=127.0.0.1\r\nHomeGopherPort=65606\r\n"));
  Burrowview program(work.path());
  const int pid = program.Pid();
  EXPECT_TRUE(program.SaysSoon("The home gopher's port 65606")) << program.Errors();
  Attach(pid, "burrowview");
  EXPECT_EQ(WaitForCount(pid, tree, 0), 0) << program.Errors();
  Menu(pid, 106);
  EXPECT_EQ(program.Wait(10000), 0) << program.Errors();
}

// A background colour the INI file refuses to keep (the file is read-only)
// is used but the user is told it is not saved, with the reason, and the file
// is left as it was.
TEST_F(BookmarkProgramTest, AColourTheIniFileCannotKeepIsReported) {
  const std::string apps = "[burrowview]\r\nInitialAction=0\r\n";
  ASSERT_TRUE(qxtest::WriteFile(work.path() + "/QXAPPS.INI", apps));
  ASSERT_EQ(chmod((work.path() + "/QXAPPS.INI").c_str(), 0444), 0);
  Burrowview program(work.path());
  const int pid = program.Pid();
  Attach(pid, "burrowview");
  Menu(pid, 119);  // the tree window's background
  const std::string colour = Find(pid, "- Color");
  ASSERT_FALSE(colour.empty()) << program.Errors();
  SetText(pid, colour, 706, "10");
  SetText(pid, colour, 707, "20");
  SetText(pid, colour, 708, "30");
  Press(pid, colour, kOk);
  EXPECT_TRUE(program.SaysSoon("The background colour of the tree window is in use but could not be written to"))
      << program.Errors();
  EXPECT_TRUE(program.SaysSoon("Access is denied. (error 5); it will be lost when burrowview ends."))
      << program.Errors();
  Menu(pid, 106);
  EXPECT_EQ(program.Wait(10000), 0) << program.Errors();
  chmod((work.path() + "/QXAPPS.INI").c_str(), 0644);
  EXPECT_EQ(qxtest::ReadFile(work.path() + "/QXAPPS.INI"), apps);
}

TEST_F(BookmarkProgramTest, ServerChooserConfigurationAndColours) {
  // An initial action that names none (6 would be Exit): the server chooser opens at start.
  ASSERT_TRUE(
      qxtest::WriteFile(work.path() + "/QXAPPS.INI",
                        "[burrowview]\r\nInitialAction=6\r\nFILE_0=other.example (8080)\r\nFILE_1=127.0.0.1\r\n"));
  {
    Burrowview program(work.path());
    const int pid = program.Pid();
    std::string chooser = Find(pid, "- Select A Gopher Server");
    ASSERT_FALSE(chooser.empty()) << program.Errors();
    const std::string server = Item(pid, chooser, 300), bar = Item(pid, chooser, 301);
    EXPECT_EQ(qxtest::AutomationItems(pid, server), (std::vector<std::string>{"other.example (8080)", "127.0.0.1"}));
    EXPECT_EQ(Text(pid, chooser, 302), "8080");
    // Typing a server name sets gopher's port; choosing an entry sets its own.
    ASSERT_EQ(AutomationCommand(pid, "settext " + server + " 127.0.0.1"), "ok");
    EXPECT_EQ(Text(pid, chooser, 302), "70");
    ASSERT_EQ(AutomationCommand(pid, "select " + server + " 0"), "ok");
    EXPECT_EQ(Text(pid, chooser, 302), "8080");
    ASSERT_EQ(AutomationCommand(pid, "select " + server + " 1"), "ok");
    EXPECT_EQ(Text(pid, chooser, 302), "70");
    // The scroll bar: a line up, a page down.
    ASSERT_EQ(AutomationCommand(pid, "scroll " + bar + " v 0 0"), "ok");
    EXPECT_EQ(Text(pid, chooser, 302), "71");
    ASSERT_EQ(AutomationCommand(pid, "scroll " + bar + " v 3 0"), "ok");
    EXPECT_EQ(Text(pid, chooser, 302), "63");
    // A port outside 1..65535 keeps the dialog open.
    SetText(pid, chooser, 302, "70000");
    Press(pid, chooser, kOk);
    EXPECT_TRUE(program.SaysSoon("The port must be a number from 1 to 65535.")) << program.Errors();
    SetText(pid, chooser, 302, "70");
    SetText(pid, chooser, 307, "/docs");
    SetText(pid, chooser, 308, "My documents");
    Press(pid, chooser, kOk);
    ASSERT_TRUE(Gone(pid, "- Select A Gopher Server"));
    Attach(pid);
    EXPECT_EQ(WaitForCount(pid, tree, 3), 3) << program.Errors();  // the root and its two items
    const std::string recent = "[burrowview]\r\nInitialAction=6\r\nFILE_0=127.0.0.1\r\nFILE_1=other.example (8080)\r\n";
    EXPECT_EQ(FileOnce("QXAPPS.INI", recent), recent);

    // Configuration: the values are written and used at once.
    Menu(pid, 104);
    std::string configure = Find(pid, "- Configuration");
    ASSERT_FALSE(configure.empty()) << program.Errors();
    EXPECT_EQ(Text(pid, configure, 809), "vtconsole.EXE %h /p=%p /l=%u /once");
    EXPECT_NE(AutomationCommand(pid, "state " + Item(pid, configure, 806)).find("check=1"), std::string::npos);
    EXPECT_NE(AutomationCommand(pid, "state " + Item(pid, configure, 808)).find("check=1"), std::string::npos);
    SetText(pid, configure, 800, "127.0.0.1");
    SetText(pid, configure, 802, "Docs");
    SetText(pid, configure, 809, "termrec.sh %h /p=%p /l=%u /once");
    Press(pid, configure, 805);  // Home Bookmark at start
    Press(pid, configure, 807);  // Don't Clear Screen
    Press(pid, configure, kOk);
    ASSERT_TRUE(Gone(pid, "- Configuration"));

    // The background of the document list.
    Menu(pid, 118);
    std::string colour = Find(pid, "- Color");
    ASSERT_FALSE(colour.empty()) << program.Errors();
    SetText(pid, colour, 706, "10");
    SetText(pid, colour, 707, "20");
    SetText(pid, colour, 708, "30");
    Press(pid, colour, kOk);
    ASSERT_TRUE(Gone(pid, "- Color"));

    // Clear-first is off now: a chosen server is added after the tree.
    Menu(pid, 103);
    chooser = Find(pid, "- Select A Gopher Server");
    ASSERT_FALSE(chooser.empty()) << program.Errors();
    EXPECT_NE(AutomationCommand(pid, "state " + Item(pid, chooser, 305)).find("check=1"), std::string::npos);
    Press(pid, chooser, kOk);
    EXPECT_EQ(WaitForCount(pid, tree, 10), 10) << program.Errors();
    Menu(pid, 106);
    ASSERT_EQ(program.Wait(10000), 0) << program.Errors();
  }
  const std::string apps = qxtest::ReadFile(work.path() + "/QXAPPS.INI");
  for (const char *line :
       {"\r\nClearFirst=0\r\n", "\r\nInitialAction=2\r\n", "\r\nHomeGopherHost=127.0.0.1\r\n",
        "\r\nHomeCheckpoint=\r\n", "\r\nHomeBookmark=Docs\r\n", "\r\nUserTelnet=termrec.sh %h /p=%p /l=%u /once\r\n",
        "\r\nUserTN3270=vtconsole.EXE /I /T=IBM-3278-2 %h /p=%p /once\r\n", "\r\nDocColor=(10,20,30)\r\n",
        "\r\nFILE_0=127.0.0.1\r\nFILE_1=other.example (8080)\r\n"})
    EXPECT_NE(apps.find(line), std::string::npos) << line << " not in\n" << apps;
  EXPECT_EQ(apps.find("FILE_2"), std::string::npos) << apps;

  // The next start opens the home bookmark.
  ASSERT_TRUE(
      qxtest::WriteFile(work.path() + "/BURROWVIEW.INI",
                        "[Docs]\r\nHost=127.0.0.1\r\nKey=/docs\r\nDescription=Documents\r\nPort=70\r\nType=1\r\n"));
  Burrowview program(work.path());
  const int pid = program.Pid();
  Attach(pid);
  EXPECT_EQ(WaitForCount(pid, tree, 3), 3) << program.Errors();
  Menu(pid, 106);
  EXPECT_EQ(program.Wait(10000), 0) << program.Errors();
}

}  // namespace
