// echoprobe: watches a set of hosts with ICMP echo requests, one worker
// thread per host, and shows each as a picture of a computer with its
// counters (sent, answered, the last round trip), coloured by how many
// requests in a row went unanswered. Hosts come from "ping.cfg" and the
// "host" dialog; a double-click removes one. Ctrl+C copies the counters of
// every host as text.
#include <windows.h>
#include <winsock.h>

#include <icmpapi.h>
#include <qxcommon.h>
#include <queryclient.h>
#include <textwin.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdio>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "pinghosts.h"
#include "resources.h"

namespace {

constexpr const char *kSection = "Ping";
constexpr UINT_PTR kRepaintTimer = 1;
constexpr UINT kFirstRepaintMs = 250;
constexpr DWORD kReplyAreaSize = 8227;
constexpr DWORD kWorkerStopMs = 3000;
constexpr size_t kPingCfgMaxBytes =
    1 << 20;  // a host list, not a disk: the rest is not read  // a closed handle ends the reply wait within 100 ms

using RegisterIcmpProc = HANDLE(WINAPI *)(void);
using DoEchoReqProc = DWORD(WINAPI *)(HANDLE, IPAddr, LPVOID, UINT, LPVOID, UINT, UINT, UINT, UINT, UINT);
using DoEchoRepProc = DWORD(WINAPI *)(HANDLE, LPVOID, UINT, ULONG *, ULONG *, IPAddr *, UINT *, UINT *, UINT *, UINT *);

// One monitored address. The worker writes only the counters; the window
// thread reads them when painting.
struct PingHost {
  int flags = PING_FLAGS_HOST;
  std::atomic<int> sent{0};
  std::atomic<int> answered{0};
  std::atomic<int> lastTime{0};
  std::atomic<int> minimum{30000};
  std::atomic<int> maximum{0};
  int id = 0;
  std::atomic<int> lastAnswered{0};
  DWORD address = 0;  // network order
  HANDLE thread = nullptr;
  HANDLE icmp = nullptr;
  HANDLE wake = nullptr;  // set on removal: ends the worker's sleep
  std::atomic<bool> stop{false};
};

HINSTANCE g_instance = nullptr;
HWND g_window = nullptr;
std::list<std::unique_ptr<PingHost>> g_hosts;  // in the order of addition
int g_nextId = 1;
char g_hostField[64] = "";
std::atomic<unsigned> g_delay{PING_DELAY_DEFAULT};
std::atomic<unsigned> g_size{PING_SIZE_DEFAULT};

RegisterIcmpProc g_registerIcmp = nullptr;
DoEchoReqProc g_doEchoReq = nullptr;
DoEchoRepProc g_doEchoRep = nullptr;

// Display metrics and the picture.
int g_charW = 8, g_charH = 16, g_pictureW = 64, g_pictureH = 64, g_cellW = 128, g_cellH = 96;
int g_rowsPerColumn = 1, g_columns = 0, g_firstColumn = 0;
HBITMAP g_logo = nullptr, g_computer = nullptr;
HDC g_pictureDc = nullptr;
HGDIOBJ g_pictureDcOld = nullptr;
BITMAP g_computerInfo = {};

std::string Dotted(DWORD address) {
  in_addr a{};
  a.s_addr = address;
  return inet_ntoa(a);
}

// ---- The worker of one host ----

DWORD WINAPI EchoThread(LPVOID parameter) {
  PingHost &host = *static_cast<PingHost *>(parameter);
  std::vector<BYTE> data;
  std::vector<BYTE> replyArea(kReplyAreaSize);
  int request = 0;
  while (!host.stop) {
    data.resize(g_size);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i % 256);
    const DWORD start = GetTickCount();
    ++request;
    g_doEchoReq(host.icmp, host.address, data.data(), static_cast<UINT>(data.size()), nullptr, 0, 0, 255, 0, 0);
    ++host.sent;
    // The library waits at most 5 s for the reply, so an unanswered request still counts.
    if (g_doEchoRep(host.icmp, replyArea.data(), kReplyAreaSize, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                    nullptr) == 0 &&
        !host.stop) {
      const int took = static_cast<int>(GetTickCount() - start);
      host.lastTime = took;
      if (took < host.minimum) host.minimum = took;
      if (took > host.maximum) host.maximum = took;
      ++host.answered;
      host.lastAnswered = request;
    }
    if (WaitForSingleObject(host.wake, g_delay * 1000) == WAIT_OBJECT_0) break;
  }
  return 0;
}

