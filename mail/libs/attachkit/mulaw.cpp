// The mu-law tables (see mulaw.h).
#include "mulaw.h"

namespace attachkit {

int16_t MulawToLinear(uint8_t u) {
  const uint8_t v = static_cast<uint8_t>(~u);
  const int exponent = (v >> 4) & 7;
  const int mantissa = v & 0x0F;
  const int magnitude = (((mantissa << 3) + 0x84) << exponent) - 0x84;
  return static_cast<int16_t>((v & 0x80) ? -magnitude : magnitude);
}

namespace {

constexpr std::array<uint8_t, 256> BuildExpansion() {
  std::array<uint8_t, 256> table{};
  for (int u = 0; u < 256; ++u) {
    const uint8_t v = static_cast<uint8_t>(~u);
    const int exponent = (v >> 4) & 7;
    const int mantissa = v & 0x0F;
    const int magnitude = (((mantissa << 3) + 0x84) << exponent) - 0x84;
    const int linear = (v & 0x80) ? -magnitude : magnitude;
    // An arithmetic shift: negative values round towards minus infinity.
    const int high = linear >= 0 ? linear / 256 : -((-linear + 255) / 256);
    table[u] = static_cast<uint8_t>(high + 128);
  }
  return table;
}

}  // namespace

const std::array<uint8_t, 256> kMulawExpand = BuildExpansion();

// By rows of 16 samples.
const std::array<uint8_t, 256> kMulawCompress = {
    0,   0,   0,   0,   1,   1,   1,   1,   2,   2,   2,   2,   3,   3,   3,   3,   4,   4,   4,   4,   5,   5,
    5,   5,   6,   6,   6,   6,   7,   7,   7,   7,   8,   8,   8,   8,   9,   9,   9,   9,   10,  10,  10,  10,
    11,  11,  11,  11,  12,  12,  12,  12,  13,  13,  13,  13,  14,  14,  14,  14,  15,  15,  15,  15,  16,  16,
    17,  17,  18,  18,  19,  19,  20,  20,  21,  21,  22,  22,  23,  23,  24,  24,  25,  25,  26,  26,  27,  27,
    28,  28,  29,  29,  30,  30,  30,  31,  31,  32,  33,  34,  35,  36,  37,  38,  39,  40,  41,  42,  43,  44,
    45,  46,  48,  50,  52,  54,  56,  58,  60,  62,  65,  69,  73,  77,  83,  91,  103, 126, 255, 231, 219, 211,
    205, 201, 197, 193, 190, 188, 186, 184, 182, 180, 178, 176, 174, 173, 172, 171, 170, 169, 168, 167, 166, 165,
    164, 163, 162, 161, 160, 160, 159, 159, 158, 158, 157, 157, 156, 156, 155, 155, 154, 154, 153, 153, 152, 152,
    151, 151, 150, 150, 149, 149, 148, 148, 147, 147, 146, 146, 145, 145, 144, 144, 143, 143, 143, 143, 142, 142,
    142, 142, 141, 141, 141, 141, 140, 140, 140, 140, 139, 139, 139, 139, 138, 138, 138, 138, 137, 137, 137, 137,
    136, 136, 136, 136, 135, 135, 135, 135, 134, 134, 134, 134, 133, 133, 133, 133, 132, 132, 132, 132, 131, 131,
    131, 131, 130, 130, 130, 130, 129, 129, 129, 129, 128, 128, 128, 128,
};

}  // namespace attachkit
