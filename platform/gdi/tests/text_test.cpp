// Fonts and text: face names of the desktop, the terminal's cell faces,
// metrics, extents, tabs and DrawText layout.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "gdi_internal.h"
#include "qxtest/drawing.h"
#include "qxtest/support.h"

using qx::test::Canvas;

namespace {

TEXTMETRICA MetricsOf(HDC dc, HFONT f) {
  HGDIOBJ old = SelectObject(dc, f);
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  return tm;
}

struct FaceCase {
  const char *face;
  int height;
  bool fixed;
  int expect_height;  // 0: only checked to be positive
  int expect_width;   // fixed faces: the cell width, 0: not checked
};

TEST(GdiFonts, FaceNamesOfTheDesktop) {
  const FaceCase cases[] = {
      {"System", 0, false, 16, 0},         {"Fixedsys", 0, true, 15, 8}, {"Terminal", 0, true, 12, 8},
      {"MS Sans Serif", -11, false, 0, 0}, {"Helv", 0, false, 13, 0},    {"Courier", -13, true, 0, 0},
      {"Courier New", 20, true, 20, 0},    {"Arial", 24, false, 24, 0},  {"Times New Roman", -16, false, 0, 0},
      {"No Such Face", 0, false, 16, 0},
  };
  Canvas cv(10, 10);
  for (const FaceCase &c : cases) {
    SCOPED_TRACE(c.face);
    HFONT f = CreateFontA(c.height, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, DEFAULT_PITCH, c.face);
    const TEXTMETRICA tm = MetricsOf(cv.dc(), f);
    EXPECT_GT(tm.tmHeight, 0);
    EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
    if (c.expect_height) {
      EXPECT_EQ(tm.tmHeight, c.expect_height);
    }
    if (c.height < 0) {
      EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, -c.height) << "negative heights ask for the character height";
    }
    EXPECT_EQ((tm.tmPitchAndFamily & TMPF_FIXED_PITCH) == 0, c.fixed) << "the bit is set for variable pitch";
    if (c.expect_width) {
      EXPECT_EQ(tm.tmAveCharWidth, c.expect_width);
      EXPECT_EQ(tm.tmMaxCharWidth, c.expect_width);
    }
    if (c.fixed) {
      HGDIOBJ old = SelectObject(cv.dc(), f);
      SIZE narrow{}, wide{};
      GetTextExtentPoint32A(cv.dc(), "iiii", 4, &narrow);
      GetTextExtentPoint32A(cv.dc(), "WWWW", 4, &wide);
      EXPECT_EQ(narrow.cx, wide.cx);
      SelectObject(cv.dc(), old);
    }
    DeleteObject(f);
  }
}

TEST(GdiFonts, TerminalCellFacesFromItsFontFile) {
  EXPECT_EQ(AddFontResourceA("NOSUCH.FON"), 0);
  EXPECT_EQ(AddFontResourceA("QXFONT.FON"), 9);
  EXPECT_EQ(AddFontResourceA("qxfont.fon"), 9) << "a second registration changes nothing";
  struct Cell {
    const char *face;
    int weight, w, h;
  } cells[] = {
      {"DEC-4x6", 400, 4, 6},     {"DEC-5x12", 400, 5, 12},   {"DEC-6x8", 700, 6, 8},
      {"DEC-7x12", 400, 7, 12},   {"DEC-8x14", 400, 8, 14},   {"DEC-9x16", 400, 9, 16},
      {"DEC-10x18", 400, 10, 18}, {"DEC-10x24", 400, 10, 24}, {"DEC-12x32", 400, 12, 32},
  };
  Canvas cv(10, 10);
  for (const Cell &c : cells) {
    SCOPED_TRACE(c.face);
    LOGFONTA lf{};
    lf.lfWeight = c.weight;
    lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    std::strcpy(lf.lfFaceName, c.face);
    HFONT f = CreateFontIndirectA(&lf);
    const TEXTMETRICA tm = MetricsOf(cv.dc(), f);
    EXPECT_EQ(tm.tmMaxCharWidth, c.w);
    EXPECT_EQ(tm.tmHeight + tm.tmExternalLeading, c.h);
    HGDIOBJ old = SelectObject(cv.dc(), f);
    SIZE s{};
    GetTextExtentPoint32A(cv.dc(),
                          "\xC4\xB3"
                          "Ab",
                          4, &s);
    EXPECT_EQ(s.cx, 4 * c.w);
    EXPECT_EQ(s.cy, c.h);
    SelectObject(cv.dc(), old);
    DeleteObject(f);
  }
  EXPECT_TRUE(RemoveFontResourceA("QXFONT.FON"));
  EXPECT_FALSE(RemoveFontResourceA("QXFONT.FON"));
}

