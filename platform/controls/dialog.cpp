// The dialog manager: dialogs made from templates in dialog units, the
// default dialog procedure, modal loops that disable the owner, the keyboard
// interface of IsDialogMessageA (Tab, arrows in groups, Enter, Esc,
// mnemonics) and the dialog-item helpers.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "controls_internal.h"
#include "qx/resources.h"

namespace qx::controls {
namespace {

struct Dialog {
  DLGPROC proc = nullptr;
  HFONT font = nullptr;
  bool own_font = false;
  SIZE units{8, 16};
  bool modal = false;
  bool ended = false;
  INT_PTR result = 0;
  int def_id = 0;  // 0: none chosen with DM_SETDEFID, look for a BS_DEFPUSHBUTTON
  HWND last_focus = nullptr;
};

// A dialog's state is shared: the map holds it until WM_NCDESTROY and every
// running handler holds it too, so a dialog procedure that destroys its
// dialog (DestroyWindow on IDCANCEL) leaves the handler valid state to finish on.
std::mutex g_lock;
std::map<HWND, std::shared_ptr<Dialog>> &Dialogs() {
  static auto *m = new std::map<HWND, std::shared_ptr<Dialog>>;
  return *m;
}

// The dialog being created on this thread, until its window exists.
thread_local Dialog *t_pending = nullptr;

std::shared_ptr<Dialog> Find(HWND h) {
  std::lock_guard guard(g_lock);
  auto it = Dialogs().find(h);
  return it == Dialogs().end() ? nullptr : it->second;
}

// A control that can take the focus by its own styles (the dialog itself may still be hidden).
bool Usable(HWND h) { return h && (StyleOf(h) & (WS_VISIBLE | WS_DISABLED)) == WS_VISIBLE; }

// Children of a dialog in their order (creation order = tab order).
std::vector<HWND> Children(HWND dlg) {
  std::vector<HWND> out;
  for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) out.push_back(c);
  return out;
}

HWND DirectChild(HWND dlg, HWND h) {
  while (h && GetParent(h) && GetParent(h) != dlg) h = GetParent(h);
  return h && GetParent(h) == dlg ? h : nullptr;
}

UINT DlgCode(HWND h, const MSG *m) {
  return static_cast<UINT>(SendMessageA(h, WM_GETDLGCODE, m ? m->wParam : 0, reinterpret_cast<LPARAM>(m)));
}

int FindDefaultId(HWND dlg, const Dialog &d) {
  if (d.def_id) return d.def_id;
  for (HWND c : Children(dlg))
    if ((StyleOf(c) & BS_TYPEMASK) == BS_DEFPUSHBUTTON && ClassOf(c) == "button") return GetDlgCtrlID(c);
  return 0;
}

bool IsPushButton(HWND h) {
  if (!h || ClassOf(h) != "button") return false;
  const DWORD k = StyleOf(h) & BS_TYPEMASK;
  return k == BS_PUSHBUTTON || k == BS_DEFPUSHBUTTON;
}

// While a push button has the focus it looks like the default button; the
// dialog's own default button looks so again when the focus leaves push buttons.
void ShowDefaultFor(HWND dlg, HWND focus) {
  std::shared_ptr<Dialog> d = Find(dlg);
  const int def_id = d ? FindDefaultId(dlg, *d) : 0;
  if (d && !d->def_id && def_id) d->def_id = def_id;
  HWND want = IsPushButton(focus) ? focus : GetDlgItem(dlg, def_id);
  for (HWND c : Children(dlg)) {
    if (!IsPushButton(c)) continue;
    const bool is_def = (StyleOf(c) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    if (c == want && !is_def) SendMessageA(c, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    if (c != want && is_def) SendMessageA(c, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
  }
}

void FocusControl(HWND dlg, HWND ctl, bool select_all) {
  if (!ctl) return;
  SetFocus(ctl);
  if (select_all && (DlgCode(ctl, nullptr) & DLGC_HASSETSEL)) SendMessageA(ctl, EM_SETSEL, 0, -1);
  ShowDefaultFor(dlg, ctl);
}

void Command(HWND dlg, int id, HWND ctl) {
  SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(ctl));
}

// A mnemonic typed in a dialog: the control whose label has it acts.
bool Mnemonic(HWND dlg, HWND focus, char ch) {
  const char want = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  const std::vector<HWND> kids = Children(dlg);
  if (kids.empty()) return false;
  size_t start = 0;
  HWND top_focus = DirectChild(dlg, focus);
  for (size_t i = 0; i < kids.size(); ++i)
    if (kids[i] == top_focus) start = i + 1;
  for (size_t n = 0; n < kids.size(); ++n) {
    HWND c = kids[(start + n) % kids.size()];
    if (!IsWindowVisible(c)) continue;
    const std::string cls = ClassOf(c);
    if (cls != "button" && cls != "static") continue;
    if (cls == "static" && (StyleOf(c) & SS_NOPREFIX)) continue;
    char text[256] = {};
    GetWindowTextA(c, text, sizeof text);
    if (MnemonicOf(text) != want) continue;
    const DWORD kind = StyleOf(c) & BS_TYPEMASK;
    if (cls == "static" || (cls == "button" && kind == BS_GROUPBOX)) {
      // A label gives the focus to the next control that takes it.
      HWND next = GetNextDlgTabItem(dlg, c, FALSE);
      if (next) FocusControl(dlg, next, true);
      return true;
    }
    if (!IsWindowEnabled(c)) return true;
    if (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON || kind == BS_OWNERDRAW) {
      SendMessageA(c, BM_CLICK, 0, 0);
    } else {
      FocusControl(dlg, c, false);
      SendMessageA(c, BM_CLICK, 0, 0);
    }
    return true;
  }
  return false;
}

// Messages whose dialog-procedure return value is the message's result.
bool ReturnsDirectly(UINT msg) {
  switch (msg) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG: return true;
    default: return false;
  }
}

LRESULT DefaultDialog(HWND h, UINT msg, WPARAM wp, LPARAM lp, Dialog *d) {
  switch (msg) {
    case WM_ERASEBKGND: {
      HDC dc = reinterpret_cast<HDC>(wp);
      RECT r;
      GetClientRect(h, &r);
      LRESULT brush = SendMessageA(h, WM_CTLCOLORDLG, wp, reinterpret_cast<LPARAM>(h));
      FillRect(dc, &r, brush ? reinterpret_cast<HBRUSH>(brush) : GetSysColorBrush(COLOR_BTNFACE));
      return 1;
    }
    case WM_CLOSE: {
      HWND cancel = GetDlgItem(h, IDCANCEL);
      if (!cancel || IsWindowEnabled(cancel))
        PostMessageA(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
      return 0;
    }
    case WM_GETFONT: return d ? reinterpret_cast<LRESULT>(d->font) : 0;
    case DM_GETDEFID: {
      const int id = d ? FindDefaultId(h, *d) : 0;
      return id ? MAKELONG(id, DC_HASDEFID) : 0;
    }
    case DM_SETDEFID:
      if (d) {
        d->def_id = static_cast<int>(wp);
        ShowDefaultFor(h, GetFocus());
      }
      return TRUE;
    case WM_NEXTDLGCTL: {
      HWND target = LOWORD(lp) ? reinterpret_cast<HWND>(wp) : GetNextDlgTabItem(h, GetFocus(), wp != 0);
      FocusControl(h, target, true);
      return 0;
    }
    case WM_SETFOCUS:
      if (d && d->last_focus && IsChild(h, d->last_focus))
        SetFocus(d->last_focus);
      else if (HWND first = GetNextDlgTabItem(h, nullptr, FALSE))
        FocusControl(h, first, true);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wp) == WA_INACTIVE) {
        HWND f = GetFocus();
        if (d && f && IsChild(h, f)) d->last_focus = f;
      } else if (d && d->last_focus && IsChild(h, d->last_focus)) {
        SetFocus(d->last_focus);
      } else if (HWND first = GetNextDlgTabItem(h, nullptr, FALSE)) {
        SetFocus(first);
      }
      return 0;
    default: return DefWindowProcA(h, msg, wp, lp);
  }
}

// ---- creation ----

HFONT TemplateFont(const QX_DIALOG &t) {
  if (!t.fontName) return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc) DeleteDC(dc);
  const int height = -((static_cast<int>(t.pointSize) * (dpi > 0 ? dpi : 96) + 36) / 72);
  return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, t.fontName);
}

