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
#include <chrono>
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

// One sound asked for: its samples, consumed by SDL's audio thread while it plays.
struct Playback {
  enum State { kWaiting, kPlaying, kDone, kFailed };
  WaveImage image;
  bool loop = false;
  size_t offset = 0;
  bool finished = false;  // every sample handed to the device
  bool stop = false;      // stopped, or replaced by a newer sound
  State state = kWaiting;
  Uint8 silence = 0;
};

// The sounds share one player thread that owns the device: it opens the
// device for a sound, closes it when the sound ends or another is asked for,
// then opens it for the next. A caller never waits for a device to close
// (SDL lets it drain for two periods more, and drivers with one output
// device, such as dummy and disk, refuse a second open meanwhile), so a
// stream of beeps neither fails nor holds up the program beeping.
struct Player {
  std::mutex lock;
  std::condition_variable changed;
  std::shared_ptr<Playback> next;     // asked for, not yet opened
  std::shared_ptr<Playback> playing;  // on the open device
  bool running = false;               // the player thread is started
  bool busy = false;                  // it opens, plays or closes a device
};

// Never destroyed: the player thread waits on it until the process ends.
Player &ThePlayer() {
  static Player *player = new Player;
  return *player;
}

void Fill(void *self, Uint8 *stream, int len) {
  auto &sound = *static_cast<Playback *>(self);
  std::lock_guard guard(ThePlayer().lock);
  size_t want = static_cast<size_t>(len);
  while (want > 0 && !sound.stop && !sound.finished) {
    const size_t n = std::min(want, sound.image.data.size() - sound.offset);
    std::memcpy(stream, sound.image.data.data() + sound.offset, n);
    stream += n;
    want -= n;
    sound.offset += n;
    if (sound.offset >= sound.image.data.size()) {
      if (sound.loop && !sound.image.data.empty()) {
        sound.offset = 0;
      } else {
        sound.finished = true;
        ThePlayer().changed.notify_all();
      }
    }
  }
  if (want) std::memset(stream, sound.silence, want);
}

// Plays one sound on a device of its own; called on the player thread
// without the lock held (SDL's audio thread takes it in Fill).
void PlayOne(Player &p, const std::shared_ptr<Playback> &sound) {
  SDL_AudioSpec spec, have{};
  SpecOf(sound->image.format, spec);
  spec.callback = &Fill;
  spec.userdata = sound.get();
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &spec, &have, 0);
  std::unique_lock guard(p.lock);
  if (!device) {
    Trace("sound: cannot open the playback device (%s)", SDL_GetError());
    sound->state = Playback::kFailed;
    p.changed.notify_all();
    return;
  }
  sound->silence = have.silence;
  sound->finished = sound->image.data.empty();
  sound->state = Playback::kPlaying;
  p.playing = sound;
  guard.unlock();
  SDL_PauseAudioDevice(device, 0);
  guard.lock();
  const auto interrupted = [&] { return sound->stop || p.next != nullptr; };
  p.changed.wait(guard, [&] { return sound->finished || interrupted(); });
  // The device plays its last period before it is closed, unless interrupted.
  const auto last_period = std::chrono::milliseconds(1000u * spec.samples / static_cast<unsigned>(spec.freq) + 20);
  if (!interrupted()) p.changed.wait_for(guard, last_period, interrupted);
  sound->stop = true;
  guard.unlock();
  SDL_CloseAudioDevice(device);
  guard.lock();
  p.playing.reset();
  sound->state = Playback::kDone;
  p.changed.notify_all();
}

void PlayerThread() {
  Player &p = ThePlayer();
  std::unique_lock guard(p.lock);
  for (;;) {
    p.changed.wait(guard, [&] { return p.next != nullptr; });
    std::shared_ptr<Playback> sound = std::move(p.next);
    p.busy = true;
    guard.unlock();
    PlayOne(p, sound);
    guard.lock();
    p.busy = false;
  }
}

// A sound asked for but not yet opened, replaced or stopped: it is done.
void DropWaiting(Player &p) {
  if (!p.next) return;
  p.next->stop = true;
  p.next->state = Playback::kDone;
  p.next.reset();
}

}  // namespace

void StopSound() {
  Player &p = ThePlayer();
  std::unique_lock guard(p.lock);
  DropWaiting(p);
  if (!p.playing) return;
  p.playing->stop = true;
  p.changed.notify_all();
  // The device is closed when this returns, free for a wave device.
  p.changed.wait(guard, [&] { return p.playing == nullptr; });
}

bool SoundPlaying() {
  Player &p = ThePlayer();
  std::lock_guard guard(p.lock);
  return p.next || (p.playing && !p.playing->finished && !p.playing->stop);
}

bool PlayImage(WaveImage image, bool wait, bool loop) {
  SDL_AudioSpec spec;
  if (!SpecOf(image.format, spec) || !AudioReady()) return false;
  auto sound = std::make_shared<Playback>();
  sound->image = std::move(image);
  sound->loop = loop && !wait;
  Player &p = ThePlayer();
  std::unique_lock guard(p.lock);
  if (!p.running) {
    std::thread(PlayerThread).detach();
    p.running = true;
  }
  // With the device free the caller learns whether it opens; behind a
  // sound still on the device, the new one waits there and the caller not.
  const bool device_free = !p.busy;
  DropWaiting(p);
  if (p.playing) p.playing->stop = true;  // silent from its next period on
  p.next = sound;
  p.changed.notify_all();
  if (wait || device_free) {
    p.changed.wait(guard, [&] {
      return sound->state == Playback::kDone || sound->state == Playback::kFailed ||
             (!wait && sound->state == Playback::kPlaying);
    });
  }
  return sound->state != Playback::kFailed;
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
