// QXSRVWIN.DLL: sharehost's windows. The information window "Q&X NFS-Server"
// shows the request counters, the rate of operations and the Refresh and
// Priority settings; its buttons open the list of exported directories and
// the list of files the lock manager holds. sharehost loads this module when
// an administrator first asks for the window (control 128), so the service
// itself starts without the drawing half of the layer.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "counters.h"
#include "serverwindow.h"

using srvwin::OpsPerSecond;
using srvwin::ScrolledValue;

namespace {

// Items of the dialog "info".
constexpr int kFirstCounterItem = 100;  // 100 + counter index
constexpr int kCounterCount = 33;
constexpr int kRefreshIndex = 26;
constexpr int kPriorityIndex = 27;
constexpr int kCacheHitsIndex = 25;
constexpr int IDC_OPS_PER_SEC = 200;
constexpr int IDC_REFRESH_BAR = 250;
constexpr int IDC_PRIORITY_BAR = 251;
constexpr int IDC_REFRESH_NOW = 300;
constexpr int IDC_SHOW_EXPORTS = 301;
constexpr int IDC_SHOW_FILES = 302;
// Items of the dialogs "exports" and "files".
constexpr int IDC_LIST = 101;
constexpr int IDC_RELOAD = 102;
constexpr INT kListColumn = 80;  // dialog units of the lists' tab stops

constexpr UINT_PTR kRefreshTimer = 2;  // of the main window
constexpr UINT kMinRefresh = 1, kMaxRefresh = 64;
constexpr UINT kMaxPriority = 100, kPriorityStep = 10;
const char kIniSection[] = "QXServer";

// The information window: the counters in three columns (item 100 + index),
// Refresh (26) and Priority (27) beside their scroll bars, then the buttons.
const QX_DIALOG_ITEM kInfoItems[] = {
    QX_LTEXT("Null:", -1, 6, 6, 48, 8),
    QX_RTEXT("0", 100, 56, 6, 44, 8),
    QX_LTEXT("GetAttr:", -1, 6, 16, 48, 8),
    QX_RTEXT("0", 101, 56, 16, 44, 8),
    QX_LTEXT("SetAttr:", -1, 6, 26, 48, 8),
    QX_RTEXT("0", 102, 56, 26, 44, 8),
    QX_LTEXT("Root:", -1, 6, 36, 48, 8),
    QX_RTEXT("0", 103, 56, 36, 44, 8),
    QX_LTEXT("Lookup:", -1, 6, 46, 48, 8),
    QX_RTEXT("0", 104, 56, 46, 44, 8),
    QX_LTEXT("ReadLink:", -1, 6, 56, 48, 8),
    QX_RTEXT("0", 105, 56, 56, 44, 8),
    QX_LTEXT("Read:", -1, 6, 66, 48, 8),
    QX_RTEXT("0", 106, 56, 66, 44, 8),
    QX_LTEXT("Holes:", -1, 6, 76, 48, 8),
    QX_RTEXT("0", 107, 56, 76, 44, 8),
    QX_LTEXT("Write:", -1, 6, 86, 48, 8),
    QX_RTEXT("0", 108, 56, 86, 44, 8),
    QX_LTEXT("Create:", -1, 6, 96, 48, 8),
    QX_RTEXT("0", 109, 56, 96, 44, 8),
    QX_LTEXT("Remove:", -1, 6, 106, 48, 8),
    QX_RTEXT("0", 110, 56, 106, 44, 8),
    QX_LTEXT("Rename:", -1, 112, 6, 48, 8),
    QX_RTEXT("0", 111, 162, 6, 44, 8),
    QX_LTEXT("Link:", -1, 112, 16, 48, 8),
    QX_RTEXT("0", 112, 162, 16, 44, 8),
    QX_LTEXT("Symlink:", -1, 112, 26, 48, 8),
    QX_RTEXT("0", 113, 162, 26, 44, 8),
    QX_LTEXT("Mkdir:", -1, 112, 36, 48, 8),
    QX_RTEXT("0", 114, 162, 36, 44, 8),
    QX_LTEXT("Rmdir:", -1, 112, 46, 48, 8),
    QX_RTEXT("0", 115, 162, 46, 44, 8),
    QX_LTEXT("ReadDir:", -1, 112, 56, 48, 8),
    QX_RTEXT("0", 116, 162, 56, 44, 8),
    QX_LTEXT("Statfs:", -1, 112, 66, 48, 8),
    QX_RTEXT("0", 117, 162, 66, 44, 8),
    QX_LTEXT("Mount:", -1, 112, 76, 48, 8),
    QX_RTEXT("0", 118, 162, 76, 44, 8),
    QX_LTEXT("Dump Exprt:", -1, 112, 86, 48, 8),
    QX_RTEXT("0", 119, 162, 86, 44, 8),
    QX_LTEXT("UnMount:", -1, 112, 96, 48, 8),
    QX_RTEXT("0", 120, 162, 96, 44, 8),
    QX_LTEXT("UnMountAll:", -1, 112, 106, 48, 8),
    QX_RTEXT("0", 121, 162, 106, 44, 8),
    QX_LTEXT("Export:", -1, 218, 6, 48, 8),
    QX_RTEXT("0", 122, 268, 6, 44, 8),
    QX_LTEXT("Auth Reqs:", -1, 218, 16, 48, 8),
    QX_RTEXT("0", 123, 268, 16, 44, 8),
    QX_LTEXT("Print File:", -1, 218, 26, 48, 8),
    QX_RTEXT("0", 124, 268, 26, 44, 8),
    QX_LTEXT("Cache Hits:", -1, 218, 36, 48, 8),
    QX_RTEXT("0", 125, 268, 36, 44, 8),
    QX_LTEXT("Share:", -1, 218, 46, 48, 8),
    QX_RTEXT("0", 128, 268, 46, 44, 8),
    QX_LTEXT("Unshare:", -1, 218, 56, 48, 8),
    QX_RTEXT("0", 129, 268, 56, 44, 8),
    QX_LTEXT("Lock:", -1, 218, 66, 48, 8),
    QX_RTEXT("0", 130, 268, 66, 44, 8),
    QX_LTEXT("Unlock:", -1, 218, 76, 48, 8),
    QX_RTEXT("0", 131, 268, 76, 44, 8),
    QX_LTEXT("UShAll:", -1, 218, 86, 48, 8),
    QX_RTEXT("0", 132, 268, 86, 44, 8),
    QX_LTEXT("Ops/Sec:", -1, 218, 106, 48, 8),
    QX_RTEXT("", IDC_OPS_PER_SEC, 268, 106, 44, 8),
    QX_LTEXT("Refresh:", -1, 6, 120, 40, 8),
    QX_RTEXT("", 126, 46, 120, 20, 8),
    QX_SCROLLBAR(IDC_REFRESH_BAR, 72, 119, 120, 10, SBS_HORZ | WS_TABSTOP),
    QX_LTEXT("Priority:", -1, 6, 136, 40, 8),
    QX_RTEXT("", 127, 46, 136, 20, 8),
    QX_SCROLLBAR(IDC_PRIORITY_BAR, 72, 135, 120, 10, SBS_HORZ | WS_TABSTOP),
    QX_DEFPUSHBUTTON("&Close", IDCANCEL, 212, 118, 44, 14),
    QX_PUSHBUTTON("&Refresh", IDC_REFRESH_NOW, 264, 118, 44, 14),
    QX_PUSHBUTTON("E&xports", IDC_SHOW_EXPORTS, 212, 135, 44, 14),
    QX_PUSHBUTTON("&Files", IDC_SHOW_FILES, 264, 135, 44, 14),
};
const QX_DIALOG kInfo = QX_DIALOG_TEMPLATE(0, 0, 320, 156, WS_POPUP | WS_CAPTION | WS_SYSMENU, "Q&X NFS-Server",
                                           "MS Sans Serif", 8, kInfoItems);

const QX_DIALOG_ITEM kExportsItems[] = {
    QX_CONTROL("", IDC_LIST, "ListBox",
               LBS_NOINTEGRALHEIGHT | LBS_USETABSTOPS | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL, 6,
               6, 248, 100),
    QX_DEFPUSHBUTTON("&Close", IDCANCEL, 80, 112, 44, 14),
    QX_PUSHBUTTON("&Reload", IDC_RELOAD, 136, 112, 44, 14),
};
const QX_DIALOG kExports = QX_DIALOG_TEMPLATE(0, 0, 260, 132, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                              "Currently Exported Directories", "MS Sans Serif", 8, kExportsItems);
const QX_DIALOG_ITEM kFilesItems[] = {
    QX_CONTROL("", IDC_LIST, "ListBox",
               LBS_NOINTEGRALHEIGHT | LBS_USETABSTOPS | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL, 6,
               6, 248, 100),
    QX_DEFPUSHBUTTON("&Close", IDCANCEL, 80, 112, 44, 14),
    QX_PUSHBUTTON("&Refresh", IDC_RELOAD, 136, 112, 44, 14),
};
const QX_DIALOG kFiles = QX_DIALOG_TEMPLATE(0, 0, 260, 132, WS_POPUP | WS_CAPTION | WS_SYSMENU, "Currently Open Files",
                                            "MS Sans Serif", 8, kFilesItems);

const QX_RESOURCE kResources[] = {
    QX_RES_DIALOG("info", kInfo),
    QX_RES_DIALOG("exports", kExports),
    QX_RES_DIALOG("files", kFiles),
};

HINSTANCE g_instance = nullptr;
SERVER_WINDOW_LINK g_link{};
HWND g_info_dialog = nullptr;
HWND g_exports_dialog = nullptr;
HWND g_files_dialog = nullptr;

// The rate of the last redraw: the total of requests then, and when.
struct RateState {
  bool started = false;
  uint32_t total = 0;
  DWORD tick = 0;
};
RateState g_rate;

// Where each dialog keeps its place in [QXServer].
struct DialogPlace {
  const char *x_key;
  const char *y_key;
};
constexpr DialogPlace kInfoPlace{"InitX", "InitY"};
constexpr DialogPlace kExportsPlace{"InitX1", "InitY1"};
constexpr DialogPlace kFilesPlace{"InitX2", "InitY2"};

void SetItemNumber(HWND dialog, int item, unsigned long value) {
  char text[16];
  snprintf(text, sizeof text, "%lu", value);
  SetDlgItemTextA(dialog, item, text);
}

void MoveToSavedPlace(HWND dialog, const DialogPlace &place, HWND insert_after, UINT flags) {
  const int x = GetPrivateProfileIntA(kIniSection, place.x_key, 33, g_link.ini_file);
  const int y = GetPrivateProfileIntA(kIniSection, place.y_key, 26, g_link.ini_file);
  SetWindowPos(dialog, insert_after, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | flags);
}

void SavePlace(HWND dialog, const DialogPlace &place) {
  if (IsIconic(dialog)) return;
  RECT r{};
  GetWindowRect(dialog, &r);
  char number[16];
  snprintf(number, sizeof number, "%d", int(r.left));
  WritePrivateProfileStringA(kIniSection, place.x_key, number, g_link.ini_file);
  snprintf(number, sizeof number, "%d", int(r.top));
  WritePrivateProfileStringA(kIniSection, place.y_key, number, g_link.ini_file);
}

void RedrawCounters(HWND dialog) {
  uint32_t sum = 0;
  for (int i = 0; i < kCounterCount; ++i) {
    SetItemNumber(dialog, kFirstCounterItem + i, g_link.counters[i]);
    sum += g_link.counters[i];
  }
  const uint32_t total =
      sum - g_link.counters[kRefreshIndex] - g_link.counters[kPriorityIndex] - g_link.counters[kCacheHitsIndex];
  const DWORD now = GetTickCount();
  // The rate needs two redraws at different moments.
  if (g_rate.started && now != g_rate.tick)
    SetItemNumber(dialog, IDC_OPS_PER_SEC, OpsPerSecond(total - g_rate.total, now - g_rate.tick));
  g_rate = RateState{true, total, now};
}

void OnRefreshScroll(HWND dialog, int code, int thumb) {
  const UINT refresh = ScrolledValue(*g_link.refresh, code, thumb, 1, 8, kMinRefresh, kMaxRefresh);
  *g_link.refresh = refresh;
  g_link.counters[kRefreshIndex] = refresh;
  SetScrollPos(GetDlgItem(dialog, IDC_REFRESH_BAR), SB_CTL, int(refresh), TRUE);
  // The new period applies at once.
  KillTimer(g_link.main_window, kRefreshTimer);
  SetTimer(g_link.main_window, kRefreshTimer, refresh * 1000, nullptr);
  SetItemNumber(dialog, kFirstCounterItem + kRefreshIndex, refresh);
}

void OnPriorityScroll(HWND dialog, int code, int thumb) {
  const UINT priority = ScrolledValue(*g_link.priority, code, thumb, kPriorityStep, kPriorityStep, 0, kMaxPriority);
  *g_link.priority = priority;
  g_link.counters[kPriorityIndex] = priority;
  SetScrollPos(GetDlgItem(dialog, IDC_PRIORITY_BAR), SB_CTL, int(priority), TRUE);
  SetItemNumber(dialog, kFirstCounterItem + kPriorityIndex, priority);
}

// The lists of the exports and open-files dialogs: emptied, one line per
// entry, scrolled sideways as far as the widest line.
struct ListFill {
  HWND list;
  HDC dc;
  int widest;
};

void AddListLine(const char *line, void *context) {
  ListFill &fill = *static_cast<ListFill *>(context);
  SendMessageA(fill.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
  const DWORD extent = GetTabbedTextExtentA(fill.dc, line, int(strlen(line)), 0, nullptr);
  if (int(LOWORD(extent)) + 4 > fill.widest) fill.widest = int(LOWORD(extent)) + 4;
}

void FillList(HWND dialog, void (*lines)(SERVER_LINE_SINK, void *)) {
  HWND list = GetDlgItem(dialog, IDC_LIST);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  INT column = kListColumn;  // the names line up, their options in a column after them
  SendMessageA(list, LB_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(&column));
  HDC dc = GetDC(list);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0)));
  ListFill fill{list, dc, 0};
  if (lines) lines(AddListLine, &fill);
  SelectObject(dc, old);
  ReleaseDC(list, dc);
  SendMessageA(list, LB_SETHORIZONTALEXTENT, WPARAM(fill.widest), 0);
}

