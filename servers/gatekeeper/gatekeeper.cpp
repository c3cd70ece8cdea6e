/* The request authorisation library: settings from "QXAPPS.INI", the rule
 * file re-read whenever its modification time changes, the peer's name for
 * DNS rules (forward-confirmed), and one log line per call. */
#include "gatekeeper.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "rules.h"

namespace {

using namespace gatekeeper;

const char kIniFile[] = "QXAPPS.INI";
const char kSection[] = "gatekeeper";
const char kRuleFileName[] = "GATEKEEPER.DAT";
constexpr long kMaxRuleFile = 1024 * 1024; /* a bigger file is read this far */

struct State {
  bool loaded = false;
  int debug = 0;
  std::string logFile;
  std::string ruleFile;
  bool haveRules = false;
  struct timespec ruleTime {};
  long ruleSize = -1;
  RuleSet rules;
};

State &Library() {
  static State state;
  return state;
}

/* Settings and the rule file's place, once per process. */
void LoadSettings(State &s) {
  if (s.loaded) return;
  s.loaded = true;
  s.debug = (int)GetPrivateProfileIntA(kSection, "AuthDataDebug", 0, kIniFile);
  char log[255] = "";
  GetPrivateProfileStringA(kSection, "LogFile", "", log, sizeof log, kIniFile);
  s.logFile = log;
  OFSTRUCT of{};
  of.cBytes = sizeof of;
  s.ruleFile = OpenFile(kRuleFileName, &of, OF_EXIST) != HFILE_ERROR ? of.szPathName : kRuleFileName;
}

std::string TimeText() {
  time_t now = time(nullptr);
  char buffer[32] = "";
  ctime_r(&now, buffer);
  return std::string(buffer, strnlen(buffer, 24));
}

void AppendLog(const State &s, const std::string &line) {
  if (s.logFile.empty()) return;
  FILE *log = _fsopen(s.logFile.c_str(), "ab", _SH_DENYNO);
  if (!log) return; /* no log line; the decision stands */
  fwrite(line.data(), 1, line.size(), log);
  fclose(log);
}

/* A rule file error: into the log (when there is one) and, with
 * AuthDataDebug, a message box. A daemon has no display, so its box is
 * written to standard error and never waits for anyone. */
void Report(const State &s, const LineError &e) {
  char caption[32];
  snprintf(caption, sizeof caption, "Line %d", e.line);
  std::string text = MessageText(e.message, e.detail);
  AppendLog(s, TimeText() + " - " + kRuleFileName + " " + caption + ": " + text + "\r\n");
  if (s.debug) MessageBoxA(nullptr, text.c_str(), caption, MB_ICONERROR | MB_OK);
}

void ReadRules(State &s) {
  FILE *file = fopen(s.ruleFile.c_str(), "rb");
  if (!file) return; /* the rules held so far stay in force */
  std::string text;
  char buffer[4096];
  size_t got;
  while (text.size() < (size_t)kMaxRuleFile && (got = fread(buffer, 1, sizeof buffer, file)) > 0)
    text.append(buffer, got);
  fclose(file);
  std::vector<LineError> errors;
  s.rules = ParseRules(text, &errors);
  s.haveRules = true;
  for (const LineError &e : errors) Report(s, e);
}

void RefreshRules(State &s) {
  /* The time to the nanosecond and the size: an edit within the second
   * that the file was last read is noticed too. */
  struct _stat info {};
  if (_stat(s.ruleFile.c_str(), &info) != 0) info = {};
  if (s.haveRules && info.st_mtim.tv_sec == s.ruleTime.tv_sec && info.st_mtim.tv_nsec == s.ruleTime.tv_nsec &&
      info.st_size == s.ruleSize)
    return;
  s.ruleTime = info.st_mtim;
  s.ruleSize = info.st_size;
  ReadRules(s);
}

/* The peer's name, trusted only when it leads back to the peer's address. */
std::string ConfirmedName(uint32_t address) {
  in_addr peer;
  peer.s_addr = htonl(address);
  hostent *reverse = gethostbyaddr((const char *)&peer, 4, AF_INET);
  if (!reverse || !reverse->h_name || !*reverse->h_name) return "";
  std::string name = reverse->h_name;
  hostent *forward = gethostbyname(name.c_str());
  if (!forward || forward->h_addrtype != AF_INET || forward->h_length != 4) return "";
  for (char **a = forward->h_addr_list; a && *a; a++)
    if (memcmp(*a, &peer, 4) == 0) return name;
  return "";
}

const char *KindName(DWORD kind) {
  switch (kind & 0xFFFF) {
    case GATEKEEPER_GOPHER: return "QXburrowserve";
    case GATEKEEPER_HTTP: return "QXHttpD";
    case GATEKEEPER_NNTP: return "QXNntpD";
    default: return "Unknown Application";
  }
}

}  // namespace

extern "C" LONG WINAPI ValidateRequest(DWORD kind, const struct sockaddr_in *peer, const char *request,
                                       const int *permission) {
  State &s = Library();
  LoadSettings(s);
  RefreshRules(s);

  std::string permissionText = "(none)";
  if ((kind & 0xFFFF) == GATEKEEPER_HTTP && permission) permissionText = std::to_string(*permission);
  const uint32_t address = peer ? ntohl(peer->sin_addr.s_addr) : 0;
  const unsigned port = peer ? ntohs(peer->sin_port) : 0;
  char who[128];
  snprintf(who, sizeof who, "%s - %s got IP=%u.%u.%u.%u Port=%u", TimeText().c_str(), KindName(kind),
           (address >> 24) & 255, (address >> 16) & 255, (address >> 8) & 255, address & 255, port);

  if (!request) {
    AppendLog(s, std::string(who) + " with no request at all\r\n");
    return 0;
  }
  const std::string text = request;
  const LONG result = (LONG)Decide(s.rules, address, text, ConfirmedName);
  const std::string what = text == "\r\n" ? "the default" : EscapeForLog(text);
  AppendLog(s, std::string(who) + " requesting " + what + ", permission " + permissionText + " - we said " +
                   std::to_string(result) + "\r\n");
  return result;
}
