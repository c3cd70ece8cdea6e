// Logons of the Local Security Authority over PAM, and the tokens they give.
#include <dlfcn.h>
#include <ntsecapi.h>
#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <wtsapi32.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qx/accounts.h"
#include "qx/errors.h"
#include "qx/handles.h"

namespace {

constexpr ULONG kMsv10Package = 0;

// A registration: the handle LsaRegisterLogonProcess gives.
class LogonProcess : public qx::KernelObject {
 public:
  explicit LogonProcess(std::string name) : qx::KernelObject(qx::ObjectKind::Other), name_(std::move(name)) {}
  const std::string &name() const { return name_; }

 private:
  std::string name_;
};

// What a token holds: the account's user and primary group.
class Token : public qx::KernelObject {
 public:
  // The account's groups are taken at logon, the primary group first.
  Token(uid_t uid, gid_t gid, const char *name)
      : qx::KernelObject(qx::ObjectKind::Token), user(qx::UserSid(uid)), group(qx::GroupSid(gid)) {
    groups.push_back(group);
    int count = 64;
    std::vector<gid_t> ids(64);
    if (getgrouplist(name, gid, ids.data(), &count) < 0 && count > 64) {
      ids.resize(size_t(count));
      if (getgrouplist(name, gid, ids.data(), &count) < 0) count = 0;
    }
    for (int i = 0; i < count && i < int(ids.size()); ++i)
      if (ids[size_t(i)] != gid) groups.push_back(qx::GroupSid(ids[size_t(i)]));
  }
  std::vector<unsigned char> user, group;
  std::vector<std::vector<unsigned char>> groups;
};

// TOKEN_GROUPS: the count, the SID_AND_ATTRIBUTES array, then the SIDs.
BOOL TokenGroupsInformation(const Token &token, LPVOID info, DWORD length, PDWORD needed) {
  size_t head = offsetof(TOKEN_GROUPS, Groups) + token.groups.size() * sizeof(SID_AND_ATTRIBUTES);
  size_t total = head;
  for (const auto &sid : token.groups) total += sid.size();
  *needed = DWORD(total);
  if (!info || length < total) return qx::Fail(ERROR_INSUFFICIENT_BUFFER);
  auto *out = static_cast<TOKEN_GROUPS *>(info);
  BYTE *at = static_cast<BYTE *>(info) + head;
  out->GroupCount = DWORD(token.groups.size());
  for (size_t i = 0; i < token.groups.size(); ++i) {
    memcpy(at, token.groups[i].data(), token.groups[i].size());
    out->Groups[i].Sid = at;
    out->Groups[i].Attributes = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
    at += token.groups[i].size();
  }
  return TRUE;
}

std::shared_ptr<LogonProcess> Registration(HANDLE handle) {
  return std::dynamic_pointer_cast<LogonProcess>(qx::LookupHandle(handle, qx::ObjectKind::Other));
}

// UTF-16 from a caller's structure to UTF-8; false when it does not lie
// within the authentication buffer or is not well formed.
bool FromUnicode(const UNICODE_STRING &s, const BYTE *begin, const BYTE *end, std::string &out) {
  out.clear();
  if (s.Length == 0) return true;
  const BYTE *p = reinterpret_cast<const BYTE *>(s.Buffer);
  if (!p || s.Length % 2 || p < begin || p > end || size_t(end - p) < s.Length) return false;
  for (size_t i = 0; i < s.Length / 2; ++i) {
    uint32_t c = uint32_t(p[2 * i]) | uint32_t(p[2 * i + 1]) << 8;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.Length / 2) {
      uint32_t low = uint32_t(p[2 * i + 2]) | uint32_t(p[2 * i + 3]) << 8;
      if (low < 0xDC00 || low >= 0xE000) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      return false;
    }
    if (c == 0) return false;
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return true;
}

bool FromUnicode(const STRING &s, const BYTE *begin, const BYTE *end, std::string &out) {
  UNICODE_STRING u = {s.Length, s.MaximumLength, reinterpret_cast<WCHAR_T *>(s.Buffer)};
  return FromUnicode(u, begin, end, out);
}

struct Credentials {
  std::string domain, user, password;
};

int Conversation(int count, const pam_message **messages, pam_response **responses, void *data) {
  auto *password = static_cast<const std::string *>(data);
  auto *out = static_cast<pam_response *>(calloc(size_t(count), sizeof(pam_response)));
  if (!out) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF || messages[i]->msg_style == PAM_PROMPT_ECHO_ON) {
      out[i].resp = strdup(password->c_str());
      if (!out[i].resp) {
        for (int j = 0; j < i; ++j) free(out[j].resp);
        free(out);
        return PAM_BUF_ERR;
      }
    }
  }
  *responses = out;
  return PAM_SUCCESS;
}

