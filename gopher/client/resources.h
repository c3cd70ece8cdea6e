// Identifiers of burrowview's resources: menu commands, controls and strings.
#ifndef QX_GOPHER_CLIENT_RESOURCES_H
#define QX_GOPHER_CLIENT_RESOURCES_H

// Menu commands (100 + the initial action for the first three)
#define IDM_HOME_GOPHER 100
#define IDM_HOME_CHECKPOINT 101
#define IDM_HOME_BOOKMARK 102
#define IDM_SELECT_GOPHER 103
#define IDM_CONFIGURE 104
#define IDM_PRINT_SETUP 105
#define IDM_EXIT 106
#define IDM_SAVE_BOOKMARK 107
#define IDM_DELETE_BOOKMARK 108
#define IDM_GOTO_BOOKMARK 109
#define IDM_CHECKPOINT 110
#define IDM_REMOVE_CHECKPOINT 111
#define IDM_LOAD_CHECKPOINT 112
#define IDM_HELP_USING 113
#define IDM_HELP_INDEX 114
#define IDM_ABOUT 115
#define IDM_MONOSPACED 116
#define IDM_PROPORTIONAL 117
#define IDM_DOC_COLOR 118
#define IDM_TREE_COLOR 119
#define IDM_SOUND_FILE 120  // 120..124: save to file, 3, 5, 10, 20 seconds
#define IDM_SOUND_LAST 124

// The client-area dialog (its own id lets automation reach it from the main window)
#define IDC_CLIENT_AREA 200
#define IDC_STATUS_FRAME 201
#define IDC_STATUS_TEXT 202
#define IDC_TREE_LIST 203
#define IDC_DOC_LIST 204
#define IDC_SAVE_BUTTON 205
#define IDC_PRINT_BUTTON 206

// The search and CSO dialogs
#define IDC_SEARCH_WORDS 600
#define IDC_CSO_VALUE 700
#define IDC_CSO_KEYS 701
#define IDC_CSO_RETURN 703

// Bookmark and checkpoint dialogs: "BMName", "BMSel" and "BMGoto"
#define IDC_BM_LIST 400
#define IDC_BM_LIST_LABEL 401
#define IDC_BM_NO_CLEAR 402
#define IDC_BM_CLEAR 403
#define IDC_BM_NAME_LABEL 500
#define IDC_BM_NAME 501

// The server chooser "GophSel"
#define IDC_SEL_SERVER 300
#define IDC_SEL_PORT_BAR 301
#define IDC_SEL_PORT 302
#define IDC_SEL_GOTO_BOOKMARK 303
#define IDC_SEL_LOAD_CHECKPOINT 304
#define IDC_SEL_NO_CLEAR 305
#define IDC_SEL_CLEAR 306
#define IDC_SEL_KEY 307
#define IDC_SEL_DESCRIPTION 308

// The configuration dialog "Configure"
#define IDC_CFG_HOME_HOST 800
#define IDC_CFG_HOME_CHECKPOINT 801
#define IDC_CFG_HOME_BOOKMARK 802
#define IDC_CFG_ACTION_FIRST 803  // 803..806: home gopher, checkpoint, bookmark, server chooser
#define IDC_CFG_ACTION_LAST 806
#define IDC_CFG_NO_CLEAR 807
#define IDC_CFG_CLEAR 808
#define IDC_CFG_TELNET 809
#define IDC_CFG_TN3270 810

#endif
