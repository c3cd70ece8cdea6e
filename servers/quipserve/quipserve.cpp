/* quipserve: the quote-of-the-day daemon (UDP 17). Started by portwarden on
 * the first datagram, it answers each datagram with a random quote from
 * "COOKIE.JAR" until it has been idle for 15 seconds. */
#include <qxcommon.h>
#include <qxdaemon.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "quote.h"

namespace {

const char kNoCookieJar[] = "Sorry, I can't find the cookie jar!\n";
const long kMaxQuoteFile = 64L * 1024 * 1024; /* a bigger file is read only this far */

int Random15() { return rand() & 0x7FFF; } /* the position formula takes 15-bit numbers */

bool SendText(const std::string &text, const sockaddr_in &to) {
  int sent = WsSendTo(g_DaemonSocket, text.data(), (int)text.size(), 0, (const sockaddr *)&to, sizeof to);
  return sent == (int)text.size();
}

bool ReadQuoteFile(const char *path, std::string *content) {
  OFSTRUCT of{};
  HFILE file = OpenFile(path, &of, OF_READ);
  if (file == HFILE_ERROR) return false;
  LONG size = _llseek(file, 0, 2);
  _llseek(file, 0, 0);
  if (size < 0) size = 0;
  if (size > kMaxQuoteFile) size = kMaxQuoteFile;
  content->resize((size_t)size);
  UINT got = size ? _lread(file, content->data(), (UINT)size) : 0;
  _lclose(file);
  if (got == (UINT)HFILE_ERROR) got = 0;
  content->resize(got);
  return true;
}

BOOL SendQuote(HWND window) {
  char request[256];
  sockaddr_in from{};
  int got = DatagramReceive(window, request, 255, &from);
  if (got < 0 && WSAGetLastError() != WSAEMSGSIZE)
    return WSAGetLastError() == WSAEWOULDBLOCK; /* nothing waiting: keep going */

  std::string content;
  if (!ReadQuoteFile("COOKIE.JAR", &content)) return SendText(kNoCookieJar, from);
  unsigned long position = QuotePosition((unsigned long)content.size(), Random15(), Random15());
  std::string quote;
  if (!PickQuote(content, position, &quote)) return FALSE;
  return SendText(quote, from);
}

const DAEMON_INFO kQuipserve = {"quipserve", DatagramWndProc, TRUE, FALSE};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  srand((unsigned)time(nullptr));
  g_DatagramAnswer = SendQuote;
  return DaemonWinMain(&kQuipserve, instance, previous, commandLine, show);
}
