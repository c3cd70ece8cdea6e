/* Reading the rule file and deciding a request: see rules.h. */
#include "rules.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <strings.h>

namespace gatekeeper {

namespace {

const char *const kMessages[] = {
    "Line %d",
    "Only \"Default\" token found on the line",
    "Invalid code found - \"%s\"",
    "Unable to allocate memory for authentication structure",
    "Only IP Address found on the line",
    "Netmask expected; found \"%s\"",
    "Invalid netmask - \"%s\"",
    "Only IP Address and Netmask found on the line",
    "No directory specification found",
    "Invalid DNS name found",
    "Another master default found; first retained",
    "Another default found; first retained",
    "Dotted-quad and DNS-name rules may not be mixed on a given directory",
    "Line longer than 254 characters skipped",
};

std::vector<std::string> Tokens(const std::string &line) {
  std::vector<std::string> tokens;
  std::string current;
  for (char c : line) {
    if (c == '#') break; /* the rest of the line is a comment */
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (!current.empty()) tokens.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) tokens.push_back(current);
  return tokens;
}

/* A whole decimal token that fits an int. */
bool ParseCode(const std::string &token, long *code) {
  if (token.empty()) return false;
  errno = 0;
  char *end = nullptr;
  long value = strtol(token.c_str(), &end, 10);
  if (errno == ERANGE || *end != '\0' || value < INT_MIN || value > INT_MAX) return false;
  *code = value;
  return true;
}

int LeadingOnes(uint32_t mask) {
  int n = 0;
  while (n < 32 && (mask & (0x80000000u >> n))) n++;
  return n;
}

bool ValidDnsName(const std::string &name) {
  if (name.empty() || name.size() > 253) return false;
  for (char c : name)
    if (!(isalnum((unsigned char)c) || c == '-' || c == '.' || c == '_')) return false;
  return name.find("..") == std::string::npos;
}

bool HasKind(const DirectoryEntry &entry, int kind) {
  for (const Rule &r : entry.rules)
    if (r.kind == kind) return true;
  return false;
}

bool IsDefault(const Rule &r) { return r.kind == kMasterDefault || r.kind == kDirectoryDefault; }

DirectoryEntry &EntryFor(RuleSet &rules, const std::string &directory) {
  for (DirectoryEntry &e : rules)
    if (e.directory.size() == directory.size() && strcasecmp(e.directory.c_str(), directory.c_str()) == 0) return e;
  /* After the entries of equal or greater length. */
  auto at = rules.begin();
  while (at != rules.end() && at->directory.size() >= directory.size()) ++at;
  DirectoryEntry entry;
  entry.directory = directory;
  return *rules.insert(at, entry);
}

/* Adds one parsed rule to its directory; 0 or the message that refuses it. */
int AddRule(RuleSet &rules, const std::string &directory, const Rule &rule) {
  DirectoryEntry &entry = EntryFor(rules, directory);
  std::vector<Rule> &list = entry.rules;
  switch (rule.kind) {
    case kMasterDefault:
      if (!list.empty()) return kSecondMasterDefault;
      list.push_back(rule);
      return 0;
    case kDirectoryDefault:
      if (!list.empty() && IsDefault(list.back())) return kSecondDefault;
      list.push_back(rule);
      return 0;
    case kDottedQuad: {
      if (HasKind(entry, kDnsName)) return kMixedKinds;
      /* Longer masks first; the default (no mask) always stays last. */
      auto at = list.begin();
      while (at != list.end() && !IsDefault(*at) && LeadingOnes(at->mask) >= LeadingOnes(rule.mask)) ++at;
      list.insert(at, rule);
      return 0;
    }
    case kDnsName: {
      if (HasKind(entry, kDottedQuad)) return kMixedKinds;
      auto at = list.begin();
      while (at != list.end() && !IsDefault(*at) && at->name.size() >= rule.name.size()) ++at;
      list.insert(at, rule);
      return 0;
    }
  }
  return 0;
}

/* Parses the tokens of one line into a rule and its directory; 0 or a message. */
int ParseLine(const std::vector<std::string> &t, Rule *rule, std::string *directory, std::string *detail) {
  if (strcasecmp(t[0].c_str(), "default") == 0) {
    if (t.size() < 2) return kOnlyDefault;
    if (!ParseCode(t[1], &rule->code)) return *detail = t[1], kBadCode;
    rule->kind = t.size() == 2 ? kMasterDefault : kDirectoryDefault;
    if (t.size() > 2) *directory = t[2];
    return 0;
  }
  uint32_t network = 0;
  if (ParseDottedQuad(t[0], &network)) {
    if (t.size() < 2) return kOnlyAddress;
    uint32_t mask = 0;
    if (!ParseDottedQuad(t[1], &mask)) return *detail = t[1], kMaskExpected;
    if (!MaskIsContiguous(mask)) return *detail = t[1], kBadMask;
    if (t.size() < 3) return kOnlyAddressAndMask;
    if (!ParseCode(t[2], &rule->code)) return *detail = t[2], kBadCode;
    if (t.size() < 4) return kNoDirectory;
    rule->kind = kDottedQuad;
    rule->network = network;
    rule->mask = mask;
    *directory = t[3];
    return 0;
  }
  if (!ValidDnsName(t[0])) return kBadDnsName;
  if (t.size() < 2 || !ParseCode(t[1], &rule->code)) return *detail = t.size() < 2 ? "" : t[1], kBadCode;
  if (t.size() < 3) return kNoDirectory;
  rule->kind = kDnsName;
  rule->name = t[0];
  while (rule->name.size() > 1 && rule->name.back() == '.') rule->name.pop_back();
  *directory = t[2];
  return 0;
}

bool PrefixIgnoringCase(const std::string &prefix, const std::string &text) {
  return prefix.size() <= text.size() && strncasecmp(prefix.c_str(), text.c_str(), prefix.size()) == 0;
}

}  // namespace

bool ParseDottedQuad(const std::string &text, uint32_t *value) {
  uint32_t result = 0;
  size_t i = 0;
  for (int part = 0; part < 4; part++) {
    if (part > 0) {
      if (i >= text.size() || text[i] != '.') return false;
      i++;
    }
    int digits = 0;
    unsigned number = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      number = number * 10 + (unsigned)(text[i] - '0');
      i++;
      digits++;
    }
    if (digits == 0 || digits > 3 || number > 255) return false;
    result = (result << 8) | number;
  }
  if (i != text.size()) return false;
  *value = result;
  return true;
}

