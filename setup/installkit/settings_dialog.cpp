/* The NFS client settings dialog "Configure" and the export that runs it.
 * The dialog edits the NFS client's settings under
 * HKEY_LOCAL_MACHINE\SOFTWARE\Corvane\NFSClient\CurrentVersion: the numbers
 * of requests, retries and transfer sizes (an edit and a scroll bar each,
 * kept within their rules and within each other), the default protection,
 * share and flags of new files, and the authorisation and NIS servers. OK
 * writes every value and hands the numbers to the running NFS client driver
 * as its 40-byte settings block; Cancel keeps nothing. In install mode the
 * dialog also sets up the NFS server and cannot be cancelled. */
#include <windows.h>
#include <winsock.h>

#include <qxcommon.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver_settings.h"
#include "installkit.h"

namespace {

/* ---- The settings ---- */

constexpr int kTextLimit = 254;           /* characters a text edit takes */
constexpr int kTextRoom = kTextLimit + 2; /* a whole edit's text and its NUL */
constexpr DWORD kMostReads = 0x7FFFFFFF;  /* "Maximum Reads" has no rule above; a DWORD and a position must not wrap */

const char kSettingsKey[] = INSTALLKIT_CLIENT_CURRENT_KEY;
const char kProductKey[] = INSTALLKIT_CLIENT_KEY;
const char kCaption[] = "Corvane Software NFS Client Configuration";

struct NFS_CLIENT_SETTINGS {
  DWORD outstanding;   /* "Number Of Outstanding Network Requests" */
  DWORD maxReads;      /* "Maximum Reads" */
  DWORD retries;       /* "Maximum Number Of Retries" */
  DWORD readParallel;  /* "Maximum Read Parallel" */
  DWORD writeParallel; /* "Maximum Write Parallel" */
  DWORD readSize;      /* "Maximum Read Transfer Size" */
  DWORD writeSize;     /* "Maximum Write Transfer Size" */
  DWORD protection;    /* UNIX permission bits of new files */
  DWORD share;         /* 0x80 sharing, 0x03 compatibility */
  DWORD flags;         /* 0x08 CD-ROM, 0x100 upper case, 0x80 preserve case */
  DWORD authServerIp;  /* network order, 0 for none */
  DWORD nisServerIp;
  DWORD localIp;
  char authServer[kTextRoom];
  char browseDatabase[kTextRoom];
  char nisDomain[kTextRoom];
  char nisServer[kTextRoom];
  char description[kTextRoom];
};

const NFS_CLIENT_SETTINGS kDefaults = {
    8, 1, 8, 1, 8, 4096, 8192, 0700, 0x82, 0, 0, 0, 0, "", "hosts.byaddr", "", "", "Corvane Software (tm) NFS Client",
};

/* The dialog's settings from WM_INITDIALOG to its end, and its mode. */
NFS_CLIENT_SETTINGS g_Settings = kDefaults;
bool g_InstallMode = false;
/* The dialog's result when install mode ended it without saving. */
constexpr INT_PTR kSettingsNotSaved = 2;
bool g_WinsockStarted = false;
std::string g_HelpFile; /* the help the dialog opened, closed when it ends */

/* One registry value of the settings: a number or a text. */
struct SETTING_VALUE {
  const char *name;
  DWORD NFS_CLIENT_SETTINGS::*number;
  char (NFS_CLIENT_SETTINGS::*text)[kTextRoom];
};

/* In the order OK writes them. */
const SETTING_VALUE kValues[] = {
    {"Description", nullptr, &NFS_CLIENT_SETTINGS::description},
    {"Maximum Read Parallel", &NFS_CLIENT_SETTINGS::readParallel, nullptr},
    {"Maximum Write Parallel", &NFS_CLIENT_SETTINGS::writeParallel, nullptr},
    {"Maximum Reads", &NFS_CLIENT_SETTINGS::maxReads, nullptr},
    {"Maximum Read Transfer Size", &NFS_CLIENT_SETTINGS::readSize, nullptr},
    {"Maximum Write Transfer Size", &NFS_CLIENT_SETTINGS::writeSize, nullptr},
    {"Number Of Outstanding Network Requests", &NFS_CLIENT_SETTINGS::outstanding, nullptr},
    {"Maximum Number Of Retries", &NFS_CLIENT_SETTINGS::retries, nullptr},
    {"Default Share", &NFS_CLIENT_SETTINGS::share, nullptr},
    {"Default Flags", &NFS_CLIENT_SETTINGS::flags, nullptr},
    {"Default QXNFSD", nullptr, &NFS_CLIENT_SETTINGS::authServer},
    {"Local IP", &NFS_CLIENT_SETTINGS::localIp, nullptr},
    {"Default QXNFSD IP", &NFS_CLIENT_SETTINGS::authServerIp, nullptr},
    {"Browse DataBase", nullptr, &NFS_CLIENT_SETTINGS::browseDatabase},
    {"NIS Domain", nullptr, &NFS_CLIENT_SETTINGS::nisDomain},
    {"NIS Server", nullptr, &NFS_CLIENT_SETTINGS::nisServer},
    {"NIS Server IP", &NFS_CLIENT_SETTINGS::nisServerIp, nullptr},
    {"Default Protection", &NFS_CLIENT_SETTINGS::protection, nullptr},
};

/* ---- The dialog template ---- */

enum SettingsItem {
  IDC_READ_SIZE = 101,
  IDC_READ_SIZE_BAR = 102,
  IDC_WRITE_SIZE = 103,
  IDC_WRITE_SIZE_BAR = 104,
  IDC_AUTH_SERVER = 105,
  IDC_NIS_DOMAIN = 106,
  IDC_NIS_SERVER = 107,
  IDC_OUTSTANDING = 109,
  IDC_OUTSTANDING_BAR = 110,
  IDC_READ_PARALLEL = 111,
  IDC_READ_PARALLEL_BAR = 112,
  IDC_WRITE_PARALLEL = 113,
  IDC_WRITE_PARALLEL_BAR = 114,
  IDC_RETRIES = 115,
  IDC_RETRIES_BAR = 116,
  IDC_SETTINGS_HELP = 117,
  IDC_SHARING = 118,
  IDC_COMPAT = 119,
  IDC_CDROM = 120,
  IDC_BROWSE_DATABASE = 121,
  IDC_MAX_READS = 122,
  IDC_MAX_READS_BAR = 123,
  IDC_LOWER_CASE = 124,
  IDC_UPPER_CASE = 125,
  IDC_PRESERVE_CASE = 126,
  IDC_SETTINGS_OK = 130,
  IDC_PROTECTION = 1000, /* plus the permission bit */
};

constexpr DWORD kDialogStyle = DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kEditStyle = ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;
constexpr DWORD kNumberStyle = kEditStyle | ES_RIGHT;
constexpr DWORD kBarStyle = SBS_VERT | WS_CHILD | WS_VISIBLE;
constexpr DWORD kCheckStyle = BS_CHECKBOX | WS_CHILD | WS_VISIBLE | WS_TABSTOP;
constexpr DWORD kRadioStyle = BS_RADIOBUTTON | WS_CHILD | WS_VISIBLE;

/* A number row: label, edit and its bar (rows 14 units apart). */
#define NUMBER_ROW(label, edit, bar, y)                                                               \
  QX_LTEXT(label, -1, 12, (y) + 2, 84, 8), QX_CONTROL("", edit, "Edit", kNumberStyle, 98, y, 38, 12), \
      QX_CONTROL("", bar, "ScrollBar", kBarStyle, 137, y, 9, 12)

/* A protection row: who, then read, write and execute. */
#define PROTECTION_ROW(label, read, y)                                                    \
  QX_LTEXT(label, -1, 170, (y) + 1, 40, 8),                                               \
      QX_CONTROL("", IDC_PROTECTION + (read), "Button", kCheckStyle, 218, y, 10, 10),     \
      QX_CONTROL("", IDC_PROTECTION + (read) / 2, "Button", kCheckStyle, 248, y, 10, 10), \
      QX_CONTROL("", IDC_PROTECTION + (read) / 4, "Button", kCheckStyle, 278, y, 10, 10)

const QX_DIALOG_ITEM kConfigureItems[] = {
    QX_GROUPBOX("Network Requests", -1, 6, 4, 150, 118),
    NUMBER_ROW("&Outstanding Requests:", IDC_OUTSTANDING, IDC_OUTSTANDING_BAR, 16),
    NUMBER_ROW("Read &Parallel:", IDC_READ_PARALLEL, IDC_READ_PARALLEL_BAR, 30),
    NUMBER_ROW("&Write Parallel:", IDC_WRITE_PARALLEL, IDC_WRITE_PARALLEL_BAR, 44),
    NUMBER_ROW("&Maximum Reads:", IDC_MAX_READS, IDC_MAX_READS_BAR, 58),
    NUMBER_ROW("&Retries:", IDC_RETRIES, IDC_RETRIES_BAR, 72),
    NUMBER_ROW("Read &Size:", IDC_READ_SIZE, IDC_READ_SIZE_BAR, 86),
    NUMBER_ROW("Wr&ite Size:", IDC_WRITE_SIZE, IDC_WRITE_SIZE_BAR, 100),
    QX_GROUPBOX("Default Protection", -1, 162, 4, 152, 58),
    QX_CTEXT("Read", -1, 208, 14, 30, 8),
    QX_CTEXT("Write", -1, 238, 14, 30, 8),
    QX_CTEXT("Exec", -1, 268, 14, 30, 8),
    PROTECTION_ROW("Owner", 0400, 24),
    PROTECTION_ROW("Group", 0040, 36),
    PROTECTION_ROW("Others", 0004, 48),
    QX_GROUPBOX("New Files", -1, 162, 64, 152, 58),
    QX_CONTROL("Sharing ", IDC_SHARING, "Button", kCheckStyle, 170, 76, 60, 10),
    QX_CONTROL("Compat.", IDC_COMPAT, "Button", kCheckStyle, 170, 90, 60, 10),
    QX_CONTROL("CD-ROM ", IDC_CDROM, "Button", kCheckStyle, 170, 104, 60, 10),
    QX_CONTROL("Lower Case", IDC_LOWER_CASE, "Button", kRadioStyle | WS_GROUP | WS_TABSTOP, 238, 76, 70, 10),
    QX_CONTROL("Upper Case", IDC_UPPER_CASE, "Button", kRadioStyle, 238, 90, 70, 10),
    QX_CONTROL("Preserve Case", IDC_PRESERVE_CASE, "Button", kRadioStyle, 238, 104, 70, 10),
    QX_GROUPBOX("Servers", -1, 6, 126, 308, 48),
    QX_LTEXT("Def. &Auth. Server:", -1, 12, 140, 70, 8),
    QX_CONTROL("", IDC_AUTH_SERVER, "Edit", kEditStyle | WS_GROUP, 84, 138, 72, 12),
    QX_LTEXT("NIS (YP) Domain:", -1, 162, 140, 76, 8),
    QX_CONTROL("", IDC_NIS_DOMAIN, "Edit", kEditStyle, 238, 138, 70, 12),
    QX_LTEXT("NIS (YP) Server:", -1, 12, 156, 70, 8),
    QX_CONTROL("", IDC_NIS_SERVER, "Edit", kEditStyle, 84, 154, 72, 12),
    QX_LTEXT("NIS Browse DataBase:", -1, 162, 156, 76, 8),
    QX_CONTROL("", IDC_BROWSE_DATABASE, "Edit", kEditStyle, 238, 154, 70, 12),
    QX_DEFPUSHBUTTON("OK", IDC_SETTINGS_OK, 148, 182, 50, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 204, 182, 50, 14),
    QX_PUSHBUTTON("&Help", IDC_SETTINGS_HELP, 260, 182, 50, 14),
};
const QX_DIALOG kConfigure =
    QX_DIALOG_TEMPLATE(0, 0, 320, 202, kDialogStyle, kCaption, "MS Sans Serif", 8, kConfigureItems);

const QX_RESOURCE kResources[] = {
    QX_RES_DIALOG("Configure", kConfigure),
};

/* ---- Number settings: an edit, a bar and their rules ---- */

DWORD One() { return 1; }
DWORD EightRequests() { return 8; }
DWORD SmallestTransfer() { return 512; }
DWORD LargestTransfer() { return 8192; }
DWORD MostRetries() { return 10000; }
DWORD MostReads() { return kMostReads; }
DWORD Outstanding() { return g_Settings.outstanding; }
DWORD ReadParallel() { return g_Settings.readParallel; }

void PostRefresh(HWND dialog, int bar) {
  PostMessageA(dialog, WM_VSCROLL, MAKEWPARAM(0xFFFF, 0), (LPARAM)GetDlgItem(dialog, bar));
}

/* After a change, the settings it bounds follow it (their bars refreshed). */
void LowerParallelToOutstanding(HWND dialog) {
  if (g_Settings.readParallel > g_Settings.outstanding) {
    g_Settings.readParallel = g_Settings.outstanding;
    PostRefresh(dialog, IDC_READ_PARALLEL_BAR);
  }
  if (g_Settings.writeParallel > g_Settings.outstanding) {
    g_Settings.writeParallel = g_Settings.outstanding;
    PostRefresh(dialog, IDC_WRITE_PARALLEL_BAR);
  }
}

void RaiseReadsToParallel(HWND dialog) {
  if (g_Settings.maxReads < g_Settings.readParallel) {
    g_Settings.maxReads = g_Settings.readParallel;
    PostRefresh(dialog, IDC_MAX_READS_BAR);
  }
}

void LowerParallelToReads(HWND dialog) {
  if (g_Settings.readParallel > g_Settings.maxReads) {
    g_Settings.readParallel = g_Settings.maxReads;
    PostRefresh(dialog, IDC_READ_PARALLEL_BAR);
  }
}

struct NUMBER_SETTING {
  int edit, bar;
  DWORD NFS_CLIENT_SETTINGS::*value;
  int barLow, barHigh;
  DWORD step;             /* a line of the bar; typed values are rounded down to it */
  DWORD (*barLowest)();   /* the bar lowers the value no further */
  DWORD (*typedLowest)(); /* the edit takes no less */
  DWORD (*highest)();     /* neither goes above */
  void (*follow)(HWND dialog);
};

const NUMBER_SETTING kNumbers[] = {
    {IDC_READ_SIZE, IDC_READ_SIZE_BAR, &NFS_CLIENT_SETTINGS::readSize, 512, 8192, 512, SmallestTransfer,
     SmallestTransfer, LargestTransfer, nullptr},
    {IDC_WRITE_SIZE, IDC_WRITE_SIZE_BAR, &NFS_CLIENT_SETTINGS::writeSize, 512, 8192, 512, SmallestTransfer,
     SmallestTransfer, LargestTransfer, nullptr},
    {IDC_OUTSTANDING, IDC_OUTSTANDING_BAR, &NFS_CLIENT_SETTINGS::outstanding, 1, 8, 1, One, One, EightRequests,
     LowerParallelToOutstanding},
    {IDC_READ_PARALLEL, IDC_READ_PARALLEL_BAR, &NFS_CLIENT_SETTINGS::readParallel, 1, 8, 1, One, One, Outstanding,
     RaiseReadsToParallel},
    {IDC_WRITE_PARALLEL, IDC_WRITE_PARALLEL_BAR, &NFS_CLIENT_SETTINGS::writeParallel, 1, 8, 1, One, One, Outstanding,
     nullptr},
    {IDC_RETRIES, IDC_RETRIES_BAR, &NFS_CLIENT_SETTINGS::retries, 1, 10000, 1, One, One, MostRetries, nullptr},
    {IDC_MAX_READS, IDC_MAX_READS_BAR, &NFS_CLIENT_SETTINGS::maxReads, 1, 32000, 1, One, ReadParallel, MostReads,
     LowerParallelToReads},
};

const NUMBER_SETTING *NumberOfEdit(int edit) {
  for (const NUMBER_SETTING &n : kNumbers)
    if (n.edit == edit) return &n;
  return nullptr;
}

const NUMBER_SETTING *NumberOfBar(int bar) {
  for (const NUMBER_SETTING &n : kNumbers)
    if (n.bar == bar) return &n;
  return nullptr;
}

/* The value in its edit and under the bar's thumb. */
void ShowNumber(HWND dialog, const NUMBER_SETTING &n) {
  const DWORD value = g_Settings.*n.value;
  SetDlgItemInt(dialog, n.edit, value, FALSE);
  int position = value > (DWORD)n.barHigh ? n.barHigh : (int)value;
  SetScrollPos(GetDlgItem(dialog, n.bar), SB_CTL, position, TRUE);
}

void OnNumberScroll(HWND dialog, const NUMBER_SETTING &n, int code) {
  DWORD &value = g_Settings.*n.value;
  /* In 64 bits: a stored value may lie outside its rule, even near 2^32. */
  if (code == SB_LINEUP && (unsigned long long)value + n.step <= n.highest()) value += n.step;
  if (code == SB_LINEDOWN && (unsigned long long)value >= (unsigned long long)n.barLowest() + n.step) value -= n.step;
  ShowNumber(dialog, n);
  if (n.follow) n.follow(dialog);
}

/* A whole unsigned decimal number, blanks around it allowed. */
bool ParseNumber(const char *text, DWORD &number) {
  while (*text == ' ') text++;
  if (*text < '0' || *text > '9') return false;
  unsigned long long value = 0;
  for (; *text >= '0' && *text <= '9'; text++) {
    value = value * 10 + (unsigned)(*text - '0');
    if (value > 0xFFFFFFFFull) return false;
  }
  while (*text == ' ') text++;
  if (*text) return false;
  number = (DWORD)value;
  return true;
}

/* A typed number: taken when it keeps the rule, else the setting stays; the
 * edit shows the setting either way. */
void OnNumberEdited(HWND dialog, const NUMBER_SETTING &n) {
  char text[kTextRoom] = "";
  GetDlgItemTextA(dialog, n.edit, text, sizeof text);
  DWORD typed = 0;
  const bool taken = ParseNumber(text, typed) && typed >= n.typedLowest() && typed <= n.highest();
  if (taken) g_Settings.*n.value = typed - typed % n.step;
  ShowNumber(dialog, n);
  if (taken && n.follow) n.follow(dialog);
}

/* ---- Server names ---- */

struct SERVER_EDIT {
  int edit;
  char (NFS_CLIENT_SETTINGS::*name)[kTextRoom];
  DWORD NFS_CLIENT_SETTINGS::*address;
  const char *unknown, *caption;
};

const SERVER_EDIT kServers[] = {
    {IDC_AUTH_SERVER, &NFS_CLIENT_SETTINGS::authServer, &NFS_CLIENT_SETTINGS::authServerIp, "Unknown Server Address",
     "Authorization Server"},
    {IDC_NIS_SERVER, &NFS_CLIENT_SETTINGS::nisServer, &NFS_CLIENT_SETTINGS::nisServerIp,
     "Unknown NIS (YP) Server Address", "NIS Server"},
};

/* The first IPv4 address of a host name, as the resolver gives it (network order). */
bool FirstAddress(const char *name, DWORD &address) {
  hostent *host = gethostbyname(name);
  if (!host || host->h_length != 4 || !host->h_addr_list || !host->h_addr_list[0]) return false;
  std::memcpy(&address, host->h_addr_list[0], 4);
  return true;
}

/* A dotted address or a name's first address; 0 for an empty text; false
 * when the text gives no address. */
bool ResolveServer(const char *text, DWORD &address) {
  if (!*text) {
    address = 0;
    return true;
  }
  ULONG dotted = inet_addr(text);
  if (dotted != INADDR_NONE) {
    address = dotted;
    return true;
  }
  return FirstAddress(text, address);
}

void OnServerEdited(HWND dialog, const SERVER_EDIT &s) {
  char text[kTextRoom] = "";
  GetDlgItemTextA(dialog, s.edit, text, sizeof text);
  DWORD address = 0;
  if (!ResolveServer(text, address)) {
    SetDlgItemTextA(dialog, s.edit, g_Settings.*s.name);
    MessageBoxA(dialog, s.unknown, s.caption, MB_OK | MB_ICONERROR);
    return;
  }
  g_Settings.*s.address = address;
  std::snprintf(g_Settings.*s.name, kTextRoom, "%s", text);
}

/* ---- Check boxes and radio buttons ---- */

struct FLAG_BOX {
  int id;
  DWORD NFS_CLIENT_SETTINGS::*word;
  DWORD bits;  /* toggled together */
  DWORD shown; /* the bit the box shows */
};

const FLAG_BOX kFlagBoxes[] = {
    {IDC_SHARING, &NFS_CLIENT_SETTINGS::share, 0x80, 0x80},
    {IDC_COMPAT, &NFS_CLIENT_SETTINGS::share, 0x03, 0x01},
    {IDC_CDROM, &NFS_CLIENT_SETTINGS::flags, 0x08, 0x08},
};

const DWORD kProtectionBits[] = {0400, 0200, 0100, 0040, 0020, 0010, 0004, 0002, 0001};

struct CASE_BUTTON {
  int id;
  DWORD clear, set;
};

const CASE_BUTTON kCaseButtons[] = {
    {IDC_LOWER_CASE, 0x180, 0},
    {IDC_UPPER_CASE, 0x080, 0x100},
    {IDC_PRESERVE_CASE, 0x100, 0x080},
};

int CaseButtonOf(DWORD flags) {
  if (flags & 0x80) return IDC_PRESERVE_CASE;
  if (flags & 0x100) return IDC_UPPER_CASE;
  return IDC_LOWER_CASE;
}

void ShowFlags(HWND dialog) {
  for (const FLAG_BOX &f : kFlagBoxes)
    CheckDlgButton(dialog, f.id, (g_Settings.*f.word & f.shown) ? BST_CHECKED : BST_UNCHECKED);
  for (DWORD bit : kProtectionBits)
    CheckDlgButton(dialog, IDC_PROTECTION + (int)bit, (g_Settings.protection & bit) ? BST_CHECKED : BST_UNCHECKED);
  CheckRadioButton(dialog, IDC_LOWER_CASE, IDC_PRESERVE_CASE, CaseButtonOf(g_Settings.flags));
}

/* A flag box, a protection box or a case button; false for any other id. */
bool OnFlagButton(HWND dialog, int id) {
  for (const FLAG_BOX &f : kFlagBoxes)
    if (f.id == id) {
      g_Settings.*f.word ^= f.bits;
      CheckDlgButton(dialog, id, (g_Settings.*f.word & f.shown) ? BST_CHECKED : BST_UNCHECKED);
      return true;
    }
  for (DWORD bit : kProtectionBits)
    if (id == IDC_PROTECTION + (int)bit) {
      g_Settings.protection ^= bit;
      CheckDlgButton(dialog, id, (g_Settings.protection & bit) ? BST_CHECKED : BST_UNCHECKED);
      return true;
    }
  for (const CASE_BUTTON &c : kCaseButtons)
    if (c.id == id) {
      g_Settings.flags = (g_Settings.flags & ~c.clear) | c.set;
      CheckRadioButton(dialog, IDC_LOWER_CASE, IDC_PRESERVE_CASE, id);
      return true;
    }
  return false;
}

/* ---- Reading and writing the settings ---- */

/* A text value into room of kTextRoom; a longer one is cut to what the edit
 * holds. False when the value is missing or not a text. */
bool ReadText(HKEY key, const char *name, char *room) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  std::string data(size + 1, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, (BYTE *)data.data(), &size) != ERROR_SUCCESS) return false;
  data.resize(std::strlen(data.c_str()));
  if (data.size() > (size_t)kTextLimit) data.resize(kTextLimit);
  std::memcpy(room, data.c_str(), data.size() + 1);
  return true;
}

