// The file dialogs of our own: Open and Save As in the style of the NT 3.51
// and Windows 3.1 dialogs (file name, file list, directories, file types,
// drives), with filters, a default extension, the old-style multi-select
// result, the prompts, hooks, and CommDlgExtendedError.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "controls_internal.h"

namespace qx::controls {
namespace {}  // namespace

thread_local DWORD t_error = 0;

namespace {

struct FileDialog {
  OPENFILENAMEA *ofn = nullptr;
  bool save = false;
  std::string dir;  // current directory of the dialog, without a trailing backslash
  std::vector<std::pair<std::string, std::string>> filters;  // description, patterns
  std::string pattern = "*.*";
  std::string start_dir;  // the process's directory before the dialog
  UINT fileok_msg = 0;
};

// ---- paths ----

std::string Join(const std::string &dir, const std::string &name) {
  if (dir.empty()) return name;
  return dir.back() == '\\' ? dir + name : dir + "\\" + name;
}

bool IsAbsolute(const std::string &p) { return p.size() >= 2 && p[1] == ':'; }

DWORD Attributes(const std::string &p) { return GetFileAttributesA(p.c_str()); }
bool Exists(const std::string &p) { return Attributes(p) != INVALID_FILE_ATTRIBUTES; }
bool IsDir(const std::string &p) {
  const DWORD a = Attributes(p);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// DOS wildcard match without regard to case; "*.*" also matches names without a dot.
bool Match(const char *pat, const char *name) {
  if (std::strcmp(pat, "*.*") == 0) return true;
  while (*pat) {
    if (*pat == '*') {
      for (const char *n = name;; ++n) {
        if (Match(pat + 1, n)) return true;
        if (!*n) return false;
      }
    }
    if (!*name) return false;
    if (*pat != '?' &&
        std::tolower(static_cast<unsigned char>(*pat)) != std::tolower(static_cast<unsigned char>(*name)))
      return false;
    ++pat;
    ++name;
  }
  return !*name;
}

bool MatchAny(const std::string &patterns, const std::string &name) {
  size_t pos = 0;
  while (pos <= patterns.size()) {
    size_t end = patterns.find(';', pos);
    if (end == std::string::npos) end = patterns.size();
    std::string p = patterns.substr(pos, end - pos);
    p.erase(0, p.find_first_not_of(' '));
    if (!p.empty() && Match(p.c_str(), name.c_str())) return true;
    pos = end + 1;
  }
  return false;
}

bool HasWildcard(const std::string &s) { return s.find_first_of("*?") != std::string::npos; }

// ---- the dialog's lists ----

void Fill(HWND dlg, FileDialog &fd) {
  SendDlgItemMessageA(dlg, lst1, LB_RESETCONTENT, 0, 0);
  SendDlgItemMessageA(dlg, lst2, LB_RESETCONTENT, 0, 0);
  WIN32_FIND_DATAA fdata;
  HANDLE find = FindFirstFileA(Join(fd.dir, "*.*").c_str(), &fdata);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = fdata.cFileName;
      if (fdata.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (name == ".") continue;
        SendDlgItemMessageA(dlg, lst2, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(("[" + Lower(name) + "]").c_str()));
      } else if (MatchAny(fd.pattern, name)) {
        SendDlgItemMessageA(dlg, lst1, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Lower(name).c_str()));
      }
    } while (FindNextFileA(find, &fdata));
    FindClose(find);
  }
  SetDlgItemTextA(dlg, stc1, Lower(fd.dir.size() == 2 ? fd.dir + "\\" : fd.dir).c_str());
}

bool ChangeDir(HWND dlg, FileDialog &fd, const std::string &to) {
  std::string target = IsAbsolute(to) ? to : Join(fd.dir, to);
  char full[MAX_PATH];
  if (!GetFullPathNameA(target.c_str(), sizeof full, full, nullptr) || !IsDir(full)) return false;
  fd.dir = full;
  if (fd.dir.size() > 3 && fd.dir.back() == '\\') fd.dir.pop_back();
  if (fd.dir.size() == 3 && fd.dir.back() == '\\') fd.dir.pop_back();  // "C:" stands for the root here
  Fill(dlg, fd);
  return true;
}

// ---- choosing ----

void SetError(DWORD e) { t_error = e; }

