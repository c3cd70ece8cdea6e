// Test module "memtest_beta": reads and frees global blocks made elsewhere,
// refuses to attach when MEMTEST_BETA_REFUSE is set, and has its own strings.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {
const QX_RESOURCE kResources[] = {
    QX_STRING(1, "beta one"),
};
}  // namespace

QX_REGISTER_RESOURCES(kResources)

extern "C" {

QX_DLLEXPORT BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH && std::getenv("MEMTEST_BETA_REFUSE")) return FALSE;
  return TRUE;
}

// Copies the block's text into out, then frees the block. Returns the
// block's size, or -1 when the handle is not a live block.
QX_DLLEXPORT int BetaTakeBlock(HGLOBAL block, char *out, int out_size) {
  const char *p = static_cast<const char *>(GlobalLock(block));
  if (!p) return -1;
  const int size = static_cast<int>(GlobalSize(block));
  std::strncpy(out, p, static_cast<size_t>(out_size) - 1);
  out[out_size - 1] = '\0';
  GlobalUnlock(block);
  if (GlobalFree(block) != nullptr) return -1;
  return size;
}

}  // extern "C"