bool ReadNumber(HKEY key, const char *name, DWORD &number) {
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegQueryValueExA(key, name, nullptr, &type, (BYTE *)&value, &size) != ERROR_SUCCESS) return false;
  if (type != REG_DWORD || size != sizeof value) return false;
  number = value;
  return true;
}

/* Every stored value over the defaults: a missing text is empty but for the
 * browse map name, which keeps its default; a missing number keeps its
 * default. The address found for this machine wins over a stored one. */
void ReadSettings() {
  const DWORD foundLocalIp = g_Settings.localIp;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
  for (const SETTING_VALUE &v : kValues) {
    if (v.number) {
      ReadNumber(key, v.name, g_Settings.*v.number);
      continue;
    }
    char *room = g_Settings.*v.text;
    if (!ReadText(key, v.name, room) && v.text != &NFS_CLIENT_SETTINGS::browseDatabase &&
        v.text != &NFS_CLIENT_SETTINGS::description)
      room[0] = '\0';
  }
  RegCloseKey(key);
  if (foundLocalIp) g_Settings.localIp = foundLocalIp;
}

/* The first address of this machine's host name, 0 when it has none. */
DWORD FindLocalIp() {
  char name[256] = "";
  if (gethostname(name, sizeof name) != 0) return 0;
  name[sizeof name - 1] = '\0';
  DWORD address = 0;
  return FirstAddress(name, address) ? address : 0;
}

