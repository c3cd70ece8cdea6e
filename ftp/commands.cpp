// File commands on the selected entries: delete, rename and make directory,
// local or remote; a raw FTP command typed by the user; and viewing a remote
// file or listing in Notepad through a temporary file that is deleted when
// the viewer ends.
#include "ftpcore.h"
#include "profiles.h"
#include "unattended.h"

#include <common/qxcommon.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

bool IsRemote(int pane) { return g_Panes[pane].kind != kPaneLocal; }

std::string Directory(int pane) {
  const FTP_PANE &p = g_Panes[pane];
  return std::string(p.path + std::min<size_t>(static_cast<size_t>(p.prefixLength), strlen(p.path)));
}

std::string LocalPath(int pane, const std::string &name) {
  std::string path = g_Panes[pane].path;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  return path + name;
}

// A name typed for a local file or directory: one name inside the pane's
// directory, never a path out of it.
bool LocalNameAcceptable(const std::string &name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c == '/' || c == '\\' || c < 0x20) return false;
  return true;
}

std::string Format(const char *format, const std::string &a, const std::string &b, const std::string &c = "") {
  char text[1024];
  snprintf(text, sizeof text, format, a.c_str(), b.c_str(), c.c_str());
  return text;
}

int SelectedSource(const char *caption) {
  const int pane = SourcePane();
  if (pane < 0) Ui().ShowWarning("No files selected", caption);
  return pane;
}

bool DeleteOne(int pane, const ENTRY_NODE &entry) {
  if (IsRemote(pane)) {
    if (FtpCommandReply(pane, "DELE", &entry.name) == 2) return true;
    // A directory is removed with RMD.
    return (entry.flags & kEntryDirectory) && FtpCommandReply(pane, "RMD", &entry.name) == 2;
  }
  const std::string path = LocalPath(pane, entry.name);
  return DeleteFileA(path.c_str()) || RemoveDirectoryA(path.c_str());
}

struct Viewer {
  HANDLE process;
  std::string file;
};
std::vector<Viewer> g_viewers;

}  // namespace

int DeleteSelection() {
  const int pane = SelectedSource("Delete");
  if (pane < 0) return 0;
  FTP_PANE &p = g_Panes[pane];
  int deleted = 0;
  bool all = false;
  for (size_t i = 0; i < p.entries.size();) {
    const ENTRY_NODE entry = p.entries[i];
    if (!(entry.flags & kEntrySelected)) {
      ++i;
      continue;
    }
    if (g_Options.deletePrompt && !all) {
      const int answer = Ui().AskDelete(entry.name.c_str());
      if (answer == 0) {
        ++i;
        continue;
      }
      all = answer == 2;
    }
    if (!DeleteOne(pane, entry)) {
      std::string text = Format("Error deleting file %s in directory %s.", entry.name, Directory(pane));
      if (IsRemote(pane)) text += std::string("\n") + LastReplyLine();
      if (!Ui().AskContinue(text.c_str(), "Delete")) break;
      ++i;
      continue;
    }
    p.entries.erase(p.entries.begin() + static_cast<long>(i));
    ++deleted;
  }
  ClearSelection(pane);
  g_SelectionTotal = 0;
  Ui().PaneChanged(pane);
  return deleted;
}

int RenameSelection() {
  const int pane = SelectedSource("Rename");
  if (pane < 0) return 0;
  FTP_PANE &p = g_Panes[pane];
  int renamed = 0;
  for (ENTRY_NODE &entry : p.entries) {
    if (!(entry.flags & kEntrySelected)) continue;
    std::string newName;
    if (!Ui().AskRename(entry.name.c_str(), &newName) || newName.empty()) continue;
    bool ok = false;
    if (IsRemote(pane)) {
      ok = FtpCommandReply(pane, "RNFR", &entry.name) == 3 && FtpCommandReply(pane, "RNTO", &newName) == 2;
    } else if (LocalNameAcceptable(newName)) {
      ok = MoveFileA(LocalPath(pane, entry.name).c_str(), LocalPath(pane, newName).c_str()) != 0;
    }
    if (!ok) {
      std::string text = Format("Error renaming file %s to %s in directory %s.", entry.name, newName, Directory(pane));
      if (IsRemote(pane)) text += std::string("\n") + LastReplyLine();
      if (!Ui().AskContinue(text.c_str(), "Rename")) break;
      continue;
    }
    if (entry.flags & kEntrySelected) g_SelectionTotal -= std::min(g_SelectionTotal, entry.size);
    entry.flags &= ~kEntrySelected;
    entry.name = newName;
    ++renamed;
  }
  Ui().PaneChanged(pane);
  return renamed;
}

