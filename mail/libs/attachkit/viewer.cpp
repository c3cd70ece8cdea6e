// The GIF viewer: a window exactly as large as the picture, with its own
// palette, that saves the picture as GIF or BMP, prints it, and deletes the
// picture's file from the mail directory when it closes. It runs in the
// caller's thread and message loop.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gifhandle.h"
#include "gifimage.h"
#include "module.h"
#include "present.h"
#include "printing.h"

namespace attachkit {
namespace {

constexpr const char *kViewerClass = "QXGifViewer";
constexpr const char *kRecordProperty = "SINFO";

// One open picture.
struct Viewer {
  std::string path;
  qxgif::Picture picture;
  unsigned colours = 0;
  // A device-independent bitmap of the picture, top row first, each row padded
  // to 4 bytes; drawn with palette indexes through the picture's palette.
  std::vector<uint8_t> rows;
  std::vector<uint8_t> header;  // BITMAPINFOHEADER and the index table
  HPALETTE palette = nullptr;
  int paletteChanges = 0;
  bool ready = false;
  SIZE outer{};

  ~Viewer() {
    if (palette) DeleteObject(palette);
    DeleteFileA(path.c_str());
  }
  const BITMAPINFO *Info() const { return reinterpret_cast<const BITMAPINFO *>(header.data()); }
};

using qxgif::HandleInput;

// The library's busy mark: menu commands wait while one runs.
bool g_busy = false;
// Open viewers, so that unloading the library closes them first.
std::set<HWND> &Windows() {
  static std::set<HWND> windows;
  return windows;
}

Viewer *RecordOf(HWND window) { return static_cast<Viewer *>(GetPropA(window, kRecordProperty)); }

// The display header (one row of palette indexes 0 to n-1) and the logical
// palette of the picture's n colours, n being one past its highest index.
void MakePalette(Viewer &v) {
  const qxgif::Picture &p = v.picture;
  v.colours = p.PaletteSize();
  v.header.assign(sizeof(BITMAPINFOHEADER) + v.colours * sizeof(WORD), 0);
  auto *h = reinterpret_cast<BITMAPINFOHEADER *>(v.header.data());
  h->biSize = sizeof(BITMAPINFOHEADER);
  h->biWidth = p.width;
  h->biHeight = -static_cast<LONG>(p.height);  // top row first
  h->biPlanes = 1;
  h->biBitCount = 8;
  h->biCompression = BI_RGB;
  h->biClrUsed = v.colours;
  h->biClrImportant = v.colours;
  auto *indexes = reinterpret_cast<WORD *>(v.header.data() + sizeof(BITMAPINFOHEADER));
  for (unsigned i = 0; i < v.colours; ++i) indexes[i] = static_cast<WORD>(i);

  std::vector<uint8_t> logical(sizeof(LOGPALETTE) + v.colours * sizeof(PALETTEENTRY));
  auto *lp = reinterpret_cast<LOGPALETTE *>(logical.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(v.colours);
  for (unsigned i = 0; i < v.colours; ++i) lp->palPalEntry[i] = PALETTEENTRY{p.red[i], p.green[i], p.blue[i], 0};
  v.palette = CreatePalette(lp);
}

void MakeRows(Viewer &v) {
  const qxgif::Picture &p = v.picture;
  const size_t stride = (p.width + 3u) & ~3u;
  v.rows.assign(stride * p.height, 0);
  for (size_t r = 0; r < p.height; ++r) std::memcpy(&v.rows[r * stride], p.DisplayRow(r), p.width);
}

void Paint(HWND window, Viewer &v) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  if (v.ready) {
    HPALETTE old = SelectPalette(dc, v.palette, FALSE);
    RealizePalette(dc);
    SetDIBitsToDevice(dc, 0, 0, v.picture.width, v.picture.height, 0, 0, 0, v.picture.height, v.rows.data(), v.Info(),
                      DIB_PAL_COLORS);
    SelectPalette(dc, old, FALSE);
  }
  EndPaint(window, &ps);
}

// Selects and realises the palette; the count of entries that changed.
UINT Realise(HWND window, Viewer &v) {
  HDC dc = GetDC(window);
  HPALETTE old = SelectPalette(dc, v.palette, FALSE);
  const UINT changed = RealizePalette(dc);
  SelectPalette(dc, old, FALSE);
  ReleaseDC(window, dc);
  return changed;
}

void SaveAsGif(HWND window, Viewer &v) {
  const auto target = AskSavePath(IDS_FILTER_GIF, IDS_TITLE_IMAGE, "GIF", std::nullopt, "", window);
  if (!target) return;
  WaitCursor wait;
  if (!CopyFileA(v.path.c_str(), target->c_str(), FALSE)) ErrorBox(window, LoadText(IDS_CANNOT_CREATE));
}

void SaveAsBmp(HWND window, Viewer &v) {
  const auto target = AskSavePath(IDS_FILTER_BMP, IDS_TITLE_IMAGE, "BMP", std::nullopt, "", window);
  if (!target) return;
  WaitCursor wait;
  const std::vector<uint8_t> bmp = qxgif::WriteBmp(v.picture);
  OutputFile file;
  if (!file.Create(*target, false)) return ErrorBox(window, LoadText(IDS_CANNOT_CREATE));
  if (!file.Write(bmp.data(), bmp.size())) {
    file.Discard();
    ErrorBox(window, LoadText(IDS_CANNOT_WRITE) + std::string(" ") + *target);
  }
}

// Prints the picture across the page's printable width (the page less an
// inch), half an inch from the left and an inch from the top.
void Print(HWND window, Viewer &v) {
  HDC dc = PrintGetDC();
  if (!dc) return;
  const int ppiX = GetDeviceCaps(dc, LOGPIXELSX), ppiY = GetDeviceCaps(dc, LOGPIXELSY);
  const int width = GetDeviceCaps(dc, HORZRES) - ppiX;
  const int height = static_cast<int>(static_cast<long long>(v.picture.height) * width / v.picture.width);
  SetAbortProc(dc, PrintAbortProc);
  DOCINFOA doc{};
  doc.cbSize = sizeof doc;
  doc.lpszDocName = "Mime-Gif";
  if (StartDocA(dc, &doc) <= 0 || StartPage(dc) <= 0) {
    DeleteDC(dc);
    return ErrorBox(window, "The picture could not be sent to the printer; check the printer in Printer Setup.");
  }
  HWND progress = CreateDialogParamA(Instance(), "AbortDlg", window, PrintAbortDlgProc, 0);
  PrintSetProgressDialog(progress);
  PrintClearCancel();
  HPALETTE old = SelectPalette(dc, v.palette, FALSE);
  RealizePalette(dc);
  // One row of the picture at a time, from its place in the bitmap.
  std::vector<uint8_t> rowHeader = v.header;
  reinterpret_cast<BITMAPINFOHEADER *>(rowHeader.data())->biHeight = 1;
  const size_t stride = (v.picture.width + 3u) & ~3u;
  unsigned lastPercent = ~0u;
  for (int row = 0; row < v.picture.height && !PrintCancelled(); ++row) {
    const unsigned percent = static_cast<unsigned>(row * 100 / v.picture.height);
    if (percent != lastPercent && progress) PostMessageA(progress, kPrintProgress, percent, 0);
    lastPercent = percent;
    // Each row from its scaled top to the next row's, so the rows together
    // fill the scaled height (a whole-pixel row height would squash the
    // picture by up to half).
    const int top = static_cast<int>(static_cast<long long>(row) * height / v.picture.height);
    const int next = static_cast<int>(static_cast<long long>(row + 1) * height / v.picture.height);
    StretchDIBits(dc, ppiX / 2, ppiY + top, width, std::max(1, next - top), 0, 0, v.picture.width, 1,
                  &v.rows[row * stride], reinterpret_cast<const BITMAPINFO *>(rowHeader.data()), DIB_PAL_COLORS,
                  SRCCOPY);
    PrintPump();
  }
  SelectPalette(dc, old, FALSE);
  if (PrintCancelled()) {
    AbortDoc(dc);  // a cancelled job leaves nothing half-printed in the spooler
  } else {
    if (progress) SendMessageA(progress, kPrintProgress, 100, 0);
    EndPage(dc);
    EndDoc(dc);
  }
  PrintSetProgressDialog(nullptr);
  if (progress) DestroyWindow(progress);
  DeleteDC(dc);
}

void PrinterSetup(HWND window) {
  PRINTDLGA &pd = PrintSettings();
  pd.lStructSize = sizeof pd;
  pd.hwndOwner = window;
  pd.Flags = PD_PRINTSETUP;
  PrintDlgA(&pd);
}

void OnCommand(HWND window, Viewer &v, int id) {
  if (g_busy) return;
  g_busy = true;
  switch (id) {
    case kMenuExit: DestroyWindow(window); break;
    case kMenuSaveGif: SaveAsGif(window, v); break;
    case kMenuSaveBmp: SaveAsBmp(window, v); break;
    case kMenuPrinterSetup: PrinterSetup(window); break;
    case kMenuPrint: Print(window, v); break;
  }
  g_busy = false;
}

LRESULT CALLBACK ViewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Viewer *v = RecordOf(window);
  if (!v) return DefWindowProcA(window, message, wParam, lParam);
  switch (message) {
    case WM_PAINT:
      if (v->paletteChanges >= 2) {
        PAINTSTRUCT ps;
        BeginPaint(window, &ps);
        EndPaint(window, &ps);
        v->paletteChanges = 0;
        InvalidateRect(window, nullptr, TRUE);
        UpdateWindow(window);
      } else {
        Paint(window, *v);
      }
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) break;
      [[fallthrough]];
    case WM_QUERYNEWPALETTE:
      if (Realise(window, *v)) {
        InvalidateRect(window, nullptr, TRUE);
        v->paletteChanges = 0;
        UpdateWindow(window);
        return 1;
      }
      return 0;
    case WM_PALETTECHANGED:
      if (reinterpret_cast<HWND>(wParam) == window) return 0;
      if (Realise(window, *v)) {
        HDC dc = GetDC(window);
        UpdateColors(dc);
        ReleaseDC(window, dc);
        ++v->paletteChanges;
        UpdateWindow(window);
      } else {
        InvalidateRect(window, nullptr, TRUE);
      }
      return 0;
    case WM_GETMINMAXINFO: {
      auto *info = reinterpret_cast<MINMAXINFO *>(lParam);
      info->ptMaxSize = POINT{v->outer.cx, v->outer.cy};
      info->ptMaxTrackSize = POINT{v->outer.cx, v->outer.cy};
      return 0;
    }
    case WM_WININICHANGE: PrintTakeDefaults(window); return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_DESTROY:
      RemovePropA(window, kRecordProperty);
      Windows().erase(window);
      delete v;  // deletes the picture's file
      return 0;
    case WM_COMMAND: OnCommand(window, *v, LOWORD(wParam)); return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

bool ShowGif(const std::string &path) {
  auto v = std::make_unique<Viewer>();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  HandleInput in(file);
  qxgif::Decoder decoder(in);
  if (decoder.Open(v->picture) != qxgif::OpenError::kNone) return false;  // the file stays

  WNDCLASSA wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = ViewerProc;
  wc.hInstance = Instance();
  wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszMenuName = "GifMenu";
  wc.lpszClassName = kViewerClass;
  RegisterClassA(&wc);  // a second registration fails harmlessly

  v->outer.cx = v->picture.width + 2 * GetSystemMetrics(SM_CXDLGFRAME);
  v->outer.cy = v->picture.height + 2 * GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION) +
                GetSystemMetrics(SM_CYMENU);
  const size_t slash = path.find_last_of("\\/");
  const std::string title = slash == std::string::npos ? path : path.substr(slash + 1);
  HWND window = CreateWindowA(kViewerClass, title.c_str(), WS_POPUP | WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              v->outer.cx, v->outer.cy, nullptr, nullptr, Instance(), nullptr);
  if (!window) return false;
  // The client area is the picture's size whatever frame the display draws.
  RECT client{};
  GetClientRect(window, &client);
  v->outer.cx += v->picture.width - (client.right - client.left);
  v->outer.cy += v->picture.height - (client.bottom - client.top);
  SetWindowPos(window, nullptr, 0, 0, v->outer.cx, v->outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  PrintTakeDefaults(window);
  decoder.DecodePixels(v->picture);
  in.Close();
  MakePalette(*v);
  MakeRows(*v);
  v->ready = true;
  v->path = path;  // from here on the viewer owns the file
  Viewer *record = v.release();
  SetPropA(window, kRecordProperty, record);
  Windows().insert(window);
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  return true;
}

void CloseViewers() {
  const std::set<HWND> open = Windows();
  for (HWND w : open) DestroyWindow(w);
}

}  // namespace attachkit