/* Writes every value in its order; the failing value's name, or "" when all
 * were written. */
std::string WriteSettings(LONG &error) {
  HKEY product = nullptr, key = nullptr;
  error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                          &product, nullptr);
  if (error != ERROR_SUCCESS) return kProductKey;
  RegCloseKey(product);
  error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                          nullptr, &key, nullptr);
  if (error != ERROR_SUCCESS) return kSettingsKey;
  std::string failed;
  for (const SETTING_VALUE &v : kValues) {
    if (v.number)
      error = RegSetValueExA(key, v.name, 0, REG_DWORD, (const BYTE *)&(g_Settings.*v.number), sizeof(DWORD));
    else
      error = RegSetValueExA(key, v.name, 0, REG_SZ, (const BYTE *)(g_Settings.*v.text),
                             (DWORD)std::strlen(g_Settings.*v.text) + 1);
    if (error != ERROR_SUCCESS) {
      failed = std::string(kSettingsKey) + "\\" + v.name;
      break;
    }
  }
  RegCloseKey(key);
  return failed;
}

/* Hands the numbers to the running driver; a driver that is not loaded is
 * not reported. */
void SendDriverSettings() {
  qxnfs::SettingsBlock block{};
  block.outstanding_requests = g_Settings.outstanding;
  block.maximum_reads = g_Settings.maxReads;
  block.retries = g_Settings.retries;
  block.read_parallel = g_Settings.readParallel;
  block.write_parallel = g_Settings.writeParallel;
  block.read_size = g_Settings.readSize;
  block.write_size = g_Settings.writeSize;
  block.local_ip = g_Settings.localIp;
  block.protection = g_Settings.protection;
  block.auth_server_ip = g_Settings.authServerIp;
  DefineDosDeviceA(DDD_RAW_TARGET_PATH, "QXNFS_RPC", "\\device\\QXNFS\\+:");
  HANDLE device = CreateFileA("\\\\.\\QXNFS_RPC", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return;
  BYTE reply = 0;
  DWORD returned = 0;
  DeviceIoControl(device, qxnfs::kSettingsRequest, &block, sizeof block, &reply, sizeof reply, &returned, nullptr);
  CloseHandle(device);
}

/* ---- The dialog's messages ---- */

void EndSettingsDialog(HWND dialog, INT_PTR result) {
  /* The help window lives in the installer's thread: it goes with the dialog. */
  if (!g_HelpFile.empty()) WinHelpA(dialog, g_HelpFile.c_str(), HELP_QUIT, 0);
  g_HelpFile.clear();
  EndDialog(dialog, result);
  if (g_WinsockStarted) WSACleanup();
  g_WinsockStarted = false;
}

void FillControls(HWND dialog) {
  for (const SERVER_EDIT &s : kServers) SetDlgItemTextA(dialog, s.edit, g_Settings.*s.name);
  SetDlgItemTextA(dialog, IDC_NIS_DOMAIN, g_Settings.nisDomain);
  SetDlgItemTextA(dialog, IDC_BROWSE_DATABASE, g_Settings.browseDatabase);
  for (int edit : {IDC_AUTH_SERVER, IDC_NIS_SERVER, IDC_NIS_DOMAIN, IDC_BROWSE_DATABASE})
    SendDlgItemMessageA(dialog, edit, EM_LIMITTEXT, kTextLimit, 0);
  ShowFlags(dialog);
  for (const NUMBER_SETTING &n : kNumbers) {
    SetScrollRange(GetDlgItem(dialog, n.bar), SB_CTL, n.barLow, n.barHigh, FALSE);
    ShowNumber(dialog, n);
  }
}

BOOL OnInitDialog(HWND dialog, LPARAM mode) {
  g_InstallMode = mode != 0;
  if (g_InstallMode) EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
  g_Settings = kDefaults;
  WSADATA data;
  g_WinsockStarted = WSAStartup(MAKEWORD(1, 1), &data) == 0;
  if (g_WinsockStarted) g_Settings.localIp = FindLocalIp();
  ReadSettings();
  if (g_InstallMode) SetupNfsServer(SETUP_NFS_SERVER_INSTALL);
  FillControls(dialog);
  return TRUE;
}

void OnVScroll(HWND dialog, int code, HWND bar) {
  if (const NUMBER_SETTING *n = NumberOfBar(GetDlgCtrlID(bar))) OnNumberScroll(dialog, *n, code);
}

void OnEditLostFocus(HWND dialog, int id) {
  if (const NUMBER_SETTING *n = NumberOfEdit(id)) return OnNumberEdited(dialog, *n);
  for (const SERVER_EDIT &s : kServers)
    if (s.edit == id) return OnServerEdited(dialog, s);
  if (id == IDC_NIS_DOMAIN) GetDlgItemTextA(dialog, id, g_Settings.nisDomain, kTextRoom);
  if (id == IDC_BROWSE_DATABASE) GetDlgItemTextA(dialog, id, g_Settings.browseDatabase, kTextRoom);
}

void OnHelp(HWND dialog) {
  char directory[MAX_PATH] = "";
  std::string file = "qxnfsnt.hlp";
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    if (ReadText(key, "Installation Directory", directory) && directory[0]) file = std::string(directory) + "\\" + file;
    RegCloseKey(key);
  }
  if (WinHelpA(dialog, file.c_str(), HELP_KEY, (ULONG_PTR) "QXS NFS CLIENT CONFIGURATION")) g_HelpFile = file;
}

