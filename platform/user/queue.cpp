// Per-thread message queues: posted and sent messages, WM_QUIT, WM_PAINT and
// WM_TIMER made from state, and the waits that pump them.
//
// Retrieval order (what GetMessage/PeekMessage return first): messages sent by
// other threads are run before anything is returned; then posted messages in
// order; then WM_QUIT once nothing posted matches; then the messages of input
// the display holds (delivered one event at a time); then WM_PAINT for a
// window with an update region; then WM_TIMER for the timer due first. A timer is
// state, not a queued message, so at most one WM_TIMER per timer is ever
// pending and KillTimer cancels it.
//
// Each queue has an eventfd that becomes readable whenever something is added,
// so a wait can poll the queue together with sockets and kernel objects.
// Descriptors attached as message sources (message_source.h) are polled in
// the same waits, and their pumps run on the waiting thread itself.
#include <windows.h>

#include "qx/sync.h"
#include "user_internal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace qx {
namespace {

std::mutex g_queues_lock;
std::map<DWORD, std::shared_ptr<ThreadQueue>> &Queues() {
  static auto *queues = new std::map<DWORD, std::shared_ptr<ThreadQueue>>;
  return *queues;
}

void Complete(SentMessage &sm, LRESULT result) {
  auto sender = sm.sender.lock();
  if (!sender) return;
  {
    std::lock_guard guard(sender->lock);
    if (sm.done) return;
    sm.result = result;
    sm.done = true;
  }
  sender->Wake();
}

void DestroyThreadWindowsSilently(DWORD tid);

using SourceList = std::array<MessageSource, ThreadQueue::kMaxSources>;

// The queue's sources as they are now; the count is returned.
size_t SnapshotSources(ThreadQueue &q, SourceList &out) {
  std::lock_guard guard(q.lock);
  std::copy_n(q.sources.begin(), q.source_count, out.begin());
  return q.source_count;
}

void RunPump(const MessageSource &source) { source.pump(source.fd); }

// Runs every source's pump on the calling (owner) thread; they do not block.
void PumpSources(ThreadQueue &q) {
  SourceList sources;
  const size_t n = SnapshotSources(q, sources);
  for (size_t i = 0; i < n; ++i) RunPump(sources[i]);
}

// Ends a thread's queue: posts fail from now on and senders get 0.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> queue;
  ~QueueHolder() {
    if (!queue) return;
    std::deque<std::shared_ptr<SentMessage>> pending;
    SourceList sources;
    size_t source_count;
    {
      std::lock_guard guard(queue->lock);
      queue->ended = true;
      pending.swap(queue->sent);
      std::copy_n(queue->sources.begin(), queue->source_count, sources.begin());
      source_count = queue->source_count;
      queue->source_count = 0;
    }
    for (auto &sm : pending) Complete(*sm, 0);
    for (size_t i = 0; i < source_count; ++i)
      if (sources[i].ended) sources[i].ended(sources[i].fd);
    DestroyThreadWindowsSilently(queue->tid);
    std::lock_guard guard(g_queues_lock);
    Queues().erase(queue->tid);
  }
};
thread_local QueueHolder t_queue;

bool InRange(UINT msg, UINT min, UINT max) { return (min == 0 && max == 0) || (msg >= min && msg <= max); }

bool MatchesWindow(HWND msg_hwnd, HWND filter) {
  if (!filter) return true;
  if (filter == reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1))) return msg_hwnd == nullptr;
  return msg_hwnd == filter || (msg_hwnd && IsChild(filter, msg_hwnd));
}

DWORD Now() { return GetTickCount(); }

// Next timer deadline of the queue, in ms from now (-1: none).
int TimerWaitMs(ThreadQueue &q) {
  std::lock_guard guard(q.lock);
  if (q.timers.empty()) return -1;
  ULONGLONG now = MonotonicMs(), next = ~0ull;
  for (const auto &t : q.timers) next = std::min(next, t.due);
  return next <= now ? 0 : static_cast<int>(std::min<ULONGLONG>(next - now, 0x7FFFFFFF));
}

