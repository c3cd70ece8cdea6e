/* portwarden's Control and Configure dialogs, the module "PWCONTROL.DLL".
 * The Control dialog lists the services of the table and enables, disables,
 * adds, edits and deletes them, switches connection logging and saves,
 * reloads or resets the table; Configure edits one service. Every change is
 * asked of the service's info window (control.h), which answers with the
 * table as it then stands; the dialogs keep only that copy. */
#include <windows.h>

#include <qxcommon.h>

#include <cstdio>
#include <string>

#include "control.h"

namespace {

HINSTANCE g_Module = nullptr;

/* The one Control dialog and what it knows of the service. */
struct CONTROL_VIEW_STATE {
  HWND info;                       /* the service's info window */
  SERVICE_SLOT view[MAX_SERVICES]; /* the table as last answered */
  BYTE logging;
  HBRUSH faceBrush; /* without the 3-D look: the button-face background */
};
CONTROL_VIEW_STATE g_State;

constexpr DWORD kDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kListStyle = LBS_NOTIFY | LBS_USETABSTOPS | WS_VSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;
constexpr DWORD kEditStyle = ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;
constexpr DWORD kRadioStyle = BS_RADIOBUTTON | WS_CHILD | WS_VISIBLE;
constexpr DWORD kCheckStyle = BS_CHECKBOX | WS_CHILD | WS_VISIBLE | WS_TABSTOP;

const QX_DIALOG_ITEM kControlItems[] = {
    QX_GROUPBOX("&Portwarden Service", -1, 6, 4, 172, 166),
    QX_LTEXT("Status", -1, 14, 18, 60, 8),
    QX_CONTROL("", IDC_SERVICES, "ListBox", kListStyle, 14, 28, 156, 118),
    QX_CONTROL("Connection &Logging", IDC_LOGGING, "Button", kCheckStyle, 14, 152, 120, 10),
    QX_DEFPUSHBUTTON("&Close", IDC_CLOSE, 186, 8, 62, 14),
    QX_PUSHBUTTON("&Enable", IDC_ENABLE, 186, 30, 62, 14),
    QX_PUSHBUTTON("&Disable", IDC_DISABLE, 186, 48, 62, 14),
    QX_PUSHBUTTON("Confi&gure...", IDC_CONFIGURE, 186, 66, 62, 14),
    QX_PUSHBUTTON("&Add...", IDC_ADD, 186, 84, 62, 14),
    QX_PUSHBUTTON("Delete", IDC_DELETE, 186, 102, 62, 14),
    QX_PUSHBUTTON("&Save", IDC_SAVE, 186, 120, 62, 14),
    QX_PUSHBUTTON("&ReLoad", IDC_RELOAD, 186, 138, 62, 14),
    QX_PUSHBUTTON("De&faults", IDC_DEFAULTS, 186, 156, 62, 14),
};
const QX_DIALOG kControl = QX_DIALOG_TEMPLATE(0, 0, 256, 176, kDialogStyle | DS_CENTER, "Portwarden Configuration",
                                              "MS Sans Serif", 8, kControlItems);

const QX_DIALOG_ITEM kConfigureItems[] = {
    QX_LTEXT("Daemon &Name:", -1, 8, 10, 74, 8),
    QX_CONTROL("", IDC_NAME, "Edit", kEditStyle, 86, 8, 130, 12),
    QX_LTEXT("Program &Filename:", -1, 8, 26, 74, 8),
    QX_CONTROL("", IDC_PROGRAM, "Edit", kEditStyle, 86, 24, 130, 12),
    QX_LTEXT("&Optional Parameters:", -1, 8, 42, 74, 8),
    QX_CONTROL("", IDC_PARAMETERS, "Edit", kEditStyle, 86, 40, 130, 12),
    QX_GROUPBOX("Protocol", -1, 8, 58, 70, 42),
    QX_CONTROL("&TCP", IDC_TCP, "Button", kRadioStyle | WS_GROUP | WS_TABSTOP, 16, 70, 50, 10),
    QX_CONTROL("&UDP", IDC_UDP, "Button", kRadioStyle, 16, 84, 50, 10),
    QX_LTEXT("&Port:", -1, 90, 66, 60, 8),
    QX_CONTROL("", IDC_PORT, "Edit", kEditStyle | WS_GROUP, 160, 64, 56, 12),
    QX_LTEXT("&Maximum  Servers:", IDC_MAXIMUM_LABEL, 90, 84, 68, 8),
    QX_CONTROL("", IDC_MAXIMUM, "Edit", kEditStyle, 160, 82, 56, 12),
    QX_DEFPUSHBUTTON("&OK", IDOK, 56, 110, 50, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 118, 110, 50, 14),
};
const QX_DIALOG kConfigure = QX_DIALOG_TEMPLATE(0, 0, 224, 132, kDialogStyle | DS_CENTER, "Daemon Configuration",
                                                "MS Sans Serif", 8, kConfigureItems);

const QX_RESOURCE kResources[] = {
    QX_RES_DIALOG("Control", kControl),
    QX_RES_DIALOG("Configure", kConfigure),
};

/* ---- Requests to the service ---- */

/* Asks the info window; false (with a message) when the service no longer
 * answers, as while it stops. */
bool Ask(HWND owner, CONTROL_REQUEST *request) {
  request->answered = FALSE;
  SendMessageA(g_State.info, WM_PORTWARDEN_CONTROL, 0, (LPARAM)request);
  if (!request->answered) {
    MessageBoxA(owner, "The Portwarden service is not running any more; nothing was changed.", "Portwarden",
                MB_ICONERROR);
    return false;
  }
  for (int i = 0; i < MAX_SERVICES; i++) g_State.view[i] = request->view[i];
  g_State.logging = request->logging;
  return true;
}

bool Ask(HWND owner, CONTROL_ACTION action, int slot, CONTROL_REQUEST *request) {
  request->action = action;
  request->slot = slot;
  return Ask(owner, request);
}

/* ---- The Control dialog ---- */

bool SlotEnabled(int slot) { return (g_State.view[slot].flags & SLOT_ENABLED) != 0; }

int SelectedSlot(HWND dialog, int *line = nullptr) {
  LRESULT selected = SendDlgItemMessageA(dialog, IDC_SERVICES, LB_GETCURSEL, 0, 0);
  if (line) *line = (int)selected;
  if (selected == LB_ERR) return -1;
  return (int)SendDlgItemMessageA(dialog, IDC_SERVICES, LB_GETITEMDATA, (WPARAM)selected, 0);
}

/* The name, and for an enabled service tabs up to the width of three tab
 * stops and "Enabled" (at least one tab, so a long name never runs into it). */
std::string ListLine(HWND dialog, int slot, bool showEnabled) {
  std::string line = g_State.view[slot].name;
  if (!showEnabled) return line;
  HDC dc = GetDC(dialog);
  HGDIOBJ oldFont = SelectObject(dc, (HGDIOBJ)SendMessageA(dialog, WM_GETFONT, 0, 0));
  DWORD column = LOWORD(GetTabbedTextExtentA(dc, "\t\t\t", 3, 0, nullptr));
  do {
    line += '\t';
  } while (LOWORD(GetTabbedTextExtentA(dc, line.c_str(), (int)line.size(), 0, nullptr)) < column &&
           line.size() < g_State.view[slot].name.size() + 8);
  SelectObject(dc, oldFont);
  ReleaseDC(dialog, dc);
  return line + "Enabled";
}

void UpdateButtons(HWND dialog) {
  int slot = SelectedSlot(dialog);
  if (slot < 0) return;
  EnableWindow(GetDlgItem(dialog, IDC_DISABLE), SlotEnabled(slot));
  EnableWindow(GetDlgItem(dialog, IDC_ENABLE), !SlotEnabled(slot));
}

/* Puts a line at a place in the list, for a slot, and selects it. */
void PutLine(HWND dialog, int line, int slot, const std::string &text) {
  SendDlgItemMessageA(dialog, IDC_SERVICES, LB_INSERTSTRING, (WPARAM)line, (LPARAM)text.c_str());
  SendDlgItemMessageA(dialog, IDC_SERVICES, LB_SETITEMDATA, (WPARAM)line, (LPARAM)slot);
  SendDlgItemMessageA(dialog, IDC_SERVICES, LB_SETCURSEL, (WPARAM)line, 0);
  UpdateButtons(dialog);
}

void ReplaceLine(HWND dialog, int line, int slot, const std::string &text) {
  SendDlgItemMessageA(dialog, IDC_SERVICES, LB_DELETESTRING, (WPARAM)line, 0);
  PutLine(dialog, line, slot, text);
}

/* The list of the used slots in slot order; `selectSlot`'s line (else line 0) selected. */
void BuildList(HWND dialog, int selectSlot = -1) {
  SendDlgItemMessageA(dialog, IDC_SERVICES, LB_RESETCONTENT, 0, 0);
  int select = 0;
  for (int i = 0; i < MAX_SERVICES; i++) {
    if (!(g_State.view[i].flags & SLOT_USED)) continue;
    std::string text = ListLine(dialog, i, SlotEnabled(i));
    LRESULT line = SendDlgItemMessageA(dialog, IDC_SERVICES, LB_ADDSTRING, 0, (LPARAM)text.c_str());
    SendDlgItemMessageA(dialog, IDC_SERVICES, LB_SETITEMDATA, (WPARAM)line, (LPARAM)i);
    if (i == selectSlot) select = (int)line;
  }
  SendDlgItemMessageA(dialog, IDC_SERVICES, LB_SETCURSEL, (WPARAM)select, 0);
  UpdateButtons(dialog);
  CheckDlgButton(dialog, IDC_LOGGING, g_State.logging ? BST_CHECKED : BST_UNCHECKED);
}

void OnEnable(HWND dialog) {
  int line;
  int slot = SelectedSlot(dialog, &line);
  if (slot < 0) {
    MessageBoxA(dialog, "No Item selected to enable", "Enable Error", MB_OK);
    return;
  }
  if (SlotEnabled(slot)) return;
  CONTROL_REQUEST request{};
  if (!Ask(dialog, CONTROL_ENABLE, slot, &request)) return;
  if (!request.done)
    MessageBoxA(dialog,
                g_State.logging ? "Error enabling daemon; Consult Error Log for details"
                                : "Error enabling daemon; Enable logging and re-try.",
                "Enable Error", MB_OK);
  ReplaceLine(dialog, line, slot, ListLine(dialog, slot, request.done));
}

void OnDisable(HWND dialog) {
  int line;
  int slot = SelectedSlot(dialog, &line);
  if (slot < 0) {
    MessageBoxA(dialog, "No Item selected to disable", "Disable Error", MB_OK);
    return;
  }
  if (!SlotEnabled(slot)) return;
  CONTROL_REQUEST request{};
  if (!Ask(dialog, CONTROL_DISABLE, slot, &request)) return;
  ReplaceLine(dialog, line, slot, ListLine(dialog, slot, false));
}

INT_PTR CALLBACK ConfigureDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void OnConfigure(HWND dialog) {
  int line;
  int slot = SelectedSlot(dialog, &line);
  if (slot < 0) {
    MessageBoxA(dialog, "No Item selected to configure", "Configure Error", MB_OK);
    return;
  }
  /* The edited line shows the new name at once. */
  if (DialogBoxParamA(g_Module, "Configure", dialog, ConfigureDlgProc, (LPARAM)slot) == slot)
    ReplaceLine(dialog, line, slot, ListLine(dialog, slot, SlotEnabled(slot)));
}

void OnAdd(HWND dialog) {
  INT_PTR slot = DialogBoxParamA(g_Module, "Configure", dialog, ConfigureDlgProc, CONFIGURE_NEW_SLOT);
  if (slot >= 0 && slot < MAX_SERVICES) BuildList(dialog, (int)slot);
}

void OnDelete(HWND dialog) {
  int line;
  int slot = SelectedSlot(dialog, &line);
  if (slot < 0) {
    MessageBoxA(dialog, "No Item selected to delete", "Delete Error", MB_OK);
    return;
  }
  CONTROL_REQUEST request{};
  if (!Ask(dialog, CONTROL_DELETE, slot, &request)) return;
  SendDlgItemMessageA(dialog, IDC_SERVICES, LB_DELETESTRING, (WPARAM)line, 0);
  int count = (int)SendDlgItemMessageA(dialog, IDC_SERVICES, LB_GETCOUNT, 0, 0);
  if (count > 0) SendDlgItemMessageA(dialog, IDC_SERVICES, LB_SETCURSEL, (WPARAM)(line < count ? line : count - 1), 0);
  UpdateButtons(dialog);
}

void OnLogging(HWND dialog) {
  CONTROL_REQUEST request{};
  if (Ask(dialog, CONTROL_LOGGING, 0, &request))
    CheckDlgButton(dialog, IDC_LOGGING, g_State.logging ? BST_CHECKED : BST_UNCHECKED);
}

void OnSave(HWND dialog) {
  CONTROL_REQUEST request{};
  if (!Ask(dialog, CONTROL_SAVE, 0, &request)) return;
  if (!request.done) {
    MessageBoxA(dialog, "Error Creating Configuration File", nullptr, MB_ICONERROR);
    return;
  }
  std::string text = "Configuration saved in " + request.text;
  MessageBoxA(dialog, text.c_str(), "Save Configuration", MB_ICONEXCLAMATION);
}

void OnReload(HWND dialog) {
  CONTROL_REQUEST request{};
  if (!Ask(dialog, CONTROL_RELOAD, 0, &request)) return;
  if (!request.done) {
    std::string text = "Error Opening Configuration File (" + request.text + "); the table in use is unchanged.";
    MessageBoxA(dialog, text.c_str(), nullptr, MB_ICONERROR);
    return;
  }
  BuildList(dialog);
}

void OnDefaults(HWND dialog) {
  CONTROL_REQUEST request{};
  if (Ask(dialog, CONTROL_DEFAULTS, 0, &request)) BuildList(dialog);
}

/* The button-face background of the dialog and its labels, or the 3-D look's when it is loaded. */
INT_PTR FaceColour(UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_Ctl3dActive && Ctl3dCtlColorEx) return (INT_PTR)Ctl3dCtlColorEx(message, wParam, lParam);
  if (!g_State.faceBrush) return FALSE;
  HDC dc = (HDC)wParam;
  SelectObject(dc, g_State.faceBrush);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return (INT_PTR)g_State.faceBrush;
}