void FillExports(HWND dialog) { FillList(dialog, g_link.export_lines); }
void FillFiles(HWND dialog) { FillList(dialog, g_link.open_file_lines); }

void OnReloadExports(HWND dialog) {
  if (g_link.reload_exports && g_link.reload_exports() == 0) {
    MessageBoxA(dialog, "Exports reloaded", "QX-Server", MB_OK | MB_ICONINFORMATION);
  } else {
    MessageBoxA(dialog,
                "No EXPORTS file found; the exports were not reloaded and the previous list stays in force. "
                "Put the file \"exports\" back in the Windows directory and press Reload again.",
                "QX-Server", MB_OK | MB_ICONSTOP);
  }
  FillExports(dialog);
}

// The exports and open-files dialogs share one pattern; this names what differs.
struct ListDialog {
  HWND *handle;
  DialogPlace place;
  void (*fill)(HWND);
  void (*button)(HWND);  // item 102: Reload or Refresh
};
const ListDialog kExportsDialog{&g_exports_dialog, kExportsPlace, FillExports, OnReloadExports};
const ListDialog kFilesDialog{&g_files_dialog, kFilesPlace, FillFiles, FillFiles};

INT_PTR ListDialogProc(const ListDialog &which, HWND dialog, UINT message, WPARAM wParam) {
  switch (message) {
    case WM_INITDIALOG:
      MoveToSavedPlace(dialog, which.place, nullptr, SWP_NOZORDER);
      ShowWindow(dialog, SW_SHOWNORMAL);
      which.fill(dialog);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) PostMessageA(dialog, WM_CLOSE, 0, 0);
      if (LOWORD(wParam) == IDC_RELOAD) which.button(dialog);
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(dialog);
      *which.handle = nullptr;
      return TRUE;
    case WM_DESTROY: SavePlace(dialog, which.place); return TRUE;
    default: return FALSE;
  }
}

