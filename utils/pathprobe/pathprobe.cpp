// pathprobe: traces the route to a host with ICMP echo requests of rising
// time-to-live and shows each hop, either as one text line per hop in a list
// (the traditional view) or as a picture with a label per hop, laid out in
// columns and joined by lines (the graphical view). The probe engine
// (probe_engine.cpp) delivers its results through private messages; this file
// owns the window, the dialogs and the settings in QXAPPS.INI.
#include <windows.h>
#include <winsock.h>

#include <qxcommon.h>
#include <queryclient.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "hops.h"
#include "probe_engine.h"
#include "resources.h"

namespace {

constexpr const char *kSection = "pathprobe";
constexpr COLORREF kTransparent = RGB(0, 0, 255);

HINSTANCE g_instance = nullptr;
HWND g_window = nullptr;
HWND g_traditional = nullptr;  // the traditional view's dialog, while that view is on
char g_iniFile[MAX_PATH] = "QXAPPS.INI";

// GDI objects made at start.
HBITMAP g_smallComp = nullptr;
HPEN g_redPen = nullptr;
HFONT g_smallFont = nullptr;
HFONT g_listFont = nullptr;
HBRUSH g_redBrush = nullptr;
HBRUSH g_faceBrush = nullptr;

// Graphical geometry: picture width and height, row height, the boxes.
int g_pictureW = 32, g_pictureH = 24, g_rowH = 24;
HOP_LAYOUT g_layout = {};
int g_scrollPos = 0, g_scrollMax = 0, g_clientWidth = 0;
bool g_scrolling = false;
int g_widestLine = 0;
std::string g_thisComputer = "This Computer - ";

// The destination chosen in the dialog.
char g_hostText[129] = "";
DWORD g_hostAddress = 0;

std::string Dotted(DWORD address) {
  in_addr a{};
  a.s_addr = address;
  return inet_ntoa(a);
}

// ---- INI file and settings ----

void WriteSetting(LPCSTR key, const char *format, long value) {
  char text[24];
  std::snprintf(text, sizeof text, format, value);
  WritePrivateProfileStringA(kSection, key, text, g_iniFile);
}

bool HasKey(LPCSTR key) {
  char text[8] = "";
  GetPrivateProfileStringA(kSection, key, "", text, sizeof text, g_iniFile);
  return text[0] != '\0';
}

// ---- Drawing ----

// Draws the bitmap with its pixels of the transparent colour showing the
// device context's background colour: a mask of that colour, then 0xE20746
// with a brush of the background.
void DrawBitmapAt(HDC dc, int x, int y, HBITMAP bitmap, COLORREF transparent) {
  if (!bitmap) return;
  BITMAP bm{};
  GetObjectA(bitmap, sizeof bm, &bm);
  HDC source = CreateCompatibleDC(dc);
  HDC mask = CreateCompatibleDC(dc);
  HDC image = CreateCompatibleDC(dc);
  HBITMAP maskBits = CreateBitmap(bm.bmWidth, bm.bmHeight, 1, 1, nullptr);
  HBITMAP imageBits = CreateCompatibleBitmap(dc, bm.bmWidth, bm.bmHeight);
  HGDIOBJ oldSource = SelectObject(source, bitmap);
  HGDIOBJ oldMask = SelectObject(mask, maskBits);
  HGDIOBJ oldImage = SelectObject(image, imageBits);
  SetBkColor(source, transparent);
  BitBlt(mask, 0, 0, bm.bmWidth, bm.bmHeight, source, 0, 0, SRCCOPY);
  BitBlt(image, 0, 0, bm.bmWidth, bm.bmHeight, source, 0, 0, SRCCOPY);
  HBRUSH background = CreateSolidBrush(GetBkColor(dc));
  HGDIOBJ oldBrush = SelectObject(image, background);
  SetBkColor(image, RGB(255, 255, 255));
  SetTextColor(image, RGB(0, 0, 0));
  BitBlt(image, 0, 0, bm.bmWidth, bm.bmHeight, mask, 0, 0, 0x00E20746);
  SelectObject(image, oldBrush);
  DeleteObject(background);
  BitBlt(dc, x, y, bm.bmWidth, bm.bmHeight, image, 0, 0, SRCCOPY);
  SelectObject(source, oldSource);
  SelectObject(mask, oldMask);
  SelectObject(image, oldImage);
  DeleteObject(maskBits);
  DeleteObject(imageBits);
  DeleteDC(source);
  DeleteDC(mask);
  DeleteDC(image);
}

RECT LabelRect(int k) {
  const POINT p = g_layout.box[k];
  return RECT{p.x + g_pictureW, p.y, p.x + 4 * g_pictureW, p.y + g_pictureH + 8};
}

// A box: the picture, and the label framed beside it; names break at their dots.
void DrawBox(HDC dc, int k, const std::string &label, bool selected) {
  const POINT p = g_layout.box[k];
  DrawBitmapAt(dc, p.x, p.y, g_smallComp, kTransparent);
  RECT label_rect = LabelRect(k);
  if (selected) FillRect(dc, &label_rect, g_faceBrush);
  FrameRect(dc, &label_rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  if (selected) {
    RECT picture{p.x - 1, p.y - 1, p.x + g_pictureW + 1, p.y + g_pictureH + 1};
    FrameRect(dc, &picture, g_redBrush);
    RECT around{label_rect.left - 1, label_rect.top - 1, label_rect.right + 1, label_rect.bottom + 1};
    FrameRect(dc, &around, g_redBrush);
  }
  std::string text;
  for (char c : label) {
    text += c;
    if (c == '.') text += ' ';
  }
  RECT inside{label_rect.left + 1, label_rect.top + 1, label_rect.right - 1, label_rect.bottom - 1};
  SetBkMode(dc, TRANSPARENT);
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &inside, DT_WORDBREAK | DT_NOPREFIX);
}

// The line from box k - 1 to box k: top centre of the lower box to bottom centre of the upper.
RECT JoinLine(int k) {
  const POINT a = g_layout.box[k - 1], b = g_layout.box[k];
  const POINT &lower = b.y >= a.y ? b : a, &upper = b.y >= a.y ? a : b;
  return RECT{lower.x + g_pictureW / 2, lower.y, upper.x + g_pictureW / 2, upper.y + g_pictureH};
}

void PaintGraphical(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  if (!g_traditional) {
    SetWindowOrgEx(dc, g_scrollPos, 0, nullptr);
    HGDIOBJ oldPen = SelectObject(dc, g_redPen);
    HGDIOBJ oldFont = SelectObject(dc, g_smallFont);
    std::lock_guard guard(ProbeLock());
    DrawBox(dc, 0, g_thisComputer, g_Hops[0].selected != 0);
    const int last = ProbeLastShownHop();
    for (int k = 1; k <= last; ++k) {
      std::string text;
      const BOOL ends = HopText(g_Hops[k], k, false, &text);
      DrawBox(dc, k, text, g_Hops[k].selected != 0);
      const RECT line = JoinLine(k);
      MoveToEx(dc, line.left, line.top, nullptr);
      LineTo(dc, line.right, line.bottom);
      if (ends || (g_Hops[k].replyTick && g_Hops[k].address == g_Destination)) break;
    }
    SelectObject(dc, oldFont);
    SelectObject(dc, oldPen);
  }
  EndPaint(window, &ps);
}

// ---- Scrolling and layout ----

void SetGraphicalScrollRange(HWND window) {
  int last;
  {
    std::lock_guard guard(ProbeLock());
    last = ProbeLastShownHop();
  }
  const int extent = HopLayoutExtent(g_layout, g_pictureW, last);
  g_scrollMax = extent - g_clientWidth > 0 ? extent - g_clientWidth : 0;
  if (g_scrollPos > g_scrollMax) g_scrollPos = g_scrollMax;
  SetScrollRange(window, SB_HORZ, 0, g_scrollMax, TRUE);
  SetScrollPos(window, SB_HORZ, g_scrollPos, TRUE);
}

void OnSize(HWND window, LPARAM lParam) {
  g_clientWidth = LOWORD(lParam);
  const int height = HIWORD(lParam);
  HopBoxLayout(height, g_pictureW, g_rowH, &g_layout);
  g_scrollPos = 0;
  if (g_traditional) {
    MoveWindow(g_traditional, 0, 0, g_clientWidth + 1, height + 1, TRUE);
    MoveWindow(GetDlgItem(g_traditional, IDC_HOP_LIST), 10, 10, g_clientWidth - 29, height - 29, TRUE);
  } else {
    SetGraphicalScrollRange(window);
  }
}

void OnHScroll(HWND window, WPARAM wParam) {
  if (g_traditional || g_scrolling) return;
  g_scrolling = true;
  int pos = g_scrollPos;
  switch (LOWORD(wParam)) {
    case SB_LINELEFT: pos -= 8; break;
    case SB_LINERIGHT: pos += 8; break;
    case SB_PAGELEFT: pos -= 64; break;
    case SB_PAGERIGHT: pos += 64; break;
    case SB_TOP: pos = 0; break;
    case SB_BOTTOM: pos = g_scrollMax; break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: pos = static_cast<short>(HIWORD(wParam)); break;
    default: break;
  }
  if (pos < 0) pos = 0;
  if (pos > g_scrollMax) pos = g_scrollMax;
  if (pos != g_scrollPos) {
    const int change = g_scrollPos - pos;
    g_scrollPos = pos;
    SetScrollPos(window, SB_HORZ, pos, TRUE);
    ScrollWindow(window, change, 0, nullptr, nullptr);
    UpdateWindow(window);
  }
  g_scrolling = false;
}

// ---- Selecting a box ----

bool InRect(const RECT &r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

void RepaintBox(HWND window, int k) {
  RECT area = LabelRect(k);
  area.left = g_layout.box[k].x - 2;
  area.top -= 2;
  area.right += 2;
  area.bottom += 2;
  OffsetRect(&area, -g_scrollPos, 0);
  InvalidateRect(window, &area, TRUE);
}

void OnDoubleClick(HWND window, LPARAM lParam) {
  if (g_traditional) return;
  const int x = static_cast<short>(LOWORD(lParam)) + g_scrollPos, y = static_cast<short>(HIWORD(lParam));
  {
    std::lock_guard guard(ProbeLock());
    const int last = ProbeLastShownHop();  // every box drawn, the last hop's too
    for (int k = 0; k <= last; ++k) {
      if (!g_Hops[k].selected) continue;
      g_Hops[k].selected = 0;
      RepaintBox(window, k);
      break;
    }
    for (int k = 0; k <= last; ++k) {
      const POINT p = g_layout.box[k];
      const RECT picture{p.x, p.y, p.x + g_pictureW, p.y + g_pictureH};
      if (!InRect(picture, x, y) && !InRect(LabelRect(k), x, y)) continue;
      g_Hops[k].selected = 1;
      RepaintBox(window, k);
      break;
    }
  }
  UpdateWindow(window);  // paints under the lock itself
}

// ---- The traditional view ----

HWND HopList() { return g_traditional ? GetDlgItem(g_traditional, IDC_HOP_LIST) : nullptr; }

void WidenList(HWND list, const std::string &text) {
  HDC dc = GetDC(list);
  HGDIOBJ old = SelectObject(dc, g_listFont);
  const DWORD extent = GetTabbedTextExtentA(dc, text.c_str(), static_cast<int>(text.size()), 0, nullptr);
  SelectObject(dc, old);
  ReleaseDC(list, dc);
  const int width = LOWORD(extent) + 4;
  if (width > g_widestLine) {
    g_widestLine = width;
    SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(width), 0);
  }
}

std::string HopLine(int k) {
  std::string text;
  HopText(g_Hops[k], k, true, &text);
  return text;
}

// Under ProbeLock: the list emptied and filled with the hops of the trace.
void RebuildList(HWND list) {
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  const int last = ProbeLastShownHop();
  for (int k = 1; k <= last; ++k) {
    std::string text;
    const BOOL ends = HopText(g_Hops[k], k, true, &text);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    WidenList(list, text);
    if (ends || (g_Hops[k].replyTick && g_Hops[k].address == g_Destination)) break;
  }
}

void RedisplayTraditional(int k, LPARAM flag) {
  HWND list = HopList();
  std::lock_guard guard(ProbeLock());
  if (flag == 0 && k == -1) {
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    g_widestLine = 0;
    return;
  }
  if (flag == 0 && k == 0) {
    RebuildList(list);
    return;
  }
  if (k < 1 || k > ProbeLastShownHop()) return;  // left over from an abandoned trace
  const std::string text = HopLine(k);
  if (flag) {
    if (SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(k - 1), 0) == LB_ERR) return;
    SendMessageA(list, LB_INSERTSTRING, static_cast<WPARAM>(k - 1), reinterpret_cast<LPARAM>(text.c_str()));
  } else {
    const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    if (k - 1 < count) SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(k - 1), 0);
    const LRESULT at = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(at), 0);  // scrolls it into view
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  }
  WidenList(list, text);
}

