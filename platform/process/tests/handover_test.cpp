// The hand-over end to end, as between the super-server and a daemon: this
// process accepts a loopback connection on its socket message, starts the
// daemon with "%s %d.%d.%d.%d. %s" (socket, process id, window, slot,
// parameters), closes its copy on 0x7FFC and counts the session ended on
// 0x7FFE; the client sees the daemon's bytes and the close, and no
// descriptor is left behind here.
#include <windows.h>
#include <qxhandover.h>
#include <winsock.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <dirent.h>
#include <string>
#include <vector>

namespace {

constexpr UINT kListenEvent = 0x7FFF;
constexpr UINT kSocketTaken = 0x7FFC;
constexpr UINT kDaemonExited = 0x7FFE;
constexpr int kSlot = 3;

struct ServerState {
  SOCKET listener = INVALID_SOCKET;
  SOCKET handed = INVALID_SOCKET;
  DWORD daemon_pid = 0;
  std::vector<UINT> order;
  WPARAM taken_wparam = 0;
  WPARAM exited_wparam = 0;
  bool launch_failed = false;
};
ServerState g_server;

void Launch(HWND hwnd) {
  SOCKET s = accept(g_server.listener, nullptr, nullptr);
  if (s == INVALID_SOCKET) return;
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
  g_server.handed = s;
  char line[256];
  std::snprintf(line, sizeof line, "%s %d.%d.%d.%d. %s", "QX_HANDOVER_DAEMON.EXE", static_cast<int>(s),
                static_cast<int>(GetCurrentProcessId()), static_cast<int>(QX_HANDLE_VALUE(hwnd)), kSlot, "-x 1");
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  QxOfferSocketToNextChild(s);
  if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si, &pi)) {
    g_server.launch_failed = true;
    closesocket(s);
    return;
  }
  g_server.daemon_pid = pi.dwProcessId;
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

LRESULT CALLBACK ServerProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case kListenEvent:
      if (WSAGETSELECTEVENT(lparam) == FD_ACCEPT) Launch(hwnd);
      return 0;
    case kSocketTaken:
      g_server.order.push_back(msg);
      g_server.taken_wparam = wparam;
      closesocket(static_cast<SOCKET>(wparam));
      return 0;
    case kDaemonExited:
      g_server.order.push_back(msg);
      g_server.exited_wparam = wparam;
      return 0;
    default: return DefWindowProcA(hwnd, msg, wparam, lparam);
  }
}

int OpenDescriptors() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (const dirent *e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n - 1;
}

void PumpUntil(bool (*done)(), DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  while (!done() && static_cast<LONG>(end - GetTickCount()) > 0) {
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

TEST(HandOver, DaemonTakesTheSocketServesAndReports) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
  WNDCLASSA wc{};
  wc.lpfnWndProc = ServerProc;
  wc.lpszClassName = "QxHandOverTest";
  RegisterClassA(&wc);
  HWND hwnd = CreateWindowExA(0, "QxHandOverTest", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hwnd, nullptr);
  g_server = ServerState{};

  // The first launch brings up the layer's own threads and endpoints; count after it.
  std::string warm = "qx_handover_daemon";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(
      CreateProcessA(nullptr, warm.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, 10000);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);

  g_server.listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = inet_addr("127.0.0.1");
  ASSERT_EQ(bind(g_server.listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  int len = sizeof addr;
  getsockname(g_server.listener, reinterpret_cast<sockaddr *>(&addr), &len);
  ASSERT_EQ(listen(g_server.listener, 4), 0);
  ASSERT_EQ(WSAAsyncSelect(g_server.listener, hwnd, kListenEvent, FD_ACCEPT), 0);

  SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
  const int fds_before = OpenDescriptors();  // listener and client open, the watcher running
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  PumpUntil([] { return g_server.order.size() >= 2 || g_server.launch_failed; }, 20000);
  ASSERT_FALSE(g_server.launch_failed) << GetLastError();
  ASSERT_EQ(g_server.order, std::vector<UINT>({kSocketTaken, kDaemonExited}));
  EXPECT_EQ(g_server.taken_wparam, static_cast<WPARAM>(g_server.handed));
  EXPECT_EQ(g_server.exited_wparam, static_cast<WPARAM>(kSlot));

  std::string got;
  char buf[128];
  for (;;) {
    const int n = recv(client, buf, sizeof buf, 0);
    ASSERT_GE(n, 0) << WSAGetLastError();
    if (n == 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  EXPECT_EQ(got, "served by daemon, parameters \"-x 1\"\r\n");
  // The daemon ended and was reaped; nothing of the session is left open here.
  HANDLE h = nullptr;
  for (int i = 0; i < 500; ++i) {
    h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, g_server.daemon_pid);
    if (!h) break;
    CloseHandle(h);
    Sleep(10);
  }
  EXPECT_EQ(h, nullptr);
  // The reaper lets go of the child's pidfd right after collecting it.
  for (int i = 0; i < 200 && OpenDescriptors() != fds_before; ++i) Sleep(10);
  EXPECT_EQ(OpenDescriptors(), fds_before);  // our copy of the handed socket is closed
  closesocket(client);
  closesocket(g_server.listener);

  DestroyWindow(hwnd);
  WSACleanup();
}

// The show state given to CreateProcessA reaches the child's first ShowWindow.
TEST(StartupShowState, ReachesTheFirstShowWindow) {
  for (const int show : {-1, 0 /* SW_HIDE */}) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (show >= 0) {
      si.dwFlags = STARTF_USESHOWWINDOW;
      si.wShowWindow = static_cast<WORD>(show);
    }
    std::string line = "qx_handover_daemon show";
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si, &pi));
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, show == 0 ? 20u : 21u) << "show " << show;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
}

}  // namespace
