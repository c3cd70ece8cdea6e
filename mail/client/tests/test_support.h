// Test support for the mail core: a private-INI reader over files on disk (as
// GetPrivateProfileString sees them), temporary directories, file helpers.
#ifndef QX_MAIL_TEST_SUPPORT_H
#define QX_MAIL_TEST_SUPPORT_H

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "settings.h"

namespace mailtest {

inline std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

inline std::string Trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// INI files on disk: sections and keys match ignoring case, values are trimmed
// of surrounding blanks and one pair of double quotes, writes go to the file.
class DiskProfile : public ProfileAccess {
 public:
  bool failWrites = false;
  std::string Get(const std::string &file, const std::string &section, const std::string &key,
                  const std::string &def, size_t width) override {
    std::string value = def;
    for (const auto &e : Load(file))
      if (Lower(e.section) == Lower(section) && Lower(e.key) == Lower(key)) { value = e.value; break; }
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return value.substr(0, width > 0 ? width - 1 : 0);
  }
  bool Set(const std::string &file, const std::string &section, const std::string &key,
           const std::string &value) override {
    if (failWrites) return false;
    auto entries = Load(file);
    bool done = false;
    for (auto &e : entries)
      if (Lower(e.section) == Lower(section) && Lower(e.key) == Lower(key)) { e.value = value; done = true; }
    if (!done) {
      auto at = entries.end();
      for (auto it = entries.begin(); it != entries.end(); ++it)
        if (Lower(it->section) == Lower(section)) at = it + 1;
      entries.insert(at, Entry{section, key, value});
    }
    Save(file, entries);
    return true;
  }
  std::vector<std::string> Keys(const std::string &file, const std::string &section) override {
    std::vector<std::string> keys;
    for (const auto &e : Load(file))
      if (Lower(e.section) == Lower(section) && !e.key.empty()) keys.push_back(e.key);
    return keys;
  }

 private:
  struct Entry { std::string section, key, value; };
  std::vector<Entry> Load(const std::string &file) {
    std::vector<Entry> entries;
    std::ifstream in(file, std::ios::binary);
    std::string line, section;
    while (std::getline(in, line)) {
      std::string t = Trim(line);
      if (t.empty() || t[0] == ';') continue;
      if (t[0] == '[') {
        section = t.substr(1, t.find(']') - 1);
        entries.push_back(Entry{section, "", ""});
        continue;
      }
      size_t eq = t.find('=');
      if (eq == std::string::npos) continue;
      entries.push_back(Entry{section, Trim(t.substr(0, eq)), Trim(t.substr(eq + 1))});
    }
    return entries;
  }
  void Save(const std::string &file, const std::vector<Entry> &entries) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::string section = "\x01";
    for (const auto &e : entries) {
      if (e.section != section) {
        out << "[" << e.section << "]\r\n";
        section = e.section;
      }
      if (!e.key.empty()) out << e.key << "=" << e.value << "\r\n";
    }
  }
};

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
