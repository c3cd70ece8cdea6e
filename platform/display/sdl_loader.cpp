// The SDL2 calls of the display driver and the wave devices, bound on first
// use: libSDL2 (and the forty libraries it maps: X11, Wayland, PulseAudio,
// codecs) is loaded when a process first opens a real display or an audio
// device, so the headless display, daemons and every short-lived tool do not
// pay for loading and relocating it at start. The definitions below take the
// place of the library's own for the shared library they are built into
// (libqxdraw and libqxwinmm each hold a copy, hidden: never exported); each
// forwards to the library and answers as a failed call when it is missing.

// Declared hidden here, so the definitions stay inside the library that
// holds them; callers elsewhere in the same library bind to them.
#define DECLSPEC __attribute__((visibility("hidden")))
#include <SDL.h>

#include "qx/lazy_library.h"

namespace {
qx::LazyLibrary g_sdl{"libSDL2-2.0.so.0", "a display or sound device", "libsdl2-2.0-0"};
constexpr const char *kMissing = "the SDL2 library (libSDL2-2.0.so.0) could not be loaded; install libsdl2-2.0-0";
}  // namespace

// The library's function of this name, bound once.
#define QX_SDL(name) QX_LAZY_CALL(g_sdl, name)

// A forwarder that answers `failed` when the library or the name is missing.
#define QX_SDL_CALL(name, failed, ...) \
  auto f = QX_SDL(name);               \
  return f ? f(__VA_ARGS__) : failed
// A forwarder of a call without a result.
#define QX_SDL_DO(name, ...) \
  if (auto f = QX_SDL(name)) f(__VA_ARGS__)