RECT ToPixels(SIZE units, int x, int y, int cx, int cy) {
  return RECT{x * units.cx / 4, y * units.cy / 8, (x + cx) * units.cx / 4, (y + cy) * units.cy / 8};
}

HWND TopLevelOf(HWND h) {
  while (h && (StyleOf(h) & WS_CHILD) && GetParent(h)) h = GetParent(h);
  return h;
}

HWND CreateFromTemplate(HINSTANCE inst, const QX_DIALOG *t, HWND owner, DLGPROC proc, LPARAM param, bool modal) {
  if (!t) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Dialog pending;
  pending.proc = proc;
  pending.modal = modal;
  pending.font = TemplateFont(*t);
  pending.own_font = pending.font != nullptr;
  pending.units = FontUnits(pending.font);
  const bool child = (t->style & WS_CHILD) != 0;
  DWORD style = t->style;
  const bool visible = (style & WS_VISIBLE) != 0;
  style &= ~static_cast<DWORD>(WS_VISIBLE);
  DWORD ex = t->exStyle;
  if (style & DS_MODALFRAME) ex |= WS_EX_DLGMODALFRAME;
  HMENU menu = nullptr;
  if (t->menu && !child) menu = LoadMenuA(inst, t->menu);
  RECT r = ToPixels(pending.units, t->x, t->y, t->cx, t->cy);
  RECT frame{0, 0, r.right - r.left, r.bottom - r.top};
  AdjustWindowRectEx(&frame, style, menu != nullptr, ex);
  int x = r.left + frame.left, y = r.top + frame.top;
  const int w = frame.right - frame.left, hgt = frame.bottom - frame.top;
  if (!child) {
    HWND base = owner ? TopLevelOf(owner) : nullptr;
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (base) {
      GetWindowRect(base, &area);
      RECT client;
      GetClientRect(base, &client);
      POINT origin{0, 0};
      ClientToScreen(base, &origin);
      if (!(style & DS_ABSALIGN)) {
        x += origin.x;
        y += origin.y;
      }
    }
    if (style & DS_CENTER) {
      x = area.left + (area.right - area.left - w) / 2;
      y = area.top + (area.bottom - area.top - hgt) / 2;
    }
    x = std::max(0, x);
    y = std::max(0, y);
  }
  LPCSTR cls = t->className ? t->className : "#32770";
  t_pending = &pending;
  HWND dlg = CreateWindowExA(ex, cls, t->caption ? t->caption : "", style, x, y, w, hgt,
                             child ? owner : (owner ? TopLevelOf(owner) : nullptr), menu, inst, nullptr);
  t_pending = nullptr;
  if (!dlg) {
    if (pending.own_font) DeleteObject(pending.font);
    if (menu) DestroyMenu(menu);
    return nullptr;
  }
  std::shared_ptr<Dialog> d = Find(dlg);
  if (!d) {  // a private class that does not use the dialog procedure
    std::lock_guard guard(g_lock);
    d = Dialogs()[dlg] = std::make_shared<Dialog>(pending);
  }
  if (d->font) SendMessageA(dlg, WM_SETFONT, reinterpret_cast<WPARAM>(d->font), FALSE);
  for (UINT i = 0; i < t->itemCount; ++i) {
    const QX_DIALOG_ITEM &it = t->items[i];
    const RECT cr = ToPixels(d->units, it.x, it.y, it.cx, it.cy);
    HWND c = CreateWindowExA(it.exStyle | WS_EX_NOPARENTNOTIFY, it.className, it.text ? it.text : "",
                             it.style | WS_CHILD, cr.left, cr.top, cr.right - cr.left, cr.bottom - cr.top, dlg,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(it.id)), inst, nullptr);
    if (!c) {
      if (style & DS_NOFAILCREATE) continue;
      DestroyWindow(dlg);
      return nullptr;
    }
    if (d->font) SendMessageA(c, WM_SETFONT, reinterpret_cast<WPARAM>(d->font), FALSE);
  }
  ShowDefaultFor(dlg, nullptr);
  HWND first = GetNextDlgTabItem(dlg, nullptr, FALSE);
  const LRESULT want_focus = SendMessageA(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param);
  if (!IsWindow(dlg)) return nullptr;
  if (want_focus && first && IsWindow(first)) FocusControl(dlg, first, true);
  if (visible && !(Find(dlg) && Find(dlg)->ended)) {
    ShowWindow(dlg, SW_SHOWNORMAL);
    UpdateWindow(dlg);
    if (want_focus && first && IsWindow(first)) FocusControl(dlg, first, true);
  }
  return dlg;
}

