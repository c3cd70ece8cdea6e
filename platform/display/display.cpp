// Windows on the display: the display hooks of the window manager, the
// per-window display state, and the driver, started when the first visible
// top-level window needs it. The rest of the part is split by topic:
// nonclient.cpp (frame, caption, metrics), painting.cpp (surfaces, window
// DCs, BeginPaint, ScrollWindow), caret.cpp, scrollbars.cpp (window scroll
// bars), input.cpp (keys and mouse), icons.cpp, msgbox.cpp, automation.cpp
// and the SDL2 driver in sdl_driver.cpp.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "display_internal.h"
#include "keyboard.h"
#include "qx/env.h"
#include "qx/lparam.h"

namespace qx::display {
namespace {

std::mutex g_lock;
std::atomic<Driver *> g_driver{nullptr};
HWND g_active_frame = nullptr;  // last window drawn with the active caption

std::map<HWND, WinData> &Windows() {
  static auto *m = new std::map<HWND, WinData>;
  return *m;
}

}  // namespace

std::mutex &StateLock() { return g_lock; }
WinData &Data(HWND hwnd) { return Windows()[hwnd]; }
HWND &ActiveFrame() { return g_active_frame; }

// Reads where a window is, relative to the screen and to its top-level window.
bool GetGeometry(HWND hwnd, Geometry &g) {
  std::lock_guard guard(WindowLock());
  auto w = FindLocalWindow(hwnd);
  if (!w) return false;
  g.style = w->style;
  g.ex = w->ex_style;
  g.client = w->client;
  g.menu = w->menu && !(w->style & WS_CHILD);
  g.title = w->title;
  g.parent = w->parent;
  g.visible = true;
  POINT in_top{0, 0}, screen{0, 0};
  std::shared_ptr<Window> cur = w;
  while (cur) {
    g.visible = g.visible && (cur->style & WS_VISIBLE);
    if (!cur->parent) {
      g.top = cur->hwnd;
      screen.x += cur->rect.left;
      screen.y += cur->rect.top;
      break;
    }
    in_top.x += cur->rect.left;
    in_top.y += cur->rect.top;
    screen.x += cur->rect.left;
    screen.y += cur->rect.top;
    auto parent = FindLocalWindow(cur->parent);
    if (!parent) return false;
    in_top.x += parent->client.left;
    in_top.y += parent->client.top;
    screen.x += parent->client.left;
    screen.y += parent->client.top;
    cur = parent;
  }
  g.in_top = in_top;
  g.rect =
      RECT{screen.x, screen.y, screen.x + (w->rect.right - w->rect.left), screen.y + (w->rect.bottom - w->rect.top)};
  return true;
}

namespace {

// ---- the hooks ----

class Hooks : public DisplayHooks {
 public:
  void AdjustClient(Window &w) override { AdjustClientArea(w); }

  bool HasScreen() override { return std::strcmp(TheDriver().Name(), "headless") != 0; }

  // A child (a control) or a top-level window with a menu bar draws text
  // soon: the font configuration is read meanwhile. A hidden top-level window
  // without one (a daemon's) starts it only when shown.
  void Created(HWND hwnd) override {
    if ((GetWindowLongA(hwnd, GWL_STYLE) & WS_CHILD) || GetMenu(hwnd) || GetClassLongPtrA(hwnd, GCL_MENUNAME))
      gdi::StartFontSetup();
  }

  void Destroyed(HWND hwnd) override {
    CaretWindowDestroyed(hwnd);
    bool top;
    {
      std::lock_guard guard(StateLock());
      auto it = Windows().find(hwnd);
      top = it != Windows().end() && it->second.surface;
      if (it != Windows().end()) Windows().erase(it);
      if (ActiveFrame() == hwnd) ActiveFrame() = nullptr;
    }
    if (Driver *d = StartedDriver(); top && d) d->Destroyed(hwnd);
  }

  void Shown(HWND hwnd, int state) override {
    Geometry g;
    if (!GetGeometry(hwnd, g)) return;
    if (!g.parent && (g.style & WS_MAXIMIZE) && !maximizing_) {
      Maximize(hwnd, g);
      if (!GetGeometry(hwnd, g)) return;
    }
    if (g.style & WS_VISIBLE) gdi::StartFontSetup();
    if (!g.parent) {
      const bool visible = (g.style & WS_VISIBLE) && !(g.style & WS_MINIMIZE);
      if (visible) TheDriver();  // a visible window is the first need of a display
      SurfaceOfTop(hwnd);
      if (visible) {
        RedrawAll(hwnd);
      }
      if (Driver *d = StartedDriver()) {
        d->Shown(hwnd, (g.style & WS_VISIBLE) != 0, state, g.rect, g.title);
        HICON icon = reinterpret_cast<HICON>(GetClassLongPtrA(hwnd, GCLP_HICON));
        std::vector<std::uint32_t> argb;
        int size = 0;
        if (IconPixels(icon ? icon : LoadIconA(nullptr, IDI_APPLICATION), argb, size)) d->Iconified(hwnd, argb, size);
      }
      if (visible) Present(hwnd);
    } else if (g.parent) {
      InvalidateRect(g.parent, nullptr, TRUE);
      if (g.style & WS_VISIBLE) RedrawAll(hwnd);
    }
  }

