// Windows and queues keep working when the runtime directory cannot be used
// (here it names a regular file): windows are then local to the process.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

struct BrokenRuntime {
  char path[32] = "/tmp/qx-test-file-XXXXXX";
  BrokenRuntime() {
    int fd = mkstemp(path);
    if (fd >= 0) close(fd);
    setenv("QX_RUNTIME_DIR", path, 1);
  }
  ~BrokenRuntime() { unlink(path); }
} g_broken;

LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcA(h, m, w, l); }

TEST(LocalOnly, WindowsAndMessagesWorkWithoutTheRegistry) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = Proc;
  wc.lpszClassName = "QxLocal";
  ASSERT_NE(RegisterClassA(&wc), 0);
  HWND h = CreateWindowA("QxLocal", "alone", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_LT(QX_HANDLE_VALUE(h), 0x20000u);
  EXPECT_TRUE(IsWindow(h));
  EXPECT_EQ(FindWindowA("QxLocal", "alone"), h);
  ASSERT_TRUE(PostMessageA(h, WM_USER, 5, 0));
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.wParam, 5u);
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_FALSE(IsWindow(h));
  // Named objects need the directory: they fail cleanly instead of hanging.
  EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, "QxLocalEvent"), nullptr);
}

}  // namespace
