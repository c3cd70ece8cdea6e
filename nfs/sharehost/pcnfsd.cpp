// PCNFSD version 1: AUTH, PR_INIT and PR_START.
//
// Names from the network never become paths on their own: a printer is one
// of the exports file's printer exports, printed through that export's own
// device name; a file to print is a plain name inside the spool directory.
#include "pcnfsd.h"

#include <windows.h>

#include <ntsecapi.h>

#include <cstdio>
#include <string_view>

#include "exports.h"
#include "filecache.h"
#include "idmaps.h"
#include "logon.h"

namespace {

constexpr uint32_t kPcnfsdVersion = 1;
constexpr uint32_t kMaxText = 255;  // every string of the protocol's arguments
constexpr BYTE kObscure = 0x5B;     // version 1 XORs the name and password with it
constexpr DWORD kCopyBlock = 65536;

std::string g_spool = "c:\\spool";
void (*g_report)(const std::string &) = nullptr;

void Report(const std::string &text) {
  if (g_report)
    g_report(text);
  else
    fprintf(stderr, "sharehost: %s\n", text.c_str());
}

std::string Unobscure(std::string_view text) {
  std::string plain(text);
  for (char &c : plain) c = char(BYTE(c) ^ kObscure);
  return plain;
}

void SendWords(const RpcPeer &from, std::initializer_list<uint32_t> words) {
  XdrWriter out(ReplyBody(), kMaxReplyBody);
  for (uint32_t w : words) out.Long(w);
  RpcSendReply(kNfsSocket, from, out.length());
}

// The id clients see for the token's groups: the first group with a
// mapping, else the id of the first (primary) group; -2 without groups.
int32_t GidOfToken(HANDLE token) {
  alignas(TOKEN_GROUPS) BYTE buffer[1024];
  DWORD needed = 0;
  if (!GetTokenInformation(token, TokenGroups, buffer, sizeof buffer, &needed)) return -2;
  const auto *groups = reinterpret_cast<const TOKEN_GROUPS *>(buffer);
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    PSID sid = groups->Groups[i].Sid;
    if (int32_t gid = SidToGid(sid, GetLengthSid(sid)); gid != -1) return gid;
  }
  if (groups->GroupCount == 0) return -2;
  PSID first = groups->Groups[0].Sid;
  return GidOfAccount(first, GetLengthSid(first));
}

// AUTH: the logon (interactive, then network), the account's SID, and the ids.
void Auth(XdrReader &in, const RpcPeer &from) {
  std::string_view ident_wire, password_wire;
  if (!in.Opaque(ident_wire, kMaxText) || !in.Opaque(password_wire, kMaxText)) {
    RpcSendReply(kNfsSocket, from, 0, RPC_GARBAGE_ARGS);
    return;
  }
  std::string ident = Unobscure(ident_wire), password = Unobscure(password_wire);
  if (ident.empty() || ident.find('\0') != std::string::npos || password.find('\0') != std::string::npos)
    return SendWords(from, {kAuthFail});
  NTSTATUS status = 0;
  HANDLE token = LogonInteractive(ident.c_str(), nullptr, password.c_str(), nullptr, &status);
  if (!token) {
    int guest = 0;
    token = LogonNetwork(ident.c_str(), nullptr, password.c_str(), &guest, nullptr, &status);
  }
  if (!token) return SendWords(from, {kAuthFail});
  BYTE sid[1024];
  char domain[1024];
  DWORD sid_length = sizeof sid, domain_length = sizeof domain;
  SID_NAME_USE use;
  if (!LookupAccountNameA(nullptr, ident.c_str(), sid, &sid_length, domain, &domain_length, &use)) {
    CloseHandle(token);
    return SendWords(from, {kAuthFail});
  }
  DWORD length = GetLengthSid(sid);
  int32_t uid = UidOfAccount(sid, length);
  AddUidMapping(uid, sid, length);  // the same account keeps this uid while the maps last
  int32_t gid = GidOfToken(token);
  CloseHandle(token);
  SendWords(from, {kAuthOk, uint32_t(uid), uint32_t(gid)});
}

