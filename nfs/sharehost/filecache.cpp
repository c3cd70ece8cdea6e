// The open-file cache, the rename ring, READ, WRITE and READLINK.
//
// Transfers use positioned reads and writes (pread/pwrite), so no slot keeps
// a file position and no seek is ever needed. Files are opened for writing
// with O_DSYNC: NFS version 2 has no COMMIT, so a WRITE is answered only
// once its data is on disk.
#include "filecache.h"

#include <fcntl.h>
#include <sys/fsuid.h>

#include <cerrno>
#include <cstring>

#include "rpc.h"
#include "settings.h"

namespace {

OPEN_FILE_SLOT g_slots[kOpenFileSlots];
uint32_t g_counter = 0;

struct RENAME_RING {
  NFS_FHANDLE old_handle[2]{};
  NFS_FHANDLE new_handle[2]{};
  bool used[2] = {false, false};
  int next = 0;
};
RENAME_RING g_renames;

constexpr uint32_t kMaxLinkTarget = 1024;  // NFS version 2's longest path
constexpr uint32_t kMaxReadData = 8192;    // NFS version 2's largest transfer

bool SameHandle(const NFS_FHANDLE &a, const NFS_FHANDLE &b) { return memcmp(a.data, b.data, kHandleSize) == 0; }

void CloseSlot(OPEN_FILE_SLOT &slot) {
  slot.fd.Reset();
  slot.flags = 0;
}

// Opens a regular file beneath the export, never following a final symbolic
// link and never waiting on a FIFO. -errno on failure.
int OpenRegular(const ResolvedHandle &r, int flags) {
  UniqueFd fd(OpenBeneath(r, r.rel, flags | O_NOFOLLOW | O_NONBLOCK));
  if (!fd.valid()) return fd.get();
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return -errno;
  if (S_ISDIR(st.st_mode)) return -EISDIR;
  if (!S_ISREG(st.st_mode)) return -EACCES;  // devices, FIFOs and sockets are not served
  fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  return fd.Release();
}

// Read and write, or read-only. A file whose owner took away every write
// bit is opened for writing all the same when the caller is its owner (a
// client that creates a file read-only and then writes it, as cp and tar
// do): its mode is opened up for the moment of the open and put back.
int OpenForCaller(const ResolvedHandle &r, bool &writable) {
  writable = false;
  if (!r.read_only) {
    int fd = OpenRegular(r, O_RDWR | O_DSYNC);
    if (fd >= 0) {
      writable = true;
      return fd;
    }
    if (fd != -EACCES) return fd;
  }
  UniqueFd fd(OpenRegular(r, O_RDONLY));
  if (!fd.valid() || r.read_only) return fd.valid() ? fd.Release() : fd.get();
  struct stat st {};
  uid_t caller = uid_t(setfsuid(uid_t(-1)));
  if (fstat(fd.get(), &st) != 0 || st.st_uid != caller || (st.st_mode & 0222)) return fd.Release();
  if (fchmod(fd.get(), (st.st_mode & 07777) | S_IWUSR) != 0) return fd.Release();
  int rw = OpenRegular(r, O_RDWR | O_DSYNC);
  fchmod(fd.get(), st.st_mode & 07777);
  if (rw < 0) return fd.Release();
  writable = true;
  return rw;
}

int FindSlot(const NFS_FHANDLE &handle) {
  for (int i = 0; i < kOpenFileSlots; ++i) {
    const OPEN_FILE_SLOT &s = g_slots[i];
    if ((s.flags & 1) && SameHandle(s.handle, handle) && s.uid == CallerUid && s.gid == CallerGid) return i;
  }
  return -1;
}

// The handle a renamed file now has, when one of the last two renames moved it.
const NFS_FHANDLE *RenamedTo(const NFS_FHANDLE &handle) {
  for (int i = 0; i < 2; ++i)
    if (g_renames.used[i] && SameHandle(g_renames.old_handle[i], handle)) return &g_renames.new_handle[i];
  return nullptr;
}

}  // namespace

