// Windows paths over the drive table: drive letters, the current directory,
// full-path parsing and the mapping to host paths (names found without regard
// to case), plus the directory and drive queries of KERNEL32.
//
// Drive table: C: is $QX_HOME/drive_c and Z: is the host's "/" unless the file
// $QX_HOME/drives.ini ("C=/some/dir" lines, optionally "C=/dir;FAT" to name
// the file system reported for it) or QX_DRIVE_<letter> in the environment
// say otherwise; an empty value unmaps a letter.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#include "files_internal.h"
#include "qx/env.h"
#include "qx/errors.h"
#include "qx/paths.h"

namespace qx {
namespace {

struct Drive {
  std::string root;     // host directory, "" when unmapped; never ends in '/' (except "/")
  std::string fs_name;  // reported by GetVolumeInformationA
};

bool MakeHostDirs(const std::string &dir) {
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    std::string part = dir.substr(0, pos);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return true;
}

std::string TrimBlanks(std::string s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  return s.substr(i);
}

void SetDrive(Drive &d, std::string value) {
  value = TrimBlanks(value);
  d = Drive{};
  if (value.empty()) return;
  auto semi = value.find(';');
  if (semi != std::string::npos) {
    d.fs_name = TrimBlanks(value.substr(semi + 1));
    value = TrimBlanks(value.substr(0, semi));
  }
  while (value.size() > 1 && value.back() == '/') value.pop_back();
  if (value.empty() || value[0] != '/') return;  // only absolute host directories
  d.root = value;
  if (d.fs_name.empty()) d.fs_name = "NTFS";
}

struct State {
  std::mutex lock;
  std::array<Drive, 26> drives;
  char current_drive = 'C';
  std::array<std::string, 26> drive_cwd;  // per drive, full Windows path without trailing '\'
};

State &TheState() {
  static State *state = [] {
    auto *s = new State;
    SetDrive(s->drives['C' - 'A'], HomeDir() + "/drive_c");
    MakeHostDirs(s->drives['C' - 'A'].root);
    SetDrive(s->drives['Z' - 'A'], "/");
    std::ifstream in(HomeDir() + "/drives.ini");
    std::string line;
    while (std::getline(in, line)) {
      line = TrimBlanks(line);
      if (line.size() < 2 || line[0] == ';' || line[0] == '#' || line[0] == '[') continue;
      char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(line[0])));
      size_t eq = line.find('=');
      if (letter < 'A' || letter > 'Z' || eq == std::string::npos) continue;
      if (TrimBlanks(line.substr(1, eq - 1)) != "" && TrimBlanks(line.substr(1, eq - 1)) != ":") continue;
      SetDrive(s->drives[letter - 'A'], line.substr(eq + 1));
    }
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
      std::string name = std::string("QX_DRIVE_") + letter;
      if (const char *v = std::getenv(name.c_str())) SetDrive(s->drives[letter - 'A'], v);
    }
    for (char letter = 'A'; letter <= 'Z'; ++letter) s->drive_cwd[letter - 'A'] = std::string(1, letter) + ":";
    // Start in the Windows form of the host's current directory when a drive holds it.
    char buf[4096];
    std::string start;
    if (getcwd(buf, sizeof buf)) {
      std::string host = buf;
      size_t best = 0;
      for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const std::string &root = s->drives[letter - 'A'].root;
        if (root.empty()) continue;
        bool inside = root == "/" || host == root || host.compare(0, root.size() + 1, root + "/") == 0;
        size_t weight = root == "/" ? 1 : root.size() + 1;
        if (inside && weight > best) {
          best = weight;
          std::string rest = root == "/" ? host.substr(1) : host.substr(std::min(host.size(), root.size() + 1));
          std::replace(rest.begin(), rest.end(), '/', '\\');
          start = std::string(1, letter) + ":" + (rest.empty() ? "" : "\\" + rest);
        }
      }
    }
    if (!start.empty()) {
      s->current_drive = start[0];
      s->drive_cwd[start[0] - 'A'] = start;
    }
    return s;
  }();
  return *state;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool BadNameChar(unsigned char c, bool allow_wildcards) {
  if (c < 0x20) return true;
  switch (c) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '|': return true;
    case '*':
    case '?': return !allow_wildcards;
    default: return false;
  }
}

// The current directory of a drive, "X:" or "X:\dir".
std::string DriveCwd(char letter) {
  State &s = TheState();
  std::lock_guard guard(s.lock);
  return s.drive_cwd[letter - 'A'];
}

char CurrentDrive() {
  State &s = TheState();
  std::lock_guard guard(s.lock);
  return s.current_drive;
}

