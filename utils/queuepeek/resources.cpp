// queuepeek's resources: the menu, the Host and About dialogs and the version.
#include <windows.h>

#include <qxcommon.h>

#include "resources.h"

namespace {

const QX_MENU_ITEM kFileMenu[] = {
    QX_MENUITEM("&Lpq Host", IDM_LPQ_HOST),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("E&xit", IDM_EXIT),
};
const QX_MENU_ITEM kHelpMenu[] = {
    QX_MENUITEM("&Index", IDM_HELP_INDEX),      QX_MENUITEM("&Options", IDM_HELP_OPTIONS),
    QX_MENUITEM("&Using Help", IDM_HELP_USING), QX_MENUSEPARATOR(),
    QX_MENUITEM("&About LPQ...", IDM_ABOUT),
};
const QX_MENU_ITEM kLpqMenuItems[] = {
    QX_POPUP("&File", kFileMenu),
    QX_POPUP("&Help", kHelpMenu),
};
const QX_MENU kLpqMenu = QX_MENU_OF(kLpqMenuItems);

const QX_DIALOG_ITEM kHostItems[] = {
    QX_LTEXT("Query remote printer", -1, 8, 12, 160, 8),
    QX_LTEXT("&Host :", -1, 8, 34, 44, 8),
    QX_COMBOBOX(IDC_HOST, 56, 32, 120, 80, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP),
    QX_LTEXT("&Printer :", -1, 8, 52, 44, 8),
    QX_COMBOBOX(IDC_PRINTER, 56, 50, 120, 80, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP),
    QX_LTEXT("&Username :", -1, 8, 70, 44, 8),
    QX_CONTROL("", IDC_USER, "Edit", ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 56, 68,
               120, 12),
    QX_DEFPUSHBUTTON("&OK", IDOK, 186, 32, 44, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 186, 50, 44, 14),
};
const QX_DIALOG kHost = QX_DIALOG_TEMPLATE(20, 20, 238, 90, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, "LPQ",
                                           "MS Sans Serif", 8, kHostItems);

const QX_DIALOG_ITEM kAboutItems[] = {
    QX_LTEXT("QX TCP/IP suite: queuepeek", -1, 8, 8, 200, 8),
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
                                            "About LPQ", "MS Sans Serif", 8, kAboutItems);

QX_SUITE_VERSION(kVersion, 1, 0, 0, 0, "LPD queue client");

const QX_RESOURCE kResources[] = {
    QX_RES_MENU("lpq", kLpqMenu),
    QX_RES_DIALOG("Host", kHost),
    QX_RES_DIALOG("About", kAbout),
    QX_RES_VERSION(kVersion),
};

}  // namespace

QX_REGISTER_RESOURCES(kResources);
