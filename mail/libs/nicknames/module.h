// What the parts of the nicknames module share: its instance, texts and
// dialogs.
#ifndef QX_NICKNAMES_MODULE_H
#define QX_NICKNAMES_MODULE_H

#include <windows.h>

#include <string>

namespace nicknames {

enum TextId : UINT {
  IDS_TITLE_MANAGE = 1,  // titles by mode: 1 to 4
  IDS_NO_MEMBER_TO_EDIT = 5,
  IDS_CAPTION_EDIT_MEMBER = 6,
  IDS_NO_ALIAS_TO_EDIT = 7,
  IDS_CAPTION_EDIT_ALIAS = 8,
  IDS_NO_MEMBER_TO_DELETE = 9,
  IDS_CAPTION_DELETE_MEMBER = 10,
  IDS_NO_ALIAS_TO_DELETE = 11,
  IDS_CAPTION_DELETE_ALIAS = 12,
  IDS_NO_ALIAS_SELECTED = 13,
  IDS_CAPTION_ALIAS_ENTRY = 14,
  IDS_LABEL_NEW_MEMBER = 15,
  IDS_TITLE_NEW_MEMBER = 16,
  IDS_LABEL_NEW_ALIAS = 17,
  IDS_TITLE_NEW_ALIAS = 18,
  IDS_LABEL_ALIAS = 19,
  IDS_NOT_STORABLE = 20,
  IDS_CANNOT_WRITE = 21,
  IDS_TOO_MANY_TO_RENAME = 22,
};

enum ControlId : int {
  IDC_ALIASES = 100,
  IDC_NEW_ALIAS = 101,
  IDC_DELETE_ALIAS = 102,
  IDC_MEMBERS = 103,
  IDC_ADD_MEMBER = 104,
  IDC_REMOVE_MEMBER = 105,
  IDC_EDIT_ALIAS = 108,
  IDC_EDIT_MEMBER = 109,
  IDC_ENTRY = 106,
  IDC_ENTRY_LABEL = 107,
};

constexpr const char *kManageDialog = "AliasManage";
constexpr const char *kEntryDialog = "AliasAdd";

HINSTANCE Instance();
std::string LoadText(UINT id);

// The alias dialog in a mode (0 manage, 1 To, 2 Cc, 3 Bcc). Returns its end
// code; picked holds the chosen alias or member when it ends with 1.
INT_PTR RunAliasDialog(const std::string &file, int mode, HWND owner, std::string &picked);

}  // namespace nicknames

#endif
