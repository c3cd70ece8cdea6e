// The installation steps FinishInstall, Update and DeInstall: the suite's
// services, the NFS client's driver service with its network and print
// providers and counters, and the suite's keys under SOFTWARE\Corvane.
// Every list another program owns ("Path", the provider orders) is read
// whole and changed by whole entries only.
#include "installkit.h"
#include "install_steps.h"
#include "lists.h"
#include "regvalues.h"
#include "services.h"

#include <cstring>
#include <string>
#include <vector>

using installkit::RegKey;
using installkit::RegValue;
using installkit::ScHandle;

namespace {

const char kPrintProvidersKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Providers";
const char kNetworkOrderKey[] = "SYSTEM\\CurrentControlSet\\Control\\NetWorkProvider\\Order";
const char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services";
const char kClientServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\QXNFS";
const char kCorvaneKey[] = "SOFTWARE\\Corvane";
const char kConsoledKey[] = "SOFTWARE\\Corvane\\consoled";
const char kConsoledCurrentKey[] = "SOFTWARE\\Corvane\\consoled\\CurrentVersion";

const char kPrintProviderName[] = "QXNFS Print Services";
const char kNetworkProviderName[] = "QXNFS";
const char kApplet[] = "\\SHAREPANEL.CPL";
const char kSystemApplet[] = "%SystemRoot%\\System32\\sharepanel.cpl";

const char kNoManager[] = "Unable to Open Service Manager";
const char kNoRegistry[] = "Unable to Access Registry, Please run as Administrator";
const char kNoDirectory[] = "The installer gave no installation directory; run the installation again";

// Values of a key the step writes: name, type and text (REG_DWORD as a number).
struct TextValue {
  const char *name;
  DWORD type;
  const char *text;
};

const TextValue kNetworkProviderValues[] = {
    {"Name", REG_SZ, "Corvane NFS"},
    {"ProviderPath", REG_EXPAND_SZ, "%SystemRoot%\\System32\\qxnfsclt.dll"},
};
constexpr DWORD kNetworkProviderClass = 3;  // network class and credential class
const TextValue kPerformanceValues[] = {
    {"close", REG_SZ, "CloseNFSClientPerformanceData"},
    {"collect", REG_SZ, "CollectNFSClientPerformanceData"},
    {"open", REG_SZ, "OpenNFSClientPerformanceData"},
    {"library", REG_SZ, "clientcounters.dll"},
};
// Removed leaves first.
const char *const kCorvaneSubkeys[] = {
    "NFSCLIENT\\CurrentVersion\\NetRules",
    "NFSCLIENT\\CurrentVersion",
    "NFSCLIENT",
    "consoled\\CurrentVersion",
    "consoled",
};

void ShowInstallError(const char *text) { MessageBoxA(nullptr, text, INSTALLKIT_INSTALL_CAPTION, MB_OK | MB_ICONSTOP); }

// Runs a command with its window hidden and waits for it (at most
// kHelperWaitMs): the counter names are loaded before the step returns, and
// removed before the service key that records them goes.
constexpr DWORD kHelperWaitMs = 30000;
void RunHidden(const std::string &command) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  std::string line = command;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup,
                      &process))
    return;
  WaitForSingleObject(process.hProcess, kHelperWaitMs);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

bool WriteTextValues(HKEY key, const TextValue *values, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (installkit::WriteText(key, values[i].name, values[i].type, values[i].text) != ERROR_SUCCESS) return false;
  return true;
}

// The NFS server's control-panel applet from the system directory into the
// installation directory.
void CopySystemApplet(const std::string &install_dir) {
  const std::string from = ExpandText(kSystemApplet);
  if (!from.empty()) CopyFileA(from.c_str(), (install_dir + kApplet).c_str(), FALSE);
}

// "QXNFS Print Services" first in the print providers' "Order" unless a
// provider of the suite is there already; the list is read whole.
bool AddPrintProvider() {
  RegKey key;
  if (installkit::OpenSystemKey(kPrintProvidersKey, key, KEY_ALL_ACCESS) != ERROR_SUCCESS) return false;
  RegValue order;
  LONG rc = installkit::ReadValue(key.get(), "Order", order);
  if (rc == ERROR_FILE_NOT_FOUND)
    order.type = REG_MULTI_SZ;
  else if (rc != ERROR_SUCCESS)
    return false;
  // A list not ended by an empty string gets its closing NULs; no byte is dropped.
  bool changed = false;
  while (order.data.size() < 2 || order.data[order.data.size() - 2] != '\0' || order.data.back() != '\0') {
    if (order.data.empty()) break;
    order.data += '\0';
    changed = true;
  }
  bool present = false;
  for (const std::string &s : installkit::SplitMultiString(order.data))
    if (s.compare(0, 5, "QXNFS") == 0) present = true;
  if (!present) {
    order.data = std::string(kPrintProviderName) + '\0' + (order.data.empty() ? std::string(1, '\0') : order.data);
    changed = true;
  }
  if (changed && installkit::WriteBytes(key.get(), "Order", order.type, order.data) != ERROR_SUCCESS) return false;
  if (present) return true;
  RegKey provider;
  if (installkit::CreateSubkey(key.get(), kPrintProviderName, provider) != ERROR_SUCCESS) return false;
  return installkit::WriteText(provider.get(), "Name", REG_SZ, "qxnfsprn.dll") == ERROR_SUCCESS;
}

