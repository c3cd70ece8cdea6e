// filemover: the FTP client's program entry, frame window (menu, layout,
// splitter, status area, panes and path bars), the Host and Info dialogs, and
// the unattended one-file download of the command line.
#include <windows.h>

#include <common/qxcommon.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "frame.h"
#include "ftpcore.h"
#include "profiles.h"
#include "resources.h"
#include "unattended.h"

#include <winsock.h>

HINSTANCE g_instance;
HWND g_frame, g_status, g_list[2], g_pathBar[2], g_buttons[5];
HFONT g_font, g_italic;
int g_lineHeight = 16, g_charWidth = 8, g_statusHeight = 28;
int g_columnWidth[2] = {40, 40};
int g_busy = 0;
int g_iconic = 0;

namespace {

HWND g_infoDialog;
int g_buttonWidth = 60;
int g_split = 50;
int g_maxCharWidth = 16;
char g_statusText[256];
constexpr UINT_PTR kViewerTimer = 5;
int g_infoWidest = 0;

// Connection fields filled by the Host dialog.
HOST_PROFILE g_connect;
std::string g_profileName;
int g_hostPane = 0;

// ---- What a person sees ----

class WindowUi : public FtpUi {
 public:
  void ShowError(const char *text, const char *caption) override {
    MessageBoxA(g_frame, text, caption, MB_OK | MB_ICONSTOP);
  }
  void SetStatus(const char *text) override {
    snprintf(g_statusText, sizeof g_statusText, "%s", text);
    if (g_status) {
      SetWindowTextA(g_status, g_statusText);
      InvalidateRect(g_status, nullptr, TRUE);
      UpdateWindow(g_status);
    }
  }
  void InfoAdd(const char *line) override;
  bool AskLogUnknownHost() override {
    return MessageBoxA(g_frame, "Do you want to create QXFTP.LOG for submission to Q&X?",
                       "Host of unknown type encountered", MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK;
  }
  void PaneChanged(int pane) override { ShowPaneChange(pane); }
  void ShowWarning(const char *text, const char *caption) override {
    MessageBoxA(g_frame, text, caption, MB_OK | MB_ICONEXCLAMATION);
  }
  bool AskContinue(const char *text, const char *caption) override {
    return MessageBoxA(g_frame, text, caption, MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK;
  }
  int AskTransferMode(const char *name, int *allFiles) override { return AskTransferModeDialog(name, allFiles); }
  int AskOverwrite(const char *name) override { return AskOverwriteDialog(name); }
  bool AskNewName(const char *dialog, const char *name, std::string *newName) override {
    return AskNewNameDialog(dialog, name, newName);
  }
  int AskDelete(const char *name) override { return AskDeleteDialog(name); }
  bool AskRename(const char *name, std::string *newName) override { return AskRenameDialog(name, newName); }
  bool AskMakeDirectory(std::string *name) override { return AskMakeDirectoryDialog(name); }
  void TransferOpen() override { OpenTransferDialog(); }
  void TransferName(const char *name) override { TransferDialogName(name); }
  void TransferProgress(int filePercent, int totalPercent, uint64_t fileBytes, uint64_t copyBytes) override {
    TransferDialogProgress(filePercent, totalPercent, fileBytes, copyBytes);
  }
  bool TransferCancelled() override { return TransferDialogGone(); }
  void TransferClose() override { CloseTransferDialog(); }
  void EnableOpenRemote() override {
    if (g_frame) EnableMenuItem(GetMenu(g_frame), IDM_OPEN_REMOTE, MF_BYCOMMAND | MF_ENABLED);
  }
  bool PumpMessages() override {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        return false;
      }
      if (g_infoDialog && IsDialogMessageA(g_infoDialog, &message)) continue;
      if (TransferDialogWindow() && IsDialogMessageA(TransferDialogWindow(), &message)) continue;
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    return true;
  }
};
WindowUi g_ui;

INT_PTR CALLBACK InfoDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        DestroyWindow(dialog);
        g_infoDialog = nullptr;
      }
      return TRUE;
  }
  return FALSE;
}

