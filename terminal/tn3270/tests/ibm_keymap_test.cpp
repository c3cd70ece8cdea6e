// The shipped 3270 key map "IBM.KEY" end to end: PC keys (key code and
// modifier, as the window's keyboard path makes them) through the map file
// beside the programs into the 3270 keyboard, and what reaches the host or
// the field buffer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "keymap.h"
#include "tn3270_harness.h"

namespace {

enum : BYTE { PLAIN = 0, CTRL = 1, ALT = 2, SHIFT = 4 };

// Key codes of the PC keys (scan codes, extended keys renumbered).
enum : BYTE {
  K_ESC = 1,
  K_1 = 2,
  K_BACKSPACE = 14,
  K_TAB = 15,
  K_Q = 16,
  K_O = 24,
  K_RETURN = 28,
  K_6 = 7,
  K_BACKSLASH = 43,
  K_F1 = 59,
  K_F2 = 60,
  K_F3 = 61,
  K_F5 = 63,
  K_F10 = 68,
  K_PAUSE = 69,
  K_PAD_PLUS = 78,
  K_PAD_7 = 71,
  K_F11 = 87,
  K_F12 = 88,
  K_INSERT = 89,
  K_HOME = 90,
  K_PAGE_UP = 91,
  K_DELETE = 92,
  K_END = 93,
  K_PAGE_DOWN = 94,
  K_UP = 95,
  K_LEFT = 96,
  K_RIGHT = 98,
  K_PAD_ENTER = 99,
};

// The key map's output goes to the 3270 keyboard as the program hands it on.
class ToEngine : public KeyMapOutput {
 public:
  explicit ToEngine(Tn3270Harness &h) : h_(h) {}
  void Char(BYTE ch) override { h_.Keys(std::string(1, static_cast<char>(ch))); }
  void String(const BYTE *text, size_t length) override {
    h_.Keys(std::string(reinterpret_cast<const char *>(text), length));
  }

 private:
  Tn3270Harness &h_;
};

std::string ShippedMap() {
  const char *bin = std::getenv("QX_BIN_DIR");
  const std::string path = std::string(bin ? bin : ".") + "/IBM.KEY";
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class IbmKeyMap : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string file = ShippedMap();
    ASSERT_FALSE(file.empty()) << "IBM.KEY is not beside the programs (QX_BIN_DIR): build the target vtconsole";
    std::string error;
    ASSERT_TRUE(KeyMapLoadImage(km, reinterpret_cast<const BYTE *>(file.data()), file.size(), true, &error)) << error;
    // Row 0: a protected label, then an unprotected field at 6..11 and one at 17..20.
    h.Record(std::string("\xF5\xC3\x1D\x60", 4) + Ebcdic("Name") + "\x1D\x40" + Sba(12) + "\x1D\x60" + Sba(16) +
             "\x1D\x40" + Sba(21) + "\x1D\x60" + Sba(6) + "\x13");
  }
  void Press(BYTE code, BYTE modifier) { KeyMapSendKey(km, code - 1, modifier, setup, out); }
  void Type(const char *text) { h.Keys(text); }
  std::string Field(int from, int length) { return h.Row(0).substr(from, length); }

  TERM_KEYMAP km;
  TERM_SETUP setup{};
  Tn3270Harness h;
  ToEngine out{h};
};

TEST_F(IbmKeyMap, AttentionKeysSendTheirAid) {
  const struct {
    BYTE code, modifier;
    const char *what;
    unsigned char aid;
    bool cursor;  // the AID carries the cursor address and modified fields
  } cases[] = {
      {K_RETURN, PLAIN, "Enter", 0x7D, true}, {K_PAD_ENTER, PLAIN, "Enter", 0x7D, true},
      {K_F1, PLAIN, "PF1", 0xF1, true},       {K_F10, PLAIN, "PF10", 0x7A, true},
      {K_F11, PLAIN, "PF11", 0x7B, true},     {K_F12, PLAIN, "PF12", 0x7C, true},
      {K_F1, SHIFT, "PF13", 0xC1, true},      {K_F5, SHIFT, "PF17", 0xC5, true},
      {K_F10, SHIFT, "PF22", 0x4A, true},     {K_F11, SHIFT, "PF23", 0x4B, true},
      {K_F12, SHIFT, "PF24", 0x4C, true},     {K_1, ALT, "PF1", 0xF1, true},
      {K_Q, ALT, "PF13", 0xC1, true},         {K_O, ALT, "PF21", 0xC9, true},
      {K_PAGE_UP, PLAIN, "PF7", 0xF7, true},  {K_PAGE_DOWN, PLAIN, "PF8", 0xF8, true},
      {K_F1, CTRL, "PA1", 0x6C, false},       {K_F2, CTRL, "PA2", 0x6E, false},
      {K_F3, CTRL, "PA3", 0x6B, false},       {K_INSERT, ALT, "PA1", 0x6C, false},
      {K_HOME, ALT, "PA2", 0x6E, false},      {K_PAGE_UP, ALT, "PA3", 0x6B, false},
      {K_ESC, SHIFT, "Clear", 0x6D, false},   {K_PAUSE, PLAIN, "Clear", 0x6D, false},
  };
  for (const auto &c : cases) {
    Tn3270Harness fresh;
    ToEngine to(fresh);
    fresh.Record(std::string("\xF5\xC3\x1D\x40", 4) + "\x13");
    KeyMapSendKey(km, c.code - 1, c.modifier, setup, to);
    ASSERT_EQ(fresh.records.size(), 1u) << c.what << " from key " << int(c.code) << "/" << int(c.modifier);
    const std::string want = std::string(1, static_cast<char>(c.aid)) + (c.cursor ? Address(1) : "");
    EXPECT_EQ(Hex(fresh.records[0]), Hex(want)) << c.what << " from key " << int(c.code) << "/" << int(c.modifier);
  }
}

