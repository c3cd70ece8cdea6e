/* portwarden's service table: 32 slots, the 12 default rows, and the binary
 * table file "PORTWARDEN.CFG" (logging byte, then one record per used slot). */
#ifndef QX_SERVERS_PORTWARDEN_TABLE_H
#define QX_SERVERS_PORTWARDEN_TABLE_H

#include <windows.h>

#include <string>

#define MAX_SERVICES 32
#define SLOT_USED 0x01
#define SLOT_OPEN 0x02
#define SLOT_DATAGRAM 0x04
#define SLOT_ENABLED 0x08
#define SLOT_KEEP_LISTENING 0x10
#define SLOT_STORED_FLAGS (SLOT_USED | SLOT_DATAGRAM | SLOT_ENABLED | SLOT_KEEP_LISTENING)
#define SLOT_STRING_MAX 256 /* longest string (NUL included) a table file may hold */
#define PORTWARDEN_CFG "PORTWARDEN.CFG"

typedef struct SERVICE_SLOT {
  BYTE flags;             /* SLOT_USED, SLOT_OPEN, SLOT_DATAGRAM, SLOT_ENABLED, SLOT_KEEP_LISTENING */
  LONG socket;            /* listening (UDP: bound) socket; -1 when none */
  LONG ownerPid;          /* the super-server's process id once the listener opened; -1 after loading */
  LONG reserved;          /* -1 after loading, 0 when the listener opens */
  WORD port;              /* port in host byte order */
  std::string name;       /* display name */
  std::string program;    /* daemon program: first word of the daemon's command line */
  std::string parameters; /* appended to the daemon's command line; may be empty */
  LONG maximum;           /* most daemons at once; 1 for UDP */
  LONG sessions;          /* daemons started and not yet reported ended */
  DWORD lastPid;          /* process id of the most recently started daemon */
} SERVICE_SLOT;

extern SERVICE_SLOT g_Slots[MAX_SERVICES];
extern BYTE g_Logging; /* connection logging; also the table file's first byte */

/* Empties one slot (socket -1). */
void ResetSlot(SERVICE_SLOT *slot);
/* Slots 0-11 from the default rows, the rest empty; nothing enabled. */
void FillDefaults(SERVICE_SLOT *slots);
/* Parses a table file image into slots (all 32 reset first). At most 32
 * records are taken; a truncated record or a string length outside 1-256 ends
 * the table there. Returns false when not even the logging byte is present.
 * When the image is not a whole, clean table, `problem` (if given) says why
 * in words; it is left empty otherwise. */
bool ParseTableFile(const std::string &image, SERVICE_SLOT *slots, BYTE *logging, std::string *problem = nullptr);
/* The table file image of the used slots. */
std::string FormatTableFile(const SERVICE_SLOT *slots, BYTE logging);
#define TABLE_FILE_MAX (64 * 1024) /* 32 records of the longest strings fit well within this */
/* Reads or writes the table file found by the OpenFile search; the path used
 * goes to pathOut. ReadTableFile returns false when no file could be opened:
 * `problem` is then empty for a file that does not exist, else the reason;
 * for a file read, `problem` says what could not be read whole (see
 * ParseTableFile), or is empty. */
bool ReadTableFile(const char *name, SERVICE_SLOT *slots, BYTE *logging, char *pathOut = nullptr, int pathSize = 0,
                   std::string *problem = nullptr);
/* "Access is denied. (error 5)": the system's text of an error, then its number. */
std::string ErrorWords(DWORD error);
bool WriteTableFile(const char *name, const SERVICE_SLOT *slots, BYTE logging, char *pathOut, int pathSize);

#endif
