/* The rules of the request authorisation library: reading "GATEKEEPER.DAT"
 * into directory entries and deciding a request against them. Nothing here
 * touches files, names or the log; gatekeeper.cpp does. */
#ifndef QX_SERVERS_GATEKEEPER_RULES_H
#define QX_SERVERS_GATEKEEPER_RULES_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace gatekeeper {

enum RuleKind { kMasterDefault = 1, kDirectoryDefault = 2, kDottedQuad = 3, kDnsName = 4 };

struct Rule {
  int kind = 0;
  long code = 0;
  uint32_t network = 0; /* host order; 0 for defaults */
  uint32_t mask = 0;
  std::string name; /* DNS rules */
};

struct DirectoryEntry {
  std::string directory;   /* compared ignoring case as a prefix of the request */
  std::vector<Rule> rules; /* in matching order; a directory default stays last */
};

/* Entries by decreasing length of their directory text. */
typedef std::vector<DirectoryEntry> RuleSet;

/* Longest line the file may hold; a longer one is skipped whole. */
constexpr size_t kMaxLine = 254;

/* Message ids of the rule file's errors (the texts are MessageText's). */
enum Message {
  kCaption = 0,
  kOnlyDefault = 1,
  kBadCode = 2,
  kNoMemory = 3,
  kOnlyAddress = 4,
  kMaskExpected = 5,
  kBadMask = 6,
  kOnlyAddressAndMask = 7,
  kNoDirectory = 8,
  kBadDnsName = 9,
  kSecondMasterDefault = 10,
  kSecondDefault = 11,
  kMixedKinds = 12,
  kLineTooLong = 13,
};

struct LineError {
  int line;
  int message;
  std::string detail; /* the token a message quotes */
};

/* "a.b.c.d": exactly four decimal parts below 256 and nothing else. */
bool ParseDottedQuad(const std::string &text, uint32_t *value);
/* A mask whose ones run contiguously from the top (0.0.0.0 included). */
bool MaskIsContiguous(uint32_t mask);

/* Reads the whole text of a rule file; lines in error are skipped and listed. */
RuleSet ParseRules(const std::string &text, std::vector<LineError> *errors);
/* The text of a message, with its quoted token. */
std::string MessageText(int message, const std::string &detail);

/* The peer's name for DNS rules: "" when it has none that can be trusted. */
typedef std::function<std::string(uint32_t address)> NameLookup;

/* Whole labels: the host equals the rule's name or ends with "." and the
 * name; a rule that begins with "." matches any host that ends with it. */
bool DnsNameMatches(const std::string &host, const std::string &name);

/* The code of the deciding rule, or 0 when none decides. The lookup is made
 * at most once, and only when a DNS rule's directory applies. */
long Decide(const RuleSet &rules, uint32_t address, const std::string &request, const NameLookup &lookup);

/* The request as the log shows it: control characters escaped (\r, \n, \t,
 * \xNN), so a request cannot start a line of its own. */
std::string EscapeForLog(const std::string &text);

}  // namespace gatekeeper

#endif
