// The terminal's command line: the words, the switches that WinMain reads at
// the very start ("/I", "/R", "/h="), the switches the connection driver
// applies in word order, and the recent-host list kept in QXAPPS.INI.
#ifndef QX_TERMINAL_CLIENT_COMMAND_LINE_H
#define QX_TERMINAL_CLIENT_COMMAND_LINE_H

#include <cstddef>

#include "telnet.h"

constexpr size_t TERM_LINE_MAX = 127;  // characters of the command line kept
constexpr int TERM_WORDS_MAX = 18;     // words after the program word
constexpr size_t TERM_USER_MAX = 64;   // rlogin user names
constexpr int RECENT_HOSTS = 9;        // FILE_0 .. FILE_8
constexpr size_t RECENT_ENTRY_MAX = 128;

struct TERM_COMMAND_LINE {
  char buffer[TERM_LINE_MAX + 1];
  const char *words[TERM_WORDS_MAX + 2];  // entry 0 the program word, then the words, then null
  int count;                              // entries in use, the program word included
  bool truncated;                         // characters or words were dropped
};

// What the start-up switches and the driver's switches decide.
struct TERM_START {
  bool mode3270 = false;
  int rlogin = 0;  // nonzero: rlogin
  int screenRows = 24;
  const char *keyMapName = "VT220AT.KEY";
  const char *setupName = "qx220.stu";
  unsigned port = 23;
  char badPort[32] = "";  // a "/p=" value that is no port, to report
  char scriptFile[TERM_LINE_MAX + 1] = "";
  char localUser[TERM_USER_MAX + 1] = "";
  char remoteUser[TERM_USER_MAX + 1] = "";
  bool dontTryAgain = false;
  bool dieAfterCancelling = false;
  const char *hostWord = nullptr;  // first word left after the switches
};

// Cuts line into words at blanks (entry 0 "QX220"). A line longer than 127
// characters is cut at the last blank before the limit; words past the 18th
// are dropped; truncated says so.
void TermSplitCommandLine(const char *line, TERM_COMMAND_LINE &cl);

// WinMain's part: a leading "/I" (3270, skipped) or "/R" (rlogin, kept), then
// the words, then every "/h=" for the VT screen rows. Returns the rest of the
// line that was cut into cl.
const char *TermStartSwitches(const char *line, TERM_START &start, TERM_COMMAND_LINE &cl);

// The connection driver's part: applies and removes the switches of cl (a
// copy) in word order; tn receives the terminal-type names.
void TermApplySwitches(TERM_COMMAND_LINE &cl, TERM_START &start, TELNET_STATE &tn);

// The recent-host entry of a session: the host, and " (port)" when the port
// is not 23 and the session is not rlogin.
void TermRecentEntry(const char *host, unsigned port, bool rlogin, char *entry, size_t size);

// Puts entry at FILE_0, shifting the others down; an entry already in the
// list moves up; the old last entry falls off a full list. hosts holds
// RECENT_HOSTS slots, an empty string marks an empty slot.
void TermRecentInsert(char (*hosts)[RECENT_ENTRY_MAX], const char *entry);

#endif
