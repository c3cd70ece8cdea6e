// Mail settings: every key of "QXMAIL.INI" read per user over [default], the
// boolean rule, the derived values, and the logic of the Configure dialog.
#ifndef QX_MAIL_SETTINGS_H
#define QX_MAIL_SETTINGS_H

#include <string>
#include <vector>

// Private INI files as GetPrivateProfileStringA / WritePrivateProfileStringA
// see them. The program uses those calls (the default); tests may plug in their own.
class ProfileAccess {
 public:
  virtual ~ProfileAccess() = default;
  // The value (at most width - 1 characters) or def when file, section or key is missing.
  virtual std::string Get(const std::string &file, const std::string &section, const std::string &key,
                          const std::string &def, size_t width) = 0;
  virtual bool Set(const std::string &file, const std::string &section, const std::string &key,
                   const std::string &value) = 0;
  // Every key of section, in file order.
  virtual std::vector<std::string> Keys(const std::string &file, const std::string &section) = 0;
};
void SetProfileAccess(ProfileAccess *access);  // nullptr: the private-profile calls
ProfileAccess *GetProfileAccess();

struct MAIL_SETTINGS {
  std::string iniFile = "QXMAIL.INI";  // the full path when OpenFile found it
  std::string user;                    // the user's section
  std::string indexFormat, mailDir, mailHost, organization, personalName, editor;
  std::string replyString, replyTo, indentString;
  int interval = 5, wordWrap = 76;
  int login = 1, delayedSend = 0, timed = 0, ccSelf = 0, verbose = 0, includeReply = 0;
  int includeHeader = 0, autoAdvance = 1, reDirectPrompt = 0, deleteReadFromServer = 1;
  int useSound = 0, saveSent = 0, reverseSortOrder = 0, sortOrder = 3;
  std::string readFont;
  int readSize = 10, readWeight = 700;
  std::string composeFont;
  int composeSize = 9, composeWeight = 400;
  // Derived on every load.
  bool indexFormatCurrent = false;
  std::string ownAddress, currentFolder, lastTargetFolder;
};
MAIL_SETTINGS &Settings();

constexpr const char *kDefaultReplyString = "On <Date>, in <Message-Id>, <Author> wrote:";
constexpr const char *kIndexFormatCurrent = "BytePacked";

std::string ReadSetting(const std::string &key, const std::string &def, size_t width);
int ReadBoolSetting(const std::string &key, int def);
int ReadIntSetting(const std::string &key, int def);
// 1 when the mail directory exists, else the error number of the access test.
int LoadSettings();

// The user's own address: "user@host", or "user@[host]" for a dotted IPv4 host.
std::string MakeOwnAddress(const std::string &user, const std::string &host);
bool IsDottedIPv4(const std::string &host);
// The height of a font's LOGFONT for a size in points on a device of dpi.
int FontHeight(int points, int dpi);
// Writes IndexFormat=BytePacked for the user and marks the index format current.
bool MarkIndexFormatCurrent();

// What the Configure dialog holds when OK is pressed.
struct CONFIGURE_VALUES {
  std::string mailDir, mailHost, organization, personalName, editor, replyTo;
  std::string replyString, indentString;  // taken only while includeReply is ticked
  std::string wordWrapText, intervalText;
  int ccSelf = 0, saveSent = 0, verbose = 0, useSound = 0, reDirectPrompt = 0, autoAdvance = 0;
  int deleteReadFromServer = 0, includeReply = 0, includeHeader = 0, delayedSend = 0, login = 0, timed = 0;
};
CONFIGURE_VALUES ConfigureInitialValues();

struct CONFIGURE_RESULT {
  int dialogResult = 0;         // 1: the dialog ends (OK); 0: it stays open
  int failedWrites = 0;         // > 0: "Error writing configuration" (string 45)
  bool mailDirMissing = false;  // "Unable to access MailDir directory %s" (string 46)
  bool killTimer = false;       // Timed went from on to off
  bool setTimer = false;        // Timed is on: timer 1 every 60000 ms, countdown = Interval
};
CONFIGURE_RESULT ConfigureApply(const CONFIGURE_VALUES &values);

constexpr int kWordWrapMin = 40, kWordWrapMax = 132;
constexpr int kIntervalMin = 1, kIntervalMax = 7200;

#endif
