// sharepanel: the control-panel applet that edits sharehost's identity maps.
// Its dialog "NameMapping" maps account names to NFS uids and group names to
// gids, and names the account that takes uids without a mapping. Save writes
// the maps as IDMAP_VALUE registry values (a little-endian id, then the
// account's SID) and tells the running service to reload them (control 129).
#include <windows.h>

#include <cpl.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "idmap_values.h"
#include "registry_keys.h"

namespace {

const char kServiceName[] = "QXNFSServer";
const char kDialogCaption[] = "Name Mapping";
const char kAppletCaption[] = "QXS Server";
constexpr DWORD kControlShowWindow = 128;
constexpr DWORD kControlReloadMaps = 129;
constexpr int kMaxName = 255;
constexpr int kMaxTabs = 8;

enum DialogItem {
  IDC_USER_NAME = 101,
  IDC_USER_ID = 102,
  IDC_USER_REMOVE = 103,
  IDC_USER_ADD = 104,
  IDC_USER_LIST = 105,
  IDC_GROUP_NAME = 106,
  IDC_GROUP_ID = 107,
  IDC_GROUP_ADD = 108,
  IDC_GROUP_REMOVE = 109,
  IDC_GROUP_LIST = 110,
  IDC_DEFAULT_USER = 111,
  IDC_SERVER_STATUS = 112,
  IDC_MAPPING_HELP = 113,
};

constexpr DWORD kListStyle = LBS_NOTIFY | LBS_USETABSTOPS | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP;
const QX_DIALOG_ITEM kNameMappingItems[] = {
    QX_GROUPBOX("Username <-> UID Mappings", -1, 6, 4, 288, 84),
    QX_LTEXT("NT Username:", -1, 12, 18, 56, 8),
    QX_EDITTEXT(IDC_USER_NAME, 70, 16, 100, 12),
    QX_LTEXT("UID:", -1, 12, 34, 56, 8),
    QX_EDITTEXT(IDC_USER_ID, 70, 32, 50, 12),
    QX_PUSHBUTTON("&Remove", IDC_USER_REMOVE, 12, 52, 44, 14),
    QX_PUSHBUTTON("&Add", IDC_USER_ADD, 62, 52, 44, 14),
    QX_CONTROL("", IDC_USER_LIST, "ListBox", kListStyle, 178, 14, 110, 68),
    QX_GROUPBOX("Groupname <-> GID Mappings", -1, 6, 92, 288, 84),
    QX_LTEXT("NT Groupname:", -1, 12, 106, 56, 8),
    QX_EDITTEXT(IDC_GROUP_NAME, 70, 104, 100, 12),
    QX_LTEXT("GID:", -1, 12, 122, 56, 8),
    QX_EDITTEXT(IDC_GROUP_ID, 70, 120, 50, 12),
    QX_PUSHBUTTON("&Remove", IDC_GROUP_REMOVE, 12, 140, 44, 14),
    QX_PUSHBUTTON("&Add", IDC_GROUP_ADD, 62, 140, 44, 14),
    QX_CONTROL("", IDC_GROUP_LIST, "ListBox", kListStyle, 178, 102, 110, 68),
    QX_LTEXT("NT Username for non-mapped Access:", -1, 6, 184, 130, 8),
    QX_EDITTEXT(IDC_DEFAULT_USER, 140, 182, 100, 12),
    QX_DEFPUSHBUTTON("&Save", IDOK, 6, 202, 50, 14),
    QX_PUSHBUTTON("&Close", IDCANCEL, 62, 202, 50, 14),
    QX_PUSHBUTTON("Server Status...", IDC_SERVER_STATUS, 118, 202, 70, 14),
    QX_PUSHBUTTON("&Help", IDC_MAPPING_HELP, 194, 202, 50, 14),
};
const QX_DIALOG kNameMapping = QX_DIALOG_TEMPLATE(0, 0, 300, 222, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                                                  "Name Mappings", "MS Sans Serif", 8, kNameMappingItems);

const QX_RESOURCE kResources[] = {
    QX_RES_DIALOG("NameMapping", kNameMapping),
    QX_STRING(1, "QXSServer"),
    QX_STRING(2, "QXSServer control panel"),
    QX_STRING(3, "QXSServer.hlp"),
};
QX_REGISTER_RESOURCES(kResources)

HINSTANCE g_instance = nullptr;
int g_two_tabs = 0;  // the list's extent of two tab characters

// One of the two lists and the words that go with it.
struct MapKind {
  int name_item, id_item, list_item;
  bool users;
  const char *key;
  const char *empty, *invalid_name, *invalid_id, *name_taken, *id_taken, *none_selected;
};
const MapKind kUsers = {IDC_USER_NAME,
                        IDC_USER_ID,
                        IDC_USER_LIST,
                        true,
                        kUidMappingKey,
                        "No Username entered",
                        "Username \"%s\" is not a valid NT Username",
                        "Invalid or non-numeric value entered for UID",
                        "Username already mapped",
                        "UID already mapped",
                        "No UID mapping selected for removal"};
const MapKind kGroups = {IDC_GROUP_NAME,
                         IDC_GROUP_ID,
                         IDC_GROUP_LIST,
                         false,
                         kGidMappingKey,
                         "No Groupname entered",
                         "Groupname \"%s\" is not a valid NT Group",
                         "Invalid or non-numeric value entered for GID",
                         "Groupname already mapped",
                         "GID already mapped",
                         "No GID mapping selected for removal"};

void Complain(HWND dialog, const std::string &text) {
  MessageBoxA(dialog, text.c_str(), kDialogCaption, MB_OK | MB_ICONSTOP);
}

std::string ItemText(HWND dialog, int item) {
  char text[kMaxName + 1] = "";
  GetDlgItemTextA(dialog, item, text, sizeof text);
  return text;
}

// The account's SID and kind; false when the name names nothing.
bool LookupAccount(const std::string &name, std::vector<BYTE> &sid, SID_NAME_USE &use) {
  BYTE buffer[1020];
  char domain[1024];
  DWORD sid_length = sizeof buffer, domain_length = sizeof domain;
  if (name.empty() || !LookupAccountNameA(nullptr, name.c_str(), buffer, &sid_length, domain, &domain_length, &use))
    return false;
  sid.assign(buffer, buffer + GetLengthSid(buffer));
  return true;
}

bool IsUserAccount(const std::string &name) {
  std::vector<BYTE> sid;
  SID_NAME_USE use;
  return LookupAccount(name, sid, use) && use != SidTypeGroup && use != SidTypeDomain && use != SidTypeWellKnownGroup &&
         use != SidTypeDeletedAccount && use != SidTypeInvalid && use != SidTypeUnknown;
}

bool IsGroupAccount(const std::string &name) {
  std::vector<BYTE> sid;
  SID_NAME_USE use;
  return LookupAccount(name, sid, use) && use != SidTypeUser && use != SidTypeDomain && use != SidTypeDeletedAccount &&
         use != SidTypeInvalid && use != SidTypeUnknown;
}

// A whole signed 32-bit decimal number.
bool ParseId(const std::string &text, long &id) {
  if (text.empty()) return false;
  char *end = nullptr;
  errno = 0;
  id = strtol(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0' && id >= INT32_MIN && id <= INT32_MAX;
}

// A list line: the name, tabs up to the extent of two tabs (at least one, so
// a wide name ending in digits still parses back), the id.
std::string ListLine(const std::string &name, long id) {
  std::string line = name + "\t";
  if (HWND desktop = GetDesktopWindow(); HDC dc = GetDC(desktop)) {
    while (int(line.size()) - int(name.size()) < kMaxTabs &&
           LOWORD(GetTabbedTextExtentA(dc, line.c_str(), int(line.size()), 0, nullptr)) < g_two_tabs)
      line += "\t";
    ReleaseDC(desktop, dc);
  }
  return line + std::to_string(id);
}

// Splits a list line at its tabs: the name before the first, the id after the last.
bool SplitLine(const std::string &line, std::string &name, long &id) {
  size_t first = line.find('\t'), last = line.rfind('\t');
  if (first == std::string::npos) return false;
  name = line.substr(0, first);
  return ParseId(line.substr(last + 1), id);
}

std::vector<std::string> ListLines(HWND list) {
  std::vector<std::string> lines;
  LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    LRESULT length = SendMessageA(list, LB_GETTEXTLEN, WPARAM(i), 0);
    if (length < 0) continue;
    std::string text(size_t(length) + 1, '\0');
    SendMessageA(list, LB_GETTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text.data()));
    text.resize(strlen(text.c_str()));
    lines.push_back(text);
  }
  return lines;
}

