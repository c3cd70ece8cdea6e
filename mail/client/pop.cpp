// POP retrieval: POP3 (USER, PASS, STAT, LAST, UIDL, RETR, DELE, QUIT) and
// POP2 (HELO, READ, RETR, ACKS/ACKD, QUIT) into the mail directory's index.
//
// Order of a message, so that a crash anywhere loses nothing: the message is
// received into a work file and flushed to disk; its unique identifier and
// chosen slot go to "popuidl.txt"; the work file is renamed to the slot's
// "m<n>.msg" (never replacing a file); the index record is written and
// flushed; only then is the message deleted on the server. On the next
// retrieval the last line of "popuidl.txt" is settled first (its record
// written when the file was named but not indexed).
#include "pop.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "headers.h"
#include "mailfs.h"
#include "mailnet.h"
#include "mailstore.h"
#include "settings.h"

// Last, so that the layer's C runtime names (fopen) are not undone by <cstdio>.
#include <windows.h>

int g_PasswordVerified = 0;
int g_PasswordFailed = 0;
void (*g_PopStatusHook)(const char *text) = nullptr;
void (*g_PopStepHook)(int message, int step) = nullptr;

namespace {

// A status line longer than this is a broken server: the rest is not read.
constexpr long kMaxStatusBytes = 64 * 1024;
constexpr size_t kMaxUidlLength = 70;  // what a server may use for one identifier

void Step(int message, int step) {
  if (g_PopStepHook) g_PopStepHook(message, step);
}

void ShowStatus(const char *text) {
  if (g_PopStatusHook) g_PopStatusHook(text);
}

// ---- lines from the connection, through the shared line buffer --------------

int SendText(SocketHandle s, const std::string &text) {
  return SendPumping(s, text.data(), static_cast<int>(text.size())) == static_cast<int>(text.size()) ? 0 : -1;
}

// One line with its LF into line (cut at limit bytes, the rest read and
// dropped); false when the connection ended first.
bool ReadConnectionLine(SocketHandle s, std::string &line, size_t limit) {
  line.clear();
  char piece[kLineReadSize + 1];
  long total = 0;
  for (;;) {
    if (!ReadLine(piece, sizeof piece, MAIL_SOURCE::Socket(s))) return false;
    size_t n = std::strlen(piece);
    total += static_cast<long>(n);
    if (line.size() < limit) line.append(piece, std::min(n, limit - line.size()));
    if (n > 0 && piece[n - 1] == '\n') return true;
    if (total > kMaxStatusBytes) return false;
  }
}

int StatusKind(const std::string &text) {
  if (text.empty()) return kPopFailed;
  switch (text[0]) {
    case '+': return kPopPlus;
    case '-': return kPopMinus;
    case '=': return kPopEquals;
    case '#': return kPopHash;
    default: return kPopFailed;
  }
}

// Decimal digits after white space at text[from]; false without digits or
// when the number does not fit.
bool StatusNumber(const std::string &text, size_t from, long &number) {
  size_t i = std::min(from, text.size());
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  long v = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > 0x7FFFFFFF) return false;
  }
  number = v;
  return true;
}

// ---- the side file of stored identifiers ----------------------------------------

struct UIDL_ENTRY {
  std::string uidl;
  long slot = 0;
  std::string workFile;  // the work file's name in the folder
};

// The side file's identifiers while a retrieval runs: one block of text and
// its offsets sorted by identifier, found by binary search (the identifier's
// length plus 5 bytes each).
class IdSet {
 public:
  // False when the block would pass 4 GB: the identifier is not held.
  bool Add(std::string_view id) {
    if (text_.size() + id.size() + 1 >= kNoOffset) return false;
    offsets_.push_back(static_cast<uint32_t>(text_.size()));
    text_.append(id);
    text_.push_back('\0');
    return true;
  }
  // Sorts what was added; an identifier added twice is held once.
  void Seal() {
    auto less = [&](uint32_t a, uint32_t b) { return At(a) < At(b); };
    std::sort(offsets_.begin(), offsets_.end(), less);
    auto same = [&](uint32_t a, uint32_t b) { return At(a) == At(b); };
    offsets_.erase(std::unique(offsets_.begin(), offsets_.end(), same), offsets_.end());
  }
  // The identifier's place among those held (after Seal), or -1.
  long Find(std::string_view id) const {
    auto it = std::lower_bound(offsets_.begin(), offsets_.end(), id,
                               [&](uint32_t a, std::string_view v) { return At(a) < v; });
    return it == offsets_.end() || At(*it) != id ? -1 : static_cast<long>(it - offsets_.begin());
  }
  size_t Size() const { return offsets_.size(); }
  void Clear() {
    std::string().swap(text_);
    std::vector<uint32_t>().swap(offsets_);
  }

