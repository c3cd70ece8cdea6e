// The suite's services as the installer registers and removes them.
#include "services.h"

#include "regvalues.h"

#include <cctype>

namespace installkit {

const SuiteService kClientDriverService = {
    "QXNFS", SERVICE_FILE_SYSTEM_DRIVER, false, "\\SystemRoot\\System32\\Drivers\\qxnfs.sys", false, "Afd\0Mup\0"};
const SuiteService kSuperServerService = {
    "Q&Xportwarden", SERVICE_WIN32_OWN_PROCESS, true, "\\PORTWARDEN.EXE", true, "Tcpip\0Afd\0QXNFS\0"};
const SuiteService kNfsServerService = {"QXNFSServer", SERVICE_WIN32_OWN_PROCESS, true, "\\SHAREHOST.EXE", true,
                                        "Tcpip\0Afd\0"};

namespace {

constexpr int kStopWaitMs = 10000;

// Windows NT 3.10 knows no interactive services.
bool IsNt310() {
  const DWORD version = GetVersion();
  return LOBYTE(LOWORD(version)) == 3 && HIBYTE(LOWORD(version)) == 10;
}

}  // namespace

std::string ServiceProgramPath(const SuiteService &service, const std::string &install_dir) {
  std::string path = service.in_install_dir ? install_dir + service.program : service.program;
  if (path.find(' ') != std::string::npos) path = "\"" + path + "\"";
  return path;
}

SC_HANDLE CreateSuiteService(SC_HANDLE manager, const SuiteService &service, const std::string &install_dir) {
  DWORD type = service.type;
  if (service.interactive && !IsNt310()) type |= SERVICE_INTERACTIVE_PROCESS;
  const std::string program = ServiceProgramPath(service, install_dir);
  SC_HANDLE handle =
      CreateServiceA(manager, service.name, service.name, SERVICE_ALL_ACCESS, type, SERVICE_AUTO_START,
                     SERVICE_ERROR_NORMAL, program.c_str(), nullptr, nullptr, service.dependencies, nullptr, nullptr);
  if (!handle && GetLastError() == ERROR_SERVICE_EXISTS)
    handle = OpenServiceA(manager, service.name, SERVICE_ALL_ACCESS);
  return handle;
}

void StopAndDeleteService(SC_HANDLE manager, const char *name) {
  ScHandle service(OpenServiceA(manager, name, SERVICE_ALL_ACCESS));
  if (!service) return;
  SERVICE_STATUS status{};
  // A running service is stopped first, so removing the suite leaves none
  // of its programs running.
  if (QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED &&
      ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
    for (int waited = 0; waited < kStopWaitMs && status.dwCurrentState != SERVICE_STOPPED; waited += 100) {
      Sleep(100);
      if (!QueryServiceStatus(service.get(), &status)) break;
    }
  }
  DeleteService(service.get());
}

bool ProgramInInstallDir(const std::string &install_dir, const char *program) {
  const std::string windows_name = install_dir + program;  // "C:\QX\PORTWARDEN.EXE"
  std::string linux_name = windows_name.substr(0, windows_name.size() - 4);
  const size_t cut = linux_name.rfind('\\');
  for (size_t i = cut + 1; i < linux_name.size(); ++i)
    linux_name[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(linux_name[i])));
  for (const std::string &name : {windows_name, linux_name}) {
    const DWORD attributes = GetFileAttributesA(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  }
  return false;
}

}  // namespace installkit
