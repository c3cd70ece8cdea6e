// Shared by the files of the shell part.
#pragma once

#include <string>

namespace qx {

// A Windows path given to a program, as the host path the desktop program
// needs (unchanged when the drive table cannot map it).
std::string HostFileArgument(const std::string &windows_path);
// The desktop opener for a host file ([Shell] Open of WIN.INI, else
// xdg-open): false when none is configured or installed.
bool OpenerCommand(const std::string &host_file, std::string &host_program, std::string &host_line);

}  // namespace qx
