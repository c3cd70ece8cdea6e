// burrowview's settings dialogs: "Configure" (home server, checkpoint and
// bookmark, what happens at start, the terminal templates), the server
// chooser "GophSel" with its recent servers, the background colours, and
// the colour rule every dialog of the program follows.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "burrowview.h"
#include "gophercore.h"
#include "resources.h"
#include "settings.h"

namespace {

HBRUSH g_FaceBrush;  // the dialogs' button-face brush

std::string DlgText(HWND dlg, int id) {
  char text[kMaxSettingText + 1] = {};
  GetDlgItemTextA(dlg, id, text, sizeof text);
  return text;
}

// Why the last call failed, in words and number: "Access is denied. (error 5)".
std::string LastErrorWords() {
  const DWORD error = GetLastError();
  char words[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, words, sizeof words,
                 nullptr);
  std::string text = words;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  if (text.empty()) text = "Unknown error.";
  return text + " (error " + std::to_string(error) + ")";
}

int CheckedAmong(HWND dlg, int first, int last) {
  for (int id = first; id <= last; ++id)
    if (IsDlgButtonChecked(dlg, id) == BST_CHECKED) return id - first;
  return 0;
}

// ---- Configure ----

struct TEXT_FIELD {
  int id;
  char *value;  // one of the program's 256-character settings
};

void InitConfigure(HWND dlg) {
  SetDlgItemTextA(dlg, IDC_CFG_HOME_HOST, g_HomeHost);
  SetDlgItemTextA(dlg, IDC_CFG_HOME_CHECKPOINT, g_HomeCheckpoint);
  SetDlgItemTextA(dlg, IDC_CFG_HOME_BOOKMARK, g_HomeBookmark);
  SetDlgItemTextA(dlg, IDC_CFG_TELNET, g_UserTelnet.c_str());
  SetDlgItemTextA(dlg, IDC_CFG_TN3270, g_UserTN3270.c_str());
  for (int id : {IDC_CFG_HOME_HOST, IDC_CFG_HOME_CHECKPOINT, IDC_CFG_HOME_BOOKMARK, IDC_CFG_TELNET, IDC_CFG_TN3270})
    SendDlgItemMessageA(dlg, id, EM_LIMITTEXT, kMaxSettingText, 0);
  CheckRadioButton(dlg, IDC_CFG_ACTION_FIRST, IDC_CFG_ACTION_LAST,
                   IDC_CFG_ACTION_FIRST + std::clamp(g_InitialAction, 0, 3));
  CheckRadioButton(dlg, IDC_CFG_NO_CLEAR, IDC_CFG_CLEAR, g_ClearFirst ? IDC_CFG_CLEAR : IDC_CFG_NO_CLEAR);
}

// Save: the values take effect at once and are written to QXAPPS.INI.
void SaveConfigure(HWND dlg) {
  GOPHER_CONFIG config;
  config.clearFirst = IsDlgButtonChecked(dlg, IDC_CFG_CLEAR) == BST_CHECKED ? 1 : 0;
  config.initialAction = CheckedAmong(dlg, IDC_CFG_ACTION_FIRST, IDC_CFG_ACTION_LAST);
  config.homeHost = DlgText(dlg, IDC_CFG_HOME_HOST);
  config.homeCheckpoint = DlgText(dlg, IDC_CFG_HOME_CHECKPOINT);
  config.homeBookmark = DlgText(dlg, IDC_CFG_HOME_BOOKMARK);
  config.userTelnet = DlgText(dlg, IDC_CFG_TELNET);
  config.userTn3270 = DlgText(dlg, IDC_CFG_TN3270);
  g_ClearFirst = config.clearFirst;
  g_InitialAction = config.initialAction;
  snprintf(g_HomeHost, sizeof g_HomeHost, "%s", config.homeHost.c_str());
  snprintf(g_HomeCheckpoint, sizeof g_HomeCheckpoint, "%s", config.homeCheckpoint.c_str());
  snprintf(g_HomeBookmark, sizeof g_HomeBookmark, "%s", config.homeBookmark.c_str());
  g_UserTelnet = config.userTelnet;
  g_UserTN3270 = config.userTn3270;
  if (!WriteConfig(AppsIniPath(), config)) {
    const std::string text = std::string("The settings are in use but could not be written to ") + AppsIniPath() +
                             ": " + LastErrorWords() + "; they will be lost when burrowview ends.";
    MessageBoxA(dlg, text.c_str(), kBurrowviewError, MB_OK | MB_ICONSTOP);
  }
}

INT_PTR CALLBACK ConfigureDlgProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
  if (INT_PTR brush = DialogColour(message, wParam)) return brush;
  switch (message) {
    case WM_INITDIALOG: InitConfigure(dlg); return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id >= IDC_CFG_ACTION_FIRST && id <= IDC_CFG_ACTION_LAST) {
        CheckRadioButton(dlg, IDC_CFG_ACTION_FIRST, IDC_CFG_ACTION_LAST, id);
      } else if (id == IDC_CFG_NO_CLEAR || id == IDC_CFG_CLEAR) {
        CheckRadioButton(dlg, IDC_CFG_NO_CLEAR, IDC_CFG_CLEAR, id);
      } else if (id == IDOK) {
        SaveConfigure(dlg);
        EndDialog(dlg, IDOK);
      } else if (id == IDCANCEL) {
        EndDialog(dlg, IDCANCEL);
      }
      return TRUE;
    }
  }
  return FALSE;
}

