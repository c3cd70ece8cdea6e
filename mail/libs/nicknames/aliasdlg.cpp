// The alias dialog (lists of aliases and of the selected alias's members,
// with their edit buttons) and the entry dialog that asks for one name or
// address.
#include <algorithm>
#include <string>
#include <vector>

#include "aliasfile.h"
#include "module.h"
#include "nicknames.h"

namespace nicknames {
namespace {

struct Picker {
  int mode;
  std::string file;
  std::string picked;
};

// What the entry dialog asks for: a new member, a new alias, or a change of
// the given text.
enum class EntryKind { kNewMember, kNewAlias, kChange };
struct Entry {
  EntryKind kind;
  std::string text;
};

void ErrorBox(HWND dialog, UINT text, UINT caption) {
  MessageBoxA(dialog, LoadText(text).c_str(), LoadText(caption).c_str(), MB_OK | MB_ICONERROR);
}

std::string ListText(HWND list, LRESULT index) {
  const LRESULT len = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (len == LB_ERR) return {};
  std::string text(static_cast<size_t>(len) + 1, '\0');
  SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(strnlen(text.c_str(), text.size()));
  return text;
}

// The selected item's text, or nothing when none is selected.
bool Selected(HWND dialog, int id, std::string &text, LRESULT *index = nullptr) {
  HWND list = GetDlgItem(dialog, id);
  const LRESULT i = SendMessageA(list, LB_GETCURSEL, 0, 0);
  if (i == LB_ERR) return false;
  text = ListText(list, i);
  if (index) *index = i;
  return true;
}

INT_PTR CALLBACK EntryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto *entry = reinterpret_cast<Entry *>(lParam);
      SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
      UINT label = IDS_LABEL_ALIAS, title = IDS_CAPTION_EDIT_ALIAS;
      if (entry->kind == EntryKind::kNewMember) label = IDS_LABEL_NEW_MEMBER, title = IDS_TITLE_NEW_MEMBER;
      if (entry->kind == EntryKind::kNewAlias) label = IDS_LABEL_NEW_ALIAS, title = IDS_TITLE_NEW_ALIAS;
      SetDlgItemTextA(dialog, IDC_ENTRY_LABEL, LoadText(label).c_str());
      SetWindowTextA(dialog, LoadText(title).c_str());
      SendDlgItemMessageA(dialog, IDC_ENTRY, EM_LIMITTEXT, kEntryLength, 0);
      if (entry->kind == EntryKind::kChange) SetDlgItemTextA(dialog, IDC_ENTRY, entry->text.c_str());
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        auto *entry = reinterpret_cast<Entry *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
        char text[kEntryLength + 1] = {};
        GetDlgItemTextA(dialog, IDC_ENTRY, text, sizeof text);
        entry->text = text;
        EndDialog(dialog, entry->text.empty() ? 0 : 1);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

// Asks for a name or address; false when the person cancelled or gave none,
// or gave one the file cannot keep (after saying so).
bool AskEntry(HWND dialog, EntryKind kind, bool aliasName, std::string &text) {
  Entry entry{kind, text};
  if (DialogBoxParamA(Instance(), kEntryDialog, dialog, EntryProc, reinterpret_cast<LPARAM>(&entry)) != 1) return false;
  std::string value = aliasName ? AliasName(entry.text) : entry.text;
  if (!Storable(value, aliasName)) {
    MessageBoxA(dialog, LoadText(IDS_NOT_STORABLE).c_str(), LoadText(IDS_CAPTION_ALIAS_ENTRY).c_str(),
                MB_OK | MB_ICONERROR);
    return false;
  }
  text = value;
  return true;
}

void Written(HWND dialog, bool ok) {
  if (!ok)
    MessageBoxA(dialog, LoadText(IDS_CANNOT_WRITE).c_str(), LoadText(IDS_CAPTION_ALIAS_ENTRY).c_str(),
                MB_OK | MB_ICONERROR);
}

void WidenMembers(HWND dialog, const std::string &member) {
  HWND list = GetDlgItem(dialog, IDC_MEMBERS);
  HDC dc = GetDC(list);
  if (!dc) return;
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(list, WM_GETFONT, 0, 0)));
  const DWORD extent = GetTabbedTextExtentA(dc, member.c_str(), static_cast<int>(member.size()), 0, nullptr);
  SelectObject(dc, old);
  ReleaseDC(list, dc);
  const LRESULT now = SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0);
  const LRESULT wanted = LOWORD(extent) + 4;
  if (wanted > now) SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(wanted), 0);
}

void FillMembers(HWND dialog, const Picker &picker, const std::string &alias) {
  HWND list = GetDlgItem(dialog, IDC_MEMBERS);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  SendMessageA(list, LB_SETHORIZONTALEXTENT, 0, 0);
  for (const std::string &key : ReadKeys(picker.file, alias)) {
    const std::string member = ShownMember(key);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(member.c_str()));
    WidenMembers(dialog, member);
  }
}

void Pick(HWND dialog, Picker &picker, int list) {
  std::string text;
  if (Selected(dialog, list, text)) {
    picker.picked = text;
    EndDialog(dialog, IDOK);
  } else {
    EndDialog(dialog, 0);
  }
}

void NewAlias(HWND dialog, Picker &picker) {
  std::string name;
  if (!AskEntry(dialog, EntryKind::kNewAlias, true, name)) return;
  Written(dialog, AddAlias(picker.file, name));
  HWND list = GetDlgItem(dialog, IDC_ALIASES);
  if (SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name.c_str())) == LB_ERR)
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
}

