// LockFile regions refuse other handles' reads and writes, in this process and
// from another one; the locking handle itself keeps full access.
#include <windows.h>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "test_tree.h"

namespace {

const qxtest::Tree &g_tree = qxtest::TheTree();

HANDLE Open(const char *path, DWORD access) {
  return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
}

// Reads or writes n bytes at offset through h; returns 0 or the last error.
DWORD Access(HANDLE h, bool write, DWORD offset, DWORD n) {
  char buf[64] = {};
  OVERLAPPED at{};
  at.Offset = offset;
  DWORD done = 0;
  const BOOL ok = write ? WriteFile(h, buf, n, &done, &at) : ReadFile(h, buf, n, &done, &at);
  return ok ? 0 : GetLastError();
}

TEST(LockFile, RegionRefusesOtherHandlesOfTheProcess) {
  HANDLE owner = Open("D:\\locked.dat", GENERIC_READ | GENERIC_WRITE);
  HANDLE other = Open("D:\\locked.dat", GENERIC_READ | GENERIC_WRITE);
  ASSERT_NE(owner, INVALID_HANDLE_VALUE);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  ASSERT_EQ(Access(owner, true, 0, 64), 0u);
  ASSERT_TRUE(LockFile(owner, 10, 0, 10, 0));  // bytes 10..19

  const struct {
    HANDLE h;
    bool write;
    DWORD offset, n;
    DWORD error;
  } cases[] = {
      {other, false, 0, 10, 0},                     // ends just before the region
      {other, false, 5, 10, ERROR_LOCK_VIOLATION},  // overlaps its start
      {other, false, 19, 4, ERROR_LOCK_VIOLATION},  // overlaps its last byte
      {other, true, 12, 1, ERROR_LOCK_VIOLATION},   // inside
      {other, true, 20, 10, 0},                     // just after
      {other, true, 0, 0, 0},                       // nothing to write
      {owner, false, 0, 30, 0},                     // the locking handle reads...
      {owner, true, 10, 10, 0},                     // ...and writes its region
  };
  for (const auto &c : cases)
    EXPECT_EQ(Access(c.h, c.write, c.offset, c.n), c.error)
        << (c.h == owner ? "owner " : "other ") << (c.write ? "write " : "read ") << c.offset << "+" << c.n;

  // Through the current position, as _lread/_lwrite use it.
  SetFilePointer(other, 15, nullptr, FILE_BEGIN);
  char b[4];
  DWORD done = 0;
  EXPECT_FALSE(ReadFile(other, b, sizeof b, &done, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
  EXPECT_EQ(_lwrite(static_cast<HFILE>(reinterpret_cast<UINT_PTR>(other)), "x", 1), static_cast<UINT>(HFILE_ERROR));

  ASSERT_TRUE(UnlockFile(owner, 10, 0, 10, 0));
  EXPECT_EQ(Access(other, true, 12, 1), 0u);
  CloseHandle(owner);
  CloseHandle(other);
}

TEST(LockFile, RegionRefusesAnotherProcessUntilItEnds) {
  HANDLE mine = Open("D:\\shared.dat", GENERIC_READ | GENERIC_WRITE);
  ASSERT_NE(mine, INVALID_HANDLE_VALUE);
  ASSERT_EQ(Access(mine, true, 0, 64), 0u);
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HANDLE h = Open("D:\\shared.dat", GENERIC_READ | GENERIC_WRITE);
    const char ok = h != INVALID_HANDLE_VALUE && LockFile(h, 0, 0, 32, 0) ? 'y' : 'n';
    (void)!write(ready[1], &ok, 1);
    char c;
    (void)!read(release[0], &c, 1);
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  EXPECT_EQ(Access(mine, true, 16, 8), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
  EXPECT_EQ(Access(mine, false, 0, 8), static_cast<DWORD>(ERROR_LOCK_VIOLATION));
  EXPECT_EQ(Access(mine, true, 32, 8), 0u);
  (void)!write(release[1], "x", 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  // The locks went with the process.
  EXPECT_EQ(Access(mine, true, 16, 8), 0u);
  CloseHandle(mine);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

}  // namespace
