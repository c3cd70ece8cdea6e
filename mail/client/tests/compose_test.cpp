// Composing and sending: quoted-printable and uuencode, the message prepared
// from the user's text with the MIME library's parts and the alias library's
// recipients, sent to aiosmtpd and read back with Python's email package; a
// refused Send corrected and sent again; line ends in texts from another
// program; and the compose dialog with the message editor driven as a person
// would, through the display's automation.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "compose.h"
#include "editor.h"
#include "folders.h"
#include "mailstore.h"
#include "msglist.h"
#include "otherheaders.h"
#include "person.h"
#include "pop.h"
#include "pop_peers.h"
#include "qx/display.h"
#include "recipients.h"
#include "retrieve.h"
#include "sendbox.h"
#include "sending_fixture.h"
#include "sendqueue.h"
#include "startcompose.h"
#include "uucode.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {

const HeadlessDisplay g_headless;

// A 1x1 GIF picture.
const std::string kGif(
    "GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff\x21\xf9\x04\x01\x00\x00\x00\x00\x2c"
    "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3b",
    43);

std::string Shell(const std::string &command) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
  pclose(p);
  return out;
}

// Every CR is followed by LF and every LF preceded by CR.
bool OnlyCrLf(const std::string &text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return false;
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
  }
  return true;
}

size_t Count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// --- Encodings --------------------------------------------------------------------

TEST(QuotedPrintable, LinesEncodedAndCutOutsideEscapes) {
  const struct {
    const char *what;
    std::string in;
    std::vector<std::string> out;
  } cases[] = {
      {"plain", "hello", {"hello"}},
      {"8-bit letter and equals sign", "caf\xe9 a=b", {"caf=E9 a=3Db"}},
      {"trailing blank and tab kept visible", "end \t", {"end =09"}},
      {"inner blank stays", "a b", {"a b"}},
      {"control characters", std::string("a\x01\rb"), {"a=01=0Db"}},
      {"75 characters fit", std::string(75, 'x'), {std::string(75, 'x')}},
      {"76 characters are cut after 74", std::string(76, 'x'), {std::string(74, 'x') + "=", "xx"}},
      {"no cut inside an escape", std::string(73, 'x') + "\xe9\xe9", {std::string(73, 'x') + "=", "=E9=E9"}},
  };
  for (const auto &c : cases) EXPECT_EQ(QuotedPrintableLines(c.in), c.out) << c.what;
}

TEST(Uuencode, FortyFiveBytesAreOneLineAndUudecodeAgrees) {
  TempDir dir;
  const std::string in = dir / "in", out = dir / "out";
  std::string bytes;
  for (int i = 0; i < 45; ++i) bytes += static_cast<char>(i * 7);
  for (const std::string &data : {bytes, std::string(), std::string("\0\xff", 2), std::string(1000, '\x80')}) {
    qxtest::WriteFile(in, data);
    FILE *f = std::fopen(in.c_str(), "rb");
    FILE *o = std::fopen(out.c_str(), "wb");
    ASSERT_TRUE(UuencodeFile(f, o));
    std::fclose(f);
    std::fclose(o);
    const std::string encoded = qxtest::ReadFile(out);
    if (data.size() == 45) {
      EXPECT_EQ(encoded[0], 'M');
      EXPECT_EQ(encoded.substr(encoded.find('\n') + 1), "`\n");
    }
    // sharutils' uudecode reads it back byte for byte.
    qxtest::WriteFile(out + ".uu", "begin 644 back\n" + encoded + "end\n");
    Shell("cd " + dir.path() + " && uudecode -o back.bin out.uu");
    EXPECT_EQ(qxtest::ReadFile(dir / "back.bin"), data) << data.size();
    // And so does our decoder.
    f = std::fopen(out.c_str(), "rb");
    o = std::fopen((dir / "ours.bin").c_str(), "wb");
    EXPECT_EQ(UudecodeFile(f, o), 0);
    std::fclose(f);
    std::fclose(o);
    EXPECT_EQ(qxtest::ReadFile(dir / "ours.bin"), data);
  }
  // Lines that end before the end line.
  qxtest::WriteFile(in, "M" + std::string(60, '!') + "\n");
  FILE *f = std::fopen(in.c_str(), "rb");
  FILE *o = std::fopen(out.c_str(), "wb");
  EXPECT_EQ(UudecodeFile(f, o), -1);
  std::fclose(f);
  std::fclose(o);
}

