// Test module "memtest_linked": a library that a program links at build time.
// Its DllMain records the attach (before WinMain) and prints the detach.
#include <windows.h>

#include <cstdio>

namespace {
HINSTANCE g_instance = nullptr;
int g_attaches = 0;
}  // namespace

extern "C" {

QX_DLLEXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_instance = instance;
    ++g_attaches;
  } else if (reason == DLL_PROCESS_DETACH) {
    std::printf("detached\n");
    std::fflush(stdout);
  }
  return TRUE;
}

QX_DLLEXPORT int LinkedAttaches(HINSTANCE *instance) {
  *instance = g_instance;
  return g_attaches;
}

}  // extern "C"