// ---- Adding and removing hosts ----

void SetScrollFromColumns() {
  if (g_firstColumn > g_columns) g_firstColumn = g_columns;
  SetScrollRange(g_window, SB_HORZ, 0, g_columns, TRUE);
  SetScrollPos(g_window, SB_HORZ, g_firstColumn, TRUE);
}

void ShowError(LPCSTR caption, const std::string &text, const std::string &detail) {
  QueryShowError(caption, text, detail);
}

// Stops the worker (its sleep and its reply wait both end at once), then frees the record.
void StopHost(std::unique_ptr<PingHost> host) {
  host->stop = true;
  if (host->wake) SetEvent(host->wake);
  if (host->icmp) CloseHandle(host->icmp);
  if (host->thread && WaitForSingleObject(host->thread, kWorkerStopMs) != WAIT_OBJECT_0) {
    host.release();  // still running: its record must outlive it
    return;
  }
  if (host->thread) CloseHandle(host->thread);
  if (host->wake) CloseHandle(host->wake);
}

void AddHost(HWND window, const char *text) {
  KillTimer(window, kRepaintTimer);
  in_addr address{};
  if (!QueryResolveHost(text, &address)) {
    MessageBoxA(GetActiveWindow(), text, "Unknown Host", MB_OK | MB_ICONERROR);
  } else if (std::none_of(g_hosts.begin(), g_hosts.end(),
                          [&](const auto &h) { return h->address == address.s_addr; })) {
    auto host = std::make_unique<PingHost>();
    host->flags = PingHostFlags(address.s_addr);
    host->id = g_nextId++;
    host->address = address.s_addr;
    // The handle is made here, on the window thread, so a removal (which
    // closes it) can never meet a handle value reused by a newer host.
    host->icmp = g_registerIcmp();
    if (!host->icmp) {
      ShowError("Ping", "Unable to get a socket for " + std::string(text),
                "Sending ICMP echo requests needs either ICMP datagram sockets, which the system allows a group "
                "when net.ipv4.ping_group_range includes it (sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"), "
                "or raw sockets, which need root or the capability cap_net_raw (setcap cap_net_raw+ep echoprobe). "
                "Grant one of them and add the host again.");
    } else {
      host->wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      PingHost *record = host.get();
      g_hosts.push_back(std::move(host));
      g_columns = static_cast<int>(g_hosts.size()) / g_rowsPerColumn;
      SetScrollFromColumns();
      InvalidateRect(window, nullptr, TRUE);
      UpdateWindow(window);
      DWORD id = 0;
      record->thread = CreateThread(nullptr, 0, EchoThread, record, 0, &id);
    }
  }
  SetTimer(window, kRepaintTimer, g_delay * 1000, nullptr);
}

void RemoveHostAt(HWND window, int index) {
  auto it = g_hosts.begin();
  std::advance(it, index);
  std::unique_ptr<PingHost> host = std::move(*it);
  g_hosts.erase(it);
  StopHost(std::move(host));
  g_columns = static_cast<int>(g_hosts.size()) / g_rowsPerColumn;
  SetScrollFromColumns();
  InvalidateRect(window, nullptr, TRUE);
  UpdateWindow(window);
}

void RemoveAllHosts() {
  while (!g_hosts.empty()) {
    std::unique_ptr<PingHost> host = std::move(g_hosts.front());
    g_hosts.pop_front();
    StopHost(std::move(host));
  }
}

