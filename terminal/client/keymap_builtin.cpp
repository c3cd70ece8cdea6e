// The built-in VT220 key map, written out as a key-map image at start-up from
// the table below (docs/terminal-keys.md shows it for people). Keys are
// numbered by their key code - 1 (PC scan codes, extended keys renumbered).
// The image starts in normal cursor keys, numeric keypad and VT220 mode; the
// patch lists hold the other modes' strings.
#include <map>
#include <string>
#include <vector>

#include "keymap.h"
#include "keys.h"

namespace {

enum : int { V0 = 0, V1 = 1, V2 = 2, V4 = 4 };  // plain, Ctrl, Alt, Shift

class ImageBuilder {
 public:
  ImageBuilder() : image_(49 + KEYMAP_KEYS * 5, 0) {
    image_[0] = '0';
    image_[1] = '2';
  }

  // Offset of a string in the image (0 for an empty one); equal strings share.
  uint16_t Str(const std::string &text) {
    if (text.empty()) return 0;
    auto found = strings_.find(text);
    if (found != strings_.end()) return found->second;
    const uint16_t at = Here();
    image_.insert(image_.end(), text.begin(), text.end());
    image_.push_back(0);
    strings_[text] = at;
    return at;
  }

  // A key that types characters: plain, shifted, with Ctrl, and a string for Alt.
  void Simple(int key, BYTE plain, BYTE shifted, BYTE control, const std::string &alt) {
    Put(key, plain, static_cast<uint16_t>(shifted | (control << 8)), Str(alt));
  }

  // A key that sends strings: plain, Shift, Ctrl, Alt.
  void Strings(int key, const std::string &v0, const std::string &v4, const std::string &v1, const std::string &v2) {
    const uint16_t s0 = Str(v0), s4 = Str(v4), s1 = Str(v1), s2 = Str(v2);
    const uint16_t triple = Here();
    Word(s4);
    Word(s1);
    Word(s2);
    Put(key, 254, triple, s0);
  }

  // Where the string offset of a string key's variant is kept.
  uint16_t Field(int key, int variant) const {
    const size_t e = 49 + static_cast<size_t>(key) * 5;
    if (variant == V0) return static_cast<uint16_t>(e + 3);
    const uint16_t triple = static_cast<uint16_t>(image_[e + 1] | (image_[e + 2] << 8));
    return static_cast<uint16_t>(triple + (variant == V4 ? 0 : variant == V1 ? 2 : 4));
  }

  // A patch list of records {target, values...}; its offset goes into the header.
  void List(int list, const std::vector<std::vector<uint16_t>> &records) {
    const uint16_t at = Here();
    for (const auto &r : records)
      for (uint16_t w : r) Word(w);
    Word(0);
    SetHeaderWord(41 + 2 * list, at);
  }

  void HotKey(int number, BYTE variant, BYTE keyCode) {
    image_[3 + 2 * (number - 1)] = variant;
    image_[4 + 2 * (number - 1)] = keyCode;
  }
  void Language(BYTE language) { image_[36] = language; }

  std::vector<BYTE> Take() { return std::move(image_); }

 private:
  uint16_t Here() const { return static_cast<uint16_t>(image_.size()); }
  void Word(uint16_t w) {
    image_.push_back(static_cast<BYTE>(w & 0xFF));
    image_.push_back(static_cast<BYTE>(w >> 8));
  }
  void SetHeaderWord(size_t at, uint16_t w) {
    image_[at] = static_cast<BYTE>(w & 0xFF);
    image_[at + 1] = static_cast<BYTE>(w >> 8);
  }
  void Put(int key, BYTE flag, uint16_t a, uint16_t b) {
    const size_t e = 49 + static_cast<size_t>(key) * 5;
    image_[e] = flag;
    SetHeaderWord(e + 1, a);
    SetHeaderWord(e + 3, b);
  }

  std::vector<BYTE> image_;
  std::map<std::string, uint16_t> strings_;
};

const std::string ESC = "\x1B";

// Character keys: key index, plain and shifted characters, Ctrl character
// (the plain one where Ctrl makes no control character).
struct CHAR_KEY {
  int key;
  char plain, shifted, control;
};
const CHAR_KEY kCharKeys[] = {
    {1, '1', '!', '1'},      {2, '2', '@', '\0'},    {3, '3', '#', '\x1B'},  {4, '4', '$', '\x1C'},
    {5, '5', '%', '\x1D'},   {6, '6', '^', '\x1E'},  {7, '7', '&', '\x1F'},  {8, '8', '*', '\x7F'},
    {9, '9', '(', '9'},      {10, '0', ')', '0'},    {11, '-', '_', '\x1F'}, {12, '=', '+', '='},
    {15, 'q', 'Q', '\x11'},  {16, 'w', 'W', '\x17'}, {17, 'e', 'E', '\x05'}, {18, 'r', 'R', '\x12'},
    {19, 't', 'T', '\x14'},  {20, 'y', 'Y', '\x19'}, {21, 'u', 'U', '\x15'}, {22, 'i', 'I', '\x09'},
    {23, 'o', 'O', '\x0F'},  {24, 'p', 'P', '\x10'}, {25, '[', '{', '\x1B'}, {26, ']', '}', '\x1D'},
    {29, 'a', 'A', '\x01'},  {30, 's', 'S', '\x13'}, {31, 'd', 'D', '\x04'}, {32, 'f', 'F', '\x06'},
    {33, 'g', 'G', '\x07'},  {34, 'h', 'H', '\x08'}, {35, 'j', 'J', '\x0A'}, {36, 'k', 'K', '\x0B'},
    {37, 'l', 'L', '\x0C'},  {38, ';', ':', ';'},    {39, '\'', '"', '\''},  {40, '`', '~', '`'},
    {42, '\\', '|', '\x1C'}, {43, 'z', 'Z', '\x1A'}, {44, 'x', 'X', '\x18'}, {45, 'c', 'C', '\x03'},
    {46, 'v', 'V', '\x16'},  {47, 'b', 'B', '\x02'}, {48, 'n', 'N', '\x0E'}, {49, 'm', 'M', '\x0D'},
    {50, ',', '<', ','},     {51, '.', '>', '.'},    {52, '/', '?', '/'},    {56, ' ', ' ', '\0'},
};

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
  b.Language(1);                         // North American: no dead keys
  b.HotKey(HOTKEY_EXIT, V2, 45);         // Alt+X
  b.HotKey(HOTKEY_FREEZE, V1, 63);       // Ctrl+F5
  b.HotKey(HOTKEY_SETUP, V0, 63);        // F5
  b.HotKey(HOTKEY_LOGGING, V2, 38);      // Alt+L
  b.HotKey(HOTKEY_PRINT, V2, 25);        // Alt+P
  b.HotKey(HOTKEY_DOS, V2, 32);          // Alt+D
  b.HotKey(HOTKEY_SWITCH, V2, 31);       // Alt+S
  b.HotKey(HOTKEY_NEW_SESSION, V2, 49);  // Alt+N
  b.HotKey(HOTKEY_COMPOSE, V2, 46);      // Alt+C

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
