// The GIF reader and encoder against Debian's picture tools: pictures made by
// netpbm's pamtogif (and reshaped here into forms it does not write: local
// colour tables, short sub-blocks) decode to the pixels giftopnm reads from
// them; bitmaps made by ppmtobmp encode to GIFs that giflib's gif2rgb and
// giftopnm read back as the bitmap's pixels. Hostile files come from a table.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "gifimage.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path &p, const Bytes &b) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
}

class GifTools : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qxgif-test.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs a shell command with a time bound; fails the test when it does not
  // succeed (the tools come from the netpbm and giflib-tools packages).
  void Run(const std::string &command) {
    const std::string bounded = "cd '" + dir_.string() + "' && timeout 60 sh -c '" + command + "' 2>/dev/null";
    const int status = std::system(bounded.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "command failed: " << command << " (install netpbm and giflib-tools)";
  }

  fs::path Path(const std::string &name) const { return dir_ / name; }

  fs::path dir_;
};

struct Rgb {
  uint8_t r, g, b;
};

// A picture of the given number of distinct colours, in a pattern that mixes
// runs and noise so the LZW table both grows and repeats.
std::vector<Rgb> MakePicture(unsigned w, unsigned h, unsigned colours, uint32_t seed) {
  std::vector<Rgb> px(size_t{w} * h);
  uint32_t state = seed;
  for (size_t i = 0; i < px.size(); ++i) {
    state = state * 1103515245u + 12345u;
    const unsigned index = (i % 7 < 3) ? static_cast<unsigned>(i / 5 % colours) : (state >> 16) % colours;
    px[i] = Rgb{static_cast<uint8_t>(index), static_cast<uint8_t>(255 - index), static_cast<uint8_t>(index * 7)};
  }
  // Every colour occurs at least once, so the tools keep the full count.
  for (unsigned c = 0; c < colours && c < px.size(); ++c)
    px[c] = Rgb{static_cast<uint8_t>(c), static_cast<uint8_t>(255 - c), static_cast<uint8_t>(c * 7)};
  return px;
}

Bytes Ppm(unsigned w, unsigned h, const std::vector<Rgb> &px) {
  std::string head = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  Bytes out(head.begin(), head.end());
  for (const Rgb &c : px) out.insert(out.end(), {c.r, c.g, c.b});
  return out;
}

// The raster of a binary PPM as ppmtoppm writes it.
Bytes PpmRaster(const Bytes &ppm, unsigned &w, unsigned &h) {
  std::string text(ppm.begin(), ppm.begin() + std::min<size_t>(ppm.size(), 64));
  std::istringstream in(text);
  std::string magic;
  unsigned maxval = 0;
  in >> magic >> w >> h >> maxval;
  const size_t at = static_cast<size_t>(in.tellg()) + 1;
  return Bytes(ppm.begin() + static_cast<long>(at), ppm.end());
}

Bytes PictureRgb(const qxgif::Picture &p) {
  Bytes out;
  for (size_t r = 0; r < p.height; ++r) {
    const uint8_t *row = p.DisplayRow(r);
    for (size_t x = 0; x < p.width; ++x) out.insert(out.end(), {p.red[row[x]], p.green[row[x]], p.blue[row[x]]});
  }
  return out;
}

// Where the image descriptor of a GIF starts (after the screen, its table and
// any extensions).
size_t DescriptorAt(const Bytes &gif) {
  size_t at = 13 + ((gif[10] & 0x80) ? 3u * (2u << (gif[10] & 7)) : 0);
  while (gif[at] == '!') {
    at += 2;
    while (gif[at] != 0) at += gif[at] + 1u;
    ++at;
  }
  return at;
}

