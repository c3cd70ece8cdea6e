// The C entry point of every program of the suite: it calls the program's
// WinMain as Win32's start-up code does and ends the process with its result.
#include <windows.h>

#include <cstdio>

// The module handle comes from the memory part; referenced weakly so that a
// build without that part still links (a program then gets the classic
// image base as its instance value).
extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR) __attribute__((weak));
// The memory part attaches the libraries linked at build time (their DllMain)
// before WinMain runs.
namespace qx {
void AttachLinkedModules() __attribute__((weak));
}

namespace {

constexpr int kShowDefault = 10;  // SW_SHOWDEFAULT

// lpCmdLine: the command line after the program word and the blanks after it.
LPSTR ArgumentsOf(LPSTR line) {
  char *p = line;
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (static_cast<unsigned char>(*p) > ' ') ++p;
  }
  while (*p && static_cast<unsigned char>(*p) <= ' ') ++p;
  return p;
}

}  // namespace

int main() {
  LPSTR line = GetCommandLineA();
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : kShowDefault;
  if (qx::AttachLinkedModules) qx::AttachLinkedModules();
  HINSTANCE instance = GetModuleHandleA ? GetModuleHandleA(nullptr) : QX_HANDLE_FROM(HINSTANCE, 0x00400000);
  const int result = WinMain(instance, nullptr, ArgumentsOf(line), show);
  std::fflush(nullptr);
  return result;
}
