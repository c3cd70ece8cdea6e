// The registry: value types, sizes, enumeration, delete rules, predefined
// keys, writers in several processes, a writer killed mid-write, and the
// qxreg tool's REGEDIT4 export and import.
#include <gtest/gtest.h>
#include <windows.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "test_env.h"

namespace {

auto &g_dirs = advapi_test::Dirs();
using advapi_test::Capture;
using advapi_test::RunTool;

// A key made fresh for one test under HKCU\Tests\<name>, deleted afterwards.
class TestKey {
 public:
  explicit TestKey(const std::string &name) : path_("Tests\\" + name) {
    RunTool({"qxreg", "delete", "HKCU\\" + path_});
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  ~TestKey() { RegCloseKey(key_); }
  HKEY get() const { return key_; }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
  HKEY key_ = nullptr;
};

std::vector<BYTE> Bytes(const char *s, size_t n) { return std::vector<BYTE>(s, s + n); }

struct TypeCase {
  const char *name;
  DWORD type;
  std::vector<BYTE> data;
};

TEST(Registry, ValuesOfEachTypeRoundTrip) {
  TestKey key("types");
  const DWORD three = 3;
  const std::vector<TypeCase> cases = {
      {"sz", REG_SZ, Bytes("hello world", 12)},
      {"expand", REG_EXPAND_SZ, Bytes("%SystemRoot%\\System32\\qxnfsclt.dll", 35)},
      {"multi", REG_MULTI_SZ, Bytes("Afd\0Mup\0", 9)},
      {"dword", REG_DWORD,
       std::vector<BYTE>(reinterpret_cast<const BYTE *>(&three), reinterpret_cast<const BYTE *>(&three) + 4)},
      {"binary", REG_BINARY, Bytes("\x00\x01\xff\x00\x7f", 5)},
      {"none", REG_NONE, {}},
      {"bigendian", REG_DWORD_BIG_ENDIAN, Bytes("\x00\x00\x00\x03", 4)},
      {"", REG_SZ, Bytes("default", 8)},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(RegSetValueExA(key.get(), c.name, 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExA(key.get(), c.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    ASSERT_EQ(size, c.data.size());
    std::vector<BYTE> back(size + 1, 0xEE);
    DWORD cb = static_cast<DWORD>(back.size());
    ASSERT_EQ(RegQueryValueExA(key.get(), c.name, nullptr, &type, back.data(), &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, c.data.size());
    back.resize(cb);
    EXPECT_EQ(back, c.data);
  }
}

TEST(Registry, ShortBufferGetsMoreDataAndTheSizeNeeded) {
  TestKey key("moredata");
  const char text[] = "QXNFS Print Services";
  ASSERT_EQ(RegSetValueExA(key.get(), "Order", 0, REG_SZ, reinterpret_cast<const BYTE *>(text), sizeof text),
            ERROR_SUCCESS);
  char buf[64];
  std::memset(buf, 'x', sizeof buf);
  DWORD size = 5, type = 0;
  EXPECT_EQ(RegQueryValueExA(key.get(), "Order", nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof text);
  EXPECT_EQ(buf[0], 'x');
  size = sizeof text;
  EXPECT_EQ(RegQueryValueExA(key.get(), "Order", nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size), ERROR_SUCCESS);
  EXPECT_STREQ(buf, text);
  // Data without a size is refused; a missing value is FILE_NOT_FOUND.
  EXPECT_EQ(RegQueryValueExA(key.get(), "Order", nullptr, &type, reinterpret_cast<LPBYTE>(buf), nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExA(key.get(), "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  // A string stored without its NUL gets one when there is room for it.
  ASSERT_EQ(RegSetValueExA(key.get(), "bare", 0, REG_SZ, reinterpret_cast<const BYTE *>("abc"), 3), ERROR_SUCCESS);
  std::memset(buf, 'x', sizeof buf);
  size = sizeof buf;
  ASSERT_EQ(RegQueryValueExA(key.get(), "bare", nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 3u);
  EXPECT_STREQ(buf, "abc");
  // RegEnumValue: a short data buffer also gets the size.
  char name[32];
  DWORD name_size = sizeof name;
  size = 2;
  EXPECT_EQ(RegEnumValueA(key.get(), 0, name, &name_size, nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof text);
}

TEST(Registry, EnumerationOrderAndEnd) {
  TestKey key("enum");
  for (const char *name : {"zeta", "Alpha", "_under", "beta"}) {
    HKEY sub;
    ASSERT_EQ(RegCreateKeyA(key.get(), name, &sub), ERROR_SUCCESS);
    RegCloseKey(sub);
  }
  // Subkeys: sorted by their upper-case names, as NT lists them.
  std::vector<std::string> keys;
  char buf[64];
  DWORD i = 0;
  LONG rc;
  while ((rc = RegEnumKeyA(key.get(), i++, buf, sizeof buf)) == ERROR_SUCCESS) keys.push_back(buf);
  EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "beta", "zeta", "_under"}));
  EXPECT_EQ(RegEnumKeyA(key.get(), 0, buf, 3), ERROR_MORE_DATA);

  // Values: in the order first set; overwriting keeps the place.
  const DWORD v = 1;
  for (const char *name : {"second", "first", "third"})
    ASSERT_EQ(RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&v), 4), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key.get(), "SECOND", 0, REG_SZ, reinterpret_cast<const BYTE *>("x"), 2), ERROR_SUCCESS);
  std::vector<std::string> values;
  for (i = 0;; ++i) {
    DWORD size = sizeof buf;
    rc = RegEnumValueA(key.get(), i, buf, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) break;
    EXPECT_EQ(size, std::strlen(buf));
    values.push_back(buf);
  }
  EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(values, (std::vector<std::string>{"SECOND", "first", "third"}));
  DWORD small = 3;
  EXPECT_EQ(RegEnumValueA(key.get(), 0, buf, &small, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);

  DWORD n_keys = 0, max_key = 0, n_values = 0, max_name = 0, max_data = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &n_keys, &max_key, nullptr, &n_values, &max_name,
                             &max_data, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(n_keys, 4u);
  EXPECT_EQ(max_key, 6u);
  EXPECT_EQ(n_values, 3u);
  EXPECT_EQ(max_name, 6u);
  EXPECT_EQ(max_data, 4u);
}

TEST(Registry, NamesIgnoreCaseAndKeepIt) {
  TestKey key("case");
  HKEY sub, again;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(key.get(), "MixedCase\\Inner", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  ASSERT_EQ(
      RegCreateKeyExA(key.get(), "MIXEDCASE\\inner\\", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &again, &disposition),
      ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  ASSERT_EQ(RegSetValueExA(sub, "Welcome", 0, REG_SZ, reinterpret_cast<const BYTE *>("hi"), 3), ERROR_SUCCESS);
  char buf[16];
  DWORD size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(again, "WELCOME", nullptr, nullptr, reinterpret_cast<LPBYTE>(buf), &size), ERROR_SUCCESS);
  EXPECT_EQ(RegEnumKeyA(key.get(), 0, buf, sizeof buf), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "MixedCase");
  RegCloseKey(sub);
  RegCloseKey(again);
}

TEST(Registry, DeleteRules) {
  TestKey key("delete");
  HKEY parent, child;
  ASSERT_EQ(RegCreateKeyA(key.get(), "Parent\\Child", &child), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyA(key.get(), "Parent", &parent), ERROR_SUCCESS);
  // A key with subkeys is refused, as NT does; its leaf goes first.
  EXPECT_EQ(RegDeleteKeyA(key.get(), "Parent"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(key.get(), "Parent\\Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(key.get(), nullptr), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(RegDeleteKeyA(key.get(), "Parent\\Child"), ERROR_SUCCESS);
  // The open handle of a deleted key fails, even once the name is made again.
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(child, "x", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  HKEY remade;
  ASSERT_EQ(RegCreateKeyA(parent, "Child", &remade), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(child, "x", 0, REG_SZ, reinterpret_cast<const BYTE *>(""), 1), ERROR_KEY_DELETED);
  char buf[8];
  EXPECT_EQ(RegEnumKeyA(child, 0, buf, sizeof buf), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(child), ERROR_INVALID_HANDLE);
  RegCloseKey(remade);
  // Values: deleting a missing one is FILE_NOT_FOUND.
  ASSERT_EQ(RegSetValueExA(parent, "v", 0, REG_SZ, reinterpret_cast<const BYTE *>(""), 1), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(parent, "V"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(parent, "v"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(parent);
  // Roots are not deleted.
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);
}

TEST(Registry, BadPathsHandlesAndRights) {
  TestKey key("bad");
  HKEY out;
  struct PathCase {
    const char *path;
    LONG expected;
  };
  const std::string long_name(256, 'n');
  const PathCase cases[] = {
      {"\\Leading", ERROR_BAD_PATHNAME},
      {"a\\\\b", ERROR_BAD_PATHNAME},
      {long_name.c_str(), ERROR_INVALID_PARAMETER},
      {"Missing", ERROR_FILE_NOT_FOUND},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(RegOpenKeyExA(key.get(), c.path, 0, KEY_READ, &out), c.expected);
  }
  EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x12345)), "x", 0, KEY_READ, &out),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExA(HKEY_PERFORMANCE_DATA, "x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE);
  // A key opened for reading cannot be written through.
  HKEY read_only;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key.path().c_str(), 0, KEY_READ, &read_only), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(read_only, "v", 0, REG_SZ, reinterpret_cast<const BYTE *>(""), 1), ERROR_ACCESS_DENIED);
  RegCloseKey(read_only);
  // Oversized data is refused, never cut.
  std::vector<BYTE> big((1u << 20) + 1);
  EXPECT_EQ(RegSetValueExA(key.get(), "big", 0, REG_BINARY, big.data(), static_cast<DWORD>(big.size())),
            ERROR_INVALID_PARAMETER);
}

TEST(Registry, DefaultValuesThroughTheOldCalls) {
  TestKey key("old");
  ASSERT_EQ(RegSetValueA(key.get(), "Sub", REG_SZ, "text", 0), ERROR_SUCCESS);
  char buf[16];
  LONG size = sizeof buf;
  ASSERT_EQ(RegQueryValueA(key.get(), "Sub", buf, &size), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "text");
  EXPECT_EQ(size, 5);
  size = sizeof buf;
  ASSERT_EQ(RegQueryValueA(key.get(), nullptr, buf, &size), ERROR_SUCCESS);  // no default value: empty
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(RegSetValueA(key.get(), "Sub", REG_DWORD, "x", 0), ERROR_INVALID_PARAMETER);
}

TEST(Registry, ClassesRootIsMachineSoftwareClasses) {
  HKEY cr, lm;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, ".gmn", &cr), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(cr, "", 0, REG_SZ, reinterpret_cast<const BYTE *>("GopherMenu"), 11), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.GMN", 0, KEY_READ, &lm), ERROR_SUCCESS);
  char buf[32];
  DWORD size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(lm, nullptr, nullptr, nullptr, reinterpret_cast<LPBYTE>(buf), &size), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "GopherMenu");
  RegCloseKey(cr);
  RegCloseKey(lm);
}

TEST(Registry, UsersShowsTheConsoleUserBySid) {
  const std::string sid = "S-1-22-1-" + std::to_string(geteuid());
  setenv("QX_CONSOLE_USER", std::to_string(geteuid()).c_str(), 1);
  char buf[1024];
  std::vector<std::string> names;
  for (DWORD i = 0; RegEnumKeyA(HKEY_USERS, i, buf, sizeof buf) == ERROR_SUCCESS; ++i) names.push_back(buf);
  EXPECT_EQ(names, (std::vector<std::string>{".DEFAULT", sid}));
  // The console user's key is the user's own hive.
  TestKey key("users");
  ASSERT_EQ(RegSetValueExA(key.get(), "who", 0, REG_SZ, reinterpret_cast<const BYTE *>("me"), 3), ERROR_SUCCESS);
  HKEY via_users;
  ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, (sid + "\\" + key.path()).c_str(), 0, KEY_READ, &via_users), ERROR_SUCCESS);
  DWORD size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(via_users, "who", nullptr, nullptr, reinterpret_cast<LPBYTE>(buf), &size), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "me");
  RegCloseKey(via_users);
  HKEY made;
  EXPECT_EQ(RegCreateKeyA(HKEY_USERS, "NewUser", &made), ERROR_ACCESS_DENIED);
  // Nobody at the console: only .DEFAULT.
  setenv("QX_CONSOLE_USER", "", 1);
  EXPECT_EQ(RegEnumKeyA(HKEY_USERS, 1, buf, sizeof buf), ERROR_NO_MORE_ITEMS);
  unsetenv("QX_CONSOLE_USER");
}

TEST(Registry, ADamagedHiveIsRefusedClearly) {
  // The .DEFAULT hive is opened by no other test of this process.
  const std::string dir = g_dirs.root() + "/machine/registry";
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/default-user.db", std::ios::binary) << std::string(8192, '\x5a');
  HKEY key;
  EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, ".DEFAULT", 0, KEY_READ, &key), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(RegCreateKeyA(HKEY_USERS, ".DEFAULT\\Software", &key), ERROR_REGISTRY_CORRUPT);
}

DWORD CountValues(HKEY key) {
  DWORD n = 0;
  EXPECT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr,
                             nullptr),
            ERROR_SUCCESS);
  return n;
}

TEST(Registry, TwoProcessesWritingTheSameHiveLoseNothing) {
  TestKey key("concurrent");
  constexpr int kCount = 300;
  pid_t a = advapi_test::Spawn({"advapi_reg_writer", "write", key.path(), "a", std::to_string(kCount)});
  pid_t b = advapi_test::Spawn({"advapi_reg_writer", "write", key.path(), "b", std::to_string(kCount)});
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  // This process writes at the same time too.
  for (DWORD i = 0; i < kCount; ++i) {
    const std::string name = "c" + std::to_string(i);
    ASSERT_EQ(RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&i), 4),
              ERROR_SUCCESS);
  }
  EXPECT_EQ(advapi_test::Wait(a), 0);
  EXPECT_EQ(advapi_test::Wait(b), 0);
  EXPECT_EQ(CountValues(key.get()), 3u * kCount);
  for (const char *prefix : {"a", "b", "c"}) {
    for (DWORD i = 0; i < kCount; i += 37) {
      DWORD v = 0, size = 4;
      const std::string name = prefix + std::to_string(i);
      ASSERT_EQ(RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr, reinterpret_cast<LPBYTE>(&v), &size),
                ERROR_SUCCESS);
      EXPECT_EQ(v, i);
    }
  }
}

