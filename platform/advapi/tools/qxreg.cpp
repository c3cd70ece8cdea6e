// qxreg: reads and changes the registry from the command line, and moves keys
// in and out as "REGEDIT4" text files.
//
//   qxreg query  KEY [/s]               values and subkeys (/s: the whole tree)
//   qxreg get    KEY NAME               one value's data
//   qxreg set    KEY NAME TYPE DATA     REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,
//                                       REG_BINARY, REG_NONE
//   qxreg delete KEY [NAME]             a value, or the key with everything below it
//   qxreg export KEY FILE|-             the tree below KEY as REGEDIT4
//   qxreg import FILE|-                 keys and values of a REGEDIT4 file
//
// KEY begins with HKEY_LOCAL_MACHINE (HKLM), HKEY_CURRENT_USER (HKCU),
// HKEY_CLASSES_ROOT (HKCR) or HKEY_USERS (HKU). NAME "@" is the key's default value.
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <strings.h>
#include <vector>

namespace {

struct Root {
  const char *name;
  const char *alias;
  HKEY key;
};
const Root kRoots[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
    {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
    {"HKEY_USERS", "HKU", HKEY_USERS},
};

struct TypeName {
  DWORD type;
  const char *name;
};
const TypeName kTypes[] = {
    {REG_NONE, "REG_NONE"},           {REG_SZ, "REG_SZ"},
    {REG_EXPAND_SZ, "REG_EXPAND_SZ"}, {REG_BINARY, "REG_BINARY"},
    {REG_DWORD, "REG_DWORD"},         {REG_DWORD_BIG_ENDIAN, "REG_DWORD_BIG_ENDIAN"},
    {REG_LINK, "REG_LINK"},           {REG_MULTI_SZ, "REG_MULTI_SZ"},
};

std::string TypeText(DWORD type) {
  for (const auto &t : kTypes)
    if (t.type == type) return t.name;
  return "REG_0x" + std::to_string(type);
}

int Fail(const std::string &message) {
  std::fprintf(stderr, "qxreg: %s\n", message.c_str());
  return 1;
}

// The error in a word or two, then the system's text and the number.
std::string ErrorText(LONG rc) {
  std::string words;
  switch (rc) {
    case ERROR_FILE_NOT_FOUND: words = "not found"; break;
    case ERROR_ACCESS_DENIED: words = "access denied"; break;
    case ERROR_BAD_PATHNAME: words = "bad key path"; break;
    case ERROR_INVALID_PARAMETER: words = "invalid parameter"; break;
    case ERROR_KEY_DELETED: words = "key deleted"; break;
    case ERROR_REGISTRY_CORRUPT: words = "registry store damaged"; break;
    default: break;
  }
  char text[512];
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                     nullptr, static_cast<DWORD>(rc), 0, text, sizeof text, nullptr);
  std::string detail = (n ? std::string(text) + " " : std::string()) + "(error " + std::to_string(rc) + ")";
  return words.empty() ? detail : words + ": " + detail;
}

// "HKLM\SOFTWARE\X" -> root key and "SOFTWARE\X"; also the canonical root name.
bool SplitKey(const std::string &path, HKEY &root, std::string &sub, std::string &root_name) {
  const size_t cut = path.find('\\');
  const std::string head = path.substr(0, cut);
  for (const auto &r : kRoots) {
    if (strcasecmp(head.c_str(), r.name) == 0 || strcasecmp(head.c_str(), r.alias) == 0) {
      root = r.key;
      root_name = r.name;
      sub = cut == std::string::npos ? std::string() : path.substr(cut + 1);
      while (!sub.empty() && sub.back() == '\\') sub.pop_back();
      return true;
    }
  }
  return false;
}

class Key {
 public:
  Key() = default;
  ~Key() { Reset(); }
  Key(const Key &) = delete;
  Key &operator=(const Key &) = delete;
  void Reset() {
    if (h_) RegCloseKey(h_);
    h_ = nullptr;
  }
  HKEY *out() { return &h_; }
  HKEY get() const { return h_; }

