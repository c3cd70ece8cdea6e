// Folder names, tree rows and folder removal. See folders.h.
#include "folders.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "mailstore.h"
#include "settings.h"

// Last, so that the layer's C runtime names are not undone by standard headers.
#include <windows.h>

namespace {

constexpr const char *kHiddenPrefix = ".removing-";

struct Entry {
  std::string name;
  bool directory;
};

std::vector<Entry> List(const std::string &directory) {
  std::vector<Entry> entries;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((directory + "\\*.*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return entries;
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..")
      entries.push_back(Entry{name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return entries;
}

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool SameNoCase(const std::string &a, const std::string &b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

void AddRows(const std::string &directory, int depth, int parentRow, int firstRow, std::vector<FOLDER_ROW> &rows) {
  int previousSibling = -1;
  for (const Entry &e : List(directory)) {
    if (!e.directory || e.name[0] == '.') continue;
    const std::string path = directory + "\\" + e.name;
    if (!Exists(IndexPath(path))) continue;  // a directory without an index is no folder
    FOLDER_ROW row;
    row.text = e.name;
    for (char &c : row.text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    row.path = path;
    row.parent = parentRow;
    const uint32_t parentField = parentRow < 0 ? 0u : static_cast<uint32_t>(std::min(parentRow + firstRow + 1, 255));
    row.itemData = static_cast<uint32_t>(depth & 0xFFFF) | (parentField << 16);
    if (previousSibling >= 0) rows[static_cast<size_t>(previousSibling)].itemData |= kRowLaterSibling;
    previousSibling = static_cast<int>(rows.size());
    rows.push_back(row);
    AddRows(path, depth + 1, previousSibling, firstRow, rows);
  }
}

// Empties and removes a directory that holds files only.
bool RemoveFilesAndDirectory(const std::string &directory) {
  bool ok = true;
  for (const Entry &e : List(directory)) {
    if (e.directory) return false;
    ok = DeleteFileA((directory + "\\" + e.name).c_str()) && ok;
  }
  return RemoveDirectoryA(directory.c_str()) && ok;
}

}  // namespace

bool ReservedDeviceName(const std::string &name) {
  std::string upper = name.substr(0, name.find('.'));
  for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const char *device : {"CON", "PRN", "AUX", "NUL", "CLOCK$"})
    if (upper == device) return true;
  return upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) && upper[3] >= '1' &&
         upper[3] <= '9';
}

bool FolderNameAllowed(const std::string &name) {
  if (name.empty() || name.size() > kFolderNameLimit || name.back() == ' ') return false;
  for (char c : name)
    if (static_cast<unsigned char>(c) < 32 || std::strchr(".\\/:*?\"<>|", c)) return false;
  return !ReservedDeviceName(name);
}

int CreateFolderNamed(const std::string &parent, const std::string &name, std::string &path) {
  if (!FolderNameAllowed(name)) return kFolderBadName;
  path = parent + "\\" + name;
  return StoreCreateFolder(path);
}

std::vector<FOLDER_ROW> FolderTreeRows(const std::string &directory, int firstDepth, int firstRow) {
  std::vector<FOLDER_ROW> rows;
  AddRows(directory, firstDepth, -1, firstRow, rows);
  return rows;
}

std::vector<bool> AncestorLines(const std::vector<FOLDER_ROW> &rows, size_t row) {
  std::vector<bool> lines(static_cast<size_t>(std::max(RowDepth(rows[row].itemData), 0)) + 1, false);
  for (int a = rows[row].parent; a >= 0; a = rows[static_cast<size_t>(a)].parent) {
    const int depth = RowDepth(rows[static_cast<size_t>(a)].itemData);
    if (depth >= 0 && static_cast<size_t>(depth) < lines.size())
      lines[static_cast<size_t>(depth)] = (rows[static_cast<size_t>(a)].itemData & kRowLaterSibling) != 0;
  }
  return lines;
}

int RemoveFolder(const std::string &path) {
  const size_t cut = path.find_last_of('\\');
  if (cut == std::string::npos || !Exists(IndexPath(path))) return kFolderNotFound;
  const std::string parent = path.substr(0, cut);
  for (const Entry &e : List(path))
    if (e.directory) return kFolderHasSubfolders;
  // Leftovers of a removal that was interrupted go first.
  for (const Entry &e : List(parent))
    if (e.directory && e.name.rfind(kHiddenPrefix, 0) == 0) RemoveFilesAndDirectory(parent + "\\" + e.name);
  const std::string hidden = parent + "\\" + kHiddenPrefix + path.substr(cut + 1);
  if (!MoveFileA(path.c_str(), hidden.c_str())) return kStoreNoIndex;
  if (g_StoreStepHook) g_StoreStepHook("remove-folder", 1);
  RemoveFilesAndDirectory(hidden);  // a file that stays keeps the hidden folder for the next removal
  MAIL_SETTINGS &s = Settings();
  if (SameNoCase(s.currentFolder, path)) s.currentFolder = s.mailDir;
  return 0;
}
