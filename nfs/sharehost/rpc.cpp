// ONC RPC calls on the NFS socket: header, credentials, dispatch by program,
// replies and the duplicate-request cache.
#include "rpc.h"

#include <array>

int32_t CallerUid = -2;
int32_t CallerGid = -2;
std::string CallerMachine;
uint32_t REQUEST_COUNTERS[kRequestCounterCount];

namespace {

RpcSendFunction g_send = nullptr;
std::array<uint8_t, kReplyBufferSize> g_reply;

// What identifies one call of one client: a true retransmission matches every
// field, so replies of two programs or two clients behind one address never
// stand in for each other.
struct CallKey {
  uint32_t xid = 0;
  uint32_t address = 0;
  uint16_t port = 0;
  uint32_t program = 0;
  uint32_t version = 0;
  uint32_t procedure = 0;
  bool operator==(const CallKey &) const = default;
};

constexpr int kCacheSlots = 20;
constexpr size_t kCacheBody = 104;
struct DRC_SLOT {
  bool used = false;
  CallKey key;
  uint32_t accept = RPC_SUCCESS;
  size_t length = 0;
  uint8_t body[kCacheBody];
};
DRC_SLOT g_cache[kCacheSlots];
int g_next_slot = 0;
CallKey g_current;  // the call being answered

struct ProgramEntry {
  uint32_t program;
  ProgramHandler handler;
};
ProgramEntry g_programs[] = {
    {kNfsProgram, nullptr},
    {kMountProgram, nullptr},
    {kNlmProgram, nullptr},
    {kPcnfsdProgram, nullptr},
};

ProgramEntry *FindProgram(uint32_t program) {
  for (ProgramEntry &e : g_programs)
    if (e.program == program) return &e;
  return nullptr;
}

void WriteReplyHeader(uint32_t xid, uint32_t accept) {
  const uint32_t words[6] = {xid, kRpcReply, 0 /* MSG_ACCEPTED */, kAuthNull, 0, accept};
  for (int i = 0; i < 6; ++i) XdrPutLong(g_reply.data() + 4 * i, words[i]);
}

void Send(RpcSocket socket, const RpcPeer &to, size_t length) {
  if (g_send) g_send(socket, to, g_reply.data(), length);
}

// AUTH_UNIX: stamp, machine name, uid, gid, groups; all inside the body.
bool ReadUnixCredential(XdrReader body, RpcCall &call) {
  uint32_t stamp = 0, groups = 0;
  std::string machine;
  int32_t uid = 0, gid = 0;
  if (!body.Long(stamp) || !body.String(machine, kMaxMachineName) || !body.Int(uid) || !body.Int(gid) ||
      !body.Long(groups) || groups > kMaxAuthGroups || !body.Skip(uint64_t(groups) * 4))
    return false;
  call.has_machine = true;
  call.machine = std::move(machine);
  call.uid = uid;
  call.gid = gid;
  return true;
}

// The NFS program until its procedures are served: NULL answers, every
// other procedure of the protocol is reported unavailable, numbers past
// the protocol get no reply.
void NfsNullOnly(RpcCall &call, const RpcPeer &from) {
  if (call.procedure == 0) {
    ++REQUEST_COUNTERS[kCountNull];
    RpcSendReply(kNfsSocket, from, 0);
  } else if (call.procedure <= 17) {
    RpcSendReply(kNfsSocket, from, 0, RPC_PROC_UNAVAIL);
  }
}

}  // namespace

CallParse ParseRpcCall(const uint8_t *datagram, size_t length, RpcCall &call) {
  XdrReader in(datagram, length);
  call = RpcCall();
  if (!in.Long(call.xid) || !in.Long(call.message_type)) return CallParse::Malformed;
  if (call.message_type != kRpcCall) return CallParse::NotCall;
  uint32_t verf_flavor = 0;
  std::string_view cred, verf;
  if (!in.Long(call.rpc_version) || !in.Long(call.program) || !in.Long(call.version) || !in.Long(call.procedure) ||
      !in.Long(call.cred_flavor) || !in.Opaque(cred, kMaxAuthBody) || !in.Long(verf_flavor) ||
      !in.Opaque(verf, kMaxAuthBody))
    return CallParse::Malformed;
  if (call.cred_flavor == kAuthUnix &&
      !ReadUnixCredential(XdrReader(reinterpret_cast<const uint8_t *>(cred.data()), cred.size()), call))
    return CallParse::Malformed;
  call.args = XdrReader(in.here(), in.remaining());
  return CallParse::Ok;
}

