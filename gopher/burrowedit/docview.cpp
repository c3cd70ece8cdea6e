// The menu editor's document/view layer (see docview.h).
#include "docview.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "resources.h"

namespace {

// A document file larger than this is refused rather than read into memory.
constexpr DWORD kLargestDocument = 64u << 20;

std::function<bool(UINT, CmdUI *)> &FrameHandler() {
  static std::function<bool(UINT, CmdUI *)> handler;
  return handler;
}

std::string FileTitleOf(const std::string &path) {
  const size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SamePath(const std::string &a, const std::string &b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

std::string ErrorWords(DWORD error) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                 sizeof text, nullptr);
  std::string words = n ? std::string(text, n) : "the system gave no reason";
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ')) words.pop_back();
  return words + " (error " + std::to_string(error) + ")";
}

class FileCloser {
 public:
  explicit FileCloser(HANDLE h) : h_(h) {}
  ~FileCloser() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  FileCloser(const FileCloser &) = delete;
  FileCloser &operator=(const FileCloser &) = delete;
  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  void Close() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_;
};

HKEY OpenProfileSection(const char *section) {
  const std::string path = "Software\\" + App().company + "\\" + App().title + "\\" + section;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return nullptr;
  return key;
}

}  // namespace

// ---- archive ----------------------------------------------------------------------

size_t Archive::Read(void *buffer, size_t size) {
  const size_t n = std::min(size, bytes_.size() - at_);
  std::memcpy(buffer, bytes_.data() + at_, n);
  at_ += n;
  return n;
}

// ---- document ---------------------------------------------------------------------

namespace {
const CommandEntry<Document> kDocumentCommands[] = {
    {ID_FILE_SAVE, &Document::OnFileSave, nullptr},
    {ID_FILE_SAVE_AS, &Document::OnFileSaveAs, nullptr},
    {ID_FILE_CLOSE, &Document::OnFileClose, nullptr},
};
}  // namespace

bool Document::OnCmdMsg(UINT id, CmdUI *query) { return DispatchCommand(this, kDocumentCommands, id, query); }

bool Document::OnNewDocument() {
  DeleteContents();
  SetModifiedFlag(false);
  return true;
}

bool Document::OnOpenDocument(const std::string &path) {
  FileCloser file(
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) {
    AppMessageBoxText(LoadResourceString(IDS_FAILED_TO_OPEN) + "\n\n" + path + ": " + ErrorWords(GetLastError()));
    return false;
  }
  const DWORD size = GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE || size > kLargestDocument) {
    AppMessageBoxText(LoadResourceString(IDS_FAILED_TO_OPEN) + "\n\n" + path + ": " +
                      LoadResourceString(IDS_FILE_TOO_LARGE));
    return false;
  }
  std::string bytes(size, '\0');
  DWORD got = 0, total = 0;
  while (total < size && ReadFile(file.get(), bytes.data() + total, size - total, &got, nullptr) && got) total += got;
  if (total != size) {
    AppMessageBoxText(LoadResourceString(IDS_FAILED_TO_OPEN) + "\n\n" + path + ": " + ErrorWords(GetLastError()));
    return false;
  }
  DeleteContents();
  Archive archive = Archive::ForLoading(std::move(bytes));
  Serialize(archive);
  SetModifiedFlag(false);
  return true;
}