  void Moved(HWND hwnd) override {
    Geometry g;
    if (!GetGeometry(hwnd, g)) return;
    if (!g.parent) {
      SurfaceOfTop(hwnd);
      RedrawAll(hwnd);
      if (Driver *d = StartedDriver()) d->Moved(hwnd, g.rect);
      Present(hwnd);
    } else {
      InvalidateRect(g.parent, nullptr, TRUE);
      RedrawAll(hwnd);
    }
  }

  void TextChanged(HWND hwnd) override {
    Geometry g;
    if (!GetGeometry(hwnd, g)) return;
    PaintFrame(hwnd);
    if (Driver *d = StartedDriver(); d && !g.parent) d->Titled(hwnd, g.title);
    Present(hwnd);
  }

  bool TranslateKey(const MSG &msg) override {
    const auto chars = input::CharsFor(msg);
    for (const auto &c : chars) PostMessageA(msg.hwnd, c.message, c.wparam, c.lparam);
    return !chars.empty();
  }

  bool DefWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT &result) override {
    switch (msg) {
      case WM_PAINT: {
        // A window that does not paint itself still has its background
        // erased (WM_ERASEBKGND from BeginPaint), as a dialog's face is.
        PAINTSTRUCT ps;
        if (BeginPaint(hwnd, &ps)) EndPaint(hwnd, &ps);
        return (result = 0), true;
      }
      case WM_ERASEBKGND: {
        HBRUSH brush = reinterpret_cast<HBRUSH>(GetClassLongPtrA(hwnd, GCLP_HBRBACKGROUND));
        if (!brush) return (result = 0), true;
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(reinterpret_cast<HDC>(wp), &r, brush);
        return (result = 1), true;
      }
      case WM_NCPAINT:
        PaintFrame(hwnd);
        Present(hwnd);
        return (result = 0), true;
      case WM_NCACTIVATE: {
        std::lock_guard guard(StateLock());
        if (wp)
          ActiveFrame() = hwnd;
        else if (ActiveFrame() == hwnd)
          ActiveFrame() = nullptr;
      }
        PaintFrame(hwnd);
        Present(hwnd);
        return (result = TRUE), true;
      case WM_ACTIVATE:
        // An activated window without a focused child takes the focus itself.
        {
          std::lock_guard guard(StateLock());
          if (LOWORD(wp) != WA_INACTIVE)
            ActiveFrame() = hwnd;
          else if (ActiveFrame() == hwnd)
            ActiveFrame() = nullptr;
        }
        RedrawFrame(hwnd);
        if (LOWORD(wp) != WA_INACTIVE && !IsIconic(hwnd)) {
          HWND f = GetFocus();
          if (!f || (f != hwnd && !IsChild(hwnd, f))) SetFocus(hwnd);
        }
        return (result = 0), true;
      case WM_SETCURSOR:
        // A child asks its parent first: a parent that sets the cursor (or
        // watches which child the mouse is over) answers TRUE and ends it.
        if (GetWindowLongA(hwnd, GWL_STYLE) & WS_CHILD)
          if (HWND parent = GetParent(hwnd); parent && SendMessageA(parent, WM_SETCURSOR, wp, lp))
            return (result = TRUE), true;
        if (LOWORD(lp) == HTCLIENT && reinterpret_cast<HWND>(wp) == hwnd) {
          HCURSOR c = reinterpret_cast<HCURSOR>(GetClassLongPtrA(hwnd, GCLP_HCURSOR));
          SetCursor(c ? c : LoadCursorA(nullptr, IDC_ARROW));
          return (result = TRUE), true;
        }
        if (LOWORD(lp) != HTCLIENT) SetCursor(LoadCursorA(nullptr, IDC_ARROW));
        return (result = FALSE), true;
      case WM_NCHITTEST: {
        result = HitTest(hwnd, PointFromLParam(lp));
        return true;
      }
      case WM_SYSKEYDOWN:
        if (wp == VK_F4 && (lp & (1L << 29))) {  // Alt+F4 closes the top-level window
          HWND top = hwnd;
          while (GetParent(top) && (GetWindowLongA(top, GWL_STYLE) & WS_CHILD)) top = GetParent(top);
          PostMessageA(top, WM_SYSCOMMAND, SC_CLOSE, 0);
          return (result = 0), true;
        }
        return false;
      case WM_CTLCOLORMSGBOX:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORLISTBOX:
      case WM_CTLCOLORBTN:
      case WM_CTLCOLORDLG:
      case WM_CTLCOLORSCROLLBAR:
      case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wp);
        const bool window_colours = msg == WM_CTLCOLOREDIT || msg == WM_CTLCOLORLISTBOX;
        SetTextColor(dc, GetSysColor(window_colours ? COLOR_WINDOWTEXT : COLOR_BTNTEXT));
        SetBkColor(dc, GetSysColor(window_colours ? COLOR_WINDOW : COLOR_BTNFACE));
        result = reinterpret_cast<LRESULT>(GetSysColorBrush(window_colours ? COLOR_WINDOW : COLOR_BTNFACE));
        return true;
      }
      default: return false;
    }
  }

  int MessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) override {
    const char *mode = std::getenv("QX_MSGBOX");
    const bool on_display = (mode && std::strcmp(mode, "display") == 0) ||
                            (DriverStarted() && std::strcmp(TheDriver().Name(), "headless") != 0);
    if (!on_display) return 0;
    return DisplayMessageBox(owner, text, caption, type);
  }

  int InputFd() override { return InputWaitFd(); }

  void PumpInput() override { PumpDisplayInput(); }

  bool DeliverPendingInput() override { return display::DeliverPendingInput(); }

 private:
  // A maximised top-level window fills the screen with its frame outside it,
  // within the limits its procedure gives in WM_GETMINMAXINFO.
  void Maximize(HWND hwnd, const Geometry &g) {
    const int frame = FrameWidth(g.style, g.ex);
    MINMAXINFO mmi{};
    mmi.ptMaxSize = POINT{kScreenW + 2 * frame, kScreenH + 2 * frame};
    mmi.ptMaxPosition = POINT{-frame, -frame};
    mmi.ptMinTrackSize = POINT{GetSystemMetrics(SM_CXMINTRACK), GetSystemMetrics(SM_CYMINTRACK)};
    mmi.ptMaxTrackSize = mmi.ptMaxSize;
    SendMessageA(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
    const LONG w = std::min(mmi.ptMaxSize.x, mmi.ptMaxTrackSize.x), h = std::min(mmi.ptMaxSize.y, mmi.ptMaxTrackSize.y);
    maximizing_ = true;
    SetWindowPos(hwnd, nullptr, mmi.ptMaxPosition.x, mmi.ptMaxPosition.y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    maximizing_ = false;
  }
  bool maximizing_ = false;

  // After a move or show: frame, and the whole client area of the window and its children.
  void RedrawAll(HWND hwnd) {
    PaintFrame(hwnd);
    InvalidateRect(hwnd, nullptr, TRUE);
    std::vector<HWND> kids;
    {
      std::lock_guard guard(WindowLock());
      if (auto w = FindLocalWindow(hwnd)) kids = w->children;
    }
    for (HWND k : kids)
      if (IsWindowVisible(k)) RedrawAll(k);
  }
};

Hooks g_hooks;

struct Installer {
  Installer() { SetDisplayHooks(&g_hooks); }
} g_installer;

class HeadlessDriver : public Driver {
 public:
  const char *Name() const override { return "headless"; }
};

}  // namespace

Driver &TheDriver() {
  static std::once_flag once;
  std::call_once(once, [] {
    EnsureInputFds();
    const char *want = std::getenv("QX_DISPLAY");
    const bool sdl = want ? std::strcmp(want, "sdl") == 0 : (std::getenv("DISPLAY") != nullptr);
    Driver *d = sdl ? MakeSdlDriver() : nullptr;
    if (!d) d = new HeadlessDriver;
    AttachDriverInput(d->InputFd());
    qx::Trace("display: %s driver", d->Name());
    g_driver = d;
    StartAutomation();
  });
  return *g_driver;
}

Driver *StartedDriver() { return g_driver.load(); }
bool DriverStarted() { return g_driver.load() != nullptr; }
const char *DriverName() { return TheDriver().Name(); }

bool DesktopClipboardText(std::string &text) {
  Driver *d = StartedDriver();
  return d && d->ClipboardText(text);
}

void SetDesktopClipboardText(const std::string &text) {
  if (Driver *d = StartedDriver()) d->SetClipboardText(text);
}

}  // namespace qx::display
