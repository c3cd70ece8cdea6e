// Another process on the clipboard, for the clipboard tests:
//   clip_peer get          prints the CF_TEXT text (or "<none>")
//   clip_peer set TEXT     puts TEXT on the clipboard as CF_TEXT
//   clip_peer dib          prints "W H" of the CF_DIB picture (or "<none>")
//   clip_peer hold TEXT    shows a window (starting the display), sets TEXT and
//                          keeps answering for two seconds (the desktop clipboard
//                          needs its owner alive)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool SetText(const char *text) {
  if (!OpenClipboard(nullptr)) return false;
  EmptyClipboard();
  const size_t n = std::strlen(text) + 1;
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, n);
  std::memcpy(GlobalLock(mem), text, n);
  GlobalUnlock(mem);
  const bool ok = SetClipboardData(CF_TEXT, mem) != nullptr;
  CloseClipboard();
  return ok;
}

void ShowWindowForDisplay() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "QxClipPeer";
  RegisterClassA(&wc);
  HWND h = CreateWindowA("QxClipPeer", "clip", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 60, nullptr, nullptr,
                         nullptr, nullptr);
  UpdateWindow(h);
}

void Pump(DWORD ms) {
  SetTimer(nullptr, 1, ms, nullptr);
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) {
    if (m.message == WM_TIMER) break;
    DispatchMessageA(&m);
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  const std::string verb = argv[1];
  if (verb == "show") ShowWindowForDisplay();
  if (verb == "set" && argc > 2) return SetText(argv[2]) ? 0 : 1;
  if (verb == "hold" && argc > 2) {
    ShowWindowForDisplay();
    Pump(200);
    if (!SetText(argv[2])) return 1;
    Pump(2000);
    return 0;
  }
  if (verb == "get" || verb == "show") {
    if (verb == "show") Pump(300);
    if (!OpenClipboard(nullptr)) return 1;
    HANDLE h = GetClipboardData(CF_TEXT);
    const char *p = h ? static_cast<const char *>(GlobalLock(h)) : nullptr;
    std::printf("%s\n", p ? p : "<none>");
    if (p) GlobalUnlock(h);
    CloseClipboard();
    return 0;
  }
  if (verb == "dib") {
    if (!OpenClipboard(nullptr)) return 1;
    HANDLE h = GetClipboardData(CF_DIB);
    const auto *bih = h ? static_cast<const BITMAPINFOHEADER *>(GlobalLock(h)) : nullptr;
    if (bih)
      std::printf("%ld %ld\n", static_cast<long>(bih->biWidth), static_cast<long>(bih->biHeight));
    else
      std::printf("<none>\n");
    if (bih) GlobalUnlock(h);
    CloseClipboard();
    return 0;
  }
  return 2;
}
