// SMTP sending: HELO, MAIL FROM, RCPT TO for each SMTP recipient, DATA with
// the header block and the body file, QUIT; the sent copy holds exactly what
// the server accepted (without the dot-stuffing) and goes to the "sent"
// folder once the server took the message.
#include "smtp.h"

#include <array>
#include <cctype>
#include <cstring>
#include <ctime>

#include "mailnet.h"
#include "mailstore.h"

// Last, so that the layer's C runtime names (fopen) are not undone by <cstdio>.
#include <windows.h>
#include <winsock.h>

int g_ZoneOffsetMinutes = INT32_MIN;  // unset: the system's offset
std::string g_LocalHostName;
void (*g_OpenSmtpProgress)(bool verbose) = nullptr;

namespace {

SEND_HEADER g_sendHeader;
FILE *g_sentCopy = nullptr;  // header lines and body as sent, when SaveSent is on
bool g_sentCopyFailed = false;

constexpr std::array<const char *, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

void CopyOut(const std::string &text) {
  if (g_sentCopy && std::fwrite(text.data(), 1, text.size(), g_sentCopy) != text.size()) g_sentCopyFailed = true;
}

// To the server (buffered) and to the sent copy.
void SendAndCopy(SocketHandle s, const std::string &text) {
  SendBuffered(s, text.data(), static_cast<int>(text.size()));
  CopyOut(text);
}

void WriteHeaderLine(SocketHandle s, const std::optional<std::string> &value, const char *label) {
  if (!value || value->empty()) return;
  std::string line = EncodeHeaderWord(label, *value);
  MapOutgoing(line);
  for (const std::string &piece : FoldHeaderLine(line)) SendAndCopy(s, piece);
}

int Zone() {
  if (g_ZoneOffsetMinutes != INT32_MIN) return g_ZoneOffsetMinutes;
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<int>(local.tm_gmtoff / 60);
}

bool IsQSafe(unsigned char c) { return std::isalnum(c) || std::strchr("!*+-/", c) != nullptr; }

// One run of 8-bit words as encoded words of at most 75 characters each.
std::string EncodeRun(const std::string &run) {
  static const char kHex[] = "0123456789ABCDEF";
  const std::string open = "=?iso-8859-1?Q?", close = "?=";
  std::string out, word;
  auto finish = [&]() {
    if (word.empty()) return;
    if (!out.empty()) out += ' ';
    out += open + word + close;
    word.clear();
  };
  for (unsigned char c : run) {
    std::string piece;
    if (c == ' ')
      piece = "_";
    else if (IsQSafe(c))
      piece = std::string(1, static_cast<char>(c));
    else
      piece = {'=', kHex[c >> 4], kHex[c & 15]};
    if (open.size() + word.size() + piece.size() + close.size() > 75) finish();
    word += piece;
  }
  finish();
  return out;
}

bool HasEightBit(const std::string &text) {
  for (unsigned char c : text)
    if (c & 0x80) return true;
  return false;
}

class SmtpSession {
 public:
  SmtpSession(const std::string &ownAddress, int verbose, const SMTP_OPTIONS &options)
      : own_(ownAddress), verbose_(verbose), options_(options) {}
  int Open(const char *host, const char *bodyPath);
  int Recipient(const std::string &address);
  int Send(const char *bodyPath);
  bool open() const { return open_; }

 private:
  int Fail(int reply, int code);
  void DropCopy();
  void WriteMessageHeaders();
  int SendBody(const char *bodyPath);

