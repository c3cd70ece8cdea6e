// The exports file and the access rules built on it.
#include "exports.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

std::vector<EXPORT_ENTRY> g_Exports;

namespace {

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
  return s;
}

bool IsPrinterWord(const std::string &word) { return word.size() >= 5 && word[4] == ':'; }

// The IPv4 addresses a host name (or dotted address) stands for now.
std::vector<uint32_t> Resolve(const std::string &name) {
  std::vector<uint32_t> out;
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo *list = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) return out;
  for (addrinfo *a = list; a; a = a->ai_next) {
    uint32_t addr = reinterpret_cast<sockaddr_in *>(a->ai_addr)->sin_addr.s_addr;
    if (std::find(out.begin(), out.end(), addr) == out.end()) out.push_back(addr);
  }
  freeaddrinfo(list);
  return out;
}

bool Matches(const EXPORT_HOST &host, uint32_t source) {
  return std::find(host.addresses.begin(), host.addresses.end(), source) != host.addresses.end();
}

void SetDriveFlags(const std::string &word) {
  char letter = word.size() > 1 && word[1] == ':' ? word[0] : (word.size() > 1 ? word[1] : 0);
  if (!std::isalpha(static_cast<unsigned char>(letter))) return;
  int drive = std::toupper(static_cast<unsigned char>(letter)) - 'A' + 1;
  g_DriveFlags[drive] = 0;
  char root[4] = {char(std::toupper(static_cast<unsigned char>(letter))), ':', '\\', 0};
  char fs[32] = {};
  if (GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, nullptr, fs, sizeof fs) && strcmp(fs, "NTFS") == 0)
    g_DriveFlags[drive] |= kDriveLongNames | kDriveNtSecurity;
  // Every Windows version since 3.10 keeps long names on every drive.
  g_DriveFlags[drive] |= kDriveLongNames;
}

// Splits off the next word at any of `delims`; empty at the end of the line.
std::string NextWord(const std::string &line, size_t &at, const char *delims) {
  at = line.find_first_not_of(delims, at);
  if (at == std::string::npos) {
    at = line.size();
    return {};
  }
  size_t end = line.find_first_of(delims, at);
  if (end == std::string::npos) end = line.size();
  std::string word = line.substr(at, end - at);
  at = end;
  return word;
}

void ParseOptions(const std::string &word, EXPORT_ENTRY &entry, bool &read_only) {
  size_t at = 1;  // past the "-"
  while (at < word.size()) {
    size_t end = word.find(',', at);
    if (end == std::string::npos) end = word.size();
    std::string option = word.substr(at, end - at);
    at = end + 1;
    if (option == "ro") {
      entry.flags |= kExportReadOnly;
      read_only = true;
    } else if (option.rfind("rw=", 0) == 0) {
      entry.flags |= kExportReadOnly;
      read_only = true;
      AddHostList(option.substr(3), entry, 0);
    } else if (option.rfind("access=", 0) == 0) {
      AddHostList(option.substr(7), entry, read_only ? kHostReadOnly : 0);
      entry.flags &= BYTE(~kExportEveryHost);
    } else if (option.rfind("root=", 0) == 0) {
      AddHostList(option.substr(5), entry, kHostRoot);
    }
    // Other options are not ours; they are passed over.
  }
}

bool ParseLine(const std::string &line, EXPORT_ENTRY &entry) {
  size_t at = 0;
  std::string path = NextWord(line, at, " \t");
  if (path.empty()) return false;
  entry = EXPORT_ENTRY();
  entry.path = path;
  bool printer = IsPrinterWord(path);
  if (!printer) SetDriveFlags(path);
  NFS_FHANDLE dir;
  bool is_printer = false;
  if (PathToHandle(path.c_str(), dir, &is_printer) != NFS_OK) return false;
  if (printer || is_printer) {
    entry.flags |= kExportPrinter;
    entry.printer = Upper(path);
  } else {
    NFS_FHANDLE *form = ChildHandle(dir, "mount");
    if (!form) return false;
    entry.handle = *form;
    memset(entry.handle.data + kLastNameOffset, 0, kLastNameSize);
  }
  bool read_only = false;
  const char *delims = " \t";
  for (;;) {
    std::string word = NextWord(line, at, delims);
    if (word.empty()) break;
    if (word[0] == '-') {
      ParseOptions(word, entry, read_only);
      delims = " \t";
    } else {
      // Hosts are separated by commas as well as blanks ("alpha, beta").
      size_t from = 0;
      while (from < word.size()) {
        size_t comma = word.find(',', from);
        if (comma == std::string::npos) comma = word.size();
        if (comma > from) AddExportHost(word.substr(from, comma - from), entry, read_only ? kHostReadOnly : 0);
        from = comma + 1;
      }
      entry.flags &= BYTE(~kExportEveryHost);
      delims = " \t,";
    }
  }
  return true;
}

