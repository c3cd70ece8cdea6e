// Internals shared by the Winsock files of the layer. These files use the C
// library's socket headers, so they cannot include <winsock.h>: the Winsock
// structures are mirrored here under namespace qx with their layouts checked,
// and the exported calls are defined under their prefixed symbol names.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <sys/time.h>

// The message calls of the user part, referenced weakly so that the layer
// links while that part is left out of a build (QX_PLATFORM_PARTS); callers
// test them before use.
extern "C" {
BOOL WINAPI PostMessageA(HWND, UINT, WPARAM, LPARAM) __attribute__((weak));
BOOL WINAPI PeekMessageA(LPMSG, HWND, UINT, UINT, UINT) __attribute__((weak));
BOOL WINAPI TranslateMessage(const MSG *) __attribute__((weak));
LRESULT WINAPI DispatchMessageA(const MSG *) __attribute__((weak));
BOOL WINAPI IsWindow(HWND) __attribute__((weak));
DWORD WINAPI GetWindowThreadProcessId(HWND, LPDWORD) __attribute__((weak));
}

#include "qx/message_source.h"

namespace qx {
// From the user part too (weak for the same reason).
bool AttachMessageSource(DWORD tid, const MessageSource &source) __attribute__((weak));
}  // namespace qx

namespace qx::ws {

using SOCKET = std::uint32_t;
constexpr SOCKET kInvalidSocket = ~0u;
constexpr int kSocketError = -1;

// Winsock error codes used inside the layer.
enum : int {
  kWSAEINTR = 10004,
  kWSAEBADF = 10009,
  kWSAEACCES = 10013,
  kWSAEFAULT = 10014,
  kWSAEINVAL = 10022,
  kWSAEMFILE = 10024,
  kWSAEWOULDBLOCK = 10035,
  kWSAEINPROGRESS = 10036,
  kWSAEALREADY = 10037,
  kWSAENOTSOCK = 10038,
  kWSAEDESTADDRREQ = 10039,
  kWSAEMSGSIZE = 10040,
  kWSAEPROTOTYPE = 10041,
  kWSAENOPROTOOPT = 10042,
  kWSAEPROTONOSUPPORT = 10043,
  kWSAESOCKTNOSUPPORT = 10044,
  kWSAEOPNOTSUPP = 10045,
  kWSAEPFNOSUPPORT = 10046,
  kWSAEAFNOSUPPORT = 10047,
  kWSAEADDRINUSE = 10048,
  kWSAEADDRNOTAVAIL = 10049,
  kWSAENETDOWN = 10050,
  kWSAENETUNREACH = 10051,
  kWSAENETRESET = 10052,
  kWSAECONNABORTED = 10053,
  kWSAECONNRESET = 10054,
  kWSAENOBUFS = 10055,
  kWSAEISCONN = 10056,
  kWSAENOTCONN = 10057,
  kWSAESHUTDOWN = 10058,
  kWSAETOOMANYREFS = 10059,
  kWSAETIMEDOUT = 10060,
  kWSAECONNREFUSED = 10061,
  kWSAELOOP = 10062,
  kWSAENAMETOOLONG = 10063,
  kWSAEHOSTDOWN = 10064,
  kWSAEHOSTUNREACH = 10065,
  kWSAENOTEMPTY = 10066,
  kWSAEPROCLIM = 10067,
  kWSAEUSERS = 10068,
  kWSAEDQUOT = 10069,
  kWSAESTALE = 10070,
  kWSAEREMOTE = 10071,
  kWSASYSNOTREADY = 10091,
  kWSAVERNOTSUPPORTED = 10092,
  kWSANOTINITIALISED = 10093,
  kWSAEDISCON = 10101,
  kWSAHOST_NOT_FOUND = 11001,
  kWSATRY_AGAIN = 11002,
  kWSANO_RECOVERY = 11003,
  kWSANO_DATA = 11004,
};

// WSAAsyncSelect events.
enum : long {
  kFdRead = 0x01,
  kFdWrite = 0x02,
  kFdOob = 0x04,
  kFdAccept = 0x08,
  kFdConnect = 0x10,
  kFdClose = 0x20,
  kFdAll = 0x3F
};

// Winsock structure layouts (checked against the public header's by the tests).
struct WsFdSet {
  std::uint32_t fd_count;
  SOCKET fd_array[64];
};
constexpr std::uint32_t kFdSetSize = 64;

struct WsHostent {
  char *h_name;
  char **h_aliases;
  short h_addrtype;
  short h_length;
  char **h_addr_list;
};
struct WsServent {
  char *s_name;
  char **s_aliases;
  short s_port;
  char *s_proto;
};
struct WsProtoent {
  char *p_name;
  char **p_aliases;
  short p_proto;
};
struct WsLinger {
  std::uint16_t l_onoff;
  std::uint16_t l_linger;
};
struct WsInAddr {
  std::uint32_t s_addr;
};
struct WsData {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[257];
  char szSystemStatus[129];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char *lpVendorInfo;
};
static_assert(sizeof(WsFdSet) == 4 + 64 * 4);
static_assert(offsetof(WsHostent, h_addrtype) == 2 * sizeof(void *));
static_assert(offsetof(WsHostent, h_addr_list) == 3 * sizeof(void *));
static_assert(offsetof(WsData, szDescription) == 4 && offsetof(WsData, szSystemStatus) == 261);
static_assert(offsetof(WsData, iMaxSockets) == 390);

// errno -> WSAE code (unknown values give WSAEINVAL), and setting it as the
// thread's last error.
int WsaErrorFromErrno(int err);
int FailErrno(int err);   // sets the mapped code, returns SOCKET_ERROR
int Fail(int wsa_error);  // sets the code, returns SOCKET_ERROR

// WSAStartup was called and not yet balanced by WSACleanup; when not, the
// thread's error becomes WSANOTINITIALISED.
bool CheckStarted();

// True when fd is an open socket descriptor.
bool IsSocket(int fd);

// ---- asynchronous select (async_select.cpp) ----
// Re-enables events after the calls that re-enable them.
void Reenable(int fd, long events);
// A socket's connection state changed (listen, connect started or done).
void NoteStateChange(int fd, bool connecting);
// The socket is being closed: its registration ends.
void ForgetSocket(int fd);
// The registration of a socket, for accept's inheritance; false when none.
bool RegistrationOf(int fd, HWND &hwnd, UINT &msg, long &events);
bool HasRegistration(int fd);
// The last WSACleanup of the process ends every registration.
void ForgetAllRegistrations();
int Register(int fd, HWND hwnd, UINT msg, long events);

// ---- asynchronous database lookups (async_lookup.cpp) ----
// The last WSACleanup of the process cancels every pending lookup.
void CancelAllLookups();

// ---- blocking calls with a blocking hook (blocking.cpp) ----
// True when the thread has a hook installed, so blocking calls run it.
bool HookInstalled();
// Waits until fd polls for `events`, running the hook meanwhile. Returns 0
// when ready, or SOCKET_ERROR with WSAEINTR (cancelled) / WSAEINPROGRESS
// (a blocking call is already running on this thread).
int HookedWait(int fd, short events);
// Marks the thread as inside a blocking call for the duration of a scope.
class BlockingScope {
 public:
  BlockingScope();
  ~BlockingScope();
  bool ok() const { return ok_; }
  BlockingScope(const BlockingScope &) = delete;
  BlockingScope &operator=(const BlockingScope &) = delete;

 private:
  bool ok_;
};

}  // namespace qx::ws
