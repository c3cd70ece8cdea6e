// The mail client's dialogs on the platform's dialog manager: the modal
// "Configure" dialog over the settings, and the modeless progress dialogs
// ("Verbose", "NonVerbose", "retrieving") that show the SMTP conversation and
// carry the Cancel button of the protocol loops.
#ifndef QX_MAIL_MAILDLG_H
#define QX_MAIL_MAILDLG_H

#include <string>

#include "mailio.h"

#include <windows.h>

// Control identifiers of the Configure dialog.
enum {
  IDC_CFG_MAILDIR = 750,
  IDC_CFG_MAILHOST = 751,
  IDC_CFG_ORGANIZATION = 752,
  IDC_CFG_PERSONALNAME = 753,
  IDC_CFG_EDITOR = 754,
  IDC_CFG_REPLYSTRING = 755,
  IDC_CFG_REPLYTO = 756,
  IDC_CFG_INDENT = 757,
  IDC_CFG_CCSELF = 758,
  IDC_CFG_VERBOSE = 759,
  IDC_CFG_INCLUDEREPLY = 760,
  IDC_CFG_LOGIN = 762,
  IDC_CFG_TIMED = 763,
  IDC_CFG_INTERVAL = 764,
  IDC_CFG_WORDWRAP = 765,
  IDC_CFG_INCLUDEHEADER = 766,
  IDC_CFG_DELAYEDSEND = 767,
  IDC_CFG_AUTOADVANCE = 768,
  IDC_CFG_REDIRECT = 769,
  IDC_CFG_DELETEFROMSERVER = 770,
  IDC_CFG_USESOUND = 771,
  IDC_CFG_SAVESENT = 772
};

// Controls of the progress dialogs: the Cancel (later "&OK") button is
// control 1; the conversation list and the status line.
enum { IDC_PROGRESS_BUTTON = 1, IDC_PROGRESS_STATUS = 500, IDC_PROGRESS_LIST = 700 };

// String-table texts the dialogs use.
enum {
  IDS_OK = 14,
  IDS_VERBOSE_DIALOG = 15,
  IDS_NONVERBOSE_DIALOG = 16,
  IDS_WRITE_ERROR = 45,
  IDS_MAILDIR_MISSING = 46,
  IDS_WRITE_CONFIGURATION = 47
};

// The private message that adds the line ShowConversationLine left.
constexpr UINT WM_QX_CONVERSATION_LINE = 0x777F;
// The main window's timer of timed retrieval.
constexpr UINT_PTR kRetrievalTimer = 1;
constexpr UINT kRetrievalTimerMs = 60000;

// Minutes until the next timed retrieval; the main window's, set by Configure's OK.
extern int g_RetrievalCountdown;

// "Configure": modal over owner; 1 after OK, 2 after Cancel. Timer 1 of the
// owner is killed or set as Timed changes.
INT_PTR ConfigureDialog(HWND owner);
INT_PTR CALLBACK ConfigureDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Opens a modeless progress dialog over owner and makes it the conversation
// window: the template "Verbose" or "NonVerbose" (the names are strings 15
// and 16) for SMTP, "retrieving" for POP. Returns the dialog or nullptr.
HWND OpenSmtpProgressDialog(HWND owner, bool verbose);
HWND OpenProgressDialog(HWND owner, const char *templateName);
INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The conversation window, nullptr when none is shown.
HWND ConversationWindow();

// Hands the protocol loops' conversation lines to the progress dialog and
// ends it; install with SetConversationView(&ProgressConversation()).
class ProgressConversationView : public ConversationView {
 public:
  void AddLine(const std::string &text) override;
  // Verbose: control 1 becomes "&OK" and the conversation stays until the
  // user presses it; else the dialog closes. Pumps until it is gone.
  void Close(bool verbose) override;
};
ProgressConversationView &ProgressConversation();

// For WinsockMailTransport::dialogFilter: IsDialogMessageA for the
// conversation window; nonzero when it took the message.
int ConversationDialogFilter(const MSG *message);

#endif
