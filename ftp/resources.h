// Identifiers of filemover's resources: menu commands, controls and strings.
#ifndef QX_FTP_RESOURCES_H
#define QX_FTP_RESOURCES_H

// Menu and button commands
#define IDM_EXIT 50
#define IDM_OPEN_REMOTE 51
#define IDM_ABOUT 99
#define IDM_HELP_INDEX 101
#define IDM_HELP_SELECTING 102
#define IDM_HELP_USING 103
#define IDM_EXECUTE 104
#define IDM_OVERWRITE 200
#define IDM_DELETE_PROMPT 201
#define IDM_DROP_CHECK 202
#define IDM_FILE_TYPE 203
#define IDM_DROP_OTHER 500
#define IDC_BUTTON_COPY 501
#define IDC_BUTTON_DELETE 502
#define IDC_BUTTON_RENAME 503
#define IDC_BUTTON_MKDIR 504
#define IDC_BUTTON_REFRESH 505
#define IDM_CLOSE 506
#define IDM_OPEN_LOCAL 507

// Child windows of the frame (their ids let automation reach them)
#define IDC_PATH_BAR0 520
#define IDC_PATH_BAR1 521
#define IDC_FILE_LIST0 522
#define IDC_FILE_LIST1 523
#define IDC_STATUS_AREA 524

// Host dialog
#define IDC_HOST_CONFIG 100
#define IDC_HOST_HOST 101
#define IDC_HOST_USER 102
#define IDC_HOST_PASSWORD 103
#define IDC_HOST_ACCOUNT 104
#define IDC_HOST_REMOTE_DIR 105
#define IDC_HOST_LOCAL_DIR 106
#define IDC_HOST_SAVE 107
#define IDC_HOST_NEW 108
#define IDC_HOST_DELETE 109

// Info and Path dialogs
#define IDC_INFO_LIST 200
#define IDC_PATH_EDIT 101

// The small dialogs of copying and the file commands: 101 the new name (or
// the name shown), 102 the old name, 103 "All Files"; their buttons.
#define IDC_SMALL_NAME 101
#define IDC_SMALL_OLD 102
#define IDC_SMALL_ALL_FILES 103
#define IDC_ASCII 120
#define IDC_BINARY 121
#define IDC_OVERWRITE 130
#define IDC_OVERWRITE_ALL 131
#define IDC_OVERWRITE_RENAME 132
#define IDC_DELETE_ALL 140

// Transfer dialog
#define IDC_TRANSFER_NAME 101
#define IDC_TRANSFER_FILE_BAR 102
#define IDC_TRANSFER_TOTAL_BAR 103
#define IDC_TRANSFER_PIE 104
#define IDC_TRANSFER_TOTAL_BYTES 111
#define IDC_TRANSFER_FILE_BYTES 112

// Command dialog
#define IDC_COMMAND_EDIT 201
#define IDC_COMMAND_LIST 202
#define IDC_COMMAND_SEND 203

// Strings
#define IDS_APP_NAME 0
#define IDS_BUTTON_COPY 10
#define IDS_SELECTING_FILES 38
#define IDS_READING_DIRECTORY 47

#endif