// --- Sending ---------------------------------------------------------------------------

class ComposeTest : public SendingTest {
 protected:
  void SetUp() override {
    SendingTest::SetUp();
    if (HasFatalFailure()) return;
    CurrentComposition() = COMPOSITION{};
    WriteFile(mailDir + "/qxalias.ini", "[QX-Aliases]\nteam=\n[team]\nann@example.net=\nbob@example.net=\n");
    BindAliasLibrary();
    OpenAliasContext(mailDir, "alice");
    ASSERT_NE(g_AliasContext, nullptr) << "nicknames.DLL was not found beside the test or in QX_LIB_DIR";
    StartSmtp();
  }
  void TearDown() override {
    CleanUpComposition(CurrentComposition());
    UnbindAliasLibrary();
    SendingTest::TearDown();
  }
  // What Python's email package reads in message n.
  std::map<std::string, std::string> Oracle(int n) {
    std::map<std::string, std::string> facts;
    const std::string out = Shell("/usr/bin/python3 " + SourceDir() + "/mail/client/tests/compose_oracle.py " +
                                  dir.path() + "/received/msg-" + std::to_string(n) + ".eml");
    size_t parts = 0;
    for (size_t at = 0; at < out.size();) {
      const size_t end = out.find('\n', at);
      const std::string line = out.substr(at, end - at);
      at = end == std::string::npos ? out.size() : end + 1;
      const size_t blank = line.find(' ');
      std::string key = line.substr(0, blank), value = line.substr(blank + 1);
      if (key == "header") {
        key = value.substr(0, value.find(' '));
        value = value.substr(value.find(' ') + 1);
      } else if (key == "part") {
        key = "part" + std::to_string(++parts);
      }
      facts[key] = value;
    }
    return facts;
  }
  std::string Text(const std::string &text) {
    COMPOSITION &c = CurrentComposition();
    EXPECT_TRUE(EnsureTextFile(c));
    FILE *f = std::fopen(c.textPath.c_str(), "w");
    std::fputs(text.c_str(), f);
    std::fclose(f);
    return c.textPath;
  }
  static std::string Sha(const std::string &data) {
    TempDir t;
    qxtest::WriteFile(t / "f", data);
    const std::string out = Shell("sha256sum " + t.path() + "/f");
    return out.substr(0, 64);
  }
};

TEST_F(ComposeTest, EmptyBodyIsAskedAboutFirst) {
  CurrentSendHeader().to = "bob@example.net";
  g_answer = IDCANCEL;
  EXPECT_EQ(SendComposition(nullptr, CurrentComposition()), kComposeStay);
  EXPECT_EQ(g_boxes, (std::vector<std::string>{"Message: Empty Message body"}));
  EXPECT_FALSE(fs::exists(dir / "received/msg-1.eml"));
}

TEST_F(ComposeTest, UuencodedOnlyIsNotMultipartAndEndsWithTheEncodedFile) {
  WriteFile(dir / "data.bin", std::string(45, 'A'));
  CurrentSendHeader().to = "bob@example.net";
  CurrentComposition().attachments.push_back(ATTACHMENT{0, dir / "data.bin"});
  Text("see below\n");
  ASSERT_EQ(SendComposition(nullptr, CurrentComposition()), kComposeSent) << g_boxes.front();
  const std::string m = Received(1);
  EXPECT_EQ(m.find("multipart"), std::string::npos);
  EXPECT_NE(m.find("\r\n\r\nsee below\r\n\r\n\r\nbegin 777 data.bin\r\nM"), std::string::npos) << m;
  EXPECT_EQ(m.substr(m.size() - 12), "\r\n`\r\nend\r\n\r\n");
  EXPECT_TRUE(OnlyCrLf(m));
}

TEST_F(ComposeTest, AliasesAndBccReachTheEnvelopeAndEightBitTextGoesQuotedPrintable) {
  CurrentSendHeader().to = "team";
  CurrentSendHeader().bcc = "hidden@example.net";
  Text(
      "Gr\xfc\xdf"
      "e aus K\xf6ln\n");
  ASSERT_EQ(SendComposition(nullptr, CurrentComposition()), kComposeSent) << g_boxes.front();
  EXPECT_EQ(Received(1, "env").substr(Received(1, "env").find('\n', Received(1, "env").find('\n') + 1) + 1),
            "ann@example.net bob@example.net hidden@example.net\n");
  auto facts = Oracle(1);
  EXPECT_EQ(facts["To"], "team:;");
  EXPECT_EQ(facts.count("Bcc"), 0u);
  EXPECT_EQ(facts["Content-Type"], "text/plain");
  EXPECT_EQ(facts["text"],
            "Gr\xc3\xbc\xc3\x9f"
            "e aus K\xc3\xb6ln\\n");  // latin-1 decoded, printed as UTF-8
  EXPECT_EQ(facts["defects"], "0");
  EXPECT_TRUE(OnlyCrLf(Received(1)));
}