BOOL OnControlInit(HWND dialog) {
  if (!g_Ctl3dActive) g_State.faceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  CONTROL_REQUEST request{};
  request.dialog = dialog;
  if (!Ask(dialog, CONTROL_DIALOG, 0, &request)) {
    EndDialog(dialog, 0);
    return TRUE;
  }
  SetForegroundWindow(dialog);
  BuildList(dialog);
  return TRUE;
}

void OnControlCommand(HWND dialog, int id, int notification) {
  switch (id) {
    case IDC_SERVICES:
      if (notification == LBN_DBLCLK) PostMessageA(dialog, WM_COMMAND, IDC_CONFIGURE, 0);
      if (notification == LBN_SELCHANGE) UpdateButtons(dialog);
      break;
    case IDC_CLOSE:
    case IDCANCEL: EndDialog(dialog, 1); break;
    case IDC_ENABLE: OnEnable(dialog); break;
    case IDC_DISABLE: OnDisable(dialog); break;
    case IDC_CONFIGURE: OnConfigure(dialog); break;
    case IDC_ADD: OnAdd(dialog); break;
    case IDC_DELETE: OnDelete(dialog); break;
    case IDC_LOGGING: OnLogging(dialog); break;
    case IDC_SAVE: OnSave(dialog); break;
    case IDC_RELOAD: OnReload(dialog); break;
    case IDC_DEFAULTS: OnDefaults(dialog); break;
    default: break;
  }
}

