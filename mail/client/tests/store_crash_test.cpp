// Crash safety of the mail store: a child process dies (SIGKILL) at each step
// of a move and of a rebuild; afterwards every message still has one intact
// file and, once the store is rebuilt, is indexed exactly once. Also the
// mailbox lock between processes.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

#include "mailfs.h"
#include "store_fixture.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {

const char *g_killOperation = nullptr;
int g_killStep = 0;

void KillHere(const char *operation, int step) {
  if (g_killOperation && std::string(operation) == g_killOperation && step == g_killStep) raise(SIGKILL);
}

// Runs body in a child process that kills itself at (operation, step); true
// when the child died there.
template <typename Body>
bool RunAndKill(const char *operation, int step, Body body) {
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    g_killOperation = operation;
    g_killStep = step;
    g_StoreStepHook = KillHere;
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// Every message file under root, by its Message-ID, with its content.
std::multimap<std::string, std::string> MessageFiles(const std::string &root) {
  std::multimap<std::string, std::string> files;
  for (const auto &e : fs::recursive_directory_iterator(root)) {
    std::string name = e.path().filename().string();
    if (!e.is_regular_file() || name[0] != 'm' || e.path().extension() != ".msg") continue;
    HEADER_SUMMARY s;
    FILE *f = std::fopen(e.path().c_str(), "rb");
    ScanHeader(s, MAIL_SOURCE::File(f), nullptr);
    CloseSource(MAIL_SOURCE::File(f));
    files.emplace(s.messageId.value_or(""), ReadFile(e.path()));
  }
  return files;
}

// Message-IDs indexed in the folders, counted.
std::map<std::string, int> IndexedCounts(const std::vector<std::string> &folders) {
  std::map<std::string, int> counts;
  for (const auto &folder : folders)
    for (const auto &[slot, id] : IndexedIds(folder)) {
      ++counts[id];
      EXPECT_TRUE(fs::exists(Host(MessagePath(folder, static_cast<uint64_t>(slot))))) << folder << " " << slot;
    }
  return counts;
}

void ExpectIntact(const std::multimap<std::string, std::string> &files,
                  const std::map<std::string, std::string> &original) {
  for (const auto &[id, text] : original) {
    EXPECT_EQ(files.count(id), 1u) << id;
    auto it = files.find(id);
    if (it != files.end()) {
      EXPECT_EQ(it->second, text) << id;
    }
  }
  EXPECT_EQ(files.size(), original.size());
}

}  // namespace

class StoreCrashTest : public StoreTest {};

TEST_F(StoreCrashTest, KilledDuringMove) {
  for (int step = 1; step <= 4; ++step) {
    SCOPED_TRACE(step);
    TempDir root;
    const std::string a = root / "a", b = root / "b";
    ASSERT_EQ(StoreCreateFolder(root.path()), 0);
    ASSERT_EQ(StoreCreateFolder(a), 0);
    ASSERT_EQ(StoreCreateFolder(b), 0);
    std::map<std::string, std::string> original;
    for (const char *id : {"a1", "a2", "a3"}) {
      ASSERT_EQ(AddMessage(a, Message(id)), 0);
      original["<" + std::string(id) + "@example.com>"] = Message(id);
    }
    ASSERT_EQ(AddMessage(b, Message("b1")), 0);
    original["<b1@example.com>"] = Message("b1");

    EXPECT_TRUE(RunAndKill("move", step, [&] { StoreMoveMessage(a, b, 2); }));
    ExpectIntact(MessageFiles(root.path()), original);  // one intact file per message

    RebuildAllFolders(root.path());  // the store again: each message indexed once
    auto counts = IndexedCounts({root.path(), a, b});
    for (const auto &[id, text] : original) EXPECT_EQ(counts[id], 1) << id;
    EXPECT_EQ(counts.size(), original.size());
    ExpectIntact(MessageFiles(root.path()), original);
  }
}

// Files 2, 4, 5 and 6 are renumbered 1 to 4: steps 1 to 4 read them, 1000
// comes before the new index takes over, 1001 to 1004 before each rename.
TEST_F(StoreCrashTest, KilledDuringRebuild) {
  for (int step : {1, 2, 3, 4, 1000, 1001, 1002, 1003, 1004}) {
    SCOPED_TRACE(step);
    TempDir folder;
    ASSERT_EQ(StoreCreateFolder(folder.path()), 0);
    std::map<std::string, std::string> original;
    for (int i = 1; i <= 6; ++i) {
      std::string id = "r" + std::to_string(i);
      ASSERT_EQ(AddMessage(folder.path(), Message(id)), 0);
      original["<" + id + "@example.com>"] = Message(id);
    }
    // Gaps, so that the rebuild renames files.
    ASSERT_EQ(StoreDeleteMessage(folder.path(), 1), 0);
    ASSERT_EQ(StoreDeleteMessage(folder.path(), 3), 0);
    original.erase("<r1@example.com>");
    original.erase("<r3@example.com>");
    const std::string before = IndexBytes(folder.path());

    EXPECT_TRUE(RunAndKill("rebuild", step, [&] { RebuildFolder(folder.path()); }));
    if (step <= 1000) {
      EXPECT_EQ(IndexBytes(folder.path()), before);  // never a short index: the old one stays
    }
    ExpectIntact(MessageFiles(folder.path()), original);

    // Opening the folder finishes or drops the interrupted rebuild: every
    // record names the file of its own message, with no rebuild run by hand.
    auto counts = IndexedCounts({folder.path()});
    for (const auto &[id, text] : original) EXPECT_EQ(counts[id], 1) << id;
    EXPECT_EQ(counts.size(), original.size());
    for (const auto &[slot, id] : IndexedIds(folder.path())) {
      const IDX_RECORD r = Record(folder.path(), slot);
      HEADER_SUMMARY s;
      ASSERT_EQ(ReadMessageHeader(folder.path(), static_cast<uint32_t>(slot), s), 0);
      EXPECT_EQ(std::string(r.subject, strnlen(r.subject, sizeof r.subject)), s.subject.value_or("")) << slot;
    }
    EXPECT_FALSE(fs::exists(Host(folder.path() + "\\rebuild.ren")));
    if (step > 1000) {
      EXPECT_EQ(IndexedIds(folder.path()).rbegin()->first, 4);  // the rebuild was finished
    }

    ASSERT_EQ(RebuildFolder(folder.path()), 0);
    counts = IndexedCounts({folder.path()});
    for (const auto &[id, text] : original) EXPECT_EQ(counts[id], 1) << id;
    EXPECT_EQ(counts.size(), original.size());
    EXPECT_EQ(IndexBytes(folder.path()).size(), 5u * 109);
    ExpectIntact(MessageFiles(folder.path()), original);
  }
}

