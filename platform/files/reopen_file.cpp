// ReOpenFile: a second handle on a file another handle holds open, with its own
// access, share mode and file pointer. A library handed a caller's handle reads
// through such a handle, so the caller's file pointer never moves.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files_internal.h"
#include "qx/errors.h"

extern "C" HANDLE WINAPI ReOpenFile(HANDLE hOriginalFile, DWORD dwDesiredAccess, DWORD dwShareMode,
                                    DWORD dwFlagsAndAttributes) {
  (void)dwFlagsAndAttributes;
  auto file = qx::Lookup<qx::FileObject>(hOriginalFile, qx::ObjectKind::File);
  if (!file) {
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_HANDLE_VALUE;
  }
  const bool want_read = dwDesiredAccess & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA);
  const bool want_write = dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA);
  struct stat st {};
  if (fstat(file->fd(), &st) != 0) {
    SetLastError(qx::ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  if (want_write && (S_ISDIR(st.st_mode) || qx::IsReadOnly(st))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  // Opening the descriptor's /proc entry makes a new open of the same file
  // (not a copy of the descriptor, which would share its offset), even when
  // the file was renamed or removed since.
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", file->fd());
  const int flags = want_write ? (want_read ? O_RDWR : O_WRONLY) : O_RDONLY;
  const int fd = open(path, flags | O_CLOEXEC);
  if (fd < 0) {
    SetLastError(qx::ErrorFromErrno(errno, qx::HostCall::Open));
    return INVALID_HANDLE_VALUE;
  }
  if (DWORD share_error = qx::AcquireShareMode(fd, want_read, want_write, dwShareMode)) {
    close(fd);
    SetLastError(share_error);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = qx::InsertHandle(std::make_shared<qx::FileObject>(fd, want_read, want_write, file->host()));
  if (!h) {
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return h;
}
