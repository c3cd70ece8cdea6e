// Sun audio and wave files (see audio.h).
#include "audio.h"

#include <algorithm>
#include <cstring>

#include "mulaw.h"

namespace attachkit {
namespace {

uint32_t BigEndian32(const uint8_t *p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint32_t Little32(const uint8_t *p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint16_t Little16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void PutLittle32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutLittle16(uint8_t *p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutBig32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

constexpr uint32_t kSunUnknownSize = 0xFFFFFFFF;
constexpr uint32_t kMinRate = 1000, kMaxRate = 192000;  // what the wave devices accept

}  // namespace

std::array<uint8_t, kWaveHeaderSize> MakeWaveHeader(const PcmFormat &format, uint32_t data_bytes) {
  std::array<uint8_t, kWaveHeaderSize> h{};
  std::memcpy(h.data(), "RIFF", 4);
  PutLittle32(h.data() + 4, 36 + data_bytes + (data_bytes & 1));
  std::memcpy(h.data() + 8, "WAVEfmt ", 8);
  PutLittle32(h.data() + 16, 16);
  PutLittle16(h.data() + 20, 1);  // PCM
  PutLittle16(h.data() + 22, format.channels);
  PutLittle32(h.data() + 24, format.rate);
  PutLittle32(h.data() + 28, format.rate * format.channels);
  PutLittle16(h.data() + 32, format.channels);
  PutLittle16(h.data() + 34, 8);
  std::memcpy(h.data() + 36, "data", 4);
  PutLittle32(h.data() + 40, data_bytes);
  return h;
}

bool AudioBasicExpander::Write(const uint8_t *data, size_t size) {
  size_t i = 0;
  while (i < size) {
    switch (state_) {
      case State::kSniff:
        head_[head_used_++] = data[i++];
        if (head_used_ == 4 && std::memcmp(head_.data(), ".snd", 4) != 0) {
          state_ = State::kData;
          Samples(head_.data(), head_used_);
        } else if (head_used_ == head_.size()) {
          Decide(false);
        }
        break;
      case State::kSkip: {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(skip_, size - i));
        i += n;
        skip_ -= n;
        if (skip_ == 0) state_ = State::kData;
        break;
      }
      case State::kData: {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining_, size - i));
        Samples(data + i, n);
        if (remaining_ != UINT64_MAX) remaining_ -= n;
        i = remaining_ == 0 ? size : i + n;
        break;
      }
      case State::kRefused: return true;
    }
  }
  return out_.ok();
}

void AudioBasicExpander::Decide(bool at_end) {
  if (head_used_ < head_.size()) {
    // Fewer than four bytes are bare samples; a Sun header cut short has none.
    state_ = State::kData;
    if (head_used_ < 4) Samples(head_.data(), head_used_);
    remaining_ = 0;
    return;
  }
  (void)at_end;
  const uint32_t offset = BigEndian32(&head_[4]);
  const uint32_t size = BigEndian32(&head_[8]);
  const uint32_t encoding = BigEndian32(&head_[12]);
  const uint32_t rate = BigEndian32(&head_[16]);
  const uint32_t channels = BigEndian32(&head_[20]);
  if (encoding < 1 || encoding > 3 || channels < 1 || channels > 2 || rate < kMinRate || rate > kMaxRate) {
    state_ = State::kRefused;
    return;
  }
  coding_ = encoding == 1 ? Coding::kMulaw : encoding == 2 ? Coding::kLinear8 : Coding::kLinear16;
  format_.rate = rate;
  format_.channels = static_cast<uint16_t>(channels);
  skip_ = offset > head_.size() ? offset - head_.size() : 0;
  remaining_ = size == kSunUnknownSize ? UINT64_MAX : size;
  state_ = skip_ > 0 ? State::kSkip : State::kData;
}

void AudioBasicExpander::Samples(const uint8_t *data, size_t size) {
  switch (coding_) {
    case Coding::kMulaw:
      for (size_t i = 0; i < size; ++i) Sample(kMulawExpand[data[i]]);
      return;
    case Coding::kLinear8:
      for (size_t i = 0; i < size; ++i) Sample(static_cast<uint8_t>(data[i] ^ 0x80));
      return;
    case Coding::kLinear16:
      // Big-endian: the first byte of each sample is its upper byte.
      for (size_t i = 0; i < size; ++i) {
        if (!odd_byte_) Sample(static_cast<uint8_t>(data[i] ^ 0x80));
        odd_byte_ = !odd_byte_;
      }
      return;
  }
}

void AudioBasicExpander::Sample(uint8_t s) {
  out_.Put(s);
  ++samples_;
}

bool AudioBasicExpander::Finish() {
  if (state_ == State::kSniff) Decide(true);
  const bool flushed = out_.Flush();
  return flushed && state_ != State::kRefused;
}

std::optional<WaveInfo> ReadWaveInfo(RandomReader &file, uint64_t file_size) {
  uint8_t riff[12];
  if (file.ReadAt(0, riff, sizeof riff) != sizeof riff) return std::nullopt;
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) return std::nullopt;
  WaveInfo info;
  bool have_format = false, have_data = false;
  uint16_t format = 0;
  for (uint64_t at = 12; at + 8 <= file_size && !(have_format && have_data);) {
    uint8_t chunk[8];
    if (file.ReadAt(at, chunk, sizeof chunk) != sizeof chunk) break;
    const uint64_t size = Little32(chunk + 4);
    if (!have_format && std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
      uint8_t f[16];
      if (file.ReadAt(at + 8, f, sizeof f) != sizeof f) break;
      format = Little16(f);
      info.channels = Little16(f + 2);
      info.rate = Little32(f + 4);
      info.bytesPerSecond = Little32(f + 8);
      info.blockAlign = Little16(f + 12);
      info.bits = Little16(f + 14);
      have_format = true;
    } else if (!have_data && std::memcmp(chunk, "data", 4) == 0) {
      info.dataOffset = at + 8;
      info.dataSize = std::min(size, file_size - info.dataOffset);  // a chunk longer than the file gives what exists
      have_data = true;
    }
    at += 8 + size + (size & 1);
  }
  if (!have_format || !have_data || format != 1) return std::nullopt;
  if (info.channels < 1 || info.channels > 2 || (info.bits != 8 && info.bits != 16)) return std::nullopt;
  // The rate within what sound devices play and the byte rate that of the
  // frames: the conversion's work then stays in proportion to the file.
  if (info.blockAlign != info.channels * info.bits / 8 || info.rate < kMinRate || info.rate > kMaxRate ||
      info.bytesPerSecond != info.rate * info.blockAlign)
    return std::nullopt;
  return info;
}

