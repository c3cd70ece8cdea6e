// libFuzzer target of the 3270 data stream: the input is a model byte, then
// chunks {kind, length low, length high, bytes}: host bytes collected in the
// 1024-byte record buffer as the session does (kind bit 0: the chunk ends a
// record with IAC EOR), or a keyboard string (kind bit 1). After every chunk
// the engine's indices must lie inside the buffer, and no cell may have been
// written outside the screen and the row below it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tn3270_harness.h"

namespace {

void CheckInvariants(const Tn3270Harness &h) {
  const TN3270_ENGINE &e = h.e;
  const bool sizeSound = e.size > 0 && e.size <= TN_BUFFER_MAX && e.size == e.rows * e.columns;
  const bool inside = e.cursor >= 0 && e.cursor < e.size && e.address >= 0 && e.address < e.size &&
                      e.shownCursor >= 0 && e.shownCursor < e.size && e.keyCount >= 0 &&
                      e.keyCount <= TN_KEY_QUEUE_SIZE && e.outWrite <= TN_OUTPUT_SIZE && e.homeRow >= 0 &&
                      e.margin >= 0 && e.margin < 132;
  if (!sizeSound || !inside || h.cellOutside) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  Tn3270Harness h(2 + data[0] % 4);
  TN3270_RECORD record;
  const Tn3270ParseProc parse = [&h](const BYTE *bytes, int count, int eor) {
    return Tn3270Dispatch(h.e, (void *)bytes, 0, count, 0, TN3270_OP_HOSTDATA << 8 | eor);
  };
  size_t i = 1;
  while (i + 3 <= size) {
    const int kind = data[i];
    size_t length = data[i + 1] | (size_t)data[i + 2] << 8;
    i += 3;
    if (length > size - i) length = size - i;
    if (kind & 2) {
      std::string keys((const char *)data + i, length);
      h.Keys(keys.c_str());
    } else {
      for (size_t k = 0; k < length; ++k) Tn3270RecordByte(record, data[i + k], parse);
      if (kind & 1) Tn3270RecordHand(record, 1, parse);
    }
    i += length;
    CheckInvariants(h);
  }
  return 0;
}
