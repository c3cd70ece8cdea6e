// A program that uses nothing of the drawing half but the name of a standard
// class: linked with --as-needed, libqxdraw.so is not among its libraries, and
// CreateWindowExA("Edit") must still give a working edit control. Prints what
// it saw, one fact a line, and exits 0 when the control works.
#include <windows.h>
#include <link.h>

#include <cstdio>
#include <cstring>

namespace {

bool DrawLibraryMapped() {
  bool found = false;
  dl_iterate_phdr(
      [](dl_phdr_info *info, size_t, void *data) {
        if (info->dlpi_name && std::strstr(info->dlpi_name, "libqxdraw.so")) *static_cast<bool *>(data) = true;
        return 0;
      },
      &found);
  return found;
}

}  // namespace

int main() {
  std::printf("drawing library at start: %s\n", DrawLibraryMapped() ? "yes" : "no");
  HWND edit =
      CreateWindowExA(0, "Edit", "hello", WS_POPUP | ES_AUTOHSCROLL, 0, 0, 200, 24, nullptr, nullptr, nullptr, nullptr);
  if (!edit) {
    std::printf("CreateWindowExA(\"Edit\") failed: error %lu\n", static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  SendMessageA(edit, EM_SETSEL, 5, 5);
  SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(" world"));
  char text[64] = {};
  GetWindowTextA(edit, text, sizeof text);
  const LRESULT limit = SendMessageA(edit, EM_GETLIMITTEXT, 0, 0);
  std::printf("text: %s\nlimit: %ld\n", text, static_cast<long>(limit));
  DestroyWindow(edit);
  return std::strcmp(text, "hello world") == 0 && limit == 32767 ? 0 : 1;
}
