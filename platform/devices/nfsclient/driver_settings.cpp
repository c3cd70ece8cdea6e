// The NFS client driver's settings block (request 0x7C01C).
#include "driver_settings.h"

#include <cstring>

namespace qxnfs {

DWORD DriverSettings::Apply(const std::vector<std::uint8_t> &in, std::vector<std::uint8_t> &out) {
  if (in.size() != kSettingsBlock) return ERROR_INVALID_PARAMETER;
  if (out.empty()) return ERROR_INSUFFICIENT_BUFFER;
  {
    std::lock_guard<std::mutex> hold(lock_);
    std::memcpy(words_.data(), in.data(), kSettingsBlock);
  }
  out.assign(1, 1);
  return 0;
}

std::array<std::uint32_t, kSettingsBlock / 4> DriverSettings::Words() const {
  std::lock_guard<std::mutex> hold(lock_);
  return words_;
}

}  // namespace qxnfs
