// The gopher client's core: the item tree, the menu line parser, the
// retrieval of an item over one TCP connection, the hand-off of telnet items
// to the terminal and CSO (ph) queries. It runs on the program's one thread;
// Winsock calls block while the program's blocking hook dispatches messages.
// What a person sees (boxes, the status line, the document list, dialogs)
// goes through the GopherUi hooks, which the program points at its windows
// and tests at recorders.
#ifndef QX_GOPHER_CLIENT_GOPHERCORE_H
#define QX_GOPHER_CLIENT_GOPHERCORE_H

#include <cstdint>
#include <iosfwd>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "itemtypes.h"

#include <windows.h>
// Last, so that the layer's names are not undone by standard headers.
#include <winsock.h>

// ---- Items ----

constexpr int kItemExpanded = 0x01;
constexpr int kItemSelectable = 0x02;

// Bounds on what a server sends: a menu line longer than this is cut there
// (the rest of that line is skipped, never read as another item).
constexpr size_t kMaxMenuLine = 2048;
// The CSO field list, and one line of a CSO answer while it is examined.
constexpr size_t kMaxCsoFields = 2047;
constexpr size_t kMaxCsoLine = 1024;

// The text of an item's field, read as a string. An item made from a menu
// line keeps its three texts in its own allocation (one allocation per item,
// not one per field, for menus of many thousands of lines) and its fields
// point there; a text assigned or copied later is a copy of its own, so a
// text never outlives what it points at.
class ItemText {
 public:
  static constexpr size_t npos = std::string_view::npos;
  ItemText() = default;
  ItemText(std::string_view text) { Assign(text); }
  ItemText(const std::string &text) : ItemText(std::string_view(text)) {}
  ItemText(const char *text) : ItemText(std::string_view(text ? text : "")) {}
  ItemText(const ItemText &other) : ItemText(other.view()) {}
  ItemText &operator=(const ItemText &other) { return other.data_ == data_ ? *this : Assign(other.view()); }
  ItemText &operator=(std::string_view text) { return Assign(text); }
  ItemText &operator=(const std::string &text) { return Assign(text); }
  ItemText &operator=(const char *text) { return Assign(text ? text : ""); }
  ~ItemText() { Release(); }

  const char *c_str() const { return data_; }
  const char *data() const { return data_; }
  size_t size() const { return size_; }
  size_t length() const { return size_; }
  bool empty() const { return size_ == 0; }
  const char *begin() const { return data_; }
  const char *end() const { return data_ + size_; }
  char operator[](size_t i) const { return data_[i]; }
  char back() const { return data_[size_ - 1]; }
  std::string_view view() const { return {data_, size_}; }
  operator std::string_view() const { return view(); }
  operator std::string() const { return std::string(view()); }
  size_t find(char c, size_t from = 0) const { return view().find(c, from); }
  size_t rfind(char c, size_t from = npos) const { return view().rfind(c, from); }
  std::string substr(size_t from = 0, size_t count = npos) const { return std::string(view().substr(from, count)); }

  // Points at size bytes (and a NUL after them) that live as long as the item.
  void Borrow(const char *text, size_t size);

  friend bool operator==(const ItemText &a, std::string_view b) { return a.view() == b; }
  friend std::string operator+(const ItemText &a, std::string_view b) { return std::string(a.view()).append(b); }
  friend std::string operator+(std::string_view a, const ItemText &b) { return std::string(a).append(b.view()); }

 private:
  ItemText &Assign(std::string_view text);
  void Release();
  // Sixteen bytes, three to an item: a text keeps at most 4 GiB less one
  // byte (no menu line, file or dialog gives one that long).
  static constexpr size_t kMaxSize = UINT32_MAX;
  const char *data_ = "";
  std::uint32_t size_ = 0;
  bool owned_ = false;
};
std::ostream &operator<<(std::ostream &out, const ItemText &text);

// A block the items of a menu are carved from (see LoadMenuFile). An item
// knows its block; a copy of an item is never carved, so copying leaves the
// copy without one and assigning keeps the target's own.
struct ItemBlock;
class ItemOrigin {
 public:
  ItemOrigin() = default;
  ItemOrigin(const ItemOrigin &) {}
  ItemOrigin &operator=(const ItemOrigin &) { return *this; }
  ItemBlock *block() const { return block_; }
  void CarvedFrom(ItemBlock *block) { block_ = block; }  // only where the item was made

 private:
  ItemBlock *block_ = nullptr;
};

