// burrowview: the gopher client's window. One modeless dialog fills the main
// window: the item tree on the left, the document on the right, a status strip
// with the Save and Print buttons below, and a splitter between the lists.
// Retrieval blocks in Winsock while the blocking hook dispatches messages; a
// command that arrives meanwhile is asked about first (ConfirmCancelRetrieval).
#include "gophercore.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <cstring>
#include <vector>

#include <qxcommon.h>

#include "burrowview.h"
#include "pictures.h"
#include "printing.h"
#include "resources.h"
#include "sound.h"
#include "toolbar.h"

// ---- Process-wide state, owned by the main window; the dialogs share this part ----

HINSTANCE g_Instance;
HWND g_MainWnd, g_Dlg;
int g_ClearFirst = 1, g_InitialAction = 3;
char g_HomeHost[256], g_HomeKey[256], g_HomeCheckpoint[256], g_HomeBookmark[256];
int g_HomePort = 70;
COLORREF g_DocColor = RGB(255, 255, 255), g_TreeColor = RGB(255, 255, 255);
HBRUSH g_DocBrush, g_TreeBrush;

namespace {

constexpr const char *kAppName = kBurrowviewName;
constexpr const char *kErrorCaption = kBurrowviewError;
constexpr UINT kSoundSeconds[5] = {0, 3, 5, 10, 20};

HWND g_Splitter;
HBITMAP g_Folders, g_Others, g_Buttons;
HCURSOR g_MoveCursor;
int g_CellW = 16, g_CellH = 16, g_ButtonW = 24, g_ButtonH = 22;
int g_VUnit = 2, g_HUnit = 2;
int g_Location = -1;
bool g_Dragging;
int g_DragX;
HBRUSH g_GreyBrush, g_FaceBrush;
HFONT g_FixedFont, g_PropFont;
bool g_Monospaced;
int g_AveCharWidth = 8;
int g_WidestPixels, g_WidestChars;
int g_SoundSeconds = 5;
DWORD g_SoundBufferSize = 5 * 8000;
char g_AppsIni[MAX_PATH] = QX_APPS_INI;
char g_PrivateIni[MAX_PATH] = "BURROWVIEW.INI";
FileHandle g_DocFile;  // "UseFile" for reading by the document rows
int g_KeepPicture;     // the shown picture was saved under its own name

constexpr int kDocRowHeight = kDocumentRowHeight;
int TreeRowHeight() { return std::max(g_CellH + 2, 16); }

HWND TreeList() { return GetDlgItem(g_Dlg, IDC_TREE_LIST); }
HWND DocList() { return GetDlgItem(g_Dlg, IDC_DOC_LIST); }

int Box(const char *text, const char *caption, UINT type) { return MessageBoxA(g_MainWnd, text, caption, type); }

// ---- INI settings ----

void FindIni(const char *name, char *path) {
  OFSTRUCT found{};
  if (OpenFile(name, &found, OF_EXIST) != HFILE_ERROR) {
    snprintf(path, MAX_PATH, "%s", found.szPathName);
    return;
  }
  // The file made in the current directory is named by its full path: a bare
  // name would send every later read and write to the Windows directory.
  const DWORD n = GetFullPathNameA(name, MAX_PATH, path, nullptr);
  if (n == 0 || n >= MAX_PATH) snprintf(path, MAX_PATH, "%s", name);
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

void ReadString(const char *key, const char *fallback, char *out, int size) {
  GetPrivateProfileStringA(kAppName, key, fallback, out, size, g_AppsIni);
}

int ReadInt(const char *key, int fallback) { return GetPrivateProfileIntA(kAppName, key, fallback, g_AppsIni); }

bool IsTrueText(const char *v) { return !_stricmp(v, "1") || !_stricmp(v, "True") || !_stricmp(v, "Yes"); }

COLORREF ReadColour(const char *key) {
  char text[64];
  ReadString(key, "(255,255,255)", text, sizeof text);
  int r, g, b;
  if (sscanf(text, "(%d,%d,%d)", &r, &g, &b) != 3) return RGB(255, 255, 255);
  return RGB(r & 0xFF, g & 0xFF, b & 0xFF);
}

void ReadSettings() {
  g_Location = ReadInt("Location", -1);
  g_InitialAction = ReadInt("InitialAction", 3);
  // The action is posted as command 100 + the value: any other value would
  // start another command (6 is Exit), so it means the server chooser.
  if (g_InitialAction < 0 || g_InitialAction > 3) g_InitialAction = 3;
  char text[256];
  ReadString("ClearFirst", "1", text, sizeof text);
  g_ClearFirst = IsTrueText(text) ? 1 : 0;
  ReadString("HomeGopherHost", "", g_HomeHost, sizeof g_HomeHost);
  ReadString("HomeGopherKey", "", g_HomeKey, sizeof g_HomeKey);
  g_HomePort = ReadInt("HomeGopherPort", 70);
  ReadString("HomeCheckpoint", "", g_HomeCheckpoint, sizeof g_HomeCheckpoint);
  ReadString("HomeBookmark", "", g_HomeBookmark, sizeof g_HomeBookmark);
  ReadString("UserTelnet", kDefaultTelnetTemplate, text, sizeof text);
  g_UserTelnet = text;
  ReadString("UserTN3270", kDefaultTn3270Template, text, sizeof text);
  g_UserTN3270 = text;
}

void SaveLocation(LPCSTR iniFile, LPCSTR section) {
  char text[16];
  snprintf(text, sizeof text, "%d", g_Location);
  WritePrivateProfileStringA(section, "Location", text, iniFile);
}

// ---- Tree list ----

// Rows: roots in order, below each expanded item its children, depth first.
void AddTreeRows(HWND list, GopherItem *first, int *widest) {
  int rows = 0;
  ForEachVisible(first, [&](GopherItem *) { return ++rows, true; });
  SendMessageA(list, LB_INITSTORAGE, rows, 0);  // room for every row at once: a menu may have thousands
  HDC dc = GetDC(list);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0)));
  ForEachVisible(first, [&](GopherItem *item) {
    if (SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item)) < 0) {
      Box("Windows error displaying data; operation aborted", kErrorCaption, MB_OK | MB_ICONSTOP);
      return false;
    }
    SIZE size{};
    GetTextExtentPoint32A(dc, item->display.c_str(), static_cast<int>(item->display.size()), &size);
    *widest = std::max(*widest, (item->depth - 1) * g_CellW + size.cx + 2 + g_CellW + 4);
    return true;
  });
  SelectObject(dc, old);
  ReleaseDC(list, dc);
}

