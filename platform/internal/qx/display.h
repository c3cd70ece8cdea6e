// What the display part (platform/display) offers the controls part and the
// tests: input given as a person gives it, window captures, the desktop
// clipboard, work run on the display thread, and the automation commands
// other parts add. The drivers and the per-window display state stay inside
// the display part.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "qx/gdi.h"

namespace qx::display {

// True once a visible top-level window has started a driver.
bool DriverStarted();
// The driver's name ("headless", "sdl"); starts the display when it has not started.
const char *DriverName();
// True while injected input waits to be delivered.
bool InputPending();

// Input as a person gives it; hwnd/focus decide where it goes. Events are
// delivered one at a time by the display thread's message loop, each after
// the queue has taken the messages of the one before, and all of them before
// that loop makes WM_PAINT or WM_TIMER: a test that injects keys from a timer
// callback sees them all handled by its next tick.
void InjectKey(BYTE scan, bool extended, bool down);
// The virtual key that last went down from the keyboard (auto-repeats do not
// count), 0 before any. Alt or F10 released enters menu mode only when it was
// that key, even when a window took the key in between without passing it on.
UINT LastKeyDown();
// Types text on the current layout (Shift, Ctrl as needed), key down and up for each character.
void TypeText(const std::string &text);
// Mouse at a screen point: button 0 = move only, 1 left, 2 right, 3 middle.
void InjectMouseMove(POINT screen);
void InjectMouseButton(POINT screen, int button, bool down);
// Screen point of a client point.
POINT ClientToScreenPoint(HWND hwnd, POINT client);
// The top-level window at a screen point (topmost visible), then the deepest
// child under it; null when none.
HWND WindowAt(POINT screen);

// Copy of a window's pixels (its whole rectangle, frame included).
bool CaptureWindow(HWND hwnd, gdi::Surface &out);
bool SaveWindowPng(HWND hwnd, const std::string &path);
// The open message box of this process, if any.
HWND OpenMessageBox();

// Runs work on the thread that owns the display's input (after the current message).
void RunOnDisplayThread(std::function<void()> work);

// Text of the desktop's own clipboard when a desktop driver runs (false
// when there is none or it holds no text), and text put there.
bool DesktopClipboardText(std::string &text);
void SetDesktopClipboardText(const std::string &text);

// Further automation commands (the controls part adds those of controls,
// menus and dialogs): run on the display thread with the command's verb,
// window and the rest of its line; an empty answer means "not mine".
using AutomationExtension = std::string (*)(const std::string &verb, HWND hwnd, const std::string &rest);
void SetAutomationExtension(AutomationExtension extension);

}  // namespace qx::display