bool Ask(HWND dlg, const std::string &text, UINT type, int yes) {
  char title[128] = {};
  GetWindowTextA(dlg, title, sizeof title);
  return MessageBoxA(dlg, text.c_str(), title, type) == yes;
}

std::string WithDefaultExt(const FileDialog &fd, const std::string &name) {
  const size_t slash = name.find_last_of("\\:");
  const size_t dot = name.find_last_of('.');
  const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  if (has_ext || !fd.ofn->lpstrDefExt || !*fd.ofn->lpstrDefExt) return name;
  return name + "." + fd.ofn->lpstrDefExt;
}

// Writes the result into the program's buffers; false (error set) when it does not fit.
bool Store(FileDialog &fd, const std::string &result, size_t file_offset) {
  OPENFILENAMEA &o = *fd.ofn;
  if (!o.lpstrFile || result.size() + 2 > o.nMaxFile) {
    if (o.lpstrFile && o.nMaxFile >= 2) {
      const WORD need = static_cast<WORD>(std::min<size_t>(result.size() + 2, 0xFFFF));
      std::memcpy(o.lpstrFile, &need, sizeof need);  // the size that is needed, as documented
    }
    SetError(FNERR_BUFFERTOOSMALL);
    return false;
  }
  std::memcpy(o.lpstrFile, result.c_str(), result.size() + 1);
  o.lpstrFile[result.size() + 1] = '\0';
  o.nFileOffset = static_cast<WORD>(file_offset);
  const std::string name = result.substr(file_offset);
  const size_t dot = name.find_last_of('.');
  o.nFileExtension = static_cast<WORD>(dot == std::string::npos ||
                                               (o.Flags & OFN_ALLOWMULTISELECT && name.find(' ') != std::string::npos)
                                           ? 0
                                           : file_offset + dot + 1);
  if (o.lpstrDefExt && dot != std::string::npos && Lower(name.substr(dot + 1)) != Lower(o.lpstrDefExt))
    o.Flags |= OFN_EXTENSIONDIFFERENT;
  else
    o.Flags &= ~static_cast<DWORD>(OFN_EXTENSIONDIFFERENT);
  if (o.lpstrFileTitle && o.nMaxFileTitle > 0) {
    const size_t n = std::min<size_t>(name.size(), o.nMaxFileTitle - 1);
    std::memcpy(o.lpstrFileTitle, name.data(), n);
    o.lpstrFileTitle[n] = '\0';
  }
  return true;
}

// The hook may refuse a file name the dialog would accept.
bool HookAccepts(HWND dlg, FileDialog &fd) {
  if (!(fd.ofn->Flags & OFN_ENABLEHOOK) || !fd.ofn->lpfnHook) return true;
  SetWindowLongA(dlg, DWL_MSGRESULT, 0);
  if (fd.ofn->lpfnHook(dlg, fd.fileok_msg, 0, reinterpret_cast<LPARAM>(fd.ofn)) && GetWindowLongA(dlg, DWL_MSGRESULT))
    return false;
  return true;
}

void ReadOnlyBack(HWND dlg, FileDialog &fd) {
  if (IsDlgButtonChecked(dlg, chx1) == BST_CHECKED)
    fd.ofn->Flags |= OFN_READONLY;
  else
    fd.ofn->Flags &= ~static_cast<DWORD>(OFN_READONLY);
}

bool MultipleChosen(HWND dlg, FileDialog &fd) {
  if (!(fd.ofn->Flags & OFN_ALLOWMULTISELECT)) return false;
  const int n = static_cast<int>(SendDlgItemMessageA(dlg, lst1, LB_GETSELCOUNT, 0, 0));
  if (n <= 1) return false;
  std::vector<INT> sel(static_cast<size_t>(n));
  SendDlgItemMessageA(dlg, lst1, LB_GETSELITEMS, static_cast<WPARAM>(n), reinterpret_cast<LPARAM>(sel.data()));
  // The old-style result: the directory, then each file name, separated by spaces.
  std::string result = fd.dir.size() == 2 ? fd.dir + "\\" : fd.dir;
  const size_t offset = result.size() + 1;
  for (INT i : sel) {
    char name[MAX_PATH] = {};
    SendDlgItemMessageA(dlg, lst1, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(name));
    result += " ";
    result += name;
  }
  if (!HookAccepts(dlg, fd)) return true;
  ReadOnlyBack(dlg, fd);
  EndDialog(dlg, Store(fd, result, offset) ? IDOK : -1);
  return true;
}

