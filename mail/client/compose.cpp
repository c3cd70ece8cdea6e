// Preparing and sending one composition.
#include "compose.h"

#include <cstring>

#include "attachkit.h"
#include "mailstore.h"
#include "pop.h"
#include "quote.h"
#include "recipients.h"
#include "retrieve.h"
#include "sendqueue.h"
#include "settings.h"
#include "uucode.h"

// Last, so that the layer's C runtime names (fopen) are not undone by <cstdio>.
#include <windows.h>

namespace {

constexpr int kSmtpRefusedMailFrom = -6, kSmtpRefusedRcptTo = -7, kSmtpRefusedData = -8;
constexpr size_t kQpLimit = 76, kQpPiece = 74;

COMPOSITION g_composition;

struct MIME_BINDING {
  HMODULE module = nullptr;
  SENDMIME sendMime = nullptr;
  MIMEGETSPECIAL getSpecial = nullptr;
};
MIME_BINDING g_mime;

const char *const kSpecialLabels[] = {"", "", "Ftp Pointer", "EMail Pointer", "Voice Recording"};

bool Exists(const std::string &path) {
  return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The block number of a special entry ("\x01" digits "\label").
HGLOBAL BlockOf(const std::string &entry) {
  if (entry.size() < 2 || entry[0] != '\x01') return nullptr;
  uint64_t value = 0;
  for (size_t i = 1; i < entry.size() && entry[i] >= '0' && entry[i] <= '9' && value <= UINT32_MAX; ++i)
    value = value * 10 + static_cast<uint64_t>(entry[i] - '0');
  return value <= UINT32_MAX ? reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(value)) : nullptr;
}

std::string LastComponent(const std::string &path) {
  const size_t at = path.find_last_of("\\/");
  return at == std::string::npos ? path : path.substr(at + 1);
}

void Box(HWND owner, const std::string &text, const char *caption, UINT type) {
  g_MailMessageBox(owner, text.c_str(), caption, type);
}

// A new, empty work file in the mail directory.
bool NewWorkFile(std::string &path) {
  path = Settings().mailDir + "\\";
  FILE *f = CreateUniqueFile(path);
  if (!f) return false;
  std::fclose(f);
  return true;
}

bool PutText(FILE *out, const std::string &text) { return std::fputs(text.c_str(), out) >= 0; }

// The user's text into the prepared file: as typed, or quoted-printable.
bool CopyText(const std::string &textPath, FILE *out, SEND_HEADER &header) {
  FILE *in = std::fopen(textPath.c_str(), "r");
  if (!in) return false;
  const bool qp = NeedsQuotedPrintable(in);
  if (qp) header.flags |= kSendQuotedPrintable;
  std::rewind(in);
  bool ok = true;
  std::string line;
  for (int ch; ok && (ch = std::fgetc(in)) != EOF;) {
    if (ch != '\n') {
      line += static_cast<char>(ch);
      continue;
    }
    if (qp) {
      for (const std::string &piece : QuotedPrintableLines(line)) ok = ok && PutText(out, piece + "\n");
    } else {
      ok = PutText(out, line + "\n");
    }
    line.clear();
  }
  if (ok && !line.empty()) {  // a last line without its line feed
    if (qp)
      for (const std::string &piece : QuotedPrintableLines(line)) ok = ok && PutText(out, piece + "\n");
    else
      ok = PutText(out, line + "\n");
  }
  ok = !std::ferror(in) && ok;
  std::fclose(in);
  return ok;
}

// One attachment; false after telling the user why it could not be added.
bool AddAttachment(HWND owner, const ATTACHMENT &a, bool multipart, FILE *out) {
  if (multipart && !PutText(out, std::string("--") + kMimeBoundary + "\n")) return false;
  if (a.type != 0) {
    if (!LoadMimeLibrary(owner)) return false;
    if (CallSendMime(out, a.entry, a.type) == 0) return true;
    Box(owner,
        "The attachment " + AttachmentLabel(a) +
            " could not be added to the message (the file or recording could not be read). Remove it or attach it "
            "again, then send the message again.",
        "Attachments", MB_ICONERROR);
    return false;
  }
  // A Simple MAPI entry may carry "=" and a display name after the path.
  const size_t eq = a.entry.find('=');
  const std::string path = a.entry.substr(0, eq);
  const std::string name = LastComponent(eq == std::string::npos ? a.entry : a.entry.substr(eq + 1));
  FILE *in = std::fopen(path.c_str(), "rb");
  if (!in) {
    Box(owner,
        "The file " + path +
            " cannot be opened, so it cannot be sent with the message. Remove it from the attachments or make it "
            "readable, then send the message again.",
        "Attachments", MB_ICONERROR);
    return false;
  }
  bool ok = (!multipart || PutText(out, "Content-Type: text/plain\n")) && PutText(out, "\nbegin 777 " + name + "\n");
  ok = ok && UuencodeFile(in, out) && PutText(out, "end\n\n");
  std::fclose(in);
  return ok;
}

bool AppendSignature(FILE *out, bool multipart) {
  if (multipart && !PutText(out, std::string("--") + kMimeBoundary + "\nContent-Type: text/plain\n\n")) return false;
  if (!PutText(out, "\n--\n")) return false;
  FILE *sig = std::fopen((Settings().mailDir + "\\qxmail.sig").c_str(), "r");
  if (!sig) return true;
  char piece[134];
  bool ok = true;
  while (ok && std::fgets(piece, sizeof piece, sig)) ok = PutText(out, piece);
  std::fclose(sig);
  return ok;
}

bool CheckPassword(HWND owner, int &result, std::string &reason) {
  if (g_PasswordVerified) return true;
  const MAIL_SETTINGS &s = Settings();
  const int login = PopLoginCheck(s.user.c_str(), g_Password.c_str(), s.mailHost.c_str());
  if (login == 0) {
    g_PasswordVerified = 1;
    return true;
  }
  Box(owner,
      login == kPopLoginRefused ? "Username/Password combination fails on server"
                                : "Error validating Username/Password",
      "Password Check", MB_ICONERROR);
  result = login;
  reason = PopErrorText(login, s.mailHost);
  return false;
}

}  // namespace

