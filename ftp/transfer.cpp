// Copying the selected entries into the other pane, in every direction:
// local to local, local to remote, remote to local and host to host through
// this machine. A file counts as copied only when every byte was written and
// each server confirmed the end with a 2xx reply; otherwise its partial
// target is deleted and the file is reported failed. A local target is
// written under "<name>.part" and takes its name only when complete, so an
// older file of that name survives a failed or cancelled copy.
#include "ftpcore.h"
#include "profiles.h"
#include "unattended.h"

#include <common/qxcommon.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

int g_TextMode = 0;
int g_AllFiles = 0;

namespace {

constexpr int kFileBlock = 8192;
constexpr int kSocketBlock = 8191;
constexpr char kCtrlZ = 0x1A;

int g_overwritePrompt = 1;

bool IsRemote(int pane) { return g_Panes[pane].kind != kPaneLocal; }

std::string Format(const char *format, const std::string &a, const std::string &b) {
  char text[1024];
  snprintf(text, sizeof text, format, a.c_str(), b.c_str());
  return text;
}

// The directory part of a pane's path (after "host:" for a remote pane).
std::string PaneDirectory(int pane) {
  const FTP_PANE &p = g_Panes[pane];
  return std::string(p.path + std::min<size_t>(static_cast<size_t>(p.prefixLength), strlen(p.path)));
}

// Bytes that are neither letters, digits, punctuation nor white space.
bool LooksLikeText(const char *data, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(data[i]);
    if (!isalnum(c) && !ispunct(c) && !isspace(c)) return false;
  }
  return true;
}

// One end of a copy: a data connection or a local file.
struct Endpoint {
  int pane = -1;
  bool remote = false;
  SOCKET data = INVALID_SOCKET;
  HANDLE file = INVALID_HANDLE_VALUE;
  std::string name;       // the name in the pane's directory
  std::string finalPath;  // local target: the file's own path
  std::string partPath;   // local target: where it is written meanwhile
};

bool SendType(int pane) {
  const std::string type = g_TextMode ? "A" : "I";
  return FtpCommandReply(pane, "TYPE", &type) == 2;
}

// TYPE, PORT and the transfer command; the data socket or INVALID_SOCKET.
SOCKET OpenRemote(int pane, const char *verb, const std::string &name) {
  if (!SendType(pane)) return INVALID_SOCKET;
  SOCKET listener = OpenDataPort(pane);
  if (listener == INVALID_SOCKET) return INVALID_SOCKET;
  return AcceptData(listener, pane, verb, &name);
}

// Asks "Overwrite" (and "Exists" for a new name). 1 go on with *name, -2
// skip the file quietly.
int ConfirmOverwrite(std::string *name, bool *renamed) {
  switch (Ui().AskOverwrite(name->c_str())) {
    case 0: return -2;
    case 3: g_overwritePrompt = 0; return 1;
    case 2: {
      std::string newName;
      if (!Ui().AskNewName("Exists", name->c_str(), &newName)) return -2;
      *name = newName;
      *renamed = true;
      return 1;
    }
    default: return 1;
  }
}

