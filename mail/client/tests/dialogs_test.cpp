// The mail client's dialogs, headless: the Configure dialog driven as a person
// would (fields set, check boxes and OK or Cancel clicked from a timer) and
// what it writes into "QXMAIL.INI"; the progress dialogs with the SMTP
// conversation, Cancel during a stalled read, and "&OK" in verbose mode.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "configure_golden.h"
#include "maildlg.h"
#include "mailstore.h"
#include "settings.h"
#include "test_support.h"
#include "wintransport.h"

#include <winsock.h>

using namespace mailtest;

namespace {

using Clock = std::chrono::steady_clock;

const HeadlessDisplay g_headless;

void Pump() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
}

LRESULT CALLBACK OwnerProc(HWND h, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(h, m, wp, lp); }

HWND MakeOwner() {
  static bool registered = false;
  if (!registered) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = OwnerProc;
    wc.lpszClassName = "QxMailTestOwner";
    RegisterClassA(&wc);
    registered = true;
  }
  HWND owner = CreateWindowA("QxMailTestOwner", "tester", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, nullptr,
                             nullptr, nullptr, nullptr);
  Pump();
  return owner;
}

// What a person does in a dialog, one step per timer tick.
void Text(HWND d, int id, const std::string &text) { SetDlgItemTextA(d, id, text.c_str()); }
void Click(HWND d, int id) { SendDlgItemMessageA(d, id, BM_CLICK, 0, 0); }
// Typed character by character over the whole field, so the edit's limit applies.
void TypeInto(HWND d, int id, const std::string &text) {
  SendDlgItemMessageA(d, id, EM_SETSEL, 0, -1);
  for (char c : text) SendDlgItemMessageA(d, id, WM_CHAR, static_cast<unsigned char>(c), 1);
}
std::string TextOf(HWND d, int id) {
  char buffer[512] = {};
  GetDlgItemTextA(d, id, buffer, sizeof buffer);
  return buffer;
}
bool Enabled(HWND d, int id) { return IsWindowEnabled(GetDlgItem(d, id)) != FALSE; }
bool Checked(HWND d, int id) { return IsDlgButtonChecked(d, id) == BST_CHECKED; }

using Step = std::function<void(HWND)>;
struct Script {
  const char *caption = nullptr;
  std::vector<Step> steps;
  size_t next = 0;
  int idle = 0;
};
Script *g_script = nullptr;

// Finds the dialog by its caption and runs the next step; a dialog still open
// long after the last step is cancelled, so a test never hangs.
void CALLBACK RunStep(HWND, UINT, UINT_PTR, DWORD) {
  if (!g_script) return;
  HWND d = FindWindowA(nullptr, g_script->caption);
  if (!d) return;
  if (g_script->next < g_script->steps.size()) {
    g_script->steps[g_script->next++](d);
  } else if (++g_script->idle == 100) {
    ADD_FAILURE() << "the dialog stayed open";
    PostMessageA(d, WM_COMMAND, IDCANCEL, 0);
  }
}

// Runs a modal dialog with the script's steps; returns the dialog's result.
INT_PTR RunScript(Script &script, const std::function<INT_PTR()> &open) {
  g_script = &script;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, RunStep);
  const INT_PTR result = open();
  KillTimer(nullptr, timer);
  g_script = nullptr;
  EXPECT_EQ(script.next, script.steps.size()) << "steps left over";
  return result;
}

// ---------------------------------------------------------------------------
// Configure
// ---------------------------------------------------------------------------
class ConfigureDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProfileAccess(nullptr);
    owner = MakeOwner();
    g_RetrievalCountdown = 0;
  }
  void TearDown() override {
    DestroyWindow(owner);
    Pump();
  }
  void Load(const std::string &ini, const std::string &iniFile = "") {
    Settings() = MAIL_SETTINGS{};
    Settings().iniFile = iniFile.empty() ? dir / "QXMAIL.INI" : iniFile;
    Settings().user = "tester";
    WriteFile(Settings().iniFile, ini);
    LoadSettings();
  }
  INT_PTR Run(std::vector<Step> steps) {
    Script script;
    script.caption = "Configuration";
    script.steps = std::move(steps);
    return RunScript(script, [&] { return ConfigureDialog(owner); });
  }
  std::string Key(const char *key) { return GetProfileAccess()->Get(Settings().iniFile, "tester", key, "<none>", 300); }
  bool TimerWasSet() { return KillTimer(owner, kRetrievalTimer) != FALSE; }

  TempDir dir;
  HWND owner = nullptr;
};

