// Pictures and printing against Debian's gophernicus (127.0.0.1:70 of the
// test's own network namespace): GIF items shown band by band in the
// document list's drawing and printed to the layer's PDF printer, text items
// printed line by line, and hostile GIF files refused without harm.
#include "gophercore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "gifimage.h"
#include "gophernicus_peer.h"
#include "home_server_test.h"
#include "pictures.h"
#include "qx/gdi.h"
#include "qxtest/drawing.h"
#include "qxtest/netns.h"
#include "qxtest/support.h"
#include "recorder.h"
#include "test_media.h"

namespace {

namespace fs = std::filesystem;

// The printer settings in a home of the test's own, set before the layer
// first reads them: the PDF printer on A4, its output in a folder of the test.
struct PrintHome {
  qxtest::TempDir home{"qx-gopher-print"};
  PrintHome() {
    setenv("QX_HOME", home.path().c_str(), 1);
    setenv("CUPS_SERVER", (home.path() + "/no-cups.sock").c_str(), 1);
    fs::create_directories(home.path() + "/pdf");
    qxtest::WriteFile(home.path() + "/printers.ini",
                      "[default]\nPrinter=Print to PDF\nPaper=A4\n[folders]\nPDF=" + home.path() + "/pdf\n");
  }
  std::string Pdf() const { return home.path() + "/pdf"; }
};
const PrintHome g_home;
const qxtest::HeadlessDisplay g_headless;
const auto *g_network = ::testing::AddGlobalTestEnvironment(new qxtest::OwnLoopbackNetwork);

using gophertest::kGifCodeSize;
using gophertest::kGifDescriptor;
using gophertest::PictureColourAt;
using gophertest::TestGif;
constexpr int kW = gophertest::kPictureW, kH = gophertest::kPictureH;

class GifBytes final : public qxgif::ByteOutput {
 public:
  void Write(const uint8_t *data, size_t size) override { bytes.append(reinterpret_cast<const char *>(data), size); }
  std::string bytes;
};

// The recording UI that shows pictures as the program does.
class PictureUi : public gophertest::RecorderUi {
 public:
  bool ShowPicture(const std::string &path, std::string *why) override {
    shownPath = path;
    if (GifLoadFile(path.c_str()) == 0) return true;
    *why = GifLastError();
    return false;
  }
  std::string shownPath;
};

// What the picture looks like on the screen: every band drawn one below the
// other, as the document list's rows are.
qx::gdi::Surface DrawnBands() {
  int w = 0, h = 0;
  GifGetSize(&w, &h);
  qx::test::Canvas canvas(w, GifBandCount() * kDocumentRowHeight);
  for (int band = 0; band < GifBandCount(); ++band)
    GifDrawRows(nullptr, canvas.dc(), band, 0, band * kDocumentRowHeight);
  return canvas.surface();
}

// A layer path ("Z:" and the host path, either slash) on the host.
std::string HostPath(std::string path) {
  for (char &c : path)
    if (c == '\\') c = '/';
  return path.rfind("Z:", 0) == 0 ? path.substr(2) : path;
}

std::string RunTool(const std::string &command) {
  int status = -1;
  std::string out = qxtest::Shell("timeout 60 " + command + " 2>&1", &status);
  return status == 0 ? out : "FAILED(" + std::to_string(status) + "): " + out;
}

class MediaTest : public gophertest::GophernicusHomeTest {
 protected:
  void SetUp() override {
    GophernicusHomeTest::SetUp();
    if (HasFatalFailure()) return;
    SetGopherUi(&pictures);
    for (const auto &e : fs::directory_iterator(g_home.Pdf())) fs::remove(e.path());
    // The document list the text print job reads its rows from.
    window =
        CreateWindowA("STATIC", "burrowview", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
    dialog = CreateWindowA("STATIC", "", WS_CHILD, 0, 0, 300, 200, window, nullptr, nullptr, nullptr);
    list = CreateWindowA("LISTBOX", "", WS_CHILD | LBS_OWNERDRAWFIXED, 0, 0, 300, 200, dialog,
                         reinterpret_cast<HMENU>(204), nullptr, nullptr);
  }
  void TearDown() override {
    GifRelease(0);
    DestroyWindow(window);
    HomeServerTest::TearDown();
  }
  // Retrieves a text item and fills the document list with its rows.
  void ShowText(const std::string &name, const std::string &text) {
    ActivateItem(Served('0', name, text), nullptr);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (long row : pictures.rows) SendMessageA(list, LB_ADDSTRING, 0, row);
  }
  std::vector<std::string> Printed() {
    std::vector<std::string> files;
    for (const auto &e : fs::directory_iterator(g_home.Pdf())) files.push_back(e.path().string());
    return files;
  }
  static int Pages(const std::string &pdf) {
    const std::string info = RunTool("pdfinfo '" + pdf + "'");
    const size_t at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
  }
  // The first page rendered by pdftoppm.
  qx::gdi::Surface Rendered(const std::string &pdf) {
    const std::string stem = scratch.path() + "/page";
    EXPECT_EQ(RunTool("pdftoppm -png -r 30 -f 1 -l 1 -singlefile '" + pdf + "' '" + stem + "'"), "");
    qx::gdi::Surface s;
    EXPECT_TRUE(qx::gdi::ReadPng(stem + ".png", s));
    return s;
  }
  static std::string Golden() { return qxtest::SourceDir() + "/gopher/client/tests/golden"; }

  PictureUi pictures;
  HWND window = nullptr, dialog = nullptr, list = nullptr;
};

// Sequential and interlaced: the same picture, each band in its place, in
// the picture's own colours.
TEST_F(MediaTest, GifItemsShownInDisplayOrder) {
  for (bool interlaced : {false, true}) {
    SCOPED_TRACE(interlaced ? "interlaced" : "sequential");
    GopherItem *item = Served('g', interlaced ? "laced.gif" : "plain.gif", TestGif(interlaced));
    ActivateItem(item, nullptr);
    ASSERT_TRUE(GifLoaded()) << pictures.BoxTexts();
    EXPECT_EQ(GifPath(), pictures.shownPath);
    EXPECT_EQ(GifBandCount(), (kH + kDocumentRowHeight - 1) / kDocumentRowHeight);
    const qx::gdi::Surface drawn = DrawnBands();
    int wrong = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x)
        if (drawn.Get(x, y) != PictureColourAt(x, y) && ++wrong < 5)
          ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << drawn.Get(x, y);
    EXPECT_EQ(wrong, 0);
    // Below the picture's last line the band stays as the list painted it.
    EXPECT_EQ(drawn.Get(5, kH + 2), 0xFFFFFFu);
    EXPECT_TRUE(pictures.boxes.empty()) << pictures.BoxTexts();
  }
  // Released without being kept, the picture's file goes.
  const std::string shown = GifPath();
  GifRelease(0);
  EXPECT_FALSE(GifLoaded());
  EXPECT_FALSE(fs::exists(HostPath(shown))) << shown;
}

TEST_F(MediaTest, PictureKeptWhenAskedAndPrintedAcrossThePage) {
  ActivateItem(Served('g', "print.gif", TestGif(false)), nullptr);
  ASSERT_TRUE(GifLoaded()) << pictures.BoxTexts();
  const std::string path = GifPath();
  GifRelease(1);  // saved under its own name: the file stays
  EXPECT_TRUE(fs::exists(HostPath(path)));
  ASSERT_EQ(GifLoadFile(path.c_str()), 0);

  GifPrint(window);
  const std::vector<std::string> files = Printed();
  ASSERT_EQ(files.size(), 1u) << pictures.BoxTexts();
  EXPECT_EQ(fs::path(files[0]).filename(), "Gopher-Gif.pdf");
  EXPECT_EQ(Pages(files[0]), 1);
  EXPECT_EQ(qx::test::CompareGoldenIn(Rendered(files[0]), Golden(), "printed-picture"), "");
  EXPECT_TRUE(IsWindowEnabled(window));
  EXPECT_TRUE(pictures.boxes.empty()) << pictures.BoxTexts();
}

// A page's worth of lines prints one page; one line more, two. The page's
// length is found from a long document, as the reader of the paper sees it.
TEST_F(MediaTest, TextPrintedLineByLineWithLazyNewPage) {
  auto lines = [](int n) {
    std::string text;
    for (int i = 1; i <= n; ++i) text += "Line " + std::to_string(i) + "\tof the gopher document\r\n";
    return text;
  };
  ShowText("long.txt", lines(150));
  PrintDocument(dialog, 204);
  ASSERT_EQ(Printed().size(), 1u) << pictures.BoxTexts();
  const std::string text = RunTool("pdftotext -layout '" + Printed()[0] + "' -");
  const size_t pageEnd = text.find('\f');
  ASSERT_NE(pageEnd, std::string::npos) << text;
  int perPage = 0;
  for (size_t at = text.find("Line "); at < pageEnd; at = text.find("Line ", at + 1)) ++perPage;
  EXPECT_GT(perPage, 40);
  EXPECT_NE(text.find("Line 150"), std::string::npos);
  EXPECT_EQ(Pages(Printed()[0]), (150 + perPage - 1) / perPage);
  EXPECT_EQ(qx::test::CompareGoldenIn(Rendered(Printed()[0]), Golden(), "printed-text"), "");

  for (int n : {perPage, perPage + 1}) {
    SCOPED_TRACE(n);
    for (const std::string &f : Printed()) fs::remove(f);
    ShowText("page.txt", lines(n));
    ASSERT_EQ(pictures.rows.size(), static_cast<size_t>(n));
    PrintDocument(dialog, 204);
    ASSERT_EQ(Printed().size(), 1u);
    EXPECT_EQ(fs::path(Printed()[0]).filename(), "Gopher Message.pdf");
    EXPECT_EQ(Pages(Printed()[0]), n == perPage ? 1 : 2);
  }
}

// Cancel in the progress dialog while a tall picture prints: the job stops,
// nothing reaches the printer, no box, and the owner is usable again.
void CALLBACK PressCancel(HWND, UINT, UINT_PTR timer, DWORD) {
  if (HWND progress = FindWindowA(nullptr, "Gif Print")) {
    KillTimer(nullptr, timer);
    SendMessageA(progress, WM_COMMAND, IDCANCEL, 0);
  }
}

TEST_F(MediaTest, CancelStopsThePictureJob) {
  qxgif::Bitmap b;
  b.width = 64;
  b.height = 16000;
  b.colours = 2;
  b.red[1] = 255;
  b.pixels.resize(size_t{b.width} * b.height);
  for (size_t i = 0; i < b.pixels.size(); ++i) b.pixels[i] = static_cast<uint8_t>((i / 7) & 1);
  GifBytes out;
  qxgif::EncodeGif(b, out);
  ActivateItem(Served('g', "tall.gif", out.bytes), nullptr);
  ASSERT_TRUE(GifLoaded()) << pictures.BoxTexts();
  const UINT_PTR timer = SetTimer(nullptr, 0, 10, PressCancel);
  GifPrint(window);
  KillTimer(nullptr, timer);
  EXPECT_TRUE(Printed().empty());
  EXPECT_TRUE(pictures.boxes.empty()) << pictures.BoxTexts();
  EXPECT_TRUE(IsWindowEnabled(window));
  EXPECT_EQ(FindWindowA(nullptr, "Gif Print"), nullptr);
}

// A printer that cannot take the document: the person is told, in the
// printing error box, and the owner window is usable again.
TEST_F(MediaTest, PrinterThatFailsIsTold) {
  ShowText("short.txt", "one line\r\n");
  fs::remove_all(g_home.Pdf());
  ASSERT_TRUE(qxtest::WriteFile(g_home.Pdf(), "a file where the printer's folder should be"));
  PrintDocument(dialog, 204);
  fs::remove(g_home.Pdf());
  fs::create_directories(g_home.Pdf());
  ASSERT_EQ(pictures.boxes.size(), 1u) << pictures.BoxTexts();
  EXPECT_EQ(pictures.boxes[0].caption, "Printing Error");
  EXPECT_NE(pictures.boxes[0].text.find("Print Setup"), std::string::npos) << pictures.boxes[0].text;
  EXPECT_TRUE(IsWindowEnabled(window));
}

// Hostile pictures: refused with the reason, or (cut in the pixel data)
// shown as far as they go; never a crash or an allocation of their size.
TEST_F(MediaTest, HostileGifsRefusedWithoutHarm) {
  const std::string good = TestGif(false);
  auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
    std::string g = good;
    for (uint8_t b : bytes) g[at++] = static_cast<char>(b);
    return g;
  };
  struct Case {
    const char *name;
    std::string bytes;
    const char *refusal;  // null: shown
  } cases[] = {
      {"huge", patched(kGifDescriptor + 5, {0xFF, 0xFF, 0xFF, 0xFF}), "larger than"},
      {"wide", patched(kGifDescriptor + 5, {0x00, 0x80, 0x02, 0x00}), "larger than"},
      {"too many pixels", patched(kGifDescriptor + 5, {0xFF, 0x7F, 0xFF, 0x7F}), "larger than"},
      {"code size 1", patched(kGifCodeSize, {1}), "code size"},
      {"code size 12", patched(kGifCodeSize, {12}), "code size"},
      {"no pixels", patched(kGifDescriptor + 5, {0, 0}), "no pixels"},
      {"not a gif", "<html>not a picture</html>", "not a GIF"},
      {"cut in the colour table", good.substr(0, 400), "ends inside"},
      {"cut before the image", good.substr(0, kGifDescriptor), "holds no picture"},
      {"cut in the descriptor", good.substr(0, kGifDescriptor + 5), "ends inside"},
      {"cut in the pixel data", good.substr(0, kGifCodeSize + 1 + (good.size() - kGifCodeSize) / 2), nullptr},
      {"empty", "", "not a GIF"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    pictures.boxes.clear();
    pictures.savePath.clear();
    ActivateItem(Served('g', "hostile.gif", c.bytes), nullptr);
    if (!c.refusal) {
      ASSERT_TRUE(GifLoaded()) << pictures.BoxTexts();
      EXPECT_EQ(DrawnBands().Get(1, 1), PictureColourAt(1, 1));  // the rows that arrived
      continue;
    }
    EXPECT_FALSE(GifLoaded());
    ASSERT_EQ(pictures.boxes.size(), 1u) << pictures.BoxTexts();
    EXPECT_NE(pictures.boxes[0].text.find(c.refusal), std::string::npos) << pictures.boxes[0].text;
    EXPECT_NE(pictures.boxes[0].text.find("Choose a file name to keep it"), std::string::npos);
  }
}

}  // namespace
