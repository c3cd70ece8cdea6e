// The mail client's main window: a menu bar over one user's mailbox, timer 1
// for timed retrieval (one-minute ticks counting Interval down), timer 2 for
// the new-mail flashes, and the busy flag that keeps one command at a time.
#include "mainwnd.h"

#include <array>
#include <ctime>

#include "choicepop.h"
#include "folderdlg.h"
#include "msglist.h"
#include "msgprint.h"
#include "mailfs.h"
#include "maildlg.h"
#include "mailstore.h"
#include "pop.h"
#include "recipients.h"
#include "sendqueue.h"
#include "startcompose.h"
#include "compose.h"
#include "retrieve.h"
#include "settings.h"
#include "smtp.h"

#include <qxcommon.h>

HWND g_MainWindow = nullptr;

namespace {

// String-table texts of the main window.
enum {
  IDS_PASSWORD_REQUIRED = 32,
  IDS_NEW_USER = 33,
  IDS_USER_NOT_FOUND = 34,
  IDS_MAILBOX_IN_USE = 35,
  IDS_MAILBOX_LOCKED = 36,
  IDS_REBUILD_COMPLETE = 43,
  IDS_REBUILD = 44,
  IDS_ALIAS_MANAGEMENT = 93,
  IDS_ALIAS_FAILED = 94,
  IDS_NO_ALIAS_LIBRARY = 95,
  IDS_OLD_INDEX = 143,
  IDS_OLD_INDEX_CAPTION = 144
};

MailboxLock g_lock;

// Items the mailbox enables: all of them with the lock, these without it.
constexpr UINT kFirstMailboxItem = IDM_NEWFOLDER, kLastMailboxItem = IDM_COMPOSE;
constexpr UINT kReadDisabledItems[] = {IDM_COMPOSE, IDM_CONFIGURE, IDM_ALIAS, IDM_SENDDEFERRED};

// ---- resources ------------------------------------------------------------------

const QX_MENU_ITEM kFolderMenu[] = {
    QX_MENUITEM_F("&New...", IDM_NEWFOLDER, MF_GRAYED),
    QX_MENUITEM_F("&Delete...", IDM_DELETEFOLDER, MF_GRAYED),
    QX_MENUITEM_F("Re&build", IDM_REBUILD, MF_GRAYED),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("New &User...", IDM_NEWUSER),
    QX_MENUITEM_F("&Configure...", IDM_CONFIGURE, MF_GRAYED),
    QX_MENUITEM("P&rint Setup...", IDM_PRINTSETUP),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("E&xit", IDM_EXIT),
};
const QX_MENU_ITEM kFontMenu[] = {
    QX_MENUITEM_F("&Display Font...", IDM_READFONT, MF_GRAYED),
    QX_MENUITEM_F("&Editor Font...", IDM_COMPOSEFONT, MF_GRAYED),
    QX_MENUITEM_F("&Alias Management", IDM_ALIAS, MF_GRAYED),
};
const QX_MENU_ITEM kTransferMenu[] = {
    QX_MENUITEM_F("&Retrieve", IDM_RETRIEVE, MF_GRAYED),
    QX_MENUITEM_F("&Send Deferred", IDM_SENDDEFERRED, MF_GRAYED),
};
const QX_MENU_ITEM kHelpMenu[] = {
    QX_MENUITEM("&Help Index", IDM_HELPINDEX),  QX_MENUITEM("&Configuration Help", IDM_HELPCONFIG),
    QX_MENUITEM("&Using Help", IDM_HELPUSING),  QX_MENUSEPARATOR(),
    QX_MENUITEM("&About QXMail...", IDM_ABOUT),
};
const QX_MENU_ITEM kMainMenuItems[] = {
    QX_POPUP("&Folder", kFolderMenu),
    QX_POPUP("F&ont", kFontMenu),
    QX_MENUITEM_F("&Compose!", IDM_COMPOSE, MF_GRAYED),
    QX_MENUITEM_F("&Read!", IDM_READ, MF_GRAYED),
    QX_POPUP("&Transfer", kTransferMenu),
    QX_POPUP("&Help", kHelpMenu),
};
const QX_MENU kMainMenu = QX_MENU_OF(kMainMenuItems);

constexpr DWORD kLoginEdit = ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;
const QX_DIALOG_ITEM kLoginItems[] = {
    QX_LTEXT("&Username:", -1, 8, 10, 44, 8),
    QX_CONTROL("", IDC_LOGIN_USER, "Edit", kLoginEdit, 56, 8, 100, 12),
    QX_LTEXT("&Password:", -1, 8, 28, 44, 8),
    QX_CONTROL("", IDC_LOGIN_PASSWORD, "Edit", kLoginEdit | ES_PASSWORD, 56, 26, 100, 12),
    QX_DEFPUSHBUTTON("&OK", IDOK, 30, 46, 44, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 90, 46, 44, 14),
};
const QX_DIALOG kLogin = QX_DIALOG_TEMPLATE(40, 40, 164, 66, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                            "Username - Password", "MS Sans Serif", 8, kLoginItems);

const QX_RESOURCE kMainWindowResources[] = {
    QX_RES_MENU("QXMailMenu", kMainMenu),
    QX_RES_DIALOG("Username", kLogin),
    QX_STRING(IDS_PASSWORD_REQUIRED, "Password is Required"),
    QX_STRING(IDS_NEW_USER, "New User"),
    QX_STRING(IDS_USER_NOT_FOUND, "User Not Found; Create ?"),
    QX_STRING(IDS_MAILBOX_IN_USE, "MailBox in use by another PC; reading disabled"),
    QX_STRING(IDS_MAILBOX_LOCKED, "MailBox Locked"),
    QX_STRING(IDS_REBUILD_COMPLETE, "Rebuild Complete"),
    QX_STRING(IDS_REBUILD, "Rebuild"),
    QX_STRING(IDS_ALIAS_MANAGEMENT, "Alias Management"),
    QX_STRING(IDS_ALIAS_FAILED, "The Alias Management routines failed to initialize correctly."),
    QX_STRING(IDS_NO_ALIAS_LIBRARY,
              "The Alias Management Library nicknames.DLL was not found; Alias Management disabled."),
    QX_STRING(IDS_OLD_INDEX,
              "The Mail index file may have an old format and need to be rebuilt.  Would you like to "
              "Rebuild it now?"),
    QX_STRING(IDS_OLD_INDEX_CAPTION, "Old Index File Format"),
};

std::string Text(UINT id) {
  std::array<char, 256> buffer{};
  LoadStringA(GetModuleHandleA(nullptr), id, buffer.data(), static_cast<int>(buffer.size()));
  return buffer.data();
}

// ---- menu -------------------------------------------------------------------------

void EnableItem(HWND window, UINT id, bool enable) {
  EnableMenuItem(GetMenu(window), id, MF_BYCOMMAND | (enable && MailCommandAvailable(id) ? MF_ENABLED : MF_GRAYED));
}

void EnableMailboxItems(HWND window, bool enable) {
  for (UINT id = kFirstMailboxItem; id <= kLastMailboxItem; ++id) EnableItem(window, id, enable);
}

void StopTimedRetrieval(HWND window) { KillTimer(window, kRetrievalTimer); }

// ---- commands -----------------------------------------------------------------------

void Rebuild(HWND window) {
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  RebuildAllFolders(Settings().mailDir);
  SetCursor(previous);
  g_MailMessageBox(window, Text(IDS_REBUILD_COMPLETE).c_str(), Text(IDS_REBUILD).c_str(), MB_ICONINFORMATION);
}

void Retrieve(HWND window) {
  RetrieveMail(window);
  if (Settings().timed) {
    SetTimer(window, kRetrievalTimer, kRetrievalTimerMs, nullptr);
    g_RetrievalCountdown = Settings().interval;
  }
}

void NewUser(HWND window) {
  if (LoginDialog(window) == 1 && Settings().login && RetrieveMail(window) > 0 && !IsIconic(window))
    PostMessageA(window, WM_COMMAND, IDM_READ, 0);  // new mail opens the message list
}

// A command that keeps the busy flag set while it runs.
template <typename Body>
void Busy(Body body) {
  g_MailBusy = 1;
  body();
  g_MailBusy = 0;
}

// Alias Management: the alias library's own dialog on the user's aliases.
void ManageAliases(HWND window) {
  if (g_AliasContext) {
    AliasBinding().AliasManagement(g_AliasContext, window);
    return;
  }
  g_MailMessageBox(window, Text(AliasBinding().bound() ? IDS_ALIAS_FAILED : IDS_NO_ALIAS_LIBRARY).c_str(),
                   Text(IDS_ALIAS_MANAGEMENT).c_str(), MB_ICONERROR);
}

void OnCommand(HWND window, UINT id) {
  if (g_MailBusy || g_RetrievalRunning) return;  // dropped, not queued
  switch (id) {
    case IDM_REBUILD: Busy([&] { Rebuild(window); }); break;
    case IDM_READ: Busy([&] { MessageListDialog(window); }); break;
    case IDM_NEWFOLDER: Busy([&] { NewFolderDialog(window); }); break;
    case IDM_DELETEFOLDER: Busy([&] { DeleteFolderDialog(window); }); break;
    case IDM_NEWUSER: Busy([&] { NewUser(window); }); break;
    case IDM_CONFIGURE: Busy([&] { ConfigureDialog(window); }); break;
    case IDM_RETRIEVE: Busy([&] { Retrieve(window); }); break;
    case IDM_SENDDEFERRED: Busy([&] { SendDeferred(1, window); }); break;
    case IDM_COMPOSE: Busy([&] { StartCompose(window, kComposeMenu, std::string(), {}); }); break;
    case IDM_ALIAS: Busy([&] { ManageAliases(window); }); break;
    case IDM_PRINTSETUP: Busy([&] { MailPrintSetup(window); }); break;
    case IDM_EXIT: PostMessageA(window, WM_CLOSE, 0, 0); break;
    case IDM_ABOUT: Busy([&] { DialogBoxParamA(GetModuleHandleA(nullptr), "About", window, AboutDlgProc, 0); }); break;
    case IDM_HELPINDEX: WinHelpA(window, "RAZUZUZ.HLP", HELP_INDEX, 0); break;
    case IDM_HELPCONFIG:
      WinHelpA(window, "RAZUZUZ.HLP", HELP_KEY, reinterpret_cast<ULONG_PTR>("Mail Configuration"));
      break;
    case IDM_HELPUSING: WinHelpA(window, "WINHELP.HLP", HELP_INDEX, 0); break;
    default: break;
  }
}

// One-minute tick: the countdown reaches the retrieval on the tick that
// finds it at 0; a tick that finds the program busy tries again two ticks on.
void OnRetrievalTick(HWND window) {
  KillTimer(window, kRetrievalTimer);
  if (!Settings().timed) return;
  if (g_RetrievalCountdown-- == 0) {
    if (g_MailBusy || g_RetrievalRunning) {
      g_RetrievalCountdown = 1;
    } else {
      RetrieveMail(window);  // sets the busy flag while it runs
      g_RetrievalCountdown = Settings().interval;
    }
  }
  SetTimer(window, kRetrievalTimer, kRetrievalTimerMs, nullptr);
}

void OnFlashTick(HWND window) {
  if (!IsIconic(window)) {
    KillTimer(window, kFlashTimer);
    g_FlashCount = 0;
  } else if (g_FlashCount > 0) {
    FlashWindow(window, TRUE);
    --g_FlashCount;
  } else {
    KillTimer(window, kFlashTimer);
    FlashWindow(window, FALSE);
    g_FlashCount = 0;
  }
}

HICON MailIcon() { return LoadIconA(nullptr, g_NewMailFlag ? IDI_EXCLAMATION : IDI_APPLICATION); }

}  // namespace

