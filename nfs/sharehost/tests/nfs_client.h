// A small NFS version 2 client for the tests: calls encoded and replies
// decoded by libnfs's XDR codec (an implementation independent of the
// server's), sent from the test's own UDP socket with AUTH_UNIX credentials
// the test chooses, retransmitted like a real client when a reply is late.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <nfsc/libnfs-raw-mount.h>
#include <nfsc/libnfs-raw-nfs.h>
#include <nfsc/libnfs-zdr.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "rpc_call_builder.h"

namespace nfstest {

using Handle = std::string;  // 32 bytes

// Arguments encoded by a libnfs zdr_ function.
template <class T>
std::string Encode(uint32_t (*code)(ZDR *, T *), T &value) {
  std::vector<char> buffer(16384);
  ZDR zdr;
  libnfs_zdrmem_create(&zdr, buffer.data(), uint32_t(buffer.size()), ZDR_ENCODE);
  EXPECT_TRUE(code(&zdr, &value));
  std::string bytes(buffer.data(), zdr_getpos(&zdr));
  zdr_destroy(&zdr);
  return bytes;
}

// A reply body decoded by a libnfs zdr_ function; what the decoder
// allocated lives until the object goes.
template <class T>
struct Decoded {
  T value{};
  bool ok = false;
  size_t used = 0;
  std::vector<char> buffer;
  ZDR zdr{};
  Decoded(const std::string &body, uint32_t (*code)(ZDR *, T *)) : buffer(body.begin(), body.end()) {
    buffer.resize(body.size() + 4);
    libnfs_zdrmem_create(&zdr, buffer.data(), uint32_t(body.size()), ZDR_DECODE);
    ok = !body.empty() && code(&zdr, &value);
    used = zdr_getpos(&zdr);
  }
  ~Decoded() { zdr_destroy(&zdr); }
  Decoded(const Decoded &) = delete;
  Decoded &operator=(const Decoded &) = delete;
};

inline void PutHandle(char (&to)[FHSIZE2], const Handle &h) { memcpy(to, h.data(), FHSIZE2); }
inline Handle HandleOf(const char (&from)[FHSIZE2]) { return Handle(from, FHSIZE2); }

inline sattr2 NoChange() {
  sattr2 s;
  s.mode = s.uid = s.gid = s.size = 0xFFFFFFFF;
  s.atime.seconds = s.atime.nseconds = s.mtime.seconds = s.mtime.nseconds = 0xFFFFFFFF;
  return s;
}

class NfsClient {
 public:
  NfsClient(uint32_t uid, uint32_t gid, std::string machine = "client1", int port = 2049)
      : uid_(uid), gid_(gid), machine_(std::move(machine)), port_(port) {
    socket_ = socket(AF_INET, SOCK_DGRAM, 0);
  }
  ~NfsClient() { close(socket_); }
  NfsClient(const NfsClient &) = delete;
  NfsClient &operator=(const NfsClient &) = delete;

  // Sends from this local address (another client's address on loopback:
  // 127.0.0.2, 127.0.0.3 ...).
  bool BindTo(const char *address) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, address, &local.sin_addr);
    return bind(socket_, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0;
  }

  // How often a call is sent, and how long each try waits for its reply.
  void SetPatience(int tries, int timeout_ms) {
    tries_ = tries;
    timeout_ms_ = timeout_ms;
  }
  void SetIdentity(uint32_t uid, uint32_t gid) {
    uid_ = uid;
    gid_ = gid;
  }

