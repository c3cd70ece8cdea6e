// Memory that is about to be written whole (a window's pixels, the rows a
// list was told to expect) has its pages mapped in one call instead of one
// page fault each as the writes reach them: a fault costs tens of
// microseconds on some virtual machines, and such a buffer is hundreds of
// pages. Only a hint: a kernel without MADV_POPULATE_WRITE ignores it.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace qx {

inline void PrefaultForWriting(void *start, std::size_t bytes) {
  constexpr std::size_t kWorthIt = 64 * 1024;  // below this the faults cost less than the call
  if (!start || bytes < kWorthIt) return;
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto begin = (reinterpret_cast<std::uintptr_t>(start) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(start) + bytes) & ~(page - 1);
#ifdef MADV_POPULATE_WRITE
  if (end > begin) madvise(reinterpret_cast<void *>(begin), end - begin, MADV_POPULATE_WRITE);
#endif
}

}  // namespace qx
