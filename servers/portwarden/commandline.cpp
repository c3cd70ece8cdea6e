/* The two numbers portwarden derives for a listener and a launch: the listen
 * backlog and the daemon's hand-over command line. */
#include "portwarden.h"

#include <cstdio>

int ListenBacklog(LONG maximum) { return maximum < LISTEN_BACKLOG_MAX ? (int)maximum : LISTEN_BACKLOG_MAX; }

void FormatDaemonCommandLine(char *out, size_t size, const SERVICE_SLOT *slot, SOCKET handed, DWORD serverPid,
                             HWND window, int index) {
  snprintf(out, size, "%s %d.%d.%d.%d. %s", slot->program.c_str(), (int)handed, (int)serverPid, (int)(LONG_PTR)window,
           index, slot->parameters.c_str());
}
