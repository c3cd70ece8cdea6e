// Special attachments (FTP pointer, mail-server pointer, voice recording):
// their blocks, their dialogs and MimeGetSpecial; and received external-body
// parts: an FTP reference handed to the FTP client, a mail-server request
// queued in the send queue.
#include "special.h"
#include "recorder.h"

#include <cstring>
#include <vector>

#include "attachkit.h"

namespace attachkit {

// ---------------------------------------------------------------------------
// Blocks
// ---------------------------------------------------------------------------
namespace {

// A global memory block locked for as long as it lives.
class LockedBlock {
 public:
  explicit LockedBlock(HGLOBAL block) : block_(block), data_(static_cast<uint8_t *>(GlobalLock(block))) {
    size_ = data_ ? GlobalSize(block) : 0;
  }
  ~LockedBlock() {
    if (data_) GlobalUnlock(block_);
  }
  LockedBlock(const LockedBlock &) = delete;
  LockedBlock &operator=(const LockedBlock &) = delete;
  uint8_t *data() const { return data_; }
  size_t size() const { return size_; }

 private:
  HGLOBAL block_;
  uint8_t *data_;
  size_t size_ = 0;
};

uint32_t Get32(const uint8_t *p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
void Put32(uint8_t *p, uint32_t v) { std::memcpy(p, &v, 4); }

HGLOBAL NewBlock(const std::vector<uint8_t> &bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes.size());
  if (!block) return nullptr;
  void *p = GlobalLock(block);
  if (!p) {
    GlobalFree(block);
    return nullptr;
  }
  std::memcpy(p, bytes.data(), bytes.size());
  GlobalUnlock(block);
  return block;
}

}  // namespace

HGLOBAL MakeFtpPointer(const FtpPointer &pointer) {
  std::vector<uint8_t> bytes(kFtpPointerHead);
  Put32(bytes.data(), (pointer.anonymous ? FTP_POINTER_ANONYMOUS : 0) | (pointer.binary ? FTP_POINTER_BINARY : 0));
  const std::string *texts[] = {&pointer.site, &pointer.directory, &pointer.name};
  for (int i = 0; i < 3; ++i) {
    Put32(bytes.data() + 4 + 4 * i, static_cast<uint32_t>(texts[i]->size() + 1));
    bytes.insert(bytes.end(), texts[i]->begin(), texts[i]->end());
    bytes.push_back(0);
  }
  return NewBlock(bytes);
}

std::optional<FtpPointer> ReadFtpPointer(HGLOBAL block) {
  LockedBlock b(block);
  if (!b.data() || b.size() < kFtpPointerHead) return std::nullopt;
  FtpPointer pointer;
  const uint32_t flags = Get32(b.data());
  pointer.anonymous = flags & FTP_POINTER_ANONYMOUS;
  pointer.binary = flags & FTP_POINTER_BINARY;
  std::string *texts[] = {&pointer.site, &pointer.directory, &pointer.name};
  size_t at = kFtpPointerHead;
  for (int i = 0; i < 3; ++i) {
    const uint32_t length = Get32(b.data() + 4 + 4 * i);
    // Each length counts its NUL, which must be the text's only one.
    if (length == 0 || length > b.size() - at) return std::nullopt;
    const auto *text = reinterpret_cast<const char *>(b.data() + at);
    if (text[length - 1] != '\0' || std::strlen(text) != length - 1) return std::nullopt;
    texts[i]->assign(text, length - 1);
    at += length;
  }
  return pointer;
}

HGLOBAL MakeMailPointer(const MailPointer &pointer) {
  std::vector<uint8_t> bytes(pointer.server.begin(), pointer.server.end());
  bytes.push_back(0);
  bytes.insert(bytes.end(), pointer.commands.begin(), pointer.commands.end());
  bytes.push_back(0);
  return NewBlock(bytes);
}

std::optional<MailPointer> ReadMailPointer(HGLOBAL block) {
  LockedBlock b(block);
  if (!b.data()) return std::nullopt;
  const auto *begin = reinterpret_cast<const char *>(b.data());
  const auto *end = begin + b.size();
  const char *nul = std::find(begin, end, '\0');
  if (nul == end) return std::nullopt;
  const char *nul2 = std::find(nul + 1, end, '\0');
  if (nul2 == end) return std::nullopt;
  return MailPointer{std::string(begin, nul), std::string(nul + 1, nul2)};
}

std::optional<HGLOBAL> BlockOfEntry(const char *entry) {
  if (!entry || entry[0] != '\x01') return std::nullopt;
  uint64_t value = 0;
  const char *p = entry + 1;
  if (*p < '0' || *p > '9') return std::nullopt;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  return reinterpret_cast<HGLOBAL>(static_cast<uintptr_t>(value));
}

namespace {

// The blocks of a recording chain in order, each checked to be what its
// wave header says: a locked block whose header carries its own handle, with
// data inside it. At most a day of one-second blocks (a chain that loops ends
// there).
constexpr size_t kMaxRecordingBlocks = 86400;

struct ChainBlock {
  HGLOBAL handle;
  const uint8_t *samples;
  size_t count;
};

bool WalkChain(HGLOBAL first, std::vector<ChainBlock> &blocks) {
  HGLOBAL block = first;
  while (block) {
    if (blocks.size() == kMaxRecordingBlocks) return false;
    LockedBlock b(block);
    if (!b.data() || b.size() < sizeof(WAVEHDR)) return false;
    WAVEHDR header;
    std::memcpy(&header, b.data(), sizeof header);
    if (header.dwUser != reinterpret_cast<DWORD_PTR>(block)) return false;
    const auto *data = reinterpret_cast<const uint8_t *>(header.lpData);
    const size_t count = std::min<size_t>(header.dwBytesRecorded, header.dwBufferLength);
    if (data < b.data() || data > b.data() + b.size() || count > static_cast<size_t>(b.data() + b.size() - data))
      return false;
    blocks.push_back({block, data, count});
    block = header.lpNext ? GlobalHandle(header.lpNext) : nullptr;
    if (header.lpNext && !block) return false;
  }
  return true;
}

}  // namespace

bool ForEachRecordedBlock(HGLOBAL first, const std::function<void(const uint8_t *, size_t)> &each) {
  std::vector<ChainBlock> blocks;
  const bool whole = WalkChain(first, blocks);
  if (!whole) return false;
  for (const auto &b : blocks) each(b.samples, b.count);
  return true;
}

void FreeRecording(HGLOBAL first) {
  std::vector<ChainBlock> blocks;
  WalkChain(first, blocks);
  if (blocks.empty()) {
    GlobalFree(first);
    return;
  }
  for (const auto &b : blocks) {
    while (GlobalUnlock(b.handle)) {
    }
    GlobalFree(b.handle);
  }
}

// ---------------------------------------------------------------------------
// Dialogs
// ---------------------------------------------------------------------------
namespace {

std::string ItemText(HWND dialog, int id, size_t limit) {
  std::vector<char> buffer(limit + 1, '\0');
  GetDlgItemTextA(dialog, id, buffer.data(), static_cast<int>(buffer.size()));
  return buffer.data();
}

template <typename T>
T *DialogData(HWND dialog) {
  return reinterpret_cast<T *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
}

constexpr size_t kHostLimit = 1024;

INT_PTR CALLBACK FtpDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
      for (int id : {IDC_FTP_HOST, IDC_FTP_DIRECTORY, IDC_FTP_FILE})
        SendDlgItemMessageA(dialog, id, EM_LIMITTEXT, kHostLimit, 0);
      CheckRadioButton(dialog, IDC_FTP_BINARY, IDC_FTP_ASCII, IDC_FTP_BINARY);
      CheckRadioButton(dialog, IDC_FTP_ANONYMOUS, IDC_FTP_USER, IDC_FTP_ANONYMOUS);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_FTP_BINARY:
        case IDC_FTP_ASCII: CheckRadioButton(dialog, IDC_FTP_BINARY, IDC_FTP_ASCII, LOWORD(wParam)); return TRUE;
        case IDC_FTP_ANONYMOUS:
        case IDC_FTP_USER: CheckRadioButton(dialog, IDC_FTP_ANONYMOUS, IDC_FTP_USER, LOWORD(wParam)); return TRUE;
        case IDOK: {
          FtpPointer pointer;
          pointer.anonymous = IsDlgButtonChecked(dialog, IDC_FTP_ANONYMOUS) == BST_CHECKED;
          pointer.binary = IsDlgButtonChecked(dialog, IDC_FTP_BINARY) == BST_CHECKED;
          pointer.site = ItemText(dialog, IDC_FTP_HOST, kHostLimit);
          pointer.directory = ItemText(dialog, IDC_FTP_DIRECTORY, kHostLimit);
          pointer.name = ItemText(dialog, IDC_FTP_FILE, kHostLimit);
          if (pointer.site.empty() || pointer.directory.empty() || pointer.name.empty()) {
            ErrorBox(dialog, LoadText(IDS_ALL_FIELDS));
            return TRUE;
          }
          *DialogData<FtpPointer>(dialog) = std::move(pointer);
          EndDialog(dialog, 1);
          return TRUE;
        }
        case IDCANCEL: EndDialog(dialog, 0); return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

constexpr size_t kServerLimit = 255, kCommandsLimit = 8192;

INT_PTR CALLBACK MailDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
      SendDlgItemMessageA(dialog, IDC_MAIL_SERVER, EM_LIMITTEXT, kServerLimit, 0);
      SendDlgItemMessageA(dialog, IDC_MAIL_COMMANDS, EM_LIMITTEXT, kCommandsLimit, 0);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK: {
          auto *pointer = DialogData<MailPointer>(dialog);
          pointer->server = ItemText(dialog, IDC_MAIL_SERVER, kServerLimit);
          pointer->commands = ItemText(dialog, IDC_MAIL_COMMANDS, kCommandsLimit);
          EndDialog(dialog, 1);
          return TRUE;
        }
        case IDCANCEL: EndDialog(dialog, 0); return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

struct Login {
  std::string user, password;
};
constexpr size_t kLoginLimit = 255;

INT_PTR CALLBACK UserFtpDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
      SendDlgItemMessageA(dialog, IDC_USERFTP_NAME, EM_LIMITTEXT, kLoginLimit, 0);
      SendDlgItemMessageA(dialog, IDC_USERFTP_PASSWORD, EM_LIMITTEXT, kLoginLimit, 0);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK: {
          auto *login = DialogData<Login>(dialog);
          login->user = ItemText(dialog, IDC_USERFTP_NAME, kLoginLimit);
          login->password = ItemText(dialog, IDC_USERFTP_PASSWORD, kLoginLimit);
          EndDialog(dialog, 1);
          return TRUE;
        }
        case IDCANCEL: EndDialog(dialog, 2); return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace

// ---------------------------------------------------------------------------
// External-body parts
// ---------------------------------------------------------------------------
namespace {

// A text that can stand as one token of the FTP client's command line, where a
// double quote toggles quoting and nothing escapes it: no double quotes and
// no control characters.
bool FitsCommandToken(const std::string &text) {
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || u < 32 || u == 127) return false;
  }
  return true;
}

bool IsWord(const std::string &text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.'))
      return false;
  return true;
}

int32_t FtpHandOff(Part &part, bool anonymous) {
  Login login;
  if (anonymous) {
    login = {"anonymous", part.userAddress};
  } else if (DialogBoxParamA(Instance(), kUserFtpDialog, part.owner, UserFtpDlgProc,
                             reinterpret_cast<LPARAM>(&login)) != 1) {
    return MIME_NOT_HANDLED;
  }
  const PartHeader &h = part.header;
  const auto site = LookupParameter(h.firstField, "site");
  const auto name = LookupParameter(h.firstField, "name");
  if (!site || !name) return MIME_HANDLED;
  const std::string directory = LookupParameter(h.firstField, "directory").value_or("");
  const std::string mode = LookupParameter(h.firstField, "mode").value_or("ascii");
  // The file is fetched into the mail directory under its own base name only,
  // and every token must read back as exactly one token.
  const std::string file = SafeFileComponent(*name);
  if (!IsWord(*site) || !IsWord(mode) || file.empty() || !FitsCommandToken(file) || !FitsCommandToken(directory) ||
      !FitsCommandToken(login.user) || !FitsCommandToken(login.password) || !FitsCommandToken(part.mailDir))
    return MIME_HANDLED;
  const std::string command = "filemover \"" + *site + "\" \"" + login.user + "\" \"" + login.password + "\" \"\" \"" +
                              directory + "\" \"" + file + "\" \"" + part.mailDir + "\" \"" + mode + "\"";
  return WinExec(command.c_str(), SW_SHOWMINIMIZED) < 32 ? MIME_HANDLED : MIME_NOT_HANDLED;
}

// A header field line ("Name: value", the name without blanks).
bool LooksLikeField(const std::string &line) {
  const size_t colon = line.find(':');
  if (colon == 0 || colon == std::string::npos) return false;
  for (size_t i = 0; i < colon; ++i)
    if (static_cast<unsigned char>(line[i]) <= 32 || static_cast<unsigned char>(line[i]) >= 127) return false;
  return true;
}

// Text for one line of the queue's header file.
std::string OneLine(const std::string &text) {
  std::string line = text;
  for (char &c : line)
    if (c == '\r' || c == '\n') c = ' ';
  return line;
}

bool WriteText(OutputFile &file, const std::string &text) {
  return file.Write(reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

// Where the request begins: the body of an external-body part begins with
// the header of the message it names and a blank line, which are not part of
// the request. A body whose first line is not a header field is the request
// itself.
uint64_t RequestStart(Part &part) {
  BufferedInput in(part.reader);
  in.Seek(part.bodyStart);
  std::string first;
  if (!in.ReadLine(first, kFieldLimit)) return part.bodyStart;
  while (!first.empty() && (first.back() == '\n' || first.back() == '\r')) first.pop_back();
  if (!first.empty() && !LooksLikeField(first)) return part.bodyStart;
  in.Seek(part.bodyStart);
  while (!ReadHeaderField(in, part.bodyEnd).empty()) {
  }
  return std::min(in.Tell(), part.bodyEnd);
}

// Copies the request into the queue's body file as a text file holds it: its
// bytes as they are, every line ended by CR LF.
bool CopyRequest(Part &part, OutputFile &file) {
  std::vector<uint8_t> chunk(16384), out;
  out.reserve(2 * chunk.size() + 2);
  uint8_t last = '\n';
  for (uint64_t at = RequestStart(part); at < part.bodyEnd;) {
    const long long n = part.reader.ReadAt(at, chunk.data(), std::min<uint64_t>(chunk.size(), part.bodyEnd - at));
    if (n <= 0) return false;
    out.clear();
    for (long long i = 0; i < n; ++i) {
      if (chunk[i] == '\n' && last != '\r') out.push_back('\r');
      out.push_back(chunk[i]);
      last = chunk[i];
    }
    if (!file.Write(out.data(), out.size())) return false;
    at += static_cast<uint64_t>(n);
  }
  static const uint8_t kLineEnd[] = {'\r', '\n'};
  return last == '\n' || file.Write(kLineEnd, sizeof kLineEnd);
}

// The send queue's write lock "tosendw.lck" in the mail directory, which the
// mail client holds while it queues a pair and while a run settles the queue
// or reads a pair's header: held here from choosing the number until the
// header is written, so a mail client sending the queue (this one or another
// on the same mailbox) never meets the request half written. Waits at most
// ten seconds for it.
constexpr DWORD kQueueLockWaitMs = 10000;
bool LockSendQueue(const std::string &mailDir, OwnedHandle &lock) {
  std::string path;
  if (!JoinPath(mailDir, "tosendw.lck", path)) return false;
  for (const DWORD start = GetTickCount();;) {
    lock.Reset(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (lock.valid()) return true;
    if (GetLastError() != ERROR_SHARING_VIOLATION || GetTickCount() - start >= kQueueLockWaitMs) return false;
    Sleep(10);
  }
}

int32_t QueueMailServerRequest(Part &part) {
  const auto server = LookupParameter(part.header.firstField, "server");
  if (!server) return MIME_NOT_HANDLED;
  part.ReadHeader();
  // The request goes out in the user's name: the user says so first.
  char question[1024];
  std::snprintf(question, sizeof question, LoadText(IDS_CONFIRM_REQUEST).c_str(), OneLine(*server).c_str());
  if (MessageBoxA(part.owner, question, LoadText(IDS_CAPTION).c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES)
    return MIME_HANDLED;
  OwnedHandle queueLock;
  if (!LockSendQueue(part.mailDir, queueLock)) {
    ErrorBox(part.owner,
             "The send queue in " + part.mailDir +
                 " is kept busy by another mail client, or its lock file cannot be made there. The request was not "
                 "queued: open this part again in a moment.");
    return MIME_HANDLED;
  }
  // The first free number of the queue, its body file made exclusively.
  OutputFile body, header;
  bool ok = false;
  unsigned number = 0;
  for (; number <= 999 && !ok; ++number) {
    char name[32];
    std::snprintf(name, sizeof name, "tosendm.%03u", number);
    std::string path;
    if (!JoinPath(part.mailDir, name, path)) break;
    ok = body.Create(path, true);
    if (!ok && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  char header_name[32];
  std::snprintf(header_name, sizeof header_name, "tosendh.%03u", number - 1);
  std::string header_path;
  ok = ok && JoinPath(part.mailDir, header_name, header_path);
  ok = ok && CopyRequest(part, body);
  ok = ok && header.Create(header_path, false);
  // The send header: flags, From, Subject, To, then Cc, Bcc, In-Reply-To,
  // Reply-To, Date, Organization and ReDirect empty, and no extra lines.
  ok = ok && WriteText(header, "0\r\n" + OneLine(part.userAddress) + "\r\nMime-Mail-Server\r\n" + OneLine(*server) +
                                   "\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n0\r\n");
  if (!ok) {
    header.Discard();
    body.Discard();
    ErrorBox(part.owner, LoadText(IDS_CANNOT_CREATE));
    return MIME_HANDLED;
  }
  return MIME_MAIL_QUEUED;
}

}  // namespace

int32_t ExternalBody(Part &part) {
  const auto access = LookupParameter(part.header.firstField, "access-type");
  if (!access) return MIME_NOT_HANDLED;
  if (EqualNoCase(*access, "mail-server")) return QueueMailServerRequest(part);
  if (EqualNoCase(*access, "ftp")) return FtpHandOff(part, false);
  if (EqualNoCase(*access, "anon-ftp")) return FtpHandOff(part, true);
  return MIME_NOT_HANDLED;
}

}  // namespace attachkit

using namespace attachkit;

extern "C" QX_DLLEXPORT HGLOBAL WINAPI MimeGetSpecial(int32_t type, HGLOBAL handle, HWND owner) {
  switch (type) {
    case MIME_ATTACH_FTP: {
      if (handle) {
        GlobalFree(handle);
        return nullptr;
      }
      FtpPointer pointer;
      if (DialogBoxParamA(Instance(), kFtpDialog, owner, FtpDlgProc, reinterpret_cast<LPARAM>(&pointer)) != 1)
        return nullptr;
      return MakeFtpPointer(pointer);
    }
    case MIME_ATTACH_MAILSERVER: {
      if (handle) {
        GlobalFree(handle);
        return nullptr;
      }
      MailPointer pointer;
      if (DialogBoxParamA(Instance(), kMailDialog, owner, MailDlgProc, reinterpret_cast<LPARAM>(&pointer)) != 1)
        return nullptr;
      return MakeMailPointer(pointer);
    }
    case MIME_ATTACH_VOICE:
      if (handle) {
        FreeRecording(handle);
        return nullptr;
      }
      return RecordVoice(owner);
  }
  return nullptr;
}
