/* io.h: Low-level file calls of the C runtime (_open, _read, _sopen, _access, ...).
 * Everything is declared in qxwin/crt.h, which windows.h also includes. */
#ifndef QX_IO_H
#define QX_IO_H
#include "qxwin/crt.h"
#endif
