// Shared between the files of the printing part.
#pragma once

#include <string>

#include "qx/print.h"

namespace qx::print {

// $QX_HOME/printers.ini and one of its values ("" when missing).
std::string SettingsFile();
std::string Setting(const char *section, const char *key);

// Lays plain text out as a PDF document on the given paper (Courier, 10
// point, 12 point lines, half-inch margins: 90 columns and 60 lines on
// Letter): LF or CR LF ends a line, a lone CR returns to the start of the
// line, FF starts a new page, tabs stop every 8 columns, long lines wrap.
// Bytes are Windows-1252. Returns false when out cannot be written.
bool TextToPdf(const std::string &in, const std::string &out, const std::string &title, const Paper &paper);

}  // namespace qx::print