struct GopherItem {
  ItemText display;
  ItemText selector;
  ItemText host;
  GopherItem *parent = nullptr;
  GopherItem *next = nullptr;
  GopherItem *firstChild = nullptr;
  std::optional<std::string> csoFields;  // CSO items: the cached field list
  int flags = 0;
  int number = 0;
  uint8_t typeIndex = kTypeUnknown;
  uint8_t typeChar = 0;
  int port = 0;
  int depth = 1;
  ItemOrigin origin;  // the menu's block it was carved from; none: an allocation of its own
  // An item made from a menu line holds its texts after itself, so every
  // item is given back whole, whatever size it had: to its menu's block, or
  // to the heap.
  static void operator delete(GopherItem *item, std::destroying_delete_t);
};

extern GopherItem *g_Roots;

// One menu line (without its line feed) as a new item; null when memory ran
// out. An item is selectable unless it is an information line or names no
// host or a port outside 1..65535.
GopherItem *ParseMenuLine(std::string_view line);
// Links an item below (asChild) or after the cursor and moves the cursor to
// it; a null cursor makes it the only root. Returns the new asChild flag.
int LinkItem(GopherItem **cursor, int asChild, GopherItem *item);
// Frees a list of siblings with their subtrees.
void FreeItemList(GopherItem *first);
// Unlinks a root from the root list and frees it with its subtree.
void DeleteRoot(GopherItem *root);
// Collapses an item; dropChildren (always for a search) frees its children.
void CollapseItem(GopherItem *item, int dropChildren);
int CountChildren(const GopherItem *item);
// Appends a root (or replaces every root when clearFirst or none exists).
void AppendRoot(GopherItem *item, int clearFirst);

// The visible items depth first: roots in order, below each expanded item its
// children (the tree list's rows and a checkpoint's lines, in one order).
// visit(item) returns false to stop.
template <class Visit>
void ForEachVisible(GopherItem *first, Visit visit) {
  std::vector<GopherItem *> stack;
  for (GopherItem *item = first; item || !stack.empty();) {
    if (!item) {
      item = stack.back()->next;
      stack.pop_back();
      continue;
    }
    if (!visit(item)) return;
    if ((item->flags & kItemExpanded) && item->firstChild) {
      stack.push_back(item);
      item = item->firstChild;
    } else {
      item = item->next;
    }
  }
}

// An item is named as a picture when its display ends in ".GIF" (any case)
// or has ".GIF" before white space, or its selector's extension is "gif".
bool IsNamedAsPicture(const GopherItem &item);
// What activating the item does, after the picture rule.
GopherActivation ActivationOf(const GopherItem &item);

// ---- Files ----

// The temporary files: the document "UseFile", the menu "MenuFile" and
// received pictures, in a folder of this process's own under the temporary
// directory (TEMP, else the Windows directory), so no other process can
// plant or read them.
extern std::string g_TempDir;
std::string TempPath(const char *name);
bool MakePrivateTempDir();
void RemovePrivateTempDir();

// A file handle closed when the object goes.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(HANDLE h) : h_(h) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle &) = delete;
  FileHandle &operator=(const FileHandle &) = delete;
  HANDLE get() const { return h_; }
  bool ok() const { return h_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE h) {
    Close();
    h_ = h;
  }
  void Close();

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

// Removes a final ".\r\n" end line: "\r\n.\r\n" loses its last 3 bytes, and
// an answer shorter than 5 bytes that ends ".\r\n" loses them. Returns the
// new length.
long CutTerminator(HANDLE file, long total);
// The same rule on bytes held in memory.
size_t TerminatorCut(std::string_view answer);

// Streams the menu file into the parent's children (menus, searches and
// servers only): one item per line, bounded per line, a lone "." line (an
// end line without CR) skipped. Returns the number of items made, -1 when
// the file could not be read or memory ran out.
int LoadMenuFile(GopherItem *parent, int asChild);

// ---- Hand-off to the terminal ----

extern std::string g_UserTelnet;
extern std::string g_UserTN3270;
constexpr const char *kDefaultTelnetTemplate = "vtconsole.EXE %h /p=%p /l=%u /once";
constexpr const char *kDefaultTn3270Template = "vtconsole.EXE /I /T=IBM-3278-2 %h /p=%p /once";

// The command line of a telnet or TN3270 item: the template with "%h" the
// host, "%p" the port and "%u" the user text. The host and user come from a
// server: a host must be a plain host name or address and the user a plain
// login name (no blanks, quotes, switches or control characters), so each
// stays one word of the terminal's command line. False, with the command
// empty, when they are not.
bool ExpandCommandTemplate(const GopherItem &item, const std::string &user, std::string *command);
bool IsSafeHostWord(std::string_view host);
bool IsSafeUserWord(std::string_view user);

