// Test helper: writes registry values from a process of its own.
//   advapi_reg_writer write KEY PREFIX COUNT   values PREFIX<i> = i (REG_DWORD), i < COUNT
//   advapi_reg_writer spin KEY PREFIX          the same without end, until killed; prints
//                                              "ready" after the first write
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv) {
  if (argc < 4) return 2;
  const std::string mode = argv[1];
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, argv[2], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return 1;
  const long count = mode == "write" && argc > 4 ? std::strtol(argv[4], nullptr, 10) : -1;
  for (DWORD i = 0; count < 0 || static_cast<long>(i) < count; ++i) {
    const std::string name = std::string(argv[3]) + std::to_string(i);
    if (RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&i), sizeof i) != ERROR_SUCCESS)
      return 1;
    if (count < 0) {
      // Also a subkey with two values per round: several statements per write.
      HKEY sub = nullptr;
      if (RegCreateKeyExA(key, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(sub, "n", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&i), sizeof i);
        RegCloseKey(sub);
      }
      if (i == 0) {
        std::printf("ready\n");
        std::fflush(stdout);
      }
    }
  }
  RegCloseKey(key);
  return 0;
}