// Each host named in "ping.cfg" (found along the search path); true when one was added.
bool AddHostsFromFile(HWND window) {
  OFSTRUCT ofs{};
  const HFILE file = OpenFile("ping.cfg", &ofs, OF_READ);
  if (file == HFILE_ERROR) return false;
  std::string text;
  char piece[4096];
  UINT got;
  while (text.size() < kPingCfgMaxBytes &&
         (got = _lread(file, piece, sizeof piece)) != static_cast<UINT>(HFILE_ERROR) && got > 0)
    text.append(piece, got);
  _lclose(file);
  for (const std::string &host : ParsePingCfg(text)) AddHost(window, host.c_str());
  return !g_hosts.empty();
}

// ---- Painting ----

void PaintHost(HDC dc, const PingHost &host, int x, int y) {
  SetTextColor(dc, PingHostColour(host.flags, host.sent, host.lastAnswered));
  StretchBlt(dc, x, y, g_pictureW, g_pictureH, g_pictureDc, 0, 0, g_computerInfo.bmWidth, g_computerInfo.bmHeight,
             SRCCOPY);
  const int right = x + g_charW + g_charW * 55 / 8;
  const int lineHeight = g_charH - 1;
  char text[32];
  SetTextAlign(dc, TA_RIGHT | TA_TOP);
  std::snprintf(text, sizeof text, "%d", host.sent.load());
  TextOutA(dc, right, y + g_charH * 6 / 15, text, static_cast<int>(std::strlen(text)));
  std::snprintf(text, sizeof text, "%d", host.answered.load());
  TextOutA(dc, right, y + g_charH * 6 / 15 + lineHeight, text, static_cast<int>(std::strlen(text)));
  std::snprintf(text, sizeof text, "%d ms", host.answered ? host.lastTime.load() : 0);
  TextOutA(dc, right, y + g_charH * 6 / 15 + 2 * lineHeight, text, static_cast<int>(std::strlen(text)));
  SetTextAlign(dc, TA_LEFT | TA_TOP);
  // The address is drawn over the window's background, not over itself in its old colour.
  RECT strip{x, y + g_pictureH, x + g_cellW, y + g_cellH};
  FillRect(dc, &strip, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  const std::string dotted = Dotted(host.address);
  TextOutA(dc, x, y + g_pictureH, dotted.c_str(), static_cast<int>(dotted.size()));
}

void OnPaint(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  HGDIOBJ oldFont = SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
  SetBkMode(dc, TRANSPARENT);
  int index = 0, x = 2, y = 2, row = 0;
  const int skip = g_firstColumn * g_rowsPerColumn;
  for (const auto &host : g_hosts) {
    if (index++ < skip) continue;
    if (x > ps.rcPaint.right) break;
    PaintHost(dc, *host, x, y);
    if (++row < g_rowsPerColumn) {
      y += g_cellH;
    } else {
      row = 0;
      y = 2;
      x += g_cellW;
    }
  }
  SelectObject(dc, oldFont);
  EndPaint(window, &ps);
}

// ---- Window messages ----

void OnSize(WPARAM kind, LPARAM lParam) {
  if (kind != SIZE_RESTORED && kind != SIZE_MAXIMIZED) return;
  g_rowsPerColumn = HIWORD(lParam) / g_cellH;
  if (g_rowsPerColumn < 1) g_rowsPerColumn = 1;
  g_columns = static_cast<int>(g_hosts.size()) / g_rowsPerColumn;
  SetScrollFromColumns();
}

void OnHScroll(HWND window, WPARAM wParam) {
  int column = g_firstColumn;
  switch (LOWORD(wParam)) {
    case SB_LINELEFT:
    case SB_PAGELEFT:
      if (column > 0) --column;
      break;
    case SB_LINERIGHT:
    case SB_PAGERIGHT:
      if (column < g_columns) ++column;
      break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: column = static_cast<short>(HIWORD(wParam)); break;
    default: return;
  }
  if (column < 0) column = 0;
  if (column > g_columns) column = g_columns;
  if (column == g_firstColumn) return;
  const int change = g_firstColumn - column;
  g_firstColumn = column;
  ScrollWindow(window, change * g_cellW, 0, nullptr, nullptr);
  SetScrollPos(window, SB_HORZ, column, TRUE);
  RECT client{};
  GetClientRect(window, &client);
  RECT strip = client;
  if (change > 0)
    strip.right = change * g_cellW;
  else
    strip.left = client.right + change * g_cellW;
  InvalidateRect(window, &strip, TRUE);
  UpdateWindow(window);
}

void OnDoubleClick(HWND window, LPARAM lParam) {
  const int index = PingHitTest(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)), g_cellW,
                                g_cellH, g_rowsPerColumn, g_firstColumn, static_cast<int>(g_hosts.size()));
  if (index >= 0) RemoveHostAt(window, index);
}

