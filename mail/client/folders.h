// Folders of the mail store: subdirectories of the mail directory (at any
// depth) that hold "index.idx". Names a user gives are checked so that no
// folder is ever made outside the mail directory; the tree rows the folder
// dialogs show; removing a folder so that a crash leaves it whole or unlisted.
#ifndef QX_MAIL_FOLDERS_H
#define QX_MAIL_FOLDERS_H

#include <cstdint>
#include <string>
#include <vector>

constexpr int kFolderBadName = -20;        // refused name: nothing made
constexpr int kFolderHasSubfolders = -21;  // removal refused before anything was deleted
constexpr int kFolderNotFound = -22;
constexpr size_t kFolderNameLimit = 80;

// A name stays inside its parent: not empty, at most 80 characters, no ".",
// no path separator, drive colon, wildcard or control character, no trailing
// blank, and no device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9).
bool FolderNameAllowed(const std::string &name);
// A device name of the Windows file system ("CON", "LPT1"...), extension or
// not, which names no file there.
bool ReservedDeviceName(const std::string &name);
// Makes parent\name as a folder with its index; path receives it. 0, or
// kFolderBadName, or the store's -9 when it cannot be made.
int CreateFolderNamed(const std::string &parent, const std::string &name, std::string &path);

// One row of a folder tree list: the directory name in lower case, its full
// path, and the item data: bits 0-15 the depth, 16-23 the parent row + 1 (0
// at the top; rows past 254 keep 255 there, their path is kept in full), bit
// 24 set when a later sibling follows.
struct FOLDER_ROW {
  std::string text;
  std::string path;
  uint32_t itemData = 0;
  int parent = -1;  // the parent row, -1 at the top
};
constexpr uint32_t kRowLaterSibling = 1u << 24;
inline int RowDepth(uint32_t itemData) { return static_cast<int>(itemData & 0xFFFF); }

// The rows below directory: folders in listing order, each followed by its
// own subfolders; depth of the top rows firstDepth, parent rows numbered from
// firstRow (the row count before them, 1 when an inbox row comes first).
std::vector<FOLDER_ROW> FolderTreeRows(const std::string &directory, int firstDepth, int firstRow);
// Whether a tree row's x line for ancestor at depth d runs through the whole
// row (the ancestor has a later sibling): index by depth 1..row depth - 1.
std::vector<bool> AncestorLines(const std::vector<FOLDER_ROW> &rows, size_t row);

// Removes a folder: refused when it holds a subdirectory. The folder is first
// renamed to a hidden name (never listed), then emptied and removed, so a
// crash leaves the folder whole or invisible; hidden leftovers of an earlier
// crash are removed with the next removal. When it was the current folder,
// the inbox (the mail directory) becomes current.
int RemoveFolder(const std::string &path);

#endif
