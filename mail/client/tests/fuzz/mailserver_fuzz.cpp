// Fuzz target of what a mail server sends the client: SMTP replies (multi-line,
// Telnet commands inside), and a message as POP delivers it, read line by line
// through the shared line buffer with its header scanned into a summary (the
// encoded words, names and dates in it decoded). The connection is a stand-in
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

#include "headers.h"
#include "mailio.h"

namespace {

constexpr SocketHandle kServer = 5;

class FuzzTransport : public MailTransport {
 public:
  void Reset(std::string_view bytes, size_t piece) {
    bytes_ = bytes;
    at_ = 0;
    piece_ = piece;
  }
  bool Drained() const { return at_ >= bytes_.size(); }
  int Recv(SocketHandle, char *buffer, int length) override {
    const size_t n = std::min({bytes_.size() - at_, static_cast<size_t>(std::max(length, 0)), piece_});
    if (n) memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return static_cast<int>(n);
  }
  int Send(SocketHandle, const char *, int length) override { return length; }
  int LastError() override { return 0; }
  int CloseSocket(SocketHandle) override { return 0; }
  bool PumpMessages() override { return true; }
  void WaitForWork(SocketHandle, bool) override {}

 private:
  std::string_view bytes_;
  size_t at_ = 0;
  size_t piece_ = 1;
};

FuzzTransport g_transport;

void FuzzSmtp(int verbose) {
  for (int replies = 0; replies < 1000 && !g_transport.Drained(); ++replies) {
    const int code = ReadSmtpReply(false, kServer, verbose);
    if (code < 0 || code > 999) abort();  // three digits at most
    if (MailIo().replyText.size() > 131) abort();
    if (code == 421) break;
  }
}

void FuzzPop(bool copyHeader) {
  FILE *copy = copyHeader ? fopen("/dev/null", "wb") : nullptr;
  HEADER_SUMMARY summary;
  ScanHeader(summary, MAIL_SOURCE::Socket(kServer), copy);
  if (copy) fclose(copy);
  // The body, as retrieval stores it: every line, in pieces of the buffer.
  char line[kLineReadSize + 1];
  int length = 0;
  for (int lines = 0; lines < 100000 && ReadLine(line, sizeof line, MAIL_SOURCE::Socket(kServer), &length); ++lines)
    if (length < 0 || length > kLineReadSize) abort();
  if (summary.from) ExtractDisplayName(*summary.from);
  FreeHeaderSummary(summary);
  CloseSource(MAIL_SOURCE::Socket(kServer));
}

}  // namespace

// The scanner opens files through the layer's fopen; here only /dev/null.
extern "C" FILE *qxcrt_fopen(const char *path, const char *mode) { return fopen(path, mode); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  const std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
  g_transport.Reset(rest, (control >> 3) == 31 ? 4096 : 1u + (control >> 3) * 7);
  SetMailTransport(&g_transport);
  ResetMailIo();
  if (control & 1)
    FuzzPop(control & 2);
  else
    FuzzSmtp((control & 2) ? 1 : 0);
  const std::string text(rest.substr(0, 1024));
  DecodeEncodedWords(text);
  ExtractDisplayName(text);
  ParseMailDate(text);
  return 0;
}
