// burrowedit's resources: the two menus, the accelerators, the item and
// About dialogs, the strings (messages, the template text, the command
// prompts and tool tips) and the version.
#include <windows.h>

#include "menufile.h"
#include "resources.h"

namespace {

// ---- menus: 2 while no document is open, 3 while one is ----

const QX_MENU_ITEM kFileNoDocument[] = {
    QX_MENUITEM("&New\tCtrl+N", ID_FILE_NEW),
    QX_MENUITEM("&Open...\tCtrl+O", ID_FILE_OPEN),
    QX_MENUSEPARATOR(),
    QX_MENUITEM_F("Recent File", ID_FILE_MRU_FILE1, MF_GRAYED),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("E&xit", ID_APP_EXIT),
};
const QX_MENU_ITEM kFileDocument[] = {
    QX_MENUITEM("&New\tCtrl+N", ID_FILE_NEW),
    QX_MENUITEM("&Open...\tCtrl+O", ID_FILE_OPEN),
    QX_MENUITEM("&Close", ID_FILE_CLOSE),
    QX_MENUITEM("&Save\tCtrl+S", ID_FILE_SAVE),
    QX_MENUITEM("Save &As...", ID_FILE_SAVE_AS),
    QX_MENUSEPARATOR(),
    QX_MENUITEM_F("Recent File", ID_FILE_MRU_FILE1, MF_GRAYED),
    QX_MENUSEPARATOR(),
    QX_MENUITEM("E&xit", ID_APP_EXIT),
};
const QX_MENU_ITEM kEdit[] = {
    QX_MENUITEM("&Insert\tAlt+Ins", ID_INSERT_ITEM), QX_MENUITEM("&Edit", ID_EDIT_ITEM),
    QX_MENUITEM("&Delete\tAlt+Del", ID_DELETE_ITEM), QX_MENUSEPARATOR(),
    QX_MENUITEM("Cu&t\tCtrl+X", ID_EDIT_CUT),        QX_MENUITEM("&Copy\tCtrl+C", ID_EDIT_COPY),
    QX_MENUITEM("&Paste\tCtrl+V", ID_EDIT_PASTE),
};
const QX_MENU_ITEM kView[] = {
    QX_MENUITEM("&Toolbar", ID_VIEW_TOOLBAR),
    QX_MENUITEM("&Status Bar", ID_VIEW_STATUS_BAR),
};
const QX_MENU_ITEM kWindow[] = {
    QX_MENUITEM("&New Window", ID_WINDOW_NEW),
    QX_MENUITEM("&Cascade", ID_WINDOW_CASCADE),
    QX_MENUITEM("&Tile", ID_WINDOW_TILE_HORZ),
    QX_MENUITEM("&Arrange Icons", ID_WINDOW_ARRANGE),
};
const QX_MENU_ITEM kHelp[] = {
    QX_MENUITEM("&About Burrowedit...", ID_APP_ABOUT),
};
const QX_MENU_ITEM kMainItems[] = {
    QX_POPUP("&File", kFileNoDocument),
    QX_POPUP("&View", kView),
    QX_POPUP("&Help", kHelp),
};
const QX_MENU_ITEM kDocumentItems[] = {
    QX_POPUP("&File", kFileDocument), QX_POPUP("&Edit", kEdit), QX_POPUP("&View", kView),
    QX_POPUP("&Window", kWindow),     QX_POPUP("&Help", kHelp),
};
const QX_MENU kMainMenu = QX_MENU_OF(kMainItems);
const QX_MENU kDocumentMenu = QX_MENU_OF(kDocumentItems);

// ---- accelerators ----

const QX_ACCELERATOR kAccelerators[] = {
    {FVIRTKEY | FCONTROL, 'N', ID_FILE_NEW},        {FVIRTKEY | FCONTROL, 'O', ID_FILE_OPEN},
    {FVIRTKEY | FCONTROL, 'S', ID_FILE_SAVE},       {FVIRTKEY | FCONTROL, 'C', ID_EDIT_COPY},
    {FVIRTKEY | FCONTROL, VK_INSERT, ID_EDIT_COPY}, {FVIRTKEY | FCONTROL, 'X', ID_EDIT_CUT},
    {FVIRTKEY | FSHIFT, VK_DELETE, ID_EDIT_CUT},    {FVIRTKEY | FCONTROL, 'V', ID_EDIT_PASTE},
    {FVIRTKEY | FSHIFT, VK_INSERT, ID_EDIT_PASTE},  {FVIRTKEY | FALT, VK_INSERT, ID_INSERT_ITEM},
    {FVIRTKEY | FALT, VK_DELETE, ID_DELETE_ITEM},   {FVIRTKEY | FCONTROL, 'Z', ID_EDIT_UNDO},
    {FVIRTKEY | FALT, VK_BACK, ID_EDIT_UNDO},       {FVIRTKEY, VK_F6, ID_NEXT_PANE},
    {FVIRTKEY | FSHIFT, VK_F6, ID_PREV_PANE},
};
const QX_ACCELERATORS kAcceleratorTable = QX_ACCELERATORS_OF(kAccelerators);

// ---- dialogs ----

const QX_DIALOG_ITEM kItemItems[] = {
    QX_LTEXT("Menu type", -1, 8, 8, 80, 8),
    QX_COMBOBOX(IDC_ITEM_TYPE, 90, 6, 150, 120, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP),
    QX_LTEXT("Menu Display String", -1, 8, 26, 80, 8),
    QX_CONTROL("", IDC_ITEM_DISPLAY, "Edit", ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP,
               90, 24, 200, 12),
    QX_LTEXT("Resource Name", -1, 8, 44, 80, 8),
    QX_CONTROL("", IDC_ITEM_RESOURCE, "Edit", ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP,
               90, 42, 200, 12),
    QX_LTEXT("Server Name", -1, 8, 62, 80, 8),
    QX_CONTROL("", IDC_ITEM_HOST, "Edit", ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 90,
               60, 200, 12),
    QX_LTEXT("Port Number", -1, 8, 80, 80, 8),
    QX_CONTROL("", IDC_ITEM_PORT, "Edit", ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 90,
               78, 40, 12),
    QX_DEFPUSHBUTTON("OK", IDOK, 180, 100, 50, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 240, 100, 50, 14),
};
const QX_DIALOG kItemDialog = QX_DIALOG_TEMPLATE(20, 20, 300, 122, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                                 "Edit Menu Item", "MS Sans Serif", 8, kItemItems);

const QX_DIALOG_ITEM kAboutItems[] = {
    QX_LTEXT("Burrowedit Application Version 1.0", -1, 40, 10, 140, 8),
    QX_LTEXT("Edits the menu files of the gopher daemon", -1, 40, 25, 160, 8),
    QX_DEFPUSHBUTTON("OK", IDOK, 196, 6, 32, 14),
};
const QX_DIALOG kAbout = QX_DIALOG_TEMPLATE(34, 22, 236, 55, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                            "About Burrowedit", "MS Sans Serif", 8, kAboutItems);

QX_SUITE_VERSION(kVersion, 1, 0, 0, 0, "Gopher menu editor");

const QX_RESOURCE kResources[] = {
    QX_RES_MENU(MAKEINTRESOURCE(IDR_MAINFRAME), kMainMenu),
    QX_RES_MENU(MAKEINTRESOURCE(IDR_GMENUTYPE), kDocumentMenu),
    QX_RES_ACCELERATORS(MAKEINTRESOURCE(IDR_MAINFRAME), kAcceleratorTable),
    QX_RES_DIALOG(MAKEINTRESOURCE(IDD_MENU_ITEM), kItemDialog),
    QX_RES_DIALOG(MAKEINTRESOURCE(IDD_ABOUTBOX), kAbout),
    QX_RES_VERSION(kVersion),
    QX_STRING(IDR_MAINFRAME, "Burrowedit Editor"),
    QX_STRING(IDR_GMENUTYPE,
              "\nGMenu\nGopher Menu\nGopher Menu (*.gmn)\n.gmn\nGopher menu.Document\nGopher Menu Document"),
    QX_STRING(IDS_APP_TITLE, "Burrowedit Editor"),
    QX_STRING(IDS_IDLE_MESSAGE, "Ready"),
    QX_STRING(kMsgNeedsThreeTabs, "The input line is invalid it must have three tabs"),
    QX_STRING(kMsgTooShort, "The input line is to short to be valid"),
    QX_STRING(kMsgClipboardFailed, "Clipboard Operation Failed"),
    QX_STRING(kMsgNoEmptyFields, "No Empty Fields Are Allowed"),
    QX_STRING(kMsgUnknownType, "UNKNOWN"),
    QX_STRING(kMsgFieldHasBreak,
              "A field cannot hold a TAB or a line break: they would split the menu line. Remove them and press OK "
              "again."),
    QX_STRING(kMsgMoreInvalidLines,
              "%d more lines of this file are not menu items either. They are not shown, and stay in the file as "
              "they are."),
    QX_STRING(IDS_ASK_TO_SAVE, "Save changes to %1?"),
    QX_STRING(IDS_FAILED_TO_OPEN, "Failed to open document."),
    QX_STRING(IDS_FAILED_TO_SAVE, "Failed to save document."),
    QX_STRING(IDS_FILE_TOO_LARGE, "the file is larger than 64 MB, too large for a menu file."),
    // Prompts on the status bar and tool tips, separated by a newline.
    QX_STRING(ID_FILE_NEW, "Create a new document\nNew"),
    QX_STRING(ID_FILE_OPEN, "Open an existing document\nOpen"),
    QX_STRING(ID_FILE_CLOSE, "Close the active document\nClose"),
    QX_STRING(ID_FILE_SAVE, "Save the active document\nSave"),
    QX_STRING(ID_FILE_SAVE_AS, "Save the active document with a new name\nSave As"),
    QX_STRING(ID_APP_ABOUT, "Display program information, version number and copyright\nAbout"),
    QX_STRING(ID_APP_EXIT, "Quit the application; prompts to save documents\nExit"),
    QX_STRING(ID_INSERT_ITEM, "Insert a new menu item\nNew Item"),
    QX_STRING(ID_DELETE_ITEM, "Delete the current menu item\nDelete Item"),
    QX_STRING(ID_EDIT_ITEM, "Edit the current menu item\nEdit Item"),
    QX_STRING(ID_EDIT_COPY, "Copy the selection and put it on the Clipboard\nCopy"),
    QX_STRING(ID_EDIT_CUT, "Cut the selection and put it on the Clipboard\nCut"),
    QX_STRING(ID_EDIT_PASTE, "Insert a menu item from clipboard\nPaste"),
    QX_STRING(ID_VIEW_TOOLBAR, "Show or hide the toolbar\nToggle ToolBar"),
    QX_STRING(ID_VIEW_STATUS_BAR, "Show or hide the status bar\nToggle StatusBar"),
    QX_STRING(ID_WINDOW_NEW, "Open another window for the active document\nNew Window"),
    QX_STRING(ID_WINDOW_CASCADE, "Arrange windows so they overlap\nCascade Windows"),
    QX_STRING(ID_WINDOW_TILE_HORZ, "Arrange windows as non-overlapping tiles\nTile Windows"),
    QX_STRING(ID_WINDOW_ARRANGE, "Arrange icons at the bottom of the window\nArrange Icons"),
    QX_STRING(ID_FILE_MRU_FILE1, "Open this document"),
};

}  // namespace

QX_REGISTER_RESOURCES(kResources);
