// Command-line words and switches of the terminal, and the recent-host list.
#include "command_line.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

bool HasPrefix(const char *word, const char *prefix) { return strncasecmp(word, prefix, std::strlen(prefix)) == 0; }

bool IsWord(const char *word, const char *name) { return strcasecmp(word, name) == 0; }

void CopyBounded(char *to, size_t size, const char *from) { std::snprintf(to, size, "%s", from); }

// "/h=" rows: 20..45, anything else 24.
int RowsValue(const char *text) {
  char *end = nullptr;
  long rows = std::strtol(text, &end, 10);
  if (end == text || rows < 20 || rows > 45) return 24;
  return (int)rows;
}

// "/p=": 1..65535; anything else keeps the port and is reported.
void PortValue(const char *text, TERM_START &start) {
  char *end = nullptr;
  long port = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || port < 1 || port > 65535) {
    CopyBounded(start.badPort, sizeof start.badPort, text);
    return;
  }
  start.port = (unsigned)port;
}

void RemoveWord(TERM_COMMAND_LINE &cl, int index) {
  for (int i = index; i < cl.count; ++i) cl.words[i] = cl.words[i + 1];
  --cl.count;
}

}  // namespace

void TermSplitCommandLine(const char *line, TERM_COMMAND_LINE &cl) {
  cl.truncated = false;
  size_t length = std::strlen(line);
  if (length > TERM_LINE_MAX) {
    // Cut at a word boundary so that no word is shortened into another one.
    length = TERM_LINE_MAX;
    while (length > 0 && line[length] != ' ') --length;
    cl.truncated = true;
  }
  std::memcpy(cl.buffer, line, length);
  cl.buffer[length] = '\0';
  cl.words[0] = "QX220";
  cl.count = 1;
  char *p = cl.buffer;
  while (*p) {
    while (*p == ' ') *p++ = '\0';
    if (!*p) break;
    if (cl.count > TERM_WORDS_MAX) {
      cl.truncated = true;
      *p = '\0';
      break;
    }
    cl.words[cl.count++] = p;
    while (*p && *p != ' ') ++p;
  }
  cl.words[cl.count] = nullptr;
}

const char *TermStartSwitches(const char *line, TERM_START &start, TERM_COMMAND_LINE &cl) {
  if (line[0] == '/' && std::toupper((unsigned char)line[1]) == 'I') {
    start.mode3270 = true;
    start.keyMapName = "IBM.KEY";
    start.setupName = "IBM.STU";
    line += 2;
  } else if (line[0] == '/' && std::toupper((unsigned char)line[1]) == 'R') {
    start.rlogin = 1;
  }
  TermSplitCommandLine(line, cl);
  for (int i = 1; i < cl.count; ++i)
    if (HasPrefix(cl.words[i], "/h=")) start.screenRows = RowsValue(cl.words[i] + 3);
  return line;
}

void TermApplySwitches(TERM_COMMAND_LINE &cl, TERM_START &start, TELNET_STATE &tn) {
  start.localUser[0] = start.remoteUser[0] = '\0';
  int i = 1;
  while (i < cl.count) {
    const char *w = cl.words[i];
    if (HasPrefix(w, "/h=")) {
      // applied at start-up
    } else if (HasPrefix(w, "/t=")) {
      CopyBounded(tn.termTypes[0], sizeof tn.termTypes[0], w + 3);
    } else if (IsWord(w, "/once")) {
      start.dontTryAgain = start.dieAfterCancelling = true;
    } else if (HasPrefix(w, "/p=")) {
      PortValue(w + 3, start);
    } else if (IsWord(w, "/r")) {
      // 3270 mode and rlogin exclude each other: "/I" wins.
      if (start.mode3270) {
        RemoveWord(cl, i);
        continue;
      }
      ++start.rlogin;
      start.port = 513;
      for (char *c = tn.termTypes[0]; *c; ++c) *c = (char)std::tolower((unsigned char)*c);
    } else if (HasPrefix(w, "/a=")) {
      CopyBounded(start.scriptFile, sizeof start.scriptFile, w + 3);
    } else if (HasPrefix(w, "/l=")) {
      CopyBounded(start.localUser, sizeof start.localUser, w + 3);
    } else if (HasPrefix(w, "/u=")) {
      CopyBounded(start.remoteUser, sizeof start.remoteUser, w + 3);
    } else {
      ++i;
      continue;
    }
    RemoveWord(cl, i);
  }
  start.hostWord = cl.count > 1 ? cl.words[1] : nullptr;
}

void TermRecentEntry(const char *host, unsigned port, bool rlogin, char *entry, size_t size) {
  if (port != 23 && !rlogin)
    std::snprintf(entry, size, "%s (%u)", host, port);
  else
    std::snprintf(entry, size, "%s", host);
}

void TermRecentInsert(char (*hosts)[RECENT_ENTRY_MAX], const char *entry) {
  if (!entry[0]) return;
  char carried[RECENT_ENTRY_MAX];
  CopyBounded(carried, sizeof carried, entry);
  for (int slot = 0; slot < RECENT_HOSTS; ++slot) {
    const bool stop = hosts[slot][0] == '\0' || strcasecmp(hosts[slot], entry) == 0;
    char old[RECENT_ENTRY_MAX];
    CopyBounded(old, sizeof old, hosts[slot]);
    CopyBounded(hosts[slot], RECENT_ENTRY_MAX, carried);
    if (stop) return;
    CopyBounded(carried, sizeof carried, old);
  }
}