// ---- Server chooser ----

struct SERVER_CHOICE {
  std::string host, key, description;
  int port = kDefaultGopherPort;
  std::vector<std::string> entries;
  // The next change of the server text by the person sets the port to 70.
  bool resetPortOnEdit = true;
};

void ShowPort(HWND dlg, int port) {
  SetDlgItemTextA(dlg, IDC_SEL_PORT, std::to_string(port).c_str());
  SetScrollPos(GetDlgItem(dlg, IDC_SEL_PORT_BAR), SB_CTL, std::clamp(port, kChooserPortMin, kChooserPortMax), TRUE);
}

void InitChooser(HWND dlg, SERVER_CHOICE *choice) {
  choice->entries = ReadRecentServers(AppsIniPath());
  for (const std::string &entry : choice->entries)
    SendDlgItemMessageA(dlg, IDC_SEL_SERVER, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
  SendDlgItemMessageA(dlg, IDC_SEL_SERVER, CB_SETCURSEL, 0, 0);
  SendDlgItemMessageA(dlg, IDC_SEL_SERVER, CB_LIMITTEXT, kMaxSettingText, 0);
  for (int id : {IDC_SEL_KEY, IDC_SEL_DESCRIPTION}) SendDlgItemMessageA(dlg, id, EM_LIMITTEXT, kMaxSettingText, 0);
  SendDlgItemMessageA(dlg, IDC_SEL_PORT, EM_LIMITTEXT, 5, 0);
  SetScrollRange(GetDlgItem(dlg, IDC_SEL_PORT_BAR), SB_CTL, kChooserPortMin, kChooserPortMax, FALSE);
  // With no recent server the port is gopher's own.
  ShowPort(dlg, choice->entries.empty() ? kDefaultGopherPort : PortOfEntry(choice->entries[0]));
  CheckRadioButton(dlg, IDC_SEL_NO_CLEAR, IDC_SEL_CLEAR, g_ClearFirst ? IDC_SEL_CLEAR : IDC_SEL_NO_CLEAR);
  choice->resetPortOnEdit = true;
}

// The combo box's text changed. Showing a chosen entry changes it too; only
// a text that is not the chosen entry is the person's typing.
void ServerTextChanged(HWND dlg, SERVER_CHOICE *choice) {
  const LRESULT row = SendDlgItemMessageA(dlg, IDC_SEL_SERVER, CB_GETCURSEL, 0, 0);
  const std::string text = DlgText(dlg, IDC_SEL_SERVER);
  if (row >= 0 && row < static_cast<LRESULT>(choice->entries.size()) && text == choice->entries[row]) return;
  if (!choice->resetPortOnEdit) return;
  choice->resetPortOnEdit = false;
  ShowPort(dlg, kDefaultGopherPort);
}

void ServerChosen(HWND dlg, SERVER_CHOICE *choice) {
  const LRESULT row = SendDlgItemMessageA(dlg, IDC_SEL_SERVER, CB_GETCURSEL, 0, 0);
  if (row < 0 || row >= static_cast<LRESULT>(choice->entries.size())) return;
  ShowPort(dlg, PortOfEntry(choice->entries[row]));
  choice->resetPortOnEdit = true;
}

void ScrollChooserPort(HWND dlg, WPARAM wParam) {
  int port = kDefaultGopherPort;
  if (!ParsePortText(DlgText(dlg, IDC_SEL_PORT), &port)) port = GetScrollPos(GetDlgItem(dlg, IDC_SEL_PORT_BAR), SB_CTL);
  const int code = LOWORD(wParam);
  if (code == SB_ENDSCROLL) return;
  ShowPort(dlg, ScrollPort(port, code, static_cast<short>(HIWORD(wParam))));
}

// Select: a server name is needed, and a port from 1 to 65535.
bool AcceptChoice(HWND dlg, SERVER_CHOICE *choice) {
  const std::string host = HostOfEntry(DlgText(dlg, IDC_SEL_SERVER));
  int port = 0;
  if (host.empty()) {
    MessageBoxA(dlg, "Enter the name or address of a gopher server, or choose one from the list.", kBurrowviewName,
                MB_OK | MB_ICONEXCLAMATION);
    SetFocus(GetDlgItem(dlg, IDC_SEL_SERVER));
    return false;
  }
  if (!ParsePortText(DlgText(dlg, IDC_SEL_PORT), &port)) {
    MessageBoxA(dlg, "The port must be a number from 1 to 65535.", kBurrowviewName, MB_OK | MB_ICONEXCLAMATION);
    SetFocus(GetDlgItem(dlg, IDC_SEL_PORT));
    return false;
  }
  choice->host = host;
  choice->port = port;
  choice->key = DlgText(dlg, IDC_SEL_KEY);
  choice->description = DlgText(dlg, IDC_SEL_DESCRIPTION);
  return true;
}

INT_PTR CALLBACK ServerSelDlgProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
  static SERVER_CHOICE *choice;
  if (INT_PTR brush = DialogColour(message, wParam)) return brush;
  switch (message) {
    case WM_INITDIALOG:
      choice = reinterpret_cast<SERVER_CHOICE *>(lParam);
      InitChooser(dlg, choice);
      return TRUE;
    case WM_VSCROLL:
      if (reinterpret_cast<HWND>(lParam) == GetDlgItem(dlg, IDC_SEL_PORT_BAR)) ScrollChooserPort(dlg, wParam);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_SEL_SERVER:
          if (HIWORD(wParam) == CBN_SELCHANGE) ServerChosen(dlg, choice);
          if (HIWORD(wParam) == CBN_EDITCHANGE) ServerTextChanged(dlg, choice);
          break;
        case IDC_SEL_NO_CLEAR:
        case IDC_SEL_CLEAR:
          g_ClearFirst = LOWORD(wParam) == IDC_SEL_CLEAR;
          CheckRadioButton(dlg, IDC_SEL_NO_CLEAR, IDC_SEL_CLEAR, LOWORD(wParam));
          break;
        case IDC_SEL_GOTO_BOOKMARK:
        case IDC_SEL_LOAD_CHECKPOINT:
          PostMessageA(g_MainWnd, WM_COMMAND,
                       LOWORD(wParam) == IDC_SEL_GOTO_BOOKMARK ? IDM_GOTO_BOOKMARK : IDM_LOAD_CHECKPOINT, 0);
          EndDialog(dlg, IDCANCEL);
          break;
        case IDOK:
          if (AcceptChoice(dlg, choice)) EndDialog(dlg, IDOK);
          break;
        case IDCANCEL: EndDialog(dlg, IDCANCEL); break;
      }
      return TRUE;
  }
  return FALSE;
}

