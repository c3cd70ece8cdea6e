// Windows bitmap files to GIF87a: the bitmap reader (12-byte and 40-byte or
// longer headers, 1, 4 and 8 bits per pixel, RLE8 and RLE4) and the LZW
// encoder with its hashed string table.
#include <algorithm>
#include <cstring>
#include <new>

#include "gifimage.h"

namespace qxgif {

long long MemoryBytes::ReadAt(uint64_t offset, uint8_t *buffer, size_t size) {
  if (offset >= size_) return 0;
  const size_t n = std::min(size, static_cast<size_t>(size_ - offset));
  std::memcpy(buffer, data_ + offset, n);
  return static_cast<long long>(n);
}

namespace {

uint32_t Le32(const uint8_t *b) { return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24); }
uint16_t Le16(const uint8_t *b) { return static_cast<uint16_t>(b[0] | (b[1] << 8)); }

// Reads exactly size bytes at offset in pieces of at most 16 KB; the count
// read (short at the end of the file or on an error).
size_t ReadFully(FileBytes &file, uint64_t offset, uint8_t *out, size_t size) {
  size_t done = 0;
  while (done < size) {
    const long long n = file.ReadAt(offset + done, out + done, std::min<size_t>(size - done, 16384));
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

// Writes pixels of one row at a time, bounded by the picture.
class PixelCursor {
 public:
  explicit PixelCursor(Bitmap &b, bool topDown) : b_(b), topDown_(topDown) {}
  // Stored row y (0 = first row in the file) to the picture's row.
  void Put(uint8_t index) {
    if (x_ < b_.width && y_ < b_.height) b_.pixels[RowStart() + x_] = index;
    ++x_;
  }
  void NextLine() {
    x_ = 0;
    ++y_;
  }
  void Move(uint32_t dx, uint32_t dy) {
    x_ += dx;
    y_ += dy;
  }
  bool Done() const { return y_ >= b_.height; }
  bool RowFull() const { return x_ >= b_.width; }

 private:
  size_t RowStart() const { return size_t{topDown_ ? y_ : b_.height - 1 - y_} * b_.width; }
  Bitmap &b_;
  bool topDown_;
  uint32_t x_ = 0, y_ = 0;
};

void UnpackPlain(const std::vector<uint8_t> &data, unsigned bpp, PixelCursor &cursor, const Bitmap &b) {
  const size_t stride = ((size_t{b.width} * bpp + 31) / 32) * 4;
  for (size_t y = 0; y < b.height; ++y, cursor.NextLine()) {
    const size_t start = y * stride;
    for (uint32_t x = 0; x < b.width; ++x) {
      const size_t bit = size_t{x} * bpp;
      const size_t at = start + bit / 8;
      if (at >= data.size()) return;  // a short file leaves the rest 0
      const unsigned shift = 8 - bpp - (bit % 8);
      cursor.Put(static_cast<uint8_t>((data[at] >> shift) & ((1u << bpp) - 1)));
    }
  }
}

// RLE8 (bpp 8) and RLE4 (bpp 4): a count and a value, or a zero escape: 0 ends
// the line, 1 the bitmap, 2 moves by two offsets, n > 2 is a literal run of n
// pixels padded to an even number of bytes. Runs past the row are clipped.
void UnpackRle(const std::vector<uint8_t> &data, unsigned bpp, PixelCursor &cursor) {
  size_t i = 0;
  while (i + 1 < data.size() && !cursor.Done()) {
    const uint8_t count = data[i], value = data[i + 1];
    i += 2;
    if (count > 0) {
      for (unsigned k = 0; k < count && !cursor.RowFull(); ++k)
        cursor.Put(bpp == 8 ? value : static_cast<uint8_t>(k % 2 == 0 ? value >> 4 : value & 0x0F));
      continue;
    }
    if (value == 0) {
      cursor.NextLine();
    } else if (value == 1) {
      return;
    } else if (value == 2) {
      if (i + 1 >= data.size()) return;
      cursor.Move(data[i], data[i + 1]);
      i += 2;
    } else {
      const size_t bytes = bpp == 8 ? value : (value + 1u) / 2;
      for (unsigned k = 0; k < value; ++k) {
        const size_t at = i + (bpp == 8 ? k : k / 2);
        if (at >= data.size()) return;
        cursor.Put(bpp == 8 ? data[at] : static_cast<uint8_t>(k % 2 == 0 ? data[at] >> 4 : data[at] & 0x0F));
      }
      i += (bytes + 1) & ~size_t{1};
    }
  }
}

}  // namespace

EncodeResult ReadBitmap(FileBytes &file, uint64_t fileSize, Bitmap &b) {
  uint8_t header[14 + 40] = {};
  if (ReadFully(file, 0, header, 18) < 18 || header[0] != 'B' || header[1] != 'M') return EncodeResult::kNotBitmap;
  const uint32_t dataOffset = Le32(header + 10);
  const uint32_t headerSize = Le32(header + 14);
  int32_t width = 0, height = 0;
  unsigned bpp = 0, compression = 0, colours = 0, entrySize = 0;
  uint32_t imageSize = 0;
  if (headerSize >= 40) {
    // Later header forms (108, 124 bytes) begin with the 40-byte one.
    if (ReadFully(file, 14, header + 14, 40) < 40) return EncodeResult::kNotBitmap;
    width = static_cast<int32_t>(Le32(header + 18));
    height = static_cast<int32_t>(Le32(header + 22));
    bpp = Le16(header + 28);
    compression = Le32(header + 30);
    imageSize = Le32(header + 34);
    colours = Le32(header + 46);
    entrySize = 4;
  } else if (headerSize == 12) {
    if (ReadFully(file, 14, header + 14, 12) < 12) return EncodeResult::kNotBitmap;
    width = Le16(header + 18);
    height = Le16(header + 20);
    bpp = Le16(header + 24);
    entrySize = 3;
  } else {
    return EncodeResult::kNotBitmap;
  }
  if (bpp > 8) return EncodeResult::kCannotEncode;
  if (bpp != 1 && bpp != 4 && bpp != 8) return EncodeResult::kCannotEncode;
  const bool topDown = height < 0;
  const uint64_t absHeight = topDown ? -static_cast<int64_t>(height) : height;
  if (width <= 0 || absHeight == 0 || width > 65535 || absHeight > 65535 || uint64_t(width) * absHeight > kMaxPixels)
    return EncodeResult::kCannotEncode;
  if ((compression == 1 && bpp != 8) || (compression == 2 && bpp != 4)) return EncodeResult::kCannotEncode;

  if (colours == 0 || colours > (1u << bpp)) colours = 1u << bpp;
  b.width = static_cast<uint32_t>(width);
  b.height = static_cast<uint32_t>(absHeight);
  b.colours = colours;
  const uint64_t tableAt = 14 + uint64_t{headerSize};
  std::vector<uint8_t> table(size_t{colours} * entrySize);
  const size_t got = ReadFully(file, tableAt, table.data(), table.size());
  for (unsigned i = 0; i < colours && (i + 1) * entrySize <= got; ++i) {
    b.blue[i] = table[i * entrySize];
    b.green[i] = table[i * entrySize + 1];
    b.red[i] = table[i * entrySize + 2];
  }

  // The pixels start where the file header says, or right after the colour
  // table when that offset is missing or points into the headers.
  const uint64_t tableEnd = tableAt + table.size();
  const uint64_t pixelsAt = dataOffset >= tableEnd ? dataOffset : tableEnd;
  const uint64_t plainSize = ((uint64_t{b.width} * bpp + 31) / 32) * 4 * b.height;
  uint64_t want = compression == 0 ? plainSize : (imageSize != 0 ? imageSize : fileSize);
  want = std::min(want, fileSize > pixelsAt ? fileSize - pixelsAt : 0);
  try {
    b.pixels.assign(size_t{b.width} * b.height, 0);
    std::vector<uint8_t> data(static_cast<size_t>(want));
    data.resize(ReadFully(file, pixelsAt, data.data(), data.size()));
    PixelCursor cursor(b, topDown);
    if (compression == 0)
      UnpackPlain(data, bpp, cursor, b);
    else if (compression == 1 || compression == 2)
      UnpackRle(data, bpp, cursor);
  } catch (const std::bad_alloc &) {
    return EncodeResult::kCannotEncode;
  }
  return EncodeResult::kEncoded;
}

namespace {

// Codes out, low bits first, in data sub-blocks of up to 255 bytes.
class CodeWriter {
 public:
  explicit CodeWriter(ByteOutput &out) : out_(out) {}
  void Put(unsigned code, unsigned width) {
    bits_ |= static_cast<uint32_t>(code) << count_;
    count_ += width;
    while (count_ >= 8) {
      Byte(static_cast<uint8_t>(bits_));
      bits_ >>= 8;
      count_ -= 8;
    }
  }
  void Finish() {
    if (count_ > 0) Byte(static_cast<uint8_t>(bits_));
    bits_ = 0;
    count_ = 0;
    FlushBlock();
  }

 private:
  void Byte(uint8_t b) {
    block_[used_++] = b;
    if (used_ == 255) FlushBlock();
  }
  void FlushBlock() {
    if (used_ == 0) return;
    const uint8_t n = static_cast<uint8_t>(used_);
    out_.Write(&n, 1);
    out_.Write(block_.data(), used_);
    used_ = 0;
  }
  ByteOutput &out_;
  std::array<uint8_t, 255> block_{};
  size_t used_ = 0;
  uint32_t bits_ = 0;
  unsigned count_ = 0;
};

// The LZW compressor: strings found in an open-addressed hash of 5003 slots
// keyed by prefix and pixel; the table clears when its 4096 codes are used.
class LzwEncoder {
 public:
  static constexpr int kSlots = 5003;
  static constexpr unsigned kClear = 256, kEnd = 257, kFirstFree = 258;

  explicit LzwEncoder(CodeWriter &w) : w_(w) { ClearHash(); }

  void Encode(const std::vector<uint8_t> &pixels) {
    Output(kClear);
    if (pixels.empty()) {
      Output(kEnd);
      w_.Finish();
      return;
    }
    unsigned prefix = pixels[0];
    for (size_t k = 1; k < pixels.size(); ++k) {
      const unsigned c = pixels[k];
      const uint32_t key = c + (prefix << 8);
      int i = static_cast<int>(prefix + c * 16);
      if (i > kSlots - 1) i -= kSlots;
      // The probe step is fixed by the first slot, so the walk visits every
      // slot before it could return to one.
      const int step = i == 0 ? 1 : kSlots - i;
      bool found = false;
      while (codes_[i] != 0) {
        if (keys_[i] == key) {
          prefix = codes_[i];
          found = true;
          break;
        }
        i -= step;
        if (i < 0) i += kSlots;
      }
      if (found) continue;
      Output(prefix);
      if (nextFree_ < 4096) {
        codes_[i] = static_cast<uint16_t>(nextFree_++);
        keys_[i] = key;
      } else {
        ClearHash();
        clearing_ = true;
        Output(kClear);
        nextFree_ = kFirstFree;
      }
      prefix = c;
    }
    Output(prefix);
    Output(kEnd);
    w_.Finish();
  }

 private:
  void ClearHash() { codes_.fill(0); }
  // Writes a code at the current width, then widens the code when the next
  // free code no longer fits (or goes back to 9 bits after a clear).
  void Output(unsigned code) {
    w_.Put(code, width_);
    if (clearing_) {
      width_ = 9;
      maxCode_ = 511;
      clearing_ = false;
    } else if (nextFree_ > maxCode_) {
      ++width_;
      maxCode_ = width_ == 12 ? 4096 : (1u << width_) - 1;
    }
  }

  CodeWriter &w_;
  std::array<uint16_t, kSlots> codes_{};
  std::array<uint32_t, kSlots> keys_{};
  unsigned nextFree_ = kFirstFree, width_ = 9, maxCode_ = 511;
  bool clearing_ = false;
};

}  // namespace

void EncodeGif(const Bitmap &b, ByteOutput &out) {
  uint8_t head[13] = {'G', 'I', 'F', '8', '7', 'a'};
  head[6] = static_cast<uint8_t>(b.width);
  head[7] = static_cast<uint8_t>(b.width >> 8);
  head[8] = static_cast<uint8_t>(b.height);
  head[9] = static_cast<uint8_t>(b.height >> 8);
  head[10] = 0xFF;  // a global table of 256 entries, 8 bits of colour, sorted
  out.Write(head, sizeof head);
  uint8_t table[256 * 3] = {};
  for (unsigned i = 0; i < b.colours && i < 256; ++i) {
    table[i * 3] = b.red[i];
    table[i * 3 + 1] = b.green[i];
    table[i * 3 + 2] = b.blue[i];
  }
  out.Write(table, sizeof table);
  uint8_t descriptor[11] = {','};
  descriptor[5] = head[6];
  descriptor[6] = head[7];
  descriptor[7] = head[8];
  descriptor[8] = head[9];
  descriptor[10] = 8;  // LZW minimum code size
  out.Write(descriptor, sizeof descriptor);
  CodeWriter writer(out);
  LzwEncoder(writer).Encode(b.pixels);
  const uint8_t tail[2] = {0, ';'};
  out.Write(tail, 2);
}

EncodeResult EncodeBitmapFile(FileBytes &file, uint64_t fileSize, ByteOutput &out) {
  Bitmap bitmap;
  const EncodeResult r = ReadBitmap(file, fileSize, bitmap);
  if (r == EncodeResult::kEncoded) EncodeGif(bitmap, out);
  return r;
}

}  // namespace qxgif
