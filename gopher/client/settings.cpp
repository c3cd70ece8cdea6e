// The settings the configuration dialog writes and the recent-servers list.
#include "settings.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <windows.h>

namespace {

std::string RecentKey(int index) { return "FILE_" + std::to_string(index); }

std::string ReadRecent(const char *appsIni, int index) {
  char text[kMaxSettingText + 1] = {};
  GetPrivateProfileStringA(kSettingsSection, RecentKey(index).c_str(), "", text, sizeof text, appsIni);
  return text;
}

bool SameText(const std::string &a, const std::string &b) {
  return a.size() == b.size() && _strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

}  // namespace

bool WriteConfig(const char *appsIni, const GOPHER_CONFIG &config) {
  char number[16];
  bool ok = true;
  snprintf(number, sizeof number, "%d", config.clearFirst);
  ok = WritePrivateProfileStringA(kSettingsSection, "ClearFirst", number, appsIni) && ok;
  snprintf(number, sizeof number, "%d", config.initialAction);
  ok = WritePrivateProfileStringA(kSettingsSection, "InitialAction", number, appsIni) && ok;
  const struct {
    const char *key;
    const std::string &value;
  } texts[] = {{"HomeGopherHost", config.homeHost},
               {"HomeCheckpoint", config.homeCheckpoint},
               {"HomeBookmark", config.homeBookmark},
               {"UserTelnet", config.userTelnet},
               {"UserTN3270", config.userTn3270}};
  for (const auto &t : texts)
    ok = WritePrivateProfileStringA(kSettingsSection, t.key, t.value.substr(0, kMaxSettingText).c_str(), appsIni) && ok;
  return ok;
}

std::string RecentServerEntry(const std::string &host, int port) {
  if (port == kDefaultGopherPort) return host;
  return host + " (" + std::to_string(port) + ")";
}

void RememberServer(const char *appsIni, const std::string &host, int port) {
  if (host.empty()) return;
  std::string carried = RecentServerEntry(host, port);
  const std::string entry = carried;
  for (int i = 0; i < kRecentServerKeys; ++i) {
    const std::string old = ReadRecent(appsIni, i);
    WritePrivateProfileStringA(kSettingsSection, RecentKey(i).c_str(), carried.c_str(), appsIni);
    // The new server's old place, or the end of the list, takes the last carried entry.
    if (old.empty() || SameText(old, entry)) return;
    carried = old;
  }
}

std::vector<std::string> ReadRecentServers(const char *appsIni) {
  std::vector<std::string> list;
  for (int i = 0; i < kRecentServerKeysRead; ++i) {
    std::string entry = ReadRecent(appsIni, i);
    if (entry.empty()) break;
    list.push_back(std::move(entry));
  }
  return list;
}

int PortOfEntry(const std::string &entry) {
  const size_t open = entry.find('(');
  if (open == std::string::npos) return kDefaultGopherPort;
  const long port = strtol(entry.c_str() + open + 1, nullptr, 10);
  return port >= 1 && port <= 65535 ? static_cast<int>(port) : kDefaultGopherPort;
}

std::string HostOfEntry(const std::string &text) {
  std::string host = text.substr(0, text.find('('));
  while (!host.empty() && isspace(static_cast<unsigned char>(host.back()))) host.pop_back();
  const size_t start = host.find_first_not_of(" \t");
  return start == std::string::npos ? std::string() : host.substr(start);
}

int ScrollPort(int port, int code, int thumb) {
  switch (code) {
    case SB_LINEUP: port += 1; break;
    case SB_LINEDOWN: port -= 1; break;
    case SB_PAGEUP: port += 8; break;
    case SB_PAGEDOWN: port -= 8; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: port = thumb; break;
    default: return port;
  }
  return std::clamp(port, kChooserPortMin, kChooserPortMax);
}

bool ParsePortText(const std::string &text, int *port) {
  size_t b = text.find_first_not_of(' '), e = text.find_last_not_of(' ');
  if (b == std::string::npos) return false;
  const std::string digits = text.substr(b, e - b + 1);
  if (digits.empty() || digits.size() > 5 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return isdigit(static_cast<unsigned char>(c)); }))
    return false;
  const long value = strtol(digits.c_str(), nullptr, 10);
  if (value < 1 || value > 65535) return false;
  *port = static_cast<int>(value);
  return true;
}
