// burrowview's bookmark and checkpoint commands and their dialogs: "BMName"
// asks for the name of a new bookmark or checkpoint, "BMSel" and "BMGoto"
// offer the saved ones to delete or to open.
#include <cstdio>
#include <string>
#include <vector>

#include "bookmarks.h"
#include "burrowview.h"
#include "resources.h"

namespace {

// What a name or list dialog was opened for, and the name it ends with.
struct NAME_REQUEST {
  int command = 0;
  std::string name;
};

int Box(const char *text, const char *caption, UINT type) { return MessageBoxA(g_MainWnd, text, caption, type); }

std::string Trimmed(const char *text) {
  std::string s = text;
  const size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// OK of the name dialog: a name that would break the INI file is refused,
// and an existing one is replaced only when the person says so.
bool AcceptName(HWND dlg, NAME_REQUEST *request) {
  char text[kMaxBookmarkName + 2] = {};
  GetDlgItemTextA(dlg, IDC_BM_NAME, text, sizeof text);
  const std::string name = Trimmed(text);
  const bool bookmark = request->command == IDM_SAVE_BOOKMARK;
  const std::string problem = NameProblem(name, bookmark);
  if (!problem.empty()) {
    MessageBoxA(dlg, (problem + " Choose another name.").c_str(), kBurrowviewName, MB_OK | MB_ICONEXCLAMATION);
    return false;
  }
  char question[400];
  if (bookmark && BookmarkExists(PrivateIniPath(), name)) {
    snprintf(question, sizeof question, "There is already a Bookmark named \"%s\".  Do you want to overwrite?",
             name.c_str());
    if (MessageBoxA(dlg, question, "Bookmark found", MB_YESNO | MB_ICONQUESTION) != IDYES) return false;
    DeleteBookmark(PrivateIniPath(), name);
  } else if (!bookmark && CheckpointExists(PrivateIniPath(), name)) {
    snprintf(question, sizeof question, "There is already a Checkpoint named \"%s\".  Do you want to overwrite?",
             name.c_str());
    if (MessageBoxA(dlg, question, "Checkpoint found", MB_YESNO | MB_ICONQUESTION) != IDYES) return false;
  }
  request->name = name;
  return true;
}

INT_PTR CALLBACK NameDlgProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
  static NAME_REQUEST *request;
  if (INT_PTR brush = DialogColour(message, wParam)) return brush;
  switch (message) {
    case WM_INITDIALOG: {
      request = reinterpret_cast<NAME_REQUEST *>(lParam);
      const bool bookmark = request->command == IDM_SAVE_BOOKMARK;
      SetWindowTextA(dlg, bookmark ? "Save Bookmark" : "Save Checkpoint");
      SetDlgItemTextA(dlg, IDC_BM_NAME_LABEL, bookmark ? "Bookmark Name:" : "Checkpoint Name:");
      SendDlgItemMessageA(dlg, IDC_BM_NAME, EM_LIMITTEXT, kMaxBookmarkName, 0);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK && AcceptName(dlg, request))
        EndDialog(dlg, 1);
      else if (LOWORD(wParam) == IDCANCEL)
        EndDialog(dlg, 2);
      return TRUE;
  }
  return FALSE;
}

struct LIST_DIALOG_ROW {
  int command;
  const char *templateName;
  const char *caption;  // also the label
  const char *okText;
  bool checkpoints;  // rows: the checkpoints, else the bookmarks
};

const LIST_DIALOG_ROW kListDialogs[] = {
    {IDM_DELETE_BOOKMARK, "BMSel", "Delete Bookmark", "&Delete", false},
    {IDM_GOTO_BOOKMARK, "BMGoto", "Select Bookmark", "Select", false},
    {IDM_REMOVE_CHECKPOINT, "BMSel", "Delete Checkpoint", "&Delete", true},
    {IDM_LOAD_CHECKPOINT, "BMGoto", "Select Checkpoint", "Select", true},
};

const LIST_DIALOG_ROW *ListDialogOf(int command) {
  for (const LIST_DIALOG_ROW &row : kListDialogs)
    if (row.command == command) return &row;
  return nullptr;
}

void FillNameList(HWND dlg, const LIST_DIALOG_ROW &row) {
  const std::vector<std::string> names =
      row.checkpoints ? ListCheckpoints(PrivateIniPath()) : ListIniSections(PrivateIniPath(), "Host");
  for (const std::string &name : names)
    SendDlgItemMessageA(dlg, IDC_BM_LIST, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
  SendDlgItemMessageA(dlg, IDC_BM_LIST, CB_SETCURSEL, 0, 0);
}

std::string SelectedName(HWND dlg) {
  const LRESULT row = SendDlgItemMessageA(dlg, IDC_BM_LIST, CB_GETCURSEL, 0, 0);
  if (row < 0) return {};
  const LRESULT length = SendDlgItemMessageA(dlg, IDC_BM_LIST, CB_GETLBTEXTLEN, row, 0);
  if (length < 0 || length > 1024) return {};
  std::string name(static_cast<size_t>(length) + 1, '\0');
  SendDlgItemMessageA(dlg, IDC_BM_LIST, CB_GETLBTEXT, row, reinterpret_cast<LPARAM>(name.data()));
  name.resize(static_cast<size_t>(length));
  return name;
}

INT_PTR CALLBACK BookmarkListDlgProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
  static NAME_REQUEST *request;
  if (INT_PTR brush = DialogColour(message, wParam)) return brush;
  switch (message) {
    case WM_INITDIALOG: {
      request = reinterpret_cast<NAME_REQUEST *>(lParam);
      const LIST_DIALOG_ROW &row = *ListDialogOf(request->command);
      SetWindowTextA(dlg, row.caption);
      SetDlgItemTextA(dlg, IDC_BM_LIST_LABEL, row.caption);
      SetDlgItemTextA(dlg, IDOK, row.okText);
      FillNameList(dlg, row);
      if (GetDlgItem(dlg, IDC_BM_NO_CLEAR))
        CheckRadioButton(dlg, IDC_BM_NO_CLEAR, IDC_BM_CLEAR, g_ClearFirst ? IDC_BM_CLEAR : IDC_BM_NO_CLEAR);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        // The choice holds until the program ends; it is not written.
        case IDC_BM_NO_CLEAR:
        case IDC_BM_CLEAR:
          g_ClearFirst = LOWORD(wParam) == IDC_BM_CLEAR;
          CheckRadioButton(dlg, IDC_BM_NO_CLEAR, IDC_BM_CLEAR, LOWORD(wParam));
          break;
        case IDOK:
          request->name = SelectedName(dlg);
          EndDialog(dlg, 1);
          break;
        case IDCANCEL: EndDialog(dlg, 2); break;
      }
      return TRUE;
  }
  return FALSE;
}

bool AskName(int command, std::string *name) {
  NAME_REQUEST request{command, {}};
  if (DialogBoxParamA(g_Instance, "BMName", g_MainWnd, NameDlgProc, reinterpret_cast<LPARAM>(&request)) != 1)
    return false;
  *name = request.name;
  return true;
}

bool ChooseName(int command, std::string *name) {
  NAME_REQUEST request{command, {}};
  if (DialogBoxParamA(g_Instance, ListDialogOf(command)->templateName, g_MainWnd, BookmarkListDlgProc,
                      reinterpret_cast<LPARAM>(&request)) != 1)
    return false;
  *name = request.name;
  return true;
}

// The item of the selected tree row, else of the first row.
GopherItem *ItemToBookmark() {
  HWND tree = GetDlgItem(g_Dlg, IDC_TREE_LIST);
  LRESULT row = SendMessageA(tree, LB_GETCURSEL, 0, 0);
  if (row == LB_ERR) row = 0;
  if (row >= SendMessageA(tree, LB_GETCOUNT, 0, 0)) return nullptr;
  return reinterpret_cast<GopherItem *>(SendMessageA(tree, LB_GETITEMDATA, static_cast<WPARAM>(row), 0));
}

void SaveBookmark() {
  GopherItem *item = ItemToBookmark();
  if (!item) {
    Box("No Gopher selected", kBurrowviewError, MB_OK);
    return;
  }
  const std::string problem = BookmarkItemProblem(*item);
  if (!problem.empty()) {
    Box(("This item cannot be kept as a bookmark: " + problem + ".").c_str(), kBurrowviewError, MB_OK | MB_ICONSTOP);
    return;
  }
  std::string name;
  if (!AskName(IDM_SAVE_BOOKMARK, &name)) return;
  if (!WriteBookmark(PrivateIniPath(), name, *item)) {
    char text[600];
    snprintf(text, sizeof text, "The bookmark \"%s\" could not be written to %s (error %lu).", name.c_str(),
             PrivateIniPath(), static_cast<unsigned long>(GetLastError()));
    Box(text, kBurrowviewError, MB_OK | MB_ICONSTOP);
  }
}

void OpenBookmark(const std::string &name, const char *emptyText) {
  if (GopherItem *item = BookmarkItem(PrivateIniPath(), name, emptyText)) AddRootWithTitle(item);
}

void LoadCheckpointWaiting(const std::string &name, const char *emptyText) {
  HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  LoadCheckpointCommand(PrivateIniPath(), name, g_ClearFirst, emptyText);
  SetCursor(old);
}

}  // namespace

