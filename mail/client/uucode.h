// The uuencode format of files sent inside the message text: lines of a
// length character and groups of four characters for three bytes each, a
// 6-bit value v written as v + 32 (0 as the grave accent).
#ifndef QX_MAIL_UUCODE_H
#define QX_MAIL_UUCODE_H

#include <cstdio>
#include <string>

// Writes the encoded lines of in (read to its end, 45 bytes a line) to out,
// each ended by "\n", ending with the line of length 0. False on a read or
// write error.
bool UuencodeFile(FILE *in, FILE *out);
// Decodes lines from in (after the "begin" line) to out up to the line of
// length 0: 0 at that line, -1 when the lines ran out first or writing failed.
int UudecodeFile(FILE *in, FILE *out);

#endif
