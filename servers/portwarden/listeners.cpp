/* portwarden's listeners and daemon launcher: one socket per enabled service,
 * a daemon process per connection (TCP) or burst of datagrams (UDP), and the
 * bookkeeping of the hand-over and of the sessions per service. */
#include "portwarden.h"

#include <qxcommon.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

DWORD g_OpenMask = 0;

namespace {

/* Handed sockets whose copy the super-server still holds (timer running).
 * Only these may be closed by WM_DAEMON_SOCKET_TAKEN or WM_TIMER. */
std::set<SOCKET> g_PendingHandovers;

/* A daemon process this super-server started, watched until it ends. A
 * daemon that dies without WM_DAEMON_EXITED still ends its session. */
struct DAEMON_RECORD {
  HANDLE process;
  DWORD pid;
  int slot;
  bool dead;          /* ended; its report may still be on its way */
  DWORD deadlineTick; /* when an unreported death ends the session */
};
std::vector<DAEMON_RECORD> g_Daemons;
/* WM_DAEMON_EXITED reports per slot not yet matched with a daemon's end. */
LONG g_UnmatchedReports[MAX_SERVICES];
/* Slots whose port the last daemon still holds: bound again on a timer. */
DWORD g_BindRetryMask = 0;

const DWORD kBindRetryDelayMs = 50; /* the service thread never sleeps: the timer retries */
const DWORD kDeathGraceMs = 300;    /* a report posted just before the end arrives within this */

void MarkClosed(int i) {
  g_Slots[i].flags &= ~SLOT_OPEN;
  g_OpenMask &= ~(1UL << i);
  g_Slots[i].socket = -1;
}

/* Whether the slot's last daemon still runs. Our own daemons are known by
 * their handles (no process id reuse can fool this); another process id is
 * asked of the system. */
bool LastDaemonAlive(const SERVICE_SLOT &slot) {
  if (slot.lastPid == 0) return false;
  for (const DAEMON_RECORD &d : g_Daemons)
    if (d.pid == slot.lastPid) return !d.dead;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, slot.lastPid);
  if (!process) return false;
  CloseHandle(process);
  return true;
}

enum BindResult { BIND_DONE, BIND_FAILED, BIND_LATER };

/* Binds to the slot's port. A port still held by the slot's last daemon is
 * tried again on a timer while that daemon lives, never in a loop here. */
