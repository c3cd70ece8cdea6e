// The long-name table file QXMAPTBL.IDX of a directory.
//
// Records from offset 0, little-endian: next (offset just past the record's
// space), a word whose bit 15 marks the record free and whose bits 0..14 give
// the capacity of the name field, then the NUL-terminated name.
#include "longnames.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
constexpr DWORD kFreeBit = 0x8000;
constexpr DWORD kCapacityMask = 0x7FFF;
constexpr DWORD kMaxCapacity = 1024;

char g_alias[16];

// The one open table and the directory it belongs to.
HANDLE g_table = INVALID_HANDLE_VALUE;
NFS_FHANDLE g_table_dir;

std::string DirectoryPath(const NFS_FHANDLE &dir) {
  const char *p = HandleToPath(dir);
  if (!p) return {};
  std::string path = p;
  if (path.back() != '\\') path += '\\';
  return path;
}

HANDLE OpenMapTable(const NFS_FHANDLE &dir, bool create) {
  if (g_table != INVALID_HANDLE_VALUE && memcmp(&dir, &g_table_dir, sizeof dir) == 0) return g_table;
  CloseMapTable();
  std::string dir_path = DirectoryPath(dir);
  if (dir_path.empty()) return INVALID_HANDLE_VALUE;
  std::string path = dir_path + kMapTableName;
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (f == INVALID_HANDLE_VALUE) return f;
  if (create) SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN);
  g_table = f;
  g_table_dir = dir;
  return f;
}

DWORD ReadAt(HANDLE f, DWORD offset, void *buf, DWORD size) {
  OVERLAPPED at = {};
  at.Offset = offset;
  DWORD got = 0;
  if (!ReadFile(f, buf, size, &got, &at)) return 0;
  return got;
}

bool WriteAt(HANDLE f, DWORD offset, const void *buf, DWORD size) {
  OVERLAPPED at = {};
  at.Offset = offset;
  DWORD written = 0;
  return WriteFile(f, buf, size, &written, &at) && written == size;
}

DWORD Le32(const BYTE *p) { return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24; }

void PutLe32(BYTE *p, DWORD v) {
  for (int i = 0; i < 4; ++i) p[i] = BYTE(v >> (8 * i));
}

struct Record {
  DWORD offset, next, capacity;
  bool free;
  std::string name;
};

// Walks the records of an open table, calling visit(record) until it returns
// false. Stops at the end of the chain, at a short read, and at a record whose
// next does not lie beyond it (a damaged table never loops). Returns the
// offset where the chain ends, or -1 when a damaged record stopped it.
template <class Visit>
long WalkRecords(HANDLE f, Visit visit) {
  DWORD offset = 0;
  std::vector<BYTE> buf(8 + kMaxCapacity);
  for (;;) {
    DWORD got = ReadAt(f, offset, buf.data(), 8);
    if (got < 8) return long(offset);
    Record r;
    r.offset = offset;
    r.next = Le32(buf.data());
    DWORD word = Le32(buf.data() + 4);
    r.free = (word & kFreeBit) != 0;
    r.capacity = word & kCapacityMask;
    if (r.next <= offset || r.next - offset < 8 || r.capacity > kMaxCapacity) return -1;
    DWORD field = std::min<DWORD>(r.capacity, r.next - offset - 8);
    got = ReadAt(f, offset + 8, buf.data(), field);
    r.name.assign(reinterpret_cast<char *>(buf.data()), strnlen(reinterpret_cast<char *>(buf.data()), got));
    if (!visit(r)) return long(offset);
    offset = r.next;
  }
}

bool OnlyDots(const std::string &name) { return name.find_first_not_of('.') == std::string::npos; }

}  // namespace

const char *NameMapAlias(unsigned long offset) {
  std::string alias = kAliasPrefix;
  int digits = 0;
  while (offset != 0) {
    if (digits == 1) alias += '.';
    alias += kDigits[offset & 31];
    offset >>= 5;
    ++digits;
  }
  snprintf(g_alias, sizeof g_alias, "%s", alias.c_str());
  return g_alias;
}

long DecodeAlias(const char *alias) {
  size_t len = strlen(alias);
  if (len < 7 || _strnicmp(alias, kAliasPrefix, 7) != 0 || len > 12) return -1;
  long value = 0;
  for (size_t i = len; i-- > 7;) {
    char c = alias[i];
    if (c == '.' && i == 8) continue;
    const char *d = c ? strchr(kDigits, c >= 'a' && c <= 'z' ? c - 32 : c) : nullptr;
    if (!d) return -1;
    value = (value << 5) | long(d - kDigits);
  }
  return value;
}

