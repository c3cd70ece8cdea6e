// The network lock manager (program 100021 version 3) on the NFS port: the
// DOS share reservations and non-monitored byte-range locks PC clients take
// (SHARE, UNSHARE, NM_LOCK, FREE_ALL), with UNLOCK and TEST. The standard
// monitored LOCK, CANCEL and GRANTED are answered denied.
//
// Each share, and each client's locks on a file, is a lock node holding its
// own open of the file. Shares follow the Windows rule (an open's access
// against the others' sharing, both ways); a share that denies others
// reading or writing, and every locked range, is also taken as an
// open-file-description lock on the node's descriptor, so local programs
// that use fcntl locks see them and the kernel refuses what they hold. NFS
// READ and WRITE from another client are refused where a node denies them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "handles.h"
#include "nfsfiles.h"
#include "rpc.h"

enum NlmProcedure : uint32_t {
  NLM_NULL = 0,
  NLM_TEST = 1,
  NLM_LOCK = 2,
  NLM_CANCEL = 3,
  NLM_UNLOCK = 4,
  NLM_GRANTED = 5,
  NLM_SHARE = 20,
  NLM_UNSHARE = 21,
  NLM_NM_LOCK = 22,
  NLM_FREE_ALL = 23,
};
constexpr uint32_t kNlmGranted = 0;
constexpr uint32_t kNlmDenied = 1;

// A byte range: length 0 reaches to the end of any file.
struct LOCK_RANGE {
  uint32_t offset = 0;
  uint32_t length = 0;
};

struct LOCK_NODE {
  uint32_t client = 0;         // IPv4 address, network order
  std::vector<uint8_t> owner;  // the request's owner handle (oh)
  uint8_t flags = 0;           // bit 0: made by NM_LOCK, freed with its last range
  NFS_FHANDLE handle{};
  uint32_t access = 0;  // GENERIC_READ and/or GENERIC_WRITE
  uint32_t share = 0;   // FILE_SHARE_READ and/or FILE_SHARE_WRITE left to others
  UniqueFd fd;
  std::vector<LOCK_RANGE> ranges;  // locked through NM_LOCK, never overlapping
};

// The handler SetProgramHandler takes for the lock manager.
void NlmHandler(RpcCall &call, const RpcPeer &from);

// Whether a client may READ (write false) or WRITE the bytes [offset,
// offset + count) of a file: not when another client's share denies that
// access, nor when another client holds a lock overlapping the bytes.
bool NlmTransferAllowed(const NFS_FHANDLE &handle, uint32_t client, uint32_t offset, uint32_t count, bool write);

LOCK_NODE *FindLockNode(uint32_t client, const NFS_FHANDLE &handle, const std::vector<uint8_t> *owner);
void FreeLockNode(LOCK_NODE *node);
void FreeClientNodes(uint32_t client);
// Every node, walking the 64 client chains in order (the open-files list).
void ForEachLockNode(void (*visit)(const LOCK_NODE &node, void *context), void *context);
// Drops every node (closing its file); for the tests and shutdown.
void FreeAllLockNodes();
