// The item tree, the menu line parser, the menu file and the temporary files.
#include "gophercore.h"

#include "qx/pages.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <utility>

GopherItem *g_Roots = nullptr;
std::string g_TempDir;

namespace {

// The text up to the next TAB (or the end), and the position after that TAB.
std::string_view NextField(std::string_view line, size_t *pos) {
  if (*pos >= line.size()) return {};
  const size_t tab = line.find('\t', *pos);
  const size_t end = tab == std::string_view::npos ? line.size() : tab;
  std::string_view field = line.substr(*pos, end - *pos);
  *pos = tab == std::string_view::npos ? line.size() : tab + 1;
  return field;
}

// The port as atoi reads it, held inside int: leading blanks, a sign, digits.
int ParsePort(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long value = 0;
  // Held at a value far outside any port, so a long number cannot overflow.
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = std::min(value * 10 + (text[i] - '0'), 1000000L);
  return static_cast<int>(negative ? -value : value);
}

}  // namespace

// ---- Texts ----

void ItemText::Borrow(const char *text, size_t size) {
  Release();
  data_ = text;
  size_ = static_cast<std::uint32_t>(std::min(size, kMaxSize));
}

ItemText &ItemText::Assign(std::string_view text) {
  text = text.substr(0, kMaxSize);
  char *copy = new char[text.size() + 1];  // made before the old text goes: text may be part of it
  if (!text.empty()) memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  Release();
  data_ = copy;
  size_ = static_cast<std::uint32_t>(text.size());
  owned_ = true;
  return *this;
}

void ItemText::Release() {
  if (owned_) delete[] data_;
  data_ = "";
  size_ = 0;
  owned_ = false;
}

std::ostream &operator<<(std::ostream &out, const ItemText &text) { return out << text.view(); }

// ---- Item blocks ----

// A menu of thousands of lines makes thousands of items at once. They are
// carved from blocks that grow with the menu (4 KiB doubling to 256 KiB),
// the pages of a large block mapped in one call: a page fault for each page
// of items was a third of the time to open a menu of 20,000 lines on a
// virtual machine. A block is given back when the last of its items is
// freed, in whatever order that happens.
struct ItemBlock {
  size_t live = 0;  // its items not yet freed, and the carver while it carves there
};

namespace {

constexpr size_t kItemAlign = __STDCPP_DEFAULT_NEW_ALIGNMENT__;
constexpr size_t kFirstBlock = 4096, kLargestBlock = 256 * 1024;

size_t RoundUp(size_t n) { return (n + kItemAlign - 1) & ~(kItemAlign - 1); }

void Release(ItemBlock *block) {
  if (--block->live > 0) return;
  block->~ItemBlock();
  ::operator delete(block);
}

// Carves the items of one menu from blocks.
class ItemCarver {
 public:
  ItemCarver() = default;
  ItemCarver(const ItemCarver &) = delete;
  ItemCarver &operator=(const ItemCarver &) = delete;
  ~ItemCarver() {
    if (block_) Release(block_);
  }
  // Room for an item of `bytes` (texts included); null when memory ran out.
  void *Take(size_t bytes, ItemBlock **owner) {
    bytes = RoundUp(bytes);
    if ((!block_ || static_cast<size_t>(end_ - next_) < bytes) && !NewBlock(bytes)) return nullptr;
    void *at = next_;
    next_ += bytes;
    ++block_->live;
    *owner = block_;
    return at;
  }

 private:
  bool NewBlock(size_t bytes) {
    const size_t header = RoundUp(sizeof(ItemBlock));
    const size_t size = std::max(next_size_, header + bytes);
    void *memory = ::operator new(size, std::nothrow);
    if (!memory) return false;
    qx::PrefaultForWriting(memory, size);
    if (block_) Release(block_);
    block_ = new (memory) ItemBlock;
    block_->live = 1;  // the carver's own hold, let go when it moves on
    next_ = static_cast<char *>(memory) + header;
    end_ = static_cast<char *>(memory) + size;
    next_size_ = std::min(next_size_ * 2, kLargestBlock);
    return true;
  }
  ItemBlock *block_ = nullptr;
  char *next_ = nullptr;
  char *end_ = nullptr;
  size_t next_size_ = kFirstBlock;
};

// One menu line as a new item, in its own allocation or carved by `carver`.
GopherItem *MakeItem(std::string_view line, ItemCarver *carver) {
  if (line.size() > kMaxMenuLine) line = line.substr(0, kMaxMenuLine);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const unsigned char type = line.empty() ? 0 : static_cast<unsigned char>(line[0]);
  size_t pos = line.empty() ? 0 : 1;
  const std::string_view display = NextField(line, &pos);
  const std::string_view selector = NextField(line, &pos);
  const std::string_view host = NextField(line, &pos);
  const int port = ParsePort(NextField(line, &pos));
  // The item and its three texts (each with a NUL) in one allocation.
  const size_t texts = display.size() + selector.size() + host.size() + 3;
  ItemBlock *block = nullptr;
  void *memory = carver ? carver->Take(sizeof(GopherItem) + texts, &block)
                        : ::operator new(sizeof(GopherItem) + texts, std::nothrow);
  if (!memory) return nullptr;
  GopherItem *item = new (memory) GopherItem;
  item->origin.CarvedFrom(block);
  char *tail = static_cast<char *>(memory) + sizeof(GopherItem);
  for (auto [field, text] : {std::pair{&item->display, display}, {&item->selector, selector}, {&item->host, host}}) {
    if (!text.empty()) memcpy(tail, text.data(), text.size());
    tail[text.size()] = '\0';
    field->Borrow(tail, text.size());
    tail += text.size() + 1;
  }
  item->typeChar = type;
  item->typeIndex = static_cast<uint8_t>(TypeIndexOf(type));
  item->port = port;
  // An item a click could not reach anyway (no host, an impossible port) is
  // shown but not selectable, so activating it never connects to nonsense.
  const bool reachable = !item->host.empty() && item->port > 0 && item->port <= 65535;
  item->flags = item->typeIndex == kTypeInfo || !reachable ? 0 : kItemSelectable;
  return item;
}

}  // namespace