INT_PTR RunModal(HINSTANCE inst, const QX_DIALOG *t, HWND parent, DLGPROC proc, LPARAM param) {
  HWND owner = parent ? TopLevelOf(parent) : nullptr;
  const bool disabled_owner = owner && IsWindowEnabled(owner);
  // The owner stays disabled while the dialog is up, so its input goes nowhere.
  if (disabled_owner) EnableWindow(owner, FALSE);
  QX_DIALOG visible_template = *t;
  visible_template.style |= WS_VISIBLE;
  HWND dlg = CreateFromTemplate(inst, &visible_template, owner, proc, param, true);
  if (!dlg) {
    if (disabled_owner) EnableWindow(owner, TRUE);
    return -1;
  }
  INT_PTR result = 0;
  for (;;) {
    std::shared_ptr<Dialog> d = Find(dlg);
    if (!d || d->ended) break;
    MSG m;
    const BOOL got = GetMessageA(&m, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(m.wParam));  // the program's own loop sees WM_QUIT too
      break;
    }
    if (!IsDialogMessageA(dlg, &m)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
  }
  if (auto d = Find(dlg)) result = d->result;
  // The owner comes back before the dialog goes, so it gets the activation.
  if (disabled_owner) EnableWindow(owner, TRUE);
  if (owner) SetActiveWindow(owner);
  DestroyWindow(dlg);
  return result;
}