 private:
  HKEY h_ = nullptr;
};

LONG OpenKey(const std::string &path, REGSAM sam, Key &key, bool create = false) {
  HKEY root;
  std::string sub, root_name;
  if (!SplitKey(path, root, sub, root_name)) return ERROR_BAD_PATHNAME;
  if (create) return RegCreateKeyExA(root, sub.c_str(), 0, nullptr, 0, sam, nullptr, key.out(), nullptr);
  return RegOpenKeyExA(root, sub.c_str(), 0, sam, key.out());
}

const char *ValueName(const std::string &name) { return name == "@" ? "" : name.c_str(); }

struct Value {
  std::string name;
  DWORD type = 0;
  std::vector<BYTE> data;
};

std::vector<Value> ReadValues(HKEY key) {
  std::vector<Value> values;
  DWORD max_name = 0, max_data = 0;
  RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &max_name, &max_data, nullptr,
                   nullptr);
  for (DWORD i = 0;; ++i) {
    std::vector<char> name(max_name + 2);
    std::vector<BYTE> data(max_data + 1);
    DWORD name_size = static_cast<DWORD>(name.size()), data_size = static_cast<DWORD>(data.size()), type = 0;
    LONG rc = RegEnumValueA(key, i, name.data(), &name_size, nullptr, &type, data.data(), &data_size);
    if (rc == ERROR_MORE_DATA) {  // changed under us: ask again with room to spare
      RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &max_name, &max_data,
                       nullptr, nullptr);
      --i;
      continue;
    }
    if (rc != ERROR_SUCCESS) break;
    data.resize(data_size);
    values.push_back({std::string(name.data(), name_size), type, data});
  }
  return values;
}

std::vector<std::string> ReadSubkeys(HKEY key) {
  std::vector<std::string> names;
  char buf[260];
  for (DWORD i = 0; RegEnumKeyA(key, i, buf, sizeof buf) == ERROR_SUCCESS; ++i) names.emplace_back(buf);
  return names;
}

std::string Hex(const std::vector<BYTE> &data, const char *sep) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < data.size(); ++i) {
    if (i) out += sep;
    std::snprintf(b, sizeof b, "%02x", data[i]);
    out += b;
  }
  return out;
}

std::string DataText(const Value &v) {
  switch (v.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      return std::string(reinterpret_cast<const char *>(v.data.data()),
                         strnlen(reinterpret_cast<const char *>(v.data.data()), v.data.size()));
    case REG_MULTI_SZ: {
      std::string out;
      size_t i = 0;
      while (i < v.data.size() && v.data[i]) {
        size_t n = strnlen(reinterpret_cast<const char *>(v.data.data()) + i, v.data.size() - i);
        if (!out.empty()) out += "\\0";
        out.append(reinterpret_cast<const char *>(v.data.data()) + i, n);
        i += n + 1;
      }
      return out;
    }
    case REG_DWORD:
      if (v.data.size() == 4) {
        DWORD d;
        std::memcpy(&d, v.data.data(), 4);
        return "0x" +
               [&] {
                 char b[12];
                 std::snprintf(b, sizeof b, "%x", d);
                 return std::string(b);
               }() +
               " (" + std::to_string(d) + ")";
      }
      [[fallthrough]];
    default: return Hex(v.data, " ");
  }
}

void Query(HKEY key, const std::string &path, bool recursive) {
  std::printf("%s\n", path.c_str());
  for (const auto &v : ReadValues(key))
    std::printf("    %s    %s    %s\n", v.name.empty() ? "(Default)" : v.name.c_str(), TypeText(v.type).c_str(),
                DataText(v).c_str());
  std::printf("\n");
  for (const auto &sub : ReadSubkeys(key)) {
    if (recursive) {
      Key child;
      if (RegOpenKeyExA(key, sub.c_str(), 0, KEY_READ, child.out()) == ERROR_SUCCESS)
        Query(child.get(), path + "\\" + sub, true);
    } else {
      std::printf("%s\\%s\n", path.c_str(), sub.c_str());
    }
  }
}

bool ParseHexBytes(const std::string &text, std::vector<BYTE> &out) {
  out.clear();
  // Bytes are separated by commas or blanks, or written as one run of digit
  // pairs; which of the two is decided once (asking at every digit made a
  // value of 100,000 bytes take minutes).
  const bool run = text.find_first_of(", \t") == std::string::npos;
  std::string digits;
  for (char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits += c;
    } else if (c == ',' || c == ' ' || c == '\t') {
      if (digits.size() > 2) return false;
      if (!digits.empty()) out.push_back(static_cast<BYTE>(std::strtoul(digits.c_str(), nullptr, 16)));
      digits.clear();
    } else {
      return false;
    }
    if (digits.size() == 2 && run) {
      out.push_back(static_cast<BYTE>(std::strtoul(digits.c_str(), nullptr, 16)));
      digits.clear();
    }
  }
  if (digits.size() > 2) return false;
  if (!digits.empty()) out.push_back(static_cast<BYTE>(std::strtoul(digits.c_str(), nullptr, 16)));
  return true;
}

