// The service process side: StartServiceCtrlDispatcherA runs ServiceMain on
// a new thread and makes the calling thread the control dispatcher, which
// serves the service's control socket and turns SIGTERM and SIGINT into
// SERVICE_CONTROL_STOP. The control handler runs on the dispatcher thread, as
// on NT. A service program started from a shell runs the same way in the
// foreground, so it can be debugged and controlled with qxsc.
#include <windows.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <strings.h>
#include <thread>
#include <vector>

#include "qx/env.h"
#include "qx/errors.h"
#include "qx/handles.h"
#include "qx/unixsock.h"
#include "service_channel.h"

namespace {

constexpr int kStopGraceMs = 10000;   // how long ServiceMain may run on after STOPPED
constexpr int kRequestReadMs = 2000;  // a silent peer cannot hold the dispatcher longer
constexpr size_t kMaxArgs = 64;

struct StatusHandle : qx::KernelObject {
  StatusHandle() : qx::KernelObject(qx::ObjectKind::Service) {}
};

struct Dispatcher {
  std::mutex lock;
  bool active = false;
  std::string name;
  LPHANDLER_FUNCTION handler = nullptr;
  HANDLE status_handle = nullptr;
  SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};
  bool stopped_reported = false;
  int wake[2] = {-1, -1};
};

Dispatcher &TheDispatcher() {
  static Dispatcher *d = new Dispatcher;  // lives as long as the process
  return *d;
}

int g_signal_pipe[2] = {-1, -1};

void OnStopSignal(int signo) {
  const int saved = errno;
  const unsigned char b = static_cast<unsigned char>(signo);
  ssize_t ignored = write(g_signal_pipe[1], &b, 1);
  (void)ignored;
  errno = saved;
}

void Wake(Dispatcher &d) {
  const char b = 1;
  ssize_t ignored = write(d.wake[1], &b, 1);
  (void)ignored;
}

void Drain(int fd) {
  char buf[64];
  while (read(fd, buf, sizeof buf) > 0) {
  }
}

// Makes the listening socket; a socket file left by a service that died is
// replaced, one that still answers means the service already runs.
int Listen(const std::string &path, DWORD &error) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error = ERROR_NO_SYSTEM_RESOURCES;
    return -1;
  }
  sockaddr_un addr{};
  const socklen_t length = qx::SocketFileAddress(path, addr);
  if (length == 0) {
    close(fd);
    error = ERROR_PATH_NOT_FOUND;  // the runtime directory could not be made
    return -1;
  }
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), length) != 0) {
    if (errno != EADDRINUSE) {  // never listen unbound, where no one could reach the service
      error = qx::ErrorFromErrno(errno);
      close(fd);
      return -1;
    }
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool live = probe >= 0 && connect(probe, reinterpret_cast<sockaddr *>(&addr), length) == 0;
    if (probe >= 0) close(probe);
    if (live) {
      close(fd);
      error = ERROR_SERVICE_ALREADY_RUNNING;
      return -1;
    }
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), length) != 0) {
      close(fd);
      error = ERROR_ACCESS_DENIED;
      return -1;
    }
  }
  if (path.rfind("/run/qx/svc/", 0) == 0) chmod(path.c_str(), 0666);
  if (listen(fd, 8) != 0) {
    close(fd);
    error = ERROR_ACCESS_DENIED;
    return -1;
  }
  return fd;
}

// Whether the peer is this service's own user or root. Others may query,
// interrogate and send user controls (128-255), as NT's default service
// security lets interactive users; stopping, pausing and continuing are theirs alone.
bool PeerIsOwner(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
  return cred.uid == geteuid() || cred.uid == 0;
}

bool AnyoneMaySend(DWORD control) {
  return control == SERVICE_CONTROL_INTERROGATE || (control >= 128 && control <= 255);
}

bool ReadRequest(int fd, std::string &line) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestReadMs);
  while (line.size() < 128) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    int n = poll(&p, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    char buf[64];
    ssize_t got = recv(fd, buf, sizeof buf, 0);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return false;
    line.append(buf, static_cast<size_t>(got));
    size_t nl = line.find('\n');
    if (nl != std::string::npos) {
      line.resize(nl);
      return true;
    }
  }
  return false;
}