void WindowUi::InfoAdd(const char *line) {
  if (g_Unattended) return;
  if (!g_infoDialog) {
    g_infoDialog = CreateDialogParamA(g_instance, "InfoDialog", g_frame, InfoDlgProc, 0);
    g_infoWidest = 0;
    if (!g_infoDialog) return;
  }
  HWND list = GetDlgItem(g_infoDialog, IDC_INFO_LIST);
  const LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
  SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  HDC dc = GetDC(list);
  const DWORD extent = GetTabbedTextExtentA(dc, line, static_cast<int>(strlen(line)), 0, nullptr);
  ReleaseDC(list, dc);
  const int width = LOWORD(extent) + 4;
  if (width > g_infoWidest) {
    g_infoWidest = width;
    SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(width), 0);
  }
}

// ---- Panes ----

bool PaneFree(int pane) { return g_Panes[pane].kind < 0 && g_Panes[pane].control == INVALID_SOCKET; }

}  // namespace

// The widest name (in the italic font), at least five characters and at
// most 300 pixels: measured once per listing, not at every paint.
int MeasureColumnWidth(int pane) {
  const FTP_PANE &p = g_Panes[pane];
  HDC dc = GetDC(g_frame);
  HGDIOBJ old = SelectObject(dc, g_italic);
  int width = 5 * g_charWidth;
  for (const ENTRY_NODE &e : p.entries) {
    // A name of n characters is at most n widest characters wide.
    if (e.name.size() * static_cast<size_t>(g_maxCharWidth) <= static_cast<size_t>(width)) continue;
    SIZE size;
    GetTextExtentPoint32A(dc, e.name.c_str(), static_cast<int>(e.name.size()), &size);
    width = std::max(width, static_cast<int>(size.cx));
    if (width >= 300) break;
  }
  SelectObject(dc, old);
  ReleaseDC(g_frame, dc);
  return std::min(300, width);
}

void SetStatusText(const char *text) { Ui().SetStatus(text); }

