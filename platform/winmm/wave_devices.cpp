// Wave output and input devices over SDL2 audio devices.
//
// A device handle (HWAVEOUT, HWAVEIN) is a table handle on an open SDL device
// with the caller's exact PCM format (SDL converts to the hardware's). Queued
// WAVEHDRs are consumed (output) or filled (input) by SDL's audio thread in
// its callback; a finished buffer is marked WHDR_DONE, taken out of the queue
// and reported the way the device was opened for: MM_WOM_DONE / MM_WIM_DATA
// posted to a window or a thread, a callback function (called on the audio
// thread, as Windows calls it on a system thread), or an event set. Output
// plays silence while nothing is queued.
#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

#include "qx/env.h"
#include "qx/handles.h"
#include "winmm_internal.h"

namespace qx::winmm {
namespace {

struct Notifier {
  DWORD kind = CALLBACK_NULL;
  DWORD_PTR target = 0;  // window, thread id, function or event
  DWORD_PTR instance = 0;

  void Send(HANDLE device, UINT msg, DWORD_PTR param) const {
    switch (kind) {
      case CALLBACK_WINDOW:
        PostMessageA(reinterpret_cast<HWND>(target), msg, reinterpret_cast<WPARAM>(device), static_cast<LPARAM>(param));
        break;
      case CALLBACK_THREAD:
        PostThreadMessageA(static_cast<DWORD>(target), msg, reinterpret_cast<WPARAM>(device),
                           static_cast<LPARAM>(param));
        break;
      case CALLBACK_FUNCTION: reinterpret_cast<LPWAVECALLBACK>(target)(device, msg, instance, param, 0); break;
      case CALLBACK_EVENT: SetEvent(reinterpret_cast<HANDLE>(target)); break;
      default: break;
    }
  }
};

class WaveDevice : public KernelObject {
 public:
  WaveDevice(bool capture, const WAVEFORMATEX &format, Notifier notifier)
      : KernelObject(ObjectKind::Other), capture_(capture), format_(format), notifier_(notifier) {}
  ~WaveDevice() override {
    if (device_) SDL_CloseAudioDevice(device_);
  }

  bool capture() const { return capture_; }

  // Opens the SDL device; MMSYSERR_ code.
  MMRESULT Open(const char *name, const SDL_AudioSpec &want) {
    SDL_AudioSpec spec = want;
    spec.callback = capture_ ? &WaveDevice::CaptureThunk : &WaveDevice::PlayThunk;
    spec.userdata = this;
    SDL_AudioSpec have{};
    device_ = SDL_OpenAudioDevice(name, capture_ ? 1 : 0, &spec, &have, 0);
    if (!device_) {
      Trace("sound: cannot open the %s device (%s)", capture_ ? "recording" : "playback", SDL_GetError());
      return MMSYSERR_ALLOCATED;
    }
    silence_ = have.silence;
    return MMSYSERR_NOERROR;
  }
  void set_handle(HANDLE h) { handle_ = h; }
  void Notify(UINT msg, DWORD_PTR param) const { notifier_.Send(handle_, msg, param); }

