/* windows.h: the Win32 interface of the suite's platform layer.
 * Declarations are written from what the suite's programs use; each area has
 * its own header under qxwin/. */
#ifndef QX_WINDOWS_H
#define QX_WINDOWS_H

#include "qxwin/base.h"
#include "qxwin/kernel.h"

#if __has_include("qxwin/process.h")
#include "qxwin/process.h"
#endif
#if __has_include("qxwin/user.h")
#include "qxwin/user.h"
#endif
#if __has_include("qxwin/files.h")
#include "qxwin/files.h"
#endif
#if __has_include("qxwin/devices.h")
#include "qxwin/devices.h"
#endif
#if __has_include("qxwin/shell.h")
#include "qxwin/shell.h"
#endif
#if __has_include("qxwin/mmsystem.h")
#include "qxwin/mmsystem.h"
#endif
#if __has_include("qxwin/memory.h")
#include "qxwin/memory.h"
#endif
#if __has_include("qxwin/security.h")
#include "qxwin/security.h"
#endif
#if __has_include("qxwin/advapi.h")
#include "qxwin/advapi.h"
#endif
#if __has_include("qxwin/gdi.h")
#include "qxwin/gdi.h"
#endif
#if __has_include("qxwin/controls.h")
#include "qxwin/controls.h"
#endif
#if __has_include("qxwin/print.h")
#include "qxwin/print.h"
#endif
#if __has_include("qxwin/help.h")
#include "qxwin/help.h"
#endif

#endif
