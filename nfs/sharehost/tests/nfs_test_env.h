// A private machine for one NFS test program: QX_HOME, the machine registry,
// runtime objects and a D: drive in a fresh temporary directory, set before
// the layer first looks; the installation directory D:\qxnfs in the registry.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "registry_keys.h"

namespace nfstest {

struct Machine {
  std::string root;
  Machine() {
    char tmpl[] = "/tmp/qx-nfs-test-XXXXXX";
    root = mkdtemp(tmpl);
    setenv("QX_HOME", (root + "/home").c_str(), 1);
    setenv("QX_MACHINE_DIR", (root + "/machine").c_str(), 1);
    setenv("QX_RUNTIME_DIR", (root + "/run").c_str(), 1);
    std::filesystem::create_directories(root + "/d/qxnfs");
    setenv("QX_DRIVE_D", (root + "/d").c_str(), 1);
  }
  ~Machine() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  std::string DriveD() const { return root + "/d"; }
  static void Write(const std::string &host, const std::string &data) {
    std::ofstream out(host, std::ios::binary);
    out << data;
  }
  static std::string Read(const std::string &host) {
    std::ifstream in(host, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

inline Machine &TheMachine() {
  static Machine machine;
  return machine;
}

// Points "Installation Directory" at dir (a Windows path), or removes the key.
inline void SetInstallationDirectory(const char *dir) {
  if (!dir) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kNfsClientKey);
    return;
  }
  HKEY key;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, kNfsClientKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegSetValueExA(key, "Installation Directory", 0, REG_SZ, reinterpret_cast<const BYTE *>(dir), DWORD(strlen(dir) + 1));
  RegCloseKey(key);
}

}  // namespace nfstest
