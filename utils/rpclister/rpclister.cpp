// The listers' call through the NFS client's RPC device, the NIS fallback for
// host names, the XDR results decoded within the bytes received, and the
// dialog frame they share.
#include "rpclister.h"

#include <queryclient.h>
#include <qxcommon.h>
#include <winsock.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kRpcRequestCode = 0x7400C;
constexpr std::uint32_t kRequestMagic = 0xFFE17B80;
constexpr size_t kNameOffsetNoPieces = 116;
constexpr const char kDeviceName[] = "QXNFS_RPC";
constexpr const char kDeviceTarget[] = "\\device\\QXNFS\\+:";
constexpr const char kDevicePath[] = "\\\\.\\QXNFS_RPC";
constexpr const char kClientKey[] = "SOFTWARE\\Corvane\\NFSClient\\CurrentVersion";
constexpr int kHostLength = 80;  // the address text NIS may give

void PutLittle(std::vector<unsigned char> &b, size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}
void PutBig(std::vector<unsigned char> &b, size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}

// The device request: fixed part, piece table, "QXNFS", the pieces. The
// bytes the layout leaves unset are zero here, never stale memory.
std::vector<unsigned char> BuildRequest(std::uint32_t server, DWORD program, DWORD version, DWORD procedure,
                                        const std::vector<std::string> &pieces) {
  const size_t n = pieces.size(), nameAt = kNameOffsetNoPieces + 8 * n;
  std::vector<unsigned char> b(nameAt, 0);
  PutLittle(b, 0, kRequestMagic);
  PutLittle(b, 4, 0xFFFFFFFFu);
  std::memcpy(&b[8], &server, 4);
  PutLittle(b, 12, static_cast<std::uint32_t>(nameAt));
  PutLittle(b, 16, 5);
  PutBig(b, 96, program);
  PutBig(b, 100, version);
  PutBig(b, 104, procedure);
  size_t at = nameAt + 5;
  for (size_t i = 0; i < n; ++i) {
    PutLittle(b, 108 + 8 * i, static_cast<std::uint32_t>(pieces[i].size()));
    PutLittle(b, 112 + 8 * i, static_cast<std::uint32_t>(at));
    at += pieces[i].size();
  }
  PutLittle(b, 108 + 8 * n, 0xFFFFFFFFu);
  for (char c : std::string("QXNFS")) b.push_back(static_cast<unsigned char>(c));
  for (const std::string &p : pieces) b.insert(b.end(), p.begin(), p.end());
  return b;
}

// Opens the device (defining its name first, as the driver's callers do).
HANDLE OpenRpcDevice(DWORD access) {
  DefineDosDeviceA(DDD_RAW_TARGET_PATH, kDeviceName, kDeviceTarget);
  return CreateFileA(kDevicePath, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

// One device call; the Win32 error (0 on success) and the bytes returned.
DWORD DeviceCall(HANDLE device, const std::vector<unsigned char> &request, unsigned char *reply, DWORD &returned) {
  returned = 0;
  if (DeviceIoControl(device, kRpcRequestCode, const_cast<unsigned char *>(request.data()),
                      static_cast<DWORD>(request.size()), reply, RPC_REPLY_SIZE, &returned, nullptr))
    return 0;
  const DWORD error = GetLastError();
  return error ? error : ERROR_GEN_FAILURE;
}

std::string BigLength(size_t n) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((n >> (24 - 8 * i)) & 0xFF);
  return out;
}

bool ReadNisSettings(std::string &domain, std::uint32_t &server) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kClientKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  char text[256] = "";
  DWORD type = 0, size = sizeof text - 1;
  if (RegQueryValueExA(key, "NIS Domain", nullptr, &type, reinterpret_cast<BYTE *>(text), &size) == ERROR_SUCCESS)
    domain.assign(text, strnlen(text, size));
  BYTE address[4] = {};
  size = sizeof address;
  const bool haveServer =
      RegQueryValueExA(key, "NIS Server IP", nullptr, &type, address, &size) == ERROR_SUCCESS && size == 4;
  RegCloseKey(key);
  std::memcpy(&server, address, 4);
  return haveServer && server != 0;
}

// A bounded reader of XDR over the bytes received.
class XdrReader {
 public:
  XdrReader(const unsigned char *data, DWORD length) : data_(data), length_(data ? length : 0) {}
  bool Word(std::uint32_t &v) {
    if (length_ - at_ < 4) return false;
    v = (static_cast<std::uint32_t>(data_[at_]) << 24) | (data_[at_ + 1] << 16) | (data_[at_ + 2] << 8) |
        data_[at_ + 3];
    at_ += 4;
    return true;
  }
  // A string: its length word, its bytes and the padding, all within the
  // bytes received. Control bytes are shown as '?', so a NUL never cuts a line.
  bool String(std::string &out) {
    std::uint32_t n = 0;
    if (!Word(n) || n > length_ - at_) return false;
    const DWORD padded = (n + 3) & ~3u;
    if (padded > length_ - at_) return false;
    out.assign(reinterpret_cast<const char *>(data_ + at_), n);
    for (char &c : out)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    at_ += padded;
    return true;
  }

