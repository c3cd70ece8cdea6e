// Header scanner and line reader: a corpus of messages with their expected
// summaries, the date and encoded-word rules, and reading from a POP stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <fstream>
#include <optional>

#include "chunk_transport.h"
#include "headers.h"
#include "test_support.h"

using namespace mailtest;

namespace {

constexpr int32_t kDec5_1995_1430 = 818173800;  // Tue, 5 Dec 1995 14:30:00 UTC

std::string Corpus(const std::string &name) { return SourceDir() + "/mail/client/tests/corpus/" + name; }

struct Expected {
  const char *file;
  const char *from;
  const char *displayName;
  const char *to;
  const char *subject;
  int32_t date;
  uint8_t flags;
  const char *messageId;
  const char *replyTo;
};

void ExpectText(const std::optional<std::string> &actual, const char *expected, const char *what) {
  if (!expected) {
    EXPECT_FALSE(actual.has_value()) << what << " = " << actual.value_or("");
  } else {
    ASSERT_TRUE(actual.has_value()) << what;
    EXPECT_EQ(*actual, expected) << what;
  }
}

size_t HeaderLength(const std::string &message) {
  if (message.find("\r\n\r\n") == std::string::npos && message.find("\n\n") == std::string::npos)
    return message.find('\x1A');  // a header ended by the end of the file
  size_t crlf = message.find("\r\n\r\n"), lf = message.find("\n\n");
  if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) return crlf + 4;
  return lf + 2;
}

}  // namespace

TEST(MailHeaders, CorpusSummaries) {
  static const Expected kCases[] = {
      {"multipart.eml", "ann@example.org", "Ann Example", "bob@example.net", "Quarterly report",
       kDec5_1995_1430 + 5 * 3600, 2, "<19951205143000.4711@example.org>", nullptr},
      {"folded.eml", "bob@example.net", "Bob Builder", "frank@example.com", "A subject that is folded over two lines",
       kDec5_1995_1430 - 5 * 3600 - 1800, 0, nullptr, nullptr},
      {"encoded.eml", "juergen@example.de", "J\xFCrgen M\xFCller", "gruppe@example.de",
       "Gr\xFC\xDF"
       "e aus Berlin",
       kDec5_1995_1430 + 4 * 3600, 0, nullptr, "reply@example.de"},
      {"lfonly.eml", "lf@example.com", "Line Feed", nullptr, "stored with LF only", kDec5_1995_1430, 0, nullptr,
       nullptr},
      {"resent.eml", "plain@example.com", "Plain Person", nullptr, "Re: resent", kDec5_1995_1430, 0,
       "<resent.1@example.com>", "replies@example.com"},
      {"nodate.eml", "nobody@example.com", nullptr, nullptr, "no date here", 315532800, 0, nullptr, nullptr},
      {"future.eml", "time@example.com", nullptr, nullptr, "far future", -1, 0, nullptr, nullptr},
      // 2048 header bytes, then a read that yields the single byte 0x1A: the end of the file.
      {"ctrlz.eml", "zed@example.com", "Zed", nullptr, "ends with a Ctrl-Z byte", kDec5_1995_1430, 0, nullptr, nullptr},
  };
  for (const Expected &c : kCases) {
    SCOPED_TRACE(c.file);
    FILE *f = std::fopen(Corpus(c.file).c_str(), "rb");
    ASSERT_NE(f, nullptr);
    HEADER_SUMMARY s;
    long total = ScanHeader(s, MAIL_SOURCE::File(f), nullptr);
    CloseSource(MAIL_SOURCE::File(f));
    EXPECT_EQ(static_cast<size_t>(total), HeaderLength(ReadFile(Corpus(c.file))));
    ExpectText(s.from, c.from, "from");
    ExpectText(s.displayName, c.displayName, "display name");
    ExpectText(s.to, c.to, "to");
    ExpectText(s.subject, c.subject, "subject");
    ExpectText(s.messageId, c.messageId, "message id");
    ExpectText(s.replyTo, c.replyTo, "reply-to");
    EXPECT_EQ(s.date, c.date);
    EXPECT_EQ(s.flags, c.flags);
  }
}

