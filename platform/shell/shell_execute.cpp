// ShellExecuteA with the "open" verb: a program is started; a data file is
// opened with the command WIN.INI [Extensions] names for its extension
// ("txt=notepad.exe ^.txt": '^' is the file's name without its extension),
// else with the desktop's opener (desktop_programs.cpp).
//
// Safety decision: a data file that has an execute bit, or a .desktop entry,
// is never handed to the desktop's opener (which could run it); that is
// SE_ERR_ACCESSDENIED. Programs run only when named as programs (.exe, .com,
// .bat, .pif, or a bare name the program search finds).
#include <windows.h>

#include <strings.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "qx/env.h"
#include "qx/paths.h"
#include "qx/process.h"
#include "qxwin/shell.h"
#include "shell_internal.h"

namespace qx {
namespace {

HINSTANCE Result(UINT_PTR code) { return reinterpret_cast<HINSTANCE>(code); }

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The result code of a failed start, as WinExec gives it.
UINT_PTR StartError() {
  switch (GetLastError()) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY: return SE_ERR_PNF;
    case ERROR_ACCESS_DENIED: return SE_ERR_ACCESSDENIED;
    case ERROR_NOT_ENOUGH_MEMORY: return SE_ERR_OOM;
    default: return SE_ERR_FNF;
  }
}

UINT_PTR Start(const char *program, const std::string &line, const char *directory, INT show) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = static_cast<WORD>(show);
  PROCESS_INFORMATION pi{};
  std::string writable = line;
  if (!CreateProcessA(program, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, directory, &si, &pi))
    return StartError();
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return 33;
}

// The command of an [Extensions] entry for a file: the token holding '^'
// gets the file's name without extension (quoted when it has blanks);
// without a '^' the file is appended.
std::string AssociationCommand(const std::string &value, const std::string &file) {
  const size_t caret = value.find('^');
  const auto quoted = [](const std::string &s) { return s.find(' ') == std::string::npos ? s : '"' + s + '"'; };
  if (caret == std::string::npos) return value + " " + quoted(file);
  size_t start = value.rfind(' ', caret);
  start = start == std::string::npos ? 0 : start + 1;
  size_t end = value.find(' ', caret);
  if (end == std::string::npos) end = value.size();
  const size_t dot = file.rfind('.');
  const size_t sep = file.find_last_of("\\/");
  const std::string stem =
      dot != std::string::npos && (sep == std::string::npos || dot > sep) ? file.substr(0, dot) : file;
  std::string token = value.substr(start, end - start);
  token.replace(caret - start, 1, stem);
  return value.substr(0, start) + quoted(token) + value.substr(end);
}

}  // namespace
}  // namespace qx

using namespace qx;

extern "C" {

HINSTANCE WINAPI ShellExecuteA(HWND hwnd, LPCSTR lpOperation, LPCSTR lpFile, LPCSTR lpParameters, LPCSTR lpDirectory,
                               INT nShowCmd) {
  (void)hwnd;
  if (!lpFile || !*lpFile) return Result(SE_ERR_FNF);
  if (lpOperation && *lpOperation && strcasecmp(lpOperation, "open") != 0) return Result(SE_ERR_NOASSOC);
  const std::string given(lpFile);
  const size_t sep = given.find_last_of("\\/:");
  const std::string name = sep == std::string::npos ? given : given.substr(sep + 1);
  const size_t dot = name.rfind('.');
  const std::string ext = dot == std::string::npos ? std::string() : Lower(name.substr(dot + 1));
  const char *directory = lpDirectory && *lpDirectory ? lpDirectory : nullptr;
  const std::string params = lpParameters && *lpParameters ? std::string(" ") + lpParameters : std::string();

  // A program: started with its parameters.
  if (ext == "exe" || ext == "com" || ext == "bat" || ext == "pif" || (ext.empty() && sep == std::string::npos)) {
    std::vector<std::string> words{given};
    return Result(Start(nullptr, JoinCommandLine(words) + params, directory, nShowCmd));
  }

  // A data file (relative names are taken in lpDirectory).
  std::string full = given;
  const bool relative = !(given.size() > 1 && given[1] == ':') && given[0] != '\\' && given[0] != '/';
  if (relative && directory) full = std::string(directory) + "\\" + given;
  std::string host, windows_full;
  DWORD error = 0;
  struct stat st {};
  if (!HostPath(full, host, windows_full, error))
    return Result(error == ERROR_PATH_NOT_FOUND ? SE_ERR_PNF : SE_ERR_FNF);
  if (::stat(host.c_str(), &st) != 0) return Result(SE_ERR_FNF);

  char value[1024] = "";
  if (!ext.empty() && !S_ISDIR(st.st_mode) &&
      GetProfileStringA("Extensions", ext.c_str(), "", value, sizeof value) > 0) {
    return Result(Start(nullptr, AssociationCommand(value, windows_full), directory, nShowCmd));
  }

  if (!S_ISDIR(st.st_mode) && ((st.st_mode & 0111) || ext == "desktop")) {
    Trace("ShellExecute: %s is executable; not handed to the desktop's opener", host.c_str());
    return Result(SE_ERR_ACCESSDENIED);
  }
  std::string program, line;
  if (!OpenerCommand(host, program, line)) return Result(SE_ERR_NOASSOC);
  return Result(Start(program.c_str(), line, directory, nShowCmd));
}

}  // extern "C"