// The server refuses one recipient; the user removes it and sends again: the
// second message has its MIME headers, one signature and one closing boundary.
TEST_F(ComposeTest, RefusedThenRetriedSendIsPreparedAgainFromTheText) {
  WriteFile(mailDir + "/qxmail.sig", "Alice\n");
  WriteFile(dir / "notes.txt", "one\r\ntwo\n");
  COMPOSITION &c = CurrentComposition();
  c.signature = true;
  c.attachments.push_back(ATTACHMENT{1, dir / "notes.txt"});
  Text("Hello\n");
  SEND_HEADER &h = CurrentSendHeader();
  h.to = "bad@example.net, bob@example.net";
  h.subject = "notes";
  h.flags = kSendReturnReceipt;
  EXPECT_EQ(SendComposition(nullptr, c), kComposeStay);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_NE(g_boxes[0].find("Error Sending Mail: "), std::string::npos) << g_boxes[0];
  EXPECT_FALSE(fs::exists(dir / "received/msg-1.eml"));
  h.to = "bob@example.net";
  ASSERT_EQ(SendComposition(nullptr, c), kComposeSent) << g_boxes.back();
  const std::string m = Received(1);
  EXPECT_EQ(Count(m, "\r\n--\r\nAlice\r\n"), 1u) << m;
  EXPECT_EQ(Count(m, std::string("--") + kMimeBoundary + "--"), 1u) << m;
  EXPECT_NE(m.find("Return-Receipt-To: alice@example.com"), std::string::npos);
  auto facts = Oracle(1);
  EXPECT_EQ(facts["MIME-Version"], "1.0");
  EXPECT_EQ(facts["Content-Type"], "multipart/mixed");
  EXPECT_EQ(facts["part2"], "application/octet-stream notes.txt " + Sha("one\r\ntwo\n") + " 9");
  EXPECT_EQ(facts["defects"], "0");
  EXPECT_TRUE(OnlyCrLf(m));
  // Nothing of the attempts is left in the mail directory but the text.
  for (const auto &e : fs::directory_iterator(dir / "mail")) {
    if (e.path().filename().string().rfind("qx", 0) == 0 && e.path().filename() != "qxmail.sig" &&
        e.path().filename() != "qxalias.ini") {
      EXPECT_EQ(Host(e.path()), Host(c.textPath));
    }
  }
}

TEST_F(ComposeTest, AttachmentThatCannotBeReadStopsTheSend) {
  CurrentSendHeader().to = "bob@example.net";
  for (uint8_t type : {0, 1}) {
    g_boxes.clear();
    CurrentComposition().attachments = {ATTACHMENT{type, dir / "missing.txt"}};
    Text("text\n");
    EXPECT_EQ(SendComposition(nullptr, CurrentComposition()), kComposeStay) << int(type);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].rfind("Attachments: ", 0), 0u) << g_boxes[0];
  }
  EXPECT_FALSE(fs::exists(dir / "received/msg-1.eml"));
}

