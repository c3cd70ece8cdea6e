// Windows paths on this machine: the drive table, the per-process current
// directory, and the mapping between Windows paths and host paths that every
// file call of the layer goes through. Also the descriptor behind a file HANDLE.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace qx {

// Makes a Windows path full: drive letter, root, "\" separators, "." and ".."
// applied (never above the drive root), trailing dots and blanks dropped from
// the last component. Relative paths are taken against the current directory
// (of the named drive for "D:name"). Refuses UNC paths (ERROR_BAD_NETPATH),
// unknown drives (ERROR_INVALID_DRIVE) and names with characters Windows does
// not allow (ERROR_INVALID_NAME). When allow_wildcards is set, "*" and "?"
// may appear in the last component.
bool FullWindowsPath(std::string_view path, std::string &full, DWORD &error, bool allow_wildcards = false);

// Maps a Windows path to a host path. Existing components are found without
// regard to case and take their stored spelling; a missing last component is
// kept as given (so a new file keeps its case); a missing directory on the
// way gives ERROR_PATH_NOT_FOUND. "NUL" maps to /dev/null.
bool HostPath(std::string_view path, std::string &host, DWORD &error);
// Same, also returning the full Windows path with stored spellings.
bool HostPath(std::string_view path, std::string &host, std::string &full, DWORD &error);
// The folders on the way to a path are remembered (and only the last
// component looked up) once the same folder has been walked this many times.
constexpr int kWalksBeforeRemembering = 8;

// The Windows path of a host path, or "" when no drive holds it.
std::string WindowsPathOf(const std::string &host);

// The host directory of a drive letter ('A'..'Z'), or "" when unmapped.
std::string DriveRoot(char letter);

// The Windows and system directories (Windows paths, created on first use).
const std::string &WindowsDirectory();
const std::string &SystemDirectory();

// The host descriptor behind a file HANDLE (CreateFileA, OpenFile), or -1
// with ERROR_INVALID_HANDLE set when the handle is not a file.
int FileHandleDescriptor(HANDLE handle);

}  // namespace qx
