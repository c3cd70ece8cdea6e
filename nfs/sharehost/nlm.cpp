// The network lock manager: lock nodes, their two indexes, the share rule,
// open-file-description locks, and the procedures of NLM version 3.
//
// Why OFD locks: Linux has neither share modes nor mandatory locks. A lock
// taken on a node's own open file description conflicts with every other
// description, ours (another node) or a local program's (fcntl, lockf), so
// the kernel decides conflicts with the world outside the server; the
// in-process tables decide the Windows share rule and answer TEST.
#include "nlm.h"

#include <fcntl.h>

#include <windows.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>

#include "filecache.h"
#include "idmaps.h"
#include "nfsprocs.h"

namespace {

constexpr uint32_t kNlmVersion = 3;
constexpr uint32_t kMaxNetobj = 1024;      // MAXNETOBJ_SZ
constexpr uint32_t kMaxCallerName = 1024;  // LM_MAXSTRLEN
constexpr size_t kMaxNodes = 1024;         // each holds an open file
constexpr size_t kMaxRangesPerNode = 4096;
constexpr int kClientChains = 64;
constexpr int kFileLists = 256;

std::array<std::vector<std::unique_ptr<LOCK_NODE>>, kClientChains> g_clients;
std::array<std::vector<LOCK_NODE *>, kFileLists> g_files;
size_t g_node_count = 0;

// fsh_mode -> what the share leaves to others; fsh_access -> what it opens for.
constexpr uint32_t kShareOfMode[4] = {FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_SHARE_WRITE, FILE_SHARE_READ, 0};
constexpr uint32_t kAccessOfShare[4] = {0, GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};

int ClientChain(uint32_t client) {
  uint8_t bytes[4];
  memcpy(bytes, &client, 4);
  return bytes[3] % kClientChains;  // the address's last byte
}

bool SameHandle(const NFS_FHANDLE &a, const NFS_FHANDLE &b) { return memcmp(a.data, b.data, kHandleSize) == 0; }

uint64_t RangeEnd(uint32_t offset, uint32_t length) { return length == 0 ? UINT64_MAX : uint64_t(offset) + length; }
bool Overlaps(const LOCK_RANGE &r, uint32_t offset, uint64_t end) {
  return uint64_t(r.offset) < end && uint64_t(offset) < RangeEnd(r.offset, r.length);
}

// Whether an open for `access` leaving `share` to others may stand beside
// another: neither's access may touch what the other keeps to itself.
bool SharesConflict(uint32_t access_a, uint32_t share_a, uint32_t access_b, uint32_t share_b) {
  auto denied = [](uint32_t access, uint32_t share) {
    return ((access & GENERIC_READ) && !(share & FILE_SHARE_READ)) ||
           ((access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE));
  };
  return denied(access_a, share_b) || denied(access_b, share_a);
}

// The whole-file lock that shows a share to local programs: a write lock
// when others may not read, a read lock when they may only read, none when
// the share denies nothing. A descriptor opened read-only can hold a read
// lock only.
short ShareLockType(const LOCK_NODE &node) {
  if (node.fd.get() < 0) return F_UNLCK;
  bool writable = (fcntl(node.fd.get(), F_GETFL) & O_ACCMODE) == O_RDWR;
  if (!(node.share & FILE_SHARE_READ)) return writable ? F_WRLCK : F_RDLCK;
  if (!(node.share & FILE_SHARE_WRITE)) return F_RDLCK;
  return F_UNLCK;
}

bool OfdLock(const LOCK_NODE &node, short type, uint32_t offset, uint32_t length) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = off_t(offset);
  lock.l_len = off_t(length);
  return fcntl(node.fd.get(), F_OFD_SETLK, &lock) == 0;
}

// A range lock: exclusive, unless the node's descriptor can only read.
short RangeLockType(const LOCK_NODE &node) {
  return (fcntl(node.fd.get(), F_GETFL) & O_ACCMODE) == O_RDWR ? F_WRLCK : F_RDLCK;
}