 private:
  static constexpr size_t kNoOffset = 0xFFFFFFFF;
  std::string_view At(uint32_t offset) const { return std::string_view(text_.data() + offset); }
  std::string text_;               // identifiers, each ended by a NUL
  std::vector<uint32_t> offsets_;  // into text_
};

// "popuidl.txt": one line "identifier slot workfile" per stored message. In
// memory a retrieval keeps the file's identifiers (what stops a second fetch
// while messages stay on the server), for each the bits "listed by the
// server" and "forgotten", and the file's last entry; the file is read line by
// line and rewritten by streaming it. Lines read at Load are the old ones,
// lines appended since are this retrieval's.
class UidlLog {
 public:
  explicit UidlLog(const std::string &folder) : folder_(folder), path_(folder + "\\" + kPopUidlFile) {}

  // False when the file does not exist yet.
  bool Load() {
    Release();
    last_.reset();
    forgotten_.clear();
    lines_ = oldLines_ = 0;
    dirty_ = listed_ = false;
    FILE *f = std::fopen(path_.c_str(), "rb");
    if (!f) return false;
    UIDL_ENTRY e;
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
      ++lines_;
      if (!ParseLine(line, e) || !ids_.Add(e.uidl)) {
        dirty_ = true;  // dropped at the next rewrite
        continue;
      }
      last_ = std::move(e);
    }
    std::fclose(f);
    oldLines_ = lines_;
    ids_.Seal();
    listedBits_.assign(ids_.Size(), false);
    gone_.assign(ids_.Size(), false);
    return true;
  }
  // Gives back what Load read (the server lists no identifiers).
  void Release() {
    ids_.Clear();
    std::vector<bool>().swap(listedBits_);
    std::vector<bool>().swap(gone_);
  }

  // Whether the server's identifier uidl belongs to a stored message; it is
  // noted as still on the server.
  bool Stored(std::string_view uidl) {
    const long i = ids_.Find(uidl);
    if (i < 0 || gone_[static_cast<size_t>(i)]) return false;
    listedBits_[static_cast<size_t>(i)] = true;
    return true;
  }
  // The server's list has been read whole: old identifiers it did not list
  // leave the file at the next rewrite.
  void ListingDone() {
    listed_ = true;
    for (size_t i = 0; i < ids_.Size(); ++i) dirty_ = dirty_ || (!listedBits_[i] && !gone_[i]);
  }
  // The file's last entry (the one a retrieval may have left unsettled).
  const std::optional<UIDL_ENTRY> &Last() const { return last_; }
  // The identifier's lines leave the file at the next rewrite (a message
  // whose file was never named) and it no longer counts as stored.
  void Forget(std::string_view uidl) {
    const long i = ids_.Find(uidl);
    if (i >= 0) gone_[static_cast<size_t>(i)] = true;
    forgotten_.emplace_back(uidl);
    dirty_ = true;
  }

  // Appends one line (the file is made when missing) and flushes it to disk.
  bool Append(const UIDL_ENTRY &e) {
    return AppendLines(
        1, [&](FILE *f, long) { return WriteLine(f, e.uidl, e.slot, e.workFile); }, [&] { last_ = e; });
  }
  // Appends the server's messages 1..ids.size() as known from before
  // identifiers were kept (slot 0, no work file).
  bool AppendFetchedBefore(const std::vector<std::string> &ids) {
    const long last = static_cast<long>(ids.size());
    return AppendLines(
        last, [&](FILE *f, long n) { return WriteLine(f, ids[static_cast<size_t>(n - 1)], 0, "-"); },
        [&] {
          if (last > 0) last_ = UIDL_ENTRY{ids.back(), 0, "-"};
        });
  }

  // Keeps only the lines of identifiers the server still lists (none when
  // keepOnServer is false), replacing the file whole (written aside by
  // streaming the old one, then renamed over it). Nothing is written when
  // nothing would be dropped. True when the file holds no line to drop.
  bool Rewrite(bool keepOnServer) {
    if (lines_ == 0 || (keepOnServer && !dirty_)) return true;
    const std::string aside = folder_ + "\\popuidl.new";
    FILE *in = std::fopen(path_.c_str(), "rb");
    if (!in) return false;
    FILE *out = std::fopen(aside.c_str(), "wb");
    if (!out) {
      std::fclose(in);
      return false;
    }
    bool ok = true;
    long line = 0, kept = 0, keptOld = 0;
    UIDL_ENTRY e;
    char text[512];
    while (keepOnServer && std::fgets(text, sizeof text, in)) {
      const bool old = line++ < oldLines_;
      if (!ParseLine(text, e) || !Keep(e.uidl, old)) continue;
      ok = WriteLine(out, e.uidl, e.slot, e.workFile) && ok;
      ++kept;
      keptOld += old;
    }
    ok = std::ferror(in) == 0 && ok;
    std::fclose(in);
    ok = std::fflush(out) == 0 && ok;
    ok = _commit(_fileno(out)) == 0 && ok;
    ok = std::fclose(out) == 0 && ok;
    if (ok && MoveFileExA(aside.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      lines_ = kept;
      oldLines_ = keptOld;
      dirty_ = false;
      forgotten_.clear();
      return true;
    }
    DeleteFileA(aside.c_str());
    return false;
  }

 private:
  static bool ParseLine(const char *line, UIDL_ENTRY &e) {
    char uidl[128], work[64];
    long slot = 0;
    if (std::sscanf(line, "%127s %ld %63s", uidl, &slot, work) != 3 || std::strlen(uidl) > kMaxUidlLength) return false;
    e.uidl = uidl;
    e.slot = slot;
    e.workFile = work;
    return true;
  }
  static bool WriteLine(FILE *f, std::string_view uidl, long slot, std::string_view work) {
    return std::fprintf(f, "%.*s %ld %.*s\n", static_cast<int>(uidl.size()), uidl.data(), slot,
                        static_cast<int>(work.size()), work.data()) > 0;
  }
  // Whether a line stays at a rewrite: not forgotten, and an old one only
  // while the server lists it (all of them before its list was read).
  bool Keep(std::string_view uidl, bool old) const {
    if (std::find(forgotten_.begin(), forgotten_.end(), uidl) != forgotten_.end()) return false;
    if (!old) return true;
    const long i = ids_.Find(uidl);
    return i >= 0 && !gone_[static_cast<size_t>(i)] && (!listed_ || listedBits_[static_cast<size_t>(i)]);
  }

  template <typename Write, typename Done>
  bool AppendLines(long count, Write write, Done done) {
    FILE *f = std::fopen(path_.c_str(), "ab");
    if (!f) return false;
    bool ok = true;
    for (long n = 1; n <= count; ++n) ok = write(f, n) && ok;
    ok = std::fflush(f) == 0 && ok;
    ok = _commit(_fileno(f)) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    if (ok) {
      lines_ += count;
      done();
    }
    return ok;
  }

  std::string folder_, path_;
  IdSet ids_;                            // the identifiers of the old lines
  std::vector<bool> listedBits_, gone_;  // by place in ids_: listed by the server; forgotten
  std::vector<std::string> forgotten_;   // identifiers forgotten since the last rewrite
  std::optional<UIDL_ENTRY> last_;
  long lines_ = 0;       // lines in the file
  long oldLines_ = 0;    // of which the first oldLines_ were there at Load
  bool dirty_ = false;   // a line would go at a rewrite
  bool listed_ = false;  // the server's list was read whole
};

