// The exports file: its lines, the mount rule by source address, the check
// every request's handle passes, and a Reload that removes an export.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "exports.h"
#include "handles.h"
#include "nfs_test_env.h"

using nfstest::Machine;

namespace {

const Machine &g_machine = nfstest::TheMachine();

uint32_t Addr(const char *dotted) { return inet_addr(dotted); }

const char kExports[] =
    "# exported directories\n"
    "D:\\ex\\users -ro\n"
    "/d/ex/users -ro\n"
    "d:\\ex\\pub -rw=127.0.0.2:127.0.0.3\n"
    "d:\\ex\\acc -access=alpha[10.1.2.3]\n"
    "\n"
    "d:\\ex\\bare 127.0.0.4, 127.0.0.5\n"
    "d:\\ex\\rohost -ro 127.0.0.6\n"
    "d:\\ex\\rooted -root=127.0.0.7,nosuchoption\r\n"
    "lpt1:\n"
    "d:\\ex\\missing\n"
    "d:\\ex\\tail";  // no newline at the end

class Exports : public ::testing::Test {
 protected:
  void SetUp() override {
    nfstest::SetInstallationDirectory("D:\\qxnfs");
    std::filesystem::remove(g_machine.DriveD() + "/qxnfs/QXSTATE.SAV");
    ASSERT_EQ(LoadStateFile(), 1);
    std::string ex = g_machine.DriveD() + "/ex";
    std::filesystem::remove_all(ex);
    for (const char *d : {"users", "pub/sub/deeper", "acc", "bare", "rohost", "rooted", "tail", "other"})
      std::filesystem::create_directories(ex + "/" + d);
    std::filesystem::create_directories(g_machine.DriveD() + "/cfg");
    ASSERT_TRUE(SetCurrentDirectoryA("D:\\cfg"));
    WriteExports(kExports);
    ASSERT_EQ(ReadExportsFile(), 0);
  }
  static void WriteExports(const std::string &text) { Machine::Write(g_machine.DriveD() + "/cfg/exports", text); }
  static NFS_FHANDLE Mount(const char *path, const char *from, int expected = NFS_OK) {
    NFS_FHANDLE h = {};
    EXPECT_EQ(ExportAccess(path, Addr(from), h), expected) << path << " from " << from;
    return h;
  }
  static NFS_FHANDLE Child(const NFS_FHANDLE &dir, const char *name, bool directory = true) {
    NFS_FHANDLE h = *ChildHandle(dir, name);
    SetHandleDirectory(h, directory);
    return h;
  }
};

TEST_F(Exports, LinesBecomeEntries) {
  ASSERT_EQ(g_Exports.size(), 9u);  // the missing directory is dropped
  EXPECT_EQ(memcmp(&g_Exports[0].handle, &g_Exports[1].handle, kHandleSize), 0);
  EXPECT_EQ(g_Exports[7].flags, kExportEveryHost | kExportPrinter);
  EXPECT_EQ(g_Exports[7].printer, "LPT1:");
  EXPECT_EQ(g_Exports[8].path, "d:\\ex\\tail");
  EXPECT_TRUE(g_DriveFlags[4] & kDriveLongNames);

  const char *expected[] = {
      "D:\\ex\\users\t-ro",
      "/d/ex/users\t-ro",
      "d:\\ex\\pub\t-ro,rw=127.0.0.3:127.0.0.2",
      "d:\\ex\\acc\t-access=alpha[10.1.2.3]",
      "d:\\ex\\bare\t-access=127.0.0.5:127.0.0.4",
      "d:\\ex\\rohost\t-ro,access=127.0.0.6",
      "d:\\ex\\rooted\t(everyone)",
      "LPT1:\t(everyone)",
      "d:\\ex\\tail\t(everyone)",
  };
  std::vector<std::string> lines = FillExportsList();
  ASSERT_EQ(lines.size(), std::size(expected));
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], expected[i]);
}

