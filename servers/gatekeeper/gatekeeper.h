/* gatekeeper: whether a peer may have what it requests, decided by the rules
 * of "GATEKEEPER.DAT". Programs link it, or load "GATEKEEPER.DLL" by name and
 * call "ValidateRequest". */
#ifndef QX_SERVERS_GATEKEEPER_H
#define QX_SERVERS_GATEKEEPER_H

#include <windows.h>
#include <winsock.h>

/* Caller kinds, as the log names them. */
#define GATEKEEPER_GOPHER 1 /* "QXburrowserve" */
#define GATEKEEPER_HTTP 2   /* "QXHttpD" */
#define GATEKEEPER_NNTP 3   /* "QXNntpD" */

#ifdef __cplusplus
extern "C" {
#endif

/* The code of the rule that decides (0: refused, no rule applies, or no
 * request). peer is the caller's sockaddr_in; request a NUL-terminated text
 * or NULL; permission (HTTP callers) a number the log shows, or NULL. */
__attribute__((visibility("default"))) LONG WINAPI ValidateRequest(DWORD kind, const struct sockaddr_in *peer,
                                                                   const char *request, const int *permission);

#ifdef __cplusplus
}
#endif

#endif
