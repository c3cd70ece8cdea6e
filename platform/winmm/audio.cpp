// SDL2's audio subsystem for the wave devices and the simple sounds. The
// driver is SDL's choice (PulseAudio, PipeWire, ALSA, ...) unless
// SDL_AUDIODRIVER names one; tests use "disk" (samples to and from files) and
// "dummy". Device 0 and WAVE_MAPPER are the default device; the others are
// SDL's devices in its order.
#include <mutex>

#include "qx/env.h"
#include "winmm_internal.h"

namespace qx::winmm {

bool AudioReady() {
  static const bool ready = [] {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      Trace("sound: no audio driver (%s); wave devices report none", SDL_GetError());
      return false;
    }
    Trace("sound: SDL audio driver \"%s\"", SDL_GetCurrentAudioDriver());
    return true;
  }();
  return ready;
}

bool DeviceName(UINT id, bool capture, const char *&name) {
  name = nullptr;
  if (id == WAVE_MAPPER || id == 0) return true;
  const int count = SDL_GetNumAudioDevices(capture ? 1 : 0);
  if (static_cast<int>(id) >= count || count < 0) return false;
  name = SDL_GetAudioDeviceName(static_cast<int>(id), capture ? 1 : 0);
  return name != nullptr;
}

bool SpecOf(const WAVEFORMATEX &f, SDL_AudioSpec &spec) {
  if (f.wFormatTag != WAVE_FORMAT_PCM || f.nChannels < 1 || f.nChannels > 2 ||
      (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) || f.nSamplesPerSec < 1000 || f.nSamplesPerSec > 192000 ||
      f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8)
    return false;
  spec = SDL_AudioSpec{};
  spec.freq = static_cast<int>(f.nSamplesPerSec);
  spec.format = f.wBitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB;
  spec.channels = static_cast<Uint8>(f.nChannels);
  // About 50 ms a period, a power of two as SDL prefers.
  Uint16 samples = 256;
  while (samples < 4096 && samples * 20u < f.nSamplesPerSec) samples = static_cast<Uint16>(samples * 2);
  spec.samples = samples;
  return true;
}

}  // namespace qx::winmm
