// The control channel between the service manager calls (ControlService,
// QueryServiceStatus, qxsc) and a running service's dispatcher: a Unix stream
// socket per service in the runtime directory, one request line and one reply
// line per connection.
//
//   request: "control <n>\n" or "query\n"
//   reply:   "<error> <type> <state> <accepted> <exit> <specific> <checkpoint> <waithint>\n"
//
// Only peers of the same user or root are served.
#pragma once

#include <windows.h>

#include <string>

namespace qx::svc {

// Directory of the control sockets: <runtime dir>/svc, or /run/qx/svc for root
// when QX_RUNTIME_DIR is not set (services run as root are the machine's).
std::string SocketDir();
// Socket path of a service: its name lower-cased (names are case-blind) with
// "%", "/" and anything not printable written as %XX ("Q&Xportwarden" ->
// "q%26xportwarden"); a name longer than 64 such characters is cut and ends in
// "~" and a hash of the whole name. Reached through qx::SocketFileAddress, so
// a runtime directory of any length works.
std::string SocketPath(const std::string &service_name);

// Sends one request and reads the reply, waiting at most timeout_ms.
// Returns ERROR_SUCCESS with the service's error code and status filled,
// ERROR_SERVICE_NOT_ACTIVE when nothing listens, or
// ERROR_SERVICE_REQUEST_TIMEOUT when the service does not answer in time.
DWORD Request(const std::string &service_name, const std::string &request, int timeout_ms, DWORD &service_error,
              SERVICE_STATUS &status);

std::string FormatReply(DWORD error, const SERVICE_STATUS &status);
bool ParseReply(const std::string &line, DWORD &error, SERVICE_STATUS &status);

// Arguments given to StartService travel to the service in the environment
// variable QX_SERVICE_ARGS, each argument %XX-escaped, separated by blanks.
std::string EncodeArgs(DWORD count, const char *const *args);
bool DecodeArgs(const char *text, std::string out[], size_t max, size_t &count);

}  // namespace qx::svc
