// The settings dialogs of the Setup menu: "DIRECTORY" (the hub), "DISPLAY",
// "GENERAL", "PRINTER", "KEYBOARD", "TAB" and, from "DISPLAY", "COLOUR".
// Each works on a copy of the set-up record: OK copies it back and puts it
// into effect, Cancel drops it. A hub whose sub-dialog ended with OK relabels
// its Cancel button "Close" (the changes are kept).
#ifndef QX_TERMINAL_VTCONSOLE_SETTINGS_DIALOGS_H
#define QX_TERMINAL_VTCONSOLE_SETTINGS_DIALOGS_H

#include <windows.h>

#include <string>

#include "keymap.h"
#include "vt_core.h"

// What the dialogs ask of the program around them.
class SettingsHost {
 public:
  virtual ~SettingsHost() = default;
  virtual void ClearDisplay() {}
  virtual void ClearComm() {}
  virtual void Disconnect() {}
  virtual void ResetTerminal() {}
  // Cursor, columns and colours changed: the window follows and repaints.
  virtual void DisplayChanged() {}
  // A file name chosen by the user (a save or an open dialog); false when cancelled.
  virtual bool ChooseFile(bool save, const char *title, const char *extension, std::string &name) { return false; }
  // A message box for the user.
  virtual void Tell(const char *text) {}
};

// Dialog names as resources: "DIRECTORY", "DISPLAY", "GENERAL", "PRINTER",
// "KEYBOARD", "TAB", "COLOUR". Returns IDOK or IDCANCEL.
INT_PTR TermSettingsDialog(HWND owner, const char *name, VtTerminal &t, TERM_KEYMAP &km, SettingsHost &host);

// "GetHost": the host and port of a new connection, offered from the recent
// hosts ("FILE_n" of [QX220] in iniFile). IDOK with the host and port chosen;
// IDCANCEL with an empty host.
INT_PTR TermHostDialog(HWND owner, const char *iniFile, bool rlogin, SettingsHost &host, std::string &hostName,
                       unsigned &port);

// Control ids.
enum : int {
  IDC_HOST_NAME = 100,
  IDC_HOST_PORT_SCROLL = 101,
  IDC_HOST_PORT = 102,
  IDC_COLOUR_NORMAL = 103,
  IDC_COLOUR_BLINK = 104,
  IDC_COLOUR_UNDERLINE = 105,
  IDC_COLOUR_BLINK_UNDERLINE = 106,
  IDC_COLOUR_GRID = 200,  // .. 263: 200 + 8 x background + foreground
  IDC_DIR_DISPLAY = 405,
  IDC_DIR_GENERAL = 406,
  IDC_DIR_PRINTER = 407,
  IDC_DIR_KEYBOARD = 408,
  IDC_DIR_TAB = 409,
  IDC_DIR_CLEAR_DISPLAY = 410,
  IDC_DIR_CLEAR_COMM = 411,
  IDC_DIR_DISCONNECT = 412,
  IDC_DIR_RESET = 413,
  IDC_DIR_DEFAULT = 414,
  IDC_DIR_KEY_FILE = 415,
  IDC_DIR_SAVE = 416,
  IDC_DIR_RECALL = 417,
  IDC_DIR_KEY_NAME = 418,
  IDC_DIR_SETUP_NAME = 419,
  IDC_DISPLAY_COLOURS = 515,
  IDC_GENERAL_MODE = 615,
  IDC_PRINTER_FILE = 707,
  IDC_PRINTER_MODE = 708,
  IDC_TAB_CLEAR_ALL = 801,
  IDC_TAB_SET_8 = 802,
  IDC_TAB_SCROLL = 803,
  IDC_TAB_LABEL = 804,
  IDC_TAB_SET = 805,
  IDC_TAB_CLEAR = 806,
  IDC_KEYBOARD_LANGUAGE = 917,
  IDC_KEYBOARD_ANSWERBACK = 918,
};

#endif
