// Transfer-encoding decoders and the base64 line writer (see codec.h).
#include "codec.h"

#include <cstring>

namespace attachkit {

void OutputBuffer::Put(const uint8_t *data, size_t size) {
  while (size > 0) {
    if (used_ == buffer_.size()) Flush();
    const size_t n = std::min(size, buffer_.size() - used_);
    std::memcpy(buffer_.data() + used_, data, n);
    used_ += n;
    data += n;
    size -= n;
  }
}

bool OutputBuffer::Flush() {
  if (used_ > 0 && ok_) ok_ = sink_.Write(buffer_.data(), used_);
  used_ = 0;
  return ok_;
}

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Value of each byte in the alphabet; 0x80 for '=', 0xFF for the rest.
struct Base64Values {
  std::array<uint8_t, 256> value{};
  constexpr Base64Values() {
    for (auto &v : value) v = 0xFF;
    for (int i = 0; i < 64; ++i) value[static_cast<uint8_t>(kBase64Alphabet[i])] = static_cast<uint8_t>(i);
    value['='] = 0x80;
  }
};
constexpr Base64Values kValues;

class IdentityDecoder final : public BodyDecoder {
 public:
  using BodyDecoder::BodyDecoder;
  void Feed(const uint8_t *data, size_t size) override { out_.Put(data, size); }

 private:
  void End() override {}
};

// Groups of four alphabet characters give three bytes; characters outside the
// alphabet (line ends, blanks, damage) are passed over, and a group left
// incomplete at a line end goes on in the next line. A "=" ends the group it
// is in (its bytes so far are kept) and the rest of that line is ignored.
class Base64Decoder final : public BodyDecoder {
 public:
  using BodyDecoder::BodyDecoder;

  void Feed(const uint8_t *data, size_t size) override {
    size_t i = 0;
    while (i < size) {
      if (skip_line_) {
        const void *lf = std::memchr(data + i, '\n', size - i);
        if (!lf) return;
        i = static_cast<size_t>(static_cast<const uint8_t *>(lf) - data) + 1;
        skip_line_ = false;
        continue;
      }
      if (filled_ == 0) i = DecodeRun(data, i, size);
      if (i >= size) break;
      const uint8_t c = data[i++];
      const uint8_t v = kValues.value[c];
      if (v < 64) {
        quad_[filled_++] = v;
        if (filled_ == 4) EmitQuad();
      } else if (v == 0x80) {
        EmitPartial();
        skip_line_ = true;
      }
    }
  }

 private:
  // Whole groups of four valid characters at once, as long as they last.
  size_t DecodeRun(const uint8_t *data, size_t i, size_t size) {
    while (size - i >= 4) {
      const uint32_t a = kValues.value[data[i]], b = kValues.value[data[i + 1]], c = kValues.value[data[i + 2]],
                     d = kValues.value[data[i + 3]];
      if ((a | b | c | d) & 0x80) break;
      const uint32_t v = (a << 18) | (b << 12) | (c << 6) | d;
      uint8_t *o = out_.Reserve(3);
      o[0] = static_cast<uint8_t>(v >> 16);
      o[1] = static_cast<uint8_t>(v >> 8);
      o[2] = static_cast<uint8_t>(v);
      out_.Advance(3);
      i += 4;
    }
    return i;
  }
  void EmitQuad() {
    const uint32_t v = (uint32_t{quad_[0]} << 18) | (uint32_t{quad_[1]} << 12) | (uint32_t{quad_[2]} << 6) | quad_[3];
    out_.Put(static_cast<uint8_t>(v >> 16));
    out_.Put(static_cast<uint8_t>(v >> 8));
    out_.Put(static_cast<uint8_t>(v));
    filled_ = 0;
  }
  // Two characters give one byte, three give two; one alone gives nothing.
  void EmitPartial() {
    if (filled_ >= 2) {
      const uint32_t v = (uint32_t{quad_[0]} << 18) | (uint32_t{quad_[1]} << 12) | (uint32_t{quad_[2]} << 6);
      out_.Put(static_cast<uint8_t>(v >> 16));
      if (filled_ == 3) out_.Put(static_cast<uint8_t>(v >> 8));
    }
    filled_ = 0;
    quad_ = {};
  }
  void End() override { EmitPartial(); }

