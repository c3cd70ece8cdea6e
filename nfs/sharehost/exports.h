// The exports file: which directories (and printers) sharehost offers, to
// which client hosts, read-only or not, and which hosts keep root.
//
// Hosts are matched by the address a request comes from, never by the machine
// name a client writes into its credentials: a host named in the file stands
// for the addresses its name resolves to when the file is read, or for the
// one address given in brackets ("alpha[10.1.2.3]").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "handles.h"

constexpr BYTE kExportReadOnly = 1;
constexpr BYTE kExportEveryHost = 2;
constexpr BYTE kExportPrinter = 4;
constexpr BYTE kHostReadOnly = 1;
constexpr BYTE kHostRoot = 8;  // AddExportHost: the root list, not the host list

struct EXPORT_HOST {
  std::string name;
  BYTE flags = 0;                   // kHostReadOnly
  uint32_t address = 0;             // from "[a.b.c.d]", network order; 0 for none
  std::vector<uint32_t> addresses;  // what the host stands for, network order
};

struct EXPORT_ENTRY {
  std::string path;      // the first word of the line, as written
  NFS_FHANDLE handle{};  // the exported directory in export form
  std::string printer;   // a printer export's device name ("LPT1:")
  BYTE flags = kExportEveryHost;
  std::vector<EXPORT_HOST> hosts;       // newest first
  std::vector<EXPORT_HOST> root_hosts;  // from "root=", newest first
};

extern std::vector<EXPORT_ENTRY> g_Exports;

// Reads "exports" found along the standard search path; replaces the table.
// 0, or -1 when no file is found or it cannot be read (the table stays).
int ReadExportsFile();
void AddHostList(const std::string &text, EXPORT_ENTRY &entry, BYTE flags);
void AddExportHost(const std::string &text, EXPORT_ENTRY &entry, BYTE flags);
// One line per export, as the Exports dialog shows them.
std::vector<std::string> FillExportsList();

// The MOUNT rule: the handle of `path` for a client at `source` (network
// order), its read-only bit set as the export says for that host. NFS_OK,
// NFSERR_NOENT (no such directory, or none exported), NFSERR_ACCES (the host
// may not mount it).
int ExportAccess(const char *path, uint32_t source, NFS_FHANDLE &handle);

// The rule every request's handle passes: the handle lies in or below an
// export that admits `source` under the current table. NFS_OK with the
// export and whether it is read-only for that host; NFSERR_STALE when the
// handle lies in no export (forged, or its export was removed); NFSERR_ACCES
// when it does but no such export admits the host.
int CheckHandleAccess(const NFS_FHANDLE &handle, uint32_t source, bool *read_only,
                      const EXPORT_ENTRY **export_entry = nullptr);
// The handle is the exported directory itself: ".." does not leave it.
bool IsExportRoot(const NFS_FHANDLE &handle, const EXPORT_ENTRY &entry);
// The parent of a handle, kept inside its export.
void ExportParentHandle(NFS_FHANDLE &handle, const EXPORT_ENTRY &entry);
// The first printer export of that name (without regard to case, its colon
// optional on either side) and whether it admits a client at `source`. null
// when no printer export has the name.
const EXPORT_ENTRY *FindPrinterExport(const std::string &name, uint32_t source, bool &admitted);
// A host whose root keeps uid 0 on this export ("root=").
bool IsRootHost(const EXPORT_ENTRY &entry, uint32_t source);