void LinkNode(std::unique_ptr<LOCK_NODE> node) {
  std::vector<LOCK_NODE *> &file = g_files[HandleHash(node->handle)];
  auto same = std::find_if(file.begin(), file.end(), [&](LOCK_NODE *n) { return SameHandle(n->handle, node->handle); });
  file.insert(same == file.end() ? file.end() : same + 1, node.get());
  auto &chain = g_clients[ClientChain(node->client)];
  chain.insert(chain.begin(), std::move(node));
  ++g_node_count;
}

template <class Visit>
void ForEachNodeOfFile(const NFS_FHANDLE &handle, Visit visit) {
  for (LOCK_NODE *n : g_files[HandleHash(handle)])
    if (SameHandle(n->handle, handle)) visit(*n);
}

// The identity a lock-manager call opens files under: its AUTH_UNIX ids,
// uid 0 only for a host the export names in "root=".
struct Caller {
  uid_t uid;
  gid_t gid;
};
Caller CallerOf(const RpcCall &call, const NFS_FHANDLE &handle, uint32_t source) {
  int32_t uid = call.has_machine ? call.uid : -2;
  int32_t gid = call.has_machine ? call.gid : -2;
  if (uid == 0) uid = RootSquash(handle, source);
  return Caller{uid_t(uid), gid_t(gid)};
}

// Opens the handle's file for a node: read and write where the export and
// the file's mode let the caller, else read-only. -1 when it cannot.
int OpenNodeFile(const NFS_FHANDLE &handle, uint32_t source, const Caller &caller) {
  ResolvedHandle r;
  if (ResolveHandle(handle, source, r) != NFS_OK) return -1;
  ActAsCaller as{caller.uid, caller.gid};
  if (!as.ok()) return -1;
  int fd = r.read_only ? -1 : OpenRegularFile(r, O_RDWR);
  if (fd < 0) fd = OpenRegularFile(r, O_RDONLY);
  return fd < 0 ? -1 : fd;
}

std::unique_ptr<LOCK_NODE> NewLockNode(uint32_t client, const NFS_FHANDLE &handle, const std::vector<uint8_t> &owner) {
  if (g_node_count >= kMaxNodes) return nullptr;
  auto node = std::make_unique<LOCK_NODE>();
  node->client = client;
  node->handle = handle;
  node->owner = owner;
  return node;
}

// ---------------------------------------------------------------------------
// Arguments and replies.

struct NlmLock {
  std::string_view caller;
  bool has_handle = false;  // a netobj of the size of an NFS handle
  NFS_FHANDLE handle{};
  std::vector<uint8_t> owner;
  int32_t svid = 0;
  uint32_t offset = 0, length = 0;
};

bool ReadNetobj(XdrReader &in, std::string_view &bytes) { return in.Opaque(bytes, kMaxNetobj); }

bool ReadFileAndOwner(XdrReader &in, NlmLock &l) {
  std::string_view fh, oh;
  if (!in.Opaque(l.caller, kMaxCallerName) || !ReadNetobj(in, fh) || !ReadNetobj(in, oh)) return false;
  l.has_handle = fh.size() == kHandleSize;
  if (l.has_handle) memcpy(l.handle.data, fh.data(), kHandleSize);
  l.owner.assign(oh.begin(), oh.end());
  return true;
}

bool ReadLock(XdrReader &in, NlmLock &l) {
  return ReadFileAndOwner(in, l) && in.Int(l.svid) && in.Long(l.offset) && in.Long(l.length);
}

bool ReadBool(XdrReader &in, bool &value) {
  uint32_t word = 0;
  if (!in.Long(word)) return false;
  value = word != 0;
  return true;
}

struct Reply {
  XdrWriter out{ReplyBody(), kMaxReplyBody};
  void Cookie(std::string_view cookie) { out.String(cookie); }
};

void SendReply(const RpcPeer &from, Reply &reply) { RpcSendReply(kNfsSocket, from, reply.out.length()); }
void SendGarbage(const RpcPeer &from) { RpcSendReply(kNfsSocket, from, 0, RPC_GARBAGE_ARGS); }

// cookie and status: the reply of LOCK, CANCEL, UNLOCK, GRANTED and NM_LOCK.
void SendStatus(const RpcPeer &from, std::string_view cookie, uint32_t status) {
  Reply reply;
  reply.Cookie(cookie);
  reply.out.Long(status);
  SendReply(from, reply);
}

