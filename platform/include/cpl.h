/* Control-panel applets: the messages a control panel sends to an applet
 * library's CPlApplet export, and the records the applet fills in. */
#ifndef QX_CPL_H
#define QX_CPL_H

#include <windows.h>

#define CPL_DYNAMIC_RES 0
#define CPL_INIT 1
#define CPL_GETCOUNT 2
#define CPL_INQUIRE 3
#define CPL_SELECT 4
#define CPL_DBLCLK 5
#define CPL_STOP 6
#define CPL_EXIT 7
#define CPL_NEWINQUIRE 8

typedef LONG(APIENTRY *APPLET_PROC)(HWND hwndCpl, UINT msg, LPARAM lParam1, LPARAM lParam2);

typedef struct tagCPLINFO {
  int idIcon;
  int idName;
  int idInfo;
  LONG_PTR lData;
} CPLINFO, *LPCPLINFO;

typedef struct tagNEWCPLINFOA {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwHelpContext;
  LONG_PTR lData;
  HICON hIcon;
  CHAR szName[32];
  CHAR szInfo[64];
  CHAR szHelpFile[128];
} NEWCPLINFOA, *LPNEWCPLINFOA;
typedef NEWCPLINFOA NEWCPLINFO;
typedef LPNEWCPLINFOA LPNEWCPLINFO;

#endif
