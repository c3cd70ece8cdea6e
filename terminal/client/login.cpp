// The rlogin greeting, the host map and log-in scripts.
#include "login.h"

#include <cstring>
#include <strings.h>

namespace {

constexpr size_t kUserMax = 64;
constexpr size_t kTypeMax = 40;
constexpr size_t kHostMapLine = 128;
constexpr int kDefaultTimeout = 5;

std::string Bounded(const char *text, size_t limit) { return std::string(text, strnlen(text, limit)); }

// The words of one host-map line: host ends at blank or tab, the set-up file
// also at ';'.
bool HostMapLine(const std::string &line, std::string &host, std::string &file) {
  if (line.empty() || line[0] == '#') return false;
  size_t p = 0;
  auto skipBlanks = [&] {
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
  };
  skipBlanks();
  size_t start = p;
  while (p < line.size() && line[p] != ' ' && line[p] != '\t') ++p;
  host = line.substr(start, p - start);
  skipBlanks();
  start = p;
  while (p < line.size() && line[p] != ' ' && line[p] != '\t' && line[p] != ';') ++p;
  file = line.substr(start, p - start);
  return !host.empty() && !file.empty();
}

}  // namespace

std::string RloginGreeting(const char *localUser, const char *remoteUser, const char *termType,
                           const char *envUserName) {
  std::string local = Bounded(localUser && *localUser       ? localUser
                              : envUserName && *envUserName ? envUserName
                                                            : "guest",
                              kUserMax);
  std::string remote = remoteUser && *remoteUser ? Bounded(remoteUser, kUserMax) : local;
  std::string greeting(1, '\0');
  greeting += local;
  greeting.push_back('\0');
  greeting += remote;
  greeting.push_back('\0');
  greeting += Bounded(termType, kTypeMax);
  greeting.push_back('\0');
  return greeting;
}

bool HostMapFind(const std::string &mapText, const char *host, std::string &setupFile) {
  size_t pos = 0;
  while (pos < mapText.size()) {
    size_t end = mapText.find('\n', pos);
    if (end == std::string::npos) end = mapText.size();
    std::string line = mapText.substr(pos, std::min(end - pos, kHostMapLine));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos = end + 1;
    std::string word, file;
    if (HostMapLine(line, word, file) && strcasecmp(word.c_str(), host) == 0) {
      setupFile = file;
      return true;
    }
  }
  return false;
}

std::string ScriptTranslate(const std::string &fileText) {
  std::string script;
  for (size_t i = 0; i < fileText.size(); ++i) {
    const char c = fileText[i];
    if (c == '\r' || c == '\n') continue;  // the lines form one string
    if (c != '^') {
      script.push_back(c);
      continue;
    }
    if (i + 1 >= fileText.size()) break;  // a caret at the very end
    const char next = fileText[++i];
    script.push_back(next == '^' ? '^' : (char)(next & 0x1F));
  }
  return script;
}

std::string ScriptForUser(const char *user) {
  std::string script = "\x01:\x01";
  script += Bounded(user, kUserMax);
  script.push_back('\r');
  return script;
}

std::vector<SCRIPT_STEP> ScriptSteps(const std::string &script) {
  std::vector<SCRIPT_STEP> steps;
  int timeout = kDefaultTimeout;
  std::string typed;
  auto flushTyped = [&] {
    if (!typed.empty()) steps.push_back({SCRIPT_STEP::TYPE, typed, 0});
    typed.clear();
  };
  for (size_t i = 0; i < script.size(); ++i) {
    const unsigned char c = (unsigned char)script[i];
    if (c == 0) break;
    if (c == 2 && i + 1 < script.size() && script[i + 1] != 0) {
      timeout = (unsigned char)script[++i];
      continue;
    }
    if (c == 1) {
      const size_t close = script.find('\x01', i + 1);
      if (close != std::string::npos) {
        flushTyped();
        steps.push_back({SCRIPT_STEP::WAIT, script.substr(i + 1, close - i - 1), timeout});
        i = close;
      }
      continue;  // without a closing byte the opening one is skipped
    }
    typed.push_back((char)c);
  }
  flushTyped();
  steps.push_back({SCRIPT_STEP::DONE, "", 0});
  return steps;
}

ScriptMatcher::ScriptMatcher(std::string text) : text_(std::move(text)), fail_(text_.size() + 1, 0) {
  for (size_t i = 1, k = 0; i < text_.size(); ++i) {
    while (k > 0 && text_[i] != text_[k]) k = fail_[k];
    if (text_[i] == text_[k]) ++k;
    fail_[i + 1] = k;
  }
}

bool ScriptMatcher::Feed(unsigned char b) {
  if (Matched()) return true;
  while (matched_ > 0 && (unsigned char)text_[matched_] != b) matched_ = fail_[matched_];
  if ((unsigned char)text_[matched_] == b) ++matched_;
  return Matched();
}
