// soundcue: plays the sound file named on its command line and ends. A RIFF
// wave file goes to the system's simple sound player; anything else is taken
// as Sun audio of 8-bit mu-law samples at 8000 per second.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "mulaw.h"

namespace {

constexpr const char *kClass = "SOUNDCUE";
constexpr UINT kPlay = 0x7FFF;
// Files without the Sun header's magic keep their samples after 32 bytes.
constexpr uint32_t kPlainSkip = 32;

struct Player {
  std::string path;
  HMODULE mmsystem = nullptr;
  HWAVEOUT device = nullptr;
  WAVEHDR header{};
  std::vector<uint8_t> samples;
};
Player g_player;

void Fail(HWND window, const char *text) {
  MessageBoxA(window, text, kClass, MB_OK | MB_ICONERROR);
  DestroyWindow(window);
}

uint32_t BigEndian(const uint8_t *b) {
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

bool ReadAll(HANDLE file, std::vector<uint8_t> &bytes, DWORD size) {
  bytes.resize(size);
  DWORD done = 0;
  while (done < size) {
    DWORD got = 0;
    if (!ReadFile(file, bytes.data() + done, std::min<DWORD>(size - done, 32768), &got, nullptr) || got == 0) break;
    done += got;
  }
  bytes.resize(done);
  return done == size;
}

void PlayRiff(HWND window) {
  // Without the sound library the file goes unplayed.
  if (!g_player.mmsystem) g_player.mmsystem = LoadLibraryA("MMSYSTEM.DLL");
  using SndPlaySound = BOOL(WINAPI *)(LPCSTR, UINT);
  if (g_player.mmsystem)
    if (auto play = reinterpret_cast<SndPlaySound>(GetProcAddress(g_player.mmsystem, "sndPlaySound")))
      play(g_player.path.c_str(), SND_SYNC);
  DestroyWindow(window);
}

// Sun audio: the header's own data offset when it carries the ".snd" magic
// (mu-law only), else 32 bytes skipped; the samples expanded to 8-bit PCM.
void PlaySun(HWND window, HANDLE file, const uint8_t *head, DWORD size) {
  uint32_t offset = kPlainSkip;
  if (std::memcmp(head, ".snd", 4) == 0) {
    uint8_t fields[20] = {};
    DWORD got = 0;
    SetFilePointer(file, 4, nullptr, FILE_BEGIN);
    ReadFile(file, fields, sizeof fields, &got, nullptr);
    offset = got == sizeof fields ? BigEndian(fields) : size;
    const uint32_t encoding = got == sizeof fields ? BigEndian(fields + 8) : 0;
    if (offset < 24 || encoding != 1) offset = size;  // not mu-law: nothing this player can play
  }
  if (size <= offset) {
    CloseHandle(file);
    DestroyWindow(window);
    return;
  }
  SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN);
  ReadAll(file, g_player.samples, size - offset);
  CloseHandle(file);
  for (uint8_t &s : g_player.samples) s = attachkit::kMulawExpand[s];
  if (g_player.samples.empty()) {
    DestroyWindow(window);
    return;
  }
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 1;
  format.nSamplesPerSec = 8000;
  format.nAvgBytesPerSec = 8000;
  format.nBlockAlign = 1;
  format.wBitsPerSample = 8;
  if (waveOutOpen(&g_player.device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(window), 0, CALLBACK_WINDOW) !=
      MMSYSERR_NOERROR) {
    g_player.device = nullptr;
    return Fail(window, "Unable to Open Audio Device");
  }
  g_player.header.lpData = reinterpret_cast<LPSTR>(g_player.samples.data());
  g_player.header.dwBufferLength = static_cast<DWORD>(g_player.samples.size());
  if (waveOutPrepareHeader(g_player.device, &g_player.header, sizeof g_player.header) != MMSYSERR_NOERROR) {
    waveOutClose(g_player.device);
    g_player.device = nullptr;
    return Fail(window, "Unable to Prepare Audio Device");
  }
  if (waveOutWrite(g_player.device, &g_player.header, sizeof g_player.header) != MMSYSERR_NOERROR) {
    waveOutUnprepareHeader(g_player.device, &g_player.header, sizeof g_player.header);
    waveOutClose(g_player.device);
    g_player.device = nullptr;
    return Fail(window, "Unable to Write Audio Device");
  }
}

void Start(HWND window) {
  HANDLE file = CreateFileA(g_player.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(window, "Unable to open audio file");
  const DWORD size = GetFileSize(file, nullptr);
  uint8_t head[4] = {};
  DWORD got = 0;
  ReadFile(file, head, sizeof head, &got, nullptr);
  if (got == 4 && std::memcmp(head, "RIFF", 4) == 0) {
    CloseHandle(file);
    return PlayRiff(window);
  }
  if (size == INVALID_FILE_SIZE || size > (256u << 20)) {
    CloseHandle(file);
    return Fail(window, "Unable to open audio file");
  }
  PlaySun(window, file, head, size);
}

LRESULT CALLBACK SoundProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kPlay: Start(window); return 0;
    case MM_WOM_DONE:
      waveOutUnprepareHeader(g_player.device, &g_player.header, sizeof g_player.header);
      waveOutClose(g_player.device);
      g_player.device = nullptr;
      g_player.samples.clear();
      DestroyWindow(window);
      return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int) {
  g_player.path = cmdLine ? cmdLine : "";
  WNDCLASSA wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = SoundProc;
  wc.hInstance = instance;
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = kClass;
  RegisterClassA(&wc);
  HWND window = CreateWindowA(kClass, kClass, WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  PostMessageA(window, kPlay, 0, 0);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  if (g_player.mmsystem) FreeLibrary(g_player.mmsystem);
  return static_cast<int>(msg.wParam);
}
