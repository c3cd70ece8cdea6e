// Physical keys to key codes and modifier codes (Num Lock, Caps Lock), and the
// key ring. What the keys send is the key map's (keymap_test.cpp).
#include <gtest/gtest.h>

#include <string>

#include "keys.h"
#include "vt_core.h"

namespace {

TEST(Keys, CodesAndModifiers) {
  struct Case {
    const char *what;
    BYTE scan;
    bool extended;
    BYTE state;  // SS_* bits
    bool numLock;
    BYTE code, modifier;
  } cases[] = {
      {"a", 30, false, 0, true, 30, 0},
      {"Caps Lock a is shifted", 30, false, SS_CAPS, true, 30, 4},
      {"Caps Lock Shift+a is not", 30, false, SS_CAPS | SS_SHIFT, true, 30, 0},
      {"Caps Lock 1 is no letter", 2, false, SS_CAPS, true, 2, 0},
      {"Alt wins over Ctrl", 30, false, SS_LALT | SS_LCTRL, true, 30, 2},
      {"Ctrl wins over Shift", 30, false, SS_RCTRL | SS_SHIFT, true, 30, 1},
      {"keypad Enter", 28, true, 0, true, 99, 0},
      {"keypad 8 with Num Lock off is Up", 72, false, 0, false, 95, 0},
      {"keypad 8 with Num Lock on", 72, false, 0, true, 72, 0},
      {"Insert", 82, true, 0, true, 89, 0},
      {"keypad /", 53, true, 0, true, 84, 0},
  };
  for (const Case &c : cases) {
    const BYTE code = TermKeyCode(c.scan, c.extended, c.numLock);
    EXPECT_EQ(code, c.code) << c.what;
    EXPECT_EQ(TermModifierCode(c.state, code), c.modifier) << c.what;
  }
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
