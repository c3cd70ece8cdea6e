// Shared internals of the controls part: per-control state kept in the
// window's extra bytes, notifications to the parent, colours and fonts, and
// the NT 4 drawing helpers every control uses.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace qx::controls {

// Each control class keeps a pointer to its state in the first extra bytes.
constexpr int kStateExtra = sizeof(void *);

template <class T>
T *StateOf(HWND hwnd) {
  return reinterpret_cast<T *>(GetWindowLongPtrA(hwnd, 0));
}
template <class T>
T *AttachState(HWND hwnd) {
  T *s = new T;
  SetWindowLongPtrA(hwnd, 0, reinterpret_cast<LONG_PTR>(s));
  return s;
}
template <class T>
void DetachState(HWND hwnd) {
  delete StateOf<T>(hwnd);
  SetWindowLongPtrA(hwnd, 0, 0);
}

DWORD StyleOf(HWND hwnd);
// WM_COMMAND to the parent with the control's id and a notification code.
void NotifyParent(HWND hwnd, int code);
// Asks the parent for colours (WM_CTLCOLOR*) and sets them on dc; the brush to fill with.
HBRUSH ControlColors(HWND hwnd, HDC dc, UINT msg);
// The font a control draws with (WM_SETFONT's, else the system font).
HFONT FontOr(HFONT font);
// Average character width and height of a font (GetDialogBaseUnits rule).
SIZE FontUnits(HFONT font);
// Draws text with & mnemonics (underlined) unless no_prefix.
void DrawLabel(HDC dc, const std::string &text, RECT r, UINT format);
// The character after '&' in a label (lower case), 0 when none.
char MnemonicOf(const std::string &text);
// NT 4 3-D frames.
void Edge3D(HDC dc, RECT r, bool sunken);
void SunkenField(HDC dc, RECT r);  // the 2-pixel client edge of edit and list boxes
void FillSys(HDC dc, const RECT &r, int color);

// Property naming the combo box a drop-down list belongs to (the list is a popup).
constexpr char kComboOfList[] = "QxComboOfList";

// Registers the standard classes (idempotent); the core asks for it on first use.
void RegisterStandardClasses();

LRESULT CALLBACK ButtonProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK StaticProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK EditProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ListBoxProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ComboBoxProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ScrollBarProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK DialogClassProc(HWND, UINT, WPARAM, LPARAM);

// The error CommDlgExtendedError reports (common dialogs of this thread).
extern thread_local DWORD t_error;

// Class name of a window, lower case.
std::string ClassOf(HWND hwnd);

}  // namespace qx::controls
