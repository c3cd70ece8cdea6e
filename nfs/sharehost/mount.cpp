// MOUNT version 1: MNT through the export rule, the export list, and the
// optional log of mount and unmount requests.
#include "mount.h"

#include <windows.h>

#include <cstdio>
#include <ctime>

#include "exports.h"
#include "handles.h"

namespace {

enum MountProcedure : uint32_t {
  MOUNTPROC_NULL = 0,
  MOUNTPROC_MNT = 1,
  MOUNTPROC_DUMP = 2,
  MOUNTPROC_UMNT = 3,
  MOUNTPROC_UMNTALL = 4,
  MOUNTPROC_EXPORT = 5,
  MOUNTPROC_EXPORTALL = 6,
};
constexpr uint32_t kMaxDirPath = 1024;

std::string g_log_file;

// Client text in the log: control characters and backslashes escaped, so a
// name can never start a line of its own.
std::string LogText(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || c == '\\') {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02x", c);
      out += escaped;
    } else {
      out += char(c);
    }
  }
  return out;
}

// "Mar 14 09:05:00 1996 - Mount "/c/users" from "pc1" (10.1.2.3) " and the end,
// appended to the log file (a Windows path, opened for each line).
void LogRequest(const char *what, const std::string &path, const RpcCall &call, const RpcPeer &from, const char *end) {
  if (g_log_file.empty()) return;
  time_t now = time(nullptr);
  const char *stamp = ctime(&now);
  const uint8_t *a = reinterpret_cast<const uint8_t *>(&from.address);
  char address[24];
  snprintf(address, sizeof address, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
  std::string line = std::string(stamp ? stamp + 4 : "", stamp ? 20 : 0) + " - " + what + " \"" + LogText(path) +
                     "\" from \"" + (call.has_machine ? LogText(call.machine) : "Unknown") + "\" (" + address + ")" +
                     end;
  HANDLE log = CreateFileA(g_log_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return;  // served without its log line
  SetFilePointer(log, 0, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(log, line.data(), DWORD(line.size()), &written, nullptr);
  CloseHandle(log);
}

void Mount(RpcCall &call, const RpcPeer &from) {
  std::string path;
  if (!call.args.String(path, kMaxDirPath)) {
    RpcSendReply(kNfsSocket, from, 0, RPC_GARBAGE_ARGS);
    return;
  }
  ++REQUEST_COUNTERS[kCountMount];
  NFS_FHANDLE handle{};
  int status = ExportAccess(path.c_str(), from.address, handle);
  LogRequest("Mount", path, call, from, status == NFS_OK ? " success.\n" : " access denied.\n");
  XdrWriter out(ReplyBody(), kMaxReplyBody);
  out.Long(uint32_t(status));
  if (status == NFS_OK) out.Fixed(handle.data, kHandleSize);
  RpcSendReply(kNfsSocket, from, out.length());
}

void Unmount(RpcCall &call, const RpcPeer &from) {
  std::string path;
  if (!call.args.String(path, kMaxDirPath)) {
    RpcSendReply(kNfsSocket, from, 0, RPC_GARBAGE_ARGS);
    return;
  }
  ++REQUEST_COUNTERS[kCountUnmount];
  LogRequest("Unmount", path, call, from, "\n");
  RpcSendReply(kNfsSocket, from, 0);
}

}  // namespace

void SetMountLogFile(const std::string &path) { g_log_file = path; }

std::string ExportListName(const std::string &path, const std::string &printer) {
  if (!printer.empty()) return printer;
  std::string p = path;
  if (!p.empty() && (p[0] == '/' || p[0] == '\\')) p.erase(0, 1);
  if (p.empty()) return "/";
  std::string name = "/";
  name += p[0];
  size_t at = (p.size() > 1 && p[1] == ':') ? 2 : 1;
  while (at < p.size()) {
    size_t end = p.find_first_of("/\\", at);
    if (end == std::string::npos) end = p.size();
    if (end > at) name += "/" + p.substr(at, end - at);
    at = end + 1;
  }
  return name;
}

// A host's group name in the list: its name, or for a host given by its
// address alone ("[10.1.2.3]") that address, so a client never sees an empty group.
static std::string ExportGroupName(const EXPORT_HOST &host) {
  if (!host.name.empty() || !host.address) return host.name;
  const BYTE *b = reinterpret_cast<const BYTE *>(&host.address);
  char dotted[16];
  snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return dotted;
}

size_t ExportListReply(uint8_t *body, size_t capacity) {
  if (capacity < 4) return 0;
  XdrWriter out(body, capacity - 4);  // the end word always fits
  for (const EXPORT_ENTRY &e : g_Exports) {
    size_t before = out.length();
    out.Long(1);
    out.String(ExportListName(e.path, e.printer));
    if (!(e.flags & kExportEveryHost)) {
      for (const EXPORT_HOST &host : e.hosts) {
        out.Long(1);
        out.String(ExportGroupName(host));
      }
    }
    out.Long(0);
    if (!out.ok()) {  // this export does not fit whole: the list ends before it
      out.Truncate(before);
      break;
    }
  }
  XdrWriter end(body + out.length(), 4);
  end.Long(0);
  return out.length() + 4;
}

void MountHandler(RpcCall &call, const RpcPeer &from) {
  if (call.version != 1) {
    RpcSendMismatch(kNfsSocket, from, 1, 1);
    return;
  }
  switch (call.procedure) {
    case MOUNTPROC_NULL:
      ++REQUEST_COUNTERS[kCountNull];
      RpcSendReply(kNfsSocket, from, 0);
      return;
    case MOUNTPROC_MNT: Mount(call, from); return;
    case MOUNTPROC_DUMP:
      ++REQUEST_COUNTERS[kCountDump];
      XdrPutLong(ReplyBody(), 0);  // no mounts are recorded
      RpcSendReply(kNfsSocket, from, 4);
      return;
    case MOUNTPROC_UMNT: Unmount(call, from); return;
    case MOUNTPROC_UMNTALL:
      ++REQUEST_COUNTERS[kCountUnmountAll];
      RpcSendReply(kNfsSocket, from, 0);
      return;
    case MOUNTPROC_EXPORT:
    case MOUNTPROC_EXPORTALL:
      ++REQUEST_COUNTERS[kCountExport];
      RpcSendReply(kNfsSocket, from, ExportListReply(ReplyBody(), kMaxReplyBody));
      return;
    default: return;  // numbers past the protocol: no reply
  }
}