void OnControlDestroy(void) {
  CONTROL_REQUEST request{};
  request.action = CONTROL_DIALOG;
  request.dialog = nullptr;
  SendMessageA(g_State.info, WM_PORTWARDEN_CONTROL, 0, (LPARAM)&request);
  if (g_State.faceBrush) DeleteObject(g_State.faceBrush);
  g_State.faceBrush = nullptr;
}

INT_PTR CALLBACK ControlDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return OnControlInit(dialog);
    case WM_COMMAND: OnControlCommand(dialog, LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_DESTROY: OnControlDestroy(); return TRUE;
    case WM_ENDSESSION:
      if (wParam) EndDialog(dialog, 1);
      return TRUE;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC: return FaceColour(message, wParam, lParam);
    default: return FALSE;
  }
}

/* ---- The Configure dialog ---- */

/* The slot being edited: its index, whether it is new, and whether it is enabled. */
struct CONFIGURE_STATE {
  int slot;
  bool adding;
};
CONFIGURE_STATE g_Configure;

const LONG kMostServers = 0x7FFFFFFF; /* the maximum is a signed 32-bit count */

void ShowProtocol(HWND dialog, bool datagram) {
  CheckRadioButton(dialog, IDC_TCP, IDC_UDP, datagram ? IDC_UDP : IDC_TCP);
  if (datagram) SetDlgItemInt(dialog, IDC_MAXIMUM, 1, FALSE); /* one daemon owns a UDP port */
  EnableWindow(GetDlgItem(dialog, IDC_MAXIMUM), !datagram);
  EnableWindow(GetDlgItem(dialog, IDC_MAXIMUM_LABEL), !datagram);
}

