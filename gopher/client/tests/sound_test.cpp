// Sound items from Debian's gophernicus (127.0.0.1:70 of the test's own
// network namespace) played through the layer's wave output on SDL's disk
// driver, which writes what is played to a file: the samples found there are
// the ones the item holds, in Sun audio, wave and bare mu-law form; the
// buffers follow the pre-buffer rule; "Save To File" saves the bytes.
#include "gophercore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "gophernicus_peer.h"
#include "home_server_test.h"
#include "qxtest/netns.h"
#include "qxtest/support.h"
#include "recorder.h"
#include "sound.h"
#include "test_media.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::string;

// SDL's disk driver, chosen before the sound library first opens a device.
struct DiskAudio {
  qxtest::TempDir dir{"qx-gopher-sound"};
  DiskAudio() { setenv("SDL_AUDIODRIVER", "disk", 1); }
  // The file the next device writes to.
  std::string Next(const std::string &name) const {
    const std::string path = dir.path() + "/" + name + ".raw";
    fs::remove(path);
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    return path;
  }
};
const DiskAudio g_audio;
const auto *g_network = ::testing::AddGlobalTestEnvironment(new qxtest::OwnLoopbackNetwork);

void Put32(Bytes &b, uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) b += static_cast<char>(big ? v >> (24 - 8 * i) : v >> (8 * i));
}
void Put16(Bytes &b, uint16_t v) {
  b += static_cast<char>(v);
  b += static_cast<char>(v >> 8);
}

// A wave file with a chunk before its format, as some writers put one.
Bytes Wave(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes &data) {
  const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  Bytes b = "RIFF";
  Put32(b, static_cast<uint32_t>(4 + 12 + 24 + 8 + data.size()), false);
  b += "WAVELIST";
  Put32(b, 4, false);
  b += "INFO";
  b += "fmt ";
  Put32(b, 16, false);
  Put16(b, 1);
  Put16(b, channels);
  Put32(b, rate, false);
  Put32(b, rate * align, false);
  Put16(b, align);
  Put16(b, bits);
  b += "data";
  Put32(b, static_cast<uint32_t>(data.size()), false);
  return b + data;
}

using gophertest::SunAudio;
Bytes Pattern(size_t n, int step) { return gophertest::SoundPattern(n, step); }
Bytes Expanded(const Bytes &mulaw) { return gophertest::MulawPlayed(mulaw); }

// The recording UI playing sounds as the program does.
class SoundUi : public gophertest::RecorderUi {
 public:
  bool PlaySoundStart() override { return SoundOpen(seconds) != 0; }
  void PlaySoundBlock(const char *data, int n) override { SoundFeed(data, n); }
  void PlaySoundEnd(bool completed) override { SoundFinish(completed); }
  int seconds = 3;
};

class SoundTest : public gophertest::GophernicusHomeTest {
 protected:
  void SetUp() override {
    GophernicusHomeTest::SetUp();
    if (HasFatalFailure()) return;
    SetGopherUi(&sound);
  }
  GopherItem *Served(const std::string &name, const Bytes &bytes) {
    return GophernicusHomeTest::Served('s', name, bytes);
  }
  SoundUi sound;
};

// Each form, shorter than the 3-second pre-buffer: one buffer at the end,
// and the device's output holds exactly the samples the item carries.
TEST_F(SoundTest, ItemsPlayTheirSamples) {
  const Bytes mulaw = Pattern(8000, 7);
  Bytes linear16;  // big-endian samples whose upper bytes are the pattern
  for (char c : Pattern(6000, 5)) linear16 += Bytes{c, '\x33'};
  Bytes expected16;
  for (size_t i = 0; i < linear16.size(); i += 2) expected16 += static_cast<char>(linear16[i] ^ 0x80);
  const Bytes wave8 = Pattern(11025, 3), wave16 = Pattern(2 * 2 * 4000, 11);
  const Bytes bare = Pattern(9000, 13);
  struct Case {
    const char *name;
    Bytes item;
    Bytes played;
  } cases[] = {
      {"Sun audio, mu-law", SunAudio(1, 8000, 1, mulaw), Expanded(mulaw)},
      {"Sun audio, 16-bit linear", SunAudio(3, 8000, 1, linear16), expected16},
      {"wave, 8 bits at 11025 Hz", Wave(1, 11025, 8, wave8), wave8},
      {"wave, 16 bits stereo at 4000 Hz", Wave(2, 4000, 16, wave16), wave16},
      {"bare mu-law", bare, Expanded(bare.substr(28))},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string output = g_audio.Next("played");
    sound.boxes.clear();
    ActivateItem(Served("tune.au", c.item), nullptr);
    EXPECT_TRUE(sound.boxes.empty()) << sound.BoxTexts();
    EXPECT_EQ(SoundWrittenSizes(), std::vector<size_t>{c.played.size()});
    const Bytes written = qxtest::ReadFile(output);
    EXPECT_NE(written.find(c.played), Bytes::npos) << written.size() << " bytes played";
    EXPECT_EQ(g_ReceiveBusy, 0);
  }
}