// cookie, status and the sequence number: the reply of SHARE and UNSHARE.
void SendShareStatus(const RpcPeer &from, std::string_view cookie, uint32_t status) {
  Reply reply;
  reply.Cookie(cookie);
  reply.out.Long(status);
  reply.out.Long(0);
  SendReply(from, reply);
}

// ---------------------------------------------------------------------------
// The procedures.

LOCK_NODE *FindOwnNode(uint32_t client, const NFS_FHANDLE &handle, const std::vector<uint8_t> &owner) {
  return FindLockNode(client, handle, &owner);
}

uint32_t Share(const RpcCall &call, uint32_t client, const NlmLock &share, uint32_t mode, uint32_t access) {
  if (!share.has_handle || mode > 3 || access > 3) return kNlmDenied;
  if (HandleIsDirectory(share.handle)) return kNlmGranted;
  uint32_t want = kAccessOfShare[access], leave = kShareOfMode[mode];
  bool conflict = false;
  ForEachNodeOfFile(share.handle, [&](const LOCK_NODE &n) {
    if (!(n.flags & 1) && SharesConflict(want, leave, n.access, n.share)) conflict = true;
  });
  if (conflict) return kNlmDenied;
  std::unique_ptr<LOCK_NODE> node = NewLockNode(client, share.handle, share.owner);
  if (!node) return kNlmDenied;
  node->fd.Reset(OpenNodeFile(share.handle, client, CallerOf(call, share.handle, client)));
  if (!node->fd.valid()) return kNlmDenied;
  node->access = want;
  node->share = leave;
  // The kernel refuses it when another node, or a local program, holds
  // what this share denies.
  if (short type = ShareLockType(*node); type != F_UNLCK && !OfdLock(*node, type, 0, 0)) return kNlmDenied;
  LinkNode(std::move(node));
  return kNlmGranted;
}

void Unshare(uint32_t client, const NlmLock &share) {
  if (!share.has_handle || HandleIsDirectory(share.handle)) return;
  LOCK_NODE *node = FindOwnNode(client, share.handle, share.owner);
  if (node && !(node->flags & 1)) FreeLockNode(node);
}

// The node of this client and owner that takes its locks on the file: its
// share, else the node its earlier locks made.
LOCK_NODE *LockingNode(uint32_t client, const NlmLock &lock) { return FindOwnNode(client, lock.handle, lock.owner); }

// Another node's range, or a range of this node, that the new range would overlap.
const LOCK_NODE *RangeHolder(const NFS_FHANDLE &handle, uint32_t offset, uint32_t length, LOCK_RANGE *held) {
  const LOCK_NODE *holder = nullptr;
  uint64_t end = RangeEnd(offset, length);
  ForEachNodeOfFile(handle, [&](const LOCK_NODE &n) {
    for (const LOCK_RANGE &r : n.ranges)
      if (!holder && Overlaps(r, offset, end)) {
        holder = &n;
        if (held) *held = r;
      }
  });
  return holder;
}

uint32_t NmLock(const RpcCall &call, uint32_t client, const NlmLock &lock) {
  if (!lock.has_handle) return kNlmDenied;
  if (HandleIsDirectory(lock.handle)) return kNlmGranted;
  if (RangeHolder(lock.handle, lock.offset, lock.length, nullptr)) return kNlmDenied;
  LOCK_NODE *node = LockingNode(client, lock);
  std::unique_ptr<LOCK_NODE> made;
  if (!node) {
    made = NewLockNode(client, lock.handle, lock.owner);
    if (!made) return kNlmDenied;
    made->fd.Reset(OpenNodeFile(lock.handle, client, CallerOf(call, lock.handle, client)));
    if (!made->fd.valid()) return kNlmDenied;
    made->access = GENERIC_READ | GENERIC_WRITE;
    made->share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    made->flags = 1;
    node = made.get();
  }
  if (node->ranges.size() >= kMaxRangesPerNode || !OfdLock(*node, RangeLockType(*node), lock.offset, lock.length))
    return kNlmDenied;  // a node just made goes with `made`
  node->ranges.push_back(LOCK_RANGE{lock.offset, lock.length});
  if (made) LinkNode(std::move(made));
  return kNlmGranted;
}

