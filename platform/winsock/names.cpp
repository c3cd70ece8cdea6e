// Winsock's database calls (hosts, services, protocols), address text and
// byte order. Results live in per-thread storage with Winsock's layouts and
// stay valid until the thread's next call of the same kind.
#include "ws_internal.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace qx::ws {
namespace {

constexpr size_t kMaxListEntries = 35;  // aliases and addresses kept per entry

// Owns the strings and pointer arrays behind one Winsock database entry.
struct EntryStorage {
  std::string name;
  std::vector<std::string> aliases;
  std::vector<std::string> addresses;  // raw 4-byte addresses
  std::string proto;
  std::vector<char *> alias_ptrs;
  std::vector<char *> address_ptrs;

  void Fill(const char *n, char **alias_list, char **addr_list, size_t addr_len) {
    name = n ? n : "";
    aliases.clear();
    addresses.clear();
    for (size_t i = 0; alias_list && alias_list[i] && i < kMaxListEntries; ++i) aliases.emplace_back(alias_list[i]);
    for (size_t i = 0; addr_list && addr_list[i] && i < kMaxListEntries; ++i)
      addresses.emplace_back(addr_list[i], addr_len);
    alias_ptrs.clear();
    for (std::string &a : aliases) alias_ptrs.push_back(a.data());
    alias_ptrs.push_back(nullptr);
    address_ptrs.clear();
    for (std::string &a : addresses) address_ptrs.push_back(a.data());
    address_ptrs.push_back(nullptr);
  }
};

struct ThreadResults {
  EntryStorage host_storage, serv_storage, proto_storage;
  WsHostent host{};
  WsServent serv{};
  WsProtoent proto{};
  char ntoa[16]{};
};

ThreadResults &Results() {
  thread_local ThreadResults results;
  return results;
}

int WsaFromHerrno(int herr) {
  switch (herr) {
    case HOST_NOT_FOUND: return kWSAHOST_NOT_FOUND;
    case TRY_AGAIN: return kWSATRY_AGAIN;
    case NO_RECOVERY: return kWSANO_RECOVERY;
    case NO_DATA: return kWSANO_DATA;
    default: return kWSANO_RECOVERY;
  }
}

WsHostent *PublishHost(const hostent &h) {
  ThreadResults &r = Results();
  r.host_storage.Fill(h.h_name, h.h_aliases, h.h_addr_list, 4);
  r.host.h_name = r.host_storage.name.data();
  r.host.h_aliases = r.host_storage.alias_ptrs.data();
  r.host.h_addrtype = AF_INET;
  r.host.h_length = 4;
  r.host.h_addr_list = r.host_storage.address_ptrs.data();
  return &r.host;
}

// Runs a glibc *_r lookup with a buffer that grows while it is too small;
// the result points into buf, which the caller keeps until it is copied.
template <class Call>
int WithBuffer(std::vector<char> &buf, Call call) {
  buf.resize(1024);
  for (;;) {
    const int rc = call(buf.data(), buf.size());
    if (rc != ERANGE || buf.size() >= (1u << 20)) return rc;
    buf.resize(buf.size() * 2);
  }
}

WsServent *PublishServ(const servent &s) {
  ThreadResults &r = Results();
  r.serv_storage.Fill(s.s_name, s.s_aliases, nullptr, 0);
  r.serv_storage.proto = s.s_proto ? s.s_proto : "";
  r.serv.s_name = r.serv_storage.name.data();
  r.serv.s_aliases = r.serv_storage.alias_ptrs.data();
  r.serv.s_port = static_cast<short>(s.s_port);  // network order, as Winsock
  r.serv.s_proto = r.serv_storage.proto.data();
  return &r.serv;
}

WsProtoent *PublishProto(const protoent &p) {
  ThreadResults &r = Results();
  r.proto_storage.Fill(p.p_name, p.p_aliases, nullptr, 0);
  r.proto.p_name = r.proto_storage.name.data();
  r.proto.p_aliases = r.proto_storage.alias_ptrs.data();
  r.proto.p_proto = static_cast<short>(p.p_proto);
  return &r.proto;
}

}  // namespace
}  // namespace qx::ws

using namespace qx::ws;

