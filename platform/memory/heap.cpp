// Heaps: HeapCreate and the process heap. Each heap knows the blocks it gave
// out, so HeapSize is exact, a pointer of another heap or a freed pointer is
// refused (FALSE, ERROR_INVALID_PARAMETER) instead of corrupting memory, and
// HeapDestroy releases everything the heap still holds.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "qx/errors.h"
#include "qx/handles.h"

namespace qx {
namespace {

constexpr SIZE_T kGranule = 16;
constexpr SIZE_T kMaxBlock = SIZE_T{1} << 40;

struct Block {
  SIZE_T size;
  SIZE_T capacity;
};

class Heap : public KernelObject {
 public:
  Heap(SIZE_T maximum) : KernelObject(ObjectKind::Other), maximum_(maximum) {}
  ~Heap() override {
    for (auto &[p, b] : blocks_) std::free(p);
  }

  void *Alloc(DWORD flags, SIZE_T bytes) {
    std::lock_guard guard(lock_);
    if (!Fits(bytes)) return Fail<void *>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    const SIZE_T capacity = Round(bytes);
    void *p = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, capacity) : std::malloc(capacity);
    if (!p) return Fail<void *>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    blocks_[p] = Block{bytes, capacity};
    used_ += capacity;
    return p;
  }

  void *ReAlloc(DWORD flags, void *old, SIZE_T bytes) {
    std::lock_guard guard(lock_);
    auto it = blocks_.find(old);
    if (it == blocks_.end()) return Fail<void *>(ERROR_INVALID_PARAMETER, nullptr);
    Block &b = it->second;
    if (bytes <= b.capacity) {
      if ((flags & HEAP_ZERO_MEMORY) && bytes > b.size)
        std::memset(static_cast<char *>(old) + b.size, 0, bytes - b.size);
      b.size = bytes;
      return old;
    }
    if (flags & HEAP_REALLOC_IN_PLACE_ONLY) return Fail<void *>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    if (!Fits(bytes - b.capacity)) return Fail<void *>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    const SIZE_T capacity = Round(bytes);
    void *p = std::realloc(old, capacity);
    if (!p) return Fail<void *>(ERROR_NOT_ENOUGH_MEMORY, nullptr);
    if (flags & HEAP_ZERO_MEMORY) std::memset(static_cast<char *>(p) + b.size, 0, capacity - b.size);
    const Block grown{bytes, capacity};
    used_ += capacity - b.capacity;
    blocks_.erase(it);
    blocks_[p] = grown;
    return p;
  }

  bool Free(void *p) {
    std::lock_guard guard(lock_);
    auto it = blocks_.find(p);
    if (it == blocks_.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    used_ -= it->second.capacity;
    std::free(p);
    blocks_.erase(it);
    return true;
  }

  SIZE_T Size(const void *p) {
    std::lock_guard guard(lock_);
    auto it = blocks_.find(const_cast<void *>(p));
    if (it == blocks_.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return static_cast<SIZE_T>(-1);
    }
    return it->second.size;
  }

 private:
  static SIZE_T Round(SIZE_T n) { return std::max(kGranule, (n + kGranule - 1) / kGranule * kGranule); }
  bool Fits(SIZE_T more) const {
    if (more > kMaxBlock) return false;
    return maximum_ == 0 || used_ + Round(more) <= maximum_;
  }

  std::mutex lock_;
  std::unordered_map<void *, Block> blocks_;
  SIZE_T maximum_;  // 0: growable without limit
  SIZE_T used_ = 0;
};

std::shared_ptr<Heap> HeapOf(HANDLE h) { return Lookup<Heap>(h, ObjectKind::Other); }

}  // namespace
}  // namespace qx

extern "C" {

HANDLE WINAPI GetProcessHeap(void) {
  static const HANDLE heap = qx::InsertHandle(std::make_shared<qx::Heap>(0));
  return heap;
}

HANDLE WINAPI HeapCreate(DWORD options, SIZE_T initial, SIZE_T maximum) {
  if (maximum != 0 && initial > maximum) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HANDLE h = qx::InsertHandle(std::make_shared<qx::Heap>(maximum));
  if (!h) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return h;
}

BOOL WINAPI HeapDestroy(HANDLE heap) {
  if (heap == GetProcessHeap() || !qx::HeapOf(heap)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  qx::RemoveHandle(heap);
  return TRUE;
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  auto h = qx::HeapOf(heap);
  if (!h) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return h->Alloc(flags, bytes);
}

LPVOID WINAPI HeapReAlloc(HANDLE heap, DWORD flags, LPVOID p, SIZE_T bytes) {
  auto h = qx::HeapOf(heap);
  if (!h) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!p) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return h->ReAlloc(flags, p, bytes);
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID p) {
  if (!p) return TRUE;  // freeing nothing succeeds, as on Windows
  auto h = qx::HeapOf(heap);
  if (!h) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return h->Free(p) ? TRUE : FALSE;
}

SIZE_T WINAPI HeapSize(HANDLE heap, DWORD flags, LPCVOID p) {
  auto h = qx::HeapOf(heap);
  if (!h) {
    SetLastError(ERROR_INVALID_HANDLE);
    return static_cast<SIZE_T>(-1);
  }
  return h->Size(p);
}

}  // extern "C"