namespace {

void ClosePane(int pane) {
  FTP_PANE &p = g_Panes[pane];
  if (p.kind == kPaneClosed && p.control == INVALID_SOCKET) return;
  p.entries.clear();
  p.path[0] = 0;
  p.prefixLength = 0;
  p.kind = kPaneClosed;
  if (p.control != INVALID_SOCKET) {
    FtpCommandReply(pane, "QUIT", nullptr, 1);
    WsCloseSocket(p.control);
    p.control = INVALID_SOCKET;
  }
  InvalidateRect(g_list[pane], nullptr, TRUE);
  SetWindowTextA(g_pathBar[pane], "");
}

LRESULT CALLBACK StatusWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    const int w = client.right, s = g_statusHeight;
    HPEN white = CreatePen(PS_SOLID, 1, RGB(255, 255, 255)), black = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    HGDIOBJ old = SelectObject(dc, white);
    MoveToEx(dc, 10, s - 6, nullptr);
    LineTo(dc, w - 12, s - 6);
    LineTo(dc, w - 12, 3);
    SelectObject(dc, black);
    MoveToEx(dc, 10, s - 6, nullptr);
    LineTo(dc, 10, 4);
    LineTo(dc, w - 12, 4);
    SelectObject(dc, old);
    DeleteObject(white);
    DeleteObject(black);
    SelectObject(dc, g_font);
    SetBkColor(dc, RGB(192, 192, 192));
    SetBkMode(dc, TRANSPARENT);
    TabbedTextOutA(dc, 13, 5, g_statusText, static_cast<int>(strlen(g_statusText)), 0, nullptr, 13);
    EndPaint(window, &ps);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// ---- Layout ----

void Layout() {
  RECT client;
  GetClientRect(g_frame, &client);
  const int w = client.right, h = client.bottom, s = g_statusHeight, bar = g_lineHeight + 2;
  const int p0 = std::max(0, (h - s - 50) * g_split / 100);
  const int p1 = std::max(0, h - s - p0 - 50);
  MoveWindow(g_pathBar[0], 0, 0, w, bar, TRUE);
  MoveWindow(g_list[0], 0, bar, w, std::max(0, p0 - bar), TRUE);
  MoveWindow(g_pathBar[1], 0, p0, w, bar, TRUE);
  MoveWindow(g_list[1], 0, p0 + bar, w, std::max(0, p1 - bar), TRUE);
  MoveWindow(g_status, 0, h - s, w, s, TRUE);
  const int gap = std::max(1, (w - 5 * g_buttonWidth) / 6);
  for (int k = 1; k <= 5; ++k)
    MoveWindow(g_buttons[k - 1], k * gap + (k - 1) * g_buttonWidth, h - s - 39, g_buttonWidth, 28, TRUE);
}

void OnSplitter(int code, int position) {
  switch (code) {
    case SB_LINEDOWN:
    case SB_PAGEDOWN: g_split = std::min(100, g_split + 1); break;
    case SB_LINEUP:
    case SB_PAGEUP: g_split = std::max(0, g_split - 1); break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: g_split = std::clamp(position, 0, 100); break;
    default: return;
  }
  SetScrollPos(g_frame, SB_VERT, g_split, TRUE);
  Layout();
}

// ---- Host dialog ----

HWND Item(HWND dialog, int id) { return GetDlgItem(dialog, id); }

std::string ItemText(HWND dialog, int id) {
  char text[512] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

// "anonymous" and "ftp" see their password; others see stars. An empty
// password shows the anonymous name.
void ApplyPasswordRule(HWND dialog, const std::string &password) {
  const bool clear = PasswordShownInClear(ItemText(dialog, IDC_HOST_USER));
  SendMessageA(Item(dialog, IDC_HOST_PASSWORD), EM_SETPASSWORDCHAR, clear ? 0 : '*', 0);
  SetDlgItemTextA(dialog, IDC_HOST_PASSWORD, password.empty() ? g_Options.anonymousName.c_str() : password.c_str());
  InvalidateRect(Item(dialog, IDC_HOST_PASSWORD), nullptr, TRUE);
}

void FillHostFields(HWND dialog, const HOST_PROFILE &p) {
  SetDlgItemTextA(dialog, IDC_HOST_HOST, p.host.c_str());
  SetDlgItemTextA(dialog, IDC_HOST_USER, p.user.c_str());
  ApplyPasswordRule(dialog, p.password);
  SetDlgItemTextA(dialog, IDC_HOST_ACCOUNT, p.account.c_str());
  SetDlgItemTextA(dialog, IDC_HOST_REMOTE_DIR, p.remoteDirectory.c_str());
  SetDlgItemTextA(dialog, IDC_HOST_LOCAL_DIR, p.localDirectory.c_str());
}

void LoadNamedProfile(HWND dialog, const std::string &name) {
  HOST_PROFILE p;
  if (LoadProfile(name, &p)) FillHostFields(dialog, p);
}

HOST_PROFILE HostFields(HWND dialog) {
  return {ItemText(dialog, IDC_HOST_HOST),       ItemText(dialog, IDC_HOST_USER),
          ItemText(dialog, IDC_HOST_PASSWORD),   ItemText(dialog, IDC_HOST_ACCOUNT),
          ItemText(dialog, IDC_HOST_REMOTE_DIR), ItemText(dialog, IDC_HOST_LOCAL_DIR)};
}

BOOL OnHostInit(HWND dialog) {
  HWND combo = Item(dialog, IDC_HOST_CONFIG);
  const std::vector<std::string> names = HostProfileList();
  for (const std::string &name : names) SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
  SendMessageA(Item(dialog, IDC_HOST_HOST), EM_LIMITTEXT, kHostNameSize - 1, 0);
  SendMessageA(Item(dialog, IDC_HOST_USER), EM_LIMITTEXT, 63, 0);
  SendMessageA(Item(dialog, IDC_HOST_PASSWORD), EM_LIMITTEXT, 63, 0);
  SendMessageA(Item(dialog, IDC_HOST_ACCOUNT), EM_LIMITTEXT, 63, 0);
  SendMessageA(Item(dialog, IDC_HOST_REMOTE_DIR), EM_LIMITTEXT, 254, 0);
  SendMessageA(Item(dialog, IDC_HOST_LOCAL_DIR), EM_LIMITTEXT, 127, 0);
  ApplyPasswordRule(dialog, std::string());
  const LRESULT index = SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(g_Options.lastConfig.c_str()));
  if (!g_Options.lastConfig.empty() && index != CB_ERR) {
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    LoadNamedProfile(dialog, g_Options.lastConfig);
  }
  return TRUE;
}

void OnHostSave(HWND dialog) {
  const std::string error =
      SaveProfile(ItemText(dialog, IDC_HOST_CONFIG), HostFields(dialog), static_cast<uint32_t>(time(nullptr)));
  if (!error.empty()) MessageBoxA(dialog, error.c_str(), "FTP Error", MB_OK | MB_ICONSTOP);
}

void OnHostDelete(HWND dialog) {
  const std::string name = ItemText(dialog, IDC_HOST_CONFIG);
  if (!DeleteProfile(name)) {
    MessageBoxA(dialog, "There is no configuration by that name to delete", "Ftp", MB_OK | MB_ICONSTOP);
    return;
  }
  HWND combo = Item(dialog, IDC_HOST_CONFIG);
  const LRESULT index =
      SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name.c_str()));
  if (index != CB_ERR) SendMessageA(combo, CB_DELETESTRING, static_cast<WPARAM>(index), 0);
  SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  FillHostFields(dialog, HOST_PROFILE());
  SetDlgItemTextA(dialog, IDC_HOST_CONFIG, "");
}