// Command 103: the chosen server is remembered and added as a root.
void SelectGopher() {
  SERVER_CHOICE choice;
  if (DialogBoxParamA(g_Instance, "GophSel", g_MainWnd, ServerSelDlgProc, reinterpret_cast<LPARAM>(&choice)) != IDOK)
    return;
  RememberServer(AppsIniPath(), choice.host, choice.port);
  GopherItem *root = ParseMenuLine("S");
  if (!root) {
    MessageBoxA(g_MainWnd, "Unable to allocate memory", kBurrowviewError, MB_OK | MB_ICONSTOP);
    return;
  }
  root->display = choice.description.empty() ? choice.host : choice.description;
  root->selector = choice.key;
  root->host = choice.host;
  root->port = choice.port;
  root->flags = kItemSelectable;
  AddRootWithTitle(root);
}

// ---- Colours ----

// The system's colour dialog; true with the nearest colour the client
// dialog can show, the brush replaced by one of that colour.
bool ChooseBrushColour(HBRUSH *brush, COLORREF *colour) {
  static COLORREF custom[16];
  std::fill(std::begin(custom), std::end(custom), RGB(255, 255, 255));
  CHOOSECOLORA cc{};
  cc.lStructSize = sizeof cc;
  cc.hwndOwner = g_MainWnd;
  cc.lpCustColors = custom;
  cc.Flags = CC_PREVENTFULLOPEN;
  if (!ChooseColorA(&cc)) return false;
  HDC dc = GetDC(g_Dlg);
  *colour = GetNearestColor(dc, cc.rgbResult);
  ReleaseDC(g_Dlg, dc);
  HBRUSH replaced = *brush;
  *brush = CreateSolidBrush(*colour);
  if (replaced) DeleteObject(replaced);
  return true;
}

