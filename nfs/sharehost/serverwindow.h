// What sharehost gives the module of its windows (QXSRVWIN.DLL): the
// information window with the request counters, and the exports and open-files
// dialogs. The service never draws until an administrator asks for the window
// (control 128), so the dialogs live in a module loaded by name at that
// moment and the service starts without the drawing half of the layer.
//
// Everything here runs on the service's window thread: the module reads the
// counters and calls back into the server without a lock.
#pragma once

#include <windows.h>

#include <cstdint>

#define SERVER_WINDOW_MODULE "QXSRVWIN.DLL"
// Posted to the information window (and as a WM_COMMAND id to the main
// window): redraw the counters.
#define WM_SERVER_REFRESH 0x7000

// Adds one line to a list being filled.
typedef void (*SERVER_LINE_SINK)(const char *line, void *context);

typedef struct SERVER_WINDOW_LINK {
  HWND main_window;             // the hidden main window: its timer 2 is the refresh period
  uint32_t *counters;           // REQUEST_COUNTERS, 33 words
  uint32_t *refresh;            // the Refresh setting, seconds 1..64
  uint32_t *priority;           // the Priority setting, 0..100
  const char *ini_file;         // QXAPPS.INI: [QXServer] keeps the windows' places
  int (*reload_exports)(void);  // re-reads the exports file: 0, or -1 (the old table stays)
  void (*export_lines)(SERVER_LINE_SINK sink, void *context);     // one line per export
  void (*open_file_lines)(SERVER_LINE_SINK sink, void *context);  // one line per lock-manager node
  void (*info_closed)(void);                                      // the information window's Close button hid it
} SERVER_WINDOW_LINK;

// Exports of the module, found with GetProcAddress.
// ShowServerWindow: creates the information window the first time, shows it
// and brings it to the front; returns it, or 0 when it cannot be made.
typedef HWND(WINAPI *SHOW_SERVER_WINDOW)(const SERVER_WINDOW_LINK *link);
// ServerWindowMessage: the message loop's IsDialogMessage for the module's
// dialogs; TRUE when one of them took the message.
typedef BOOL(WINAPI *SERVER_WINDOW_MESSAGE)(MSG *message);
// CloseServerWindows: destroys every window of the module (their places are saved).
typedef void(WINAPI *CLOSE_SERVER_WINDOWS)(void);