TEST(GdiFonts, ExtentsMatchWhatIsDrawn) {
  Canvas cv(200, 30);
  HFONT f = CreateFontA(-13, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, VARIABLE_PITCH | FF_SWISS, "Arial");
  SelectObject(cv.dc(), f);
  SIZE s{};
  ASSERT_TRUE(GetTextExtentPoint32A(cv.dc(), "Hello, world", 12, &s));
  SetBkColor(cv.dc(), RGB(255, 0, 0));
  SetBkMode(cv.dc(), OPAQUE);
  TextOutA(cv.dc(), 10, 5, "Hello, world", 12);
  // The opaque background covers exactly the measured box.
  EXPECT_EQ(GetPixel(cv.dc(), 10, 5), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(cv.dc(), 10 + s.cx - 1, 5 + s.cy - 1), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(cv.dc(), 10 + s.cx, 5), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(cv.dc(), 10, 5 + s.cy), RGB(255, 255, 255));
  INT widths[2];
  GetCharWidthA(cv.dc(), 'i', 'j', widths);
  EXPECT_GT(widths[0], 0);
  SelectObject(cv.dc(), GetStockObject(SYSTEM_FONT));
  DeleteObject(f);
}

// What a font reports: its metrics and every character's width.
struct FontFacts {
  TEXTMETRICA tm{};
  INT widths[256] = {};
};

FontFacts FactsOf(HDC dc, HFONT f, bool metrics_first) {
  FontFacts out;
  HGDIOBJ old = SelectObject(dc, f);
  if (metrics_first) GetTextMetricsA(dc, &out.tm);
  for (int c = 255; c >= 0; --c) GetCharWidthA(dc, static_cast<UINT>(c), static_cast<UINT>(c), &out.widths[c]);
  if (!metrics_first) GetTextMetricsA(dc, &out.tm);
  SelectObject(dc, old);
  return out;
}

void ExpectSameFacts(const FontFacts &a, const FontFacts &b) {
  EXPECT_EQ(a.tm.tmHeight, b.tm.tmHeight);
  EXPECT_EQ(a.tm.tmAscent, b.tm.tmAscent);
  EXPECT_EQ(a.tm.tmAveCharWidth, b.tm.tmAveCharWidth);
  EXPECT_EQ(a.tm.tmMaxCharWidth, b.tm.tmMaxCharWidth);
  for (int c = 0; c < 256; ++c) ASSERT_EQ(a.widths[c], b.widths[c]) << "character " << c;
}

