/* The daemon side of the super-server hand-over, shared by every daemon that
 * portwarden starts: taking over the handed socket, the hidden window, the
 * message loop and the report back; the datagram daemons' window procedure;
 * and the account logged on at the console. */
#ifndef QX_SERVERS_QXDAEMON_H
#define QX_SERVERS_QXDAEMON_H

#include <windows.h>
#include <winsock.h>

/* Messages between portwarden and its daemons. */
#define WM_DAEMON_SOCKET_TAKEN 0x7FFC /* to portwarden: wParam = socket as handed */
#define WM_DAEMON_EXITED 0x7FFE       /* to portwarden: wParam = slot index */
#define WM_DAEMON_START 0x7FFE        /* to the daemon's own window, once */
#define WM_DAEMON_READ 0x7FFF         /* datagram daemons: first read, then FD_READ */

#define DAEMON_MAX_ARGS 32   /* argument words kept after the hand-over word */
#define DAEMON_IDLE_MS 15000 /* datagram daemons end after this much quiet */
#define DAEMON_IDLE_TIMER 1
#define DAEMON_CMD_QUIT 50 /* WM_COMMAND that ends a datagram daemon */

/* What makes one daemon differ from the others at start-up. */
typedef struct DAEMON_INFO {
  const char *className; /* window class of its hidden window */
  WNDPROC windowProc;    /* its window procedure */
  BOOL datagram;         /* also posts WM_DAEMON_READ before the loop */
  BOOL startWithSocket;  /* WM_DAEMON_START carries the socket in wParam */
  /* Offered each message of the loop first (the talk daemons' modeless
   * dialogs); TRUE when it took the message. NULL: none. */
  BOOL (*filterMessage)(MSG *message);
} DAEMON_INFO;

/* Per-process state of a daemon. */
extern SOCKET g_DaemonSocket;   /* our duplicate of the handed socket; INVALID_SOCKET when none */
extern HWND g_PortwardenWindow; /* the super-server's info window; (HWND)-1 when unknown */
extern int g_DaemonSlot;        /* the service slot we report with WM_DAEMON_EXITED */
extern int g_DaemonArgCount;    /* argument words after the hand-over word */
extern char *g_DaemonArgs[DAEMON_MAX_ARGS];
extern HWND g_DaemonWindow;
extern HINSTANCE g_DaemonInstance;

/* The four numbers of the hand-over word "socket.pid.window.slot." */
typedef struct HANDOVER_WORD {
  long socket;
  long serverPid;
  long window;
  long slot;
} HANDOVER_WORD;

/* Parses the first blank-delimited word of a command line as exactly four
 * decimal numbers each followed by a dot. Returns 0, or 1-4 for the first
 * field whose dot is missing (or whose number is malformed). */
int ParseHandoverWord(const char *commandLine, HANDOVER_WORD *word);

/* Splits the words after the hand-over word into g_DaemonArgs (a private copy). */
void DaemonSplitArguments(const char *commandLine);

/* Takes the handed socket over; 0 on success, 1-4 for a bad hand-over word. */
int DaemonTakeSocket(const char *commandLine, SOCKET *socketOut, HWND *serverWindow, int *slot);
HWND DaemonCreateWindow(const DAEMON_INFO *info, HINSTANCE instance, HINSTANCE previous);
int DaemonWinMain(const DAEMON_INFO *info, HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

/* Ends a reply on a connection: our side is shut, then what the peer still
 * sends is read and dropped for a moment (at most 64 KiB or 1 s of quiet),
 * so closing does not reset the connection before the peer has read the
 * reply (as the rest of an overlong request would). */
void DaemonFinishReply(SOCKET s);

/* The account logged on at the console; 1 when found (name copied, at most size bytes). */
BYTE FindLoggedOnAccount(char *buffer, int size);

/* Connection daemons (gopher, LPD): the routine that serves the one
 * connection; the window procedure then ends the reply, closes the socket
 * and ends the daemon. */
typedef void (*CONNECTION_SERVE)(SOCKET s);
extern CONNECTION_SERVE g_ConnectionServe;
LRESULT CALLBACK ConnectionWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

/* Datagram daemons: the routine that answers one datagram (FALSE ends the daemon). */
typedef BOOL (*DATAGRAM_ANSWER)(HWND window);
extern DATAGRAM_ANSWER g_DatagramAnswer;
LRESULT CALLBACK DatagramWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/* Receives one datagram on the daemon's socket and re-arms FD_READ; returns the byte count or -1. */
int DatagramReceive(HWND window, char *buffer, int size, struct sockaddr_in *from);
/* Idle time of the datagram daemons (QX_TEST_DAEMON_IDLE_MS shortens it for tests). */
UINT DaemonIdleMs(void);

#endif
