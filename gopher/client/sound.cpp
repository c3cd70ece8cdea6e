// Sound items played while they arrive (see sound.h). The first bytes tell
// the form: ".snd" is Sun audio, read by its own header (data offset,
// encoding, rate, channels) through the mail library's expander; "RIFF" ...
// "WAVE" is a wave file whose PCM data is played as it stands; anything else
// is bare mu-law after 28 bytes. The device is opened for the sound's own
// format once that is known.
#include "sound.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "audio.h"
#include "gophercore.h"

#include <mmsystem.h>

namespace {

// The first bytes kept to tell the form; a wave file's chunks before its
// samples are kept up to this many bytes.
constexpr size_t kSniffBytes = 12;
constexpr size_t kMaxWaveHead = 64 * 1024;
// Bare mu-law: the bytes dropped before the samples.
constexpr size_t kBareSkip = 28;
// How long past the sound's own length the end is waited for.
constexpr DWORD kDrainSlackMs = 5000;

struct SoundBuffer {
  WAVEHDR header{};
  std::vector<uint8_t> samples;
  size_t filled = 0;
};

enum class Form { kSniff, kSun, kBare, kWave, kRefused };

class Player;

// The expander's samples go to the player's buffers.
class BufferSink final : public attachkit::ByteSink {
 public:
  explicit BufferSink(Player &player) : player_(player) {}
  bool Write(const uint8_t *data, size_t size) override;

 private:
  Player &player_;
};

class Player {
 public:
  explicit Player(int seconds) : seconds_(seconds), sink_(*this), expander_(sink_) {}
  ~Player() { Close(false); }

  void Feed(const uint8_t *data, size_t n);
  void Finish(bool completed);
  // Samples of the current format into the buffers and to the device.
  bool Samples(const uint8_t *data, size_t n);
  const std::vector<size_t> &written() const { return written_; }

 private:
  void Sniff(const uint8_t *data, size_t n, size_t *used);
  void Decide();
  void FeedWave(const uint8_t *data, size_t n);
  bool OpenDevice(const WAVEFORMATEX &format);
  void FreeDoneBuffers();
  void WriteFilling();
  void Close(bool drain);
  void Refuse(const std::string &why);