void OnOk(HWND dialog) {
  LONG error = 0;
  const std::string failed = WriteSettings(error);
  if (!failed.empty()) {
    char text[600];
    /* In install mode Cancel is greyed: the dialog ends, or nothing could close it. */
    std::snprintf(text, sizeof text,
                  g_InstallMode
                      ? "The settings could not be saved: HKEY_LOCAL_MACHINE\\%s cannot be written (error %ld). The "
                        "installation goes on without them; run the configuration again as an administrator."
                      : "The settings could not be saved: HKEY_LOCAL_MACHINE\\%s cannot be written (error %ld). Run "
                        "the configuration as an administrator, or press Cancel to leave the settings as they were.",
                  failed.c_str(), (long)error);
    MessageBoxA(dialog, text, kCaption, MB_OK | MB_ICONERROR);
    if (g_InstallMode) EndSettingsDialog(dialog, kSettingsNotSaved);
    return;
  }
  SendDriverSettings();
  EndSettingsDialog(dialog, 1);
}

void OnCommand(HWND dialog, int id, int notification) {
  if (notification == EN_KILLFOCUS) return OnEditLostFocus(dialog, id);
  if (notification != BN_CLICKED) return;
  if (OnFlagButton(dialog, id)) return;
  switch (id) {
    case IDC_SETTINGS_HELP: OnHelp(dialog); break;
    case IDC_SETTINGS_OK: OnOk(dialog); break;
    case IDCANCEL:
      /* Escape and the close box come here too; in install mode nothing cancels. */
      if (IsWindowEnabled(GetDlgItem(dialog, IDCANCEL))) EndSettingsDialog(dialog, 0);
      break;
    default: break;
  }
}

}  // namespace

