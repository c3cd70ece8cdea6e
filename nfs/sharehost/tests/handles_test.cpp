// File handles, the directory-name table and QXSTATE.SAV: the bit layout
// clients hold, path <-> handle round trips over real directories, restarts,
// and the handles no path may come from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "handles.h"
#include "longnames.h"
#include "nfs_test_env.h"

using nfstest::Machine;
using nfstest::TheMachine;

namespace {

const Machine &g_machine = TheMachine();

std::string StatePath() { return g_machine.DriveD() + "/qxnfs/QXSTATE.SAV"; }

class Handles : public ::testing::Test {
 protected:
  void SetUp() override {
    nfstest::SetInstallationDirectory("D:\\qxnfs");
    std::filesystem::remove(StatePath());
    std::filesystem::remove_all(g_machine.DriveD() + "/t");
    std::filesystem::create_directories(g_machine.DriveD() + "/t");
    g_DriveFlags[4] = kDriveLongNames | kDriveNtSecurity;
    ASSERT_EQ(LoadStateFile(), 1);
  }
  // A directory (host path under D:) holding a file "marker" with its own name.
  static void MakeDir(const std::string &rel) {
    std::string host = g_machine.DriveD() + "/" + rel;
    std::filesystem::create_directories(host);
    Machine::Write(host + "/marker", rel);
  }
  // The marker read back through the path a handle gives.
  static std::string MarkerOf(const NFS_FHANDLE &h) {
    const char *path = HandleToPath(h);
    if (!path) return "<no path>";
    std::string p = std::string(path) + "\\marker";
    HANDLE f = CreateFileA(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return "<missing " + p + ">";
    char buf[512];
    DWORD got = 0;
    ReadFile(f, buf, sizeof buf, &got, nullptr);
    CloseHandle(f);
    return std::string(buf, got);
  }
  static NFS_FHANDLE Handle(const std::string &path) {
    NFS_FHANDLE h;
    EXPECT_EQ(PathToHandle(path.c_str(), h), NFS_OK) << path;
    return h;
  }
};

// Every slot, and the split ones exactly as clients' handles hold them.
TEST(HandleLayout, SlotsPackAndSplitAsStored) {
  NFS_FHANDLE h = {};
  for (int k = 0; k < kMaxDepth; ++k) SetHandleSlot(h, k, 0x100 * (k % 16) + 0x11 * k + 1);
  for (int k = 0; k < kMaxDepth; ++k) EXPECT_EQ(HandleSlot(h, k), 0x100 * (k % 16) + 0x11 * k + 1) << k;

  struct Split {
    int slot;
    int index;
    std::vector<std::pair<int, BYTE>> bytes;  // byte offset, expected value
  };
  const Split cases[] = {
      {1, 0xABC, {{3, 0xAB}, {4, 0x0C}}},    {4, 0xABC, {{7, 0xA0}, {8, 0xBC}}}, {9, 0xABC, {{15, 0xAB}, {16, 0x0C}}},
      {12, 0xABC, {{19, 0xA0}, {20, 0xBC}}}, {0, 0xABC, {{1, 0xC0}, {2, 0xAB}}},
  };
  for (const Split &c : cases) {
    NFS_FHANDLE one = {};
    SetHandleSlot(one, c.slot, c.index);
    for (auto [offset, value] : c.bytes) EXPECT_EQ(one.data[offset], value) << "slot " << c.slot << " byte " << offset;
    EXPECT_EQ(HandleSlot(one, c.slot), c.index);
  }

  NFS_FHANDLE w = {};
  SetHandleDrive(w, 26);
  SetHandleReadOnly(w, true);
  SetHandleDirectory(w, true);
  SetHandleDepth(w, 13);
  EXPECT_EQ(w.data[0], 26 | 0x20 | 0x40 | 0x80);
  EXPECT_EQ(w.data[1], 13 >> 1);
}

TEST(HandleLayout, LastNameForms) {
  struct Case {
    const char *name, *stored, *reformed;
  } cases[] = {
      {"readme.txt", "readme.txt", "readme.txt"},
      {"abcdefgh.ijk", "abcdefghijk", "abcdefgh.ijk"},
      {"ABCDEFGH.IJK", "abcdefghijk", "abcdefgh.ijk"},
      {"v1.2", "v1.2", "v1.2"},
      {"abc", "abc", "abc"},
  };
  for (const Case &c : cases) {
    NFS_FHANDLE h = {};
    StoreLastName(h, c.name);
    EXPECT_EQ(HandleLastName(h), c.stored) << c.name;
    EXPECT_EQ(ReformName(HandleLastName(h).c_str(), kLastNameSize), c.reformed) << c.name;
  }
}

TEST_F(Handles, PathToHandleAndBack) {
  MakeDir("t/a/b");
  NFS_FHANDLE h = Handle("d:\\t\\a\\b");
  EXPECT_EQ(HandleDrive(h), 4);
  EXPECT_EQ(HandleDepth(h), 2);
  EXPECT_EQ(HandleSlot(h, 0), FindDirName("t"));
  EXPECT_EQ(HandleSlot(h, 1), FindDirName("a"));
  EXPECT_EQ(HandleLastName(h), "b");
  EXPECT_TRUE(HandleIsDirectory(h));
  EXPECT_STREQ(HandleToPath(h), "d:\\t\\a\\b");

  for (const char *same : {"D:\\T\\A\\B", "/d/t/a/b", "d:t\\a\\b", "d/t/a/b", "\\d:\\t\\a\\b\\"}) {
    NFS_FHANDLE other = Handle(same);
    EXPECT_EQ(memcmp(&h, &other, sizeof h), 0) << same;
  }

  ParentHandle(h);
  EXPECT_EQ(HandleDepth(h), 1);
  EXPECT_EQ(HandleLastName(h), "a");
  ParentHandle(h);
  ParentHandle(h);
  EXPECT_STREQ(HandleToPath(h), "d:\\");
  ParentHandle(h);  // the root stays the root
  EXPECT_STREQ(HandleToPath(h), "d:\\");

  NFS_FHANDLE none;
  EXPECT_EQ(PathToHandle("d:\\t\\nowhere", none), NFSERR_NOENT);
  EXPECT_EQ(PathToHandle("d:\\t\\a\\b\\marker", none), NFSERR_NOENT);  // a file, not a directory
  EXPECT_EQ(PathToHandle("d:\\t\\a\\..\\..\\..", none), NFSERR_NOENT);
  EXPECT_EQ(PathToHandle("/srv/pub", none), NFSERR_NOENT);
  bool printer = false;
  EXPECT_EQ(PathToHandle("lpt1:", none, &printer), NFS_OK);
  EXPECT_TRUE(printer);
}

// Each directory's handle leads back to that directory, whatever its name.
TEST_F(Handles, RoundTripsOfAwkwardNames) {
  std::vector<std::string> dirs = {
      "t/Long Directory Name",
      "t/another long directory",
      "t/Docs",
      "t/docs",
      "t/DOCS",
      "t/Makefile.d",
      "t/collide/Long File Name One",
      "t/collide/Long File Name Two",
      "t/collide/LongFileNameOne",
      "t/collide/Lo",
      "t/collide/LO",
      "t/a.b.c",
      "t/name with.long extension",
  };
  for (const std::string &d : dirs) MakeDir(d);
  // An entry named exactly as another's alternate pushes that one to "~2".
  WIN32_FIND_DATAA fd;
  HANDLE find = FindFirstFileA("d:\\t\\collide\\Long File Name One", &fd);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  FindClose(find);
  std::string first_alternate = fd.cAlternateFileName;
  ASSERT_EQ(first_alternate.substr(first_alternate.size() - 2), "~1");
  dirs.push_back("t/collide/" + first_alternate);
  MakeDir(dirs.back());
  find = FindFirstFileA("d:\\t\\collide\\Long File Name One", &fd);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  FindClose(find);
  EXPECT_NE(std::string(fd.cAlternateFileName), first_alternate);
  NFS_FHANDLE t = Handle("d:\\t");
  NFS_FHANDLE collide = Handle("d:\\t\\collide");
  std::vector<std::vector<BYTE>> seen;
  for (const std::string &d : dirs) {
    const NFS_FHANDLE &parent = d.rfind("t/collide/", 0) == 0 ? collide : t;
    std::string leaf = d.substr(d.rfind('/') + 1);
    NFS_FHANDLE *child = ChildHandle(parent, leaf.c_str());
    ASSERT_NE(child, nullptr) << d;
    NFS_FHANDLE h = *child;
    SetHandleDirectory(h, true);
    EXPECT_EQ(MarkerOf(h), d);
    // A grandchild goes through the directory's own name in a slot.
    NFS_FHANDLE *marker = ChildHandle(h, "marker");
    ASSERT_NE(marker, nullptr);
    NFS_FHANDLE m = *marker;
    ParentHandle(m);
    EXPECT_EQ(MarkerOf(m), d);
    seen.emplace_back(h.data, h.data + kHandleSize);
    // The path form finds the same directory.
    std::string win = "d:\\" + d;
    std::replace(win.begin(), win.end(), '/', '\\');
    EXPECT_EQ(MarkerOf(Handle(win)), d) << win;
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end()) << "two directories share a handle";
}

TEST_F(Handles, ThirteenLevelsAndNoMore) {
  std::string rel = "t", win = "d:\\t";
  for (int i = 1; i <= 13; ++i) {
    rel += "/l" + std::to_string(i);
    win += "\\l" + std::to_string(i);
  }
  MakeDir(rel);
  // t, l1..l12 fill the 13 slots; l13 is the last name.
  NFS_FHANDLE deepest = Handle(win);
  EXPECT_EQ(HandleDepth(deepest), 13);
  EXPECT_EQ(MarkerOf(deepest), rel);
  EXPECT_EQ(ChildHandle(deepest, "marker"), nullptr);
  EXPECT_EQ(LastChildHandleError(), NFSERR_NAMETOOLONG);
  MakeDir(rel + "/l14");
  NFS_FHANDLE none;
  EXPECT_EQ(PathToHandle((win + "\\l14").c_str(), none), NFSERR_NAMETOOLONG);
}

TEST_F(Handles, HandlesSurviveARestart) {
  MakeDir("t/one/two");
  MakeDir("t/Long Directory Name/v1.2");
  MakeDir("t/abcdefgh.ijk/x");
  std::vector<NFS_FHANDLE> handles = {Handle("d:\\t\\one\\two"), Handle("d:\\t\\Long Directory Name\\v1.2"),
                                      Handle("d:\\t\\abcdefgh.ijk\\x")};
  std::string appended = Machine::Read(StatePath());
  int count = DirNameCount();

  // The appends alone bring everything back (as after a crash)...
  ASSERT_EQ(LoadStateFile(), 1);
  EXPECT_EQ(DirNameCount(), count);
  for (const NFS_FHANDLE &h : handles) EXPECT_NE(MarkerOf(h).find("t/"), std::string::npos);
  // ...and the file written at shutdown holds the same bytes.
  ASSERT_TRUE(SaveStateFile());
  EXPECT_EQ(Machine::Read(StatePath()), appended);
  ASSERT_EQ(LoadStateFile(), 1);
  EXPECT_EQ(MarkerOf(handles[0]), "t/one/two");
  EXPECT_EQ(MarkerOf(handles[1]), "t/Long Directory Name/v1.2");
  EXPECT_EQ(MarkerOf(handles[2]), "t/abcdefgh.ijk/x");
  EXPECT_NE(FindDirName("abcdefgh.ijk"), 0);
}

// The chained form: the first byte XOR 0xFF, every later byte XOR the plain
// byte before it.
TEST_F(Handles, StateFileBytes) {
  BYTE chain = 0xFF;
  std::string plain("a\0bin\0v1.2\0", 11);
  std::string stored = ChainEncode(plain, chain);
  const BYTE expected[] = {'a' ^ 0xFF, 'a', 'b', 'b' ^ 'i', 'i' ^ 'n', 'n', 'v', 'v' ^ '1', '1' ^ '.', '.' ^ '2', '2'};
  ASSERT_EQ(stored.size(), sizeof expected);
  EXPECT_EQ(memcmp(stored.data(), expected, sizeof expected), 0);

  // Several short names in the last 13 bytes are all replayed, dots kept.
  std::string names("longname\0abcdefgh.ijk\0a\0b\0v1.2\0cd\0", 34);
  chain = 0xFF;
  Machine::Write(StatePath(), ChainEncode(names, chain));
  ASSERT_EQ(LoadStateFile(), 1);
  EXPECT_EQ(DirNameCount(), 7);
  const char *order[] = {"dos", "longname", "abcdefgh.ijk", "a", "b", "v1.2", "cd"};
  for (int i = 0; i < 7; ++i) EXPECT_STREQ(DirNameOf(i), order[i]);
}

TEST_F(Handles, DamagedStateFileIsRefused) {
  struct Case {
    const char *why;
    std::string plain;
  } cases[] = {
      {"a record without its zero", std::string("abc\0defghijklmnop", 17)},
      {"a name twice", std::string("abc\0def\0abc\0", 12)},
      {"an empty record", std::string("abc\0\0", 5)},
  };
  for (const Case &c : cases) {
    BYTE chain = 0xFF;
    Machine::Write(StatePath(), ChainEncode(c.plain, chain));
    EXPECT_EQ(LoadStateFile(), -3) << c.why;
  }
  std::filesystem::remove(StatePath());
  EXPECT_EQ(LoadStateFile(), 1);  // a missing file is made
  EXPECT_TRUE(std::filesystem::exists(StatePath()));
  nfstest::SetInstallationDirectory(nullptr);
  EXPECT_EQ(LoadStateFile(), -1);
  nfstest::SetInstallationDirectory("D:\\no such directory");
  EXPECT_EQ(LoadStateFile(), -2);
}

// A name the state file did not take gets no index: otherwise every later
// index would shift at the next start.
TEST_F(Handles, FailedAppendRefusesTheName) {
  MakeDir("t/fresh/x");
  NFS_FHANDLE f = Handle("d:\\t\\fresh");  // "t" is in the table, "fresh" is not
  int count = DirNameCount();
  std::string before = Machine::Read(StatePath());
  ASSERT_TRUE(SetFileAttributesA("D:\\qxnfs\\QXSTATE.SAV", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ChildHandle(f, "x"), nullptr);
  EXPECT_EQ(LastChildHandleError(), NFSERR_IO);
  EXPECT_EQ(DirNameCount(), count);
  EXPECT_EQ(Machine::Read(StatePath()), before);
  ASSERT_TRUE(SetFileAttributesA("D:\\qxnfs\\QXSTATE.SAV", FILE_ATTRIBUTE_NORMAL));
  ASSERT_NE(ChildHandle(f, "x"), nullptr);
  EXPECT_EQ(DirNameCount(), count + 1);
}

TEST_F(Handles, FullTableIsAnErrorNotAnAlias) {
  MakeDir("t/last/x");
  NFS_FHANDLE last = Handle("d:\\t\\last");  // "t" is in the table, "last" is not
  for (int i = DirNameCount(); i < kMaxTableEntries; ++i) {
    std::string name = "n" + std::to_string(i);
    ASSERT_EQ(AddDirName(name.c_str()), i);
  }
  EXPECT_EQ(ChildHandle(last, "x"), nullptr);
  EXPECT_EQ(LastChildHandleError(), NFSERR_NOSPC);
  NFS_FHANDLE none;
  EXPECT_EQ(PathToHandle("d:\\t\\last\\x", none), NFSERR_NOSPC);
  // Every index still names its own entry after a restart.
  ASSERT_EQ(LoadStateFile(), 1);
  EXPECT_EQ(DirNameCount(), kMaxTableEntries);
  EXPECT_STREQ(DirNameOf(kMaxTableEntries - 1), ("n" + std::to_string(kMaxTableEntries - 1)).c_str());
}

// Handles no path may come from: forged or from a lost state file.
TEST_F(Handles, MalformedHandlesHaveNoPath) {
  MakeDir("t/a");
  NFS_FHANDLE good = Handle("d:\\t\\a");
  ASSERT_NE(HandleToPath(good), nullptr);
  struct Case {
    const char *why;
    void (*forge)(NFS_FHANDLE &);
  } cases[] = {
      {"drive 0", [](NFS_FHANDLE &h) { SetHandleDrive(h, 0); }},
      {"drive 27", [](NFS_FHANDLE &h) { SetHandleDrive(h, 27); }},
      {"depth 14", [](NFS_FHANDLE &h) { SetHandleDepth(h, 14); }},
      {"slot past the table", [](NFS_FHANDLE &h) { SetHandleSlot(h, 0, DirNameCount()); }},
      {"slot 0 in use", [](NFS_FHANDLE &h) { SetHandleSlot(h, 0, 0); }},
      {"slot beyond the depth", [](NFS_FHANDLE &h) { SetHandleSlot(h, 5, 1); }},
      {"last name ..", [](NFS_FHANDLE &h) { StoreLastName(h, ".."); }},
      {"last name with a separator", [](NFS_FHANDLE &h) { StoreLastName(h, "../etc"); }},
      {"last name with a colon", [](NFS_FHANDLE &h) { StoreLastName(h, "c:x"); }},
  };
  for (const Case &c : cases) {
    NFS_FHANDLE h = good;
    c.forge(h);
    EXPECT_EQ(HandleToPath(h), nullptr) << c.why;
  }
}

TEST(ClientNames, OnlyPlainNamesPass) {
  for (const char *ok : {"a", "README", "a b", "v1.2", ".profile", "x.tar.gz"}) EXPECT_TRUE(IsPlainName(ok)) << ok;
  for (const char *bad :
       {"", ".", "..", "...", "a/b", "a\\b", "c:", "*", "a?", "x.", "x ", "nul", "CON.txt", "lpt1", "a\tb"})
    EXPECT_FALSE(IsPlainName(bad)) << bad;
}

}  // namespace
