// lodctr and unlodctr: the names and help texts of a service's performance
// counters, as the performance library keeps them.
//
//   lodctr FILE.INI     loads the names a counter definition file gives
//   unlodctr SERVICE    removes the names of a service's counters
//
// The definition file names the service ([info] drivername=), optionally a C
// header of symbol offsets ([info] symbolfile=, beside the file: "#define
// NAME 2"), the languages ([languages] 009=English) and the texts ([text]
// NAME_009_NAME=..., NAME_009_HELP=...). Without a symbol file the symbols
// take offsets 0, 2, 4... in the order they first appear. lodctr gives the
// service the next free indexes after "Last Counter" and "Last Help" of
// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Perflib, writes the texts
// into Perflib\<language> "Counter" and "Help" (index, text, index, text...)
// and "First Counter", "Last Counter", "First Help", "Last Help" into the
// service's Performance key, whose counter library reads them. unlodctr takes
// exactly those indexes out again; keys and values it leaves empty go.
//
// Each run reads the names, the last indexes and the service's values, then
// writes them back: two runs at once (an installer loading two services)
// would each write back what it read and lose the other's names or give two
// services one range. So a run holds an exclusive lock, "perflib.lock" beside
// the machine registry, from its first read to its last write.
#include <windows.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "qx/env.h"

namespace {

const char kPerflibKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
const char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";
const char *const kIndexValues[] = {"First Counter", "Last Counter", "First Help", "Last Help"};
constexpr DWORD kMaxOffset = 65534;
// Indexes stay well inside a DWORD, whatever a damaged key says.
constexpr DWORD kMaxIndex = 0x7FFF0000;

class Key {
 public:
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  HKEY get() const { return key_; }
  HKEY *out() { return &key_; }

 private:
  HKEY key_ = nullptr;
};

// The lock that makes a run's reads and writes of the names one step. The
// lock goes with the process, so a run that dies never leaves it taken.
constexpr int kLockWaitMs = 30000;  // far longer than a run holds it

class NamesLock {
 public:
  ~NamesLock() {
    if (fd_ >= 0) close(fd_);  // releases the lock
  }
  // Waits for the lock; false (with why in error) when it cannot be had.
  bool Take(std::string &error) {
    const std::string dir = qx::MachineDir() + "/registry";
    const std::string path = dir + "/perflib.lock";
    mkdir(dir.c_str(), 0755);  // the registry makes it too; whichever comes first
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);  // made by another user: locking needs no write
    if (fd_ < 0) {
      error = "cannot open the lock file " + path + " (" + std::strerror(errno) +
              "); run as a user who may change the machine registry";
      return false;
    }
    for (int waited = 0;; waited += 10) {
      if (flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
      if (errno != EWOULDBLOCK && errno != EINTR) {
        error = "cannot lock " + path + " (" + std::strerror(errno) + ")";
        return false;
      }
      if (waited >= kLockWaitMs) {
        error = "another lodctr or unlodctr has held " + path +
                " for 30 seconds; try again when it has finished (or end it if it hangs)";
        return false;
      }
      usleep(10000);
    }
  }

 private:
  int fd_ = -1;
};

std::string ErrorText(DWORD error) {
  char text[512] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text, sizeof text,
                 nullptr);
  std::string s = text;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s + " (error " + std::to_string(error) + ")";
}

int Fail(const char *tool, const std::string &text) {
  fprintf(stderr, "%s: %s\n", tool, text.c_str());
  return 1;
}

bool ReadDword(HKEY key, const char *name, DWORD &value) {
  DWORD type = 0, size = sizeof value;
  return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(&value), &size) == ERROR_SUCCESS &&
         type == REG_DWORD && size == sizeof value;
}

LONG WriteDword(HKEY key, const char *name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), sizeof value);
}

// One language's texts: index -> text, read from and written as a
// multi-string of index and text pairs.
using Texts = std::map<DWORD, std::string>;

Texts ReadTexts(HKEY key, const char *name) {
  Texts texts;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ)
    return texts;
  std::string data(size, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(data.data()), &size) != ERROR_SUCCESS)
    return texts;
  data.resize(size);
  std::vector<std::string> strings;
  for (size_t at = 0; at < data.size();) {
    size_t end = data.find('\0', at);
    if (end == std::string::npos) end = data.size();
    if (end == at) break;
    strings.push_back(data.substr(at, end - at));
    at = end + 1;
  }
  for (size_t i = 0; i + 1 < strings.size(); i += 2)
    texts[std::strtoul(strings[i].c_str(), nullptr, 10)] = strings[i + 1];
  return texts;
}

