// The open-file cache: up to 8 files kept open between requests, so that a
// run of READs or WRITEs opens a file once; the ring that lets a file be
// reached through its old handle after a RENAME; and the data transfer of
// READ, WRITE and READLINK.
#pragma once

#include <cstdint>
#include <string_view>

#include "handles.h"
#include "nfsfiles.h"
#include "xdr.h"

constexpr int kOpenFileSlots = 8;

struct OPEN_FILE_SLOT {
  NFS_FHANDLE handle{};  // the handle the client used
  BYTE flags = 0;        // 1: in use
  UniqueFd fd;
  bool writable = false;
  // A slot serves only the identity that opened it: another caller gets a
  // descriptor of its own, opened under its own permissions.
  int32_t uid = -2, gid = -2;
  uint32_t stamp = 0;  // from a counter that grows each time a slot is taken
  FILE_STAT stat;      // taken at open, refreshed after each write
};

// The slot serving `r` for the current caller, opening the file (read and
// write unless the handle or export is read-only, else read-only) when none
// does. A file the caller owns but has made read-only is still opened for
// writing, as its owner may. Returns the slot index, or -NFS status.
int OpenCachedFile(ResolvedHandle &r, uint32_t source);
OPEN_FILE_SLOT &CachedFileSlot(int index);
// The slot already serving this handle for the current caller, or -1.
int FindCachedFile(const NFS_FHANDLE &handle);
// Closes every slot of that handle (nothing for a directory handle).
void CloseCachedFile(const NFS_FHANDLE &handle);
// Makes what was written through the handle's slot visible to a lookup;
// with every WRITE durable before its reply there is nothing left to do.
void FlushCachedFile(const NFS_FHANDLE &handle);
// Closes every slot (the main window's 30-second timer).
void CloseAllCachedFiles();
// A free slot, else the one taken longest ago, closed.
int AllocOpenFileSlot();
// Remembers the last two renames: a client still holding the old handle reaches the file.
void RememberRename(const NFS_FHANDLE &old_handle, const NFS_FHANDLE &new_handle);

// READ: status, fattr, then the data (at most the transfer size) into out.
int NfsReadFile(ResolvedHandle &r, uint32_t source, uint32_t offset, uint32_t count, XdrWriter &out);
// WRITE: the data on disk before the reply; status and fattr into out.
int NfsWriteFile(ResolvedHandle &r, uint32_t source, uint32_t offset, std::string_view data, XdrWriter &out);
// READLINK: a symbolic link's target; for another file its first bytes.
int NfsReadLink(ResolvedHandle &r, uint32_t source, XdrWriter &out);
// Opens a regular file beneath the export (never a final symbolic link,
// never waiting on a FIFO): a descriptor, or -errno.
int OpenRegularFile(const ResolvedHandle &r, int flags);
// The status of an open slot's file, re-read from its descriptor.
void RefreshSlotStat(OPEN_FILE_SLOT &slot);
