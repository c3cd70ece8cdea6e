// The GIF viewer as a received picture opens it: a window whose client area
// shows the picture's pixels (as giftopnm reads them) through its palette,
// that cannot grow beyond the picture, saves it as GIF and BMP through the
// save dialog, prints it to the PDF printer (the page rendered by pdftoppm
// holds the picture where it belongs), and deletes its file when it closes.
#include "harness.h"

#include <algorithm>
#include <cstdio>

#include "codec.h"

using namespace akt;

namespace {

std::string B64(const std::string &data) {
  struct Sink : attachkit::ByteSink {
    bool Write(const uint8_t *d, size_t n) override {
      s.append(reinterpret_cast<const char *>(d), n);
      return true;
    }
    std::string s;
  } sink;
  attachkit::Base64LineWriter w(sink);
  w.Write(reinterpret_cast<const uint8_t *>(data.data()), data.size());
  w.Finish();
  return sink.s;
}

struct Raster {
  unsigned w = 0, h = 0;
  std::string rgb;
  uint32_t At(unsigned x, unsigned y) const {
    const size_t i = (size_t{y} * w + x) * 3;
    return (uint8_t(rgb[i]) << 16) | (uint8_t(rgb[i + 1]) << 8) | uint8_t(rgb[i + 2]);
  }
};

// A binary PPM (P6, maxval 255).
Raster ReadPpm(const std::string &path) {
  const std::string bytes = ReadFile(path);
  Raster r;
  unsigned maxval = 0;
  int used = 0;
  if (std::sscanf(bytes.c_str(), "P6 %u %u %u%n", &r.w, &r.h, &maxval, &used) != 3) return r;
  r.rgb = bytes.substr(static_cast<size_t>(used) + 1);
  return r;
}

bool Near(uint32_t a, uint32_t b, int tolerance) {
  for (int shift : {0, 8, 16})
    if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance) return false;
  return true;
}

constexpr unsigned kWidth = 320, kHeight = 200, kBlock = 16;

// 320 by 200 in blocks of 16 pixels, each block one of 256 colours.
std::string MakeGif() {
  std::string ppm = "P6\n320 200\n255\n";
  for (unsigned y = 0; y < kHeight; ++y)
    for (unsigned x = 0; x < kWidth; ++x) {
      const unsigned c = ((y / kBlock) * (kWidth / kBlock) + x / kBlock) % 256;
      ppm += static_cast<char>(c);
      ppm += static_cast<char>((c * 37) & 0xFF);
      ppm += static_cast<char>(255 - c);
    }
  WriteFile(TheMachine().root + "/in.ppm", ppm);
  EXPECT_EQ(RunCommand("pamtogif " + TheMachine().root + "/in.ppm > " + TheMachine().root +
                       "/in.gif 2>/dev/null && giftopnm " + TheMachine().root + "/in.gif | ppmtoppm > " +
                       TheMachine().root + "/expected.ppm"),
            0)
      << "netpbm is needed";
  return ReadFile(TheMachine().root + "/in.gif");
}

HWND OpenViewer(const std::string &gif) {
  const std::string message =
      "From: a@example.org\r\nSubject: picture\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"XyZ\"\r\n\r\n--XyZ\r\n"
      "Content-Type: image/gif\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
      B64(gif) + "\r\n--XyZ--\r\n";
  const Message m = WriteMessage(TheMachine().root + "/picture.msg", message, "XyZ");
  EXPECT_EQ(Process(m, 0, MIME_MODE_SHOW), MIME_HANDLED);
  return FindWindowA("QXGifViewer", nullptr);
}

class Viewer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_NE(Attachkit().module, nullptr) << "attachkit.DLL not loaded";
    fs::create_directories(TheMachine().root + "/pdf");
    WriteFile(TheMachine().root + "/home/printers.ini",
              "[default]\nPrinter=Print to PDF\nPaper=A4\n[folders]\nPDF=" + TheMachine().root + "/pdf\n");
  }
};

