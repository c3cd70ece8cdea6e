// vtconsole's start-up, main window procedure, menu commands and the
// connection driver that runs one session after another.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "layer_host.h"
#include "settings_dialogs.h"
#include "tn3270.h"
#include "vtconsole.h"

HINSTANCE g_Instance;
HWND g_MainWindow;
bool g_WindowGone;
VtTerminal *g_Term;
TERM_START g_Start;
TERM_COMMAND_LINE g_CommandLine;
char g_IniFile[MAX_PATH] = QX_APPS_INI;

namespace {

bool g_Initialised;
int g_DriverDepth;

// ---------------------------------------------------------------- resources

const QX_MENU_ITEM kFileMenu[] = {
    QX_MENUITEM("&Connect", IDM_CONNECT),
    QX_MENUITEM_F("&Disconnect", IDM_DISCONNECT, MF_GRAYED),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("De&fault", IDM_DEFAULT),
    QX_MENUITEM("Save &As...", IDM_SAVEAS),
    QX_MENUITEM("&Recall...", IDM_RECALL),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("E&xit", IDM_EXIT),
};
const QX_MENU_ITEM kSetupMenu[] = {
    QX_MENUITEM("&Directory...", IDM_SETUP_DIRECTORY),    QX_MENUITEM("Di&splay...", IDM_SETUP_DIRECTORY + 1),
    QX_MENUITEM("&General...", IDM_SETUP_DIRECTORY + 2),  QX_MENUITEM("&Printer...", IDM_SETUP_DIRECTORY + 3),
    QX_MENUITEM("&Keyboard...", IDM_SETUP_DIRECTORY + 4), QX_MENUITEM("&Tabs...", IDM_SETUP_DIRECTORY + 5),
};
const QX_MENU_ITEM kEditMenu[] = {
    QX_MENUITEM_F("&Copy", IDM_COPY, MF_GRAYED),
    QX_MENUITEM("&Paste", IDM_PASTE),
    QX_MENUITEM("Select &All", IDM_SELECTALL),
};
const QX_MENU_ITEM kFontMenu[] = {
    QX_MENUITEM("4 x 6", IDM_FONT0),       QX_MENUITEM("5 x 12", IDM_FONT0 + 1),  QX_MENUITEM("6 x 8", IDM_FONT0 + 2),
    QX_MENUITEM("7 x 12", IDM_FONT0 + 3),  QX_MENUITEM("8 x 14", IDM_FONT0 + 4),  QX_MENUITEM("9 x 16", IDM_FONT0 + 5),
    QX_MENUITEM("10 x 18", IDM_FONT0 + 6), QX_MENUITEM("10 x 24", IDM_FONT0 + 7), QX_MENUITEM("12 x 32", IDM_FONT0 + 8),
};
const QX_MENU_ITEM kKeysMenu[] = {
    QX_MENUITEM("ALT-&Esc", IDM_ALTESC),     QX_MENUITEM("ALT-F&4", IDM_ALTF4), QX_MENUITEM("ALT-&Tab", IDM_ALTTAB),
    QX_MENUITEM("ALT-&Space", IDM_ALTSPACE), QX_MENUITEM("ALT-&F", IDM_ALTF),   QX_MENUITEM("ALT-&E", IDM_ALTE),
    QX_MENUITEM("ALT-&T", IDM_ALTT),         QX_MENUITEM("ALT-&H", IDM_ALTH),
};
const QX_MENU_ITEM kJumpMenu[] = {
    QX_MENUITEM("&1 Line", IDM_JUMP1),
    QX_MENUITEM("&2 Lines", IDM_JUMP1 + 1),
    QX_MENUITEM("&3 Lines", IDM_JUMP1 + 2),
    QX_MENUITEM("&4 Lines", IDM_JUMP1 + 3),
};
const QX_MENU_ITEM kWindowsMenu[] = {
    QX_MENUITEM("&Scroll Buffer", IDM_SCROLLBUFFER),
    QX_POPUP("&Fonts", kFontMenu),
    QX_POPUP("&Keys Passed", kKeysMenu),
    QX_POPUP("&Jump Scroll", kJumpMenu),
};
const QX_MENU_ITEM kHelpMenu[] = {
    QX_MENUITEM("&Index", IDM_HELPINDEX),
    QX_MENUITEM("&Using Help", IDM_HELPHELP),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("&About...", IDM_ABOUT),
};
const QX_MENU_ITEM kMainItems[] = {
    QX_POPUP("&File", kFileMenu),       QX_POPUP("&Edit", kEditMenu), QX_POPUP("&Setup", kSetupMenu),
    QX_POPUP("&Windows", kWindowsMenu), QX_POPUP("&Help", kHelpMenu),
};
const QX_MENU kMainMenu = QX_MENU_OF(kMainItems);
// Appended to the Setup menu in 3270 mode as "TN3270 Mode".
const QX_MENU_ITEM kTnMenuItems[] = {
    QX_MENUITEM("3278-&2", IDM_MODEL2),
    QX_MENUITEM("3278-&3", IDM_MODEL2 + 1),
    QX_MENUITEM("3278-&4", IDM_MODEL2 + 2),
    QX_MENUITEM("3278-&5", IDM_MODEL2 + 3),
};
const QX_MENU kTnMenu = QX_MENU_OF(kTnMenuItems);

const QX_DIALOG_ITEM kAboutItems[] = {
    QX_CONTROL("", IDC_ABOUT_LOGO, "Button", BS_OWNERDRAW | WS_CHILD | WS_VISIBLE, 8, 8, 48, 48),
    QX_LTEXT("QX TCP/IP VT220 terminal", -1, 64, 8, 150, 8),
    QX_LTEXT("Extended Version Number", -1, 64, 20, 150, 8),
    QX_LTEXT("", IDC_ABOUT_VERSION, 64, 30, 150, 8),
    QX_LTEXT("Network Layer:", -1, 8, 64, 60, 8),
    QX_CONTROL("", IDC_ABOUT_NETWORK, "Edit", ES_LEFT | ES_READONLY | WS_CHILD | WS_VISIBLE | WS_BORDER, 70, 62, 144,
               12),
    QX_LTEXT("Vrsn compiled:", -1, 8, 80, 60, 8),
    QX_CONTROL("", IDC_ABOUT_COMPILED, "Edit", ES_LEFT | ES_READONLY | WS_CHILD | WS_VISIBLE | WS_BORDER, 70, 78, 144,
               12),
    QX_DEFPUSHBUTTON("OK", IDOK, 90, 98, 40, 14),
};
const QX_DIALOG kAbout = QX_DIALOG_TEMPLATE(0, 0, 222, 118, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                            "About vtconsole", "MS Sans Serif", 8, kAboutItems);
const QX_VERSION_STRING kVersionStrings[] = {{"FileVersion", QX_VERSION_TEXT(1, 0, 0, 0)},
                                             {"ProductName", "QX vtconsole"}};
const QX_VERSION kVersion = QX_PROGRAM_VERSION(1, 0, 0, 0, kVersionStrings);
const QX_RESOURCE kResources[] = {
    QX_RES_MENU("QX220", kMainMenu),
    QX_RES_MENU("TNMENU", kTnMenu),
    QX_RES_DIALOG("ABOUT", kAbout),
    QX_RES_VERSION(kVersion),
};
QX_REGISTER_RESOURCES(kResources);

// ---------------------------------------------------------------- INI and menus

// The ALT combinations Windows gets (on) or the host gets (off).
struct ALT_FLAG {
  UINT id;
  const char *key;
  bool on;
};
ALT_FLAG g_AltFlags[] = {
    {IDM_ALTESC, "ALT-ESC", true},     {IDM_ALTF4, "ALT-F4", true}, {IDM_ALTTAB, "ALT-TAB", true},
    {IDM_ALTSPACE, "ALT-SPACE", true}, {IDM_ALTF, "ALT-F", true},   {IDM_ALTE, "ALT-E", true},
    {IDM_ALTT, "ALT-T", true},         {IDM_ALTH, "ALT-H", true},
};

bool IniFlag(const char *key) {
  char value[16];
  GetPrivateProfileStringA(kSection, key, "1", value, sizeof value, g_IniFile);
  return strcasecmp(value, "FALSE") != 0 && strcmp(value, "0") != 0 && strcasecmp(value, "NO") != 0;
}

void CheckItem(UINT id, bool on) {
  CheckMenuItem(GetMenu(g_MainWindow), id, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

void EnableItem(UINT id, bool on) {
  EnableMenuItem(GetMenu(g_MainWindow), id, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
}

void ReadMenuSettings() {
  for (ALT_FLAG &f : g_AltFlags) {
    f.on = IniFlag(f.key);
    CheckItem(f.id, f.on);
  }
  int jump = GetPrivateProfileIntA(kSection, "prescroll", 2, g_IniFile);
  if (jump < 1 || jump > 4) jump = 2;
  TermSetJumpScroll(jump);
  CheckItem(IDM_JUMP1 + jump - 1, true);
  if (GetPrivateProfileIntA(kSection, "DontTryAgain", 0, g_IniFile)) g_Start.dontTryAgain = true;
  if (GetPrivateProfileIntA(kSection, "DieAfterCancelling", 0, g_IniFile)) g_Start.dieAfterCancelling = true;
  if (g_Start.mode3270) {
    HMENU tnMenu = LoadMenuA(g_Instance, "TNMENU");
    if (tnMenu) AppendMenuA(GetSubMenu(GetMenu(g_MainWindow), 2), MF_POPUP, (UINT_PTR)tnMenu, "TN3270 Mode");
    const int model = GetPrivateProfileIntA(kSection, "TN3270_MODE", 2, g_IniFile);
    g_Tn3270Model = model >= 2 && model <= 5 ? model : 2;
    CheckItem(IDM_MODEL2 + g_Tn3270Model - 2, true);
  }
}

// Every "IBM-3278-" terminal-type name carries the 3270 model's digit.
void TermModelNames() {
  for (char *name : g_Session.tn.termTypes) TelnetModelName(name, TERM_TYPE_MAX + 1, g_Tn3270Model);
}

void WriteIniInt(const char *key, int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  WritePrivateProfileStringA(kSection, key, text, g_IniFile);
}

// TN3270 Mode: the model Erase/Write Alternate takes and the terminal type names.
void ChooseModel(UINT id) {
  for (UINT i = IDM_MODEL2; i <= IDM_MODEL2 + 3; ++i) CheckItem(i, i == id);
  g_Tn3270Model = (int)(id - 1000);
  WriteIniInt("TN3270_MODE", g_Tn3270Model);
  Tn3270SetAlternate(g_Tn3270, g_Tn3270Model);
  TermModelNames();
}

void RecentHostAdd() {
  if (g_Session.host.empty()) return;
  char hosts[RECENT_HOSTS][RECENT_ENTRY_MAX] = {};
  char stored[RECENT_HOSTS][RECENT_HOST_LEN] = {};
  const int found = ReadRecentHosts(g_IniFile, kSection, stored, RECENT_HOSTS);
  for (int i = 0; i < found; ++i) std::snprintf(hosts[i], RECENT_ENTRY_MAX, "%.127s", stored[i]);
  char entry[RECENT_ENTRY_MAX];
  TermRecentEntry(g_Session.host.c_str(), g_Start.port, g_Start.rlogin != 0, entry, sizeof entry);
  TermRecentInsert(hosts, entry);
  int count = 0;
  while (count < RECENT_HOSTS && hosts[count][0]) {
    std::snprintf(stored[count], RECENT_HOST_LEN, "%.127s", hosts[count]);
    ++count;
  }
  WriteRecentHosts(g_IniFile, kSection, stored, count);
}

// ---------------------------------------------------------------- connection driver

bool AskHost(std::string &host);

void ConnectionDriver() {
  if (g_DriverDepth > 0) return;  // a Connect while a session runs does nothing
  ++g_DriverDepth;
  TERM_COMMAND_LINE words = g_CommandLine;
  EnableItem(IDM_DISCONNECT, true);
  EnableItem(IDM_CONNECT, false);
  TermApplySwitches(words, g_Start, g_Session.tn);
  if (g_Start.mode3270) TermModelNames();
  if (g_Start.badPort[0]) {
    char text[160];
    std::snprintf(text, sizeof text, "\"%s\" is not a port number from 1 to 65535; port %u is used.", g_Start.badPort,
                  g_Start.port);
    MessageBoxA(g_MainWindow, text, "QX220", MB_OK | MB_ICONEXCLAMATION);
    g_Start.badPort[0] = '\0';
  }
  if (!g_Initialised) std::signal(SIGINT, SIG_IGN);
  SetupApplyColumns(*g_Term);
  TermLayout();

  // The first run takes the host word; without one, and for Connect later,
  // the host dialog asks, offering the recent hosts.
  std::string host = g_Initialised ? std::string() : (g_Start.hostWord ? g_Start.hostWord : "");
  g_Initialised = true;
  if (host.empty() && !AskHost(host)) {
    WriteText(*g_Term, 1, 0, "No host to connect to: choose File > Connect, or start vtconsole with a host name", 0);
    InvalidateRect(g_MainWindow, nullptr, FALSE);
  }
  const int result = SessionRun(host.c_str());
  if (result == 0) RecentHostAdd();
  if (!g_WindowGone) {
    EnableItem(IDM_DISCONNECT, false);
    EnableItem(IDM_CONNECT, true);
    if (g_Start.dieAfterCancelling) PostMessageA(g_MainWindow, WM_CLOSE, 0, 0);
  }
  --g_DriverDepth;
}

// ---------------------------------------------------------------- settings dialogs

class WindowSettingsHost : public SettingsHost {
 public:
  void ClearDisplay() override {
    TERM_SAVED_SCREEN none;
    ScreenRestore(*g_Term, none);  // nothing kept: blank rows, cursor home
    InvalidateRect(g_MainWindow, nullptr, TRUE);
  }
  void ClearComm() override {
    g_Session.recvCount = 0;
    g_Session.recvIndex = 0;
  }
  void Disconnect() override { SessionDisconnect(); }
  void ResetTerminal() override {
    TermReset(*g_Term);
    InvalidateRect(g_MainWindow, nullptr, TRUE);
  }
  void DisplayChanged() override {
    TermLayout();
    if (g_Term->display) g_Term->display->ShowCursor(!g_Term->st.s.cursorHidden, g_Term->st.s.cursorStyle);
    InvalidateRect(g_MainWindow, nullptr, TRUE);
  }
  bool ChooseFile(bool save, const char *title, const char *extension, std::string &name) override {
    char file[256];
    std::snprintf(file, sizeof file, "%s", name.c_str());
    char filter[64];
    const int n = std::snprintf(filter, sizeof filter, "*.%s|*.%s|All files|*.*|", extension, extension);
    for (int i = 0; i < n; ++i)
      if (filter[i] == '|') filter[i] = '\0';
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = g_MainWindow;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.lpstrTitle = title;
    ofn.lpstrDefExt = extension;
    ofn.Flags = save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST;
    if (!(save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn))) return false;
    name = file;
    return true;
  }
  void Tell(const char *text) override { MessageBoxA(g_MainWindow, text, "Information", MB_OK | MB_ICONINFORMATION); }
};
WindowSettingsHost g_SettingsHost;

// The host dialog; false when cancelled.
bool AskHost(std::string &host) {
  unsigned port = g_Start.port;
  if (TermHostDialog(g_MainWindow, g_IniFile, g_Start.rlogin != 0, g_SettingsHost, host, port) != IDOK) return false;
  g_Start.port = port;
  return true;
}

void SettingsDialog(UINT id) {
  static const char *const kNames[] = {"DIRECTORY", "DISPLAY", "GENERAL", "PRINTER", "KEYBOARD", "TAB"};
  TermSettingsDialog(g_MainWindow, kNames[id - IDM_SETUP_DIRECTORY], *g_Term, g_KeyMap, g_SettingsHost);
  InvalidateRect(g_MainWindow, nullptr, TRUE);
}

void SaveOrRecall(bool save) {
  std::string name = g_Term->st.setupFileName;
  if (!g_SettingsHost.ChooseFile(save, save ? "Save Setup" : "Recall Setup", "STU", name)) return;
  if (save) {
    SetupFileSave(*g_Term, name.c_str());
  } else {
    SetupRecall(*g_Term, name.c_str());
    g_SettingsHost.DisplayChanged();
  }
}

// A copy of the terminal with the same arguments.
void StartNewWindow() {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string command = self;
  for (int i = 1; i < g_CommandLine.count; ++i) command += std::string(" ") + g_CommandLine.words[i];
  if (WinExec(command.c_str(), SW_SHOW) < 32) Bell();
}

void ToggleAltFlag(UINT id) {
  for (ALT_FLAG &f : g_AltFlags) {
    if (f.id != id) continue;
    f.on = !f.on;
    WritePrivateProfileStringA(kSection, f.key, f.on ? "1" : "0", g_IniFile);
    CheckItem(id, f.on);
  }
}

void OnCommand(HWND hwnd, UINT id) {
  if (id >= IDM_FONT0 && id <= IDM_FONT0 + 8) {
    for (UINT i = IDM_FONT0; i <= IDM_FONT0 + 8; ++i) CheckItem(i, i == id);
    WriteIniInt("Font", (int)(id - IDM_FONT0));
    TermSetFont((int)(id - IDM_FONT0));
    return;
  }
  if (id >= IDM_MODEL2 && id <= IDM_MODEL2 + 3) {
    ChooseModel(id);
    return;
  }
  if (id >= IDM_JUMP1 && id <= IDM_JUMP1 + 3) {
    for (UINT i = IDM_JUMP1; i <= IDM_JUMP1 + 3; ++i) CheckItem(i, i == id);
    WriteIniInt("PreScroll", (int)(id - IDM_JUMP1 + 1));
    TermSetJumpScroll((int)(id - IDM_JUMP1 + 1));
    return;
  }
  switch (id) {
    case IDM_EXIT: PostMessageA(hwnd, WM_CLOSE, 0, 0); break;
    case IDM_DEFAULT:
      SetupDefault(*g_Term);
      InvalidateRect(hwnd, nullptr, TRUE);
      break;
    case IDM_SETUP_DIRECTORY:
    case IDM_SETUP_DIRECTORY + 1:
    case IDM_SETUP_DIRECTORY + 2:
    case IDM_SETUP_DIRECTORY + 3:
    case IDM_SETUP_DIRECTORY + 4:
    case IDM_SETUP_DIRECTORY + 5: SettingsDialog(id); break;
    case IDM_SAVEAS: SaveOrRecall(true); break;
    case IDM_RECALL: SaveOrRecall(false); break;
    case IDM_CONNECT: PostMessageA(hwnd, WM_TERMCONNECT, 0, 0); break;
    case IDM_DISCONNECT: SessionDisconnect(); break;
    case IDM_COPY: TermCopySelection(); break;
    case IDM_PASTE: TermPasteClipboard(); break;
    case IDM_SELECTALL: TermSelectAll(); break;
    case IDM_SCROLLBUFFER:
      TermSetHistory(!TermHistoryOn());
      CheckItem(IDM_SCROLLBUFFER, TermHistoryOn());
      break;
    case IDM_ALTESC:
    case IDM_ALTF4:
    case IDM_ALTTAB:
    case IDM_ALTSPACE:
    case IDM_ALTF:
    case IDM_ALTE:
    case IDM_ALTT:
    case IDM_ALTH: ToggleAltFlag(id); break;
    case IDM_HELPINDEX: WinHelpA(hwnd, "WINQX220.HLP", HELP_INDEX, 0); break;
    case IDM_HELPHELP: WinHelpA(hwnd, "WINHELP.HLP", HELP_INDEX, 0); break;
    case IDM_ABOUT: DialogBoxParamA(g_Instance, "ABOUT", hwnd, AboutDlgProc, 0); break;
    case IDM_NEWWINDOW: StartNewWindow(); break;
    default: break;
  }
}

LRESULT CALLBACK TermWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT handled = 0;
  if (TermWindowMessage(hwnd, message, wParam, lParam, handled)) return handled;
  if (TermKeyMessage(hwnd, message, wParam, lParam)) return 0;
  switch (message) {
    case WM_COMMAND: OnCommand(hwnd, LOWORD(wParam)); return 0;
    case WM_ERASEBKGND: return 0;
    case WM_SETFOCUS: TermKeyStateFromKeyboard(); return 0;
    case WM_CLOSE:
      SaveWindowPlacement(hwnd);
      SessionDisconnect();
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      g_WindowGone = true;
      g_MainWindow = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_TERMCONNECT: ConnectionDriver(); return 0;
    case WM_TERMSOCKET: SessionSocketEvent(wParam, lParam); return 0;
    default: return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

// Whether Windows gets an ALT combination (true) or the host does.
}  // namespace

bool AltPassesToWindows(UINT id) {
  for (const ALT_FLAG &f : g_AltFlags)
    if (f.id == id) return f.on;
  return false;
}

void Bell() {
  g_Term->st.currentByte = 7;
  VtParseByte(*g_Term);
}

WNDPROC TermWindowProcedure() { return TermWndProc; }

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  DebugLogOpen(instance, commandLine);
  TermStartSwitches(commandLine, g_Start, g_CommandLine);
  if (g_CommandLine.truncated)
    std::fprintf(stderr,
                 "vtconsole: the command line is longer than 127 characters or 18 words; the rest is ignored\n");
  g_Instance = instance;
  Ctl3dLoad(instance);

  g_Term = new VtTerminal;
  static LayerTermPrinter printer;
  static LayerTermFiles files;
  TermInit(*g_Term, g_Start.screenRows, nullptr, SessionHostInterface(), &printer, &files);
  SetupStartKeyMapName(*g_Term, g_Start.keyMapName);  // "IBM.KEY" under "/I"
  TermReloadKeyMap(g_Term->st.keyMapName);
  PlacementSetup(kSection, nullptr);
  std::snprintf(g_IniFile, sizeof g_IniFile, "%s", g_PlacementIniFile);
  const char *title = g_Start.rlogin ? "QX rlogin" : "QX VT220";
  if (!TermWindowCreate(title, show)) {
    MessageBoxA(nullptr, "The terminal window could not be created.", "QX220", MB_OK | MB_ICONSTOP);
    return 1;
  }
  ReadMenuSettings();
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) {
    MessageBoxA(g_MainWindow, "TCP transport not loaded", "Error", MB_OK | MB_ICONSTOP);
    PostMessageA(g_MainWindow, WM_CLOSE, 0, 0);
  } else {
    PostMessageA(g_MainWindow, WM_TERMCONNECT, 0, 0);
  }
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  WSACleanup();
  Ctl3dUnload(instance);
  RemoveFontResourceA("QXFONT.FON");
  return (int)msg.wParam;
}
