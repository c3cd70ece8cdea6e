// Shared by the files of the devices part.
#pragma once

#include <string>
#include <vector>

namespace qx {

// The targets of a DOS device name, newest first (empty when undefined).
std::vector<std::string> DosDeviceTargets(const std::string &name);

}  // namespace qx
