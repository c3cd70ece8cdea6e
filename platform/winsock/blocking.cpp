// Blocking calls and the Winsock blocking hook. A thread without a hook
// blocks in the kernel, as Win32's Winsock does. Once a hook is installed
// (the default hook that WSASetBlockingHook hands back pumps window
// messages), a blocking call polls its socket and runs the hook between
// polls; WSACancelBlockingCall, called from inside the hook, ends the call
// with WSAEINTR.
#include "ws_internal.h"

#include <cerrno>
#include <poll.h>

namespace qx::ws {
namespace {

constexpr int kPollSliceMs = 10;          // how long the socket is watched between hook runs
constexpr int kMaxHookRunsPerSlice = 64;  // a hook that always finds work still lets the call progress

struct BlockingState {
  FARPROC hook = nullptr;
  bool blocking = false;
  bool cancelled = false;
};

BlockingState &State() {
  thread_local BlockingState state;
  return state;
}

}  // namespace

// The default hook: dispatch one pending window message; TRUE when there was one.
INT_PTR WINAPI DefaultBlockingHook() {
  MSG msg;
  if (!PeekMessageA || !TranslateMessage || !DispatchMessageA) return FALSE;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return FALSE;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return TRUE;
}

bool HookInstalled() { return State().hook != nullptr; }

BlockingScope::BlockingScope() {
  BlockingState &st = State();
  ok_ = !st.blocking;
  if (!ok_) {
    Fail(kWSAEINPROGRESS);
    return;
  }
  st.blocking = true;
  st.cancelled = false;
}

BlockingScope::~BlockingScope() {
  if (!ok_) return;
  BlockingState &st = State();
  st.blocking = false;
  st.cancelled = false;
}

int HookedWait(int fd, short events) {
  BlockingState &st = State();
  for (;;) {
    if (st.cancelled) return Fail(kWSAEINTR);
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, 0);
    if (r > 0) return 0;
    for (int i = 0; i < kMaxHookRunsPerSlice && st.hook && !st.cancelled; ++i)
      if (!st.hook()) break;
    if (st.cancelled) return Fail(kWSAEINTR);
    p.revents = 0;
    if (::poll(&p, 1, kPollSliceMs) > 0) return 0;
  }
}

}  // namespace qx::ws

using namespace qx::ws;

extern "C" {

WINBASEAPI BOOL WINAPI WSAIsBlocking(void) { return State().blocking ? TRUE : FALSE; }

WINBASEAPI FARPROC WINAPI WSASetBlockingHook(FARPROC hook) {
  if (!CheckStarted()) return nullptr;
  BlockingState &st = State();
  if (st.blocking) {
    Fail(kWSAEINPROGRESS);
    return nullptr;
  }
  if (!hook) {
    Fail(kWSAEFAULT);
    return nullptr;
  }
  FARPROC previous = st.hook ? st.hook : reinterpret_cast<FARPROC>(&DefaultBlockingHook);
  st.hook = hook;
  return previous;
}

WINBASEAPI int WINAPI WSAUnhookBlockingHook(void) {
  if (!CheckStarted()) return kSocketError;
  BlockingState &st = State();
  if (st.blocking) return Fail(kWSAEINPROGRESS);
  st.hook = nullptr;
  return 0;
}

WINBASEAPI int WINAPI WSACancelBlockingCall(void) {
  if (!CheckStarted()) return kSocketError;
  BlockingState &st = State();
  if (!st.blocking) return Fail(kWSAEINVAL);
  st.cancelled = true;
  return 0;
}

}  // extern "C"
