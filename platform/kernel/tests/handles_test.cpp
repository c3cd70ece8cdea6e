// The handle table: values fit 32 bits, stale and wrong-kind handles fail.
#include <gtest/gtest.h>

#include "qx/handles.h"

namespace {

struct Thing : qx::KernelObject {
  explicit Thing(qx::ObjectKind k) : qx::KernelObject(k) {}
};

TEST(HandleTable, ValuesFitThirtyTwoBitsAndAreNotDescriptors) {
  HANDLE h = qx::InsertHandle(std::make_shared<Thing>(qx::ObjectKind::Event));
  ASSERT_NE(h, nullptr);
  auto v = reinterpret_cast<std::uintptr_t>(h);
  EXPECT_GE(v, 0x10000u);
  EXPECT_LT(v, 0x80000000u);
  EXPECT_TRUE(CloseHandle(h));
}

TEST(HandleTable, StaleAndWrongKindHandlesFail) {
  HANDLE h = qx::InsertHandle(std::make_shared<Thing>(qx::ObjectKind::Event));
  EXPECT_NE(qx::LookupHandle(h, qx::ObjectKind::Event), nullptr);
  EXPECT_EQ(qx::LookupHandle(h, qx::ObjectKind::Mutex), nullptr);
  ASSERT_TRUE(CloseHandle(h));
  EXPECT_EQ(qx::LookupHandle(h), nullptr);
  // The slot is reused with a new generation; the old value stays dead.
  HANDLE h2 = qx::InsertHandle(std::make_shared<Thing>(qx::ObjectKind::Event));
  EXPECT_NE(h2, h);
  EXPECT_EQ(qx::LookupHandle(h), nullptr);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseHandle(h2));
}

TEST(HandleTable, ValuesThatAreNotHandlesFail) {
  for (std::uintptr_t v : {std::uintptr_t{0}, std::uintptr_t{5}, std::uintptr_t{0xFFFF}, std::uintptr_t{0x80000002}}) {
    EXPECT_EQ(qx::LookupHandle(reinterpret_cast<HANDLE>(v)), nullptr) << v;
  }
}

}  // namespace