int OpenRegularFile(const ResolvedHandle &r, int flags) { return OpenRegular(r, flags); }

int AllocOpenFileSlot() {
  int pick = -1;
  for (int i = 0; i < kOpenFileSlots && pick < 0; ++i)
    if (!(g_slots[i].flags & 1)) pick = i;
  if (pick < 0) {
    uint32_t oldest = 0;
    for (int i = 0; i < kOpenFileSlots; ++i) {
      uint32_t age = g_counter - g_slots[i].stamp;
      if (pick < 0 || age > oldest) {
        pick = i;
        oldest = age;
      }
    }
    CloseSlot(g_slots[pick]);
  }
  OPEN_FILE_SLOT &slot = g_slots[pick];
  slot.flags = 0;
  slot.stamp = g_counter++;
  return pick;
}

OPEN_FILE_SLOT &CachedFileSlot(int index) { return g_slots[index]; }

int FindCachedFile(const NFS_FHANDLE &handle) { return FindSlot(handle); }

void RefreshSlotStat(OPEN_FILE_SLOT &slot) {
  struct stat st {};
  if (fstat(slot.fd.get(), &st) != 0) return;
  FILE_STAT &f = slot.stat;
  f.size = st.st_size > 0xFFFFFFFFll ? 0xFFFFFFFFu : uint32_t(st.st_size);
  f.atime = NfsTime{uint32_t(st.st_atim.tv_sec), uint32_t(st.st_atim.tv_nsec / 1000)};
  f.mtime = NfsTime{uint32_t(st.st_mtim.tv_sec), uint32_t(st.st_mtim.tv_nsec / 1000)};
  f.ctime = NfsTime{uint32_t(st.st_ctim.tv_sec), uint32_t(st.st_ctim.tv_nsec / 1000)};
  f.nlink = uint32_t(st.st_nlink);
  if (st.st_mode & 0222)
    f.kind |= kKindWritable;
  else if (f.kind & kKindFile)
    f.kind &= uint16_t(~kKindWritable);
}

int OpenCachedFile(ResolvedHandle &r, uint32_t source) {
  if (HandleIsDirectory(r.handle)) return -NFSERR_ISDIR;
  int hit = FindSlot(r.handle);
  if (hit >= 0) return hit;
  if (int status = ResolvePath(r); status != NFS_OK) return -status;
  bool writable = false;
  int fd = OpenForCaller(r, writable);
  ResolvedHandle moved;
  if (fd == -ENOENT) {
    // A file renamed by one of the last two renames is reached through its new name.
    if (const NFS_FHANDLE *now = RenamedTo(r.handle); now && ResolveHandle(*now, source, moved) == NFS_OK) {
      moved.read_only = moved.read_only || r.read_only;
      fd = OpenForCaller(moved, writable);
    }
  }
  if (fd < 0) return fd == -ENOENT ? -NFSERR_STALE : -NfsStatusFromErrno(-fd);
  const ResolvedHandle &opened = moved.root.valid() ? moved : r;
  int index = AllocOpenFileSlot();
  OPEN_FILE_SLOT &slot = g_slots[index];
  slot.fd.Reset(fd);
  slot.writable = writable;
  slot.handle = r.handle;
  slot.uid = CallerUid;
  slot.gid = CallerGid;
  if (GetFileStat(opened, slot.stat) != 0) {
    CloseSlot(slot);
    return -NFSERR_STALE;
  }
  slot.flags = 1;
  return index;
}

void CloseCachedFile(const NFS_FHANDLE &handle) {
  if (HandleIsDirectory(handle)) return;
  for (OPEN_FILE_SLOT &s : g_slots)
    if ((s.flags & 1) && SameHandle(s.handle, handle)) CloseSlot(s);
}

// Every WRITE is on disk when it is answered (O_DSYNC), and the status the
// next request reads is the kernel's, so an open slot holds nothing to flush:
// syncing it at every LOOKUP only cost a journal flush per call.
void FlushCachedFile(const NFS_FHANDLE &) {}

