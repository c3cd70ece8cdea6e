// The registry: keys and values kept in SQLite hives shared by the processes
// of the machine (HKEY_LOCAL_MACHINE) and of a user (HKEY_CURRENT_USER).
//
// Every write is one IMMEDIATE transaction in a WAL database with a busy
// timeout, so writers in several processes queue instead of corrupting the
// file, and a process killed mid-write loses at most that write. Keys are
// rows with never-reused ids: an open HKEY whose key was deleted (even if a
// key of the same name was made again) fails with ERROR_KEY_DELETED.
#include <windows.h>

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utmpx.h>
#include <vector>

#include "qx/accounts.h"
#include "qx/env.h"
#include "qx/errors.h"
#include "qx/handles.h"

// The accounts part finds the console user; a build without that part (see
// QX_PLATFORM_PARTS) falls back to the login records below.
namespace qx {
bool ConsoleUser(std::string &name, uid_t &uid) __attribute__((weak));
}

namespace {

constexpr std::int64_t kRootId = 1;
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
constexpr DWORD kMaxValueSize = 1u << 20;  // larger data is refused, never cut
constexpr int kBusyTimeoutMs = 15000;

// ---------------------------------------------------------------------------
// SQLite helpers

class Statement {
 public:
  Statement(sqlite3 *db, const char *sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement &) = delete;
  Statement &operator=(const Statement &) = delete;