INT_PTR CALLBACK ExportsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  return ListDialogProc(kExportsDialog, dialog, message, wParam);
}
INT_PTR CALLBACK FilesDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  return ListDialogProc(kFilesDialog, dialog, message, wParam);
}

// Brings a list dialog to the top, making it first when it is not there.
void ShowListDialog(HWND *handle, const char *template_name, DLGPROC procedure) {
  if (!*handle) *handle = CreateDialogParamA(g_instance, template_name, g_link.main_window, procedure, 0);
  if (*handle) BringWindowToTop(*handle);
}

void OnInfoInit(HWND dialog) {
  // Just behind the main window, so it never covers what the administrator works on.
  MoveToSavedPlace(dialog, kInfoPlace, g_link.main_window, 0);
  HWND refresh = GetDlgItem(dialog, IDC_REFRESH_BAR), priority = GetDlgItem(dialog, IDC_PRIORITY_BAR);
  SetScrollRange(refresh, SB_CTL, int(kMinRefresh), int(kMaxRefresh), FALSE);
  SetScrollPos(refresh, SB_CTL, int(*g_link.refresh), FALSE);
  SetScrollRange(priority, SB_CTL, 0, int(kMaxPriority), FALSE);
  SetScrollPos(priority, SB_CTL, int(*g_link.priority), FALSE);
  RedrawCounters(dialog);
}