void SetCurrent(ThreadQueue &q, const MSG &m, pid_t sender) {
  q.message_time = m.time;
  q.message_pos = static_cast<DWORD>(MAKELONG(m.pt.x, m.pt.y));
  q.message_sender = sender;
}

// Posted messages in order, then WM_QUIT; true with *out filled when one matched.
bool RetrievePosted(ThreadQueue &q, MSG *out, HWND filter, UINT min, UINT max, bool remove) {
  std::lock_guard guard(q.lock);
  for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
    if (!InRange(it->msg.message, min, max) || !MatchesWindow(it->msg.hwnd, filter)) continue;
    *out = it->msg;
    pid_t sender = it->sender_pid;
    if (remove) q.posted.erase(it);
    SetCurrent(q, *out, sender);
    return true;
  }
  if (q.quit && InRange(WM_QUIT, min, max)) {
    *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q.quit_code), 0, Now(), {0, 0}};
    if (remove) q.quit = false;
    SetCurrent(q, *out, getpid());
    return true;
  }
  return false;
}

// One look at the queue; true with *out filled when a message matched.
bool Retrieve(ThreadQueue &q, MSG *out, HWND filter, UINT min, UINT max, bool remove) {
  ProcessSentMessages(q);
  if (RetrievePosted(q, out, filter, min, max, remove)) return true;
  // Input the display still holds comes before WM_PAINT and WM_TIMER, so a
  // timer never runs between the keys of one burst of input.
  while (Display().DeliverPendingInput()) {
    ProcessSentMessages(q);
    if (RetrievePosted(q, out, filter, min, max, remove)) return true;
  }
  HWND paint = nullptr;
  if (InRange(WM_PAINT, min, max) && FindPaintWindow(q.tid, filter, paint)) {
    // Not removed: it comes again until the update region is validated.
    *out = MSG{paint, WM_PAINT, 0, 0, Now(), {0, 0}};
    SetCurrent(q, *out, getpid());
    return true;
  }
  if (InRange(WM_TIMER, min, max)) {
    std::lock_guard guard(q.lock);
    ULONGLONG now = MonotonicMs();
    Timer *first = nullptr;
    for (auto &t : q.timers)
      if (t.due <= now && MatchesWindow(t.hwnd, filter) && (!first || t.due < first->due)) first = &t;
    if (first) {
      *out = MSG{first->hwnd, WM_TIMER, first->id, reinterpret_cast<LPARAM>(first->proc), Now(), {0, 0}};
      if (remove) first->due = now + first->elapse;
      SetCurrent(q, *out, getpid());
      return true;
    }
  }
  return false;
}

// Brings the queue's epoll set up to date with its sources (they are only
// ever added); false when there is no set to be had.
bool UpdateWaitSet(ThreadQueue &q, const SourceList &sources, size_t source_count) {
  if (q.wait_set < 0) {
    q.wait_set = epoll_create1(EPOLL_CLOEXEC);
    if (q.wait_set < 0) return false;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u32 = 0;
    if (epoll_ctl(q.wait_set, EPOLL_CTL_ADD, q.wake_fd, &ev) != 0) {
      close(q.wait_set);
      q.wait_set = -1;
      return false;
    }
  }
  for (; q.sources_in_set < source_count; ++q.sources_in_set) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u32 = static_cast<std::uint32_t>(q.sources_in_set + 1);
    if (epoll_ctl(q.wait_set, EPOLL_CTL_ADD, sources[q.sources_in_set].fd, &ev) != 0) return false;
  }
  return true;
}

// One epoll call over the queue's wait set (at most wait_ms), then the pumps
// of the sources it found readable.
void PumpWaitSet(ThreadQueue &q, const SourceList &sources, size_t source_count, int wait_ms) {
  std::array<epoll_event, 1 + ThreadQueue::kMaxSources> events;
  const int n = epoll_wait(q.wait_set, events.data(), static_cast<int>(events.size()), wait_ms);
  for (int i = 0; i < n; ++i) {
    const std::uint32_t tag = events[static_cast<size_t>(i)].data.u32;
    if (tag >= 1 && tag <= source_count) RunPump(sources[tag - 1]);
  }
}