BindResult BindSlot(HWND window, int i, SOCKET s) {
  SERVICE_SLOT &slot = g_Slots[i];
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(slot.port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (WsBind(s, (const sockaddr *)&address, sizeof address) == 0) return BIND_DONE;
  int error = WSAGetLastError();
  if (error != WSAEADDRINUSE) {
    ReportPortwardenEvent(EV_NETWORK_ERROR, "Network Error: %d\r\n", error);
    return BIND_FAILED;
  }
  if (LastDaemonAlive(slot)) {
    g_BindRetryMask |= 1UL << i;
    SetTimer(window, BIND_RETRY_TIMER, kBindRetryDelayMs, nullptr);
    return BIND_LATER;
  }
  if (WsBind(s, (const sockaddr *)&address, sizeof address) == 0) return BIND_DONE;
  WSASetLastError(WSAEADDRINUSE);
  ReportPortwardenEvent(EV_BIND_RETRY_FAILED, "After Bind ...  Open failed\r\n");
  return BIND_FAILED;
}

/* Bind failure: the service is disabled, and the reason goes to the event
 * log and to standard error, so a port another program holds is never a
 * silent failure. */
void BindFailure(int i, int error) {
  SERVICE_SLOT &slot = g_Slots[i];
  slot.flags &= ~SLOT_ENABLED;
  ReportPortwardenEvent(EV_BIND_FAILURE, "Bind failure on port %d, program %s, Error %d at %s\r", slot.port,
                        slot.program.c_str(), error, TimeStamp());
  fprintf(stderr, "portwarden: cannot listen on %s port %u for %s (error %d%s); the service is disabled\n",
          (slot.flags & SLOT_DATAGRAM) ? "UDP" : "TCP", (unsigned)slot.port, slot.name.c_str(), error,
          error == WSAEADDRINUSE      ? ": the port is in use by another program"
          : error == WSAEACCES        ? ": ports below 1024 need root"
          : error == WSAEADDRNOTAVAIL ? ": no such port"
                                      : "");
}

void OpenSlot(HWND window, int i) {
  SERVICE_SLOT &slot = g_Slots[i];
  bool datagram = (slot.flags & SLOT_DATAGRAM) != 0;
  if (slot.port == 0) { /* port 0 would listen on a port nobody asked for */
    ReportPortwardenEvent(EV_NETWORK_ERROR, "Network Error: %d\r\n", WSAEADDRNOTAVAIL);
    BindFailure(i, WSAEADDRNOTAVAIL);
    return;
  }
  SOCKET s = WsSocket(AF_INET, datagram ? SOCK_DGRAM : SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    int error = WSAGetLastError();
    ReportPortwardenEvent(EV_SOCKET_FAILURE, "Socket failure on port %d, program %s, Error %d at %s\r", slot.port,
                          slot.program.c_str(), error, TimeStamp());
    fprintf(stderr, "portwarden: cannot make a socket for %s (error %d); it is tried again at the next change\n",
            slot.name.c_str(), error);
    return;
  }
  /* Only a TCP listener may rebind over connections of earlier daemons; a
   * UDP port is never shared, so a second server's bind fails instead of
   * silently splitting the datagrams. */
  if (!datagram) {
    BOOL on = TRUE;
    WsSetSockOpt(s, SOL_SOCKET, SO_REUSEADDR, (const char *)&on, sizeof on);
  }
  BindResult bound = BindSlot(window, i, s);
  if (bound != BIND_DONE) {
    int error = WSAGetLastError();
    WsCloseSocket(s);
    if (bound == BIND_FAILED) BindFailure(i, error);
    return;
  }
  if (!datagram) listen(s, ListenBacklog(slot.maximum));
  u_long nonBlocking = 1;
  WsIoctlSocket(s, FIONBIO, &nonBlocking);
  slot.socket = (LONG)s;
  slot.ownerPid = (LONG)GetCurrentProcessId();
  slot.reserved = 0;
  WSAAsyncSelect(s, window, WM_LISTEN_EVENT, datagram ? FD_READ : FD_ACCEPT);
  ReportPortwardenEvent(EV_OPENED, "Opened %s on port %d, socket %d at %s\r", slot.name.c_str(), slot.port, (int)s,
                        TimeStamp());
  slot.flags |= SLOT_OPEN;
  g_OpenMask |= 1UL << i;
}

void WatchDaemon(HANDLE process, DWORD pid, int slot) {
  for (size_t k = 0; k < g_Daemons.size(); k++) /* an ended daemon with this id is gone for good */
    if (g_Daemons[k].pid == pid) {
      CloseHandle(g_Daemons[k].process);
      g_Daemons.erase(g_Daemons.begin() + (long)k);
      break;
    }
  g_Daemons.push_back(DAEMON_RECORD{process, pid, slot, false, 0});
}

LONG LiveDaemons(int slot) {
  LONG count = 0;
  for (const DAEMON_RECORD &d : g_Daemons) count += (d.slot == slot && !d.dead) ? 1 : 0;
  return count;
}

void ForgetDaemon(size_t k) {
  CloseHandle(g_Daemons[k].process);
  g_Daemons.erase(g_Daemons.begin() + (long)k);
}

bool Readable(SOCKET s) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval zero{0, 0};
  return select(0, &set, nullptr, nullptr, &zero) > 0;
}

