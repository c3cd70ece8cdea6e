// Printer device contexts: a test page (text in two fonts, lines, a filled
// rectangle, an 8-bit DIB) printed to the PDF printer comes out as the same
// pixels the screen code draws, and as the golden picture; the page count and
// paper size are pdfinfo's; the document calls, escapes and abort paths leave
// exactly the jobs they should.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "print_test_env.h"

using namespace qxtest;

namespace {

const PrintTree &g_tree = TheTree();

constexpr int kDpi = 100;  // Letter at 100 dpi: 850 x 1100 pixels

DEVMODEA DevMode(short paper = DMPAPER_LETTER, short orientation = DMORIENT_PORTRAIT, short dpi = kDpi) {
  DEVMODEA dm{};
  dm.dmSize = sizeof dm;
  dm.dmFields = DM_PAPERSIZE | DM_ORIENTATION | DM_PRINTQUALITY | DM_COPIES;
  dm.dmPaperSize = paper;
  dm.dmOrientation = orientation;
  dm.dmPrintQuality = dpi;
  dm.dmCopies = 1;
  return dm;
}

// Font sizes from the printer's resolution, so a memory DC draws the same page.
void DrawTestPage(HDC dc, int dpi = kDpi) {
  HFONT serif = CreateFontA(-(24 * dpi / 72), 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Times New Roman");
  HFONT mono = CreateFontA(-(12 * dpi / 72), 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, 0, "Courier New");
  HGDIOBJ old_font = SelectObject(dc, serif);
  SetBkMode(dc, TRANSPARENT);
  TextOutA(dc, 60, 50, "Printed Page", 12);
  SelectObject(dc, mono);
  TextOutA(dc, 60, 110, "Courier text, 12 point.", 23);
  // Lines: a frame and a diagonal in a 3-pixel blue pen.
  HPEN pen = CreatePen(PS_SOLID, 3, RGB(0, 0, 200));
  HGDIOBJ old_pen = SelectObject(dc, pen);
  MoveToEx(dc, 50, 160, nullptr);
  LineTo(dc, 800, 160);
  LineTo(dc, 800, 600);
  LineTo(dc, 50, 160);
  // A filled rectangle.
  HBRUSH red = CreateSolidBrush(RGB(220, 30, 30));
  RECT box{100, 650, 400, 800};
  FillRect(dc, &box, red);
  // An 8-bit DIB: 64 x 32, four colour bands, stretched four times.
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD colors[4];
  } bmi{};
  bmi.h.biSize = sizeof bmi.h;
  bmi.h.biWidth = 64;
  bmi.h.biHeight = 32;
  bmi.h.biPlanes = 1;
  bmi.h.biBitCount = 8;
  bmi.h.biCompression = BI_RGB;
  bmi.h.biClrUsed = 4;
  const RGBQUAD colors[4] = {{0, 0, 0, 0}, {0, 180, 0, 0}, {200, 0, 0, 0}, {0, 200, 230, 0}};
  std::memcpy(bmi.colors, colors, sizeof colors);
  std::vector<BYTE> bits(64 * 32);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 64; ++x) bits[static_cast<size_t>(y) * 64 + x] = static_cast<BYTE>((x / 16 + y / 8) % 4);
  StretchDIBits(dc, 450, 650, 256, 128, 0, 0, 64, 32, bits.data(), reinterpret_cast<BITMAPINFO *>(&bmi), DIB_RGB_COLORS,
                SRCCOPY);
  SelectObject(dc, old_pen);
  SelectObject(dc, old_font);
  DeleteObject(pen);
  DeleteObject(red);
  DeleteObject(serif);
  DeleteObject(mono);
}

class PrinterDC : public ::testing::Test {
 protected:
  void SetUp() override {
    g_tree.WriteSettings("");
    for (const std::string &dir : {g_tree.Pdf(), g_tree.Files()}) fs::remove_all(dir);
  }
  static int SpoolFiles() { return static_cast<int>(FilesIn(g_tree.SpoolDir(), ".SPL").size()); }
  static HDC PdfDC(const DEVMODEA &dm) { return CreateDCA(nullptr, "Print to PDF", nullptr, &dm); }
};

