// Mail store: byte-exact index fixtures, the free list, moving, rebuilding,
// the result codes, the character map, work files and the message list.
#include <gtest/gtest.h>

#include <filesystem>

#include "store_fixture.h"

using namespace mailtest;
namespace fs = std::filesystem;

namespace {
std::string Le32(int32_t v) { return std::string(reinterpret_cast<const char *>(&v), 4); }
std::string Padded(const std::string &s, size_t width) { return s + std::string(width - s.size(), '\0'); }
}  // namespace

TEST_F(StoreTest, NewFolderIndexIsOneHeaderRecord) {
  ASSERT_EQ(StoreCreateFolder(dir / "new"), 0);
  EXPECT_EQ(IndexBytes(dir / "new"), FreeRecordBytes(0));
  ASSERT_EQ(AddMessage(dir / "new", Message("one")), 0);
  std::string before = IndexBytes(dir / "new");
  EXPECT_EQ(StoreCreateFolder(dir / "new"), 0);  // an existing folder is left as it is
  EXPECT_EQ(IndexBytes(dir / "new"), before);
}

TEST_F(StoreTest, AddedRecordBytes) {
  ASSERT_EQ(StoreCreateFolder(mail), 0);
  ASSERT_EQ(AddMessage(mail, Message("first", "Hello there")), 0);
  ASSERT_EQ(AddMessage(mail, Message("mime", "Own", "tester@EXAMPLE.com").insert(0, "MIME-Version: 1.0\r\n")), 0);
  std::string bytes = IndexBytes(mail);
  ASSERT_EQ(bytes.size(), 3u * 109);
  IDX_RECORD r1 = Record(mail, 1), r2 = Record(mail, 2);
  std::string expected1 = std::string(1, '\0') + Le32(1) + Le32(818173800) + Le32(r1.arrival) +
                          Padded("Hello there", 60) + Padded("Sender Name", 20) + std::string(16, '\0');
  EXPECT_EQ(bytes.substr(109, 109), expected1);
  // A message from the user's own address lists its recipient.
  std::string expected2 = std::string(1, '\2') + Le32(2) + Le32(818173800) + Le32(r2.arrival) + Padded("Own", 60) +
                          Padded("To: rcpt@example.ne", 20) + std::string(16, '\0');
  EXPECT_EQ(bytes.substr(218, 109), expected2);
  EXPECT_NEAR(r1.arrival, static_cast<int32_t>(std::time(nullptr)), 5);
  EXPECT_EQ(ReadFile(MessagePath(mail, 1)), Message("first", "Hello there"));
}

TEST_F(StoreTest, FreeListAfterDeletesAndAdds) {
  ASSERT_EQ(StoreCreateFolder(mail), 0);
  for (int i = 1; i <= 6; ++i) ASSERT_EQ(AddMessage(mail, Message("m" + std::to_string(i))), 0);
  ASSERT_EQ(StoreDeleteMessage(mail, 3), 0);
  ASSERT_EQ(StoreDeleteMessage(mail, 5), 0);
  std::string bytes = IndexBytes(mail);
  EXPECT_EQ(bytes.substr(0, 109), FreeRecordBytes(5));
  EXPECT_EQ(bytes.substr(5 * 109, 109), FreeRecordBytes(3));
  EXPECT_EQ(bytes.substr(3 * 109, 109), FreeRecordBytes(0));
  EXPECT_FALSE(fs::exists(Host(MessagePath(mail, 3))));
  EXPECT_FALSE(fs::exists(Host(MessagePath(mail, 5))));

  ASSERT_EQ(AddMessage(mail, Message("a")), 0);
  ASSERT_EQ(AddMessage(mail, Message("b")), 0);
  ASSERT_EQ(AddMessage(mail, Message("c")), 0);
  auto ids = IndexedIds(mail);
  EXPECT_EQ(ids[5], "<a@example.com>");
  EXPECT_EQ(ids[3], "<b@example.com>");
  EXPECT_EQ(ids[7], "<c@example.com>");
  EXPECT_EQ(IndexBytes(mail).substr(0, 109), FreeRecordBytes(0));
  EXPECT_EQ(IndexBytes(mail).size(), 8u * 109);
}

