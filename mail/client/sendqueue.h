// The send queue: messages waiting in the mail directory as pairs of files,
// "tosendm.NNN" (the prepared body, as SMTP sends it) and "tosendh.NNN" (the
// send header, one field a line), and the run that sends them.
//
// A pair is queued so that no crash loses or half-writes it: the header is
// written aside ("tosendt.NNN") and synced, the body is renamed into the
// queue, and only then is the header renamed into place; a run finishes a
// pair whose last rename did not happen. While a pair is being sent its
// marker "tosendf.NNN" exists, so a run after a crash knows which message was
// in flight (it is sent again, and the user is told it may arrive twice).
#ifndef QX_MAIL_SENDQUEUE_H
#define QX_MAIL_SENDQUEUE_H

#include <string>
#include <vector>

#include <windows.h>

#include "smtp.h"

constexpr int kQueueSlots = 1000;  // "tosendm.000" to "tosendm.999"

// "<mailDir>\tosend<kind>.NNN" for kind 'm' body, 'h' header, 't' header
// being written, 'f' in flight.
std::string QueueFilePath(const std::string &mailDir, char kind, int number);

// The header file's text: flags, From, Subject, To, Cc, Bcc, In-Reply-To,
// Reply-To, Date, Organization, ReDirect (an empty line for none), the count
// of user-entered lines and the lines, each ended by LF. Line ends inside a
// text become blanks (they would shift every later line).
std::string SendHeaderText(const SEND_HEADER &header);
// Reads a header file; false when it is missing or incomplete (a line, the
// count or one of the counted lines absent). CR LF line ends are read too.
bool ReadSendHeaderFile(const std::string &path, SEND_HEADER &header);

// QueueMessage's result when another mail client held the queue's write lock
// for longer than the wait; QueueBusyText says so to the user.
constexpr int kQueueBusy = -2;
std::string QueueBusyText(const std::string &mailDir);
// QueueMessage's result when every number from 000 to 999 is taken;
// QueueFullText says so to the user.
constexpr int kQueueFull = -3;
std::string QueueFullText(const std::string &mailDir);

// Moves the prepared body into the first free slot and writes its header:
// the slot number, or -1 (kQueueBusy: the queue was busy; kQueueFull: every
// number was taken) when nothing was
// queued (the body is then where it was). The body is never copied: it moves
// whole or not at all. Queueing holds the queue's write lock "tosendw.lck",
// which a run takes too while it settles crash leftovers or reads a header,
// so that two mail clients on one mailbox never see each other's half-made
// pair.
int QueueMessage(const std::string &mailDir, const std::string &bodyPath, const SEND_HEADER &header);

// Sends the queue; one run at a time per mailbox holds "tosend.lck". With
// ask 0 the user is asked first. Pairs sent are
// deleted; a pair the server refused opens the compose dialog on it (through
// g_ComposeFromQueue); a pair without a readable header or without any
// recipient is kept and reported; a failure to reach the server ends the run
// with one report and keeps the rest. Returns the number of messages sent.
int SendDeferred(int ask, HWND owner);

// The compose dialog on a refused pair (mode 110, the pair's body as the
// prepared body); set by the compose dialog. Without it the pair stays queued.
extern void (*g_ComposeFromQueue)(HWND owner, const std::string &bodyPath);

// Test hook: called at the numbered steps of queueing ("queue") and sending
// ("send"), so that a test can end the process there.
extern void (*g_QueueStepHook)(const char *operation, int step);

#endif
