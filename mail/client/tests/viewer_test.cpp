// The message viewer on a headless display: every line painted from its
// offset equals the line the reader gave (corpus messages with parts,
// quoted-printable and base64), the line selected at opening, Delete and
// Advance, and Next from the list moving an inbox message into "mail".
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "choicepop.h"
#include "displayline.h"
#include "msglist.h"
#include "retrieve.h"
#include "store_fixture.h"
#include "viewer.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {

const HeadlessDisplay g_headless;

// A home of the tests' own, so that the associations they write go to a
// WIN.INI of their own (set before the layer first reads QX_HOME).
struct OwnHome {
  qxtest::TempDir dir{"qx-viewer-home"};
  OwnHome() { setenv("QX_HOME", dir.path().c_str(), 1); }
} g_home;

int WINAPI QuietBox(HWND, LPCSTR, LPCSTR, UINT) { return IDOK; }

// Steps one a tick: in the window of the caption, or (no caption) in the viewer.
struct Step {
  const char *caption;
  std::function<void(HWND)> act;
};
std::vector<Step> g_steps;
size_t g_step = 0;
// When set, answers a window of this caption whenever one shows, apart from
// the steps (for a dialog that may or may not come).
std::pair<const char *, std::function<void(HWND)>> g_whenShown;
void CALLBACK NextStep(HWND, UINT, UINT_PTR, DWORD) {
  if (g_whenShown.first)
    if (HWND shown = FindWindowA(nullptr, g_whenShown.first); shown && IsWindowEnabled(shown))
      return g_whenShown.second(shown);
  if (g_step >= g_steps.size()) return;
  HWND d = g_steps[g_step].caption ? FindWindowA(nullptr, g_steps[g_step].caption) : ViewerWindow();
  if (!d || !IsWindowEnabled(d)) return;
  g_steps[g_step++].act(d);
}
template <typename Run>
INT_PTR Drive(std::vector<Step> steps, Run run) {
  g_steps = std::move(steps);
  g_step = 0;
  const UINT_PTR timer = SetTimer(nullptr, 0, 30, NextStep);
  const INT_PTR result = run();
  KillTimer(nullptr, timer);
  EXPECT_EQ(g_step, g_steps.size()) << "steps left undone";
  return result;
}
void Press(HWND d, int id) { PostMessageA(d, WM_COMMAND, static_cast<WPARAM>(id), 0); }

// What the reader gives for each line, as the viewer should paint it.
std::vector<std::string> ReaderLines(const std::string &path, uint8_t flags) {
  std::vector<std::string> lines;
  MessageFile f(path);
  uint32_t position = 0, decode = 0;
  for (auto text = NextDisplayLine(f, flags, position, true, &decode); text;
       text = NextDisplayLine(f, flags, position, false, &decode)) {
    std::string shown = (position & kAttachmentLine) ? *text : DecodeDisplayLine(*text, decode);
    const size_t lf = shown.find('\n');
    if (lf != std::string::npos) shown.resize(lf);
    if (!shown.empty() && shown.back() == '\r') shown.pop_back();
    lines.push_back(shown);
  }
  return lines;
}

class ViewerTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    g_MailMessageBox = QuietBox;
    mailDir = dir / "mail";
    fs::create_directories(Host(mailDir));
    Settings().mailDir = mailDir;
    Settings().wordWrap = 76;
    ASSERT_EQ(StoreCreateFolder(mailDir), 0);
  }
  void TearDown() override {
    g_MailMessageBox = MessageBoxA;
    StoreTest::TearDown();
  }
  MSG_ENTRY Stored(const std::string &text, uint8_t flags) {
    EXPECT_EQ(AddMessage(mailDir, text), 0);
    MSG_ENTRY e;
    e.number = IndexedIds(mailDir).rbegin()->first;
    e.flags = flags;
    e.rowText = "12/05  sender\t\t\tsubject";
    return e;
  }
  std::string mailDir;
};

}  // namespace

