// OpenFile with its parse, exist, create and delete modes and the Windows
// search order for bare names, and the _lopen/_lcreat/_lread/_lwrite/
// _llseek/_lclose calls on the HFILE numbers it returns.
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <vector>

#include "files_internal.h"
#include "qx/errors.h"
#include "qx/paths.h"

namespace {

DWORD ShareFromStyle(UINT style) {
  switch (style & 0x70) {
    case OF_SHARE_EXCLUSIVE: return 0;
    case OF_SHARE_DENY_WRITE: return FILE_SHARE_READ;
    case OF_SHARE_DENY_READ: return FILE_SHARE_WRITE;
    default: return FILE_SHARE_READ | FILE_SHARE_WRITE;  // compatibility and deny-none
  }
}

DWORD AccessFromStyle(UINT style) {
  switch (style & 3) {
    case OF_WRITE: return GENERIC_WRITE;
    case OF_READWRITE: return GENERIC_READ | GENERIC_WRITE;
    default: return GENERIC_READ;
  }
}

// The directories OpenFile looks in for a name without a path: the current
// directory, the program's directory, the system and Windows directories,
// then PATH.
std::vector<std::string> SearchDirectories() {
  std::vector<std::string> dirs;
  char cwd[MAX_PATH];
  if (GetCurrentDirectoryA(sizeof cwd, cwd) < sizeof cwd) dirs.push_back(cwd);
  std::string program = qx::ProgramDirectory();
  if (!program.empty()) dirs.push_back(program);
  dirs.push_back(qx::SystemDirectory());
  dirs.push_back(qx::WindowsDirectory());
  qx::AppendPathDirectories(dirs);
  return dirs;
}

// Finds an existing regular file for OpenFile: bare names along the search
// order, other names as given. full gets the Windows path found.
bool FindForOpen(const std::string &name, std::string &full, DWORD &error) {
  bool bare = name.find_first_of("\\/:") == std::string::npos;
  std::vector<std::string> candidates;
  if (bare) {
    for (const auto &dir : SearchDirectories()) candidates.push_back(dir + (dir.back() == '\\' ? "" : "\\") + name);
  } else {
    candidates.push_back(name);
  }
  error = ERROR_FILE_NOT_FOUND;
  for (const auto &candidate : candidates) {
    std::string host, found;
    DWORD e;
    struct stat st {};
    if (!qx::HostPath(candidate, host, found, e)) {
      if (!bare) error = e;
      continue;
    }
    if (stat(host.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
      full = found;
      return true;
    }
    if (!bare) error = qx::ErrorFromErrno(errno, qx::HostCall::Lookup);
  }
  return false;
}

HFILE Failed(LPOFSTRUCT ofs, DWORD error) {
  if (ofs) ofs->nErrCode = static_cast<WORD>(error);
  SetLastError(error);
  return HFILE_ERROR;
}

bool StorePath(LPOFSTRUCT ofs, const std::string &path) {
  if (path.size() >= OFS_MAXPATHNAME) return false;  // never hand back a cut path
  std::memcpy(ofs->szPathName, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

extern "C" {

HFILE WINAPI OpenFile(LPCSTR lpFileName, LPOFSTRUCT lpReOpenBuff, UINT uStyle) {
  if (!lpReOpenBuff || (!lpFileName && !(uStyle & OF_REOPEN))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return HFILE_ERROR;
  }
  std::string name = (uStyle & OF_REOPEN)
                         ? std::string(lpReOpenBuff->szPathName, strnlen(lpReOpenBuff->szPathName, OFS_MAXPATHNAME))
                         : std::string(lpFileName);
  lpReOpenBuff->cBytes = sizeof(OFSTRUCT);
  lpReOpenBuff->fFixedDisk = 1;
  lpReOpenBuff->nErrCode = 0;
  std::string full;
  DWORD error;
  if (uStyle & OF_PARSE) {
    if (!qx::FullWindowsPath(name, full, error)) return Failed(lpReOpenBuff, error);
    if (!StorePath(lpReOpenBuff, full)) return Failed(lpReOpenBuff, ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  if (uStyle & OF_CREATE) {
    if (!qx::FullWindowsPath(name, full, error)) return Failed(lpReOpenBuff, error);
  } else if (!FindForOpen(name, full, error)) {
    if (qx::FullWindowsPath(name, full, error) && full.size() < OFS_MAXPATHNAME) StorePath(lpReOpenBuff, full);
    return Failed(lpReOpenBuff, error == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : error);
  }
  if (full.size() >= OFS_MAXPATHNAME) return Failed(lpReOpenBuff, ERROR_FILENAME_EXCED_RANGE);
  if (uStyle & OF_DELETE) {
    if (!DeleteFileA(full.c_str())) return Failed(lpReOpenBuff, GetLastError());
    StorePath(lpReOpenBuff, full);
    return 1;
  }
  DWORD access = AccessFromStyle(uStyle);
  // A file made by OF_CREATE is always writable through the handle, or the
  // caller could never fill it.
  if ((uStyle & OF_CREATE) && !(access & GENERIC_WRITE)) access |= GENERIC_WRITE;
  HANDLE h = CreateFileA(full.c_str(), access, ShareFromStyle(uStyle), nullptr,
                         (uStyle & OF_CREATE) ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Failed(lpReOpenBuff, GetLastError());
  // Report the stored spelling of the file now that it certainly exists.
  std::string host, stored;
  if (qx::HostPath(full, host, stored, error) && stored.size() < OFS_MAXPATHNAME) full = stored;
  StorePath(lpReOpenBuff, full);
  SetLastError(ERROR_SUCCESS);
  if (uStyle & OF_EXIST) {
    CloseHandle(h);
    return 1;
  }
  return qx::HfileFrom(h);
}

HFILE WINAPI _lopen(LPCSTR lpPathName, int iReadWrite) {
  if (!lpPathName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return HFILE_ERROR;
  }
  HANDLE h = CreateFileA(lpPathName, AccessFromStyle(static_cast<UINT>(iReadWrite)),
                         ShareFromStyle(static_cast<UINT>(iReadWrite)), nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  return h == INVALID_HANDLE_VALUE ? HFILE_ERROR : qx::HfileFrom(h);
}

HFILE WINAPI _lcreat(LPCSTR lpPathName, int iAttribute) {
  if (!lpPathName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return HFILE_ERROR;
  }
  DWORD attributes = (iAttribute & 1) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
  HANDLE h = CreateFileA(lpPathName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         CREATE_ALWAYS, attributes, nullptr);
  return h == INVALID_HANDLE_VALUE ? HFILE_ERROR : qx::HfileFrom(h);
}

UINT WINAPI _lread(HFILE hFile, LPVOID lpBuffer, UINT uBytes) {
  DWORD done = 0;
  if (!ReadFile(qx::HandleFrom(hFile), lpBuffer, uBytes, &done, nullptr)) return static_cast<UINT>(HFILE_ERROR);
  return done;
}

UINT WINAPI _lwrite(HFILE hFile, LPCSTR lpBuffer, UINT uBytes) {
  DWORD done = 0;
  if (uBytes == 0) {  // a zero count truncates the file at the current position
    return SetEndOfFile(qx::HandleFrom(hFile)) ? 0 : static_cast<UINT>(HFILE_ERROR);
  }
  if (!WriteFile(qx::HandleFrom(hFile), lpBuffer, uBytes, &done, nullptr) && done == 0)
    return static_cast<UINT>(HFILE_ERROR);
  return done;
}

LONG WINAPI _llseek(HFILE hFile, LONG lOffset, int iOrigin) {
  DWORD pos = SetFilePointer(qx::HandleFrom(hFile), lOffset, nullptr, static_cast<DWORD>(iOrigin));
  if (pos == INVALID_SET_FILE_POINTER || pos > 0x7FFFFFFFu) return HFILE_ERROR;
  return static_cast<LONG>(pos);
}

HFILE WINAPI _lclose(HFILE hFile) {
  if (!qx::Lookup<qx::FileObject>(qx::HandleFrom(hFile), qx::ObjectKind::File)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return HFILE_ERROR;
  }
  return CloseHandle(qx::HandleFrom(hFile)) ? 0 : HFILE_ERROR;
}

}  // extern "C"
