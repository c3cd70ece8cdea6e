/* What the NFS export lister (sharelist) and the RPC service lister
 * (servicelist) share: the call through the NFS client's RPC device, the host
 * lookup that falls back to the NIS map "hosts.byname", the bounded decoding
 * of the two XDR results, and the dialog frame (position and recent hosts in
 * QXAPPS.INI). */
#ifndef QX_UTILS_RPCLISTER_H
#define QX_UTILS_RPCLISTER_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#define RPC_REPLY_SIZE 8192
#define RPC_TABLE_MAX 250 /* exports, group names and registrations a table holds */

/* Results of RpcDeviceCall besides the handler's own. */
#define RPC_HOST_UNKNOWN 1
#define RPC_CALL_FAILED 2     /* no answer, or another failure of the call */
#define RPC_CALL_REJECTED 3   /* the server denied the call */
#define RPC_PROGRAM_MISSING 4 /* the program (or its version) is not registered */
#define RPC_NO_DEVICE 5

/* Receives the XDR result body (bytes; cut marks a body longer than the buffer). */
typedef int (*RPC_RESULT_HANDLER)(const unsigned char *body, DWORD length, BOOL cut);

/* Calls program/version/procedure (no arguments) on host through the device:
 * 0 or the handler's result on success, else one of the results above. */
int RpcDeviceCall(LPCSTR host, DWORD program, DWORD version, DWORD procedure, RPC_RESULT_HANDLER handler);

/* The NIS MATCH of key in map on the configured NIS server, field `field`
 * (0 the whole value; blanks, ':' and TABs separate fields) copied into out
 * (at most maxLength characters and a NUL). 0 on success. */
int NisMatch(LPCSTR map, LPCSTR key, char *out, int maxLength, int field);
/* The field selection alone, for the tests. */
std::string NisField(const std::string &value, int field, int maxLength);

/* ---- Decoding, bounded by the bytes received ---- */

struct EXPORT_LINE_ENTRY {
  std::string directory;
  std::vector<std::string> groups;
};
struct EXPORT_TABLE {
  std::vector<EXPORT_LINE_ENTRY> exports; /* at most RPC_TABLE_MAX, with at most RPC_TABLE_MAX groups in all */
  int notShown = 0;                       /* exports left out when the table was full */
  bool damaged = false;                   /* the reply ended inside an entry or broke the format */
};
EXPORT_TABLE DecodeExportList(const unsigned char *body, DWORD length);

struct RPC_REGISTRATION {
  std::uint32_t program, version, protocol, port;
};
struct REGISTRATION_TABLE {
  std::vector<RPC_REGISTRATION> entries; /* at most RPC_TABLE_MAX */
  int notShown = 0;
  bool damaged = false;
};
REGISTRATION_TABLE DecodeRegistrations(const unsigned char *body, DWORD length);

/* List-box lines: "%-32s\t" and the groups or " (everyone)"; the registration
 * line "%10ld\t%2ld\t%5ld\t%4s\t%s" with the program's name. */
std::string ExportLine(const EXPORT_LINE_ENTRY &entry);
std::string RegistrationLine(const RPC_REGISTRATION &entry);
LPCSTR RpcProgramName(std::uint32_t program);
/* The last line of a table that could not show everything ("" when it did). */
std::string TableEndLine(int notShown, bool damaged, bool cut);

/* ---- Dialog frame ---- */

/* WM_INITDIALOG: the saved position (Xl, Yt) and the recent hosts in combo `comboId`. */
void RpcListerInitDialog(HWND dialog, LPCSTR iniFile, LPCSTR section, int comboId);
/* WM_DESTROY: the position, unless minimised. */
void RpcListerSavePosition(HWND dialog, LPCSTR iniFile, LPCSTR section);
/* After a successful list: the host to the front of the recent list, the combo refilled. */
void RpcListerRememberHost(HWND dialog, LPCSTR iniFile, LPCSTR section, int comboId, LPCSTR host);

/* ---- The program: one modal dialog ---- */

#define IDC_LISTER_HOST 101
#define IDC_LISTER_LIST 102

typedef struct LISTER_PROGRAM {
  LPCSTR name;         /* dialog resource, QXAPPS.INI section, icon; "sharelist" */
  LPCSTR errorCaption; /* "sharelist Error" */
  DWORD program, version, procedure;
  RPC_RESULT_HANDLER fillList;  /* decodes the result into RpcListerList() */
  void (*setUpList)(HWND list); /* tab stops and font, at WM_INITDIALOG */
  void (*cleanUp)(void);        /* what setUpList made, at the end */
} LISTER_PROGRAM;

/* The list box the result goes into while a call runs. */
HWND RpcListerList(void);
/* Adds lines to the list and widens its horizontal extent to the longest
 * (tabs at tabPixels; 0 for the list's own tab stops). */
void RpcListerAddLine(const std::string &line, int tabPixels);
/* The whole program: Winsock, the 3-D look, the dialog, the clean-up; exit code. */
int RpcListerMain(HINSTANCE instance, const LISTER_PROGRAM &lister);

#endif
