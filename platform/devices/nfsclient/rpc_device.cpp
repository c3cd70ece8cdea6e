// Parsing RPC_DEVICE_REQUEST and the ONC RPC call and reply (see rpc_device.h).
#include "rpc_device.h"

namespace qxnfs {
namespace {

std::uint32_t LittleWord(const std::vector<std::uint8_t> &in, size_t at) {
  return in[at] | (in[at + 1] << 8) | (in[at + 2] << 16) | (static_cast<std::uint32_t>(in[at + 3]) << 24);
}
std::uint32_t BigWord(const std::vector<std::uint8_t> &in, size_t at) {
  return (static_cast<std::uint32_t>(in[at]) << 24) | (in[at + 1] << 16) | (in[at + 2] << 8) | in[at + 3];
}

void PutWord(std::string &out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

// A bounded reader of big-endian words over a datagram.
class Reader {
 public:
  explicit Reader(const std::string &d) : d_(d) {}
  bool Word(std::uint32_t &v) {
    if (d_.size() - at_ < 4) return false;
    v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(d_[at_ + i]);
    at_ += 4;
    return true;
  }
  bool Skip(std::uint32_t n) {
    if (n > d_.size() - at_) return false;
    at_ += n;
    return true;
  }
  std::string Rest() const { return d_.substr(at_); }

 private:
  const std::string &d_;
  size_t at_ = 0;
};

}  // namespace

bool ParseRequest(const std::vector<std::uint8_t> &in, RpcCall &call, std::string &why) {
  if (in.size() < kPiecesOffset + 4) return why = "the request is shorter than its fixed part", false;
  if (LittleWord(in, 0) != kRequestMagic) return why = "the request does not start with its mark", false;
  const std::uint32_t nameAt = LittleWord(in, 12), nameLength = LittleWord(in, 16);
  if (nameAt > in.size() || nameLength > in.size() - nameAt) return why = "the name lies outside the request", false;
  call.server = in[8] | (in[9] << 8) | (in[10] << 16) | (static_cast<std::uint32_t>(in[11]) << 24);
  call.program = BigWord(in, 96);
  call.version = BigWord(in, 100);
  call.procedure = BigWord(in, 104);
  call.arguments.clear();
  for (int piece = 0;; ++piece) {
    const size_t at = kPiecesOffset + 8 * static_cast<size_t>(piece);
    if (at + 4 > in.size()) return why = "the list of pieces has no end mark", false;
    const std::uint32_t length = LittleWord(in, at);
    if (length == 0xFFFFFFFFu) break;
    if (piece >= kMaxPieces) return why = "the request has too many pieces", false;
    if (at + 8 > in.size()) return why = "a piece has no offset", false;
    const std::uint32_t offset = LittleWord(in, at + 4);
    if (offset > in.size() || length > in.size() - offset) return why = "a piece lies outside the request", false;
    call.arguments.append(reinterpret_cast<const char *>(in.data()) + offset, length);
    while (call.arguments.size() % 4) call.arguments.push_back('\0');
  }
  return true;
}

std::string EncodeCall(std::uint32_t xid, const RpcCall &call) {
  std::string out;
  for (std::uint32_t word : {xid, 0u, 2u, call.program, call.version, call.procedure, 0u, 0u, 0u, 0u})
    PutWord(out, word);
  return out + call.arguments;
}

ReplyKind DecodeReply(const std::string &datagram, std::uint32_t xid, std::string &body) {
  Reader r(datagram);
  std::uint32_t got = 0, type = 0, status = 0;
  if (!r.Word(got) || got != xid || !r.Word(type) || type != 1) return ReplyKind::kNotOurs;
  if (!r.Word(status)) return ReplyKind::kNotOurs;
  if (status == 1) return ReplyKind::kDenied;
  if (status != 0) return ReplyKind::kNotOurs;
  std::uint32_t flavor = 0, length = 0, accept = 0;
  if (!r.Word(flavor) || !r.Word(length) || length > 400 || !r.Skip((length + 3) & ~3u) || !r.Word(accept))
    return ReplyKind::kNotOurs;
  switch (accept) {
    case 0: body = r.Rest(); return ReplyKind::kSuccess;
    case 1:  // program unavailable
    case 2:  // version mismatch
    case 3:  // procedure unavailable
      return ReplyKind::kUnavailable;
    default: return ReplyKind::kFailed;
  }
}

DWORD ErrorOfReply(ReplyKind kind) {
  switch (kind) {
    case ReplyKind::kSuccess: return 0;
    case ReplyKind::kDenied: return ERROR_ACCESS_DENIED;
    case ReplyKind::kUnavailable: return ERROR_NOT_SUPPORTED;
    default: return ERROR_GEN_FAILURE;
  }
}

}  // namespace qxnfs
