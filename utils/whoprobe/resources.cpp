// whoprobe's resources: the menu, the Host and About dialogs, the message
// texts and the version.
#include <windows.h>

#include <qxcommon.h>

#include "resources.h"

namespace {

const QX_MENU_ITEM kFileMenu[] = {
    QX_MENUITEM("&Finger Host", IDM_FINGER_HOST),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("E&xit", IDM_EXIT),
};
const QX_MENU_ITEM kOptionsMenu[] = {
    QX_MENUITEM("&Long Output", IDM_LONG_OUTPUT),
};
const QX_MENU_ITEM kHelpMenu[] = {
    QX_MENUITEM("&Index", IDM_HELP_INDEX),      QX_MENUITEM("&Options", IDM_HELP_OPTIONS),
    QX_MENUITEM("&Using Help", IDM_HELP_USING), QX_MENUSEPARATOR(),
    QX_MENUITEM("&About Finger...", IDM_ABOUT),
};
const QX_MENU_ITEM kFingerMenuItems[] = {
    QX_POPUP("&File", kFileMenu),
    QX_POPUP("&Options", kOptionsMenu),
    QX_POPUP("&Help", kHelpMenu),
};
const QX_MENU kFingerMenu = QX_MENU_OF(kFingerMenuItems);

const QX_DIALOG_ITEM kHostItems[] = {
    QX_LTEXT("&Host :", -1, 8, 10, 44, 8),
    QX_COMBOBOX(IDC_HOST, 56, 8, 120, 80, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP),
    QX_LTEXT("&Username :", -1, 8, 28, 44, 8),
    QX_CONTROL("", IDC_USER, "Edit", ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 56, 26,
               120, 12),
    QX_DEFPUSHBUTTON("&OK", IDOK, 186, 8, 44, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 186, 26, 44, 14),
};
const QX_DIALOG kHost = QX_DIALOG_TEMPLATE(20, 20, 238, 48, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                           "Finger Remote Host", "MS Sans Serif", 8, kHostItems);

const QX_DIALOG_ITEM kAboutItems[] = {
    QX_LTEXT("QX TCP/IP suite: whoprobe", -1, 8, 8, 200, 8),
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
                                            "About Finger", "MS Sans Serif", 8, kAboutItems);

QX_SUITE_VERSION(kVersion, 1, 0, 0, 0, "Finger client");

const QX_RESOURCE kResources[] = {
    QX_RES_MENU("finger", kFingerMenu),
    QX_RES_DIALOG("Host", kHost),
    QX_RES_DIALOG("About", kAbout),
    QX_RES_VERSION(kVersion),
    QX_STRING(IDS_UNKNOWN_HOST, "Unknown host \"%s\""),
    QX_STRING(IDS_CAPTION, "whoprobe"),
    QX_STRING(IDS_SOCKET_ERROR, "Socket error"),
    QX_STRING(IDS_CONNECT_ERROR, "Connect error"),
};

}  // namespace

QX_REGISTER_RESOURCES(kResources);
