// Winsock's last error: errno values mapped to WSAE codes, and the thread's
// error shared with GetLastError as on Win32.
#include "ws_internal.h"

#include <cerrno>
#include <sys/stat.h>

namespace qx::ws {
namespace {

struct ErrnoMapping {
  int err;
  int wsa;
};

// EINPROGRESS is "would block" to Winsock: a non-blocking connect reports
// WSAEWOULDBLOCK and then FD_CONNECT. EBADF names a descriptor that is not an
// open socket, which Winsock reports as WSAENOTSOCK.
constexpr ErrnoMapping kErrnoTable[] = {
    {EINTR, kWSAEINTR},
    {EBADF, kWSAENOTSOCK},
    {EACCES, kWSAEACCES},
    {EPERM, kWSAEACCES},
    {EFAULT, kWSAEFAULT},
    {EINVAL, kWSAEINVAL},
    {EMFILE, kWSAEMFILE},
    {ENFILE, kWSAEMFILE},
    {EAGAIN, kWSAEWOULDBLOCK},
    {EINPROGRESS, kWSAEWOULDBLOCK},
    {EALREADY, kWSAEALREADY},
    {ENOTSOCK, kWSAENOTSOCK},
    {EDESTADDRREQ, kWSAEDESTADDRREQ},
    {EMSGSIZE, kWSAEMSGSIZE},
    {EPROTOTYPE, kWSAEPROTOTYPE},
    {ENOPROTOOPT, kWSAENOPROTOOPT},
    {EPROTONOSUPPORT, kWSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, kWSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, kWSAEOPNOTSUPP},
    {EPFNOSUPPORT, kWSAEPFNOSUPPORT},
    {EAFNOSUPPORT, kWSAEAFNOSUPPORT},
    {EADDRINUSE, kWSAEADDRINUSE},
    {EADDRNOTAVAIL, kWSAEADDRNOTAVAIL},
    {ENETDOWN, kWSAENETDOWN},
    {ENETUNREACH, kWSAENETUNREACH},
    {ENETRESET, kWSAENETRESET},
    {ECONNABORTED, kWSAECONNABORTED},
    {ECONNRESET, kWSAECONNRESET},
    {EPIPE, kWSAECONNRESET},
    {ENOBUFS, kWSAENOBUFS},
    {ENOMEM, kWSAENOBUFS},
    {EISCONN, kWSAEISCONN},
    {ENOTCONN, kWSAENOTCONN},
    {ESHUTDOWN, kWSAESHUTDOWN},
    {ETOOMANYREFS, kWSAETOOMANYREFS},
    {ETIMEDOUT, kWSAETIMEDOUT},
    {ECONNREFUSED, kWSAECONNREFUSED},
    {ELOOP, kWSAELOOP},
    {ENAMETOOLONG, kWSAENAMETOOLONG},
    {EHOSTDOWN, kWSAEHOSTDOWN},
    {EHOSTUNREACH, kWSAEHOSTUNREACH},
    {ENOTEMPTY, kWSAENOTEMPTY},
    {EUSERS, kWSAEUSERS},
    {EDQUOT, kWSAEDQUOT},
    {ESTALE, kWSAESTALE},
    {EREMOTE, kWSAEREMOTE},
    {ENOSPC, kWSAENOBUFS},
};

}  // namespace

int WsaErrorFromErrno(int err) {
  for (const ErrnoMapping &m : kErrnoTable)
    if (m.err == err) return m.wsa;
  return kWSAEINVAL;
}

int Fail(int wsa_error) {
  SetLastError(static_cast<DWORD>(wsa_error));
  return kSocketError;
}

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
