// burrowedit: the gopher menu editor. The application (start-up and the
// message loop), the main frame with its MDI client, tool bar and status
// bar, and the frame's window state kept in the profile.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "docview.h"
#include "menuview.h"
#include "resources.h"
#include "toolbar.h"
#include "windowstate.h"

namespace {

constexpr const char *kFrameClass = "BurroweditFrame";
constexpr const char *kToolBarClass = "BurroweditToolBar";
constexpr const char *kStatusBarClass = "BurroweditStatusBar";
constexpr DWORD kFrameStyle = 0xCF8000;  // overlapped window, document title added
constexpr int kToolBarHeight = 28, kStatusBarHeight = 20, kIndicatorWidth = 40;

// ---- the tool bar ---------------------------------------------------------------------

// The 13 slots: commands in order, 0 for a separator.
constexpr UINT kToolSlots[13] = {
    ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE,  0, ID_INSERT_ITEM, ID_EDIT_ITEM, ID_DELETE_ITEM, 0,
    ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE, 0, ID_APP_ABOUT};
constexpr int kButtonCount = 10;
constexpr int kFaceW = 16, kFaceH = 15, kSeparatorW = 8;
// What each face shows, drawn at start-up.
constexpr const char *kFaceGlyphs[kButtonCount] = {"N", "O", "S", "+", "E", "-", "X", "C", "P", "?"};

// The edge of the frame the tool bar stands at; a person drags it to another.
enum class DockSide { top, bottom, left, right };

struct FrameState {
  HWND toolBar = nullptr, statusBar = nullptr;
  HWND indicators[3] = {};
  HBITMAP strip = nullptr;
  HACCEL accelerators = nullptr;
  bool firstShowing = true;
  DockSide dock = DockSide::top;
  bool dragging = false;
  bool restoreToMaximized = false;  // minimised from a maximised window
};
FrameState &F() {
  static FrameState state;
  return state;
}

UINT CommandOfButton(int buttonId) {
  int n = 0;
  for (UINT command : kToolSlots)
    if (command && ++n == buttonId) return command;
  return 0;
}

// The second half of a command's string: its tool tip; the first: its prompt.
std::string PromptPart(UINT command, bool tip) {
  const std::string text = LoadResourceString(command);
  const size_t nl = text.find('\n');
  if (nl == std::string::npos) return tip ? std::string() : text;
  return tip ? text.substr(nl + 1) : text.substr(0, nl);
}

// The faces: normal ones in the left half, pressed and disabled ones (grey)
// in the right half, pure blue where the button shows through.
HBITMAP MakeButtonStrip(HWND window) {
  HDC screen = GetDC(window);
  HBITMAP strip = CreateCompatibleBitmap(screen, 2 * kFaceW, kButtonCount * kFaceH);
  ReleaseDC(window, screen);
  if (!strip) return nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, strip);
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
  RECT all{0, 0, 2 * kFaceW, kButtonCount * kFaceH};
  FillRect(dc, &all, blue);
  DeleteObject(blue);
  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ oldFont = SelectObject(dc, GetStockObject(ANSI_VAR_FONT));
  for (int i = 0; i < kButtonCount; ++i) {
    for (int half = 0; half < 2; ++half) {
      RECT r{half * kFaceW, i * kFaceH, (half + 1) * kFaceW, (i + 1) * kFaceH};
      SetTextColor(dc, half ? RGB(0x80, 0x80, 0x80) : RGB(0, 0, 0));
      DrawTextA(dc, kFaceGlyphs[i], -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
  }
  SelectObject(dc, oldFont);
  SelectObject(dc, old);
  DeleteDC(dc);
  return strip;
}

bool Vertical() { return F().dock == DockSide::left || F().dock == DockSide::right; }

// The buttons in a row, or in a column when the bar stands at a side.
void PlaceButtons() {
  int at = 4, id = 0;
  for (UINT command : kToolSlots) {
    if (!command) {
      at += kSeparatorW;
      continue;
    }
    if (HWND button = GetDlgItem(F().toolBar, ++id))
      SetWindowPos(button, nullptr, Vertical() ? 3 : at, Vertical() ? at : 3, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    at += kFaceW + 5;
  }
}

void LayoutFrame(HWND frame);

// Released after a drag of the bar: it docks at the frame's edge nearest the point.
void DockAt(POINT screen) {
  HWND frame = App().mainFrame;
  ScreenToClient(frame, &screen);
  RECT r{};
  GetClientRect(frame, &r);
  const LONG distances[4] = {screen.y - r.top, r.bottom - screen.y, screen.x - r.left, r.right - screen.x};
  const DockSide sides[4] = {DockSide::top, DockSide::bottom, DockSide::left, DockSide::right};
  const size_t nearest = static_cast<size_t>(std::min_element(std::begin(distances), std::end(distances)) - distances);
  if (sides[nearest] == F().dock) return;
  F().dock = sides[nearest];
  PlaceButtons();
  LayoutFrame(frame);
}

LRESULT CALLBACK ToolBarProc(HWND bar, UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result = 0;
  if (ToolbarParentMsg(bar, msg, wp, lp, &result, F().strip, 1, kButtonCount)) return result;
  switch (msg) {
    case WM_LBUTTONDOWN:
      // A press on the bar itself, between or beside the buttons, drags it.
      F().dragging = true;
      SetCapture(bar);
      return 0;
    case WM_LBUTTONUP:
      if (F().dragging) {
        F().dragging = false;
        ReleaseCapture();
        POINT p{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
        ClientToScreen(bar, &p);
        DockAt(p);
      }
      return 0;
    default: break;
  }
  if (msg == WM_COMMAND && HIWORD(wp) == BN_CLICKED) {
    if (const UINT command = CommandOfButton(LOWORD(wp)))
      PostMessageA(App().mainFrame, WM_COMMAND, MAKEWPARAM(command, 0), 0);
    return 0;
  }
  return DefWindowProcA(bar, msg, wp, lp);
}

bool CreateToolBar(HWND frame) {
  F().toolBar =
      CreateWindowExA(0, kToolBarClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, kToolBarHeight, frame,
                      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(AFX_IDW_TOOLBAR)), App().instance, nullptr);
  if (!F().toolBar) return false;
  ToolbarInit(F().toolBar, App().instance);
  F().strip = MakeButtonStrip(frame);
  if (!F().strip) return false;
  int x = 4, id = 0;
  for (UINT command : kToolSlots) {
    if (!command) {
      x += kSeparatorW;
      continue;
    }
    ++id;
    const std::string tip = PromptPart(command, true);
    if (!CreateWindowExA(0, "Button", tip.c_str(), WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, x, 3, kFaceW + 4, kFaceH + 4,
                         F().toolBar, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), App().instance, nullptr))
      return false;
    x += kFaceW + 5;
  }
  return true;
}

// Buttons follow their commands' state, as the menu items do.
void UpdateToolBar() {
  if (!F().toolBar || !IsWindowVisible(F().toolBar)) return;
  for (int id = 1; id <= kButtonCount; ++id) {
    HWND button = GetDlgItem(F().toolBar, id);
    const BOOL enabled = IsCommandEnabled(CommandOfButton(id)) ? TRUE : FALSE;
    if (button && IsWindowEnabled(button) != enabled) EnableWindow(button, enabled);
  }
}

// ---- the status bar ---------------------------------------------------------------------

constexpr UINT kIndicatorIds[3] = {ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL};
constexpr const char *kIndicatorTexts[3] = {"CAP", "NUM", "SCRL"};
constexpr int kIndicatorKeys[3] = {VK_CAPITAL, VK_NUMLOCK, VK_SCROLL};

LRESULT CALLBACK StatusBarProc(HWND bar, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(bar, &ps);
      RECT r{};
      GetClientRect(bar, &r);
      RECT pane{2, 2, r.right - 3 * (kIndicatorWidth + 2) - 2, r.bottom - 2};
      DrawEdge(dc, &pane, BDR_SUNKENOUTER, BF_RECT);
      char text[256] = {};
      GetWindowTextA(bar, text, sizeof text);
      SetBkMode(dc, TRANSPARENT);
      HGDIOBJ old = SelectObject(dc, GetStockObject(ANSI_VAR_FONT));
      RECT inner{pane.left + 3, pane.top, pane.right, pane.bottom};
      DrawTextA(dc, text, -1, &inner, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
      SelectObject(dc, old);
      EndPaint(bar, &ps);
      return 0;
    }
    case WM_SIZE: {
      const int w = LOWORD(lp), h = HIWORD(lp);
      for (int i = 0; i < 3; ++i)
        if (F().indicators[i])
          MoveWindow(F().indicators[i], w - (3 - i) * (kIndicatorWidth + 2), 2, kIndicatorWidth, h - 4, TRUE);
      return 0;
    }
    case WM_SETTEXT: {
      const LRESULT r = DefWindowProcA(bar, msg, wp, lp);
      InvalidateRect(bar, nullptr, TRUE);
      return r;
    }
    default: return DefWindowProcA(bar, msg, wp, lp);
  }
}

bool CreateStatusBar(HWND frame) {
  F().statusBar =
      CreateWindowExA(0, kStatusBarClass, LoadResourceString(IDS_IDLE_MESSAGE).c_str(),
                      WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, kStatusBarHeight, frame,
                      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(AFX_IDW_STATUS_BAR)), App().instance, nullptr);
  if (!F().statusBar) return false;
  for (int i = 0; i < 3; ++i) {
    F().indicators[i] = CreateWindowExA(
        WS_EX_STATICEDGE, "Static", "", WS_CHILD | WS_VISIBLE | SS_CENTER, 0, 0, kIndicatorWidth, kStatusBarHeight - 4,
        F().statusBar, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kIndicatorIds[i])), App().instance, nullptr);
    if (!F().indicators[i]) return false;
  }
  return true;
}

