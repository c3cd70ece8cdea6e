// Mail sound formats: received audio/basic (Sun audio, or bare mu-law) made
// into 8-bit PCM for a wave file, and wave files made into Sun audio for
// sending. Both stream in bounded memory.
#ifndef QX_ATTACHKIT_AUDIO_H
#define QX_ATTACHKIT_AUDIO_H

#include <array>
#include <cstdint>
#include <optional>

#include "codec.h"
#include "input.h"

namespace attachkit {

// Unsigned 8-bit PCM as written into a wave file.
struct PcmFormat {
  uint32_t rate = 8000;
  uint16_t channels = 1;
};

constexpr size_t kWaveHeaderSize = 44;
// RIFF "WAVE" header with one "fmt " chunk (PCM, 8 bits) and the "data"
// chunk's head, for data_bytes of samples.
std::array<uint8_t, kWaveHeaderSize> MakeWaveHeader(const PcmFormat &format, uint32_t data_bytes);

// Takes the decoded bytes of an audio/basic part and writes unsigned 8-bit
// PCM samples to sink. A part that begins with the Sun audio magic ".snd" is
// read by its header: the samples start at the header's own data offset, its
// data size (unless "unknown") bounds them, and its encoding (8-bit mu-law,
// 8-bit or 16-bit linear), rate and channels are used. Anything else is bare
// mu-law at 8000 Hz, one channel, as RFC 2046 defines audio/basic.
class AudioBasicExpander final : public ByteSink {
 public:
  explicit AudioBasicExpander(ByteSink &sink) : out_(sink) {}
  bool Write(const uint8_t *data, size_t size) override;
  // Hands the samples made so far to the sink (a player that plays while the
  // stream arrives); false when the sink refused.
  bool Flush() { return out_.Flush(); }
  // Ends the stream. False when the sink refused, or when the header names an
  // encoding, rate or channel count that cannot be played.
  bool Finish();
  bool supported() const { return state_ != State::kRefused; }
  const PcmFormat &format() const { return format_; }
  uint64_t sample_bytes() const { return samples_; }

 private:
  enum class State { kSniff, kSkip, kData, kRefused };
  enum class Coding { kMulaw, kLinear8, kLinear16 };
  void Decide(bool at_end);
  void Samples(const uint8_t *data, size_t size);
  void Sample(uint8_t s);

  OutputBuffer out_;
  State state_ = State::kSniff;
  Coding coding_ = Coding::kMulaw;
  PcmFormat format_;
  std::array<uint8_t, 24> head_{};
  size_t head_used_ = 0;
  uint64_t skip_ = 0;
  uint64_t remaining_ = UINT64_MAX;  // bytes of sample data the header allows
  uint64_t samples_ = 0;
  bool odd_byte_ = false;  // 16-bit linear: the low byte of a sample comes next
};

// A RIFF wave file that can be sent as Sun audio: PCM with 1 or 2 channels of
// 8 or 16 bits, 1000 to 192000 frames a second, the byte rate of those
// frames, and a data chunk.
struct WaveInfo {
  uint16_t channels = 0, blockAlign = 0, bits = 0;
  uint32_t rate = 0, bytesPerSecond = 0;
  uint64_t dataOffset = 0, dataSize = 0;  // the data chunk, cut to the bytes the file has
};
std::optional<WaveInfo> ReadWaveInfo(RandomReader &file, uint64_t file_size);

constexpr size_t kSunHeaderSize = 28;
// The Sun audio header of the format sent: 8-bit mu-law, 8000 Hz, one channel.
std::array<uint8_t, kSunHeaderSize> MakeSunHeader(uint32_t samples);

// Writes the Sun audio header and the wave's samples, as 8-bit mu-law at
// 8000 Hz mono, to out: 16-bit samples give their upper byte (made unsigned),
// two channels are averaged, and frames are dropped or repeated to reach
// 8000 Hz. Returns false when the file could not be read.
bool ConvertWaveToSun(RandomReader &file, const WaveInfo &wave, Base64LineWriter &out);

// How many 8000 Hz samples the conversion gives (the header's data size).
uint64_t SunSampleCount(const WaveInfo &wave);

}  // namespace attachkit

#endif
