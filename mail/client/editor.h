// The message editor window "QXMailEditClass": the body of a composition in a
// multi-line edit, word-wrapped at the WordWrap column by the program, with
// commands to include text files and to attach files, saved to the body file
// when it closes by Save and Exit.
#ifndef QX_MAIL_EDITOR_H
#define QX_MAIL_EDITOR_H

#include <string>

#include <windows.h>

enum EditorCommand {
  IDM_EDIT_SAVE = 1,
  IDM_EDIT_CANCEL = 2,
  IDM_EDIT_UNDO = 800,
  IDM_EDIT_CUT = 801,
  IDM_EDIT_COPY = 802,
  IDM_EDIT_PASTE = 803,
  IDM_EDIT_DELETE = 804,
  IDM_EDIT_SELECTALL = 805,
  IDM_EDIT_INCLUDE = 806,
  IDM_EDIT_ATTACH = 807,
  IDM_EDIT_INCLUDEMSG = 808
};

constexpr const char *kEditorClass = "QXMailEditClass";
constexpr LPARAM kEditorCloseNow = 123456;  // WM_CLOSE with it closes without saving again
constexpr int kEditorControl = 1;           // the edit control's id

// Edits bodyPath in the editor window owned by owner; returns when the window
// is gone. Only Save and Exit (or closing the window) writes the file.
void EditMessage(const std::string &bodyPath, HWND owner);
// Inserts a file's text at the caret (its line ends as CR LF): 1 on success,
// 0 after telling the user why not.
int IncludeTextFile(HWND edit, const std::string &path);
// The word wrap of the caret's line (what the editor does on each change).
void WrapCaretLine(HWND edit, int wordWrap);

#endif
