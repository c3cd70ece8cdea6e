// Devices behind "\\.\NAME": providers registered in this process or served by
// another process of the user, the handles CreateFileA makes for them, and
// DeviceIoControl.
//
// Between processes each open is one SOCK_SEQPACKET connection to the
// provider's endpoint RuntimeDir()/devices/<hash of the device name>; the
// first message opens, each later one is a request and gets one reply:
//   request  Wire{kMagic, op, code|access, out_size, 0, length} + length bytes
//   reply    Wire{kMagic, op, 0, 0, error, length} + length bytes
// Messages are at most kMaxPayload bytes past the header; the server takes
// peers of its own user only (the directory is owner-only as well), checks
// every length against the message it arrived in, and never hands out more
// than the caller's output size.
#include <windows.h>

#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "devices_internal.h"
#include "qx/devices.h"
#include "qx/env.h"
#include "qx/handles.h"
#include "qx/unixsock.h"

namespace qx {
namespace {

constexpr std::uint32_t kMagic = 0x51584431;  // "QXD1"
constexpr size_t kMaxPayload = 64 * 1024;
enum Op : std::uint32_t { kOpen = 1, kRequest = 2 };

struct Wire {
  std::uint32_t magic;
  std::uint32_t op;
  std::uint32_t code;  // request code, or the desired access of an open
  std::uint32_t out_size;
  std::uint32_t error;
  std::uint32_t length;  // payload bytes that follow
};

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool ValidDeviceName(const std::string &name) {
  return name.size() >= 4 && name.size() <= 1024 && name[0] == '\\' && name.back() != '\\' &&
         name.find('\\', 1) != std::string::npos;
}

const std::string &EndpointDir() {
  static const std::string *dir = [] {
    auto *d = new std::string(RuntimeDir() + "/devices");
    EnsurePrivateDir(*d);
    return d;
  }();
  return *dir;
}

std::string EndpointName(const std::string &device) { return HashName(Lower(device)); }

std::mutex g_lock;
std::map<std::string, std::shared_ptr<DeviceProvider>> &Providers() {  // by lower-case name
  static auto *providers = new std::map<std::string, std::shared_ptr<DeviceProvider>>;
  return *providers;
}

// ---- messages ------------------------------------------------------------------

bool SendMessage(int fd, const Wire &head, const std::uint8_t *payload) {
  iovec iov[2] = {{const_cast<Wire *>(&head), sizeof head},
                  {const_cast<std::uint8_t *>(payload), payload ? head.length : 0}};
  msghdr msg{};
  msg.msg_iov = iov;
  msg.msg_iovlen = 2;
  for (;;) {
    const ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<size_t>(n) == sizeof head + (payload ? head.length : 0);
    if (errno != EINTR) return false;
  }
}

// One whole message; false on end, error, truncation or a malformed header.
bool ReceiveMessage(int fd, Wire &head, std::vector<std::uint8_t> &payload) {
  std::vector<std::uint8_t> buf(sizeof(Wire) + kMaxPayload);
  ssize_t n;
  do {
    n = recv(fd, buf.data(), buf.size(), MSG_TRUNC);
  } while (n < 0 && errno == EINTR);
  if (n < static_cast<ssize_t>(sizeof head) || static_cast<size_t>(n) > buf.size()) return false;
  std::memcpy(&head, buf.data(), sizeof head);
  if (head.magic != kMagic || head.length != static_cast<size_t>(n) - sizeof head) return false;
  payload.assign(buf.begin() + sizeof head, buf.begin() + n);
  return true;
}

// ---- a device of another process ---------------------------------------------------

class RemoteDeviceFile : public DeviceFile {
 public:
  explicit RemoteDeviceFile(int fd) : fd_(fd) {}
  ~RemoteDeviceFile() override { close(fd_); }

  DWORD IoControl(DWORD code, const std::vector<std::uint8_t> &in, std::vector<std::uint8_t> &out) override {
    if (in.size() > kMaxPayload || out.size() > kMaxPayload) return ERROR_INVALID_PARAMETER;
    std::lock_guard guard(lock_);  // one request at a time on the connection
    Wire head{kMagic, kRequest, code, static_cast<std::uint32_t>(out.size()), 0, static_cast<std::uint32_t>(in.size())};
    Wire reply{};
    std::vector<std::uint8_t> payload;
    if (!SendMessage(fd_, head, in.data()) || !ReceiveMessage(fd_, reply, payload) || reply.op != kRequest ||
        payload.size() > out.size())
      return ERROR_GEN_FAILURE;  // the provider's process is gone or misbehaves
    out = std::move(payload);
    return reply.error;
  }

