// The message list window. The messages of the current folder are ordered
// here and the list box (without data) only learns their count: a row is
// drawn from its place in the order, so a folder of any size shows at once. Reply,
// Reply-All and Forward start the compose window (Forward may redirect
// instead); Print prints the selected messages in row order.
#include "msglist.h"
#include "msgprint.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

#include "folderdlg.h"
#include "maildlg.h"
#include "mailstore.h"
#include "msgsort.h"
#include "viewer.h"
#include "redirect.h"
#include "retrieve.h"
#include "otherheaders.h"
#include "settings.h"
#include "startcompose.h"
#include "compose.h"

#include <qxcommon.h>

namespace {

enum {
  IDS_FOLDER_EMPTY = 78,
  IDS_FOLDER_DELETE = 79,
  IDS_NEW_MAIL = 75,
  IDS_HAS_SUBFOLDERS = 76,
  IDS_CANNOT_DELETE = 77,
  IDS_MAIL = 70,
  IDS_NO_MESSAGES = 71,
  IDS_FORWARD_BUTTON = 53,
  IDS_REDIRECT_BUTTON = 54,
  IDS_ALIAS_MANAGEMENT = 93,
  IDS_NO_ALIAS_LIBRARY = 95,
};

constexpr DWORD kDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kListStyle =
    LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP;
#define LIST_BUTTON(text, id, x) QX_PUSHBUTTON(text, id, x, 168, 40, 14)

// The folder tree, the message list, the count and the sort controls, which
// "Select" and "FindMessage" share.
// clang-format off
#define LIST_AND_SORT_CONTROLS                                                                                      \
  QX_CONTROL("", IDC_LIST_FOLDERS, "ListBox", kListStyle | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS, 4, 4, 96, 156),     \
  QX_CONTROL("", IDC_LIST_MESSAGES, "ListBox", kListStyle | LBS_OWNERDRAWFIXED | LBS_NODATA | LBS_EXTENDEDSEL, 104, 4, \
             336, 146),                                                                                              \
  QX_LTEXT("", IDC_LIST_COUNT, 104, 152, 120, 8),                                                                    \
  QX_CHECKBOX("Reverse Sort", IDC_LIST_REVERSE, 230, 151, 56, 10),                                                   \
  QX_CONTROL("Date", IDC_LIST_BYDATE, "Button", BS_AUTORADIOBUTTON | WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP,  \
             290, 151, 34, 10),                                                                                      \
  QX_CONTROL("From", IDC_LIST_BYFROM, "Button", BS_AUTORADIOBUTTON | WS_CHILD | WS_VISIBLE, 324, 151, 34, 10),       \
  QX_CONTROL("Subject", IDC_LIST_BYSUBJECT, "Button", BS_AUTORADIOBUTTON | WS_CHILD | WS_VISIBLE, 358, 151, 40, 10), \
  QX_CONTROL("Rcvd Time", IDC_LIST_BYARRIVAL, "Button", BS_AUTORADIOBUTTON | WS_CHILD | WS_VISIBLE, 398, 151, 44, 10)
// clang-format on

const QX_DIALOG_ITEM kSelectItems[] = {
    LIST_AND_SORT_CONTROLS,
    QX_DEFPUSHBUTTON("&Read", IDC_LIST_READ, 4, 168, 40, 14),
    LIST_BUTTON("E&xit", IDOK, 44),
    LIST_BUTTON("Repl&y", IDC_LIST_REPLY, 84),
    LIST_BUTTON("Reply-&All", IDC_LIST_REPLYALL, 124),
    LIST_BUTTON("For&ward", IDC_LIST_FORWARD, 164),
    LIST_BUTTON("&Print", IDC_LIST_PRINT, 204),
    LIST_BUTTON("&Help", IDC_LIST_HELP, 244),
    LIST_BUTTON("&File...", IDC_LIST_FILE, 284),
    LIST_BUTTON("&Delete", IDC_LIST_DELETE, 324),
    LIST_BUTTON("&Search...", IDC_LIST_SEARCH, 364),
    LIST_BUTTON("Re&trieve", IDC_LIST_RETRIEVE, 404),
};
const QX_DIALOG kSelect =
    QX_DIALOG_TEMPLATE(10, 10, 448, 188, kDialogStyle, "Read Mail", "MS Sans Serif", 8, kSelectItems);

// The picker of the message editor's "Include Message": the same lists and
// sort controls, "&Include" and "&Cancel".
const QX_DIALOG_ITEM kFindMessageItems[] = {
    LIST_AND_SORT_CONTROLS,
    QX_DEFPUSHBUTTON("&Include", IDC_LIST_READ, 4, 168, 40, 14),
    LIST_BUTTON("&Cancel", IDOK, 44),
};
const QX_DIALOG kFindMessage = QX_DIALOG_TEMPLATE(10, 10, 448, 188, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                                  "Include Mail Message", "MS Sans Serif", 8, kFindMessageItems);

const QX_DIALOG_ITEM kDeleteBoxItems[] = {
    QX_LTEXT("", IDC_DELETEBOX_TEXT, 6, 8, 260, 8),
    QX_DEFPUSHBUTTON("&Yes", IDC_DELETEBOX_YES, 60, 24, 44, 14),
    QX_PUSHBUTTON("&No", IDC_DELETEBOX_NO, 112, 24, 44, 14),
    QX_PUSHBUTTON("&All", IDC_DELETEBOX_ALL, 164, 24, 44, 14),
};
const QX_DIALOG kDeleteBox = QX_DIALOG_TEMPLATE(40, 40, 272, 44, DS_MODALFRAME | WS_POPUP | WS_CAPTION,
                                                "Delete Message", "MS Sans Serif", 8, kDeleteBoxItems);

const QX_DIALOG_ITEM kSearchItems[] = {
    QX_LTEXT("Search &for:", -1, 6, 8, 44, 8),
    QX_CONTROL("", IDC_SEARCH_TEXT, "Edit", ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP,
               52, 6, 150, 12),
    QX_CHECKBOX("&Headers Only", IDC_SEARCH_HEADERS, 52, 24, 70, 10),
    QX_CHECKBOX("Case &Sensitive", IDC_SEARCH_CASE, 126, 24, 76, 10),
    QX_DEFPUSHBUTTON("OK", IDOK, 208, 6, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 208, 24, 44, 14),
};
const QX_DIALOG kSearch = QX_DIALOG_TEMPLATE(40, 40, 258, 42, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                             "Search Messages", "MS Sans Serif", 8, kSearchItems);

const QX_DIALOG_ITEM kRedirectItems[] = {
    QX_CHECKBOX("&Redirect Message", IDC_REDIRECT_ON, 6, 6, 90, 10),
    QX_CHECKBOX("&Delivery-Receipt", IDC_REDIRECT_DELIVERY, 100, 6, 76, 10),
    QX_CHECKBOX("Read-Recei&pt", IDC_REDIRECT_READ, 180, 6, 70, 10),
    QX_PUSHBUTTON("Redirect-To:", IDC_REDIRECT_PICK, 6, 22, 50, 14),
    QX_CONTROL("", IDC_REDIRECT_TO, "Edit", ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP,
               60, 23, 190, 12),
    QX_DEFPUSHBUTTON("Forward", IDOK, 256, 6, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 256, 24, 44, 14),
};
const QX_DIALOG kRedirect = QX_DIALOG_TEMPLATE(40, 40, 306, 42, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                               "Forward Message", "MS Sans Serif", 8, kRedirectItems);

const QX_RESOURCE kListResources[] = {
    QX_RES_DIALOG("Select", kSelect),
    QX_RES_DIALOG("FindMessage", kFindMessage),
    QX_RES_DIALOG("ReDirect", kRedirect),
    QX_STRING(IDS_FORWARD_BUTTON, "Forward"),
    QX_STRING(IDS_REDIRECT_BUTTON, "ReDirect"),
    QX_RES_DIALOG("Search", kSearch),
    QX_RES_DIALOG("DeleteBox", kDeleteBox),
    QX_STRING(IDS_MAIL, "Mail"),
    QX_STRING(IDS_NO_MESSAGES, "No Messages Selected"),
    QX_STRING(IDS_HAS_SUBFOLDERS, "Folder has subfolders"),
    QX_STRING(IDS_CANNOT_DELETE, "Cannot Delete Folder"),
    QX_STRING(IDS_FOLDER_EMPTY, "Folder Empty, Remove Folder ?"),
    QX_STRING(IDS_FOLDER_DELETE, "Folder Delete"),
};

constexpr int kBitmapWidth = 16;  // the message picture before each row

std::string Text(UINT id) {
  char buffer[128] = {};
  LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return buffer;
}

// What the open list shows. A folder opens with its message count and the
// keys of its first screen, in order and built; the keys of all its messages
// are read and ordered when a row past those is first needed, and entries are
// built a screenful at a time as their rows are shown.
struct LIST_STATE {
  HWND owner = nullptr;
  HWND dialog = nullptr;  // the dialog whose list this is
  bool picking = false;   // "FindMessage": Include ends the dialog with the selected numbers
  std::vector<int32_t> picked;
  TREE_LIST folders;
  size_t count = 0;           // rows of the list
  std::vector<MSG_KEY> keys;  // in row order: the first screen's, or all
  bool allKeys = false;
  std::unordered_map<uint32_t, MSG_ENTRY> entries;  // built entries by index record
};
constexpr size_t kFirstScreenRows = 64;

// The search, kept apart from anything "Move" returns.
struct SEARCH {
  std::string text;
  bool headersOnly = false;
  bool caseSensitive = false;  // kept between searches
  bool active = false;
};
SEARCH g_search;
LIST_STATE g_list;
// "Select" and "FindMessage" (opened from the editor of a reply started in
// "Select") each have their own list: the one whose dialog is being handled
// is in g_list, the other waits here.
LIST_STATE g_otherList;

// Makes g_list the list of dialog, trading places with the other open list.
void UseListOf(HWND dialog) {
  if (g_list.dialog != dialog && g_otherList.dialog == dialog) std::swap(g_list, g_otherList);
}

int TabUnit() { return 8 * LOWORD(GetDialogBaseUnits()); }

// Row widths as the list box draws them.
class ListMeasure : public RowMeasure {
 public:
  explicit ListMeasure(HWND list) : list_(list), dc_(GetDC(list)) {
    tabUnit = TabUnit();
    bitmapWidth = kBitmapWidth;
    old_ = SelectObject(dc_, reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0)));
  }
  ~ListMeasure() override {
    SelectObject(dc_, old_);
    ReleaseDC(list_, dc_);
  }
  int TextWidth(const std::string &text) override {
    SIZE size{};
    GetTextExtentPoint32A(dc_, text.c_str(), static_cast<int>(text.size()), &size);
    return size.cx;
  }

 private:
  HWND list_;
  HDC dc_;
  HGDIOBJ old_ = nullptr;
};

