// Whole-entry editing of separated lists and multi-strings (see lists.h).
#include "lists.h"

#include <algorithm>
#include <cctype>

namespace installkit {
namespace {

std::string_view WithoutTrailingBackslash(std::string_view s) {
  if (s.size() > 1 && s.back() == '\\') s.remove_suffix(1);
  return s;
}

}  // namespace

bool SameEntry(std::string_view a, std::string_view b) {
  a = WithoutTrailingBackslash(a);
  b = WithoutTrailingBackslash(b);
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

std::vector<std::string> SplitList(std::string_view value, char separator) {
  std::vector<std::string> entries;
  if (value.empty()) return entries;
  size_t start = 0;
  for (;;) {
    const size_t end = value.find(separator, start);
    entries.emplace_back(value.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return entries;
}

std::string JoinList(const std::vector<std::string> &entries, char separator) {
  std::string value;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i) value += separator;
    value += entries[i];
  }
  return value;
}

bool HasListEntry(std::string_view value, std::string_view entry, char separator) {
  const auto entries = SplitList(value, separator);
  return std::any_of(entries.begin(), entries.end(), [&](const std::string &e) { return SameEntry(e, entry); });
}

bool RemoveListEntry(std::string &value, std::string_view entry, char separator) {
  auto entries = SplitList(value, separator);
  const size_t before = entries.size();
  std::erase_if(entries, [&](const std::string &e) { return SameEntry(e, entry); });
  if (entries.size() == before) return false;
  value = JoinList(entries, separator);
  return true;
}

bool PutListEntryFirst(std::string &value, std::string_view entry, char separator) {
  auto entries = SplitList(value, separator);
  if (!entries.empty() && SameEntry(entries.front(), entry)) return false;
  std::erase_if(entries, [&](const std::string &e) { return SameEntry(e, entry); });
  entries.insert(entries.begin(), std::string(entry));
  value = JoinList(entries, separator);
  return true;
}

bool AppendListEntry(std::string &value, std::string_view entry, char separator) {
  if (HasListEntry(value, entry, separator)) return false;
  if (!value.empty()) value += separator;
  value += entry;
  return true;
}

std::vector<std::string> SplitMultiString(std::string_view bytes) {
  std::vector<std::string> strings;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find('\0', at);
    if (end == std::string_view::npos) end = bytes.size();
    if (end == at) break;  // the empty string that ends the list
    strings.emplace_back(bytes.substr(at, end - at));
    at = end + 1;
  }
  return strings;
}

std::string JoinMultiString(const std::vector<std::string> &strings) {
  std::string bytes;
  for (const auto &s : strings) {
    bytes += s;
    bytes += '\0';
  }
  bytes += '\0';
  return bytes;
}

}  // namespace installkit
