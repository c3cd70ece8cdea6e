// The window record behind an HWND and the hooks through which a display part
// draws windows. Without a display nothing is drawn, but every window keeps
// its position, size, styles, tree, show state, update region and focus, so
// programs and tests behave the same with and without one.
//
// Locking: every field of a Window is guarded by WindowLock(). Never call a
// window procedure (or a hook that may call one) while holding it.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qx {

struct WindowClass {
  ATOM atom = 0;
  std::string name;
  UINT style = 0;
  WNDPROC proc = nullptr;
  int cls_extra = 0, wnd_extra = 0;
  HINSTANCE instance = nullptr;
  HICON icon = nullptr, icon_small = nullptr;
  HCURSOR cursor = nullptr;
  HBRUSH background = nullptr;
  LPCSTR menu_name = nullptr;  // as registered (string or resource id)
  std::vector<BYTE> extra;     // cbClsExtra bytes
  int windows = 0;             // live windows of the class; unregistering fails while > 0
};

struct Window {
  HWND hwnd = nullptr;
  DWORD tid = 0;  // owner thread
  std::shared_ptr<WindowClass> cls;
  WNDPROC proc = nullptr;
  DWORD style = 0, ex_style = 0;
  std::string title;
  HWND parent = nullptr;       // NULL for top-level windows
  HWND owner = nullptr;        // owner of a top-level window
  bool message_only = false;   // created under HWND_MESSAGE: never listed or found
  std::vector<HWND> children;  // z-order, topmost first
  HMENU menu = nullptr;        // for a child window: its id
  HINSTANCE instance = nullptr;
  LONG_PTR user_data = 0;
  std::vector<BYTE> extra;  // cbWndExtra bytes
  std::map<std::string, HANDLE> props;
  RECT rect{};               // window rectangle: parent client coordinates (screen for top-level)
  RECT client{};             // client rectangle relative to the window's top-left corner
  RECT normal_rect{};        // restored position while minimised or maximised
  int show_state = SW_HIDE;  // last ShowWindow command that took effect
  bool enabled = true;
  RECT update{};  // update region as a bounding rectangle (empty: none)
  bool update_erase = false;
  bool created = false;     // WM_NCCREATE/WM_CREATE have succeeded
  bool destroying = false;  // WM_DESTROY has been sent
  void *display = nullptr;  // owned by the display part
};

std::recursive_mutex &WindowLock();
// The window of this process named by hwnd (any thread), or null.
std::shared_ptr<Window> FindLocalWindow(HWND hwnd);
// All live windows of this process in creation order.
std::vector<std::shared_ptr<Window>> LocalWindows();

// Adds rect (client coordinates; null = whole client area) to the update
// region and wakes the owner thread so WM_PAINT is generated.
void InvalidateWindow(HWND hwnd, const RECT *rect, bool erase);
// Takes and clears the update region (BeginPaint uses it); false when empty.
bool TakeUpdateRegion(HWND hwnd, RECT &region, bool &erase);

// Implemented by a display part and installed with SetDisplayHooks; every
// function has a harmless default, so a part may override only what it needs.
class DisplayHooks {
 public:
  virtual ~DisplayHooks() = default;
  virtual void Created(HWND) {}
  virtual void Destroyed(HWND) {}
  virtual void Shown(HWND, int /*show_state*/) {}
  virtual void Moved(HWND) {}
  // Called with WindowLock() held whenever the window rectangle is set: the
  // display sets w.client to the area inside the frame, caption, menu bar and
  // scroll bars (by default the client area is the whole window). Must not
  // call window procedures.
  virtual void AdjustClient(Window &) {}
  virtual void Invalidated(HWND) {}
  virtual void TextChanged(HWND) {}
  // Turns WM_KEYDOWN/WM_SYSKEYDOWN into WM_CHAR/WM_SYSCHAR posts; true when it did.
  virtual bool TranslateKey(const MSG &) { return false; }
  // DefWindowProcA asks here first for messages that draw (WM_ERASEBKGND,
  // WM_NCPAINT, WM_CTLCOLOR*, ...); true with result set when handled.
  virtual bool DefWindowProc(HWND, UINT, WPARAM, LPARAM, LRESULT & /*result*/) { return false; }
  // A real message box; returns 0 to fall back to the standard-error box.
  virtual int MessageBox(HWND, LPCSTR, LPCSTR, UINT) { return 0; }
  // Descriptor that becomes readable when the display has input for this
  // thread (added to the message wait), or -1.
  virtual int InputFd() { return -1; }
  // Called by the message loop when InputFd() is readable: the display reads
  // its events and posts the resulting messages.
  virtual void PumpInput() {}
  // Input the display holds for this thread and has not delivered yet comes
  // before WM_PAINT and WM_TIMER, as input does on Windows: the message loop
  // calls this when nothing posted is left; it delivers the next event if it
  // may (the one before has been taken from the queue) and says whether it did.
  virtual bool DeliverPendingInput() { return false; }
  // Whether windows reach a real screen; false when they are drawn only in
  // memory (the headless display, or none). Starts the display.
  virtual bool HasScreen() { return false; }
};
void SetDisplayHooks(DisplayHooks *hooks);
DisplayHooks &Display();

// The standard control classes (Button, Static, Edit, ListBox, ComboBox,
// ScrollBar and the dialog class #32770) belong to the drawing half of the
// layer. They are registered on demand: the first CreateWindowExA or
// GetClassInfo(Ex)A of one of these names that finds no class loads the
// drawing library (kDrawLibrary, beside the core) and calls its
// kRegisterStandardClasses entry, so a program that links the drawing half
// "as needed" and only names the class still gets the control.
constexpr char kDrawLibrary[] = "libqxdraw.so";
constexpr char kRegisterStandardClasses[] = "QxRegisterStandardClasses";  // extern "C" void (void)

// The menu bar of top-level windows, drawn and driven by the controls part:
// the display calls paint after it has filled the bar (bar in window DC
// coordinates), and DefWindowProcA asks def_proc first (true with result set
// when it handled the message).
struct MenuBarHooks {
  void (*paint)(HWND, HDC, const RECT &bar) = nullptr;
  bool (*def_proc)(HWND, UINT, WPARAM, LPARAM, LRESULT &result) = nullptr;
};
void SetMenuBarHooks(const MenuBarHooks &hooks);
const MenuBarHooks &MenuBar();

// Message boxes without a display answer from QX_MSGBOX_ANSWER (IDOK, IDYES,
// IDNO, IDCANCEL, ... or a number) or from this in-process hook, which wins
// when set. The hook returns 0 to use the default answer.
using MessageBoxAnswerHook = int (*)(HWND, LPCSTR text, LPCSTR caption, UINT type);
void SetMessageBoxAnswerHook(MessageBoxAnswerHook hook);

// Process id of the sender of the message last retrieved by this thread's
// GetMessage/PeekMessage: another process for a message posted across
// processes (as the kernel reported it), else getpid().
pid_t CurrentMessageSenderPid();

// Posts as PostMessageA does, naming the sending process (used by the
// receiver of messages from other processes).
bool PostFromProcess(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, pid_t sender);

}  // namespace qx
