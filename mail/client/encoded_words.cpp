// RFC 2047 encoded words ("=?charset?B?...?=" and "=?charset?Q?...?="), as the
// header scanner and the MIME library read them.
#include "encoded_words.h"

#include <cctype>
#include <string_view>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::string DecodeQ(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '_') {
      out += ' ';
      continue;
    }
    if (c == '=' && i + 1 < text.size() && (text[i + 1] == '=' || text[i + 1] == '?')) {
      out += text[++i];
      continue;
    }
    if (c == '=' && i + 2 < text.size()) {
      int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += c;  // any other '=' stands for itself
  }
  return out;
}

std::string DecodeB(std::string_view text) {
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    int v = Base64Value(c);
    if (v < 0) continue;  // padding and stray characters
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

// An encoded word at text[at] ("=?charset?E?data?="): its decoded bytes and the
// offset after it, or false when the text there is not a complete word.
bool DecodeOneWord(const std::string &text, size_t at, std::string &decoded, size_t &next) {
  size_t q1 = text.find('?', at + 2);
  if (q1 == std::string::npos || q1 + 2 >= text.size() || text[q1 + 2] != '?') return false;
  char encoding = static_cast<char>(std::toupper(static_cast<unsigned char>(text[q1 + 1])));
  size_t dataStart = q1 + 3;
  size_t end = text.find("?=", dataStart);
  if (end == std::string::npos) end = text.size();  // unterminated: runs to the end
  std::string_view data(text.data() + dataStart, end - dataStart);
  decoded = encoding == 'B' ? DecodeB(data) : DecodeQ(data);
  next = end == text.size() ? end : end + 2;
  return true;
}

}  // namespace

std::string DecodeEncodedWords(const std::string &text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '=' && i + 1 < text.size() && text[i + 1] == '?') {
      std::string decoded;
      size_t next;
      if (DecodeOneWord(text, i, decoded, next)) {
        out += decoded;
        // White space between two adjacent encoded words is not part of the text.
        size_t j = next;
        while (j < text.size() && IsSpace(text[j])) ++j;
        i = (j + 1 < text.size() && text[j] == '=' && text[j + 1] == '?') ? j : next;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}