bool Document::OnSaveDocument(const std::string &path) {
  Archive archive = Archive::ForStoring();
  Serialize(archive);
  const std::string &bytes = archive.Bytes();
  const std::string aside = path + ".~" + std::to_string(GetCurrentProcessId());
  auto fail = [&](DWORD error) {
    DeleteFileA(aside.c_str());
    AppMessageBoxText(LoadResourceString(IDS_FAILED_TO_SAVE) + "\n\n" + path + ": " + ErrorWords(error) +
                      "\nThe file was left as it was.");
    return false;
  };
  FileCloser file(CreateFileA(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return fail(GetLastError());
  size_t at = 0;
  while (at < bytes.size()) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 1u << 20));
    if (!WriteFile(file.get(), bytes.data() + at, chunk, &wrote, nullptr) || wrote == 0) {
      const DWORD error = GetLastError();
      file.Close();
      return fail(error);
    }
    at += wrote;
  }
  if (!FlushFileBuffers(file.get())) {
    const DWORD error = GetLastError();
    file.Close();
    return fail(error);
  }
  file.Close();
  if (!MoveFileExA(aside.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return fail(GetLastError());
  SetModifiedFlag(false);
  return true;
}

bool Document::SaveModified() {
  if (!IsModified()) return true;
  std::string prompt = LoadResourceString(IDS_ASK_TO_SAVE);
  if (const size_t at = prompt.find("%1"); at != std::string::npos) prompt.replace(at, 2, title_);
  switch (AppMessageBoxText(prompt, MB_YESNOCANCEL | MB_ICONEXCLAMATION)) {
    case IDCANCEL: return false;
    case IDYES: return DoSave(path_);
    default: return true;
  }
}

bool Document::DoSave(const std::string &path) {
  std::string target = path;
  if (target.empty()) {
    char name[MAX_PATH] = {};
    snprintf(name, sizeof name, "%s", path_.empty() ? title_.c_str() : path_.c_str());
    // "Gopher Menu (*.gmn)", "*.gmn"
    std::string filter;
    std::string ext = ".gmn";
    if (template_) {
      ext = template_->GetDocString(DocTemplate::filterExt);
      filter = template_->GetDocString(DocTemplate::filterName);
      filter.push_back('\0');
      filter += "*" + ext;
      filter.push_back('\0');
    }
    filter += "All Files (*.*)";
    filter.push_back('\0');
    filter += "*.*";
    filter.push_back('\0');
    filter.push_back('\0');
    const std::string defExt = ext.size() > 1 ? ext.substr(1) : "";
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = App().mainFrame;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = name;
    ofn.nMaxFile = sizeof name;
    ofn.lpstrDefExt = defExt.c_str();
    ofn.lpstrTitle = "Save As";
    ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameA(&ofn)) return false;
    target = name;
  }
  if (!OnSaveDocument(target)) return false;
  SetPathName(target);
  return true;
}

void Document::OnFileSave() { DoSave(path_); }
void Document::OnFileSaveAs() { DoSave(""); }

void Document::OnFileClose() {
  if (!SaveModified()) return;
  OnCloseDocument();
}

void Document::SetTitle(const std::string &title) {
  title_ = title;
  // Each window shows the title, numbered when the document has several.
  for (size_t i = 0; i < views_.size(); ++i) {
    const std::string text = views_.size() > 1 ? title + ":" + std::to_string(i + 1) : title;
    if (HWND frame = GetParent(views_[i]->Window())) SetWindowTextA(frame, text.c_str());
  }
  ActiveDocumentChanged();
}

void Document::SetPathName(const std::string &path, bool addToRecent) {
  path_ = path;
  SetTitle(FileTitleOf(path));
  if (addToRecent) {
    App().recent.Add(path);
    App().recent.Save();
  }
}

void Document::UpdateAllViews(View *sender) {
  for (View *v : std::vector<View *>(views_))
    if (v != sender) v->OnUpdate(sender);
}

void Document::AddView(View *view) { views_.push_back(view); }

void Document::RemoveView(View *view) { std::erase(views_, view); }

void Document::OnCloseDocument() {
  for (View *v : std::vector<View *>(views_)) {
    HWND frame = GetParent(v->Window());
    if (frame && IsWindow(frame)) SendMessageA(App().mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(frame), 0);
  }
  DocTemplate *t = template_;
  if (t) t->RemoveDocument(this);  // deletes this document
  ActiveDocumentChanged();
}

// ---- view -------------------------------------------------------------------------

LRESULT CALLBACK ViewWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto *view = static_cast<View *>(reinterpret_cast<CREATESTRUCTA *>(lp)->lpCreateParams);
    view->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
  }
  auto *view = reinterpret_cast<View *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!view) return DefWindowProcA(hwnd, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    view->hwnd_ = nullptr;
    return DefWindowProcA(hwnd, msg, wp, lp);
  }
  return view->OnMessage(msg, wp, lp);
}

View::~View() {
  if (document_) document_->RemoveView(this);
  if (hwnd_ && IsWindow(hwnd_)) {
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
}

bool View::Create(HWND frame, Document *document) {
  document_ = document;
  document->AddView(this);
  RECT r{};
  GetClientRect(frame, &r);
  CreateWindowExA(0, kViewClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, r.right, r.bottom, frame,
                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(0xE900)), App().instance, this);
  return hwnd_ != nullptr;
}

LRESULT View::OnMessage(UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcA(hwnd_, msg, wp, lp); }

