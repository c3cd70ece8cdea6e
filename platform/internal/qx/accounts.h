// Accounts of this machine as the layer presents them: SIDs of the system's
// users and groups, the computer name, and the user logged on at the console
// (whose SID names the user's hive under HKEY_USERS).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qx {

// The binary SIDs S-1-22-1-<uid> and S-1-22-2-<gid>.
std::vector<unsigned char> UserSid(uid_t uid);
std::vector<unsigned char> GroupSid(gid_t gid);
// The uid or gid a SID of that form names; false for any other SID.
bool SidToUid(const void *sid, uid_t &uid);
bool SidToGid(const void *sid, gid_t &gid);
// "S-1-22-1-1000" and the like.
std::string SidToString(const void *sid);

// The computer's name as Windows shows it: the host name's first label,
// upper case, at most 15 characters.
std::string ComputerName();

// The user logged on at the console, found in this order:
//   1. QX_CONSOLE_USER (a user name or uid; pins the answer, e.g. for tests;
//      set but empty: nobody);
//   2. the active session of seat0 (/run/systemd/seats/seat0, ACTIVE_UID);
//   3. the most recent live login record (utmp) on a console line: "console",
//      "seatN", "ttyN" or an X display ":N".
// false when none of them names an existing user: nobody is logged on.
bool ConsoleUser(std::string &name, uid_t &uid);

// A login line of the console: "console", "seatN", "ttyN" or an X display ":N".
bool IsConsoleLine(const char *line);

// The session of a user at the console: seat0's active session when it is
// that user's (logind's state in /run/systemd), else the user's newest live
// login record on a console line.
struct ConsoleSession {
  std::string id;       // logind's session id; empty for a login record
  pid_t leader = 0;     // the session's first process
  std::string display;  // the X display logind or the record names, if any
};
bool FindConsoleSession(uid_t uid, ConsoleSession &session);

// The display variables (DISPLAY, XAUTHORITY, WAYLAND_DISPLAY,
// XDG_RUNTIME_DIR, ...) of the session, "NAME=value" each, read from the
// environment of a process of uid in that session that has a display; empty
// when none has one.
std::vector<std::string> SessionDisplayVariables(uid_t uid, const ConsoleSession &session);

}  // namespace qx
