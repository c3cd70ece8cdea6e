// The layer's one error boundary: how a failing call sets the thread's last
// error and returns its failure value, and how the host's errno values become
// Win32 (and Winsock) error codes for each kind of host call.
//
// The same errno means different things to different calls: ENOENT from
// open(O_CREAT) is a missing directory (ERROR_PATH_NOT_FOUND), from stat() a
// missing file; EEXIST from an exclusive create is ERROR_FILE_EXISTS, from
// rename() ERROR_ALREADY_EXISTS. Each kind of call names its map here instead
// of overriding the general one where it fails; errors_test.cpp holds every
// map as a table.
#pragma once

#include <windows.h>

namespace qx {

// Sets the thread's last error and returns the call's failure value:
//   return Fail(ERROR_INVALID_HANDLE, INVALID_HANDLE_VALUE);
//   return Fail(ERROR_ACCESS_DENIED);  // FALSE, for the BOOL calls
template <class T = BOOL>
T Fail(DWORD error, T failure = T{}) {
  SetLastError(error);
  return failure;
}

// The kind of host call whose errno is being mapped.
enum class HostCall {
  Any,             // the general map for file and memory calls
  Lookup,          // stat/lstat of a name that must exist: every failure is "not found"
  Open,            // open() of a file, perhaps creating it: EEXIST is an exclusive create
  Create,          // open(O_CREAT) of a name that did not exist: ENOENT is its directory
  MakeDirectory,   // mkdir(): a missing parent is a missing path
  ReadAccess,      // access(R_OK) of a file the layer needs: missing or denied
  Signal,          // signalling a process the caller holds a handle to
  ConnectService,  // connecting to a service's control socket
  Socket,          // Winsock calls: WSAE codes
};

// The Win32 error for errno err after a host call of the given kind (for
// HostCall::Socket, the WSAE code). 0 maps to ERROR_SUCCESS.
DWORD ErrorFromErrno(int err, HostCall call = HostCall::Any);

// The C runtime call whose Win32 error is being turned back into errno.
enum class CrtCall {
  Any,
  Rename,           // _rename: an existing target is EACCES
  RemoveDirectory,  // _rmdir: a directory that cannot go is ENOTEMPTY
};

// The errno a C runtime call reports for the Win32 error of the call below it.
int ErrnoFromError(DWORD error, CrtCall call = CrtCall::Any);

}  // namespace qx
