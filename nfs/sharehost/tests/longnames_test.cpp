// The long-name table QXMAPTBL.IDX: aliases, record reuse, lookups, and
// tables a crash or another program damaged.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "handles.h"
#include "longnames.h"
#include "nfs_test_env.h"

using nfstest::Machine;

namespace {

const Machine &g_machine = nfstest::TheMachine();

class LongNames : public ::testing::Test {
 protected:
  void SetUp() override {
    nfstest::SetInstallationDirectory("D:\\qxnfs");
    std::filesystem::remove(g_machine.DriveD() + "/qxnfs/QXSTATE.SAV");
    std::filesystem::remove_all(g_machine.DriveD() + "/ln");
    std::filesystem::create_directories(g_machine.DriveD() + "/ln");
    CloseMapTable();
    g_DriveFlags[4] = 0;  // a drive without long names
    ASSERT_EQ(LoadStateFile(), 1);
    ASSERT_EQ(PathToHandle("d:\\ln", dir_), NFS_OK);
  }
  void TearDown() override { CloseMapTable(); }
  std::string TablePath() const { return g_machine.DriveD() + "/ln/QXMAPTBL.IDX"; }
  NFS_FHANDLE dir_;
};

TEST(Aliases, FromOffsetsAndBack) {
  struct Case {
    unsigned long offset;
    const char *alias;
  } cases[] = {{0, "QXMAPFL"},   {1, "QXMAPFLB"},    {33, "QXMAPFLB.B"},
               {31, "QXMAPFL5"}, {32, "QXMAPFLA.B"}, {(1ul << 20) - 1, "QXMAPFL5.555"}};
  for (const Case &c : cases) {
    EXPECT_STREQ(NameMapAlias(c.offset), c.alias);
    EXPECT_EQ(DecodeAlias(c.alias), long(c.offset)) << c.alias;
  }
  EXPECT_EQ(DecodeAlias("qxmaptbl.idx"), -1);
  EXPECT_EQ(DecodeAlias("QXMAPFL!"), -1);
  EXPECT_TRUE(IsReservedName("qxmaptbl.idx"));
  EXPECT_TRUE(IsReservedName("qxmapflb.b"));
  EXPECT_FALSE(IsReservedName("qxmap"));
}

TEST_F(LongNames, RecordsAreReusedByBestFit) {
  std::string twenty(19, 'x');  // capacity 20 with its zero
  std::string a = AllocateNameRecord(twenty.c_str(), dir_);
  std::string b = AllocateNameRecord("second long file name", dir_);
  ASSERT_EQ(a, "QXMAPFL");
  ASSERT_EQ(b, NameMapAlias(8 + 20));
  EXPECT_EQ(ReadNameRecord(dir_, a.c_str()), twenty);
  EXPECT_EQ(ReadNameRecord(dir_, b.c_str()), "second long file name");

  ASSERT_TRUE(FreeNameRecord(dir_, a.c_str()));
  EXPECT_EQ(ReadNameRecord(dir_, a.c_str()), "");
  EXPECT_EQ(ReadNameRecord(dir_, b.c_str()), "second long file name");  // only that record was freed
  // Twelve characters fit the freed record; so do nineteen (19 + zero = 20).
  EXPECT_EQ(AllocateNameRecord("twelve chars", dir_), a);
  FreeNameRecord(dir_, a.c_str());
  EXPECT_EQ(AllocateNameRecord(std::string(19, 'y').c_str(), dir_), a);
  FreeNameRecord(dir_, a.c_str());
  // Twenty do not: appended after the second record.
  EXPECT_EQ(AllocateNameRecord(std::string(20, 'z').c_str(), dir_), NameMapAlias(8 + 20 + 8 + 22));
  EXPECT_TRUE(GetFileAttributesA("d:\\ln\\QXMAPTBL.IDX") & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(LongNames, LookupFindsFilesAndRecords) {
  Machine::Write(g_machine.DriveD() + "/ln/short.txt", "s");
  Machine::Write(g_machine.DriveD() + "/ln/MixCase.TXT", "m");
  std::string alias = AllocateNameRecord("A Long Name.text", dir_);
  ASSERT_FALSE(alias.empty());
  Machine::Write(g_machine.DriveD() + "/ln/" + alias, "l");

  const char *r = LongNameLookup("short.txt", dir_, false);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r, "short.txt");
  // Without long names, a name on disk in another case is found by its lower-case form.
  r = LongNameLookup("mixcase.txt", dir_, false);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r, "mixcase.txt");
  r = LongNameLookup("A Long Name.text", dir_, false);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(std::string(r), alias);

  EXPECT_EQ(LongNameLookup("missing name", dir_, false), nullptr);
  r = LongNameLookup("missing name", dir_, true);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r, "missing name");
  for (const char *refused : {"...", "a=b", "a;b", "a/b", "QXMAPTBL.IDX", "qxmaptbl.idx", alias.c_str()})
    EXPECT_EQ(LongNameLookup(refused, dir_, true), nullptr) << refused;
  for (const char *same : {"", ".", ".."}) EXPECT_STREQ(LongNameLookup(same, dir_, false), same);
}

// A record pointing at itself or backwards ends the walk instead of looping.
TEST_F(LongNames, DamagedTablesEndTheWalk) {
  const unsigned char self[] = {0, 0, 0, 0, 4, 0, 0, 0, 'a', 'b', 'c', 0};
  Machine::Write(TablePath(), std::string(reinterpret_cast<const char *>(self), sizeof self));
  EXPECT_EQ(LongNameLookup("some name", dir_, false), nullptr);
  EXPECT_EQ(AllocateNameRecord("some name", dir_), "");
  CloseMapTable();
  const unsigned char back[] = {12, 0, 0, 0, 4, 0, 0, 0, 'a', 'b', 'c', 0, 4, 0, 0, 0, 4, 0, 0, 0};
  Machine::Write(TablePath(), std::string(reinterpret_cast<const char *>(back), sizeof back));
  const char *r = LongNameLookup("abc", dir_, false);
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r, "QXMAPFL");
  EXPECT_EQ(AllocateNameRecord("other", dir_), "");
}

}  // namespace