void OnTimer(HWND window) {
  InvalidateRect(window, nullptr, FALSE);
  UpdateWindow(window);
  SetTimer(window, kRepaintTimer, g_delay * 1000, nullptr);
}

// The counters of every host, one line each: address, sent, answered, last
// round trip, and the colour it is drawn in.
void CopyCounters(HWND window) {
  std::string text;
  for (const auto &host : g_hosts) {
    const COLORREF colour = PingHostColour(host->flags, host->sent, host->lastAnswered);
    const char *name = colour == RGB(0, 0, 255)     ? "blue"
                       : colour == RGB(255, 0, 0)   ? "red"
                       : colour == RGB(255, 0, 255) ? "magenta"
                                                    : "black";
    char line[128];
    std::snprintf(line, sizeof line, "%s\t%d\t%d\t%d ms\t%s\r\n", Dotted(host->address).c_str(), host->sent.load(),
                  host->answered.load(), host->answered ? host->lastTime.load() : 0, name);
    text += line;
  }
  if (!OpenClipboard(window)) return;
  EmptyClipboard();
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1)) {
    std::memcpy(GlobalLock(memory), text.c_str(), text.size() + 1);
    GlobalUnlock(memory);
    SetClipboardData(CF_TEXT, memory);
  }
  CloseClipboard();
}

// ---- Dialogs ----

HBRUSH g_dialogBrush = nullptr;

// What the three dialogs share: the face brush without the 3-D look, OK
// ending with what the dialog's own handler gives, Cancel with 0.
struct PingDialog {
  void (*init)(HWND dialog, LPARAM lParam);
  INT_PTR (*ok)(HWND dialog);
};

INT_PTR PingDialogMessage(const PingDialog &kind, HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      if (!g_Ctl3dActive) g_dialogBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
      kind.init(dialog, lParam);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) != IDOK && LOWORD(wParam) != IDCANCEL) return FALSE;
      EndDialog(dialog, LOWORD(wParam) == IDOK ? kind.ok(dialog) : 0);
      return TRUE;
    case WM_DESTROY:
      if (g_dialogBrush) DeleteObject(g_dialogBrush);
      g_dialogBrush = nullptr;
      return FALSE;
    default: return reinterpret_cast<INT_PTR>(QueryDialogColor(message, wParam, lParam, g_dialogBrush));
  }
}

// "host": the recent hosts offered; OK takes the text typed (up to 63 characters).
void HostInit(HWND dialog, LPARAM) {
  RecentListFill(GetDlgItem(dialog, IDC_VALUE), TextWinIniPath(), kSection, "FILE_%d");
}
INT_PTR HostOk(HWND dialog) {
  GetDlgItemTextA(dialog, IDC_VALUE, g_hostField, sizeof g_hostField);
  return 1;
}
INT_PTR CALLBACK HostDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  static const PingDialog kHost = {HostInit, HostOk};
  return PingDialogMessage(kHost, dialog, message, wParam, lParam);
}

// "DELAY" and "SIZE": the current value shown; OK ends with the number typed (0 when none).
void NumberInit(HWND dialog, LPARAM value) { SetDlgItemInt(dialog, IDC_VALUE, static_cast<UINT>(value), FALSE); }
INT_PTR NumberOk(HWND dialog) {
  BOOL ok = FALSE;
  const UINT value = GetDlgItemInt(dialog, IDC_VALUE, &ok, FALSE);
  return ok ? static_cast<INT_PTR>(value) : 0;
}
INT_PTR CALLBACK NumberDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  static const PingDialog kNumber = {NumberInit, NumberOk};
  return PingDialogMessage(kNumber, dialog, message, wParam, lParam);
}

