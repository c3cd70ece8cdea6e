// The SDL2 display driver: one borderless desktop window per top-level window
// (the frame and caption are drawn by the layer, in the NT 4 look), pixels
// copied from the window's surface, and keyboard and mouse events turned into
// PC scan codes and screen points for the layer's input path.
#include <SDL.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstring>
#include <map>

#include "display_internal.h"
#include "qx/env.h"

namespace qx::display {
namespace {

// SDL (USB HID) scan codes to PC scan codes, set 1; 0x100 marks the extended flag.
int PcScan(SDL_Scancode s) {
  static const unsigned char kLetters[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17,
                                             0x24, 0x25, 0x26, 0x32, 0x31, 0x18, 0x19, 0x10, 0x13,
                                             0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};
  if (s >= SDL_SCANCODE_A && s <= SDL_SCANCODE_Z) return kLetters[s - SDL_SCANCODE_A];
  if (s >= SDL_SCANCODE_1 && s <= SDL_SCANCODE_0) return 0x02 + (s - SDL_SCANCODE_1);
  if (s >= SDL_SCANCODE_F1 && s <= SDL_SCANCODE_F10) return 0x3B + (s - SDL_SCANCODE_F1);
  switch (s) {
    case SDL_SCANCODE_RETURN: return 0x1C;
    case SDL_SCANCODE_ESCAPE: return 0x01;
    case SDL_SCANCODE_BACKSPACE: return 0x0E;
    case SDL_SCANCODE_TAB: return 0x0F;
    case SDL_SCANCODE_SPACE: return 0x39;
    case SDL_SCANCODE_MINUS: return 0x0C;
    case SDL_SCANCODE_EQUALS: return 0x0D;
    case SDL_SCANCODE_LEFTBRACKET: return 0x1A;
    case SDL_SCANCODE_RIGHTBRACKET: return 0x1B;
    case SDL_SCANCODE_BACKSLASH:
    case SDL_SCANCODE_NONUSHASH: return 0x2B;
    case SDL_SCANCODE_SEMICOLON: return 0x27;
    case SDL_SCANCODE_APOSTROPHE: return 0x28;
    case SDL_SCANCODE_GRAVE: return 0x29;
    case SDL_SCANCODE_COMMA: return 0x33;
    case SDL_SCANCODE_PERIOD: return 0x34;
    case SDL_SCANCODE_SLASH: return 0x35;
    case SDL_SCANCODE_CAPSLOCK: return 0x3A;
    case SDL_SCANCODE_F11: return 0x57;
    case SDL_SCANCODE_F12: return 0x58;
    case SDL_SCANCODE_PRINTSCREEN: return 0x137;
    case SDL_SCANCODE_SCROLLLOCK: return 0x46;
    case SDL_SCANCODE_PAUSE: return 0x45;
    case SDL_SCANCODE_INSERT: return 0x152;
    case SDL_SCANCODE_HOME: return 0x147;
    case SDL_SCANCODE_PAGEUP: return 0x149;
    case SDL_SCANCODE_DELETE: return 0x153;
    case SDL_SCANCODE_END: return 0x14F;
    case SDL_SCANCODE_PAGEDOWN: return 0x151;
    case SDL_SCANCODE_RIGHT: return 0x14D;
    case SDL_SCANCODE_LEFT: return 0x14B;
    case SDL_SCANCODE_DOWN: return 0x150;
    case SDL_SCANCODE_UP: return 0x148;
    case SDL_SCANCODE_NUMLOCKCLEAR: return 0x145;
    case SDL_SCANCODE_KP_DIVIDE: return 0x135;
    case SDL_SCANCODE_KP_MULTIPLY: return 0x37;
    case SDL_SCANCODE_KP_MINUS: return 0x4A;
    case SDL_SCANCODE_KP_PLUS: return 0x4E;
    case SDL_SCANCODE_KP_ENTER: return 0x11C;
    case SDL_SCANCODE_KP_1: return 0x4F;
    case SDL_SCANCODE_KP_2: return 0x50;
    case SDL_SCANCODE_KP_3: return 0x51;
    case SDL_SCANCODE_KP_4: return 0x4B;
    case SDL_SCANCODE_KP_5: return 0x4C;
    case SDL_SCANCODE_KP_6: return 0x4D;
    case SDL_SCANCODE_KP_7: return 0x47;
    case SDL_SCANCODE_KP_8: return 0x48;
    case SDL_SCANCODE_KP_9: return 0x49;
    case SDL_SCANCODE_KP_0: return 0x52;
    case SDL_SCANCODE_KP_PERIOD: return 0x53;
    case SDL_SCANCODE_NONUSBACKSLASH: return 0x56;
    case SDL_SCANCODE_APPLICATION: return 0x15D;
    case SDL_SCANCODE_LCTRL: return 0x1D;
    case SDL_SCANCODE_LSHIFT: return 0x2A;
    case SDL_SCANCODE_LALT: return 0x38;
    case SDL_SCANCODE_LGUI: return 0x15B;
    case SDL_SCANCODE_RCTRL: return 0x11D;
    case SDL_SCANCODE_RSHIFT: return 0x36;
    case SDL_SCANCODE_RALT: return 0x138;
    case SDL_SCANCODE_RGUI: return 0x15C;
    default: return -1;
  }
}

class SdlDriver : public Driver {
 public:
  bool Start() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");  // the program's own signal handling stays
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
    // When no display takes us (an X server that refuses our cookie) SDL
    // falls back to a driver that draws nowhere; the layer's own headless
    // display is the honest answer then (QxDisplayHasScreen says so).
    const char *video = SDL_GetCurrentVideoDriver();
    if (!video || std::strcmp(video, "offscreen") == 0 || std::strcmp(video, "dummy") == 0) {
      Trace("display: SDL2 found no screen (its %s video driver)", video ? video : "missing");
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      return false;
    }
    tick_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (tick_ < 0) return false;
    // SDL has no descriptor of its own to wait on: a 20 ms tick polls it.
    itimerspec t{};
    t.it_interval.tv_nsec = 20 * 1000 * 1000;
    t.it_value.tv_nsec = 20 * 1000 * 1000;
    timerfd_settime(tick_, 0, &t, nullptr);
    return true;
  }