// Releases exactly a range the node holds (as UnlockFile does); a share's
// whole-file lock comes back over the bytes released.
void Unlock(uint32_t client, const NlmLock &lock) {
  if (!lock.has_handle || HandleIsDirectory(lock.handle)) return;
  LOCK_NODE *node = LockingNode(client, lock);
  if (!node) return;
  auto it = std::find_if(node->ranges.begin(), node->ranges.end(),
                         [&](const LOCK_RANGE &r) { return r.offset == lock.offset && r.length == lock.length; });
  if (it == node->ranges.end()) return;
  node->ranges.erase(it);
  OfdLock(*node, F_UNLCK, lock.offset, lock.length);
  if (short type = ShareLockType(*node); type != F_UNLCK && !(node->flags & 1))
    OfdLock(*node, type, lock.offset, lock.length);
  if ((node->flags & 1) && node->ranges.empty()) FreeLockNode(node);
}

// TEST: a conflicting range of another node (or another owner), else a
// lock a local program holds, is reported as the holder.
void Test(const RpcCall &call, const RpcPeer &from, std::string_view cookie, bool exclusive, const NlmLock &lock) {
  Reply reply;
  reply.Cookie(cookie);
  LOCK_RANGE held{};
  const LOCK_NODE *holder = nullptr;
  struct flock probe {};
  bool local = false;
  if (lock.has_handle && !HandleIsDirectory(lock.handle)) {
    const LOCK_NODE *own = LockingNode(from.address, lock);
    holder = RangeHolder(lock.handle, lock.offset, lock.length, &held);
    if (holder == own) holder = nullptr;
    if (!holder) {
      UniqueFd temporary;
      int fd = own ? own->fd.get() : -1;
      if (fd < 0) {
        temporary.Reset(OpenNodeFile(lock.handle, from.address, CallerOf(call, lock.handle, from.address)));
        fd = temporary.get();
      }
      probe.l_type = exclusive ? F_WRLCK : F_RDLCK;
      probe.l_whence = SEEK_SET;
      probe.l_start = off_t(lock.offset);
      probe.l_len = off_t(lock.length);
      local = fd >= 0 && fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    }
  }
  if (!holder && !local) {
    reply.out.Long(kNlmGranted);
    SendReply(from, reply);
    return;
  }
  reply.out.Long(kNlmDenied);
  if (holder) {
    reply.out.Long(1);  // exclusive
    reply.out.Long(0);  // svid
    reply.out.String(std::string_view(reinterpret_cast<const char *>(holder->owner.data()), holder->owner.size()));
    reply.out.Long(held.offset);
    reply.out.Long(held.length);
  } else {
    reply.out.Long(probe.l_type == F_WRLCK ? 1 : 0);
    reply.out.Long(uint32_t(probe.l_pid));
    reply.out.String("");
    reply.out.Long(uint32_t(probe.l_start));
    reply.out.Long(probe.l_len > 0xFFFFFFFFll ? 0 : uint32_t(probe.l_len));
  }
  SendReply(from, reply);
}

