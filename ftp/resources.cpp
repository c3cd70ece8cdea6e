// filemover's resources: menu, accelerators, dialogs, strings and version.
#include <windows.h>

#include <common/qxcommon.h>

#include "resources.h"

namespace {

const QX_MENU_ITEM kFileMenu[] = {
    QX_MENUITEM("Open &Remote...", IDM_OPEN_REMOTE),
    QX_MENUITEM("Open &Local...", IDM_OPEN_LOCAL),
    QX_MENUITEM("&Close", IDM_CLOSE),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("&Execute FTP Command...", IDM_EXECUTE),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("E&xit", IDM_EXIT),
};
const QX_MENU_ITEM kOptionsMenu[] = {
    QX_MENUITEM("&Overwrite Prompt", IDM_OVERWRITE),
    QX_MENUITEM("&Delete Prompt", IDM_DELETE_PROMPT),
    QX_MENUITEM("Drop&IntoDir Prompt", IDM_DROP_CHECK),
    QX_MENUITEM("Prompt for File &Type", IDM_FILE_TYPE),
};
const QX_MENU_ITEM kHelpMenu[] = {
    QX_MENUITEM("&Index", IDM_HELP_INDEX),         QX_MENUITEM("&Selecting Files", IDM_HELP_SELECTING),
    QX_MENUITEM("&Using Help", IDM_HELP_USING),    QX_MENUSEPARATOR(),
    QX_MENUITEM("&About filemover...", IDM_ABOUT),
};
const QX_MENU_ITEM kFtpMenuItems[] = {
    QX_POPUP("&File", kFileMenu),
    QX_POPUP("&Options", kOptionsMenu),
    QX_POPUP("&Help", kHelpMenu),
};
const QX_MENU kFtpMenu = QX_MENU_OF(kFtpMenuItems);

const QX_ACCELERATOR kAccelerators[] = {
    {FVIRTKEY, VK_F5, IDC_BUTTON_REFRESH},
    {FVIRTKEY | FCONTROL, 'O', IDM_OPEN_REMOTE},
};
const QX_ACCELERATORS kFtpAccelerators = QX_ACCELERATORS_OF(kAccelerators);

const QX_DIALOG_ITEM kHostItems[] = {
    QX_LTEXT("Con&figuration:", -1, 8, 10, 56, 8),
    QX_COMBOBOX(IDC_HOST_CONFIG, 66, 8, 130, 80, CBS_DROPDOWN | CBS_SORT | WS_VSCROLL | WS_TABSTOP),
    QX_LTEXT("&Host :", -1, 8, 28, 56, 8),
    QX_EDITTEXT(IDC_HOST_HOST, 66, 26, 130, 12),
    QX_LTEXT("&Username :", -1, 8, 44, 56, 8),
    QX_EDITTEXT(IDC_HOST_USER, 66, 42, 130, 12),
    QX_LTEXT("&Password:", -1, 8, 60, 56, 8),
    QX_CONTROL("", IDC_HOST_PASSWORD, "Edit", ES_LEFT | ES_PASSWORD | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP,
               66, 58, 130, 12),
    QX_LTEXT("&Account:", -1, 8, 76, 56, 8),
    QX_EDITTEXT(IDC_HOST_ACCOUNT, 66, 74, 130, 12),
    QX_LTEXT("&Remote Dir:", -1, 8, 92, 56, 8),
    QX_EDITTEXT(IDC_HOST_REMOTE_DIR, 66, 90, 130, 12),
    QX_LTEXT("&Local Dir:", -1, 8, 108, 56, 8),
    QX_EDITTEXT(IDC_HOST_LOCAL_DIR, 66, 106, 130, 12),
    QX_DEFPUSHBUTTON("&OK", IDOK, 206, 8, 44, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 206, 26, 44, 14),
    QX_PUSHBUTTON("&New", IDC_HOST_NEW, 206, 58, 44, 14),
    QX_PUSHBUTTON("&Save", IDC_HOST_SAVE, 206, 76, 44, 14),
    QX_PUSHBUTTON("&Delete", IDC_HOST_DELETE, 206, 94, 44, 14),
};
const QX_DIALOG kHost = QX_DIALOG_TEMPLATE(20, 20, 258, 126, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                           "Remote Host", "MS Sans Serif", 8, kHostItems);

const QX_DIALOG_ITEM kInfoItems[] = {
    QX_CONTROL("", IDC_INFO_LIST, "ListBox",
               LBS_NOINTEGRALHEIGHT | LBS_USETABSTOPS | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL, 6,
               6, 288, 104),
    QX_DEFPUSHBUTTON("&Close", IDOK, 128, 116, 44, 14),
};
const QX_DIALOG kInfo = QX_DIALOG_TEMPLATE(30, 30, 300, 136, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, "Info",
                                           "MS Sans Serif", 8, kInfoItems);

const QX_DIALOG_ITEM kPathItems[] = {
    QX_LTEXT("&Directory:", -1, 8, 10, 40, 8),
    QX_EDITTEXT(IDC_PATH_EDIT, 50, 8, 180, 12),
    QX_DEFPUSHBUTTON("OK", IDOK, 70, 28, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 124, 28, 44, 14),
};
const QX_DIALOG kPath = QX_DIALOG_TEMPLATE(40, 40, 238, 48, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, "Path",
                                           "MS Sans Serif", 8, kPathItems);

#define QX_SMALL_DIALOG(var, caption, items)                                                                    \
  const QX_DIALOG var = QX_DIALOG_TEMPLATE(40, 40, 220, 62, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, \
                                           caption, "MS Sans Serif", 8, items)

const QX_DIALOG_ITEM kAscBinItems[] = {
    QX_LTEXT("", IDC_SMALL_NAME, 8, 8, 204, 8),
    QX_DEFPUSHBUTTON("&Ascii", IDC_ASCII, 8, 40, 50, 14),
    QX_PUSHBUTTON("&Binary", IDC_BINARY, 64, 40, 50, 14),
    QX_CONTROL("All &Files", IDC_SMALL_ALL_FILES, "Button", BS_AUTOCHECKBOX | WS_CHILD | WS_VISIBLE | WS_TABSTOP, 130,
               42, 70, 10),
};
QX_SMALL_DIALOG(kAscBin, "Transfer Mode", kAscBinItems);

const QX_DIALOG_ITEM kOverwriteItems[] = {
    QX_LTEXT("", IDC_SMALL_NAME, 8, 8, 204, 8),
    QX_DEFPUSHBUTTON("&Overwrite", IDC_OVERWRITE, 4, 40, 50, 14),
    QX_PUSHBUTTON("Overwrite &All", IDC_OVERWRITE_ALL, 58, 40, 54, 14),
    QX_PUSHBUTTON("&Rename", IDC_OVERWRITE_RENAME, 116, 40, 48, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 168, 40, 48, 14),
};
QX_SMALL_DIALOG(kOverwrite, "File Already Exists", kOverwriteItems);

const QX_DIALOG_ITEM kNewNameItems[] = {
    QX_LTEXT("", IDC_SMALL_OLD, 8, 6, 204, 8),
    QX_EDITTEXT(IDC_SMALL_NAME, 8, 20, 204, 12),
    QX_DEFPUSHBUTTON("Co&py", IDOK, 50, 42, 50, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 120, 42, 50, 14),
};
QX_SMALL_DIALOG(kExists, "Filename Exists, Rename", kNewNameItems);
QX_SMALL_DIALOG(kInvalid, "Invalid Dos Filename", kNewNameItems);

const QX_DIALOG_ITEM kDeleteItems[] = {
    QX_LTEXT("", IDC_SMALL_NAME, 8, 8, 204, 8),
    QX_DEFPUSHBUTTON("&Delete", IDOK, 20, 40, 50, 14),
    QX_PUSHBUTTON("&All", IDC_DELETE_ALL, 85, 40, 50, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 150, 40, 50, 14),
};
QX_SMALL_DIALOG(kDelete, "Are you sure you want to Delete ?", kDeleteItems);

const QX_DIALOG_ITEM kRenameItems[] = {
    QX_LTEXT("From:", -1, 8, 6, 24, 8),
    QX_LTEXT("", IDC_SMALL_OLD, 34, 6, 178, 8),
    QX_LTEXT("To:", -1, 8, 22, 24, 8),
    QX_EDITTEXT(IDC_SMALL_NAME, 34, 20, 178, 12),
    QX_DEFPUSHBUTTON("&Rename", IDOK, 50, 42, 50, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 120, 42, 50, 14),
};
QX_SMALL_DIALOG(kRename, "Rename File", kRenameItems);

const QX_DIALOG_ITEM kMkdirItems[] = {
    QX_LTEXT("Directory name:", -1, 8, 6, 204, 8),
    QX_EDITTEXT(IDC_SMALL_NAME, 8, 20, 204, 12),
    QX_DEFPUSHBUTTON("&Mkdir", IDOK, 50, 42, 50, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 120, 42, 50, 14),
};
QX_SMALL_DIALOG(kMkdir, "Make Directory", kMkdirItems);

const QX_DIALOG_ITEM kPutInDirItems[] = {
    QX_LTEXT("", IDC_SMALL_NAME, 8, 8, 204, 8),
    QX_DEFPUSHBUTTON("&Copy", IDOK, 50, 40, 50, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 120, 40, 50, 14),
};
QX_SMALL_DIALOG(kPutInDir, "Do you want to copy into a directory?", kPutInDirItems);

const QX_DIALOG_ITEM kNewPathItems[] = {
    QX_EDITTEXT(IDC_PATH_EDIT, 8, 12, 204, 12),
    QX_DEFPUSHBUTTON("C&hange", IDOK, 50, 40, 50, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 120, 40, 50, 14),
};
QX_SMALL_DIALOG(kNewPath, "Enter New Path", kNewPathItems);

const QX_DIALOG_ITEM kCommandItems[] = {
    QX_EDITTEXT(IDC_COMMAND_EDIT, 6, 6, 200, 12),
    QX_DEFPUSHBUTTON("&Send", IDC_COMMAND_SEND, 212, 5, 44, 14),
    QX_CONTROL("", IDC_COMMAND_LIST, "ListBox",
               LBS_NOINTEGRALHEIGHT | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL, 6, 24, 250, 80),
    QX_PUSHBUTTON("&Close", IDOK, 109, 110, 44, 14),
};
const QX_DIALOG kCommand = QX_DIALOG_TEMPLATE(30, 30, 262, 130, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                              "FTP Command", "MS Sans Serif", 8, kCommandItems);

const QX_DIALOG_ITEM kTransferItems[] = {
    QX_LTEXT("", IDC_TRANSFER_NAME, 8, 6, 190, 8),
    QX_LTEXT("File:", -1, 8, 20, 30, 8),
    QX_CONTROL("", IDC_TRANSFER_FILE_BAR, "Static", SS_BLACKFRAME | WS_CHILD | WS_VISIBLE, 40, 19, 110, 10),
    QX_LTEXT("", IDC_TRANSFER_FILE_BYTES, 156, 20, 60, 8),
    QX_LTEXT("Total:", -1, 8, 34, 30, 8),
    QX_CONTROL("", IDC_TRANSFER_TOTAL_BAR, "Static", SS_BLACKFRAME | WS_CHILD | WS_VISIBLE, 40, 33, 110, 10),
    QX_LTEXT("", IDC_TRANSFER_TOTAL_BYTES, 156, 34, 60, 8),
    QX_CONTROL("", IDC_TRANSFER_PIE, "Static", SS_WHITERECT | WS_CHILD | WS_VISIBLE, 200, 4, 24, 24),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 92, 50, 44, 14),
};
const QX_DIALOG kTransfer = QX_DIALOG_TEMPLATE(40, 40, 230, 70, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                               "File Transfer", "MS Sans Serif", 8, kTransferItems);

