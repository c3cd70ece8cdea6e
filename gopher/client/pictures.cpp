// A received GIF picture in the document list. The file is decoded once and
// whole by the shared GIF reader (which bounds the picture's size before it
// allocates anything and never writes past the rows); painting copies one
// scan line at a time through a one-line DIB of palette indexes.
#include "pictures.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "gifhandle.h"
#include "gifimage.h"
#include "gophercore.h"
#include "printjobs.h"

namespace {

using qxgif::HandleInput;

// The one picture the client shows.
struct GifPicture {
  std::string fileName;
  qxgif::Picture image;
  // BITMAPINFOHEADER of one line (width x 1, 8 bits) and n palette indexes.
  std::vector<uint8_t> dibHeader;
  // One display row, padded to the DIB's 4-byte rows.
  std::vector<uint8_t> rowBuffer;
  HPALETTE palette = nullptr;
  int nextRow = 0;
  int paletteChanges = 0;

  ~GifPicture() {
    if (palette) DeleteObject(palette);
  }
  const BITMAPINFO *Info() const { return reinterpret_cast<const BITMAPINFO *>(dibHeader.data()); }
  // The next display row in the row buffer; false past the last.
  bool TakeRow() {
    if (nextRow >= image.height) return false;
    std::memcpy(rowBuffer.data(), image.DisplayRow(static_cast<size_t>(nextRow)), image.width);
    ++nextRow;
    return true;
  }
};

std::unique_ptr<GifPicture> g_Picture;
HWND g_DocumentList;
const char *g_LastError = "";

// The header of the one-line DIB and the logical palette of the n colours
// the picture uses (n = one past its highest index).
bool MakePalette(GifPicture &p) {
  const unsigned n = p.image.PaletteSize();
  p.dibHeader.assign(sizeof(BITMAPINFOHEADER) + n * sizeof(WORD), 0);
  auto *h = reinterpret_cast<BITMAPINFOHEADER *>(p.dibHeader.data());
  h->biSize = sizeof(BITMAPINFOHEADER);
  h->biWidth = p.image.width;
  h->biHeight = 1;
  h->biPlanes = 1;
  h->biBitCount = 8;
  h->biCompression = BI_RGB;
  h->biClrUsed = n;
  h->biClrImportant = n;
  auto *indexes = reinterpret_cast<WORD *>(p.dibHeader.data() + sizeof(BITMAPINFOHEADER));
  for (unsigned i = 0; i < n; ++i) indexes[i] = static_cast<WORD>(i);

  std::vector<uint8_t> logical(sizeof(LOGPALETTE) + n * sizeof(PALETTEENTRY));
  auto *lp = reinterpret_cast<LOGPALETTE *>(logical.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(n);
  for (unsigned i = 0; i < n; ++i)
    lp->palPalEntry[i] = PALETTEENTRY{p.image.red[i], p.image.green[i], p.image.blue[i], 0};
  p.palette = CreatePalette(lp);
  return p.palette != nullptr;
}

// Selects and realises the palette in the document list's DC; the number of
// entries that changed. With update set, a change is redrawn by UpdateColors.
UINT RealiseInList(bool background, bool update) {
  HDC dc = GetDC(g_DocumentList);
  HPALETTE old = SelectPalette(dc, g_Picture->palette, background ? TRUE : FALSE);
  const UINT changed = RealizePalette(dc);
  if (update && changed) {
    UpdateColors(dc);
    ++g_Picture->paletteChanges;
  }
  SelectPalette(dc, old, FALSE);
  ReleaseDC(g_DocumentList, dc);
  return changed;
}

}  // namespace

void GifSetDocumentList(HWND list) { g_DocumentList = list; }
const char *GifLastError() { return g_LastError; }
bool GifLoaded() { return g_Picture != nullptr; }

const std::string &GifPath() {
  static const std::string none;
  return g_Picture ? g_Picture->fileName : none;
}

int GifLoadFile(const char *path) {
  GifRelease(1);
  auto picture = std::unique_ptr<GifPicture>(new (std::nothrow) GifPicture);
  if (!picture) {
    g_LastError = qxgif::DescribeOpenError(qxgif::OpenError::kNoMemory);
    return -1;
  }
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    g_LastError = "the picture file could not be opened";
    return -1;
  }
  picture->fileName = path;
  {
    HandleInput input(file);  // closed when decoding is over
    qxgif::Decoder decoder(input);
    const qxgif::OpenError opened = decoder.Open(picture->image);
    if (opened != qxgif::OpenError::kNone) {
      g_LastError = qxgif::DescribeOpenError(opened);
      return -1;
    }
    decoder.DecodePixels(picture->image);
  }
  try {
    picture->rowBuffer.assign((picture->image.width + 3u) & ~3u, 0);
  } catch (const std::bad_alloc &) {
    g_LastError = qxgif::DescribeOpenError(qxgif::OpenError::kNoMemory);
    return -1;
  }
  if (!MakePalette(*picture)) {
    g_LastError = "the picture's palette could not be made";
    return -1;
  }
  g_LastError = "";
  g_Picture = std::move(picture);
  return 0;
}

