// The picture and sounds the gopher client's tests serve. The picture is 64
// x 40 pixels in 10 colours (indexes 0..9), four quadrants, a dark frame and
// a diagonal, so that a row out of place or a colour off shows; it is made
// with the shared GIF encoder.
#ifndef QX_GOPHER_TESTS_TEST_MEDIA_H
#define QX_GOPHER_TESTS_TEST_MEDIA_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace gophertest {

constexpr int kPictureW = 64, kPictureH = 40;
constexpr uint32_t kPictureColours[10] = {0xFFFFFF, 0x000000, 0xD02020, 0x20A020, 0x2040D0,
                                          0xE0C000, 0x00A0A0, 0xA000A0, 0x808080, 0xFF8000};
// The colour index of a pixel.
int PictureIndexAt(int x, int y);
// The colour (0xRRGGBB) of a pixel.
inline uint32_t PictureColourAt(int x, int y) { return kPictureColours[PictureIndexAt(x, y)]; }

// Where the encoder puts the image descriptor: after the 13-byte header and
// the 256-entry global table; its flags and the LZW code size follow it.
constexpr size_t kGifDescriptor = 13 + 768;
constexpr size_t kGifFlags = kGifDescriptor + 9, kGifCodeSize = kGifDescriptor + 10;

// The picture as a GIF; interlaced stores its rows in the four passes.
std::string TestGif(bool interlaced);

// n bytes of a pattern far from silence and never constant for long. It
// starts with a NUL, so that a server sends it as binary data, unchanged.
std::string SoundPattern(size_t n, int step);
// Sun audio with an 8-byte annotation (data at 32, not the usual 28).
std::string SunAudio(uint32_t encoding, uint32_t rate, uint32_t channels, const std::string &data);
// What 8-bit mu-law bytes play as: unsigned 8-bit samples.
std::string MulawPlayed(const std::string &mulaw);

}  // namespace gophertest

#endif
