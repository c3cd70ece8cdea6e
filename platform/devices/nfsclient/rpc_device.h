// The NFS client product's RPC device as far as the suite meets it: request
// 0x7400C takes an RPC_DEVICE_REQUEST (the server's address, program,
// version, procedure and argument pieces), makes the ONC RPC call over UDP and
// answers with the XDR result body. Parsing and encoding are here, apart from
// the sockets, so they are tested alone.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qxnfs {

constexpr DWORD kRpcCallRequest = 0x7400C;
constexpr std::uint32_t kRequestMagic = 0xFFE17B80;
constexpr size_t kPiecesOffset = 108;
constexpr int kMaxPieces = 64;

struct RpcCall {
  std::uint32_t server = 0;  // IPv4 address, network byte order
  std::uint32_t program = 0, version = 0, procedure = 0;
  std::string arguments;  // the pieces, each padded with zeros to a multiple of 4 (XDR)
};

// Reads a request; false, with what is wrong in `why`, for one that does not
// hold together (wrong magic, a name or piece outside the buffer, no end mark).
bool ParseRequest(const std::vector<std::uint8_t> &in, RpcCall &call, std::string &why);

// The call datagram: xid, CALL, RPC version 2, program, version, procedure,
// AUTH_NULL credentials and verifier, then the arguments.
std::string EncodeCall(std::uint32_t xid, const RpcCall &call);

enum class ReplyKind { kSuccess, kNotOurs, kDenied, kUnavailable, kFailed };
// Classifies a reply datagram to xid; on success `body` is the result body.
ReplyKind DecodeReply(const std::string &datagram, std::uint32_t xid, std::string &body);

// The Win32 error the device reports for a reply kind (0 for success).
DWORD ErrorOfReply(ReplyKind kind);

}  // namespace qxnfs
