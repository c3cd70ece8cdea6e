// Loading a key map (every offset checked before it is followed), the patch
// lists, what a key sends, the user-defined keys and the compose filter.
#include "keymap.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "vt_core.h"

namespace {

constexpr size_t kEntries = 49;  // first key entry
constexpr size_t kHeaderEnd = kEntries + KEYMAP_KEYS * 5;
constexpr size_t kListRecord[4] = {8, 8, 6, 6};
const char kDefaultName[] = "VT220AT.KEY";

uint16_t Word(const TERM_KEYMAP &km, size_t at) {
  return at + 1 < km.size ? static_cast<uint16_t>(km.image[at] | (km.image[at + 1] << 8)) : 0;
}

void SetWord(TERM_KEYMAP &km, size_t at, uint16_t value) {
  if (at + 1 >= km.size) return;
  km.image[at] = static_cast<BYTE>(value & 0xFF);
  km.image[at + 1] = static_cast<BYTE>(value >> 8);
}

size_t Entry(int key) { return kEntries + static_cast<size_t>(key) * 5; }
bool IsStringKey(const TERM_KEYMAP &km, int key) { return km.image[Entry(key)] > 253; }

// ---------------------------------------------------------------- validation
// A string offset is none (0, 0xFFFF) or a string that ends inside the image
// behind the key entries.
bool StringOffsetValid(const BYTE *image, size_t size, uint16_t offset) {
  if (offset == 0 || offset == 0xFFFF) return true;
  if (offset < kHeaderEnd || offset >= size) return false;
  return std::memchr(image + offset, 0, size - offset) != nullptr;
}

uint16_t ReadWord(const BYTE *image, size_t at) { return static_cast<uint16_t>(image[at] | (image[at + 1] << 8)); }

// Every offset a map holds, checked; the reason when one is bad.
bool ValidateImage(const BYTE *image, size_t size, std::string &why) {
  if (size < kHeaderEnd) {
    why = "it is shorter than its 549-byte header";
    return false;
  }
  for (int key = 0; key < KEYMAP_KEYS; ++key) {
    const size_t e = Entry(key);
    const uint16_t a = ReadWord(image, e + 1), b = ReadWord(image, e + 3);
    bool ok = StringOffsetValid(image, size, b);
    if (ok && image[e] > 253) {
      ok = a >= kHeaderEnd && a + 6u <= size;
      for (int w = 0; ok && w < 3; ++w) ok = StringOffsetValid(image, size, ReadWord(image, a + 2u * w));
    }
    if (!ok) {
      why = "key " + std::to_string(key) + " points outside the file";
      return false;
    }
  }
  for (int list = 0; list < 4; ++list) {
    size_t at = ReadWord(image, 41 + 2u * list);
    if (at == 0) continue;
    for (;;) {
      if (at < kHeaderEnd || at + 2 > size) {
        why = std::string("patch list ") + static_cast<char>('A' + list) + " runs outside the file";
        return false;
      }
      const uint16_t target = ReadWord(image, at);
      if (target == 0) break;
      bool ok = at + kListRecord[list] <= size && target >= kEntries && target + 2u <= size;
      for (size_t v = 1; ok && v < kListRecord[list] / 2; ++v)
        ok = StringOffsetValid(image, size, ReadWord(image, at + 2 * v));
      if (!ok) {
        why = std::string("patch list ") + static_cast<char>('A' + list) + " points outside the file";
        return false;
      }
      at += kListRecord[list];
    }
  }
  return true;
}

// ---------------------------------------------------------------- user-defined keys
int FindUdk(const TERM_KEYMAP &km, int keyNumber) {
  for (int i = 0; i < km.udkCount; ++i)
    if (km.udk[i].key == keyNumber) return i;
  return -1;
}

// A string field naming "UDK<hex>" becomes -n and declares key n.
void DeclareUdk(TERM_KEYMAP &km, size_t field) {
  const uint16_t offset = Word(km, field);
  if (offset == 0 || offset == 0xFFFF || offset >= km.size) return;
  const char *text = reinterpret_cast<const char *>(km.image + offset);
  if (std::strlen(text) <= 2 || std::strncmp(text, "UDK", 3) != 0) return;
  unsigned n = 0;
  if (ParseHex(text + 3, &n) != 1 || n == 0 || n > 0x7FFF) return;
  if (FindUdk(km, static_cast<int>(n)) < 0) {
    if (km.udkCount >= UDK_MAX) return;  // the name stays an ordinary string
    km.udk[km.udkCount++] = TERM_UDK{static_cast<uint16_t>(n), false, {}};
  }
  SetWord(km, field, static_cast<uint16_t>(-static_cast<int>(n)));
}

void DeclareUserKeys(TERM_KEYMAP &km) {
  for (int key = 0; key < KEYMAP_KEYS; ++key) {
    if (!IsStringKey(km, key)) continue;
    const size_t e = Entry(key);
    const size_t triple = Word(km, e + 1);
    DeclareUdk(km, e + 3);
    DeclareUdk(km, triple + 2);
    DeclareUdk(km, triple + 4);
    DeclareUdk(km, triple);
  }
}

void TakeImage(TERM_KEYMAP &km, const BYTE *data, size_t size, bool backspaceSendsDel) {
  std::memset(km.image, 0, sizeof km.image);
  std::memcpy(km.image, data, size);
  km.size = size;
  KeyMapClearUserKeys(km);
  km.udkCount = 0;
  km.composeState = 0;
  for (int list = 0; list < 4; ++list) km.lists[list] = Word(km, 41 + 2 * list);
  DeclareUserKeys(km);
  FixBackspace(km, backspaceSendsDel);
  ++km.loads;
}

// ---------------------------------------------------------------- sending
void SendOffset(TERM_KEYMAP &km, uint16_t offset, const TERM_SETUP &s, KeyMapOutput &out) {
  if (offset == 0 || offset == 0xFFFF) return;
  if (offset & 0x8000) {
    const int i = FindUdk(km, -static_cast<int16_t>(offset));
    if (i >= 0 && km.udk[i].defined && !km.udk[i].text.empty())
      out.String(reinterpret_cast<const BYTE *>(km.udk[i].text.data()), km.udk[i].text.size());
    return;
  }
  if (offset >= km.size) return;
  const BYTE *text = km.image + offset;
  const size_t length = strnlen(reinterpret_cast<const char *>(text), km.size - offset);
  static const BYTE kCrLf[] = {'\r', '\n'};
  if (length == 1 && text[0] == '\r' && s.newLineMode)
    out.String(kCrLf, 2);  // Return in new-line mode, also on the keypad
  else if (length)
    out.String(text, length);
}

// ---------------------------------------------------------------- compose
struct COMPOSE_PAIR {
  BYTE a, b, result;
};

// Table 1: this order and case only.
const COMPOSE_PAIR kCompose1[] = {
    {'/', 'U', 0xB5}, {'/', 'u', 0xB5}, {'1', '4', 0xBC}, {'1', '2', 0xBD}, {'A', 'E', 0xC6}, {'a', 'e', 0xE6},
    {'O', 'E', 0xD7}, {'o', 'e', 0xF7}, {'3', '4', 0xBE}, {'i', 'j', 0xB8}, {'f', '-', 0xB4},
};

// Table 2: either order, this case. A letter with its marks and results.
struct COMPOSE_LETTER {
  BYTE letter;
  const char *marks;
  const char *results;
};
const COMPOSE_LETTER kComposeLetters[] = {
    {'A', "`'^~\"\x80*\xB0", "\xC0\xC1\xC2\xC3\xC4\xC4\xC5\xC5"},
    {'C', ",", "\xC7"},
    {'E', "`'^\"\x80", "\xC8\xC9\xCA\xCB\xCB"},
    {'I', "`'^\"\x80", "\xCC\xCD\xCE\xCF\xCF"},
    {'N', "~", "\xD1"},
    {'O', "`'^~\"\x80/", "\xD2\xD3\xD4\xD5\xD6\xD6\xD8"},
    {'U', "`'^\"\x80", "\xD9\xDA\xDB\xDC\xDC"},
    {'Y', "\"\x80", "\xDD\xDD"},
};
const COMPOSE_PAIR kCompose2Extra[] = {{'s', 's', 0xDF}, {'"', '^', '{'}, {'\'', '\'', '~'}};

// Table 3: either order, letters compared in upper case.
const COMPOSE_PAIR kCompose3[] = {
    {'"', ' ', '"'},  {'+', '+', '#'},  {'\'', ' ', '\''}, {'A', 'A', '@'},  {'(', '(', '['},  {'/', '/', '\\'},
    {'/', '<', '\\'}, {')', ')', ']'},  {'^', ' ', '^'},   {'`', ' ', '`'},  {'(', '-', '{'},  {'/', '^', '|'},
    {')', '-', '}'},  {'~', ' ', '~'},  {'!', '!', 0xA1},  {'C', '/', 0xA2}, {'C', '|', 0xA2}, {'L', '-', 0xA3},
    {'L', '=', 0xA3}, {'Y', '-', 0xA5}, {'Y', '=', 0xA5},  {'S', 'O', 0xA7}, {'S', '!', 0xA7}, {'S', '0', 0xA7},
    {'X', 'O', 0xA8}, {'X', '0', 0xA8}, {'C', 'O', 0xA9},  {'C', '0', 0xA9}, {'A', '_', 0xAA}, {'<', '<', 0xAB},
    {'0', '^', 0xB0}, {'+', '-', 0xB1}, {'2', '^', 0xB2},  {'3', '^', 0xB3}, {'P', '!', 0xB6}, {'.', '^', 0xB7},
    {'1', '^', 0xB9}, {'O', '_', 0xBA}, {'>', '>', 0xBB},  {'?', '?', 0xBF},
};

bool IsDeadKey(BYTE ch) { return ch == 0x80 || ch == 0xB0 || ch == 0x60 || ch == 0x27 || ch == 0x5E || ch == 0x7E; }

BYTE Upper(BYTE c) { return c >= 'a' && c <= 'z' ? static_cast<BYTE>(c - 32) : c; }

bool EitherOrder(const COMPOSE_PAIR &p, BYTE x, BYTE y) { return (p.a == x && p.b == y) || (p.a == y && p.b == x); }

BYTE ComposeTable2(BYTE x, BYTE y) {
  for (const COMPOSE_LETTER &l : kComposeLetters) {
    for (int lower = 0; lower < 2; ++lower) {
      const BYTE letter = lower ? static_cast<BYTE>(l.letter + 32) : l.letter;
      for (size_t i = 0; l.marks[i]; ++i) {
        const COMPOSE_PAIR p{letter, static_cast<BYTE>(l.marks[i]),
                             static_cast<BYTE>(static_cast<BYTE>(l.results[i]) + (lower ? 0x20 : 0))};
        if (EitherOrder(p, x, y)) return p.result;
      }
    }
  }
  for (const COMPOSE_PAIR &p : kCompose2Extra)
    if (EitherOrder(p, x, y)) return p.result;
  return 0;
}

}  // namespace

