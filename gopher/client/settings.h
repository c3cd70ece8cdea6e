// The gopher client's settings in section "burrowview" of the shared INI
// file that the configuration dialog writes, and the list of recently used
// servers ("FILE_0" to "FILE_18") that the server chooser shows.
#ifndef QX_GOPHER_CLIENT_SETTINGS_H
#define QX_GOPHER_CLIENT_SETTINGS_H

#include <string>
#include <vector>

constexpr const char *kSettingsSection = "burrowview";
constexpr int kRecentServerKeys = 19;      // FILE_0 .. FILE_18 are written
constexpr int kRecentServerKeysRead = 20;  // the chooser reads at most this many
constexpr int kDefaultGopherPort = 70;
constexpr int kChooserPortMin = 1, kChooserPortMax = 32767;
constexpr size_t kMaxSettingText = 255;

// What the configuration dialog edits.
struct GOPHER_CONFIG {
  int initialAction = 3;  // 0 home gopher, 1 home checkpoint, 2 home bookmark, 3 server chooser
  int clearFirst = 1;
  std::string homeHost, homeCheckpoint, homeBookmark;
  std::string userTelnet, userTn3270;
};
// Writes ClearFirst and InitialAction as "%d", then the home names and the
// two templates; false when the INI file could not be written.
bool WriteConfig(const char *appsIni, const GOPHER_CONFIG &config);

// "host", or "host (port)" when the port is not 70.
std::string RecentServerEntry(const std::string &host, int port);
// Puts the server at the head of the list: once (compared without regard to
// case), newest first, at most 19. Nothing for an empty host.
void RememberServer(const char *appsIni, const std::string &host, int port);
// The list as the chooser fills it: from FILE_0 up to the first empty key.
std::vector<std::string> ReadRecentServers(const char *appsIni);
// The port of a list entry: the number after its '(' (70 when there is none
// or it is no port).
int PortOfEntry(const std::string &entry);
// The host of the chooser's text: up to a '(' with the blanks before it cut.
std::string HostOfEntry(const std::string &text);
// The port after a scroll bar action (SB_LINEUP +1, SB_LINEDOWN -1,
// SB_PAGEUP +8, SB_PAGEDOWN -8, SB_THUMBTRACK/SB_THUMBPOSITION the thumb),
// held to 1..32767.
int ScrollPort(int port, int code, int thumb);
// The port edit's text as a port: false unless it is 1 to 65535.
bool ParsePortText(const std::string &text, int *port);

#endif
