// Message queues: posted order, WM_QUIT, WM_PAINT and WM_TIMER made from
// state, sending across threads, nested loops, waits on objects and queue.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "qxtest/support.h"

namespace {

qxtest::PrivateRuntime g_runtime;

std::vector<std::string> g_log;

LRESULT CALLBACK LogProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg >= WM_USER) g_log.push_back("user+" + std::to_string(msg - WM_USER) + ":" + std::to_string(wparam));
  if (msg == WM_TIMER) g_log.push_back("timer:" + std::to_string(wparam));
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

class Queue : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool registered = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = LogProc;
      wc.lpszClassName = "QxQueueTest";
      return RegisterClassA(&wc) != 0;
    }();
    ASSERT_TRUE(registered);
    g_log.clear();
    hwnd = CreateWindowA("QxQueueTest", "queue", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    Drain();
  }
  void TearDown() override {
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
    Drain();
  }
  // Dispatches what is pending; returns the messages seen.
  std::vector<UINT> Drain() {
    std::vector<UINT> seen;
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      seen.push_back(m.message);
      DispatchMessageA(&m);
    }
    return seen;
  }
  HWND hwnd = nullptr;
};

TEST_F(Queue, PostedMessagesComeInOrderAndQuitAfterThem) {
  PostMessageA(hwnd, WM_USER + 1, 1, 0);
  PostQuitMessage(3);
  PostMessageA(hwnd, WM_USER + 2, 2, 0);  // posted after the quit: still comes first
  PostThreadMessageA(GetCurrentThreadId(), WM_USER + 3, 3, 0);
  MSG m;
  std::vector<std::pair<UINT, WPARAM>> got;
  while (GetMessageA(&m, nullptr, 0, 0)) got.emplace_back(m.message, m.wParam);
  EXPECT_EQ(m.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(m.wParam, 3u);
  std::vector<std::pair<UINT, WPARAM>> want{{WM_USER + 1, 1}, {WM_USER + 2, 2}, {WM_USER + 3, 3}};
  EXPECT_EQ(got, want);
}

TEST_F(Queue, FiltersLeaveOtherMessagesInPlace) {
  PostMessageA(hwnd, WM_USER + 1, 0, 0);
  PostMessageA(hwnd, WM_USER + 5, 0, 0);
  PostThreadMessageA(GetCurrentThreadId(), WM_USER + 7, 0, 0);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER + 5, WM_USER + 9, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_USER + 5u);
  ASSERT_TRUE(PeekMessageA(&m, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));  // thread messages only
  EXPECT_EQ(m.message, WM_USER + 7u);
  EXPECT_EQ(Drain(), (std::vector<UINT>{WM_USER + 1, WM_USER + 5}));
}

TEST_F(Queue, QuitInNestedLoopIsSeenByTheOuterLoop) {
  // A nested pump (as PumpMessages does) meets WM_QUIT and posts it again.
  PostMessageA(hwnd, WM_USER + 1, 0, 0);
  PostQuitMessage(9);
  bool nested_saw_quit = false;
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    if (m.message == WM_QUIT) {
      nested_saw_quit = true;
      PostQuitMessage(static_cast<int>(m.wParam));
      break;
    }
    DispatchMessageA(&m);
  }
  EXPECT_TRUE(nested_saw_quit);
  EXPECT_FALSE(GetMessageA(&m, nullptr, 0, 0));
  EXPECT_EQ(m.wParam, 9u);
}

TEST_F(Queue, TimersAreCoalescedAndComeLast) {
  ASSERT_EQ(SetTimer(hwnd, 7, 20, nullptr), 7u);
  Sleep(120);  // several periods pass: still one WM_TIMER pending
  PostMessageA(hwnd, WM_USER + 1, 0, 0);
  std::vector<UINT> seen = Drain();
  EXPECT_EQ(seen, (std::vector<UINT>{WM_USER + 1, WM_TIMER}));
  EXPECT_TRUE(KillTimer(hwnd, 7));
}

TEST_F(Queue, KillTimerCancelsAPendingTimer) {
  SetTimer(hwnd, 1, 10, nullptr);
  Sleep(40);
  EXPECT_TRUE(KillTimer(hwnd, 1));
  EXPECT_TRUE(Drain().empty());
  EXPECT_FALSE(KillTimer(hwnd, 1));
}