void OnInfoCommand(HWND dialog, int id) {
  switch (id) {
    case IDCANCEL:
      ShowWindow(dialog, SW_HIDE);
      if (g_link.info_closed) g_link.info_closed();
      break;
    case IDC_REFRESH_NOW: PostMessageA(dialog, WM_SERVER_REFRESH, 0, 0); break;
    case IDC_SHOW_EXPORTS: ShowListDialog(&g_exports_dialog, "exports", ExportsDlgProc); break;
    case IDC_SHOW_FILES: ShowListDialog(&g_files_dialog, "files", FilesDlgProc); break;
    default: break;
  }
}

INT_PTR CALLBACK InfoDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: OnInfoInit(dialog); return TRUE;
    case WM_SERVER_REFRESH: RedrawCounters(dialog); return TRUE;
    case WM_HSCROLL:
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == IDC_REFRESH_BAR)
        OnRefreshScroll(dialog, LOWORD(wParam), short(HIWORD(wParam)));
      else
        OnPriorityScroll(dialog, LOWORD(wParam), short(HIWORD(wParam)));
      return TRUE;
    case WM_COMMAND: OnInfoCommand(dialog, LOWORD(wParam)); return TRUE;
    case WM_CLOSE:
      // The lists close; the information window itself stays.
      if (g_exports_dialog) SendMessageA(g_exports_dialog, WM_CLOSE, 0, 0);
      if (g_files_dialog) SendMessageA(g_files_dialog, WM_CLOSE, 0, 0);
      return TRUE;
    case WM_DESTROY: SavePlace(dialog, kInfoPlace); return TRUE;
    default: return FALSE;
  }
}

}  // namespace

