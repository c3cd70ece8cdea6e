// Any bytes to the GIF reader (open, decode, write back as a bitmap) and, read
// as a bitmap file, to the GIF encoder. Nothing may read or write outside its
// buffers or tables, whatever the bytes, and pictures must survive the trips
// the suite makes with them:
// - a decoded GIF written as a bitmap reads back as the same rows of the
//   same colours (the viewers show a GIF through that bitmap);
// - any bitmap encoded as a GIF decodes to the same indexes and colours (the
//   mail client sends a bitmap as a GIF).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "gifimage.h"

namespace {

class Collect final : public qxgif::ByteOutput {
 public:
  void Write(const uint8_t *data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
  std::vector<uint8_t> bytes;
};

// Pictures above a million pixels are opened but not decoded, so the fuzzer
// spends its time on many inputs rather than a few large ones.
constexpr size_t kDecodeLimit = 1u << 20;
// The same for the trips through the encoder, the slower half.
constexpr size_t kTripLimit = 1u << 16;

bool SameColours(const qxgif::Bitmap &b, const qxgif::Picture &p, unsigned count) {
  for (unsigned i = 0; i < count; ++i)
    if (b.red[i] != p.red[i] || b.green[i] != p.green[i] || b.blue[i] != p.blue[i]) return false;
  return true;
}

// The bitmap as a GIF, decoded again: the same size, indexes and colours.
void CheckGifTrip(const qxgif::Bitmap &bitmap) {
  Collect gif;
  qxgif::EncodeGif(bitmap, gif);
  qxgif::Picture back;
  const qxgif::OpenError opened = qxgif::DecodeGif(gif.bytes.data(), gif.bytes.size(), back);
  // A side past what the display holds is a GIF all the same; the reader
  // refuses to show it.
  if (bitmap.width > qxgif::kMaxSide || bitmap.height > qxgif::kMaxSide) {
    if (opened != qxgif::OpenError::kTooLarge) __builtin_trap();
    return;
  }
  if (opened != qxgif::OpenError::kNone) __builtin_trap();
  if (back.width != bitmap.width || back.height != bitmap.height || back.pixels != bitmap.pixels) __builtin_trap();
  if (!SameColours(bitmap, back, bitmap.colours)) __builtin_trap();
}

void FuzzGif(const uint8_t *data, size_t size) {
  qxgif::Picture picture;
  qxgif::MemoryInput in(data, size);
  qxgif::Decoder decoder(in);
  if (decoder.Open(picture) != qxgif::OpenError::kNone || picture.pixels.size() > kDecodeLimit) return;
  decoder.DecodePixels(picture);
  const auto bmp = qxgif::WriteBmp(picture);
  if (bmp.size() < 54) __builtin_trap();
  // The bitmap holds the picture's rows top first, in its palette's colours.
  qxgif::MemoryBytes file(bmp.data(), bmp.size());
  qxgif::Bitmap bitmap;
  if (qxgif::ReadBitmap(file, bmp.size(), bitmap) != qxgif::EncodeResult::kEncoded) __builtin_trap();
  if (bitmap.width != picture.width || bitmap.height != picture.height) __builtin_trap();
  for (size_t r = 0; r < picture.height; ++r)
    if (memcmp(bitmap.pixels.data() + r * picture.width, picture.DisplayRow(r), picture.width) != 0) __builtin_trap();
  if (!SameColours(bitmap, picture, picture.PaletteSize())) __builtin_trap();
  if (picture.pixels.size() <= kTripLimit) CheckGifTrip(bitmap);
}

void FuzzBitmap(const uint8_t *data, size_t size) {
  qxgif::MemoryBytes file(data, size);
  qxgif::Bitmap bitmap;
  if (qxgif::ReadBitmap(file, size, bitmap) != qxgif::EncodeResult::kEncoded || bitmap.pixels.size() > kTripLimit)
    return;
  if (bitmap.pixels.size() != size_t(bitmap.width) * bitmap.height) __builtin_trap();
  CheckGifTrip(bitmap);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzGif(data, size);
  FuzzBitmap(data, size);
  return 0;
}
