// Prints the text on the clipboard of the user's session (CF_TEXT, as
// another program of the suite put it there); exits 1 when there is none.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main() {
  if (!OpenClipboard(nullptr)) {
    std::fprintf(stderr, "clip_text: the clipboard could not be opened\n");
    return 1;
  }
  int status = 1;
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    const SIZE_T size = GlobalSize(data);
    if (const char *text = static_cast<const char *>(GlobalLock(data))) {
      std::fwrite(text, 1, strnlen(text, size), stdout);
      GlobalUnlock(data);
      status = 0;
    }
  }
  CloseClipboard();
  if (status) std::fprintf(stderr, "clip_text: no text on the clipboard\n");
  return status;
}
