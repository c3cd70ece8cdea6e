// The simple sound calls: sndPlaySound, PlaySound and the system sounds that
// MessageBeep plays.
//
// A sound is a RIFF WAVE image played on the default device, one at a time:
// a new sound stops the one playing (unless SND_NOSTOP). The system sounds
// are the WIN.INI [sounds] entries ("SystemAsterisk=chord.wav,Asterisk": the
// file before the comma). As on Windows, a sound that cannot be found plays
// the SystemDefault entry instead, unless SND_NODEFAULT; when that cannot be
// played either, nothing sounds and the call fails. MessageBeep plays its
// entry, else a short tone of its own pitch, and returns at once.
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "qx/env.h"
#include "qx/paths.h"
#include "winmm_internal.h"

namespace qx::winmm {
namespace {

// One sound being played: the samples, consumed by SDL's audio thread.
struct Playback {
  WaveImage image;
  bool loop = false;
  size_t offset = 0;
  bool finished = false;
  bool stop = false;
  std::mutex lock;
  std::condition_variable done;
  SDL_AudioDeviceID device = 0;
  Uint8 silence = 0;

  static void Fill(void *self, Uint8 *stream, int len) { static_cast<Playback *>(self)->Feed(stream, len); }
  void Feed(Uint8 *stream, int len) {
    std::lock_guard guard(lock);
    size_t want = static_cast<size_t>(len);
    while (want > 0 && !stop && !finished) {
      const size_t n = std::min(want, image.data.size() - offset);
      std::memcpy(stream, image.data.data() + offset, n);
      stream += n;
      want -= n;
      offset += n;
      if (offset >= image.data.size()) {
        if (loop && !image.data.empty()) {
          offset = 0;
        } else {
          finished = true;
          done.notify_all();
        }
      }
    }
    if (want) std::memset(stream, silence, want);
  }