TEST(Registry, WriterKilledMidWriteLeavesAReadableStore) {
  TestKey key("killed");
  const pid_t pid = advapi_test::Spawn({"advapi_reg_writer", "spin", key.path(), "k"});
  ASSERT_GT(pid, 0);
  // Let it write for a while, then kill it without warning.
  for (int i = 0; i < 500 && CountValues(key.get()) < 40; ++i) usleep(10000);
  EXPECT_GE(CountValues(key.get()), 40u);
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  EXPECT_EQ(advapi_test::Wait(pid), 128 + SIGKILL);
  // Every value that is there reads back whole; the store is intact and writable.
  const DWORD n = CountValues(key.get());
  char name[32];
  for (DWORD i = 0; i < n; ++i) {
    DWORD name_size = sizeof name, v = 0, size = 4, type = 0;
    ASSERT_EQ(RegEnumValueA(key.get(), i, name, &name_size, nullptr, &type, reinterpret_cast<LPBYTE>(&v), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(std::string(name), "k" + std::to_string(v));
  }
  DWORD v = 7;
  EXPECT_EQ(RegSetValueExA(key.get(), "after", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&v), 4), ERROR_SUCCESS);
  sqlite3 *db = nullptr;
  const std::string hive = g_dirs.root() + "/home/registry/user.db";
  ASSERT_EQ(sqlite3_open_v2(hive.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt *check = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char *>(sqlite3_column_text(check, 0)), "ok");
  sqlite3_finalize(check);
  sqlite3_close(db);
}

// A copy of a program of the build and the libraries beside it, in a folder
// every user can enter: the build itself may lie where another user cannot
// (a root user's clone in /root, mode 700). Removed when the test ends.
class ReachableCopy {
 public:
  explicit ReachableCopy(const std::string &program) {
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/qx-other-user-XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir_ = pattern;
    chmod(dir_.c_str(), 0755);
    std::error_code error;
    for (const auto &entry : fs::directory_iterator(advapi_test::BinDir(), error)) {
      const std::string name = entry.path().filename().string();
      if (name != program && name.find(".so") == std::string::npos) continue;
      fs::copy_file(entry.path(), dir_ + "/" + name, error);
      chmod((dir_ + "/" + name).c_str(), 0755);
    }
  }
  ~ReachableCopy() {
    std::error_code error;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, error);
  }
  std::string Path(const std::string &program) const { return dir_ + "/" + program; }

 private:
  std::string dir_;
};

// Runs a program of the build as uid/gid 65534 and returns its exit status,
// with its standard output in out.
int RunAsNobody(const std::vector<std::string> &args, std::string &out) {
  const ReachableCopy copy(args[0]);
  const std::string path = copy.Path(args[0]);
  std::vector<char *> argv{const_cast<char *>(path.c_str())};
  for (size_t i = 1; i < args.size(); ++i) argv.push_back(const_cast<char *>(args[i].c_str()));
  argv.push_back(nullptr);
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    if (setgid(65534) == 0 && setuid(65534) == 0) execve(path.c_str(), argv.data(), environ);
    _exit(126);
  }
  close(fds[1]);
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  return advapi_test::Wait(pid);
}