TEST_F(StoreTest, MoveBetweenFolders) {
  const std::string a = dir / "a", b = dir / "b";
  ASSERT_EQ(StoreCreateFolder(a), 0);
  ASSERT_EQ(StoreCreateFolder(b), 0);
  ASSERT_EQ(AddMessage(a, Message("a1")), 0);
  ASSERT_EQ(AddMessage(a, Message("a2")), 0);
  ASSERT_EQ(AddMessage(b, Message("b1")), 0);
  IDX_RECORD moved = Record(a, 2);

  ASSERT_EQ(StoreMoveMessage(a, b, 2), 0);
  EXPECT_EQ(IndexBytes(a).substr(0, 109), FreeRecordBytes(2));
  EXPECT_EQ(IndexBytes(a).substr(2 * 109, 109), FreeRecordBytes(0));
  EXPECT_FALSE(fs::exists(Host(MessagePath(a, 2))));
  EXPECT_EQ(ReadFile(MessagePath(b, 2)), Message("a2"));
  IDX_RECORD r = Record(b, 2);
  moved.n = 2;
  EXPECT_EQ(std::memcmp(&r, &moved, sizeof r), 0);
  EXPECT_EQ(IndexedIds(a), (std::map<int, std::string>{{1, "<a1@example.com>"}}));
  EXPECT_EQ(IndexedIds(b), (std::map<int, std::string>{{1, "<b1@example.com>"}, {2, "<a2@example.com>"}}));
}

TEST_F(StoreTest, RebuildNumbering) {
  ASSERT_EQ(StoreCreateFolder(mail), 0);
  WriteFile(MessagePath(mail, 2), Message("two"));
  WriteFile(MessagePath(mail, 7), Message("seven"));
  WriteFile(mail + "/m07.msg", Message("not canonical"));  // left alone
  ASSERT_EQ(RebuildFolder(mail), 0);
  EXPECT_EQ(IndexedIds(mail), (std::map<int, std::string>{{1, "<two@example.com>"}, {2, "<seven@example.com>"}}));
  EXPECT_FALSE(fs::exists(Host(MessagePath(mail, 7))));
  EXPECT_TRUE(fs::exists(Host(mail + "/m07.msg")));
  EXPECT_EQ(IndexBytes(mail).size(), 3u * 109);
  EXPECT_EQ(GetProfileAccess()->Get(Settings().iniFile, "tester", "IndexFormat", "", 255), "BytePacked");
  EXPECT_TRUE(Settings().indexFormatCurrent);
  // The rebuilt record carries the file's write time as arrival.
  auto mtime = fs::last_write_time(Host(MessagePath(mail, 1)));
  auto secs =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::file_clock::to_sys(mtime).time_since_epoch())
          .count();
  const int32_t arrival = Record(mail, 1).arrival;
  EXPECT_EQ(arrival, static_cast<int32_t>(secs));
}

TEST_F(StoreTest, RebuildSortsTheListingBeforeRenaming) {
  ASSERT_EQ(StoreCreateFolder(mail), 0);
  for (int n : {10, 2, 30, 3}) WriteFile(MessagePath(mail, static_cast<uint64_t>(n)), Message("n" + std::to_string(n)));
  ASSERT_EQ(RebuildFolder(mail), 0);
  EXPECT_EQ(IndexedIds(mail),
            (std::map<int, std::string>{
                {1, "<n2@example.com>"}, {2, "<n3@example.com>"}, {3, "<n10@example.com>"}, {4, "<n30@example.com>"}}));
}