// Whether the service takes this control now; the error for the caller if not.
DWORD CheckControl(const SERVICE_STATUS &s, DWORD control, bool have_handler) {
  const bool user = control >= 128 && control <= 255;
  const bool known = control >= SERVICE_CONTROL_STOP && control <= SERVICE_CONTROL_SHUTDOWN;
  if (!user && !known) return ERROR_INVALID_SERVICE_CONTROL;
  if (!have_handler) return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  if (s.dwCurrentState == SERVICE_STOPPED) return ERROR_SERVICE_NOT_ACTIVE;
  if (control == SERVICE_CONTROL_INTERROGATE) return ERROR_SUCCESS;
  if (s.dwCurrentState == SERVICE_START_PENDING || s.dwCurrentState == SERVICE_STOP_PENDING)
    return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  if (control == SERVICE_CONTROL_STOP && !(s.dwControlsAccepted & SERVICE_ACCEPT_STOP))
    return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  if ((control == SERVICE_CONTROL_PAUSE || control == SERVICE_CONTROL_CONTINUE) &&
      !(s.dwControlsAccepted & SERVICE_ACCEPT_PAUSE_CONTINUE))
    return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  if (control == SERVICE_CONTROL_SHUTDOWN && !(s.dwControlsAccepted & SERVICE_ACCEPT_SHUTDOWN))
    return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  return ERROR_SUCCESS;
}

// Runs the handler for one control on this (the dispatcher) thread.
DWORD Deliver(Dispatcher &d, DWORD control) {
  LPHANDLER_FUNCTION handler;
  DWORD error;
  {
    std::lock_guard guard(d.lock);
    handler = d.handler;
    error = CheckControl(d.status, control, handler != nullptr);
  }
  if (error != ERROR_SUCCESS) return error;
  qx::Trace("service %s: control %u", d.name.c_str(), control);
  handler(control);
  return ERROR_SUCCESS;
}

void Serve(Dispatcher &d, int listener) {
  int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  std::string line;
  if (ReadRequest(fd, line)) {
    DWORD error = ERROR_SUCCESS;
    unsigned control = 0;
    char tail = 0;
    if (line == "query") {
    } else if (std::sscanf(line.c_str(), "control %u%c", &control, &tail) == 1) {
      error = PeerIsOwner(fd) || AnyoneMaySend(control) ? Deliver(d, control) : ERROR_ACCESS_DENIED;
    } else {
      error = ERROR_INVALID_PARAMETER;
    }
    SERVICE_STATUS status;
    {
      std::lock_guard guard(d.lock);
      status = d.status;
    }
    const std::string reply = qx::svc::FormatReply(error, status);
    send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
  }
  close(fd);
}

// A stop signal becomes SERVICE_CONTROL_STOP; a second one, or one the service
// cannot take, ends the process the ordinary way.
void OnSignal(Dispatcher &d, int signo) {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigaction(SIGTERM, &dfl, nullptr);
  sigaction(SIGINT, &dfl, nullptr);
  if (Deliver(d, SERVICE_CONTROL_STOP) != ERROR_SUCCESS) raise(signo);
}

bool MakePipe(int fds[2]) { return pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0; }

}  // namespace