TEST_F(ViewerTest, PaintedLinesEqualTheReadersLines) {
  for (const char *name : {"alternative.eml", "mixed.eml", "qp-edges.eml", "uuencoded.eml"}) {
    SCOPED_TRACE(name);
    const std::string text = ReadFile(SourceDir() + "/mail/client/tests/corpus/display/" + name);
    const uint8_t flags = text.find("MIME-Version") != std::string::npos ? kSummaryMime : 0;
    const MSG_ENTRY entry = Stored(text, flags);
    std::vector<std::string> painted;
    bool advance = true;
    Drive({{nullptr,
            [&](HWND d) {
              painted = ViewerLineTexts();
              Press(d, IDOK);
            }}},
          [&] {
            return ReadMessageDialog(nullptr, mailDir, entry, POINT{0, 0}, advance);
          });
    EXPECT_EQ(painted, ReaderLines(Host(MessagePath(mailDir, static_cast<uint64_t>(entry.number))), flags));
  }
}

TEST_F(ViewerTest, OpeningLineDeleteAndAdvance) {
  EXPECT_EQ(InitialViewerLine(131, 30), 47);  // a 30-line header and a 100-line body
  EXPECT_EQ(InitialViewerLine(10, 4), 9);     // fewer lines: the last
  EXPECT_EQ(InitialViewerLine(40, -1), 16);   // no header end
  std::string message = "From: a@example.com\r\nSubject: s\r\n\r\n";
  for (int i = 0; i < 40; ++i) message += "body line " + std::to_string(i) + "\r\n";
  const MSG_ENTRY entry = Stored(message, 0);
  LRESULT selected = -1;
  bool advance = false;
  const INT_PTR result = Drive({{nullptr,
                                 [&](HWND d) {
                                   selected = SendDlgItemMessageA(d, IDC_VIEW_LINES, LB_GETCURSEL, 0, 0);
                                   SendDlgItemMessageA(d, IDC_VIEW_ADVANCE, BM_CLICK, 0, 0);
                                   Press(d, IDC_VIEW_DELETE);
                                 }}},
                               [&] {
                                 return ReadMessageDialog(nullptr, mailDir, entry, POINT{0, 0}, advance);
                               });
  EXPECT_EQ(result, IDC_VIEW_DELETE);
  EXPECT_EQ(selected, 2 + 17);
  EXPECT_TRUE(advance);
  EXPECT_TRUE(IndexedIds(mailDir).empty());
  EXPECT_FALSE(fs::exists(Host(MessagePath(mailDir, static_cast<uint64_t>(entry.number)))));
}

// From the list: Next on an inbox message files it into "mail" and reads on.
TEST_F(ViewerTest, NextFromTheListMovesInboxMailIntoTheMailFolder) {
  for (const char *id : {"n1", "n2"}) ASSERT_EQ(AddMessage(mailDir, Message(id)), 0);
  Drive({{"Read Mail",
          [](HWND d) {
            SendDlgItemMessageA(d, IDC_LIST_MESSAGES, LB_SETSEL, TRUE, 0);
            Press(d, IDC_LIST_READ);
          }},
         {nullptr, [](HWND d) { Press(d, IDC_VIEW_NEXT); }},
         {nullptr, [](HWND d) { Press(d, IDOK); }},
         {"Read Mail", [](HWND d) { Press(d, IDOK); }}},
        [] { return MessageListDialog(nullptr); });
  EXPECT_EQ(IndexedIds(mailDir).size(), 1u);
  EXPECT_EQ(IndexedIds(mailDir + "\\mail").size(), 1u);
}