int RowOf(HWND list, const GopherItem *item) {
  const int n = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < n; ++i)
    if (reinterpret_cast<GopherItem *>(SendMessageA(list, LB_GETITEMDATA, i, 0)) == item) return i;
  return -1;
}

void RebuildTreeList(GopherItem *selected, int keepChildrenVisible) {
  HWND list = TreeList();
  HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  const int top = static_cast<int>(SendMessageA(list, LB_GETTOPINDEX, 0, 0));
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  int widest = 0;
  AddTreeRows(list, g_Roots, &widest);
  SendMessageA(list, LB_SETHORIZONTALEXTENT, widest, 0);
  const int row = selected ? RowOf(list, selected) : -1;
  int newTop = top;
  if (row >= 0 && keepChildrenVisible) {
    RECT rc;
    GetClientRect(list, &rc);
    const int fit = std::max(1, static_cast<int>(rc.bottom / TreeRowHeight()));
    const int wanted = CountChildren(selected) + 2;
    if (row < top || row + wanted > top + fit) newTop = row;
  }
  SendMessageA(list, LB_SETTOPINDEX, std::max(0, newTop), 0);
  if (row >= 0) SendMessageA(list, LB_SETCURSEL, row, 0);
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  SetCursor(old);
}

void DrawConnectors(HDC dc, const RECT &rc, const GopherItem *item) {
  if (item->depth <= 1) return;
  const int L = rc.left + 2, mid = (rc.top + rc.bottom) / 2, c = g_CellW, d = item->depth;
  auto column = [&](int k) { return L + c * (k - 2) + c / 2; };
  MoveToEx(dc, column(d), mid, nullptr);
  LineTo(dc, L + c * (d - 1), mid);
  MoveToEx(dc, column(d), item->next ? rc.bottom : mid, nullptr);
  LineTo(dc, column(d), rc.top - 1);
  int k = d - 1;
  for (const GopherItem *a = item->parent; a && k > 1; a = a->parent, --k) {
    if (!a->next) continue;
    MoveToEx(dc, column(k), rc.bottom, nullptr);
    LineTo(dc, column(k), rc.top - 1);
  }
}

void DrawTreeRow(const DRAWITEMSTRUCT *dis) {
  const auto *item = reinterpret_cast<const GopherItem *>(dis->itemData);
  HDC dc = dis->hDC;
  const RECT &rc = dis->rcItem;
  FillRect(dc, &rc, g_TreeBrush);
  if (!item || dis->itemID == static_cast<UINT>(-1)) return;
  DrawConnectors(dc, rc, item);
  const int x = rc.left + 2 + g_CellW * (item->depth - 1);
  const int y = rc.top + (rc.bottom - rc.top - g_CellH) / 2;
  const bool expanded = (item->flags & kItemExpanded) != 0;
  const int picture = TypePicture(item->typeIndex);
  if (item->typeIndex == kTypeMenu || picture < 0)
    ToolbarDrawBitmap(dc, x, y, g_Folders, RGB(0, 0, 255), g_CellW, g_CellH, expanded ? g_CellW : 0,
                      ((item->depth - 1) % 5) * g_CellH);
  else
    ToolbarDrawBitmap(dc, x, y, g_Others, RGB(0, 0, 255), g_CellW, g_CellH, picture * g_CellW, expanded ? g_CellH : 0);
  const bool selected = (dis->itemState & ODS_SELECTED) != 0;
  RECT text = rc;
  text.left = x + g_CellW + 4;
  SIZE size{};
  GetTextExtentPoint32A(dc, item->display.c_str(), static_cast<int>(item->display.size()), &size);
  text.right = std::min<LONG>(rc.right, text.left + size.cx + 2);
  if (selected) FillRect(dc, &text, GetSysColorBrush(COLOR_HIGHLIGHT));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  TextOutA(dc, text.left + 1, rc.top, item->display.c_str(), static_cast<int>(item->display.size()));
}

// ---- Document list ----

void SetDocumentExtent() {
  const int extent = g_Monospaced ? g_WidestChars * g_AveCharWidth + 6 : g_WidestPixels;
  SendMessageA(DocList(), LB_SETHORIZONTALEXTENT, extent, 0);
}

