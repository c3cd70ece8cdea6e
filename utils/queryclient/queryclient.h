/* What the one-window query clients (finger, LPD queue) share: the recent-value
 * lists in QXAPPS.INI, the host lookup, a connect and a reply read that keep
 * the window served while they wait, the rewriting of reply bytes for the text
 * window, and the words for a reply that ended in an error. */
#ifndef QX_UTILS_QUERYCLIENT_H
#define QX_UTILS_QUERYCLIENT_H

#include <windows.h>
#include <winsock.h>

#include <string>

/* Moves value to the front of the list section/keyPattern ("FILE_%d"): each
 * slot 0..8 takes the value carried from the one before, up to the first empty
 * slot or the slot that held value (compared without regard to case); the
 * ninth slot's old value drops off when the list was full. */
void RecentListAdd(LPCSTR iniFile, LPCSTR section, LPCSTR keyPattern, LPCSTR value);
/* Fills a combo box with slots 0..9 up to the first empty one and selects the
 * first; returns how many were added. */
int RecentListFill(HWND combo, LPCSTR iniFile, LPCSTR section, LPCSTR keyPattern);

/* A dotted address, else the first address the resolver gives; FALSE when none. */
BOOL QueryResolveHost(LPCSTR host, struct in_addr *address);

#define QUERY_CONNECT_MS 20000u /* a host that neither accepts nor refuses this long is given up */

/* Connects the socket (left non-blocking) to address:port while dispatching
 * window messages. 0 when connected, SOCK_PUMP_QUIT when WM_QUIT came (posted
 * again), else the Winsock error (WSAETIMEDOUT after timeoutMs). */
int QueryConnect(SOCKET s, struct in_addr address, unsigned short port, DWORD timeoutMs);

/* How a client turns reply bytes into text-window bytes. */
typedef enum QUERY_REPLY_STYLE {
  QUERY_REPLY_LPD,    /* LF -> CR LF; 0x88 0x89 0x8A 0x8C lose the top bit; 0x8D -> CR LF */
  QUERY_REPLY_FINGER, /* LF kept;     0x88 0x89 0x8A 0x8C lose the top bit; 0x8D -> LF */
} QUERY_REPLY_STYLE;

/* The printable form of count reply bytes. NUL bytes are dropped: they would
 * end the string the text window is given and hide the rest of the piece. */
std::string QueryRewriteReply(QUERY_REPLY_STYLE style, const char *data, int count);

/* Reads the reply until the server closes, printing it piece by piece (at most
 * pieceSize bytes received at a time) while the window stays served. Returns
 * 0 at the server's end, SOCK_PUMP_QUIT when WM_QUIT ended it, else the
 * Winsock error that ended it (WSAETIMEDOUT: the server stayed silent). */
int QueryReadReply(SOCKET s, QUERY_REPLY_STYLE style, int pieceSize);

/* Prints, on a line of its own, that the reply ended in an error: what
 * happened, the Winsock number and what to do. */
void QueryPrintError(int error);
/* Words for a Winsock error met while connecting or reading. */
const char *QueryErrorWords(int error);

/* The Host dialogs' colouring without the 3-D look: a COLOR_BTNFACE brush for
 * the dialog, its buttons, static texts and message boxes (with the 3-D look
 * active, its own colours). NULL for other
 * messages (the dialog procedure then answers FALSE). */
HBRUSH QueryDialogColor(UINT message, WPARAM wParam, LPARAM lParam, HBRUSH brush);

/* ---- The main window of a query client ---- */

typedef struct QUERY_COMMAND {
  UINT id;
  void (*handler)(HWND window);
} QUERY_COMMAND;
typedef struct QUERY_CLIENT {
  const QUERY_COMMAND *commands; /* the menu */
  int commandCount;
  void (*cleanup)(void); /* at WM_DESTROY */
} QUERY_CLIENT;

/* The main window's own part, after the text window's: WM_DESTROY cleans up
 * and quits, WM_CLOSE destroys the window, WM_SYSCOLORCHANGE goes to the 3-D
 * look when it is active, WM_COMMAND runs the menu table; the rest goes to
 * DefWindowProc. */
LRESULT QueryClientWindowProc(const QUERY_CLIENT &client, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/* Winsock 1.1; FALSE after a message box saying why nothing can be asked. */
BOOL QueryStartWinsock(LPCSTR caption);
/* A message box: the program's own text, then what happened and what to do. */
void QueryShowError(LPCSTR caption, const std::string &text, const std::string &detail);

#endif
