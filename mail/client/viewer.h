// The message viewer "Read": one stored message as an owner-drawn list of
// display lines, each read and decoded again from the file when it is
// painted; attachment lines offer saving or showing through the choice
// pop-up and the MIME library.
#ifndef QX_MAIL_VIEWER_H
#define QX_MAIL_VIEWER_H

#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include "mailstore.h"

enum {
  IDC_VIEW_DELETE = 550,
  IDC_VIEW_NEXT = 551,
  IDC_VIEW_FILE = 552,
  IDC_VIEW_REPLY = 553,
  IDC_VIEW_REPLYALL = 554,
  IDC_VIEW_PRINT = 555,
  IDC_VIEW_FORWARD = 556,
  IDC_VIEW_LINES = 560,
  IDC_VIEW_HELP = 563,
  IDC_VIEW_ADVANCE = 564,
  IDC_VIEW_SAVE = 565,
};

// Shows message entry of folder at the given top-left corner (the list
// window's). Result: IDOK or IDCANCEL (exit), IDC_VIEW_DELETE (deleted),
// IDC_VIEW_NEXT, IDC_VIEW_FILE. autoAdvance is the viewer's own copy of the
// setting; the Advance box changes it.
// While the list searches, Next reads "F&ind".
INT_PTR ReadMessageDialog(HWND owner, const std::string &folder, const MSG_ENTRY &entry, POINT at, bool &autoAdvance,
                          bool searching = false);

// The open viewer and the text of each of its lines as painted (attachment
// lines as their description; every line read first), for tests and
// automation; none when closed.
HWND ViewerWindow();
std::vector<std::string> ViewerLineTexts();
// Test hook: called when the viewer is about to show, with the number of
// lines it has read (the rest are read while it waits for input).
extern void (*g_ViewerShownHook)(size_t linesRead);

// The file name a uuencode "begin" line gives, reduced to a safe base name:
// no directories, no control or reserved characters, not a device name, at
// most 128 characters, "_" before a name the mail store uses for its own files
// ("m<n>.msg", "index.*", "qx*", "tosend*", ...); "attachment" when nothing is left.
std::string UuAttachmentName(const std::string &beginLine);

// The desktop's association for a file name ([Extensions] of WIN.INI by its
// extension), or none: a name without extension, or with one that would be
// run as a program (".exe", ".com", ".bat", ".cmd", ".pif", ".scr"), has none.
std::optional<std::string> AttachmentAssociation(const std::string &name);

// The line selected when a message opens: 17 below the header's end (16
// when there is none), or the last line.
int InitialViewerLine(int lineCount, int headerEndLine);

#endif
