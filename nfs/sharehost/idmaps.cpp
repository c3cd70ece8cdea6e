// The identity maps and the owner, group and mode of files seen through them.
#include "idmaps.h"

#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <map>
#include <optional>

#include <qxwin/descriptors.h>

#include "idmap_values.h"
#include "registry_keys.h"

namespace {

struct IdMap {
  std::map<int32_t, Sid> by_id;
  std::map<Sid, int32_t> by_sid;
};

IdMap g_uids, g_gids;
Sid g_everyone;
std::optional<Sid> g_default;
int32_t g_next_uid = -3, g_next_gid = -3;

constexpr uint32_t kUnixAuthority = 22, kUnixUser = 1, kUnixGroup = 2;

Sid Copy(const void *sid, DWORD length) {
  const BYTE *b = static_cast<const BYTE *>(sid);
  return Sid(b, b + length);
}

// The local uid or gid of a SID S-1-22-<kind>-<id>.
bool UnixId(const Sid &sid, uint32_t kind, uint32_t &id) {
  if (sid.size() != 16 || sid[0] != 1 || sid[1] != 2) return false;
  for (int i = 2; i < 7; ++i)
    if (sid[i] != 0) return false;
  auto sub = [&](int k) {
    return uint32_t(sid[8 + 4 * k]) | sid[9 + 4 * k] << 8 | sid[10 + 4 * k] << 16 | uint32_t(sid[11 + 4 * k]) << 24;
  };
  if (sid[7] != kUnixAuthority || sub(0) != kind) return false;
  id = sub(1);
  return true;
}

Sid UnixSid(uint32_t kind, uint32_t id) {
  Sid sid = {1, 2, 0, 0, 0, 0, 0, BYTE(kUnixAuthority)};
  for (uint32_t v : {kind, id})
    for (int i = 0; i < 4; ++i) sid.push_back(BYTE(v >> (8 * i)));
  return sid;
}

int Add(IdMap &map, int32_t id, const void *sid, DWORD length) {
  try {
    Sid copy = Copy(sid, length);
    map.by_id[id] = copy;
    map.by_sid[copy] = id;
    return 0;
  } catch (const std::bad_alloc &) {
    return 1;
  }
}

const Sid *Find(const IdMap &map, int32_t id) {
  auto it = map.by_id.find(id);
  return it == map.by_id.end() ? nullptr : &it->second;
}

int32_t Find(const IdMap &map, const void *sid, DWORD length) {
  auto it = map.by_sid.find(Copy(sid, length));
  return it == map.by_sid.end() ? -1 : it->second;
}

// The file's descriptor with owner, group and DACL.
bool ReadDescriptor(const char *path, std::vector<BYTE> &sd) {
  sd.assign(2048, 0);
  DWORD needed = 0;
  SECURITY_INFORMATION info = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (GetFileSecurityA(path, info, sd.data(), DWORD(sd.size()), &needed)) return true;
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
  sd.assign(needed, 0);
  return GetFileSecurityA(path, info, sd.data(), DWORD(sd.size()), &needed);
}

int32_t IdOf(IdMap &map, PSID sid, uint32_t kind, int32_t &next) {
  if (!sid) return -2;
  DWORD length = GetLengthSid(sid);
  int32_t id = Find(map, sid, length);
  if (id != -1) return id;
  uint32_t local;
  // An account of this machine without a mapping is shown as its own number.
  if (UnixId(Copy(sid, length), kind, local) && int32_t(local) >= 0) return int32_t(local);
  id = next--;
  Add(map, id, sid, length);
  return id;
}

}  // namespace

void ClearIdMaps() {
  g_uids = IdMap();
  g_gids = IdMap();
}

void LoadIdMaps() {
  g_next_uid = g_next_gid = -3;
  g_everyone.clear();
  g_default.reset();
  BYTE sid[1024];
  char domain[1024];
  DWORD sid_len = sizeof sid, domain_len = sizeof domain;
  SID_NAME_USE use;
  if (LookupAccountNameA(nullptr, "EveryOne", sid, &sid_len, domain, &domain_len, &use))
    g_everyone = Copy(sid, GetLengthSid(sid));
  ClearIdMaps();
  EnumerateMappings(kUidMappingKey, [](const char *, DWORD, int32_t id, const BYTE *s, DWORD len) {
    if (id == -1)
      g_default = Copy(s, len);
    else
      AddUidMapping(id, s, len);
  });
  EnumerateMappings(kGidMappingKey, [](const char *, DWORD type, int32_t id, const BYTE *s, DWORD len) {
    if (type == REG_BINARY) AddGidMapping(id, s, len);
  });
}