void RedisplayGraphical(HWND window, int k, LPARAM flag) {
  if (k >= 1 && k <= HOP_LAST && flag == 1) {
    const POINT p = g_layout.box[k];
    const int left = p.x + g_pictureW - g_scrollPos + 1;
    RECT area{left, p.y + 1, left + 3 * g_pictureW - 2, p.y + g_pictureH + 7};
    InvalidateRect(window, &area, TRUE);
  } else if (k >= 1 && k <= HOP_LAST) {
    RECT box = LabelRect(k);
    box.left = g_layout.box[k].x - 2;
    const RECT line = JoinLine(k);
    RECT join{std::min(line.left, line.right) - 2, std::min(line.top, line.bottom) - 2,
              std::max(line.left, line.right) + 2, std::max(line.top, line.bottom) + 2};
    UnionRect(&box, &box, &join);
    OffsetRect(&box, -g_scrollPos, 0);
    InvalidateRect(window, &box, TRUE);
    SetGraphicalScrollRange(window);
  } else {
    InvalidateRect(window, nullptr, TRUE);
  }
  UpdateWindow(window);
}

void OnRedisplay(HWND window, WPARAM wParam, LPARAM lParam) {
  const int k = static_cast<int>(static_cast<INT_PTR>(wParam));
  if (g_traditional)
    RedisplayTraditional(k, lParam);
  else
    RedisplayGraphical(window, k, lParam);
}

