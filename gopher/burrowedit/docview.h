// The small document/view layer the menu editor is built on: documents that
// load and store themselves through an archive, views that show them in
// document windows of the MDI frame, the one document template that makes
// both, command routing with update handlers, the profile and the list of
// recent files.
//
// Commands go to the active view, then its document, then the main frame,
// then the application: the first that has the command in its table runs it.
// A command nobody has is disabled.
#ifndef QX_BURROWEDIT_DOCVIEW_H
#define QX_BURROWEDIT_DOCVIEW_H

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// What an update handler says about a command: enabled, and its check mark.
struct CmdUI {
  bool enabled = true;
  int check = -1;  // -1 leaves the check mark alone
  void Enable(bool on = true) { enabled = on; }
  void SetCheck(bool on) { check = on ? 1 : 0; }
};

// A class's table of commands: the id, what runs it, and what says whether it
// is enabled (none: always enabled).
template <class T>
struct CommandEntry {
  UINT id;
  void (T::*run)();
  void (T::*update)(CmdUI &);
};

// Runs or asks about id from table; false when the table does not have it.
template <class T, size_t N>
bool DispatchCommand(T *self, const CommandEntry<T> (&table)[N], UINT id, CmdUI *query) {
  for (const CommandEntry<T> &e : table) {
    if (e.id != id) continue;
    if (query) {
      if (e.update) (self->*e.update)(*query);
    } else if (e.run) {
      (self->*e.run)();
    }
    return true;
  }
  return false;
}

// The bytes of a document file being read or written.
class Archive {
 public:
  static Archive ForLoading(std::string bytes) { return Archive(false, std::move(bytes)); }
  static Archive ForStoring() { return Archive(true, {}); }
  bool IsStoring() const { return storing_; }
  bool IsLoading() const { return !storing_; }
  // Up to size bytes; 0 at the end.
  size_t Read(void *buffer, size_t size);
  void Write(const void *data, size_t size) { bytes_.append(static_cast<const char *>(data), size); }
  const std::string &Bytes() const { return bytes_; }

 private:
  Archive(bool storing, std::string bytes) : storing_(storing), bytes_(std::move(bytes)) {}
  bool storing_;
  std::string bytes_;
  size_t at_ = 0;
};

class View;
class DocTemplate;

class Document {
 public:
  virtual ~Document() = default;
  virtual void Serialize(Archive &archive) = 0;
  // Empties the document; called before a load and for a new document.
  virtual void DeleteContents() {}
  virtual bool OnNewDocument();
  virtual bool OnCmdMsg(UINT id, CmdUI *query);

  bool OnOpenDocument(const std::string &path);
  // Writes the file aside and renames it into place, so a failed save
  // leaves the old file whole.
  bool OnSaveDocument(const std::string &path);
  // Asks "Save changes to <title>?" when modified; false when the user
  // cancelled or the save failed.
  bool SaveModified();
  // Saves under path, or asks for a name when path is empty.
  bool DoSave(const std::string &path);
  void OnFileSave();
  void OnFileSaveAs();
  void OnFileClose();

  void SetModifiedFlag(bool modified = true) { modified_ = modified; }
  bool IsModified() const { return modified_; }
  const std::string &GetTitle() const { return title_; }
  void SetTitle(const std::string &title);
  const std::string &GetPathName() const { return path_; }
  void SetPathName(const std::string &path, bool addToRecent = true);

  void UpdateAllViews(View *sender);
  void AddView(View *view);
  void RemoveView(View *view);
  const std::vector<View *> &Views() const { return views_; }
  DocTemplate *Template() const { return template_; }
  void SetTemplate(DocTemplate *t) { template_ = t; }
  // Closes every window of the document and the document itself.
  void OnCloseDocument();

 private:
  bool modified_ = false;
  std::string title_, path_;
  std::vector<View *> views_;
  DocTemplate *template_ = nullptr;
};

class View {
 public:
  virtual ~View();
  // Made as the only child of its document window.
  bool Create(HWND frame, Document *document);
  virtual LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  virtual void OnInitialUpdate() { OnUpdate(nullptr); }
  virtual void OnUpdate(View *sender) {}
  virtual bool OnCmdMsg(UINT id, CmdUI *query) { return false; }
  Document *GetDocument() const { return document_; }
  HWND Window() const { return hwnd_; }