void NoDelay(int, unsigned, void *) {}

// PAM, loaded at the first logon: the processes that never log anyone on
// (every daemon the super-server starts) do not map it and its libraries.
struct PamCalls {
  decltype(&pam_start) start = nullptr;
  decltype(&pam_set_item) set_item = nullptr;
  decltype(&pam_authenticate) authenticate = nullptr;
  decltype(&pam_acct_mgmt) acct_mgmt = nullptr;
  decltype(&pam_end) end = nullptr;
};

const PamCalls *Pam() {
  static const PamCalls calls = [] {
    PamCalls c;
    void *library = dlopen("libpam.so.0", RTLD_NOW | RTLD_GLOBAL);
    if (!library) {
      fprintf(stderr, "qx: logons need libpam.so.0, which could not be loaded (%s); install libpam0g\n", dlerror());
      return c;
    }
    c.start = reinterpret_cast<decltype(&pam_start)>(dlsym(library, "pam_start"));
    c.set_item = reinterpret_cast<decltype(&pam_set_item)>(dlsym(library, "pam_set_item"));
    c.authenticate = reinterpret_cast<decltype(&pam_authenticate)>(dlsym(library, "pam_authenticate"));
    c.acct_mgmt = reinterpret_cast<decltype(&pam_acct_mgmt)>(dlsym(library, "pam_acct_mgmt"));
    c.end = reinterpret_cast<decltype(&pam_end)>(dlsym(library, "pam_end"));
    return c;
  }();
  return calls.start && calls.set_item && calls.authenticate && calls.acct_mgmt && calls.end ? &calls : nullptr;
}

const char *PamService() {
  const char *s = getenv("QX_PAM_SERVICE");
  return s && *s ? s : "qxlogon";
}