// Glyphs are measured when a character is first used: a font's metrics and
// widths are the same whatever was measured or drawn with it first.
TEST(GdiFonts, MetricsDoNotDependOnWhatWasMeasuredFirst) {
  struct Case {
    const char *face;
    int height, weight;
    BYTE charset, pitch;
    const char *first_text;  // drawn and measured before anything else is asked
  } cases[] = {
      {"MS Sans Serif", -11, FW_NORMAL, ANSI_CHARSET, VARIABLE_PITCH | FF_SWISS, "Item 17 of the big menu"},
      {"System", 16, FW_BOLD, ANSI_CHARSET, VARIABLE_PITCH | FF_SWISS, "W"},
      {"Courier New", -13, FW_NORMAL, ANSI_CHARSET, FIXED_PITCH | FF_MODERN, "\xE9t\xE9"},
      {"Times New Roman", 24, FW_NORMAL, ANSI_CHARSET, VARIABLE_PITCH | FF_ROMAN, ""},
      {"Terminal", 12, FW_NORMAL, OEM_CHARSET, FIXED_PITCH | FF_MODERN, "\xC4\xB3\xDB"},
      {"Fixedsys", 15, FW_NORMAL, ANSI_CHARSET, FIXED_PITCH | FF_MODERN, "abc"},
  };
  Canvas cv(400, 40);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.face);
    auto make = [&] { return CreateFontA(c.height, 0, 0, 0, c.weight, 0, 0, 0, c.charset, 0, 0, 0, c.pitch, c.face); };
    HFONT reference = make();
    const FontFacts expected = FactsOf(cv.dc(), reference, true);
    EXPECT_GT(expected.tm.tmMaxCharWidth, 0);
    for (int ch = 32; ch < 256; ++ch) ASSERT_GE(expected.tm.tmMaxCharWidth, expected.widths[ch]) << "character " << ch;
    // Widths asked for before the metrics.
    HFONT widths_first = make();
    ExpectSameFacts(FactsOf(cv.dc(), widths_first, false), expected);
    // A text drawn and measured first.
    HFONT text_first = make();
    HGDIOBJ old = SelectObject(cv.dc(), text_first);
    const int n = static_cast<int>(std::strlen(c.first_text));
    SIZE size{};
    ASSERT_TRUE(GetTextExtentPoint32A(cv.dc(), c.first_text, n, &size));
    TextOutA(cv.dc(), 0, 0, c.first_text, n);
    int sum = 0;
    for (int i = 0; i < n; ++i) sum += expected.widths[static_cast<unsigned char>(c.first_text[i])];
    EXPECT_EQ(size.cx, sum);
    EXPECT_EQ(size.cy, expected.tm.tmHeight);
    SelectObject(cv.dc(), old);
    ExpectSameFacts(FactsOf(cv.dc(), text_first, true), expected);
    for (HFONT f : {reference, widths_first, text_first}) DeleteObject(f);
  }
}

// Threads measuring one font in DCs of their own, each its own characters
// first, all see the widths a single thread sees.
TEST(GdiFonts, OneFontMeasuredFromSeveralThreads) {
  auto make = [] {
    return CreateFontA(-15, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, VARIABLE_PITCH | FF_SWISS, "Arial");
  };
  Canvas reference_canvas(10, 10);
  HFONT reference = make();
  const FontFacts expected = FactsOf(reference_canvas.dc(), reference, true);
  HFONT shared = make();
  constexpr int kThreads = 6;
  std::vector<FontFacts> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      Canvas cv(10, 10);
      HGDIOBJ old = SelectObject(cv.dc(), shared);
      for (int k = 0; k < 256; ++k) {
        const int c = (k * 37 + t * 41) % 256;  // a different order in every thread
        GetCharWidthA(cv.dc(), static_cast<UINT>(c), static_cast<UINT>(c), &seen[t].widths[c]);
      }
      GetTextMetricsA(cv.dc(), &seen[t].tm);
      SelectObject(cv.dc(), old);
    });
  for (std::thread &t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) {
    SCOPED_TRACE(t);
    ExpectSameFacts(seen[t], expected);
  }
  DeleteObject(reference);
  DeleteObject(shared);
}

