// The folder dialogs over an owner-drawn tree list. Each dialog keeps its
// rows (with their full paths) in a record of its own, so "NewFolder" opened
// from "Move" does not disturb the list below it.
#include "folderdlg.h"

#include <memory>
#include <vector>

#include "folders.h"
#include "retrieve.h"
#include "settings.h"

#include <qxcommon.h>

int g_FolderListChanged = 0;

namespace {

enum {
  IDS_NEW_MAIL_ROW = 75,
  IDS_NO_MOVE_FOLDER = 96,
  IDS_MOVE = 97,
  IDS_NO_DELETE_FOLDER = 98,
  IDS_DELETE = 99,
  IDS_HAS_SUBFOLDERS = 100,
  IDS_CANNOT_DELETE = 101,
  IDS_MAIN_FOLDER_ROW = 102,
  IDS_INVALID_FOLDER = 103,
  IDS_CREATE_FOLDER = 104,
};

constexpr DWORD kDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kTreeStyle = LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_CHILD |
                             WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP;

const QX_DIALOG_ITEM kMoveItems[] = {
    QX_CONTROL("", IDC_FOLDER_LIST, "ListBox", kTreeStyle, 6, 6, 150, 110),
    QX_DEFPUSHBUTTON("OK", IDOK, 164, 6, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 164, 24, 44, 14),
    QX_PUSHBUTTON("&New...", IDC_FOLDER_NEW, 164, 48, 44, 14),
};
const QX_DIALOG kMove =
    QX_DIALOG_TEMPLATE(30, 30, 214, 122, kDialogStyle, "Move Messages", "MS Sans Serif", 8, kMoveItems);

const QX_DIALOG_ITEM kNewFolderItems[] = {
    QX_LTEXT("&Folder Name:", -1, 6, 8, 50, 8),
    QX_CONTROL("", IDC_FOLDER_NAME, "Edit", ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP,
               58, 6, 98, 12),
    QX_LTEXT("&Create in:", -1, 6, 24, 60, 8),
    QX_CONTROL("", IDC_FOLDER_LIST, "ListBox", kTreeStyle, 6, 34, 150, 90),
    QX_DEFPUSHBUTTON("OK", IDOK, 164, 6, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 164, 24, 44, 14),
};
const QX_DIALOG kNewFolder =
    QX_DIALOG_TEMPLATE(30, 30, 214, 130, kDialogStyle, "Create Folder", "MS Sans Serif", 8, kNewFolderItems);

const QX_DIALOG_ITEM kDeleteItems[] = {
    QX_CONTROL("", IDC_FOLDER_LIST, "ListBox", kTreeStyle, 6, 6, 150, 110),
    QX_DEFPUSHBUTTON("OK", IDOK, 164, 6, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 164, 24, 44, 14),
};
const QX_DIALOG kDelete =
    QX_DIALOG_TEMPLATE(30, 30, 214, 122, kDialogStyle, "Delete Folder", "MS Sans Serif", 8, kDeleteItems);

const QX_RESOURCE kFolderResources[] = {
    QX_RES_DIALOG("Move", kMove),
    QX_RES_DIALOG("NewFolder", kNewFolder),
    QX_RES_DIALOG("Delete", kDelete),
    QX_STRING(IDS_NEW_MAIL_ROW, "New Mail"),
    QX_STRING(IDS_NO_MOVE_FOLDER, "No Folder Selected; Move Cancelled."),
    QX_STRING(IDS_MOVE, "Move"),
    QX_STRING(IDS_NO_DELETE_FOLDER, "No Folder Selected; Delete Cancelled."),
    QX_STRING(IDS_DELETE, "Delete"),
    QX_STRING(IDS_HAS_SUBFOLDERS, "Folder has subfolders"),
    QX_STRING(IDS_CANNOT_DELETE, "Cannot Delete Folder"),
    QX_STRING(IDS_MAIN_FOLDER_ROW, "Main Folder"),
    QX_STRING(IDS_INVALID_FOLDER, "Invalid Folder Name; Folder not Created."),
    QX_STRING(IDS_CREATE_FOLDER, "Create Folder"),
};

std::string Text(UINT id) {
  char buffer[128] = {};
  LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return buffer;
}

void Box(HWND owner, UINT text, UINT caption, UINT type) {
  g_MailMessageBox(owner, Text(text).c_str(), Text(caption).c_str(), type);
}

TREE_LIST *ListOf(HWND dialog) { return reinterpret_cast<TREE_LIST *>(GetWindowLongPtrA(dialog, GWLP_USERDATA)); }

bool SamePath(const std::string &a, const std::string &b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

// Fills the dialog's list from the mail directory.
void FillTree(HWND dialog, TREE_LIST &list, UINT inboxText, const std::string &selectPath) {
  FillTreeList(GetDlgItem(dialog, IDC_FOLDER_LIST), list, inboxText ? Text(inboxText) : std::string(), selectPath);
}

int SelectedRow(HWND dialog, const TREE_LIST &list) {
  const LRESULT row = SendDlgItemMessageA(dialog, IDC_FOLDER_LIST, LB_GETCURSEL, 0, 0);
  return row >= 0 && static_cast<size_t>(row) < list.rows.size() ? static_cast<int>(row) : -1;
}

// Handles what the three dialogs share; true when the message was taken.
bool OnTreeMessage(HWND dialog, UINT message, LPARAM lParam, INT_PTR &result) {
  TREE_LIST *list = ListOf(dialog);
  switch (message) {
    case WM_MEASUREITEM:
      reinterpret_cast<MEASUREITEMSTRUCT *>(lParam)->itemHeight = kTreeGlyphWidth;
      result = TRUE;
      return true;
    case WM_DRAWITEM:
      if (list) DrawTreeRow(*list, *reinterpret_cast<const DRAWITEMSTRUCT *>(lParam));
      result = TRUE;
      return true;
    case WM_DESTROY:
      delete list;
      SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
      return false;
    default: return false;
  }
}

TREE_LIST &Attach(HWND dialog, TREE_LIST *list) {
  SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(list));
  return *list;
}

bool IsChoice(WPARAM wParam) {
  const UINT id = LOWORD(wParam);
  return id == IDOK || (id == IDC_FOLDER_LIST && HIWORD(wParam) == LBN_DBLCLK);
}

INT_PTR CALLBACK MoveProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  INT_PTR result = FALSE;
  if (OnTreeMessage(dialog, message, lParam, result)) return result;
  switch (message) {
    case WM_INITDIALOG: {
      TREE_LIST &list = Attach(dialog, new TREE_LIST);
      list.moveTarget = reinterpret_cast<std::string *>(lParam);
      FillTree(dialog, list, IDS_NEW_MAIL_ROW, Settings().lastTargetFolder);
      return TRUE;
    }
    case WM_COMMAND: {
      TREE_LIST &list = *ListOf(dialog);
      if (LOWORD(wParam) == IDC_FOLDER_NEW) {
        if (NewFolderDialog(dialog) != 0) FillTree(dialog, list, IDS_NEW_MAIL_ROW, Settings().lastTargetFolder);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      if (!IsChoice(wParam)) return FALSE;
      const int row = SelectedRow(dialog, list);
      if (row < 0) {
        Box(dialog, IDS_NO_MOVE_FOLDER, IDS_MOVE, MB_ICONINFORMATION);
        EndDialog(dialog, 0);
        return TRUE;
      }
      *list.moveTarget = list.rows[static_cast<size_t>(row)].path;
      Settings().lastTargetFolder = *list.moveTarget;
      EndDialog(dialog, 1);
      return TRUE;
    }
    default: return FALSE;
  }
}

INT_PTR CALLBACK NewFolderProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  INT_PTR result = FALSE;
  if (OnTreeMessage(dialog, message, lParam, result)) return result;
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageA(dialog, IDC_FOLDER_NAME, EM_LIMITTEXT, kFolderNameLimit, 0);
      FillTree(dialog, Attach(dialog, new TREE_LIST), IDS_MAIN_FOLDER_ROW, "");
      return TRUE;
    case WM_COMMAND: {
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 2);
        return TRUE;
      }
      if (LOWORD(wParam) != IDOK) return FALSE;
      char name[kFolderNameLimit + 2] = {};
      GetDlgItemTextA(dialog, IDC_FOLDER_NAME, name, sizeof name);
      if (!name[0]) {
        EndDialog(dialog, 2);
        return TRUE;
      }
      const TREE_LIST &list = *ListOf(dialog);
      const int row = SelectedRow(dialog, list);
      const std::string parent = row >= 0 ? list.rows[static_cast<size_t>(row)].path : Settings().mailDir;
      std::string path;
      if (CreateFolderNamed(parent, name, path) == 0)
        Settings().lastTargetFolder = path;
      else
        Box(dialog, IDS_INVALID_FOLDER, IDS_CREATE_FOLDER, MB_ICONEXCLAMATION);
      g_FolderListChanged = 1;
      EndDialog(dialog, 1);
      return TRUE;
    }
    default: return FALSE;
  }
}