COMPOSITION &CurrentComposition() { return g_composition; }

bool EnsureTextFile(COMPOSITION &c) {
  if (Exists(c.textPath)) return true;
  return NewWorkFile(c.textPath);
}

void IncludeQuotedMessages(COMPOSITION &c) {
  if (c.included || !(c.include || c.mode == kComposeForward)) return;
  c.included = true;
  const bool forward = c.mode == kComposeForward;
  for (const int32_t number : c.selected) {
    if (!EnsureTextFile(c)) return;
    QuoteMessage(c.folder, static_cast<uint32_t>(number), !forward, Settings().includeHeader || forward, c.textPath);
  }
}

bool NeedsQuotedPrintable(FILE *text) {
  for (int ch; (ch = std::fgetc(text)) != EOF;)
    if ((ch & 0x80) && MapOutgoingByte(static_cast<uint8_t>(ch)) == ch) return true;
  return false;
}

std::vector<std::string> QuotedPrintableLines(const std::string &line) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    // White space at the line's end would be lost in transport: encoded too.
    const bool trailingBlank = (c == ' ' || c == '\t') && i + 1 == line.size();
    if ((c < 32 && c != '\t') || c == '=' || c > 126 || trailingBlank) {
      encoded += '=';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    } else {
      encoded += static_cast<char>(c);
    }
  }
  std::vector<std::string> lines;
  while (encoded.size() >= kQpLimit) {
    size_t cut = kQpPiece;  // never inside an "=XX"
    while (cut > 2 && (encoded[cut - 1] == '=' || encoded[cut - 2] == '=')) --cut;
    lines.push_back(encoded.substr(0, cut) + "=");
    encoded.erase(0, cut);
  }
  lines.push_back(encoded);
  return lines;
}

