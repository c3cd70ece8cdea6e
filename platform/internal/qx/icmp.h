// ICMP echo requests for the module ICMP.DLL (platform/icmp/module): the
// engine lives in the core so that its handles are ordinary table handles
// (CloseHandle closes them) and outlive no module code.
//
// Backends, chosen when a handle is made (QX_ICMP_BACKEND=dgram|raw forces one):
//   dgram  socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP): no privilege needed where
//          net.ipv4.ping_group_range admits the user; routers' errors arrive
//          on the socket's error queue (IP_RECVERR);
//   raw    socket(AF_INET, SOCK_RAW, IPPROTO_ICMP): needs CAP_NET_RAW; replies
//          and errors are matched by the handle's identifier and sequence.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qx::icmp {

struct EchoOptions {
  unsigned ttl = 128;
  unsigned tos = 0;
  bool dont_fragment = false;
  std::vector<std::uint8_t> ip_options;
};

struct EchoResult {
  DWORD status = 0;        // IP_SUCCESS or an IP_ status
  std::uint32_t from = 0;  // answering address, network order
  DWORD round_trip_ms = 0;
  unsigned ttl = 0, tos = 0, flags = 0;  // of the reply's IP header
  std::vector<std::uint8_t> data;        // echoed bytes (echo replies only)
};

// A new handle (a table handle), or NULL with the last error set.
HANDLE CreateEchoHandle();
// Sends one request on the handle. Returns 0 or an IP_ status / Win32 error.
DWORD SendRequest(HANDLE handle, std::uint32_t destination, const void *data, size_t size, const EchoOptions &options);
// Waits up to timeout_ms for the answer to the handle's last request; false
// when none came (the time ran out, or the handle was closed meanwhile).
bool AwaitAnswer(HANDLE handle, DWORD timeout_ms, EchoResult &result);
// "dgram" or "raw": the backend behind a handle ("" for a bad handle).
std::string BackendOf(HANDLE handle);

}  // namespace qx::icmp
