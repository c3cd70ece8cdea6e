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

class Sink final : public KeyMapOutput {
 public:
  void Char(BYTE) override {}
  void String(const BYTE *text, size_t length) override {
    if (length > KEYMAP_MAX_SIZE + 64) __builtin_trap();  // longer than any map's string
    volatile BYTE sum = 0;
    for (size_t i = 0; i < length; ++i) sum = static_cast<BYTE>(sum + text[i]);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static TERM_KEYMAP km;  // large: kept out of the stack
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
      for (int variant = 0; variant < 8; ++variant) KeyMapSendKey(km, key, variant, s, out);
  }
  for (int k = 1; k <= KEYMAP_HOT_KEYS; ++k) KeyMapHotKeyName(km, k);
  return 0;
}