bool IsReservedName(const char *name) { return _stricmp(name, kMapTableName) == 0 || DecodeAlias(name) >= 0; }

void CloseMapTable() {
  if (g_table != INVALID_HANDLE_VALUE) CloseHandle(g_table);
  g_table = INVALID_HANDLE_VALUE;
}

const char *LongNameLookup(const char *name, const NFS_FHANDLE &dir, bool create) {
  static std::string result;
  std::string n = name ? name : "";
  if (n.empty() || n == "." || n == "..") {
    result = n;
    return result.c_str();
  }
  if (!IsPlainName(n.c_str()) || IsReservedName(n.c_str())) return nullptr;
  int drive = HandleDrive(dir);
  bool long_names = drive >= 1 && drive <= 26 && (g_DriveFlags[drive] & kDriveLongNames);

  std::string dir_path = DirectoryPath(dir);
  if (dir_path.empty()) return nullptr;
  WIN32_FIND_DATAA fd;
  EntryMatch match = FindEntry(dir_path, n, fd);
  bool found = match != EntryMatch::None;
  if (found) {
    std::string reported = fd.cFileName;
    if (!long_names) {
      for (char &c : reported)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    }
    if (reported == n) {
      result = n;
      return result.c_str();
    }
    // The name is the entry's 8.3 alternate: the entry's own name.
    if (match == EntryMatch::Alternate) {
      result = fd.cFileName;
      return result.c_str();
    }
  }

  HANDLE table = OpenMapTable(dir, false);
  if (table != INVALID_HANDLE_VALUE) {
    long hit = -1;
    WalkRecords(table, [&](const Record &r) {
      if (!r.free && r.name == n) hit = long(r.offset);
      return hit < 0;
    });
    if (hit >= 0) {
      result = NameMapAlias(static_cast<unsigned long>(hit));
      return result.c_str();
    }
  }
  if (!create || found) return nullptr;
  if ((n.size() >= 3 && OnlyDots(n)) || n.find_first_of("/\\=;") != std::string::npos) return nullptr;
  result = n;
  return result.c_str();
}

std::string ReadNameRecord(const NFS_FHANDLE &dir, const char *alias) {
  long offset = DecodeAlias(alias);
  if (offset < 0) return {};
  HANDLE table = OpenMapTable(dir, false);
  if (table == INVALID_HANDLE_VALUE) return {};
  std::string name;
  WalkRecords(table, [&](const Record &r) {
    if (long(r.offset) == offset && !r.free) name = r.name;
    return long(r.offset) < offset;
  });
  return name;
}

std::string AllocateNameRecord(const char *name, const NFS_FHANDLE &dir) {
  size_t len = strlen(name);
  if (len == 0 || len + 1 > kMaxCapacity) return {};
  HANDLE table = OpenMapTable(dir, true);
  if (table == INVALID_HANDLE_VALUE) return {};
  // Best fit among free records whose name field holds the name and its NUL.
  long best = -1;
  DWORD best_capacity = 0;
  long end = WalkRecords(table, [&](const Record &r) {
    if (r.free && r.capacity > len && r.capacity < kMaxCapacity && (best < 0 || r.capacity < best_capacity)) {
      best = long(r.offset);
      best_capacity = r.capacity;
    }
    return true;
  });
  if (end < 0) return {};
  std::vector<BYTE> field(name, name + len + 1);
  DWORD offset;
  if (best >= 0) {
    offset = DWORD(best);
    BYTE word[4];
    PutLe32(word, best_capacity);
    if (!WriteAt(table, offset + 4, word, 4) || !WriteAt(table, offset + 8, field.data(), DWORD(field.size())))
      return {};
  } else {
    offset = DWORD(end);
    if (offset >= kMaxMapTableOffset) return {};
    std::vector<BYTE> record(8 + len + 1);
    PutLe32(record.data(), DWORD(offset + len + 9));
    PutLe32(record.data() + 4, DWORD(len + 1));
    memcpy(record.data() + 8, field.data(), field.size());
    if (!WriteAt(table, offset, record.data(), DWORD(record.size()))) return {};
  }
  return NameMapAlias(offset);
}

bool FreeNameRecord(const NFS_FHANDLE &dir, const char *alias) {
  long offset = DecodeAlias(alias);
  if (offset < 0) return false;
  HANDLE table = OpenMapTable(dir, false);
  if (table == INVALID_HANDLE_VALUE) return false;
  bool done = false;
  WalkRecords(table, [&](const Record &r) {
    if (long(r.offset) != offset) return long(r.offset) < offset;
    BYTE word[4];
    PutLe32(word, r.capacity | kFreeBit);
    done = WriteAt(table, r.offset + 4, word, 4);
    return false;
  });
  return done;
}