  const char *Name() const override { return "sdl"; }

  void Destroyed(HWND hwnd) override {
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return;
    SDL_DestroyWindow(it->second);
    windows_.erase(it);
  }

  void Shown(HWND hwnd, bool visible, int, const RECT &r, const std::string &title) override {
    SDL_Window *w = Window(hwnd, r, title);
    if (!w) return;
    if (!visible) {
      SDL_HideWindow(w);
      return;
    }
    SDL_ShowWindow(w);
    // A minimised window is iconic on the desktop too.
    if (IsIconic(hwnd))
      SDL_MinimizeWindow(w);
    else if (SDL_GetWindowFlags(w) & SDL_WINDOW_MINIMIZED)
      SDL_RestoreWindow(w);
  }

  void Iconified(HWND hwnd, const std::vector<std::uint32_t> &argb, int size) override {
    auto it = windows_.find(hwnd);
    if (it == windows_.end() || argb.size() != static_cast<size_t>(size) * size) return;
    std::vector<std::uint32_t> copy = argb;  // SDL reads the pixels while making its own copy
    SDL_Surface *s =
        SDL_CreateRGBSurfaceWithFormatFrom(copy.data(), size, size, 32, size * 4, SDL_PIXELFORMAT_ARGB8888);
    if (!s) return;
    SDL_SetWindowIcon(it->second, s);
    SDL_FreeSurface(s);
  }

  void Moved(HWND hwnd, const RECT &r) override {
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return;
    SDL_SetWindowPosition(it->second, r.left, r.top);
    SDL_SetWindowSize(it->second, std::max<LONG>(1, r.right - r.left), std::max<LONG>(1, r.bottom - r.top));
  }

  void Titled(HWND hwnd, const std::string &title) override {
    auto it = windows_.find(hwnd);
    if (it != windows_.end()) SDL_SetWindowTitle(it->second, title.c_str());
  }

  void Present(HWND hwnd, const gdi::Surface &s, const RECT &area) override {
    auto it = windows_.find(hwnd);
    if (it == windows_.end()) return;
    SDL_Surface *ws = SDL_GetWindowSurface(it->second);
    if (!ws || ws->format->BytesPerPixel != 4) return;
    SDL_LockSurface(ws);
    const int w = std::min(ws->w, s.width), h = std::min(ws->h, s.height);
    for (int y = std::max<LONG>(0, area.top); y < std::min<LONG>(h, area.bottom); ++y) {
      auto *row = reinterpret_cast<std::uint32_t *>(static_cast<std::uint8_t *>(ws->pixels) +
                                                    static_cast<size_t>(y) * ws->pitch);
      for (int x = std::max<LONG>(0, area.left); x < std::min<LONG>(w, area.right); ++x)
        row[x] = SDL_MapRGB(ws->format, (s.Get(x, y) >> 16) & 0xFF, (s.Get(x, y) >> 8) & 0xFF, s.Get(x, y) & 0xFF);
    }
    SDL_UnlockSurface(ws);
    SDL_UpdateWindowSurface(it->second);
  }

