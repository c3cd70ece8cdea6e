// The long-name table QXMAPTBL.IDX: on a drive without long names, a client's
// name that does not fit 8.3 is kept in a hidden file of its directory and the
// entry on disk gets an alias made from the record's offset in that file
// ("QXMAPFL" + base-32 digits). On drives with long names the table is only
// consulted, never created.
#pragma once

#include <string>

#include "handles.h"

inline constexpr char kMapTableName[] = "QXMAPTBL.IDX";
inline constexpr char kAliasPrefix[] = "QXMAPFL";
// Aliases carry four base-32 digits, so records start below 1 MiB.
constexpr unsigned long kMaxMapTableOffset = 1ul << 20;

// The alias of the record at `offset` (process-wide buffer); DecodeAlias
// gives the offset back, or -1 for a name that is not an alias.
const char *NameMapAlias(unsigned long offset);
long DecodeAlias(const char *alias);

// The name to use on disk for a client's name in a directory, or null: the
// name itself when an entry of that name exists (an entry whose 8.3 alternate
// it is gives the entry's own name); the alias of a table record holding it;
// with `create`, a new name that may be made (the caller decides on an
// alias); null for a missing name without `create`, or a name that may not
// be made.
const char *LongNameLookup(const char *name, const NFS_FHANDLE &dir, bool create);
// The long name an in-use record holds, or empty.
std::string ReadNameRecord(const NFS_FHANDLE &dir, const char *alias);
// The alias of a record now holding `name` (the table made when missing), or empty.
std::string AllocateNameRecord(const char *name, const NFS_FHANDLE &dir);
// Marks the record of `alias` in that directory's table free.
bool FreeNameRecord(const NFS_FHANDLE &dir, const char *alias);
// Closes the open table file (the main window's 30-second timer does this).
void CloseMapTable();
// True for names a client may never use: the table file and alias forms.
bool IsReservedName(const char *name);