HWND Messages(HWND dialog) { return GetDlgItem(dialog, IDC_LIST_MESSAGES); }

size_t RowCount() { return g_list.count; }

void ShowCount(HWND dialog) {
  SetDlgItemTextA(dialog, IDC_LIST_COUNT, MessageCountText(static_cast<int>(RowCount())).c_str());
}

void KeepEntries(std::vector<MSG_ENTRY> built) {
  for (MSG_ENTRY &entry : built) {
    const uint32_t record = entry.record;
    g_list.entries.insert_or_assign(record, std::move(entry));
  }
}

// The entry of a row, in list order and with its row text. A row the index
// no longer has (it changed since the list was filled) is an empty entry.
const MSG_ENTRY &EntryOfRow(HWND list, size_t row) {
  const MAIL_SETTINGS &s = Settings();
  if (row >= g_list.keys.size() && !g_list.allKeys) {
    LoadMessageKeys(s.currentFolder, g_list.keys);
    SortMessageKeys(g_list.keys, s.sortOrder, s.reverseSortOrder != 0);
    g_list.allKeys = true;
  }
  static const MSG_ENTRY kNoEntry;
  if (row >= g_list.keys.size()) return kNoEntry;
  const uint32_t record = g_list.keys[row].record;
  if (!g_list.entries.contains(record)) {
    ListMeasure measure(list);
    KeepEntries(BuildEntries(s.currentFolder, g_list.keys, row, row + kFirstScreenRows, measure));
  }
  return g_list.entries.at(record);
}
const MSG_ENTRY &EntryOfRow(HWND list, int row) { return EntryOfRow(list, static_cast<size_t>(row)); }

