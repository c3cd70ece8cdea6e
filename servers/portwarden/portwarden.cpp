/* portwarden: the service frame of the internet super-server. The service
 * thread owns a hidden info window that does all socket work; the dispatcher
 * thread only forwards controls. Events go to the log "QXportwarden32". */
#include "portwarden.h"

#include <qxcommon.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <ctime>

HWND g_InfoWindow = nullptr;

namespace {

SERVICE_STATUS_HANDLE g_StatusHandle = nullptr;
SERVICE_STATUS g_Status{};
HANDLE g_EventSource = nullptr;
HINSTANCE g_Instance = nullptr;
HWND g_ControlDialog = nullptr;     /* the Control dialog while it is open */
volatile LONG g_ControlRunning = 0; /* one Control thread at a time */
bool g_Started = false;             /* WM_PORTWARDEN_START is served once per process */

const char kInfoClass[] = "PortwardenInfoWindow";

void OpenEventSource(void) {
  g_EventSource = RegisterEventSourceA(nullptr, PORTWARDEN_EVENT_SOURCE);
  if (!g_EventSource) {
    MessageBoxA(g_InfoWindow, "Error Opening Event Logger", "", MB_ICONERROR);
    g_Logging = 0;
  }
}

void CloseEventSource(void) {
  if (g_EventSource) DeregisterEventSource(g_EventSource);
  g_EventSource = nullptr;
}

/* Loads the table file (or the default rows) and opens the event source once
 * when logging is on. */
void LoadTable(void) {
  ClearTable();
  char path[MAX_PATH] = "";
  std::string problem;
  bool read = ReadTableFile(PORTWARDEN_CFG, g_Slots, &g_Logging, path, sizeof path, &problem);
  if (!problem.empty())
    fprintf(stderr, "portwarden: %s %s: %s; %s\n",
            read ? "the table file" : "no table file:", read ? path : PORTWARDEN_CFG, problem.c_str(),
            read ? "the rows before the fault are used" : "the default rows are used");
  if (!read) {
    FillDefaults(g_Slots);
    g_Logging = 0;
    return;
  }
  CloseEventSource();
  if (g_Logging) OpenEventSource();
}

/* Logging ends first, so a stop writes no event per listener. */
void ShutdownServer(void) {
  if (g_Logging) {
    CloseEventSource();
    g_Logging = 0;
  }
  CloseAllListeners();
}

/* The Control dialog's thread. The dialog itself comes with the Configure
 * tools; until then the thread reopens the listeners through the info window
 * (so the table is only ever touched on that thread) and signals the event. */
DWORD WINAPI ControlDialogThread(LPVOID parameter) {
  HANDLE done = (HANDLE)parameter;
  HWND foreground = GetForegroundWindow();
  SendMessageA(g_InfoWindow, WM_PORTWARDEN_OPEN, 0, 0);
  g_ControlDialog = nullptr;
  if (foreground) SetForegroundWindow(foreground);
  if (done) {
    SetEvent(done);
    CloseHandle(done);
  }
  InterlockedExchange(&g_ControlRunning, 0);
  return 0;
}

void WINAPI ServiceControlHandler(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      if (g_InfoWindow) SendMessageA(g_InfoWindow, WM_CLOSE, 0, 0);
      g_Status.dwCurrentState = SERVICE_STOPPED;
      g_Status.dwWin32ExitCode = 0;
      g_Status.dwServiceSpecificExitCode = 0;
      break;
    case SERVICE_CONTROL_CONFIGURE:
      if (g_ControlDialog) {
        SetForegroundWindow(g_ControlDialog);
      } else if (InterlockedExchange(&g_ControlRunning, 1) == 0) {
        HANDLE event = CreateEventA(nullptr, FALSE, FALSE, PORTWARDEN_CONTROL_EVENT);
        HANDLE thread = CreateThread(nullptr, 0, ControlDialogThread, event, 0, nullptr);
        if (thread) {
          CloseHandle(thread); /* the thread sets and closes the event */
        } else {
          InterlockedExchange(&g_ControlRunning, 0);
          if (event) CloseHandle(event);
        }
      }
      break;
    default: break;
  }
  SetServiceStatus(g_StatusHandle, &g_Status);
}

LRESULT OnStart(HWND window) {
  if (g_Started) return 0;
  g_Started = true;
  WSADATA data;
  WSAStartup(MAKEWORD(1, 1), &data);
  LoadTable();
  OpenListeners(window, FALSE);
  return 0;
}

