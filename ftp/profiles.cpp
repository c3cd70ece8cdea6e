// Options, recent hosts, connection profiles and password scrambling.
#include "profiles.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include <windows.h>

char g_FtpIni[260] = "QXFTP.INI";
char g_AppsIni[260] = "QXAPPS.INI";
FTP_OPTIONS g_Options;

namespace {

// Stands for "no such key": no INI value can hold these bytes.
constexpr const char *kMissing = "\x01\x02missing\x02\x01";

std::string ReadKey(const char *file, const std::string &section, const char *key, DWORD size,
                    bool *present = nullptr) {
  std::vector<char> buffer(size + 1);
  GetPrivateProfileStringA(section.c_str(), key, kMissing, buffer.data(), size, file);
  const bool found = strcmp(buffer.data(), kMissing) != 0;
  if (present) *present = found;
  return found ? std::string(buffer.data()) : std::string();
}

// The value of the key, else of the older key when the first is empty.
std::string ReadWithFallback(const std::string &section, const char *key, const char *older, DWORD size) {
  std::string value = ReadKey(g_FtpIni, section, key, size);
  if (value.empty()) value = ReadKey(g_FtpIni, section, older, size);
  return value;
}

void WriteOrRemove(const std::string &section, const char *key, const std::string &value) {
  WritePrivateProfileStringA(section.c_str(), key, value.empty() ? nullptr : value.c_str(), g_FtpIni);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Finds the file along the search path, else creates it empty in the
// current directory with the given permission mask.
void LocateOne(const char *name, char *path, size_t size, mode_t mask) {
  OFSTRUCT found{};
  if (OpenFile(name, &found, OF_EXIST) != HFILE_ERROR) {
    snprintf(path, size, "%s", found.szPathName);
    return;
  }
  char directory[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof directory, directory);
  std::string full = directory;
  if (!full.empty() && full.back() != '\\') full += '\\';
  full += name;
  if (full.size() >= size) full = name;  // a current directory too deep: the bare name
  memcpy(path, full.c_str(), full.size() + 1);
  const mode_t old = umask(mask);
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  umask(old);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

}  // namespace

void LocateIniFiles() {
  LocateOne("QXFTP.INI", g_FtpIni, sizeof g_FtpIni, 077);  // it holds passwords
  LocateOne("QXAPPS.INI", g_AppsIni, sizeof g_AppsIni, 022);
}

std::string DefaultAnonymousName() {
  char user[128] = {};
  if (!GetEnvironmentVariableA("USERNAME", user, sizeof user) || !user[0]) strcpy(user, "guest");
  return std::string(user) + "@";
}

void ReadOptions(FTP_OPTIONS *options) {
  options->deletePrompt = static_cast<int>(GetPrivateProfileIntA(kFtpSection, "Delete", 1, g_AppsIni));
  options->overwritePrompt = static_cast<int>(GetPrivateProfileIntA(kFtpSection, "OverWrite", 1, g_AppsIni));
  options->dropCheck = static_cast<int>(GetPrivateProfileIntA(kFtpSection, "DropCheck", 1, g_AppsIni));
  options->autoSelect = static_cast<int>(GetPrivateProfileIntA(kFtpSection, "AutoSelect", 0, g_AppsIni));
  bool present = false;
  options->anonymousName = ReadKey(g_AppsIni, kFtpSection, "AnonymousName", 128, &present);
  if (!present) options->anonymousName = DefaultAnonymousName();
  options->lastConfig = ReadKey(g_AppsIni, kFtpSection, "LastConfig", 64);
}

void WriteOption(const char *key, int value) {
  WritePrivateProfileStringA(kFtpSection, key, value ? "1" : "0", g_AppsIni);
}

void WriteLastConfig(const std::string &name) {
  WritePrivateProfileStringA(kFtpSection, "LastConfig", name.c_str(), g_AppsIni);
}

std::string ScramblePassword(const std::string &password, uint32_t now) {
  std::string plain;
  for (int i = 0; i < 4; ++i) plain += static_cast<char>((now >> (8 * i)) & 0xFF);
  plain += password;
  std::string hex;
  unsigned key = 0xFF;
  for (unsigned char b : plain) {
    const unsigned c = b ^ key;
    key = c;
    char pair[3];
    snprintf(pair, sizeof pair, "%02X", c);
    hex += pair;
  }
  return hex;
}

std::string UnscramblePassword(const std::string &hex) {
  if (hex.size() % 2 != 0 || hex.size() < 8) return std::string();
  std::string plain;
  unsigned key = 0xFF;
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexValue(hex[i]), low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return std::string();
    const unsigned v = static_cast<unsigned>(high * 16 + low);
    plain += static_cast<char>(key ^ v);
    key = v;
  }
  return plain.substr(4);
}

std::string UnscrambleOldPassword(const std::string &text) {
  std::string plain;
  for (size_t i = 0; 2 * i + 1 < text.size(); ++i) {
    const char first = text[2 * i];
    int high;
    if (isdigit(static_cast<unsigned char>(first)))
      high = first - '0';
    else if (isalpha(static_cast<unsigned char>(first)))
      high = toupper(static_cast<unsigned char>(first)) - 'A';
    else
      high = 0;
    const int low = std::max(0, HexValue(text[2 * i + 1]));
    plain += static_cast<char>(((high << 4) + low - static_cast<int>(i)) & 0xFF);
  }
  return plain;
}

std::vector<std::string> HostProfileList() {
  std::vector<char> buffer(65536);
  const DWORD length = GetPrivateProfileSectionNamesA(buffer.data(), static_cast<DWORD>(buffer.size()), g_FtpIni);
  std::vector<std::string> names;
  for (DWORD i = 0; i < length && buffer[i];) {
    const std::string name(buffer.data() + i);
    i += static_cast<DWORD>(name.size()) + 1;
    bool present = false;
    ReadKey(g_FtpIni, name, "HOST", 64, &present);
    if (present) names.push_back(name);
  }
  return names;
}

bool LoadProfile(const std::string &name, HOST_PROFILE *profile) {
  bool present = false;
  profile->host = ReadKey(g_FtpIni, name, "Host", 64, &present);
  if (!present) return false;
  profile->user = ReadWithFallback(name, "Username", "UID", 64);
  if (profile->user.empty()) profile->user = "anonymous";
  // Room for the longest password the dialog takes, scrambled (2 x (4 + 63)).
  const std::string scrambled = ReadKey(g_FtpIni, name, "Password", 512);
  profile->password = UnscramblePassword(scrambled);
  if (profile->password.empty()) profile->password = UnscrambleOldPassword(ReadKey(g_FtpIni, name, "PWD", 512));
  profile->account = ReadWithFallback(name, "Account", "ACT", 64);
  profile->remoteDirectory = ReadWithFallback(name, "RemoteDirectory", "DIR", 256);
  profile->localDirectory = ReadWithFallback(name, "LocalDirectory", "LOCDIR", 128);
  return true;
}

std::string SaveProfile(const std::string &name, const HOST_PROFILE &profile, uint32_t now) {
  if (name.empty()) return "You need to specify a configuration name";
  for (unsigned char c : name)
    if (c == '[' || c == ']' || c < 0x20 || c == 0x7F)
      return "A configuration name cannot hold '[', ']' or control characters; choose another name";
  if (isspace(static_cast<unsigned char>(name.front())) || isspace(static_cast<unsigned char>(name.back())))
    return "A configuration name cannot begin or end with a blank; choose another name";
  if (!WritePrivateProfileStringA(name.c_str(), "Host", profile.host.c_str(), g_FtpIni))
    return std::string("The configuration could not be written to ") + g_FtpIni +
           "; check that the file and its directory are writable";
  WritePrivateProfileStringA(name.c_str(), "Username", profile.user.c_str(), g_FtpIni);
  WriteOrRemove(name, "Password", profile.password.empty() ? std::string() : ScramblePassword(profile.password, now));
  WriteOrRemove(name, "Account", profile.account);
  WriteOrRemove(name, "RemoteDirectory", profile.remoteDirectory);
  WriteOrRemove(name, "LocalDirectory", profile.localDirectory);
  return std::string();
}

bool DeleteProfile(const std::string &name) {
  bool present = false;
  ReadKey(g_FtpIni, name, "Host", 64, &present);
  if (!present) return false;
  WritePrivateProfileStringA(name.c_str(), nullptr, nullptr, g_FtpIni);
  return true;
}

bool PasswordShownInClear(const std::string &user) {
  return strcasecmp(user.c_str(), "anonymous") == 0 || strcasecmp(user.c_str(), "ftp") == 0;
}

void AddRecentHost(const std::string &host) {
  if (host.empty()) return;
  std::string carried = host;
  for (int i = 0; i < kRecentHostCount; ++i) {
    char key[16];
    snprintf(key, sizeof key, "FILE_%d", i);
    const std::string old = ReadKey(g_AppsIni, kFtpSection, key, 128);
    WritePrivateProfileStringA(kFtpSection, key, carried.c_str(), g_AppsIni);
    if (old.empty() || strcasecmp(old.c_str(), host.c_str()) == 0) return;
    carried = old;
  }
}

std::vector<std::string> RecentHosts() {
  std::vector<std::string> hosts;
  for (int i = 0; i < kRecentHostCount; ++i) {
    char key[16];
    snprintf(key, sizeof key, "FILE_%d", i);
    const std::string value = ReadKey(g_AppsIni, kFtpSection, key, 128);
    if (value.empty()) break;
    hosts.push_back(value);
  }
  return hosts;
}
