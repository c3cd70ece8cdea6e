// 8.3 alternate names: which names of a directory need one, what it is, and
// finding an entry by it.
//
// Programs that keep file names in 8.3 form (the NFS server's file handles
// among them) store these names and come back with them later, maybe after a
// restart, so an alternate name must stay the same while its file does: it
// is made from the name itself, never from the file's place in a listing.
// The stem is the first two characters of the name (upper case, characters
// an 8.3 name cannot hold as "_"), then four hex digits of a hash of the
// whole name, then "~1"; the extension is the first three characters after
// the last dot. Only when two names of one directory come out the same, or
// the result is already the name of another entry, does the number go up
// (~2, ~3, ...), given in listing order among the names concerned.
//
// A name that is a valid 8.3 name (letters of either case) needs no
// alternate, unless another entry differs from it only in case and is the
// one a case-blind lookup prefers: the all-lower-case spelling when there is
// one, else the first in byte order. So every entry of a directory is found
// by its 8.3 form taken to lower case: its own name or its alternate.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "files_internal.h"
#include "qx/paths.h"

namespace qx {
namespace {

bool ShortNameChar(unsigned char c) {
  return std::isalnum(c) || std::strchr("!#$%&'()-@^_`{}~", c) != nullptr || c >= 0x80;
}

std::string Lower(const std::string &name) {
  std::string out = name;
  for (char &c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool IsAllLower(const std::string &name) {
  for (unsigned char c : name)
    if (std::isupper(c)) return false;
  return true;
}

// NTFS lists names in the order of their upper-cased forms.
bool NtfsBefore(const std::string &a, const std::string &b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int ca = std::toupper(static_cast<unsigned char>(a[i])), cb = std::toupper(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

char ShortChar(unsigned char c) { return static_cast<char>(ShortNameChar(c) ? std::toupper(c) : '_'); }

// The parts an alternate is made of: stem (two characters and four hex
// digits) and extension (up to three characters, without the dot).
void AlternateParts(const std::string &name, std::string &stem, std::string &ext) {
  size_t dot = name.rfind('.');
  bool has_ext = dot != std::string::npos && dot != 0;
  std::string base = has_ext ? name.substr(0, dot) : name;
  ext.clear();
  if (has_ext)
    for (unsigned char c : name.substr(dot + 1))
      if (ext.size() < 3 && c != ' ' && c != '.') ext += ShortChar(c);
  std::string prefix;
  for (unsigned char c : base) {
    if (prefix.size() == 2) break;
    if (c != ' ' && c != '.') prefix += ShortChar(c);
  }
  if (prefix.empty()) prefix.push_back('_');
  // FNV-1a over the exact bytes, folded to 16 bits.
  std::uint32_t h = 2166136261u;
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>((h >> 16) ^ (h & 0xFFFF)));
  stem = prefix + hex;
}

std::string Compose(const std::string &stem, unsigned number, const std::string &ext) {
  char tail[16];
  const size_t tail_size = static_cast<size_t>(std::snprintf(tail, sizeof tail, "~%u", number));
  std::string out = stem.substr(0, 8 - std::min<size_t>(tail_size, 7));
  out.append(tail, tail_size);
  if (!ext.empty()) out += "." + ext;
  return out;
}

}  // namespace

bool IsShortName(const std::string &name) {
  if (name == "." || name == "..") return true;
  size_t dot = name.find('.');
  std::string base = name.substr(0, dot);
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3 || ext.find('.') != std::string::npos) return false;
  if (dot != std::string::npos && ext.empty()) return false;
  for (unsigned char c : base + ext)
    if (!ShortNameChar(c)) return false;
  return true;
}

std::vector<std::string> AlternateNames(const std::vector<std::string> &names) {
  std::vector<std::string> alternates(names.size());
  // The spelling a case-blind lookup prefers in each group of names that
  // differ only in case.
  std::map<std::string, std::string> preferred;
  std::set<std::string> taken;  // every name, lower-cased: an alternate may equal none
  for (const auto &name : names) {
    std::string key = Lower(name);
    taken.insert(key);
    auto it = preferred.find(key);
    if (it == preferred.end()) {
      preferred.emplace(key, name);
    } else if (!IsAllLower(it->second) && (IsAllLower(name) || name < it->second)) {
      it->second = name;
    }
  }
  std::vector<size_t> needing;
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == "." || names[i] == "..") continue;
    if (IsShortName(names[i]) && preferred[Lower(names[i])] == names[i]) continue;
    needing.push_back(i);
  }
  std::sort(needing.begin(), needing.end(), [&](size_t a, size_t b) { return NtfsBefore(names[a], names[b]); });
  for (size_t i : needing) {
    std::string stem, ext;
    AlternateParts(names[i], stem, ext);
    for (unsigned number = 1; number < 1000000; ++number) {
      std::string candidate = Compose(stem, number, ext);
      if (taken.insert(Lower(candidate)).second) {
        alternates[i] = candidate;
        break;
      }
    }
  }
  return alternates;
}

bool AlternateNameOf(const std::string &dir, const std::string &stored, std::string &alternate) {
  std::vector<std::string> names;
  if (!ListDirNames(dir, names)) return false;
  auto it = std::find(names.begin(), names.end(), stored);
  if (it == names.end()) return false;
  alternate = AlternateNames(names)[static_cast<size_t>(it - names.begin())];
  return true;
}

bool FindByAlternate(const std::string &dir, const std::string &component, std::string &stored) {
  if (component.find('~') == std::string::npos || !IsShortName(component)) return false;
  std::vector<std::string> names;
  if (!ListDirNames(dir, names)) return false;
  const std::vector<std::string> alternates = AlternateNames(names);
  const std::string wanted = Lower(component);
  for (size_t i = 0; i < names.size(); ++i) {
    if (alternates[i].empty() || Lower(alternates[i]) != wanted) continue;
    stored = names[i];
    return true;
  }
  return false;
}

bool ShortWindowsPath(const std::string &full, std::string &short_path, DWORD &error) {
  // full is a full path with stored spellings ("C:\Dir\Name"), as HostPath gives.
  std::string dir = DriveRoot(static_cast<char>(std::toupper(static_cast<unsigned char>(full[0]))));
  if (dir.empty()) {
    error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  short_path = full.substr(0, 3);
  size_t pos = 3;
  while (pos < full.size()) {
    size_t next = full.find('\\', pos);
    if (next == std::string::npos) next = full.size();
    std::string component = full.substr(pos, next - pos);
    std::string alternate;
    if (!AlternateNameOf(dir, component, alternate)) {
      error = ERROR_FILE_NOT_FOUND;
      return false;
    }
    if (short_path.back() != '\\') short_path += '\\';
    short_path += alternate.empty() ? component : alternate;
    dir = (dir == "/" ? "" : dir) + "/" + component;
    pos = next + 1;
  }
  return true;
}

}  // namespace qx
