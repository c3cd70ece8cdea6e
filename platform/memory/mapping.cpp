// File mappings backed by the paging file: named shared memory between the
// processes of one user, and unnamed mappings inside one process.
//
// A named mapping is a file "<runtime dir>/mappings/<escaped name>", mode 0600
// in the user's private runtime directory. Every process that holds the
// object (through handles or views) keeps one descriptor with a shared flock
// on that file. When a process lets go of its last reference it tries to
// turn its lock exclusive: that succeeds only if no other process holds the
// object, and then the file is removed. The kernel drops the locks of a
// process that dies, so the object also disappears once the survivors close
// it; a file left with no lock at all (every holder died) counts as absent.
// Creating, opening and the last close run under one directory lock so that
// none of them sees another half done.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <windows.h>

#include "qx/env.h"
#include "qx/errors.h"
#include "qx/handles.h"

namespace qx {
namespace {

// Views must start on this boundary, as on Windows.
constexpr ULONGLONG kAllocationGranularity = 65536;
// Longest escaped name that still fits a file name.
constexpr size_t kMaxEscapedName = 240;

const std::string &MappingDir() {
  static const std::string dir = [] {
    std::string d = RuntimeDir() + "/mappings";
    EnsurePrivateDir(d);
    return d;
  }();
  return dir;
}

// Object names may hold any character but '\0' ("@1234:5678", "Local\x");
// everything but letters, digits, '-' and '_' becomes %XX.
std::string EscapeName(const char *name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p; ++p) {
    if (std::isalnum(*p) || *p == '-' || *p == '_') {
      out.push_back(static_cast<char>(*p));
    } else {
      out.push_back('%');
      out.push_back(kHex[*p >> 4]);
      out.push_back(kHex[*p & 0xF]);
    }
  }
  return out;
}

// Holds the mapping directory's lock for one create, open or last close.
class DirectoryLock {
 public:
  DirectoryLock() {
    fd_ = open((MappingDir() + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ >= 0) {
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~DirectoryLock() {
    if (fd_ >= 0) close(fd_);
  }
  DirectoryLock(const DirectoryLock &) = delete;
  DirectoryLock &operator=(const DirectoryLock &) = delete;
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

class MappingObject : public KernelObject {
 public:
  MappingObject() : KernelObject(ObjectKind::Mapping) {}
  ~MappingObject() override;
  int fd = -1;
  std::string name;  // escaped; empty for an unnamed mapping
  ULONGLONG size = 0;
  DWORD protect = PAGE_READWRITE;
};

struct Registry {
  std::mutex lock;
  std::map<std::string, std::weak_ptr<MappingObject>> by_name;  // named objects of this process
  struct View {
    std::shared_ptr<MappingObject> object;
    size_t length;
    DWORD protect;  // PAGE_READONLY, PAGE_READWRITE or PAGE_WRITECOPY
  };
  std::map<const void *, View> views;
};

Registry &TheRegistry() {
  static auto *registry = new Registry;
  return *registry;
}

MappingObject::~MappingObject() {
  if (fd < 0) return;
  if (!name.empty()) {
    DirectoryLock dir;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) unlink((MappingDir() + "/" + name).c_str());
    close(fd);
    fd = -1;
    Registry &r = TheRegistry();
    std::lock_guard guard(r.lock);
    auto it = r.by_name.find(name);
    if (it != r.by_name.end() && it->second.expired()) r.by_name.erase(it);
    return;
  }
  close(fd);
}

std::shared_ptr<MappingObject> LiveObject(const std::string &name) {
  Registry &r = TheRegistry();
  std::lock_guard guard(r.lock);
  auto it = r.by_name.find(name);
  return it == r.by_name.end() ? nullptr : it->second.lock();
}

void Remember(const std::shared_ptr<MappingObject> &object) {
  Registry &r = TheRegistry();
  std::lock_guard guard(r.lock);
  r.by_name[object->name] = object;
}

HANDLE Publish(const std::shared_ptr<MappingObject> &object) {
  HANDLE h = InsertHandle(object);
  if (!h) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return h;
}

bool ValidProtect(DWORD protect) {
  const DWORD page = protect & 0xFF;
  return page == PAGE_READONLY || page == PAGE_READWRITE || page == PAGE_WRITECOPY;
}

DWORD ErrorFromErrno(int e) {
  switch (e) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOSPC:
    case EFBIG: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    default: return ERROR_INVALID_PARAMETER;
  }
}

// Opens an existing object file; false when there is none (or only a stale
// one, which is removed). Runs under the directory lock.
bool OpenExisting(const std::string &path, MappingObject &object) {
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    SetLastError(ErrorFromErrno(errno));
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    // Nobody holds it: its creators all died without closing.
    unlink(path.c_str());
    close(fd);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  flock(fd, LOCK_SH);
  object.fd = fd;
  object.size = static_cast<ULONGLONG>(st.st_size);
  return true;
}

HANDLE CreateNamed(const char *name, DWORD protect, ULONGLONG size) {
  const std::string escaped = EscapeName(name);
  if (escaped.size() > kMaxEscapedName) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  if (auto live = LiveObject(escaped)) {
    HANDLE h = Publish(live);
    if (h) SetLastError(ERROR_ALREADY_EXISTS);
    return h;
  }
  auto object = std::make_shared<MappingObject>();
  object->name = escaped;
  object->protect = protect & 0xFF;
  const std::string path = MappingDir() + "/" + escaped;
  bool existed = false;
  {
    DirectoryLock dir;
    if (!dir.ok()) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return nullptr;
    }
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == EEXIST) {
      if (OpenExisting(path, *object)) {
        existed = true;
      } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
      } else {
        return nullptr;
      }
    }
    if (!existed) {
      if (fd < 0) {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
      }
      if (size == 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
        const DWORD error = size == 0 ? ERROR_INVALID_PARAMETER : ErrorFromErrno(errno);
        unlink(path.c_str());
        close(fd);
        SetLastError(error);
        return nullptr;
      }
      flock(fd, LOCK_SH);
      object->fd = fd;
      object->size = size;
    }
  }
  Remember(object);
  HANDLE h = Publish(object);
  if (h) SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

HANDLE CreateUnnamed(DWORD protect, ULONGLONG size) {
  if (size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto object = std::make_shared<MappingObject>();
  object->protect = protect & 0xFF;
  object->fd = memfd_create("qx-mapping", MFD_CLOEXEC);
  if (object->fd < 0 || ftruncate(object->fd, static_cast<off_t>(size)) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return nullptr;
  }
  object->size = size;
  HANDLE h = Publish(object);
  if (h) SetLastError(ERROR_SUCCESS);
  return h;
}

}  // namespace
}  // namespace qx

