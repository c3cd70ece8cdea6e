/* printspool: the line printer daemon (TCP 515). For each connection it
 * serves one LPD command: a print job's data files become jobs of the
 * spooler's printer that the queue name names (its prefix decides the line
 * ends and the form feed); the queue-state commands answer with the number of
 * jobs the print manager last reported. Then it closes and ends. */
#include <qxcommon.h>
#include <qxdaemon.h>

#include <string>

#include "lpdrules.h"

namespace {

constexpr int kDataPiece = 1460;
constexpr DWORD kAddJobBuffer = 1024;

int g_JobCount = 0; /* the last count WM_SPOOLERSTATUS brought */

void SendText(const std::string &text) { SockSendAll(g_DaemonSocket, text.data(), (int)text.size()); }
void SendByte(char byte) { SockSendAll(g_DaemonSocket, &byte, 1); }

/* ---- Queue state ---- */

/* Lets the print manager's WM_SPOOLERSTATUS reach the window before the
 * count is read (a WM_QUIT stays posted and stops this). */
void TakeSpoolerStatus() {
  if (FindWindowA("PrintManager", nullptr)) PumpMessages();
}

void SendQueueState(LpdReader &, const std::string &) {
  TakeSpoolerStatus();
  SendText(LpdQueueState(g_JobCount));
}

/* ---- Receiving a job ---- */

enum FileResult { FILE_OK, FILE_FAILED, FILE_BROKEN };

/* Reads and drops a control file of count bytes and its ending NUL. */
FileResult DiscardControlFile(LpdReader &reader, uint64_t count) {
  char piece[LPD_RECEIVE_BUFFER];
  for (uint64_t left = count; left > 0;) {
    const int got = reader.ReadData(piece, left > kDataPiece ? kDataPiece : (int)left);
    if (got < 1) return FILE_BROKEN;
    left -= (uint64_t)got;
  }
  const int got = reader.ReadData(piece, 1);
  if (got < 1) return FILE_BROKEN;
  return piece[0] == '\0' ? FILE_OK : FILE_FAILED; /* a count that did not match the file */
}

/* The spooler job of one data file; AbortPrinter drops it unless it was scheduled. */
struct SpoolJob {
  HANDLE printer = nullptr;
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD id = 0;
  bool scheduled = false;