// Reads the current folder's index again and fills the list; its first
// screen is ordered and built before the list shows.
void RefillMessages(HWND dialog) {
  const MAIL_SETTINGS &s = Settings();
  HWND list = Messages(dialog);
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  g_list.entries.clear();
  {
    ListMeasure measure(list);
    const bool reverse = s.reverseSortOrder != 0;
    if (s.sortOrder == kSortFrom || s.sortOrder == kSortSubject) {
      // These order by the rows' columns: every row is built first.
      SelectMessageList(0);
      BuildMessageList(s.currentFolder, measure);
      std::vector<MSG_ENTRY> &all = CurrentMessageList();
      SortMessageEntries(all, s.sortOrder, reverse);
      g_list.keys.clear();
      for (const MSG_ENTRY &e : all) g_list.keys.push_back(MSG_KEY{e.date, e.arrival, e.number, e.record, e.flags});
      g_list.count = g_list.keys.size();
      g_list.allKeys = true;
      KeepEntries(std::move(all));
      FreeMessageList();
    } else {
      g_list.count =
          static_cast<size_t>(ChooseFirstKeys(s.currentFolder, kFirstScreenRows, s.sortOrder, reverse, g_list.keys));
      g_list.allKeys = g_list.keys.size() == g_list.count;
      KeepEntries(BuildEntries(s.currentFolder, g_list.keys, 0, g_list.keys.size(), measure));
    }
  }
  // A list without data: its rows are the keys' places, drawn from EntryOfRow.
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  SendMessageA(list, LB_SETCOUNT, RowCount(), 0);
  InvalidateRect(list, nullptr, TRUE);
  ShowCount(dialog);
  SetCursor(previous);
}

