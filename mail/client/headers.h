// Header scanner and line reader of the mail client: reads RFC 822 headers from
// a message file or a POP connection into a HEADER_SUMMARY, through LINE_BUFFER.
#ifndef QX_MAIL_HEADERS_H
#define QX_MAIL_HEADERS_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "encoded_words.h"
#include "mailio.h"

// What the scanner extracts from one message. Every text is present or not.
struct HEADER_SUMMARY {
  uintptr_t firstWord = 0;  // the caller's own word; the scanner leaves it alone
  std::optional<std::string> displayName;
  std::optional<std::string> resentReplyTo;
  std::optional<std::string> replyTo;
  std::optional<std::string> resentFrom;
  std::optional<std::string> from;
  std::optional<std::string> resentSender;
  std::optional<std::string> sender;
  std::optional<std::string> subject;
  std::optional<std::string> to;
  std::optional<std::string> cc;
  std::optional<std::string> messageId;
  int32_t date = 0;   // seconds since 1970 UTC; 0 without a Date field; -1 out of range
  uint8_t flags = 0;  // bit 1: the header has a MIME-Version field
};

constexpr uint8_t kSummaryMime = 0x02;

// The process's one receive area for message files and POP connections.
// POP retrieval fills up to 2049 bytes and a NUL, and a given-back end-of-message
// line may need two bytes more than one receive brought: the area has room for all.
constexpr int kLineReadSize = 2048;
struct LINE_BUFFER {
  char area[kLineReadSize + 4] = {};
  int count = 0;     // unread bytes
  int position = 0;  // read position
};
LINE_BUFFER &GetLineBuffer();

// Where lines come from: an open message file, or a socket read with RecvPumping.
struct MAIL_SOURCE {
  FILE *file = nullptr;
  SocketHandle socket = 0;
  bool isSocket = false;
  static MAIL_SOURCE File(FILE *f) { return MAIL_SOURCE{f, 0, false}; }
  static MAIL_SOURCE Socket(SocketHandle s) { return MAIL_SOURCE{nullptr, s, true}; }
};

// One line with its line feed into buffer (size bytes, NUL added), a piece of
// size - 1 bytes of a longer line, or nullptr at the end of input (for a file,
// also a last read of the one byte Ctrl-Z; a connection ends only when it
// closes). A last line without a line feed is returned as it is, so nothing of
// a message is lost.
// A line may hold NUL bytes: length (when given) receives the bytes read.
char *ReadLine(char *buffer, int size, MAIL_SOURCE source, int *length = nullptr);

// Reads header lines into summary, copying each to copy byte for byte (NUL
// bytes included) when given. Returns the bytes of header lines read (the POP
// end-of-message line not counted), or -1 when writing to copy failed.
long ScanHeader(HEADER_SUMMARY &summary, MAIL_SOURCE source, FILE *copy);

// Scans "<folder>/m<number>.msg": 0, or -1 when it cannot be opened.
int ReadMessageHeader(const std::string &folder, uint32_t number, HEADER_SUMMARY &summary);
void FreeHeaderSummary(HEADER_SUMMARY &summary);
// Closes the file or socket and discards unread bytes of the shared buffer.
void CloseSource(MAIL_SOURCE source);

// The display name of a From value: quotes dropped, encoded words decoded.
std::optional<std::string> ExtractDisplayName(const std::string &text);
// The Date field's value as seconds since 1970 UTC, or -1 when out of range.
int32_t ParseMailDate(const std::string &value);

#endif