// The pumps of the sources that have something, without waiting. Without
// display input, once a wait has made the thread's wait set, one epoll call
// over it finds them, so a PeekMessage loop on a thread with several quiet
// sources makes one system call instead of one or more per source.
void PumpReadySources(ThreadQueue &q) {
  if (Display().InputFd() < 0 && q.wait_set >= 0) {
    SourceList sources;
    const size_t source_count = SnapshotSources(q, sources);
    if (source_count == 0) return;
    if (UpdateWaitSet(q, sources, source_count)) {
      PumpWaitSet(q, sources, source_count, 0);
      return;
    }
  }
  PumpSources(q);
}

// Blocks until the queue's descriptor, the display's input, a message source
// or a timer may have something, or timeout_ms passes (-1: no limit). Sources
// found readable are pumped before returning.
void WaitForQueue(ThreadQueue &q, int timeout_ms) {
  int timer = TimerWaitMs(q);
  int wait = timeout_ms;
  if (timer >= 0 && (wait < 0 || timer < wait)) wait = timer;
  SourceList sources;
  const size_t source_count = SnapshotSources(q, sources);
  // Without display input (services, daemons, the headless display) the wait
  // is one epoll call; the display's descriptor may come and go, so a thread
  // with one polls a set made for each wait.
  if (Display().InputFd() < 0 && UpdateWaitSet(q, sources, source_count)) {
    PumpWaitSet(q, sources, source_count, wait);
    return;
  }
  std::array<pollfd, 2 + ThreadQueue::kMaxSources> fds;
  size_t n = 0;
  fds[n++] = {q.wake_fd, POLLIN, 0};
  for (size_t i = 0; i < source_count; ++i) fds[n++] = {sources[i].fd, POLLIN, 0};
  const int input_fd = Display().InputFd();
  if (input_fd >= 0) fds[n++] = {input_fd, POLLIN, 0};
  if (poll(fds.data(), n, wait) <= 0) return;
  for (size_t i = 0; i < source_count; ++i)
    if (fds[1 + i].revents) RunPump(sources[i]);
  if (input_fd >= 0 && (fds[n - 1].revents & POLLIN)) Display().PumpInput();
}

// Reads what the display's input descriptor has (real or injected input)
// without waiting.
void PumpDisplayInputIfReady() {
  if (const int fd = Display().InputFd(); fd >= 0) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) > 0) Display().PumpInput();
  }
}

bool ValidFilter(HWND filter) {
  if (!filter || filter == reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1))) return true;
  return FindLocalWindow(filter) != nullptr;
}

DWORD StatusBits(ThreadQueue &q) {
  DWORD bits = 0;
  {
    std::lock_guard guard(q.lock);
    for (const auto &p : q.posted) {
      UINT m = p.msg.message;
      if (m >= WM_KEYFIRST && m <= WM_KEYLAST)
        bits |= QS_KEY;
      else if (m == WM_MOUSEMOVE)
        bits |= QS_MOUSEMOVE;
      else if (m >= WM_MOUSEFIRST && m <= WM_MOUSELAST)
        bits |= QS_MOUSEBUTTON;
      else if (m == WM_HOTKEY)
        bits |= QS_HOTKEY;
      else
        bits |= QS_POSTMESSAGE;
    }
    if (q.quit) bits |= QS_POSTMESSAGE;
    if (!q.sent.empty()) bits |= QS_SENDMESSAGE;
    ULONGLONG now = MonotonicMs();
    for (const auto &t : q.timers)
      if (t.due <= now) bits |= QS_TIMER;
  }
  HWND paint;
  if (FindPaintWindow(q.tid, nullptr, paint)) bits |= QS_PAINT;
  return bits;
}

bool ReceiverAlive(DWORD tid, std::shared_ptr<ThreadQueue> &out) {
  out = QueueOfThread(tid);
  return out != nullptr;
}

}  // namespace

