// The hand-off block's bytes: the mail and documents layouts, the mapping's
// name, and blocks whose counts or pointers lead outside them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "block.h"

namespace {

using mailbridge::Request;

uint32_t Word(const std::vector<uint8_t> &b, size_t w) {
  uint32_t v;
  std::memcpy(&v, b.data() + w * 4, 4);
  return v;
}

std::string At(const std::vector<uint8_t> &b, size_t offset) {
  return reinterpret_cast<const char *>(b.data() + offset);
}

TEST(HandOffBlock, MailLayout) {
  Request r;
  r.user = "pat";
  r.password = "secret";
  r.recipients = {{'T', "abc"}};
  const uint32_t base = 0x00A41230;
  auto b = mailbridge::BuildMailBlock(r, base);
  // No subject, no note, one recipient of three characters, no files.
  EXPECT_EQ(b.size(), 178u + 5);
  EXPECT_EQ(Word(b, 5), 0u);
  EXPECT_EQ(Word(b, 6), 0u);
  EXPECT_EQ(Word(b, 3), base + 44);
  EXPECT_EQ(Word(b, 4), base + 109);
  EXPECT_EQ(Word(b, 7), 1u);
  EXPECT_EQ(Word(b, 8), base + 174);
  EXPECT_EQ(At(b, 174), "Tabc");
  EXPECT_EQ(At(b, 44), "pat");
  EXPECT_EQ(At(b, 109), "secret");

  r.subject = "Hello";
  r.note = "Line 1\r\nLine 2";
  r.recipients = {{'T', "a@x"}, {'C', "b@x"}, {'B', "c@x"}};
  r.files = {"C:\\x\\report.doc=\\Report", "C:\\y.txt"};
  r.flags = 3;
  b = mailbridge::BuildMailBlock(r, base);
  EXPECT_EQ(b.size(), 178u + 6 + 15 + 3 * 5 + (15 + 6 + 3) + 9);
  EXPECT_EQ(At(b, Word(b, 10) - base), "C:\\x\\report.doc=\\Report");
  const auto parsed = mailbridge::ParseBlock(b.data(), b.size(), true);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->subject, "Hello");
  EXPECT_EQ(parsed->note, "Line 1\r\nLine 2");
  ASSERT_EQ(parsed->recipients.size(), 3u);
  EXPECT_EQ(parsed->recipients[1].kind, 'C');
  EXPECT_EQ(parsed->recipients[2].text, "c@x");
  EXPECT_EQ(parsed->files, r.files);
  EXPECT_EQ(parsed->flags, 3u);

  // Fields longer than 64 characters are cut, never run into the next one.
  r.user = std::string(100, 'u');
  b = mailbridge::BuildMailBlock(r, base);
  EXPECT_EQ(At(b, 44), std::string(64, 'u'));
}

TEST(HandOffBlock, DocumentsLayoutAndName) {
  Request r;
  r.user = "pat";
  r.password = "pw";
  r.flags = 1;
  r.files = {"C:\\a.txt=\\A", "C:\\b.txt=\\B"};
  const auto b = mailbridge::BuildDocumentsBlock(r, 0x20000);
  EXPECT_EQ(At(b, 44), "pat");
  EXPECT_EQ(At(b, 48), "pw");
  EXPECT_EQ(Word(b, 10), 0x20000u + 51);
  EXPECT_EQ(At(b, 51), "C:\\a.txt=\\A");
  for (size_t w = 5; w <= 8; ++w) EXPECT_EQ(Word(b, w), 0u) << "word " << w;
  const auto parsed = mailbridge::ParseBlock(b.data(), b.size(), false);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->files, r.files);

  EXPECT_EQ(mailbridge::MappingName(0x00A41230), "@4656:164");
}

TEST(HandOffBlock, BlocksLeadingOutsideThemselvesAreRefused) {
  Request r;
  r.user = "pat";
  r.subject = "s";
  r.recipients = {{'T', "abc"}};
  r.files = {"f"};
  const uint32_t base = 0x30000;
  const auto good = mailbridge::BuildMailBlock(r, base);
  auto with = [&](size_t word, uint32_t value) {
    auto b = good;
    std::memcpy(b.data() + word * 4, &value, 4);
    return b;
  };
  std::vector<uint8_t> unterminated = good;
  unterminated.resize(unterminated.size() - 5);  // the file entry loses its NUL
  const struct {
    const char *name;
    std::vector<uint8_t> block;
  } cases[] = {
      {"too short", std::vector<uint8_t>(good.begin(), good.begin() + 40)},
      {"subject beyond the end", with(5, base + 5000)},
      {"subject before the strings", with(5, base + 3)},
      {"recipient count beyond the size", with(7, 100000)},
      {"more recipients than strings", with(7, 9)},
      {"file pointer below the base", with(10, base - 8)},
      {"a string without its end", unterminated},
  };
  for (const auto &c : cases) EXPECT_FALSE(mailbridge::ParseBlock(c.block.data(), c.block.size(), true)) << c.name;
  // A block written at another base reads the same: the base comes from word 3.
  const auto moved = mailbridge::BuildMailBlock(r, 0x7FFF0000);
  const auto parsed = mailbridge::ParseBlock(moved.data(), moved.size(), true);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->subject, "s");
}

}  // namespace