const QX_DIALOG *TemplateByName(HINSTANCE inst, LPCSTR name) {
  return FindDialogResource(reinterpret_cast<HMODULE>(inst), name);
}

}  // namespace

LRESULT CALLBACK DialogClassProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) { return DefDlgProcA(h, msg, wp, lp); }

}  // namespace qx::controls

using namespace qx::controls;

LRESULT WINAPI DefDlgProcA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE && t_pending) {
    std::lock_guard guard(g_lock);
    Dialogs()[h] = std::make_shared<Dialog>(*t_pending);
  }
  std::shared_ptr<Dialog> d = Find(h);  // held while the dialog procedure runs
  if (d && d->proc) {
    SetWindowLongA(h, DWL_MSGRESULT, 0);
    const INT_PTR r = d->proc(h, msg, wp, lp);
    if (r && msg != WM_NCDESTROY) return ReturnsDirectly(msg) ? r : GetWindowLongA(h, DWL_MSGRESULT);
    if (ReturnsDirectly(msg) && msg == WM_INITDIALOG) return r;
  }
  if (msg == WM_NCDESTROY) {
    HFONT font = nullptr;
    {
      std::lock_guard guard(g_lock);
      auto it = Dialogs().find(h);
      if (it != Dialogs().end()) {
        if (it->second->own_font) font = it->second->font;
        Dialogs().erase(it);
      }
    }
    if (font) DeleteObject(font);
    return DefWindowProcA(h, msg, wp, lp);
  }
  return DefaultDialog(h, msg, wp, lp, Find(h).get());
}

HWND WINAPI CreateDialogIndirectParamA(HINSTANCE inst, LPCDLGTEMPLATEA t, HWND parent, DLGPROC proc, LPARAM param) {
  return CreateFromTemplate(inst, t, parent, proc, param, false);
}

HWND WINAPI CreateDialogParamA(HINSTANCE inst, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param) {
  const QX_DIALOG *t = TemplateByName(inst, name);
  return t ? CreateFromTemplate(inst, t, parent, proc, param, false) : nullptr;
}

INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE inst, LPCDLGTEMPLATEA t, HWND parent, DLGPROC proc, LPARAM param) {
  if (!t) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  return RunModal(inst, t, parent, proc, param);
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE inst, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param) {
  const QX_DIALOG *t = TemplateByName(inst, name);
  return t ? RunModal(inst, t, parent, proc, param) : -1;
}

