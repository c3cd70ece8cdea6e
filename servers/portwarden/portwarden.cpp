/* portwarden: the service frame of the internet super-server. The service
 * thread owns a hidden info window that does all socket work; the dispatcher
 * thread only forwards controls. Events go to the log "QXportwarden32". */
#include "portwarden.h"

#include <qxcommon.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <ctime>

HWND g_InfoWindow = nullptr;
std::string g_TablePath;

namespace {

SERVICE_STATUS_HANDLE g_StatusHandle = nullptr;
SERVICE_STATUS g_Status{};
HANDLE g_EventSource = nullptr;
HINSTANCE g_Instance = nullptr;
std::atomic<HWND> g_ControlDialog{nullptr}; /* the Control dialog while it is open */
std::atomic<bool> g_ControlRunning{false};  /* one Control dialog at a time */
HANDLE g_ControlThread = nullptr;           /* the Control dialog's thread, started at the first control 128 */
std::atomic<DWORD> g_ControlThreadId{0};
bool g_Started = false; /* WM_PORTWARDEN_START is served once per process */

const char kInfoClass[] = "PortwardenInfoWindow";
const UINT WM_SHOW_CONTROL = WM_USER + 3; /* to the Control thread: wParam the event to signal */
const DWORD kControlEndWaitMs = 3000;     /* a stop waits this long for the Control thread */

}  // namespace

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

void SetControlDialog(HWND dialog) { g_ControlDialog = dialog; }

namespace {

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
    g_TablePath.clear();
    return;
  }
  g_TablePath = path;
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

/* One showing of the Control dialog: from the module that holds it, loaded
 * the first time (and kept), so the service loads the drawing half of the
 * layer only when someone asks for the dialog. When the dialog closes, the
 * info window opens what is enabled, the foreground goes back and the event
 * is signalled. */
void ShowControlDialog(HANDLE done) {
  HWND foreground = GetForegroundWindow();
  static HMODULE module = LoadLibraryA(PORTWARDEN_CONTROL_MODULE);
  PORTWARDEN_CONTROL_PROC dialog =
      module ? (PORTWARDEN_CONTROL_PROC)(void *)GetProcAddress(module, PORTWARDEN_CONTROL_ENTRY) : nullptr;
  if (dialog)
    dialog(g_InfoWindow);
  else
    fprintf(stderr,
            "portwarden: the Control dialog cannot be shown: %s could not be loaded (%s); it belongs beside "
            "portwarden. pwtable edits the table file meanwhile.\n",
            PORTWARDEN_CONTROL_MODULE, ErrorWords(GetLastError()).c_str());
  SendMessageA(g_InfoWindow, WM_PORTWARDEN_OPEN, 0, 0);
  g_ControlDialog = nullptr;
  if (foreground) SetForegroundWindow(foreground);
  if (done) {
    SetEvent(done);
    CloseHandle(done);
  }
  g_ControlRunning = false;
}

/* The Control dialog's thread: it stays for the life of the service and shows
 * the dialog once per control 128 (the display's input belongs to the thread
 * that first showed a window). A WM_QUIT, posted at stop, ends it and any
 * dialog it shows. */
DWORD WINAPI ControlDialogThread(LPVOID parameter) {
  ShowControlDialog((HANDLE)parameter);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (msg.hwnd == nullptr && msg.message == WM_SHOW_CONTROL)
      ShowControlDialog((HANDLE)msg.wParam);
    else
      DispatchMessageA(&msg);
  }
  return 0;
}

/* Control 128: the dialog comes to the front when it is open; otherwise it is
 * shown on the Control thread, which is started the first time. */
void RequestControlDialog(void) {
  if (HWND open = g_ControlDialog.load()) {
    SetForegroundWindow(open);
    return;
  }
  if (g_ControlRunning.exchange(true)) return;
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, PORTWARDEN_CONTROL_EVENT);
  if (DWORD id = g_ControlThreadId.load()) {
    if (PostThreadMessageA(id, WM_SHOW_CONTROL, (WPARAM)event, 0)) return;
  } else {
    DWORD newId = 0;
    g_ControlThread = CreateThread(nullptr, 0, ControlDialogThread, event, 0, &newId);
    if (g_ControlThread) {
      g_ControlThreadId = newId;
      return;
    }
  }
  fprintf(stderr, "portwarden: the Control dialog cannot be shown: its thread could not be started (%s)\n",
          ErrorWords(GetLastError()).c_str());
  g_ControlRunning = false;
  if (event) CloseHandle(event);
}

/* At stop: the Control thread (and any dialog it shows) ends before the table goes. */
void EndControlThread(void) {
  if (!g_ControlThread) return;
  PostThreadMessageA(g_ControlThreadId.load(), WM_QUIT, 0, 0);
  WaitForSingleObject(g_ControlThread, kControlEndWaitMs);
  CloseHandle(g_ControlThread);
  g_ControlThread = nullptr;
}

void WINAPI ServiceControlHandler(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      if (g_InfoWindow) SendMessageA(g_InfoWindow, WM_CLOSE, 0, 0);
      g_Status.dwCurrentState = SERVICE_STOPPED;
      g_Status.dwWin32ExitCode = 0;
      g_Status.dwServiceSpecificExitCode = 0;
      break;
    case SERVICE_CONTROL_CONFIGURE: RequestControlDialog(); break;
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
    case WM_PORTWARDEN_CONTROL: return AnswerControlRequest(window, (CONTROL_REQUEST *)lParam);
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
  EndControlThread();
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
