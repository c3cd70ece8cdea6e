// SMTP sending against aiosmtpd: the envelope, the header block as a reader
// receives it, dot-stuffing, refused recipients, a redirect, and the sent copy
// being byte for byte what the server accepted. Also the header encoders.
#include <gtest/gtest.h>

#include <filesystem>

#include "mailstore.h"
#include "smtp.h"
#include "transport_fixture.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {

class SmtpTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    if (HasFatalFailure()) return;
    mailDir = dir / "mail";
    fs::create_directories(mailDir);
    g_ZoneOffsetMinutes = 60;
    ClearSendHeader(CurrentSendHeader(), true);
  }
  void TearDown() override {
    ClearSendHeader(CurrentSendHeader(), true);
    TransportTest::TearDown();
  }
  void StartServer() { StartSmtpPeer(server); }
  int Send(const std::vector<std::string> &recipients, const std::string &body, bool saveSent = true) {
    WriteFile(dir / "body.txt", body);
    const std::string bodyPath = dir / "body.txt";
    SMTP_OPTIONS options;
    options.saveSent = saveSent;
    options.mailDir = mailDir;
    options.personalName = personalName;
    ResetMailIo();
    return SMTP_session("127.0.0.1", "me@example.com", recipients, bodyPath.c_str(), 0, options);
  }
  std::string SentCopy() {
    IDX_RECORD r;
    FILE *f = nullptr;
    if (IndexOpenFirst(mailDir + "/sent", r, f) != 0) return "";
    IndexClose(f);
    return ReadFile(MessagePath(mailDir + "/sent", static_cast<uint64_t>(r.n)));
  }

  std::string mailDir;
  std::string personalName = "Me Myself";
  Child server;
};

TEST_F(SmtpTest, MessageToSeveralRecipientsWithItsSentCopy) {
  StartServer();
  SEND_HEADER &h = CurrentSendHeader();
  h.from = "me@example.com";
  h.to = "You <you@example.net>, other@example.net";
  h.subject =
      "Gr\xFC\xDF"
      "e aus K\xF6ln";
  h.date = "05 Dec 1995 14:30:00 +0100";
  h.organization = "Example Org";
  h.extraLines = {"X-Extra: one two"};
  h.flags = kSendReturnReceipt;
  const std::string body = ".starts with a dot\n..two\n.\nplain line\r\n" + std::string(990, 'L') + "\nlast";
  ASSERT_EQ(
      Send({"You <you@example.net>", "SMTP==other@example.net (a comment)", "FAX==+1 555 0100", "MHS==someone"}, body),
      0)
      << MailIo().replyText;
  const std::string envelope = Received(1, "env");
  EXPECT_NE(envelope.find("\nme@example.com\nyou@example.net other@example.net\n"), std::string::npos) << envelope;
  const std::string got = Received(1);
  // Header block in its order, the 8-bit subject as encoded words.
  const char *order[] = {"To: You <you@example.net>, other@example.net\r\n",
                         "From: Me Myself <me@example.com>\r\n",
                         "Sender: me@example.com\r\n",
                         "Subject: =?iso-8859-1?Q?Gr=FC=DFe?= aus =?iso-8859-1?Q?K=F6ln?=\r\n",
                         "X-Originating-Host: ",
                         "Message-Id: <",
                         "Date: 05 Dec 1995 14:30:00 +0100\r\n",
                         "Organization: Example Org\r\n",
                         "Return-Receipt-To: me@example.com\r\n",
                         "X-Extra: one two\r\n",
                         "MIME-Version: 1.0\r\n",
                         "X-Mailer:QXMail for Windows Version 3.2\r\n\r\n"};
  size_t at = 0;
  for (const char *field : order) {
    size_t found = got.find(field, at);
    EXPECT_NE(found, std::string::npos) << "missing or out of order: " << field << "\n" << got;
    if (found != std::string::npos) at = found;
  }
  EXPECT_EQ(got.find("Read-Receipt-To"), std::string::npos);
  // The body as written: dots restored by the server, whole long lines.
  const std::string expectedBody =
      ".starts with a dot\r\n..two\r\n.\r\nplain line\r\n" + std::string(990, 'L') + "\r\nlast\r\n";
  ASSERT_GE(got.size(), expectedBody.size());
  EXPECT_EQ(got.substr(got.size() - expectedBody.size()), expectedBody);
  // The sent copy is exactly what the server took.
  EXPECT_EQ(SentCopy(), got);
  EXPECT_FALSE(WorkFilesLeft(mailDir));
}

