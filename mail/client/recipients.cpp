// The alias library binding and the recipient list builder.
#include "recipients.h"

#include <algorithm>
#include <cctype>
#include <cstring>

// Last, so that the layer's C runtime names (fopen) are not undone by <cstdio>.
#include <windows.h>

HGLOBAL g_AliasContext = nullptr;

namespace {

ALIAS_BINDING g_binding;

// Items written to the header as groups besides aliases: other transports.
constexpr const char *kGroupPrefixes[] = {"MAPI==", "VIM==", "MHS==", "MHS_LOCAL==", "FAX=="};

bool StartsNoCase(const std::string &text, const char *prefix) {
  return _strnicmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

template <typename T>
bool Take(HMODULE module, const char *name, T &entry) {
  entry = reinterpret_cast<T>(GetProcAddress(module, name));
  return entry != nullptr;
}

// The end of the item that starts at start: a comma outside double quotes
// (a backslash escapes the next character), else the text's end.
size_t ItemEnd(const std::string &text, size_t start) {
  bool quoted = false;
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      quoted = !quoted;
    } else if (text[i] == ',' && !quoted) {
      return i;
    }
  }
  return text.size();
}

}  // namespace

ALIAS_BINDING &AliasBinding() { return g_binding; }

void BindAliasLibrary() {
  if (g_binding.bound()) return;
  // The loader searches beside the program and the library directories; a
  // library it cannot find is a missing one.
  HMODULE module = LoadLibraryA(NICKNAMES_MODULE);
  if (!module) return;
  ALIAS_BINDING b;
  if (!Take(module, "InitializeAlias", b.InitializeAlias) || !Take(module, "FreeUserContext", b.FreeUserContext) ||
      !Take(module, "AliasManagement", b.AliasManagement) || !Take(module, "GetUserAliasList", b.GetUserAliasList) ||
      !Take(module, "CheckAlias", b.CheckAlias) || !Take(module, "GetNextAliasExpansion", b.GetNextAliasExpansion)) {
    FreeLibrary(module);
    return;
  }
  b.module = module;
  g_binding = b;
}

void UnbindAliasLibrary() {
  if (!g_binding.bound()) return;
  if (g_AliasContext) g_binding.FreeUserContext(g_AliasContext);
  g_AliasContext = nullptr;
  FreeLibrary(g_binding.module);
  g_binding = ALIAS_BINDING{};
}

void OpenAliasContext(const std::string &mailDir, const std::string &user) {
  if (!g_binding.bound()) return;
  if (g_AliasContext) g_binding.FreeUserContext(g_AliasContext);
  g_AliasContext = g_binding.InitializeAlias(mailDir.c_str(), user.c_str());
}

std::optional<std::string> PickAlias(HWND owner, int mode) {
  if (!g_binding.bound() || !g_AliasContext) return std::nullopt;
  HGLOBAL block = g_binding.GetUserAliasList(g_AliasContext, mode, owner);
  if (!block) return std::nullopt;
  const SIZE_T size = GlobalSize(block);
  const char *text = static_cast<const char *>(GlobalLock(block));
  std::string picked = text ? std::string(text, strnlen(text, std::min<SIZE_T>(size, 120))) : std::string();
  GlobalUnlock(block);
  GlobalFree(block);
  if (picked.empty()) return std::nullopt;
  return picked;
}

void RECIPIENT_LIST::Free() {
  for (RECIPIENT &r : entries)
    if (r.expansion) GlobalFree(r.expansion);
  entries.clear();
}

void AddRecipient(RECIPIENT_LIST &list, const std::string &item) {
  if (list.entries.size() >= kMaxRecipients) return;
  std::string bare;
  const size_t lt = item.find('<');
  if (lt != std::string::npos) {
    const size_t gt = item.find('>', lt + 1);
    bare = item.substr(lt + 1, gt == std::string::npos ? std::string::npos : gt - lt - 1);
  } else {
    bare = item.substr(0, item.find(' '));
  }
  if (!bare.empty()) list.entries.push_back(RECIPIENT{bare, nullptr});
}

bool ExpandRecipient(RECIPIENT_LIST &list, std::string &item) {
  while (!item.empty() && IsBlank(item.back())) item.pop_back();
  if (item.size() > 2 && item.compare(item.size() - 2, 2, ":;") == 0) item.resize(item.size() - 2);
  if (g_AliasContext && g_binding.bound()) {
    if (HGLOBAL expansion = g_binding.CheckAlias(g_AliasContext, item.c_str())) {
      if (list.entries.size() < kMaxRecipients)
        list.entries.push_back(RECIPIENT{std::string(), expansion});
      else
        GlobalFree(expansion);
      return true;
    }
  }
  AddRecipient(list, item);
  for (const char *prefix : kGroupPrefixes)
    if (StartsNoCase(item, prefix)) return true;
  return false;
}

std::optional<std::string> RewriteAddressList(const std::optional<std::string> &text, RECIPIENT_LIST &list) {
  if (!text) return std::nullopt;
  const std::string &l = *text;
  std::string out;
  size_t i = 0;
  while (i < l.size()) {
    while (i < l.size() && IsBlank(l[i])) out += l[i++];
    if (i >= l.size()) break;
    const size_t end = ItemEnd(l, i);
    std::string item = l.substr(i, end - i);
    if (item.find_first_not_of(" \t\r\n") != std::string::npos) {  // an empty item names nobody
      if (ExpandRecipient(list, item)) {
        out += item + ":;";
      } else {
        const size_t eq = item.find("==");
        out += eq == std::string::npos ? item : item.substr(eq + 2);
      }
    }
    if (end < l.size()) out += ',';
    i = end + 1;
  }
  return out;
}

RECIPIENT_LIST BuildRecipients(SEND_HEADER &header) {
  RECIPIENT_LIST list;
  for (std::optional<std::string> *field : {&header.to, &header.cc, &header.bcc, &header.reDirect})
    *field = RewriteAddressList(*field, list);
  return list;
}

std::vector<std::string> EnvelopeAddresses(RECIPIENT_LIST &list) {
  std::vector<std::string> addresses;
  for (RECIPIENT &r : list.entries) {
    if (!r.expansion) {
      if (!r.address.empty()) addresses.push_back(r.address);  // empty: an alias already walked
      continue;
    }
    if (!g_binding.bound() || !g_AliasContext) continue;  // freed with the list
    // The library frees the expansion itself once it has given the last member.
    while (HGLOBAL member = g_binding.GetNextAliasExpansion(g_AliasContext, r.expansion)) {
      const SIZE_T size = GlobalSize(member);
      const char *text = static_cast<const char *>(GlobalLock(member));
      if (text && size > 0) addresses.emplace_back(text, strnlen(text, size));
      GlobalUnlock(member);
      GlobalFree(member);
    }
    r.expansion = nullptr;
  }
  return addresses;
}
