// The drawing part's own objects: pens, brushes, fonts, bitmaps, palettes,
// regions and device contexts, all living in the layer's handle table as
// ObjectKind::Gdi. Surfaces and what the other parts of the drawing half use
// (window DCs, bitmap pixels) are in qx/gdi.h.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "qx/gdi.h"
#include "qx/handles.h"

typedef struct _cairo_scaled_font cairo_scaled_font_t;

namespace qx::gdi {

// Ternary raster operation on 32-bit words: bit i of the result is bit
// (P<<2 | S<<1 | D) of the operation's truth table, for every bit at once.
std::uint32_t Rop3(std::uint8_t table, std::uint32_t p, std::uint32_t s, std::uint32_t d);
// Binary raster operation of SetROP2 (R2_BLACK .. R2_WHITE).
std::uint32_t Rop2(int rop2, std::uint32_t pen, std::uint32_t d);

enum class Type { Pen, Brush, Font, Bitmap, Palette, Region, DC };

struct Object : KernelObject {
  explicit Object(Type t) : KernelObject(ObjectKind::Gdi), type(t) {}
  Type type;
  bool stock = false;
};

struct Pen : Object {
  Pen() : Object(Type::Pen) {}
  LOGPEN log{};
};

struct Brush : Object {
  Brush() : Object(Type::Brush) {}
  LOGBRUSH log{};
  std::shared_ptr<Surface> pattern;  // BS_PATTERN: a copy of the bitmap's pixels
  int sys_color = -1;                // a system-colour brush follows SetSysColors
};

struct Palette : Object {
  Palette() : Object(Type::Palette) {}
  std::vector<PALETTEENTRY> entries;
};

// A region as disjoint rectangles in device coordinates.
struct Region : Object {
  Region() : Object(Type::Region) {}
  std::vector<RECT> rects;
  int Complexity() const;
  RECT Box() const;
  bool Contains(int x, int y) const;
};

struct Bitmap : Object {
  Bitmap() : Object(Type::Bitmap) {}
  Surface surface;
  int bits_pixel = 32;  // 1 for monochrome bitmaps
  // A DIB section keeps the program's pixel memory in its own format; drawing
  // goes through the surface, synchronised before and after every operation.
  bool dib = false;
  BITMAPINFOHEADER dib_header{};
  std::vector<RGBQUAD> dib_colors;
  DWORD dib_masks[3] = {0, 0, 0};
  std::unique_ptr<std::uint8_t[]> dib_bits;
  size_t dib_size = 0;
  HDC selected_in = nullptr;
  void SyncFromDib();
  void SyncToDib();
};

// A logical font; realised (matched to an installed face at a pixel size) on
// first use at each device height.
struct Font : Object {
  Font() : Object(Type::Font) {}
  LOGFONTA log{};
  // A realised font measures a character's glyph on its first use (Measure),
  // not all 256 when it is realised: measuring loads and hints the outline,
  // and most texts use a few dozen characters. glyph[c] and advance[c] are
  // valid once Measure has covered c; they never change afterwards, so
  // threads sharing the font read them without a lock.
  struct Realized {
    cairo_scaled_font_t *scaled = nullptr;
    int height = 0, ascent = 0, descent = 0, internal_leading = 0, external_leading = 0;
    int outline_max = 0;  // the outline's own widest advance (outline faces)
    int weight = 400;
    bool fixed = false, cell = false, oem = false, truetype = true;
    int cell_w = 0;
    double glyph_offset = 0;                // centres narrower glyphs in a fixed cell
    const std::uint16_t *bitmap = nullptr;  // a bitmap face's dot rows, 256 glyphs of `height` rows
    std::uint32_t glyph[256] = {};
    int advance[256] = {};
    Realized() = default;
    Realized(const Realized &) = delete;
    Realized &operator=(const Realized &) = delete;
    ~Realized();
    // Makes glyph[] and advance[] valid for every character of s.
    void Measure(const char *s, int n) {
      std::uint64_t need[4] = {0, 0, 0, 0};
      for (int i = 0; i < n; ++i) {
        const unsigned c = static_cast<unsigned char>(s[i]);
        need[c >> 6] |= std::uint64_t{1} << (c & 63);
      }
      MeasureSet(need);
    }
    void MeasureRange(int first, int last);  // first..last, within 0..255
    int Ave();                               // average character width, as desktop fonts report it
    int Max();                               // widest character