// Commands 118 and 119.
void ChooseListColour(bool document) {
  HBRUSH &brush = document ? g_DocBrush : g_TreeBrush;
  COLORREF &colour = document ? g_DocColor : g_TreeColor;
  if (!ChooseBrushColour(&brush, &colour)) return;
  char text[40];
  snprintf(text, sizeof text, "(%d,%d,%d)", GetRValue(colour), GetGValue(colour), GetBValue(colour));
  if (!WritePrivateProfileStringA(kSettingsSection, document ? "DocColor" : "TreeColor", text, AppsIniPath())) {
    const std::string message = std::string("The background colour of the ") + (document ? "document" : "tree") +
                                " window is in use but could not be written to " + AppsIniPath() + ": " +
                                LastErrorWords() +
                                "; it will be lost when burrowview ends. Make the file writable, then choose the "
                                "colour again to keep it.";
    MessageBoxA(g_MainWnd, message.c_str(), kBurrowviewError, MB_OK | MB_ICONSTOP);
  }
  InvalidateRect(GetDlgItem(g_Dlg, document ? IDC_DOC_LIST : IDC_TREE_LIST), nullptr, TRUE);
}

}  // namespace

INT_PTR DialogColour(UINT message, WPARAM wParam) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC: {
      if (!g_FaceBrush) g_FaceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
      HDC dc = reinterpret_cast<HDC>(wParam);
      SelectObject(dc, g_FaceBrush);
      SetBrushOrgEx(dc, 0, 0, nullptr);
      SetBkMode(dc, OPAQUE);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<INT_PTR>(g_FaceBrush);
    }
  }
  return 0;
}

void FreeDialogColour() {
  if (g_FaceBrush) DeleteObject(g_FaceBrush);
  g_FaceBrush = nullptr;
}

void SettingsCommand(HWND window, int id) {
  switch (id) {
    case IDM_SELECT_GOPHER: SelectGopher(); break;
    case IDM_CONFIGURE: DialogBoxParamA(g_Instance, "Configure", window, ConfigureDlgProc, 0); break;
    case IDM_DOC_COLOR: ChooseListColour(true); break;
    case IDM_TREE_COLOR: ChooseListColour(false); break;
  }
}