QX_REGISTER_RESOURCES(kResources)

extern "C" QX_DLLEXPORT INT_PTR CALLBACK NFSDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return OnInitDialog(dialog, lParam);
    case WM_VSCROLL: OnVScroll(dialog, LOWORD(wParam), (HWND)lParam); return TRUE;
    case WM_COMMAND: OnCommand(dialog, LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: return InstallKitControlColour(message, wParam, lParam);
    default: return FALSE;
  }
}

/* The settings dialog, modal: configure mode when argument 0 is "Configure"
 * (in any case), else install mode. The out text is "OK" whatever the user
 * chose; "BAD" when install mode could not save the settings. */
extern "C" QX_DLLEXPORT BOOL WINAPI Configure(DWORD count, LPSTR *arguments, LPCSTR *outText) {
  if (outText) *outText = kOutOk;
  const bool loaded = Ctl3dLoad(g_InstallKitInstance) != 0;
  const bool configureMode = count >= 1 && arguments && arguments[0] && lstrcmpiA(arguments[0], "Configure") == 0;
  if (DialogBoxParamA(g_InstallKitInstance, "Configure", nullptr, NFSDlgProc, configureMode ? 0 : 1) ==
          kSettingsNotSaved &&
      outText)
    *outText = kOutBad;
  if (loaded) Ctl3dUnload(g_InstallKitInstance);
  return TRUE;
}
