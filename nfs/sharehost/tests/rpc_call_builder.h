// Builds ONC RPC call datagrams for the tests: header, AUTH_NULL or AUTH_UNIX
// credentials, and argument words and strings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rpctest {

struct CallBuilder {
  std::string bytes;

  CallBuilder &Long(uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes += char((v >> shift) & 0xFF);
    return *this;
  }
  CallBuilder &Opaque(const std::string &data) {
    Long(uint32_t(data.size()));
    bytes += data;
    while (bytes.size() % 4) bytes += '\0';
    return *this;
  }
  CallBuilder &Raw(const std::string &data) {
    bytes += data;
    return *this;
  }
  // xid, CALL, RPC version 2, program, version, procedure.
  static CallBuilder Call(uint32_t xid, uint32_t program, uint32_t version, uint32_t procedure) {
    CallBuilder b;
    b.Long(xid).Long(0).Long(2).Long(program).Long(version).Long(procedure);
    return b;
  }
  CallBuilder &AuthNull() { return Long(0).Long(0).Long(0).Long(0); }
  // AUTH_UNIX credentials, then an AUTH_NULL verifier.
  CallBuilder &AuthUnix(const std::string &machine, int32_t uid, int32_t gid, std::vector<uint32_t> groups = {}) {
    CallBuilder body;
    body.Long(0x12345678).Opaque(machine).Long(uint32_t(uid)).Long(uint32_t(gid)).Long(uint32_t(groups.size()));
    for (uint32_t g : groups) body.Long(g);
    Long(1).Opaque(body.bytes);
    return Long(0).Long(0);
  }
};

inline uint32_t Word(const std::string &bytes, size_t at) {
  if (at + 4 > bytes.size()) return 0xDEADBEEF;
  const auto *p = reinterpret_cast<const unsigned char *>(bytes.data() + at);
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

}  // namespace rpctest
