// The built-in VT220 key map, written out as a key-map image at start-up from
// the table below (docs/terminal-keys.md shows it for people). Keys are
// numbered by their key code - 1 (PC scan codes, extended keys renumbered).
// The image starts in normal cursor keys, numeric keypad and VT220 mode; the
// patch lists hold the other modes' strings.
#include <string>
#include <vector>

#include "keymap.h"
#include "keymap_image.h"
#include "keys.h"

namespace {

using namespace keymap_image;

const std::string ESC = "\x1B";

// Keypad keys with Num Lock on: the numeric character and the final of the
// application sequence (ESC O final, VT52 ESC ? final).
struct KEYPAD_KEY {
  int key;
  const char *numeric;
  char final;
};
const KEYPAD_KEY kKeypad[] = {
    {70, "7", 'w'}, {71, "8", 'x'}, {72, "9", 'y'}, {74, "4", 't'}, {75, "5", 'u'}, {76, "6", 'v'},  {77, ",", 'l'},
    {78, "1", 'q'}, {79, "2", 'r'}, {80, "3", 's'}, {81, "0", 'p'}, {82, ".", 'n'}, {98, "\r", 'M'},
};

// PF1..PF4 on F1..F4, and on Num Lock, keypad /, * and - (the DEC keypad's top row).
struct PF_KEY {
  int key;
  char final;
  bool functionKey;
};
const PF_KEY kPfKeys[] = {
    {58, 'P', true},  {59, 'Q', true},  {60, 'R', true},  {61, 'S', true},
    {68, 'P', false}, {83, 'Q', false}, {54, 'R', false}, {73, 'S', false},
};

// Ctrl+F1..F4 are F11..F14; Shift+F1..F3 are the user-defined F13, F14 and Help.
const char *const kCtrlPf[] = {"23", "24", "25", "26"};
const char *const kShiftPf[] = {"UDK25", "UDK26", "UDK28", ""};

// Keys that send "CSI n ~": the editing keypad (positions of Find, Insert
// Here, Remove, Select, Prev Screen, Next Screen) and F6..F12 with their
// user-defined variants.
struct TILDE_KEY {
  int key;
  const char *number;
  const char *shiftUdk;
  const char *altUdk;
};
const TILDE_KEY kTildeKeys[] = {
    {88, "1", "", ""},
    {89, "2", "", ""},
    {90, "3", "", ""},
    {91, "4", "", ""},
    {92, "5", "", ""},
    {93, "6", "", ""},
    {63, "17", "UDK17", "UDK29"},
    {64, "18", "UDK18", "UDK31"},
    {65, "19", "UDK19", "UDK32"},
    {66, "20", "UDK20", "UDK33"},
    {67, "21", "UDK21", "UDK34"},
    {86, "23", "UDK23", ""},
    {87, "24", "UDK24", ""},
};

const struct {
  int key;
  char final;
} kCursorKeys[] = {{94, 'A'}, {95, 'D'}, {96, 'B'}, {97, 'C'}};

std::vector<BYTE> BuildImage() {
  ImageBuilder b;
  b.Language(1);   // North American: no dead keys
  HotKeys(b, V0);  // Set-Up on F5

  b.Simple(0, 0x1B, 0x1B, 0x1B, ESC);
  for (const CHAR_KEY &k : kCharKeys)
    b.Simple(k.key, static_cast<BYTE>(k.plain), static_cast<BYTE>(k.shifted), static_cast<BYTE>(k.control),
             ESC + k.plain);
  b.Simple(13, 0x7F, 0x08, 0x08, ESC + "\x7F");  // Backspace
  b.Simple(14, '\t', '\t', '\t', "");            // Tab
  b.Simple(27, '\r', '\r', '\n', "");            // Return

  std::vector<std::vector<uint16_t>> listA, listB, listC;
  const int kVariants[] = {V0, V4, V1, V2};
  for (const auto &k : kCursorKeys) {
    const std::string normal = ESC + "[" + k.final, vt52 = ESC + k.final, app = ESC + "O" + k.final;
    b.Strings(k.key, normal, normal, normal, normal);
    for (int v : kVariants) listA.push_back({b.Field(k.key, v), b.Str(normal), b.Str(vt52), b.Str(app)});
  }
  for (const KEYPAD_KEY &k : kKeypad) {
    const std::string app = ESC + "O" + k.final, vt52 = ESC + "?" + k.final;
    b.Strings(k.key, k.numeric, k.numeric, k.numeric, k.numeric);
    for (int v : kVariants) listB.push_back({b.Field(k.key, v), b.Str(app), b.Str(vt52), b.Str(k.numeric)});
  }
  for (const PF_KEY &k : kPfKeys) {
    const std::string ansi = ESC + "O" + k.final, vt52 = ESC + k.final;
    if (k.functionKey) {
      const int n = k.final - 'P';
      const std::string ctrl = ESC + "[" + kCtrlPf[n] + "~";
      b.Strings(k.key, ansi, kShiftPf[n], ctrl, "");
      listC.push_back({b.Field(k.key, V0), b.Str(ansi), b.Str(vt52)});
      listC.push_back({b.Field(k.key, V1), b.Str(ctrl), 0});
    } else {
      b.Strings(k.key, ansi, ansi, ansi, ansi);
      for (int v : kVariants) listC.push_back({b.Field(k.key, v), b.Str(ansi), b.Str(vt52)});
    }
  }
  for (const TILDE_KEY &k : kTildeKeys) {
    const std::string seq = ESC + "[" + k.number + "~";
    const bool editing = k.shiftUdk[0] == 0;
    b.Strings(k.key, seq, editing ? seq : k.shiftUdk, editing ? seq : "", editing ? seq : k.altUdk);
    // A VT220 in VT52 mode sends nothing for these keys.
    listC.push_back({b.Field(k.key, V0), b.Str(seq), 0});
    if (editing)
      for (int v : {V4, V1, V2}) listC.push_back({b.Field(k.key, v), b.Str(seq), 0});
  }
  b.List(PATCH_A, listA);
  b.List(PATCH_B, listB);
  b.List(PATCH_C, listC);
  b.List(PATCH_D, {});
  return b.Take();
}

const std::vector<BYTE> &BuiltIn() {
  static const std::vector<BYTE> image = BuildImage();
  return image;
}

}  // namespace

const BYTE *BuiltInKeyMapImage(size_t *size) {
  *size = BuiltIn().size();
  return BuiltIn().data();
}

std::string KeyMapHotKeyName(const TERM_KEYMAP &km, int hotKey) {
  if (hotKey < 1 || hotKey > KEYMAP_HOT_KEYS || km.size < 33) return {};
  const BYTE variant = km.image[1 + 2 * hotKey], code = km.image[2 + 2 * hotKey];
  if (code == 0) return {};
  std::string name;
  if (code >= 59 && code <= 68)
    name = "F" + std::to_string(code - 58);
  else if (code == 87 || code == 88)
    name = "F" + std::to_string(code - 76);
  else if (code == 1)
    name = "Esc";
  else if (code == 57)
    name = "Space";
  else if (BYTE c = TermKeyChar(code, false); c > ' ' && c < 0x7F)
    name = std::string(1, static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c));
  else
    name = "Key " + std::to_string(code);
  switch (variant) {
    case V1: return "Ctrl+" + name;
    case V2: return "Alt+" + name;
    case V4: return "Shift+" + name;
    default: return name;
  }
}
