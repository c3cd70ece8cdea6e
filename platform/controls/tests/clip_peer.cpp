// Another process on the clipboard, for the clipboard tests:
//   clip_peer get          prints the CF_TEXT text (or "<none>")
//   clip_peer set TEXT     puts TEXT on the clipboard as CF_TEXT
//   clip_peer dib          prints "W H" of the CF_DIB picture (or "<none>")
//   clip_peer hold TEXT DIR
//                          shows a window (starting the display), sets TEXT,
//                          makes DIR/ready and keeps answering until DIR/done
//                          exists (the desktop clipboard needs its owner alive)
//   clip_peer show         shows a window and prints the desktop clipboard's text
//                          once some has arrived (or "<none>" after many tries)
#include <windows.h>

#include <unistd.h>

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

// Runs the message loop until done() says so, looking again every 20 ms.
template <class Done>
void PumpUntil(Done done) {
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, nullptr);
  MSG m;
  while (!done() && GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
  KillTimer(nullptr, timer);
}

bool Exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

std::string ClipboardText() {
  std::string text = "<none>";
  if (!OpenClipboard(nullptr)) return text;
  HANDLE h = GetClipboardData(CF_TEXT);
  if (const char *p = h ? static_cast<const char *>(GlobalLock(h)) : nullptr) {
    text = p;
    GlobalUnlock(h);
  }
  CloseClipboard();
  return text;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return 2;
  const std::string verb = argv[1];
  if (verb == "show") ShowWindowForDisplay();
  if (verb == "set" && argc > 2) return SetText(argv[2]) ? 0 : 1;
  if (verb == "hold" && argc > 3) {
    const std::string dir = argv[3];
    ShowWindowForDisplay();
    if (!SetText(argv[2])) return 1;
    std::FILE *ready = std::fopen((dir + "/ready").c_str(), "w");
    if (ready) std::fclose(ready);
    PumpUntil([&] { return Exists(dir + "/done"); });
    return 0;
  }
  if (verb == "show") {
    // The desktop's answer comes when the owner gets to it: ask again until it has.
    std::string text;
    int tries = 0;
    PumpUntil([&] { return (text = ClipboardText()) != "<none>" || ++tries > 100; });
    std::printf("%s\n", text.c_str());
    return 0;
  }
  if (verb == "get") {
    std::printf("%s\n", ClipboardText().c_str());
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