  std::string own_;
  int verbose_;
  SMTP_OPTIONS options_;
  SocketHandle socket_ = 0;
  bool open_ = false;
  std::string copyPath_;
};

// Every failure after the socket exists closes it and the conversation.
int SmtpSession::Fail(int reply, int code) {
  FlushSendBuffer(socket_, false);
  CloseMailSocket(socket_);
  CloseConversation(verbose_ > 0);
  DropCopy();
  return reply == kReplyCancelled ? kSmtpCancelledResult : code;
}

void SmtpSession::DropCopy() {
  if (g_sentCopy) std::fclose(g_sentCopy);
  g_sentCopy = nullptr;
  if (!copyPath_.empty()) DeleteFileA(copyPath_.c_str());
  copyPath_.clear();
}

int SmtpSession::Open(const char *host, const char *bodyPath) {
  MailIo().replyCount = MailIo().replyIndex = 0;
  if (bodyPath) {
    FILE *f = std::fopen(bodyPath, "rb");
    if (!f) return -2;
    std::fclose(f);
  }
  uint32_t address = HostAddressOrDotted(host);
  if (address == kNoAddress) return -3;
  MailIo().cancel = 0;
  if (g_OpenSmtpProgress) g_OpenSmtpProgress(verbose_ > 0);
  if (verbose_ > 0) ShowConversationLine("Connecting to " + FormatIpAddr(address));
  MAIL_CONNECTION c = ConnectMailHost(address, ServicePort("smtp"));
  if (c.socketError || c.connectError) {
    CloseConversation(verbose_ > 0);
    return c.socketError ? c.socketError : -12;
  }
  socket_ = c.socket;
  open_ = true;
  int reply = ReadSmtpReply(false, socket_, verbose_);
  if (reply != 220) return Fail(reply, -4);
  reply = SmtpCommand("HELO %s", g_LocalHostName.c_str(), socket_, verbose_);
  if (reply != 250) return Fail(reply, -5);
  const SEND_HEADER &h = g_sendHeader;
  const std::string sender = h.reDirect && h.from ? *h.from : own_;
  reply = SmtpCommand("MAIL FROM: <%s>", sender.c_str(), socket_, verbose_);
  if (reply != 250) return Fail(reply, -6);
  return 0;
}

int SmtpSession::Recipient(const std::string &address) {
  int reply = SmtpCommand("RCPT TO: <%s>", ReduceAddress(address).c_str(), socket_, verbose_);
  if (reply != 250 && reply != 251) return Fail(reply, -7);
  return 0;
}

void SmtpSession::WriteMessageHeaders() {
  const SEND_HEADER &h = g_sendHeader;
  WriteHeaderLine(socket_, h.to, "To: ");
  if (h.from && !h.from->empty()) {
    const std::string &name = options_.personalName;
    WriteHeaderLine(
        socket_,
        name.find(',') != std::string::npos ? "\"" + name + "\" <" + *h.from + ">" : name + " <" + *h.from + ">",
        "From: ");
  }
  WriteHeaderLine(socket_, h.cc, "Cc: ");
  WriteHeaderLine(socket_, own_, "Sender: ");
  WriteHeaderLine(socket_, h.subject, "Subject: ");
  WriteHeaderLine(socket_, g_LocalHostName, "X-Originating-Host: ");
  WriteHeaderLine(socket_, h.replyTo, "Reply-To: ");
  WriteHeaderLine(socket_, h.inReplyTo, "In-Reply-To: ");
  std::string messageId;
  MakeDateAndId(nullptr, &messageId);
  WriteHeaderLine(socket_, messageId, "Message-Id: ");
  WriteHeaderLine(socket_, h.date, "Date: ");
  WriteHeaderLine(socket_, h.organization, "Organization: ");
  if (h.flags & kSendReturnReceipt) WriteHeaderLine(socket_, own_, "Return-Receipt-To: ");
  if (h.flags & kSendReadReceipt) WriteHeaderLine(socket_, own_, "Read-Receipt-To: ");
  for (const std::string &line : h.extraLines) WriteHeaderLine(socket_, line, nullptr);
  WriteHeaderLine(socket_, std::string("MIME-Version: 1.0"), nullptr);
  if (h.flags & kSendMultipart)
    WriteHeaderLine(socket_, std::string(kMimeBoundary), "Content-Type: multipart/mixed; boundary=");
  else if (h.flags & kSendQuotedPrintable)
    SendAndCopy(socket_,
                "Content-Type: text/plain; charset=ISO-8859-1\r\nContent-transfer-encoding: quoted-printable\r\n");
  WriteHeaderLine(socket_, std::string(kMailerName), "X-Mailer:");
  SendAndCopy(socket_, "\r\n");
  // The copy keeps the part headers too, so that it reads as what was sent.
  if (h.flags & kSendMultipart) {
    if (h.flags & kSendQuotedPrintable)
      SendAndCopy(socket_, std::string("--") + kMimeBoundary +
                               "\r\nContent-Type: text/plain; charset=ISO-8859-1\r\n"
                               "Content-transfer-encoding: quoted-printable\r\n\r\n");
    else
      SendAndCopy(socket_,
                  std::string("--") + kMimeBoundary + "\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n");
  }
}

// The body file line by line (whole lines, whatever their length), each
// ended by CR LF, a leading dot doubled on the wire. 0, -2, or -11.
int SmtpSession::SendBody(const char *bodyPath) {
  if (!bodyPath) {
    SendAndCopy(socket_, " \r\n");
    return 0;
  }
  FILE *f = std::fopen(bodyPath, "rb");
  if (!f) return -2;
  const SEND_HEADER &h = g_sendHeader;
  bool redirectHeaderOpen = h.reDirect.has_value();
  std::string line;
  bool more = true;
  while (more && !MailIo().cancel) {
    line.clear();
    int c;
    // A line ends at LF, at CR LF, or at a CR alone: no bare CR is sent.
    while ((c = std::fgetc(f)) != EOF && c != '\n') {
      if (c == '\r') {
        const int next = std::fgetc(f);
        if (next != '\n' && next != EOF) std::ungetc(next, f);
        c = '\n';
        break;
      }
      line += static_cast<char>(c);
    }
    if (c == EOF) {
      more = false;
      if (line.empty()) break;
    }
    if (redirectHeaderOpen && line.empty()) {
      redirectHeaderOpen = false;
      WriteHeaderLine(socket_, h.reDirect, "Resent-To:");
      WriteHeaderLine(socket_, own_, "Resent-Sender:");
      WriteHeaderLine(socket_, h.date, "Resent-Date:");
      if (h.flags & kSendReturnReceipt) WriteHeaderLine(socket_, own_, "Return-Receipt-To:");
      if (h.flags & kSendReadReceipt) WriteHeaderLine(socket_, own_, "Read-Receipt-To:");
    }
    MapOutgoing(line);
    line += "\r\n";
    if (line[0] == '.') SendBuffered(socket_, ".", 1);
    SendAndCopy(socket_, line);
  }
  std::fclose(f);
  return MailIo().cancel ? kSmtpCancelledResult : 0;
}

int SmtpSession::Send(const char *bodyPath) {
  int reply = SmtpCommand("DATA", "", socket_, verbose_);
  if (reply != 354) return Fail(reply, -8);
  g_sentCopyFailed = false;
  if (options_.saveSent && !options_.mailDir.empty()) {
    std::string path = options_.mailDir + "\\";
    if ((g_sentCopy = CreateUniqueFile(path)) != nullptr) copyPath_ = path;
  }
  if (!g_sendHeader.reDirect) WriteMessageHeaders();
  int body = SendBody(bodyPath);
  if (body != 0) return Fail(body == kSmtpCancelledResult ? kReplyCancelled : 0, body);
  SendBuffered(socket_, ".\r\n", 3);
  FlushSendBuffer(socket_, true);
  reply = ReadSmtpReply(false, socket_, verbose_);
  if (reply != 250) return Fail(reply, -9);
  // The server has the message: whatever QUIT brings, it was sent.
  SmtpCommand("QUIT", "", socket_, verbose_);
  CloseMailSocket(socket_);
  if (g_sentCopy) {
    bool ok = std::fclose(g_sentCopy) == 0 && !g_sentCopyFailed;
    g_sentCopy = nullptr;
    const std::string sent = options_.mailDir + "\\sent";
    if (!ok || StoreCreateFolder(sent) != 0 || StoreAddMessage(copyPath_, sent) != 0) DeleteFileA(copyPath_.c_str());
    copyPath_.clear();
  }
  CloseConversation(verbose_ > 0);
  return 0;
}

}  // namespace

