// The PC keyboard as programs see it: a table of physical keys (scan code set
// 1, extended flag) to virtual keys, the key state with the Caps, Num and
// Scroll Lock toggles, the US layout and a US-International variant with dead
// keys, and the keyboard calls of USER32 on top of them.
#include "keyboard.h"

#include "qx/display.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace qx::input {
namespace {

constexpr UINT kWmKeyDown = 0x0100, kWmKeyUp = 0x0101, kWmChar = 0x0102, kWmDeadChar = 0x0103;
constexpr UINT kWmSysKeyDown = 0x0104, kWmSysKeyUp = 0x0105, kWmSysChar = 0x0106, kWmSysDeadChar = 0x0107;

struct PhysKey {
  BYTE scan;
  bool extended;
  BYTE vk;           // as reported (for keypad keys: with Num Lock off)
  BYTE numlock_vk;   // keypad keys with Num Lock on; 0 = same as vk
  const char *name;  // GetKeyNameText
};

// Every key of a 101/102-key PC keyboard.
const PhysKey kKeys[] = {
    {0x01, false, VK_ESCAPE, 0, "Esc"},
    {0x02, false, '1', 0, "1"},
    {0x03, false, '2', 0, "2"},
    {0x04, false, '3', 0, "3"},
    {0x05, false, '4', 0, "4"},
    {0x06, false, '5', 0, "5"},
    {0x07, false, '6', 0, "6"},
    {0x08, false, '7', 0, "7"},
    {0x09, false, '8', 0, "8"},
    {0x0A, false, '9', 0, "9"},
    {0x0B, false, '0', 0, "0"},
    {0x0C, false, VK_OEM_MINUS, 0, "-"},
    {0x0D, false, VK_OEM_PLUS, 0, "="},
    {0x0E, false, VK_BACK, 0, "Backspace"},
    {0x0F, false, VK_TAB, 0, "Tab"},
    {0x10, false, 'Q', 0, "Q"},
    {0x11, false, 'W', 0, "W"},
    {0x12, false, 'E', 0, "E"},
    {0x13, false, 'R', 0, "R"},
    {0x14, false, 'T', 0, "T"},
    {0x15, false, 'Y', 0, "Y"},
    {0x16, false, 'U', 0, "U"},
    {0x17, false, 'I', 0, "I"},
    {0x18, false, 'O', 0, "O"},
    {0x19, false, 'P', 0, "P"},
    {0x1A, false, VK_OEM_4, 0, "["},
    {0x1B, false, VK_OEM_6, 0, "]"},
    {0x1C, false, VK_RETURN, 0, "Enter"},
    {0x1D, false, VK_CONTROL, 0, "Ctrl"},
    {0x1E, false, 'A', 0, "A"},
    {0x1F, false, 'S', 0, "S"},
    {0x20, false, 'D', 0, "D"},
    {0x21, false, 'F', 0, "F"},
    {0x22, false, 'G', 0, "G"},
    {0x23, false, 'H', 0, "H"},
    {0x24, false, 'J', 0, "J"},
    {0x25, false, 'K', 0, "K"},
    {0x26, false, 'L', 0, "L"},
    {0x27, false, VK_OEM_1, 0, ";"},
    {0x28, false, VK_OEM_7, 0, "'"},
    {0x29, false, VK_OEM_3, 0, "`"},
    {0x2A, false, VK_SHIFT, 0, "Shift"},
    {0x2B, false, VK_OEM_5, 0, "\\"},
    {0x2C, false, 'Z', 0, "Z"},
    {0x2D, false, 'X', 0, "X"},
    {0x2E, false, 'C', 0, "C"},
    {0x2F, false, 'V', 0, "V"},
    {0x30, false, 'B', 0, "B"},
    {0x31, false, 'N', 0, "N"},
    {0x32, false, 'M', 0, "M"},
    {0x33, false, VK_OEM_COMMA, 0, ","},
    {0x34, false, VK_OEM_PERIOD, 0, "."},
    {0x35, false, VK_OEM_2, 0, "/"},
    {0x36, false, VK_SHIFT, 0, "Right Shift"},
    {0x37, false, VK_MULTIPLY, 0, "Num *"},
    {0x38, false, VK_MENU, 0, "Alt"},
    {0x39, false, VK_SPACE, 0, "Space"},
    {0x3A, false, VK_CAPITAL, 0, "Caps Lock"},
    {0x3B, false, VK_F1, 0, "F1"},
    {0x3C, false, VK_F2, 0, "F2"},
    {0x3D, false, VK_F3, 0, "F3"},
    {0x3E, false, VK_F4, 0, "F4"},
    {0x3F, false, VK_F5, 0, "F5"},
    {0x40, false, VK_F6, 0, "F6"},
    {0x41, false, VK_F7, 0, "F7"},
    {0x42, false, VK_F8, 0, "F8"},
    {0x43, false, VK_F9, 0, "F9"},
    {0x44, false, VK_F10, 0, "F10"},
    {0x45, true, VK_NUMLOCK, 0, "Num Lock"},
    {0x45, false, VK_PAUSE, 0, "Pause"},
    {0x46, false, VK_SCROLL, 0, "Scroll Lock"},
    {0x46, true, VK_CANCEL, 0, "Break"},
    // The keypad reports navigation keys while Num Lock is off, digits while it is on.
    {0x47, false, VK_HOME, VK_NUMPAD7, "Num 7"},
    {0x48, false, VK_UP, VK_NUMPAD8, "Num 8"},
    {0x49, false, VK_PRIOR, VK_NUMPAD9, "Num 9"},
    {0x4A, false, VK_SUBTRACT, 0, "Num -"},
    {0x4B, false, VK_LEFT, VK_NUMPAD4, "Num 4"},
    {0x4C, false, VK_CLEAR, VK_NUMPAD5, "Num 5"},
    {0x4D, false, VK_RIGHT, VK_NUMPAD6, "Num 6"},
    {0x4E, false, VK_ADD, 0, "Num +"},
    {0x4F, false, VK_END, VK_NUMPAD1, "Num 1"},
    {0x50, false, VK_DOWN, VK_NUMPAD2, "Num 2"},
    {0x51, false, VK_NEXT, VK_NUMPAD3, "Num 3"},
    {0x52, false, VK_INSERT, VK_NUMPAD0, "Num 0"},
    {0x53, false, VK_DELETE, VK_DECIMAL, "Num Del"},
    {0x56, false, VK_OEM_102, 0, "\\"},
    {0x57, false, VK_F11, 0, "F11"},
    {0x58, false, VK_F12, 0, "F12"},
    // Extended keys.
    {0x1C, true, VK_RETURN, 0, "Num Enter"},
    {0x1D, true, VK_CONTROL, 0, "Right Ctrl"},
    {0x35, true, VK_DIVIDE, 0, "Num /"},
    {0x37, true, VK_SNAPSHOT, 0, "Prnt Scrn"},
    {0x38, true, VK_MENU, 0, "Right Alt"},
    {0x47, true, VK_HOME, 0, "Home"},
    {0x48, true, VK_UP, 0, "Up"},
    {0x49, true, VK_PRIOR, 0, "Page Up"},
    {0x4B, true, VK_LEFT, 0, "Left"},
    {0x4D, true, VK_RIGHT, 0, "Right"},
    {0x4F, true, VK_END, 0, "End"},
    {0x50, true, VK_DOWN, 0, "Down"},
    {0x51, true, VK_NEXT, 0, "Page Down"},
    {0x52, true, VK_INSERT, 0, "Insert"},
    {0x53, true, VK_DELETE, 0, "Delete"},
    {0x5B, true, VK_LWIN, 0, "Left Windows"},
    {0x5C, true, VK_RWIN, 0, "Right Windows"},
    {0x5D, true, VK_APPS, 0, "Application"},
};

// Characters of the US layout for the keys that are not letters: unshifted, shifted.
struct CharPair {
  BYTE vk;
  char normal, shifted;
};
const CharPair kUsChars[] = {
    {'1', '1', '!'},           {'2', '2', '@'},         {'3', '3', '#'},          {'4', '4', '$'},
    {'5', '5', '%'},           {'6', '6', '^'},         {'7', '7', '&'},          {'8', '8', '*'},
    {'9', '9', '('},           {'0', '0', ')'},         {VK_OEM_MINUS, '-', '_'}, {VK_OEM_PLUS, '=', '+'},
    {VK_OEM_4, '[', '{'},      {VK_OEM_6, ']', '}'},    {VK_OEM_1, ';', ':'},     {VK_OEM_7, '\'', '"'},
    {VK_OEM_3, '`', '~'},      {VK_OEM_5, '\\', '|'},   {VK_OEM_102, '\\', '|'},  {VK_OEM_COMMA, ',', '<'},
    {VK_OEM_PERIOD, '.', '>'}, {VK_OEM_2, '/', '?'},    {VK_SPACE, ' ', ' '},     {VK_TAB, '\t', '\t'},
    {VK_RETURN, '\r', '\r'},   {VK_BACK, '\b', '\b'},   {VK_ESCAPE, 0x1B, 0x1B},  {VK_MULTIPLY, '*', '*'},
    {VK_ADD, '+', '+'},        {VK_SUBTRACT, '-', '-'}, {VK_DIVIDE, '/', '/'},    {VK_DECIMAL, '.', '.'},
    {VK_CANCEL, 0x03, 0x03},
};

// Dead keys of the US-International layout and what they make of the next letter.
struct DeadKey {
  BYTE vk;
  bool shifted;
  char accent;           // the accent typed alone (dead key then space)
  const char *bases;     // letters it combines with
  const char *combined;  // the results, in Windows-1252
};
const DeadKey kDeadKeys[] = {
    {VK_OEM_7, false, '\'', "aeiouyAEIOUY", "\xE1\xE9\xED\xF3\xFA\xFD\xC1\xC9\xCD\xD3\xDA\xDD"},
    {VK_OEM_7, true, '"', "aeiouyAEIOU", "\xE4\xEB\xEF\xF6\xFC\xFF\xC4\xCB\xCF\xD6\xDC"},
    {VK_OEM_3, false, '`', "aeiouAEIOU", "\xE0\xE8\xEC\xF2\xF9\xC0\xC8\xCC\xD2\xD9"},
    {VK_OEM_3, true, '~', "anoANO", "\xE3\xF1\xF5\xC3\xD1\xD5"},
    {'6', true, '^', "aeiouAEIOU", "\xE2\xEA\xEE\xF4\xFB\xC2\xCA\xCE\xD4\xDB"},
};

struct State {
  std::mutex lock;
  BYTE keys[256] = {};
  const DeadKey *dead = nullptr;  // a dead key waiting for the next character
  bool layout_set = false;
  Layout layout = Layout::US;
  UINT last_down = 0;  // the last key that went down, not an auto-repeat
};

State &S() {
  static State *s = new State;  // lives past static destructors: input may arrive late
  return *s;
}

Layout LayoutLocked(State &s) {
  if (!s.layout_set) {
    const char *env = std::getenv("QX_KEYBOARD_LAYOUT");
    s.layout = env && (std::strcmp(env, "us-intl") == 0 || std::strcmp(env, "us-international") == 0)
                   ? Layout::USInternational
                   : Layout::US;
    s.layout_set = true;
  }
  return s.layout;
}

const PhysKey *FindKey(BYTE scan, bool extended) {
  for (const PhysKey &k : kKeys)
    if (k.scan == scan && k.extended == extended) return &k;
  return nullptr;
}

UINT VkOf(const PhysKey &k, const BYTE *keys) {
  if (k.numlock_vk && (keys[VK_NUMLOCK] & 1)) return k.numlock_vk;
  return k.vk;
}

// Left and right variants of the modifiers, and the generic key as their union.
void SetModifier(BYTE *keys, UINT vk, bool extended, bool down, BYTE scan) {
  UINT side = 0, generic = vk;
  if (vk == VK_SHIFT)
    side = scan == 0x36 ? VK_RSHIFT : VK_LSHIFT;
  else if (vk == VK_CONTROL)
    side = extended ? VK_RCONTROL : VK_LCONTROL;
  else if (vk == VK_MENU)
    side = extended ? VK_RMENU : VK_LMENU;
  if (!side) return;
  keys[side] = down ? (keys[side] | 0x80) : (keys[side] & ~0x80);
  const BYTE l = static_cast<BYTE>(side & ~1u), r = static_cast<BYTE>(side | 1u);
  const bool any = (keys[l] & 0x80) || (keys[r] & 0x80);
  keys[generic] = any ? (keys[generic] | 0x80) : (keys[generic] & ~0x80);
}

// The character a key gives with a key state, before dead keys; 0 = none, -1 = no key.
int BaseChar(UINT vk, const BYTE *keys, bool &is_dead_candidate) {
  const bool shift = keys[VK_SHIFT] & 0x80, ctrl = keys[VK_CONTROL] & 0x80, alt = keys[VK_MENU] & 0x80;
  const bool caps = keys[VK_CAPITAL] & 1;
  is_dead_candidate = false;
  if (ctrl && alt) return 0;  // no AltGr characters on these layouts
  if (vk >= 'A' && vk <= 'Z') {
    if (ctrl) return static_cast<int>(vk - 'A' + 1);
    return (shift != caps) ? static_cast<int>(vk) : static_cast<int>(vk - 'A' + 'a');
  }
  if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9) return ctrl ? 0 : static_cast<int>('0' + vk - VK_NUMPAD0);
  for (const CharPair &p : kUsChars) {
    if (p.vk != vk) continue;
    const char c = shift ? p.shifted : p.normal;
    if (ctrl) {
      switch (c) {
        case '[':
        case '{': return 0x1B;
        case '\\':
        case '|': return 0x1C;
        case ']':
        case '}': return 0x1D;
        case '^': return 0x1E;
        case '_': return 0x1F;
        case '@': return 0x100;  // NUL, told apart from "no character"
        case '\r': return '\n';
        case '\b': return 0x7F;
        case ' ': return ' ';
        case 0x1B: return 0x1B;
        case 0x03: return 0x03;
        default: return 0;
      }
    }
    is_dead_candidate = true;
    return static_cast<unsigned char>(c);
  }
  return 0;
}

