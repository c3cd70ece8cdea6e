// Bookmarks (sections of the private INI file) and checkpoints (the visible
// tree in a file of its own). Every value read back is bounded and checked:
// a bookmark with a bad port or a control character in a field, or a
// checkpoint file with a malformed line, a link that could close a cycle or
// an item no root reaches, is reported with the line and the fault, and the
// file is left exactly as it was.
#include "bookmarks.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <unordered_map>

namespace {

constexpr const char *kErrorCaption = "burrowview Error";
// A default no INI value can hold, to tell a missing key from an empty one.
constexpr const char *kMissing = "\x01";
// The checkpoint format stores a double quote inside a quoted text as this byte.
constexpr char kQuoteStandIn = '\xFF';

std::string Printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char *format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

void ShowError(const std::string &text) { Ui().Message(text.c_str(), kErrorCaption, MB_OK | MB_ICONSTOP); }

bool HasControl(const std::string &text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

bool SameText(const std::string &a, const std::string &b) {
  return a.size() == b.size() && _strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// A value of a section; missing when the key is not there. Read with room
// for more than the limit, so an over-long value is seen, not cut.
bool ReadValue(const char *iniPath, const std::string &section, const char *key, std::string *value) {
  char text[1024] = {};
  GetPrivateProfileStringA(section.c_str(), key, kMissing, text, sizeof text, iniPath);
  if (strcmp(text, kMissing) == 0) return false;
  *value = text;
  return true;
}

std::string ReadFileText(const std::string &path, long limit, std::string *problem, bool *tooLarge) {
  *tooLarge = false;
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) {
    *problem = Printf("The file %s cannot be opened (error %lu); it may have been moved or deleted.", path.c_str(),
                      static_cast<unsigned long>(GetLastError()));
    return {};
  }
  std::string text;
  char block[8192];
  DWORD got = 0;
  while (ReadFile(file.get(), block, sizeof block, &got, nullptr) && got > 0) {
    if (static_cast<long>(text.size() + got) > limit) {
      *tooLarge = true;
      return {};
    }
    text.append(block, got);
  }
  problem->clear();
  return text;
}

std::string QuotedField(char letter, const std::string &text) {
  std::string out(1, letter);
  out += '"';
  for (char c : text) out += c == '"' ? kQuoteStandIn : c == '\n' ? ' ' : c;
  out += '"';
  return out;
}

bool IsCheckpointFileName(const std::string &path) {
  const size_t slash = path.find_last_of("\\/:");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() != 12 || _strnicmp(name.c_str(), "QXCP", 4) != 0 || name[8] != '.') return false;
  for (size_t i = 4; i < 12; ++i)
    if (i != 8 && !isdigit(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

std::string CheckpointPathOf(const char *iniPath, const std::string &name) {
  char path[kMaxCheckpointPath + 2] = {};
  GetPrivateProfileStringA(kCheckpointSection, name.c_str(), "", path, sizeof path, iniPath);
  return path;
}

// ---- Reading a checkpoint file ----

struct CheckpointRecord {
  int line = 0;  // in the file, from 1
  long number = 0;
  int typeIndex = kTypeUnknown;
  unsigned char typeChar = 0;
  long port = 70, flags = kItemSelectable;
  long parent = 0, next = 0, firstChild = 0;  // 0: none
  bool hasHost = false;
  std::string host, display, selector;
  // Filled while the links are checked.
  int nextIndex = -1, childIndex = -1, parentIndex = -1;
  bool linked = false, reached = false;
  int depth = 0;
};

class LineReader {
 public:
  LineReader(std::string_view text, int line) : text_(text), line_(line) {}
  bool AtEnd() const { return at_ >= text_.size(); }
  char Peek() const { return text_[at_]; }
  char Take() { return text_[at_++]; }
  // A decimal number of 1 to 9 digits.
  bool Number(long *value) {
    size_t digits = 0;
    long v = 0;
    while (!AtEnd() && isdigit(static_cast<unsigned char>(Peek())) && digits < 10) {
      v = v * 10 + (Take() - '0');
      ++digits;
    }
    *value = v;
    return digits > 0 && digits < 10;
  }
  // A double-quoted text; the stand-in byte becomes a double quote again.
  bool Quoted(std::string *value) {
    if (AtEnd() || Take() != '"') return false;
    const size_t close = text_.find('"', at_);
    if (close == std::string_view::npos) return false;
    value->assign(text_.substr(at_, close - at_));
    std::replace(value->begin(), value->end(), kQuoteStandIn, '"');
    at_ = close + 1;
    return true;
  }
  std::string Fault(const char *what) const { return Printf("Line %d %s.", line_, what); }

 private:
  std::string_view text_;
  size_t at_ = 0;
  int line_;
};

std::string CharName(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 0x20 && u < 0x7F ? Printf("'%c'", c) : Printf("the byte 0x%02X", u);
}

// One line into a record; false with the fault.
bool ParseCheckpointRecord(std::string_view text, int line, CheckpointRecord *r, std::string *problem) {
  LineReader in(text, line);
  r->line = line;
  if (!in.Number(&r->number) || r->number < 1) {
    *problem = in.Fault("does not begin with an item number");
    return false;
  }
  long index = 0;
  if (in.AtEnd() || in.Take() != '=' || !in.Number(&index) || index > kTypeUnknown) {
    *problem = in.Fault("has no type index from 0 to 19 after its number and '='");
    return false;
  }
  r->typeIndex = static_cast<int>(index);
  r->typeChar = static_cast<unsigned char>(TypeCharOf(r->typeIndex));
  if (r->typeIndex == kTypeUnknown) {
    std::string c;
    if (!in.Quoted(&c) || c.size() != 1) {
      *problem = in.Fault("has no quoted type character after the type index 19");
      return false;
    }
    r->typeChar = static_cast<unsigned char>(c[0]);
  }
  std::string seen;
  while (!in.AtEnd()) {
    const char letter = in.Take();
    if (letter == ' ' || letter == '\t') continue;
    if (!strchr("ABCFPDHK", letter)) {
      *problem = in.Fault(("holds " + CharName(letter) + " where a field letter (A B C F P D H K) belongs").c_str());
      return false;
    }
    if (seen.find(letter) != std::string::npos) {
      *problem = in.Fault(Printf("gives the field %c twice", letter).c_str());
      return false;
    }
    seen += letter;
    bool ok = true;
    switch (letter) {
      case 'A': ok = in.Number(&r->parent) && r->parent > 0; break;
      case 'B': ok = in.Number(&r->next) && r->next > 0; break;
      case 'C': ok = in.Number(&r->firstChild) && r->firstChild > 0; break;
      case 'F': ok = in.Number(&r->flags) && r->flags <= (kItemExpanded | kItemSelectable); break;
      case 'P': ok = in.Number(&r->port) && r->port <= 65535; break;
      case 'D': ok = in.Quoted(&r->display); break;
      case 'H':
        ok = in.Quoted(&r->host);
        r->hasHost = true;
        break;
      case 'K': ok = in.Quoted(&r->selector); break;
    }
    if (!ok) {
      *problem = in.Fault(strchr("DHK", letter) ? Printf("has no closed double-quoted text after %c", letter).c_str()
                          : letter == 'P'       ? "has a port that is not a number from 0 to 65535"
                          : letter == 'F'       ? "has flags that are not a number from 0 to 3"
                                                : Printf("has no item number after %c", letter).c_str());
      return false;
    }
  }
  if (!r->hasHost) {
    *problem = in.Fault("has no host (H)");
    return false;
  }
  return true;
}

// Resolves the links by number. A link goes only forward (to a larger
// number) and to an item nothing else links to, as the writer makes them,
// so no file can make a cycle; a link to a number no line carries (a file
// whose writing stopped early) is dropped.
bool CheckLinks(std::vector<CheckpointRecord> &records, std::string *problem) {
  std::unordered_map<long, int> byNumber;
  for (size_t i = 0; i < records.size(); ++i) {
    auto [at, fresh] = byNumber.emplace(records[i].number, static_cast<int>(i));
    if (!fresh) {
      *problem = Printf("Lines %d and %d both carry the item number %ld.", records[at->second].line, records[i].line,
                        records[i].number);
      return false;
    }
  }
  auto link = [&](CheckpointRecord &from, long number, int *to) {
    const auto found = byNumber.find(number);
    if (number == 0 || found == byNumber.end()) return true;
    CheckpointRecord &target = records[found->second];
    if (number <= from.number || target.linked) {
      *problem = Printf("Line %d links to item %ld, which %s.", from.line, number,
                        number <= from.number ? "does not follow it" : "another line links to already");
      return false;
    }
    target.linked = true;
    *to = found->second;
    return true;
  };
  for (CheckpointRecord &r : records) {
    if (!link(r, r.next, &r.nextIndex)) return false;
    // The children of a collapsed item are not in the file.
    if ((r.flags & kItemExpanded) && !link(r, r.firstChild, &r.childIndex)) return false;
  }
  if (records.empty()) return true;
  if (records[0].linked) {
    *problem = Printf("Line 1 is linked below or after another item; it must be the first root.");
    return false;
  }
  // Depths and parents along the links, from the first line's chain of roots.
  std::vector<std::pair<int, int>> stack;  // record, parent record
  for (int root = 0; root >= 0; root = records[root].nextIndex) stack.emplace_back(root, -1);
  while (!stack.empty()) {
    auto [index, parent] = stack.back();
    stack.pop_back();
    CheckpointRecord &r = records[index];
    r.reached = true;
    r.parentIndex = parent;
    r.depth = parent < 0 ? 1 : records[parent].depth + 1;
    if (r.depth > kMaxCheckpointDepth) {
      *problem = Printf("Line %d lies deeper than %d levels.", r.line, kMaxCheckpointDepth);
      return false;
    }
    const long parentNumber = parent < 0 ? 0 : records[parent].number;
    if (r.parent != 0 && r.parent != parentNumber) {
      *problem = Printf("Line %d names item %ld as its parent, but it is linked %s.", r.line, r.parent,
                        parent < 0 ? "as a root" : Printf("below item %ld", parentNumber).c_str());
      return false;
    }
    for (int child = r.childIndex; child >= 0; child = records[child].nextIndex) stack.emplace_back(child, index);
  }
  for (const CheckpointRecord &r : records) {
    if (!r.reached) {
      *problem = Printf("Line %d is not linked into the tree.", r.line);
      return false;
    }
  }
  return true;
}

}  // namespace

// ---- Bookmarks ----

int ReadBookmark(const char *iniPath, const std::string &name, BOOKMARK *bookmark, std::string *problem) {
  problem->clear();
  if (SameText(name, kCheckpointSection)) return 0;
  std::string host;
  if (!ReadValue(iniPath, name, "Host", &host) || host.empty()) return 0;
  BOOKMARK b;
  b.host = host;
  ReadValue(iniPath, name, "Key", &b.key);
  ReadValue(iniPath, name, "Description", &b.description);
  const struct {
    const char *key;
    const std::string &value;
  } texts[] = {{"Host", b.host}, {"Key", b.key}, {"Description", b.description}};
  for (const auto &t : texts) {
    if (t.value.size() > kMaxBookmarkValue) {
      *problem = Printf("its %s is longer than %zu characters", t.key, kMaxBookmarkValue);
      return -1;
    }
    if (HasControl(t.value)) {
      *problem = Printf("its %s holds a tab or another control character", t.key);
      return -1;
    }
  }
  std::string port;
  if (ReadValue(iniPath, name, "Port", &port)) {
    char *end = nullptr;
    const long value = strtol(port.c_str(), &end, 10);
    if (port.empty() || port.size() > 5 || *end || !isdigit(static_cast<unsigned char>(port[0])) || value < 1 ||
        value > 65535) {
      *problem = Printf("its Port \"%.20s\" is not a port number from 1 to 65535", port.c_str());
      return -1;
    }
    b.port = static_cast<int>(value);
  }
  std::string type;
  if (!ReadValue(iniPath, name, "Type", &type) || type.size() != 1 || HasControl(type)) {
    *problem = "its Type is not one item type character";
    return -1;
  }
  b.type = type[0];
  *bookmark = b;
  return 1;
}

std::string BookmarkItemProblem(const GopherItem &item) {
  if (item.host.empty()) return "it names no server";
  if (item.port < 1 || item.port > 65535) return Printf("its port %d is not a port number from 1 to 65535", item.port);
  const struct {
    const char *what;
    std::string text;
  } texts[] = {{"server name", item.host}, {"selector", item.selector}};
  for (const auto &t : texts) {
    if (t.text.size() > kMaxBookmarkValue)
      return Printf("its %s is longer than the %zu characters a bookmark holds", t.what, kMaxBookmarkValue);
    if (HasControl(t.text)) return Printf("its %s holds a tab or another control character", t.what);
  }
  return {};
}

bool WriteBookmark(const char *iniPath, const std::string &name, const GopherItem &item) {
  if (!BookmarkItemProblem(item).empty()) return false;
  const bool typeShown = item.typeChar >= 0x20 && item.typeChar != 0x7F;
  char port[16], type[2] = {static_cast<char>(typeShown ? item.typeChar : '?'), '\0'};
  snprintf(port, sizeof port, "%d", item.port);
  // The description is only shown: control characters become blanks, and it
  // is cut to what a bookmark holds, so the bookmark always loads again.
  std::string description = item.display.substr(0, kMaxBookmarkValue);
  for (char &c : description)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return WritePrivateProfileStringA(name.c_str(), "Host", item.host.c_str(), iniPath) &&
         WritePrivateProfileStringA(name.c_str(), "Key", item.selector.c_str(), iniPath) &&
         WritePrivateProfileStringA(name.c_str(), "Description", description.c_str(), iniPath) &&
         WritePrivateProfileStringA(name.c_str(), "Port", port, iniPath) &&
         WritePrivateProfileStringA(name.c_str(), "Type", type, iniPath);
}

bool BookmarkExists(const char *iniPath, const std::string &name) {
  std::string host;
  return !SameText(name, kCheckpointSection) && ReadValue(iniPath, name, "Host", &host) && !host.empty();
}

bool DeleteBookmark(const char *iniPath, const std::string &name) {
  if (SameText(name, kCheckpointSection)) return false;
  if (WritePrivateProfileStringA(name.c_str(), nullptr, nullptr, iniPath)) return true;
  ShowError(
      Printf("The bookmark \"%.128s\" could not be deleted from %s (error %lu); it is kept. Check that the "
             "file can be written, then delete it again.",
             name.c_str(), iniPath, static_cast<unsigned long>(GetLastError())));
  return false;
}

std::vector<std::string> ListIniSections(const char *iniPath, const char *key) {
  std::vector<std::string> names;
  std::string problem;
  bool tooLarge = false;
  const std::string text = ReadFileText(iniPath, 16L << 20, &problem, &tooLarge);
  size_t total = 1;  // the empty name that ends the list
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, std::min<size_t>(end - at, 255));
    at = end + 1;
    if (line.empty() || line[0] != '[') continue;
    const size_t close = line.find(']');
    std::string name = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\r')) name.pop_back();
    if (name.empty() || SameText(name, kCheckpointSection)) continue;
    if (std::any_of(names.begin(), names.end(), [&](const std::string &n) { return SameText(n, name); })) continue;
    std::string value;
    if (!ReadValue(iniPath, name, key, &value) || value.empty()) continue;
    if (total + name.size() + 1 > kMaxSectionNames) break;
    total += name.size() + 1;
    names.push_back(name);
  }
  return names;
}

std::vector<std::string> ListCheckpoints(const char *iniPath) {
  std::vector<char> keys(kMaxSectionNames + 2, '\0');
  const DWORD n = GetPrivateProfileStringA(kCheckpointSection, nullptr, "", keys.data(),
                                           static_cast<DWORD>(kMaxSectionNames), iniPath);
  std::vector<std::string> names;
  for (size_t at = 0; at < n && keys[at];) {
    const std::string name(&keys[at]);
    names.push_back(name);
    at += name.size() + 1;
  }
  return names;
}

bool CheckpointExists(const char *iniPath, const std::string &name) {
  std::string path;
  return ReadValue(iniPath, kCheckpointSection, name.c_str(), &path);
}

std::string NameProblem(const std::string &name, bool bookmark) {
  if (name.empty()) return "Enter a name.";
  if (name.size() > kMaxBookmarkName) return Printf("A name has at most %zu characters.", kMaxBookmarkName);
  if (HasControl(name)) return "A name cannot hold a tab or another control character.";
  if (name[0] == ';' || name[0] == '[') return "A name cannot begin with ';' or '['.";
  if (bookmark) {
    if (name.find(']') != std::string::npos) return "A bookmark name cannot hold ']'.";
    if (SameText(name, kCheckpointSection))
      return "\"Checkpoints\" is the name of the list of checkpoints, not of a bookmark.";
  } else if (name.find('=') != std::string::npos) {
    return "A checkpoint name cannot hold '='.";
  }
  return {};
}

GopherItem *BookmarkItem(const char *iniPath, const std::string &name, const char *emptyText) {
  if (name.empty()) {
    ShowError(emptyText);
    return nullptr;
  }
  BOOKMARK b;
  std::string problem;
  const int read = ReadBookmark(iniPath, name, &b, &problem);
  if (read == 0) {
    ShowError(Printf("Unable to load bookmark \"%.128s\"", name.c_str()));
    return nullptr;
  }
  if (read < 0) {
    ShowError(
        Printf("Unable to load bookmark \"%.128s\": %s.\n\nThe bookmark is left as it is in %s; correct or "
               "delete it.",
               name.c_str(), problem.c_str(), iniPath));
    return nullptr;
  }
  const std::string line =
      Printf("%c%s\t%s\t%s\t%d", b.type, b.description.c_str(), b.key.c_str(), b.host.c_str(), b.port);
  GopherItem *item = ParseMenuLine(line);
  if (!item) ShowError("Unable to allocate memory");
  return item;
}

// ---- Writing checkpoints ----

std::string NewCheckpointPath(const char *iniPath) {
  const std::string ini = iniPath;
  const size_t slash = ini.find_last_of("\\/");
  if (slash == std::string::npos) return {};
  const std::string folder = ini.substr(0, slash + 1);
  for (int first = 0; first <= 9999; ++first) {
    for (int second = 0; second <= 999; ++second) {
      const std::string path = folder + Printf("QXCP%04d.%03d", first, second);
      if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return path;
    }
  }
  return {};
}

int NumberItems(GopherItem *first, int counter) {
  ForEachVisible(first, [&](GopherItem *item) {
    item->number = counter++;
    return true;
  });
  return counter;
}

bool CheckpointLine(const GopherItem &item, std::string *line, std::string *why) {
  if (item.selector.find(kQuoteStandIn) != std::string::npos || item.host.find(kQuoteStandIn) != std::string::npos) {
    if (why) *why = "has the byte 255 in its selector or host, which a checkpoint line cannot keep";
    return false;
  }
  std::string head = Printf("%d=%d", item.number, item.typeIndex);
  if (item.typeIndex == kTypeUnknown) {
    const char c = item.typeChar == 0 || item.typeChar == '\n' ? '?' : static_cast<char>(item.typeChar);
    head += QuotedField('"', std::string(1, c)).substr(1);
  }
  // A port no server has (an information line's) is kept as 0.
  const int port = item.port >= 0 && item.port <= 65535 ? item.port : 0;
  if (port != 70) head += Printf("P%d", port);
  if (item.flags != kItemSelectable) head += Printf("F%d", item.flags & (kItemExpanded | kItemSelectable));
  if (item.parent) head += Printf("A%d", item.parent->number);
  if (item.next) head += Printf("B%d", item.next->number);
  // Children are written only below an expanded item.
  if ((item.flags & kItemExpanded) && item.firstChild) head += Printf("C%d", item.firstChild->number);
  const std::string host = QuotedField('H', item.host);
  const std::string key = item.selector.empty() ? "" : QuotedField('K', item.selector);
  const size_t fixed = head.size() + host.size() + key.size() + 1;
  if (fixed > kMaxCheckpointLine) {
    if (why) *why = "has a selector too long for a checkpoint line";
    return false;
  }
  std::string display;
  if (!item.display.empty() && fixed + 3 < kMaxCheckpointLine) {
    // The display is what gives way when a line would be too long.
    display = QuotedField('D', item.display.substr(0, kMaxCheckpointLine - fixed - 3));
  }
  *line = head + host + display + key + "\n";
  return true;
}

int SaveCheckpoint(const char *iniPath, const std::string &name) {
  const std::string path = NewCheckpointPath(iniPath);
  if (path.empty()) {
    ShowError(
        Printf("Too many checkpoint files\n\nEvery name from QXCP0000.000 on is taken beside %s; remove "
               "checkpoints that are no longer needed.",
               iniPath));
    return 0;
  }
  const int total = NumberItems(g_Roots, 1) - 1;
  std::string text;
  int lines = 0;
  const GopherItem *refused = nullptr;
  std::string refusal;
  ForEachVisible(g_Roots, [&](GopherItem *item) {
    std::string line;
    if (!CheckpointLine(*item, &line, &refusal)) {
      refused = item;
      return false;
    }
    text += line;
    ++lines;
    return true;
  });
  FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) {
    ShowError(
        Printf("Unable to create a file for the checkpoint\n\n%s could not be created (error %lu); check that "
               "the folder exists and may be written to.",
               path.c_str(), static_cast<unsigned long>(GetLastError())));
    return 0;
  }
  DWORD written = 0;
  if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) written = 0;
  file.Close();
  if (written < text.size()) lines = static_cast<int>(std::count(text.begin(), text.begin() + written, '\n'));
  const std::string previous = CheckpointPathOf(iniPath, name);
  if (!WritePrivateProfileStringA(kCheckpointSection, name.c_str(), path.c_str(), iniPath)) {
    DeleteFileA(path.c_str());
    ShowError(Printf("Unable to record the checkpoint in %s (error %lu); nothing was saved.", iniPath,
                     static_cast<unsigned long>(GetLastError())));
    return 0;
  }
  // The file of a checkpoint saved again under its name is not needed any more.
  if (!previous.empty() && !SameText(previous, path) && IsCheckpointFileName(previous)) DeleteFileA(previous.c_str());
  if (lines < total) {
    const std::string why =
        refused ? Printf("The item \"%.60s\" %s.\n", refused->display.c_str(), refusal.c_str()) : std::string();
    ShowError(why + Printf("Checkpoint file full; only %d of %d nodes entered", lines, total));
    return 0;
  }
  return 1;
}

