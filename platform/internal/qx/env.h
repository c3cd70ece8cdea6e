// Where the layer keeps its state on this machine. Every directory can be set
// from the environment, so tests run in a private tree:
//   QX_HOME         per-user tree (drives, Windows directory, user registry hive)
//                   default $HOME/.qxtcp
//   QX_MACHINE_DIR  machine-wide state (machine registry hive, service table,
//                   event log); default /var/lib/qxtcp when writable, else
//                   $QX_HOME/machine
//   QX_RUNTIME_DIR  per-user runtime objects (window registry, message
//                   endpoints, named objects, service control sockets), made
//                   owner-only; default $XDG_RUNTIME_DIR/qx, else /tmp/qx-<uid>
//   QX_TRACE        when set to a file name (or "-" for standard error), the
//                   layer's own trace goes there
#pragma once

#include <string>

namespace qx {

const std::string &HomeDir();
const std::string &MachineDir();
const std::string &RuntimeDir();
// Makes dir (and missing parents) owner-only; returns false when it exists
// but belongs to someone else or is not a directory.
bool EnsurePrivateDir(const std::string &dir);
// printf-style line to the layer's trace when QX_TRACE is set.
void Trace(const char *format, ...) __attribute__((format(printf, 1, 2)));
bool TraceEnabled();

}  // namespace qx
