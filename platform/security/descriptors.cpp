// Security descriptors and ACLs, and a file's descriptor made from (and
// written back to) its owner, group and mode.
#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "qx/accounts.h"
#include "qx/errors.h"
#include "qx/paths.h"
#include "qxwin/descriptors.h"

namespace {

constexpr DWORD kSelfRelativeHeader = 20;
constexpr DWORD kAclHeader = sizeof(ACL);
constexpr DWORD kAceFixed = 8;  // header and mask; the SID follows
constexpr DWORD kOwnerRights = WRITE_DAC | READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;

const BYTE kEveryone[12] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};

DWORD Le32(const BYTE *p) { return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24; }
void PutLe32(BYTE *p, DWORD v) {
  for (int i = 0; i < 4; ++i) p[i] = BYTE(v >> (8 * i));
}

bool IsSelfRelative(const void *sd) {
  WORD control;
  memcpy(&control, static_cast<const BYTE *>(sd) + 2, 2);
  return control & SE_SELF_RELATIVE;
}

// The parts of either form, as pointers into the descriptor.
struct Parts {
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  PSID owner = nullptr, group = nullptr;
  PACL dacl = nullptr, sacl = nullptr;
};

bool ReadParts(PSECURITY_DESCRIPTOR sd, Parts &p) {
  if (!sd || static_cast<BYTE *>(sd)[0] != SECURITY_DESCRIPTOR_REVISION) return false;
  if (IsSelfRelative(sd)) {
    BYTE *b = static_cast<BYTE *>(sd);
    memcpy(&p.control, b + 2, 2);
    auto at = [&](int field) -> BYTE * {
      DWORD off = Le32(b + 4 + 4 * field);
      return off ? b + off : nullptr;
    };
    p.owner = at(0);
    p.group = at(1);
    p.sacl = reinterpret_cast<PACL>(at(2));
    p.dacl = reinterpret_cast<PACL>(at(3));
  } else {
    auto *a = static_cast<SECURITY_DESCRIPTOR *>(sd);
    p.control = a->Control;
    p.owner = a->Owner;
    p.group = a->Group;
    p.sacl = a->Sacl;
    p.dacl = a->Dacl;
  }
  if (!(p.control & SE_DACL_PRESENT)) p.dacl = nullptr;
  if (!(p.control & SE_SACL_PRESENT)) p.sacl = nullptr;
  return true;
}

DWORD AclBytesInUse(const ACL *acl) {
  const BYTE *b = reinterpret_cast<const BYTE *>(acl);
  DWORD at = kAclHeader;
  for (WORD i = 0; i < acl->AceCount; ++i) {
    WORD size;
    memcpy(&size, b + at + 2, 2);
    at += size;
  }
  return at;
}

bool AclIsValid(const ACL *acl) {
  if (!acl || acl->AclRevision < 2 || acl->AclRevision > 4 || acl->AclSize < kAclHeader) return false;
  const BYTE *b = reinterpret_cast<const BYTE *>(acl);
  DWORD at = kAclHeader;
  for (WORD i = 0; i < acl->AceCount; ++i) {
    if (at + 4 > acl->AclSize) return false;
    WORD size;
    memcpy(&size, b + at + 2, 2);
    if (size < 4 || at + size > acl->AclSize) return false;
    at += size;
  }
  return true;
}

void AppendAce(std::vector<BYTE> &acl, DWORD mask, const void *sid) {
  DWORD sid_len = GetLengthSid(const_cast<PSID>(sid));
  size_t at = acl.size();
  acl.resize(at + kAceFixed + sid_len);
  acl[at] = ACCESS_ALLOWED_ACE_TYPE;
  acl[at + 1] = 0;
  WORD size = WORD(kAceFixed + sid_len);
  memcpy(&acl[at + 2], &size, 2);
  PutLe32(&acl[at + 4], mask);
  memcpy(&acl[at + 8], sid, sid_len);
}

DWORD RightsOf(mode_t bits) {  // bits: 4 read, 2 write, 1 execute
  DWORD mask = 0;
  if (bits & 4) mask |= FILE_GENERIC_READ_RIGHTS;
  if (bits & 2) mask |= FILE_GENERIC_WRITE_RIGHTS;
  if (bits & 1) mask |= FILE_GENERIC_EXECUTE_RIGHTS;
  return mask;
}

