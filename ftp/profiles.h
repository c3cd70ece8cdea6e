// The FTP client's settings: options and recent hosts in section "Ftp" of
// "QXAPPS.INI", named connection profiles in "QXFTP.INI" (one section each),
// and the scrambling of stored passwords.
#ifndef QX_FTP_PROFILES_H
#define QX_FTP_PROFILES_H

#include <cstdint>
#include <string>
#include <vector>

constexpr const char *kFtpSection = "Ftp";
constexpr int kRecentHostCount = 9;

struct FTP_OPTIONS {
  int deletePrompt = 1;     // "Delete"
  int overwritePrompt = 1;  // "OverWrite" (written back as "Overwrite")
  int dropCheck = 1;        // "DropCheck"
  int autoSelect = 0;       // "AutoSelect"
  std::string anonymousName;
  std::string lastConfig;
};

// The options in force (read at start-up, changed by the Options menu).
extern FTP_OPTIONS g_Options;

struct HOST_PROFILE {
  std::string host;
  std::string user;
  std::string password;
  std::string account;
  std::string remoteDirectory;
  std::string localDirectory;
};

// Full paths of the two files, found along the search path or created empty
// in the current directory ("QXFTP.INI" owner-only: it holds passwords).
extern char g_FtpIni[260];
extern char g_AppsIni[260];
void LocateIniFiles();

// USERNAME (else "guest") followed by "@".
std::string DefaultAnonymousName();
void ReadOptions(FTP_OPTIONS *options);
// Writes "0" or "1" under the key.
void WriteOption(const char *key, int value);
void WriteLastConfig(const std::string &name);

// Hex text of the password behind the 4-byte time, each byte chained to the
// one before; `now` is the time in seconds.
std::string ScramblePassword(const std::string &password, uint32_t now);
// The password, or empty when the text is not hex pairs of at least 4 bytes.
std::string UnscramblePassword(const std::string &hex);
// The older form of the "PWD" key (read only).
std::string UnscrambleOldPassword(const std::string &text);

// Names of the sections of "QXFTP.INI" that hold a "Host" key, in file order.
std::vector<std::string> HostProfileList();
bool LoadProfile(const std::string &name, HOST_PROFILE *profile);
// Empty on success, else the message for the user (the name is refused when a
// section header cannot hold it; nothing is written then).
std::string SaveProfile(const std::string &name, const HOST_PROFILE &profile, uint32_t now);
// False when there is no profile of that name (nothing changes).
bool DeleteProfile(const std::string &name);
// Whether the Host dialog shows a user's password in clear ("anonymous", "ftp").
bool PasswordShownInClear(const std::string &user);

// Puts the host first in FILE_0..FILE_8, dropping an older copy of it.
void AddRecentHost(const std::string &host);
std::vector<std::string> RecentHosts();

#endif
