// A program linked at build time with memtest_linked: reports whether the
// library was attached before WinMain, with the handle GetModuleHandleA and
// LoadLibraryA give for it, and that FreeLibrary leaves it attached.
#include <windows.h>

#include <cstdio>

extern "C" int LinkedAttaches(HINSTANCE *instance);

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  HINSTANCE instance = nullptr;
  const int attaches = LinkedAttaches(&instance);
  HMODULE by_name = GetModuleHandleA("memtest_linked.dll");
  HMODULE loaded = LoadLibraryA("MEMTEST_LINKED.DLL");
  const BOOL freed = FreeLibrary(loaded) && FreeLibrary(loaded);
  HINSTANCE again = nullptr;
  std::printf("attaches=%d handle=%d load=%d freed=%d still=%d\n", attaches, instance != nullptr && instance == by_name,
              loaded == by_name, freed, LinkedAttaches(&again) == 1 && again == instance);
  return 0;
}