TEST(Registry, UsersWhoMayOnlyReadTheMachineHiveReadIt) {
  if (geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Readable", &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE *>("shared"), 7), ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(chmod(g_dirs.root().c_str(), 0711), 0);
  std::string out;
  EXPECT_EQ(RunAsNobody({"qxreg", "get", "HKLM\\SOFTWARE\\Readable", "v"}, out), 0);
  EXPECT_EQ(out, "shared\n");
  // Writing is refused cleanly, and the hive is unchanged.
  out.clear();
  EXPECT_EQ(RunAsNobody({"qxreg", "set", "HKLM\\SOFTWARE\\Readable", "v", "REG_SZ", "changed"}, out), 1);
  chmod(g_dirs.root().c_str(), 0700);
  EXPECT_EQ(Capture({"qxreg", "get", "HKLM\\SOFTWARE\\Readable", "v"}), "shared\n");
}

TEST(Qxreg, ExportImportRoundTrip) {
  TestKey key("roundtrip");
  HKEY sub;
  ASSERT_EQ(RegCreateKeyA(key.get(), "Sub \"quoted\"\\Deeper", &sub), ERROR_SUCCESS);
  const DWORD d = 0xdeadbeef;
  std::vector<BYTE> long_binary(80);
  for (size_t i = 0; i < long_binary.size(); ++i) long_binary[i] = static_cast<BYTE>(i * 7);
  struct Item {
    const char *name;
    DWORD type;
    std::vector<BYTE> data;
  };
  const std::vector<Item> items = {
      {"", REG_SZ, Bytes("default", 8)},
      {"plain", REG_SZ, Bytes("C:\\QX \"quoted\"", 15)},
      {"with newline", REG_SZ, Bytes("a\r\nb", 5)},
      {"unterminated", REG_SZ, Bytes("abc", 3)},
      {"expand", REG_EXPAND_SZ, Bytes("%SystemRoot%\\x", 15)},
      {"multi", REG_MULTI_SZ, Bytes("Tcpip\0Afd\0QXNFS\0", 17)},
      {"dword", REG_DWORD,
       std::vector<BYTE>(reinterpret_cast<const BYTE *>(&d), reinterpret_cast<const BYTE *>(&d) + 4)},
      {"short dword", REG_DWORD, Bytes("\x01\x02", 2)},
      {"binary", REG_BINARY, long_binary},
      {"none", REG_NONE, {}},
      {"back\\slash", REG_SZ, Bytes("x", 2)},
  };
  for (const auto &it : items)
    ASSERT_EQ(RegSetValueExA(sub, it.name, 0, it.type, it.data.data(), static_cast<DWORD>(it.data.size())),
              ERROR_SUCCESS);
  RegCloseKey(sub);

  const std::string file1 = g_dirs.root() + "/export1.reg", file2 = g_dirs.root() + "/export2.reg";
  const std::string path = "HKCU\\" + key.path();
  ASSERT_EQ(RunTool({"qxreg", "export", path, file1}), 0);
  ASSERT_EQ(RunTool({"qxreg", "delete", path}), 0);
  HKEY gone;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key.path().c_str(), 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RunTool({"qxreg", "import", file1}), 0);
  ASSERT_EQ(RunTool({"qxreg", "export", path, file2}), 0);
  EXPECT_EQ(advapi_test::ReadFile(file1), advapi_test::ReadFile(file2));
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (key.path() + "\\SUB \"QUOTED\"\\deeper").c_str(), 0, KEY_READ, &sub),
            ERROR_SUCCESS);
  for (const auto &it : items) {
    SCOPED_TRACE(it.name);
    std::vector<BYTE> back(256);
    DWORD size = static_cast<DWORD>(back.size()), type = 0;
    ASSERT_EQ(RegQueryValueExA(sub, it.name, nullptr, &type, back.data(), &size), ERROR_SUCCESS);
    back.resize(size);
    EXPECT_EQ(type, it.type);
    EXPECT_EQ(back, it.data);
  }
  RegCloseKey(sub);
  const std::string text = advapi_test::ReadFile(file1);
  EXPECT_EQ(text.rfind("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Tests\\roundtrip]\r\n", 0), 0u);
  EXPECT_NE(text.find("\"plain\"=\"C:\\\\QX \\\"quoted\\\"\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"dword\"=dword:deadbeef\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"multi\"=hex(7):54,63,70,69,70,00,41,66,64,00,51,58,4e,46,53,00,00\r\n"), std::string::npos);
}

