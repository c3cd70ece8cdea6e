// The nicknames module: its entry point, resources and the six exports.
#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "aliasfile.h"
#include "module.h"
#include "nicknames.h"

namespace nicknames {
namespace {

HINSTANCE g_instance = nullptr;

constexpr DWORD kDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kList = LBS_NOTIFY | WS_VSCROLL | WS_HSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;

const QX_DIALOG_ITEM kManageItems[] = {
    QX_LTEXT("&Aliases:", -1, 8, 6, 80, 8),
    QX_CONTROL("", IDC_ALIASES, "ListBox", kList | LBS_SORT, 8, 16, 90, 100),
    QX_PUSHBUTTON("&New", IDC_NEW_ALIAS, 8, 120, 28, 14),
    QX_PUSHBUTTON("&Edit", IDC_EDIT_ALIAS, 39, 120, 28, 14),
    QX_PUSHBUTTON("&Del", IDC_DELETE_ALIAS, 70, 120, 28, 14),
    QX_LTEXT("&Members:", -1, 106, 6, 80, 8),
    QX_CONTROL("", IDC_MEMBERS, "ListBox", kList, 106, 16, 140, 100),
    QX_PUSHBUTTON("&Add", IDC_ADD_MEMBER, 106, 120, 44, 14),
    QX_PUSHBUTTON("Edi&t", IDC_EDIT_MEMBER, 154, 120, 44, 14),
    QX_PUSHBUTTON("&Remove", IDC_REMOVE_MEMBER, 202, 120, 44, 14),
    QX_DEFPUSHBUTTON("OK", IDOK, 254, 16, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 254, 34, 44, 14),
};
const QX_DIALOG kManage =
    QX_DIALOG_TEMPLATE(20, 20, 306, 142, kDialogStyle, "Alias Management", "MS Sans Serif", 8, kManageItems);

const QX_DIALOG_ITEM kEntryItems[] = {
    QX_LTEXT("&Alias:", IDC_ENTRY_LABEL, 8, 8, 180, 8),
    QX_CONTROL("", IDC_ENTRY, "Edit", ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 8, 20,
               180, 12),
    QX_DEFPUSHBUTTON("OK", IDOK, 196, 8, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 196, 26, 44, 14),
};
const QX_DIALOG kEntry =
    QX_DIALOG_TEMPLATE(40, 40, 248, 42, kDialogStyle, "Alias Entry", "MS Sans Serif", 8, kEntryItems);

const QX_RESOURCE kResources[] = {
    QX_RES_DIALOG("AliasManage", kManage),
    QX_RES_DIALOG("AliasAdd", kEntry),
    QX_STRING(1, "Alias Management"),
    QX_STRING(2, "Select <To:> Alias"),
    QX_STRING(3, "Select <Cc:> Alias"),
    QX_STRING(4, "Select <Bcc:> Alias"),
    QX_STRING(IDS_NO_MEMBER_TO_EDIT, "No Alias Entry Selected to Edit"),
    QX_STRING(IDS_CAPTION_EDIT_MEMBER, "Edit Alias Entry"),
    QX_STRING(IDS_NO_ALIAS_TO_EDIT, "No Alias Selected to Edit"),
    QX_STRING(IDS_CAPTION_EDIT_ALIAS, "Edit Alias"),
    QX_STRING(IDS_NO_MEMBER_TO_DELETE, "No Alias Entry Selected to Delete"),
    QX_STRING(IDS_CAPTION_DELETE_MEMBER, "Delete Alias Entry"),
    QX_STRING(IDS_NO_ALIAS_TO_DELETE, "No Alias Selected to Delete"),
    QX_STRING(IDS_CAPTION_DELETE_ALIAS, "Delete Alias"),
    QX_STRING(IDS_NO_ALIAS_SELECTED, "No Mail Alias Selected"),
    QX_STRING(IDS_CAPTION_ALIAS_ENTRY, "Alias Entry"),
    QX_STRING(IDS_LABEL_NEW_MEMBER, "&New Alias Entry:"),
    QX_STRING(IDS_TITLE_NEW_MEMBER, "Alias Entry"),
    QX_STRING(IDS_LABEL_NEW_ALIAS, "&New Mail Alias:"),
    QX_STRING(IDS_TITLE_NEW_ALIAS, "Mail Alias Entry"),
    QX_STRING(IDS_LABEL_ALIAS, "&Alias:"),
    QX_STRING(IDS_NOT_STORABLE,
              "An alias name cannot hold =, [ or ], and neither a name nor an address can begin with ; or [. "
              "Enter it again without them."),
    QX_STRING(IDS_CANNOT_WRITE, "The alias file could not be written; check that the mail directory is writable."),
    QX_STRING(IDS_TOO_MANY_TO_RENAME,
              "This alias has more members than can be moved to a new name at once (over 60,000 characters), so "
              "it keeps its name. Make a new alias and move some members to it, then rename this one."),
};

// A moveable block holding text and its NUL.
HGLOBAL TextBlock(const std::string &text) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  if (!block) return nullptr;
  if (char *p = static_cast<char *>(GlobalLock(block))) {
    std::memcpy(p, text.c_str(), text.size() + 1);
    GlobalUnlock(block);
    return block;
  }
  GlobalFree(block);
  return nullptr;
}

// The expansion block: a 32-bit read position, then the member keys, each
// with its NUL, ended by an empty string.
struct ExpansionHeader {
  uint32_t position;
};

}  // namespace

