// The retrieval driver of the main window: one POP session at a time with
// its "retrieving" dialog, the error box, and the new-mail signal while the
// main window is minimised.
#ifndef QX_MAIL_RETRIEVE_H
#define QX_MAIL_RETRIEVE_H

#include <string>

#include <windows.h>

// Process-wide state the main window shares with the retrieval.
extern int g_MailBusy;                 // a command (or a timed retrieval) is running
extern int g_RetrievalRunning;         // a POP session is in progress
extern int g_DeferredRetrievalDialog;  // it started minimised: its dialog opens on restore
extern int g_NewMailFlag;              // mail came while minimised
extern int g_FlashCount;               // flashes left of timer 2
extern std::string g_Password;         // the user's POP password (128 characters)

constexpr UINT_PTR kFlashTimer = 2;
constexpr UINT kFlashTimerMs = 500;
constexpr int kRetrievalNested = -13;  // refused: a retrieval is already running

// Runs POP_session for the current user into the mail directory. Never
// nested: while a retrieval runs, a second call returns kRetrievalNested at
// once. Negative results other than a cancel are shown in "Pop Server Error".
int RetrieveMail(HWND owner);
// The "retrieving" dialog of a retrieval that began minimised (WM_SIZE on restore).
void OpenDeferredRetrievalDialog(HWND owner);
// The error box (MessageBoxA); tests record what a person would see.
extern int(WINAPI *g_MailMessageBox)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
// After a retrieval that found mail (result >= 0): the send queue's offer;
// none until the queue is there.
extern void (*g_OfferSendQueue)(HWND owner);

#endif