// ---------------------------------------------------------------- loading
bool KeyMapLoadImage(TERM_KEYMAP &km, const BYTE *data, size_t size, bool backspaceSendsDel, std::string *error) {
  std::string why;
  size = std::min(size, KEYMAP_MAX_SIZE);
  if (size < 2 || data[0] != '0' || data[1] != '2')
    why = "it is not a key map (it does not begin with \"02\")";
  else if (ValidateImage(data, size, why)) {
    TakeImage(km, data, size, backspaceSendsDel);
    return true;
  }
  KeyMapBuiltIn(km);
  FixBackspace(km, backspaceSendsDel);
  if (error) *error = why;
  return false;
}

bool KeyMapLoad(TERM_KEYMAP &km, const char *name, TermFiles *files, bool backspaceSendsDel, std::string *error) {
  const std::string asked = name ? name : "";
  const std::string found = files && !asked.empty() ? files->FindSetupFile(asked.c_str()) : std::string();
  std::string why;
  if (!found.empty()) {
    BYTE data[KEYMAP_MAX_SIZE];
    const long got = files->ReadSetupFile(found, data, sizeof data);
    if (got >= 0 && KeyMapLoadImage(km, data, static_cast<size_t>(got), backspaceSendsDel, &why)) return true;
    if (got < 0) why = "it cannot be read";
  } else {
    KeyMapBuiltIn(km);
    FixBackspace(km, backspaceSendsDel);
    // The built-in map is the VT220 map: asking for it by its name is no failure.
    const std::string base =
        asked.substr(asked.find_last_of("\\/:") == std::string::npos ? 0 : asked.find_last_of("\\/:") + 1);
    if (asked.empty() || strcasecmp(base.c_str(), kDefaultName) == 0) return true;
    why = "no such file was found";
  }
  KeyMapBuiltIn(km);
  FixBackspace(km, backspaceSendsDel);
  if (error) *error = "Key map " + asked + " cannot be loaded: " + why + "; using the built-in VT220 map";
  return false;
}

