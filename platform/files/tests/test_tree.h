// A private tree for each test program: QX_HOME, a D: drive and a Windows
// directory in a fresh temporary directory, set before the layer first looks.
#pragma once

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace qxtest {

struct Tree {
  std::string root;  // host directory holding everything
  Tree() {
    char tmpl[] = "/tmp/qx-files-test-XXXXXX";
    root = mkdtemp(tmpl);
    setenv("QX_HOME", (root + "/home").c_str(), 1);
    std::filesystem::create_directories(root + "/d");
    setenv("QX_DRIVE_D", (root + "/d").c_str(), 1);
    unsetenv("QX_WINDOWS_DIR");
    unsetenv("QX_SYSTEM_DIR");
    unsetenv("TMP");
    unsetenv("TEMP");
  }
  ~Tree() {
    std::error_code ec;
    // Read-only files and directories are removable by their owner.
    std::filesystem::remove_all(root, ec);
  }
  std::string DriveC() const { return root + "/home/drive_c"; }
  std::string DriveD() const { return root + "/d"; }
  static std::string Read(const std::string &host) {
    std::ifstream in(host, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Write(const std::string &host, const std::string &data) {
    std::ofstream out(host, std::ios::binary);
    out << data;
  }
};

// Made before main(), so the layer's directories are the test's.
inline Tree &TheTree() {
  static Tree tree;
  return tree;
}

}  // namespace qxtest
