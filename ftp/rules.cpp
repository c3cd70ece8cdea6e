// "ftp.cfg": one line per kind of server the built-in listing types do not
// know. The greeting selects a line at login; its rules then say which
// listing lines to skip, where the name and size stand, how directories are
// told apart, which character quotes the PWD reply and how a subdirectory's
// path is formed.
#include "ftpcore.h"

#include <common/qxcommon.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

namespace {

constexpr size_t kMaxOperand = 63;
// Lines are read in pieces of this many characters, each piece a line.
constexpr size_t kMaxRuleLine = 131;

bool IsBlank(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

// Positions just after "X:" outside double-quoted text, in line order.
std::vector<size_t> RulePositions(const std::string &line, char letter) {
  std::vector<size_t> found;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') {
      quoted = !quoted;
      continue;
    }
    if (!quoted && line[i] == letter && i + 1 < line.size() && line[i + 1] == ':') found.push_back(i + 2);
  }
  return found;
}

// The text between the first double quote at or after `from` and the next
// one (or the end of the line), cut at 63 characters.
std::string Operand(const std::string &line, size_t from) {
  const size_t open = line.find('"', from);
  if (open == std::string::npos) return std::string();
  size_t close = line.find('"', open + 1);
  if (close == std::string::npos) close = line.size();
  std::string text = line.substr(open + 1, close - open - 1);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
  if (text.size() > kMaxOperand) text.resize(kMaxOperand);
  return text;
}

// A decimal number as the C library reads one; `end` receives the position
// after its digits (or `from` when there are none).
long Number(const std::string &line, size_t from, size_t *end = nullptr) {
  size_t i = from;
  while (i < line.size() && IsBlank(line[i])) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  const size_t digits = i;
  long value = 0;
  for (; i < line.size() && isdigit(static_cast<unsigned char>(line[i])); ++i)
    value = std::min(value * 10 + (line[i] - '0'), 1000000L);
  if (end) *end = i > digits ? i : from;
  return negative ? -value : value;
}

char CharAt(const std::string &line, size_t at) { return at < line.size() ? line[at] : 0; }

// Whether the line at column n (counted from 1) starts with the text.
bool ColumnStartsWith(const std::string &line, long n, const std::string &text) {
  const size_t at = n < 1 ? 0 : static_cast<size_t>(n - 1);
  return at <= line.size() && line.compare(at, text.size(), text) == 0;
}

bool FieldStartsWith(const std::string &line, long n, const std::string &text) {
  const std::string field = ListField(line, static_cast<int>(n));
  return !field.empty() && field.compare(0, text.size(), text) == 0;
}

bool EndsWith(const std::string &name, const std::string &text) {
  return name.size() >= text.size() && name.compare(name.size() - text.size(), text.size(), text) == 0;
}

// Columns n..m (F:Cn-m) or the word from column n (F:Cn). The '-' is looked
// for from the selector to the next ',' of the rule line, so a later '-' of
// another rule is not taken for this one's.
std::string ColumnOperand(const std::string &rule, size_t selector, const std::string &line) {
  size_t end;
  const long n = Number(rule, selector + 1, &end);
  const size_t comma = rule.find(',', selector);
  const size_t dash = rule.find('-', end);
  if (dash != std::string::npos && (comma == std::string::npos || dash < comma)) {
    const long m = Number(rule, dash + 1);
    if (m >= n) return ColumnRange(line, static_cast<int>(std::max(0L, n - 1)), static_cast<int>(m - 1));
  }
  return ColumnWord(line, static_cast<int>(std::max(0L, n - 1)));
}

// One I: rule: true when the line is to be dropped.
bool DropTest(const std::string &rule, size_t at, const std::string &line) {
  const char selector = CharAt(rule, at);
  const long n = Number(rule, at + 1);
  const std::string text = Operand(rule, at + 1);
  switch (selector) {
    case 'A': return line.find(text) != std::string::npos;
    case 'a': return line.find(text) == std::string::npos;
    case 'C': return ColumnStartsWith(line, n, text);
    case 'c': return !ColumnStartsWith(line, n, text);
    case 'P': return FieldStartsWith(line, n, text);
    case 'p': return !FieldStartsWith(line, n, text);
    case 'S': return n >= 0 && line.size() > static_cast<size_t>(n);
    case 's': return n > 0 && line.size() < static_cast<size_t>(n);
    default: return false;
  }
}