ThreadQueue::ThreadQueue(DWORD id) : tid(id), wake_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
ThreadQueue::~ThreadQueue() {
  if (wait_set >= 0) close(wait_set);
  if (wake_fd >= 0) close(wake_fd);
}
void ThreadQueue::Wake() {
  std::uint64_t one = 1;
  ssize_t r = write(wake_fd, &one, sizeof one);
  (void)r;
  // Set after the write: a DrainWake that misses the flag leaves the
  // descriptor readable, so the next wait returns and drains it then.
  wake_pending.store(true, std::memory_order_release);
}
void ThreadQueue::DrainWake() {
  if (!wake_pending.exchange(false, std::memory_order_acq_rel)) return;
  std::uint64_t v;
  ssize_t r = read(wake_fd, &v, sizeof v);
  (void)r;
}

std::shared_ptr<ThreadQueue> CurrentQueue() {
  if (!t_queue.queue) {
    auto q = std::make_shared<ThreadQueue>(GetCurrentThreadId());
    {
      std::lock_guard guard(g_queues_lock);
      Queues()[q->tid] = q;
    }
    t_queue.queue = q;
  }
  return t_queue.queue;
}

std::shared_ptr<ThreadQueue> QueueOfThread(DWORD tid) {
  std::lock_guard guard(g_queues_lock);
  auto it = Queues().find(tid);
  return it == Queues().end() ? nullptr : it->second;
}

bool AttachMessageSource(DWORD tid, const MessageSource &source) {
  auto q = QueueOfThread(tid);
  if (!q || source.fd < 0 || !source.pump) return false;
  {
    std::lock_guard guard(q->lock);
    if (q->ended || q->source_count == ThreadQueue::kMaxSources) return false;
    q->sources[q->source_count++] = source;
  }
  q->Wake();  // a wait already under way polls the new descriptor too
  return true;
}

namespace {

#ifndef ERROR_STACK_OVERFLOW
#define ERROR_STACK_OVERFLOW 1001L
#endif

// How deep window procedures may nest on one thread (a procedure sending to
// a window whose procedure sends on, ...). Past it the call is refused with a
// message, so a procedure that keeps re-sending to itself fails in words
// instead of overflowing the stack.
constexpr int kMaxProcDepth = 256;
thread_local int t_proc_depth = 0;

struct ProcDepth {
  ProcDepth() { ++t_proc_depth; }
  ~ProcDepth() { --t_proc_depth; }
  ProcDepth(const ProcDepth &) = delete;
  ProcDepth &operator=(const ProcDepth &) = delete;
};

}  // namespace

LRESULT CallProc(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (!proc) return 0;
  if (t_proc_depth >= kMaxProcDepth) {
    std::fprintf(stderr,
                 "qx: message 0x%04X to window %p refused: window procedures are nested %d deep on this thread, "
                 "so one is probably sending to itself without end; look for a handler that sends the message "
                 "it is handling\n",
                 msg, static_cast<void *>(hwnd), kMaxProcDepth);
    SetLastError(ERROR_STACK_OVERFLOW);
    return 0;
  }
  ProcDepth depth;
  return proc(hwnd, msg, wparam, lparam);
}

void ProcessSentMessages(ThreadQueue &q) {
  for (;;) {
    std::shared_ptr<SentMessage> sm;
    {
      std::lock_guard guard(q.lock);
      if (q.sent.empty()) return;
      sm = q.sent.front();
      q.sent.pop_front();
    }
    LRESULT result = 0;
    auto w = FindLocalWindow(sm->hwnd);
    WNDPROC proc = nullptr;
    if (w) {
      std::lock_guard guard(WindowLock());
      if (w->tid == q.tid) proc = w->proc;
    }
    q.in_send.push_back(sm);
    if (proc)
      result = sm->msg == kActivationRequest && sm->notify ? RunActivationRequest(sm->hwnd, sm->wparam)
                                                           : CallProc(proc, sm->hwnd, sm->msg, sm->wparam, sm->lparam);
    q.in_send.pop_back();
    Complete(*sm, result);
  }
}

