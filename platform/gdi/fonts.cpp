// Fonts and text: the face names of the desktop mapped to installed outline
// fonts through fontconfig (DejaVu), fixed-cell faces for the terminal's font
// file, text metrics, extents, and text drawn by cairo with whole-pixel
// advances so that what GetTextExtentPoint measures is what TextOut draws.
#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pthread.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "qx/errors.h"
#include "gdi_internal.h"
#include "terminal_faces.h"

namespace qx::gdi {

namespace {

// Bytes 0x80-0xFF of the ANSI (Windows-1252) and OEM (437) code pages as Unicode.
const char16_t kAnsiHigh[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
const char16_t kOemLow[32] = {0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9,
                              0x2642, 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7,
                              0x25AC, 0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC};
const char16_t kOemHigh[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

char32_t ToUnicode(unsigned char c, bool oem) {
  if (oem) {
    if (c < 0x20) return kOemLow[c];
    if (c == 0x7F) return 0x2302;
    if (c >= 0x80) return kOemHigh[c - 0x80];
    return c;
  }
  if (c >= 0x80 && c < 0xA0) return kAnsiHigh[c - 0x80];
  return c;
}

std::string Utf8(char32_t c) {
  std::string s;
  if (c < 0x80)
    s += static_cast<char>(c);
  else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

// How a face name of the desktop is drawn here.
struct FaceMap {
  const char *name;
  const char *family;  // fontconfig family
  bool bold;           // the face is bold whatever the weight asks
  int cell_w, cell_h;  // fixed cell (raster faces); 0: outline, scalable
  int default_height;  // cell height when lfHeight is 0
  bool oem;            // characters are code page 437
};

const FaceMap kFaces[] = {
    {"System", "DejaVu Sans", true, 0, 0, 16, false},
    {"Fixedsys", "DejaVu Sans Mono", false, 8, 15, 15, false},
    {"Terminal", "DejaVu Sans Mono", false, 8, 12, 12, true},
    {"Helv", "DejaVu Sans", false, 0, 0, 13, false},
    {"MS Sans Serif", "DejaVu Sans", false, 0, 0, 13, false},
    {"MS Serif", "DejaVu Serif", false, 0, 0, 13, false},
    {"Tms Rmn", "DejaVu Serif", false, 0, 0, 13, false},
    {"Courier", "DejaVu Sans Mono", false, 0, 0, 13, false},
    {"Courier New", "DejaVu Sans Mono", false, 0, 0, 16, false},
    {"Arial", "DejaVu Sans", false, 0, 0, 16, false},
    {"Times New Roman", "DejaVu Serif", false, 0, 0, 16, false},
    {"Small Fonts", "DejaVu Sans", false, 0, 0, 8, false},
};

// Fixed-cell faces registered by AddFontResource for a font file of the
// terminal that is not installed: "NAME-WxH" with code page 437 characters.
struct CellFace {
  std::string name;
  int w, h;
};
std::mutex g_faces_lock;
std::vector<CellFace> g_cell_faces;
std::map<std::string, int> g_font_files;  // upper-case file name -> faces added

const char *kTerminalFontFile = "QXFONT.FON";
const CellFace kTerminalFaces[] = {{"DEC-4x6", 4, 6},     {"DEC-5x12", 5, 12},   {"DEC-6x8", 6, 8},
                                   {"DEC-7x12", 7, 12},   {"DEC-8x14", 8, 14},   {"DEC-9x16", 9, 16},
                                   {"DEC-10x18", 10, 18}, {"DEC-10x24", 10, 24}, {"DEC-12x32", 12, 32}};

std::string Upper(std::string s) {
  for (char &c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

namespace {

// fontconfig reads and parses its configuration (some fifty files) and maps
// its caches on first use: milliseconds that a process spends before its
// first text. A process that will draw text starts the work on a thread of
// its own (StartFontSetup, from its first window that will be seen or its
// first font), so it overlaps the program's own start; whatever first asks
// fontconfig for something waits for it to end, or does it itself when
// nothing started it (two threads initialising at once would each parse the
// configuration). A process that only reads display metrics never starts it.
class FontConfigStart {
 public:
  FontConfigStart() {
    pthread_atfork(nullptr, nullptr, [] { Instance().ForgetThread(); });
  }
  static FontConfigStart &Instance();
  // Starts the work on a thread, once.
  void Start() {
    int idle = kIdle;
    if (!state_.compare_exchange_strong(idle, kRunning)) return;
    try {
      std::thread([this] { Run(); }).detach();
    } catch (const std::system_error &) {
      Run();  // no thread: the work is done here
    }
  }
  // fontconfig is needed now: waits for the thread, or does the work here.
  void Ready() {
    int idle = kIdle;
    if (state_.compare_exchange_strong(idle, kRunning)) return Run();
    for (int s = state_.load(); s == kRunning; s = state_.load()) state_.wait(kRunning);
  }
  bool Started() const { return state_.load() != kIdle; }

 private:
  enum : int { kIdle, kRunning, kDone };
  void Run() {
    FcInit();
    state_.store(kDone);
    state_.notify_all();
  }
  // A child made by fork() has no such thread: its first font does the work.
  void ForgetThread() {
    int running = kRunning;
    state_.compare_exchange_strong(running, kIdle);
  }
  std::atomic<int> state_{kIdle};
};

FontConfigStart g_fontconfig_start;
FontConfigStart &FontConfigStart::Instance() { return g_fontconfig_start; }

}  // namespace

void StartFontSetup() { FontConfigStart::Instance().Start(); }
bool FontSetupStarted() { return FontConfigStart::Instance().Started(); }

Font::Realized::~Realized() {
  if (scaled) cairo_scaled_font_destroy(scaled);
}

namespace {

cairo_scaled_font_t *MakeScaled(const char *family, bool bold, bool italic, double size) {
  cairo_font_face_t *face =
      cairo_toy_font_face_create(family, italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                                 bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_matrix_t fm, ctm;
  cairo_matrix_init_scale(&fm, size, size);
  cairo_matrix_init_identity(&ctm);
  cairo_font_options_t *opt = cairo_font_options_create();
  cairo_font_options_set_antialias(opt, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(opt, CAIRO_HINT_STYLE_FULL);
  cairo_font_options_set_hint_metrics(opt, CAIRO_HINT_METRICS_ON);
  cairo_scaled_font_t *sf = cairo_scaled_font_create(face, &fm, &ctm, opt);
  cairo_font_options_destroy(opt);
  cairo_font_face_destroy(face);
  return sf;
}

// Character c's glyph and whole-pixel advance. A cell face advances by its
// cell whatever the outline's glyph measures.
void MeasureGlyph(Font::Realized &r, int c) {
  char32_t u = ToUnicode(static_cast<unsigned char>(c), r.oem);
  if (u < 0x20 || (u >= 0x7F && u < 0xA0)) u = r.oem && u ? u : U' ';  // control characters draw as blanks
  const std::string s = Utf8(u);
  cairo_glyph_t *glyphs = nullptr;
  int n = 0;
  if (cairo_scaled_font_text_to_glyphs(r.scaled, 0, 0, s.c_str(), static_cast<int>(s.size()), &glyphs, &n, nullptr,
                                       nullptr, nullptr) == CAIRO_STATUS_SUCCESS &&
      n > 0) {
    r.glyph[c] = static_cast<std::uint32_t>(glyphs[0].index);
    if (r.cell) {
      r.advance[c] = r.cell_w;
    } else {
      cairo_text_extents_t ext;
      cairo_scaled_font_glyph_extents(r.scaled, glyphs, 1, &ext);
      r.advance[c] = static_cast<int>(std::lround(ext.x_advance));
    }
  }
  cairo_glyph_free(glyphs);
}

}  // namespace

void Font::Realized::MeasureSlow(const std::uint64_t need[4]) {
  std::lock_guard guard(measure_lock_);
  for (int k = 0; k < 4; ++k) {
    const std::uint64_t had = measured_[k].load(std::memory_order_relaxed);
    const std::uint64_t missing = need[k] & ~had;
    if (!missing) continue;
    for (int b = 0; b < 64; ++b)
      if (missing & (std::uint64_t{1} << b)) MeasureGlyph(*this, k * 64 + b);
    // Published after the entries are written: a reader that sees the bit sees them.
    measured_[k].store(had | missing, std::memory_order_release);
  }
}

void Font::Realized::MeasureRange(int first, int last) {
  std::uint64_t need[4] = {0, 0, 0, 0};
  for (int c = std::max(0, first); c <= std::min(255, last); ++c) need[c >> 6] |= std::uint64_t{1} << (c & 63);
  MeasureSet(need);
}

int Font::Realized::Ave() {
  if (cell) return cell_w;
  if (fixed) {
    Measure("x", 1);
    return advance[static_cast<unsigned char>('x')];
  }
  // The average of the lower-case letters and the blank, as desktop fonts report it.
  MeasureRange('a', 'z');
  Measure(" ", 1);
  int sum = 0;
  for (char c = 'a'; c <= 'z'; ++c) sum += advance[static_cast<unsigned char>(c)];
  return static_cast<int>(std::lround((sum + advance[32]) / 27.0));
}

int Font::Realized::Max() {
  if (cell) return cell_w;
  MeasureRange(32, 255);
  int widest = outline_max;
  for (int c = 32; c < 256; ++c) widest = std::max(widest, advance[c]);
  return widest;
}

namespace {

const FaceMap *FindFace(const char *name) {
  for (const FaceMap &f : kFaces)
    if (strcasecmp(f.name, name) == 0) return &f;
  return nullptr;
}

std::optional<CellFace> FindCellFace(const char *name) {
  std::lock_guard guard(g_faces_lock);
  for (const CellFace &f : g_cell_faces)
    if (strcasecmp(f.name.c_str(), name) == 0) return f;
  return std::nullopt;
}

std::unique_ptr<Font::Realized> Realize(const LOGFONTA &lf, int device_height) {
  FontConfigStart::Instance().Ready();
  auto r = std::make_unique<Font::Realized>();
  char name[LF_FACESIZE + 1] = {};
  std::memcpy(name, lf.lfFaceName, LF_FACESIZE);
  const FaceMap *face = FindFace(name);
  const auto cell = FindCellFace(name);
  const bool want_fixed = (lf.lfPitchAndFamily & 3) == FIXED_PITCH || (lf.lfPitchAndFamily & 0xF0) == FF_MODERN;
  const char *family = face                                       ? face->family
                       : cell                                     ? "DejaVu Sans Mono"
                       : want_fixed                               ? "DejaVu Sans Mono"
                       : (lf.lfPitchAndFamily & 0xF0) == FF_ROMAN ? "DejaVu Serif"
                                                                  : "DejaVu Sans";
  const bool bold = lf.lfWeight >= FW_SEMIBOLD || (face && face->bold);
  r->weight = bold ? FW_BOLD : (lf.lfWeight ? static_cast<int>(lf.lfWeight) : FW_NORMAL);
  r->oem = lf.lfCharSet == OEM_CHARSET || cell || (face && face->oem);
  int cw = cell ? cell->w : face ? face->cell_w : 0;
  int ch = cell ? cell->h : face ? face->cell_h : 0;
  r->truetype = !(cw && ch) && lf.lfOutPrecision != OUT_RASTER_PRECIS;
  // Unit-size metrics of the outline decide the size that gives the cell.
  cairo_scaled_font_t *unit = MakeScaled(family, bold, lf.lfItalic, 100.0);
  cairo_font_extents_t ue;
  cairo_scaled_font_extents(unit, &ue);
  cairo_text_extents_t mx;
  cairo_scaled_font_text_extents(unit, "M", &mx);
  cairo_scaled_font_destroy(unit);
  const double box = (ue.ascent + ue.descent) / 100.0;  // cell height per pixel of em
  if (cw && ch) {
    // A raster face keeps its cell; the outline is sized to fit inside it.
    const double em = std::min(ch / box, cw / (mx.x_advance / 100.0));
    r->cell = true;
    r->fixed = true;
    r->cell_w = cw;
    r->scaled = MakeScaled(family, bold, lf.lfItalic, em);
    cairo_font_extents_t fe;
    cairo_scaled_font_extents(r->scaled, &fe);
    r->height = ch;
    r->ascent = static_cast<int>(std::lround((ch - (fe.ascent + fe.descent)) / 2 + fe.ascent));
    r->descent = ch - r->ascent;
    r->glyph_offset = (cw - mx.x_advance / 100.0 * em) / 2;
    // The terminal's faces draw from their bitmaps; the outline stays for printing.
    for (const TerminalFace &tf : kTerminalBitmapFaces)
      if (cell && tf.w == cw && tf.h == ch && strcasecmp(tf.name, name) == 0) {
        r->bitmap = tf.rows;
        r->ascent = tf.ascent;
        r->descent = ch - tf.ascent;
      }
  } else {
    int h = device_height;
    if (h == 0) h = face ? face->default_height : 16;
    const double em = h < 0 ? -h : h / box;
    r->scaled = MakeScaled(family, bold, lf.lfItalic, std::max(1.0, em));
    cairo_font_extents_t fe;
    cairo_scaled_font_extents(r->scaled, &fe);
    if (h > 0) {
      // A positive height is the cell height itself, shared out in the outline's proportion.
      r->height = h;
      r->ascent = static_cast<int>(std::lround(h * fe.ascent / (fe.ascent + fe.descent)));
      r->descent = h - r->ascent;
    } else {
      r->ascent = static_cast<int>(std::lround(fe.ascent));
      r->descent = static_cast<int>(std::lround(fe.descent));
      r->height = r->ascent + r->descent;
    }
    r->internal_leading = std::max(0, r->height - static_cast<int>(std::lround(em)));
    r->external_leading = std::max(0, static_cast<int>(std::lround(fe.height)) - r->height);
    r->fixed = std::strstr(family, "Mono") != nullptr;
    r->outline_max = static_cast<int>(std::lround(fe.max_x_advance));
  }
  return r;
}

Font::Realized &RealizedFor(DC &dc) {
  std::shared_ptr<Font> fallback;
  Font *f = dc.st.font_obj.get();
  if (!f) {
    fallback = DefaultFont();
    f = fallback.get();
  }
  // Outline fonts follow the mapping mode; raster cells do not scale.
  int h = f->log.lfHeight;
  if (dc.st.map_mode != MM_TEXT && h != 0) h = (h < 0 ? -1 : 1) * std::abs(dc.ScaleY(h));
  // A list measures every row through one DC: the last answer is kept there.
  if (dc.realized && dc.realized_font.get() == f && dc.realized_height == h) return *dc.realized;
  Font::Realized *r;
  {
    std::lock_guard guard(f->lock);
    auto &slot = f->realized[h];
    if (!slot) slot = Realize(f->log, h);
    r = slot.get();
  }
  dc.realized_font = fallback ? std::move(fallback) : dc.st.font_obj;
  dc.realized_height = h;
  dc.realized = r;
  return *r;
}

HFONT NewFont(const LOGFONTA &lf) {
  StartFontSetup();  // a font made is drawn with soon
  auto f = std::make_shared<Font>();
  f->log = lf;
  f->log.lfFaceName[LF_FACESIZE - 1] = 0;  // a face name is always terminated
  return static_cast<HFONT>(InsertObject(f));
}

LOGFONTA MakeLog(int height, int weight, BYTE charset, BYTE pitch, const char *face) {
  LOGFONTA lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfCharSet = charset;
  lf.lfPitchAndFamily = pitch;
  std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return lf;
}

int LogicalWidth(DC &dc, int device_px) {
  if (dc.st.map_mode == MM_TEXT || dc.st.viewport_ext.cx == 0) return device_px;
  return static_cast<int>(std::lround(static_cast<double>(device_px) * dc.st.window_ext.cx / dc.st.viewport_ext.cx));
}
int LogicalHeight(DC &dc, int device_px) {
  if (dc.st.map_mode == MM_TEXT || dc.st.viewport_ext.cy == 0) return device_px;
  return std::abs(
      static_cast<int>(std::lround(static_cast<double>(device_px) * dc.st.window_ext.cy / dc.st.viewport_ext.cy)));
}

}  // namespace

void FontLog(const Font &f, LOGFONTA &out) { out = f.log; }

HGDIOBJ StockFont(int index) {
  static HGDIOBJ fonts[DEFAULT_GUI_FONT + 1] = {};
  if (!fonts[index]) {
    LOGFONTA lf{};
    switch (index) {
      case OEM_FIXED_FONT: lf = MakeLog(12, FW_NORMAL, OEM_CHARSET, FIXED_PITCH | FF_MODERN, "Terminal"); break;
      case ANSI_FIXED_FONT: lf = MakeLog(13, FW_NORMAL, ANSI_CHARSET, FIXED_PITCH | FF_MODERN, "Courier"); break;
      case ANSI_VAR_FONT: lf = MakeLog(13, FW_NORMAL, ANSI_CHARSET, VARIABLE_PITCH | FF_SWISS, "MS Sans Serif"); break;
      case SYSTEM_FIXED_FONT: lf = MakeLog(15, FW_NORMAL, ANSI_CHARSET, FIXED_PITCH | FF_MODERN, "Fixedsys"); break;
      case DEFAULT_GUI_FONT:
        lf = MakeLog(-11, FW_NORMAL, ANSI_CHARSET, VARIABLE_PITCH | FF_SWISS, "MS Sans Serif");
        break;
      case SYSTEM_FONT:
      case DEVICE_DEFAULT_FONT: lf = MakeLog(16, FW_BOLD, ANSI_CHARSET, VARIABLE_PITCH | FF_SWISS, "System"); break;
      default: return nullptr;
    }
    auto f = std::make_shared<Font>();
    f->log = lf;
    f->stock = true;
    fonts[index] = InsertObject(f);
  }
  return fonts[index];
}

HGDIOBJ GetStock(int i);  // dc.cpp

std::shared_ptr<Font> DefaultFont() { return LookupObject<Font>(GetStock(SYSTEM_FONT), Type::Font); }

void FontMetrics(DC &dc, TEXTMETRICA &tm, bool with_widest) {
  Font::Realized &r = RealizedFor(dc);
  const LOGFONTA &lf = (dc.st.font_obj ? dc.st.font_obj : DefaultFont())->log;
  tm = TEXTMETRICA{};
  tm.tmHeight = LogicalHeight(dc, r.height);
  tm.tmAscent = LogicalHeight(dc, r.ascent);
  tm.tmDescent = LogicalHeight(dc, r.descent);
  tm.tmInternalLeading = LogicalHeight(dc, r.internal_leading);
  tm.tmExternalLeading = LogicalHeight(dc, r.external_leading);
  tm.tmAveCharWidth = LogicalWidth(dc, r.Ave());
  // The widest character takes every glyph measured: only asked for when the caller may read it.
  tm.tmMaxCharWidth = with_widest ? LogicalWidth(dc, r.Max()) : 0;
  tm.tmWeight = r.weight;
  tm.tmDigitizedAspectX = tm.tmDigitizedAspectY = 96;
  tm.tmFirstChar = r.oem ? 0 : 0x20;
  tm.tmLastChar = 0xFF;
  tm.tmDefaultChar = r.oem ? 0xFE : 0x80;
  tm.tmBreakChar = 0x20;
  tm.tmItalic = lf.lfItalic;
  tm.tmUnderlined = lf.lfUnderline;
  tm.tmStruckOut = lf.lfStrikeOut;
  BYTE family = lf.lfPitchAndFamily & 0xF0;
  if (!family) family = r.fixed ? FF_MODERN : FF_SWISS;
  tm.tmPitchAndFamily =
      static_cast<BYTE>(family | (r.fixed ? 0 : TMPF_FIXED_PITCH) | (r.truetype ? TMPF_TRUETYPE | TMPF_VECTOR : 0));
  tm.tmCharSet = r.oem ? OEM_CHARSET : lf.lfCharSet == OEM_CHARSET ? OEM_CHARSET : ANSI_CHARSET;
}

namespace {

int TextWidthIn(DC &dc, Font::Realized &r, const char *s, int n) {
  r.Measure(s, n);
  const int extra = dc.ScaleX(dc.st.char_extra);
  int w = 0;
  for (int i = 0; i < n; ++i) w += r.advance[static_cast<unsigned char>(s[i])] + extra;
  return w;  // device pixels
}

}  // namespace

int TextWidth(DC &dc, const char *s, int n) { return TextWidthIn(dc, RealizedFor(dc), s, n); }

namespace {

// A bitmap face's glyphs set straight into the coverage mask, from the mask's
// left margin (one cell height, as for outline glyphs) on. A bold request
// doubles each dot to the right, inside the cell.
void DrawBitmapGlyphs(const Font::Realized &r, const char *s, int n, const std::vector<int> &adv, unsigned char *mask,
                      int stride, int mw, int mh) {
  const int width = std::min(r.cell_w, 16);
  int gx = r.height;
  for (int i = 0; i < n; ++i) {
    const std::uint16_t *rows = r.bitmap + static_cast<unsigned char>(s[i]) * r.height;
    for (int y = 0; y < r.height && y < mh; ++y) {
      std::uint32_t dots = rows[y];
      if (r.weight >= FW_BOLD) dots |= dots >> 1;
      for (int x = 0; x < width; ++x)
        if ((dots & (0x8000u >> x)) && gx + x >= 0 && gx + x < mw) mask[y * stride + gx + x] = 255;
    }
    gx += adv[i];
  }
}

}  // namespace

void DrawTextRun(DC &dc, int x, int y, const char *s, int n, const INT *dx, const RECT *opaque, const RECT *clip) {
  Font::Realized &r = RealizedFor(dc);
  Surface &surf = *dc.Target();
  const std::shared_ptr<Font> fobj = dc.st.font_obj ? dc.st.font_obj : DefaultFont();
  std::vector<int> adv(static_cast<size_t>(std::max(0, n)));
  r.Measure(s, std::max(0, n));
  int width = 0;
  for (int i = 0; i < n; ++i) {
    adv[i] = dx ? dc.ScaleX(dx[i]) : r.advance[static_cast<unsigned char>(s[i])] + dc.ScaleX(dc.st.char_extra);
    width += adv[i];
  }
  POINT p = (dc.st.text_align & TA_UPDATECP) ? dc.ToSurface(dc.st.current.x, dc.st.current.y) : dc.ToSurface(x, y);
  const UINT h_align = dc.st.text_align & TA_CENTER;
  if (h_align == TA_CENTER)
    p.x -= width / 2;
  else if (h_align == TA_RIGHT)
    p.x -= width;
  const UINT v_align = dc.st.text_align & TA_BASELINE;
  if (v_align == TA_BASELINE)
    p.y -= r.ascent;
  else if (v_align == TA_BOTTOM)
    p.y -= r.height;
  if (dc.st.text_align & TA_UPDATECP) {
    const int moved = h_align == TA_RIGHT ? -width : h_align == TA_CENTER ? 0 : width;
    dc.st.current.x += LogicalWidth(dc, moved);
  }
  Rects area = dc.ClipRects();
  if (clip) area = IntersectRects(area, *clip);
  const std::uint32_t bk = PixelFromColorref(ResolveColor(dc, dc.st.bk_color));
  auto fill = [&](const RECT &box) {
    for (const RECT &c : IntersectRects(area, box))
      for (int yy = c.top; yy < c.bottom; ++yy)
        for (int xx = c.left; xx < c.right; ++xx) surf.Put(xx, yy, bk);
  };
  if (opaque)
    fill(*opaque);
  else if (dc.st.bk_mode == OPAQUE)
    fill(RECT{p.x, p.y, p.x + width, p.y + r.height});
  if (n <= 0) return;
  // Glyph coverage into an 8-bit mask over the text box, then blended in the text colour.
  const RECT box{p.x - r.height, p.y, p.x + width + r.height, p.y + r.height};
  const Rects targets = IntersectRects(area, box);
  if (targets.empty()) return;
  const int mw = box.right - box.left, mh = box.bottom - box.top;
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, mw);
  std::vector<unsigned char> mask(static_cast<size_t>(stride) * mh, 0);
  cairo_surface_t *cs = cairo_image_surface_create_for_data(mask.data(), CAIRO_FORMAT_A8, mw, mh, stride);
  cairo_t *cr = cairo_create(cs);
  cairo_set_scaled_font(cr, r.scaled);
  std::vector<cairo_glyph_t> glyphs;
  double gx = r.height + r.glyph_offset;
  for (int i = 0; i < n; ++i) {
    glyphs.push_back(cairo_glyph_t{r.glyph[static_cast<unsigned char>(s[i])], gx, static_cast<double>(r.ascent)});
    gx += adv[i];
  }
  if (r.bitmap)
    DrawBitmapGlyphs(r, s, n, adv, mask.data(), stride, mw, mh);
  else
    cairo_show_glyphs(cr, glyphs.data(), static_cast<int>(glyphs.size()));
  if (dc.printer) {  // the document keeps the text as text, under the page's pixels
    std::vector<PrintedGlyph> printed;
    for (int i = 0; i < n; ++i)
      printed.push_back(PrintedGlyph{glyphs[i].index, box.left + glyphs[i].x, box.top + glyphs[i].y,
                                     ToUnicode(static_cast<unsigned char>(s[i]), r.oem)});
    RecordPrinterText(dc, r.scaled, printed);
  }
  const LOGFONTA &lf = fobj->log;
  const int line = std::max(1, r.height / 14);
  if (lf.lfUnderline) cairo_rectangle(cr, r.height, r.ascent + 1, width, line);
  if (lf.lfStrikeOut) cairo_rectangle(cr, r.height, r.ascent * 2 / 3, width, line);
  cairo_fill(cr);
  cairo_destroy(cr);
  cairo_surface_flush(cs);
  cairo_surface_destroy(cs);
  std::uint32_t fg = PixelFromColorref(ResolveColor(dc, dc.st.text_color));
  if (surf.mono) fg = Surface::ToMono(fg);
  for (const RECT &c : targets)
    for (int yy = c.top; yy < c.bottom; ++yy)
      for (int xx = c.left; xx < c.right; ++xx) {
        const unsigned a = mask[static_cast<size_t>(yy - box.top) * stride + (xx - box.left)];
        if (!a) continue;
        if (surf.mono || a == 255) {
          if (a >= 128) surf.Put(xx, yy, fg);
          continue;
        }
        const std::uint32_t d = surf.Get(xx, yy);
        std::uint32_t out = 0;
        for (int sh = 0; sh <= 16; sh += 8) {
          const unsigned dv = (d >> sh) & 0xFF, fv = (fg >> sh) & 0xFF;
          out |= ((fv * a + dv * (255 - a) + 127) / 255) << sh;
        }
        surf.Put(xx, yy, out);
      }
}

}  // namespace qx::gdi

using namespace qx::gdi;
using qx::Fail;

namespace {

int Length(LPCSTR s, int c) {
  if (!s) return 0;
  return c < 0 ? static_cast<int>(std::strlen(s)) : c;
}

// Width up to each tab stop: no stops = every 8 average characters, one = that interval, more = the list.
int NextTab(int x, int origin, int n, const INT *stops, int ave) {
  const int rel = x - origin;
  if (n <= 0 || !stops) {
    const int step = std::max(1, 8 * ave);
    return origin + (rel / step + 1) * step;
  }
  if (n == 1) {
    const int step = std::max(1, std::abs(stops[0]));
    return origin + (rel / step + 1) * step;
  }
  for (int i = 0; i < n; ++i)
    if (std::abs(stops[i]) > rel) return origin + std::abs(stops[i]);
  return x + ave;  // past the last stop a tab is one blank wide
}

// Splits text at tabs and draws or measures it. Returns the width in logical units.
int TabbedRun(DC &dc, int x, int y, const char *s, int n, int nstops, const INT *stops, int origin, bool draw) {
  TEXTMETRICA tm;
  FontMetrics(dc, tm, false);
  int cx = x;
  int start = 0;
  for (int i = 0; i <= n; ++i) {
    if (i < n && s[i] != '\t') continue;
    const int seg = i - start;
    if (seg > 0) {
      if (draw) DrawTextRun(dc, cx, y, s + start, seg, nullptr, nullptr, nullptr);
      cx += LogicalWidth(dc, TextWidth(dc, s + start, seg));
    }
    if (i < n) {
      const int next = NextTab(cx, origin, nstops, stops, tm.tmAveCharWidth);
      if (draw && dc.st.bk_mode == OPAQUE) {
        // The blank up to the tab stop takes the background colour too.
        const POINT a = dc.ToSurface(cx, y), b = dc.ToSurface(next, y + tm.tmHeight);
        const std::uint32_t bk = PixelFromColorref(ResolveColor(dc, dc.st.bk_color));
        Surface &surf = *dc.Target();
        for (const RECT &c : IntersectRects(dc.ClipRects(), RECT{a.x, a.y, b.x, b.y}))
          for (int yy = c.top; yy < c.bottom; ++yy)
            for (int xx = c.left; xx < c.right; ++xx) surf.Put(xx, yy, bk);
      }
      cx = next;
    }
    start = i + 1;
  }
  return cx - x;
}

}  // namespace

extern "C" {

HFONT WINAPI CreateFontIndirectA(const LOGFONTA *lf) {
  if (!lf) return Fail<HFONT>(ERROR_INVALID_PARAMETER, nullptr);
  return NewFont(*lf);
}

HFONT WINAPI CreateFontA(int height, int width, int esc, int orient, int weight, DWORD italic, DWORD underline,
                         DWORD strike, DWORD charset, DWORD out_prec, DWORD clip_prec, DWORD quality, DWORD pitch,
                         LPCSTR face) {
  LOGFONTA lf{};
  lf.lfHeight = height;
  lf.lfWidth = width;
  lf.lfEscapement = esc;
  lf.lfOrientation = orient;
  lf.lfWeight = weight;
  lf.lfItalic = static_cast<BYTE>(italic != 0);
  lf.lfUnderline = static_cast<BYTE>(underline != 0);
  lf.lfStrikeOut = static_cast<BYTE>(strike != 0);
  lf.lfCharSet = static_cast<BYTE>(charset);
  lf.lfOutPrecision = static_cast<BYTE>(out_prec);
  lf.lfClipPrecision = static_cast<BYTE>(clip_prec);
  lf.lfQuality = static_cast<BYTE>(quality);
  lf.lfPitchAndFamily = static_cast<BYTE>(pitch);
  if (face) std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return NewFont(lf);
}

BOOL WINAPI GetTextMetricsA(HDC hdc, LPTEXTMETRICA tm) {
  auto dc = LookupDC(hdc);
  if (!dc || !tm) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  FontMetrics(*dc, *tm);
  return TRUE;
}

int WINAPI GetTextFaceA(HDC hdc, int c, LPSTR name) {
  auto dc = LookupDC(hdc);
  if (!dc) return 0;
  const std::shared_ptr<Font> f = dc->st.font_obj ? dc->st.font_obj : DefaultFont();
  char face[LF_FACESIZE + 1] = {};
  std::memcpy(face, f->log.lfFaceName, LF_FACESIZE);
  if (!face[0]) std::strcpy(face, "System");
  const int len = static_cast<int>(std::strlen(face));
  if (!name) return len + 1;
  if (c <= 0) return 0;
  const int n = std::min(len, c - 1);
  std::memcpy(name, face, static_cast<size_t>(n));
  name[n] = 0;
  return n;
}

BOOL WINAPI GetTextExtentPoint32A(HDC hdc, LPCSTR s, int c, LPSIZE size) {
  auto dc = LookupDC(hdc);
  if (!dc || !size || c < 0 || (!s && c > 0)) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  // The font is realized once for both numbers: lists measure every row.
  Font::Realized &r = RealizedFor(*dc);
  size->cx = LogicalWidth(*dc, TextWidthIn(*dc, r, s, c));
  size->cy = LogicalHeight(*dc, r.height);
  return TRUE;
}

BOOL WINAPI GetTextExtentPointA(HDC hdc, LPCSTR s, int c, LPSIZE size) {
  return GetTextExtentPoint32A(hdc, s, c, size);
}

BOOL WINAPI GetCharWidthA(HDC hdc, UINT first, UINT last, LPINT widths) {
  auto dc = LookupDC(hdc);
  if (!dc || !widths || first > last || last > 255) return FALSE;
  for (UINT c = first; c <= last; ++c) {
    const char ch = static_cast<char>(c);
    widths[c - first] = LogicalWidth(*dc, TextWidth(*dc, &ch, 1));
  }
  return TRUE;
}

DWORD WINAPI GetTabbedTextExtentA(HDC hdc, LPCSTR s, int n, int nstops, const INT *stops) {
  auto dc = LookupDC(hdc);
  if (!dc || n < 0 || (!s && n > 0)) return 0;
  TEXTMETRICA tm;
  FontMetrics(*dc, tm, false);
  const int w = TabbedRun(*dc, 0, 0, s, n, nstops, stops, 0, false);
  return static_cast<DWORD>(MAKELONG(w, tm.tmHeight));
}

LONG WINAPI TabbedTextOutA(HDC hdc, int x, int y, LPCSTR s, int n, int nstops, const INT *stops, int origin) {
  Drawing d(hdc);
  if (!d || n < 0 || (!s && n > 0)) return 0;
  TEXTMETRICA tm;
  FontMetrics(d.dc(), tm, false);
  const int w = TabbedRun(d.dc(), x, y, s, n, nstops, stops, origin, true);
  return MAKELONG(w, tm.tmHeight);
}

BOOL WINAPI TextOutA(HDC hdc, int x, int y, LPCSTR s, int c) {
  Drawing d(hdc);
  if (!d || c < 0 || (!s && c > 0)) return FALSE;
  DrawTextRun(d.dc(), x, y, s, c, nullptr, nullptr, nullptr);
  return TRUE;
}

BOOL WINAPI ExtTextOutA(HDC hdc, int x, int y, UINT options, const RECT *rc, LPCSTR s, UINT c, const INT *dx) {
  Drawing d(hdc);
  if (!d || (!s && c > 0) || c > 0x7FFFFFF) return FALSE;
  RECT srect{};
  if (rc) {
    const POINT a = d->ToSurface(rc->left, rc->top), b = d->ToSurface(rc->right, rc->bottom);
    srect = RECT{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
  }
  const bool opaque = rc && (options & ETO_OPAQUE);
  const bool clipped = rc && (options & ETO_CLIPPED);
  // With an opaque rectangle only the rectangle is filled; the text's own background is not.
  const int saved_mode = d->st.bk_mode;
  if (opaque) d->st.bk_mode = TRANSPARENT;
  DrawTextRun(d.dc(), x, y, s, static_cast<int>(c), dx, opaque ? &srect : nullptr, clipped ? &srect : nullptr);
  d->st.bk_mode = saved_mode;
  return TRUE;
}

int WINAPI DrawTextA(HDC hdc, LPCSTR text, int count, LPRECT rc, UINT format) {
  Drawing d(hdc);
  if (!d || !rc || (!text && count != 0)) return 0;
  DC &dc = d.dc();
  const int n = Length(text, count);
  TEXTMETRICA tm;
  FontMetrics(dc, tm, false);
  const int line_h = tm.tmHeight + ((format & DT_EXTERNALLEADING) ? tm.tmExternalLeading : 0);
  const int tab_chars = (format & DT_TABSTOP) ? std::max(1, static_cast<int>((format >> 8) & 0xFF)) : 8;
  const int tab_w = tab_chars * tm.tmAveCharWidth;
  const int box_w = rc->right - rc->left;

  // Lines of (text without prefix marks, position of the underlined character or -1).
  struct Line {
    std::string s;
    int mnemonic = -1;
  };
  std::vector<Line> lines(1);
  auto width_of = [&](const std::string &s) {
    if (!(format & DT_EXPANDTABS)) return LogicalWidth(dc, TextWidth(dc, s.data(), static_cast<int>(s.size())));
    INT stop = tab_w;
    return TabbedRun(dc, 0, 0, s.data(), static_cast<int>(s.size()), 1, &stop, 0, false);
  };
  for (int i = 0; i < n; ++i) {
    const char c = text[i];
    if (!(format & DT_SINGLELINE) && (c == '\r' || c == '\n')) {
      if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
      lines.emplace_back();
      continue;
    }
    if (c == '&' && !(format & DT_NOPREFIX)) {
      if (i + 1 < n && text[i + 1] == '&') {
        lines.back().s += '&';
        ++i;
        continue;
      }
      if (i + 1 < n) lines.back().mnemonic = static_cast<int>(lines.back().s.size());
      continue;
    }
    lines.back().s += c;
  }
  if (format & DT_WORDBREAK) {
    // Break lines at blanks so that each fits the rectangle; a single word longer than the line stays whole.
    std::vector<Line> wrapped;
    for (Line &l : lines) {
      std::string rest = l.s;
      int mn = l.mnemonic;
      while (!rest.empty()) {
        size_t cut = rest.size();
        if (width_of(rest) > box_w) {
          size_t good = std::string::npos;
          for (size_t k = 1; k < rest.size(); ++k)
            if (rest[k] == ' ' && width_of(rest.substr(0, k)) <= box_w) good = k;
          if (good != std::string::npos) cut = good;
        }
        Line part;
        part.s = rest.substr(0, cut);
        if (mn >= 0 && mn < static_cast<int>(cut)) part.mnemonic = mn;
        wrapped.push_back(part);
        size_t next = cut;
        while (next < rest.size() && rest[next] == ' ') ++next;
        mn = mn >= 0 ? mn - static_cast<int>(next) : -1;
        rest = rest.substr(next);
      }
      if (l.s.empty()) wrapped.push_back(Line{});
    }
    lines = wrapped;
  }
  if (format & DT_END_ELLIPSIS) {
    for (Line &l : lines)
      if (width_of(l.s) > box_w) {
        std::string s = l.s;
        while (!s.empty() && width_of(s + "...") > box_w) s.pop_back();
        l.s = s + "...";
        if (l.mnemonic >= static_cast<int>(s.size())) l.mnemonic = -1;
      }
  }
  int max_w = 0;
  for (const Line &l : lines) max_w = std::max(max_w, width_of(l.s));
  const int total_h = line_h * static_cast<int>(lines.size());
  if (format & DT_CALCRECT) {
    rc->right = rc->left + max_w;
    rc->bottom = rc->top + total_h;
    return total_h;
  }
  int y = rc->top;
  if (format & DT_SINGLELINE) {
    if (format & DT_VCENTER)
      y = rc->top + (rc->bottom - rc->top - line_h) / 2;
    else if (format & DT_BOTTOM)
      y = rc->bottom - line_h;
  }
  const UINT saved_align = dc.st.text_align;
  dc.st.text_align = TA_LEFT | TA_TOP;
  std::optional<Rects> saved_clip = dc.st.clip;
  if (!(format & DT_NOCLIP)) IntersectClipRect(hdc, rc->left, rc->top, rc->right, rc->bottom);
  for (const Line &l : lines) {
    const int w = width_of(l.s);
    int x = rc->left;
    if (format & DT_CENTER)
      x = rc->left + (box_w - w) / 2;
    else if (format & DT_RIGHT)
      x = rc->right - w;
    if (format & DT_EXPANDTABS) {
      INT stop = tab_w;
      TabbedRun(dc, x, y, l.s.data(), static_cast<int>(l.s.size()), 1, &stop, x, true);
    } else {
      DrawTextRun(dc, x, y, l.s.data(), static_cast<int>(l.s.size()), nullptr, nullptr, nullptr);
    }
    if (l.mnemonic >= 0 && l.mnemonic < static_cast<int>(l.s.size())) {
      // The mnemonic's underline: one line under that character, in the text colour.
      const int ux = x + width_of(l.s.substr(0, l.mnemonic));
      const int uw = width_of(l.s.substr(l.mnemonic, 1));
      const POINT a = dc.ToSurface(ux, y + tm.tmAscent + 1), b = dc.ToSurface(ux + uw, y + tm.tmAscent + 2);
      std::uint32_t fg = PixelFromColorref(ResolveColor(dc, dc.st.text_color));
      Surface &s = *dc.Target();
      for (const RECT &c : IntersectRects(dc.ClipRects(), RECT{a.x, a.y, b.x, std::max(b.y, a.y + 1)}))
        for (int yy = c.top; yy < c.bottom; ++yy)
          for (int xx = c.left; xx < c.right; ++xx) s.Put(xx, yy, fg);
    }
    y += line_h;
  }
  dc.st.clip = std::move(saved_clip);  // moved back: the saved copy is not used again
  dc.st.text_align = saved_align;
  return (format & DT_SINGLELINE) ? (y - rc->top) : total_h;
}

int WINAPI AddFontResourceA(LPCSTR file) {
  if (!file || !*file) return Fail(ERROR_INVALID_PARAMETER, 0);
  std::string name = file;
  const size_t slash = name.find_last_of("/\\");
  const std::string base = Upper(slash == std::string::npos ? name : name.substr(slash + 1));
  std::lock_guard guard(g_faces_lock);
  if (auto it = g_font_files.find(base); it != g_font_files.end()) return it->second;
  struct stat st;
  int added = 0;
  if (stat(file, &st) == 0 && S_ISREG(st.st_mode)) {
    // A real font file (FreeType reads .FON, .FNT, TrueType and more): fontconfig serves its faces.
    FontConfigStart::Instance().Ready();
    if (FcConfigAppFontAddFile(nullptr, reinterpret_cast<const FcChar8 *>(file))) added = 1;
  } else if (base == kTerminalFontFile) {
    // The terminal's font file is not installed: its nine cell faces are the bitmap faces built with the layer.
    for (const CellFace &f : kTerminalFaces) g_cell_faces.push_back(f);
    added = static_cast<int>(std::size(kTerminalFaces));
  }
  if (!added) return Fail(ERROR_FILE_NOT_FOUND, 0);
  g_font_files[base] = added;
  return added;
}

BOOL WINAPI RemoveFontResourceA(LPCSTR file) {
  if (!file) return FALSE;
  std::string name = file;
  const size_t slash = name.find_last_of("/\\");
  const std::string base = Upper(slash == std::string::npos ? name : name.substr(slash + 1));
  std::lock_guard guard(g_faces_lock);
  auto it = g_font_files.find(base);
  if (it == g_font_files.end()) return FALSE;
  if (base == kTerminalFontFile)
    g_cell_faces.erase(std::remove_if(g_cell_faces.begin(), g_cell_faces.end(),
                                      [](const CellFace &f) { return f.name.rfind("DEC-", 0) == 0; }),
                       g_cell_faces.end());
  g_font_files.erase(it);
  return TRUE;
}

}  // extern "C"
