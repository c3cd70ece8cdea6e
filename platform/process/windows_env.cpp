// The Windows variables a program expects in its environment, and
// ExpandEnvironmentStringsA.
//
// A Linux session has no SystemRoot, windir or USERNAME, and its TEMP (when
// set) is a host path. The layer shows them the Windows way without touching
// the host environment, which children that are not Windows programs (an
// editor, xdg-open) inherit unchanged: a name the environment lacks takes the
// layer's value, and TEMP and TMP holding an absolute host path are shown as
// the Windows path of that directory.
#include <windows.h>

#include <pwd.h>
#include <strings.h>
#include <unistd.h>

#include <cstring>
#include <string>

// Parts of the layer that may be left out of a build (QX_PLATFORM_PARTS):
// referenced weakly and tested before use.
extern "C" {
UINT WINAPI GetWindowsDirectoryA(LPSTR, UINT) __attribute__((weak));
DWORD WINAPI GetTempPathA(DWORD, LPSTR) __attribute__((weak));
BOOL WINAPI GetUserNameA(LPSTR, LPDWORD) __attribute__((weak));
BOOL WINAPI GetComputerNameA(LPSTR, LPDWORD) __attribute__((weak));
}
namespace qx {
std::string WindowsPathOf(const std::string &host) __attribute__((weak));
}

namespace qx {
namespace {

std::string WindowsDirectoryText() {
  char buf[MAX_PATH] = "C:\\WINDOWS";
  if (GetWindowsDirectoryA) {
    const UINT n = GetWindowsDirectoryA(buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) std::strcpy(buf, "C:\\WINDOWS");
  }
  return buf;
}

std::string UserNameText() {
  char buf[256] = "";
  DWORD size = sizeof buf;
  if (GetUserNameA && GetUserNameA(buf, &size)) return buf;
  for (const char *name : {"USER", "LOGNAME"})
    if (const char *v = getenv(name); v && *v) return v;
  if (const passwd *pw = getpwuid(geteuid())) return pw->pw_name;
  return std::to_string(geteuid());
}

std::string ComputerNameText() {
  char buf[MAX_COMPUTERNAME_LENGTH + 1] = "";
  DWORD size = sizeof buf;
  if (GetComputerNameA && GetComputerNameA(buf, &size)) return buf;
  return "LOCALHOST";
}

std::string TempText() {
  char buf[MAX_PATH] = "";
  if (GetTempPathA) {
    const DWORD n = GetTempPathA(sizeof buf, buf);
    if (n > 0 && n < sizeof buf) {
      std::string dir(buf);
      if (dir.size() > 3 && dir.back() == '\\') dir.pop_back();  // "C:\TEMP", as Windows sets it
      return dir;
    }
  }
  return "C:\\TEMP";
}

struct Default {
  const char *name;
  std::string (*value)();
};

const Default kDefaults[] = {
    {"SystemRoot", WindowsDirectoryText},
    {"windir", WindowsDirectoryText},
    {"SystemDrive", [] { return WindowsDirectoryText().substr(0, 2); }},
    {"USERNAME", UserNameText},
    {"USERDOMAIN", ComputerNameText},
    {"COMPUTERNAME", ComputerNameText},
    {"TEMP", TempText},
    {"TMP", TempText},
    {"OS", [] { return std::string("Windows_NT"); }},
};

}  // namespace

bool WindowsEnvironmentValue(const char *name, const char *host_value, std::string &out) {
  const bool temp = strcasecmp(name, "TEMP") == 0 || strcasecmp(name, "TMP") == 0;
  if (host_value) {
    if (temp && host_value[0] == '/' && WindowsPathOf) {
      out = WindowsPathOf(host_value);
      if (!out.empty()) return true;
    }
    out = host_value;
    return true;
  }
  for (const Default &d : kDefaults)
    if (strcasecmp(name, d.name) == 0) {
      out = d.value();
      return true;
    }
  return false;
}

// Defined by environment.cpp: the host value of a name, found without regard to case.
const char *HostEnvironmentValue(const char *name);

}  // namespace qx

extern "C" {

// %NAME% is replaced by the variable's value; a name without a value, an
// unclosed %, or %% are copied as they stand. Returns the characters the
// result needs, terminator included; the result is written only when it fits.
DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
  if (!lpSrc) return SetLastError(ERROR_INVALID_PARAMETER), 0;
  std::string out;
  for (const char *p = lpSrc; *p;) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    const char *close = std::strchr(p + 1, '%');
    if (close && close > p + 1) {
      const std::string name(p + 1, close);
      std::string value;
      if (name.find('=') == std::string::npos &&
          qx::WindowsEnvironmentValue(name.c_str(), qx::HostEnvironmentValue(name.c_str()), value)) {
        out += value;
        p = close + 1;
        continue;
      }
    }
    out += *p++;  // the '%' stands; scanning goes on after it
  }
  const DWORD needed = static_cast<DWORD>(out.size() + 1);
  if (lpDst && nSize >= needed) {
    std::memcpy(lpDst, out.c_str(), needed);
  } else if (lpDst && nSize > 0) {
    lpDst[0] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
  }
  return needed;
}

}  // extern "C"
