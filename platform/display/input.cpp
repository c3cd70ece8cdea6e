// The input path of the display: keys and mouse events from the SDL2 driver
// or from test automation, delivered one at a time on the display thread
// (the next waits until the queue has taken the messages of the one before),
// turned into key and mouse messages for the focus, capture or pointed-at
// window; and the input calls of USER32 (cursor position, keybd_event,
// mouse_event, WindowFromPoint).
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <functional>

#include "display_internal.h"
#include "keyboard.h"

namespace qx::display {
namespace {

int g_input_epoll = -1;
int g_inject_fd = -1;
std::mutex g_input_lock;
struct Injected {
  std::function<void()> work;
  bool input;  // a key or mouse event: waits until the queue has been read
};
std::deque<Injected> g_injected;
DWORD g_display_thread = 0;

struct ClickMemory {
  HWND hwnd = nullptr;
  int button = 0;
  DWORD time = 0;
  POINT at{0, 0};
};
ClickMemory g_last_click;
POINT g_cursor{0, 0};
int g_buttons = 0;  // MK_ bits of buttons held

WPARAM MouseKeys() {
  WPARAM k = static_cast<WPARAM>(g_buttons);
  if (GetKeyState(VK_SHIFT) < 0) k |= MK_SHIFT;
  if (GetKeyState(VK_CONTROL) < 0) k |= MK_CONTROL;
  return k;
}

void Post(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) { PostMessageA(hwnd, msg, wp, lp); }

bool OnWindowThread(HWND hwnd) { return GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId(); }

// A press anywhere in a document window of an MDI frame makes it the frame's
// active document window (WM_CHILDACTIVATE to the nearest one around the point).
void ActivateDocumentWindow(HWND target) {
  for (HWND w = target; w && (GetWindowLongA(w, GWL_STYLE) & WS_CHILD); w = GetParent(w)) {
    if (!(GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_MDICHILD)) continue;
    if (OnWindowThread(w)) SendMessageA(w, WM_CHILDACTIVATE, 0, 0);
    return;
  }
}

void MouseEvent(POINT screen, int button, bool down, bool move_only) {
  g_cursor = screen;
  HWND target = GetCapture();
  int hit = HTCLIENT;
  if (!target) {
    target = WindowAt(screen);
    if (!target) return;
    hit = HitTest(target, screen);
  }
  if (!IsWindowEnabled(target)) {
    if (down && !move_only) MessageBeep(0);
    return;
  }
  const int bit = button == 1 ? MK_LBUTTON : button == 2 ? MK_RBUTTON : button == 3 ? MK_MBUTTON : 0;
  if (!move_only) g_buttons = down ? (g_buttons | bit) : (g_buttons & ~bit);
  if (OnWindowThread(target)) {
    const UINT which = move_only     ? WM_MOUSEMOVE
                       : button == 1 ? (down ? WM_LBUTTONDOWN : WM_LBUTTONUP)
                       : button == 2 ? (down ? WM_RBUTTONDOWN : WM_RBUTTONUP)
                                     : (down ? WM_MBUTTONDOWN : WM_MBUTTONUP);
    SendMessageA(target, WM_SETCURSOR, reinterpret_cast<WPARAM>(target), MAKELPARAM(hit, which));
  }
  if (down && !move_only) ActivateDocumentWindow(target);
  if (hit != HTCLIENT) {
    if (!down || move_only || button != 1) return;
    HWND top = target;
    while (GetParent(top) && (GetWindowLongA(top, GWL_STYLE) & WS_CHILD)) top = GetParent(top);
    // The caption's buttons act on the window whose caption it is: the
    // top-level window, or a document window inside it.
    switch (hit) {
      case HTCLOSE: Post(target, WM_SYSCOMMAND, SC_CLOSE, MAKELPARAM(screen.x, screen.y)); break;
      case HTMINBUTTON: Post(target, WM_SYSCOMMAND, SC_MINIMIZE, MAKELPARAM(screen.x, screen.y)); break;
      case HTMAXBUTTON:
        Post(target, WM_SYSCOMMAND, IsZoomed(target) ? SC_RESTORE : SC_MAXIMIZE, MAKELPARAM(screen.x, screen.y));
        break;
      case HTMENU:
        Post(top, WM_NCLBUTTONDOWN, HTMENU, MAKELPARAM(screen.x, screen.y));
        break;  // the menu loop takes it
      case HTVSCROLL:
      case HTHSCROLL: {
        int pos = 0;
        const int code = ScrollCode(target, hit == HTVSCROLL, screen, pos);
        if (code < 0) break;
        const UINT msg = hit == HTVSCROLL ? WM_VSCROLL : WM_HSCROLL;
        Post(target, msg, MAKEWPARAM(code, pos), 0);
        Post(target, msg, SB_ENDSCROLL, 0);
        break;
      }
      default:
        if (OnWindowThread(top)) SetActiveWindow(top);
        break;
    }
    return;
  }
  Geometry g;
  GetGeometry(target, g);
  const POINT c{screen.x - g.rect.left - g.client.left, screen.y - g.rect.top - g.client.top};
  const LPARAM lp = MAKELPARAM(c.x, c.y);
  if (move_only) {
    Post(target, WM_MOUSEMOVE, MouseKeys(), lp);
    return;
  }
  if (down) {
    HWND top = target;
    while (GetParent(top) && (GetWindowLongA(top, GWL_STYLE) & WS_CHILD)) top = GetParent(top);
    if (GetActiveWindow() != top && OnWindowThread(top)) SetActiveWindow(top);
  }
  UINT msg;
  const DWORD now = GetTickCount();
  if (down) {
    const bool dbl_class = GetClassLongA(target, GCL_STYLE) & CS_DBLCLKS;
    const bool again = g_last_click.hwnd == target && g_last_click.button == button &&
                       now - g_last_click.time <= GetDoubleClickTime() && std::abs(g_last_click.at.x - screen.x) <= 2 &&
                       std::abs(g_last_click.at.y - screen.y) <= 2;
    if (again && dbl_class) {
      msg = button == 1 ? WM_LBUTTONDBLCLK : button == 2 ? WM_RBUTTONDBLCLK : WM_MBUTTONDBLCLK;
      g_last_click = ClickMemory{};
    } else {
      msg = button == 1 ? WM_LBUTTONDOWN : button == 2 ? WM_RBUTTONDOWN : WM_MBUTTONDOWN;
      g_last_click = ClickMemory{target, button, now, screen};
    }
  } else {
    msg = button == 1 ? WM_LBUTTONUP : button == 2 ? WM_RBUTTONUP : WM_MBUTTONUP;
  }
  Post(target, msg, MouseKeys(), lp);
}

void KeyEvent(BYTE scan, bool extended, bool down) {
  const input::KeyMessage m = input::PhysicalKey(scan, extended, down);
  if (!m.message) return;
  HWND target = GetFocus();
  if (!target) target = GetActiveWindow();
  if (!target) {
    // No focus in this process yet: the visible top-level window made last.
    for (auto &w : LocalWindows())
      if (!w->parent && (w->style & WS_VISIBLE) && !w->message_only) target = w->hwnd;
  }
  if (target) Post(target, m.message, m.wparam, m.lparam);
}

void Inject(std::function<void()> f, bool input = true) {
  {
    std::lock_guard guard(g_input_lock);
    g_injected.push_back(Injected{std::move(f), input});
  }
  if (g_inject_fd >= 0) {
    const uint64_t one = 1;
    (void)!write(g_inject_fd, &one, sizeof one);
  }
}

// One input event per call: a key message must be taken from the queue (and
// translated with the key state of its moment) before the next key changes
// that state, as Windows keeps key state in step with message retrieval.
bool RunInjected() {
  std::function<void()> one;
  bool more;
  {
    std::lock_guard guard(g_input_lock);
    if (g_injected.empty()) return false;
    // The next event waits while messages of earlier ones are still queued.
    if (g_injected.front().input &&
        (GetQueueStatus(QS_POSTMESSAGE | QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON) & 0xFFFF)) {
      more = true;
    } else {
      one = std::move(g_injected.front().work);
      g_injected.pop_front();
      more = !g_injected.empty();
    }
  }
  if (more && g_inject_fd >= 0) {
    const uint64_t n = 1;
    (void)!write(g_inject_fd, &n, sizeof n);
  }
  if (!one) return false;
  one();
  return true;
}

}  // namespace

bool EnsureInputFds() {
  std::lock_guard guard(g_input_lock);
  if (g_input_epoll >= 0) return true;
  g_inject_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  g_input_epoll = epoll_create1(EPOLL_CLOEXEC);
  if (g_inject_fd < 0 || g_input_epoll < 0) return false;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = g_inject_fd;
  epoll_ctl(g_input_epoll, EPOLL_CTL_ADD, g_inject_fd, &ev);
  return true;
}

int InputWaitFd() {
  if (!StartedDriver() && g_input_epoll < 0) return -1;
  // Only the thread that runs the display reads its events.
  if (g_display_thread && g_display_thread != GetCurrentThreadId()) return -1;
  return g_input_epoll;
}

bool DeliverPendingInput() { return InputWaitFd() >= 0 && RunInjected(); }

void PumpDisplayInput() {
  if (g_inject_fd >= 0) {
    uint64_t n;
    (void)!read(g_inject_fd, &n, sizeof n);
  }
  RunInjected();
  if (Driver *d = StartedDriver()) d->PumpInput();
}

void AttachDriverInput(int fd) {
  if (fd >= 0) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    epoll_ctl(g_input_epoll, EPOLL_CTL_ADD, fd, &ev);
  }
  g_display_thread = GetCurrentThreadId();
}