INT_PTR CALLBACK TraditionalDlgProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) {
    SendDlgItemMessageA(dialog, IDC_HOP_LIST, WM_SETFONT, reinterpret_cast<WPARAM>(g_listFont), FALSE);
    return TRUE;
  }
  return FALSE;
}

void ShowView(HWND window, bool traditional) {
  HMENU menu = GetMenu(window);
  CheckMenuItem(menu, IDM_TRADITIONAL, traditional ? MF_CHECKED : MF_UNCHECKED);
  CheckMenuItem(menu, IDM_GRAPHICAL, traditional ? MF_UNCHECKED : MF_CHECKED);
  g_Settings.traditional = traditional;
  if (traditional) {
    if (!g_traditional) {
      g_traditional = CreateDialogA(g_instance, "Traditional", window, TraditionalDlgProc);
      if (g_traditional) SetWindowLongPtrA(g_traditional, GWLP_ID, IDC_TRADITIONAL_VIEW);
    }
    g_widestLine = 0;
    SetScrollRange(window, SB_HORZ, 0, 0, TRUE);
    RECT client{};
    GetClientRect(window, &client);
    SendMessageA(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    PostMessageA(window, WM_PROBE_REDISPLAY, 0, 0);
  } else {
    if (g_traditional) DestroyWindow(g_traditional);
    g_traditional = nullptr;
    SetGraphicalScrollRange(window);
    InvalidateRect(window, nullptr, TRUE);
  }
}

// ---- Destination and options dialogs ----

INT_PTR CALLBACK DestinationDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      RecentListFill(GetDlgItem(dialog, IDC_DESTINATION), g_iniFile, kSection, "FILE_%d");
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        GetDlgItemTextA(dialog, IDC_DESTINATION, g_hostText, sizeof g_hostText);
        in_addr address{};
        if (!QueryResolveHost(g_hostText, &address)) {
          char text[200];
          std::snprintf(text, sizeof text, "Address not found for host \"%s\"", g_hostText);
          MessageBoxA(dialog, text, "Unknown address", MB_OK | MB_ICONERROR);
          return TRUE;  // the dialog stays open for another name
        }
        g_hostAddress = address.s_addr;
        EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 2);
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

