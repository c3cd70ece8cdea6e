// The installation directory: the one an earlier installation stored, or the
// one the user gives in the dialog "GetDir", which is then created with its
// subdirectories and added to the system search path.
#include "installkit.h"
#include "install_dir.h"
#include "lists.h"
#include "regvalues.h"

#include <qxcommon.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

using installkit::RegKey;
using installkit::RegValue;

namespace {

enum GetDirItem { IDC_DIR_EDIT = 100 };

const QX_DIALOG_ITEM kGetDirItems[] = {
    QX_LTEXT("Please enter the installation directory to be used for storing the NFS supplementary files.", -1, 8, 8,
             224, 20),
    QX_LTEXT("&Dir:", -1, 8, 36, 20, 8),
    QX_EDITTEXT(IDC_DIR_EDIT, 30, 34, 202, 12),
    QX_DEFPUSHBUTTON("OK", IDOK, 64, 56, 50, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 126, 56, 50, 14),
};
const QX_DIALOG kGetDir = QX_DIALOG_TEMPLATE(0, 0, 240, 78, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                                             "QXNFS Client Installation", "MS Sans Serif", 8, kGetDirItems);

const QX_RESOURCE kInstallDirResources[] = {
    QX_RES_DIALOG("GetDir", kGetDir),
};

constexpr int kMaxDirText = 254;
const char kEnvironmentKey[] = INSTALLKIT_ENVIRONMENT_KEY;
const char kInstallCaption[] = "Install";

// The dialog's answer: the directory chosen, or "BAD".
std::string g_Answer;

bool IsDirectory(const std::string &path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// "C:\QX\" and "C:\QX" are one directory; the drive root keeps its backslash.
std::string WithoutTrailingBackslashes(std::string dir) {
  while (dir.size() > 3 && dir.back() == '\\') dir.pop_back();
  return dir;
}

std::string SubdirectoryOf(const std::string &dir, const char *name) {
  return dir.back() == '\\' ? dir + name : dir + "\\" + name;
}

void ShowError(const char *text, const char *caption) { MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONSTOP); }

// Adds the directory to the system search path "Path", read and written
// whole; a directory already on it is not added twice. False when the key
// cannot be reached.
bool AddToSearchPath(const std::string &dir) {
  RegKey key;
  if (installkit::OpenSystemKey(kEnvironmentKey, key) != ERROR_SUCCESS) return false;
  RegValue path;
  const LONG rc = installkit::ReadValue(key.get(), "Path", path);
  if (rc == ERROR_FILE_NOT_FOUND)
    path.type = REG_EXPAND_SZ;
  else if (rc != ERROR_SUCCESS)
    return true;  // never write back a value that could not be read whole
  std::string text = installkit::ValueText(path);
  if (installkit::AppendListEntry(text, dir, ';')) installkit::WriteText(key.get(), "Path", path.type, text);
  return true;
}

// OK: checks the directory, creates it when the user agrees, and adds it to
// the search path. The dialog stays open while something is wrong.
void OnGetDirOk(HWND dialog) {
  char text[kMaxDirText + 1] = "";
  GetDlgItemTextA(dialog, IDC_DIR_EDIT, text, sizeof text);
  if (text[0] == '\0' || text[1] != ':' || text[2] != '\\') {
    ShowError("Installation directory must be fully qualified, please re-enter directory", kInstallCaption);
    return;
  }
  // A ';' would split the directory into two entries of the search path,
  // which removal could never find again.
  if (strchr(text, ';')) {
    ShowError(
        "The installation directory cannot hold \";\", which separates the entries of the search path; please "
        "enter another directory",
        kInstallCaption);
    return;
  }
  const std::string dir = WithoutTrailingBackslashes(text);
  if (!IsDirectory(dir)) {
    std::string question = "Directory " + dir + " does not exists, do you want it created?";
    if (MessageBoxA(nullptr, question.c_str(), kInstallCaption, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  }
  if (!CreateInstallDirs(dir)) {
    ShowError("Invalid installation Directory", kInstallCaption);
    return;
  }
  g_Answer = dir;
  if (!AddToSearchPath(dir)) {
    ShowError("Unable to Access Registry, Please run as Administrator", INSTALLKIT_INSTALL_CAPTION);
    EndDialog(dialog, IDCANCEL);
    return;
  }
  EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK GetDirDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SendDlgItemMessageA(dialog, IDC_DIR_EDIT, EM_LIMITTEXT, kMaxDirText, 0);
      SetForegroundWindow(dialog);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK)
        OnGetDirOk(dialog);
      else if (LOWORD(wParam) == IDCANCEL)
        EndDialog(dialog, IDCANCEL);
      return TRUE;
    case WM_CLOSE: EndDialog(dialog, IDCANCEL); return TRUE;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: return InstallKitControlColour(message, wParam, lParam);
    default: return FALSE;
  }
}

// The stored installation directory under `key`, "" when there is none.
std::string StoredInstallDir(const char *key_path) {
  return installkit::ReadMachineText(key_path, "Installation Directory");
}

// Puts text and its NUL into the buffer; false (nothing written) when it
// does not fit.
bool PutText(const std::string &text, LPSTR buffer, DWORD size) {
  if (!buffer || text.size() + 1 > size) return false;
  memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

}  // namespace

QX_REGISTER_RESOURCES(kInstallDirResources)

bool CreateInstallDirs(const std::string &install_dir) {
  const std::string dir = WithoutTrailingBackslashes(install_dir);
  if (dir.size() < 3 || dir[1] != ':' || dir[2] != '\\') return false;
  if (!IsDirectory(dir)) {
    // Each missing level from the first below the drive to the last.
    for (size_t at = dir.find('\\', 3);; at = dir.find('\\', at + 1)) {
      const std::string level = dir.substr(0, at);
      if (!IsDirectory(level) && !CreateDirectoryA(level.c_str(), nullptr)) return false;
      if (at == std::string::npos) break;
    }
  }
  // A subdirectory may be there already; a file in its place is not one.
  for (const char *sub : {"qx220", "Utility"}) {
    const std::string path = SubdirectoryOf(dir, sub);
    if (!CreateDirectoryA(path.c_str(), nullptr) && !IsDirectory(path)) return false;
  }
  return true;
}

extern "C" QX_DLLEXPORT DWORD WINAPI GetInstallationDir(LPSTR *fileNames, DWORD count, LPSTR buffer, DWORD bufferSize) {
  const bool ctl3d = Ctl3dLoad(g_InstallKitInstance) != 0;
  // The copy runs beside the lookup and the dialog; the library waits for it
  // before it returns, so it can never be unloaded under the thread.
  std::thread copy;
  if ((count & 0xFFFF) == 2 && fileNames && fileNames[0] && fileNames[1]) {
    copy = std::thread([from = std::string(fileNames[0]), to = std::string(fileNames[1])] {
      CopyFileA(from.c_str(), to.c_str(), FALSE);
    });
  }
  DWORD put = 0;
  std::string stored = StoredInstallDir(INSTALLKIT_CLIENT_CURRENT_KEY);
  if (stored.empty() || stored.size() + 1 > bufferSize) stored = StoredInstallDir(INSTALLKIT_CLIENT_KEY);
  if (!stored.empty() && PutText(stored, buffer, bufferSize)) {
    put = static_cast<DWORD>(stored.size() + 1);  // the value's size, its NUL included
  } else {
    g_Answer = kOutBad;
    DialogBoxParamA(g_InstallKitInstance, "GetDir", nullptr, GetDirDlgProc, 0);
    // A directory longer than the buffer is not cut: the caller gets "BAD".
    if (PutText(g_Answer, buffer, bufferSize) || PutText(kOutBad, buffer, bufferSize))
      put = static_cast<DWORD>(strlen(buffer));
  }
  if (copy.joinable()) copy.join();
  if (ctl3d) Ctl3dUnload(g_InstallKitInstance);
  return put;
}
