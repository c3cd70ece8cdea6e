// FormatMessageA for the texts of error codes (FORMAT_MESSAGE_FROM_SYSTEM),
// so a tool can print what failed in words beside the number. The table holds
// the codes the layer sets; any other code has no text
// (ERROR_MR_MID_NOT_FOUND), and the caller prints the number alone.
#include <windows.h>
#include <winsock.h>

#include <cstring>
#include <string>

namespace {

struct ErrorText {
  DWORD code;
  const char *text;
};

const ErrorText kTexts[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough storage is available to process this command."},
    {ERROR_INVALID_DATA, "The data is invalid."},
    {ERROR_OUTOFMEMORY, "Not enough storage is available to complete this operation."},
    {ERROR_INVALID_DRIVE, "The system cannot find the drive specified."},
    {ERROR_NO_MORE_FILES, "There are no more files."},
    {ERROR_WRITE_PROTECT, "The media is write protected."},
    {ERROR_NOT_READY, "The device is not ready."},
    {ERROR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process."},
    {ERROR_LOCK_VIOLATION,
     "The process cannot access the file because another process has locked a portion of the file."},
    {ERROR_HANDLE_EOF, "Reached the end of the file."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_BROKEN_PIPE, "The pipe has been ended."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found."},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_BAD_PATHNAME, "The specified path is invalid."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_ENVVAR_NOT_FOUND, "The system could not find the environment option that was entered."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    {ERROR_FILE_TOO_LARGE, "The file size exceeds the limit allowed and cannot be saved."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_DIRECTORY, "The directory name is invalid."},
    {ERROR_OPERATION_ABORTED,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request."},
    {ERROR_REGISTRY_CORRUPT, "The registry is corrupted."},
    {ERROR_KEY_DELETED, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {ERROR_INVALID_SERVICE_CONTROL, "The requested control is not valid for this service."},
    {ERROR_SERVICE_REQUEST_TIMEOUT,
     "The service did not respond to the start or control request in a timely "
     "fashion."},
    {ERROR_SERVICE_NO_THREAD, "A thread could not be created for the service."},
    {ERROR_SERVICE_DATABASE_LOCKED, "The service database is locked."},
    {ERROR_SERVICE_ALREADY_RUNNING, "An instance of the service is already running."},
    {ERROR_SERVICE_DISABLED,
     "The service cannot be started, either because it is disabled or because it has no "
     "enabled devices associated with it."},
    {ERROR_SERVICE_DOES_NOT_EXIST, "The specified service does not exist as an installed service."},
    {ERROR_SERVICE_CANNOT_ACCEPT_CTRL, "The service cannot accept control messages at this time."},
    {ERROR_SERVICE_NOT_ACTIVE, "The service has not been started."},
    {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, "The service process could not connect to the service controller."},
    {ERROR_SERVICE_SPECIFIC_ERROR, "The service has returned a service-specific error code."},
    {ERROR_PROCESS_ABORTED, "The process terminated unexpectedly."},
    {ERROR_SERVICE_START_HANG, "After starting, the service hung in a start-pending state."},
    {ERROR_SERVICE_MARKED_FOR_DELETE, "The specified service has been marked for deletion."},
    {ERROR_SERVICE_EXISTS, "The specified service already exists."},
    {ERROR_INVALID_SERVICE_NAME, "The name is not valid for a service."},
    {ERROR_NOT_FOUND, "Element not found."},
    {ERROR_PRIVILEGE_NOT_HELD, "A required privilege is not held by the client."},
    {ERROR_NO_SUCH_USER, "The specified account does not exist."},
    {ERROR_LOGON_FAILURE, "The user name or password is incorrect."},
    {ERROR_NONE_MAPPED, "No mapping between account names and security IDs was done."},
    {ERROR_INVALID_WINDOW_HANDLE, "Invalid window handle."},
    {ERROR_CLASS_ALREADY_EXISTS, "Class already exists."},
    {ERROR_CLASS_DOES_NOT_EXIST, "Class does not exist."},
    {ERROR_NO_SYSTEM_RESOURCES, "Insufficient system resources exist to complete the requested service."},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired."},
    {ERROR_NOT_ENOUGH_QUOTA, "Not enough quota is available to process this command."},
    {ERROR_PRINTER_NOT_FOUND, "The specified printer driver was not found."},
    {WSAEACCES, "An attempt was made to access a socket in a way forbidden by its access permissions."},
    {WSAEINVAL, "An invalid argument was supplied."},
    {WSAEMFILE, "Too many open sockets."},
    {WSAEWOULDBLOCK, "A non-blocking socket operation could not be completed immediately."},
    {WSAENOTSOCK, "An operation was attempted on something that is not a socket."},
    {WSAEADDRINUSE, "Only one usage of each socket address (protocol/network address/port) is normally permitted."},
    {WSAEADDRNOTAVAIL, "The requested address is not valid in its context."},
    {WSAENETUNREACH, "A socket operation was attempted to an unreachable network."},
    {WSAECONNRESET, "An existing connection was forcibly closed by the remote host."},
    {WSAETIMEDOUT,
     "A connection attempt failed because the connected party did not properly respond after a period "
     "of time."},
    {WSAECONNREFUSED, "No connection could be made because the target machine actively refused it."},
    {WSANOTINITIALISED, "Either the application has not called WSAStartup, or WSAStartup failed."},
    {WSAHOST_NOT_FOUND, "No such host is known."},
};

const char *TextOf(DWORD code) {
  for (const ErrorText &t : kTexts)
    if (t.code == code) return t.text;
  return nullptr;
}

}  // namespace

extern "C" {

WINBASEAPI DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID, DWORD id, DWORD, LPSTR buffer, DWORD size, va_list *) {
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE))) {
    SetLastError(ERROR_NOT_SUPPORTED);  // only the system's error texts are kept
    return 0;
  }
  if (!buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char *text = TextOf(id);
  if (!text) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  // MAX_WIDTH_MASK set: no line break at the end, as the system gives it then.
  const std::string message = std::string(text) + ((flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) ? "" : "\r\n");
  const DWORD length = static_cast<DWORD>(message.size());
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    DWORD bytes = length + 1 > size ? length + 1 : size;
    // The caller gets the block's address and gives it back to LocalFree,
    // which takes an address the layer handed out as well as a handle.
    HLOCAL handle = LocalAlloc(LMEM_FIXED, bytes);
    auto block = handle ? static_cast<LPSTR>(LocalLock(handle)) : nullptr;
    if (!block) {
      if (handle) LocalFree(handle);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::memcpy(block, message.c_str(), length + 1);
    *reinterpret_cast<LPSTR *>(buffer) = block;
    return length;
  }
  if (length + 1 > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, message.c_str(), length + 1);
  return length;
}

}  // extern "C"
