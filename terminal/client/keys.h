// Keys between the window and the host: physical keys become key codes (PC
// scan codes, extended keys renumbered) with a modifier code and wait in a
// 32-slot ring for the session loop, which hands them to the key map
// (keymap.h).
#ifndef QX_TERMINAL_CLIENT_KEYS_H
#define QX_TERMINAL_CLIENT_KEYS_H

#include <string>

#include "term_state.h"

// Modifier state bits kept by the window.
enum : BYTE {
  SS_LALT = 0x01,
  SS_RALT = 0x02,
  SS_LCTRL = 0x04,
  SS_RCTRL = 0x08,
  SS_SHIFT = 0x10,
  SS_CAPS = 0x20,
  SS_EXTENDED = 0x80,
};

constexpr BYTE KEY_BREAK = 70;  // Scroll Lock: a telnet BREAK

// The key code of a physical key; keypad keys with Num Lock off are the
// navigation keys printed on them.
BYTE TermKeyCode(BYTE scan, bool extended, bool numLock);

// The modifier code stored with a key: 2 Alt, else 1 Ctrl, else 4 Shift,
// else 0; Caps Lock acts as Shift on letters.
BYTE TermModifierCode(BYTE shiftState, BYTE keyCode);

// The North American layout's character of a key (0 when it has none).
BYTE TermKeyChar(BYTE keyCode, bool shifted);

// The key ring: 32 slots, at most 31 keys pending.
struct TERM_KEY_RING {
  static constexpr int kSlots = 32;
  BYTE code[kSlots] = {};
  BYTE modifier[kSlots] = {};
  int write = 0, read = 0, count = 0;
};
bool TermKeyRingStore(TERM_KEY_RING &ring, BYTE keyCode, BYTE modifier);
bool TermKeyRingTake(TERM_KEY_RING &ring, BYTE &keyCode, BYTE &modifier);

#endif
