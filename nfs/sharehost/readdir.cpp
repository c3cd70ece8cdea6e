// READDIR with name-keyed cookies and the directory search slots.
#include "readdir.h"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "longnames.h"

namespace {

constexpr uint32_t kMaxReplyCount = 2048;
constexpr uint32_t kReserved = 32;  // kept free of entries out of the client's count
constexpr uint32_t kCookieDot = 1, kCookieDotDot = 2, kFirstNameCookie = 3;

struct DirEntry {
  uint32_t cookie;
  uint32_t fileid;
  std::string name;  // as shown to the client
};

struct SEARCH_SLOT {
  bool in_use = false;
  NFS_FHANDLE handle{};
  uint32_t stamp = 0;
  // What the directory looked like when it was read.
  dev_t dev = 0;
  ino_t ino = 0;
  timespec mtime{}, ctime{};
  std::vector<DirEntry> entries;  // ordered by cookie, then name
};

SEARCH_SLOT g_slots[kSearchSlots];
uint32_t g_counter = 0;

bool SameTime(const timespec &a, const timespec &b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

int AllocSearchSlot() {
  int pick = -1;
  for (int i = 0; i < kSearchSlots && pick < 0; ++i)
    if (!g_slots[i].in_use) pick = i;
  if (pick < 0) {
    uint32_t oldest = 0;
    for (int i = 0; i < kSearchSlots; ++i) {
      uint32_t age = g_counter - g_slots[i].stamp;
      if (pick < 0 || age > oldest) {
        pick = i;
        oldest = age;
      }
    }
  }
  g_slots[pick] = SEARCH_SLOT();
  return pick;
}

int FindSearchSlot(const NFS_FHANDLE &handle) {
  for (int i = 0; i < kSearchSlots; ++i)
    if (g_slots[i].in_use && memcmp(g_slots[i].handle.data, handle.data, kHandleSize) == 0) return i;
  return -1;
}

// The name a client sees for an entry, or empty when the entry is not listed.
std::string ShownName(const ResolvedHandle &dir, const char *name, bool long_names) {
  if (!strcmp(name, ".") || !strcmp(name, "..") || !strcmp(name, kMapTableName)) return {};
  if (!strncmp(name, kAliasPrefix, 7)) {
    std::string long_name = ReadNameRecord(dir.handle, name);
    return long_name.empty() ? std::string(name) : long_name;
  }
  // A name the client could not look up again is not offered.
  if (!IsPlainName(name) || IsReservedName(name)) return {};
  std::string shown = name;
  if (!long_names)
    for (char &c : shown)
      if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return shown;
}

// Reads the directory into the slot, ordered by cookie.
bool ReadDirectory(const ResolvedHandle &dir, int fd, SEARCH_SLOT &slot) {
  int copy = dup(fd);
  DIR *list = copy >= 0 ? fdopendir(copy) : nullptr;
  if (!list) {
    if (copy >= 0) close(copy);
    return false;
  }
  int drive = HandleDrive(dir.handle);
  bool long_names = drive >= 1 && drive <= 26 && (g_DriveFlags[drive] & kDriveLongNames);
  slot.entries.clear();
  while (dirent *e = readdir(list)) {
    std::string shown = ShownName(dir, e->d_name, long_names);
    if (shown.empty()) continue;
    uint64_t ino = e->d_ino;
    slot.entries.push_back(DirEntry{ReaddirCookie(shown), uint32_t(ino ^ (ino >> 32)), std::move(shown)});
  }
  closedir(list);
  std::sort(slot.entries.begin(), slot.entries.end(), [](const DirEntry &a, const DirEntry &b) {
    return a.cookie != b.cookie ? a.cookie < b.cookie : a.name < b.name;
  });
  return true;
}

// The fileid of ".." as LOOKUP gives it: the parent inside the export (the
// exported directory is its own parent).
uint32_t ParentFileId(const ResolvedHandle &dir, uint32_t own) {
  NFS_FHANDLE parent = dir.handle;
  ExportParentHandle(parent, *dir.export_entry);
  if (memcmp(parent.data, dir.handle.data, kHandleSize) == 0) return own;
  ResolvedHandle r;
  FILE_STAT stat;
  if (ResolveHandle(parent, dir.source, r) != NFS_OK) return own;
  return GetFileStat(r, stat) == 0 ? stat.fileid : own;
}

bool PutEntry(XdrWriter &out, uint32_t fileid, const std::string &name, uint32_t cookie, size_t limit) {
  size_t cost = 16 + XdrPadded(uint32_t(name.size()));
  if (out.length() + cost > limit) return false;
  out.Long(1);
  out.Long(fileid);
  out.String(name);
  out.Long(cookie);
  return true;
}

}  // namespace

uint32_t ReaddirCookie(const std::string &name) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  return kFirstNameCookie + h % (0xFFFFFFFFu - kFirstNameCookie);
}