/* The first unused slot, or -1 when all 32 hold a service. */
int FreeSlot(void) {
  for (int i = 0; i < MAX_SERVICES; i++)
    if (!(g_State.view[i].flags & SLOT_USED)) return i;
  return -1;
}

BOOL OnConfigureInit(HWND dialog, LPARAM parameter) {
  g_Configure.adding = parameter == CONFIGURE_NEW_SLOT;
  g_Configure.slot = g_Configure.adding ? FreeSlot() : (int)parameter;
  if (g_Configure.slot < 0 || g_Configure.slot >= MAX_SERVICES) {
    /* A full table refuses Add: OK must never overwrite a service. */
    MessageBoxA(dialog, "Maximum Programs Exceeded", "Internal Error", MB_ICONERROR);
    EndDialog(dialog, -1);
    return TRUE;
  }
  SERVICE_SLOT shown;
  ResetSlot(&shown);
  shown.maximum = 1;
  if (!g_Configure.adding) shown = g_State.view[g_Configure.slot];
  SendDlgItemMessageA(dialog, IDC_NAME, EM_LIMITTEXT, 79, 0);
  SendDlgItemMessageA(dialog, IDC_PROGRAM, EM_LIMITTEXT, 79, 0);
  SendDlgItemMessageA(dialog, IDC_PARAMETERS, EM_LIMITTEXT, 127, 0);
  SetDlgItemTextA(dialog, IDC_NAME, shown.name.c_str());
  SetDlgItemTextA(dialog, IDC_PROGRAM, shown.program.c_str());
  SetDlgItemTextA(dialog, IDC_PARAMETERS, shown.parameters.c_str());
  SetDlgItemInt(dialog, IDC_PORT, shown.port, FALSE);
  SetDlgItemInt(dialog, IDC_MAXIMUM, (UINT)shown.maximum, FALSE);
  ShowProtocol(dialog, (shown.flags & SLOT_DATAGRAM) != 0);
  return TRUE;
}

