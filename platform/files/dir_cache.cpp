// Case-blind name lookup in host directories, with a per-directory cache of
// the stored names that hold upper-case letters (a compact table found by the
// case-folded name, name_table.h), so that looking up a missing name (every
// file a program creates) does not read the whole directory each time.
//
// Names without upper-case letters are not remembered: among the spellings
// equal but for case, the all-lower-case one is the last in byte order (every
// other differs first where it has a capital, a smaller byte), so a lookup
// takes the first match among the remembered spellings and, only when there
// is none, asks the file system for the lower-case spelling. A folder of
// lower-case names (a mail store's m*.msg) then costs no memory per file.
//
// A cache is trusted while the directory's inode, device and mtime (ns) are
// the ones recorded. This process's own creates, deletes and renames go
// through DirChange, which updates the cache in place and records the new
// mtime, but only when the directory had not changed before the operation;
// any other change (another process, a call that bypasses DirChange) shows
// as a different mtime and the cache is read afresh. Two changes within one
// clock tick can leave one mtime, so a cache whose scan was that recent, or
// that has been updated in place since its scan, is read afresh once it is
// a second old: a change slipped in at the same instant is seen at most a
// second later.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <sys/stat.h>

#include "files_internal.h"
#include "name_table.h"

namespace qx {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kSettle = std::chrono::seconds(1);  // longest a same-tick change may stay unseen
constexpr size_t kMaxDirs = 64;                    // directories cached at once

std::string Join(const std::string &dir, const std::string &name) { return (dir == "/" ? "" : dir) + "/" + name; }

// Only names holding an upper-case letter are remembered (see above).
bool HasCapital(std::string_view name) {
  return std::any_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

std::string LowerCase(std::string_view name) {
  std::string lower(name);
  for (char &c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

bool SameTime(const struct timespec &a, const struct timespec &b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

struct DirNames {
  dev_t dev = 0;
  ino_t ino = 0;
  struct timespec mtime {};      // the directory's mtime the names match
  Clock::time_point scanned;     // when the directory was last read
  bool recheck = false;          // read again once kSettle has passed since the scan
  std::uint64_t generation = 0;  // changes whenever the directory is read afresh
  std::uint64_t used = 0;        // for evicting the least recently used
  NameTable names;               // the stored spellings with capitals, found without regard to case
};

struct Cache {
  std::mutex lock;
  std::map<std::string, DirNames> dirs;  // by host directory path
  std::uint64_t clock = 0;               // use counter
  std::uint64_t generations = 0;
};

Cache &TheCache() {
  static Cache *cache = new Cache;  // never destroyed: lookups may run during exit
  return *cache;
}

bool StatDir(const std::string &dir, struct stat &st) { return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode); }

bool Matches(const DirNames &d, const struct stat &st) {
  return d.dev == st.st_dev && d.ino == st.st_ino && SameTime(d.mtime, st.st_mtim);
}

// Reads the directory into d. The mtime is taken before reading, so a change
// made while reading shows as a newer mtime at the next lookup.
bool Scan(Cache &c, const std::string &dir, const struct stat &st, DirNames &d) {
  DIR *handle = opendir(dir.c_str());
  if (!handle) return false;
  d.names.Clear();
  bool complete = true;
  while (dirent *e = readdir(handle)) {
    if (!HasCapital(e->d_name)) continue;  // "." and ".." too
    complete = d.names.Add(e->d_name) && complete;
  }
  closedir(handle);
  if (!complete) return false;  // more names than the table can hold: not cached
  d.dev = st.st_dev;
  d.ino = st.st_ino;
  d.mtime = st.st_mtim;
  d.scanned = Clock::now();
  d.generation = ++c.generations;
  // An mtime within the last second may still be shared by a change we missed.
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  d.recheck = now.tv_sec - st.st_mtim.tv_sec <= 1;
  return true;
}

void EvictOne(Cache &c) {
  auto oldest = c.dirs.begin();
  for (auto it = c.dirs.begin(); it != c.dirs.end(); ++it)
    if (it->second.used < oldest->second.used) oldest = it;
  if (oldest != c.dirs.end()) c.dirs.erase(oldest);
}

// The cached names of dir, read afresh when it changed behind our back.
// Called with the cache locked; nullptr when the directory cannot be read.
DirNames *CurrentNames(Cache &c, const std::string &dir) {
  struct stat st {};
  if (!StatDir(dir, st)) {
    c.dirs.erase(dir);
    return nullptr;
  }
  auto it = c.dirs.find(dir);
  if (it != c.dirs.end()) {
    DirNames &d = it->second;
    bool settled = !d.recheck || Clock::now() - d.scanned < kSettle;
    if (Matches(d, st) && settled) {
      d.used = ++c.clock;
      return &d;
    }
  } else {
    if (c.dirs.size() >= kMaxDirs) EvictOne(c);
    it = c.dirs.emplace(dir, DirNames{}).first;
  }
  if (!Scan(c, dir, st, it->second)) {
    c.dirs.erase(it);
    return nullptr;
  }
  it->second.used = ++c.clock;
  return &it->second;
}

// The first case-blind match of name among dir's spellings with capitals,
// from the cache.
bool CachedMatch(const std::string &dir, const std::string &name, std::string &found) {
  Cache &c = TheCache();
  std::lock_guard guard(c.lock);
  DirNames *d = CurrentNames(c, dir);
  if (!d) return false;
  std::string_view first = d->names.Find(name);
  if (first.empty()) return false;
  found = first;
  return true;
}

void Forget(const std::string &dir) {
  Cache &c = TheCache();
  std::lock_guard guard(c.lock);
  c.dirs.erase(dir);
}

void SplitEntry(const std::string &entry, std::string &dir, std::string &name) {
  size_t slash = entry.rfind('/');
  if (slash == std::string::npos) {
    dir.clear();
    name = entry;
    return;
  }
  dir = slash == 0 ? "/" : entry.substr(0, slash);
  name = entry.substr(slash + 1);
}

}  // namespace

bool FindInDir(const std::string &dir, const std::string &name, std::string &found) {
  struct stat st {};
  if (lstat(Join(dir, name).c_str(), &st) == 0) {  // the exact spelling, one cheap call
    found = name;
    return true;
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::string stored;
    if (!CachedMatch(dir, name, stored)) break;
    if (lstat(Join(dir, stored).c_str(), &st) == 0) {
      found = stored;
      return true;
    }
    Forget(dir);  // gone within the mtime's tick: read the directory again
  }
  // No spelling with capitals: the lower-case one, the last in byte order.
  std::string lower = LowerCase(name);
  if (lower == name || lstat(Join(dir, lower).c_str(), &st) != 0) return false;
  found = std::move(lower);
  return true;
}

// Read afresh at each call: the cache keeps only the names with capitals.
// Its callers (8.3 alternate names) work on the whole directory anyway.
bool ListDirNames(const std::string &dir, std::vector<std::string> &names) {
  DIR *handle = opendir(dir.c_str());
  if (!handle) return false;
  names.clear();
  while (dirent *e = readdir(handle))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
  closedir(handle);
  return true;
}

DirChange::DirChange(const std::string &entry, const std::string &other) {
  Add(entry);
  if (!other.empty()) Add(other);
}

void DirChange::Add(const std::string &entry) {
  std::string dir, name;
  SplitEntry(entry, dir, name);
  if (dir.empty() || name.empty()) return;
  for (auto &part : parts_) {
    if (part.dir != dir) continue;
    part.names.push_back(name);
    return;
  }
  Part part;
  part.dir = dir;
  part.names.push_back(name);
  Cache &c = TheCache();
  std::lock_guard guard(c.lock);
  auto it = c.dirs.find(dir);
  if (it != c.dirs.end()) {
    struct stat st {};
    // In step before the change: the change alone moves the cache forward.
    part.in_step = StatDir(dir, st) && Matches(it->second, st);
    part.generation = it->second.generation;
  }
  parts_.push_back(std::move(part));
}

DirChange::~DirChange() {
  Cache &c = TheCache();
  std::lock_guard guard(c.lock);
  for (const auto &part : parts_) {
    auto it = c.dirs.find(part.dir);
    if (it == c.dirs.end()) continue;
    DirNames &d = it->second;
    struct stat st {};
    if (!part.in_step || d.generation != part.generation || !StatDir(part.dir, st) || d.dev != st.st_dev ||
        d.ino != st.st_ino) {
      c.dirs.erase(it);  // changed by someone else too: read it afresh when next needed
      continue;
    }
    bool kept = true;
    for (const auto &name : part.names) {
      struct stat entry {};
      if (lstat(Join(part.dir, name).c_str(), &entry) == 0) {
        if (HasCapital(name)) kept = d.names.Add(name) && kept;
      } else {
        d.names.Remove(name);
      }
    }
    if (!kept) {
      c.dirs.erase(it);  // a name the table could not take: read afresh when next needed
      continue;
    }
    d.mtime = st.st_mtim;
    d.recheck = true;  // in-place updates are checked against a full read a second later
  }
}

}  // namespace qx
