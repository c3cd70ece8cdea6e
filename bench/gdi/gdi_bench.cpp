// Drawing speed where the programs need it: the terminal paints rows of 80
// cells in a fixed-cell font and scrolls its window; the tool bar and message
// list draw small bitmaps transparently through 0x00E20746.
#include <benchmark/benchmark.h>
#include <windows.h>

#include <cstring>

namespace {

struct Canvas {
  HDC dc;
  HBITMAP bm;
  Canvas(int w, int h) : dc(CreateCompatibleDC(nullptr)), bm(CreateBitmap(w, h, 1, 32, nullptr)) {
    SelectObject(dc, bm);
  }
  ~Canvas() {
    DeleteDC(dc);
    DeleteObject(bm);
  }
};

void BM_TerminalRow(benchmark::State &state) {
  AddFontResourceA("QXFONT.FON");
  Canvas c(8 * 132, 14 * 30);
  HFONT f = CreateFontA(0, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, FIXED_PITCH | FF_MODERN, "DEC-8x14");
  SelectObject(c.dc, f);
  SetBkMode(c.dc, OPAQUE);
  const int cols = static_cast<int>(state.range(0));
  char row[133];
  for (int i = 0; i < 132; ++i) row[i] = static_cast<char>('A' + i % 26);
  int y = 0;
  for (auto _ : state) {
    TextOutA(c.dc, 0, y, row, cols);
    y = (y + 14) % (14 * 29);
  }
  state.SetItemsProcessed(state.iterations() * cols);
  SelectObject(c.dc, GetStockObject(SYSTEM_FONT));
  DeleteObject(f);
}
BENCHMARK(BM_TerminalRow)->Arg(80)->Arg(132);

void BM_TransparentBlit32(benchmark::State &state) {
  Canvas dst(64, 64), img(32, 32);
  HDC mask_dc = CreateCompatibleDC(nullptr);
  HBITMAP mask = CreateBitmap(32, 32, 1, 1, nullptr);
  SelectObject(mask_dc, mask);
  HBRUSH brush = CreateSolidBrush(RGB(0, 128, 0));
  SelectObject(img.dc, brush);
  for (auto _ : state) {
    BitBlt(img.dc, 0, 0, 32, 32, mask_dc, 0, 0, 0x00E20746);
    BitBlt(dst.dc, 16, 16, 32, 32, img.dc, 0, 0, SRCCOPY);
  }
  state.SetItemsProcessed(state.iterations());
  SelectObject(img.dc, GetStockObject(WHITE_BRUSH));
  DeleteObject(brush);
  DeleteDC(mask_dc);
  DeleteObject(mask);
}
BENCHMARK(BM_TransparentBlit32);

void BM_ScrollTerminalWindow(benchmark::State &state) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "BenchScroll";
  RegisterClassA(&wc);
  HWND h = CreateWindowA("BenchScroll", "bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 8 * 80 + 8, 14 * 25 + 27,
                         nullptr, nullptr, nullptr, nullptr);
  for (auto _ : state) {
    ScrollWindow(h, 0, -14, nullptr, nullptr);
    ValidateRect(h, nullptr);
  }
  state.SetItemsProcessed(state.iterations());
  DestroyWindow(h);
}
BENCHMARK(BM_ScrollTerminalWindow);

}  // namespace
