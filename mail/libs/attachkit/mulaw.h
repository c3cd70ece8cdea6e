// The two mu-law tables of the mail sound formats: expansion of a mu-law byte
// to an unsigned 8-bit PCM sample, and compression of such a sample back.
#ifndef QX_ATTACHKIT_MULAW_H
#define QX_ATTACHKIT_MULAW_H

#include <array>
#include <cstdint>

namespace attachkit {

// Entry u: the G.711 mu-law value u expanded to 16-bit linear, shifted right
// by 8 with its sign, plus 128 (entry 0 = 2, 127 = 128, 128 = 253, 255 = 128).
extern const std::array<uint8_t, 256> kMulawExpand;
// Unsigned 8-bit PCM sample to mu-law byte, as recordings and converted wave
// files are sent.
extern const std::array<uint8_t, 256> kMulawCompress;

// The G.711 expansion of one mu-law byte to a 16-bit linear sample.
int16_t MulawToLinear(uint8_t u);

}  // namespace attachkit

#endif
