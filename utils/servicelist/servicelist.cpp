// servicelist: lists the RPC programs registered with a host's portmapper
// (program 100000, version 2, procedure 4) with version, port, protocol and
// name, asked through the NFS client's RPC device.
#include <windows.h>

#include <qxcommon.h>
#include <rpclister.h>

namespace {

HFONT g_listFont = nullptr;

int FillRegistrations(const unsigned char *body, DWORD length, BOOL cut) {
  const REGISTRATION_TABLE table = DecodeRegistrations(body, length);
  for (const RPC_REGISTRATION &entry : table.entries) RpcListerAddLine(RegistrationLine(entry), 0);
  const std::string end = TableEndLine(table.notShown, table.damaged, cut != FALSE);
  if (!end.empty()) RpcListerAddLine(end, 0);
  return 0;
}

// The system fixed font at normal weight, with tab stops under the column labels.
void SetUpList(HWND list) {
  LOGFONTA font{};
  GetObjectA(GetStockObject(SYSTEM_FIXED_FONT), sizeof font, &font);
  font.lfWeight = FW_NORMAL;
  g_listFont = CreateFontIndirectA(&font);
  SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(g_listFont), TRUE);
  HDC dc = GetDC(list);
  HGDIOBJ old = SelectObject(dc, g_listFont);
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(list, dc);
  const int base = LOWORD(GetDialogBaseUnits());
  int stops[4];
  const int at[4] = {56, 80, 112, 144};
  for (int i = 0; i < 4; ++i) stops[i] = base ? tm.tmAveCharWidth * at[i] / base : at[i];
  SendMessageA(list, LB_SETTABSTOPS, 4, reinterpret_cast<LPARAM>(stops));
}

void DeleteListFont() {
  if (g_listFont) DeleteObject(g_listFont);
  g_listFont = nullptr;
}

const QX_DIALOG_ITEM kItems[] = {
    QX_LTEXT("&Host:", -1, 8, 10, 24, 8),
    QX_COMBOBOX(IDC_LISTER_HOST, 34, 8, 150, 80, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP),
    QX_LTEXT("Registered RPC Services", -1, 8, 28, 120, 8),
    QX_LTEXT("Number", -1, 16, 40, 30, 8),
    QX_LTEXT("Ver", -1, 60, 40, 16, 8),
    QX_LTEXT("Port", -1, 80, 40, 20, 8),
    QX_LTEXT("Protocol", -1, 108, 40, 32, 8),
    QX_LTEXT("Program", -1, 144, 40, 40, 8),
    QX_CONTROL("", IDC_LISTER_LIST, "ListBox",
               LBS_NOINTEGRALHEIGHT | LBS_USETABSTOPS | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL |
                   WS_TABSTOP,
               8, 50, 250, 110),
    QX_DEFPUSHBUTTON("&RPC Info", IDOK, 194, 8, 64, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 194, 26, 64, 14),
};
const QX_DIALOG kDialog = QX_DIALOG_TEMPLATE(40, 40, 266, 168, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                             "RPC Information (Portmapper)", "MS Sans Serif", 8, kItems);

QX_SUITE_VERSION(kVersion, 1, 0, 0, 0, "RPC service lister");

const QX_RESOURCE kResources[] = {
    QX_RES_DIALOG("servicelist", kDialog),
    QX_RES_VERSION(kVersion),
    QX_STRING(RPC_HOST_UNKNOWN, "RPC Error: Host unknown"),
    QX_STRING(RPC_CALL_FAILED, "RPC Error: Request timedout"),
    QX_STRING(RPC_CALL_REJECTED, "RPC Error: Request rejected"),
    QX_STRING(RPC_PROGRAM_MISSING, "RPC Error: Remote program unavailable"),
    QX_STRING(RPC_NO_DEVICE, "RPC Error: Unable to load RPC layer"),
};

const LISTER_PROGRAM kLister = {"servicelist",     "servicelist Error", 100000,        2, 4,
                                FillRegistrations, SetUpList,           DeleteListFont};

}  // namespace

QX_REGISTER_RESOURCES(kResources);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  DebugLogOpen(instance, commandLine);
  return RpcListerMain(instance, kLister);
}
