// UNIX identity maps: NFS uids and gids <-> account SIDs, loaded from the
// registry subkeys UidMapping and GidMapping (values IDMAP_VALUE: a signed
// 32-bit little-endian id, then the SID), and the owner, group and mode of
// files presented through them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

#include <windows.h>

using Sid = std::vector<BYTE>;

// (Re)builds both maps from the registry. Ids given to unknown accounts
// start again at -3.
void LoadIdMaps();
void ClearIdMaps();
int AddUidMapping(int32_t uid, const void *sid, DWORD length);
int AddGidMapping(int32_t gid, const void *sid, DWORD length);
// The SID of an id, or null.
const Sid *UidToSid(int32_t uid);
const Sid *GidToSid(int32_t gid);
// The id of a SID, or -1.
int32_t SidToUid(const void *sid, DWORD length);
int32_t SidToGid(const void *sid, DWORD length);
// The id clients see for an account (as a file's owner or group): the mapped
// id, else the local uid or gid the account is, else a new negative id.
int32_t UidOfAccount(const void *sid, DWORD length);
int32_t GidOfAccount(const void *sid, DWORD length);
// The uid has a SID, or a default account takes unknown uids.
bool IsUidMapped(int32_t uid);
const Sid *DefaultAccountSid();

// The file's permission bits (owner, group, others); its owner and group as
// NFS ids: the mapped id, else the local uid or gid the account is, else a
// new negative id. 0 with uid and gid untouched when the file's security
// cannot be read.
unsigned GetFileIdentity(const char *path, int32_t &uid, int32_t &gid);
// The same for a file whose status is at hand: a file's descriptor is its
// mode, its owner and group the local accounts of its uid and gid.
unsigned FileIdentityOfStatus(uint32_t file_uid, uint32_t file_gid, uint32_t mode, int32_t &uid, int32_t &gid);
// Sets owner, group and mode; -1 leaves one as it is. A uid with neither a SID
// nor a default account changes nothing at all; the mode changes only when
// the caller is uid 0 or the file's owner. false when the file's security
// could not be read or written (the kernel refused the caller, for one).
bool SetFileIdentity(const char *path, int32_t uid, int32_t gid, int32_t mode, int32_t caller_uid);

// Runs the thread's file-system calls as a client's user until the scope
// ends: file-system uid and gid, and the supplementary groups of the local
// account the uid is (none for a uid without one). The kernel then applies
// modes for that user.
class ActAsCaller {
 public:
  ActAsCaller(uid_t uid, gid_t gid);
  ~ActAsCaller();
  ActAsCaller(const ActAsCaller &) = delete;
  ActAsCaller &operator=(const ActAsCaller &) = delete;
  bool ok() const { return ok_; }

 private:
  uid_t saved_uid_;
  gid_t saved_gid_;
  std::vector<gid_t> saved_groups_;
  bool ok_ = false;
};