void DrawDocumentRow(const DRAWITEMSTRUCT *dis) {
  HDC dc = dis->hDC;
  if (dis->itemID == static_cast<UINT>(-1)) return;
  if (GifLoaded()) {
    // Picture mode: each row is a band of picture lines.
    FillRect(dc, &dis->rcItem, g_DocBrush);
    GifDrawRows(g_Dlg, dc, static_cast<int>(dis->itemData), dis->rcItem.left, dis->rcItem.top);
    return;
  }
  if (!g_DocFile.ok()) return;
  FillRect(dc, &dis->rcItem, g_DocBrush);
  char line[1024];
  DWORD got = 0;
  if (SetFilePointer(g_DocFile.get(), static_cast<LONG>(dis->itemData), nullptr, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER ||
      !ReadFile(g_DocFile.get(), line, sizeof line, &got, nullptr))
    return;
  int n = 0;
  while (n < static_cast<int>(got) && line[n] != '\n') ++n;
  if (n > 0 && line[n - 1] == '\r') --n;
  HGDIOBJ old = SelectObject(dc, g_Monospaced ? g_FixedFont : g_PropFont);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  TabbedTextOutA(dc, dis->rcItem.left + 6, dis->rcItem.top, line, n, 0, nullptr, dis->rcItem.left + 6);
  SelectObject(dc, old);
}

// ---- What the core shows through the windows ----

class WindowUi : public GopherUi {
 public:
  int Message(const char *text, const char *caption, UINT type) override { return Box(text, caption, type); }
  void SetStatus(const char *text) override {
    HWND status = GetDlgItem(g_Dlg, IDC_STATUS_TEXT);
    SendMessageA(status, WM_SETREDRAW, FALSE, 0);
    SetWindowTextA(status, text);
    SendMessageA(status, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(status, nullptr, TRUE);
    UpdateWindow(status);
  }
  void DocumentReset() override {
    // A text, a CSO answer or a new picture takes the place of the picture.
    GifRelease(g_KeepPicture);
    g_KeepPicture = 0;
    SendMessageA(DocList(), LB_RESETCONTENT, 0, 0);
    SendMessageA(DocList(), LB_SETHORIZONTALEXTENT, 0, 0);
    g_WidestPixels = g_WidestChars = 0;
  }
  void DocumentAddRow(long offset) override { SendMessageA(DocList(), LB_ADDSTRING, 0, offset); }
  void DocumentDone(long length) override {
    HWND list = DocList();
    for (int n = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0)); n > 0; --n) {
      if (static_cast<long>(SendMessageA(list, LB_GETITEMDATA, n - 1, 0)) < length) break;
      SendMessageA(list, LB_DELETESTRING, n - 1, 0);
    }
    SetDocumentExtent();
    if (!g_DocFile.ok())
      g_DocFile.Reset(CreateFileA(TempPath("UseFile").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    InvalidateRect(list, nullptr, TRUE);
  }
  void MeasureLine(std::string_view line) override {
    HWND list = DocList();
    HDC dc = GetDC(list);
    HGDIOBJ old = SelectObject(dc, g_PropFont);
    const DWORD extent = GetTabbedTextExtentA(dc, line.data(), static_cast<int>(line.size()), 0, nullptr);
    SelectObject(dc, old);
    ReleaseDC(list, dc);
    g_WidestPixels = std::max(g_WidestPixels, static_cast<int>(LOWORD(extent)) + 6);
    g_WidestChars = std::max(g_WidestChars, static_cast<int>(line.size()));
  }
  bool AskSearchWords(const GopherItem &item, std::string *words) override;
  bool AskSaveFileName(const std::string &proposed, int filterIndex, const char *defaultExtension,
                       std::string *path) override;
  bool RunCsoDialog(const GopherItem &item, std::string *query) override;
  bool ShowPicture(const std::string &path, std::string *why) override;
  bool PlaySoundStart() override { return SoundOpen(g_SoundSeconds) != 0; }
  void PlaySoundBlock(const char *data, int n) override { SoundFeed(data, n); }
  void PlaySoundEnd(bool completed) override { SoundFinish(completed); }
};
WindowUi g_WindowUi;

// The decoded picture in the document list: one row per band of lines.
bool WindowUi::ShowPicture(const std::string &path, std::string *why) {
  HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  const bool loaded = GifLoadFile(path.c_str()) == 0;
  SetCursor(old);
  if (!loaded) {
    *why = GifLastError();
    return false;
  }
  HWND list = DocList();
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  for (int band = 0; band < GifBandCount(); ++band) SendMessageA(list, LB_ADDSTRING, 0, band);
  int width = 0, height = 0;
  GifGetSize(&width, &height);
  SendMessageA(list, LB_SETHORIZONTALEXTENT, width, 0);
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  return true;
}

INT_PTR CALLBACK SearchDlgProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
  static std::string *words;
  if (INT_PTR brush = DialogColour(message, wParam)) return brush;
  switch (message) {
    case WM_INITDIALOG:
      words = reinterpret_cast<std::string *>(lParam);
      SendDlgItemMessageA(dlg, IDC_SEARCH_WORDS, EM_LIMITTEXT, 255, 0);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        char text[256] = {};
        GetDlgItemTextA(dlg, IDC_SEARCH_WORDS, text, sizeof text);
        *words = text;
        EndDialog(dlg, IDOK);
      } else if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dlg, IDCANCEL);
      }
      return TRUE;
  }
  return FALSE;
}

bool WindowUi::AskSearchWords(const GopherItem &item, std::string *words) {
  return DialogBoxParamA(g_Instance, "GetSearch", g_MainWnd, SearchDlgProc, reinterpret_cast<LPARAM>(words)) == IDOK;
}

bool WindowUi::AskSaveFileName(const std::string &proposed, int filterIndex, const char *defaultExtension,
                               std::string *path) {
  char filter[] =
      "Text Files (*.TXT)|*.TXT|GIF Files (*.GIF)|*.GIF|Sound Files (*.AU)|*.AU|UUEncoded Files (*.UUE)|*.UUE|"
      "Binary Archives|*.ZIP;*.ZOO;*.ARC|All Files (*.*)|*.*|";
  for (char &c : filter)
    if (c == '|') c = '\0';
  char file[256] = {};
  snprintf(file, sizeof file, "%s", proposed.c_str());
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = g_MainWnd;
  ofn.lpstrFilter = filter;
  ofn.nFilterIndex = static_cast<DWORD>(filterIndex);
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  ofn.lpstrTitle = "Save Document";
  ofn.lpstrDefExt = defaultExtension;
  ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
  if (!GetSaveFileNameA(&ofn)) return false;
  *path = file;
  return true;
}