mode_t BitsOf(DWORD mask) {
  return ((mask & FILE_READ_DATA) ? 4 : 0) | ((mask & FILE_WRITE_DATA) ? 2 : 0) | ((mask & FILE_EXECUTE) ? 1 : 0);
}

// The self-relative descriptor of a file from its status.
std::vector<BYTE> DescriptorOf(const struct stat &st, SECURITY_INFORMATION info) {
  std::vector<unsigned char> owner = qx::UserSid(st.st_uid), group = qx::GroupSid(st.st_gid);
  std::vector<BYTE> sd(kSelfRelativeHeader, 0);
  sd[0] = SECURITY_DESCRIPTOR_REVISION;
  SECURITY_DESCRIPTOR_CONTROL control = SE_SELF_RELATIVE;
  if (info & OWNER_SECURITY_INFORMATION) {
    PutLe32(&sd[4], DWORD(sd.size()));
    sd.insert(sd.end(), owner.begin(), owner.end());
  }
  if (info & GROUP_SECURITY_INFORMATION) {
    PutLe32(&sd[8], DWORD(sd.size()));
    sd.insert(sd.end(), group.begin(), group.end());
  }
  if (info & DACL_SECURITY_INFORMATION) {
    std::vector<BYTE> acl(kAclHeader, 0);
    AppendAce(acl, kOwnerRights | RightsOf((st.st_mode >> 6) & 7), owner.data());
    WORD count = 1;
    if ((st.st_mode >> 3) & 7) {
      AppendAce(acl, RightsOf((st.st_mode >> 3) & 7), group.data());
      ++count;
    }
    if (st.st_mode & 7) {
      AppendAce(acl, RightsOf(st.st_mode & 7), kEveryone);
      ++count;
    }
    acl[0] = ACL_REVISION;
    WORD size = WORD(acl.size());
    memcpy(&acl[2], &size, 2);
    memcpy(&acl[4], &count, 2);
    control |= SE_DACL_PRESENT;
    PutLe32(&sd[16], DWORD(sd.size()));
    sd.insert(sd.end(), acl.begin(), acl.end());
  }
  memcpy(&sd[2], &control, 2);
  return sd;
}

bool FileStatus(LPCSTR path, std::string &host, struct stat &st) {
  DWORD error;
  if (!path || !qx::HostPath(path, host, error)) return qx::Fail(path ? error : ERROR_INVALID_PARAMETER);
  if (lstat(host.c_str(), &st) != 0) return qx::Fail(qx::ErrorFromErrno(errno, qx::HostCall::Lookup));
  return true;
}

}  // namespace

