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

// ---- the server's identifiers ---------------------------------------------------

// The UIDL list by message number, held in one block of text (a retrieval of
// many messages keeps no string per message), with the numbers sorted by
// identifier so that an identifier's rank is found by binary search.
class ServerUidls {
 public:
  bool Empty() const { return starts_.empty(); }
  long Count() const { return static_cast<long>(starts_.size()); }

  // Builds the list from (number, identifier) lines in the order the server
  // sends them (a number given twice: its last identifier). Memory follows
  // what the server actually sent, never the count its STAT claimed.
  class Builder {
   public:
    explicit Builder(long count)
        : count_(count), limit_(std::min<uint64_t>(static_cast<uint64_t>(count) * (kMaxUidlLength + 1), kMissing)) {}
    // False once the identifiers would exceed count of the longest: a broken list.
    bool Add(long number, std::string_view id) {
      if (text_.size() + id.size() + 1 > limit_) return false;
      given_.push_back({static_cast<uint32_t>(number), static_cast<uint32_t>(text_.size())});
      text_.append(id);
      text_.push_back('\0');
      return true;
    }

   private:
    friend class ServerUidls;
    struct GIVEN {
      uint32_t number, start;
    };
    long count_;
    uint64_t limit_;
    std::string text_;
    std::vector<GIVEN> given_;
  };

  // Takes the built list; false (and the list empty) when a number in
  // 1..count was not given.
  bool Take(Builder &&b) {
    *this = ServerUidls();
    if (b.given_.size() < static_cast<size_t>(b.count_)) return false;
    std::vector<uint32_t> starts(static_cast<size_t>(b.count_), kMissing);
    for (const auto &g : b.given_) starts[g.number - 1] = g.start;
    if (std::find(starts.begin(), starts.end(), kMissing) != starts.end()) return false;
    b.given_ = {};
    text_ = std::move(b.text_);
    text_.shrink_to_fit();
    starts_ = std::move(starts);
    byId_.resize(starts_.size());
    for (size_t i = 0; i < byId_.size(); ++i) byId_[i] = static_cast<uint32_t>(i);
    std::stable_sort(byId_.begin(), byId_.end(), [&](uint32_t x, uint32_t y) { return At(x) < At(y); });
    return true;
  }

  // The identifier of message number (1..Count()).
  std::string_view Id(long number) const { return At(static_cast<uint32_t>(number - 1)); }

  // The place of id among the distinct identifiers sorted (equal identifiers
  // share the place of the first), or -1 when the server does not list it.
  long Rank(std::string_view id) const {
    auto it =
        std::lower_bound(byId_.begin(), byId_.end(), id, [&](uint32_t a, std::string_view v) { return At(a) < v; });
    if (it == byId_.end() || At(*it) != id) return -1;
    return static_cast<long>(it - byId_.begin());
  }

 private:
  static constexpr uint32_t kMissing = 0xFFFFFFFF;
  std::string_view At(uint32_t index) const { return std::string_view(text_.data() + starts_[index]); }

  std::string text_;              // identifiers, each ended by a NUL
  std::vector<uint32_t> starts_;  // by message number - 1: offset in text_
  std::vector<uint32_t> byId_;    // message indexes sorted by identifier
};

// ---- the side file of stored identifiers ----------------------------------------

struct UIDL_ENTRY {
  std::string uidl;
  long slot = 0;
  std::string workFile;  // the work file's name in the folder
};

// "popuidl.txt": one line "identifier slot workfile" per stored message. In
// memory only what the retrieval needs is kept: one bit per identifier the
// server lists (known or not), the file's last entry and counts; the file is
// read line by line and rewritten by streaming it.
class UidlLog {
 public:
  UidlLog(const std::string &folder, const ServerUidls &server)
      : folder_(folder), path_(folder + "\\" + kPopUidlFile), server_(server) {}