bool PrepareMessage(HWND owner, COMPOSITION &c, SEND_HEADER &header, std::string &prepared) {
  header.flags &= ~(kSendMultipart | kSendQuotedPrintable);
  prepared.clear();
  const bool hasText = Exists(c.textPath);
  if (!hasText && c.attachments.empty() &&
      g_MailMessageBox(owner, "Empty Message body", "Message", MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
    return false;
  if (!hasText && c.attachments.empty() && !c.signature) return true;  // a message without a body
  if (!NewWorkFile(prepared)) {
    Box(owner,
        "The message could not be prepared: no work file could be made in " + Settings().mailDir +
            ". Check that the mail directory is writable and has room.",
        "Sending Mail", MB_ICONERROR);
    return false;
  }
  FILE *out = std::fopen(prepared.c_str(), "a");  // text mode: CR LF on disk, as SendMime writes
  bool ok = out != nullptr;
  if (ok && hasText) ok = CopyText(c.textPath, out, header);
  bool multipart = false;
  for (const ATTACHMENT &a : c.attachments) multipart = multipart || a.type != 0;
  if (multipart) header.flags |= kSendMultipart;
  bool attached = true;
  if (ok && !c.attachments.empty()) {
    ok = PutText(out, "\n");
    for (size_t i = 0; ok && attached && i < c.attachments.size(); ++i)
      attached = AddAttachment(owner, c.attachments[i], multipart, out);
  }
  if (ok && attached && c.signature) ok = AppendSignature(out, multipart);
  if (ok && attached && multipart) ok = PutText(out, std::string("--") + kMimeBoundary + "--\n");
  if (out) ok = std::fclose(out) == 0 && ok;
  if (!ok && attached)
    Box(owner, "The message could not be written to " + prepared + ". Check that the mail directory has room.",
        "Sending Mail", MB_ICONERROR);
  if (!ok || !attached) {
    DeleteFileA(prepared.c_str());
    prepared.clear();
    header.flags &= ~(kSendMultipart | kSendQuotedPrintable);
    return false;
  }
  return true;
}

SendOutcome SendComposition(HWND owner, COMPOSITION &c) {
  SEND_HEADER &h = CurrentSendHeader();
  const MAIL_SETTINGS &s = Settings();
  if (!h.from) h.from = s.ownAddress;
  if (!h.replyTo && !s.replyTo.empty()) h.replyTo = s.replyTo;
  IncludeQuotedMessages(c);
  const bool fromQueue = !c.preparedPath.empty();
  std::string prepared = c.preparedPath;
  if (!fromQueue && !PrepareMessage(owner, c, h, prepared)) return kComposeStay;
  // The prepared file is this attempt's alone: gone unless it was queued.
  struct Discard {
    std::string path;
    ~Discard() {
      if (!path.empty()) DeleteFileA(path.c_str());
    }
  } discard{fromQueue ? std::string() : prepared};

  ScrubSendHeader(h);  // no text reaches a header or command with a line end in it
  RECIPIENT_LIST list = BuildRecipients(h);
  const std::vector<std::string> envelope = EnvelopeAddresses(list);
  if (envelope.empty()) {
    Box(owner, "The message has no recipient. Enter at least one address in To, Cc or Bcc, then send it again.",
        "Sending Mail", MB_ICONEXCLAMATION);
    return kComposeStay;
  }
  std::string date;
  MakeDateAndId(&date, nullptr);
  h.date = date;

  int result = 1;
  std::string reason;
  if (!s.delayedSend && CheckPassword(owner, result, reason)) {
    SMTP_OPTIONS options;
    options.saveSent = s.saveSent != 0;
    options.mailDir = s.mailDir;
    options.personalName = s.personalName;
    result = SMTP_session(s.mailHost.c_str(), s.ownAddress, envelope, prepared.empty() ? nullptr : prepared.c_str(),
                          c.verbose, options);
    reason = SmtpErrorText(result);
  }
  MailIo().cancel = 0;
  if (result == kSmtpRefusedMailFrom || result == kSmtpRefusedRcptTo || result == kSmtpRefusedData) {
    Box(owner, MailIo().replyText, "Error Sending Mail", MB_ICONERROR);
    return kComposeStay;  // the user's text and attachments stay for the corrected Send
  }
  if (result == 0) {
    if (fromQueue) DeleteFileA(prepared.c_str());
    return kComposeSent;
  }
  const bool later = s.delayedSend || g_MailMessageBox(owner, (reason + "; Send later ?").c_str(), "Sending Mail",
                                                       MB_YESNO | MB_ICONQUESTION) == IDYES;
  if (!later) return kComposeDropped;                                // a queued message stays queued
  if (prepared.empty() && !NewWorkFile(prepared)) prepared.clear();  // the queue needs a body file
  discard.path = fromQueue ? std::string() : prepared;
  const int queued = prepared.empty() ? -1 : QueueMessage(s.mailDir, prepared, h);
  if (queued < 0) {
    Box(owner,
        queued == kQueueBusy   ? QueueBusyText(s.mailDir)
        : queued == kQueueFull ? QueueFullText(s.mailDir)
                               : "The message could not be put in the send queue. Check that the mail directory " +
                                     s.mailDir + " is writable and has room, then send it again.",
        "Sending Mail", MB_ICONERROR);
    return kComposeStay;
  }
  discard.path.clear();
  return kComposeQueued;
}

void CleanUpComposition(COMPOSITION &c) {
  if (!c.textPath.empty()) DeleteFileA(c.textPath.c_str());
  c.textPath.clear();
  for (const ATTACHMENT &a : c.attachments)
    if (a.type >= 2) CallMimeGetSpecial(a.type, BlockOf(a.entry), nullptr);
  c.attachments.clear();
  c.preparedPath.clear();
  c.included = false;
}

bool LoadMimeLibrary(HWND owner) {
  if (g_mime.module) return true;
  HMODULE module = LoadLibraryA(ATTACHKIT_MODULE);
  MIME_BINDING b;
  if (module) {
    b.sendMime = reinterpret_cast<SENDMIME>(GetProcAddress(module, "SendMime"));
    b.getSpecial = reinterpret_cast<MIMEGETSPECIAL>(GetProcAddress(module, "MimeGetSpecial"));
  }
  if (!module || !b.sendMime || !b.getSpecial) {
    if (module) FreeLibrary(module);
    Box(owner, "MIME DLL not found, unable to process MIME body part", "Execute Attachment", MB_ICONERROR);
    return false;
  }
  b.module = module;
  g_mime = b;
  return true;
}

int32_t CallSendMime(FILE *out, const std::string &entry, int type) {
  if (!g_mime.sendMime || std::fflush(out) != 0) return -1;
  std::vector<char> copy(entry.begin(), entry.end());  // the library may rewrite its copy
  copy.push_back('\0');
  const int32_t result = g_mime.sendMime(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out))), copy.data(), type);
  // The library wrote past the stream's idea of its position: go on after its part.
  if (std::fseek(out, 0, SEEK_END) != 0) return -1;
  return result;
}

HGLOBAL CallMimeGetSpecial(int type, HGLOBAL handle, HWND owner) {
  if (!g_mime.getSpecial) return nullptr;
  return g_mime.getSpecial(type, handle, owner);
}

std::string SpecialEntry(int type, HGLOBAL block) {
  char text[64];
  std::snprintf(text, sizeof text, "\x01%u\\%s", static_cast<unsigned>(reinterpret_cast<uintptr_t>(block)),
                kSpecialLabels[type >= 2 && type <= 4 ? type : 0]);
  return text;
}

std::string AttachmentLabel(const ATTACHMENT &a) {
  if (!a.entry.empty() && a.entry[0] == '\x01') return a.entry.substr(a.entry.find('\\') + 1);
  return LastComponent(a.entry);
}