  bool ok() const { return stmt_ != nullptr; }
  Statement &Bind(int i, std::int64_t v) {
    if (stmt_) sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Statement &Bind(int i, const std::string &v) {
    if (stmt_) sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement &BindBlob(int i, const void *data, size_t size) {
    if (stmt_) sqlite3_bind_blob(stmt_, i, size ? data : "", static_cast<int>(size), SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  std::int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
  std::string Text(int col) const {
    const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, col));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
  }
  std::vector<BYTE> Blob(int col) const {
    const auto *p = static_cast<const BYTE *>(sqlite3_column_blob(stmt_, col));
    const int n = sqlite3_column_bytes(stmt_, col);
    return p ? std::vector<BYTE>(p, p + n) : std::vector<BYTE>();
  }

 private:
  sqlite3_stmt *stmt_ = nullptr;
};

LONG ErrorFromSqlite(int rc, bool writing) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW: return ERROR_SUCCESS;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return ERROR_ACCESS_DENIED;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return ERROR_REGISTRY_CORRUPT;
    case SQLITE_FULL: return ERROR_DISK_FULL;
    case SQLITE_NOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
  }
}

std::string Upper(const std::string &s) {
  std::string u = s;
  for (char &c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return u;
}

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

FILETIME FileTimeFromUnix(std::int64_t seconds) {
  const std::uint64_t t = (static_cast<std::uint64_t>(seconds) + 11644473600ull) * 10000000ull;
  return FILETIME{static_cast<DWORD>(t & 0xFFFFFFFFu), static_cast<DWORD>(t >> 32)};
}

// ---------------------------------------------------------------------------
// Hives

struct Hive {
  sqlite3 *db = nullptr;
  bool read_only = false;
  std::mutex lock;  // one statement sequence at a time on this connection
  ~Hive() { sqlite3_close_v2(db); }
};
using HiveRef = std::shared_ptr<Hive>;

bool MakeDirs(const std::string &dir, mode_t mode) {
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    if (mkdir(dir.substr(0, pos).c_str(), mode) != 0 && errno != EEXIST) return false;
  }
  return true;
}

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
    " name TEXT NOT NULL, uname TEXT NOT NULL, mtime INTEGER NOT NULL DEFAULT 0);"
    "CREATE UNIQUE INDEX IF NOT EXISTS keys_by_parent ON keys(parent, uname);"
    "CREATE TABLE IF NOT EXISTS vals("
    " key INTEGER NOT NULL, name TEXT NOT NULL, uname TEXT NOT NULL,"
    " type INTEGER NOT NULL, data BLOB NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS vals_by_key ON vals(key, uname);"
    "INSERT OR IGNORE INTO keys(id, parent, name, uname) VALUES(1, 0, '', '');";

// Opens (creating when allowed) a hive file; read-only when the file or its
// directory is not writable by this process.
LONG OpenHive(const std::string &path, mode_t dir_mode, HiveRef &out) {
  const std::string dir = path.substr(0, path.rfind('/'));
  MakeDirs(dir, dir_mode);
  auto hive = std::make_shared<Hive>();
  int rc = sqlite3_open_v2(path.c_str(), &hive->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(hive->db);
    hive->db = nullptr;
    rc = sqlite3_open_v2(path.c_str(), &hive->db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      qx::Trace("registry: cannot open %s: %s", path.c_str(), sqlite3_errstr(rc));
      return ERROR_ACCESS_DENIED;
    }
    hive->read_only = true;
  }
  // SQLite opens a file it may not write read-only without saying so.
  if (sqlite3_db_readonly(hive->db, "main") == 1) hive->read_only = true;
  sqlite3_busy_timeout(hive->db, kBusyTimeoutMs);
  if (!hive->read_only) {
    // The log and index files stay after the last writer closes, so users
    // who may only read the hive (the machine's, for everyone but root)
    // still find them: a read-only reader cannot make them.
    int persist = 1;
    sqlite3_file_control(hive->db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    char *err = nullptr;
    // WAL lets readers go on while one writer commits; FULL sync makes each
    // committed write survive a crash of the machine as well as the process.
    rc = sqlite3_exec(hive->db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr, nullptr, &err);
    if (rc == SQLITE_OK) {
      rc = sqlite3_exec(hive->db, "BEGIN IMMEDIATE", nullptr, nullptr, &err);
      if (rc == SQLITE_OK) {
        rc = sqlite3_exec(hive->db, kSchema, nullptr, nullptr, &err);
        sqlite3_exec(hive->db, rc == SQLITE_OK ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
      }
    }
    if (rc != SQLITE_OK) {
      qx::Trace("registry: cannot prepare %s: %s", path.c_str(), err ? err : sqlite3_errstr(rc));
      sqlite3_free(err);
      return ErrorFromSqlite(rc, true);
    }
  } else {
    Statement check(hive->db, "SELECT id FROM keys WHERE id = 1");
    if (!check.ok() || check.Step() != SQLITE_ROW) return ERROR_FILE_NOT_FOUND;
  }
  out = std::move(hive);
  return ERROR_SUCCESS;
}

enum class HiveId { Machine, User, Default };

std::string HivePath(HiveId id) {
  switch (id) {
    case HiveId::Machine: return qx::MachineDir() + "/registry/machine.db";
    case HiveId::Default: return qx::MachineDir() + "/registry/default-user.db";
    case HiveId::User: break;
  }
  return qx::HomeDir() + "/registry/user.db";
}

LONG GetHive(HiveId id, HiveRef &out) {
  static std::mutex lock;
  static HiveRef hives[3];
  std::lock_guard guard(lock);
  HiveRef &slot = hives[static_cast<int>(id)];
  if (!slot) {
    LONG rc = OpenHive(HivePath(id), id == HiveId::User ? 0700 : 0755, slot);
    if (rc != ERROR_SUCCESS) return rc;
  }
  out = slot;
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// The console user, whose hive HKEY_USERS shows under its SID.

std::optional<uid_t> ConsoleUid() {
  if (&qx::ConsoleUser) {
    std::string name;
    uid_t uid = 0;
    if (qx::ConsoleUser(name, uid)) return uid;
    return std::nullopt;
  }
  if (const char *forced = std::getenv("QX_CONSOLE_USER")) {
    if (!*forced) return std::nullopt;
    if (const passwd *pw = getpwnam(forced)) return pw->pw_uid;
    char *end = nullptr;
    unsigned long v = std::strtoul(forced, &end, 10);
    if (end && *end == '\0') return static_cast<uid_t>(v);
    return std::nullopt;
  }
  std::optional<uid_t> found;
  setutxent();
  while (const utmpx *u = getutxent()) {
    if (u->ut_type != USER_PROCESS) continue;
    std::string line(u->ut_line, strnlen(u->ut_line, sizeof u->ut_line));
    const bool console = line == "console" || line.rfind("tty", 0) == 0 || (!line.empty() && line[0] == ':') ||
                         line.rfind("seat", 0) == 0;
    if (!console) continue;
    std::string user(u->ut_user, strnlen(u->ut_user, sizeof u->ut_user));
    if (const passwd *pw = getpwnam(user.c_str())) {
      found = pw->pw_uid;
      break;
    }
  }
  endutxent();
  return found;
}

std::string UserSid(uid_t uid) { return "S-1-22-1-" + std::to_string(uid); }

// ---------------------------------------------------------------------------
// Keys

// What an HKEY stands for: a key of a hive, or the HKEY_USERS list itself.
struct KeyRef {
  HiveRef hive;
  std::int64_t id = 0;
  bool users_root = false;
  REGSAM access = KEY_ALL_ACCESS;
};

struct KeyObject : qx::KernelObject {
  KeyObject() : qx::KernelObject(qx::ObjectKind::RegistryKey) {}
  KeyRef ref;
};

REGSAM NormaliseAccess(REGSAM sam) {
  REGSAM a = sam & (KEY_ALL_ACCESS | MAXIMUM_ALLOWED);
  if (sam & 0x80000000u) a |= KEY_READ;        // GENERIC_READ
  if (sam & 0x40000000u) a |= KEY_WRITE;       // GENERIC_WRITE
  if (sam & 0x20000000u) a |= KEY_EXECUTE;     // GENERIC_EXECUTE
  if (sam & 0x10000000u) a |= KEY_ALL_ACCESS;  // GENERIC_ALL
  if (a & MAXIMUM_ALLOWED) a = KEY_ALL_ACCESS;
  return a;
}

constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE;

bool KeyExists(Hive &h, std::int64_t id) {
  Statement s(h.db, "SELECT 1 FROM keys WHERE id = ?");
  s.Bind(1, id);
  return s.Step() == SQLITE_ROW;
}

// Splits a subkey path at "\". A leading "\" or an empty component is a bad
// path; one trailing "\" is accepted.
LONG SplitPath(const char *path, std::vector<std::string> &parts) {
  parts.clear();
  if (!path || !*path) return ERROR_SUCCESS;
  std::string p(path);
  if (p[0] == '\\') return ERROR_BAD_PATHNAME;
  if (p.back() == '\\') p.pop_back();
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find('\\', start);
    if (end == std::string::npos) end = p.size();
    std::string part = p.substr(start, end - start);
    if (part.empty()) return ERROR_BAD_PATHNAME;
    if (part.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    parts.push_back(std::move(part));
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

std::int64_t FindChild(Hive &h, std::int64_t parent, const std::string &name) {
  Statement s(h.db, "SELECT id FROM keys WHERE parent = ? AND uname = ?");
  s.Bind(1, parent).Bind(2, Upper(name));
  return s.Step() == SQLITE_ROW ? s.Int(0) : 0;
}

// Runs fn inside one IMMEDIATE transaction; a failure rolls everything back.
template <class Fn>
LONG WriteTransaction(Hive &h, Fn fn) {
  if (h.read_only) return ERROR_ACCESS_DENIED;
  int rc = sqlite3_exec(h.db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return ErrorFromSqlite(rc, true);
  LONG result = fn();
  if (result == ERROR_SUCCESS) {
    rc = sqlite3_exec(h.db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) result = ErrorFromSqlite(rc, true);
  }
  if (result != ERROR_SUCCESS) sqlite3_exec(h.db, "ROLLBACK", nullptr, nullptr, nullptr);
  return result;
}

LONG TouchKey(Hive &h, std::int64_t id) {
  Statement s(h.db, "UPDATE keys SET mtime = ? WHERE id = ?");
  s.Bind(1, Now()).Bind(2, id);
  return ErrorFromSqlite(s.Step(), true);
}

// Finds (and with create, makes) the key at parts below start.
LONG WalkLocked(Hive &h, std::int64_t start, const std::vector<std::string> &parts, bool create, std::int64_t &id,
                bool &created) {
  id = start;
  created = false;
  for (const std::string &part : parts) {
    std::int64_t child = FindChild(h, id, part);
    if (!child) {
      if (!create) return ERROR_FILE_NOT_FOUND;
      Statement ins(h.db, "INSERT INTO keys(parent, name, uname, mtime) VALUES(?, ?, ?, ?)");
      ins.Bind(1, id).Bind(2, part).Bind(3, Upper(part)).Bind(4, Now());
      int rc = ins.Step();
      if (rc != SQLITE_DONE) return ErrorFromSqlite(rc, true);
      child = sqlite3_last_insert_rowid(h.db);
      created = true;
    }
    id = child;
  }
  return ERROR_SUCCESS;
}

// The subkeys of HKEY_USERS: ".DEFAULT" and the console user's SID.
std::vector<std::string> UsersSubkeys() {
  std::vector<std::string> names{".DEFAULT"};
  if (auto uid = ConsoleUid()) names.push_back(UserSid(*uid));
  return names;
}

// The hive behind a subkey of HKEY_USERS.
LONG UsersHive(const std::string &name, HiveRef &out) {
  if (Upper(name) == ".DEFAULT") return GetHive(HiveId::Default, out);
  auto uid = ConsoleUid();
  if (!uid || Upper(name) != Upper(UserSid(*uid))) return ERROR_FILE_NOT_FOUND;
  if (*uid == geteuid()) return GetHive(HiveId::User, out);
  // Another user's hive: readable by root, refused to others.
  static std::mutex lock;
  static std::pair<uid_t, HiveRef> cached{static_cast<uid_t>(-1), nullptr};
  std::lock_guard guard(lock);
  if (cached.first == *uid && cached.second) {
    out = cached.second;
    return ERROR_SUCCESS;
  }
  const passwd *pw = getpwuid(*uid);
  if (!pw) return ERROR_FILE_NOT_FOUND;
  const std::string path = std::string(pw->pw_dir) + "/.qxtcp/registry/user.db";
  if (access(path.c_str(), R_OK) != 0) return qx::ErrorFromErrno(errno, qx::HostCall::ReadAccess);
  HiveRef hive = std::make_shared<Hive>();
  if (sqlite3_open_v2(path.c_str(), &hive->db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK)
    return ERROR_ACCESS_DENIED;
  sqlite3_busy_timeout(hive->db, kBusyTimeoutMs);
  hive->read_only = true;
  cached = {*uid, hive};
  out = hive;
  return ERROR_SUCCESS;
}

bool IsPredefined(HKEY key) {
  const auto v = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(key));
  return v >= 0x80000000u && v <= 0x80000006u;
}

// Turns an HKEY into what it stands for; checks that a table key still exists.
LONG ResolveKey(HKEY key, KeyRef &out) {
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT) {
    LONG rc = GetHive(HiveId::Machine, out.hive);
    if (rc != ERROR_SUCCESS) return rc;
    out.id = kRootId;
    out.access = out.hive->read_only ? KEY_READ : KEY_ALL_ACCESS;
    if (key == HKEY_CLASSES_ROOT) {
      Hive &h = *out.hive;
      std::lock_guard guard(h.lock);
      const std::vector<std::string> parts{"SOFTWARE", "Classes"};
      bool created = false;
      std::int64_t id = 0;
      rc = WalkLocked(h, kRootId, parts, false, id, created);
      if (rc == ERROR_FILE_NOT_FOUND && !h.read_only)
        rc = WriteTransaction(h, [&] { return WalkLocked(h, kRootId, parts, true, id, created); });
      if (rc != ERROR_SUCCESS) return rc;
      out.id = id;
    }
    return ERROR_SUCCESS;
  }
  if (key == HKEY_CURRENT_USER) {
    LONG rc = GetHive(HiveId::User, out.hive);
    if (rc != ERROR_SUCCESS) return rc;
    out.id = kRootId;
    out.access = out.hive->read_only ? KEY_READ : KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  if (key == HKEY_USERS) {
    out.users_root = true;
    out.access = KEY_READ;
    return ERROR_SUCCESS;
  }
  if (IsPredefined(key)) return ERROR_INVALID_HANDLE;
  auto obj = qx::Lookup<KeyObject>(key, qx::ObjectKind::RegistryKey);
  if (!obj) return ERROR_INVALID_HANDLE;
  out = obj->ref;
  if (!out.users_root) {
    std::lock_guard guard(out.hive->lock);
    if (!KeyExists(*out.hive, out.id)) return ERROR_KEY_DELETED;
  }
  return ERROR_SUCCESS;
}

LONG NewKeyHandle(const KeyRef &ref, PHKEY result) {
  auto obj = std::make_shared<KeyObject>();
  obj->ref = ref;
  HANDLE h = qx::InsertHandle(obj);
  if (!h) return ERROR_NO_SYSTEM_RESOURCES;
  *result = static_cast<HKEY>(h);
  return ERROR_SUCCESS;
}

// Opens or creates subkey below key; the common body of the Open and Create calls.
LONG OpenOrCreate(HKEY key, LPCSTR subkey, REGSAM sam, bool create, PHKEY result, LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  KeyRef base;
  LONG rc = ResolveKey(key, base);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<std::string> parts;
  rc = SplitPath(subkey, parts);
  if (rc != ERROR_SUCCESS) return rc;
  const REGSAM access = NormaliseAccess(sam);

  KeyRef target = base;
  target.access = access;
  if (base.users_root) {
    if (parts.empty()) {
      if (access & kWriteRights) return ERROR_ACCESS_DENIED;
      if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
      return NewKeyHandle(target, result);
    }
    const auto names = UsersSubkeys();
    bool listed =
        std::any_of(names.begin(), names.end(), [&](const std::string &n) { return Upper(n) == Upper(parts[0]); });
    if (!listed) return create ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    rc = UsersHive(parts[0], target.hive);
    if (rc != ERROR_SUCCESS) return rc;
    target.users_root = false;
    base.id = kRootId;
    base.access = target.hive->read_only ? KEY_READ : KEY_ALL_ACCESS;
    parts.erase(parts.begin());
  }
  Hive &h = *target.hive;
  if (h.read_only && (access & kWriteRights)) return ERROR_ACCESS_DENIED;
  std::lock_guard guard(h.lock);
  bool created = false;
  std::int64_t id = 0;
  rc = WalkLocked(h, base.id, parts, false, id, created);
  if (rc == ERROR_FILE_NOT_FOUND && create) {
    if (!(base.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    rc = WriteTransaction(h, [&] {
      if (!KeyExists(h, base.id)) return static_cast<LONG>(ERROR_KEY_DELETED);
      return WalkLocked(h, base.id, parts, true, id, created);
    });
  }
  if (rc != ERROR_SUCCESS) return rc;
  target.id = id;
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return NewKeyHandle(target, result);
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Copies stored data out with the Win32 size rules: NULL data asks only the
// size; a short buffer gets ERROR_MORE_DATA and the size needed. A string
// stored without its terminator gets one when the buffer has room for it.
LONG CopyValueOut(const std::vector<BYTE> &data, DWORD type, LPBYTE out, LPDWORD size) {
  const DWORD needed = static_cast<DWORD>(data.size());
  if (!out) {
    if (size) *size = needed;
    return ERROR_SUCCESS;
  }
  if (!size) return ERROR_INVALID_PARAMETER;
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (needed) std::memcpy(out, data.data(), needed);
  if (IsStringType(type) && (needed == 0 || data.back() != 0) && *size > needed) out[needed] = 0;
  *size = needed;
  return ERROR_SUCCESS;
}

// Deletes a key's values and the key itself (it must have no subkeys).
LONG DeleteKeyLocked(Hive &h, std::int64_t id) {
  if (id == kRootId) return ERROR_ACCESS_DENIED;
  Statement kids(h.db, "SELECT 1 FROM keys WHERE parent = ? LIMIT 1");
  kids.Bind(1, id);
  if (kids.Step() == SQLITE_ROW) return ERROR_ACCESS_DENIED;  // NT refuses a key with subkeys
  Statement parent(h.db, "SELECT parent FROM keys WHERE id = ?");
  parent.Bind(1, id);
  if (parent.Step() != SQLITE_ROW) return ERROR_KEY_DELETED;
  const std::int64_t parent_id = parent.Int(0);
  Statement vals(h.db, "DELETE FROM vals WHERE key = ?");
  vals.Bind(1, id);
  int rc = vals.Step();
  if (rc != SQLITE_DONE) return ErrorFromSqlite(rc, true);
  Statement key(h.db, "DELETE FROM keys WHERE id = ?");
  key.Bind(1, id);
  rc = key.Step();
  if (rc != SQLITE_DONE) return ErrorFromSqlite(rc, true);
  return TouchKey(h, parent_id);
}

}  // namespace

extern "C" {

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subkey, DWORD options, REGSAM sam, PHKEY result) {
  return OpenOrCreate(key, subkey, sam, false, result, nullptr);
}

LONG WINAPI RegOpenKeyA(HKEY key, LPCSTR subkey, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  // An empty subkey of a predefined key hands the predefined key back, as Win32 does.
  if ((!subkey || !*subkey) && IsPredefined(key)) {
    *result = key;
    return ERROR_SUCCESS;
  }
  LONG rc = OpenOrCreate(key, subkey, MAXIMUM_ALLOWED, false, result, nullptr);
  if (rc == ERROR_ACCESS_DENIED) rc = OpenOrCreate(key, subkey, KEY_READ, false, result, nullptr);
  return rc;
}

LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subkey, DWORD reserved, LPSTR key_class, DWORD options, REGSAM sam,
                            LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
  if (!subkey) return ERROR_INVALID_PARAMETER;
  return OpenOrCreate(key, subkey, sam, true, result, disposition);
}

LONG WINAPI RegCreateKeyA(HKEY key, LPCSTR subkey, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  if ((!subkey || !*subkey) && IsPredefined(key)) {
    *result = key;
    return ERROR_SUCCESS;
  }
  return OpenOrCreate(key, subkey ? subkey : "", KEY_ALL_ACCESS, true, result, nullptr);
}

LONG WINAPI RegCloseKey(HKEY key) {
  if (IsPredefined(key)) return ERROR_SUCCESS;
  if (!qx::LookupHandle(key, qx::ObjectKind::RegistryKey)) return ERROR_INVALID_HANDLE;
  qx::RemoveHandle(key);
  return ERROR_SUCCESS;
}

LONG WINAPI RegFlushKey(HKEY key) {
  KeyRef ref;
  LONG rc = ResolveKey(key, ref);
  if (rc != ERROR_SUCCESS || ref.users_root || ref.hive->read_only) return rc;
  // Commits are already durable; a checkpoint folds the log into the hive file.
  std::lock_guard guard(ref.hive->lock);
  sqlite3_wal_checkpoint_v2(ref.hive->db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size) {
  if (!data && size) return ERROR_INVALID_PARAMETER;
  if (size > kMaxValueSize) return ERROR_INVALID_PARAMETER;
  const std::string value_name = name ? name : "";
  if (value_name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  LONG rc = ResolveKey(key, ref);
  if (rc != ERROR_SUCCESS) return rc;
  if (ref.users_root || !(ref.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  Hive &h = *ref.hive;
  std::lock_guard guard(h.lock);
  return WriteTransaction(h, [&]() -> LONG {
    if (!KeyExists(h, ref.id)) return ERROR_KEY_DELETED;
    // The upsert keeps the row (and so the value's place in the enumeration).
    Statement s(h.db,
                "INSERT INTO vals(key, name, uname, type, data) VALUES(?, ?, ?, ?, ?)"
                " ON CONFLICT(key, uname) DO UPDATE SET name = excluded.name,"
                " type = excluded.type, data = excluded.data");
    s.Bind(1, ref.id).Bind(2, value_name).Bind(3, Upper(value_name)).Bind(4, type).BindBlob(5, data, size);
    int src = s.Step();
    if (src != SQLITE_DONE) return ErrorFromSqlite(src, true);
    return TouchKey(h, ref.id);
  });
}

LONG WINAPI RegSetValueA(HKEY key, LPCSTR subkey, DWORD type, LPCSTR data, DWORD size) {
  if (type != REG_SZ || !data) return ERROR_INVALID_PARAMETER;
  HKEY target = key;
  bool opened = false;
  if (subkey && *subkey) {
    LONG rc = RegCreateKeyExA(key, subkey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &target, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    opened = true;
  }
  LONG rc = RegSetValueExA(target, "", 0, REG_SZ, reinterpret_cast<const BYTE *>(data),
                           static_cast<DWORD>(std::strlen(data) + 1));
  if (opened) RegCloseKey(target);
  return rc;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (reserved) return ERROR_INVALID_PARAMETER;
  if (data && !size) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  LONG rc = ResolveKey(key, ref);
  if (rc != ERROR_SUCCESS) return rc;
  if (ref.users_root) return ERROR_FILE_NOT_FOUND;
  if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  DWORD stored_type = 0;
  std::vector<BYTE> bytes;
  {
    std::lock_guard guard(ref.hive->lock);
    Statement s(ref.hive->db, "SELECT type, data FROM vals WHERE key = ? AND uname = ?");
    s.Bind(1, ref.id).Bind(2, Upper(name ? name : ""));
    int src = s.Step();
    if (src == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
    if (src != SQLITE_ROW) return ErrorFromSqlite(src, false);
    stored_type = static_cast<DWORD>(s.Int(0));
    bytes = s.Blob(1);
  }
  if (type) *type = stored_type;
  return CopyValueOut(bytes, stored_type, data, size);
}

LONG WINAPI RegQueryValueA(HKEY key, LPCSTR subkey, LPSTR data, PLONG size) {
  if (data && !size) return ERROR_INVALID_PARAMETER;
  HKEY target = key;
  bool opened = false;
  if (subkey && *subkey) {
    LONG rc = RegOpenKeyExA(key, subkey, 0, KEY_QUERY_VALUE, &target);
    if (rc != ERROR_SUCCESS) return rc;
    opened = true;
  }
  DWORD type = 0;
  DWORD cb = size ? static_cast<DWORD>(std::max<LONG>(*size, 0)) : 0;
  LONG rc = RegQueryValueExA(target, "", nullptr, &type, reinterpret_cast<LPBYTE>(data), size ? &cb : nullptr);
  if (rc == ERROR_FILE_NOT_FOUND) {
    // A key without a default value reads as the empty string.
    rc = ERROR_SUCCESS;
    if (data && cb >= 1)
      data[0] = '\0';
    else if (data)
      rc = ERROR_MORE_DATA;
    cb = 1;
  } else if (rc == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) {
    rc = ERROR_INVALID_DATA;
  }
  if (size && (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA)) *size = static_cast<LONG>(cb);
  if (opened) RegCloseKey(target);
  return rc;
}

LONG WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved, LPSTR key_class,
                          LPDWORD class_size, PFILETIME last_write) {
  if (!name || !name_size || reserved) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  LONG rc = ResolveKey(key, ref);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(ref.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  std::string found;
  std::int64_t mtime = 0;
  if (ref.users_root) {
    const auto names = UsersSubkeys();
    if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
    found = names[index];
  } else {
    std::lock_guard guard(ref.hive->lock);
    Statement s(ref.hive->db, "SELECT name, mtime FROM keys WHERE parent = ? ORDER BY uname LIMIT 1 OFFSET ?");
    s.Bind(1, ref.id).Bind(2, index);
    int src = s.Step();
    if (src == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
    if (src != SQLITE_ROW) return ErrorFromSqlite(src, false);
    found = s.Text(0);
    mtime = s.Int(1);
  }
  if (found.size() + 1 > *name_size) return ERROR_MORE_DATA;
  std::memcpy(name, found.c_str(), found.size() + 1);
  *name_size = static_cast<DWORD>(found.size());
  if (key_class && class_size && *class_size) key_class[0] = '\0';
  if (class_size) *class_size = 0;
  if (last_write) *last_write = FileTimeFromUnix(mtime);
  return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD name_size) {
  DWORD size = name_size;
  return RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
}

LONG WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD name_size, LPDWORD reserved, LPDWORD type,
                          LPBYTE data, LPDWORD data_size) {
  if (!name || !name_size || reserved) return ERROR_INVALID_PARAMETER;
  if (data && !data_size) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  LONG rc = ResolveKey(key, ref);
  if (rc != ERROR_SUCCESS) return rc;
  if (ref.users_root) return ERROR_NO_MORE_ITEMS;
  if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  std::string found;
  DWORD stored_type = 0;
  std::vector<BYTE> bytes;
  {
    std::lock_guard guard(ref.hive->lock);
    // Values enumerate in the order they were first set, as on NT.
    Statement s(ref.hive->db, "SELECT name, type, data FROM vals WHERE key = ? ORDER BY rowid LIMIT 1 OFFSET ?");
    s.Bind(1, ref.id).Bind(2, index);
    int src = s.Step();
    if (src == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
    if (src != SQLITE_ROW) return ErrorFromSqlite(src, false);
    found = s.Text(0);
    stored_type = static_cast<DWORD>(s.Int(1));
    bytes = s.Blob(2);
  }
  if (found.size() + 1 > *name_size) return ERROR_MORE_DATA;
  std::memcpy(name, found.c_str(), found.size() + 1);
  *name_size = static_cast<DWORD>(found.size());
  if (type) *type = stored_type;
  return CopyValueOut(bytes, stored_type, data, data_size);
}

LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR name) {
  KeyRef ref;
  LONG rc = ResolveKey(key, ref);
  if (rc != ERROR_SUCCESS) return rc;
  if (ref.users_root || !(ref.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  Hive &h = *ref.hive;
  std::lock_guard guard(h.lock);
  return WriteTransaction(h, [&]() -> LONG {
    Statement s(h.db, "DELETE FROM vals WHERE key = ? AND uname = ?");
    s.Bind(1, ref.id).Bind(2, Upper(name ? name : ""));
    int src = s.Step();
    if (src != SQLITE_DONE) return ErrorFromSqlite(src, true);
    if (sqlite3_changes(h.db) == 0) return ERROR_FILE_NOT_FOUND;
    return TouchKey(h, ref.id);
  });
}

LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subkey) {
  if (!subkey) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  LONG rc = ResolveKey(key, ref);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<std::string> parts;
  rc = SplitPath(subkey, parts);
  if (rc != ERROR_SUCCESS) return rc;
  if (ref.users_root) return ERROR_ACCESS_DENIED;  // the user hives are not deleted from here
  Hive &h = *ref.hive;
  std::lock_guard guard(h.lock);
  return WriteTransaction(h, [&]() -> LONG {
    std::int64_t id = 0;
    bool created = false;
    LONG wrc = WalkLocked(h, ref.id, parts, false, id, created);
    if (wrc != ERROR_SUCCESS) return wrc;
    return DeleteKeyLocked(h, id);
  });
}

LONG WINAPI RegQueryInfoKeyA(HKEY key, LPSTR key_class, LPDWORD class_size, LPDWORD reserved, LPDWORD subkeys,
                             LPDWORD max_subkey_len, LPDWORD max_class_len, LPDWORD values, LPDWORD max_value_name_len,
                             LPDWORD max_value_len, LPDWORD security_size, PFILETIME last_write) {
  if (reserved) return ERROR_INVALID_PARAMETER;
  KeyRef ref;
  LONG rc = ResolveKey(key, ref);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(ref.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  DWORD n_keys = 0, key_len = 0, n_vals = 0, name_len = 0, data_len = 0;
  std::int64_t mtime = 0;
  if (ref.users_root) {
    for (const auto &n : UsersSubkeys()) {
      ++n_keys;
      key_len = std::max<DWORD>(key_len, static_cast<DWORD>(n.size()));
    }
  } else {
    std::lock_guard guard(ref.hive->lock);
    Statement k(ref.hive->db,
                "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0) FROM keys WHERE parent = ?");
    k.Bind(1, ref.id);
    if (k.Step() == SQLITE_ROW) {
      n_keys = static_cast<DWORD>(k.Int(0));
      key_len = static_cast<DWORD>(k.Int(1));
    }
    Statement v(ref.hive->db,
                "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0), coalesce(max(length(data)), 0)"
                " FROM vals WHERE key = ?");
    v.Bind(1, ref.id);
    if (v.Step() == SQLITE_ROW) {
      n_vals = static_cast<DWORD>(v.Int(0));
      name_len = static_cast<DWORD>(v.Int(1));
      data_len = static_cast<DWORD>(v.Int(2));
    }
    Statement t(ref.hive->db, "SELECT mtime FROM keys WHERE id = ?");
    t.Bind(1, ref.id);
    if (t.Step() == SQLITE_ROW) mtime = t.Int(0);
  }
  if (key_class && class_size && *class_size) key_class[0] = '\0';
  if (class_size) *class_size = 0;
  if (subkeys) *subkeys = n_keys;
  if (max_subkey_len) *max_subkey_len = key_len;
  if (max_class_len) *max_class_len = 0;
  if (values) *values = n_vals;
  if (max_value_name_len) *max_value_name_len = name_len;
  if (max_value_len) *max_value_len = data_len;
  if (security_size) *security_size = 0;
  if (last_write) *last_write = FileTimeFromUnix(mtime);
  return ERROR_SUCCESS;
}

}  // extern "C"