void AddMapping(HWND dialog, const MapKind &kind) {
  std::string name = ItemText(dialog, kind.name_item);
  if (name.empty()) return Complain(dialog, kind.empty);
  if (!(kind.users ? IsUserAccount(name) : IsGroupAccount(name))) {
    char text[400];
    snprintf(text, sizeof text, kind.invalid_name, name.c_str());
    return Complain(dialog, text);
  }
  long id = 0;
  if (!ParseId(ItemText(dialog, kind.id_item), id) || id == -1) return Complain(dialog, kind.invalid_id);
  HWND list = GetDlgItem(dialog, kind.list_item);
  std::vector<std::string> lines = ListLines(list);
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string listed;
    long listed_id = 0;
    if (!SplitLine(lines[i], listed, listed_id)) continue;
    if (strcasecmp(listed.c_str(), name.c_str()) == 0) {
      SendMessageA(list, LB_SETCURSEL, WPARAM(i), 0);
      return Complain(dialog, kind.name_taken);
    }
    if (listed_id == id) {
      SendMessageA(list, LB_SETCURSEL, WPARAM(i), 0);
      return Complain(dialog, kind.id_taken);
    }
  }
  std::string line = ListLine(name, id);
  LRESULT at = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  SendMessageA(list, LB_SETCURSEL, WPARAM(at), 0);
  SetDlgItemTextA(dialog, kind.name_item, "");
  SetDlgItemTextA(dialog, kind.id_item, "");
}