HINSTANCE Instance() { return g_instance; }

std::string LoadText(UINT id) {
  char buffer[512] = {};
  LoadStringA(g_instance, id, buffer, sizeof buffer);
  return buffer;
}

}  // namespace nicknames

QX_REGISTER_RESOURCES(nicknames::kResources)

using namespace nicknames;

extern "C" QX_DLLEXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
  return TRUE;
}

extern "C" QX_DLLEXPORT HGLOBAL WINAPI InitializeAlias(LPCSTR mailDir, LPCSTR userName) {
  if (!mailDir || !*mailDir || !userName || !*userName) return nullptr;
  std::string path = mailDir;
  if (path.back() != '\\' && path.back() != '/') path.push_back('\\');
  path += "qxalias.ini";
  if (path.size() >= MAX_PATH) return nullptr;
  return TextBlock(path);
}

extern "C" QX_DLLEXPORT void WINAPI FreeUserContext(HGLOBAL context) {
  if (context) GlobalFree(context);
}

extern "C" QX_DLLEXPORT int32_t WINAPI AliasManagement(HGLOBAL context, HWND owner) {
  const std::string file = ContextPath(context);
  if (file.empty()) return 0;
  std::string picked;
  const INT_PTR end = RunAliasDialog(file, ALIAS_MODE_MANAGE, owner, picked);
  return end == IDOK && !picked.empty() ? 0 : static_cast<int32_t>(end);
}

extern "C" QX_DLLEXPORT HGLOBAL WINAPI GetUserAliasList(HGLOBAL context, int32_t mode, HWND owner) {
  const std::string file = ContextPath(context);
  if (file.empty()) return nullptr;
  std::string picked;
  if (RunAliasDialog(file, mode, owner, picked) != IDOK || picked.empty()) return nullptr;
  return TextBlock(picked);
}

extern "C" QX_DLLEXPORT HGLOBAL WINAPI CheckAlias(HGLOBAL context, LPCSTR nameIn) {
  const std::string file = ContextPath(context);
  if (file.empty() || !nameIn) return nullptr;
  std::string name(nameIn, strnlen(nameIn, 1024));
  while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
  // The group form: a name followed by ":;".
  if (name.size() > 2 && name.ends_with(":;")) name.resize(name.size() - 2);
  if (name.empty() || !IsAlias(file, name)) return nullptr;
  const std::vector<std::string> members = ReadKeys(file, name);
  size_t size = sizeof(ExpansionHeader) + 1;
  for (const std::string &m : members) size += m.size() + 1;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  if (!block) return nullptr;
  char *p = static_cast<char *>(GlobalLock(block));
  if (!p) {
    GlobalFree(block);
    return nullptr;
  }
  char *at = p + sizeof(ExpansionHeader);
  for (const std::string &m : members) {
    std::memcpy(at, m.c_str(), m.size() + 1);
    at += m.size() + 1;
  }
  GlobalUnlock(block);
  return block;
}

extern "C" QX_DLLEXPORT HGLOBAL WINAPI GetNextAliasExpansion(HGLOBAL, HGLOBAL expansion) {
  if (!expansion) return nullptr;
  const SIZE_T size = GlobalSize(expansion);
  char *p = static_cast<char *>(GlobalLock(expansion));
  if (!p) return nullptr;  // freed at its end already, or never an expansion
  ExpansionHeader header{};
  if (size >= sizeof header) std::memcpy(&header, p, sizeof header);
  const size_t start = sizeof header + header.position;
  if (size < sizeof header || start >= size || p[start] == '\0') {
    GlobalUnlock(expansion);
    GlobalFree(expansion);
    return nullptr;
  }
  const std::string member = ShownMember(std::string(p + start, strnlen(p + start, size - start)));
  header.position += static_cast<uint32_t>(member.size() + 1);
  std::memcpy(p, &header, sizeof header);
  GlobalUnlock(expansion);
  return TextBlock(member);
}
