/* The r-command connection the remote copy and remote command programs share:
 * the exec service (TCP 512, user and password) and the shell service (TCP
 * 514, local and remote user), both reached from a reserved local port with a
 * second, reserved port for the command's error stream.
 *
 * The command's two output streams are read together: what arrives on the
 * error stream is kept while standard output is read, so a command that
 * fills its error stream before it closes standard output cannot stall the
 * run; the kept lines are given after the last line of standard output.
 * Every wait keeps the program's windows served. One connection per
 * process, so the state is module-level. */
#ifndef QX_UTILS_RCMD_H
#define QX_UTILS_RCMD_H

#include <windows.h>
#include <winsock.h>

#include <string>

#define RCMD_EXEC_PORT 512
#define RCMD_SHELL_PORT 514
#define RCMD_FIELD_LEN 80 /* host, user, password */
#define RCMD_NAME_LEN 255 /* command, file names */
#define RCMD_LINE_LEN 1024

/* The run's options from the command line ("/l=", "/u=", "/p=" or "-l=",
 * any case; the value starts at the fourth character). */
typedef struct RCMD_OPTIONS {
  char remoteUser[RCMD_FIELD_LEN];
  char localUser[RCMD_FIELD_LEN];
  char password[RCMD_FIELD_LEN];
} RCMD_OPTIONS;

/* Splits the command line at blanks and reads its options; FALSE when an
 * option letter is not one of l, u and (with allowPassword) p. */
BOOL RcmdParseOptions(LPCSTR commandLine, BOOL allowPassword, RCMD_OPTIONS *options);
/* The user on this side: the remote-user option when given, else
 * "USERNAME", else "guest". */
std::string RcmdLocalSideUser(const RCMD_OPTIONS &options);

/* The lowest and highest port a service accepts from a client. */
#define RCMD_RESERVED_LOW 512
#define RCMD_RESERVED_HIGH 1023
/* The first control port tried: 600..1022 from the clock, so that its pair
 * (port + 1) is reserved too. */
int RcmdFirstPort(long now);

/* Resolves the host, binds the control and error-stream sockets to a free
 * pair of reserved ports and connects to the service. The control socket
 * (non-blocking) or INVALID_SOCKET after a message box captioned caption. */
SOCKET RcmdConnect(HWND owner, LPCSTR host, unsigned short port, LPCSTR caption);
/* Sends the error-stream port, waits for the service to connect back, sends
 * the three start-up strings and reads the answer. password null: the shell
 * service (local-side user, user, command); else the exec service (user,
 * password, command). TRUE when the service runs the command; FALSE after a
 * message box (captioned caption) saying what the service answered. */
BOOL RcmdStart(HWND owner, LPCSTR caption, LPCSTR localUser, LPCSTR user, LPCSTR command, LPCSTR password);

/* The next byte of the command's standard output, or -1 (the reason in
 * g_RcmdError: 0 the output ended, 1 WM_QUIT, else a Winsock number). */
int RcmdReadByte(void);
/* Up to count bytes of standard output, at least one; 0 at its end, -1 as
 * RcmdReadByte. */
int RcmdRead(char *buffer, int count);
/* The next output line without its CR and LF: standard output to its end,
 * then the error stream. A line longer than size - 1 bytes comes in pieces
 * of size - 1. The length, or -1 when both streams have ended. */
int RcmdReadLine(char *buffer, int size);
/* The error text of a refusal: the rest of the line on standard output. */
std::string RcmdRestOfLine(void);
/* With text: sends it and "\n" to the command's standard input (the control
 * connection); FALSE once that is closed. Without: closes both connections. */
BOOL RcmdSendInput(LPCSTR text);
/* Sends bytes on the control connection; FALSE when not all went. */
BOOL RcmdSendBytes(const char *data, int count);
/* TRUE while the control connection is open. */
BOOL RcmdConnected(void);
/* Closes both connections (any time; twice is harmless). */
void RcmdClose(void);

extern int g_RcmdError;

/* The most error-stream bytes held back while standard output is read;
 * beyond it the rest is counted and said, not kept. */
#define RCMD_HELD_ERRORS_MAX (16u << 20)

#endif

/* ---- The program frame the remote copy and command programs share ---- */

typedef struct RCMD_PROGRAM {
  LPCSTR section;    /* QXAPPS.INI section, frame class and title, caption */
  LPCSTR usage;      /* shown (caption "Usage") for an unknown option */
  BOOL exec;         /* the exec service: a password option and field */
  LPCSTR dialogName; /* "MainDialog" */
  DLGPROC dialogProc;
} RCMD_PROGRAM;

extern RCMD_OPTIONS g_RcmdOptions;
extern char g_RcmdIniFile[MAX_PATH];
extern HINSTANCE g_RcmdInstance;

/* WSAStartup, the trace log, the options (an unknown one: the usage box and
 * exit code -3), the 3-D look, QXAPPS.INI, the hidden frame and the modeless
 * dialog, then the message loop until the frame is destroyed. */
int RcmdProgramMain(HINSTANCE instance, LPSTR commandLine, const RCMD_PROGRAM &program);
/* WM_INITDIALOG's shared part: recent hosts in combo 100 (first selected),
 * field 101 = the local-side user, field 104 = the password option. */
void RcmdInitDialog(HWND dialog);
/* The dialog's shared messages: colours without the 3-D look, the icon
 * while minimised, WM_CLOSE (destroys the dialog and closes the frame).
 * TRUE with *result set when handled. */
BOOL RcmdDialogDefault(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam, INT_PTR *result);
/* Reads a dialog field into buffer; FALSE (after a box captioned with the
 * section saying missing) when it is empty. */
BOOL RcmdReadField(HWND dialog, int id, char *buffer, int size, LPCSTR missing);
/* The host just used goes to the front of the recent list. */
void RcmdRememberHost(LPCSTR host);