bool PostToQueue(ThreadQueue &q, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, pid_t sender) {
  {
    std::lock_guard guard(q.lock);
    if (q.ended) {
      SetLastError(hwnd ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_THREAD_ID);
      return false;
    }
    if (q.posted.size() >= kPostedLimit) {
      SetLastError(ERROR_NOT_ENOUGH_QUOTA);
      return false;
    }
    q.posted.push_back(PostedMessage{MSG{hwnd, msg, wparam, lparam, Now(), {0, 0}}, sender});
  }
  // What a thread posts to its own queue needs no wake-up: it is not
  // waiting while it posts (a source's pump included), and each of its waits
  // looks at the queue before blocking.
  if (&q != t_queue.queue.get()) q.Wake();
  return true;
}

void ForgetWindowMessages(HWND hwnd, DWORD tid) {
  auto q = QueueOfThread(tid);
  if (!q) return;
  std::lock_guard guard(q->lock);
  std::erase_if(q->timers, [&](const Timer &t) { return t.hwnd == hwnd; });
  std::erase_if(q->posted, [&](const PostedMessage &p) { return p.msg.hwnd == hwnd; });
}

pid_t CurrentMessageSenderPid() {
  pid_t p = CurrentQueue()->message_sender;
  return p ? p : getpid();
}

namespace {
void DestroyThreadWindowsSilently(DWORD tid) {
  std::vector<HWND> mine;
  for (const auto &w : LocalWindows())
    if (w->tid == tid) mine.push_back(w->hwnd);
  // The thread has ended, so no procedure can run: the records are dropped.
  for (HWND h : mine) DropWindowRecord(h);
}
}  // namespace

// Sends to a window of another thread of this process and waits for the
// result, running messages sent to this thread meanwhile.
bool SendAcrossThreads(DWORD tid, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, DWORD timeout_ms, LRESULT *result,
                       bool notify) {
  std::shared_ptr<ThreadQueue> target;
  if (!ReceiverAlive(tid, target)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  auto me = CurrentQueue();
  auto sm = std::make_shared<SentMessage>();
  sm->hwnd = hwnd;
  sm->msg = msg;
  sm->wparam = wparam;
  sm->lparam = lparam;
  sm->notify = notify;
  if (!notify) sm->sender = me;
  {
    std::lock_guard guard(target->lock);
    if (target->ended) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    target->sent.push_back(sm);
  }
  target->Wake();
  if (notify) return true;
  const ULONGLONG start = MonotonicMs();
  for (;;) {
    me->DrainWake();
    ProcessSentMessages(*me);
    {
      std::lock_guard guard(me->lock);
      if (sm->done) {
        if (result) *result = sm->result;
        me->Wake();  // whatever else arrived is looked at by the caller's loop
        return true;
      }
    }
    int wait = -1;
    if (timeout_ms != INFINITE) {
      ULONGLONG elapsed = MonotonicMs() - start;
      if (elapsed >= timeout_ms) {
        SetLastError(ERROR_TIMEOUT);
        return false;
      }
      wait = static_cast<int>(timeout_ms - elapsed);
    }
    pollfd p{me->wake_fd, POLLIN, 0};
    poll(&p, 1, wait);
  }
}

}  // namespace qx

using namespace qx;

