// The server's own portmapper (program 100000 version 2) on UDP port 111. Its
// registrations are fixed: the four programs the server answers on UDP port
// 2049. Registrations by other programs are refused; nothing on this socket
// enters the duplicate-request cache.
#include "rpc.h"

namespace {

constexpr uint32_t kProtocolUdp = 17;

enum PortmapProcedure : uint32_t {
  PMAPPROC_NULL = 0,
  PMAPPROC_SET = 1,
  PMAPPROC_UNSET = 2,
  PMAPPROC_GETPORT = 3,
  PMAPPROC_DUMP = 4,
};

struct Registration {
  uint32_t program;
  uint32_t version;
};
constexpr Registration kRegistrations[] = {
    {kMountProgram, 1},
    {kNfsProgram, 2},
    {kNlmProgram, 3},
    {kPcnfsdProgram, 1},
};

uint32_t GetPort(uint32_t program, uint32_t protocol) {
  if (protocol != kProtocolUdp) return 0;
  for (const Registration &r : kRegistrations)
    if (r.program == program) return kNfsPort;  // any version of a served program
  return 0;
}

size_t DumpBody(uint8_t *body) {
  XdrWriter out(body, kMaxReplyBody);
  for (const Registration &r : kRegistrations) {
    out.Long(1);  // a mapping follows
    out.Long(r.program);
    out.Long(r.version);
    out.Long(kProtocolUdp);
    out.Long(kNfsPort);
  }
  out.Long(0);
  return out.length();
}

}  // namespace

void PortmapHandler(const uint8_t *datagram, size_t length, const RpcPeer &from) {
  RpcCall call;
  if (ParseRpcCall(datagram, length, call) != CallParse::Ok || call.program != kPortmapProgram) return;
  RpcBeginCall(call, from);
  if (call.version != 2) {
    RpcSendMismatch(kPortmapSocket, from, 2, 2);
    return;
  }
  uint8_t *body = ReplyBody();
  switch (call.procedure) {
    case PMAPPROC_NULL:
      ++REQUEST_COUNTERS[kCountNull];
      RpcSendReply(kPortmapSocket, from, 0);
      return;
    case PMAPPROC_SET:
    case PMAPPROC_UNSET: {
      uint32_t mapping[4];
      for (uint32_t &word : mapping) call.args.Long(word);
      if (!call.args.ok()) break;
      XdrPutLong(body, 0);  // FALSE: nothing registers here
      RpcSendReply(kPortmapSocket, from, 4);
      return;
    }
    case PMAPPROC_GETPORT: {
      uint32_t program = 0, version = 0, protocol = 0, port = 0;
      if (!call.args.Long(program) || !call.args.Long(version) || !call.args.Long(protocol) || !call.args.Long(port))
        break;
      XdrPutLong(body, GetPort(program, protocol));
      RpcSendReply(kPortmapSocket, from, 4);
      return;
    }
    case PMAPPROC_DUMP: RpcSendReply(kPortmapSocket, from, DumpBody(body)); return;
    default: return;  // CALLIT and numbers past the protocol: no reply
  }
  RpcSendReply(kPortmapSocket, from, 0, RPC_GARBAGE_ARGS);
}
