// Opening a decoded picture with the desktop's viewer and playing a decoded
// sound on the wave output device (see present.h).
#include "present.h"

#include <windows.h>

#include <array>
#include <cstring>
#include <vector>

#include "module.h"

namespace attachkit {

namespace {

// The folder a viewer starts in: the user's temp folder (made when TEMP names
// one not there yet), else the Windows directory. Never the mail client's own
// working directory, its mail directory, where a viewer's files would land
// among the mailbox's.
std::string ViewerFolder() {
  char folder[MAX_PATH] = "";
  const DWORD n = GetTempPathA(sizeof folder, folder);
  if (n > 0 && n < sizeof folder) {
    CreateDirectoryA(folder, nullptr);
    const DWORD attributes = GetFileAttributesA(folder);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return folder;
  }
  const UINT w = GetWindowsDirectoryA(folder, sizeof folder);
  return w > 0 && w < sizeof folder ? std::string(folder) : std::string();
}

}  // namespace

bool OpenWithShell(const std::string &path) {
  const std::string folder = ViewerFolder();
  if (folder.empty()) return false;  // no folder to start in but the mail directory
  const HINSTANCE result = ShellExecuteA(nullptr, "open", path.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL);
  return reinterpret_cast<uintptr_t>(result) > 32;
}

namespace {

uint32_t Little32(const uint8_t *p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The sound streams through a few buffers that the device hands back one by
// one, so a recording of any length plays in the same memory.
constexpr size_t kBuffers = 3;
constexpr size_t kBufferBytes = 16384;

class WaveOutput {
 public:
  ~WaveOutput() { Close(); }
  bool Open(const PcmFormat &format) {
    done_.Reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    if (!done_.valid()) return false;
    WAVEFORMATEX wf{};
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = format.channels;
    wf.nSamplesPerSec = format.rate;
    wf.nAvgBytesPerSec = format.rate * format.channels;
    wf.nBlockAlign = format.channels;
    wf.wBitsPerSample = 8;
    bytes_per_second_ = wf.nAvgBytesPerSec;
    return waveOutOpen(&device_, WAVE_MAPPER, &wf, reinterpret_cast<DWORD_PTR>(done_.get()), 0,
                       CALLBACK_EVENT | WAVE_ALLOWSYNC) == MMSYSERR_NOERROR;
  }
  // Plays bytes [offset, offset + size) of file.
  bool Play(HANDLE file, uint64_t offset, uint64_t size) {
    std::array<WAVEHDR, kBuffers> headers{};
    std::vector<char> memory(kBuffers * kBufferBytes);
    uint64_t next = offset, end = offset + size;
    size_t queued = 0;
    bool ok = true;
    for (size_t i = 0; ok && i < kBuffers && next < end; ++i)
      ok = Queue(file, headers[i], &memory[i * kBufferBytes], next, end, queued);
    // Each finished buffer is filled again until the sound has been read.
    for (size_t turn = 0; ok && queued > 0; turn = (turn + 1) % kBuffers) {
      WAVEHDR &h = headers[turn];
      if (!(h.dwFlags & WHDR_PREPARED)) continue;
      while (!(h.dwFlags & WHDR_DONE)) {
        // A device that stops taking samples must not hold the program: wait
        // at most four times the buffer's playing time and a few seconds.
        const DWORD limit = static_cast<DWORD>(4000ull * kBufferBytes / bytes_per_second_ + 5000);
        if (WaitForSingleObject(done_.get(), limit) == WAIT_TIMEOUT) {
          waveOutReset(device_);
          ok = false;
          break;
        }
      }
      waveOutUnprepareHeader(device_, &h, sizeof h);
      h.dwFlags = 0;
      --queued;
      if (ok && next < end) ok = Queue(file, h, &memory[turn * kBufferBytes], next, end, queued);
    }
    for (auto &h : headers)
      if (h.dwFlags & WHDR_PREPARED) waveOutUnprepareHeader(device_, &h, sizeof h);
    return ok;
  }
  void Close() {
    if (!device_) return;
    // The device refuses to close while it still plays.
    while (waveOutClose(device_) == WAVERR_STILLPLAYING) WaitForSingleObject(done_.get(), 100);
    device_ = nullptr;
  }

 private:
  bool Queue(HANDLE file, WAVEHDR &h, char *buffer, uint64_t &next, uint64_t end, size_t &queued) {
    const DWORD want = static_cast<DWORD>(std::min<uint64_t>(kBufferBytes, end - next));
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(next);
    at.OffsetHigh = static_cast<DWORD>(next >> 32);
    DWORD got = 0;
    if (!ReadFile(file, buffer, want, &got, &at) || got == 0) return false;
    next += got;
    h = WAVEHDR{};
    h.lpData = buffer;
    h.dwBufferLength = got;
    if (waveOutPrepareHeader(device_, &h, sizeof h) != MMSYSERR_NOERROR) return false;
    if (waveOutWrite(device_, &h, sizeof h) != MMSYSERR_NOERROR) {
      waveOutUnprepareHeader(device_, &h, sizeof h);
      h.dwFlags = 0;
      return false;
    }
    ++queued;
    return true;
  }

  HWAVEOUT device_ = nullptr;
  OwnedHandle done_;
  uint32_t bytes_per_second_ = 8000;
};

}  // namespace

bool PlayWaveFile(const std::string &path) {
  OwnedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.valid()) return false;
  uint8_t header[kWaveHeaderSize];
  DWORD got = 0;
  if (!ReadFile(file.get(), header, sizeof header, &got, nullptr) || got != sizeof header) return false;
  PcmFormat format;
  format.channels = static_cast<uint16_t>(header[22] | (header[23] << 8));
  format.rate = Little32(header + 24);
  const uint32_t data = Little32(header + 40);
  WaitCursor wait;
  WaveOutput output;
  if (!output.Open(format)) return false;
  output.Play(file.get(), kWaveHeaderSize, data);
  return true;
}

}  // namespace attachkit
