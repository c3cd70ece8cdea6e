// echoprobe's rules that need no window or network: the host list file
// "ping.cfg", the colour of a host, the flags of an address, the ranges of
// the settings and which cell a click falls in.
#ifndef QX_UTILS_ECHOPROBE_PINGHOSTS_H
#define QX_UTILS_ECHOPROBE_PINGHOSTS_H

#include <windows.h>

#include <string>
#include <vector>

#define PING_FLAGS_HOST 2
#define PING_FLAGS_NET_OR_BROADCAST 1 /* added when the address ends in 0 or 255 */

#define PING_DELAY_DEFAULT 1u
#define PING_DELAY_MAX 60u
#define PING_SIZE_DEFAULT 56u
#define PING_SIZE_MAX 4000u
#define PING_CFG_LINE_MAX 1023

/* 2 for every host, 3 when the last byte of the (network order) address is 0 or 255. */
int PingHostFlags(DWORD address);
/* Blue for a network or broadcast address; otherwise by the requests since the
 * last answer (sent - last answered): 0..4 black, 5..9 magenta, 10 and more red. */
COLORREF PingHostColour(int flags, int sent, int lastAnswered);

/* The host a line of "ping.cfg" names: its first word (blanks and tabs part
 * words); none for an empty line or a word that begins with "#". */
bool PingCfgHost(const std::string &line, std::string *host);
/* The hosts of the file's text in order; a line longer than PING_CFG_LINE_MAX
 * counts with its first PING_CFG_LINE_MAX characters only (the rest is not a
 * line of its own). */
std::vector<std::string> ParsePingCfg(const std::string &text);

/* Settings as read from WIN.INI: Delay 1..60 (0 is taken as 1), Size at most 4000. */
unsigned PingDelayFromProfile(int value);
unsigned PingSizeFromProfile(int value);
/* A dialog's answer: 0 keeps the setting (returns it), else at most the maximum. */
unsigned PingDialogValue(unsigned answer, unsigned current, unsigned maximum);

/* The host index under client point (x, y): cells from (2, 2), rowsPerColumn
 * cells a column, the first column shown is firstColumn; -1 outside every cell
 * that holds a host. */
int PingHitTest(int x, int y, int cellWidth, int cellHeight, int rowsPerColumn, int firstColumn, int hostCount);

#endif
