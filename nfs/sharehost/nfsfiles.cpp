// Handles to files beneath their exports, file status and fattr.
#include "nfsfiles.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <map>

#include <qx/paths.h>

#include "idmaps.h"
#include "rpc.h"

namespace {

uint32_t Fold(uint64_t ino) { return uint32_t(ino ^ (ino >> 32)); }

NfsTime TimeOf(const struct timespec &ts) {
  if (ts.tv_sec < 0) return {};  // before 1970: the earliest time NFS v2 can say
  return NfsTime{uint32_t(ts.tv_sec), uint32_t(ts.tv_nsec / 1000)};
}

// The HIDDEN and SYSTEM attributes the layer keeps in an extended attribute.
DWORD StoredAttributes(const std::string &host) {
  char value[16] = {};
  ssize_t n = lgetxattr(host.c_str(), "user.qx.attrib", value, sizeof value - 1);
  return n > 0 ? DWORD(strtoul(value, nullptr, 10)) : 0;
}

struct ErrnoStatus {
  int err;
  int status;
};
constexpr ErrnoStatus kErrnoStatus[] = {
    {ENOENT, NFSERR_NOENT},  {EACCES, NFSERR_ACCES},   {EPERM, NFSERR_ACCES},  {EXDEV, NFSERR_ACCES},
    {ELOOP, NFSERR_ACCES},   {ENOTDIR, NFSERR_NOTDIR}, {EISDIR, NFSERR_ISDIR}, {ENOSPC, NFSERR_NOSPC},
    {EDQUOT, NFSERR_NOSPC},  {EFBIG, NFSERR_NOSPC},    {EROFS, NFSERR_ROFS},   {ENAMETOOLONG, NFSERR_NAMETOOLONG},
    {EEXIST, NFSERR_EXIST},  {ENOTEMPTY, 66},          {ESTALE, NFSERR_STALE}, {EMLINK, NFSERR_NOSPC},
    {ETXTBSY, NFSERR_ACCES}, {EBUSY, NFSERR_ACCES},    {EINVAL, NFSERR_ACCES},
};

// The host directory of an export, found again at most every 30 seconds
// (an administrator may move what a drive letter or directory stands for).
bool ExportHostPath(const EXPORT_ENTRY &entry, std::string &host) {
  struct Known {
    std::string host;
    time_t found_at;
  };
  static std::map<std::string, Known> known;
  time_t now = time(nullptr);
  auto it = known.find(entry.path);
  if (it != known.end() && now >= it->second.found_at && now - it->second.found_at < 30) {
    host = it->second.host;
    return true;
  }
  const char *root_path = HandleToPath(entry.handle);
  DWORD error = 0;
  if (!root_path || !qx::HostPath(root_path, host, error)) return false;
  if (known.size() > 256) known.clear();
  known[entry.path] = Known{host, now};
  return true;
}

}  // namespace

int NfsStatusFromErrno(int err) {
  for (const ErrnoStatus &e : kErrnoStatus)
    if (e.err == err) return e.status;
  return NFSERR_IO;
}

int CheckHandle(const NFS_FHANDLE &handle, uint32_t source, ResolvedHandle &out) {
  out.handle = handle;
  out.source = source;
  int status = CheckHandleAccess(handle, source, &out.read_only, &out.export_entry);
  if (status != NFS_OK) return status;
  out.read_only = out.read_only || HandleIsReadOnly(handle);
  return NFS_OK;
}

int ResolveHandle(const NFS_FHANDLE &handle, uint32_t source, ResolvedHandle &out) {
  int status = CheckHandle(handle, source, out);
  return status == NFS_OK ? ResolvePath(out) : status;
}