// A message handed over by another program (Simple MAPI) whose subject and
// addresses hold line ends: none starts a header line or a command of its
// own, and the caller is told the message went.
TEST_F(ComposeTest, LineEndsInTextsFromAnotherProgramStayInsideTheirLine) {
  MAPI_RECEIVER handoff;
  handoff.valid = true;
  handoff.request.subject = "Hi\r\nBcc: evil3@example.net";
  handoff.request.note = "body line\r\n";
  handoff.request.recipients = {{'T', "bob@example.net\r\nRCPT TO:<evil@example.net>"},
                                {'C', "carol@example.net\nBcc: evil2@example.net"},
                                {'B', "team"}};
  g_Mapi = handoff;
  person::Person p;
  p.Then("Send Mail", [](HWND d) { PostMessageA(d, WM_COMMAND, IDC_SEND_SEND, 0); });
  INT_PTR outcome = -1;
  person::WithPerson(p, [&] { outcome = StartCompose(nullptr, kComposeMenu, std::string(), {}); });
  const uint32_t result = g_Mapi->result;
  g_Mapi.reset();
  ASSERT_EQ(outcome, kComposeSent) << (g_boxes.empty() ? "" : g_boxes.front());
  EXPECT_EQ(result, 0u);
  const std::string env = Received(1, "env");
  EXPECT_EQ(env.substr(env.rfind('\n', env.size() - 2) + 1),
            "bob@example.net carol@example.net ann@example.net bob@example.net\n");
  const std::string m = Received(1);
  EXPECT_EQ(m.find("\r\nBcc:"), std::string::npos) << m;
  EXPECT_EQ(m.find("evil"), m.find("evil3")) << m;  // only inside the subject's own line
  EXPECT_NE(m.find("Subject: Hi  Bcc: evil3@example.net\r\n"), std::string::npos) << m;
  EXPECT_NE(m.find("\r\n\r\nbody line\r\n"), std::string::npos) << m;
  EXPECT_TRUE(OnlyCrLf(m));
}

TEST_F(ComposeTest, FailedSendIsQueuedOnYesWithItsPreparedBody) {
  transport.ports["smtp"] = FreePort();
  CurrentSendHeader().to = "bob@example.net";
  CurrentComposition().signature = true;
  Text("later\n");
  g_answer = IDYES;
  EXPECT_EQ(SendComposition(nullptr, CurrentComposition()), kComposeQueued);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_NE(g_boxes[0].find("; Send later ?"), std::string::npos) << g_boxes[0];
  EXPECT_EQ(ReadFile(mailDir + "/tosendm.000"), "later\r\n\r\n--\r\n");
  EXPECT_TRUE(fs::exists(mailDir + "/tosendh.000"));
}

// --- The dialog and the editor, as a person uses them ------------------------------

