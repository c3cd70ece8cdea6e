/* The LPD daemon's queue prefixes, counts, conversion and reader. */
#include "lpdrules.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

namespace {

struct PrefixRule {
  const char *prefix;
  bool convertLf, formFeed;
};
/* Tried in this order; the first that begins the queue name wins. */
const PrefixRule kPrefixes[] = {
    {"DOS-", false, false}, {"D-", false, false}, {"DOSFF-", false, true}, {"DF-", false, true},
    {"UNIX-", true, false}, {"U-", true, false},  {"UNIXFF-", true, true}, {"UF-", true, true},
    {"DOS_", false, false}, {"D_", false, false}, {"DOSFF_", false, true}, {"DF_", false, true},
    {"UNIX_", true, false}, {"U_", true, false},  {"UNIXFF_", true, true}, {"UF_", true, true},
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

}  // namespace

LpdQueue LpdParseQueue(const std::string &queueName) {
  LpdQueue queue;
  for (const PrefixRule &rule : kPrefixes) {
    const size_t n = strlen(rule.prefix);
    if (queueName.size() >= n && strncasecmp(queueName.c_str(), rule.prefix, n) == 0) {
      queue.printer = queueName.substr(n);
      queue.convertLf = rule.convertLf;
      queue.formFeed = rule.formFeed;
      return queue;
    }
  }
  queue.printer = queueName;
  return queue;
}

bool LpdParseFileLine(const std::string &text, uint64_t *count, std::string *name) {
  size_t i = 0;
  uint64_t value = 0;
  const size_t digitsAt = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (uint64_t)(text[i] - '0');
    if (value > LPD_MAX_FILE_BYTES) return false;
    i++;
  }
  if (i == digitsAt || i == text.size() || !IsSpace(text[i])) return false;
  while (i < text.size() && IsSpace(text[i])) i++;
  size_t nameEnd = text.size();
  while (nameEnd > i && IsSpace(text[nameEnd - 1])) nameEnd--;
  if (nameEnd == i) return false;
  *count = value;
  *name = text.substr(i, nameEnd - i);
  return true;
}

std::string LpdQueueState(int jobs) {
  char line[128];
  snprintf(line, sizeof line,
           jobs == 1 ? "There is currently %d job enqueued to the print manager\n"
                     : "There are currently %d jobs enqueued to the print manager\n",
           jobs);
  return std::string("   Job Id      Username      File Size\n========================================\n") + line;
}

std::string LpdConvertLf(const char *data, size_t length) {
  std::string out;
  out.reserve(length * 2);
  for (size_t i = 0; i < length; i++) {
    if (data[i] == '\n') out += '\r';
    out += data[i];
  }
  return out;
}

LpdReader::LineResult LpdReader::ReadLine(std::string *line) {
  line->clear();
  for (;;) {
    if (start_ == end_) {
      start_ = end_ = 0;
      const int got = receive_(buffer_, (int)sizeof buffer_);
      if (got < 1) return LINE_END;
      end_ = got;
    }
    const char *from = buffer_ + start_;
    const char *lf = (const char *)memchr(from, '\n', (size_t)(end_ - start_));
    const size_t take = lf ? (size_t)(lf - from) : (size_t)(end_ - start_);
    if (line->size() + take > LPD_LINE_MAX) return LINE_TOO_LONG;
    line->append(from, take);
    start_ += (int)take;
    if (lf) {
      start_++; /* the LF; what follows stays for the next read */
      return LINE_OK;
    }
  }
}

int LpdReader::ReadData(char *buffer, int wanted) {
  if (wanted <= 0) return 0;
  if (start_ < end_) {
    const int take = wanted < end_ - start_ ? wanted : end_ - start_;
    memcpy(buffer, buffer_ + start_, (size_t)take);
    start_ += take;
    return take;
  }
  return receive_(buffer, wanted);
}