void Ok(HWND dlg, FileDialog &fd) {
  if (MultipleChosen(dlg, fd)) return;
  char text[MAX_PATH] = {};
  GetDlgItemTextA(dlg, edt1, text, sizeof text);
  std::string name = text;
  name.erase(0, name.find_first_not_of(' '));
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty()) return;
  if (HasWildcard(name)) {  // a pattern typed as the name filters the list
    const size_t slash = name.find_last_of("\\:");
    if (slash != std::string::npos && !ChangeDir(dlg, fd, name.substr(0, slash + 1))) return;
    fd.pattern = slash == std::string::npos ? name : name.substr(slash + 1);
    Fill(dlg, fd);
    SetDlgItemTextA(dlg, edt1, fd.pattern.c_str());
    return;
  }
  const std::string candidate = IsAbsolute(name) ? name : Join(fd.dir, name);
  if (IsDir(candidate)) {
    ChangeDir(dlg, fd, candidate);
    SetDlgItemTextA(dlg, edt1, fd.pattern.c_str());
    return;
  }
  char full[MAX_PATH];
  if (!GetFullPathNameA(WithDefaultExt(fd, candidate).c_str(), sizeof full, full, nullptr)) {
    Ask(dlg, name + "\nThe filename is not valid.", MB_OK | MB_ICONEXCLAMATION, IDOK);
    return;
  }
  std::string path = full;
  // A name typed without its extension may name a file that has it.
  if (!fd.save && !Exists(path) && Exists(candidate)) path = candidate;
  const size_t slash = path.find_last_of('\\');
  const std::string parent = slash == std::string::npos ? fd.dir : path.substr(0, slash == 2 ? 3 : slash);
  const DWORD flags = fd.ofn->Flags;
  if ((flags & (OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST)) && !IsDir(parent)) {
    Ask(dlg, path + "\nPath does not exist.\nPlease verify the correct path was given.", MB_OK | MB_ICONEXCLAMATION,
        IDOK);
    return;
  }
  if (!Exists(path)) {
    if (flags & OFN_FILEMUSTEXIST) {
      Ask(dlg, path + "\nFile not found.\nPlease verify the correct filename was given.", MB_OK | MB_ICONEXCLAMATION,
          IDOK);
      return;
    }
    if ((flags & OFN_CREATEPROMPT) &&
        !Ask(dlg, path + "\nThis file does not exist.\nCreate the file?", MB_YESNO | MB_ICONQUESTION, IDYES))
      return;
  } else if (fd.save && (flags & OFN_OVERWRITEPROMPT)) {
    if (!Ask(dlg, path + " already exists.\nDo you want to replace it?", MB_YESNO | MB_ICONEXCLAMATION, IDYES)) return;
  }
  if (!HookAccepts(dlg, fd)) return;
  ReadOnlyBack(dlg, fd);
  const size_t offset = path.find_last_of('\\') + 1;
  if (!(flags & OFN_NOCHANGEDIR)) SetCurrentDirectoryA(path.substr(0, offset == 3 ? 3 : offset - 1).c_str());
  EndDialog(dlg, Store(fd, path, offset) ? IDOK : -1);
}

void FilterChosen(HWND dlg, FileDialog &fd) {
  const int i = static_cast<int>(SendDlgItemMessageA(dlg, cmb1, CB_GETCURSEL, 0, 0));
  if (i < 0 || static_cast<size_t>(i) >= fd.filters.size()) return;
  fd.pattern = fd.filters[static_cast<size_t>(i)].second;
  fd.ofn->nFilterIndex = static_cast<DWORD>(i + 1);
  Fill(dlg, fd);
  char text[MAX_PATH] = {};
  GetDlgItemTextA(dlg, edt1, text, sizeof text);
  if (!*text || HasWildcard(text)) SetDlgItemTextA(dlg, edt1, fd.pattern.c_str());
}