extern "C" {

BOOL WINAPI GetFileSecurityA(LPCSTR path, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR sd, DWORD length,
                             LPDWORD needed) {
  std::string host;
  struct stat st;
  if (!needed) return qx::Fail(ERROR_INVALID_PARAMETER);
  if (!FileStatus(path, host, st)) return FALSE;
  std::vector<BYTE> made = DescriptorOf(st, info);
  *needed = DWORD(made.size());
  if (!sd || length < made.size()) return qx::Fail(ERROR_INSUFFICIENT_BUFFER);
  memcpy(sd, made.data(), made.size());
  return TRUE;
}

BOOL WINAPI SetFileSecurityA(LPCSTR path, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR sd) {
  Parts p;
  if (!ReadParts(sd, p)) return qx::Fail(ERROR_INVALID_SECURITY_DESCR);
  std::string host;
  struct stat st;
  if (!FileStatus(path, host, st)) return FALSE;
  uid_t uid = uid_t(-1);
  gid_t gid = gid_t(-1);
  if (info & OWNER_SECURITY_INFORMATION) {
    if (!p.owner || !qx::SidToUid(p.owner, uid)) return qx::Fail(ERROR_INVALID_OWNER);
  }
  if (info & GROUP_SECURITY_INFORMATION) {
    if (!p.group || !qx::SidToGid(p.group, gid)) return qx::Fail(ERROR_INVALID_PRIMARY_GROUP);
  }
  if ((uid != uid_t(-1) && uid != st.st_uid) || (gid != gid_t(-1) && gid != st.st_gid)) {
    if (fchownat(AT_FDCWD, host.c_str(), uid, gid, AT_SYMLINK_NOFOLLOW) != 0)
      return qx::Fail(qx::ErrorFromErrno(errno));
    if (uid != uid_t(-1)) st.st_uid = uid;
    if (gid != gid_t(-1)) st.st_gid = gid;
  }
  if (info & DACL_SECURITY_INFORMATION) {
    if (p.dacl && !AclIsValid(p.dacl)) return qx::Fail(ERROR_INVALID_ACL);
    // A missing DACL grants everyone everything, as it does on Windows.
    mode_t mode = 0777;
    if (p.dacl) {
      std::vector<unsigned char> owner = qx::UserSid(st.st_uid), group = qx::GroupSid(st.st_gid);
      mode = 0;
      const BYTE *b = reinterpret_cast<const BYTE *>(p.dacl);
      DWORD at = kAclHeader;
      for (WORD i = 0; i < p.dacl->AceCount; ++i) {
        WORD size;
        memcpy(&size, b + at + 2, 2);
        const BYTE *sid = b + at + kAceFixed;
        DWORD sid_len = size >= kAceFixed + 8 ? 8u + 4u * sid[1] : 0;
        if (b[at] == ACCESS_ALLOWED_ACE_TYPE && !(b[at + 1] & INHERIT_ONLY_ACE) && sid_len &&
            kAceFixed + sid_len <= size) {
          auto is = [&](const void *other, size_t len) { return len == sid_len && memcmp(sid, other, len) == 0; };
          mode_t bits = BitsOf(Le32(b + at + 4));
          if (is(owner.data(), owner.size())) mode |= bits << 6;
          if (is(group.data(), group.size())) mode |= bits << 3;
          if (is(kEveryone, sizeof kEveryone)) mode |= bits;
        }
        at += size;
      }
    }
    // Links have no mode of their own.
    if (!S_ISLNK(st.st_mode) && (st.st_mode & 0777) != mode &&
        fchmodat(AT_FDCWD, host.c_str(), (st.st_mode & 07000) | mode, 0) != 0)
      return qx::Fail(qx::ErrorFromErrno(errno));
  }
  return TRUE;
}

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR sd, DWORD revision) {
  if (!sd || revision != SECURITY_DESCRIPTOR_REVISION) return qx::Fail(ERROR_INVALID_PARAMETER);
  memset(sd, 0, sizeof(SECURITY_DESCRIPTOR));
  static_cast<SECURITY_DESCRIPTOR *>(sd)->Revision = SECURITY_DESCRIPTOR_REVISION;
  return TRUE;
}

BOOL WINAPI IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR sd) {
  Parts p;
  if (!ReadParts(sd, p)) return FALSE;
  if ((p.owner && !IsValidSid(p.owner)) || (p.group && !IsValidSid(p.group))) return FALSE;
  return (!p.dacl || AclIsValid(p.dacl)) && (!p.sacl || AclIsValid(p.sacl));
}

DWORD WINAPI GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR sd) {
  Parts p;
  if (!ReadParts(sd, p)) return 0;
  DWORD length = kSelfRelativeHeader;
  if (p.owner) length += GetLengthSid(p.owner);
  if (p.group) length += GetLengthSid(p.group);
  if (p.dacl) length += p.dacl->AclSize;
  if (p.sacl) length += p.sacl->AclSize;
  return length;
}

BOOL WINAPI GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR sd, PSECURITY_DESCRIPTOR_CONTROL control,
                                         LPDWORD revision) {
  Parts p;
  if (!control || !revision || !ReadParts(sd, p)) return qx::Fail(ERROR_INVALID_SECURITY_DESCR);
  memcpy(control, static_cast<BYTE *>(sd) + 2, 2);
  *revision = SECURITY_DESCRIPTOR_REVISION;
  return TRUE;
}

BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR sd, PSID *owner, LPBOOL defaulted) {
  Parts p;
  if (!owner || !defaulted || !ReadParts(sd, p)) return qx::Fail(ERROR_INVALID_SECURITY_DESCR);
  *owner = p.owner;
  *defaulted = (p.control & SE_OWNER_DEFAULTED) != 0;
  return TRUE;
}

BOOL WINAPI GetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR sd, PSID *group, LPBOOL defaulted) {
  Parts p;
  if (!group || !defaulted || !ReadParts(sd, p)) return qx::Fail(ERROR_INVALID_SECURITY_DESCR);
  *group = p.group;
  *defaulted = (p.control & SE_GROUP_DEFAULTED) != 0;
  return TRUE;
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, LPBOOL present, PACL *dacl, LPBOOL defaulted) {
  Parts p;
  if (!present || !dacl || !defaulted || !ReadParts(sd, p)) return qx::Fail(ERROR_INVALID_SECURITY_DESCR);
  *present = (p.control & SE_DACL_PRESENT) != 0;
  *dacl = p.dacl;
  *defaulted = (p.control & SE_DACL_DEFAULTED) != 0;
  return TRUE;
}

