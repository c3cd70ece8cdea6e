// Wave devices and sounds over SDL's disk audio driver, which writes what is
// played to a file and records from a file: a WAV played through waveOut and
// recorded back through waveIn gives the same bytes; sndPlaySound and the
// MMSYSTEM.DLL module play files, [sounds] entries and memory images, and
// fail as Windows does for a sound that is not there; MessageBeep sounds.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string g_root;  // host directory of the test: D: drive, QX_HOME, raw files

constexpr WAVEFORMATEX kFormat{WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};

// Half a second of a tone whose first sample is far from silence (0x80).
std::vector<unsigned char> Samples() {
  std::vector<unsigned char> s(4000);
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<unsigned char>(128 + 100 * std::cos(2 * M_PI * 440.0 * static_cast<double>(i) / 8000.0));
  return s;
}

std::string WaveImage(const std::vector<unsigned char> &data) {
  auto put32 = [](std::string &s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
  };
  auto put16 = [](std::string &s, std::uint16_t v) {
    s += static_cast<char>(v);
    s += static_cast<char>(v >> 8);
  };
  std::string w = "RIFF";
  put32(w, static_cast<std::uint32_t>(36 + data.size()));
  w += "WAVEfmt ";
  put32(w, 16);
  put16(w, 1);
  put16(w, 1);
  put32(w, 8000);
  put32(w, 8000);
  put16(w, 1);
  put16(w, 8);
  w += "data";
  put32(w, static_cast<std::uint32_t>(data.size()));
  w.append(data.begin(), data.end());
  return w;
}

std::string Host(const std::string &name) { return g_root + "/" + name; }

std::vector<unsigned char> ReadFile(const std::string &host) {
  std::ifstream in(host, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// Where the samples start in a stream that holds them after silence.
long Find(const std::vector<unsigned char> &stream, const std::vector<unsigned char> &samples) {
  auto it = std::search(stream.begin(), stream.end(), samples.begin(), samples.end());
  return it == stream.end() ? -1 : static_cast<long>(it - stream.begin());
}

// Samples played into the disk driver's output file.
void OutputTo(const std::string &name) {
  std::remove(Host(name).c_str());
  setenv("SDL_DISKAUDIOFILE", Host(name).c_str(), 1);
}

struct Events {
  std::vector<UINT> messages;
  std::vector<WAVEHDR *> headers;
};
Events g_events;

LRESULT CALLBACK SoundProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg >= MM_WOM_OPEN && msg <= MM_WIM_DATA) {
    g_events.messages.push_back(msg);
    if (msg == MM_WOM_DONE || msg == MM_WIM_DATA) g_events.headers.push_back(reinterpret_cast<WAVEHDR *>(lparam));
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

// Pumps until `count` messages of kind `msg` have come (or 15 s passed).
size_t PumpFor(UINT msg, size_t count) {
  const DWORD end = GetTickCount() + 15000;
  auto seen = [&] { return static_cast<size_t>(std::count(g_events.messages.begin(), g_events.messages.end(), msg)); };
  while (seen() < count && static_cast<LONG>(end - GetTickCount()) > 0) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
  }
  return seen();
}

class Sound : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/qx-sound-test-XXXXXX";
    g_root = mkdtemp(tmpl);
    setenv("QX_HOME", (g_root + "/home").c_str(), 1);
    setenv("QX_DRIVE_D", g_root.c_str(), 1);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    std::ofstream(Host("tone.wav"), std::ios::binary) << WaveImage(Samples());
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
  }
  void SetUp() override {
    WNDCLASSA wc{};
    wc.lpfnWndProc = SoundProc;
    wc.lpszClassName = "QxSoundTest";
    RegisterClassA(&wc);
    hwnd_ = CreateWindowA("QxSoundTest", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    g_events = Events{};
    WriteProfileStringA("sounds", nullptr, nullptr);
  }
  void TearDown() override { DestroyWindow(hwnd_); }
  HWND hwnd_ = nullptr;
};

