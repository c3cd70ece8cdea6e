// The main window on a headless display: menu items greyed until a mailbox
// is open, a mailbox locked by another holder, a user that does not exist,
// the timed-retrieval countdown and its busy rule, commands dropped while
// busy, and the login dialog.
#include <gtest/gtest.h>

#include <filesystem>

#include "mailfs.h"
#include "maildlg.h"
#include "mainwnd.h"
#include "msglist.h"
#include "pop.h"
#include "pop_peers.h"
#include "retrieve.h"
#include "settings.h"
#include "test_support.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {

const HeadlessDisplay g_headless;

std::vector<std::string> g_boxes;
int g_boxAnswer = IDOK;
int WINAPI RecordBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
  g_boxes.push_back(std::string(caption) + ": " + text);
  return g_boxAnswer;
}

bool Enabled(HWND window, UINT id) { return !(GetMenuState(GetMenu(window), id, MF_BYCOMMAND) & MF_GRAYED); }

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    SetMailTransport(&transport);
    transport.ports["pop-3"] = FreePort();
    transport.ports["pop-2"] = FreePort();
    g_MailMessageBox = RecordBox;
    g_boxes.clear();
    g_boxAnswer = IDOK;
    g_MailBusy = 0;
    mailDir = dir / "mail";
    fs::create_directories(mailDir);
    WriteFile(dir / "QXMAIL.INI", "[alice]\nMailDir=" + mailDir +
                                      "\nMailHost=127.0.0.1\nTimed=1\nInterval=5\nLogin=0\nIndexFormat=BytePacked\n");
    Settings().iniFile = dir / "QXMAIL.INI";
    Settings().user = "alice";
    static bool registered = RegisterMailClasses(GetModuleHandleA(nullptr));
    ASSERT_TRUE(registered);
    window = CreateMailWindow(GetModuleHandleA(nullptr), SW_SHOW);
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override {
    if (IsWindow(window)) DestroyWindow(window);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    SetMailTransport(nullptr);
    g_MailMessageBox = MessageBoxA;
    WSACleanup();
  }

  TempDir dir;
  std::string mailDir;
  PortTransport transport;
  HWND window = nullptr;
};

TEST_F(MainWindowTest, ItemsGreyedUntilTheMailboxOpens) {
  for (UINT id = IDM_NEWFOLDER; id <= IDM_COMPOSE; ++id) EXPECT_FALSE(Enabled(window, id)) << id;
  EXPECT_TRUE(Enabled(window, IDM_NEWUSER));
  ASSERT_EQ(OpenMailbox(window), 0);
  for (UINT id : {IDM_CONFIGURE, IDM_REBUILD, IDM_RETRIEVE}) EXPECT_TRUE(Enabled(window, id)) << id;
  char title[64] = {};
  GetWindowTextA(window, title, sizeof title);
  EXPECT_STREQ(title, "alice");
  EXPECT_TRUE(g_boxes.empty()) << g_boxes.front();
}

TEST_F(MainWindowTest, LockedMailboxIsOpenedWithReadingDisabled) {
  MailboxLock other;
  ASSERT_TRUE(other.Open(mailDir));
  ASSERT_EQ(OpenMailbox(window), 0);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0], "MailBox Locked: MailBox in use by another PC; reading disabled");
  EXPECT_TRUE(Enabled(window, IDM_CONFIGURE));
  EXPECT_FALSE(Enabled(window, IDM_RETRIEVE));
  EXPECT_FALSE(Enabled(window, IDM_REBUILD));
  EXPECT_EQ(Settings().timed, 0);
}

TEST_F(MainWindowTest, UnknownUserGivenUpStopsTheTimer) {
  ASSERT_EQ(OpenMailbox(window), 0);
  ASSERT_EQ(Settings().timed, 1);
  Settings().user = "nobody";
  g_boxAnswer = IDCANCEL;
  EXPECT_EQ(OpenMailbox(window), 1);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0], "New User: User Not Found; Create ?");
  // The old user's timer is gone: a tick now retrieves nothing.
  EXPECT_FALSE(KillTimer(window, kRetrievalTimer));
  EXPECT_FALSE(Enabled(window, IDM_RETRIEVE));
}

