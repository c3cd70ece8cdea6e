// Wave devices over SDL's dummy audio driver (the test environment's
// default): output completes its buffers with an event as callback, input
// delivers silence through a callback function, and MessageBeep returns.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <vector>

namespace {

constexpr WAVEFORMATEX kFormat{WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};

std::atomic<int> g_data{0};
HANDLE g_recorded = nullptr;
void CALLBACK InputCallback(HANDLE, UINT msg, DWORD_PTR instance, DWORD_PTR param, DWORD_PTR) {
  if (msg == WIM_DATA && instance == 42 && reinterpret_cast<WAVEHDR *>(param)->dwBytesRecorded == 800 && ++g_data == 3)
    SetEvent(g_recorded);
}

TEST(DummyDriver, OutputAndInputComplete) {
  ASSERT_STREQ(std::getenv("SDL_AUDIODRIVER"), "dummy");
  HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HWAVEOUT out = nullptr;
  ASSERT_EQ(waveOutOpen(&out, 0, &kFormat, reinterpret_cast<DWORD_PTR>(done), 0, CALLBACK_EVENT), MMSYSERR_NOERROR);
  std::vector<char> samples(800, 0x40);
  WAVEHDR h{samples.data(), 800, 0, 0, 0, 0, nullptr, 0};
  ASSERT_EQ(waveOutPrepareHeader(out, &h, sizeof h), MMSYSERR_NOERROR);
  ResetEvent(done);  // set by the open
  ASSERT_EQ(waveOutWrite(out, &h, sizeof h), MMSYSERR_NOERROR);
  ASSERT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(h.dwFlags & WHDR_DONE);
  // A reset returns buffers not yet played.
  WAVEHDR a{samples.data(), 800, 0, 0, 0, 0, nullptr, 0}, b = a;
  waveOutPause(out);
  waveOutPrepareHeader(out, &a, sizeof a);
  waveOutPrepareHeader(out, &b, sizeof b);
  waveOutWrite(out, &a, sizeof a);
  waveOutWrite(out, &b, sizeof b);
  ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
  EXPECT_TRUE((a.dwFlags & WHDR_DONE) && (b.dwFlags & WHDR_DONE) && !(b.dwFlags & WHDR_INQUEUE));
  for (WAVEHDR *x : {&h, &a, &b}) waveOutUnprepareHeader(out, x, sizeof *x);
  EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
  CloseHandle(done);

  g_recorded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HWAVEIN in = nullptr;
  ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &kFormat, reinterpret_cast<DWORD_PTR>(&InputCallback), 42, CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  std::vector<std::vector<char>> memory(3, std::vector<char>(800));
  std::vector<WAVEHDR> headers(3);
  for (size_t i = 0; i < 3; ++i) {
    headers[i] = WAVEHDR{memory[i].data(), 800, 0, 0, 0, 0, nullptr, 0};
    waveInPrepareHeader(in, &headers[i], sizeof(WAVEHDR));
    waveInAddBuffer(in, &headers[i], sizeof(WAVEHDR));
  }
  ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
  EXPECT_EQ(WaitForSingleObject(g_recorded, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(g_data.load(), 3);
  waveInReset(in);
  for (auto &x : headers) waveInUnprepareHeader(in, &x, sizeof x);
  EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
  CloseHandle(g_recorded);
  EXPECT_TRUE(MessageBeep(0xFFFFFFFF));
  sndPlaySoundA(nullptr, 0);
}

}  // namespace