// ToAscii with the dead-key state of the keyboard. Returns the count of
// characters (1 or 2), -1 for a dead key (its accent in out[0]), or 0.
int Translate(State &s, UINT vk, const BYTE *keys, BYTE out[2]) {
  bool candidate = false;
  int c = BaseChar(vk, keys, candidate);
  if (c == 0) return 0;
  if (candidate && LayoutLocked(s) == Layout::USInternational && !(keys[VK_CONTROL] & 0x80)) {
    const bool shift = keys[VK_SHIFT] & 0x80;
    for (const DeadKey &d : kDeadKeys)
      if (d.vk == vk && d.shifted == shift) {
        if (s.dead) {  // two dead keys: both accents typed
          out[0] = static_cast<BYTE>(s.dead->accent);
          out[1] = static_cast<BYTE>(d.accent);
          s.dead = nullptr;
          return 2;
        }
        s.dead = &d;
        out[0] = static_cast<BYTE>(d.accent);
        return -1;
      }
  }
  const BYTE ch = static_cast<BYTE>(c == 0x100 ? 0 : c);
  if (s.dead) {
    const DeadKey *d = s.dead;
    s.dead = nullptr;
    if (ch == ' ') {
      out[0] = static_cast<BYTE>(d->accent);
      return 1;
    }
    if (const char *p = std::strchr(d->bases, static_cast<char>(ch)); p && ch) {
      out[0] = static_cast<BYTE>(d->combined[p - d->bases]);
      return 1;
    }
    out[0] = static_cast<BYTE>(d->accent);
    out[1] = ch;
    return 2;
  }
  out[0] = ch;
  return 1;
}

}  // namespace

