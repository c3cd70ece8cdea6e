#include "test_media.h"

#include "gifimage.h"
#include "mulaw.h"

namespace gophertest {
namespace {

class StringOutput final : public qxgif::ByteOutput {
 public:
  void Write(const uint8_t *data, size_t size) override { bytes.append(reinterpret_cast<const char *>(data), size); }
  std::string bytes;
};

}  // namespace

int PictureIndexAt(int x, int y) {
  if (x == 0 || y == 0 || x == kPictureW - 1 || y == kPictureH - 1) return 1;
  if (x == y + 12) return 9;
  if (y < kPictureH / 2) return x < kPictureW / 2 ? 2 : 3;
  return x < kPictureW / 2 ? 4 : 5 + (y % 4);
}

std::string TestGif(bool interlaced) {
  qxgif::Bitmap b;
  b.width = kPictureW;
  b.height = kPictureH;
  b.colours = 10;
  for (int i = 0; i < 10; ++i) {
    b.red[i] = static_cast<uint8_t>(kPictureColours[i] >> 16);
    b.green[i] = static_cast<uint8_t>(kPictureColours[i] >> 8);
    b.blue[i] = static_cast<uint8_t>(kPictureColours[i]);
  }
  b.pixels.resize(kPictureW * kPictureH);
  for (int y = 0; y < kPictureH; ++y)
    for (int x = 0; x < kPictureW; ++x) {
      const size_t stored = interlaced ? qxgif::InterlaceRow(y, kPictureH) : y;
      b.pixels[stored * kPictureW + x] = static_cast<uint8_t>(PictureIndexAt(x, y));
    }
  StringOutput out;
  qxgif::EncodeGif(b, out);
  if (interlaced) out.bytes[kGifFlags] = static_cast<char>(out.bytes[kGifFlags] | 0x40);
  return out.bytes;
}

std::string SoundPattern(size_t n, int step) {
  std::string b(n, 0);
  for (size_t i = 1; i < n; ++i) b[i] = static_cast<char>((i * step + (i >> 7)) % 251 + 2);
  return b;
}

std::string SunAudio(uint32_t encoding, uint32_t rate, uint32_t channels, const std::string &data) {
  std::string b = ".snd";
  for (uint32_t v : {32u, static_cast<uint32_t>(data.size()), encoding, rate, channels})
    for (int i = 0; i < 4; ++i) b += static_cast<char>(v >> (24 - 8 * i));
  return b + "gopher!!" + data;
}

std::string MulawPlayed(const std::string &mulaw) {
  std::string out;
  for (char c : mulaw) out += static_cast<char>(attachkit::kMulawExpand[static_cast<uint8_t>(c)]);
  return out;
}

}  // namespace gophertest