// ---- the server's list ---------------------------------------------------------

// What a retrieval keeps of the server's UIDL list: for each message number
// whether its message is stored already, and, the first time identifiers are
// kept, the identifiers of the messages up to LAST. The identifier of a
// message to fetch is asked for when it is fetched ("UIDL n"), so memory
// does not grow with the identifiers of the messages on the server. Numbers
// that come in order (as servers send them) take two bits; others are kept
// aside until the end; memory follows the lines received, never the count
// STAT claimed. A number given twice: its last identifier.
class ListedMessages {
 public:
  ListedMessages(long count, long last) : count_(count), last_(last) {}
  // False once more lines came than twice the count: a broken list.
  bool Add(long number, bool stored, std::string_view id) {
    if (++lines_ > 2 * static_cast<uint64_t>(count_)) return false;
    const size_t index = static_cast<size_t>(number - 1);
    if (late_.empty() && index <= given_.size()) {
      if (index == given_.size()) {
        given_.push_back(true);
        stored_.push_back(stored);
      }
      stored_[index] = stored;
    } else {
      late_.push_back({static_cast<uint32_t>(number), stored});
    }
    if (number <= last_) before_.push_back({static_cast<uint32_t>(number), std::string(id)});
    return true;
  }
  // False when a number in 1..count was not given.
  bool Finish() {
    const size_t count = static_cast<size_t>(count_);
    if (given_.size() + late_.size() < count) return false;  // bounds what follows by the lines received
    given_.resize(count, false);
    stored_.resize(count, false);
    for (const auto &l : late_) {
      given_[l.number - 1] = true;
      stored_[l.number - 1] = l.stored;
    }
    std::vector<Late>().swap(late_);
    return std::find(given_.begin(), given_.end(), false) == given_.end();
  }
  // Message number (1..count) is stored already.
  bool Stored(long number) const { return stored_[static_cast<size_t>(number - 1)]; }
  void MarkStored(long number, bool stored) { stored_[static_cast<size_t>(number - 1)] = stored; }
  // The identifiers of messages 1..last, in order (last wins for a number
  // given twice); empty when one is missing.
  std::vector<std::string> Before() const {
    if (before_.size() < static_cast<size_t>(last_)) return {};
    std::vector<std::string> ids(static_cast<size_t>(last_));
    std::vector<bool> have(ids.size(), false);
    for (const auto &[number, id] : before_) {
      ids[number - 1] = id;
      have[number - 1] = true;
    }
    if (std::find(have.begin(), have.end(), false) != have.end()) return {};
    return ids;
  }

