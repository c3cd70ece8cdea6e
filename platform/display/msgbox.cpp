// The message box on a display: a popup with the caption, an icon, the text
// and the buttons of the MB_ type, modal to its owner (the owner is disabled
// while it is open), answered by mouse, keyboard or test automation.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "display_internal.h"
#include "qx/lparam.h"

namespace qx::display {

void InflateRectBy(RECT &r, int d);

namespace {

constexpr const char *kClass = "QxMessageBox";
constexpr int kButtonW = 75, kButtonH = 23, kGap = 6, kMargin = 12;

struct ButtonSpec {
  int id;
  const char *text;
};

std::vector<ButtonSpec> ButtonsOf(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {{IDOK, "OK"}, {IDCANCEL, "Cancel"}};
    case MB_ABORTRETRYIGNORE: return {{IDABORT, "&Abort"}, {IDRETRY, "&Retry"}, {IDIGNORE, "&Ignore"}};
    case MB_YESNOCANCEL: return {{IDYES, "&Yes"}, {IDNO, "&No"}, {IDCANCEL, "Cancel"}};
    case MB_YESNO: return {{IDYES, "&Yes"}, {IDNO, "&No"}};
    case MB_RETRYCANCEL: return {{IDRETRY, "&Retry"}, {IDCANCEL, "Cancel"}};
    default: return {{IDOK, "OK"}};
  }
}

LPCSTR IconOf(UINT type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONHAND: return IDI_HAND;
    case MB_ICONQUESTION: return IDI_QUESTION;
    case MB_ICONEXCLAMATION: return IDI_EXCLAMATION;
    case MB_ICONASTERISK: return IDI_ASTERISK;
    default: return nullptr;
  }
}

struct Box {
  std::string text;
  UINT type = 0;
  std::vector<ButtonSpec> buttons;
  std::vector<RECT> button_rects;
  RECT text_rect{};
  int focus = 0;  // index of the focused (and default) button
  int pressed = -1;
  int result = 0;
  HFONT font = nullptr;
};

HWND g_open = nullptr;

Box *BoxOf(HWND hwnd) { return reinterpret_cast<Box *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA)); }

// Escape answers Cancel when there is one, else OK when it is the only button.
int EscapeAnswer(const Box &b) {
  for (const ButtonSpec &s : b.buttons)
    if (s.id == IDCANCEL) return IDCANCEL;
  return b.buttons.size() == 1 ? b.buttons[0].id : 0;
}

void Finish(HWND hwnd, Box &b, int id) {
  if (b.result) return;
  b.result = id;
  PostMessageA(hwnd, WM_NULL, 0, 0);  // wakes the modal loop
}

