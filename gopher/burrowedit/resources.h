// Identifiers of burrowedit's resources: the framework's command ids (the
// numbers the menus, accelerators and tool bar carry), the editor's own
// commands, controls and strings.
#ifndef QX_BURROWEDIT_RESOURCES_H
#define QX_BURROWEDIT_RESOURCES_H

// Menus and accelerators: 2 while no document is open, 3 while one is.
#define IDR_MAINFRAME 2
#define IDR_GMENUTYPE 3

// File, edit, view, window and help commands.
#define ID_FILE_NEW 57600
#define ID_FILE_OPEN 57601
#define ID_FILE_CLOSE 57602
#define ID_FILE_SAVE 57603
#define ID_FILE_SAVE_AS 57604
#define ID_FILE_MRU_FILE1 57616  // to ID_FILE_MRU_FILE1 + 3
#define ID_EDIT_COPY 57634
#define ID_EDIT_CUT 57635
#define ID_EDIT_PASTE 57637
#define ID_EDIT_UNDO 57643
#define ID_WINDOW_NEW 57648
#define ID_WINDOW_ARRANGE 57649
#define ID_WINDOW_CASCADE 57650
#define ID_WINDOW_TILE_HORZ 57651
#define ID_APP_ABOUT 57664
#define ID_APP_EXIT 57665
#define ID_VIEW_TOOLBAR 59392
#define ID_VIEW_STATUS_BAR 59393
#define ID_NEXT_PANE 59408
#define ID_PREV_PANE 59409
#define ID_INSERT_ITEM 32771
#define ID_DELETE_ITEM 32772
#define ID_EDIT_ITEM 32773

// The document windows' first id in the Window menu.
#define AFX_IDM_FIRST_MDICHILD 0xFF00

// Bars and status indicators.
#define AFX_IDW_TOOLBAR 0xE800
#define AFX_IDW_STATUS_BAR 0xE801
#define ID_INDICATOR_CAPS 59137
#define ID_INDICATOR_NUM 59138
#define ID_INDICATOR_SCRL 59139
#define ID_SEPARATOR 0

// The view's list box and the item dialog.
#define IDC_MENU_LIST 103
#define IDD_ABOUTBOX 100
#define IDD_MENU_ITEM 102
#define IDC_ITEM_TYPE 1000
#define IDC_ITEM_DISPLAY 1001
#define IDC_ITEM_RESOURCE 1002
#define IDC_ITEM_HOST 1003
#define IDC_ITEM_PORT 1004

// Strings beyond the messages of menufile.h.
#define IDS_APP_TITLE 57344
#define IDS_ASK_TO_SAVE 61440     // "Save changes to %1?"
#define IDS_FAILED_TO_OPEN 61441  // "Failed to open document."
#define IDS_FAILED_TO_SAVE 61442  // "Failed to save document."
#define IDS_IDLE_MESSAGE 57345    // "Ready"
#define IDS_FILE_TOO_LARGE 61443

#endif
