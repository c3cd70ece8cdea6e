// Damaged folder indexes (a disk error, a crash in the middle of a write, a
// foreign program): the index of a folder of real messages with records cut
// short, free-list links and message numbers set to edge values, flags, dates
// and texts overwritten, garbage appended, a thousand times in a fixed
// pseudo-random order. The store code runs under AddressSanitizer here; the
// checks are what a user would suffer:
// - every reader of the index (the message list, the keys and their rows,
//   the pieces in both orders) sees the same messages, with rows of bounded
//   length;
// - adding a message never replaces or changes a message file, and either
//   adds exactly one file holding the new message or adds none.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>

#include "store_fixture.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {

struct CharacterWidth : RowMeasure {
  int TextWidth(const std::string &text) override { return static_cast<int>(text.size()) * 8; }
};

// Every message file of the folder with its bytes.
std::map<std::string, std::string> MessageFiles(const std::string &folder) {
  std::map<std::string, std::string> files;
  for (const auto &entry : fs::directory_iterator(Host(folder)))
    if (entry.path().extension() == ".msg") files[entry.path().filename()] = qxtest::ReadFile(entry.path());
  return files;
}

std::string Damage(std::string index, std::mt19937 &random) {
  static const int32_t kEdges[] = {0, 1, 2, 3, 4, 5, 6, 7, 100000, 0x7FFFFFFF, -1, -2, -0x7FFFFFFF - 1};
  const int changes = 1 + int(random() % 4);
  for (int i = 0; i < changes; ++i) {
    const size_t records = index.size() / kRecordSize;
    const size_t at = records ? (random() % records) * kRecordSize : 0;
    switch (random() % 7) {
      case 0: index.resize(random() % (index.size() + 1)); break;
      case 1: index += std::string(random() % (2 * kRecordSize), char(random())); break;
      case 2:  // a link or a message number
      case 3:
        if (at + 5 <= index.size()) {
          const int32_t v = kEdges[random() % std::size(kEdges)];
          std::memcpy(&index[at + 1], &v, 4);
        }
        break;
      case 4:
        if (at < index.size()) index[at] = char(random() % 4 == 0 ? random() : random() % 4);
        break;
      case 5:  // dates, subject and sender without their end
        if (at + kRecordSize <= index.size()) {
          const int32_t v = kEdges[random() % std::size(kEdges)];
          std::memcpy(&index[at + 5 + 4 * (random() % 2)], &v, 4);
          std::memset(&index[at + 13], int(32 + random() % 224), 80);
        }
        break;
      default:
        if (!index.empty()) index[random() % index.size()] ^= char(1 + random() % 255);
        break;
    }
  }
  return index;
}

TEST_F(StoreTest, DamagedIndexesAreReadAlikeAndNeverCostAMessage) {
  const std::string folder = mail + "/inbox";
  ASSERT_EQ(StoreCreateFolder(folder), 0);
  for (int i = 1; i <= 6; ++i) ASSERT_EQ(AddMessage(folder, Message("m" + std::to_string(i))), 0);
  ASSERT_EQ(StoreDeleteMessage(folder, 3), 0);  // a free record in the list
  const std::string good = IndexBytes(folder);
  const auto goodFiles = MessageFiles(folder);
  // A longer hunt: QX_DAMAGE_ROUNDS and QX_DAMAGE_SEED in the environment.
  const char *roundsText = getenv("QX_DAMAGE_ROUNDS"), *seedText = getenv("QX_DAMAGE_SEED");
  const int rounds = roundsText ? atoi(roundsText) : 1000;
  std::mt19937 random(seedText ? uint32_t(strtoul(seedText, nullptr, 10)) : 20261211u);
  CharacterWidth measure;
  for (int round = 0; round < rounds && !HasFailure(); ++round) {
    SCOPED_TRACE(round);
    // Back to the six good messages, then damage the index.
    for (const auto &entry : fs::directory_iterator(Host(folder)))
      if (entry.path().extension() == ".msg" && !goodFiles.count(entry.path().filename())) fs::remove(entry.path());
    const std::string damaged = Damage(good, random);
    WriteFile(IndexPath(folder), damaged);

    std::vector<MSG_KEY> keys;
    const int count = LoadMessageKeys(folder, keys);
    EXPECT_EQ(BuildMessageList(folder, measure), count);
    const std::vector<MSG_ENTRY> entries = BuildEntries(folder, keys, 0, keys.size(), measure);
    ASSERT_EQ(entries.size(), keys.size());
    for (const MSG_ENTRY &e : entries) EXPECT_LE(e.rowText.size(), 200u);
    size_t forward = 0, backward = 0;
    EXPECT_EQ(ReadIndexPieces(folder, false, [&](const IDX_RECORD *, size_t n, uint32_t) { forward += n; }),
              ReadIndexPieces(folder, true, [&](const IDX_RECORD *, size_t n, uint32_t) { backward += n; }));
    EXPECT_EQ(forward, backward);

    const auto before = MessageFiles(folder);
    const int added = AddMessage(folder, Message("new"));
    auto after = MessageFiles(folder);
    for (const auto &[name, bytes] : before) {
      ASSERT_TRUE(after.count(name)) << name << " is gone after adding a message to an index of " << damaged.size()
                                     << " bytes";
      EXPECT_EQ(after[name], bytes) << name << " changed";
      after.erase(name);
    }
    if (added == 0) {
      ASSERT_EQ(after.size(), 1u);
      EXPECT_EQ(after.begin()->second, Message("new"));
    } else {
      EXPECT_TRUE(after.empty());
    }
  }
}

}  // namespace