TEST_F(Queue, SetTimerAgainRestartsThePeriod) {
  SetTimer(hwnd, 2, 400, nullptr);
  Sleep(200);
  SetTimer(hwnd, 2, 400, nullptr);  // restarted: due 400 ms from now, not 200
  const DWORD restarted = GetTickCount();
  Sleep(100);
  EXPECT_TRUE(Drain().empty());
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_TIMER), WAIT_OBJECT_0);
  EXPECT_GE(GetTickCount() - restarted, 390u);
  EXPECT_EQ(Drain(), std::vector<UINT>{WM_TIMER});
  KillTimer(hwnd, 2);
}

int g_timer_calls = 0;
void CALLBACK CountTimer(HWND, UINT msg, UINT_PTR, DWORD) {
  if (msg == WM_TIMER) ++g_timer_calls;
}
void CALLBACK NeverCalled(HWND, UINT, UINT_PTR, DWORD) { ADD_FAILURE() << "forged timer procedure was called"; }

TEST_F(Queue, TimerProceduresOnlyForRegisteredTimers) {
  g_timer_calls = 0;
  UINT_PTR id = SetTimer(nullptr, 0, 10, CountTimer);
  ASSERT_NE(id, 0u);
  MSG m;
  ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_TIMER));
  DispatchMessageA(&m);
  EXPECT_EQ(g_timer_calls, 1);
  EXPECT_TRUE(KillTimer(nullptr, id));
  // A posted WM_TIMER whose lParam is some address is not a timer of ours.
  PostMessageA(hwnd, WM_TIMER, 99, reinterpret_cast<LPARAM>(NeverCalled));
  Drain();
}

int g_paints = 0;
LRESULT CALLBACK PaintProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_PAINT) ++g_paints;
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

TEST_F(Queue, PaintComesWhenNothingPostedWaitsAndStopsWhenValidated) {
  SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PaintProc));
  g_paints = 0;
  ShowWindow(hwnd, SW_SHOW);
  PostMessageA(hwnd, WM_USER + 1, 0, 0);
  MSG m;
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 1u);
  ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_PAINT));
  DispatchMessageA(&m);  // DefWindowProc validates
  EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(g_paints, 1);
  RECT r{0, 0, 10, 10};
  InvalidateRect(hwnd, &r, TRUE);
  RECT u;
  EXPECT_TRUE(GetUpdateRect(hwnd, &u, FALSE));
  EXPECT_EQ(u.right, 10);
  UpdateWindow(hwnd);  // paints at once, without the queue
  EXPECT_EQ(g_paints, 2);
  EXPECT_FALSE(GetUpdateRect(hwnd, &u, FALSE));
}

TEST_F(Queue, HiddenWindowsNeverPaint) {
  InvalidateRect(hwnd, nullptr, TRUE);
  EXPECT_TRUE(Drain().empty());
}

TEST_F(Queue, StatusAndMsgWait) {
  EXPECT_EQ(GetQueueStatus(QS_ALLINPUT), 0u);
  PostMessageA(hwnd, WM_USER, 0, 0);
  EXPECT_EQ(HIWORD(GetQueueStatus(QS_ALLINPUT)), QS_POSTMESSAGE);
  HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 1000, QS_ALLINPUT), WAIT_OBJECT_0 + 1);
  Drain();
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 50, QS_ALLINPUT), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(e);
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &e, FALSE, 1000, QS_ALLINPUT), WAIT_OBJECT_0);
  CloseHandle(e);
  // A timer due wakes a wait for QS_TIMER.
  SetTimer(hwnd, 3, 30, nullptr);
  EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 2000, QS_TIMER), WAIT_OBJECT_0);
  KillTimer(hwnd, 3);
}

