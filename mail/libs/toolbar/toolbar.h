// The bitmap tool bar: owner-drawn push buttons in a dialog or window whose
// faces are cut from one bitmap strip (normal faces in its left half, pressed
// and disabled faces in its right half, pure blue transparent), with a small
// yellow tip showing a button's text once the mouse has rested on it for half
// a second. The window that holds the buttons passes its messages to
// ToolbarParentMsg first.
#ifndef QX_TOOLBAR_TOOLBAR_H
#define QX_TOOLBAR_TOOLBAR_H

#include <windows.h>

// Creates the pens, brushes and tip font (sized for window's display) and
// registers the tip's window class.
void ToolbarInit(HWND window, HINSTANCE module);
// Deletes what ToolbarInit made.
void ToolbarFree();
// Handles the tool bar's part of parent's messages for the buttons firstId
// to firstId + count - 1: TRUE with *result set when the message was handled
// (the caller returns *result), FALSE when the caller goes on with it.
BOOL ToolbarParentMsg(HWND parent, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result, HBITMAP strip,
                      int firstId, int count);
// Draws part of a bitmap with the pixels of the transparent colour showing
// the target's background colour.
void ToolbarDrawBitmap(HDC dc, int x, int y, HBITMAP bitmap, COLORREF transparent, int width, int height, int sourceX,
                       int sourceY);
LRESULT CALLBACK TipWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The tip's window class, and the timers the tool bar uses on the parent.
inline constexpr const char *kTipClass = "PopupTiny";
inline constexpr UINT_PTR kTipDelayTimer = 99, kTipWatchTimer = 98;
inline constexpr UINT kTipDelay = 500, kTipWatch = 50;

#endif
