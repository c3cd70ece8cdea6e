// Printer device contexts. A printer DC draws exactly like a memory DC, with
// the same code as the screen, onto a page of the printer's size at its
// resolution (300 dots per inch unless the DEVMODE asks otherwise). Each
// finished page goes onto a cairo PDF or PostScript document in the spool
// directory; EndDoc hands the document to the spooler, AbortDoc (or deleting
// the DC with a document open, or an abort procedure answering FALSE) throws
// it away.
#include <cairo-pdf.h>
#include <cairo-ps.h>
#include <cairo.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "qx/errors.h"
#include "gdi_internal.h"
#include "qx/env.h"
#include "qx/paths.h"
#include "qx/print.h"

namespace qx::gdi {

struct PrintJob {
  qx::print::Printer printer;
  bool info_only = false;
  int dpi = 300;
  int width = 0, height = 0;  // the page in device pixels
  int copies = 1;
  ABORTPROC abort_proc = nullptr;
  // The document between StartDoc and EndDoc.
  bool in_doc = false, page_open = false, aborted = false, band_given = false;
  int pages = 0;
  bool postscript = false;
  std::string output;  // host path from DOCINFO's lpszOutput, or "" for the printer
  qx::print::Job job;
  cairo_surface_t *doc = nullptr;
  // The text drawn on the page so far, put on the document beneath the page's
  // pixels: invisible, yet the document's text can be searched and copied.
  struct TextRun {
    cairo_scaled_font_t *font;  // referenced
    std::vector<cairo_glyph_t> glyphs;
    std::string utf8;
    std::vector<cairo_text_cluster_t> clusters;
  };
  std::vector<TextRun> text;