// PR_INIT: the spool directory, for a printer export that admits the client.
void PrInit(XdrReader &in, const RpcPeer &from) {
  std::string system, printer;
  if (!in.String(system, kMaxText) || !in.String(printer, kMaxText)) {
    RpcSendReply(kNfsSocket, from, 0, RPC_GARBAGE_ARGS);
    return;
  }
  bool admitted = false;
  FindPrinterExport(printer, from.address, admitted);
  XdrWriter out(ReplyBody(), kMaxReplyBody);
  out.Long(admitted ? kPrinterOk : kNoSuchPrinter);
  out.String(admitted ? g_spool : std::string());
  RpcSendReply(kNfsSocket, from, out.length());
}

// A file name PR_START takes: one plain name, never a path.
bool PlainFileName(const std::string &name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name)
    if (BYTE(c) < 0x20 || c == '/' || c == '\\' || c == ':') return false;
  return true;
}

// Copies the spool file to the printer's device; the job prints when the
// device is closed. The status PR_START answers.
uint32_t PrintSpoolFile(const EXPORT_ENTRY &printer, const std::string &file) {
  std::string path = g_spool + "\\" + file;
  HANDLE in = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) return kPrintNoFile;
  HANDLE out = CreateFileA(printer.printer.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    Report("PCNFSD: the printer " + printer.printer + " cannot be opened (error " + std::to_string(GetLastError()) +
           "); " + path + " was not printed. Check the printer that " + printer.printer + " prints to.");
    CloseHandle(in);
    return kPrintFail;
  }
  static BYTE block[kCopyBlock];
  bool ok = true;
  for (;;) {
    DWORD got = 0, put = 0;
    if (!ReadFile(in, block, kCopyBlock, &got, nullptr)) ok = false;
    if (!ok || got == 0) break;
    if (!WriteFile(out, block, got, &put, nullptr) || put != got) {
      ok = false;
      break;
    }
  }
  CloseHandle(in);
  CloseHandle(out);
  if (!ok) {
    Report("PCNFSD: " + path + " could not be copied to the printer " + printer.printer + " (error " +
           std::to_string(GetLastError()) + ").");
    return kPrintFail;
  }
  return kPrintOk;
}

// PR_START: a file of the spool directory to a printer export that admits the client.
void PrStart(XdrReader &in, const RpcPeer &from) {
  std::string system, printer, user, file, options;
  if (!in.String(system, kMaxText) || !in.String(printer, kMaxText) || !in.String(user, kMaxText) ||
      !in.String(file, kMaxText) || !in.String(options, kMaxText)) {
    RpcSendReply(kNfsSocket, from, 0, RPC_GARBAGE_ARGS);
    return;
  }
  CloseAllCachedFiles();  // what the client wrote over NFS is on disk and closed
  bool admitted = false;
  const EXPORT_ENTRY *entry = FindPrinterExport(printer, from.address, admitted);
  if (!entry || !admitted) return SendWords(from, {kPrintFail});
  if (!PlainFileName(file)) return SendWords(from, {kPrintNoFile});
  SendWords(from, {PrintSpoolFile(*entry, file)});
}

}  // namespace

void SetPcnfsdSpoolDirectory(const std::string &directory) { g_spool = directory; }
void SetPcnfsdReporter(void (*report)(const std::string &text)) { g_report = report; }

void PcnfsdHandler(RpcCall &call, const RpcPeer &from) {
  if (call.version != kPcnfsdVersion) {
    RpcSendMismatch(kNfsSocket, from, kPcnfsdVersion, kPcnfsdVersion);
    return;
  }
  switch (call.procedure) {
    case PCNFSD_NULL:
      ++REQUEST_COUNTERS[kCountNull];
      RpcSendReply(kNfsSocket, from, 0);
      return;
    case PCNFSD_AUTH:
      ++REQUEST_COUNTERS[kCountAuth];
      Auth(call.args, from);
      return;
    case PCNFSD_PR_INIT: PrInit(call.args, from); return;
    case PCNFSD_PR_START:
      ++REQUEST_COUNTERS[kCountPrint];
      PrStart(call.args, from);
      return;
    default: return;  // past the protocol: no reply
  }
}
