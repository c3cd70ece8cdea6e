// File handles, the directory-name table and its state file QXSTATE.SAV.
#include "handles.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <vector>

#include "longnames.h"
#include "registry_keys.h"

BYTE g_DriveFlags[27];

namespace {

// ---------------------------------------------------------------------------
// Handle layout: five little-endian words, then byte 20, then the last name.

uint32_t Word(const NFS_FHANDLE &h, int w) {
  if (w == 5) return h.data[20];
  const BYTE *p = h.data + 4 * w;
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void SetWord(NFS_FHANDLE &h, int w, uint32_t v) {
  if (w == 5) {
    h.data[20] = BYTE(v);
    return;
  }
  BYTE *p = h.data + 4 * w;
  for (int i = 0; i < 4; ++i) p[i] = BYTE(v >> (8 * i));
}

uint32_t Field(const NFS_FHANDLE &h, int w, int bit, int width) { return (Word(h, w) >> bit) & ((1u << width) - 1); }

void SetField(NFS_FHANDLE &h, int w, int bit, int width, uint32_t v) {
  uint32_t mask = ((1u << width) - 1) << bit;
  SetWord(h, w, (Word(h, w) & ~mask) | ((v << bit) & mask));
}

// Where each slot's index bits lie. A split slot keeps its high bits in the
// lower word, as the handles clients hold have them.
struct SlotPiece {
  int word, bit, width, index_shift;
};
struct SlotPlace {
  SlotPiece piece[2];
  int pieces;
};
constexpr SlotPlace kSlots[kMaxDepth] = {
    {{{0, 12, 12, 0}}, 1},
    {{{0, 24, 8, 4}, {1, 0, 4, 0}}, 2},
    {{{1, 4, 12, 0}}, 1},
    {{{1, 16, 12, 0}}, 1},
    {{{1, 28, 4, 8}, {2, 0, 8, 0}}, 2},
    {{{2, 8, 12, 0}}, 1},
    {{{2, 20, 12, 0}}, 1},
    {{{3, 0, 12, 0}}, 1},
    {{{3, 12, 12, 0}}, 1},
    {{{3, 24, 8, 4}, {4, 0, 4, 0}}, 2},
    {{{4, 4, 12, 0}}, 1},
    {{{4, 16, 12, 0}}, 1},
    {{{4, 28, 4, 8}, {5, 0, 8, 0}}, 2},
};

// ---------------------------------------------------------------------------
// The directory-name table: name -> index and index -> name. Lookups by name
// are what the sorted list with first-character hints gave; indices are
// handed out in order of first use, which is what handles and the state file
// depend on.

struct DirNameTable {
  std::map<std::string, int> by_name;
  std::vector<std::string> by_index;
};
DirNameTable g_table;
bool g_replaying = false;
BYTE g_chain = 0xFF;
std::string g_state_path;

// The result buffer of ChildHandle and the directory it was made from.
NFS_FHANDLE g_child;
NFS_FHANDLE g_child_dir;
bool g_child_valid = false;
int g_child_error = NFS_OK;

char g_path_buffer[MAX_PATH + 16];

bool AppendToStateFile(const std::string &name) {
  if (g_state_path.empty()) return false;
  HANDLE f = CreateFileA(g_state_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  BYTE chain = g_chain;
  std::string record = ChainEncode(name + std::string(1, '\0'), chain);
  DWORD written = 0;
  bool ok = SetFilePointer(f, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
            WriteFile(f, record.data(), DWORD(record.size()), &written, nullptr) && written == record.size();
  if (!ok && written != 0) {
    // Take a partial record back, so the file holds whole names only.
    LONG back = -LONG(written);
    SetFilePointer(f, back, nullptr, FILE_END);
    SetEndOfFile(f);
  }
  CloseHandle(f);
  if (ok) g_chain = chain;
  return ok;
}

bool IsDeviceName(const std::string &name) {
  std::string base = name.substr(0, name.find('.'));
  std::transform(base.begin(), base.end(), base.begin(), [](unsigned char c) { return std::toupper(c); });
  static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CLOCK$"};
  for (const char *d : kDevices)
    if (base == d) return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '0' &&
         base[3] <= '9';
}

}  // namespace

// ---------------------------------------------------------------------------
// Handle fields.

int HandleDrive(const NFS_FHANDLE &h) { return int(Field(h, 0, 0, 5)); }
bool HandleIsReadOnly(const NFS_FHANDLE &h) { return Field(h, 0, 5, 1) != 0; }
bool HandleIsDirectory(const NFS_FHANDLE &h) { return Field(h, 0, 6, 1) != 0; }
int HandleDepth(const NFS_FHANDLE &h) { return int(Field(h, 0, 7, 5)); }
void SetHandleDrive(NFS_FHANDLE &h, int drive) { SetField(h, 0, 0, 5, uint32_t(drive)); }
void SetHandleReadOnly(NFS_FHANDLE &h, bool on) { SetField(h, 0, 5, 1, on); }
void SetHandleDirectory(NFS_FHANDLE &h, bool on) { SetField(h, 0, 6, 1, on); }
void SetHandleDepth(NFS_FHANDLE &h, int depth) { SetField(h, 0, 7, 5, uint32_t(depth)); }

int HandleSlot(const NFS_FHANDLE &h, int slot) {
  const SlotPlace &place = kSlots[slot];
  uint32_t index = 0;
  for (int i = 0; i < place.pieces; ++i) {
    const SlotPiece &p = place.piece[i];
    index |= Field(h, p.word, p.bit, p.width) << p.index_shift;
  }
  return int(index);
}

void SetHandleSlot(NFS_FHANDLE &h, int slot, int index) {
  const SlotPlace &place = kSlots[slot];
  for (int i = 0; i < place.pieces; ++i) {
    const SlotPiece &p = place.piece[i];
    SetField(h, p.word, p.bit, p.width, uint32_t(index) >> p.index_shift);
  }
}

std::string HandleLastName(const NFS_FHANDLE &h) {
  const char *p = reinterpret_cast<const char *>(h.data + kLastNameOffset);
  return std::string(p, strnlen(p, kLastNameSize));
}

void LowerCaseName(char *buffer) {
  for (int i = 0; i < kLastNameSize && buffer[i]; ++i)
    if (buffer[i] >= 'A' && buffer[i] <= 'Z') buffer[i] = char(buffer[i] + ('a' - 'A'));
}

BYTE HandleHash(const NFS_FHANDLE &handle) {
  BYTE hash = 0;
  for (BYTE b : handle.data) hash ^= b;
  return hash;
}

// A name of 12 or more characters keeps its first 8 and its characters 9..11
// (the dot at position 8 goes); shorter names are kept whole.
void StoreLastName(NFS_FHANDLE &h, const char *name) {
  char *last = reinterpret_cast<char *>(h.data + kLastNameOffset);
  memset(last, 0, kLastNameSize);
  size_t len = strlen(name);
  if (len >= 12) {
    memcpy(last, name, 8);
    memcpy(last + 8, name + 9, 3);
  } else {
    memcpy(last, name, std::min<size_t>(len, kLastNameSize));
  }
  LowerCaseName(last);
}

// Up to 8 characters; a dot inserted when none was among them and a ninth
// character follows that is not a dot; then the rest up to position 10.
std::string ReformName(const char *name, size_t max_chars) {
  std::string in(name, strnlen(name, max_chars));
  std::string out;
  bool saw_dot = false;
  size_t i = 0;
  for (; i < 8 && i < in.size(); ++i) {
    if (in[i] == '.') saw_dot = true;
    out += in[i];
  }
  if (!saw_dot && i < in.size() && in[i] != '.') out += '.';
  for (; i < in.size() && i <= 10; ++i) out += in[i];
  return out;
}

bool IsPlainName(const char *name) {
  if (!name || !*name) return false;
  size_t len = strnlen(name, MAX_PATH + 1);
  if (len > MAX_PATH) return false;
  std::string n(name, len);
  if (n == "." || n == "..") return false;
  // The file layer drops trailing dots and blanks, so such a name would
  // reach another entry (or the directory itself).
  if (n.back() == '.' || n.back() == ' ') return false;
  for (unsigned char c : n)
    if (c < 0x20 || strchr("/\\:*?\"<>|", c)) return false;
  return !IsDeviceName(n);
}

// ---------------------------------------------------------------------------
// The directory-name table.

void InitDirNameTable() {
  g_table = DirNameTable();
  g_table.by_index.push_back("dos");
  g_table.by_name["dos"] = 0;
  g_child_valid = false;
}

int AddDirName(const char *name) {
  std::string dotted = ReformName(name, kLastNameSize);
  auto found = g_table.by_name.find(dotted);
  if (found != g_table.by_name.end()) return found->second;
  if (g_table.by_index.size() >= size_t(kMaxTableEntries)) return 0;
  if (!g_replaying && !AppendToStateFile(dotted)) return 0;
  try {
    int index = int(g_table.by_index.size());
    g_table.by_index.push_back(dotted);
    g_table.by_name[dotted] = index;
    return index;
  } catch (const std::bad_alloc &) {
    return 0;
  }
}

int FindDirName(const std::string &dotted) {
  auto found = g_table.by_name.find(dotted);
  return found == g_table.by_name.end() ? 0 : found->second;
}

const char *DirNameOf(int index) {
  if (index < 0 || size_t(index) >= g_table.by_index.size()) return nullptr;
  return g_table.by_index[size_t(index)].c_str();
}

int DirNameCount() { return int(g_table.by_index.size()); }

// ---------------------------------------------------------------------------
// The state file.

std::string ChainEncode(const std::string &plain, BYTE &chain) {
  std::string out(plain.size(), '\0');
  for (size_t i = 0; i < plain.size(); ++i) {
    out[i] = char(BYTE(plain[i]) ^ chain);
    chain = BYTE(plain[i]);
  }
  return out;
}

std::string ChainDecode(const std::string &stored, BYTE &chain) {
  std::string out(stored.size(), '\0');
  for (size_t i = 0; i < stored.size(); ++i) {
    chain = BYTE(BYTE(stored[i]) ^ chain);
    out[i] = char(chain);
  }
  return out;
}

std::string StateFilePath() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNfsClientKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
  char dir[256] = {};
  DWORD size = sizeof dir - 1, type = 0;
  LONG rc = RegQueryValueExA(key, "Installation Directory", nullptr, &type, reinterpret_cast<BYTE *>(dir), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || !dir[0]) return {};
  std::string path(dir);
  if (path.back() == '\\' || path.back() == '/') path.pop_back();
  return path + "\\QXSTATE.SAV";
}

int LoadStateFile() {
  InitDirNameTable();
  g_chain = 0xFF;
  g_state_path = StateFilePath();
  if (g_state_path.empty()) return -1;
  HANDLE f = CreateFileA(g_state_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    f = CreateFileA(g_state_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return -2;
    CloseHandle(f);
    return 1;
  }
  std::string stored;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0) stored.append(buf, got);
  CloseHandle(f);

  std::string plain = ChainDecode(stored, g_chain);
  g_replaying = true;
  int result = 1;
  size_t at = 0;
  while (at < plain.size()) {
    size_t end = plain.find('\0', at);
    // A dotted 8.3 name is at most 12 characters.
    if (end == std::string::npos || end == at || end - at > 12) {
      result = -3;
      break;
    }
    std::string name = plain.substr(at, end - at);
    at = end + 1;
    if (name.size() > 8 && name[8] == '.') name.erase(8, 1);
    int expected = DirNameCount();
    if (AddDirName(name.c_str()) != expected || expected == 0) {
      result = -3;
      break;
    }
  }
  g_replaying = false;
  if (result != 1) InitDirNameTable();
  return result;
}

bool SaveStateFile() {
  if (g_state_path.empty()) return false;
  std::string plain;
  for (size_t i = 1; i < g_table.by_index.size(); ++i) {
    plain += g_table.by_index[i];
    plain += '\0';
  }
  BYTE chain = 0xFF;
  std::string stored = ChainEncode(plain, chain);
  std::string temp = g_state_path + ".new";
  HANDLE f = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool ok = f != INVALID_HANDLE_VALUE;
  if (ok) {
    DWORD written = 0;
    ok = WriteFile(f, stored.data(), DWORD(stored.size()), &written, nullptr) && written == stored.size();
    ok = FlushFileBuffers(f) && ok;
    CloseHandle(f);
    ok = ok && MoveFileExA(temp.c_str(), g_state_path.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!ok) DeleteFileA(temp.c_str());
  }
  if (ok) g_chain = chain;
  InitDirNameTable();
  return ok;
}

// ---------------------------------------------------------------------------
// Conversions.

// Name matching in the file layer is blind to case, so several entries may
// answer one name: the one spelt exactly wins, then the one whose 8.3
// alternate it is, then the first.
EntryMatch FindEntry(const std::string &dir_path, const std::string &name, WIN32_FIND_DATAA &found) {
  std::string pattern = dir_path;
  if (pattern.empty() || pattern.back() != '\\') pattern += '\\';
  pattern += name;
  WIN32_FIND_DATAA fd;
  HANDLE find = FindFirstFileA(pattern.c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return EntryMatch::None;
  EntryMatch best = EntryMatch::None;
  do {
    EntryMatch m = name == fd.cFileName ? EntryMatch::Exact
                   : (fd.cAlternateFileName[0] && _stricmp(fd.cAlternateFileName, name.c_str()) == 0)
                       ? EntryMatch::Alternate
                       : EntryMatch::CaseBlind;
    if (best == EntryMatch::None || m < best) {
      best = m;
      found = fd;
    }
  } while (best != EntryMatch::Exact && FindNextFileA(find, &fd));
  FindClose(find);
  return best;
}

int PathToHandle(const char *path, NFS_FHANDLE &handle, bool *printer) {
  if (printer) *printer = false;
  std::string p = path ? path : "";
  if (p.size() >= 5 && p[4] == ':' && (_strnicmp(p.c_str(), "lpt", 3) == 0 || _strnicmp(p.c_str(), "com", 3) == 0)) {
    if (printer) *printer = true;
    return NFS_OK;
  }
  memset(&handle, 0, sizeof handle);
  if (!p.empty() && (p[0] == '\\' || p[0] == '/')) p.erase(0, 1);
  if (p.empty() || !std::isalpha(static_cast<unsigned char>(p[0]))) return NFSERR_NOENT;
  if (p.size() == 1) {
    p += ":\\";
  } else if (p[1] == ':' || p[1] == '\\' || p[1] == '/') {
    p[1] = ':';
    std::replace(p.begin() + 2, p.end(), '/', '\\');
    if (p.size() < 3 || p[2] != '\\') p.insert(2, "\\");
  } else {
    return NFSERR_NOENT;  // not a drive path
  }
  SetHandleDrive(handle, (p[0] - 0x60) & 31);
  SetHandleDirectory(handle, true);

  size_t at = 3;
  while (at < p.size()) {
    size_t end = p.find('\\', at);
    if (end == std::string::npos) end = p.size();
    std::string component = p.substr(at, end - at);
    at = end + 1;
    if (component.empty()) continue;
    if (!IsPlainName(component.c_str())) return NFSERR_NOENT;
    std::string on_disk;
    if (const char *found = LongNameLookup(component.c_str(), handle, false)) {
      on_disk = found;
    } else {
      // Paths written by an administrator or asked for by MOUNT are found
      // without regard to case, as on the drives they name.
      WIN32_FIND_DATAA fd;
      const char *dir_path = HandleToPath(handle);
      if (!dir_path || FindEntry(dir_path, component, fd) == EntryMatch::None) return NFSERR_NOENT;
      on_disk = fd.cFileName;
    }
    NFS_FHANDLE *child = ChildHandle(handle, on_disk.c_str());
    if (!child) return LastChildHandleError();
    handle = *child;
    SetHandleDirectory(handle, true);
  }
  const char *full = HandleToPath(handle);
  DWORD attrs = full ? GetFileAttributesA(full) : INVALID_FILE_ATTRIBUTES;
  if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) return NFSERR_NOENT;
  SetHandleDirectory(handle, true);
  return NFS_OK;
}

namespace {

// 8.3 shape: "", "." and ".."; or at most one dot with 1..8 characters before it
// and at most 3 after it.
bool HasShortShape(const std::string &name) {
  if (name.empty() || name == "." || name == "..") return true;
  size_t dot = name.find('.');
  if (dot == std::string::npos) return name.size() <= 8;
  if (name.find('.', dot + 1) != std::string::npos) return false;
  return dot >= 1 && dot <= 8 && name.size() - dot - 1 <= 3;
}

bool HasUpperCase(const std::string &name) {
  return std::any_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// The short alternate the file layer gives the entry, or the name itself.
std::string ShortFormOf(const NFS_FHANDLE &dir, const std::string &name) {
  const char *dir_path = HandleToPath(dir);
  if (!dir_path) return name;
  WIN32_FIND_DATAA fd;
  if (FindEntry(dir_path, name, fd) != EntryMatch::Exact) return name;
  return fd.cAlternateFileName[0] ? std::string(fd.cAlternateFileName) : name;
}

}  // namespace

NFS_FHANDLE *ChildHandle(const NFS_FHANDLE &dir, const char *name) {
  g_child_error = NFS_OK;
  std::string n = name ? name : "";
  int drive = HandleDrive(dir);
  // A name that is not of 8.3 shape, or that differs from its lower-case
  // form (another entry may differ from it only in case), is reached
  // through the alternate the file layer gives it, when it has one.
  if (drive >= 1 && drive <= 26 && (g_DriveFlags[drive] & kDriveLongNames) && IsPlainName(n.c_str()) &&
      (!HasShortShape(n) || HasUpperCase(n)))
    n = ShortFormOf(dir, n);

  if (!g_child_valid || memcmp(&dir, &g_child_dir, sizeof dir) != 0) {
    g_child_valid = false;
    NFS_FHANDLE next = dir;
    SetHandleDirectory(next, false);
    int depth = HandleDepth(dir);
    std::string own = HandleLastName(dir);
    if (depth > 0 || !own.empty()) {
      if (depth >= kMaxDepth) {
        g_child_error = NFSERR_NAMETOOLONG;
        return nullptr;
      }
      int index = AddDirName(own.c_str());
      if (index == 0) {
        g_child_error = DirNameCount() >= kMaxTableEntries ? NFSERR_NOSPC : NFSERR_IO;
        return nullptr;
      }
      SetHandleSlot(next, depth, index);
      SetHandleDepth(next, depth + 1);
    }
    g_child = next;
    g_child_dir = dir;
    g_child_valid = true;
  }
  SetHandleDirectory(g_child, false);
  StoreLastName(g_child, n.c_str());
  return &g_child;
}

int LastChildHandleError() { return g_child_error; }

void ParentHandle(NFS_FHANDLE &handle) {
  memset(handle.data + kLastNameOffset, 0, kLastNameSize);
  int depth = HandleDepth(handle);
  if (depth == 0) return;
  int index = HandleSlot(handle, depth - 1);
  SetHandleSlot(handle, depth - 1, 0);
  SetHandleDepth(handle, depth - 1);
  if (index > 0 && index < DirNameCount()) StoreLastName(handle, DirNameOf(index));
}

const char *HandleToPath(const NFS_FHANDLE &handle) {
  int drive = HandleDrive(handle), depth = HandleDepth(handle);
  if (drive < 1 || drive > 26 || depth > kMaxDepth) return nullptr;
  std::string path;
  path += char('a' + drive - 1);
  path += ":\\";
  for (int k = 0; k < kMaxDepth; ++k) {
    int index = HandleSlot(handle, k);
    if (k >= depth) {
      if (index != 0) return nullptr;
      continue;
    }
    const char *name = DirNameOf(index);
    if (index == 0 || !name) return nullptr;
    path += name;
    path += '\\';
  }
  const char *last = reinterpret_cast<const char *>(handle.data + kLastNameOffset);
  std::string name = ReformName(last, kLastNameSize);
  if (!name.empty()) {
    if (!IsPlainName(name.c_str())) return nullptr;
    path += name;
  }
  if (path.size() >= sizeof g_path_buffer) return nullptr;
  memcpy(g_path_buffer, path.c_str(), path.size() + 1);
  return g_path_buffer;
}