LRESULT OnTimer(HWND window, WPARAM id) {
  if (id == BIND_RETRY_TIMER)
    BindRetryTimer(window);
  else if (id == DAEMON_END_TIMER)
    DaemonEndTimer(window);
  else
    HandoverTaken(window, (SOCKET)id, TRUE);
  return 0;
}

LRESULT CALLBACK InfoWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PORTWARDEN_START: return OnStart(window);
    case WM_PORTWARDEN_OPEN: OpenListeners(window, FALSE); return 0;
    case WM_LISTEN_EVENT: LaunchDaemon(window, FALSE); return 0;
    case WM_DAEMON_SOCKET_TAKEN: HandoverTaken(window, (SOCKET)wParam, FALSE); return 0;
    case WM_TIMER: return OnTimer(window, wParam);
    case WM_DAEMON_EXITED: DaemonReported((int)wParam, window); return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_DESTROY:
      WSACancelBlockingCall();
      PostQuitMessage(0);
      return 0;
    case WM_CREATE:
    case WM_ENDSESSION: return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

bool CreateInfoWindow(HINSTANCE instance) {
  WNDCLASSA wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = InfoWindowProc;
  wc.hInstance = instance;
  // The window is never shown: no cursor, and the window colour for a
  // background, so the service never loads the drawing half of the layer.
  wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  wc.lpszClassName = kInfoClass;
  RegisterClassA(&wc);
  g_InfoWindow = CreateWindowA(kInfoClass, "", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  if (!g_InfoWindow) return false;
  PostMessageA(g_InfoWindow, WM_PORTWARDEN_START, 0, 0);
  return true;
}

/* Runs the messages of this thread until WM_QUIT; false at WM_QUIT. */
bool PumpMessages(void) {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) return false;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return true;
}

/* The message loop, which also waits on the daemons' process handles: a
 * daemon that ends without reporting still ends its session. Past the most
 * handles one wait takes, the rest are looked at every quarter second. */
void MessageLoop(void) {
  HANDLE handles[MAXIMUM_WAIT_OBJECTS - 1];
  for (;;) {
    DWORD count = (DWORD)DaemonWaitHandles(handles, MAXIMUM_WAIT_OBJECTS - 1);
    DWORD timeout = DaemonsWatched() > count ? 250 : INFINITE;
    DWORD woke = MsgWaitForMultipleObjects(count, handles, FALSE, timeout, QS_ALLINPUT);
    if (woke < WAIT_OBJECT_0 + count || woke == WAIT_TIMEOUT || woke == WAIT_FAILED) CheckDaemonEnds(g_InfoWindow);
    if (woke == WAIT_FAILED) { /* never spin: block on the queue once */
      MSG msg;
      if (GetMessageA(&msg, nullptr, 0, 0) <= 0) return;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (!PumpMessages()) return;
  }
}

void ServiceRun(HINSTANCE instance) {
  if (CreateInfoWindow(instance)) MessageLoop();
  ShutdownServer();
  WSACleanup();
}

void WINAPI PortwardenServiceMain(DWORD, LPSTR *) {
  g_StatusHandle = RegisterServiceCtrlHandlerA(PORTWARDEN_SERVICE, ServiceControlHandler);
  g_Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_Status.dwCurrentState = SERVICE_RUNNING;
  g_Status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
  SetServiceStatus(g_StatusHandle, &g_Status);
  ServiceRun(g_Instance);
}

}  // namespace

const char *TimeStamp(void) {
  time_t now = time(nullptr);
  return ctime(&now);
}

void ReportPortwardenEvent(WORD id, const char *format, ...) {
  if (!g_Logging || !g_EventSource) return;
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  LPCSTR strings[1] = {text};
  ReportEventA(g_EventSource, EVENTLOG_INFORMATION_TYPE, 0, id, nullptr, 1, 0, strings, nullptr);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  g_Instance = instance;
  static char serviceName[] = PORTWARDEN_SERVICE;
  SERVICE_TABLE_ENTRYA table[] = {{serviceName, PortwardenServiceMain}, {nullptr, nullptr}};
  if (StartServiceCtrlDispatcherA(table)) return 0;
  DWORD error = GetLastError();
  if (error == ERROR_SERVICE_ALREADY_RUNNING)
    fprintf(stderr, "portwarden: the service \"%s\" is already running (%s); stop it first with: qxsc stop \"%s\"\n",
            PORTWARDEN_SERVICE, ErrorWords(error).c_str(), PORTWARDEN_SERVICE);
  else
    fprintf(stderr,
            "portwarden: cannot run as the service \"%s\": its control endpoint could not be made in the "
            "runtime directory (%s); check QX_RUNTIME_DIR and its permissions\n",
            PORTWARDEN_SERVICE, ErrorWords(error).c_str());
  return 1;
}
