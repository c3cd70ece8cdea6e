// The suite's services as the installer registers and removes them.
#include "services.h"

#include "regvalues.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

#include "qx/paths.h"

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

std::string ProgramInInstallDir(const std::string &install_dir, const char *program) {
  const std::string windows_name = install_dir + program;  // "C:\QX\PORTWARDEN.EXE"
  std::string linux_name = windows_name.substr(0, windows_name.size() - 4);
  const size_t cut = linux_name.rfind('\\');
  for (size_t i = cut + 1; i < linux_name.size(); ++i)
    linux_name[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(linux_name[i])));
  for (const std::string &name : {windows_name, linux_name}) {
    const DWORD attributes = GetFileAttributesA(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return name;
  }
  return "";
}

namespace {

std::string SystemdUnitDir() {
  if (const char *dir = std::getenv("QX_SYSTEMD_UNIT_DIR")) return dir;
  struct stat st {};
  if (stat("/run/systemd/system", &st) != 0 || !S_ISDIR(st.st_mode)) return "";  // systemd does not run
  return access("/etc/systemd/system", W_OK) == 0 ? "/etc/systemd/system" : "";
}

}  // namespace

std::string SystemdUnitPath(const SuiteService &service) {
  const std::string dir = SystemdUnitDir();
  if (dir.empty()) return "";
  std::string name = "qx-";
  for (const char *p = service.name; *p; ++p)
    if (std::isalnum(static_cast<unsigned char>(*p)))
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return dir + "/" + name + ".service";
}

void WriteSystemdUnit(const SuiteService &service, const std::string &install_dir) {
  const std::string unit = SystemdUnitPath(service);
  if (unit.empty() || !service.in_install_dir) return;
  std::string program;
  DWORD error = 0;
  const std::string found = ProgramInInstallDir(install_dir, service.program);
  if (found.empty() || !qx::HostPath(found, program, error)) return;
  const std::string text =
      "# Written by the QX TCP/IP suite's installer; removed with the suite.\n"
      "[Unit]\n"
      "Description=" +
      std::string(service.name) +
      " (QX TCP/IP suite)\n"
      "After=network.target\n\n"
      "[Service]\n"
      "Type=simple\n"
      "ExecStart=\"" +
      program +
      "\"\n"
      "Restart=on-failure\n\n"
      "[Install]\n"
      "WantedBy=multi-user.target\n";
  // A Linux path: written with the system's calls, whole or not at all.
  const std::string temporary = unit + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), unit.c_str()) != 0) ::unlink(temporary.c_str());
}

void RemoveSystemdUnit(const SuiteService &service) {
  const std::string unit = SystemdUnitPath(service);
  if (!unit.empty()) unlink(unit.c_str());
}

}  // namespace installkit
