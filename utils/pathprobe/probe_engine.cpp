// pathprobe's probe engine (see probe_engine.h).
#include "probe_engine.h"

#include <icmpapi.h>
#include <winsock.h>

#include <queryclient.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

HOP_RECORD g_Hops[HOP_TABLE_SIZE];
int g_CurrentHop = 0;
PROBE_SETTINGS g_Settings = {true, false, 56, 30, 3, 33434};
char g_DestinationText[129] = "";
DWORD g_Destination = 0;

namespace {

constexpr DWORD kReplyBufferSize = 8192;
constexpr int kLookupBufferSize = 1024;

using IcmpCreateFileProc = HANDLE(WINAPI *)(void);
using IcmpCloseHandleProc = BOOL(WINAPI *)(HANDLE);
using IcmpSendEchoProc = DWORD(WINAPI *)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID, DWORD, DWORD);

std::mutex g_lock;
HMODULE g_icmpModule = nullptr;
IcmpCreateFileProc g_createFile = nullptr;
IcmpCloseHandleProc g_closeHandle = nullptr;
IcmpSendEchoProc g_sendEcho = nullptr;
HANDLE g_icmp = INVALID_HANDLE_VALUE;
HANDLE g_wake = nullptr;  // auto-reset: releases the probe thread
HWND g_window = nullptr;

// Under g_lock.
bool g_threadExists = false;
bool g_quit = false;
int g_retries = 0;
BYTE g_sequence = 0;
unsigned g_generation = 0;  // of the current trace
struct PendingReply {
  bool valid;
  unsigned generation;
  DWORD tick;
  DWORD address;
} g_reply = {};

std::string Dotted(DWORD address) {
  in_addr a{};
  a.s_addr = address;
  return inet_ntoa(a);
}

void SetName(HOP_RECORD &hop, const char *name) { std::snprintf(hop.name, sizeof hop.name, "%s", name); }

// Fills the request for time-to-live ttl: the sequence byte, the time-to-live
// and the send tick (little-endian) in the first 8 bytes, zeros after them.
void BuildRequest(std::vector<BYTE> &request, unsigned dataLen, BYTE sequence, int ttl, DWORD tick) {
  request.assign(dataLen + 8, 0);
  request[0] = sequence;
  request[1] = static_cast<BYTE>(ttl);
  for (int i = 0; i < 4; ++i) request[4 + i] = static_cast<BYTE>(tick >> (8 * i));
}

// One round of the probe thread: probes hops (retrying and giving hops up
// without waiting) until a reply is handed to the window, the trace is
// abandoned or MaxTTL is reached. False when the thread is to end.
bool ProbeUntilReply(std::vector<BYTE> &request, std::vector<BYTE> &replies) {
  for (;;) {
    std::unique_lock lock(g_lock);
    if (g_quit || g_CurrentHop >= g_Settings.maxTtl || g_CurrentHop >= HOP_LAST) {
      g_threadExists = false;
      return false;
    }
    const unsigned generation = g_generation;
    const int h = g_CurrentHop;
    const DWORD destination = g_Destination;
    if (g_Hops[0].address != destination) {
      g_Hops[0].address = destination;
      PostMessageA(g_window, WM_PROBE_TITLE, 0, 0);
    }
    ++g_sequence;
    HOP_RECORD &hop = g_Hops[h + 1];
    hop.port = htons(static_cast<WORD>(g_Settings.basePort + h));
    const DWORD sendTick = GetTickCount();
    BuildRequest(request, g_Settings.dataLen, g_sequence, h + 1, sendTick);
    hop.sendTick = sendTick;
    const int numProbes = g_Settings.numProbes;
    lock.unlock();

    PostMessageA(g_window, WM_PROBE_REDISPLAY, static_cast<WPARAM>(h + 1), 0);
    IP_OPTION_INFORMATION options{static_cast<UCHAR>(h + 1), 0, 0, 0, nullptr};
    const DWORD count = g_sendEcho(g_icmp, destination, request.data(), static_cast<WORD>(request.size()), &options,
                                   replies.data(), kReplyBufferSize, PROBE_REPLY_WAIT_MS);
    const DWORD replyTick = GetTickCount();

    lock.lock();
    if (g_quit) {
      g_threadExists = false;
      return false;
    }
    if (generation != g_generation) return true;  // a new trace began: the event is already set for it
    if (count > 0) {
      ICMP_ECHO_REPLY reply;
      std::memcpy(&reply, replies.data(), sizeof reply);
      g_Hops[h + 1].state = HopStateFromStatus(reply.Status);
      g_reply = PendingReply{true, generation, replyTick, reply.Address};
      g_retries = 0;  // the next hop gets its own NumProbes attempts
      PostMessageA(g_window, WM_PROBE_REPLY, replyTick, static_cast<LPARAM>(reply.Address));
      return true;  // the window decides whether the trace goes on
    }
    if (++g_retries < numProbes) continue;
    g_CurrentHop = h + 1;  // given up: "No Response", and on to the next hop
    g_retries = 0;
    PostMessageA(g_window, WM_PROBE_REDISPLAY, static_cast<WPARAM>(g_CurrentHop), 0);
  }
}

