// The GIF reader: the stream up to the first image, the LZW decoder with its
// code reader, interlace, and the picture written back as a Windows bitmap.
#include <new>

#include "gifimage.h"

namespace qxgif {

const char *DescribeOpenError(OpenError e) {
  switch (e) {
    case OpenError::kNone: return "no error";
    case OpenError::kNotGif: return "the file is not a GIF picture";
    case OpenError::kNoImage: return "the GIF file holds no picture";
    case OpenError::kShortHeader: return "the GIF file ends inside a picture's header";
    case OpenError::kBadCodeSize: return "the GIF picture's LZW code size is not between 2 and 11";
    case OpenError::kBadSize: return "the GIF picture has no pixels (width or height 0)";
    case OpenError::kTooLarge: return "the GIF picture is larger than 32767 pixels a side or 64 million pixels";
    case OpenError::kNoMemory: return "there is not enough memory for the GIF picture";
  }
  return "unknown error";
}

unsigned Picture::PaletteSize() const {
  unsigned n = 1;
  for (unsigned i = 0; i < uses.size(); ++i)
    if (uses[i] != 0) n = i + 1;
  return n;
}

size_t InterlaceRow(size_t r, size_t h) {
  const size_t p1 = (h + 7) / 8, p2 = p1 + (h + 3) / 8, p3 = p2 + (h + 1) / 4;
  switch (r % 8) {
    case 0: return r / 8;
    case 4: return p1 + r / 8;
    case 2:
    case 6: return p2 + r / 4;
    default: return p3 + r / 2;
  }
}

size_t Picture::StoredRow(size_t r) const { return interlaced ? InterlaceRow(r, height) : r; }

namespace {

bool ReadBytes(ByteInput &in, uint8_t *out, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const int c = in.ReadByte();
    if (c < 0) return false;
    out[i] = static_cast<uint8_t>(c);
  }
  return true;
}

bool ReadColourTable(ByteInput &in, Picture &p, unsigned entries) {
  for (unsigned i = 0; i < entries; ++i) {
    uint8_t rgb[3];
    if (!ReadBytes(in, rgb, 3)) return false;
    p.red[i] = rgb[0];
    p.green[i] = rgb[1];
    p.blue[i] = rgb[2];
  }
  return true;
}

unsigned Le16(const uint8_t *b) { return b[0] | (b[1] << 8); }

}  // namespace

OpenError Decoder::Open(Picture &p) {
  uint8_t signature[6], screen[7];
  if (!ReadBytes(in_, signature, 6) || signature[0] != 'G' || signature[1] != 'I' || signature[2] != 'F')
    return OpenError::kNotGif;
  if (!ReadBytes(in_, screen, 7)) return OpenError::kNotGif;
  if ((screen[4] & 0x80) && !ReadColourTable(in_, p, 2u << (screen[4] & 7))) return OpenError::kShortHeader;

  // Extensions are skipped with their sub-blocks; bytes that start nothing are
  // passed over, as some writers pad between blocks.
  for (;;) {
    const int c = in_.ReadByte();
    if (c < 0 || c == ';') return OpenError::kNoImage;
    if (c == '!') {
      if (in_.ReadByte() < 0) return OpenError::kNoImage;
      SkipSubBlocks();
      continue;
    }
    if (c == ',') break;
  }
  uint8_t descriptor[9];
  if (!ReadBytes(in_, descriptor, 9)) return OpenError::kShortHeader;
  const unsigned width = Le16(descriptor + 4), height = Le16(descriptor + 6);
  p.interlaced = (descriptor[8] & 0x40) != 0;
  if ((descriptor[8] & 0x80) && !ReadColourTable(in_, p, 2u << (descriptor[8] & 7))) return OpenError::kShortHeader;
  const int size = in_.ReadByte();
  if (size < 0) return OpenError::kShortHeader;
  if (size < 2 || size > 11) return OpenError::kBadCodeSize;
  if (width == 0 || height == 0) return OpenError::kBadSize;
  if (width > kMaxSide || height > kMaxSide || uint64_t{width} * height > kMaxPixels) return OpenError::kTooLarge;
  try {
    p.pixels.assign(size_t{width} * height, 0);
  } catch (const std::bad_alloc &) {
    return OpenError::kNoMemory;
  }
  p.width = static_cast<uint16_t>(width);
  p.height = static_cast<uint16_t>(height);
  minCodeSize_ = size;
  clearCode_ = 1 << size;
  endCode_ = clearCode_ + 1;
  Reset();
  previous_ = -1;
  return OpenError::kNone;
}

void Decoder::Reset() {
  codeWidth_ = minCodeSize_ + 1;
  limit_ = 2 * clearCode_;
  nextFree_ = clearCode_ + 2;
}

// Skips data sub-blocks up to and including the zero-length one.
void Decoder::SkipSubBlocks() {
  for (;;) {
    const int n = in_.ReadByte();
    if (n <= 0) return;
    for (int i = 0; i < n; ++i)
      if (in_.ReadByte() < 0) return;
  }
}

