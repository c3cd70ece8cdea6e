// How the NFS procedures reach files: a handle becomes a Windows path (the
// directory-name table), the layer maps that to a host path, and every file
// is then opened through a descriptor of its export's directory with the
// kernel's "beneath" resolution, so neither ".." nor a symbolic link
// (made by a client or found on disk) leads out of an export.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "exports.h"
#include "handles.h"
#include "xdr.h"

// An owned descriptor, closed when it goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd &&other) noexcept : fd_(other.Release()) {}
  UniqueFd &operator=(UniqueFd &&other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd &) = delete;
  UniqueFd &operator=(const UniqueFd &) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// FILE_STAT: the server's own status record of a file. Kind bits: 0x4000
// directory, 0x8000 anything else, 0x0100 with either, 0x0080 writable,
// 0x1000 symbolic link, 0x2000 hidden.
constexpr uint16_t kKindDirectory = 0x4000;
constexpr uint16_t kKindFile = 0x8000;
constexpr uint16_t kKindBase = 0x0100;
constexpr uint16_t kKindWritable = 0x0080;
constexpr uint16_t kKindLink = 0x1000;
constexpr uint16_t kKindHidden = 0x2000;

struct NfsTime {
  uint32_t seconds = 0, useconds = 0;
};

struct FILE_STAT {
  uint16_t kind = 0;
  uint32_t size = 0;
  NfsTime atime, mtime, ctime;
  uint32_t fileid = 0;  // the inode folded to 32 bits: stable, shared by hard links
  uint32_t nlink = 1;
  // On drives whose owners come from each file's security: the permission
  // bits and the owner and group as NFS ids.
  bool has_identity = false;
  uint32_t permissions = 0;
  int32_t uid = -2, gid = -2;
};

// A client's handle, checked against the exports and reached beneath its
// export's directory.
struct ResolvedHandle {
  NFS_FHANDLE handle{};
  const EXPORT_ENTRY *export_entry = nullptr;
  uint32_t source = 0;     // the client's address (network order)
  bool read_only = false;  // the handle's bit, or the export's rule for the host
  std::string path;        // the Windows path
  std::string root_host;   // the exported directory on the host
  UniqueFd root;           // the same, opened (O_PATH)
  std::string rel;         // the file below root ("." for root itself)
};

// NFS_OK, NFSERR_STALE (no export holds the handle, no path comes from it,
// or its file lies outside the export), NFSERR_ACCES (the export does not
// admit the host).
int ResolveHandle(const NFS_FHANDLE &handle, uint32_t source, ResolvedHandle &out);
// The export check alone (READ and WRITE of a file the cache holds need no
// path); ResolvePath completes it when the file must be reached.
int CheckHandle(const NFS_FHANDLE &handle, uint32_t source, ResolvedHandle &out);
int ResolvePath(ResolvedHandle &r);

// openat2 beneath the export: a descriptor, or -errno. rel is relative to
// the exported directory; EXDEV means the path would leave it.
int OpenBeneath(const ResolvedHandle &r, const std::string &rel, int flags, mode_t mode = 0);
// The relative path of a name in the directory `r` names.
std::string ChildRel(const ResolvedHandle &r, const std::string &name);
// The parent directory of `r`'s file (O_PATH) and its last name: for the
// *at calls that must not follow the last component.
int OpenParent(const ResolvedHandle &r, std::string &last);

// The status of rel below the export, not following a final symbolic link.
// 0, or -errno.
int GetFileStat(const ResolvedHandle &r, const std::string &rel, FILE_STAT &stat);
int GetFileStat(const ResolvedHandle &r, FILE_STAT &stat);
void StatToFileStat(const struct stat &st, int drive, const std::string &host_path, FILE_STAT &out);

// The 68-byte fattr of a FILE_STAT; sets or clears the handle's directory bit.
void FillFattr(XdrWriter &out, const FILE_STAT &stat, NFS_FHANDLE &handle);

// The NFS status for the errno of a failed host call.
int NfsStatusFromErrno(int err);