// A D: or K: test on the name (which E and e may shorten).
bool DirectoryTest(const std::string &rule, size_t at, const std::string &line, std::string *name) {
  const char selector = CharAt(rule, at);
  const long n = Number(rule, at + 1);
  const std::string text = Operand(rule, at + 1);
  switch (selector) {
    case 'E':
      if (name->size() < text.size() || !EndsWith(*name, text)) return false;
      name->resize(name->size() - text.size());
      return true;
    case 'e':
      if (name->size() < text.size()) return false;
      if (!EndsWith(*name, text)) return true;
      name->resize(name->size() - text.size());
      return false;
    case 'P': return FieldStartsWith(line, n, text);
    case 'p': return !FieldStartsWith(line, n, text);
    case 'S': return name->compare(0, text.size(), text) == 0;
    case 's': return name->compare(0, text.size(), text) != 0;
    case 'C': return ColumnStartsWith(line, n, text);
    case 'c': return !ColumnStartsWith(line, n, text);
    default: return false;
  }
}

// A size as text: decimal digits after leading blanks, commas skipped.
uint64_t SizeDigits(const std::string &text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] == ',') continue;
    if (!isdigit(static_cast<unsigned char>(text[i]))) break;
    const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;
    value = value * 10 + digit;
  }
  return value;
}

uint64_t Multiply(uint64_t a, uint64_t b) { return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b; }

// The lines of "ftp.cfg" as read: pieces of at most 131 characters.
std::vector<std::string> RuleFileLines(const std::string &text) {
  std::vector<std::string> lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t lf = text.find('\n', i);
    const size_t end = lf == std::string::npos ? text.size() : lf + 1;
    for (size_t piece = i; piece < end; piece += kMaxRuleLine)
      lines.push_back(text.substr(piece, std::min(kMaxRuleLine, end - piece)));
    i = end;
  }
  return lines;
}

}  // namespace

bool FindRule(const std::string &line, char letter, size_t *at) {
  const std::vector<size_t> found = RulePositions(line, letter);
  if (found.empty()) return false;
  *at = found.front();
  return true;
}

std::string RuleText(const std::string &line, char letter) {
  size_t at;
  return FindRule(line, letter, &at) ? Operand(line, at) : std::string();
}

std::string SelectRuleLine(const std::string &fileText, const std::string &greeting) {
  for (const std::string &raw : RuleFileLines(fileText)) {
    size_t start = 0;
    while (start < raw.size() && IsBlank(raw[start]) && raw[start] != '\r' && raw[start] != '\n') ++start;
    const std::string line = raw.substr(start);
    if (line.empty() || line[0] == '#' || line[0] == '\r' || line[0] == '\n') continue;
    bool pass = true;
    for (size_t at : RulePositions(line, 'H'))
      if (greeting.find(Operand(line, at)) == std::string::npos) pass = false;
    for (size_t at : RulePositions(line, 'h'))
      if (greeting.find(Operand(line, at)) != std::string::npos) pass = false;
    if (!pass) continue;
    // A line that cannot name entries would leave the pane empty: it is
    // not taken, and the later lines are tried.
    size_t at;
    if (!FindRule(line, 'F', &at) && !FindRule(line, 'Z', &at)) continue;
    return line;
  }
  return std::string();
}

