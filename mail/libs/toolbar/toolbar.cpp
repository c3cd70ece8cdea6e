// The bitmap tool bar (see toolbar.h).
#include "toolbar.h"

#include <algorithm>
#include <string>

namespace {

struct ToolbarState {
  HPEN grey = nullptr, lightGrey = nullptr, white = nullptr, black = nullptr;
  HBRUSH blackBrush = nullptr, lightGreyBrush = nullptr, yellowBrush = nullptr;
  HFONT tipFont = nullptr;
  // The button under the mouse, the tip shown for it, and the focus when the
  // tip appeared (a change of focus removes the tip).
  HWND button = nullptr;
  int buttonId = 0;
  HWND tip = nullptr;
  HWND focus = nullptr;
};

ToolbarState &S() {
  static ToolbarState state;
  return state;
}

bool InRange(int id, int firstId, int count) { return id >= firstId && id < firstId + count; }

void RemoveTip(HWND parent) {
  ToolbarState &s = S();
  KillTimer(parent, kTipWatchTimer);
  if (s.tip) DestroyWindow(s.tip);
  s.tip = nullptr;
}

void Forget() {
  S().button = nullptr;
  S().buttonId = 0;
}

SIZE StripSize(HBITMAP strip) {
  BITMAP bm{};
  if (!strip || !GetObjectA(strip, sizeof bm, &bm)) return SIZE{0, 0};
  return SIZE{bm.bmWidth, bm.bmHeight};
}

// Every button of the range is made as large as a face and its edges, its
// centre kept where it was.
void FitButtons(HWND parent, HBITMAP strip, int firstId, int count) {
  const SIZE size = StripSize(strip);
  if (count <= 0 || size.cx == 0) return;
  const int faceWidth = size.cx / 2, faceHeight = size.cy / count;
  for (int id = firstId; id < firstId + count; ++id) {
    HWND button = GetDlgItem(parent, id);
    if (!button) continue;
    RECT r{};
    GetWindowRect(button, &r);
    POINT corner{r.left, r.top};
    ScreenToClient(parent, &corner);
    r = RECT{corner.x, corner.y, corner.x + (r.right - r.left), corner.y + (r.bottom - r.top)};
    const int left = r.left + (r.right - r.left - faceWidth - 3) / 2;
    const int top = r.top + (r.bottom - r.top - faceHeight - 3) / 2;
    MoveWindow(button, left, top, faceWidth + 4, faceHeight + 4, TRUE);
  }
}

std::string TextOf(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// Shows the tip under the button (above it at the bottom of the screen),
// growing from one pixel to its size.
void ShowTip(HWND parent) {
  ToolbarState &s = S();
  if (!s.button || !IsWindow(s.button)) return;
  const std::string text = TextOf(s.button);
  // The first "&" counts as it is drawn: doubled, so it is measured as a character.
  const size_t amp = text.find('&');
  const std::string measured = amp == std::string::npos ? text : text.substr(0, amp + 1) + text.substr(amp);
  HDC dc = GetDC(s.button);
  HGDIOBJ old = SelectObject(dc, s.tipFont);
  SIZE extent{};
  GetTextExtentPoint32A(dc, measured.c_str(), static_cast<int>(measured.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(s.button, dc);
  const int width = extent.cx + 6, height = extent.cy + 6;
  RECT b{};
  GetWindowRect(s.button, &b);
  const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
  int x = (b.left + b.right) / 2 - width / 2;
  int y = b.bottom + 2;
  if (x < 0) x = 0;
  if (x + width > screenW) x = screenW - width;
  if (y + height > screenH) y = b.top - height - 2;
  s.tip = CreateWindowExA(WS_EX_TOPMOST, kTipClass, text.c_str(), WS_POPUP, x, y, 1, 1, parent, nullptr,
                          reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(parent, GWLP_HINSTANCE)), nullptr);
  if (!s.tip) return;
  ShowWindow(s.tip, SW_SHOWNOACTIVATE);
  s.focus = GetFocus();
  const int stepW = std::max(1, width / 25), stepH = std::max(1, height / 25);
  for (int w = 1, h = 1; w < width || h < height;) {
    w = std::min(width, w + stepW);
    h = std::min(height, h + stepH);
    SetWindowPos(s.tip, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    UpdateWindow(s.tip);
  }
  SetTimer(parent, kTipWatchTimer, kTipWatch, nullptr);
}

// Keeps the tip while the mouse stays on its button and the focus where it was.
void WatchTip(HWND parent) {
  ToolbarState &s = S();
  if (!s.tip) {
    KillTimer(parent, kTipWatchTimer);
    return;
  }
  POINT mouse{};
  GetCursorPos(&mouse);
  RECT b{};
  GetWindowRect(s.button, &b);
  if (PtInRect(&b, mouse) && GetFocus() == s.focus) return;
  RemoveTip(parent);
  Forget();
}

void DrawButton(const DRAWITEMSTRUCT &item, HBITMAP strip, int firstId, int count) {
  ToolbarState &s = S();
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  FrameRect(dc, &r, s.blackBrush);
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  // The 3-D edge one pixel inside the frame: raised when up, sunken when pressed.
  const int l = r.left + 1, t = r.top + 1, rr = r.right - 2, bb = r.bottom - 2;
  auto line = [dc](HPEN pen, int x0, int y0, int x1, int y1) {
    HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
    SelectObject(dc, old);
  };
  line(pressed ? s.black : s.white, l, bb, l, t);
  line(pressed ? s.black : s.white, l, t, rr, t);
  line(pressed ? s.lightGrey : s.grey, rr, t, rr, bb);
  line(pressed ? s.lightGrey : s.grey, rr, bb, l - 1, bb);
  line(pressed ? s.grey : s.lightGrey, rr - 1, t + 1, rr - 1, bb - 1);
  line(pressed ? s.grey : s.lightGrey, rr - 1, bb - 1, l, bb - 1);
  const SIZE size = StripSize(strip);
  if (size.cx == 0 || count <= 0) return;
  const int faceWidth = size.cx / 2, faceHeight = size.cy / count;
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  ToolbarDrawBitmap(dc, r.left + 2, r.top + 2, strip, RGB(0, 0, 255), faceWidth, faceHeight,
                    pressed || disabled ? faceWidth : 0, (static_cast<int>(item.CtlID) - firstId) * faceHeight);
}

}  // namespace

void ToolbarInit(HWND window, HINSTANCE module) {
  ToolbarState &s = S();
  ToolbarFree();
  s.grey = CreatePen(PS_SOLID, 1, RGB(0x80, 0x80, 0x80));
  s.lightGrey = CreatePen(PS_SOLID, 1, RGB(0xC0, 0xC0, 0xC0));
  s.white = CreatePen(PS_SOLID, 1, RGB(0xFF, 0xFF, 0xFF));
  s.black = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
  s.blackBrush = CreateSolidBrush(RGB(0, 0, 0));
  s.lightGreyBrush = CreateSolidBrush(RGB(0xC0, 0xC0, 0xC0));
  s.yellowBrush = CreateSolidBrush(RGB(0xFF, 0xFF, 0x80));
  LOGFONTA font{};
  GetObjectA(GetStockObject(SYSTEM_FONT), sizeof font, &font);
  HDC dc = GetDC(window);
  font.lfHeight = -(GetDeviceCaps(dc, LOGPIXELSY) * 5 / 72);
  ReleaseDC(window, dc);
  font.lfWidth = 0;
  font.lfWeight = FW_NORMAL;
  lstrcpynA(font.lfFaceName, "Helv", LF_FACESIZE);
  s.tipFont = CreateFontIndirectA(&font);
  WNDCLASSA wc{};
  wc.lpfnWndProc = TipWndProc;
  wc.hInstance = module;
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = kTipClass;
  RegisterClassA(&wc);  // a second registration fails harmlessly
}

void ToolbarFree() {
  ToolbarState &s = S();
  for (HGDIOBJ o :
       {static_cast<HGDIOBJ>(s.tipFont), static_cast<HGDIOBJ>(s.blackBrush), static_cast<HGDIOBJ>(s.lightGreyBrush),
        static_cast<HGDIOBJ>(s.yellowBrush), static_cast<HGDIOBJ>(s.grey), static_cast<HGDIOBJ>(s.lightGrey),
        static_cast<HGDIOBJ>(s.white), static_cast<HGDIOBJ>(s.black)})
    if (o) DeleteObject(o);
  s.tipFont = nullptr;
  s.blackBrush = s.lightGreyBrush = s.yellowBrush = nullptr;
  s.grey = s.lightGrey = s.white = s.black = nullptr;
}

BOOL ToolbarParentMsg(HWND parent, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result, HBITMAP strip,
                      int firstId, int count) {
  ToolbarState &s = S();
  switch (message) {
    case WM_INITDIALOG: FitButtons(parent, strip, firstId, count); return FALSE;
    case WM_SETCURSOR: {
      HWND under = reinterpret_cast<HWND>(wParam);
      if (under == s.button) return FALSE;
      KillTimer(parent, kTipDelayTimer);
      RemoveTip(parent);
      Forget();
      const int id = GetDlgCtrlID(under);
      if (under && GetParent(under) == parent && InRange(id, firstId, count)) {
        s.button = under;
        s.buttonId = id;
        SetTimer(parent, kTipDelayTimer, kTipDelay, nullptr);
      }
      return FALSE;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      if (s.button) KillTimer(parent, kTipDelayTimer);
      RemoveTip(parent);
      return FALSE;
    case WM_COMMAND:
      if (s.button && LOWORD(wParam) == s.buttonId) {
        KillTimer(parent, kTipDelayTimer);
        if (s.tip) {
          // The tip goes first; the command comes again once it has.
          RemoveTip(parent);
          PostMessageA(parent, WM_COMMAND, wParam, lParam);
          if (result) *result = 1;
          return TRUE;
        }
      }
      return FALSE;
    case WM_TIMER:
      if (wParam == kTipDelayTimer) {
        KillTimer(parent, kTipDelayTimer);
        ShowTip(parent);
      } else if (wParam == kTipWatchTimer) {
        WatchTip(parent);
      } else {
        return FALSE;
      }
      if (result) *result = 1;
      return TRUE;
    case WM_DRAWITEM: {
      const auto *item = reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
      if (!item || !InRange(static_cast<int>(item->CtlID), firstId, count)) return FALSE;
      DrawButton(*item, strip, firstId, count);
      if (result) *result = 1;
      return TRUE;
    }
    case WM_DESTROY:
      if (s.tip && GetParent(s.tip) == parent) RemoveTip(parent);
      return FALSE;
  }
  return FALSE;
}

void ToolbarDrawBitmap(HDC dc, int x, int y, HBITMAP bitmap, COLORREF transparent, int width, int height, int sourceX,
                       int sourceY) {
  if (width <= 0 || height <= 0) return;
  HDC source = CreateCompatibleDC(dc);
  HDC mask = CreateCompatibleDC(dc);
  HDC image = CreateCompatibleDC(dc);
  HBITMAP maskBits = CreateBitmap(width, height, 1, 1, nullptr);
  HBITMAP imageBits = CreateCompatibleBitmap(dc, width, height);
  HGDIOBJ oldSource = SelectObject(source, bitmap);
  HGDIOBJ oldMask = SelectObject(mask, maskBits);
  HGDIOBJ oldImage = SelectObject(image, imageBits);
  // The mask: white where the bitmap has the transparent colour, else black.
  SetBkColor(source, transparent);
  BitBlt(mask, 0, 0, width, height, source, sourceX, sourceY, SRCCOPY);
  BitBlt(image, 0, 0, width, height, source, sourceX, sourceY, SRCCOPY);
  // Where the mask is white the background brush, elsewhere the image.
  HBRUSH background = CreateSolidBrush(GetBkColor(dc));
  HGDIOBJ oldBrush = SelectObject(image, background);
  SetBkColor(image, RGB(255, 255, 255));
  SetTextColor(image, RGB(0, 0, 0));
  BitBlt(image, 0, 0, width, height, mask, 0, 0, 0x00E20746);
  SelectObject(image, oldBrush);
  DeleteObject(background);
  BitBlt(dc, x, y, width, height, image, 0, 0, SRCCOPY);
  SelectObject(source, oldSource);
  SelectObject(mask, oldMask);
  SelectObject(image, oldImage);
  DeleteObject(maskBits);
  DeleteObject(imageBits);
  DeleteDC(source);
  DeleteDC(mask);
  DeleteDC(image);
}

LRESULT CALLBACK TipWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_PAINT) return DefWindowProcA(window, message, wParam, lParam);
  ToolbarState &s = S();
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT r{};
  GetClientRect(window, &r);
  FillRect(dc, &r, s.yellowBrush);
  RECT frame{r.left, r.top, r.right - 1, r.bottom - 1};
  FrameRect(dc, &frame, s.blackBrush);
  const std::string text = TextOf(window);
  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ oldFont = SelectObject(dc, s.tipFont);
  TextOutA(dc, 2, 2, text.c_str(), static_cast<int>(text.size()));
  SelectObject(dc, oldFont);
  HGDIOBJ oldPen = SelectObject(dc, s.black);
  MoveToEx(dc, 4, r.bottom - 1, nullptr);
  LineTo(dc, r.right - 1, r.bottom - 1);
  LineTo(dc, r.right - 1, 3);
  SelectObject(dc, oldPen);
  EndPaint(window, &ps);
  return 0;
}