void OnHostOk(HWND dialog) {
  g_connect = HostFields(dialog);
  if (g_connect.password == g_Options.anonymousName) g_connect.password.clear();
  g_profileName = ItemText(dialog, IDC_HOST_CONFIG);
  WriteLastConfig(g_profileName);
  g_Options.lastConfig = g_profileName;
  EndDialog(dialog, IDOK);
}

BOOL OnHostCommand(HWND dialog, int id, int code) {
  switch (id) {
    case IDOK: OnHostOk(dialog); return TRUE;
    case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
    case IDC_HOST_NEW:
      FillHostFields(dialog, HOST_PROFILE());
      SetDlgItemTextA(dialog, IDC_HOST_CONFIG, "");
      return TRUE;
    case IDC_HOST_SAVE: OnHostSave(dialog); return TRUE;
    case IDC_HOST_DELETE: OnHostDelete(dialog); return TRUE;
    case IDC_HOST_CONFIG:
      if (code == CBN_SELCHANGE) {
        HWND combo = Item(dialog, IDC_HOST_CONFIG);
        const LRESULT index = SendMessageA(combo, CB_GETCURSEL, 0, 0);
        char name[256] = {};
        if (index != CB_ERR && SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0) < 255) {
          SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(name));
          LoadNamedProfile(dialog, name);
        }
      } else if (code == CBN_EDITCHANGE) {
        const std::string typed = ItemText(dialog, IDC_HOST_CONFIG);
        for (const std::string &name : HostProfileList())
          if (name == typed) LoadNamedProfile(dialog, name);
      }
      return TRUE;
    case IDC_HOST_USER:
      if (code == EN_CHANGE) {
        std::string password = ItemText(dialog, IDC_HOST_PASSWORD);
        if (password == g_Options.anonymousName) password.clear();
        ApplyPasswordRule(dialog, password);
      }
      return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK HostDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return OnHostInit(dialog);
    case WM_COMMAND: return OnHostCommand(dialog, LOWORD(wParam), HIWORD(wParam));
  }
  return FALSE;
}

// ---- Commands ----

int FreePane() {
  if (PaneFree(0)) return 0;
  if (PaneFree(1)) return 1;
  MessageBoxA(g_frame, "Already connected", "Connect", MB_OK | MB_ICONEXCLAMATION);
  return -1;
}

void OnOpenRemote() {
  const int pane = FreePane();
  if (pane < 0) return;
  HMENU menu = GetMenu(g_frame);
  EnableMenuItem(menu, IDM_OPEN_REMOTE, MF_BYCOMMAND | MF_GRAYED);
  g_hostPane = pane;
  if (DialogBoxParamA(g_instance, "Host", g_frame, HostDlgProc, 0) == IDCANCEL) {
    EnableMenuItem(menu, IDM_OPEN_REMOTE, MF_BYCOMMAND | MF_ENABLED);
    return;
  }
  const int other = 1 - pane;
  if (!g_connect.localDirectory.empty() && g_Panes[other].kind == kPaneLocal &&
      SetCurrentDirectoryA(g_connect.localDirectory.c_str())) {
    QueryDirectory(other);
    RefreshPane(other);
  }
  FTP_PANE &p = g_Panes[pane];
  snprintf(p.host, sizeof p.host, "%s", g_connect.host.c_str());
  p.kind = kPaneClosed;
  bool ok = false;
  if (FtpConnect(pane) != INVALID_SOCKET) {
    LOGIN_FIELDS fields{g_connect.user, g_connect.password, g_connect.account, g_Options.anonymousName};
    if (FtpLogin(pane, fields) == 1) {
      ok = true;
      if (!g_connect.remoteDirectory.empty()) FtpCommandReply(pane, "CWD", &g_connect.remoteDirectory);
      RefreshPane(pane);
    }
  }
  AddRecentHost(g_connect.host);
  EnableMenuItem(menu, IDM_OPEN_REMOTE, MF_BYCOMMAND | MF_ENABLED);
  if (!ok) {
    g_ui.SetStatus("");
    p.kind = kPaneClosed;
  }
  InvalidateRect(g_pathBar[pane], nullptr, TRUE);
}

