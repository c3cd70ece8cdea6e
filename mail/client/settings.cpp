// Mail settings: the keys of "QXMAIL.INI" read per user over [default], the
// boolean rule, derived values and the Configure dialog's OK logic.
#include "settings.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "mailstore.h"

// Last, so that the layer's C runtime names (fopen) are not undone by <cstdio>.
#include <windows.h>
#include <winsock.h>

namespace {

// The program's INI access: the private-profile calls of KERNEL32.
class Win32ProfileAccess : public ProfileAccess {
 public:
  std::string Get(const std::string &file, const std::string &section, const std::string &key, const std::string &def,
                  size_t width) override {
    std::vector<char> buffer(width > 0 ? width : 1);
    GetPrivateProfileStringA(section.c_str(), key.c_str(), def.c_str(), buffer.data(),
                             static_cast<DWORD>(buffer.size()), file.c_str());
    buffer.back() = '\0';
    return buffer.data();
  }
  bool Set(const std::string &file, const std::string &section, const std::string &key,
           const std::string &value) override {
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) != FALSE;
  }
  std::vector<std::string> Keys(const std::string &file, const std::string &section) override {
    std::vector<char> buffer(60000, '\0');
    DWORD n = GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.data(), static_cast<DWORD>(buffer.size()),
                                       file.c_str());
    std::vector<std::string> keys;
    for (size_t at = 0; at < n && at < buffer.size() && buffer[at];) {
      std::string key(buffer.data() + at);
      at += key.size() + 1;
      keys.push_back(std::move(key));
    }
    return keys;
  }
};

Win32ProfileAccess g_win32Profile;
MAIL_SETTINGS g_settings;
ProfileAccess *g_profile = &g_win32Profile;

constexpr const char *kDefaultSection = "default";
constexpr size_t kDefaultWidth = 255;
constexpr unsigned char kIndentMarker = 0xFF;

bool EqualsNoCase(const std::string &a, const char *b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return i == a.size() && b[i] == '\0';
}

std::string Get(const std::string &section, const std::string &key, const std::string &def, size_t width) {
  if (!g_profile) return def.substr(0, width > 0 ? width - 1 : 0);
  return g_profile->Get(g_settings.iniFile, section, key, def, width);
}

bool Put(const std::string &key, const std::string &value) {
  return g_profile && g_profile->Set(g_settings.iniFile, g_settings.user, key, value);
}

// Applies one step of the boolean rule: only a written form of the other value flips d.
int BoolStep(const std::string &text, int d) {
  static const char *kOn[] = {"TRUE", "1", "YES"};
  static const char *kOff[] = {"FALSE", "0", "NO"};
  for (const char *form : d ? kOff : kOn)
    if (EqualsNoCase(text, form)) return !d;
  return d;
}

// A number outside its range falls back to its default.
int ReadRangedInt(const std::string &key, int def, int low, int high) {
  int v = ReadIntSetting(key, def);
  return (v < low || v > high) ? def : v;
}

const char *BoolText(int v) { return v ? "True" : "False"; }

int Clamp(long v, int low, int high) { return v < low ? low : v > high ? high : static_cast<int>(v); }

}  // namespace

void SetProfileAccess(ProfileAccess *access) { g_profile = access ? access : &g_win32Profile; }
ProfileAccess *GetProfileAccess() { return g_profile; }
MAIL_SETTINGS &Settings() { return g_settings; }

std::string ReadSetting(const std::string &key, const std::string &def, size_t width) {
  std::string site = Get(kDefaultSection, key, def, kDefaultWidth);
  return Get(g_settings.user, key, site, width);
}

int ReadBoolSetting(const std::string &key, int def) {
  int d = def ? 1 : 0;
  d = BoolStep(Get(kDefaultSection, key, d ? "1" : "0", kDefaultWidth), d);
  return BoolStep(Get(g_settings.user, key, d ? "1" : "0", kDefaultWidth), d);
}

int ReadIntSetting(const std::string &key, int def) {
  std::string text = ReadSetting(key, std::to_string(def), 10);
  long v = std::strtol(text.c_str(), nullptr, 10);
  if (v < INT32_MIN || v > INT32_MAX) return def;
  return static_cast<int>(v);
}

