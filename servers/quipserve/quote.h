/* Picking one quote out of the quote file "COOKIE.JAR" (lines "N%text";
 * consecutive lines with one number make one quote). */
#ifndef QX_SERVERS_QUOTE_H
#define QX_SERVERS_QUOTE_H

#include <cstddef>
#include <string>

#define QUOTE_MAX_BYTES 1200 /* the longest quote sent; longer ones are cut */
#define QUOTE_LINE_CHARS 254 /* characters read per line, as fgets(255) reads them */
#define QUOTE_FILE_SLACK 440 /* the random position falls in the first size - 440 bytes */

/* The random position for two 15-bit random numbers r1 and r2 (0-32767). */
unsigned long QuotePosition(unsigned long fileSize, int r1, int r2);

/* The quote after the one that the line at or after position starts; false
 * when a line without a per cent sign is met. */
bool PickQuote(const std::string &file, unsigned long position, std::string *quote);

#endif