// ---- Items ----

GopherItem *ParseMenuLine(std::string_view line) { return MakeItem(line, nullptr); }

void GopherItem::operator delete(GopherItem *item, std::destroying_delete_t) {
  ItemBlock *block = item->origin.block();
  item->~GopherItem();
  if (block)
    Release(block);
  else
    ::operator delete(item);
}

int LinkItem(GopherItem **cursor, int asChild, GopherItem *item) {
  if (!*cursor) {
    item->depth = 1;
    item->parent = nullptr;
    g_Roots = item;
  } else if (asChild) {
    item->depth = (*cursor)->depth + 1;
    item->parent = *cursor;
    (*cursor)->firstChild = item;
    asChild = 0;
  } else {
    item->depth = (*cursor)->depth;
    item->parent = (*cursor)->parent;
    (*cursor)->next = item;
  }
  *cursor = item;
  return asChild;
}

void FreeItemList(GopherItem *first) {
  // Siblings by iteration, children by recursion: depth is bounded by how
  // deep a person expands, breadth by nothing.
  while (first) {
    GopherItem *next = first->next;
    FreeItemList(first->firstChild);
    delete first;
    first = next;
  }
}

void DeleteRoot(GopherItem *root) {
  for (GopherItem **link = &g_Roots; *link; link = &(*link)->next) {
    if (*link == root) {
      *link = root->next;
      root->next = nullptr;
      FreeItemList(root);
      return;
    }
  }
}

void CollapseItem(GopherItem *item, int dropChildren) {
  if (dropChildren || item->typeIndex == kTypeSearch) {
    FreeItemList(item->firstChild);
    item->firstChild = nullptr;
    if (item->typeIndex == kTypeCso) item->csoFields.reset();
  }
  item->flags &= ~kItemExpanded;
}

int CountChildren(const GopherItem *item) {
  int n = 0;
  for (const GopherItem *c = item->firstChild; c; c = c->next) ++n;
  return n;
}

void AppendRoot(GopherItem *item, int clearFirst) {
  item->parent = nullptr;
  item->next = nullptr;
  item->depth = 1;
  if (clearFirst || !g_Roots) {
    FreeItemList(g_Roots);
    g_Roots = item;
    return;
  }
  GopherItem *last = g_Roots;
  while (last->next) last = last->next;
  last->next = item;
}

bool IsNamedAsPicture(const GopherItem &item) {
  const std::string_view d = item.display;
  for (size_t at = 0; at + 4 <= d.size(); ++at) {
    if (d[at] != '.' || toupper(static_cast<unsigned char>(d[at + 1])) != 'G' ||
        toupper(static_cast<unsigned char>(d[at + 2])) != 'I' || toupper(static_cast<unsigned char>(d[at + 3])) != 'F')
      continue;
    if (at + 4 == d.size() || isspace(static_cast<unsigned char>(d[at + 4]))) return true;
  }
  const size_t dot = item.selector.rfind('.');
  if (dot == std::string::npos || item.selector.size() - dot != 4) return false;
  const char *ext = item.selector.c_str() + dot + 1;
  return tolower(static_cast<unsigned char>(ext[0])) == 'g' && tolower(static_cast<unsigned char>(ext[1])) == 'i' &&
         tolower(static_cast<unsigned char>(ext[2])) == 'f';
}

GopherActivation ActivationOf(const GopherItem &item) {
  const GopherActivation a = GopherType(item.typeIndex).activation;
  if (a == kActMaybePic || a == kActSound) return IsNamedAsPicture(item) ? kActPicture : kActSave;
  return a;
}

// ---- Temporary files ----

