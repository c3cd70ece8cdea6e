// burrowedit on the headless display, driven through the layer's automation
// as a person would: items entered in the item dialog, edited, moved with cut
// and paste, saved through Save As; a file of LF line ends opened and saved
// again unchanged; rows copied between two documents; more windows, cascade
// and tile; closing with "Save changes?"; recent files and the window state
// in the profile across runs. Message boxes go to standard error and are
// answered by QX_MSGBOX_ANSWER.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qxtest/automation.h"
#include "qxtest/support.h"

namespace {

using qxtest::AutomationCommand;

constexpr int kClientId = 0xE900, kFirstDocument = 0xFF00, kViewId = 0xE900, kListId = 103;
constexpr const char *kProfileKey = "HKCU\\Software\\Corvane\\Burrowedit Editor";

std::string Handle(const std::string &answer) { return answer.rfind("ok ", 0) == 0 ? answer.substr(3) : ""; }

using qxtest::Shell;

// burrowedit in a working directory, its standard error in a file, answering
// message boxes with `answer`; killed at the end if it still runs.
class Editor {
 public:
  Editor(const std::string &cwd, const char *answer)
      : errors_(cwd + "/stderr.txt"),
        process_({"/bin/sh", "-c", "cd \"$0\" && QX_MSGBOX_ANSWER=\"$1\" exec \"$2\" 2>stderr.txt", cwd,
                  answer ? answer : "", qxtest::BinDir() + "/burrowedit"}) {
    pid_ = process_.pid();
    qxtest::WaitUntil([&] { return !(frame_ = Handle(Cmd("find BurroweditFrame -"))).empty(); }, 15000);
  }
  std::string Errors() const { return qxtest::ReadFile(errors_); }
  std::string Cmd(const std::string &command) const { return AutomationCommand(pid_, command); }
  const std::string &Frame() const { return frame_; }
  std::string Title() const { return Handle(Cmd("text " + frame_)); }
  // The document window listed n-th (0 first) and its list of rows.
  std::string DocumentWindow(int n) const {
    return Handle(Cmd("item " + Handle(Cmd("item " + frame_ + " " + std::to_string(kClientId))) + " " +
                      std::to_string(kFirstDocument + n)));
  }
  std::string List(int n) const {
    const std::string view = Handle(Cmd("item " + DocumentWindow(n) + " " + std::to_string(kViewId)));
    return Handle(Cmd("item " + view + " " + std::to_string(kListId)));
  }
  std::vector<std::string> Rows(int n) const {
    std::vector<std::string> rows;
    const std::string all = Cmd("items " + List(n));
    size_t at = all.find('\n');
    while (at != std::string::npos) {
      const size_t next = all.find('\n', at + 1);
      rows.push_back(all.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
      at = next;
    }
    return rows;
  }
  bool Menu(int id) const { return Cmd("menu " + frame_ + " " + std::to_string(id)) == "ok"; }
  void Key(const std::string &window, int scan, bool ext) const {
    const std::string k = "key " + window + " " + std::to_string(scan) + (ext ? " 1 " : " 0 ");
    Cmd(k + "down");
    Cmd(k + "up");
  }
  // Only row `row` of document n selected, as the arrow keys leave it.
  void SelectOnly(int n, int row) const {
    const std::string list = List(n);
    Key(list, 0x47, true);                                // Home
    for (int i = 0; i < row; ++i) Key(list, 0x50, true);  // Down
  }
  // Waits for a top-level window of that title (class "-" for any).
  std::string WaitFor(const std::string &title) const {
    std::string found;
    qxtest::WaitUntil([&] { return !(found = Handle(Cmd("find - " + title))).empty(); }, 10000);
    return found;
  }
  // Enters an item through the item dialog the last command opened.
  void EnterItem(int typeIndex, const std::string &display, const std::string &resource, const std::string &host,
                 const std::string &port) const {
    const std::string dialog = WaitFor("Edit Menu Item");
    ASSERT_FALSE(dialog.empty()) << Errors();
    auto item = [&](int id) { return Handle(Cmd("item " + dialog + " " + std::to_string(id))); };
    if (typeIndex >= 0) {
      ASSERT_EQ(Cmd("select " + item(1000) + " " + std::to_string(typeIndex)), "ok");
    }
    const std::pair<int, std::string> fields[] = {{1001, display}, {1002, resource}, {1003, host}, {1004, port}};
    for (const auto &[id, text] : fields) ASSERT_EQ(Cmd("settext " + item(id) + " " + text), "ok");
    ASSERT_EQ(Cmd("press " + item(1)), "ok");
    ASSERT_TRUE(qxtest::WaitUntil([&] { return Handle(Cmd("find - Edit Menu Item")).empty(); }, 10000));
  }
  // Answers the file dialog of that title with a path.
  void AnswerFileDialog(const std::string &title, const std::string &path) const {
    const std::string dialog = WaitFor(title);
    ASSERT_FALSE(dialog.empty()) << Errors();
    ASSERT_EQ(Cmd("settext " + Handle(Cmd("item " + dialog + " 1152")) + " Z:" + path), "ok");
    ASSERT_EQ(Cmd("press " + Handle(Cmd("item " + dialog + " 1"))), "ok");
    ASSERT_TRUE(qxtest::WaitUntil([&] { return Handle(Cmd("find - " + title)).empty(); }, 10000));
  }
  bool WaitForTitle(const std::string &title) const {
    return qxtest::WaitUntil([&] { return Title() == title; }, 10000);
  }
  bool WaitForRows(int n, size_t count) const {
    return qxtest::WaitUntil([&] { return Rows(n).size() == count; }, 10000);
  }
  // The exit status once it ended within the time, else -1.
  int Wait(int timeoutMs) { return process_.Wait(timeoutMs); }

 private:
  std::string errors_;
  qxtest::Child process_;
  pid_t pid_ = -1;
  std::string frame_;
};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QX_HOME", (work.path() + "/home").c_str(), 1);
    setenv("QX_RUNTIME_DIR", runtime.path().c_str(), 1);
    setenv("QX_DISPLAY", "headless", 1);
    unsetenv("QX_AUTOMATION");
    unsetenv("QX_MSGBOX");
    unsetenv("DISPLAY");
    ASSERT_EQ(mkdir((work.path() + "/home").c_str(), 0700), 0);
  }
  std::string Profile(const char *section, const char *name) {
    std::string out =
        Shell("'" + qxtest::BinDir() + "/qxreg' get '" + kProfileKey + "\\" + section + "' " + name + " 2>&1");
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }
  std::string Path(const std::string &name) const { return work.path() + "/" + name; }
  // The width and height in a PNG file's header.
  std::pair<int, int> PngSize(const std::string &path) const {
    const std::string png = qxtest::ReadFile(path);
    if (png.size() < 24) return {0, 0};
    auto be32 = [&](size_t at) {
      int v = 0;
      for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(png[at + i]);
      return v;
    };
    return {be32(16), be32(20)};
  }