void RefillFolders(HWND dialog) {
  FillTreeList(GetDlgItem(dialog, IDC_LIST_FOLDERS), g_list.folders, Text(IDS_NEW_MAIL), Settings().currentFolder);
  g_FolderListChanged = 0;
}

void SelectRow(HWND dialog, int row) {
  const int count = static_cast<int>(RowCount());
  if (count == 0) return;
  SendMessageA(Messages(dialog), LB_SETSEL, FALSE, -1);
  SendMessageA(Messages(dialog), LB_SETSEL, TRUE, std::clamp(row, 0, count - 1));
}

// The selected rows in row order; none: the "No Messages Selected" box.
std::vector<int> SelectedRows(HWND dialog) {
  HWND list = Messages(dialog);
  const LRESULT count = SendMessageA(list, LB_GETSELCOUNT, 0, 0);
  std::vector<int> rows(count > 0 ? static_cast<size_t>(count) : 0);
  if (!rows.empty())
    SendMessageA(list, LB_GETSELITEMS, static_cast<WPARAM>(rows.size()), reinterpret_cast<LPARAM>(rows.data()));
  std::erase_if(rows, [](int r) { return r < 0 || static_cast<size_t>(r) >= RowCount(); });
  if (rows.empty()) g_MailMessageBox(dialog, Text(IDS_NO_MESSAGES).c_str(), Text(IDS_MAIL).c_str(), MB_ICONEXCLAMATION);
  return rows;
}

bool IsInbox(const std::string &folder) { return lstrcmpiA(folder.c_str(), Settings().mailDir.c_str()) == 0; }

INT_PTR CALLBACK DeleteBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(dialog, IDC_DELETEBOX_TEXT, reinterpret_cast<const char *>(lParam));
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_DELETEBOX_YES: EndDialog(dialog, 1); return TRUE;
        case IDC_DELETEBOX_NO:
        case IDCANCEL: EndDialog(dialog, 0); return TRUE;
        case IDC_DELETEBOX_ALL: EndDialog(dialog, 2); return TRUE;
        default: return FALSE;
      }
    default: return FALSE;
  }
}