  bool Begin(std::string printerName) {
    if (!OpenPrinterA(printerName.data(), &printer, nullptr)) return false;
    BYTE buffer[kAddJobBuffer];
    DWORD needed = 0;
    if (!AddJobA(printer, 1, buffer, sizeof buffer, &needed)) return false;
    const ADDJOB_INFO_1 *info = (const ADDJOB_INFO_1 *)buffer;
    id = info->JobId;
    file = CreateFileA(info->Path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE;
  }
  bool Write(const char *data, size_t length) {
    DWORD written = 0;
    return WriteFile(file, data, (DWORD)length, &written, nullptr) && written == length;
  }
  bool Schedule() {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    scheduled = ScheduleJob(printer, id) != FALSE;
    return scheduled;
  }
  ~SpoolJob() {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (printer) {
      if (!scheduled) AbortPrinter(printer);
      ClosePrinter(printer);
    }
  }
};

/* Receives a data file of count bytes into a new job of the queue's
 * printer: LF turned into CR LF when the queue says U, a form feed added
 * when it says F and the data does not end with one. */
FileResult ReceiveDataFile(LpdReader &reader, const LpdQueue &queue, uint64_t count) {
  SpoolJob job;
  if (!job.Begin(queue.printer)) return FILE_FAILED;
  SendByte(LPD_ACK);
  char piece[LPD_RECEIVE_BUFFER];
  char last = 0;
  bool written = true;
  for (uint64_t left = count; left > 0;) {
    const int want = left > kDataPiece ? kDataPiece + 1 : (int)left;
    const int got = reader.ReadData(piece, want);
    if (got < 1) return FILE_BROKEN; /* the job goes with the connection */
    left -= (uint64_t)got;
    last = piece[got - 1];
    if (!written) continue; /* the rest is received, not written */
    if (queue.convertLf) {
      const std::string converted = LpdConvertLf(piece, (size_t)got);
      written = job.Write(converted.data(), converted.size());
    } else {
      written = job.Write(piece, (size_t)got);
    }
  }
  if (queue.formFeed && (count == 0 || last != '\f') && written) written = job.Write("\f", 1);
  const int got = reader.ReadData(piece, 1);
  if (got < 1) return FILE_BROKEN;
  if (piece[0] != '\0' || !written || !job.Schedule()) return FILE_FAILED;
  return FILE_OK;
}

/* One subcommand line of a job, those that abort the job skipped; false
 * when the connection ended (or the line was refused) before one came. */
bool ReadSubcommand(LpdReader &reader, std::string *line) {
  do {
    const LpdReader::LineResult result = reader.ReadLine(line);
    if (result == LpdReader::LINE_TOO_LONG) SendByte(LPD_REFUSE);
    if (result != LpdReader::LINE_OK) return false;
  } while (!line->empty() && (*line)[0] == '\1');
  return true;
}

void ReceiveJob(LpdReader &reader, const std::string &queueName) {
  const LpdQueue queue = LpdParseQueue(queueName);
  HANDLE printer = nullptr;
  /* The spooler takes printer names only: never a path. */
  if (!OpenPrinterA(const_cast<char *>(queue.printer.c_str()), &printer, nullptr)) return SendByte(LPD_REFUSE);
  ClosePrinter(printer);
  for (;;) {
    SendByte(LPD_ACK);
    std::string line;
    if (!ReadSubcommand(reader, &line) || line.empty()) return;
    const char command = line[0];
    if (command != '\2' && command != '\3') return; /* ends the command without reply */
    uint64_t count = 0;
    std::string name;
    if (!LpdParseFileLine(line.substr(1), &count, &name)) break;
    FileResult result;
    if (command == '\2') {
      SendByte(LPD_ACK);
      result = DiscardControlFile(reader, count);
    } else {
      result = ReceiveDataFile(reader, queue, count);
    }
    if (result == FILE_BROKEN) return;
    if (result == FILE_FAILED) break;
  }
  SendByte(LPD_REFUSE);
}

void DoNothing(LpdReader &, const std::string &) {}

struct CommandEntry {
  char command;
  void (*serve)(LpdReader &, const std::string &);
};
const CommandEntry kCommands[] = {
    {'\1', DoNothing},      /* print waiting jobs: the spooler prints by itself */
    {'\2', ReceiveJob},     /* receive a job */
    {'\3', SendQueueState}, /* queue state, short */
    {'\4', SendQueueState}, /* queue state, long */
    {'\5', DoNothing},      /* remove jobs */
};

void ServeCommand(SOCKET) {
  LpdReader reader([](char *buffer, int size) { return SockRecvPumping(g_DaemonSocket, buffer, size); });
  std::string line;
  const LpdReader::LineResult result = reader.ReadLine(&line);
  if (result == LpdReader::LINE_TOO_LONG) return SendByte(LPD_REFUSE);
  if (result != LpdReader::LINE_OK || line.empty()) return;
  for (const CommandEntry &entry : kCommands)
    if (entry.command == line[0]) return entry.serve(reader, line.substr(1));
}

LRESULT CALLBACK LpdWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_SPOOLERSTATUS) return ConnectionWndProc(window, message, wParam, lParam);
  g_JobCount = LOWORD(lParam);
  return 0;
}

const DAEMON_INFO kPrintspool = {"lpd", LpdWndProc, FALSE, FALSE};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  g_ConnectionServe = ServeCommand;
  return DaemonWinMain(&kPrintspool, instance, previous, commandLine, show);
}
