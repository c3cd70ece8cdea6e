// The event log: RegisterEventSourceA, ReportEventA, DeregisterEventSource.
// Each event becomes one line in a text log a person can read and tail
// ("<MachineDir>/eventlog.txt", or QX_EVENTLOG_FILE), with every string
// escaped so that CR, LF and tabs in an event never break the one-line form,
// and is also sent to the system log (not when QX_EVENTLOG_FILE redirects).
#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "qx/env.h"
#include "qx/handles.h"

namespace {

constexpr size_t kMaxSourceLength = 256;
constexpr size_t kMaxStringLength = 32766;  // longer insertion strings are refused
constexpr DWORD kMaxRawData = 0x10000;

// A source keeps the log open from registration on, as a connection to an
// event log service would: a process that has used up its descriptors can
// still report that it has (a socket or file it could not make).
struct EventSource : qx::KernelObject {
  explicit EventSource(std::string n) : qx::KernelObject(qx::ObjectKind::EventSource), name(std::move(n)) {}
  ~EventSource() override {
    if (fd >= 0) close(fd);
  }
  std::string name;
  std::mutex lock;  // guards the descriptor and the path it was opened for
  int fd = -1;
  std::string path;
};

struct TypeName {
  WORD type;
  const char *name;
  int priority;
};
constexpr TypeName kTypes[] = {
    {EVENTLOG_SUCCESS, "success", LOG_INFO},
    {EVENTLOG_ERROR_TYPE, "error", LOG_ERR},
    {EVENTLOG_WARNING_TYPE, "warning", LOG_WARNING},
    {EVENTLOG_INFORMATION_TYPE, "information", LOG_INFO},
    {EVENTLOG_AUDIT_SUCCESS, "audit-success", LOG_NOTICE},
    {EVENTLOG_AUDIT_FAILURE, "audit-failure", LOG_WARNING},
};

const TypeName *FindType(WORD type) {
  for (const auto &t : kTypes)
    if (t.type == type) return &t;
  return nullptr;
}

// C-style escape: the text keeps one line and every byte can be read back.
void AppendEscaped(std::string &out, const char *s) {
  static const char hex[] = "0123456789abcdef";
  out += '"';
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p; ++p) {
    switch (*p) {
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      default:
        if (*p < 0x20 || *p == 0x7F) {
          out += "\\x";
          out += hex[*p >> 4];
          out += hex[*p & 15];
        } else {
          out += static_cast<char>(*p);
        }
    }
  }
  out += '"';
}

std::string LogPath() {
  const char *redirect = std::getenv("QX_EVENTLOG_FILE");
  if (redirect && *redirect) return redirect;
  return qx::MachineDir() + "/eventlog.txt";
}

std::string TimeText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S%z", &local);
  return buf;
}

// The source's descriptor for the log at `path`, opened again when the log
// was removed or replaced since (a reader may rotate or clear it). When it
// cannot be opened again the old descriptor is kept: better a line in the
// old file than none.
int LogFd(EventSource &source, const std::string &path) {
  if (source.fd >= 0 && source.path == path) {
    struct stat named {
    }, held{};
    if (stat(path.c_str(), &named) == 0 && fstat(source.fd, &held) == 0 && named.st_dev == held.st_dev &&
        named.st_ino == held.st_ino)
      return source.fd;
  }
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return source.fd;
  if (source.fd >= 0) close(source.fd);
  source.fd = fd;
  source.path = path;
  return fd;
}

// One write with O_APPEND: lines from several processes never interleave.
bool AppendLine(EventSource &source, const std::string &path, const std::string &line) {
  std::lock_guard guard(source.lock);
  const int fd = LogFd(source, path);
  if (fd < 0) return false;
  return write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

}  // namespace

extern "C" {

HANDLE WINAPI RegisterEventSourceA(LPCSTR server, LPCSTR source) {
  if (server && *server) {
    // Only this machine's log is kept; "\\name" of another machine is refused.
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return nullptr;
  }
  if (!source || !*source || std::strlen(source) > kMaxSourceLength) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (const char *fail = std::getenv("QX_EVENTLOG_FAIL"); fail && *fail == '1') {
    SetLastError(ERROR_ACCESS_DENIED);  // lets tests reach a program's failure path
    return nullptr;
  }
  auto opened = std::make_shared<EventSource>(source);
  {
    std::lock_guard guard(opened->lock);
    LogFd(*opened, LogPath());  // may fail here; reporting tries again
  }
  HANDLE h = qx::InsertHandle(opened);
  if (!h) SetLastError(ERROR_NO_SYSTEM_RESOURCES);
  return h;
}

BOOL WINAPI DeregisterEventSource(HANDLE handle) {
  if (!qx::LookupHandle(handle, qx::ObjectKind::EventSource)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  qx::RemoveHandle(handle);
  return TRUE;
}

BOOL WINAPI ReportEventA(HANDLE handle, WORD type, WORD category, DWORD event_id, PVOID user_sid, WORD string_count,
                         DWORD data_size, LPCSTR *strings, LPVOID raw_data) {
  auto source = qx::Lookup<EventSource>(handle, qx::ObjectKind::EventSource);
  if (!source) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const TypeName *type_name = FindType(type);
  if (!type_name || (string_count && !strings) || (data_size && !raw_data) || data_size > kMaxRawData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  for (WORD i = 0; i < string_count; ++i) {
    if (strings[i] && std::strlen(strings[i]) > kMaxStringLength) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
  }

  std::string line = TimeText();
  line += ' ';
  AppendEscaped(line, source->name.c_str());
  line += ' ';
  line += type_name->name;
  line += " category=" + std::to_string(category);
  line += " id=" + std::to_string(event_id);
  std::string text;  // the strings joined, for the system log
  for (WORD i = 0; i < string_count; ++i) {
    line += ' ';
    AppendEscaped(line, strings[i] ? strings[i] : "");
    if (i) text += ' ';
    AppendEscaped(text, strings[i] ? strings[i] : "");
  }
  if (data_size) {
    static const char hex[] = "0123456789abcdef";
    line += " data=";
    const auto *bytes = static_cast<const unsigned char *>(raw_data);
    for (DWORD i = 0; i < data_size; ++i) {
      line += hex[bytes[i] >> 4];
      line += hex[bytes[i] & 15];
    }
  }
  line += '\n';

  const char *redirect = std::getenv("QX_EVENTLOG_FILE");
  const bool to_system_log = !(redirect && *redirect);
  const bool written = AppendLine(*source, LogPath(), line);
  if (to_system_log) {
    std::string quoted;
    AppendEscaped(quoted, source->name.c_str());
    syslog(LOG_DAEMON | type_name->priority, "%s %s id=%u %s", quoted.c_str(), type_name->name,
           static_cast<unsigned>(event_id), text.c_str());
  }
  if (!written && !to_system_log) {
    SetLastError(ERROR_CANTWRITE);
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
