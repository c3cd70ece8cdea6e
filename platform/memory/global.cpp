// Global and local memory blocks. Every block is a handle-table object, fixed
// or moveable alike: the suite keeps handles in 32-bit fields and prints them
// with "%u", which a 64-bit address cannot survive, so a block's address is
// only ever obtained through GlobalLock. Blocks live in the one platform
// library, so a block made in one module is locked and freed in another.
#include <windows.h>

#include <sys/sysinfo.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <map>
#include <memory>
#include <mutex>

#include "qx/handles.h"

namespace qx {
namespace {

constexpr SIZE_T kGranule = 16;
// Larger requests fail cleanly (ERROR_NOT_ENOUGH_MEMORY) instead of reaching
// the allocator with a size that wraps when rounded.
constexpr SIZE_T kMaxBlock = SIZE_T{1} << 40;

struct FreeDeleter {
  void operator()(std::byte *p) const { std::free(p); }
};
using Storage = std::unique_ptr<std::byte, FreeDeleter>;

class GlobalBlock : public KernelObject {
 public:
  GlobalBlock() : KernelObject(ObjectKind::Global) {}
  Storage data;         // null while discarded
  SIZE_T size = 0;      // what the caller asked for: GlobalSize
  SIZE_T capacity = 0;  // bytes allocated (size rounded up)
  UINT flags = 0;       // GMEM_MOVEABLE, GMEM_DISCARDABLE, GMEM_DDESHARE
  UINT locks = 0;
  HGLOBAL handle = nullptr;
};

// One lock for all blocks: the address index must change together with the
// blocks, and the work under it is short.
struct Blocks {
  std::mutex lock;
  std::map<const void *, HGLOBAL> by_address;
};

Blocks &TheBlocks() {
  static auto *blocks = new Blocks;
  return *blocks;
}

bool Moveable(const GlobalBlock &b) { return (b.flags & GMEM_MOVEABLE) != 0; }

Storage Allocate(SIZE_T size, bool zero, SIZE_T &capacity) {
  capacity = std::max<SIZE_T>(kGranule, (size + kGranule - 1) / kGranule * kGranule);
  void *p = zero ? std::calloc(1, capacity) : std::malloc(capacity);
  return Storage(static_cast<std::byte *>(p));
}

// The block a handle names; a pointer that GlobalLock returned is taken as
// its block too, so memory that the layer handed out as a pointer (strings
// of ConvertSidToStringSidA, GPTR-style callers) can be given back.
std::shared_ptr<GlobalBlock> FindBlock(Blocks &all, HGLOBAL h) {
  if (auto block = Lookup<GlobalBlock>(h, ObjectKind::Global)) return block;
  auto it = all.by_address.find(h);
  if (it == all.by_address.end()) return nullptr;
  return Lookup<GlobalBlock>(it->second, ObjectKind::Global);
}

std::shared_ptr<GlobalBlock> FindOrFail(Blocks &all, HGLOBAL h) {
  auto block = FindBlock(all, h);
  if (!block) SetLastError(ERROR_INVALID_HANDLE);
  return block;
}

void Index(Blocks &all, GlobalBlock &b) {
  if (b.data) all.by_address[b.data.get()] = b.handle;
}

void Unindex(Blocks &all, GlobalBlock &b) {
  if (b.data) all.by_address.erase(b.data.get());
}

HGLOBAL Alloc(UINT flags, SIZE_T bytes) {
  if (bytes > kMaxBlock) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto b = std::make_shared<GlobalBlock>();
  b->flags = flags & (GMEM_MOVEABLE | GMEM_DISCARDABLE | GMEM_DDESHARE);
  // A moveable block of no bytes starts out discarded, as on Windows.
  if (bytes > 0 || !Moveable(*b)) {
    b->data = Allocate(bytes, (flags & GMEM_ZEROINIT) != 0, b->capacity);
    if (!b->data) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    b->size = bytes;
  }
  Blocks &all = TheBlocks();
  std::lock_guard guard(all.lock);
  b->handle = InsertHandle(b);
  if (!b->handle) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  Index(all, *b);
  return b->handle;
}

HGLOBAL Free(HGLOBAL h) {
  if (!h) return nullptr;
  Blocks &all = TheBlocks();
  ObjectRef removed;
  {
    std::lock_guard guard(all.lock);
    auto b = FindOrFail(all, h);
    if (!b) return h;
    Unindex(all, *b);
    removed = RemoveHandle(b->handle);
  }
  return nullptr;
}

LPVOID Lock(HGLOBAL h) {
  Blocks &all = TheBlocks();
  std::lock_guard guard(all.lock);
  auto b = FindOrFail(all, h);
  if (!b) return nullptr;
  if (!b->data) {
    SetLastError(ERROR_DISCARDED);
    return nullptr;
  }
  if (Moveable(*b) && b->locks < GMEM_LOCKCOUNT) ++b->locks;
  return b->data.get();
}

BOOL Unlock(HGLOBAL h) {
  Blocks &all = TheBlocks();
  std::lock_guard guard(all.lock);
  auto b = FindOrFail(all, h);
  if (!b) return FALSE;
  if (b->locks == 0) {
    SetLastError(Moveable(*b) ? ERROR_NOT_LOCKED : ERROR_SUCCESS);
    return FALSE;
  }
  --b->locks;
  SetLastError(ERROR_SUCCESS);
  return b->locks > 0;
}

// Resizes in place when the capacity allows; otherwise moves the block when
// it may move (moveable and unlocked, or GMEM_MOVEABLE given).
HGLOBAL Resize(GlobalBlock &b, Blocks &all, SIZE_T bytes, UINT flags) {
  if (bytes > kMaxBlock) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  const bool zero = (flags & GMEM_ZEROINIT) != 0;
  if (bytes == 0) {
    // Discarding: only an unlocked moveable block loses its memory.
    if (!Moveable(b) || b.locks > 0) {
      if (!Moveable(b)) {
        b.size = 0;
        return b.handle;
      }
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    Unindex(all, b);
    b.data.reset();
    b.size = b.capacity = 0;
    return b.handle;
  }
  if (b.data && bytes <= b.capacity) {
    if (zero && bytes > b.size) std::memset(b.data.get() + b.size, 0, bytes - b.size);
    b.size = bytes;
    return b.handle;
  }
  const bool may_move = !b.data || (Moveable(b) && b.locks == 0) || (flags & GMEM_MOVEABLE);
  if (!may_move) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  SIZE_T capacity = 0;
  Storage fresh = Allocate(bytes, false, capacity);
  if (!fresh) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  const SIZE_T keep = std::min(b.size, bytes);
  if (b.data && keep) std::memcpy(fresh.get(), b.data.get(), keep);
  if (zero) std::memset(fresh.get() + keep, 0, capacity - keep);
  Unindex(all, b);
  b.data = std::move(fresh);
  b.capacity = capacity;
  b.size = bytes;
  Index(all, b);
  return b.handle;
}

HGLOBAL ReAlloc(HGLOBAL h, SIZE_T bytes, UINT flags) {
  Blocks &all = TheBlocks();
  std::lock_guard guard(all.lock);
  auto b = FindOrFail(all, h);
  if (!b) return nullptr;
  if (flags & GMEM_MODIFY) {
    // Only the block's attributes change; its size stays.
    if (flags & GMEM_MOVEABLE) b->flags |= GMEM_MOVEABLE;
    if (flags & GMEM_DISCARDABLE)
      b->flags |= GMEM_DISCARDABLE;
    else
      b->flags &= ~GMEM_DISCARDABLE;
    return b->handle;
  }
  return Resize(*b, all, bytes, flags);
}

SIZE_T Size(HGLOBAL h) {
  Blocks &all = TheBlocks();
  std::lock_guard guard(all.lock);
  auto b = FindOrFail(all, h);
  if (!b) return 0;
  SetLastError(ERROR_SUCCESS);
  return b->size;
}

UINT Flags(HGLOBAL h) {
  Blocks &all = TheBlocks();
  std::lock_guard guard(all.lock);
  auto b = FindOrFail(all, h);
  if (!b) return GMEM_INVALID_HANDLE;
  UINT result = std::min<UINT>(b->locks, GMEM_LOCKCOUNT);
  if (b->flags & GMEM_DISCARDABLE) result |= GMEM_DISCARDABLE;
  if (b->flags & GMEM_DDESHARE) result |= GMEM_DDESHARE;
  if (!b->data) result |= GMEM_DISCARDED;
  return result;
}

HGLOBAL HandleOf(LPCVOID p) {
  Blocks &all = TheBlocks();
  std::lock_guard guard(all.lock);
  auto it = all.by_address.find(p);
  if (it == all.by_address.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second;
}

// Reads "MemAvailable" from /proc/meminfo (in bytes); 0 when unknown.
unsigned long long AvailablePhysical() {
  std::ifstream meminfo("/proc/meminfo");
  std::string line;
  while (std::getline(meminfo, line)) {
    unsigned long long kb = 0;
    if (std::sscanf(line.c_str(), "MemAvailable: %llu kB", &kb) == 1) return kb * 1024;
  }
  return 0;
}

// The figures are reported as a 32-bit program sees them, capped at 4 GB - 1,
// because the suite keeps and formats them in 32-bit fields.
SIZE_T Cap(unsigned long long v) { return static_cast<SIZE_T>(std::min<unsigned long long>(v, 0xFFFFFFFFull)); }

}  // namespace
}  // namespace qx

extern "C" {

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) { return qx::Alloc(flags, bytes); }
HGLOBAL WINAPI GlobalReAlloc(HGLOBAL h, SIZE_T bytes, UINT flags) { return qx::ReAlloc(h, bytes, flags); }
HGLOBAL WINAPI GlobalFree(HGLOBAL h) { return qx::Free(h); }
LPVOID WINAPI GlobalLock(HGLOBAL h) { return qx::Lock(h); }
BOOL WINAPI GlobalUnlock(HGLOBAL h) { return qx::Unlock(h); }
SIZE_T WINAPI GlobalSize(HGLOBAL h) { return qx::Size(h); }
HGLOBAL WINAPI GlobalHandle(LPCVOID p) { return qx::HandleOf(p); }
UINT WINAPI GlobalFlags(HGLOBAL h) { return qx::Flags(h); }

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) { return qx::Alloc(flags, bytes); }
HLOCAL WINAPI LocalReAlloc(HLOCAL h, SIZE_T bytes, UINT flags) { return qx::ReAlloc(h, bytes, flags); }
HLOCAL WINAPI LocalFree(HLOCAL h) { return qx::Free(h); }
LPVOID WINAPI LocalLock(HLOCAL h) { return qx::Lock(h); }
BOOL WINAPI LocalUnlock(HLOCAL h) { return qx::Unlock(h); }
SIZE_T WINAPI LocalSize(HLOCAL h) { return qx::Size(h); }
HLOCAL WINAPI LocalHandle(LPCVOID p) { return qx::HandleOf(p); }
UINT WINAPI LocalFlags(HLOCAL h) { return qx::Flags(h); }

void WINAPI GlobalMemoryStatus(LPMEMORYSTATUS status) {
  if (!status) return;
  struct sysinfo si {};
  sysinfo(&si);
  const unsigned long long unit = si.mem_unit ? si.mem_unit : 1;
  const unsigned long long total = si.totalram * unit;
  unsigned long long avail = qx::AvailablePhysical();
  if (avail == 0) avail = (si.freeram + si.bufferram) * unit;
  const unsigned long long swap_total = si.totalswap * unit;
  const unsigned long long swap_free = si.freeswap * unit;
  status->dwLength = sizeof(MEMORYSTATUS);
  status->dwMemoryLoad = total ? static_cast<DWORD>(100 - (avail * 100 / total)) : 0;
  status->dwTotalPhys = qx::Cap(total);
  status->dwAvailPhys = qx::Cap(avail);
  // The page file of Windows is committable memory: RAM plus swap.
  status->dwTotalPageFile = qx::Cap(total + swap_total);
  status->dwAvailPageFile = qx::Cap(avail + swap_free);
  // A 32-bit process's user address space (2 GB), as the programs expect.
  status->dwTotalVirtual = 0x7FFE0000u;
  status->dwAvailVirtual = qx::Cap(std::min<unsigned long long>(0x7FFE0000ull, avail + swap_free));
}

}  // extern "C"
