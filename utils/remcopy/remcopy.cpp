// remcopyx / remcopys: copies one file to or from a remote host by running
// the remote host's rcp through the exec service (user and password,
// remcopyx) or the shell service (local and remote user, remcopys). One
// modeless dialog over a hidden frame; a state word keeps a second copy
// from starting while one runs and lets Exit cancel a copy.
//
// A copy from the remote host goes into a temporary file beside the local
// file, which replaces it only when the whole file came: a failed or
// refused copy leaves the local file as it was.
#include <windows.h>
#include <winsock.h>

#include <qxcommon.h>
#include <queryclient.h>
#include <rcmd.h>

#include <cstdio>
#include <string>

#include "rcp.h"

#ifndef REMCOPY_EXEC
#error "REMCOPY_EXEC selects the service: 1 exec (remcopyx), 0 shell (remcopys)"
#endif

int g_CopyState = 0; /* 0 idle, 2 connecting, 1 copying, -1 Exit pressed while copying */

namespace {

#if REMCOPY_EXEC
constexpr const char *kSection = "QXREMCOPYX";
constexpr unsigned short kServicePort = RCMD_EXEC_PORT;
constexpr const char *kCaption = "Remote Copy via Runfar";
constexpr const char *kUsage = "QXREMCOPYX /u=LocalUser /l=RemoteUser /p=Password";
#else
constexpr const char *kSection = "QXREMCOPYS";
constexpr unsigned short kServicePort = RCMD_SHELL_PORT;
constexpr const char *kCaption = "Remote Copy via SHELLFAR";
constexpr const char *kUsage = "QXREMCOPYS /u=LocalUser /l=RemoteUser";
#endif

enum : int {
  IDC_HOST = 100,
  IDC_USER = 101,
  IDC_PASSWORD = 104,
  IDC_PROGRESS = 105,
  IDC_LOCAL = 106,
  IDC_REMOTE = 107,
  IDC_TO_REMOTE = IDOK,
  IDC_FROM_REMOTE = 110,
  IDC_EXIT = IDCANCEL,
};

struct CopyFields {
  char host[RCMD_FIELD_LEN];
  char user[RCMD_FIELD_LEN];
  char password[RCMD_FIELD_LEN];
  char local[RCMD_NAME_LEN];
  char remote[RCMD_NAME_LEN];
};

// ---- Progress bar (control 105) ----

int g_percent = -1; /* -1: "Done" on an empty bar */

// The bar: the done part blue with white text, the rest white with blue
// text, the text centred with a fixed advance of 9 pixels a character.
void DrawProgress(HWND control, HDC dc) {
  RECT r;
  GetClientRect(control, &r);
  char text[16];
  if (g_percent < 0)
    std::snprintf(text, sizeof text, "Done");
  else
    std::snprintf(text, sizeof text, "%d %%", g_percent);
  const int length = static_cast<int>(std::strlen(text));
  INT advance[sizeof text];
  for (int &a : advance) a = 9;
  const int percent = g_percent < 0 ? 0 : (g_percent > 100 ? 100 : g_percent);
  const int split = static_cast<int>(r.left + (r.right - r.left) * percent / 100);
  const int x = (r.left + r.right - length * 9) / 2;
  const int y = (r.top + r.bottom) / 2 - 8;
  RECT done = {r.left, r.top, split, r.bottom}, rest = {split, r.top, r.right, r.bottom};
  SetBkColor(dc, RGB(0, 0, 255));
  SetTextColor(dc, RGB(255, 255, 255));
  ExtTextOutA(dc, x, y, ETO_CLIPPED | ETO_OPAQUE, &done, text, static_cast<UINT>(length), advance);
  SetBkColor(dc, RGB(255, 255, 255));
  SetTextColor(dc, RGB(0, 0, 255));
  ExtTextOutA(dc, x, y, ETO_CLIPPED | ETO_OPAQUE, &rest, text, static_cast<UINT>(length), advance);
}

// Drawn at once, and kept as the control's text (an owner-drawn static
// draws it again when it is uncovered).
void OnProgress(HWND dialog, WPARAM wParam) {
  g_percent = static_cast<int>(wParam) < 0 ? -1 : static_cast<int>(wParam);
  if (g_percent > 100) g_percent = 100;
  HWND control = GetDlgItem(dialog, IDC_PROGRESS);
  char text[16];
  std::snprintf(text, sizeof text, g_percent < 0 ? "Done" : "%d %%", g_percent);
  SetWindowTextA(control, text);
  if (HDC dc = GetDC(control)) {
    DrawProgress(control, dc);
    ReleaseDC(control, dc);
  }
}

// ---- Copying ----

bool ReadFields(HWND dialog, CopyFields &f) {
  return RcmdReadField(dialog, IDC_HOST, f.host, sizeof f.host, "Host must be supplied") &&
         RcmdReadField(dialog, IDC_USER, f.user, sizeof f.user, "Username must be supplied") &&
         RcmdReadField(dialog, IDC_LOCAL, f.local, sizeof f.local, "Local filename must be supplied") &&
         RcmdReadField(dialog, IDC_REMOTE, f.remote, sizeof f.remote, "Remote filename must be supplied") &&
         (!REMCOPY_EXEC ||
          RcmdReadField(dialog, IDC_PASSWORD, f.password, sizeof f.password, "Password must be supplied"));
}

// The folder of a local file name ("." when it names none), for the
// temporary file that is renamed over it.
std::string FolderOf(const char *name) {
  const std::string path = name;
  const size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return path.size() > 1 && path[1] == ':' ? path.substr(0, 2) : ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

bool Connect(HWND dialog, const CopyFields &f, const std::string &command) {
  if (RcmdConnect(dialog, f.host, kServicePort, kSection) == INVALID_SOCKET) {
    MessageBoxA(dialog, "Connect Error", kSection, MB_OK | MB_ICONERROR);
    return false;
  }
  const std::string localUser = RcmdLocalSideUser(g_RcmdOptions);
  return RcmdStart(dialog, kSection, localUser.c_str(), f.user, command.c_str(), REMCOPY_EXEC ? f.password : nullptr) !=
         FALSE;
}

// From the remote host into a temporary file beside the local one, renamed
// over it only after the remote side confirmed the whole file.
bool CopyFromRemote(HWND dialog, const CopyFields &f, bool *reached) {
  char temp[MAX_PATH];
  if (!GetTempFileNameA(FolderOf(f.local).c_str(), "rcp", 0, temp)) {
    char text[RCMD_NAME_LEN + 64];
    std::snprintf(text, sizeof text, "Unable to create local file %s", f.local);
    QueryShowError(kSection, text,
                   "No file could be made in its folder (error " + std::to_string(GetLastError()) +
                       "). Check the folder and its permissions.");
    return false;
  }
  HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool copied = false;
  if (file != INVALID_HANDLE_VALUE) {
    if (Connect(dialog, f, std::string("rcp -f ") + f.remote)) {
      g_CopyState = 1;
      *reached = true;
      copied = RcpSink(dialog, file, f.local) != FALSE;
    }
    CloseHandle(file);
  } else {
    char text[RCMD_NAME_LEN + 64];
    std::snprintf(text, sizeof text, "Unable to create local file %s", f.local);
    QueryShowError(kSection, text,
                   "Check the folder and its permissions (error " + std::to_string(GetLastError()) + ").");
  }
  if (copied && !MoveFileExA(temp, f.local, MOVEFILE_REPLACE_EXISTING)) {
    char text[RCMD_NAME_LEN + 64];
    std::snprintf(text, sizeof text, "Unable to create local file %s", f.local);
    QueryShowError(kSection, text,
                   std::string("The copy came whole but could not take the file's place (error ") +
                       std::to_string(GetLastError()) + "); it is kept as " + temp + ".");
    return false;
  }
  if (!copied) DeleteFileA(temp);
  return copied;
}

bool CopyToRemote(HWND dialog, const CopyFields &f, bool *reached) {
  HANDLE file =
      CreateFileA(f.local, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    char text[RCMD_NAME_LEN + 64];
    std::snprintf(text, sizeof text, "Local file %s not found", f.local);
    QueryShowError(kSection, text, "Check the local file name.");
    return false;
  }
  bool copied = false;
  if (Connect(dialog, f, std::string("rcp -t ") + f.remote)) {
    g_CopyState = 1;
    *reached = true;
    copied = RcpSource(dialog, f.remote, file, f.local) != FALSE;
  }
  CloseHandle(file);
  return copied;
}

// The fields are read and the state set at once; the copy itself runs on a
// posted message, so the button's click returns before the copy is done.
CopyFields g_fields{};
constexpr UINT WM_RCP_COPY = WM_APP + 1; /* wParam: 1 to the remote host, 0 from it */

void OnCopy(HWND dialog, bool toRemote) {
  if (g_CopyState != 0) return;
  g_fields = CopyFields{};
  if (!ReadFields(dialog, g_fields)) return;
  g_CopyState = 2;
  OnProgress(dialog, 0);
  PostMessageA(dialog, WM_RCP_COPY, toRemote ? 1 : 0, 0);
}

void RunCopy(HWND dialog, bool toRemote) {
  HCURSOR before = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  bool reached = false;
  toRemote ? CopyToRemote(dialog, g_fields, &reached) : CopyFromRemote(dialog, g_fields, &reached);
  RcmdClose();
  SetCursor(before);
  PostMessageA(dialog, WM_RCP_PROGRESS, static_cast<WPARAM>(-1), 0);
  const bool closeAsked = g_CopyState == -1;
  g_CopyState = 0;
  if (reached) RcmdRememberHost(g_fields.host);
  if (closeAsked) PostMessageA(dialog, WM_CLOSE, 0, 0);
}

void OnExit(HWND dialog) {
  switch (g_CopyState) {
    case 2: return;
    case 1:
      RcmdSendInput(nullptr);
      g_CopyState = -1;
      return;
    case 0: PostMessageA(dialog, WM_CLOSE, 0, 0); return;
    default: return;
  }
}

INT_PTR CALLBACK RcpDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      RcmdInitDialog(dialog);
      SetWindowTextA(dialog, kCaption);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_TO_REMOTE: OnCopy(dialog, true); return TRUE;
        case IDC_FROM_REMOTE: OnCopy(dialog, false); return TRUE;
        case IDC_EXIT: OnExit(dialog); return TRUE;
        default: return FALSE;
      }
    case WM_RCP_PROGRESS: OnProgress(dialog, wParam); return TRUE;
    case WM_RCP_COPY: RunCopy(dialog, wParam != 0); return TRUE;
    case WM_DRAWITEM: {
      const auto *item = reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
      if (item->CtlID != IDC_PROGRESS) return FALSE;
      DrawProgress(item->hwndItem, item->hDC);
      return TRUE;
    }
    default: break;
  }
  INT_PTR result = 0;
  return RcmdDialogDefault(dialog, message, wParam, lParam, &result) ? result : FALSE;
}