  qxtest::TempDir work{"qx-burrowedit"};
  qxtest::TempDir runtime{"qx-burrowedit-rt"};
};

// New, insert, edit, move up and down, Save As; open an LF file and save it
// unchanged; copy and paste between the two documents; another window,
// cascade and tile; Close asking "Save changes?"; Exit.
TEST_F(ProgramTest, EditsMovesSavesAndCopiesBetweenDocuments) {
  const std::string lfMenu = "1Docs\t1docs/DOCS.GMN\thost\t70\n0About\t/about.txt\thost\t70\niJust words\n";
  ASSERT_TRUE(qxtest::WriteFile(Path("lf.gmn"), lfMenu));
  Editor e(work.path(), nullptr);  // boxes answer their default: Yes, OK
  ASSERT_FALSE(e.Frame().empty()) << e.Errors();
  EXPECT_TRUE(e.WaitForTitle("Burrowedit Editor - GMenu1")) << e.Title();

  ASSERT_TRUE(e.Menu(32771));  // Insert
  e.EnterItem(1, "Docs", "DEFAULT.GMN", "h", "70");
  ASSERT_TRUE(e.Menu(32771));
  e.EnterItem(0, "About", "about.txt", "h", "70");
  ASSERT_TRUE(e.Menu(32771));
  e.EnterItem(8, "Welcome", "sound.au", "h", "7070");
  ASSERT_TRUE(e.WaitForRows(0, 3));
  EXPECT_EQ(e.Rows(0)[0], "Directory[1]\tDocs\tDEFAULT.GMN\th\t70");

  // Edit the second row: the dialog comes up with its values.
  e.SelectOnly(0, 1);
  ASSERT_TRUE(e.Menu(32773));
  e.EnterItem(-1, "About us", "about.txt", "h", "70");
  ASSERT_TRUE(qxtest::WaitUntil([&] { return e.Rows(0)[1] == "Text File[0]\tAbout us\tabout.txt\th\t70"; }, 5000))
      << e.Rows(0)[1];

  // Move the last row up: cut it, paste it before the second.
  e.SelectOnly(0, 2);
  ASSERT_TRUE(e.Menu(57635));  // Cut
  ASSERT_TRUE(e.WaitForRows(0, 2));
  e.SelectOnly(0, 1);
  ASSERT_TRUE(e.Menu(57637));  // Paste
  ASSERT_TRUE(e.WaitForRows(0, 3));
  // Move the first row down: cut it, paste it before the (new) second.
  e.SelectOnly(0, 0);
  ASSERT_TRUE(e.Menu(57635));
  ASSERT_TRUE(e.WaitForRows(0, 2));
  e.SelectOnly(0, 1);
  ASSERT_TRUE(e.Menu(57637));
  ASSERT_TRUE(e.WaitForRows(0, 3));
  const std::vector<std::string> moved = {"Sounds[s]\tWelcome\tsound.au\th\t7070",
                                          "Directory[1]\tDocs\tDEFAULT.GMN\th\t70",
                                          "Text File[0]\tAbout us\tabout.txt\th\t70"};
  EXPECT_EQ(e.Rows(0), moved);

  ASSERT_TRUE(e.Menu(57603));  // Save: untitled, so Save As asks for a name
  e.AnswerFileDialog("Save As", Path("new.gmn"));
  EXPECT_TRUE(e.WaitForTitle("Burrowedit Editor - new.gmn")) << e.Title();
  const std::string saved =
      "sWelcome\tssound.au\th\t7070\r\n1Docs\t1DEFAULT.GMN\th\t70\r\n0About us\t0about.txt\th\t70\r\n";
  EXPECT_EQ(qxtest::ReadFile(Path("new.gmn")), saved);

  // Open the LF file: every item loads; the info line keeps its place.
  ASSERT_TRUE(e.Menu(57601));
  e.AnswerFileDialog("Open", Path("lf.gmn"));
  EXPECT_TRUE(e.WaitForTitle("Burrowedit Editor - lf.gmn")) << e.Title();
  ASSERT_TRUE(e.WaitForRows(1, 2)) << e.Errors();
  EXPECT_EQ(e.Rows(1)[1], "Text File[0]\tAbout\tabout.txt\thost\t70");
  EXPECT_NE(e.Errors().find("[Burrowedit Editor] The input line is invalid it must have three tabs"),
            std::string::npos);
  // Saved with nothing edited, it stays byte for byte what it was (a new
  // file renamed into place).
  struct stat before {};
  ASSERT_EQ(stat(Path("lf.gmn").c_str(), &before), 0);
  ASSERT_TRUE(e.Menu(57603));
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] {
        struct stat now {};
        return stat(Path("lf.gmn").c_str(), &now) == 0 && now.st_ino != before.st_ino;
      },
      5000));
  EXPECT_EQ(qxtest::ReadFile(Path("lf.gmn")), lfMenu);

  // Copy its first row into the other document, before that one's second row.
  e.SelectOnly(1, 0);
  ASSERT_TRUE(e.Menu(57634));           // Copy
  ASSERT_TRUE(e.Menu(kFirstDocument));  // the Window menu's first document: new.gmn
  EXPECT_TRUE(e.WaitForTitle("Burrowedit Editor - new.gmn")) << e.Title();
  e.SelectOnly(0, 1);
  ASSERT_TRUE(e.Menu(57637));
  ASSERT_TRUE(e.WaitForRows(0, 4));
  EXPECT_EQ(e.Rows(0)[1], "Directory[1]\tDocs\tdocs/DOCS.GMN\thost\t70");
  ASSERT_TRUE(e.Menu(57603));  // Save: it has a name now
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] {
        return qxtest::ReadFile(Path("new.gmn")) ==
               "sWelcome\tssound.au\th\t7070\r\n1Docs\t1docs/DOCS.GMN\thost\t70\r\n1Docs\t1DEFAULT.GMN\th\t70\r\n"
               "0About us\t0about.txt\th\t70\r\n";
      },
      5000))
      << qxtest::ReadFile(Path("new.gmn"));

  // A second window on the document: both numbered; then cascade and tile.
  ASSERT_TRUE(e.Menu(57648));  // New Window
  ASSERT_TRUE(qxtest::WaitUntil([&] { return !e.DocumentWindow(2).empty(); }, 5000));
  EXPECT_EQ(Handle(e.Cmd("text " + e.DocumentWindow(0))), "new.gmn:1");
  EXPECT_EQ(Handle(e.Cmd("text " + e.DocumentWindow(2))), "new.gmn:2");
  EXPECT_EQ(e.Rows(2).size(), 4u);
  EXPECT_TRUE(e.Menu(57650));  // Cascade
  EXPECT_TRUE(e.Menu(57651));  // Tile
  ASSERT_EQ(e.Cmd("png " + e.Frame() + " " + Path("tiled.png")), "ok");
  // The Window menu brings the second window of new.gmn forward.
  ASSERT_TRUE(e.Menu(kFirstDocument + 2));
  ASSERT_TRUE(qxtest::WaitUntil([&] { return e.Title() == "Burrowedit Editor - new.gmn:2"; }, 5000)) << e.Title();

  // A change in one window shows in the other; Close asks "Save changes?",
  // answered Yes, saves it and closes both windows.
  e.SelectOnly(2, 0);
  ASSERT_TRUE(e.Menu(32772));  // Delete
  ASSERT_TRUE(e.WaitForRows(2, 3));
  EXPECT_EQ(e.Rows(0).size(), 3u) << "the other window follows the document";
  ASSERT_TRUE(e.Menu(57602));  // Close
  ASSERT_TRUE(qxtest::WaitUntil([&] { return e.Errors().find("Save changes to new.gmn?") != std::string::npos; }, 5000))
      << e.Errors();
  ASSERT_TRUE(qxtest::WaitUntil([&] { return e.Title() == "Burrowedit Editor - lf.gmn"; }, 5000)) << e.Title();
  EXPECT_EQ(qxtest::ReadFile(Path("new.gmn")),
            "1Docs\t1docs/DOCS.GMN\thost\t70\r\n1Docs\t1DEFAULT.GMN\th\t70\r\n0About us\t0about.txt\th\t70\r\n");

  ASSERT_TRUE(e.Menu(57665));  // Exit
  EXPECT_EQ(e.Wait(10000), 0) << e.Errors();
}