void KeyMapBuiltIn(TERM_KEYMAP &km) {
  size_t size = 0;
  const BYTE *image = BuiltInKeyMapImage(&size);
  TakeImage(km, image, size, true);
}

void FixBackspace(TERM_KEYMAP &km, bool sendsDel) {
  const size_t e = Entry(13);
  if (km.size < kHeaderEnd || IsStringKey(km, 13)) return;
  if (km.image[e] == 8 || km.image[e] == 127) km.image[e] = sendsDel ? 127 : 8;
}

void ApplyPatchList(TERM_KEYMAP &km, int list, int value) {
  if (list < 0 || list > 3) return;
  const size_t record = kListRecord[list];
  if (value < 1 || static_cast<size_t>(value) >= record / 2) return;
  size_t at = km.lists[list];
  if (at == 0) return;
  // The lists were checked at load; the bounds hold the walk inside anyway.
  while (at + record <= km.size) {
    const uint16_t target = Word(km, at);
    if (target == 0) break;
    SetWord(km, target, Word(km, at + 2 * static_cast<size_t>(value)));
    at += record;
  }
}

void KeyMapApplyCursorKeys(TERM_KEYMAP &km, int mode) { ApplyPatchList(km, PATCH_A, mode); }

void KeyMapApplyKeypad(TERM_KEYMAP &km, int mode) {
  ApplyPatchList(km, PATCH_B, mode);
  ApplyPatchList(km, PATCH_C, mode);
}

