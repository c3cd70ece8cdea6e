// echoprobe's resources: the menu, the host, delay, size and About dialogs,
// the computer picture, the logo and the version.
#include <windows.h>

#include <qxcommon.h>

#include "resources.h"

namespace {

#include "computer.inc"

const QX_MENU_ITEM kFileMenu[] = {
    QX_MENUITEM("&Ping Host", IDM_PING_HOST),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("E&xit", IDM_EXIT),
};
const QX_MENU_ITEM kOptionsMenu[] = {
    QX_MENUITEM("&Ping Delay", IDM_PING_DELAY),
    QX_MENUITEM("&Data Size", IDM_DATA_SIZE),
};
const QX_MENU_ITEM kHelpMenu[] = {
    QX_MENUITEM("&Index", IDM_HELP_INDEX),      QX_MENUITEM("&Options", IDM_HELP_OPTIONS),
    QX_MENUITEM("&Using Help", IDM_HELP_USING), QX_MENUSEPARATOR(),
    QX_MENUITEM("&About Ping ...", IDM_ABOUT),
};
const QX_MENU_ITEM kMenuItems[] = {
    QX_POPUP("&File", kFileMenu),
    QX_POPUP("&Options", kOptionsMenu),
    QX_POPUP("&Help", kHelpMenu),
};
const QX_MENU kMenu = QX_MENU_OF(kMenuItems);

const QX_DIALOG_ITEM kHostItems[] = {
    QX_LTEXT("Ping Remote Host", -1, 8, 6, 120, 8),
    QX_LTEXT("Host :", -1, 8, 22, 30, 8),
    QX_COMBOBOX(IDC_VALUE, 40, 20, 130, 80, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP),
    QX_DEFPUSHBUTTON("OK", IDOK, 180, 6, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 180, 24, 44, 14),
};
const QX_DIALOG kHost = QX_DIALOG_TEMPLATE(20, 20, 232, 46, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                           "Ping Host", "MS Sans Serif", 8, kHostItems);

constexpr DWORD kNumberEdit = ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;
const QX_DIALOG_ITEM kDelayItems[] = {
    QX_LTEXT("Seconds Between Pings", -1, 8, 10, 90, 8),
    QX_CONTROL("", IDC_VALUE, "Edit", kNumberEdit, 100, 8, 40, 12),
    QX_DEFPUSHBUTTON("OK", IDOK, 150, 6, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 150, 24, 44, 14),
};
const QX_DIALOG kDelay = QX_DIALOG_TEMPLATE(20, 20, 202, 46, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                            "Ping Delay", "MS Sans Serif", 8, kDelayItems);
const QX_DIALOG_ITEM kSizeItems[] = {
    QX_LTEXT("Size of Ping Datagram", -1, 8, 10, 90, 8),
    QX_CONTROL("", IDC_VALUE, "Edit", kNumberEdit, 100, 8, 40, 12),
    QX_DEFPUSHBUTTON("OK", IDOK, 150, 6, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 150, 24, 44, 14),
};
const QX_DIALOG kSize = QX_DIALOG_TEMPLATE(20, 20, 202, 46, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                           "Packet Size", "MS Sans Serif", 8, kSizeItems);

const QX_DIALOG_ITEM kAboutItems[] = {
    QX_CONTROL("", IDC_ABOUT_LOGO, "Button", BS_OWNERDRAW | WS_CHILD | WS_VISIBLE, 8, 8, 32, 32),
    QX_LTEXT("QX TCP/IP suite: echoprobe", -1, 48, 8, 170, 8),
    QX_LTEXT("", IDC_ABOUT_VERSION, 48, 22, 170, 8),
    QX_LTEXT("Network Layer:", -1, 8, 46, 60, 8),
    QX_CONTROL("", IDC_ABOUT_NETWORK, "Edit", ES_LEFT | ES_READONLY | WS_CHILD | WS_VISIBLE | WS_BORDER, 70, 44, 144,
               12),
    QX_LTEXT("Vrsn compiled:", -1, 8, 62, 60, 8),
    QX_CONTROL("", IDC_ABOUT_COMPILED, "Edit", ES_LEFT | ES_READONLY | WS_CHILD | WS_VISIBLE | WS_BORDER, 70, 60, 144,
               12),
    QX_DEFPUSHBUTTON("OK", IDOK, 90, 80, 40, 14),
};
const QX_DIALOG kAbout = QX_DIALOG_TEMPLATE(0, 0, 222, 100, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                            "About Ping", "MS Sans Serif", 8, kAboutItems);

QX_SUITE_VERSION(kVersion, 1, 0, 0, 0, "Ping monitor");

const QX_RESOURCE kResources[] = {
    QX_RES_MENU("ping", kMenu),          QX_RES_DIALOG("host", kHost),   QX_RES_DIALOG("DELAY", kDelay),
    QX_RES_DIALOG("SIZE", kSize),        QX_RES_DIALOG("about", kAbout), QX_RES_BITMAP("COMPUTER", kComputerDib),
    QX_RES_BITMAP("logo", kComputerDib), QX_RES_VERSION(kVersion),
};

}  // namespace

QX_REGISTER_RESOURCES(kResources);