// The status and sub-status of a logon of this machine's account.
void Authenticate(const Credentials &c, NTSTATUS &status, NTSTATUS &sub) {
  status = STATUS_LOGON_FAILURE;
  sub = STATUS_SUCCESS;
  std::string computer = qx::ComputerName();
  if (!c.domain.empty() && c.domain != "." && strcasecmp(c.domain.c_str(), computer.c_str()) != 0) {
    status = STATUS_NO_SUCH_DOMAIN;
    return;
  }
  if (c.user.empty() || !getpwnam(c.user.c_str())) {
    sub = STATUS_NO_SUCH_USER;
    return;
  }
  const PamCalls *pam = Pam();
  pam_conv conv = {Conversation, const_cast<std::string *>(&c.password)};
  pam_handle_t *pamh = nullptr;
  if (!pam || pam->start(PamService(), c.user.c_str(), &conv, &pamh) != PAM_SUCCESS) {
    status = STATUS_ACCESS_DENIED;
    return;
  }
  // A failed check returns at once, as LsaLogonUser does: the modules' delay
  // would stall the caller (a server's one request thread) for seconds.
  pam->set_item(pamh, PAM_FAIL_DELAY, reinterpret_cast<const void *>(&NoDelay));
  int rc = pam->authenticate(pamh, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  if (rc == PAM_SUCCESS) {
    rc = pam->acct_mgmt(pamh, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
    switch (rc) {
      case PAM_SUCCESS: status = STATUS_SUCCESS; break;
      case PAM_ACCT_EXPIRED:
        status = STATUS_ACCOUNT_RESTRICTION;
        sub = STATUS_ACCOUNT_EXPIRED;
        break;
      case PAM_NEW_AUTHTOK_REQD:
        status = STATUS_ACCOUNT_RESTRICTION;
        sub = STATUS_PASSWORD_MUST_CHANGE;
        break;
      default:  // PAM_PERM_DENIED and the like: the account may not log on now
        status = STATUS_ACCOUNT_RESTRICTION;
        sub = STATUS_ACCOUNT_DISABLED;
        break;
    }
  } else if (rc == PAM_USER_UNKNOWN) {
    sub = STATUS_NO_SUCH_USER;
  } else if (rc == PAM_MAXTRIES) {
    status = STATUS_ACCOUNT_LOCKED_OUT;
  } else {
    sub = STATUS_WRONG_PASSWORD;
  }
  pam->end(pamh, rc);
}

bool ReadCredentials(SECURITY_LOGON_TYPE type, const void *info, ULONG length, Credentials &c) {
  const BYTE *begin = static_cast<const BYTE *>(info), *end = begin + length;
  if (!info || length < sizeof(MSV1_0_LOGON_SUBMIT_TYPE)) return false;
  MSV1_0_LOGON_SUBMIT_TYPE kind;
  memcpy(&kind, info, sizeof kind);
  if (type == Interactive && kind == MsV1_0InteractiveLogon && length >= sizeof(MSV1_0_INTERACTIVE_LOGON)) {
    const auto *m = static_cast<const MSV1_0_INTERACTIVE_LOGON *>(info);
    return FromUnicode(m->LogonDomainName, begin, end, c.domain) && FromUnicode(m->UserName, begin, end, c.user) &&
           FromUnicode(m->Password, begin, end, c.password);
  }
  if (type == Network && kind == MsV1_0Lm20Logon && length >= sizeof(MSV1_0_LM20_LOGON)) {
    const auto *m = static_cast<const MSV1_0_LM20_LOGON *>(info);
    // Only a password sent in clear can be checked here; challenge
    // responses need the password's hash, which this machine does not keep.
    if (!(m->ParameterControl & MSV1_0_CLEARTEXT_PASSWORD_ALLOWED)) return false;
    return FromUnicode(m->LogonDomainName, begin, end, c.domain) && FromUnicode(m->UserName, begin, end, c.user) &&
           FromUnicode(m->CaseSensitiveChallengeResponse, begin, end, c.password);
  }
  return false;
}

std::atomic<uint64_t> g_next_luid{1000};

}  // namespace

extern "C" {

BOOL WINAPI AllocateLocallyUniqueId(PLUID luid) {
  if (!luid) return qx::Fail(ERROR_INVALID_PARAMETER);
  uint64_t v = g_next_luid++;
  luid->LowPart = DWORD(v);
  luid->HighPart = LONG(v >> 32);
  return TRUE;
}

NTSTATUS WINAPI LsaRegisterLogonProcess(PLSA_STRING name, PHANDLE handle, PLSA_OPERATIONAL_MODE mode) {
  if (!name || !handle || !mode || (name->Length && !name->Buffer)) return STATUS_INVALID_PARAMETER;
  // Checking other users' passwords is root's right.
  if (geteuid() != 0) return STATUS_PRIVILEGE_NOT_HELD;
  HANDLE h = qx::InsertHandle(std::make_shared<LogonProcess>(std::string(name->Buffer, name->Length)));
  if (!h) return STATUS_NO_MEMORY;
  *handle = h;
  *mode = 0;
  return STATUS_SUCCESS;
}

NTSTATUS WINAPI LsaLookupAuthenticationPackage(HANDLE lsa, PLSA_STRING name, PULONG package) {
  if (!Registration(lsa)) return STATUS_INVALID_HANDLE;
  if (!name || !package || !name->Buffer) return STATUS_INVALID_PARAMETER;
  if (std::string(name->Buffer, name->Length) != MSV1_0_PACKAGE_NAME) return STATUS_NO_SUCH_PACKAGE;
  *package = kMsv10Package;
  return STATUS_SUCCESS;
}

NTSTATUS WINAPI LsaLogonUser(HANDLE lsa, PLSA_STRING origin, SECURITY_LOGON_TYPE type, ULONG package, PVOID info,
                             ULONG length, PTOKEN_GROUPS local_groups, PTOKEN_SOURCE source, PVOID *profile,
                             PULONG profile_length, PLUID logon_id, PHANDLE token, PQUOTA_LIMITS quotas,
                             PNTSTATUS sub_status) {
  if (!Registration(lsa)) return STATUS_INVALID_HANDLE;
  if (!token || !sub_status || !profile || !profile_length || !logon_id || !quotas) return STATUS_INVALID_PARAMETER;
  *token = nullptr;
  *profile = nullptr;
  *profile_length = 0;
  *sub_status = STATUS_SUCCESS;
  if (package != kMsv10Package) return STATUS_NO_SUCH_PACKAGE;
  Credentials c;
  if (!ReadCredentials(type, info, length, c)) return STATUS_INVALID_PARAMETER;
  NTSTATUS status, sub;
  Authenticate(c, status, sub);
  *sub_status = sub;
  if (status != STATUS_SUCCESS) return status;

  passwd *pw = getpwnam(c.user.c_str());
  if (!pw) return STATUS_NO_SUCH_USER;
  auto *p = static_cast<MSV1_0_LM20_LOGON_PROFILE *>(calloc(1, sizeof(MSV1_0_LM20_LOGON_PROFILE)));
  if (!p) return STATUS_NO_MEMORY;
  p->MessageType = type == Interactive ? MsV1_0InteractiveProfile : MsV1_0Lm20LogonProfile;
  p->KickOffTime.QuadPart = p->LogoffTime.QuadPart = 0x7FFFFFFFFFFFFFFFll;
  HANDLE h = qx::InsertHandle(std::make_shared<Token>(pw->pw_uid, pw->pw_gid, pw->pw_name));
  if (!h) {
    free(p);
    return STATUS_NO_MEMORY;
  }
  *token = h;
  *profile = p;
  *profile_length = sizeof *p;
  AllocateLocallyUniqueId(logon_id);
  memset(quotas, 0, sizeof *quotas);
  return STATUS_SUCCESS;
}

NTSTATUS WINAPI LsaFreeReturnBuffer(PVOID buffer) {
  free(buffer);
  return STATUS_SUCCESS;
}

NTSTATUS WINAPI LsaDeregisterLogonProcess(HANDLE lsa) {
  if (!Registration(lsa)) return STATUS_INVALID_HANDLE;
  qx::RemoveHandle(lsa);
  return STATUS_SUCCESS;
}

ULONG WINAPI LsaNtStatusToWinError(NTSTATUS status) {
  switch (status) {
    case STATUS_SUCCESS: return ERROR_SUCCESS;
    case STATUS_LOGON_FAILURE:
    case STATUS_WRONG_PASSWORD: return ERROR_LOGON_FAILURE;
    case STATUS_NO_SUCH_USER: return ERROR_NO_SUCH_USER;
    case STATUS_ACCOUNT_RESTRICTION:
    case STATUS_ACCOUNT_EXPIRED:
    case STATUS_ACCOUNT_DISABLED:
    case STATUS_PASSWORD_MUST_CHANGE: return ERROR_ACCOUNT_RESTRICTION;
    case STATUS_PRIVILEGE_NOT_HELD:
    case STATUS_ACCESS_DENIED: return ERROR_ACCESS_DENIED;
    case STATUS_INVALID_HANDLE: return ERROR_INVALID_HANDLE;
    case STATUS_NO_MEMORY: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_INVALID_PARAMETER;
  }
}

BOOL WINAPI GetTokenInformation(HANDLE handle, TOKEN_INFORMATION_CLASS cls, LPVOID info, DWORD length, PDWORD needed) {
  auto token = std::dynamic_pointer_cast<Token>(qx::LookupHandle(handle, qx::ObjectKind::Token));
  if (!token) return qx::Fail(ERROR_INVALID_HANDLE);
  if (!needed) return qx::Fail(ERROR_INVALID_PARAMETER);
  if (cls == TokenGroups) return TokenGroupsInformation(*token, info, length, needed);
  const std::vector<unsigned char> *sid = nullptr;
  DWORD head = 0;
  if (cls == TokenUser) {
    sid = &token->user;
    head = sizeof(TOKEN_USER);
  } else if (cls == TokenPrimaryGroup) {
    sid = &token->group;
    head = sizeof(TOKEN_PRIMARY_GROUP);
  } else {
    return qx::Fail(ERROR_INVALID_PARAMETER);
  }
  *needed = head + DWORD(sid->size());
  if (!info || length < *needed) return qx::Fail(ERROR_INSUFFICIENT_BUFFER);
  BYTE *out = static_cast<BYTE *>(info);
  memcpy(out + head, sid->data(), sid->size());
  if (cls == TokenUser) {
    auto *u = static_cast<TOKEN_USER *>(info);
    u->User.Sid = out + head;
    u->User.Attributes = 0;
  } else {
    static_cast<TOKEN_PRIMARY_GROUP *>(info)->PrimaryGroup = out + head;
  }
  return TRUE;
}

// The console session's user, without a password: a service's way to act
// for whoever sits at the console.
BOOL WINAPI WTSQueryUserToken(ULONG session, PHANDLE token) {
  if (!token) return qx::Fail(ERROR_INVALID_PARAMETER);
  *token = nullptr;
  std::string name;
  uid_t uid = 0;
  if (session != 1 || !qx::ConsoleUser(name, uid)) return qx::Fail(ERROR_NO_TOKEN);
  if (geteuid() != 0 && geteuid() != uid) return qx::Fail(ERROR_PRIVILEGE_NOT_HELD);
  std::vector<char> buffer(16384);
  passwd pw{}, *found = nullptr;
  if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) != 0 || !found) return qx::Fail(ERROR_NO_TOKEN);
  HANDLE h = qx::InsertHandle(std::make_shared<Token>(pw.pw_uid, pw.pw_gid, pw.pw_name));
  if (!h) return qx::Fail(ERROR_NOT_ENOUGH_MEMORY);
  *token = h;
  return TRUE;
}

}  // extern "C"
