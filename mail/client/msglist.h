// The message list window "Select" (caption "Read Mail"): the folder tree
// and the messages of the current folder, sorted by one of four keys, with
// the commands that act on the selected messages.
#ifndef QX_MAIL_MSGLIST_H
#define QX_MAIL_MSGLIST_H

#include <cstdint>
#include <vector>

#include <windows.h>

enum {
  IDC_LIST_DELETE = 550,
  IDC_LIST_FILE = 552,
  IDC_LIST_REPLY = 553,
  IDC_LIST_REPLYALL = 554,
  IDC_LIST_PRINT = 555,
  IDC_LIST_FORWARD = 556,
  IDC_LIST_FOLDERS = 557,
  IDC_LIST_READ = 558,
  IDC_LIST_SEARCH = 559,
  IDC_LIST_MESSAGES = 560,
  IDC_LIST_RETRIEVE = 561,
  IDC_LIST_COUNT = 562,
  IDC_LIST_HELP = 563,
  IDC_LIST_REVERSE = 566,
  IDC_LIST_BYDATE = 567,
  IDC_LIST_BYFROM = 568,
  IDC_LIST_BYSUBJECT = 569,
  IDC_LIST_BYARRIVAL = 570,
  // "ReDirect" (caption "Forward Message").
  IDC_REDIRECT_PICK = 900,
  IDC_REDIRECT_TO = 901,
  IDC_REDIRECT_DELIVERY = 902,
  IDC_REDIRECT_READ = 903,
  IDC_REDIRECT_ON = 904,
  // "Search": the text and its two options.
  IDC_SEARCH_TEXT = 1000,
  IDC_SEARCH_HEADERS = 1001,
  IDC_SEARCH_CASE = 1002,
  // "DeleteBox": the row text and the three answers.
  IDC_DELETEBOX_TEXT = 100,
  IDC_DELETEBOX_YES = 101,
  IDC_DELETEBOX_NO = 102,
  IDC_DELETEBOX_ALL = 103,
};

// Runs the message list for the main window; its result when it ends.
INT_PTR MessageListDialog(HWND owner);

// The result of "FindMessage" when messages were picked.
constexpr INT_PTR kMessagesPicked = 724;
// "FindMessage" (caption "Include Mail Message"), the message list in picking
// mode: kMessagesPicked with the picked messages' numbers in row order (of the
// folder then current in Settings().currentFolder, which the user may have
// changed), IDOK when cancelled, -1 when the dialog could not be made.
// An open "Select" keeps its own list meanwhile.
INT_PTR PickMessagesDialog(HWND owner, std::vector<int32_t> &numbers);

// "ReDirect": 2 when the messages are to be redirected (the addresses are
// then the send header's ReDirect, the receipts its flags), 1 to forward them
// as a new message, 0 when cancelled.
INT_PTR RedirectDialog(HWND owner);

#endif
