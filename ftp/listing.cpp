// The remote listing: LIST or NLST over a data connection, read line by line,
// the host type recognised from the first line, and each line turned into an
// entry of the pane (Unix "ls -l", the "staff" layout, VMS, plain names).
#include "ftpcore.h"

#include <common/qxcommon.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include <winsock.h>

namespace {

constexpr size_t kMaxLine = 1023;
constexpr size_t kMaxField = 127;

bool IsBlank(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

// Start and end of field n (1-based) of a line; false when there is none.
bool FieldBounds(const std::string &line, int n, size_t *begin, size_t *end) {
  if (n < 1) n = 1;
  size_t i = 0;
  for (int field = 1;; ++field) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) return false;
    const size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (field == n) {
      *begin = start;
      *end = i;
      return true;
    }
  }
}

// A decimal number as the C library reads one (blanks, a sign, digits); a
// 64-bit count so that files past 4 GB keep their size.
uint64_t ParseSize(const std::string &text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint64_t value = 0;
  for (; i < text.size() && isdigit(static_cast<unsigned char>(text[i])); ++i) {
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;
    value = value * 10 + digit;
  }
  return negative ? 0 : value;
}

bool IsMonth(const std::string &word) {
  static const char *const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  if (word.size() != 3) return false;
  for (const char *m : kMonths)
    if (strncasecmp(word.c_str(), m, 3) == 0) return true;
  return false;
}

bool StartsWithNoCase(const std::string &line, const char *prefix) {
  return strncasecmp(line.c_str(), prefix, strlen(prefix)) == 0;
}

// "drwxr-xr-x", "-rw-r--r--+", "lrwxrwxrwx. 1": the shape of an "ls -l"
// line's mode, followed by a blank, an ACL or security-context mark, or the
// link count glued to it.
bool LooksLikeUnixEntry(const std::string &line) {
  if (line.size() < 20) return false;
  if (!strchr("-dlcbpsD", line[0])) return false;
  for (int i = 1; i < 10; ++i) {
    const char c = line[i];
    const int role = (i - 1) % 3;
    const char *allowed = role == 0 ? "-r" : role == 1 ? "-w" : "-xsStTlL";
    if (!strchr(allowed, c)) return false;
  }
  const char mark = line[10];
  return mark == ' ' || mark == '+' || mark == '.' || mark == '@' || isdigit(static_cast<unsigned char>(mark));
}

uint64_t MultiplyBlocks(uint64_t blocks) { return blocks > UINT64_MAX / 512 ? UINT64_MAX : blocks * 512; }

}  // namespace

std::string ListField(const std::string &line, int n) {
  size_t begin, end;
  if (!FieldBounds(line, n, &begin, &end)) return std::string();
  return line.substr(begin, std::min(end - begin, kMaxField));
}

std::string ColumnWord(const std::string &line, int k) {
  if (k < 0 || static_cast<size_t>(k) >= line.size()) return std::string();
  size_t i = static_cast<size_t>(k);
  while (i < line.size() && IsBlank(line[i])) ++i;
  while (i < line.size() && !IsBlank(line[i])) ++i;
  return line.substr(static_cast<size_t>(k), std::min(i - static_cast<size_t>(k), kMaxField));
}

std::string ColumnRange(const std::string &line, int k, int e) {
  if (k < 0 || static_cast<size_t>(k) > line.size()) return std::string();
  size_t i = static_cast<size_t>(k);
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i >= line.size() || e < 0 || i >= static_cast<size_t>(e)) return std::string();
  size_t stop = std::min(line.size(), static_cast<size_t>(e) + 1);
  while (stop > i && IsBlank(line[stop - 1])) --stop;
  return line.substr(i, std::min(stop - i, kMaxField));
}

int ListingReader::Next(std::string *line) {
  line->clear();
  bool cut = false;
  for (;;) {
    if (count_ == 0) {
      if (ended_) return 0;
      const int r = FtpRecv(socket_, buffer_, sizeof buffer_);
      if (r <= 0) {
        ended_ = true;
        // Some servers end the listing without CR LF: the last line counts.
        if (!line->empty()) break;
        return r;
      }
      start_ = 0;
      count_ = r;
    }
    const char *begin = buffer_ + start_;
    const char *lf = static_cast<const char *>(memchr(begin, '\n', static_cast<size_t>(count_)));
    const int take = lf ? static_cast<int>(lf - begin) : count_;
    // Bytes past the line limit are read and dropped up to the line feed.
    const size_t room = kMaxLine - std::min(kMaxLine, line->size());
    if (static_cast<size_t>(take) > room) cut = true;
    line->append(begin, std::min(static_cast<size_t>(take), room));
    const int used = lf ? take + 1 : take;
    start_ += used;
    count_ -= used;
    if (lf) break;
  }
  if (!cut && !line->empty() && line->back() == '\r') line->pop_back();
  if (line->empty()) *line = "@";
  return static_cast<int>(line->size());
}