TEST_F(ConfigureDialogTest, FilledInAndOkWritesTheKeys) {
  const std::string mailDir = dir / "mail";
  Load(ConfigureGoldenStart());
  const INT_PTR result = Run({
      [](HWND d) {
        // The current settings fill the fields; the include and interval fields wait for their boxes.
        EXPECT_EQ(TextOf(d, IDC_CFG_MAILDIR), "C:\\QXTCP");
        EXPECT_EQ(TextOf(d, IDC_CFG_MAILHOST), "site.example");
        EXPECT_EQ(TextOf(d, IDC_CFG_WORDWRAP), "76");
        EXPECT_EQ(TextOf(d, IDC_CFG_INTERVAL), "5");
        EXPECT_TRUE(Checked(d, IDC_CFG_LOGIN));
        EXPECT_TRUE(Checked(d, IDC_CFG_AUTOADVANCE));
        EXPECT_TRUE(Checked(d, IDC_CFG_DELETEFROMSERVER));
        EXPECT_FALSE(Checked(d, IDC_CFG_VERBOSE));
        for (int id : {IDC_CFG_REPLYSTRING, IDC_CFG_INDENT, IDC_CFG_INCLUDEHEADER, IDC_CFG_INTERVAL})
          EXPECT_FALSE(Enabled(d, id)) << id;
      },
      [&](HWND d) {
        Text(d, IDC_CFG_MAILDIR, mailDir);
        Text(d, IDC_CFG_MAILHOST, "mail.example.com");
        Text(d, IDC_CFG_PERSONALNAME, "Test User");
      },
      [](HWND d) {
        Click(d, IDC_CFG_INCLUDEREPLY);
        EXPECT_TRUE(Checked(d, IDC_CFG_INCLUDEREPLY));
        for (int id : {IDC_CFG_REPLYSTRING, IDC_CFG_INDENT, IDC_CFG_INCLUDEHEADER}) EXPECT_TRUE(Enabled(d, id)) << id;
        EXPECT_EQ(TextOf(d, IDC_CFG_REPLYSTRING), "On <Date>, in <Message-Id>, <Author> wrote:");
        EXPECT_EQ(TextOf(d, IDC_CFG_INDENT), ">");
        Text(d, IDC_CFG_REPLYSTRING, "<Author> wrote:");
        Text(d, IDC_CFG_INDENT, "> ");
      },
      [](HWND d) {
        Click(d, IDC_CFG_VERBOSE);
        Click(d, IDC_CFG_TIMED);
        EXPECT_TRUE(Enabled(d, IDC_CFG_INTERVAL));
        Text(d, IDC_CFG_WORDWRAP, "20");
        Text(d, IDC_CFG_INTERVAL, "10000");
      },
      [](HWND d) { Click(d, IDOK); },
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadFile(Settings().iniFile), ConfigureGoldenIni(mailDir));
  EXPECT_EQ(ReadFile(IndexPath(mailDir)), std::string("\1") + std::string(108, '\0'));  // made a folder
  EXPECT_EQ(Settings().wordWrap, 40);
  EXPECT_EQ(Settings().interval, 7200);
  EXPECT_EQ(g_RetrievalCountdown, 7200);
  EXPECT_TRUE(TimerWasSet());
}

TEST_F(ConfigureDialogTest, NumbersAreHeldToTheirRangesAndTextsToTheirWidths) {
  struct Case {
    const char *wrap, *interval, *wrapOut, *intervalOut;
  };
  const Case cases[] = {{"20", "0", "40", "1"},      {"500", "10000", "132", "7200"}, {"80", "15", "80", "15"},
                        {"x", "-5", "40", "1"},      {"40", "1", "40", "1"},          {"132", "7200", "132", "7200"},
                        {"39", "7201", "40", "7200"}};
  for (const Case &c : cases) {
    Load("[tester]\nTimed=True\nMailDir=" + dir.path() + "\n");
    const INT_PTR result = Run({
        [&](HWND d) {
          // Typing a number longer than the field keeps what fits (9 characters).
          TypeInto(d, IDC_CFG_WORDWRAP, std::string(c.wrap));
          TypeInto(d, IDC_CFG_INTERVAL, std::string(c.interval));
          Click(d, IDOK);
        },
    });
    EXPECT_EQ(result, 1) << c.wrap;
    EXPECT_EQ(Key("WordWrap"), c.wrapOut) << c.wrap;
    EXPECT_EQ(Key("Interval"), c.intervalOut) << c.interval;
    EXPECT_EQ(g_RetrievalCountdown, std::atoi(c.intervalOut));
    EXPECT_TRUE(TimerWasSet());
  }

  // Typed texts stop at the widths the settings keep.
  struct Width {
    int id;
    const char *key;
    size_t kept;
  };
  const Width widths[] = {{IDC_CFG_MAILHOST, "MailHost", 63},         {IDC_CFG_ORGANIZATION, "Organization", 127},
                          {IDC_CFG_PERSONALNAME, "PersonalName", 63}, {IDC_CFG_EDITOR, "Editor", 63},
                          {IDC_CFG_REPLYTO, "ReplyTo", 63},           {IDC_CFG_INDENT, "IndentString", 24},
                          {IDC_CFG_REPLYSTRING, "ReplyString", 254},  {IDC_CFG_WORDWRAP, "WordWrap", 2}};
  Load("[tester]\nIncludeReply=True\nMailDir=" + dir.path() + "\n");
  Run({[&](HWND d) {
    for (const Width &w : widths) {
      TypeInto(d, w.id, w.id == IDC_CFG_WORDWRAP ? std::string(20, '7') : std::string(300, 'w'));
      EXPECT_EQ(TextOf(d, w.id).size(), w.id == IDC_CFG_WORDWRAP ? 9u : w.kept) << w.key;
    }
    Click(d, IDOK);
  }});
  for (const Width &w : widths) {
    const std::string expected = w.id == IDC_CFG_WORDWRAP ? "132" : std::string(w.kept, 'w');  // 777777777 held
    EXPECT_EQ(Key(w.key), expected) << w.key;
  }
}

TEST_F(ConfigureDialogTest, CancelWritesNothing) {
  const std::string ini = "[default]\nMailHost=site.example\n[tester]\nMailDir=" + dir.path() + "\nTimed=True\n";
  Load(ini);
  const MAIL_SETTINGS before = Settings();
  for (int id : {IDCANCEL, -1}) {  // the Cancel button, and Esc through the dialog manager
    const INT_PTR result = Run({
        [](HWND d) {
          Text(d, IDC_CFG_MAILDIR, "C:\\elsewhere");
          Text(d, IDC_CFG_MAILHOST, "other.example");
          Click(d, IDC_CFG_VERBOSE);
          Click(d, IDC_CFG_TIMED);
          Click(d, IDC_CFG_INCLUDEREPLY);
          Text(d, IDC_CFG_WORDWRAP, "100");
        },
        [id](HWND d) {
          if (id == IDCANCEL) {
            Click(d, IDCANCEL);
          } else {
            MSG escape{GetDlgItem(d, IDC_CFG_MAILHOST), WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {}};
            IsDialogMessageA(d, &escape);
          }
        },
    });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(ReadFile(Settings().iniFile), ini);
    EXPECT_EQ(Settings().mailHost, before.mailHost);
    EXPECT_EQ(Settings().verbose, before.verbose);
    EXPECT_EQ(Settings().timed, 1);
    EXPECT_EQ(Settings().wordWrap, before.wordWrap);
    EXPECT_FALSE(TimerWasSet());
    EXPECT_FALSE(std::filesystem::exists(dir / "index.idx"));
  }
}

TEST_F(ConfigureDialogTest, UntickedIncludeKeepsReplyAndIndentAndDisabledBoxesDoNotClick) {
  Load("[tester]\nReplyString=Kept\nIndentString=|\nIncludeReply=True\nTimed=True\nMailDir=" + dir.path() + "\n");
  const INT_PTR result = Run({
      [](HWND d) {
        EXPECT_EQ(TextOf(d, IDC_CFG_REPLYSTRING), "Kept");
        EXPECT_TRUE(Enabled(d, IDC_CFG_INTERVAL));
        Text(d, IDC_CFG_REPLYSTRING, "typed");
        Click(d, IDC_CFG_INCLUDEREPLY);  // off: the fields are shown again and greyed
        EXPECT_EQ(TextOf(d, IDC_CFG_REPLYSTRING), "Kept");
        Text(d, IDC_CFG_REPLYSTRING, "ignored");
        Text(d, IDC_CFG_INDENT, "ignored");
        Click(d, IDC_CFG_INCLUDEHEADER);  // greyed: nothing happens
        EXPECT_FALSE(Checked(d, IDC_CFG_INCLUDEHEADER));
        Click(d, IDC_CFG_TIMED);
        EXPECT_FALSE(Enabled(d, IDC_CFG_INTERVAL));
        Click(d, IDOK);
      },
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Key("ReplyString"), "Kept");  // still written
  EXPECT_EQ(Key("IndentString"), "|");
  EXPECT_EQ(Key("IncludeReply"), "False");
  EXPECT_EQ(Key("IncludeHeader"), "False");
  EXPECT_EQ(Key("Timed"), "False");
  EXPECT_FALSE(TimerWasSet());  // Timed went off: timer 1 killed
}

TEST_F(ConfigureDialogTest, MissingMailDirectoryKeepsTheDialogOpen) {
  WriteFile(dir / "afile", "x");
  Load("[tester]\nMailDir=" + dir.path() + "\n");
  const std::string bad = dir / "afile/sub";
  testing::internal::CaptureStderr();
  const INT_PTR result = Run({
      [&](HWND d) {
        Text(d, IDC_CFG_MAILDIR, bad);
        Click(d, IDOK);
      },
      [&](HWND d) {
        EXPECT_TRUE(IsWindowVisible(d));  // still open after the message
        EXPECT_EQ(TextOf(d, IDC_CFG_MAILDIR), bad);
        Click(d, IDCANCEL);
      },
  });
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, 2);
  EXPECT_NE(messages.find("[Write Configuration] Unable to access MailDir directory " + bad), std::string::npos)
      << messages;
  EXPECT_EQ(messages.find("Error writing configuration"), std::string::npos);
}

TEST_F(ConfigureDialogTest, FailedWritesAreReportedOnce) {
  Load("");
  Settings().iniFile = dir / "missing/QXMAIL.INI";  // a directory that does not exist
  testing::internal::CaptureStderr();
  const INT_PTR result = Run({
      [&](HWND d) {
        Text(d, IDC_CFG_MAILDIR, dir.path());
        Click(d, IDOK);
      },
      [](HWND d) { Click(d, IDCANCEL); },  // the directory is unknown again after the reload
  });
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, 2);
  const std::string error = "[Write Configuration] Error writing configuration";
  const size_t at = messages.find(error);
  EXPECT_NE(at, std::string::npos) << messages;
  EXPECT_EQ(messages.find(error, at + 1), std::string::npos) << messages;
}

