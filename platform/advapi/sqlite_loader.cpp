// The SQLite calls of the registry, bound on first use: libsqlite3 is loaded
// when a process first opens a hive, so the many processes that never touch
// the registry (every daemon the super-server starts) do not map it at start.
// The definitions below take the place of the library's own for this layer
// only (hidden: never exported); each forwards to the library.
#include <sqlite3.h>

#include "qx/lazy_library.h"

namespace {
qx::LazyLibrary g_sqlite{"libsqlite3.so.0", "the registry", "libsqlite3-0"};
}  // namespace

// The library's function of this name, bound once.
#define QX_SQLITE(name) QX_LAZY_CALL(g_sqlite, name)

#pragma GCC visibility push(hidden)
extern "C" {

int sqlite3_open_v2(const char *file, sqlite3 **db, int flags, const char *vfs) {
  auto f = QX_SQLITE(sqlite3_open_v2);
  if (f) return f(file, db, flags, vfs);
  if (db) *db = nullptr;
  return SQLITE_CANTOPEN;
}
int sqlite3_close_v2(sqlite3 *db) {
  auto f = QX_SQLITE(sqlite3_close_v2);
  return f ? f(db) : SQLITE_MISUSE;
}
const char *sqlite3_errstr(int code) {
  auto f = QX_SQLITE(sqlite3_errstr);
  return f ? f(code) : "the SQLite library could not be loaded";
}
int sqlite3_busy_timeout(sqlite3 *db, int ms) {
  auto f = QX_SQLITE(sqlite3_busy_timeout);
  return f ? f(db, ms) : SQLITE_MISUSE;
}
int sqlite3_db_readonly(sqlite3 *db, const char *name) {
  auto f = QX_SQLITE(sqlite3_db_readonly);
  return f ? f(db, name) : -1;
}
int sqlite3_file_control(sqlite3 *db, const char *name, int op, void *arg) {
  auto f = QX_SQLITE(sqlite3_file_control);
  return f ? f(db, name, op, arg) : SQLITE_MISUSE;
}
int sqlite3_exec(sqlite3 *db, const char *sql, int (*callback)(void *, int, char **, char **), void *arg,
                 char **error) {
  auto f = QX_SQLITE(sqlite3_exec);
  return f ? f(db, sql, callback, arg, error) : SQLITE_MISUSE;
}
void sqlite3_free(void *p) {
  if (auto f = QX_SQLITE(sqlite3_free)) f(p);
}
int sqlite3_prepare_v2(sqlite3 *db, const char *sql, int bytes, sqlite3_stmt **statement, const char **tail) {
  auto f = QX_SQLITE(sqlite3_prepare_v2);
  return f ? f(db, sql, bytes, statement, tail) : SQLITE_MISUSE;
}
int sqlite3_step(sqlite3_stmt *statement) {
  auto f = QX_SQLITE(sqlite3_step);
  return f ? f(statement) : SQLITE_MISUSE;
}
int sqlite3_finalize(sqlite3_stmt *statement) {
  auto f = QX_SQLITE(sqlite3_finalize);
  return f ? f(statement) : SQLITE_OK;
}
int sqlite3_bind_blob(sqlite3_stmt *statement, int index, const void *data, int bytes, void (*destructor)(void *)) {
  auto f = QX_SQLITE(sqlite3_bind_blob);
  return f ? f(statement, index, data, bytes, destructor) : SQLITE_MISUSE;
}
int sqlite3_bind_int64(sqlite3_stmt *statement, int index, sqlite3_int64 value) {
  auto f = QX_SQLITE(sqlite3_bind_int64);
  return f ? f(statement, index, value) : SQLITE_MISUSE;
}
int sqlite3_bind_text(sqlite3_stmt *statement, int index, const char *text, int bytes, void (*destructor)(void *)) {
  auto f = QX_SQLITE(sqlite3_bind_text);
  return f ? f(statement, index, text, bytes, destructor) : SQLITE_MISUSE;
}
const void *sqlite3_column_blob(sqlite3_stmt *statement, int column) {
  auto f = QX_SQLITE(sqlite3_column_blob);
  return f ? f(statement, column) : nullptr;
}
int sqlite3_column_bytes(sqlite3_stmt *statement, int column) {
  auto f = QX_SQLITE(sqlite3_column_bytes);
  return f ? f(statement, column) : 0;
}
sqlite3_int64 sqlite3_column_int64(sqlite3_stmt *statement, int column) {
  auto f = QX_SQLITE(sqlite3_column_int64);
  return f ? f(statement, column) : 0;
}
const unsigned char *sqlite3_column_text(sqlite3_stmt *statement, int column) {
  auto f = QX_SQLITE(sqlite3_column_text);
  return f ? f(statement, column) : nullptr;
}
int sqlite3_changes(sqlite3 *db) {
  auto f = QX_SQLITE(sqlite3_changes);
  return f ? f(db) : 0;
}
sqlite3_int64 sqlite3_last_insert_rowid(sqlite3 *db) {
  auto f = QX_SQLITE(sqlite3_last_insert_rowid);
  return f ? f(db) : 0;
}
int sqlite3_wal_checkpoint_v2(sqlite3 *db, const char *name, int mode, int *log, int *checkpointed) {
  auto f = QX_SQLITE(sqlite3_wal_checkpoint_v2);
  return f ? f(db, name, mode, log, checkpointed) : SQLITE_MISUSE;
}

}  // extern "C"
#pragma GCC visibility pop
