// PNG files of surfaces through cairo: window captures for test automation and
// the golden images of the drawing tests.
#include <cairo.h>

#include <cstring>

#include "gdi_internal.h"

namespace qx::gdi {

bool WritePng(const Surface &s, const RECT *part, const std::string &path) {
  RECT r{0, 0, s.width, s.height};
  if (part) r = RectIntersect(r, *part);
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  cairo_surface_t *out = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  if (cairo_surface_status(out) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(out);
    return false;
  }
  cairo_surface_flush(out);
  unsigned char *data = cairo_image_surface_get_data(out);
  const int stride = cairo_image_surface_get_stride(out);
  for (int y = 0; y < h; ++y)
    std::memcpy(data + static_cast<size_t>(y) * stride, &s.px[static_cast<size_t>(y + r.top) * s.width + r.left],
                static_cast<size_t>(w) * 4);
  cairo_surface_mark_dirty(out);
  const bool ok = cairo_surface_write_to_png(out, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(out);
  return ok;
}

bool ReadPng(const std::string &path, Surface &out) {
  cairo_surface_t *in = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(in) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(in);
    return false;
  }
  const int w = cairo_image_surface_get_width(in), h = cairo_image_surface_get_height(in);
  const int stride = cairo_image_surface_get_stride(in);
  const unsigned char *data = cairo_image_surface_get_data(in);
  out.mono = false;
  out.Resize(w, h);
  for (int y = 0; y < h; ++y) {
    const auto *row = reinterpret_cast<const std::uint32_t *>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < w; ++x) out.px[static_cast<size_t>(y) * w + x] = row[x] & 0xFFFFFF;
  }
  cairo_surface_destroy(in);
  return true;
}

}  // namespace qx::gdi