// The rest of the current sub-block and every later one; false at the end.
bool Decoder::SkipToEnd() {
  while (blockLeft_ > 0) {
    --blockLeft_;
    if (in_.ReadByte() < 0) return false;
  }
  SkipSubBlocks();
  return false;
}

// The next code, low bits first across bytes and sub-blocks; the end code once
// the data has ended. The accumulator takes as many sub-blocks as a code needs,
// so sub-blocks of a single byte read right.
int Decoder::ReadCode() {
  while (bitCount_ < codeWidth_) {
    if (dataEnded_) return endCode_;
    if (blockLeft_ == 0) {
      const int n = in_.ReadByte();
      if (n <= 0) {
        dataEnded_ = true;
        return endCode_;
      }
      blockLeft_ = n;
    }
    const int c = in_.ReadByte();
    if (c < 0) {
      dataEnded_ = true;
      return endCode_;
    }
    --blockLeft_;
    bitBuffer_ |= static_cast<uint32_t>(c) << bitCount_;
    bitCount_ += 8;
  }
  const int code = static_cast<int>(bitBuffer_ & ((1u << codeWidth_) - 1));
  bitBuffer_ >>= codeWidth_;
  bitCount_ -= codeWidth_;
  return code;
}

// One pixel per call: the pending pixels of a string come from the stack.
int Decoder::NextPixel() {
  if (stackTop_ > 0) return stack_[--stackTop_];
  if (ended_) return 0;
  int code = ReadCode();
  // A stream may begin without a clear code; it starts as if one came.
  if (code == clearCode_ || previous_ < 0) {
    while (code == clearCode_) {
      Reset();
      code = ReadCode();
    }
    if (code == endCode_) {
      ended_ = true;
      if (!dataEnded_) SkipToEnd();
      return 0;
    }
    if (code > clearCode_) code = 0;
    previous_ = firstChar_ = code;
    return code & 0xFF;
  }
  if (code == endCode_) {
    ended_ = true;
    if (!dataEnded_) SkipToEnd();
    return 0;
  }
  if (code > nextFree_) code = 0;  // not yet in the table: damaged data
  const int incoming = code;
  if (code == nextFree_) {
    stack_[stackTop_++] = static_cast<uint8_t>(firstChar_);
    code = previous_;
  }
  // Every table code's chain is shorter than the table, so the stack (one
  // larger than the table) cannot overflow; the bound is kept all the same.
  while (code > clearCode_ && stackTop_ < stack_.size() - 1) {
    stack_[stackTop_++] = suffix_[code];
    code = prefix_[code];
  }
  if (code >= clearCode_) code = 0;  // only a damaged chain ends here
  firstChar_ = code;
  if (nextFree_ < 4096) {
    prefix_[nextFree_] = static_cast<uint16_t>(previous_);
    suffix_[nextFree_] = static_cast<uint8_t>(firstChar_ & 0xFF);
    ++nextFree_;
    if (nextFree_ >= limit_ && codeWidth_ < 12) {
      ++codeWidth_;
      limit_ *= 2;
    }
  }
  previous_ = incoming;
  return firstChar_ & 0xFF;
}

void Decoder::DecodePixels(Picture &p) {
  for (auto &px : p.pixels) {
    px = static_cast<uint8_t>(NextPixel());
    ++p.uses[px];
  }
}

OpenError DecodeGif(const uint8_t *data, size_t size, Picture &picture) {
  MemoryInput in(data, size);
  Decoder decoder(in);
  const OpenError e = decoder.Open(picture);
  if (e == OpenError::kNone) decoder.DecodePixels(picture);
  return e;
}

namespace {

void Put16(std::vector<uint8_t> &out, unsigned v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t> &out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace

std::vector<uint8_t> WriteBmp(const Picture &p) {
  const unsigned n = p.PaletteSize();
  const uint32_t stride = (p.width + 3u) & ~3u;
  const uint32_t offset = 54 + 4 * n;
  std::vector<uint8_t> out;
  out.reserve(offset + size_t{stride} * p.height);
  out.push_back('B');
  out.push_back('M');
  Put32(out, stride * p.height + offset);
  Put32(out, 0);
  Put32(out, offset);
  Put32(out, 40);
  Put32(out, p.width);
  Put32(out, p.height);
  Put16(out, 1);
  Put16(out, 8);
  for (int i = 0; i < 4; ++i) Put32(out, 0);  // compression, image size, resolutions
  Put32(out, n);
  Put32(out, n);
  for (unsigned i = 0; i < n; ++i) {
    out.push_back(p.blue[i]);
    out.push_back(p.green[i]);
    out.push_back(p.red[i]);
    out.push_back(0);
  }
  for (size_t r = p.height; r-- > 0;) {
    const uint8_t *row = p.DisplayRow(r);
    out.insert(out.end(), row, row + p.width);
    out.resize(out.size() + (stride - p.width), 0);
  }
  return out;
}

}  // namespace qxgif