// "QXNFS" first in the network providers' "ProviderOrder".
bool AddNetworkProvider() {
  RegKey key;
  if (installkit::OpenSystemKey(kNetworkOrderKey, key) != ERROR_SUCCESS) return false;
  RegValue order;
  LONG rc = installkit::ReadValue(key.get(), "ProviderOrder", order);
  if (rc == ERROR_FILE_NOT_FOUND)
    order.type = REG_SZ;
  else if (rc != ERROR_SUCCESS)
    return false;
  std::string text = installkit::ValueText(order);
  if (!installkit::PutListEntryFirst(text, kNetworkProviderName, ',')) return true;
  return installkit::WriteText(key.get(), "ProviderOrder", order.type, text) == ERROR_SUCCESS;
}

// The driver service's group, its network provider and its counters; the
// counter names are loaded when the counters are first registered.
bool WriteClientServiceKeys(const std::string &install_dir) {
  RegKey service;
  if (installkit::OpenSystemKey(kClientServiceKey, service, KEY_ALL_ACCESS) != ERROR_SUCCESS) return false;
  if (installkit::WriteText(service.get(), "Group", REG_SZ, "NetworkProvider") != ERROR_SUCCESS) return false;
  RegKey provider;
  if (installkit::CreateSubkey(service.get(), "NetWorkProvider", provider) != ERROR_SUCCESS ||
      !WriteTextValues(provider.get(), kNetworkProviderValues, std::size(kNetworkProviderValues)) ||
      installkit::WriteDword(provider.get(), "Class", kNetworkProviderClass) != ERROR_SUCCESS)
    return false;
  RegKey performance;
  DWORD disposition = 0;
  if (installkit::CreateSubkey(service.get(), "performance", performance, &disposition) != ERROR_SUCCESS) return false;
  if (disposition != REG_CREATED_NEW_KEY) return true;
  if (!WriteTextValues(performance.get(), kPerformanceValues, std::size(kPerformanceValues))) return false;
  const std::string definition = install_dir + "\\qxnfs.ini";
  RunHidden("lodctr " + (definition.find(' ') == std::string::npos ? definition : "\"" + definition + "\""));
  return true;
}

bool CreateKey(const char *path, RegKey &key) {
  return installkit::CreateSubkey(HKEY_LOCAL_MACHINE, path, key) == ERROR_SUCCESS;
}

// The suite's own keys: the NFS client's installation and the terminal
// daemon's greeting. Settings the user made earlier stay.
bool WriteSuiteKeys(const std::string &install_dir) {
  RegKey corvane, client, current;
  if (!CreateKey(kCorvaneKey, corvane) || !CreateKey(INSTALLKIT_CLIENT_KEY, client) ||
      !CreateKey(INSTALLKIT_CLIENT_CURRENT_KEY, current))
    return false;
  MoveClientValues(client.get(), current.get());
  const TextValue values[] = {
      {"Installation Directory", REG_SZ, install_dir.c_str()},
      {"Title", REG_SZ, "Corvane NFS Client"},
      {"Version", REG_SZ, "V3.6"},
  };
  if (!WriteTextValues(current.get(), values, std::size(values))) return false;
  RegKey consoled, consoled_current;
  if (!CreateKey(kConsoledKey, consoled) || !CreateKey(kConsoledCurrentKey, consoled_current)) return false;
  // The reader of the value turns the two-character \r and \n into line ends.
  return installkit::WriteText(consoled_current.get(), "Welcome", REG_SZ,
                               "Corvane Software, Windows NT, Telnet Version 3.6 (%s)\\r\\n\\r\\n") == ERROR_SUCCESS;
}

// Result of a removal from a list value.
enum class Removal { kDone, kNoKey, kFailed };

