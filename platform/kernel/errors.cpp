// The errno maps of the layer's error boundary (qx/errors.h): one table per
// kind of host call, each consulted before the general one, and the reverse
// map the C runtime's calls use.
#include "qx/errors.h"

#include <winsock.h>

#include <cerrno>
#include <span>

namespace qx {
namespace {

struct Mapping {
  int err;
  DWORD error;
};

// A kind of call: its own entries, then either a fixed answer for every other
// errno (when has_fallback) or the general map.
struct CallMap {
  std::span<const Mapping> entries;
  bool has_fallback = false;
  DWORD fallback = 0;
};

constexpr Mapping kGeneral[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},      {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},       {EPERM, ERROR_ACCESS_DENIED},
    {EROFS, ERROR_ACCESS_DENIED},        {EISDIR, ERROR_ACCESS_DENIED},
    {EEXIST, ERROR_ALREADY_EXISTS},      {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {ENOSPC, ERROR_DISK_FULL},           {EDQUOT, ERROR_DISK_FULL},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES}, {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EBADF, ERROR_INVALID_HANDLE},       {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {EXDEV, ERROR_NOT_SAME_DEVICE},      {EAGAIN, ERROR_LOCK_VIOLATION},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},   {EINVAL, ERROR_INVALID_PARAMETER},
    {EBUSY, ERROR_SHARING_VIOLATION},
};
constexpr DWORD kGeneralFallback = ERROR_ACCESS_DENIED;

// A name that must exist and does not: a missing directory on the way is a
// missing path, anything else a missing file.
constexpr Mapping kLookup[] = {{ENOTDIR, ERROR_PATH_NOT_FOUND}};
// An exclusive create found the file; a new file's directory is missing.
constexpr Mapping kOpen[] = {{EEXIST, ERROR_FILE_EXISTS}};
constexpr Mapping kCreate[] = {{EEXIST, ERROR_FILE_EXISTS}, {ENOENT, ERROR_PATH_NOT_FOUND}};
constexpr Mapping kMakeDirectory[] = {{ENOENT, ERROR_PATH_NOT_FOUND}};
constexpr Mapping kReadAccess[] = {{ENOENT, ERROR_FILE_NOT_FOUND}};
// The process is someone else's, or the handle no longer names a process.
constexpr Mapping kSignal[] = {{EPERM, ERROR_ACCESS_DENIED}};
// A control socket that refuses the caller, or no service listening on it.
constexpr Mapping kConnectService[] = {{EACCES, ERROR_ACCESS_DENIED}, {EPERM, ERROR_ACCESS_DENIED}};

// EINPROGRESS is "would block" to Winsock: a non-blocking connect reports
// WSAEWOULDBLOCK and then FD_CONNECT. EBADF names a descriptor that is not an
// open socket, which Winsock reports as WSAENOTSOCK.
constexpr Mapping kSocket[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAENOTSOCK},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EAGAIN, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEWOULDBLOCK},
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETOOMANYREFS, WSAETOOMANYREFS},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
    {ENOTEMPTY, WSAENOTEMPTY},
    {EUSERS, WSAEUSERS},
    {EDQUOT, WSAEDQUOT},
    {ESTALE, WSAESTALE},
    {EREMOTE, WSAEREMOTE},
    {ENOSPC, WSAENOBUFS},
};

CallMap MapOf(HostCall call) {
  switch (call) {
    case HostCall::Any: return {};
    case HostCall::Lookup: return {kLookup, true, ERROR_FILE_NOT_FOUND};
    case HostCall::Open: return {kOpen};
    case HostCall::Create: return {kCreate};
    case HostCall::MakeDirectory: return {kMakeDirectory};
    case HostCall::ReadAccess: return {kReadAccess, true, ERROR_ACCESS_DENIED};
    case HostCall::Signal: return {kSignal, true, ERROR_INVALID_HANDLE};
    case HostCall::ConnectService: return {kConnectService, true, ERROR_SERVICE_NOT_ACTIVE};
    case HostCall::Socket: return {kSocket, true, WSAEINVAL};
  }
  return {};
}

bool Find(std::span<const Mapping> table, int err, DWORD &error) {
  for (const Mapping &m : table)
    if (m.err == err) {
      error = m.error;
      return true;
    }
  return false;
}

struct ReverseMapping {
  DWORD error;
  int err;
};

constexpr ReverseMapping kGeneralErrno[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_BAD_NETPATH, ENOENT},
    {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_ALREADY_EXISTS, EEXIST},
    {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
    {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
    {ERROR_INVALID_NAME, EINVAL},
    {ERROR_INVALID_PARAMETER, EINVAL},
    {ERROR_DIRECTORY, EINVAL},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
    {ERROR_NOT_SAME_DEVICE, EXDEV},
    {ERROR_DISK_FULL, ENOSPC},
    {ERROR_INVALID_HANDLE, EBADF},
};
constexpr ReverseMapping kRenameErrno[] = {{ERROR_ALREADY_EXISTS, EACCES}};
constexpr ReverseMapping kRemoveDirectoryErrno[] = {
    {ERROR_DIR_NOT_EMPTY, ENOTEMPTY}, {ERROR_ACCESS_DENIED, ENOTEMPTY}, {ERROR_DIRECTORY, ENOTEMPTY}};

bool Find(std::span<const ReverseMapping> table, DWORD error, int &err) {
  for (const ReverseMapping &m : table)
    if (m.error == error) {
      err = m.err;
      return true;
    }
  return false;
}

}  // namespace

DWORD ErrorFromErrno(int err, HostCall call) {
  if (err == 0) return ERROR_SUCCESS;
  const CallMap map = MapOf(call);
  DWORD error;
  if (Find(map.entries, err, error)) return error;
  if (map.has_fallback) return map.fallback;
  return Find(kGeneral, err, error) ? error : kGeneralFallback;
}

int ErrnoFromError(DWORD error, CrtCall call) {
  int err;
  if (call == CrtCall::Rename && Find(kRenameErrno, error, err)) return err;
  if (call == CrtCall::RemoveDirectory && Find(kRemoveDirectoryErrno, error, err)) return err;
  return Find(kGeneralErrno, error, err) ? err : EACCES;  // access denied, sharing violation, read-only
}

}  // namespace qx
