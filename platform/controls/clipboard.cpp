// The clipboard: CF_TEXT, CF_BITMAP and CF_DIB (and CF_OEMTEXT as a view of
// CF_TEXT). Within a process the data are the handles programs gave; between
// the processes of one user they travel through a file in the runtime
// directory, replaced atomically when a writer closes the clipboard. When a
// desktop display runs, text also goes to and comes from its clipboard.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "controls_internal.h"
#include "qx/display.h"
#include "qx/env.h"

namespace qx::controls {
namespace {

constexpr size_t kMaxItem = 64u << 20;  // a larger record in the shared file is refused as damaged
constexpr char kMagic[8] = {'Q', 'X', 'C', 'L', 'I', 'P', '1', '\n'};

struct Clipboard {
  std::mutex lock;
  DWORD open_tid = 0;
  HWND open_hwnd = nullptr;
  HWND owner = nullptr;
  bool dirty = false;             // changed since opened: publish on close
  std::map<UINT, HANDLE> data;    // HGLOBAL for CF_TEXT/CF_DIB, HBITMAP for CF_BITMAP
  struct timespec seen_mtime {};  // the shared file last read or written
  ino_t seen_ino = 0;
  std::string desktop_text;  // what we last gave the desktop clipboard
};

Clipboard &C() {
  static Clipboard *c = new Clipboard;  // never destroyed: used from exit paths of other parts
  return *c;
}

std::string SharedPath() { return RuntimeDir() + "/clipboard"; }

void FreeItem(UINT format, HANDLE h) {
  if (!h) return;
  if (format == CF_BITMAP)
    DeleteObject(static_cast<HGDIOBJ>(h));
  else
    GlobalFree(h);
}

void FreeAll(Clipboard &c) {
  for (auto &[f, h] : c.data) FreeItem(f, h);
  c.data.clear();
}

HGLOBAL GlobalFromBytes(const void *p, size_t n) {
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, n ? n : 1);
  if (!mem) return nullptr;
  if (void *dst = GlobalLock(mem)) {
    if (n) std::memcpy(dst, p, n);
    GlobalUnlock(mem);
  }
  return mem;
}

std::vector<BYTE> BytesOfGlobal(HANDLE h) {
  std::vector<BYTE> out;
  const SIZE_T n = GlobalSize(h);
  if (const BYTE *p = static_cast<const BYTE *>(GlobalLock(h))) {
    out.assign(p, p + n);
    GlobalUnlock(h);
  }
  return out;
}

// A 32-bit bottom-up DIB of a bitmap (header followed by the bits).
std::vector<BYTE> DibOfBitmap(HBITMAP bm) {
  BITMAP info{};
  if (!GetObjectA(bm, sizeof info, &info) || info.bmWidth <= 0 || info.bmHeight <= 0) return {};
  BITMAPINFOHEADER bih{};
  bih.biSize = sizeof bih;
  bih.biWidth = info.bmWidth;
  bih.biHeight = info.bmHeight;
  bih.biPlanes = 1;
  bih.biBitCount = 32;
  bih.biCompression = BI_RGB;
  const size_t bits = static_cast<size_t>(info.bmWidth) * info.bmHeight * 4;
  std::vector<BYTE> out(sizeof bih + bits);
  std::memcpy(out.data(), &bih, sizeof bih);
  HDC dc = CreateCompatibleDC(nullptr);
  const int got = GetDIBits(dc, bm, 0, static_cast<UINT>(info.bmHeight), out.data() + sizeof bih,
                            reinterpret_cast<BITMAPINFO *>(out.data()), DIB_RGB_COLORS);
  DeleteDC(dc);
  if (got <= 0) return {};
  return out;
}

HBITMAP BitmapOfDib(const std::vector<BYTE> &dib) {
  if (dib.size() < sizeof(BITMAPINFOHEADER)) return nullptr;
  BITMAPINFOHEADER bih;
  std::memcpy(&bih, dib.data(), sizeof bih);
  if (bih.biSize < sizeof bih || bih.biSize > dib.size()) return nullptr;
  size_t colors = bih.biClrUsed ? bih.biClrUsed : (bih.biBitCount <= 8 ? (1u << bih.biBitCount) : 0);
  if (bih.biCompression == BI_BITFIELDS) colors = 3;
  const size_t header = bih.biSize + colors * sizeof(RGBQUAD);
  const size_t stride = ((static_cast<size_t>(std::abs(bih.biWidth)) * bih.biBitCount + 31) / 32) * 4;
  if (header > dib.size() || stride * static_cast<size_t>(std::abs(bih.biHeight)) > dib.size() - header) return nullptr;
  HDC screen = GetDC(nullptr);
  HBITMAP bm = CreateDIBitmap(screen, &bih, CBM_INIT, dib.data() + header,
                              reinterpret_cast<const BITMAPINFO *>(dib.data()), DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  return bm;
}

// ---- the shared file ----

void Publish(Clipboard &c) {
  if (!EnsurePrivateDir(RuntimeDir())) return;
  std::vector<BYTE> out(kMagic, kMagic + sizeof kMagic);
  auto put32 = [&out](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
  };
  for (auto &[format, h] : c.data) {
    std::vector<BYTE> bytes;
    UINT as = format;
    if (format == CF_TEXT || format == CF_DIB)
      bytes = BytesOfGlobal(h);
    else if (format == CF_BITMAP) {
      if (c.data.count(CF_DIB)) continue;
      bytes = DibOfBitmap(static_cast<HBITMAP>(h));
      as = CF_DIB;
    } else
      continue;
    if (bytes.size() > kMaxItem) continue;
    put32(as);
    put32(static_cast<uint32_t>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  const std::string path = SharedPath(), tmp = path + "." + std::to_string(getpid());
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  bool ok = write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size());
  ok = close(fd) == 0 && ok;
  if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return;
  }
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    c.seen_mtime = st.st_mtim;
    c.seen_ino = st.st_ino;
  }
}

// Takes in what another process published since we last looked.
void Refresh(Clipboard &c) {
  struct stat st {};
  const std::string path = SharedPath();
  if (stat(path.c_str(), &st) != 0) return;
  if (st.st_ino == c.seen_ino && st.st_mtim.tv_sec == c.seen_mtime.tv_sec && st.st_mtim.tv_nsec == c.seen_mtime.tv_nsec)
    return;
  c.seen_ino = st.st_ino;
  c.seen_mtime = st.st_mtim;
  if (static_cast<size_t>(st.st_size) > 4 * kMaxItem) return;
  FILE *f = std::fopen(path.c_str(), "rbe");
  if (!f) return;
  std::vector<BYTE> in(static_cast<size_t>(st.st_size));
  const size_t got = std::fread(in.data(), 1, in.size(), f);
  std::fclose(f);
  in.resize(got);
  if (in.size() < sizeof kMagic || std::memcmp(in.data(), kMagic, sizeof kMagic) != 0) return;
  std::map<UINT, HANDLE> fresh;
  size_t pos = sizeof kMagic;
  auto get32 = [&](uint32_t &v) {
    if (in.size() - pos < 4) return false;
    v = in[pos] | (in[pos + 1] << 8) | (in[pos + 2] << 16) | (static_cast<uint32_t>(in[pos + 3]) << 24);
    pos += 4;
    return true;
  };
  uint32_t format, size;
  while (pos < in.size() && get32(format) && get32(size)) {
    if (size > in.size() - pos || size > kMaxItem) break;  // damaged: keep what was whole
    if ((format == CF_TEXT || format == CF_DIB) && !fresh.count(format))
      if (HGLOBAL h = GlobalFromBytes(in.data() + pos, size)) fresh[format] = h;
    pos += size;
  }
  FreeAll(c);
  c.data = std::move(fresh);
  c.owner = nullptr;
}

// Text copied on the desktop by another program replaces ours.
void RefreshFromDesktop(Clipboard &c) {
  std::string text;
  if (!display::DesktopClipboardText(text) || text == c.desktop_text) return;
  c.desktop_text = text;
  std::string crlf;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) crlf += '\r';
    crlf += text[i];
  }
  FreeAll(c);
  if (HGLOBAL h = GlobalFromBytes(crlf.c_str(), crlf.size() + 1)) c.data[CF_TEXT] = h;
  c.owner = nullptr;
}

