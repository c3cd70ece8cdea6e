// GIF pictures without an operating system: the reader (header, colour
// tables, LZW decoding, interlace), the Windows bitmap writer of a decoded
// picture, and the bitmap reader with the LZW encoder that turns a Windows
// bitmap file into a GIF87a stream.
//
// Everything taken from a file is bounded before it is used: the picture's
// size against the same limits the display layer puts on bitmaps (so a
// picture that could not be shown is refused, never allocated), every code
// against the LZW tables, every run of a compressed bitmap against its row.
// Damaged data decodes to some pixels, never past a buffer.
#ifndef QX_GIF_GIFIMAGE_H
#define QX_GIF_GIFIMAGE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qxgif {

// The largest picture accepted: the display layer's bitmap limits.
inline constexpr uint32_t kMaxSide = 32767;
inline constexpr uint64_t kMaxPixels = 64ull * 1024 * 1024;

// A GIF stream byte by byte; ReadByte gives -1 at the end.
class ByteInput {
 public:
  virtual ~ByteInput() = default;
  virtual int ReadByte() = 0;
};

class MemoryInput final : public ByteInput {
 public:
  MemoryInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  int ReadByte() override { return pos_ < size_ ? data_[pos_++] : -1; }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
};

// Why a stream could not be opened as a picture.
enum class OpenError {
  kNone,
  kNotGif,       // no "GIF" signature, or the screen descriptor is cut short
  kNoImage,      // the stream ends before an image descriptor
  kShortHeader,  // the image descriptor or a colour table is cut short
  kBadCodeSize,  // LZW minimum code size outside 2 to 11
  kBadSize,      // width or height 0
  kTooLarge,     // beyond kMaxSide or kMaxPixels
  kNoMemory,
};
const char *DescribeOpenError(OpenError e);

// One decoded picture: the first image of a GIF stream.
struct Picture {
  uint16_t width = 0, height = 0;
  bool interlaced = false;
  std::array<uint8_t, 256> red{}, green{}, blue{};
  // height rows of width palette indexes, in the order of the stream.
  std::vector<uint8_t> pixels;
  // How often each palette index occurs.
  std::array<uint32_t, 256> uses{};

  // One more than the highest index that occurs (at least 1): the size of the
  // palette the picture is shown with.
  unsigned PaletteSize() const;
  // The stored row shown as display row r (top first).
  size_t StoredRow(size_t r) const;
  const uint8_t *DisplayRow(size_t r) const { return pixels.data() + StoredRow(r) * width; }
};

// The stored row an interlaced picture of height h shows as display row r.
size_t InterlaceRow(size_t r, size_t h);

// Parses a stream up to the first image's pixel data; the Picture then holds
// the size, the colour table and room for the pixels. DecodePixels reads the
// rest. A decoder lives as long as its input is read.
class Decoder {
 public:
  explicit Decoder(ByteInput &in) : in_(in) {}
  OpenError Open(Picture &picture);
  // Decodes every row in stream order and counts each index's uses. Data that
  // ends early or is corrupt leaves the remaining pixels 0.
  void DecodePixels(Picture &picture);

 private:
  int ReadCode();
  int NextPixel();
  void Reset();
  void SkipSubBlocks();
  bool SkipToEnd();

  ByteInput &in_;
  int minCodeSize_ = 0;
  // Code reader: bits taken low first from the data sub-blocks.
  uint32_t bitBuffer_ = 0;
  int bitCount_ = 0;
  int blockLeft_ = 0;
  bool dataEnded_ = false;
  // LZW state.
  std::array<uint16_t, 4096> prefix_{};
  std::array<uint8_t, 4096> suffix_{};
  std::array<uint8_t, 4097> stack_{};
  size_t stackTop_ = 0;
  int clearCode_ = 0, endCode_ = 0, nextFree_ = 0, codeWidth_ = 0, limit_ = 0;
  int previous_ = -1, firstChar_ = 0;
  bool ended_ = false;
};

// Opens and decodes a whole GIF held in memory (tests, the fuzz target).
OpenError DecodeGif(const uint8_t *data, size_t size, Picture &picture);

// The picture as a Windows bitmap file: 8 bits per pixel, PaletteSize()
// colours, rows bottom-up padded to 4 bytes.
std::vector<uint8_t> WriteBmp(const Picture &picture);

// Where the encoder's GIF bytes go.
class ByteOutput {
 public:
  virtual ~ByteOutput() = default;
  virtual void Write(const uint8_t *data, size_t size) = 0;
};

// A bitmap file read at positions; ReadAt returns the count (0 at the end) or
// -1 on an error.
class FileBytes {
 public:
  virtual ~FileBytes() = default;
  virtual long long ReadAt(uint64_t offset, uint8_t *buffer, size_t size) = 0;
};

class MemoryBytes final : public FileBytes {
 public:
  MemoryBytes(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  long long ReadAt(uint64_t offset, uint8_t *buffer, size_t size) override;

 private:
  const uint8_t *data_;
  size_t size_;
};

enum class EncodeResult {
  kEncoded = 0,
  kNotBitmap = 1,     // no "BM", or a header too short or of a form not known
  kCannotEncode = 2,  // more than 8 bits per pixel, or a size or depth that cannot be a GIF
};

// A Windows bitmap unpacked to one palette index per pixel, top row first.
struct Bitmap {
  uint32_t width = 0, height = 0;
  unsigned colours = 0;
  std::array<uint8_t, 256> red{}, green{}, blue{};
  std::vector<uint8_t> pixels;
};

// Reads a bitmap file of fileSize bytes: 1, 4 or 8 bits per pixel, plain or
// run-length encoded, rows bottom-up or top-down.
EncodeResult ReadBitmap(FileBytes &file, uint64_t fileSize, Bitmap &bitmap);

// Writes the bitmap as a GIF87a stream with a 256-entry colour table.
void EncodeGif(const Bitmap &bitmap, ByteOutput &out);

// Both steps; nothing is written unless the result is kEncoded.
EncodeResult EncodeBitmapFile(FileBytes &file, uint64_t fileSize, ByteOutput &out);

}  // namespace qxgif

#endif