int AddUidMapping(int32_t uid, const void *sid, DWORD length) { return Add(g_uids, uid, sid, length); }
int AddGidMapping(int32_t gid, const void *sid, DWORD length) { return Add(g_gids, gid, sid, length); }
const Sid *UidToSid(int32_t uid) { return Find(g_uids, uid); }
const Sid *GidToSid(int32_t gid) { return Find(g_gids, gid); }
int32_t SidToUid(const void *sid, DWORD length) { return Find(g_uids, sid, length); }
int32_t SidToGid(const void *sid, DWORD length) { return Find(g_gids, sid, length); }
int32_t UidOfAccount(const void *sid, DWORD length) {
  return IdOf(g_uids, const_cast<void *>(sid), kUnixUser, g_next_uid);
}
int32_t GidOfAccount(const void *sid, DWORD length) {
  return IdOf(g_gids, const_cast<void *>(sid), kUnixGroup, g_next_gid);
}
bool IsUidMapped(int32_t uid) { return UidToSid(uid) || g_default; }
const Sid *DefaultAccountSid() { return g_default ? &*g_default : nullptr; }

unsigned GetFileIdentity(const char *path, int32_t &uid, int32_t &gid) {
  std::vector<BYTE> sd;
  if (!ReadDescriptor(path, sd)) return 0;
  PSID owner = nullptr, group = nullptr;
  BOOL owner_defaulted = FALSE, group_defaulted = FALSE, present = FALSE, dacl_defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorOwner(sd.data(), &owner, &owner_defaulted);
  GetSecurityDescriptorGroup(sd.data(), &group, &group_defaulted);
  GetSecurityDescriptorDacl(sd.data(), &present, &dacl, &dacl_defaulted);
  uid = IdOf(g_uids, owner, kUnixUser, g_next_uid);
  gid = IdOf(g_gids, group, kUnixGroup, g_next_gid);

  DWORD owner_mask = 0, group_mask = 0, every_mask = 0;
  if (present && dacl) {
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      LPVOID ace;
      if (!GetAce(dacl, i, &ace)) break;
      auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(ace);
      if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (allowed->Header.AceFlags & INHERIT_ONLY_ACE)) continue;
      PSID ace_sid = &allowed->SidStart;
      if (owner && EqualSid(ace_sid, owner)) owner_mask = allowed->Mask;
      if (group && !group_defaulted && EqualSid(ace_sid, group)) group_mask = allowed->Mask;
      if (!g_everyone.empty() && EqualSid(ace_sid, g_everyone.data())) every_mask = allowed->Mask;
    }
  }
  auto bits = [](DWORD mask) {
    return ((mask & FILE_READ_DATA) ? 4u : 0u) | ((mask & FILE_WRITE_DATA) ? 2u : 0u) |
           ((mask & FILE_EXECUTE) ? 1u : 0u);
  };
  return bits(owner_mask) << 6 | bits(group_mask) << 3 | bits(every_mask);
}

unsigned FileIdentityOfStatus(uint32_t file_uid, uint32_t file_gid, uint32_t mode, int32_t &uid, int32_t &gid) {
  Sid owner = UnixSid(kUnixUser, file_uid), group = UnixSid(kUnixGroup, file_gid);
  uid = IdOf(g_uids, owner.data(), kUnixUser, g_next_uid);
  gid = IdOf(g_gids, group.data(), kUnixGroup, g_next_gid);
  return mode & 0777;
}