INT_PTR CALLBACK DeleteProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  INT_PTR result = FALSE;
  if (OnTreeMessage(dialog, message, lParam, result)) return result;
  switch (message) {
    case WM_INITDIALOG: {
      TREE_LIST &list = Attach(dialog, new TREE_LIST);
      list.inboxRow = false;
      FillTree(dialog, list, 0, "");
      return TRUE;
    }
    case WM_COMMAND: {
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      if (!IsChoice(wParam)) return FALSE;
      const TREE_LIST &list = *ListOf(dialog);
      const int row = SelectedRow(dialog, list);
      if (row < 0) {
        Box(dialog, IDS_NO_DELETE_FOLDER, IDS_DELETE, MB_ICONINFORMATION);
        return TRUE;
      }
      const int removed = RemoveFolder(list.rows[static_cast<size_t>(row)].path);
      if (removed == kFolderHasSubfolders) {
        Box(dialog, IDS_HAS_SUBFOLDERS, IDS_CANNOT_DELETE, MB_ICONEXCLAMATION);
        return TRUE;
      }
      if (removed != 0) {
        g_MailMessageBox(dialog,
                         "The folder could not be removed: a file in it may be open or read-only. Close "
                         "what uses it and try again.",
                         Text(IDS_CANNOT_DELETE).c_str(), MB_ICONEXCLAMATION);
        return TRUE;
      }
      g_FolderListChanged = 1;
      EndDialog(dialog, 1);
      return TRUE;
    }
    default: return FALSE;
  }
}

}  // namespace

