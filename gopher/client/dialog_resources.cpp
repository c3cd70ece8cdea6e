// burrowview's bookmark, checkpoint and settings dialogs: "BMName", "BMSel",
// "BMGoto", "Configure" and "GophSel". The other resources are in
// resources.cpp.
#include <windows.h>

#include "resources.h"

namespace {

constexpr DWORD kModal = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kDropList = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
constexpr DWORD kRadio = BS_RADIOBUTTON | WS_CHILD | WS_VISIBLE | WS_TABSTOP;

// The name of a new bookmark or checkpoint; caption and label are set by the command.
const QX_DIALOG_ITEM kNameItems[] = {
    QX_LTEXT("Bookmark Name:", IDC_BM_NAME_LABEL, 8, 8, 200, 8),
    QX_CONTROL("", IDC_BM_NAME, "Edit", ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 8,
               20, 200, 12),
    QX_DEFPUSHBUTTON("OK", IDOK, 54, 40, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 118, 40, 44, 14),
};
const QX_DIALOG kName = QX_DIALOG_TEMPLATE(40, 40, 216, 62, kModal, "Save Bookmark", "MS Sans Serif", 8, kNameItems);

// A saved bookmark or checkpoint to delete.
const QX_DIALOG_ITEM kSelectItems[] = {
    QX_LTEXT("Delete Bookmark", IDC_BM_LIST_LABEL, 8, 8, 200, 8),
    QX_COMBOBOX(IDC_BM_LIST, 8, 20, 200, 80, kDropList),
    QX_DEFPUSHBUTTON("&Delete", IDOK, 54, 42, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 118, 42, 44, 14),
};
const QX_DIALOG kSelect =
    QX_DIALOG_TEMPLATE(40, 40, 216, 64, kModal, "Delete Bookmark", "MS Sans Serif", 8, kSelectItems);

// A saved bookmark or checkpoint to add to the tree.
const QX_DIALOG_ITEM kGotoItems[] = {
    QX_LTEXT("Select Bookmark", IDC_BM_LIST_LABEL, 8, 8, 200, 8),
    QX_COMBOBOX(IDC_BM_LIST, 8, 20, 200, 80, kDropList),
    QX_CONTROL("Don't Clear Screen before adding", IDC_BM_NO_CLEAR, "Button", kRadio | WS_GROUP, 8, 40, 200, 10),
    QX_CONTROL("Clear Screen before adding", IDC_BM_CLEAR, "Button", kRadio, 8, 52, 200, 10),
    QX_DEFPUSHBUTTON("Select", IDOK, 54, 70, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 118, 70, 44, 14),
};
const QX_DIALOG kGoto = QX_DIALOG_TEMPLATE(40, 40, 216, 92, kModal, "Select Bookmark", "MS Sans Serif", 8, kGotoItems);

const QX_DIALOG_ITEM kConfigureItems[] = {
    QX_LTEXT("Home Gopher Server:", -1, 8, 10, 76, 8),
    QX_EDITTEXT(IDC_CFG_HOME_HOST, 86, 8, 170, 12),
    QX_LTEXT("Home Checkpoint:", -1, 8, 26, 76, 8),
    QX_EDITTEXT(IDC_CFG_HOME_CHECKPOINT, 86, 24, 170, 12),
    QX_LTEXT("Home Bookmark:", -1, 8, 42, 76, 8),
    QX_EDITTEXT(IDC_CFG_HOME_BOOKMARK, 86, 40, 170, 12),
    QX_GROUPBOX("At Start", -1, 8, 58, 122, 64),
    QX_CONTROL("Home G&opher", IDC_CFG_ACTION_FIRST, "Button", kRadio | WS_GROUP, 14, 70, 110, 10),
    QX_CONTROL("Home Check&point", IDC_CFG_ACTION_FIRST + 1, "Button", kRadio, 14, 82, 110, 10),
    QX_CONTROL("Home Book&mark", IDC_CFG_ACTION_FIRST + 2, "Button", kRadio, 14, 94, 110, 10),
    QX_CONTROL("Gopher Se&lection Menu", IDC_CFG_ACTION_LAST, "Button", kRadio, 14, 106, 110, 10),
    QX_GROUPBOX("Adding", -1, 136, 58, 120, 64),
    QX_CONTROL("Don't Clear Screen", IDC_CFG_NO_CLEAR, "Button", kRadio | WS_GROUP, 142, 70, 108, 10),
    QX_CONTROL("Clear Screen", IDC_CFG_CLEAR, "Button", kRadio, 142, 82, 108, 10),
    QX_LTEXT("Telnet Client:", -1, 8, 132, 76, 8),
    QX_EDITTEXT(IDC_CFG_TELNET, 86, 130, 170, 12),
    QX_LTEXT("TN3270 Client:", -1, 8, 148, 76, 8),
    QX_EDITTEXT(IDC_CFG_TN3270, 86, 146, 170, 12),
    QX_LTEXT("Clients: %h=hostname   %p=port number   %u=username", -1, 8, 164, 248, 8),
    QX_DEFPUSHBUTTON("&Save", IDOK, 78, 180, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 142, 180, 44, 14),
};
const QX_DIALOG kConfigure =
    QX_DIALOG_TEMPLATE(30, 30, 264, 202, kModal, "Configuration", "MS Sans Serif", 8, kConfigureItems);

const QX_DIALOG_ITEM kChooserItems[] = {
    QX_LTEXT("Gopher Server:", -1, 8, 10, 56, 8),
    QX_COMBOBOX(IDC_SEL_SERVER, 66, 8, 150, 90, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP),
    QX_LTEXT("Port:", -1, 8, 28, 56, 8),
    QX_CONTROL("", IDC_SEL_PORT, "Edit", ES_LEFT | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 66, 26, 40, 12),
    QX_SCROLLBAR(IDC_SEL_PORT_BAR, 108, 25, 10, 14, SBS_VERT),
    QX_LTEXT("Selector:", -1, 8, 46, 56, 8),
    QX_CONTROL("", IDC_SEL_KEY, "Edit", ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 66,
               44, 150, 12),
    QX_LTEXT("Description:", -1, 8, 62, 56, 8),
    QX_CONTROL("", IDC_SEL_DESCRIPTION, "Edit",
               ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 66, 60, 150, 12),
    QX_CONTROL("Don't Clear Screen before adding", IDC_SEL_NO_CLEAR, "Button", kRadio | WS_GROUP, 8, 80, 200, 10),
    QX_CONTROL("Clear Screen before adding", IDC_SEL_CLEAR, "Button", kRadio, 8, 92, 200, 10),
    QX_PUSHBUTTON("Go To Bookmark", IDC_SEL_GOTO_BOOKMARK, 8, 110, 100, 14),
    QX_PUSHBUTTON("Load from Checkpoint", IDC_SEL_LOAD_CHECKPOINT, 116, 110, 100, 14),
    QX_DEFPUSHBUTTON("Select", IDOK, 56, 130, 48, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 120, 130, 48, 14),
};
const QX_DIALOG kChooser =
    QX_DIALOG_TEMPLATE(30, 30, 224, 152, kModal, "Select A Gopher Server", "MS Sans Serif", 8, kChooserItems);

const QX_RESOURCE kDialogs[] = {
    QX_RES_DIALOG("BMName", kName),         QX_RES_DIALOG("BMSel", kSelect),    QX_RES_DIALOG("BMGoto", kGoto),
    QX_RES_DIALOG("Configure", kConfigure), QX_RES_DIALOG("GophSel", kChooser),
};

}  // namespace

QX_REGISTER_RESOURCES(kDialogs);
