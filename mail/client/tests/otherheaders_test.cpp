// The other-header-fields dialog on a headless display: user header lines
// checked as a table, the Reply-To setting offered for a new message, Add and
// Remove, OK writing back and Cancel keeping everything.
#include <gtest/gtest.h>

#include <functional>

#include "otherheaders.h"
#include "retrieve.h"
#include "settings.h"
#include "smtp.h"
#include "test_support.h"

using namespace mailtest;

namespace {

const HeadlessDisplay g_headless;

std::vector<std::string> g_boxes;
int WINAPI RecordBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
  g_boxes.push_back(std::string(caption) + ": " + text);
  return IDOK;
}

// Steps a person takes, one a tick, each in the window of its caption.
struct Step {
  const char *caption;
  std::function<void(HWND)> act;
};
std::vector<Step> g_steps;
size_t g_step = 0;
void CALLBACK NextStep(HWND, UINT, UINT_PTR, DWORD) {
  if (g_step >= g_steps.size()) return;
  HWND d = FindWindowA(nullptr, g_steps[g_step].caption);
  if (!d) return;
  g_steps[g_step++].act(d);
}

INT_PTR Drive(std::vector<Step> steps) {
  g_steps = std::move(steps);
  g_step = 0;
  const UINT_PTR timer = SetTimer(nullptr, 0, 30, NextStep);
  const INT_PTR result = OtherHeadersDialog(nullptr);
  KillTimer(nullptr, timer);
  EXPECT_EQ(g_step, g_steps.size());
  return result;
}

void Click(HWND d, int id) { PostMessageA(d, WM_COMMAND, static_cast<WPARAM>(id), 0); }
std::string Field(HWND d, int id) {
  char text[256] = {};
  GetDlgItemTextA(d, id, text, sizeof text);
  return text;
}

class OtherHeadersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_MailMessageBox = RecordBox;
    g_boxes.clear();
    Settings() = MAIL_SETTINGS{};
    ClearSendHeader(CurrentSendHeader(), true);
  }
  void TearDown() override {
    g_MailMessageBox = MessageBoxA;
    ClearSendHeader(CurrentSendHeader(), true);
  }
};

}  // namespace

TEST(UserHeaderLines, AcceptedAndRefused) {
  const struct {
    const char *line;
    int refusal;
  } cases[] = {
      {"X-Priority: 1", 0},     {"X-Note:no blank", 0}, {"X Priority: 1", 90}, {"X-Priority : 1", 90},
      {"no colon at all", 90},  {": empty name", 90},   {"reply-to: a@b", 92}, {"MESSAGE-ID: <x>", 92},
      {"Resent-Sender: x", 92}, {"Bcc: hidden@b", 92},  {"X-Reply-To: ok", 0},
  };
  for (const auto &c : cases) EXPECT_EQ(CheckUserHeader(c.line), c.refusal) << c.line;
}

TEST_F(OtherHeadersTest, AddRemoveAndOk) {
  Settings().replyTo = "replies@example.com";
  CurrentSendHeader().extraLines = {"X-Old: 1"};
  std::string shownReplyTo;
  EXPECT_EQ(Drive({{"Send Mail",
                    [&](HWND d) {
                      shownReplyTo = Field(d, IDC_OTHER_REPLYTO);
                      SetDlgItemTextA(d, IDC_OTHER_BCC, "hidden@example.com");
                      SetDlgItemTextA(d, IDC_OTHER_INREPLYTO, "<earlier@example.com>");
                      Click(d, IDC_OTHER_ADD);
                    }},
                   {"User Entered Headers",
                    [](HWND d) {
                      SetDlgItemTextA(d, IDC_ADDHEADER_TEXT, "X-Priority: 1");
                      Click(d, IDOK);
                    }},
                   {"Send Mail", [](HWND d) { Click(d, IDC_OTHER_ADD); }},
                   {"User Entered Headers",
                    [](HWND d) {
                      SetDlgItemTextA(d, IDC_ADDHEADER_TEXT, "Reply-To: sneaky@example.com");
                      Click(d, IDOK);
                    }},
                   {"Send Mail",
                    [](HWND d) {
                      SendDlgItemMessageA(d, IDC_OTHER_LIST, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
                      Click(d, IDC_OTHER_REMOVE);  // nothing selected
                    }},
                   {"Send Mail",
                    [](HWND d) {
                      SendDlgItemMessageA(d, IDC_OTHER_LIST, LB_SETCURSEL, 0, 0);
                      Click(d, IDC_OTHER_REMOVE);
                    }},
                   {"Send Mail", [](HWND d) { Click(d, IDC_OTHER_BCC_BUTTON); }},
                   {"Send Mail", [](HWND d) { Click(d, IDOK); }}}),
            1);
  EXPECT_EQ(shownReplyTo, "replies@example.com");
  const SEND_HEADER &h = CurrentSendHeader();
  EXPECT_EQ(h.bcc.value_or(""), "hidden@example.com");
  EXPECT_EQ(h.inReplyTo.value_or(""), "<earlier@example.com>");
  EXPECT_EQ(h.replyTo.value_or(""), "replies@example.com");
  EXPECT_EQ(h.extraLines, std::vector<std::string>{"X-Priority: 1"});
  EXPECT_EQ(g_boxes,
            (std::vector<std::string>{
                "Add Header Entry: This Header not allowed", "Delete Header Entry: No Header Selected to Delete",
                "Alias Management: The Alias Management Library nicknames.DLL was not found; Alias "
                "Management disabled."}));
}

TEST_F(OtherHeadersTest, CancelKeepsEverything) {
  CurrentSendHeader().extraLines = {"X-One: 1", "X-Two: 2"};
  CurrentSendHeader().bcc = "kept@example.com";
  EXPECT_EQ(Drive({{"Send Mail",
                    [](HWND d) {
                      SendDlgItemMessageA(d, IDC_OTHER_LIST, LB_SETCURSEL, 0, 0);
                      Click(d, IDC_OTHER_REMOVE);
                      SetDlgItemTextA(d, IDC_OTHER_BCC, "changed@example.com");
                    }},
                   {"Send Mail", [](HWND d) { Click(d, IDCANCEL); }}}),
            0);
  EXPECT_EQ(CurrentSendHeader().extraLines, (std::vector<std::string>{"X-One: 1", "X-Two: 2"}));
  EXPECT_EQ(CurrentSendHeader().bcc.value_or(""), "kept@example.com");
}
