// GetLastError, SetLastError and CloseHandle over the handle table.
#include <windows.h>

#include "qx/handles.h"

namespace {
thread_local DWORD t_last_error = 0;

bool IsPseudoHandle(HANDLE h) {
  const auto v = reinterpret_cast<std::intptr_t>(h);
  return v == -1 || v == -2;  // GetCurrentProcess(), GetCurrentThread()
}
}  // namespace

extern "C" {

DWORD WINAPI GetLastError(void) { return t_last_error; }
void WINAPI SetLastError(DWORD code) { t_last_error = code; }

BOOL WINAPI CloseHandle(HANDLE handle) {
  if (IsPseudoHandle(handle)) return TRUE;
  if (!qx::RemoveHandle(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