 protected:
  HWND hwnd_ = nullptr;

 private:
  friend LRESULT CALLBACK ViewWindowProc(HWND, UINT, WPARAM, LPARAM);
  Document *document_ = nullptr;
};

// Makes documents of one kind and their windows. The template text holds,
// separated by newlines: window title, document name, file-new name, filter
// name, filter extension, file type id, file type name.
class DocTemplate {
 public:
  enum DocStringIndex { windowTitle, docName, fileNewName, filterName, filterExt, regFileTypeId, regFileTypeName };
  DocTemplate(const std::string &text, UINT menuId, std::function<std::unique_ptr<Document>()> makeDocument,
              std::function<std::unique_ptr<View>()> makeView);
  std::string GetDocString(DocStringIndex index) const;
  // A new untitled document (path empty) or the document of a file, in a
  // new window; null when it could not be made or read.
  Document *OpenDocumentFile(const std::string &path);
  // One more window on a document.
  HWND CreateNewFrame(Document *document);
  void RemoveDocument(Document *document);
  const std::vector<std::unique_ptr<Document>> &Documents() const { return documents_; }
  UINT MenuId() const { return menuId_; }

 private:
  std::vector<std::string> strings_;
  UINT menuId_;
  std::function<std::unique_ptr<Document>()> makeDocument_;
  std::function<std::unique_ptr<View>()> makeView_;
  std::vector<std::unique_ptr<Document>> documents_;
  int untitled_ = 0;
};

// The files most recently opened or saved, newest first, kept in the
// profile's "Recent File List" section as "File1".."FileN".
class RecentFileList {
 public:
  explicit RecentFileList(int size) : size_(size) {}
  void Load();
  void Save() const;
  void Add(const std::string &path);
  void Remove(int index);
  const std::vector<std::string> &Files() const { return files_; }
  // Puts the list into a File menu before its Exit item.
  void UpdateMenu(HMENU fileMenu) const;

 private:
  int size_;
  std::vector<std::string> files_;
};

// ---- the application ----------------------------------------------------------------

// The profile: registry values under HKEY_CURRENT_USER\Software\<company>\<app title>\<section>.
std::string GetAppProfileString(const char *section, const char *key, const char *fallback);
int GetAppProfileInt(const char *section, const char *key, int fallback);
bool WriteAppProfileString(const char *section, const char *key, const std::string &value);
bool WriteAppProfileInt(const char *section, const char *key, int value);

std::string LoadResourceString(UINT id);
// A box with the application's title as caption (text from a string id, or
// the text itself).
int AppMessageBox(UINT id, UINT type = MB_OK | MB_ICONEXCLAMATION);
int AppMessageBoxText(const std::string &text, UINT type = MB_OK | MB_ICONEXCLAMATION);

struct AppState {
  HINSTANCE instance = nullptr;
  std::string title;    // string IDS_APP_TITLE
  std::string company;  // registry key under Software
  HWND mainFrame = nullptr;
  HWND mdiClient = nullptr;
  std::unique_ptr<DocTemplate> docTemplate;
  RecentFileList recent{4};
  // The main frame's menus while no document and while a document is open.
  HMENU defaultMenu = nullptr, documentMenu = nullptr;
};
AppState &App();

// The active document window's view, and its document; null when none.
View *ActiveView();
Document *ActiveDocument();
// Asks the routing whether a command is enabled.
bool IsCommandEnabled(UINT id, int *check = nullptr);
// Runs a command through the routing; false when nobody has it.
bool RouteCommand(UINT id);
// Set by the main frame: its own command table and the application's.
void SetFrameCommandHandler(std::function<bool(UINT, CmdUI *)> handler);

// Enables and checks every item of a menu (and its popups) by the routing.
void UpdateMenuItems(HMENU menu);
// The main frame's title and menu after the active document window changed.
void ActiveDocumentChanged();
// The window class of the document windows (registered by RegisterDocViewClasses).
inline constexpr const char *kDocFrameClass = "BurroweditDocFrame";
inline constexpr const char *kViewClass = "BurroweditView";
bool RegisterDocViewClasses(HINSTANCE instance);
// Asks every modified document and closes them all; false when the user cancelled.
bool SaveAllModified();

#endif