SEND_HEADER &CurrentSendHeader() { return g_sendHeader; }

void ClearSendHeader(SEND_HEADER &header, bool all) {
  int flags = header.flags;
  std::optional<std::string> reDirect = header.reDirect;
  header = SEND_HEADER{};
  if (!all) {
    header.flags = flags;
    header.reDirect = reDirect;
  }
}

int AddressKind(const std::string &address) {
  static const struct {
    const char *prefix;
    int kind;
  } kKinds[] = {{"MAPI==", 2}, {"VIM==", 3}, {"MHS_LOCAL==", 5}, {"MHS==", 4}, {"FAX==", 6}, {"SMTP==", 1}};
  for (const auto &k : kKinds)
    if (_strnicmp(address.c_str(), k.prefix, std::strlen(k.prefix)) == 0) return k.kind;
  return 1;
}

std::string ReduceAddress(const std::string &address) {
  std::string a = address;
  size_t eq = a.find("==");
  if (eq != std::string::npos) a.erase(0, eq + 2);
  size_t lt = a.find('<');
  if (lt != std::string::npos) {
    size_t gt = a.find('>', lt + 1);
    return a.substr(lt + 1, gt == std::string::npos ? std::string::npos : gt - lt - 1);
  }
  return a.substr(0, a.find(' '));
}

