// The viewer's choice pop-up: a window procedure that tracks the pointer over
// two halves and reports a click to its parent; any key or leaving the window
// closes it without a choice.
#include "choicepop.h"

#include <string>

namespace {

constexpr COLORREF kLightYellow = RGB(255, 255, 128);
constexpr COLORREF kNavy = RGB(0, 0, 128);

// What one pop-up keeps: the highlighted half and its two brushes.
struct CHOICE_STATE {
  int highlight = 1;
  HBRUSH yellow = nullptr;
  HBRUSH navy = nullptr;
};

CHOICE_STATE *StateOf(HWND window) { return reinterpret_cast<CHOICE_STATE *>(GetWindowLongPtrA(window, 0)); }

// The y of the line between the halves (half the height plus 1).
int Divider(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  return (client.bottom - client.top) / 2 + 1;
}

void Close(HWND window) {
  ReleaseCapture();
  DestroyWindow(window);
}

void OnCreate(HWND window, const CREATESTRUCTA *create) {
  auto *state = new CHOICE_STATE;
  const int *initial = static_cast<const int *>(create->lpCreateParams);
  state->highlight = initial && *initial == 2 ? 2 : 1;
  state->yellow = CreateSolidBrush(kLightYellow);
  state->navy = CreateSolidBrush(kNavy);
  SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(state));
}

void OnMouseMove(HWND window, CHOICE_STATE &state, LPARAM lParam) {
  const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  RECT client;
  GetClientRect(window, &client);
  if (!PtInRect(&client, at)) {
    Close(window);  // the pointer left: nothing chosen
    return;
  }
  const int half = at.y < Divider(window) ? 1 : 2;
  if (half != state.highlight) {
    state.highlight = half;
    InvalidateRect(window, nullptr, FALSE);
  }
}

void OnLeftButton(HWND window, const CHOICE_STATE &state) {
  PostMessageA(GetParent(window), WM_COMMAND, MAKEWPARAM(kChoicePopupControl, kChoicePopupChosen),
               static_cast<LPARAM>(state.highlight));
  Close(window);
}

void OnPaint(HWND window, const CHOICE_STATE &state) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  const std::string all = text;
  const size_t lf = all.find('\n');
  const std::string upper = all.substr(0, lf), lower = lf == std::string::npos ? "" : all.substr(lf + 1);
  RECT client;
  GetClientRect(window, &client);
  const int divider = Divider(window);
  RECT top{client.left, client.top, client.right, divider};
  RECT bottom{client.left, divider, client.right, client.bottom};
  FillRect(dc, &top, state.highlight == 1 ? state.navy : state.yellow);
  FillRect(dc, &bottom, state.highlight == 2 ? state.navy : state.yellow);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, state.highlight == 1 ? RGB(255, 255, 255) : RGB(0, 0, 0));
  TextOutA(dc, top.left, top.top, upper.c_str(), static_cast<int>(upper.size()));
  SetTextColor(dc, state.highlight == 2 ? RGB(255, 255, 255) : RGB(0, 0, 0));
  TextOutA(dc, bottom.left, bottom.top, lower.c_str(), static_cast<int>(lower.size()));
  MoveToEx(dc, client.left, divider, nullptr);
  LineTo(dc, client.right, divider);
  EndPaint(window, &ps);
}

void OnDestroy(HWND window) {
  CHOICE_STATE *state = StateOf(window);
  if (!state) return;
  SetWindowLongPtrA(window, 0, 0);
  DeleteObject(state->yellow);
  DeleteObject(state->navy);
  delete state;
}

}  // namespace

bool RegisterChoicePopup(HINSTANCE instance) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = ChoicePopupProc;
  wc.cbWndExtra = sizeof(LONG_PTR);
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.lpszClassName = kChoicePopupClass;
  return RegisterClassA(&wc) != 0;
}

LRESULT CALLBACK ChoicePopupProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) {
    OnCreate(window, reinterpret_cast<const CREATESTRUCTA *>(lParam));
    return 0;
  }
  CHOICE_STATE *state = StateOf(window);
  if (!state) return DefWindowProcA(window, message, wParam, lParam);
  switch (message) {
    case WM_MOUSEMOVE: OnMouseMove(window, *state, lParam); return 0;
    case WM_LBUTTONDOWN: OnLeftButton(window, *state); return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: Close(window); return 0;
    case WM_PAINT: OnPaint(window, *state); return 0;
    case WM_DESTROY: OnDestroy(window); return 0;
    default: break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND ShowChoicePopup(HWND parent, const char *upper, const char *lower, int initialChoice, POINT at, bool shift) {
  int choice = initialChoice == 2 ? 2 : 1;
  if (shift) choice = 3 - choice;
  SIZE up{}, low{};
  HDC dc = GetDC(parent);
  GetTextExtentPoint32A(dc, upper, lstrlenA(upper), &up);
  GetTextExtentPoint32A(dc, lower, lstrlenA(lower), &low);
  ReleaseDC(parent, dc);
  const int width = (up.cx > low.cx ? up.cx : low.cx) + 4;
  const int height = up.cy + low.cy + 5;
  // The initial half lies under the pointer: a quarter (upper) or three
  // quarters (lower) of the height above it.
  const int x = at.x - width / 2;
  const int y = at.y - (choice == 1 ? height / 4 : height * 3 / 4);
  const std::string text = std::string(upper) + "\n" + lower;
  HWND popup = CreateWindowExA(WS_EX_TOPMOST, kChoicePopupClass, text.c_str(), WS_POPUP | WS_VISIBLE | WS_BORDER, x, y,
                               width, height, parent, nullptr, GetModuleHandleA(nullptr), &choice);
  if (popup) SetCapture(popup);
  return popup;
}