QX_REGISTER_RESOURCES(kMainWindowResources)

bool MailCommandAvailable(UINT id) {
  switch (id) {
    case IDM_READ:
    case IDM_NEWFOLDER:
    case IDM_DELETEFOLDER:
    case IDM_CONFIGURE:
    case IDM_REBUILD:
    case IDM_RETRIEVE:
    case IDM_SENDDEFERRED:
    case IDM_ALIAS:
    case IDM_COMPOSE:
    case IDM_NEWUSER:
    case IDM_EXIT:
    case IDM_ABOUT:
    case IDM_HELPINDEX:
    case IDM_HELPCONFIG:
    case IDM_PRINTSETUP:
    case IDM_HELPUSING: return true;
    default: return false;  // the font windows come later
  }
}

void SelectUser(std::string &name, std::string &password) {
  password.clear();
  if (!name.empty()) return;
  Settings().user = "default";
  name = ReadSetting("DefaultUsername", "<<>>", 64);  // read from [default]
  Settings().user.clear();
  if (name == "<<>>") {
    char text[64] = {};
    GetProfileStringA("Windows", "QXNFSUsername", "", text, sizeof text);
    name = text;
  }
}

int OpenMailbox(HWND owner) {
  MAIL_SETTINGS &s = Settings();
  if (g_lock.Held()) {
    EnableMailboxItems(owner, false);
    DrawMenuBar(owner);
    g_lock.Close();
  }
  // The user's own section decides whether the user exists.
  if (GetProfileAccess()->Get(s.iniFile, s.user, "MailDir", "", 128).empty()) {
    ShowWindow(owner, SW_SHOW);
    if (g_MailMessageBox(owner, Text(IDS_USER_NOT_FOUND).c_str(), Text(IDS_NEW_USER).c_str(),
                         MB_ICONQUESTION | MB_OKCANCEL) != IDOK) {
      StopTimedRetrieval(owner);  // the previous user's timer never fetches into the wrong mailbox
      return 1;
    }
    LoadSettings();
    s.mailDir += "\\" + s.user;
    if (ConfigureDialog(owner) != 1) {
      StopTimedRetrieval(owner);
      return 1;
    }
  }
  if (LoadSettings() != 1) {
    char text[300];
    std::snprintf(text, sizeof text, "Unable to access MailDir directory %s", s.mailDir.c_str());
    g_MailMessageBox(owner, text, "Write Configuration", MB_ICONERROR);
    s.login = s.timed = 0;
    StopTimedRetrieval(owner);
    return 0;
  }
  SetCurrentDirectoryA(s.mailDir.c_str());
  LoadCharacterMap(s.mailDir);
  OpenAliasContext(s.mailDir, s.user);
  if (!g_Mapi && g_lock.Open(s.mailDir)) {
    EnableMailboxItems(owner, true);
  } else {
    // A run for another program's message (Simple MAPI) composes once and
    // leaves the mailbox to the mail client that has it.
    s.login = s.timed = 0;
    if (g_Mapi) s.ccSelf = s.saveSent = 0;
    StopTimedRetrieval(owner);
    for (UINT id : kReadDisabledItems) EnableItem(owner, id, true);
    if (g_Mapi)
      PostMessageA(owner, WM_COMMAND, IDM_COMPOSE, 0);
    else
      g_MailMessageBox(owner, Text(IDS_MAILBOX_IN_USE).c_str(), Text(IDS_MAILBOX_LOCKED).c_str(), MB_ICONINFORMATION);
  }
  DrawMenuBar(owner);
  if (s.timed) {
    g_RetrievalCountdown = s.interval;
    SetTimer(owner, kRetrievalTimer, kRetrievalTimerMs, nullptr);
  } else {
    StopTimedRetrieval(owner);
  }
  SetWindowTextA(owner, s.user.c_str());
  if (!s.indexFormatCurrent && g_lock.Held() &&
      g_MailMessageBox(owner, Text(IDS_OLD_INDEX).c_str(), Text(IDS_OLD_INDEX_CAPTION).c_str(),
                       MB_ICONINFORMATION | MB_YESNO) == IDYES) {
    const int busy = g_MailBusy;
    g_MailBusy = 0;
    SendMessageA(owner, WM_COMMAND, IDM_REBUILD, 0);
    g_MailBusy = busy;
  }
  return 0;
}

