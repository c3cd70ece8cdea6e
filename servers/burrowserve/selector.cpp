/* The gopher daemon's reading of a request: see selector.h. */
#include "selector.h"

std::string GopherSelector(const std::string &request) {
  std::string text = request;
  if (text.rfind("\r\n", 0) == 0 || text.rfind("\n", 0) == 0) text = "1DEFAULT.GMN";
  size_t tab = text.find('\t');
  if (tab != std::string::npos) text.erase(tab);
  size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.erase(end);
  return text;
}

int GopherClass(const std::string &selector) {
  if (selector.empty()) return 14;
  const char c = selector[0];
  if (c >= '0' && c <= '9') return c - '0';
  switch (c) {
    case '+': return 10;
    case 'T': return 11;
    case 'g': return 12;
    case 'I': return 13;
    default: return 14;
  }
}

bool GopherDropsCtrlZ(int cls) { return cls == 0 || cls == 1 || cls == 4 || cls == 6 || cls == 10; }

bool GopherSendsEndLine(int cls) { return cls != 5 && cls != 9; }

bool GopherRelativePath(const std::string &selector, std::string *relative) {
  if (selector.size() < 2) return false;
  std::string name = selector.substr(1);
  for (char &c : name)
    if (c == '\\') c = '/';
  if (name[0] == '/' || name.find(':') != std::string::npos || name.find('\0') != std::string::npos) return false;
  std::string clean;
  size_t at = 0;
  while (at <= name.size()) {
    size_t end = name.find('/', at);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(at, end - at);
    if (part == "." || part == "..") return false;
    if (!part.empty()) clean += (clean.empty() ? "" : "/") + part;
    at = end + 1;
  }
  if (clean.empty()) return false;
  *relative = clean;
  return true;
}

std::string GopherBadKeyReply(const std::string &selector) {
  std::string shown;
  for (unsigned char c : selector.substr(0, 256)) shown += c < 0x20 || c == 0x7F ? '?' : (char)c;
  return "3Bad Key sent - \"" + shown + "\"\t\t\t\t\r\n.\r\n";
}
