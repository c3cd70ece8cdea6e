// The NFS version 2 procedures (program 100003): dispatch, root squash, and
// what each procedure does with the files of an export. Every procedure
// runs as the caller (ActAsCaller), on handles checked against the exports.
#pragma once

#include <cstdint>
#include <string>

#include "nfsfiles.h"
#include "rpc.h"

enum NfsProcedure : uint32_t {
  NFSPROC_NULL = 0,
  NFSPROC_GETATTR = 1,
  NFSPROC_SETATTR = 2,
  NFSPROC_ROOT = 3,
  NFSPROC_LOOKUP = 4,
  NFSPROC_READLINK = 5,
  NFSPROC_READ = 6,
  NFSPROC_WRITECACHE = 7,
  NFSPROC_WRITE = 8,
  NFSPROC_CREATE = 9,
  NFSPROC_REMOVE = 10,
  NFSPROC_RENAME = 11,
  NFSPROC_LINK = 12,
  NFSPROC_SYMLINK = 13,
  NFSPROC_MKDIR = 14,
  NFSPROC_RMDIR = 15,
  NFSPROC_READDIR = 16,
  NFSPROC_STATFS = 17,
};
constexpr int NFSERR_NOTEMPTY = 66;

// The handler SetProgramHandler takes for NFS.
void NfsHandler(RpcCall &call, const RpcPeer &from);

// uid 0 stays 0 only for a host the handle's export names in "root=".
int32_t RootSquash(const NFS_FHANDLE &handle, uint32_t source);

// sattr: a field of 0xFFFFFFFF (for the times, the seconds word) is left alone.
struct NfsSattr {
  uint32_t mode = 0xFFFFFFFF, uid = 0xFFFFFFFF, gid = 0xFFFFFFFF, size = 0xFFFFFFFF;
  NfsTime atime{0xFFFFFFFF, 0xFFFFFFFF}, mtime{0xFFFFFFFF, 0xFFFFFFFF};
};
int NfsSetattr(ResolvedHandle &r, const NfsSattr &sattr, int32_t acting_uid, uint32_t source);