void KeyMapApplyKeypadNumeric(TERM_KEYMAP &km) { ApplyPatchList(km, PATCH_B, 3); }

void KeyMapApplySetupKeys(TERM_KEYMAP &km, int value) { ApplyPatchList(km, PATCH_D, value); }

void KeyMapApplyModes(TERM_KEYMAP &km, const TERM_SETUP &s) {
  KeyMapApplyKeypad(km, s.ansiMode ? 1 : 2);
  if (!s.keypadApp) KeyMapApplyKeypadNumeric(km);
  KeyMapApplyCursorKeys(km, !s.ansiMode ? 2 : s.cursorKeysApp ? 3 : 1);
  KeyMapApplySetupKeys(km, s.keyboardMode ? 2 : 1);
  FixBackspace(km, s.backspaceSendsDel != 0);
}

// ---------------------------------------------------------------- keys
void KeyMapSendKey(TERM_KEYMAP &km, int key, int variant, const TERM_SETUP &s, KeyMapOutput &out) {
  if (key < 0 || key >= KEYMAP_KEYS || km.size < kHeaderEnd) return;
  if (variant == 7) {
    const BYTE code = static_cast<BYTE>(key + 1);
    out.String(&code, 1);
    return;
  }
  const size_t e = Entry(key);
  const BYTE flag = km.image[e];
  const uint16_t a = Word(km, e + 1), b = Word(km, e + 3);
  if (flag <= 253) {
    switch (variant) {
      case 0:
        if (flag == '\r' && s.newLineMode) {
          static const BYTE kCrLf[] = {'\r', '\n'};
          out.String(kCrLf, 2);
        } else if (flag) {
          KeyMapChar(km, flag, s, out);
        }
        return;
      case 1:  // Ctrl: may be NUL
        KeyMapChar(km, static_cast<BYTE>(a >> 8), s, out);
        return;
      case 4:
        if (a & 0xFF) KeyMapChar(km, static_cast<BYTE>(a & 0xFF), s, out);
        return;
      case 2: SendOffset(km, b, s, out); return;
      default: return;
    }
  }
  switch (variant) {
    case 0: SendOffset(km, b, s, out); return;
    case 4: SendOffset(km, Word(km, a), s, out); return;
    case 1: SendOffset(km, Word(km, a + 2u), s, out); return;
    case 2: SendOffset(km, Word(km, a + 4u), s, out); return;
    default: return;
  }
}