void Click(HWND d, int id) { PostMessageA(d, WM_COMMAND, static_cast<WPARAM>(id), 0); }
void TypeInto(HWND d, int id, const std::string &text) {
  SetFocus(GetDlgItem(d, id));
  SendDlgItemMessageA(d, id, EM_SETSEL, 0, -1);
  qx::display::TypeText(text);
}
// A host path as the program names it (the host's root is drive Z:).
std::string WindowsPath(std::string path) {
  for (char &c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}

TEST_F(ComposeTest, DialogAndEditorComposeAMessageWithTwoAttachments) {
  WriteFile(dir / "notes.txt", "first line\r\nsecond \xe9 line\n");
  WriteFile(dir / "picture.gif", kGif);
  const std::string notes = WindowsPath(dir / "notes.txt"), picture = WindowsPath(dir / "picture.gif");
  Settings().wordWrap = 40;
  person::Person p;
  p.Then("Send", [](HWND d) { TypeInto(d, IDC_SEND_TO, "bob@example.net"); })
      .Then("Send", [](HWND d) { TypeInto(d, IDC_SEND_CC, "carol@example.net"); })
      .Then("Send", [](HWND d) { TypeInto(d, IDC_SEND_SUBJECT, "Pictures and notes"); })
      .Then("Send", [](HWND d) { Click(d, IDC_SEND_OTHER); })
      .Then("Send Mail", [](HWND d) { TypeInto(d, IDC_OTHER_BCC, "dave@example.net"); })
      .Then("Send Mail", [](HWND d) { Click(d, IDOK); })
      .Then("Send", [](HWND d) { Click(d, IDC_SEND_ATTACHMENTS); })
      .Then("Attachments", [](HWND d) { Click(d, IDC_ATTACH_MIME); })
      .Then("Attach MIME File", [&](HWND d) { TypeInto(d, edt1, notes); })
      .Then("Attach MIME File", [](HWND d) { Click(d, IDOK); })
      .Then("Attachments", [](HWND d) { Click(d, IDC_ATTACH_MIME); })
      .Then("Attach MIME File", [&](HWND d) { TypeInto(d, edt1, picture); })
      .Then("Attach MIME File", [](HWND d) { Click(d, IDOK); })
      .Then("Attachments",
            [](HWND d) {
              EXPECT_EQ(SendDlgItemMessageA(d, IDC_ATTACH_LIST, LB_GETCOUNT, 0, 0), 2);
              Click(d, IDOK);
            })
      .Then("Send", [](HWND d) { Click(d, IDC_SEND_EDIT); })
      .Then("Message",
            [](HWND w) {
              SetFocus(GetDlgItem(w, kEditorControl));
              // Past column 40 the last word moves to a new line as it is typed.
              qx::display::TypeText("Hello Bob, here are the notes and the picture you asked for.\nAlice\n");
            })
      .Then("Message", [](HWND w) { PostMessageA(w, WM_COMMAND, IDM_EDIT_SAVE, 0); })
      .Then("Send", [](HWND d) { Click(d, IDC_SEND_SEND); });
  INT_PTR outcome = -1;
  person::WithPerson(p, [&] { outcome = ComposeDialog(nullptr, kComposeNew); });
  ASSERT_EQ(outcome, kComposeSent) << (g_boxes.empty() ? "" : g_boxes.front());
  EXPECT_TRUE(g_boxes.empty()) << g_boxes.front();
  const std::string env = Received(1, "env");
  EXPECT_EQ(env.substr(env.rfind('\n', env.size() - 2) + 1), "bob@example.net carol@example.net dave@example.net\n");
  auto facts = Oracle(1);
  EXPECT_EQ(facts["To"], "bob@example.net");
  EXPECT_EQ(facts["Cc"], "carol@example.net");
  EXPECT_EQ(facts["Subject"], "Pictures and notes");
  EXPECT_EQ(facts.count("Bcc"), 0u);
  EXPECT_EQ(facts["Content-Type"], "multipart/mixed");
  EXPECT_EQ(facts["text"], "Hello Bob, here are the notes and the\\npicture you asked for.\\nAlice\\n");
  EXPECT_EQ(facts["part2"], "application/octet-stream notes.txt " + Sha("first line\r\nsecond \xe9 line\n") + " 26");
  EXPECT_EQ(facts["part3"], "image/gif picture.GIF " + Sha(kGif) + " 43");
  EXPECT_EQ(facts.count("part4"), 0u);
  EXPECT_EQ(facts["defects"], "0");
  EXPECT_TRUE(OnlyCrLf(Received(1)));
  // The composition's files are gone.
  for (const auto &e : fs::directory_iterator(dir / "mail"))
    EXPECT_NE(e.path().filename().string().rfind("qx", 0) == 0 && e.path().filename() != "qxalias.ini", true)
        << e.path();
}

// A queued message the server refuses opens the compose dialog on it; the
// corrected message goes out as it was prepared: its MIME headers, one
// signature and one closing boundary, nothing added again.
TEST_F(ComposeTest, RefusedQueuedMessageIsCorrectedAndSentAsPrepared) {
  WriteFile(mailDir + "/qxmail.sig", "Alice\n");
  WriteFile(dir / "notes.txt", "one\n");
  Settings().delayedSend = 1;
  COMPOSITION &c = CurrentComposition();
  c.signature = true;
  c.attachments.push_back(ATTACHMENT{1, dir / "notes.txt"});
  Text("Hello\n");
  CurrentSendHeader().to = "bad@example.net";
  CurrentSendHeader().subject = "queued";
  ASSERT_EQ(SendComposition(nullptr, c), kComposeQueued);
  CleanUpComposition(c);
  ClearSendHeader(CurrentSendHeader(), true);
  Settings().delayedSend = 0;
  g_ComposeFromQueue = ComposeFromQueue;
  person::Person p;
  p.Then("Send Mail", [](HWND d) {
     EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, IDC_SEND_EDIT)));  // the body is already prepared
     TypeInto(d, IDC_SEND_TO, "bob@example.net");
   }).Then("Send Mail", [](HWND d) { Click(d, IDC_SEND_SEND); });
  int sent = -1;
  person::WithPerson(p, [&] { sent = SendDeferred(1, nullptr); });
  g_ComposeFromQueue = nullptr;
  EXPECT_EQ(sent, 0);  // the run itself sent nothing; the dialog did
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_NE(g_boxes[0].find("Error Sending Mail: "), std::string::npos) << g_boxes[0];
  const std::string m = Received(1);
  EXPECT_EQ(Count(m, "\r\n--\r\nAlice\r\n"), 1u) << m;
  EXPECT_EQ(Count(m, std::string("--") + kMimeBoundary + "--"), 1u) << m;
  EXPECT_EQ(Oracle(1)["Content-Type"], "multipart/mixed");
  for (const auto &e : fs::directory_iterator(dir / "mail"))
    EXPECT_NE(e.path().filename().string().rfind("tosend", 0) == 0 && e.path().extension() != ".lck", true)
        << e.path();  // the pair is gone (the queue's lock files stay)
}