TEST_F(Viewer, ShowsSavesPrintsAndClosesAPicture) {
  const std::string gif = MakeGif();
  HWND window = OpenViewer(gif);
  ASSERT_NE(window, nullptr) << "no viewer window";
  const std::string file = TheMachine().mail() + "/QXIMG000.gif";
  EXPECT_TRUE(fs::exists(file));
  char title[64] = {};
  GetWindowTextA(window, title, sizeof title);
  EXPECT_STREQ(title, "QXIMG000.gif");

  // The client area is the picture, pixel for pixel.
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right - client.left, static_cast<LONG>(kWidth));
  EXPECT_EQ(client.bottom - client.top, static_cast<LONG>(kHeight));
  const Raster expected = ReadPpm(TheMachine().root + "/expected.ppm");
  ASSERT_EQ(expected.w, kWidth);
  HDC dc = GetDC(window);
  int wrong = 0;
  for (unsigned y = 0; y < kHeight; y += 3)
    for (unsigned x = 0; x < kWidth; x += 3) {
      const COLORREF c = GetPixel(dc, static_cast<int>(x), static_cast<int>(y));
      const uint32_t rgb = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
      if (rgb != expected.At(x, y)) ++wrong;
    }
  ReleaseDC(window, dc);
  EXPECT_EQ(wrong, 0) << "pixels differ from giftopnm's";

  // Maximised, it stays the picture's size.
  RECT before{};
  GetWindowRect(window, &before);
  MINMAXINFO info{};
  SendMessageA(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMaxTrackSize.x, before.right - before.left);
  EXPECT_EQ(info.ptMaxTrackSize.y, before.bottom - before.top);
  ShowWindow(window, SW_MAXIMIZE);
  RECT zoomed{};
  GetWindowRect(window, &zoomed);
  EXPECT_LE(zoomed.right - zoomed.left, before.right - before.left);
  EXPECT_LE(zoomed.bottom - zoomed.top, before.bottom - before.top);
  ShowWindow(window, SW_RESTORE);

  // Save as GIF copies the file; a command while its dialog is open does
  // nothing (Exit would close the window).
  const std::string savedGif = TheMachine().root + "/saved.gif";
  Person saveGif;
  saveGif.Then("Save Image", [&](HWND d) {
    SendMessageA(window, WM_COMMAND, 1, 0);
    EXPECT_TRUE(IsWindow(window)) << "Exit while a save dialog is open";
    SaveAs(savedGif)(d);
  });
  WithPerson(saveGif, [&] { SendMessageA(window, WM_COMMAND, 2, 0); });
  EXPECT_EQ(ReadFile(savedGif), gif);

  const std::string savedBmp = TheMachine().root + "/saved.bmp";
  Person saveBmp;
  saveBmp.Then("Save Image", SaveAs(savedBmp));
  WithPerson(saveBmp, [&] { SendMessageA(window, WM_COMMAND, 5, 0); });
  ASSERT_EQ(RunCommand("bmptopnm " + savedBmp + " 2>/dev/null | ppmtoppm > " + TheMachine().root + "/bmp.ppm"), 0);
  EXPECT_TRUE(ReadFile(TheMachine().root + "/bmp.ppm") == ReadFile(TheMachine().root + "/expected.ppm"));

  // Print to the PDF printer: the page holds the picture half an inch from
  // the left, an inch from the top, as wide as the page less an inch.
  SendMessageA(window, WM_COMMAND, 3, 0);
  std::string pdf;
  for (const auto &e : fs::directory_iterator(TheMachine().root + "/pdf")) pdf = e.path().string();
  ASSERT_FALSE(pdf.empty()) << "nothing printed";
  constexpr int kDpi = 100;
  ASSERT_EQ(RunCommand("pdftoppm -r " + std::to_string(kDpi) + " -f 1 -l 1 -singlefile '" + pdf + "' " +
                       TheMachine().root + "/page"),
            0);
  const Raster page = ReadPpm(TheMachine().root + "/page.ppm");
  ASSERT_GT(page.w, 0u);
  unsigned left = page.w, top = page.h, right = 0, bottom = 0;
  for (unsigned y = 0; y < page.h; ++y)
    for (unsigned x = 0; x < page.w; ++x)
      if (!Near(page.At(x, y), 0xFFFFFF, 8)) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  EXPECT_NEAR(left, kDpi / 2, 3);
  EXPECT_NEAR(top, kDpi, 3);
  EXPECT_NEAR(right + 1 - left, page.w - kDpi, 4);
  const double scale = double(right + 1 - left) / kWidth;
  EXPECT_NEAR(bottom + 1 - top, kHeight * scale, kHeight * scale * 0.03 + 3);
  int off = 0;
  for (unsigned by = 0; by < kHeight / kBlock; ++by)
    for (unsigned bx = 0; bx < kWidth / kBlock; ++bx) {
      const unsigned px = bx * kBlock + kBlock / 2, py = by * kBlock + kBlock / 2;
      const unsigned x = left + static_cast<unsigned>(px * scale), y = top + static_cast<unsigned>(py * scale);
      if (!Near(page.At(x, y), expected.At(px, py), 24)) ++off;
    }
  EXPECT_EQ(off, 0) << "blocks of the printed picture in other colours";

  // Closing removes the picture's file.
  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_FALSE(fs::exists(file));
}