INT_PTR CALLBACK PathDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      char directory[MAX_PATH] = {};
      GetCurrentDirectoryA(sizeof directory, directory);
      SetDlgItemTextA(dialog, IDC_PATH_EDIT, directory);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        char directory[MAX_PATH] = {};
        GetDlgItemTextA(dialog, IDC_PATH_EDIT, directory, sizeof directory);
        if (!SetCurrentDirectoryA(directory)) {
          MessageBoxA(dialog, "Unable to change into directory", "Path", MB_OK | MB_ICONSTOP);
          return TRUE;
        }
        EndDialog(dialog, IDOK);
      } else if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
      }
      return TRUE;
  }
  return FALSE;
}

void OnOpenLocal() {
  const int pane = FreePane();
  if (pane < 0) return;
  if (DialogBoxParamA(g_instance, "Path", g_frame, PathDlgProc, 0) != IDOK) return;
  g_Panes[pane].kind = kPaneLocal;
  g_Panes[pane].path[0] = 0;
  QueryDirectory(pane);
  RefreshPane(pane);
}

void ToggleOption(int id, int *value, const char *key, bool checkedWhenZero) {
  *value = !*value;
  const bool checked = checkedWhenZero ? *value == 0 : *value != 0;
  CheckMenuItem(GetMenu(g_frame), static_cast<UINT>(id), MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
  WriteOption(key, *value);
}

void SetOptionChecks() {
  HMENU menu = GetMenu(g_frame);
  CheckMenuItem(menu, IDM_OVERWRITE, MF_BYCOMMAND | (g_Options.overwritePrompt ? MF_CHECKED : MF_UNCHECKED));
  CheckMenuItem(menu, IDM_DELETE_PROMPT, MF_BYCOMMAND | (g_Options.deletePrompt ? MF_CHECKED : MF_UNCHECKED));
  CheckMenuItem(menu, IDM_DROP_CHECK, MF_BYCOMMAND | (g_Options.dropCheck ? MF_CHECKED : MF_UNCHECKED));
  CheckMenuItem(menu, IDM_FILE_TYPE, MF_BYCOMMAND | (g_Options.autoSelect ? MF_UNCHECKED : MF_CHECKED));
}

void OnCommand(int id, LPARAM lParam) {
  if (g_busy && id != IDM_EXIT) return;
  ++g_busy;
  switch (id) {
    case IDM_OPEN_REMOTE: OnOpenRemote(); break;
    case IDM_OPEN_LOCAL: OnOpenLocal(); break;
    case IDM_CLOSE: ClosePane(g_ActivePane); break;
    case IDM_EXIT: PostMessageA(g_frame, WM_CLOSE, 0, 0); break;
    case IDM_OVERWRITE: ToggleOption(id, &g_Options.overwritePrompt, "Overwrite", false); break;
    case IDM_DELETE_PROMPT: ToggleOption(id, &g_Options.deletePrompt, "Delete", false); break;
    case IDM_DROP_CHECK: ToggleOption(id, &g_Options.dropCheck, "DropCheck", false); break;
    case IDM_FILE_TYPE: ToggleOption(id, &g_Options.autoSelect, "AutoSelect", true); break;
    case IDM_HELP_INDEX: WinHelpA(g_frame, "WINFTP.HLP", HELP_CONTENTS, 0); break;
    case IDM_HELP_SELECTING: {
      char keyword[64];
      LoadStringA(g_instance, IDS_SELECTING_FILES, keyword, sizeof keyword);
      WinHelpA(g_frame, "WINFTP.HLP", HELP_KEY, reinterpret_cast<ULONG_PTR>(keyword));
      break;
    }
    case IDM_HELP_USING: WinHelpA(g_frame, "WINHELP.HLP", HELP_HELPONHELP, 0); break;
    case IDM_ABOUT: DialogBoxParamA(g_instance, "About", g_frame, AboutDlgProc, 0); break;
    case IDC_BUTTON_REFRESH: RefreshPane(g_ActivePane); break;
    case IDM_DROP_OTHER: DropOnOtherPane(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))); break;
    case IDC_BUTTON_COPY: CopySelection(1); break;
    case IDC_BUTTON_DELETE: DeleteSelection(); break;
    case IDC_BUTTON_RENAME: RenameSelection(); break;
    case IDC_BUTTON_MKDIR: MakeDirCommand(); break;
    case IDM_EXECUTE: RunCommandDialog(); break;
  }
  --g_busy;
}

