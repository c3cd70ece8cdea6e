// INI files: the GetPrivateProfile*/WritePrivateProfile* and WIN.INI calls.
//
// Reads parse the file afresh each time (no cache, so a write by another
// process is seen at once). Writes hold an exclusive flock on the file's
// directory while they read, change and write the file, and replace it
// through a temporary file and rename(), so a reader never sees a torn file.
// Files are written with CR LF; LF alone is accepted when reading.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "files_internal.h"
#include "qx/errors.h"
#include "qx/paths.h"

namespace {

constexpr size_t kMaxIniBytes = 16u << 20;  // larger files are not INI files
// Nor are files of more lines than this: each line read costs a record of
// about a hundred bytes, so 16 MiB of line ends alone would take 2 GB.
constexpr size_t kMaxIniLines = 1000000;

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return std::string(s.substr(b, e - b));
}

struct Line {
  std::string text;  // as stored, without the line end
  enum Kind { kOther, kSection, kKey } kind = kOther;
  std::string name;   // section or key name, trimmed
  std::string value;  // key value, trimmed, one pair of quotes removed
  bool has_value = false;
};

Line Classify(std::string text) {
  Line line;
  line.text = std::move(text);
  std::string t = Trim(line.text);
  if (t.empty() || t[0] == ';') return line;
  if (t[0] == '[') {
    size_t close = t.find(']');
    line.kind = Line::kSection;
    line.name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return line;
  }
  line.kind = Line::kKey;
  size_t eq = t.find('=');
  line.name = Trim(t.substr(0, eq));
  if (eq != std::string::npos) {
    line.has_value = true;
    line.value = Trim(t.substr(eq + 1));
    if (line.value.size() >= 2 && (line.value[0] == '"' || line.value[0] == '\'') && line.value.back() == line.value[0])
      line.value = line.value.substr(1, line.value.size() - 2);
  }
  return line;
}

struct IniFile {
  std::vector<Line> lines;
};

// The Windows path of an INI file: names without a path live in the Windows
// directory; others are taken as paths.
std::string IniPath(LPCSTR file) {
  std::string name = file && *file ? file : "WIN.INI";
  if (name.find_first_of("\\/:") == std::string::npos) return qx::WindowsDirectory() + "\\" + name;
  return name;
}

bool ResolveIni(LPCSTR file, std::string &host) {
  DWORD error;
  if (!qx::HostPath(IniPath(file), host, error)) {
    SetLastError(error);
    return false;
  }
  return true;
}

// Reads the file's lines. A file larger than any INI file (in bytes or in
// lines) is read only up to the limit, and *whole says so: a write would drop
// the rest.
bool Load(const std::string &host, IniFile &ini, bool *whole = nullptr) {
  ini.lines.clear();
  if (whole) *whole = true;
  FILE *f = std::fopen(host.c_str(), "rb");
  if (!f) return errno == ENOENT;
  std::string data;
  char buf[8192];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (data.size() + n > kMaxIniBytes) {
      data.append(buf, kMaxIniBytes - data.size());
      if (whole) *whole = false;
      break;
    }
    data.append(buf, n);
  }
  std::fclose(f);
  ini.lines.reserve(std::min<size_t>(kMaxIniLines, std::count(data.begin(), data.end(), '\n') + 1));
  size_t pos = 0;
  while (pos < data.size()) {
    if (ini.lines.size() == kMaxIniLines) {
      if (whole) *whole = false;
      break;
    }
    size_t nl = data.find('\n', pos);
    if (nl == std::string::npos) nl = data.size();
    std::string text = data.substr(pos, nl - pos);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    ini.lines.push_back(Classify(std::move(text)));
    pos = nl + 1;
  }
  return true;
}

// Index of the first line of the section's header, or -1.
long FindSection(const IniFile &ini, std::string_view section) {
  for (size_t i = 0; i < ini.lines.size(); ++i)
    if (ini.lines[i].kind == Line::kSection && qx::EqualNoCase(ini.lines[i].name, section)) return static_cast<long>(i);
  return -1;
}