BOOL WINAPI EndDialog(HWND h, INT_PTR result) {
  std::shared_ptr<Dialog> d = Find(h);
  if (!d) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  d->ended = true;
  d->result = result;
  if (d->modal) {
    ShowWindow(h, SW_HIDE);
    PostMessageA(h, WM_NULL, 0, 0);  // wakes the modal loop
  }
  return TRUE;
}

BOOL WINAPI IsDialogMessageA(HWND dlg, LPMSG m) {
  if (!dlg || !m || (m->hwnd != dlg && !IsChild(dlg, m->hwnd))) return FALSE;
  HWND focus = GetFocus();
  auto dispatch = [m] {
    TranslateMessage(m);
    DispatchMessageA(m);
    return TRUE;
  };
  switch (m->message) {
    case WM_KEYDOWN: {
      const UINT code = focus ? DlgCode(focus, m) : 0;
      if (code & DLGC_WANTALLKEYS) return dispatch();
      const bool shift = GetKeyState(VK_SHIFT) < 0;
      switch (m->wParam) {
        case VK_TAB: {
          if (code & DLGC_WANTTAB) return dispatch();
          HWND next = GetNextDlgTabItem(dlg, focus, shift);
          if (next) FocusControl(dlg, next, true);
          return TRUE;
        }
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN: {
          if (code & DLGC_WANTARROWS) return dispatch();
          const bool back = m->wParam == VK_LEFT || m->wParam == VK_UP;
          HWND next = GetNextDlgGroupItem(dlg, focus, back);
          if (next && next != focus) {
            FocusControl(dlg, next, true);
            // Moving onto an automatic radio button checks it.
            if ((DlgCode(next, nullptr) & DLGC_RADIOBUTTON) && (StyleOf(next) & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
              SendMessageA(next, BM_CLICK, 0, 0);
          }
          return TRUE;
        }
        case VK_RETURN: {
          if (focus && (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) && IsWindowEnabled(focus)) {
            Command(dlg, GetDlgCtrlID(focus), focus);
            return TRUE;
          }
          const LRESULT def = SendMessageA(dlg, DM_GETDEFID, 0, 0);
          const int id = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : IDOK;
          HWND button = GetDlgItem(dlg, id);
          if (!button || IsWindowEnabled(button)) Command(dlg, id, button);
          return TRUE;
        }
        case VK_ESCAPE: {
          HWND cancel = GetDlgItem(dlg, IDCANCEL);
          if (!cancel || IsWindowEnabled(cancel)) Command(dlg, IDCANCEL, cancel);
          return TRUE;
        }
        default: return dispatch();
      }
    }
    case WM_CHAR: {
      const UINT code = focus ? DlgCode(focus, m) : 0;
      if (m->wParam == '\t' || m->wParam == '\r' || m->wParam == 27) {
        if (code & DLGC_WANTALLKEYS) return dispatch();
        return TRUE;  // already acted on as a key
      }
      if (code & (DLGC_WANTCHARS | DLGC_WANTALLKEYS)) return dispatch();
      if (!Mnemonic(dlg, focus, static_cast<char>(m->wParam))) MessageBeep(0);
      return TRUE;
    }
    case WM_SYSCHAR:
      if (Mnemonic(dlg, focus, static_cast<char>(m->wParam))) return TRUE;
      return dispatch();
    default: return dispatch();
  }
}

HWND WINAPI GetNextDlgTabItem(HWND dlg, HWND ctl, BOOL previous) {
  std::vector<HWND> kids = Children(dlg);
  if (kids.empty()) return nullptr;
  if (previous) std::reverse(kids.begin(), kids.end());
  ctl = DirectChild(dlg, ctl);
  size_t start = 0;
  for (size_t i = 0; i < kids.size(); ++i)
    if (kids[i] == ctl) start = i + 1;
  for (size_t n = 0; n < kids.size(); ++n) {
    HWND c = kids[(start + n) % kids.size()];
    if ((StyleOf(c) & WS_TABSTOP) && Usable(c)) return c;
  }
  return ctl;
}

HWND WINAPI GetNextDlgGroupItem(HWND dlg, HWND ctl, BOOL previous) {
  const std::vector<HWND> kids = Children(dlg);
  ctl = DirectChild(dlg, ctl);
  if (kids.empty()) return nullptr;
  size_t at = 0;
  for (size_t i = 0; i < kids.size(); ++i)
    if (kids[i] == ctl) at = i;
  // The group: from the nearest WS_GROUP control at or before ctl to before the next one.
  size_t first = at;
  while (first > 0 && !(StyleOf(kids[first]) & WS_GROUP)) --first;
  size_t last = at;
  while (last + 1 < kids.size() && !(StyleOf(kids[last + 1]) & WS_GROUP)) ++last;
  const size_t size = last - first + 1;
  for (size_t n = 1; n <= size; ++n) {
    const size_t off = previous ? (at - first + size - n) % size : (at - first + n) % size;
    HWND c = kids[first + off];
    if (Usable(c)) return c;
  }
  return ctl;
}

BOOL WINAPI SetDlgItemTextA(HWND dlg, int id, LPCSTR text) {
  HWND c = GetDlgItem(dlg, id);
  return c ? SetWindowTextA(c, text) : FALSE;
}

UINT WINAPI GetDlgItemTextA(HWND dlg, int id, LPSTR buf, int max) {
  if (buf && max > 0) buf[0] = '\0';
  HWND c = GetDlgItem(dlg, id);
  return c ? static_cast<UINT>(GetWindowTextA(c, buf, max)) : 0;
}

BOOL WINAPI SetDlgItemInt(HWND dlg, int id, UINT value, BOOL is_signed) {
  char buf[16];
  if (is_signed)
    std::snprintf(buf, sizeof buf, "%d", static_cast<int>(value));
  else
    std::snprintf(buf, sizeof buf, "%u", value);
  return SetDlgItemTextA(dlg, id, buf);
}

UINT WINAPI GetDlgItemInt(HWND dlg, int id, BOOL *translated, BOOL is_signed) {
  if (translated) *translated = FALSE;
  char buf[64] = {};
  if (!GetDlgItem(dlg, id)) return 0;
  GetDlgItemTextA(dlg, id, buf, sizeof buf);
  const char *p = buf;
  while (*p == ' ' || *p == '\t') ++p;
  if (!*p || (*p == '-' && !is_signed)) return 0;
  char *end = nullptr;
  errno = 0;
  const long long v = std::strtoll(p, &end, 10);
  while (end && (*end == ' ' || *end == '\t')) ++end;
  if (end == p || (end && *end) || errno == ERANGE) return 0;
  if (is_signed ? (v < INT_MIN || v > INT_MAX) : (v < 0 || v > static_cast<long long>(UINT_MAX))) return 0;
  if (translated) *translated = TRUE;
  return static_cast<UINT>(v);
}

BOOL WINAPI CheckDlgButton(HWND dlg, int id, UINT check) {
  HWND c = GetDlgItem(dlg, id);
  if (!c) return FALSE;
  SendMessageA(c, BM_SETCHECK, check, 0);
  return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dlg, int id) {
  HWND c = GetDlgItem(dlg, id);
  return c ? static_cast<UINT>(SendMessageA(c, BM_GETCHECK, 0, 0)) : 0;
}

BOOL WINAPI CheckRadioButton(HWND dlg, int first, int last, int check) {
  if (first > last) std::swap(first, last);
  bool any = false;
  for (HWND c : Children(dlg)) {
    const int id = GetDlgCtrlID(c);
    if (id < first || id > last) continue;
    SendMessageA(c, BM_SETCHECK, id == check ? BST_CHECKED : BST_UNCHECKED, 0);
    any = true;
  }
  return any;
}

LONG WINAPI GetDialogBaseUnits(void) {
  const SIZE s = FontUnits(nullptr);
  return MAKELONG(s.cx, s.cy);
}

BOOL WINAPI MapDialogRect(HWND dlg, LPRECT r) {
  std::shared_ptr<Dialog> d = Find(dlg);
  if (!d || !r) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  *r = ToPixels(d->units, r->left, r->top, r->right - r->left, r->bottom - r->top);
  return TRUE;
}