// Where an export's handle (export form: depth k, empty last name) meets
// another handle: 0 no relation, 1 in or below the export, 2 the exported
// directory itself.
int Relation(const NFS_FHANDLE &h, const NFS_FHANDLE &e) {
  if (HandleDrive(h) != HandleDrive(e)) return 0;
  int k = HandleDepth(e), d = HandleDepth(h);
  auto same_slots = [&](int n) {
    for (int i = 0; i < n; ++i)
      if (HandleSlot(h, i) != HandleSlot(e, i)) return false;
    return true;
  };
  if (d >= k && same_slots(k)) {
    if (d == k && HandleLastName(h).empty()) return 2;
    return 1;
  }
  if (k > 0 && d == k - 1 && same_slots(k - 1)) {
    std::string last = HandleLastName(h);
    if (!last.empty() && FindDirName(ReformName(last.c_str(), kLastNameSize)) == HandleSlot(e, k - 1)) return 2;
  }
  return 0;
}

// Whether a host at `source` may use the export, and read-only or not.
bool Admits(const EXPORT_ENTRY &e, uint32_t source, bool &read_only) {
  if (e.hosts.empty()) {
    read_only = e.flags & kExportReadOnly;
    return true;
  }
  for (const EXPORT_HOST &host : e.hosts)
    if (Matches(host, source)) {
      read_only = host.flags & kHostReadOnly;
      return true;
    }
  if (e.flags & kExportEveryHost) {
    read_only = e.flags & kExportReadOnly;
    return true;
  }
  return false;
}

}  // namespace

void AddHostList(const std::string &text, EXPORT_ENTRY &entry, BYTE flags) {
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find(':', at);
    if (end == std::string::npos) end = text.size();
    if (end > at) AddExportHost(text.substr(at, end - at), entry, flags);
    at = end + 1;
  }
}

void AddExportHost(const std::string &text, EXPORT_ENTRY &entry, BYTE flags) {
  EXPORT_HOST host;
  size_t bracket = text.find('[');
  host.name = text.substr(0, bracket);
  if (bracket != std::string::npos) {
    std::string addr = text.substr(bracket + 1);
    if (!addr.empty() && addr.back() == ']') addr.pop_back();
    in_addr a;
    if (inet_pton(AF_INET, addr.c_str(), &a) == 1) host.address = a.s_addr;
  }
  if (host.address)
    host.addresses.push_back(host.address);
  else if (bracket == std::string::npos)
    host.addresses = Resolve(host.name);
  // A name that resolves to nothing, or a bad bracketed address, admits no one.
  if (flags & kHostRoot) {
    entry.root_hosts.insert(entry.root_hosts.begin(), host);
  } else {
    host.flags = flags & kHostReadOnly;
    entry.hosts.insert(entry.hosts.begin(), host);
  }
}

int ReadExportsFile() {
  OFSTRUCT of = {};
  if (OpenFile("exports", &of, OF_EXIST) == HFILE_ERROR) return -1;
  HANDLE f = CreateFileA(of.szPathName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return -1;
  std::string text;
  char buf[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(f, buf, sizeof buf, &got, nullptr)) && got > 0) text.append(buf, got);
  CloseHandle(f);
  if (!ok) return -1;

  std::vector<EXPORT_ENTRY> table;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    EXPORT_ENTRY entry;
    if (ParseLine(line, entry)) table.push_back(std::move(entry));
  }
  g_Exports = std::move(table);
  return 0;
}