// A DC keeps the font it realised last: what it measures still follows every
// change of font (a font deleted and another made in its place included) and
// of mapping mode.
TEST(GdiFonts, ExtentsFollowTheDcsFontAndMappingMode) {
  auto fresh_extent = [](HFONT f, int scale) {
    Canvas fresh(10, 10);
    if (scale != 1) {
      SetMapMode(fresh.dc(), MM_ANISOTROPIC);
      SetWindowExtEx(fresh.dc(), 1, 1, nullptr);
      SetViewportExtEx(fresh.dc(), scale, scale, nullptr);
    }
    SelectObject(fresh.dc(), f);
    SIZE s{};
    GetTextExtentPoint32A(fresh.dc(), "Hello, world", 12, &s);
    SelectObject(fresh.dc(), GetStockObject(SYSTEM_FONT));
    return s;
  };
  auto arial = [](int h) {
    return CreateFontA(h, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, VARIABLE_PITCH | FF_SWISS, "Arial");
  };
  Canvas cv(10, 10);
  auto measure = [&] {
    SIZE s{};
    GetTextExtentPoint32A(cv.dc(), "Hello, world", 12, &s);
    return s;
  };
  HFONT small = arial(-11), large = arial(-30);
  // The same height as `small`: only the font itself tells them apart.
  HFONT bold = CreateFontA(-11, 0, 0, 0, FW_BOLD, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, FIXED_PITCH | FF_MODERN, "Courier");
  const SIZE small_size = fresh_extent(small, 1), large_size = fresh_extent(large, 1),
             bold_size = fresh_extent(bold, 1);
  ASSERT_LT(small_size.cx, large_size.cx);
  ASSERT_NE(small_size.cx, bold_size.cx);
  const struct Step {
    const char *what;
    HFONT font;
    int scale;
    SIZE expect;
  } steps[] = {
      {"small font", small, 1, small_size},
      {"large font", large, 1, large_size},
      {"same height, another font", bold, 1, bold_size},
      {"small again", small, 1, small_size},
      {"small, twice the scale", small, 2, fresh_extent(small, 2)},
      {"back to one", small, 1, small_size},
  };
  for (const Step &st : steps) {
    SCOPED_TRACE(st.what);
    SetMapMode(cv.dc(), st.scale == 1 ? MM_TEXT : MM_ANISOTROPIC);
    if (st.scale != 1) {
      SetWindowExtEx(cv.dc(), 1, 1, nullptr);
      SetViewportExtEx(cv.dc(), st.scale, st.scale, nullptr);
    }
    SelectObject(cv.dc(), st.font);
    const SIZE got = measure();
    EXPECT_EQ(got.cx, st.expect.cx);
    EXPECT_EQ(got.cy, st.expect.cy);
  }
  SetMapMode(cv.dc(), MM_TEXT);
  // Fonts deleted and new ones made, perhaps where the old ones lived.
  SelectObject(cv.dc(), GetStockObject(SYSTEM_FONT));
  DeleteObject(small);
  DeleteObject(large);
  DeleteObject(bold);
  for (int h : {-20, -9, -20}) {
    SCOPED_TRACE(h);
    HFONT f = arial(h);
    const SIZE expect = fresh_extent(f, 1);
    SelectObject(cv.dc(), f);
    const SIZE got = measure();
    EXPECT_EQ(got.cx, expect.cx);
    EXPECT_EQ(got.cy, expect.cy);
    SelectObject(cv.dc(), GetStockObject(SYSTEM_FONT));
    DeleteObject(f);
  }
}

// Reading the font configuration costs a process milliseconds: a process that
// only reads display metrics (one finger daemon per connection) must never
// start it, and everything that leads to text soon must. fontconfig's own
// trace of the files it loads tells whether it was touched by any route.
TEST(GdiFonts, TheFontConfigurationIsReadOnlyByProcessesThatDrawText) {
  qxtest::HeadlessDisplay display;
  const struct {
    const char *step;
    bool starts;
  } cases[] = {{"metrics", false}, {"visible", true},    {"shown", true}, {"control", true},
               {"menu", true},     {"class-menu", true}, {"font", true}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.step);
    int status = -1;
    const std::string out =
        qxtest::Shell("FC_DEBUG=1024 timeout 60 " + qxtest::BinDir() + "/gdi_font_setup_peer " + c.step, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find(c.starts ? "font setup started: yes" : "font setup started: no"), std::string::npos) << out;
    if (!c.starts) {
      EXPECT_EQ(out.find("Loading config file"), std::string::npos) << out;
    }
  }
}

TEST(GdiFonts, ExtTextOutOpaqueAndClipped) {
  Canvas cv(60, 30);
  SetBkColor(cv.dc(), RGB(0, 0, 255));
  RECT r{5, 5, 20, 25};
  ExtTextOutA(cv.dc(), 5, 5, ETO_OPAQUE | ETO_CLIPPED, &r, "WWWWWWWW", 8, nullptr);
  EXPECT_EQ(GetPixel(cv.dc(), 19, 24), RGB(0, 0, 255)) << "the rectangle is filled";
  for (int y = 0; y < 30; ++y)
    for (int x = 20; x < 60; ++x) ASSERT_EQ(GetPixel(cv.dc(), x, y), RGB(255, 255, 255)) << "text clipped at " << x;
}