int ResolvePath(ResolvedHandle &out) {
  if (out.root.valid()) return NFS_OK;
  const char *path = HandleToPath(out.handle);
  if (!path) return NFSERR_STALE;
  out.path = path;
  std::string root_host, host;
  DWORD error = 0;
  if (!ExportHostPath(*out.export_entry, root_host) || !qx::HostPath(out.path, host, error)) return NFSERR_STALE;
  while (root_host.size() > 1 && root_host.back() == '/') root_host.pop_back();
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  if (host == root_host) {
    out.rel = ".";
  } else if (host.size() > root_host.size() && host.compare(0, root_host.size(), root_host) == 0 &&
             (root_host == "/" || host[root_host.size()] == '/')) {
    out.rel = host.substr(root_host == "/" ? 1 : root_host.size() + 1);
  } else {
    return NFSERR_STALE;
  }
  out.root_host = root_host;
  out.root.Reset(open(root_host.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  return out.root.valid() ? NFS_OK : NFSERR_STALE;
}

int OpenBeneath(const ResolvedHandle &r, const std::string &rel, int flags, mode_t mode) {
  open_how how{};
  how.flags = uint64_t(flags | O_CLOEXEC);
  how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  long fd = syscall(SYS_openat2, r.root.get(), rel.c_str(), &how, sizeof how);
  return fd >= 0 ? int(fd) : -errno;
}

std::string ChildRel(const ResolvedHandle &r, const std::string &name) {
  return r.rel == "." ? name : r.rel + "/" + name;
}

int OpenParent(const ResolvedHandle &r, std::string &last) {
  if (r.rel == ".") return -EACCES;  // the exported directory's own entry is not the client's
  size_t slash = r.rel.rfind('/');
  last = slash == std::string::npos ? r.rel : r.rel.substr(slash + 1);
  return OpenBeneath(r, slash == std::string::npos ? "." : r.rel.substr(0, slash), O_PATH | O_DIRECTORY);
}

void StatToFileStat(const struct stat &st, int drive, const std::string &host_path, FILE_STAT &out) {
  out = FILE_STAT();
  out.size = st.st_size > 0xFFFFFFFFll ? 0xFFFFFFFFu : uint32_t(st.st_size);
  out.atime = TimeOf(st.st_atim);
  out.mtime = TimeOf(st.st_mtim);
  out.ctime = TimeOf(st.st_ctim);
  out.fileid = Fold(st.st_ino);
  out.nlink = uint32_t(st.st_nlink);
  bool nt_security = drive >= 1 && drive <= 26 && (g_DriveFlags[drive] & kDriveNtSecurity);
  if (S_ISDIR(st.st_mode)) {
    out.kind = kKindDirectory | kKindBase;
    if (!nt_security) out.mtime = NfsTime{uint32_t(time(nullptr)), 0};
  } else {
    out.kind = kKindFile | kKindBase;
  }
  if (st.st_mode & 0222) out.kind |= kKindWritable;
  if (S_ISLNK(st.st_mode)) {
    out.kind = kKindLink;
  } else if (StoredAttributes(host_path) & FILE_ATTRIBUTE_HIDDEN) {
    out.kind = kKindHidden;
  }
  if (nt_security) {
    out.has_identity = true;
    out.uid = CallerUid;
    out.gid = CallerGid;
    out.permissions = FileIdentityOfStatus(st.st_uid, st.st_gid, st.st_mode, out.uid, out.gid);
  }
}

int GetFileStat(const ResolvedHandle &r, const std::string &rel, FILE_STAT &stat) {
  UniqueFd fd(OpenBeneath(r, rel, O_PATH | O_NOFOLLOW));
  if (!fd.valid()) return fd.get();
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return -errno;
  StatToFileStat(st, HandleDrive(r.handle), rel == "." ? r.root_host : r.root_host + "/" + rel, stat);
  return 0;
}

int GetFileStat(const ResolvedHandle &r, FILE_STAT &stat) { return GetFileStat(r, r.rel, stat); }

void FillFattr(XdrWriter &out, const FILE_STAT &stat, NFS_FHANDLE &handle) {
  uint32_t type, mode, size;
  if (stat.kind & kKindDirectory) {
    type = 2;
    mode = 0040000;
    size = 512;
    SetHandleDirectory(handle, true);
  } else {
    type = 1;
    mode = 0100000;
    size = stat.size;
    SetHandleDirectory(handle, false);
  }
  if (stat.kind & kKindLink) {
    type = 5;
    mode |= 020777;
  } else if (stat.kind & kKindHidden) {
    mode |= 04000;
  }
  uint32_t uid = uint32_t(CallerUid), gid = uint32_t(CallerGid);
  if (stat.has_identity) {
    mode |= stat.permissions;
    uid = uint32_t(stat.uid);
    gid = uint32_t(stat.gid);
  } else {
    if (HandleIsDirectory(handle)) mode |= 0777;
    mode |= (stat.kind & kKindWritable) ? 0777 : 0555;
  }
  const uint32_t words[] = {type,
                            mode,
                            stat.nlink,
                            uid,
                            gid,
                            size,
                            512,
                            0,
                            size / 512 + 1,
                            uint32_t(HandleDrive(handle)) << 24,
                            stat.fileid,
                            stat.atime.seconds,
                            stat.atime.useconds,
                            stat.mtime.seconds,
                            stat.mtime.useconds,
                            stat.ctime.seconds,
                            stat.ctime.useconds};
  for (uint32_t w : words) out.Long(w);
}