TEST(MailHeaders, ResentAndListFields) {
  HEADER_SUMMARY s;
  FILE *f = std::fopen(Corpus("resent.eml").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ScanHeader(s, MAIL_SOURCE::File(f), nullptr);
  CloseSource(MAIL_SOURCE::File(f));
  EXPECT_EQ(s.resentFrom.value_or(""), "relay@example.com");
  EXPECT_EQ(s.resentSender.value_or(""), "robot@example.com");
  EXPECT_EQ(s.resentReplyTo.value_or(""), "resent-reply@example.com");
  EXPECT_EQ(s.sender.value_or(""), "list-owner@example.com");

  f = std::fopen(Corpus("multipart.eml").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ScanHeader(s, MAIL_SOURCE::File(f), nullptr);
  CloseSource(MAIL_SOURCE::File(f));
  EXPECT_EQ(s.cc.value_or(""), "dave@example.net, erin@example.net");  // plain list kept whole
}

TEST(MailHeaders, VeryLongLines) {
  HEADER_SUMMARY s;
  FILE *f = std::fopen(Corpus("longlines.eml").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  long total = ScanHeader(s, MAIL_SOURCE::File(f), nullptr);
  CloseSource(MAIL_SOURCE::File(f));
  EXPECT_EQ(static_cast<size_t>(total), HeaderLength(ReadFile(Corpus("longlines.eml"))));
  EXPECT_EQ(s.subject.value_or(""), std::string(3000, 'b'));
  EXPECT_EQ(s.from.value_or(""), "long@example.com");
  EXPECT_EQ(s.date, kDec5_1995_1430);
}

TEST(MailHeaders, CopyFileGetsEveryHeaderLine) {
  TempDir dir;
  FILE *f = std::fopen(Corpus("folded.eml").c_str(), "rb");
  FILE *copy = std::fopen((dir / "copy").c_str(), "wb");
  ASSERT_TRUE(f && copy);
  HEADER_SUMMARY s;
  long total = ScanHeader(s, MAIL_SOURCE::File(f), copy);
  CloseSource(MAIL_SOURCE::File(f));
  std::fclose(copy);
  std::string message = ReadFile(Corpus("folded.eml"));
  EXPECT_EQ(ReadFile(dir / "copy"), message.substr(0, static_cast<size_t>(total)));
}

// NUL bytes in a field line, in a continuation and in an unknown field: the
// copy is byte-exact and the count covers them; the fields read up to the NUL.
TEST(MailHeaders, CopyKeepsNulBytes) {
  TempDir dir;
  using namespace std::string_literals;
  const std::string header =
      "From: nul@example.com\r\n"
      "Subject: before\0after\r\n"
      "X-Odd: a\0b\0\r\n"
      "To: first@example.com,\r\n"
      "\tsecond\0@example.com\r\n"
      "\r\n"s;
  const std::string message = header + "body\0line\r\n"s;
  { std::ofstream(dir / "m.eml", std::ios::binary) << message; }
  FILE *f = std::fopen((dir / "m.eml").c_str(), "rb");
  FILE *copy = std::fopen((dir / "copy").c_str(), "wb");
  ASSERT_TRUE(f && copy);
  HEADER_SUMMARY s;
  long total = ScanHeader(s, MAIL_SOURCE::File(f), copy);
  CloseSource(MAIL_SOURCE::File(f));
  std::fclose(copy);
  EXPECT_EQ(total, static_cast<long>(header.size()));
  EXPECT_EQ(ReadFile(dir / "copy"), header);
  EXPECT_EQ(s.subject.value_or(""), "before");
  EXPECT_EQ(s.from.value_or(""), "nul@example.com");
}

TEST(MailHeaders, FailedCopyIsReported) {
  FILE *f = std::fopen(Corpus("multipart.eml").c_str(), "rb");
  FILE *full = std::fopen("/dev/full", "wb");
  ASSERT_TRUE(f && full);
  HEADER_SUMMARY s;
  EXPECT_EQ(ScanHeader(s, MAIL_SOURCE::File(f), full), -1);
  EXPECT_EQ(s.subject.value_or(""), "Quarterly report");
  CloseSource(MAIL_SOURCE::File(f));
  std::fclose(full);
}

TEST(MailHeaders, DateTable) {
  static const struct {
    const char *value;
    int32_t expected;
  } kCases[] = {
      {"Tue, 5 Dec 95 14:30:00 -0500", kDec5_1995_1430 + 5 * 3600},
      {"Tue, 5 Dec 1995 14:30:00 +0530", kDec5_1995_1430 - 5 * 3600 - 1800},
      {"Tue, 5 Dec 1995 14:30:00 EDT", kDec5_1995_1430 + 4 * 3600},
      {"Tue, 5 Dec 1995 14:30:00 GMT", kDec5_1995_1430},
      {"Tue, 5 Dec 1995 14:30:00 PST", kDec5_1995_1430 + 8 * 3600},
      {"Tue, 5 Dec 1995 14:30 UT", kDec5_1995_1430},
      {"Tue, 5 Dec 1995 14:30:00 A", kDec5_1995_1430 + 3600},         // military zone A is -0100
      {"Tue, 5 Dec 1995 9:30:00 +0000", kDec5_1995_1430 - 5 * 3600},  // one-digit hour
      {"5 Dec 1995", kDec5_1995_1430 - 14 * 3600 - 1800},             // no time
      {"Tue, 5 Dec 05 14:30:00 +0000", 1133793000},                   // two-digit year 05 is 2005
      {"garbage", 315532800},                                         // 1980-01-01
      {"Mon, 5 Dec 2050 10:00:00 +0000", -1},
      {"Tue, 40 Dec 1995 00:00:00 +0000", 821145600},                       // 9 Jan 1996: days carry over
      {"Tue, 5 Dec 1995 14:30:00 +99999999999999999999", kDec5_1995_1430},  // no zone, no overflow
      {"Tue, 5 Dec 1995 14:30:00 -2147483648", kDec5_1995_1430},
  };
  for (const auto &c : kCases) EXPECT_EQ(ParseMailDate(c.value), c.expected) << c.value;
}

TEST(MailHeaders, EncodedWords) {
  static const struct {
    const char *in;
    const char *out;
  } kCases[] = {
      {"=?ISO-8859-1?Q?=FC=DF?=", "\xFC\xDF"},
      {"=?a?Q?one?= =?a?Q?two?=", "onetwo"},
      {"=?a?Q?one?= plain", "one plain"},
      {"=?a?q?a_b=3D=3d?=", "a b=="},
      {"=?UTF-8?B?SGVsbG8=?=", "Hello"},
      {"50% =? off", "50% =? off"},
      {"=?a?Q?x=?y?=", "x?y"},
      {"no words", "no words"},
  };
  for (const auto &c : kCases) EXPECT_EQ(DecodeEncodedWords(c.in), c.out) << c.in;
  EXPECT_EQ(ExtractDisplayName("  \"Ann Example\" ").value_or("-"), "Ann Example");
  EXPECT_FALSE(ExtractDisplayName("  \"\" ").has_value());
}

TEST(MailHeaders, ReadLineRules) {
  TempDir dir;
  // A last line without a line feed is returned; a long line comes in pieces.
  WriteFile(dir / "a", "one\r\n" + std::string(10, 'x') + "\r\ntail");
  FILE *f = std::fopen((dir / "a").c_str(), "rb");
  char line[8];
  std::vector<std::string> lines;
  while (ReadLine(line, sizeof line, MAIL_SOURCE::File(f))) lines.push_back(line);
  CloseSource(MAIL_SOURCE::File(f));
  EXPECT_EQ(lines, (std::vector<std::string>{"one\r\n", "xxxxxxx", "xxx\r\n", "tail"}));

  // A read that yields the single byte 0x1A ends the file.
  std::string body(kLineReadSize - 2, 'y');
  WriteFile(dir / "z", body + "\r\n\x1A");
  f = std::fopen((dir / "z").c_str(), "rb");
  std::vector<char> big(4096);
  int count = 0;
  while (ReadLine(big.data(), static_cast<int>(big.size()), MAIL_SOURCE::File(f))) ++count;
  CloseSource(MAIL_SOURCE::File(f));
  EXPECT_EQ(count, 1);
}

TEST(MailHeaders, PopStreamEndsAtEndOfMessageLine) {
  const std::string header = "From: a@b.example\r\nSubject: short\r\n";
  for (size_t chunk : {1u, 7u, 2048u}) {
    SCOPED_TRACE(chunk);
    ChunkTransport t(header + ".\r\n", chunk);
    SetMailTransport(&t);
    LINE_BUFFER &b = GetLineBuffer();
    b.count = b.position = 0;
    HEADER_SUMMARY s;
    long total = ScanHeader(s, MAIL_SOURCE::Socket(1), nullptr);
    EXPECT_EQ(static_cast<size_t>(total), header.size());
    EXPECT_EQ(s.subject.value_or(""), "short");
    EXPECT_EQ(b.count, 3);
    EXPECT_EQ(b.position, 3);
    EXPECT_EQ(std::string(b.area, 3), ".\r\n");
    SetMailTransport(nullptr);
  }
}

// A Ctrl-Z byte is data on a connection, however the server's bytes arrive:
// only the close ends what a socket delivers (a Ctrl-Z that came alone in a
// receive ended the message there, and its retrieval failed).
TEST(MailHeaders, PopStreamCarriesCtrlZInAnyReceive) {
  const std::string message = "Subject: z\r\n\r\nbefore\r\n\x1A\r\nafter \x1A\r\n\x1A";
  for (size_t chunk : {1u, 2u, 7u, 2048u}) {
    SCOPED_TRACE(chunk);
    ChunkTransport t(message, chunk);
    SetMailTransport(&t);
    GetLineBuffer().count = GetLineBuffer().position = 0;
    std::string read;
    char line[64];
    int length = 0;
    while (ReadLine(line, sizeof line, MAIL_SOURCE::Socket(1), &length)) read.append(line, static_cast<size_t>(length));
    EXPECT_EQ(read, message);
    SetMailTransport(nullptr);
  }
}

TEST(MailHeaders, PopStreamKeepsBodyBytesForTheCaller) {
  const std::string header = "Subject: s\r\n\r\n";
  ChunkTransport t(header + "body line\r\n.\r\n", 2048);
  SetMailTransport(&t);
  LINE_BUFFER &b = GetLineBuffer();
  b.count = b.position = 0;
  HEADER_SUMMARY s;
  EXPECT_EQ(ScanHeader(s, MAIL_SOURCE::Socket(1), nullptr), static_cast<long>(header.size()));
  EXPECT_EQ(std::string(b.area, static_cast<size_t>(b.count)), "body line\r\n.\r\n");
  SetMailTransport(nullptr);
}

// A header folded over 100,000 lines: the value keeps what fits, the rest is
// read and dropped, and every header byte is counted.
TEST(MailHeaders, LongRunOfContinuationLines) {
  TempDir dir;
  std::string header = "Subject: start\r\n";
  for (int i = 0; i < 100000; ++i) header += " word\r\n";
  header += "To: <rcpt@example.net>\r\n\r\n";
  WriteFile(dir / "long.eml", header + "body\r\n");
  FILE *f = std::fopen((dir / "long.eml").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  HEADER_SUMMARY s;
  GetLineBuffer().count = 0;  // nothing left over from an earlier test's source
  EXPECT_EQ(ScanHeader(s, MAIL_SOURCE::File(f), nullptr), static_cast<long>(header.size()));
  CloseSource(MAIL_SOURCE::File(f));
  ASSERT_TRUE(s.subject.has_value());
  EXPECT_EQ(s.subject->rfind("start word word", 0), 0u);
  EXPECT_LT(s.subject->size(), 4096u);
  EXPECT_EQ(s.to.value_or(""), "rcpt@example.net");
}
