// Accounts: the user and computer names, account name <-> SID lookups over
// the system's users and groups and a table of well-known SIDs, and the user
// logged on at the console.
#include <windows.h>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>
#include <utmpx.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "qx/accounts.h"

namespace qx {
namespace {

// Well-known accounts that are no user or group of the system.
struct WellKnown {
  const char *sid;
  const char *name;
  const char *domain;
  SID_NAME_USE use;
};
constexpr WellKnown kWellKnown[] = {
    {"S-1-0-0", "NULL SID", "", SidTypeWellKnownGroup},
    {"S-1-1-0", "Everyone", "", SidTypeWellKnownGroup},
    {"S-1-2-0", "LOCAL", "", SidTypeWellKnownGroup},
    {"S-1-3-0", "CREATOR OWNER", "", SidTypeWellKnownGroup},
    {"S-1-3-1", "CREATOR GROUP", "", SidTypeWellKnownGroup},
    {"S-1-5-2", "NETWORK", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-3", "BATCH", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-4", "INTERACTIVE", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-6", "SERVICE", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-7", "ANONYMOUS LOGON", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-11", "Authenticated Users", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-18", "SYSTEM", "NT AUTHORITY", SidTypeWellKnownGroup},
    {"S-1-5-32", "BUILTIN", "BUILTIN", SidTypeDomain},
    {"S-1-5-32-544", "Administrators", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-545", "Users", "BUILTIN", SidTypeAlias},
    {"S-1-5-32-546", "Guests", "BUILTIN", SidTypeAlias},
};

// Explicit domains that pick the user or the group of a name both have.
constexpr char kUnixUserDomain[] = "Unix User";
constexpr char kUnixGroupDomain[] = "Unix Group";

struct Account {
  std::vector<BYTE> sid;
  std::string name;
  std::string domain;
  SID_NAME_USE use = SidTypeUnknown;
};

std::vector<BYTE> SidOf(const char *text) {
  PSID sid = nullptr;
  std::vector<BYTE> bytes;
  if (ConvertStringSidToSidA(text, &sid)) {
    bytes.assign(static_cast<BYTE *>(sid), static_cast<BYTE *>(sid) + GetLengthSid(sid));
    LocalFree(sid);
  }
  return bytes;
}

std::optional<passwd> UserByUid(uid_t uid, std::vector<char> &buffer) {
  passwd pw{}, *result = nullptr;
  buffer.resize(16384);
  if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &result) != 0 || !result) return std::nullopt;
  return pw;
}

std::optional<group> GroupByGid(gid_t gid, std::vector<char> &buffer) {
  group gr{}, *result = nullptr;
  buffer.resize(65536);
  if (getgrgid_r(gid, &gr, buffer.data(), buffer.size(), &result) != 0 || !result) return std::nullopt;
  return gr;
}

// Account names are matched without regard to case, as on Windows: the exact
// name first, then a scan of the user (group) database.
bool FindUser(const std::string &name, uid_t &uid, std::string &spelled) {
  std::vector<char> buffer(16384);
  passwd pw{}, *result = nullptr;
  if (getpwnam_r(name.c_str(), &pw, buffer.data(), buffer.size(), &result) == 0 && result) {
    uid = pw.pw_uid;
    spelled = pw.pw_name;
    return true;
  }
  static std::mutex scan_lock;  // setpwent/getpwent share one cursor
  std::lock_guard guard(scan_lock);
  bool found = false;
  setpwent();
  while (const passwd *p = getpwent()) {
    if (strcasecmp(p->pw_name, name.c_str()) == 0) {
      uid = p->pw_uid;
      spelled = p->pw_name;
      found = true;
      break;
    }
  }
  endpwent();
  return found;
}

bool FindGroup(const std::string &name, gid_t &gid, std::string &spelled) {
  std::vector<char> buffer(65536);
  group gr{}, *result = nullptr;
  if (getgrnam_r(name.c_str(), &gr, buffer.data(), buffer.size(), &result) == 0 && result) {
    gid = gr.gr_gid;
    spelled = gr.gr_name;
    return true;
  }
  static std::mutex scan_lock;
  std::lock_guard guard(scan_lock);
  bool found = false;
  setgrent();
  while (const group *g = getgrent()) {
    if (strcasecmp(g->gr_name, name.c_str()) == 0) {
      gid = g->gr_gid;
      spelled = g->gr_name;
      found = true;
      break;
    }
  }
  endgrent();
  return found;
}

bool IsLocalSystem(LPCSTR system) {
  if (!system || !*system) return true;
  while (*system == '\\') ++system;
  if (std::strcmp(system, ".") == 0 || strcasecmp(system, "localhost") == 0) return true;
  if (strcasecmp(system, ComputerName().c_str()) == 0) return true;
  char host[256] = {};
  return gethostname(host, sizeof host - 1) == 0 && strcasecmp(system, host) == 0;
}

// "name", "DOMAIN\name" with DOMAIN this computer, "BUILTIN", "NT AUTHORITY",
// "Unix User" or "Unix Group".
bool LookupName(const std::string &full, Account &out) {
  std::string domain, name = full;
  const auto slash = full.find('\\');
  if (slash != std::string::npos) {
    domain = full.substr(0, slash);
    name = full.substr(slash + 1);
  }
  if (name.empty()) return false;
  const bool any_domain = slash == std::string::npos;
  const bool local = any_domain || strcasecmp(domain.c_str(), ComputerName().c_str()) == 0;
  for (const WellKnown &w : kWellKnown) {
    if (strcasecmp(name.c_str(), w.name) != 0) continue;
    if (!any_domain && strcasecmp(domain.c_str(), w.domain) != 0) continue;
    out = Account{SidOf(w.sid), w.name, w.domain, w.use};
    return true;
  }
  const bool users = local || strcasecmp(domain.c_str(), kUnixUserDomain) == 0;
  const bool groups = local || strcasecmp(domain.c_str(), kUnixGroupDomain) == 0;
  uid_t uid;
  gid_t gid;
  std::string spelled;
  if (users && FindUser(name, uid, spelled)) {
    out = Account{UserSid(uid), spelled, ComputerName(), SidTypeUser};
    return true;
  }
  if (groups && FindGroup(name, gid, spelled)) {
    out = Account{GroupSid(gid), spelled, ComputerName(), SidTypeGroup};
    return true;
  }
  return false;
}

bool LookupSid(const void *sid, Account &out) {
  const DWORD length = GetLengthSid(const_cast<void *>(sid));
  for (const WellKnown &w : kWellKnown) {
    const std::vector<BYTE> known = SidOf(w.sid);
    if (known.size() == length && std::memcmp(known.data(), sid, length) == 0) {
      out = Account{known, w.name, w.domain, w.use};
      return true;
    }
  }
  std::vector<char> buffer;
  uid_t uid;
  gid_t gid;
  if (SidToUid(sid, uid)) {
    if (auto pw = UserByUid(uid, buffer)) {
      out = Account{UserSid(uid), pw->pw_name, ComputerName(), SidTypeUser};
      return true;
    }
  } else if (SidToGid(sid, gid)) {
    if (auto gr = GroupByGid(gid, buffer)) {
      out = Account{GroupSid(gid), gr->gr_name, ComputerName(), SidTypeGroup};
      return true;
    }
  }
  return false;
}

// Copies text into a buffer of *size characters; on success *size becomes the
// length without the terminator, otherwise the size needed with it.
bool CopyOut(const std::string &text, LPSTR buffer, LPDWORD size) {
  if (!buffer || *size < text.size() + 1) {
    *size = static_cast<DWORD>(text.size() + 1);
    return false;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  *size = static_cast<DWORD>(text.size());
  return true;
}

std::optional<uid_t> SeatUser() {
  std::ifstream seat("/run/systemd/seats/seat0");
  std::string line;
  while (std::getline(seat, line)) {
    if (line.rfind("ACTIVE_UID=", 0) != 0) continue;
    char *end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(line.c_str() + 11, &end, 10);
    if (errno == 0 && end != line.c_str() + 11 && *end == '\0') return static_cast<uid_t>(v);
  }
  return std::nullopt;
}

std::optional<std::string> UtmpConsoleUser() {
  static std::mutex lock;  // the utmpx cursor is shared
  std::lock_guard guard(lock);
  std::optional<std::string> best;
  long long best_time = -1;
  setutxent();
  while (const utmpx *u = getutxent()) {
    if (u->ut_type != USER_PROCESS) continue;
    char line[sizeof u->ut_line + 1] = {};
    std::memcpy(line, u->ut_line, sizeof u->ut_line);
    if (!IsConsoleLine(line)) continue;
    if (u->ut_pid > 0 && kill(u->ut_pid, 0) != 0 && errno == ESRCH) continue;  // stale record
    const long long when = static_cast<long long>(u->ut_tv.tv_sec);
    if (when < best_time) continue;
    char user[sizeof u->ut_user + 1] = {};
    std::memcpy(user, u->ut_user, sizeof u->ut_user);
    best = user;
    best_time = when;
  }
  endutxent();
  return best;
}

}  // namespace

bool IsConsoleLine(const char *line) {
  if (std::strcmp(line, "console") == 0 || std::strncmp(line, "seat", 4) == 0) return true;
  const char *digits = nullptr;
  if (std::strncmp(line, "tty", 3) == 0) digits = line + 3;
  if (line[0] == ':') digits = line + 1;
  if (!digits || !*digits) return false;
  for (const char *p = digits; *p; ++p)
    if (*p < '0' || *p > '9') return *p == '.' && p != digits;  // ":0.0"
  return true;
}

std::string ComputerName() {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || !host[0]) std::strcpy(host, "LOCALHOST");
  std::string name(host);
  name = name.substr(0, name.find('.'));
  if (name.size() > MAX_COMPUTERNAME_LENGTH) name.resize(MAX_COMPUTERNAME_LENGTH);
  for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

bool ConsoleUser(std::string &name, uid_t &uid) {
  std::vector<char> buffer;
  if (const char *pinned = std::getenv("QX_CONSOLE_USER")) {
    // Set but empty: nobody is logged on. A name, or else a uid number.
    if (!*pinned) return false;
    std::string spelled;
    if (FindUser(pinned, uid, spelled)) {
      name = spelled;
      return true;
    }
    char *end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(pinned, &end, 10);
    if (errno != 0 || *end != '\0' || !std::isdigit(static_cast<unsigned char>(*pinned))) return false;
    auto pw = UserByUid(static_cast<uid_t>(v), buffer);
    if (!pw) return false;
    uid = pw->pw_uid;
    name = pw->pw_name;
    return true;
  }
  if (auto seat_uid = SeatUser()) {
    if (auto pw = UserByUid(*seat_uid, buffer)) {
      uid = pw->pw_uid;
      name = pw->pw_name;
      return true;
    }
  }
  if (auto user = UtmpConsoleUser()) {
    std::string spelled;
    if (FindUser(*user, uid, spelled)) {
      name = spelled;
      return true;
    }
  }
  return false;
}

}  // namespace qx

