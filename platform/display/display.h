// The display part inside the layer: one surface per top-level window that the
// window DCs of it and its children draw into, a small driver interface behind
// which the headless and SDL2 backends sit, and the input path (keys and mouse)
// that both the SDL2 driver and test automation use.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../gdi/gdi_internal.h"
#include "qx/window.h"

namespace qx::display {

// A backend. All calls come from the layer with no window lock held.
class Driver {
 public:
  virtual ~Driver() = default;
  virtual const char *Name() const = 0;
  virtual void Destroyed(HWND) {}
  // Top-level window shown or hidden, with its screen rectangle and title.
  virtual void Shown(HWND, bool visible, int show_state, const RECT &, const std::string &) {}
  virtual void Moved(HWND, const RECT &) {}
  virtual void Titled(HWND, const std::string &) {}
  // The window's icon (32x32 pixels, 0xFF000000 bits set where opaque).
  virtual void Iconified(HWND, const std::vector<std::uint32_t> & /*argb*/, int /*size*/) {}
  // New pixels of a top-level window (area in surface coordinates).
  virtual void Present(HWND, const gdi::Surface &, const RECT &) {}
  virtual void Cursor(LPCSTR /*standard cursor id*/) {}
  virtual void Beep() {}
  virtual void Flash(HWND) {}
  virtual int InputFd() { return -1; }
  virtual void PumpInput() {}
};

// Starts the display on first need: SDL2 when QX_DISPLAY=sdl, or when
// QX_DISPLAY is unset and DISPLAY is set; else headless.
Driver &TheDriver();
bool DriverStarted();
// True while injected input waits to be delivered.
bool InputPending();

// The surface of the top-level window that contains hwnd (null when none).
std::shared_ptr<gdi::Surface> TopSurface(HWND hwnd);
// Copy of a window's pixels (its whole rectangle, frame included).
bool CaptureWindow(HWND hwnd, gdi::Surface &out);
bool SaveWindowPng(HWND hwnd, const std::string &path);

// Input as a person gives it; hwnd/focus decide where it goes.
void InjectKey(BYTE scan, bool extended, bool down);
// Types text on the US layout (Shift, Ctrl as needed), key down and up for each character.
void TypeText(const std::string &text);
// Mouse at a screen point: button 0 = move only, 1 left, 2 right, 3 middle.
void InjectMouseMove(POINT screen);
void InjectMouseButton(POINT screen, int button, bool down);
// Screen point of a client point.
POINT ClientToScreenPoint(HWND hwnd, POINT client);

// The top-level window at a screen point (topmost visible), then the deepest
// child under it; null when none.
HWND WindowAt(POINT screen);

// Sends a window's new pixels to the driver.
void PresentWindow(HWND hwnd);
// Blinks the caret (the SDL2 driver calls this every blink period).
void BlinkCaret();
UINT CaretBlinkTime();

// Repaints the frame and caption of a top-level window (after activation, text, style).
void RedrawFrame(HWND hwnd);

// Message boxes on the display (msgbox.cpp).
int DisplayMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
// The open message box of this process, if any.
HWND OpenMessageBox();

// Runs work on the thread that owns the display's input (after the current message).
void RunOnDisplayThread(std::function<void()> work);

// Automation control socket (automation.cpp): started with the display.
void StartAutomation();
// Further automation commands (the controls part adds those of controls,
// menus and dialogs): run on the display thread with the command's verb,
// window and the rest of its line; an empty answer means "not mine".
using AutomationExtension = std::string (*)(const std::string &verb, HWND hwnd, const std::string &rest);
void SetAutomationExtension(AutomationExtension extension);

// Icons (icons.cpp): draws a stock or loaded icon at x, y of a DC.
bool DrawIconAt(HDC hdc, int x, int y, HICON icon);
// The icon as 32-bit ARGB pixels (size x size); false when it is not an icon.
bool IconPixels(HICON icon, std::vector<std::uint32_t> &argb, int &size);

}  // namespace qx::display
