// Fuzz target of the key-map reader: any bytes as a .KEY file load or are
// refused for the built-in map, and every key in every variant, under every
// cursor-key, keypad and keyboard mode the host can set (patch lists applied
// in turn), sends only bytes of the map or of a user-defined key.
#include <cstddef>
#include <cstdint>
#include <string>

#include "keymap.h"
#include "vt_core.h"

namespace {

TERM_KEYMAP g_km;  // large: kept out of the stack

// Every string sent lies within the map's bytes (a string of the map) or is a
// user-defined key's text, Return's CR LF or, for variant 7, the key's own
// code; anything else was read from outside the map.
class Sink final : public KeyMapOutput {
 public:
  int key = 0, variant = 0;  // the key being sent
  void Char(BYTE) override {}
  void String(const BYTE *text, size_t length) override {
    if (text >= g_km.image && text + length <= g_km.image + g_km.size) return;
    for (int i = 0; i < g_km.udkCount; ++i)
      if (text == reinterpret_cast<const BYTE *>(g_km.udk[i].text.data()) && length == g_km.udk[i].text.size()) return;
    if (length == 2 && text[0] == '\r' && text[1] == '\n') return;
    if (variant == 7 && length == 1 && text[0] == static_cast<BYTE>(key + 1)) return;
    __builtin_trap();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  TERM_KEYMAP &km = g_km;
  std::string error;
  KeyMapLoadImage(km, data, size, size % 2 == 0, &error);
  const BYTE udk[] = {'u', 'd', 'k'};
  for (int key = 1; key < 0x40; ++key) KeyMapDefineUserKey(km, key, udk, sizeof udk);
  TERM_SETUP s = SetupFactoryRecord();
  Sink out;
  for (int mode = 0; mode < 8; ++mode) {
    s.ansiMode = mode & 1;
    s.keypadApp = (mode >> 1) & 1;
    s.cursorKeysApp = (mode >> 2) & 1;
    s.keyboardMode = mode & 1;
    s.newLineMode = (mode >> 1) & 1;
    KeyMapApplyModes(km, s);
    for (int key = 0; key < KEYMAP_KEYS; ++key)
      for (int variant = 0; variant < 8; ++variant) {
        out.key = key;
        out.variant = variant;
        KeyMapSendKey(km, key, variant, s, out);
      }
  }
  for (int k = 1; k <= KEYMAP_HOT_KEYS; ++k) KeyMapHotKeyName(km, k);
  return 0;
}
