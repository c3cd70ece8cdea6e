/* Formatting of the finger daemon's report: see report.h. */
#include "report.h"

#include <cstdio>

namespace {

struct ProcessorName {
  unsigned long type;
  const char *name;
};

const ProcessorName kProcessors[] = {
    {386, "Intel 386"},    {486, "Intel 486"},    {586, "Intel Pentium"}, {860, "Intel 860"},
    {2000, "MIPS R2000"},  {3000, "MIPS R3000"},  {4000, "MIPS R4000"},   {21064, "Alpha 21064"},
    {601, "Power PC-601"}, {603, "Power PC-603"}, {604, "Power PC-604"},  {620, "Power PC-620"},
};

const char *const kKeyboards[] = {"Unknown",      "PC/XT compatible", "Olivetti ICO", "PC/AT-84",
                                  "Enhanced-101", "Nokia 1050",       "Nokia 9140",   "Japanese"};

}  // namespace

std::string FingerSizeText(uint64_t bytes) {
  char text[48];
  if (bytes < 10000)
    snprintf(text, sizeof text, "%llu byte", (unsigned long long)bytes);
  else if (bytes < 10240000)
    snprintf(text, sizeof text, "%llu Kbyte", (unsigned long long)(bytes / 1024));
  else
    snprintf(text, sizeof text, "%llu Mbyte", (unsigned long long)(bytes / 1048576));
  return text;
}

std::string FingerUptimeLine(uint64_t ms) {
  uint64_t hours = ms / 3600000;
  const uint64_t minutes = (ms / 1000 % 3600) / 60;
  const uint64_t seconds = ms / 1000 % 60;
  const uint64_t millis = ms % 1000;
  uint64_t days = 0;
  if (hours > 23) {
    days = hours / 24;
    hours %= 24;
  }
  char text[96];
  snprintf(text, sizeof text, "Windows UpTime is %llu %02llu:%02llu:%02llu.%llu\r\n", (unsigned long long)days,
           (unsigned long long)hours, (unsigned long long)minutes, (unsigned long long)seconds,
           (unsigned long long)millis);
  return text;
}

const char *FingerProcessorName(unsigned long type) {
  for (const ProcessorName &p : kProcessors)
    if (p.type == type) return p.name;
  return "Unknown Processor";
}

const char *FingerKeyboardName(int type) { return kKeyboards[type < 0 || type > 7 ? 0 : type]; }

bool FingerWantsPlan(const char *query, int length) { return length >= 2 && query[0] == '/' && query[1] == 'W'; }
