// Global and local memory blocks: flags, lock counts, resizing, discarding,
// and stale or foreign handles.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace {

struct AllocCase {
  UINT flags;
  bool moveable;
  bool zeroed;
};

class GlobalAllocFlags : public ::testing::TestWithParam<AllocCase> {};

TEST_P(GlobalAllocFlags, BlockIsUsableThroughItsHandle) {
  const AllocCase c = GetParam();
  HGLOBAL h = GlobalAlloc(c.flags, 100);
  ASSERT_NE(h, nullptr);
  const DWORD value = QX_HANDLE_VALUE(h);
  EXPECT_GT(value, 31u);
  EXPECT_EQ(QX_HANDLE_FROM(HGLOBAL, value), h);  // survives a 32-bit round trip
  EXPECT_EQ(GlobalSize(h), 100u);
  auto *p = static_cast<unsigned char *>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  if (c.zeroed) {
    for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0) << i;
  }
  std::memset(p, 0xAB, 100);
  EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, c.moveable ? 1u : 0u);
  EXPECT_EQ(GlobalHandle(p), h);
  GlobalUnlock(h);
  EXPECT_EQ(GlobalFree(h), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Flags, GlobalAllocFlags,
                         ::testing::Values(AllocCase{GMEM_FIXED, false, false}, AllocCase{GPTR, false, true},
                                           AllocCase{GMEM_MOVEABLE, true, false}, AllocCase{GHND, true, true},
                                           AllocCase{GHND | GMEM_DDESHARE, true, true}, AllocCase{LPTR, false, true},
                                           AllocCase{LHND, true, true}));

TEST(GlobalMemory, LockCountsNestAndUnlockReportsTheRest) {
  HGLOBAL h = GlobalAlloc(GHND, 16);
  ASSERT_NE(GlobalLock(h), nullptr);
  ASSERT_NE(GlobalLock(h), nullptr);
  EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 2u);
  EXPECT_TRUE(GlobalUnlock(h));  // still locked once
  SetLastError(12345);
  EXPECT_FALSE(GlobalUnlock(h));  // now unlocked
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
  EXPECT_FALSE(GlobalUnlock(h));  // was not locked
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_LOCKED));
  GlobalFree(h);
}

TEST(GlobalMemory, FreedHandleIsRefusedEverywhere) {
  HGLOBAL h = GlobalAlloc(GHND, 32);
  ASSERT_EQ(GlobalFree(h), nullptr);
  SetLastError(0);
  EXPECT_EQ(GlobalLock(h), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GlobalSize(h), 0u);
  EXPECT_EQ(GlobalFlags(h), static_cast<UINT>(GMEM_INVALID_HANDLE));
  EXPECT_EQ(GlobalFree(h), h);  // a second free fails and returns the handle
  EXPECT_EQ(GlobalReAlloc(h, 64, GMEM_MOVEABLE), nullptr);
  // A slot reused by a new block does not revive the old handle.
  HGLOBAL again = GlobalAlloc(GHND, 32);
  EXPECT_NE(again, h);
  EXPECT_EQ(GlobalLock(h), nullptr);
  GlobalFree(again);
}

TEST(GlobalMemory, ForeignValuesAreRefused) {
  for (UINT_PTR v : {UINT_PTR{0x1}, UINT_PTR{0x12345}, UINT_PTR{0x7FFFFFFF}, ~UINT_PTR{0}}) {
    HGLOBAL h = reinterpret_cast<HGLOBAL>(v);
    EXPECT_EQ(GlobalLock(h), nullptr) << v;
    EXPECT_EQ(GlobalFree(h), h) << v;
  }
  int on_stack = 0;
  EXPECT_EQ(GlobalHandle(&on_stack), nullptr);
  EXPECT_EQ(GlobalFree(nullptr), nullptr);
}

TEST(GlobalMemory, ReAllocKeepsContentsAndZeroFillsGrowth) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, 10);
  std::memcpy(GlobalLock(h), "0123456789", 10);
  GlobalUnlock(h);
  HGLOBAL grown = GlobalReAlloc(h, 5000, GMEM_MOVEABLE | GMEM_ZEROINIT);
  ASSERT_EQ(grown, h);  // the handle stays; the address may change
  EXPECT_EQ(GlobalSize(h), 5000u);
  auto *p = static_cast<char *>(GlobalLock(h));
  EXPECT_EQ(std::memcmp(p, "0123456789", 10), 0);
  for (int i = 10; i < 5000; ++i) ASSERT_EQ(p[i], 0) << i;
  GlobalUnlock(h);
  ASSERT_EQ(GlobalReAlloc(h, 4, 0), h);
  EXPECT_EQ(GlobalSize(h), 4u);
  GlobalFree(h);
}