// The same picture with its global colour table moved into the image as a
// local one; the global table left behind holds other colours, so a reader
// that kept the global colours would show them.
Bytes WithLocalTable(const Bytes &gif) {
  const unsigned tableBytes = 3u * (2u << (gif[10] & 7));
  const Bytes table(gif.begin() + 13, gif.begin() + 13 + tableBytes);
  Bytes out(gif.begin(), gif.begin() + 13);
  for (uint8_t b : table) out.push_back(static_cast<uint8_t>(~b));
  const size_t desc = DescriptorAt(gif);
  out.insert(out.end(), gif.begin() + 13 + tableBytes, gif.begin() + static_cast<long>(desc) + 10);
  out.back() = static_cast<uint8_t>(out.back() | 0x80 | (gif[10] & 7));
  out.insert(out.end(), table.begin(), table.end());
  out.insert(out.end(), gif.begin() + static_cast<long>(desc) + 10, gif.end());
  return out;
}

// Where the LZW minimum code size is, after the descriptor and a local table.
size_t CodeSizeAt(const Bytes &gif) {
  const size_t desc = DescriptorAt(gif);
  return desc + 10 + ((gif[desc + 9] & 0x80) ? 3u * (2u << (gif[desc + 9] & 7)) : 0);
}
int CodeSizeOf(const Bytes &gif) { return gif[CodeSizeAt(gif)]; }

// The same picture with its LZW data cut into sub-blocks of n bytes.
Bytes Reblocked(const Bytes &gif, size_t n) {
  const size_t at = CodeSizeAt(gif);
  Bytes out(gif.begin(), gif.begin() + static_cast<long>(at) + 1);  // through the code size
  Bytes data;
  for (size_t p = at + 1; gif[p] != 0; p += gif[p] + 1u) data.insert(data.end(), &gif[p + 1], &gif[p + 1] + gif[p]);
  for (size_t p = 0; p < data.size(); p += n) {
    const size_t len = std::min(n, data.size() - p);
    out.push_back(static_cast<uint8_t>(len));
    out.insert(out.end(), data.begin() + static_cast<long>(p), data.begin() + static_cast<long>(p + len));
  }
  out.insert(out.end(), {0, ';'});
  return out;
}

struct DecodeCase {
  const char *name;
  unsigned w, h, colours;
  const char *options;  // pamtogif's
  bool localTable;
  size_t blockSize;  // 0: as pamtogif writes them
};

TEST_F(GifTools, DecodesWhatGiftopnmReads) {
  const DecodeCase cases[] = {
      {"one pixel", 1, 1, 2, "", false, 0},
      {"two colours", 7, 5, 2, "", false, 0},
      {"code size 2", 13, 11, 4, "", false, 0},
      {"code size 3", 16, 16, 8, "", false, 0},
      {"code size 4", 31, 7, 16, "", false, 0},
      {"code size 5", 40, 30, 32, "", false, 0},
      {"code size 6", 50, 40, 64, "", false, 0},
      {"code size 7", 64, 64, 128, "", false, 0},
      {"table resets", 256, 256, 256, "", false, 0},
      {"interlaced", 37, 10, 16, "-interlace", false, 0},
      {"interlaced, 3 rows", 9, 3, 2, "-interlace", false, 0},
      {"interlaced, table resets", 200, 150, 256, "-interlace", false, 0},
      {"transparent colour", 20, 20, 16, "-transparent=rgb:05/fa/23", false, 0},
      {"local colour table", 30, 20, 64, "", true, 0},
      {"one-byte sub-blocks", 256, 256, 256, "", false, 1},
      {"three-byte sub-blocks", 90, 40, 32, "-interlace", true, 3},
  };
  std::set<int> codeSizes;
  for (const DecodeCase &c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(Path("in.ppm"), Ppm(c.w, c.h, MakePicture(c.w, c.h, c.colours, c.w * 131 + c.h)));
    Run(std::string("pamtogif ") + c.options + " in.ppm > made.gif");
    Bytes gif = ReadFile(Path("made.gif"));
    if (c.localTable) gif = WithLocalTable(gif);
    if (c.blockSize) gif = Reblocked(gif, c.blockSize);
    WriteFile(Path("test.gif"), gif);
    Run("giftopnm test.gif | ppmtoppm > out.ppm");
    unsigned w = 0, h = 0;
    const Bytes expected = PpmRaster(ReadFile(Path("out.ppm")), w, h);

    qxgif::Picture picture;
    ASSERT_EQ(qxgif::DecodeGif(gif.data(), gif.size(), picture), qxgif::OpenError::kNone);
    EXPECT_EQ(picture.width, w);
    EXPECT_EQ(picture.height, h);
    EXPECT_TRUE(PictureRgb(picture) == expected) << "pixels differ from giftopnm's";
    codeSizes.insert(CodeSizeOf(gif));
  }
  EXPECT_EQ(codeSizes, (std::set<int>{2, 3, 4, 5, 6, 7, 8})) << "the corpus should cover every code size";
}

