/* WinHelpA: the suite's help files (a text format of their own, see
 * docs/help-files.md) shown in a help window of the layer. */
#ifndef QX_WIN_HELP_H
#define QX_WIN_HELP_H

#include "base.h"

#define HELP_CONTEXT 0x0001
#define HELP_QUIT 0x0002
#define HELP_INDEX 0x0003
#define HELP_CONTENTS 0x0003
#define HELP_HELPONHELP 0x0004
#define HELP_SETINDEX 0x0005
#define HELP_SETCONTENTS 0x0005
#define HELP_CONTEXTPOPUP 0x0008
#define HELP_FORCEFILE 0x0009
#define HELP_FINDER 0x000B
#define HELP_KEY 0x0101
#define HELP_COMMAND 0x0102
#define HELP_PARTIALKEY 0x0105

QX_EXTERN_C_BEGIN

WINBASEAPI BOOL WINAPI WinHelpA(HWND hWndMain, LPCSTR lpszHelp, UINT uCommand, ULONG_PTR dwData);

QX_EXTERN_C_END

#define WinHelp WinHelpA

#endif