  void Cursor(LPCSTR id) override {
    const uintptr_t n = reinterpret_cast<uintptr_t>(id);
    SDL_SystemCursor which = SDL_SYSTEM_CURSOR_ARROW;
    switch (n) {
      case 32513: which = SDL_SYSTEM_CURSOR_IBEAM; break;
      case 32514: which = SDL_SYSTEM_CURSOR_WAIT; break;
      case 32515: which = SDL_SYSTEM_CURSOR_CROSSHAIR; break;
      case 32642: which = SDL_SYSTEM_CURSOR_SIZENWSE; break;
      case 32643: which = SDL_SYSTEM_CURSOR_SIZENESW; break;
      case 32644: which = SDL_SYSTEM_CURSOR_SIZEWE; break;
      case 32645: which = SDL_SYSTEM_CURSOR_SIZENS; break;
      case 32646:
      case 32640: which = SDL_SYSTEM_CURSOR_SIZEALL; break;
      case 32648: which = SDL_SYSTEM_CURSOR_NO; break;
      case 32650: which = SDL_SYSTEM_CURSOR_WAITARROW; break;
      default: break;
    }
    SDL_Cursor *&c = cursors_[which];
    if (!c) c = SDL_CreateSystemCursor(which);
    if (c) SDL_SetCursor(c);
  }

  void Flash(HWND hwnd) override {
    auto it = windows_.find(hwnd);
    if (it != windows_.end()) SDL_FlashWindow(it->second, SDL_FLASH_BRIEFLY);
  }

  bool ClipboardText(std::string &text) override {
    if (!SDL_HasClipboardText()) return false;
    char *t = SDL_GetClipboardText();
    if (!t) return false;
    text = t;
    SDL_free(t);
    return true;
  }

  void SetClipboardText(const std::string &text) override { SDL_SetClipboardText(text.c_str()); }

  int InputFd() override { return tick_; }

  void PumpInput() override {
    std::uint64_t ticks = 0;
    (void)!read(tick_, &ticks, sizeof ticks);
    blink_ms_ += static_cast<int>(ticks) * 20;
    if (blink_ms_ >= static_cast<int>(CaretBlinkTime())) {
      blink_ms_ = 0;
      BlinkCaret();
    }
    SDL_Event e;
    while (SDL_PollEvent(&e)) Handle(e);
  }

 private:
  SDL_Window *Window(HWND hwnd, const RECT &r, const std::string &title) {
    auto it = windows_.find(hwnd);
    if (it != windows_.end()) return it->second;
    SDL_Window *w = SDL_CreateWindow(title.c_str(), r.left, r.top, std::max<LONG>(1, r.right - r.left),
                                     std::max<LONG>(1, r.bottom - r.top), SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN);
    if (w) windows_[hwnd] = w;
    return w;
  }

  HWND Owner(Uint32 id) {
    for (auto &[h, w] : windows_)
      if (SDL_GetWindowID(w) == id) return h;
    return nullptr;
  }

  POINT ScreenPoint(Uint32 id, int x, int y) {
    for (auto &[h, w] : windows_)
      if (SDL_GetWindowID(w) == id) {
        RECT r;
        GetWindowRect(h, &r);
        return POINT{r.left + x, r.top + y};
      }
    return POINT{x, y};
  }

  void Handle(const SDL_Event &e) {
    switch (e.type) {
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        const int pc = PcScan(e.key.keysym.scancode);
        if (pc >= 0) InjectKey(static_cast<BYTE>(pc & 0xFF), (pc & 0x100) != 0, e.type == SDL_KEYDOWN);
        break;
      }
      case SDL_MOUSEMOTION: InjectMouseMove(ScreenPoint(e.motion.windowID, e.motion.x, e.motion.y)); break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        const int button = e.button.button == SDL_BUTTON_LEFT ? 1 : e.button.button == SDL_BUTTON_RIGHT ? 2 : 3;
        InjectMouseButton(ScreenPoint(e.button.windowID, e.button.x, e.button.y), button,
                          e.type == SDL_MOUSEBUTTONDOWN);
        break;
      }
      case SDL_WINDOWEVENT: {
        HWND h = Owner(e.window.windowID);
        if (!h) break;
        if (e.window.event == SDL_WINDOWEVENT_CLOSE) PostMessageA(h, WM_SYSCOMMAND, SC_CLOSE, 0);
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED) PresentWindow(h);
        break;
      }
      default: break;
    }
  }

  int tick_ = -1;
  int blink_ms_ = 0;
  std::map<HWND, SDL_Window *> windows_;
  std::map<int, SDL_Cursor *> cursors_;
};

}  // namespace

Driver *MakeSdlDriver() {
  auto *d = new SdlDriver;
  if (!d->Start()) {
    Trace("display: SDL2 could not start (%s); headless", SDL_GetError());
    delete d;
    return nullptr;
  }
  return d;
}

}  // namespace qx::display