bool InputPending() {
  std::lock_guard guard(g_input_lock);
  return !g_injected.empty();
}

void InjectKey(BYTE scan, bool extended, bool down) {
  EnsureInputFds();
  Inject([=] { KeyEvent(scan, extended, down); });
}

void TypeText(const std::string &text) {
  for (unsigned char c : text) {
    if (c == '\n') c = '\r';
    BYTE scan;
    bool ext;
    int shift;
    if (!input::KeyForChar(c, scan, ext, shift)) continue;
    if (shift & 2) InjectKey(0x1D, false, true);
    if (shift & 1) InjectKey(0x2A, false, true);
    InjectKey(scan, ext, true);
    InjectKey(scan, ext, false);
    if (shift & 1) InjectKey(0x2A, false, false);
    if (shift & 2) InjectKey(0x1D, false, false);
  }
}

void RunOnDisplayThread(std::function<void()> work) {
  EnsureInputFds();
  Inject(std::move(work), false);
}

void InjectMouseMove(POINT screen) {
  EnsureInputFds();
  Inject([=] { MouseEvent(screen, 0, false, true); });
}

void InjectMouseButton(POINT screen, int button, bool down) {
  EnsureInputFds();
  Inject([=] { MouseEvent(screen, button, down, false); });
}

POINT ClientToScreenPoint(HWND hwnd, POINT client) {
  Geometry g;
  if (!GetGeometry(hwnd, g)) return client;
  return POINT{g.rect.left + g.client.left + client.x, g.rect.top + g.client.top + client.y};
}

