// Drawing speed where the programs need it: the terminal paints rows of 80
// cells in a fixed-cell font and scrolls its window; the tool bar and message
// list draw small bitmaps transparently through 0x00E20746.
#include <benchmark/benchmark.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
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

// A list measuring every row it is filled with for its horizontal extent
// (the gopher client's tree of a 20,000-item menu): one text extent a row.
void BM_MeasureListRow(benchmark::State &state) {
  Canvas c(16, 16);
  char text[64];
  int i = 0;
  long widest = 0;
  for (auto _ : state) {
    const int n = snprintf(text, sizeof text, "Item %d of the big menu", i++ % 20000);
    SIZE size{};
    GetTextExtentPoint32A(c.dc, text, n, &size);
    widest = std::max(widest, static_cast<long>(size.cx));
  }
  benchmark::DoNotOptimize(widest);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MeasureListRow);

// An owner-drawn list filled with rows of item pointers and emptied again (a
// WM_DELETEITEM to the parent for each row), as the gopher client's tree is
// for a menu of N items.
void BM_OwnerDrawListFillAndEmpty(benchmark::State &state) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "BenchListParent";
  RegisterClassA(&wc);
  HWND parent = CreateWindowA("BenchListParent", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                              nullptr, nullptr);
  HWND list = CreateWindowA("ListBox", "", LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT | WS_CHILD | WS_VSCROLL, 0, 0, 300,
                            200, parent, reinterpret_cast<HMENU>(203), nullptr, nullptr);
  const int rows = static_cast<int>(state.range(0));
  for (auto _ : state) {
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    for (int i = 0; i < rows; ++i) SendMessageA(list, LB_ADDSTRING, 0, static_cast<LPARAM>(i + 1));
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  }
  state.SetItemsProcessed(state.iterations() * rows);
  DestroyWindow(parent);
}
BENCHMARK(BM_OwnerDrawListFillAndEmpty)->Arg(20000);

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
