// POP retrieval into the mail store (POP3, and POP2 when the POP3 port refuses
// the connection), the POP status-line reader and the POP login check.
#ifndef QX_MAIL_POP_H
#define QX_MAIL_POP_H

#include <string>

#include "mailio.h"

// Results of POP_session and PopLoginCheck (0 or more: messages stored).
constexpr int kPopSocketError = -2;
constexpr int kPopUnknownHost = -3;
constexpr int kPopNoServer = -4;
constexpr int kPopHostDown = -5;
constexpr int kPopBadStatus = -6;  // the server's status line says why
constexpr int kPopDropped = -7;
constexpr int kPopFileError = -8;
constexpr int kPopIndexError = -9;
constexpr int kPopLoginRefused = -11;  // the server's status line says why
constexpr int kPopWriteError = -12;

// Status kinds of a POP line by its first character.
constexpr int kPopMinus = 0, kPopPlus = 1, kPopEquals = 2, kPopHash = 3, kPopFailed = -1;

// Sends the command (format with a and b, when a format is given) and reads
// one status line into MailIo().replyText (at most 131 characters, no line
// end). The line's kind, or kPopFailed when the connection ended.
int PopCommand(SocketHandle s, const char *format, const char *a = nullptr, const char *b = nullptr);

// Logs in and out again: 0, or one of the results above.
int PopLoginCheck(const char *user, const char *password, const char *host);

// Fetches new messages from host into the folder (the mail directory) and
// indexes them. A message is deleted on the server (deleteFromServer) only
// after its file and its index record are on disk. With a server that lists
// unique identifiers, the identifiers of stored messages are kept in
// "popuidl.txt" beside the index, so that no message is stored twice, even
// after the process died in the middle of a retrieval.
int POP_session(const char *user, const char *password, int deleteFromServer, const char *host,
                const std::string &folder);

constexpr const char *kPopUidlFile = "popuidl.txt";

// Once per run: the POP server accepted the password / refused it.
extern int g_PasswordVerified;
extern int g_PasswordFailed;
// Shows a progress text ("Getting message %d of %d", "Closing Connection")
// in control 500 of the "retrieving" dialog; none while no dialog is shown.
extern void (*g_PopStatusHook)(const char *text);
// Test hook: called at numbered steps of each message so that a test can end
// the process there (1 after RETR, 2 file written, 3 file named, 4 record
// written, 5 deleted on the server).
extern void (*g_PopStepHook)(int message, int step);

// The message box text of a negative result (for -6 and -11 the status line).
std::string PopErrorText(int result, const std::string &mailHost);

#endif
