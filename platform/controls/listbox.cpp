// The LISTBOX class: single, multiple and extended selection, sorted lists
// (by text, or through WM_COMPAREITEM for owner-drawn lists without text),
// owner drawing with fixed or variable item heights, item data, tab stops,
// a horizontal extent, the LB_ messages and the LBN_ notifications. A list
// without data (LBS_NODATA, owner-drawn) takes its count from LB_SETCOUNT and
// keeps items only up to the last one selected, so its owner can show a
// hundred thousand rows without adding them one by one.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "controls_internal.h"
#include "qx/pages.h"

namespace qx::controls {
namespace {

struct Item {
  std::string text;
  ULONG_PTR data = 0;
  bool selected = false;
  int height = 0;
};

struct ListBox : ControlState {
  std::vector<Item> items;
  int top = 0;       // first visible item
  int caret = 0;     // the focus item
  int anchor = 0;    // where an extended selection starts
  int current = -1;  // the selection of a single-selection list
  int item_height = 16;
  int extent = 0;  // LB_SETHORIZONTALEXTENT
  int xoffset = 0;
  std::vector<INT> tabs;
  bool focus = false, captured = false;
  // Cleared by WM_SETREDRAW FALSE: inserts, deletes and selection changes
  // then neither invalidate nor touch the scroll bars until it is set again,
  // so a fill of thousands of rows costs one repaint.
  bool redraw = true;
  // The scroll bars the list was made with: the layer hides a bar that is not
  // needed by clearing its style bit, and the list shows it again when it is.
  DWORD scroll_bars = 0;
  // LBS_NODATA: the item count; items past items.size() are unselected.
  int nodata_count = 0;
};

DWORD Style(HWND h) { return StyleOf(h); }
bool OwnerDraw(HWND h) { return (Style(h) & (LBS_OWNERDRAWFIXED | LBS_OWNERDRAWVARIABLE)) != 0; }
bool Variable(HWND h) { return (Style(h) & LBS_OWNERDRAWVARIABLE) != 0; }
bool HasStrings(HWND h) { return !OwnerDraw(h) || (Style(h) & LBS_HASSTRINGS); }
bool Multiple(HWND h) { return (Style(h) & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0; }
bool Extended(HWND h) { return (Style(h) & LBS_EXTENDEDSEL) != 0; }
bool NoData(HWND h) { return (Style(h) & LBS_NODATA) && OwnerDraw(h) && !(Style(h) & LBS_HASSTRINGS); }
int Count(const ListBox &l) { return std::max(l.nodata_count, static_cast<int>(l.items.size())); }
// Item i (0 <= i < Count) for a change; a list without data makes the items
// up to it when they are not kept yet.
Item &At(ListBox &l, int i) {
  if (static_cast<size_t>(i) >= l.items.size()) l.items.resize(static_cast<size_t>(i) + 1);
  return l.items[static_cast<size_t>(i)];
}
// Item i for reading: an item a list without data does not keep is empty.
const Item &Peek(const ListBox &l, int i) {
  static const Item empty;
  return i >= 0 && static_cast<size_t>(i) < l.items.size() ? l.items[static_cast<size_t>(i)] : empty;
}
bool Valid(const ListBox &l, WPARAM i) { return static_cast<int>(i) >= 0 && static_cast<int>(i) < Count(l); }

// The parent a list box reports to (a combo box's list reports to the combo box).
HWND Parent(HWND h) {
  if (HANDLE combo = GetPropA(h, kComboOfList)) return static_cast<HWND>(combo);
  return GetParent(h);
}

// An LBN_ notification when the list has LBS_NOTIFY; false when the parent
// destroyed the list meanwhile.
bool NotifyIf(HWND h, const ListBox &l, int code) {
  if (!(Style(h) & LBS_NOTIFY)) return true;
  SendMessageA(Parent(h), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(h), code), reinterpret_cast<LPARAM>(h));
  return l.alive;
}

int CompareText(const std::string &a, const std::string &b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int x = std::tolower(static_cast<unsigned char>(a[i])), y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int Compare(HWND h, const ListBox &l, const Item &a, int index_b) {
  const Item &b = Peek(l, index_b);
  if (HasStrings(h)) return CompareText(a.text, b.text);
  COMPAREITEMSTRUCT cis{};
  cis.CtlType = ODT_LISTBOX;
  cis.CtlID = static_cast<UINT>(GetDlgCtrlID(h));
  cis.hwndItem = h;
  cis.itemID1 = static_cast<UINT>(-1);
  cis.itemData1 = a.data;
  cis.itemID2 = static_cast<UINT>(index_b);
  cis.itemData2 = b.data;
  cis.dwLocaleId = 0x0409;
  return static_cast<int>(SendMessageA(Parent(h), WM_COMPAREITEM, cis.CtlID, reinterpret_cast<LPARAM>(&cis)));
}

int MeasureItem(HWND h, ListBox &l, int index, ULONG_PTR data) {
  MEASUREITEMSTRUCT mis{};
  mis.CtlType = ODT_LISTBOX;
  mis.CtlID = static_cast<UINT>(GetDlgCtrlID(h));
  mis.itemID = static_cast<UINT>(index);
  mis.itemHeight = static_cast<UINT>(l.item_height);
  mis.itemData = data;
  SendMessageA(Parent(h), WM_MEASUREITEM, mis.CtlID, reinterpret_cast<LPARAM>(&mis));
  return std::clamp(static_cast<int>(mis.itemHeight), 1, 255);
}

int HeightOf(HWND h, const ListBox &l, int i) {
  return Variable(h) && i >= 0 && i < Count(l) ? Peek(l, i).height : l.item_height;
}

RECT Inner(HWND h) {
  RECT r;
  GetClientRect(h, &r);
  if (Style(h) & WS_BORDER) InflateRect(&r, -2, -2);
  return r;
}

RECT ItemRect(HWND h, const ListBox &l, int index) {
  const RECT in = Inner(h);
  int y = in.top;
  if (index >= l.top) {
    for (int i = l.top; i < index; ++i) y += HeightOf(h, l, i);
  } else {
    for (int i = index; i < l.top; ++i) y -= HeightOf(h, l, i);
  }
  return RECT{in.left - l.xoffset, y, std::max(in.right, in.left + l.extent) - l.xoffset, y + HeightOf(h, l, index)};
}

int VisibleCount(HWND h, const ListBox &l) {
  const RECT in = Inner(h);
  int y = in.top, n = 0;
  for (int i = l.top; i < Count(l) && y + HeightOf(h, l, i) <= in.bottom; ++i, ++n) y += HeightOf(h, l, i);
  if (n == 0) n = 1;
  if (Count(l) <= l.top) n = std::max(1, static_cast<int>(in.bottom - in.top) / std::max(1, l.item_height));
  return n;
}

void UpdateScroll(HWND h, ListBox &l) {
  if (!l.redraw) return;
  if (l.scroll_bars & WS_VSCROLL) {
    SCROLLINFO si{sizeof si,
                  SIF_RANGE | SIF_PAGE | SIF_POS,
                  0,
                  std::max(0, Count(l) - 1),
                  static_cast<UINT>(VisibleCount(h, l)),
                  l.top,
                  0};
    if (Style(h) & LBS_DISABLENOSCROLL) si.fMask |= SIF_DISABLENOSCROLL;
    SetScrollInfo(h, SB_VERT, &si, TRUE);
  }
  if ((l.scroll_bars & WS_HSCROLL) && l.extent > 0) {
    const RECT in = Inner(h);
    SCROLLINFO si{
        sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS, 0, l.extent - 1, static_cast<UINT>(in.right - in.left), l.xoffset,
        0};
    SetScrollInfo(h, SB_HORZ, &si, TRUE);
  }
}

void Redraw(HWND h, const ListBox &l) {
  if (l.redraw) InvalidateRect(h, nullptr, FALSE);
}

void SetTop(HWND h, ListBox &l, int top) {
  const int max_top = std::max(0, Count(l) - VisibleCount(h, l));
  top = std::clamp(top, 0, std::max(0, std::max(max_top, 0)));
  if (top >= Count(l)) top = std::max(0, Count(l) - 1);
  if (top != l.top) {
    l.top = top;
    Redraw(h, l);
  }
  UpdateScroll(h, l);
}

void ShowItem(HWND h, ListBox &l, int i) {
  if (i < 0 || i >= Count(l)) return;
  if (i < l.top) return SetTop(h, l, i);
  // Scroll down until the item is wholly inside.
  int top = l.top;
  const RECT in = Inner(h);
  for (;;) {
    int y = in.top;
    for (int k = top; k < i; ++k) y += HeightOf(h, l, k);
    if (y + HeightOf(h, l, i) <= in.bottom || top == i) break;
    ++top;
  }
  SetTop(h, l, top);
}

int Insert(HWND h, ListBox &l, int index, LPARAM lp) {
  if (l.nodata_count > 0) l.items.resize(static_cast<size_t>(Count(l)));  // inserted rows move the later ones
  l.nodata_count = 0;
  const DWORD style = Style(h);  // read once: a fill adds thousands of rows
  const bool ownerDraw = (style & (LBS_OWNERDRAWFIXED | LBS_OWNERDRAWVARIABLE)) != 0;
  Item it;
  if (!ownerDraw || (style & LBS_HASSTRINGS)) {
    const char *s = reinterpret_cast<const char *>(lp);
    it.text = s ? s : "";
  } else {
    it.data = static_cast<ULONG_PTR>(lp);
  }
  if (index < 0) {
    index = Count(l);
    if (style & LBS_SORT) {
      int lo = 0, hi = Count(l);
      while (lo < hi) {  // after the items that compare equal, so equal items keep their order
        const int mid = (lo + hi) / 2;
        const int order = Compare(h, l, it, mid);
        if (!l.alive) return LB_ERR;  // the owner destroyed the list while comparing
        if (order < 0)
          hi = mid;
        else
          lo = mid + 1;
      }
      index = lo;
    }
  } else if (index > Count(l)) {
    return LB_ERR;
  }
  if (style & LBS_OWNERDRAWVARIABLE) {
    it.height = MeasureItem(h, l, index, it.data);
    if (!l.alive) return LB_ERR;
  }
  l.items.insert(l.items.begin() + index, it);
  if (l.current >= index) ++l.current;
  if (l.caret > index && l.caret < Count(l)) ++l.caret;
  if (l.anchor > index) ++l.anchor;
  UpdateScroll(h, l);
  Redraw(h, l);
  return index;
}

// WM_DELETEITEM (owner-drawn lists only) for an item already taken out of
// the list, so the owner that reacts by changing or destroying the list
// finds it consistent.
void SendDelete(HWND h, HWND parent, int id, int i, ULONG_PTR data) {
  DELETEITEMSTRUCT dis{};
  dis.CtlType = ODT_LISTBOX;
  dis.CtlID = static_cast<UINT>(id);
  dis.itemID = static_cast<UINT>(i);
  dis.hwndItem = h;
  dis.itemData = data;
  SendMessageA(parent, WM_DELETEITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
}

LRESULT Delete(HWND h, ListBox &l, WPARAM wp) {
  if (!Valid(l, wp)) return LB_ERR;
  if (l.nodata_count > 0) l.items.resize(static_cast<size_t>(Count(l)));
  l.nodata_count = 0;
  const int i = static_cast<int>(wp);
  const ULONG_PTR data = l.items[static_cast<size_t>(i)].data;
  l.items.erase(l.items.begin() + i);
  if (l.current == i)
    l.current = -1;
  else if (l.current > i)
    --l.current;
  if (l.caret > i || l.caret >= Count(l)) l.caret = std::max(0, l.caret - 1);
  if (l.anchor > i || l.anchor >= Count(l)) l.anchor = std::max(0, l.anchor - 1);
  SetTop(h, l, l.top);
  Redraw(h, l);
  const LRESULT left = Count(l);
  if (OwnerDraw(h)) SendDelete(h, Parent(h), GetDlgCtrlID(h), i, data);
  return left;
}

void Reset(HWND h, ListBox &l) {
  std::vector<Item> gone;
  gone.swap(l.items);
  l.nodata_count = 0;
  l.top = l.caret = l.anchor = 0;
  l.current = -1;
  UpdateScroll(h, l);
  Redraw(h, l);
  const HWND parent = Parent(h);
  const int id = GetDlgCtrlID(h);
  if (!OwnerDraw(h)) return;  // the style read once, not for each of thousands of rows
  for (size_t i = 0; i < gone.size(); ++i) SendDelete(h, parent, id, static_cast<int>(i), gone[i].data);
}

bool IsSelected(HWND h, const ListBox &l, int i) {
  if (i < 0 || i >= Count(l)) return false;
  return Multiple(h) ? Peek(l, i).selected : l.current == i;
}

int Find(HWND h, const ListBox &l, WPARAM start, LPARAM lp, bool exact) {
  const int n = Count(l);
  if (n == 0) return LB_ERR;
  const int from = static_cast<int>(start) < -1 || static_cast<int>(start) >= n ? -1 : static_cast<int>(start);
  for (int k = 1; k <= n; ++k) {
    const int i = (from + k) % n;
    const Item &it = Peek(l, i);
    if (!HasStrings(h)) {
      if (it.data == static_cast<ULONG_PTR>(lp)) return i;
      continue;
    }
    const char *s = reinterpret_cast<const char *>(lp);
    if (!s) return LB_ERR;
    const std::string want = s;
    if (exact ? CompareText(it.text, want) == 0 : CompareText(it.text.substr(0, want.size()), want) == 0) return i;
  }
  return LB_ERR;
}

// Selection by the user: changes, then LBN_SELCHANGE when anything changed.
void SelectRange(ListBox &l, int a, int b, bool on) {
  if (a > b) std::swap(a, b);
  if (!on) b = std::min(b, static_cast<int>(l.items.size()) - 1);  // items not kept are unselected
  for (int i = std::max(0, a); i <= b && i < Count(l); ++i) At(l, i).selected = on;
}

// The selected items, to tell whether a user's action changed the selection.
std::vector<int> Snapshot(const ListBox &l) {
  std::vector<int> s;
  for (size_t i = 0; i < l.items.size(); ++i)
    if (l.items[i].selected) s.push_back(static_cast<int>(i));
  return s;
}

void UserSelect(HWND h, ListBox &l, int i, bool shift, bool ctrl, bool toggle_key) {
  if (i < 0 || i >= Count(l) || (Style(h) & LBS_NOSEL)) {
    if (i >= 0 && i < Count(l)) l.caret = i;
    return;
  }
  const std::vector<int> before = Snapshot(l);
  const int old_current = l.current;
  if (!Multiple(h)) {
    l.current = i;
  } else if (!Extended(h)) {
    if (toggle_key) At(l, i).selected = !At(l, i).selected;
  } else if (shift) {
    if (!ctrl) SelectRange(l, 0, Count(l) - 1, false);
    SelectRange(l, l.anchor, i, true);
  } else if (ctrl) {
    if (toggle_key) {
      At(l, i).selected = !At(l, i).selected;
      l.anchor = i;
    }
  } else {
    SelectRange(l, 0, Count(l) - 1, false);
    At(l, i).selected = true;
    l.anchor = i;
  }
  l.caret = i;
  ShowItem(h, l, i);
  Redraw(h, l);
  if (before != Snapshot(l) || old_current != l.current) NotifyIf(h, l, LBN_SELCHANGE);
}

int ItemAt(HWND h, const ListBox &l, POINT p, bool *outside) {
  const RECT in = Inner(h);
  int y = in.top;
  int i = l.top;
  for (; i < Count(l); ++i) {
    const int hh = HeightOf(h, l, i);
    if (p.y < y + hh) break;
    y += hh;
  }
  const bool out = p.y < in.top || p.y >= in.bottom || p.x < in.left || p.x >= in.right || i >= Count(l);
  if (outside) *outside = out;
  if (Count(l) == 0) return -1;
  if (p.y < in.top) return std::max(0, l.top - 1);
  return std::min(i, Count(l) - 1);
}

// ---- painting ----

void DrawItem(HWND h, HDC dc, ListBox &l, int i, HBRUSH bg) {
  RECT r = ItemRect(h, l, i);
  const bool sel = IsSelected(h, l, i);
  const bool focus_here = l.focus && l.caret == i;
  if (OwnerDraw(h)) {
    DRAWITEMSTRUCT dis{};
    dis.CtlType = ODT_LISTBOX;
    dis.CtlID = static_cast<UINT>(GetDlgCtrlID(h));
    dis.itemID = static_cast<UINT>(i);
    dis.itemAction = ODA_DRAWENTIRE;
    dis.itemState = (sel ? ODS_SELECTED : 0) | (focus_here ? ODS_FOCUS : 0) | (IsWindowEnabled(h) ? 0 : ODS_DISABLED);
    dis.hwndItem = h;
    dis.hDC = dc;
    dis.rcItem = r;
    dis.itemData = Peek(l, i).data;
    SendMessageA(Parent(h), WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
    return;
  }
  const COLORREF text = GetTextColor(dc), back = GetBkColor(dc);
  if (sel) {
    FillSys(dc, r, COLOR_HIGHLIGHT);
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
  } else {
    FillRect(dc, &r, bg);
  }
  SetBkMode(dc, TRANSPARENT);
  const std::string &s = Peek(l, i).text;
  if (Style(h) & LBS_USETABSTOPS) {
    TabbedTextOutA(dc, r.left + 2, r.top, s.c_str(), static_cast<int>(s.size()), static_cast<int>(l.tabs.size()),
                   l.tabs.empty() ? nullptr : l.tabs.data(), r.left + 2);
  } else {
    TextOutA(dc, r.left + 2, r.top, s.c_str(), static_cast<int>(s.size()));
  }
  SetTextColor(dc, text);
  SetBkColor(dc, back);
  if (focus_here) DrawFocusRect(dc, &r);
}

void Paint(HWND h, HDC dc, ListBox &l) {
  RECT rc;
  GetClientRect(h, &rc);
  HBRUSH bg = ControlColors(h, dc, WM_CTLCOLORLISTBOX);
  if (!l.alive) return;
  FillRect(dc, &rc, bg);
  if (Style(h) & WS_BORDER) SunkenField(dc, rc);
  const RECT in = Inner(h);
  HRGN clip = CreateRectRgnIndirect(&in);
  SelectClipRgn(dc, clip);
  HGDIOBJ old = SelectObject(dc, FontOr(l.font));
  for (int i = l.top; i < Count(l) && l.alive; ++i) {  // an owner may destroy the list while drawing an item
    const RECT r = ItemRect(h, l, i);
    if (r.top >= in.bottom) break;
    DrawItem(h, dc, l, i, bg);
  }
  if (Count(l) == 0 && l.focus) {
    RECT r{in.left, in.top, in.right, in.top + l.item_height};
    DrawFocusRect(dc, &r);
  }
  SelectObject(dc, old);
  SelectClipRgn(dc, nullptr);
  DeleteObject(clip);
}

// ---- keyboard ----

void KeyDown(HWND h, ListBox &l, WPARAM key) {
  if (Style(h) & LBS_WANTKEYBOARDINPUT) {
    const LRESULT r = SendMessageA(Parent(h), WM_VKEYTOITEM, MAKEWPARAM(key, l.caret), reinterpret_cast<LPARAM>(h));
    if (r == -2 || !l.alive) return;
    if (r >= 0 && r < Count(l)) {
      UserSelect(h, l, static_cast<int>(r), false, false, false);
      return;
    }
  }
  if (Count(l) == 0) return;
  const bool shift = GetKeyState(VK_SHIFT) < 0, ctrl = GetKeyState(VK_CONTROL) < 0;
  int to = l.caret;
  switch (key) {
    case VK_UP: to = l.caret - 1; break;
    case VK_DOWN: to = l.caret + 1; break;
    case VK_PRIOR: to = l.caret - std::max(1, VisibleCount(h, l) - 1); break;
    case VK_NEXT: to = l.caret + std::max(1, VisibleCount(h, l) - 1); break;
    case VK_HOME: to = 0; break;
    case VK_END: to = Count(l) - 1; break;
    case VK_SPACE:
      if (Multiple(h)) UserSelect(h, l, l.caret, shift, Extended(h) ? true : ctrl, true);
      return;
    case VK_LEFT:
    case VK_RIGHT: {
      if (!(Style(h) & WS_HSCROLL) || l.extent <= 0) return;
      l.xoffset = std::clamp(l.xoffset + (key == VK_LEFT ? -8 : 8), 0, std::max(0, l.extent - 1));
      UpdateScroll(h, l);
      Redraw(h, l);
      return;
    }
    default: return;
  }
  to = std::clamp(to, 0, Count(l) - 1);
  if (Multiple(h) && !Extended(h)) {
    l.caret = to;
    ShowItem(h, l, to);
    Redraw(h, l);
    return;
  }
  if (Extended(h) && ctrl && !shift) {  // Ctrl+arrows move only the focus
    l.caret = to;
    ShowItem(h, l, to);
    Redraw(h, l);
    return;
  }
  UserSelect(h, l, to, shift, ctrl, false);
}

void Char(HWND h, ListBox &l, WPARAM ch) {
  if ((Style(h) & LBS_WANTKEYBOARDINPUT) || (!HasStrings(h))) {
    if (!HasStrings(h) || (Style(h) & LBS_WANTKEYBOARDINPUT)) {
      const LRESULT r = SendMessageA(Parent(h), WM_CHARTOITEM, MAKEWPARAM(ch, l.caret), reinterpret_cast<LPARAM>(h));
      if (r == -2 || !l.alive) return;
      if (r >= 0 && r < Count(l)) {
        UserSelect(h, l, static_cast<int>(r), false, false, false);
        return;
      }
      if (!HasStrings(h)) return;
    }
  }
  if (ch < 32 || Count(l) == 0) return;
  // The next item whose text starts with the character.
  const char c = static_cast<char>(std::tolower(static_cast<int>(ch)));
  for (int k = 1; k <= Count(l); ++k) {
    const int i = (l.caret + k) % Count(l);
    const std::string &t = Peek(l, i).text;
    if (!t.empty() && std::tolower(static_cast<unsigned char>(t[0])) == c) {
      UserSelect(h, l, i, false, false, false);
      return;
    }
  }
}

void Scroll(HWND h, ListBox &l, WPARAM wp) {
  const int page = VisibleCount(h, l);
  switch (LOWORD(wp)) {
    case SB_LINEUP: SetTop(h, l, l.top - 1); break;
    case SB_LINEDOWN: SetTop(h, l, l.top + 1); break;
    case SB_PAGEUP: SetTop(h, l, l.top - page); break;
    case SB_PAGEDOWN: SetTop(h, l, l.top + page); break;
    case SB_TOP: SetTop(h, l, 0); break;
    case SB_BOTTOM: SetTop(h, l, Count(l)); break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: SetTop(h, l, static_cast<SHORT>(HIWORD(wp))); break;
    default: break;
  }
}

LRESULT GetText(HWND h, const ListBox &l, WPARAM wp, LPARAM lp) {
  if (!Valid(l, wp) || !lp) return LB_ERR;
  const Item &it = Peek(l, static_cast<int>(wp));
  if (!HasStrings(h)) {
    std::memcpy(reinterpret_cast<void *>(lp), &it.data, sizeof it.data);
    return sizeof it.data;
  }
  std::memcpy(reinterpret_cast<char *>(lp), it.text.c_str(), it.text.size() + 1);
  return static_cast<LRESULT>(it.text.size());
}

// LB_SETCOUNT: a list without data gets its count; items past it go.
LRESULT SetCount(HWND h, ListBox &l, WPARAM wp) {
  if (!NoData(h)) return LB_ERR;
  const int n = static_cast<int>(std::min<WPARAM>(wp, 0x7FFFFFFF));
  if (l.items.size() > static_cast<size_t>(n)) l.items.resize(static_cast<size_t>(n));
  l.nodata_count = n;
  if (l.current >= n) l.current = -1;
  l.caret = std::clamp(l.caret, 0, std::max(0, n - 1));
  l.anchor = std::clamp(l.anchor, 0, std::max(0, n - 1));
  SetTop(h, l, l.top);
  Redraw(h, l);
  return 0;
}

// LB_INITSTORAGE: room for `more` rows beyond those held, taken at once with
// its pages mapped, so that a fill of thousands of rows grows the list once
// instead of copying it a dozen times. Returns the rows the list now has room
// for. A request past a million rows at once is taken as a million: the room
// is mapped at once, and a wrong count must not take the machine's memory.
LRESULT InitStorage(HWND h, ListBox &l, WPARAM more) {
  constexpr size_t kMostAtOnce = size_t{1} << 20;
  if (NoData(h)) return Count(l);  // a list without data keeps no rows
  const size_t want = l.items.size() + std::min<size_t>(more, kMostAtOnce);
  if (want > l.items.capacity()) {
    try {
      l.items.reserve(want);
    } catch (const std::exception &) {
      return LB_ERRSPACE;
    }
    PrefaultForWriting(l.items.data() + l.items.size(), (l.items.capacity() - l.items.size()) * sizeof(Item));
  }
  return static_cast<LRESULT>(std::min<size_t>(l.items.capacity(), 0x7FFFFFFF));
}

// ---- messages ----

LRESULT Create(HWND h, const CREATESTRUCTA *cs, ListBox &l) {
  l.item_height = FontUnits(nullptr).cy;
  l.scroll_bars = cs->style & (WS_VSCROLL | WS_HSCROLL);
  return DefWindowProcA(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(cs));
}

void FontChanged(HWND h, ListBox &l, BOOL) {
  if (!OwnerDraw(h)) l.item_height = FontUnits(l.font).cy;
  UpdateScroll(h, l);
}

void HScroll(HWND h, ListBox &l, WPARAM wp) {
  const int step = LOWORD(wp) == SB_LINELEFT ? -8 : LOWORD(wp) == SB_LINERIGHT ? 8 : 0;
  const bool thumb = LOWORD(wp) == SB_THUMBTRACK || LOWORD(wp) == SB_THUMBPOSITION;
  l.xoffset = std::clamp(thumb ? static_cast<SHORT>(HIWORD(wp)) : l.xoffset + step, 0, std::max(0, l.extent - 1));
  UpdateScroll(h, l);
  Redraw(h, l);
}

void ButtonDown(HWND h, ListBox &l, WPARAM wp, LPARAM lp) {
  SetFocus(h);  // the focus change notifies parents, which may destroy this list
  if (!l.alive) return;
  const int i = ItemAt(h, l, PointFromLParam(lp), nullptr);
  if (i < 0) return;
  SetCapture(h);
  l.captured = true;
  UserSelect(h, l, i, (wp & MK_SHIFT) != 0, (wp & MK_CONTROL) != 0, true);
}

void MouseMove(HWND h, ListBox &l, LPARAM lp) {
  if (!l.captured || (Multiple(h) && !Extended(h))) return;
  const int i = ItemAt(h, l, PointFromLParam(lp), nullptr);
  if (i >= 0 && i != l.caret) UserSelect(h, l, i, Extended(h), false, false);
}

LRESULT Message(HWND h, UINT msg, WPARAM wp, LPARAM lp, ListBox &l) {
  switch (msg) {
    case WM_SIZE: SetTop(h, l, l.top); return 0;
    case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_SETREDRAW:
      l.redraw = wp != 0;
      UpdateScroll(h, l);
      Redraw(h, l);
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      l.focus = msg == WM_SETFOCUS;
      Redraw(h, l);
      NotifyIf(h, l, l.focus ? LBN_SETFOCUS : LBN_KILLFOCUS);
      return 0;
    case WM_KEYDOWN: KeyDown(h, l, wp); return 0;
    case WM_CHAR: Char(h, l, wp); return 0;
    case WM_VSCROLL: Scroll(h, l, wp); return 0;
    case WM_HSCROLL: HScroll(h, l, wp); return 0;
    case WM_LBUTTONDOWN: ButtonDown(h, l, wp, lp); return 0;
    case WM_MOUSEMOVE: MouseMove(h, l, lp); return 0;
    case WM_LBUTTONUP:
      if (l.captured) {
        l.captured = false;
        ReleaseCapture();
      }
      return 0;
    case WM_LBUTTONDBLCLK: NotifyIf(h, l, LBN_DBLCLK); return 0;
    case LB_ADDSTRING: return Insert(h, l, -1, lp);
    case LB_INSERTSTRING: return Insert(h, l, static_cast<int>(wp) < 0 ? Count(l) : static_cast<int>(wp), lp);
    case LB_DELETESTRING: return Delete(h, l, wp);
    case LB_RESETCONTENT: Reset(h, l); return 0;
    case LB_SETCOUNT: return SetCount(h, l, wp);
    case LB_INITSTORAGE: return InitStorage(h, l, wp);
    case LB_GETCOUNT: return Count(l);
    case LB_GETTEXT: return GetText(h, l, wp, lp);
    case LB_GETTEXTLEN:
      if (!Valid(l, wp)) return LB_ERR;
      return HasStrings(h) ? static_cast<LRESULT>(Peek(l, static_cast<int>(wp)).text.size())
                           : static_cast<LRESULT>(sizeof(ULONG_PTR));
    case LB_GETITEMDATA: return Valid(l, wp) ? static_cast<LRESULT>(Peek(l, static_cast<int>(wp)).data) : LB_ERR;
    case LB_SETITEMDATA:
      if (!Valid(l, wp) || NoData(h)) return LB_ERR;
      At(l, static_cast<int>(wp)).data = static_cast<ULONG_PTR>(lp);
      return 0;
    case LB_GETCURSEL:
      if (Multiple(h)) return Count(l) ? l.caret : LB_ERR;
      return l.current >= 0 ? l.current : LB_ERR;
    case LB_SETCURSEL:
      if (Multiple(h)) return LB_ERR;
      if (static_cast<int>(wp) == -1 || !Valid(l, wp)) {
        l.current = -1;
        Redraw(h, l);
        return LB_ERR;
      }
      l.current = l.caret = l.anchor = static_cast<int>(wp);
      ShowItem(h, l, l.current);
      Redraw(h, l);
      return l.current;
    case LB_GETSEL: return Valid(l, wp) ? (IsSelected(h, l, static_cast<int>(wp)) ? 1 : 0) : LB_ERR;
    case LB_SETSEL:
      if (!Multiple(h)) return LB_ERR;
      if (static_cast<int>(lp) == -1)
        SelectRange(l, 0, Count(l) - 1, wp != 0);
      else if (Valid(l, static_cast<WPARAM>(lp))) {
        At(l, static_cast<int>(lp)).selected = wp != 0;
        l.caret = l.anchor = static_cast<int>(lp);
      } else
        return LB_ERR;
      Redraw(h, l);
      return 0;
    case LB_SELITEMRANGE:
      if (!Multiple(h)) return LB_ERR;
      SelectRange(l, LOWORD(lp), HIWORD(lp), wp != 0);
      Redraw(h, l);
      return 0;
    case LB_SELITEMRANGEEX:
      if (!Multiple(h)) return LB_ERR;
      if (static_cast<int>(wp) <= static_cast<int>(lp))
        SelectRange(l, static_cast<int>(wp), static_cast<int>(lp), true);
      else
        SelectRange(l, static_cast<int>(lp), static_cast<int>(wp), false);
      Redraw(h, l);
      return 0;
    case LB_GETSELCOUNT: {
      if (!Multiple(h)) return LB_ERR;
      return std::count_if(l.items.begin(), l.items.end(), [](const Item &it) { return it.selected; });
    }
    case LB_GETSELITEMS: {
      if (!Multiple(h)) return LB_ERR;
      INT *out = reinterpret_cast<INT *>(lp);
      int n = 0;
      for (int i = 0; i < Count(l) && n < static_cast<int>(wp) && out; ++i)
        if (Peek(l, i).selected) out[n++] = i;
      return n;
    }
    case LB_FINDSTRING: return Find(h, l, wp, lp, false);
    case LB_FINDSTRINGEXACT: return Find(h, l, wp, lp, true);
    case LB_SELECTSTRING: {
      const int i = Find(h, l, wp, lp, false);
      if (i < 0) return LB_ERR;
      if (Multiple(h)) {
        At(l, i).selected = true;
        l.caret = i;
      } else {
        l.current = l.caret = i;
      }
      ShowItem(h, l, i);
      Redraw(h, l);
      return i;
    }
    case LB_GETTOPINDEX: return l.top;
    case LB_SETTOPINDEX:
      if (!Valid(l, wp) && !(wp == 0 && Count(l) == 0)) return LB_ERR;
      SetTop(h, l, static_cast<int>(wp));
      return 0;
    case LB_GETCARETINDEX: return l.caret;
    case LB_SETCARETINDEX:
      if (!Valid(l, wp)) return LB_ERR;
      l.caret = static_cast<int>(wp);
      if (!LOWORD(lp)) ShowItem(h, l, l.caret);
      Redraw(h, l);
      return 0;
    case LB_GETANCHORINDEX: return l.anchor;
    case LB_SETANCHORINDEX:
      if (!Valid(l, wp)) return LB_ERR;
      l.anchor = static_cast<int>(wp);
      return 0;
    case LB_GETITEMHEIGHT:
      return Variable(h) ? (Valid(l, wp) ? HeightOf(h, l, static_cast<int>(wp)) : LB_ERR) : l.item_height;
    case LB_SETITEMHEIGHT: {
      const int hh = LOWORD(lp);
      if (hh <= 0 || hh > 255) return LB_ERR;
      if (Variable(h)) {
        if (!Valid(l, wp)) return LB_ERR;
        At(l, static_cast<int>(wp)).height = hh;
      } else {
        l.item_height = hh;
      }
      UpdateScroll(h, l);
      Redraw(h, l);
      return 0;
    }
    case LB_GETITEMRECT:
      if (!Valid(l, wp) || !lp) return LB_ERR;
      *reinterpret_cast<RECT *>(lp) = ItemRect(h, l, static_cast<int>(wp));
      return 1;
    case LB_ITEMFROMPOINT: {
      bool outside = true;
      const int i = ItemAt(h, l, PointFromLParam(lp), &outside);
      return MAKELONG(i < 0 ? 0 : i, outside ? 1 : 0);
    }
    case LB_SETTABSTOPS: {
      l.tabs.clear();
      const INT *stops = reinterpret_cast<const INT *>(lp);
      const int base = FontUnits(l.font).cx;
      if (wp == 0) l.tabs.push_back(2 * base * 4);  // every 32 dialog units
      for (WPARAM i = 0; stops && i < wp && i < 256; ++i) l.tabs.push_back(stops[i] * base / 4);
      Redraw(h, l);
      return TRUE;
    }
    case LB_GETHORIZONTALEXTENT: return l.extent;
    case LB_SETHORIZONTALEXTENT:
      l.extent = static_cast<int>(std::min<WPARAM>(wp, 0x7FFF));
      l.xoffset = std::min(l.xoffset, std::max(0, l.extent - 1));
      UpdateScroll(h, l);
      Redraw(h, l);
      return 0;
    default: return DefWindowProcA(h, msg, wp, lp);
  }
}

const ControlClass<ListBox> kListBox{Create, Reset, Paint, FontChanged, Message};

}  // namespace

LRESULT CALLBACK ListBoxProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) { return RunControl(kListBox, h, msg, wp, lp); }

}  // namespace qx::controls