// A numeric field of the options dialog: its edit, its scroll bar (0: none), range and working value.
struct OptionField {
  int editId;
  int scrollId;
  long low;
  long high;
  long value;
  bool checked;
};
OptionField g_fields[4];
bool g_lookupWork = true;

OptionField *FieldOf(int id) {
  for (OptionField &f : g_fields)
    if (f.editId == id || (f.scrollId && f.scrollId == id)) return &f;
  return nullptr;
}

void ShowField(HWND dialog, const OptionField &f) {
  char text[16];
  std::snprintf(text, sizeof text, "%ld", f.value);
  SetDlgItemTextA(dialog, f.editId, text);
  if (f.scrollId) SetScrollPos(GetDlgItem(dialog, f.scrollId), SB_CTL, static_cast<int>(f.value), TRUE);
}

// The edit's text is taken when it is a number in the field's range; otherwise the value in force stays.
void CheckField(HWND dialog, OptionField &f) {
  char text[24] = "";
  GetDlgItemTextA(dialog, f.editId, text, sizeof text);
  char *end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end != text && *end == '\0' && value >= f.low && value <= f.high) f.value = value;
  f.checked = true;
  ShowField(dialog, f);
}

void OptionsInit(HWND dialog) {
  g_fields[0] = {IDC_NUM_PROBES, IDC_NUM_PROBES_SCROLL, 1, 10, g_Settings.numProbes, true};
  g_fields[1] = {IDC_MAX_HOPS, IDC_MAX_HOPS_SCROLL, 1, 255, g_Settings.maxTtl, true};
  g_fields[2] = {IDC_DATA_SIZE, IDC_DATA_SIZE_SCROLL, 1, PROBE_DATA_LEN_MAX, static_cast<long>(g_Settings.dataLen),
                 true};
  g_fields[3] = {IDC_PORT, 0, 1, 65000, g_Settings.basePort, true};
  g_lookupWork = g_Settings.lookupName;
  CheckDlgButton(dialog, IDC_LOOKUP_NAMES, g_lookupWork ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, IDC_SAVE_CONFIGURATION, BST_UNCHECKED);
  for (OptionField &f : g_fields) {
    if (f.scrollId)
      SetScrollRange(GetDlgItem(dialog, f.scrollId), SB_CTL, static_cast<int>(f.low), static_cast<int>(f.high), FALSE);
    ShowField(dialog, f);
  }
  for (OptionField &f : g_fields) f.checked = true;  // showing the values notified the edits
}

