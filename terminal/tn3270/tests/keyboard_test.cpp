// The 3270 keyboard: key strings to key functions, the queue while the
// keyboard is locked, and what each function does on a fixture screen.
#include <gtest/gtest.h>

#include <string>

#include "tn3270_harness.h"

namespace {

const std::string kEraseWrite = "\xF5\xC3";
const std::string kWrite = "\xF1\xC3";
std::string Sf(unsigned char attribute) { return std::string("\x1D") + (char)attribute; }

// Row 0: a protected label, an unprotected field of 6, an auto-skip field of
// 3, an unprotected field of 4 and a numeric field of 4, then a protected
// field to the end of the row; the cursor in the first input field.
//   0 attr(prot) "Name" 5 attr(unprot) 6..11 12 attr(autoskip) 13..15
//   16 attr(unprot) 17..20 21 attr(numeric) 22..25 26 attr(prot)
class Tn3270Keyboard : public ::testing::Test {
 protected:
  void SetUp() override {
    h.Record(kEraseWrite + Sf(0x60) + Ebcdic("Name") + Sf(0x40) + Sba(12) + Sf(0xF0) + Ebcdic("AAA") + Sf(0x40) +
             Sba(21) + Sf(0x50) + Sba(26) + Sf(0x60) + Sba(6) + "\x13");
    ASSERT_EQ(h.e.cursor, 6);
  }
  std::string Field(int from, int length) { return h.Row(0).substr(from, length); }
  Tn3270Harness h;
};

TEST_F(Tn3270Keyboard, EnterSendsTheCursorAndModifiedFieldsAndLocks) {
  h.Keys("ab\rc");
  ASSERT_EQ(h.records.size(), 1u);
  EXPECT_EQ(Hex(h.records[0]), Hex("\x7D" + Address(8) + Sba(6) + Ebcdic("ab")));
  EXPECT_FALSE(h.e.keyboardUnlocked);
  EXPECT_EQ(h.e.keyCount, 1);  // 'c' waits
  EXPECT_EQ(Field(6, 3), "ab ");
  h.Record(kWrite);  // keyboard restore: the waiting key is entered
  EXPECT_EQ(Field(6, 3), "abc");
  EXPECT_EQ(h.e.keyCount, 0);
}

TEST(Tn3270KeyboardAid, AttentionKeysSendTheirAid) {
  const struct {
    const char *keys;
    std::string aid;  // the lead-in
    bool cursor;      // followed by the cursor address
  } cases[] = {
      {"\x1b"
       "1",
       "\xF1", true},
      {"\x1bOP", "\xF1", true},
      {"\x1b=", "\x7C", true},
      {"\x1b}", "\x4C", true},
      {"\x1bo", "\xC9", true},
      {"\x1bOq", "\x7A", true},
      {"\x1bOS", "\x6C", false},  // PA1: nothing more
      {"\x1bOm", "\x6E", false},
      {"\x1bOM", "\x6D", false},            // PA2, CLEAR
      {"\x13", "\x01\x6C\x61\x02", false},  // test request: no cursor address
  };
  for (const auto &c : cases) {
    Tn3270Harness h;
    h.Record(kEraseWrite + Sf(0x40) + "\x13");
    h.Keys(c.keys);
    ASSERT_EQ(h.records.size(), 1u) << Hex(c.keys);
    EXPECT_EQ(Hex(h.records[0]), Hex(c.aid + (c.cursor ? Address(1) : ""))) << Hex(c.keys);
  }
}

TEST_F(Tn3270Keyboard, AnUnknownEscapeEndsTheString) {
  h.Keys("a\x1bZbc");
  EXPECT_EQ(Field(6, 3), "a  ");
  h.Keys("\x80x");  // no mapping either
  EXPECT_EQ(Field(6, 3), "a  ");
}

TEST_F(Tn3270Keyboard, ProtectedAndAutoSkipFieldsRefuseInput) {
  h.Keys("\x08\x1bOD");  // Home, then left onto the attribute
  EXPECT_EQ(h.e.cursor, 5);
  h.Keys("x");
  EXPECT_NE(h.oiaWrites.find("Protected Field"), std::string::npos);
  EXPECT_EQ(h.e.buffer[5], 0xC0 | 0x40);
  for (int i = 0; i < 8; ++i) h.Keys("\x1bOC");  // right, into the auto-skip field
  EXPECT_EQ(h.e.cursor, 13);
  h.Keys("y");
  EXPECT_EQ(Field(13, 3), "AAA");
}

TEST_F(Tn3270Keyboard, TypingPastAFieldSkipsTheAutoSkipField) {
  h.Keys("123456");
  EXPECT_EQ(Field(6, 6), "123456");
  EXPECT_EQ(h.e.cursor, 17);
  h.Keys("wxyz");  // the numeric field's own attribute is not auto-skip
  EXPECT_EQ(h.e.cursor, 22);
  h.Keys("ab");  // a numeric field takes any character
  EXPECT_EQ(Field(22, 2), "ab");
}

TEST_F(Tn3270Keyboard, TabBackTabHomeAndNewLine) {
  const struct {
    const char *keys;
    int cursor;
  } cases[] = {
      {"\t", 17},
      {"\t\t", 22},
      {"\t\t\t", 6},
      {"\x1b\t", 22},
      {"\x1bOC\x1bOC\x1b\t", 6},
      {"\x08", 6},
      {"\n", 6},
      {"\x1bOB\n", 6},
      {"\x1bOA", 1846},
      {"\x1bOD\x1bOD\x1bOD\x1bOD\x1bOD\x1bOD\x1bOD", 1919},
  };
  for (const auto &c : cases) {
    h.Keys("\x08");
    h.Keys(c.keys);
    EXPECT_EQ(h.e.cursor, c.cursor) << Hex(c.keys);
  }
}

TEST_F(Tn3270Keyboard, InsertEraseEofDeleteFieldMarkAndDup) {
  h.Keys(
      "abcd\x08\x1bOC"
      "X");  // overwrite: aXcd
  EXPECT_EQ(Field(6, 6), "aXcd  ");
  h.Keys(
      "\x1bOD\x1bOn"
      "Y");  // insert mode at the X
  EXPECT_EQ(Field(6, 6), "aYXcd ");
  EXPECT_EQ(h.Row(24)[45], '^');
  h.Keys("Z");
  EXPECT_EQ(Field(6, 6), "aYZXcd");
  h.Keys("Q");  // the field is full
  EXPECT_EQ(Field(6, 6), "aYZXcd");
  EXPECT_NE(h.oiaWrites.find("No more room for insert"), std::string::npos);
  h.Keys("\x14");  // Reset leaves insert mode
  EXPECT_FALSE(h.e.insertMode);
  h.Keys("\x7F");  // delete at the X
  EXPECT_EQ(Field(6, 6), "aYZcd ");
  h.Keys("\x1b\x7F");  // erase to the end of the field
  EXPECT_EQ(Field(6, 6), "aYZ   ");
  h.Keys("\x1e\x1c");
  EXPECT_EQ(h.e.buffer[9], IC_FIELD_MARK);
  EXPECT_EQ(h.e.buffer[10], IC_DUP);
  EXPECT_EQ(Field(9, 2), ";*");
  h.Keys("\r");
  EXPECT_EQ(Hex(h.records[0]), Hex("\x7D" + Address(11) + Sba(6) + Ebcdic("aYZ") + "\x1E\x1C"));
}

TEST_F(Tn3270Keyboard, ResetUnlocksTheKeyboardAheadOfKeysTypedWhileLocked) {
  h.Keys("\rabc");
  EXPECT_EQ(h.e.keyCount, 3);
  h.Keys("\x14");
  EXPECT_TRUE(h.e.keyboardUnlocked);
  EXPECT_EQ(h.e.keyCount, 0);  // the keys typed ahead are gone
  h.Keys("z");
  EXPECT_EQ(Field(6, 1), "z");
}

TEST_F(Tn3270Keyboard, AFullQueueBeepsAndLosesTheKey) {
  h.Keys("\r");
  const int beeps = h.beeps;
  h.Keys(std::string(64, 'k'));
  EXPECT_EQ(h.e.keyCount, 64);
  EXPECT_EQ(h.beeps, beeps);
  h.Keys("k");
  EXPECT_EQ(h.e.keyCount, 64);
  EXPECT_EQ(h.beeps, beeps + 1);
}

TEST_F(Tn3270Keyboard, TabStopsHomeRowAndMargin) {
  h.Keys("\x1b`\x1bOM");  // clear tab stops, home row and margin; nothing typed
  EXPECT_EQ(Field(6, 1), " ");
  for (int c = 0; c < TN_TAB_COLUMNS; ++c) EXPECT_EQ(h.e.tabStops[c], 0) << c;
  h.Keys("\x1bOC\x1bOC\x1b`\t");  // tab stop at column 8
  EXPECT_EQ(h.e.tabStops[8], 1);
  h.Keys("\x08\x1b\x1bOA");  // column tab from 6 to 8, margin there
  EXPECT_EQ(h.e.cursor, 8);
  EXPECT_EQ(h.e.margin, 8);
  h.Keys("\x1b\x1bOA");  // no tab stop after 8: the last column
  EXPECT_EQ(h.e.cursor, 79);
  h.Keys("\x1bOB\x1b`\x08");  // home row := row 1
  EXPECT_EQ(h.e.homeRow, 1);
}

TEST(Tn3270KeyboardUnformatted, EnterSendsEveryCharacterAndEraseEofRunsToTheEnd) {
  Tn3270Harness h;
  h.Record(kEraseWrite + Sba(1918) + Ebcdic("zz") + Sba(0) + "\x13");
  h.Keys("hi\x1b\x7F");
  EXPECT_EQ(h.e.buffer[1918], 0);
  h.Keys("\r");
  EXPECT_EQ(Hex(h.records[0]), Hex("\x7D" + Address(2) + Ebcdic("hi")));
}

}  // namespace