TEST(GlobalMemory, FixedOrLockedBlockDoesNotMoveUnlessAllowed) {
  HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 16);
  void *p = GlobalLock(fixed);
  SetLastError(0);
  EXPECT_EQ(GlobalReAlloc(fixed, 100000, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(GlobalLock(fixed), p);  // untouched
  EXPECT_EQ(GlobalReAlloc(fixed, 100000, GMEM_MOVEABLE), fixed);
  EXPECT_EQ(GlobalSize(fixed), 100000u);
  GlobalFree(fixed);

  HGLOBAL locked = GlobalAlloc(GMEM_MOVEABLE, 16);
  ASSERT_NE(GlobalLock(locked), nullptr);
  EXPECT_EQ(GlobalReAlloc(locked, 100000, 0), nullptr);
  EXPECT_EQ(GlobalReAlloc(locked, 100000, GMEM_MOVEABLE), locked);
  EXPECT_EQ(GlobalFlags(locked) & GMEM_LOCKCOUNT, 1u);  // lock count kept across the move
  GlobalUnlock(locked);
  GlobalFree(locked);
}

TEST(GlobalMemory, ModifyChangesAttributesOnly) {
  HGLOBAL h = GlobalAlloc(GMEM_FIXED, 24);
  ASSERT_EQ(GlobalReAlloc(h, 0, GMEM_MODIFY | GMEM_MOVEABLE | GMEM_DISCARDABLE), h);
  EXPECT_EQ(GlobalSize(h), 24u);
  EXPECT_TRUE(GlobalFlags(h) & GMEM_DISCARDABLE);
  ASSERT_NE(GlobalLock(h), nullptr);
  EXPECT_EQ(GlobalFlags(h) & GMEM_LOCKCOUNT, 1u);  // now moveable: locks count
  GlobalUnlock(h);
  GlobalFree(h);
}

TEST(GlobalMemory, DiscardedBlockCannotBeLockedUntilReallocated) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_DISCARDABLE, 64);
  ASSERT_EQ(GlobalDiscard(h), h);
  EXPECT_TRUE(GlobalFlags(h) & GMEM_DISCARDED);
  EXPECT_EQ(GlobalSize(h), 0u);
  EXPECT_EQ(GlobalLock(h), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISCARDED));
  ASSERT_EQ(GlobalReAlloc(h, 8, GMEM_MOVEABLE | GMEM_ZEROINIT), h);
  auto *p = static_cast<char *>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[7], 0);
  GlobalUnlock(h);
  GlobalFree(h);

  HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);  // starts out discarded
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(GlobalFlags(empty) & GMEM_DISCARDED);
  GlobalFree(empty);
}

TEST(GlobalMemory, LockedPointerFreesItsBlock) {
  HLOCAL h = LocalAlloc(LPTR, 12);
  void *p = LocalLock(h);
  EXPECT_EQ(LocalHandle(p), h);
  EXPECT_EQ(LocalFree(p), nullptr);  // the pointer names the block
  EXPECT_EQ(LocalLock(h), nullptr);
  EXPECT_EQ(LocalHandle(p), nullptr);
}

TEST(GlobalMemory, HugeRequestFailsCleanly) {
  SetLastError(0);
  EXPECT_EQ(GlobalAlloc(GHND, ~SIZE_T{0}), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  HGLOBAL h = GlobalAlloc(GHND, 8);
  EXPECT_EQ(GlobalReAlloc(h, ~SIZE_T{0} - 8, GMEM_MOVEABLE), nullptr);
  EXPECT_EQ(GlobalSize(h), 8u);
  GlobalFree(h);
}

TEST(GlobalMemory, ThreadsShareOneTable) {
  // Blocks made on several threads at once get distinct handles and stay
  // intact; each thread frees the blocks of its neighbour.
  constexpr int kThreads = 4, kBlocks = 500;
  std::vector<std::vector<HGLOBAL>> made(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &made] {
      for (int i = 0; i < kBlocks; ++i) {
        HGLOBAL h = GlobalAlloc(GHND, 8);
        int *p = static_cast<int *>(GlobalLock(h));
        p[0] = t;
        p[1] = i;
        GlobalUnlock(h);
        made[t].push_back(h);
      }
    });
  }
  for (auto &th : threads) th.join();
  std::set<HGLOBAL> distinct;
  for (const auto &list : made) distinct.insert(list.begin(), list.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kBlocks));
  threads.clear();
  std::vector<int> bad(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &made, &bad] {
      const int owner = (t + 1) % kThreads;
      for (int i = 0; i < kBlocks; ++i) {
        HGLOBAL h = made[owner][i];
        const int *p = static_cast<const int *>(GlobalLock(h));
        if (!p || p[0] != owner || p[1] != i) ++bad[t];
        GlobalUnlock(h);
        if (GlobalFree(h) != nullptr) ++bad[t];
      }
    });
  }
  for (auto &th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(bad[t], 0) << t;
}

TEST(GlobalMemory, MemoryStatusIsConsistent) {
  MEMORYSTATUS ms{};
  ms.dwLength = sizeof ms;
  GlobalMemoryStatus(&ms);
  EXPECT_GT(ms.dwTotalPhys, 0u);
  EXPECT_LE(ms.dwAvailPhys, ms.dwTotalPhys);
  EXPECT_LE(ms.dwMemoryLoad, 100u);
  EXPECT_GE(ms.dwTotalPageFile, ms.dwTotalPhys);
  EXPECT_LE(ms.dwTotalPhys, 0xFFFFFFFFu);
  EXPECT_LE(ms.dwAvailVirtual, ms.dwTotalVirtual);
}

}  // namespace
