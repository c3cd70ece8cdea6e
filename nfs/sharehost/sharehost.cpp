/* sharehost: the NFS server, run as the service "QXNFSServer". One thread owns
 * everything: a hidden main window receives the socket notifications of the
 * two UDP sockets (NFS, MOUNT and friends on 2049, the portmapper on 111) and
 * runs every request to completion. The control dispatcher's thread only
 * posts controls to that window, so a stop or a map reload never races a
 * request, and the state file is written on the window's thread at stop. */
#include <windows.h>

#include <qxcommon.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "exports.h"
#include "filecache.h"
#include "handles.h"
#include "idmaps.h"
#include "logon.h"
#include "longnames.h"
#include "mount.h"
#include "nfsprocs.h"
#include "nlm.h"
#include "pcnfsd.h"
#include "registry_keys.h"
#include "rpc.h"
#include "serverwindow.h"
#include "settings.h"

namespace {

const char kServiceName[] = "QXNFSServer";
const char kEventSource[] = "QXNFSServer";
const char kWindowClass[] = "QXNFS-Server";
const char kBoxCaption[] = "QXServer for Windows";
const char kIniSection[] = "QXServer";

constexpr UINT WM_SOCKET_NOTIFY = 0x7FFF;
constexpr UINT WM_RELOAD_MAPS = WM_USER + 129;
constexpr UINT WM_SHOW_INFO = WM_USER + 128;
constexpr WPARAM kRefreshCommand = WM_SERVER_REFRESH;
constexpr UINT_PTR kCloseFilesTimer = 1;
constexpr UINT_PTR kRefreshTimer = 2;
constexpr DWORD SERVICE_CONTROL_SHOWWINDOW = 128;
constexpr DWORD SERVICE_CONTROL_RELOADMAPS = 129;

// Event ids of the log "QXNFSServer".
constexpr WORD kEventNotLoaded = 1;  // start-up stopped: nothing is served
constexpr WORD kEventSocket = 2;     // a port could not be opened
constexpr WORD kEventStateFile = 3;  // the state file could not be written at stop
constexpr WORD kEventServing = 4;    // the sockets are open
constexpr WORD kEventStopped = 5;    // the service stopped
constexpr WORD kEventNoWindow = 6;   // the information window could not be shown
constexpr WORD kEventPrint = 7;      // a PCNFSD print job could not be handed to its printer

HINSTANCE g_Instance = nullptr;
HWND g_MainWindow = nullptr;
SERVICE_STATUS_HANDLE g_StatusHandle = nullptr;
SERVICE_STATUS g_Status{};
SOCKET g_NfsSocket = INVALID_SOCKET;
SOCKET g_PortmapSocket = INVALID_SOCKET;
// A notification named the portmapper's socket since the receive loop last
// found it empty: only then is it read (a datagram always brings one).
bool g_PortmapNotified = false;
uint8_t g_Receive[kReceiveBufferSize];
bool g_StateLoaded = false;  // only a state file that was read is written back

// The information window and its dialogs live in a module loaded when first
// asked for, so the service starts without the drawing half of the layer.
struct ServerWindowModule {
  HMODULE module = nullptr;
  SHOW_SERVER_WINDOW show = nullptr;
  SERVER_WINDOW_MESSAGE message = nullptr;
  CLOSE_SERVER_WINDOWS close = nullptr;
};
ServerWindowModule g_Window;
HWND g_InfoWindow = nullptr;          // the information window, once made
HWND g_BroughtUp = nullptr;           // the information window while control 128 keeps it up
HWND g_PreviousForeground = nullptr;  // given the foreground back when it closes

void ServerEvent(WORD type, WORD id, const std::string &text) {
  HANDLE source = RegisterEventSourceA(nullptr, kEventSource);
  if (!source) {
    fprintf(stderr, "sharehost: %s (the event log could not be opened)\n", text.c_str());
    return;
  }
  LPCSTR strings[1] = {text.c_str()};
  ReportEventA(source, type, 0, id, nullptr, 1, 0, strings, nullptr);
  DeregisterEventSource(source);
}

// A start-up failure: the message box of the window, and the same text in the
// event log, where the administrator of a service looks.
void NotLoaded(const std::string &text) {
  ServerEvent(EVENTLOG_ERROR_TYPE, kEventNotLoaded, text);
  MessageBoxA(nullptr, text.c_str(), kBoxCaption, MB_OK | MB_ICONSTOP);
}

void SendDatagram(RpcSocket which, const RpcPeer &to, const uint8_t *bytes, size_t length) {
  SOCKET s = which == kNfsSocket ? g_NfsSocket : g_PortmapSocket;
  if (s == INVALID_SOCKET) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = to.address;
  address.sin_port = to.port;
  WsSendTo(s, reinterpret_cast<const char *>(bytes), int(length), 0, reinterpret_cast<sockaddr *>(&address),
           sizeof address);
}

SOCKET OpenUdpSocket(HWND window, uint16_t port, const char *what) {
  SOCKET s = WsSocket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  u_long on = 1;
  if (s != INVALID_SOCKET && WsBind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
      WsIoctlSocket(s, FIONBIO, &on) == 0 && WSAAsyncSelect(s, window, WM_SOCKET_NOTIFY, FD_READ) == 0)
    return s;
  int error = WSAGetLastError();
  if (s != INVALID_SOCKET) WsCloseSocket(s);
  char text[256];
  snprintf(text, sizeof text,
           "Cannot open UDP port %u for %s (Winsock error %d); %s is not served. Stop the program that holds "
           "the port (for example rpcbind or the kernel's NFS server) and restart the service.",
           port, what, error, what);
  ServerEvent(EVENTLOG_ERROR_TYPE, kEventSocket, text);
  fprintf(stderr, "sharehost: %s\n", text);
  return INVALID_SOCKET;
}

void OpenRpcSockets(HWND window) {
  SetRpcSender(SendDatagram);
  SetProgramHandler(kMountProgram, MountHandler);
  SetProgramHandler(kNfsProgram, NfsHandler);
  SetProgramHandler(kNlmProgram, NlmHandler);
  SetProgramHandler(kPcnfsdProgram, PcnfsdHandler);
  SetPcnfsdReporter([](const std::string &text) { ServerEvent(EVENTLOG_ERROR_TYPE, kEventPrint, text); });
  g_NfsSocket = OpenUdpSocket(window, kNfsPort, "NFS and MOUNT");
  g_PortmapSocket = OpenUdpSocket(window, kPortmapPort, "the portmapper");
  if (g_NfsSocket != INVALID_SOCKET || g_PortmapSocket != INVALID_SOCKET)
    ServerEvent(EVENTLOG_INFORMATION_TYPE, kEventServing,
                std::string("QXServer serving on UDP") + (g_NfsSocket != INVALID_SOCKET ? " 2049" : "") +
                    (g_PortmapSocket != INVALID_SOCKET ? " 111" : "") + ".");
}

void CloseRpcSockets() {
  if (g_StateLoaded && !SaveStateFile()) {
    std::string text = "The state file " + StateFilePath() +
                       " could not be written; handles given out may not survive a restart. Check the disk "
                       "and the installation directory's permissions.";
    ServerEvent(EVENTLOG_ERROR_TYPE, kEventStateFile, text);
    fprintf(stderr, "sharehost: %s\n", text.c_str());
  }
  CloseAllCachedFiles();
  for (SOCKET *s : {&g_NfsSocket, &g_PortmapSocket}) {
    if (*s != INVALID_SOCKET) WsCloseSocket(*s);
    *s = INVALID_SOCKET;
  }
}

// One datagram of a socket into the receive buffer: its length, 0 when the
// socket has nothing more. A datagram longer than the buffer is dropped
// (a cut call cannot be answered) and the next one read.
int RecvDatagram(SOCKET s, RpcPeer &from) {
  if (s == INVALID_SOCKET) return 0;
  for (;;) {
    sockaddr_in address{};
    int size = sizeof address;
    int n = WsRecvFrom(s, reinterpret_cast<char *>(g_Receive), sizeof g_Receive, 0,
                       reinterpret_cast<sockaddr *>(&address), &size);
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) continue;
    if (n <= 0) return 0;
    from.address = address.sin_addr.s_addr;
    from.port = address.sin_port;
    return n;
  }
}