 private:
  const unsigned char *data_;
  DWORD length_;
  DWORD at_ = 0;
};

struct ProgramName {
  std::uint32_t program;
  const char *name;
};
const ProgramName kProgramNames[] = {
    {100000, "portmapper"},  {100001, "rstatd"},     {100002, "rusersd"},       {100003, "nfs"},
    {100004, "ypserv"},      {100005, "mountd"},     {100007, "ypbind"},        {100008, "walld"},
    {100009, "yppasswdd"},   {100010, "etherstatd"}, {100011, "rquotad"},       {100012, "sprayd"},
    {100013, "3270_mapper"}, {100014, "rje_mapper"}, {100015, "selection_svc"}, {100016, "database_svc"},
    {100017, "rexd"},        {100018, "alis"},       {100019, "sched"},         {100020, "llockmgr"},
    {100021, "nlockmgr"},    {100022, "x25.inr"},    {100023, "statmon"},       {100024, "status"},
    {100026, "bootparam"},   {100028, "ypupdated"},  {100029, "keyserv"},       {100033, "sunlink_mapper"},
    {100037, "tfsd"},        {100038, "nsed"},       {100039, "nsemntd"},       {100043, "showfhd"},
    {100055, "ioadmd"},      {100062, "NETlicense"}, {100065, "sunisamd"},      {100066, "debug_svc"},
    {100071, "bugtraqd"},    {100078, "kerbd"},      {100087, "admind"},        {100101, "event"},
    {100102, "logger"},      {100104, "sync"},       {100107, "hostperf"},      {100109, "activity"},
    {100112, "hostmem"},     {100113, "sample"},     {100114, "x25"},           {100115, "ping"},
    {100116, "rpcnfs"},      {100117, "hostif"},     {100118, "etherif"},       {100120, "iproutes"},
    {100121, "layers"},      {100122, "snmp"},       {100123, "traffic"},       {100300, "nisd"},
    {150001, "pcnfsd"},      {788585389, "qxnfsd"},  {0xFFFFFFFFu, ""},
};

}  // namespace

std::string NisField(const std::string &value, int field, int maxLength) {
  std::string out;
  int current = 1;
  for (char c : value) {
    if (static_cast<int>(out.size()) >= maxLength) break;
    if (field != 0 && (c == ' ' || c == ':' || c == '\t')) {
      if (++current > field) break;
      continue;
    }
    if (field == 0 || current == field) out.push_back(c);
  }
  return out;
}

int NisMatch(LPCSTR map, LPCSTR key, char *out, int maxLength, int field) {
  if (!out || maxLength < 0) return 1;
  out[0] = '\0';
  std::string domain;
  std::uint32_t server = 0;
  if (!ReadNisSettings(domain, server)) return 1;
  const std::string mapText = map ? map : "", keyText = key ? key : "";
  const std::vector<std::string> pieces = {BigLength(domain.size()),  domain, BigLength(mapText.size()), mapText,
                                           BigLength(keyText.size()), keyText};
  std::vector<unsigned char> request = BuildRequest(server, 100004, 2, 3, pieces);
  request.push_back(0);  // the length given is the end of the last piece plus one
  HANDLE device = OpenRpcDevice(GENERIC_READ | GENERIC_WRITE);
  if (device == INVALID_HANDLE_VALUE) return 1;
  std::vector<unsigned char> reply(RPC_REPLY_SIZE);
  DWORD returned = 0;
  const DWORD error = DeviceCall(device, request, reply.data(), returned);
  CloseHandle(device);
  if (error) return 1;
  XdrReader r(reply.data(), std::min<DWORD>(returned, RPC_REPLY_SIZE));
  std::uint32_t status = 0;
  std::string value;
  if (!r.Word(status) || status != 1 || !r.String(value)) return 1;
  const std::string chosen = NisField(value, field, maxLength);
  std::memcpy(out, chosen.c_str(), chosen.size() + 1);
  return 0;
}