void LaunchSlot(HWND window, int i) {
  SERVICE_SLOT &slot = g_Slots[i];
  SOCKET listener = (SOCKET)slot.socket;
  bool datagram = (slot.flags & SLOT_DATAGRAM) != 0;
  if (!Readable(listener)) return;
  SOCKET handed;
  if (datagram) {
    if (!Readable(listener)) return;
    handed = listener;
    ReportPortwardenEvent(EV_CONNECT_UDP, "Incoming connect for %s at %s\r", slot.name.c_str(), TimeStamp());
  } else {
    sockaddr_in peer{};
    int peerLength = sizeof peer;
    handed = WsAccept(listener, (sockaddr *)&peer, &peerLength);
    if (handed == INVALID_SOCKET) return;
    WSAAsyncSelect(listener, window, WM_LISTEN_EVENT, FD_ACCEPT);
    /* The daemon registers its own events; this copy must post nothing. */
    WSAAsyncSelect(handed, window, 0, 0);
    u_long nonBlocking = 1;
    WsIoctlSocket(handed, FIONBIO, &nonBlocking);
    const unsigned char *b = (const unsigned char *)&peer.sin_addr;
    ReportPortwardenEvent(EV_CONNECT_TCP, "Incoming connect from %u.%u.%u.%u for %s at %s\r", b[0], b[1], b[2], b[3],
                          slot.name.c_str(), TimeStamp());
  }

  char commandLine[512];
  FormatDaemonCommandLine(commandLine, sizeof commandLine, &slot, handed, (DWORD)slot.ownerPid, window, i);
  STARTUPINFOA startup{};
  startup.cb = 68;
  startup.wShowWindow = 0;
  PROCESS_INFORMATION process{};
  /* Only the daemon started next may take the handed socket, once, while our copy is open. */
  QxOfferSocketToNextChild((UINT_PTR)handed);
  if (CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup,
                     &process)) {
    g_PendingHandovers.insert(handed);
    SetTimer(window, (UINT_PTR)handed, HandoverTimeoutMs(), nullptr);
    slot.lastPid = process.dwProcessId;
    CloseHandle(process.hThread);
    WatchDaemon(process.hProcess, process.dwProcessId, i); /* keeps the process handle until the daemon ends */
    slot.sessions++;
    if (datagram) {
      MarkClosed(i); /* the daemon owns the socket now */
    } else if (!(slot.flags & SLOT_KEEP_LISTENING) && slot.sessions >= slot.maximum) {
      WsCloseSocket(listener);
      MarkClosed(i);
    }
    return;
  }
  ReportPortwardenEvent(EV_ACTIVATE_ERROR, "** Error activating %s", commandLine);
  if (datagram) {
    CloseListener(i); /* the handed socket is the listener: closed once */
    MarkClosed(i);
  } else {
    WsCloseSocket(handed); /* the listener stays open for the next client */
  }
}

}  // namespace

UINT HandoverTimeoutMs(void) {
  /* Only the tests shorten the hand-over timer; nothing else reads this variable. */
  const char *text = getenv("QX_TEST_HANDOVER_MS");
  if (text && *text) {
    long ms = strtol(text, nullptr, 10);
    if (ms > 0 && ms < HANDOVER_TIMEOUT_MS) return (UINT)ms;
  }
  return HANDOVER_TIMEOUT_MS;
}

void OpenListeners(HWND window, BOOL quiet) {
  for (int i = 0; i < MAX_SERVICES; i++) {
    const SERVICE_SLOT &slot = g_Slots[i];
    if (!(slot.flags & SLOT_USED) || !(slot.flags & SLOT_ENABLED) || (slot.flags & SLOT_OPEN) ||
        slot.sessions >= slot.maximum || (g_BindRetryMask & (1UL << i)))
      continue;
    OpenSlot(window, i);
  }
  if (!quiet) UpdateWindow(window);
}

void LaunchDaemon(HWND window, BOOL quiet) {
  for (int i = 0; i < MAX_SERVICES; i++) {
    if (g_OpenMask & (1UL << i)) LaunchSlot(window, i);
  }
  OpenListeners(window, quiet);
}

void HandoverTaken(HWND window, SOCKET handed, BOOL timedOut) {
  /* Only a socket still waiting for its daemon is closed: a late or forged
   * report never closes a listener or a socket that reused the number. */
  if (g_PendingHandovers.erase(handed) == 0) return;
  KillTimer(window, (UINT_PTR)handed);
  WsCloseSocket(handed);
  if (timedOut) OpenListeners(window, FALSE);
}

BOOL SessionEnded(int slot, HWND window) {
  BOOL ended = FALSE;
  if (slot < 0 || slot >= MAX_SERVICES) {
    ReportPortwardenEvent(EV_INVALID_SLOT, "*** Received close for Invalid handle %d at %s\r", slot, TimeStamp());
  } else if (g_Slots[slot].sessions == 0) {
    ReportPortwardenEvent(EV_NO_SESSIONS, "*** No outstanding sessions noted for this handle at %s", TimeStamp());
  } else {
    ended = TRUE;
    LONG before = g_Slots[slot].sessions--;
    if (before == g_Slots[slot].maximum) {
      ReportPortwardenEvent(EV_RESTART_LISTEN, "Restarting listen at %s", TimeStamp());
      OpenListeners(window, FALSE);
    }
  }
  UpdateWindow(window);
  return ended;
}

