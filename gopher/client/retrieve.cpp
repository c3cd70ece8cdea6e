// Retrieval: one TCP connection per activation. The request goes out, the
// answer is stored by the item's type (the document file, the menu file, a
// picture file, a file the user names) and the document list gets one row per
// line start. Winsock calls block; the program's blocking hook dispatches
// messages meanwhile and the busy flags keep a second retrieval from starting.
#include "gophercore.h"

#include <qxcommon.h>

#include <cstdio>

int g_ConnectBusy = 0;
int g_ReceiveBusy = 0;
DEFERRED_COMMAND g_Deferred;
void (*g_TreeChanged)(GopherItem *selected, int keepChildrenVisible) = nullptr;

namespace {

GopherUi g_DefaultUi;
GopherUi *g_Ui = &g_DefaultUi;

// An answer is received up to 32 KiB a call: a megabyte menu in 1 KiB calls
// cost a thousand receives, each a wait and a dispatch of the blocking hook.
constexpr int kBlock = 32 * 1024;
constexpr DWORD kProgressMs = 500;
constexpr const char *kErrorCaption = "burrowview Error";

void TreeChanged(GopherItem *selected, int keepChildrenVisible) {
  if (g_TreeChanged) g_TreeChanged(selected, keepChildrenVisible);
}

struct WinsockErrorEntry {
  int code;
  const char *text;
};

const WinsockErrorEntry kWinsockErrors[] = {
    {10004, "WSAEINTR - Blocking call was cancelled"},
    {10013, "WSAEACCES - Incorrect flags for use with broadcast address"},
    {10014, "WSAEFAULT - Name length argument incorrect"},
    {10022, "WSAEINVAL - Socket already bound to an address"},
    {10024, "WSAEMFILE - No more file descriptors available"},
    {10035, "WSAEWOULDBLOCK - Operation would block on socket marked non-blocking"},
    {10036, "WSAEINPROGRESS - Blocking call in progress"},
    {10038, "WSAENOTSOCK - Descriptor is not a socket"},
    {10040, "WSAEMSGSIZE - Datagram too large for specified buffer"},
    {10041, "WSAEPROTOTYPE - Incorrect protocol for this socket"},
    {10043, "WSAEPROTONOSUPPORT - Protocol not supported"},
    {10044, "WSAESOCKTNOSUPPORT - Socket type not supported in address family"},
    {10045, "WSAEOPNOTSUPP - Operation unsupported for STREAM socket"},
    {10047, "WSAEAFNOSUPPORT - Addresses in specified family not useable with this socket"},
    {10048, "WSAEADDRINUSE - Address already in use"},
    {10049, "WSAEADDRNOTAVAIL - Specified address not available from local machine"},
    {10050, "WSAENETDOWN - Network subsystem failure"},
    {10051, "WSAENETUNREACH - Remote network cannot be reached at this time"},
    {10052, "WSAENETRESET - Network reset"},
    {10054,
     "The remote host (%s) has abnormally terminated the connection.  This could indicate a problem on that server."},
    {10055, "WSAENOBUFS - No buffer space available"},
    {10056, "WSAEISCONN - Socket already connected"},
    {10057, "WSAENOTCONN - Socket not connected"},
    {10058, "WSAESHUTDOWN - Socket has been shutdown"},
    {10060, "WSAETIMEDOUT - Connect timed out before becoming established"},
    {10061, "The remote host (%s) has refused to accept a connection from you."},
    {10093, "WSANOTINITIALISED - No WSAStartup() occurred"},
};

std::string Format(const char *format, const char *text) {
  char buffer[512];
  snprintf(buffer, sizeof buffer, format, text);
  return buffer;
}

void Status(const char *format, const char *host) { Ui().SetStatus(Format(format, host).c_str()); }

// What a retrieval writes into and what happens to it at the end.
struct Output {
  FileHandle file;
  std::string path;
  bool toDocument = false;  // rows for the document list
  bool cso = false;         // rows start after the line's first ':'
  bool picture = false;
  bool saved = false;  // a file the user named
  bool sound = false;  // played while it arrives, no file
};

// Rows and line measures of a text or CSO answer, kept across blocks.
class RowTracker {
 public:
  explicit RowTracker(bool cso) : cso_(cso) {
    if (!cso_) Ui().DocumentAddRow(0);
  }
  void Take(const char *data, int n, long offset) {
    for (int i = 0; i < n; ++i) {
      const char c = data[i];
      const long at = offset + i;
      if (c == '\n') {
        if (cso_ && !emitted_) Ui().DocumentAddRow(start_);
        if (!line_.empty() && line_.back() == '\r') line_.pop_back();
        Ui().MeasureLine(line_);
        line_.clear();
        start_ = at + 1;
        emitted_ = !cso_;
        if (!cso_) Ui().DocumentAddRow(start_);
        continue;
      }
      if (cso_ && !emitted_ && c == ':') {
        Ui().DocumentAddRow(at + 1);
        emitted_ = true;
        line_.clear();  // the shown text starts after the colon
        continue;
      }
      if (line_.size() < kMaxCsoLine) line_.push_back(c);
    }
  }
  void Finish(long total) {
    if (cso_ && !emitted_ && start_ < total) Ui().DocumentAddRow(start_);
    if (!line_.empty()) Ui().MeasureLine(line_);
  }