void PublishToDesktop(Clipboard &c) {
  if (!display::DriverStarted()) return;
  auto it = c.data.find(CF_TEXT);
  if (it == c.data.end()) return;
  const std::vector<BYTE> bytes = BytesOfGlobal(it->second);
  std::string text(reinterpret_cast<const char *>(bytes.data()),
                   strnlen(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
  c.desktop_text = text;
  display::SetDesktopClipboardText(text);
}

bool IsOpenHere(Clipboard &c) { return c.open_tid == GetCurrentThreadId(); }

bool Has(const Clipboard &c, UINT format) {
  switch (format) {
    case CF_TEXT:
    case CF_OEMTEXT: return c.data.count(CF_TEXT) != 0;
    case CF_BITMAP:
    case CF_DIB: return c.data.count(CF_BITMAP) || c.data.count(CF_DIB);
    default: return c.data.count(format) != 0;
  }
}

}  // namespace
}  // namespace qx::controls

using namespace qx::controls;

BOOL WINAPI OpenClipboard(HWND hwnd) {
  Clipboard &c = C();
  std::lock_guard guard(c.lock);
  if (c.open_tid && c.open_tid != GetCurrentThreadId()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  c.open_tid = GetCurrentThreadId();
  c.open_hwnd = hwnd;
  c.dirty = false;
  Refresh(c);
  RefreshFromDesktop(c);
  return TRUE;
}

BOOL WINAPI CloseClipboard(void) {
  Clipboard &c = C();
  std::lock_guard guard(c.lock);
  if (!IsOpenHere(c)) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return FALSE;
  }
  if (c.dirty) {
    Publish(c);
    PublishToDesktop(c);
  }
  c.open_tid = 0;
  c.open_hwnd = nullptr;
  c.dirty = false;
  return TRUE;
}