extern "C" {

BOOL WINAPI PeekMessageA(LPMSG msg, HWND hwnd, UINT min, UINT max, UINT flags) {
  if (!msg) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  auto q = CurrentQueue();
  q->DrainWake();
  PumpReadySources(*q);
  PumpDisplayInputIfReady();
  return Retrieve(*q, msg, hwnd, min, max, (flags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT min, UINT max) {
  if (!msg) return SetLastError(ERROR_INVALID_PARAMETER), -1;
  if (!ValidFilter(hwnd)) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), -1;
  auto q = CurrentQueue();
  for (;;) {
    q->DrainWake();
    if (Retrieve(*q, msg, hwnd, min, max, true)) return msg->message == WM_QUIT ? FALSE : TRUE;
    WaitForQueue(*q, -1);
  }
}

BOOL WINAPI WaitMessage(void) {
  auto q = CurrentQueue();
  for (;;) {
    q->DrainWake();
    ProcessSentMessages(*q);
    if (StatusBits(*q) & QS_ALLEVENTS) {
      q->Wake();
      return TRUE;
    }
    WaitForQueue(*q, -1);
  }
}

BOOL WINAPI TranslateMessage(const MSG *msg) {
  if (!msg) return FALSE;
  switch (msg->message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP: return Display().TranslateKey(*msg) ? TRUE : FALSE;
    default: return FALSE;
  }
}

LRESULT WINAPI DispatchMessageA(const MSG *msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    // Only a procedure this thread registered with SetTimer is ever called:
    // an lParam from elsewhere (a post from another process) is not code.
    auto q = CurrentQueue();
    TIMERPROC proc = nullptr;
    {
      std::lock_guard guard(q->lock);
      for (const auto &t : q->timers)
        if (t.hwnd == msg->hwnd && t.id == msg->wParam && reinterpret_cast<LPARAM>(t.proc) == msg->lParam)
          proc = t.proc;
    }
    if (proc) proc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
    return 0;
  }
  if (!msg->hwnd) return 0;
  auto w = FindLocalWindow(msg->hwnd);
  if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), 0;
  WNDPROC proc;
  {
    std::lock_guard guard(WindowLock());
    if (w->tid != GetCurrentThreadId()) return SetLastError(ERROR_MESSAGE_SYNC_ONLY), 0;
    proc = w->proc;
  }
  return CallProc(proc, msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void WINAPI PostQuitMessage(int code) {
  auto q = CurrentQueue();
  {
    std::lock_guard guard(q->lock);
    q->quit = true;
    q->quit_code = code;
  }
  q->Wake();
}

BOOL WINAPI PostThreadMessageA(DWORD tid, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto q = QueueOfThread(tid);
  if (!q) return SetLastError(ERROR_INVALID_THREAD_ID), FALSE;
  return PostToQueue(*q, nullptr, msg, wparam, lparam, getpid()) ? TRUE : FALSE;
}

BOOL WINAPI ReplyMessage(LRESULT result) {
  auto q = CurrentQueue();
  if (q->in_send.empty()) return FALSE;
  auto sm = q->in_send.back();
  if (sm->notify || sm->sender.expired()) return FALSE;
  Complete(*sm, result);
  return TRUE;
}

BOOL WINAPI InSendMessage(void) {
  auto q = CurrentQueue();
  return q->in_send.empty() ? FALSE : TRUE;
}

DWORD WINAPI InSendMessageEx(LPVOID) { return InSendMessage() ? ISMEX_SEND : ISMEX_NOSEND; }

LONG WINAPI GetMessageTime(void) { return static_cast<LONG>(CurrentQueue()->message_time); }
DWORD WINAPI GetMessagePos(void) { return CurrentQueue()->message_pos; }

DWORD WINAPI GetQueueStatus(UINT flags) {
  auto q = CurrentQueue();
  PumpSources(*q);
  DWORD bits = StatusBits(*q) & flags;
  return (bits << 16) | bits;
}

BOOL WINAPI GetInputState(void) {
  auto q = CurrentQueue();
  PumpSources(*q);
  return (StatusBits(*q) & QS_INPUT) ? TRUE : FALSE;
}

DWORD WINAPI MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE *handles, DWORD ms, DWORD mask, DWORD flags) {
  if (count > MAXIMUM_WAIT_OBJECTS || (count && !handles)) return SetLastError(ERROR_INVALID_PARAMETER), WAIT_FAILED;
  WaitRequest request;
  if (!ResolveWaitHandles(count, handles, request.objects)) return WAIT_FAILED;
  request.wait_all = (flags & MWMO_WAITALL) != 0;
  auto q = CurrentQueue();
  const ULONGLONG start = MonotonicMs();
  for (;;) {
    q->DrainWake();
    PumpSources(*q);
    PumpDisplayInputIfReady();
    ProcessSentMessages(*q);
    // Input the display holds (injected keys and clicks among it) becomes
    // queue messages here as it does in GetMessage, so it ends the wait.
    Display().DeliverPendingInput();
    // The queue, its sources and the display's input end a wait-any; the
    // list of sources may have grown.
    SourceList sources;
    const size_t source_count = SnapshotSources(*q, sources);
    request.extra_fds.assign(1, q->wake_fd);
    for (size_t i = 0; i < source_count; ++i) request.extra_fds.push_back(sources[i].fd);
    if (const int input_fd = Display().InputFd(); input_fd >= 0) request.extra_fds.push_back(input_fd);
    // With wait-all the objects must all be signalled; the queue alone ends
    // only a wait-any.
    if (!request.wait_all && (StatusBits(*q) & mask)) {
      q->Wake();
      return WAIT_OBJECT_0 + count;
    }
    DWORD remaining = INFINITE;
    if (ms != INFINITE) {
      ULONGLONG elapsed = MonotonicMs() - start;
      remaining = elapsed >= ms ? 0 : static_cast<DWORD>(ms - elapsed);
    }
    int timer = (mask & QS_TIMER) ? TimerWaitMs(*q) : -1;
    request.timeout_ms = remaining;
    if (timer >= 0 && (remaining == INFINITE || static_cast<DWORD>(timer) < remaining))
      request.timeout_ms = static_cast<DWORD>(timer);
    DWORD r = WaitObjects(request);
    if (r == WAIT_TIMEOUT) {
      if (remaining != INFINITE && request.timeout_ms == remaining) return WAIT_TIMEOUT;
      continue;  // a timer became due: look at the queue again
    }
    if (r == WAIT_OBJECT_0 + count) continue;  // the queue was woken: look at it
    return r;
  }
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL wait_all, DWORD ms, DWORD mask) {
  return MsgWaitForMultipleObjectsEx(count, handles, ms, mask, wait_all ? MWMO_WAITALL : 0);
}

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  std::shared_ptr<ThreadQueue> q;
  if (hwnd) {
    auto w = FindLocalWindow(hwnd);
    if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), 0;
    DWORD tid;
    {
      std::lock_guard guard(WindowLock());
      tid = w->tid;
    }
    if (tid != GetCurrentThreadId()) return SetLastError(ERROR_ACCESS_DENIED), 0;
  }
  q = CurrentQueue();
  elapse = std::clamp<UINT>(elapse, 10, 0x7FFFFFFF);  // as USER_TIMER_MINIMUM / MAXIMUM
  std::lock_guard guard(q->lock);
  const ULONGLONG due = MonotonicMs() + elapse;
  if (!hwnd) {
    // Thread timers: an existing id is reset, otherwise a fresh id is chosen.
    auto it =
        std::find_if(q->timers.begin(), q->timers.end(), [&](const Timer &t) { return !t.hwnd && t.id == id && id; });
    if (it != q->timers.end()) {
      *it = Timer{nullptr, id, elapse, proc, due};
      return id;
    }
    UINT_PTR fresh = 1;
    while (std::any_of(q->timers.begin(), q->timers.end(), [&](const Timer &t) { return !t.hwnd && t.id == fresh; }))
      ++fresh;
    q->timers.push_back(Timer{nullptr, fresh, elapse, proc, due});
    return fresh;
  }
  auto it =
      std::find_if(q->timers.begin(), q->timers.end(), [&](const Timer &t) { return t.hwnd == hwnd && t.id == id; });
  if (it != q->timers.end())
    *it = Timer{hwnd, id, elapse, proc, due};
  else
    q->timers.push_back(Timer{hwnd, id, elapse, proc, due});
  return id ? id : 1;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
  std::shared_ptr<ThreadQueue> q;
  if (hwnd) {
    auto w = FindLocalWindow(hwnd);
    if (!w) return SetLastError(ERROR_INVALID_WINDOW_HANDLE), FALSE;
    std::lock_guard guard(WindowLock());
    q = QueueOfThread(w->tid);
  } else {
    q = CurrentQueue();
  }
  if (!q) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  std::lock_guard guard(q->lock);
  auto before = q->timers.size();
  std::erase_if(q->timers, [&](const Timer &t) { return t.hwnd == hwnd && t.id == id; });
  if (q->timers.size() == before) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  return TRUE;
}

}  // extern "C"
