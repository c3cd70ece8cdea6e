/* The REQUEST dialog on the console user's desktop: the daemon's side (the
 * helper started as that user, its channel, its answer) and the helper's. */
#include "consolering.h"

#include <qxcommon.h>
#include <qxdaemon.h>
#include <userenv.h>
#include <wtsapi32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kRingSwitch[] = "/ring";
const char kAnswerTalk = 'T';   /* Talk: the client runs on the desktop */
const char kAnswerCancel = 'C'; /* Cancel, or Talk with no client started */
const char kAnswerNoScreen = 'N';
constexpr int kPairTries = 8;

/* One helper ringing for one invitation. */
struct Ring {
  unsigned serial;
  SOCKET channel;
  HANDLE process;
};
std::vector<Ring> g_Rings;
bool g_ToldHeadless = false;

}  // namespace

/* Said once a run: why the dialogs are shown without the console's desktop. */
void TellDialogsHereOnce(const TALK_FLAVOUR *flavour, const char *why) {
  if (g_ToldHeadless) return;
  g_ToldHeadless = true;
  char text[512];
  snprintf(text, sizeof text,
           "%s: %s; talk requests are shown in the daemon's own process, which has no display. Log on at the "
           "console with a desktop session to see them.",
           flavour->className, why);
  if (HANDLE source = RegisterEventSourceA(nullptr, flavour->className)) {
    LPCSTR strings[1] = {text};
    ReportEventA(source, EVENTLOG_WARNING_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
  }
  if (g_TraceOn && g_DebugLog) fprintf(g_DebugLog, "%s\n", text);
}

namespace {

bool SameAddress(const sockaddr_in &a, const sockaddr_in &b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

/* A connected pair on loopback. Only the connection from our own end is
 * accepted: another local program that connects first is turned away. */
bool ConnectedPair(SOCKET *ours, SOCKET *theirs) {
  *ours = *theirs = INVALID_SOCKET;
  SOCKET listener = WsSocket(AF_INET, SOCK_STREAM, 0);
  if (listener == INVALID_SOCKET) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof addr;
  SOCKET client = INVALID_SOCKET;
  sockaddr_in local{};
  int localLength = sizeof local;
  if (WsBind(listener, (sockaddr *)&addr, sizeof addr) == 0 && getsockname(listener, (sockaddr *)&addr, &length) == 0 &&
      listen(listener, kPairTries) == 0 && (client = WsSocket(AF_INET, SOCK_STREAM, 0)) != INVALID_SOCKET &&
      WsConnect(client, (sockaddr *)&addr, sizeof addr) == 0 &&
      getsockname(client, (sockaddr *)&local, &localLength) == 0) {
    for (int i = 0; i < kPairTries && *theirs == INVALID_SOCKET; i++) {
      sockaddr_in peer{};
      int peerLength = sizeof peer;
      SOCKET accepted = WsAccept(listener, (sockaddr *)&peer, &peerLength);
      if (accepted == INVALID_SOCKET) break;
      if (SameAddress(peer, local))
        *theirs = accepted;
      else
        WsCloseSocket(accepted);
    }
  }
  WsCloseSocket(listener);
  if (*theirs == INVALID_SOCKET) {
    if (client != INVALID_SOCKET) WsCloseSocket(client);
    return false;
  }
  *ours = client;
  return true;
}

/* The value of NAME in an environment block ("" when absent). */
std::string BlockValue(const char *block, const char *name) {
  const size_t length = strlen(name);
  for (const char *p = block; *p; p += strlen(p) + 1)
    if (strncmp(p, name, length) == 0 && p[length] == '=') return p + length + 1;
  return "";
}

/* Starts the helper as the console user on their desktop; 0 and a reason
 * when it cannot be. */
HANDLE StartHelper(const TALK_FLAVOUR *flavour, const REQUEST_CALLER &caller, SOCKET helperEnd, std::string *why) {
  HANDLE token = nullptr;
  if (!WTSQueryUserToken(WTSGetActiveConsoleSessionId(), &token)) {
    *why = GetLastError() == ERROR_PRIVILEGE_NOT_HELD ? "only root can show a dialog to the console user"
                                                      : "nobody is logged on at the console";
    return nullptr;
  }
  LPVOID block = nullptr;
  HANDLE process = nullptr;
  if (!CreateEnvironmentBlock(&block, token, FALSE)) {
    *why = "the console user's environment cannot be read";
  } else if (BlockValue((const char *)block, "DISPLAY").empty() &&
             BlockValue((const char *)block, "WAYLAND_DISPLAY").empty()) {
    *why = "the user at the console has no desktop session (no DISPLAY or WAYLAND_DISPLAY)";
  } else {
    char commandLine[128];
    snprintf(commandLine, sizeof commandLine, "%s %s %s %u.%u.%u.%u %s", flavour->className, kRingSwitch,
             caller.lName.c_str(), caller.ip[0], caller.ip[1], caller.ip[2], caller.ip[3], caller.rName.c_str());
    const std::string home = BlockValue((const char *)block, "HOME");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    startup.hStdInput = startup.hStdOutput = (HANDLE)(uintptr_t)helperEnd;
    PROCESS_INFORMATION info{};
    if (CreateProcessAsUserA(token, nullptr, commandLine, nullptr, nullptr, FALSE, 0, block,
                             home.empty() ? nullptr : home.c_str(), &startup, &info)) {
      CloseHandle(info.hThread);
      process = info.hProcess;
    } else {
      char text[128];
      snprintf(text, sizeof text, "the dialog program cannot be started as the console user (error %lu)",
               (unsigned long)GetLastError());
      *why = text;
    }
  }
  if (block) DestroyEnvironmentBlock(block);
  CloseHandle(token);
  return process;
}

void CloseRing(const Ring &ring, bool endHelper) {
  WSAAsyncSelect(ring.channel, g_DaemonWindow, 0, 0);
  WsCloseSocket(ring.channel);
  if (endHelper) {
    DWORD code = 0;
    if (GetExitCodeProcess(ring.process, &code) && code == STILL_ACTIVE) TerminateProcess(ring.process, 1);
  }
  CloseHandle(ring.process);
}

/* ---- The helper ---- */

SOCKET g_Channel = 0; /* the helper's standard input */
const TALK_FLAVOUR *g_RingFlavour = nullptr;
REQUEST_CALLER g_RingCaller;

/* Talk starts the client here, on the desktop, as the user at the console. */
void RingAnswered(HWND, unsigned, bool talk) {
  bool started = false;
  if (talk) {
    TalkRequest request;
    request.lName = g_RingCaller.lName;
    request.rName = g_RingCaller.rName;
    request.ctlAddr[0] = 2;
    memcpy(request.ctlAddr + 4, g_RingCaller.ip, 4);
    started = StartTalkClient(g_RingFlavour, request, nullptr);
  }
  const char answer = started ? kAnswerTalk : kAnswerCancel;
  send(g_Channel, &answer, 1, 0);
}

void RingGone(HWND, unsigned) { PostQuitMessage(0); }

const REQUEST_HOOKS kRingHooks = {RingAnswered, RingGone};

bool ParseRingArguments(const char *commandLine, REQUEST_CALLER *caller) {
  char name[64] = "", address[32] = "", called[64] = "", extra[2] = "";
  if (sscanf(commandLine, "/ring %63s %31s %63s %1s", name, address, called, extra) != 3) return false;
  unsigned a, b, c, d;
  char tail;
  if (sscanf(address, "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &tail) != 4 || a > 255 || b > 255 || c > 255 || d > 255)
    return false;
  if (!TalkNameIsSafe(name) || !TalkNameIsSafe(called)) return false;
  caller->lName = name;
  caller->rName = called;
  caller->ip[0] = (unsigned char)a;
  caller->ip[1] = (unsigned char)b;
  caller->ip[2] = (unsigned char)c;
  caller->ip[3] = (unsigned char)d;
  return true;
}

}  // namespace

bool DaemonHasOwnDisplay(void) {
  for (const char *name : {"QX_DISPLAY", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char *value = getenv(name);
    if (value && *value) return true;
  }
  return false;
}

bool StartConsoleRing(const TALK_FLAVOUR *flavour, const REQUEST_CALLER &caller) {
  SOCKET ours, theirs;
  if (!ConnectedPair(&ours, &theirs)) {
    TellDialogsHereOnce(flavour, "no channel to a dialog on the console user's desktop can be made on loopback");
    return false;
  }
  std::string why;
  HANDLE process = StartHelper(flavour, caller, theirs, &why);
  WsCloseSocket(theirs); /* the helper holds its end */
  if (!process) {
    WsCloseSocket(ours);
    TellDialogsHereOnce(flavour, why.c_str());
    return false;
  }
  WSAAsyncSelect(ours, g_DaemonWindow, WM_RING_EVENT, FD_READ | FD_CLOSE);
  g_Rings.push_back({caller.serial, ours, process});
  return true;
}

void ConsoleRingEvent(SOCKET channel, void (*answered)(unsigned serial, RING_ANSWER answer)) {
  for (size_t i = 0; i < g_Rings.size(); i++) {
    if (g_Rings[i].channel != channel) continue;
    /* Read or close alike: the byte there is the answer, an end without
     * one is Cancel, nothing yet is an event of an earlier socket of that
     * number (already closed) and is not this helper's. */
    char answer = kAnswerCancel;
    const int got = WsRecv(channel, &answer, 1, 0);
    if (got < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return;
    if (got != 1) answer = kAnswerCancel;
    const Ring ring = g_Rings[i];
    g_Rings.erase(g_Rings.begin() + (long)i);
    CloseRing(ring, false); /* it ends by itself once it has answered */
    answered(ring.serial, answer == kAnswerTalk ? RING_TALK : answer == kAnswerNoScreen ? RING_NO_SCREEN : RING_CANCEL);
    return;
  }
}

void StopConsoleRing(unsigned serial) {
  for (size_t i = 0; i < g_Rings.size(); i++) {
    if (g_Rings[i].serial != serial) continue;
    const Ring ring = g_Rings[i];
    g_Rings.erase(g_Rings.begin() + (long)i);
    CloseRing(ring, true);
    return;
  }
}

void StopAllConsoleRings(void) {
  for (const Ring &ring : g_Rings) CloseRing(ring, true);
  g_Rings.clear();
}

bool IsRingCommandLine(const char *commandLine) {
  return commandLine && strncmp(commandLine, kRingSwitch, sizeof kRingSwitch - 1) == 0 &&
         (commandLine[sizeof kRingSwitch - 1] == ' ' || commandLine[sizeof kRingSwitch - 1] == '\0');
}

int RingWinMain(const TALK_FLAVOUR *flavour, HINSTANCE instance, LPSTR commandLine) {
  REQUEST_CALLER &caller = g_RingCaller;
  g_RingFlavour = flavour;
  if (!ParseRingArguments(commandLine, &caller)) {
    fprintf(stderr,
            "%s /ring: expected the caller's name, a dotted IPv4 address and the called user; this form is started "
            "by the talk daemon only\n",
            flavour->className);
    return 2;
  }
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return 3;
  int type = 0, typeLength = sizeof type;
  if (getsockopt(g_Channel, SOL_SOCKET, SO_TYPE, (char *)&type, &typeLength) != 0) {
    fprintf(stderr, "%s /ring: the standard input is not the talk daemon's channel\n", flavour->className);
    return 3;
  }
  RegisterRequestDialog(flavour);
  Ctl3dLoad(instance);
  HWND dialog = CreateRequestDialog(instance, nullptr, caller, &kRingHooks);
  if (!dialog) return 4;
  if (!QxDisplayHasScreen()) {
    /* Drawn only in memory, nobody would see it: the daemon shows it instead. */
    send(g_Channel, &kAnswerNoScreen, 1, 0);
    DestroyWindow(dialog);
    closesocket(g_Channel);
    return 5;
  }
  /* The daemon closing the channel (its invitation went) closes the dialog. */
  WSAAsyncSelect(g_Channel, dialog, WM_RING_EVENT, FD_READ | FD_CLOSE);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_RING_EVENT) {
      if (IsWindow(dialog)) DestroyWindow(dialog);
      continue;
    }
    if (IsWindow(dialog) && IsDialogMessageA(dialog, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  Ctl3dUnload(instance);
  closesocket(g_Channel);
  WSACleanup();
  return 0;
}
