/* The common library compiled into each program of the suite: socket-call
 * wrappers with the "qxdebug.log" trace, message pumping and sending while
 * pumping, the busy-wait delay, the optional 3-D dialog look, the About box
 * fed from the version resource, and window placement in "QXAPPS.INI".
 * Every program links its own copy, so each has its own trace state. */
#ifndef QX_COMMON_QXCOMMON_H
#define QX_COMMON_QXCOMMON_H

#include <windows.h>
#include <winsock.h>

#include <cstdio>

/* ---- Socket wrappers and debug trace log ---- */

extern FILE *g_DebugLog;    /* the open log; null while tracing is off */
extern int g_TraceOn;       /* 1 once the log is open; every wrapper tests it */
extern int g_RepeatCount;   /* occurrences of the error entry being collapsed */
extern int g_LastRecvError; /* code of the last receive error entry */
extern int g_LastSendError; /* code of the last send error entry */

SOCKET WsAccept(SOCKET s, struct sockaddr *addr, int *addrlen);
int WsBind(SOCKET s, const struct sockaddr *addr, int namelen);
int WsCloseSocket(SOCKET s);
int WsConnect(SOCKET s, const struct sockaddr *addr, int namelen);
int WsIoctlSocket(SOCKET s, long cmd, u_long *argp);
SOCKET WsSocket(int af, int type, int protocol);
int WsRecv(SOCKET s, char *buf, int len, int flags);
int WsRecvFrom(SOCKET s, char *buf, int len, int flags, struct sockaddr *from, int *fromlen);
int WsSend(SOCKET s, const char *buf, int len, int flags);
int WsSendTo(SOCKET s, const char *buf, int len, int flags, const struct sockaddr *to, int tolen);
int WsSetSockOpt(SOCKET s, int level, int optname, const char *optval, int optlen);
int WsShutdown(SOCKET s, int how);

/* The loggers; called by the wrappers after the call, result first. */
void TraceAccept(SOCKET result, SOCKET s, const struct sockaddr *addr, const int *addrlen);
void TraceBind(int result, SOCKET s, const struct sockaddr *addr, int namelen);
void TraceClose(int result, SOCKET s);
void TraceConnect(int result, SOCKET s, const struct sockaddr *addr, int namelen);
void TraceIoctl(int result, SOCKET s, long cmd, const u_long *argp);
void TraceSocket(SOCKET result, int af, int type, int protocol);
void TraceRecv(int result, SOCKET s, const char *buf, int len, int flags, const struct sockaddr *from,
               const int *fromlen);
void TraceSend(int result, SOCKET s, const char *buf, int len, int flags, const struct sockaddr *to, int tolen);
void TraceSetSockOpt(int result, SOCKET s, int level, int optname, const char *optval, int optlen);
void TraceShutdown(int result, SOCKET s, int how);

/* Cuts "/debug" out of the writable command line and opens the log. */
void DebugLogOpen(HINSTANCE instance, LPSTR commandLine);
/* Daemons: the local and peer address of the socket they were handed. */
void TraceDaemonStartup(SOCKET s);
/* "%u.%u.%u.%u,%u" of a sockaddr_in, in a buffer valid until the next call. */
const char *TraceAddrText(const struct sockaddr_in *addr);
/* The 79-character dump lines of a buffer, 16 bytes a line. */
void TraceHexDump(const char *data, int length);

/* ---- Message pumping, sending while pumping, busy-wait delay ---- */

extern int g_SockError;  /* last failed send of SendAllPumping (10035: would block) */
extern int g_DelayLoops; /* clock reads per delay unit; 0 until DelayCalibrate */

int PumpMessages(void);
int SendAllPumping(SOCKET s, const char *data, int count);
int DelayCalibrate(void);
void DelayUnits(int n);

/* ---- Receiving and sending while pumping, with an idle limit ---- */

#define SOCK_PUMP_QUIT (-6)      /* SockRecvPumping: WM_QUIT arrived (posted again) */
#define SOCK_PUMP_IDLE_MS 60000u /* a peer silent this long ends the wait (WSAETIMEDOUT) */

/* Receives once: the byte count (0 at the peer's end), SOCKET_ERROR with
 * WSAGetLastError (WSAETIMEDOUT after the idle time), or SOCK_PUMP_QUIT.
 * Window messages are dispatched while it waits. */
int SockRecvPumping(SOCKET s, char *buffer, int size);
/* The same with the caller's own limit on the wait, in milliseconds. */
int SockRecvPumpingFor(SOCKET s, char *buffer, int size, DWORD waitMs);
/* Sends the whole buffer while dispatching messages; returns the bytes sent,
 * fewer on an error, WM_QUIT or a peer that took nothing for the idle time. */
