// One fuzz target for everything in attachkit that reads bytes from a message
// or a file: the transfer-encoding decoders (fed in pieces of varying sizes,
// which must decode as the body in one piece does; base64 this library writes
// must decode back to its bytes), the part header reader and parameter lookup,
// body ranges, file names, the audio/basic expander (the same samples whatever
// pieces the file comes in) and the wave file reader and converter. The first
// byte chooses the reader; the rest is its input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "audio.h"
#include "codec.h"
#include "mimepart.h"

using namespace attachkit;

namespace {

class CountingSink final : public ByteSink {
 public:
  bool Write(const uint8_t *, size_t size) override {
    bytes += size;
    return true;
  }
  size_t bytes = 0;
};

class StringSink final : public ByteSink {
 public:
  bool Write(const uint8_t *data, size_t size) override {
    bytes.append(reinterpret_cast<const char *>(data), size);
    return true;
  }
  std::string bytes;
};

// The body decoded in one piece.
std::string DecodeWhole(TransferEncoding encoding, const uint8_t *data, size_t size) {
  StringSink sink;
  auto decoder = MakeDecoder(encoding, sink);
  decoder->Feed(data, size);
  decoder->Finish();
  return sink.bytes;
}

void Decoders(TransferEncoding encoding, const uint8_t *data, size_t size) {
  StringSink sink;
  auto decoder = MakeDecoder(encoding, sink);
  // Piece sizes from the input itself, so splits land everywhere.
  size_t at = 0, step = 1;
  while (at < size) {
    const size_t n = std::min(size - at, step);
    decoder->Feed(data + at, n);
    at += n;
    step = 1 + (data[at - 1] % 97);
  }
  decoder->Finish();
  // Output stays in proportion to input: two bytes (a line end) per byte, or
  // for uuencode at most 63 bytes per line of two bytes or more.
  const size_t bound = encoding == TransferEncoding::kUuencode ? 32 * size + 64 : 2 * size + 64;
  if (sink.bytes.size() > bound) __builtin_trap();
  // The same body in one piece decodes to the same bytes: a message's bytes
  // arrive in whatever pieces the network and the file reads make.
  if (DecodeWhole(encoding, data, size) != sink.bytes) __builtin_trap();
  // Base64 as this library writes it decodes back to the bytes written.
  if (encoding == TransferEncoding::kBase64) {
    StringSink lines;
    Base64LineWriter writer(lines);
    writer.Write(data, size);
    writer.Finish();
    const auto *encoded = reinterpret_cast<const uint8_t *>(lines.bytes.data());
    if (DecodeWhole(encoding, encoded, lines.bytes.size()) != std::string(reinterpret_cast<const char *>(data), size))
      __builtin_trap();
  }
}

void Headers(const uint8_t *data, size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  MemoryReader reader(text);
  BufferedInput in(reader, 61);  // a small buffer: lines cross refills
  const uint64_t end = size > 0 ? data[0] * size / 255 + size / 2 : 0;
  if (auto header = ReadPartType(in, end)) {
    ReadRemainingFields(in, end, *header);
    const uint64_t body_end = BodyEnd(reader, in.Tell(), end);
    if (body_end < in.Tell()) __builtin_trap();
    for (const char *name : {"name", "access-type", "site", "Filename", "server"})
      if (auto v = LookupParameter(header->firstField, name)) SafeFileComponent(*v);
    ImageExtension(*header);
    CountingSink sink;
    DecodeRange(reader, in.Tell(), body_end, EncodingByName(header->encoding), sink);
  }
}

// A Sun audio file expanded from the given pieces (0: one byte at a time).
std::string Expand(const uint8_t *data, size_t size, size_t piece) {
  StringSink sink;
  AudioBasicExpander expander(sink);
  for (size_t at = 0; at < size;) {
    const size_t n = piece ? std::min(piece, size - at) : 1;
    expander.Write(data + at, n);
    at += n;
  }
  expander.Finish();
  if (expander.sample_bytes() > size) __builtin_trap();
  return sink.bytes;
}

void Audio(const uint8_t *data, size_t size) {
  // The samples do not depend on how the file arrives.
  const std::string halves = Expand(data, size, size / 2 + 1);
  if (Expand(data, size, size) != halves || Expand(data, size, 0) != halves) __builtin_trap();
}

void Wave(const uint8_t *data, size_t size) {
  MemoryReader reader(std::string_view(reinterpret_cast<const char *>(data), size));
  if (auto info = ReadWaveInfo(reader, size)) {
    if (info->dataOffset + info->dataSize > size) __builtin_trap();
    CountingSink sink;
    Base64LineWriter lines(sink);
    ConvertWaveToSun(reader, *info, lines);
    lines.Finish();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const uint8_t choice = data[0];
  ++data;
  --size;
  switch (choice % 7) {
    case 0: Decoders(TransferEncoding::kBase64, data, size); break;
    case 1: Decoders(TransferEncoding::kQuotedPrintable, data, size); break;
    case 2: Decoders(TransferEncoding::kUuencode, data, size); break;
    case 3: Decoders(TransferEncoding::kIdentity, data, size); break;
    case 4: Headers(data, size); break;
    case 5: Audio(data, size); break;
    case 6: Wave(data, size); break;
  }
  return 0;
}