 private:
  int fd_;
  std::mutex lock_;
};

// Opens the device `device` served by another process; 0 and a file, or an error.
DWORD OpenServed(const std::string &device, const std::string &rest, DWORD access, std::shared_ptr<DeviceFile> &file) {
  sockaddr_un addr;
  const socklen_t len = RuntimeSocketAddress(EndpointDir(), EndpointName(device), addr);
  if (!len) return ERROR_FILE_NOT_FOUND;
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return ERROR_TOO_MANY_OPEN_FILES;
  if (connect(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
    close(fd);
    return ERROR_FILE_NOT_FOUND;  // nobody serves it
  }
  const std::string open_text = device + '\0' + rest;
  Wire head{kMagic, kOpen, access, 0, 0, static_cast<std::uint32_t>(open_text.size())};
  Wire reply{};
  std::vector<std::uint8_t> payload;
  if (!SendMessage(fd, head, reinterpret_cast<const std::uint8_t *>(open_text.data())) ||
      !ReceiveMessage(fd, reply, payload) || reply.op != kOpen) {
    close(fd);
    return ERROR_FILE_NOT_FOUND;
  }
  if (reply.error) {
    close(fd);
    return reply.error;
  }
  file = std::make_shared<RemoteDeviceFile>(fd);
  return 0;
}

// ---- serving a device -------------------------------------------------------------------

void ServeConnection(int fd, std::shared_ptr<DeviceProvider> provider) {
  ucred cred{};
  socklen_t cred_len = sizeof cred;
  Wire head{};
  std::vector<std::uint8_t> payload;
  std::shared_ptr<DeviceFile> file;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &cred_len) != 0 || cred.uid != getuid() ||
      !ReceiveMessage(fd, head, payload) || head.op != kOpen) {
    close(fd);
    return;
  }
  const std::string text(payload.begin(), payload.end());
  const size_t nul = text.find('\0');
  const std::string rest = nul == std::string::npos ? std::string() : text.substr(nul + 1);
  DWORD error = provider->Open(rest, head.code, file);
  if (!error && !file) error = ERROR_GEN_FAILURE;
  Wire reply{kMagic, kOpen, 0, 0, error, 0};
  if (!SendMessage(fd, reply, nullptr) || error) {
    close(fd);
    return;
  }
  while (ReceiveMessage(fd, head, payload)) {
    if (head.op != kRequest || head.out_size > kMaxPayload) break;
    std::vector<std::uint8_t> out(head.out_size, 0);
    DWORD result = file->IoControl(head.code, payload, out);
    if (out.size() > head.out_size) {
      out.clear();
      result = ERROR_GEN_FAILURE;
    }
    reply = Wire{kMagic, kRequest, 0, 0, result, static_cast<std::uint32_t>(out.size())};
    if (!SendMessage(fd, reply, out.data())) break;
  }
  close(fd);
}

struct Served {
  int listener = -1;
  std::string path;
};
std::map<std::string, Served> &ServedDevices() {  // by lower-case name
  static auto *served = new std::map<std::string, Served>;
  return *served;
}

void AcceptLoop(int listener, std::shared_ptr<DeviceProvider> provider) {
  for (;;) {
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // the listener was shut down
    }
    std::thread(ServeConnection, fd, provider).detach();
  }
}

// ---- handles ---------------------------------------------------------------------------------

class DeviceHandle : public KernelObject {
 public:
  explicit DeviceHandle(std::shared_ptr<DeviceFile> file) : KernelObject(ObjectKind::Other), file_(std::move(file)) {}
  DeviceFile &file() { return *file_; }

 private:
  std::shared_ptr<DeviceFile> file_;
};

// The provider for a target path: the longest registered (or served) device
// name that the target starts with, ending at a '\'; rest gets what follows.
DWORD OpenTarget(const std::string &target, DWORD access, std::shared_ptr<DeviceFile> &file) {
  std::vector<size_t> ends{target.size()};
  for (size_t at = target.rfind('\\'); at != std::string::npos && at > 0; at = target.rfind('\\', at - 1))
    ends.push_back(at);
  for (size_t end : ends) {
    const std::string device = target.substr(0, end);
    if (!ValidDeviceName(device)) break;
    const std::string rest = target.substr(end);
    std::shared_ptr<DeviceProvider> local;
    {
      std::lock_guard guard(g_lock);
      auto it = Providers().find(Lower(device));
      if (it != Providers().end()) local = it->second;
    }
    if (local) {
      const DWORD error = local->Open(rest, access, file);
      return error ? error : file ? 0 : ERROR_GEN_FAILURE;
    }
    const DWORD error = OpenServed(device, rest, access, file);
    if (error != ERROR_FILE_NOT_FOUND) return error;
  }
  return ERROR_FILE_NOT_FOUND;
}

}  // namespace

