/* Handing a socket to a child process: the source offers it before it starts
 * the child, the child takes it with DuplicateHandle from the source. Kept
 * apart from <windows.h>: only the programs that hand sockets over need it. */
#ifndef QX_HANDOVER_H
#define QX_HANDOVER_H

#include <windows.h>

QX_EXTERN_C_BEGIN

/* Offers a socket to the next process this thread starts with CreateProcessA:
 * that child alone may take it, once, with DuplicateHandle from this process,
 * while this process still holds that socket. No other socket of a process
 * can be taken by another process. FALSE (ERROR_INVALID_HANDLE) when the
 * handle is not a socket. */
WINBASEAPI BOOL WINAPI QxOfferSocketToNextChild(UINT_PTR socket);

QX_EXTERN_C_END

#endif
