// sharelist: lists the directories a host exports over NFS (MOUNT program
// 100005, version 1, procedure 5) with the client groups allowed to mount
// each, asked through the NFS client's RPC device.
#include <windows.h>

#include <qxcommon.h>
#include <rpclister.h>

namespace {

constexpr int kTabStopDialogUnits = 100;

// The tab stop in pixels, as the list box places it (dialog units are quarters
// of the horizontal base unit).
int TabPixels() { return LOWORD(GetDialogBaseUnits()) * kTabStopDialogUnits / 4; }

int FillExports(const unsigned char *body, DWORD length, BOOL cut) {
  const EXPORT_TABLE table = DecodeExportList(body, length);
  for (const EXPORT_LINE_ENTRY &entry : table.exports) RpcListerAddLine(ExportLine(entry), TabPixels());
  const std::string end = TableEndLine(table.notShown, table.damaged, cut != FALSE);
  if (!end.empty()) RpcListerAddLine(end, TabPixels());
  return 0;
}

void SetUpList(HWND list) {
  int stop = kTabStopDialogUnits;
  SendMessageA(list, LB_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(&stop));
}

const QX_DIALOG_ITEM kItems[] = {
    QX_LTEXT("&Host:", -1, 8, 10, 24, 8),
    QX_COMBOBOX(IDC_LISTER_HOST, 34, 8, 150, 80, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP),
    QX_LTEXT("Available filesystems", -1, 8, 28, 120, 8),
    QX_LTEXT(" Filesystem\t\tWorkstations", -1, 8, 40, 200, 8),
    QX_CONTROL("", IDC_LISTER_LIST, "ListBox",
               LBS_NOINTEGRALHEIGHT | LBS_USETABSTOPS | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL |
                   WS_TABSTOP,
               8, 50, 250, 110),
    QX_DEFPUSHBUTTON("&Exports", IDOK, 194, 8, 64, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 194, 26, 64, 14),
};
const QX_DIALOG kDialog = QX_DIALOG_TEMPLATE(40, 40, 266, 168, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                             "NFS Exports", "MS Sans Serif", 8, kItems);

QX_SUITE_VERSION(kVersion, 1, 0, 0, 0, "NFS export lister");

const QX_RESOURCE kResources[] = {
    QX_RES_DIALOG("sharelist", kDialog),
    QX_RES_VERSION(kVersion),
    QX_STRING(RPC_HOST_UNKNOWN, "RPC Error: Host unknown"),
    QX_STRING(RPC_CALL_FAILED, "RPC Error: Request timedout."),
    QX_STRING(RPC_CALL_REJECTED, "RPC Error: Request rejected."),
    QX_STRING(RPC_PROGRAM_MISSING, "RPC Error: Remote program unavailable"),
    QX_STRING(RPC_NO_DEVICE, "RPC Error: Unable to load RPC layer"),
};

const LISTER_PROGRAM kLister = {"sharelist", "sharelist Error", 100005, 1, 5, FillExports, SetUpList, nullptr};

}  // namespace

QX_REGISTER_RESOURCES(kResources);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  DebugLogOpen(instance, commandLine);
  return RpcListerMain(instance, kLister);
}
