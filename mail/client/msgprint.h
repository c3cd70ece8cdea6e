// Printing stored messages on the chosen printer, one display line at a
// time as the viewer shows them, with a progress dialog whose Cancel stops
// the job; and Print Setup for the whole program.
#ifndef QX_MAIL_MSGPRINT_H
#define QX_MAIL_MSGPRINT_H

#include <cstdint>
#include <string>

#include <windows.h>

// Prints message number of folder; owner and the main window are disabled
// meanwhile. False when nothing was printed (the person was told why, or
// cancelled).
bool PrintMessage(HWND owner, const std::string &folder, int32_t number);

// The print dialog's setup page on the program's printer settings.
void MailPrintSetup(HWND owner);

// Lines of text on a page of the given printable height.
int PrintLinesPerPage(int printableHeight, int lineHeight);

#endif
