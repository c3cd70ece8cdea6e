// Test support for the mail core: store paths ("dir\\m1.msg") read and
// written on the host, over the shared scratch folders and headless display.
#ifndef QX_MAIL_TEST_SUPPORT_H
#define QX_MAIL_TEST_SUPPORT_H

#include <string>

#include "qxtest/support.h"

namespace mailtest {

using qxtest::HeadlessDisplay;
using qxtest::SourceDir;
using qxtest::TempDir;

// A store path as a host path: the tests' directories are absolute host
// paths, which the layer reads on the drive that holds them.
inline std::string Host(std::string path) {
  for (char &c : path)
    if (c == '\\') c = '/';
  return path;
}

inline std::string ReadFile(const std::string &path) { return qxtest::ReadFile(Host(path)); }

inline void WriteFile(const std::string &path, const std::string &data) { qxtest::WriteFile(Host(path), data); }

}  // namespace mailtest

#endif