bool IsNulDevice(const std::string &component) {
  std::string base = component.substr(0, component.find('.'));
  return EqualNoCase(TrimBlanks(base), "NUL");
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

std::string DriveRoot(char letter) {
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  if (letter < 'A' || letter > 'Z') return "";
  State &s = TheState();
  std::lock_guard guard(s.lock);
  return s.drives[letter - 'A'].root;
}

bool FullWindowsPath(std::string_view path, std::string &full, DWORD &error, bool allow_wildcards) {
  if (path.empty()) {
    error = ERROR_INVALID_NAME;
    return false;
  }
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    error = ERROR_BAD_NETPATH;  // UNC and device namespaces are not served
    return false;
  }
  char drive;
  std::string base;  // "X:" or "X:\dir..." the path is taken against
  std::string_view rest = path;
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    drive = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    rest = path.substr(2);
    base = (!rest.empty() && IsSeparator(rest[0])) ? std::string(1, drive) + ":" : DriveCwd(drive);
  } else {
    drive = CurrentDrive();
    base = (IsSeparator(path[0])) ? std::string(1, drive) + ":" : DriveCwd(drive);
  }
  std::vector<std::string> parts;
  size_t pos = 2;
  while (pos < base.size()) {  // components of the base, already clean
    size_t next = base.find('\\', pos + 1);
    if (next == std::string::npos) next = base.size();
    parts.push_back(base.substr(pos + 1, next - pos - 1));
    pos = next;
  }
  bool trailing_separator = !rest.empty() && IsSeparator(rest.back());
  size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && IsSeparator(rest[i])) ++i;
    size_t j = i;
    while (j < rest.size() && !IsSeparator(rest[j])) ++j;
    if (j == i) break;
    std::string comp(rest.substr(i, j - i));
    bool last = j >= rest.size() || rest.find_first_not_of("\\/", j) == std::string_view::npos;
    if (comp == ".") {
    } else if (comp == "..") {
      if (!parts.empty()) parts.pop_back();
    } else {
      for (unsigned char c : comp) {
        if (BadNameChar(c, allow_wildcards && last)) {
          error = ERROR_INVALID_NAME;
          return false;
        }
      }
      if (last) {
        while (!comp.empty() && (comp.back() == '.' || comp.back() == ' ')) comp.pop_back();
        if (!comp.empty()) parts.push_back(comp);
      } else {
        parts.push_back(comp);
      }
    }
    i = j;
  }
  full = std::string(1, drive) + ":";
  for (const auto &p : parts) full += "\\" + p;
  if (parts.empty() || (trailing_separator && !parts.empty())) full += "\\";
  return true;
}