// Removes the selected line and puts its name and id back into the edits,
// so a mapping is changed by removing it, editing and adding it again.
void RemoveMapping(HWND dialog, const MapKind &kind) {
  HWND list = GetDlgItem(dialog, kind.list_item);
  LRESULT at = SendMessageA(list, LB_GETCURSEL, 0, 0);
  if (at == LB_ERR) return Complain(dialog, kind.none_selected);
  std::vector<std::string> lines = ListLines(list);
  std::string name;
  long id = 0;
  if (size_t(at) < lines.size() && SplitLine(lines[size_t(at)], name, id)) {
    SetDlgItemTextA(dialog, kind.name_item, name.c_str());
    SetDlgItemTextA(dialog, kind.id_item, std::to_string(id).c_str());
  }
  SendMessageA(list, LB_DELETESTRING, WPARAM(at), 0);
}

void LoadNameMappings(HWND dialog) {
  EnumerateMappings(kUidMappingKey, [&](const std::string &name, DWORD, int32_t id, const BYTE *, DWORD) {
    if (id == -1) {
      size_t dash = name.find('-');
      SetDlgItemTextA(dialog, IDC_DEFAULT_USER, dash == std::string::npos ? name.c_str() : name.c_str() + dash + 1);
      return;
    }
    std::string line = ListLine(name, id);
    SendDlgItemMessageA(dialog, IDC_USER_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  });
  EnumerateMappings(kGidMappingKey, [&](const std::string &name, DWORD, int32_t id, const BYTE *, DWORD) {
    std::string line = ListLine(name, id);
    SendDlgItemMessageA(dialog, IDC_GROUP_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  });
}

// One IDMAP_VALUE: false when the name no longer names an account.
bool WriteIdMapValue(HKEY key, const std::string &name, long id) {
  std::vector<BYTE> sid;
  SID_NAME_USE use;
  if (!LookupAccount(name, sid, use)) return false;
  std::vector<BYTE> data = IdMapValueData(int32_t(id), sid.data(), DWORD(sid.size()));
  std::string value = id == -1 ? "Guest-" + name : name;
  return RegSetValueExA(key, value.c_str(), 0, REG_BINARY, data.data(), DWORD(data.size())) == ERROR_SUCCESS;
}

// Replaces both mapping keys with the lists. Names that no longer resolve are
// left out, and the administrator is told which.
bool SaveNameMappings(HWND dialog) {
  HKEY key = nullptr, users = nullptr, groups = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kNfsClientKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    Complain(dialog, "The name mappings could not be saved: the registry key HKEY_LOCAL_MACHINE\\" +
                         std::string(kNfsClientKey) + " cannot be opened.");
    return false;
  }
  RegDeleteKeyA(key, "UidMapping");
  RegDeleteKeyA(key, "GidMapping");
  RegCloseKey(key);
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUidMappingKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &users, nullptr) !=
          ERROR_SUCCESS ||
      RegCreateKeyExA(HKEY_LOCAL_MACHINE, kGidMappingKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &groups, nullptr) !=
          ERROR_SUCCESS) {
    if (users) RegCloseKey(users);
    Complain(dialog, "The name mappings could not be saved: the mapping keys cannot be created.");
    return false;
  }
  std::string dropped;
  auto write = [&](HKEY to, const std::string &name, long id) {
    if (!WriteIdMapValue(to, name, id)) dropped += (dropped.empty() ? "" : ", ") + name;
  };
  if (std::string guest = ItemText(dialog, IDC_DEFAULT_USER); !guest.empty()) write(users, guest, -1);
  for (const auto &[list, to] : {std::pair{IDC_USER_LIST, users}, std::pair{IDC_GROUP_LIST, groups}})
    for (const std::string &line : ListLines(GetDlgItem(dialog, list))) {
      std::string name;
      long id = 0;
      if (SplitLine(line, name, id)) write(to, name, id);
    }
  RegCloseKey(users);
  RegCloseKey(groups);
  if (!dropped.empty())
    Complain(dialog, "These accounts no longer exist and their mappings were not saved: " + dropped + ".");
  return true;
}