LONG WriteTexts(HKEY key, const char *name, const Texts &texts) {
  if (texts.empty()) {
    const LONG rc = RegDeleteValueA(key, name);
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
  }
  std::string data;
  for (const auto &[index, text] : texts) {
    data += std::to_string(index) + '\0' + text + '\0';
  }
  data += '\0';
  return RegSetValueExA(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(data.data()),
                        static_cast<DWORD>(data.size()));
}

std::string Upper(std::string s) {
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// A section's "key=value" lines, read whole whatever their length.
std::vector<std::pair<std::string, std::string>> Section(const std::string &file, const char *section) {
  std::vector<char> buffer(4096);
  for (;;) {
    const DWORD n = GetPrivateProfileSectionA(section, buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
    if (n + 2 < buffer.size() || buffer.size() > (1u << 24)) break;
    buffer.resize(buffer.size() * 4);
  }
  std::vector<std::pair<std::string, std::string>> lines;
  for (const char *p = buffer.data(); *p; p += strlen(p) + 1) {
    const char *eq = strchr(p, '=');
    if (!eq) continue;
    lines.emplace_back(std::string(p, eq), std::string(eq + 1));
  }
  return lines;
}

std::string ReadWholeFile(const std::string &path, bool &ok) {
  ok = false;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "";
  std::string data;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) data.append(chunk, got);
  CloseHandle(file);
  ok = true;
  return data;
}

// "#define NAME number" lines of a symbol file.
std::map<std::string, DWORD> Symbols(const std::string &text) {
  std::map<std::string, DWORD> symbols;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    char name[256] = "";
    unsigned long value = 0;
    if (sscanf(text.substr(at, end - at).c_str(), " #define %255s %lu", name, &value) == 2)
      symbols[Upper(name)] = static_cast<DWORD>(value);
    at = end + 1;
  }
  return symbols;
}

struct Definition {
  std::string service;
  // language -> offset -> {name, help}
  std::map<std::string, std::map<DWORD, std::pair<std::string, std::string>>> texts;
  DWORD last_offset = 0;
};

bool ReadDefinition(const std::string &file, Definition &def, std::string &error) {
  if (GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
    error = "cannot read the counter definition file " + file + ": " + ErrorText(GetLastError());
    return false;
  }
  char value[512] = "";
  GetPrivateProfileStringA("info", "drivername", "", value, sizeof value, file.c_str());
  def.service = value;
  if (def.service.empty()) {
    error = file + " names no service: add \"drivername=SERVICE\" to its [info] section";
    return false;
  }
  std::map<std::string, DWORD> symbols;
  GetPrivateProfileStringA("info", "symbolfile", "", value, sizeof value, file.c_str());
  if (value[0]) {
    const size_t cut = file.find_last_of("\\/");
    const std::string path = cut == std::string::npos ? value : file.substr(0, cut + 1) + value;
    bool ok = false;
    const std::string text = ReadWholeFile(path, ok);
    if (!ok) {
      error = "cannot read the symbol file " + path + ": " + ErrorText(GetLastError());
      return false;
    }
    symbols = Symbols(text);
  }
  std::vector<std::string> languages;
  for (const auto &[language, name] : Section(file, "languages")) languages.push_back(Upper(language));
  if (languages.empty()) {
    error = file + " names no language: add \"009=English\" to its [languages] section";
    return false;
  }
  DWORD next_offset = 0;
  for (const auto &[key, text] : Section(file, "text")) {
    // SYMBOL_LANGUAGE_NAME or SYMBOL_LANGUAGE_HELP
    const std::string upper = Upper(key);
    const size_t kind_at = upper.rfind('_');
    const size_t language_at =
        kind_at == std::string::npos || kind_at == 0 ? std::string::npos : upper.rfind('_', kind_at - 1);
    if (language_at == std::string::npos || language_at == 0) {
      error = file + ": \"" + key + "\" is not SYMBOL_LANGUAGE_NAME or SYMBOL_LANGUAGE_HELP";
      return false;
    }
    const std::string symbol = upper.substr(0, language_at);
    const std::string language = upper.substr(language_at + 1, kind_at - language_at - 1);
    const std::string kind = upper.substr(kind_at + 1);
    if (kind != "NAME" && kind != "HELP") {
      error = file + ": \"" + key + "\" is neither a NAME nor a HELP text";
      return false;
    }
    auto found = symbols.find(symbol);
    if (found == symbols.end()) {
      if (!symbols.empty() && value[0]) {
        error = file + ": the symbol " + symbol + " is not defined in the symbol file";
        return false;
      }
      found = symbols.emplace(symbol, next_offset).first;
      next_offset += 2;
    }
    // An offset beyond any real definition would carry the index past the
    // top of the range, round onto another service's texts.
    if (found->second > kMaxOffset) {
      error = file + ": the offset of " + symbol + " is " + std::to_string(found->second) +
              "; counter offsets run from 0 to " + std::to_string(kMaxOffset);
      return false;
    }
    if (found->second % 2 != 0) {
      error = file + ": the offset of " + symbol + " is odd; counter offsets are even";
      return false;
    }
    auto &entry = def.texts[language][found->second];
    (kind == "NAME" ? entry.first : entry.second) = text;
    if (found->second > def.last_offset) def.last_offset = found->second;
  }
  if (def.texts.empty()) {
    error = file + " has no counter texts in its [text] section";
    return false;
  }
  return true;
}