// A socket notification: remembers one for the portmapper's socket.
void NoteSocketNotify(WPARAM socket) {
  if (g_PortmapSocket != INVALID_SOCKET && socket == WPARAM(g_PortmapSocket)) g_PortmapNotified = true;
}

// Drains both sockets, the NFS socket first. Nothing is looked up in the
// message queue between datagrams: a notification that arrives for a
// datagram this loop has already taken finds the sockets empty, and looking
// for one after every datagram cost more than that. The portmapper's socket
// is read only after a notification named it, so a run of NFS calls costs no
// empty receive on it.
void RecvLoop() {
  for (;;) {
    RpcPeer from;
    if (int n = RecvDatagram(g_NfsSocket, from); n > 0) {
      RpcDispatch(g_Receive, size_t(n), from);
    } else if (int m = g_PortmapNotified ? RecvDatagram(g_PortmapSocket, from) : 0; m > 0) {
      PortmapHandler(g_Receive, size_t(m), from);
    } else {
      g_PortmapNotified = false;
      return;
    }
  }
}

// Runs what is queued before the sockets are read; 1 when WM_QUIT came.
int PumpPendingMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_SOCKET_NOTIFY) {  // the receive loop drains the sockets anyway
      NoteSocketNotify(msg.wParam);
      continue;
    }
    if (msg.message == WM_QUIT) {
      PostQuitMessage(int(msg.wParam));
      return 1;
    }
    if (g_Window.message && g_Window.message(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}

std::string SpoolDirectory() {
  char value[255] = "";
  DWORD size = sizeof value - 1, type = 0;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNfsClientKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    if (RegQueryValueExA(key, "QXNFSServerSpoolDir", nullptr, &type, reinterpret_cast<BYTE *>(value), &size) !=
        ERROR_SUCCESS)
      value[0] = '\0';
    RegCloseKey(key);
  }
  return value[0] ? value : "c:\\spool";
}