extern "C" {

WINBASEAPI int qxws_gethostname(char *name, int namelen) {
  if (!CheckStarted()) return kSocketError;
  if (!name || namelen <= 0) return Fail(kWSAEFAULT);
  char buf[256]{};
  if (::gethostname(buf, sizeof buf - 1) != 0) return FailErrno(errno);
  const size_t n = std::strlen(buf);
  if (n + 1 > static_cast<size_t>(namelen)) return Fail(kWSAEFAULT);
  std::memcpy(name, buf, n + 1);
  return 0;
}

WINBASEAPI WsHostent *qxws_gethostbyname(const char *name) {
  if (!CheckStarted()) return nullptr;
  char local[256]{};
  if (!name || !*name) {  // the local host, as Winsock gives it
    ::gethostname(local, sizeof local - 1);
    name = local;
  }
  if (std::strlen(name) > 255) {
    Fail(kWSAEINVAL);
    return nullptr;
  }
  hostent h{};
  hostent *result = nullptr;
  int herr = 0;
  std::vector<char> scratch;
  const int rc = WithBuffer(
      scratch, [&](char *buf, size_t len) { return ::gethostbyname2_r(name, AF_INET, &h, buf, len, &result, &herr); });
  if (rc != 0 || !result) {
    Fail(WsaFromHerrno(herr));
    return nullptr;
  }
  return PublishHost(h);
}

WINBASEAPI WsHostent *qxws_gethostbyaddr(const char *addr, int len, int type) {
  if (!CheckStarted()) return nullptr;
  if (!addr || len != 4) {
    Fail(kWSAEFAULT);
    return nullptr;
  }
  if (type != AF_INET) {
    Fail(kWSAEAFNOSUPPORT);
    return nullptr;
  }
  hostent h{};
  hostent *result = nullptr;
  int herr = 0;
  std::vector<char> scratch;
  const int rc = WithBuffer(scratch, [&](char *buf, size_t blen) {
    return ::gethostbyaddr_r(addr, 4, AF_INET, &h, buf, blen, &result, &herr);
  });
  if (rc != 0 || !result) {
    Fail(WsaFromHerrno(herr));
    return nullptr;
  }
  return PublishHost(h);
}

WINBASEAPI WsServent *qxws_getservbyname(const char *name, const char *proto) {
  if (!CheckStarted()) return nullptr;
  if (!name) {
    Fail(kWSAEFAULT);
    return nullptr;
  }
  servent s{};
  servent *result = nullptr;
  std::vector<char> scratch;
  const int rc =
      WithBuffer(scratch, [&](char *buf, size_t len) { return ::getservbyname_r(name, proto, &s, buf, len, &result); });
  if (rc != 0 || !result) {
    Fail(kWSANO_DATA);
    return nullptr;
  }
  return PublishServ(s);
}

WINBASEAPI WsServent *qxws_getservbyport(int port, const char *proto) {
  if (!CheckStarted()) return nullptr;
  servent s{};
  servent *result = nullptr;
  std::vector<char> scratch;
  const int rc =
      WithBuffer(scratch, [&](char *buf, size_t len) { return ::getservbyport_r(port, proto, &s, buf, len, &result); });
  if (rc != 0 || !result) {
    Fail(kWSANO_DATA);
    return nullptr;
  }
  return PublishServ(s);
}

WINBASEAPI WsProtoent *qxws_getprotobyname(const char *name) {
  if (!CheckStarted()) return nullptr;
  if (!name) {
    Fail(kWSAEFAULT);
    return nullptr;
  }
  protoent p{};
  protoent *result = nullptr;
  std::vector<char> scratch;
  const int rc =
      WithBuffer(scratch, [&](char *buf, size_t len) { return ::getprotobyname_r(name, &p, buf, len, &result); });
  if (rc != 0 || !result) {
    Fail(kWSANO_DATA);
    return nullptr;
  }
  return PublishProto(p);
}

WINBASEAPI WsProtoent *qxws_getprotobynumber(int number) {
  if (!CheckStarted()) return nullptr;
  protoent p{};
  protoent *result = nullptr;
  std::vector<char> scratch;
  const int rc =
      WithBuffer(scratch, [&](char *buf, size_t len) { return ::getprotobynumber_r(number, &p, buf, len, &result); });
  if (rc != 0 || !result) {
    Fail(kWSANO_DATA);
    return nullptr;
  }
  return PublishProto(p);
}

// Dotted text in the forms Winsock accepts ("a.b.c.d", "a.b.c", "a.b", "a",
// each part decimal, octal or hex); anything else is INADDR_NONE.
WINBASEAPI std::uint32_t qxws_inet_addr(const char *cp) {
  if (!cp) return 0xffffffffu;
  in_addr a{};
  if (::inet_aton(cp, &a) == 0) return 0xffffffffu;
  return a.s_addr;
}

WINBASEAPI char *qxws_inet_ntoa(WsInAddr in) {
  char *out = Results().ntoa;
  const auto *b = reinterpret_cast<const unsigned char *>(&in.s_addr);
  std::snprintf(out, 16, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return out;
}

WINBASEAPI std::uint32_t qxws_htonl(std::uint32_t v) { return htonl(v); }
WINBASEAPI std::uint32_t qxws_ntohl(std::uint32_t v) { return ntohl(v); }
WINBASEAPI std::uint16_t qxws_htons(std::uint16_t v) { return htons(v); }
WINBASEAPI std::uint16_t qxws_ntohs(std::uint16_t v) { return ntohs(v); }

}  // extern "C"
