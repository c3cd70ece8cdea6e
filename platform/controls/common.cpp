// Helpers shared by the standard controls and their registration as the
// system's window classes, which the core asks for on first use.
#include <algorithm>
#include <cctype>

#include "controls_internal.h"

namespace qx::controls {

DWORD StyleOf(HWND hwnd) { return static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE)); }

void NotifyParent(HWND hwnd, int code) {
  HWND parent = GetParent(hwnd);
  if (!parent) return;
  SendMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), code), reinterpret_cast<LPARAM>(hwnd));
}

bool NotifyParent(HWND hwnd, const ControlState &s, int code) {
  NotifyParent(hwnd, code);
  return s.alive;
}

HBRUSH ControlColors(HWND hwnd, HDC dc, UINT msg) {
  HWND parent = GetParent(hwnd);
  LRESULT r = parent ? SendMessageA(parent, msg, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd)) : 0;
  if (!r) r = DefWindowProcA(hwnd, msg, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd));
  if (!r) {
    const bool window = msg == WM_CTLCOLOREDIT || msg == WM_CTLCOLORLISTBOX;
    SetTextColor(dc, GetSysColor(window ? COLOR_WINDOWTEXT : COLOR_BTNTEXT));
    SetBkColor(dc, GetSysColor(window ? COLOR_WINDOW : COLOR_BTNFACE));
    return GetSysColorBrush(window ? COLOR_WINDOW : COLOR_BTNFACE);
  }
  return reinterpret_cast<HBRUSH>(r);
}

HFONT FontOr(HFONT font) { return font ? font : static_cast<HFONT>(GetStockObject(SYSTEM_FONT)); }

SIZE FontUnits(HFONT font) {
  SIZE out{8, 16};
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) return out;
  HGDIOBJ old = SelectObject(dc, FontOr(font));
  // The extent's height is the font's cell height (tmHeight), without the
  // full metrics: those measure every glyph for the widest character.
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  SIZE s{};
  if (GetTextExtentPoint32A(dc, kAlphabet, 52, &s)) {
    out.cy = s.cy;
    if (s.cx > 0) out.cx = (s.cx / 26 + 1) / 2;
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  if (out.cx <= 0) out.cx = 8;
  if (out.cy <= 0) out.cy = 16;
  return out;
}

char MnemonicOf(const std::string &text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] == '&') {
      ++i;
      continue;
    }
    return static_cast<char>(std::tolower(static_cast<unsigned char>(text[i + 1])));
  }
  return 0;
}

void DrawLabel(HDC dc, const std::string &text, RECT r, UINT format) {
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r, format);
}

void FillSys(HDC dc, const RECT &r, int color) { FillRect(dc, &r, GetSysColorBrush(color)); }

void Edge3D(HDC dc, RECT r, bool sunken) { DrawEdge(dc, &r, sunken ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT); }

void SunkenField(HDC dc, RECT r) { DrawEdge(dc, &r, EDGE_SUNKEN, BF_RECT); }

std::string ClassOf(HWND hwnd) {
  char name[64] = {};
  GetClassNameA(hwnd, name, sizeof name);
  std::string s = name;
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

namespace {

struct ClassRecord {
  const char *name;
  WNDPROC proc;
  UINT style;
  int extra;
  int background;  // system colour + 1, or 0
  LPCSTR cursor;
};

const ClassRecord kClasses[] = {
    {"Button", ButtonProc, CS_DBLCLKS | CS_PARENTDC, kStateExtra, 0, IDC_ARROW},
    {"Static", StaticProc, CS_DBLCLKS | CS_PARENTDC, kStateExtra, 0, IDC_ARROW},
    {"Edit", EditProc, CS_DBLCLKS, kStateExtra, 0, IDC_IBEAM},
    {"ListBox", ListBoxProc, CS_DBLCLKS, kStateExtra, 0, IDC_ARROW},
    {"ComboBox", ComboBoxProc, CS_DBLCLKS, kStateExtra, 0, IDC_ARROW},
    {"ScrollBar", ScrollBarProc, CS_DBLCLKS, kStateExtra, 0, IDC_ARROW},
    {"MDIClient", MdiClientProc, 0, kStateExtra, COLOR_APPWORKSPACE + 1, IDC_ARROW},
    {"#32770", DialogClassProc, CS_DBLCLKS | CS_SAVEBITS, DLGWINDOWEXTRA, COLOR_BTNFACE + 1, IDC_ARROW},
};

}  // namespace

void RegisterStandardClasses() {
  for (const ClassRecord &c : kClasses) {
    WNDCLASSA wc{};
    wc.style = c.style | CS_GLOBALCLASS;
    wc.lpfnWndProc = c.proc;
    wc.cbWndExtra = c.extra;
    wc.hCursor = LoadCursorA(nullptr, c.cursor);
    wc.hbrBackground = c.background ? reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(c.background)) : nullptr;
    wc.lpszClassName = c.name;
    RegisterClassA(&wc);
  }
}

}  // namespace qx::controls

// The core calls this (found by name) the first time a program uses one of
// the standard classes; see kRegisterStandardClasses in qx/window.h.
extern "C" __attribute__((visibility("default"))) void QxRegisterStandardClasses(void) {
  qx::controls::RegisterStandardClasses();
}