TEST(GifDecode, InterlacedRowsAndPalette) {
  const size_t expected[] = {0, 5, 3, 6, 2, 7, 4, 8, 1, 9};
  for (size_t r = 0; r < 10; ++r) EXPECT_EQ(qxgif::InterlaceRow(r, 10), expected[r]) << "display row " << r;
  for (size_t h : {1, 2, 3, 4, 5, 7, 8, 9, 17, 100}) {
    std::set<size_t> rows;
    for (size_t r = 0; r < h; ++r) rows.insert(qxgif::InterlaceRow(r, h));
    EXPECT_EQ(rows.size(), h) << "height " << h << " must use every stored row once";
    EXPECT_EQ(*rows.rbegin(), h - 1);
  }

  // 1 by 1, a 2-entry table, code size 2: codes clear, 1, end at 3 bits.
  const Bytes one = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0,    0,    0, 9,  8,
                     7,   ',', 0,   0,   0,   0,   1, 0, 1, 0, 0,    2, 2, 0x4C, 0x01, 0, ';'};
  qxgif::Picture p;
  ASSERT_EQ(qxgif::DecodeGif(one.data(), one.size(), p), qxgif::OpenError::kNone);
  EXPECT_EQ(p.pixels, Bytes{1});
  EXPECT_EQ(p.PaletteSize(), 2u);
  EXPECT_EQ(p.red[1], 9);

  // A stream that starts with a pixel code instead of a clear code.
  const Bytes noClear = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0,    0, 9,
                         8,   7,   ',', 0,   0,   0,   0, 1, 0, 1, 0,    0, 2, 1, 0x29, 0, ';'};
  qxgif::Picture q;
  ASSERT_EQ(qxgif::DecodeGif(noClear.data(), noClear.size(), q), qxgif::OpenError::kNone);
  EXPECT_EQ(q.pixels, Bytes{1});
}

Bytes Header(unsigned w, unsigned h, int codeSize) {
  return {'G',
          'I',
          'F',
          '8',
          '9',
          'a',
          1,
          0,
          1,
          0,
          0,
          0,
          0,
          ',',
          0,
          0,
          0,
          0,
          static_cast<uint8_t>(w),
          static_cast<uint8_t>(w >> 8),
          static_cast<uint8_t>(h),
          static_cast<uint8_t>(h >> 8),
          0,
          static_cast<uint8_t>(codeSize),
          1,
          0x44,
          0,
          ';'};
}

