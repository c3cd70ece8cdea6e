// runfar / shellfar: runs one command on a remote host through the exec
// service (user and password, runfar) or the shell service (local and
// remote user, shellfar) and shows its output line by line in a list box;
// while it runs, Send passes a line to the command's standard input. The
// standard output is shown first, then the error stream, which is read all
// along so that neither can stall the command.
#include <windows.h>
#include <winsock.h>

#include <qxcommon.h>
#include <queryclient.h>
#include <rcmd.h>

#include <cstdio>
#include <string>

#ifndef RUNFAR_EXEC
#error "RUNFAR_EXEC selects the service: 1 exec (runfar), 0 shell (shellfar)"
#endif

int g_RunState = 0; /* 0 idle, 2 connecting, 1 running, -1 Close pressed while running */

namespace {

#if RUNFAR_EXEC
constexpr const char *kSection = "QXRUNFAR";
constexpr unsigned short kServicePort = RCMD_EXEC_PORT;
constexpr const char *kCaption = "Remote Execution";
constexpr const char *kUsage = "QXRUNFAR /u=LocalUser /l=RemoteUser /p=Password";
#else
constexpr const char *kSection = "QXSHELLFAR";
constexpr unsigned short kServicePort = RCMD_SHELL_PORT;
constexpr const char *kCaption = "Remote Shell";
constexpr const char *kUsage = "QXSHELLFAR /u=LocalUser /l=RemoteUser";
#endif

enum : int {
  IDC_HOST = 100,
  IDC_USER = 101,
  IDC_COMMAND = 102,
  IDC_OUTPUT = 103,
  IDC_PASSWORD = 104,
  IDC_RUN = IDOK,
  IDC_CLOSE = IDCANCEL,
};
constexpr UINT WM_RUN_COMMAND = WM_APP + 1;

struct RunFields {
  char host[RCMD_FIELD_LEN];
  char user[RCMD_FIELD_LEN];
  char command[RCMD_NAME_LEN];
  char password[RCMD_FIELD_LEN];
};
RunFields g_fields{};
int g_lineCount = 0;
int g_widest = 0;

// ---- Output list ----

// Adds a line, widens the horizontal scroll range to the widest line (tabs
// expanded at the default stops) and keeps the newest line in view.
void AddOutputLine(HWND dialog, const char *line, int length) {
  HWND list = GetDlgItem(dialog, IDC_OUTPUT);
  SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
  if (HDC dc = GetDC(list)) {
    HGDIOBJ old = SelectObject(dc, GetStockObject(ANSI_FIXED_FONT));
    const int width = static_cast<int>(LOWORD(GetTabbedTextExtentA(dc, line, length, 0, nullptr))) + 4;
    SelectObject(dc, old);
    ReleaseDC(list, dc);
    if (width > g_widest) {
      g_widest = width;
      SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(width), 0);
    }
  }
  SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(g_lineCount), 0);
  ++g_lineCount;
}

// ---- Running ----

bool ReadFields(HWND dialog) {
  g_fields = RunFields{};
  return RcmdReadField(dialog, IDC_HOST, g_fields.host, sizeof g_fields.host, "Host must be supplied") &&
         RcmdReadField(dialog, IDC_USER, g_fields.user, sizeof g_fields.user, "Username must be supplied") &&
         RcmdReadField(dialog, IDC_COMMAND, g_fields.command, sizeof g_fields.command, "Command must be supplied") &&
         (!RUNFAR_EXEC || RcmdReadField(dialog, IDC_PASSWORD, g_fields.password, sizeof g_fields.password,
                                        "Password must be supplied"));
}

// Execute: the fields are checked and the state set at once; the command
// runs on a posted message, so the click returns at once.
void OnExecute(HWND dialog) {
  g_lineCount = 0;
  g_widest = 0;
  SendDlgItemMessageA(dialog, IDC_OUTPUT, LB_RESETCONTENT, 0, 0);
  SendDlgItemMessageA(dialog, IDC_OUTPUT, LB_SETHORIZONTALEXTENT, 0, 0);
  if (!ReadFields(dialog)) return;
  char title[RCMD_NAME_LEN + 32];
  std::snprintf(title, sizeof title, "%s - %s", kSection, g_fields.command);
  SetWindowTextA(dialog, title);
  SetDlgItemTextA(dialog, IDC_COMMAND, "");
  g_RunState = 2;
  PostMessageA(dialog, WM_RUN_COMMAND, 0, 0);
}

void ReadOutput(HWND dialog) {
  char line[RCMD_LINE_LEN];
  for (;;) {
    const int length = RcmdReadLine(line, sizeof line);
    if (length < 0) return;
    AddOutputLine(dialog, line, length);
  }
}