void ServerStartup(HWND window) {
  std::string spool = SpoolDirectory();
  CreateDirectoryA(spool.c_str(), nullptr);  // an existing one is no error
  SetPcnfsdSpoolDirectory(spool);
  InitDirNameTable();
  switch (LoadStateFile()) {
    case 1: g_StateLoaded = true; break;
    case -1: NotLoaded("No QXSTATE environment variable found; server not loaded."); return;
    case -2: NotLoaded("Unable to create " + StateFilePath() + "; server not loaded."); return;
    default:
      NotLoaded("The state file " + StateFilePath() +
                " is damaged; server not loaded. Restore it from a backup, or remove it (handles clients hold "
                "then go stale).");
      return;
  }
  if (ReadExportsFile() < 0) {
    NotLoaded("No EXPORTS file found; server not loaded.");
    return;
  }
  OpenRpcSockets(window);
  g_Settings.priority = GetPrivateProfileIntA(kIniSection, "Priority", 100, QX_APPS_INI);
  g_Settings.refresh = GetPrivateProfileIntA(kIniSection, "Refresh", 10, QX_APPS_INI);
  if (g_Settings.priority > 100) g_Settings.priority = 100;
  if (g_Settings.refresh < 1 || g_Settings.refresh > 64) g_Settings.refresh = 10;
  REQUEST_COUNTERS[kCountRefresh] = g_Settings.refresh;
  REQUEST_COUNTERS[kCountPriority] = g_Settings.priority;
  SetTimer(window, kRefreshTimer, g_Settings.refresh * 1000, nullptr);
}

void AddExportLines(SERVER_LINE_SINK sink, void *context) {
  for (const std::string &line : FillExportsList()) sink(line.c_str(), context);
}

// The files the lock manager holds, one line per node: the file's path, " - "
// and the client's address.
void AddOpenFileLines(SERVER_LINE_SINK sink, void *context) {
  struct Target {
    SERVER_LINE_SINK sink;
    void *context;
  } target{sink, context};
  ForEachLockNode(
      [](const LOCK_NODE &node, void *to) {
        const char *path = HandleToPath(node.handle);
        uint8_t a[4];
        memcpy(a, &node.client, 4);
        char line[600];
        snprintf(line, sizeof line, "%s - %u.%u.%u.%u", path ? path : "(gone)", a[0], a[1], a[2], a[3]);
        auto *t = static_cast<Target *>(to);
        t->sink(line, t->context);
      },
      &target);
}

void InfoWindowClosed() {
  if (g_PreviousForeground && IsWindow(g_PreviousForeground)) SetForegroundWindow(g_PreviousForeground);
  g_PreviousForeground = nullptr;
  g_BroughtUp = nullptr;
}

