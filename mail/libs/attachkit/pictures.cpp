// Bitmaps sent as GIF pictures through the GIF library (see present.h); the
// viewer is in viewer.cpp.
#include "gifimage.h"
#include "present.h"

namespace attachkit {
namespace {

class BitmapFile final : public qxgif::FileBytes {
 public:
  explicit BitmapFile(RandomReader &reader) : reader_(reader) {}
  long long ReadAt(uint64_t offset, uint8_t *buffer, size_t size) override {
    return reader_.ReadAt(offset, buffer, size);
  }

 private:
  RandomReader &reader_;
};

class LineOutput final : public qxgif::ByteOutput {
 public:
  explicit LineOutput(Base64LineWriter &lines) : lines_(lines) {}
  void Write(const uint8_t *data, size_t size) override { lines_.Write(data, size); }

 private:
  Base64LineWriter &lines_;
};

}  // namespace

GifEncodeResult EncodeBitmapAsGif(RandomReader &bitmap, uint64_t size, Base64LineWriter &out) {
  BitmapFile file(bitmap);
  LineOutput lines(out);
  switch (qxgif::EncodeBitmapFile(file, size, lines)) {
    case qxgif::EncodeResult::kEncoded: return GifEncodeResult::kEncoded;
    case qxgif::EncodeResult::kNotBitmap: return GifEncodeResult::kNotBitmap;
    case qxgif::EncodeResult::kCannotEncode: break;
  }
  return GifEncodeResult::kTooManyColours;
}

}  // namespace attachkit
