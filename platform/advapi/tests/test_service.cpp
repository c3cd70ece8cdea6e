// Test service "Q&XTestService": reports its start, each control it receives
// and its stop to the event log under the source "QXTestService32".
//   event 1    "started pid=<pid> args=<arguments>"
//   event 128+ "control <n> received" for a user control
//   event 2    "stopping"
#include <windows.h>

#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <string>

namespace {

const char kName[] = "Q&XTestService";
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
SERVICE_STATUS g_status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};
HANDLE g_log = nullptr;
std::mutex g_lock;
std::condition_variable g_stop_cv;
bool g_stop = false;

void Log(DWORD id, const std::string &text) {
  const char *strings[] = {text.c_str()};
  ReportEventA(g_log, EVENTLOG_INFORMATION_TYPE, 0, id, nullptr, 1, 0, strings, nullptr);
}

void WINAPI Handler(DWORD control) {
  if (control == SERVICE_CONTROL_STOP) {
    g_status.dwCurrentState = SERVICE_STOP_PENDING;
    std::lock_guard guard(g_lock);
    g_stop = true;
    g_stop_cv.notify_all();
  } else if (control >= 128) {
    Log(control, "control " + std::to_string(control) + " received");
  }
  SetServiceStatus(g_status_handle, &g_status);
}

void WINAPI ServiceMain(DWORD argc, LPSTR *argv) {
  g_status_handle = RegisterServiceCtrlHandlerA(kName, Handler);
  if (!g_status_handle) return;
  g_log = RegisterEventSourceA(nullptr, "QXTestService32");
  std::string args;
  for (DWORD i = 0; i < argc; ++i) args += (i ? " " : "") + std::string(argv[i]);
  Log(1, "started pid=" + std::to_string(getpid()) + " args=" + args);
  g_status.dwCurrentState = SERVICE_RUNNING;
  g_status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
  SetServiceStatus(g_status_handle, &g_status);
  {
    std::unique_lock lock(g_lock);
    g_stop_cv.wait(lock, [] { return g_stop; });
  }
  Log(2, "stopping");
  DeregisterEventSource(g_log);
  g_status.dwCurrentState = SERVICE_STOPPED;
  g_status.dwControlsAccepted = 0;
  SetServiceStatus(g_status_handle, &g_status);
}

}  // namespace

int main() {
  SERVICE_TABLE_ENTRYA table[] = {{const_cast<LPSTR>(kName), ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
