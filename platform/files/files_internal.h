// Pieces the files part shares between its sources: the file object behind a
// HANDLE, share-mode locks, attributes and time conversions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "qx/handles.h"

namespace qx {

// An open file or directory behind a HANDLE; closing the last reference
// closes the descriptor (and with it the share locks it holds).
class FileObject : public KernelObject {
 public:
  FileObject(int fd, bool can_read, bool can_write, std::string host)
      : KernelObject(ObjectKind::File), fd_(fd), can_read_(can_read), can_write_(can_write), host_(std::move(host)) {}
  ~FileObject() override;

  int fd() const { return fd_; }
  bool can_read() const { return can_read_; }
  bool can_write() const { return can_write_; }
  const std::string &host() const { return host_; }
  void set_delete_on_close(bool on) { delete_on_close_ = on; }

  struct Range {
    std::uint64_t offset, length;
  };
  std::vector<Range> &locked_ranges() { return locked_; }

 private:
  int fd_;
  bool can_read_, can_write_;
  bool delete_on_close_ = false;
  std::string host_;
  std::vector<Range> locked_;
};

// Share modes between opens of one file, in this process and others. Each
// open holds shared OFD locks on marker bytes far past any file data: one for
// its read access, one for its write access, one per kind of access it
// denies. A new open first takes its own markers, then looks for markers of
// other opens that conflict; on a conflict it drops its markers and fails.
// Locks go with the open file description, so they vanish when the last
// descriptor closes or the process dies. share is FILE_SHARE_READ/WRITE bits.
// Returns 0 or ERROR_SHARING_VIOLATION. known: the descriptor's status when
// the caller has it already.
DWORD AcquireShareMode(int fd, bool read_access, bool write_access, DWORD share, const struct stat *known = nullptr);

// True when another open of the file holds a LockFile region that refuses
// this access to [at, at + length) (at -1: the current position).
bool RangeLockedByOthers(int fd, long long at, std::uint64_t length, bool write);

// _close of a runtime descriptor closes the HANDLE that goes with it (crt_runtime.cpp).
void ForgetOsfHandle(int fd);

// Opens a host path with open(2) flags, trying read-write first when only
// write access is wanted so the descriptor can carry share markers.
int OpenForShare(const std::string &host, int flags, mode_t mode);

// READONLY is a mode without write bits; HIDDEN, SYSTEM and ARCHIVE live in
// the extended attribute "user.qx.attrib" where the file system has them.
DWORD AttributesOf(const std::string &host, const struct stat &st);
bool IsReadOnly(const struct stat &st);

// FILETIME (100 ns since 1601) from and to a timespec.
FILETIME FileTimeFrom(const struct timespec &ts);
struct timespec TimespecFrom(const FILETIME &ft);
// Creation time: the birth time where the file system keeps one, else ctime.
struct timespec BirthTime(const std::string &host, const struct stat &st);

// The directory of the running program, as a Windows path ("" if unknown).
std::string ProgramDirectory();

// Finds name in the host directory dir without regard to case; the stored
// spelling goes to found. The exact spelling wins; among case-blind matches,
// the first in byte order, so the choice is stable. Directories are read
// through a per-process cache (dir_cache.cpp).
bool FindInDir(const std::string &dir, const std::string &name, std::string &found);

// Every name of the host directory dir (stored spellings, "." and ".." left
// out), from the same cache. False when the directory cannot be read.
bool ListDirNames(const std::string &dir, std::vector<std::string> &names);

// 8.3 alternate names (short_names.cpp). IsShortName: a valid 8.3 name,
// letters of either case. AlternateNames: the alternate of each of a
// directory's names, index by index ("" for a name that needs none).
// AlternateNameOf: the alternate of one entry of a host directory.
// FindByAlternate: the entry whose alternate is component (case-blind).
// ShortWindowsPath: a full path with stored spellings, each component
// replaced by its alternate where it has one.
bool IsShortName(const std::string &name);
std::vector<std::string> AlternateNames(const std::vector<std::string> &names);
bool AlternateNameOf(const std::string &dir, const std::string &stored, std::string &alternate);
bool FindByAlternate(const std::string &dir, const std::string &component, std::string &stored);
bool ShortWindowsPath(const std::string &full, std::string &short_path, DWORD &error);

// Brackets a change this process makes to names in host directories (create,
// delete, rename): made before the change, destroyed after it, it updates the
// name caches of those directories in place instead of having them read
// again. Changes made without it are still seen, at the cost of a re-read.
class DirChange {
 public:
  explicit DirChange(const std::string &entry, const std::string &other = {});
  ~DirChange();
  DirChange(const DirChange &) = delete;
  DirChange &operator=(const DirChange &) = delete;
  // Another host path touched by the same change (a name chosen meanwhile).
  void Add(const std::string &entry);

 private:
  struct Part {
    std::string dir;
    std::vector<std::string> names;
    bool in_step = false;          // the cache matched the directory before the change
    std::uint64_t generation = 0;  // of the cache seen then
  };
  std::vector<Part> parts_;
};

// Resolved directories (path_cache.cpp). CachedDirectory: the host directory
// and stored Windows spelling that windows_dir (a full Windows directory path
// as the caller spelled it) led to, while nothing along the way has changed
// since. RememberDirectory records a walk: each step is a host directory
// searched, the component looked up there and the name found. A folder is
// remembered from its kWalksBeforeRemembering-th walk on (qx/paths.h).
struct WalkStep {
  std::string dir, given, stored;
};
bool CachedDirectory(const std::string &windows_dir, std::string &host, std::string &full);
void RememberDirectory(const std::string &windows_dir, const std::string &host, const std::string &full,
                       const std::vector<WalkStep> &steps);

// HostPath with the last component kept as given instead of looked up, for
// an open that tries the name as spelled first (the exact spelling wins
// anyway) and looks it up only when no such name exists.
bool HostPathAsGiven(std::string_view path, std::string &host, DWORD &error);

// Appends the directories of PATH as Windows paths (host paths mapped through
// the drive table; entries that map to no drive are left out).
void AppendPathDirectories(std::vector<std::string> &dirs);

// Case-blind ASCII comparison used for names, sections and keys.
bool EqualNoCase(std::string_view a, std::string_view b);

// Handle value <-> HFILE of OpenFile and the _l calls.
inline HFILE HfileFrom(HANDLE h) { return static_cast<HFILE>(QX_HANDLE_VALUE(h)); }
inline HANDLE HandleFrom(HFILE f) { return QX_HANDLE_FROM(HANDLE, static_cast<DWORD>(f)); }

}  // namespace qx