TEST(Qxreg, ImportsAHandWrittenFile) {
  RunTool({"qxreg", "delete", "HKLM\\SOFTWARE\\Corvane"});
  const std::string file = std::string(std::getenv("QX_TEST_SOURCE_DIR")) + "/platform/advapi/tests/data/setup.reg";
  ASSERT_EQ(RunTool({"qxreg", "import", file}), 0);
  EXPECT_EQ(Capture({"qxreg", "get", "HKLM\\SOFTWARE\\Corvane\\NFSClient\\CurrentVersion", "Title"}),
            "Corvane NFS Client\n");
  EXPECT_EQ(Capture({"qxreg", "get", "HKLM\\SOFTWARE\\Corvane\\consoled\\CurrentVersion", "Welcome"}),
            "Corvane Software, Windows NT, Telnet Version 3.6 (%s)\\r\\n\\r\\n\n");
  EXPECT_EQ(Capture({"qxreg", "get", "HKLM\\SYSTEM\\CurrentControlSet\\Services\\QXNFS\\NetWorkProvider", "Class"}),
            "0x3 (3)\n");
  EXPECT_EQ(Capture({"qxreg", "get", "HKLM\\SYSTEM\\CurrentControlSet\\Services\\QXNFS", "DependOnService"}),
            "Afd\\0Mup\n");
  EXPECT_EQ(
      Capture({"qxreg", "get", "HKLM\\SYSTEM\\CurrentControlSet\\Services\\QXNFS\\NetWorkProvider", "ProviderPath"}),
      "%SystemRoot%\\System32\\qxnfsclt.dll\n");
  // "name"=- removed a value, [-key] a whole key.
  int rc = 0;
  Capture({"qxreg", "get", "HKLM\\SOFTWARE\\Corvane\\NFSClient\\CurrentVersion", "Obsolete"}, &rc);
  EXPECT_NE(rc, 0);
  Capture({"qxreg", "query", "HKLM\\SOFTWARE\\Corvane\\Old"}, &rc);
  EXPECT_NE(rc, 0);
}

