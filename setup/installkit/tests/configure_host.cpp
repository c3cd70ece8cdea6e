// configure_host: an installation program's call of the settings dialog. It
// loads the setup library by name, calls Configure with the words of its
// command line as the arguments ("configure_host Configure" for configure
// mode, no word for install mode) and prints what the step answered.
#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "installkit.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  HMODULE library = LoadLibraryA("INSTALLKIT.DLL");
  if (!library) {
    std::fprintf(stderr, "configure_host: INSTALLKIT.DLL cannot be loaded (error %lu); build the installkit target.\n",
                 (unsigned long)GetLastError());
    return 1;
  }
  auto configure = (INSTALLKIT_STEP)GetProcAddress(library, "Configure");
  if (!configure) {
    std::fprintf(stderr, "configure_host: INSTALLKIT.DLL has no export Configure.\n");
    FreeLibrary(library);
    return 1;
  }
  std::vector<std::string> words;
  std::istringstream in(commandLine ? commandLine : "");
  for (std::string word; in >> word;) words.push_back(word);
  std::vector<LPSTR> arguments;
  for (std::string &word : words) arguments.push_back(word.data());
  LPCSTR outText = nullptr;
  const BOOL result = configure((DWORD)arguments.size(), arguments.empty() ? nullptr : arguments.data(), &outText);
  std::printf("Configure returned %d, out text %s\n", (int)result, outText ? outText : "(none)");
  std::fflush(stdout);
  FreeLibrary(library);
  return 0;
}