  // One call: the reply body after the 24-byte accepted-reply header, or ""
  // when no reply came after a few tries or the call was not accepted.
  std::string Call(uint32_t program, uint32_t version, uint32_t procedure, const std::string &args,
                   uint32_t *accept = nullptr) {
    uint32_t xid = ++xid_;
    std::string datagram = rpctest::CallBuilder::Call(xid, program, version, procedure)
                               .AuthUnix(machine_, int32_t(uid_), int32_t(gid_))
                               .bytes +
                           args;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port_));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int attempt = 0; attempt < tries_; ++attempt) {
      sendto(socket_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
      pollfd p{socket_, POLLIN, 0};
      while (poll(&p, 1, timeout_ms_) == 1) {
        char buffer[9000];
        ssize_t got = recv(socket_, buffer, sizeof buffer, 0);
        std::string reply(buffer, got > 0 ? size_t(got) : 0);
        if (reply.size() < 24 || rpctest::Word(reply, 0) != xid) continue;  // a late reply to an earlier call
        if (accept) *accept = rpctest::Word(reply, 20);
        return rpctest::Word(reply, 20) == 0 ? reply.substr(24) : std::string();
      }
    }
    return {};
  }
  std::string Nfs(uint32_t procedure, const std::string &args) { return Call(100003, 2, procedure, args); }

  // MNT of a path: its handle, or "" when refused.
  Handle Mount(const std::string &path) {
    char *p = const_cast<char *>(path.c_str());
    std::string args = Encode<char *>(zdr_dirpath, p);
    Decoded<mountres1> res(Call(100005, 1, 1, args), zdr_mountres1);
    if (!res.ok || res.value.fhs_status != MNT1_OK) return {};
    return Handle(res.value.mountres1_u.mountinfo.fhandle, FHSIZE2);
  }

  uint32_t Getattr(const Handle &h, fattr2 *attributes = nullptr) {
    GETATTR2args args{};
    PutHandle(args.fhandle, h);
    Decoded<GETATTR2res> res(Nfs(1, Encode(zdr_GETATTR2args, args)), zdr_GETATTR2res);
    if (!res.ok) return 0xFFFF;
    if (res.value.status == NFS3_OK && attributes) *attributes = res.value.GETATTR2res_u.resok.attributes;
    return res.value.status;
  }

  uint32_t Setattr(const Handle &h, const sattr2 &s, fattr2 *attributes = nullptr) {
    SETATTR2args args{};
    PutHandle(args.fhandle, h);
    args.attributes = s;
    Decoded<SETATTR2res> res(Nfs(2, Encode(zdr_SETATTR2args, args)), zdr_SETATTR2res);
    if (!res.ok) return 0xFFFF;
    if (res.value.status == NFS3_OK && attributes) *attributes = res.value.SETATTR2res_u.resok.attributes;
    return res.value.status;
  }

  uint32_t Lookup(const Handle &dir, const std::string &name, Handle *out = nullptr, fattr2 *attributes = nullptr) {
    LOOKUP2args args{};
    PutHandle(args.what.dir, dir);
    args.what.name = const_cast<char *>(name.c_str());
    Decoded<LOOKUP2res> res(Nfs(4, Encode(zdr_LOOKUP2args, args)), zdr_LOOKUP2res);
    if (!res.ok) return 0xFFFF;
    if (res.value.status == NFS3_OK) {
      if (out) *out = HandleOf(res.value.LOOKUP2res_u.resok.file);
      if (attributes) *attributes = res.value.LOOKUP2res_u.resok.attributes;
    }
    return res.value.status;
  }

  uint32_t Readlink(const Handle &h, std::string *target) {
    READLINK2args args{};
    PutHandle(args.file, h);
    Decoded<READLINK2res> res(Nfs(5, Encode(zdr_READLINK2args, args)), zdr_READLINK2res);
    if (!res.ok) return 0xFFFF;
    if (res.value.status == NFS3_OK) *target = res.value.READLINK2res_u.resok.data;
    return res.value.status;
  }

  uint32_t Read(const Handle &h, uint32_t offset, uint32_t count, std::string *data, fattr2 *attributes = nullptr) {
    READ2args args{};
    PutHandle(args.file, h);
    args.offset = offset;
    args.count = count;
    Decoded<READ2res> res(Nfs(6, Encode(zdr_READ2args, args)), zdr_READ2res);
    if (!res.ok) return 0xFFFF;
    if (res.value.status == NFS3_OK) {
      const nfsdata2 &d = res.value.READ2res_u.resok.data;
      data->assign(d.nfsdata2_val, d.nfsdata2_len);
      if (attributes) *attributes = res.value.READ2res_u.resok.attributes;
    }
    return res.value.status;
  }

  uint32_t Write(const Handle &h, uint32_t offset, const std::string &data, fattr2 *attributes = nullptr) {
    WRITE2args args{};
    PutHandle(args.file, h);
    args.offset = offset;
    args.data.nfsdata2_len = uint32_t(data.size());
    args.data.nfsdata2_val = const_cast<char *>(data.data());
    Decoded<WRITE2res> res(Nfs(8, Encode(zdr_WRITE2args, args)), zdr_WRITE2res);
    if (!res.ok) return 0xFFFF;
    if (res.value.status == NFS3_OK && attributes) *attributes = res.value.WRITE2res_u.resok.attributes;
    return res.value.status;
  }

  // CREATE (9) or MKDIR (14).
  uint32_t Make(uint32_t procedure, const Handle &dir, const std::string &name, const sattr2 &s, Handle *out = nullptr,
                fattr2 *attributes = nullptr) {
    CREATE2args args{};
    PutHandle(args.where.dir, dir);
    args.where.name = const_cast<char *>(name.c_str());
    args.attributes = s;
    Decoded<CREATE2res> res(Nfs(procedure, Encode(zdr_CREATE2args, args)), zdr_CREATE2res);
    if (!res.ok) return 0xFFFF;
    if (res.value.status == NFS3_OK) {
      if (out) *out = HandleOf(res.value.CREATE2res_u.resok.file);
      if (attributes) *attributes = res.value.CREATE2res_u.resok.attributes;
    }
    return res.value.status;
  }
  uint32_t Create(const Handle &dir, const std::string &name, uint32_t mode, Handle *out = nullptr,
                  fattr2 *attributes = nullptr) {
    sattr2 s = NoChange();
    s.mode = mode;
    return Make(9, dir, name, s, out, attributes);
  }
  uint32_t Mkdir(const Handle &dir, const std::string &name, uint32_t mode, Handle *out = nullptr) {
    sattr2 s = NoChange();
    s.mode = mode;
    return Make(14, dir, name, s, out);
  }

  // REMOVE (10) or RMDIR (15).
  uint32_t Remove(uint32_t procedure, const Handle &dir, const std::string &name) {
    REMOVE2args args{};
    PutHandle(args.what.dir, dir);
    args.what.name = const_cast<char *>(name.c_str());
    Decoded<REMOVE2res> res(Nfs(procedure, Encode(zdr_REMOVE2args, args)), zdr_REMOVE2res);
    return res.ok ? res.value.status : 0xFFFF;
  }

  uint32_t Rename(const Handle &from, const std::string &from_name, const Handle &to, const std::string &to_name) {
    RENAME2args args{};
    PutHandle(args.from.dir, from);
    args.from.name = const_cast<char *>(from_name.c_str());
    PutHandle(args.to.dir, to);
    args.to.name = const_cast<char *>(to_name.c_str());
    Decoded<RENAME2res> res(Nfs(11, Encode(zdr_RENAME2args, args)), zdr_RENAME2res);
    return res.ok ? res.value.status : 0xFFFF;
  }

  uint32_t Link(const Handle &from, const Handle &dir, const std::string &name) {
    LINK2args args{};
    PutHandle(args.from, from);
    PutHandle(args.to.dir, dir);
    args.to.name = const_cast<char *>(name.c_str());
    Decoded<LINK2res> res(Nfs(12, Encode(zdr_LINK2args, args)), zdr_LINK2res);
    return res.ok ? res.value.status : 0xFFFF;
  }

  uint32_t Symlink(const Handle &dir, const std::string &name, const std::string &target) {
    SYMLINK2args args{};
    PutHandle(args.from.dir, dir);
    args.from.name = const_cast<char *>(name.c_str());
    args.to = const_cast<char *>(target.c_str());
    args.attributes = NoChange();
    Decoded<SYMLINK2res> res(Nfs(13, Encode(zdr_SYMLINK2args, args)), zdr_SYMLINK2res);
    return res.ok ? res.value.status : 0xFFFF;
  }

  struct Entry {
    uint32_t fileid;
    std::string name;
    uint32_t cookie;
  };
  // One READDIR: the entries and eof, or a status other than 0.
  uint32_t Readdir(const Handle &dir, uint32_t cookie, uint32_t count, std::vector<Entry> &entries, bool &eof) {
    READDIR2args args{};
    PutHandle(args.dir, dir);
    uint32_t be = htonl(cookie);
    memcpy(args.cookie, &be, 4);
    args.count = count;
    std::string body = Nfs(16, Encode(zdr_READDIR2args, args));
    Decoded<READDIR2res> res(body, zdr_READDIR2res);
    if (!res.ok) return 0xFFFF;
    if (res.value.status != NFS3_OK) return res.value.status;
    // The decoder places nodes at 4-byte boundaries only: copied out before use.
    for (entry2 *at = res.value.READDIR2res_u.resok.entries; at;) {
      entry2 e;
      memcpy(&e, at, sizeof e);
      uint32_t c;
      memcpy(&c, e.cookie, 4);
      entries.push_back(Entry{e.fileid, e.name, ntohl(c)});
      at = e.nextentry;
    }
    eof = res.value.READDIR2res_u.resok.eof != 0;
    last_reply_size_ = body.size();
    return 0;
  }
  size_t last_reply_size() const { return last_reply_size_; }

  uint32_t Statfs(const Handle &h, STATFS2resok *out) {
    STATFS2args args{};
    PutHandle(args.dir, h);
    Decoded<STATFS2res> res(Nfs(17, Encode(zdr_STATFS2args, args)), zdr_STATFS2res);
    if (!res.ok) return 0xFFFF;
    if (res.value.status == NFS3_OK) *out = res.value.STATFS2res_u.resok;
    return res.value.status;
  }

 private:
  int socket_ = -1;
  uint32_t xid_ = 0x1000;
  uint32_t uid_, gid_;
  std::string machine_;
  int port_;
  int tries_ = 5, timeout_ms_ = 2000;
  size_t last_reply_size_ = 0;
};

}  // namespace nfstest
