// Resolved directories: the host directory that a Windows directory path led
// to, so that opening many files in one folder does not walk (and stat) every
// component of its path again for each file.
//
// An entry is trusted only while inotify reports nothing that could change
// the walk: every host directory searched on the way is watched, and a name
// created, deleted or moved in one of them that equals (without regard to
// case) a component looked up there, or a watched directory itself deleted or
// moved, or a lost event, drops every entry. The kernel queues these events
// while the change is made, so a change by any process on this machine is
// seen by the next lookup. Names of files coming and going in a folder do not
// touch the entries. Where inotify is unusable nothing is cached.
//
// A folder is remembered only from its kWalksBeforeRemembering-th walk on:
// a process with watches pays for them when it ends (the kernel waits for
// its watches to be released, tens of milliseconds on a busy machine), which
// a program that opens a file or two in a folder never wins back.
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <map>
#include <mutex>
#include <pthread.h>
#include <set>
#include <sys/stat.h>
#include <sys/inotify.h>
#include <unistd.h>
#include <unordered_map>

#include "files_internal.h"
#include "qx/paths.h"

namespace qx {
namespace {

constexpr size_t kMaxEntries = 256;   // directories remembered at once
constexpr size_t kMaxWatches = 512;   // watches before they are all given back
constexpr size_t kMaxCounted = 1024;  // folders whose walks are counted at once
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

std::string Lower(std::string_view name) {
  std::string out(name);
  for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

struct Resolved {
  std::string host;  // host directory
  std::string full;  // Windows path with stored spellings
};

struct PathCache {
  std::mutex lock;
  int inotify_fd = -1;
  bool unusable = false;
  std::unordered_map<std::string, Resolved> entries;  // Windows directory as spelled -> result
  // Per watched directory: the lower-cased names whose change matters.
  std::unordered_map<int, std::set<std::string>> watched;
  // Walks of folders not remembered yet, by the same key as the entries.
  std::unordered_map<std::string, int> walks;

  void DropEntries() {
    entries.clear();
    for (auto &w : watched) w.second.clear();
    if (watched.size() > kMaxWatches) Close();
  }
  void Close() {
    if (inotify_fd >= 0) close(inotify_fd);
    inotify_fd = -1;
    watched.clear();
    entries.clear();
  }
  bool Open() {
    if (inotify_fd >= 0) return true;
    if (unusable) return false;
    inotify_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_fd < 0) unusable = true;
    return inotify_fd >= 0;
  }
  // Reads what inotify has queued; drops every entry on a change that matters.
  void TakeEvents() {
    alignas(inotify_event) char buf[4096];
    for (;;) {
      const ssize_t n = read(inotify_fd, buf, sizeof buf);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) Close();  // cannot tell what changed: start over
        return;
      }
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
        const auto *e = reinterpret_cast<const inotify_event *>(buf + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        if (e->mask & (IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) {
          if (e->mask & IN_IGNORED) watched.erase(e->wd);  // the number may be given out again
          DropEntries();
          continue;
        }
        auto w = watched.find(e->wd);
        if (w == watched.end() || e->len == 0) continue;
        if (w->second.count(Lower(e->name))) DropEntries();
      }
    }
  }
};

PathCache *g_cache = nullptr;  // never destroyed: lookups may run during exit

// A child of fork shares the parent's inotify queue and would take events
// the parent needs: it drops its copy and starts with a queue of its own. The
// lock is held across fork so the child never inherits it taken.
void LockForFork() { g_cache->lock.lock(); }
void UnlockInParent() { g_cache->lock.unlock(); }
void ResetInChild() {
  g_cache->Close();
  g_cache->lock.unlock();
}

PathCache &TheCache() {
  static PathCache *cache = [] {
    g_cache = new PathCache;
    pthread_atfork(LockForFork, UnlockInParent, ResetInChild);
    return g_cache;
  }();
  return *cache;
}

}  // namespace

bool CachedDirectory(const std::string &windows_dir, std::string &host, std::string &full) {
  PathCache &c = TheCache();
  std::lock_guard guard(c.lock);
  if (c.inotify_fd < 0 || c.entries.empty()) return false;
  c.TakeEvents();
  auto it = c.entries.find(windows_dir);
  if (it == c.entries.end()) return false;
  host = it->second.host;
  full = it->second.full;
  return true;
}

void RememberDirectory(const std::string &windows_dir, const std::string &host, const std::string &full,
                       const std::vector<WalkStep> &steps) {
  PathCache &c = TheCache();
  std::lock_guard guard(c.lock);
  if (c.walks.size() >= kMaxCounted) c.walks.clear();
  if (++c.walks[windows_dir] < kWalksBeforeRemembering) return;
  c.walks.erase(windows_dir);
  if (!c.Open()) return;
  c.TakeEvents();  // what happened before the watches below must not be missed
  if (c.inotify_fd < 0 || !c.Open()) return;
  if (c.entries.size() >= kMaxEntries) c.DropEntries();
  for (const WalkStep &step : steps) {
    const int wd = inotify_add_watch(c.inotify_fd, step.dir.c_str(), kWatchMask | IN_ONLYDIR);
    if (wd < 0) return;  // not watchable (no permission, no more watches): not cached
    auto &names = c.watched[wd];
    names.insert(Lower(step.given));
    names.insert(Lower(step.stored));
  }
  // The walk ran before the watches existed: a change in between would go
  // unseen, so each step is checked once more now that they are in place.
  for (const WalkStep &step : steps) {
    std::string stored;
    if (!FindInDir(step.dir, step.given, stored) && !FindByAlternate(step.dir, step.given, stored)) return;
    struct stat st {};
    if (stored != step.stored || stat(((step.dir == "/" ? "" : step.dir) + "/" + stored).c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode))
      return;
  }
  c.entries[windows_dir] = Resolved{host, full};
}

}  // namespace qx
