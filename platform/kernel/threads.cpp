// Threads (waitable handles with exit codes), thread-local storage, critical
// sections and the Interlocked operations.
#include <windows.h>

#include "qx/sync.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <vector>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qx {
namespace {

class ThreadObject final : public KernelObject {
 public:
  ThreadObject() : KernelObject(ObjectKind::Thread), fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  ~ThreadObject() override { close(fd_); }
  int WaitFd() const override { return fd_; }
  // A thread stays signalled once it has ended.
  bool TryAcquire() override { return ended_.load(); }

  void MarkEnded(DWORD code) {
    exit_code_ = code;
    ended_ = true;
    std::uint64_t one = 1;
    ssize_t r = write(fd_, &one, sizeof one);
    (void)r;
  }
  DWORD exit_code() const { return ended_ ? exit_code_.load() : STILL_ACTIVE; }

  // Start-up hand-shake: the new thread reports its id, then waits while suspended.
  std::mutex lock;
  std::condition_variable cv;
  DWORD tid = 0;
  bool suspended = false;
  LPTHREAD_START_ROUTINE start = nullptr;
  LPVOID param = nullptr;
  std::atomic<DWORD> pending_exit{0};

 private:
  int fd_;
  std::atomic<bool> ended_{false};
  std::atomic<DWORD> exit_code_{STILL_ACTIVE};
};

thread_local ThreadObject *t_self = nullptr;

// Runs when the thread function returns or ExitThread unwinds the thread.
struct EndGuard {
  std::shared_ptr<ThreadObject> self;
  ~EndGuard() {
    AbandonMutexesOfCurrentThread();
    self->MarkEnded(self->pending_exit.load());
  }
};

void *Trampoline(void *arg) {
  std::shared_ptr<ThreadObject> self(*static_cast<std::shared_ptr<ThreadObject> *>(arg));
  delete static_cast<std::shared_ptr<ThreadObject> *>(arg);
  t_self = self.get();
  {
    std::unique_lock lk(self->lock);
    self->tid = static_cast<DWORD>(syscall(SYS_gettid));
    self->cv.notify_all();
    self->cv.wait(lk, [&] { return !self->suspended; });
  }
  EndGuard guard{self};
  self->pending_exit = self->start(self->param);
  return nullptr;
}

}  // namespace
}  // namespace qx

using namespace qx;

extern "C" {

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stack, LPTHREAD_START_ROUTINE start, LPVOID param, DWORD flags,
                           LPDWORD thread_id) {
  if (!start) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto self = std::make_shared<ThreadObject>();
  self->start = start;
  self->param = param;
  self->suspended = (flags & CREATE_SUSPENDED) != 0;
  HANDLE h = InsertHandle(self);
  if (!h) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return nullptr;
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stack >= static_cast<SIZE_T>(PTHREAD_STACK_MIN)) pthread_attr_setstacksize(&attr, stack);
  pthread_t t;
  auto *arg = new std::shared_ptr<ThreadObject>(self);
  int rc = pthread_create(&t, &attr, Trampoline, arg);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete arg;
    RemoveHandle(h);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::unique_lock lk(self->lock);
  self->cv.wait(lk, [&] { return self->tid != 0; });
  if (thread_id) *thread_id = self->tid;
  return h;
}

void WINAPI ExitThread(DWORD code) {
  if (t_self) t_self->pending_exit = code;
  // Unwinds the thread's stack (destructors run) and ends it; the guard of a
  // CreateThread thread then signals its handle with the code.
  pthread_exit(nullptr);
}

BOOL WINAPI GetExitCodeThread(HANDLE h, LPDWORD code) {
  auto t = Lookup<ThreadObject>(h, ObjectKind::Thread);
  if (!t || !code) return SetLastError(ERROR_INVALID_HANDLE), FALSE;
  *code = t->exit_code();
  return TRUE;
}

DWORD WINAPI ResumeThread(HANDLE h) {
  auto t = Lookup<ThreadObject>(h, ObjectKind::Thread);
  if (!t) return SetLastError(ERROR_INVALID_HANDLE), 0xFFFFFFFFu;
  std::lock_guard lk(t->lock);
  DWORD previous = t->suspended ? 1 : 0;
  t->suspended = false;
  t->cv.notify_all();
  return previous;
}

HANDLE WINAPI GetCurrentThread(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }
// The thread id is asked for on every message a thread handles: it is kept
// per thread, and forgotten in a child of fork, whose thread has a new id.
namespace {
thread_local DWORD t_thread_id = 0;
void ForgetThreadIdInChild() { t_thread_id = 0; }
}  // namespace

