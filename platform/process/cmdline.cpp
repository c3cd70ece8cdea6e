// Windows command-line splitting and quoting (see cmdline.h).
#include "cmdline.h"

namespace qx {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

size_t ProgramWordEnd(std::string_view line, std::string *word) {
  size_t i = 0;
  if (!line.empty() && line[0] == '"') {
    ++i;
    while (i < line.size() && line[i] != '"') {
      if (word) word->push_back(line[i]);
      ++i;
    }
    if (i < line.size()) ++i;  // the closing quote
    return i;
  }
  while (i < line.size() && !IsBlank(line[i])) {
    if (word) word->push_back(line[i]);
    ++i;
  }
  return i;
}

}  // namespace

std::string ProgramWord(std::string_view line) {
  std::string word;
  ProgramWordEnd(line, &word);
  return word;
}

size_t ArgumentsOffset(std::string_view line) {
  size_t i = 0;
  if (!line.empty() && line[0] == '"') {
    i = 1;
    while (i < line.size() && line[i] != '"') ++i;
    if (i < line.size()) ++i;
  } else {
    while (i < line.size() && static_cast<unsigned char>(line[i]) > ' ') ++i;
  }
  while (i < line.size() && static_cast<unsigned char>(line[i]) <= ' ' && line[i] != '\0') ++i;
  return i;
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  std::string program;
  size_t i = ProgramWordEnd(line, &program);
  words.push_back(program);
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::string word;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      if (line[i] == '\\') {
        size_t n = 0;
        while (i < line.size() && line[i] == '\\') {
          ++n;
          ++i;
        }
        if (i < line.size() && line[i] == '"') {
          word.append(n / 2, '\\');
          if (n % 2) {
            word.push_back('"');
            ++i;
          }
          // an even count leaves the quote to be handled below
        } else {
          word.append(n, '\\');
        }
        continue;
      }
      if (line[i] == '"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          word.push_back('"');  // "" inside quotes is a literal quote
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      word.push_back(line[i]);
      ++i;
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::string QuoteArgument(std::string_view word) {
  if (!word.empty() && word.find_first_of(" \t\"") == std::string_view::npos) return std::string(word);
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, '\\');  // they come before the closing quote
  out.push_back('"');
  return out;
}

std::string JoinCommandLine(const std::vector<std::string> &words) {
  std::string line;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i) line.push_back(' ');
    if (i == 0) {
      // A program word cannot hold a quote; blanks are protected by quotes.
      const bool needs = words[0].empty() || words[0].find_first_of(" \t") != std::string::npos;
      line += needs ? "\"" + words[0] + "\"" : words[0];
    } else {
      line += QuoteArgument(words[i]);
    }
  }
  return line;
}

}  // namespace qx
