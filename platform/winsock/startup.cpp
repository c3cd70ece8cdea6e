// WSAStartup and WSACleanup: a per-process reference count and the WSADATA
// that describes this Winsock.
#include "ws_internal.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <sys/resource.h>

namespace qx::ws {
namespace {

std::atomic<int> g_startups{0};
constexpr char kDescription[] = "QX Windows Sockets 1.1 over Linux BSD sockets";
constexpr char kStatus[] = "Running";
constexpr unsigned short kMaxUdpDatagram = 65467;  // 65535 less IP and UDP headers

unsigned short MaxSockets() {
  rlimit lim{};
  if (getrlimit(RLIMIT_NOFILE, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) return 32767;
  return static_cast<unsigned short>(std::min<rlim_t>(lim.rlim_cur, 32767));
}

}  // namespace

bool CheckStarted() {
  if (g_startups.load(std::memory_order_relaxed) > 0) return true;
  SetLastError(kWSANOTINITIALISED);
  return false;
}

}  // namespace qx::ws

using namespace qx::ws;

extern "C" {

// Versions 1.0 and 1.1 are offered; a request for a later version gets 1.1
// and the caller decides whether that will do, as Winsock has it.
WINBASEAPI int WINAPI WSAStartup(WORD requested, WsData *data) {
  const int major = LOBYTE(requested), minor = HIBYTE(requested);
  if (major == 0) return kWSAVERNOTSUPPORTED;
  if (!data) return kWSAEFAULT;
  const bool below = major < 1 || (major == 1 && minor < 1);
  std::memset(data, 0, sizeof *data);
  data->wVersion = below ? requested : MAKEWORD(1, 1);
  data->wHighVersion = MAKEWORD(1, 1);
  std::memcpy(data->szDescription, kDescription, sizeof kDescription);
  std::memcpy(data->szSystemStatus, kStatus, sizeof kStatus);
  data->iMaxSockets = MaxSockets();
  data->iMaxUdpDg = kMaxUdpDatagram;
  data->lpVendorInfo = nullptr;
  g_startups.fetch_add(1);
  return 0;
}

WINBASEAPI int WINAPI WSACleanup(void) {
  int count = g_startups.load();
  while (count > 0 && !g_startups.compare_exchange_weak(count, count - 1)) {
  }
  if (count <= 0) return Fail(kWSANOTINITIALISED);
  if (count == 1) {
    ForgetAllRegistrations();  // sockets stay open, their messages stop
    CancelAllLookups();
  }
  return 0;
}

}  // extern "C"