namespace {

bool MapPath(std::string_view path, std::string &host, std::string &full, DWORD &error, bool look_up_last) {
  std::string windows;
  if (!FullWindowsPath(path, windows, error)) return false;
  if (windows.size() >= MAX_PATH) {
    error = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  std::string root = DriveRoot(windows[0]);
  if (root.empty()) {
    error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  std::vector<std::string> parts;
  size_t pos = 2;
  while (pos < windows.size()) {
    size_t next = windows.find('\\', pos + 1);
    if (next == std::string::npos) next = windows.size();
    if (next > pos + 1) parts.push_back(windows.substr(pos + 1, next - pos - 1));
    pos = next;
  }
  if (!parts.empty() && IsNulDevice(parts.back())) {
    host = "/dev/null";
    full = windows;
    return true;
  }
  host = root;
  full = windows.substr(0, 2);
  // The directory part was walked before and nothing on the way has changed:
  // only the last component is looked up.
  std::string dir_key;
  size_t k = 0;
  if (parts.size() >= 2) {
    dir_key = full;
    for (size_t d = 0; d + 1 < parts.size(); ++d) dir_key += "\\" + parts[d];
    if (CachedDirectory(dir_key, host, full)) k = parts.size() - 1;
  }
  std::vector<WalkStep> steps;
  for (; k < parts.size(); ++k) {
    std::string stored;
    bool last = k + 1 == parts.size();
    if (last && k > 0 && steps.size() == k) RememberDirectory(dir_key, host, full, steps);
    if (last && !look_up_last) {
      host = (host == "/" ? "" : host) + "/" + parts[k];
      full += "\\" + parts[k];
    } else if (FindInDir(host, parts[k], stored) || FindByAlternate(host, parts[k], stored)) {
      if (!last) steps.push_back(WalkStep{host, parts[k], stored});
      host = (host == "/" ? "" : host) + "/" + stored;
      if (!last) {
        struct stat st {};
        if (stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
          error = ERROR_PATH_NOT_FOUND;
          return false;
        }
      }
      full += "\\" + stored;
    } else if (last) {
      host = (host == "/" ? "" : host) + "/" + parts[k];
      full += "\\" + parts[k];
    } else {
      error = ERROR_PATH_NOT_FOUND;
      return false;
    }
  }
  if (parts.empty()) full += "\\";
  return true;
}

}  // namespace

bool HostPath(std::string_view path, std::string &host, std::string &full, DWORD &error) {
  return MapPath(path, host, full, error, true);
}

bool HostPathAsGiven(std::string_view path, std::string &host, DWORD &error) {
  std::string full;
  return MapPath(path, host, full, error, false);
}

bool HostPath(std::string_view path, std::string &host, DWORD &error) {
  std::string full;
  return HostPath(path, host, full, error);
}

std::string WindowsPathOf(const std::string &host) {
  if (host.empty() || host[0] != '/') return "";
  State &s = TheState();
  std::lock_guard guard(s.lock);
  std::string best;
  size_t best_weight = 0;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const std::string &root = s.drives[letter - 'A'].root;
    if (root.empty()) continue;
    bool inside = root == "/" || host == root || host.compare(0, root.size() + 1, root + "/") == 0;
    size_t weight = root == "/" ? 1 : root.size() + 1;  // a deeper root is the better name
    if (!inside || weight <= best_weight) continue;
    best_weight = weight;
    std::string rest = root == "/" ? host.substr(1) : host.substr(std::min(host.size(), root.size() + 1));
    std::replace(rest.begin(), rest.end(), '/', '\\');
    while (!rest.empty() && rest.back() == '\\') rest.pop_back();
    best = std::string(1, letter) + ":\\" + rest;
  }
  return best;
}

namespace {
std::string MakeConfiguredDir(const char *env, const std::string &fallback) {
  const char *v = std::getenv(env);
  std::string want = v && *v ? v : fallback;
  std::string full;
  DWORD error;
  if (want[0] == '/') want = WindowsPathOf(want);
  if (want.empty() || !FullWindowsPath(want, full, error)) full = fallback;
  while (full.size() > 3 && full.back() == '\\') full.pop_back();
  std::string host;
  std::string root = DriveRoot(full[0]);
  if (!root.empty()) {
    std::string rest = full.substr(2);
    std::replace(rest.begin(), rest.end(), '\\', '/');
    // Create missing directories with the spelling given, reusing existing ones.
    std::string built = root;
    size_t pos = 0;
    while (pos < rest.size()) {
      size_t next = rest.find('/', pos + 1);
      if (next == std::string::npos) next = rest.size();
      std::string comp = rest.substr(pos + 1, next - pos - 1);
      if (!comp.empty()) {
        std::string stored;
        if (!FindInDir(built, comp, stored)) {
          stored = comp;
          mkdir(((built == "/" ? "" : built) + "/" + comp).c_str(), 0777);
        }
        built = (built == "/" ? "" : built) + "/" + stored;
      }
      pos = next;
    }
  }
  return full;
}
}  // namespace

const std::string &WindowsDirectory() {
  static const std::string dir = MakeConfiguredDir("QX_WINDOWS_DIR", "C:\\WINDOWS");
  return dir;
}

const std::string &SystemDirectory() {
  static const std::string dir = MakeConfiguredDir("QX_SYSTEM_DIR", WindowsDirectory() + "\\SYSTEM32");
  return dir;
}

std::string ProgramDirectory() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string exe(buf, static_cast<size_t>(n));
  std::string dir = exe.substr(0, exe.rfind('/'));
  return WindowsPathOf(dir.empty() ? "/" : dir);
}

