// Physical keys to bytes on the wire: key codes, modifier codes (Num Lock,
// Caps Lock), the built-in key map in the terminal's modes, and the key ring.
#include <gtest/gtest.h>

#include <string>

#include "keys.h"
#include "vt_core.h"

namespace {

struct Key {
  const char *what;
  BYTE scan;
  bool extended;
  BYTE state;  // SS_* bits
  bool numLock;
  std::string bytes;
};

std::string Send(const Key &k, const TERM_SETUP &s) {
  const BYTE code = TermKeyCode(k.scan, k.extended, k.numLock);
  return KeyBytes(code, TermModifierCode(k.state, code), s);
}

TEST(Keys, PhysicalKeysToBytesInNormalModes) {
  const TERM_SETUP s = SetupFactoryRecord();
  const Key keys[] = {
      {"a", 30, false, 0, true, "a"},
      {"Shift+a", 30, false, SS_SHIFT, true, "A"},
      {"Caps Lock a", 30, false, SS_CAPS, true, "A"},
      {"Caps Lock Shift+a", 30, false, SS_CAPS | SS_SHIFT, true, "a"},
      {"Caps Lock 1 is no letter", 2, false, SS_CAPS, true, "1"},
      {"Shift+1", 2, false, SS_SHIFT, true, "!"},
      {"Ctrl+c", 46, false, SS_LCTRL, true, "\x03"},
      {"right Ctrl+[", 26, false, SS_RCTRL, true, "\x1B"},
      {"Ctrl+Space", 57, false, SS_LCTRL, true, std::string(1, '\0')},
      {"Alt+x", 45, false, SS_LALT, true, "\x1Bx"},
      {"Enter", 28, false, 0, true, "\r"},
      {"keypad Enter", 28, true, 0, true, "\r"},
      {"Backspace sends DEL", 14, false, 0, true, "\x7F"},
      {"Tab", 15, false, 0, true, "\t"},
      {"Esc", 1, false, 0, true, "\x1B"},
      {"Up", 72, true, 0, true, "\x1B[A"},
      {"Left", 75, true, 0, true, "\x1B[D"},
      {"keypad 8 with Num Lock off is Up", 72, false, 0, false, "\x1B[A"},
      {"keypad 8 with Num Lock on", 72, false, 0, true, "8"},
      {"keypad .", 83, false, 0, true, "."},
      {"Insert", 82, true, 0, true, "\x1B[2~"},
      {"Delete", 83, true, 0, true, "\x1B[3~"},
      {"Home is Find", 71, true, 0, true, "\x1B[1~"},
      {"Page Down is Next", 81, true, 0, true, "\x1B[6~"},
      {"F1 is PF1", 59, false, 0, true, "\x1BOP"},
      {"Num Lock is PF1", 69, false, 0, true, "\x1BOP"},
      {"keypad / is PF2", 53, true, 0, true, "\x1BOQ"},
      {"keypad - is PF4", 74, false, 0, true, "\x1BOS"},
      {"F6", 64, false, 0, true, "\x1B[17~"},
      {"F12", 88, false, 0, true, "\x1B[24~"},
      {"Scroll Lock is no key of the map", 70, false, 0, true, ""},
  };
  for (const Key &k : keys) EXPECT_EQ(Send(k, s), k.bytes) << k.what;
}

TEST(Keys, ModesChangeCursorKeypadAndLineEnds) {
  TERM_SETUP app = SetupFactoryRecord();
  app.cursorKeysApp = 1;
  app.keypadApp = 1;
  app.newLineMode = 1;
  app.backspaceSendsDel = 0;
  TERM_SETUP vt52 = SetupFactoryRecord();
  vt52.ansiMode = 0;
  vt52.keypadApp = 1;
  struct Case {
    const char *what;
    const TERM_SETUP &s;
    Key key;
  } cases[] = {
      {"application cursor Up", app, {"", 72, true, 0, true, "\x1BOA"}},
      {"application keypad 5", app, {"", 76, false, 0, true, "\x1BOu"}},
      {"application keypad Enter", app, {"", 28, true, 0, true, "\x1BOM"}},
      {"new-line mode Return", app, {"", 28, false, 0, true, "\r\n"}},
      {"Backspace sends BS", app, {"", 14, false, 0, true, "\b"}},
      {"VT52 Up",
       vt52,
       {"", 72, true, 0, true,
        "\x1B"
        "A"}},
      {"VT52 PF1", vt52, {"", 59, false, 0, true, "\x1BP"}},
      {"VT52 alternate keypad 0", vt52, {"", 82, false, 0, true, "\x1B?p"}},
      {"VT52 has no editing keys", vt52, {"", 82, true, 0, true, ""}},
  };
  for (const Case &c : cases) EXPECT_EQ(Send(c.key, c.s), c.key.bytes) << c.what;
}

TEST(KeyRing, KeepsThirtyOneKeysInOrder) {
  TERM_KEY_RING ring;
  for (int round = 0; round < 2; ++round) {  // the second round wraps the indexes
    for (int i = 0; i < 32; ++i) EXPECT_EQ(TermKeyRingStore(ring, (BYTE)(i + 1), (BYTE)round), i < 31) << i;
    BYTE code = 0, modifier = 0;
    for (int i = 0; i < 31; ++i) {
      ASSERT_TRUE(TermKeyRingTake(ring, code, modifier));
      EXPECT_EQ(code, i + 1);
      EXPECT_EQ(modifier, round);
    }
    code = 99;
    EXPECT_FALSE(TermKeyRingTake(ring, code, modifier));
    EXPECT_EQ(code, 99);  // an empty ring leaves the outputs alone
  }
}

}  // namespace