struct CsoDialogData {
  const GopherItem *item;
  std::string *query;
  CSO_FORM form;
};

INT_PTR CALLBACK CsoDlgProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
  static CsoDialogData *data;
  if (INT_PTR brush = DialogColour(message, wParam)) return brush;
  switch (message) {
    case WM_INITDIALOG: {
      data = reinterpret_cast<CsoDialogData *>(lParam);
      data->form = CsoFormOf(data->item->csoFields.value_or(""));
      for (const std::string &key : data->form.keys)
        SendDlgItemMessageA(dlg, IDC_CSO_KEYS, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(key.c_str()));
      SendDlgItemMessageA(dlg, IDC_CSO_KEYS, LB_SETCURSEL, data->form.keySelection, 0);
      for (const std::string &row : data->form.returnRows)
        SendDlgItemMessageA(dlg, IDC_CSO_RETURN, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
      SendDlgItemMessageA(dlg, IDC_CSO_RETURN, LB_SETSEL, TRUE, 1);  // "Default"
      SendDlgItemMessageA(dlg, IDC_CSO_VALUE, EM_LIMITTEXT, 255, 0);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        const int key = static_cast<int>(SendDlgItemMessageA(dlg, IDC_CSO_KEYS, LB_GETCURSEL, 0, 0));
        char value[256] = {};
        GetDlgItemTextA(dlg, IDC_CSO_VALUE, value, sizeof value);
        std::vector<bool> selected(data->form.returnRows.size());
        for (size_t i = 0; i < selected.size(); ++i)
          selected[i] = SendDlgItemMessageA(dlg, IDC_CSO_RETURN, LB_GETSEL, i, 0) > 0;
        const std::string keyName =
            key >= 0 && key < static_cast<int>(data->form.keys.size()) ? data->form.keys[key] : "name";
        *data->query = BuildCsoQuery(keyName, value, data->form.returnRows, selected);
        EndDialog(dlg, IDOK);
      } else if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dlg, IDCANCEL);
      }
      return TRUE;
  }
  return FALSE;
}

bool WindowUi::RunCsoDialog(const GopherItem &item, std::string *query) {
  CsoDialogData data{&item, query, {}};
  return DialogBoxParamA(g_Instance, "CSO", g_MainWnd, CsoDlgProc, reinterpret_cast<LPARAM>(&data)) == IDOK;
}

// ---- Busy rule ----

int ConfirmCancelRetrieval(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const char *question = g_ConnectBusy   ? "Connect in Progress; Cancel?"
                         : g_ReceiveBusy ? "Receiving Data in Progress; Cancel?"
                                         : nullptr;
  if (!question) return 0;
  if (Box(question, kAppName, MB_YESNO | MB_ICONSTOP) == IDYES) {
    g_Deferred = {window, message, wParam, lParam};
    WSACancelBlockingCall();
  }
  return 1;
}

BOOL CALLBACK BlockingHook() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return FALSE;
  if (!g_Dlg || !IsDialogMessageA(g_Dlg, &msg)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return TRUE;
}

// ---- Commands ----

void SetFontChecks() {
  HMENU menu = GetMenu(g_MainWnd);
  CheckMenuItem(menu, IDM_MONOSPACED, g_Monospaced ? MF_CHECKED : MF_UNCHECKED);
  CheckMenuItem(menu, IDM_PROPORTIONAL, g_Monospaced ? MF_UNCHECKED : MF_CHECKED);
}

void SetSoundChecks() {
  for (int i = 0; i < 5; ++i)
    CheckMenuItem(GetMenu(g_MainWnd), IDM_SOUND_FILE + i,
                  static_cast<int>(kSoundSeconds[i]) == g_SoundSeconds ? MF_CHECKED : MF_UNCHECKED);
}

// The system's print set-up dialog on the default printer's record.
void PrintSetup() {
  PrintTakeDefaults(g_Dlg);
  PRINTDLGA &pd = PrintSettings();
  pd.lStructSize = sizeof pd;
  pd.hwndOwner = g_MainWnd;
  pd.Flags = PD_PRINTSETUP;
  PrintDlgA(&pd);
}

void OpenHomeGopher() {
  if (!g_HomeHost[0]) {
    Box("No Home Gopher server specified", kErrorCaption, MB_OK | MB_ICONSTOP);
    return;
  }
  // A port outside the range would be cut to 16 bits and reach another server.
  if (g_HomePort < 1 || g_HomePort > 65535) {
    char text[MAX_PATH + 200];
    snprintf(text, sizeof text,
             "The home gopher's port %d is not a port number from 1 to 65535. Correct HomeGopherPort in the "
             "section [%s] of %s.",
             g_HomePort, kAppName, g_AppsIni);
    Box(text, kErrorCaption, MB_OK | MB_ICONSTOP);
    return;
  }
  GopherItem *root = new (std::nothrow) GopherItem;
  if (!root) {
    Box("Unable to allocate memory", kErrorCaption, MB_OK | MB_ICONSTOP);
    return;
  }
  root->typeChar = 'S';
  root->typeIndex = kTypeServer;
  root->display = g_HomeHost;
  root->selector = g_HomeKey;
  root->host = g_HomeHost;
  root->port = g_HomePort;
  root->flags = kItemSelectable;
  char title[300];
  snprintf(title, sizeof title, "%s - %s", kAppName, g_HomeHost);
  SetWindowTextA(g_MainWnd, title);
  AddRootItem(root, g_ClearFirst);
}