bool RemoveCheckpoint(const char *iniPath, const std::string &name) {
  const std::string path = CheckpointPathOf(iniPath, name);
  if (!WritePrivateProfileStringA(kCheckpointSection, name.c_str(), nullptr, iniPath)) {
    ShowError(
        Printf("The checkpoint \"%.128s\" could not be removed from %s (error %lu); it and its file are kept. "
               "Check that the file can be written, then remove it again.",
               name.c_str(), iniPath, static_cast<unsigned long>(GetLastError())));
    return false;
  }
  if (path.empty()) return true;
  if (!IsCheckpointFileName(path)) {
    ShowError(
        Printf("The checkpoint \"%.128s\" is removed. Its file %.300s is not named like a checkpoint file, so "
               "it was left in place.",
               name.c_str(), path.c_str()));
    return true;
  }
  DeleteFileA(path.c_str());
  return true;
}

// ---- Loading checkpoints ----

int ParseCheckpoint(const std::string &text, GopherItem **first, std::string *problem) {
  *first = nullptr;
  std::vector<CheckpointRecord> records;
  std::vector<GopherItem *> items;
  try {
    int lineNumber = 0;
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      std::string_view line(text.data() + at, end - at);
      const size_t withFeed = line.size() + 1;
      at = end + 1;
      ++lineNumber;
      if (withFeed > kMaxCheckpointLine) {
        *problem = Printf("Line %d is longer than %zu characters.", lineNumber, kMaxCheckpointLine);
        return kCheckpointDamaged;
      }
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
      CheckpointRecord r;
      if (!ParseCheckpointRecord(line, lineNumber, &r, problem)) return kCheckpointDamaged;
      records.push_back(std::move(r));
    }
    if (!CheckLinks(records, problem)) return kCheckpointDamaged;
    items.reserve(records.size());
    for (const CheckpointRecord &r : records) {
      auto *item = new GopherItem;
      items.push_back(item);
      item->typeIndex = static_cast<uint8_t>(r.typeIndex);
      item->typeChar = r.typeChar;
      item->port = static_cast<int>(r.port);
      item->flags = static_cast<int>(r.flags);
      // As for a menu line: an item naming no server cannot be selected.
      if (r.host.empty() || r.port == 0) item->flags &= ~kItemSelectable;
      item->number = static_cast<int>(r.number);
      item->depth = r.depth;
      item->host = r.host;
      item->display = r.display;
      item->selector = r.selector;
    }
  } catch (const std::bad_alloc &) {
    for (GopherItem *item : items) delete item;
    return kCheckpointNoMemory;
  }
  for (size_t i = 0; i < records.size(); ++i) {
    const CheckpointRecord &r = records[i];
    items[i]->next = r.nextIndex >= 0 ? items[r.nextIndex] : nullptr;
    items[i]->firstChild = r.childIndex >= 0 ? items[r.childIndex] : nullptr;
    items[i]->parent = r.parentIndex >= 0 ? items[r.parentIndex] : nullptr;
  }
  *first = items.empty() ? nullptr : items[0];
  return kCheckpointLoaded;
}

