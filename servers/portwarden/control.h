/* What portwarden's Control and Configure dialogs ask of the service. The
 * dialogs live in the module "PWCONTROL.DLL", loaded on the first control 128,
 * so the service itself never loads the drawing half of the layer. They run
 * on a thread of their own and never touch the service table: every change is
 * a CONTROL_REQUEST sent (SendMessage) to the info window, whose thread owns
 * the table, the listeners and the event source, and every answer carries a
 * copy of the table as it then stands. */
#ifndef QX_SERVERS_PORTWARDEN_CONTROL_H
#define QX_SERVERS_PORTWARDEN_CONTROL_H

#include <windows.h>

#include <string>

#include "table.h"

#define WM_PORTWARDEN_CONTROL (WM_USER + 2) /* lParam: CONTROL_REQUEST *; answered on the info window's thread */

#define PORTWARDEN_CONTROL_MODULE "PWCONTROL.DLL"
#define PORTWARDEN_CONTROL_ENTRY "PortwardenControlDialog"
/* Runs the modal dialog "Control" for the service whose info window is given;
 * returns when it closes. */
typedef INT_PTR(WINAPI *PORTWARDEN_CONTROL_PROC)(HWND infoWindow);

/* Control dialog ids */
#define IDC_SERVICES 101
#define IDC_CLOSE 102
#define IDC_ENABLE 103
#define IDC_DISABLE 104
#define IDC_CONFIGURE 105
#define IDC_ADD 106
#define IDC_DELETE 107
#define IDC_LOGGING 108
#define IDC_SAVE 109
#define IDC_RELOAD 110
#define IDC_DEFAULTS 111
/* Configure dialog ids */
#define IDC_PROGRAM 501
#define IDC_PORT 502
#define IDC_TCP 507
#define IDC_UDP 508
#define IDC_MAXIMUM 511
#define IDC_NAME 512
#define IDC_PARAMETERS 513
#define IDC_MAXIMUM_LABEL 600
#define CONFIGURE_NEW_SLOT 106 /* the Configure dialog's parameter for Add */

enum CONTROL_ACTION {
  CONTROL_VIEW,     /* nothing changes: only the copy of the table */
  CONTROL_DIALOG,   /* the Control dialog opened (dialog) or closed (nullptr) */
  CONTROL_ENABLE,   /* enable the slot and open listeners; done = it is still enabled */
  CONTROL_DISABLE,  /* close its listener and disable it */
  CONTROL_STORE,    /* the Configure dialog's OK: `edit` into the slot (adding: only into an unused slot) */
  CONTROL_DELETE,   /* close its listener and free the slot */
  CONTROL_LOGGING,  /* switch connection logging */
  CONTROL_SAVE,     /* write the table file; text = its path */
  CONTROL_RELOAD,   /* read the table file again; when not done, text = why */
  CONTROL_DEFAULTS, /* the 12 default rows */
};

typedef struct CONTROL_REQUEST {
  CONTROL_ACTION action;
  int slot;
  BOOL adding;       /* CONTROL_STORE for Add */
  HWND dialog;       /* CONTROL_DIALOG */
  SERVICE_SLOT edit; /* CONTROL_STORE: name, program, parameters, port, maximum, SLOT_DATAGRAM */
  /* Filled by the info window: */
  BOOL answered; /* false when the service is gone (its window no longer answers) */
  BOOL done;
  std::string text;
  SERVICE_SLOT view[MAX_SERVICES];
  BYTE logging;
} CONTROL_REQUEST;

#endif