QX_REGISTER_RESOURCES(kResources)

extern "C" QX_DLLEXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
  return TRUE;
}

extern "C" QX_DLLEXPORT HWND WINAPI ShowServerWindow(const SERVER_WINDOW_LINK *link) {
  if (!link || !link->counters || !link->refresh || !link->priority) return nullptr;
  g_link = *link;
  if (!g_info_dialog) g_info_dialog = CreateDialogParamA(g_instance, "info", g_link.main_window, InfoDlgProc, 0);
  if (!g_info_dialog) return nullptr;
  ShowWindow(g_info_dialog, SW_SHOWNORMAL);
  SetForegroundWindow(g_info_dialog);
  return g_info_dialog;
}

extern "C" QX_DLLEXPORT BOOL WINAPI ServerWindowMessage(MSG *message) {
  for (HWND dialog : {g_info_dialog, g_exports_dialog, g_files_dialog})
    if (dialog && IsDialogMessageA(dialog, message)) return TRUE;
  return FALSE;
}

extern "C" QX_DLLEXPORT void WINAPI CloseServerWindows(void) {
  for (HWND *dialog : {&g_exports_dialog, &g_files_dialog, &g_info_dialog}) {
    if (*dialog) DestroyWindow(*dialog);
    *dialog = nullptr;
  }
}