void ReleaseAll() {
  for (FTP_PANE &p : g_Panes) {
    if (p.control != INVALID_SOCKET) WsCloseSocket(p.control);
    p.control = INVALID_SOCKET;
    p.entries.clear();
  }
  if (g_font) DeleteObject(g_font);
  if (g_italic) DeleteObject(g_italic);
  g_font = g_italic = nullptr;
}

LRESULT CALLBACK FrameWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: OnCommand(LOWORD(wParam), lParam); return 0;
    case WM_TIMER:
      // Temporary files of Notepad views go when their viewer has ended.
      if (wParam == kViewerTimer) ReapViewers(false);
      return 0;
    case WM_SIZE:
      g_iconic = wParam == SIZE_MINIMIZED;
      if (!g_iconic && g_status) Layout();
      return 0;
    case WM_VSCROLL: OnSplitter(LOWORD(wParam), static_cast<short>(HIWORD(wParam))); return 0;
    case WM_QUERYDRAGICON: return reinterpret_cast<LRESULT>(LoadIconA(g_instance, "AppIcon1"));
    case WM_ENDSESSION:
      if (wParam) ReleaseAll();  // the session ends: close the connections now
      return 0;
    case WM_CLOSE:
      SaveWindowPlacement(window);
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      g_Abort = 1;
      if (g_infoDialog) DestroyWindow(g_infoDialog);
      g_infoDialog = nullptr;
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// ---- Start-up ----

bool RegisterClasses() {
  struct {
    const char *name;
    WNDPROC proc;
    HBRUSH background;
    UINT style;
  } classes[] = {
      {"FtpFrameWindow", FrameWndProc, GetSysColorBrush(COLOR_BTNFACE), CS_HREDRAW | CS_VREDRAW},
      {"FileWindow", FileWndProc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)),
       CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS},
      {"QXInfoWindow", StatusWndProc, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)), CS_HREDRAW | CS_VREDRAW},
      {"FtpPathWindow", PathWndProc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)),
       CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS},
  };
  for (const auto &c : classes) {
    WNDCLASSA wc{};
    wc.style = c.style;
    wc.lpfnWndProc = c.proc;
    wc.hInstance = g_instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = c.background;
    wc.lpszClassName = c.name;
    if (c.proc == FrameWndProc) {
      wc.lpszMenuName = "Ftp";
      wc.hIcon = LoadIconA(g_instance, "AppIcon1");
    }
    if (!RegisterClassA(&wc)) return false;
  }
  return true;
}

void MakeFonts() {
  LOGFONTA font{};
  font.lfHeight = -12;
  font.lfWeight = FW_NORMAL;
  strcpy(font.lfFaceName, "Helv");
  g_font = CreateFontIndirectA(&font);
  font.lfItalic = TRUE;
  g_italic = CreateFontIndirectA(&font);
  HDC dc = GetDC(g_frame);
  HGDIOBJ old = SelectObject(dc, g_italic);
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  g_lineHeight = metrics.tmHeight + metrics.tmExternalLeading;
  g_charWidth = metrics.tmAveCharWidth + 3;
  g_maxCharWidth = std::max(1, static_cast<int>(metrics.tmMaxCharWidth));
  g_statusHeight = g_lineHeight + 12;
  SIZE size{};
  GetTextExtentPoint32A(dc, "Rename", 6, &size);
  g_buttonWidth = size.cx + 16;
  SelectObject(dc, old);
  ReleaseDC(g_frame, dc);
}

