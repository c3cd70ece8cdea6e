// Builds key-map images: key entries, shared strings, variant triples, patch
// lists and hot keys, in the layout keymap.h describes. The built-in VT220 map
// and the shipped 3270 map (IBM.KEY) are both written with it.
#ifndef QX_TERMINAL_CLIENT_KEYMAP_IMAGE_H
#define QX_TERMINAL_CLIENT_KEYMAP_IMAGE_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "keymap.h"

namespace keymap_image {

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

// The hot keys of the suite's maps: Alt+X exit, Ctrl+F5 freeze, F5 with
// setupVariant Set-Up, Alt+L logging, Alt+P print screen, Alt+D a shell,
// Alt+S switch session, Alt+N new session, Alt+C compose.
inline void HotKeys(ImageBuilder &b, int setupVariant) {
  b.HotKey(HOTKEY_EXIT, V2, 45);
  b.HotKey(HOTKEY_FREEZE, V1, 63);
  b.HotKey(HOTKEY_SETUP, static_cast<BYTE>(setupVariant), 63);
  b.HotKey(HOTKEY_LOGGING, V2, 38);
  b.HotKey(HOTKEY_PRINT, V2, 25);
  b.HotKey(HOTKEY_DOS, V2, 32);
  b.HotKey(HOTKEY_SWITCH, V2, 31);
  b.HotKey(HOTKEY_NEW_SESSION, V2, 49);
  b.HotKey(HOTKEY_COMPOSE, V2, 46);
}

// Character keys: key index, plain and shifted characters, Ctrl character
// (the plain one where Ctrl makes no control character).
struct CHAR_KEY {
  int key;
  char plain, shifted, control;
};
inline constexpr CHAR_KEY kCharKeys[] = {
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

}  // namespace keymap_image

#endif
