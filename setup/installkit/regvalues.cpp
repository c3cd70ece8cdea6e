// Registry access for the installation steps (see regvalues.h).
#include "regvalues.h"

namespace installkit {

LONG ReadValue(HKEY key, const char *name, RegValue &value) {
  value = RegValue{};
  // The size is asked first, and again when the value grew in between.
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0, size = 0;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS) return rc;
    std::string data(size, '\0');
    rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(data.data()), &size);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) return rc;
    data.resize(size);
    value.type = type;
    value.data = std::move(data);
    return ERROR_SUCCESS;
  }
  return ERROR_MORE_DATA;
}

std::string ValueText(const RegValue &value) { return value.data.substr(0, value.data.find('\0')); }

LONG WriteBytes(HKEY key, const char *name, DWORD type, const std::string &bytes) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
}

LONG WriteText(HKEY key, const char *name, DWORD type, const std::string &text) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE *>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

LONG WriteDword(HKEY key, const char *name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
}

LONG CreateSubkey(HKEY parent, const char *name, RegKey &key, DWORD *disposition) {
  return RegCreateKeyExA(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.out(),
                         disposition);
}

std::string ReadMachineText(const char *key_path, const char *name) {
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS) return "";
  RegValue value;
  if (ReadValue(key.get(), name, value) != ERROR_SUCCESS) return "";
  return ValueText(value);
}

LONG OpenSystemKey(const char *path, RegKey &key, REGSAM access) {
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, key.out());
  if (rc != ERROR_FILE_NOT_FOUND) return rc;
  return CreateSubkey(HKEY_LOCAL_MACHINE, path, key);
}

void PruneEmptyKeys(const std::string &path) {
  std::string at = path;
  while (!at.empty()) {
    {
      RegKey key;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, at.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) return;
      DWORD subkeys = 0, values = 0;
      if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                           nullptr, nullptr) != ERROR_SUCCESS ||
          subkeys != 0 || values != 0)
        return;
    }
    if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, at.c_str()) != ERROR_SUCCESS) return;
    const size_t cut = at.rfind('\\');
    if (cut == std::string::npos) return;
    at.resize(cut);
  }
}

}  // namespace installkit
