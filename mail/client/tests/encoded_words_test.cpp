// Encoded words in headers: published vectors for the B (base64) and Q forms
// and the rules for joining adjacent words, checked byte for byte. The B
// vectors cover every letter of the base64 alphabet, so a decoder that
// confuses two letters (say "+" and "/") fails here.
#include <gtest/gtest.h>

#include <string>

#include "encoded_words.h"

namespace {

struct Vector {
  const char *in;
  std::string out;
};

std::string AllBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return bytes;
}

TEST(EncodedWords, BaseSixtyFourVectors) {
  const Vector kCases[] = {
      // The base64 test vectors of RFC 4648, section 10.
      {"=?a?B?"
       "?=",
       ""},
      {"=?a?B?Zg==?=", "f"},
      {"=?a?B?Zm8=?=", "fo"},
      {"=?a?B?Zm9v?=", "foo"},
      {"=?a?B?Zm9vYg==?=", "foob"},
      {"=?a?B?Zm9vYmE=?=", "fooba"},
      {"=?a?B?Zm9vYmFy?=", "foobar"},
      // Every byte value once: all 64 letters of the alphabet in use.
      {"=?x?B?AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+P0BBQkNERUZHSElKS0x"
       "NTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3BxcnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJiouMjY6PkJGSk5SVlpeYmZqbnJ2en6"
       "ChoqOkpaanqKmqq6ytrq+wsbKztLW2t7i5uru8vb6/wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g4eLj5OXm5+jp6uvs7e7v8PHy8"
       "/T19vf4+fr7/P3+/w==?=",
       AllBytes()},
      // The two letters past the alphanumerics, each in a position of its own.
      {"=?x?B?+/8=?=", "\xFB\xFF"},
      {"=?x?B?//79?=", "\xFF\xFE\xFD"},
      {"=?x?B?+D4P?=", "\xF8\x3E\x0F"},
      // RFC 2047's own examples: Hebrew in a lower-case "b" word, and a
      // sentence split over two words and a folded line.
      {"=?iso-8859-8?b?7eXs+SDv4SDp7Oj08A==?=", "\xED\xE5\xEC\xF9 \xEF\xE1 \xE9\xEC\xE8\xF4\xF0"},
      {"=?ISO-8859-1?B?SWYgeW91IGNhbiByZWFkIHRoaXMgeW8=?=\r\n    =?ISO-8859-2?B?dSB1bmRlcnN0YW5kIHRoZSBleGFtcGxlLg==?=",
       "If you can read this you understand the example."},
      // Missing padding still yields the whole bytes.
      {"=?UTF-8?B?SGVsbG8?=", "Hello"},
  };
  for (const Vector &c : kCases) EXPECT_EQ(DecodeEncodedWords(c.in), c.out) << c.in;
}

TEST(EncodedWords, QuotedVectors) {
  const Vector kCases[] = {
      // RFC 2047's examples of names.
      {"=?US-ASCII?Q?Keith_Moore?= <moore@cs.utk.edu>", "Keith Moore <moore@cs.utk.edu>"},
      {"=?ISO-8859-1?Q?Keld_J=F8rn_Simonsen?= <keld@dkuug.dk>", "Keld J\xF8rn Simonsen <keld@dkuug.dk>"},
      {"=?ISO-8859-1?Q?Andr=E9?= Pirard <PIRARD@vm1.ulg.ac.be>", "Andr\xE9 Pirard <PIRARD@vm1.ulg.ac.be>"},
      // An underscore is a space; an encoded underscore is an underscore.
      {"=?a?Q?a_b=5Fc=20d?=", "a b_c d"},
      // Hex digits in either case; every byte value can be written.
      {"=?a?Q?=00=7F=80=ff=Fe?=", std::string("\x00\x7F\x80\xFF\xFE", 5)},
      // A "=" not followed by two hex digits stands for itself.
      {"=?a?Q?1=G2=?=", "1=G2="},
      {"=?a?Q?=4?=", "=4"},
  };
  for (const Vector &c : kCases) EXPECT_EQ(DecodeEncodedWords(c.in), c.out) << c.in;
}

TEST(EncodedWords, WhiteSpaceBetweenWords) {
  // RFC 2047's table of how adjacent words and the space between them display.
  const Vector kCases[] = {
      {"(=?ISO-8859-1?Q?a?=)", "(a)"},
      {"(=?ISO-8859-1?Q?a?= b)", "(a b)"},
      {"(=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=)", "(ab)"},
      {"(=?ISO-8859-1?Q?a?=  =?ISO-8859-1?Q?b?=)", "(ab)"},
      {"(=?ISO-8859-1?Q?a?=\r\n    =?ISO-8859-1?Q?b?=)", "(ab)"},
      {"(=?ISO-8859-1?Q?a_b?=)", "(a b)"},
      {"(=?ISO-8859-1?Q?a?= =?ISO-8859-2?Q?_b?=)", "(a b)"},
      // A B word after a Q word joins the same way.
      {"=?a?Q?x?= =?a?B?eQ==?=", "xy"},
      // Text that only looks like the start of a word is kept.
      {"50% =? off", "50% =? off"},
      {"a =?b c", "a =?b c"},
  };
  for (const Vector &c : kCases) EXPECT_EQ(DecodeEncodedWords(c.in), c.out) << c.in;
}

}  // namespace