TEST(MailboxLockTest, ExactlyOneProcessHoldsItAndDeathFreesIt) {
  TempDir dir;
  // Two processes race for the lock of one directory.
  int results[2];
  pid_t children[2];
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  for (int i = 0; i < 2; ++i) {
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    children[i] = fork();
    if (children[i] == 0) {
      close(go[1]);
      char c;
      if (read(go[0], &c, 1) != 1) _exit(2);
      MailboxLock lock;
      char held = lock.Open(dir.path()) ? 1 : 0;
      if (write(report[1], &held, 1) != 1) _exit(2);
      for (;;) pause();
    }
    close(report[1]);
    results[i] = report[0];
  }
  close(go[0]);
  ASSERT_EQ(write(go[1], "gg", 2), 2);
  close(go[1]);
  char held[2] = {0, 0};
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(read(results[i], &held[i], 1), 1);
    close(results[i]);
  }
  EXPECT_EQ(held[0] + held[1], 1);
  EXPECT_TRUE(fs::exists(Host(dir / "QXLOCK.LCK")));

  MailboxLock mine;
  EXPECT_FALSE(mine.Open(dir.path()));
  int holder = held[0] ? 0 : 1;
  kill(children[holder], SIGKILL);
  waitpid(children[holder], nullptr, 0);
  EXPECT_TRUE(mine.Open(dir.path()));
  kill(children[1 - holder], SIGKILL);
  waitpid(children[1 - holder], nullptr, 0);

  // Within one process a second opener is refused as well, and closing frees it.
  MailboxLock second;
  EXPECT_FALSE(second.Open(dir.path()));
  mine.Close();
  EXPECT_TRUE(second.Open(dir.path()));
}

// Deleting through the index after a rebuild was killed at any step removes
// only the message each record describes (a record whose file holds another
// message would be refused); no other message goes.
TEST_F(StoreCrashTest, IndexAfterAKilledRebuildDeletesNoOtherMessage) {
  for (int step : {1, 2, 3, 4, 1000, 1001, 1002, 1003, 1004}) {
    SCOPED_TRACE(step);
    TempDir folder;
    ASSERT_EQ(StoreCreateFolder(folder.path()), 0);
    for (int i = 1; i <= 6; ++i) ASSERT_EQ(AddMessage(folder.path(), Message("s" + std::to_string(i))), 0);
    ASSERT_EQ(StoreDeleteMessage(folder.path(), 1), 0);
    ASSERT_EQ(StoreDeleteMessage(folder.path(), 3), 0);
    EXPECT_TRUE(RunAndKill("rebuild", step, [&] { RebuildFolder(folder.path()); }));
    std::vector<std::pair<int32_t, std::string>> records;
    IDX_RECORD r;
    FILE *f = nullptr;
    for (int rc = IndexOpenFirst(folder.path(), r, f); rc == 0; rc = IndexNextRecord(r, f)) {
      const int32_t slot = r.n;
      records.emplace_back(slot, std::string(r.subject, strnlen(r.subject, sizeof r.subject)));
    }
    std::set<std::string> deletedByOwnRecord;
    for (const auto &[slot, subject] : records) {
      HEADER_SUMMARY s;
      const bool had = ReadMessageHeader(folder.path(), static_cast<uint32_t>(slot), s) == 0;
      const std::string held = s.subject.value_or("");
      const int rc = StoreDeleteMessage(folder.path(), slot);
      if (!had) continue;
      if (!fs::exists(Host(MessagePath(folder.path(), static_cast<uint64_t>(slot))))) {
        EXPECT_EQ(held, subject) << "slot " << slot << " deleted another message";
        deletedByOwnRecord.insert(held);
      } else {
        EXPECT_EQ(rc, kStoreNoRecord) << "slot " << slot;
      }
    }
    // Every message not deleted through its own record is still there, once.
    auto files = MessageFiles(folder.path());
    for (int i : {2, 4, 5, 6}) {
      const std::string id = "s" + std::to_string(i);
      EXPECT_EQ(files.count("<" + id + "@example.com>"), deletedByOwnRecord.count(id) ? 0u : 1u) << id;
    }
  }
}
