// The send queue: writing pairs so that a crash never loses one, and the run
// that sends them, each message once.
#include "sendqueue.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mailfs.h"
#include "mailio.h"
#include "pop.h"
#include "recipients.h"
#include "retrieve.h"
#include "settings.h"

// Last, so that the layer's C runtime names (fopen) are not undone by <cstdio>.
#include <windows.h>

void (*g_ComposeFromQueue)(HWND owner, const std::string &bodyPath) = nullptr;
void (*g_QueueStepHook)(const char *operation, int step) = nullptr;

namespace {

constexpr int kSmtpRefusedMailFrom = -6, kSmtpRefusedRcptTo = -7, kSmtpRefusedData = -8;
constexpr size_t kTextLineLimit = 1023, kNumberLineLimit = 120;
constexpr int kMaxExtraLines = 255;
constexpr const char *kQueueLockName = "tosend.lck";
constexpr const char *kQueueWriteLockName = "tosendw.lck";
constexpr DWORD kQueueWriteWaitMs = 10000;  // the longest a writer or a run waits for the other

void Step(const char *operation, int step) {
  if (g_QueueStepHook) g_QueueStepHook(operation, step);
}

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Writes text to a new file (never an existing one) in text mode, so that
// its lines end in CR LF on disk as every file of the mail directory, and
// syncs it.
bool WriteNewFile(const std::string &path, const std::string &text) {
  FILE *f = std::fopen(path.c_str(), "wx");
  if (!f) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = ok && std::fflush(f) == 0 && _commit(_fileno(f)) == 0;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) DeleteFileA(path.c_str());
  return ok;
}

// Syncs a file that is already written, so that its name never points at
// data the disk does not hold yet.
bool SyncFile(const std::string &path) {
  FILE *f = std::fopen(path.c_str(), "rb+");
  if (!f) return false;
  const bool ok = _commit(_fileno(f)) == 0;
  return std::fclose(f) == 0 && ok;
}

// One line of a header file: the LF (and a CR before it) removed, at most
// limit characters kept. False at the end of the file before a line feed:
// a line without its LF is an incomplete write.
bool ReadHeaderLine(FILE *f, size_t limit, std::string &line) {
  line.clear();
  for (int c; (c = std::getc(f)) != EOF;) {
    if (c == '\n') {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() > limit) line.resize(limit);
      return true;
    }
    if (line.size() <= limit) line += static_cast<char>(c);
  }
  return false;
}

bool ReadNumber(const std::string &line, int low, int high, int &value) {
  if (line.empty()) return false;
  char *end = nullptr;
  const long v = std::strtol(line.c_str(), &end, 10);
  if (*end != '\0' || v < low || v > high) return false;
  value = static_cast<int>(v);
  return true;
}

