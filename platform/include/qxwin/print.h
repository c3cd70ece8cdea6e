/* Printing: the print spooler (WINSPOOL: printers, jobs added as spool files and
 * scheduled) and the document calls of GDI32 on printer device contexts
 * (StartDoc, StartPage, EndPage, EndDoc, AbortDoc, SetAbortProc, Escape).
 * The spooler half lives in the core library, so a daemon can queue jobs
 * without loading the drawing half; the document calls are in the drawing half. */
#ifndef QX_WIN_PRINT_H
#define QX_WIN_PRINT_H

#include "base.h"

struct _devicemodeA;

/* Spooler. */
typedef struct _PRINTER_DEFAULTSA {
  LPSTR pDatatype;
  struct _devicemodeA *pDevMode;
  DWORD DesiredAccess;
} PRINTER_DEFAULTSA, *LPPRINTER_DEFAULTSA, PRINTER_DEFAULTS, *LPPRINTER_DEFAULTS;

typedef struct _ADDJOB_INFO_1A {
  LPSTR Path;
  DWORD JobId;
} ADDJOB_INFO_1A, *PADDJOB_INFO_1A, *LPADDJOB_INFO_1A, ADDJOB_INFO_1, *LPADDJOB_INFO_1;

#define PRINTER_ACCESS_ADMINISTER 0x00000004
#define PRINTER_ACCESS_USE 0x00000008
#define PRINTER_ALL_ACCESS 0x000F000C

#ifndef ERROR_INVALID_PRINTER_NAME
#define ERROR_INVALID_PRINTER_NAME 1801L
#endif
#ifndef ERROR_WRITE_FAULT
#define ERROR_WRITE_FAULT 29L
#endif
#ifndef ERROR_CANNOT_MAKE
#define ERROR_CANNOT_MAKE 82L
#endif
#ifndef ERROR_INVALID_LEVEL
#define ERROR_INVALID_LEVEL 124L
#endif
#define ERROR_SPL_NO_ADDJOB 3004L
#define ERROR_PRINT_CANCELLED 63L
#define ERROR_PRINTER_NOT_FOUND 3012L

/* The document calls. */
typedef BOOL(CALLBACK *ABORTPROC)(HDC, int);

typedef struct _DOCINFOA {
  int cbSize;
  LPCSTR lpszDocName;
  LPCSTR lpszOutput;
  LPCSTR lpszDatatype;
  DWORD fwType;
} DOCINFOA, *LPDOCINFOA, DOCINFO, *LPDOCINFO;

/* Results of the document calls. */
#define SP_ERROR (-1)
#define SP_APPABORT (-2)
#define SP_USERABORT (-3)
#define SP_OUTOFDISK (-4)
#define SP_OUTOFMEMORY (-5)

/* Escapes. */
#define NEWFRAME 1
#define ABORTDOC 2
#define NEXTBAND 3
#define QUERYESCSUPPORT 8
#define SETABORTPROC 9
#define STARTDOC 10
#define ENDDOC 11
#define GETPHYSPAGESIZE 12
#define GETPRINTINGOFFSET 13
#define SET_BOUNDS 4109

/* GetDeviceCaps on printers. */
#define PHYSICALWIDTH 110
#define PHYSICALHEIGHT 111
#define PHYSICALOFFSETX 112
#define PHYSICALOFFSETY 113
#define SCALINGFACTORX 114
#define SCALINGFACTORY 115
#define DT_RASPRINTER 2
#define RC_BANDING 0x0002
#define RC_BITMAP64 0x0008

/* DEVMODE fields the printers read. */
#define DM_PRINTQUALITY 0x00000400L
#define DM_YRESOLUTION 0x00002000L
#define DMPAPER_LEGAL 5
#define DMRES_DRAFT (-1)
#define DMRES_LOW (-2)
#define DMRES_MEDIUM (-3)
#define DMRES_HIGH (-4)

QX_EXTERN_C_BEGIN
/* Spooler (core library). */
WINBASEAPI BOOL WINAPI OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault);
WINBASEAPI BOOL WINAPI ClosePrinter(HANDLE hPrinter);
WINBASEAPI BOOL WINAPI AddJobA(HANDLE hPrinter, DWORD Level, LPBYTE pData, DWORD cbBuf, LPDWORD pcbNeeded);
WINBASEAPI BOOL WINAPI ScheduleJob(HANDLE hPrinter, DWORD JobId);
WINBASEAPI BOOL WINAPI AbortPrinter(HANDLE hPrinter);

/* Documents on printer device contexts (drawing library). */
WINBASEAPI HDC WINAPI CreateICA(LPCSTR lpszDriver, LPCSTR lpszDevice, LPCSTR lpszOutput, const void *lpdvmInit);
WINBASEAPI int WINAPI StartDocA(HDC hdc, const DOCINFOA *lpdi);
WINBASEAPI int WINAPI StartPage(HDC hdc);
WINBASEAPI int WINAPI EndPage(HDC hdc);
WINBASEAPI int WINAPI EndDoc(HDC hdc);
WINBASEAPI int WINAPI AbortDoc(HDC hdc);
WINBASEAPI int WINAPI SetAbortProc(HDC hdc, ABORTPROC proc);
WINBASEAPI int WINAPI Escape(HDC hdc, int iEscape, int cjIn, LPCSTR pvIn, LPVOID pvOut);
QX_EXTERN_C_END

#define OpenPrinter OpenPrinterA
#define AddJob AddJobA
#define CreateIC CreateICA
#define StartDoc StartDocA

#endif
