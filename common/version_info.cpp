// The program's own version resource as the About box shows it: the block,
// a string of its language's table, and the fixed file version.
#include "qxcommon.h"

#include <cstdio>

namespace {
constexpr char kNoVersion[] = "<<no version info found>>";
constexpr char kEmpty[] = "";
}  // namespace

void *VerLoadInfo(HINSTANCE instance) {
  char path[260];
  const DWORD length = GetModuleFileNameA(instance, path, sizeof path);
  if (length == 0 || length >= sizeof path) return nullptr;
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &handle);
  if (size == 0) return nullptr;
  void *block = HeapAlloc(GetProcessHeap(), 0, size);
  if (!block) return nullptr;
  if (!GetFileVersionInfoA(path, handle, size, block)) {
    HeapFree(GetProcessHeap(), 0, block);
    return nullptr;
  }
  return block;
}

void VerFreeInfo(void *block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

LPCSTR VerQueryString(const void *block, LPCSTR path) {
  if (!block) return kNoVersion;
  WORD language = 0x0409, codePage = 0x04E4;  // US English, Windows Latin 1
  void *translation = nullptr;
  UINT size = 0;
  if (VerQueryValueA(block, "\\VarFileInfo\\Translation", &translation, &size) && translation && size >= 4) {
    const WORD *pair = static_cast<const WORD *>(translation);
    language = pair[0];
    codePage = pair[1];
  }
  char query[256];
  const int n = std::snprintf(query, sizeof query, "\\StringFileInfo\\%08lX%s",
                              (static_cast<unsigned long>(language) << 16) | codePage, path ? path : "");
  if (n < 0 || n >= static_cast<int>(sizeof query)) return kEmpty;
  void *value = nullptr;
  if (!VerQueryValueA(block, query, &value, &size) || !value) return kEmpty;
  return static_cast<LPCSTR>(value);
}

void VerGetFileVersion(const void *block, DWORD version[2]) {
  version[0] = version[1] = 0;
  if (!block) return;
  void *fixed = nullptr;
  UINT size = 0;
  if (!VerQueryValueA(block, "\\", &fixed, &size) || !fixed || size < sizeof(VS_FIXEDFILEINFO)) return;
  const auto *info = static_cast<const VS_FIXEDFILEINFO *>(fixed);
  version[0] = info->dwFileVersionMS;
  version[1] = info->dwFileVersionLS;
}