void Init(HWND dlg, FileDialog &fd) {
  OPENFILENAMEA &o = *fd.ofn;
  for (const auto &f : fd.filters)
    SendDlgItemMessageA(dlg, cmb1, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(f.first.c_str()));
  if (!fd.filters.empty()) {
    const size_t index = o.nFilterIndex >= 1 && o.nFilterIndex <= fd.filters.size() ? o.nFilterIndex - 1 : 0;
    SendDlgItemMessageA(dlg, cmb1, CB_SETCURSEL, index, 0);
    fd.pattern = fd.filters[index].second;
  }
  for (char d = 'a'; d <= 'z'; ++d) {
    const char root[] = {static_cast<char>(std::toupper(d)), ':', '\\', 0};
    if (IsDir(root))
      SendDlgItemMessageA(dlg, cmb2, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>((std::string(1, d) + ":").c_str()));
  }
  std::string initial = o.lpstrFile ? std::string(o.lpstrFile, strnlen(o.lpstrFile, o.nMaxFile)) : "";
  if (HasWildcard(initial)) {
    fd.pattern = initial;
    initial.clear();
  }
  Fill(dlg, fd);
  SetDlgItemTextA(dlg, edt1, initial.empty() ? fd.pattern.c_str() : initial.c_str());
  if (o.lpstrTitle) SetWindowTextA(dlg, o.lpstrTitle);
  if (o.Flags & OFN_HIDEREADONLY) ShowWindow(GetDlgItem(dlg, chx1), SW_HIDE);
  CheckDlgButton(dlg, chx1, (o.Flags & OFN_READONLY) ? BST_CHECKED : BST_UNCHECKED);
  SendDlgItemMessageA(dlg, edt1, EM_LIMITTEXT, MAX_PATH - 1, 0);
}

INT_PTR CALLBACK FileProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
  FileDialog *fd = reinterpret_cast<FileDialog *>(GetPropA(dlg, "QxFileDialog"));
  if (msg == WM_INITDIALOG) {
    fd = reinterpret_cast<FileDialog *>(lp);
    SetPropA(dlg, "QxFileDialog", fd);
    Init(dlg, *fd);
  }
  if (!fd) return FALSE;
  // The hook sees each message first; TRUE keeps the dialog's own handling away.
  if ((fd->ofn->Flags & OFN_ENABLEHOOK) && fd->ofn->lpfnHook && msg != fd->fileok_msg) {
    const LPARAM hook_lp = msg == WM_INITDIALOG ? reinterpret_cast<LPARAM>(fd->ofn) : lp;
    if (fd->ofn->lpfnHook(dlg, msg, wp, hook_lp) && msg != WM_INITDIALOG) return TRUE;
  }
  switch (msg) {
    case WM_INITDIALOG: return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wp), code = HIWORD(wp);
      if (id == IDOK)
        Ok(dlg, *fd);
      else if (id == IDCANCEL)
        EndDialog(dlg, IDCANCEL);
      else if (id == cmb1 && code == CBN_SELCHANGE)
        FilterChosen(dlg, *fd);
      else if (id == lst1 && code == LBN_SELCHANGE) {
        const int n = static_cast<int>(SendDlgItemMessageA(dlg, lst1, LB_GETSELCOUNT, 0, 0));
        const int i = static_cast<int>(SendDlgItemMessageA(dlg, lst1, LB_GETCARETINDEX, 0, 0));
        if ((n == LB_ERR || n <= 1) && i >= 0) {
          char name[MAX_PATH] = {};
          SendDlgItemMessageA(dlg, lst1, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(name));
          SetDlgItemTextA(dlg, edt1, name);
        }
      } else if (id == lst1 && code == LBN_DBLCLK) {
        Ok(dlg, *fd);
      } else if (id == lst2 && code == LBN_DBLCLK) {
        const int i = static_cast<int>(SendDlgItemMessageA(dlg, lst2, LB_GETCURSEL, 0, 0));
        char name[MAX_PATH] = {};
        if (i >= 0 &&
            SendDlgItemMessageA(dlg, lst2, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(name)) > 2) {
          std::string d = name;
          ChangeDir(dlg, *fd, d.substr(1, d.size() - 2));
        }
      } else if (id == cmb2 && code == CBN_SELCHANGE) {
        char drive[8] = {};
        GetDlgItemTextA(dlg, cmb2, drive, sizeof drive);
        ChangeDir(dlg, *fd, std::string(drive) + "\\");
      }
      return TRUE;
    }
    case WM_DESTROY: RemovePropA(dlg, "QxFileDialog"); return FALSE;
    default: return FALSE;
  }
}