BOOL WINAPI EmptyClipboard(void) {
  Clipboard &c = C();
  HWND old_owner;
  {
    std::lock_guard guard(c.lock);
    if (!IsOpenHere(c)) {
      SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
      return FALSE;
    }
    old_owner = c.owner;
    FreeAll(c);
    c.owner = c.open_hwnd;
    c.dirty = true;
  }
  if (old_owner && IsWindow(old_owner)) SendMessageA(old_owner, WM_DESTROYCLIPBOARD, 0, 0);
  return TRUE;
}

HANDLE WINAPI SetClipboardData(UINT format, HANDLE mem) {
  Clipboard &c = C();
  std::lock_guard guard(c.lock);
  if (!IsOpenHere(c)) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return nullptr;
  }
  if (!mem) {  // delayed rendering is not offered: the data must be given now
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // CF_BITMAP and CF_DIB are two views of one picture; a new one replaces both.
  const UINT replaced[] = {format, format == CF_BITMAP ? static_cast<UINT>(CF_DIB)
                                   : format == CF_DIB  ? static_cast<UINT>(CF_BITMAP)
                                                       : format};
  for (UINT f : replaced) {
    auto it = c.data.find(f);
    if (it != c.data.end() && it->second != mem) {
      FreeItem(f, it->second);
      c.data.erase(it);
    }
  }
  c.data[format == CF_OEMTEXT ? static_cast<UINT>(CF_TEXT) : format] = mem;
  c.dirty = true;
  return mem;
}

HANDLE WINAPI GetClipboardData(UINT format) {
  Clipboard &c = C();
  std::lock_guard guard(c.lock);
  if (!IsOpenHere(c)) {
    SetLastError(ERROR_CLIPBOARD_NOT_OPEN);
    return nullptr;
  }
  if (format == CF_OEMTEXT) format = CF_TEXT;
  auto it = c.data.find(format);
  if (it != c.data.end()) return it->second;
  // The other view of a picture is made on first request and kept.
  if (format == CF_BITMAP && c.data.count(CF_DIB)) {
    HBITMAP bm = BitmapOfDib(BytesOfGlobal(c.data[CF_DIB]));
    if (bm) c.data[CF_BITMAP] = bm;
    return bm;
  }
  if (format == CF_DIB && c.data.count(CF_BITMAP)) {
    const std::vector<BYTE> dib = DibOfBitmap(static_cast<HBITMAP>(c.data[CF_BITMAP]));
    HGLOBAL h = dib.empty() ? nullptr : GlobalFromBytes(dib.data(), dib.size());
    if (h) c.data[CF_DIB] = h;
    return h;
  }
  SetLastError(ERROR_NOT_FOUND);
  return nullptr;
}

BOOL WINAPI IsClipboardFormatAvailable(UINT format) {
  Clipboard &c = C();
  std::lock_guard guard(c.lock);
  if (!c.open_tid) {
    Refresh(c);
    RefreshFromDesktop(c);
  }
  return Has(c, format);
}

HWND WINAPI GetClipboardOwner(void) {
  Clipboard &c = C();
  std::lock_guard guard(c.lock);
  return c.owner;
}

int WINAPI CountClipboardFormats(void) {
  Clipboard &c = C();
  std::lock_guard guard(c.lock);
  int n = 0;
  for (UINT f : {CF_TEXT, CF_OEMTEXT, CF_BITMAP, CF_DIB}) n += Has(c, f) ? 1 : 0;
  return n;
}
