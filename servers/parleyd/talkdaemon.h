/* The talk daemons' program: one design for both protocols. parleyd and
 * oldparleyd each give their flavour and their REQUEST dialog resource. */
#ifndef QX_SERVERS_TALKDAEMON_H
#define QX_SERVERS_TALKDAEMON_H

#include <windows.h>

#include "talkproto.h"

#define IDC_REQUEST_CALLER 100
#define IDC_REQUEST_TALK 101
#define IDC_REQUEST_CANCEL 102

typedef struct TALK_FLAVOUR {
  const TALK_LAYOUT *layout;
  const char *className;      /* "parleyd", "oldparleyd" */
  const char *notFoundText;   /* the client program is not there */
  const char *requestCaption; /* of the REQUEST dialog */
} TALK_FLAVOUR;

/* The whole daemon: hand-over, window, loop, end. */
int ParleyWinMain(const TALK_FLAVOUR *flavour, HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

#endif
