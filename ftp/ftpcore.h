// The FTP client's sessions: the two panes, the control connection (commands,
// replies, login, current directory), active-mode data connections and the
// remote listing. Everything here runs on the program's one thread and waits
// by pumping window messages, so the window stays alive during a transfer.
// What a person sees (boxes, the status line, the Info dialog) goes through
// the FtpUi hooks, which the program points at its windows and tests at
// recorders.
#ifndef QX_FTP_FTPCORE_H
#define QX_FTP_FTPCORE_H

#include <cstdint>
#include <string>
#include <vector>

#include <windows.h>
// Last, so that the layer's names are not undone by standard headers.
#include <winsock.h>

// ---- Panes and their entries ----

// Pane kinds: closed, local, and the remote host types of the listing parser.
constexpr int kPaneClosed = -1;  // also "remote, host type not known yet"
constexpr int kPaneLocal = 1;
constexpr int kHostUnix = 2;      // "ls -l" lines, with or without a "total" line
constexpr int kHostStaff = 3;     // "------" and "staff" at fixed columns
constexpr int kHostVms = 4;       // DISK$USER:[DIR] listings
constexpr int kHostRules = 5;     // a rule line of "ftp.cfg"
constexpr int kHostNameList = 6;  // NLST names only

// Entry flags.
constexpr unsigned kEntryDirectory = 0x01;
constexpr unsigned kEntrySelected = 0x02;
constexpr unsigned kEntryMaybeDirectory = 0x08;  // a link, or an NLST name
constexpr unsigned kEntryDropTarget = 0x10;

struct ENTRY_NODE {
  unsigned flags = 0;
  uint64_t size = 0;
  std::string name;
};

constexpr int kHostNameSize = 64;
constexpr int kPathSize = 256;

struct FTP_PANE {
  int kind = kPaneClosed;
  SOCKET control = INVALID_SOCKET;
  char host[kHostNameSize] = {};
  std::string ruleLine;  // the "ftp.cfg" line chosen at login (kind 5)
  std::vector<ENTRY_NODE> entries;
  char path[kPathSize] = {};  // "host:/dir" for a remote pane
  int prefixLength = 0;       // length of "host:" in path
  int groupColumn = 1;        // Unix listings: owner and group both shown
  std::string greeting;       // first line of the login greeting
};

extern FTP_PANE g_Panes[2];
extern int g_ActivePane;
extern int g_Unattended;      // a command-line download: no Info dialog
extern volatile int g_Abort;  // the frame is gone: every wait ends
// How long a reply or a data connection may take before the wait gives up.
extern DWORD g_ReplyTimeoutMs;
extern DWORD g_AcceptTimeoutMs;

// ---- What a person sees ----

class FtpUi {
 public:
  virtual ~FtpUi() = default;
  // A box with the error icon.
  virtual void ShowError(const char *text, const char *caption) {}
  // The status line below the panes.
  virtual void SetStatus(const char *text) {}
  // One line for the modeless "Info" dialog (lines of multi-line replies).
  virtual void InfoAdd(const char *line) {}
  // "Host of unknown type encountered": true when the user wants QXFTP.LOG.
  virtual bool AskLogUnknownHost() { return false; }
  // The Open Remote menu item may be chosen again.
  virtual void EnableOpenRemote() {}
  // Dispatches queued window messages; false once WM_QUIT was taken (it is
  // posted again for the main loop).
  virtual bool PumpMessages();
};
void SetFtpUi(FtpUi *ui);
FtpUi &Ui();

// ---- Control connection ----

// The last reply line (at most 255 characters) and the first line of the
// latest reply.
const char *LastReplyLine();
const std::string &FirstReplyLine();
int ReplyLineCount();