void CloseAllCachedFiles() {
  for (OPEN_FILE_SLOT &s : g_slots)
    if (s.flags & 1) CloseSlot(s);
}

void RememberRename(const NFS_FHANDLE &old_handle, const NFS_FHANDLE &new_handle) {
  int i = g_renames.next;
  g_renames.old_handle[i] = old_handle;
  g_renames.new_handle[i] = new_handle;
  g_renames.used[i] = true;
  g_renames.next = 1 - i;
}

int NfsReadFile(ResolvedHandle &r, uint32_t source, uint32_t offset, uint32_t count, XdrWriter &out) {
  int index = OpenCachedFile(r, source);
  if (index < 0) return -index;
  OPEN_FILE_SLOT &slot = g_slots[index];
  if (count > g_Settings.transfer_size) count = g_Settings.transfer_size;
  if (count > kMaxReadData) count = kMaxReadData;
  // The data is read straight into the reply, after the status and attributes.
  out.Long(NFS_OK);
  FillFattr(out, slot.stat, r.handle);
  uint8_t *data = out.BeginOpaque(count);
  if (!data) return NFSERR_IO;
  ssize_t got = pread(slot.fd.get(), data, count, off_t(offset));
  if (got < 0) return NfsStatusFromErrno(errno) == NFSERR_ISDIR ? NFSERR_ISDIR : NFSERR_ACCES;
  out.EndOpaque(size_t(got));
  return NFS_OK;
}

int NfsWriteFile(ResolvedHandle &r, uint32_t source, uint32_t offset, std::string_view data, XdrWriter &out) {
  if (r.read_only) return NFSERR_ROFS;
  if (HandleIsDirectory(r.handle)) return NFSERR_ISDIR;
  int index = OpenCachedFile(r, source);
  if (index < 0) return -index;
  OPEN_FILE_SLOT &slot = g_slots[index];
  if (!slot.writable) return NFSERR_ACCES;
  if (offset > slot.stat.size) {
    ++REQUEST_COUNTERS[7];  // "Holes:"
    // With "/h" the gap gets real disk blocks (zeros) instead of a sparse hole.
    if (g_Settings.holes) posix_fallocate(slot.fd.get(), off_t(slot.stat.size), off_t(offset - slot.stat.size));
  }
  size_t done = 0;
  int error = 0;
  while (done < data.size()) {
    ssize_t n = pwrite(slot.fd.get(), data.data() + done, data.size() - done, off_t(offset) + off_t(done));
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    done += size_t(n);
  }
  RefreshSlotStat(slot);
  if (done < data.size()) {
    int status = NfsStatusFromErrno(error);
    return status == NFSERR_IO ? NFSERR_IO : NFSERR_NOSPC;
  }
  out.Long(NFS_OK);
  FillFattr(out, slot.stat, r.handle);
  return NFS_OK;
}

int NfsReadLink(ResolvedHandle &r, uint32_t source, XdrWriter &out) {
  FILE_STAT stat;
  if (int rc = GetFileStat(r, stat); rc != 0) return rc == -ENOENT ? NFSERR_STALE : NfsStatusFromErrno(-rc);
  char target[kMaxLinkTarget];
  ssize_t got = 0;
  if (stat.kind & kKindLink) {
    std::string last;
    UniqueFd dir(OpenParent(r, last));
    if (!dir.valid()) return NfsStatusFromErrno(-dir.get());
    got = readlinkat(dir.get(), last.c_str(), target, sizeof target);
    if (got < 0) return NfsStatusFromErrno(errno);
  } else {
    // Any other file is read from its start, as links made as plain files hold their target.
    int index = OpenCachedFile(r, source);
    if (index < 0) return -index;
    got = pread(g_slots[index].fd.get(), target, sizeof target, 0);
    if (got < 0) return NFSERR_ACCES;
  }
  out.Long(NFS_OK);
  out.String(std::string_view(target, size_t(got)));
  return NFS_OK;
}
