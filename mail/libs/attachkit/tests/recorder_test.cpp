// The voice recorder of MimeGetSpecial(4) over SDL's disk audio driver: what
// it records is the input file's bytes, in one-second blocks; recording again
// after Stop continues the chain; Play sends the recorded bytes to the output
// file; OK hands the chain over, Cancel and Clear leave nothing.
#include "harness.h"

#include <cstdlib>
#include <memory>

using namespace akt;

namespace {

std::string Input() {
  std::string bytes(60000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7 + i / 300) & 0xFF);
  return bytes;
}

// The recorded samples of each block of a chain.
std::vector<std::string> Blocks(HGLOBAL first) {
  std::vector<std::string> blocks;
  for (HGLOBAL h = first; h && blocks.size() < 100;) {
    const auto *header = static_cast<const WAVEHDR *>(GlobalLock(h));
    if (!header) break;
    blocks.emplace_back(header->lpData, header->dwBytesRecorded);
    const WAVEHDR *next = header->lpNext;
    GlobalUnlock(h);
    h = next ? GlobalHandle(next) : nullptr;
  }
  return blocks;
}

// A step that waits until ms have passed since it first ran, then acts.
Step After(Person &person, DWORD ms, Step step) {
  auto start = std::make_shared<DWORD>(0);
  return [&person, ms, step, start](HWND d) {
    if (*start == 0) *start = GetTickCount();
    if (GetTickCount() - *start < ms) {
      --person.next;  // again at the next tick
      return;
    }
    step(d);
  };
}

// A step that waits until the OK button is enabled again (playing ended).
Step WhenIdle(Person &person, Step step) {
  return [&person, step](HWND d) {
    if (!IsWindowEnabled(GetDlgItem(d, IDOK))) {
      --person.next;
      return;
    }
    step(d);
  };
}

class Recorder : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WriteFile(TheMachine().root + "/input.raw", Input());
    setenv("SDL_DISKAUDIOFILEIN", (TheMachine().root + "/input.raw").c_str(), 1);
    ASSERT_NE(Attachkit().module, nullptr);
  }
};

TEST_F(Recorder, RecordsContinuesPlaysAndHandsTheChainOver) {
  std::string sizeText;
  bool playEnabled = false;
  Person person;
  person.Then("Recorder", [](HWND d) { Click(d, 100); })
      .Then("Recorder", After(person, 2500, [](HWND d) { Click(d, 101); }))
      .Then("Recorder",
            [&](HWND d) {
              sizeText = TextOf(d, 200);
              playEnabled = IsWindowEnabled(GetDlgItem(d, 102));
              Click(d, 100);
            })
      .Then("Recorder", After(person, 1000, [](HWND d) { Click(d, 101); }))
      .Then("Recorder", [](HWND d) { Click(d, 102); })
      .Then("Recorder", WhenIdle(person, [](HWND d) { Click(d, IDOK); }));
  HGLOBAL chain = nullptr;
  WithPerson(person, [&] { chain = Attachkit().getSpecial(MIME_ATTACH_VOICE, nullptr, nullptr); });
  ASSERT_NE(chain, nullptr) << "no recording handed over";
  EXPECT_TRUE(playEnabled);

  const std::vector<std::string> blocks = Blocks(chain);
  ASSERT_GE(blocks.size(), 4u);
  // The first recording: two full seconds and about half of one more.
  EXPECT_EQ(blocks[0].size(), 8000u);
  EXPECT_EQ(blocks[1].size(), 8000u);
  EXPECT_GT(blocks[2].size(), 1500u);
  EXPECT_LT(blocks[2].size(), 8000u);
  const std::string input = Input();
  const std::string first = blocks[0] + blocks[1] + blocks[2];
  EXPECT_TRUE(first == input.substr(0, first.size())) << "the recording is not the input's bytes";
  const long shown = std::atol(sizeText.c_str());
  EXPECT_EQ(shown, static_cast<long>(first.size() * 8 / 6)) << sizeText;
  EXPECT_NE(sizeText.find(" Bytes"), std::string::npos);
  // The second recording follows in blocks of its own.
  std::string all;
  for (const auto &b : blocks) all += b;
  EXPECT_GT(all.size(), first.size() + 4000);
  // Played back: the output holds every recorded byte in order.
  const std::string played = ReadFile(TheMachine().root + "/played.raw");
  EXPECT_NE(played.find(all), std::string::npos) << "the played bytes are not the recording";

  Attachkit().getSpecial(MIME_ATTACH_VOICE, chain, nullptr);  // frees the chain
  EXPECT_EQ(GlobalLock(chain), nullptr);
}

TEST_F(Recorder, CancelAndClearLeaveNothing) {
  Person cancel;
  cancel.Then("Recorder", [](HWND d) { Click(d, 100); }).Then("Recorder", After(cancel, 300, [](HWND d) {
                                                                // Cancel while the device still records into the chain.
                                                                EnableWindow(GetDlgItem(d, IDCANCEL), TRUE);
                                                                Click(d, IDCANCEL);
                                                              }));
  HGLOBAL chain = reinterpret_cast<HGLOBAL>(1);
  WithPerson(cancel, [&] { chain = Attachkit().getSpecial(MIME_ATTACH_VOICE, nullptr, nullptr); });
  EXPECT_EQ(chain, nullptr);

  std::string cleared;
  Person clear;
  clear.Then("Recorder", [](HWND d) { Click(d, 100); })
      .Then("Recorder", After(clear, 300, [](HWND d) { Click(d, 101); }))
      .Then("Recorder", [&](HWND d) {
        Click(d, 103);
        cleared = TextOf(d, 200);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, 102))) << "Play after Clear";
        Click(d, IDOK);
      });
  chain = reinterpret_cast<HGLOBAL>(1);
  WithPerson(clear, [&] { chain = Attachkit().getSpecial(MIME_ATTACH_VOICE, nullptr, nullptr); });
  EXPECT_EQ(chain, nullptr) << "OK with nothing recorded hands nothing over";
  EXPECT_EQ(cleared, "0 Bytes");
}

}  // namespace
