// The panes' entry lists: reading a local directory, sorting, the selection
// with its byte total, hit-testing a point against the column layout, and
// the re-listing of a pane after a command.
#include "ftpcore.h"

#include <common/qxcommon.h>

#include <algorithm>
#include <cstdio>

uint64_t g_SelectionTotal = 0;
int g_Anchor[2] = {-1, -1};

namespace {

bool ValidPane(int pane) { return pane == 0 || pane == 1; }

}  // namespace

void SortEntries(std::vector<ENTRY_NODE> &entries) {
  Ui().SetStatus("Sorting ...");
  // Directories first; names byte for byte, so upper case sorts before
  // lower case and "." and ".." come first.
  std::stable_sort(entries.begin(), entries.end(), [](const ENTRY_NODE &a, const ENTRY_NODE &b) {
    const bool da = a.flags & kEntryDirectory, db = b.flags & kEntryDirectory;
    if (da != db) return da;
    return a.name < b.name;
  });
  Ui().SetStatus("");
}

void ListLocalDirectory(int pane) {
  FTP_PANE &p = g_Panes[pane];
  p.entries.clear();
  Ui().SetStatus("Reading and Parsing Directory ...");
  if (p.path[0]) SetCurrentDirectoryA(p.path);
  QueryDirectory(pane);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("*.*", &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    ENTRY_NODE entry;
    // Names keep their case: the file system tells "B" from "b".
    entry.name = found.cFileName;
    entry.flags = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? kEntryDirectory : 0;
    entry.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    if (entry.flags & kEntryDirectory) entry.size = 0;
    p.entries.push_back(std::move(entry));
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

bool PaneOpen(int pane) {
  return ValidPane(pane) && (g_Panes[pane].kind != kPaneClosed || g_Panes[pane].control != INVALID_SOCKET);
}

void RefreshPane(int pane) {
  if (!ValidPane(pane)) return;
  FTP_PANE &p = g_Panes[pane];
  if (p.kind == kPaneLocal)
    ListLocalDirectory(pane);
  else if (p.control != INVALID_SOCKET)
    ParseRemoteListing(pane);
  SortEntries(p.entries);
  g_Anchor[pane] = -1;
  if (g_SelectionTotal && !PaneHasSelection(1 - pane)) g_SelectionTotal = 0;
  Ui().PaneChanged(pane);
}

bool PaneHasSelection(int pane) {
  if (!ValidPane(pane)) return false;
  for (const ENTRY_NODE &e : g_Panes[pane].entries)
    if (e.flags & kEntrySelected) return true;
  return false;
}

int SourcePane() {
  if (PaneHasSelection(0)) return 0;
  if (PaneHasSelection(1)) return 1;
  return -1;
}

namespace {

void ClearMarks(int pane) {
  for (ENTRY_NODE &e : g_Panes[pane].entries) {
    if (e.flags & kEntrySelected) g_SelectionTotal -= std::min(g_SelectionTotal, e.size);
    e.flags &= ~kEntrySelected;
  }
}

}  // namespace

void ClearSelection(int pane) {
  if (!ValidPane(pane)) return;
  ClearMarks(pane);
  g_Anchor[pane] = -1;
}

std::string SelectEntry(int pane, int index, bool control, bool shift) {
  if (!ValidPane(pane)) return std::string();
  FTP_PANE &p = g_Panes[pane];
  ClearSelection(1 - pane);
  g_ActivePane = pane;
  if (!control) ClearMarks(pane);
  const int count = static_cast<int>(p.entries.size());
  if (index < 0 || index >= count) return std::string();
  ENTRY_NODE &clicked = p.entries[static_cast<size_t>(index)];
  const int anchor = g_Anchor[pane];
  if (shift && anchor >= 0 && anchor < count) {
    // Entries already marked keep their place in the total once.
    for (int i = std::min(anchor, index); i <= std::max(anchor, index); ++i) {
      ENTRY_NODE &e = p.entries[static_cast<size_t>(i)];
      if (e.flags & kEntrySelected) continue;
      e.flags |= kEntrySelected;
      g_SelectionTotal += e.size;
    }
  } else {
    clicked.flags ^= kEntrySelected;
    if (clicked.flags & kEntrySelected)
      g_SelectionTotal += clicked.size;
    else
      g_SelectionTotal -= std::min(g_SelectionTotal, clicked.size);
  }
  g_Anchor[pane] = index;
  char text[320];
  if (g_SelectionTotal == clicked.size)
    snprintf(text, sizeof text, "%llu bytes : %s", static_cast<unsigned long long>(g_SelectionTotal),
             clicked.name.c_str());
  else
    snprintf(text, sizeof text, "Size of selected files %llu bytes.",
             static_cast<unsigned long long>(g_SelectionTotal));
  return text;
}

int HitTestEntry(int x, int y, int rowHeight, int rows, int columnWidth, int firstColumn, int count) {
  if (y < rowHeight || rowHeight <= 0 || rows <= 0 || x < 0) return -1;
  const int row = (y - rowHeight) / rowHeight;
  const int column = x / (columnWidth + 18);
  if (row >= rows) return -1;
  const long long index = static_cast<long long>(firstColumn + column) * rows + row;
  return index < count ? static_cast<int>(index) : -1;
}

ENTRY_NODE *FindEntry(int pane, const std::string &name) {
  if (!ValidPane(pane)) return nullptr;
  for (ENTRY_NODE &e : g_Panes[pane].entries)
    if (e.name == name) return &e;
  return nullptr;
}