void FileHandle::Close() {
  if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  h_ = INVALID_HANDLE_VALUE;
}

std::string TempPath(const char *name) { return g_TempDir + "\\" + name; }

bool MakePrivateTempDir() {
  char base[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableA("TEMP", base, sizeof base);
  if (n == 0 || n >= sizeof base) n = GetWindowsDirectoryA(base, sizeof base);
  if (n == 0 || n >= sizeof base) return false;
  std::string dir = base;
  while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  // A fresh folder made by this process: a name someone else made first is
  // passed over, never entered.
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    snprintf(name, sizeof name, "\\burrowview-%lu-%u", static_cast<unsigned long>(GetCurrentProcessId()),
             static_cast<unsigned>(GetTickCount() + attempt * 7919u) % 100000u);
    if (CreateDirectoryA((dir + name).c_str(), nullptr)) {
      g_TempDir = dir + name;
      return true;
    }
  }
  return false;
}

void RemovePrivateTempDir() {
  if (g_TempDir.empty()) return;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(TempPath("*").c_str(), &found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA(TempPath(found.cFileName).c_str());
    } while (FindNextFileA(find, &found));
    FindClose(find);
  }
  RemoveDirectoryA(g_TempDir.c_str());
  g_TempDir.clear();
}

size_t TerminatorCut(std::string_view answer) {
  const size_t n = answer.size();
  if (n >= 5 && answer.substr(n - 5) == "\r\n.\r\n") return n - 3;
  if (n < 5 && n >= 3 && answer.substr(n - 3) == ".\r\n") return n - 3;
  return n;
}

long CutTerminator(HANDLE file, long total) {
  if (total < 3) return total;
  const long take = total >= 5 ? 5 : total;
  char tail[5];
  DWORD got = 0;
  if (SetFilePointer(file, total - take, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !ReadFile(file, tail, static_cast<DWORD>(take), &got, nullptr) || got != static_cast<DWORD>(take))
    return total;
  const long kept = static_cast<long>(TerminatorCut(std::string_view(tail, take))) + (total - take);
  if (kept != total) {
    SetFilePointer(file, kept, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
  }
  return kept;
}

// ---- The menu file ----

namespace {

// Parses one collected line and links it; false when memory ran out.
bool TakeMenuLine(std::string_view line, ItemCarver *carver, GopherItem **cursor, int *asChild, int *count) {
  if (line == "." || line == ".\r") return true;  // an end line the server ended with LF alone
  GopherItem *item = MakeItem(line, carver);
  if (!item) return false;
  *asChild = LinkItem(cursor, *asChild, item);
  ++*count;
  return true;
}

}  // namespace

int LoadMenuFile(GopherItem *parent, int asChild) {
  if (!parent || !IsMenuType(parent->typeIndex)) return 0;
  FileHandle file(CreateFileA(TempPath("MenuFile").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return -1;
  // Children are linked after any the parent already has.
  GopherItem *cursor = parent;
  if (!asChild) {
    cursor = parent->firstChild;
    if (!cursor) {
      cursor = parent;
      asChild = 1;
    } else {
      while (cursor->next) cursor = cursor->next;
    }
  }
  // A line wholly inside the block is parsed where it lies; only a line
  // that runs across blocks is gathered in `line`. Either way a line keeps
  // what comes before a NUL and at most kMaxMenuLine bytes; the rest of that
  // line is skipped.
  std::string line;
  line.reserve(kMaxMenuLine);
  bool skipping = false;  // past a NUL or the line bound: the rest of the line goes
  int count = 0;
  ItemCarver carver;
  std::vector<char> block(65536);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr)) return -1;
    if (got == 0) break;
    const char *at = block.data();
    const char *const end = at + got;
    while (at < end) {
      const char *newline = static_cast<const char *>(memchr(at, '\n', static_cast<size_t>(end - at)));
      const char *stop = newline ? newline : end;
      std::string_view piece;
      if (!skipping) {
        size_t n = static_cast<size_t>(stop - at);
        const size_t room = kMaxMenuLine - line.size();
        if (const void *nul = memchr(at, '\0', n)) {
          n = static_cast<size_t>(static_cast<const char *>(nul) - at);
          skipping = true;
        }
        if (n > room) {
          n = room;
          skipping = true;
        }
        piece = std::string_view(at, n);
      }
      if (newline && line.empty()) {
        if (!TakeMenuLine(piece, &carver, &cursor, &asChild, &count)) return -1;
        skipping = false;
      } else if (newline) {
        line.append(piece);
        if (!TakeMenuLine(line, &carver, &cursor, &asChild, &count)) return -1;
        line.clear();
        skipping = false;
      } else {
        line.append(piece);
      }
      at = newline ? newline + 1 : end;
    }
  }
  if (!line.empty() && !TakeMenuLine(line, &carver, &cursor, &asChild, &count)) return -1;
  return count;
}
