// The burrowview program's state that its dialogs share with the main
// window (burrowview.cpp owns it), and the commands its other source files
// run: bookmarks and checkpoints (bookmark_dialogs.cpp), the configuration
// dialog, the server chooser and the colours (settings_dialogs.cpp).
#ifndef QX_GOPHER_CLIENT_BURROWVIEW_H
#define QX_GOPHER_CLIENT_BURROWVIEW_H

#include <windows.h>

constexpr const char *kBurrowviewName = "burrowview";
constexpr const char *kBurrowviewError = "burrowview Error";

extern HINSTANCE g_Instance;
extern HWND g_MainWnd;
extern HWND g_Dlg;  // the client-area dialog with the tree (203) and document (204) lists
// Whether adding a root first empties the tree; changed by the dialogs.
extern int g_ClearFirst;
extern int g_InitialAction;
extern char g_HomeHost[256], g_HomeKey[256], g_HomeCheckpoint[256], g_HomeBookmark[256];
extern int g_HomePort;
extern COLORREF g_DocColor, g_TreeColor;
extern HBRUSH g_DocBrush, g_TreeBrush;
// QXAPPS.INI (section "burrowview") and BURROWVIEW.INI (bookmarks and checkpoints).
const char *AppsIniPath();
const char *PrivateIniPath();

struct GopherItem;
// Adds a server, bookmark or chosen item as a root (after the clear-first
// flag) with the main window titled after its host, and retrieves it.
void AddRootWithTitle(GopherItem *item);

// Commands 101, 102 and 107 to 112.
void BookmarkCommand(HWND window, int id);
// Commands 103, 104, 118 and 119.
void SettingsCommand(HWND window, int id);
// The colour every dialog of the program answers its WM_CTLCOLOR* messages
// with: a button-face brush with an opaque button-face background. 0 for
// other messages.
INT_PTR DialogColour(UINT message, WPARAM wParam);
void FreeDialogColour();

#endif
