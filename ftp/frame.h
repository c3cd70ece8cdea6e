// filemover's frame window as the pane windows and dialogs see it: its
// child windows, fonts and metrics, the busy counter, and the pieces each
// file provides to the others.
#ifndef QX_FTP_FRAME_H
#define QX_FTP_FRAME_H

#include <windows.h>

#include <string>

extern HINSTANCE g_instance;
extern HWND g_frame, g_status, g_list[2], g_pathBar[2], g_buttons[5];
extern HFONT g_font, g_italic;
extern int g_lineHeight, g_charWidth, g_statusHeight;
extern int g_columnWidth[2];
extern int g_busy;    // a command runs: only Exit passes
extern int g_iconic;  // the frame is minimised

// filemover.cpp
void SetStatusText(const char *text);
int MeasureColumnWidth(int pane);

// panewindow.cpp: the list and path bar of each pane, drag and drop.
LRESULT CALLBACK FileWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK PathWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int PaneOf(HWND window);
int RowHeight();
// Command 500: the selection dropped on the other pane at a point of it.
void DropOnOtherPane(int x, int y);
// A pane's list or path changed: scroll range, column width, repaint.
void ShowPaneChange(int pane);

// dialogs.cpp: the questions of copying and the file commands, the
// Transfer dialog and the Command dialog.
int AskTransferModeDialog(const char *name, int *allFiles);
int AskOverwriteDialog(const char *name);
bool AskNewNameDialog(const char *dialog, const char *name, std::string *newName);
int AskDeleteDialog(const char *name);
bool AskRenameDialog(const char *name, std::string *newName);
bool AskMakeDirectoryDialog(std::string *name);
bool AskPutInDirDialog(const char *name);
bool AskNewPathDialog(std::string *path);
void OpenTransferDialog();
void TransferDialogName(const char *name);
void TransferDialogProgress(int filePercent, int totalPercent, unsigned long long fileBytes,
                            unsigned long long copyBytes);
bool TransferDialogGone();
void CloseTransferDialog();
HWND TransferDialogWindow();
void RunCommandDialog();

#endif