// The recent files and the window state stay in the profile from run to run;
// a change declined at "Save changes?" leaves the file as it was, and Cancel
// keeps the program open.
TEST_F(ProgramTest, RecentFilesWindowStateAndDeclinedSaves) {
  const std::string menu = "1Docs\t1DEFAULT.GMN\thost\t70\r\n";
  ASSERT_TRUE(qxtest::WriteFile(Path("one.gmn"), menu));
  {
    Editor e(work.path(), "IDNO");
    ASSERT_FALSE(e.Frame().empty()) << e.Errors();
    ASSERT_TRUE(e.Menu(57601));
    e.AnswerFileDialog("Open", Path("one.gmn"));
    EXPECT_TRUE(e.WaitForTitle("Burrowedit Editor - one.gmn")) << e.Title();
    ASSERT_TRUE(e.Menu(59392));  // View Toolbar: hidden
    // A first run opens at the default place: 10, 10 to 800, 500.
    ASSERT_EQ(e.Cmd("png " + e.Frame() + " " + Path("first.png")), "ok");
    EXPECT_EQ(PngSize(Path("first.png")), std::make_pair(790, 490));
    ASSERT_TRUE(e.Menu(57665));
    EXPECT_EQ(e.Wait(10000), 0) << e.Errors();
  }
  EXPECT_EQ(Profile("Window size", "Rect"), "0010 0010 0800 0500");
  EXPECT_EQ(Profile("Window size", "icon"), "0x0 (0)");
  EXPECT_EQ(Profile("Window size", "max"), "0x0 (0)");
  EXPECT_EQ(Profile("Window size", "tool"), "0x0 (0)");
  EXPECT_EQ(Profile("Window size", "status"), "0x1 (1)");
  // The name as the file dialog gave it: in the drive's form, lower case.
  std::string recent = "Z:" + Path("one.gmn");
  for (char &c : recent) c = c == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  recent[0] = 'Z';
  EXPECT_EQ(Profile("Recent File List", "File1"), recent);

  {
    Editor e(work.path(), "IDNO");
    ASSERT_FALSE(e.Frame().empty()) << e.Errors();
    ASSERT_TRUE(e.Menu(57616));  // the first recent file
    EXPECT_TRUE(e.WaitForTitle("Burrowedit Editor - one.gmn")) << e.Title();
    ASSERT_TRUE(e.WaitForRows(1, 1));
    e.SelectOnly(1, 0);
    ASSERT_TRUE(e.Menu(32772));  // Delete
    ASSERT_TRUE(e.WaitForRows(1, 0));
    ASSERT_TRUE(e.Menu(57665));  // Exit: "Save changes to one.gmn?" No
    EXPECT_EQ(e.Wait(10000), 0) << e.Errors();
    EXPECT_NE(e.Errors().find("[Burrowedit Editor] Save changes to one.gmn?"), std::string::npos) << e.Errors();
  }
  EXPECT_EQ(qxtest::ReadFile(Path("one.gmn")), menu);

  // Stored as maximised, it starts maximised: larger than the screen by its frame.
  int status = 0;
  Shell("'" + qxtest::BinDir() + "/qxreg' set '" + kProfileKey + "\\Window size' max REG_DWORD 1 2>&1", &status);
  ASSERT_EQ(status, 0);
  {
    Editor e(work.path(), "IDCANCEL");
    ASSERT_FALSE(e.Frame().empty()) << e.Errors();
    ASSERT_EQ(e.Cmd("png " + e.Frame() + " " + Path("max.png")), "ok");
    EXPECT_GE(PngSize(Path("max.png")).first, 1024);
    ASSERT_TRUE(e.Menu(32771));
    e.EnterItem(0, "Notes", "notes.txt", "h", "70");
    ASSERT_TRUE(e.Menu(57665));  // Exit: "Save changes to GMenu1?" Cancel
    ASSERT_TRUE(
        qxtest::WaitUntil([&] { return e.Errors().find("Save changes to GMenu1?") != std::string::npos; }, 5000));
    EXPECT_EQ(e.Wait(1000), -1) << "Cancel keeps the editor open";
    EXPECT_FALSE(e.Title().empty());
  }
}

