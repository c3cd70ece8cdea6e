// Identity maps set through the registry, the owner, group and mode clients
// see and set through them, and the kernel refusing a caller run as its uid.
// Files are given to throwaway uids, so the test runs as root (as in CI).
#include <gtest/gtest.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <qxwin/descriptors.h>

#include "idmaps.h"
#include "nfs_test_env.h"
#include "registry_keys.h"

using nfstest::Machine;

namespace {

const Machine &g_machine = nfstest::TheMachine();

constexpr uid_t kAlice = 40001, kBob = 40002, kStranger = 40003, kGuest = 40009;
constexpr gid_t kStaff = 40100, kOther = 40200;

Sid UnixSid(uint32_t kind, uint32_t id) {
  Sid sid = {1, 2, 0, 0, 0, 0, 0, 22};
  for (uint32_t v : {kind, id})
    for (int i = 0; i < 4; ++i) sid.push_back(BYTE(v >> (8 * i)));
  return sid;
}

void SetMapping(const char *key_path, const char *name, int32_t id, const Sid &sid, DWORD type = REG_BINARY) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  std::vector<BYTE> value(4);
  for (int i = 0; i < 4; ++i) value[size_t(i)] = BYTE(uint32_t(id) >> (8 * i));
  value.insert(value.end(), sid.begin(), sid.end());
  ASSERT_EQ(RegSetValueExA(key, name, 0, type, value.data(), DWORD(value.size())), ERROR_SUCCESS);
  RegCloseKey(key);
}

void RemoveMapping(const char *key_path, const char *name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

class IdMaps : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "giving files to other users needs root; run the suite as root (CI does)";
    // Other users reach the test's directories.
    chmod(g_machine.root.c_str(), 0755);
    chmod(g_machine.DriveD().c_str(), 0755);
    dir_ = g_machine.DriveD() + "/id";
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    chmod(dir_.c_str(), 0777);
    SetMapping(kUidMappingKey, "alice", 500, UnixSid(1, kAlice));
    SetMapping(kUidMappingKey, "bob", 501, UnixSid(1, kBob));
    SetMapping(kUidMappingKey, "Guest-guest", -1, UnixSid(1, kGuest));
    SetMapping(kGidMappingKey, "staff", 600, UnixSid(2, kStaff));
    SetMapping(kGidMappingKey, "other", 601, UnixSid(2, kOther), REG_SZ);  // not binary: ignored
    HKEY key;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUidMappingKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    const BYTE short_value[] = {1, 0, 0, 0, 1, 5};  // an id and half a SID
    RegSetValueExA(key, "broken", 0, REG_BINARY, short_value, sizeof short_value);
    RegCloseKey(key);
    LoadIdMaps();
  }
  // A file of this test's directory with the given owner, group and mode.
  std::string MakeFile(const char *name, uid_t uid, gid_t gid, mode_t mode) {
    std::string host = dir_ + "/" + name;
    Machine::Write(host, "data");
    EXPECT_EQ(chown(host.c_str(), uid, gid), 0);
    EXPECT_EQ(chmod(host.c_str(), mode), 0);
    return std::string("d:\\id\\") + name;
  }
  struct stat Stat(const char *name) {
    struct stat st = {};
    EXPECT_EQ(lstat((dir_ + "/" + name).c_str(), &st), 0);
    return st;
  }
  std::string dir_;
};

TEST_F(IdMaps, MapsComeFromTheRegistry) {
  ASSERT_NE(UidToSid(500), nullptr);
  EXPECT_EQ(*UidToSid(500), UnixSid(1, kAlice));
  EXPECT_EQ(SidToUid(UnixSid(1, kBob).data(), 16), 501);
  EXPECT_EQ(*GidToSid(600), UnixSid(2, kStaff));
  EXPECT_EQ(GidToSid(601), nullptr);                       // a REG_SZ value
  EXPECT_EQ(SidToUid(UnixSid(1, kGuest).data(), 16), -1);  // the default account is no mapping
  ASSERT_NE(DefaultAccountSid(), nullptr);
  EXPECT_EQ(*DefaultAccountSid(), UnixSid(1, kGuest));
  EXPECT_TRUE(IsUidMapped(12345));  // through the default account
  EXPECT_EQ(UidToSid(1), nullptr);  // "broken" holds no whole SID

  // Ids of any sign are found again; a later mapping of an id replaces it.
  Sid foreign = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 2, 3, 4, 0xE9, 3, 0, 0};
  for (int32_t id : {-3, -4, 254, 255, 256, 510, 0x7fffffff}) {
    ASSERT_EQ(AddUidMapping(id, foreign.data(), DWORD(foreign.size())), 0);
    ASSERT_NE(UidToSid(id), nullptr) << id;
    EXPECT_EQ(*UidToSid(id), foreign);
  }

  // A reload replaces everything: a mapping removed from the registry is gone.
  RemoveMapping(kUidMappingKey, "bob");
  RemoveMapping(kUidMappingKey, "Guest-guest");
  LoadIdMaps();
  EXPECT_EQ(UidToSid(501), nullptr);
  EXPECT_EQ(UidToSid(-3), nullptr);
  EXPECT_FALSE(IsUidMapped(12345));
  EXPECT_TRUE(IsUidMapped(500));
}

