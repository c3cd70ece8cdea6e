/* The console session: the user logged on at the machine's console and the
 * desktop they work on, for a service that must show something to that user.
 *
 * The layer has one console session, number 1: the session of the user at
 * the console (seat0's active session, else the newest live login record on
 * a console line). Its token names that user; its environment block holds
 * the user's account variables and the display variables (DISPLAY,
 * XAUTHORITY, WAYLAND_DISPLAY, XDG_RUNTIME_DIR, ...) read from the processes
 * of that session. A service starts a program on that desktop with
 * CreateProcessAsUserA(token, ..., environment block, ...). */
#ifndef QX_WIN_SESSION_H
#define QX_WIN_SESSION_H

#include "base.h"

#define WTS_NO_CONSOLE_SESSION 0xFFFFFFFFu
#ifndef ERROR_NO_TOKEN
#define ERROR_NO_TOKEN 1008L
#endif

QX_EXTERN_C_BEGIN

/* 1 while a user is logged on at the console, else WTS_NO_CONSOLE_SESSION. */
WINBASEAPI DWORD WINAPI WTSGetActiveConsoleSessionId(void);
/* A token for the session's user (close it with CloseHandle). Root, or that
 * user, only (ERROR_PRIVILEGE_NOT_HELD); ERROR_NO_TOKEN when nobody is
 * logged on in that session. */
WINBASEAPI BOOL WINAPI WTSQueryUserToken(ULONG SessionId, PHANDLE phToken);
/* The environment for a process of the token's user: HOME, USER, LOGNAME,
 * SHELL and PATH, and when that user is at the console, the display
 * variables of the console session. bInherit starts from the caller's own
 * environment. A block of "NAME=value" strings ending with an empty one;
 * free it with DestroyEnvironmentBlock. */
WINBASEAPI BOOL WINAPI CreateEnvironmentBlock(LPVOID *lpEnvironment, HANDLE hToken, BOOL bInherit);
WINBASEAPI BOOL WINAPI DestroyEnvironmentBlock(LPVOID lpEnvironment);

QX_EXTERN_C_END

#endif