std::array<uint8_t, kSunHeaderSize> MakeSunHeader(uint32_t samples) {
  std::array<uint8_t, kSunHeaderSize> h{};
  std::memcpy(h.data(), ".snd", 4);
  PutBig32(h.data() + 4, kSunHeaderSize);
  PutBig32(h.data() + 8, samples);
  PutBig32(h.data() + 12, 1);  // 8-bit mu-law
  PutBig32(h.data() + 16, 8000);
  PutBig32(h.data() + 20, 1);
  return h;  // the annotation: four zero bytes
}

namespace {

// The walk over the data chunk that both the count and the conversion make:
// one frame per output sample, then frames dropped (or repeated) as the
// accumulated rate difference reaches whole samples.
class ResampleWalk {
 public:
  explicit ResampleWalk(const WaveInfo &wave)
      : wave_(wave), limit_(wave.dataSize * 8000 / wave.bytesPerSecond), step_(int64_t{wave.rate} - 8000) {}
  // The data offset of the next frame, or false when the output is complete.
  bool Next(uint64_t &frame) {
    if (count_ >= limit_ || position_ + wave_.blockAlign > wave_.dataSize) return false;
    frame = position_;
    ++count_;
    int64_t next = static_cast<int64_t>(position_ + wave_.blockAlign);
    accumulator_ += step_;
    const int64_t q = accumulator_ / 8000;
    if (q != 0) {
      next += q * wave_.blockAlign;
      accumulator_ -= q * 8000;
    }
    position_ = static_cast<uint64_t>(std::max<int64_t>(next, 0));
    return true;
  }
  uint64_t count() const { return count_; }

 private:
  const WaveInfo &wave_;
  uint64_t limit_;
  int64_t step_;
  int64_t accumulator_ = 0;
  uint64_t position_ = 0, count_ = 0;
};

uint8_t UnsignedSample(const uint8_t *p, uint16_t bits) {
  if (bits == 8) return p[0];
  return static_cast<uint8_t>((Little16(p) ^ 0x8000) >> 8);
}

}  // namespace

uint64_t SunSampleCount(const WaveInfo &wave) {
  ResampleWalk walk(wave);
  uint64_t frame;
  while (walk.Next(frame)) {
  }
  return walk.count();
}

bool ConvertWaveToSun(RandomReader &file, const WaveInfo &wave, Base64LineWriter &out) {
  const uint64_t samples = std::min<uint64_t>(SunSampleCount(wave), UINT32_MAX);
  const auto header = MakeSunHeader(static_cast<uint32_t>(samples));
  out.Write(header.data(), header.size());
  BufferedInput in(file);
  ResampleWalk walk(wave);
  uint64_t frame;
  uint8_t bytes[4];
  while (walk.count() < samples && walk.Next(frame)) {
    in.Seek(wave.dataOffset + frame);
    if (in.Read(bytes, wave.blockAlign) != wave.blockAlign) return false;
    unsigned sample = UnsignedSample(bytes, wave.bits);
    if (wave.channels == 2) sample = (sample + UnsignedSample(bytes + wave.bits / 8, wave.bits)) >> 1;
    out.Put(kMulawCompress[sample]);
  }
  return true;
}

}  // namespace attachkit
