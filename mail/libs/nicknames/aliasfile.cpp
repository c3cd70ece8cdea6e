// The alias file (see aliasfile.h).
#include "aliasfile.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <new>

namespace nicknames {

std::string ContextPath(HGLOBAL context) {
  if (!context) return {};
  const SIZE_T size = GlobalSize(context);
  const char *p = static_cast<const char *>(GlobalLock(context));
  if (!p) return {};
  std::string path(p, strnlen(p, size));
  GlobalUnlock(context);
  return path;
}

std::vector<std::string> ReadKeys(const std::string &file, const std::string &section, bool *whole) {
  if (whole) *whole = true;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kListBuffer]);
  if (!buffer) return {};
  const DWORD n = GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.get(), kListBuffer, file.c_str());
  std::vector<std::string> keys;
  for (DWORD at = 0; at < n && buffer[at] != '\0';) {
    const size_t len = strnlen(buffer.get() + at, n - at);
    keys.emplace_back(buffer.get() + at, len);
    at += static_cast<DWORD>(len) + 1;
  }
  // A list that did not fit comes back as size - 2 bytes, its last key cut
  // wherever the buffer ended: that key is kept only when the section holds
  // it as it stands (the list may also just have filled the buffer).
  if (n == kListBuffer - 2 && !keys.empty()) {
    if (whole) *whole = false;
    char value[8];
    const char kMissing[] = "\x01";
    GetPrivateProfileStringA(section.c_str(), keys.back().c_str(), kMissing, value, sizeof value, file.c_str());
    if (std::strcmp(value, kMissing) == 0) keys.pop_back();
  }
  return keys;
}

bool IsAlias(const std::string &file, const std::string &name) {
  char value[255];
  GetPrivateProfileStringA(kAliasSection, name.c_str(), "<<>>", value, sizeof value, file.c_str());
  return std::strcmp(value, "<<>>") != 0;
}

std::string StoredMember(const std::string &member) {
  std::string key = member;
  for (char &c : key)
    if (c == '=') c = '\xFF';
  return key;
}

std::string ShownMember(const std::string &key) {
  std::string member = key;
  for (char &c : member)
    if (c == '\xFF') c = '=';
  return member;
}

std::string AliasName(const std::string &text) {
  std::string name = text;
  for (char &c : name)
    if (std::isspace(static_cast<unsigned char>(c))) c = '_';
  return name;
}

bool Storable(const std::string &text, bool aliasName) {
  if (text.empty() || text.front() == ';' || text.front() == '[') return false;
  if (aliasName && text.find_first_of("=[]") != std::string::npos) return false;
  return true;
}

bool AddAlias(const std::string &file, const std::string &name) {
  // Writing and deleting a key leaves the alias's section in the file, empty.
  return WritePrivateProfileStringA(kAliasSection, name.c_str(), "", file.c_str()) &&
         WritePrivateProfileStringA(name.c_str(), "temp", "", file.c_str()) &&
         WritePrivateProfileStringA(name.c_str(), "temp", nullptr, file.c_str());
}

bool DeleteAlias(const std::string &file, const std::string &name) {
  const bool key = WritePrivateProfileStringA(kAliasSection, name.c_str(), nullptr, file.c_str());
  const bool section = WritePrivateProfileStringA(name.c_str(), nullptr, nullptr, file.c_str());
  return key && section;
}

bool RenameAlias(const std::string &file, const std::string &old, const std::string &name) {
  bool whole = true;
  const std::vector<std::string> members = ReadKeys(file, old, &whole);
  if (!whole) return false;  // deleting old would lose the members beyond the bound
  bool ok = DeleteAlias(file, old);
  for (const std::string &key : members)
    ok = WritePrivateProfileStringA(name.c_str(), key.c_str(), "", file.c_str()) && ok;
  ok = WritePrivateProfileStringA(kAliasSection, name.c_str(), "", file.c_str()) && ok;
  if (members.empty()) ok = AddAlias(file, name) && ok;
  return ok;
}

bool AddMember(const std::string &file, const std::string &alias, const std::string &member) {
  return WritePrivateProfileStringA(alias.c_str(), StoredMember(member).c_str(), "", file.c_str());
}

bool RemoveMember(const std::string &file, const std::string &alias, const std::string &member) {
  return WritePrivateProfileStringA(alias.c_str(), StoredMember(member).c_str(), nullptr, file.c_str());
}

}  // namespace nicknames