// Deletes a key of HKEY_LOCAL_MACHINE and its parents while they are empty.
void PruneEmptyKeys(std::string path) {
  while (!path.empty()) {
    {
      Key key;
      DWORD subkeys = 0, values = 0;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS ||
          RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                           nullptr, nullptr) != ERROR_SUCCESS ||
          subkeys || values)
        return;
    }
    if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str()) != ERROR_SUCCESS) return;
    const size_t cut = path.rfind('\\');
    if (cut == std::string::npos) return;
    path.resize(cut);
  }
}

std::vector<std::string> Subkeys(HKEY key) {
  std::vector<std::string> names;
  char name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

}  // namespace

int LoadCounterNames(int argc, char **argv) {
  const char *tool = "lodctr";
  if (argc != 2) return Fail(tool, "name the counter definition file: lodctr FILE.INI");
  Definition def;
  std::string error;
  if (!ReadDefinition(argv[1], def, error)) return Fail(tool, error);
  NamesLock lock;
  if (!lock.Take(error)) return Fail(tool, error);
  const std::string performance = kServicesKey + def.service + "\\Performance";
  Key service;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, performance.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, service.out());
  if (rc != ERROR_SUCCESS)
    return Fail(tool, "the service " + def.service + " has no Performance key (" + ErrorText(rc) +
                          "); install the service before its counters");
  DWORD already = 0;
  if (ReadDword(service.get(), "First Counter", already))
    return Fail(tool, "the counter names of " + def.service + " are loaded already; run unlodctr " + def.service +
                          " first to load them again");
  Key perflib;
  rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPerflibKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, perflib.out(), nullptr);
  if (rc != ERROR_SUCCESS) return Fail(tool, "cannot open the performance library's key: " + ErrorText(rc));
  DWORD last_counter = 0, last_help = 1;
  ReadDword(perflib.get(), "Last Counter", last_counter);
  ReadDword(perflib.get(), "Last Help", last_help);
  if (last_counter > kMaxIndex || last_help > kMaxIndex)
    return Fail(tool, "the performance library's last index (Last Counter " + std::to_string(last_counter) +
                          ", Last Help " + std::to_string(last_help) + ") leaves no room for the counters of " +
                          def.service + "; repair the key " + kPerflibKey);
  const DWORD first_counter = (last_counter | 1) + 1;  // the next even index
  const DWORD first_help = first_counter + 1;
  for (const auto &[language, entries] : def.texts) {
    Key texts;
    rc = RegCreateKeyExA(perflib.get(), language.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, texts.out(), nullptr);
    Texts names = rc == ERROR_SUCCESS ? ReadTexts(texts.get(), "Counter") : Texts();
    Texts helps = rc == ERROR_SUCCESS ? ReadTexts(texts.get(), "Help") : Texts();
    for (const auto &[offset, text] : entries) {
      names[first_counter + offset] = text.first;
      helps[first_help + offset] = text.second;
    }
    if (rc == ERROR_SUCCESS) rc = WriteTexts(texts.get(), "Counter", names);
    if (rc == ERROR_SUCCESS) rc = WriteTexts(texts.get(), "Help", helps);
    if (rc != ERROR_SUCCESS) return Fail(tool, "cannot write the texts of language " + language + ": " + ErrorText(rc));
  }
  const DWORD indexes[] = {first_counter, first_counter + def.last_offset, first_help, first_help + def.last_offset};
  for (size_t i = 0; i < 4 && rc == ERROR_SUCCESS; ++i) rc = WriteDword(service.get(), kIndexValues[i], indexes[i]);
  if (rc == ERROR_SUCCESS) rc = WriteDword(perflib.get(), "Last Counter", indexes[1]);
  if (rc == ERROR_SUCCESS) rc = WriteDword(perflib.get(), "Last Help", indexes[3]);
  if (rc != ERROR_SUCCESS) return Fail(tool, "cannot record the counter indexes: " + ErrorText(rc));
  printf("lodctr: the counters of %s are %lu to %lu (help %lu to %lu)\n", def.service.c_str(),
         (unsigned long)indexes[0], (unsigned long)indexes[1], (unsigned long)indexes[2], (unsigned long)indexes[3]);
  return 0;
}