TEST_F(Sound, WaveOutThenWaveInGiveBackTheSameBytes) {
  const std::vector<unsigned char> samples = Samples();
  ASSERT_GE(waveOutGetNumDevs(), 1u);

  // Play the tone in two buffers.
  OutputTo("played.raw");
  HWAVEOUT out = nullptr;
  ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &kFormat, reinterpret_cast<DWORD_PTR>(hwnd_), 0, CALLBACK_WINDOW),
            MMSYSERR_NOERROR);
  std::vector<unsigned char> first(samples.begin(), samples.begin() + 2500),
      second(samples.begin() + 2500, samples.end());
  WAVEHDR h1{reinterpret_cast<LPSTR>(first.data()), 2500, 0, 1, 0, 0, nullptr, 0};
  WAVEHDR h2{reinterpret_cast<LPSTR>(second.data()), 1500, 0, 2, 0, 0, nullptr, 0};
  EXPECT_EQ(waveOutWrite(out, &h1, sizeof h1), static_cast<MMRESULT>(WAVERR_UNPREPARED));
  ASSERT_EQ(waveOutPrepareHeader(out, &h1, sizeof h1), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutPrepareHeader(out, &h2, sizeof h2), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(out, &h1, sizeof h1), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutWrite(out, &h2, sizeof h2), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(out), static_cast<MMRESULT>(WAVERR_STILLPLAYING));
  EXPECT_EQ(waveOutUnprepareHeader(out, &h2, sizeof h2), static_cast<MMRESULT>(WAVERR_STILLPLAYING));
  ASSERT_EQ(PumpFor(MM_WOM_DONE, 2), 2u);
  EXPECT_EQ(g_events.headers, (std::vector<WAVEHDR *>{&h1, &h2}));
  EXPECT_EQ(h2.dwFlags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED), static_cast<DWORD>(WHDR_DONE | WHDR_PREPARED));
  MMTIME t{TIME_BYTES, {0}};
  ASSERT_EQ(waveOutGetPosition(out, &t, sizeof t), MMSYSERR_NOERROR);
  EXPECT_EQ(t.u.cb, 4000u);
  ASSERT_EQ(waveOutUnprepareHeader(out, &h1, sizeof h1), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutUnprepareHeader(out, &h2, sizeof h2), MMSYSERR_NOERROR);
  ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
  PumpFor(MM_WOM_CLOSE, 1);
  EXPECT_EQ(g_events.messages.front(), static_cast<UINT>(MM_WOM_OPEN));
  EXPECT_EQ(g_events.messages.back(), static_cast<UINT>(MM_WOM_CLOSE));

  const std::vector<unsigned char> played = ReadFile(Host("played.raw"));
  const long start = Find(played, samples);
  ASSERT_GE(start, 0) << "the tone is not in what was played (" << played.size() << " bytes)";
  for (long i = 0; i < start; ++i) ASSERT_EQ(played[i], 0x80) << i;  // silence before it

  // Record the played stream back, in buffers of 1000 bytes.
  setenv("SDL_DISKAUDIOFILEIN", Host("played.raw").c_str(), 1);
  g_events = Events{};
  ASSERT_EQ(waveInOpen(nullptr, WAVE_MAPPER, &kFormat, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  HWAVEIN in = nullptr;
  ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &kFormat, reinterpret_cast<DWORD_PTR>(hwnd_), 0, CALLBACK_WINDOW),
            MMSYSERR_NOERROR);
  const size_t blocks = static_cast<size_t>(start + 4000) / 1000 + 2;
  std::vector<std::vector<char>> memory(blocks, std::vector<char>(1000));
  std::vector<WAVEHDR> headers(blocks);
  for (size_t i = 0; i < blocks; ++i) {
    headers[i] = WAVEHDR{memory[i].data(), 1000, 0, i, 0, 0, nullptr, 0};
    ASSERT_EQ(waveInPrepareHeader(in, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(in, &headers[i], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
  }
  ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
  ASSERT_EQ(PumpFor(MM_WIM_DATA, blocks - 1), blocks - 1);
  ASSERT_EQ(waveInStop(in), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);  // the last buffer comes back too
  ASSERT_EQ(PumpFor(MM_WIM_DATA, blocks), blocks);
  std::vector<unsigned char> recorded;
  for (WAVEHDR *h : g_events.headers) {
    EXPECT_TRUE(h->dwFlags & WHDR_DONE);
    recorded.insert(recorded.end(), h->lpData, h->lpData + h->dwBytesRecorded);
  }
  for (auto &h : headers) ASSERT_EQ(waveInUnprepareHeader(in, &h, sizeof h), MMSYSERR_NOERROR);
  ASSERT_EQ(waveInClose(in), MMSYSERR_NOERROR);
  const long at = Find(recorded, samples);
  EXPECT_EQ(at, start) << "recorded " << recorded.size() << " bytes";
}

TEST_F(Sound, OpenRefusesWhatItCannotPlay) {
  WAVEFORMATEX odd = kFormat;
  odd.wBitsPerSample = 12;
  HWAVEOUT out = nullptr;
  EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &odd, 0, 0, CALLBACK_NULL), static_cast<MMRESULT>(WAVERR_BADFORMAT));
  EXPECT_EQ(waveOutOpen(&out, 7, &kFormat, 0, 0, CALLBACK_NULL), static_cast<MMRESULT>(MMSYSERR_BADDEVICEID));
  EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &kFormat, 0x12345, 0, CALLBACK_WINDOW),
            static_cast<MMRESULT>(MMSYSERR_INVALPARAM));  // not a window
  EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, &kFormat, 0, 0, WAVE_FORMAT_QUERY), MMSYSERR_NOERROR);
  EXPECT_EQ(waveOutClose(reinterpret_cast<HWAVEOUT>(0x7FF00010)), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
  HWAVEIN in = nullptr;
  ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
  // A handle of the other direction is no handle here.
  EXPECT_EQ(waveOutReset(reinterpret_cast<HWAVEOUT>(in)), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
  EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
  WAVEOUTCAPSA caps{};
  EXPECT_EQ(waveOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
  EXPECT_NE(caps.szPname[0], '\0');
}

TEST_F(Sound, SimpleSoundsAndTheirFailures) {
  const std::vector<unsigned char> samples = Samples();
  // A missing file with no default sound: nothing sounds and the call fails.
  OutputTo("missing.raw");
  EXPECT_FALSE(sndPlaySoundA("D:\\no-such.wav", SND_SYNC | SND_NODEFAULT));
  EXPECT_FALSE(sndPlaySoundA("D:\\no-such.wav", SND_SYNC));
  struct stat st {};
  EXPECT_NE(stat(Host("missing.raw").c_str(), &st), 0);  // the device was never opened

  // A file, synchronously.
  OutputTo("file.raw");
  ASSERT_TRUE(sndPlaySoundA("D:\\tone.wav", SND_SYNC));
  EXPECT_GE(Find(ReadFile(Host("file.raw")), samples), 0);

  // A missing file plays the default sound when there is one; a [sounds] name plays its file.
  WriteProfileStringA("sounds", "SystemDefault", "D:\\tone.wav,Default Beep");
  OutputTo("default.raw");
  ASSERT_TRUE(sndPlaySoundA("D:\\no-such.wav", SND_SYNC));
  EXPECT_GE(Find(ReadFile(Host("default.raw")), samples), 0);
  EXPECT_FALSE(sndPlaySoundA("D:\\no-such.wav", SND_SYNC | SND_NODEFAULT));

  // An image in memory.
  const std::string image = WaveImage(samples);
  OutputTo("memory.raw");
  ASSERT_TRUE(sndPlaySoundA(image.data(), SND_SYNC | SND_MEMORY));
  EXPECT_GE(Find(ReadFile(Host("memory.raw")), samples), 0);

  // Through MMSYSTEM.DLL, loaded by name as the sound player loads it.
  HMODULE mm = LoadLibraryA("MMSYSTEM.DLL");
  ASSERT_NE(mm, nullptr);
  using Play = BOOL(WINAPI *)(LPCSTR, UINT);
  auto play = reinterpret_cast<Play>(reinterpret_cast<void (*)(void)>(GetProcAddress(mm, "sndPlaySound")));
  ASSERT_NE(play, nullptr);
  OutputTo("module.raw");
  ASSERT_TRUE(play("D:\\tone.wav", SND_SYNC));
  EXPECT_GE(Find(ReadFile(Host("module.raw")), samples), 0);
  FreeLibrary(mm);
}

TEST_F(Sound, MessageBeepPlaysTheSystemSound) {
  WriteProfileStringA("sounds", "SystemAsterisk", "D:\\tone.wav,Asterisk");
  OutputTo("beep.raw");
  ASSERT_TRUE(MessageBeep(MB_ICONASTERISK));  // returns at once; the sound plays meanwhile
  const std::vector<unsigned char> samples = Samples();
  bool heard = false;
  for (int i = 0; i < 1500 && !heard; ++i) {
    heard = Find(ReadFile(Host("beep.raw")), samples) >= 0;
    if (!heard) Sleep(10);
  }
  EXPECT_TRUE(heard);
  sndPlaySoundA(nullptr, 0);  // stops it
}

}  // namespace