HWND WindowAt(POINT screen) {
  std::vector<HWND> tops;
  for (auto &w : LocalWindows())
    if (!w->parent && !w->message_only) tops.push_back(w->hwnd);
  // Front-most first: GetTopWindow/GW_HWNDNEXT give the z-order of top-level windows.
  HWND found = nullptr;
  for (HWND h = GetTopWindow(nullptr); h && !found; h = GetWindow(h, GW_HWNDNEXT)) {
    if (std::find(tops.begin(), tops.end(), h) == tops.end()) continue;
    Geometry g;
    if (!GetGeometry(h, g) || !g.visible || (g.style & WS_MINIMIZE)) continue;
    if (screen.x >= g.rect.left && screen.x < g.rect.right && screen.y >= g.rect.top && screen.y < g.rect.bottom)
      found = h;
  }
  if (!found) return nullptr;
  // Then down through the children that contain the point.
  for (bool deeper = true; deeper;) {
    deeper = false;
    std::vector<HWND> kids;
    {
      std::lock_guard guard(WindowLock());
      if (auto w = FindLocalWindow(found)) kids = w->children;
    }
    for (HWND k : kids) {
      Geometry g;
      if (!GetGeometry(k, g) || !g.visible) continue;
      if (screen.x >= g.rect.left && screen.x < g.rect.right && screen.y >= g.rect.top && screen.y < g.rect.bottom) {
        found = k;
        deeper = true;
        break;
      }
    }
  }
  return found;
}

}  // namespace qx::display

using namespace qx::display;

extern "C" {

HWND WINAPI WindowFromPoint(POINT p) { return WindowAt(p); }

HWND WINAPI ChildWindowFromPoint(HWND parent, POINT p) {
  POINT s = p;
  ClientToScreen(parent, &s);
  std::vector<HWND> kids;
  {
    std::lock_guard guard(qx::WindowLock());
    if (auto w = qx::FindLocalWindow(parent)) kids = w->children;
  }
  for (HWND k : kids) {
    RECT r;
    GetWindowRect(k, &r);
    if (s.x >= r.left && s.x < r.right && s.y >= r.top && s.y < r.bottom) return k;
  }
  RECT c;
  GetClientRect(parent, &c);
  return (p.x >= c.left && p.x < c.right && p.y >= c.top && p.y < c.bottom) ? parent : nullptr;
}

UINT WINAPI GetDoubleClickTime(void) { return 500; }

BOOL WINAPI GetCursorPos(LPPOINT p) {
  if (!p) return FALSE;
  *p = g_cursor;
  return TRUE;
}

BOOL WINAPI SetCursorPos(int x, int y) {
  InjectMouseMove(POINT{x, y});
  return TRUE;
}

int WINAPI ShowCursor(BOOL show) {
  static int count = 0;
  return show ? ++count : --count;
}

void WINAPI keybd_event(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR) {
  if (!scan) scan = static_cast<BYTE>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
  InjectKey(scan, (flags & KEYEVENTF_EXTENDEDKEY) != 0, !(flags & KEYEVENTF_KEYUP));
}

void WINAPI mouse_event(DWORD flags, DWORD dx, DWORD dy, DWORD, ULONG_PTR) {
  POINT p = g_cursor;
  if (flags & 0x8000)
    p = POINT{static_cast<LONG>(dx * kScreenW / 65536), static_cast<LONG>(dy * kScreenH / 65536)};
  else if (flags & 0x0001)
    p = POINT{p.x + static_cast<LONG>(dx), p.y + static_cast<LONG>(dy)};
  if (flags & 0x0001) InjectMouseMove(p);
  if (flags & 0x0002) InjectMouseButton(p, 1, true);
  if (flags & 0x0004) InjectMouseButton(p, 1, false);
  if (flags & 0x0008) InjectMouseButton(p, 2, true);
  if (flags & 0x0010) InjectMouseButton(p, 2, false);
  if (flags & 0x0020) InjectMouseButton(p, 3, true);
  if (flags & 0x0040) InjectMouseButton(p, 3, false);
}

}  // extern "C"