extern "C" {

BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA *table) {
  if (!table || !table[0].lpServiceName || !table[0].lpServiceProc || !*table[0].lpServiceName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Dispatcher &d = TheDispatcher();
  {
    std::lock_guard guard(d.lock);
    if (d.active) {
      SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
      return FALSE;
    }
    d.active = true;
    d.name = table[0].lpServiceName;
    d.handler = nullptr;
    d.status = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};
    d.stopped_reported = false;
  }
  auto fail = [&](DWORD error) {
    std::lock_guard guard(d.lock);
    d.active = false;
    SetLastError(error);
    return FALSE;
  };
  // One own-process service per program: the first entry is the service.
  const std::string path = qx::svc::SocketPath(d.name);
  DWORD error = ERROR_SUCCESS;
  const int listener = Listen(path, error);
  if (listener < 0) return fail(error);
  if (d.wake[0] < 0 && !MakePipe(d.wake)) {
    close(listener);
    return fail(ERROR_NO_SYSTEM_RESOURCES);
  }
  if (g_signal_pipe[0] < 0 && !MakePipe(g_signal_pipe)) {
    close(listener);
    return fail(ERROR_NO_SYSTEM_RESOURCES);
  }
  Drain(d.wake[0]);
  Drain(g_signal_pipe[0]);
  struct sigaction sa {
  }, old_term{}, old_int{};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, &old_term);
  sigaction(SIGINT, &sa, &old_int);

  // Arguments: the service name, then what StartService passed. They and the
  // end flag are shared with the ServiceMain thread, which may outlive this call.
  struct MainState {
    std::string args[kMaxArgs];
    std::vector<char *> argv;
    std::atomic<bool> done{false};
  };
  auto state = std::make_shared<MainState>();
  size_t arg_count = 0;
  if (!qx::svc::DecodeArgs(std::getenv("QX_SERVICE_ARGS"), state->args + 1, kMaxArgs - 1, arg_count)) arg_count = 0;
  if (const char *started_as = std::getenv("QX_SERVICE_NAME"); started_as && strcasecmp(started_as, d.name.c_str()))
    qx::Trace("service %s started for %s", d.name.c_str(), started_as);
  state->args[0] = d.name;
  ++arg_count;
  for (size_t i = 0; i < arg_count; ++i) state->argv.push_back(state->args[i].data());
  state->argv.push_back(nullptr);

  LPSERVICE_MAIN_FUNCTIONA service_main = table[0].lpServiceProc;
  std::thread main_thread([state, service_main, arg_count, &d] {
    service_main(static_cast<DWORD>(arg_count), state->argv.data());
    state->done = true;
    Wake(d);
  });
  auto main_done = [&] { return state->done.load(); };

  std::chrono::steady_clock::time_point stopped_at{};
  for (;;) {
    bool stopped, have_handler;
    {
      std::lock_guard guard(d.lock);
      stopped = d.stopped_reported;
      have_handler = d.handler != nullptr;
    }
    if (stopped && stopped_at == std::chrono::steady_clock::time_point{}) stopped_at = std::chrono::steady_clock::now();
    if (main_done() && (stopped || !have_handler)) break;
    if (stopped && std::chrono::steady_clock::now() - stopped_at > std::chrono::milliseconds(kStopGraceMs)) break;
    pollfd fds[3] = {{listener, POLLIN, 0}, {g_signal_pipe[0], POLLIN, 0}, {d.wake[0], POLLIN, 0}};
    int n = poll(fds, 3, 500);
    if (n <= 0) continue;
    if (fds[2].revents) Drain(d.wake[0]);
    if (fds[1].revents) {
      unsigned char signo = 0;
      while (read(g_signal_pipe[0], &signo, 1) == 1) OnSignal(d, signo);
    }
    if (fds[0].revents) Serve(d, listener);
  }

  close(listener);
  unlink(path.c_str());
  sigaction(SIGTERM, &old_term, nullptr);
  sigaction(SIGINT, &old_int, nullptr);
  if (main_done()) {
    main_thread.join();
  } else {
    main_thread.detach();  // ServiceMain overran its grace time; the process ends around it
  }
  std::lock_guard guard(d.lock);
  d.active = false;
  d.handler = nullptr;
  if (d.status_handle) qx::RemoveHandle(d.status_handle);
  d.status_handle = nullptr;
  return TRUE;
}

SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR name, LPHANDLER_FUNCTION handler) {
  Dispatcher &d = TheDispatcher();
  std::lock_guard guard(d.lock);
  if (!name || !handler) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!d.active) {
    SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    return nullptr;
  }
  if (strcasecmp(name, d.name.c_str()) != 0) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  d.handler = handler;
  if (!d.status_handle) d.status_handle = qx::InsertHandle(std::make_shared<StatusHandle>());
  if (!d.status_handle) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return nullptr;
  }
  return reinterpret_cast<SERVICE_STATUS_HANDLE>(d.status_handle);
}

BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
  Dispatcher &d = TheDispatcher();
  std::lock_guard guard(d.lock);
  if (!handle || reinterpret_cast<HANDLE>(handle) != d.status_handle || !d.active) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!status || status->dwCurrentState < SERVICE_STOPPED || status->dwCurrentState > SERVICE_PAUSED) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  d.status = *status;
  if (status->dwCurrentState == SERVICE_STOPPED) {
    d.stopped_reported = true;
    Wake(d);
  }
  return TRUE;
}

}  // extern "C"
