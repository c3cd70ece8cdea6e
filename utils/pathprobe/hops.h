// pathprobe's hop table and what is worked out from it without a window or a
// network: the reply state of an ICMP status, the text of a hop in either
// view, the graphical layout of the hop boxes and the reading of the settings.
#ifndef QX_UTILS_PATHPROBE_HOPS_H
#define QX_UTILS_PATHPROBE_HOPS_H

#include <windows.h>

#include <string>

#define HOP_TABLE_SIZE 256 /* record 0 keeps the destination; 1..255 are hops */
#define HOP_LAST 255
#define HOP_NAME_SIZE 100 /* up to 99 characters and a NUL */

/* Reply states of a hop. */
#define HOP_NO_REPLY 0
#define HOP_NET_UNREACHABLE 1
#define HOP_HOST_UNREACHABLE 2
#define HOP_PROT_UNREACHABLE 3
#define HOP_REACHED 4
#define HOP_TOO_BIG 5
#define HOP_BAD_ROUTE 6
#define HOP_OTHER 254
#define HOP_ROUTER 255 /* a router on the way answered: the trace goes on */

typedef struct HOP_RECORD {
  DWORD sendTick;
  DWORD replyTick; /* 0: no reply */
  DWORD address;   /* network order; record 0: the destination */
  char name[HOP_NAME_SIZE];
  char *lookupBuffer; /* a pending reverse lookup's buffer, else null */
  HANDLE lookupTask;  /* its task handle, else null */
  WORD port;          /* network order */
  BYTE state;
  BYTE selected;
} HOP_RECORD;

/* The state a reply's ICMP status gives. */
BYTE HopStateFromStatus(ULONG status);
/* Whether a reply in this state lets the trace go on to the next hop. */
bool HopStateGoesOn(BYTE state);

/* The text of hop k for the traditional view (one list line) or the
 * graphical view (a box label); TRUE when this hop ends the trace
 * (states 1..6). */
BOOL HopText(const HOP_RECORD &hop, int k, bool traditional, std::string *text);

/* Where the boxes of the graphical view go: box 0 (this computer) and the
 * boxes of hops 1..255, down one column and up the next, from the client
 * height, the picture's width and height and the row height. */
typedef struct HOP_LAYOUT {
  POINT box[HOP_TABLE_SIZE];
  int perColumn; /* boxes per column */
} HOP_LAYOUT;
void HopBoxLayout(int clientHeight, int pictureWidth, int rowHeight, HOP_LAYOUT *layout);
/* The width the boxes of hops 1..lastHop need. */
int HopLayoutExtent(const HOP_LAYOUT &layout, int pictureWidth, int lastHop);

/* Settings of section "pathprobe" and the ranges the program accepts. */
#define PROBE_DATA_LEN_MAX 65499 /* 8 header bytes more must fit an IPv4 ICMP echo */
typedef struct PROBE_SETTINGS {
  bool lookupName;
  bool traditional;
  unsigned dataLen; /* 1..PROBE_DATA_LEN_MAX */
  int maxTtl;       /* 1..255 */
  int numProbes;    /* 1..10 */
  long basePort;    /* 1..65000 from the dialog; 1 and above at start */
} PROBE_SETTINGS;
/* "LookupName" is on only for "1", "True", "Yes"; "Traditional" is on
 * unless "0", "False", "No" (letter case ignored either way). */
bool ProfileWordOn(const char *text);
bool ProfileWordOff(const char *text);
/* Reads the settings from the INI file, each out-of-range value replaced by
 * its default. */
void ReadProbeSettings(LPCSTR iniFile, PROBE_SETTINGS *settings);

#endif