TEST_F(Exports, MountRuleBySourceAddress) {
  struct Case {
    const char *path, *from;
    int status;
    bool read_only;
  } cases[] = {
      {"d:\\ex\\users", "127.0.0.9", NFS_OK, true},
      {"d:\\ex\\pub", "127.0.0.2", NFS_OK, false},
      {"d:\\ex\\pub", "127.0.0.3", NFS_OK, false},
      {"d:\\ex\\pub", "127.0.0.9", NFS_OK, true},
      {"d:\\ex\\pub\\sub\\deeper", "127.0.0.2", NFS_OK, false},  // a subdirectory of an export
      {"d:\\ex\\acc", "10.1.2.3", NFS_OK, false},
      {"d:\\ex\\acc", "10.1.2.4", NFSERR_ACCES, false},
      {"d:\\ex\\bare", "127.0.0.4", NFS_OK, false},
      {"d:\\ex\\bare", "127.0.0.9", NFSERR_ACCES, false},
      {"d:\\ex\\rohost", "127.0.0.6", NFS_OK, true},
      {"d:\\ex\\rohost", "127.0.0.7", NFSERR_ACCES, false},
      {"d:\\ex\\other", "127.0.0.2", NFSERR_NOENT, false},
      {"d:\\ex", "127.0.0.2", NFSERR_NOENT, false},
      {"d:\\ex\\nowhere", "127.0.0.2", NFSERR_NOENT, false},
  };
  for (const Case &c : cases) {
    NFS_FHANDLE h = Mount(c.path, c.from, c.status);
    if (c.status == NFS_OK) {
      EXPECT_EQ(HandleIsReadOnly(h), c.read_only) << c.path << " from " << c.from;
    }
  }
  EXPECT_TRUE(IsRootHost(g_Exports[6], Addr("127.0.0.7")));
  EXPECT_FALSE(IsRootHost(g_Exports[6], Addr("127.0.0.8")));
}

TEST_F(Exports, EveryRequestIsCheckedAgainstTheCurrentTable) {
  NFS_FHANDLE pub = Mount("d:\\ex\\pub", "127.0.0.2");
  NFS_FHANDLE sub = Child(pub, "sub");
  NFS_FHANDLE file = Child(Child(sub, "deeper"), "file.txt", false);
  bool ro = true;
  const EXPORT_ENTRY *entry = nullptr;
  for (const NFS_FHANDLE &h : {pub, sub, file}) {
    EXPECT_EQ(CheckHandleAccess(h, Addr("127.0.0.2"), &ro, &entry), NFS_OK);
    EXPECT_FALSE(ro);
    EXPECT_EQ(entry, &g_Exports[2]);
    // The read-only state comes from the table, not from the handle's bit.
    EXPECT_EQ(CheckHandleAccess(h, Addr("127.0.0.9"), &ro), NFS_OK);
    EXPECT_TRUE(ro);
  }

  // ".." climbs within the export and stops at its root.
  NFS_FHANDLE up = file;
  for (int i = 0; i < 6; ++i) ExportParentHandle(up, g_Exports[2]);
  EXPECT_TRUE(IsExportRoot(up, g_Exports[2]));
  EXPECT_STREQ(HandleToPath(up), "d:\\ex\\pub");

  // Handles forged for places no export covers.
  NFS_FHANDLE forged;
  ASSERT_EQ(PathToHandle("d:\\ex\\other", forged), NFS_OK);
  EXPECT_EQ(CheckHandleAccess(forged, Addr("127.0.0.2"), &ro), NFSERR_STALE);
  ASSERT_EQ(PathToHandle("d:\\", forged), NFS_OK);
  EXPECT_EQ(CheckHandleAccess(forged, Addr("127.0.0.2"), &ro), NFSERR_STALE);
  ParentHandle(pub);  // d:\ex, above the export
  EXPECT_EQ(CheckHandleAccess(pub, Addr("127.0.0.2"), &ro), NFSERR_STALE);

  // A host the export does not admit.
  NFS_FHANDLE acc = Mount("d:\\ex\\acc", "10.1.2.3");
  EXPECT_EQ(CheckHandleAccess(Child(acc, "x", false), Addr("10.1.2.4"), &ro), NFSERR_ACCES);

  // A Reload that drops the export ends the handles clients still hold.
  WriteExports("d:\\ex\\users -ro\n");
  ASSERT_EQ(ReadExportsFile(), 0);
  EXPECT_EQ(CheckHandleAccess(sub, Addr("127.0.0.2"), &ro), NFSERR_STALE);
  EXPECT_EQ(CheckHandleAccess(Mount("d:\\ex\\users", "127.0.0.2"), Addr("127.0.0.2"), &ro), NFS_OK);
}

TEST_F(Exports, WholeDriveAndMissingFile) {
  WriteExports("d:\\ -ro\n");
  ASSERT_EQ(ReadExportsFile(), 0);
  NFS_FHANDLE h = Mount("d:\\ex\\pub\\sub", "127.0.0.9");
  EXPECT_TRUE(HandleIsReadOnly(h));
  NFS_FHANDLE root = Mount("d:\\", "127.0.0.9");
  EXPECT_TRUE(IsExportRoot(root, g_Exports[0]));
  EXPECT_EQ(FillExportsList()[0], "d:\\\t-ro");

  std::filesystem::remove(g_machine.DriveD() + "/cfg/exports");
  EXPECT_EQ(ReadExportsFile(), -1);
  EXPECT_EQ(g_Exports.size(), 1u);  // the old table stays
}

}  // namespace
