// Test support for the mail core: temporary directories and file helpers.
#ifndef QX_MAIL_TEST_SUPPORT_H
#define QX_MAIL_TEST_SUPPORT_H

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace mailtest {

// A fresh directory under the test's temporary area, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string base = std::filesystem::temp_directory_path() / ("qxmail-XXXXXX");
    std::vector<char> name(base.begin(), base.end());
    name.push_back('\0');
    path_ = mkdtemp(name.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Windows of a test process draw headless into a private runtime directory,
// so one test process never meets another's windows; message boxes go to the
// program's own hooks, not to an answer from the environment.
class HeadlessDisplay {
 public:
  HeadlessDisplay() {
    unsetenv("DISPLAY");
    setenv("QX_DISPLAY", "headless", 1);
    setenv("QX_AUTOMATION", "0", 1);
    unsetenv("QX_MSGBOX");
    unsetenv("QX_MSGBOX_ANSWER");
    if (!runtime_.path().empty()) setenv("QX_RUNTIME_DIR", runtime_.path().c_str(), 1);
  }

 private:
  TempDir runtime_;
};

// A store path ("dir\\m1.msg") as a host path: the tests' directories are
// absolute host paths, which the layer reads on the drive that holds them.
inline std::string Host(std::string path) {
  for (char &c : path)
    if (c == '\\') c = '/';
  return path;
}

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(Host(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::string &path, const std::string &data) {
  std::ofstream out(Host(path), std::ios::binary | std::ios::trunc);
  out << data;
}

inline std::string SourceDir() {
  const char *s = std::getenv("QX_TEST_SOURCE_DIR");
  return s ? s : ".";
}

}  // namespace mailtest

#endif
