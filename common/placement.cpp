// Window placement and recent hosts in the program's section of the shared
// "QXAPPS.INI": written when the main window closes, read when it is made.
#include "qxcommon.h"

#include <cstdio>
#include <cstring>

char g_PlacementIniFile[MAX_PATH] = QX_APPS_INI;
char g_PlacementSection[64] = "";
PLACEMENT_EXTRA_PROC g_PlacementExtra = nullptr;

namespace {

void WriteInt(LPCSTR key, int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  WritePrivateProfileStringA(g_PlacementSection, key, text, g_PlacementIniFile);
}

void CopyText(char *to, size_t size, LPCSTR from) { std::snprintf(to, size, "%s", from ? from : ""); }

}  // namespace

void PlacementSetup(LPCSTR section, PLACEMENT_EXTRA_PROC extra) {
  OFSTRUCT ofs{};
  if (OpenFile(QX_APPS_INI, &ofs, OF_EXIST) != HFILE_ERROR)
    CopyText(g_PlacementIniFile, sizeof g_PlacementIniFile, ofs.szPathName);
  else
    CopyText(g_PlacementIniFile, sizeof g_PlacementIniFile, QX_APPS_INI);
  CopyText(g_PlacementSection, sizeof g_PlacementSection, section);
  g_PlacementExtra = extra;
}

void FindAppsIni(char *path, int size) {
  OFSTRUCT ofs{};
  if (OpenFile(QX_APPS_INI, &ofs, OF_EXIST) != HFILE_ERROR) {
    CopyText(path, static_cast<size_t>(size), ofs.szPathName);
    return;
  }
  HFILE made = OpenFile(QX_APPS_INI, &ofs, OF_CREATE);
  if (made != HFILE_ERROR) _lclose(made);
  CopyText(path, static_cast<size_t>(size), made != HFILE_ERROR ? ofs.szPathName : QX_APPS_INI);
}

void ReadWindowPlacement(int *x, int *y, int *cx, int *cy) {
  static const struct { const char *key; } kKeys[] = {{"Xl"}, {"Yt"}, {"Cx"}, {"Cy"}};
  int *values[] = {x, y, cx, cy};
  for (size_t i = 0; i < 4; ++i) {
    if (!values[i]) continue;
    *values[i] =
        static_cast<int>(GetPrivateProfileIntA(g_PlacementSection, kKeys[i].key, *values[i], g_PlacementIniFile));
  }
}

void SaveWindowPlacement(HWND window) {
  if (IsIconic(window)) return;  // a minimised window keeps the stored place
  RECT rect;
  if (!GetWindowRect(window, &rect)) return;
  WriteInt("Xl", rect.left);
  WriteInt("Yt", rect.top);
  WriteInt("Cx", rect.right - rect.left + 1);
  WriteInt("Cy", rect.bottom - rect.top + 1);
  if (g_PlacementExtra) g_PlacementExtra(g_PlacementIniFile, g_PlacementSection);
}

int ReadRecentHosts(LPCSTR iniFile, LPCSTR section, char (*hosts)[RECENT_HOST_LEN], int maxHosts) {
  int found = 0;
  for (int i = 0; i < maxHosts; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "FILE_%d", i);
    GetPrivateProfileStringA(section, key, "", hosts[i], RECENT_HOST_LEN, iniFile);
    if (hosts[i][0]) ++found;
  }
  return found;
}

void WriteRecentHosts(LPCSTR iniFile, LPCSTR section, const char (*hosts)[RECENT_HOST_LEN], int count) {
  for (int i = 0; i < count; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "FILE_%d", i);
    // An empty entry removes its key, so the list never shows blank hosts.
    WritePrivateProfileStringA(section, key, hosts[i][0] ? hosts[i] : nullptr, iniFile);
  }
}
