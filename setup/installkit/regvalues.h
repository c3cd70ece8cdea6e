// Registry access for the installation steps: keys that close themselves,
// values read whole whatever their size (never cut to a fixed buffer, never
// written back cut), and the system keys a fresh machine does not have yet.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace installkit {

// An open registry key, closed when the object goes.
class RegKey {
 public:
  RegKey() = default;
  ~RegKey() { Close(); }
  RegKey(const RegKey &) = delete;
  RegKey &operator=(const RegKey &) = delete;
  HKEY get() const { return key_; }
  HKEY *out() {
    Close();
    return &key_;
  }
  void Close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

// A service manager or service handle, closed when the object goes.
class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
  ~ScHandle() {
    if (handle_) CloseServiceHandle(handle_);
  }
  ScHandle(const ScHandle &) = delete;
  ScHandle &operator=(const ScHandle &) = delete;
  SC_HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

struct RegValue {
  DWORD type = REG_NONE;
  std::string data;  // the bytes as stored
};

// Reads a value whole: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when there is no
// such value, or the registry's error.
LONG ReadValue(HKEY key, const char *name, RegValue &value);
// A string value's text: its bytes up to the first NUL.
std::string ValueText(const RegValue &value);
// Writes a string value (REG_SZ, REG_EXPAND_SZ) with its terminating NUL.
LONG WriteText(HKEY key, const char *name, DWORD type, const std::string &text);
// Writes bytes as they are (a multi-string with its NULs, a DWORD).
LONG WriteBytes(HKEY key, const char *name, DWORD type, const std::string &bytes);
LONG WriteDword(HKEY key, const char *name, DWORD value);

// Creates (or opens) a subkey with all access; the disposition tells which.
LONG CreateSubkey(HKEY parent, const char *name, RegKey &key, DWORD *disposition = nullptr);
// A string value of a key of HKEY_LOCAL_MACHINE, "" when the key or the value
// is missing.
std::string ReadMachineText(const char *key_path, const char *name);

// Opens a key of HKEY_LOCAL_MACHINE with the access asked (query and set by
// default; subkeys need KEY_ALL_ACCESS); a key the machine does not have yet
// (a fresh machine has no provider orders and no system search path) is
// created. ERROR_ACCESS_DENIED and the like come back as they are.
LONG OpenSystemKey(const char *path, RegKey &key, REGSAM access = KEY_QUERY_VALUE | KEY_SET_VALUE);
// Deletes the key at `path` of HKEY_LOCAL_MACHINE when it holds no values and
// no subkeys, then its parents while they are empty too: what an
// installation created on a fresh machine goes again, keys that hold
// anything stay.
void PruneEmptyKeys(const std::string &path);

}  // namespace installkit