int LoadCheckpoint(const char *iniPath, const std::string &name, int clearFirst, std::string *problem) {
  problem->clear();
  const std::string path = CheckpointPathOf(iniPath, name);
  if (path.empty()) {
    *problem = Printf("There is no checkpoint of that name in %s.", iniPath);
    return kCheckpointNoFile;
  }
  if (path.size() > kMaxCheckpointPath) {
    *problem = Printf("Its file name in %s is longer than %zu characters.", iniPath, kMaxCheckpointPath);
    return kCheckpointDamaged;
  }
  bool tooLarge = false;
  const std::string text = ReadFileText(path, kMaxCheckpointBytes, problem, &tooLarge);
  if (tooLarge) {
    *problem =
        Printf("The file %s is larger than %ld MB, more than any checkpoint.", path.c_str(), kMaxCheckpointBytes >> 20);
    return kCheckpointDamaged;
  }
  if (!problem->empty()) return kCheckpointNoFile;
  GopherItem *first = nullptr;
  const int result = ParseCheckpoint(text, &first, problem);
  if (result != kCheckpointLoaded) {
    if (result == kCheckpointDamaged) *problem = "The file " + path + " is damaged: " + *problem;
    return result;
  }
  if (!clearFirst && g_Roots) {
    GopherItem *last = g_Roots;
    while (last->next) last = last->next;
    last->next = first;
  } else {
    FreeItemList(g_Roots);
    g_Roots = first;
  }
  return kCheckpointLoaded;
}

int LoadCheckpointCommand(const char *iniPath, const std::string &name, int clearFirst, const char *emptyText) {
  if (name.empty()) {
    ShowError(emptyText);
    return 0;
  }
  std::string problem;
  const int result = LoadCheckpoint(iniPath, name, clearFirst, &problem);
  switch (result) {
    case kCheckpointLoaded:
      if (g_TreeChanged) g_TreeChanged(nullptr, 0);
      return 1;
    case kCheckpointNoMemory:
      ShowError(Printf("Error loading Checkpoint \"%.128s\"; Memory allocation problem", name.c_str()));
      return 0;
    case kCheckpointDamaged:
      ShowError(Printf("Error loading Checkpoint \"%.128s\"\n\n", name.c_str()) + problem +
                "\nThe file is left as it is; remove the checkpoint or repair its file.");
      return 0;
    default: ShowError(Printf("Error loading Checkpoint \"%.128s\"\n\n", name.c_str()) + problem); return 0;
  }
}
