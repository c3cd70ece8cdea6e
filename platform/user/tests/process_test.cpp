// Windows across processes: a private message posted to another process's
// hidden window arrives with the sender's pid; the window is found by name
// and its text and owner read; once the process ends every call fails as for
// a destroyed window.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>

#include "qxtest/support.h"
#include "qx/window.h"

#include <cstring>

namespace {

qxtest::PrivateRuntime g_runtime;

std::string Peer() { return qxtest::BinDir() + "/user_peer"; }

HWND ReadHwnd(qxtest::Child &child) {
  std::string line = child.ReadLine();
  if (line.rfind("hwnd ", 0) != 0) return nullptr;
  return QX_HANDLE_FROM(HWND, std::strtoul(line.c_str() + 5, nullptr, 10));
}

std::string Title(const char *base) { return std::string(base) + std::to_string(getpid()); }

TEST(CrossProcess, PrivateMessageReachesAHiddenWindowOfAnotherProcess) {
  std::string title = Title("QxDaemonWindow");
  qxtest::Child peer({Peer(), "window", title});
  HWND hwnd = ReadHwnd(peer);
  ASSERT_NE(hwnd, nullptr);

  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_EQ(FindWindowA("QxPeerClass", title.c_str()), hwnd);
  char text[64];
  EXPECT_EQ(GetWindowTextA(hwnd, text, sizeof text), static_cast<int>(title.size()));
  EXPECT_EQ(title, text);
  EXPECT_EQ(GetClassNameA(hwnd, text, sizeof text), 11);
  DWORD pid = 0;
  EXPECT_NE(GetWindowThreadProcessId(hwnd, &pid), 0u);
  EXPECT_EQ(pid, static_cast<DWORD>(peer.pid()));
  EXPECT_FALSE(IsWindowVisible(hwnd));

  ASSERT_TRUE(PostMessageA(hwnd, 0x7FFC, 42, -7));
  EXPECT_EQ(peer.ReadLine(), "msg 0x7ffc 42 -7 " + std::to_string(getpid()));
  // Messages that carry pointers cannot cross.
  EXPECT_FALSE(PostMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("x")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY));
  // The window is not ours: no synchronous send, no destroy.
  EXPECT_EQ(SendMessageA(hwnd, WM_USER, 0, 0), 0);
  EXPECT_FALSE(DestroyWindow(hwnd));