// An empty folder other than the inbox is offered for removal.
void OfferFolderRemoval(HWND dialog) {
  MAIL_SETTINGS &s = Settings();
  if (g_MailMessageBox(dialog, Text(IDS_FOLDER_EMPTY).c_str(), Text(IDS_FOLDER_DELETE).c_str(),
                       MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
    return;
  const int removed = RemoveFolder(s.currentFolder);
  if (removed == kFolderHasSubfolders) {
    g_MailMessageBox(dialog, Text(IDS_HAS_SUBFOLDERS).c_str(), Text(IDS_CANNOT_DELETE).c_str(), MB_ICONEXCLAMATION);
    return;
  }
  if (removed != 0) {
    g_MailMessageBox(dialog,
                     "The folder could not be removed: a file in it may be open or read-only. Close what uses it "
                     "and try again.",
                     Text(IDS_CANNOT_DELETE).c_str(), MB_ICONEXCLAMATION);
    return;
  }
  s.currentFolder = s.mailDir;
  RefillFolders(dialog);
  RefillMessages(dialog);
}

void OnDelete(HWND dialog) {
  const std::string folder = Settings().currentFolder;
  if (g_list.keys.empty() && !IsInbox(folder)) {
    OfferFolderRemoval(dialog);
    return;
  }
  const std::vector<int> rows = SelectedRows(dialog);
  if (rows.empty()) return;
  bool askAgain = true;
  for (int row : rows) {
    const MSG_ENTRY &entry = EntryOfRow(Messages(dialog), row);
    if (askAgain) {
      const INT_PTR answer = DialogBoxParamA(GetModuleHandleA(nullptr), "DeleteBox", dialog, DeleteBoxProc,
                                             reinterpret_cast<LPARAM>(entry.rowText.c_str()));
      if (answer == 0) continue;
      if (answer == 2) askAgain = false;
    }
    StoreDeleteMessage(folder, entry.number);
  }
  RefillMessages(dialog);
  SelectRow(dialog, rows.front());
}

void OnFile(HWND dialog) {
  const std::vector<int> rows = SelectedRows(dialog);
  if (rows.empty()) return;
  std::string target;
  if (MoveFolderDialog(dialog, target) != 1) return;
  const std::string folder = Settings().currentFolder;
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  if (lstrcmpiA(target.c_str(), folder.c_str()) != 0)
    for (int row : rows) StoreMoveMessage(folder, target, EntryOfRow(Messages(dialog), row).number);
  SetCursor(previous);
  RefillMessages(dialog);
  if (g_FolderListChanged) RefillFolders(dialog);
  SelectRow(dialog, rows.front());
}

// Moves a message out of the inbox into its "mail" folder (made when missing).
void MoveToMailFolder(const MSG_ENTRY &entry) {
  const std::string mail = Settings().mailDir + "\\mail";
  if (StoreMoveMessage(Settings().mailDir, mail, entry.number) == kStoreNoIndex && StoreCreateFolder(mail) == 0) {
    g_FolderListChanged = 1;
    StoreMoveMessage(Settings().mailDir, mail, entry.number);
  }
}

// Read: the viewer for the first selected row and, as the viewer asks, the
// rows after it; then the list shows what is left.
void ReadMessages(HWND dialog) {
  const int count = static_cast<int>(RowCount());
  if (count == 0) return;
  HWND list = Messages(dialog);
  int first = 0;
  if (SendMessageA(list, LB_GETSELCOUNT, 0, 0) > 0)
    SendMessageA(list, LB_GETSELITEMS, 1, reinterpret_cast<LPARAM>(&first));
  const std::string folder = Settings().currentFolder;
  bool autoAdvance = Settings().autoAdvance != 0;
  bool refill = false;
  int removed = 0, last = first;
  for (int row = first; row >= 0 && row < count; ++row) {
    if (g_search.active && !MessageHoldsText(MessagePath(folder, static_cast<uint64_t>(EntryOfRow(list, row).number)),
                                             g_search.text, g_search.headersOnly, g_search.caseSensitive))
      continue;
    last = row;
    SelectRow(dialog, row);
    RECT r;
    GetWindowRect(dialog, &r);
    const MSG_ENTRY entry = EntryOfRow(list, row);
    const INT_PTR result = ReadMessageDialog(dialog, folder, entry, POINT{r.left, r.top}, autoAdvance, g_search.active);
    SendMessageA(list, LB_SETSEL, FALSE, row);
    bool goOn = false;
    if (result == IDC_VIEW_DELETE) {
      ++removed;
      refill = true;
      goOn = autoAdvance;
    } else if (result == IDC_VIEW_NEXT) {
      if (IsInbox(folder)) {
        MoveToMailFolder(entry);
        ++removed;
        refill = true;
      }
      goOn = true;
    } else if (result == IDC_VIEW_FILE) {
      std::string target;
      if (MoveFolderDialog(dialog, target) == 1) {
        if (lstrcmpiA(target.c_str(), folder.c_str()) != 0) StoreMoveMessage(folder, target, entry.number);
        ++removed;
        refill = true;
        goOn = autoAdvance;
      }
    }
    if (g_FolderListChanged) RefillFolders(dialog);
    if (!goOn) break;
  }
  if (refill) RefillMessages(dialog);
  SelectRow(dialog, last - removed);
  g_search.active = false;
}

INT_PTR CALLBACK SearchProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageA(dialog, IDC_SEARCH_TEXT, EM_LIMITTEXT, 120, 0);
      SetDlgItemTextA(dialog, IDC_SEARCH_TEXT, g_search.text.c_str());
      g_search.headersOnly = false;  // cleared each time; the case option is kept
      CheckDlgButton(dialog, IDC_SEARCH_CASE, g_search.caseSensitive ? BST_CHECKED : BST_UNCHECKED);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_SEARCH_HEADERS:
          g_search.headersOnly = !g_search.headersOnly;
          CheckDlgButton(dialog, IDC_SEARCH_HEADERS, g_search.headersOnly ? BST_CHECKED : BST_UNCHECKED);
          return TRUE;
        case IDC_SEARCH_CASE:
          g_search.caseSensitive = !g_search.caseSensitive;
          CheckDlgButton(dialog, IDC_SEARCH_CASE, g_search.caseSensitive ? BST_CHECKED : BST_UNCHECKED);
          return TRUE;
        case IDOK: {
          char text[122] = {};
          GetDlgItemTextA(dialog, IDC_SEARCH_TEXT, text, sizeof text);
          g_search.text = text;
          EndDialog(dialog, text[0] ? 1 : 0);  // an empty text searches for nothing
          return TRUE;
        }
        case IDCANCEL: EndDialog(dialog, 0); return TRUE;
        default: return FALSE;
      }
    default: return FALSE;
  }
}