int SockSendAll(SOCKET s, const char *data, int length);
/* The idle time: SOCK_PUMP_IDLE_MS unless the program set another. */
DWORD SockPumpIdleMs(void);
void SockPumpSetIdleMs(DWORD ms);

/* ---- 3-D dialog look ---- */

typedef BOOL(WINAPI *CTL3D_INSTANCE_PROC)(HINSTANCE);
typedef WORD(WINAPI *CTL3D_GETVER_PROC)(void);
typedef BOOL(WINAPI *CTL3D_VOID_PROC)(void);
typedef BOOL(WINAPI *CTL3D_SUBCLASSDLG_PROC)(HWND, WORD);
typedef BOOL(WINAPI *CTL3D_SUBCLASSCTL_PROC)(HWND);
typedef HBRUSH(WINAPI *CTL3D_CTLCOLOREX_PROC)(UINT, WPARAM, LPARAM);

extern int g_Ctl3dActive; /* nonzero while registered and auto-subclassing */
extern HMODULE g_Ctl3dModule;
extern CTL3D_INSTANCE_PROC Ctl3dRegister;
extern CTL3D_INSTANCE_PROC Ctl3dUnregister;
extern CTL3D_INSTANCE_PROC Ctl3dAutoSubclass;
extern CTL3D_SUBCLASSDLG_PROC Ctl3dSubclassDlg;
extern CTL3D_GETVER_PROC Ctl3dGetVer;
extern CTL3D_VOID_PROC Ctl3dColorChange;
extern CTL3D_VOID_PROC Ctl3dEnabled;
extern CTL3D_SUBCLASSCTL_PROC Ctl3dSubclassCtl;
extern CTL3D_CTLCOLOREX_PROC Ctl3dCtlColorEx;

/* Variants some programs use: only the five entry points they call
 * (register, unregister, auto-subclass, colour change, control colour), or
 * keep the library loaded when auto-subclassing fails. */
#define CTL3D_LOAD_FIVE 0x0001
#define CTL3D_KEEP_LOADED 0x0002

int Ctl3dLoad(HINSTANCE instance);
int Ctl3dLoadEx(HINSTANCE instance, UINT variant);
/* At exit: unregister when active and free the library. */
void Ctl3dUnload(HINSTANCE instance);

/* ---- Version resource and About box ---- */

void *VerLoadInfo(HINSTANCE instance); /* free with VerFreeInfo */
void VerFreeInfo(void *block);
LPCSTR VerQueryString(const void *block, LPCSTR path);
void VerGetFileVersion(const void *block, DWORD version[2]);

#define IDC_ABOUT_LOGO 1001
#define IDC_ABOUT_VERSION 1002
#define IDC_ABOUT_NETWORK 1003
#define IDC_ABOUT_COMPILED 1004

/* The program's build date in the About box, "Jul  5 1995" form; each program
 * sets its own before showing the box (default: this build's __DATE__). */
extern char g_AboutBuildDate[16];
/* The texts of controls 1002 and 1004 from a version block. */
void AboutVersionTexts(const void *block, char *versionText, int versionSize, char *compiledText, int compiledSize);
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

/* ---- Window placement and recent hosts in QXAPPS.INI ---- */

#define QX_APPS_INI "QXAPPS.INI"
#define RECENT_HOST_LEN 128

/* Writes the program's extra placement key ("History", "Location"). */
typedef void (*PLACEMENT_EXTRA_PROC)(LPCSTR iniFile, LPCSTR section);

extern char g_PlacementIniFile[MAX_PATH];
extern char g_PlacementSection[64];
extern PLACEMENT_EXTRA_PROC g_PlacementExtra;

/* Finds "QXAPPS.INI" along the search path (else its bare name, which the
 * profile calls create in the Windows directory) and sets the section. */
void PlacementSetup(LPCSTR section, PLACEMENT_EXTRA_PROC extra);
/* "QXAPPS.INI" along the search path; when there is none, made empty in
 * the current directory (its bare name if even that fails). */
void FindAppsIni(char *path, int size);
/* Reads "Xl", "Yt", "Cx", "Cy"; each keeps its default when missing. */
void ReadWindowPlacement(int *x, int *y, int *cx, int *cy);
void SaveWindowPlacement(HWND window);

/* "FILE_%d" keys: hosts[0..] from FILE_0 on; returns how many were found. */
int ReadRecentHosts(LPCSTR iniFile, LPCSTR section, char (*hosts)[RECENT_HOST_LEN], int maxHosts);
void WriteRecentHosts(LPCSTR iniFile, LPCSTR section, const char (*hosts)[RECENT_HOST_LEN], int count);

#endif
