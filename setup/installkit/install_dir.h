// The installation directory and its subdirectories.
#pragma once

#include <string>

// Creates the directory level by level when it is missing, then its
// subdirectories "qx220" and "Utility". True when all of them are there as
// directories.
bool CreateInstallDirs(const std::string &install_dir);
