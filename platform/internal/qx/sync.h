// Kernel objects of the layer (events, mutexes, semaphores, threads) and the
// generic wait over any objects of the handle table plus extra descriptors.
#pragma once

#include "qx/handles.h"

#include <string>
#include <vector>

namespace qx {

// A waitable object whose successful TryAcquire can be taken back. Wait-all
// acquires its objects one by one and gives them back when one of them was
// taken by someone else in between; objects that stay signalled once
// signalled (threads, processes) need no undo and need not derive from this.
class UndoableObject : public KernelObject {
 public:
  using KernelObject::KernelObject;
  virtual void UndoAcquire() = 0;
};

// Result of WaitObjects beyond the WAIT_* codes: one of the extra descriptors
// became readable (WAIT_OBJECT_0 + objects.size() is returned for it).
struct WaitRequest {
  std::vector<ObjectRef> objects;
  bool wait_all = false;
  DWORD timeout_ms = INFINITE;
  std::vector<int> extra_fds;  // e.g. a thread's message queue; any readable ends the wait
};

// Waits as WaitForMultipleObjects does; returns WAIT_OBJECT_0 + i,
// WAIT_ABANDONED_0 + i, WAIT_TIMEOUT, WAIT_OBJECT_0 + objects.size() when
// one of extra_fds became readable, or WAIT_FAILED (last error set).
DWORD WaitObjects(const WaitRequest &request);

// Resolves handles for a wait; false (last error ERROR_INVALID_HANDLE) when a
// handle is unknown or names an object that cannot be waited on.
bool ResolveWaitHandles(DWORD count, const HANDLE *handles, std::vector<ObjectRef> &out);

// Milliseconds on the monotonic clock, 64 bits (GetTickCount is its low half).
ULONGLONG MonotonicMs();

// Called on the thread that is ending (CreateThread threads, ExitThread, and any
// other thread through its thread-local destructor): mutexes it owns become
// abandoned.
void AbandonMutexesOfCurrentThread();

}  // namespace qx
