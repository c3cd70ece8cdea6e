// The display part's own interfaces, shared by its files: the driver behind
// which the headless and SDL2 backends sit, the per-window display state
// (surfaces of top-level windows, window scroll bars), where a window lies on
// its surface, the non-client metrics, and the hooks between the input,
// painting, caret and frame files. Other parts use qx/display.h.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "qx/display.h"
#include "qx/gdi.h"
#include "qx/window.h"

namespace qx::display {

using gdi::Surface;

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
  virtual void Present(HWND, const Surface &, const RECT &) {}
  virtual void Cursor(LPCSTR /*standard cursor id*/) {}
  virtual void Beep() {}
  virtual void Flash(HWND) {}
  // The desktop clipboard's text (false when there is none) and text put there.
  virtual bool ClipboardText(std::string &) { return false; }
  virtual void SetClipboardText(const std::string &) {}
  virtual int InputFd() { return -1; }
  virtual void PumpInput() {}
};

// Starts the display on first need: SDL2 when QX_DISPLAY=sdl, or when
// QX_DISPLAY is unset and DISPLAY is set; else headless.
Driver &TheDriver();
// The driver once started, else null.
Driver *StartedDriver();
Driver *MakeSdlDriver();  // sdl_driver.cpp; null when SDL cannot start

// ---- metrics of the NT 4 desktop (nonclient.cpp) ----

constexpr int kScreenW = 1024, kScreenH = 768;
constexpr int kCaption = 19;  // caption bar height with its bottom line
constexpr int kMenuBar = 19;
constexpr int kScrollSize = 16;
constexpr int kThickFrame = 4, kDlgFrame = 3, kBorder = 1, kClientEdge = 2;

struct Insets {
  int left = 0, top = 0, right = 0, bottom = 0;
  int caption_top = 0;
};
int FrameWidth(DWORD style, DWORD ex);
bool HasCaption(DWORD style);
// What the frame, caption, menu bar and scroll bars take of a window.
Insets NonClient(DWORD style, DWORD ex, bool menu);
// Sets w.client to the area inside the non-client parts (under the window lock).
void AdjustClientArea(Window &w);

// ---- per-window display state (display.cpp) ----

struct Bar {
  int min = 0, max = 100, page = 0, pos = 0;
  bool shown = true;
};

struct WinData {
  std::shared_ptr<Surface> surface;  // top-level windows only
  Bar bars[2];                       // SB_HORZ, SB_VERT
};

// Guards the per-window display state and the active frame.
std::mutex &StateLock();
// The display state of a window (made on first use); StateLock() held.
WinData &Data(HWND hwnd);
// The window drawn with the active caption; StateLock() held.
HWND &ActiveFrame();

struct Geometry {
  HWND top = nullptr;
  DWORD style = 0, ex = 0;
  RECT rect{};         // window rectangle in screen coordinates
  RECT client{};       // client rectangle relative to the window
  POINT in_top{0, 0};  // the window's top-left corner inside the top-level surface
  bool visible = false;
  bool menu = false;
  std::string title;
  HWND parent = nullptr;
};
// Reads where a window is, relative to the screen and to its top-level window.
bool GetGeometry(HWND hwnd, Geometry &g);

// ---- surfaces and painting (painting.cpp) ----

// The surface of a top-level window, made or resized to the window's size.
std::shared_ptr<Surface> SurfaceOfTop(HWND top);
// The surface of the top-level window that contains hwnd (null when none).
std::shared_ptr<Surface> TopSurface(HWND hwnd);
// Sends a window's new pixels (all, or an area of its surface) to the driver.
void Present(HWND hwnd, const RECT *area = nullptr);
void PresentWindow(HWND hwnd);
// What a DC of a window may touch: its client (or whole window) inside every
// ancestor's client area, less the children when the window clips them.
gdi::WindowTarget TargetFor(HWND hwnd, bool whole_window);

// ---- the frame (nonclient.cpp) ----

// Surface drawing of the frame and the window scroll bars.
void Fill(Surface &s, RECT r, std::uint32_t px);
std::uint32_t Sys(int color);
void Edge(Surface &s, RECT r, bool raised);
void Button(Surface &s, RECT r, const char *const *glyph, int gw, int gh);
// Draws the frame, caption, menu bar and scroll bars of a window on its surface.
void PaintFrame(HWND hwnd);
// Repaints the frame and caption of a window and presents it (after activation, text, style).
void RedrawFrame(HWND hwnd);
// The hit-test code of a screen point over a window (HTCLIENT, HTCAPTION, ...).
int HitTest(HWND hwnd, POINT screen);

// ---- window scroll bars (scrollbars.cpp) ----

// Draws a window scroll bar in r (surface coordinates).
void DrawBar(Surface &s, const RECT &r, bool vertical, const Bar &b);
// A click on a window scroll bar: the scroll code it sends (-1: none); the
// thumb's position for SB_THUMBPOSITION.
int ScrollCode(HWND hwnd, bool vertical, POINT screen, int &thumb_pos);

// ---- the caret (caret.cpp) ----

// Takes the caret off the surface while something draws under hwnd (null: anywhere).
void CaretOff(HWND hwnd);
// The window of the caret is gone: the caret goes with it.
void CaretWindowDestroyed(HWND hwnd);
// Blinks the caret (the SDL2 driver calls this every blink period).
void BlinkCaret();
UINT CaretBlinkTime();

// ---- input (input.cpp) ----

// The descriptor the message wait polls for input on the display thread (-1 elsewhere).
int InputWaitFd();
// Delivers the next injected event (if the queue has taken the earlier ones)
// and the driver's own input.
void PumpDisplayInput();
// Delivers the next injected event when this thread may; true when one ran.
bool DeliverPendingInput();
// Makes the injection descriptors; true when they exist.
bool EnsureInputFds();
// Adds the driver's own input descriptor to the input wait and makes this thread the display thread.
void AttachDriverInput(int fd);

// ---- message boxes, icons, automation ----

// Message boxes on the display (msgbox.cpp).
int DisplayMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
// Icons (icons.cpp): draws a stock or loaded icon at x, y of a DC.
bool DrawIconAt(HDC hdc, int x, int y, HICON icon);
// The icon as 32-bit ARGB pixels (size x size); false when it is not an icon.
bool IconPixels(HICON icon, std::vector<std::uint32_t> &argb, int &size);
// Automation control socket (automation.cpp): started with the display.
void StartAutomation();

}  // namespace qx::display
