// Identifiers of pathprobe's resources.
#pragma once

#define IDM_TRACEROUTE 100
#define IDM_OPTIONS 101
#define IDM_HELP 102
#define IDM_ABOUT 103
#define IDM_EXIT 104
#define IDM_TRADITIONAL 200
#define IDM_GRAPHICAL 201

#define IDC_DESTINATION 300
#define IDC_HOP_LIST 301
#define IDC_TRADITIONAL_VIEW 302 /* the traditional view's dialog, a child of the main window */

#define IDC_LOOKUP_NAMES 201
#define IDC_MAX_HOPS 202
#define IDC_MAX_HOPS_SCROLL 203
#define IDC_DATA_SIZE 204
#define IDC_DATA_SIZE_SCROLL 205
#define IDC_PORT 206
#define IDC_NUM_PROBES 207
#define IDC_NUM_PROBES_SCROLL 208
#define IDC_SAVE_CONFIGURATION 209