extern "C" {

HANDLE WINAPI CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect, DWORD size_high,
                                 DWORD size_low, LPCSTR name) {
  // Only the paging file backs mappings here; mapping an open file is not
  // offered.
  if (file != INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!qx::ValidProtect(protect)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const ULONGLONG size = (ULONGLONG{size_high} << 32) | size_low;
  if (size > static_cast<ULONGLONG>(INT64_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (name && *name) return qx::CreateNamed(name, protect, size);
  return qx::CreateUnnamed(protect, size);
}

HANDLE WINAPI OpenFileMappingA(DWORD access, BOOL inherit, LPCSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string escaped = qx::EscapeName(name);
  if (escaped.size() > qx::kMaxEscapedName) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (auto live = qx::LiveObject(escaped)) return qx::Publish(live);
  auto object = std::make_shared<qx::MappingObject>();
  object->name = escaped;
  {
    qx::DirectoryLock dir;
    if (!qx::OpenExisting(qx::MappingDir() + "/" + escaped, *object)) return nullptr;
  }
  qx::Remember(object);
  return qx::Publish(object);
}

LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD access, DWORD offset_high, DWORD offset_low, SIZE_T bytes) {
  auto object = qx::Lookup<qx::MappingObject>(mapping, qx::ObjectKind::Mapping);
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const ULONGLONG offset = (ULONGLONG{offset_high} << 32) | offset_low;
  if (offset % qx::kAllocationGranularity != 0) {
    SetLastError(ERROR_MAPPED_ALIGNMENT);
    return nullptr;
  }
  if (offset >= object->size || bytes > object->size - offset) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const size_t length = bytes ? bytes : static_cast<size_t>(object->size - offset);
  int prot = PROT_READ;
  int flags = MAP_SHARED;
  if (access == FILE_MAP_COPY) {
    prot |= PROT_WRITE;
    flags = MAP_PRIVATE;
  } else if (access & FILE_MAP_WRITE) {
    if (object->protect != PAGE_READWRITE) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    prot |= PROT_WRITE;
  } else if (!(access & FILE_MAP_READ)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void *view = mmap(nullptr, length, prot, flags, object->fd, static_cast<off_t>(offset));
  if (view == MAP_FAILED) {
    SetLastError(qx::ErrorFromErrno(errno));
    return nullptr;
  }
  qx::Registry &r = qx::TheRegistry();
  std::lock_guard guard(r.lock);
  const DWORD view_protect = access == FILE_MAP_COPY ? PAGE_WRITECOPY
                             : (prot & PROT_WRITE)   ? PAGE_READWRITE
                                                     : PAGE_READONLY;
  r.views[view] = qx::Registry::View{object, length, view_protect};
  return view;
}

BOOL WINAPI UnmapViewOfFile(LPCVOID base) {
  qx::Registry &r = qx::TheRegistry();
  std::shared_ptr<qx::MappingObject> released;  // dropped after the lock
  {
    std::lock_guard guard(r.lock);
    auto it = r.views.find(base);
    if (it == r.views.end()) {
      SetLastError(ERROR_INVALID_ADDRESS);
      return FALSE;
    }
    munmap(const_cast<void *>(base), it->second.length);
    released = std::move(it->second.object);
    r.views.erase(it);
  }
  return TRUE;
}

BOOL WINAPI FlushViewOfFile(LPCVOID address, SIZE_T bytes) {
  qx::Registry &r = qx::TheRegistry();
  std::lock_guard guard(r.lock);
  auto it = r.views.upper_bound(address);
  if (it == r.views.begin()) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  --it;
  const auto *base = static_cast<const char *>(it->first);
  const auto *at = static_cast<const char *>(address);
  if (at >= base + it->second.length) {
    SetLastError(ERROR_INVALID_ADDRESS);
    return FALSE;
  }
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t from = static_cast<size_t>(at - base) / page * page;
  const size_t end = bytes ? std::min(static_cast<size_t>(at - base) + bytes, it->second.length) : it->second.length;
  if (msync(const_cast<char *>(base) + from, end - from, MS_SYNC) != 0) {
    SetLastError(qx::ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"

namespace qx {
namespace {

DWORD ProtectOf(bool read, bool write, bool execute) {
  if (execute) return write ? PAGE_EXECUTE_READWRITE : read ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
  if (write) return PAGE_READWRITE;
  return read ? PAGE_READONLY : PAGE_NOACCESS;
}

// The region of /proc/self/maps holding an address; false when none does
// (the address is free), with [start, end) of the free gap around it.
bool MappedRegion(uintptr_t address, uintptr_t &start, uintptr_t &end, DWORD &protect, DWORD &type) {
  std::ifstream maps("/proc/self/maps");
  uintptr_t gap_start = 0, gap_end = UINTPTR_MAX;
  bool found = false;
  {
    std::string line;
    while (std::getline(maps, line)) {
      unsigned long long lo = 0, hi = 0, inode = 0;
      char perms[8] = {};
      if (std::sscanf(line.c_str(), "%llx-%llx %7s %*s %*s %llu", &lo, &hi, perms, &inode) != 4) continue;
      if (address >= hi) {
        gap_start = static_cast<uintptr_t>(hi);
        continue;
      }
      if (address < lo) {
        gap_end = static_cast<uintptr_t>(lo);
        break;
      }
      start = static_cast<uintptr_t>(lo);
      end = static_cast<uintptr_t>(hi);
      protect = ProtectOf(perms[0] == 'r', perms[1] == 'w', perms[2] == 'x');
      type = inode != 0 ? (perms[2] == 'x' || perms[3] == 'p' ? MEM_IMAGE : MEM_MAPPED) : MEM_PRIVATE;
      found = true;
      break;
    }
  }
  if (!found) {
    start = gap_start;
    end = gap_end;
  }
  return found;
}

}  // namespace
}  // namespace qx

extern "C" SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION info, SIZE_T length) {
  if (!info || length < sizeof(MEMORY_BASIC_INFORMATION)) {
    SetLastError(ERROR_BAD_LENGTH);
    return 0;
  }
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t at = reinterpret_cast<uintptr_t>(address) / page * page;
  *info = MEMORY_BASIC_INFORMATION{};
  info->BaseAddress = reinterpret_cast<PVOID>(at);
  {
    qx::Registry &r = qx::TheRegistry();
    std::lock_guard guard(r.lock);
    auto it = r.views.upper_bound(address);
    if (it != r.views.begin()) {
      --it;
      const uintptr_t base = reinterpret_cast<uintptr_t>(it->first);
      const uintptr_t end = base + (it->second.length + page - 1) / page * page;
      if (at >= base && at < end) {
        const DWORD protect = it->second.protect;
        info->AllocationBase = const_cast<void *>(it->first);
        info->AllocationProtect = protect;
        info->RegionSize = end - at;
        info->State = MEM_COMMIT;
        info->Protect = protect;
        info->Type = MEM_MAPPED;
        return sizeof(MEMORY_BASIC_INFORMATION);
      }
    }
  }
  uintptr_t start = 0, end = 0;
  DWORD protect = 0, type = 0;
  if (qx::MappedRegion(at, start, end, protect, type)) {
    info->AllocationBase = reinterpret_cast<PVOID>(start);
    info->AllocationProtect = protect;
    info->RegionSize = end - at;
    info->State = MEM_COMMIT;
    info->Protect = protect;
    info->Type = type;
  } else {
    info->RegionSize = end - at;
    info->State = MEM_FREE;
    info->Protect = PAGE_NOACCESS;
  }
  return sizeof(MEMORY_BASIC_INFORMATION);
}