// Hex values as large as the registry keeps, in each form an import file may
// give them: one run of digit pairs (each pair used to make the reader search
// the rest of the line again: minutes for 100,000 bytes), bytes separated by
// commas, and comma-separated lines continued with "\\" as export writes them.
TEST(Qxreg, ImportsLargeHexValuesInEveryForm) {
  std::vector<BYTE> expected;
  for (int i = 0; i < 300000; ++i) expected.push_back(static_cast<BYTE>(i * 7));
  std::string run, commas, continued;
  for (size_t i = 0; i < expected.size(); ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02x", expected[i]);
    run += pair;
    commas += (i ? "," : "") + std::string(pair);
    continued += (i ? (i % 25 == 0 ? ",\\\r\n  " : ",") : "") + std::string(pair);
  }
  const struct {
    const char *form;
    std::string data;
  } cases[] = {{"one run of pairs", run}, {"separated by commas", commas}, {"continued lines", continued}};
  const std::string file = g_dirs.root() + "/large.reg";
  for (const auto &c : cases) {
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Tests\\large]\r\n\"v\"=hex:" << c.data << "\r\n";
    ASSERT_EQ(RunTool({"qxreg", "import", file}), 0) << c.form;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Tests\\large", 0, KEY_READ, &key), ERROR_SUCCESS) << c.form;
    std::vector<BYTE> back(expected.size() + 16);
    DWORD type = 0, size = static_cast<DWORD>(back.size());
    EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, &type, back.data(), &size), ERROR_SUCCESS) << c.form;
    RegCloseKey(key);
    back.resize(size);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY)) << c.form;
    EXPECT_TRUE(back == expected) << c.form << ": " << size << " bytes read back";
    RunTool({"qxreg", "delete", "HKCU\\Tests\\large"});
  }
}

TEST(Qxreg, RefusesBrokenFilesWithTheLine) {
  struct BadCase {
    const char *text;
  };
  const BadCase cases[] = {
      {"not a registry file\r\n"},
      {"REGEDIT4\r\n\"v\"=\"orphan\"\r\n"},
      {"REGEDIT4\r\n[HKCU\\Tests\\bad]\r\n\"v\"=dword:123456789\r\n"},
      {"REGEDIT4\r\n[HKCU\\Tests\\bad]\r\n\"v\"=hex:0g\r\n"},
      {"REGEDIT4\r\n[HKCU\\Tests\\bad\r\n"},
      {"REGEDIT4\r\n[HKXX\\Tests\\bad]\r\n"},
  };
  const std::string file = g_dirs.root() + "/bad.reg";
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << c.text;
    EXPECT_EQ(RunTool({"qxreg", "import", file}), 1);
  }
}

}  // namespace