// Interval 5: the retrieval runs on the sixth tick, and a tick that finds
// the program busy puts it two ticks later.
TEST_F(MainWindowTest, TimedRetrievalCountdown) {
  ASSERT_EQ(OpenMailbox(window), 0);
  EXPECT_EQ(g_RetrievalCountdown, 5);
  for (int tick = 1; tick <= 5; ++tick) SendMessageA(window, WM_TIMER, kRetrievalTimer, 0);
  EXPECT_TRUE(g_boxes.empty());
  EXPECT_EQ(g_RetrievalCountdown, 0);
  g_MailBusy = 1;
  SendMessageA(window, WM_TIMER, kRetrievalTimer, 0);
  EXPECT_EQ(g_RetrievalCountdown, 1);
  g_MailBusy = 0;
  SendMessageA(window, WM_TIMER, kRetrievalTimer, 0);
  EXPECT_TRUE(g_boxes.empty());
  SendMessageA(window, WM_TIMER, kRetrievalTimer, 0);  // the retrieval: no server here
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0], "Pop Server Error: Mail Host <127.0.0.1> not running POP server");
  EXPECT_EQ(g_RetrievalCountdown, 5);
}

TEST_F(MainWindowTest, CommandsWhileBusyAreDropped) {
  ASSERT_EQ(OpenMailbox(window), 0);
  g_MailBusy = 1;
  SendMessageA(window, WM_COMMAND, IDM_RETRIEVE, 0);
  EXPECT_TRUE(g_boxes.empty());
  g_MailBusy = 0;
  SendMessageA(window, WM_COMMAND, IDM_RETRIEVE, 0);
  EXPECT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_MailBusy, 0);
}

// The login dialog, answered from a timer: OK without a password keeps it
// open; with one it opens the mailbox and ends with 1.
int g_loginStep = 0;
void CALLBACK LoginSteps(HWND, UINT, UINT_PTR, DWORD) {
  HWND d = FindWindowA(nullptr, "Username - Password");
  if (!d) return;
  ++g_loginStep;
  if (g_loginStep == 1) {
    SetDlgItemTextA(d, IDC_LOGIN_USER, "alice");
    SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
  } else if (g_loginStep == 2) {
    SetDlgItemTextA(d, IDC_LOGIN_PASSWORD, "secret");
    SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
  }
}

TEST_F(MainWindowTest, LoginDialogNeedsAPassword) {
  Settings().user.clear();
  g_loginStep = 0;
  UINT_PTR timer = SetTimer(nullptr, 0, 50, LoginSteps);
  EXPECT_EQ(LoginDialog(window), 1);
  KillTimer(nullptr, timer);
  ASSERT_GE(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0], "New User: Password is Required");
  EXPECT_EQ(Settings().user, "alice");
  EXPECT_EQ(g_Password, "secret");
  EXPECT_TRUE(Enabled(window, IDM_RETRIEVE));
}

// New User with Login on: mail found by the retrieval that follows opens the
// message list, which shows it.
std::string g_listCount;
int g_newUserStep = 0;
void CALLBACK NewUserSteps(HWND, UINT, UINT_PTR, DWORD) {
  if (g_newUserStep == 0) {
    HWND d = FindWindowA(nullptr, "Username - Password");
    if (!d) return;
    ++g_newUserStep;
    SetDlgItemTextA(d, IDC_LOGIN_USER, "alice");
    SetDlgItemTextA(d, IDC_LOGIN_PASSWORD, "secret");
    PostMessageA(d, WM_COMMAND, IDOK, 0);
  } else if (g_newUserStep == 1) {
    HWND d = FindWindowA(nullptr, "Read Mail");
    if (!d) return;
    ++g_newUserStep;
    char text[64] = {};
    GetDlgItemTextA(d, IDC_LIST_COUNT, text, sizeof text);
    g_listCount = text;
    PostMessageA(d, WM_COMMAND, IDOK, 0);
  }
}

TEST_F(MainWindowTest, NewMailAtLoginOpensTheMessageList) {
  fs::create_directories(dir / "source");
  WriteFile(dir / "source/1", "Subject: hello\r\n\r\nbody\r\n");
  Child peer;
  ASSERT_TRUE(peer.Start(
      {"/usr/bin/python3", SourceDir() + "/mail/client/tests/pop_peer.py", dir / "source", dir / "peer.log"}, true))
      << "the scripted POP server did not start (python3)";
  transport.ports["pop-3"] = peer.port();
  WriteFile(dir / "QXMAIL.INI", "[alice]\nMailDir=" + mailDir +
                                    "\nMailHost=127.0.0.1\nLogin=1\nDeleteReadFromServer=0\nIndexFormat=BytePacked\n");
  g_newUserStep = 0;
  g_listCount.clear();
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, NewUserSteps);
  SendMessageA(window, WM_COMMAND, IDM_NEWUSER, 0);
  MSG m;
  for (int i = 0; i < 400 && g_newUserStep < 2; ++i) {  // the posted Read! runs the list from here
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    Sleep(25);
  }
  KillTimer(nullptr, timer);
  EXPECT_EQ(g_newUserStep, 2);
  EXPECT_EQ(g_listCount, "(1 Message)");
}

}  // namespace