DWORD WINAPI ProbeThread(LPVOID) {
  std::vector<BYTE> request;
  std::vector<BYTE> replies(kReplyBufferSize);
  do {
    WaitForSingleObject(g_wake, INFINITE);
  } while (ProbeUntilReply(request, replies));
  return 0;
}

// Under g_lock: every pending lookup cancelled (its buffer is never written
// once the cancel has returned) and its buffer freed.
void CancelLookups() {
  for (HOP_RECORD &hop : g_Hops) {
    if (hop.lookupTask) WSACancelAsyncRequest(hop.lookupTask);
    delete[] hop.lookupBuffer;
    hop.lookupBuffer = nullptr;
    hop.lookupTask = nullptr;
  }
}

}  // namespace

std::mutex &ProbeLock() { return g_lock; }

int IcmpBind(HWND window) {
  g_window = window;
  g_icmpModule = LoadLibraryA("ICMP.DLL");
  if (g_icmpModule) {
    g_createFile = reinterpret_cast<IcmpCreateFileProc>(GetProcAddress(g_icmpModule, "IcmpCreateFile"));
    g_closeHandle = reinterpret_cast<IcmpCloseHandleProc>(GetProcAddress(g_icmpModule, "IcmpCloseHandle"));
    g_sendEcho = reinterpret_cast<IcmpSendEchoProc>(GetProcAddress(g_icmpModule, "IcmpSendEcho"));
  }
  if (!g_createFile || !g_closeHandle || !g_sendEcho) {
    QueryShowError("Winsock error", "Unable to load the ICMP API Layer",
                   "The ICMP library (ICMP.DLL) was not found beside the program or lacks its entry points. "
                   "Install the suite again.");
    return 1;
  }
  g_icmp = g_createFile();
  if (g_icmp == INVALID_HANDLE_VALUE) {
    QueryShowError("Winsock error", "Unable to get a socket",
                   "Sending ICMP echo requests needs either ICMP datagram sockets, which the system allows a "
                   "group when net.ipv4.ping_group_range includes it (sysctl -w net.ipv4.ping_group_range=\"0 "
                   "2147483647\"), or raw sockets, which need root or the capability cap_net_raw "
                   "(setcap cap_net_raw+ep pathprobe). Grant one of them and start the program again.");
    return 1;
  }
  g_wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  return 0;
}

void IcmpRelease() {
  {
    std::lock_guard guard(g_lock);
    g_quit = true;
    CancelLookups();
  }
  if (g_wake) SetEvent(g_wake);
  if (g_icmp != INVALID_HANDLE_VALUE) g_closeHandle(g_icmp);  // ends a wait for a reply at once
  // The thread leaves as soon as it sees the quit; give it a moment.
  for (int i = 0; i < 100; ++i) {
    {
      std::lock_guard guard(g_lock);
      if (!g_threadExists) break;
    }
    Sleep(20);
  }
}