void GifGetSize(int *width, int *height) {
  *width = g_Picture ? g_Picture->image.width : 0;
  *height = g_Picture ? g_Picture->image.height : 0;
}

int GifBandCount() { return g_Picture ? (g_Picture->image.height + kDocumentRowHeight - 1) / kDocumentRowHeight : 0; }

void GifDrawRows(HWND dialog, HDC dc, int band, int x, int y) {
  if (!g_Picture || band < 0) return;
  GifPicture &p = *g_Picture;
  if (p.paletteChanges > 1) {
    // The screen's colours drifted through UpdateColors: paint everything anew.
    p.paletteChanges = 0;
    InvalidateRect(g_DocumentList ? g_DocumentList : dialog, nullptr, FALSE);
  }
  p.nextRow = band * kDocumentRowHeight;
  HPALETTE old = SelectPalette(dc, p.palette, FALSE);
  RealizePalette(dc);
  for (int i = 0; i < kDocumentRowHeight && p.TakeRow(); ++i)
    SetDIBitsToDevice(dc, x, y + i, p.image.width, 1, 0, 0, 0, 1, p.rowBuffer.data(), p.Info(), DIB_PAL_COLORS);
  SelectPalette(dc, old, FALSE);
}

void GifRelease(int keepFile) {
  if (!g_Picture) return;
  if (!keepFile) DeleteFileA(g_Picture->fileName.c_str());
  g_Picture.reset();
}

int GifPaletteMessages(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result) {
  (void)window;
  (void)lParam;
  if (!g_Picture || !g_DocumentList) return 0;
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) return 0;
      [[fallthrough]];
    case WM_QUERYNEWPALETTE:
      if (!RealiseInList(false, false)) return 0;
      InvalidateRect(g_DocumentList, nullptr, FALSE);
      g_Picture->paletteChanges = 0;
      *result = 1;
      return 1;
    case WM_PALETTECHANGED:
      if (reinterpret_cast<HWND>(wParam) == g_DocumentList) return 0;
      if (RealiseInList(true, true))
        UpdateWindow(g_DocumentList);
      else
        InvalidateRect(g_DocumentList, nullptr, FALSE);
      return 0;
  }
  return 0;
}

// The picture across the page less an inch, an inch from the top, and made
// smaller when it would run past the page's last inch: each printed row runs
// from its scaled top to the next row's, so the rows fill the scaled height
// exactly and the picture keeps its shape.
void GifPrint(HWND owner) {
  if (!g_Picture) return;
  GifPicture &p = *g_Picture;
  GopherPrintJob job;
  if (!job.Begin(owner, "Gopher-Gif", "AbortDlgGif")) return;
  HDC dc = job.dc();
  const int pageW = GetDeviceCaps(dc, HORZRES), pageH = GetDeviceCaps(dc, VERTRES);
  const int ppiX = GetDeviceCaps(dc, LOGPIXELSX), ppiY = GetDeviceCaps(dc, LOGPIXELSY);
  const long long w = p.image.width, h = p.image.height;
  long long printedW = std::max(1, pageW - ppiX);
  long long printedH = h * printedW / w;
  const long long roomH = std::max(1, pageH - 2 * ppiY);
  if (printedH > roomH) {
    printedH = roomH;
    printedW = std::max(1LL, w * roomH / h);
  }
  RECT bounds{ppiX / 2, ppiY, static_cast<LONG>(ppiX / 2 + printedW), static_cast<LONG>(ppiY + printedH)};
  Escape(dc, SET_BOUNDS, sizeof bounds, reinterpret_cast<LPCSTR>(&bounds), nullptr);
  p.nextRow = 0;
  HPALETTE old = SelectPalette(dc, p.palette, FALSE);
  RealizePalette(dc);
  bool aborted = false;
  for (long long i = 0; i < h; ++i) {
    job.Progress(static_cast<unsigned>(i * 100 / h));
    if (!p.TakeRow()) break;
    const int top = static_cast<int>(i * printedH / h), next = static_cast<int>((i + 1) * printedH / h);
    StretchDIBits(dc, bounds.left, bounds.top + top, static_cast<int>(printedW), std::max(1, next - top), 0, 0,
                  p.image.width, 1, p.rowBuffer.data(), p.Info(), DIB_PAL_COLORS, SRCCOPY);
    if (job.Cancelled()) {
      aborted = true;
      break;
    }
  }
  SelectPalette(dc, old, FALSE);
  job.End(!aborted);
}
