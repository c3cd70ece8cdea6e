// The redirect sender against the scripted POP server (the login check) and
// aiosmtpd: fields a resend replaces are left out of the copy, the Resent-
// fields are added, DelayedSend queues pairs without asking, a refused login
// asks before queueing, a refused recipient ends the redirect.
#include <gtest/gtest.h>

#include <filesystem>

#include "redirect.h"
#include "sending_fixture.h"

using namespace mailtest;
namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

// The lines of a text file, line ends dropped.
std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
  return lines;
}

const std::string kStored =
    "From someone Tue Dec  5 14:30:00 1995\r\n"
    "From: Original Sender <original@example.org>\r\n"
    "Status: RO\r\n"
    "To: first@example.net\r\n"
    "Resent-To: earlier@example.net,\r\n"
    "\tsecond-earlier@example.net\r\n"
    "RESENT-DATE: Mon, 4 Dec 1995 10:00:00 +0000\r\n"
    "Subject: redirect me\r\n"
    "\r\n"
    "Status: this line is body text\r\n"
    "Resent-To: so is this\r\n";
const std::string kCopied =
    "From: Original Sender <original@example.org>\r\n"
    "To: first@example.net\r\n"
    "Subject: redirect me\r\n"
    "\r\n"
    "Status: this line is body text\r\n"
    "Resent-To: so is this\r\n";

class RedirectTest : public SendingTest {
 protected:
  void SetUp() override {
    SendingTest::SetUp();
    g_answer = IDNO;
    g_PasswordVerified = 0;
    fs::create_directories(dir / "mail/folder");
    folder = dir / "mail/folder";
    WriteFile(folder + "/m1.msg", kStored);
    WriteFile(folder + "/m2.msg", "From: second@example.org\r\nSubject: two\r\n\r\nsecond body\r\n");
  }
  void StartPeers() {
    StartPop();
    StartSmtp();
  }
  void Redirect(const std::string &to, std::vector<int32_t> numbers) {
    CurrentSendHeader().reDirect = to;
    RedirectMessages(nullptr, folder, numbers);
  }

  std::string folder;
};

}  // namespace

TEST_F(RedirectTest, MessagesAreResentWithoutTheFieldsTheResendReplaces) {
  StartPeers();
  Redirect("new@example.net, other@example.net", {1, 2});
  EXPECT_TRUE(g_boxes.empty()) << g_boxes.front();
  EXPECT_EQ(g_PasswordVerified, 1);
  EXPECT_EQ(Lines(ReadFile(dir / "pop.log")), (std::vector<std::string>{"USER alice", "PASS secret", "QUIT"}));
  // The copy, then the Resent- fields the session adds at the header's end.
  const std::string first = Received(1);
  ASSERT_EQ(first.rfind(kCopied.substr(0, kCopied.find("\r\n\r\n") + 2), 0), 0u) << first;
  EXPECT_NE(first.find("Resent-To:new@example.net, other@example.net\r\nResent-Sender:alice@example.com\r\n"),
            std::string::npos)
      << first;
  EXPECT_EQ(first.substr(first.find("\r\n\r\n")), kCopied.substr(kCopied.find("\r\n\r\n")));
  EXPECT_EQ(Lines(Received(1, "env"))[1], "original@example.org");  // MAIL FROM: the message's From
  EXPECT_EQ(Lines(Received(1, "env"))[2], "new@example.net other@example.net");
  EXPECT_EQ(Lines(Received(2, "env"))[1], "second@example.org");
  EXPECT_FALSE(WorkFilesLeft(mailDir));
  EXPECT_FALSE(CurrentSendHeader().reDirect.has_value());
}

