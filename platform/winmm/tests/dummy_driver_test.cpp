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

// A beep made while the previous beep's device is still playing or closing
// (the dummy driver has one output device) does not fail: back to back, and
// at the moments the previous tone ends and its device closes. Nor does it
// wait for that device to close (SDL drains it for two periods more): a
// burst of beeps, as a terminal rings for a run of BELs, returns well within
// the time the closes would take. Stopping the sound frees the device for a
// wave device at once.
TEST(DummyDriver, BeepsFollowingABeepAllSound) {
  ASSERT_STREQ(std::getenv("SDL_AUDIODRIVER"), "dummy");
  const DWORD kGapsMs[] = {0, 0, 0, 50, 140, 150, 160, 170, 190, 220, 260, 300};
  for (DWORD gap : kGapsMs) {
    ASSERT_TRUE(MessageBeep(0xFFFFFFFF)) << "first beep, gap " << gap;
    Sleep(gap);
    EXPECT_TRUE(MessageBeep(MB_ICONHAND)) << "a beep " << gap << " ms after the previous one failed";
  }
  const DWORD start = GetTickCount();
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(MessageBeep(0)) << "beep " << i << " of a burst failed";
  EXPECT_LT(GetTickCount() - start, 3000u) << "a burst of 40 beeps waited for each device to close";

  ASSERT_TRUE(sndPlaySoundA(nullptr, 0));
  HWAVEOUT out = nullptr;
  EXPECT_EQ(waveOutOpen(&out, 0, &kFormat, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR)
      << "the stopped sound's device is still open";
  if (out) waveOutClose(out);
}