void SignalServer(HWND window, DWORD control) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) {
    MessageBoxA(window, "Unable to Open Service Control Manager", "QXS portwarden", MB_OK | MB_ICONSTOP);
    return;
  }
  SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
  if (!service) {
    MessageBoxA(window, "Unable to Open Service QXNFSServer", "QXSServer", MB_OK | MB_ICONSTOP);
  } else {
    SERVICE_STATUS status{};
    if (!ControlService(service, control, &status))
      MessageBoxA(window, "Unable to Open Service QXNFSServer, possibly not started.", "QXSServer",
                  MB_OK | MB_ICONSTOP);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

void OnInitDialog(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_USER_LIST);
  if (HDC dc = GetDC(list)) {
    g_two_tabs = LOWORD(GetTabbedTextExtentA(dc, "\t\t", 2, 0, nullptr));
    ReleaseDC(list, dc);
  }
  LoadNameMappings(dialog);
  SendDlgItemMessageA(dialog, IDC_USER_ID, EM_LIMITTEXT, 10, 0);
  SendDlgItemMessageA(dialog, IDC_GROUP_ID, EM_LIMITTEXT, 10, 0);
}

void OnSave(HWND dialog) {
  std::string guest = ItemText(dialog, IDC_DEFAULT_USER);
  if (!guest.empty() && !IsUserAccount(guest)) {
    char text[400];
    snprintf(text, sizeof text, kUsers.invalid_name, guest.c_str());
    return Complain(dialog, text);
  }
  if (!SaveNameMappings(dialog)) return;
  SignalServer(dialog, kControlReloadMaps);
  EndDialog(dialog, IDOK);
}

void OnCommand(HWND dialog, int command) {
  switch (command) {
    case IDC_USER_ADD: AddMapping(dialog, kUsers); break;
    case IDC_GROUP_ADD: AddMapping(dialog, kGroups); break;
    case IDC_USER_REMOVE: RemoveMapping(dialog, kUsers); break;
    case IDC_GROUP_REMOVE: RemoveMapping(dialog, kGroups); break;
    case IDOK: OnSave(dialog); break;
    case IDCANCEL: EndDialog(dialog, IDCANCEL); break;
    case IDC_SERVER_STATUS: SignalServer(dialog, kControlShowWindow); break;
    case IDC_MAPPING_HELP:
      WinHelpA(dialog, "QXNFSSV.HLP", HELP_KEY, reinterpret_cast<ULONG_PTR>("Username_UID_Mappings"));
      break;
    default: break;
  }
}

INT_PTR CALLBACK NameMappingDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: OnInitDialog(dialog); return TRUE;
    case WM_COMMAND: OnCommand(dialog, LOWORD(wParam)); return TRUE;
    case WM_CLOSE: EndDialog(dialog, IDCANCEL); return TRUE;
    default: return FALSE;
  }
}

void AppletBox(HWND window, const char *text) { MessageBoxA(window, text, kAppletCaption, MB_OK | MB_ICONEXCLAMATION); }

void FillNewInquire(NEWCPLINFOA *info) {
  memset(info, 0, sizeof *info);
  info->dwSize = sizeof *info;
  info->hIcon = LoadIconA(g_instance, MAKEINTRESOURCE(1));
  // The applet carries no icon of its own: the standard one stands in.
  if (!info->hIcon) info->hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  LoadStringA(g_instance, 1, info->szName, sizeof info->szName);
  LoadStringA(g_instance, 2, info->szInfo, sizeof info->szInfo);
  LoadStringA(g_instance, 3, info->szHelpFile, 64);
}

}  // namespace

extern "C" QX_DLLEXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
  return TRUE;
}

extern "C" QX_DLLEXPORT LONG APIENTRY CPlApplet(HWND window, UINT message, LPARAM lParam1, LPARAM lParam2) {
  switch (message) {
    case CPL_INIT:
      if (!g_instance) {
        AppletBox(window, "Getmodule failed\n");
        return 0;
      }
      return 1;
    case CPL_GETCOUNT: return 1;
    case CPL_INQUIRE: {
      char text[64];
      snprintf(text, sizeof text, "CPLInquire cpl %lx", (unsigned long)lParam2);
      AppletBox(window, text);
      auto *info = reinterpret_cast<CPLINFO *>(lParam2);
      if (info) *info = CPLINFO{1, 1, 2, 0};
      return 0;
    }
    case CPL_SELECT:
    case CPL_STOP:
    case CPL_EXIT: return 0;
    case CPL_DBLCLK: DialogBoxParamA(g_instance, "NameMapping", window, NameMappingDlgProc, 0); return 0;
    case CPL_NEWINQUIRE:
      if (lParam2) FillNewInquire(reinterpret_cast<NEWCPLINFOA *>(lParam2));
      return 0;
    default: {
      char text[64];
      snprintf(text, sizeof text, "unknown msg %u = %x\n", message, message);
      AppletBox(window, text);
      (void)lParam1;
      return 0;
    }
  }
}
