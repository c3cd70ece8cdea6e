/* share.h: Share modes of _sopen and _fsopen (SH_DENYRW, SH_DENYWR, SH_DENYRD, SH_DENYNO).
 * Everything is declared in qxwin/crt.h, which windows.h also includes. */
#ifndef QX_SHARE_H
#define QX_SHARE_H
#include "qxwin/crt.h"
#endif