// The indicators show the state of their lock keys.
void UpdateIndicators() {
  for (int i = 0; i < 3; ++i) {
    if (!F().indicators[i]) continue;
    const char *wanted = (GetKeyState(kIndicatorKeys[i]) & 1) ? kIndicatorTexts[i] : "";
    char now[8] = {};
    GetWindowTextA(F().indicators[i], now, sizeof now);
    if (strcmp(now, wanted) != 0) SetWindowTextA(F().indicators[i], wanted);
  }
}

void SetStatusText(const std::string &text) {
  if (F().statusBar) SetWindowTextA(F().statusBar, text.c_str());
}

// ---- layout -----------------------------------------------------------------------------

bool BarShown(HWND bar) { return bar && (GetWindowLongA(bar, GWL_STYLE) & WS_VISIBLE); }

// The status bar along the bottom, the tool bar at its edge, the MDI client
// in what is left.
void LayoutFrame(HWND frame) {
  RECT r{};
  GetClientRect(frame, &r);
  RECT rest = r;
  if (BarShown(F().statusBar)) {
    MoveWindow(F().statusBar, 0, r.bottom - kStatusBarHeight, r.right, kStatusBarHeight, TRUE);
    rest.bottom -= kStatusBarHeight;
  }
  if (BarShown(F().toolBar)) {
    const int h = rest.bottom - rest.top, w = rest.right - rest.left;
    switch (F().dock) {
      case DockSide::top:
        MoveWindow(F().toolBar, rest.left, rest.top, w, kToolBarHeight, TRUE);
        rest.top += kToolBarHeight;
        break;
      case DockSide::bottom:
        MoveWindow(F().toolBar, rest.left, rest.bottom - kToolBarHeight, w, kToolBarHeight, TRUE);
        rest.bottom -= kToolBarHeight;
        break;
      case DockSide::left:
        MoveWindow(F().toolBar, rest.left, rest.top, kToolBarHeight, h, TRUE);
        rest.left += kToolBarHeight;
        break;
      case DockSide::right:
        MoveWindow(F().toolBar, rest.right - kToolBarHeight, rest.top, kToolBarHeight, h, TRUE);
        rest.right -= kToolBarHeight;
        break;
    }
  }
  if (App().mdiClient)
    MoveWindow(App().mdiClient, rest.left, rest.top, std::max<LONG>(0, rest.right - rest.left),
               std::max<LONG>(0, rest.bottom - rest.top), TRUE);
  // Bars shown or hidden uncover parts of the frame: everything is drawn again.
  RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// ---- window state in the profile ----------------------------------------------------------

constexpr const char *kStateSection = "Window size";

void ShowBar(HWND bar, bool show) {
  if (bar) ShowWindow(bar, show ? SW_SHOW : SW_HIDE);
}

void RestoreWindowState(HWND frame, int showCommand) {
  if (F().firstShowing) {
    F().firstShowing = false;
    const std::string text = GetAppProfileString(kStateSection, "Rect", "");
    const RECT r = KeepOnScreen(ParseFrameRect(text), GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    const bool icon = GetAppProfileInt(kStateSection, "icon", 0) != 0;
    const bool max = GetAppProfileInt(kStateSection, "max", 0) != 0;
    const FrameShow show = ShowForStoredState(icon, max);
    showCommand = show.showCommand;
    F().restoreToMaximized = icon && max;
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    wp.flags = show.placementFlags;
    wp.showCmd = static_cast<UINT>(showCommand);
    wp.ptMinPosition = POINT{0, 0};
    wp.ptMaxPosition = POINT{-GetSystemMetrics(SM_CXBORDER), -GetSystemMetrics(SM_CYBORDER)};
    wp.rcNormalPosition = r;
    ShowBar(F().toolBar, GetAppProfileInt(kStateSection, "tool", 1) != 0);
    ShowBar(F().statusBar, GetAppProfileInt(kStateSection, "status", 1) != 0);
    SetWindowPlacement(frame, &wp);
  }
  ShowWindow(frame, showCommand);
  LayoutFrame(frame);
  UpdateWindow(frame);
}

void SaveWindowState(HWND frame) {
  WINDOWPLACEMENT wp{};
  wp.length = sizeof wp;
  if (!GetWindowPlacement(frame, &wp)) return;
  const StoredState state =
      StateForShow(wp.showCmd, F().restoreToMaximized || (wp.flags & WPF_RESTORETOMAXIMIZED) != 0);
  WriteAppProfileString(kStateSection, "Rect", FormatFrameRect(wp.rcNormalPosition));
  WriteAppProfileInt(kStateSection, "icon", state.icon);
  WriteAppProfileInt(kStateSection, "max", state.max);
  // The bars' own visibility: the frame being destroyed is hidden already.
  auto shown = [](HWND bar) { return (GetWindowLongA(bar, GWL_STYLE) & WS_VISIBLE) ? 1 : 0; };
  if (F().toolBar) WriteAppProfileInt(kStateSection, "tool", shown(F().toolBar));
  if (F().statusBar) WriteAppProfileInt(kStateSection, "status", shown(F().statusBar));
}

// ---- the frame's and the application's commands ------------------------------------------

struct MainCommands {
  AppState *app = &App();
  void OnFileNew() { app->docTemplate->OpenDocumentFile(""); }
  void OnFileOpen() {
    char name[MAX_PATH] = {};
    static const char kFilter[] = "Gopher Menu (*.gmn)\0*.gmn\0All Files (*.*)\0*.*\0";
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = App().mainFrame;
    ofn.lpstrFilter = kFilter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name;
    ofn.nMaxFile = sizeof name;
    ofn.lpstrDefExt = "gmn";
    ofn.lpstrTitle = "Open";
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (GetOpenFileNameA(&ofn)) App().docTemplate->OpenDocumentFile(name);
  }
  void OpenRecent(int index) {
    const auto &files = App().recent.Files();
    if (index < 0 || static_cast<size_t>(index) >= files.size()) return;
    const std::string path = files[static_cast<size_t>(index)];
    if (!App().docTemplate->OpenDocumentFile(path)) {
      // A file that cannot be opened leaves the list.
      App().recent.Remove(index);
      App().recent.Save();
    }
  }
  void OnRecent1() { OpenRecent(0); }
  void OnRecent2() { OpenRecent(1); }
  void OnRecent3() { OpenRecent(2); }
  void OnRecent4() { OpenRecent(3); }
  void OnUpdateRecent(CmdUI &ui) { ui.Enable(!App().recent.Files().empty()); }
  void OnAppExit() { PostMessageA(App().mainFrame, WM_CLOSE, 0, 0); }
  void OnAppAbout() { DialogBoxParamA(App().instance, MAKEINTRESOURCE(IDD_ABOUTBOX), App().mainFrame, AboutProc, 0); }
  static INT_PTR CALLBACK AboutProc(HWND dialog, UINT msg, WPARAM wp, LPARAM) {
    if (msg == WM_INITDIALOG) return TRUE;
    if (msg == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
      EndDialog(dialog, LOWORD(wp));
      return TRUE;
    }
    return FALSE;
  }
  void ToggleBar(HWND bar) {
    if (!bar) return;
    ShowWindow(bar, IsWindowVisible(bar) ? SW_HIDE : SW_SHOW);
    LayoutFrame(App().mainFrame);
  }
  void OnViewToolBar() { ToggleBar(F().toolBar); }
  void OnViewStatusBar() { ToggleBar(F().statusBar); }
  void OnUpdateViewToolBar(CmdUI &ui) { ui.SetCheck(F().toolBar && IsWindowVisible(F().toolBar)); }
  void OnUpdateViewStatusBar(CmdUI &ui) { ui.SetCheck(F().statusBar && IsWindowVisible(F().statusBar)); }
  void OnWindowNew() {
    if (Document *doc = ActiveDocument()) App().docTemplate->CreateNewFrame(doc);
  }
  void OnWindowCascade() { SendMessageA(App().mdiClient, WM_MDICASCADE, 0, 0); }
  void OnWindowTile() { SendMessageA(App().mdiClient, WM_MDITILE, MDITILE_HORIZONTAL, 0); }
  void OnWindowArrange() { SendMessageA(App().mdiClient, WM_MDIICONARRANGE, 0, 0); }
  void OnUpdateWindow(CmdUI &ui) { ui.Enable(ActiveDocument() != nullptr); }
};

const CommandEntry<MainCommands> kMainCommands[] = {
    {ID_FILE_NEW, &MainCommands::OnFileNew, nullptr},
    {ID_FILE_OPEN, &MainCommands::OnFileOpen, nullptr},
    {ID_FILE_MRU_FILE1, &MainCommands::OnRecent1, &MainCommands::OnUpdateRecent},
    {ID_FILE_MRU_FILE1 + 1, &MainCommands::OnRecent2, nullptr},
    {ID_FILE_MRU_FILE1 + 2, &MainCommands::OnRecent3, nullptr},
    {ID_FILE_MRU_FILE1 + 3, &MainCommands::OnRecent4, nullptr},
    {ID_APP_EXIT, &MainCommands::OnAppExit, nullptr},
    {ID_APP_ABOUT, &MainCommands::OnAppAbout, nullptr},
    {ID_VIEW_TOOLBAR, &MainCommands::OnViewToolBar, &MainCommands::OnUpdateViewToolBar},
    {ID_VIEW_STATUS_BAR, &MainCommands::OnViewStatusBar, &MainCommands::OnUpdateViewStatusBar},
    {ID_WINDOW_NEW, &MainCommands::OnWindowNew, &MainCommands::OnUpdateWindow},
    {ID_WINDOW_CASCADE, &MainCommands::OnWindowCascade, &MainCommands::OnUpdateWindow},
    {ID_WINDOW_TILE_HORZ, &MainCommands::OnWindowTile, &MainCommands::OnUpdateWindow},
    {ID_WINDOW_ARRANGE, &MainCommands::OnWindowArrange, &MainCommands::OnUpdateWindow},
};

bool MainCommand(UINT id, CmdUI *query) {
  static MainCommands commands;
  return DispatchCommand(&commands, kMainCommands, id, query);
}

// ---- the main frame's window procedure ----------------------------------------------------

LRESULT OnFrameCreate(HWND frame) {
  App().mainFrame = frame;
  CLIENTCREATESTRUCT ccs{App().documentMenu ? GetSubMenu(App().documentMenu, 3) : nullptr, AFX_IDM_FIRST_MDICHILD};
  App().mdiClient =
      CreateWindowExA(WS_EX_CLIENTEDGE, "MDICLIENT", nullptr, WS_CHILD | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0, 0, 0,
                      frame, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(0xE900)), App().instance, &ccs);
  if (!App().mdiClient || !CreateToolBar(frame) || !CreateStatusBar(frame)) return -1;
  return 0;
}

void OnMenuSelect(UINT id, UINT flags, HMENU menu) {
  if (flags == 0xFFFF && !menu) {
    SetStatusText(LoadResourceString(IDS_IDLE_MESSAGE));
    return;
  }
  if (flags & (MF_POPUP | MF_SEPARATOR)) {
    SetStatusText("");
    return;
  }
  const UINT prompt = id >= ID_FILE_MRU_FILE1 && id < ID_FILE_MRU_FILE1 + 4 ? ID_FILE_MRU_FILE1 : id;
  SetStatusText(PromptPart(prompt, false));
}

void RefreshRecentMenus() {
  for (HMENU menu : {App().defaultMenu, App().documentMenu})
    if (menu) App().recent.UpdateMenu(GetSubMenu(menu, 0));
}

LRESULT CALLBACK FrameProc(HWND frame, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE: return OnFrameCreate(frame);
    case WM_SIZE:
      if (wp == SIZE_MAXIMIZED) F().restoreToMaximized = true;
      if (wp == SIZE_RESTORED) F().restoreToMaximized = false;
      LayoutFrame(frame);
      return 0;
    case WM_SYSCOMMAND:
      // A window minimised from maximised comes back maximised.
      if ((wp & 0xFFF0) == SC_RESTORE && IsIconic(frame) && F().restoreToMaximized) {
        ShowWindow(frame, SW_SHOWMAXIMIZED);
        return 0;
      }
      break;
    case WM_INITMENU:
      RefreshRecentMenus();
      UpdateMenuItems(reinterpret_cast<HMENU>(wp));
      return 0;
    case WM_INITMENUPOPUP:
      if (!HIWORD(lp)) UpdateMenuItems(reinterpret_cast<HMENU>(wp));
      return 0;
    case WM_MENUSELECT: OnMenuSelect(LOWORD(wp), HIWORD(wp), reinterpret_cast<HMENU>(lp)); return 0;
    case WM_COMMAND:
      if (LOWORD(wp) >= AFX_IDM_FIRST_MDICHILD) break;  // a document window from the Window menu
      if (RouteCommand(LOWORD(wp))) return 0;
      if (lp == 0) return 0;  // a command nobody has is disabled
      break;
    case WM_CLOSE:
      if (SaveAllModified()) DestroyWindow(frame);
      return 0;
    case WM_DESTROY:
      SaveWindowState(frame);
      ToolbarFree();
      PostQuitMessage(0);
      return 0;
    default: break;
  }
  return DefFrameProcA(frame, App().mdiClient, msg, wp, lp);
}