// Too short to hold anything, or in a form that cannot be played: nothing
// reaches the device, and the person is told why in the second case.
TEST_F(SoundTest, NothingPlayedForShortOrUnplayableItems) {
  struct Case {
    const char *name;
    Bytes item;
    const char *told;  // null: nothing to tell
  } cases[] = {
      {"27 bytes of bare mu-law", Pattern(27, 3), nullptr},
      {"a Sun header cut short", SunAudio(1, 8000, 1, "").substr(0, 20), nullptr},
      {"Sun audio in floating point", SunAudio(6, 8000, 1, Pattern(4000, 3)), "Sun audio header"},
      {"Sun audio at 500 Hz", SunAudio(1, 500, 1, Pattern(4000, 3)), "Sun audio header"},
      {"wave of 32-bit float", Wave(1, 8000, 32, Pattern(4000, 3)), "wave file"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    g_audio.Next("nothing");
    sound.boxes.clear();
    ActivateItem(Served("odd.au", c.item), nullptr);
    EXPECT_TRUE(SoundWrittenSizes().empty());
    if (!c.told) {
      EXPECT_TRUE(sound.boxes.empty()) << sound.BoxTexts();
      continue;
    }
    ASSERT_EQ(sound.boxes.size(), 1u) << sound.BoxTexts();
    EXPECT_NE(sound.boxes[0].text.find(c.told), Bytes::npos) << sound.boxes[0].text;
    EXPECT_NE(sound.boxes[0].text.find("Save To File"), Bytes::npos) << sound.boxes[0].text;
  }
}

// "Save To File": the item goes to the file the person names, byte for byte.
TEST_F(SoundTest, SaveToFileSavesTheBytes) {
  const Bytes item = SunAudio(1, 8000, 1, Pattern(5000, 9));
  sound.seconds = 0;
  sound.savePath = "Z:" + scratch.path() + "/kept.au";
  ActivateItem(Served("kept.au", item), nullptr);
  EXPECT_EQ(sound.saveFilter, 1);  // the proposed name has its own extension
  EXPECT_EQ(qxtest::ReadFile(scratch.path() + "/kept.au"), item);
  ActivateItem(Served("noext", item), nullptr);
  EXPECT_EQ(sound.saveFilter, 3);
  EXPECT_EQ(sound.saveExtension, "AU");
  EXPECT_TRUE(SoundWrittenSizes().empty());
}

// With 20 seconds chosen, a minute of sound arriving at once goes out as one
// 20-second buffer, then a buffer a second while the device plays; stopped
// transfers stop the sound at once.
TEST(SoundBuffers, PreBufferThenOneSecondBuffers) {
  g_audio.Next("buffers");
  ASSERT_EQ(SoundOpen(20), 1);
  const Bytes item = SunAudio(1, 8000, 1, Pattern(60 * 8000, 7));
  for (size_t at = 0; at < item.size(); at += 1024)
    SoundFeed(item.data() + at, static_cast<int>(std::min<size_t>(1024, item.size() - at)));
  std::vector<size_t> expected{160000};
  expected.resize(1 + 40, 8000);
  EXPECT_EQ(SoundWrittenSizes(), expected);
  const DWORD start = GetTickCount();
  SoundFinish(false);
  EXPECT_LT(GetTickCount() - start, 2000u);
  EXPECT_EQ(SoundOpen(0), 0);  // "Save To File"
}

}  // namespace
