// One composition: the user's text, the attachment list and the options of
// the compose dialog, and sending it. The message that goes out is prepared
// afresh from the user's text on every Send (quoted-printable when needed,
// the attachments, the signature and the closing boundary), so a Send that
// the server refused can be corrected and sent again: the new attempt has
// one signature, one closing boundary and its MIME headers.
#ifndef QX_MAIL_COMPOSE_H
#define QX_MAIL_COMPOSE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>

#include "smtp.h"

// Modes of the compose dialog (its start parameter).
enum ComposeMode {
  kComposeMenu = 110,  // the main menu's Compose!, a Simple MAPI message, a queued message sent again
  kComposeNew = 402,
  kComposeReply = 553,
  kComposeReplyAll = 554,
  kComposeForward = 556
};

// Attachment types: 0 uuencoded inside the text, 1 a MIME file part, 2 FTP
// pointer, 3 mail-server pointer, 4 voice recording (2 to 4 hold a block of
// the MIME library: the entry is the byte 1, the block's number and a label).
struct ATTACHMENT {
  uint8_t type = 0;
  std::string entry;
};
constexpr size_t kMaxAttachments = 100;

struct COMPOSITION {
  int mode = kComposeMenu;
  std::string textPath;      // the user's text; empty until first needed
  std::string preparedPath;  // a queued message sent again: its body as queued, never prepared again
  std::vector<ATTACHMENT> attachments;
  bool signature = false, verbose = false, include = false, included = false;
  std::string folder;             // of the messages replied to or forwarded
  std::vector<int32_t> selected;  // their numbers
};
COMPOSITION &CurrentComposition();

// Results of SendComposition.
enum SendOutcome {
  kComposeSent = 0,    // sent: the dialog ends
  kComposeQueued = 1,  // in the send queue: the dialog ends
  kComposeDropped,     // not sent and not queued (the user said No to "Send later ?"): the dialog ends
  kComposeStay,        // the dialog stays open (refused by the server, cancelled, or a part could not be added)
  kComposeCancelled    // the dialog's Cancel
};

// The user's text file in the mail directory, created (empty) when missing.
bool EnsureTextFile(COMPOSITION &c);
// The replied or forwarded messages quoted into the text, once per composition.
void IncludeQuotedMessages(COMPOSITION &c);
// Prepares the message from the user's text into a new work file and sets
// the multipart and quoted-printable bits of header. prepared is empty when
// there is no body at all. False (nothing to send) after a message to the
// user: a cancelled empty body, or an attachment that could not be added.
bool PrepareMessage(HWND owner, COMPOSITION &c, SEND_HEADER &header, std::string &prepared);
// Send with the current send header (To, Cc and Subject already taken from
// the dialog's fields).
SendOutcome SendComposition(HWND owner, COMPOSITION &c);
// Deletes the text file, gives the special attachments' blocks back and
// empties the list. A queued message's body stays where it is.
void CleanUpComposition(COMPOSITION &c);

// Quoted-printable: one line (without its line feed) as encoded lines.
std::vector<std::string> QuotedPrintableLines(const std::string &line);
// Whether the text must go as quoted-printable: a byte with bit 7 set that the
// outgoing character map leaves as it is.
bool NeedsQuotedPrintable(FILE *text);

// The MIME library, loaded on first need and kept until the program ends.
bool LoadMimeLibrary(HWND owner);
int32_t CallSendMime(FILE *out, const std::string &entry, int type);
HGLOBAL CallMimeGetSpecial(int type, HGLOBAL handle, HWND owner);

// A label of a special attachment ("Ftp Pointer" ...), and the entry for a block.
std::string SpecialEntry(int type, HGLOBAL block);
// What the attachment list shows for an entry.
std::string AttachmentLabel(const ATTACHMENT &a);

#endif
