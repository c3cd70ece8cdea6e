// Print progress routines shared by the programs that print: the default
// printer's settings (taken once), a device context for the chosen printer,
// and a modeless progress dialog with Cancel whose abort procedure and
// message pump keep the program responsive while a page is sent.
#ifndef QX_TOOLBAR_PRINTING_H
#define QX_TOOLBAR_PRINTING_H

#include <windows.h>

// The process's printer settings (the print dialog's record).
PRINTDLGA &PrintSettings();
// Takes the default printer, only while no settings exist yet.
void PrintTakeDefaults(HWND owner);
// A device context for the chosen printer; none without settings.
HDC PrintGetDC();

// The progress dialog: its handle while it exists (set by the caller after
// CreateDialogParamA), and the cancel mark its Cancel button sets.
void PrintSetProgressDialog(HWND dialog);
bool PrintCancelled();
void PrintClearCancel();
// Removes waiting messages while the job is not cancelled, giving the
// progress dialog its own.
void PrintPump();
BOOL CALLBACK PrintAbortProc(HDC dc, int error);
// WM_INITDIALOG puts the focus on Cancel; any command cancels; message
// kPrintProgress with a percentage in wParam shows "(n%)" in control 100.
INT_PTR CALLBACK PrintAbortDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

inline constexpr UINT kPrintProgress = 0x7FFF;
inline constexpr int kPrintPercentControl = 100;

#endif