void ForgetSearchSlots() {
  for (SEARCH_SLOT &s : g_slots) s = SEARCH_SLOT();
}

int NfsReaddir(ResolvedHandle &dir, uint32_t cookie, uint32_t count, XdrWriter &out) {
  if (!HandleIsDirectory(dir.handle)) return NFSERR_NOTDIR;
  UniqueFd fd(OpenBeneath(dir, dir.rel, O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
  struct stat st {};
  if (!fd.valid() || fstat(fd.get(), &st) != 0) {
    if (fd.get() == -EACCES) return NFSERR_ACCES;
    if (fd.get() == -ENOTDIR) return NFSERR_NOTDIR;
    // A directory that is gone lists as empty and complete.
    out.Long(NFS_OK);
    out.Long(0);
    out.Long(1);
    return NFS_OK;
  }
  int index = FindSearchSlot(dir.handle);
  if (index < 0) index = AllocSearchSlot();
  SEARCH_SLOT &slot = g_slots[index];
  slot.stamp = g_counter++;
  if (!slot.in_use || slot.dev != st.st_dev || slot.ino != st.st_ino || !SameTime(slot.mtime, st.st_mtim) ||
      !SameTime(slot.ctime, st.st_ctim)) {
    if (!ReadDirectory(dir, fd.get(), slot)) return NFSERR_ACCES;
    slot.in_use = true;
    slot.handle = dir.handle;
    slot.dev = st.st_dev;
    slot.ino = st.st_ino;
    slot.mtime = st.st_mtim;
    slot.ctime = st.st_ctim;
  }

  uint32_t budget = std::min(count, kMaxReplyCount);
  size_t limit = budget > kReserved ? budget - kReserved : 0;
  // Entries end 8 bytes before the limit: the end word and eof follow them.
  limit = limit > 8 ? limit - 8 : 0;
  out.Long(NFS_OK);
  size_t start = out.length();
  limit += start;
  uint32_t own = uint32_t(st.st_ino ^ (uint64_t(st.st_ino) >> 32));
  bool full = false;
  if (cookie < kCookieDot) full = !PutEntry(out, own, ".", kCookieDot, limit);
  if (!full && cookie < kCookieDotDot) full = !PutEntry(out, ParentFileId(dir, own), "..", kCookieDotDot, limit);
  auto it = std::upper_bound(slot.entries.begin(), slot.entries.end(), cookie,
                             [](uint32_t c, const DirEntry &e) { return c < e.cookie; });
  if (cookie < kFirstNameCookie) it = slot.entries.begin();
  while (!full && it != slot.entries.end()) {
    // Entries of one cookie go in one reply: a continuation starts after the cookie.
    auto group_end = it;
    size_t cost = 0;
    while (group_end != slot.entries.end() && group_end->cookie == it->cookie) {
      cost += 16 + XdrPadded(uint32_t(group_end->name.size()));
      ++group_end;
    }
    if (out.length() + cost > limit) {
      full = true;
      break;
    }
    for (; it != group_end; ++it) PutEntry(out, it->fileid, it->name, it->cookie, limit);
  }
  out.Long(0);
  out.Long(full ? 0 : 1);
  return NFS_OK;
}