SOCKET FtpConnect(int pane);
int FtpSendAll(SOCKET s, const char *data, int length);
int FtpRecv(SOCKET s, char *buffer, int size);
// The reply's class 1..5, -1 when the connection dropped or the server said
// 421. Quiet: a dropped connection counts as 221 and gives 0, without a box.
int ReadReply(int quiet, int pane);
void ShowReplyError();
void ClosePaneConnection(int pane);
// Sends "VERB argument\r\n" (or "VERB\r\n" for a null argument). Refuses, with
// a box and without sending, an argument that holds CR, LF or NUL and a line
// that does not fit the 256-byte command buffer. Returns 0 or -1.
int FtpCommand(int pane, const char *verb, const std::string *argument);
// FtpCommand then ReadReply; -1 when the command was refused or failed.
int FtpCommandReply(int pane, const char *verb, const std::string *argument, int quiet = 0);

struct LOGIN_FIELDS {
  std::string user;
  std::string password;
  std::string account;
  std::string anonymousName;  // the password when the profile's is empty
};
// Greeting, USER, PASS, ACCT. 1 when logged in; 0 when the login failed (the
// connection is closed and the reply shown); -1 when the greeting never came.
int FtpLogin(int pane, const LOGIN_FIELDS &fields);

// ---- Data connections (active mode) ----

// "PORT h1,h2,h3,h4,p1,p2" for an address and port in host order.
std::string PortArgument(uint32_t address, unsigned short port);
SOCKET OpenDataPort(int pane);
// Sends the transfer command and waits for the server to connect. The wait
// ends on success, on a reply on the control connection other than 1xx, on
// the abort flag and after g_AcceptTimeoutMs. Only a connection from the
// control connection's peer is taken. Returns the data socket or
// INVALID_SOCKET (the listening socket is closed either way).
SOCKET AcceptData(SOCKET listener, int pane, const char *verb, const std::string *argument);
int CloseDataAndReply(int pane, SOCKET data);

// ---- Current directory ----

// The text between the first two quote characters of a PWD reply; a doubled
// quote inside stands for one. False when there are not two.
bool ParsePwdReply(const char *line, char quote, std::string *directory);
int QueryDirectory(int pane);
int ChangeDirectory(int pane, const std::string &directory, int report);

// ---- Remote listing ----

// The routines of the listing parser, exposed for the rules of "ftp.cfg".
std::string ListField(const std::string &line, int n);
std::string ColumnWord(const std::string &line, int k);
std::string ColumnRange(const std::string &line, int k, int e);

// Reads lines from a data connection through a 1024-byte buffer.
class ListingReader {
 public:
  explicit ListingReader(SOCKET s) : socket_(s) {}
  // The next line, without CR LF; an empty line reads as "@". Lines are cut
  // at 1023 characters. A last line without LF is delivered too. Returns its
  // length, or the receive result (0 or negative) at the end.
  int Next(std::string *line);

 private:
  SOCKET socket_;
  char buffer_[1024];
  int start_ = 0, count_ = 0;
  bool ended_ = false;
};

// Host type of a listing's first line (-1 when it is not recognised). A
// "total" line or a line shaped as an "ls -l" entry gives the Unix type.
int DetectHostKind(const std::string &firstLine, const std::string &secondLine);
// One listing line of a built-in host type as an entry. False when the line
// holds no entry. For VMS, `next` supplies the continuation line.
bool ParseUnixLine(const std::string &line, int defaultGroup, ENTRY_NODE *entry);
bool ParseStaffLine(const std::string &line, ENTRY_NODE *entry);
bool ParseVmsLine(const std::string &line, const std::string *continuation, ENTRY_NODE *entry, bool *usedContinuation);
bool ParseNameLine(const std::string &line, ENTRY_NODE *entry);
// The pane's remote listing: LIST (NLST for a name-list host), parsed into
// its entry list. Returns QueryDirectory's result, or -1 when no data port
// could be opened.
int ParseRemoteListing(int pane);

// The machine's own address for PORT; set at start-up, refreshed from the
// control socket at PORT time.
extern uint32_t g_LocalAddress;

#endif
