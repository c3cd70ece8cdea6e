// The NFS server service "QXNFSServer" and its control-panel applet in the
// system directory, installed from the NFS client settings dialog.
#include "installkit.h"
#include "install_steps.h"
#include "regvalues.h"
#include "services.h"

#include <string>

using installkit::ScHandle;

namespace {

bool FileExists(const std::string &path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The system directory's applet is kept as "sharepanel.old" and replaced by
// the installation's copy. Nothing is moved when the installation has no
// copy, and the kept applet comes back when the copy fails: the system
// directory never ends up without one. A "sharepanel.old" already there is
// the applet from before an earlier run (removal puts it back and leaves
// none): it stays, so a second run never keeps the suite's copy in its place.
void InstallSystemApplet(const std::string &install_dir, const std::string &system_dir) {
  const std::string source = install_dir + "\\sharepanel.cpl";
  const std::string applet = system_dir + "\\sharepanel.cpl";
  const std::string old = system_dir + "\\sharepanel.old";
  if (install_dir.empty() || !FileExists(source)) return;
  if (FileExists(old)) {
    CopyFileA(source.c_str(), applet.c_str(), FALSE);
    return;
  }
  const bool kept = MoveFileA(applet.c_str(), old.c_str()) != FALSE;
  if (!CopyFileA(source.c_str(), applet.c_str(), FALSE) && kept) MoveFileA(old.c_str(), applet.c_str());
}

}  // namespace

void SetupNfsServer(DWORD mode) {
  const std::string install_dir = installkit::ReadMachineText(INSTALLKIT_CLIENT_CURRENT_KEY, "Installation Directory");
  const std::string system_dir = ExpandText("%SystemRoot%\\System32");
  if (mode & SETUP_NFS_SERVER_INSTALL) {
    if (!system_dir.empty()) InstallSystemApplet(install_dir, system_dir);
    // Without a known installation directory there is no program to register.
    if (install_dir.empty()) return;
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return;
    ScHandle server(installkit::CreateSuiteService(manager.get(), installkit::kNfsServerService, install_dir));
    installkit::WriteSystemdUnit(installkit::kNfsServerService, install_dir);
    return;
  }
  if (!system_dir.empty()) {
    const std::string applet = system_dir + "\\sharepanel.cpl";
    const std::string old = system_dir + "\\sharepanel.old";
    DeleteFileA(old.c_str());
    MoveFileA(applet.c_str(), old.c_str());
  }
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return;
  installkit::StopAndDeleteService(manager.get(), installkit::kNfsServerService.name);
  installkit::RemoveSystemdUnit(installkit::kNfsServerService);
}
