// The desktop programs that stand for Windows' own: the text editor for
// NOTEPAD, a terminal with a shell for DOSPRMPT.PIF, and the desktop's opener
// for files the shell has no association for.
//
// WIN.INI decides first:
//   [programs]  notepad.exe=<host command>   (%1: the file, as a host path)
//               dosprmpt.pif=<host command>
//   [Shell]     Open=<host command>           (an empty value: no opener)
// Without an entry: NOTEPAD is the desktop's default application for
// text/plain (xdg-mime and its .desktop entry), else a terminal running
// sensible-editor; DOSPRMPT.PIF, COMMAND.COM and CMD.EXE are the Debian
// alternative x-terminal-emulator (else xterm), which starts the user's shell;
// the opener is xdg-open.
#include <windows.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "qx/env.h"
#include "qx/paths.h"
#include "qx/process.h"
#include "shell_internal.h"

extern char **environ;

namespace qx {
namespace {

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Profile(const char *section, const char *key, const char *fallback, bool &present) {
  char buf[2048];
  const char marker[] = "\x01<none>";
  GetProfileStringA(section, key, marker, buf, sizeof buf);
  present = std::strcmp(buf, marker) != 0;
  return present ? std::string(buf) : std::string(fallback ? fallback : "");
}

// A host program found along PATH (or an absolute path), or "".
std::string FindOnPath(const std::string &name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
  const char *path = std::getenv("PATH");
  std::string p = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    const size_t colon = p.find(':', start);
    const std::string dir = p.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    struct stat st {};
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
    if (colon == std::string::npos) return {};
    start = colon + 1;
  }
}

// Words of a host command as a desktop entry or a person writes them:
// blanks separate, "..." groups, a backslash takes the next character.
std::vector<std::string> SplitHostCommand(const std::string &text) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false, quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      word += text[++i];
      in_word = true;
    } else if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

// Runs a helper (xdg-mime) and returns the first line of its output; gives up
// after two seconds.
std::string FirstLineOf(const std::vector<std::string> &argv) {
  const std::string program = FindOnPath(argv[0]);
  if (program.empty()) return {};
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char *> args;
  for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string out;
  if (rc == 0) {
    const ULONGLONG deadline = GetTickCount64() + 2000;
    char buf[512];
    for (;;) {
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline || out.find('\n') != std::string::npos || out.size() > 4096) break;
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(deadline - now)) <= 0) break;
      const ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  close(fds[0]);
  const size_t nl = out.find('\n');
  return nl == std::string::npos ? out : out.substr(0, nl);
}