std::vector<std::string> FillExportsList() {
  std::vector<std::string> lines;
  for (const EXPORT_ENTRY &e : g_Exports) {
    std::string line = (e.flags & kExportPrinter) ? e.printer : e.path;
    if (line.size() > 3 && line.back() == '\\') line.pop_back();
    line += '\t';
    bool any_option = false;
    if (e.flags & kExportReadOnly) {
      line += "-ro";
      any_option = true;
    }
    const char *group = nullptr;
    for (const EXPORT_HOST &host : e.hosts) {
      const char *want = (e.flags & kExportEveryHost)                                     ? "rw="
                         : ((host.flags & kHostReadOnly) || !(e.flags & kExportReadOnly)) ? "access="
                                                                                          : "rw=";
      if (group != want) {
        line += any_option ? "," : "-";
        line += want;
        any_option = true;
        group = want;
      } else {
        line += ":";
      }
      line += host.name;
      if (host.address) {
        const BYTE *b = reinterpret_cast<const BYTE *>(&host.address);
        char addr[24];
        snprintf(addr, sizeof addr, "[%u.%u.%u.%u]", b[0], b[1], b[2], b[3]);
        line += addr;
      }
    }
    if (!any_option) line += "(everyone)";
    lines.push_back(line);
  }
  return lines;
}

int ExportAccess(const char *path, uint32_t source, NFS_FHANDLE &handle) {
  bool printer = false;
  int status = PathToHandle(path, handle, &printer);
  if (status != NFS_OK) return status;
  if (printer) return NFSERR_NOENT;  // printers are reached through PCNFSD, never mounted
  NFS_FHANDLE *child = ChildHandle(handle, "mount");
  if (!child) return LastChildHandleError();
  NFS_FHANDLE form = *child;
  memset(form.data + kLastNameOffset, 0, kLastNameSize);
  for (const EXPORT_ENTRY &e : g_Exports) {
    if (e.flags & kExportPrinter) continue;
    if (Relation(form, e.handle) == 0) continue;
    bool read_only = false;
    if (!Admits(e, source, read_only)) return NFSERR_ACCES;
    SetHandleReadOnly(handle, read_only);
    return NFS_OK;
  }
  return NFSERR_NOENT;
}

int CheckHandleAccess(const NFS_FHANDLE &handle, uint32_t source, bool *read_only, const EXPORT_ENTRY **export_entry) {
  bool contained = false;
  for (const EXPORT_ENTRY &e : g_Exports) {
    if ((e.flags & kExportPrinter) || Relation(handle, e.handle) == 0) continue;
    contained = true;
    bool ro = false;
    if (!Admits(e, source, ro)) continue;
    if (read_only) *read_only = ro;
    if (export_entry) *export_entry = &e;
    return NFS_OK;
  }
  return contained ? NFSERR_ACCES : NFSERR_STALE;
}

bool IsExportRoot(const NFS_FHANDLE &handle, const EXPORT_ENTRY &entry) { return Relation(handle, entry.handle) == 2; }

void ExportParentHandle(NFS_FHANDLE &handle, const EXPORT_ENTRY &entry) {
  if (IsExportRoot(handle, entry)) return;
  ParentHandle(handle);
  SetHandleDirectory(handle, true);
}

const EXPORT_ENTRY *FindPrinterExport(const std::string &name, uint32_t source, bool &admitted) {
  auto bare = [](std::string s) {
    if (!s.empty() && s.back() == ':') s.pop_back();
    return Upper(s);
  };
  std::string wanted = bare(name);
  for (const EXPORT_ENTRY &e : g_Exports) {
    if (!(e.flags & kExportPrinter) || bare(e.printer) != wanted) continue;
    bool read_only = false;
    admitted = Admits(e, source, read_only);
    return &e;
  }
  admitted = false;
  return nullptr;
}

bool IsRootHost(const EXPORT_ENTRY &entry, uint32_t source) {
  return std::any_of(entry.root_hosts.begin(), entry.root_hosts.end(),
                     [&](const EXPORT_HOST &h) { return Matches(h, source); });
}
