// Kernel objects: events, mutexes, semaphores, threads, waits, named objects
// shared with another process, critical sections and thread-local storage.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "qxtest/support.h"

namespace {

qxtest::PrivateRuntime g_runtime;

struct Handle {
  HANDLE h;
  explicit Handle(HANDLE v) : h(v) {}
  ~Handle() {
    if (h) CloseHandle(h);
  }
  operator HANDLE() const { return h; }
};

// ---- events: one table of signal/wait sequences ------------------------------

struct EventCase {
  const char *name;
  BOOL manual, initial;
  const char *steps;  // s = SetEvent, r = ResetEvent, w = wait expects signalled, t = wait expects timeout
};

const EventCase kEventCases[] = {
    {"auto reset wakes one wait and resets", FALSE, FALSE, "swt"},
    {"auto reset initially signalled", FALSE, TRUE, "wt"},
    {"manual stays signalled", TRUE, FALSE, "swww"},
    {"manual reset clears", TRUE, TRUE, "wrt"},
    {"set twice is one signal for auto reset", FALSE, FALSE, "sswt"},
    {"reset when not signalled is harmless", FALSE, FALSE, "rtsw"},
};

class EventTable : public ::testing::TestWithParam<EventCase> {};

TEST_P(EventTable, FollowsSteps) {
  const EventCase &c = GetParam();
  Handle e(CreateEventA(nullptr, c.manual, c.initial, nullptr));
  ASSERT_NE(e.h, nullptr);
  for (const char *s = c.steps; *s; ++s) {
    switch (*s) {
      case 's': EXPECT_TRUE(SetEvent(e)); break;
      case 'r': EXPECT_TRUE(ResetEvent(e)); break;
      case 'w': EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0) << "step " << (s - c.steps); break;
      case 't': EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT) << "step " << (s - c.steps); break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Events, EventTable, ::testing::ValuesIn(kEventCases));

TEST(Events, AutoResetReleasesExactlyOneOfManyWaiters) {
  Handle e(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i)
    waiters.emplace_back([&] {
      if (WaitForSingleObject(e, 1000) == WAIT_OBJECT_0) ++woken;
    });
  Sleep(50);
  SetEvent(e);
  for (auto &t : waiters) t.join();
  EXPECT_EQ(woken.load(), 1);
}

TEST(Waits, TimeoutIsHonoured) {
  Handle e(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(e, 100), WAIT_TIMEOUT);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 95);
}

TEST(Waits, AnyReturnsLowestSignalledIndex) {
  Handle a(CreateEventA(nullptr, TRUE, FALSE, nullptr)), b(CreateEventA(nullptr, TRUE, TRUE, nullptr)),
      c(CreateEventA(nullptr, TRUE, TRUE, nullptr));
  HANDLE hs[] = {a, b, c};
  EXPECT_EQ(WaitForMultipleObjects(3, hs, FALSE, 0), WAIT_OBJECT_0 + 1);
}

TEST(Waits, AllNeedsEveryObjectAndTakesNoneOtherwise) {
  Handle a(CreateEventA(nullptr, FALSE, TRUE, nullptr)), b(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  HANDLE hs[] = {a, b};
  EXPECT_EQ(WaitForMultipleObjects(2, hs, TRUE, 50), WAIT_TIMEOUT);
  // The auto-reset event a was not consumed by the failed wait-all.
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  SetEvent(a);
  std::thread setter([&] {
    Sleep(50);
    SetEvent(b);
  });
  EXPECT_EQ(WaitForMultipleObjects(2, hs, TRUE, 5000), WAIT_OBJECT_0);
  setter.join();
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT);
}

TEST(Waits, BadArgumentsFail) {
  HANDLE bogus = QX_HANDLE_FROM(HANDLE, 0x7FFF1234);
  EXPECT_EQ(WaitForSingleObject(bogus, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  HANDLE none[1] = {nullptr};
  EXPECT_EQ(WaitForMultipleObjects(0, none, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS + 1, none, FALSE, 0), WAIT_FAILED);
}

// ---- mutexes and semaphores --------------------------------------------------------

TEST(Mutexes, RecursionAndOwnership) {
  Handle m(CreateMutexA(nullptr, TRUE, nullptr));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // owner re-enters
  std::thread other([&] { EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_TIMEOUT); });
  other.join();
  std::thread stranger([&] {
    EXPECT_FALSE(ReleaseMutex(m));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
  });
  stranger.join();
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_FALSE(ReleaseMutex(m));
  std::thread taker([&] {
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    ReleaseMutex(m);
  });
  taker.join();
}

DWORD WINAPI TakeAndEnd(LPVOID param) {
  WaitForSingleObject(static_cast<HANDLE>(param), INFINITE);
  return 7;  // ends owning the mutex
}

TEST(Mutexes, OwnerEndingAbandonsIt) {
  Handle m(CreateMutexA(nullptr, FALSE, nullptr));
  Handle t(CreateThread(nullptr, 0, TakeAndEnd, m.h, 0, nullptr));
  ASSERT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(m, 1000), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);  // abandoned only once
  ReleaseMutex(m);
}

TEST(Semaphores, CountsAndMaximum) {
  Handle s(CreateSemaphoreA(nullptr, 2, 3, nullptr));
  EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(s, 0), WAIT_TIMEOUT);
  LONG previous = -1;
  EXPECT_TRUE(ReleaseSemaphore(s, 3, &previous));
  EXPECT_EQ(previous, 0);
  EXPECT_FALSE(ReleaseSemaphore(s, 1, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TOO_MANY_POSTS));
  EXPECT_EQ(CreateSemaphoreA(nullptr, 4, 3, nullptr), nullptr);
  EXPECT_EQ(CreateSemaphoreA(nullptr, 0, 0, nullptr), nullptr);
}

