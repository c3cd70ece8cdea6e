/* winsock.h: Winsock 1.1 of the suite's platform layer. */
#ifndef QX_WINSOCK_H
#define QX_WINSOCK_H

#include "windows.h"
#if __has_include("qxwin/winsock.h")
#include "qxwin/winsock.h"
#endif

#endif