void Paint(HWND hwnd, Box &b) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  if (LPCSTR icon = IconOf(b.type)) DrawIcon(dc, kMargin, kMargin, LoadIconA(nullptr, icon));
  HGDIOBJ old = SelectObject(dc, b.font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  RECT tr = b.text_rect;
  DrawTextA(dc, b.text.c_str(), -1, &tr, DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
  for (size_t i = 0; i < b.buttons.size(); ++i) {
    RECT r = b.button_rects[i];
    const bool is_default = static_cast<int>(i) == b.focus;
    if (is_default) {
      FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      InflateRectBy(r, -1);
    }
    DrawEdge(dc, &r, static_cast<int>(i) == b.pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT | BF_MIDDLE);
    RECT label = r;
    DrawTextA(dc, b.buttons[i].text, -1, &label, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if (is_default) {
      RECT f = r;
      InflateRectBy(f, -3);
      DrawFocusRect(dc, &f);
    }
  }
  SelectObject(dc, old);
  EndPaint(hwnd, &ps);
}

int ButtonAt(const Box &b, POINT p) {
  for (size_t i = 0; i < b.button_rects.size(); ++i) {
    const RECT &r = b.button_rects[i];
    if (p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom) return static_cast<int>(i);
  }
  return -1;
}

LRESULT OnKey(HWND hwnd, Box &b, WPARAM vk) {
  const int n = static_cast<int>(b.buttons.size());
  switch (vk) {
    case VK_RETURN:
    case VK_SPACE: Finish(hwnd, b, b.buttons[b.focus].id); break;
    case VK_ESCAPE:
      if (int id = EscapeAnswer(b)) Finish(hwnd, b, id);
      break;
    case VK_LEFT:
    case VK_UP:
      b.focus = (b.focus + n - 1) % n;
      InvalidateRect(hwnd, nullptr, TRUE);
      break;
    case VK_RIGHT:
    case VK_DOWN:
    case VK_TAB:
      b.focus = (b.focus + 1) % n;
      InvalidateRect(hwnd, nullptr, TRUE);
      break;
    default: break;
  }
  return 0;
}

LRESULT OnChar(HWND hwnd, Box &b, WPARAM ch) {
  // A button's mnemonic, or its first letter, answers with it.
  for (const ButtonSpec &s : b.buttons) {
    const char *amp = std::strchr(s.text, '&');
    const char key = static_cast<char>(amp ? amp[1] : s.text[0]);
    if (std::tolower(static_cast<unsigned char>(key)) == std::tolower(static_cast<int>(ch))) {
      Finish(hwnd, b, s.id);
      break;
    }
  }
  return 0;
}

LRESULT CALLBACK BoxProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Box *b = BoxOf(hwnd);
  if (!b) return DefWindowProcA(hwnd, msg, wp, lp);
  switch (msg) {
    case WM_PAINT: Paint(hwnd, *b); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_KEYDOWN: return OnKey(hwnd, *b, wp);
    case WM_CHAR: return OnChar(hwnd, *b, wp);
    case WM_SYSCHAR: return OnChar(hwnd, *b, wp);
    case WM_LBUTTONDOWN:
      b->pressed = ButtonAt(*b, PointFromLParam(lp));
      if (b->pressed >= 0) b->focus = b->pressed;
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    case WM_LBUTTONUP: {
      const int at = ButtonAt(*b, PointFromLParam(lp));
      if (at >= 0 && at == b->pressed) Finish(hwnd, *b, b->buttons[at].id);
      b->pressed = -1;
      InvalidateRect(hwnd, nullptr, TRUE);
      return 0;
    }
    case WM_COMMAND:  // a button answered by automation
      for (const ButtonSpec &s : b->buttons)
        if (static_cast<int>(LOWORD(wp)) == s.id) Finish(hwnd, *b, s.id);
      return 0;
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == SC_CLOSE) {
        if (int id = EscapeAnswer(*b)) Finish(hwnd, *b, id);
        return 0;
      }
      break;
    case WM_CLOSE:
      if (int id = EscapeAnswer(*b)) Finish(hwnd, *b, id);
      return 0;
    default: break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

void RegisterOnce() {
  static bool done = false;
  if (done) return;
  WNDCLASSA wc{};
  wc.lpfnWndProc = BoxProc;
  wc.lpszClassName = kClass;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  done = RegisterClassA(&wc) != 0;
}

}  // namespace

void InflateRectBy(RECT &r, int d) {
  r.left -= d;
  r.top -= d;
  r.right += d;
  r.bottom += d;
}

HWND OpenMessageBox() { return g_open; }

int DisplayMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  RegisterOnce();
  Box box;
  box.text = text ? text : "";
  box.type = type;
  box.buttons = ButtonsOf(type);
  const int def = static_cast<int>((type & MB_DEFMASK) >> 8);
  box.focus = def < static_cast<int>(box.buttons.size()) ? def : 0;
  box.font =
      CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, VARIABLE_PITCH | FF_SWISS, "MS Sans Serif");
  // Lay out: icon, text wrapped at 400 pixels, buttons centred below.
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, box.font);
  RECT tr{0, 0, 400, 0};
  DrawTextA(dc, box.text.c_str(), -1, &tr, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  const int icon_w = IconOf(type) ? 32 + kMargin : 0;
  const int buttons_w = static_cast<int>(box.buttons.size()) * (kButtonW + kGap) - kGap;
  const int text_h = std::max<int>(tr.bottom, IconOf(type) ? 32 : 0);
  const int client_w = std::max(kMargin * 2 + icon_w + static_cast<int>(tr.right), buttons_w + 2 * kMargin);
  const int client_h = kMargin + text_h + kMargin + kButtonH + kMargin;
  box.text_rect = RECT{kMargin + icon_w, kMargin + (text_h - static_cast<int>(tr.bottom)) / 2,
                       kMargin + icon_w + tr.right, kMargin + (text_h - static_cast<int>(tr.bottom)) / 2 + tr.bottom};
  int x = (client_w - buttons_w) / 2;
  for (size_t i = 0; i < box.buttons.size(); ++i, x += kButtonW + kGap)
    box.button_rects.push_back(RECT{x, client_h - kMargin - kButtonH, x + kButtonW, client_h - kMargin});
  RECT wr{0, 0, client_w, client_h};
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME;
  AdjustWindowRect(&wr, style, FALSE);
  const int ww = wr.right - wr.left, wh = wr.bottom - wr.top;
  RECT around{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (owner && IsWindow(owner)) GetWindowRect(owner, &around);
  const int left = around.left + ((around.right - around.left) - ww) / 2;
  const int top = around.top + ((around.bottom - around.top) - wh) / 2;
  HWND hwnd = CreateWindowExA(WS_EX_DLGMODALFRAME, kClass, caption ? caption : "Error", style, left, top, ww, wh, owner,
                              nullptr, nullptr, nullptr);
  if (!hwnd) {
    DeleteObject(box.font);
    return 0;
  }
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&box));
  const bool owner_enabled = owner && IsWindowEnabled(owner);
  if (owner_enabled) EnableWindow(owner, FALSE);
  HWND previous = g_open;
  g_open = hwnd;
  ShowWindow(hwnd, SW_SHOW);
  SetActiveWindow(hwnd);
  SetFocus(hwnd);
  UpdateWindow(hwnd);
  MSG msg;
  while (!box.result) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got <= 0) {
      // WM_QUIT ends the box; the quit goes back to the program's own loop.
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      if (!box.result) box.result = EscapeAnswer(box) ? EscapeAnswer(box) : box.buttons[0].id;
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  g_open = previous;
  if (owner_enabled) EnableWindow(owner, TRUE);
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
  DestroyWindow(hwnd);
  DeleteObject(box.font);
  if (owner && IsWindow(owner)) SetActiveWindow(owner);
  return box.result;
}

}  // namespace qx::display