TEST_F(SmtpTest, MultipartAndQuotedPrintableHeadersAreInTheCopyToo) {
  StartServer();
  SEND_HEADER &h = CurrentSendHeader();
  h.from = "me@example.com";
  h.to = "you@example.net";
  for (int flags : {kSendQuotedPrintable, kSendMultipart | kSendQuotedPrintable, kSendMultipart}) {
    SCOPED_TRACE(flags);
    h.flags = flags;
    fs::remove_all(mailDir + "/sent");
    ASSERT_EQ(Send({"you@example.net"}, "caf=E9\n"), 0);
    std::string got;
    for (int n = 1; fs::exists(dir / ("received/msg-" + std::to_string(n) + ".eml")); ++n) got = Received(n);
    EXPECT_EQ(SentCopy(), got);
    EXPECT_EQ(got.find("Content-transfer-encoding: quoted-printable\r\n") != std::string::npos,
              (flags & kSendQuotedPrintable) != 0);
    if (flags & kSendMultipart) {
      EXPECT_NE(got.find("Content-Type: multipart/mixed; boundary=QXTCP.QXNFS.POSTBOX.QXTCP\r\n"), std::string::npos);
      EXPECT_NE(got.find("\r\n\r\n--QXTCP.QXNFS.POSTBOX.QXTCP\r\nContent-Type: text/plain"), std::string::npos);
    }
  }
}

TEST_F(SmtpTest, RefusedRecipientsEndTheSessionWithoutACopy) {
  StartServer();
  CurrentSendHeader().from = "me@example.com";
  CurrentSendHeader().to = "x";
  struct Case {
    const char *refused;
    const char *text;
  } cases[] = {{"bad@example.net", "No such user here"}, {"busy@example.net", "Service shutting down"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.refused);
    EXPECT_EQ(Send({"good@example.net", c.refused}, "text\n"), -7);
    EXPECT_NE(MailIo().replyText.find(c.text), std::string::npos) << MailIo().replyText;
    EXPECT_EQ(SmtpErrorText(-7), "Bad response to RCPT TO:");
  }
  EXPECT_FALSE(fs::exists(dir / "received/msg-1.eml"));
  EXPECT_FALSE(fs::exists(mailDir + "/sent"));
  EXPECT_FALSE(WorkFilesLeft(mailDir));
}

TEST_F(SmtpTest, NoSmtpRecipientsNoConnectionAndUnreachableHosts) {
  transport.ports["smtp"] = FreePort();
  EXPECT_EQ(Send({"FAX==123", "VIM==x", "MHS_LOCAL==y"}, "x\n"), 0);  // nothing to send, nothing tried
  EXPECT_EQ(Send({"you@example.net"}, "x\n"), -12);
  ResetMailIo();
  EXPECT_EQ(SMTP_session("no-such-host.invalid", "me@example.com", {"you@example.net"}, nullptr, 0, {}), -3);
  EXPECT_EQ(SMTP_session("127.0.0.1", "me@example.com", {"you@example.net"}, (dir / "missing").c_str(), 0, {}), -2);
}

TEST_F(SmtpTest, RedirectKeepsTheHeaderAndAddsResentFields) {
  StartServer();
  SEND_HEADER &h = CurrentSendHeader();
  h.from = "original@example.org";
  h.reDirect = "new@example.net";
  h.date = "05 Dec 1995 14:30:00 +0100";
  const std::string stored = "From: original@example.org\r\nSubject: hello\r\n\r\n.body\r\n";
  ASSERT_EQ(Send({"new@example.net"}, stored, false), 0) << MailIo().replyText;
  EXPECT_NE(Received(1, "env").find("\noriginal@example.org\nnew@example.net\n"), std::string::npos);
  EXPECT_EQ(Received(1),
            "From: original@example.org\r\nSubject: hello\r\nResent-To:new@example.net\r\n"
            "Resent-Sender:me@example.com\r\nResent-Date:05 Dec 1995 14:30:00 +0100\r\n\r\n.body\r\n");
}

