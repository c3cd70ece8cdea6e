// Fuzz target of the RPC layer: every datagram goes to the NFS socket's
// dispatch (with a handler that reads arguments the way MOUNT and NFS do) and
// to the portmapper. A reply must never pass the reply buffer.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "rpc.h"

namespace {

void CheckReply(RpcSocket, const RpcPeer &, const uint8_t *bytes, size_t length) {
  if (length < kReplyHeaderSize || length > kReplyBufferSize) abort();
  volatile uint8_t sink = 0;
  for (size_t i = 0; i < length; ++i) sink = sink ^ bytes[i];
}

// Reads a path, a handle and a few words; answers with what it read.
void ReadingHandler(RpcCall &call, const RpcPeer &from) {
  std::string path;
  const uint8_t *handle = nullptr;
  uint32_t word = 0;
  if (!call.args.String(path, 1024) || !call.args.Fixed(handle, 32) || !call.args.Long(word)) {
    RpcSendReply(kNfsSocket, from, 0, RPC_GARBAGE_ARGS);
    return;
  }
  XdrWriter out(ReplyBody(), kMaxReplyBody);
  out.String(path);
  out.Fixed(handle, 32);
  out.Long(word);
  RpcSendReply(kNfsSocket, from, out.length());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = false;
  if (!ready) {
    SetRpcSender(CheckReply);
    SetProgramHandler(kMountProgram, ReadingHandler);
    SetProgramHandler(kPcnfsdProgram, ReadingHandler);
    ready = true;
  }
  RpcPeer from{0x0100007F, uint16_t(size)};
  RpcDispatch(data, size, from);
  RpcDispatch(data, size, from);  // a retransmission, answered from the cache when small
  PortmapHandler(data, size, from);
  return 0;
}