int RpcDeviceCall(LPCSTR host, DWORD program, DWORD version, DWORD procedure, RPC_RESULT_HANDLER handler) {
  std::uint32_t server = host ? inet_addr(host) : INADDR_NONE;
  if (server == INADDR_NONE) {
    const struct hostent *entry = host && host[0] ? gethostbyname(host) : nullptr;
    if (entry && entry->h_addrtype == AF_INET && entry->h_length == 4 && entry->h_addr_list && entry->h_addr_list[0]) {
      std::memcpy(&server, entry->h_addr_list[0], 4);
    } else {
      char text[kHostLength + 1];
      if (!host || !host[0] || NisMatch("hosts.byname", host, text, kHostLength, 1) != 0) return RPC_HOST_UNKNOWN;
      server = inet_addr(text);
      if (server == INADDR_NONE) return RPC_HOST_UNKNOWN;
    }
  }
  const std::vector<unsigned char> request = BuildRequest(server, program, version, procedure, {});
  HANDLE device = OpenRpcDevice(GENERIC_READ);
  if (device == INVALID_HANDLE_VALUE) return RPC_NO_DEVICE;
  std::vector<unsigned char> reply(RPC_REPLY_SIZE);
  DWORD returned = 0;
  const DWORD error = DeviceCall(device, request, reply.data(), returned);
  CloseHandle(device);
  switch (error) {
    case 0:
    case ERROR_MORE_DATA:
      return handler ? handler(reply.data(), std::min<DWORD>(returned, RPC_REPLY_SIZE), error == ERROR_MORE_DATA) : 0;
    case ERROR_ACCESS_DENIED: return RPC_CALL_REJECTED;
    case ERROR_NOT_SUPPORTED: return RPC_PROGRAM_MISSING;
    default: return RPC_CALL_FAILED;
  }
}

EXPORT_TABLE DecodeExportList(const unsigned char *body, DWORD length) {
  EXPORT_TABLE table;
  XdrReader r(body, length);
  size_t groupsKept = 0;
  for (;;) {
    std::uint32_t more = 0;
    EXPORT_LINE_ENTRY entry;
    if (!r.Word(more) || (more && !r.String(entry.directory))) return table.damaged = true, table;
    if (!more) return table;
    for (;;) {
      std::uint32_t group = 0;
      std::string name;
      if (!r.Word(group) || (group && !r.String(name))) return table.damaged = true, table;
      if (!group) break;
      if (groupsKept < RPC_TABLE_MAX && table.exports.size() < RPC_TABLE_MAX) {
        entry.groups.push_back(name);
        ++groupsKept;
      }
    }
    if (table.exports.size() < RPC_TABLE_MAX)
      table.exports.push_back(std::move(entry));
    else
      ++table.notShown;
  }
}

REGISTRATION_TABLE DecodeRegistrations(const unsigned char *body, DWORD length) {
  REGISTRATION_TABLE table;
  XdrReader r(body, length);
  for (;;) {
    std::uint32_t more = 0;
    RPC_REGISTRATION e{};
    if (!r.Word(more)) return table.damaged = true, table;
    if (!more) return table;
    if (!r.Word(e.program) || !r.Word(e.version) || !r.Word(e.protocol) || !r.Word(e.port))
      return table.damaged = true, table;
    if (table.entries.size() < RPC_TABLE_MAX)
      table.entries.push_back(e);
    else
      ++table.notShown;
  }
}

std::string ExportLine(const EXPORT_LINE_ENTRY &entry) {
  std::string line = entry.directory;  // "%-32s\t" of any length
  if (line.size() < 32) line.append(32 - line.size(), ' ');
  line += '\t';
  if (entry.groups.empty()) return line + " (everyone)";
  for (const std::string &g : entry.groups) line += " " + g;
  return line;
}

LPCSTR RpcProgramName(std::uint32_t program) {
  for (const ProgramName &p : kProgramNames)
    if (p.program == program) return p.name;
  return "(unknown)";
}

std::string RegistrationLine(const RPC_REGISTRATION &e) {
  // Printed as the 32-bit signed values the list has always shown.
  char line[128];
  std::snprintf(
      line, sizeof line, "%10ld\t%2ld\t%5ld\t%4s\t%s", static_cast<long>(static_cast<std::int32_t>(e.program)),
      static_cast<long>(static_cast<std::int32_t>(e.version)), static_cast<long>(static_cast<std::int32_t>(e.port)),
      e.protocol == 6 ? "tcp" : "udp", RpcProgramName(e.program));
  return line;
}

std::string TableEndLine(int notShown, bool damaged, bool cut) {
  char line[96];
  if (damaged || cut) {
    std::snprintf(line, sizeof line, "... (the reply ended early; the list may be incomplete%s)",
                  notShown ? ", and more were not shown" : "");
    return line;
  }
  if (!notShown) return "";
  std::snprintf(line, sizeof line, "... (%d more not shown)", notShown);
  return line;
}

void RpcListerInitDialog(HWND dialog, LPCSTR iniFile, LPCSTR section, int comboId) {
  RECT r;
  GetWindowRect(dialog, &r);
  const int x = static_cast<int>(GetPrivateProfileIntA(section, "Xl", r.left, iniFile));
  const int y = static_cast<int>(GetPrivateProfileIntA(section, "Yt", r.top, iniFile));
  MoveWindow(dialog, x, y, r.right - r.left + 1, r.bottom - r.top + 1, TRUE);
  RecentListFill(GetDlgItem(dialog, comboId), iniFile, section, "FILE_%d");
}