extern "C" {

BOOL WINAPI GetUserNameA(LPSTR buffer, LPDWORD size) {
  if (!size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<char> storage;
  std::string name;
  if (auto pw = qx::UserByUid(geteuid(), storage)) {
    name = pw->pw_name;
  } else {
    // A user without a password-file entry (common in containers) is named
    // by number.
    name = std::to_string(geteuid());
  }
  // Windows counts the terminator in the size it reports on success.
  if (!buffer || *size < name.size() + 1) {
    *size = static_cast<DWORD>(name.size() + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<DWORD>(name.size() + 1);
  return TRUE;
}

BOOL WINAPI GetComputerNameA(LPSTR buffer, LPDWORD size) {
  if (!size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!qx::CopyOut(qx::ComputerName(), buffer, size)) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI LookupAccountNameA(LPCSTR system, LPCSTR account, PSID sid, LPDWORD sid_size, LPSTR domain,
                               LPDWORD domain_size, PSID_NAME_USE use) {
  if (!account || !sid_size || !domain_size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  qx::Account found;
  if (!qx::IsLocalSystem(system) || !qx::LookupName(account, found)) {
    SetLastError(ERROR_NONE_MAPPED);
    return FALSE;
  }
  const bool sid_fits = sid && *sid_size >= found.sid.size();
  const bool domain_fits = domain && *domain_size >= found.domain.size() + 1;
  if (!sid_fits || !domain_fits) {
    *sid_size = static_cast<DWORD>(found.sid.size());
    *domain_size = static_cast<DWORD>(found.domain.size() + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(sid, found.sid.data(), found.sid.size());
  *sid_size = static_cast<DWORD>(found.sid.size());
  qx::CopyOut(found.domain, domain, domain_size);
  if (use) *use = found.use;
  return TRUE;
}

BOOL WINAPI LookupAccountSidA(LPCSTR system, PSID sid, LPSTR name, LPDWORD name_size, LPSTR domain, LPDWORD domain_size,
                              PSID_NAME_USE use) {
  if (!name_size || !domain_size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!IsValidSid(sid)) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  qx::Account found;
  if (!qx::IsLocalSystem(system) || !qx::LookupSid(sid, found)) {
    SetLastError(ERROR_NONE_MAPPED);
    return FALSE;
  }
  const bool name_fits = name && *name_size >= found.name.size() + 1;
  const bool domain_fits = domain && *domain_size >= found.domain.size() + 1;
  if (!name_fits || !domain_fits) {
    *name_size = static_cast<DWORD>(found.name.size() + 1);
    *domain_size = static_cast<DWORD>(found.domain.size() + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  qx::CopyOut(found.name, name, name_size);
  qx::CopyOut(found.domain, domain, domain_size);
  if (use) *use = found.use;
  return TRUE;
}

}  // extern "C"