void OptionsScroll(HWND dialog, WPARAM wParam, LPARAM lParam) {
  OptionField *f = FieldOf(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
  if (!f) return;
  if (!f->checked) CheckField(dialog, *f);
  // The scroll bar's up arrow raises the number.
  if (LOWORD(wParam) == SB_LINEUP && f->value < f->high) ++f->value;
  if (LOWORD(wParam) == SB_LINEDOWN && f->value > f->low) --f->value;
  ShowField(dialog, *f);
}

void OptionsOk(HWND dialog) {
  for (OptionField &f : g_fields)
    if (!f.checked) CheckField(dialog, f);
  g_Settings.lookupName = g_lookupWork;
  g_Settings.numProbes = static_cast<int>(g_fields[0].value);
  g_Settings.maxTtl = static_cast<int>(g_fields[1].value);
  g_Settings.dataLen = static_cast<unsigned>(g_fields[2].value);
  g_Settings.basePort = g_fields[3].value;
  if (IsDlgButtonChecked(dialog, IDC_SAVE_CONFIGURATION) != BST_CHECKED) return;
  WritePrivateProfileStringA(kSection, "LookupName", g_Settings.lookupName ? "True" : "False", g_iniFile);
  WriteSetting("DataLen", "%lu", static_cast<long>(g_Settings.dataLen));
  WriteSetting("MaxTTL", "%ld", g_Settings.maxTtl);
  WriteSetting("NumProbes", "%ld", g_Settings.numProbes);
  WriteSetting("Port", "%ld", g_Settings.basePort);
}

INT_PTR CALLBACK OptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: OptionsInit(dialog); return TRUE;
    case WM_VSCROLL: OptionsScroll(dialog, wParam, lParam); return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == IDOK || id == IDCANCEL) {
        if (id == IDOK) OptionsOk(dialog);
        EndDialog(dialog, id);
        return TRUE;
      }
      if (id == IDC_LOOKUP_NAMES) {
        g_lookupWork = !g_lookupWork;
        CheckDlgButton(dialog, id, g_lookupWork ? BST_CHECKED : BST_UNCHECKED);
        return TRUE;
      }
      if (id == IDC_SAVE_CONFIGURATION) {
        const bool on = IsDlgButtonChecked(dialog, id) == BST_CHECKED;
        CheckDlgButton(dialog, id, on ? BST_UNCHECKED : BST_CHECKED);
        return TRUE;
      }
      if (OptionField *f = FieldOf(id)) {
        if (HIWORD(wParam) == EN_KILLFOCUS)
          CheckField(dialog, *f);
        else if (HIWORD(wParam) == EN_CHANGE)
          f->checked = false;
        return TRUE;
      }
      return FALSE;
    }
    default: return FALSE;
  }
}