extern "C" {

// Start-up, errors, hints and memory.
int SDL_Init(Uint32 flags) { QX_SDL_CALL(SDL_Init, -1, flags); }
int SDL_InitSubSystem(Uint32 flags) { QX_SDL_CALL(SDL_InitSubSystem, -1, flags); }
void SDL_QuitSubSystem(Uint32 flags) { QX_SDL_DO(SDL_QuitSubSystem, flags); }
const char *SDL_GetCurrentVideoDriver(void) { QX_SDL_CALL(SDL_GetCurrentVideoDriver, nullptr); }
const char *SDL_GetError(void) { QX_SDL_CALL(SDL_GetError, kMissing); }
SDL_bool SDL_SetHint(const char *name, const char *value) { QX_SDL_CALL(SDL_SetHint, SDL_FALSE, name, value); }
void SDL_free(void *mem) { QX_SDL_DO(SDL_free, mem); }
void SDL_Delay(Uint32 ms) { QX_SDL_DO(SDL_Delay, ms); }
int SDL_PollEvent(SDL_Event *event) { QX_SDL_CALL(SDL_PollEvent, 0, event); }

// Windows.
SDL_Window *SDL_CreateWindow(const char *title, int x, int y, int w, int h, Uint32 flags) {
  QX_SDL_CALL(SDL_CreateWindow, nullptr, title, x, y, w, h, flags);
}
void SDL_DestroyWindow(SDL_Window *window) { QX_SDL_DO(SDL_DestroyWindow, window); }
int SDL_FlashWindow(SDL_Window *window, SDL_FlashOperation operation) {
  QX_SDL_CALL(SDL_FlashWindow, -1, window, operation);
}
Uint32 SDL_GetWindowFlags(SDL_Window *window) { QX_SDL_CALL(SDL_GetWindowFlags, 0, window); }
Uint32 SDL_GetWindowID(SDL_Window *window) { QX_SDL_CALL(SDL_GetWindowID, 0, window); }
SDL_Surface *SDL_GetWindowSurface(SDL_Window *window) { QX_SDL_CALL(SDL_GetWindowSurface, nullptr, window); }
int SDL_UpdateWindowSurface(SDL_Window *window) { QX_SDL_CALL(SDL_UpdateWindowSurface, -1, window); }
void SDL_HideWindow(SDL_Window *window) { QX_SDL_DO(SDL_HideWindow, window); }
void SDL_ShowWindow(SDL_Window *window) { QX_SDL_DO(SDL_ShowWindow, window); }
void SDL_MinimizeWindow(SDL_Window *window) { QX_SDL_DO(SDL_MinimizeWindow, window); }
void SDL_RestoreWindow(SDL_Window *window) { QX_SDL_DO(SDL_RestoreWindow, window); }
void SDL_SetWindowIcon(SDL_Window *window, SDL_Surface *icon) { QX_SDL_DO(SDL_SetWindowIcon, window, icon); }
void SDL_SetWindowPosition(SDL_Window *window, int x, int y) { QX_SDL_DO(SDL_SetWindowPosition, window, x, y); }
void SDL_SetWindowSize(SDL_Window *window, int w, int h) { QX_SDL_DO(SDL_SetWindowSize, window, w, h); }
void SDL_SetWindowTitle(SDL_Window *window, const char *title) { QX_SDL_DO(SDL_SetWindowTitle, window, title); }

// Surfaces and cursors.
SDL_Surface *SDL_CreateRGBSurfaceWithFormatFrom(void *pixels, int width, int height, int depth, int pitch,
                                                Uint32 format) {
  QX_SDL_CALL(SDL_CreateRGBSurfaceWithFormatFrom, nullptr, pixels, width, height, depth, pitch, format);
}
void SDL_FreeSurface(SDL_Surface *surface) { QX_SDL_DO(SDL_FreeSurface, surface); }
int SDL_LockSurface(SDL_Surface *surface) { QX_SDL_CALL(SDL_LockSurface, -1, surface); }
void SDL_UnlockSurface(SDL_Surface *surface) { QX_SDL_DO(SDL_UnlockSurface, surface); }
Uint32 SDL_MapRGB(const SDL_PixelFormat *format, Uint8 r, Uint8 g, Uint8 b) {
  QX_SDL_CALL(SDL_MapRGB, 0, format, r, g, b);
}
SDL_Cursor *SDL_CreateSystemCursor(SDL_SystemCursor id) { QX_SDL_CALL(SDL_CreateSystemCursor, nullptr, id); }
void SDL_SetCursor(SDL_Cursor *cursor) { QX_SDL_DO(SDL_SetCursor, cursor); }

// The clipboard.
char *SDL_GetClipboardText(void) { QX_SDL_CALL(SDL_GetClipboardText, nullptr); }
SDL_bool SDL_HasClipboardText(void) { QX_SDL_CALL(SDL_HasClipboardText, SDL_FALSE); }
int SDL_SetClipboardText(const char *text) { QX_SDL_CALL(SDL_SetClipboardText, -1, text); }

// Audio devices.
int SDL_GetNumAudioDevices(int iscapture) { QX_SDL_CALL(SDL_GetNumAudioDevices, -1, iscapture); }
const char *SDL_GetAudioDeviceName(int index, int iscapture) {
  QX_SDL_CALL(SDL_GetAudioDeviceName, nullptr, index, iscapture);
}
const char *SDL_GetCurrentAudioDriver(void) { QX_SDL_CALL(SDL_GetCurrentAudioDriver, nullptr); }
SDL_AudioDeviceID SDL_OpenAudioDevice(const char *device, int iscapture, const SDL_AudioSpec *desired,
                                      SDL_AudioSpec *obtained, int allowed_changes) {
  QX_SDL_CALL(SDL_OpenAudioDevice, 0, device, iscapture, desired, obtained, allowed_changes);
}
void SDL_CloseAudioDevice(SDL_AudioDeviceID dev) { QX_SDL_DO(SDL_CloseAudioDevice, dev); }
void SDL_PauseAudioDevice(SDL_AudioDeviceID dev, int pause_on) { QX_SDL_DO(SDL_PauseAudioDevice, dev, pause_on); }
void SDL_LockAudioDevice(SDL_AudioDeviceID dev) { QX_SDL_DO(SDL_LockAudioDevice, dev); }
void SDL_UnlockAudioDevice(SDL_AudioDeviceID dev) { QX_SDL_DO(SDL_UnlockAudioDevice, dev); }

}  // extern "C"