void CreateChildren() {
  auto id = [](int value) { return reinterpret_cast<HMENU>(static_cast<INT_PTR>(value)); };
  g_status = CreateWindowA("QXInfoWindow", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 0, 0, 0, 0, g_frame,
                           id(IDC_STATUS_AREA), g_instance, nullptr);
  for (int pane = 0; pane < 2; ++pane) {
    g_list[pane] = CreateWindowA("FileWindow", "", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_HSCROLL, 0, 0, 0, 0, g_frame,
                                 id(IDC_FILE_LIST0 + pane), g_instance, nullptr);
    g_pathBar[pane] = CreateWindowA("FtpPathWindow", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 0, 0, 0, 0, g_frame,
                                    id(IDC_PATH_BAR0 + pane), g_instance, nullptr);
  }
  for (int k = 0; k < 5; ++k) {
    char caption[32] = {};
    LoadStringA(g_instance, IDS_BUTTON_COPY + k, caption, sizeof caption);
    g_buttons[k] =
        CreateWindowA("Button", caption, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, 0, 0, 0, g_frame,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_BUTTON_COPY + k)), g_instance, nullptr);
  }
}

// The machine's own address, kept for PORT; the control connection's own
// address is used when there is one, so a failure here is only a warning.
void ResolveOwnAddress() {
  char name[256] = {};
  const hostent *entry = gethostname(name, sizeof name) == 0 ? gethostbyname(name) : nullptr;
  if (entry && entry->h_addr_list[0]) {
    in_addr address;
    memcpy(&address, entry->h_addr_list[0], 4);
    g_LocalAddress = ntohl(address.s_addr);
  } else {
    g_ui.SetStatus("Can't resolve machinename to IP Address");
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show) {
  g_instance = instance;
  DebugLogOpen(instance, commandLine);
  Ctl3dLoad(instance);
  SetFtpUi(&g_ui);
  HACCEL accelerators = LoadAcceleratorsA(instance, "FTPACC");
  WSADATA wsa;
  if (WSAStartup(0x0101, &wsa) != 0) {
    MessageBoxA(nullptr, "Winsock could not be started; the network layer is not available.", "Ftp",
                MB_OK | MB_ICONSTOP);
    return 1;
  }
  g_Panes[0].kind = kPaneLocal;
  GetCurrentDirectoryA(sizeof g_Panes[0].path, g_Panes[0].path);
  if (!RegisterClasses()) {
    MessageBoxA(nullptr, "The windows of filemover could not be registered.", "Ftp", MB_OK | MB_ICONSTOP);
    return 1;
  }
  LocateIniFiles();
  PlacementSetup(kFtpSection, nullptr);
  int x = CW_USEDEFAULT, y = show, cx = CW_USEDEFAULT, cy = 0;
  ReadWindowPlacement(&x, &y, &cx, &cy);
  char caption[32] = "Ftp";
  LoadStringA(instance, IDS_APP_NAME, caption, sizeof caption);
  g_frame = CreateWindowA("FtpFrameWindow", caption, WS_OVERLAPPEDWINDOW | WS_VSCROLL, x, y, cx, cy, nullptr, nullptr,
                          instance, nullptr);
  if (!g_frame) {
    MessageBoxA(nullptr, "The main window of filemover could not be created.", "Ftp", MB_OK | MB_ICONSTOP);
    return 1;
  }
  SetScrollRange(g_frame, SB_VERT, 0, 100, FALSE);
  SetScrollPos(g_frame, SB_VERT, g_split, FALSE);
  MakeFonts();
  CreateChildren();
  ShowWindow(g_frame, show);
  Layout();
  SetTimer(g_frame, kViewerTimer, 2000, nullptr);
  ResolveOwnAddress();
  RefreshPane(0);
  ReadOptions(&g_Options);
  SetOptionChecks();

  int exitCode = 0;
  while (*commandLine == ' ' || *commandLine == '\t') ++commandLine;
  if (!*commandLine) {
    PostMessageA(g_frame, WM_COMMAND, IDM_OPEN_REMOTE, 0);
  } else {
    const FTP_ARGS args = ParseFtpArgs(commandLine);
    exitCode = RunUnattendedDownload(args, args.password.empty() ? g_Options.anonymousName : std::string());
    DestroyWindow(g_frame);
  }
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (g_infoDialog && IsDialogMessageA(g_infoDialog, &message)) continue;
    if (accelerators && TranslateAcceleratorA(g_frame, accelerators, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  ReleaseAll();
  ReapViewers(true);
  WSACleanup();
  Ctl3dUnload(instance);
  return exitCode != 0 ? exitCode : static_cast<int>(message.wParam);
}