const QX_DIALOG_ITEM kAboutItems[] = {
    QX_LTEXT("QX TCP/IP suite: filemover", -1, 8, 8, 200, 8),
    QX_LTEXT("", IDC_ABOUT_VERSION, 8, 22, 200, 8),
    QX_LTEXT("Network Layer:", -1, 8, 40, 60, 8),
    QX_CONTROL("", IDC_ABOUT_NETWORK, "Edit", ES_LEFT | ES_READONLY | WS_CHILD | WS_VISIBLE | WS_BORDER, 70, 38, 144,
               12),
    QX_LTEXT("Vrsn compiled:", -1, 8, 56, 60, 8),
    QX_CONTROL("", IDC_ABOUT_COMPILED, "Edit", ES_LEFT | ES_READONLY | WS_CHILD | WS_VISIBLE | WS_BORDER, 70, 54, 144,
               12),
    QX_DEFPUSHBUTTON("OK", IDOK, 90, 74, 40, 14),
};
const QX_DIALOG kAbout = QX_DIALOG_TEMPLATE(0, 0, 222, 94, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                            "About filemover", "MS Sans Serif", 8, kAboutItems);

QX_SUITE_VERSION(kVersion, 1, 0, 0, 0, "FTP client");

const QX_RESOURCE kResources[] = {
    QX_RES_MENU("Ftp", kFtpMenu),
    QX_RES_ACCELERATORS("FTPACC", kFtpAccelerators),
    QX_RES_DIALOG("Host", kHost),
    QX_RES_DIALOG("InfoDialog", kInfo),
    QX_RES_DIALOG("Path", kPath),
    QX_RES_DIALOG("About", kAbout),
    QX_RES_DIALOG("AscBin", kAscBin),
    QX_RES_DIALOG("Overwrite", kOverwrite),
    QX_RES_DIALOG("Exists", kExists),
    QX_RES_DIALOG("Invalid", kInvalid),
    QX_RES_DIALOG("Delete", kDelete),
    QX_RES_DIALOG("Rename", kRename),
    QX_RES_DIALOG("Mkdir", kMkdir),
    QX_RES_DIALOG("PutInDir", kPutInDir),
    QX_RES_DIALOG("NewPath", kNewPath),
    QX_RES_DIALOG("Command", kCommand),
    QX_RES_DIALOG("Transfer", kTransfer),
    QX_RES_VERSION(kVersion),
    QX_STRING(IDS_APP_NAME, "Ftp"),
    QX_STRING(IDS_BUTTON_COPY, "&Copy"),
    QX_STRING(IDS_BUTTON_COPY + 1, "&Delete"),
    QX_STRING(IDS_BUTTON_COPY + 2, "&Rename"),
    QX_STRING(IDS_BUTTON_COPY + 3, "&Mkdir"),
    QX_STRING(IDS_BUTTON_COPY + 4, "Refre&sh"),
    QX_STRING(IDS_SELECTING_FILES, "Selecting files"),
    QX_STRING(IDS_READING_DIRECTORY, "Reading and Parsing Directory ..."),
};

}  // namespace

QX_REGISTER_RESOURCES(kResources);