// The receipts asked for a redirect, kept between uses of "ReDirect".
int g_redirectFlags = 0;
bool g_redirectOn = false;

void ShowRedirectState(HWND dialog) {
  CheckDlgButton(dialog, IDC_REDIRECT_ON, g_redirectOn ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, IDC_REDIRECT_DELIVERY, (g_redirectFlags & kSendReturnReceipt) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, IDC_REDIRECT_READ, (g_redirectFlags & kSendReadReceipt) ? BST_CHECKED : BST_UNCHECKED);
  for (int id : {IDC_REDIRECT_DELIVERY, IDC_REDIRECT_READ, IDC_REDIRECT_TO, IDC_REDIRECT_PICK})
    EnableWindow(GetDlgItem(dialog, id), g_redirectOn);
  SetDlgItemTextA(dialog, IDOK, Text(g_redirectOn ? IDS_REDIRECT_BUTTON : IDS_FORWARD_BUTTON).c_str());
}

INT_PTR CALLBACK RedirectProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      g_redirectOn = false;  // unchecked each time; the receipts are kept
      ShowRedirectState(dialog);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_REDIRECT_ON: g_redirectOn = !g_redirectOn; break;
        case IDC_REDIRECT_DELIVERY: g_redirectFlags ^= kSendReturnReceipt; break;
        case IDC_REDIRECT_READ: g_redirectFlags ^= kSendReadReceipt; break;
        case IDC_REDIRECT_PICK: {
          const std::optional<std::string> alias = g_PickBccAlias ? g_PickBccAlias(dialog) : std::nullopt;
          if (!g_PickBccAlias) {
            g_MailMessageBox(dialog, Text(IDS_NO_ALIAS_LIBRARY).c_str(), Text(IDS_ALIAS_MANAGEMENT).c_str(),
                             MB_ICONEXCLAMATION);
          } else if (alias) {
            char text[1024] = {};
            GetDlgItemTextA(dialog, IDC_REDIRECT_TO, text, sizeof text);
            const std::string joined = std::string(text) + (text[0] ? ", " : "") + *alias;
            SetDlgItemTextA(dialog, IDC_REDIRECT_TO, joined.c_str());
          }
          return TRUE;
        }
        case IDOK: {
          if (!g_redirectOn) {
            EndDialog(dialog, 1);
            return TRUE;
          }
          const int length = GetWindowTextLengthA(GetDlgItem(dialog, IDC_REDIRECT_TO));
          std::string to(static_cast<size_t>(length) + 1, '\0');
          GetDlgItemTextA(dialog, IDC_REDIRECT_TO, to.data(), length + 1);
          to.resize(std::strlen(to.c_str()));
          SEND_HEADER &h = CurrentSendHeader();
          h.reDirect = to;
          h.flags = g_redirectFlags;
          EndDialog(dialog, 2);
          return TRUE;
        }
        case IDCANCEL: EndDialog(dialog, 0); return TRUE;
        default: return FALSE;
      }
      ShowRedirectState(dialog);
      return TRUE;
    default: return FALSE;
  }
}

// Reply, Reply-All and Forward inside a new message: the compose window on
// the selected messages.
void ComposeOnSelection(HWND dialog, int mode, const std::vector<int> &rows) {
  std::vector<int32_t> numbers;
  for (int row : rows) numbers.push_back(EntryOfRow(Messages(dialog), row).number);
  const int wasBusy = g_MailBusy;
  g_MailBusy = 1;
  StartCompose(dialog, mode, Settings().currentFolder, numbers);
  g_MailBusy = wasBusy;
}

void OnReply(HWND dialog, int mode) {
  const std::vector<int> rows = SelectedRows(dialog);
  if (!rows.empty()) ComposeOnSelection(dialog, mode, rows);
}

// Forward: the selected messages forwarded inside a new message; with
// ReDirectPrompt, "ReDirect" first offers to redirect them unchanged.
void OnForward(HWND dialog) {
  const std::vector<int> rows = SelectedRows(dialog);
  if (rows.empty()) return;
  const INT_PTR choice = Settings().reDirectPrompt ? RedirectDialog(dialog) : 1;
  if (choice == 0) return;
  if (choice == 1) {
    ComposeOnSelection(dialog, kComposeForward, rows);
    return;
  }
  std::vector<int32_t> numbers;
  for (int row : rows) numbers.push_back(EntryOfRow(Messages(dialog), row).number);
  const int wasBusy = g_MailBusy;
  g_MailBusy = 1;
  RedirectMessages(dialog, Settings().currentFolder, numbers);
  g_MailBusy = wasBusy;
}