  int seconds_;
  Form form_ = Form::kSniff;
  std::string head_;  // sniffed bytes, then a wave file's chunks
  size_t skip_ = 0;   // bare mu-law: bytes still to drop
  uint64_t waveLeft_ = 0;
  BufferSink sink_;
  attachkit::AudioBasicExpander expander_;
  HWAVEOUT device_ = nullptr;
  size_t bufferBytes_ = 0, secondBytes_ = 0;
  std::deque<std::unique_ptr<SoundBuffer>> queue_;
  std::unique_ptr<SoundBuffer> filling_;
  uint64_t queuedBytes_ = 0;
  std::vector<size_t> written_;
  std::string problem_;
};

std::unique_ptr<Player> g_Player;
std::vector<size_t> g_LastWritten;

bool BufferSink::Write(const uint8_t *data, size_t size) { return player_.Samples(data, size); }

void Player::Refuse(const std::string &why) {
  if (problem_.empty()) problem_ = why;
  form_ = Form::kRefused;
}

void Player::Feed(const uint8_t *data, size_t n) {
  size_t used = 0;
  if (form_ == Form::kSniff) Sniff(data, n, &used);
  data += used;
  n -= used;
  if (n == 0) return;
  switch (form_) {
    case Form::kSun:
    case Form::kBare: {
      if (form_ == Form::kBare && skip_ > 0) {
        const size_t drop = std::min(skip_, n);
        skip_ -= drop;
        data += drop;
        n -= drop;
      }
      if (n == 0) return;
      expander_.Write(data, n);
      expander_.Flush();  // each block is heard as it arrives
      if (!expander_.supported())
        Refuse("its Sun audio header names an encoding, rate or channel count this program cannot play");
      return;
    }
    case Form::kWave: FeedWave(data, n); return;
    case Form::kSniff:
    case Form::kRefused: return;
  }
}

// Keeps the first bytes until the form is known, then passes them on.
void Player::Sniff(const uint8_t *data, size_t n, size_t *used) {
  const size_t take = std::min(n, kSniffBytes - head_.size());
  head_.append(reinterpret_cast<const char *>(data), take);
  *used = take;
  const bool riff = head_.size() >= 4 && head_.compare(0, 4, "RIFF") == 0;
  if (head_.size() < kSniffBytes && (head_.size() < 4 || riff)) return;
  Decide();
}

void Player::Decide() {
  std::string sniffed;
  sniffed.swap(head_);  // head_ is left empty
  if (sniffed.size() >= 4 && sniffed.compare(0, 4, ".snd") == 0) {
    form_ = Form::kSun;
  } else if (sniffed.size() >= kSniffBytes && sniffed.compare(0, 4, "RIFF") == 0 &&
             sniffed.compare(8, 4, "WAVE") == 0) {
    form_ = Form::kWave;
  } else {
    form_ = Form::kBare;
    skip_ = kBareSkip;
  }
  Feed(reinterpret_cast<const uint8_t *>(sniffed.data()), sniffed.size());
}

// A wave file: its chunks are kept until the format and the data chunk are
// read, then the data chunk's samples are played as they stand.
void Player::FeedWave(const uint8_t *data, size_t n) {
  if (!device_) {
    head_.append(reinterpret_cast<const char *>(data), n);
    attachkit::MemoryReader reader(head_);
    // The file's size is not known yet: the data chunk's own length holds.
    const auto info = attachkit::ReadWaveInfo(reader, uint64_t{1} << 62);
    if (!info) {
      if (head_.size() > kMaxWaveHead)
        Refuse("it is a wave file whose samples are not plain PCM of 8 or 16 bits (or its header is damaged)");
      return;
    }
    WAVEFORMATEX format{WAVE_FORMAT_PCM,  info->channels, info->rate, info->bytesPerSecond,
                        info->blockAlign, info->bits,     0};
    if (!OpenDevice(format)) return;
    waveLeft_ = info->dataSize;
    const std::string held = std::move(head_);
    head_.clear();
    if (info->dataOffset >= held.size()) return;
    data = reinterpret_cast<const uint8_t *>(held.data()) + info->dataOffset;
    n = held.size() - static_cast<size_t>(info->dataOffset);
    const size_t take = static_cast<size_t>(std::min<uint64_t>(n, waveLeft_));
    waveLeft_ -= take;
    Samples(data, take);
    return;
  }
  const size_t take = static_cast<size_t>(std::min<uint64_t>(n, waveLeft_));
  waveLeft_ -= take;
  Samples(data, take);
}

bool Player::OpenDevice(const WAVEFORMATEX &format) {
  if (waveOutOpen(&device_, WAVE_MAPPER, &format, 0, 0, WAVE_ALLOWSYNC) != MMSYSERR_NOERROR) {
    device_ = nullptr;
    Refuse("the sound device cannot play " + std::to_string(format.nSamplesPerSec) + " samples a second of " +
           std::to_string(format.wBitsPerSample) + " bits in " + std::to_string(format.nChannels) + " channel(s)");
    return false;
  }
  secondBytes_ = format.nAvgBytesPerSec;
  bufferBytes_ = static_cast<size_t>(seconds_) * secondBytes_;
  return true;
}

bool Player::Samples(const uint8_t *data, size_t n) {
  if (form_ == Form::kRefused) return false;
  if (!device_ && form_ != Form::kWave) {
    // The expander decided the format before its first sample.
    const attachkit::PcmFormat &pcm = expander_.format();
    WAVEFORMATEX format{WAVE_FORMAT_PCM, pcm.channels, pcm.rate, pcm.rate * pcm.channels, pcm.channels, 8, 0};
    if (!OpenDevice(format)) return false;
  }
  if (!device_) return false;
  FreeDoneBuffers();
  while (n > 0) {
    if (!filling_) {
      filling_ = std::make_unique<SoundBuffer>();
      filling_->samples.resize(bufferBytes_);
    }
    // While the device plays, a second's worth goes out as soon as it is
    // here; after it ran dry, the whole pre-buffer again.
    const size_t goal = queue_.empty() ? bufferBytes_ : std::min(bufferBytes_, secondBytes_);
    const size_t take = std::min(n, goal - std::min(goal, filling_->filled));
    std::memcpy(filling_->samples.data() + filling_->filled, data, take);
    filling_->filled += take;
    data += take;
    n -= take;
    if (filling_->filled >= goal) WriteFilling();
  }
  return true;
}

void Player::FreeDoneBuffers() {
  while (!queue_.empty() && (queue_.front()->header.dwFlags & WHDR_DONE)) {
    waveOutUnprepareHeader(device_, &queue_.front()->header, sizeof(WAVEHDR));
    queue_.pop_front();
  }
}

void Player::WriteFilling() {
  if (!filling_ || filling_->filled == 0) return;
  std::unique_ptr<SoundBuffer> buffer = std::move(filling_);
  buffer->samples.resize(buffer->filled);
  buffer->samples.shrink_to_fit();
  buffer->header.lpData = reinterpret_cast<LPSTR>(buffer->samples.data());
  buffer->header.dwBufferLength = static_cast<DWORD>(buffer->filled);
  if (waveOutPrepareHeader(device_, &buffer->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR ||
      waveOutWrite(device_, &buffer->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
    waveOutUnprepareHeader(device_, &buffer->header, sizeof(WAVEHDR));
    Refuse("the sound device refused the samples");
    return;
  }
  written_.push_back(buffer->filled);
  queuedBytes_ += buffer->filled;
  queue_.push_back(std::move(buffer));
}

// Waits for the device to play what it holds (drain), or stops it, then
// unprepares and frees every buffer and closes the device.
void Player::Close(bool drain) {
  if (!device_) return;
  if (drain) {
    const DWORD limit = static_cast<DWORD>(queuedBytes_ * 1000 / std::max<size_t>(1, secondBytes_)) + kDrainSlackMs;
    const DWORD start = GetTickCount();
    while (true) {
      FreeDoneBuffers();
      if (queue_.empty() || GetTickCount() - start > limit) break;
      Sleep(20);
    }
  }
  waveOutReset(device_);  // whatever is still queued comes back done
  FreeDoneBuffers();
  waveOutClose(device_);
  device_ = nullptr;
  queue_.clear();
}

void Player::Finish(bool completed) {
  if (form_ == Form::kSniff && completed) Decide();
  if (form_ == Form::kWave && !device_ && completed)
    Refuse("it is a wave file whose samples are not plain PCM of 8 or 16 bits (or its header is damaged)");
  if (completed && (form_ == Form::kSun || form_ == Form::kBare) && expander_.Finish() == false &&
      !expander_.supported())
    Refuse("its Sun audio header names an encoding, rate or channel count this program cannot play");
  if (completed && form_ != Form::kRefused) WriteFilling();
  HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  Close(completed && form_ != Form::kRefused);
  SetCursor(old);
  if (!problem_.empty()) {
    const std::string text = "The sound could not be played: " + problem_ +
                             ".  To keep such a sound, choose Save To File in the Sound menu and open the item again.";
    Ui().Message(text.c_str(), "burrowview", MB_OK | MB_ICONEXCLAMATION);
  }
}

}  // namespace

int SoundOpen(int seconds) {
  g_Player.reset();
  g_LastWritten.clear();
  if (seconds <= 0) return 0;
  // The device is opened for the sound's own format once its header is
  // read; here it is only asked whether it would play the plain form.
  const WAVEFORMATEX plain{WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
  if (waveOutOpen(nullptr, WAVE_MAPPER, &plain, 0, 0, WAVE_FORMAT_QUERY | WAVE_ALLOWSYNC) != MMSYSERR_NOERROR) return 0;
  g_Player = std::make_unique<Player>(seconds);
  return 1;
}

void SoundFeed(const char *bytes, int count) {
  if (g_Player && count > 0) g_Player->Feed(reinterpret_cast<const uint8_t *>(bytes), static_cast<size_t>(count));
}

void SoundFinish(bool completed) {
  if (!g_Player) return;
  g_Player->Finish(completed);
  g_LastWritten = g_Player->written();
  g_Player.reset();
}

const std::vector<size_t> &SoundWrittenSizes() { return g_Player ? g_Player->written() : g_LastWritten; }
