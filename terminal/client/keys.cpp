// Key codes, modifier codes and the key ring.
#include "keys.h"

#include <cstring>

namespace {

// Extended keys get codes of their own so that every key of the table is distinct.
BYTE ExtendedKeyCode(BYTE scan) {
  switch (scan) {
    case 28: return 99;  // keypad Enter
    case 53: return 84;  // keypad /
    case 71: return 90;  // Home
    case 72: return 95;  // Up
    case 73: return 91;  // Page Up
    case 75: return 96;  // Left
    case 77: return 98;  // Right
    case 79: return 93;  // End
    case 80: return 97;  // Down
    case 81: return 94;  // Page Down
    case 82: return 89;  // Insert
    case 83: return 92;  // Delete
    default: return scan;
  }
}

bool IsLetterKey(BYTE code) {
  return (code >= 16 && code <= 25) || (code >= 30 && code <= 38) || (code >= 44 && code <= 50);
}

bool IsKeypadDigitKey(BYTE scan) { return scan >= 71 && scan <= 83 && scan != 74 && scan != 78; }

// Characters of the North American layout by scan code: unshifted, shifted.
struct KEY_CHARS {
  BYTE first;
  const char *plain;
  const char *shifted;
};
const KEY_CHARS kKeyChars[] = {
    {2, "1234567890-=", "!@#$%^&*()_+"},
    {16, "qwertyuiop[]", "QWERTYUIOP{}"},
    {30, "asdfghjkl;'`", "ASDFGHJKL:\"~"},
    {43, "\\zxcvbnm,./", "|ZXCVBNM<>?"},
    {57, " ", " "},
};

}  // namespace

BYTE TermKeyCode(BYTE scan, bool extended, bool numLock) {
  if (extended || (IsKeypadDigitKey(scan) && !numLock)) return ExtendedKeyCode(scan);
  return scan;
}

BYTE TermModifierCode(BYTE state, BYTE code) {
  BYTE m = (state & (SS_LALT | SS_RALT)) ? 2 : (state & (SS_LCTRL | SS_RCTRL)) ? 1 : (state & SS_SHIFT) ? 4 : 0;
  if ((state & SS_CAPS) && (m == 0 || m == 4) && IsLetterKey(code)) m ^= 4;
  return m;
}

BYTE TermKeyChar(BYTE code, bool shifted) {
  for (const KEY_CHARS &k : kKeyChars) {
    const size_t n = std::strlen(k.plain);
    if (code >= k.first && code < k.first + n) return (BYTE)(shifted ? k.shifted : k.plain)[code - k.first];
  }
  return 0;
}

bool TermKeyRingStore(TERM_KEY_RING &ring, BYTE keyCode, BYTE modifier) {
  if (ring.count >= TERM_KEY_RING::kSlots - 1) return false;
  ring.code[ring.write] = keyCode;
  ring.modifier[ring.write] = modifier;
  ring.write = (ring.write + 1) % TERM_KEY_RING::kSlots;
  ++ring.count;
  return true;
}

bool TermKeyRingTake(TERM_KEY_RING &ring, BYTE &keyCode, BYTE &modifier) {
  if (ring.count == 0) return false;  // an empty ring gives nothing
  keyCode = ring.code[ring.read];
  modifier = ring.modifier[ring.read];
  ring.read = (ring.read + 1) % TERM_KEY_RING::kSlots;
  --ring.count;
  return true;
}
