// The redirect sender: stored messages resent unchanged to the recipients in
// the send header's ReDirect field (the SMTP session adds the Resent- fields),
// or queued for later sending.
#ifndef QX_MAIL_REDIRECT_H
#define QX_MAIL_REDIRECT_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>

#include "smtp.h"

// Results of one redirected message.
constexpr int kRedirectQueued = 1;  // with DelayedSend on: not sent, queued

// Resends the messages numbered in numbers of folder to the current send
// header's ReDirect recipients. The send header is cleared afterwards.
void RedirectMessages(HWND owner, const std::string &folder, const std::vector<int32_t> &numbers);

// The recipients of a ReDirect text: its comma-separated addresses, trimmed.
std::vector<std::string> RedirectRecipients(const std::string &text);

// Copies a stored message for resending: header lines Resent-Sender,
// Resent-To, Resent-Date, "From " and Status (with their continuation lines)
// are left out, everything else is copied byte for byte. False on a read or
// write failure.
bool CopyForRedirect(FILE *message, FILE *out);

// The send queue's header file of a message: flags, the header texts one a
// line (an empty line for none), the count of extra lines and the lines.
bool WriteSendHeaderFile(const std::string &path, const SEND_HEADER &header);
// Moves the prepared message into the first free "tosendm.NNN" of the mail
// directory and writes its "tosendh.NNN"; false (nothing queued) on failure.
bool QueueForLater(const std::string &mailDir, const std::string &messagePath, const SEND_HEADER &header);

#endif
