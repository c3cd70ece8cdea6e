// The suite's services as the installer registers them: the NFS client's
// file-system driver "QXNFS", the super-server "Q&Xportwarden" and the NFS
// server "QXNFSServer".
#pragma once

#include <windows.h>

#include <string>

namespace installkit {

struct SuiteService {
  const char *name;          // also the display name
  DWORD type;                // without the interactive flag
  bool interactive;          // interactive unless the system is NT 3.10
  const char *program;       // a full path, or a file appended to the installation directory
  bool in_install_dir;       // program is "\NAME.EXE" appended to the installation directory
  const char *dependencies;  // NUL-separated names, ended by an extra NUL
};

extern const SuiteService kClientDriverService;  // "QXNFS"
extern const SuiteService kSuperServerService;   // "Q&Xportwarden"
extern const SuiteService kNfsServerService;     // "QXNFSServer"

// The program path a service is registered with: quoted when it holds a
// blank, so no shorter path can stand in for it.
std::string ServiceProgramPath(const SuiteService &service, const std::string &install_dir);

// Creates the service (all access, started automatically, error control
// normal, the system account); a service that exists is left unchanged and
// opened. NULL when neither works.
SC_HANDLE CreateSuiteService(SC_HANDLE manager, const SuiteService &service, const std::string &install_dir);

// Stops the service when it runs (waiting a few seconds for it), then deletes
// it. A service that is not there is no error.
void StopAndDeleteService(SC_HANDLE manager, const char *name);

// The program of a service in the installation directory as it is there:
// "PORTWARDEN.EXE", or the program's Linux name ("portwarden"); "" when
// neither is.
std::string ProgramInInstallDir(const std::string &install_dir, const char *program);

// Optional systemd unit files for the services the suite runs, so a machine
// run by systemd can start them at boot ("systemctl enable"). They are written
// into QX_SYSTEMD_UNIT_DIR when it is set (set but empty: none are written),
// else into /etc/systemd/system on a machine that runs systemd and lets us
// write there. Nothing depends on them: the suite's service manager needs none.
std::string SystemdUnitPath(const SuiteService &service);
void WriteSystemdUnit(const SuiteService &service, const std::string &install_dir);
void RemoveSystemdUnit(const SuiteService &service);

}  // namespace installkit
