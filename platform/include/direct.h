/* direct.h: Directory and drive calls of the C runtime (_mkdir, _chdir, _getcwd, _getdrive, ...).
 * Everything is declared in qxwin/crt.h, which windows.h also includes. */
#ifndef QX_DIRECT_H
#define QX_DIRECT_H
#include "qxwin/crt.h"
#endif
