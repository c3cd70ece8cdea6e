// The terminal's nine bitmap faces, generated at build time from Debian's
// bitmap fonts by make_terminal_faces.py: 256 glyphs in the code-page-437
// layout, one 16-bit word per dot row (bit 15 is the leftmost dot).
#pragma once

#include <cstdint>

namespace qx::gdi {

struct TerminalFace {
  const char *name;
  int w, h, ascent;
  const std::uint16_t *rows;  // 256 * h words
};

extern const TerminalFace kTerminalBitmapFaces[9];

}  // namespace qx::gdi