TEST_F(Queue, PostFailsForDestroyedWindowAndDropsItsMessages) {
  PostMessageA(hwnd, WM_USER + 1, 0, 0);
  SetTimer(hwnd, 4, 10, nullptr);
  DestroyWindow(hwnd);
  Sleep(30);
  EXPECT_EQ(Drain(), std::vector<UINT>{});
  EXPECT_FALSE(PostMessageA(hwnd, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_FALSE(PostThreadMessageA(0x7FFFFFF0, WM_USER, 0, 0));
}

TEST_F(Queue, QueueLimitRefusesFloods) {
  int accepted = 0;
  while (PostMessageA(hwnd, WM_USER, 0, 0) && accepted < 20000) ++accepted;
  EXPECT_EQ(accepted, 10000);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
}

// ---- sending across threads ----------------------------------------------------------

struct Worker {
  HWND hwnd = nullptr;
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread thread;
  static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM w, LPARAM l);
  explicit Worker() {
    thread = std::thread([this] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = Proc;
      wc.lpszClassName = "QxWorker";
      RegisterClassA(&wc);  // a second worker finds it registered
      hwnd = CreateWindowA("QxWorker", "worker", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
      SetEvent(ready);
      MSG m;
      while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
    });
    WaitForSingleObject(ready, 5000);
  }
  ~Worker() {
    if (IsWindow(hwnd)) PostMessageA(hwnd, WM_CLOSE, 0, 0);
    if (thread.joinable()) thread.join();
    CloseHandle(ready);
  }
};

HWND g_main_window = nullptr;
HANDLE g_release = nullptr;

LRESULT CALLBACK Worker::Proc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
    case WM_USER + 1:  // answers with twice the argument
      return static_cast<LRESULT>(w * 2);
    case WM_USER + 2:  // asks the (blocked) sender something before answering
      return SendMessageA(g_main_window, WM_USER + 10, w, 0) + 1;
    case WM_USER + 3:  // replies early, then keeps working until released
      ReplyMessage(77);
      WaitForSingleObject(g_release, 5000);
      return 0;
    case WM_USER + 4:  // busy
      Sleep(300);
      return 5;
    case WM_USER + 5: return InSendMessage();
    case WM_DESTROY: PostQuitMessage(0); return 0;
  }
  return DefWindowProcA(h, msg, w, l);
}

LRESULT CALLBACK MainProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_USER + 10) return static_cast<LRESULT>(w + 100);
  if (msg == WM_USER + 11) return PostMessageA(h, WM_USER + 12, w, 0);  // posts to its own queue
  return DefWindowProcA(h, msg, w, l);
}

class Send : public ::testing::Test {
 protected:
  void SetUp() override {
    static bool registered = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = MainProc;
      wc.lpszClassName = "QxSendMain";
      return RegisterClassA(&wc) != 0;
    }();
    ASSERT_TRUE(registered);
    g_main_window = CreateWindowA("QxSendMain", "main", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(g_main_window, nullptr);
  }
  void TearDown() override { DestroyWindow(g_main_window); }
};

TEST_F(Send, ResultComesBackFromTheOwnerThread) {
  Worker worker;
  EXPECT_EQ(SendMessageA(worker.hwnd, WM_USER + 1, 21, 0), 42);
  EXPECT_EQ(SendMessageA(worker.hwnd, WM_USER + 5, 0, 0), TRUE);
  EXPECT_EQ(InSendMessage(), FALSE);
  DWORD pid = 0;
  EXPECT_NE(GetWindowThreadProcessId(worker.hwnd, &pid), GetCurrentThreadId());
  EXPECT_EQ(pid, static_cast<DWORD>(getpid()));
}

TEST_F(Send, SenderAnswersWhatIsSentToItWhileWaiting) {
  Worker worker;
  EXPECT_EQ(SendMessageA(worker.hwnd, WM_USER + 2, 5, 0), 106);
}

TEST_F(Send, ReplyMessageReleasesTheSenderEarly) {
  Worker worker;
  g_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(SendMessageA(worker.hwnd, WM_USER + 3, 0, 0), 77);
  SetEvent(g_release);
  EXPECT_EQ(SendMessageA(worker.hwnd, WM_USER + 1, 1, 0), 2);
  CloseHandle(g_release);
}

