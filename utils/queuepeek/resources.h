// Identifiers of queuepeek's resources.
#pragma once

#define IDM_LPQ_HOST 100
#define IDM_EXIT 101
#define IDM_HELP_INDEX 300
#define IDM_HELP_OPTIONS 301
#define IDM_HELP_USING 302
#define IDM_ABOUT 303

#define IDC_HOST 400
#define IDC_USER 401
#define IDC_PRINTER 402