void Dispatch(RpcCall &call, const RpcPeer &from) {
  XdrReader &in = call.args;
  std::string_view cookie;
  NlmLock lock;
  bool block = false, exclusive = false, reclaim = false;
  int32_t state = 0;
  uint32_t mode = 0, access = 0;
  switch (call.procedure) {
    case NLM_NULL: RpcSendReply(kNfsSocket, from, 0); return;
    case NLM_TEST:
      if (!ReadNetobj(in, cookie) || !ReadBool(in, exclusive) || !ReadLock(in, lock)) return SendGarbage(from);
      return Test(call, from, cookie, exclusive, lock);
    case NLM_LOCK:
    case NLM_CANCEL:
    case NLM_GRANTED:
      // Monitored locks need a status monitor this server does not run.
      if (!ReadNetobj(in, cookie)) return SendGarbage(from);
      return SendStatus(from, cookie, kNlmDenied);
    case NLM_UNLOCK:
      if (!ReadNetobj(in, cookie) || !ReadLock(in, lock)) return SendGarbage(from);
      ++REQUEST_COUNTERS[kCountUnlock];
      Unlock(from.address, lock);
      return SendStatus(from, cookie, kNlmGranted);
    case NLM_SHARE:
    case NLM_UNSHARE: {
      if (!ReadNetobj(in, cookie) || !ReadFileAndOwner(in, lock) || !in.Long(mode) || !in.Long(access) ||
          !ReadBool(in, reclaim))
        return SendGarbage(from);
      if (call.procedure == NLM_UNSHARE) {
        ++REQUEST_COUNTERS[kCountUnshare];
        Unshare(from.address, lock);
        return SendShareStatus(from, cookie, kNlmGranted);
      }
      ++REQUEST_COUNTERS[kCountShare];
      return SendShareStatus(from, cookie, Share(call, from.address, lock, mode, access));
    }
    case NLM_NM_LOCK:
      if (!ReadNetobj(in, cookie) || !ReadBool(in, block) || !ReadBool(in, exclusive) || !ReadLock(in, lock) ||
          !ReadBool(in, reclaim) || !in.Int(state))
        return SendGarbage(from);
      ++REQUEST_COUNTERS[kCountLock];
      return SendStatus(from, cookie, NmLock(call, from.address, lock));
    case NLM_FREE_ALL:
      // The name in the arguments is not used: the sender's address is the client.
      ++REQUEST_COUNTERS[kCountUnshareAll];
      FreeClientNodes(from.address);
      RpcSendReply(kNfsSocket, from, 0);
      return;
    default:
      // The _MSG and _RES procedures get an empty reply; 16..19 and numbers
      // past the protocol none.
      if (call.procedure >= 6 && call.procedure <= 15) RpcSendReply(kNfsSocket, from, 0);
      return;
  }
}

}  // namespace

LOCK_NODE *FindLockNode(uint32_t client, const NFS_FHANDLE &handle, const std::vector<uint8_t> *owner) {
  for (const auto &n : g_clients[ClientChain(client)])
    if (n->client == client && SameHandle(n->handle, handle) && (!owner || n->owner == *owner)) return n.get();
  return nullptr;
}

void FreeLockNode(LOCK_NODE *node) {
  std::vector<LOCK_NODE *> &file = g_files[HandleHash(node->handle)];
  file.erase(std::remove(file.begin(), file.end(), node), file.end());
  CloseCachedFile(node->handle);
  auto &chain = g_clients[ClientChain(node->client)];
  auto it = std::find_if(chain.begin(), chain.end(), [&](const auto &n) { return n.get() == node; });
  if (it != chain.end()) {
    chain.erase(it);  // closing the descriptor drops its locks
    --g_node_count;
  }
}

void FreeClientNodes(uint32_t client) {
  auto &chain = g_clients[ClientChain(client)];
  std::vector<LOCK_NODE *> doomed;
  for (const auto &n : chain)
    if (n->client == client) doomed.push_back(n.get());
  for (LOCK_NODE *n : doomed) FreeLockNode(n);
}

void FreeAllLockNodes() {
  for (auto &chain : g_clients) {
    std::vector<LOCK_NODE *> doomed;
    for (const auto &n : chain) doomed.push_back(n.get());
    for (LOCK_NODE *n : doomed) FreeLockNode(n);
  }
}

void ForEachLockNode(void (*visit)(const LOCK_NODE &node, void *context), void *context) {
  for (const auto &chain : g_clients)
    for (const auto &n : chain) visit(*n, context);
}

bool NlmTransferAllowed(const NFS_FHANDLE &handle, uint32_t client, uint32_t offset, uint32_t count, bool write) {
  bool allowed = true;
  uint64_t end = uint64_t(offset) + count;
  ForEachNodeOfFile(handle, [&](const LOCK_NODE &n) {
    if (n.client == client) return;
    if (!(n.share & (write ? FILE_SHARE_WRITE : FILE_SHARE_READ))) allowed = false;
    for (const LOCK_RANGE &r : n.ranges)
      if (count > 0 && Overlaps(r, offset, end)) allowed = false;
  });
  return allowed;
}

void NlmHandler(RpcCall &call, const RpcPeer &from) {
  if (call.version != kNlmVersion) {
    RpcSendMismatch(kNfsSocket, from, kNlmVersion, kNlmVersion);
    return;
  }
  Dispatch(call, from);
}
