// Header scanner and line reader: unfolds RFC 822 header lines, recognises
// twelve fields and fills a HEADER_SUMMARY; shares one receive buffer with POP.
#include "headers.h"

#include <array>
#include <cctype>
#include <cstring>
#include <vector>

// Last, so that the layer's C runtime names (fopen) are not undone by <cstdio>.
#include <windows.h>

namespace {

LINE_BUFFER g_lineBuffer;

constexpr int kCurrentLineSize = 4096;
constexpr int kLookAheadSize = 2049;

// The recognised field names, each between two colons in a 17-character slot;
// a name's index is its offset divided by 17.
constexpr char kFieldNames[] =
    ":from:           :resent-from:    :to:             :reply-to:       "
    ":resent-reply-to::sender:         :resent-sender:  :subject:        "
    ":cc:             :message-id:     :date:           :mime-version:   ";
constexpr int kFieldSlot = 17;

enum FieldIndex {
  kFrom,
  kResentFrom,
  kTo,
  kReplyTo,
  kResentReplyTo,
  kSender,
  kResentSender,
  kSubject,
  kCc,
  kMessageId,
  kDate,
  kMimeVersion
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

int FieldIndexOf(const std::string &name) {
  if (name.empty()) return -1;
  std::string lower;
  for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string_view table(kFieldNames);
  for (size_t at = table.find(lower); at != std::string_view::npos; at = table.find(lower, at + 1)) {
    if (at > 0 && table[at - 1] == ':' && at + lower.size() < table.size() && table[at + lower.size()] == ':')
      return static_cast<int>(at / kFieldSlot);
  }
  return -1;
}

std::string TrimRight(std::string s) {
  while (!s.empty() && IsSpace(s.back())) s.pop_back();
  return s;
}

std::string SkipLeft(const std::string &s) {
  size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  return s.substr(i);
}

// Text after the first '<' up to the next '>' (or the end).
std::string Bracketed(const std::string &value, size_t lt) {
  size_t gt = value.find('>', lt + 1);
  return value.substr(lt + 1, gt == std::string::npos ? std::string::npos : gt - lt - 1);
}

bool IsEndOfMessage(const char *line) { return std::strcmp(line, ".\r\n") == 0; }
// A header ends at a line beginning with CR; a bare LF line ends the header of
// a message stored with LF-only line ends as well.
bool IsEndOfHeader(const char *line) { return line[0] == '\r' || line[0] == '\n'; }

// The end-of-message line goes back in front of the unread bytes. When it came
// in over several receives its bytes are no longer in the area: put them there.
void GiveBackEndOfMessage() {
  LINE_BUFFER &b = g_lineBuffer;
  if (b.position >= 3) {
    b.position -= 3;
  } else {
    std::memmove(b.area + 3, b.area + b.position, static_cast<size_t>(b.count));
    b.position = 0;
  }
  std::memcpy(b.area + b.position, ".\r\n", 3);
  b.count += 3;
  b.area[b.position + b.count] = '\0';
}

// Unread bytes moved to the start, position and count both set to their number
// (POP retrieval appends the body after them).
void CompactLineBuffer() {
  LINE_BUFFER &b = g_lineBuffer;
  if (b.count <= 0) return;
  std::memmove(b.area, b.area + b.position, static_cast<size_t>(b.count));
  b.area[b.count] = '\0';
  b.position = b.count;
}

}  // namespace

LINE_BUFFER &GetLineBuffer() { return g_lineBuffer; }

char *ReadLine(char *buffer, int size, MAIL_SOURCE source, int *length) {
  LINE_BUFFER &b = g_lineBuffer;
  if (length) *length = 0;
  if (buffer == nullptr || size < 2) return nullptr;
  int filled = 0;
  auto done = [&]() {
    buffer[filled] = '\0';
    if (length) *length = filled;
    return buffer;
  };
  while (size - filled >= 2) {
    if (b.count <= 0) {
      int got;
      if (source.isSocket)
        got = RecvPumping(source.socket, b.area, kLineReadSize);
      else
        got = source.file ? static_cast<int>(std::fread(b.area, 1, kLineReadSize, source.file)) : 0;
      // A message file whose last read is the one byte Ctrl-Z ends there (an
      // old text file's end mark); on a connection every byte is data, and
      // only the close ends it.
      if (got < 1 || (!source.isSocket && got == 1 && b.area[0] == 0x1A)) {
        b.count = 0;
        if (filled == 0) return nullptr;
        return done();  // a last line without its line feed
      }
      b.position = 0;
      b.count = got;
      b.area[got] = '\0';
    }
    while (b.count > 0 && size - filled >= 2) {
      char c = b.area[b.position++];
      --b.count;
      buffer[filled++] = c;
      if (c == '\n') return done();
    }
  }
  return done();
}

namespace {

struct ScanState {
  HEADER_SUMMARY &summary;
  MAIL_SOURCE source;
  FILE *copy;
  long total = 0;
  bool copyFailed = false;
};

// Counts and copies a line read from the header: all its bytes, so a NUL in a
// header line never cuts the stored copy (the fields only see up to it).
void TakeLine(ScanState &st, const char *line, int length) {
  const size_t len = static_cast<size_t>(length);
  st.total += static_cast<long>(len);
  if (st.copy && std::fwrite(line, 1, len, st.copy) != len) st.copyFailed = true;
}

void StoreFrom(HEADER_SUMMARY &s, const std::string &value, size_t lt) {
  if (lt != std::string::npos) {
    if (!s.displayName) s.displayName = ExtractDisplayName(TrimRight(value.substr(0, lt)));
    s.from = DecodeEncodedWords(Bracketed(value, lt));
    return;
  }
  size_t paren = value.find('(');
  if (paren != std::string::npos) {
    size_t addrEnd = paren;
    if (addrEnd > 0 && IsSpace(value[addrEnd - 1])) --addrEnd;
    size_t close = value.find(')', paren + 1);
    if (!s.displayName)
      s.displayName = ExtractDisplayName(
          value.substr(paren + 1, close == std::string::npos ? std::string::npos : close - paren - 1));
    s.from = DecodeEncodedWords(value.substr(0, addrEnd));
    return;
  }
  s.from = DecodeEncodedWords(value);
}

void StoreField(HEADER_SUMMARY &s, int index, std::string value) {
  size_t cut = value.find_first_of("\r\n");
  if (cut != std::string::npos) value.resize(cut);
  value = SkipLeft(TrimRight(value));
  size_t lt = value.find('<');
  auto addressOf = [&]() { return DecodeEncodedWords(lt != std::string::npos ? Bracketed(value, lt) : value); };
  switch (index) {
    case kFrom: StoreFrom(s, value, lt); break;
    case kResentFrom:
      if (lt != std::string::npos)
        s.resentFrom = DecodeEncodedWords(Bracketed(value, lt));
      else
        s.resentFrom = DecodeEncodedWords(TrimRight(value.substr(0, value.find('('))));
      break;
    case kTo: s.to = addressOf(); break;
    case kReplyTo: s.replyTo = addressOf(); break;
    case kResentReplyTo: s.resentReplyTo = addressOf(); break;
    case kSender: s.sender = addressOf(); break;
    case kResentSender: s.resentSender = addressOf(); break;
    case kCc: s.cc = addressOf(); break;
    case kSubject: s.subject = DecodeEncodedWords(value); break;
    case kMessageId: s.messageId = DecodeEncodedWords(value); break;
    case kDate: s.date = ParseMailDate(value); break;
    case kMimeVersion: s.flags |= kSummaryMime; break;
    default: break;
  }
}

// Appends a continuation line to value: one blank (a tab becomes a blank) and
// the text, as long as the value stays within the current-line buffer.
// Only the value's end is looked at (its line end, then blanks), so each
// continuation costs its own length and a long run of them stays linear; a
// CR inside the value still ends it when the field is stored.
void AppendContinuation(std::string &value, const char *line) {
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
  while (!value.empty() && IsBlank(value.back())) value.pop_back();
  const char *text = line;
  while (IsBlank(text[0]) && IsBlank(text[1])) ++text;
  std::string piece(text);
  if (!piece.empty() && piece[0] == '\t') piece[0] = ' ';
  if (value.size() + piece.size() < static_cast<size_t>(kCurrentLineSize))
    value += piece;
  else
    value += "\r\n";  // the continuation does not fit: it is dropped
}

}  // namespace

long ScanHeader(HEADER_SUMMARY &summary, MAIL_SOURCE source, FILE *copy) {
  uintptr_t keep = summary.firstWord;
  summary = HEADER_SUMMARY{};
  summary.firstWord = keep;
  ScanState st{summary, source, copy};
  std::vector<char> current(kCurrentLineSize), lookAhead(kLookAheadSize);

  int currentLength = 0, lookAheadLength = 0;
  bool haveLine = ReadLine(current.data(), kCurrentLineSize, source, &currentLength) != nullptr;
  bool taken = false;  // a look-ahead line carried over was counted and copied already
  while (haveLine) {
    if (!taken) {
      if (IsEndOfMessage(current.data())) {
        GiveBackEndOfMessage();
        break;
      }
      TakeLine(st, current.data(), currentLength);
    }
    taken = false;
    if (IsEndOfHeader(current.data())) break;
    const char *line = current.data();
    const char *colon = std::strchr(line, ':');
    int index = (IsSpace(line[0]) || !colon) ? -1 : FieldIndexOf(std::string(line, colon));
    if (index < 0) {
      haveLine = ReadLine(current.data(), kCurrentLineSize, source, &currentLength) != nullptr;
      continue;
    }
    std::string value(colon + 1);
    bool headerEnds = false, nextIsField = false, endOfMessage = false;
    for (;;) {
      if (!ReadLine(lookAhead.data(), kLookAheadSize, source, &lookAheadLength)) {
        headerEnds = true;
        break;
      }
      if (IsEndOfMessage(lookAhead.data())) {
        GiveBackEndOfMessage();
        endOfMessage = true;
        break;
      }
      TakeLine(st, lookAhead.data(), lookAheadLength);
      if (IsEndOfHeader(lookAhead.data())) {
        headerEnds = true;
        break;
      }
      if (IsBlank(lookAhead[0])) {
        AppendContinuation(value, lookAhead.data());
        continue;
      }
      nextIsField = true;
      break;
    }
    StoreField(summary, index, value);
    if (!nextIsField) break;
    std::memcpy(current.data(), lookAhead.data(), static_cast<size_t>(lookAheadLength) + 1);
    currentLength = lookAheadLength;
    taken = true;
    (void)headerEnds;
    (void)endOfMessage;
  }
  CompactLineBuffer();
  if (copy && std::fflush(copy) != 0) st.copyFailed = true;  // a full disk shows here
  return st.copyFailed ? -1 : st.total;
}

int ReadMessageHeader(const std::string &folder, uint32_t number, HEADER_SUMMARY &summary) {
  std::string path = folder + "\\m" + std::to_string(number) + ".msg";
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) {
    FreeHeaderSummary(summary);
    return -1;
  }
  ScanHeader(summary, MAIL_SOURCE::File(f), nullptr);
  CloseSource(MAIL_SOURCE::File(f));
  return 0;
}

