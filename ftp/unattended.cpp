// The unattended download: command-line tokens, the local name check, RETR
// into a local file, and the run from connect to QUIT.
#include "unattended.h"

#include "ftpcore.h"

#include <cstring>

namespace {

bool IsBlankChar(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void Fail(const std::string &text) { Ui().ShowError(text.c_str(), "FTP Error"); }

// Writes the data connection's bytes into the file; text mode drops the CR
// of each CR LF, also when the pair is split between two blocks.
bool CopyData(SOCKET data, HANDLE file, bool textMode, std::string *error) {
  char block[8192];
  std::string out;
  bool pendingCr = false;
  for (;;) {
    const int r = FtpRecv(data, block, sizeof block);
    if (r == 0) break;
    if (r < 0) {
      *error = "The data connection failed before the end of the file";
      return false;
    }
    out.clear();
    for (int i = 0; i < r; ++i) {
      const char c = block[i];
      if (!textMode) {
        out += c;
        continue;
      }
      if (pendingCr && c != '\n') out += '\r';
      pendingCr = c == '\r';
      if (!pendingCr) out += c;
    }
    DWORD written = 0;
    if (!out.empty() &&
        (!WriteFile(file, out.data(), static_cast<DWORD>(out.size()), &written, nullptr) || written != out.size())) {
      *error = "The local file could not be written completely (is the disk full?)";
      return false;
    }
  }
  DWORD written = 0;
  if (pendingCr && (!WriteFile(file, "\r", 1, &written, nullptr) || written != 1)) {
    *error = "The local file could not be written completely (is the disk full?)";
    return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> SplitFtpTokens(const char *commandLine) {
  std::vector<std::string> tokens;
  const char *c = commandLine ? commandLine : "";
  while (IsBlankChar(*c)) ++c;
  while (*c) {
    std::string token;
    bool quoted = false;
    while (*c && (quoted || !IsBlankChar(*c))) {
      if (*c == '"')
        quoted = !quoted;
      else
        token += *c;
      ++c;
    }
    tokens.push_back(token);
    while (IsBlankChar(*c)) ++c;
  }
  return tokens;
}

FTP_ARGS ParseFtpArgs(const char *commandLine) {
  std::vector<std::string> t = SplitFtpTokens(commandLine);
  t.resize(std::max<size_t>(t.size(), 8));
  return {t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7]};
}

std::string LocalNameFor(const std::string &remoteName) {
  std::string name = remoteName;
  const size_t semicolon = name.find(';');
  if (semicolon != std::string::npos && semicolon + 1 < name.size() &&
      name.find_first_not_of("0123456789", semicolon + 1) == std::string::npos)
    name.resize(semicolon);  // a VMS version number
  if (name.empty() || name == "." || name == "..") return std::string();
  for (unsigned char c : name)
    if (c == '/' || c == '\\' || c == '=' || c == ';' || c < 0x20 || c == 0x7F) return std::string();
  return name;
}

bool RetrieveFile(int pane, const std::string &remoteName, const std::string &localPath, bool textMode) {
  const std::string type = textMode ? "A" : "I";
  if (FtpCommandReply(pane, "TYPE", &type) != 2) {
    ShowReplyError();
    return false;
  }
  HANDLE file = CreateFileA(localPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const bool exists = GetLastError() == ERROR_FILE_EXISTS;
    Fail(exists ? "The local file " + localPath + " already exists; it was left as it is and nothing was fetched"
                : "The local file " + localPath + " could not be created; check the local directory");
    return false;
  }
  bool ok = false;
  std::string error;
  SOCKET listener = OpenDataPort(pane);
  SOCKET data = listener == INVALID_SOCKET ? INVALID_SOCKET : AcceptData(listener, pane, "RETR", &remoteName);
  if (data != INVALID_SOCKET) {
    ok = CopyData(data, file, textMode, &error);
    const int reply = CloseDataAndReply(pane, data);
    if (ok && reply != 2) {
      ok = false;
      error = std::string("The server did not confirm the end of the file: ") + LastReplyLine();
    }
  } else if (listener != INVALID_SOCKET) {
    error = std::string("The server refused the file: ") + LastReplyLine();
  }
  CloseHandle(file);
  if (!ok) {
    DeleteFileA(localPath.c_str());
    if (!error.empty()) Fail(error + "; nothing was kept.");
  }
  return ok;
}

int RunUnattendedDownload(const FTP_ARGS &args, const std::string &anonymousName) {
  g_Unattended = 1;
  if (args.host.empty() || args.file.empty() || args.localDirectory.empty()) {
    Fail(
        "filemover needs eight arguments: host, user, password, account, remote directory, file, local directory "
        "and mode; the host, the file or the local directory is missing");
    return 1;
  }
  if (args.host.size() >= sizeof g_Panes[1].host) {
    Fail("The host name is longer than 63 characters");
    return 1;
  }
  const std::string localName = LocalNameFor(args.file);
  if (localName.empty()) {
    Fail("The file name \"" + args.file + "\" is not a valid local file name; nothing was fetched");
    return 1;
  }
  FTP_PANE &local = g_Panes[0];
  local.kind = kPaneLocal;
  if (!SetCurrentDirectoryA(args.localDirectory.c_str())) {
    Fail("The local directory " + args.localDirectory + " cannot be opened; nothing was fetched");
    return 1;
  }
  QueryDirectory(0);
  FTP_PANE &remote = g_Panes[1];
  strcpy(remote.host, args.host.c_str());
  if (FtpConnect(1) == INVALID_SOCKET) return 1;
  remote.kind = kHostUnix;  // stands only for "remote": no listing is made
  LOGIN_FIELDS fields{args.user, args.password, args.account, anonymousName};
  if (FtpLogin(1, fields) != 1) return 1;
  remote.kind = kHostUnix;
  if (!args.directory.empty() && FtpCommandReply(1, "CWD", &args.directory) != 2) {
    ClosePaneConnection(1);
    return 1;
  }
  const bool text = strcasecmp(args.mode.c_str(), "ASCII") == 0;
  std::string target = local.path;
  if (!target.empty() && target.back() != '\\' && target.back() != '/') target += '\\';
  target += localName;
  const bool ok = RetrieveFile(1, args.file, target, text);
  if (remote.control != INVALID_SOCKET) {
    FtpCommandReply(1, "QUIT", nullptr, 1);
    closesocket(remote.control);
    remote.control = INVALID_SOCKET;
  }
  return ok ? 0 : 1;
}