// Copies text into a caller's buffer as Win32 does: the length without the
// NUL when it fits, else the size needed including the NUL.
DWORD CopyOut(const std::string &text, LPSTR buffer, DWORD size) {
  if (!buffer || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

}  // namespace qx

using qx::CopyOut;

extern "C" {

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  std::string cwd = qx::DriveCwd(qx::CurrentDrive());
  if (cwd.size() == 2) cwd += "\\";
  return CopyOut(cwd, lpBuffer, nBufferLength);
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
  if (!lpPathName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string host, full;
  DWORD error;
  if (!qx::HostPath(lpPathName, host, full, error)) {
    SetLastError(error);
    return FALSE;
  }
  struct stat st {};
  if (stat(host.c_str(), &st) != 0) {
    SetLastError(qx::ErrorFromErrno(errno));
    return FALSE;
  }
  if (!S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_DIRECTORY);
    return FALSE;
  }
  while (full.size() > 2 && full.back() == '\\') full.pop_back();
  qx::State &s = qx::TheState();
  {
    std::lock_guard guard(s.lock);
    s.current_drive = full[0];
    s.drive_cwd[full[0] - 'A'] = full;
  }
  // Keep the host's view in step for code that opens relative host paths.
  if (chdir(host.c_str()) != 0) qx::Trace("SetCurrentDirectoryA: chdir %s failed", host.c_str());
  return TRUE;
}

DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR *lpFilePart) {
  std::string full;
  DWORD error;
  if (!lpFileName || !qx::FullWindowsPath(lpFileName, full, error, true)) {
    SetLastError(lpFileName ? error : ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD n = CopyOut(full, lpBuffer, nBufferLength);
  if (lpFilePart && n < nBufferLength) {
    size_t slash = full.rfind('\\');
    *lpFilePart = (slash == std::string::npos || slash + 1 == full.size()) ? nullptr : lpBuffer + slash + 1;
  }
  return n;
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  return CopyOut(qx::WindowsDirectory(), lpBuffer, uSize);
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) { return CopyOut(qx::SystemDirectory(), lpBuffer, uSize); }

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  std::string dir;
  for (const char *name : {"TMP", "TEMP"}) {
    const char *v = std::getenv(name);
    if (!v || !*v) continue;
    std::string w = v[0] == '/' ? qx::WindowsPathOf(v) : std::string(v);
    DWORD error;
    if (!w.empty() && qx::FullWindowsPath(w, dir, error)) break;
    dir.clear();
  }
  if (dir.empty()) {
    dir = qx::WindowsDirectory().substr(0, 2) + "\\TEMP";
    CreateDirectoryA(dir.c_str(), nullptr);
  }
  if (dir.back() != '\\') dir += "\\";
  return CopyOut(dir, lpBuffer, nBufferLength);
}

DWORD WINAPI GetLogicalDrives(void) {
  DWORD mask = 0;
  for (char letter = 'A'; letter <= 'Z'; ++letter)
    if (!qx::DriveRoot(letter).empty()) mask |= 1u << (letter - 'A');
  return mask;
}

namespace {
// The drive letter of a root path argument ("C:\", "C:", "\\" or NULL for the current drive).
char RootLetter(LPCSTR root) {
  if (!root || !*root || qx::IsSeparator(root[0])) return qx::CurrentDrive();
  if (std::isalpha(static_cast<unsigned char>(root[0])) && root[1] == ':')
    return static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
  return 0;
}
}  // namespace

UINT WINAPI GetDriveTypeA(LPCSTR lpRootPathName) {
  char letter = RootLetter(lpRootPathName);
  if (!letter || qx::DriveRoot(letter).empty()) return DRIVE_NO_ROOT_DIR;
  return DRIVE_FIXED;
}

BOOL WINAPI GetDiskFreeSpaceA(LPCSTR lpRootPathName, LPDWORD lpSectorsPerCluster, LPDWORD lpBytesPerSector,
                              LPDWORD lpNumberOfFreeClusters, LPDWORD lpTotalNumberOfClusters) {
  char letter = RootLetter(lpRootPathName);
  std::string root = letter ? qx::DriveRoot(letter) : "";
  struct statvfs vfs {};
  if (root.empty() || statvfs(root.c_str(), &vfs) != 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  // Report 512-byte sectors, 8 to a cluster; counts beyond 32 bits are clamped.
  const unsigned long long cluster = 4096;
  unsigned long long unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
  unsigned long long free_clusters = vfs.f_bavail * unit / cluster;
  unsigned long long total_clusters = vfs.f_blocks * unit / cluster;
  if (lpSectorsPerCluster) *lpSectorsPerCluster = 8;
  if (lpBytesPerSector) *lpBytesPerSector = 512;
  if (lpNumberOfFreeClusters) *lpNumberOfFreeClusters = static_cast<DWORD>(std::min(free_clusters, 0xFFFFFFFFull));
  if (lpTotalNumberOfClusters) *lpTotalNumberOfClusters = static_cast<DWORD>(std::min(total_clusters, 0xFFFFFFFFull));
  return TRUE;
}

BOOL WINAPI GetVolumeInformationA(LPCSTR lpRootPathName, LPSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                                  LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength,
                                  LPDWORD lpFileSystemFlags, LPSTR lpFileSystemNameBuffer, DWORD nFileSystemNameSize) {
  char letter = RootLetter(lpRootPathName);
  std::string root, fs;
  if (letter) {
    qx::State &s = qx::TheState();
    std::lock_guard guard(s.lock);
    root = s.drives[letter - 'A'].root;
    fs = s.drives[letter - 'A'].fs_name;
  }
  struct stat st {};
  if (root.empty() || stat(root.c_str(), &st) != 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  std::string label = std::string("DRIVE_") + letter;
  if (lpVolumeNameBuffer && nVolumeNameSize) {
    if (nVolumeNameSize <= label.size()) {
      SetLastError(ERROR_MORE_DATA);
      return FALSE;
    }
    std::memcpy(lpVolumeNameBuffer, label.c_str(), label.size() + 1);
  }
  if (lpVolumeSerialNumber) *lpVolumeSerialNumber = static_cast<DWORD>(st.st_dev ^ (st.st_dev >> 32));
  bool fat = fs.compare(0, 3, "FAT") == 0;
  if (lpMaximumComponentLength) *lpMaximumComponentLength = fat ? 12 : 255;
  if (lpFileSystemFlags) *lpFileSystemFlags = fat ? 0 : FILE_CASE_PRESERVED_NAMES | FILE_PERSISTENT_ACLS;
  if (lpFileSystemNameBuffer && nFileSystemNameSize) {
    if (nFileSystemNameSize <= fs.size()) {
      SetLastError(ERROR_MORE_DATA);
      return FALSE;
    }
    std::memcpy(lpFileSystemNameBuffer, fs.c_str(), fs.size() + 1);
  }
  return TRUE;
}

DWORD WINAPI SearchPathA(LPCSTR lpPath, LPCSTR lpFileName, LPCSTR lpExtension, DWORD nBufferLength, LPSTR lpBuffer,
                         LPSTR *lpFilePart) {
  if (!lpFileName || !*lpFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string name = lpFileName;
  if (lpExtension && *lpExtension && name.find('.', name.find_last_of("\\/:") + 1) == std::string::npos)
    name += lpExtension;
  std::vector<std::string> dirs;
  bool has_dir = name.find_first_of("\\/:") != std::string::npos;
  if (has_dir) {
    dirs.push_back("");
  } else if (lpPath) {
    std::string list = lpPath;
    size_t pos = 0;
    while (pos <= list.size()) {
      size_t next = list.find(';', pos);
      if (next == std::string::npos) next = list.size();
      if (next > pos) dirs.push_back(list.substr(pos, next - pos));
      pos = next + 1;
    }
  } else {
    dirs.push_back(qx::ProgramDirectory());
    dirs.push_back(".");
    dirs.push_back(qx::SystemDirectory());
    dirs.push_back(qx::WindowsDirectory());
    qx::AppendPathDirectories(dirs);
  }
  for (const auto &dir : dirs) {
    if (!has_dir && dir.empty()) continue;
    std::string candidate = has_dir ? name : dir + (dir.back() == '\\' ? "" : "\\") + name;
    std::string host, full;
    DWORD error;
    struct stat st {};
    if (!qx::HostPath(candidate, host, full, error) || stat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
    DWORD n = CopyOut(full, lpBuffer, nBufferLength);
    if (lpFilePart && n < nBufferLength) *lpFilePart = lpBuffer + full.rfind('\\') + 1;
    return n;
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return 0;
}

DWORD WINAPI GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
  // Every component takes its 8.3 alternate where it has one; the path must
  // exist, as on Windows.
  std::string host, full, short_path;
  DWORD error;
  struct stat st {};
  if (!lpszLongPath || !qx::HostPath(lpszLongPath, host, full, error)) {
    SetLastError(lpszLongPath ? error : ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (lstat(host.c_str(), &st) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  if (!qx::ShortWindowsPath(full, short_path, error)) {
    SetLastError(error);
    return 0;
  }
  return CopyOut(short_path, lpszShortPath, cchBuffer);
}

}  // extern "C"

namespace qx {

void AppendPathDirectories(std::vector<std::string> &dirs) {
  const char *p = std::getenv("PATH");
  if (!p) return;
  const std::string list = p;
  // Either a Windows list (';') or the host's (':' between host paths).
  const char sep = list.find(';') != std::string::npos ? ';' : ':';
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t next = list.find(sep, pos);
    if (next == std::string::npos) next = list.size();
    std::string entry = list.substr(pos, next - pos);
    if (!entry.empty()) {
      std::string dir = entry[0] == '/' ? WindowsPathOf(entry) : entry;
      if (!dir.empty()) dirs.push_back(dir);
    }
    pos = next + 1;
  }
}

}  // namespace qx
