/* SHELL32's ShellExecuteA: opening a file with the program associated with
 * it (WIN.INI [Extensions], then the desktop's own association), or starting
 * a program. See docs/platform-shell.md. */
#ifndef QX_WIN_SHELL_H
#define QX_WIN_SHELL_H

#include "base.h"

/* Results of ShellExecuteA at or below 32 (success is above 32). */
#define SE_ERR_FNF 2
#define SE_ERR_PNF 3
#define SE_ERR_ACCESSDENIED 5
#define SE_ERR_OOM 8
#define SE_ERR_SHARE 26
#define SE_ERR_ASSOCINCOMPLETE 27
#define SE_ERR_NOASSOC 31

QX_EXTERN_C_BEGIN

WINBASEAPI HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters,
                                          LPCSTR lpDirectory, INT nShowCmd);

QX_EXTERN_C_END

#define ShellExecute ShellExecuteA

#endif