void FreeHeaderSummary(HEADER_SUMMARY &summary) {
  uintptr_t keep = summary.firstWord;
  summary = HEADER_SUMMARY{};
  summary.firstWord = keep;
}

void CloseSource(MAIL_SOURCE source) {
  if (source.isSocket) {
    if (MailIo().transport) MailIo().transport->CloseSocket(source.socket);
  } else if (source.file) {
    std::fclose(source.file);
  }
  g_lineBuffer.count = 0;
}

std::optional<std::string> ExtractDisplayName(const std::string &text) {
  std::string s = SkipLeft(text);
  if (!s.empty() && s[0] == '"') s.erase(0, 1);
  size_t quote = s.rfind('"');
  if (quote != std::string::npos) s.resize(quote);
  if (s.empty()) return std::nullopt;
  return DecodeEncodedWords(s);
}

// ---- Date -----------------------------------------------------------------

namespace {

constexpr std::array<const char *, 12> kMonths = {" Jan ", " Feb ", " Mar ", " Apr ", " May ", " Jun ",
                                                  " Jul ", " Aug ", " Sep ", " Oct ", " Nov ", " Dec "};
constexpr char kZones[] = "UT+0,EST-5,EDT-4,CST-6,CDT-5,MST-7,MDT-6,PST-8,PDT-7";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a run of digits at s[i] (after skipping non-digits when skip is set).
bool ReadNumber(const std::string &s, size_t &i, long &out, bool skip) {
  if (skip)
    while (i < s.size() && !IsDigit(s[i])) ++i;
  if (i >= s.size() || !IsDigit(s[i])) return false;
  long v = 0;
  while (i < s.size() && IsDigit(s[i])) {
    if (v < 100000000) v = v * 10 + (s[i] - '0');
    ++i;
  }
  out = v;
  return true;
}

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {  // m 1..12
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Seconds since 1970 of a broken-down UTC time whose fields may be out of
// range (they carry over as with mktime).
int64_t UtcSeconds(long year1900, long month0, long day, long h, long mi, long s, long &normYear) {
  int64_t y = 1900 + year1900 + month0 / 12;
  int64_t m = month0 % 12;
  if (m < 0) {
    m += 12;
    --y;
  }
  normYear = static_cast<long>(y);
  int64_t days = DaysFromCivil(y, m + 1, 1) + (day - 1);
  return days * 86400 + static_cast<int64_t>(h) * 3600 + static_cast<int64_t>(mi) * 60 + s;
}

long ZoneOffset(const std::string &zone) {
  auto isLetter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
  if (zone.size() >= 2 && isLetter(zone[0]) && isLetter(zone[1])) {
    size_t n = (zone.size() >= 3 && static_cast<unsigned char>(zone[2]) >= 0x20) ? 3 : 2;
    std::string name = zone.substr(0, n);
    const std::string table(kZones);
    for (size_t at = table.find(name); at != std::string::npos; at = table.find(name, at + 1)) {
      if (at != 0 && table[at - 1] != ',') continue;
      size_t num = at + name.size();
      if (num < table.size() && (table[num] == '+' || table[num] == '-'))
        return std::strtol(table.c_str() + num, nullptr, 10) * 100;
    }
    return 0;
  }
  if (!zone.empty() && isLetter(zone[0])) {
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(zone[0])));
    if (c == 'Z') return 0;
    if (c >= 'A' && c <= 'L') return -(c - 64) * 100;
    return (c - 76) * 100;
  }
  // A numeric zone is +HHMM; anything larger is no zone (and would overflow).
  long offset = std::strtol(zone.c_str(), nullptr, 10);
  return offset >= -9999 && offset <= 9999 ? offset : 0;
}

}  // namespace

