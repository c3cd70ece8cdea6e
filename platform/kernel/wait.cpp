// WaitForSingleObject / WaitForMultipleObjects / Sleep: poll() over the wait
// descriptors of the objects, then TryAcquire, in a loop until the deadline.
#include <windows.h>

#include "qx/sync.h"

#include <cerrno>
#include <ctime>
#include <mutex>
#include <poll.h>

namespace qx {
namespace {

// Wait-all takes its objects under this lock so that two wait-all calls on
// overlapping sets cannot each hold half of the other's set.
std::mutex g_wait_all_lock;

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

int RemainingMs(DWORD timeout, ULONGLONG start) {
  if (timeout == INFINITE) return -1;
  ULONGLONG elapsed = MonotonicMs() - start;
  return elapsed >= timeout ? 0 : static_cast<int>(timeout - elapsed);
}

DWORD Signalled(const std::vector<ObjectRef> &objects, size_t i) {
  return (objects[i]->Abandoned() ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + static_cast<DWORD>(i);
}

// Takes every object or none. Returns true with all taken.
bool TryAcquireAll(const std::vector<ObjectRef> &objects, bool &abandoned) {
  std::lock_guard guard(g_wait_all_lock);
  size_t taken = 0;
  for (; taken < objects.size(); ++taken)
    if (!objects[taken]->TryAcquire()) break;
  if (taken == objects.size()) {
    abandoned = false;
    for (const auto &o : objects) abandoned = abandoned || o->Abandoned();
    return true;
  }
  while (taken-- > 0)
    if (auto *u = dynamic_cast<UndoableObject *>(objects[taken].get())) u->UndoAcquire();
  return false;
}

}  // namespace

ULONGLONG MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<ULONGLONG>(ts.tv_sec) * 1000u + static_cast<ULONGLONG>(ts.tv_nsec) / 1000000u;
}

bool ResolveWaitHandles(DWORD count, const HANDLE *handles, std::vector<ObjectRef> &out) {
  out.clear();
  for (DWORD i = 0; i < count; ++i) {
    ObjectRef o = LookupHandle(handles[i]);
    if (!o || o->WaitFd() < 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    out.push_back(std::move(o));
  }
  return true;
}

DWORD WaitObjects(const WaitRequest &request) {
  const auto &objects = request.objects;
  const ULONGLONG start = MonotonicMs();
  const DWORD extra_result = WAIT_OBJECT_0 + static_cast<DWORD>(objects.size());
  for (;;) {
    if (request.wait_all && !objects.empty()) {
      bool abandoned = false;
      if (TryAcquireAll(objects, abandoned)) return abandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0;
    } else {
      for (size_t i = 0; i < objects.size(); ++i)
        if (objects[i]->TryAcquire()) return Signalled(objects, i);
    }
    for (int fd : request.extra_fds)
      if (Readable(fd)) return extra_result;

    int remaining = RemainingMs(request.timeout_ms, start);
    if (remaining == 0) return WAIT_TIMEOUT;

    // Wait-any sleeps until any object may be signalled; wait-all until one
    // of those not signalled now may have become so.
    std::vector<pollfd> fds;
    for (const auto &o : objects) {
      int fd = o->WaitFd();
      if (request.wait_all && Readable(fd)) continue;
      fds.push_back({fd, POLLIN, 0});
    }
    for (int fd : request.extra_fds) fds.push_back({fd, POLLIN, 0});
    if (fds.empty()) {
      // Wait-all whose objects are all readable but were taken away between
      // the check and the acquisition: try again shortly.
      poll(nullptr, 0, 1);
      continue;
    }
    int r = poll(fds.data(), fds.size(), remaining);
    if (r < 0 && errno != EINTR) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
}

}  // namespace qx

extern "C" {

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL wait_all, DWORD ms) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  qx::WaitRequest request;
  if (!qx::ResolveWaitHandles(count, handles, request.objects)) return WAIT_FAILED;
  request.wait_all = wait_all != FALSE;
  request.timeout_ms = ms;
  return qx::WaitObjects(request);
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD ms) { return WaitForMultipleObjects(1, &handle, FALSE, ms); }

void WINAPI Sleep(DWORD ms) {
  if (ms == 0) {
    sched_yield();
    return;
  }
  const ULONGLONG start = qx::MonotonicMs();
  for (;;) {
    int remaining = qx::RemainingMs(ms, start);
    if (remaining == 0) return;
    poll(nullptr, 0, remaining);
  }
}

}  // extern "C"