  ~PrintJob() { Cancel(); }
  void Cancel() {
    if (doc) cairo_surface_destroy(doc);
    doc = nullptr;
    if (in_doc) qx::print::Discard(job.id);
    in_doc = page_open = false;
    ClearText();
  }
  void ClearText() {
    for (TextRun &run : text) cairo_scaled_font_destroy(run.font);
    text.clear();
  }
};

void RecordPrinterText(DC &dc, cairo_scaled_font_t *font, const std::vector<PrintedGlyph> &glyphs) {
  PrintJob &job = *dc.printer;
  if (!job.in_doc || glyphs.empty() || !font) return;
  PrintJob::TextRun run{cairo_scaled_font_reference(font), {}, {}, {}};
  for (const PrintedGlyph &g : glyphs) {
    const char32_t c = g.ch < 0x20 ? U' ' : g.ch;
    const size_t before = run.utf8.size();
    if (c < 0x80) {
      run.utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      run.utf8 += static_cast<char>(0xC0 | (c >> 6));
      run.utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      run.utf8 += static_cast<char>(0xE0 | (c >> 12));
      run.utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      run.utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
    run.glyphs.push_back(cairo_glyph_t{g.index, g.x, g.y});
    run.clusters.push_back(cairo_text_cluster_t{static_cast<int>(run.utf8.size() - before), 1});
  }
  job.text.push_back(std::move(run));
}

namespace {

constexpr int kMinDpi = 72, kMaxDpi = 600;

// The settings of a DEVMODE that a program passes, read only as far as its
// dmSize says the block goes.
void ApplyDevMode(PrintJob &job, const DEVMODEA *dm) {
  qx::print::Paper paper = qx::print::PaperOf(job.printer.paper);
  bool landscape = false;
  if (dm && dm->dmSize >= offsetof(DEVMODEA, dmFormName)) {
    if (dm->dmFields & DM_PAPERSIZE) paper = qx::print::PaperOf(dm->dmPaperSize);
    if (dm->dmFields & DM_ORIENTATION) landscape = dm->dmOrientation == DMORIENT_LANDSCAPE;
    if ((dm->dmFields & DM_COPIES) && dm->dmCopies > 0) job.copies = std::min<int>(dm->dmCopies, 999);
    if (dm->dmFields & DM_PRINTQUALITY) {
      const short q = dm->dmPrintQuality;
      job.dpi = q > 0                                ? std::clamp<int>(q, kMinDpi, kMaxDpi)
                : q == DMRES_HIGH                    ? 600
                : q == DMRES_DRAFT || q == DMRES_LOW ? 150
                                                     : 300;
    }
  }
  job.width = static_cast<int>(static_cast<long>(paper.width) * job.dpi / 254);
  job.height = static_cast<int>(static_cast<long>(paper.height) * job.dpi / 254);
  if (landscape) std::swap(job.width, job.height);
}

std::shared_ptr<Bitmap> BlankPage(int width, int height) {
  auto page = std::make_shared<Bitmap>();
  page->surface.Resize(width, height, 0xFFFFFF);
  return page;
}

// A document call's DC and job; null when hdc is no printer DC.
std::shared_ptr<DC> PrinterOf(HDC hdc) {
  auto dc = LookupDC(hdc);
  return dc && dc->printer ? dc : nullptr;
}

bool PageDrawn(const Surface &s) {
  return std::any_of(s.px.begin(), s.px.end(), [](std::uint32_t p) { return p != 0xFFFFFF; });
}

void FreePixels(void *p) { delete static_cast<std::vector<std::uint32_t> *>(p); }

// Puts the page on the document and gives the DC a blank one. The page's
// pixels move to cairo, which frees them once the page is written.
bool EmitPage(DC &dc) {
  PrintJob &job = *dc.printer;
  Surface &page = dc.bitmap_obj->surface;
  auto *pixels = new std::vector<std::uint32_t>(std::move(page.px));
  cairo_surface_t *image = cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char *>(pixels->data()), CAIRO_FORMAT_RGB24, page.width, page.height, page.width * 4);
  static cairo_user_data_key_t key;
  cairo_surface_set_user_data(image, &key, pixels, FreePixels);
  cairo_t *cr = cairo_create(job.doc);
  cairo_scale(cr, 72.0 / job.dpi, 72.0 / job.dpi);
  cairo_set_source_rgb(cr, 0, 0, 0);
  for (const PrintJob::TextRun &run : job.text) {
    cairo_set_scaled_font(cr, run.font);
    cairo_show_text_glyphs(cr, run.utf8.data(), static_cast<int>(run.utf8.size()), run.glyphs.data(),
                           static_cast<int>(run.glyphs.size()), run.clusters.data(),
                           static_cast<int>(run.clusters.size()), static_cast<cairo_text_cluster_flags_t>(0));
  }
  job.ClearText();
  cairo_set_source_surface(cr, image, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);  // device pixels stay sharp
  cairo_paint(cr);
  cairo_show_page(cr);
  const bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(cr);
  cairo_surface_destroy(image);
  page.px.assign(static_cast<size_t>(page.width) * page.height, 0xFFFFFF);
  ++job.pages;
  return ok;
}

// Asks the program's abort procedure whether to go on; FALSE ends the job.
bool Continue(HDC hdc, DC &dc) {
  PrintJob &job = *dc.printer;
  if (job.aborted) return false;
  if (job.abort_proc && !job.abort_proc(hdc, 0)) {
    job.aborted = true;
    job.Cancel();
  }
  // The procedure pumps messages: a window may have ended the document meanwhile.
  return !job.aborted && job.in_doc;
}

int AbortDocument(DC &dc) {
  dc.printer->Cancel();
  dc.printer->aborted = false;
  dc.bitmap_obj = BlankPage(1, 1);
  return 1;
}

bool CopyOut(const std::string &from, const std::string &to) {
  const int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = in >= 0 && out >= 0;
  char buffer[65536];
  ssize_t n = 0;
  while (ok && (n = read(in, buffer, sizeof buffer)) > 0) ok = write(out, buffer, static_cast<size_t>(n)) == n;
  if (n < 0) ok = false;
  if (in >= 0) close(in);
  if (out >= 0 && close(out) != 0) ok = false;
  return ok;
}

}  // namespace

HDC CreatePrinterDC(LPCSTR driver, LPCSTR device, const void *devmode, bool info_only) {
  // The printer is named by the device; a program that names it as the
  // driver (or passes the DEVMODE's name only) is served too.
  const auto *dm = static_cast<const DEVMODEA *>(devmode);
  std::string name = device && *device ? device : driver && *driver ? driver : "";
  if (name.empty() && dm)
    name.assign(reinterpret_cast<const char *>(dm->dmDeviceName),
                strnlen(reinterpret_cast<const char *>(dm->dmDeviceName), CCHDEVICENAME));
  auto job = std::make_shared<PrintJob>();
  DWORD error = 0;
  if (!qx::print::FindPrinter(name, job->printer, error)) return Fail<HDC>(error, nullptr);
  job->info_only = info_only;
  ApplyDevMode(*job, dm);
  auto dc = std::make_shared<DC>();
  HDC display = CreateCompatibleDC(nullptr);  // the initial state of a new DC
  if (auto base = LookupDC(display)) dc->st = base->st;
  DeleteDC(display);
  dc->memory = true;  // draws like a memory DC, onto the page
  dc->bitmap_obj = BlankPage(1, 1);
  dc->printer = job;
  dc->dpi = job->dpi;
  return static_cast<HDC>(InsertObject(dc));
}

int PrinterDeviceCaps(const DC &dc, int index) {
  const PrintJob &job = *dc.printer;
  switch (index) {
    case DRIVERVERSION: return 0x400;
    case TECHNOLOGY: return DT_RASPRINTER;
    case HORZRES:
    case PHYSICALWIDTH: return job.width;
    case VERTRES:
    case PHYSICALHEIGHT: return job.height;
    case HORZSIZE: return job.width * 254 / (job.dpi * 10);  // millimetres
    case VERTSIZE: return job.height * 254 / (job.dpi * 10);
    case PHYSICALOFFSETX:
    case PHYSICALOFFSETY:
    case SCALINGFACTORX:
    case SCALINGFACTORY: return 0;
    case BITSPIXEL: return 24;
    case PLANES: return 1;
    case NUMBRUSHES:
    case NUMPENS:
    case NUMCOLORS: return -1;
    case NUMFONTS: return 0;
    case ASPECTX:
    case ASPECTY: return job.dpi;
    case ASPECTXY: return job.dpi * 1414 / 1000;
    case LOGPIXELSX:
    case LOGPIXELSY: return job.dpi;
    case SIZEPALETTE:
    case NUMRESERVED: return 0;
    case COLORRES: return 24;
    case RASTERCAPS: return RC_BITBLT | RC_BANDING | RC_BITMAP64 | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB;
    default: return 0;
  }
}

}  // namespace qx::gdi

