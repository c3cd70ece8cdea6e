// XDR, the byte order of ONC RPC: 32-bit big-endian words, and opaque data and
// strings as a length word followed by the bytes padded with zeros to a
// multiple of 4.
//
// Everything read from a datagram goes through XdrReader, which never reads
// past the bytes it was given: a length that runs past the end, or past the
// bound the caller names, fails the reader, and a failed reader stays failed.
// XdrWriter is the same for the reply buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// The big-endian word at p.
inline uint32_t XdrGetLong(const uint8_t *p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
// A length rounded up to a multiple of 4; 0xFFFFFFFF stays out of reach of any buffer.
inline uint64_t XdrPadded(uint32_t length) { return (uint64_t(length) + 3) & ~uint64_t(3); }
// The big-endian length word at p, rounded up to a multiple of 4.
inline uint64_t XdrPaddedLength(const uint8_t *p) { return XdrPadded(XdrGetLong(p)); }
inline void XdrPutLong(uint8_t *p, uint32_t value) {
  p[0] = uint8_t(value >> 24);
  p[1] = uint8_t(value >> 16);
  p[2] = uint8_t(value >> 8);
  p[3] = uint8_t(value);
}

class XdrReader {
 public:
  XdrReader() = default;
  XdrReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }
  size_t position() const { return at_; }
  size_t remaining() const { return ok_ ? size_ - at_ : 0; }
  const uint8_t *here() const { return data_ + at_; }

  bool Long(uint32_t &value) {
    if (!Need(4)) return false;
    value = XdrGetLong(data_ + at_);
    at_ += 4;
    return true;
  }
  bool Int(int32_t &value) {
    uint32_t u = 0;
    if (!Long(u)) return false;
    value = int32_t(u);
    return true;
  }
  // Fixed-length opaque data (a file handle): n bytes plus padding.
  bool Fixed(const uint8_t *&bytes, size_t n) {
    if (!Need(XdrPadded(uint32_t(n)))) return false;
    bytes = data_ + at_;
    at_ += XdrPadded(uint32_t(n));
    return true;
  }
  // Variable-length opaque data or a string of at most `max` bytes.
  bool Opaque(std::string_view &bytes, uint32_t max) {
    uint32_t length = 0;
    if (!Long(length)) return false;
    if (length > max || !Need(XdrPadded(length))) return Fail();
    bytes = std::string_view(reinterpret_cast<const char *>(data_ + at_), length);
    at_ += XdrPadded(length);
    return true;
  }
  // A string copied out (the datagram is never written); a zero byte inside
  // it is refused, since every consumer reads it as a C string.
  bool String(std::string &text, uint32_t max) {
    std::string_view bytes;
    if (!Opaque(bytes, max)) return false;
    if (bytes.find('\0') != std::string_view::npos) return Fail();
    text.assign(bytes);
    return true;
  }
  bool Skip(uint64_t n) {
    if (!Need(n)) return false;
    at_ += size_t(n);
    return true;
  }

 private:
  bool Need(uint64_t n) {
    if (!ok_ || n > size_ - at_) return Fail();
    return true;
  }
  bool Fail() {
    ok_ = false;
    return false;
  }
  const uint8_t *data_ = nullptr;
  size_t size_ = 0;
  size_t at_ = 0;
  bool ok_ = true;
};

class XdrWriter {
 public:
  XdrWriter(uint8_t *data, size_t capacity) : data_(data), capacity_(capacity) {}

  bool ok() const { return ok_; }
  size_t length() const { return at_; }

  bool Long(uint32_t value) {
    if (!Need(4)) return false;
    XdrPutLong(data_ + at_, value);
    at_ += 4;
    return true;
  }
  bool Fixed(const void *bytes, size_t n) {
    size_t padded = size_t(XdrPadded(uint32_t(n)));
    if (!Need(padded)) return false;
    memcpy(data_ + at_, bytes, n);
    memset(data_ + at_ + n, 0, padded - n);
    at_ += padded;
    return true;
  }
  bool String(std::string_view text) {
    if (!Need(4 + XdrPadded(uint32_t(text.size())))) return false;
    Long(uint32_t(text.size()));
    return Fixed(text.data(), text.size());
  }
  // Variable-length opaque data filled in place (READ's data straight from the
  // file): room for up to `max` bytes after the length word, or null when it
  // does not fit. EndOpaque then sets the length to what was filled and pads it.
  uint8_t *BeginOpaque(size_t max) {
    if (!Need(4 + XdrPadded(uint32_t(max)))) return nullptr;
    opaque_at_ = at_;
    return data_ + at_ + 4;
  }
  void EndOpaque(size_t filled) {
    XdrPutLong(data_ + opaque_at_, uint32_t(filled));
    const size_t padded = size_t(XdrPadded(uint32_t(filled)));
    memset(data_ + opaque_at_ + 4 + filled, 0, padded - filled);
    at_ = opaque_at_ + 4 + padded;
  }
  // Back to an earlier length (to drop an item that did not fit whole).
  void Truncate(size_t length) {
    if (length <= at_) at_ = length;
    ok_ = true;
  }

 private:
  bool Need(uint64_t n) {
    if (!ok_ || n > capacity_ - at_) {
      ok_ = false;
      return false;
    }
    return true;
  }
  uint8_t *data_;
  size_t capacity_;
  size_t at_ = 0;
  size_t opaque_at_ = 0;
  bool ok_ = true;
};
