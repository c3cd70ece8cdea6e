// The folder dialogs: "Move" (choose the folder messages go to), "NewFolder"
// (create a folder) and "Delete" (remove a folder), each over the folder tree
// list drawn with connecting lines.
#ifndef QX_MAIL_FOLDERDLG_H
#define QX_MAIL_FOLDERDLG_H

#include <string>
#include <vector>

#include "folders.h"

#include <windows.h>

enum { IDC_FOLDER_NEW = 600, IDC_FOLDER_LIST = 601, IDC_FOLDER_NAME = 650 };

// "Move": 1 with the chosen folder in target (also the last-used target), 0 otherwise.
INT_PTR MoveFolderDialog(HWND owner, std::string &target);
// "NewFolder": 1 after OK with a name (created or not), 2 otherwise.
INT_PTR NewFolderDialog(HWND owner);
// "Delete": 1 when a folder was removed, 0 otherwise.
INT_PTR DeleteFolderDialog(HWND owner);
// Set when a folder was added or removed, for lists that show folders.
extern int g_FolderListChanged;

// A folder tree list as the dialogs show it: row 0 the inbox row when it has
// one, each row with its full path.
struct TREE_LIST {
  bool inboxRow = true;
  std::vector<FOLDER_ROW> rows;
  std::string *moveTarget = nullptr;  // "Move" only
};
// Fills the list box (owner-drawn, with strings) with the inbox row (text
// inboxText) when the list has one and the tree; the row of selectPath is
// selected, row 0 when none matches.
void FillTreeList(HWND box, TREE_LIST &list, const std::string &inboxText, const std::string &selectPath);
// Draws one row: the folder picture at its depth, its name, and the lines
// to its parent and its ancestors' later siblings.
void DrawTreeRow(const TREE_LIST &list, const DRAWITEMSTRUCT &item);
constexpr int kTreeGlyphWidth = 16;

#endif
