// The module "ICMP.DLL" (icmp.so), loaded by name by the traceroute and ping
// programs: ICMP.DLL's two entry sets over the layer's echo engine.
#include <windows.h>
#include <icmpapi.h>

#include <algorithm>
#include <cstring>

#include "qx/icmp.h"

namespace {

constexpr DWORD kReplyWaitMs = 5000;  // do_echo_rep: the longest a reply is awaited

qx::icmp::EchoOptions OptionsFrom(const IP_OPTION_INFORMATION *info) {
  qx::icmp::EchoOptions options;
  if (!info) return options;
  options.ttl = info->Ttl ? info->Ttl : 128;
  options.tos = info->Tos;
  options.dont_fragment = (info->Flags & IP_FLAG_DF) != 0;
  if (info->OptionsSize && info->OptionsData)
    options.ip_options.assign(info->OptionsData, info->OptionsData + info->OptionsSize);
  return options;
}

}  // namespace

extern "C" {

QX_DLLEXPORT HANDLE WINAPI IcmpCreateFile(void) {
  HANDLE h = qx::icmp::CreateEchoHandle();
  return h ? h : INVALID_HANDLE_VALUE;
}

QX_DLLEXPORT BOOL WINAPI IcmpCloseHandle(HANDLE IcmpHandle) { return CloseHandle(IcmpHandle); }

QX_DLLEXPORT DWORD WINAPI IcmpSendEcho(HANDLE IcmpHandle, IPAddr DestinationAddress, LPVOID RequestData,
                                       WORD RequestSize, PIP_OPTION_INFORMATION RequestOptions, LPVOID ReplyBuffer,
                                       DWORD ReplySize, DWORD Timeout) {
  if (!ReplyBuffer || ReplySize < sizeof(ICMP_ECHO_REPLY) + 8) {
    SetLastError(ReplyBuffer ? IP_BUF_TOO_SMALL : ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto *reply = static_cast<ICMP_ECHO_REPLY *>(ReplyBuffer);
  std::memset(reply, 0, sizeof *reply);
  DWORD status =
      qx::icmp::SendRequest(IcmpHandle, DestinationAddress, RequestData, RequestSize, OptionsFrom(RequestOptions));
  qx::icmp::EchoResult answer;
  if (!status && !qx::icmp::AwaitAnswer(IcmpHandle, Timeout, answer)) status = IP_REQ_TIMED_OUT;
  if (status) {
    reply->Status = status;  // the reason is in the buffer too, as callers look there
    SetLastError(status);
    return 0;
  }
  // The reply record, then the echoed bytes that fit after it.
  auto *data = reinterpret_cast<unsigned char *>(reply + 1);
  const size_t room = ReplySize - sizeof *reply;
  const size_t copied = std::min({answer.data.size(), room, size_t{0xFFFF}});
  if (copied) std::memcpy(data, answer.data.data(), copied);
  reply->Address = answer.from;
  reply->Status = answer.status;
  reply->RoundTripTime = answer.round_trip_ms;
  reply->DataSize = static_cast<USHORT>(copied);
  reply->Data = data;
  reply->Options.Ttl = static_cast<UCHAR>(answer.ttl);
  reply->Options.Tos = static_cast<UCHAR>(answer.tos);
  reply->Options.Flags = static_cast<UCHAR>(answer.flags);
  return 1;
}

QX_DLLEXPORT HANDLE WINAPI register_icmp(void) { return qx::icmp::CreateEchoHandle(); }

QX_DLLEXPORT DWORD WINAPI do_echo_req(HANDLE handle, IPAddr destination, LPVOID data, UINT data_size,
                                      LPVOID options_data, UINT options_size, UINT tos, UINT ttl, UINT flags,
                                      UINT reserved) {
  (void)reserved;
  qx::icmp::EchoOptions options;
  options.ttl = ttl ? ttl : 128;
  options.tos = tos;
  options.dont_fragment = (flags & IP_FLAG_DF) != 0;
  if (options_data && options_size) {
    const auto *bytes = static_cast<const unsigned char *>(options_data);
    options.ip_options.assign(bytes, bytes + std::min(options_size, 40u));
  }
  return qx::icmp::SendRequest(handle, destination, data, data_size, options);
}

QX_DLLEXPORT DWORD WINAPI do_echo_rep(HANDLE handle, LPVOID buffer, UINT size, ULONG *status, ULONG *round_trip,
                                      IPAddr *from, UINT *data_size, UINT *ttl, UINT *tos, UINT *flags) {
  qx::icmp::EchoResult answer;
  const bool got = qx::icmp::AwaitAnswer(handle, kReplyWaitMs, answer);
  const DWORD result = got ? answer.status : IP_REQ_TIMED_OUT;
  const size_t copied = buffer ? std::min<size_t>(answer.data.size(), size) : 0;
  if (copied) std::memcpy(buffer, answer.data.data(), copied);
  if (status) *status = result;
  if (round_trip) *round_trip = got ? answer.round_trip_ms : 0;
  if (from) *from = answer.from;
  if (data_size) *data_size = static_cast<UINT>(copied);
  if (ttl) *ttl = answer.ttl;
  if (tos) *tos = answer.tos;
  if (flags) *flags = answer.flags;
  return result;
}

}  // extern "C"