DWORD WINAPI GetCurrentThreadId(void) {
  if (t_thread_id == 0) {
    static const bool hooked = (pthread_atfork(nullptr, nullptr, ForgetThreadIdInChild), true);
    (void)hooked;
    t_thread_id = static_cast<DWORD>(syscall(SYS_gettid));
  }
  return t_thread_id;
}
BOOL WINAPI SetThreadPriority(HANDLE, int) { return TRUE; }  // scheduling is left to the system

// ---- thread-local storage --------------------------------------------------

namespace {
constexpr DWORD kTlsSlots = 1088;
std::mutex g_tls_lock;
bool g_tls_used[kTlsSlots];
std::atomic<std::uint32_t> g_tls_generation[kTlsSlots];
struct TlsValue {
  LPVOID value = nullptr;
  std::uint32_t generation = 0;
};
// Grown on first store, so threads that never use TLS pay nothing.
thread_local std::vector<TlsValue> t_tls;
}  // namespace

DWORD WINAPI TlsAlloc(void) {
  std::lock_guard guard(g_tls_lock);
  for (DWORD i = 0; i < kTlsSlots; ++i) {
    if (g_tls_used[i]) continue;
    g_tls_used[i] = true;
    ++g_tls_generation[i];  // values stored under an earlier owner read as NULL
    return i;
  }
  SetLastError(ERROR_NO_MORE_ITEMS);
  return TLS_OUT_OF_INDEXES;
}

LPVOID WINAPI TlsGetValue(DWORD index) {
  if (index >= kTlsSlots) return SetLastError(ERROR_INVALID_PARAMETER), nullptr;
  SetLastError(ERROR_SUCCESS);
  if (index >= t_tls.size()) return nullptr;
  const TlsValue &v = t_tls[index];
  return v.generation == g_tls_generation[index].load() ? v.value : nullptr;
}

BOOL WINAPI TlsSetValue(DWORD index, LPVOID value) {
  if (index >= kTlsSlots) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  if (index >= t_tls.size()) t_tls.resize(index + 1);
  t_tls[index] = TlsValue{value, g_tls_generation[index].load()};
  return TRUE;
}

BOOL WINAPI TlsFree(DWORD index) {
  std::lock_guard guard(g_tls_lock);
  if (index >= kTlsSlots || !g_tls_used[index]) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  g_tls_used[index] = false;
  return TRUE;
}

// ---- critical sections ---------------------------------------------------------

namespace {
std::recursive_mutex *CsLock(LPCRITICAL_SECTION cs) {
  auto *slot = reinterpret_cast<std::atomic<void *> *>(&cs->impl);
  void *current = slot->load(std::memory_order_acquire);
  if (current) return static_cast<std::recursive_mutex *>(current);
  // A section used without InitializeCriticalSection (zeroed static data) still works.
  auto *fresh = new std::recursive_mutex;
  if (slot->compare_exchange_strong(current, fresh)) return fresh;
  delete fresh;
  return static_cast<std::recursive_mutex *>(current);
}
static_assert(sizeof(std::atomic<void *>) == sizeof(void *));
}  // namespace

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  std::memset(cs, 0, sizeof *cs);
  cs->LockCount = -1;
  CsLock(cs);
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  delete static_cast<std::recursive_mutex *>(cs->impl);
  cs->impl = nullptr;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) {
  CsLock(cs)->lock();
  if (cs->RecursionCount++ == 0) cs->OwningThread = QX_HANDLE_FROM(HANDLE, GetCurrentThreadId());
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  if (!CsLock(cs)->try_lock()) return FALSE;
  if (cs->RecursionCount++ == 0) cs->OwningThread = QX_HANDLE_FROM(HANDLE, GetCurrentThreadId());
  return TRUE;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  if (cs->OwningThread != QX_HANDLE_FROM(HANDLE, GetCurrentThreadId()) || cs->RecursionCount <= 0) return;
  if (--cs->RecursionCount == 0) cs->OwningThread = nullptr;
  CsLock(cs)->unlock();
}

// ---- Interlocked ---------------------------------------------------------------

LONG WINAPI InterlockedIncrement(LONG volatile *p) { return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST); }
LONG WINAPI InterlockedDecrement(LONG volatile *p) { return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST); }
LONG WINAPI InterlockedExchange(LONG volatile *p, LONG v) { return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST); }
LONG WINAPI InterlockedExchangeAdd(LONG volatile *p, LONG v) { return __atomic_fetch_add(p, v, __ATOMIC_SEQ_CST); }
LONG WINAPI InterlockedCompareExchange(LONG volatile *p, LONG exchange, LONG comperand) {
  __atomic_compare_exchange_n(p, &comperand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comperand;
}

}  // extern "C"