TEST(SmtpHeaders, EncodingFoldingAndAddresses) {
  EXPECT_EQ(EncodeHeaderWord("Subject: ", "\xFC\xDF"), "Subject: =?iso-8859-1?Q?=FC=DF?=\r\n");
  EXPECT_EQ(EncodeHeaderWord("Subject: ", "a=b?c"), "Subject: a=b?c\r\n");  // no 8-bit byte: as it is
  EXPECT_EQ(EncodeHeaderWord("To: ", "J\xFCrgen M\xFCller <j@example.com>"),
            "To: =?iso-8859-1?Q?J=FCrgen_M=FCller?= <j@example.com>\r\n");
  EXPECT_EQ(EncodeHeaderWord(nullptr, "X-Note:  caf\xE9=?_"), "X-Note: =?iso-8859-1?Q?caf=E9=3D=3F=5F?=\r\n");
  std::string longWord = EncodeHeaderWord("Subject: ", std::string(80, '\xE9'));
  for (size_t at = longWord.find("=?"); at != std::string::npos; at = longWord.find(" =?", at + 1)) {
    size_t end = longWord.find("?=", at + 15);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LE(end + 2 - (longWord[at] == ' ' ? at + 1 : at), 75u);
  }

  std::string to = "To: ";
  for (int i = 0; to.size() < 200; ++i) to += "person" + std::to_string(i) + "@example.com, ";
  to += "last@example.com\r\n";
  std::vector<std::string> pieces = FoldHeaderLine(to);
  ASSERT_GT(pieces.size(), 2u);
  std::string joined;
  for (size_t i = 0; i < pieces.size(); ++i) {
    joined += pieces[i];
    if (i + 1 < pieces.size()) {
      EXPECT_LE(pieces[i].size(), 76u + 3);
      EXPECT_EQ(pieces[i].substr(pieces[i].size() - 4), ",\r\n\t");
    }
  }
  std::string unfolded;
  for (size_t i = 0; i < joined.size(); ++i) {
    if (joined.compare(i, 3, "\r\n\t") == 0) {
      unfolded += ' ';
      i += 2;
    } else {
      unfolded += joined[i];
    }
  }
  EXPECT_EQ(unfolded, to);
  const std::string token = "Message-Id: <" + std::string(100, 'x') + "@example.com>\r\n";
  // Folded only where white space is; never inside a token.
  EXPECT_EQ(FoldHeaderLine(token), (std::vector<std::string>{"Message-Id:\r\n\t", token.substr(12)}));

  struct {
    const char *in, *out;
    int kind;
  } addresses[] = {{"Name <a@b.example>", "a@b.example", 1},
                   {"SMTP==a@b.example comment", "a@b.example", 1},
                   {"smtp==<c@d.example>", "c@d.example", 1},
                   {"plain@e.example", "plain@e.example", 1},
                   {"FAX==123", "123", 6},
                   {"mhs_local==x", "x", 5},
                   {"MAPI==y", "y", 2}};
  for (const auto &a : addresses) {
    EXPECT_EQ(ReduceAddress(a.in), a.out) << a.in;
    EXPECT_EQ(AddressKind(a.in), a.kind) << a.in;
  }
  EXPECT_EQ(ZoneText(-300), "-0500");
  EXPECT_EQ(ZoneText(330), "+0530");
  g_ZoneOffsetMinutes = -300;
  g_LocalHostName = "host.example";
  std::string date, id;
  MakeDateAndId(&date, &id);
  EXPECT_EQ(date.size(), 26u);
  EXPECT_EQ(date.substr(21), "-0500");
  EXPECT_EQ(id.substr(id.size() - 19), "-0500@host.example>");
}

}  // namespace