TEST(GifDecode, HostileFilesAreRefused) {
  using E = qxgif::OpenError;
  struct Case {
    const char *name;
    Bytes bytes;
    E expected;
  };
  const Case cases[] = {
      {"empty", {}, E::kNotGif},
      {"not a GIF", {'P', 'N', 'G', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0}, E::kNotGif},
      {"screen cut short", {'G', 'I', 'F', '8', '9', 'a', 1, 0}, E::kNotGif},
      {"global table cut short", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x87, 0, 0, 1, 2, 3}, E::kShortHeader},
      {"trailer before any image", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'}, E::kNoImage},
      {"extension then the end", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, '!', 0xF9, 4, 1}, E::kNoImage},
      {"descriptor cut short", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ',', 0, 0}, E::kShortHeader},
      {"code size 0", Header(4, 4, 0), E::kBadCodeSize},
      {"code size 1", Header(4, 4, 1), E::kBadCodeSize},
      {"code size 12", Header(4, 4, 12), E::kBadCodeSize},
      {"code size 255", Header(4, 4, 255), E::kBadCodeSize},
      {"width 0", Header(0, 4, 2), E::kBadSize},
      {"height 0", Header(4, 0, 2), E::kBadSize},
      {"65535 by 65535", Header(65535, 65535, 8), E::kTooLarge},
      {"side above the bitmap limit", Header(40000, 1, 8), E::kTooLarge},
      {"pixels above the bitmap limit", Header(32767, 2049, 8), E::kTooLarge},
  };
  for (const Case &c : cases) {
    qxgif::Picture p;
    EXPECT_EQ(qxgif::DecodeGif(c.bytes.data(), c.bytes.size(), p), c.expected) << c.name;
    EXPECT_TRUE(p.pixels.empty()) << c.name << ": nothing may stay allocated";
  }
  // Code sizes 9 to 11 are read; their wide pixel codes stay inside the tables.
  for (int size = 9; size <= 11; ++size) {
    Bytes b = Header(16, 16, size);
    b.erase(b.end() - 4, b.end());  // the data and the trailer
    b.push_back(200);
    for (int i = 0; i < 200; ++i) b.push_back(static_cast<uint8_t>(i * 73 + size));
    b.insert(b.end(), {0, ';'});
    qxgif::Picture p;
    EXPECT_EQ(qxgif::DecodeGif(b.data(), b.size(), p), E::kNone);
    EXPECT_EQ(p.pixels.size(), 256u);
  }
}

TEST_F(GifTools, TruncatedFilesDecodeWhatTheyHold) {
  WriteFile(Path("in.ppm"), Ppm(64, 48, MakePicture(64, 48, 256, 7)));
  Run("pamtogif -interlace in.ppm > made.gif");
  const Bytes gif = ReadFile(Path("made.gif"));
  qxgif::Picture whole;
  ASSERT_EQ(qxgif::DecodeGif(gif.data(), gif.size(), whole), qxgif::OpenError::kNone);
  const size_t dataAt = DescriptorAt(gif) + 11;
  for (size_t cut = 0; cut < gif.size(); cut += (cut < dataAt + 8 ? 1 : 97)) {
    qxgif::Picture p;
    const auto e = qxgif::DecodeGif(gif.data(), cut, p);
    if (cut <= dataAt - 1) {
      EXPECT_NE(e, qxgif::OpenError::kNone) << "cut at " << cut;
      continue;
    }
    ASSERT_EQ(e, qxgif::OpenError::kNone) << "cut at " << cut;
    // What came before the cut decodes as in the whole file; the pixels the
    // missing data held are 0.
    if (cut >= dataAt + 100) {
      EXPECT_TRUE(std::equal(p.pixels.begin(), p.pixels.begin() + 50, whole.pixels.begin())) << "cut at " << cut;
    }
    if (cut + 300 < gif.size()) {
      EXPECT_EQ(p.pixels.back(), 0) << "cut at " << cut;
    }
  }
}

TEST_F(GifTools, WriteBmpIsReadBackByBmptopnm) {
  WriteFile(Path("in.ppm"), Ppm(13, 7, MakePicture(13, 7, 4, 3)));
  Run("pamtogif -interlace in.ppm > made.gif && giftopnm made.gif | ppmtoppm > gif.ppm");
  const Bytes gif = ReadFile(Path("made.gif"));
  qxgif::Picture p;
  ASSERT_EQ(qxgif::DecodeGif(gif.data(), gif.size(), p), qxgif::OpenError::kNone);
  const Bytes bmp = qxgif::WriteBmp(p);
  EXPECT_EQ(bmp[10], 54 + 4 * p.PaletteSize()) << "pixel offset";
  EXPECT_EQ(bmp.size(), 54 + 4 * p.PaletteSize() + 16u * 7) << "rows padded to 4 bytes";
  WriteFile(Path("out.bmp"), bmp);
  Run("bmptopnm out.bmp | ppmtoppm > bmp.ppm");
  EXPECT_EQ(ReadFile(Path("bmp.ppm")), ReadFile(Path("gif.ppm")));
}