using namespace qx::gdi;
using qx::Fail;

extern "C" {

HDC WINAPI CreateICA(LPCSTR driver, LPCSTR device, LPCSTR output, const void *devmode) {
  if (driver && strcasecmp(driver, "DISPLAY") == 0) return CreateDCA(driver, device, output, devmode);
  return CreatePrinterDC(driver, device, devmode, true);
}

int WINAPI StartDocA(HDC hdc, const DOCINFOA *di) {
  auto dc = PrinterOf(hdc);
  if (!dc) return Fail(ERROR_INVALID_HANDLE, SP_ERROR);
  PrintJob &job = *dc->printer;
  if (job.info_only || job.in_doc) return Fail(ERROR_INVALID_PARAMETER, SP_ERROR);
  if (!di || di->cbSize < static_cast<int>(offsetof(DOCINFOA, lpszDatatype)))
    return Fail(ERROR_INVALID_PARAMETER, SP_ERROR);
  job.aborted = false;
  job.pages = 0;
  job.output.clear();
  const std::string title = di->lpszDocName ? di->lpszDocName : "Document";
  // An output file given by the program takes the document instead of the printer.
  if (di->lpszOutput && *di->lpszOutput) {
    DWORD error = 0;
    if (!qx::HostPath(di->lpszOutput, job.output, error)) return Fail(error, SP_ERROR);
  }
  const std::string &target = job.output.empty() ? job.printer.port : job.output;
  const size_t dot = target.rfind('.');
  job.postscript = job.output.empty() ? job.printer.kind == qx::print::Kind::File
                                      : dot != std::string::npos && strcasecmp(target.c_str() + dot, ".ps") == 0;
  DWORD error = 0;
  if (!qx::print::NewJob(job.printer, qx::print::JobKind::Document, title, job.job, error))
    return Fail(error, SP_ERROR);
  const double w = job.width * 72.0 / job.dpi, h = job.height * 72.0 / job.dpi;
  job.doc = job.postscript ? cairo_ps_surface_create(job.job.data.c_str(), w, h)
                           : cairo_pdf_surface_create(job.job.data.c_str(), w, h);
  if (cairo_surface_status(job.doc) != CAIRO_STATUS_SUCCESS) {
    qx::Trace("print: cannot write %s: %s", job.job.data.c_str(),
              cairo_status_to_string(cairo_surface_status(job.doc)));
    cairo_surface_destroy(job.doc);
    job.doc = nullptr;
    qx::print::Discard(job.job.id);
    return Fail(ERROR_WRITE_FAULT, SP_ERROR);
  }
  const std::string text = qx::print::TitleUtf8(title);  // one line, valid UTF-8
  if (job.postscript)
    cairo_ps_surface_dsc_comment(job.doc, ("%%Title: " + text).c_str());
  else
    cairo_pdf_surface_set_metadata(job.doc, CAIRO_PDF_METADATA_TITLE, text.c_str());
  job.in_doc = true;
  job.page_open = false;
  job.band_given = false;
  dc->bitmap_obj = BlankPage(job.width, job.height);
  return static_cast<int>(job.job.id);
}

int WINAPI StartPage(HDC hdc) {
  auto dc = PrinterOf(hdc);
  if (!dc) return Fail(ERROR_INVALID_HANDLE, SP_ERROR);
  PrintJob &job = *dc->printer;
  if (!job.in_doc) return Fail(ERROR_INVALID_PARAMETER, job.aborted ? SP_APPABORT : SP_ERROR);
  if (!Continue(hdc, *dc)) return SP_APPABORT;
  job.page_open = true;
  return 1;
}

int WINAPI EndPage(HDC hdc) {
  auto dc = PrinterOf(hdc);
  if (!dc) return Fail(ERROR_INVALID_HANDLE, SP_ERROR);
  PrintJob &job = *dc->printer;
  if (!job.in_doc) return Fail(ERROR_INVALID_PARAMETER, job.aborted ? SP_APPABORT : SP_ERROR);
  if (!Continue(hdc, *dc)) return SP_APPABORT;
  if (!EmitPage(*dc)) {
    job.Cancel();
    return Fail(ERROR_WRITE_FAULT, SP_ERROR);
  }
  job.page_open = false;
  job.band_given = false;
  return Continue(hdc, *dc) ? 1 : SP_APPABORT;
}

int WINAPI EndDoc(HDC hdc) {
  auto dc = PrinterOf(hdc);
  if (!dc) return Fail(ERROR_INVALID_HANDLE, SP_ERROR);
  PrintJob &job = *dc->printer;
  if (!job.in_doc) return Fail(ERROR_INVALID_PARAMETER, job.aborted ? SP_APPABORT : SP_ERROR);
  // A page begun or drawn on and not ended is the last page.
  if ((job.page_open || PageDrawn(dc->bitmap_obj->surface)) && !EmitPage(*dc)) {
    AbortDocument(*dc);
    return Fail(ERROR_WRITE_FAULT, SP_ERROR);
  }
  if (!Continue(hdc, *dc)) {
    AbortDocument(*dc);
    return SP_APPABORT;
  }
  job.ClearText();  // text of a page never put on the document
  cairo_surface_finish(job.doc);
  const bool written = cairo_surface_status(job.doc) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(job.doc);
  job.doc = nullptr;
  job.in_doc = false;
  dc->bitmap_obj = BlankPage(1, 1);
  DWORD error = written ? 0 : ERROR_WRITE_FAULT;
  bool ok = written;
  if (!ok || job.pages == 0) {
    qx::print::Discard(job.job.id);  // nothing to print
  } else if (!job.output.empty()) {
    ok = CopyOut(job.job.data, job.output);
    if (!ok) error = ERROR_WRITE_FAULT;
    qx::print::Discard(job.job.id);
  } else {
    ok = qx::print::Schedule(job.job.id, job.postscript ? "application/postscript" : "application/pdf", job.copies,
                             error);
  }
  return ok ? 1 : Fail(error ? error : ERROR_WRITE_FAULT, SP_ERROR);
}

int WINAPI AbortDoc(HDC hdc) {
  auto dc = PrinterOf(hdc);
  if (!dc) return Fail(ERROR_INVALID_HANDLE, SP_ERROR);
  return AbortDocument(*dc);
}

int WINAPI SetAbortProc(HDC hdc, ABORTPROC proc) {
  auto dc = PrinterOf(hdc);
  if (!dc) return Fail(ERROR_INVALID_HANDLE, SP_ERROR);
  dc->printer->abort_proc = proc;
  return 1;
}

int WINAPI Escape(HDC hdc, int escape, int in_size, LPCSTR in, LPVOID out) {
  auto dc = PrinterOf(hdc);
  if (!dc) return Fail(ERROR_INVALID_HANDLE, 0);
  PrintJob &job = *dc->printer;
  switch (escape) {
    case QUERYESCSUPPORT: {
      if (!in || in_size < static_cast<int>(sizeof(int))) return 0;
      int asked = 0;
      std::memcpy(&asked, in, sizeof asked);
      switch (asked) {
        case NEWFRAME:
        case ABORTDOC:
        case NEXTBAND:
        case QUERYESCSUPPORT:
        case SETABORTPROC:
        case STARTDOC:
        case ENDDOC:
        case GETPHYSPAGESIZE:
        case GETPRINTINGOFFSET:
        case SET_BOUNDS: return 1;
        default: return 0;
      }
    }
    case STARTDOC: {
      DOCINFOA di{};
      di.cbSize = sizeof di;
      di.lpszDocName = in;
      return StartDocA(hdc, &di);
    }
    case NEWFRAME: return EndPage(hdc);
    case ENDDOC: return EndDoc(hdc);
    case ABORTDOC: return AbortDoc(hdc);
    case SETABORTPROC: return SetAbortProc(hdc, reinterpret_cast<ABORTPROC>(const_cast<char *>(in)));
    case NEXTBAND: {
      // One band, the whole page: the first call gives it, the next ends the page.
      if (!out) return Fail(ERROR_INVALID_PARAMETER, SP_ERROR);
      auto *band = static_cast<RECT *>(out);
      if (!job.band_given) {
        *band = RECT{0, 0, job.width, job.height};
        job.band_given = true;
        return 1;
      }
      *band = RECT{0, 0, 0, 0};
      return EndPage(hdc);
    }
    case GETPHYSPAGESIZE:
    case GETPRINTINGOFFSET: {
      if (!out) return Fail(ERROR_INVALID_PARAMETER, SP_ERROR);
      *static_cast<POINT *>(out) = escape == GETPHYSPAGESIZE ? POINT{job.width, job.height} : POINT{0, 0};
      return 1;
    }
    case SET_BOUNDS:
      // Where the program will draw on the page; the whole page is kept, so
      // it changes nothing here.
      return job.in_doc ? 1 : SP_ERROR;
    default: return 0;
  }
}

}  // extern "C"