// Search...: only the messages holding the text are read, the viewer's Next
// reads "F&ind"; an empty text reads nothing.
TEST_F(ViewerTest, SearchReadsOnlyTheMessagesHoldingTheText) {
  for (int i = 1; i <= 5; ++i)
    ASSERT_EQ(AddMessage(mailDir, Message("s" + std::to_string(i), i % 2 ? "plain" : "has a Needle")), 0);
  std::vector<std::string> seen;
  std::string nextLabel;
  auto look = [&](HWND d) {
    char label[32] = {};
    GetDlgItemTextA(d, IDC_VIEW_NEXT, label, sizeof label);
    nextLabel = label;
    for (const std::string &line : ViewerLineTexts())
      if (line.rfind("Subject:", 0) == 0) seen.push_back(line);
    Press(d, IDC_VIEW_NEXT);
  };
  Drive({{"Read Mail",
          [](HWND d) {
            SendDlgItemMessageA(d, IDC_LIST_MESSAGES, LB_SETSEL, TRUE, 0);
            Press(d, IDC_LIST_SEARCH);
          }},
         {"Search Messages",
          [](HWND d) {
            SetDlgItemTextA(d, IDC_SEARCH_TEXT, "needle");
            Press(d, IDOK);
          }},
         {nullptr, look},
         {nullptr, look},
         {"Read Mail", [](HWND d) { Press(d, IDC_LIST_SEARCH); }},
         {"Search Messages",
          [](HWND d) {
            SetDlgItemTextA(d, IDC_SEARCH_TEXT, "");
            Press(d, IDOK);
          }},
         {"Read Mail", [](HWND d) { Press(d, IDOK); }}},
        [] { return MessageListDialog(nullptr); });
  EXPECT_EQ(seen, (std::vector<std::string>{"Subject: has a Needle", "Subject: has a Needle"}));
  EXPECT_EQ(nextLabel, "F&ind");
  // Find moves what was read out of the inbox, as Next does.
  EXPECT_EQ(IndexedIds(mailDir).size(), 3u);
  EXPECT_EQ(IndexedIds(mailDir + "\\mail").size(), 2u);
}

// A name from a "begin" line never leaves the folder it is saved in, never
// names a device, and is bounded.
TEST(UuAttachmentName, ReducesHostileNamesToSafeBaseNames) {
  const struct {
    std::string line, name;
  } cases[] = {
      {"begin 644 hello.txt\n", "hello.txt"},
      {"begin 644 ../../x\n", "x"},
      {"begin 644 /etc/passwd\r\n", "passwd"},
      {"begin 644 ..\\..\\win.ini\n", "win.ini"},
      {"begin 644 CON\n", "_CON"},
      {"begin 644 lpt1.txt\n", "_lpt1.txt"},
      {"begin 644 a\x01"
       "b:c\n",
       "a_b_c"},
      {"begin 644 ..\n", "attachment"},
      {"begin 644 \n", "attachment"},
      {"begin 644 dir/\n", "attachment"},
      {"begin 644 " + std::string(300, 'n') + "\n", std::string(128, 'n')},
      {"begin 644 m12.msg\n", "_m12.msg"},
      {"begin 644 INDEX.IDX\n", "_INDEX.IDX"},
      {"begin 644 tosendm.000\n", "_tosendm.000"},
      {"begin 644 qx123456\n", "_qx123456"},
      {"begin 644 m.msg\n", "m.msg"},
  };
  for (const auto &c : cases) EXPECT_EQ(UuAttachmentName(c.line), c.name) << c.line;
}

namespace {
// Chooses the first attachment line of the open viewer that holds marker, and
// the pop-up's choice (1 or 2), as a person's click on it would.
void ChooseAttachment(HWND d, int choice, const char *marker = "**** File ") {
  HWND list = GetDlgItem(d, IDC_VIEW_LINES);
  const std::vector<std::string> lines = ViewerLineTexts();
  const auto row = std::find_if(lines.begin(), lines.end(),
                                [&](const std::string &l) { return l.find(marker) != std::string::npos; });
  if (row == lines.end()) {
    ADD_FAILURE() << "no attachment line";
    return Press(d, IDOK);
  }
  SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(row - lines.begin()), 0);
  SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_VIEW_LINES, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
  HWND popup = FindWindowA(kChoicePopupClass, nullptr);
  EXPECT_NE(popup, nullptr) << "no choice pop-up";
  if (popup) DestroyWindow(popup);
  PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDC_VIEW_LINES, kChoicePopupChosen), choice);
}
}  // namespace

