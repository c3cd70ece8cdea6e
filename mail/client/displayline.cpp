// The display line reader and the body decoders. The reader is a small state
// machine over the physical lines of a message file: MIME header blocks set
// the class and transfer encoding of the part that follows, boundary lines
// open and close parts, non-text parts become one description line and one
// end line, and text is wrapped, joined over quoted-printable soft breaks or
// measured group by group for base64, always within kDisplayLineLimit.
#include "displayline.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "headers.h"
#include "settings.h"

// Last, so that the layer's C runtime names (fopen: Windows paths) are not undone by <cstdio>.
#include <windows.h>

namespace {

constexpr int kShown = 0, kNonText = 2;
constexpr int kIdentity = 0, kQuotedPrintable = 1, kBase64 = 2;
constexpr const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";

// Texts of the descriptions (attachment lines).
constexpr const char *kFileAttachmentStart = "**** File ";
constexpr const char *kFileAttachmentEnd = " is an attachment ****\r\n";
constexpr const char *kImagePart = "*** MIME Image part of type ";
constexpr const char *kAudioPart = "*** MIME Audio part of type ";
constexpr const char *kVideoPart = "*** MIME Video part of type ";
constexpr const char *kApplicationPart = "*** MIME Application part of type ";
constexpr const char *kExternalPart = "*** MIME External File Retrieval via ";
constexpr const char *kEmbeddedMessage = "*** MIME Embedded Message ";
constexpr const char *kUnknownPart = "*** MIME Unknown body part ";
constexpr const char *kUnknown = "Unknown";
// Folded parameter lines followed when looking for a parameter.
constexpr int kMaxParameterLines = 64;

bool IsWhite(char c) { return c == ' ' || c == '\t'; }

bool StartsNoCase(const std::string &text, size_t at, const char *prefix) {
  const size_t n = std::strlen(prefix);
  if (text.size() < at + n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(text[at + i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

// The value of a "Name:" field line after the colon and white space, or
// npos when the line is not that field.
size_t FieldValue(const std::string &line, const char *name) {
  if (!StartsNoCase(line, 0, name)) return std::string::npos;
  size_t at = std::strlen(name);
  while (at < line.size() && IsWhite(line[at])) ++at;
  return at;
}

// One physical line (or a piece of kDisplayLineLimit characters of a longer
// one) as text mode hands it over: CR LF becomes LF. terminator receives the
// bytes of the line end in the file (2, 1, or 0 for none).
bool ReadPhysical(MessageFile &f, std::string &line, int *terminator = nullptr, size_t limit = kDisplayLineLimit) {
  line.clear();
  int term = 0;
  while (line.size() < limit) {
    // The text up to the next CR or LF in the buffer is taken at once.
    const std::string_view buffered = f.Buffered();
    if (buffered.empty()) break;
    const size_t n = std::min(buffered.size(), limit - line.size());
    const void *lf = std::memchr(buffered.data(), '\n', n), *cr = std::memchr(buffered.data(), '\r', n);
    const char *end = buffered.data() + n;
    if (lf) end = static_cast<const char *>(lf);
    if (cr && static_cast<const char *>(cr) < end) end = static_cast<const char *>(cr);
    const size_t text = static_cast<size_t>(end - buffered.data());
    line.append(buffered.data(), text);
    f.Skip(text);
    if (text == n) continue;  // no line end in this piece
    if (*end == '\n') {
      f.Skip(1);
      line += '\n';
      term = 1;
      break;
    }
    f.Skip(1);  // a CR: a line end with the LF after it, else a character of the line
    const int d = f.Get();
    if (d == '\n') {
      line += '\n';
      term = 2;
      break;
    }
    if (d != EOF) f.Seek(f.Tell() - 1);
    line += '\r';
  }
  if (terminator) *terminator = term;
  return !line.empty();
}

// Trailing blanks of a line go (never past the start) and its line feed is
// kept; a piece of a longer line keeps its blanks, they are not at its end.
void StripTrailingWhite(std::string &text) {
  if (text.empty() || text.back() != '\n') return;
  text.pop_back();
  while (!text.empty() && (IsWhite(text.back()) || text.back() == '\r')) text.pop_back();
  text += '\n';
}

// Joins quoted-printable soft breaks ("=" at the line end) with the following
// physical lines while the joined text stays within the limit. A soft break
// that cannot be joined is dropped: the text then has no line feed and the
// next display line continues it. An "=" that ends a piece of a longer line
// is a soft break only when the line ends right after it.
void JoinSoftBreaks(std::string &text, MessageFile *file) {
  StripTrailingWhite(text);
  for (;;) {
    const bool lf = !text.empty() && text.back() == '\n';
    const size_t end = lf ? text.size() - 1 : text.size();
    if (end == 0 || text[end - 1] != '=') return;
    if (file && !lf) {
      const long before = file->Tell();
      thread_local std::string rest;  // reused: one soft break after another
      if (ReadPhysical(*file, rest) && rest != "\n") {
        file->Seek(before);  // "=" inside the line: an escape cut by the piece
        return;
      }
    }
    text.resize(end - 1);
    if (!file) return;
    const long before = file->Tell();
    thread_local std::string next;
    if (!ReadPhysical(*file, next)) return;
    if (text.size() + next.size() > kDisplayLineLimit) {
      file->Seek(before);
      return;
    }
    text += next;
    StripTrailingWhite(text);
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string DecodeQuotedPrintable(const std::string &text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool IsBase64Char(char c) { return c != '\0' && std::strchr(kAlphabet, c) != nullptr; }

// Which of a group's three bytes carry data: byte 0 unless character 0 or 1
// is "=", byte 1 unless character 2 is, byte 2 unless character 3 is.
bool ByteWritten(const char *group, int k) {
  if (k == 0) return group[0] != '=' && group[1] != '=';
  return group[k + 1] != '=';
}

// The base64 characters one display line decodes at most: whole groups within
// the line bound.
constexpr size_t kMaxGroupChars = kDisplayLineLimit / 4 * 4;

// The encoded characters of a text in groups of four; a short last group is
// padded. Characters outside the alphabet (blanks, line ends) are passed over.
std::vector<std::string> Groups(const std::string &text) {
  std::vector<std::string> groups;
  std::string group;
  for (char c : text) {
    if (!IsBase64Char(c)) continue;
    group += c;
    if (group.size() == 4) {
      groups.push_back(group);
      group.clear();
    }
  }
  if (!group.empty()) {
    group.resize(4, '=');
    groups.push_back(group);
  }
  return groups;
}

// Decodes groups into out, the first skip bytes of the first group dropped,
// up to and including the first decoded line feed. True when it was found.
bool DecodeGroupsToLineFeed(const std::vector<std::string> &groups, int skip, std::string &out) {
  for (size_t g = 0; g < groups.size(); ++g) {
    unsigned char bytes[3];
    DecodeBase64Group(groups[g].c_str(), bytes);
    for (int k = g == 0 ? skip : 0; k < 3; ++k) {
      if (!ByteWritten(groups[g].c_str(), k)) continue;
      out += static_cast<char>(bytes[k]);
      if (bytes[k] == '\n') return true;
    }
  }
  return false;
}

// The reader's state for the message being read.
struct READER_STATE {
  std::vector<std::string> boundaries;  // newest last
  bool insidePart = false;
  bool headerBlockEnded = false;
  bool messageHeaderEnded = false;
  bool multipartSeen = false;
  bool continuation = false;  // Content-Type parameters may follow on folded lines
  bool insideUuencode = false;
  bool endLineGiven = false;
  int messageClass = kShown;
  int partClass = kShown;
  int encoding = kIdentity;
  int phase = 0;
  int lastTerminator = 0;  // line end bytes of the previous physical line
  std::optional<std::string> pendingDescription;
  uint32_t pendingPosition = 0;
};
READER_STATE g_reader;

uint32_t Offset32(long offset) { return static_cast<uint32_t>(offset) & ~kAttachmentLine; }

int ClassOfType(const std::string &line, size_t at, int messageClass) {
  if (StartsNoCase(line, at, "text/") || StartsNoCase(line, at, "message/rfc822")) return kShown;
  if (StartsNoCase(line, at, "text")) {
    const char after = at + 4 < line.size() ? line[at + 4] : '\n';
    if (after == '\n' || after == '\r' || after == ';' || IsWhite(after)) return kShown;
  }
  if (StartsNoCase(line, at, "multipart/")) return messageClass;
  return kNonText;
}

// The boundary value at "BOUNDARY=" in line: quoted, or a token.
std::string BoundaryAt(const std::string &line, size_t at) {
  at += 9;
  while (at < line.size() && IsWhite(line[at])) ++at;
  if (at < line.size() && line[at] == '"') {
    const size_t close = line.find('"', at + 1);
    return line.substr(at + 1, close == std::string::npos ? std::string::npos : close - at - 1);
  }
  size_t end = at;
  while (end < line.size() && !IsWhite(line[end]) && line[end] != ';' && line[end] != '\r' && line[end] != '\n') ++end;
  return line.substr(at, end - at);
}

bool IsBoundaryLine(const std::string &line, const std::string &boundary) {
  return !boundary.empty() && line.size() >= 2 + boundary.size() && line.compare(0, 2, "--") == 0 &&
         line.compare(2, boundary.size(), boundary) == 0;
}

std::optional<std::string> EndOfFile(READER_STATE &st, MessageFile &file, uint32_t &position) {
  if (st.pendingDescription) {
    std::string text = std::move(*st.pendingDescription);
    st.pendingDescription.reset();
    position = st.pendingPosition;
    return text;
  }
  // A non-text part that runs to the end of the file (a single-part message,
  // or a closing boundary that never came) still gets its end line.
  if (!st.endLineGiven && (st.continuation || (st.messageHeaderEnded && st.partClass == kNonText))) {
    st.endLineGiven = true;
    const long end = file.Tell();
    position = Offset32(std::max(0L, end - st.lastTerminator));
    return std::string("\n");
  }
  st.boundaries.clear();
  return std::nullopt;
}

// Header processing of one line: returns the attachment position when the
// line is the Content-Type of a non-text part inside a multipart message.
std::optional<uint32_t> HeaderRules(READER_STATE &st, MessageFile &file, const std::string &line, uint32_t pos,
                                    bool inHeaderBlock) {
  const bool blank = line == "\n";
  if (st.continuation && (blank || !IsWhite(line[0]))) st.continuation = false;
  if (inHeaderBlock) {
    if (blank) {
      st.headerBlockEnded = true;
    } else if (size_t v = FieldValue(line, "Content-Transfer-Encoding:"); v != std::string::npos) {
      if (StartsNoCase(line, v, "quoted-printable")) st.encoding = kQuotedPrintable;
      if (StartsNoCase(line, v, "base64")) st.encoding = kBase64;
    }
  }
  const size_t type = FieldValue(line, "Content-Type:");
  if (type == std::string::npos && !st.continuation) return std::nullopt;
  // A transfer encoding counts only after the Content-Type of its block.
  st.encoding = kIdentity;
  st.phase = 0;
  std::optional<uint32_t> attachment;
  if (type != std::string::npos) {
    const int cls = ClassOfType(line, type, st.messageClass);
    st.partClass = cls;
    if (!st.messageHeaderEnded) st.messageClass = cls;
    if (cls == kNonText) {
      if (st.messageClass == kNonText) {
        st.pendingDescription = DescribePart(&file, line);
        st.pendingPosition = pos | kAttachmentLine;
      } else {
        attachment = pos | kAttachmentLine;
      }
    }
  }
  std::string upper = line;
  for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const size_t at = upper.find("BOUNDARY=");
  if (at != std::string::npos) {
    st.continuation = false;
    st.multipartSeen = true;
    st.boundaries.push_back(BoundaryAt(line, at));
    st.insidePart = false;
  } else {
    st.continuation = true;
  }
  return attachment;
}

// A base64 body line measured group by group up to the decoded line feed,
// continuing over the following encoded lines; the file is left where the
// next display line starts.
std::string MeasureBase64(READER_STATE &st, MessageFile &file, const std::string &first, long firstOffset) {
  struct GROUP {
    std::string chars;
    long start;  // offset of its first character
    long after;  // offset where the text after it starts
  };
  std::string line = first;
  long lineOffset = firstOffset;
  std::string text;
  std::string partial;
  long partialStart = 0;
  int skip = st.phase;
  for (;;) {
    const bool hasLf = !line.empty() && line.back() == '\n';
    const size_t contentEnd = hasLf ? line.size() - 1 : line.size();
    const long lineEnd = file.Tell();  // after this physical line
    for (size_t i = 0; i < contentEnd; ++i) {
      if (!IsBase64Char(line[i])) continue;
      if (partial.empty()) partialStart = lineOffset + static_cast<long>(i);
      partial += line[i];
      if (partial.size() < 4) continue;
      GROUP g{partial, partialStart, 0};
      partial.clear();
      size_t rest = i + 1;
      while (rest < contentEnd && !IsBase64Char(line[rest])) ++rest;
      g.after = rest >= contentEnd ? lineEnd : lineOffset + static_cast<long>(rest);
      text += g.chars;
      unsigned char bytes[3];
      DecodeBase64Group(g.chars.c_str(), bytes);
      for (int k = skip; k < 3; ++k) {
        if (!ByteWritten(g.chars.c_str(), k) || bytes[k] != '\n') continue;
        const bool padded = g.chars[3] == '=';
        if (k == 2 || padded || !ByteWritten(g.chars.c_str(), k + 1)) {
          st.phase = 0;
          file.Seek(g.after);
        } else {
          st.phase = k + 1;  // the group's later bytes start the next display line
          file.Seek(g.start);
        }
        st.lastTerminator = 0;
        return text;
      }
      skip = 0;
      if (text.size() >= kMaxGroupChars) {  // no line feed within the limit: cut here
        st.phase = 0;
        file.Seek(g.after);
        st.lastTerminator = 0;
        return text;
      }
    }
    // The encoded line ended before a line feed: go on with the next one,
    // unless the part ends there (an empty line, a boundary, the file's end).
    const long next = file.Tell();
    std::string following;
    int term = 0;
    if (!ReadPhysical(file, following, &term) || following == "\n" || following.compare(0, 2, "--") == 0) {
      file.Seek(next);
      text += partial;  // a short last group is kept as it is
      st.phase = 0;
      return text;
    }
    st.lastTerminator = term;
    line = following;
    lineOffset = next;
  }
}

}  // namespace

MessageFile::MessageFile(const std::string &path, size_t bufferSize)
    : file_(std::fopen(path.c_str(), "rb")), bufferSize_(std::max<size_t>(bufferSize, 16)) {}

MessageFile::~MessageFile() { Close(); }

void MessageFile::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  base_ = 0;
  size_ = at_ = 0;
  streamAt_ = -1;
}

bool MessageFile::Seek(long offset) {
  if (!file_ || offset < 0) return false;
  if (offset >= base_ && offset <= base_ + static_cast<long>(size_)) {
    at_ = static_cast<size_t>(offset - base_);
  } else {
    base_ = offset;  // the next read fills the buffer from here
    size_ = at_ = 0;
  }
  return true;
}

std::string_view MessageFile::Buffered() {
  if (at_ == size_) {
    if (Refill() == EOF) return {};
    --at_;  // Refill took the first byte
  }
  return std::string_view(buffer_.data() + at_, size_ - at_);
}

int MessageFile::Refill() {
  if (!file_) return EOF;
  // A read that goes on where the buffer ends keeps the buffer's last
  // sixteenth before the new bytes, so the reader's moves back over a line
  // (two line pieces at most) stay inside a 64 KiB buffer there too.
  if (buffer_.size() != bufferSize_) buffer_.resize(bufferSize_);
  const long at = Tell();
  size_t kept = 0;
  if (at_ == size_ && size_ > 0 && streamAt_ == at) {
    kept = std::min(size_, bufferSize_ / 16);
    std::memmove(buffer_.data(), buffer_.data() + size_ - kept, kept);
  } else if (streamAt_ != at && std::fseek(file_, at, SEEK_SET) != 0) {
    return EOF;
  }
  base_ = at - static_cast<long>(kept);
  at_ = kept;
  size_ = kept + std::fread(buffer_.data() + kept, 1, buffer_.size() - kept, file_);
  streamAt_ = base_ + static_cast<long>(size_);
  if (at_ == size_) {
    std::clearerr(file_);  // a later seek back can read again
    return EOF;
  }
  return static_cast<unsigned char>(buffer_[at_++]);
}

std::optional<std::string> NextDisplayLine(MessageFile &file, uint8_t mimeFlags, uint32_t &position, bool first,
                                           uint32_t *decodeFlags) {
  READER_STATE &st = g_reader;
  if (first) st = READER_STATE{};
  if (decodeFlags) *decodeFlags = 0;
  if (!file.IsOpen()) return std::nullopt;
  const bool mime = (mimeFlags & kSummaryMime) != 0;
  thread_local std::string line;  // reused from line to line; the result is a copy
  for (;;) {
    const long offset = file.Tell();
    int term = 0;
    if (offset < 0 || !ReadPhysical(file, line, &term)) return EndOfFile(st, file, position);
    const int previousTerminator = st.lastTerminator;
    st.lastTerminator = term;
    uint32_t pos = Offset32(offset);
    const bool blank = line == "\n";

    if (mime) {
      const bool inHeaderBlock = !st.headerBlockEnded;
      if (auto attachment = HeaderRules(st, file, line, pos, inHeaderBlock)) {
        position = *attachment;
        return DescribePart(&file, line);
      }
      if (inHeaderBlock && st.messageHeaderEnded) continue;  // part headers are not shown
      if (!st.boundaries.empty() && IsBoundaryLine(line, st.boundaries.back())) {
        const bool endsNonText = st.partClass == kNonText;
        const size_t after = 2 + st.boundaries.back().size();
        if (line.compare(after, 2, "--") == 0) {
          st.boundaries.pop_back();
          st.partClass = st.messageClass;
          st.insidePart = false;
        } else {
          st.insidePart = true;
          st.headerBlockEnded = false;  // the part's header follows
          st.partClass = kShown;        // until its Content-Type says otherwise
        }
        st.encoding = kIdentity;
        st.phase = 0;
        if (endsNonText) {
          // The line end before the boundary belongs to the boundary.
          position = Offset32(std::max(0L, offset - previousTerminator));
          return std::string("\n");
        }
        continue;
      }
      if (st.messageHeaderEnded && (st.partClass == kNonText || (st.multipartSeen && !st.insidePart))) continue;
    }

    if (!st.messageHeaderEnded) {
      if (blank) st.messageHeaderEnded = true;  // the header's end is shown
      position = pos;
      const size_t cut = WrapAtSpace(line, Settings().wordWrap);
      if (cut) {
        file.Seek(offset + static_cast<long>(line.size()));
        st.lastTerminator = 0;
      }
      return line;
    }
    if (st.insideUuencode) {
      if (line.compare(0, 3, "end") == 0) st.insideUuencode = false;
      continue;
    }
    if (line.size() >= 11 && line.compare(0, 6, "begin ") == 0 && std::isdigit(static_cast<unsigned char>(line[6])) &&
        std::isdigit(static_cast<unsigned char>(line[7])) && std::isdigit(static_cast<unsigned char>(line[8])) &&
        line[9] == ' ') {
      st.insideUuencode = true;
      position = pos | kAttachmentLine;
      std::string name = line.substr(10);
      while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
      return kFileAttachmentStart + name + kFileAttachmentEnd;
    }
    position = pos;
    if (st.encoding == kBase64 && !blank) {
      if (decodeFlags) *decodeFlags = kDecodeBase64 | (static_cast<uint32_t>(st.phase) << kBase64PhaseShift);
      return MeasureBase64(st, file, line, offset);
    }
    const size_t cut = WrapAtSpace(line, Settings().wordWrap);
    if (cut) {
      file.Seek(offset + static_cast<long>(line.size()));
      st.lastTerminator = 0;
    }
    if (st.encoding == kQuotedPrintable) {
      if (!cut) JoinSoftBreaks(line, &file);
      if (decodeFlags) *decodeFlags = kDecodeQuotedPrintable;
    }
    return line;
  }
}

size_t WrapAtSpace(std::string &line, int width) {
  if (width <= 0) width = 76;
  const size_t w = static_cast<size_t>(width);
  if (line.size() <= w + 1) return 0;
  size_t at = std::string::npos;
  for (size_t i = w; i >= 1; --i)
    if (IsWhite(line[i])) {
      at = i;
      break;
    }
  if (at == std::string::npos) {
    for (size_t i = w + 1; i < line.size() && at == std::string::npos; ++i) {
      if (line[i] == '\n') return 0;  // the only break is the line's own end
      if (IsWhite(line[i])) at = i;
    }
    if (at == std::string::npos) return 0;
  }
  const size_t cut = line.size() - at;
  line.resize(at);
  return cut;
}

void DecodeBase64Group(const char *group, unsigned char out[3]) {
  out[0] = out[1] = out[2] = 0;
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    const char *at = group[i] ? std::strchr(kAlphabet, group[i]) : nullptr;
    const uint32_t index = at ? static_cast<uint32_t>(at - kAlphabet) : 0;
    value = (value << 6) | (index & 0x3F);
  }
  if (ByteWritten(group, 0)) out[0] = static_cast<unsigned char>(value >> 16);
  if (ByteWritten(group, 1)) out[1] = static_cast<unsigned char>(value >> 8);
  if (ByteWritten(group, 2)) out[2] = static_cast<unsigned char>(value);
}

void DecodeQuotedPrintableLine(std::string &text, MessageFile *file) {
  JoinSoftBreaks(text, file);
  text = DecodeQuotedPrintable(text);
}

void DecodeBase64Line(std::string &text, int phase, MessageFile *file) {
  if (text.empty() || text[0] == '\n') return;
  // Only the alphabet's characters count, as the reader counts them: a display
  // line holds at most kMaxGroupChars of them, and the next display line starts
  // after those (the text left after fewer would be lost, after more shown twice).
  const auto appendGroupChars = [](std::string &to, const std::string &from) {
    for (char c : from)
      if (IsBase64Char(c)) to += c;
  };
  std::string encoded;
  appendGroupChars(encoded, text);
  std::string out;
  for (;;) {
    if (encoded.size() > kMaxGroupChars) encoded.resize(kMaxGroupChars);
    out.clear();
    if (DecodeGroupsToLineFeed(Groups(encoded), std::clamp(phase, 0, 2), out) || !file ||
        encoded.size() == kMaxGroupChars)
      break;
    std::string next;
    const long before = file->Tell();
    // Where the reader ends a line's groups: an empty line or a "--" line
    // (the part's end) is never decoded as more of this line's text.
    if (!ReadPhysical(*file, next) || next == "\n" || next.compare(0, 2, "--") == 0) {
      file->Seek(before);
      break;
    }
    appendGroupChars(encoded, next);
  }
  text = out;
}

std::string DecodeDisplayLine(const std::string &text, uint32_t decodeFlags) {
  std::string out = text;
  if (decodeFlags & kDecodeQuotedPrintable) DecodeQuotedPrintableLine(out, nullptr);
  if (decodeFlags & kDecodeBase64)
    DecodeBase64Line(out, static_cast<int>(decodeFlags >> kBase64PhaseShift) & 3, nullptr);
  return out;
}

std::string GetTypeParameter(MessageFile *file, const std::string &text, const std::string &name,
                             const std::string &prefix) {
  std::string line = text;
  size_t at = line.find(';');
  for (int lines = 0; lines < kMaxParameterLines; ++lines) {
    while (at != std::string::npos && at < line.size()) {
      size_t p = at + 1;
      while (p < line.size() && IsWhite(line[p])) ++p;
      const size_t eq = line.find('=', p);
      if (eq == std::string::npos) break;
      std::string key = line.substr(p, eq - p);
      while (!key.empty() && IsWhite(key.back())) key.pop_back();
      size_t v = eq + 1;
      while (v < line.size() && IsWhite(line[v])) ++v;
      std::string value;
      size_t next;
      if (v < line.size() && line[v] == '"') {
        const size_t close = line.find('"', v + 1);
        value = line.substr(v + 1, close == std::string::npos ? std::string::npos : close - v - 1);
        next = close == std::string::npos ? std::string::npos : line.find(';', close);
      } else {
        next = line.find(';', v);
        value = line.substr(v, next == std::string::npos ? std::string::npos : next - v);
        while (!value.empty() && (IsWhite(value.back()) || value.back() == '\n' || value.back() == '\r'))
          value.pop_back();
      }
      if (key.size() == name.size() && StartsNoCase(key, 0, name.c_str())) return prefix + value;
      at = next;
    }
    // No further parameter on this line: a folded continuation goes on.
    std::string following;
    if (!file || !ReadPhysical(*file, following) || following.empty() || !IsWhite(following[0])) break;
    line = ";" + following;
    at = 0;
  }
  return prefix + kUnknown;
}

std::string DescribePart(MessageFile *file, const std::string &line) {
  const long saved = file ? file->Tell() : -1;
  size_t at = FieldValue(line, "Content-Type:");
  if (at == std::string::npos) at = 0;
  const size_t slash = line.find('/', at);
  const std::string type = line.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
  std::string subtype;
  if (slash != std::string::npos) {
    size_t end = slash + 1;
    while (end < line.size() && line[end] != ';' && !IsWhite(line[end]) && line[end] != '\r' && line[end] != '\n')
      ++end;
    subtype = line.substr(slash + 1, end - slash - 1);
  }
  auto is = [&](const char *name) { return type.size() == std::strlen(name) && StartsNoCase(type, 0, name); };
  std::string text;
  if (is("application"))
    text = GetTypeParameter(file, line, "type", kApplicationPart);
  else if (is("image"))
    text = kImagePart + subtype;
  else if (is("audio"))
    text = kAudioPart + subtype;
  else if (is("video"))
    text = kVideoPart + subtype;
  else if (is("message"))
    text = subtype.size() == 13 && StartsNoCase(subtype, 0, "external-body")
               ? GetTypeParameter(file, line, "access-type", kExternalPart)
               : std::string(kEmbeddedMessage);
  else
    text = kUnknownPart;
  if (file && saved >= 0) file->Seek(saved);
  return text + " ***\n";
}

std::string PhysicalLineAt(MessageFile &file, uint32_t position) {
  std::string line;
  if (file.Seek(static_cast<long>(position & ~kAttachmentLine))) ReadPhysical(file, line);
  return line;
}

std::string DisplayLineAt(MessageFile &file, uint32_t position, uint32_t decodeFlags) {
  if (!file.Seek(static_cast<long>(position & ~kAttachmentLine))) return "";
  std::string line;
  ReadPhysical(file, line);
  if (position & kAttachmentLine) {
    std::string text;
    if (FieldValue(line, "Content-Type:") != std::string::npos) {
      text = DescribePart(&file, line);
    } else {  // a uuencode "begin" line
      std::string name = line.size() > 10 ? line.substr(10) : std::string();
      while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
      text = kFileAttachmentStart + name + kFileAttachmentEnd;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
  }
  if (decodeFlags & kDecodeQuotedPrintable) {
    // The text the reader handed back: a long line cut at the wrap width as
    // a plain one is (its rest is the next display line, which would
    // otherwise be shown twice), soft breaks followed only in a line it did
    // not cut; then decoded as DecodeDisplayLine decodes the reader's text.
    if (WrapAtSpace(line, Settings().wordWrap) == 0) JoinSoftBreaks(line, &file);
    DecodeQuotedPrintableLine(line, nullptr);
  }
  if (decodeFlags & kDecodeBase64)
    DecodeBase64Line(line, static_cast<int>(decodeFlags >> kBase64PhaseShift) & 3, &file);
  // Plain lines are cut where the reader cut them; a base64 line is shown
  // whole (the reader did not cut it, so no later display line holds its rest).
  if (!(decodeFlags & (kDecodeQuotedPrintable | kDecodeBase64))) WrapAtSpace(line, Settings().wordWrap);
  const size_t lf = line.find('\n');
  if (lf != std::string::npos) line.resize(lf);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}
