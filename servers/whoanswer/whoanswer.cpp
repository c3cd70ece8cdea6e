/* whoanswer: the finger daemon (TCP 79). It looks no user up: whatever the
 * query, it sends a report on the machine (system, display, memory,
 * keyboard, uptime, the console user and the telnet daemon's users), then
 * reads the query, and for one that begins with "/W" adds the contents of
 * "PROJECT.QX" and "PLAN.QX". Then it closes the connection and ends. */
#include <qxcommon.h>
#include <qxdaemon.h>

#include <sys/utsname.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "report.h"

namespace {

const char kConsolePrefix[] = "Consoled-"; /* the telnet daemon's session windows */
constexpr int kQueryBytes = 150;
constexpr DWORD kQueryWaitMs = 5000; /* the query may follow the report's first bytes late */
constexpr int kFilePiece = 150;

/* Once a piece could not be sent (an error, or a peer that read nothing for
 * the idle time) the rest of the report is not tried: each piece would wait
 * the whole idle time again. */
bool g_SendFailed = false;

void SendPiece(const std::string &text) {
  if (g_SendFailed || text.empty()) return;
  if (SockSendAll(g_DaemonSocket, text.data(), (int)text.size()) != (int)text.size()) g_SendFailed = true;
}

std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

/* Who made the processor, from the kernel's description of it. */
std::string ProcessorMaker() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    for (const char *key : {"vendor_id", "CPU implementer", "model name", "uarch"}) {
      if (line.rfind(key, 0) != 0) continue;
      size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string value = line.substr(colon + 1);
      while (!value.empty() && (value[0] == ' ' || value[0] == '\t')) value.erase(0, 1);
      if (!value.empty()) return value;
    }
  }
  return "an unknown maker";
}

void SendSystem() {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  const char *processor = FingerProcessorName(info.dwProcessorType);
  const DWORD version = GetVersion();
  const char *format = info.dwNumberOfProcessors == 1 ? "Windows NT Version %d.%d build %d, %d processor (%s)\r\n"
                                                      : "Windows NT Version %d.%d build %d, %d processors (%s)\r\n";
  SendPiece(Format(format, (int)(version & 0xFF), (int)((version >> 8) & 0xFF), (int)(version >> 16),
                   (int)info.dwNumberOfProcessors, processor));
  struct utsname uts {};
  uname(&uts);
  SendPiece(Format("Running on %s %s (%s), processor made by %s\r\n", uts.sysname, uts.release, uts.machine,
                   ProcessorMaker().c_str()));
  char windows[150] = "", system[150] = "";
  GetWindowsDirectoryA(windows, sizeof windows);
  GetSystemDirectoryA(system, sizeof system);
  SendPiece(Format("Windows was run from %s with system directory %s\r\n", windows, system));
}

void SendDisplay(HWND window) {
  HDC dc = GetDC(window);
  const int width = GetDeviceCaps(dc, HORZRES), height = GetDeviceCaps(dc, VERTRES);
  const int bits = GetDeviceCaps(dc, BITSPIXEL);
  ReleaseDC(window, dc);
  const unsigned long long colours = bits > 0 && bits < 64 ? 1ULL << bits : 0;
  SendPiece(Format("Screen resolution = %dx%dx%llu colours\r\n", width, height, colours));
}

void SendMemory() {
  MEMORYSTATUS status{};
  status.dwLength = sizeof status;
  GlobalMemoryStatus(&status);
  SendPiece(Format("Memory Load = %d%%\r\n", (int)status.dwMemoryLoad));
  SendPiece(Format("Of %ss of physical memory, %ss are available\r\n", FingerSizeText(status.dwTotalPhys).c_str(),
                   FingerSizeText(status.dwAvailPhys).c_str()));
  SendPiece(Format("Of %ss of virtual memory, %ss are available\r\n", FingerSizeText(status.dwTotalVirtual).c_str(),
                   FingerSizeText(status.dwAvailVirtual).c_str()));
  SendPiece(Format("Of the %s pagefile, %ss are available\r\n", FingerSizeText(status.dwTotalPageFile).c_str(),
                   FingerSizeText(status.dwAvailPageFile).c_str()));
}

void SendKeyboard() {
  SendPiece(Format("Keyboard is a %s keyboard with %d function keys\r\n", FingerKeyboardName(GetKeyboardType(0)),
                   GetKeyboardType(2)));
}

BOOL CALLBACK AddTelnetUser(HWND window, LPARAM) {
  char title[255] = "";
  GetWindowTextA(window, title, sizeof title);
  if (strncmp(title, kConsolePrefix, sizeof kConsolePrefix - 1) == 0)
    SendPiece(Format("Telnet User: %s\r\n", title + sizeof kConsolePrefix - 1));
  return TRUE;
}

void SendUsers() {
  char account[60] = "";
  if (FindLoggedOnAccount(account, sizeof account))
    SendPiece(Format("Console User: %s\r\n", account));
  else
    SendPiece("No Console User.\r\n");
  EnumWindows(AddTelnetUser, 0);
}

/* The query's first line (or its first 150 bytes), waiting at most a few
 * seconds for it: a client may send it a little after the report began. */
int ReadQuery(char *query) {
  int got = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kQueryWaitMs);
  while (got < kQueryBytes && !memchr(query, '\n', (size_t)got)) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    int n = SockRecvPumpingFor(g_DaemonSocket, query + got, kQueryBytes - got, (DWORD)left.count());
    if (n <= 0) break;
    got += n;
  }
  return got;
}

void SendFile(const char *name) {
  OFSTRUCT of{};
  of.cBytes = sizeof of;
  HFILE file = OpenFile(name, &of, OF_READ | OF_SHARE_DENY_NONE);
  if (file == HFILE_ERROR) return; /* a missing file leaves its section empty */
  char piece[kFilePiece];
  UINT got;
  while (!g_SendFailed && (got = _lread(file, piece, sizeof piece)) > 0 && got != (UINT)HFILE_ERROR)
    SendPiece(std::string(piece, got));
  _lclose(file);
}

void SendReport(HWND window) {
  SendSystem();
  SendDisplay(window);
  SendMemory();
  SendKeyboard();
  SendPiece(FingerUptimeLine(GetTickCount64()));
  SendUsers();
  char query[kQueryBytes];
  const int got = ReadQuery(query);
  if (got > 0 && FingerWantsPlan(query, got)) {
    SendPiece("Project:\r\n");
    SendFile("PROJECT.QX");
    SendPiece("Plan:\r\n");
    SendFile("PLAN.QX");
  }
}

LRESULT CALLBACK WhoanswerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DAEMON_START:
      SendReport(window);
      WsCloseSocket(g_DaemonSocket);
      g_DaemonSocket = INVALID_SOCKET;
      DestroyWindow(window);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == DAEMON_CMD_QUIT) PostMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_DAEMON_READ: return 0;
    case WM_DESTROY:
      WSACancelBlockingCall();
      PostQuitMessage(0);
      return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

const DAEMON_INFO kWhoanswer = {"whoanswer", WhoanswerWndProc, FALSE, FALSE};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  return DaemonWinMain(&kWhoanswer, instance, previous, commandLine, show);
}
