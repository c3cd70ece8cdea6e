// pathprobe's probe engine: the hop table, the probe thread that sends ICMP
// echo requests of rising time-to-live through "ICMP.DLL", the reverse name
// lookups, and the private messages that carry results to the main window.
//
// The probe thread and the window thread share the hop table under one lock.
// Every trace has a generation number: a result of an abandoned trace (a new
// one started while the thread waited for a reply) is dropped, never stored
// into the new trace's table.
#ifndef QX_UTILS_PATHPROBE_PROBE_ENGINE_H
#define QX_UTILS_PATHPROBE_PROBE_ENGINE_H

#include <windows.h>

#include <mutex>

#include "hops.h"

/* Posted to the main window. */
#define WM_PROBE_REDISPLAY 0x77FE /* wParam hop (-1 or 0: the whole table), lParam 1: new data */
#define WM_PROBE_REPLY 0x7CEF     /* a reply to the current hop arrived */
#define WM_PROBE_TITLE 0x77FD     /* a new destination: the window's title is set */
#define WM_PROBE_LOOKUP 0x7000    /* + hop: its reverse lookup ended */

#define PROBE_REPLY_WAIT_MS 4900

/* Shared with the window; read or written only under ProbeLock(). */
extern HOP_RECORD g_Hops[HOP_TABLE_SIZE];
extern int g_CurrentHop; /* h: the hop being probed has time-to-live h + 1 */
extern PROBE_SETTINGS g_Settings;
extern char g_DestinationText[129];
extern DWORD g_Destination; /* network order; 0: no trace yet */
std::mutex &ProbeLock();

/* Loads "ICMP.DLL" and gets a handle: 0, or 1 after a message box saying
 * what is missing (the program then closes its window). */
int IcmpBind(HWND window);
/* Ends the probe thread and closes the ICMP handle. */
void IcmpRelease();
/* Creates the probe thread when there is none, then releases it. */
void ProbeStart();
/* Starts a trace to the destination: pending lookups cancelled, the table
 * cleared, the host put first in the recent list, the base port moved past
 * the previous trace's hops, the display reset, the first hop probed. */
void ProbeNewTrace(HWND window, LPCSTR iniFile, LPCSTR hostText, DWORD address);
/* WM_PROBE_REPLY: stores the reply, starts its name lookup, goes on or ends. */
void ProbeOnReply(HWND window);
/* WM_PROBE_LOOKUP + k. */
void ProbeOnLookup(HWND window, int k, WPARAM wParam, LPARAM lParam);
/* The last hop the views show: the hops probed so far, never past MaxTTL
 * or the table. Call under ProbeLock(). */
int ProbeLastShownHop();

#endif