void DeleteSelectedAlias(HWND dialog, Picker &picker) {
  std::string name;
  LRESULT index = 0;
  if (!Selected(dialog, IDC_ALIASES, name, &index))
    return ErrorBox(dialog, IDS_NO_ALIAS_TO_DELETE, IDS_CAPTION_DELETE_ALIAS);
  SendDlgItemMessageA(dialog, IDC_MEMBERS, LB_RESETCONTENT, 0, 0);
  SendDlgItemMessageA(dialog, IDC_ALIASES, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
  Written(dialog, DeleteAlias(picker.file, name));
}

void EditSelectedAlias(HWND dialog, Picker &picker) {
  std::string old;
  LRESULT index = 0;
  if (!Selected(dialog, IDC_ALIASES, old, &index))
    return ErrorBox(dialog, IDS_NO_ALIAS_TO_EDIT, IDS_CAPTION_EDIT_ALIAS);
  std::string name = old;
  if (!AskEntry(dialog, EntryKind::kChange, true, name) || name == old) return;
  bool whole = true;
  ReadKeys(picker.file, old, &whole);
  if (!whole) return ErrorBox(dialog, IDS_TOO_MANY_TO_RENAME, IDS_CAPTION_EDIT_ALIAS);
  Written(dialog, RenameAlias(picker.file, old, name));
  HWND list = GetDlgItem(dialog, IDC_ALIASES);
  SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
  if (SendMessageA(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(name.c_str())) == LB_ERR)
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
  SendDlgItemMessageA(dialog, IDC_MEMBERS, LB_RESETCONTENT, 0, 0);
}

void AddMemberToSelected(HWND dialog, Picker &picker) {
  std::string alias;
  if (!Selected(dialog, IDC_ALIASES, alias)) return ErrorBox(dialog, IDS_NO_ALIAS_SELECTED, IDS_CAPTION_ALIAS_ENTRY);
  std::string member;
  if (!AskEntry(dialog, EntryKind::kNewMember, false, member)) return;
  Written(dialog, AddMember(picker.file, alias, member));
  WidenMembers(dialog, member);
  SendDlgItemMessageA(dialog, IDC_MEMBERS, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(member.c_str()));
}

void EditSelectedMember(HWND dialog, Picker &picker) {
  std::string alias, old;
  LRESULT index = 0;
  if (!Selected(dialog, IDC_MEMBERS, old, &index) || !Selected(dialog, IDC_ALIASES, alias))
    return ErrorBox(dialog, IDS_NO_MEMBER_TO_EDIT, IDS_CAPTION_EDIT_MEMBER);
  std::string member = old;
  if (!AskEntry(dialog, EntryKind::kChange, false, member) || member == old) return;
  // The old key is deleted by its full text, kept apart from the edit.
  bool ok = RemoveMember(picker.file, alias, old);
  ok = AddMember(picker.file, alias, member) && ok;
  Written(dialog, ok);
  HWND list = GetDlgItem(dialog, IDC_MEMBERS);
  SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
  SendMessageA(list, LB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(member.c_str()));
  WidenMembers(dialog, member);
}

void RemoveSelectedMember(HWND dialog, Picker &picker) {
  std::string alias, member;
  LRESULT index = 0;
  if (!Selected(dialog, IDC_MEMBERS, member, &index) || !Selected(dialog, IDC_ALIASES, alias))
    return ErrorBox(dialog, IDS_NO_MEMBER_TO_DELETE, IDS_CAPTION_DELETE_MEMBER);
  Written(dialog, RemoveMember(picker.file, alias, member));
  SendDlgItemMessageA(dialog, IDC_MEMBERS, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

void OnCommand(HWND dialog, Picker &picker, int id, int code) {
  switch (id) {
    case IDC_ALIASES:
      if (code == LBN_SELCHANGE) {
        std::string alias;
        if (Selected(dialog, IDC_ALIASES, alias)) FillMembers(dialog, picker, alias);
      } else if (code == LBN_DBLCLK) {
        Pick(dialog, picker, IDC_ALIASES);
      }
      break;
    case IDC_MEMBERS:
      if (code == LBN_DBLCLK) Pick(dialog, picker, IDC_MEMBERS);
      break;
    case IDOK: Pick(dialog, picker, IDC_ALIASES); break;
    case IDCANCEL: EndDialog(dialog, 0); break;
    case IDC_NEW_ALIAS: NewAlias(dialog, picker); break;
    case IDC_DELETE_ALIAS: DeleteSelectedAlias(dialog, picker); break;
    case IDC_EDIT_ALIAS: EditSelectedAlias(dialog, picker); break;
    case IDC_ADD_MEMBER: AddMemberToSelected(dialog, picker); break;
    case IDC_EDIT_MEMBER: EditSelectedMember(dialog, picker); break;
    case IDC_REMOVE_MEMBER: RemoveSelectedMember(dialog, picker); break;
  }
}

INT_PTR CALLBACK AliasProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto *picker = reinterpret_cast<Picker *>(lParam);
      SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
      const int mode = picker->mode >= 0 && picker->mode <= 3 ? picker->mode : 0;
      SetWindowTextA(dialog, LoadText(IDS_TITLE_MANAGE + static_cast<UINT>(mode)).c_str());
      for (const std::string &name : ReadKeys(picker->file, kAliasSection))
        SendDlgItemMessageA(dialog, IDC_ALIASES, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
      return TRUE;
    }
    case WM_COMMAND: {
      auto *picker = reinterpret_cast<Picker *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
      if (!picker) return FALSE;
      OnCommand(dialog, *picker, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace

INT_PTR RunAliasDialog(const std::string &file, int mode, HWND owner, std::string &picked) {
  Picker picker{mode, file, {}};
  const INT_PTR end = DialogBoxParamA(Instance(), kManageDialog, owner, AliasProc, reinterpret_cast<LPARAM>(&picker));
  picked = picker.picked;
  return end;
}

}  // namespace nicknames