// ---- document windows --------------------------------------------------------------

namespace {

View *ViewOfFrame(HWND frame) { return reinterpret_cast<View *>(GetWindowLongPtrA(frame, GWLP_USERDATA)); }

void CloseDocumentWindow(HWND frame) {
  View *view = ViewOfFrame(frame);
  Document *doc = view ? view->GetDocument() : nullptr;
  if (doc && doc->Views().size() == 1) {
    // The document's last window: ask about its changes, then close it.
    if (!doc->SaveModified()) return;
    doc->OnCloseDocument();
    return;
  }
  SendMessageA(App().mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(frame), 0);
  if (doc) doc->SetTitle(doc->GetTitle());
}

LRESULT CALLBACK DocFrameProc(HWND frame, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_SIZE:
      if (View *v = ViewOfFrame(frame); v && v->Window()) MoveWindow(v->Window(), 0, 0, LOWORD(lp), HIWORD(lp), TRUE);
      break;
    case WM_SETFOCUS:
      if (View *v = ViewOfFrame(frame); v && v->Window()) {
        SetFocus(v->Window());
        return 0;
      }
      break;
    case WM_MDIACTIVATE: {
      const LRESULT r = DefMDIChildProcA(frame, msg, wp, lp);
      ActiveDocumentChanged();
      return r;
    }
    case WM_CLOSE: CloseDocumentWindow(frame); return 0;
    case WM_NCDESTROY: {
      View *v = ViewOfFrame(frame);
      SetWindowLongPtrA(frame, GWLP_USERDATA, 0);
      delete v;
      break;
    }
    default: break;
  }
  return DefMDIChildProcA(frame, msg, wp, lp);
}

}  // namespace

bool RegisterDocViewClasses(HINSTANCE instance) {
  WNDCLASSA wc{};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = DocFrameProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kDocFrameClass;
  if (!RegisterClassA(&wc)) return false;
  wc.lpfnWndProc = ViewWindowProc;
  wc.hIcon = nullptr;
  wc.lpszClassName = kViewClass;
  return RegisterClassA(&wc) != 0;
}

// ---- document template -------------------------------------------------------------