// ---- login dialog ---------------------------------------------------------------------

namespace {

INT_PTR CALLBACK LoginDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      g_PasswordVerified = 0;
      SendDlgItemMessageA(dialog, IDC_LOGIN_USER, EM_LIMITTEXT, 63, 0);
      SendDlgItemMessageA(dialog, IDC_LOGIN_PASSWORD, EM_LIMITTEXT, 127, 0);
      SetDlgItemTextA(dialog, IDC_LOGIN_USER, Settings().user.c_str());
      const bool focusPassword = g_PasswordFailed && !Settings().user.empty();
      g_PasswordFailed = 0;
      if (focusPassword) {
        SetFocus(GetDlgItem(dialog, IDC_LOGIN_PASSWORD));
        return FALSE;
      }
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        char user[64] = {}, password[128] = {};
        GetDlgItemTextA(dialog, IDC_LOGIN_USER, user, sizeof user);
        GetDlgItemTextA(dialog, IDC_LOGIN_PASSWORD, password, sizeof password);
        if (!password[0]) {
          g_MailMessageBox(dialog, Text(IDS_PASSWORD_REQUIRED).c_str(), Text(IDS_NEW_USER).c_str(), MB_ICONINFORMATION);
          SetFocus(GetDlgItem(dialog, IDC_LOGIN_PASSWORD));
          return TRUE;
        }
        Settings().user = user;
        g_Password = password;
        if (OpenMailbox(GetParent(dialog) ? GetParent(dialog) : g_MainWindow) == 0) EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 2);
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace

INT_PTR LoginDialog(HWND owner) {
  return DialogBoxParamA(GetModuleHandleA(nullptr), "Username", owner, LoginDlgProc, 0);
}

int CheckDaylightSaving() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  g_ZoneOffsetMinutes = static_cast<int>(local.tm_gmtoff / 60);  // the system's rules, summer time included
  return 0;
}

// ---- main window ---------------------------------------------------------------------

bool RegisterMailClasses(HINSTANCE instance) {
  WNDCLASSA wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = MailWndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszMenuName = "QXMailMenu";
  wc.lpszClassName = kMailClass;
  return RegisterClassA(&wc) != 0 && RegisterChoicePopup(instance);
}

HWND CreateMailWindow(HINSTANCE instance, int show) {
  int x = CW_USEDEFAULT, y = 3, cx = CW_USEDEFAULT, cy = 0;
  PlacementSetup("postbox", nullptr);
  ReadWindowPlacement(&x, &y, &cx, &cy);
  HWND window =
      CreateWindowA(kMailClass, "postbox", WS_OVERLAPPEDWINDOW, x, y, cx, cy, nullptr, nullptr, instance, nullptr);
  if (!window) return nullptr;
  g_MainWindow = window;
  EnableMailboxItems(window, false);
  ShowWindow(window, show);
  InvalidateRect(window, nullptr, TRUE);
  UpdateWindow(window);
  return window;
}

LRESULT CALLBACK MailWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: OnCommand(window, LOWORD(wParam)); return 0;
    case WM_TIMER:
      if (wParam == kRetrievalTimer) OnRetrievalTick(window);
      OnFlashTick(window);
      return 0;
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) {
        if (g_NewMailFlag) SetWindowTextA(window, Settings().user.c_str());
        g_NewMailFlag = 0;
        OpenDeferredRetrievalDialog(window);
      }
      break;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      if (IsIconic(window)) DrawIcon(dc, 0, 0, MailIcon());
      EndPaint(window, &ps);
      return 0;
    }
    case WM_QUERYDRAGICON: return reinterpret_cast<LRESULT>(MailIcon());
    case WM_CLOSE:
      SaveWindowPlacement(window);
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      g_lock.Close();
      if (g_MainWindow == window) g_MainWindow = nullptr;
      PostQuitMessage(0);
      return 0;
    default: break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
