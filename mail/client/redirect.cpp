// The redirect sender: each stored message is copied to a work file without
// the fields a resend replaces, then sent through the SMTP session with the
// Resent- fields, or queued when sending fails and the user wants it later.
#include "redirect.h"

#include <cctype>
#include <cstring>

#include "headers.h"
#include "mailstore.h"
#include "pop.h"
#include "retrieve.h"
#include "settings.h"

// Last, so that the layer's C runtime names (fopen) are not undone by <cstdio>.
#include <windows.h>

namespace {

constexpr const char *kDroppedFields[] = {"Resent-Sender:", "Resent-To:", "Resent-Date:", "From ", "Status:"};
constexpr int kSmtpRefusedMailFrom = -6, kSmtpRefusedRcptTo = -7, kSmtpRefusedData = -8;

bool StartsNoCase(const std::string &line, const char *prefix) {
  const size_t n = std::strlen(prefix);
  if (line.size() < n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(line[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

bool Dropped(const std::string &line) {
  for (const char *field : kDroppedFields)
    if (StartsNoCase(line, field)) return true;
  return false;
}

// One line with its line feed (the last one may lack it); false at the end.
bool NextLine(FILE *f, std::string &line) {
  line.clear();
  for (int c; (c = std::getc(f)) != EOF;) {
    line += static_cast<char>(c);
    if (c == '\n') return true;
  }
  return !line.empty();
}

struct WorkFile {
  std::string path;
  ~WorkFile() {
    if (!path.empty()) DeleteFileA(path.c_str());
  }
};

// A work file in the mail directory for the copy, created empty.
bool MakeWorkFile(const std::string &mailDir, WorkFile &work) {
  std::string path = mailDir + "\\";
  FILE *f = CreateUniqueFile(path);
  if (!f) return false;
  std::fclose(f);
  work.path = path;
  return true;
}

// "Send later ?" with the reason; DelayedSend answers Yes without asking.
bool WantsLater(HWND owner, const std::string &reason) {
  if (Settings().delayedSend) return true;
  const std::string text = reason + "; Send later ?";
  return g_MailMessageBox(owner, text.c_str(), "Sending Mail", MB_ICONERROR | MB_YESNO) == IDYES;
}

}  // namespace

std::vector<std::string> RedirectRecipients(const std::string &text) {
  std::vector<std::string> list;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    std::string one = text.substr(start, comma - start);
    const size_t first = one.find_first_not_of(" \t\r\n");
    const size_t last = one.find_last_not_of(" \t\r\n");
    if (first != std::string::npos) list.push_back(one.substr(first, last - first + 1));
    start = comma + 1;
  }
  return list;
}

bool CopyForRedirect(FILE *message, FILE *out) {
  std::string line;
  bool dropping = false;
  bool inHeader = true;
  while (inHeader && NextLine(message, line)) {
    if (line[0] == '\r' || line[0] == '\n') {
      inHeader = false;  // the empty line is copied, then the body
    } else if (line[0] == ' ' || line[0] == '\t') {
      // A continuation belongs to the field above it: dropped with it.
    } else {
      dropping = Dropped(line);
    }
    if (inHeader && dropping && line[0] != '\r' && line[0] != '\n') continue;
    if (std::fwrite(line.data(), 1, line.size(), out) != line.size()) return false;
  }
  char block[8192];
  for (size_t got; (got = std::fread(block, 1, sizeof block, message)) > 0;)
    if (std::fwrite(block, 1, got, out) != got) return false;
  return !std::ferror(message) && std::fflush(out) == 0;
}

void RedirectMessages(HWND owner, const std::string &folder, const std::vector<int32_t> &numbers) {
  SEND_HEADER &header = CurrentSendHeader();
  const MAIL_SETTINGS &s = Settings();
  const std::vector<std::string> recipients = RedirectRecipients(header.reDirect.value_or(""));
  for (const int32_t number : numbers) {
    WorkFile work;
    if (!MakeWorkFile(s.mailDir, work)) continue;
    FILE *message = std::fopen(MessagePath(folder, static_cast<uint64_t>(number)).c_str(), "rb");
    FILE *out = message ? std::fopen(work.path.c_str(), "ab") : nullptr;
    const bool copied = out && CopyForRedirect(message, out);
    if (out) std::fclose(out);
    if (!copied) {  // an unreadable message is passed over
      if (message) std::fclose(message);
      continue;
    }
    std::rewind(message);
    HEADER_SUMMARY summary;
    GetLineBuffer().count = 0;
    ScanHeader(summary, MAIL_SOURCE::File(message), nullptr);
    CloseSource(MAIL_SOURCE::File(message));
    header.from = summary.from;
    std::string date;
    MakeDateAndId(&date, nullptr);
    header.date = date;
    header.messageId.reset();

    int result = kRedirectQueued;
    std::string reason;
    if (!s.delayedSend) {
      if (!g_PasswordVerified) {
        const int login = PopLoginCheck(s.user.c_str(), g_Password.c_str(), s.mailHost.c_str());
        if (login == 0) {
          g_PasswordVerified = 1;
        } else {
          g_MailMessageBox(owner,
                           login == kPopLoginRefused ? "Username/Password combination fails on server"
                                                     : "Error validating Username/Password",
                           "Password Check", MB_ICONERROR);
          reason = PopErrorText(login, s.mailHost);
          result = login;
        }
      }
      if (g_PasswordVerified) {
        SMTP_OPTIONS options;
        options.saveSent = s.saveSent != 0;
        options.mailDir = s.mailDir;
        options.personalName = s.personalName;
        result = SMTP_session(s.mailHost.c_str(), s.ownAddress, recipients, work.path.c_str(), s.verbose, options);
        reason = SmtpErrorText(result);
        if (result == kSmtpRefusedMailFrom || result == kSmtpRefusedRcptTo || result == kSmtpRefusedData) {
          // The server refused this message: the rest are not redirected.
          g_MailMessageBox(owner, MailIo().replyText.c_str(), "Error Sending Mail", MB_ICONERROR);
          MailIo().cancel = 0;
          ClearSendHeader(header, true);
          return;
        }
      }
    }
    MailIo().cancel = 0;
    const int queued = result != 0 && WantsLater(owner, reason) ? QueueMessage(s.mailDir, work.path, header) : 0;
    if (queued < 0)
      g_MailMessageBox(owner,
                       (queued == kQueueBusy   ? QueueBusyText(s.mailDir)
                        : queued == kQueueFull ? QueueFullText(s.mailDir)
                                               : "The message could not be queued for later sending. Check that the "
                                                 "mail directory is writable and has room, then redirect it again.")
                           .c_str(),
                       "Sending Mail", MB_ICONERROR);
    ClearSendHeader(header, false);  // flags and ReDirect stay for the next message
  }
  ClearSendHeader(header, true);
}