// A bitmap attachment goes as a GIF picture that netpbm reads back as the
// bitmap's pixels.
TEST_F(Viewer, BitmapsAreSentAsGifPictures) {
  MakeGif();
  const std::string bmp = TheMachine().root + "/Picture.bmp";
  ASSERT_EQ(RunCommand("ppmtobmp -bpp=8 " + TheMachine().root + "/in.ppm > " + bmp + " 2>/dev/null"), 0);
  int32_t result = -1;
  const std::string part = Send(bmp, MIME_ATTACH_FILE, &result);
  EXPECT_EQ(result, 0);
  ASSERT_EQ(part.rfind("Content-Type: image/gif\r\n", 0), 0u) << part.substr(0, 200);
  EXPECT_NE(part.find("Filename=\"Picture.GIF\""), std::string::npos);
  WriteFile(TheMachine().root + "/sent.b64", part.substr(part.find("\r\n\r\n") + 4));
  ASSERT_EQ(
      RunCommand("base64 -di " + TheMachine().root + "/sent.b64 > " + TheMachine().root + "/sent.gif && giftopnm " +
                 TheMachine().root + "/sent.gif 2>/dev/null | ppmtoppm > " + TheMachine().root + "/sent.ppm"),
      0);
  EXPECT_TRUE(ReadFile(TheMachine().root + "/sent.ppm") == ReadFile(TheMachine().root + "/expected.ppm"));
}

TEST_F(Viewer, APictureItCannotReadIsLeftToTheShell) {
  // Not a GIF inside: no viewer, and the file stays for the desktop's viewer.
  const std::string message =
      "From: a@example.org\r\nSubject: picture\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"XyZ\"\r\n\r\n--XyZ\r\n"
      "Content-Type: image/gif\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
      B64("GIF89a\x01\x00\x01\x00\x00\x00\x00;") + "\r\n--XyZ--\r\n";
  const std::string opener = TheMachine().root + "/bin/record-open";
  WriteFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"" + TheMachine().root + "/opened.txt\"\n");
  fs::permissions(opener, fs::perms::owner_all);
  ASSERT_TRUE(WriteProfileStringA("Shell", "Open", (opener + " %1").c_str()));
  const Message m = WriteMessage(TheMachine().root + "/bad.msg", message, "XyZ");
  Process(m, 0, MIME_MODE_SHOW);
  EXPECT_EQ(FindWindowA("QXGifViewer", nullptr), nullptr);
  bool kept = false;
  for (const auto &e : fs::directory_iterator(TheMachine().mail()))
    if (e.path().extension() == ".gif") kept = true;
  EXPECT_TRUE(kept);
  // The stand-in runs on its own: wait for its line, not just its file.
  for (int i = 0; i < 500 && ReadFile(TheMachine().root + "/opened.txt").find('\n') == std::string::npos; ++i)
    Sleep(10);
  EXPECT_NE(ReadFile(TheMachine().root + "/opened.txt").find(".gif"), std::string::npos) << "handed to the shell";
}

}  // namespace
