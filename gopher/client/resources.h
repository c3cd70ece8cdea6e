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

#endif