// Choosing an uuencoded file's line offers its name in the save dialog, which
// starts in the mail directory; the saved file is what sharutils' uudecode
// makes of the message. Execute on a file without an association saves too.
TEST_F(ViewerTest, SavesAUuencodedFileUnderItsSafeName) {
  const std::string text = ReadFile(SourceDir() + "/mail/client/tests/corpus/display/uuencoded.eml");
  const std::string hostile =
      "From: x@example.com\r\nSubject: s\r\n\r\nbegin 644 ../../evil.sh\r\n"
      "%96-H;PH`\r\n`\r\nend\r\n";
  ASSERT_EQ(qxtest::Child({"/bin/sh", "-c",
                           "cd " + dir.path() + " && uudecode -o expected.bin " +
                               Host(SourceDir() + "/mail/client/tests/corpus/display/uuencoded.eml")})
                .Wait(30000),
            0);
  const std::string expected = ReadFile(dir / "expected.bin");
  ASSERT_FALSE(expected.empty());
  RegisterChoicePopup(GetModuleHandleA(nullptr));  // as the main window does
  struct Case {
    std::string message, suggested, content;
    int choice;
  };
  for (const Case &c : {Case{text, "hello.txt", expected, 1}, Case{hostile, "evil.sh", "echo\n", 2}}) {
    SCOPED_TRACE(c.suggested);
    const MSG_ENTRY entry = Stored(c.message, 0);
    const std::string saved = dir / ("saved-" + std::to_string(c.choice));
    std::string suggested, startedIn;
    bool advance = false;
    const auto choose = [&](HWND d) { ChooseAttachment(d, c.choice); };
    const auto save = [&](HWND d) {
      char name[MAX_PATH] = {};
      GetDlgItemTextA(d, edt1, name, sizeof name);
      suggested = name;
      char current[MAX_PATH] = {};
      GetCurrentDirectoryA(sizeof current, current);
      startedIn = current;
      SetDlgItemTextA(d, edt1, ("Z:" + saved).c_str());
      SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
    };
    Drive({{nullptr, choose}, {"Save Attachment", save}, {nullptr, [](HWND d) { Press(d, IDOK); }}}, [&] {
      return ReadMessageDialog(nullptr, mailDir, entry, POINT{0, 0}, advance);
    });
    EXPECT_EQ(suggested, c.suggested);
    EXPECT_EQ(ReadFile(saved), c.content);
  }
  EXPECT_FALSE(fs::exists(dir / "evil.sh"));
  EXPECT_FALSE(fs::exists(fs::path(dir.path()).parent_path() / "evil.sh"));
}

// Records what the associated programs are started with, through a stand-in
// registered in WIN.INI for the ".txt", ".png", ".exe" and ".msg" extensions.
class AssociationTest : public ViewerTest {
 protected:
  void SetUp() override {
    ViewerTest::SetUp();
    // The programs start in the current directory: an earlier test's save
    // dialog may have left it in a folder that is gone.
    SetCurrentDirectoryA(dir.path().c_str());
    record = dir / "started.txt";
    const std::string recorder = dir / "recorder";
    WriteFile(recorder, "#!/bin/sh\n(IFS='|'; printf '%s\\n' \"$*\") >> '" + record + "'\n");
    chmod(recorder.c_str(), 0755);
    WriteProfileStringA("programs", "notepad.exe", (recorder + " notepad %1").c_str());
    for (const char *extension : {"txt", "png", "exe", "msg"})  // a program is never opened, whatever WIN.INI says
      WriteProfileStringA("Extensions", extension, (std::string("notepad.exe ^.") + extension).c_str());
    RegisterChoicePopup(GetModuleHandleA(nullptr));
  }
  // The recorded starts, once there are count (the stand-in runs on its own) and no more came.
  std::vector<std::string> Started(size_t count) {
    const auto lines = [&] {
      std::vector<std::string> out;
      std::istringstream in(ReadFile(record));
      for (std::string line; std::getline(in, line);) out.push_back(line);
      return out;
    };
    for (int wait = 0; wait < 500 && lines().size() < count; ++wait) Sleep(10);
    Sleep(200);
    return lines();
  }
  std::string record;
};