// ---------------------------------------------------------------------------
// Progress dialogs
// ---------------------------------------------------------------------------
class ProgressDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    owner = MakeOwner();
    transport.dialogFilter = ConversationDialogFilter;
    SetMailTransport(&transport);
    SetConversationView(&ProgressConversation());
    ResetMailIo();
    Connect();
  }
  void TearDown() override {
    if (HWND d = ConversationWindow()) SendMessageA(d, WM_CLOSE, 0, 0);
    DestroyWindow(owner);
    Pump();
    for (SOCKET s : {client, server, listener})
      if (s != INVALID_SOCKET) closesocket(s);
    SetConversationView(nullptr);
    SetMailTransport(nullptr);
    WSACleanup();
  }
  // A loopback connection: the client is the mail client's non-blocking
  // socket, the server side is written by the test.
  void Connect() {
    listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    int len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
    client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    server = accept(listener, nullptr, nullptr);
    ASSERT_NE(server, INVALID_SOCKET);
    u_long on = 1;
    ioctlsocket(client, FIONBIO, &on);
  }
  void Serve(const std::string &text) { send(server, text.data(), static_cast<int>(text.size()), 0); }
  SocketHandle Client() const { return static_cast<SocketHandle>(client); }
  std::vector<std::string> ListLines(HWND d) {
    std::vector<std::string> lines;
    const LRESULT n = SendDlgItemMessageA(d, IDC_PROGRESS_LIST, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
      char buffer[300] = {};
      SendDlgItemMessageA(d, IDC_PROGRESS_LIST, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
      lines.push_back(buffer);
    }
    return lines;
  }
  LRESULT Extent(HWND d) { return SendDlgItemMessageA(d, IDC_PROGRESS_LIST, LB_GETHORIZONTALEXTENT, 0, 0); }

  WinsockMailTransport transport;
  HWND owner = nullptr;
  SOCKET listener = INVALID_SOCKET, client = INVALID_SOCKET, server = INVALID_SOCKET;
};