// ---- threads ------------------------------------------------------------------------

DWORD WINAPI ReturnParam(LPVOID p) { return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(p)); }

struct Unwound {
  bool *flag;
  ~Unwound() { *flag = true; }
};

DWORD WINAPI ExitEarly(LPVOID p) {
  Unwound guard{static_cast<bool *>(p)};
  ExitThread(42);
  return 1;
}

TEST(Threads, ExitCodesFromReturnAndExitThread) {
  DWORD id = 0;
  Handle t(CreateThread(nullptr, 0, ReturnParam, reinterpret_cast<LPVOID>(1234), 0, &id));
  ASSERT_NE(t.h, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  ASSERT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, 1234u);
  EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);  // stays signalled

  bool unwound = false;
  Handle t2(CreateThread(nullptr, 0, ExitEarly, &unwound, 0, nullptr));
  ASSERT_EQ(WaitForSingleObject(t2, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(t2, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_TRUE(unwound);
}

TEST(Threads, SuspendedUntilResumed) {
  Handle t(CreateThread(nullptr, 0, ReturnParam, nullptr, CREATE_SUSPENDED, nullptr));
  DWORD code = 0;
  EXPECT_EQ(WaitForSingleObject(t, 50), WAIT_TIMEOUT);
  EXPECT_TRUE(GetExitCodeThread(t, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(ResumeThread(t), 1u);
  EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
}

TEST(Threads, TlsIsPerThreadAndFreshAfterReuse) {
  DWORD index = TlsAlloc();
  ASSERT_NE(index, TLS_OUT_OF_INDEXES);
  EXPECT_TRUE(TlsSetValue(index, reinterpret_cast<LPVOID>(5)));
  std::thread([&] { EXPECT_EQ(TlsGetValue(index), nullptr); }).join();
  EXPECT_EQ(TlsGetValue(index), reinterpret_cast<LPVOID>(5));
  EXPECT_TRUE(TlsFree(index));
  DWORD again = TlsAlloc();
  EXPECT_EQ(TlsGetValue(again), nullptr);
  TlsFree(again);
  EXPECT_FALSE(TlsFree(999999));
}

TEST(CriticalSections, ExcludeAndRecurse) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 10000; ++i) {
      EnterCriticalSection(&cs);
      EnterCriticalSection(&cs);
      ++counter;
      LeaveCriticalSection(&cs);
      LeaveCriticalSection(&cs);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 20000);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));
  std::thread([&] { EXPECT_FALSE(TryEnterCriticalSection(&cs)); }).join();
  LeaveCriticalSection(&cs);
  DeleteCriticalSection(&cs);
}

TEST(Interlocked, Operations) {
  LONG v = 5;
  EXPECT_EQ(InterlockedIncrement(&v), 6);
  EXPECT_EQ(InterlockedDecrement(&v), 5);
  EXPECT_EQ(InterlockedExchange(&v, 9), 5);
  EXPECT_EQ(InterlockedExchangeAdd(&v, 2), 9);
  EXPECT_EQ(InterlockedCompareExchange(&v, 1, 11), 11);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(InterlockedCompareExchange(&v, 3, 99), 1);
  EXPECT_EQ(v, 1);
}

// ---- named objects -------------------------------------------------------------------

std::string UniqueName(const char *base) { return std::string(base) + std::to_string(getpid()); }

TEST(NamedObjects, SameNameIsSameObjectInProcess) {
  std::string name = UniqueName("QxSame");
  Handle a(CreateEventA(nullptr, FALSE, FALSE, name.c_str()));
  ASSERT_NE(a.h, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  Handle b(CreateEventA(nullptr, FALSE, FALSE, name.c_str()));
  ASSERT_NE(b.h, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  SetEvent(a);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
  // Another kind under the same name is refused.
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, (name + "x").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(NamedObjects, MutexOpenedTwiceKeepsOneOwner) {
  std::string name = UniqueName("QxNamedMutex");
  Handle a(CreateMutexA(nullptr, TRUE, name.c_str()));
  Handle b(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()));
  ASSERT_NE(b.h, nullptr);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);  // the owner re-enters through either handle
  std::thread([&] { EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT); }).join();
  EXPECT_TRUE(ReleaseMutex(a));
  EXPECT_TRUE(ReleaseMutex(b));
  std::thread([&] {
    EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
    ReleaseMutex(b);
  }).join();
}

TEST(NamedObjects, NameGoesAwayWithItsLastHandleHere) {
  std::string name = UniqueName("QxGone");
  HANDLE a = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_NE(a, nullptr);
  CloseHandle(a);
  EXPECT_EQ(OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()), nullptr);
}

TEST(NamedObjects, EventWakesAWaiterInAnotherProcess) {
  std::string name = UniqueName("PortwardenControlTest");
  Handle e(CreateEventA(nullptr, FALSE, FALSE, name.c_str()));
  ASSERT_NE(e.h, nullptr);
  qxtest::Child waiter({qxtest::BinDir() + "/kernel_peer", "wait-event", name});
  ASSERT_EQ(waiter.ReadLine(), "opened");
  EXPECT_TRUE(SetEvent(e));
  EXPECT_EQ(waiter.Wait(), 0);

  qxtest::Child setter({qxtest::BinDir() + "/kernel_peer", "set-event", name});
  EXPECT_EQ(WaitForSingleObject(e, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(setter.Wait(), 0);
}

TEST(NamedObjects, OpenFailsInAnotherProcessWhenNoneExists) {
  qxtest::Child opener({qxtest::BinDir() + "/kernel_peer", "set-event", UniqueName("QxNoSuchEvent")});
  EXPECT_EQ(opener.ReadLine(), "open failed 2");
  EXPECT_EQ(opener.Wait(), 3);
}

}  // namespace