  // Waits until the samples are out (or the sound is stopped), then lets the
  // device play its last period before it is closed.
  void WaitAndClose() {
    {
      std::unique_lock guard(lock);
      done.wait(guard, [&] { return finished || stop; });
    }
    if (!stop) {
      SDL_AudioSpec spec;
      SpecOf(image.format, spec);
      SDL_Delay(static_cast<Uint32>(1000u * spec.samples / static_cast<unsigned>(spec.freq)) + 20);
    }
    SDL_CloseAudioDevice(device);
  }
};

std::mutex g_current_lock;
std::shared_ptr<Playback> g_current;  // the sound playing in the background

}  // namespace

void StopSound() {
  std::shared_ptr<Playback> current;
  {
    std::lock_guard guard(g_current_lock);
    current.swap(g_current);
  }
  if (!current) return;
  {
    std::lock_guard guard(current->lock);
    current->stop = true;
  }
  current->done.notify_all();
}

bool SoundPlaying() {
  std::lock_guard guard(g_current_lock);
  if (!g_current) return false;
  std::lock_guard inner(g_current->lock);
  return !g_current->finished && !g_current->stop;
}

bool PlayImage(WaveImage image, bool wait, bool loop) {
  SDL_AudioSpec spec;
  if (!SpecOf(image.format, spec) || !AudioReady()) return false;
  StopSound();
  auto playback = std::make_shared<Playback>();
  playback->image = std::move(image);
  playback->loop = loop && !wait;
  spec.callback = &Playback::Fill;
  spec.userdata = playback.get();
  SDL_AudioSpec have{};
  playback->device = SDL_OpenAudioDevice(nullptr, 0, &spec, &have, 0);
  if (!playback->device) {
    Trace("sound: cannot open the playback device (%s)", SDL_GetError());
    return false;
  }
  playback->silence = have.silence;
  if (playback->image.data.empty()) playback->finished = true;
  SDL_PauseAudioDevice(playback->device, 0);
  if (wait) {
    playback->WaitAndClose();
    return true;
  }
  {
    std::lock_guard guard(g_current_lock);
    g_current = playback;
  }
  std::thread([playback] { playback->WaitAndClose(); }).detach();
  return true;
}

namespace {

// The file of a [sounds] entry, or "".
std::string SoundEntry(const char *name) {
  char value[MAX_PATH + 64] = "";
  GetProfileStringA("sounds", name, "", value, sizeof value);
  std::string file(value);
  const size_t comma = file.find(',');
  if (comma != std::string::npos) file.erase(comma);
  while (!file.empty() && file.back() == ' ') file.pop_back();
  return file;
}

// A WAVE file named by a Windows path; a bare name is also looked for in
// the Windows directory (MEDIA\ there too), as the system sounds are.
bool LoadNamedFile(const std::string &name, WaveImage &image) {
  std::vector<std::string> candidates{name};
  if (name.find_first_of("\\/:") == std::string::npos) {
    char windows[MAX_PATH];
    if (GetWindowsDirectoryA(windows, sizeof windows)) {
      candidates.push_back(std::string(windows) + "\\" + name);
      candidates.push_back(std::string(windows) + "\\MEDIA\\" + name);
    }
  }
  for (const std::string &c : candidates) {
    std::string host;
    DWORD error = 0;
    if (HostPath(c, host, error) && ReadWaveFile(host, image)) return true;
  }
  return false;
}

// A sound by the name a program gives: a [sounds] entry, else a file.
bool LoadSound(const char *name, WaveImage &image) {
  const std::string entry = SoundEntry(name);
  if (!entry.empty() && LoadNamedFile(entry, image)) return true;
  return LoadNamedFile(name, image);
}

// A short tone for a beep with no sound of its own: 8-bit samples at 22050 Hz.
WaveImage Tone(double hertz, int milliseconds) {
  WaveImage w;
  w.format = WAVEFORMATEX{WAVE_FORMAT_PCM, 1, 22050, 22050, 1, 8, 0};
  const int count = 22050 * milliseconds / 1000;
  w.data.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const double fade = std::min(1.0, std::min(i, count - i) / 200.0);  // no clicks at the ends
    const double v = std::sin(2 * M_PI * hertz * i / 22050.0) * 80.0 * fade;
    w.data[static_cast<size_t>(i)] = static_cast<std::uint8_t>(128 + static_cast<int>(v));
  }
  return w;
}

BOOL PlayNamed(const char *name, UINT flags, bool memory) {
  if (!name) {
    StopSound();
    return TRUE;
  }
  if ((flags & SND_NOSTOP) && SoundPlaying()) return FALSE;
  WaveImage image;
  bool found = false;
  if (memory) {
    // The image's length comes from its own RIFF header; at most 1 GiB is read.
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(name);
    if (std::memcmp(bytes, "RIFF", 4) == 0) {
      std::uint32_t size;
      std::memcpy(&size, bytes + 4, 4);
      found = size < (1u << 30) && ParseWave(bytes, size + 8u, image);
    }
  } else {
    found = LoadSound(name, image);
  }
  if (!found && !(flags & SND_NODEFAULT)) {
    const std::string fallback = SoundEntry("SystemDefault");
    found = !fallback.empty() && LoadNamedFile(fallback, image);
  }
  if (!found) {
    Trace("sound: \"%s\" cannot be played", memory ? "(memory image)" : name);
    return FALSE;
  }
  return PlayImage(std::move(image), !(flags & SND_ASYNC), (flags & SND_LOOP) != 0) ? TRUE : FALSE;
}

}  // namespace

// MessageBeep's sounds: its [sounds] entry, else a tone of its own.
BOOL PlaySystemBeep(UINT type) {
  struct Beep {
    UINT type;
    const char *entry;
    double hertz;
  };
  static const Beep kBeeps[] = {
      {MB_OK, "SystemDefault", 880},
      {MB_ICONHAND, "SystemHand", 440},
      {MB_ICONQUESTION, "SystemQuestion", 660},
      {MB_ICONEXCLAMATION, "SystemExclamation", 587},
      {MB_ICONASTERISK, "SystemAsterisk", 784},
  };
  const Beep *beep = &kBeeps[0];
  for (const Beep &b : kBeeps)
    if (b.type == (type & 0xF0)) beep = &b;
  WaveImage image;
  if (type == 0xFFFFFFFF || !LoadNamedFile(SoundEntry(beep->entry), image)) image = Tone(beep->hertz, 150);
  return PlayImage(std::move(image), false, false) ? TRUE : FALSE;
}

}  // namespace qx::winmm

using namespace qx::winmm;

extern "C" {

BOOL WINAPI sndPlaySoundA(LPCSTR pszSound, UINT fuSound) {
  return PlayNamed(pszSound, fuSound, (fuSound & SND_MEMORY) != 0);
}

BOOL WINAPI PlaySoundA(LPCSTR pszSound, HMODULE hmod, DWORD fdwSound) {
  (void)hmod;  // sounds in resources are not used by the suite
  return PlayNamed(pszSound, fdwSound & 0xFFFF, (fdwSound & SND_MEMORY) != 0);
}

// Called by the core's MessageBeep (looked up by name when the core first beeps).
__attribute__((visibility("default"))) BOOL qxwinmm_MessageBeep(UINT type) { return PlaySystemBeep(type); }

}  // extern "C"