void DaemonReported(int slot, HWND window) {
  if (!SessionEnded(slot, window)) return;
  /* Match the report with a daemon that ended unreported, else keep it for
   * the next daemon of this slot that ends (never more than are running). */
  for (size_t k = 0; k < g_Daemons.size(); k++)
    if (g_Daemons[k].slot == slot && g_Daemons[k].dead) {
      ForgetDaemon(k);
      return;
    }
  if (g_UnmatchedReports[slot] < LiveDaemons(slot)) g_UnmatchedReports[slot]++;
}

size_t DaemonWaitHandles(HANDLE *handles, size_t most) {
  size_t n = 0;
  for (const DAEMON_RECORD &d : g_Daemons)
    if (!d.dead && n < most) handles[n++] = d.process;
  return n;
}

size_t DaemonsWatched(void) { return g_Daemons.size(); }

void CheckDaemonEnds(HWND window) {
  bool newlyEnded = false;
  for (size_t k = 0; k < g_Daemons.size();) {
    DAEMON_RECORD &d = g_Daemons[k];
    if (!d.dead && WaitForSingleObject(d.process, 0) != WAIT_TIMEOUT) {
      if (g_UnmatchedReports[d.slot] > 0) { /* it reported before it ended */
        g_UnmatchedReports[d.slot]--;
        ForgetDaemon(k);
        continue;
      }
      d.dead = true;
      d.deadlineTick = GetTickCount() + kDeathGraceMs;
      newlyEnded = true;
    }
    k++;
  }
  /* Set only for a new end: setting it again would put off the ends already waiting. */
  if (newlyEnded) SetTimer(window, DAEMON_END_TIMER, kDeathGraceMs, nullptr);
}

void DaemonEndTimer(HWND window) {
  KillTimer(window, DAEMON_END_TIMER);
  DWORD now = GetTickCount();
  bool waiting = false;
  for (size_t k = 0; k < g_Daemons.size();) {
    if (g_Daemons[k].dead && (LONG)(now - g_Daemons[k].deadlineTick) >= 0) {
      /* Ended without its report: the session ends as the report would end it. */
      int slot = g_Daemons[k].slot;
      ForgetDaemon(k);
      SessionEnded(slot, window);
      continue;
    }
    waiting = waiting || g_Daemons[k].dead;
    k++;
  }
  if (waiting) SetTimer(window, DAEMON_END_TIMER, kDeathGraceMs, nullptr);
}

void BindRetryTimer(HWND window) {
  KillTimer(window, BIND_RETRY_TIMER);
  g_BindRetryMask = 0;
  OpenListeners(window, FALSE);
}

void CloseListener(int slot) {
  ReportPortwardenEvent(EV_SHUTDOWN, "Shutting down %s server at %s", g_Slots[slot].name.c_str(), TimeStamp());
  if (g_Slots[slot].socket != -1) WsCloseSocket((SOCKET)g_Slots[slot].socket);
}

void ShutListener(int slot) {
  if (!(g_Slots[slot].flags & SLOT_OPEN)) return;
  CloseListener(slot);
  MarkClosed(slot);
}

void CloseAllListeners(void) {
  for (int i = 0; i < MAX_SERVICES; i++) {
    if ((g_Slots[i].flags & SLOT_ENABLED) && (g_Slots[i].flags & SLOT_OPEN)) {
      CloseListener(i);
      MarkClosed(i);
    }
  }
}

void ClearTable(void) {
  for (int i = 0; i < MAX_SERVICES; i++) {
    /* Only an open listener is ours to close; a handed socket belongs to its daemon. */
    if ((g_Slots[i].flags & SLOT_USED) && (g_Slots[i].flags & SLOT_ENABLED) && (g_Slots[i].flags & SLOT_OPEN))
      CloseListener(i);
    ResetSlot(&g_Slots[i]);
  }
  g_OpenMask = 0;
}
