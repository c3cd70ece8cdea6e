// Key codes, modifier codes, the key ring and the built-in VT220 key map.
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

// Keypad keys (Num Lock on): the numeric character and the application-mode final.
struct KEYPAD_KEY {
  BYTE code;
  char digit;
  char appFinal;
};
const KEYPAD_KEY kKeypad[] = {
    {82, '0', 'p'}, {79, '1', 'q'}, {80, '2', 'r'}, {81, '3', 's'}, {75, '4', 't'}, {76, '5', 'u'},  {77, '6', 'v'},
    {71, '7', 'w'}, {72, '8', 'x'}, {73, '9', 'y'}, {83, '.', 'n'}, {78, ',', 'l'}, {99, '\r', 'M'},
};

// The DEC editing keys and F6..F12 send "CSI n ~".
struct TILDE_KEY {
  BYTE code;
  int number;
};
const TILDE_KEY kTildeKeys[] = {
    {90, 1},  {89, 2},  {92, 3},  {93, 4},  {91, 5},  {94, 6},  // Find, Insert, Remove, Select, Prev, Next
    {64, 17}, {65, 18}, {66, 19}, {67, 20}, {68, 21},           // F6..F10
    {87, 23}, {88, 24},                                         // F11, F12
};

// PF1..PF4: F1..F4, and Num Lock, keypad /, * and - where a VT220 keypad has them.
int PfKey(BYTE code) {
  switch (code) {
    case 59:
    case 69: return 0;
    case 60:
    case 84: return 1;
    case 61:
    case 55: return 2;
    case 62:
    case 74: return 3;
    default: return -1;
  }
}

std::string Ss3(const TERM_SETUP &s) { return s.ansiMode ? "\x1BO" : "\x1B"; }

// Ctrl with a character key: the control character of it.
std::string ControlChar(BYTE c) {
  if (c >= 'a' && c <= 'z') return std::string(1, (char)(c - 'a' + 1));
  switch (c) {
    case ' ':
    case '2': return std::string(1, '\0');
    case '[':
    case '3': return "\x1B";
    case '\\':
    case '4': return "\x1C";
    case ']':
    case '5': return "\x1D";
    case '6': return "\x1E";
    case '-':
    case '7': return "\x1F";
    case '8': return "\x7F";
    default: return std::string(1, (char)c);
  }
}

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

std::string KeyBytes(BYTE code, BYTE modifier, const TERM_SETUP &s) {
  if (const int pf = PfKey(code); pf >= 0) return Ss3(s) + (char)('P' + pf);
  switch (code) {
    case 1: return "\x1B";
    case 14: return s.backspaceSendsDel ? "\x7F" : "\b";
    case 15: return "\t";
    case 28: return s.newLineMode ? "\r\n" : "\r";
    case 95:
    case 97:
    case 98:
    case 96: {
      const char final = code == 95 ? 'A' : code == 97 ? 'B' : code == 98 ? 'C' : 'D';
      if (!s.ansiMode) return std::string("\x1B") + final;
      return (s.cursorKeysApp ? "\x1BO" : "\x1B[") + std::string(1, final);
    }
    default: break;
  }
  for (const TILDE_KEY &k : kTildeKeys)
    if (k.code == code) return s.ansiMode ? "\x1B[" + std::to_string(k.number) + "~" : "";
  for (const KEYPAD_KEY &k : kKeypad) {
    if (k.code != code) continue;
    if (s.keypadApp) return s.ansiMode ? Ss3(s) + k.appFinal : std::string("\x1B?") + k.appFinal;
    if (code == 99) return s.newLineMode ? "\r\n" : "\r";
    return std::string(1, k.digit);
  }
  const BYTE c = TermKeyChar(code, modifier == 4);
  if (!c) return "";
  if (modifier == 1) return ControlChar(c);
  if (modifier == 2) return std::string("\x1B") + (char)c;  // Alt as a meta prefix
  return std::string(1, (char)c);
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
