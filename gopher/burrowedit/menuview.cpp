// The menu document, its list view with the editing commands and the
// clipboard, and the menu item dialog (see menuview.h).
#include "menuview.h"

#include <algorithm>
#include <cstdio>

#include "itemtypes.h"
#include "resources.h"

// ---- telling about lines that are not menu items -------------------------------------

LineReport::~LineReport() { Finish(); }

LineProblem LineReport::Sink() {
  return [this](int message) {
    // The first line gets its own box; the rest are counted, so a file that
    // is no menu at all does not open a box per line.
    if (count_++ == 0) AppMessageBox(static_cast<UINT>(message), MB_OK);
  };
}

void LineReport::Finish() {
  if (count_ > 1) {
    std::string text = LoadResourceString(kMsgMoreInvalidLines);
    if (const size_t at = text.find("%d"); at != std::string::npos) text.replace(at, 2, std::to_string(count_ - 1));
    AppMessageBoxText(text, MB_OK);
  }
  count_ = 0;
}

// ---- the document -------------------------------------------------------------------

void CBurroweditDoc::Serialize(Archive &archive) {
  if (archive.IsStoring()) {
    const std::string bytes = rows_.Save();
    archive.Write(bytes.data(), bytes.size());
    SetModifiedFlag(false);
    return;
  }
  std::string bytes;
  char buffer[4096];
  for (size_t n; (n = archive.Read(buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
  LineReport report;
  rows_.Load(bytes, report.Sink());
  report.Finish();
  SetModifiedFlag(false);
}

void CBurroweditDoc::SetItem(int index, const std::string &row) {
  if (rows_.SetItem(index, row)) SetModifiedFlag();
}

void CBurroweditDoc::InsertItem(int index, const std::string &row) {
  SetModifiedFlag();
  rows_.InsertItem(index, row);
}

void CBurroweditDoc::DeleteItem(int index) {
  SetModifiedFlag();
  rows_.DeleteItem(index);
}

// ---- the item dialog ----------------------------------------------------------------

namespace {

std::string ItemText(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  const int n = item ? GetWindowTextLengthA(item) : 0;
  std::string text(static_cast<size_t>(n) + 1, '\0');
  if (item) GetWindowTextA(item, text.data(), n + 1);
  text.resize(strnlen(text.c_str(), static_cast<size_t>(n)));
  return text;
}

std::string ComboSelection(HWND combo) {
  const LRESULT sel = SendMessageA(combo, CB_GETCURSEL, 0, 0);
  if (sel == CB_ERR) return {};
  const LRESULT n = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(sel), 0);
  if (n == CB_ERR) return {};
  std::string text(static_cast<size_t>(n) + 1, '\0');
  SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(sel), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(n));
  return text;
}

bool HoldsLineBreak(const std::string &s) { return s.find_first_of("\t\r\n") != std::string::npos; }

}  // namespace

// The edit controls and the members they exchange with.
std::string CMenuItemDlg::*const CMenuItemDlg::kEditFields[4] = {&CMenuItemDlg::display, &CMenuItemDlg::resource,
                                                                 &CMenuItemDlg::host, &CMenuItemDlg::port};
const int CMenuItemDlg::kEditIds[4] = {IDC_ITEM_DISPLAY, IDC_ITEM_RESOURCE, IDC_ITEM_HOST, IDC_ITEM_PORT};

void CMenuItemDlg::DoDataExchange(HWND dialog, bool save) {
  for (int i = 0; i < 4; ++i) {
    if (save)
      this->*kEditFields[i] = ItemText(dialog, kEditIds[i]);
    else
      SetDlgItemTextA(dialog, kEditIds[i], (this->*kEditFields[i]).c_str());
  }
  if (save) type = ComboSelection(GetDlgItem(dialog, IDC_ITEM_TYPE));
}

void CMenuItemDlg::OnInitDialog(HWND dialog) {
  DoDataExchange(dialog, false);
  HWND combo = GetDlgItem(dialog, IDC_ITEM_TYPE);
  for (const std::string &d : EditorTypeDescriptions())
    SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(d.c_str()));
  if (type.empty()) {
    SendMessageA(combo, CB_SETCURSEL, 0, 0);
  } else if (SendMessageA(combo, CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(type.c_str())) ==
             CB_ERR) {
    // A type no description carries ("UNKNOWN[x]") is offered as it is.
    const LRESULT at = SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(type.c_str()));
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
  }
}

