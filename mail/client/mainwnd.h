// The mail client's main window: the choice of the user, opening a user's
// mailbox, the login dialog "Username", the main window procedure with its
// menu "QXMailMenu" and timers, and the daylight-saving check.
#ifndef QX_MAIL_MAINWND_H
#define QX_MAIL_MAINWND_H

#include <string>

#include <windows.h>

enum MailCommand {
  IDM_NEWFOLDER = 100,
  IDM_DELETEFOLDER = 101,
  IDM_CONFIGURE = 102,
  IDM_READFONT = 103,
  IDM_COMPOSEFONT = 104,
  IDM_ALIAS = 105,
  IDM_REBUILD = 106,
  IDM_READ = 107,
  IDM_RETRIEVE = 108,
  IDM_SENDDEFERRED = 109,
  IDM_COMPOSE = 110,
  IDM_PRINTSETUP = 111,
  IDM_EXIT = 112,
  IDM_NEWUSER = 113,
  IDM_ABOUT = 300,
  IDM_HELPINDEX = 301,
  IDM_HELPCONFIG = 302,
  IDM_HELPUSING = 303
};

// Controls of the login dialog "Username".
enum { IDC_LOGIN_USER = 450, IDC_LOGIN_PASSWORD = 451 };

constexpr const char *kMailClass = "QXMailClass";

extern HWND g_MainWindow;

// The user from the command line (name), else "DefaultUsername" of
// [default] in "QXMAIL.INI", else "QXNFSUsername" of WIN.INI; the password
// is cleared. "*register" stays as it is: the registry value it names is
// another product's, in a form that product keeps to itself.
void SelectUser(std::string &name, std::string &password);
// Opens Settings().user's mailbox: 0 when open (or open with reading
// disabled), 1 when the user gave up.
int OpenMailbox(HWND owner);
// The "Username" dialog: 1 when a mailbox was opened, 2 on Cancel.
INT_PTR LoginDialog(HWND owner);
// The Date header's zone offset from the system's rules, summer time included.
int CheckDaylightSaving();

bool RegisterMailClasses(HINSTANCE instance);
// The main window, its items 100 to 110 greyed until a mailbox is open.
HWND CreateMailWindow(HINSTANCE instance, int show);
LRESULT CALLBACK MailWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Whether a menu command has been built into this program (the others stay greyed).
bool MailCommandAvailable(UINT id);

#endif