bool RegisterDevice(const std::string &device_name, std::shared_ptr<DeviceProvider> provider) {
  if (!ValidDeviceName(device_name) || !provider) return false;
  std::lock_guard guard(g_lock);
  Providers()[Lower(device_name)] = std::move(provider);
  return true;
}

void UnregisterDevice(const std::string &device_name) {
  std::lock_guard guard(g_lock);
  Providers().erase(Lower(device_name));
}

DWORD ServeDevice(const std::string &device_name, std::shared_ptr<DeviceProvider> provider) {
  if (!ValidDeviceName(device_name) || !provider) return ERROR_INVALID_PARAMETER;
  const std::string key = Lower(device_name);
  std::lock_guard guard(g_lock);
  if (ServedDevices().count(key)) return ERROR_ALREADY_EXISTS;
  sockaddr_un addr;
  const std::string name = EndpointName(device_name);
  const socklen_t len = RuntimeSocketAddress(EndpointDir(), name, addr);
  if (!len) return ERROR_PATH_NOT_FOUND;
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return ERROR_TOO_MANY_OPEN_FILES;
  const std::string path = EndpointDir() + "/" + name;
  if (bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
    // Taken: by a live server (refuse), or left by an ended process (replace).
    const int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    const bool live = probe >= 0 && connect(probe, reinterpret_cast<sockaddr *>(&addr), len) == 0;
    if (probe >= 0) close(probe);
    if (live || unlink(path.c_str()) != 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
      close(fd);
      return live ? ERROR_ALREADY_EXISTS : ERROR_ACCESS_DENIED;
    }
  }
  if (listen(fd, 16) != 0) {
    close(fd);
    unlink(path.c_str());
    return ERROR_ACCESS_DENIED;
  }
  Providers()[key] = provider;
  ServedDevices()[key] = Served{fd, path};
  std::thread(AcceptLoop, fd, std::move(provider)).detach();
  return 0;
}

void StopServingDevice(const std::string &device_name) {
  const std::string key = Lower(device_name);
  std::lock_guard guard(g_lock);
  auto it = ServedDevices().find(key);
  if (it == ServedDevices().end()) return;
  unlink(it->second.path.c_str());
  shutdown(it->second.listener, SHUT_RDWR);  // ends the accept loop; open connections stay
  ServedDevices().erase(it);
  Providers().erase(key);
}

HANDLE OpenDosDevice(const std::string &name, DWORD access) {
  const std::vector<std::string> targets = DosDeviceTargets(name);
  std::shared_ptr<DeviceFile> file;
  // Only the newest definition counts; a target that is a DOS path names no device.
  DWORD error = targets.empty() || targets.front().rfind("\\??\\", 0) == 0 ? ERROR_FILE_NOT_FOUND
                                                                           : OpenTarget(targets.front(), access, file);
  if (error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = InsertHandle(std::make_shared<DeviceHandle>(std::move(file)));
  if (!h) {
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return h;
}

}  // namespace qx

extern "C" {

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            struct _OVERLAPPED *lpOverlapped) {
  (void)lpOverlapped;  // requests complete before the call returns
  if (lpBytesReturned) *lpBytesReturned = 0;
  auto device = qx::Lookup<qx::DeviceHandle>(hDevice, qx::ObjectKind::Other);
  if (!device) {
    // A handle of a file or other object takes no device requests.
    SetLastError(qx::LookupHandle(hDevice) ? ERROR_INVALID_FUNCTION : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if ((nInBufferSize && !lpInBuffer) || (nOutBufferSize && !lpOutBuffer)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto *in_bytes = static_cast<const std::uint8_t *>(lpInBuffer);
  std::vector<std::uint8_t> in(in_bytes, in_bytes + nInBufferSize);
  std::vector<std::uint8_t> out(nOutBufferSize, 0);
  const DWORD error = device->file().IoControl(dwIoControlCode, in, out);
  if (out.size() > nOutBufferSize) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  if (!out.empty()) std::memcpy(lpOutBuffer, out.data(), out.size());
  if (lpBytesReturned) *lpBytesReturned = static_cast<DWORD>(out.size());
  if (error) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
