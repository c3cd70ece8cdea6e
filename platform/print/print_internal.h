// Shared between the files of the printing part.
#pragma once

#include <string>

#include "qx/print.h"

namespace qx::print {

// $QX_HOME/printers.ini and one of its values ("" when missing).
std::string SettingsFile();
std::string Setting(const char *section, const char *key);

// Lays plain text out as a PDF document (Courier, 10 point, 60 lines a page
// on Letter paper): LF or CR LF ends a line, a lone CR returns to the start
// of the line, FF starts a new page, tabs stop every 8 columns, long lines
// wrap. Bytes are Windows-1252. Returns false when out cannot be written.
bool TextToPdf(const std::string &in, const std::string &out, const std::string &title);

}  // namespace qx::print