void SetRpcSender(RpcSendFunction send) { g_send = send; }

void RpcBeginCall(const RpcCall &call, const RpcPeer &from) {
  g_current = CallKey{call.xid, from.address, from.port, call.program, call.version, call.procedure};
}

uint8_t *ReplyBody() { return g_reply.data() + kReplyHeaderSize; }

void RpcSendReply(RpcSocket socket, const RpcPeer &to, size_t body_length, uint32_t accept) {
  if (body_length > kMaxReplyBody) body_length = kMaxReplyBody;
  WriteReplyHeader(g_current.xid, accept);
  if (socket == kNfsSocket && body_length <= kCacheBody) {
    DRC_SLOT &slot = g_cache[g_next_slot];
    slot.used = true;
    slot.key = g_current;
    slot.accept = accept;
    slot.length = body_length;
    memcpy(slot.body, ReplyBody(), body_length);
    g_next_slot = (g_next_slot + 1) % kCacheSlots;
  }
  Send(socket, to, kReplyHeaderSize + body_length);
}

void RpcSendMismatch(RpcSocket socket, const RpcPeer &to, uint32_t low, uint32_t high) {
  XdrPutLong(ReplyBody(), low);
  XdrPutLong(ReplyBody() + 4, high);
  RpcSendReply(socket, to, 8, RPC_PROG_MISMATCH);
}

bool DupCacheLookup(const RpcCall &call, const RpcPeer &from) {
  CallKey key{call.xid, from.address, from.port, call.program, call.version, call.procedure};
  for (const DRC_SLOT &slot : g_cache) {
    if (!slot.used || !(slot.key == key)) continue;
    memcpy(ReplyBody(), slot.body, slot.length);
    WriteReplyHeader(call.xid, slot.accept);
    ++REQUEST_COUNTERS[kCountCacheHits];
    Send(kNfsSocket, from, kReplyHeaderSize + slot.length);
    return true;
  }
  return false;
}

void SetProgramHandler(uint32_t program, ProgramHandler handler) {
  if (ProgramEntry *e = FindProgram(program)) e->handler = handler;
}

void RpcDispatch(const uint8_t *datagram, size_t length, const RpcPeer &from) {
  RpcCall call;
  if (ParseRpcCall(datagram, length, call) != CallParse::Ok) return;
  RpcBeginCall(call, from);
  ProgramEntry *entry = FindProgram(call.program);
  if (!entry) {
    RpcSendReply(kNfsSocket, from, 0, RPC_PROG_UNAVAIL);
    return;
  }
  if (DupCacheLookup(call, from)) return;
  if (call.program == kNfsProgram) {
    CallerUid = call.has_machine ? call.uid : -2;
    CallerGid = call.has_machine ? call.gid : -2;
    CallerMachine = call.machine;
    if (call.version != 2) {
      RpcSendMismatch(kNfsSocket, from, 2, 2);
      return;
    }
    (entry->handler ? entry->handler : NfsNullOnly)(call, from);
    return;
  }
  if (entry->handler)
    entry->handler(call, from);
  else
    RpcSendReply(kNfsSocket, from, 0, RPC_PROG_UNAVAIL);
}

void ResetRpcState() {
  for (DRC_SLOT &slot : g_cache) slot = DRC_SLOT();
  g_next_slot = 0;
  g_current = CallKey();
  for (uint32_t &c : REQUEST_COUNTERS) c = 0;
  for (ProgramEntry &e : g_programs) e.handler = nullptr;
  CallerUid = CallerGid = -2;
  CallerMachine.clear();
}
