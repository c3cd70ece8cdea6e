// The LPD daemon's rules: queue prefixes, strict counts, LF conversion, and
// the reader's lines and data over receives cut anywhere.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lpdrules.h"

namespace {

TEST(LpdRules, QueuePrefixes) {
  const struct {
    const char *queue, *printer;
    bool u, f;
  } cases[] = {
      {"DOS-lp", "lp", false, false},  {"d-lp", "lp", false, false},    {"DOSFF-lp", "lp", false, true},
      {"DF-lp", "lp", false, true},    {"unix-lp", "lp", true, false},  {"U-lp", "lp", true, false},
      {"UNIXFF-lp", "lp", true, true}, {"uf-lp", "lp", true, true},     {"DOS_lp", "lp", false, false},
      {"D_lp", "lp", false, false},    {"DOSFF_lp", "lp", false, true}, {"DF_lp", "lp", false, true},
      {"UNIX_lp", "lp", true, false},  {"U_lp", "lp", true, false},     {"UNIXFF_lp", "lp", true, true},
      {"UF_lp", "lp", true, true},     {"lp", "lp", false, true},       {"UNIXFF-", "", true, true},
      {"Ux-lp", "Ux-lp", false, true}, {"DOSlp", "DOSlp", false, true}, {"", "", false, true},
  };
  for (const auto &c : cases) {
    LpdQueue q = LpdParseQueue(c.queue);
    EXPECT_EQ(q.printer, c.printer) << c.queue;
    EXPECT_EQ(q.convertLf, c.u) << c.queue;
    EXPECT_EQ(q.formFeed, c.f) << c.queue;
  }
}

TEST(LpdRules, FileLinesAreStrict) {
  const struct {
    const char *text;
    bool ok;
    uint64_t count;
    const char *name;
  } cases[] = {
      {"12 dfA001host", true, 12, "dfA001host"},
      {"0 dfA001host", true, 0, "dfA001host"},
      {"2147483647\tcfA1", true, 2147483647, "cfA1"},
      {"5 name \r", true, 5, "name"},
      {"2147483648 dfA", false, 0, ""},
      {"99999999999999999999999 dfA", false, 0, ""},
      {"-5 dfA", false, 0, ""},
      {"+5 dfA", false, 0, ""},
      {"abc dfA", false, 0, ""},
      {"12", false, 0, ""},
      {"12 ", false, 0, ""},
      {"12x dfA", false, 0, ""},
      {" 12 dfA", false, 0, ""},
      {"", false, 0, ""},
  };
  for (const auto &c : cases) {
    uint64_t count = 0;
    std::string name;
    EXPECT_EQ(LpdParseFileLine(c.text, &count, &name), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(count, c.count) << c.text;
      EXPECT_EQ(name, c.name) << c.text;
    }
  }
}

TEST(LpdRules, QueueStateSaysOneJobInTheSingular) {
  const std::string heading = "   Job Id      Username      File Size\n========================================\n";
  EXPECT_EQ(LpdQueueState(0), heading + "There are currently 0 jobs enqueued to the print manager\n");
  EXPECT_EQ(LpdQueueState(1), heading + "There is currently 1 job enqueued to the print manager\n");
  EXPECT_EQ(LpdQueueState(2), heading + "There are currently 2 jobs enqueued to the print manager\n");
}

TEST(LpdRules, LfBecomesCrLf) {
  const std::string in = "a\nb\r\n\n";
  EXPECT_EQ(LpdConvertLf(in.data(), in.size()), "a\r\nb\r\r\n\r\n");
  EXPECT_EQ(LpdConvertLf("", 0), "");
}

// A peer whose bytes arrive in the given pieces, then its end.
LpdReader ReaderOf(std::vector<std::string> *pieces) {
  return LpdReader([pieces](char *buffer, int size) {
    if (pieces->empty()) return 0;
    std::string &front = pieces->front();
    const int take = std::min<int>(size, (int)front.size());
    memcpy(buffer, front.data(), (size_t)take);
    front.erase(0, (size_t)take);
    if (front.empty()) pieces->erase(pieces->begin());
    return take;
  });
}

TEST(LpdReader, LinesAndDataAcrossReceives) {
  // A line split over two receives, and data that came in the same receive as its line.
  std::vector<std::string> pieces = {"\x02U-l",
                                     "p\n\x03"
                                     "5 dfA\nhel",
                                     std::string("lo\0", 3), "\x02"};
  LpdReader reader = ReaderOf(&pieces);
  std::string line;
  ASSERT_EQ(reader.ReadLine(&line), LpdReader::LINE_OK);
  EXPECT_EQ(line, "\x02U-lp");
  ASSERT_EQ(reader.ReadLine(&line), LpdReader::LINE_OK);
  EXPECT_EQ(line,
            "\x03"
            "5 dfA");
  char data[16];
  int got = reader.ReadData(data, 5);
  EXPECT_EQ(std::string(data, (size_t)got), "hel");  // what was buffered first
  got = reader.ReadData(data, 2);
  EXPECT_EQ(std::string(data, (size_t)got), "lo");
  EXPECT_EQ(reader.ReadData(data, 1), 1);
  EXPECT_EQ(data[0], '\0');
  EXPECT_EQ(reader.ReadLine(&line), LpdReader::LINE_END);  // the peer ended inside a line
}

TEST(LpdReader, OverlongLineIsRefused) {
  std::vector<std::string> pieces = {"\x02" + std::string(LPD_LINE_MAX - 1, 'a') + "\n",
                                     "\x02" + std::string(5000, 'b') + "\n"};
  LpdReader reader = ReaderOf(&pieces);
  std::string line;
  ASSERT_EQ(reader.ReadLine(&line), LpdReader::LINE_OK);  // exactly the longest line
  EXPECT_EQ(line.size(), (size_t)LPD_LINE_MAX);
  EXPECT_EQ(reader.ReadLine(&line), LpdReader::LINE_TOO_LONG);
  EXPECT_LE(line.size(), (size_t)LPD_LINE_MAX);
}

}  // namespace