int32_t ParseMailDate(const std::string &v) {
  size_t monthAt = std::string::npos;
  int month = 0;
  for (int m = 0; m < 12; ++m) {
    size_t at = v.find(kMonths[m]);
    if (at != std::string::npos) {
      monthAt = at;
      month = m;
      break;
    }
  }
  long day = 1, year = 80, hours = 0, minutes = 0, seconds = 0;
  int mon = 0;
  bool readTime = false;
  size_t dayStart = 0;
  if (monthAt != std::string::npos) {
    dayStart = monthAt;
    while (dayStart > 0 && IsDigit(v[dayStart - 1])) --dayStart;
    size_t i = dayStart;
    long d, y;
    if (ReadNumber(v, i, d, false) && ReadNumber(v, i, y, true)) {
      day = d;
      year = y;
      mon = month;
      readTime = true;
    }
  }
  if (year > 1900)
    year -= 1900;
  else if (year < 50 && readTime)
    year += 100;  // two-digit years 00-49 are 2000-2049
  size_t colon = readTime ? v.find(':', dayStart) : std::string::npos;
  std::string zone;
  bool haveZone = false;
  if (colon != std::string::npos) {
    size_t timeStart = colon >= 2 ? colon - 2 : 0;
    hours = std::strtol(v.c_str() + timeStart, nullptr, 10);
    size_t i = colon + 1;
    ReadNumber(v, i, minutes, false);
    if (i < v.size() && v[i] == ':') {
      ++i;
      ReadNumber(v, i, seconds, false);
    }
    size_t blank = v.find(' ', timeStart + 1);
    if (blank != std::string::npos) {
      zone = v.substr(blank + 1);
      haveZone = true;
    }
  }
  long normYear = 0;
  int64_t t = UtcSeconds(year, mon, day, hours, minutes, seconds, normYear);
  if (normYear < 1969 || normYear > 2039) return -1;
  if (haveZone) {
    long off = ZoneOffset(zone);
    t -= static_cast<int64_t>(off / 100) * 3600 + static_cast<int64_t>(off % 100) * 60;
  }
  if (t < INT32_MIN || t > INT32_MAX) return -1;
  return static_cast<int32_t>(t);
}
