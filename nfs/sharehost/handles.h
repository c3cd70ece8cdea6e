// NFS file handles of sharehost: 32 bytes that encode a path as a drive, up to
// 13 directory names as 12-bit indices into the directory-name table, and the
// last component's 8.3 name. The table only grows; every name added to it is
// appended to the state file QXSTATE.SAV, which is replayed at start so that
// handles given out before a restart keep their meaning.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// NFS version 2 status values the handle code answers with.
enum NfsStatus : int {
  NFS_OK = 0,
  NFSERR_PERM = 1,
  NFSERR_NOENT = 2,
  NFSERR_IO = 5,
  NFSERR_ACCES = 13,
  NFSERR_EXIST = 17,
  NFSERR_NOTDIR = 20,
  NFSERR_ISDIR = 21,
  NFSERR_NOSPC = 28,
  NFSERR_ROFS = 30,
  NFSERR_NAMETOOLONG = 63,
  NFSERR_STALE = 70,
};

constexpr int kHandleSize = 32;
constexpr int kMaxDepth = 13;
constexpr int kLastNameOffset = 21;
constexpr int kLastNameSize = 11;
// Slots hold 12 bits: indices 1..4095 name directories, 0 is the table's "dos".
constexpr int kMaxTableEntries = 4096;

struct NFS_FHANDLE {
  BYTE data[kHandleSize];
};

// Fields of word 0.
int HandleDrive(const NFS_FHANDLE &h);  // 1 = A .. 26 = Z
bool HandleIsReadOnly(const NFS_FHANDLE &h);
bool HandleIsDirectory(const NFS_FHANDLE &h);
int HandleDepth(const NFS_FHANDLE &h);
void SetHandleDrive(NFS_FHANDLE &h, int drive);
void SetHandleReadOnly(NFS_FHANDLE &h, bool on);
void SetHandleDirectory(NFS_FHANDLE &h, bool on);
void SetHandleDepth(NFS_FHANDLE &h, int depth);
// Slot k (0..12): the table index of the k-th directory below the drive root.
int HandleSlot(const NFS_FHANDLE &h, int slot);
void SetHandleSlot(NFS_FHANDLE &h, int slot, int index);
// The last name as stored (up to 11 bytes, without the terminating zero).
std::string HandleLastName(const NFS_FHANDLE &h);

// The directory-name table and its state file.
void InitDirNameTable();
// Adds a name (a handle's last-name form, at most 11 characters read) and
// returns its index; 0 when the table is full (4096 names), when memory runs
// out, or when the name could not be appended to the state file: a name that
// is not stored never gets an index, so later indices never shift.
int AddDirName(const char *name);
// The index of a name already in the table (dotted 8.3 form), else 0. Adds nothing.
int FindDirName(const std::string &dotted);
// The table's name of index i, or null when i is not below the count.
const char *DirNameOf(int index);
int DirNameCount();

// Where QXSTATE.SAV lives: "Installation Directory" of the NFS key in the
// machine registry, as a Windows path; empty when the key cannot be opened.
std::string StateFilePath();
// 1 on success; -1 the registry key cannot be opened; -2 the state file can
// neither be opened nor created; -3 the state file is damaged (a record
// without its terminating zero, or a name twice): replaying it would give
// old handles other directories, so the server must not start on it.
int LoadStateFile();
// Rewrites the state file from the table (through a new file renamed over the
// old one) and frees the table. Returns false when the file could not be written.
bool SaveStateFile();

// Turns the chained bytes of the state file back into plain bytes and back.
std::string ChainEncode(const std::string &plain, BYTE &chain);
std::string ChainDecode(const std::string &stored, BYTE &chain);

// Conversions. Each returns an NFS status; handles come back in `handle`.
// A printer path ("lpt1:", "com2:") answers NFS_OK without a handle and sets
// *printer when given.
int PathToHandle(const char *path, NFS_FHANDLE &handle, bool *printer = nullptr);
// The child of a directory handle, in a process-wide buffer valid until the
// next call; null when the directory is 13 levels deep, the directory-name
// table is full or its state file cannot be written (LastChildHandleError
// says which, as an NFS status).
NFS_FHANDLE *ChildHandle(const NFS_FHANDLE &dir, const char *name);
int LastChildHandleError();
// The parent of a handle, in place (the root stays the root).
void ParentHandle(NFS_FHANDLE &handle);
// The full path of a handle ("c:\dir\name"), in a process-wide buffer valid
// until the next call. Null for a handle no path can come from: a drive
// outside A..Z, a depth past 13, a slot naming no table entry, a non-zero
// slot beyond the depth, or a last name that is not a plain name. Such a
// handle is stale (forged, or from before the state file was lost).
const char *HandleToPath(const NFS_FHANDLE &handle);
BYTE HandleHash(const NFS_FHANDLE &handle);
void LowerCaseName(char *buffer);

// The 8.3 last-name form of a name, lower-cased, as ChildHandle stores it.
void StoreLastName(NFS_FHANDLE &h, const char *name);
// The dotted 8.3 form of a stored last name.
std::string ReformName(const char *name, size_t max_chars);

// Finds the entry `name` of a directory (a Windows path) and says how it
// matched: spelt exactly, as the entry's 8.3 alternate, or without regard to case.
enum class EntryMatch { Exact, Alternate, CaseBlind, None };
EntryMatch FindEntry(const std::string &dir_path, const std::string &name, WIN32_FIND_DATAA &found);

// Per-drive flags set by the exports file (index 1..26).
constexpr BYTE kDriveLongNames = 1;
constexpr BYTE kDriveNtSecurity = 2;
extern BYTE g_DriveFlags[27];

// A name a client may give for a directory entry: not empty, not "." or "..",
// no separator, drive colon, wildcard, or control character. Everything the
// NFS procedures take from a client as a name passes this first.
bool IsPlainName(const char *name);
