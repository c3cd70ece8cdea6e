/* portwarden, the internet super-server: its window messages, event ids and
 * the routines shared between the service frame and the launcher. */
#ifndef QX_SERVERS_PORTWARDEN_H
#define QX_SERVERS_PORTWARDEN_H

#include <windows.h>
#include <qxhandover.h>
#include <winsock.h>

#include "control.h"
#include "table.h"

#define PORTWARDEN_SERVICE "Q&Xportwarden"
#define PORTWARDEN_EVENT_SOURCE "QXportwarden32"
#define PORTWARDEN_CONTROL_EVENT "PortwardenControl"
#define SERVICE_CONTROL_CONFIGURE 128

#define WM_PORTWARDEN_START 0x7000
#define WM_PORTWARDEN_OPEN (WM_USER + 1) /* the Control thread asks the info window to open listeners */
#define WM_LISTEN_EVENT 0x7FFF
#define WM_DAEMON_SOCKET_TAKEN 0x7FFC
#define WM_DAEMON_EXITED 0x7FFE

#define HANDOVER_TIMEOUT_MS 30000
/* Timer ids beside the hand-over timers, whose ids are socket numbers (below 0x10000). */
#define BIND_RETRY_TIMER 0x10001
#define DAEMON_END_TIMER 0x10002
#define LISTEN_BACKLOG_MAX 6

enum PortwardenEvent {
  EV_SHUTDOWN = 100,
  EV_SOCKET_FAILURE = 101,
  EV_BIND_RETRY_FAILED = 102,
  EV_NETWORK_ERROR = 103,
  EV_BIND_FAILURE = 104,
  EV_OPENED = 105,
  EV_CONNECT_TCP = 106,
  EV_CONNECT_UDP = 107,
  EV_ACTIVATE_ERROR = 108,
  EV_INVALID_SLOT = 110,
  EV_NO_SESSIONS = 111,
  EV_RESTART_LISTEN = 112,
};

extern DWORD g_OpenMask;
extern HWND g_InfoWindow;

void ReportPortwardenEvent(WORD id, const char *format, ...);
const char *TimeStamp(void);

int ListenBacklog(LONG maximum);
/* "%s %d.%d.%d.%d. %s" */
void FormatDaemonCommandLine(char *out, size_t size, const SERVICE_SLOT *slot, SOCKET handed, DWORD serverPid,
                             HWND window, int index);
void OpenListeners(HWND window, BOOL quiet);
void LaunchDaemon(HWND window, BOOL quiet);
/* WM_DAEMON_EXITED's bookkeeping; TRUE when a session of the slot ended. */
BOOL SessionEnded(int slot, HWND window);
/* A daemon's WM_DAEMON_EXITED: the session ends, and the report is matched
 * with the daemon's own end so that no session ends twice. */
void DaemonReported(int slot, HWND window);
/* Daemons are watched through their process handles: the handles to wait on
 * (at most `most`), the number watched, the check after a wait, and the timer
 * that ends the session of a daemon that ended without reporting. */
size_t DaemonWaitHandles(HANDLE *handles, size_t most);
size_t DaemonsWatched(void);
void CheckDaemonEnds(HWND window);
void DaemonEndTimer(HWND window);
/* The timer that binds again a port the slot's last daemon held. */
void BindRetryTimer(HWND window);
void CloseListener(int slot);
/* CloseListener for an open listener, which is then marked closed (flag, mask, socket). */
void ShutListener(int slot);
void CloseAllListeners(void);
void ClearTable(void);
/* The super-server's copy of a handed socket: closed on WM_DAEMON_SOCKET_TAKEN or the timer. */
void HandoverTaken(HWND window, SOCKET handed, BOOL timedOut);
UINT HandoverTimeoutMs(void);

/* The event source, open exactly while logging is on. */
void OpenEventSource(void);
void CloseEventSource(void);
/* Where the table was read from; empty while the default rows are in use. */
extern std::string g_TablePath;
/* The Control dialog's requests (control.cpp), answered on the info window's thread. */
LRESULT AnswerControlRequest(HWND window, CONTROL_REQUEST *request);
void SetControlDialog(HWND dialog);

#endif
