// The EDIT class: single-line and multi-line text fields. Text is kept as the
// program sees it (lines end in CR LF in a multi-line edit); the view is a
// list of lines, soft-wrapped at the right edge when the edit wraps words.
// One undo level, a text limit, read-only, password, case conversion, the
// clipboard, and the EM_ messages with their EN_ notifications.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "controls_internal.h"
#include "qx/window.h"

namespace qx::controls {
namespace {

constexpr size_t kDefaultLimit = 32767;
constexpr size_t kMaxLimit = 0x7FFFFFFE;

struct Line {
  size_t start, len;  // len excludes the CR LF that ends a hard line
};

struct Edit : ControlState {
  std::string text;
  size_t anchor = 0, caret = 0;  // selection runs between them
  size_t limit = kDefaultLimit;
  bool modified = false;
  bool can_undo = false;
  std::string undo_text;
  size_t undo_anchor = 0, undo_caret = 0;
  char password = 0;
  int first_line = 0;  // multi-line: first visible line
  int xoffset = 0;     // pixels scrolled to the left
  bool focus = false, captured = false;
  RECT format{};  // EM_SETRECT; empty: client area less margins
  std::vector<INT> tabs;
  std::vector<Line> lines;
  int line_height = 16;
};

DWORD Style(HWND h) { return StyleOf(h); }
bool Multi(HWND h) { return (Style(h) & ES_MULTILINE) != 0; }
bool Wraps(HWND h) { return Multi(h) && !(Style(h) & (ES_AUTOHSCROLL | WS_HSCROLL)); }
size_t SelStart(const Edit &e) { return std::min(e.anchor, e.caret); }
size_t SelEnd(const Edit &e) { return std::max(e.anchor, e.caret); }

// A memory DC with the edit's font, for measuring without a window DC.
class MeasureDC {
 public:
  explicit MeasureDC(HFONT font) : dc_(CreateCompatibleDC(nullptr)) {
    old_ = dc_ ? SelectObject(dc_, FontOr(font)) : nullptr;
  }
  ~MeasureDC() {
    if (dc_) {
      SelectObject(dc_, old_);
      DeleteDC(dc_);
    }
  }
  MeasureDC(const MeasureDC &) = delete;
  MeasureDC &operator=(const MeasureDC &) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

int Width(HDC dc, const Edit &e, const char *s, size_t n, bool multi) {
  if (!dc || n == 0) return static_cast<int>(n) * 8;
  if (multi) {
    DWORD ext = GetTabbedTextExtentA(dc, s, static_cast<int>(n), static_cast<int>(e.tabs.size()),
                                     e.tabs.empty() ? nullptr : e.tabs.data());
    return LOWORD(ext);
  }
  SIZE sz{};
  GetTextExtentPoint32A(dc, s, static_cast<int>(n), &sz);
  return sz.cx;
}

RECT FormatRect(HWND h, const Edit &e) {
  if (!IsRectEmpty(&e.format)) return e.format;
  RECT r;
  GetClientRect(h, &r);
  const bool border = (Style(h) & WS_BORDER) != 0;
  InflateRect(&r, border ? -3 : -1, border ? -3 : -1);
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

// What the edit shows for its text: the password character in its place.
std::string Shown(const Edit &e) { return e.password ? std::string(e.text.size(), e.password) : e.text; }

void Relayout(HWND h, Edit &e) {
  e.lines.clear();
  MeasureDC m(e.font);
  SIZE cell{};  // an empty extent is one line's height, the font's tmHeight
  if (m.get() && GetTextExtentPoint32A(m.get(), "", 0, &cell)) e.line_height = std::max<int>(1, cell.cy);
  if (!Multi(h)) {
    e.lines.push_back({0, e.text.size()});
    return;
  }
  const RECT fr = FormatRect(h, e);
  const int width = std::max<int>(1, fr.right - fr.left);
  const bool wrap = Wraps(h);
  size_t pos = 0;
  for (;;) {
    size_t end = e.text.find("\r\n", pos);
    const size_t hard_end = end == std::string::npos ? e.text.size() : end;
    size_t start = pos;
    while (wrap && start < hard_end && Width(m.get(), e, e.text.data() + start, hard_end - start, true) > width) {
      // Breaks after the last space that fits, else at the last character that fits.
      size_t fit = start + 1;
      while (fit < hard_end && Width(m.get(), e, e.text.data() + start, fit + 1 - start, true) <= width) ++fit;
      size_t brk = fit;
      for (size_t i = fit; i > start; --i)
        if (e.text[i - 1] == ' ') {
          brk = i;
          break;
        }
      e.lines.push_back({start, brk - start});
      start = brk;
    }
    e.lines.push_back({start, hard_end - start});
    if (end == std::string::npos) break;
    pos = end + 2;
  }
}

int LineOf(const Edit &e, size_t index) {
  for (size_t i = e.lines.size(); i-- > 0;)
    if (index >= e.lines[i].start) return static_cast<int>(i);
  return 0;
}

int VisibleLines(HWND h, const Edit &e) {
  const RECT fr = FormatRect(h, e);
  return std::max(1, static_cast<int>(fr.bottom - fr.top) / e.line_height);
}

POINT PosOf(HWND h, const Edit &e, size_t index) {
  const RECT fr = FormatRect(h, e);
  MeasureDC m(e.font);
  const int line = LineOf(e, index);
  const Line &l = e.lines[static_cast<size_t>(line)];
  const std::string shown = Shown(e);
  const size_t n = std::min(index, l.start + l.len) - l.start;
  int x = fr.left + Width(m.get(), e, shown.data() + l.start, n, Multi(h)) - e.xoffset;
  if (!Multi(h)) {
    const DWORD align = Style(h) & (ES_CENTER | ES_RIGHT);
    const int full = Width(m.get(), e, shown.data(), shown.size(), false);
    if (align == ES_RIGHT && full < fr.right - fr.left) x += fr.right - fr.left - full;
    if (align == ES_CENTER && full < fr.right - fr.left) x += (fr.right - fr.left - full) / 2;
  }
  return POINT{x, fr.top + (line - e.first_line) * e.line_height};
}

size_t IndexAt(HWND h, const Edit &e, POINT p) {
  const RECT fr = FormatRect(h, e);
  int line = e.first_line + (p.y - fr.top) / std::max(1, e.line_height);
  if (p.y < fr.top) line = e.first_line - 1;
  line = std::clamp(line, 0, static_cast<int>(e.lines.size()) - 1);
  const Line &l = e.lines[static_cast<size_t>(line)];
  size_t best = l.start;
  int best_d = 1 << 30;
  for (size_t i = l.start; i <= l.start + l.len; ++i) {
    const int d = std::abs(PosOf(h, e, i).x - p.x);
    if (d < best_d) {
      best_d = d;
      best = i;
    }
  }
  return best;
}

void UpdateCaret(HWND h, Edit &e) {
  if (!e.focus) return;
  const POINT p = PosOf(h, e, e.caret);
  SetCaretPos(p.x, p.y);
}

// The window's own vertical scroll bar follows the first visible line.
void SyncScrollBar(HWND h, const Edit &e) {
  if (!Multi(h) || !(Style(h) & WS_VSCROLL)) return;
  SCROLLINFO si{sizeof si,
                SIF_RANGE | SIF_PAGE | SIF_POS,
                0,
                std::max(0, static_cast<int>(e.lines.size()) - 1),
                static_cast<UINT>(VisibleLines(h, e)),
                e.first_line,
                0};
  SetScrollInfo(h, SB_VERT, &si, TRUE);
}

// Scrolls so the caret can be seen; notifies EN_HSCROLL/EN_VSCROLL when it moved.
void ScrollToCaret(HWND h, Edit &e) {
  const RECT fr = FormatRect(h, e);
  const int line = LineOf(e, e.caret);
  const int visible = VisibleLines(h, e);
  const int old_first = e.first_line, old_x = e.xoffset;
  if (Multi(h)) {
    if (line < e.first_line) e.first_line = line;
    if (line >= e.first_line + visible) e.first_line = line - visible + 1;
  }
  const bool hscroll = !Multi(h) ? (Style(h) & ES_AUTOHSCROLL) != 0 || true : !Wraps(h);
  if (hscroll) {
    const POINT p = PosOf(h, e, e.caret);
    const int width = fr.right - fr.left;
    if (p.x < fr.left) e.xoffset = std::max(0, e.xoffset - (fr.left - p.x) - width / 4);
    if (p.x >= fr.right) e.xoffset += p.x - fr.right + 1 + width / 4;
  }
  if (e.first_line != old_first && !NotifyParent(h, e, EN_VSCROLL)) return;
  if (e.xoffset != old_x && !NotifyParent(h, e, EN_HSCROLL)) return;
  if (e.first_line != old_first || e.xoffset != old_x) InvalidateRect(h, nullptr, FALSE);
  SyncScrollBar(h, e);
  UpdateCaret(h, e);
}

void SetSel(HWND h, Edit &e, size_t anchor, size_t caret) {
  e.anchor = std::min(anchor, e.text.size());
  e.caret = std::min(caret, e.text.size());
  InvalidateRect(h, nullptr, FALSE);
  ScrollToCaret(h, e);
}

// The window record keeps a copy of the text for readers on other threads
// (and automation); a password stays out of it.
void MirrorText(HWND h, const Edit &e) {
  auto w = FindLocalWindow(h);
  if (!w) return;
  std::lock_guard guard(WindowLock());
  w->title = e.password ? std::string() : e.text;
}

void Changed(HWND h, Edit &e, bool notify) {
  MirrorText(h, e);
  Relayout(h, e);
  e.first_line = std::min(e.first_line, std::max(0, static_cast<int>(e.lines.size()) - 1));
  InvalidateRect(h, nullptr, FALSE);
  ScrollToCaret(h, e);
  if (notify && e.alive && NotifyParent(h, e, EN_UPDATE)) NotifyParent(h, e, EN_CHANGE);
}

// Text as it may enter this edit: case conversion, line breaks as CR LF (a
// single-line edit keeps only the first line).
std::string Filter(HWND h, const std::string &in) {
  const DWORD style = Style(h);
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    char c = in[i];
    if (c == '\r' || c == '\n') {
      if (!Multi(h)) break;
      out += "\r\n";
      if (c == '\r' && i + 1 < in.size() && in[i + 1] == '\n') ++i;
      continue;
    }
    if (style & ES_UPPERCASE) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (style & ES_LOWERCASE) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    out += c;
  }
  return out;
}

// Replaces the selection; false when nothing could change (limit reached).
bool ReplaceSel(HWND h, Edit &e, const std::string &raw, bool undoable, bool notify = true) {
  std::string ins = Filter(h, raw);
  const size_t s = SelStart(e), t = SelEnd(e);
  const size_t room = e.limit > e.text.size() - (t - s) ? e.limit - (e.text.size() - (t - s)) : 0;
  bool truncated = false;
  if (ins.size() > room) {
    ins.resize(room);
    if (!ins.empty() && ins.back() == '\r') ins.pop_back();  // never half a line break
    truncated = true;
  }
  if (truncated && !NotifyParent(h, e, EN_MAXTEXT)) return false;
  if (ins.empty() && s == t) return false;
  if (undoable) {
    e.undo_text = e.text;
    e.undo_anchor = e.anchor;
    e.undo_caret = e.caret;
    e.can_undo = true;
  }
  e.text.replace(s, t - s, ins);
  e.anchor = e.caret = s + ins.size();
  e.modified = true;
  Changed(h, e, notify);
  return !truncated || !ins.empty();
}

// Steps over a CR LF pair as one character.
size_t Prev(const Edit &e, size_t i) {
  if (i == 0) return 0;
  if (i >= 2 && e.text.compare(i - 2, 2, "\r\n") == 0) return i - 2;
  return i - 1;
}
size_t Next(const Edit &e, size_t i) {
  if (i >= e.text.size()) return e.text.size();
  if (e.text.compare(i, 2, "\r\n") == 0) return i + 2;
  return i + 1;
}
bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
size_t WordLeft(const Edit &e, size_t i) {
  while (i > 0 && !IsWordChar(e.text[i - 1])) i = Prev(e, i);
  while (i > 0 && IsWordChar(e.text[i - 1])) --i;
  return i;
}
size_t WordRight(const Edit &e, size_t i) {
  while (i < e.text.size() && IsWordChar(e.text[i])) ++i;
  while (i < e.text.size() && !IsWordChar(e.text[i])) i = Next(e, i);
  return i;
}

// ---- clipboard ----

void CopySel(HWND h, const Edit &e) {
  if (e.password || SelStart(e) == SelEnd(e)) return;
  const std::string sel = e.text.substr(SelStart(e), SelEnd(e) - SelStart(e));
  if (!OpenClipboard(h)) return;
  EmptyClipboard();
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, sel.size() + 1);
  if (char *p = mem ? static_cast<char *>(GlobalLock(mem)) : nullptr) {
    std::memcpy(p, sel.c_str(), sel.size() + 1);
    GlobalUnlock(mem);
    if (!SetClipboardData(CF_TEXT, mem)) GlobalFree(mem);
  }
  CloseClipboard();
}

void Paste(HWND h, Edit &e) {
  if (Style(h) & ES_READONLY) return;
  if (!OpenClipboard(h)) return;
  std::string text;
  if (HANDLE mem = GetClipboardData(CF_TEXT)) {
    const SIZE_T size = GlobalSize(mem);
    if (const char *p = static_cast<const char *>(GlobalLock(mem))) {
      text.assign(p, strnlen(p, size));
      GlobalUnlock(mem);
    }
  }
  CloseClipboard();
  if (!text.empty()) ReplaceSel(h, e, text, true);
}

void ClearSel(HWND h, Edit &e) {
  if ((Style(h) & ES_READONLY) || SelStart(e) == SelEnd(e)) return;
  ReplaceSel(h, e, "", true);
}

void Undo(HWND h, Edit &e) {
  if (!e.can_undo) return;
  std::swap(e.text, e.undo_text);
  const size_t a = e.anchor, c = e.caret;
  e.anchor = std::min(e.undo_anchor, e.text.size());
  e.caret = std::min(e.undo_caret, e.text.size());
  e.undo_anchor = a;
  e.undo_caret = c;
  e.modified = true;
  Changed(h, e, true);
}

// ---- keyboard and mouse ----

void MoveCaret(HWND h, Edit &e, size_t to, bool extend) { SetSel(h, e, extend ? e.anchor : to, to); }

void KeyDown(HWND h, Edit &e, WPARAM key) {
  const bool shift = GetKeyState(VK_SHIFT) < 0, ctrl = GetKeyState(VK_CONTROL) < 0;
  const int line = LineOf(e, e.caret);
  const Line &l = e.lines[static_cast<size_t>(line)];
  switch (key) {
    case VK_LEFT:
      if (!shift && SelStart(e) != SelEnd(e) && !ctrl) return MoveCaret(h, e, SelStart(e), false);
      return MoveCaret(h, e, ctrl ? WordLeft(e, e.caret) : Prev(e, e.caret), shift);
    case VK_RIGHT:
      if (!shift && SelStart(e) != SelEnd(e) && !ctrl) return MoveCaret(h, e, SelEnd(e), false);
      return MoveCaret(h, e, ctrl ? WordRight(e, e.caret) : Next(e, e.caret), shift);
    case VK_HOME: return MoveCaret(h, e, ctrl ? 0 : l.start, shift);
    case VK_END: return MoveCaret(h, e, ctrl ? e.text.size() : l.start + l.len, shift);
    case VK_UP:
    case VK_DOWN:
    case VK_PRIOR:
    case VK_NEXT: {
      if (!Multi(h)) return;
      const int step = (key == VK_PRIOR || key == VK_NEXT) ? VisibleLines(h, e) : 1;
      const int target = std::clamp(line + ((key == VK_UP || key == VK_PRIOR) ? -step : step), 0,
                                    static_cast<int>(e.lines.size()) - 1);
      POINT p = PosOf(h, e, e.caret);
      p.y += (target - line) * e.line_height;
      if (key == VK_PRIOR || key == VK_NEXT) {
        e.first_line = std::clamp(e.first_line + (target - line), 0, std::max(0, static_cast<int>(e.lines.size()) - 1));
        p.y -= (target - line) * e.line_height;
        InvalidateRect(h, nullptr, FALSE);
      }
      return MoveCaret(h, e, IndexAt(h, e, p), shift);
    }
    case VK_DELETE:
      if (Style(h) & ES_READONLY) return;
      if (shift) {  // Shift+Del cuts
        CopySel(h, e);
        if (e.alive) ClearSel(h, e);
        return;
      }
      if (SelStart(e) == SelEnd(e)) {
        if (e.caret >= e.text.size()) return;
        e.anchor = Next(e, e.caret);
      }
      ReplaceSel(h, e, "", true);
      return;
    case VK_INSERT:
      if (ctrl)
        CopySel(h, e);
      else if (shift)
        Paste(h, e);
      return;
    default: return;
  }
}

void Char(HWND h, Edit &e, WPARAM wp) {
  const unsigned char c = static_cast<unsigned char>(wp);
  const bool readonly = (Style(h) & ES_READONLY) != 0;
  switch (c) {
    case 3: CopySel(h, e); return;  // Ctrl+C
    case 24:                        // Ctrl+X
      CopySel(h, e);
      if (e.alive) ClearSel(h, e);
      return;
    case 22: Paste(h, e); return;  // Ctrl+V
    case 26:
      if (!readonly) Undo(h, e);
      return;  // Ctrl+Z
    case 8:    // Backspace
      if (readonly) return;
      if (SelStart(e) == SelEnd(e)) {
        if (e.caret == 0) return;
        e.anchor = Prev(e, e.caret);
      }
      ReplaceSel(h, e, "", true);
      return;
    case '\r':
    case '\n':
      if (!Multi(h) || readonly) return;
      if (!ReplaceSel(h, e, "\r\n", true)) MessageBeep(0);
      return;
    case '\t':
      if (!Multi(h) || readonly) return;
      ReplaceSel(h, e, "\t", true);
      return;
    default:
      if (c < 32 || readonly) return;
      if ((Style(h) & ES_NUMBER) && !std::isdigit(c)) {
        MessageBeep(0);
        return;
      }
      if (!ReplaceSel(h, e, std::string(1, static_cast<char>(c)), true)) MessageBeep(0);
      return;
  }
}

// ---- painting ----

void Paint(HWND h, HDC dc, Edit &e) {
  RECT rc;
  GetClientRect(h, &rc);
  const bool readonly_look = (Style(h) & ES_READONLY) || !IsWindowEnabled(h);
  HBRUSH bg = ControlColors(h, dc, readonly_look ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT);
  if (!e.alive) return;
  FillRect(dc, &rc, bg);
  if (Style(h) & WS_BORDER) {
    SunkenField(dc, rc);
  }
  if (!IsWindowEnabled(h)) SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
  HGDIOBJ old = SelectObject(dc, FontOr(e.font));
  const RECT fr = FormatRect(h, e);
  HRGN clip = CreateRectRgnIndirect(&fr);
  SelectClipRgn(dc, clip);
  const std::string shown = Shown(e);
  const COLORREF text_color = GetTextColor(dc), back = GetBkColor(dc);
  const bool show_sel = e.focus || (Style(h) & ES_NOHIDESEL);
  const int visible = VisibleLines(h, e) + 1;
  for (int i = e.first_line; i < static_cast<int>(e.lines.size()) && i < e.first_line + visible; ++i) {
    const Line &l = e.lines[static_cast<size_t>(i)];
    const POINT p = PosOf(h, e, l.start);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, text_color);
    if (Multi(h))
      TabbedTextOutA(dc, p.x, p.y, shown.data() + l.start, static_cast<int>(l.len), static_cast<int>(e.tabs.size()),
                     e.tabs.empty() ? nullptr : e.tabs.data(), p.x);
    else
      TextOutA(dc, p.x, p.y, shown.data() + l.start, static_cast<int>(l.len));
    const size_t s = std::max(SelStart(e), l.start), t = std::min(SelEnd(e), l.start + l.len);
    if (show_sel && s < t) {
      const POINT a = PosOf(h, e, s), b = PosOf(h, e, t);
      RECT sel{a.x, a.y, b.x, a.y + e.line_height};
      SetBkMode(dc, OPAQUE);
      SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
      SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
      ExtTextOutA(dc, a.x, a.y, ETO_OPAQUE | ETO_CLIPPED, &sel, shown.data() + s, static_cast<UINT>(t - s), nullptr);
      SetBkColor(dc, back);
    }
  }
  SelectClipRgn(dc, nullptr);
  DeleteObject(clip);
  SelectObject(dc, old);
}

// ---- EM_ messages ----

LRESULT GetLine(const Edit &e, WPARAM index, LPARAM lp) {
  char *buf = reinterpret_cast<char *>(lp);
  if (!buf || index >= e.lines.size()) return 0;
  WORD cap;
  std::memcpy(&cap, buf, sizeof cap);
  const Line &l = e.lines[index];
  const size_t n = std::min<size_t>(cap, l.len);
  std::memcpy(buf, e.text.data() + l.start, n);  // no terminating zero, as documented
  return static_cast<LRESULT>(n);
}

LRESULT LineIndex(const Edit &e, WPARAM wp) {
  const int line = static_cast<int>(wp) == -1 ? LineOf(e, e.caret) : static_cast<int>(wp);
  if (line < 0 || line >= static_cast<int>(e.lines.size())) return -1;
  return static_cast<LRESULT>(e.lines[static_cast<size_t>(line)].start);
}

LRESULT LineLength(const Edit &e, WPARAM wp) {
  if (static_cast<int>(wp) == -1) {
    // The characters on the selected lines that are not selected.
    const Line &a = e.lines[static_cast<size_t>(LineOf(e, SelStart(e)))];
    const Line &b = e.lines[static_cast<size_t>(LineOf(e, SelEnd(e)))];
    return static_cast<LRESULT>((SelStart(e) - a.start) + (b.start + b.len - std::min(SelEnd(e), b.start + b.len)));
  }
  if (wp > e.text.size()) return 0;
  return static_cast<LRESULT>(e.lines[static_cast<size_t>(LineOf(e, wp))].len);
}

LRESULT LineScroll(HWND h, Edit &e, int dx_chars, int dy_lines) {
  if (!Multi(h)) return FALSE;
  const int old = e.first_line;
  e.first_line = std::clamp(e.first_line + dy_lines, 0, std::max(0, static_cast<int>(e.lines.size()) - 1));
  e.xoffset = std::max(0, e.xoffset + dx_chars * FontUnits(e.font).cx);
  if (old != e.first_line && !NotifyParent(h, e, EN_VSCROLL)) return TRUE;
  InvalidateRect(h, nullptr, FALSE);
  SyncScrollBar(h, e);
  UpdateCaret(h, e);
  return TRUE;
}

// ---- messages ----

LRESULT Create(HWND h, const CREATESTRUCTA *cs, Edit &e) {
  if (cs && (cs->style & ES_PASSWORD) && !(cs->style & ES_MULTILINE)) e.password = '*';
  if (cs && cs->lpszName && !IS_INTRESOURCE(cs->lpszName)) e.text = Filter(h, cs->lpszName);
  Relayout(h, e);
  return TRUE;
}

void FontChanged(HWND h, Edit &e, BOOL) { Relayout(h, e); }

LRESULT DlgCode(HWND h, LPARAM lp) {
  LRESULT code = DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
  const MSG *m = reinterpret_cast<const MSG *>(lp);
  if (Multi(h) && m && m->message == WM_KEYDOWN && m->wParam == VK_RETURN && (Style(h) & ES_WANTRETURN))
    code |= DLGC_WANTALLKEYS;
  return code;
}

void SetFocusMsg(HWND h, Edit &e) {
  e.focus = true;
  CreateCaret(h, nullptr, 1, e.line_height);
  UpdateCaret(h, e);
  ShowCaret(h);
  InvalidateRect(h, nullptr, FALSE);
  NotifyParent(h, e, EN_SETFOCUS);
}

void KillFocusMsg(HWND h, Edit &e) {
  e.focus = false;
  HideCaret(h);
  DestroyCaret();
  InvalidateRect(h, nullptr, FALSE);
  NotifyParent(h, e, EN_KILLFOCUS);
}

LRESULT SetText(HWND h, Edit &e, LPARAM lp) {
  const char *t = reinterpret_cast<const char *>(lp);
  e.text = Filter(h, t ? t : "");
  if (!Multi(h) && e.text.size() > kMaxLimit) e.text.resize(kMaxLimit);
  e.anchor = e.caret = 0;
  e.first_line = 0;
  e.xoffset = 0;
  e.can_undo = false;
  e.modified = false;
  Changed(h, e, true);
  return TRUE;
}

LRESULT GetText(const Edit &e, WPARAM wp, LPARAM lp) {
  char *buf = reinterpret_cast<char *>(lp);
  if (!buf || wp == 0) return 0;
  const size_t n = std::min<size_t>(wp - 1, e.text.size());
  std::memcpy(buf, e.text.data(), n);
  buf[n] = '\0';
  return static_cast<LRESULT>(n);
}

void ButtonDown(HWND h, Edit &e, WPARAM wp, LPARAM lp) {
  SetFocus(h);  // the focus change notifies parents, which may destroy this edit
  if (!e.alive) return;
  SetCapture(h);
  e.captured = true;
  const size_t i = IndexAt(h, e, PointFromLParam(lp));
  SetSel(h, e, (wp & MK_SHIFT) ? e.anchor : i, i);
}

void MouseMove(HWND h, Edit &e, LPARAM lp) {
  if (!e.captured) return;
  const size_t i = IndexAt(h, e, PointFromLParam(lp));
  if (i != e.caret) SetSel(h, e, e.anchor, i);
}

void ButtonUp(Edit &e) {
  if (!e.captured) return;
  e.captured = false;
  ReleaseCapture();
}

// A double click selects the word under the pointer.
void DoubleClick(HWND h, Edit &e, LPARAM lp) {
  const size_t i = IndexAt(h, e, PointFromLParam(lp));
  size_t s = i, t = i;
  while (s > 0 && IsWordChar(e.text[s - 1])) --s;
  while (t < e.text.size() && IsWordChar(e.text[t])) ++t;
  SetSel(h, e, s, t);
}

LRESULT GetSel(const Edit &e, WPARAM wp, LPARAM lp) {
  const DWORD s = static_cast<DWORD>(SelStart(e)), t = static_cast<DWORD>(SelEnd(e));
  if (wp) *reinterpret_cast<DWORD *>(wp) = s;
  if (lp) *reinterpret_cast<DWORD *>(lp) = t;
  return MAKELONG(std::min<DWORD>(s, 0xFFFF), std::min<DWORD>(t, 0xFFFF));
}

void SetSelMsg(HWND h, Edit &e, WPARAM wp, LPARAM lp) {
  const int s = static_cast<int>(wp), t = static_cast<int>(lp);
  if (s == -1) {  // removes the selection, keeps the caret
    SetSel(h, e, e.caret, e.caret);
    return;
  }
  const size_t end = t < 0 ? e.text.size() : static_cast<size_t>(t);
  SetSel(h, e, static_cast<size_t>(std::max(0, s)), end);
}

LRESULT LineFromChar(const Edit &e, WPARAM wp) {
  if (static_cast<int>(wp) == -1) return LineOf(e, SelStart(e));
  return LineOf(e, std::min<size_t>(wp, e.text.size()));
}

LRESULT ScrollMsg(HWND h, Edit &e, WPARAM wp) {
  if (!Multi(h)) return FALSE;
  const int page = VisibleLines(h, e);
  const int by = wp == SB_LINEUP ? -1 : wp == SB_LINEDOWN ? 1 : wp == SB_PAGEUP ? -page : wp == SB_PAGEDOWN ? page : 0;
  const int old = e.first_line;
  LineScroll(h, e, 0, by);
  return MAKELONG(e.first_line - old, TRUE);
}

void VScroll(HWND h, Edit &e, WPARAM wp) {
  if (!Multi(h)) return;
  const int page = VisibleLines(h, e);
  switch (LOWORD(wp)) {
    case SB_LINEUP: LineScroll(h, e, 0, -1); break;
    case SB_LINEDOWN: LineScroll(h, e, 0, 1); break;
    case SB_PAGEUP: LineScroll(h, e, 0, -page); break;
    case SB_PAGEDOWN: LineScroll(h, e, 0, page); break;
    case SB_TOP: LineScroll(h, e, 0, -e.first_line); break;
    case SB_BOTTOM: LineScroll(h, e, 0, static_cast<int>(e.lines.size())); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: LineScroll(h, e, 0, static_cast<SHORT>(HIWORD(wp)) - e.first_line); break;
    default: break;
  }
}

LRESULT SetReadOnly(HWND h, WPARAM wp) {
  LONG style = GetWindowLongA(h, GWL_STYLE);
  SetWindowLongA(h, GWL_STYLE, wp ? (style | ES_READONLY) : (style & ~ES_READONLY));
  InvalidateRect(h, nullptr, FALSE);
  return TRUE;
}

LRESULT SetTabStops(HWND h, Edit &e, WPARAM wp, LPARAM lp) {
  e.tabs.clear();
  const INT *stops = reinterpret_cast<const INT *>(lp);
  const int base = FontUnits(e.font).cx;
  if (wp == 1 && stops)
    e.tabs.push_back(stops[0] * base / 4);
  else if (stops)
    for (WPARAM i = 0; i < wp && i < 256; ++i) e.tabs.push_back(stops[i] * base / 4);
  Relayout(h, e);
  InvalidateRect(h, nullptr, FALSE);
  return TRUE;
}

void SetRect(HWND h, Edit &e, UINT msg, LPARAM lp) {
  if (lp)
    e.format = *reinterpret_cast<const RECT *>(lp);
  else
    SetRectEmpty(&e.format);
  Relayout(h, e);
  if (msg == EM_SETRECT) InvalidateRect(h, nullptr, FALSE);
}

LRESULT Message(HWND h, UINT msg, WPARAM wp, LPARAM lp, Edit &e) {
  switch (msg) {
    case WM_SIZE:
      Relayout(h, e);
      InvalidateRect(h, nullptr, FALSE);
      return 0;
    case WM_GETDLGCODE: return DlgCode(h, lp);
    case WM_SETFOCUS: SetFocusMsg(h, e); return 0;
    case WM_KILLFOCUS: KillFocusMsg(h, e); return 0;
    case WM_SETTEXT: return SetText(h, e, lp);
    case WM_GETTEXT: return GetText(e, wp, lp);
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(e.text.size());
    case WM_KEYDOWN: KeyDown(h, e, wp); return 0;
    case WM_CHAR: Char(h, e, wp); return 0;
    case WM_LBUTTONDOWN: ButtonDown(h, e, wp, lp); return 0;
    case WM_MOUSEMOVE: MouseMove(h, e, lp); return 0;
    case WM_LBUTTONUP: ButtonUp(e); return 0;
    case WM_LBUTTONDBLCLK: DoubleClick(h, e, lp); return 0;
    case WM_CUT:
      CopySel(h, e);
      if (e.alive) ClearSel(h, e);
      return 0;
    case WM_COPY: CopySel(h, e); return 0;
    case WM_PASTE: Paste(h, e); return 0;
    case WM_CLEAR: ClearSel(h, e); return 0;
    case WM_UNDO:
    case EM_UNDO:
      if (!e.can_undo) return FALSE;
      Undo(h, e);
      return TRUE;
    case EM_CANUNDO: return e.can_undo;
    case EM_EMPTYUNDOBUFFER:
      e.can_undo = false;
      e.undo_text.clear();
      return 0;
    case EM_GETSEL: return GetSel(e, wp, lp);
    case EM_SETSEL: SetSelMsg(h, e, wp, lp); return 0;
    case EM_REPLACESEL: {
      const char *t = reinterpret_cast<const char *>(lp);
      ReplaceSel(h, e, t ? t : "", wp != 0);
      return 0;
    }
    case EM_GETLINE: return GetLine(e, wp, lp);
    case EM_GETLINECOUNT: return static_cast<LRESULT>(e.lines.size());
    case EM_LINEINDEX: return LineIndex(e, wp);
    case EM_LINELENGTH: return LineLength(e, wp);
    case EM_LINEFROMCHAR: return LineFromChar(e, wp);
    case EM_GETFIRSTVISIBLELINE: return Multi(h) ? e.first_line : 0;
    case EM_LINESCROLL: return LineScroll(h, e, static_cast<int>(wp), static_cast<int>(lp));
    case EM_SCROLL: return ScrollMsg(h, e, wp);
    case WM_VSCROLL: VScroll(h, e, wp); return 0;
    case EM_SCROLLCARET: ScrollToCaret(h, e); return TRUE;
    case EM_GETMODIFY: return e.modified;
    case EM_SETMODIFY: e.modified = wp != 0; return 0;
    case EM_LIMITTEXT: e.limit = wp == 0 ? kMaxLimit : std::min<size_t>(wp, kMaxLimit); return 0;
    case EM_GETLIMITTEXT: return static_cast<LRESULT>(e.limit);
    case EM_SETPASSWORDCHAR:
      if (Multi(h)) return 0;
      e.password = static_cast<char>(wp);
      InvalidateRect(h, nullptr, FALSE);
      return 0;
    case EM_GETPASSWORDCHAR: return static_cast<unsigned char>(e.password);
    case EM_SETREADONLY: return SetReadOnly(h, wp);
    case EM_SETTABSTOPS: return SetTabStops(h, e, wp, lp);
    case EM_GETRECT:
      if (lp) *reinterpret_cast<RECT *>(lp) = FormatRect(h, e);
      return 0;
    case EM_SETRECT:
    case EM_SETRECTNP: SetRect(h, e, msg, lp); return 0;
    case EM_FMTLINES: return wp;  // soft line breaks are never put into the text
    default: return DefWindowProcA(h, msg, wp, lp);
  }
}

const ControlClass<Edit> kEdit{Create, nullptr, Paint, FontChanged, Message};

}  // namespace

LRESULT CALLBACK EditProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) { return RunControl(kEdit, h, msg, wp, lp); }

}  // namespace qx::controls