DocTemplate::DocTemplate(const std::string &text, UINT menuId, std::function<std::unique_ptr<Document>()> makeDocument,
                         std::function<std::unique_ptr<View>()> makeView)
    : menuId_(menuId), makeDocument_(std::move(makeDocument)), makeView_(std::move(makeView)) {
  size_t start = 0;
  for (;;) {
    const size_t nl = text.find('\n', start);
    strings_.push_back(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
}

std::string DocTemplate::GetDocString(DocStringIndex index) const {
  return static_cast<size_t>(index) < strings_.size() ? strings_[static_cast<size_t>(index)] : std::string();
}

Document *DocTemplate::OpenDocumentFile(const std::string &path) {
  if (!path.empty()) {
    // A file already open comes forward instead of opening twice.
    for (const auto &d : documents_) {
      if (!SamePath(d->GetPathName(), path) || d->Views().empty()) continue;
      SendMessageA(App().mdiClient, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(GetParent(d->Views()[0]->Window())), 0);
      return d.get();
    }
  }
  std::unique_ptr<Document> doc = makeDocument_();
  doc->SetTemplate(this);
  if (path.empty()) {
    if (!doc->OnNewDocument()) return nullptr;
    doc->SetTitle(GetDocString(docName) + std::to_string(++untitled_));
  } else {
    if (!doc->OnOpenDocument(path)) return nullptr;
  }
  Document *raw = doc.get();
  documents_.push_back(std::move(doc));
  if (!path.empty()) raw->SetPathName(path);
  if (!CreateNewFrame(raw)) {
    RemoveDocument(raw);
    return nullptr;
  }
  return raw;
}

HWND DocTemplate::CreateNewFrame(Document *document) {
  MDICREATESTRUCTA cs{kDocFrameClass,
                      document->GetTitle().c_str(),
                      App().instance,
                      CW_USEDEFAULT,
                      CW_USEDEFAULT,
                      CW_USEDEFAULT,
                      CW_USEDEFAULT,
                      WS_CLIPCHILDREN,
                      0};
  HWND frame = reinterpret_cast<HWND>(SendMessageA(App().mdiClient, WM_MDICREATE, 0, reinterpret_cast<LPARAM>(&cs)));
  if (!frame) return nullptr;
  std::unique_ptr<View> view = makeView_();
  if (!view->Create(frame, document)) {
    SendMessageA(App().mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(frame), 0);
    return nullptr;
  }
  View *raw = view.release();
  SetWindowLongPtrA(frame, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(raw));
  raw->OnInitialUpdate();
  document->SetTitle(document->GetTitle());
  SetFocus(raw->Window());
  ActiveDocumentChanged();
  return frame;
}

void DocTemplate::RemoveDocument(Document *document) {
  std::erase_if(documents_, [document](const std::unique_ptr<Document> &d) { return d.get() == document; });
}

// ---- recent files ------------------------------------------------------------------

void RecentFileList::Load() {
  files_.clear();
  for (int i = 1; i <= size_; ++i) {
    const std::string key = "File" + std::to_string(i);
    std::string path = GetAppProfileString("Recent File List", key.c_str(), "");
    if (!path.empty()) files_.push_back(path);
  }
}

void RecentFileList::Save() const {
  for (int i = 1; i <= size_; ++i) {
    const std::string key = "File" + std::to_string(i);
    WriteAppProfileString("Recent File List", key.c_str(),
                          static_cast<size_t>(i - 1) < files_.size() ? files_[static_cast<size_t>(i - 1)] : "");
  }
}

void RecentFileList::Add(const std::string &path) {
  std::erase_if(files_, [&](const std::string &f) { return SamePath(f, path); });
  files_.insert(files_.begin(), path);
  if (files_.size() > static_cast<size_t>(size_)) files_.resize(static_cast<size_t>(size_));
}

void RecentFileList::Remove(int index) {
  if (index >= 0 && static_cast<size_t>(index) < files_.size()) files_.erase(files_.begin() + index);
}

void RecentFileList::UpdateMenu(HMENU fileMenu) const {
  if (!fileMenu) return;
  // The list stands where the first recent-file item stood.
  int at = -1;
  for (int i = 0; i < GetMenuItemCount(fileMenu); ++i) {
    const UINT id = GetMenuItemID(fileMenu, i);
    if (id >= ID_FILE_MRU_FILE1 && id < ID_FILE_MRU_FILE1 + static_cast<UINT>(size_)) {
      if (at < 0) at = i;
      DeleteMenu(fileMenu, static_cast<UINT>(i), MF_BYPOSITION);
      --i;
    }
  }
  if (at < 0) return;
  if (files_.empty()) {
    InsertMenuA(fileMenu, static_cast<UINT>(at), MF_BYPOSITION | MF_STRING | MF_GRAYED, ID_FILE_MRU_FILE1,
                "Recent File");
    return;
  }
  for (size_t i = 0; i < files_.size(); ++i) {
    std::string label = "&" + std::to_string(i + 1) + " ";
    for (char c : files_[i]) {
      if (c == '&') label += '&';  // shown as it is, not as a mnemonic
      label += c;
    }
    InsertMenuA(fileMenu, static_cast<UINT>(at) + static_cast<UINT>(i), MF_BYPOSITION | MF_STRING,
                ID_FILE_MRU_FILE1 + static_cast<UINT>(i), label.c_str());
  }
}

// ---- application -------------------------------------------------------------------

AppState &App() {
  static AppState app;
  return app;
}

std::string LoadResourceString(UINT id) {
  char text[1024] = {};
  const int n = LoadStringA(App().instance, id, text, sizeof text);
  return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

int AppMessageBoxText(const std::string &text, UINT type) {
  return MessageBoxA(App().mainFrame, text.c_str(), App().title.c_str(), type);
}

int AppMessageBox(UINT id, UINT type) { return AppMessageBoxText(LoadResourceString(id), type); }

std::string GetAppProfileString(const char *section, const char *key, const char *fallback) {
  HKEY k = OpenProfileSection(section);
  if (!k) return fallback;
  char value[1024] = {};
  DWORD size = sizeof value - 1, type = 0;
  const LONG r = RegQueryValueExA(k, key, nullptr, &type, reinterpret_cast<BYTE *>(value), &size);
  RegCloseKey(k);
  if (r != ERROR_SUCCESS || type != REG_SZ) return fallback;
  return std::string(value, strnlen(value, std::min<DWORD>(size, sizeof value - 1)));
}

int GetAppProfileInt(const char *section, const char *key, int fallback) {
  HKEY k = OpenProfileSection(section);
  if (!k) return fallback;
  DWORD value = 0, size = sizeof value, type = 0;
  const LONG r = RegQueryValueExA(k, key, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size);
  RegCloseKey(k);
  if (r != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return fallback;
  return static_cast<int>(value);
}

bool WriteAppProfileString(const char *section, const char *key, const std::string &value) {
  HKEY k = OpenProfileSection(section);
  if (!k) return false;
  const LONG r = RegSetValueExA(k, key, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1));
  RegCloseKey(k);
  return r == ERROR_SUCCESS;
}

bool WriteAppProfileInt(const char *section, const char *key, int value) {
  HKEY k = OpenProfileSection(section);
  if (!k) return false;
  const DWORD v = static_cast<DWORD>(value);
  const LONG r = RegSetValueExA(k, key, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&v), sizeof v);
  RegCloseKey(k);
  return r == ERROR_SUCCESS;
}

View *ActiveView() {
  if (!App().mdiClient) return nullptr;
  HWND frame = reinterpret_cast<HWND>(SendMessageA(App().mdiClient, WM_MDIGETACTIVE, 0, 0));
  return frame ? ViewOfFrame(frame) : nullptr;
}

Document *ActiveDocument() {
  View *v = ActiveView();
  return v ? v->GetDocument() : nullptr;
}

void SetFrameCommandHandler(std::function<bool(UINT, CmdUI *)> handler) { FrameHandler() = std::move(handler); }

namespace {
bool Route(UINT id, CmdUI *query) {
  if (View *v = ActiveView()) {
    if (v->OnCmdMsg(id, query)) return true;
    if (Document *d = v->GetDocument(); d && d->OnCmdMsg(id, query)) return true;
  }
  return FrameHandler() && FrameHandler()(id, query);
}
}  // namespace

bool IsCommandEnabled(UINT id, int *check) {
  CmdUI ui;
  if (!Route(id, &ui)) return false;
  if (check) *check = ui.check;
  return ui.enabled;
}

bool RouteCommand(UINT id) {
  if (!IsCommandEnabled(id)) return false;
  return Route(id, nullptr);
}

void UpdateMenuItems(HMENU menu) {
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    if (HMENU sub = GetSubMenu(menu, i)) {
      UpdateMenuItems(sub);
      continue;
    }
    const UINT id = GetMenuItemID(menu, i);
    if (id == 0 || id == static_cast<UINT>(-1) || id >= AFX_IDM_FIRST_MDICHILD) continue;
    int check = -1;
    const bool enabled = IsCommandEnabled(id, &check);
    EnableMenuItem(menu, static_cast<UINT>(i), MF_BYPOSITION | (enabled ? MF_ENABLED : MF_GRAYED));
    if (check >= 0) CheckMenuItem(menu, static_cast<UINT>(i), MF_BYPOSITION | (check ? MF_CHECKED : MF_UNCHECKED));
  }
}

void ActiveDocumentChanged() {
  AppState &app = App();
  if (!app.mainFrame || !app.mdiClient) return;
  // The frame names the active document window as that window names itself
  // ("new.gmn", or "new.gmn:2" when the document has several windows).
  std::string title = app.title;
  if (View *view = ActiveView()) {
    char text[512] = {};
    GetWindowTextA(GetParent(view->Window()), text, sizeof text);
    title += std::string(" - ") + text;
  }
  char now[512] = {};
  GetWindowTextA(app.mainFrame, now, sizeof now);
  if (title != now) SetWindowTextA(app.mainFrame, title.c_str());
  const bool anyDocument = app.docTemplate && !app.docTemplate->Documents().empty();
  HMENU wanted = anyDocument ? app.documentMenu : app.defaultMenu;
  if (wanted && GetMenu(app.mainFrame) != wanted) {
    const HMENU windowMenu = app.documentMenu ? GetSubMenu(app.documentMenu, 3) : nullptr;
    SendMessageA(app.mdiClient, WM_MDISETMENU, reinterpret_cast<WPARAM>(wanted), reinterpret_cast<LPARAM>(windowMenu));
    DrawMenuBar(app.mainFrame);
  }
}

bool SaveAllModified() {
  if (!App().docTemplate) return true;
  for (const auto &d : App().docTemplate->Documents())
    if (!d->SaveModified()) return false;
  return true;
}