TEST_F(Send, TimeoutGivesUpOnABusyThread) {
  Worker worker;
  DWORD_PTR result = 0;
  EXPECT_EQ(SendMessageTimeoutA(worker.hwnd, WM_USER + 4, 0, 0, SMTO_NORMAL, 50, &result), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  EXPECT_EQ(SendMessageTimeoutA(worker.hwnd, WM_USER + 1, 4, 0, SMTO_NORMAL, 5000, &result), 1);
  EXPECT_EQ(result, 8u);
}

TEST_F(Send, CloseFromAnotherThreadEndsItsLoop) {
  Worker worker;
  SendMessageA(worker.hwnd, WM_CLOSE, 0, 0);  // DefWindowProc destroys on the owner thread
  worker.thread.join();
  EXPECT_FALSE(IsWindow(worker.hwnd));
}

// A thread's posts to its own queue write no wake-up: one made by a message
// handled while the thread waits is still found before the wait blocks again.
TEST_F(Send, OwnPostFromASentMessageEndsTheWait) {
  for (const bool msg_wait : {false, true}) {
    std::thread sender([] {
      Sleep(50);  // the main thread is waiting by then
      SendMessageTimeoutA(g_main_window, WM_USER + 11, 7, 0, SMTO_NORMAL, 5000, nullptr);
    });
    MSG m{};
    if (msg_wait) {
      EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_POSTMESSAGE), WAIT_OBJECT_0);
      EXPECT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    } else {
      SetTimer(g_main_window, 1, 5000, nullptr);  // bounds the wait if the post were missed
      EXPECT_GT(GetMessageA(&m, nullptr, 0, 0), 0);
      KillTimer(g_main_window, 1);
    }
    EXPECT_EQ(m.message, WM_USER + 12u) << (msg_wait ? "MsgWaitForMultipleObjects" : "GetMessage");
    EXPECT_EQ(m.wParam, 7u);
    sender.join();
  }
}

TEST_F(Send, ThreadsPostToEachOther) {
  std::atomic<DWORD> tid{0};
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread t([&] {
    MSG m;
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);  // makes the queue, as on Windows
    tid = GetCurrentThreadId();
    SetEvent(ready);
    while (GetMessageA(&m, nullptr, 0, 0) > 0)
      if (m.message == WM_USER) PostMessageA(g_main_window, WM_USER + 1, m.wParam + 1, 0);
  });
  WaitForSingleObject(ready, 5000);
  ASSERT_TRUE(PostThreadMessageA(tid, WM_USER, 41, 0));
  MSG m;
  ASSERT_GT(GetMessageA(&m, g_main_window, 0, 0), 0);
  EXPECT_EQ(m.wParam, 42u);
  PostThreadMessageA(tid, WM_QUIT, 0, 0);
  t.join();
  CloseHandle(ready);
}

TEST_F(Send, ThreadEndingWithoutPumpingReleasesItsSenders) {
  HANDLE created = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE finish = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HWND h = nullptr;
  std::thread t([&] {
    h = CreateWindowA("QxSendMain", "orphan", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    SetEvent(created);
    WaitForSingleObject(finish, 5000);  // never pumps, then ends with its window alive
  });
  WaitForSingleObject(created, 5000);
  std::thread releaser([&] {
    Sleep(50);
    SetEvent(finish);
  });
  EXPECT_EQ(SendMessageA(h, WM_USER + 10, 1, 0), 0);  // answered with 0 when the thread ends
  t.join();
  releaser.join();
  EXPECT_FALSE(IsWindow(h));  // a thread's windows go with it
  EXPECT_FALSE(PostMessageA(h, WM_USER, 0, 0));
  CloseHandle(created);
  CloseHandle(finish);
}

TEST(QueueErrors, GetMessageRefusesAnUnknownWindowFilter) {
  MSG m;
  EXPECT_EQ(GetMessageA(&m, QX_HANDLE_FROM(HWND, 0x7FFF0001), 0, 0), -1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

// ---- message boxes without a display ---------------------------------------------------

TEST(MessageBox, DefaultButtonsAndScriptedAnswers) {
  struct Case {
    UINT type;
    const char *env;
    int want;
  } cases[] = {
      {MB_OK, nullptr, IDOK},
      {MB_YESNO, nullptr, IDYES},
      {MB_YESNO | MB_DEFBUTTON2, nullptr, IDNO},
      {MB_YESNOCANCEL | MB_DEFBUTTON3, nullptr, IDCANCEL},
      {MB_YESNO, "IDNO", IDNO},
      {MB_OKCANCEL, "idcancel", IDCANCEL},
      {MB_OK, "IDYES", IDOK},  // not a button of this box: the default stands
      {MB_RETRYCANCEL, "4", IDRETRY},
  };
  for (const auto &c : cases) {
    if (c.env)
      setenv("QX_MSGBOX_ANSWER", c.env, 1);
    else
      unsetenv("QX_MSGBOX_ANSWER");
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", c.type), c.want) << c.type << " " << (c.env ? c.env : "-");
  }
  unsetenv("QX_MSGBOX_ANSWER");
}

}  // namespace
