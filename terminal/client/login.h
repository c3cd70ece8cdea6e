// What a session does before terminal traffic: the rlogin handshake, the host
// map that picks a set-up file per host, and the log-in script that waits for
// prompts and types answers.
#ifndef QX_TERMINAL_CLIENT_LOGIN_H
#define QX_TERMINAL_CLIENT_LOGIN_H

#include <cstddef>
#include <string>
#include <vector>

// The client's rlogin greeting: NUL, local user, NUL, remote user, NUL,
// terminal type, NUL. An empty local name means USERNAME (else "guest"),
// an empty remote name the local one; names are cut to 64 bytes, the type to 40.
std::string RloginGreeting(const char *localUser, const char *remoteUser, const char *termType,
                           const char *envUserName);

// The set-up file of host from the host-map text: the second word of the first
// line whose first word equals host ignoring case; '#' lines are comments,
// lines with one word are skipped, the rest of a line longer than 128
// characters is not read as a line of its own. False when no line matches.
bool HostMapFind(const std::string &mapText, const char *host, std::string &setupFile);

// A script file's text as a script: "^^" is a caret, '^' and c is c & 0x1F,
// line ends are dropped, a caret at the very end is dropped.
std::string ScriptTranslate(const std::string &fileText);

// The script of "/u=": wait for ':' and type the name and Return.
std::string ScriptForUser(const char *user);

// One step of a script walk.
struct SCRIPT_STEP {
  enum Kind { TYPE, WAIT, DONE } kind;
  std::string text;    // bytes to type, or the text to wait for
  int timeoutSeconds;  // for WAIT
};

// Cuts a script into steps: byte 1 brackets a text to wait for, byte 2 and a
// non-zero byte n set the time-out of later waits to n seconds (5 at first),
// byte 0 ends it, every other byte is typed.
std::vector<SCRIPT_STEP> ScriptSteps(const std::string &script);

// Finds a text in a byte stream fed one byte at a time, overlapping
// prefixes included ("aab" in "aaab").
class ScriptMatcher {
 public:
  explicit ScriptMatcher(std::string text);
  // Takes one byte; true once the whole text has been seen.
  bool Feed(unsigned char b);
  bool Matched() const { return matched_ == text_.size(); }

 private:
  std::string text_;
  std::vector<size_t> fail_;
  size_t matched_ = 0;
};

#endif
