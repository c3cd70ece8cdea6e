// Activation and focus across processes, and SetMessageQueue.
//
// SetFocus, SetActiveWindow, SetForegroundWindow and BringWindowToTop on a
// window of another process (a terminal's "Switch Session" hot key giving the
// focus to another terminal) send that process an activation request through
// its message endpoint. Its receiving thread hands the request to the thread
// that owns the window as a sent message that nobody waits for, so the owner
// runs it inside its next GetMessage/PeekMessage, whatever loop it is in: the
// window's top-level window is restored when minimised and activated, and the
// window itself gets the focus. The calling process gives up its own
// activation and focus, as it does on a desktop when another program comes
// to the front.
#include <windows.h>

#include "user_internal.h"

namespace qx {

namespace {
constexpr WPARAM kGiveFocus = 1;
}

bool RequestRemoteActivation(HWND hwnd, bool give_focus) {
  RemoteWindow r;
  if (!LookupRemoteWindow(hwnd, r)) return false;
  if (r.message_only) return SetLastError(ERROR_ACCESS_DENIED), false;
  if (!PostRemote(hwnd, r, kActivationRequest, give_focus ? kGiveFocus : 0, 0)) return false;
  // This process steps back: its active window is deactivated and loses the focus.
  SetFocus(nullptr);
  SetActiveWindow(nullptr);
  return true;
}

void DeliverActivationRequest(HWND hwnd, WPARAM flags) {
  auto w = FindLocalWindow(hwnd);
  if (!w) return;
  DWORD tid;
  {
    std::lock_guard guard(WindowLock());
    tid = w->tid;
  }
  LRESULT ignored;
  SendAcrossThreads(tid, hwnd, kActivationRequest, flags, 0, 0, &ignored, true);
}

LRESULT RunActivationRequest(HWND hwnd, WPARAM flags) {
  if (!IsWindow(hwnd)) return 0;
  HWND top = hwnd;
  while (GetWindowLongA(top, GWL_STYLE) & WS_CHILD) {
    HWND parent = GetParent(top);
    if (!parent) break;
    top = parent;
  }
  if (IsIconic(top)) ShowWindow(top, SW_RESTORE);
  SetForegroundWindow(top);
  if ((flags & kGiveFocus) && hwnd != top && IsWindowEnabled(hwnd)) SetFocus(hwnd);
  return 0;
}

}  // namespace qx

extern "C" {

// Queues here have no fixed size to set (they hold up to 10,000 posted
// messages); the call succeeds as it does for any size Windows accepts.
BOOL WINAPI SetMessageQueue(int cMessagesMax) {
  if (cMessagesMax <= 0) return SetLastError(ERROR_INVALID_PARAMETER), FALSE;
  return TRUE;
}

}  // extern "C"