bool RegisterClasses(HINSTANCE instance) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = FrameProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.lpszClassName = kFrameClass;
  if (!RegisterClassA(&wc)) return false;
  wc.lpfnWndProc = ToolBarProc;
  wc.hIcon = nullptr;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kToolBarClass;
  if (!RegisterClassA(&wc)) return false;
  wc.lpfnWndProc = StatusBarProc;
  wc.lpszClassName = kStatusBarClass;
  if (!RegisterClassA(&wc)) return false;
  return RegisterDocViewClasses(instance);
}

void OnIdle() {
  UpdateToolBar();
  UpdateIndicators();
}

bool InitInstance(HINSTANCE instance, int showCommand) {
  AppState &app = App();
  app.instance = instance;
  app.title = LoadResourceString(IDS_APP_TITLE);
  // NT keeps the profile in the registry under the company's key.
  app.company = "Corvane";
  app.recent.Load();
  app.docTemplate = std::make_unique<DocTemplate>(
      LoadResourceString(IDR_GMENUTYPE), IDR_GMENUTYPE, [] { return std::make_unique<CBurroweditDoc>(); },
      [] { return std::make_unique<CBurroweditView>(); });
  app.defaultMenu = LoadMenuA(instance, MAKEINTRESOURCE(IDR_MAINFRAME));
  app.documentMenu = LoadMenuA(instance, MAKEINTRESOURCE(IDR_GMENUTYPE));
  F().accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCE(IDR_MAINFRAME));
  if (!app.defaultMenu || !app.documentMenu || !RegisterClasses(instance)) return false;
  SetFrameCommandHandler(MainCommand);
  RefreshRecentMenus();
  HWND frame = CreateWindowExA(0, kFrameClass, app.title.c_str(), kFrameStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, nullptr, app.defaultMenu, instance, nullptr);
  if (!frame) return false;
  app.docTemplate->OpenDocumentFile("");
  RestoreWindowState(frame, showCommand);
  return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  if (!InitInstance(instance, showCommand)) {
    MessageBoxA(nullptr, "Burrowedit could not create its main window; the display may be missing.",
                "Burrowedit Editor", MB_OK | MB_ICONSTOP);
    return 1;
  }
  MSG m;
  for (;;) {
    if (!PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE)) OnIdle();
    const BOOL got = GetMessageA(&m, nullptr, 0, 0);
    if (got <= 0) break;
    if (TranslateMDISysAccel(App().mdiClient, &m)) continue;
    if (App().mainFrame && TranslateAcceleratorA(App().mainFrame, F().accelerators, &m)) continue;
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
  App().docTemplate.reset();
  if (F().strip) DeleteObject(F().strip);
  if (F().accelerators) DestroyAcceleratorTable(F().accelerators);
  // The menu the frame no longer holds is the program's to destroy.
  for (HMENU menu : {App().defaultMenu, App().documentMenu})
    if (menu && IsMenu(menu)) DestroyMenu(menu);
  return static_cast<int>(m.wParam);
}