 private:
  bool cso_;
  bool emitted_ = false;
  long start_ = 0;
  std::string line_;
};

bool WriteAll(HANDLE file, const char *data, size_t n) {
  DWORD written = 0;
  return WriteFile(file, data, static_cast<DWORD>(n), &written, nullptr) && written == static_cast<DWORD>(n);
}

// Received blocks are gathered into large writes: every write of the layer's
// files also looks for locked ranges, which a write per 1024-byte block pays
// a thousand times a megabyte.
class GatheredWriter {
 public:
  explicit GatheredWriter(HANDLE file) : file_(file) { pending_.reserve(kGather); }
  bool Add(const char *data, int n) {
    pending_.append(data, static_cast<size_t>(n));
    return pending_.size() < kGather || Flush();
  }
  bool Flush() {
    const bool ok = pending_.empty() || WriteAll(file_, pending_.data(), pending_.size());
    pending_.clear();
    return ok;
  }

 private:
  static constexpr size_t kGather = 256 * 1024;
  HANDLE file_;
  std::string pending_;
};

bool SendRequest(SOCKET s, const std::string &request) {
  size_t sent = 0;
  while (sent < request.size()) {
    const int n = WsSend(s, request.data() + sent, static_cast<int>(request.size() - sent), 0);
    if (n == SOCKET_ERROR || n == 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// A fresh file of the private folder for a picture, keeping only the
// extension the server proposed.
std::string PicturePath(const std::string &selector) {
  static unsigned counter = 0;
  std::string ext = "GIF";
  const std::string proposed = ProposedFileName(selector);
  const size_t dot = proposed.rfind('.');
  if (dot != std::string::npos && proposed.size() - dot <= 5 && dot + 1 < proposed.size())
    ext = proposed.substr(dot + 1);
  char name[64];
  snprintf(name, sizeof name, "Picture%u.%s", ++counter, ext.c_str());
  return TempPath(name);
}

HANDLE CreateOutput(const std::string &path, DWORD disposition) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Opens what the answer goes to, by the item's activation. False ends the
// retrieval (the user cancelled, or the file could not be made).
bool OpenOutput(GopherItem *item, GopherActivation act, std::string *request, Output *out) {
  if (item->typeIndex == kTypeSound && Ui().PlaySoundStart()) {
    out->sound = true;
    return true;
  }
  switch (act) {
    case kActText:
    case kActCso:
      Ui().DocumentReset();
      out->path = TempPath("UseFile");
      out->toDocument = true;
      out->cso = act == kActCso;
      out->file.Reset(CreateOutput(out->path, OPEN_ALWAYS));
      if (!out->file.ok()) return false;
      if (act == kActCso) {
        if (!FetchCsoFields(item)) return false;
        Ui().DocumentReset();
        if (!Ui().RunCsoDialog(*item, request)) return false;
      }
      return true;
    case kActMenu:
    case kActSearch:
      out->path = TempPath("MenuFile");
      out->file.Reset(CreateOutput(out->path, CREATE_ALWAYS));
      return out->file.ok();
    case kActPicture:
      out->path = PicturePath(item->selector);
      out->picture = true;
      Ui().DocumentReset();
      out->file.Reset(CreateOutput(out->path, CREATE_ALWAYS));
      return out->file.ok();
    default: {
      const std::string proposed = ProposedFileName(item->selector);
      std::string extension;
      int filter = 1;
      SaveDefaults(*item, proposed, &extension, &filter);
      if (!Ui().AskSaveFileName(proposed, filter, extension.c_str(), &out->path)) return false;
      out->saved = true;
      out->file.Reset(CreateOutput(out->path, CREATE_ALWAYS));
      if (!out->file.ok()) Ui().Message("Unable to create output file", kErrorCaption, MB_OK | MB_ICONSTOP);
      return out->file.ok();
    }
  }
}

int StartTerminal(GopherItem *item, const std::string &request) {
  const std::string user = request.substr(0, request.find('\r'));
  std::string command;
  if (!ExpandCommandTemplate(*item, user, &command)) {
    Ui().Message(("The item names a host or login that cannot be handed to the terminal safely:\n\"" + item->host +
                  "\", \"" + user + "\"\nNothing was started; choose another item.")
                     .c_str(),
                 kErrorCaption, MB_OK | MB_ICONSTOP);
    return 0;
  }
  Ui().StartProgram(command);
  return 0;
}

// A picture that cannot be shown stays unopened; the user may keep it.
void OfferToKeepPicture(const GopherItem &item, const std::string &path, const std::string &why) {
  const std::string text = "The picture could not be shown: " + why + ".  Choose a file name to keep it.";
  Ui().Message(text.c_str(), "burrowview", MB_OK | MB_ICONEXCLAMATION);
  const std::string proposed = ProposedFileName(item.selector);
  std::string extension;
  int filter = 2;
  SaveDefaults(item, proposed, &extension, &filter);
  std::string target;
  if (Ui().AskSaveFileName(proposed, filter, extension.c_str(), &target) &&
      !CopyFileA(path.c_str(), target.c_str(), FALSE))
    Ui().Message("Unable to create output file", kErrorCaption, MB_OK | MB_ICONSTOP);
}

void OfferToOpen(const std::string &path) {
  if (!MayOpenSavedFile(path)) return;
  const std::string question = "Open \"" + path + "\" with the program associated with its type?";
  if (Ui().Message(question.c_str(), "burrowview", MB_YESNO | MB_ICONQUESTION) == IDYES) Ui().OpenDocument(path);
}

}  // namespace

void SetGopherUi(GopherUi *ui) { g_Ui = ui ? ui : &g_DefaultUi; }
GopherUi &Ui() { return *g_Ui; }

void GopherUi::StartProgram(const std::string &commandLine) { WinExec(commandLine.c_str(), SW_SHOWNORMAL); }

void GopherUi::OpenDocument(const std::string &path) {
  ShellExecuteA(nullptr, "open", path.c_str(), nullptr, ".", SW_SHOWNORMAL);
}

void PostDeferredCommand() {
  if (g_Deferred.hwnd) PostMessageA(g_Deferred.hwnd, g_Deferred.message, g_Deferred.wParam, g_Deferred.lParam);
  g_Deferred = DEFERRED_COMMAND{};
}

std::string WinsockErrorText(int error, const char *host) {
  for (const WinsockErrorEntry &e : kWinsockErrors)
    if (e.code == error) return Format(e.text, host ? host : "");
  char buffer[64];
  snprintf(buffer, sizeof buffer, "Unknown Winsock error - %d", error);
  return buffer;
}

void ShowWinsockError(const char *operation, const char *host) {
  const std::string text = WinsockErrorText(WSAGetLastError(), host);
  Ui().Message(text.c_str(), operation, MB_OK);
}

SOCKET ConnectToServer(SOCKET s, const char *host, int port) {
  Status("Connecting to server %s", host);
  g_ConnectBusy = 1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<u_short>(port));
  addr.sin_addr.s_addr = inet_addr(host);
  bool ok = true;
  if (addr.sin_addr.s_addr == INADDR_NONE) {
    hostent *h = gethostbyname(host);
    if (h && h->h_addr_list[0] && h->h_length == 4) {
      memcpy(&addr.sin_addr, h->h_addr_list[0], 4);
    } else {
      if (WSAGetLastError() == WSAEINTR)
        PostDeferredCommand();
      else
        Ui().Message(Format("Unable to resolve hostname \"%s\"", host).c_str(), kErrorCaption, MB_OK | MB_ICONSTOP);
      ok = false;
    }
  }
  if (ok && WsConnect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == SOCKET_ERROR) {
    if (WSAGetLastError() == WSAEINTR)
      PostDeferredCommand();
    else
      ShowWinsockError("Connect", host);
    ok = false;
  }
  g_ConnectBusy = 0;
  if (!ok) {
    WsCloseSocket(s);
    Ui().SetStatus("");
    return INVALID_SOCKET;
  }
  return s;
}

int RetrieveItem(GopherItem *item, const std::string &request, HWND owner) {
  const GopherActivation act = ActivationOf(*item);
  if (act == kActTelnet || act == kActTn3270) return StartTerminal(item, request);
  if (act == kActInfo) return 0;
  std::string req = request;
  Output out;
  if (!OpenOutput(item, act, &req, &out)) {
    Ui().SetStatus("");
    return 0;
  }
  const char *host = item->host.c_str();
  Status("%s - Requesting information", host);
  Ui().SetStatus("Obtaining a socket");
  SOCKET s = WsSocket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    ShowWinsockError("Socket", host);
    if (out.sound) Ui().PlaySoundEnd(false);
    Ui().SetStatus("");
    return 0;
  }
  g_ReceiveBusy = 1;
  auto fail = [&](bool removeFile) {
    if (out.sound) Ui().PlaySoundEnd(false);
    g_ReceiveBusy = 0;
    Ui().SetStatus("");
    out.file.Close();
    if (removeFile && (out.saved || out.picture)) DeleteFileA(out.path.c_str());
    return 0;
  };
  if (ConnectToServer(s, host, item->port) == INVALID_SOCKET) return fail(true);
  if (!SendRequest(s, req)) {
    if (WSAGetLastError() == WSAEINTR)
      PostDeferredCommand();
    else
      ShowWinsockError("Send Data", host);
    WsCloseSocket(s);
    return fail(true);
  }
  Ui().SetStatus("");
  if (!out.sound) {
    SetFilePointer(out.file.get(), 0, nullptr, FILE_BEGIN);
    SetEndOfFile(out.file.get());
  }
  Status("%s - Receiving information", host);
  std::optional<RowTracker> rows;
  if (out.toDocument) rows.emplace(out.cso);

  char block[kBlock];
  GatheredWriter writer(out.file.get());
  long total = 0;
  DWORD lastReport = GetTickCount();
  for (;;) {
    const int n = WsRecv(s, block, sizeof block, 0);
    if (n == 0) break;
    if (n == SOCKET_ERROR) {
      if (WSAGetLastError() == WSAEINTR)
        PostDeferredCommand();
      else
        ShowWinsockError("Receive Data", host);
      WsCloseSocket(s);
      return fail(true);
    }
    // What arrived goes to disk at least as often as the progress line
    // changes, so rows painted during a long answer show their text.
    const bool due = GetTickCount() - lastReport > kProgressMs;
    if (due) {
      char progress[300];
      snprintf(progress, sizeof progress, "%s - Receiving - %ld bytes received", host, total + n);
      Ui().SetStatus(progress);
      lastReport = GetTickCount();
    }
    if (out.sound) {
      Ui().PlaySoundBlock(block, n);
      total += n;
      continue;
    }
    if (!writer.Add(block, n) || (due && !writer.Flush())) {
      // A short file is never passed off as the answer.
      Ui().Message("Error writing file.  Disk Full?", "Cannot Complete Operation", MB_OK | MB_ICONSTOP);
      WsCloseSocket(s);
      return fail(true);
    }
    if (rows) rows->Take(block, n, total);
    total += n;
  }
  WsCloseSocket(s);
  if (!writer.Flush()) {
    Ui().Message("Error writing file.  Disk Full?", "Cannot Complete Operation", MB_OK | MB_ICONSTOP);
    return fail(true);
  }
  Ui().SetStatus("");
  if (out.sound) {
    Ui().SetStatus("Playing the rest of the sound");
    Ui().PlaySoundEnd(true);
    Ui().SetStatus("");
    g_ReceiveBusy = 0;
    return 1;
  }
  if (item->typeIndex != kTypeBinary5 && item->typeIndex != kTypeBinary9) total = CutTerminator(out.file.get(), total);
  out.file.Close();
  if (rows) {
    rows->Finish(total);
    Ui().DocumentDone(total);
  }
  g_ReceiveBusy = 0;
  if (out.picture) {
    Ui().SetStatus("Decoding GIF image");
    std::string why;
    const bool shown = Ui().ShowPicture(out.path, &why);
    Ui().SetStatus("");
    if (!shown) OfferToKeepPicture(*item, out.path, why);
  } else if (out.saved) {
    OfferToOpen(out.path);
  }
  return 1;
}

void ActivateItem(GopherItem *item, HWND owner) {
  if (!item) {
    Ui().Message("An error occurred while locating the chosen information", "Gopher Retrieval Unsuccessful",
                 MB_OK | MB_ICONSTOP);
    return;
  }
  if (!(item->flags & kItemSelectable)) return;
  if (item->flags & kItemExpanded) {
    if (item->firstChild || item->typeIndex == kTypeSearch) {
      CollapseItem(item, 0);
      TreeChanged(item, 0);
    }
    return;
  }
  if (item->firstChild) {
    item->flags |= kItemExpanded;
    TreeChanged(item, 1);
    return;
  }
  std::string request = item->selector;
  if (item->typeIndex == kTypeSearch) {
    std::string words;
    if (!Ui().AskSearchWords(*item, &words)) return;
    request += '\t';
    request += words;
  }
  request += "\r\n";
  if (!RetrieveItem(item, request, owner)) return;
  if (IsMenuType(item->typeIndex) && LoadMenuFile(item, 1) < 0)
    Ui().Message("Unable to allocate memory", kErrorCaption, MB_OK | MB_ICONSTOP);
  if (item->firstChild) {
    item->flags |= kItemExpanded;
    TreeChanged(item, 1);
  }
}

int AddRootItem(GopherItem *item, int clearFirst) {
  AppendRoot(item, clearFirst);
  TreeChanged(item, 0);
  if (!RetrieveItem(item, item->selector + "\r\n", nullptr)) {
    Ui().Message("Problem Opening Server", "Server Problem", MB_OK | MB_ICONSTOP);
    return 0;
  }
  if (IsMenuType(item->typeIndex)) {
    if (LoadMenuFile(item, 1) < 0) Ui().Message("Unable to allocate memory", kErrorCaption, MB_OK | MB_ICONSTOP);
    item->flags |= kItemExpanded;
  }
  TreeChanged(item, 0);
  return 1;
}