bool ParseDword(const std::string &text, DWORD &out) {
  if (text.empty()) return false;
  char *end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (*end || errno || v > 0xFFFFFFFFull || text[0] == '-') return false;
  out = static_cast<DWORD>(v);
  return true;
}

int Set(const std::string &path, const std::string &name, const std::string &type_text, const std::string &data) {
  DWORD type = 0xFFFFFFFFu;
  for (const auto &t : kTypes)
    if (strcasecmp(t.name, type_text.c_str()) == 0) type = t.type;
  if (type == 0xFFFFFFFFu) return Fail("unknown type " + type_text);
  std::vector<BYTE> bytes;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      bytes.assign(data.begin(), data.end());
      bytes.push_back(0);
      break;
    case REG_MULTI_SZ: {
      size_t start = 0;
      while (start <= data.size() && !data.empty()) {
        size_t end = data.find("\\0", start);
        if (end == std::string::npos) end = data.size();
        bytes.insert(bytes.end(), data.begin() + static_cast<long>(start), data.begin() + static_cast<long>(end));
        bytes.push_back(0);
        start = end + 2;
      }
      bytes.push_back(0);
      break;
    }
    case REG_DWORD: {
      DWORD d;
      if (!ParseDword(data, d)) return Fail("not a 32-bit number: " + data);
      bytes.resize(4);
      std::memcpy(bytes.data(), &d, 4);
      break;
    }
    default:
      if (!ParseHexBytes(data, bytes)) return Fail("not hex bytes: " + data);
  }
  Key key;
  LONG rc = OpenKey(path, KEY_SET_VALUE, key, true);
  if (rc == ERROR_SUCCESS)
    rc = RegSetValueExA(key.get(), ValueName(name), 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
  return rc == ERROR_SUCCESS ? 0 : Fail(path + ": " + ErrorText(rc));
}

LONG DeleteTree(HKEY parent, const std::string &sub) {
  {
    Key key;
    LONG rc = RegOpenKeyExA(parent, sub.c_str(), 0, KEY_ALL_ACCESS, key.out());
    if (rc != ERROR_SUCCESS) return rc;
    for (const auto &child : ReadSubkeys(key.get())) {
      rc = DeleteTree(key.get(), child);
      if (rc != ERROR_SUCCESS) return rc;
    }
  }
  return RegDeleteKeyA(parent, sub.c_str());
}

LONG DeleteKeyPath(const std::string &path) {
  HKEY root;
  std::string sub, root_name;
  if (!SplitKey(path, root, sub, root_name) || sub.empty()) return ERROR_ACCESS_DENIED;
  return DeleteTree(root, sub);
}

// --- REGEDIT4 ----------------------------------------------------------------