std::string EncodeHeaderWord(const char *label, const std::string &text) {
  std::string out, value;
  if (label) {
    out = label;
    value = text;
  } else {
    size_t colon = text.find(':');
    if (colon == std::string::npos) return text + "\r\n";
    out = text.substr(0, colon + 1) + " ";
    size_t start = colon + 1;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
    value = text.substr(start);
  }
  if (!HasEightBit(value)) return out + value + "\r\n";
  // Runs of blank-separated words with 8-bit bytes become encoded words; the
  // words between them (addresses above all) stay as they are.
  size_t i = 0;
  while (i < value.size()) {
    size_t wordEnd = value.find(' ', i);
    if (wordEnd == std::string::npos) wordEnd = value.size();
    if (!HasEightBit(value.substr(i, wordEnd - i))) {
      out += value.substr(i, wordEnd - i);
      if (wordEnd < value.size()) out += ' ';
      i = wordEnd + 1;
      continue;
    }
    size_t runEnd = wordEnd;
    while (runEnd < value.size()) {
      size_t next = value.find(' ', runEnd + 1);
      if (next == std::string::npos) next = value.size();
      if (!HasEightBit(value.substr(runEnd + 1, next - runEnd - 1))) break;
      runEnd = next;
    }
    out += EncodeRun(value.substr(i, runEnd - i));
    if (runEnd < value.size()) out += ' ';
    i = runEnd + 1;
  }
  return out + "\r\n";
}

std::vector<std::string> FoldHeaderLine(const std::string &line) {
  std::vector<std::string> pieces;
  std::string rest = line;
  while (rest.size() > 76) {
    size_t at = 0;
    for (size_t p = 75; p >= 1; --p)
      if (rest[p] == ' ' || rest[p] == '\t' || rest[p] == ',') {
        at = p;
        break;
      }
    if (at == 0) break;  // no place to fold: a token is never cut
    if (rest[at] == ',') {
      pieces.push_back(rest.substr(0, at + 1) + "\r\n\t");
      rest.erase(0, at + 1);
      while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t')) rest.erase(0, 1);
    } else {
      pieces.push_back(rest.substr(0, at) + "\r\n\t");
      rest.erase(0, at + 1);
    }
  }
  pieces.push_back(rest);
  return pieces;
}

std::string ZoneText(int minutes) {
  char text[8];
  if (minutes < 0)
    std::snprintf(text, sizeof text, "-%02d%02d", (-minutes / 60) % 100, -minutes % 60);
  else
    std::snprintf(text, sizeof text, "+%02d%02d", (minutes / 60) % 100, minutes % 60);
  return text;
}

void MakeDateAndId(std::string *date, std::string *messageId) {
  std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  const std::string zone = ZoneText(Zone());
  const char *month = kMonthNames[static_cast<size_t>(t.tm_mon) % 12];
  char text[160];
  if (date) {
    std::snprintf(text, sizeof text, "%02d %s %04d %02d:%02d:%02d %s", t.tm_mday, month, t.tm_year + 1900, t.tm_hour,
                  t.tm_min, t.tm_sec, zone.c_str());
    *date = text;
  }
  if (messageId) {
    std::snprintf(text, sizeof text, "<%04d%s%02d.%02d%02d%02d%s@%s>", t.tm_year + 1900, month, t.tm_mday, t.tm_hour,
                  t.tm_min, t.tm_sec, zone.c_str(), g_LocalHostName.substr(0, 63).c_str());
    *messageId = text;
  }
}

void ScrubSendHeader(SEND_HEADER &h) {
  for (auto *field : {&h.from, &h.subject, &h.to, &h.cc, &h.bcc, &h.inReplyTo, &h.replyTo, &h.messageId, &h.date,
                      &h.organization, &h.reDirect})
    if (*field) *field = ScrubLine(**field);
  for (std::string &line : h.extraLines) line = ScrubLine(line);
}

std::string ScrubLine(std::string text) {
  for (char &c : text)
    if (static_cast<unsigned char>(c) < 32 && c != '\t') c = ' ';
  return text;
}

int SMTP_session(const char *host, const std::string &ownAddress, const std::vector<std::string> &envelope,
                 const char *bodyPath, int verbose, const SMTP_OPTIONS &options) {
  // Texts from other programs (Simple MAPI, queue files) may hold line ends:
  // none reaches a command or a header line.
  ScrubSendHeader(g_sendHeader);
  std::vector<std::string> recipients;
  for (const std::string &r : envelope) recipients.push_back(ScrubLine(r));
  char name[64] = {};
  if (gethostname(name, sizeof name - 1) == 0) g_LocalHostName = name;
  SmtpSession session(ownAddress, verbose, options);
  for (const std::string &recipient : recipients) {
    if (AddressKind(recipient) != 1) continue;  // other transports' addresses are passed over
    if (!session.open())
      if (int r = session.Open(host, bodyPath)) return r;
    if (int r = session.Recipient(recipient)) return r;
  }
  if (!session.open()) return 0;  // no SMTP recipient: nothing to send
  return session.Send(bodyPath);
}