// One past the section's last line (the next header or the end).
size_t SectionEnd(const IniFile &ini, long header) {
  size_t i = static_cast<size_t>(header) + 1;
  while (i < ini.lines.size() && ini.lines[i].kind != Line::kSection) ++i;
  return i;
}

long FindKey(const IniFile &ini, long header, std::string_view key) {
  const size_t end = SectionEnd(ini, header);  // once: a section may hold a million lines
  for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i)
    if (ini.lines[i].kind == Line::kKey && qx::EqualNoCase(ini.lines[i].name, key)) return static_cast<long>(i);
  return -1;
}

// Copies a string as GetPrivateProfileString does: cut to size - 1.
DWORD CopyValue(const std::string &value, LPSTR buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  size_t n = std::min<size_t>(value.size(), size - 1);
  std::memcpy(buffer, value.data(), n);
  buffer[n] = 0;
  return static_cast<DWORD>(n);
}

// Copies a list of NUL-ended strings with a final NUL; a list that does not
// fit is cut and ends in two NULs, and the result is size - 2.
DWORD CopyList(const std::vector<std::string> &items, LPSTR buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  if (size == 1) {
    buffer[0] = 0;
    return 0;
  }
  size_t total = 0;
  for (const auto &s : items) total += s.size() + 1;
  if (total + 1 <= size) {
    char *p = buffer;
    for (const auto &s : items) {
      std::memcpy(p, s.c_str(), s.size() + 1);
      p += s.size() + 1;
    }
    *p = 0;
    if (items.empty()) p[1] = 0;  // an empty list still ends in two NULs
    return static_cast<DWORD>(total);
  }
  size_t room = size - 2, used = 0;
  for (const auto &s : items) {
    if (used >= room) break;
    size_t n = std::min(s.size() + 1, room - used);
    std::memcpy(buffer + used, s.c_str(), n);
    used += n;
  }
  buffer[size - 2] = 0;
  buffer[size - 1] = 0;
  return size - 2;
}

// Holds the directory lock of a write.
class DirLock {
 public:
  explicit DirLock(const std::string &dir) {
    fd_ = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0)
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~DirLock() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

bool Store(const std::string &host, const IniFile &ini) {
  std::string data;
  for (const auto &line : ini.lines) {
    data += line.text;
    data += "\r\n";
  }
  std::string dir = host.substr(0, host.rfind('/'));
  if (dir.empty()) dir.assign(1, '/');
  std::string base = host.substr(host.rfind('/') + 1);
  mode_t mode = 0666;
  struct stat st {};
  qx::DirChange change(host);  // the file, and the temporary name beside it
  if (stat(host.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    int fd = open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);  // takes the umask
    if (fd >= 0) {
      if (fstat(fd, &st) == 0) mode = st.st_mode & 07777;
      close(fd);
    }
  }
  std::string temp = dir + "/." + base + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back(0);
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) change.Add(name.data());
  if (fd < 0) {
    SetLastError(qx::ErrorFromErrno(errno));
    return false;
  }
  bool ok = true;
  for (size_t off = 0; off < data.size() && ok;) {
    ssize_t w = write(fd, data.data() + off, data.size() - off);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0)
      ok = false;
    else
      off += static_cast<size_t>(w);
  }
  int saved = errno;
  if (ok) fchmod(fd, mode);
  if (ok && fdatasync(fd) != 0) ok = false;
  close(fd);
  if (ok && rename(name.data(), host.c_str()) != 0) ok = false;
  if (!ok) {
    saved = errno ? errno : saved;
    unlink(name.data());
    SetLastError(qx::ErrorFromErrno(saved ? saved : ENOSPC));
  }
  return ok;
}

// Text that would change the file's structure if written as given.
bool Unsafe(LPCSTR text) { return text && std::strpbrk(text, "\r\n") != nullptr; }

