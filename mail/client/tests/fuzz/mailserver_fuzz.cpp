// Fuzz target of what a mail server sends the client: SMTP replies (multi-line,
// Telnet commands inside), and a message as POP delivers it, read line by line
// through the shared line buffer with its header scanned into a summary (the
// encoded words, names and dates in it decoded), which must come out the same
// whatever pieces the bytes arrive in. The connection is a stand-in
// transport that hands out the input's bytes in pieces of the input's choosing.
//
// Input: byte 0 picks SMTP or POP, verbose or not, and the piece size; the rest
// is what the server sends.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "../chunk_transport.h"
#include "headers.h"
#include "mailio.h"

namespace {

constexpr SocketHandle kServer = 5;

mailtest::ChunkTransport g_transport;

void FuzzSmtp(int verbose) {
  for (int replies = 0; replies < 1000 && !g_transport.Drained(); ++replies) {
    const int code = ReadSmtpReply(false, kServer, verbose);
    if (code < 0 || code > 999) abort();  // three digits at most
    if (MailIo().replyText.size() > 131) abort();
    if (code == 421) break;
  }
}

// The summary the scanner makes of a header read from the connection, and the
// header bytes it counted, as one string.
std::string ScanFromConnection(bool copyHeader) {
  FILE *copy = copyHeader ? fopen("/dev/null", "wb") : nullptr;
  HEADER_SUMMARY summary;
  const long headerBytes = ScanHeader(summary, MAIL_SOURCE::Socket(kServer), copy);
  if (copy) fclose(copy);
  std::string kept =
      std::to_string(headerBytes) + "|" + std::to_string(summary.date) + "|" + std::to_string(summary.flags) + "|";
  for (const auto *field : {&summary.displayName, &summary.from, &summary.replyTo, &summary.subject, &summary.to,
                            &summary.cc, &summary.messageId, &summary.sender, &summary.resentFrom})
    kept += (*field ? **field : std::string("-")) + "|";
  if (summary.from) ExtractDisplayName(*summary.from);
  CloseSource(MAIL_SOURCE::Socket(kServer));
  return kept;
}

// Every line the line reader gives, in pieces of its buffer, as the status
// lines of a POP session are read; together they are every byte sent.
std::string LinesFromConnection(std::string_view sent) {
  std::string kept, all;
  char line[kLineReadSize + 1];
  int length = 0;
  for (int lines = 0; lines < 100000 && ReadLine(line, sizeof line, MAIL_SOURCE::Socket(kServer), &length); ++lines) {
    if (length < 1 || length > kLineReadSize) abort();
    kept.append(line, static_cast<size_t>(length)).push_back('|');
    all.append(line, static_cast<size_t>(length));
  }
  CloseSource(MAIL_SOURCE::Socket(kServer));
  if (all != sent) abort();  // nothing is lost or added
  return kept;
}

// However the server's bytes are split into receives, the header's summary
// and the lines read are the same.
void FuzzPop(std::string_view bytes, size_t piece, bool copyHeader) {
  std::string summary, lines;
  for (const size_t size : {piece, static_cast<size_t>(4096)}) {
    g_transport.Reset(bytes, size);
    ResetMailIo();
    const std::string scanned = ScanFromConnection(copyHeader);
    g_transport.Reset(bytes, size);
    const std::string read = LinesFromConnection(bytes);
    if (size == piece) {
      summary = scanned;
      lines = read;
    } else if (scanned != summary || read != lines) {
      abort();
    }
  }
}

}  // namespace

// The scanner opens files through the layer's fopen; here only /dev/null.
extern "C" FILE *qxcrt_fopen(const char *path, const char *mode) { return fopen(path, mode); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  const std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
  const size_t piece = (control >> 3) == 31 ? 4096 : 1u + (control >> 3) * 7;
  g_transport.Reset(rest, piece);
  SetMailTransport(&g_transport);
  ResetMailIo();
  if (control & 1)
    FuzzPop(rest, piece, control & 2);
  else
    FuzzSmtp((control & 2) ? 1 : 0);
  const std::string text(rest.substr(0, 1024));
  DecodeEncodedWords(text);
  ExtractDisplayName(text);
  ParseMailDate(text);
  return 0;
}
