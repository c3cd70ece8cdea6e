// Shared internals of the controls part: per-control state kept in the
// window's extra bytes, notifications to the parent, colours and fonts, and
// the NT 4 drawing helpers every control uses.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>

#include "qx/lparam.h"

namespace qx::controls {

// Each control class keeps a pointer to its state in the first extra bytes.
constexpr int kStateExtra = sizeof(void *);

// What every control keeps. A control's own state derives from it and lives
// as long as anyone holds a reference: the window holds one from WM_NCCREATE
// to WM_NCDESTROY and each running message handler holds one, so a control
// whose parent destroys it while a notification is out still has its state
// until the handler unwinds. `alive` turns false at WM_NCDESTROY; a handler
// that has sent something to another window checks it before going on.
// References are taken and dropped only on the window's own thread.
struct ControlState {
  HFONT font = nullptr;  // WM_SETFONT's; null draws with the system font
  bool alive = true;
  int refs = 0;
  virtual ~ControlState() = default;
};

// A counted reference to a control's state.
template <class T>
class StateRef {
 public:
  StateRef() = default;
  explicit StateRef(T *s) : s_(s) {
    if (s_) ++s_->refs;
  }
  StateRef(const StateRef &o) : StateRef(o.s_) {}
  StateRef &operator=(const StateRef &o) {
    StateRef copy(o);
    std::swap(s_, copy.s_);
    return *this;
  }
  ~StateRef() {
    if (s_ && --s_->refs == 0) delete s_;
  }
  T *get() const { return s_; }
  T *operator->() const { return s_; }
  T &operator*() const { return *s_; }
  explicit operator bool() const { return s_ != nullptr; }

 private:
  T *s_ = nullptr;
};

// The state of a control of class T, held for the caller; empty for another
// class's window or a control already destroyed.
template <class T>
StateRef<T> StateOf(HWND hwnd) {
  auto *base = reinterpret_cast<ControlState *>(GetWindowLongPtrA(hwnd, 0));
  auto *s = dynamic_cast<T *>(base);
  return StateRef<T>(s && s->alive ? s : nullptr);
}

// The procedure of a control class: the messages every control handles
// alike are answered once here, the rest go to the class's own functions.
template <class T>
struct ControlClass {
  // WM_NCCREATE with the new state attached; its result (null: DefWindowProc's).
  LRESULT (*create)(HWND, const CREATESTRUCTA *, T &) = nullptr;
  // WM_NCDESTROY, before the state is let go.
  void (*destroy)(HWND, T &) = nullptr;
  // WM_PAINT into the wParam DC or the window's own (BeginPaint).
  void (*paint)(HWND, HDC, T &) = nullptr;
  // After WM_SETFONT stored the font, before the redraw it may ask for.
  void (*font_changed)(HWND, T &, BOOL redraw) = nullptr;
  // Every other message.
  LRESULT (*handle)(HWND, UINT, WPARAM, LPARAM, T &) = nullptr;
};

template <class T>
LRESULT RunControl(const ControlClass<T> &c, HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    StateRef<T> s(new T);
    ++s->refs;  // the window's own reference, dropped at WM_NCDESTROY
    SetWindowLongPtrA(h, 0, reinterpret_cast<LONG_PTR>(static_cast<ControlState *>(s.get())));
    return c.create ? c.create(h, reinterpret_cast<const CREATESTRUCTA *>(lp), *s) : DefWindowProcA(h, msg, wp, lp);
  }
  StateRef<T> s = StateOf<T>(h);
  if (!s) return DefWindowProcA(h, msg, wp, lp);
  switch (msg) {
    case WM_NCDESTROY:
      if (c.destroy) c.destroy(h, *s);
      s->alive = false;
      SetWindowLongPtrA(h, 0, 0);
      --s->refs;  // the window's reference; the state goes with the last handler's
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = wp ? reinterpret_cast<HDC>(wp) : BeginPaint(h, &ps);
      if (c.paint) c.paint(h, dc, *s);
      if (!wp) EndPaint(h, &ps);
      return 0;
    }
    case WM_ERASEBKGND: return 1;  // painting fills the whole control
    case WM_ENABLE: InvalidateRect(h, nullptr, FALSE); return 0;
    case WM_SETFONT:
      s->font = reinterpret_cast<HFONT>(wp);
      if (c.font_changed) c.font_changed(h, *s, LOWORD(lp));
      if (LOWORD(lp) && s->alive) InvalidateRect(h, nullptr, FALSE);
      return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(s->font);
    default: return c.handle ? c.handle(h, msg, wp, lp, *s) : DefWindowProcA(h, msg, wp, lp);
  }
}

DWORD StyleOf(HWND hwnd);
// WM_COMMAND to the parent with the control's id and a notification code.
void NotifyParent(HWND hwnd, int code);
// The same for a running control: false when the parent destroyed the
// control meanwhile, and the handler must stop touching it.
bool NotifyParent(HWND hwnd, const ControlState &s, int code);

// Asks the parent for colours (WM_CTLCOLOR*) and sets them on dc; the brush to fill with.
HBRUSH ControlColors(HWND hwnd, HDC dc, UINT msg);
// The font a control draws with (WM_SETFONT's, else the system font).
HFONT FontOr(HFONT font);
// Average character width and height of a font (GetDialogBaseUnits rule).
SIZE FontUnits(HFONT font);
// Draws text with & mnemonics (underlined) unless no_prefix.
void DrawLabel(HDC dc, const std::string &text, RECT r, UINT format);
// The character after '&' in a label (lower case), 0 when none.
char MnemonicOf(const std::string &text);
// NT 4 3-D frames.
void Edge3D(HDC dc, RECT r, bool sunken);
void SunkenField(HDC dc, RECT r);  // the 2-pixel client edge of edit and list boxes
void FillSys(HDC dc, const RECT &r, int color);

// Property naming the combo box a drop-down list belongs to (the list is a popup).
constexpr char kComboOfList[] = "QxComboOfList";

// Registers the standard classes (idempotent); the core asks for it on first use.
void RegisterStandardClasses();

LRESULT CALLBACK ButtonProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK StaticProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK EditProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ListBoxProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ComboBoxProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ScrollBarProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK DialogClassProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK MdiClientProc(HWND, UINT, WPARAM, LPARAM);

// The error CommDlgExtendedError reports (common dialogs of this thread).
extern thread_local DWORD t_error;

// Class name of a window, lower case.
std::string ClassOf(HWND hwnd);

}  // namespace qx::controls