std::string Quote(const std::string &s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A value's text after "=": strings that survive the quoted form exactly are
// written quoted, everything else as hex so that no byte is lost.
std::string ExportData(const Value &v) {
  if (v.type == REG_SZ && !v.data.empty() && v.data.back() == 0) {
    const std::string text(reinterpret_cast<const char *>(v.data.data()), v.data.size() - 1);
    if (text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos) return Quote(text);
  }
  if (v.type == REG_DWORD && v.data.size() == 4) {
    DWORD d;
    std::memcpy(&d, v.data.data(), 4);
    char b[20];
    std::snprintf(b, sizeof b, "dword:%08x", d);
    return b;
  }
  std::string head;
  if (v.type == REG_BINARY) {
    head = "hex:";
  } else {
    char b[20];
    std::snprintf(b, sizeof b, "hex(%x):", v.type);
    head = b;
  }
  // Wrapped like regedit: at most 25 bytes a line, continued with "\".
  std::string out = head;
  for (size_t i = 0; i < v.data.size(); ++i) {
    char b[4];
    std::snprintf(b, sizeof b, "%02x", v.data[i]);
    out += b;
    if (i + 1 < v.data.size()) {
      out += ',';
      if ((i + 1) % 25 == 0) out += "\\\r\n  ";
    }
  }
  return out;
}

void ExportKey(HKEY key, const std::string &path, std::ostream &out) {
  out << "[" << path << "]\r\n";
  for (const auto &v : ReadValues(key)) out << (v.name.empty() ? "@" : Quote(v.name)) << "=" << ExportData(v) << "\r\n";
  out << "\r\n";
  for (const auto &sub : ReadSubkeys(key)) {
    Key child;
    if (RegOpenKeyExA(key, sub.c_str(), 0, KEY_READ, child.out()) == ERROR_SUCCESS)
      ExportKey(child.get(), path + "\\" + sub, out);
  }
}

int Export(const std::string &path, const std::string &file) {
  Key key;
  LONG rc = OpenKey(path, KEY_READ, key);
  if (rc != ERROR_SUCCESS) return Fail(path + ": " + ErrorText(rc));
  HKEY root;
  std::string sub, root_name;
  SplitKey(path, root, sub, root_name);
  std::ostringstream text;
  text << "REGEDIT4\r\n\r\n";
  ExportKey(key.get(), sub.empty() ? root_name : root_name + "\\" + sub, text);
  if (file == "-") {
    std::cout << text.str();
    return 0;
  }
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text.str();
  out.close();
  return out ? 0 : Fail("cannot write " + file);
}

// Reads a quoted string at s[pos] (pos at the opening quote); pos ends after it.
bool ReadQuoted(const std::string &s, size_t &pos, std::string &out) {
  out.clear();
  if (pos >= s.size() || s[pos] != '"') return false;
  for (++pos; pos < s.size(); ++pos) {
    if (s[pos] == '\\' && pos + 1 < s.size()) {
      out += s[++pos];
    } else if (s[pos] == '"') {
      ++pos;
      return true;
    } else {
      out += s[pos];
    }
  }
  return false;
}

// One "name"=data line of an import.
LONG ImportValue(HKEY key, const std::string &line, std::string &error) {
  size_t pos = 0;
  std::string name;
  if (line[0] == '@') {
    pos = 1;
  } else if (!ReadQuoted(line, pos, name)) {
    error = "bad value name";
    return ERROR_INVALID_DATA;
  }
  if (pos >= line.size() || line[pos] != '=') {
    error = "\"=\" expected";
    return ERROR_INVALID_DATA;
  }
  const std::string data = line.substr(pos + 1);
  if (data == "-") {
    LONG rc = RegDeleteValueA(key, name.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
  }
  DWORD type = REG_SZ;
  std::vector<BYTE> bytes;
  if (!data.empty() && data[0] == '"') {
    std::string text;
    size_t p = 0;
    if (!ReadQuoted(data, p, text) || p != data.size()) {
      error = "bad string";
      return ERROR_INVALID_DATA;
    }
    bytes.assign(text.begin(), text.end());
    bytes.push_back(0);
  } else if (data.compare(0, 6, "dword:") == 0) {
    const std::string digits = data.substr(6);
    if (digits.empty() || digits.size() > 8 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      error = "bad dword";
      return ERROR_INVALID_DATA;
    }
    DWORD d = static_cast<DWORD>(std::strtoul(digits.c_str(), nullptr, 16));
    type = REG_DWORD;
    bytes.resize(4);
    std::memcpy(bytes.data(), &d, 4);
  } else if (data.compare(0, 3, "hex") == 0) {
    size_t colon = data.find(':');
    if (colon == std::string::npos) {
      error = "bad hex";
      return ERROR_INVALID_DATA;
    }
    const std::string head = data.substr(0, colon);
    if (head == "hex") {
      type = REG_BINARY;
    } else if (head.size() > 5 && head.compare(0, 4, "hex(") == 0 && head.back() == ')' &&
               head.find_first_not_of("0123456789abcdefABCDEF", 4) == head.size() - 1 && head.size() <= 13) {
      type = static_cast<DWORD>(std::strtoul(head.c_str() + 4, nullptr, 16));
    } else {
      error = "bad hex type";
      return ERROR_INVALID_DATA;
    }
    if (!ParseHexBytes(data.substr(colon + 1), bytes)) {
      error = "bad hex bytes";
      return ERROR_INVALID_DATA;
    }
  } else {
    error = "unknown data form";
    return ERROR_INVALID_DATA;
  }
  return RegSetValueExA(key, name.c_str(), 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
}

int Import(const std::string &file) {
  std::string text;
  if (file == "-") {
    std::ostringstream s;
    s << std::cin.rdbuf();
    text = s.str();
  } else {
    std::ifstream in(file, std::ios::binary);
    if (!in) return Fail("cannot read " + file);
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
  }
  // Logical lines: CR LF or LF ends, "\" at the end of a hex line continues it.
  std::vector<std::pair<int, std::string>> lines;
  {
    std::istringstream in(text);
    std::string raw, pending;
    int number = 0, start = 0;
    bool hex = false;  // the logical line holds "=hex": looked for once, not at every continuation
    while (std::getline(in, raw)) {
      ++number;
      if (!raw.empty() && raw.back() == '\r') raw.pop_back();
      if (pending.empty()) {
        start = number;
        hex = raw.find("=hex") != std::string::npos;
      } else {
        size_t lead = raw.find_first_not_of(" \t");
        raw = lead == std::string::npos ? std::string() : raw.substr(lead);
      }
      pending += raw;
      if (!pending.empty() && pending.back() == '\\' && hex) {
        pending.pop_back();
        continue;
      }
      lines.emplace_back(start, pending);
      pending.clear();
    }
    if (!pending.empty()) lines.emplace_back(start, pending);
  }
  size_t i = 0;
  while (i < lines.size() && lines[i].second.find_first_not_of(" \t") == std::string::npos) ++i;
  if (i >= lines.size() || lines[i].second != "REGEDIT4") return Fail(file + ": not a REGEDIT4 file");
  Key current;
  bool have_key = false;
  for (++i; i < lines.size(); ++i) {
    const auto &[number, line] = lines[i];
    const std::string where = file + ":" + std::to_string(number) + ": ";
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return Fail(where + "\"]\" expected");
      std::string path = line.substr(1, line.size() - 2);
      current.Reset();
      have_key = false;
      if (!path.empty() && path[0] == '-') {
        LONG rc = DeleteKeyPath(path.substr(1));
        if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
          return Fail(where + path.substr(1) + ": " + ErrorText(rc));
        continue;
      }
      LONG rc = OpenKey(path, KEY_ALL_ACCESS, current, true);
      if (rc != ERROR_SUCCESS) return Fail(where + path + ": " + ErrorText(rc));
      have_key = true;
      continue;
    }
    if (!have_key) return Fail(where + "value outside a key");
    std::string error;
    LONG rc = ImportValue(current.get(), line, error);
    if (rc != ERROR_SUCCESS) return Fail(where + (error.empty() ? ErrorText(rc) : error));
  }
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: qxreg query KEY [/s]\n"
               "       qxreg get KEY NAME\n"
               "       qxreg set KEY NAME TYPE DATA\n"
               "       qxreg delete KEY [NAME]\n"
               "       qxreg export KEY FILE|-\n"
               "       qxreg import FILE|-\n"
               "KEY starts with HKLM, HKCU, HKCR or HKU; NAME @ is the default value;\n"
               "REG_MULTI_SZ items are separated by \\0, REG_BINARY is hex.\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string &cmd = args[0];
  if (cmd == "query" && (args.size() == 2 || args.size() == 3)) {
    Key key;
    LONG rc = OpenKey(args[1], KEY_READ, key);
    if (rc != ERROR_SUCCESS) return Fail(args[1] + ": " + ErrorText(rc));
    Query(key.get(), args[1], args.size() == 3 && strcasecmp(args[2].c_str(), "/s") == 0);
    return 0;
  }
  if (cmd == "get" && args.size() == 3) {
    Key key;
    LONG rc = OpenKey(args[1], KEY_QUERY_VALUE, key);
    DWORD type = 0, size = 0;
    if (rc == ERROR_SUCCESS) rc = RegQueryValueExA(key.get(), ValueName(args[2]), nullptr, &type, nullptr, &size);
    Value v{args[2], type, std::vector<BYTE>(size)};
    if (rc == ERROR_SUCCESS) rc = RegQueryValueExA(key.get(), ValueName(args[2]), nullptr, &type, v.data.data(), &size);
    if (rc != ERROR_SUCCESS) return Fail(args[1] + " " + args[2] + ": " + ErrorText(rc));
    v.data.resize(size);
    std::printf("%s\n", DataText(v).c_str());
    return 0;
  }
  if (cmd == "set" && args.size() == 5) return Set(args[1], args[2], args[3], args[4]);
  if (cmd == "delete" && args.size() == 3) {
    Key key;
    LONG rc = OpenKey(args[1], KEY_SET_VALUE, key);
    if (rc == ERROR_SUCCESS) rc = RegDeleteValueA(key.get(), ValueName(args[2]));
    return rc == ERROR_SUCCESS ? 0 : Fail(args[1] + " " + args[2] + ": " + ErrorText(rc));
  }
  if (cmd == "delete" && args.size() == 2) {
    LONG rc = DeleteKeyPath(args[1]);
    return rc == ERROR_SUCCESS ? 0 : Fail(args[1] + ": " + ErrorText(rc));
  }
  if (cmd == "export" && args.size() == 3) return Export(args[1], args[2]);
  if (cmd == "import" && args.size() == 2) return Import(args[1]);
  return Usage();
}
