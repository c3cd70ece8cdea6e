// Reply quoting and the ReplyString template. The template is expanded by a
// small recursive walker over its tags; every expansion is bounded, so a
// sender's long Subject or display name can never make the attribution line
// longer than kTemplateLimit.
#include "quote.h"

#include <cctype>
#include <cstring>
#include <ctime>

#include "displayline.h"
#include "mailstore.h"
#include "settings.h"

// Last, so that the layer's C runtime names (fopen) are not undone by <cstdio>.
#include <windows.h>

namespace {

enum class Field { kMessageId, kDate, kAuthor, kFrom, kSubject, kTo, kNone };

constexpr struct {
  const char *name;
  Field field;
} kFields[] = {{"Message-ID", Field::kMessageId}, {"Date", Field::kDate},
               {"Author", Field::kAuthor},        {"From", Field::kFrom},
               {"Subject", Field::kSubject},      {"To", Field::kTo}};
// Conditionals nested deeper than this are left as text.
constexpr int kMaxNesting = 16;

bool EqualsNoCase(const std::string &a, const char *b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

Field FieldNamed(const std::string &name) {
  for (const auto &f : kFields)
    if (EqualsNoCase(name, f.name)) return f.field;
  return Field::kNone;
}

std::optional<std::string> FieldValue(Field field, const HEADER_SUMMARY &s) {
  switch (field) {
    case Field::kMessageId: return s.messageId;
    case Field::kDate: return s.date > 0 ? std::optional<std::string>(TemplateDate(s.date)) : std::nullopt;
    case Field::kAuthor: return s.displayName;
    case Field::kFrom: return s.from;
    case Field::kSubject: return s.subject;
    case Field::kTo: return s.to;
    case Field::kNone: break;
  }
  return std::nullopt;
}

void Append(std::string &out, const std::string &text) {
  if (out.size() < kTemplateLimit) out.append(text, 0, kTemplateLimit - out.size());
}

// The tag at "<" in text: its inner text and the position after its ">".
bool TagAt(const std::string &text, size_t lt, std::string &inner, size_t &after) {
  const size_t gt = text.find('>', lt + 1);
  if (gt == std::string::npos) return false;
  inner = text.substr(lt + 1, gt - lt - 1);
  after = gt + 1;
  return true;
}

void Expand(const std::string &text, const HEADER_SUMMARY &s, std::string &out, int depth) {
  size_t at = 0;
  while (at < text.size() && out.size() < kTemplateLimit) {
    const size_t lt = text.find('<', at);
    std::string inner;
    size_t after = 0;
    if (lt == std::string::npos || !TagAt(text, lt, inner, after)) {
      Append(out, text.substr(at));
      return;
    }
    Append(out, text.substr(at, lt - at));
    const bool conditional = !inner.empty() && inner[0] == '?';
    const Field field = FieldNamed(conditional ? inner.substr(1) : inner);
    if (field == Field::kNone || (conditional && depth >= kMaxNesting)) {
      Append(out, "<");  // not a tag of the template: kept as text
      at = lt + 1;
      continue;
    }
    if (!conditional) {
      Append(out, FieldValue(field, s).value_or(""));
      at = after;
      continue;
    }
    const std::string rest = text.substr(after);
    const TEMPLATE_BRANCH b = FindBranch(FieldValue(field, s).has_value(), rest);
    Expand(rest.substr(b.begin, b.end - b.begin), s, out, depth + 1);
    if (b.next == std::string::npos) return;
    at = after + b.next;
  }
}

}  // namespace

std::string TemplateDate(int32_t date) {
  static const char *const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t when = date;
  std::tm t{};
  if (!localtime_r(&when, &t)) return "";
  char text[40];
  std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d", kDays[t.tm_wday % 7], kMonths[t.tm_mon % 12],
                t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
  return text;
}

// The conditional closes at the "<?End>" that brings the count of open
// conditionals back to zero; its Else is the first "<?Else>" met while only
// this conditional is open (an Else of a nested one is passed over).
TEMPLATE_BRANCH FindBranch(bool condition, const std::string &text) {
  int open = 1;
  size_t elseAt = std::string::npos, elseEnd = 0, endAt = std::string::npos, endEnd = 0;
  for (size_t at = text.find("<?"); at != std::string::npos; at = text.find("<?", at + 1)) {
    std::string inner;
    size_t after = 0;
    if (!TagAt(text, at, inner, after)) break;
    const std::string word = inner.substr(1);
    if (EqualsNoCase(word, "End")) {
      if (--open == 0) {
        endAt = at;
        endEnd = after;
        break;
      }
    } else if (EqualsNoCase(word, "Else")) {
      if (open == 1 && elseAt == std::string::npos) {
        elseAt = at;
        elseEnd = after;
      }
    } else if (FieldNamed(word) != Field::kNone) {
      ++open;
    }
  }
  TEMPLATE_BRANCH b;
  if (endAt == std::string::npos) {  // no closing tag: the first branch runs on to the end
    b.end = elseAt != std::string::npos ? elseAt : text.size();
    b.next = std::string::npos;
    return b;
  }
  b.next = endEnd;
  if (condition) {
    b.end = elseAt != std::string::npos ? elseAt : endAt;
  } else if (elseAt != std::string::npos) {
    b.begin = elseEnd;
    b.end = endAt;
  } else {
    b.begin = b.end = endAt;
  }
  return b;
}

std::string ExpandTemplate(const std::string &templateText, const HEADER_SUMMARY &summary) {
  std::string out;
  Expand(templateText, summary, out, 0);
  return out;
}

bool QuoteMessage(const std::string &folder, uint32_t number, bool asReply, bool withHeaders,
                  const std::string &workFile) {
  FILE *work = std::fopen(workFile.c_str(), "a");
  if (!work) return false;
  FILE *message = std::fopen(MessagePath(folder, number).c_str(), "rb");
  if (!message) {
    std::fclose(work);
    return false;
  }
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  const LINE_BUFFER keep = GetLineBuffer();
  GetLineBuffer().count = 0;
  HEADER_SUMMARY summary;
  ScanHeader(summary, MAIL_SOURCE::File(message), nullptr);
  GetLineBuffer() = keep;
  const MAIL_SETTINGS &s = Settings();
  bool ok = true;
  std::string prefix;
  if (asReply) {
    if (!s.replyString.empty()) ok = std::fprintf(work, "%s\n", ExpandTemplate(s.replyString, summary).c_str()) >= 0;
    for (size_t i = 0; i < s.indentString.size(); ++i) {
      if (s.indentString[i] == '\\' && i + 1 < s.indentString.size() && s.indentString[i + 1] == 't') {
        prefix += '\t';
        ++i;
      } else {
        prefix += s.indentString[i];
      }
    }
  }
  std::fclose(message);
  MessageFile lines(MessagePath(folder, number));
  bool inHeader = !withHeaders;
  uint32_t position = 0, flags = 0;
  bool first = true;
  while (ok) {
    auto line = NextDisplayLine(lines, summary.flags, position, first, &flags);
    first = false;
    if (!line) break;
    if (inHeader) {
      if (*line == "\n") inHeader = false;
      continue;
    }
    std::string text = DecodeDisplayLine(*line, flags);
    // One quoted line per display line; a CR before the line end would be
    // doubled by the text-mode write.
    if (text.empty() || text.back() != '\n') text += '\n';
    if (text.size() >= 2 && text[text.size() - 2] == '\r') text.erase(text.size() - 2, 1);
    MapIncoming(text);
    ok = std::fwrite(prefix.data(), 1, prefix.size(), work) == prefix.size() &&
         std::fwrite(text.data(), 1, text.size(), work) == text.size();
  }
  ok = std::fputs("\n", work) >= 0 && ok;
  ok = std::fclose(work) == 0 && ok;
  SetCursor(previous);
  return ok;
}