void DoMenuCommand(HWND window, int id) {
  switch (id) {
    case IDM_HOME_GOPHER: OpenHomeGopher(); break;
    case IDM_HOME_CHECKPOINT:
    case IDM_HOME_BOOKMARK:
    case IDM_SAVE_BOOKMARK:
    case IDM_DELETE_BOOKMARK:
    case IDM_GOTO_BOOKMARK:
    case IDM_CHECKPOINT:
    case IDM_REMOVE_CHECKPOINT:
    case IDM_LOAD_CHECKPOINT: BookmarkCommand(window, id); break;
    case IDM_SELECT_GOPHER:
    case IDM_CONFIGURE:
    case IDM_DOC_COLOR:
    case IDM_TREE_COLOR: SettingsCommand(window, id); break;
    case IDM_EXIT: PostMessageA(window, WM_CLOSE, 0, 0); break;
    case IDM_PRINT_SETUP: PrintSetup(); break;
    case IDM_HELP_USING: WinHelpA(window, "WINHELP.HLP", HELP_CONTENTS, 0); break;
    case IDM_HELP_INDEX: WinHelpA(window, "ZIVADOR.HLP", HELP_CONTENTS, 0); break;
    case IDM_ABOUT: DialogBoxParamA(g_Instance, "About", window, AboutDlgProc, 0); break;
    case IDM_MONOSPACED:
    case IDM_PROPORTIONAL:
      g_Monospaced = id == IDM_MONOSPACED;
      SetDocumentExtent();
      SetFontChecks();
      InvalidateRect(DocList(), nullptr, TRUE);
      break;
    default:
      if (id >= IDM_SOUND_FILE && id <= IDM_SOUND_LAST) {
        g_SoundSeconds = static_cast<int>(kSoundSeconds[id - IDM_SOUND_FILE]);
        g_SoundBufferSize = static_cast<DWORD>(g_SoundSeconds) * 8000;
        SetSoundChecks();
        char text[16];
        snprintf(text, sizeof text, "%d", g_SoundSeconds);
        WritePrivateProfileStringA(kAppName, "SecondsOfSound", text, g_AppsIni);
      }
      break;
  }
}

// ---- Client-area dialog ----

void LayoutClient() {
  RECT rc;
  GetClientRect(g_MainWnd, &rc);
  const int W = rc.right, H = rc.bottom;
  MoveWindow(g_Dlg, 0, 0, W + 1, H + 1, TRUE);
  const int border = GetSystemMetrics(SM_CYBORDER);
  const int Lh = H - 16 * g_VUnit + 1 + 2 * border;
  const int Sh = 16 * g_VUnit - 1 - 2 * border;
  if (g_Location == -1) g_Location = (W + 1) / 2 - 1;
  // A stored splitter position beyond this window's width would give lists of
  // negative width: it is held inside the window.
  g_Location = std::clamp(g_Location, 0, std::max(0, W - 3));
  const int bw = g_ButtonW;
  MoveWindow(TreeList(), 0, 0, std::max(0, g_Location - 1), std::max(0, Lh - 1), TRUE);
  MoveWindow(DocList(), g_Location + 4, 0, std::max(0, W - g_Location - 3), std::max(0, Lh - 1), TRUE);
  MoveWindow(g_Splitter, g_Location, 0, 3, std::max(0, Lh), TRUE);
  MoveWindow(GetDlgItem(g_Dlg, IDC_STATUS_FRAME), 10 * g_HUnit, Lh + (Sh - 12 * g_VUnit) / 2,
             std::max(0, W - 20 * g_HUnit - (7 * bw) / 2 + 1), 12 * g_VUnit, TRUE);
  MoveWindow(GetDlgItem(g_Dlg, IDC_STATUS_TEXT), 12 * g_HUnit, Lh + (Sh - 8 * g_VUnit) / 2,
             std::max(0, W - 24 * g_HUnit - (7 * bw) / 2 + 1), 8 * g_VUnit, TRUE);
  const int by = Lh + (Sh - g_ButtonH - 4) / 2;
  MoveWindow(GetDlgItem(g_Dlg, IDC_PRINT_BUTTON), W - 3 * bw - 11, by, bw, g_ButtonH, TRUE);
  MoveWindow(GetDlgItem(g_Dlg, IDC_SAVE_BUTTON), W - (3 * bw) / 2 - 5, by, bw, g_ButtonH, TRUE);
}

// Save in picture mode: a copy of the picture file under the chosen name;
// the picture's own name keeps its file when the next document replaces it.
void SavePicture() {
  const std::string &picture = GifPath();
  const size_t slash = picture.find_last_of("\\/");
  std::string path;
  if (!g_WindowUi.AskSaveFileName(picture.substr(slash == std::string::npos ? 0 : slash + 1), 2, "GIF", &path)) return;
  if (!_stricmp(path.c_str(), picture.c_str())) {
    g_KeepPicture = 1;
    return;
  }
  HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  const bool copied = CopyFileA(picture.c_str(), path.c_str(), FALSE);
  SetCursor(old);
  if (!copied) Box("Unable to create output file", kErrorCaption, MB_OK | MB_ICONSTOP);
}

void PrintShownDocument() {
  if (g_ReceiveBusy) {
    Box("Cannot perform operation; receive still in progress", kAppName, MB_OK | MB_ICONSTOP);
    return;
  }
  if (SendMessageA(DocList(), LB_GETCOUNT, 0, 0) <= 0) return;
  if (GifLoaded())
    GifPrint(g_MainWnd);
  else
    PrintDocument(g_Dlg, IDC_DOC_LIST);
}