std::string g_buttonText;
void CALLBACK PressButtonOne(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  if (HWND d = ConversationWindow()) {
    g_buttonText = TextOf(d, IDC_PROGRESS_BUTTON);
    SendDlgItemMessageA(d, IDC_PROGRESS_BUTTON, BM_CLICK, 0, 0);
  }
}

// Enter pressed in the dialog: a key message in the queue, which the loops
// hand to the dialog manager through the transport's dialog filter.
void CALLBACK PressEnter(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  if (HWND d = ConversationWindow()) {
    g_buttonText = TextOf(d, IDC_PROGRESS_BUTTON);
    PostMessageA(GetDlgItem(d, IDC_PROGRESS_BUTTON), WM_KEYDOWN, VK_RETURN, 0x001C0001);
  }
}

// Ends a read that the Cancel button failed to end, so such a fault fails the test instead of hanging it.
void CALLBACK GiveUp(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  ADD_FAILURE() << "the read was not cancelled";
  MailIo().cancel = 1;
}

TEST_F(ProgressDialogTest, VerboseConversationListsTheLinesAndWaitsForOk) {
  HWND d = OpenSmtpProgressDialog(owner, true);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(ConversationWindow(), d);
  EXPECT_TRUE(IsWindowVisible(d));
  ASSERT_NE(GetDlgItem(d, IDC_PROGRESS_LIST), nullptr);
  EXPECT_EQ(TextOf(d, IDC_PROGRESS_BUTTON), "&Cancel");

  Serve("220 mail.example ESMTP ready\r\n");
  EXPECT_EQ(ReadSmtpReply(false, Client(), 1), 220);
  const LRESULT firstExtent = Extent(d);
  EXPECT_GT(firstExtent, 4);
  const std::string wide = "250 mail.example greets client.example, " + std::string(80, 'x');
  Serve(wide + "\r\n");
  EXPECT_EQ(SmtpCommand("HELO %s", "client.example", Client(), 1), 250);
  Serve("550 no such user\r\n");
  EXPECT_EQ(SmtpCommand("RCPT TO:<%s>", "nobody@example.com", Client(), 1), 550);
  // A reply of several lines: each line once and whole, also past what the reply text keeps.
  Serve("250-first\r\n250-second\r\n250 third\r\n");
  EXPECT_EQ(SmtpCommand("NOOP", "", Client(), 1), 250);
  Serve("250-" + std::string(140, 'a') + "\r\n250-more\r\n250 end\r\n");
  EXPECT_EQ(SmtpCommand("NOOP", "", Client(), 1), 250);

  const std::vector<std::string> expected = {"220 mail.example ESMTP ready",
                                             "---> HELO client.example",
                                             wide,
                                             "---> RCPT TO:<nobody@example.com>",
                                             "550 no such user",
                                             "---> NOOP",
                                             "250-first",
                                             "250-second",
                                             "250 third",
                                             "---> NOOP",
                                             "250-" + std::string(140, 'a'),
                                             "250-more",
                                             "250 end"};
  EXPECT_EQ(ListLines(d), expected);
  EXPECT_EQ(SendDlgItemMessageA(d, IDC_PROGRESS_LIST, LB_GETCURSEL, 0, 0), 12);  // the newest line is selected
  EXPECT_GT(Extent(d), firstExtent);                                             // the list scrolls to the widest line

  // The session ends: the conversation stays with "&OK" until the user presses it.
  g_buttonText.clear();
  const UINT_PTR timer = SetTimer(nullptr, 0, 100, PressButtonOne);
  ASSERT_NE(timer, 0u);
  const auto start = Clock::now();
  CloseConversation(true);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(80));
  EXPECT_EQ(g_buttonText, "&OK");
  EXPECT_EQ(ConversationWindow(), nullptr);
  EXPECT_FALSE(IsWindow(d));
}