 private:
  struct Late {
    uint32_t number;
    bool stored;
  };
  long count_, last_;
  uint64_t lines_ = 0;
  std::vector<bool> given_, stored_;  // by number - 1, for the numbers that came in order
  std::vector<Late> late_;
  std::vector<std::pair<uint32_t, std::string>> before_;  // the first time identifiers are kept
};

// ---- the index -------------------------------------------------------------------

struct IndexFile {
  FILE *f = nullptr;
  ~IndexFile() {
    if (f) std::fclose(f);
  }
};

bool ReadIndexRecord(FILE *f, long slot, IDX_RECORD &r) {
  return std::fseek(f, slot * kRecordSize, SEEK_SET) == 0 && std::fread(&r, sizeof r, 1, f) == 1;
}

bool SyncFile(FILE *f) { return std::fflush(f) == 0 && _commit(_fileno(f)) == 0; }

bool FileThere(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// ---- one session ---------------------------------------------------------------------

class PopSession {
 public:
  PopSession(const char *user, const char *password, int deleteFromServer, const std::string &folder)
      : user_(user ? user : ""),
        password_(password ? password : ""),
        delete_(deleteFromServer != 0),
        folder_(folder),
        uidls_(folder) {}
  ~PopSession() {
    if (connected_) CloseSource(MAIL_SOURCE::Socket(socket_));
  }

  int Run(const char *host);

 private:
  int Connect(const char *host);
  int OpenIndex();
  int LoginPop3(long &count, long &last);
  int LoginPop2(long &count, long &firstLength);
  bool ListUidls(long count, long keepBefore);
  int AskUidl(long number, std::string &id);
  void SettlePendingEntry();
  int FetchPop3(long number, long shown, long total);
  int FetchPop2(long length, long shown, long total);
  int ReceiveBody(FILE *out, bool pop3, long length);
  int StoreMessage(FILE *&work, const std::string &workPath, const std::string &uidl);
  int Fail(int result);
  void Quit();

  std::string user_, password_;
  bool delete_;
  std::string folder_;
  SocketHandle socket_ = 0;
  bool connected_ = false;
  int level_ = 3;
  IndexFile index_;
  UidlLog uidls_;
  std::optional<ListedMessages> listed_;  // without UIDL: none
  long pendingNumber_ = 0;                // the message of the side file's last entry, if listed
  int32_t lastArrival_ = 0;
  int stored_ = 0;
  bool statusFailed_ = false;  // the UIDL list ended with the connection
};

int PopSession::Connect(const char *host) {
  uint32_t address = HostAddress(host);
  if (address == kNoAddress) return kPopUnknownHost;
  for (level_ = 3;; --level_) {
    if (level_ < 2) return kPopNoServer;
    MAIL_CONNECTION c = ConnectMailHost(address, ServicePort(level_ == 3 ? "pop-3" : "pop-2"));
    if (c.socketError) return kPopSocketError;
    if (!c.connectError) {
      socket_ = c.socket;
      connected_ = true;
      return 0;
    }
    if (c.connectError != kWsaConnRefused) return kPopHostDown;
  }
}

int PopSession::OpenIndex() {
  // The folder's index is made when missing; message files without an index
  // are indexed first, so that their numbers are never handed out again.
  if (StoreCreateFolder(folder_) != 0) return kPopIndexError;
  index_.f = std::fopen(IndexPath(folder_).c_str(), "rb+");
  return index_.f ? 0 : kPopIndexError;
}

// A status of the wanted kind, else the failure code (kPopDropped when the
// connection ended).
int Expect(int kind, int wanted, int failure) {
  if (kind == wanted) return 0;
  return kind == kPopFailed && MailIo().replyText.empty() ? kPopDropped : failure;
}

int PopSession::LoginPop3(long &count, long &last) {
  int kind = PopCommand(socket_, "USER %s\r\n", user_.c_str());
  if (int r = Expect(kind, kPopPlus, kPopLoginRefused)) return r;
  kind = PopCommand(socket_, "PASS %s\r\n", password_.c_str());
  if (kind != kPopPlus) {
    if (kind == kPopMinus) g_PasswordFailed = 1;
    return Expect(kind, kPopPlus, kPopLoginRefused);
  }
  g_PasswordVerified = 1;
  g_PasswordFailed = 0;
  kind = PopCommand(socket_, "STAT\r\n");
  if (int r = Expect(kind, kPopPlus, kPopBadStatus)) return r;
  if (!StatusNumber(MailIo().replyText, 3, count)) return kPopBadStatus;
  // A server without LAST (it left the protocol long ago) gives 0: every
  // message is a candidate, and the stored identifiers pick the new ones.
  kind = PopCommand(socket_, "LAST\r\n");
  last = 0;
  if (kind == kPopPlus) {
    if (!StatusNumber(MailIo().replyText, 3, last)) return kPopBadStatus;
  } else if (kind != kPopMinus) {
    return Expect(kind, kPopPlus, kPopBadStatus);
  }
  last = std::clamp(last, 0L, count);
  return 0;
}

int PopSession::LoginPop2(long &count, long &firstLength) {
  int kind = PopCommand(socket_, "HELO %s %s\r\n", user_.c_str(), password_.c_str());
  if (kind != kPopHash) {
    if (kind == kPopMinus) g_PasswordFailed = 1;
    return Expect(kind, kPopHash, kPopLoginRefused);
  }
  if (!StatusNumber(MailIo().replyText, 1, count)) return kPopBadStatus;
  g_PasswordVerified = 1;
  g_PasswordFailed = 0;
  if (count == 0) return 0;
  kind = PopCommand(socket_, "READ\r\n");
  if (int r = Expect(kind, kPopEquals, kPopBadStatus)) return r;
  if (!StatusNumber(MailIo().replyText, 1, firstLength)) return kPopBadStatus;
  return 0;
}

// UIDL without argument: "n id" lines up to ".", each checked against the
// side file as it arrives. keepBefore: the identifiers of messages up to that
// number are kept (the side file is new). False when the server has no UIDL
// or its list is unusable (then LAST alone picks the new messages).
bool PopSession::ListUidls(long count, long keepBefore) {
  listed_.reset();
  pendingNumber_ = 0;
  if (PopCommand(socket_, "UIDL\r\n") != kPopPlus) return false;
  ListedMessages list(count, keepBefore);
  long pending = 0;
  bool usable = true;
  std::string line;
  for (;;) {
    if (!ReadConnectionLine(socket_, line, 512)) {
      statusFailed_ = true;
      return false;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line == ".") break;
    long n = 0;
    char id[128];
    if (std::sscanf(line.c_str(), "%ld %127s", &n, id) != 2 || n < 1 || n > count || std::strlen(id) > kMaxUidlLength) {
      usable = false;
      continue;
    }
    if (uidls_.Last() && uidls_.Last()->uidl == id) pending = n;
    if (usable && !list.Add(n, uidls_.Stored(id), id)) usable = false;
  }
  if (!usable || !list.Finish()) return false;
  listed_ = std::move(list);
  pendingNumber_ = pending;
  return true;
}

// "UIDL n": the identifier of one message, asked for as it is fetched. 0 or
// the failure code; the server listed the message, so a refusal or another
// number is a broken status, shown to the user.
int PopSession::AskUidl(long number, std::string &id) {
  const std::string num = std::to_string(number);
  if (int r = Expect(PopCommand(socket_, "UIDL %s\r\n", num.c_str()), kPopPlus, kPopBadStatus)) return r;
  long n = 0;
  char text[128];
  if (std::sscanf(MailIo().replyText.c_str(), "%*s %ld %127s", &n, text) != 2 || n != number ||
      std::strlen(text) > kMaxUidlLength)
    return kPopBadStatus;
  id = text;
  return 0;
}

// The last line of the side file may belong to a message whose retrieval
// ended between naming its file and writing its record: settle it.
void PopSession::SettlePendingEntry() {
  if (!uidls_.Last()) return;
  const UIDL_ENTRY e = *uidls_.Last();
  if (e.slot <= 0) return;  // known from before identifiers were kept
  IDX_RECORD r;
  if (e.slot > 0 && ReadIndexRecord(index_.f, e.slot, r) && !(r.flags & kRecordFree) && r.n == e.slot) return;
  const std::string work = folder_ + "\\" + e.workFile;
  if (FileThere(work)) {  // never named: the message is still only on the server
    // Its line goes from the file before the work file goes: a line left
    // behind would count the message as stored at every later retrieval.
    uidls_.Forget(e.uidl);
    if (pendingNumber_ > 0) listed_->MarkStored(pendingNumber_, false);
    if (uidls_.Rewrite(true)) DeleteFileA(work.c_str());
    return;
  }
  const std::string message = MessagePath(folder_, static_cast<uint64_t>(e.slot));
  if (e.slot <= 0 || e.slot > 0x7FFFFFFF || !FileThere(message)) return;  // removed since: stays known
  SLOT_CHOICE choice;
  const int32_t slot = static_cast<int32_t>(e.slot);
  if (!IndexChooseSlot(index_.f, choice,
                       [&](int32_t m) { return m == slot ? SlotClaimResult::kClaimed : SlotClaimResult::kTaken; }))
    return;
  HEADER_SUMMARY summary;
  if (FILE *f = std::fopen(message.c_str(), "rb")) {
    LINE_BUFFER keep = GetLineBuffer();
    ScanHeader(summary, MAIL_SOURCE::File(f), nullptr);
    std::fclose(f);
    GetLineBuffer() = keep;
  }
  IDX_RECORD record = MakeRecord(summary, slot, static_cast<int32_t>(std::time(nullptr)), Settings().ownAddress);
  std::memcpy(record.trailer, "\0\0\r\n", 4);
  if (IndexCommitSlot(index_.f, choice, record)) SyncFile(index_.f);
}

// Receives one message body into out. POP3: up to the line holding one dot
// (not stored); one leading dot of every other line is dropped. POP2: exactly
// length bytes. 0, kPopDropped or kPopWriteError.
int PopSession::ReceiveBody(FILE *out, bool pop3, long length) {
  LINE_BUFFER &b = GetLineBuffer();
  std::vector<char> pending;
  pending.reserve(64 * 1024);
  bool writeFailed = false;
  auto flush = [&]() {
    if (!pending.empty() && std::fwrite(pending.data(), 1, pending.size(), out) != pending.size()) writeFailed = true;
    pending.clear();
  };
  // POP3 line state: at a line start; after a line-initial dot; after ".\r".
  enum { kInLine, kLineStart, kDot, kDotCr } state = kLineStart;
  long rest = length;
  for (;;) {
    if (b.count <= 0) {
      if (!pop3 && rest <= 0) break;
      int want = kLineReadSize;
      if (!pop3 && rest < want) want = static_cast<int>(rest);
      int got = RecvPumping(socket_, b.area, want);
      if (got < 1) return kPopDropped;
      b.position = 0;
      b.count = got;
    }
    const char *p = b.area + b.position;
    if (!pop3) {
      int take = static_cast<int>(std::min<long>(b.count, rest));
      pending.insert(pending.end(), p, p + take);
      b.position += take;
      b.count -= take;
      rest -= take;
      if (pending.size() >= 60 * 1024) flush();
      if (rest <= 0) break;
      continue;
    }
    bool done = false;
    int i = 0;
    for (; i < b.count && !done; ++i) {
      char c = p[i];
      switch (state) {
        case kLineStart:
          if (c == '.') {
            state = kDot;
            continue;
          }
          break;
        case kDot:
          if (c == '\r') {
            state = kDotCr;
            continue;
          }
          if (c == '\n') {  // ".\n" from a server that ends lines with LF alone
            done = true;
            continue;
          }
          break;  // a stuffed dot: dropped, the character stays
        case kDotCr:
          if (c == '\n') {
            done = true;
            continue;
          }
          pending.push_back('\r');  // ".\r" inside a line: its dot was stuffed
          break;
        case kInLine: break;
      }
      pending.push_back(c);
      state = c == '\n' ? kLineStart : kInLine;
    }
    b.position += i;
    b.count -= i;
    if (pending.size() >= 60 * 1024) flush();
    if (done) break;
  }
  flush();
  b.area[b.position + (b.count > 0 ? b.count : 0)] = '\0';
  return writeFailed ? kPopWriteError : 0;
}

// The work file is complete: flush it to disk, name it "m<n>.msg" in a free
// slot, write its record, flush the index. On failure the work file is gone.
int PopSession::StoreMessage(FILE *&work, const std::string &workPath, const std::string &uidl) {
  bool ok = SyncFile(work);
  ok = std::fclose(work) == 0 && ok;
  work = nullptr;
  if (!ok) {
    DeleteFileA(workPath.c_str());
    return kPopWriteError;
  }
  Step(stored_ + 1, 2);
  HEADER_SUMMARY summary;
  if (FILE *f = std::fopen(workPath.c_str(), "rb")) {
    LINE_BUFFER keep = GetLineBuffer();  // the connection's unread bytes stay
    ScanHeader(summary, MAIL_SOURCE::File(f), nullptr);
    std::fclose(f);
    GetLineBuffer() = keep;
  }
  const std::string workName = workPath.substr(workPath.find_last_of('\\') + 1);
  SLOT_CHOICE choice;
  bool logFailed = false;
  bool claimed = IndexChooseSlot(index_.f, choice, [&](int32_t m) {
    if (!uidl.empty() && !uidls_.Append({uidl, m, workName})) {
      logFailed = true;
      return SlotClaimResult::kFailed;
    }
    return ClaimByRename(workPath, MessagePath(folder_, static_cast<uint64_t>(m)));
  });
  if (!claimed) {
    // The identifier's line (written before the rename that failed) goes
    // first; when it cannot, the work file stays for the next retrieval to
    // settle, so the message is never taken as stored.
    if (!uidl.empty()) uidls_.Forget(uidl);
    if (uidl.empty() || uidls_.Rewrite(true)) DeleteFileA(workPath.c_str());
    return logFailed ? kPopWriteError : kPopFileError;
  }
  Step(stored_ + 1, 3);
  int32_t now = static_cast<int32_t>(std::time(nullptr));
  lastArrival_ = now > lastArrival_ ? now : lastArrival_ + 1;
  IDX_RECORD record = MakeRecord(summary, choice.slot, lastArrival_, Settings().ownAddress);
  std::memcpy(record.trailer, "\0\0\r\n", 4);
  // The named file without its record is settled by the next retrieval (or
  // found by a rebuild); its identifier keeps it from being fetched twice.
  if (!IndexCommitSlot(index_.f, choice, record) || !SyncFile(index_.f)) return kPopIndexError;
  Step(stored_ + 1, 4);
  ++stored_;
  return 0;
}

int PopSession::FetchPop3(long number, long shown, long total) {
  char text[64];
  std::snprintf(text, sizeof text, "Getting message %ld of %ld", shown, total);
  ShowStatus(text);
  const std::string num = std::to_string(number);
  std::string uidl;
  if (listed_) {
    if (int r = AskUidl(number, uidl)) return r;
  }
  int kind = PopCommand(socket_, "RETR %s\r\n", num.c_str());
  if (kind == kPopMinus) return 1;  // no such message: the retrieval ends quietly
  if (int r = Expect(kind, kPopPlus, kPopBadStatus)) return r;
  Step(stored_ + 1, 1);
  std::string workPath = folder_ + "\\";
  FILE *work = CreateUniqueFile(workPath);
  if (!work) return kPopFileError;
  int r = ReceiveBody(work, true, 0);
  if (r != 0) {
    std::fclose(work);
    DeleteFileA(workPath.c_str());
    return r;
  }
  if (int s = StoreMessage(work, workPath, uidl)) return s;
  if (delete_) {
    if (int d = Expect(PopCommand(socket_, "DELE %s\r\n", num.c_str()), kPopPlus, kPopBadStatus)) return d;
    Step(stored_, 5);
  }
  return 0;
}

int PopSession::FetchPop2(long length, long shown, long total) {
  char text[64];
  std::snprintf(text, sizeof text, "Getting message %ld of %ld", shown, total);
  ShowStatus(text);
  if (SendText(socket_, "RETR\r\n") != 0) return kPopDropped;
  Step(stored_ + 1, 1);
  std::string workPath = folder_ + "\\";
  FILE *work = CreateUniqueFile(workPath);
  if (!work) return kPopFileError;
  int r = ReceiveBody(work, false, length);
  if (r != 0) {
    std::fclose(work);
    DeleteFileA(workPath.c_str());
    return r;
  }
  return StoreMessage(work, workPath, std::string());
}

void PopSession::Quit() {
  ShowStatus("Closing Connection");
  PopCommand(socket_, "QUIT\r\n");
}

int PopSession::Fail(int result) {
  // Messages stored so far are safe: after a local failure QUIT lets the
  // server delete them; after a broken conversation the socket just closes.
  bool local = result == kPopFileError || result == kPopIndexError || result == kPopWriteError;
  if (local) Quit();
  return result;
}

int PopSession::Run(const char *host) {
  GetLineBuffer().count = 0;
  GetLineBuffer().position = 0;
  if (int r = Connect(host)) return r;
  if (int r = OpenIndex()) return r;
  if (PopCommand(socket_, nullptr) != kPopPlus) return MailIo().replyText.empty() ? kPopDropped : kPopBadStatus;
  if (level_ == 2) {
    long count = 0, length = 0;
    if (int r = LoginPop2(count, length)) return r;
    for (long i = 1; i <= count && length > 0; ++i) {
      if (int r = FetchPop2(length, i, count)) return Fail(r);
      int kind = PopCommand(socket_, delete_ ? "ACKD\r\n" : "ACKS\r\n");
      if (int e = Expect(kind, kPopEquals, kPopBadStatus)) return e;
      if (!StatusNumber(MailIo().replyText, 1, length)) return kPopBadStatus;
    }
    Quit();
    return stored_;
  }
  long count = 0, last = 0;
  if (int r = LoginPop3(count, last)) return r;
  // The side file is read first, so that each listed identifier is checked
  // as it arrives.
  const bool logThere = uidls_.Load();
  if (ListUidls(count, logThere ? 0 : last)) {
    // The identifiers decide what is new; LAST (which a server may advance
    // for a message this client never stored) counts only the first time,
    // for the messages retrieved before identifiers were kept.
    uidls_.ListingDone();
    if (!logThere) {
      if (!uidls_.AppendFetchedBefore(listed_->Before())) return Fail(kPopWriteError);
      for (long number = 1; number <= last; ++number) listed_->MarkStored(number, true);
    }
    SettlePendingEntry();
    last = 0;
  } else {
    uidls_.Release();
    if (statusFailed_) return kPopDropped;
  }
  // Without identifiers every message after LAST is new (no walk over a
  // count the server may have claimed without holding it).
  long total = count - last;
  if (listed_)
    for (long number = last + 1; number <= count; ++number) total -= listed_->Stored(number);
  long shown = 0;
  for (long number = last + 1; number <= count; ++number) {
    const bool known = listed_ && listed_->Stored(number);
    if (known) {
      // Stored already (a retrieval that ended before deleting it, or kept
      // on the server): deleted now when asked, never stored twice.
      if (delete_) {
        const std::string num = std::to_string(number);
        if (int d = Expect(PopCommand(socket_, "DELE %s\r\n", num.c_str()), kPopPlus, kPopBadStatus)) return d;
      }
      continue;
    }
    int r = FetchPop3(number, ++shown, total);
    if (r == 1) break;
    if (r != 0) return Fail(r);
  }
  Quit();
  // The side file keeps the identifiers the server still holds.
  // After a QUIT the server accepted with delete on, it holds none of them.
  if (listed_) uidls_.Rewrite(!delete_ || MailIo().replyText.rfind("+", 0) != 0);
  return stored_;
}

}  // namespace

