// The remote end of a copy is the remote host's "rcp -f" (it sends a file)
// or "rcp -t" (it takes one), started through the r-command connection. Each
// step of their exchange is answered by one byte: 0 goes on, 1 or 2 comes
// with a line of error text, which is shown and ends the copy.
#include "rcp.h"

#include <queryclient.h>
#include <rcmd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kPieceSize = 1024;
constexpr const char *kRcpCaption = "RCP Error";
const char kGoOn = '\0';

// Posts the percentage done when it moved by more than a hundredth of the
// file since the last report.
struct Progress {
  HWND dialog;
  std::uint64_t size;
  std::uint64_t reported = 0;
  void After(std::uint64_t done) {
    if (size == 0 || done <= size / 100 + reported) return;
    reported = done;
    PostMessageA(dialog, WM_RCP_PROGRESS, static_cast<WPARAM>(done * 100 / size), 0);
  }
};

void ShowRcpError(const std::string &text, const std::string &detail) { QueryShowError(kRcpCaption, text, detail); }

void ConnectionEnded() {
  if (g_RcmdError == 1) return;  // the program is ending
  ShowRcpError("The copy did not finish.",
               g_RcmdError ? "The connection failed (error " + std::to_string(g_RcmdError) + "). Try again."
                           : "The remote host closed the connection in the middle of the copy. Try again.");
}

// The remote side's answer to a step: TRUE for 0; otherwise its error line
// (or the end of the connection) is shown.
BOOL RemoteAnswer() {
  const int answer = RcmdReadByte();
  if (answer == 0) return TRUE;
  if (answer < 0) {
    ConnectionEnded();
    return FALSE;
  }
  const std::string text = RcmdRestOfLine();
  ShowRcpError(text.empty() ? "The remote host refused the copy." : text,
               "The remote rcp said so; check the remote file name and its permissions.");
  return FALSE;
}

bool SendByte(char byte) { return RcmdSendBytes(&byte, 1) != FALSE; }

}  // namespace

BOOL RcpParseFileLine(const char *line, RCP_FILE_LINE *parsed) {
  // "C", the mode in octal, one blank, the size in decimal, one blank, the name.
  if (line[0] != 'C') return FALSE;
  const char *p = line + 1;
  char *end = nullptr;
  errno = 0;
  const unsigned long mode = std::strtoul(p, &end, 8);
  if (end == p || *end != ' ' || errno || mode > 07777) return FALSE;
  p = end + 1;
  if (*p < '0' || *p > '9') return FALSE;
  const unsigned long long size = std::strtoull(p, &end, 10);
  if (errno || *end != ' ' || size > RCP_SIZE_MAX) return FALSE;
  parsed->mode = static_cast<unsigned>(mode);
  parsed->size = size;
  parsed->name = end + 1;
  return TRUE;
}

BOOL RcpSink(HWND dialog, HANDLE file, LPCSTR localName) {
  if (!SendByte(kGoOn)) return FALSE;
  const int first = RcmdReadByte();
  if (first < 0) {
    ConnectionEnded();
    return FALSE;
  }
  const std::string rest = RcmdRestOfLine();
  if (first != 'C') {
    ShowRcpError(
        first == 1 || first == 2 ? rest : "The remote rcp sent \"" + std::string(1, (char)first) + rest + "\".",
        first == 1 || first == 2 ? "The remote rcp said so; check the remote file name and its permissions."
                                 : "Only a single plain file can be copied; check the remote name.");
    return FALSE;
  }
  RCP_FILE_LINE line{};
  if (!RcpParseFileLine(("C" + rest).c_str(), &line)) {
    ShowRcpError("The remote rcp sent a file line this program does not understand.",
                 "It was \"C" + rest + "\"; nothing was copied.");
    return FALSE;
  }
  if (!SendByte(kGoOn)) return FALSE;
  Progress progress{dialog, line.size};
  std::uint64_t done = 0;
  char piece[kPieceSize];
  while (done < line.size) {
    const std::uint64_t left = line.size - done;
    const int got = RcmdRead(piece, left < sizeof piece ? static_cast<int>(left) : kPieceSize);
    if (got <= 0) {
      ConnectionEnded();
      return FALSE;
    }
    DWORD written = 0;
    if (!WriteFile(file, piece, static_cast<DWORD>(got), &written, nullptr) || written != static_cast<DWORD>(got)) {
      ShowRcpError(std::string("Unable to write local file ") + localName,
                   "Writing failed (error " + std::to_string(GetLastError()) +
                       "); the local file was left as it was. Check the free space and try again.");
      return FALSE;
    }
    done += static_cast<std::uint64_t>(got);
    progress.After(done);
  }
  if (!RemoteAnswer()) return FALSE;
  return SendByte(kGoOn) ? TRUE : FALSE;
}

BOOL RcpSource(HWND dialog, LPCSTR remoteName, HANDLE file, LPCSTR localName) {
  if (!RemoteAnswer()) return FALSE;
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
    ShowRcpError(std::string("Unable to read local file ") + localName,
                 "Its size could not be read (error " + std::to_string(GetLastError()) + ").");
    return FALSE;
  }
  const std::uint64_t total = (static_cast<std::uint64_t>(high) << 32) | low;
  // The file line names the file alone: the remote rcp refuses a name with a
  // folder in it (the folder is already in its command).
  const char *slash = std::strrchr(remoteName, '/');
  const char *name = slash && slash[1] ? slash + 1 : remoteName;
  char header[RCMD_NAME_LEN + 64];
  const int length = std::snprintf(header, sizeof header, "C0700 %" PRIu64 " %s\n", total, name);
  if (length <= 0 || length >= static_cast<int>(sizeof header) || !RcmdSendBytes(header, length)) return FALSE;
  if (!RemoteAnswer()) return FALSE;
  Progress progress{dialog, total};
  std::uint64_t done = 0;
  char piece[kPieceSize];
  while (done < total) {
    DWORD got = 0;
    if (!ReadFile(file, piece, sizeof piece, &got, nullptr) || got == 0) {
      // The file shrank or could not be read: the remote side is told (1)
      // so it does not keep a short file as a good copy.
      ShowRcpError(std::string("Unable to read local file ") + localName,
                   "Reading failed (error " + std::to_string(GetLastError()) + "); the copy was abandoned.");
      RcmdSendInput(nullptr);
      return FALSE;
    }
    if (got > total - done) got = static_cast<DWORD>(total - done);
    if (!RcmdSendBytes(piece, static_cast<int>(got))) {
      ConnectionEnded();
      return FALSE;
    }
    done += got;
    progress.After(done);
  }
  if (!SendByte(kGoOn)) return FALSE;
  return RemoteAnswer();
}