std::string SelectHostRule(const std::string &greeting) {
  OFSTRUCT found{};
  if (OpenFile("ftp.cfg", &found, OF_EXIST) == HFILE_ERROR) return std::string();
  HANDLE file = CreateFileA(found.szPathName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char block[4096];
  DWORD got = 0;
  // The file is small by nature; a runaway one is read no further than 1 MB.
  while (text.size() < (1u << 20) && ReadFile(file, block, sizeof block, &got, nullptr) && got > 0)
    text.append(block, got);
  CloseHandle(file);
  return SelectRuleLine(text, greeting);
}

char RuleQuoteCharacter(const std::string &ruleLine) {
  size_t at;
  if (!FindRule(ruleLine, 'W', &at)) return '"';
  const long code = Number(ruleLine, at);
  // Code 0 would search for the end of the string; above 255 is no byte.
  if (code < 1 || code > 255) return '"';
  return static_cast<char>(code);
}

bool RuleUsesNameList(const std::string &ruleLine) {
  size_t at;
  return FindRule(ruleLine, 'Z', &at);
}

std::vector<std::string> RuleAddedDirectories(const std::string &ruleLine) {
  std::vector<std::string> names;
  // An A: without a name (or with a zero byte in it) would add an entry that
  // shows nothing, or not its name, and that no command can name: it is
  // passed over.
  for (size_t at : RulePositions(ruleLine, 'A'))
    if (std::string name = Operand(ruleLine, at); !name.empty() && name.find('\0') == std::string::npos)
      names.push_back(std::move(name));
  return names;
}

bool RuleDropsLine(const std::string &ruleLine, const std::string &line) {
  for (size_t at : RulePositions(ruleLine, 'I'))
    if (DropTest(ruleLine, at, line)) return true;
  return false;
}

size_t RuleSplitColumn(const std::string &ruleLine, const std::string &line) {
  size_t at;
  if (!FindRule(ruleLine, 'B', &at)) return 0;
  const long n = Number(ruleLine, at);
  // B:1 or less would split off the whole line again and again.
  if (n < 2 || line.size() <= static_cast<size_t>(n)) return 0;
  return static_cast<size_t>(n - 1);
}

bool ParseRuleLine(const std::string &ruleLine, const std::string &line, ENTRY_NODE *entry) {
  size_t at;
  if (!FindRule(ruleLine, 'F', &at)) return false;
  const char selector = CharAt(ruleLine, at);
  const long n = Number(ruleLine, at + 1);
  std::string name;
  if (selector == 'C') {
    name = ColumnOperand(ruleLine, at, line);
  } else if (selector == 'D') {
    name = ListField(line, static_cast<int>(n)) + "." + ListField(line, static_cast<int>(n + 1));
  } else {
    name = ListField(line, static_cast<int>(n));
  }
  if (name == "." || name.empty()) return false;
  unsigned flags = 0;
  if (FindRule(ruleLine, 'D', &at) && DirectoryTest(ruleLine, at, line, &name)) flags |= kEntryDirectory;
  if (FindRule(ruleLine, 'K', &at) && DirectoryTest(ruleLine, at, line, &name))
    flags |= kEntryDirectory | kEntryMaybeDirectory;
  if (FindRule(ruleLine, 'L', &at))
    for (char &c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (name.empty()) return false;
  uint64_t size = 0;
  if (FindRule(ruleLine, 'S', &at)) {
    size_t end;
    long x = Number(ruleLine, at, &end);
    uint64_t multiplier = x > 0 ? static_cast<uint64_t>(x) : 1;
    const char c = CharAt(ruleLine, end);
    const long field = Number(ruleLine, end + 1);
    std::string text;
    if (c == 'C') {
      text = ColumnOperand(ruleLine, end, line);
    } else if (c == 'D') {
      multiplier = Multiply(multiplier, SizeDigits(ListField(line, static_cast<int>(field + 1))));
      text = ListField(line, static_cast<int>(field));
    } else {
      text = ListField(line, static_cast<int>(field));
    }
    size = Multiply(SizeDigits(text), multiplier);
  }
  entry->flags = flags;
  entry->size = size;
  entry->name = name;
  return true;
}

std::string RuleSubdirectoryPath(const std::string &ruleLine, const std::string &directory, const std::string &name) {
  size_t at;
  if (!FindRule(ruleLine, 'C', &at)) return std::string();
  const long n = Number(ruleLine, at);
  // The kept end is never longer than the path itself.
  const size_t keep = std::min(directory.size(), static_cast<size_t>(std::max(0L, n)));
  const std::string head = directory.substr(0, directory.size() - keep);
  return head + Operand(ruleLine, at) + name + directory.substr(directory.size() - keep);
}