TEST_F(StoreTest, RebuildAllFoldersRecurses) {
  ASSERT_EQ(StoreCreateFolder(mail), 0);
  fs::create_directories(dir / "sub/deeper");
  fs::create_directories(dir / ".hidden");
  WriteFile(MessagePath(dir / "sub/deeper", 4), Message("deep"));
  RebuildAllFolders(mail);
  EXPECT_EQ(IndexedIds(dir / "sub/deeper"), (std::map<int, std::string>{{1, "<deep@example.com>"}}));
  EXPECT_TRUE(fs::exists(Host(IndexPath(dir / "sub"))));
  EXPECT_FALSE(fs::exists(Host(IndexPath(dir / ".hidden"))));
}

TEST_F(StoreTest, ResultCodes) {
  ASSERT_EQ(StoreCreateFolder(mail), 0);
  ASSERT_EQ(AddMessage(mail, Message("one")), 0);
  ASSERT_EQ(AddMessage(mail, Message("two")), 0);
  ASSERT_EQ(StoreDeleteMessage(mail, 2), 0);
  const std::string none = dir / "nowhere";
  const std::string tooLong = mail + "/" + std::string(300, 'x');
  struct Case {
    const char *what;
    int result;
    int expected;
  };
  const std::string indexBefore = IndexBytes(mail);
  const std::string work = dir / "work";
  WriteFile(work, Message("x"));
  const Case cases[] = {
      {"delete in a folder without index", StoreDeleteMessage(none, 1), -9},
      {"delete slot 0", StoreDeleteMessage(mail, 0), -10},
      {"delete beyond the index", StoreDeleteMessage(mail, 9), -10},
      {"delete a free record", StoreDeleteMessage(mail, 2), -10},
      {"move from a folder without index", StoreMoveMessage(none, mail, 1), -9},
      {"move to a folder without index", StoreMoveMessage(mail, none, 1), -9},
      {"move a free record", StoreMoveMessage(mail, mail, 2), -10},
      {"add to a folder without index", StoreAddMessage(work, none), -9},
      {"create with a path too long", StoreCreateFolder(tooLong), -9},
  };
  for (const Case &c : cases) EXPECT_EQ(c.result, c.expected) << c.what;
  EXPECT_EQ(IndexBytes(mail), indexBefore);  // nothing changed
  EXPECT_TRUE(fs::exists(Host(MessagePath(mail, 1))));
  EXPECT_EQ(ReadFile(work), Message("x"));

  IDX_RECORD r;
  FILE *f = nullptr;
  ASSERT_EQ(StoreCreateFolder(dir / "empty"), 0);
  EXPECT_EQ(IndexOpenFirst(dir / "empty", r, f), -9);
  EXPECT_EQ(f, nullptr);
  EXPECT_EQ(IndexOpenFirst(none, r, f), -9);
}

TEST_F(StoreTest, NewMessageNeverReplacesAFile) {
  ASSERT_EQ(StoreCreateFolder(mail), 0);
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(AddMessage(mail, Message("m" + std::to_string(i))), 0);
  ASSERT_EQ(StoreDeleteMessage(mail, 2), 0);
  // A file sits where the free slot and the next appended slot would go.
  WriteFile(MessagePath(mail, 2), "orphan two");
  WriteFile(MessagePath(mail, 4), "orphan four");
  ASSERT_EQ(AddMessage(mail, Message("new")), 0);
  EXPECT_EQ(ReadFile(MessagePath(mail, 2)), "orphan two");
  EXPECT_EQ(ReadFile(MessagePath(mail, 4)), "orphan four");
  EXPECT_EQ(IndexedIds(mail)[5], "<new@example.com>");
  EXPECT_EQ(Record(mail, 4).flags & kRecordFree, kRecordFree);  // passed over, not a used zero record
}