// The item dialog with a type no description carries, fields it refuses, and
// the commands' states: Edit needs exactly one row, Insert appends when more
// are selected; the tool bar's tips and the status bar's idle text.
TEST_F(ProgramTest, ItemDialogAndCommandStates) {
  ASSERT_TRUE(qxtest::WriteFile(Path("odd.gmn"),
                                "bad\r\nworse line\r\nthird bad "
                                "one\r\nxOdd\txsel\thost\t70\r\n1Docs\t1D.GMN\th\t70\r\n0About\t0a.txt\th\t70\r\n"));
  Editor e(work.path(), "IDNO");
  ASSERT_FALSE(e.Frame().empty()) << e.Errors();
  const std::string toolBar = Handle(e.Cmd("item " + e.Frame() + " 59392"));
  EXPECT_EQ(Handle(e.Cmd("text " + Handle(e.Cmd("item " + toolBar + " 1")))), "New");
  EXPECT_EQ(Handle(e.Cmd("text " + Handle(e.Cmd("item " + toolBar + " 4")))), "New Item");
  const std::string statusBar = Handle(e.Cmd("item " + e.Frame() + " 59393"));
  EXPECT_EQ(Handle(e.Cmd("text " + statusBar)), "Ready");
  // The status bar shows the prompt of the menu item under the cursor, and
  // "Ready" again once the menu closes; CAP follows the Caps Lock key.
  e.Key(e.Frame(), 0x44, false);  // F10: the menu bar
  e.Key(e.Frame(), 0x50, true);   // Down: File opens at New
  EXPECT_TRUE(qxtest::WaitUntil([&] { return Handle(e.Cmd("text " + statusBar)) == "Create a new document"; }, 5000))
      << Handle(e.Cmd("text " + statusBar));
  e.Key(e.Frame(), 0x01, false);  // Esc
  e.Key(e.Frame(), 0x01, false);
  EXPECT_TRUE(qxtest::WaitUntil([&] { return Handle(e.Cmd("text " + statusBar)) == "Ready"; }, 5000));
  const std::string caps = Handle(e.Cmd("item " + statusBar + " 59137"));
  e.Key(e.Frame(), 0x3A, false);  // Caps Lock
  EXPECT_TRUE(qxtest::WaitUntil([&] { return Handle(e.Cmd("text " + caps)) == "CAP"; }, 5000));
  e.Key(e.Frame(), 0x3A, false);
  EXPECT_TRUE(qxtest::WaitUntil([&] { return Handle(e.Cmd("text " + caps)).empty(); }, 5000));

  // The tool bar, dragged by its background, docks at the nearest edge: a
  // column at the left, a row at the top again.
  const std::string client = Handle(e.Cmd("item " + e.Frame() + " 59648"));
  ASSERT_EQ(e.Cmd("drag " + toolBar + " 400 10 " + client + " 3 150"), "ok");
  EXPECT_TRUE(qxtest::WaitUntil(
      [&] {
        return e.Cmd("png " + toolBar + " " + Path("bar.png")) == "ok" && PngSize(Path("bar.png")).first == 28 &&
               PngSize(Path("bar.png")).second > 200;
      },
      5000))
      << PngSize(Path("bar.png")).first << "x" << PngSize(Path("bar.png")).second;
  ASSERT_EQ(e.Cmd("drag " + toolBar + " 10 400 " + client + " 300 2"), "ok");
  EXPECT_TRUE(qxtest::WaitUntil(
      [&] {
        return e.Cmd("png " + toolBar + " " + Path("bar.png")) == "ok" && PngSize(Path("bar.png")).second == 28 &&
               PngSize(Path("bar.png")).first > 200;
      },
      5000));

  ASSERT_TRUE(e.Menu(57601));
  e.AnswerFileDialog("Open", Path("odd.gmn"));
  ASSERT_TRUE(e.WaitForRows(1, 3)) << e.Errors();
  EXPECT_EQ(e.Rows(1)[0], "UNKNOWN[x]\tOdd\tsel\thost\t70");
  // Three lines that are not items: one box for the first, one count for the rest.
  EXPECT_NE(e.Errors().find("[Burrowedit Editor] The input line is to short to be valid\n[Burrowedit Editor] 2 more "
                            "lines of this file are not menu items"),
            std::string::npos)
      << e.Errors();

  // The unknown type is offered as an extra last entry, selected.
  e.SelectOnly(1, 0);
  ASSERT_TRUE(e.Menu(32773));
  const std::string dialog = e.WaitFor("Edit Menu Item");
  ASSERT_FALSE(dialog.empty());
  auto item = [&](int id) { return Handle(e.Cmd("item " + dialog + " " + std::to_string(id))); };
  EXPECT_EQ(e.Cmd("state " + item(1000)), "ok class=combobox enabled=1 visible=1 sel=17 count=18");
  EXPECT_EQ(Handle(e.Cmd("text " + item(1004))), "70");
  // A TAB in a field is refused and the dialog stays with what was entered.
  ASSERT_EQ(e.Cmd("settext " + item(1001) + " Odd\tone"), "ok");
  ASSERT_EQ(e.Cmd("press " + item(1)), "ok");
  ASSERT_TRUE(qxtest::WaitUntil([&] { return e.Errors().find("cannot hold a TAB") != std::string::npos; }, 5000))
      << e.Errors();
  EXPECT_EQ(Handle(e.Cmd("text " + item(1001))), "Odd\tone");
  // An empty field is refused; blanks count as filled.
  ASSERT_EQ(e.Cmd("settext " + item(1001) + " "), "ok");
  ASSERT_EQ(e.Cmd("press " + item(1)), "ok");
  ASSERT_TRUE(
      qxtest::WaitUntil([&] { return e.Errors().find("No Empty Fields Are Allowed") != std::string::npos; }, 5000))
      << e.Errors();
  EXPECT_FALSE(e.WaitFor("Edit Menu Item").empty());
  ASSERT_EQ(e.Cmd("press " + item(2)), "ok");  // Cancel
  ASSERT_TRUE(qxtest::WaitUntil([&] { return Handle(e.Cmd("find - Edit Menu Item")).empty(); }, 5000));
  EXPECT_EQ(e.Rows(1)[0], "UNKNOWN[x]\tOdd\tsel\thost\t70");

  // Two rows selected: Edit is grayed, Insert appends at the end.
  ASSERT_EQ(e.Cmd("select " + e.List(1) + " 2"), "ok");
  EXPECT_EQ(e.Cmd("menu " + e.Frame() + " 32773"), "error the menu item is grayed");
  ASSERT_TRUE(e.Menu(32771));
  e.EnterItem(14, "Pictures", "pics/", "h", "70");
  ASSERT_TRUE(e.WaitForRows(1, 4));
  EXPECT_EQ(e.Rows(1)[3], "GIF image[g]\tPictures\tpics/\th\t70");
  ASSERT_TRUE(e.Menu(57603));
  ASSERT_TRUE(qxtest::WaitUntil(
      [&] {
        return qxtest::ReadFile(Path("odd.gmn")) ==
               "bad\r\nworse line\r\nthird bad "
               "one\r\nxOdd\txsel\thost\t70\r\n1Docs\t1D.GMN\th\t70\r\n0About\t0a.txt\th\t70\r\ngPictures\tgpics/"
               "\th\t70\r\n";
      },
      5000))
      << qxtest::ReadFile(Path("odd.gmn"));
  // A double click on a row opens it in the dialog.
  ASSERT_EQ(e.Cmd("click " + e.List(1) + " 20 5 double"), "ok");
  const std::string again = e.WaitFor("Edit Menu Item");
  ASSERT_FALSE(again.empty());
  ASSERT_EQ(e.Cmd("press " + Handle(e.Cmd("item " + again + " 2"))), "ok");
  ASSERT_TRUE(qxtest::WaitUntil([&] { return Handle(e.Cmd("find - Edit Menu Item")).empty(); }, 5000));

  // Keys: Ctrl+N makes a new document.
  const std::string list = e.List(1);
  e.Cmd("key " + list + " 29 0 down");  // Ctrl
  e.Key(list, 0x31, false);             // N
  e.Cmd("key " + list + " 29 0 up");
  EXPECT_TRUE(e.WaitForTitle("Burrowedit Editor - GMenu2")) << e.Title();

  // The About box.
  ASSERT_TRUE(e.Menu(57664));
  const std::string about = e.WaitFor("About Burrowedit");
  ASSERT_FALSE(about.empty());
  ASSERT_EQ(e.Cmd("press " + Handle(e.Cmd("item " + about + " 1"))), "ok");
  ASSERT_TRUE(qxtest::WaitUntil([&] { return Handle(e.Cmd("find - About Burrowedit")).empty(); }, 5000));

  // With every document closed the frame shows the menu without Edit and Window.
  for (int i = 0; i < 3; ++i) e.Menu(57602);
  ASSERT_TRUE(e.WaitForTitle("Burrowedit Editor")) << e.Title();
  EXPECT_EQ(e.Cmd("menu " + e.Frame() + " 32771"), "error no such menu item");
  EXPECT_EQ(e.Cmd("menu " + e.Frame() + " 57616"), "ok") << "the recent file is listed";
  EXPECT_TRUE(e.WaitForTitle("Burrowedit Editor - odd.gmn")) << e.Title();
  ASSERT_TRUE(e.Menu(57665));
  EXPECT_EQ(e.Wait(10000), 0) << e.Errors();
}

}  // namespace