// ---- Retrieval ----

extern int g_ConnectBusy;
extern int g_ReceiveBusy;
struct DEFERRED_COMMAND {
  HWND hwnd = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};
extern DEFERRED_COMMAND g_Deferred;
// Posts the command stored when the user cancelled a retrieval.
void PostDeferredCommand();

class GopherUi {
 public:
  virtual ~GopherUi() = default;
  virtual int Message(const char *text, const char *caption, UINT type) { return IDOK; }
  virtual void SetStatus(const char *text) {}
  // The document list: emptied, one row per line start, done at the end
  // (rows at or past the final length are dropped).
  virtual void DocumentReset() {}
  virtual void DocumentAddRow(long offset) {}
  virtual void DocumentDone(long length) {}
  // Each complete line of a text answer, for the horizontal extent.
  virtual void MeasureLine(std::string_view line) {}
  virtual bool AskSearchWords(const GopherItem &item, std::string *words) { return false; }
  virtual bool AskSaveFileName(const std::string &proposed, int filterIndex, const char *defaultExtension,
                               std::string *path) {
    return false;
  }
  virtual bool RunCsoDialog(const GopherItem &item, std::string *query) { return false; }
  // The terminal's command line; the default runs it with WinExec.
  virtual void StartProgram(const std::string &commandLine);
  // A saved file the user asked to open; the default uses the desktop's opener.
  virtual void OpenDocument(const std::string &path);
  // Sound items: true when the answer is to be played while it arrives (every
  // block then goes to PlaySoundBlock, nothing to a file, and PlaySoundEnd
  // ends it, completed or not); false to save it to a file instead.
  virtual bool PlaySoundStart() { return false; }
  virtual void PlaySoundBlock(const char *data, int n) {}
  virtual void PlaySoundEnd(bool completed) {}
  // A received picture; false, with the reason in *why, when it cannot be
  // shown.
  virtual bool ShowPicture(const std::string &path, std::string *why) {
    *why = "this program cannot show pictures";
    return false;
  }
};
void SetGopherUi(GopherUi *ui);
GopherUi &Ui();

// The Winsock error box for an operation ("Socket", "Connect", "Send Data",
// "Receive Data"); the text for an error code, with the host where it names one.
std::string WinsockErrorText(int error, const char *host);
void ShowWinsockError(const char *operation, const char *host);

// A connected stream socket, INVALID_SOCKET on failure (reported, or the
// deferred command posted when the user cancelled).
SOCKET ConnectToServer(SOCKET s, const char *host, int port);
// Sends the request, receives the answer by the item's type and stores it.
// 1 when the answer arrived (or the terminal was started), 0 otherwise.
int RetrieveItem(GopherItem *item, const std::string &request, HWND owner);
// What a double-click or Enter does to an item.
void ActivateItem(GopherItem *item, HWND owner);
// Adds a root of type 'S' (or any item) and retrieves it.
int AddRootItem(GopherItem *item, int clearFirst);

// The tree must be shown again (children appeared or went); the program
// points this at its tree list.
extern void (*g_TreeChanged)(GopherItem *selected, int keepChildrenVisible);

// The name a received file is proposed under: the last component of the
// selector, reduced to a file name of letters, digits, '.', '-' and '_';
// empty when nothing usable is left.
std::string ProposedFileName(const std::string &selector);
// Default extension and filter index for the save dialog.
void SaveDefaults(const GopherItem &item, const std::string &proposed, std::string *extension, int *filter);
// A saved file is offered for opening only when its type cannot run code.
bool MayOpenSavedFile(const std::string &path);

// ---- CSO (ph) ----

// Appends the public fields of one "fields" reply line to the list (digit,
// name, ':'); lastNumber keeps the field number of the line examined last, so
// that each field is examined once, on its first line.
void CsoExamineFieldLine(std::string_view line, std::string *lastNumber, std::string *fields);
// 1 when the item has its field list (cached or just read), 0 on failure.
int FetchCsoFields(GopherItem *item);
// The rows of the CSO dialog's lists, from a field list.
struct CSO_FORM {
  std::vector<std::string> keys;        // lookup fields
  int keySelection = 0;                 // "name" when present
  std::vector<std::string> returnRows;  // "All", "Default", then every field
};
CSO_FORM CsoFormOf(const std::string &fields);
// The query for a key, a value and the selected rows of the return list.
std::string BuildCsoQuery(const std::string &key, const std::string &value, const std::vector<std::string> &rows,
                          const std::vector<bool> &selected);

#endif