// ---- Menu commands ----

void OnTraceRoute(HWND window) {
  if (DialogBoxA(g_instance, "TraceRouteDialog", window, DestinationDlgProc) != 1) return;
  ProbeNewTrace(window, g_iniFile, g_hostText, g_hostAddress);
}

void OnOptions(HWND window) { DialogBoxA(g_instance, "OptionsDialog", window, OptionsDlgProc); }

void OnShowView(HWND window, bool traditional) {
  WritePrivateProfileStringA(kSection, "Traditional", traditional ? "True" : "False", g_iniFile);
  ShowView(window, traditional);
}
void OnTraditional(HWND window) { OnShowView(window, true); }
void OnGraphical(HWND window) { OnShowView(window, false); }
void OnExit(HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); }
void OnHelp(HWND window) { WinHelpA(window, "WINTROUT.HLP", HELP_INDEX, 0); }
void OnAbout(HWND window) { DialogBoxA(g_instance, "About", window, AboutDlgProc); }

struct Command {
  UINT id;
  void (*handler)(HWND);
};
const Command kCommands[] = {
    {IDM_TRACEROUTE, OnTraceRoute}, {IDM_OPTIONS, OnOptions}, {IDM_TRADITIONAL, OnTraditional},
    {IDM_GRAPHICAL, OnGraphical},   {IDM_EXIT, OnExit},       {IDM_HELP, OnHelp},
    {IDM_ABOUT, OnAbout},
};

void OnCommand(HWND window, WPARAM wParam) {
  for (const Command &c : kCommands)
    if (c.id == LOWORD(wParam)) c.handler(window);
}

void OnTitle(HWND window) {
  std::string address;
  {
    std::lock_guard guard(ProbeLock());
    address = Dotted(g_Hops[0].address);
  }
  char title[200];
  std::snprintf(title, sizeof title, "TraceRoute to %s (%s)", g_DestinationText, address.c_str());
  SetWindowTextA(window, title);
}

void OnClose(HWND window) {
  SaveWindowPlacement(window);  // not when minimised; "Cx" and "Cy" one more than the size
  DestroyWindow(window);
}

LRESULT CALLBACK TraceRouteProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: OnCommand(window, wParam); return 0;
    case WM_PROBE_REDISPLAY: OnRedisplay(window, wParam, lParam); return 0;
    case WM_PROBE_REPLY: ProbeOnReply(window); return 0;
    case WM_PROBE_TITLE: OnTitle(window); return 0;
    case WM_SIZE: OnSize(window, lParam); return 0;
    case WM_PAINT: PaintGraphical(window); return 0;
    case WM_LBUTTONDBLCLK: OnDoubleClick(window, lParam); return 0;
    case WM_HSCROLL: OnHScroll(window, wParam); return 0;
    case WM_CLOSE: OnClose(window); return 0;
    case WM_DESTROY:
      if (g_traditional) DestroyWindow(g_traditional);
      g_traditional = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_SYSCOLORCHANGE:
      if (g_Ctl3dActive) Ctl3dColorChange();
      return 0;
    default:
      if (message > WM_PROBE_LOOKUP && message <= WM_PROBE_LOOKUP + HOP_LAST) {
        ProbeOnLookup(window, static_cast<int>(message - WM_PROBE_LOOKUP), wParam, lParam);
        return 0;
      }
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

// ---- Start-up ----

void MakeGdiObjects(HWND window) {
  g_smallComp = LoadBitmapA(g_instance, "SmallComp");
  BITMAP bm{};
  if (g_smallComp && GetObjectA(g_smallComp, sizeof bm, &bm)) {
    g_pictureW = bm.bmWidth;
    g_pictureH = bm.bmHeight;
  }
  g_redPen = CreatePen(PS_SOLID, 2, RGB(255, 0, 0));
  LOGFONTA lf{};
  GetObjectA(GetStockObject(SYSTEM_FONT), sizeof lf, &lf);
  lf.lfHeight = -(g_pictureH / 3);
  lf.lfWidth = 0;
  lf.lfWeight = FW_NORMAL;
  std::snprintf(lf.lfFaceName, sizeof lf.lfFaceName, "Helv");
  g_smallFont = CreateFontIndirectA(&lf);
  LOGFONTA fixed{};
  GetObjectA(GetStockObject(SYSTEM_FIXED_FONT), sizeof fixed, &fixed);
  fixed.lfWeight = FW_NORMAL;
  g_listFont = CreateFontIndirectA(&fixed);
  g_redBrush = CreateSolidBrush(RGB(255, 0, 0));
  g_faceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  // The row height: the picture, or the text "Tg" when that is taller.
  HDC dc = GetDC(window);
  SIZE tg{};
  GetTextExtentPoint32A(dc, "Tg", 2, &tg);
  ReleaseDC(window, dc);
  g_rowH = tg.cy > g_pictureH ? tg.cy : g_pictureH;
}