bool LoadServerWindowModule() {
  if (g_Window.module) return true;
  HMODULE module = LoadLibraryA(SERVER_WINDOW_MODULE);
  if (!module) return false;
  g_Window.show = reinterpret_cast<SHOW_SERVER_WINDOW>(GetProcAddress(module, "ShowServerWindow"));
  g_Window.message = reinterpret_cast<SERVER_WINDOW_MESSAGE>(GetProcAddress(module, "ServerWindowMessage"));
  g_Window.close = reinterpret_cast<CLOSE_SERVER_WINDOWS>(GetProcAddress(module, "CloseServerWindows"));
  if (!g_Window.show || !g_Window.message || !g_Window.close) {
    FreeLibrary(module);
    g_Window = ServerWindowModule();
    return false;
  }
  g_Window.module = module;
  return true;
}

// Control 128: the information window comes up in front; when it is already
// up it only comes to the front again.
void ShowInfoWindow(HWND window) {
  if (g_BroughtUp) {
    SetForegroundWindow(g_BroughtUp);
    return;
  }
  if (!LoadServerWindowModule()) {
    char text[256];
    snprintf(text, sizeof text,
             "The information window cannot be shown: %s could not be loaded (error %lu). Reinstall sharehost "
             "with its windows module beside it.",
             SERVER_WINDOW_MODULE, (unsigned long)GetLastError());
    ServerEvent(EVENTLOG_ERROR_TYPE, kEventNoWindow, text);
    return;
  }
  SERVER_WINDOW_LINK link{};
  link.main_window = window;
  link.counters = REQUEST_COUNTERS;
  link.refresh = &g_Settings.refresh;
  link.priority = &g_Settings.priority;
  link.ini_file = QX_APPS_INI;
  link.reload_exports = ReadExportsFile;
  link.export_lines = AddExportLines;
  link.open_file_lines = AddOpenFileLines;
  link.info_closed = InfoWindowClosed;
  g_PreviousForeground = GetForegroundWindow();
  g_InfoWindow = g_Window.show(&link);
  g_BroughtUp = g_InfoWindow;
  if (!g_InfoWindow) {
    g_PreviousForeground = nullptr;
    ServerEvent(EVENTLOG_ERROR_TYPE, kEventNoWindow,
                "The information window cannot be shown: its dialog could not be made. Check that the display "
                "libraries are installed.");
  }
}

void RefreshInfoWindow() {
  if (g_InfoWindow) PostMessageA(g_InfoWindow, WM_SERVER_REFRESH, 0, 0);
}

void CloseServerWindows() {
  if (g_Window.close) g_Window.close();
  g_InfoWindow = g_BroughtUp = g_PreviousForeground = nullptr;
}

LRESULT CALLBACK ServerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
    case WM_ENDSESSION: return 0;
    case WM_DESTROY:
      CloseServerWindows();
      PostQuitMessage(0);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == 100) PostMessageA(window, WM_CLOSE, 0, 0);
      if (LOWORD(wParam) == kRefreshCommand) RefreshInfoWindow();
      return 0;
    case WM_TIMER:
      if (wParam == kCloseFilesTimer) {
        CloseAllCachedFiles();
        CloseMapTable();
      }
      if (wParam == kRefreshTimer) RefreshInfoWindow();
      return 0;
    case WM_RELOAD_MAPS: LoadIdMaps(); return 0;
    case WM_SHOW_INFO: ShowInfoWindow(window); return 0;
    case WM_SOCKET_NOTIFY:
      NoteSocketNotify(wParam);
      if (PumpPendingMessages() == 0) RecvLoop();
      return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}