void SetLayout(Layout layout) {
  std::lock_guard guard(S().lock);
  S().layout = layout;
  S().layout_set = true;
  S().dead = nullptr;
}

Layout CurrentLayout() {
  std::lock_guard guard(S().lock);
  return LayoutLocked(S());
}

void ResetKeyboard() {
  std::lock_guard guard(S().lock);
  std::memset(S().keys, 0, sizeof S().keys);
  S().dead = nullptr;
  S().last_down = 0;
}

UINT VirtualKeyOf(BYTE scan, bool extended) {
  const PhysKey *k = FindKey(scan, extended);
  if (!k) return 0;
  std::lock_guard guard(S().lock);
  return VkOf(*k, S().keys);
}

KeyMessage PhysicalKey(BYTE scan, bool extended, bool down) {
  const PhysKey *k = FindKey(scan, extended);
  if (!k) return KeyMessage{0, 0, 0};
  State &s = S();
  std::lock_guard guard(s.lock);
  const UINT vk = VkOf(*k, s.keys);
  const bool was_down = s.keys[vk] & 0x80;
  if (down) {
    if (!was_down) s.last_down = vk;
    if (!was_down && (vk == VK_CAPITAL || vk == VK_NUMLOCK || vk == VK_SCROLL)) s.keys[vk] ^= 1;
    s.keys[vk] |= 0x80;
  } else {
    s.keys[vk] &= ~0x80;
  }
  SetModifier(s.keys, vk, extended, down, scan);
  const bool alt = s.keys[VK_MENU] & 0x80, ctrl = s.keys[VK_CONTROL] & 0x80;
  // Alt without Ctrl makes system keys; so do F10 and the release of Alt itself.
  const bool sys = (alt && !ctrl) || vk == VK_F10 || (vk == VK_MENU && !down && !ctrl);
  LPARAM lp = 1 | (static_cast<LPARAM>(scan) << 16);
  if (extended) lp |= 1L << 24;
  if (alt) lp |= 1L << 29;
  if (was_down || !down) lp |= 1L << 30;
  if (!down) lp |= static_cast<LPARAM>(1UL << 31);
  lp &= 0xFFFFFFFF;
  const UINT msg = down ? (sys ? kWmSysKeyDown : kWmKeyDown) : (sys ? kWmSysKeyUp : kWmKeyUp);
  return KeyMessage{msg, vk, lp};
}

