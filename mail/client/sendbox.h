// The compose dialog "SendBox" and its "Attachments" dialog.
#ifndef QX_MAIL_SENDBOX_H
#define QX_MAIL_SENDBOX_H

#include <string>
#include <vector>

#include <windows.h>

#include "compose.h"

enum {
  IDC_SEND_TO = 400,
  IDC_SEND_SUBJECT = 401,
  IDC_SEND_SEND = 402,
  IDC_SEND_CC = 403,
  IDC_SEND_ATTACHMENTS = 404,
  IDC_SEND_EDIT = 405,
  IDC_SEND_PICK_TO = 407,
  IDC_SEND_PICK_CC = 408,
  IDC_SEND_OTHER = 417,
  IDC_SEND_SIGNATURE = 418,
  IDC_SEND_VERBOSE = 419,
  IDC_SEND_INCLUDE = 420,
  IDC_SEND_DELIVERY = 421,
  IDC_SEND_READ = 422,
  IDC_ATTACH_LIST = 850,
  IDC_ATTACH_REMOVE = 851,
  IDC_ATTACH_UUENCODED = 852,
  IDC_ATTACH_MIME = 853,
  IDC_ATTACH_FTP = 854,
  IDC_ATTACH_EMAIL = 855,
  IDC_ATTACH_VOICE = 856
};

// Runs "SendBox" in mode over owner with CurrentComposition() (its folder and
// selected messages set by the caller) and the send header (To, Subject and
// Cc move into the fields). Returns the SendOutcome that ended it
// (kComposeCancelled for Cancel).
INT_PTR ComposeDialog(HWND owner, int mode);
// The "Attachments" dialog on the current composition's list.
void AttachmentsDialog(HWND owner);
// The files of a file dialog's answer (one path, or a directory and names).
std::vector<std::string> ChosenFiles(const OPENFILENAMEA &ofn);

#endif