void WriteUnsigned(LPCSTR key, unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%u", value);
  WriteProfileStringA(kSection, key, text);
}

// ---- Menu commands ----

void OnPingHost(HWND window) {
  if (DialogBoxA(g_instance, "host", window, HostDlgProc) != 1) return;
  RecentListAdd(TextWinIniPath(), kSection, "FILE_%d", g_hostField);
  AddHost(window, g_hostField);
}

void OnPingDelay(HWND window) {
  const INT_PTR answer = DialogBoxParamA(g_instance, "DELAY", window, NumberDlgProc, g_delay);
  if (answer <= 0) return;
  g_delay = PingDialogValue(static_cast<unsigned>(answer), g_delay, PING_DELAY_MAX);
  SetTimer(window, kRepaintTimer, g_delay * 1000, nullptr);
  WriteUnsigned("Delay", g_delay);
}

void OnDataSize(HWND window) {
  const INT_PTR answer = DialogBoxParamA(g_instance, "SIZE", window, NumberDlgProc, g_size);
  if (answer <= 0) return;
  g_size = PingDialogValue(static_cast<unsigned>(answer), g_size, PING_SIZE_MAX);
  WriteUnsigned("Size", g_size);
}

void OnExit(HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); }
void OnHelpIndex(HWND window) { WinHelpA(window, "WINPING.HLP", HELP_INDEX, 0); }
void OnHelpOptions(HWND window) { WinHelpA(window, "WINPING.HLP", HELP_KEY, reinterpret_cast<ULONG_PTR>("OPTIONS")); }
void OnHelpUsing(HWND window) { WinHelpA(window, "WINHELP.HLP", HELP_INDEX, 0); }
void OnAbout(HWND window) { DialogBoxA(g_instance, "about", window, AboutDlgProc); }

struct Command {
  UINT id;
  void (*handler)(HWND);
};
const Command kCommands[] = {
    {IDM_PING_HOST, OnPingHost},   {IDM_EXIT, OnExit},
    {IDM_PING_DELAY, OnPingDelay}, {IDM_DATA_SIZE, OnDataSize},
    {IDM_HELP_INDEX, OnHelpIndex}, {IDM_HELP_OPTIONS, OnHelpOptions},
    {IDM_HELP_USING, OnHelpUsing}, {IDM_ABOUT, OnAbout},
};

LRESULT CALLBACK PingMainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      for (const Command &c : kCommands)
        if (c.id == LOWORD(wParam)) c.handler(window);
      return 0;
    case WM_PAINT: OnPaint(window); return 0;
    case WM_TIMER: OnTimer(window); return 0;
    case WM_SIZE: OnSize(wParam, lParam); return 0;
    case WM_HSCROLL: OnHScroll(window, wParam); return 0;
    case WM_LBUTTONDBLCLK: OnDoubleClick(window, lParam); return 0;
    case WM_COPY: CopyCounters(window); return 0;
    case WM_KEYDOWN:
      if ((wParam == 'C' || wParam == VK_INSERT) && (GetKeyState(VK_CONTROL) & 0x8000)) CopyCounters(window);
      return 0;
    case WM_CLOSE:
      TextWinSavePlacement(window);  // not when minimised
      return DefWindowProcA(window, message, wParam, lParam);
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_SYSCOLORCHANGE:
      if (g_Ctl3dActive) Ctl3dColorChange();
      return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

// ---- Start-up ----