  // False when the file does not exist yet.
  bool Load() {
    known_.assign(static_cast<size_t>(server_.Count()), false);
    last_.reset();
    lines_ = stale_ = 0;
    forgotten_ = false;
    FILE *f = std::fopen(path_.c_str(), "rb");
    if (!f) return false;
    UIDL_ENTRY e;
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
      ++lines_;
      if (!ParseLine(line, e)) {
        ++stale_;
        continue;
      }
      const long rank = server_.Rank(e.uidl);
      if (rank < 0)
        ++stale_;  // no longer on the server: dropped at the end of the run
      else
        known_[static_cast<size_t>(rank)] = true;
      last_ = std::move(e);
    }
    std::fclose(f);
    return true;
  }

  bool Known(std::string_view uidl) const {
    const long rank = server_.Rank(uidl);
    return rank >= 0 && known_[static_cast<size_t>(rank)];
  }
  // The file's last entry (the one a retrieval may have left unsettled).
  const std::optional<UIDL_ENTRY> &Last() const { return last_; }
  void Forget(std::string_view uidl) {
    const long rank = server_.Rank(uidl);
    if (rank >= 0) known_[static_cast<size_t>(rank)] = false;
    forgotten_ = true;
  }

  // Appends one line (the file is made when missing) and flushes it to disk.
  bool Append(const UIDL_ENTRY &e) {
    return AppendLines(
        1, [&](FILE *f, long) { return WriteLine(f, e.uidl, e.slot, e.workFile); },
        [&] {
          Mark(e.uidl);
          last_ = e;
        });
  }
  // Appends the server's messages 1..last as known from before identifiers
  // were kept (slot 0, no work file).
  bool AppendFetchedBefore(long last) {
    return AppendLines(
        last, [&](FILE *f, long n) { return WriteLine(f, server_.Id(n), 0, "-"); },
        [&] {
          for (long n = 1; n <= last; ++n) Mark(server_.Id(n));
          if (last > 0) last_ = UIDL_ENTRY{std::string(server_.Id(last)), 0, "-"};
        });
  }

  // Keeps only the known identifiers the server still lists (none when
  // keepOnServer is false), replacing the file whole (written aside by
  // streaming the old one, then renamed over it). Nothing is written when
  // nothing would be dropped. True when the file holds no line to drop.
  bool Rewrite(bool keepOnServer) {
    if (lines_ == 0 || (keepOnServer && stale_ == 0 && !forgotten_)) return true;
    const std::string aside = folder_ + "\\popuidl.new";
    FILE *in = std::fopen(path_.c_str(), "rb");
    if (!in) return false;
    FILE *out = std::fopen(aside.c_str(), "wb");
    if (!out) {
      std::fclose(in);
      return false;
    }
    bool ok = true;
    long kept = 0;
    UIDL_ENTRY e;
    char line[512];
    while (keepOnServer && std::fgets(line, sizeof line, in))
      if (ParseLine(line, e) && Known(e.uidl)) {
        ok = WriteLine(out, e.uidl, e.slot, e.workFile) && ok;
        ++kept;
      }
    ok = std::ferror(in) == 0 && ok;
    std::fclose(in);
    ok = std::fflush(out) == 0 && ok;
    ok = _commit(_fileno(out)) == 0 && ok;
    ok = std::fclose(out) == 0 && ok;
    if (ok && MoveFileExA(aside.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      lines_ = kept;
      stale_ = 0;
      forgotten_ = false;
      if (!keepOnServer) known_.assign(known_.size(), false);
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
  void Mark(std::string_view uidl) {
    const long rank = server_.Rank(uidl);
    if (rank >= 0) known_[static_cast<size_t>(rank)] = true;
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
  const ServerUidls &server_;
  std::vector<bool> known_;  // by the identifier's rank in the server's list
  std::optional<UIDL_ENTRY> last_;
  long lines_ = 0;          // lines in the file
  long stale_ = 0;          // lines the end-of-run rewrite drops: unreadable or off the server
  bool forgotten_ = false;  // an identifier was forgotten, its line stays until the rewrite
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
        uidls_(folder, serverUidls_) {}
  ~PopSession() {
    if (connected_) CloseSource(MAIL_SOURCE::Socket(socket_));
  }

  int Run(const char *host);

 private:
  int Connect(const char *host);
  int OpenIndex();
  int LoginPop3(long &count, long &last);
  int LoginPop2(long &count, long &firstLength);
  bool ListUidls(long count);
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
  ServerUidls serverUidls_;  // empty without UIDL
  UidlLog uidls_;
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

// UIDL without argument: "n id" lines up to ".". False when the server has no
// UIDL or its list is unusable (then LAST alone picks the new messages).
bool PopSession::ListUidls(long count) {
  serverUidls_ = ServerUidls();
  if (PopCommand(socket_, "UIDL\r\n") != kPopPlus) return false;
  ServerUidls::Builder ids(count);
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
    if (!ids.Add(n, id)) usable = false;
  }
  return usable && serverUidls_.Take(std::move(ids));
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
  const std::string uidl = serverUidls_.Empty() ? std::string() : std::string(serverUidls_.Id(number));
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
  if (ListUidls(count)) {
    // The identifiers decide what is new; LAST (which a server may advance
    // for a message this client never stored) counts only the first time,
    // for the messages retrieved before identifiers were kept.
    if (!uidls_.Load()) {
      if (!uidls_.AppendFetchedBefore(last)) return Fail(kPopWriteError);
    }
    SettlePendingEntry();
    last = 0;
  } else if (statusFailed_) {
    return kPopDropped;
  }
  // Without identifiers every message after LAST is new (no walk over a
  // count the server may have claimed without holding it).
  long total = count - last;
  if (!serverUidls_.Empty())
    for (long number = last + 1; number <= count; ++number) total -= uidls_.Known(serverUidls_.Id(number));
  long shown = 0;
  for (long number = last + 1; number <= count; ++number) {
    const bool known = !serverUidls_.Empty() && uidls_.Known(serverUidls_.Id(number));
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
  if (!serverUidls_.Empty()) uidls_.Rewrite(!delete_ || MailIo().replyText.rfind("+", 0) != 0);
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
