/* Quote selection over the bytes of the quote file, bounded by the file's
 * size and the 1,200-byte quote buffer. */
#include "quote.h"

#include <cstdlib>
#include <cstring>

unsigned long QuotePosition(unsigned long fileSize, int r1, int r2) {
  /* 64-bit arithmetic: the product of a 15-bit number and the block count
   * must not overflow for large files. */
  long long hi = (long long)(fileSize >> 14);
  long long p = ((long long)r1 * hi / 32767) * 16384 + ((long long)r2 * 16384 / 32767);
  if (fileSize <= QUOTE_FILE_SLACK) return 0; /* a small file has no room for the slack: start at its beginning */
  return (unsigned long)((unsigned long long)p % (fileSize - QUOTE_FILE_SLACK));
}

namespace {

/* One line as fgets with 255 bytes reads it: up to 254 characters or through the newline. */
struct LineReader {
  const std::string &file;
  size_t at;
  bool Next(std::string *line) {
    if (at >= file.size()) return false;
    size_t end = at;
    while (end < file.size() && end - at < QUOTE_LINE_CHARS) {
      if (file[end++] == '\n') break;
    }
    line->assign(file, at, end - at);
    at = end;
    return true;
  }
};

/* Splits "N%text" into its number and text; false without a per cent sign. */
bool SplitLine(const std::string &line, long *number, std::string *text) {
  size_t percent = line.find('%');
  if (percent == std::string::npos) return false;
  *number = strtol(line.substr(0, percent).c_str(), nullptr, 10);
  text->assign(line, percent + 1, std::string::npos);
  return true;
}

void Append(std::string *quote, const std::string &text) {
  size_t room = QUOTE_MAX_BYTES - quote->size();
  quote->append(text, 0, text.size() < room ? text.size() : room);
}

/* Collects the quote whose first line is at the reader's position. */
bool CollectFrom(LineReader &reader, long *firstNumber, std::string *quote) {
  std::string line, text;
  if (!reader.Next(&line)) return false;
  if (!SplitLine(line, firstNumber, &text)) return false;
  quote->clear();
  Append(quote, text);
  while (reader.Next(&line)) {
    long number;
    if (!SplitLine(line, &number, &text)) return false;
    if (number != *firstNumber) break;
    Append(quote, text); /* the end of the file ends a quote normally */
  }
  return true;
}

}  // namespace

bool PickQuote(const std::string &file, unsigned long position, std::string *quote) {
  if (position > file.size()) position = 0;
  LineReader reader{file, position};
  std::string line, text;
  long n, m;
  reader.Next(&line); /* may be cut by the random position: thrown away */
  if (reader.Next(&line)) {
    if (!SplitLine(line, &n, &text)) return false;
    /* Skip the rest of quote N; the first different number starts the quote. */
    while (reader.Next(&line)) {
      if (!SplitLine(line, &m, &text)) return false;
      if (m != n) {
        reader.at -= line.size();
        return CollectFrom(reader, &m, quote);
      }
    }
  }
  /* Ran off the end: the quote after the last one is the file's first. */
  LineReader fromStart{file, 0};
  return CollectFrom(fromStart, &m, quote);
}