int UnloadCounterNames(int argc, char **argv) {
  const char *tool = "unlodctr";
  if (argc != 2) return Fail(tool, "name the service: unlodctr SERVICE");
  const std::string name = argv[1];
  std::string error;
  NamesLock lock;
  if (!lock.Take(error)) return Fail(tool, error);
  const std::string performance = kServicesKey + name + "\\Performance";
  Key service;
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, performance.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, service.out());
  DWORD indexes[4] = {};
  bool loaded = rc == ERROR_SUCCESS;
  for (int i = 0; i < 4 && loaded; ++i) loaded = ReadDword(service.get(), kIndexValues[i], indexes[i]);
  if (!loaded) return Fail(tool, "the service " + name + " has no counter names loaded; nothing to remove");
  Key perflib;
  rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPerflibKey, 0, KEY_ALL_ACCESS, perflib.out());
  if (rc == ERROR_SUCCESS) {
    DWORD highest_counter = 0, highest_help = 0;
    bool any = false;
    for (const std::string &language : Subkeys(perflib.get())) {
      Key texts;
      if (RegOpenKeyExA(perflib.get(), language.c_str(), 0, KEY_ALL_ACCESS, texts.out()) != ERROR_SUCCESS) continue;
      Texts names = ReadTexts(texts.get(), "Counter"), helps = ReadTexts(texts.get(), "Help");
      std::erase_if(names, [&](const auto &t) { return t.first >= indexes[0] && t.first <= indexes[1]; });
      std::erase_if(helps, [&](const auto &t) { return t.first >= indexes[2] && t.first <= indexes[3]; });
      rc = WriteTexts(texts.get(), "Counter", names);
      if (rc == ERROR_SUCCESS) rc = WriteTexts(texts.get(), "Help", helps);
      if (rc != ERROR_SUCCESS)
        return Fail(tool, "cannot write the texts of language " + language + ": " + ErrorText(rc));
      if (!names.empty()) highest_counter = std::max(highest_counter, names.rbegin()->first), any = true;
      if (!helps.empty()) highest_help = std::max(highest_help, helps.rbegin()->first), any = true;
      PruneEmptyKeys(std::string(kPerflibKey) + "\\" + language);
    }
    // The last indexes come down when this service's were the last.
    DWORD last_counter = 0, last_help = 0;
    if (!any) {
      RegDeleteValueA(perflib.get(), "Last Counter");
      RegDeleteValueA(perflib.get(), "Last Help");
    } else {
      if (ReadDword(perflib.get(), "Last Counter", last_counter) && last_counter == indexes[1])
        WriteDword(perflib.get(), "Last Counter", highest_counter);
      if (ReadDword(perflib.get(), "Last Help", last_help) && last_help == indexes[3])
        WriteDword(perflib.get(), "Last Help", highest_help);
    }
  }
  for (const char *value : kIndexValues) RegDeleteValueA(service.get(), value);
  PruneEmptyKeys(kPerflibKey);
  printf("unlodctr: the counter names of %s are removed\n", name.c_str());
  return 0;
}
