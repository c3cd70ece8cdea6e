// Reply quoting: the ReplyString template as a table of cases (tags,
// conditionals, nesting, unknown tags, a missing End, a sender's text longer
// than the attribution line may be), and whole messages quoted into a work
// file as a reply and as a forward.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "quote.h"
#include "settings.h"
#include "test_support.h"

using namespace mailtest;

namespace {

// 7 March 1995 14:05:09 UTC; the tests read local time as UTC.
constexpr int32_t kMar7_1995 = 794585109;

class QuoteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    Settings() = MAIL_SETTINGS{};
    Settings().replyString = kDefaultReplyString;
    Settings().indentString = ">";
    Settings().wordWrap = 76;
  }
};

HEADER_SUMMARY AnnLee() {
  HEADER_SUMMARY s;
  s.displayName = "Ann Lee";
  s.from = "ann@example.com";
  s.to = "bob@example.net";
  s.subject = "Lunch";
  s.messageId = "<1995Mar07.140509@example.com>";
  s.date = kMar7_1995;
  return s;
}

}  // namespace

TEST_F(QuoteTest, TemplateTable) {
  const HEADER_SUMMARY ann = AnnLee();
  HEADER_SUMMARY noName = AnnLee();
  noName.displayName.reset();
  HEADER_SUMMARY bare;  // no fields at all
  HEADER_SUMMARY hostile = AnnLee();
  hostile.subject = std::string(5000, 's');
  hostile.displayName = "=?iso-8859-1?Q?J=FCrgen?= is decoded by the scanner: J\xFCrgen";
  const struct {
    const char *what;
    std::string templateText;
    const HEADER_SUMMARY &summary;
    std::string expected;
  } cases[] = {
      {"the default template", kDefaultReplyString, ann,
       "On Tue Mar 07 14:05:09 1995, in <1995Mar07.140509@example.com>, Ann Lee wrote:"},
      {"Author or else From, with a name", "<?Author><Author><?Else><From><?End> wrote:", ann, "Ann Lee wrote:"},
      {"Author or else From, without a name", "<?Author><Author><?Else><From><?End> wrote:", noName,
       "ann@example.com wrote:"},
      {"tags in any case", "<subject>/<TO>/<from>", ann, "Lunch/bob@example.net/ann@example.com"},
      {"an unknown tag stays", "<Cc> and <Subject>", ann, "<Cc> and Lunch"},
      {"a lone < and >", "a < b > c <Subject", ann, "a < b > c <Subject"},
      {"absent fields give nothing", "[<From>][<Date>][<Message-ID>]", bare, "[][][]"},
      {"a conditional without Else, false", "x<?Subject>has <Subject><?End>y", bare, "xy"},
      {"nested conditionals, inner without Else", "<?From>F<?Subject>S<?End>f<?Else>none<?End>.", noName, "FSf."},
      {"nested, outer false skips the inner Else", "<?Author>A<?To>T<?Else>t<?End><?Else>B<?End>", noName, "B"},
      {"nested, inner false", "<?From>(<?Author><Author><?Else>anon<?End>)<?End>", noName, "(anon)"},
      {"a missing End runs on to the end", "<?Author>name <Author><?Else>never", bare, "name "},
      {"a long Subject is cut", "Re: <Subject> <Subject>", hostile, "Re: " + std::string(kTemplateLimit - 4, 's')},
      {"an 8-bit display name", "<Author>", hostile, *hostile.displayName},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ExpandTemplate(c.templateText, c.summary), c.expected);
  }
  // Deeply nested conditionals stay bounded.
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "<?From>";
  EXPECT_LE(ExpandTemplate(deep + "x", ann).size(), kTemplateLimit);
}

TEST_F(QuoteTest, MessagesQuotedAsReplyAndForward) {
  TempDir dir;
  const std::string folder = dir.path();
  WriteFile(dir / "m1.msg",
            "From: Ann Lee <ann@example.com>\r\n"
            "Subject: Lunch\r\n"
            "Date: Tue, 7 Mar 1995 14:05:09 +0000\r\n"
            "Message-ID: <lunch@example.com>\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: multipart/mixed; boundary=b\r\n"
            "\r\n"
            "--b\r\n"
            "Content-Type: text/plain\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n"
            "\r\n"
            "Shall we meet at the caf=E9?\r\n"
            "--b\r\n"
            "Content-Type: image/gif\r\n"
            "\r\n"
            "GIF89a\r\n"
            "--b--\r\n");
  const struct {
    const char *what;
    bool asReply, withHeaders;
    std::string indent;
    std::string expected;
  } cases[] = {
      {"reply", true, false, ">",
       "On Tue Mar 07 14:05:09 1995, in <lunch@example.com>, Ann Lee wrote:\n"
       ">Shall we meet at the caf\xE9?\n"
       ">*** MIME Image part of type gif ***\n"
       ">\n"
       "\n"},
      {"reply with a tab in the indent", true, false, "\\t> ",
       "On Tue Mar 07 14:05:09 1995, in <lunch@example.com>, Ann Lee wrote:\n"
       "\t> Shall we meet at the caf\xE9?\n"
       "\t> *** MIME Image part of type gif ***\n"
       "\t> \n"
       "\n"},
      {"forward keeps the header, no attribution, no prefix", false, true, ">",
       "From: Ann Lee <ann@example.com>\n"
       "Subject: Lunch\n"
       "Date: Tue, 7 Mar 1995 14:05:09 +0000\n"
       "Message-ID: <lunch@example.com>\n"
       "MIME-Version: 1.0\n"
       "Content-Type: multipart/mixed; boundary=b\n"
       "\n"
       "Shall we meet at the caf\xE9?\n"
       "*** MIME Image part of type gif ***\n"
       "\n"
       "\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    Settings().indentString = c.indent;
    const std::string work = dir / "work.txt";
    std::remove(work.c_str());
    ASSERT_TRUE(QuoteMessage(folder, 1, c.asReply, c.withHeaders, work));
    std::string got = ReadFile(work);
    std::erase(got, '\r');  // the work file is written in text mode
    EXPECT_EQ(got, c.expected);
  }
  EXPECT_FALSE(QuoteMessage(folder, 2, true, false, dir / "work.txt"));  // no such message
}

// A long line is quoted as the display wraps it: each piece on its own line
// after the prefix.
TEST_F(QuoteTest, LongLinesAreQuotedAsWrapped) {
  TempDir dir;
  const std::string words = "word word word word word word word word word word word word word word word word end";
  WriteFile(dir / "m1.msg", "From: a@example.com\r\n\r\n" + words + "\r\n");
  Settings().replyString.clear();
  ASSERT_TRUE(QuoteMessage(dir.path(), 1, true, false, dir / "work.txt"));
  std::string got = ReadFile(dir / "work.txt");
  std::erase(got, '\r');
  EXPECT_EQ(got, ">" + words.substr(0, 74) + "\n>" + words.substr(74) + "\n\n");
}