TEST_F(IbmKeyMap, SysReqSendsTheTestRequest) {
  Press(K_ESC, CTRL);
  ASSERT_EQ(h.records.size(), 1u);
  EXPECT_EQ(Hex(h.records[0]), Hex("\x01\x6C\x61\x02"));
}

TEST_F(IbmKeyMap, EditingKeysActOnTheFields) {
  // Erase EOF (End) at the "c" of "abcd", then Dup and Field Mark as
  // characters of the field, and Enter sends them as the host reads them.
  Type("abcd");
  Press(K_LEFT, PLAIN);
  Press(K_LEFT, PLAIN);
  Press(K_END, PLAIN);
  EXPECT_EQ(Field(6, 6), "ab    ");
  Press(K_INSERT, SHIFT);  // Dup
  Press(K_HOME, SHIFT);    // Field Mark
  Press(K_BACKSLASH, CTRL);
  Press(K_6, CTRL);
  Press(K_RETURN, PLAIN);
  ASSERT_EQ(h.records.size(), 1u);
  EXPECT_EQ(Hex(h.records[0]), Hex("\x7D" + Address(12) + Sba(6) + Ebcdic("ab") + "\x1C\x1E\x1C\x1E"));
}

TEST_F(IbmKeyMap, CursorInsertDeleteResetAndNewLine) {
  const struct {
    BYTE code, modifier;
    int cursor;  // after Home, then the key
  } moves[] = {
      {K_TAB, PLAIN, 17},  {K_TAB, SHIFT, 17},      {K_RIGHT, PLAIN, 7},  {K_LEFT, PLAIN, 5},
      {K_UP, PLAIN, 1846}, {K_BACKSPACE, PLAIN, 5}, {K_RETURN, SHIFT, 6}, {K_RETURN, CTRL, 6},
  };
  for (const auto &m : moves) {
    Press(K_HOME, PLAIN);
    EXPECT_EQ(h.e.cursor, 6);
    Press(m.code, m.modifier);
    EXPECT_EQ(h.e.cursor, m.cursor) << "key " << int(m.code) << "/" << int(m.modifier);
  }
  Press(K_HOME, PLAIN);
  Type("axc");
  Press(K_HOME, PLAIN);
  Press(K_RIGHT, PLAIN);
  Press(K_DELETE, PLAIN);
  EXPECT_EQ(Field(6, 3), "ac ");
  Press(K_INSERT, PLAIN);
  EXPECT_TRUE(h.e.insertMode);
  Type("b");
  EXPECT_EQ(Field(6, 3), "abc");
  Press(K_ESC, PLAIN);  // Reset leaves insert mode
  EXPECT_FALSE(h.e.insertMode);
  // The keypad types what is printed on it, with Num Lock on.
  Press(K_PAD_7, PLAIN);
  Press(K_PAD_PLUS, PLAIN);
  EXPECT_EQ(Field(6, 6), "ab7+  ");  // over the "c": insert mode is off
}

TEST_F(IbmKeyMap, HotKeysLeaveThePfKeysFree) {
  EXPECT_EQ(KeyMapHotKeyName(km, HOTKEY_SETUP), "Alt+F5");
  EXPECT_EQ(KeyMapHotKey(km, K_F5, PLAIN), 0);
  EXPECT_EQ(KeyMapHotKey(km, K_F5, ALT), HOTKEY_SETUP);
  EXPECT_EQ(KeyMapHotKeyName(km, HOTKEY_EXIT), "Alt+X");
}

}  // namespace