std::string FieldText(HWND dialog, int id, int most) {
  char text[256] = "";
  GetDlgItemTextA(dialog, id, text, most + 1);
  return text;
}

/* A refused field: the reason, and the field to put right gets the focus. */
void Refuse(HWND dialog, int id, const char *text) {
  MessageBoxA(dialog, text, "Configure Error", MB_ICONERROR);
  SetFocus(GetDlgItem(dialog, id));
}

/* OK: the fields are checked before anything is stored. A port outside
 * 1-65535 would listen on a port nobody asked for, and a maximum of 0 (or one
 * too large to count) would never listen or never stop launching. */
void OnConfigureOk(HWND dialog) {
  CONTROL_REQUEST request{};
  SERVICE_SLOT &edit = request.edit;
  ResetSlot(&edit);
  bool datagram = IsDlgButtonChecked(dialog, IDC_UDP) == BST_CHECKED;
  BOOL portRead = FALSE, maximumRead = FALSE;
  UINT port = GetDlgItemInt(dialog, IDC_PORT, &portRead, FALSE);
  UINT maximum = GetDlgItemInt(dialog, IDC_MAXIMUM, &maximumRead, FALSE);
  edit.name = FieldText(dialog, IDC_NAME, 79);
  edit.program = FieldText(dialog, IDC_PROGRAM, 79);
  edit.parameters = FieldText(dialog, IDC_PARAMETERS, 127);
  if (edit.name.find_first_not_of(' ') == std::string::npos)
    return Refuse(dialog, IDC_NAME, "Enter a name for the daemon.");
  if (edit.program.find_first_not_of(' ') == std::string::npos)
    return Refuse(dialog, IDC_PROGRAM, "Enter the daemon's program file name.");
  if (!portRead || port < 1 || port > 65535)
    return Refuse(dialog, IDC_PORT, "The port must be a number from 1 to 65535.");
  if (!datagram && (!maximumRead || maximum < 1 || maximum > (UINT)kMostServers))
    return Refuse(dialog, IDC_MAXIMUM, "Maximum Servers must be a number from 1 to 2147483647.");
  edit.flags = datagram ? SLOT_DATAGRAM : 0;
  edit.port = (WORD)port;
  edit.maximum = datagram ? 1 : (LONG)maximum;
  request.adding = g_Configure.adding;
  if (!Ask(dialog, CONTROL_STORE, g_Configure.slot, &request)) {
    EndDialog(dialog, -1);
    return;
  }
  if (!request.done) {
    MessageBoxA(dialog, "Maximum Programs Exceeded", "Internal Error", MB_ICONERROR);
    EndDialog(dialog, -1);
    return;
  }
  EndDialog(dialog, g_Configure.slot);
}

INT_PTR CALLBACK ConfigureDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return OnConfigureInit(dialog, lParam);
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_TCP: ShowProtocol(dialog, false); break;
        case IDC_UDP: ShowProtocol(dialog, true); break;
        case IDOK: OnConfigureOk(dialog); break;
        case IDCANCEL: EndDialog(dialog, -1); break;
        default: break;
      }
      return TRUE;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC: return FaceColour(message, wParam, lParam);
    default: return FALSE;
  }
}

}  // namespace

QX_REGISTER_RESOURCES(kResources)

extern "C" QX_DLLEXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_Module = instance;
  return TRUE;
}

extern "C" QX_DLLEXPORT INT_PTR WINAPI PortwardenControlDialog(HWND infoWindow) {
  g_State.info = infoWindow;
  Ctl3dLoad(g_Module);
  INT_PTR result = DialogBoxParamA(g_Module, "Control", nullptr, ControlDlgProc, 0);
  Ctl3dUnload(g_Module);
  return result;
}