int DetectHostKind(const std::string &firstLine, const std::string &secondLine) {
  // An empty first line ("@") defers the decision to the line after it.
  const std::string &line = firstLine == "@" ? secondLine : firstLine;
  if (line.empty()) return kPaneClosed;
  if (StartsWithNoCase(line, "total")) return kHostUnix;
  if (LooksLikeUnixEntry(line)) return kHostUnix;
  if (line.size() >= 19 && line.compare(4, 6, "------") == 0 && line.compare(14, 5, "staff") == 0) return kHostStaff;
  if (line.find(":[") != std::string::npos) return kHostVms;
  return kPaneClosed;
}

bool ParseUnixLine(const std::string &line, int defaultGroup, ENTRY_NODE *entry) {
  if (line.size() < 20) return false;
  // a: the link count stands in a field of its own (a digit at index 10
  // means it is glued to the mode, as some servers print it).
  const int a = isdigit(static_cast<unsigned char>(line[10])) ? 0 : 1;
  // g: the group column is there when the field after the size is a month.
  int g = defaultGroup;
  if (IsMonth(ListField(line, 5 + a)))
    g = 1;
  else if (IsMonth(ListField(line, 4 + a)))
    g = 0;
  size_t timeBegin, timeEnd;
  if (!FieldBounds(line, 6 + a + g, &timeBegin, &timeEnd)) return false;
  // The name starts one blank after the time or year: leading blanks of
  // the name itself, and blanks inside it, are kept.
  size_t nameBegin = timeEnd + 1;
  if (nameBegin >= line.size()) return false;
  std::string name = line.substr(nameBegin);
  const char type = line[0];
  unsigned flags = 0;
  if (type == 'd' || type == 'D') flags = kEntryDirectory;
  if (type == 'l') {
    flags = kEntryDirectory | kEntryMaybeDirectory;
    const size_t arrow = name.rfind(" -> ");
    if (arrow != std::string::npos) name.resize(arrow);
  }
  if (name.empty()) return false;
  entry->flags = flags;
  entry->size = ParseSize(ListField(line, 3 + a + g));
  entry->name = name;
  return true;
}

bool ParseStaffLine(const std::string &line, ENTRY_NODE *entry) {
  if (line.size() < 20) return false;
  const std::string first = ListField(line, 1);
  std::string name = ListField(line, 8);
  if (name.empty()) return false;
  entry->flags = 0;
  if (first[0] == 'd' || first[0] == 'D') entry->flags = kEntryDirectory;
  if (first[0] == 'l') entry->flags = kEntryDirectory | kEntryMaybeDirectory;
  entry->size = ParseSize(ListField(line, 4));
  entry->name = name;
  return true;
}

