// SMTP sending: one composed (or redirected) message to the mail host, with
// its RFC 822 header block, encoded header words, dot-stuffing and the copy
// kept in the "sent" folder; the Date and Message-Id values.
#ifndef QX_MAIL_SMTP_H
#define QX_MAIL_SMTP_H

#include <optional>
#include <string>
#include <vector>

#include "mailio.h"

// The header of the message being sent (also the send queue's header file).
struct SEND_HEADER {
  int flags = 0;  // bit 0 Return-Receipt-To, 1 Read-Receipt-To, 2 MIME multipart, 3 quoted-printable text
  std::optional<std::string> from, subject, to, cc, bcc, inReplyTo, replyTo, messageId, date, organization;
  std::optional<std::string> reDirect;  // the Resent-To list of a redirected message
  std::vector<std::string> extraLines;  // user-entered header lines ("Name: value")
};
constexpr int kSendReturnReceipt = 1, kSendReadReceipt = 2, kSendMultipart = 4, kSendQuotedPrintable = 8;
SEND_HEADER &CurrentSendHeader();
void ClearSendHeader(SEND_HEADER &header, bool all);

constexpr const char *kMimeBoundary = "QXTCP.QXNFS.POSTBOX.QXTCP";
constexpr const char *kMailerName = "QXMail for Windows Version 3.2";

// Sends the current send header's message to recipients through host. The
// body file (or none) holds the prepared text; for a redirect, the redirected
// message with its own header. 0 on success, a negative code of
// SmtpErrorText's table, or a positive Winsock error when no socket could be
// made. With saveSent, the message as sent is added to "<mailDir>\sent".
struct SMTP_OPTIONS {
  bool saveSent = false;
  std::string mailDir;
  std::string personalName;
};
int SMTP_session(const char *host, const std::string &ownAddress, const std::vector<std::string> &recipients,
                 const char *bodyPath, int verbose, const SMTP_OPTIONS &options);

// Header texts with every control character but TAB made a blank, so that
// no text ends a header line or a command early.
std::string ScrubLine(std::string text);
void ScrubSendHeader(SEND_HEADER &header);

// Address kinds by their prefix: 1 SMTP (or none), 2 MAPI, 3 VIM, 4 MHS,
// 5 MHS_LOCAL, 6 FAX.
int AddressKind(const std::string &address);
// The envelope address of a recipient: the prefix up to "==" dropped, then
// the text inside <...>, else the text up to the first blank.
std::string ReduceAddress(const std::string &address);

// One header line (label, or a whole "Name: value" line without one), its
// value as RFC 2047 encoded words when it has 8-bit bytes, ended by CR LF.
std::string EncodeHeaderWord(const char *label, const std::string &text);
// The line folded for sending: pieces of at most 76 characters where a blank,
// tab or comma allows; a line without such a place is sent whole.
std::vector<std::string> FoldHeaderLine(const std::string &line);

// "05 Dec 1995 14:30:00 +0100" and "<1995Dec05.143000+0100@host>" for now.
void MakeDateAndId(std::string *date, std::string *messageId);
std::string ZoneText(int minutes);
// Minutes east of UTC used for Date and Message-Id (set by the daylight-saving check).
extern int g_ZoneOffsetMinutes;
extern std::string g_LocalHostName;

// Opens the "Verbose" or "NonVerbose" progress dialog; none when headless.
extern void (*g_OpenSmtpProgress)(bool verbose);

#endif
