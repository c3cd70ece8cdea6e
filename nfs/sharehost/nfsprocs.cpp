// NFS version 2: the procedure table, argument decoding, root squash, and
// the procedures that look up, make, change and remove files.
//
// Names are taken from clients only through LongNameLookup (which refuses
// separators, wildcards, "." and "..", reserved and device names), and every
// change is made with the *at calls on a directory opened beneath the export,
// never through a path the kernel would resolve from the root.
#include "nfsprocs.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "filecache.h"
#include "idmaps.h"
#include "longnames.h"
#include "nlm.h"
#include "readdir.h"
#include "settings.h"

namespace {

constexpr uint32_t kMaxName = 255;        // NFS version 2's longest name
constexpr uint32_t kMaxNameRead = 1024;   // read whole, then refused as too long
constexpr uint32_t kMaxPath = 1024;       // a symbolic link's target
constexpr uint32_t kMaxWriteData = 8192;  // NFS version 2's largest transfer
constexpr int kGarbage = -1;              // arguments that do not decode

struct Request {
  RpcCall &call;
  const RpcPeer &from;
  XdrWriter &out;
  uint32_t source() const { return from.address; }
};

// ---------------------------------------------------------------------------
// Arguments.

bool ReadHandle(XdrReader &in, NFS_FHANDLE &h) {
  const uint8_t *bytes = nullptr;
  if (!in.Fixed(bytes, kHandleSize)) return false;
  memcpy(h.data, bytes, kHandleSize);
  return true;
}

// A name: false when it does not decode; a name past 255 bytes decodes and
// is answered NFSERR_NAMETOOLONG by the caller.
bool ReadName(XdrReader &in, std::string &name) { return in.String(name, kMaxNameRead); }

bool ReadSattr(XdrReader &in, NfsSattr &s) {
  return in.Long(s.mode) && in.Long(s.uid) && in.Long(s.gid) && in.Long(s.size) && in.Long(s.atime.seconds) &&
         in.Long(s.atime.useconds) && in.Long(s.mtime.seconds) && in.Long(s.mtime.useconds);
}

// ---------------------------------------------------------------------------
// Names in a directory.

bool DriveHasLongNames(const NFS_FHANDLE &h) {
  int drive = HandleDrive(h);
  return drive >= 1 && drive <= 26 && (g_DriveFlags[drive] & kDriveLongNames);
}

bool DriveHasNtSecurity(const NFS_FHANDLE &h) {
  int drive = HandleDrive(h);
  return drive >= 1 && drive <= 26 && (g_DriveFlags[drive] & kDriveNtSecurity);
}

bool IsShortShape(const std::string &name) {
  size_t dot = name.find('.');
  if (dot == std::string::npos) return name.size() <= 8;
  return name.find('.', dot + 1) == std::string::npos && dot >= 1 && dot <= 8 && name.size() - dot - 1 <= 3;
}

struct OnDisk {
  std::string name;
  bool from_table = false;  // an alias of the directory's long-name table
  bool allocated = false;   // a record made for this request
};

// The on-disk name of an existing entry: NFS_OK, or NFSERR_NOENT.
// An entry spelt exactly as the client spells it, found without listing the
// directory (the common case, and cheap in a directory of many entries).
bool ExactEntry(const ResolvedHandle &dir, const std::string &name) {
  if (!IsPlainName(name.c_str()) || IsReservedName(name.c_str())) return false;
  UniqueFd d(OpenBeneath(dir, dir.rel, O_PATH | O_DIRECTORY));
  struct stat st {};
  return d.valid() && fstatat(d.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

int ExistingName(const ResolvedHandle &dir, const std::string &name, OnDisk &out) {
  if (name.size() > kMaxName) return NFSERR_NAMETOOLONG;
  if (DriveHasLongNames(dir.handle) && ExactEntry(dir, name)) {
    out.name = name;
    return NFS_OK;
  }
  const char *found = LongNameLookup(name.c_str(), dir.handle, false);
  if (!found) return NFSERR_NOENT;
  out.name = found;
  out.from_table = DecodeAlias(found) >= 0;
  return NFS_OK;
}

// The on-disk name for a name being made or replaced. On a drive without
// long names a name that is not 8.3 gets a record in the long-name table.
int NameToMake(const ResolvedHandle &dir, const std::string &name, OnDisk &out) {
  if (name.size() > kMaxName) return NFSERR_NAMETOOLONG;
  // Drives with long names keep every name as it is (case is kept too: a
  // name that differs from another only in case is held by its alternate).
  if (DriveHasLongNames(dir.handle)) {
    if (!IsPlainName(name.c_str()) || IsReservedName(name.c_str())) return NFSERR_ACCES;
    out.name = name;
    return NFS_OK;
  }
  const char *found = LongNameLookup(name.c_str(), dir.handle, true);
  if (!found) return IsPlainName(name.c_str()) && !IsReservedName(name.c_str()) ? NFSERR_EXIST : NFSERR_ACCES;
  out.name = found;
  out.from_table = DecodeAlias(found) >= 0;
  if (!out.from_table && !DriveHasLongNames(dir.handle) && !IsShortShape(out.name)) {
    struct stat st {};
    UniqueFd d(OpenBeneath(dir, dir.rel, O_PATH | O_DIRECTORY));
    if (!d.valid() || fstatat(d.get(), out.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      std::string alias = AllocateNameRecord(name.c_str(), dir.handle);
      if (alias.empty()) return NFSERR_NAMETOOLONG;
      out.name = alias;
      out.from_table = out.allocated = true;
    }
  }
  return NFS_OK;
}

void ForgetAllocated(const ResolvedHandle &dir, const OnDisk &name) {
  if (name.allocated) FreeNameRecord(dir.handle, name.name.c_str());
}

// The handle of an entry, or the NFS status that says why there is none.
int ChildOf(const ResolvedHandle &dir, const std::string &name, NFS_FHANDLE &child) {
  // A directory named for the first time is appended to the server's state
  // file, which is the server's own and not the caller's to write.
  std::string own = HandleLastName(dir.handle);
  std::optional<ActAsCaller> server;
  if (!own.empty() && FindDirName(ReformName(own.c_str(), kLastNameSize)) == 0) server.emplace(geteuid(), getegid());
  NFS_FHANDLE *made = ChildHandle(dir.handle, name.c_str());
  if (!made) return LastChildHandleError();
  child = *made;
  return NFS_OK;
}

// The directory a request changes: its own descriptor beneath the export.
int OpenDirectory(const ResolvedHandle &dir, UniqueFd &fd) {
  if (!HandleIsDirectory(dir.handle)) return NFSERR_NOTDIR;
  fd.Reset(OpenBeneath(dir, dir.rel, O_PATH | O_DIRECTORY));
  return fd.valid() ? NFS_OK : (fd.get() == -ENOENT ? NFSERR_STALE : NfsStatusFromErrno(-fd.get()));
}

// A uid that has an account: mapped, taken by the default account, or a local user.
bool HasAccount(int32_t uid) { return IsUidMapped(uid) || (uid >= 0 && getpwuid(uid_t(uid)) != nullptr); }

// The handle and attributes of an entry (LOOKUP, CREATE, MKDIR replies).
int ReplyEntry(Request &req, ResolvedHandle &dir, const std::string &name, NFS_FHANDLE child) {
  FILE_STAT stat;
  if (int rc = GetFileStat(dir, ChildRel(dir, name), stat); rc != 0)
    return rc == -ENOENT ? NFSERR_NOENT : NfsStatusFromErrno(-rc);
  SetHandleDirectory(child, (stat.kind & kKindDirectory) != 0);
  req.out.Long(NFS_OK);
  req.out.Fixed(child.data, kHandleSize);
  FillFattr(req.out, stat, child);
  return NFS_OK;
}

int Resolve(Request &req, const NFS_FHANDLE &h, ResolvedHandle &r) { return ResolveHandle(h, req.source(), r); }

// ---------------------------------------------------------------------------
// Procedures. Each returns an NFS status (the reply body is then the status
// alone) or NFS_OK with the whole body written; kGarbage for arguments that
// do not decode.

int Getattr(Request &req) {
  NFS_FHANDLE h;
  if (!ReadHandle(req.call.args, h)) return kGarbage;
  ResolvedHandle r;
  if (int s = Resolve(req, h, r); s != NFS_OK) return s;
  CloseCachedFile(h);
  FILE_STAT stat;
  if (int rc = GetFileStat(r, stat); rc != 0) return rc == -ENOENT ? NFSERR_STALE : NfsStatusFromErrno(-rc);
  req.out.Long(NFS_OK);
  FillFattr(req.out, stat, r.handle);
  return NFS_OK;
}

int Setattr(Request &req) {
  NFS_FHANDLE h;
  NfsSattr sattr;
  if (!ReadHandle(req.call.args, h) || !ReadSattr(req.call.args, sattr)) return kGarbage;
  ResolvedHandle r;
  if (int s = Resolve(req, h, r); s != NFS_OK) return s;
  if (CallerUid != 0) sattr.uid = 0xFFFFFFFF;  // only root gives files away
  int status = NfsSetattr(r, sattr, CallerUid, req.source());
  if (status != NFS_OK) return status;
  FILE_STAT stat;
  if (int rc = GetFileStat(r, stat); rc != 0) return NFSERR_STALE;
  req.out.Long(NFS_OK);
  FillFattr(req.out, stat, r.handle);
  return NFS_OK;
}

int Lookup(Request &req) {
  NFS_FHANDLE h;
  std::string name;
  if (!ReadHandle(req.call.args, h) || !ReadName(req.call.args, name)) return kGarbage;
  ResolvedHandle dir;
  if (int s = Resolve(req, h, dir); s != NFS_OK) return s;
  if (name == "." || name == "..") {
    NFS_FHANDLE target = h;
    if (name == "..") ExportParentHandle(target, *dir.export_entry);
    ResolvedHandle r;
    if (int s = Resolve(req, target, r); s != NFS_OK) return s;
    FILE_STAT stat;
    if (GetFileStat(r, stat) != 0) return NFSERR_NOENT;
    SetHandleDirectory(target, (stat.kind & kKindDirectory) != 0);
    req.out.Long(NFS_OK);
    req.out.Fixed(target.data, kHandleSize);
    FillFattr(req.out, stat, target);
    return NFS_OK;
  }
  if (!HandleIsDirectory(h)) return NFSERR_NOTDIR;
  OnDisk on_disk;
  if (int s = ExistingName(dir, name, on_disk); s != NFS_OK) return s;
  NFS_FHANDLE child;
  if (int s = ChildOf(dir, on_disk.name, child); s != NFS_OK) return s;
  FlushCachedFile(child);
  return ReplyEntry(req, dir, on_disk.name, child);
}

int Readlink(Request &req) {
  NFS_FHANDLE h;
  if (!ReadHandle(req.call.args, h)) return kGarbage;
  ResolvedHandle r;
  if (int s = Resolve(req, h, r); s != NFS_OK) return s;
  return NfsReadLink(r, req.source(), req.out);
}

int Read(Request &req) {
  NFS_FHANDLE h;
  uint32_t offset = 0, count = 0, total = 0;
  if (!ReadHandle(req.call.args, h) || !req.call.args.Long(offset) || !req.call.args.Long(count) ||
      !req.call.args.Long(total))
    return kGarbage;
  ResolvedHandle r;
  if (int s = CheckHandle(h, req.source(), r); s != NFS_OK) return s;
  if (HandleIsDirectory(h)) return NFSERR_ISDIR;
  if (!NlmTransferAllowed(h, req.source(), offset, count, false)) return NFSERR_ACCES;
  // A file the cache holds open for this caller needs neither its path nor
  // the caller's identity: its descriptor was opened under that identity.
  if (FindCachedFile(h) >= 0) return NfsReadFile(r, req.source(), offset, count, req.out);
  ActAsCaller as{uid_t(CallerUid), gid_t(CallerGid)};
  return as.ok() ? NfsReadFile(r, req.source(), offset, count, req.out) : NFSERR_ACCES;
}

int Write(Request &req) {
  NFS_FHANDLE h;
  uint32_t begin = 0, offset = 0, total = 0;
  std::string_view data;
  if (!ReadHandle(req.call.args, h) || !req.call.args.Long(begin) || !req.call.args.Long(offset) ||
      !req.call.args.Long(total) || !req.call.args.Opaque(data, kMaxWriteData))
    return kGarbage;
  ResolvedHandle r;
  if (int s = CheckHandle(h, req.source(), r); s != NFS_OK) return s;
  if (!NlmTransferAllowed(h, req.source(), offset, uint32_t(data.size()), true)) return NFSERR_ACCES;
  if (FindCachedFile(h) >= 0) return NfsWriteFile(r, req.source(), offset, data, req.out);
  ActAsCaller as{uid_t(CallerUid), gid_t(CallerGid)};
  return as.ok() ? NfsWriteFile(r, req.source(), offset, data, req.out) : NFSERR_ACCES;
}

// CREATE and MKDIR: the arguments, the directory and the name to make.
struct Making {
  NFS_FHANDLE dir_handle{};
  std::string name;
  NfsSattr sattr;
  ResolvedHandle dir;
  UniqueFd dfd;
  OnDisk on_disk;
};

int BeginMake(Request &req, Making &m) {
  if (!ReadHandle(req.call.args, m.dir_handle) || !ReadName(req.call.args, m.name) ||
      !ReadSattr(req.call.args, m.sattr))
    return kGarbage;
  if (int s = Resolve(req, m.dir_handle, m.dir); s != NFS_OK) return s;
  if (m.dir.read_only) return NFSERR_ROFS;
  if (DriveHasNtSecurity(m.dir_handle)) {
    if (!HasAccount(CallerUid)) return NFSERR_ACCES;
    m.sattr.uid = uint32_t(CallerUid);
  }
  if (int s = OpenDirectory(m.dir, m.dfd); s != NFS_OK) return s;
  return NameToMake(m.dir, m.name, m.on_disk);
}

// The new entry's handle (made once the entry exists: a long name is held by
// the 8.3 alternate the file layer gives it), the sattr applied as the
// caller, and the reply with the attributes read back.
int FinishMake(Request &req, Making &m) {
  NFS_FHANDLE child;
  if (int s = ChildOf(m.dir, m.on_disk.name, child); s != NFS_OK) return s;
  ResolvedHandle made;
  if (Resolve(req, child, made) == NFS_OK) NfsSetattr(made, m.sattr, CallerUid, req.source());
  return ReplyEntry(req, m.dir, m.on_disk.name, child);
}

int Create(Request &req) {
  Making m;
  if (int s = BeginMake(req, m); s != NFS_OK) return s;
  NFS_FHANDLE existing;
  if (ChildOf(m.dir, m.on_disk.name, existing) == NFS_OK) CloseCachedFile(existing);
  mode_t mode = m.sattr.mode != 0xFFFFFFFF ? mode_t(m.sattr.mode & 07777) : 0644;
  // An existing file is opened unchanged (a size of 0 in the sattr truncates it).
  int fd = openat(m.dfd.get(), m.on_disk.name.c_str(), O_CREAT | O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) {
    int err = errno;
    ForgetAllocated(m.dir, m.on_disk);
    return NfsStatusFromErrno(err);
  }
  close(fd);
  return FinishMake(req, m);
}

int Mkdir(Request &req) {
  Making m;
  if (int s = BeginMake(req, m); s != NFS_OK) return s;
  mode_t mode = m.sattr.mode != 0xFFFFFFFF ? mode_t(m.sattr.mode & 07777) : 0755;
  if (mkdirat(m.dfd.get(), m.on_disk.name.c_str(), mode) != 0) {
    int err = errno;
    ForgetAllocated(m.dir, m.on_disk);
    return NfsStatusFromErrno(err);
  }
  return FinishMake(req, m);
}

int Symlink(Request &req) {
  NFS_FHANDLE h;
  std::string name, target;
  NfsSattr sattr;
  if (!ReadHandle(req.call.args, h) || !ReadName(req.call.args, name) || !req.call.args.String(target, kMaxPath) ||
      !ReadSattr(req.call.args, sattr))
    return kGarbage;
  ResolvedHandle dir;
  if (int s = Resolve(req, h, dir); s != NFS_OK) return s;
  if (dir.read_only) return NFSERR_ROFS;
  if (DriveHasNtSecurity(h) && !HasAccount(CallerUid)) return NFSERR_ACCES;
  if (target.empty()) return NFSERR_ACCES;
  UniqueFd dfd;
  if (int s = OpenDirectory(dir, dfd); s != NFS_OK) return s;
  OnDisk on_disk;
  if (int s = NameToMake(dir, name, on_disk); s != NFS_OK) return s;
  // The target is kept as the client wrote it; the server itself never
  // follows a link out of an export, whatever it names.
  if (symlinkat(target.c_str(), dfd.get(), on_disk.name.c_str()) != 0) {
    int err = errno;
    ForgetAllocated(dir, on_disk);
    return NfsStatusFromErrno(err);
  }
  req.out.Long(NFS_OK);
  return NFS_OK;
}

// Removes the only entry a directory may hold besides what the client sees:
// its long-name table. True when that was the one entry.
bool RemoveLoneMapTable(int parent, const std::string &name) {
  UniqueFd d(openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!d.valid()) return false;
  int dup_fd = dup(d.get());
  DIR *list = dup_fd >= 0 ? fdopendir(dup_fd) : nullptr;
  if (!list) {
    if (dup_fd >= 0) close(dup_fd);
    return false;
  }
  int others = 0;
  bool table = false;
  while (dirent *e = readdir(list)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    if (!strcmp(e->d_name, kMapTableName))
      table = true;
    else
      ++others;
  }
  closedir(list);
  return table && others == 0 && unlinkat(d.get(), kMapTableName, 0) == 0;
}

int RemoveEntry(Request &req, bool directory) {
  NFS_FHANDLE h;
  std::string name;
  if (!ReadHandle(req.call.args, h) || !ReadName(req.call.args, name)) return kGarbage;
  ResolvedHandle dir;
  if (int s = Resolve(req, h, dir); s != NFS_OK) return s;
  if (!HandleIsDirectory(h)) return NFSERR_NOTDIR;
  if (dir.read_only) return NFSERR_ROFS;
  UniqueFd dfd;
  if (int s = OpenDirectory(dir, dfd); s != NFS_OK) return s;
  OnDisk on_disk;
  if (int s = ExistingName(dir, name, on_disk); s != NFS_OK) return s;
  NFS_FHANDLE child;
  if (ChildOf(dir, on_disk.name, child) == NFS_OK) CloseCachedFile(child);
  int rc = unlinkat(dfd.get(), on_disk.name.c_str(), directory ? AT_REMOVEDIR : 0);
  if (rc != 0 && directory && (errno == ENOTEMPTY || errno == EEXIST)) {
    CloseMapTable();
    if (RemoveLoneMapTable(dfd.get(), on_disk.name)) rc = unlinkat(dfd.get(), on_disk.name.c_str(), AT_REMOVEDIR);
    if (rc != 0) errno = ENOTEMPTY;
  }
  if (rc != 0) return NfsStatusFromErrno(errno);
  if (on_disk.from_table) FreeNameRecord(dir.handle, on_disk.name.c_str());
  req.out.Long(NFS_OK);
  return NFS_OK;
}

int Remove(Request &req) { return RemoveEntry(req, false); }
int Rmdir(Request &req) { return RemoveEntry(req, true); }

int Rename(Request &req) {
  NFS_FHANDLE fh, th;
  std::string from_name, to_name;
  if (!ReadHandle(req.call.args, fh) || !ReadName(req.call.args, from_name) || !ReadHandle(req.call.args, th) ||
      !ReadName(req.call.args, to_name))
    return kGarbage;
  ResolvedHandle from, to;
  if (int s = Resolve(req, fh, from); s != NFS_OK) return s;
  if (int s = Resolve(req, th, to); s != NFS_OK) return s;
  if (HandleDrive(fh) != HandleDrive(th)) return NFSERR_ACCES;
  if (from.read_only || to.read_only) return NFSERR_ROFS;
  UniqueFd ffd, tfd;
  if (int s = OpenDirectory(from, ffd); s != NFS_OK) return s;
  if (int s = OpenDirectory(to, tfd); s != NFS_OK) return s;
  OnDisk source, target;
  if (int s = ExistingName(from, from_name, source); s != NFS_OK) return s;
  NFS_FHANDLE old_handle;
  if (int s = ChildOf(from, source.name, old_handle); s != NFS_OK) return s;
  CloseCachedFile(old_handle);
  if (int s = NameToMake(to, to_name, target); s != NFS_OK) return s;
  NFS_FHANDLE replaced;
  if (ChildOf(to, target.name, replaced) == NFS_OK) CloseCachedFile(replaced);
  // One step that replaces an existing target: if it fails, the target is still there.
  if (renameat(ffd.get(), source.name.c_str(), tfd.get(), target.name.c_str()) != 0) {
    int err = errno;
    ForgetAllocated(to, target);
    return NfsStatusFromErrno(err);
  }
  if (source.from_table) FreeNameRecord(from.handle, source.name.c_str());
  NFS_FHANDLE new_handle;
  if (ChildOf(to, target.name, new_handle) == NFS_OK) RememberRename(old_handle, new_handle);
  req.out.Long(NFS_OK);
  return NFS_OK;
}

int Link(Request &req) {
  NFS_FHANDLE fh, th;
  std::string to_name;
  if (!ReadHandle(req.call.args, fh) || !ReadHandle(req.call.args, th) || !ReadName(req.call.args, to_name))
    return kGarbage;
  ResolvedHandle from, to;
  if (int s = Resolve(req, fh, from); s != NFS_OK) return s;
  if (int s = Resolve(req, th, to); s != NFS_OK) return s;
  if (HandleDrive(fh) != HandleDrive(th)) return NFSERR_ACCES;
  if (to.read_only) return NFSERR_ROFS;
  std::string last;
  UniqueFd parent(OpenParent(from, last));
  if (!parent.valid()) return NfsStatusFromErrno(-parent.get());
  UniqueFd tfd;
  if (int s = OpenDirectory(to, tfd); s != NFS_OK) return s;
  OnDisk target;
  if (int s = NameToMake(to, to_name, target); s != NFS_OK) return s;
  if (linkat(parent.get(), last.c_str(), tfd.get(), target.name.c_str(), 0) != 0) {
    int err = errno;
    ForgetAllocated(to, target);
    return NfsStatusFromErrno(err);
  }
  req.out.Long(NFS_OK);
  return NFS_OK;
}

int Readdir(Request &req) {
  NFS_FHANDLE h;
  uint32_t cookie = 0, count = 0;
  if (!ReadHandle(req.call.args, h) || !req.call.args.Long(cookie) || !req.call.args.Long(count)) return kGarbage;
  ResolvedHandle dir;
  if (int s = Resolve(req, h, dir); s != NFS_OK) return s;
  return NfsReaddir(dir, cookie, count, req.out);
}

int Statfs(Request &req) {
  NFS_FHANDLE h;
  if (!ReadHandle(req.call.args, h)) return kGarbage;
  ResolvedHandle r;
  if (int s = Resolve(req, h, r); s != NFS_OK) return s;
  struct statvfs fs {};
  if (fstatvfs(r.root.get(), &fs) != 0) return NFSERR_STALE;
  // The counts are 32 bits: a larger file system is described in larger blocks.
  uint64_t bsize = fs.f_frsize ? fs.f_frsize : fs.f_bsize, blocks = fs.f_blocks, avail = fs.f_bavail;
  while (blocks > 0xFFFFFFFFull) {
    bsize *= 2;
    blocks /= 2;
    avail /= 2;
  }
  req.out.Long(NFS_OK);
  req.out.Long(std::min<uint32_t>(g_Settings.transfer_size, kMaxWriteData));  // never past the protocol's 8192
  req.out.Long(uint32_t(bsize));
  req.out.Long(uint32_t(blocks));
  req.out.Long(uint32_t(avail));
  req.out.Long(uint32_t(avail));
  return NFS_OK;
}

using Procedure = int (*)(Request &);
struct ProcedureEntry {
  Procedure run;       // null: an empty reply (NULL, ROOT, WRITECACHE)
  bool counted;        // WRITECACHE is not counted; its counter counts holes
  bool changes_names;  // a directory's entries change: listings are read again
  bool own_identity;   // takes the caller's identity itself, only when it opens a file
};
constexpr ProcedureEntry kProcedures[] = {
    {nullptr, true, false, false}, {Getattr, true, false, false},  {Setattr, true, false, false},
    {nullptr, true, false, false}, {Lookup, true, false, false},   {Readlink, true, false, false},
    {Read, true, false, true},     {nullptr, false, false, false}, {Write, true, false, true},
    {Create, true, true, false},   {Remove, true, true, false},    {Rename, true, true, false},
    {Link, true, true, false},     {Symlink, true, true, false},   {Mkdir, true, true, false},
    {Rmdir, true, true, false},    {Readdir, true, false, false},  {Statfs, true, false, false},
};

// The handle every call's arguments begin with, without consuming it.
bool PeekHandle(const RpcCall &call, NFS_FHANDLE &h) {
  XdrReader copy = call.args;
  return ReadHandle(copy, h);
}

}  // namespace

int32_t RootSquash(const NFS_FHANDLE &handle, uint32_t source) {
  const EXPORT_ENTRY *entry = nullptr;
  bool read_only = false;
  if (CheckHandleAccess(handle, source, &read_only, &entry) != NFS_OK || !entry) return -2;
  return IsRootHost(*entry, source) ? 0 : -2;
}

int NfsSetattr(ResolvedHandle &r, const NfsSattr &sattr, int32_t acting_uid, uint32_t source) {
  if (r.read_only) return NFSERR_ROFS;
  constexpr uint32_t kUnset = 0xFFFFFFFF;
  std::string last;
  UniqueFd parent;
  auto at_parent = [&]() {
    if (!parent.valid() && r.rel != ".") parent.Reset(OpenParent(r, last));
    return parent.valid();
  };
  if (sattr.atime.seconds != kUnset || sattr.mtime.seconds != kUnset) {
    // A microseconds word of 1000000 asks for the server's clock.
    auto spec = [](const NfsTime &t) {
      timespec ts{};
      if (t.seconds == kUnset)
        ts.tv_nsec = UTIME_OMIT;
      else if (t.useconds == 1000000)
        ts.tv_nsec = UTIME_NOW;
      else
        ts = timespec{time_t(t.seconds), long(t.useconds % 1000000) * 1000};
      return ts;
    };
    timespec times[2] = {spec(sattr.atime), spec(sattr.mtime)};
    int rc = at_parent() ? utimensat(parent.get(), last.c_str(), times, AT_SYMLINK_NOFOLLOW)
                         : utimensat(AT_FDCWD, r.root_host.c_str(), times, 0);
    if (rc != 0) return NFSERR_ACCES;
  }
  if (sattr.size != kUnset) {
    int index = OpenCachedFile(r, source);
    if (index < 0) return index == -NFSERR_ISDIR ? NFSERR_ISDIR : NFSERR_ACCES;
    OPEN_FILE_SLOT &slot = CachedFileSlot(index);
    if (!slot.writable || ftruncate(slot.fd.get(), off_t(sattr.size)) != 0) return NFSERR_ACCES;
  }
  CloseCachedFile(r.handle);
  if (DriveHasNtSecurity(r.handle)) {
    if (sattr.uid != kUnset || sattr.gid != kUnset || sattr.mode != kUnset) {
      // The file is reached beneath the export before its security is
      // changed by path; a symbolic link keeps its owner and mode (changing
      // them by path would change the file it names).
      FILE_STAT check;
      if (GetFileStat(r, check) != 0) return NFSERR_STALE;
      if (!(check.kind & kKindLink) &&
          !SetFileIdentity(r.path.c_str(), int32_t(sattr.uid), int32_t(sattr.gid),
                           sattr.mode == kUnset ? -1 : int32_t(sattr.mode & 0777), acting_uid))
        return NFSERR_ACCES;
    }
  } else if (sattr.mode != kUnset && at_parent()) {
    struct stat st {};
    if (fstatat(parent.get(), last.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode)) {
      mode_t mode = st.st_mode & 07777;
      mode = (sattr.mode & 0222) ? (mode | S_IWUSR) : (mode & ~mode_t(0222));
      if (mode != (st.st_mode & 07777) && fchmodat(parent.get(), last.c_str(), mode, 0) != 0) return NFSERR_ACCES;
    }
  }
  return NFS_OK;
}

void NfsHandler(RpcCall &call, const RpcPeer &from) {
  if (call.procedure > NFSPROC_STATFS) return;  // past the protocol: no reply
  const ProcedureEntry &entry = kProcedures[call.procedure];
  if (entry.counted) ++REQUEST_COUNTERS[call.procedure];
  if (!entry.run) {
    RpcSendReply(kNfsSocket, from, 0);
    return;
  }
  if (CallerUid == 0) {
    NFS_FHANDLE h{};
    CallerUid = PeekHandle(call, h) ? RootSquash(h, from.address) : -2;
  }
  XdrWriter out(ReplyBody(), kMaxReplyBody);
  Request req{call, from, out};
  int status;
  if (entry.own_identity) {
    status = entry.run(req);
  } else {
    ActAsCaller as{uid_t(CallerUid), gid_t(CallerGid)};
    status = as.ok() ? entry.run(req) : NFSERR_ACCES;
  }
  if (status == NFS_OK && entry.changes_names) ForgetSearchSlots();
  if (status == kGarbage) {
    RpcSendReply(kNfsSocket, from, 0, RPC_GARBAGE_ARGS);
    return;
  }
  if (status != NFS_OK || !out.ok()) {
    XdrPutLong(ReplyBody(), uint32_t(status != NFS_OK ? status : NFSERR_IO));
    RpcSendReply(kNfsSocket, from, 4);
    return;
  }
  RpcSendReply(kNfsSocket, from, out.length());
}