bool ParseVmsLine(const std::string &line, const std::string *continuation, ENTRY_NODE *entry, bool *usedContinuation) {
  *usedContinuation = false;
  if (line.find(';') == std::string::npos) return false;
  std::string name = ListField(line, 1);
  if (name.empty()) return false;
  entry->flags = 0;
  const size_t dir = name.find(".DIR;1");
  if (dir != std::string::npos) {
    name.resize(dir);
    entry->flags = kEntryDirectory;
  }
  // ".DIR;1" alone names no directory: an entry without a name could be
  // neither shown nor entered.
  if (name.empty()) return false;
  for (char &c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  std::string blocks;
  if (line.find('(') != std::string::npos) {
    blocks = ListField(line, 2);
  } else if (continuation) {
    // A long name pushes the rest of the entry onto the next line.
    blocks = ListField(*continuation, 1);
    *usedContinuation = true;
  }
  entry->size = MultiplyBlocks(ParseSize(blocks));
  entry->name = name;
  return true;
}

bool ParseNameLine(const std::string &line, ENTRY_NODE *entry) {
  if (line == "." || line == ".." || line.empty()) return false;
  entry->flags = kEntryDirectory | kEntryMaybeDirectory;
  entry->size = 0;
  entry->name = line;
  return true;
}

namespace {

void AddSynthetic(FTP_PANE &p, const char *name) {
  ENTRY_NODE entry;
  entry.flags = kEntryDirectory;
  entry.name = name;
  p.entries.push_back(std::move(entry));
}

// Status text "Reading and Parsing Directory ..." with dots that run from 1
// to 21 and start again, one a line.
class ProgressDots {
 public:
  ProgressDots() : text_("Reading and Parsing Directory ..."), base_(text_.size()) { Ui().SetStatus(text_.c_str()); }
  // The dots advance a line at a time; the status line is redrawn at most
  // every 50 ms, so a listing of many thousand lines is not held up by it.
  void Step() {
    if (text_.size() - base_ > 20) text_.resize(base_);
    text_ += '.';
    const DWORD now = GetTickCount();
    if (now - shown_ < 50) return;
    shown_ = now;
    Ui().SetStatus(text_.c_str());
  }

 private:
  std::string text_;
  size_t base_;
  DWORD shown_ = 0;
};

// Unknown host: offer to keep the greeting and the first line in QXFTP.LOG.
FILE *OpenUnknownHostLog(const FTP_PANE &p, const std::string &line) {
  if (!Ui().AskLogUnknownHost()) return nullptr;
  FILE *log = fopen("QXFTP.LOG", "wb");
  if (!log) {
    Ui().ShowError("QXFTP.LOG could not be created in the current directory; the listing is shown without it.", "Ftp");
    return nullptr;
  }
  fprintf(log, "%s\r\n%s\r\n", p.greeting.c_str(), line.c_str());
  return log;
}

}  // namespace

int ParseRemoteListing(int pane) {
  FTP_PANE &p = g_Panes[pane];
  for (int attempt = 0; attempt < 2; ++attempt) {
    p.entries.clear();
    SOCKET listener = OpenDataPort(pane);
    if (listener == INVALID_SOCKET) return -1;
    const bool names = p.kind == kHostNameList || (p.kind == kHostRules && RuleUsesNameList(p.ruleLine));
    SOCKET data = AcceptData(listener, pane, names ? "NLST" : "LIST", nullptr);
    std::string line, next;
    int length = 0;
    ListingReader reader(data);
    ProgressDots dots;
    if (data != INVALID_SOCKET) length = reader.Next(&line);
    if (length > 0 && p.kind == kPaneClosed) {
      if (line == "@" || StartsWithNoCase(line, "total")) {
        // A "total" line or an empty first line: the entries follow.
        const bool total = line != "@";
        length = reader.Next(&next);
        p.kind = total ? kHostUnix : length > 0 ? DetectHostKind(line, next) : kPaneClosed;
        line = next;
      } else {
        p.kind = DetectHostKind(line, std::string());
      }
    }
    if (p.kind == kPaneClosed) {
      // Unrecognised (or empty): show it as a name list from now on.
      FILE *log = data != INVALID_SOCKET ? OpenUnknownHostLog(p, length > 0 ? line : std::string()) : nullptr;
      p.kind = kHostNameList;
      while (length > 0) {
        length = reader.Next(&line);
        if (log && length > 0) fprintf(log, "%s\r\n", line.c_str());
      }
      if (log) fclose(log);
      if (data != INVALID_SOCKET) CloseDataAndReply(pane, data);
      continue;
    }
    if (p.kind == kHostRules)
      for (const std::string &name : RuleAddedDirectories(p.ruleLine)) AddSynthetic(p, name.c_str());
    if (p.kind == kHostVms) AddSynthetic(p, "[-]");
    if (p.kind != kHostStaff) AddSynthetic(p, ".");
    if (p.kind == kHostUnix || p.kind == kHostNameList) AddSynthetic(p, "..");
    bool splitPiece = false;  // the line is the rest of a line B: split
    while (length > 0) {
      ENTRY_NODE entry;
      bool ok = false;
      bool readAhead = false;
      switch (p.kind) {
        case kHostRules:
          if (names) {
            ok = ParseNameLine(line, &entry);
          } else if (!RuleDropsLine(p.ruleLine, line)) {
            // A line is split once; its rest is parsed as a line of its own.
            const size_t cut = splitPiece ? 0 : RuleSplitColumn(p.ruleLine, line);
            if (cut > 0) {
              next = line.substr(cut);
              line.resize(cut);
              readAhead = true;
            }
            ok = ParseRuleLine(p.ruleLine, line, &entry);
          }
          splitPiece = readAhead;
          break;
        case kHostUnix: ok = ParseUnixLine(line, p.groupColumn, &entry); break;
        case kHostStaff: ok = ParseStaffLine(line, &entry); break;
        case kHostVms:
          if (line.find(';') != std::string::npos && line.find('(') == std::string::npos) {
            const int more = reader.Next(&next);
            bool used = false;
            ok = ParseVmsLine(line, more > 0 ? &next : nullptr, &entry, &used);
            if (more > 0 && !used) readAhead = true;
            if (more <= 0) length = more;
          } else {
            ok = ParseVmsLine(line, nullptr, &entry, &readAhead);
          }
          break;
        default: ok = ParseNameLine(line, &entry); break;
      }
      if (ok) p.entries.push_back(std::move(entry));
      dots.Step();
      if (readAhead) {
        line.swap(next);
        continue;
      }
      if (length <= 0) break;
      length = reader.Next(&line);
    }
    if (data != INVALID_SOCKET) CloseDataAndReply(pane, data);
    break;
  }
  return QueryDirectory(pane);
}
