// Winsock's last error: errno values mapped to WSAE codes (the Socket map of
// qx/errors.h), and the thread's error shared with GetLastError as on Win32.
#include "ws_internal.h"

#include <sys/stat.h>

#include "qx/errors.h"

namespace qx::ws {

int WsaErrorFromErrno(int err) { return static_cast<int>(ErrorFromErrno(err, HostCall::Socket)); }

int Fail(int wsa_error) { return qx::Fail(static_cast<DWORD>(wsa_error), kSocketError); }

int FailErrno(int err) { return Fail(WsaErrorFromErrno(err)); }

bool IsSocket(int fd) {
  struct stat st {};
  return fd >= 0 && fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

}  // namespace qx::ws

extern "C" {

WINBASEAPI void WINAPI WSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }
WINBASEAPI int WINAPI WSAGetLastError(void) { return static_cast<int>(GetLastError()); }

}  // extern "C"
