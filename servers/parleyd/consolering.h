/* Ringing on the desktop of the user at the console. A talk daemon run as a
 * service has no display of its own; each REQUEST dialog is then shown by a
 * ring helper: the daemon's own program started with "/ring" as the console
 * user (their groups, group and user taken before it runs, their session's
 * display variables, no descriptor of the daemon's but one end of a socket
 * pair as its standard input and output). The helper shows the dialog, on
 * Talk starts the talk client there, as that user, and answers one byte:
 * 'T' when the client runs, 'C' for Cancel or a client that could not be
 * started, 'N' when it could not open the user's display (the daemon then
 * shows that dialog itself). The daemon keeps the invitation and closes the helper when the
 * invitation goes. */
#ifndef QX_SERVERS_CONSOLERING_H
#define QX_SERVERS_CONSOLERING_H

#include <windows.h>
#include <winsock.h>

#include "requestdialog.h"

/* To the daemon's window: WSAAsyncSelect events of a helper's channel. */
#define WM_RING_EVENT (WM_USER + 3)

/* Whether the daemon shows its dialogs itself: it has a display of its own
 * (QX_DISPLAY, DISPLAY or WAYLAND_DISPLAY is set). */
bool DaemonHasOwnDisplay(void);

/* Starts a helper for the caller's invitation on the console user's
 * desktop; false (said once in the event log) when there is none to show it
 * on, and the daemon then shows the dialog itself. */
bool StartConsoleRing(const TALK_FLAVOUR *flavour, const REQUEST_CALLER &caller);

/* What a helper answered. */
enum RING_ANSWER {
  RING_TALK,     /* Talk pressed, the client runs on the desktop */
  RING_CANCEL,   /* Cancel, the close box, no client started, or no answer */
  RING_NO_SCREEN /* the console user's display could not be opened */
};

/* A channel event: the helper's answer (its end without one is Cancel) goes
 * to answered. */
void ConsoleRingEvent(SOCKET channel, void (*answered)(unsigned serial, RING_ANSWER answer));

/* Says once a run, in the event log, why dialogs are shown in the daemon. */
void TellDialogsHereOnce(const TALK_FLAVOUR *flavour, const char *why);

/* Closes the helper of an invitation (deleted, expired), or every helper. */
void StopConsoleRing(unsigned serial);
void StopAllConsoleRings(void);

/* The helper: "/ring CALLER A.B.C.D CALLED" with the channel as standard input. */
bool IsRingCommandLine(const char *commandLine);
int RingWinMain(const TALK_FLAVOUR *flavour, HINSTANCE instance, LPSTR commandLine);

#endif
