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
  // A warning box with OK only.
  virtual void ShowWarning(const char *text, const char *caption) {}
  // A warning box with OK and Cancel: true for OK.
  virtual bool AskContinue(const char *text, const char *caption) { return false; }
  // "Transfer Mode": 1 text (TYPE A), 0 binary; its check box "All Files"
  // toggles *allFiles.
  virtual int AskTransferMode(const char *name, int *allFiles) { return 0; }
  // "File Already Exists": 0 cancel, 1 overwrite, 2 rename, 3 overwrite all.
  virtual int AskOverwrite(const char *name) { return 0; }
  // "Exists" or "Invalid" (the dialog's name): a new name; false on Cancel.
  virtual bool AskNewName(const char *dialog, const char *name, std::string *newName) { return false; }
  // "Are you sure you want to Delete ?": 0 skip, 1 delete, 2 all.
  virtual int AskDelete(const char *name) { return 0; }
  // "Rename File" and "Make Directory": the name typed; false on Cancel.
  virtual bool AskRename(const char *name, std::string *newName) { return false; }
  virtual bool AskMakeDirectory(std::string *name) { return false; }
  // The "File Transfer" dialog of a running copy.
  virtual void TransferOpen() {}
  virtual void TransferName(const char *name) {}
  virtual void TransferProgress(int filePercent, int totalPercent, uint64_t fileBytes, uint64_t copyBytes) {}
  // True once the person closed the dialog: the copy stops.
  virtual bool TransferCancelled() { return false; }
  virtual void TransferClose() {}
  // A pane's list, path or selection changed: repaint it.
  virtual void PaneChanged(int pane) {}
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

// ---- Entry lists and selection ----

extern uint64_t g_SelectionTotal;  // bytes of the selected entries
extern int g_Anchor[2];            // last clicked entry of each pane, -1 none

// Directories first, then names byte for byte.
void SortEntries(std::vector<ENTRY_NODE> &entries);
// The pane's local directory (its path) read into its list, unsorted.
void ListLocalDirectory(int pane);
bool PaneOpen(int pane);
// Re-reads (local or remote) and sorts the pane's list; PaneChanged follows.
void RefreshPane(int pane);
bool PaneHasSelection(int pane);
// The pane holding a selection (0 first), -1 when neither does.
int SourcePane();
void ClearSelection(int pane);
// A click on entry `index` (-1: below the entries) with Ctrl or Shift held;
// the other pane's selection is cleared. Returns the status text.
std::string SelectEntry(int pane, int index, bool control, bool shift);
// The entry under a point of a list laid out in columns, -1 when none.
int HitTestEntry(int x, int y, int rowHeight, int rows, int columnWidth, int firstColumn, int count);
ENTRY_NODE *FindEntry(int pane, const std::string &name);

// ---- Copying and file commands ----

extern int g_TextMode;  // 1 TYPE A, 0 TYPE I
extern int g_AllFiles;  // no further mode question in this copy
// Copies the selected entries of one pane into the other. With `update`
// each copied file is entered into the target's list. Returns the number of
// files copied.
int CopySelection(int update);
// Delete and Rename work on the selection, Mkdir on the active pane; each
// asks its question through FtpUi and returns how many entries it changed.
int DeleteSelection();
int RenameSelection();
bool MakeDirCommand();
// A command line typed by the user, sent to the active remote pane (else the
// other one); its first word upper-cased, QUIT refused. Returns the reply's
// class (-1 when nothing was sent) and its last line.
int SendRawCommand(const std::string &typed, std::string *replyLine);
// A remote file (at most 20000 bytes) or the raw listing ("." entry) in
// Notepad through a temporary file; a local file directly.
bool ViewInNotepad(int pane, const std::string &name, uint64_t size, int listing);
// Deletes the temporary files of viewers that ended (all of them with
// `all`, at exit). Returns how many files were deleted.
int ReapViewers(bool all);

// ---- Listing rules of "ftp.cfg" ----

// The position just after the first "X:" outside double-quoted text.
bool FindRule(const std::string &line, char letter, size_t *at);
// The quoted text of rule X (empty when absent).
std::string RuleText(const std::string &line, char letter);
// The line of the rules file (its whole text) that the greeting's first line
// selects: every H: text in it, no h: text; a line that has neither F: nor
// Z: is never selected. Empty when none fits.
std::string SelectRuleLine(const std::string &fileText, const std::string &greeting);
// The same for "ftp.cfg" found along the search path; empty without the file.
std::string SelectHostRule(const std::string &greeting);
char RuleQuoteCharacter(const std::string &ruleLine);
bool RuleUsesNameList(const std::string &ruleLine);
std::vector<std::string> RuleAddedDirectories(const std::string &ruleLine);
bool RuleDropsLine(const std::string &ruleLine, const std::string &line);
// Where B: splits the line (an index), 0 when it does not.
size_t RuleSplitColumn(const std::string &ruleLine, const std::string &line);
// F:, D:, K:, L: and S: applied to one listing line; false when it names no
// entry (no name, or ".").
bool ParseRuleLine(const std::string &ruleLine, const std::string &line, ENTRY_NODE *entry);
// The path C: forms for a subdirectory of the directory; empty without C:.
std::string RuleSubdirectoryPath(const std::string &ruleLine, const std::string &directory, const std::string &name);

// The machine's own address for PORT; set at start-up, refreshed from the
// control socket at PORT time.
extern uint32_t g_LocalAddress;

#endif
