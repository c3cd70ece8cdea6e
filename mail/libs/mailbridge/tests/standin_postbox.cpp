// A recording stand-in of the mail client for the Simple MAPI tests: started
// as "postbox @low:high", it opens the named hand-off block, writes what it
// holds to the file $QX_STANDIN_RECORD, stores $QX_STANDIN_RESULT as the
// answer and closes the caller's hidden window, as the mail client does when
// the person has sent or cancelled. With QX_STANDIN_MODE=vanish it ends
// without answering, as a mail client that crashed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "block.h"

namespace {

std::string Escaped(const std::string &text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
  return out;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR cmdLine, int) {
  const char *record = std::getenv("QX_STANDIN_RECORD");
  FILE *out = record ? std::fopen(record, "wb") : nullptr;
  if (!out) return 3;
  std::fprintf(out, "mapping=%s\n", cmdLine);
  HANDLE mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, cmdLine);
  void *view = mapping ? MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr;
  MEMORY_BASIC_INFORMATION info{};
  if (!view || !VirtualQuery(view, &info, sizeof info)) {
    std::fprintf(out, "error=no mapping\n");
    std::fclose(out);
    return 2;
  }
  const auto *bytes = static_cast<const uint8_t *>(view);
  // The mail layout has its user field at 44 and the password at 109.
  uint32_t word3 = 0, word4 = 0;
  std::memcpy(&word3, bytes + 12, 4);
  std::memcpy(&word4, bytes + 16, 4);
  const bool mailLayout = word4 - word3 == mailbridge::kPasswordField - mailbridge::kUserField;
  const auto request = mailbridge::ParseBlock(bytes, info.RegionSize, mailLayout);
  if (!request) {
    std::fprintf(out, "error=unreadable block\n");
  } else {
    std::fprintf(out, "layout=%s\nflags=%u\nuser=%s\npassword=%s\n", mailLayout ? "mail" : "documents", request->flags,
                 request->user.c_str(), request->password.c_str());
    std::fprintf(out, "subject=%s\n", request->subject ? Escaped(*request->subject).c_str() : "(none)");
    std::fprintf(out, "note=%s\n", request->note ? Escaped(*request->note).c_str() : "(none)");
    for (const auto &r : request->recipients) std::fprintf(out, "recipient=%c%s\n", r.kind, r.text.c_str());
    for (const auto &f : request->files) std::fprintf(out, "file=%s\n", f.c_str());
  }
  std::fclose(out);
  if (const char *mode = std::getenv("QX_STANDIN_MODE"); mode && std::strcmp(mode, "vanish") == 0) return 0;
  const char *answer = std::getenv("QX_STANDIN_RESULT");
  const uint32_t result = answer ? static_cast<uint32_t>(std::strtoul(answer, nullptr, 10)) : 0;
  std::memcpy(static_cast<uint8_t *>(view) + 4, &result, 4);
  uint32_t window = 0;
  std::memcpy(&window, bytes, 4);
  PostMessageA(reinterpret_cast<HWND>(static_cast<uintptr_t>(window)), WM_CLOSE, 0, 0);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  return 0;
}
