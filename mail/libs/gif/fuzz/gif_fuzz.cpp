// Any bytes to the GIF reader (open, decode, write back as a bitmap) and, read
// as a bitmap file, to the GIF encoder. Nothing may read or write outside its
// buffers or tables, whatever the bytes.
#include <cstddef>
#include <cstdint>

#include "gifimage.h"

namespace {

class Discard final : public qxgif::ByteOutput {
 public:
  void Write(const uint8_t *, size_t size) override { total += size; }
  size_t total = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Pictures above a million pixels are opened but not decoded, so the
  // fuzzer spends its time on many inputs rather than a few large ones.
  constexpr size_t kDecodeLimit = 1u << 20;
  qxgif::Picture picture;
  qxgif::MemoryInput in(data, size);
  qxgif::Decoder decoder(in);
  if (decoder.Open(picture) == qxgif::OpenError::kNone && picture.pixels.size() <= kDecodeLimit) {
    decoder.DecodePixels(picture);
    const auto bmp = qxgif::WriteBmp(picture);
    if (bmp.size() < 54) __builtin_trap();
  }
  qxgif::MemoryBytes file(data, size);
  qxgif::Bitmap bitmap;
  if (qxgif::ReadBitmap(file, size, bitmap) == qxgif::EncodeResult::kEncoded && bitmap.pixels.size() <= kDecodeLimit) {
    Discard out;
    qxgif::EncodeGif(bitmap, out);
  }
  return 0;
}