bool CreateServerWindows(HINSTANCE instance) {
  WNDCLASSA wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = ServerWndProc;
  wc.hInstance = instance;
  // Never shown: the window colour for a background, so the service does not
  // load the drawing half of the layer.
  wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  wc.lpszClassName = kWindowClass;
  RegisterClassA(&wc);
  g_MainWindow = CreateWindowA(kWindowClass, "QXServer", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
  if (!g_MainWindow) return false;
  PostMessageA(g_MainWindow, WM_COMMAND, kRefreshCommand, 0);
  SetTimer(g_MainWindow, kCloseFilesTimer, 30000, nullptr);
  SetTimer(g_MainWindow, kRefreshTimer, 10000, nullptr);
  return true;
}

int ServerMain(HINSTANCE instance, HINSTANCE previous, const std::string &command_line) {
  WSADATA data;
  WSAStartup(MAKEWORD(1, 1), &data);
  LoadIdMaps();
  if (previous) return 1;
  switch (ParseServerSwitches(command_line, g_Settings)) {
    case kBadTransferSize: {
      char text[96];
      snprintf(text, sizeof text, "Invalid Transfer Size; must be between 512 and %d", int(kMaxTransferSize));
      MessageBoxA(nullptr, text, "Invalid argument", MB_OK | MB_ICONSTOP);
      WSACleanup();
      return kBadTransferSize;
    }
    case kBadSwitch:
      MessageBoxA(nullptr, "sharehost /h /t:n /l:logfile", "Usage", MB_OK | MB_ICONSTOP);
      WSACleanup();
      return kBadSwitch;
    case kSwitchesOk: break;
  }
  SetMountLogFile(g_Settings.log ? g_Settings.log_file : std::string());
  if (CreateServerWindows(instance)) {
    ServerStartup(g_MainWindow);
    bool logon = RegisterLogonProcess() == 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      if (g_Window.message && g_Window.message(&msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (logon) DeregisterLogonProcess();
  }
  CloseRpcSockets();
  char number[16];
  snprintf(number, sizeof number, "%lu", (unsigned long)g_Settings.priority);
  WritePrivateProfileStringA(kIniSection, "Priority", number, QX_APPS_INI);
  snprintf(number, sizeof number, "%lu", (unsigned long)g_Settings.refresh);
  WritePrivateProfileStringA(kIniSection, "Refresh", number, QX_APPS_INI);
  WSACleanup();
  return 0;
}

void WINAPI ServiceCtrlHandler(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      // The window's thread closes the sockets and writes the state file;
      // it reports STOPPED once that is done.
      g_Status.dwCurrentState = SERVICE_STOP_PENDING;
      g_Status.dwWaitHint = 10000;
      if (g_MainWindow) PostMessageA(g_MainWindow, WM_CLOSE, 0, 0);
      break;
    case SERVICE_CONTROL_RELOADMAPS:
      if (g_MainWindow) PostMessageA(g_MainWindow, WM_RELOAD_MAPS, 0, 0);
      break;
    case SERVICE_CONTROL_SHOWWINDOW:
      if (g_MainWindow) PostMessageA(g_MainWindow, WM_SHOW_INFO, 0, 0);
      break;
    default: break;
  }
  SetServiceStatus(g_StatusHandle, &g_Status);
}

void WINAPI NfsServiceMain(DWORD argc, LPSTR *argv) {
  g_StatusHandle = RegisterServiceCtrlHandlerA(kServiceName, ServiceCtrlHandler);
  g_Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_Status.dwCurrentState = SERVICE_RUNNING;
  g_Status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
  SetServiceStatus(g_StatusHandle, &g_Status);
  // The switches come as the service's start arguments ("qxsc start
  // QXNFSServer /l:c:\mount.log").
  std::string command_line;
  for (DWORD i = 1; i < argc; ++i) command_line += std::string(argv[i]) + " ";
  int result = ServerMain(g_Instance, nullptr, command_line);
  ServerEvent(EVENTLOG_INFORMATION_TYPE, kEventStopped, "QXServer stopped.");
  g_Status.dwCurrentState = SERVICE_STOPPED;
  g_Status.dwWin32ExitCode = result == 0 ? 0 : ERROR_SERVICE_SPECIFIC_ERROR;
  g_Status.dwServiceSpecificExitCode = result == 0 ? 0 : DWORD(-result);
  g_Status.dwWaitHint = 0;
  SetServiceStatus(g_StatusHandle, &g_Status);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  g_Instance = instance;
  static char name[] = "QXNFSServer";
  SERVICE_TABLE_ENTRYA table[] = {{name, NfsServiceMain}, {nullptr, nullptr}};
  if (StartServiceCtrlDispatcherA(table)) return g_Status.dwWin32ExitCode == 0 ? 0 : 1;
  DWORD error = GetLastError();
  if (error == ERROR_SERVICE_ALREADY_RUNNING)
    fprintf(stderr, "sharehost: the service \"%s\" is already running; stop it first with: qxsc stop %s (error %lu)\n",
            kServiceName, kServiceName, (unsigned long)error);
  else
    fprintf(stderr,
            "sharehost: cannot run as the service \"%s\": its control endpoint could not be made in the "
            "runtime directory (error %lu); check QX_RUNTIME_DIR and its permissions\n",
            kServiceName, (unsigned long)error);
  return 1;
}
