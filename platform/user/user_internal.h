// Shared internals of the USER part: per-thread message queues and the
// machine-wide window registry.
#pragma once

#include "qx/message_source.h"
#include "qx/window.h"

#include <array>
#include <atomic>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qx {

// A message sent from another thread, waiting for the owner thread to run it.
struct SentMessage {
  HWND hwnd;
  UINT msg;
  WPARAM wparam;
  LPARAM lparam;
  LRESULT result = 0;
  bool done = false;    // result is final (replied, processed, or the receiver ended)
  bool notify = false;  // SendNotifyMessage: nobody waits for the result
  std::weak_ptr<struct ThreadQueue> sender;
};

struct PostedMessage {
  MSG msg;
  pid_t sender_pid;
};

struct Timer {
  HWND hwnd;
  UINT_PTR id;
  UINT elapse;
  TIMERPROC proc;
  ULONGLONG due;  // monotonic ms at which WM_TIMER becomes available
};

constexpr size_t kPostedLimit = 10000;  // posted messages a queue holds before posts fail

struct ThreadQueue {
  explicit ThreadQueue(DWORD tid);
  ~ThreadQueue();
  void Wake();       // makes wake_fd readable
  void DrainWake();  // clears it before looking at the queue again

  const DWORD tid;
  int wake_fd = -1;
  std::atomic<bool> wake_pending{false};  // set after each Wake: DrainWake reads only then
  std::mutex lock;                        // guards everything below
  std::deque<PostedMessage> posted;
  std::deque<std::shared_ptr<SentMessage>> sent;
  std::vector<Timer> timers;
  bool quit = false;
  int quit_code = 0;
  bool ended = false;  // the thread has ended; posts fail
  // Descriptors the thread's waits watch beside wake_fd (message_source.h).
  static constexpr size_t kMaxSources = 4;
  std::array<MessageSource, kMaxSources> sources{};
  size_t source_count = 0;
  // Thread-only state (no lock needed): messages being processed for senders.
  std::vector<std::shared_ptr<SentMessage>> in_send;
  DWORD message_time = 0;
  DWORD message_pos = 0;
  pid_t message_sender = 0;
  // An epoll set of wake_fd and the sources, for waits without display input
  // (one call per wait instead of a poll set built each time).
  int wait_set = -1;
  size_t sources_in_set = 0;
};

// The calling thread's queue (made on first use).
std::shared_ptr<ThreadQueue> CurrentQueue();
// The queue of a thread of this process, or null when it has none.
std::shared_ptr<ThreadQueue> QueueOfThread(DWORD tid);
// Runs the messages other threads sent to the calling thread.
void ProcessSentMessages(ThreadQueue &queue);
// Posts into a queue; false with the last error set when it cannot take it.
bool PostToQueue(ThreadQueue &queue, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, pid_t sender);
// Drops timers and posted messages of a window being destroyed.
void ForgetWindowMessages(HWND hwnd, DWORD tid);
// Removes a window without messages (its thread has ended).
void DropWindowRecord(HWND hwnd);
// Sends to a window of another thread of this process; false (last error
// set) on time-out or when that thread has ended.
bool SendAcrossThreads(DWORD tid, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, DWORD timeout_ms, LRESULT *result,
                       bool notify);
// Calls a window procedure (ANSI only: a direct call).
LRESULT CallProc(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
// True when some window of the thread has a non-empty update region;
// hwnd_filter limits it to that window and its descendants.
bool FindPaintWindow(DWORD tid, HWND hwnd_filter, HWND &out);

// ---- machine-wide registry of windows ------------------------------------------

struct RemoteWindow {
  pid_t pid = 0;
  DWORD tid = 0;
  bool top_level = false, message_only = false;
  std::string class_name, title;
};

// Picks a fresh machine-wide value and records the window; NULL when none can be made.
HWND RegisterWindowValue(const Window &w);
// Rewrites the record (title changed, parent changed).
void UpdateWindowRecord(const Window &w);
void UnregisterWindowValue(HWND hwnd);
// Reads a window of another process; false when none lives under the value
// (stale records of ended processes are removed on the way).
bool LookupRemoteWindow(HWND hwnd, RemoteWindow &out);
// Every live window record of other processes (top-level and children).
std::vector<std::pair<HWND, RemoteWindow>> RemoteWindows();
// Sends a scalar message to a window of another process.
bool PostRemote(HWND hwnd, const RemoteWindow &w, UINT msg, WPARAM wparam, LPARAM lparam);
// Starts this process's message endpoint (idempotent).
void EnsureMessageEndpoint();

// Activation across processes (activation.cpp). The request travels as this
// message from the endpoint's thread to the window's thread, which runs it
// instead of passing it to the window procedure.
constexpr UINT kActivationRequest = 0x03FE;
// Asks the process owning hwnd to activate it (and give it the focus); false
// when hwnd is not a live window of another process or the request failed.
bool RequestRemoteActivation(HWND hwnd, bool give_focus);
// The endpoint's thread hands a received request to the window's thread.
void DeliverActivationRequest(HWND hwnd, WPARAM flags);
// Runs on the window's thread.
LRESULT RunActivationRequest(HWND hwnd, WPARAM flags);

}  // namespace qx