int PopCommand(SocketHandle s, const char *format, const char *a, const char *b) {
  std::string &text = MailIo().replyText;
  text.clear();
  if (format) {
    std::string command;
    for (const char *p = format; *p; ++p) {
      if (p[0] == '%' && p[1] == 's') {
        const char *arg = a;
        a = b;
        b = nullptr;
        // CR and LF in an argument would start a second command.
        for (const char *q = arg ? arg : ""; *q; ++q) command += (*q == '\r' || *q == '\n') ? ' ' : *q;
        ++p;
      } else {
        command += *p;
      }
    }
    if (SendText(s, command) != 0) return kPopFailed;
  }
  std::string line;
  if (!ReadConnectionLine(s, line, 131 + 2)) return kPopFailed;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (line.size() > 131) line.resize(131);
  text = line;
  if (text.empty()) text = " ";  // a bare line end: a status that is none of the kinds
  return StatusKind(line);
}

int PopLoginCheck(const char *user, const char *password, const char *host) {
  GetLineBuffer().count = 0;
  GetLineBuffer().position = 0;
  uint32_t address = HostAddress(host);
  if (address == kNoAddress) return kPopUnknownHost;
  for (int level = 3; level >= 2; --level) {
    MAIL_CONNECTION c = ConnectMailHost(address, ServicePort(level == 3 ? "pop-3" : "pop-2"));
    if (c.socketError) return kPopSocketError;
    if (c.connectError == kWsaConnRefused) continue;
    if (c.connectError) return kPopHostDown;
    auto close = [&](int result) {
      CloseSource(MAIL_SOURCE::Socket(c.socket));
      return result;
    };
    int kind = PopCommand(c.socket, nullptr);
    if (kind != kPopPlus) return close(kind == kPopFailed && MailIo().replyText.empty() ? kPopDropped : kPopBadStatus);
    if (level == 3) {
      kind = PopCommand(c.socket, "USER %s\r\n", user);
      if (kind == kPopPlus) kind = PopCommand(c.socket, "PASS %s\r\n", password);
      if (kind == kPopFailed && MailIo().replyText.empty()) return close(kPopDropped);
      if (kind != kPopPlus) return close(kPopLoginRefused);
    } else {
      kind = PopCommand(c.socket, "HELO %s %s\r\n", user, password);
      if (kind == kPopFailed && MailIo().replyText.empty()) return close(kPopDropped);
      if (kind != kPopHash) return close(kPopLoginRefused);
    }
    std::string keep = MailIo().replyText;
    PopCommand(c.socket, "QUIT\r\n");
    MailIo().replyText = keep;
    return close(0);
  }
  return kPopNoServer;
}

int POP_session(const char *user, const char *password, int deleteFromServer, const char *host,
                const std::string &folder) {
  PopSession session(user, password, deleteFromServer, folder);
  return session.Run(host);
}

std::string PopErrorText(int result, const std::string &mailHost) {
  switch (result) {
    case kPopSocketError: return "Socket Error";
    case kPopUnknownHost: return "Unknown Mail Host <" + mailHost + ">";
    case kPopNoServer: return "Mail Host <" + mailHost + "> not running POP server";
    case kPopHostDown: return "Mail Host <" + mailHost + "> is down";
    case kPopDropped: return "Mail Host dropped connection";
    case kPopFileError: return "Error creating local message file";
    case kPopIndexError: return "Error creating index file";
    case kPopWriteError: return "Error writing mail message to disk (disk full?)";
    case kPopBadStatus:
    case kPopLoginRefused: return MailIo().replyText;
    default: return "Unknown error number";
  }
}