// Execute on a uuencoded file whose extension has an association decodes it
// into the mail directory under its safe name (a taken name gets a number,
// nothing is replaced) and hands that path to the associated program, here a
// recording stand-in. A hostile name reaches it as one path and runs nothing;
// Save, a program extension and a name without an association start nothing.
TEST_F(AssociationTest, ExecuteOpensAUuencodedFileWithItsAssociatedProgram) {
  const auto message = [](const std::string &name) {
    return "From: x@example.com\r\nSubject: s\r\n\r\nbefore\r\nbegin 644 " + name +
           "\r\n%96-H;PH`\r\n`\r\nend\r\nafter\r\n";
  };
  const std::string hostile = "$(touch pwned) `touch pwned`;x'.txt";
  const struct {
    std::string name;
    int choice;
    std::string opened;  // the file handed to the stand-in, or "" when the save dialog comes instead
  } cases[] = {
      {"report.txt", 2, "report.txt"},
      {"report.txt", 2, "report-1.txt"},
      {"../../" + hostile, 2, hostile},
      {"m1.msg", 2, "_m1.msg"},
      {"report.txt", 1, ""},
      {"tool.exe", 2, ""},
      {"notes.xyz", 2, ""},
      {"README", 2, ""},
  };
  std::vector<std::string> expected;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name + " choice " + std::to_string(c.choice));
    const MSG_ENTRY entry = Stored(message(c.name), 0);
    bool advance = false, saveOffered = false;
    g_whenShown = {"Save Attachment", [&](HWND d) {
                     saveOffered = true;
                     SendDlgItemMessageA(d, IDCANCEL, BM_CLICK, 0, 0);
                   }};
    Drive({{nullptr, [&](HWND d) { ChooseAttachment(d, c.choice); }}, {nullptr, [](HWND d) { Press(d, IDOK); }}}, [&] {
      return ReadMessageDialog(nullptr, mailDir, entry, POINT{0, 0}, advance);
    });
    g_whenShown = {};
    EXPECT_EQ(saveOffered, c.opened.empty());
    if (c.opened.empty()) continue;
    EXPECT_EQ(ReadFile(mailDir + "/" + c.opened), "echo\n");
    expected.push_back("notepad|" + Host(mailDir + "/" + c.opened));
  }
  EXPECT_EQ(Started(expected.size()), expected);
  EXPECT_NE(ReadFile(mailDir + "/m1.msg").find("begin 644 report.txt"), std::string::npos);  // the store's own file
  EXPECT_FALSE(fs::exists(dir / "pwned"));
  EXPECT_FALSE(fs::exists(mailDir + "/pwned"));
  EXPECT_FALSE(fs::exists("pwned"));
}

