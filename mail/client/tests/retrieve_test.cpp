// The retrieval driver on a headless display: the "retrieving" dialog with
// its progress line, no nested retrieval, Cancel without an error box, the
// error box of a failure, and the new-mail signal on a minimised window.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "maildlg.h"
#include "pop.h"
#include "pop_peers.h"
#include "retrieve.h"
#include "settings.h"
#include "test_support.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {

const HeadlessDisplay g_headless;

LRESULT CALLBACK OwnerProc(HWND h, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(h, m, wp, lp); }

std::vector<std::string> g_boxes;
int WINAPI RecordBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
  g_boxes.push_back(std::string(caption) + ": " + text);
  return IDOK;
}

std::set<std::string> g_statusSeen;
int g_nestedResult = 0;
HWND g_owner = nullptr;
// A look at the dialog while the retrieval runs, as a person sees it.
void CALLBACK Watch(HWND, UINT, UINT_PTR, DWORD) {
  if (HWND d = ConversationWindow()) {
    char text[128] = {};
    GetDlgItemTextA(d, IDC_PROGRESS_STATUS, text, sizeof text);
    g_statusSeen.insert(text);
  }
  if (!g_nestedResult) g_nestedResult = RetrieveMail(g_owner);
}
void CALLBACK PressCancel(HWND, UINT, UINT_PTR, DWORD) {
  if (HWND d = ConversationWindow()) SendDlgItemMessageA(d, IDC_PROGRESS_BUTTON, BM_CLICK, 0, 0);
}

class RetrieveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    transport.dialogFilter = ConversationDialogFilter;
    SetMailTransport(&transport);
    g_MailMessageBox = RecordBox;
    g_boxes.clear();
    g_statusSeen.clear();
    g_nestedResult = 0;
    WNDCLASSA wc{};
    wc.lpfnWndProc = OwnerProc;
    wc.lpszClassName = "QxRetrieveOwner";
    RegisterClassA(&wc);
    g_owner = CreateWindowA("QxRetrieveOwner", "alice", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                            nullptr, nullptr, nullptr);
    fs::create_directories(dir / "mail");
    fs::create_directories(dir / "source");
    MAIL_SETTINGS &s = Settings();
    s.user = "alice";
    s.mailDir = dir / "mail";
    s.mailHost = "127.0.0.1";
    s.deleteReadFromServer = 1;
    s.ownAddress = "alice@example.com";
    g_Password = "secret";
  }
  void TearDown() override {
    DestroyWindow(g_owner);
    SetMailTransport(nullptr);
    g_MailMessageBox = MessageBoxA;
    WSACleanup();
  }
  void StartPeer(std::vector<std::string> options) {
    for (int i = 1; i <= 3; ++i)
      WriteFile(dir / ("source/" + std::to_string(i)),
                "Subject: m" + std::to_string(i) + "\r\n\r\n" + std::string(3000, 'b') + "\r\n");
    std::vector<std::string> args = {"/usr/bin/python3", SourceDir() + "/mail/client/tests/pop_peer.py", dir / "source",
                                     dir / "peer.log"};
    args.insert(args.end(), options.begin(), options.end());
    ASSERT_TRUE(peer.Start(args, true)) << "the scripted POP server did not start (python3)";
    transport.ports["pop-3"] = peer.port();
    transport.ports["pop-2"] = FreePort();
  }

  TempDir dir;
  PortTransport transport;
  Child peer;
};

TEST_F(RetrieveTest, ShowsProgressAndNeverNests) {
  StartPeer({"--split"});
  UINT_PTR timer = SetTimer(nullptr, 0, 30, Watch);
  EXPECT_EQ(RetrieveMail(g_owner), 3);
  KillTimer(nullptr, timer);
  EXPECT_EQ(g_nestedResult, kRetrievalNested);
  EXPECT_TRUE(g_statusSeen.count("Getting message 1 of 3") || g_statusSeen.count("Getting message 2 of 3"))
      << g_statusSeen.size() << " texts seen";
  EXPECT_EQ(ConversationWindow(), nullptr);
  EXPECT_TRUE(g_boxes.empty());
  EXPECT_EQ(g_MailBusy, 0);
  char title[64] = {};
  GetWindowTextA(g_owner, title, sizeof title);
  EXPECT_STREQ(title, "alice");  // not minimised: no new-mail title
}

TEST_F(RetrieveTest, CancelShowsNoErrorBox) {
  StartPeer({"--split"});
  UINT_PTR timer = SetTimer(nullptr, 0, 100, PressCancel);
  int result = RetrieveMail(g_owner);
  KillTimer(nullptr, timer);
  EXPECT_LT(result, 0);
  EXPECT_TRUE(g_boxes.empty()) << g_boxes.front();
  EXPECT_EQ(ConversationWindow(), nullptr);
}

TEST_F(RetrieveTest, FailuresAreReportedInThePopServerErrorBox) {
  StartPeer({});
  g_Password = "wrong";
  EXPECT_EQ(RetrieveMail(g_owner), kPopLoginRefused);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0], "Pop Server Error: -ERR [AUTH] Authentication failed.");
  transport.ports["pop-3"] = FreePort();
  EXPECT_EQ(RetrieveMail(g_owner), kPopNoServer);
  ASSERT_EQ(g_boxes.size(), 2u);
  EXPECT_EQ(g_boxes[1], "Pop Server Error: Mail Host <127.0.0.1> not running POP server");
}

TEST_F(RetrieveTest, NewMailWhileMinimisedChangesTheTitleAndFlashes) {
  StartPeer({});
  ShowWindow(g_owner, SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(g_owner));
  EXPECT_EQ(RetrieveMail(g_owner), 3);
  char title[64] = {};
  GetWindowTextA(g_owner, title, sizeof title);
  EXPECT_STREQ(title, "alice (New Mail)");
  EXPECT_EQ(g_NewMailFlag, 1);
  EXPECT_EQ(g_FlashCount, 6);
  EXPECT_EQ(ConversationWindow(), nullptr);  // no dialog while minimised
  KillTimer(g_owner, kFlashTimer);
  g_NewMailFlag = 0;
}

}  // namespace