// --- Including stored messages ----------------------------------------------------------

// A stored message of the given day of December 1995 (the Date sort order).
std::string StoredMessage(const std::string &subject, int day) {
  return "From: Ann <ann@example.net>\r\nTo: alice@example.com\r\nSubject: " + subject +
         "\r\nDate: " + std::to_string(day) + " Dec 1995 10:00:00 GMT\r\n\r\nBody of " + subject + "\r\n";
}

class IncludeMessageTest : public ComposeTest {
 protected:
  void SetUp() override {
    ComposeTest::SetUp();
    ASSERT_EQ(StoreCreateFolder(mailDir), 0);
    ASSERT_EQ(CreateFolderNamed(mailDir, "archive", archive), 0);
    ASSERT_EQ(Store(mailDir, StoredMessage("Inbox note", 1)), 0);
    ASSERT_EQ(Store(archive, StoredMessage("Plans", 3)), 0);
    ASSERT_EQ(Store(archive, StoredMessage("Budget", 2)), 0);
    Settings().sortOrder = 0;  // by Date: Budget, then Plans
    Settings().currentFolder = mailDir;
  }
  static int Store(const std::string &folder, const std::string &text) {
    std::string path = folder + "\\";
    FILE *f = CreateUniqueFile(path);
    if (!f) return -100;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return StoreAddMessage(path, folder);
  }
  static std::string CountText(HWND d) {
    char text[64] = {};
    GetDlgItemTextA(d, IDC_LIST_COUNT, text, sizeof text);
    return text;
  }
  static std::string EditText(HWND editor) {
    HWND e = GetDlgItem(editor, kEditorControl);
    std::string text(static_cast<size_t>(GetWindowTextLengthA(e)) + 1, '\0');
    GetWindowTextA(e, text.data(), static_cast<int>(text.size()));
    text.pop_back();
    return text;
  }
  static void SelectRows(HWND d, int from, int to) {
    SendDlgItemMessageA(d, IDC_LIST_MESSAGES, LB_SETSEL, FALSE, -1);
    SendDlgItemMessageA(d, IDC_LIST_MESSAGES, LB_SELITEMRANGE, TRUE, MAKELPARAM(from, to));
  }
  std::string archive;
};

// The editor's Include Mail message opens the message list as a picker: with
// nothing selected it says so and stays; two messages picked in another
// folder go in at the caret, whole and in row order; the next picker opens on
// the folder from before, and Cancel includes nothing. The message sent holds
// the typed line and both stored messages.
TEST_F(IncludeMessageTest, PickedMessagesGoIntoTheTextAndAreSent) {
  std::vector<std::string> counts;
  person::Person p;
  p.Then("Send", [](HWND d) { TypeInto(d, IDC_SEND_TO, "bob@example.net"); })
      .Then("Send", [](HWND d) { TypeInto(d, IDC_SEND_SUBJECT, "Two old messages"); })
      .Then("Send", [](HWND d) { Click(d, IDC_SEND_EDIT); })
      .Then("Message",
            [](HWND w) {
              SetFocus(GetDlgItem(w, kEditorControl));
              qx::display::TypeText("See below:\n");
            })
      .Then("Message", [](HWND w) { Click(w, IDM_EDIT_INCLUDEMSG); })
      .Then("Include Mail Message",
            [&](HWND d) {
              counts.push_back(CountText(d));
              Click(d, IDC_LIST_READ);  // nothing selected
            })
      .Then("Include Mail Message", person::Choose(IDC_LIST_FOLDERS, "archive"))
      .Then("Include Mail Message",
            [&](HWND d) {
              counts.push_back(CountText(d));
              SelectRows(d, 0, 1);
              Click(d, IDC_LIST_READ);
            })
      .Then("Message",
            [](HWND w) {
              const std::string text = EditText(w);
              EXPECT_EQ(text, "See below:\r\n" + StoredMessage("Budget", 2) + StoredMessage("Plans", 3));
              Click(w, IDM_EDIT_INCLUDEMSG);
            })
      .Then("Include Mail Message",
            [&](HWND d) {
              counts.push_back(CountText(d));  // the folder from before the first pick
              SelectRows(d, 0, 0);
              Click(d, IDOK);  // Cancel
            })
      .Then("Message", [](HWND w) { Click(w, IDM_EDIT_SAVE); })
      .Then("Send", [](HWND d) { Click(d, IDC_SEND_SEND); });
  INT_PTR outcome = -1;
  person::WithPerson(p, [&] { outcome = ComposeDialog(nullptr, kComposeNew); });
  ASSERT_EQ(outcome, kComposeSent) << (g_boxes.empty() ? "" : g_boxes.front());
  EXPECT_EQ(g_boxes, (std::vector<std::string>{"Mail: No Messages Selected"}));
  EXPECT_EQ(counts, (std::vector<std::string>{"(1 Message)", "(2 Messages)", "(1 Message)"}));
  EXPECT_EQ(Settings().currentFolder, mailDir);
  const std::string m = Received(1);
  EXPECT_NE(m.find("\r\n\r\nSee below:\r\nFrom: Ann <ann@example.net>\r\n"), std::string::npos) << m;
  EXPECT_NE(m.find("Subject: Budget\r\nDate: 2 Dec 1995 10:00:00 GMT\r\n\r\nBody of Budget\r\nFrom: Ann"),
            std::string::npos)
      << m;
  EXPECT_TRUE(m.ends_with("\r\nBody of Plans\r\n")) << m;
  EXPECT_EQ(Count(m, "Inbox note"), 0u);
  EXPECT_TRUE(OnlyCrLf(m));
  EXPECT_EQ(Oracle(1)["Subject"], "Two old messages");
}

