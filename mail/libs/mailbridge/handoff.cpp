// The hand-off (see handoff.h).
#include "handoff.h"

#include <cstring>
#include <random>

namespace mailbridge {
namespace {

// Closes a handle when it goes.
struct Handle {
  HANDLE h = nullptr;
  ~Handle() {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

// A new token for the block's base: non-zero, with room for the block below
// 4 GB. The mapping is made only when its name is new, so two hand-offs of
// one user never share one.
uint32_t NewBase(size_t size) {
  static std::mt19937 random{std::random_device{}()};
  const uint32_t limit = 0xFFFFFFFFu - static_cast<uint32_t>(size) - 0x10000u;
  return std::uniform_int_distribution<uint32_t>(0x10000u, limit)(random) & ~0xFu;
}

uint32_t ReadResult(const void *view) {
  uint32_t result;
  std::memcpy(&result, static_cast<const uint8_t *>(view) + 4, 4);
  return result;
}

// Runs the calling thread's messages until WM_CLOSE comes for the hidden
// window, the mail client ends without sending it, or WM_QUIT arrives (which
// is posted again for the caller's own loop). True when the close came.
bool WaitForClose(HWND hidden, HANDLE process) {
  bool exited = false;
  DWORD exitedAt = 0;
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
      }
      if (msg.message == WM_CLOSE && msg.hwnd == hidden) return true;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    // A close posted just before the mail client ended may still be on its
    // way: it gets a moment after the end.
    if (exited && GetTickCount() - exitedAt > 500) return false;
    const DWORD wait = MsgWaitForMultipleObjects(exited ? 0 : 1, &process, FALSE, exited ? 50 : INFINITE, QS_ALLINPUT);
    if (!exited && wait == WAIT_OBJECT_0) {
      exited = true;
      exitedAt = GetTickCount();
    } else if (wait == WAIT_FAILED) {
      return false;
    }
  }
}

}  // namespace

uint32_t HandOff(Request request, bool mailLayout, HWND parent, HINSTANCE instance) {
  HWND hidden = CreateWindowExA(0, "STATIC", "DUMMY", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, instance, nullptr);
  if (!hidden) return 2;
  request.window = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(hidden));
  request.result = 0;

  Handle mapping;
  std::vector<uint8_t> block;
  uint32_t base = 0;
  for (int attempt = 0; attempt < 16 && !mapping.h; ++attempt) {
    base = NewBase(mailLayout ? BuildMailBlock(request, 0).size() : BuildDocumentsBlock(request, 0).size());
    block = mailLayout ? BuildMailBlock(request, base) : BuildDocumentsBlock(request, base);
    mapping.h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0,
                                   static_cast<DWORD>(block.size()), MappingName(base).c_str());
    if (mapping.h && GetLastError() == ERROR_ALREADY_EXISTS) {
      CloseHandle(mapping.h);
      mapping.h = nullptr;
    }
  }
  void *view = mapping.h ? MapViewOfFile(mapping.h, FILE_MAP_WRITE, 0, 0, block.size()) : nullptr;
  if (!view) {
    DestroyWindow(hidden);
    return mapping.h ? 5 : 2;
  }
  std::memcpy(view, block.data(), block.size());

  std::string command = "postbox.exe " + MappingName(base);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    UnmapViewOfFile(view);
    DestroyWindow(hidden);
    return 2;
  }
  Handle process{started.hProcess}, thread{started.hThread};

  const bool disable = parent && IsWindow(parent);
  if (disable) EnableWindow(parent, FALSE);
  const bool closed = WaitForClose(hidden, process.h);
  DestroyWindow(hidden);
  if (disable) {
    EnableWindow(parent, TRUE);
    SetActiveWindow(parent);
  }
  // The mail client's answer is in the shared view, not in our own copy.
  const uint32_t result = ReadResult(view);
  UnmapViewOfFile(view);
  if (!closed && result == 0) return 2;
  return result;
}

}  // namespace mailbridge