BYTE ComposePair(BYTE first, BYTE second) {
  for (const COMPOSE_PAIR &p : kCompose1)
    if (p.a == first && p.b == second) return p.result;
  if (BYTE r = ComposeTable2(first, second)) return r;
  const BYTE x = Upper(first), y = Upper(second);
  for (const COMPOSE_PAIR &p : kCompose3)
    if (EitherOrder(p, x, y)) return p.result;
  return 0;
}

void KeyMapChar(TERM_KEYMAP &km, BYTE ch, const TERM_SETUP &s, KeyMapOutput &out) {
  if (km.composeState == 0 && KeyMapLanguage(km) != 1 && IsDeadKey(ch)) {
    km.composeState = ch;
    out.ComposeIndicator(true);
    return;
  }
  if (km.composeState == 255) {
    km.composeState = ch;
    return;
  }
  if (km.composeState != 0) {
    const BYTE first = km.composeState;
    km.composeState = 0;
    out.ComposeIndicator(false);
    ch = ComposePair(first, ch);
    if (!ch) {
      if (s.warningBell) out.Bell();
      return;
    }
  }
  if (ch >= 0x80 && s.nationalMode) ch = NationalKeyChar(s.nationalLanguage, ch);
  out.Char(ch);
}

void KeyMapComposeKey(TERM_KEYMAP &km, KeyMapOutput &out) {
  km.composeState = 255;
  out.ComposeIndicator(true);
}

int KeyMapHotKey(const TERM_KEYMAP &km, BYTE keyCode, BYTE variant) {
  if (keyCode == 0 || km.size < kHeaderEnd) return 0;
  for (int k = 0; k < KEYMAP_HOT_KEYS; ++k)
    if (km.image[3 + 2 * k] == variant && km.image[4 + 2 * k] == keyCode) return k + 1;
  return 0;
}

int KeyMapLanguage(const TERM_KEYMAP &km) { return km.size > 36 ? km.image[36] : 1; }

void KeyMapClearUserKeys(TERM_KEYMAP &km) {
  for (int i = 0; i < km.udkCount; ++i) {
    km.udk[i].defined = false;
    km.udk[i].text.clear();
  }
}

bool KeyMapDefineUserKey(TERM_KEYMAP &km, int keyNumber, const BYTE *data, size_t length) {
  const int i = FindUdk(km, keyNumber);
  if (i < 0) return false;
  km.udk[i].text.assign(reinterpret_cast<const char *>(data), length);
  km.udk[i].defined = true;
  return true;
}
