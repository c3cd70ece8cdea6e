// The "OtherHeaders" dialog of the send dialog: Bcc, In-Reply-To, Reply-To
// and the user's own header lines of the message being written.
#ifndef QX_MAIL_OTHERHEADERS_H
#define QX_MAIL_OTHERHEADERS_H

#include <optional>
#include <string>

#include <windows.h>

enum {
  IDC_OTHER_BCC_BUTTON = 409,
  IDC_OTHER_BCC = 410,
  IDC_OTHER_INREPLYTO = 411,
  IDC_OTHER_REPLYTO = 413,
  IDC_OTHER_LIST = 414,
  IDC_OTHER_ADD = 415,
  IDC_OTHER_REMOVE = 416,
  IDC_ADDHEADER_TEXT = 1100,
};
constexpr size_t kMaxUserHeaders = 255;
constexpr size_t kUserHeaderLimit = 120;

// Whether a user's header line may be sent: 0, or the string of the refusal
// (90 "Invalid Header format": no ":" or a blank before it; 92 "This Header
// not allowed": a field the program writes itself).
int CheckUserHeader(const std::string &line);

// Edits the current send header's Bcc, In-Reply-To, Reply-To and extra lines:
// 1 after OK (the values replaced), 0 after Cancel (nothing changed).
INT_PTR OtherHeadersDialog(HWND owner);

// Lets the user pick an alias for Bcc (set by the alias binding); none when
// no alias library is bound.
extern std::optional<std::string> (*g_PickBccAlias)(HWND owner);

#endif