TEST_F(RedirectTest, DelayedSendQueuesEachMessageWithoutAsking) {
  Settings().delayedSend = 1;
  WriteFile(dir / "mail/tosendm.000", "an earlier queued message\r\n");  // taken: the next pair is used
  Redirect("new@example.net", {1, 2});
  EXPECT_TRUE(g_boxes.empty()) << g_boxes.front();
  EXPECT_EQ(ReadFile(dir / "mail/tosendm.001"), kCopied);
  const std::vector<std::string> header = Lines(ReadFile(dir / "mail/tosendh.001"));
  ASSERT_EQ(header.size(), 12u);
  EXPECT_EQ(header[0], "0");
  EXPECT_EQ(header[1], "original@example.org");
  EXPECT_FALSE(header[8].empty());  // the Date of the resend
  EXPECT_EQ(header[10], "new@example.net");
  EXPECT_EQ(header[11], "0");
  EXPECT_EQ(Lines(ReadFile(dir / "mail/tosendh.002"))[1], "second@example.org");
  EXPECT_FALSE(WorkFilesLeft(mailDir));
}

TEST_F(RedirectTest, RefusedLoginAsksAndNoDiscards) {
  StartPeers();
  g_Password = "wrong";
  Redirect("new@example.net", {1});
  ASSERT_EQ(g_boxes.size(), 2u);
  EXPECT_EQ(g_boxes[0], "Password Check: Username/Password combination fails on server");
  EXPECT_EQ(g_boxes[1].rfind("Sending Mail: ", 0), 0u);
  EXPECT_NE(g_boxes[1].find("Authentication failed"), std::string::npos) << g_boxes[1];
  EXPECT_NE(g_boxes[1].find("; Send later ?"), std::string::npos) << g_boxes[1];
  EXPECT_FALSE(fs::exists(dir / "mail/tosendm.000"));
  EXPECT_FALSE(fs::exists(dir / "received/msg-1.eml"));
  EXPECT_FALSE(WorkFilesLeft(mailDir));
  EXPECT_EQ(g_PasswordVerified, 0);

  // Yes keeps the message in the queue for later.
  g_boxes.clear();
  g_answer = IDYES;
  Redirect("new@example.net", {2});
  EXPECT_EQ(g_boxes.size(), 2u);
  EXPECT_EQ(ReadFile(dir / "mail/tosendm.000"), "From: second@example.org\r\nSubject: two\r\n\r\nsecond body\r\n");
  EXPECT_TRUE(fs::exists(dir / "mail/tosendh.000"));
}

TEST_F(RedirectTest, RefusedRecipientEndsTheRedirect) {
  StartPeers();
  Redirect("bad@example.net", {1, 2});
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_NE(g_boxes[0].find("Error Sending Mail: "), std::string::npos);
  EXPECT_NE(g_boxes[0].find("No such user"), std::string::npos) << g_boxes[0];
  EXPECT_FALSE(fs::exists(dir / "received/msg-1.eml"));
  EXPECT_FALSE(WorkFilesLeft(mailDir));
  EXPECT_FALSE(CurrentSendHeader().reDirect.has_value());
}

TEST(RedirectCopy, FieldsLeftOutAndBytesKept) {
  struct Case {
    const char *what;
    std::string in, out;
  };
  const Case cases[] = {
      {"fields and their continuations", kStored, kCopied},
      {"LF-only lines", "Status: O\nSubject: s\n\nStatus: body\n", "Subject: s\n\nStatus: body\n"},
      {"NUL bytes and a last line without its end", "X-A: a\0b\r\n\r\nbody\0end"s, "X-A: a\0b\r\n\r\nbody\0end"s},
      {"a header without a body", "Resent-Sender: x\r\nSubject: s\r\n", "Subject: s\r\n"},
      {"a continuation before any field is kept", " odd\r\nSubject: s\r\n\r\n", " odd\r\nSubject: s\r\n\r\n"},
  };
  TempDir dir;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir / "in", c.in);
    FILE *in = std::fopen((dir / "in").c_str(), "rb");
    FILE *out = std::fopen((dir / "out").c_str(), "wb");
    ASSERT_TRUE(in && out);
    EXPECT_TRUE(CopyForRedirect(in, out));
    std::fclose(in);
    std::fclose(out);
    EXPECT_EQ(ReadFile(dir / "out"), c.out);
  }
  EXPECT_EQ(RedirectRecipients(" a@b , ,c@d,"), (std::vector<std::string>{"a@b", "c@d"}));
}
