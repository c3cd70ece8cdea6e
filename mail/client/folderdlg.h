// The folder dialogs: "Move" (choose the folder messages go to), "NewFolder"
// (create a folder) and "Delete" (remove a folder), each over the folder tree
// list drawn with connecting lines.
#ifndef QX_MAIL_FOLDERDLG_H
#define QX_MAIL_FOLDERDLG_H

#include <string>

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

#endif