   private:
    void MeasureSet(const std::uint64_t need[4]) {
      for (int k = 0; k < 4; ++k)
        if ((measured_[k].load(std::memory_order_acquire) & need[k]) != need[k]) return MeasureSlow(need);
    }
    void MeasureSlow(const std::uint64_t need[4]);
    std::atomic<std::uint64_t> measured_[4] = {};
    std::mutex measure_lock_;
  };
  std::mutex lock;
  std::map<int, std::unique_ptr<Realized>> realized;  // by device height
};

struct DcState {
  HGDIOBJ pen = nullptr, brush = nullptr, font = nullptr, palette = nullptr;
  std::shared_ptr<Pen> pen_obj;
  std::shared_ptr<Brush> brush_obj;
  std::shared_ptr<Font> font_obj;
  std::shared_ptr<Palette> palette_obj;
  COLORREF text_color = 0x000000;
  COLORREF bk_color = 0xFFFFFF;
  int bk_mode = OPAQUE;
  int rop2 = R2_COPYPEN;
  UINT text_align = TA_TOP | TA_LEFT;
  int stretch_mode = BLACKONWHITE;
  int char_extra = 0;
  int map_mode = MM_TEXT;
  POINT window_org{0, 0}, viewport_org{0, 0};
  SIZE window_ext{1, 1}, viewport_ext{1, 1};
  POINT current{0, 0};
  POINT brush_org{0, 0};
  std::optional<Rects> clip;  // device coordinates; none = no clip region
};

struct PrintJob;  // a printer DC's document (printer_dc.cpp)

struct DC : Object {
  DC() : Object(Type::DC) {}
  DcState st;
  std::vector<DcState> saved;
  bool memory = false;
  HGDIOBJ bitmap = nullptr;  // memory DC: the selected bitmap
  std::shared_ptr<Bitmap> bitmap_obj;
  HWND hwnd = nullptr;  // window DC
  WindowTarget window;
  // Printer DC: draws like a memory DC onto the page (bitmap_obj, not a
  // handle), at the printer's resolution.
  std::shared_ptr<PrintJob> printer;
  int dpi = 96;
  // The font realised for this DC the last time text asked, and for which
  // logical font and device height. The reference keeps the font, and so
  // the realisation, alive: a later font at the same address cannot match.
  std::shared_ptr<Font> realized_font;
  int realized_height = 0;
  Font::Realized *realized = nullptr;

  Surface *Target();
  POINT Origin() const { return memory ? POINT{0, 0} : window.origin; }
  // Rectangles of the target (surface coordinates) that drawing may touch.
  Rects ClipRects();
  POINT ToDevice(int x, int y) const;   // logical -> DC device coordinates
  POINT ToSurface(int x, int y) const;  // logical -> surface coordinates
  POINT ToLogical(int x, int y) const;
  int ScaleX(int cx) const;
  int ScaleY(int cy) const;
  bool Mono() {
    Surface *s = Target();
    return s && s->mono;
  }
};

// Brackets an operation on a DC: looks it up, brings a DIB section's pixels in
// and writes them back afterwards.
class Drawing {
 public:
  explicit Drawing(HDC hdc);
  ~Drawing();
  Drawing(const Drawing &) = delete;
  Drawing &operator=(const Drawing &) = delete;
  explicit operator bool() const { return dc_ && dc_->Target(); }
  DC *operator->() const { return dc_.get(); }
  DC &dc() const { return *dc_; }
  Surface &surface() const { return *dc_->Target(); }

 private:
  std::shared_ptr<DC> dc_;
};

std::shared_ptr<DC> LookupDC(HDC hdc);
template <class T>
std::shared_ptr<T> LookupObject(HGDIOBJ h, Type type) {
  // Only Object is made with ObjectKind::Gdi: the kind checked, the cast is static.
  auto o = std::static_pointer_cast<Object>(LookupHandle(h, ObjectKind::Gdi));
  if (!o || o->type != type) return nullptr;
  return std::static_pointer_cast<T>(o);
}
HGDIOBJ InsertObject(std::shared_ptr<Object> o);

// DIB decoding with a DC for DIB_PAL_COLORS (bitmaps.cpp).
bool DecodeDib(const BITMAPINFO *bmi, const void *bits, UINT usage, DC *dc, Surface &out);

// The pattern colour of a brush at a surface pixel (the brush origin applied),
// or nullopt where a hatched brush leaves the background alone.
std::optional<std::uint32_t> BrushPixel(DC &dc, const Brush &b, int x, int y);
// Fills surface rectangle r (clipped) with the DC's raster operation over a brush.
void FillSurfaceRect(DC &dc, const RECT &r, const Brush *brush, DWORD rop);

// Colour rules between monochrome and colour surfaces (BitBlt, StretchBlt).
std::uint32_t ConvertForBlit(std::uint32_t s, bool src_mono, bool dst_mono, COLORREF src_bk, COLORREF dst_text,
                             COLORREF dst_bk);

COLORREF ResolveColor(DC &dc, COLORREF c);  // PALETTEINDEX / PALETTERGB to RGB

// Printer DCs (printer_dc.cpp).
HDC CreatePrinterDC(LPCSTR driver, LPCSTR device, const void *devmode, bool info_only);
int PrinterDeviceCaps(const DC &dc, int index);
// Text drawn on a printer DC's page, kept so the document carries it as text
// too: glyphs of a realised font at page pixel positions, and their characters.
struct PrintedGlyph {
  unsigned long index;
  double x, y;
  char32_t ch;
};
void RecordPrinterText(DC &dc, cairo_scaled_font_t *font, const std::vector<PrintedGlyph> &glyphs);

// Fonts (fonts.cpp).
struct TextRun {
  std::vector<std::uint32_t> glyphs;  // glyph indices
  std::vector<int> advances;          // pixels
};
// The font's metrics in logical units; without `with_widest` tmMaxCharWidth
// is left 0, for the layer's own callers that never read it.
void FontMetrics(DC &dc, TEXTMETRICA &tm, bool with_widest = true);
int TextWidth(DC &dc, const char *s, int n);
void DrawTextRun(DC &dc, int x, int y, const char *s, int n, const INT *dx, const RECT *opaque, const RECT *clip);
std::shared_ptr<Font> DefaultFont();

}  // namespace qx::gdi