void DeleteGdiObjects() {
  for (HGDIOBJ o :
       {static_cast<HGDIOBJ>(g_smallComp), static_cast<HGDIOBJ>(g_redPen), static_cast<HGDIOBJ>(g_smallFont),
        static_cast<HGDIOBJ>(g_listFont), static_cast<HGDIOBJ>(g_redBrush), static_cast<HGDIOBJ>(g_faceBrush)})
    if (o) DeleteObject(o);
}

// "This Computer - " and the local host's name, its address looked up again;
// the dotted address when that fails, the bare name when it has no address.
void BuildThisComputerLabel() {
  char name[256] = "";
  gethostname(name, sizeof name - 1);
  std::string label = name;
  if (const hostent *own = gethostbyname(name); own && own->h_length == 4 && own->h_addr_list && own->h_addr_list[0]) {
    const hostent *back = gethostbyaddr(own->h_addr_list[0], 4, AF_INET);
    if (back && back->h_name)
      label = back->h_name;
    else
      label = Dotted(*reinterpret_cast<const DWORD *>(own->h_addr_list[0]));
  }
  g_thisComputer = "This Computer - " + label;
}

HWND CreateMainWindow(int show) {
  WNDCLASSA wc{};
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = TraceRouteProc;
  wc.hInstance = g_instance;
  wc.hIcon = LoadIconA(g_instance, "AppIcon1");
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszMenuName = "TraceRouteMenu";
  wc.lpszClassName = "TraceRoute";
  if (!RegisterClassA(&wc)) return nullptr;
  FindAppsIni(g_iniFile, sizeof g_iniFile);
  PlacementSetup(kSection, nullptr);
  int x = static_cast<int>(CW_USEDEFAULT), y = show, cx = static_cast<int>(CW_USEDEFAULT), cy = 0;
  ReadWindowPlacement(&x, &y, &cx, &cy);
  // The stored size is one more than the window's (as it is written): read
  // back as the size it was, so the window does not grow with every run.
  if (HasKey("Cx")) --cx;
  if (HasKey("Cy")) --cy;
  return CreateWindowExA(0, "TraceRoute", "TraceRoute", WS_OVERLAPPEDWINDOW | WS_HSCROLL, x, y, cx, cy, nullptr,
                         nullptr, g_instance, nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  if (previous) return 0;  // one instance at a time
  DebugLogOpen(instance, commandLine);
  g_instance = instance;
  Ctl3dLoad(instance);
  WSADATA wsa;
  if (WSAStartup(0x0101, &wsa) != 0) {
    MessageBoxA(nullptr, "Unable to load Winsock\n\nThe network layer could not be started. Check the network set-up.",
                "Winsock error", MB_OK | MB_ICONERROR);
    return 1;
  }
  g_window = CreateMainWindow(show);
  if (!g_window) {
    MessageBoxA(nullptr, "The window of pathprobe could not be made.", "pathprobe", MB_OK | MB_ICONERROR);
    WSACleanup();
    return 1;
  }
  ReadProbeSettings(g_iniFile, &g_Settings);
  MakeGdiObjects(g_window);
  ShowView(g_window, g_Settings.traditional);
  ShowWindow(g_window, show);
  UpdateWindow(g_window);
  int result = 0;
  if (IcmpBind(g_window) != 0) {
    result = 1;
    DestroyWindow(g_window);
  } else {
    BuildThisComputerLabel();
    PostMessageA(g_window, WM_COMMAND, IDM_TRACEROUTE, 0);
  }
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0)) {
    if (g_traditional && IsDialogMessageA(g_traditional, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  Ctl3dUnload(instance);
  IcmpRelease();
  DeleteGdiObjects();
  WSACleanup();
  return result;
}
