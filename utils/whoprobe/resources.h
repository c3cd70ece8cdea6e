// Identifiers of whoprobe's resources.
#pragma once

#define IDM_FINGER_HOST 100
#define IDM_EXIT 101
#define IDM_LONG_OUTPUT 200
#define IDM_HELP_INDEX 300
#define IDM_HELP_OPTIONS 301
#define IDM_HELP_USING 302
#define IDM_ABOUT 303

#define IDC_HOST 400
#define IDC_USER 401

#define IDS_UNKNOWN_HOST 0
#define IDS_CAPTION 1
#define IDS_SOCKET_ERROR 2
#define IDS_CONNECT_ERROR 3