void RpcListerSavePosition(HWND dialog, LPCSTR iniFile, LPCSTR section) {
  if (IsIconic(dialog)) return;
  RECT r;
  if (!GetWindowRect(dialog, &r)) return;
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(r.left));
  WritePrivateProfileStringA(section, "Xl", text, iniFile);
  std::snprintf(text, sizeof text, "%d", static_cast<int>(r.top));
  WritePrivateProfileStringA(section, "Yt", text, iniFile);
}

void RpcListerRememberHost(HWND dialog, LPCSTR iniFile, LPCSTR section, int comboId, LPCSTR host) {
  if (!host || !host[0]) return;
  RecentListAdd(iniFile, section, "FILE_%d", host);
  HWND combo = GetDlgItem(dialog, comboId);
  SendMessageA(combo, CB_RESETCONTENT, 0, 0);
  RecentListFill(combo, iniFile, section, "FILE_%d");
}

// ---- The program ----

namespace {

const LISTER_PROGRAM *g_lister = nullptr;
HINSTANCE g_instance = nullptr;
HWND g_list = nullptr;
char g_iniFile[MAX_PATH] = QX_APPS_INI;
int g_widest = 0;

void ShowCallError(HWND dialog, int result) {
  char text[160] = "";
  if (!LoadStringA(g_instance, static_cast<UINT>(result), text, sizeof text))
    std::snprintf(text, sizeof text, "RPC Error %d", result);
  MessageBoxA(dialog, text, g_lister->errorCaption, MB_OK | MB_ICONEXCLAMATION);
}

void RunQuery(HWND dialog) {
  char host[255] = "";
  GetDlgItemTextA(dialog, IDC_LISTER_HOST, host, sizeof host);
  g_list = GetDlgItem(dialog, IDC_LISTER_LIST);
  SendMessageA(g_list, LB_RESETCONTENT, 0, 0);
  SendMessageA(g_list, LB_SETHORIZONTALEXTENT, 0, 0);
  g_widest = 0;
  HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  const int result = RpcDeviceCall(host, g_lister->program, g_lister->version, g_lister->procedure, g_lister->fillList);
  SetCursor(previous);
  if (result >= RPC_HOST_UNKNOWN && result <= RPC_NO_DEVICE) {
    SendMessageA(g_list, LB_RESETCONTENT, 0, 0);
    ShowCallError(dialog, result);
    return;
  }
  RpcListerRememberHost(dialog, g_iniFile, g_lister->name, IDC_LISTER_HOST, host);
}

INT_PTR CALLBACK ListerDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      RpcListerInitDialog(dialog, g_iniFile, g_lister->name, IDC_LISTER_HOST);
      if (g_lister->setUpList) g_lister->setUpList(GetDlgItem(dialog, IDC_LISTER_LIST));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) RunQuery(dialog);
      if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 2);
      return TRUE;
    case WM_CLOSE: EndDialog(dialog, 1); return TRUE;
    case WM_DESTROY: RpcListerSavePosition(dialog, g_iniFile, g_lister->name); return FALSE;
    case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(LoadIconA(g_instance, g_lister->name));
    default: return FALSE;
  }
}

}  // namespace

HWND RpcListerList(void) { return g_list; }

void RpcListerAddLine(const std::string &line, int tabPixels) {
  if (!g_list) return;
  SendMessageA(g_list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  HDC dc = GetDC(g_list);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(g_list, WM_GETFONT, 0, 0)));
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  const DWORD extent = GetTabbedTextExtentA(dc, line.c_str(), static_cast<int>(line.size()), tabPixels ? 1 : 0,
                                            tabPixels ? &tabPixels : nullptr);
  SelectObject(dc, old);
  ReleaseDC(g_list, dc);
  const int width = LOWORD(extent) + tm.tmMaxCharWidth;
  if (width > g_widest) {
    g_widest = width;
    SendMessageA(g_list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(width), 0);
  }
}

int RpcListerMain(HINSTANCE instance, const LISTER_PROGRAM &lister) {
  g_instance = instance;
  g_lister = &lister;
  WSADATA wsa;
  if (WSAStartup(0x0101, &wsa) != 0) {
    MessageBoxA(nullptr, "Winsock could not be started, so no host can be asked. Check the network set-up.",
                lister.errorCaption, MB_OK | MB_ICONERROR);
    return 1;
  }
  Ctl3dLoad(instance);
  FindAppsIni(g_iniFile, sizeof g_iniFile);
  DialogBoxA(instance, lister.name, nullptr, ListerDlgProc);
  Ctl3dUnload(instance);
  if (lister.cleanUp) lister.cleanUp();
  WSACleanup();
  return 0;
}