const QX_DIALOG_ITEM kOpenItems[] = {
    QX_LTEXT("File &Name:", stc3, 6, 6, 76, 9),
    QX_CONTROL("", edt1, "Edit", ES_AUTOHSCROLL | ES_LOWERCASE | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 6, 16,
               90, 12),
    QX_CONTROL(
        "", lst1, "ListBox",
        LBS_SORT | LBS_NOTIFY | LBS_DISABLENOSCROLL | WS_VSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 6,
        32, 90, 68),
    QX_LTEXT("&Directories:", -1, 110, 6, 92, 9),
    QX_LTEXT("", stc1, 110, 18, 92, 9),
    QX_CONTROL(
        "", lst2, "ListBox",
        LBS_SORT | LBS_NOTIFY | LBS_DISABLENOSCROLL | WS_VSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 110,
        32, 92, 68),
    QX_LTEXT("List Files of &Type:", stc2, 6, 104, 90, 9),
    QX_CONTROL("", cmb1, "ComboBox", CBS_DROPDOWNLIST | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP, 6,
               114, 90, 96),
    QX_LTEXT("Dri&ves:", -1, 110, 104, 92, 9),
    QX_CONTROL("", cmb2, "ComboBox",
               CBS_DROPDOWNLIST | CBS_SORT | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP, 110, 114, 92,
               68),
    QX_DEFPUSHBUTTON("OK", IDOK, 208, 6, 50, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 208, 24, 50, 14),
    QX_CONTROL("&Read Only", chx1, "Button", BS_AUTOCHECKBOX | WS_CHILD | WS_VISIBLE | WS_TABSTOP, 208, 68, 50, 12),
};
const QX_DIALOG kOpen = QX_DIALOG_TEMPLATE(36, 24, 264, 134, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, "Open",
                                           "MS Sans Serif", 8, kOpenItems);

BOOL Run(OPENFILENAMEA *ofn, bool save) {
  t_error = 0;
  if (!ofn) {
    SetError(CDERR_INITIALIZATION);
    return FALSE;
  }
  if (ofn->lStructSize != sizeof(OPENFILENAMEA)) {
    SetError(CDERR_STRUCTSIZE);
    return FALSE;
  }
  FileDialog fd;
  fd.ofn = ofn;
  fd.save = save;
  fd.fileok_msg = RegisterWindowMessageA(FILEOKSTRING);
  char cwd[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof cwd, cwd);
  fd.start_dir = cwd;
  fd.dir = ofn->lpstrInitialDir && IsDir(ofn->lpstrInitialDir) ? ofn->lpstrInitialDir : cwd;
  if (char full[MAX_PATH]; GetFullPathNameA(fd.dir.c_str(), sizeof full, full, nullptr)) fd.dir = full;
  if (fd.dir.size() > 3 && fd.dir.back() == '\\') fd.dir.pop_back();
  if (fd.dir.size() == 3) fd.dir.pop_back();
  // Filters: pairs of texts, each ended by a zero, the list by another zero.
  for (const char *p = ofn->lpstrFilter; p && *p;) {
    std::string desc = p;
    p += desc.size() + 1;
    if (!*p) break;
    std::string pat = p;
    p += pat.size() + 1;
    fd.filters.emplace_back(desc, pat);
  }
  QX_DIALOG tmpl = kOpen;
  tmpl.caption = save ? "Save As" : "Open";
  std::vector<QX_DIALOG_ITEM> items(kOpenItems, kOpenItems + QX_COUNTOF(kOpenItems));
  for (QX_DIALOG_ITEM &it : items) {
    if (it.id == lst1 && (ofn->Flags & OFN_ALLOWMULTISELECT)) it.style |= LBS_EXTENDEDSEL;
    if (it.id == stc2 && save) it.text = "Save File as &Type:";
  }
  tmpl.items = items.data();
  const INT_PTR r =
      DialogBoxIndirectParamA(ofn->hInstance, &tmpl, ofn->hwndOwner, FileProc, reinterpret_cast<LPARAM>(&fd));
  if (r == -1 && !t_error) SetError(CDERR_DIALOGFAILURE);
  if (ofn->Flags & OFN_NOCHANGEDIR) SetCurrentDirectoryA(fd.start_dir.c_str());
  return r == IDOK;
}

}  // namespace
}  // namespace qx::controls

BOOL WINAPI GetOpenFileNameA(LPOPENFILENAMEA ofn) { return qx::controls::Run(ofn, false); }
BOOL WINAPI GetSaveFileNameA(LPOPENFILENAMEA ofn) { return qx::controls::Run(ofn, true); }
DWORD WINAPI CommDlgExtendedError(void) { return qx::controls::t_error; }
