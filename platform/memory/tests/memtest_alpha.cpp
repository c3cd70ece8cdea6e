// Test module "memtest_alpha": counts its attach calls, makes global memory
// blocks for other modules, and carries strings, a bitmap and a version.
#include <windows.h>

#include <cstring>

namespace {

LONG g_attach_count = 0;
HINSTANCE g_instance = nullptr;
int *g_detach_flag = nullptr;

const BYTE kLogo[] = {40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0,    0,    4,    0,
                      0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0xFF, 0x00, 0x00, 0x00};

const QX_VERSION_STRING kVersionStrings[] = {
    {"CompanyName", "QX test"},
    {"FileDescription", "Alpha test module"},
    {"FileVersion", "3.2.0.1"},
};
const QX_VERSION kVersion = {QX_VERSION_MS(3, 2),  QX_VERSION_LS(0, 1),
                             QX_VERSION_MS(3, 2),  QX_VERSION_LS(0, 0),
                             VS_FFI_FILEFLAGSMASK, 0,
                             VOS_NT_WINDOWS32,     VFT_DLL,
                             VFT2_UNKNOWN,         "040904E4",
                             kVersionStrings,      QX_COUNTOF(kVersionStrings)};

const QX_RESOURCE kResources[] = {
    QX_STRING(1, "alpha one"),
    QX_RES_BITMAP("logo", kLogo),
    QX_RES_VERSION(kVersion),
};

}  // namespace

QX_REGISTER_RESOURCES(kResources)

extern "C" {

QX_DLLEXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    ++g_attach_count;
    g_instance = instance;
  } else if (reason == DLL_PROCESS_DETACH && g_detach_flag) {
    *g_detach_flag = 1;
  }
  return TRUE;
}

QX_DLLEXPORT LONG AlphaAttachCount(void) { return g_attach_count; }
QX_DLLEXPORT HINSTANCE AlphaInstance(void) { return g_instance; }
QX_DLLEXPORT void AlphaSetDetachFlag(int *flag) { g_detach_flag = flag; }

// A moveable block holding the text; the caller owns it.
QX_DLLEXPORT HGLOBAL AlphaMakeBlock(const char *text) {
  const size_t n = std::strlen(text) + 1;
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, n);
  if (!h) return nullptr;
  char *p = static_cast<char *>(GlobalLock(h));
  std::memcpy(p, text, n);
  GlobalUnlock(h);
  return h;
}

}  // extern "C"