void ProbeStart() {
  {
    std::lock_guard guard(g_lock);
    if (!g_threadExists && !g_quit) {
      DWORD id = 0;
      HANDLE thread = CreateThread(nullptr, 0, ProbeThread, nullptr, 0, &id);
      if (thread) {
        CloseHandle(thread);
        g_threadExists = true;
      }
    }
  }
  SetEvent(g_wake);
}

void ProbeNewTrace(HWND window, LPCSTR iniFile, LPCSTR hostText, DWORD address) {
  {
    std::lock_guard guard(g_lock);
    CancelLookups();
    for (HOP_RECORD &hop : g_Hops) hop = HOP_RECORD{};
    g_Settings.basePort += g_CurrentHop;
    g_CurrentHop = 0;
    g_retries = 0;
    ++g_generation;
    g_reply.valid = false;
    g_Destination = address;
    std::snprintf(g_DestinationText, sizeof g_DestinationText, "%s", hostText);
  }
  RecentListAdd(iniFile, "pathprobe", "FILE_%d", hostText);
  SendMessageA(window, WM_PROBE_REDISPLAY, static_cast<WPARAM>(-1), 0);
  ProbeStart();
}

void ProbeOnReply(HWND window) {
  bool goesOn = false;
  {
    std::lock_guard guard(g_lock);
    if (!g_reply.valid || g_reply.generation != g_generation) return;  // of an abandoned trace
    g_reply.valid = false;
    const int k = g_CurrentHop + 1;
    HOP_RECORD &hop = g_Hops[k];
    hop.replyTick = g_reply.tick;
    hop.address = g_reply.address;
    SetName(hop, Dotted(hop.address).c_str());
    if (g_Settings.lookupName) {
      if (char *buffer = new (std::nothrow) char[kLookupBufferSize]()) {
        hop.lookupBuffer = buffer;
        hop.lookupTask =
            WSAAsyncGetHostByAddr(window, WM_PROBE_LOOKUP + k, reinterpret_cast<const char *>(&hop.address), 4, AF_INET,
                                  buffer, kLookupBufferSize);
        if (!hop.lookupTask) {
          delete[] buffer;
          hop.lookupBuffer = nullptr;
        }
      }
    }
    PostMessageA(window, WM_PROBE_REDISPLAY, static_cast<WPARAM>(k), 1);
    g_CurrentHop = k;
    goesOn = HopStateGoesOn(hop.state);
  }
  if (goesOn) ProbeStart();
}

void ProbeOnLookup(HWND window, int k, WPARAM wParam, LPARAM lParam) {
  if (k < 1 || k > HOP_LAST) return;
  std::lock_guard guard(g_lock);
  HOP_RECORD &hop = g_Hops[k];
  // Only the lookup this record waits for: a late answer to a cancelled one
  // must not take the buffer of a newer lookup.
  if (!hop.lookupBuffer || hop.lookupTask != reinterpret_cast<HANDLE>(wParam)) return;
  char *buffer = hop.lookupBuffer;
  hop.lookupBuffer = nullptr;
  hop.lookupTask = nullptr;
  if (WSAGETASYNCERROR(lParam) == 0) {
    const auto *entry = reinterpret_cast<const struct hostent *>(buffer);
    if (entry->h_name) {
      SetName(hop, entry->h_name);
      PostMessageA(window, WM_PROBE_REDISPLAY, static_cast<WPARAM>(k), 1);
    }
  }
  delete[] buffer;
}

int ProbeLastShownHop() {
  if (!g_Destination) return 0;
  int last = g_CurrentHop + 1;
  if (last > g_Settings.maxTtl) last = g_Settings.maxTtl;
  if (last > HOP_LAST) last = HOP_LAST;
  // A hop the thread has not sent to yet has nothing to show.
  while (last > 0 && g_Hops[last].sendTick == 0 && g_Hops[last].replyTick == 0) --last;
  return last;
}
