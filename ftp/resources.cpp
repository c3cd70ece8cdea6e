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
    QX_MENUITEM_F("&Execute FTP Command...", IDM_EXECUTE, MF_GRAYED),
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

const QX_VERSION_STRING kVersionStrings[] = {
    {"FileVersion", "1.0.0.0"}, {"ProductName", "QX TCP/IP suite"}, {"FileDescription", "FTP client"}};
const QX_VERSION kVersion = {
    QX_VERSION_MS(1, 0), QX_VERSION_LS(0, 0), QX_VERSION_MS(1, 0),        QX_VERSION_LS(0, 0), 0x3F, 0, 0x40004, 1, 0,
    "040904E4",          kVersionStrings,     QX_COUNTOF(kVersionStrings)};

const QX_RESOURCE kResources[] = {
    QX_RES_MENU("Ftp", kFtpMenu),
    QX_RES_ACCELERATORS("FTPACC", kFtpAccelerators),
    QX_RES_DIALOG("Host", kHost),
    QX_RES_DIALOG("InfoDialog", kInfo),
    QX_RES_DIALOG("Path", kPath),
    QX_RES_DIALOG("About", kAbout),
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
