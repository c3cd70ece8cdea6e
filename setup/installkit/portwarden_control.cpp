// ConfigurePortwarden: asks the running super-server to show its
// configuration dialog (user control 128) and waits until the dialog closes.
#include "installkit.h"
#include "regvalues.h"

using installkit::ScHandle;

namespace {

const char kSuperServer[] = "Q&Xportwarden";
const char kControlEvent[] = "PortwardenControl";  // signalled when the dialog closes
constexpr DWORD kShowConfiguration = 128;
constexpr DWORD kServiceCheckMs = 1000;

bool ServiceRuns(SC_HANDLE service) {
  SERVICE_STATUS status{};
  return QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED &&
         status.dwCurrentState != SERVICE_STOP_PENDING;
}

}  // namespace

extern "C" QX_DLLEXPORT BOOL WINAPI ConfigurePortwarden(DWORD count, LPSTR *arguments, LPCSTR *outText) {
  if (outText) *outText = kOutOk;
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    if (outText) *outText = kOutBad;
    return TRUE;
  }
  ScHandle service(OpenServiceA(manager.get(), kSuperServer, SERVICE_ALL_ACCESS));
  if (!service) {
    if (outText) *outText = kOutBad;
    return TRUE;
  }
  SERVICE_STATUS status{};
  if (!ControlService(service.get(), kShowConfiguration, &status)) {
    // A refused control shows no dialog, so there is nothing to wait for.
    if (outText) *outText = kOutBad;
    return TRUE;
  }
  HANDLE closed = OpenEventA(SYNCHRONIZE, FALSE, kControlEvent);
  if (!closed) return TRUE;
  // The super-server signals the event when its dialog closes; a service that
  // stops first never will, so the wait ends with it too.
  while (WaitForSingleObject(closed, kServiceCheckMs) == WAIT_TIMEOUT && ServiceRuns(service.get())) {
  }
  CloseHandle(closed);
  return TRUE;
}