bool CMenuItemDlg::OnOK(HWND dialog) {
  DoDataExchange(dialog, true);
  const std::string *fields[] = {&display, &resource, &port, &host, &type};
  if (std::any_of(std::begin(fields), std::end(fields), [](const std::string *f) { return f->empty(); })) {
    AppMessageBox(kMsgNoEmptyFields, MB_OK);
    return false;
  }
  // A TAB or line break would split the saved line into other fields or lines.
  if (std::any_of(std::begin(fields), std::end(fields), [](const std::string *f) { return HoldsLineBreak(*f); })) {
    AppMessageBox(kMsgFieldHasBreak, MB_OK);
    return false;
  }
  return true;
}

INT_PTR CALLBACK CMenuItemDlg::DialogProc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
  auto *self = reinterpret_cast<CMenuItemDlg *>(GetWindowLongPtrA(dialog, DWL_USER));
  switch (msg) {
    case WM_INITDIALOG:
      self = reinterpret_cast<CMenuItemDlg *>(lp);
      SetWindowLongPtrA(dialog, DWL_USER, reinterpret_cast<LONG_PTR>(self));
      self->OnInitDialog(dialog);
      return TRUE;
    case WM_COMMAND:
      if (!self) return FALSE;
      if (LOWORD(wp) == IDOK) {
        if (self->OnOK(dialog)) EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wp) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

INT_PTR CMenuItemDlg::DoModal(HWND owner) {
  return DialogBoxParamA(App().instance, MAKEINTRESOURCE(IDD_MENU_ITEM), owner, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

// ---- the view -----------------------------------------------------------------------

namespace {

constexpr DWORD kListStyle = 0x50300981;  // child, visible, both scroll bars, notify, tab stops,
                                          // no integral height, extended selection
const CommandEntry<CBurroweditView> kViewCommands[] = {
    {ID_INSERT_ITEM, &CBurroweditView::OnInsertItem, nullptr},
    {ID_EDIT_ITEM, &CBurroweditView::OnEditItem, &CBurroweditView::OnUpdateOneSelected},
    {ID_DELETE_ITEM, &CBurroweditView::OnDeleteItems, &CBurroweditView::OnUpdateAnySelected},
    {ID_EDIT_COPY, &CBurroweditView::OnCopyItems, &CBurroweditView::OnUpdateAnySelected},
    {ID_EDIT_CUT, &CBurroweditView::OnCutItems, &CBurroweditView::OnUpdateAnySelected},
    {ID_EDIT_PASTE, &CBurroweditView::OnPasteItems, &CBurroweditView::OnUpdatePaste},
};

// Closes the clipboard on every way out.
class ClipboardOpen {
 public:
  explicit ClipboardOpen(HWND owner) : open_(OpenClipboard(owner) != FALSE) {}
  ~ClipboardOpen() {
    if (open_) CloseClipboard();
  }
  ClipboardOpen(const ClipboardOpen &) = delete;
  ClipboardOpen &operator=(const ClipboardOpen &) = delete;
  bool ok() const { return open_; }

 private:
  bool open_;
};

}  // namespace

bool CBurroweditView::OnCmdMsg(UINT id, CmdUI *query) { return DispatchCommand(this, kViewCommands, id, query); }

LRESULT CBurroweditView::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE: return OnCreate();
    case WM_SIZE: OnSize(); return 0;
    case WM_SETFOCUS:
      if (list_) SetFocus(list_);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wp) == IDC_MENU_LIST && HIWORD(wp) == LBN_DBLCLK) {
        OnEditItem();
        return 0;
      }
      break;
    case WM_DESTROY: list_ = nullptr; break;
    default: break;
  }
  return View::OnMessage(msg, wp, lp);
}