  // WM_CLOSE posted from outside ends the program as a user's close would.
  ASSERT_TRUE(PostMessageA(hwnd, WM_CLOSE, 0, 0));
  EXPECT_EQ(peer.Wait(), 0);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_FALSE(PostMessageA(hwnd, 0x7FFE, 1, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(FindWindowA("QxPeerClass", title.c_str()), nullptr);
}

TEST(CrossProcess, KilledProcessLeavesNoLiveWindow) {
  std::string title = Title("QxKilled");
  qxtest::Child peer({Peer(), "window", title});
  HWND hwnd = ReadHwnd(peer);
  ASSERT_NE(hwnd, nullptr);
  peer.Kill();  // no clean-up runs in the peer
  EXPECT_EQ(peer.Wait(), 128 + SIGKILL);
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_FALSE(PostMessageA(hwnd, 0x7FFE, 1, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(FindWindowA(nullptr, title.c_str()), nullptr);
  char text[8] = "x";
  EXPECT_EQ(GetWindowTextA(hwnd, text, sizeof text), 0);
  EXPECT_STREQ(text, "");
}

// A post remembers its target window; the next post must still fail once the
// window is destroyed (its process living on) or its process killed (its
// record left behind), and a new window of the same process must be reached.
TEST(CrossProcess, PostsNoticeADestroyedWindowAndAKilledProcess) {
  qxtest::Child peer({Peer(), "window", Title("QxRemembered")});
  HWND first = ReadHwnd(peer);
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(PostMessageA(first, 0x7FFC, 1, 0));
  EXPECT_EQ(peer.ReadLine(), "msg 0x7ffc 1 0 " + std::to_string(getpid()));
  ASSERT_TRUE(PostMessageA(first, 0x7FF0, 0, 0));  // the peer replaces its window
  HWND second = ReadHwnd(peer);
  ASSERT_NE(second, nullptr);
  for (int i = 0; i < 200 && IsWindow(first); ++i) Sleep(10);
  EXPECT_FALSE(PostMessageA(first, 0x7FFC, 2, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  ASSERT_TRUE(PostMessageA(second, 0x7FFC, 3, 0));
  EXPECT_EQ(peer.ReadLine(), "msg 0x7ffc 3 0 " + std::to_string(getpid()));
  peer.Kill();  // its records stay behind
  EXPECT_EQ(peer.Wait(), 128 + SIGKILL);
  EXPECT_FALSE(PostMessageA(second, 0x7FFC, 4, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

// More posts than the other process's endpoint holds at once, sent faster
// than its window handles them: every one arrives, in order.
TEST(CrossProcess, BurstOfPostsArrivesWholeAndInOrder) {
  qxtest::Child peer({Peer(), "window", Title("QxBurst")});
  HWND hwnd = ReadHwnd(peer);
  ASSERT_NE(hwnd, nullptr);
  constexpr int kPosts = 300;
  for (int i = 0; i < kPosts; ++i) ASSERT_TRUE(PostMessageA(hwnd, 0x7FFC, i, 0)) << "post " << i << " failed";
  const std::string tail = " 0 " + std::to_string(getpid());
  for (int i = 0; i < kPosts; ++i) ASSERT_EQ(peer.ReadLine(), "msg 0x7ffc " + std::to_string(i) + tail);
  ASSERT_TRUE(PostMessageA(hwnd, WM_CLOSE, 0, 0));
  EXPECT_EQ(peer.Wait(), 0);
}

LRESULT CALLBACK HomeProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

TEST(CrossProcess, PostFromAnotherProcessNamesItsSender) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = HomeProc;
  wc.lpszClassName = "QxHome";
  ASSERT_NE(RegisterClassA(&wc), 0);
  HWND home = CreateWindowA("QxHome", "home", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(home, nullptr);
  // A message-only window is reachable by value but never listed by name.
  EXPECT_EQ(FindWindowA("QxHome", nullptr), nullptr);
  qxtest::Child poster({Peer(), "post", std::to_string(QX_HANDLE_VALUE(home)), "0x7FFE", "3"});
  const pid_t poster_pid = poster.pid();
  EXPECT_EQ(poster.Wait(), 0);
  MSG m{};
  bool got = false;
  for (int i = 0; i < 500 && !got; ++i) {
    got = PeekMessageA(&m, home, 0, 0, PM_REMOVE);
    if (!got) MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  ASSERT_TRUE(got);
  EXPECT_EQ(m.message, 0x7FFEu);
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_EQ(qx::CurrentMessageSenderPid(), poster_pid);
  DestroyWindow(home);
}

TEST(CrossProcess, EnumWindowsListsOtherProcessesTopLevelWindows) {
  std::string title = Title("QxListed");
  qxtest::Child peer({Peer(), "window", title});
  HWND hwnd = ReadHwnd(peer);
  ASSERT_NE(hwnd, nullptr);
  struct Search {
    HWND want;
    bool found;
  } search{hwnd, false};
  EnumWindows(
      [](HWND h, LPARAM l) {
        auto *s = reinterpret_cast<Search *>(l);
        if (h == s->want) s->found = true;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  EXPECT_TRUE(search.found);
  PostMessageA(hwnd, WM_CLOSE, 0, 0);
  EXPECT_EQ(peer.Wait(), 0);
}

int g_home_deactivations = 0;
LRESULT CALLBACK ActiveHomeProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_ACTIVATE && LOWORD(wparam) == WA_INACTIVE) ++g_home_deactivations;
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

// A terminal's "Switch Session": focus given to a window of another process.
// That process restores and activates the window's frame and focuses the
// window; this process's active window steps back.
TEST(CrossProcess, FocusAndActivationReachAnotherProcess) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = ActiveHomeProc;
  wc.lpszClassName = "QxActiveHome";
  ASSERT_NE(RegisterClassA(&wc), 0);
  HWND home = CreateWindowA("QxActiveHome", "home", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr,
                            nullptr, nullptr);
  ASSERT_NE(home, nullptr);
  SetActiveWindow(home);
  ASSERT_EQ(GetActiveWindow(), home);
  ASSERT_EQ(GetFocus(), home);

  std::string title = Title("QxSession");
  qxtest::Child peer({Peer(), "focus", title});
  HWND frame = ReadHwnd(peer);
  std::string line = peer.ReadLine();
  ASSERT_EQ(line.rfind("child ", 0), 0u) << line;
  HWND child = QX_HANDLE_FROM(HWND, std::strtoul(line.c_str() + 6, nullptr, 10));
  ASSERT_NE(frame, nullptr);

  EXPECT_EQ(SetFocus(child), home);
  // The frame is activated (once), then the child has the focus.
  std::vector<std::string> seen;
  const std::string child_focus = "focus " + std::to_string(QX_HANDLE_VALUE(child));
  while (seen.size() < 8 && (seen.empty() || seen.back() != child_focus)) seen.push_back(peer.ReadLine());
  ASSERT_EQ(seen.back(), child_focus);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "activate 1"), 1);
  EXPECT_EQ(GetActiveWindow(), nullptr);
  EXPECT_EQ(GetFocus(), nullptr);
  EXPECT_EQ(g_home_deactivations, 1);

  // The other calls that bring a window forward reach it too; a window that
  // is already active there is not activated again.
  EXPECT_TRUE(SetForegroundWindow(frame));
  EXPECT_TRUE(BringWindowToTop(frame));
  ASSERT_TRUE(PostMessageA(frame, WM_CLOSE, 0, 0));
  EXPECT_EQ(peer.Wait(), 0);
  EXPECT_FALSE(SetForegroundWindow(frame));
  DestroyWindow(home);
}

// Datagrams on the message endpoint are checked before anything is queued:
// short, oversized, unknown or pointer-carrying records are dropped.
TEST(CrossProcess, MalformedDatagramsAreDropped) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = HomeProc;
  wc.lpszClassName = "QxEndpointTarget";
  ASSERT_NE(RegisterClassA(&wc), 0);
  HWND home = CreateWindowA("QxEndpointTarget", "", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(home, nullptr);
  struct Wire {
    std::uint32_t magic, hwnd, msg, pad;
    std::uint64_t wparam;
    std::int64_t lparam;
  };
  const std::uint32_t value = QX_HANDLE_VALUE(home);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string path = std::string(std::getenv("QX_RUNTIME_DIR")) + "/msg/" + std::to_string(getpid());
  ASSERT_LT(path.size(), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  auto send = [&](const void *data, size_t len) {
    return sendto(fd, data, len, 0, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == static_cast<ssize_t>(len);
  };
  Wire good{0x51584D31, value, WM_USER + 9, 0, 1, 2};
  Wire bad_magic = good;
  bad_magic.magic = 0;
  Wire pointer = good;
  pointer.msg = WM_SETTEXT;
  Wire other_window = good;
  other_window.hwnd = value ^ 0x1000;
  char big[sizeof good + 8] = {};
  std::memcpy(big, &good, sizeof good);
  EXPECT_TRUE(send("x", 1));
  EXPECT_TRUE(send(big, sizeof big));
  EXPECT_TRUE(send(&bad_magic, sizeof bad_magic));
  EXPECT_TRUE(send(&pointer, sizeof pointer));
  EXPECT_TRUE(send(&other_window, sizeof other_window));
  good.wparam = 77;
  EXPECT_TRUE(send(&good, sizeof good));
  close(fd);
  MSG m{};
  bool got = false;
  for (int i = 0; i < 500 && !got; ++i) {
    got = PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE);
    if (!got) MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  ASSERT_TRUE(got);
  EXPECT_EQ(m.message, WM_USER + 9u);
  EXPECT_EQ(m.wParam, 77u);  // the first well-formed record, after all the dropped ones
  Sleep(20);
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  DestroyWindow(home);
}

}  // namespace