bool MakeDirCommand() {
  const int pane = g_ActivePane;
  if (!PaneOpen(pane)) return false;
  std::string name;
  if (!Ui().AskMakeDirectory(&name) || name.empty()) return false;
  bool ok = false;
  if (IsRemote(pane))
    ok = FtpCommandReply(pane, "MKD", &name) == 2;
  else
    ok = LocalNameAcceptable(name) && CreateDirectoryA(LocalPath(pane, name).c_str(), nullptr);
  if (!ok) {
    char text[400];
    snprintf(text, sizeof text, "Error creating directory %s.", name.c_str());
    std::string shown = text;
    if (IsRemote(pane)) shown += std::string("\n") + LastReplyLine();
    Ui().ShowWarning(shown.c_str(), "Mkdir");
    return false;
  }
  RefreshPane(pane);
  return true;
}

int SendRawCommand(const std::string &typed, std::string *replyLine) {
  replyLine->clear();
  size_t start = 0;
  while (start < typed.size() && isspace(static_cast<unsigned char>(typed[start]))) ++start;
  std::string text = typed.substr(start);
  if (text.empty()) return 0;
  // The first word is the command: upper case.
  for (size_t i = 0; i < text.size() && !isspace(static_cast<unsigned char>(text[i])); ++i)
    text[i] = static_cast<char>(toupper(static_cast<unsigned char>(text[i])));
  if (text.compare(0, 4, "QUIT") == 0) {
    Ui().ShowError("Please use the Close menu item to end a session", "Ftp");
    return -1;
  }
  int pane = g_ActivePane;
  if (!IsRemote(pane) || g_Panes[pane].control == INVALID_SOCKET) pane = 1 - pane;
  if (!IsRemote(pane) || g_Panes[pane].control == INVALID_SOCKET) {
    Ui().ShowError("There is no remote system to which to send an FTP command", "Ftp");
    return -1;
  }
  if (FtpCommand(pane, text.c_str(), nullptr) != 0) return -1;
  int reply = ReadReply(0, pane);
  // A preliminary reply (a transfer without a data connection) is followed
  // by the final one; reading it keeps later replies in step.
  if (reply == 1) reply = ReadReply(0, pane);
  *replyLine = LastReplyLine();
  if (text.compare(0, 3, "CWD") == 0 || text.compare(0, 4, "ACCT") == 0) RefreshPane(pane);
  return reply;
}

// ---- Viewing in Notepad ----