// Whatever inet_addr reads as an address ("10.0.0.1", also "10.1" or
// "0x0a.0.0.1") is written in brackets; "255.255.255.255", which inet_addr
// cannot tell from a failure, is an address too.
bool IsDottedIPv4(const std::string &host) {
  if (host.empty()) return false;
  return host == "255.255.255.255" || inet_addr(host.c_str()) != INADDR_NONE;
}

std::string MakeOwnAddress(const std::string &user, const std::string &host) {
  return IsDottedIPv4(host) ? user + "@[" + host + "]" : user + "@" + host;
}

int FontHeight(int points, int dpi) { return -(points * dpi / 72); }

bool MarkIndexFormatCurrent() {
  bool ok = Put("IndexFormat", kIndexFormatCurrent);
  g_settings.indexFormatCurrent = true;
  return ok;
}

int LoadSettings() {
  MAIL_SETTINGS &s = g_settings;
  s.indexFormat = ReadSetting("IndexFormat", "None", 255);
  // The mail directory is read as wide as the start-up and the MAPI library
  // read it, so that two long names are never cut to one directory.
  s.mailDir = ReadSetting("MailDir", "C:\\QXTCP", 128);
  s.mailHost = ReadSetting("MailHost", "", 64);
  s.organization = ReadSetting("Organization", "", 128);
  s.personalName = ReadSetting("PersonalName", "", 64);
  s.editor = ReadSetting("Editor", "", 64);
  s.replyString = ReadSetting("ReplyString", kDefaultReplyString, 255);
  s.replyTo = ReadSetting("ReplyTo", "", 64);
  s.indentString = ReadSetting("IndentString", ">", 25);
  if (!s.indentString.empty() && static_cast<unsigned char>(s.indentString.back()) == kIndentMarker)
    s.indentString.pop_back();
  s.interval = ReadRangedInt("Interval", 5, kIntervalMin, kIntervalMax);
  s.wordWrap = ReadRangedInt("WordWrap", 76, kWordWrapMin, kWordWrapMax);
  s.login = ReadBoolSetting("Login", 1);
  s.delayedSend = ReadBoolSetting("DelayedSend", 0);
  s.timed = ReadBoolSetting("Timed", 0);
  s.ccSelf = ReadBoolSetting("CcSelf", 0);
  s.verbose = ReadBoolSetting("Verbose", 0);
  s.includeReply = ReadBoolSetting("IncludeReply", 0);
  s.includeHeader = ReadBoolSetting("IncludeHeader", 0);
  s.autoAdvance = ReadBoolSetting("AutoAdvance", 1);
  s.reDirectPrompt = ReadBoolSetting("ReDirectPrompt", 0);
  s.deleteReadFromServer = ReadBoolSetting("DeleteReadFromServer", 1);
  s.useSound = ReadBoolSetting("UseSound", 0);
  s.saveSent = ReadBoolSetting("SaveSent", 0);
  s.reverseSortOrder = ReadBoolSetting("ReverseSortOrder", 0);
  s.sortOrder = ReadRangedInt("SortOrder", 3, 0, 3);
  s.readFont = ReadSetting("ReadFont", "System", 80);
  s.readSize = ReadRangedInt("ReadSize", 10, 1, 200);
  s.readWeight = ReadRangedInt("ReadWeight", 700, 0, 1000);
  s.composeFont = ReadSetting("ComposeFont", "Fixedsys", 80);
  s.composeSize = ReadRangedInt("ComposeSize", 9, 1, 200);
  s.composeWeight = ReadRangedInt("ComposeWeight", 400, 0, 1000);

  s.indexFormatCurrent = EqualsNoCase(s.indexFormat, kIndexFormatCurrent);
  s.currentFolder = s.lastTargetFolder = s.mailDir;
  s.ownAddress = MakeOwnAddress(s.user, s.mailHost);
  if (_access(s.mailDir.c_str(), 0) != 0) return errno;
  DWORD attributes = GetFileAttributesA(s.mailDir.c_str());
  return (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) ? 1 : ENOTDIR;
}