RECT CBurroweditView::ListRect() const {
  RECT r{};
  GetClientRect(hwnd_, &r);
  InflateRect(&r, GetSystemMetrics(SM_CXBORDER), GetSystemMetrics(SM_CYBORDER));
  return r;
}

LRESULT CBurroweditView::OnCreate() {
  const RECT r = ListRect();
  list_ = CreateWindowExA(0, "ListBox", "", kListStyle, r.left, r.top, r.right - r.left, r.bottom - r.top, hwnd_,
                          reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_MENU_LIST)), App().instance, nullptr);
  if (!list_) return -1;
  const INT stops[] = {120, 280, 440, 600};
  SendMessageA(list_, LB_SETTABSTOPS, 4, reinterpret_cast<LPARAM>(stops));
  SendMessageA(list_, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(SYSTEM_FIXED_FONT)), TRUE);
  SendMessageA(list_, LB_SETHORIZONTALEXTENT, 2 * 600 + 48, 0);
  return 0;
}

void CBurroweditView::OnSize() {
  if (!list_) return;
  const RECT r = ListRect();
  MoveWindow(list_, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

void CBurroweditView::OnUpdate(View *) {
  if (!list_) return;
  SendMessageA(list_, LB_RESETCONTENT, 0, 0);
  CBurroweditDoc *doc = Doc();
  if (doc->GetItemCount() == 0) scratch_.clear();
  for (int i = 0; i < doc->GetItemCount(); ++i) {
    const std::string row = doc->GetItem(i);
    SendMessageA(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
  }
}

std::vector<int> CBurroweditView::SelectedIndexes() const {
  const LRESULT count = list_ ? SendMessageA(list_, LB_GETSELCOUNT, 0, 0) : 0;
  if (count <= 0) return {};
  std::vector<INT> items(static_cast<size_t>(count));
  const LRESULT got =
      SendMessageA(list_, LB_GETSELITEMS, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(items.data()));
  items.resize(got > 0 ? static_cast<size_t>(got) : 0);
  std::sort(items.begin(), items.end());
  return std::vector<int>(items.begin(), items.end());
}

std::string CBurroweditView::RowFromDialog(const CMenuItemDlg &dlg) {
  scratch_ = BuildRow({dlg.type, dlg.display, dlg.resource, dlg.host, dlg.port});
  return scratch_;
}

void CBurroweditView::OnInsertItem() {
  CMenuItemDlg dlg;
  dlg.port = "70";
  if (dlg.DoModal(App().mainFrame) != IDOK || !list_) return;
  const std::string row = RowFromDialog(dlg);
  const std::vector<int> selected = SelectedIndexes();
  if (selected.size() == 1) {
    SendMessageA(list_, LB_INSERTSTRING, static_cast<WPARAM>(selected[0]), reinterpret_cast<LPARAM>(row.c_str()));
    Doc()->InsertItem(selected[0], row);
  } else {
    SendMessageA(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.c_str()));
    Doc()->SetItem(Doc()->GetItemCount(), row);
  }
  Doc()->UpdateAllViews(this);
}

void CBurroweditView::OnEditItem() {
  const std::vector<int> selected = SelectedIndexes();
  if (selected.size() != 1) return;
  const int index = selected[0];
  const MenuItemFields f = SplitRow(Doc()->GetItem(index));
  CMenuItemDlg dlg;
  dlg.type = f.type;
  dlg.display = f.display;
  dlg.resource = f.resource;
  dlg.host = f.host;
  dlg.port = f.port;
  if (dlg.DoModal(App().mainFrame) != IDOK || !list_) return;
  const std::string row = RowFromDialog(dlg);
  SendMessageA(list_, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
  SendMessageA(list_, LB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(row.c_str()));
  SendMessageA(list_, LB_SETSEL, TRUE, index);
  Doc()->SetItem(index, row);
  Doc()->UpdateAllViews(this);
}

void CBurroweditView::RemoveRows(const std::vector<int> &selected, bool updateEach) {
  for (size_t i = 0; i < selected.size(); ++i) {
    const int at = selected[i] - static_cast<int>(i);
    SendMessageA(list_, LB_DELETESTRING, static_cast<WPARAM>(at), 0);
    Doc()->DeleteItem(at);
    if (updateEach) Doc()->UpdateAllViews(this);
  }
}

void CBurroweditView::OnDeleteItems() {
  if (list_) RemoveRows(SelectedIndexes(), true);
}

bool CBurroweditView::CopySelection() {
  ClipboardOpen clipboard(hwnd_);
  if (!clipboard.ok()) {
    AppMessageBox(kMsgClipboardFailed, MB_OK);
    return false;
  }
  if (!EmptyClipboard()) {
    AppMessageBox(kMsgClipboardFailed, MB_OK);
    return false;
  }
  std::string text;
  for (int index : SelectedIndexes()) text += RowToLine(Doc()->GetItem(index));
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  char *bytes = block ? static_cast<char *>(GlobalLock(block)) : nullptr;
  if (!bytes) {
    if (block) GlobalFree(block);
    AppMessageBox(kMsgClipboardFailed, MB_OK);
    return false;
  }
  std::copy(text.begin(), text.end(), bytes);
  bytes[text.size()] = '\0';
  GlobalUnlock(block);
  if (!SetClipboardData(CF_TEXT, block)) {
    GlobalFree(block);
    AppMessageBox(kMsgClipboardFailed, MB_OK);
    return false;
  }
  return true;
}

void CBurroweditView::OnCopyItems() { CopySelection(); }

void CBurroweditView::OnCutItems() {
  // The rows go only once they are on the clipboard, so a failed copy loses nothing.
  const std::vector<int> selected = SelectedIndexes();
  if (!CopySelection() || !list_) return;
  RemoveRows(selected, false);
  Doc()->UpdateAllViews(this);
}

void CBurroweditView::OnPasteItems() {
  std::string text;
  {
    ClipboardOpen clipboard(hwnd_);
    if (!clipboard.ok()) {
      AppMessageBox(kMsgClipboardFailed, MB_OK);
      return;
    }
    HANDLE block = GetClipboardData(CF_TEXT);
    const char *bytes = block ? static_cast<const char *>(GlobalLock(block)) : nullptr;
    if (!bytes) {
      AppMessageBox(kMsgClipboardFailed, MB_OK);
      return;
    }
    // The text up to its terminating NUL, never past the block.
    const size_t size = GlobalSize(block);
    text.assign(bytes, strnlen(bytes, size));
    GlobalUnlock(block);
  }
  const std::vector<int> selected = SelectedIndexes();
  int at = selected.size() == 1 ? selected[0] : Doc()->GetItemCount();
  LineReport report;
  const LineProblem problem = report.Sink();
  for (const std::string &line : SplitLines(text).lines) {
    const std::string row = LineToRow(line, problem);
    if (row.empty()) continue;
    Doc()->InsertItem(at, row);
    if (list_) SendMessageA(list_, LB_INSERTSTRING, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(row.c_str()));
    ++at;
  }
  report.Finish();
  Doc()->UpdateAllViews(this);
}

void CBurroweditView::OnUpdateOneSelected(CmdUI &ui) { ui.Enable(SelectedIndexes().size() == 1); }
void CBurroweditView::OnUpdateAnySelected(CmdUI &ui) { ui.Enable(!SelectedIndexes().empty()); }
void CBurroweditView::OnUpdatePaste(CmdUI &ui) { ui.Enable(IsClipboardFormatAvailable(CF_TEXT) != FALSE); }