namespace {
SECURITY_DESCRIPTOR *Absolute(PSECURITY_DESCRIPTOR sd) {
  if (!sd || static_cast<BYTE *>(sd)[0] != SECURITY_DESCRIPTOR_REVISION || IsSelfRelative(sd))
    return qx::Fail<SECURITY_DESCRIPTOR *>(ERROR_INVALID_SECURITY_DESCR, nullptr);
  return static_cast<SECURITY_DESCRIPTOR *>(sd);
}
void SetFlag(SECURITY_DESCRIPTOR *a, WORD flag, BOOL on) {
  a->Control = on ? WORD(a->Control | flag) : WORD(a->Control & ~flag);
}
}  // namespace

BOOL WINAPI SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR sd, PSID owner, BOOL defaulted) {
  SECURITY_DESCRIPTOR *a = Absolute(sd);
  if (!a) return FALSE;
  a->Owner = owner;
  SetFlag(a, SE_OWNER_DEFAULTED, defaulted);
  return TRUE;
}

BOOL WINAPI SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR sd, PSID group, BOOL defaulted) {
  SECURITY_DESCRIPTOR *a = Absolute(sd);
  if (!a) return FALSE;
  a->Group = group;
  SetFlag(a, SE_GROUP_DEFAULTED, defaulted);
  return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, BOOL present, PACL dacl, BOOL defaulted) {
  SECURITY_DESCRIPTOR *a = Absolute(sd);
  if (!a) return FALSE;
  SetFlag(a, SE_DACL_PRESENT, present);
  a->Dacl = present ? dacl : nullptr;
  SetFlag(a, SE_DACL_DEFAULTED, present && defaulted);
  return TRUE;
}

