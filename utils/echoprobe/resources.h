// Identifiers of echoprobe's resources.
#pragma once

#define IDM_PING_HOST 100
#define IDM_EXIT 50
#define IDM_PING_DELAY 102
#define IDM_DATA_SIZE 103
#define IDM_HELP_INDEX 107
#define IDM_HELP_OPTIONS 108
#define IDM_HELP_USING 109
#define IDM_ABOUT 110

#define IDC_VALUE 101 /* the host combo box of "host", the number of "DELAY" and "SIZE" */