  MMRESULT Queue(WAVEHDR *hdr) {
    if (!(hdr->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (hdr->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    {
      SDL_LockAudioDevice(device_);
      hdr->dwFlags = (hdr->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
      if (capture_) hdr->dwBytesRecorded = 0;
      queue_.push_back(hdr);
      SDL_UnlockAudioDevice(device_);
    }
    if (!capture_ && !paused_) SDL_PauseAudioDevice(device_, 0);  // output starts with its first buffer
    return MMSYSERR_NOERROR;
  }

  bool Busy() {
    SDL_LockAudioDevice(device_);
    const bool busy = !queue_.empty();
    SDL_UnlockAudioDevice(device_);
    return busy;
  }

  // Output: pauses or resumes. Input: starts or stops recording.
  void Run(bool on) {
    paused_ = !on;
    SDL_PauseAudioDevice(device_, on ? 0 : 1);
  }

  // Input stop: the buffer being filled is returned with what it holds.
  void StopRecording() {
    Run(false);
    SDL_LockAudioDevice(device_);
    if (!queue_.empty() && queue_.front()->dwBytesRecorded > 0) Finish();
    SDL_UnlockAudioDevice(device_);
  }

  // Every queued buffer comes back marked done; the position starts again.
  void Reset() {
    if (capture_) Run(false);
    SDL_LockAudioDevice(device_);
    while (!queue_.empty()) Finish();
    offset_ = 0;
    position_ = 0;
    SDL_UnlockAudioDevice(device_);
  }

  DWORD Position() {
    SDL_LockAudioDevice(device_);
    const DWORD p = position_;
    SDL_UnlockAudioDevice(device_);
    return p;
  }
  const WAVEFORMATEX &format() const { return format_; }

 private:
  static void PlayThunk(void *self, Uint8 *stream, int len) { static_cast<WaveDevice *>(self)->Play(stream, len); }
  static void CaptureThunk(void *self, Uint8 *stream, int len) { static_cast<WaveDevice *>(self)->Record(stream, len); }

  // Called with the device locked (SDL's callback, or under SDL_LockAudioDevice).
  void Finish() {
    WAVEHDR *hdr = queue_.front();
    queue_.pop_front();
    offset_ = 0;
    hdr->dwFlags = (hdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    Notify(capture_ ? MM_WIM_DATA : MM_WOM_DONE, reinterpret_cast<DWORD_PTR>(hdr));
  }

  void Play(Uint8 *stream, int len) {
    size_t want = static_cast<size_t>(len);
    while (want > 0 && !queue_.empty()) {
      WAVEHDR *hdr = queue_.front();
      const size_t left = hdr->dwBufferLength - std::min<size_t>(offset_, hdr->dwBufferLength);
      const size_t n = std::min(left, want);
      if (n) std::memcpy(stream, hdr->lpData + offset_, n);
      stream += n;
      want -= n;
      offset_ += n;
      position_ += static_cast<DWORD>(n);
      if (offset_ >= hdr->dwBufferLength) Finish();
    }
    if (want) std::memset(stream, silence_, want);
  }

  void Record(Uint8 *stream, int len) {
    size_t have = static_cast<size_t>(len);
    while (have > 0 && !queue_.empty()) {
      WAVEHDR *hdr = queue_.front();
      const size_t room = hdr->dwBufferLength - std::min(hdr->dwBytesRecorded, hdr->dwBufferLength);
      const size_t n = std::min(room, have);
      if (n) std::memcpy(hdr->lpData + hdr->dwBytesRecorded, stream, n);
      hdr->dwBytesRecorded += static_cast<DWORD>(n);
      stream += n;
      have -= n;
      position_ += static_cast<DWORD>(n);
      if (hdr->dwBytesRecorded >= hdr->dwBufferLength) Finish();
    }
    // Samples with no buffer to take them are lost, as on Windows.
  }

  const bool capture_;
  const WAVEFORMATEX format_;
  const Notifier notifier_;
  HANDLE handle_ = nullptr;
  SDL_AudioDeviceID device_ = 0;
  Uint8 silence_ = 0;
  bool paused_ = false;
  std::deque<WAVEHDR *> queue_;  // guarded by the SDL device lock
  size_t offset_ = 0;            // output: bytes of the head buffer already played
  DWORD position_ = 0;           // bytes played or recorded since open or reset
};

std::shared_ptr<WaveDevice> DeviceOf(HANDLE h, bool capture) {
  auto d = Lookup<WaveDevice>(h, ObjectKind::Other);
  return d && d->capture() == capture ? d : nullptr;
}

MMRESULT OpenDevice(bool capture, HANDLE *out, UINT id, LPCWAVEFORMATEX format, DWORD_PTR callback, DWORD_PTR instance,
                    DWORD flags) {
  if (!format) return MMSYSERR_INVALPARAM;
  const DWORD kind = flags & CALLBACK_TYPEMASK;
  if (kind != CALLBACK_NULL && kind != CALLBACK_WINDOW && kind != CALLBACK_THREAD && kind != CALLBACK_FUNCTION &&
      kind != CALLBACK_EVENT)
    return MMSYSERR_INVALFLAG;
  if (kind != CALLBACK_NULL && !callback) return MMSYSERR_INVALPARAM;
  if (kind == CALLBACK_WINDOW && !IsWindow(reinterpret_cast<HWND>(callback))) return MMSYSERR_INVALPARAM;
  SDL_AudioSpec spec;
  if (!SpecOf(*format, spec)) return WAVERR_BADFORMAT;
  if (!AudioReady()) return MMSYSERR_NODRIVER;
  const char *name = nullptr;
  if (!DeviceName(id, capture, name)) return MMSYSERR_BADDEVICEID;
  const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
  if (!query && !out) return MMSYSERR_INVALPARAM;
  auto device = std::make_shared<WaveDevice>(capture, *format, Notifier{kind, callback, instance});
  // A query opens the device too: only that shows a recording device is there.
  if (MMRESULT r = device->Open(name, spec)) return r;
  if (query) return MMSYSERR_NOERROR;
  HANDLE h = InsertHandle(device);
  if (!h) return MMSYSERR_NOMEM;
  device->set_handle(h);
  *out = h;
  device->Notify(capture ? MM_WIM_OPEN : MM_WOM_OPEN, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT Close(HANDLE h, bool capture) {
  auto device = DeviceOf(h, capture);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (device->Busy()) return WAVERR_STILLPLAYING;
  RemoveHandle(h);
  device->Notify(capture ? MM_WIM_CLOSE : MM_WOM_CLOSE, 0);
  return MMSYSERR_NOERROR;
}

MMRESULT Prepare(HANDLE h, bool capture, WAVEHDR *hdr, UINT size, bool prepare) {
  if (!DeviceOf(h, capture)) return MMSYSERR_INVALHANDLE;
  if (!hdr || size < sizeof(WAVEHDR) || (prepare && !hdr->lpData && hdr->dwBufferLength)) return MMSYSERR_INVALPARAM;
  if (prepare) {
    hdr->dwFlags |= WHDR_PREPARED;
  } else {
    if (hdr->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    hdr->dwFlags &= ~WHDR_PREPARED;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT Enqueue(HANDLE h, bool capture, WAVEHDR *hdr, UINT size) {
  auto device = DeviceOf(h, capture);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (!hdr || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
  return device->Queue(hdr);
}

MMRESULT Position(HANDLE h, bool capture, MMTIME *t, UINT size) {
  auto device = DeviceOf(h, capture);
  if (!device) return MMSYSERR_INVALHANDLE;
  if (!t || size < sizeof(MMTIME)) return MMSYSERR_INVALPARAM;
  const DWORD bytes = device->Position();
  const WAVEFORMATEX &f = device->format();
  switch (t->wType) {
    case TIME_SAMPLES: t->u.sample = bytes / f.nBlockAlign; break;
    case TIME_MS: t->u.ms = static_cast<DWORD>(std::uint64_t{bytes} * 1000 / f.nAvgBytesPerSec); break;
    default:
      t->wType = TIME_BYTES;
      t->u.cb = bytes;
      break;
  }
  return MMSYSERR_NOERROR;
}

UINT CountDevices(bool capture) {
  if (!AudioReady()) return 0;
  const int n = SDL_GetNumAudioDevices(capture ? 1 : 0);
  // Drivers that only have a default device (disk, dummy) list none.
  return n > 0 ? static_cast<UINT>(n) : 1;
}

template <class Caps>
MMRESULT Capabilities(UINT_PTR id, bool capture, Caps *caps, UINT size) {
  if (!caps || size < sizeof(Caps)) return MMSYSERR_INVALPARAM;
  if (!AudioReady()) return MMSYSERR_NODRIVER;
  const char *name = nullptr;
  if (!DeviceName(static_cast<UINT>(id), capture, name)) return MMSYSERR_BADDEVICEID;
  std::memset(caps, 0, sizeof *caps);
  caps->vDriverVersion = 0x0100;
  std::snprintf(caps->szPname, sizeof caps->szPname, "%s", name ? name : "Default sound device");
  caps->dwFormats = 0xFFF;  // every rate, size and channel count of the table
  caps->wChannels = 2;
  return MMSYSERR_NOERROR;
}

}  // namespace
}  // namespace qx::winmm

using namespace qx::winmm;

extern "C" {

UINT WINAPI waveOutGetNumDevs(void) { return CountDevices(false); }
UINT WINAPI waveInGetNumDevs(void) { return CountDevices(true); }

MMRESULT WINAPI waveOutGetDevCapsA(UINT_PTR id, LPWAVEOUTCAPSA caps, UINT size) {
  return Capabilities(id, false, caps, size);
}
MMRESULT WINAPI waveInGetDevCapsA(UINT_PTR id, LPWAVEINCAPSA caps, UINT size) {
  return Capabilities(id, true, caps, size);
}

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT phwo, UINT id, LPCWAVEFORMATEX format, DWORD_PTR callback, DWORD_PTR instance,
                            DWORD flags) {
  HANDLE h = nullptr;
  const MMRESULT r = OpenDevice(false, phwo ? &h : nullptr, id, format, callback, instance, flags);
  if (!r && phwo && !(flags & WAVE_FORMAT_QUERY)) *phwo = static_cast<HWAVEOUT>(h);
  return r;
}

MMRESULT WINAPI waveInOpen(LPHWAVEIN phwi, UINT id, LPCWAVEFORMATEX format, DWORD_PTR callback, DWORD_PTR instance,
                           DWORD flags) {
  HANDLE h = nullptr;
  const MMRESULT r = OpenDevice(true, phwi ? &h : nullptr, id, format, callback, instance, flags);
  if (!r && phwi && !(flags & WAVE_FORMAT_QUERY)) *phwi = static_cast<HWAVEIN>(h);
  return r;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT hwo) { return Close(hwo, false); }
MMRESULT WINAPI waveInClose(HWAVEIN hwi) { return Close(hwi, true); }

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
  return Prepare(hwo, false, pwh, cbwh, true);
}
MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) {
  return Prepare(hwo, false, pwh, cbwh, false);
}
MMRESULT WINAPI waveInPrepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
  return Prepare(hwi, true, pwh, cbwh, true);
}
MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) {
  return Prepare(hwi, true, pwh, cbwh, false);
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh) { return Enqueue(hwo, false, pwh, cbwh); }
MMRESULT WINAPI waveInAddBuffer(HWAVEIN hwi, LPWAVEHDR pwh, UINT cbwh) { return Enqueue(hwi, true, pwh, cbwh); }

MMRESULT WINAPI waveOutPause(HWAVEOUT hwo) {
  auto d = DeviceOf(hwo, false);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Run(false);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutRestart(HWAVEOUT hwo) {
  auto d = DeviceOf(hwo, false);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Run(true);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutReset(HWAVEOUT hwo) {
  auto d = DeviceOf(hwo, false);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Reset();
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInStart(HWAVEIN hwi) {
  auto d = DeviceOf(hwi, true);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Run(true);
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInStop(HWAVEIN hwi) {
  auto d = DeviceOf(hwi, true);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->StopRecording();
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInReset(HWAVEIN hwi) {
  auto d = DeviceOf(hwi, true);
  if (!d) return MMSYSERR_INVALHANDLE;
  d->Reset();
  return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutGetPosition(HWAVEOUT hwo, LPMMTIME t, UINT size) { return Position(hwo, false, t, size); }
MMRESULT WINAPI waveInGetPosition(HWAVEIN hwi, LPMMTIME t, UINT size) { return Position(hwi, true, t, size); }

}  // extern "C"