TEST_F(PrinterDC, DeviceCapsFollowTheDevMode) {
  struct Case {
    short paper, orientation, dpi;
    int width, height;
  } cases[] = {
      {DMPAPER_LETTER, DMORIENT_PORTRAIT, 100, 850, 1100},
      {DMPAPER_A4, DMORIENT_LANDSCAPE, 300, 3507, 2480},
      {DMPAPER_LEGAL, DMORIENT_PORTRAIT, 5000, 5100, 8400},  // resolution held to 600
  };
  for (const Case &c : cases) {
    const DEVMODEA dm = DevMode(c.paper, c.orientation, c.dpi);
    HDC dc = PdfDC(dm);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, TECHNOLOGY), DT_RASPRINTER);
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), c.width);
    EXPECT_EQ(GetDeviceCaps(dc, VERTRES), c.height);
    EXPECT_EQ(GetDeviceCaps(dc, PHYSICALWIDTH), c.width);
    EXPECT_EQ(GetDeviceCaps(dc, PHYSICALOFFSETX), 0);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), std::min<int>(c.dpi, 600));
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), std::min<int>(c.dpi, 600));
    EXPECT_EQ(GetObjectType(dc), static_cast<DWORD>(OBJ_DC));
    // A bitmap cannot be selected into a printer DC.
    HBITMAP bm = CreateBitmap(8, 8, 1, 32, nullptr);
    EXPECT_EQ(SelectObject(dc, bm), nullptr);
    DeleteObject(bm);
    DeleteDC(dc);
  }
  // Without a DEVMODE: Letter, portrait, 300 dpi. An unknown printer is refused.
  HDC dc = CreateDCA("qxpdf", "Print to PDF", "PDF:", nullptr);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 2550);
  EXPECT_EQ(GetDeviceCaps(dc, VERTSIZE), 279);
  DeleteDC(dc);
  // The printer's own paper when the program names none.
  g_tree.WriteSettings("[default]\nPaper=A4\n");
  dc = CreateDCA(nullptr, "Print to PDF", nullptr, nullptr);
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 2480);
  DeleteDC(dc);
  EXPECT_EQ(CreateDCA("WINSPOOL", "No Such Printer", nullptr, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
  EXPECT_EQ(CreateDCA(nullptr, "../../etc/x", nullptr, nullptr), nullptr);
}

TEST_F(PrinterDC, TestPageMatchesTheScreenCodeAndTheGolden) {
  const DEVMODEA dm = DevMode();
  HDC dc = PdfDC(dm);
  ASSERT_NE(dc, nullptr);
  DOCINFOA di{sizeof di, "Test Page", nullptr, nullptr, 0};
  ASSERT_GT(StartDocA(dc, &di), 0);
  ASSERT_GT(StartPage(dc), 0);
  DrawTestPage(dc);
  ASSERT_GT(EndPage(dc), 0);
  ASSERT_GT(EndDoc(dc), 0);
  DeleteDC(dc);
  EXPECT_EQ(SpoolFiles(), 0);

  const auto out = FilesIn(g_tree.Pdf(), ".pdf");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(fs::path(out[0]).filename(), "Test Page.pdf");
  EXPECT_EQ(PdfInfo(out[0], "Pages:"), "1");
  EXPECT_EQ(PdfInfo(out[0], "Page size:"), "612 x 792 pts (letter)");
  EXPECT_EQ(PdfInfo(out[0], "Title:"), "Test Page");
  // The text is in the document as text (beneath the page's pixels): it can be searched.
  const std::string text = PdfText(out[0]);
  EXPECT_NE(text.find("Printed Page"), std::string::npos) << text;
  EXPECT_NE(text.find("Courier text, 12 point."), std::string::npos) << text;
  const std::string png = RenderPage(out[0], kDpi);
  std::vector<uint32_t> printed, golden;
  int w = 0, h = 0, gw = 0, gh = 0;
  ASSERT_TRUE(LoadPng(png, printed, w, h));
  ASSERT_EQ(w, 850);
  ASSERT_EQ(h, 1100);

  // The same drawing on a memory DC of the page's size.
  HDC mem = CreateCompatibleDC(nullptr);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 850, -1100, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void *bits = nullptr;
  HBITMAP dib = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, dib);
  RECT all{0, 0, 850, 1100};
  FillRect(mem, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  DrawTestPage(mem);
  std::vector<uint32_t> screen(static_cast<uint32_t *>(bits), static_cast<uint32_t *>(bits) + 850 * 1100);
  for (uint32_t &p : screen) p &= 0xFFFFFF;
  // Edges may be resampled by a fraction of a pixel on the way through the PDF.
  EXPECT_LT(NeighbourhoodMismatch(printed, screen, 850, 1100), 0.0002);
  SelectObject(mem, old);
  DeleteObject(dib);
  DeleteDC(mem);

  const std::string golden_path =
      std::string(getenv("QX_TEST_SOURCE_DIR")) + "/platform/print/tests/golden/testpage.png";
  if (getenv("QX_UPDATE_GOLDEN")) fs::copy_file(png, golden_path, fs::copy_options::overwrite_existing);
  ASSERT_TRUE(LoadPng(golden_path, golden, gw, gh)) << golden_path;
  ASSERT_EQ(gw, w);
  ASSERT_EQ(gh, h);
  EXPECT_LT(Difference(printed, golden), 0.002);
  // Sampled points of the golden's content are where they should be.
  const auto at = [&](int x, int y) { return printed[static_cast<size_t>(y) * w + x]; };
  EXPECT_EQ(at(250, 725), 0xDC1E1Eu);  // the filled rectangle
  EXPECT_EQ(at(460, 770), 0x000000u);  // the DIB's first band (bottom-up rows)
  EXPECT_EQ(at(425, 160), 0x0000C8u);  // the top line
  EXPECT_EQ(at(20, 20), 0xFFFFFFu);
}

TEST_F(PrinterDC, EscapesPrintPagesAndTheOutputFile) {
  const DEVMODEA dm = DevMode();
  HDC dc = PdfDC(dm);
  ASSERT_NE(dc, nullptr);
  int query = NEWFRAME;
  EXPECT_EQ(Escape(dc, QUERYESCSUPPORT, sizeof query, reinterpret_cast<LPCSTR>(&query), nullptr), 1);
  query = 9999;
  EXPECT_EQ(Escape(dc, QUERYESCSUPPORT, sizeof query, reinterpret_cast<LPCSTR>(&query), nullptr), 0);
  const char title[] = "R\xE9sum\xE9\r\n\x80 5";  // Windows-1252, with a line break
  ASSERT_GT(Escape(dc, STARTDOC, sizeof title, title, nullptr), 0);
  RECT bounds{150, 300, 2400, 1350};
  EXPECT_EQ(Escape(dc, SET_BOUNDS, sizeof bounds, reinterpret_cast<LPCSTR>(&bounds), nullptr), 1);
  POINT size{};
  EXPECT_EQ(Escape(dc, GETPHYSPAGESIZE, 0, nullptr, &size), 1);
  EXPECT_EQ(size.x, 850);
  for (int page = 1; page <= 3; ++page) {  // no StartPage: the old way
    const std::string text = "Page " + std::to_string(page);
    TextOutA(dc, 300, 300, text.c_str(), static_cast<int>(text.size()));
    EXPECT_GT(Escape(dc, NEWFRAME, 0, nullptr, nullptr), 0);
  }
  // Banding as older drivers did it: one band, the whole page, then an empty one ends the page.
  RECT band{};
  EXPECT_EQ(Escape(dc, NEXTBAND, 0, nullptr, &band), 1);
  EXPECT_EQ(band.right, 850);
  EXPECT_EQ(band.bottom, 1100);
  TextOutA(dc, 300, 300, "Page 4", 6);
  EXPECT_GT(Escape(dc, NEXTBAND, 0, nullptr, &band), 0);
  EXPECT_TRUE(IsRectEmpty(&band));
  TextOutA(dc, 300, 300, "Page 5", 6);
  EXPECT_GT(Escape(dc, ENDDOC, 0, nullptr, nullptr), 0);  // the drawn, unended page is the last
  const auto out = FilesIn(g_tree.Pdf(), ".pdf");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(PdfInfo(out[0], "Pages:"), "5");
  const std::string text = PdfText(out[0]);
  for (int page = 1; page <= 5; ++page) EXPECT_NE(text.find("Page " + std::to_string(page)), std::string::npos) << text;
  EXPECT_EQ(PdfInfo(out[0], "Title:"), "R\xC3\xA9sum\xC3\xA9  \xE2\x82\xAC 5");
  EXPECT_EQ(fs::path(out[0]).filename(), "R_sum_  _ 5.pdf");  // no line break, no byte outside ASCII

  // DOCINFO's output file takes the document: PostScript by its name.
  const std::string ps = g_tree.root + "/out.ps";
  const std::string ps_windows = "Z:" + ps;
  DOCINFOA di{sizeof di, "To a file", ps_windows.c_str(), nullptr, 0};
  ASSERT_GT(StartDocA(dc, &di), 0);
  StartPage(dc);
  TextOutA(dc, 300, 300, "PostScript", 10);
  EndPage(dc);
  ASSERT_GT(EndDoc(dc), 0);
  EXPECT_EQ(ReadFile(ps).substr(0, 4), "%!PS");
  EXPECT_EQ(FilesIn(g_tree.Pdf(), ".pdf").size(), 1u);
  EXPECT_EQ(SpoolFiles(), 0);
  DeleteDC(dc);

  // The document calls on a DC that is no printer's.
  HDC mem = CreateCompatibleDC(nullptr);
  EXPECT_EQ(StartDocA(mem, &di), SP_ERROR);
  EXPECT_EQ(Escape(mem, NEWFRAME, 0, nullptr, nullptr), 0);
  DeleteDC(mem);
}

int g_abort_calls = 0;
BOOL CALLBACK CancelSecondCall(HDC, int) { return ++g_abort_calls < 2; }

TEST_F(PrinterDC, AbortedDocumentsLeaveNoJob) {
  const DEVMODEA dm = DevMode();
  DOCINFOA di{sizeof di, "Aborted", nullptr, nullptr, 0};
  // AbortDoc.
  HDC dc = PdfDC(dm);
  ASSERT_GT(StartDocA(dc, &di), 0);
  StartPage(dc);
  DrawTestPage(dc);
  EXPECT_EQ(SpoolFiles(), 1);
  EXPECT_GT(AbortDoc(dc), 0);
  EXPECT_EQ(SpoolFiles(), 0);
  EXPECT_LT(EndDoc(dc), 0);
  // An abort procedure answering FALSE: the page and the job end there.
  g_abort_calls = 0;
  ASSERT_GT(SetAbortProc(dc, CancelSecondCall), 0);
  ASSERT_GT(StartDocA(dc, &di), 0);
  EXPECT_GT(StartPage(dc), 0);
  DrawTestPage(dc);
  EXPECT_EQ(EndPage(dc), SP_APPABORT);
  EXPECT_EQ(SpoolFiles(), 0);
  EXPECT_EQ(EndDoc(dc), SP_APPABORT);
  AbortDoc(dc);
  // Deleting the DC in the middle of a document.
  SetAbortProc(dc, nullptr);
  ASSERT_GT(StartDocA(dc, &di), 0);
  EXPECT_EQ(SpoolFiles(), 1);
  DeleteDC(dc);
  EXPECT_EQ(SpoolFiles(), 0);
  // An information context answers questions but prints nothing.
  HDC ic = CreateICA(nullptr, "Print to PDF", nullptr, &dm);
  ASSERT_NE(ic, nullptr);
  EXPECT_EQ(GetDeviceCaps(ic, HORZRES), 850);
  EXPECT_EQ(StartDocA(ic, &di), SP_ERROR);
  DeleteDC(ic);
  EXPECT_TRUE(FilesIn(g_tree.Pdf()).empty());
}

TEST_F(PrinterDC, PrintDialogReturnsTheDefaultPrinterDC) {
  PRINTDLGA pd{};
  pd.lStructSize = 66;  // the record's size in a 32-bit program
  pd.Flags = PD_RETURNDEFAULT | PD_RETURNDC;
  ASSERT_TRUE(PrintDlgA(&pd));
  ASSERT_NE(pd.hDC, nullptr);
  const auto *dn = static_cast<const char *>(GlobalLock(pd.hDevNames));
  DEVNAMES names;
  std::memcpy(&names, dn, sizeof names);
  EXPECT_STREQ(dn + names.wDeviceOffset, "Print to PDF");
  EXPECT_STREQ(dn + names.wOutputOffset, "PDF:");
  GlobalUnlock(pd.hDevNames);
  DOCINFOA di{sizeof di, "From the dialog", nullptr, nullptr, 0};
  ASSERT_GT(StartDocA(pd.hDC, &di), 0);
  StartPage(pd.hDC);
  TextOutA(pd.hDC, 300, 300, "dialog", 6);
  EndPage(pd.hDC);
  ASSERT_GT(EndDoc(pd.hDC), 0);
  DeleteDC(pd.hDC);
  GlobalFree(pd.hDevMode);
  GlobalFree(pd.hDevNames);
  EXPECT_EQ(FilesIn(g_tree.Pdf(), ".pdf").size(), 1u);
}

}  // namespace
