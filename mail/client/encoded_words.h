// RFC 2047 encoded words: shared by the header scanner and the MIME library.
#ifndef QX_MAIL_ENCODED_WORDS_H
#define QX_MAIL_ENCODED_WORDS_H

#include <string>

// RFC 2047 encoded words decoded (Q and B); the character set is not converted.
std::string DecodeEncodedWords(const std::string &text);

#endif
