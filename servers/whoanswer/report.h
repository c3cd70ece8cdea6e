/* The pieces of the finger daemon's machine report that are pure formatting:
 * sizes, uptime, processor names. whoanswer.cpp gathers the figures. */
#ifndef QX_SERVERS_WHOANSWER_REPORT_H
#define QX_SERVERS_WHOANSWER_REPORT_H

#include <cstdint>
#include <string>

/* "%llu byte" below 10,000 bytes, "%llu Kbyte" below 10,240,000, else "%llu Mbyte". */
std::string FingerSizeText(uint64_t bytes);
/* "Windows UpTime is D HH:MM:SS.mmm\r\n" from milliseconds (64-bit: no wrap). */
std::string FingerUptimeLine(uint64_t ms);
/* The processor's name by its type number; "Unknown Processor" for others. */
const char *FingerProcessorName(unsigned long type);
/* The keyboard's name by type; a type above 7 counts as 0 ("Unknown"). */
const char *FingerKeyboardName(int type);
/* Whether a query asks for the project and plan: it begins with "/W" exactly. */
bool FingerWantsPlan(const char *query, int length);

#endif