bool MaskIsContiguous(uint32_t mask) {
  const uint32_t host = ~mask; /* the host part must be ones from the bottom up */
  return (host & (host + 1)) == 0;
}

RuleSet ParseRules(const std::string &text, std::vector<LineError> *errors) {
  RuleSet rules;
  size_t start = 0;
  int number = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    number++;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxLine) {
      errors->push_back({number, kLineTooLong, ""});
      continue;
    }
    std::vector<std::string> tokens = Tokens(line);
    if (tokens.empty()) continue;
    Rule rule;
    std::string directory, detail;
    int message = ParseLine(tokens, &rule, &directory, &detail);
    if (message == 0) message = AddRule(rules, directory, rule);
    if (message != 0) errors->push_back({number, message, detail});
  }
  return rules;
}

std::string MessageText(int message, const std::string &detail) {
  if (message < 1 || message >= (int)(sizeof kMessages / sizeof kMessages[0])) return "";
  std::string format = kMessages[message];
  size_t at = format.find("%s");
  if (at != std::string::npos) format.replace(at, 2, EscapeForLog(detail.substr(0, 80)));
  return format;
}

bool DnsNameMatches(const std::string &host, const std::string &name) {
  if (name.empty() || host.size() < name.size()) return false;
  if (strcasecmp(host.c_str() + host.size() - name.size(), name.c_str()) != 0) return false;
  if (name[0] == '.' || host.size() == name.size()) return true;
  return host[host.size() - name.size() - 1] == '.';
}

long Decide(const RuleSet &rules, uint32_t address, const std::string &request, const NameLookup &lookup) {
  bool looked = false;
  std::string host;
  for (const DirectoryEntry &entry : rules) {
    if (!PrefixIgnoringCase(entry.directory, request)) continue;
    if (!looked && HasKind(entry, kDnsName)) {
      looked = true;
      host = lookup ? lookup(address) : std::string();
      while (!host.empty() && host.back() == '.') host.pop_back();
    }
    for (const Rule &rule : entry.rules) {
      bool match = rule.kind == kDnsName ? !host.empty() && DnsNameMatches(host, rule.name)
                                         : (address & rule.mask) == rule.network;
      if (!match) continue;
      if (rule.code >= 0) return rule.code;
      break; /* a negative code hands the request to the next directory */
    }
  }
  return 0;
}

std::string EscapeForLog(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\t')
      out += "\\t";
    else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else
      out += (char)c;
  }
  return out;
}

}  // namespace gatekeeper
