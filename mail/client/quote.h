// Reply quoting: a stored message appended to the compose work file, as a
// reply (an attribution line from the ReplyString template, every line after
// the IndentString prefix) or as a forward (copied as it is shown). Also the
// template language of ReplyString.
#ifndef QX_MAIL_QUOTE_H
#define QX_MAIL_QUOTE_H

#include <cstdint>
#include <string>

#include "headers.h"

// The expansion of a ReplyString template for a message, cut at kTemplateLimit.
// Tags <Message-ID>, <Date>, <Author>, <From>, <Subject> and <To> (any case)
// give the field (nothing when absent); <?Field>...<?Else>...<?End> keeps the
// first branch when the field is present, else the second; other text between
// "<" and ">" stays as it is.
std::string ExpandTemplate(const std::string &templateText, const HEADER_SUMMARY &summary);
constexpr size_t kTemplateLimit = 1023;

// Where a conditional's branch lies. text starts right after the
// conditional's tag; the branch is [begin, end); next is where the text after
// the conditional's "<?End>" starts, npos when it has none.
struct TEMPLATE_BRANCH {
  size_t begin = 0, end = 0, next = 0;
};
TEMPLATE_BRANCH FindBranch(bool condition, const std::string &text);

// "<Date>": the message's Date as local time, "Tue Mar 07 14:05:09 1995".
std::string TemplateDate(int32_t date);

// Appends message number of folder to the work file: with asReply the
// attribution line and the indent prefix ("\t" in IndentString is a tab);
// without withHeaders the header is left out. Lines are decoded as shown
// (non-text parts as their description lines) and mapped through the 8-bit
// character map. False when the work file or the message cannot be opened or
// written.
bool QuoteMessage(const std::string &folder, uint32_t number, bool asReply, bool withHeaders,
                  const std::string &workFile);

#endif