  std::array<uint8_t, 4> quad_{};
  size_t filled_ = 0;
  bool skip_line_ = false;
};

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "=" and two hexadecimal digits (either case) give that byte; "=" at the end
// of a line is a soft line break; every other byte is copied. Line ends, CR LF
// or LF alone, come out as CR LF.
class QuotedPrintableDecoder final : public BodyDecoder {
 public:
  using BodyDecoder::BodyDecoder;

  void Feed(const uint8_t *data, size_t size) override {
    for (size_t i = 0; i < size; ++i) Step(data[i]);
  }

 private:
  enum class State { kText, kCr, kEquals, kEqualsHex, kEqualsCr };

  void Step(uint8_t c) {
    switch (state_) {
      case State::kText: return Text(c);
      case State::kCr:
        state_ = State::kText;
        if (c == '\n') return LineEnd();
        out_.Put('\r');
        return Text(c);
      case State::kEquals:
        if (c == '\n') {  // soft line break
          state_ = State::kText;
        } else if (c == '\r') {
          state_ = State::kEqualsCr;
        } else if (HexValue(c) >= 0) {
          hex_ = c;
          state_ = State::kEqualsHex;
        } else {
          out_.Put('=');
          state_ = State::kText;
          Text(c);
        }
        return;
      case State::kEqualsHex:
        state_ = State::kText;
        if (HexValue(c) >= 0) return out_.Put(static_cast<uint8_t>(HexValue(hex_) * 16 + HexValue(c)));
        out_.Put('=');
        out_.Put(hex_);
        return Text(c);
      case State::kEqualsCr:
        state_ = State::kText;
        if (c == '\n') return;  // soft line break
        out_.Put('=');
        out_.Put('\r');
        return Text(c);
    }
  }
  void Text(uint8_t c) {
    if (c == '=') {
      state_ = State::kEquals;
    } else if (c == '\r') {
      state_ = State::kCr;
    } else if (c == '\n') {
      LineEnd();
    } else {
      out_.Put(c);
    }
  }
  void LineEnd() {
    out_.Put('\r');
    out_.Put('\n');
  }
  // A body that ends in "=" (or "=" CR) ends in a soft line break.
  void End() override {
    if (state_ == State::kCr) out_.Put('\r');
    if (state_ == State::kEqualsHex) {
      out_.Put('=');
      out_.Put(hex_);
    }
    state_ = State::kText;
  }

  State state_ = State::kText;
  uint8_t hex_ = 0;
};

// Lines before one that begins with "begin " are passed over; a line "end"
// ends the data (lines after it are passed over). A data line's first
// character gives its byte count; the rest, padded with blanks to whole
// groups, gives three bytes per four characters, of which count are kept.
class UudecodeDecoder final : public BodyDecoder {
 public:
  using BodyDecoder::BodyDecoder;

  void Feed(const uint8_t *data, size_t size) override {
    for (size_t i = 0; i < size; ++i) {
      const uint8_t c = data[i];
      if (c == '\n') {
        Line();
        continue;
      }
      if (length_ < line_.size()) line_[length_] = c;
      ++length_;
    }
  }

 private:
  enum class State { kBeforeBegin, kData, kEnded };

  void Line() {
    size_t n = std::min(length_, line_.size());
    if (length_ <= line_.size() && n > 0 && line_[n - 1] == '\r') --n;
    const std::string_view text(reinterpret_cast<const char *>(line_.data()), n);
    length_ = 0;
    switch (state_) {
      case State::kBeforeBegin:
        if (text.size() >= 6 && EqualNoCase(text.substr(0, 6), "begin ")) state_ = State::kData;
        return;
      case State::kData:
        if (IsEnd(text)) {
          state_ = State::kEnded;
          return;
        }
        return DataLine(text);
      case State::kEnded: return;
    }
  }
  static bool IsEnd(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return EqualNoCase(text, "end");
  }
  void DataLine(std::string_view text) {
    if (text.empty()) return;
    const size_t count = (static_cast<uint8_t>(text[0]) - 32) & 63;
    if (count == 0) return;
    const size_t groups = (count + 2) / 3;
    std::array<uint8_t, 84> chars;  // at most 63 bytes: 21 groups of 4
    chars.fill(' ');
    const size_t have = std::min(text.size() - 1, groups * 4);
    std::memcpy(chars.data(), text.data() + 1, have);
    size_t left = count;
    for (size_t g = 0; g < groups; ++g) {
      const auto v = [&](size_t k) { return static_cast<uint32_t>((chars[g * 4 + k] - 32) & 63); };
      const uint32_t bits = (v(0) << 18) | (v(1) << 12) | (v(2) << 6) | v(3);
      const uint8_t bytes[3] = {static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 8),
                                static_cast<uint8_t>(bits)};
      const size_t take = std::min<size_t>(left, 3);
      out_.Put(bytes, take);
      left -= take;
    }
  }
  void End() override {
    if (length_ > 0) Line();
  }