class CollectOutput final : public qxgif::ByteOutput {
 public:
  void Write(const uint8_t *data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
  Bytes bytes;
};

struct EncodeCase {
  const char *name;
  unsigned w, h, colours;
  const char *options;  // ppmtobmp's
};

TEST_F(GifTools, EncodedBitmapsReadBackByGiflib) {
  const EncodeCase cases[] = {
      {"1 bit", 21, 9, 2, "-bpp=1"},
      {"4 bits, width 3", 3, 5, 16, "-bpp=4"},
      {"4 bits", 33, 17, 12, "-bpp=4"},
      {"8 bits", 40, 25, 200, "-bpp=8"},
      {"12-byte header", 19, 11, 100, "-os2 -bpp=8"},
      {"more than 4096 strings", 256, 256, 256, "-bpp=8"},
  };
  for (const EncodeCase &c : cases) {
    SCOPED_TRACE(c.name);
    const auto pixels = MakePicture(c.w, c.h, c.colours, c.w + c.h);
    WriteFile(Path("in.ppm"), Ppm(c.w, c.h, pixels));
    Run(std::string("ppmtobmp ") + c.options + " in.ppm > in.bmp");
    const Bytes bmp = ReadFile(Path("in.bmp"));
    qxgif::MemoryBytes file(bmp.data(), bmp.size());
    CollectOutput out;
    ASSERT_EQ(qxgif::EncodeBitmapFile(file, bmp.size(), out), qxgif::EncodeResult::kEncoded);
    ASSERT_GT(out.bytes.size(), 13u + 768);
    EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.begin() + 6), "GIF87a");
    EXPECT_EQ(out.bytes[10], 0xFF);
    WriteFile(Path("out.gif"), out.bytes);
    Run("gif2rgb -1 -o out.rgb out.gif");
    Bytes expected;
    for (const Rgb &px : pixels) expected.insert(expected.end(), {px.r, px.g, px.b});
    EXPECT_TRUE(ReadFile(Path("out.rgb")) == expected) << "giflib reads other pixels";
    Run("giftopnm out.gif | ppmtoppm > out.ppm");
    unsigned w = 0, h = 0;
    EXPECT_TRUE(PpmRaster(ReadFile(Path("out.ppm")), w, h) == expected) << "giftopnm reads other pixels";
    // Our reader agrees, and its picture writes back the same bitmap pixels.
    qxgif::Picture p;
    ASSERT_EQ(qxgif::DecodeGif(out.bytes.data(), out.bytes.size(), p), qxgif::OpenError::kNone);
    EXPECT_TRUE(PictureRgb(p) == expected);
  }
}