CONFIGURE_VALUES ConfigureInitialValues() {
  const MAIL_SETTINGS &s = g_settings;
  CONFIGURE_VALUES v;
  v.mailDir = s.mailDir;
  v.mailHost = s.mailHost;
  v.organization = s.organization;
  v.personalName = s.personalName;
  v.editor = s.editor;
  v.replyTo = s.replyTo;
  v.replyString = s.replyString;
  v.indentString = s.indentString;
  v.wordWrapText = std::to_string(s.wordWrap);
  v.intervalText = std::to_string(s.interval);
  v.ccSelf = s.ccSelf;
  v.saveSent = s.saveSent;
  v.verbose = s.verbose;
  v.useSound = s.useSound;
  v.reDirectPrompt = s.reDirectPrompt;
  v.autoAdvance = s.autoAdvance;
  v.deleteReadFromServer = s.deleteReadFromServer;
  v.includeReply = s.includeReply;
  v.includeHeader = s.includeHeader;
  v.delayedSend = s.delayedSend;
  v.login = s.login;
  v.timed = s.timed;
  return v;
}

CONFIGURE_RESULT ConfigureApply(const CONFIGURE_VALUES &v) {
  MAIL_SETTINGS &s = g_settings;
  CONFIGURE_RESULT r;
  s.mailDir = v.mailDir.substr(0, 127);
  s.mailHost = v.mailHost.substr(0, 63);
  s.organization = v.organization.substr(0, 127);
  s.personalName = v.personalName.substr(0, 63);
  s.editor = v.editor.substr(0, 63);
  if (v.includeReply) {
    s.replyString = v.replyString.substr(0, 254);
    s.indentString = v.indentString.substr(0, 24);
  }
  s.replyTo = v.replyTo.substr(0, 63);
  bool wasTimed = s.timed;
  s.ccSelf = v.ccSelf;
  s.saveSent = v.saveSent;
  s.verbose = v.verbose;
  s.useSound = v.useSound;
  s.reDirectPrompt = v.reDirectPrompt;
  s.autoAdvance = v.autoAdvance;
  s.deleteReadFromServer = v.deleteReadFromServer;
  s.includeReply = v.includeReply;
  s.includeHeader = v.includeHeader;
  s.delayedSend = v.delayedSend;
  s.login = v.login;
  s.timed = v.timed;
  r.killTimer = wasTimed && !s.timed;
  s.wordWrap = Clamp(std::strtol(v.wordWrapText.c_str(), nullptr, 10), kWordWrapMin, kWordWrapMax);
  s.interval = Clamp(std::strtol(v.intervalText.c_str(), nullptr, 10), kIntervalMin, kIntervalMax);
  r.setTimer = s.timed != 0;

  StoreCreateFolder(s.mailDir);

  // The trailing blank of an indent survives the INI file behind a 0xFF byte.
  std::string indent = s.indentString;
  if (!indent.empty() && std::isspace(static_cast<unsigned char>(indent.back())))
    indent += static_cast<char>(kIndentMarker);
  const std::pair<const char *, std::string> writes[] = {{"MailDir", s.mailDir},
                                                         {"MailHost", s.mailHost},
                                                         {"Organization", s.organization},
                                                         {"PersonalName", s.personalName},
                                                         {"Editor", s.editor},
                                                         {"ReplyString", s.replyString},
                                                         {"ReplyTo", s.replyTo},
                                                         {"CcSelf", BoolText(s.ccSelf)},
                                                         {"UseSound", BoolText(s.useSound)},
                                                         {"SaveSent", BoolText(s.saveSent)},
                                                         {"Login", BoolText(s.login)},
                                                         {"DelayedSend", BoolText(s.delayedSend)},
                                                         {"Timed", BoolText(s.timed)},
                                                         {"Interval", std::to_string(s.interval)},
                                                         {"WordWrap", std::to_string(s.wordWrap)},
                                                         {"Verbose", BoolText(s.verbose)},
                                                         {"IncludeReply", BoolText(s.includeReply)},
                                                         {"DeleteReadFromServer", BoolText(s.deleteReadFromServer)},
                                                         {"IncludeHeader", BoolText(s.includeHeader)},
                                                         {"AutoAdvance", BoolText(s.autoAdvance)},
                                                         {"ReDirectPrompt", BoolText(s.reDirectPrompt)},
                                                         {"IndentString", indent},
                                                         {"IndexFormat", kIndexFormatCurrent}};
  for (const auto &[key, value] : writes)
    if (!Put(key, value)) ++r.failedWrites;
  s.indexFormatCurrent = true;

  if (LoadSettings() != 1) {
    r.mailDirMissing = true;
    return r;
  }
  r.dialogResult = 1;
  return r;
}
