// The NFS client driver's settings (request 0x7C01C): the 40-byte block the
// NFS client settings dialog sends when the user presses OK (ten 32-bit words:
// outstanding network requests, maximum reads, retries, ...). The stand-in
// keeps the last block for the device's process and answers one byte, 1 for a
// block taken.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

namespace qxnfs {

constexpr DWORD kSettingsRequest = 0x7C01C;
constexpr size_t kSettingsBlock = 40;

// The block as the settings dialog fills it: ten words in machine byte order;
// the two address words hold the address bytes in network order, as the
// resolver gives them.
struct SettingsBlock {
  std::uint32_t outstanding_requests;
  std::uint32_t maximum_reads;
  std::uint32_t retries;
  std::uint32_t read_parallel;
  std::uint32_t write_parallel;
  std::uint32_t read_size;
  std::uint32_t write_size;
  std::uint32_t local_ip;
  std::uint32_t protection;
  std::uint32_t auth_server_ip;
};
static_assert(sizeof(SettingsBlock) == kSettingsBlock, "the driver takes exactly 40 bytes");

class DriverSettings {
 public:
  // 0 with the answer byte in `out`, or a Win32 error for a block that is
  // not 40 bytes or no room for the answer.
  DWORD Apply(const std::vector<std::uint8_t> &in, std::vector<std::uint8_t> &out);
  // The words of the last block taken (all zero before one).
  std::array<std::uint32_t, kSettingsBlock / 4> Words() const;

 private:
  mutable std::mutex lock_;  // opens are served on threads of their own
  std::array<std::uint32_t, kSettingsBlock / 4> words_{};
};

}  // namespace qxnfs