// Save in text mode: each row's whole line, ended CR LF.
void SaveDocument() {
  if (g_ReceiveBusy) {
    Box("Cannot perform operation; receive still in progress", kAppName, MB_OK | MB_ICONSTOP);
    return;
  }
  const int rows = static_cast<int>(SendMessageA(DocList(), LB_GETCOUNT, 0, 0));
  if (rows > 0 && GifLoaded()) return SavePicture();
  if (rows <= 0 || !g_DocFile.ok()) return;
  std::string path;
  if (!g_WindowUi.AskSaveFileName("", 1, "TXT", &path)) return;
  FileHandle out(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.ok()) {
    Box("Unable to create output file", kErrorCaption, MB_OK | MB_ICONSTOP);
    return;
  }
  HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  for (int i = 0; i < rows; ++i) {
    // A line of any length is copied whole, in pieces, up to its line feed.
    LONG at = static_cast<LONG>(SendMessageA(DocList(), LB_GETITEMDATA, i, 0));
    std::string line;
    char piece[512];
    for (;;) {
      DWORD got = 0;
      if (SetFilePointer(g_DocFile.get(), at, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
          !ReadFile(g_DocFile.get(), piece, sizeof piece, &got, nullptr) || got == 0)
        break;
      const char *lf = static_cast<const char *>(memchr(piece, '\n', got));
      line.append(piece, lf ? static_cast<size_t>(lf - piece) : got);
      if (lf) break;
      at += static_cast<LONG>(got);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line += "\r\n";
    DWORD written = 0;
    if (!WriteFile(out.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
      Box("Error writing file.  Disk Full?", "Cannot Complete Operation", MB_OK | MB_ICONSTOP);
      break;
    }
  }
  SetCursor(old);
}

GopherItem *SelectedItem() {
  const LRESULT row = SendMessageA(TreeList(), LB_GETCURSEL, 0, 0);
  if (row == LB_ERR) return nullptr;
  return reinterpret_cast<GopherItem *>(SendMessageA(TreeList(), LB_GETITEMDATA, row, 0));
}

void OpenSelected(HWND dlg, WPARAM wParam, LPARAM lParam) {
  if (ConfirmCancelRetrieval(dlg, WM_COMMAND, wParam, lParam)) return;
  GopherItem *item = SelectedItem();
  if (!item) return;
  if (GetKeyState(VK_SHIFT) & 0x8000) {
    char text[1200];
    snprintf(text, sizeof text, "Type:\t%s\nDisplay:\t%.255s\nKey:\t%.255s\nHost:\t%.255s\nPort:\t%d",
             TypeName(item->typeIndex, item->typeChar).c_str(), item->display.c_str(), item->selector.c_str(),
             item->host.c_str(), item->port);
    Box(text, "Gopher Node Definition", MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (item->flags & kItemSelectable) ActivateItem(item, g_MainWnd);
}

// Delete: a root goes with its subtree; any other item loses its children.
// While a retrieval runs it is asked about first, so the item being filled
// is never freed under it.
LRESULT DeleteAtCaret(HWND dlg, WPARAM wParam, LPARAM lParam) {
  if (ConfirmCancelRetrieval(dlg, WM_VKEYTOITEM, wParam, lParam)) return -2;
  const LRESULT caret = SendMessageA(TreeList(), LB_GETCARETINDEX, 0, 0);
  if (caret < 0) return -2;
  auto *item = reinterpret_cast<GopherItem *>(SendMessageA(TreeList(), LB_GETITEMDATA, caret, 0));
  if (!item || reinterpret_cast<LRESULT>(item) == LB_ERR) return -2;
  if (!item->parent) {
    DeleteRoot(item);
    RebuildTreeList(nullptr, 0);
  } else {
    CollapseItem(item, 1);
    RebuildTreeList(item, 0);
  }
  return -2;
}

HBRUSH ControlColour(HDC dc, HWND control) {
  if (control == TreeList()) return g_TreeBrush;
  if (control == DocList()) return g_DocBrush;
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return g_FaceBrush;
}

INT_PTR CALLBACK ClientDlgProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (g_Buttons && ToolbarParentMsg(dlg, message, wParam, lParam, &result, g_Buttons, IDC_SAVE_BUTTON, 2)) {
    SetWindowLongA(dlg, DWL_MSGRESULT, static_cast<LONG>(result));
    return TRUE;
  }
  switch (message) {
    case WM_INITDIALOG:
      g_Dlg = dlg;
      SetWindowLongA(dlg, GWL_ID, IDC_CLIENT_AREA);
      g_Splitter = CreateWindowA("MoveLine", "", WS_CHILD | WS_VISIBLE, std::max(0, g_Location), 0, 3, 600, dlg,
                                 nullptr, g_Instance, nullptr);
      g_FaceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
      // Rows are measured here as well as on WM_MEASUREITEM, which not every
      // list sends for fixed-height rows.
      SendDlgItemMessageA(dlg, IDC_TREE_LIST, LB_SETITEMHEIGHT, 0, TreeRowHeight());
      SendDlgItemMessageA(dlg, IDC_DOC_LIST, LB_SETITEMHEIGHT, 0, kDocRowHeight);
      SetFocus(GetDlgItem(dlg, IDC_TREE_LIST));
      return FALSE;
    case WM_SIZE: LayoutClient(); return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_TREE_LIST, LBN_DBLCLK), reinterpret_cast<LPARAM>(TreeList()));
      } else if (LOWORD(wParam) == IDC_TREE_LIST && HIWORD(wParam) == LBN_DBLCLK) {
        OpenSelected(dlg, wParam, lParam);
      } else if (LOWORD(wParam) == IDC_SAVE_BUTTON) {
        SaveDocument();
      } else if (LOWORD(wParam) == IDC_PRINT_BUTTON) {
        PrintShownDocument();
      }
      return TRUE;
    case WM_VKEYTOITEM: return LOWORD(wParam) == VK_DELETE ? DeleteAtCaret(dlg, wParam, lParam) : -1;
    case WM_MEASUREITEM: {
      // Tree rows fit a picture cell and a line of text; document rows a line.
      auto *mis = reinterpret_cast<MEASUREITEMSTRUCT *>(lParam);
      mis->itemHeight = mis->CtlID == IDC_TREE_LIST ? TreeRowHeight() : kDocRowHeight;
      return TRUE;
    }
    case WM_DRAWITEM: {
      const auto *dis = reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
      if (!(dis->itemAction & (ODA_DRAWENTIRE | ODA_SELECT))) return TRUE;
      if (dis->CtlID == IDC_TREE_LIST) DrawTreeRow(dis);
      if (dis->CtlID == IDC_DOC_LIST) DrawDocumentRow(dis);
      return TRUE;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<INT_PTR>(ControlColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    case WM_DESTROY:
      DestroyWindow(g_Splitter);
      DeleteObject(g_FaceBrush);
      return FALSE;
  }
  return FALSE;
}

// ---- Splitter ----

void InvertBar() {
  RECT rc;
  GetClientRect(g_Dlg, &rc);
  HDC dc = GetDC(g_Dlg);
  PatBlt(dc, g_Location, 0, 3, rc.bottom, DSTINVERT);
  ReleaseDC(g_Dlg, dc);
}

LRESULT CALLBACK SplitterWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      FillRect(dc, &ps.rcPaint, g_GreyBrush);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_LBUTTONDOWN:
      g_Dragging = true;
      g_DragX = static_cast<short>(LOWORD(lParam));
      SetCapture(window);
      InvertBar();
      return 0;
    case WM_MOUSEMOVE: {
      const int x = static_cast<short>(LOWORD(lParam));
      if (!g_Dragging || x == g_DragX) return 0;
      RECT rc;
      GetClientRect(g_Dlg, &rc);
      InvertBar();
      g_Location = std::clamp(g_Location + x - g_DragX, 0, std::max(0, static_cast<int>(rc.right) - 3));
      InvertBar();
      return 0;
    }
    case WM_LBUTTONUP:
      if (!g_Dragging) return 0;
      g_Dragging = false;
      InvertBar();
      ReleaseCapture();
      PostMessageA(g_Dlg, WM_SIZE, 0, 0);
      InvalidateRect(window, nullptr, TRUE);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// ---- Main window ----

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT paletteResult = 0;
  if (GifPaletteMessages(window, message, wParam, lParam, &paletteResult)) return paletteResult;
  switch (message) {
    case WM_DESTROY:
      FreeItemList(g_Roots);
      g_Roots = nullptr;
      WSACleanup();
      Ctl3dUnload(g_Instance);
      SaveWindowPlacement(window);
      PostQuitMessage(0);
      g_Dlg = nullptr;
      return 0;
    case WM_SIZE:
      if (g_Dlg) PostMessageA(g_Dlg, WM_SIZE, 0, 0);
      return 0;
    case WM_WININICHANGE: PrintTakeDefaults(g_Dlg); return 0;
    case WM_CLOSE:
      if (!ConfirmCancelRetrieval(window, message, wParam, lParam)) DestroyWindow(window);
      return 0;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id != IDM_MONOSPACED && id != IDM_PROPORTIONAL && ConfirmCancelRetrieval(window, message, wParam, lParam))
        return 0;
      DoMenuCommand(window, id);
      return 0;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterClasses() {
  WNDCLASSA wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = MainWndProc;
  wc.hInstance = g_Instance;
  wc.hIcon = LoadIconA(g_Instance, "AppIcon1");
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszMenuName = "BURROWVIEW";
  wc.lpszClassName = kAppName;
  if (!RegisterClassA(&wc)) return false;
  WNDCLASSA split{};
  split.lpfnWndProc = SplitterWndProc;
  split.hInstance = g_Instance;
  split.hCursor = g_MoveCursor ? g_MoveCursor : LoadCursorA(nullptr, IDC_SIZEWE);
  split.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  split.lpszClassName = "MoveLine";
  return RegisterClassA(&split) != 0;
}

void LoadPictures() {
  BITMAP bm{};
  g_Folders = LoadBitmapA(g_Instance, "Folders");
  g_MoveCursor = LoadCursorA(g_Instance, "move");
  if (g_Folders && GetObjectA(g_Folders, sizeof bm, &bm)) {
    g_CellW = bm.bmWidth / 2;
    g_CellH = bm.bmHeight / 5;
  }
  g_Others = LoadBitmapA(g_Instance, "Others");
  if (!g_Others || !GetObjectA(g_Others, sizeof bm, &bm) || bm.bmWidth != 20 * g_CellW)
    MessageBoxA(g_MainWnd, "Internal error - Bitmaps", kErrorCaption, MB_OK | MB_ICONSTOP);
  const LONG units = GetDialogBaseUnits();
  g_VUnit = std::max(1, HIWORD(units) / 8);
  g_HUnit = std::max(1, LOWORD(units) / 4);
  g_Buttons = LoadBitmapA(g_Instance, "Buttons");
  if (g_Buttons && GetObjectA(g_Buttons, sizeof bm, &bm)) {
    g_ButtonW = bm.bmWidth / 2;
    g_ButtonH = bm.bmHeight / 2;
  }
  g_GreyBrush = CreateSolidBrush(RGB(192, 192, 192));
}

void MakeFonts() {
  LOGFONTA lf{};
  GetObjectA(GetStockObject(SYSTEM_FIXED_FONT), sizeof lf, &lf);
  lf.lfWeight = 400;
  g_FixedFont = CreateFontIndirectA(&lf);
  LOGFONTA pf{};
  GetObjectA(GetStockObject(SYSTEM_FONT), sizeof pf, &pf);
  snprintf(pf.lfFaceName, sizeof pf.lfFaceName, "Helv");
  HDC dc = GetDC(g_Dlg);
  pf.lfHeight = -(8 * GetDeviceCaps(dc, LOGPIXELSY) / 72);
  g_PropFont = CreateFontIndirectA(&pf);
  HGDIOBJ old = SelectObject(dc, g_FixedFont);
  TEXTMETRICA tm{};
  if (GetTextMetricsA(dc, &tm)) g_AveCharWidth = tm.tmAveCharWidth;
  SelectObject(dc, old);
  ReleaseDC(g_Dlg, dc);
  SetFontChecks();
}

void ReadDisplaySettings() {
  g_SoundSeconds = ReadInt("SecondsOfSound", 5);
  bool known = false;
  for (UINT s : kSoundSeconds) known = known || static_cast<int>(s) == g_SoundSeconds;
  if (!known) g_SoundSeconds = 5;
  g_SoundBufferSize = static_cast<DWORD>(g_SoundSeconds) * 8000;
  SetSoundChecks();
  g_DocColor = ReadColour("DocColor");
  g_TreeColor = ReadColour("TreeColor");
  g_DocBrush = CreateSolidBrush(g_DocColor);
  g_TreeBrush = CreateSolidBrush(g_TreeColor);
}

void FreeWindowResources() {
  g_DocFile.Close();
  GifRelease(g_KeepPicture);
  for (HGDIOBJ o :
       {static_cast<HGDIOBJ>(g_Folders), static_cast<HGDIOBJ>(g_Others), static_cast<HGDIOBJ>(g_Buttons),
        static_cast<HGDIOBJ>(g_DocBrush), static_cast<HGDIOBJ>(g_TreeBrush), static_cast<HGDIOBJ>(g_GreyBrush),
        static_cast<HGDIOBJ>(g_FixedFont), static_cast<HGDIOBJ>(g_PropFont)})
    if (o) DeleteObject(o);
  ToolbarFree();
  FreeDialogColour();
  RemovePrivateTempDir();
}

}  // namespace

const char *AppsIniPath() { return g_AppsIni; }
const char *PrivateIniPath() { return g_PrivateIni; }

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  g_Instance = instance;
  if (previous) {
    if (HWND other = FindWindowA(kAppName, nullptr)) {
      if (IsIconic(other))
        ShowWindow(other, SW_RESTORE);
      else
        SetForegroundWindow(other);
    }
    return 0;
  }
  DebugLogOpen(instance, commandLine);
  Ctl3dLoad(instance);
  if (!RegisterClasses()) return 0;
  FindIni("BURROWVIEW.INI", g_PrivateIni);
  FindIni(QX_APPS_INI, g_AppsIni);
  ReadSettings();
  // Placement is written as width + 1 and height + 1; it is read back as
  // written less one, so the window keeps its size from run to run.
  int x = GetPrivateProfileIntA(kAppName, "Xl", CW_USEDEFAULT, g_AppsIni);
  int y = GetPrivateProfileIntA(kAppName, "Yt", show, g_AppsIni);
  int cx = GetPrivateProfileIntA(kAppName, "Cx", CW_USEDEFAULT, g_AppsIni);
  int cy = GetPrivateProfileIntA(kAppName, "Cy", 0, g_AppsIni);
  if (cx != CW_USEDEFAULT && cx > 1) --cx;
  if (cy > 1) --cy;
  g_MainWnd = CreateWindowA(kAppName, kAppName, WS_OVERLAPPEDWINDOW, x, y, cx, cy, nullptr, nullptr, instance, nullptr);
  WSADATA wsa;
  if (!g_MainWnd || WSAStartup(MAKEWORD(1, 1), &wsa) != 0) return 0;
  WSASetBlockingHook(reinterpret_cast<FARPROC>(BlockingHook));
  PlacementSetup(kAppName, SaveLocation);
  LoadPictures();
  ToolbarInit(g_MainWnd, instance);
  SetGopherUi(&g_WindowUi);
  g_TreeChanged = RebuildTreeList;
  if (!CreateDialogParamA(instance, "QXburrowview", g_MainWnd, ClientDlgProc, 0)) return 0;
  MakeFonts();
  ReadDisplaySettings();
  GifSetDocumentList(DocList());
  PrintTakeDefaults(g_Dlg);
  PostMessageA(g_Dlg, WM_SIZE, 0, 0);
  ShowWindow(g_MainWnd, show);
  UpdateWindow(g_MainWnd);
  if (!MakePrivateTempDir()) {
    Box("Unable to open temporary file", kErrorCaption, MB_OK);
    PostMessageA(g_MainWnd, WM_CLOSE, 0, 0);
  } else {
    FileHandle create(CreateFileA(TempPath("UseFile").c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    g_DocFile.Reset(CreateFileA(TempPath("UseFile").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  PostMessageA(g_MainWnd, WM_COMMAND, IDM_HOME_GOPHER + g_InitialAction, 0);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0)) {
    if (g_Dlg && IsDialogMessageA(g_Dlg, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  FreeWindowResources();
  return static_cast<int>(msg.wParam);
}