bool KeyForChar(unsigned char c, BYTE &scan, bool &extended, int &shift_state) {
  const SHORT r = VkKeyScanA(static_cast<CHAR>(c));
  if (r == -1) return false;
  const BYTE vk = LOBYTE(r);
  shift_state = HIBYTE(r);
  for (const PhysKey &k : kKeys)
    if (k.vk == vk && !k.numlock_vk) {
      scan = k.scan;
      extended = k.extended;
      return true;
    }
  return false;
}

std::vector<KeyMessage> CharsFor(const MSG &key) {
  std::vector<KeyMessage> out;
  if (key.message != kWmKeyDown && key.message != kWmSysKeyDown) return out;
  State &s = S();
  std::lock_guard guard(s.lock);
  BYTE chars[2];
  const int n = Translate(s, static_cast<UINT>(key.wParam), s.keys, chars);
  const bool sys = key.message == kWmSysKeyDown;
  if (n < 0) out.push_back(KeyMessage{sys ? kWmSysDeadChar : kWmDeadChar, chars[0], key.lParam});
  for (int i = 0; i < n; ++i) out.push_back(KeyMessage{sys ? kWmSysChar : kWmChar, chars[i], key.lParam});
  return out;
}

}  // namespace qx::input

UINT qx::display::LastKeyDown() {
  std::lock_guard guard(qx::input::S().lock);
  return qx::input::S().last_down;
}

