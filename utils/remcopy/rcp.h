/* The copy exchange with the remote rcp, over the connection of rcmd.h. */
#ifndef QX_UTILS_RCP_H
#define QX_UTILS_RCP_H

#include <windows.h>

#include <cstdint>

/* Progress of a copy, posted to the dialog: wParam the percentage done, or
 * (WPARAM)-1 when the copy is over. */
#define WM_RCP_PROGRESS 0x7000

/* The largest file the copy accepts from the remote side (1 TiB). */
#define RCP_SIZE_MAX (1ull << 40)

typedef struct RCP_FILE_LINE {
  unsigned mode;
  std::uint64_t size;
  const char *name; /* points into the parsed line */
} RCP_FILE_LINE;

/* "C<octal mode> <size> <name>": FALSE for anything else (another letter,
 * missing or signed numbers, a size past RCP_SIZE_MAX). */
BOOL RcpParseFileLine(const char *line, RCP_FILE_LINE *parsed);

/* Takes one file from the remote "rcp -f" into the open local file. TRUE
 * when all of it came and the remote side confirmed it; FALSE after a
 * message box. */
BOOL RcpSink(HWND dialog, HANDLE file, LPCSTR localName);
/* Sends the open local file to the remote "rcp -t" as remoteName. */
BOOL RcpSource(HWND dialog, LPCSTR remoteName, HANDLE file, LPCSTR localName);

#endif
