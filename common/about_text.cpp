// The version texts of the About box, from the program's version resource.
#include "qxcommon.h"

#include <cstdio>

// "Mmm dd yyyy" with the day padded by a blank, as the compiler's date is.
char g_AboutBuildDate[16] = __DATE__;

void AboutVersionTexts(const void *block, char *versionText, int versionSize, char *compiledText, int compiledSize) {
  DWORD version[2];
  VerGetFileVersion(block, version);
  if (versionText && versionSize > 0)
    std::snprintf(versionText, static_cast<size_t>(versionSize), "%s (%d.%d.%d.%d)",
                  VerQueryString(block, "\\FileVersion"), static_cast<int>(HIWORD(version[0])),
                  static_cast<int>(LOWORD(version[0])), static_cast<int>(HIWORD(version[1])),
                  static_cast<int>(LOWORD(version[1])));
  if (compiledText && compiledSize > 0)
    std::snprintf(compiledText, static_cast<size_t>(compiledSize), "%d.%d (%s)", static_cast<int>(HIWORD(version[0])),
                  static_cast<int>(LOWORD(version[0])), g_AboutBuildDate);
}
