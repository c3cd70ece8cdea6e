// Prints the text on the clipboard of the user's session (CF_TEXT, as
// another program of the suite put it there); exits 1 when there is none.
// With "set", puts the text read from standard input on the clipboard
// instead, for a program of the suite to paste.
//     terminal_clip_text [set]
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

namespace {

int PrintClipboard() {
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

int SetClipboard() {
  const std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  if (!OpenClipboard(nullptr)) {
    std::fprintf(stderr, "clip_text: the clipboard could not be opened\n");
    return 1;
  }
  EmptyClipboard();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  bool ok = false;
  if (char *p = block ? static_cast<char *>(GlobalLock(block)) : nullptr) {
    std::memcpy(p, text.c_str(), text.size() + 1);
    GlobalUnlock(block);
    ok = SetClipboardData(CF_TEXT, block) != nullptr;
  }
  CloseClipboard();
  if (!ok) std::fprintf(stderr, "clip_text: the text could not be put on the clipboard\n");
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 2 && std::strcmp(argv[1], "set") == 0) return SetClipboard();
  if (argc != 1) {
    std::fprintf(stderr, "usage: terminal_clip_text [set]\n");
    return 2;
  }
  return PrintClipboard();
}