TEST_F(ProgressDialogTest, CancelButtonEndsAStalledReadPromptly) {
  struct Case {
    bool verbose;
    TIMERPROC press;
  };
  for (const Case c : {Case{true, PressButtonOne}, Case{false, PressButtonOne}, Case{true, PressEnter}}) {
    ResetMailIo();
    HWND d = OpenSmtpProgressDialog(owner, c.verbose);
    ASSERT_NE(d, nullptr);
    Serve("220 ready\r\n");
    ASSERT_EQ(ReadSmtpReply(false, Client(), c.verbose), 220);
    // Nothing more comes; the user presses Cancel a little later.
    g_buttonText.clear();
    const UINT_PTR timer = SetTimer(nullptr, 0, 150, c.press);
    ASSERT_NE(timer, 0u);
    const UINT_PTR failsafe = SetTimer(nullptr, 0, 30000, GiveUp);
    const auto start = Clock::now();
    EXPECT_EQ(SmtpCommand("HELO %s", "client.example", Client(), c.verbose), kReplyCancelled);
    KillTimer(nullptr, failsafe);
    // Far below the failsafe, with room for a loaded machine.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(g_buttonText, "&Cancel");
    EXPECT_EQ(MailIo().cancel, 1);
    EXPECT_EQ(SmtpErrorText(kSmtpCancelledResult), "Message Cancelled by User");
    // Cancel also closed the dialog, so closing the conversation does not wait.
    CloseConversation(c.verbose);
    EXPECT_EQ(ConversationWindow(), nullptr);
    EXPECT_FALSE(IsWindow(d));
  }
}