// Print: each selected message in row order, until one cannot be printed.
void OnPrint(HWND dialog) {
  for (int row : SelectedRows(dialog))
    if (!PrintMessage(dialog, Settings().currentFolder, EntryOfRow(Messages(dialog), row).number)) break;
}

// Search...: reading from the first selected row, messages without the text skipped.
void OnSearch(HWND dialog) {
  if (DialogBoxParamA(GetModuleHandleA(nullptr), "Search", dialog, SearchProc, 0) != 1) return;
  g_search.active = true;
  ReadMessages(dialog);
}

void OnSortChange(HWND dialog, UINT id) {
  MAIL_SETTINGS &s = Settings();
  if (id == IDC_LIST_REVERSE)
    s.reverseSortOrder = s.reverseSortOrder ? 0 : 1;  // a plain check box: the program keeps its state
  else
    s.sortOrder = static_cast<int>(id - IDC_LIST_BYDATE);
  CheckDlgButton(dialog, IDC_LIST_REVERSE, s.reverseSortOrder ? BST_CHECKED : BST_UNCHECKED);
  CheckRadioButton(dialog, IDC_LIST_BYDATE, IDC_LIST_BYARRIVAL, IDC_LIST_BYDATE + s.sortOrder);
  if (ProfileAccess *profile = GetProfileAccess()) {
    profile->Set(s.iniFile, s.user, "SortOrder", std::to_string(s.sortOrder));
    profile->Set(s.iniFile, s.user, "ReverseSortOrder", s.reverseSortOrder ? "True" : "False");
  }
  RefillMessages(dialog);
}

void OnRetrieve(HWND dialog) {
  RetrieveMail(g_list.owner);
  if (Settings().timed && g_list.owner) {
    SetTimer(g_list.owner, kRetrievalTimer, kRetrievalTimerMs, nullptr);
    g_RetrievalCountdown = Settings().interval;
  }
  SetActiveWindow(dialog);
  if (IsInbox(Settings().currentFolder)) RefillMessages(dialog);
}

void OnFolderChosen(HWND dialog) {
  const LRESULT row = SendDlgItemMessageA(dialog, IDC_LIST_FOLDERS, LB_GETCURSEL, 0, 0);
  if (row < 0 || static_cast<size_t>(row) >= g_list.folders.rows.size()) return;
  Settings().currentFolder = g_list.folders.rows[static_cast<size_t>(row)].path;
  RefillMessages(dialog);
}