// Removes the print provider from "Order" (its first exact entry, the rest
// moving up) and its subkey.
Removal RemovePrintProvider() {
  RegKey key;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPrintProvidersKey, 0, KEY_ALL_ACCESS, key.out());
  if (rc == ERROR_FILE_NOT_FOUND) return Removal::kNoKey;
  if (rc != ERROR_SUCCESS) return Removal::kFailed;
  RegValue order;
  if (installkit::ReadValue(key.get(), "Order", order) != ERROR_SUCCESS) return Removal::kDone;
  size_t at = 0;
  while (at < order.data.size() && order.data[at] != '\0') {
    size_t end = order.data.find('\0', at);
    if (end == std::string::npos) end = order.data.size();
    if (order.data.compare(at, end - at, kPrintProviderName) == 0) {
      order.data.erase(at, std::min(end + 1, order.data.size()) - at);
      if (installkit::SplitMultiString(order.data).empty())
        RegDeleteValueA(key.get(), "Order");
      else if (installkit::WriteBytes(key.get(), "Order", order.type, order.data) != ERROR_SUCCESS)
        return Removal::kFailed;
      RegDeleteKeyA(key.get(), kPrintProviderName);
      break;
    }
    at = end + 1;
  }
  return Removal::kDone;
}

// Removes whole entries equal to `entry` from a list value; a value left
// empty goes.
Removal RemoveFromListValue(const char *key_path, const char *name, const std::string &entry, char separator) {
  RegKey key;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_path, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.out());
  if (rc == ERROR_FILE_NOT_FOUND) return Removal::kNoKey;
  if (rc != ERROR_SUCCESS) return Removal::kFailed;
  RegValue value;
  if (installkit::ReadValue(key.get(), name, value) != ERROR_SUCCESS) return Removal::kDone;
  std::string text = installkit::ValueText(value);
  if (!installkit::RemoveListEntry(text, entry, separator)) return Removal::kDone;
  if (text.empty()) return RegDeleteValueA(key.get(), name) == ERROR_SUCCESS ? Removal::kDone : Removal::kFailed;
  return installkit::WriteText(key.get(), name, value.type, text) == ERROR_SUCCESS ? Removal::kDone : Removal::kFailed;
}

// The files an installation made: the applet copy and, when nothing else
// is left in them, the subdirectories and the directory itself. The system
// directory's applet comes back from the copy kept when the NFS server was
// installed.
void RemoveInstalledFiles(const std::string &install_dir, bool nfs_server_was_installed) {
  DeleteFileA((install_dir + kApplet).c_str());
  RemoveDirectoryA((install_dir + "\\qx220").c_str());
  RemoveDirectoryA((install_dir + "\\Utility").c_str());
  RemoveDirectoryA(install_dir.c_str());
  if (nfs_server_was_installed) RestoreSystemApplet();
}

bool ServiceExists(SC_HANDLE manager, const char *name) {
  ScHandle service(OpenServiceA(manager, name, SERVICE_QUERY_STATUS));
  return static_cast<bool>(service);
}

// Argument 0, the installation directory, without trailing backslashes.
bool InstallDirArgument(DWORD count, LPSTR *arguments, std::string &dir) {
  if (count < 1 || !arguments || !arguments[0] || !arguments[0][0]) return false;
  dir = arguments[0];
  while (dir.size() > 3 && dir.back() == '\\') dir.pop_back();
  return true;
}

}  // namespace

std::string ExpandText(const char *text) {
  char expanded[MAX_PATH * 2] = "";
  const DWORD n = ExpandEnvironmentStringsA(text, expanded, sizeof expanded);
  return n > 0 && n <= sizeof expanded ? std::string(expanded) : std::string();
}