TEST_F(ProgressDialogTest, TheThreeDialogsAndClosingWithoutVerbose) {
  struct Case {
    const char *name;
    bool hasList;
    const char *status;  // text of control 500, or nullptr when there is none
  };
  const Case cases[] = {
      {"Verbose", true, nullptr}, {"NonVerbose", false, nullptr}, {"retrieving", false, "Contacting POP Server"}};
  for (const Case &c : cases) {
    HWND d = std::string(c.name) == "retrieving" ? OpenProgressDialog(owner, c.name)
                                                 : OpenSmtpProgressDialog(owner, std::string(c.name) == "Verbose");
    ASSERT_NE(d, nullptr) << c.name;
    EXPECT_EQ(GetDlgItem(d, IDC_PROGRESS_LIST) != nullptr, c.hasList) << c.name;
    EXPECT_EQ(TextOf(d, IDC_PROGRESS_BUTTON), "&Cancel") << c.name;
    if (c.status) {
      EXPECT_EQ(TextOf(d, IDC_PROGRESS_STATUS), c.status);
    }
    ShowConversationLine("a line with nowhere to go\n");  // harmless without a list
    const auto start = Clock::now();
    CloseConversation(false);  // without Verbose nobody has to press anything
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(ConversationWindow(), nullptr) << c.name;
    EXPECT_FALSE(IsWindow(d)) << c.name;
    EXPECT_EQ(MailIo().cancel, 0) << c.name;
  }
}

TEST_F(ProgressDialogTest, QuitWhileTheConversationWaitsIsPostedAgain) {
  HWND d = OpenSmtpProgressDialog(owner, true);
  ASSERT_NE(d, nullptr);
  PostQuitMessage(5);
  CloseConversation(true);  // ends on WM_QUIT although nobody pressed "&OK"
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(m.wParam, 5u);
  EXPECT_EQ(TextOf(d, IDC_PROGRESS_BUTTON), "&OK");
}

}  // namespace