// A bitmap file of 40-byte header with the given fields and data.
Bytes Bmp(int32_t w, int32_t h, uint16_t bpp, uint32_t compression, const Bytes &table, const Bytes &data) {
  Bytes b = {'B', 'M'};
  auto put32 = [&b](uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  const uint32_t offset = 54 + static_cast<uint32_t>(table.size());
  put32(offset + static_cast<uint32_t>(data.size()));
  put32(0);
  put32(offset);
  put32(40);
  put32(static_cast<uint32_t>(w));
  put32(static_cast<uint32_t>(h));
  b.insert(b.end(), {1, 0, static_cast<uint8_t>(bpp), 0});
  put32(compression);
  put32(static_cast<uint32_t>(data.size()));
  put32(0);
  put32(0);
  put32(static_cast<uint32_t>(table.size() / 4));
  put32(0);
  b.insert(b.end(), table.begin(), table.end());
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

Bytes Grey(unsigned n) {
  Bytes t(4 * size_t{n}, 0);  // blue, green, red, reserved
  for (unsigned i = 0; i < n; ++i) t[4 * i] = t[4 * i + 1] = t[4 * i + 2] = static_cast<uint8_t>(i);
  return t;
}

TEST(GifEncode, BitmapForms) {
  struct Case {
    const char *name;
    Bytes file;
    Bytes pixels;  // top row first
  };
  const Case cases[] = {
      // Width 3 at 4 bits: each row is 2 bytes of pixels and 2 of padding.
      {"4 bits, width 3",
       Bmp(3, 2, 4, 0, Grey(16), {0x12, 0x3F, 0xEE, 0xEE, 0x45, 0x6F, 0xEE, 0xEE}),
       {4, 5, 6, 1, 2, 3}},
      {"top-down rows", Bmp(2, -2, 8, 0, Grey(4), {1, 2, 9, 9, 3, 0, 9, 9}), {1, 2, 3, 0}},
      // RLE8: a run, a literal of 3 (padded), end of line, a move, end of bitmap.
      {"RLE8",
       Bmp(4, 3, 8, 1, Grey(8), {2, 5, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 1, 7, 0, 1}),
       {0, 7, 0, 0, 0, 0, 0, 0, 5, 5, 1, 2}},
      // RLE4: a run of alternating halves, a literal of 3 halves, end of bitmap.
      {"RLE4", Bmp(5, 2, 4, 2, Grey(16), {5, 0x9A, 0, 0, 0, 3, 0x12, 0x30, 0, 1}), {1, 2, 3, 0, 0, 9, 10, 9, 10, 9}},
      // Runs longer than the row and moves past the picture are clipped.
      {"clipped runs", Bmp(3, 2, 8, 1, Grey(8), {200, 4, 0, 2, 250, 250, 9, 3, 0, 1}), {0, 0, 0, 4, 4, 4}},
      {"pixels cut short", Bmp(2, 2, 8, 0, Grey(4), {3, 2}), {0, 0, 3, 2}},
  };
  for (const Case &c : cases) {
    qxgif::MemoryBytes file(c.file.data(), c.file.size());
    qxgif::Bitmap b;
    ASSERT_EQ(qxgif::ReadBitmap(file, c.file.size(), b), qxgif::EncodeResult::kEncoded) << c.name;
    EXPECT_EQ(b.pixels, c.pixels) << c.name;
  }
}

TEST(GifEncode, BitmapsThatCannotBeEncodedWriteNothing) {
  using R = qxgif::EncodeResult;
  Bytes noBm = Bmp(2, 2, 8, 0, Grey(4), Bytes(8, 1));
  noBm[0] = 'X';
  Bytes oddHeader = Bmp(2, 2, 8, 0, Grey(4), Bytes(8, 1));
  oddHeader[14] = 20;
  const struct {
    const char *name;
    Bytes file;
    R expected;
  } cases[] = {
      {"not BM", noBm, R::kNotBitmap},
      {"cut inside the header", Bytes{'B', 'M', 0, 0}, R::kNotBitmap},
      {"unknown header size", oddHeader, R::kNotBitmap},
      {"24 bits", Bmp(2, 2, 24, 0, {}, Bytes(16, 1)), R::kCannotEncode},
      {"32 bits", Bmp(2, 2, 32, 0, {}, Bytes(16, 1)), R::kCannotEncode},
      {"2 bits", Bmp(2, 2, 2, 0, Grey(4), Bytes(8, 1)), R::kCannotEncode},
      {"width 0", Bmp(0, 2, 8, 0, Grey(4), Bytes(8, 1)), R::kCannotEncode},
      {"huge", Bmp(60000, 60000, 8, 0, Grey(4), Bytes(8, 1)), R::kCannotEncode},
      {"RLE8 at 4 bits", Bmp(2, 2, 4, 1, Grey(4), Bytes(8, 1)), R::kCannotEncode},
  };
  for (const auto &c : cases) {
    qxgif::MemoryBytes file(c.file.data(), c.file.size());
    CollectOutput out;
    EXPECT_EQ(qxgif::EncodeBitmapFile(file, c.file.size(), out), c.expected) << c.name;
    EXPECT_TRUE(out.bytes.empty()) << c.name;
  }
}

}  // namespace
