// IDMAP_VALUE: one identity mapping as a registry value of UidMapping or
// GidMapping, named after the account; its data is the id (signed 32-bit,
// little-endian) and then the account's SID. The server reads them, the
// applet sharepanel reads and writes them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

// A SID's length as it says itself, when it is whole within `room` bytes; 0 otherwise.
inline DWORD SidLength(const BYTE *sid, DWORD room) {
  if (room < 8 || sid[0] != 1 || sid[1] > 15) return 0;
  DWORD length = 8u + 4u * sid[1];
  return length <= room ? length : 0;
}

// Each mapping of a key: the value's name and type, the id and the SID. A
// value too short for an id and a whole SID, or with a name or data longer
// than any mapping's, is not a mapping and is passed over.
template <class Visit>
void EnumerateMappings(const char *subkey, Visit visit) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  for (DWORD index = 0;; ++index) {
    char name[1024];
    BYTE data[1024];
    DWORD name_len = sizeof name, data_len = sizeof data, type = 0;
    const LONG rc = RegEnumValueA(key, index, name, &name_len, nullptr, &type, data, &data_len);
    if (rc == ERROR_MORE_DATA) continue;  // a name or data too long for a mapping: not one, and not the last
    if (rc != ERROR_SUCCESS) break;
    DWORD sid_len = data_len >= 4 ? SidLength(data + 4, data_len - 4) : 0;
    if (!sid_len) continue;
    int32_t id =
        int32_t(uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24);
    visit(static_cast<const char *>(name), type, id, static_cast<const BYTE *>(data + 4), sid_len);
  }
  RegCloseKey(key);
}

// The data of an IDMAP_VALUE.
inline std::vector<BYTE> IdMapValueData(int32_t id, const BYTE *sid, DWORD sid_len) {
  std::vector<BYTE> data(4);
  for (int i = 0; i < 4; ++i) data[size_t(i)] = BYTE(uint32_t(id) >> (8 * i));
  data.insert(data.end(), sid, sid + sid_len);
  return data;
}
