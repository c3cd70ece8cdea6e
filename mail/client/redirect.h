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

#include "sendqueue.h"
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

#endif
