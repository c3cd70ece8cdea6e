// Descriptors that a thread's message waits watch beside its queue. Another
// part of the layer (asynchronous socket events, messages from other
// processes) attaches one to a thread; whenever a wait of that thread
// (GetMessage, PeekMessage, WaitMessage, MsgWaitForMultipleObjects) finds it
// readable, the pump runs on that thread and posts what it finds. The event
// thus wakes the thread that handles it, with no thread in between.
#pragma once

#include <windows.h>

namespace qx {

struct MessageSource {
  int fd = -1;
  // Runs on the queue's thread, without locks of the queue held; must not block.
  void (*pump)(int fd) = nullptr;
  // Runs when the thread's queue ends with the source still attached, on the
  // ending thread; the owner takes the descriptor back.
  void (*ended)(int fd) = nullptr;
};

// Attaches a source to the queue of thread tid of this process and wakes the
// thread so its current wait watches it too. False when that thread has no
// message queue (or already has as many sources as a queue takes).
bool AttachMessageSource(DWORD tid, const MessageSource &source);

}  // namespace qx
