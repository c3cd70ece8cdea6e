// Starting the terminal for telnet and TN3270 items, and the names under
// which received files are proposed, saved and opened.
#include "gophercore.h"

#include <cctype>
#include <cstdio>

std::string g_UserTelnet = kDefaultTelnetTemplate;
std::string g_UserTN3270 = kDefaultTn3270Template;

namespace {

bool IsAlnum(char c) { return isalnum(static_cast<unsigned char>(c)) != 0; }

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

// A host word is a name or dotted address: letters, digits, '.', '-', '_',
// starting with a letter or digit, so it can be neither a switch nor two words.
bool IsSafeHostWord(std::string_view host) {
  if (host.empty() || host.size() > 255 || !IsAlnum(host[0])) return false;
  for (char c : host)
    if (!IsAlnum(c) && c != '.' && c != '-' && c != '_') return false;
  return true;
}

// A login name: letters, digits and ". _ - @ +", not starting with '-'; no
// blank, quote, slash or control character can reach the command line.
bool IsSafeUserWord(std::string_view user) {
  if (user.size() > 64 || (!user.empty() && user[0] == '-')) return false;
  for (char c : user)
    if (!IsAlnum(c) && c != '.' && c != '_' && c != '-' && c != '@' && c != '+') return false;
  return true;
}

bool ExpandCommandTemplate(const GopherItem &item, const std::string &user, std::string *command) {
  command->clear();
  if (!IsSafeHostWord(item.host) || !IsSafeUserWord(user) || item.port <= 0 || item.port > 65535) return false;
  const std::string &tmpl = item.typeIndex == kTypeTn3270 ? g_UserTN3270 : g_UserTelnet;
  for (size_t i = 0; i < tmpl.size(); ++i) {
    if (tmpl[i] != '%' || i + 1 == tmpl.size()) {
      command->push_back(tmpl[i]);
      continue;
    }
    const char key = static_cast<char>(tolower(static_cast<unsigned char>(tmpl[++i])));
    if (key == 'h') {
      *command += item.host;
    } else if (key == 'p') {
      *command += std::to_string(item.port);
    } else if (key == 'u') {
      *command += user;
    } else {
      command->push_back('%');
      command->push_back(tmpl[i]);
    }
  }
  return true;
}

std::string ProposedFileName(const std::string &selector) {
  const size_t cut = selector.find_last_of("/\\]:");
  std::string name = cut == std::string::npos ? selector : selector.substr(cut + 1);
  // Only a plain file name survives: letters, digits, '.', '-', '_'; no
  // leading dot (a hidden file) and no more than a file name's length.
  std::string safe;
  for (char c : name)
    if (IsAlnum(c) || c == '.' || c == '-' || c == '_') safe.push_back(c);
  // The length is cut first: a cut that left a dot in front would make the
  // name hidden after all.
  if (safe.size() > 128) safe.erase(0, safe.size() - 128);
  while (!safe.empty() && safe[0] == '.') safe.erase(0, 1);
  return safe;
}

void SaveDefaults(const GopherItem &item, const std::string &proposed, std::string *extension, int *filter) {
  const size_t dot = proposed.rfind('.');
  if (dot != std::string::npos && dot + 1 < proposed.size()) {
    *extension = proposed.substr(dot + 1);
    *filter = 1;
    return;
  }
  struct ByType {
    char type;
    const char *extension;
    int filter;
  };
  static const ByType kDefaults[] = {{'s', "AU", 3},  {'I', "GIF", 2}, {'6', "UUE", 4},
                                     {'5', "ZIP", 5}, {'9', "BIN", 5}, {'4', "HQX", 5}};
  for (const ByType &d : kDefaults) {
    if (item.typeChar == static_cast<uint8_t>(d.type)) {
      *extension = d.extension;
      *filter = d.filter;
      return;
    }
  }
  *extension = "TXT";
  *filter = 1;
}

bool MayOpenSavedFile(const std::string &path) {
  // Programs and scripts are never handed to the desktop's opener, which
  // would run them; the DOS names and the Linux ones alike.
  static const char *const kRuns[] = {".exe", ".com", ".bat", ".cmd", ".pif", ".desktop",
                                      ".sh",  ".jar", ".py",  ".pl",  ".run", ".appimage"};
  const std::string lower = Lower(path);
  for (const char *ext : kRuns) {
    const std::string e = ext;
    if (lower.size() >= e.size() && lower.compare(lower.size() - e.size(), e.size(), e) == 0) return false;
  }
  return true;
}
