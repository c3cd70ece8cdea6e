// RIFF WAVE images: the "fmt " chunk (PCM) and the "data" chunk. Every chunk
// length is checked against the bytes that are there; a data chunk longer
// than the file (a recording cut short) gives the bytes that exist.
#include <cstring>
#include <fstream>
#include <iterator>

#include "winmm_internal.h"

namespace qx::winmm {
namespace {

std::uint32_t Get32(const std::uint8_t *p) {
  return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t Get16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

constexpr size_t kMaxWave = size_t{1} << 30;  // larger images are refused

}  // namespace

bool ParseWave(const std::uint8_t *bytes, size_t size, WaveImage &out) {
  if (!bytes || size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0) return false;
  const size_t end = std::min<size_t>(size, static_cast<size_t>(Get32(bytes + 4)) + 8);
  bool have_format = false, have_data = false;
  for (size_t at = 12; at + 8 <= end;) {
    const std::uint8_t *id = bytes + at;
    const size_t length = Get32(bytes + at + 4);
    const size_t body = at + 8;
    const size_t available = std::min(length, end - body);
    if (std::memcmp(id, "fmt ", 4) == 0) {
      if (available < 16) return false;
      const std::uint8_t *f = bytes + body;
      out.format.wFormatTag = Get16(f);
      out.format.nChannels = Get16(f + 2);
      out.format.nSamplesPerSec = Get32(f + 4);
      out.format.nAvgBytesPerSec = Get32(f + 8);
      out.format.nBlockAlign = Get16(f + 12);
      out.format.wBitsPerSample = Get16(f + 14);
      out.format.cbSize = 0;
      have_format = true;
    } else if (std::memcmp(id, "data", 4) == 0 && !have_data) {
      out.data.assign(bytes + body, bytes + body + available);
      have_data = true;
    }
    if (length > end - body) break;
    at = body + length + (length & 1);  // chunks are padded to an even length
  }
  return have_format && have_data;
}

bool ReadWaveFile(const std::string &host_path, WaveImage &out) {
  std::ifstream in(host_path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  const auto size = in.tellg();
  if (size <= 0 || static_cast<size_t>(size) > kMaxWave) return false;
  in.seekg(0);
  std::vector<std::uint8_t> bytes(static_cast<size_t>(size));
  if (!in.read(reinterpret_cast<char *>(bytes.data()), size)) return false;
  return ParseWave(bytes.data(), bytes.size(), out);
}

}  // namespace qx::winmm