QX_REGISTER_RESOURCES(kFolderResources)

void FillTreeList(HWND box, TREE_LIST &list, const std::string &inboxText, const std::string &selectPath) {
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  SendMessageA(box, LB_RESETCONTENT, 0, 0);
  const std::string &mailDir = Settings().mailDir;
  list.rows.clear();
  if (list.inboxRow) {
    FOLDER_ROW inbox;
    inbox.text = inboxText;
    inbox.path = mailDir;
    list.rows.push_back(inbox);
  }
  const std::vector<FOLDER_ROW> tree = FolderTreeRows(mailDir, list.inboxRow ? 1 : 0, list.inboxRow ? 1 : 0);
  const int offset = static_cast<int>(list.rows.size());
  for (FOLDER_ROW row : tree) {
    if (row.parent >= 0) row.parent += offset;
    list.rows.push_back(row);
  }
  int selected = 0;
  for (size_t i = 0; i < list.rows.size(); ++i) {
    const LRESULT at = SendMessageA(box, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(list.rows[i].text.c_str()));
    SendMessageA(box, LB_SETITEMDATA, static_cast<WPARAM>(at), static_cast<LPARAM>(list.rows[i].itemData));
    if (!selectPath.empty() && SamePath(list.rows[i].path, selectPath)) selected = static_cast<int>(i);
  }
  if (!list.rows.empty()) SendMessageA(box, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  SetCursor(previous);
}

void DrawTreeRow(const TREE_LIST &list, const DRAWITEMSTRUCT &item) {
  if (item.itemID >= list.rows.size()) return;
  const FOLDER_ROW &row = list.rows[item.itemID];
  HDC dc = item.hDC;
  const RECT &r = item.rcItem;
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  const int depth = RowDepth(row.itemData);
  const int w = kTreeGlyphWidth;
  FillRect(dc, &r, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  // The folder picture: white when selected, yellow otherwise.
  const int gx = r.left + depth * w, gy = r.top + (r.bottom - r.top - 10) / 2;
  HBRUSH folder = CreateSolidBrush(selected ? RGB(255, 255, 255) : RGB(255, 255, 128));
  RECT tab{gx + 1, gy, gx + 7, gy + 2};
  RECT body{gx + 1, gy + 2, gx + w - 2, gy + 10};
  FillRect(dc, &tab, folder);
  FillRect(dc, &body, folder);
  FrameRect(dc, &body, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  DeleteObject(folder);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  TextOutA(dc, gx + w + 4, r.top, row.text.c_str(), static_cast<int>(row.text.size()));
  if (depth == 0) return;
  HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  HGDIOBJ old = SelectObject(dc, pen);
  const int x = r.left + w * (depth - 1) + w / 2 + 2, y = (r.top + r.bottom) / 2;
  MoveToEx(dc, x, y, nullptr);
  LineTo(dc, r.left + w * depth + 2, y);
  MoveToEx(dc, x, r.top - 1, nullptr);
  LineTo(dc, x, (row.itemData & kRowLaterSibling) ? r.bottom : y);
  const std::vector<bool> through = AncestorLines(list.rows, item.itemID);
  for (int d = 1; d < depth && static_cast<size_t>(d) < through.size(); ++d) {
    if (!through[static_cast<size_t>(d)]) continue;
    const int ax = r.left + w * (d - 1) + w / 2 + 2;
    MoveToEx(dc, ax, r.top, nullptr);
    LineTo(dc, ax, r.bottom);
  }
  SelectObject(dc, old);
  DeleteObject(pen);
}

INT_PTR MoveFolderDialog(HWND owner, std::string &target) {
  if (Settings().lastTargetFolder.empty()) Settings().lastTargetFolder = Settings().mailDir;
  return DialogBoxParamA(GetModuleHandleA(nullptr), "Move", owner, MoveProc, reinterpret_cast<LPARAM>(&target));
}

INT_PTR NewFolderDialog(HWND owner) {
  return DialogBoxParamA(GetModuleHandleA(nullptr), "NewFolder", owner, NewFolderProc, 0);
}

INT_PTR DeleteFolderDialog(HWND owner) {
  return DialogBoxParamA(GetModuleHandleA(nullptr), "Delete", owner, DeleteProc, 0);
}
