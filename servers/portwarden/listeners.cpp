/* portwarden's listeners and daemon launcher: one socket per enabled service,
 * a daemon process per connection (TCP) or burst of datagrams (UDP), and the
 * bookkeeping of the hand-over and of the sessions per service. */
#include "portwarden.h"

#include <qxcommon.h>

#include <cstdio>
#include <cstdlib>
#include <set>

DWORD g_OpenMask = 0;

namespace {

/* Handed sockets whose copy the super-server still holds (timer running).
 * Only these may be closed by WM_DAEMON_SOCKET_TAKEN or WM_TIMER. */
std::set<SOCKET> g_PendingHandovers;

const int kBindRetries = 50;        /* while the previous daemon lives ... */
const DWORD kBindRetryDelayMs = 20; /* ... retry for at most a second */

void MarkClosed(int i) {
  g_Slots[i].flags &= ~SLOT_OPEN;
  g_OpenMask &= ~(1UL << i);
  g_Slots[i].socket = -1;
}

bool ProcessAlive(DWORD pid) {
  if (pid == 0) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (!process) return false;
  CloseHandle(process);
  return true;
}

/* Binds to the slot's port; a port still held by the slot's last daemon is retried a short while. */
bool BindSlot(int i, SOCKET s) {
  SERVICE_SLOT &slot = g_Slots[i];
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(slot.port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  int tries = 0;
  while (WsBind(s, (const sockaddr *)&address, sizeof address) == SOCKET_ERROR) {
    int error = WSAGetLastError();
    if (error != WSAEADDRINUSE) {
      ReportPortwardenEvent(EV_NETWORK_ERROR, "Network Error: %d\r\n", error);
      return false;
    }
    if (ProcessAlive(slot.lastPid) && ++tries < kBindRetries) {
      Sleep(kBindRetryDelayMs);
      continue;
    }
    if (WsBind(s, (const sockaddr *)&address, sizeof address) == 0) return true;
    ReportPortwardenEvent(EV_BIND_RETRY_FAILED, "After Bind ...  Open failed\r\n");
    return false;
  }
  return true;
}

void OpenSlot(HWND window, int i) {
  SERVICE_SLOT &slot = g_Slots[i];
  bool datagram = (slot.flags & SLOT_DATAGRAM) != 0;
  SOCKET s = WsSocket(AF_INET, datagram ? SOCK_DGRAM : SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    ReportPortwardenEvent(EV_SOCKET_FAILURE, "Socket failure on port %d, program %s, Error %d at %s\r", slot.port,
                          slot.program.c_str(), WSAGetLastError(), TimeStamp());
    return;
  }
  BOOL on = TRUE;
  WsSetSockOpt(s, SOL_SOCKET, SO_REUSEADDR, (const char *)&on, sizeof on);
  if (!BindSlot(i, s)) {
    int error = WSAGetLastError();
    slot.flags &= ~SLOT_ENABLED;
    ReportPortwardenEvent(EV_BIND_FAILURE, "Bind failure on port %d, program %s, Error %d at %s\r", slot.port,
                          slot.program.c_str(), error, TimeStamp());
    WsCloseSocket(s);
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
  if (CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup,
                     &process)) {
    g_PendingHandovers.insert(handed);
    SetTimer(window, (UINT_PTR)handed, HandoverTimeoutMs(), nullptr);
    slot.lastPid = process.dwProcessId;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
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
        slot.sessions >= slot.maximum)
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

void SessionEnded(int slot, HWND window) {
  if (slot < 0 || slot >= MAX_SERVICES) {
    ReportPortwardenEvent(EV_INVALID_SLOT, "*** Received close for Invalid handle %d at %s\r", slot, TimeStamp());
  } else if (g_Slots[slot].sessions == 0) {
    ReportPortwardenEvent(EV_NO_SESSIONS, "*** No outstanding sessions noted for this handle at %s", TimeStamp());
  } else {
    LONG before = g_Slots[slot].sessions--;
    if (before == g_Slots[slot].maximum) {
      ReportPortwardenEvent(EV_RESTART_LISTEN, "Restarting listen at %s", TimeStamp());
      OpenListeners(window, FALSE);
    }
  }
  UpdateWindow(window);
}

void CloseListener(int slot) {
  ReportPortwardenEvent(EV_SHUTDOWN, "Shutting down %s server at %s", g_Slots[slot].name.c_str(), TimeStamp());
  if (g_Slots[slot].socket != -1) WsCloseSocket((SOCKET)g_Slots[slot].socket);
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
