// The 3270 key map shipped as "IBM.KEY", which "/I" loads: PC keys in the
// layout usual for 3270 emulators, each sending the string the 3270 keyboard
// turns into that key (docs/terminal-keys.md shows the table for people).
// Keys are numbered by their key code - 1, as in the built-in map. The map
// has no patch lists: a 3270 host switches no key modes.
#include <string>
#include <vector>

#include "keymap.h"
#include "keymap_image.h"

namespace {

using namespace keymap_image;

const std::string ESC = "\x1B";

// What the 3270 keyboard reads for each key it knows.
const std::string kEnter = "\r", kNewLine = "\n", kTab = "\t", kBackTab = ESC + "\t";
const std::string kReset = "\x14", kSysReq = "\x13", kClear = ESC + "OM";
const std::string kHome = "\x08", kDelete = "\x7F", kInsert = ESC + "On", kEraseEof = ESC + "\x7F";
const std::string kDup = "\x1C", kFieldMark = "\x1E";
const std::string kPa1 = ESC + "OS", kPa2 = ESC + "Om", kPa3 = ESC + "Ol";
const std::string kUp = ESC + "OA", kDown = ESC + "OB", kRight = ESC + "OC", kLeft = ESC + "OD";

// PF1..PF12 and PF13..PF24 as ESC and a character ("o" for PF21: "O" starts
// the ESC O sequences).
const char kPfLow[] = "1234567890-=";
const char kPfHigh[] = "QWERTYUIoP[]";
std::string Pf(int n) { return ESC + (n <= 12 ? kPfLow[n - 1] : kPfHigh[n - 13]); }

// F1..F10 are keys 58..67, F11 and F12 keys 86 and 87.
int FunctionKey(int n) { return n <= 10 ? 57 + n : 75 + n; }

// Keys that send strings: key index, then plain, Shift, Ctrl and Alt.
struct STRING_KEY {
  int key;
  std::string plain, shift, ctrl, alt;
};

std::vector<STRING_KEY> StringKeys() {
  return {
      {0, kReset, kClear, kSysReq, ""},           // Esc
      {13, kLeft, kLeft, kLeft, ""},              // Backspace
      {14, kTab, kBackTab, kTab, ""},             // Tab
      {27, kEnter, kNewLine, kNewLine, ""},       // Return
      {68, kClear, kClear, kClear, kClear},       // Pause and Num Lock
      {98, kEnter, kEnter, kEnter, kEnter},       // keypad Enter
      {88, kInsert, kDup, kInsert, kPa1},         // Insert
      {89, kHome, kFieldMark, kHome, kPa2},       // Home
      {90, Pf(7), Pf(7), Pf(7), kPa3},            // Page Up
      {91, kDelete, kDelete, kDelete, ""},        // Delete
      {92, kEraseEof, kEraseEof, kEraseEof, ""},  // End
      {93, Pf(8), Pf(8), Pf(8), ""},              // Page Down
      {94, kUp, kUp, kUp, kUp},                   // arrows
      {95, kLeft, kLeft, kLeft, kLeft},
      {96, kDown, kDown, kDown, kDown},
      {97, kRight, kRight, kRight, kRight},
  };
}

// Keypad keys with Num Lock on type what is printed on them.
const struct {
  int key;
  char ch;
} kKeypad[] = {
    {70, '7'}, {71, '8'}, {72, '9'}, {73, '-'}, {74, '4'}, {75, '5'}, {76, '6'},
    {77, '+'}, {78, '1'}, {79, '2'}, {80, '3'}, {81, '0'}, {82, '.'}, {54, '*'},
};

std::vector<BYTE> BuildImage() {
  ImageBuilder b;
  b.Language(1);
  HotKeys(b, V2);  // Set-Up on Alt+F5: F5 is PF5 here

  // Characters as on the VT220 map; Ctrl gives the control characters the
  // 3270 keyboard knows (Ctrl+\ Dup, Ctrl+6 Field Mark, Ctrl+T Reset). Alt on
  // the top two rows is PF1..PF12 and PF13..PF24 (ESC and the character).
  for (const CHAR_KEY &k : kCharKeys) {
    const bool pfRow = (k.key >= 1 && k.key <= 12) || (k.key >= 15 && k.key <= 26);
    b.Simple(k.key, static_cast<BYTE>(k.plain), static_cast<BYTE>(k.shifted), static_cast<BYTE>(k.control),
             pfRow ? ESC + k.plain : "");
  }
  for (const auto &k : kKeypad) b.Simple(k.key, static_cast<BYTE>(k.ch), static_cast<BYTE>(k.ch), 0, "");
  b.Simple(83, '/', '/', 0, "");  // keypad /
  for (const STRING_KEY &k : StringKeys()) b.Strings(k.key, k.plain, k.shift, k.ctrl, k.alt);
  // F1..F12: PF1..PF12, with Shift PF13..PF24; Ctrl+F1..F3 are PA1..PA3.
  const std::string kCtrlF[] = {kPa1, kPa2, kPa3};
  for (int n = 1; n <= 12; ++n) b.Strings(FunctionKey(n), Pf(n), Pf(n + 12), n <= 3 ? kCtrlF[n - 1] : "", "");
  return b.Take();
}

}  // namespace

const BYTE *Ibm3270KeyMapImage(size_t *size) {
  static const std::vector<BYTE> image = BuildImage();
  *size = image.size();
  return image.data();
}