// A message row: its picture (a flap for MIME messages) and its text with the
// tabs expanded, in the highlight colours when selected.
void DrawMessageRow(const DRAWITEMSTRUCT &item) {
  if (item.itemID >= RowCount()) return;
  const MSG_ENTRY &entry = EntryOfRow(item.hwndItem, static_cast<size_t>(item.itemID));
  HDC dc = item.hDC;
  const RECT &r = item.rcItem;
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  FillRect(dc, &r, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  const int top = r.top + (r.bottom - r.top - 10) / 2;
  RECT envelope{r.left + 1, top, r.left + kBitmapWidth - 1, top + 10};
  FillRect(dc, &envelope, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  FrameRect(dc, &envelope, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  MoveToEx(dc, envelope.left, envelope.top, nullptr);
  LineTo(dc, (envelope.left + envelope.right) / 2, envelope.top + 5);
  LineTo(dc, envelope.right - 1, envelope.top);
  if (entry.flags & kRecordMime) {
    RECT mark{envelope.right - 5, envelope.bottom - 4, envelope.right - 1, envelope.bottom - 1};
    HBRUSH red = CreateSolidBrush(RGB(192, 0, 0));
    FillRect(dc, &mark, red);
    DeleteObject(red);
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  int tab = TabUnit();
  TabbedTextOutA(dc, r.left + kBitmapWidth + 4, r.top, entry.rowText.c_str(), static_cast<int>(entry.rowText.size()), 1,
                 &tab, r.left);
}

// Include (or a double click) in "FindMessage": the selected messages'
// numbers, in row order, end the dialog; none selected: the collector's box,
// and the dialog stays.
void PickSelected(HWND dialog) {
  const std::vector<int> rows = SelectedRows(dialog);
  if (rows.empty()) return;
  g_list.picked.clear();
  for (int row : rows) g_list.picked.push_back(EntryOfRow(Messages(dialog), row).number);
  EndDialog(dialog, kMessagesPicked);
}

void OnRead(HWND dialog) {
  if (g_list.picking)
    PickSelected(dialog);
  else
    ReadMessages(dialog);
}

BOOL OnInit(HWND dialog) {
  g_list.dialog = dialog;
  MAIL_SETTINGS &s = Settings();
  if (s.currentFolder.empty()) s.currentFolder = s.mailDir;
  CheckRadioButton(dialog, IDC_LIST_BYDATE, IDC_LIST_BYARRIVAL, IDC_LIST_BYDATE + std::clamp(s.sortOrder, 0, 3));
  CheckDlgButton(dialog, IDC_LIST_REVERSE, s.reverseSortOrder ? BST_CHECKED : BST_UNCHECKED);
  RefillFolders(dialog);
  RefillMessages(dialog);
  SetFocus(Messages(dialog));
  return FALSE;
}

BOOL OnCommand(HWND dialog, UINT id, UINT notification) {
  switch (id) {
    case IDOK:
    case IDCANCEL: EndDialog(dialog, static_cast<INT_PTR>(id)); return TRUE;
    case IDC_LIST_READ: OnRead(dialog); return TRUE;
    case IDC_LIST_MESSAGES:
      if (notification == LBN_DBLCLK) OnRead(dialog);
      return TRUE;
    case IDC_LIST_DELETE: OnDelete(dialog); return TRUE;
    case IDC_LIST_SEARCH: OnSearch(dialog); return TRUE;
    case IDC_LIST_FORWARD: OnForward(dialog); return TRUE;
    case IDC_LIST_REPLY: OnReply(dialog, kComposeReply); return TRUE;
    case IDC_LIST_REPLYALL: OnReply(dialog, kComposeReplyAll); return TRUE;
    case IDC_LIST_FILE: OnFile(dialog); return TRUE;
    case IDC_LIST_PRINT: OnPrint(dialog); return TRUE;
    case IDC_LIST_RETRIEVE: OnRetrieve(dialog); return TRUE;
    case IDC_LIST_HELP:
      WinHelpA(dialog, "RAZUZUZ.HLP", HELP_KEY, reinterpret_cast<ULONG_PTR>("Select Help"));
      return TRUE;
    case IDC_LIST_REVERSE:
    case IDC_LIST_BYDATE:
    case IDC_LIST_BYFROM:
    case IDC_LIST_BYSUBJECT:
    case IDC_LIST_BYARRIVAL: OnSortChange(dialog, id); return TRUE;
    case IDC_LIST_FOLDERS:
      if (notification == LBN_SELCHANGE) OnFolderChosen(dialog);
      return TRUE;
    default: return FALSE;
  }
}

INT_PTR CALLBACK SelectProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  UseListOf(dialog);
  switch (message) {
    case WM_INITDIALOG: return OnInit(dialog);
    case WM_COMMAND: return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
    case WM_MEASUREITEM: reinterpret_cast<MEASUREITEMSTRUCT *>(lParam)->itemHeight = kTreeGlyphWidth; return TRUE;
    case WM_DRAWITEM: {
      const auto &item = *reinterpret_cast<const DRAWITEMSTRUCT *>(lParam);
      if (item.CtlID == IDC_LIST_FOLDERS)
        DrawTreeRow(g_list.folders, item);
      else
        DrawMessageRow(item);
      return TRUE;
    }
    case WM_SIZE:
      if (wParam == SIZE_MINIMIZED) {  // the list ends and the main window goes to the task bar instead
        EndDialog(dialog, IDOK);
        if (g_list.owner) ShowWindow(g_list.owner, SW_MINIMIZE);
      }
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace

QX_REGISTER_RESOURCES(kListResources)

INT_PTR RedirectDialog(HWND owner) {
  return DialogBoxParamA(GetModuleHandleA(nullptr), "ReDirect", owner, RedirectProc, 0);
}

INT_PTR PickMessagesDialog(HWND owner, std::vector<int32_t> &numbers) {
  numbers.clear();
  g_otherList = std::move(g_list);  // the list of an open "Select", if any
  g_list = LIST_STATE{};
  g_list.owner = owner;
  g_list.picking = true;
  INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), "FindMessage", owner, SelectProc, 0);
  UseListOf(g_otherList.dialog);                       // back to the other list; the picker's is in g_otherList
  if (g_list.picking) std::swap(g_list, g_otherList);  // no "Select" open, or the dialog was never made
  if (result == kMessagesPicked)
    numbers = std::move(g_otherList.picked);
  else if (result != -1)
    result = IDOK;  // Cancel, Esc or closing the window
  g_otherList = LIST_STATE{};
  return result;
}

INT_PTR MessageListDialog(HWND owner) {
  g_list = LIST_STATE{};
  g_list.owner = owner;
  g_search.active = false;
  const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), "Select", owner, SelectProc, 0);
  g_list = LIST_STATE{};
  return result;
}