// ---- Resources ----

#define EDIT_STYLE (ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP)

const QX_DIALOG_ITEM kItems[] = {
    QX_LTEXT("&Host:", -1, 8, 10, 50, 8),
    QX_COMBOBOX(IDC_HOST, 60, 8, 130, 80, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP),
    QX_LTEXT("&Username:", -1, 8, 28, 50, 8),
    QX_CONTROL("", IDC_USER, "Edit", EDIT_STYLE, 60, 26, 130, 12),
#if REMCOPY_EXEC
    QX_LTEXT("&Password:", -1, 8, 46, 50, 8),
    QX_CONTROL("", IDC_PASSWORD, "Edit", EDIT_STYLE | ES_PASSWORD, 60, 44, 130, 12),
#endif
    QX_LTEXT("&Local File:", -1, 8, 64, 50, 8),
    QX_CONTROL("", IDC_LOCAL, "Edit", EDIT_STYLE, 60, 62, 130, 12),
    QX_LTEXT("&Remote File:", -1, 8, 82, 50, 8),
    QX_CONTROL("", IDC_REMOTE, "Edit", EDIT_STYLE, 60, 80, 130, 12),
    QX_CONTROL("", IDC_PROGRESS, "Static", SS_OWNERDRAW | WS_CHILD | WS_VISIBLE | WS_BORDER, 8, 100, 182, 12),
    QX_DEFPUSHBUTTON("Copy &To Remote", IDC_TO_REMOTE, 200, 8, 70, 14),
    QX_PUSHBUTTON("Copy &From Remote", IDC_FROM_REMOTE, 200, 26, 70, 14),
    QX_PUSHBUTTON("&Exit", IDC_EXIT, 200, 44, 70, 14),
};
const QX_DIALOG kDialog = QX_DIALOG_TEMPLATE(40, 40, 278, 120, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                             kCaption, "MS Sans Serif", 8, kItems);

QX_SUITE_VERSION(kVersion, 1, 0, 0, 0, "Remote copy");

const QX_RESOURCE kResources[] = {
    QX_RES_DIALOG("MainDialog", kDialog),
    QX_RES_VERSION(kVersion),
};

const RCMD_PROGRAM kProgram = {kSection, kUsage, REMCOPY_EXEC, "MainDialog", RcpDialogProc};

}  // namespace

QX_REGISTER_RESOURCES(kResources);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  return RcmdProgramMain(instance, commandLine, kProgram);
}