BOOL WINAPI MakeAbsoluteSD(PSECURITY_DESCRIPTOR self, PSECURITY_DESCRIPTOR abs, LPDWORD abs_size, PACL dacl,
                           LPDWORD dacl_size, PACL sacl, LPDWORD sacl_size, PSID owner, LPDWORD owner_size, PSID group,
                           LPDWORD group_size) {
  Parts p;
  if (!self || !IsSelfRelative(self) || !ReadParts(self, p) || !abs_size || !dacl_size || !sacl_size || !owner_size ||
      !group_size)
    return qx::Fail(ERROR_BAD_DESCRIPTOR_FORMAT);
  DWORD need_owner = p.owner ? GetLengthSid(p.owner) : 0, need_group = p.group ? GetLengthSid(p.group) : 0;
  DWORD need_dacl = p.dacl ? p.dacl->AclSize : 0, need_sacl = p.sacl ? p.sacl->AclSize : 0;
  bool small = *abs_size < sizeof(SECURITY_DESCRIPTOR) || *owner_size < need_owner || *group_size < need_group ||
               *dacl_size < need_dacl || *sacl_size < need_sacl;
  if (small || !abs || (need_owner && !owner) || (need_group && !group) || (need_dacl && !dacl) ||
      (need_sacl && !sacl)) {
    *abs_size = sizeof(SECURITY_DESCRIPTOR);
    *owner_size = need_owner;
    *group_size = need_group;
    *dacl_size = need_dacl;
    *sacl_size = need_sacl;
    return qx::Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  auto *a = static_cast<SECURITY_DESCRIPTOR *>(abs);
  memset(a, 0, sizeof *a);
  a->Revision = SECURITY_DESCRIPTOR_REVISION;
  a->Control = WORD(p.control & ~SE_SELF_RELATIVE);
  if (p.owner) a->Owner = memcpy(owner, p.owner, need_owner);
  if (p.group) a->Group = memcpy(group, p.group, need_group);
  if (p.dacl) a->Dacl = static_cast<PACL>(memcpy(dacl, p.dacl, need_dacl));
  if (p.sacl) a->Sacl = static_cast<PACL>(memcpy(sacl, p.sacl, need_sacl));
  return TRUE;
}

BOOL WINAPI MakeSelfRelativeSD(PSECURITY_DESCRIPTOR abs, PSECURITY_DESCRIPTOR self, LPDWORD length) {
  SECURITY_DESCRIPTOR *a = Absolute(abs);
  if (!a || !length) return FALSE;
  DWORD need = GetSecurityDescriptorLength(abs);
  if (!self || *length < need) {
    *length = need;
    return qx::Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::vector<BYTE> out(kSelfRelativeHeader, 0);
  out[0] = SECURITY_DESCRIPTOR_REVISION;
  WORD control = WORD(a->Control | SE_SELF_RELATIVE);
  memcpy(&out[2], &control, 2);
  auto place = [&](int field, const void *data, DWORD size) {
    if (!data) return;
    PutLe32(&out[4 + 4 * field], DWORD(out.size()));
    const BYTE *b = static_cast<const BYTE *>(data);
    out.insert(out.end(), b, b + size);
  };
  place(0, a->Owner, a->Owner ? GetLengthSid(a->Owner) : 0);
  place(1, a->Group, a->Group ? GetLengthSid(a->Group) : 0);
  place(2, a->Sacl, a->Sacl ? a->Sacl->AclSize : 0);
  place(3, a->Dacl, a->Dacl ? a->Dacl->AclSize : 0);
  memcpy(self, out.data(), out.size());
  *length = DWORD(out.size());
  return TRUE;
}

BOOL WINAPI InitializeAcl(PACL acl, DWORD length, DWORD revision) {
  if (!acl || length < kAclHeader || length > 0xFFFC || revision < 2 || revision > 4)
    return qx::Fail(ERROR_INVALID_PARAMETER);
  memset(acl, 0, kAclHeader);
  acl->AclRevision = BYTE(revision);
  acl->AclSize = WORD(length & ~3u);
  return TRUE;
}

BOOL WINAPI IsValidAcl(PACL acl) { return AclIsValid(acl) ? TRUE : FALSE; }

BOOL WINAPI GetAclInformation(PACL acl, LPVOID info, DWORD length, ACL_INFORMATION_CLASS cls) {
  if (!AclIsValid(acl) || !info) return qx::Fail(ERROR_INVALID_PARAMETER);
  if (cls == AclSizeInformation && length >= sizeof(ACL_SIZE_INFORMATION)) {
    auto *s = static_cast<ACL_SIZE_INFORMATION *>(info);
    s->AceCount = acl->AceCount;
    s->AclBytesInUse = AclBytesInUse(acl);
    s->AclBytesFree = acl->AclSize - s->AclBytesInUse;
    return TRUE;
  }
  if (cls == AclRevisionInformation && length >= sizeof(DWORD)) {
    *static_cast<DWORD *>(info) = acl->AclRevision;
    return TRUE;
  }
  return qx::Fail(ERROR_INVALID_PARAMETER);
}

BOOL WINAPI GetAce(PACL acl, DWORD index, LPVOID *ace) {
  if (!AclIsValid(acl) || !ace || index >= acl->AceCount) return qx::Fail(ERROR_INVALID_PARAMETER);
  BYTE *b = reinterpret_cast<BYTE *>(acl);
  DWORD at = kAclHeader;
  for (DWORD i = 0; i < index; ++i) {
    WORD size;
    memcpy(&size, b + at + 2, 2);
    at += size;
  }
  *ace = b + at;
  return TRUE;
}

BOOL WINAPI AddAccessAllowedAce(PACL acl, DWORD revision, DWORD mask, PSID sid) {
  if (!AclIsValid(acl) || !IsValidSid(sid)) return qx::Fail(ERROR_INVALID_PARAMETER);
  DWORD in_use = AclBytesInUse(acl), sid_len = GetLengthSid(sid);
  if (in_use + kAceFixed + sid_len > acl->AclSize) return qx::Fail(ERROR_ALLOTTED_SPACE_EXCEEDED);
  std::vector<BYTE> ace;
  AppendAce(ace, mask, sid);
  memcpy(reinterpret_cast<BYTE *>(acl) + in_use, ace.data(), ace.size());
  ++acl->AceCount;
  if (revision > acl->AclRevision && revision <= 4) acl->AclRevision = BYTE(revision);
  return TRUE;
}

BOOL WINAPI DeleteAce(PACL acl, DWORD index) {
  LPVOID ace;
  if (!GetAce(acl, index, &ace)) return FALSE;
  BYTE *b = static_cast<BYTE *>(ace);
  WORD size;
  memcpy(&size, b + 2, 2);
  BYTE *end = reinterpret_cast<BYTE *>(acl) + AclBytesInUse(acl);
  memmove(b, b + size, size_t(end - b - size));
  --acl->AceCount;
  return TRUE;
}

}  // extern "C"