// A name a remote directory may take: no path separators, nothing empty.
bool RemoteNameAcceptable(const std::string &name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

int StoreOpen(int pane, Endpoint *target) {
  for (;;) {
    if (!RemoteNameAcceptable(target->name)) {
      std::string newName;
      if (!Ui().AskNewName("Invalid", target->name.c_str(), &newName)) return -2;
      target->name = newName;
      continue;
    }
    bool renamed = false;
    if (g_overwritePrompt && FindEntry(pane, target->name)) {
      if (ConfirmOverwrite(&target->name, &renamed) < 0) return -2;
      if (renamed) continue;
    }
    break;
  }
  target->data = OpenRemote(pane, "STOR", target->name);
  return target->data == INVALID_SOCKET ? -1 : 1;
}

std::string JoinLocal(int pane, const std::string &name) {
  std::string path = g_Panes[pane].path;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  return path + name;
}

bool LocalNameValid(const std::string &name, std::string *accepted) {
  *accepted = LocalNameFor(name);
  if (accepted->empty()) return false;
  // The platform's own rules for a file name (reserved characters).
  OFSTRUCT parsed{};
  return OpenFile(accepted->c_str(), &parsed, OF_PARSE) != HFILE_ERROR;
}

int CreateLocalTarget(int pane, Endpoint *target) {
  for (;;) {
    std::string accepted;
    if (!LocalNameValid(target->name, &accepted)) {
      std::string newName;
      if (!Ui().AskNewName("Invalid", target->name.c_str(), &newName)) return -2;
      target->name = newName;
      continue;
    }
    target->name = accepted;
    target->finalPath = JoinLocal(pane, accepted);
    bool renamed = false;
    if (g_overwritePrompt && GetFileAttributesA(target->finalPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
      if (ConfirmOverwrite(&target->name, &renamed) < 0) return -2;
      if (renamed) continue;
    }
    break;
  }
  // A fresh "<name>.part" (".part1", ... when one is in the way).
  for (int n = 0; n < 100; ++n) {
    target->partPath = target->finalPath + ".part" + (n ? std::to_string(n) : std::string());
    target->file =
        CreateFileA(target->partPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (target->file != INVALID_HANDLE_VALUE) return 1;
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return -1;
}

int OpenLocalSource(int pane, Endpoint *source, bool sniff) {
  source->finalPath = JoinLocal(pane, source->name);
  source->file = CreateFileA(source->finalPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
  if (source->file == INVALID_HANDLE_VALUE) return -1;
  if (sniff) {
    char head[512];
    DWORD got = 0;
    ReadFile(source->file, head, sizeof head, &got, nullptr);
    g_TextMode = LooksLikeText(head, got) ? 1 : 0;
    SetFilePointer(source->file, 0, nullptr, FILE_BEGIN);
  }
  return 1;
}

// Turns a block into what the target gets: TYPE A lines between the
// network's CR LF and the local file's LF; everything else unchanged.
class LineEnds {
 public:
  LineEnds(bool toLocal, bool toNetwork) : toLocal_(toLocal), toNetwork_(toNetwork) {}
  const char *Convert(const char *data, int length, int *outLength) {
    if (!toLocal_ && !toNetwork_) {
      *outLength = length;
      return data;
    }
    out_.clear();
    for (int i = 0; i < length; ++i) {
      const char c = data[i];
      if (toNetwork_) {
        if (c == '\n') out_ += '\r';
        out_ += c;
        continue;
      }
      // A CR is held back until the next byte shows whether it ends a line.
      if (pendingCr_ && c != '\n') out_ += '\r';
      pendingCr_ = c == '\r';
      if (!pendingCr_) out_ += c;
    }
    *outLength = static_cast<int>(out_.size());
    return out_.data();
  }
  // A CR at the very end of the file was no line end.
  bool Flush(std::string *rest) {
    if (!pendingCr_) return false;
    pendingCr_ = false;
    *rest = "\r";
    return true;
  }

 private:
  bool toLocal_, toNetwork_;
  bool pendingCr_ = false;
  std::string out_;
};

// Gathers the blocks for a local target and writes them in larger pieces:
// each write to a file of the layer also asks whether another process holds
// a range lock there, which per 8 KB block made a download a third slower
// than other clients.
class LocalWriter {
 public:
  explicit LocalWriter(HANDLE file) : file_(file) { pending_.reserve(kPiece); }
  bool Append(const char *data, size_t length) {
    if (pending_.size() + length > kPiece && !Flush()) return false;
    pending_.insert(pending_.end(), data, data + length);
    return true;
  }
  // Writes what is gathered; false (after a "Write Error" box) when the
  // file took fewer bytes than it was given.
  bool Flush() {
    if (pending_.empty()) return true;
    DWORD written = 0;
    const DWORD length = static_cast<DWORD>(pending_.size());
    const bool ok = WriteFile(file_, pending_.data(), length, &written, nullptr) && written == length;
    pending_.clear();
    if (!ok) {
      char text[160];
      snprintf(text, sizeof text, "Only %lu of %lu bytes written; Disk full?.  Terminating transfer.",
               static_cast<unsigned long>(written), static_cast<unsigned long>(length));
      Ui().ShowWarning(text, "Write Error");
    }
    return ok;
  }

 private:
  static constexpr size_t kPiece = 256 * 1024;
  HANDLE file_;
  std::vector<char> pending_;
};

int Percent(uint64_t part, uint64_t whole) {
  if (whole == 0 || part >= whole) return 100;
  return static_cast<int>(part * 100 / whole);
}

struct CopyTotals {
  uint64_t copyBytes = 0;
  uint64_t expected = 0;
  DWORD lastProgress = 0;
};

enum class Outcome { kDone, kFailed, kCancelled };

// Moves the bytes. Sets *why to what went wrong.
Outcome MoveBytes(Endpoint &source, Endpoint &target, const ENTRY_NODE &entry, CopyTotals &totals, std::string *why) {
  const bool bothLocal = !source.remote && !target.remote;
  LineEnds lineEnds(g_TextMode && source.remote && !target.remote, g_TextMode && !source.remote && target.remote);
  std::vector<char> block(kFileBlock);
  LocalWriter writer(target.file);
  uint64_t fileBytes = 0;
  for (;;) {
    int got = 0;
    if (source.remote) {
      got = FtpRecv(source.data, block.data(), kSocketBlock);
      if (got < 0) {
        *why = "the data connection from the server failed before the end of the file";
        return Outcome::kFailed;
      }
    } else {
      DWORD read = 0;
      if (!ReadFile(source.file, block.data(), kFileBlock, &read, nullptr)) {
        *why = "the local file could not be read";
        return Outcome::kFailed;
      }
      got = static_cast<int>(read);
      // A short last block of a text file loses a final Ctrl-Z, the old
      // end-of-file mark; a full block keeps it.
      if (g_TextMode && target.remote && got > 0 && got < kFileBlock && block[static_cast<size_t>(got) - 1] == kCtrlZ)
        --got;
      if (got == 0 && read > 0) continue;
    }
    if (got == 0) break;
    int length = 0;
    const char *out = lineEnds.Convert(block.data(), got, &length);
    if (target.remote) {
      if (FtpSendAll(target.data, out, length) != length) {
        *why = "the data connection to the server failed before the end of the file";
        return Outcome::kFailed;
      }
    } else if (length > 0 && !writer.Append(out, static_cast<size_t>(length))) {
      *why = "the local file could not be written completely";
      return Outcome::kFailed;
    }
    fileBytes += static_cast<uint64_t>(got);
    totals.copyBytes += static_cast<uint64_t>(got);
    const DWORD now = GetTickCount();
    if (now - totals.lastProgress >= 1000) {
      totals.lastProgress = now;
      Ui().TransferProgress(Percent(fileBytes, std::max<uint64_t>(entry.size, 1)),
                            Percent(totals.copyBytes, totals.expected), fileBytes, totals.copyBytes);
    }
    if (bothLocal) Ui().PumpMessages();
    if (Ui().TransferCancelled() || g_Abort) return Outcome::kCancelled;
  }
  std::string rest;
  if ((lineEnds.Flush(&rest) && !writer.Append(rest.data(), rest.size())) || !writer.Flush()) {
    *why = "the local file could not be written completely";
    return Outcome::kFailed;
  }
  return Outcome::kDone;
}

// Closes both ends and judges the servers' completion replies.
bool CloseEnds(Endpoint &source, Endpoint &target, bool judge, std::string *why) {
  bool ok = true;
  if (source.remote) {
    if (CloseDataAndReply(source.pane, source.data) != 2 && judge) {
      ok = false;
      *why = std::string("the source server did not confirm the end of the file: ") + LastReplyLine();
    }
  } else if (source.file != INVALID_HANDLE_VALUE) {
    CloseHandle(source.file);
  }
  source.data = INVALID_SOCKET;
  source.file = INVALID_HANDLE_VALUE;
  if (target.remote) {
    if (CloseDataAndReply(target.pane, target.data) != 2 && judge && ok) {
      ok = false;
      *why = std::string("the target server did not confirm the end of the file: ") + LastReplyLine();
    }
  } else if (target.file != INVALID_HANDLE_VALUE) {
    if (!CloseHandle(target.file) && ok) {
      ok = false;
      *why = "the local file could not be closed";
    }
  }
  target.data = INVALID_SOCKET;
  target.file = INVALID_HANDLE_VALUE;
  return ok;
}

// Removes what a failed or cancelled copy left at the target.
void DeletePartial(Endpoint &target) {
  if (target.remote) {
    if (g_Panes[target.pane].control != INVALID_SOCKET) FtpCommandReply(target.pane, "DELE", &target.name, 1);
  } else if (!target.partPath.empty()) {
    DeleteFileA(target.partPath.c_str());
  }
}

// Enters a copied file into the target pane's list (found or added), with
// the source's flags and size, and re-sorts it.
void EnterCopiedFile(int pane, const std::string &name, const ENTRY_NODE &source) {
  ENTRY_NODE *entry = FindEntry(pane, name);
  if (!entry) {
    ENTRY_NODE added;
    added.flags = source.flags & ~(kEntrySelected | kEntryDropTarget);
    added.name = name;
    g_Panes[pane].entries.push_back(added);
    entry = &g_Panes[pane].entries.back();
  }
  entry->size = source.size;
  SortEntries(g_Panes[pane].entries);
}

enum class Next { kGoOn, kStop };

Next CopyOne(int from, int to, const ENTRY_NODE &entry, int update, CopyTotals &totals, int *copied) {
  Ui().TransferName(entry.name.c_str());
  if (g_Options.autoSelect) {
    g_AllFiles = 1;
    g_TextMode = 0;
  }
  if (!g_AllFiles && (IsRemote(from) || IsRemote(to)))
    g_TextMode = Ui().AskTransferMode(entry.name.c_str(), &g_AllFiles);

  Endpoint source, target;
  source.pane = from;
  source.remote = IsRemote(from);
  source.name = entry.name;
  target.pane = to;
  target.remote = IsRemote(to);
  target.name = entry.name;

  int opened = 1;
  if (source.remote) {
    source.data = OpenRemote(from, "RETR", source.name);
    if (source.data == INVALID_SOCKET) opened = -1;
  } else {
    opened = OpenLocalSource(from, &source, g_Options.autoSelect && target.remote);
  }
  if (opened < 0) {
    std::string text = Format("Error opening file %s in directory %s.", entry.name, PaneDirectory(from));
    if (source.remote) text += std::string("\n") + LastReplyLine();
    return Ui().AskContinue(text.c_str(), "Copy") ? Next::kGoOn : Next::kStop;
  }
  opened = target.remote ? StoreOpen(to, &target) : CreateLocalTarget(to, &target);
  if (opened < 0) {
    std::string ignored;
    Endpoint none;
    none.remote = false;
    CloseEnds(source, none, false, &ignored);
    if (opened == -2) return Next::kGoOn;
    std::string text = Format("Error creating file %s in directory %s.", target.name, PaneDirectory(to));
    if (target.remote) text += std::string("\n") + LastReplyLine();
    return Ui().AskContinue(text.c_str(), "Copy") ? Next::kGoOn : Next::kStop;
  }

  std::string why;
  const Outcome moved = MoveBytes(source, target, entry, totals, &why);
  if (g_Abort) {
    // The window is gone: drop the connections' transfers, keep nothing half.
    if (source.remote) WsCloseSocket(source.data);
    if (target.remote) WsCloseSocket(target.data);
    if (!source.remote) CloseHandle(source.file);
    if (!target.remote) {
      CloseHandle(target.file);
      DeleteFileA(target.partPath.c_str());
    }
    return Next::kStop;
  }
  bool ok = CloseEnds(source, target, moved == Outcome::kDone, &why) && moved == Outcome::kDone;
  if (ok && !target.remote &&
      !MoveFileExA(target.partPath.c_str(), target.finalPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    ok = false;
    why = "the finished file could not take its name " + target.name;
  }
  if (!ok) {
    DeletePartial(target);
    const bool cancelled = moved == Outcome::kCancelled;
    const std::string text = "Transfer failed\n\n" + entry.name + ": " +
                             (cancelled ? std::string("the copy was cancelled") : why) +
                             "; the partial file was deleted.";
    if (cancelled) {
      Ui().ShowWarning(text.c_str(), "Copy");
      return Next::kStop;
    }
    return Ui().AskContinue(text.c_str(), "Copy") ? Next::kGoOn : Next::kStop;
  }
  ++*copied;
  if (update) EnterCopiedFile(to, target.name, entry);
  // A cancel seen after the last block keeps the complete file and ends here.
  return Ui().TransferCancelled() ? Next::kStop : Next::kGoOn;
}

}  // namespace

int CopySelection(int update) {
  const int from = SourcePane();
  if (from < 0) {
    Ui().ShowWarning("No files selected", "Copy");
    return 0;
  }
  const int to = 1 - from;
  if (!PaneOpen(from) || !PaneOpen(to)) return 0;
  if (!g_Unattended) g_AllFiles = 0;
  g_overwritePrompt = g_Options.overwritePrompt;
  Ui().TransferOpen();
  CopyTotals totals;
  totals.expected = g_SelectionTotal;
  int copied = 0;
  // The source list does not change during the copy; a copy of the
  // selection keeps it stable even when the target is the same list.
  std::vector<ENTRY_NODE> selected;
  for (const ENTRY_NODE &e : g_Panes[from].entries)
    if (e.flags & kEntrySelected) selected.push_back(e);
  for (const ENTRY_NODE &entry : selected) {
    if (CopyOne(from, to, entry, update, totals, &copied) == Next::kStop || g_Abort) break;
  }
  if (g_Abort) return copied;
  Ui().TransferClose();
  ClearSelection(from);
  g_SelectionTotal = 0;
  for (int pane = 0; pane < 2; ++pane) {
    if (IsRemote(pane) && g_Panes[pane].control != INVALID_SOCKET) {
      const std::string ascii = "A";
      FtpCommandReply(pane, "TYPE", &ascii, 1);
    }
  }
  Ui().PaneChanged(to);
  Ui().PaneChanged(from);
  return copied;
}
