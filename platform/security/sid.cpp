// Security identifiers: building, checking, copying and comparing SIDs, and
// their text form "S-1-<authority>-<sub>-...". SIDs made here are tracked so
// that FreeSid of anything else fails instead of freeing foreign memory.
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "qx/accounts.h"

namespace qx {
namespace {

constexpr DWORD kHeader = 8;

struct Allocated {
  std::mutex lock;
  std::set<void *> sids;
};
Allocated &TheAllocated() {
  static auto *allocated = new Allocated;
  return *allocated;
}

const BYTE *Bytes(const void *sid) { return static_cast<const BYTE *>(sid); }

bool Valid(const void *sid) { return sid && Bytes(sid)[0] == SID_REVISION && Bytes(sid)[1] <= SID_MAX_SUB_AUTHORITIES; }

DWORD Length(const void *sid) { return kHeader + 4u * Bytes(sid)[1]; }

ULONGLONG Authority(const void *sid) {
  ULONGLONG v = 0;
  for (int i = 2; i < 8; ++i) v = (v << 8) | Bytes(sid)[i];
  return v;
}

DWORD SubAuthority(const void *sid, int i) {
  DWORD v;
  std::memcpy(&v, Bytes(sid) + kHeader + 4 * i, 4);
  return v;
}

std::vector<BYTE> Make(ULONGLONG authority, const std::vector<DWORD> &subs) {
  std::vector<BYTE> sid(kHeader + 4 * subs.size());
  sid[0] = SID_REVISION;
  sid[1] = static_cast<BYTE>(subs.size());
  for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<BYTE>(authority >> (8 * (5 - i)));
  for (size_t i = 0; i < subs.size(); ++i) std::memcpy(sid.data() + kHeader + 4 * i, &subs[i], 4);
  return sid;
}

// Short names of well-known SIDs accepted in place of the "S-" form.
struct Alias {
  const char *name;
  const char *sid;
};
constexpr Alias kAliases[] = {
    {"WD", "S-1-1-0"},  {"CO", "S-1-3-0"},      {"CG", "S-1-3-1"},      {"NU", "S-1-5-2"},
    {"IU", "S-1-5-4"},  {"SU", "S-1-5-6"},      {"AN", "S-1-5-7"},      {"AU", "S-1-5-11"},
    {"SY", "S-1-5-18"}, {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"}, {"BG", "S-1-5-32-546"},
};

bool ParseNumber(const std::string &text, ULONGLONG limit, ULONGLONG &out) {
  if (text.empty()) return false;
  int base = 10;
  size_t start = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    start = 2;
  }
  for (size_t i = start; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (base == 10 ? !std::isdigit(c) : !std::isxdigit(c)) return false;
  }
  errno = 0;
  char *end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str() + start, &end, base);
  if (errno != 0 || *end != '\0' || v > limit) return false;
  out = v;
  return true;
}

bool ParseSid(const char *text, std::vector<BYTE> &out) {
  for (const Alias &a : kAliases)
    if (std::strcmp(text, a.name) == 0) return ParseSid(a.sid, out);
  if ((text[0] != 'S' && text[0] != 's') || text[1] != '-') return false;
  std::vector<std::string> parts;
  std::string current;
  for (const char *p = text + 2;; ++p) {
    if (*p == '-' || *p == '\0') {
      parts.push_back(current);
      current.clear();
      if (*p == '\0') break;
    } else {
      current.push_back(*p);
    }
  }
  if (parts.size() < 2 || parts.size() - 2 > SID_MAX_SUB_AUTHORITIES) return false;
  ULONGLONG revision = 0, authority = 0;
  if (!ParseNumber(parts[0], 0xFF, revision) || revision != SID_REVISION) return false;
  if (!ParseNumber(parts[1], 0xFFFFFFFFFFFFull, authority)) return false;
  std::vector<DWORD> subs;
  for (size_t i = 2; i < parts.size(); ++i) {
    ULONGLONG v = 0;
    if (!ParseNumber(parts[i], 0xFFFFFFFFull, v)) return false;
    subs.push_back(static_cast<DWORD>(v));
  }
  out = Make(authority, subs);
  return true;
}

// A fixed local block holding bytes; LocalFree of the returned pointer gives
// it back.
void *LocalCopy(const void *data, size_t size) {
  HLOCAL h = LocalAlloc(LMEM_FIXED, size);
  if (!h) return nullptr;
  void *p = LocalLock(h);
  if (p) std::memcpy(p, data, size);
  return p;
}

}  // namespace

std::vector<unsigned char> UserSid(uid_t uid) { return Make(22, {1, static_cast<DWORD>(uid)}); }
std::vector<unsigned char> GroupSid(gid_t gid) { return Make(22, {2, static_cast<DWORD>(gid)}); }

bool SidToUid(const void *sid, uid_t &uid) {
  if (!Valid(sid) || Bytes(sid)[1] != 2 || Authority(sid) != 22 || SubAuthority(sid, 0) != 1) return false;
  uid = static_cast<uid_t>(SubAuthority(sid, 1));
  return true;
}