TEST_F(StoreTest, UntrustedFreeListHead) {
  for (int32_t head : {99, 2, -4}) {
    SCOPED_TRACE(head);
    const std::string folder = dir / ("f" + std::to_string(head + 10));
    ASSERT_EQ(StoreCreateFolder(folder), 0);
    for (int i = 1; i <= 3; ++i) ASSERT_EQ(AddMessage(folder, Message("m" + std::to_string(i))), 0);
    std::string bytes = IndexBytes(folder);
    std::memcpy(&bytes[1], &head, 4);  // damaged header: out of range, or a used record
    WriteFile(IndexPath(folder), bytes);
    ASSERT_EQ(AddMessage(folder, Message("new")), 0);
    auto ids = IndexedIds(folder);
    EXPECT_EQ(ids[2], "<m2@example.com>");
    EXPECT_EQ(ids[4], "<new@example.com>");
    EXPECT_EQ(ReadFile(MessagePath(folder, 2)), Message("m2"));
  }
}

namespace {
std::string s_hookTarget;
}  // namespace

TEST_F(StoreTest, FailedMoveLeavesTheMessageWhereItWas) {
  const std::string a = dir / "a", b = dir / "b";
  ASSERT_EQ(StoreCreateFolder(a), 0);
  ASSERT_EQ(StoreCreateFolder(b), 0);
  ASSERT_EQ(AddMessage(a, Message("stay")), 0);
  const std::string indexA = IndexBytes(a), indexB = IndexBytes(b);
  // The destination directory goes away just before the file would move.
  s_hookTarget = Host(b);
  g_StoreStepHook = [](const char *op, int step) {
    if (std::string(op) == "move" && step == 1) fs::rename(s_hookTarget, s_hookTarget + "-gone");
  };
  EXPECT_EQ(StoreMoveMessage(a, b, 1), -9);
  g_StoreStepHook = nullptr;
  EXPECT_EQ(IndexBytes(a), indexA);
  EXPECT_EQ(ReadFile(MessagePath(a, 1)), Message("stay"));
  EXPECT_EQ(ReadFile(IndexPath(b + "-gone")), indexB);
  EXPECT_EQ(IndexedIds(a), (std::map<int, std::string>{{1, "<stay@example.com>"}}));
}

TEST_F(StoreTest, MoveToATakenNamePassesItOver) {
  const std::string a = dir / "a", b = dir / "b";
  ASSERT_EQ(StoreCreateFolder(a), 0);
  ASSERT_EQ(StoreCreateFolder(b), 0);
  ASSERT_EQ(AddMessage(a, Message("moving")), 0);
  // Another writer makes the destination's next name between choosing and renaming.
  s_hookTarget = MessagePath(b, 1);
  g_StoreStepHook = [](const char *op, int step) {
    if (std::string(op) == "move" && step == 1 && !fs::exists(Host(s_hookTarget)))
      WriteFile(s_hookTarget, "someone else");
  };
  EXPECT_EQ(StoreMoveMessage(a, b, 1), 0);
  g_StoreStepHook = nullptr;
  EXPECT_EQ(ReadFile(MessagePath(b, 1)), "someone else");
  EXPECT_EQ(ReadFile(MessagePath(b, 2)), Message("moving"));
  EXPECT_EQ(IndexedIds(b), (std::map<int, std::string>{{2, "<moving@example.com>"}}));
  EXPECT_EQ(Record(b, 1).flags & kRecordFree, kRecordFree);
  EXPECT_TRUE(IndexedIds(a).empty());
}

TEST_F(StoreTest, CreateFolderOverMessageFilesRebuilds) {
  WriteFile(MessagePath(mail, 1), Message("kept"));
  ASSERT_EQ(StoreCreateFolder(mail), 0);
  EXPECT_EQ(IndexedIds(mail), (std::map<int, std::string>{{1, "<kept@example.com>"}}));
  ASSERT_EQ(AddMessage(mail, Message("next")), 0);
  EXPECT_EQ(ReadFile(MessagePath(mail, 1)), Message("kept"));
}