void AddRootWithTitle(GopherItem *item) {
  char title[300];
  snprintf(title, sizeof title, "%s - %.255s", kBurrowviewName, item->host.c_str());
  SetWindowTextA(g_MainWnd, title);
  AddRootItem(item, g_ClearFirst);
}

void BookmarkCommand(HWND window, int id) {
  std::string name;
  switch (id) {
    case IDM_HOME_CHECKPOINT: LoadCheckpointWaiting(g_HomeCheckpoint, "No Home Checkpoint specified"); break;
    case IDM_HOME_BOOKMARK: OpenBookmark(g_HomeBookmark, "No Home bookmark specified"); break;
    case IDM_SAVE_BOOKMARK: SaveBookmark(); break;
    case IDM_DELETE_BOOKMARK:
      if (ChooseName(id, &name) && !name.empty()) DeleteBookmark(PrivateIniPath(), name);
      break;
    case IDM_GOTO_BOOKMARK:
      if (ChooseName(id, &name)) OpenBookmark(name, "No bookmark specified");
      break;
    case IDM_CHECKPOINT:
      if (AskName(id, &name)) {
        HCURSOR old = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        SaveCheckpoint(PrivateIniPath(), name);
        SetCursor(old);
      }
      break;
    case IDM_REMOVE_CHECKPOINT:
      if (ChooseName(id, &name) && !name.empty()) RemoveCheckpoint(PrivateIniPath(), name);
      break;
    case IDM_LOAD_CHECKPOINT:
      if (ChooseName(id, &name)) LoadCheckpointWaiting(name, "No Checkpoint specified");
      break;
  }
}