namespace {

std::string MakeTempFile() {
  char directory[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("TEMP", directory, sizeof directory);
  if (length == 0 || length >= 80) GetWindowsDirectoryA(directory, sizeof directory);
  char name[MAX_PATH] = {};
  if (!GetTempFileNameA(directory, "F", 0, name)) return std::string();
  std::string file = name;
  // A name with a '.' makes Notepad add no extension of its own.
  if (file.find('.', file.find_last_of("\\/") + 1) == std::string::npos) {
    const std::string dotted = file + ".";
    if (MoveFileA(file.c_str(), dotted.c_str())) file = dotted;
  }
  return file;
}

bool StartNotepad(const std::string &file) {
  std::string commandLine = "NOTEPAD \"" + file + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return false;
  CloseHandle(info.hThread);
  g_viewers.push_back({info.hProcess, file});
  return true;
}

}  // namespace

bool ViewInNotepad(int pane, const std::string &name, uint64_t size, int listing) {
  if (!listing && size > 20000) {
    Ui().ShowWarning("File is too big for NotePad editing", "FTP Information");
    return false;
  }
  if (!IsRemote(pane)) {
    if (!StartNotepad(LocalPath(pane, name))) {
      Ui().ShowError("Error activating NotePad", "FTP Error");
      return false;
    }
    g_viewers.back().file.clear();  // the pane's own file is not temporary
    return true;
  }
  SOCKET data = INVALID_SOCKET;
  if (listing) {
    SOCKET listener = OpenDataPort(pane);
    if (listener != INVALID_SOCKET) data = AcceptData(listener, pane, "LIST", nullptr);
    if (data == INVALID_SOCKET) {
      Ui().ShowError("LIST Error", "FTP Error");
      return false;
    }
  } else {
    g_AllFiles = 0;
    Ui().TransferOpen();
    Ui().TransferName(name.c_str());
    g_TextMode = 1;
    const std::string type = "A";
    SOCKET listener = FtpCommandReply(pane, "TYPE", &type) == 2 ? OpenDataPort(pane) : INVALID_SOCKET;
    if (listener != INVALID_SOCKET) data = AcceptData(listener, pane, "RETR", &name);
    if (data == INVALID_SOCKET) {
      Ui().TransferClose();
      const std::string text = "Error opening file " + name;
      Ui().ShowWarning(text.c_str(), "Edit");
      return false;
    }
  }
  const std::string file = MakeTempFile();
  HANDLE out = file.empty() ? INVALID_HANDLE_VALUE
                            : CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    CloseDataAndReply(pane, data);
    if (!listing) Ui().TransferClose();
    if (!file.empty()) DeleteFileA(file.c_str());
    Ui().ShowError("Error creating temp file", "Copy");
    return false;
  }
  char piece[1023];
  uint64_t bytes = 0;
  int got = 0;
  bool cancelled = false, written = true;
  // TYPE A lines arrive with CR LF; the local file gets LF.
  bool pendingCr = false;
  while ((got = FtpRecv(data, piece, sizeof piece)) > 0) {
    std::string text;
    for (int i = 0; i < got; ++i) {
      if (pendingCr && piece[i] != '\n') text += '\r';
      pendingCr = piece[i] == '\r';
      if (!pendingCr) text += piece[i];
    }
    DWORD put = 0;
    if (!WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) || put != text.size())
      written = false;
    bytes += static_cast<uint64_t>(got);
    if (!listing) {
      Ui().TransferProgress(size ? static_cast<int>(std::min<uint64_t>(100, bytes * 100 / size)) : 100, 100, bytes,
                            bytes);
      if (Ui().TransferCancelled()) {
        cancelled = true;
        break;
      }
    }
    if (g_Abort) break;
  }
  CloseHandle(out);
  if (g_Abort) {
    WsCloseSocket(data);
    DeleteFileA(file.c_str());
    return false;
  }
  const int reply = CloseDataAndReply(pane, data);
  if (!listing) Ui().TransferClose();
  if (cancelled) {
    DeleteFileA(file.c_str());
    return false;
  }
  if (got < 0 || reply != 2 || !written) {
    DeleteFileA(file.c_str());
    Ui().ShowError("Transfer failed", "Copy");
    return false;
  }
  if (!StartNotepad(file)) {
    DeleteFileA(file.c_str());
    Ui().ShowError("Error activating NotePad", "FTP Error");
    return false;
  }
  return true;
}

int ReapViewers(bool all) {
  int removed = 0;
  for (size_t i = 0; i < g_viewers.size();) {
    Viewer &v = g_viewers[i];
    if (!all && WaitForSingleObject(v.process, 0) != WAIT_OBJECT_0) {
      ++i;
      continue;
    }
    if (!v.file.empty() && DeleteFileA(v.file.c_str())) ++removed;
    CloseHandle(v.process);
    g_viewers.erase(g_viewers.begin() + static_cast<long>(i));
  }
  return removed;
}