template <class Change>
BOOL Modify(LPCSTR file, Change change) {
  std::string host;
  if (!ResolveIni(file, host)) return FALSE;
  // Write through a symbolic link to the file it names.
  char real[PATH_MAX];
  struct stat lst {};
  if (lstat(host.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode) && realpath(host.c_str(), real)) host = real;
  std::string dir = host.substr(0, host.rfind('/'));
  DirLock lock(dir.empty() ? "/" : dir);
  if (!lock.ok()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  struct stat st {};
  if (stat(host.c_str(), &st) == 0 && qx::IsReadOnly(st)) {  // the read-only attribute holds here too
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  IniFile ini;
  bool whole = true;
  if (!Load(host, ini, &whole)) {
    SetLastError(qx::ErrorFromErrno(errno));
    return FALSE;
  }
  if (!whole) {  // rewriting what was read would cut the file off
    SetLastError(ERROR_FILE_TOO_LARGE);
    return FALSE;
  }
  change(ini);
  return Store(host, ini) ? TRUE : FALSE;
}

// Drops every section of the name, each header with its lines, in one pass: a
// damaged file may repeat a header hundreds of thousands of times.
void DeleteSections(IniFile &ini, std::string_view section) {
  size_t kept = 0;
  bool dropping = false;
  for (size_t i = 0; i < ini.lines.size(); ++i) {
    if (ini.lines[i].kind == Line::kSection) dropping = qx::EqualNoCase(ini.lines[i].name, section);
    if (dropping) continue;
    if (kept != i) ini.lines[kept] = std::move(ini.lines[i]);
    ++kept;
  }
  ini.lines.erase(ini.lines.begin() + static_cast<long>(kept), ini.lines.end());
}

// Where a new line of a section goes: after its last non-blank line.
size_t InsertPoint(const IniFile &ini, long header) {
  size_t end = SectionEnd(ini, header);
  while (end > static_cast<size_t>(header) + 1 && Trim(ini.lines[end - 1].text).empty()) --end;
  return end;
}

long AddSection(IniFile &ini, std::string_view section) {
  std::string header(1, '[');
  header.append(section);
  header.push_back(']');
  ini.lines.push_back(Classify(std::move(header)));
  return static_cast<long>(ini.lines.size() - 1);
}

}  // namespace

extern "C" {

DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                                      DWORD nSize, LPCSTR lpFileName) {
  if (!lpReturnedString || nSize == 0) return 0;
  IniFile ini;
  std::string host;
  if (!ResolveIni(lpFileName, host) || !Load(host, ini)) ini.lines.clear();
  if (!lpAppName) {
    std::vector<std::string> names;
    for (const auto &line : ini.lines)
      if (line.kind == Line::kSection) names.push_back(line.name);
    return CopyList(names, lpReturnedString, nSize);
  }
  long header = FindSection(ini, Trim(lpAppName));
  if (!lpKeyName) {
    std::vector<std::string> keys;
    if (header >= 0)
      for (size_t i = static_cast<size_t>(header) + 1, end = SectionEnd(ini, header); i < end; ++i)
        if (ini.lines[i].kind == Line::kKey) keys.push_back(ini.lines[i].name);
    return CopyList(keys, lpReturnedString, nSize);
  }
  long key = header >= 0 ? FindKey(ini, header, Trim(lpKeyName)) : -1;
  if (key >= 0 && ini.lines[static_cast<size_t>(key)].has_value) {
    SetLastError(ERROR_SUCCESS);
    return CopyValue(ini.lines[static_cast<size_t>(key)].value, lpReturnedString, nSize);
  }
  std::string fallback = lpDefault ? lpDefault : "";
  while (!fallback.empty() && fallback.back() == ' ') fallback.pop_back();
  SetLastError(ERROR_FILE_NOT_FOUND);
  return CopyValue(fallback, lpReturnedString, nSize);
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
  if (!lpAppName || !lpKeyName) return static_cast<UINT>(nDefault);
  char value[64];
  // A sentinel default tells a missing key from one that reads "0".
  const char kMissing[] = "\x01";
  GetPrivateProfileStringA(lpAppName, lpKeyName, kMissing, value, sizeof value, lpFileName);
  if (std::strcmp(value, kMissing) == 0 || value[0] == 0) return static_cast<UINT>(nDefault);
  const char *p = value;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  long long n = 0;
  while (std::isdigit(static_cast<unsigned char>(*p)) && n < 0x100000000LL) n = n * 10 + (*p++ - '0');
  return static_cast<UINT>(negative ? -n : n);
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName) {
  if (!lpAppName) {
    if (!lpKeyName && !lpString) return TRUE;  // "flush the cache": nothing is cached
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (Unsafe(lpAppName) || Unsafe(lpKeyName) || Unsafe(lpString) || std::strchr(lpAppName, ']') ||
      (lpKeyName && (std::strchr(lpKeyName, '=') || !*lpKeyName || lpKeyName[0] == '[' || lpKeyName[0] == ';'))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string section = Trim(lpAppName);
  return Modify(lpFileName, [&](IniFile &ini) {
    if (!lpKeyName) {
      DeleteSections(ini, section);
      return;
    }
    std::string key = Trim(lpKeyName);
    long header = FindSection(ini, section);
    long line = header >= 0 ? FindKey(ini, header, key) : -1;
    if (!lpString) {
      if (line >= 0) ini.lines.erase(ini.lines.begin() + line);
      return;
    }
    if (line >= 0) {  // keep the stored spelling of the key
      ini.lines[static_cast<size_t>(line)] = Classify(ini.lines[static_cast<size_t>(line)].name + "=" + lpString);
      return;
    }
    if (header < 0) header = AddSection(ini, section);
    ini.lines.insert(ini.lines.begin() + static_cast<long>(InsertPoint(ini, header)), Classify(key + "=" + lpString));
  });
}

DWORD WINAPI GetPrivateProfileSectionA(LPCSTR lpAppName, LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
  if (!lpReturnedString || nSize == 0) return 0;
  IniFile ini;
  std::string host;
  if (!lpAppName || !ResolveIni(lpFileName, host) || !Load(host, ini)) ini.lines.clear();
  std::vector<std::string> items;
  long header = lpAppName ? FindSection(ini, Trim(lpAppName)) : -1;
  if (header >= 0)
    for (size_t i = static_cast<size_t>(header) + 1, end = SectionEnd(ini, header); i < end; ++i)
      if (ini.lines[i].kind == Line::kKey) items.push_back(Trim(ini.lines[i].text));
  return CopyList(items, lpReturnedString, nSize);
}

BOOL WINAPI WritePrivateProfileSectionA(LPCSTR lpAppName, LPCSTR lpString, LPCSTR lpFileName) {
  if (!lpAppName || Unsafe(lpAppName) || std::strchr(lpAppName, ']')) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<std::string> entries;
  for (const char *p = lpString; p && *p; p += std::strlen(p) + 1) {
    std::string entry = p;
    if (Unsafe(p) || Trim(entry).empty() || Trim(entry)[0] == '[') {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    entries.push_back(entry);
  }
  std::string section = Trim(lpAppName);
  return Modify(lpFileName, [&](IniFile &ini) {
    if (!lpString) {
      DeleteSections(ini, section);
      return;
    }
    long header = FindSection(ini, section);
    if (header < 0) header = AddSection(ini, section);
    size_t end = InsertPoint(ini, header);
    ini.lines.erase(ini.lines.begin() + header + 1, ini.lines.begin() + static_cast<long>(end));
    std::vector<Line> lines;
    for (const auto &e : entries) lines.push_back(Classify(e));
    ini.lines.insert(ini.lines.begin() + header + 1, std::make_move_iterator(lines.begin()),
                     std::make_move_iterator(lines.end()));
  });
}

DWORD WINAPI GetPrivateProfileSectionNamesA(LPSTR lpszReturnBuffer, DWORD nSize, LPCSTR lpFileName) {
  return GetPrivateProfileStringA(nullptr, nullptr, nullptr, lpszReturnBuffer, nSize, lpFileName);
}

DWORD WINAPI GetProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                               DWORD nSize) {
  return GetPrivateProfileStringA(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize, "WIN.INI");
}

UINT WINAPI GetProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault) {
  return GetPrivateProfileIntA(lpAppName, lpKeyName, nDefault, "WIN.INI");
}

BOOL WINAPI WriteProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString) {
  return WritePrivateProfileStringA(lpAppName, lpKeyName, lpString, "WIN.INI");
}

}  // extern "C"