bool SetFileIdentity(const char *path, int32_t uid, int32_t gid, int32_t mode, int32_t caller_uid) {
  std::vector<BYTE> sd;
  if (!ReadDescriptor(path, sd)) return false;
  PSID old_owner = nullptr, old_group = nullptr;
  BOOL defaulted = FALSE, group_defaulted = FALSE;
  GetSecurityDescriptorOwner(sd.data(), &old_owner, &defaulted);
  GetSecurityDescriptorGroup(sd.data(), &old_group, &group_defaulted);
  Sid owner = old_owner ? Copy(old_owner, GetLengthSid(old_owner)) : Sid();
  Sid group = old_group ? Copy(old_group, GetLengthSid(old_group)) : Sid();

  SECURITY_INFORMATION changed = 0;
  if (uid != -1) {
    const Sid *sid = UidToSid(uid);
    if (!sid) sid = DefaultAccountSid();
    if (!sid) return true;  // nobody to give the file to: nothing changes
    if (*sid != owner) changed |= OWNER_SECURITY_INFORMATION;
    owner = *sid;
  }
  if (gid != -1) {
    if (const Sid *sid = GidToSid(gid)) {
      if (*sid != group) changed |= GROUP_SECURITY_INFORMATION;
      group = *sid;
    }
  }
  std::vector<BYTE> acl(2048);
  if (mode != -1) {
    const Sid *caller = UidToSid(caller_uid);
    Sid local_caller = caller_uid >= 0 ? UnixSid(kUnixUser, uint32_t(caller_uid)) : Sid();
    bool is_owner = (caller && *caller == owner) || (!caller && local_caller == owner);
    if (caller_uid == 0 || is_owner) {
      auto rights = [](unsigned bits) {
        return ((bits & 4) ? FILE_GENERIC_READ_RIGHTS : 0u) | ((bits & 2) ? FILE_GENERIC_WRITE_RIGHTS : 0u) |
               ((bits & 1) ? FILE_GENERIC_EXECUTE_RIGHTS : 0u);
      };
      PACL dacl = reinterpret_cast<PACL>(acl.data());
      InitializeAcl(dacl, DWORD(acl.size()), ACL_REVISION);
      // The owner always keeps the right to change permissions.
      AddAccessAllowedAce(dacl, ACL_REVISION, WRITE_DAC | rights((unsigned(mode) >> 6) & 7), owner.data());
      if (DWORD m = rights((unsigned(mode) >> 3) & 7); m && !group_defaulted)
        AddAccessAllowedAce(dacl, ACL_REVISION, m, group.data());
      if (DWORD m = rights(unsigned(mode) & 7); m && !g_everyone.empty())
        AddAccessAllowedAce(dacl, ACL_REVISION, m, g_everyone.data());
      changed |= DACL_SECURITY_INFORMATION;
    }
  }
  if (!changed) return true;
  SECURITY_DESCRIPTOR absolute;
  InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorOwner(&absolute, owner.empty() ? nullptr : owner.data(), FALSE);
  SetSecurityDescriptorGroup(&absolute, group.empty() ? nullptr : group.data(), group_defaulted);
  SetSecurityDescriptorDacl(&absolute, TRUE, reinterpret_cast<PACL>(acl.data()), FALSE);
  return SetFileSecurityA(path, changed, &absolute);
}

namespace {

// The supplementary groups of the account a uid is: the group files are read
// at most every 30 seconds per uid and gid, not at every request.
std::vector<gid_t> GroupsOf(uid_t uid, gid_t gid) {
  struct Known {
    std::vector<gid_t> groups;
    time_t read_at;
  };
  static std::map<std::pair<uid_t, gid_t>, Known> known;
  time_t now = time(nullptr);
  auto it = known.find({uid, gid});
  if (it != known.end() && now - it->second.read_at < 30 && now >= it->second.read_at) return it->second.groups;
  std::vector<gid_t> groups;
  if (passwd *pw = getpwuid(uid)) {
    int count = 64;
    groups.resize(size_t(count));
    if (getgrouplist(pw->pw_name, gid, groups.data(), &count) < 0) {
      groups.resize(size_t(count));
      getgrouplist(pw->pw_name, gid, groups.data(), &count);
    }
    groups.resize(size_t(count));
  } else {
    groups.push_back(gid);
  }
  if (known.size() > 256) known.clear();
  known[{uid, gid}] = Known{groups, now};
  return groups;
}

}  // namespace

ActAsCaller::ActAsCaller(uid_t uid, gid_t gid) {
  saved_uid_ = uid_t(setfsuid(uid_t(-1)));
  saved_gid_ = gid_t(setfsgid(gid_t(-1)));
  int n = getgroups(0, nullptr);
  if (n > 0) {
    saved_groups_.resize(size_t(n));
    n = getgroups(n, saved_groups_.data());
    saved_groups_.resize(n > 0 ? size_t(n) : 0);
  }
  std::vector<gid_t> groups = GroupsOf(uid, gid);
  // The raw call changes this thread's groups only; the C library's
  // setgroups would change every thread's.
  bool groups_ok = syscall(SYS_setgroups, groups.size(), groups.data()) == 0;
  setfsgid(gid);
  setfsuid(uid);
  ok_ = groups_ok && uid_t(setfsuid(uid_t(-1))) == uid && gid_t(setfsgid(gid_t(-1))) == gid;
}

ActAsCaller::~ActAsCaller() {
  setfsuid(saved_uid_);
  setfsgid(saved_gid_);
  syscall(SYS_setgroups, saved_groups_.size(), saved_groups_.data());
}