// A value no mapping could be (data or a name longer than any mapping's) is
// passed over, and the mappings after it still load: it used to end the
// reading there, and every later account lost its mapping.
TEST_F(IdMaps, AnOversizedValueHidesNoLaterMapping) {
  const struct {
    const char *what;
    std::string name;
    std::vector<BYTE> data;
  } cases[] = {
      {"data of 2,000 bytes", "huge", std::vector<BYTE>(2000, 1)},
      {"a name of 1,500 characters", std::string(1500, 'n'), std::vector<BYTE>{0xF6, 1, 0, 0, 1, 0}},
  };
  for (const auto &c : cases) {
    HKEY key;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUidMappingKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, c.name.c_str(), 0, REG_BINARY, c.data.data(), DWORD(c.data.size())), ERROR_SUCCESS)
        << c.what;
    RegCloseKey(key);
    SetMapping(kUidMappingKey, "carol", 502, UnixSid(1, kStranger));  // set after it
    LoadIdMaps();
    ASSERT_NE(UidToSid(502), nullptr) << c.what;
    EXPECT_EQ(*UidToSid(502), UnixSid(1, kStranger)) << c.what;
    EXPECT_NE(UidToSid(500), nullptr) << c.what;
    RemoveMapping(kUidMappingKey, c.name.c_str());
    RemoveMapping(kUidMappingKey, "carol");
  }
  LoadIdMaps();
}

TEST_F(IdMaps, OwnerGroupAndModeAsClientsSeeThem) {
  struct Case {
    const char *name;
    uid_t uid;
    gid_t gid;
    mode_t mode;
    int32_t want_uid, want_gid;
  } cases[] = {
      {"mapped", kAlice, kStaff, 0754, 500, 600},
      {"unmapped", kStranger, kOther, 0640, int32_t(kStranger), int32_t(kOther)},
      {"none", kBob, kStaff, 0, 501, 600},
      {"all", kBob, kOther, 0777, 501, int32_t(kOther)},
  };
  for (const Case &c : cases) {
    std::string path = MakeFile(c.name, c.uid, c.gid, c.mode);
    int32_t uid = 0, gid = 0;
    EXPECT_EQ(GetFileIdentity(path.c_str(), uid, gid), c.mode) << c.name;
    EXPECT_EQ(uid, c.want_uid) << c.name;
    EXPECT_EQ(gid, c.want_gid) << c.name;
  }
  int32_t uid = 7, gid = 8;
  EXPECT_EQ(GetFileIdentity("d:\\id\\missing", uid, gid), 0u);
  EXPECT_EQ(uid, 7);
  EXPECT_EQ(gid, 8);
}

TEST_F(IdMaps, SettingOwnerGroupAndMode) {
  MakeFile("f", kStranger, kOther, 0600);
  // As root: owner, group and mode as the maps say.
  ASSERT_TRUE(SetFileIdentity("d:\\id\\f", 500, 600, 0751, 0));
  struct stat st = Stat("f");
  EXPECT_EQ(st.st_uid, kAlice);
  EXPECT_EQ(st.st_gid, kStaff);
  EXPECT_EQ(st.st_mode & 0777, 0751u);

  // A uid without a SID goes to the default account.
  ASSERT_TRUE(SetFileIdentity("d:\\id\\f", 777, -1, -1, 0));
  EXPECT_EQ(Stat("f").st_uid, kGuest);

  // chmod by a caller who is neither root nor the owner changes only the
  // owner and group it was asked to.
  ASSERT_TRUE(SetFileIdentity("d:\\id\\f", 500, -1, 0777, 501));
  st = Stat("f");
  EXPECT_EQ(st.st_uid, kAlice);
  EXPECT_EQ(st.st_mode & 0777, 0751u);
  // The owner may; mode 0 leaves no one any access.
  ASSERT_TRUE(SetFileIdentity("d:\\id\\f", -1, -1, 0, 500));
  EXPECT_EQ(Stat("f").st_mode & 0777, 0u);

  // Without a default account a uid with no SID changes nothing at all.
  RemoveMapping(kUidMappingKey, "Guest-guest");
  LoadIdMaps();
  ASSERT_TRUE(SetFileIdentity("d:\\id\\f", 777, 600, 0644, 0));
  st = Stat("f");
  EXPECT_EQ(st.st_uid, kAlice);
  EXPECT_EQ(st.st_mode & 0777, 0u);
}

// Run as a client's user, the kernel decides: another user's 0644 file cannot
// be written or given away, the owner's can.
TEST_F(IdMaps, TheKernelRefusesACallerWithoutPermission) {
  std::string path = MakeFile("mine", kAlice, kStaff, 0644);
  {
    ActAsCaller as(kBob, kOther);
    ASSERT_TRUE(as.ok());
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(f, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    EXPECT_FALSE(SetFileIdentity(path.c_str(), 501, -1, -1, 501));  // chown: not bob's to give
    HANDLE created = CreateFileA("d:\\id\\by-bob", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(created, INVALID_HANDLE_VALUE);
    CloseHandle(created);
  }
  EXPECT_EQ(Stat("mine").st_uid, kAlice);
  EXPECT_EQ(Stat("by-bob").st_uid, kBob);  // a new file belongs to the caller
  EXPECT_EQ(Stat("by-bob").st_gid, kOther);
  {
    ActAsCaller as(kAlice, kStaff);
    ASSERT_TRUE(as.ok());
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(f, INVALID_HANDLE_VALUE);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    EXPECT_TRUE(SetFileIdentity(path.c_str(), -1, -1, 0600, 500));
  }
  EXPECT_EQ(Stat("mine").st_mode & 0777, 0600u);
  // Back to the process's own identity.
  EXPECT_EQ(setfsuid(uid_t(-1)), 0);
}

}  // namespace