  State state_ = State::kBeforeBegin;
  std::array<uint8_t, 128> line_{};  // the first bytes of the line; more never matter
  size_t length_ = 0;
};

}  // namespace

TransferEncoding EncodingByName(std::string_view name) {
  if (EqualNoCase(name, "base64")) return TransferEncoding::kBase64;
  if (EqualNoCase(name, "quoted-printable")) return TransferEncoding::kQuotedPrintable;
  if (EqualNoCase(name, "x-uuencode")) return TransferEncoding::kUuencode;
  return TransferEncoding::kIdentity;
}

std::unique_ptr<BodyDecoder> MakeDecoder(TransferEncoding encoding, ByteSink &sink) {
  switch (encoding) {
    case TransferEncoding::kBase64: return std::make_unique<Base64Decoder>(sink);
    case TransferEncoding::kQuotedPrintable: return std::make_unique<QuotedPrintableDecoder>(sink);
    case TransferEncoding::kUuencode: return std::make_unique<UudecodeDecoder>(sink);
    case TransferEncoding::kIdentity: break;
  }
  return std::make_unique<IdentityDecoder>(sink);
}

void Base64LineWriter::Write(const uint8_t *data, size_t size) {
  // Straight from the caller's bytes while whole groups are there.
  if (filled_ == 0) {
    while (size >= kGroup) {
      EmitLine(data, kGroup);
      data += kGroup;
      size -= kGroup;
    }
  }
  for (size_t i = 0; i < size; ++i) Put(data[i]);
}

void Base64LineWriter::EmitGroup() {
  EmitLine(group_.data(), filled_);
  filled_ = 0;
}

void Base64LineWriter::EmitLine(const uint8_t *data, size_t size) {
  uint8_t *o = out_.Reserve(kGroup / 3 * 4 + 2);
  size_t k = 0, i = 0;
  for (; i + 3 <= size; i += 3) {
    const uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
    o[k++] = static_cast<uint8_t>(kBase64Alphabet[v >> 18]);
    o[k++] = static_cast<uint8_t>(kBase64Alphabet[(v >> 12) & 63]);
    o[k++] = static_cast<uint8_t>(kBase64Alphabet[(v >> 6) & 63]);
    o[k++] = static_cast<uint8_t>(kBase64Alphabet[v & 63]);
  }
  if (i < size) {
    const uint32_t v = (uint32_t{data[i]} << 16) | (i + 1 < size ? uint32_t{data[i + 1]} << 8 : 0);
    o[k++] = static_cast<uint8_t>(kBase64Alphabet[v >> 18]);
    o[k++] = static_cast<uint8_t>(kBase64Alphabet[(v >> 12) & 63]);
    o[k++] = static_cast<uint8_t>(i + 1 < size ? kBase64Alphabet[(v >> 6) & 63] : '=');
    o[k++] = '=';
  }
  o[k++] = '\r';
  o[k++] = '\n';
  out_.Advance(k);
  total_ += size;
  last_was_full_ = size == kGroup;
}

bool Base64LineWriter::Finish() {
  if (filled_ > 0) {
    EmitGroup();
  } else if (last_was_full_) {
    static const uint8_t kPadLine[] = {'=', '=', '=', '\r', '\n'};
    out_.Put(kPadLine, sizeof kPadLine);
  }
  last_was_full_ = false;
  return out_.Flush();
}

}  // namespace attachkit
