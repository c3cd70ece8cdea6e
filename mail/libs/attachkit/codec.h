// Transfer encodings of MIME body parts: streaming decoders for base64,
// quoted-printable, x-uuencode and the identity encodings, and the base64
// line writer of outgoing attachments. Everything here works on bytes in
// pieces of any size, keeps a fixed amount of state, and never trusts a
// length it did not make, so an attachment of any size passes through in
// bounded memory and damaged input decodes to some bytes, never past a buffer.
#ifndef QX_ATTACHKIT_CODEC_H
#define QX_ATTACHKIT_CODEC_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace attachkit {

// Where decoded or encoded bytes go. Write returns false when the bytes could
// not be kept (a full disk); writers stop feeding a sink that refused.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool Write(const uint8_t *data, size_t size) = 0;
};

// Collects output in a fixed buffer and hands it to a sink in large pieces.
class OutputBuffer {
 public:
  explicit OutputBuffer(ByteSink &sink) : sink_(sink) {}
  void Put(uint8_t byte) {
    if (used_ == buffer_.size()) Flush();
    buffer_[used_++] = byte;
  }
  // Room for at least n bytes at Tail(); the caller then calls Advance(n).
  uint8_t *Reserve(size_t n) {
    if (buffer_.size() - used_ < n) Flush();
    return buffer_.data() + used_;
  }
  void Advance(size_t n) { used_ += n; }
  void Put(const uint8_t *data, size_t size);
  bool Flush();
  bool ok() const { return ok_; }

 private:
  ByteSink &sink_;
  std::array<uint8_t, 16384> buffer_{};
  size_t used_ = 0;
  bool ok_ = true;
};

enum class TransferEncoding { kIdentity, kBase64, kQuotedPrintable, kUuencode };
// "base64", "quoted-printable" and "x-uuencode" by name without regard to
// case; "7bit", "8bit", "binary" and every other name are the identity.
TransferEncoding EncodingByName(std::string_view name);

// A body part's bytes in, decoded bytes out. Feed takes the body in pieces of
// any size (line ends included); Finish flushes what the last piece left.
class BodyDecoder {
 public:
  explicit BodyDecoder(ByteSink &sink) : out_(sink) {}
  virtual ~BodyDecoder() = default;
  virtual void Feed(const uint8_t *data, size_t size) = 0;
  // Ends the body and flushes; false when the sink refused any output.
  bool Finish() {
    End();
    return out_.Flush();
  }

 protected:
  virtual void End() = 0;
  OutputBuffer out_;
};

std::unique_ptr<BodyDecoder> MakeDecoder(TransferEncoding encoding, ByteSink &sink);

// Base64 as sent: each line encodes one group of at most 54 bytes as 72
// characters and ends with CR LF. When the data ends exactly at the end of a
// full group one more line "===" follows; no data gives no line at all.
class Base64LineWriter {
 public:
  static constexpr size_t kGroup = 54;
  explicit Base64LineWriter(ByteSink &sink) : out_(sink) {}
  void Write(const uint8_t *data, size_t size);
  void Put(uint8_t byte) {
    group_[filled_++] = byte;
    if (filled_ == kGroup) EmitGroup();
  }
  // Writes the last line; false when the sink refused any output.
  bool Finish();
  uint64_t bytes() const { return total_; }

 private:
  void EmitGroup();
  void EmitLine(const uint8_t *data, size_t size);
  OutputBuffer out_;
  std::array<uint8_t, kGroup> group_{};
  size_t filled_ = 0;
  uint64_t total_ = 0;
  bool last_was_full_ = false;
};

// The base64 alphabet with "=" at index 64, as both directions use it.
inline constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

}  // namespace attachkit

#endif