using namespace qx::input;

extern "C" {

SHORT WINAPI GetKeyState(int vk) {
  if (vk < 0 || vk > 255) return 0;
  std::lock_guard guard(S().lock);
  const BYTE k = S().keys[vk];
  return static_cast<SHORT>(((k & 0x80) ? 0xFF80 : 0) | (k & 1));
}

SHORT WINAPI GetAsyncKeyState(int vk) {
  if (vk < 0 || vk > 255) return 0;
  std::lock_guard guard(S().lock);
  return static_cast<SHORT>((S().keys[vk] & 0x80) ? 0x8000 : 0);
}

BOOL WINAPI GetKeyboardState(PBYTE out) {
  if (!out) return FALSE;
  std::lock_guard guard(S().lock);
  std::memcpy(out, S().keys, 256);
  return TRUE;
}

BOOL WINAPI SetKeyboardState(LPBYTE in) {
  if (!in) return FALSE;
  std::lock_guard guard(S().lock);
  std::memcpy(S().keys, in, 256);
  return TRUE;
}

int WINAPI ToAscii(UINT vk, UINT scan, const BYTE *keys, LPWORD out, UINT) {
  if (!keys || !out || (scan & 0x8000) || vk > 255) return 0;  // key releases give nothing
  State &s = S();
  std::lock_guard guard(s.lock);
  BYTE chars[2] = {0, 0};
  const int n = Translate(s, vk, keys, chars);
  if (n == 0) return 0;
  *out = static_cast<WORD>(n == 2 ? chars[0] | (chars[1] << 8) : chars[0]);
  return n;
}

UINT WINAPI MapVirtualKeyA(UINT code, UINT type) {
  switch (type) {
    case MAPVK_VK_TO_VSC:
      if (code == VK_LSHIFT || code == VK_SHIFT) return 0x2A;
      if (code == VK_RSHIFT) return 0x36;
      if (code == VK_LCONTROL) return 0x1D;
      if (code == VK_LMENU) return 0x38;
      for (const PhysKey &k : kKeys)
        if (!k.extended && (k.vk == code || k.numlock_vk == code)) return k.scan;
      for (const PhysKey &k : kKeys)
        if (k.vk == code) return k.scan;
      return 0;
    case MAPVK_VSC_TO_VK:
    case MAPVK_VSC_TO_VK_EX: {
      const PhysKey *k = FindKey(static_cast<BYTE>(code), false);
      if (!k) return 0;
      if (type == MAPVK_VSC_TO_VK_EX) {
        if (code == 0x2A) return VK_LSHIFT;
        if (code == 0x36) return VK_RSHIFT;
        if (code == 0x1D) return VK_LCONTROL;
        if (code == 0x38) return VK_LMENU;
      }
      return k->vk;
    }
    case MAPVK_VK_TO_CHAR: {
      if (code >= 'A' && code <= 'Z') return code;
      if (code >= VK_NUMPAD0 && code <= VK_NUMPAD9) return '0' + code - VK_NUMPAD0;
      for (const CharPair &p : kUsChars)
        if (p.vk == code) {
          // A dead key is marked with the top bit, as on Windows.
          if (CurrentLayout() == Layout::USInternational)
            for (const DeadKey &d : kDeadKeys)
              if (d.vk == code && !d.shifted) return 0x80000000u | static_cast<unsigned char>(p.normal);
          return static_cast<unsigned char>(p.normal);
        }
      return 0;
    }
    default: return 0;
  }
}

SHORT WINAPI VkKeyScanA(CHAR ch) {
  const unsigned char c = static_cast<unsigned char>(ch);
  if (c >= 'a' && c <= 'z') return static_cast<SHORT>(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return static_cast<SHORT>(0x100 | c);
  if (c >= 1 && c <= 26 && c != '\t' && c != '\r' && c != '\b') return static_cast<SHORT>(0x200 | (c - 1 + 'A'));
  for (const CharPair &p : kUsChars) {
    if (p.vk >= VK_MULTIPLY && p.vk <= VK_DIVIDE) continue;  // prefer the main block to the keypad
    if (static_cast<unsigned char>(p.normal) == c) return static_cast<SHORT>(p.vk);
    if (static_cast<unsigned char>(p.shifted) == c) return static_cast<SHORT>(0x100 | p.vk);
  }
  return -1;
}

int WINAPI GetKeyNameTextA(LONG lparam, LPSTR out, int size) {
  if (!out || size <= 0) return 0;
  const PhysKey *k = FindKey(static_cast<BYTE>((lparam >> 16) & 0xFF), (lparam >> 24) & 1);
  if (!k) {
    out[0] = 0;
    return 0;
  }
  const int n = std::min<int>(static_cast<int>(std::strlen(k->name)), size - 1);
  std::memcpy(out, k->name, static_cast<size_t>(n));
  out[n] = 0;
  return n;
}

UINT WINAPI GetKBCodePage(void) { return 437; }

int WINAPI GetKeyboardType(int which) {
  switch (which) {
    case 0: return 4;  // enhanced 101/102-key keyboard
    case 1: return 0;
    case 2: return 12;  // function keys
    default: return 0;
  }
}

}  // extern "C"
