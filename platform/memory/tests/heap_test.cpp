// Heaps: exact sizes, zeroing, in-place resizing, limits, and pointers that
// the heap did not give out.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(Heap, ProcessHeapAllocatesZeroedAndSized) {
  HANDLE heap = GetProcessHeap();
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(GetProcessHeap(), heap);
  auto *p = static_cast<unsigned char *>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 37));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 37; ++i) ASSERT_EQ(p[i], 0);
  EXPECT_EQ(HeapSize(heap, 0, p), 37u);
  std::memset(p, 7, 37);
  auto *q = static_cast<unsigned char *>(HeapReAlloc(heap, HEAP_ZERO_MEMORY, p, 4000));
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q[36], 7);
  for (int i = 37; i < 4000; ++i) ASSERT_EQ(q[i], 0) << i;
  EXPECT_EQ(HeapSize(heap, 0, q), 4000u);
  EXPECT_TRUE(HeapFree(heap, 0, q));
}

TEST(Heap, ForeignAndFreedPointersAreRefused) {
  HANDLE a = HeapCreate(0, 0, 0);
  HANDLE b = HeapCreate(0, 0, 0);
  ASSERT_NE(a, nullptr);
  void *p = HeapAlloc(a, 0, 10);
  EXPECT_FALSE(HeapFree(b, 0, p));  // not b's block
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(HeapFree(a, 0, p));
  EXPECT_FALSE(HeapFree(a, 0, p));  // already freed
  EXPECT_EQ(HeapSize(a, 0, p), static_cast<SIZE_T>(-1));
  EXPECT_TRUE(HeapFree(a, 0, nullptr));
  void *left = HeapAlloc(b, 0, 100);  // released by HeapDestroy
  ASSERT_NE(left, nullptr);
  EXPECT_TRUE(HeapDestroy(a));
  EXPECT_TRUE(HeapDestroy(b));
  EXPECT_EQ(HeapAlloc(a, 0, 1), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(HeapDestroy(GetProcessHeap()));
}

TEST(Heap, InPlaceOnlyAndMaximumSize) {
  HANDLE heap = HeapCreate(0, 0, 4096);
  void *p = HeapAlloc(heap, 0, 10);
  EXPECT_EQ(HeapReAlloc(heap, HEAP_REALLOC_IN_PLACE_ONLY, p, 12), p);  // within its granule
  EXPECT_EQ(HeapReAlloc(heap, HEAP_REALLOC_IN_PLACE_ONLY, p, 3000), nullptr);
  EXPECT_EQ(HeapSize(heap, 0, p), 12u);
  EXPECT_EQ(HeapAlloc(heap, 0, 8192), nullptr);  // beyond the heap's maximum
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_TRUE(HeapDestroy(heap));
}

}  // namespace