// A step that waits, tick after tick, until its window takes input again (a
// list below a modal dialog is disabled).
person::Step WhenEnabled(person::Step step) {
  return [step](HWND d) {
    if (!IsWindowEnabled(d)) {
      --person::g_person->next;
      return;
    }
    step(d);
  };
}

// A reply started in the message list picks a message of another folder in
// the editor: the list below keeps its own folder and rows, so its Delete
// still names the inbox message.
TEST_F(IncludeMessageTest, PickerFromAReplyLeavesTheListBelowAsItWas) {
  std::string countAfter, deleteText;
  person::Person p;
  p.Then("Read Mail",
         [](HWND d) {
           SelectRows(d, 0, 0);
           Click(d, IDC_LIST_REPLY);
         })
      .Then("Reply", [](HWND d) { Click(d, IDC_SEND_EDIT); })
      .Then("Message", [](HWND w) { Click(w, IDM_EDIT_INCLUDEMSG); })
      .Then("Include Mail Message", person::Choose(IDC_LIST_FOLDERS, "archive"))
      .Then("Include Mail Message",
            [](HWND d) {
              SelectRows(d, 1, 1);
              Click(d, IDC_LIST_READ);
            })
      .Then("Message", [](HWND w) { Click(w, IDM_EDIT_SAVE); })
      .Then("Reply", [](HWND d) { Click(d, IDC_SEND_SEND); })
      .Then("Read Mail", WhenEnabled([&](HWND d) {
              countAfter = CountText(d);
              SelectRows(d, 0, 0);
              Click(d, IDC_LIST_DELETE);
            }))
      .Then("Delete Message",
            [&](HWND d) {
              char text[256] = {};
              GetDlgItemTextA(d, IDC_DELETEBOX_TEXT, text, sizeof text);
              deleteText = text;
              Click(d, IDC_DELETEBOX_NO);
            })
      .Then("Read Mail", WhenEnabled([](HWND d) { Click(d, IDOK); }));
  person::WithPerson(p, [&] { MessageListDialog(nullptr); });
  EXPECT_TRUE(g_boxes.empty()) << g_boxes.front();
  EXPECT_EQ(countAfter, "(1 Message)");
  EXPECT_NE(deleteText.find("Inbox note"), std::string::npos) << deleteText;
  EXPECT_EQ(Settings().currentFolder, mailDir);
  const std::string m = Received(1);
  EXPECT_NE(m.find("\r\nSubject: Re: Inbox note\r\n"), std::string::npos) << m;
  EXPECT_NE(m.find("\r\n\r\nFrom: Ann <ann@example.net>\r\nTo: alice@example.com\r\nSubject: Plans\r\n"),
            std::string::npos)
      << m;
  EXPECT_EQ(Count(m, "Budget"), 0u);
}

}  // namespace
