// sharehost's process-wide settings: the switches of its command line and the
// two values it keeps in QXAPPS.INI.
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t kMinTransferSize = 512;
constexpr uint32_t kMaxTransferSize = 8196;

struct ServerSettings {
  uint32_t transfer_size = 4096;  // "/t:n": STATFS transfer size and READ bound
  int holes = 0;                  // "/h": WRITE past the end fills the gap with zeros
  bool log = false;               // "/l:file": MOUNT logs mounts and unmounts
  std::string log_file;
  uint32_t priority = 100;  // [QXServer] Priority, 0..100
  uint32_t refresh = 10;    // [QXServer] Refresh, seconds 1..64
};
extern ServerSettings g_Settings;

enum SwitchResult { kSwitchesOk = 0, kBadTransferSize = -2, kBadSwitch = -3 };
// Reads "/h", "/l:file" and "/t:n" from a command line split at blanks;
// words that do not begin with "/" are ignored.
SwitchResult ParseServerSwitches(const std::string &command_line, ServerSettings &settings);
