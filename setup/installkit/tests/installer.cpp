// installer: a small installation program for the tests. It loads the setup
// library by name as an installation program does and calls one export in
// the library's convention:
//
//   installer STEP [ARGUMENT...]      FinishInstall, Update, DeInstall,
//                                     ConfigurePortwarden or Configure with
//                                     the arguments as the argument list
//   installer GetInstallationDir [SIZE [SOURCE DESTINATION]]
//
// It prints "STEP returned N, out text TEXT" (or "GetInstallationDir
// returned N: TEXT") and exits 0 when the call was made, 1 when the library
// or the export could not be found.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "installkit.h"

namespace {

int Fail(const std::string &text) {
  fprintf(stderr, "installer: %s\n", text.c_str());
  return 1;
}

int CallGetInstallationDir(HMODULE library, const std::vector<std::string> &args) {
  auto get_dir = reinterpret_cast<INSTALLKIT_GETDIR>(GetProcAddress(library, "GetInstallationDir"));
  if (!get_dir) return Fail("INSTALLKIT.DLL has no export GetInstallationDir; rebuild the setup library");
  const DWORD size = args.size() > 1 ? static_cast<DWORD>(strtoul(args[1].c_str(), nullptr, 10)) : 256;
  std::vector<char> buffer(size + 1, '\0');  // one byte more, to see a write past the size
  std::vector<std::string> names(args.begin() + (args.size() > 2 ? 2 : args.size()), args.end());
  std::vector<LPSTR> list;
  for (auto &n : names) list.push_back(n.data());
  list.push_back(nullptr);
  const DWORD put = get_dir(list.data(), static_cast<DWORD>(names.size()), buffer.data(), size);
  if (buffer[size] != '\0') return Fail("GetInstallationDir wrote past the buffer's size");
  printf("GetInstallationDir returned %lu: %s\n", static_cast<unsigned long>(put), buffer.data());
  return 0;
}

int CallStep(HMODULE library, const std::vector<std::string> &args) {
  auto step = reinterpret_cast<INSTALLKIT_STEP>(GetProcAddress(library, args[0].c_str()));
  if (!step) return Fail("INSTALLKIT.DLL has no export " + args[0] + "; name one of its steps");
  std::vector<std::string> texts(args.begin() + 1, args.end());
  std::vector<LPSTR> list;
  for (auto &t : texts) list.push_back(t.data());
  list.push_back(nullptr);
  LPCSTR out = nullptr;
  const BOOL result = step(static_cast<DWORD>(texts.size()), list.data(), &out);
  printf("%s returned %d, out text %s\n", args[0].c_str(), result, out ? out : "(none)");
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Fail("name a step: installer STEP [ARGUMENT...]");
  HMODULE library = LoadLibraryA("INSTALLKIT.DLL");
  if (!library) return Fail("INSTALLKIT.DLL could not be loaded; build the target installkit");
  const int status = args[0] == "GetInstallationDir" ? CallGetInstallationDir(library, args) : CallStep(library, args);
  fflush(stdout);
  FreeLibrary(library);
  return status;
}
