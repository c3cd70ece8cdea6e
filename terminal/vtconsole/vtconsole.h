// vtconsole: the terminal client's window, keyboard, display and session
// loop around the emulator core, the telnet layer and the command line.
#ifndef QX_TERMINAL_VTCONSOLE_H
#define QX_TERMINAL_VTCONSOLE_H

#include <qxcommon.h>
#include <windows.h>
#include <winsock.h>

#include <string>

#include "command_line.h"
#include "keymap.h"
#include "keys.h"
#include "telnet.h"
#include "vt_core.h"

// Private messages.
constexpr UINT WM_TERMCONNECT = 0x7000;  // run the connection driver
constexpr UINT WM_TERMSOCKET = 0x7FFF;   // socket event of WSAAsyncSelect

// Menu commands.
enum : UINT {
  IDM_EXIT = 1,
  IDM_COPY = 100,
  IDM_PASTE = 101,
  IDM_SELECTALL = 102,
  IDM_SCROLLBUFFER = 109,
  IDM_FONT0 = 110,  // .. 118
  IDM_ALTESC = 201,
  IDM_ALTF4 = 202,
  IDM_ALTTAB = 203,
  IDM_JUMP1 = 301,  // .. 304
  IDM_ALTSPACE = 401,
  IDM_ALTF = 402,
  IDM_ALTE = 404,
  IDM_ALTT = 406,
  IDM_ALTH = 408,
  IDM_SETUP_DIRECTORY = 103,  // .. 108: the settings dialogs
  IDM_DEFAULT = 414,
  IDM_SAVEAS = 416,
  IDM_RECALL = 417,
  IDM_DISCONNECT = 418,
  IDM_CONNECT = 419,
  IDM_HELPINDEX = 500,
  IDM_HELPHELP = 501,
  IDM_ABOUT = 502,
  IDM_NEWWINDOW = 800,
  IDM_MODEL2 = 1002,  // .. 1005: TN3270 Mode, 3278-2 to 3278-5
};

// ---- the program (main.cpp)
extern HINSTANCE g_Instance;
extern HWND g_MainWindow;
extern bool g_WindowGone;
extern VtTerminal *g_Term;
extern TERM_START g_Start;
extern TERM_COMMAND_LINE g_CommandLine;
extern char g_IniFile[MAX_PATH];
constexpr const char *kSection = "QX220";
void Bell();

// ---- the session (session.cpp)
struct SESSION {
  SOCKET sock = INVALID_SOCKET;
  TELNET_STATE tn;
  unsigned char recv[1025];
  int recvCount = 0;
  int recvIndex = 0;
  std::string echo;  // locally echoed bytes, shown by the parser directly
  std::string out;   // the one ordered output queue
  bool flushing = false;
  bool eventFlag = false;  // a socket event, a key or a command wants the loop
  LPARAM lastSelect = 0;   // the last WM_TERMSOCKET's event and error
  std::string host;
};
extern SESSION g_Session;

// 0 ended (the window stays), -1 quitting or no host given.
int SessionRun(const char *host);
// Sends what the output queue holds, pumping; re-entrant calls only queue.
void SessionFlush();
// A typed byte: encoded to the host, echoed when the terminal echoes.
void SessionSendByte(unsigned char b);
void SessionSendText(const char *text, size_t length);
void SessionSendBreak();
void SessionDisconnect();
void SessionSocketEvent(WPARAM wParam, LPARAM lParam);
// True while a session (connecting, logging in or looping) takes keys from the ring.
bool SessionRunning();
// The emulator's replies go to the host through this.
TermHost *SessionHostInterface();

// ---- the 3270 binding (tn3270_binding.cpp)
extern int g_Tn3270Model;  // 2..5, from TN3270_MODE
// Starts 3270 mode for the session (idempotent); false when no slot is free.
bool Tn3270Start();
// Leaves 3270 mode: the record buffer and slot are freed, the VT screen returns.
void Tn3270Stop();
bool Tn3270Active();
// The display parameters again, at the start of a session loop in 3270 mode.
void Tn3270SessionParams();
// A data byte of the host's record; the record complete (IAC EOR, eor = 1).
void Tn3270HostByte(unsigned char b);
void Tn3270HostData(int eor);
// Keyboard strings from the key map, and one typed character.
void Tn3270SendKeys(const char *text);
void Tn3270SendKey(unsigned char b);

// ---- the window (display.cpp)
class TermWindow;
extern TermWindow *g_Display;
bool TermWindowCreate(const char *title, int show);
// The part of the window procedure the display keeps; true when consumed.
bool TermWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result);
void TermRefresh();
void TermSetFont(int index);
void TermSetHistory(bool on);
bool TermHistoryOn();
void TermSetJumpScroll(int lines);
void TermSelectAll();
bool TermSelectionShown();
void TermSelectionClear();
std::string TermSelectionText();
void TermLayout();
// The window takes the screen's rows and columns (a 3270 geometry change).
void TermFitScreen();
TermDisplay *TermDisplayInterface();

// ---- the keyboard (keyboard.cpp)
extern BYTE g_ShiftState;
int TermKeyRingPut(BYTE keyCode, BYTE shiftState, UINT virtualKey, BYTE scanCode);
bool TermKeyRingGet(BYTE &keyCode, BYTE &modifier);
int TermKeyRingCount();
bool TermKeyMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void TermKeyStateFromKeyboard();
void TermPasteClipboard();
void TermCopySelection();

// ---- key map, hot keys and Set-Up (hot_keys.cpp)
extern TERM_KEYMAP g_KeyMap;
// A key from the ring: a hot key, a Set-Up key, or bytes for the host.
int TermKeyDispatch(BYTE keyCode, BYTE modifier);
// Without a session: hot keys and Set-Up keys act at once, other keys are dropped.
void TermDrainKeysOffline();
bool TermSetupActive();
void TermSetupMessage(const char *text);
// Loads a key map by name; failures are shown and leave the built-in map.
void TermReloadKeyMap(const char *name);

#endif