TEST(GdiFonts, TabbedExtents) {
  Canvas cv(10, 10);
  SelectObject(cv.dc(), GetStockObject(SYSTEM_FIXED_FONT));  // 8 pixels a character
  const INT stops[] = {40, 100};
  EXPECT_EQ(LOWORD(GetTabbedTextExtentA(cv.dc(), "a\tb", 3, 2, stops)), 48);
  EXPECT_EQ(LOWORD(GetTabbedTextExtentA(cv.dc(), "a\tb\tc", 5, 2, stops)), 108);
  EXPECT_EQ(LOWORD(GetTabbedTextExtentA(cv.dc(), "a\tb", 3, 1, stops)), 48);
  EXPECT_EQ(LOWORD(GetTabbedTextExtentA(cv.dc(), "a\tb", 3, 0, nullptr)), 72) << "default stops: 8 average characters";
  EXPECT_EQ(HIWORD(GetTabbedTextExtentA(cv.dc(), "a", 1, 0, nullptr)), 15);
}

TEST(GdiDrawText, LayoutFlags) {
  Canvas cv(300, 200);
  SelectObject(cv.dc(), GetStockObject(SYSTEM_FIXED_FONT));  // 8 x 15
  struct Case {
    const char *name;
    const char *text;
    UINT flags;
    int width;
    int expect_h, expect_w;
  } cases[] = {
      {"single line", "Hello", DT_SINGLELINE | DT_CALCRECT, 200, 15, 40},
      {"prefix removed", "&File", DT_SINGLELINE | DT_CALCRECT, 200, 15, 32},
      {"double ampersand", "A&&B", DT_SINGLELINE | DT_CALCRECT, 200, 15, 24},
      {"no prefix", "&File", DT_SINGLELINE | DT_CALCRECT | DT_NOPREFIX, 200, 15, 40},
      {"two lines", "one\r\ntwo", DT_CALCRECT, 200, 30, 24},
      {"word break", "aaaa bbbb cccc", DT_WORDBREAK | DT_CALCRECT, 80, 30, 72},
      {"long word stays whole", "abcdefghijkl", DT_WORDBREAK | DT_CALCRECT, 40, 15, 96},
      {"tabs expanded", "a\tb", DT_EXPANDTABS | DT_SINGLELINE | DT_CALCRECT, 200, 15, 72},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    RECT r{10, 10, 10 + c.width, 100};
    const int h = DrawTextA(cv.dc(), c.text, -1, &r, c.flags);
    EXPECT_EQ(h, c.expect_h);
    EXPECT_EQ(r.bottom - r.top, c.expect_h);
    EXPECT_EQ(r.right - r.left, c.expect_w);
  }
}

TEST(GdiDrawText, CentredAndClipped) {
  Canvas cv(100, 40);
  SelectObject(cv.dc(), GetStockObject(SYSTEM_FIXED_FONT));
  SetBkColor(cv.dc(), RGB(0, 255, 0));
  RECT r{0, 0, 100, 40};
  const int h = DrawTextA(cv.dc(), "ab", 2, &r, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  EXPECT_EQ(h, 12 + 15);  // top of the centred line plus its height
  EXPECT_EQ(GetPixel(cv.dc(), 42, 12), RGB(0, 255, 0));
  EXPECT_EQ(GetPixel(cv.dc(), 57, 26), RGB(0, 255, 0));
  EXPECT_EQ(GetPixel(cv.dc(), 41, 12), RGB(255, 255, 255));
  RECT small{0, 0, 10, 10};
  DrawTextA(cv.dc(), "WWWWWW", 6, &small, DT_SINGLELINE);
  EXPECT_EQ(GetPixel(cv.dc(), 10, 2), RGB(255, 255, 255)) << "clipped to the rectangle";
  EXPECT_EQ(DrawTextA(cv.dc(), "x", 1, nullptr, 0), 0);
}

}  // namespace
