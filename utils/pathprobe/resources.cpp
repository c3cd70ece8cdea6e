// pathprobe's resources: the menu, the destination, options, traditional-view
// and About dialogs, the picture of a hop's computer and the version.
#include <windows.h>

#include <qxcommon.h>

#include "resources.h"

namespace {

#include "small_comp.inc"

const QX_MENU_ITEM kFileMenu[] = {
    QX_MENUITEM("&TraceRoute...", IDM_TRACEROUTE),
    QX_MENUITEM("&Options...", IDM_OPTIONS),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("E&xit", IDM_EXIT),
};
const QX_MENU_ITEM kDisplayMenu[] = {
    QX_MENUITEM("Traditional", IDM_TRADITIONAL),
    QX_MENUITEM("Graphical", IDM_GRAPHICAL),
};
const QX_MENU_ITEM kHelpMenu[] = {
    QX_MENUITEM("&Help...", IDM_HELP),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("&About pathprobe...", IDM_ABOUT),
};
const QX_MENU_ITEM kMenuItems[] = {
    QX_POPUP("&File", kFileMenu),
    QX_POPUP("&Display...", kDisplayMenu),
    QX_POPUP("&Help", kHelpMenu),
};
const QX_MENU kMenu = QX_MENU_OF(kMenuItems);

const QX_DIALOG_ITEM kDestinationItems[] = {
    QX_LTEXT("&Host :", -1, 8, 10, 30, 8),
    QX_COMBOBOX(IDC_DESTINATION, 40, 8, 140, 80, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP),
    QX_DEFPUSHBUTTON("&OK", IDOK, 190, 8, 44, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 190, 26, 44, 14),
};
const QX_DIALOG kDestination = QX_DIALOG_TEMPLATE(20, 20, 242, 48, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                                  "Traceroute Destination", "MS Sans Serif", 8, kDestinationItems);

constexpr DWORD kNumberEdit = ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;
const QX_DIALOG_ITEM kOptionsItems[] = {
    QX_CHECKBOX("&Lookup Names", IDC_LOOKUP_NAMES, 8, 8, 90, 10),
    QX_LTEXT("&Number of Probes:", -1, 8, 26, 70, 8),
    QX_CONTROL("", IDC_NUM_PROBES, "Edit", kNumberEdit, 80, 24, 40, 12),
    QX_SCROLLBAR(IDC_NUM_PROBES_SCROLL, 120, 24, 9, 12, SBS_VERT),
    QX_LTEXT("Maximum &Hops:", -1, 8, 42, 70, 8),
    QX_CONTROL("", IDC_MAX_HOPS, "Edit", kNumberEdit, 80, 40, 40, 12),
    QX_SCROLLBAR(IDC_MAX_HOPS_SCROLL, 120, 40, 9, 12, SBS_VERT),
    QX_LTEXT("&Data Size:", -1, 8, 58, 70, 8),
    QX_CONTROL("", IDC_DATA_SIZE, "Edit", kNumberEdit, 80, 56, 40, 12),
    QX_SCROLLBAR(IDC_DATA_SIZE_SCROLL, 120, 56, 9, 12, SBS_VERT),
    QX_LTEXT("&Port Number:", -1, 8, 74, 70, 8),
    QX_CONTROL("", IDC_PORT, "Edit", kNumberEdit, 80, 72, 40, 12),
    QX_CHECKBOX("&Save Configuration", IDC_SAVE_CONFIGURATION, 8, 92, 100, 10),
    QX_DEFPUSHBUTTON("&OK", IDOK, 150, 8, 44, 14),
    QX_PUSHBUTTON("&Cancel", IDCANCEL, 150, 26, 44, 14),
};
const QX_DIALOG kOptions = QX_DIALOG_TEMPLATE(30, 30, 202, 110, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                              "Options", "MS Sans Serif", 8, kOptionsItems);

const QX_DIALOG_ITEM kTraditionalItems[] = {
    QX_CONTROL("", IDC_HOP_LIST, "ListBox",
               LBS_NOINTEGRALHEIGHT | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL, 5, 5, 200, 100),
};
const QX_DIALOG kTraditional =
    QX_DIALOG_TEMPLATE(0, 0, 220, 120, WS_CHILD | WS_VISIBLE, "", "MS Sans Serif", 8, kTraditionalItems);

const QX_DIALOG_ITEM kAboutItems[] = {
    QX_LTEXT("QX TCP/IP suite: pathprobe", -1, 8, 8, 200, 8),
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
                                            "About pathprobe", "MS Sans Serif", 8, kAboutItems);

QX_SUITE_VERSION(kVersion, 1, 0, 0, 0, "Traceroute");

const QX_RESOURCE kResources[] = {
    QX_RES_MENU("TraceRouteMenu", kMenu),
    QX_RES_DIALOG("TraceRouteDialog", kDestination),
    QX_RES_DIALOG("OptionsDialog", kOptions),
    QX_RES_DIALOG("Traditional", kTraditional),
    QX_RES_DIALOG("About", kAbout),
    QX_RES_BITMAP("SmallComp", kSmallCompDib),
    QX_RES_VERSION(kVersion),
};

}  // namespace

QX_REGISTER_RESOURCES(kResources);