bool SidToGid(const void *sid, gid_t &gid) {
  if (!Valid(sid) || Bytes(sid)[1] != 2 || Authority(sid) != 22 || SubAuthority(sid, 0) != 2) return false;
  gid = static_cast<gid_t>(SubAuthority(sid, 1));
  return true;
}

std::string SidToString(const void *sid) {
  if (!Valid(sid)) return {};
  char part[32];
  const ULONGLONG authority = Authority(sid);
  if (authority <= 0xFFFFFFFFull)
    std::snprintf(part, sizeof part, "S-1-%" PRIu64, static_cast<uint64_t>(authority));
  else
    std::snprintf(part, sizeof part, "S-1-0x%012" PRIX64, static_cast<uint64_t>(authority));
  std::string text(part);
  for (int i = 0; i < Bytes(sid)[1]; ++i) {
    std::snprintf(part, sizeof part, "-%" PRIu32, SubAuthority(sid, i));
    text += part;
  }
  return text;
}

}  // namespace qx

extern "C" {

DWORD WINAPI GetSidLengthRequired(UCHAR count) { return qx::kHeader + 4u * count; }

BOOL WINAPI InitializeSid(PSID sid, PSID_IDENTIFIER_AUTHORITY authority, BYTE count) {
  if (!sid || !authority || count > SID_MAX_SUB_AUTHORITIES) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  BYTE *b = static_cast<BYTE *>(sid);
  b[0] = SID_REVISION;
  b[1] = count;
  std::memcpy(b + 2, authority->Value, 6);
  std::memset(b + qx::kHeader, 0, 4u * count);
  return TRUE;
}

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0, DWORD s1, DWORD s2,
                                     DWORD s3, DWORD s4, DWORD s5, DWORD s6, DWORD s7, PSID *out) {
  if (out) *out = nullptr;
  if (!authority || !out || count > 8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD subs[8] = {s0, s1, s2, s3, s4, s5, s6, s7};
  BYTE *sid = static_cast<BYTE *>(std::calloc(1, qx::kHeader + 4u * count));
  if (!sid) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  sid[0] = SID_REVISION;
  sid[1] = count;
  std::memcpy(sid + 2, authority->Value, 6);
  std::memcpy(sid + qx::kHeader, subs, 4u * count);
  qx::Allocated &a = qx::TheAllocated();
  std::lock_guard guard(a.lock);
  a.sids.insert(sid);
  *out = sid;
  return TRUE;
}

PVOID WINAPI FreeSid(PSID sid) {
  if (!sid) return nullptr;
  qx::Allocated &a = qx::TheAllocated();
  std::lock_guard guard(a.lock);
  auto it = a.sids.find(sid);
  if (it == a.sids.end()) return sid;  // not made by AllocateAndInitializeSid
  a.sids.erase(it);
  std::free(sid);
  return nullptr;
}

BOOL WINAPI IsValidSid(PSID sid) { return qx::Valid(sid) ? TRUE : FALSE; }

DWORD WINAPI GetLengthSid(PSID sid) {
  if (!qx::Valid(sid)) {
    SetLastError(ERROR_INVALID_SID);
    return 0;
  }
  return qx::Length(sid);
}

BOOL WINAPI EqualSid(PSID a, PSID b) {
  if (!qx::Valid(a) || !qx::Valid(b)) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  SetLastError(ERROR_SUCCESS);
  return qx::Length(a) == qx::Length(b) && std::memcmp(a, b, qx::Length(a)) == 0;
}

BOOL WINAPI CopySid(DWORD length, PSID destination, PSID source) {
  if (!qx::Valid(source)) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  if (!destination || length < qx::Length(source)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memmove(destination, source, qx::Length(source));
  return TRUE;
}

PSID_IDENTIFIER_AUTHORITY WINAPI GetSidIdentifierAuthority(PSID sid) {
  if (!qx::Valid(sid)) {
    SetLastError(ERROR_INVALID_SID);
    return nullptr;
  }
  return reinterpret_cast<PSID_IDENTIFIER_AUTHORITY>(static_cast<BYTE *>(sid) + 2);
}

UCHAR *WINAPI GetSidSubAuthorityCount(PSID sid) {
  if (!qx::Valid(sid)) {
    SetLastError(ERROR_INVALID_SID);
    return nullptr;
  }
  return static_cast<UCHAR *>(sid) + 1;
}

PDWORD WINAPI GetSidSubAuthority(PSID sid, DWORD index) {
  if (!qx::Valid(sid) || index >= qx::Bytes(sid)[1]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return reinterpret_cast<PDWORD>(static_cast<BYTE *>(sid) + qx::kHeader + 4 * index);
}

BOOL WINAPI ConvertSidToStringSidA(PSID sid, LPSTR *text) {
  if (!text) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *text = nullptr;
  if (!qx::Valid(sid)) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  const std::string s = qx::SidToString(sid);
  *text = static_cast<LPSTR>(qx::LocalCopy(s.c_str(), s.size() + 1));
  if (!*text) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI ConvertStringSidToSidA(LPCSTR text, PSID *sid) {
  if (!text || !sid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *sid = nullptr;
  std::vector<BYTE> bytes;
  if (!qx::ParseSid(text, bytes)) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  *sid = qx::LocalCopy(bytes.data(), bytes.size());
  if (!*sid) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