void RunCommand(HWND dialog) {
  HCURSOR before = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  bool started = false;
  if (RcmdConnect(dialog, g_fields.host, kServicePort, kSection) == INVALID_SOCKET) {
    MessageBoxA(dialog, "Connect Error", kSection, MB_OK | MB_ICONERROR);
  } else {
    const std::string localUser = RcmdLocalSideUser(g_RcmdOptions);
    started = RcmdStart(dialog, kSection, localUser.c_str(), g_fields.user, g_fields.command,
                        RUNFAR_EXEC ? g_fields.password : nullptr) != FALSE;
  }
  SetCursor(before);
  if (started) {
    SetDlgItemTextA(dialog, IDC_RUN, "&Send");
    g_RunState = 1;
    ReadOutput(dialog);
    SetDlgItemTextA(dialog, IDC_RUN, "&Execute");
    RcmdRememberHost(g_fields.host);
  }
  RcmdClose();
  const bool closeAsked = g_RunState == -1;
  g_RunState = 0;
  if (closeAsked) PostMessageA(dialog, WM_CLOSE, 0, 0);
}

// Send: the command field's text and a line feed go to the command's
// standard input; once the command has closed its output, nothing more can.
void OnSend(HWND dialog) {
  char text[RCMD_NAME_LEN] = "";
  GetDlgItemTextA(dialog, IDC_COMMAND, text, sizeof text);
  if (!text[0]) return;
  if (!RcmdConnected()) {
    MessageBoxA(dialog,
                "The command has closed its output, so it takes no more input.\n\nWait for it to end, or press "
                "Close to stop it.",
                kSection, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  SetDlgItemTextA(dialog, IDC_COMMAND, "");
  RcmdSendInput(text);
}

void OnRunButton(HWND dialog) {
  switch (g_RunState) {
    case 0: OnExecute(dialog); return;
    case 1: OnSend(dialog); return;
    default: return;
  }
}

void OnClose(HWND dialog) {
  switch (g_RunState) {
    case 1:
      RcmdSendInput(nullptr);
      g_RunState = -1;
      return;
    case 0: PostMessageA(dialog, WM_CLOSE, 0, 0); return;
    default: return;
  }
}

INT_PTR CALLBACK RunfarDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      RcmdInitDialog(dialog);
      SendDlgItemMessageA(dialog, IDC_OUTPUT, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)),
                          FALSE);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_RUN: OnRunButton(dialog); return TRUE;
        case IDC_CLOSE: OnClose(dialog); return TRUE;
        default: return FALSE;
      }
    case WM_RUN_COMMAND: RunCommand(dialog); return TRUE;
    default: break;
  }
  INT_PTR result = 0;
  return RcmdDialogDefault(dialog, message, wParam, lParam, &result) ? result : FALSE;
}

// ---- Resources ----

#define EDIT_STYLE (ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP)

const QX_DIALOG_ITEM kItems[] = {
    QX_LTEXT("&Host:", -1, 8, 10, 44, 8),
    QX_COMBOBOX(IDC_HOST, 54, 8, 120, 80, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP),
    QX_LTEXT("&Username:", -1, 8, 28, 44, 8),
    QX_CONTROL("", IDC_USER, "Edit", EDIT_STYLE, 54, 26, 120, 12),
#if RUNFAR_EXEC
    QX_LTEXT("&Password:", -1, 8, 46, 44, 8),
    QX_CONTROL("", IDC_PASSWORD, "Edit", EDIT_STYLE | ES_PASSWORD, 54, 44, 120, 12),
    QX_LTEXT("&Command:", -1, 8, 64, 44, 8),
#else
    QX_LTEXT("Co&mmand:", -1, 8, 64, 44, 8),
#endif
    QX_CONTROL("", IDC_COMMAND, "Edit", EDIT_STYLE, 54, 62, 240, 12),
    QX_CONTROL("", IDC_OUTPUT, "ListBox",
               LBS_NOINTEGRALHEIGHT | LBS_USETABSTOPS | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL |
                   WS_TABSTOP,
               8, 80, 286, 130),
    QX_DEFPUSHBUTTON("&Execute", IDC_RUN, 230, 8, 64, 14),
    QX_PUSHBUTTON("&Close", IDC_CLOSE, 230, 26, 64, 14),
};
const QX_DIALOG kDialog = QX_DIALOG_TEMPLATE(40, 40, 302, 218, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                             kCaption, "MS Sans Serif", 8, kItems);

QX_SUITE_VERSION(kVersion, 1, 0, 0, 0, "Remote command");

const QX_RESOURCE kResources[] = {
    QX_RES_DIALOG("MainDialog", kDialog),
    QX_RES_VERSION(kVersion),
};

const RCMD_PROGRAM kProgram = {kSection, kUsage, RUNFAR_EXEC, "MainDialog", RunfarDialogProc};

}  // namespace

QX_REGISTER_RESOURCES(kResources);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  return RcmdProgramMain(instance, commandLine, kProgram);
}