// Cell size from the fixed font, the picture scaled to it, a memory DC holding the picture.
void ComputeMetrics(HWND window) {
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, GetStockObject(SYSTEM_FIXED_FONT));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  g_charW = tm.tmMaxCharWidth;
  g_charH = tm.tmHeight + tm.tmExternalLeading;
  GetObjectA(g_computer, sizeof g_computerInfo, &g_computerInfo);
  g_pictureW = g_computerInfo.bmWidth * g_charW / 8;
  g_pictureH = g_computerInfo.bmHeight * g_charH / 15;
  SIZE widest{};
  GetTextExtentPoint32A(dc, "888.888.888.888", 15, &widest);
  g_cellW = widest.cx > g_pictureW + 4 ? widest.cx : g_pictureW + 4;
  g_cellH = widest.cy + g_pictureH + 4;
  g_pictureDc = CreateCompatibleDC(dc);
  g_pictureDcOld = SelectObject(g_pictureDc, g_computer);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
}

bool BindIcmp() {
  HMODULE module = LoadLibraryA("ICMP.DLL");
  if (module) {
    g_registerIcmp = reinterpret_cast<RegisterIcmpProc>(GetProcAddress(module, "register_icmp"));
    g_doEchoReq = reinterpret_cast<DoEchoReqProc>(GetProcAddress(module, "do_echo_req"));
    g_doEchoRep = reinterpret_cast<DoEchoRepProc>(GetProcAddress(module, "do_echo_rep"));
  }
  if (g_registerIcmp && g_doEchoReq && g_doEchoRep) return true;
  ShowError("Ping", "Unable to load the ICMP API Layer",
            "The ICMP library (ICMP.DLL) was not found beside the program or lacks its entry points. Install the "
            "suite again.");
  return false;
}

HWND CreateMainWindow(int show) {
  WNDCLASSA wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = PingMainProc;
  wc.hInstance = g_instance;
  wc.hIcon = LoadIconA(g_instance, "AppIcon");
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszMenuName = "ping";
  wc.lpszClassName = "PingWindow";
  if (!RegisterClassA(&wc)) return nullptr;
  int x = 0, y = show, width = 0, height = 0;
  TextWinLoadPlacement(&x, &y, &width, &height, kSection);
  return CreateWindowExA(0, "PingWindow", "Ping", WS_OVERLAPPEDWINDOW | WS_HSCROLL, x, y, width, height, nullptr,
                         nullptr, g_instance, nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  DebugLogOpen(instance, commandLine);
  SetMessageQueue(120);
  Ctl3dLoad(instance);
  if (previous) return 0;  // one instance at a time
  g_instance = instance;
  if (!QueryStartWinsock("Ping")) return 1;
  g_logo = LoadBitmapA(instance, "logo");
  g_computer = LoadBitmapA(instance, "COMPUTER");
  g_window = CreateMainWindow(show);
  if (!g_window) {
    MessageBoxA(nullptr, "The window of echoprobe could not be made.", "Ping", MB_OK | MB_ICONERROR);
    return 1;
  }
  g_rowsPerColumn = 1;
  ComputeMetrics(g_window);
  RECT client{};  // the rows that fit, now that the cell size is known
  GetClientRect(g_window, &client);
  OnSize(SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
  ShowWindow(g_window, show);
  UpdateWindow(g_window);
  int result = 0;
  if (!BindIcmp()) {
    result = 1;
    DestroyWindow(g_window);
  } else {
    g_delay = PingDelayFromProfile(static_cast<int>(GetProfileIntA(kSection, "Delay", PING_DELAY_DEFAULT)));
    g_size = PingSizeFromProfile(static_cast<int>(GetProfileIntA(kSection, "Size", PING_SIZE_DEFAULT)));
    if (!AddHostsFromFile(g_window)) PostMessageA(g_window, WM_COMMAND, IDM_PING_HOST, 0);
    SetTimer(g_window, kRepaintTimer, kFirstRepaintMs, nullptr);
  }
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  Ctl3dUnload(instance);
  RemoveAllHosts();
  if (g_pictureDc) {
    SelectObject(g_pictureDc, g_pictureDcOld);
    DeleteDC(g_pictureDc);
  }
  if (g_computer) DeleteObject(g_computer);
  if (g_logo) DeleteObject(g_logo);
  WSACleanup();
  return result;
}