void MoveClientValues(HKEY old_key, HKEY new_key) {
  RegValue description;
  if (installkit::ReadValue(old_key, "Description", description) != ERROR_SUCCESS) return;
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[16384];
    DWORD length = sizeof name;
    if (RegEnumValueA(old_key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  // A value is deleted from the old key only once it is in the new one.
  for (const std::string &name : names) {
    RegValue value;
    if (installkit::ReadValue(old_key, name.c_str(), value) != ERROR_SUCCESS) continue;
    if (installkit::WriteBytes(new_key, name.c_str(), value.type, value.data) != ERROR_SUCCESS) continue;
    RegDeleteValueA(old_key, name.c_str());
  }
}

void RestoreSystemApplet() {
  const std::string applet = ExpandText(kSystemApplet);
  const std::string old = ExpandText("%SystemRoot%\\System32\\sharepanel.old");
  if (applet.empty() || old.empty() || GetFileAttributesA(old.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  MoveFileExA(old.c_str(), applet.c_str(), MOVEFILE_REPLACE_EXISTING);
}

extern "C" QX_DLLEXPORT BOOL WINAPI FinishInstall(DWORD count, LPSTR *arguments, LPCSTR *outText) {
  if (outText) *outText = kOutBad;
  std::string dir;
  if (!InstallDirArgument(count, arguments, dir)) {
    ShowInstallError(kNoDirectory);
    return FALSE;
  }
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) {
    ShowInstallError(kNoManager);
    return FALSE;
  }
  ScHandle driver(installkit::CreateSuiteService(manager.get(), installkit::kClientDriverService, dir));
  if (!installkit::ProgramInInstallDir(dir, installkit::kSuperServerService.program).empty()) {
    ScHandle super_server(installkit::CreateSuiteService(manager.get(), installkit::kSuperServerService, dir));
    if (super_server) StartServiceA(super_server.get(), 0, nullptr);
    installkit::WriteSystemdUnit(installkit::kSuperServerService, dir);
  }
  if (!AddPrintProvider() || !AddNetworkProvider() || !WriteClientServiceKeys(dir) || !WriteSuiteKeys(dir)) {
    ShowInstallError(kNoRegistry);
    return FALSE;
  }
  CopySystemApplet(dir);
  if (outText) *outText = kOutOk;
  return TRUE;
}

extern "C" QX_DLLEXPORT BOOL WINAPI Update(DWORD count, LPSTR *arguments, LPCSTR *outText) {
  if (outText) *outText = kOutBad;
  std::string dir;
  if (!InstallDirArgument(count, arguments, dir)) return TRUE;
  RegKey service;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kClientServiceKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, service.out()) ==
      ERROR_SUCCESS)
    installkit::WriteBytes(service.get(), "DependOnService", REG_MULTI_SZ,
                           std::string(installkit::kClientDriverService.dependencies, sizeof "Afd\0Mup\0"));
  // The driver answers on its device once it is loaded.
  DefineDosDeviceA(DDD_RAW_TARGET_PATH, "QXNFS_RPC", "\\device\\QXNFS\\+:");
  HANDLE device = CreateFileA("\\\\.\\QXNFS_RPC", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (device != INVALID_HANDLE_VALUE) {
    if (outText) *outText = kOutOk;
    CloseHandle(device);
  }
  CopySystemApplet(dir);
  return TRUE;
}

extern "C" QX_DLLEXPORT BOOL WINAPI DeInstall(DWORD count, LPSTR *arguments, LPCSTR *outText) {
  if (outText) *outText = kOutBad;
  std::string dir;
  if (!InstallDirArgument(count, arguments, dir)) {
    ShowInstallError(kNoDirectory);
    return FALSE;
  }
  RunHidden("unlodctr qxnfs");
  bool nfs_server_was_installed = false;
  {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
      ShowInstallError(kNoManager);
      return FALSE;
    }
    nfs_server_was_installed = ServiceExists(manager.get(), installkit::kNfsServerService.name);
    for (const installkit::SuiteService *service :
         {&installkit::kClientDriverService, &installkit::kSuperServerService, &installkit::kNfsServerService}) {
      installkit::StopAndDeleteService(manager.get(), service->name);
      installkit::RemoveSystemdUnit(*service);
    }
  }
  installkit::PruneEmptyKeys(kServicesKey);
  // The search path, then the print and the network providers; the first
  // that cannot be changed ends the removal.
  const struct {
    const char *key;
    Removal (*remove)(const std::string &dir);
  } removals[] = {
      {INSTALLKIT_ENVIRONMENT_KEY,
       [](const std::string &d) { return RemoveFromListValue(INSTALLKIT_ENVIRONMENT_KEY, "Path", d, ';'); }},
      {kPrintProvidersKey, [](const std::string &) { return RemovePrintProvider(); }},
      {kNetworkOrderKey,
       [](const std::string &) {
         return RemoveFromListValue(kNetworkOrderKey, "ProviderOrder", kNetworkProviderName, ',');
       }},
  };
  for (const auto &removal : removals) {
    if (removal.remove(dir) == Removal::kFailed) {
      ShowInstallError(kNoRegistry);
      return FALSE;
    }
    installkit::PruneEmptyKeys(removal.key);
  }
  {
    RegKey corvane;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCorvaneKey, 0, KEY_ALL_ACCESS, corvane.out()) == ERROR_SUCCESS)
      for (const char *subkey : kCorvaneSubkeys) RegDeleteKeyA(corvane.get(), subkey);
  }
  installkit::PruneEmptyKeys(kCorvaneKey);
  RemoveInstalledFiles(dir, nfs_server_was_installed);
  if (outText) *outText = kOutOk;
  return TRUE;
}