std::string OneLine(std::string text) {
  for (char &c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

std::string PairName(int number) {
  char name[16];
  std::snprintf(name, sizeof name, "tosendm.%03d", number);
  return name;
}

// What a crash left of pair number: a header written aside is moved into
// place when its body made it into the queue (else it is dropped); a marker
// of a send whose pair is gone is removed with the pair's header. True when
// the pair was in flight and is still queued.
bool SettleCrashLeftovers(const std::string &mailDir, int number) {
  const std::string body = QueueFilePath(mailDir, 'm', number), head = QueueFilePath(mailDir, 'h', number);
  const std::string aside = QueueFilePath(mailDir, 't', number), flight = QueueFilePath(mailDir, 'f', number);
  if (Exists(aside)) {
    SEND_HEADER probe;
    if (Exists(body) && !Exists(head) && ReadSendHeaderFile(aside, probe))
      RenameNoReplace(aside, head);
    else
      DeleteFileA(aside.c_str());
  }
  if (!Exists(flight)) return false;
  if (Exists(body)) return true;
  DeleteFileA(head.c_str());  // sent: only the clean-up was left
  DeleteFileA(flight.c_str());
  return false;
}

// The numbers of the queue's files of one kind ('m', 't', 'f'), in order.
std::vector<int> QueuedNumbers(const std::string &mailDir, char kind) {
  std::vector<int> numbers;
  WIN32_FIND_DATAA found;
  const std::string pattern = mailDir + "\\tosend" + kind + ".*";
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return numbers;
  do {
    const char *dot = std::strrchr(found.cFileName, '.');
    if (!dot || std::strlen(dot + 1) != 3) continue;
    int n = 0;
    if (ReadNumber(dot + 1, 0, kQueueSlots - 1, n)) numbers.push_back(n);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

// Headers written aside and markers whose body files are gone (one listing
// per kind: a name that does not exist costs a look through the directory).
void SettleOrphans(const std::string &mailDir) {
  for (const char kind : {'t', 'f'})
    for (const int n : QueuedNumbers(mailDir, kind))
      if (!Exists(QueueFilePath(mailDir, 'm', n))) SettleCrashLeftovers(mailDir, n);
}

// The queue's write lock "tosendw.lck", held while a pair is queued and while
// a run settles what a crash left or reads a pair's header: a run never takes
// another process's pair in the making for a crash leftover (dropping its
// header written aside, or finishing it under the writer), and a writer never
// finds its slot changed under it. Each holds it for a few file operations;
// the other waits at most kQueueWriteWaitMs. 0 when held, kQueueBusy after
// the wait, -1 at once when the lock file cannot be made or written at all
// (a read-only mail directory or lock file), where waiting would not help.
int TakeWriteLock(MailboxLock &lock, const std::string &mailDir) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (lock.Open(mailDir, kQueueWriteLockName)) return 0;
    if (!lock.HeldElsewhere()) return -1;
    if (GetTickCount() - start >= kQueueWriteWaitMs) return kQueueBusy;
    Sleep(10);
  }
}

// What the user reads when a lock file of the queue can be neither made nor
// opened for writing, so the queue cannot be touched safely.
std::string LockFileText(const std::string &mailDir, const char *lockName) {
  return std::string("The send queue's lock file ") + lockName + " could not be made or written in " + mailDir +
         ". Check that the mail directory exists and is writable and that " + lockName +
         " in it is not read-only, then send the queue again.";
}

// The write lock for a run's step; when it cannot be had the user is told why
// and the run ends (what is queued stays queued).
bool TakeWriteLockForRun(MailboxLock &lock, const std::string &mailDir, HWND owner) {
  const int locked = TakeWriteLock(lock, mailDir);
  if (locked == 0) return true;
  const std::string text = locked == kQueueBusy ? QueueBusyText(mailDir) : LockFileText(mailDir, kQueueWriteLockName);
  g_MailMessageBox(owner, text.c_str(), "Delayed Messages to Send", MB_ICONEXCLAMATION);
  return false;
}

struct RUN_REPORT {
  std::vector<std::string> incomplete;  // "tosendm.NNN (why)"
  std::vector<std::string> inFlight;    // subjects or recipients of messages sent again
};

std::string Describe(const SEND_HEADER &h) {
  std::string what = "to " + h.to.value_or(h.reDirect.value_or("(no recipient)"));
  if (h.subject && !h.subject->empty()) what += ", subject \"" + *h.subject + "\"";
  return what;
}

void ShowReport(HWND owner, const std::string &mailDir, const RUN_REPORT &report) {
  if (!report.inFlight.empty()) {
    std::string text =
        "The mail client stopped while it was sending a queued message; it has been sent again "
        "and may arrive twice:";
    for (const std::string &m : report.inFlight) text += "\n" + m;
    g_MailMessageBox(owner, text.c_str(), "Delayed Messages to Send", MB_ICONINFORMATION);
  }
  if (!report.incomplete.empty()) {
    std::string text = "These queued messages were not sent and are kept in " + mailDir + ":";
    for (const std::string &m : report.incomplete) text += "\n" + m;
    text += "\nCheck their files, then remove them or send them again.";
    g_MailMessageBox(owner, text.c_str(), "Delayed Messages to Send", MB_ICONEXCLAMATION);
  }
}

bool CheckPassword(HWND owner) {
  if (g_PasswordVerified) return true;
  const MAIL_SETTINGS &s = Settings();
  const int login = PopLoginCheck(s.user.c_str(), g_Password.c_str(), s.mailHost.c_str());
  if (login == 0) {
    g_PasswordVerified = 1;
    return true;
  }
  g_MailMessageBox(owner,
                   login == kPopLoginRefused ? "Username/Password combination fails on server"
                                             : "Error validating Username/Password",
                   "Password Check", MB_ICONERROR);
  return false;
}

enum class PairOutcome { kSent, kKept, kStop };

// Sends one pair whose header is in CurrentSendHeader().
PairOutcome SendPair(HWND owner, const std::string &mailDir, int number, RUN_REPORT &report) {
  const MAIL_SETTINGS &s = Settings();
  SEND_HEADER &header = CurrentSendHeader();
  const std::string body = QueueFilePath(mailDir, 'm', number), head = QueueFilePath(mailDir, 'h', number);
  const std::string flight = QueueFilePath(mailDir, 'f', number);
  ScrubSendHeader(header);
  RECIPIENT_LIST list = BuildRecipients(header);
  const std::vector<std::string> envelope = EnvelopeAddresses(list);
  if (envelope.empty()) {
    report.incomplete.push_back(PairName(number) + " (it names no recipient)");
    return PairOutcome::kKept;
  }
  if (!Exists(flight) && !WriteNewFile(flight, "")) {
    report.incomplete.push_back(PairName(number) + " (its in-flight mark could not be written)");
    return PairOutcome::kKept;
  }
  Step("send", 1);
  SMTP_OPTIONS options;
  options.saveSent = s.saveSent != 0;
  options.mailDir = s.mailDir;
  options.personalName = s.personalName;
  const int result = SMTP_session(s.mailHost.c_str(), s.ownAddress, envelope, body.c_str(), s.verbose, options);
  MailIo().cancel = 0;
  if (result == 0) {
    Step("send", 2);
    DeleteFileA(body.c_str());
    Step("send", 3);
    DeleteFileA(head.c_str());
    DeleteFileA(flight.c_str());
    return PairOutcome::kSent;
  }
  DeleteFileA(flight.c_str());  // not sent: nothing is in flight any more
  if (result == kSmtpRefusedMailFrom || result == kSmtpRefusedRcptTo || result == kSmtpRefusedData) {
    g_MailMessageBox(owner, MailIo().replyText.c_str(), "Error Sending Mail", MB_ICONERROR);
    if (g_ComposeFromQueue) {
      g_ComposeFromQueue(owner, body);  // sends, queues again, or leaves the pair
      if (!Exists(body)) DeleteFileA(head.c_str());
    }
    return PairOutcome::kKept;
  }
  const std::string text =
      SmtpErrorText(result) + ".\nThe queued messages are kept; send them again when the mail host can be reached.";
  g_MailMessageBox(owner, text.c_str(), "Sending Mail", MB_ICONERROR);
  return PairOutcome::kStop;
}

}  // namespace

std::string QueueBusyText(const std::string &mailDir) {
  return "Another mail client kept the send queue of " + mailDir +
         " busy for more than ten seconds. Nothing was changed; try again in a moment, or close the other mail "
         "client.";
}

std::string QueueFullText(const std::string &mailDir) {
  return "The send queue of " + mailDir + " is full: " + std::to_string(kQueueSlots) +
         " messages wait there. Send them with Send Delayed Messages, then send this one again.";
}

std::string QueueFilePath(const std::string &mailDir, char kind, int number) {
  char name[24];
  std::snprintf(name, sizeof name, "\\tosend%c.%03d", kind, number);
  return mailDir + name;
}

std::string SendHeaderText(const SEND_HEADER &h) {
  std::string text = std::to_string(h.flags) + "\n";
  for (const auto *field :
       {&h.from, &h.subject, &h.to, &h.cc, &h.bcc, &h.inReplyTo, &h.replyTo, &h.date, &h.organization, &h.reDirect})
    text += OneLine(field->value_or("")) + "\n";
  const size_t count = std::min<size_t>(h.extraLines.size(), kMaxExtraLines);
  text += std::to_string(count) + "\n";
  for (size_t i = 0; i < count; ++i) text += OneLine(h.extraLines[i]) + "\n";
  return text;
}

bool ReadSendHeaderFile(const std::string &path, SEND_HEADER &header) {
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  SEND_HEADER h;
  std::string line;
  bool ok = ReadHeaderLine(f, kNumberLineLimit, line) && ReadNumber(line, INT32_MIN, INT32_MAX, h.flags);
  for (auto *field :
       {&h.from, &h.subject, &h.to, &h.cc, &h.bcc, &h.inReplyTo, &h.replyTo, &h.date, &h.organization, &h.reDirect}) {
    ok = ok && ReadHeaderLine(f, kTextLineLimit, line);
    if (ok && !line.empty()) *field = line;
  }
  int count = 0;
  ok = ok && ReadHeaderLine(f, kNumberLineLimit, line) && ReadNumber(line, 0, kMaxExtraLines, count);
  for (int i = 0; ok && i < count; ++i) {
    ok = ReadHeaderLine(f, kTextLineLimit, line);
    if (ok) h.extraLines.push_back(line);
  }
  std::fclose(f);
  if (ok) header = std::move(h);
  return ok;
}

int QueueMessage(const std::string &mailDir, const std::string &bodyPath, const SEND_HEADER &header) {
  if (!SyncFile(bodyPath)) return -1;
  const std::string text = SendHeaderText(header);
  MailboxLock writeLock;
  if (const int locked = TakeWriteLock(writeLock, mailDir); locked != 0) return locked;
  for (int n = 0; n < kQueueSlots; ++n) {
    const std::string body = QueueFilePath(mailDir, 'm', n), head = QueueFilePath(mailDir, 'h', n);
    const std::string aside = QueueFilePath(mailDir, 't', n);
    // A slot with any file of its own is taken (a pair, one being written, or one in flight).
    if (Exists(body) || Exists(head) || Exists(QueueFilePath(mailDir, 'f', n))) continue;
    if (!WriteNewFile(aside, text)) {
      if (Exists(aside)) continue;  // another writer has this slot
      return -1;
    }
    Step("queue", 1);
    if (!RenameNoReplace(bodyPath, body)) {
      DeleteFileA(aside.c_str());
      if (Exists(body)) continue;
      return -1;
    }
    Step("queue", 2);
    if (!RenameNoReplace(aside, head)) {
      // The body goes back where it was: nothing is queued half.
      if (!RenameNoReplace(body, bodyPath)) return n;  // a run will finish the pair from the aside header
      DeleteFileA(aside.c_str());
      return -1;
    }
    Step("queue", 3);
    return n;
  }
  return kQueueFull;
}

int SendDeferred(int ask, HWND owner) {
  const std::string mailDir = Settings().mailDir;
  // One run at a time per mail directory (a second mail client may have it
  // open with reading disabled): two runs would send the same pair twice.
  MailboxLock queueLock;
  if (!queueLock.Open(mailDir, kQueueLockName)) {
    if (queueLock.HeldElsewhere())
      g_MailMessageBox(owner,
                       "Another mail client is sending the queued messages of this mailbox; send them again when it "
                       "has finished.",
                       "Delayed Messages to Send", MB_ICONINFORMATION);
    else
      g_MailMessageBox(owner, LockFileText(mailDir, kQueueLockName).c_str(), "Delayed Messages to Send",
                       MB_ICONEXCLAMATION);
    return 0;
  }
  std::vector<int> numbers;
  {
    MailboxLock writeLock;
    if (!TakeWriteLockForRun(writeLock, mailDir, owner)) return 0;
    SettleOrphans(mailDir);
    numbers = QueuedNumbers(mailDir, 'm');
  }
  if (numbers.empty()) return 0;
  RUN_REPORT report;
  int sent = 0;
  for (const int number : numbers) {
    if (!Exists(QueueFilePath(mailDir, 'm', number))) continue;  // sent, or queued again under another number
    if (!ask) {
      if (g_MailMessageBox(owner, "Send Delayed Messages Now ?", "Delayed Messages to Send",
                           MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        break;
      ask = 1;
    }
    if (!CheckPassword(owner)) break;
    SEND_HEADER &header = CurrentSendHeader();
    ClearSendHeader(header, true);
    const std::string head = QueueFilePath(mailDir, 'h', number);
    bool inFlight = false, complete = false;
    {
      MailboxLock writeLock;
      if (!TakeWriteLockForRun(writeLock, mailDir, owner)) break;
      inFlight = SettleCrashLeftovers(mailDir, number);
      complete = ReadSendHeaderFile(head, header);
    }
    if (!complete) {
      report.incomplete.push_back(PairName(number) +
                                  (Exists(head) ? " (its header file is incomplete)" : " (it has no header file)"));
      continue;
    }
    if (inFlight) report.inFlight.push_back(PairName(number) + ", " + Describe(header));
    const PairOutcome outcome = SendPair(owner, mailDir, number, report);
    ClearSendHeader(header, true);
    if (outcome == PairOutcome::kSent) ++sent;
    if (outcome == PairOutcome::kStop) break;
  }
  ClearSendHeader(CurrentSendHeader(), true);
  ShowReport(owner, mailDir, report);
  return sent;
}