// A long message shows after its first lines are read, with the line 17 below
// the header's end selected; the viewer reads the rest while it waits for
// input, and then shows every line as the reader gives it.
TEST_F(ViewerTest, ALongMessageShowsBeforeItIsReadWhole) {
  std::string text = "From: x@example.com\r\nSubject: long\r\n\r\n";
  constexpr size_t kBodyLines = 20000;
  for (size_t i = 0; i < kBodyLines; ++i) text += "line " + std::to_string(i) + "\r\n";
  const MSG_ENTRY entry = Stored(text, 0);
  const size_t total = kBodyLines + 3;
  static size_t readWhenShown = 0;
  g_ViewerShownHook = [](size_t lines) { readWhenShown = lines; };
  LRESULT selected = -1, countWhileWaiting = 0;
  std::vector<std::string> shown;
  bool advance = false;
  Drive({{nullptr,
          [&](HWND d) {
            HWND list = GetDlgItem(d, IDC_VIEW_LINES);
            selected = SendMessageA(list, LB_GETCURSEL, 0, 0);
            // The viewer's own queue runs here, as when the person waits.
            for (int i = 0; i < 2000 && SendMessageA(list, LB_GETCOUNT, 0, 0) < static_cast<LRESULT>(total); ++i) {
              MSG msg;
              while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
              Sleep(2);
            }
            countWhileWaiting = SendMessageA(list, LB_GETCOUNT, 0, 0);
            shown = ViewerLineTexts();
            Press(d, IDOK);
          }}},
        [&] {
          return ReadMessageDialog(nullptr, mailDir, entry, POINT{0, 0}, advance);
        });
  g_ViewerShownHook = nullptr;
  EXPECT_GE(readWhenShown, 2u + 17u + 1u);
  EXPECT_LT(readWhenShown, total / 10);
  EXPECT_EQ(selected, 2 + 17);
  EXPECT_EQ(countWhileWaiting, static_cast<LRESULT>(total));
  EXPECT_EQ(shown, ReaderLines(MessagePath(mailDir, static_cast<uint64_t>(entry.number)), 0));
}

// Display on an image part goes to the MIME library, which decodes it into a
// numbered file of the mail directory (the name in the message is not used)
// and opens that with the association for its type; Save offers the save
// dialog and starts nothing.
TEST_F(AssociationTest, DisplayOpensAnImagePartThroughTheMimeLibrary) {
  const std::string message =
      "From: x@example.com\r\nSubject: picture\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\nContent-Type: text/plain\r\n\r\nsee it\r\n"
      "--B\r\nContent-Type: image/png\r\nContent-Disposition: attachment; filename=\"../../$(touch pwned).png\"\r\n"
      "Content-Transfer-Encoding: base64\r\n\r\niVBORw0KGgo=\r\n--B--\r\n";
  std::vector<std::string> expected;
  for (int choice : {1, 2}) {
    SCOPED_TRACE("choice " + std::to_string(choice));
    const MSG_ENTRY entry = Stored(message, kRecordMime);
    bool advance = false, saveOffered = false;
    g_whenShown = {"Save Image", [&](HWND d) {
                     saveOffered = true;
                     SendDlgItemMessageA(d, IDCANCEL, BM_CLICK, 0, 0);
                   }};
    const auto choose = [&](HWND d) { ChooseAttachment(d, choice, "MIME Image part"); };
    Drive({{nullptr, choose}, {nullptr, [](HWND d) { Press(d, IDOK); }}}, [&] {
      return ReadMessageDialog(nullptr, mailDir, entry, POINT{0, 0}, advance);
    });
    g_whenShown = {};
    EXPECT_EQ(saveOffered, choice == 1);
  }
  std::vector<std::string> images;
  for (const auto &e : fs::directory_iterator(Host(mailDir)))
    if (e.path().extension() == ".png") images.push_back(e.path().string());
  ASSERT_EQ(images.size(), 1u);
  EXPECT_EQ(fs::path(images[0]).filename().string().rfind("QXIMG", 0), 0u) << images[0];
  EXPECT_EQ(ReadFile(images[0]).rfind("\x89PNG", 0), 0u);
  EXPECT_EQ(Started(1), std::vector<std::string>{"notepad|" + images[0]});
  EXPECT_FALSE(fs::exists(dir / "pwned"));
  EXPECT_FALSE(fs::exists(mailDir + "/pwned"));
  EXPECT_FALSE(fs::exists("pwned"));
}