TEST_F(StoreTest, UniqueWorkFilesAreCreatedExclusively) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%06d", static_cast<int>(getpid() % 1000000));
  const std::string first = mail + "/qx" + digits;
  WriteFile(first, "taken");
  std::string path = mail + "/";
  FILE *f = CreateUniqueFile(path);
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(path, mail + "/qx" + "a" + std::string(digits + 1));
  EXPECT_EQ(ReadFile(first), "taken");
  for (char c = 'b'; c <= 'z'; ++c) WriteFile(mail + "/qx" + c + std::string(digits + 1), "taken");
  std::string again = mail + "/";
  EXPECT_EQ(CreateUniqueFile(again), nullptr);  // all 27 names exist: no file, nothing touched
  EXPECT_EQ(ReadFile(first), "taken");
}

TEST_F(StoreTest, CharacterMapFile) {
  WriteFile(mail + "/qxmap.ini", "[QX-Mapping]\r\n7B=E4\r\n7b=41\r\nzz=E5\r\nC4=5B\r\n100=80\r\n");
  LoadCharacterMap(mail);
  EXPECT_EQ(MapIncomingByte(0x7B), 0xE4);
  EXPECT_EQ(MapOutgoingByte(0xE4), 0x7B);
  EXPECT_EQ(MapIncomingByte(0x5B), 0xC4);
  EXPECT_EQ(MapOutgoingByte(0xC4), 0x5B);
  EXPECT_EQ(MapIncomingByte(0x41), 0x41);  // 7B=41: both 7-bit, ignored
  EXPECT_EQ(MapOutgoingByte(0x80), 0x80);  // 100 is not a byte
  EXPECT_EQ(MapOutgoingByte(0xE5), 0xE5);
  std::string text = "a{b\xE4";
  MapIncoming(text);
  EXPECT_EQ(text,
            "a\xE4"
            "b\xE4");
  MapOutgoing(text);
  EXPECT_EQ(text, "a{b{");

  // Without qxmap.ini the path comes from MappingFile in [default].
  fs::remove(mail + "/qxmap.ini");
  WriteFile(dir / "other.ini", "[QX-Mapping]\r\n40=A7\r\n");
  WriteFile(Settings().iniFile, "[default]\r\nMappingFile=" + (dir / "other.ini") + "\r\n");
  LoadCharacterMap(mail);
  EXPECT_EQ(MapIncomingByte(0x40), 0xA7);
  EXPECT_EQ(MapIncomingByte(0x7B), 0x7B);
}

namespace {
struct FixedWidth : RowMeasure {
  int TextWidth(const std::string &text) override { return static_cast<int>(text.size()) * 8; }
};
}  // namespace

TEST_F(StoreTest, MessageListEntries) {
  ASSERT_EQ(StoreCreateFolder(mail), 0);
  FixedWidth m;
  m.tabUnit = 64;
  m.bitmapWidth = 16;
  EXPECT_EQ(BuildMessageList(mail, m), 0);
  EXPECT_EQ(MessageCountText(0), "(0 Messages)");
  ASSERT_EQ(AddMessage(mail, Message("one", "First subject", "A Rather Long Sender Name <x@y>")), 0);
  ASSERT_EQ(AddMessage(mail, Message("two", "Second", "Bo <bo@y>")), 0);
  EXPECT_EQ(BuildMessageList(mail, m), 2);
  const auto &list = CurrentMessageList();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].number, 2);  // newest slot first: entries are pushed at the head
  EXPECT_EQ(list[1].number, 1);
  std::tm local{};
  std::time_t when = 818173800;
  localtime_r(&when, &local);
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "%02d/%02d  ", local.tm_mon + 1, local.tm_mday);
  // 3T - B - 6 = 170 pixels hold 21 characters; tabs fill up to 3T.
  EXPECT_EQ(list[1].rowText, std::string(prefix) + "A Rather Long \t" + "First subject");
  EXPECT_EQ(list[0].rowText, std::string(prefix) + "Bo\t\t" + "Second");
  EXPECT_EQ(MessageCountText(1), "(1 Message)");
  SelectMessageList(1);
  EXPECT_TRUE(CurrentMessageList().empty());
  SelectMessageList(0);
  FreeMessageList();
  EXPECT_TRUE(CurrentMessageList().empty());
}
