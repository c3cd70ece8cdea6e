// The two-choice pop-up of the message viewer: a small topmost window that
// offers its window text's two lines ("upper\nlower"), highlights the half
// under the pointer, and tells its parent which half was clicked.
#ifndef QX_MAIL_CHOICEPOP_H
#define QX_MAIL_CHOICEPOP_H

#include <windows.h>

constexpr const char *kChoicePopupClass = "QXMailSelClass";
// The pop-up's WM_COMMAND to its parent: LOWORD(wParam) the control, HIWORD
// the notification, lParam the chosen half (1 upper, 2 lower).
constexpr int kChoicePopupControl = 560;
constexpr int kChoicePopupChosen = 100;

bool RegisterChoicePopup(HINSTANCE instance);
LRESULT CALLBACK ChoicePopupProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Opens the pop-up for parent with the two texts, sized to the wider text plus
// 4 pixels and both heights plus 5, centred on the pointer at screen point
// `at` with the initial choice (1 or 2; Shift held swaps it) under the
// pointer, and gives it the mouse capture. Null when it cannot be made.
HWND ShowChoicePopup(HWND parent, const char *upper, const char *lower, int initialChoice, POINT at, bool shift);

#endif