// The Exec line of a desktop entry, looked for in the XDG data directories.
std::string DesktopEntryExec(const std::string &id) {
  if (id.empty() || id.find('/') != std::string::npos) return {};
  std::vector<std::string> dirs;
  if (const char *home = std::getenv("XDG_DATA_HOME"); home && *home)
    dirs.emplace_back(home);
  else if (const char *h = std::getenv("HOME"))
    dirs.push_back(std::string(h) + "/.local/share");
  std::string data = std::getenv("XDG_DATA_DIRS") ? std::getenv("XDG_DATA_DIRS") : "/usr/local/share:/usr/share";
  for (size_t start = 0; start <= data.size();) {
    const size_t colon = data.find(':', start);
    dirs.push_back(data.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  for (const std::string &dir : dirs) {
    std::ifstream in(dir + "/applications/" + id);
    if (!in) continue;
    std::string line;
    bool main_group = false;
    while (std::getline(in, line)) {
      if (!line.empty() && line[0] == '[') main_group = line == "[Desktop Entry]";
      if (main_group && line.rfind("Exec=", 0) == 0) return line.substr(5);
    }
  }
  return {};
}

// A desktop entry's Exec words with its field codes: %f %F %u %U take the
// file, %% is a percent sign, the others go.
std::vector<std::string> ExpandFieldCodes(const std::vector<std::string> &words, const std::string &file) {
  std::vector<std::string> out;
  bool placed = false;
  for (const std::string &w : words) {
    if (w == "%f" || w == "%F" || w == "%u" || w == "%U") {
      if (!file.empty()) out.push_back(file);
      placed = true;
      continue;
    }
    std::string x;
    for (size_t i = 0; i < w.size(); ++i) {
      if (w[i] != '%' || i + 1 >= w.size()) {
        x += w[i];
      } else if (w[++i] == '%') {
        x += '%';
      }
    }
    if (!x.empty()) out.push_back(x);
  }
  if (!placed && !file.empty()) out.push_back(file);
  return out;
}

// A configured host command with "%1" standing for the file (appended when
// the command has no %1; left out when there is no file).
std::vector<std::string> ConfiguredCommand(const std::string &text, const std::string &file) {
  std::vector<std::string> out;
  bool placed = false;
  for (std::string w : SplitHostCommand(text)) {
    const size_t at = w.find("%1");
    if (at != std::string::npos) {
      placed = true;
      if (w == "%1" && file.empty()) continue;
      w.replace(at, 2, file);
    }
    out.push_back(w);
  }
  if (!placed && !file.empty()) out.push_back(file);
  return out;
}

std::vector<std::string> Terminal(const std::vector<std::string> &then) {
  for (const char *term : {"x-terminal-emulator", "xterm"}) {
    if (FindOnPath(term).empty()) continue;
    std::vector<std::string> argv{term};
    if (!then.empty()) {
      argv.emplace_back("-e");
      argv.insert(argv.end(), then.begin(), then.end());
    }
    return argv;
  }
  return {};
}

std::vector<std::string> TextEditor(const std::string &file) {
  const std::string id = FirstLineOf({"xdg-mime", "query", "default", "text/plain"});
  const std::string exec = DesktopEntryExec(id);
  if (!exec.empty()) return ExpandFieldCodes(SplitHostCommand(exec), file);
  std::vector<std::string> editor{"sensible-editor"};
  if (!file.empty()) editor.push_back(file);
  return Terminal(editor);
}

enum class SystemProgram { kNone, kNotepad, kShell };

SystemProgram Classify(const std::string &word) {
  std::string name = word;
  const size_t sep = name.find_last_of("\\/:");
  if (sep != std::string::npos) name.erase(0, sep + 1);
  name = Lower(name);
  if (name == "notepad" || name == "notepad.exe") return SystemProgram::kNotepad;
  if (name == "dosprmpt.pif" || name == "command.com" || name == "cmd.exe" || name == "command" || name == "cmd")
    return SystemProgram::kShell;
  return SystemProgram::kNone;
}

// The program word's key in [programs]: the name as given, lower case, with
// its extension ("notepad" is looked for as "notepad.exe" too).
std::vector<std::string> ProgramKeys(const std::string &word) {
  std::string name = word;
  const size_t sep = name.find_last_of("\\/:");
  if (sep != std::string::npos) name.erase(0, sep + 1);
  name = Lower(name);
  std::vector<std::string> keys{name};
  if (name.find('.') == std::string::npos) keys.push_back(name + ".exe");
  return keys;
}

bool StartArgv(const std::vector<std::string> &argv, std::string &host_program, std::string &host_line) {
  if (argv.empty()) return false;
  host_program = FindOnPath(argv[0]);
  if (host_program.empty()) {
    Trace("shell: desktop program \"%s\" not found", argv[0].c_str());
    return false;
  }
  std::vector<std::string> words = argv;
  words[0] = host_program;
  host_line = JoinCommandLine(words);
  return true;
}

}  // namespace

std::string HostFileArgument(const std::string &windows_path) {
  if (windows_path.empty()) return {};
  std::string host;
  DWORD error = 0;
  if (HostPath(windows_path, host, error)) return host;
  return windows_path;
}

bool SystemProgramCommand(const std::string &command_line, std::string &host_program, std::string &host_line) {
  const std::vector<std::string> words = SplitCommandLine(command_line);
  if (words.empty()) return false;
  const SystemProgram kind = Classify(words[0]);
  if (kind == SystemProgram::kNone) return false;
  const std::string file = words.size() > 1 ? HostFileArgument(words[1]) : std::string();
  for (const std::string &key : ProgramKeys(words[0])) {
    bool present = false;
    const std::string configured = Profile("programs", key.c_str(), nullptr, present);
    if (present) return StartArgv(ConfiguredCommand(configured, file), host_program, host_line);
  }
  return StartArgv(kind == SystemProgram::kNotepad ? TextEditor(file) : Terminal({}), host_program, host_line);
}

bool OpenerCommand(const std::string &host_file, std::string &host_program, std::string &host_line) {
  bool present = false;
  const std::string configured = Profile("Shell", "Open", "xdg-open %1", present);
  if (configured.empty()) return false;  // no opener wanted
  return StartArgv(ConfiguredCommand(configured, host_file), host_program, host_line);
}

}  // namespace qx
