// The mail store: index.idx with its free list, message files, add, delete,
// move, create, rebuild, unique work files, message list entries and the map.
// Invariant kept by every operation: a message file is never replaced, and a
// message file always has exactly one name.
#include "mailstore.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <ctime>
#include <optional>
#include <unordered_set>

#include "mailfs.h"
#include "settings.h"

// Last, so that the layer's C runtime names (fopen) are not undone by <cstdio>.
#include <windows.h>

void (*g_StoreStepHook)(const char *operation, int step) = nullptr;

namespace {

void Step(const char *operation, int step) {
  if (g_StoreStepHook) g_StoreStepHook(operation, step);
}

bool PathFits(const std::string &folder) { return IndexPath(folder).size() <= kStorePathLimit; }

// RAII for an index or message file.
struct File {
  FILE *f = nullptr;
  File() = default;
  explicit File(FILE *file) : f(file) {}
  File(const File &) = delete;
  File &operator=(const File &) = delete;
  ~File() { Close(); }
  bool Close() {
    bool ok = true;
    if (f) ok = std::fclose(f) == 0;
    f = nullptr;
    return ok;
  }
  explicit operator bool() const { return f != nullptr; }
};

void FinishInterruptedRebuild(const std::string &folder);

FILE *OpenIndexForChange(const std::string &folder) {
  if (!PathFits(folder)) return nullptr;
  FinishInterruptedRebuild(folder);
  return std::fopen(IndexPath(folder).c_str(), "rb+");
}

int32_t RecordCount(FILE *f) {
  if (std::fseek(f, 0, SEEK_END) != 0) return 0;
  long size = std::ftell(f);
  return size < 0 ? 0 : static_cast<int32_t>(size / kRecordSize);
}

bool ReadRecord(FILE *f, int32_t slot, IDX_RECORD &r) {
  if (slot < 0 || std::fseek(f, static_cast<long>(slot) * kRecordSize, SEEK_SET) != 0) return false;
  return std::fread(&r, sizeof r, 1, f) == 1;
}

bool WriteRecord(FILE *f, int32_t slot, const IDX_RECORD &r) {
  if (std::fseek(f, static_cast<long>(slot) * kRecordSize, SEEK_SET) != 0) return false;
  return std::fwrite(&r, sizeof r, 1, f) == 1 && std::fflush(f) == 0;
}

IDX_RECORD HeaderRecord(int32_t head) {
  IDX_RECORD r{};
  r.flags = kRecordFree;
  r.n = head;
  return r;
}

// Freeing slot k: the header's head goes to k, and k becomes a copy of the
// header linking to the previous head.
bool FreeSlot(FILE *f, int32_t k) {
  IDX_RECORD header;
  if (!ReadRecord(f, 0, header)) header = HeaderRecord(0);
  int32_t previous = header.n;
  header.flags |= kRecordFree;
  header.n = k;
  if (!WriteRecord(f, 0, header)) return false;
  header.n = previous;
  return WriteRecord(f, k, header);
}

bool FileExists(const std::string &path) {
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  DWORD e = GetLastError();
  return e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND;  // an unreadable name counts as taken
}

// One entry of a directory listing.
struct Listed {
  std::string name;
  FILETIME lastWrite;
  bool directory;
};

// The whole listing of folder\pattern, read before anything in it changes.
std::vector<Listed> ListDirectory(const std::string &folder, const char *pattern) {
  std::vector<Listed> entries;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\" + pattern).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return entries;
  do {
    entries.push_back(
        Listed{data.cFileName, data.ftLastWriteTime, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return entries;
}

// FILETIME (100 ns since 1601) as seconds since 1970.
int32_t FileTimeSeconds(const FILETIME &t) {
  const int64_t ticks = (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  return static_cast<int32_t>((ticks - 116444736000000000LL) / 10000000LL);
}

void CopyCut(char *field, size_t width, const std::string &text) {
  std::memset(field, 0, width);
  std::memcpy(field, text.data(), std::min(width, text.size()));
}

bool EqualsNoCase(const std::string &a, const std::string &b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

int32_t Now() { return static_cast<int32_t>(std::time(nullptr)); }

// The number of a message file name "m<n>.msg" (case ignored, as Windows
// names are; no leading zeros, n >= 1), else nothing; other names are left alone.
std::optional<uint64_t> MessageNumber(const std::string &name) {
  if (name.size() < 6 || (name[0] != 'm' && name[0] != 'M')) return std::nullopt;
  std::string ext = name.substr(name.size() - 4);
  for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext != ".msg") return std::nullopt;
  std::string digits = name.substr(1, name.size() - 5);
  if (digits.empty() || digits.size() > 10 || digits[0] == '0') return std::nullopt;
  for (char c : digits)
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  return std::stoull(digits);
}

struct MessageFile {
  uint64_t number;
  FILETIME lastWrite;
};

// The folder's message files, read whole and sorted by number before anything
// is renamed (the order of a directory listing is not stable across renames).
// A second file of the same number (names differing in case) is left alone.
std::vector<MessageFile> ListMessageFiles(const std::string &folder) {
  std::vector<MessageFile> files;
  for (const Listed &e : ListDirectory(folder, "m*.msg"))
    if (auto n = MessageNumber(e.name); n && !e.directory) files.push_back(MessageFile{*n, e.lastWrite});
  std::stable_sort(files.begin(), files.end(),
                   [](const MessageFile &a, const MessageFile &b) { return a.number < b.number; });
  files.erase(std::unique(files.begin(), files.end(),
                          [](const MessageFile &a, const MessageFile &b) { return a.number == b.number; }),
              files.end());
  return files;
}

bool HasMessageFiles(const std::string &folder) { return !ListMessageFiles(folder).empty(); }

std::string SummaryFrom(const HEADER_SUMMARY &s, const std::string &ownAddress) {
  if (s.from && EqualsNoCase(*s.from, ownAddress))
    return s.to ? "To: " + s.to->substr(0, 15) : std::string("To: <Unknown>");
  if (s.displayName) return s.displayName->substr(0, 20);
  if (s.from) return s.from->substr(0, 20);
  return "";
}

}  // namespace

std::string IndexPath(const std::string &folder) { return folder + "\\index.idx"; }
std::string MessagePath(const std::string &folder, uint64_t number) {
  return folder + "\\m" + std::to_string(number) + ".msg";
}

IDX_RECORD MakeRecord(const HEADER_SUMMARY &summary, int32_t slot, int32_t arrival, const std::string &ownAddress) {
  IDX_RECORD r{};
  r.flags = summary.flags & kRecordMime;
  r.n = slot;
  r.date = summary.date;
  r.arrival = arrival;
  CopyCut(r.subject, sizeof r.subject, summary.subject.value_or(""));
  CopyCut(r.from, sizeof r.from, SummaryFrom(summary, ownAddress));
  return r;
}

// ---- enumeration ------------------------------------------------------------

int IndexOpenFirst(const std::string &folder, IDX_RECORD &record, FILE *&file) {
  if (!PathFits(folder)) return kStoreNoIndex;
  FinishInterruptedRebuild(folder);
  file = std::fopen(IndexPath(folder).c_str(), "rb");
  if (!file) return kStoreNoIndex;
  if (std::fseek(file, kRecordSize, SEEK_SET) != 0) {
    IndexClose(file);
    return kStoreNoIndex;
  }
  return IndexNextRecord(record, file);
}

int IndexNextRecord(IDX_RECORD &record, FILE *&file) {
  if (!file) return kStoreNoIndex;
  while (std::fread(&record, sizeof record, 1, file) == 1)
    if (!(record.flags & kRecordFree)) return 0;
  IndexClose(file);
  return kStoreNoIndex;
}

void IndexClose(FILE *&file) {
  if (file) std::fclose(file);
  file = nullptr;
}

// ---- slot allocation ----------------------------------------------------------

bool IndexChooseSlot(FILE *index, SLOT_CHOICE &choice, const SlotClaim &claim) {
  choice = SLOT_CHOICE{};
  int32_t count = RecordCount(index);
  choice.fileRecords = count;
  IDX_RECORD header;
  if (count < 1 || !ReadRecord(index, 0, header)) return false;
  int32_t head = header.n;
  // Walk the free list from its head; an entry is tried only when it is in
  // range and flagged free. An entry whose message file exists is passed over
  // (a rebuild will index that file).
  for (int32_t guard = 0; head != 0 && guard < count; ++guard) {
    IDX_RECORD candidate;
    if (head <= 0 || head >= count || !ReadRecord(index, head, candidate) || !(candidate.flags & kRecordFree)) {
      head = 0;  // a damaged list is dropped: later slots are appended
      break;
    }
    SlotClaimResult r = claim(head);
    if (r == SlotClaimResult::kFailed) return false;
    if (r == SlotClaimResult::kClaimed) {
      choice.slot = head;
      choice.newHead = candidate.n;
      choice.headChanged = true;
      return true;
    }
    head = candidate.n;
  }
  choice.newHead = head;
  choice.headChanged = head != header.n;
  for (int32_t slot = count; slot >= count && slot < count + kMaxSlotsPassedOver; ++slot) {
    SlotClaimResult r = claim(slot);
    if (r == SlotClaimResult::kFailed) return false;
    if (r == SlotClaimResult::kClaimed) {
      choice.slot = slot;
      return true;
    }
  }
  return false;
}

SlotClaimResult ClaimByRename(const std::string &from, const std::string &to) {
  if (RenameNoReplace(from, to)) return SlotClaimResult::kClaimed;
  return GetLastError() == ERROR_ALREADY_EXISTS ? SlotClaimResult::kTaken : SlotClaimResult::kFailed;
}

bool IndexCommitSlot(FILE *index, const SLOT_CHOICE &choice, IDX_RECORD record) {
  // Slots passed over on append (their files exist) become free records
  // outside the list, so that no zero record ever reads as a used one.
  for (int32_t s = choice.fileRecords; s < choice.slot; ++s)
    if (!WriteRecord(index, s, HeaderRecord(0))) return false;
  record.n = choice.slot;
  if (!WriteRecord(index, choice.slot, record)) return false;
  if (choice.headChanged) {
    IDX_RECORD header;
    if (!ReadRecord(index, 0, header)) return false;
    header.flags |= kRecordFree;
    header.n = choice.newHead;
    if (!WriteRecord(index, 0, header)) return false;
  }
  return true;
}

// ---- operations -----------------------------------------------------------------

namespace {

// Whether the slot's file holds the message its record describes (the same
// Date and subject), or is gone. An index left by a rebuild that was
// interrupted may name a file that now holds another message: that message
// is never deleted or moved through the stale record.
bool RecordNamesItsFile(const std::string &folder, const IDX_RECORD &record, int32_t slot) {
  FILE *f = std::fopen(MessagePath(folder, static_cast<uint64_t>(slot)).c_str(), "rb");
  if (!f) return true;
  LINE_BUFFER keep = GetLineBuffer();  // a POP session may be using it
  GetLineBuffer().count = 0;
  HEADER_SUMMARY summary;
  ScanHeader(summary, MAIL_SOURCE::File(f), nullptr);
  std::fclose(f);
  GetLineBuffer() = keep;
  const IDX_RECORD fresh = MakeRecord(summary, slot, 0, std::string());
  const int32_t date = record.date;
  return fresh.date == date && std::memcmp(fresh.subject, record.subject, sizeof fresh.subject) == 0;
}

}  // namespace

int StoreDeleteMessage(const std::string &folder, int32_t slot) {
  File index(OpenIndexForChange(folder));
  if (!index) return kStoreNoIndex;
  IDX_RECORD r;
  if (slot <= 0 || !ReadRecord(index.f, slot, r) || (r.flags & kRecordFree) || r.n != slot) return kStoreNoRecord;
  if (!RecordNamesItsFile(folder, r, slot)) return kStoreNoRecord;
  // The slot is freed first: a crash before the file is gone leaves the file
  // on disk (found again by a rebuild), never an index entry without a file.
  if (!FreeSlot(index.f, slot)) return kStoreNoIndex;
  index.Close();
  DeleteFileA(MessagePath(folder, static_cast<uint64_t>(slot)).c_str());
  return 0;
}

int StoreMoveMessage(const std::string &source, const std::string &destination, int32_t slot) {
  File src(OpenIndexForChange(source));
  if (!src) return kStoreNoIndex;
  File dst(OpenIndexForChange(destination));
  if (!dst) return kStoreNoIndex;
  IDX_RECORD r;
  if (slot <= 0 || !ReadRecord(src.f, slot, r) || (r.flags & kRecordFree) || r.n != slot) return kStoreNoRecord;
  if (!RecordNamesItsFile(source, r, slot)) return kStoreNoRecord;
  // The file moves first, under a name no file has (a name that exists is
  // passed over); if it cannot move, nothing changed.
  const std::string from = MessagePath(source, static_cast<uint64_t>(slot));
  SLOT_CHOICE choice;
  bool moved = IndexChooseSlot(dst.f, choice, [&](int32_t m) {
    Step("move", 1);
    return ClaimByRename(from, MessagePath(destination, static_cast<uint64_t>(m)));
  });
  if (!moved) return kStoreNoIndex;
  const std::string to = MessagePath(destination, static_cast<uint64_t>(choice.slot));
  Step("move", 2);
  if (!IndexCommitSlot(dst.f, choice, r)) {
    RenameNoReplace(to, from);  // the message stays indexed where it was
    return kStoreNoIndex;
  }
  Step("move", 3);
  dst.Close();
  FreeSlot(src.f, slot);
  Step("move", 4);
  return 0;
}

int StoreCreateFolder(const std::string &folder) {
  if (!PathFits(folder)) return kStoreNoIndex;
  CreateDirectoryA(folder.c_str(), nullptr);  // an existing directory is fine
  const std::string path = IndexPath(folder);
  File index(std::fopen(path.c_str(), "rb+"));
  if (!index) index.f = std::fopen(path.c_str(), "wb+x");
  if (!index) return kStoreNoIndex;
  if (RecordCount(index.f) >= 1) return 0;
  // An index missing next to message files is rebuilt from them, so that they
  // are listed and their numbers are not handed out again.
  if (HasMessageFiles(folder)) {
    index.Close();
    return RebuildFolder(folder) == 0 ? 0 : kStoreNoIndex;
  }
  return WriteRecord(index.f, 0, HeaderRecord(0)) ? 0 : kStoreNoIndex;
}

int StoreAddMessage(const std::string &messageFile, const std::string &folder) {
  File index(OpenIndexForChange(folder));
  if (!index) return kStoreNoIndex;
  SLOT_CHOICE choice;
  if (!IndexChooseSlot(index.f, choice, [&](int32_t m) {
        return ClaimByRename(messageFile, MessagePath(folder, static_cast<uint64_t>(m)));
      }))
    return kStoreNoIndex;
  const std::string target = MessagePath(folder, static_cast<uint64_t>(choice.slot));
  HEADER_SUMMARY summary;
  if (FILE *f = std::fopen(target.c_str(), "rb")) {
    ScanHeader(summary, MAIL_SOURCE::File(f), nullptr);
    CloseSource(MAIL_SOURCE::File(f));
  }
  IDX_RECORD r = MakeRecord(summary, choice.slot, Now(), Settings().ownAddress);
  FreeHeaderSummary(summary);
  if (!IndexCommitSlot(index.f, choice, r)) {
    RenameNoReplace(target, messageFile);
    return kStoreNoIndex;
  }
  return 0;
}

namespace {

// A rebuild renumbers message files to close gaps. The renames and the index
// that names the new numbers must change together, so a rebuild writes its
// plan first: the new index aside ("index.new"), then the intent record
// "rebuild.ren" (one "from to" line per rename, then "end"), synced; then the
// new index replaces the old one, the files are renamed, and the intent record
// goes. Whoever opens the folder next finishes a rebuild that was killed:
//   - intent record incomplete, or "index.new" still there: the old index is
//     in force and nothing was renamed yet, so the plan is dropped;
//   - otherwise the new index is in force: the renames not yet done are done.
// Each rename goes to a number no file had at that point of the plan, and a
// target is never a later source, so replaying in order is safe: a step whose
// target exists was done, a step whose source is gone was done.
std::string IntentPath(const std::string &folder) { return folder + "\\rebuild.ren"; }
std::string AsidePath(const std::string &folder) { return folder + "\\index.new"; }

struct RENAME_STEP {
  uint64_t from, to;
};

bool WriteIntent(const std::string &folder, const std::vector<RENAME_STEP> &plan) {
  File intent(std::fopen(IntentPath(folder).c_str(), "wb"));
  if (!intent) return false;
  for (const RENAME_STEP &r : plan)
    if (std::fprintf(intent.f, "%llu %llu\n", static_cast<unsigned long long>(r.from),
                     static_cast<unsigned long long>(r.to)) < 0)
      return false;
  if (std::fputs("end\n", intent.f) < 0 || std::fflush(intent.f) != 0 || _commit(_fileno(intent.f)) != 0) return false;
  return intent.Close();
}

// The plan of an intent record; false when the record is incomplete.
bool ReadIntent(const std::string &folder, std::vector<RENAME_STEP> &plan) {
  File intent(std::fopen(IntentPath(folder).c_str(), "rb"));
  if (!intent) return false;
  char line[64];
  while (std::fgets(line, sizeof line, intent.f)) {
    if (std::strcmp(line, "end\n") == 0) return true;
    unsigned long long from = 0, to = 0;
    char newline = 0;
    if (std::sscanf(line, "%llu %llu%c", &from, &to, &newline) != 3 || newline != '\n') return false;
    plan.push_back(RENAME_STEP{from, to});
  }
  return false;
}

void FinishInterruptedRebuild(const std::string &folder) {
  if (!FileExists(IntentPath(folder))) return;
  std::vector<RENAME_STEP> plan;
  if (ReadIntent(folder, plan) && !FileExists(AsidePath(folder))) {
    for (const RENAME_STEP &r : plan) {
      const std::string from = MessagePath(folder, r.from), to = MessagePath(folder, r.to);
      if (FileExists(from) && !FileExists(to) && !RenameNoReplace(from, to)) return;  // tried again next time
    }
  }
  DeleteFileA(IntentPath(folder).c_str());
}

}  // namespace

int RebuildFolder(const std::string &folder) {
  if (!PathFits(folder)) return kStoreNoIndex;
  FinishInterruptedRebuild(folder);
  // The plan: each file's new number, the lowest number free at its turn.
  const std::vector<MessageFile> files = ListMessageFiles(folder);
  std::vector<RENAME_STEP> plan;
  std::vector<uint64_t> target(files.size());
  {
    // Candidates only grow, so a number given out earlier is never offered
    // again; a number whose file was planned away earlier is free.
    std::unordered_set<uint64_t> vacated;
    uint64_t candidate = 1;
    for (size_t i = 0; i < files.size(); ++i) {
      const uint64_t number = files[i].number;
      while (candidate < number && !vacated.count(candidate) && FileExists(MessagePath(folder, candidate))) ++candidate;
      target[i] = number;
      if (candidate < number) {
        plan.push_back(RENAME_STEP{number, candidate});
        target[i] = candidate++;
        vacated.insert(number);
      }
    }
  }
  // The new index is built aside from the files under their present names and
  // replaces the old one only when complete: never a short index.
  const std::string aside = AsidePath(folder);
  File index(std::fopen(aside.c_str(), "wb"));
  if (!index) return kStoreNoIndex;
  if (!WriteRecord(index.f, 0, HeaderRecord(0))) return kStoreNoIndex;
  int32_t written = 1;  // records in the new index
  for (size_t i = 0; i < files.size(); ++i) {
    Step("rebuild", static_cast<int>(i) + 1);
    if (target[i] > INT32_MAX) continue;  // could not be renumbered: left for the next rebuild
    const int32_t slot = static_cast<int32_t>(target[i]);
    HEADER_SUMMARY summary;
    if (FILE *f = std::fopen(MessagePath(folder, files[i].number).c_str(), "rb")) {
      ScanHeader(summary, MAIL_SOURCE::File(f), nullptr);
      CloseSource(MAIL_SOURCE::File(f));
    }
    IDX_RECORD r = MakeRecord(summary, slot, FileTimeSeconds(files[i].lastWrite), Settings().ownAddress);
    for (; written < slot; ++written)
      if (!WriteRecord(index.f, written, HeaderRecord(0))) return kStoreNoIndex;
    if (!WriteRecord(index.f, slot, r)) return kStoreNoIndex;
    written = std::max(written, slot + 1);
  }
  if (std::fflush(index.f) != 0 || _commit(_fileno(index.f)) != 0 || !index.Close()) return kStoreNoIndex;
  if (!plan.empty() && !WriteIntent(folder, plan)) {
    DeleteFileA(IntentPath(folder).c_str());
    return kStoreNoIndex;
  }
  Step("rebuild", 1000);
  if (!MoveFileExA(aside.c_str(), IndexPath(folder).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileA(IntentPath(folder).c_str());  // the old index stays in force, nothing renamed
    return kStoreNoIndex;
  }
  MarkIndexFormatCurrent();
  for (size_t k = 0; k < plan.size(); ++k) {
    Step("rebuild", 1001 + static_cast<int>(k));
    if (!RenameNoReplace(MessagePath(folder, plan[k].from), MessagePath(folder, plan[k].to)))
      return kStoreNoIndex;  // the intent record stays: the next open tries again
  }
  DeleteFileA(IntentPath(folder).c_str());
  return 0;
}

void RebuildAllFolders(const std::string &directory) {
  RebuildFolder(directory);
  std::vector<std::string> subdirectories;
  for (const Listed &e : ListDirectory(directory, "*.*"))
    if (e.directory && !e.name.empty() && e.name[0] != '.') subdirectories.push_back(directory + "\\" + e.name);
  std::sort(subdirectories.begin(), subdirectories.end());
  for (const auto &sub : subdirectories) RebuildAllFolders(sub);
}

FILE *CreateUniqueFile(std::string &path) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%06d", static_cast<int>(GetCurrentProcessId() % 1000000));
  std::string name = std::string("qx") + digits;
  for (int attempt = 0; attempt < 27; ++attempt) {
    if (attempt > 0) name[2] = static_cast<char>('a' + attempt - 1);
    std::string candidate = path + name;
    if (FILE *f = std::fopen(candidate.c_str(), "w+bx")) {
      path = candidate;
      return f;
    }
  }
  return nullptr;
}

// ---- message list -------------------------------------------------------------

namespace {
std::array<std::vector<MSG_ENTRY>, 2> g_messageLists;
int g_currentList = 0;

std::string RowText(const IDX_RECORD &r, RowMeasure &m) {
  std::time_t when = r.date;
  std::tm local{};
  int month = 1, day = 1;
  if (localtime_r(&when, &local)) {
    month = local.tm_mon + 1;
    day = local.tm_mday;
  }
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "%02d/%02d  ", month, day);
  std::string row = prefix + std::string(r.from, strnlen(r.from, sizeof r.from));
  const int T = m.tabUnit, B = m.bitmapWidth;
  while (!row.empty() && m.TextWidth(row) > 3 * T - B - 6) row.pop_back();
  int width = m.TextWidth(row);
  for (int tabs = 0; B + width + 4 + tabs * T < 3 * T; ++tabs) row += '\t';
  std::string subject(r.subject, strnlen(r.subject, sizeof r.subject));
  size_t room = row.size() < 71 ? 71 - row.size() : 0;
  row += subject.substr(0, std::min<size_t>(room, 59));
  return row;
}
}  // namespace

std::vector<MSG_ENTRY> &CurrentMessageList() { return g_messageLists[static_cast<size_t>(g_currentList)]; }
void SelectMessageList(int which) { g_currentList = which ? 1 : 0; }
void FreeMessageList() { CurrentMessageList().clear(); }

bool ReadIndexPieces(const std::string &folder, bool lastFirst, const IndexPieceVisit &visit) {
  if (!PathFits(folder)) return false;
  FinishInterruptedRebuild(folder);
  FILE *f = std::fopen(IndexPath(folder).c_str(), "rb");
  if (!f) return false;
  const int32_t records = RecordCount(f);
  // Whole records, read into one reused buffer.
  constexpr int32_t kRecordsPerRead = 601;
  static std::array<IDX_RECORD, kRecordsPerRead> piece;
  int32_t at = -1;  // the record the file stands at
  const auto readPiece = [&](int32_t first, int32_t count) {
    if (count <= 0 || (first != at && std::fseek(f, static_cast<long>(first) * kRecordSize, SEEK_SET) != 0)) return;
    const size_t got = std::fread(piece.data(), sizeof(IDX_RECORD), static_cast<size_t>(count), f);
    at = first + static_cast<int32_t>(got);
    if (got > 0) visit(piece.data(), got, static_cast<uint32_t>(first));
  };
  int32_t end = records;
  if (lastFirst && records > 1) {
    const int32_t last = 1 + (records - 2) / kRecordsPerRead * kRecordsPerRead;
    readPiece(last, records - last);
    end = last;
  }
  for (int32_t first = 1; first < end; first += kRecordsPerRead)
    readPiece(first, std::min(kRecordsPerRead, end - first));
  std::fclose(f);
  return true;
}

int LoadMessageKeys(const std::string &folder, std::vector<MSG_KEY> &keys) {
  keys.clear();
  ReadIndexPieces(folder, false, [&](const IDX_RECORD *records, size_t count, uint32_t first) {
    for (size_t k = 0; k < count; ++k)
      if (!(records[k].flags & kRecordFree)) {
        const IDX_RECORD &r = records[k];
        keys.push_back(MSG_KEY{r.date, r.arrival, r.n, first + static_cast<uint32_t>(k), r.flags});
      }
  });
  return static_cast<int>(keys.size());
}

std::vector<MSG_ENTRY> BuildEntries(const std::string &folder, const std::vector<MSG_KEY> &keys, size_t first,
                                    size_t last, RowMeasure &measure) {
  std::vector<MSG_ENTRY> entries;
  last = std::min(last, keys.size());
  FILE *f = first < last && PathFits(folder) ? std::fopen(IndexPath(folder).c_str(), "rb") : nullptr;
  for (size_t i = first; i < last; ++i) {
    const MSG_KEY &key = keys[i];
    IDX_RECORD r{};
    if (!f || !ReadRecord(f, static_cast<int32_t>(key.record), r) || (r.flags & kRecordFree) || r.n != key.number) {
      r = IDX_RECORD{};  // the index changed under the list: the date alone
      r.date = key.date;
    }
    entries.push_back(MSG_ENTRY{key.date, key.arrival, key.number, RowText(r, measure), key.flags, key.record});
  }
  if (f) std::fclose(f);
  return entries;
}

int BuildMessageList(const std::string &folder, RowMeasure &measure) {
  std::vector<MSG_ENTRY> &list = CurrentMessageList();
  list.clear();
  IDX_RECORD r;
  FILE *f = nullptr;
  uint32_t index = 1;
  for (int rc = IndexOpenFirst(folder, r, f); rc == 0; rc = IndexNextRecord(r, f)) {
    index = static_cast<uint32_t>((std::ftell(f) / kRecordSize) - 1);
    list.push_back(MSG_ENTRY{r.date, r.arrival, r.n, RowText(r, measure), r.flags, index});
  }
  IndexClose(f);
  std::reverse(list.begin(), list.end());  // entries are pushed at the head
  return static_cast<int>(list.size());
}

std::string MessageCountText(int count) {
  return "(" + std::to_string(count) + " Message" + (count == 1 ? "" : "s") + ")";
}

// ---- character map -------------------------------------------------------------

namespace {
std::array<uint8_t, 128> g_incoming, g_outgoing;

std::optional<unsigned long> ParseHex(const std::string &text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  unsigned long v = 0;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    v = v * 16 + static_cast<unsigned long>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                                        : (std::toupper(c) - 'A' + 10));
  }
  return v;
}

void ResetMap() {
  for (int i = 0; i < 128; ++i) {
    g_incoming[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    g_outgoing[static_cast<size_t>(i)] = static_cast<uint8_t>(i | 0x80);
  }
}
}  // namespace

void LoadCharacterMap(const std::string &mailDir) {
  ResetMap();
  ProfileAccess *ini = GetProfileAccess();
  if (!ini) return;
  std::string mapFile = mailDir + "/qxmap.ini";
  if (!FileExists(mapFile)) mapFile = ini->Get(Settings().iniFile, "default", "MappingFile", mapFile, 121);
  for (const std::string &keyText : ini->Keys(mapFile, "QX-Mapping")) {
    std::string key = keyText.substr(0, 120);
    auto k = ParseHex(key);
    if (!k) continue;
    auto v = ParseHex(ini->Get(mapFile, "QX-Mapping", key, "", 121));
    // Pairs are of one 7-bit and one 8-bit byte; anything else is ignored.
    if (!v || *k > 0xFF || *v > 0xFF || ((*k & 0x80) != 0) == ((*v & 0x80) != 0)) continue;
    unsigned long low = std::min(*k, *v), high = std::max(*k, *v);
    g_incoming[low] = static_cast<uint8_t>(high);
    g_outgoing[high & 0x7F] = static_cast<uint8_t>(low);
  }
}

uint8_t MapIncomingByte(uint8_t b) { return b < 128 ? g_incoming[b] : b; }
uint8_t MapOutgoingByte(uint8_t b) { return b >= 128 ? g_outgoing[b & 0x7F] : b; }

void MapIncoming(std::string &text) {
  for (char &c : text) c = static_cast<char>(MapIncomingByte(static_cast<uint8_t>(c)));
}
void MapOutgoing(std::string &text) {
  for (char &c : text) c = static_cast<char>(MapOutgoingByte(static_cast<uint8_t>(c)));
}

namespace {
struct MapInit {
  MapInit() { ResetMap(); }
} g_mapInit;
}  // namespace
