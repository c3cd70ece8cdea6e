// The printers of this machine: the local CUPS server's queues, the PDF and
// file printers, and printers named in $QX_HOME/printers.ini:
//
//   [default]
//   Printer=<name>                 the default printer
//   [folders]
//   PDF=/host/dir                  where "Print to PDF" writes (default ~/PDF)
//   File=/host/dir                 where "Print to File" writes (default: the PDF folder)
//   [printers]
//   <name>=PDF,/host/dir           another PDF printer writing to its own folder
//   <name>=FILE,/host/dir          another file printer
//   <name>=CUPS,<queue>            another name for a CUPS queue
//   [ports]
//   PRN=<name>  LPT1=<name> ...    where the printer devices print (default printer)
#include <langinfo.h>
#include <locale.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "cups_client.h"
#include "print_internal.h"
#include "qx/env.h"
#include "qx/paths.h"

namespace qx::print {
namespace {

constexpr char kPdfName[] = "Print to PDF";
constexpr char kFileName[] = "Print to File";

std::string Trim(std::string s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && blank(s.back())) s.pop_back();
  size_t b = 0;
  while (b < s.size() && blank(s[b])) ++b;
  return s.substr(b);
}

std::string HomeFolder() {
  const char *home = getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/PDF";
}

// A folder from the settings: only absolute host directories count.
std::string FolderSetting(const char *key, const std::string &fallback) {
  std::string v = Trim(Setting("folders", key));
  return !v.empty() && v[0] == '/' ? v : fallback;
}

constexpr Paper kPapers[] = {{DMPAPER_LETTER, 2159, 2794}, {DMPAPER_A4, 2100, 2970}, {DMPAPER_LEGAL, 2159, 3556}};

// A paper named by a person or by CUPS ("A4", "iso_a4_210x297mm", "na_letter_8.5x11in", "Legal"...).
short PaperNamed(const std::string &name) {
  const auto has = [&](const char *word) { return strcasestr(name.c_str(), word) != nullptr; };
  if (has("a4")) return DMPAPER_A4;
  if (has("legal")) return DMPAPER_LEGAL;
  if (has("letter")) return DMPAPER_LETTER;
  return 0;
}

// The paper of the user's locale (LC_ALL, LC_PAPER, LANG): A4 or Letter.
// Without a locale (C or POSIX) it is Letter.
short LocalePaper() {
  const char *name = nullptr;
  for (const char *var : {"LC_ALL", "LC_PAPER", "LANG"})
    if ((name = getenv(var)) && *name) break;
  if (!name || !*name || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 ||
      std::strncmp(name, "C.", 2) == 0)
    return DMPAPER_LETTER;
  locale_t loc = newlocale(LC_PAPER_MASK, "", nullptr);
  if (!loc) return DMPAPER_LETTER;
  const auto width_mm = static_cast<int>(reinterpret_cast<intptr_t>(nl_langinfo_l(_NL_PAPER_WIDTH, loc)));
  freelocale(loc);
  return width_mm == 210 ? DMPAPER_A4 : DMPAPER_LETTER;
}

// The paper of the PDF and file printers: printers.ini [default] Paper, else the locale's.
short DefaultPaper() {
  const short named = PaperNamed(Trim(Setting("default", "Paper")));
  return named ? named : LocalePaper();
}

Printer MakePdf(const std::string &name, const std::string &folder) {
  return Printer{name, "qxpdf", "PDF:", Kind::Pdf, folder, {}, DefaultPaper()};
}
Printer MakeFile(const std::string &name, const std::string &folder) {
  return Printer{name, "qxfile", "FILE:", Kind::File, folder, {}, DefaultPaper()};
}
Printer MakeCups(const std::string &name, const std::string &queue, const std::string &media) {
  const short paper = PaperNamed(media);
  return Printer{name, "qxcups", "CUPS:", Kind::Cups, {}, queue, paper ? paper : DefaultPaper()};
}

// "PDF,/dir", "FILE,/dir" or "CUPS,queue" from [printers].
bool ParseExtra(const std::string &name, const std::string &value, Printer &out) {
  const size_t comma = value.find(',');
  if (comma == std::string::npos || !ValidPrinterName(name)) return false;
  const std::string kind = Trim(value.substr(0, comma)), arg = Trim(value.substr(comma + 1));
  if (strcasecmp(kind.c_str(), "PDF") == 0 && !arg.empty() && arg[0] == '/')
    out = MakePdf(name, arg);
  else if (strcasecmp(kind.c_str(), "FILE") == 0 && !arg.empty() && arg[0] == '/')
    out = MakeFile(name, arg);
  else if (strcasecmp(kind.c_str(), "CUPS") == 0 && ValidPrinterName(arg))
    out = MakeCups(name, arg, "");
  else
    return false;
  return true;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::string TitleUtf8(std::string_view title) {
  // Windows-1252 0x80..0x9F; the other bytes are Latin-1.
  static const char16_t kHigh[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                     0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  std::string out;
  for (unsigned char c : title.substr(0, 200)) {
    const char32_t u = c < 0x20 || c == 0x7F ? U' ' : (c >= 0x80 && c < 0xA0) ? kHigh[c - 0x80] : c;
    if (u < 0x80) {
      out += static_cast<char>(u);
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

Paper PaperOf(short id) {
  for (const Paper &p : kPapers)
    if (p.id == id) return p;
  return kPapers[0];
}

std::string SettingsFile() { return HomeDir() + "/printers.ini"; }

std::string Setting(const char *section, const char *key) {
  const std::string file = WindowsPathOf(SettingsFile());
  if (file.empty()) return {};
  char value[512] = {};
  GetPrivateProfileStringA(section, key, "", value, sizeof value, file.c_str());
  return value;
}

bool ValidPrinterName(std::string_view name) {
  if (name.empty() || name.size() > 127 || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F || std::strchr("/\\:*?\"<>|", c)) return false;
  return true;
}

std::vector<Printer> Printers() {
  std::vector<Printer> list;
  const std::string pdf_folder = FolderSetting("PDF", HomeFolder());
  list.push_back(MakePdf(kPdfName, pdf_folder));
  list.push_back(MakeFile(kFileName, FolderSetting("File", pdf_folder)));
  std::string cups_default;
  for (const CupsQueue &queue : CupsQueues(cups_default)) list.push_back(MakeCups(queue.name, queue.name, queue.media));
  // Extra printers from the settings; a name already taken stays with its first owner.
  const std::string file = WindowsPathOf(SettingsFile());
  std::vector<char> keys(8192);
  if (!file.empty() &&
      GetPrivateProfileStringA("printers", nullptr, "", keys.data(), static_cast<DWORD>(keys.size()), file.c_str())) {
    for (const char *k = keys.data(); *k; k += std::strlen(k) + 1) {
      Printer extra;
      const bool taken = std::any_of(list.begin(), list.end(), [&](const Printer &p) { return SameName(p.name, k); });
      if (!taken && ParseExtra(k, Setting("printers", k), extra)) list.push_back(extra);
    }
  }
  // The default first: the setting, else the CUPS default, else the PDF printer.
  std::string wanted = Trim(Setting("default", "Printer"));
  if (wanted.empty()) wanted = cups_default;
  auto it = std::find_if(list.begin(), list.end(), [&](const Printer &p) { return SameName(p.name, wanted); });
  if (it != list.end()) std::rotate(list.begin(), it, it + 1);
  return list;
}

bool FindPrinter(std::string_view name, Printer &out, DWORD &error) {
  if (!ValidPrinterName(name)) {
    error = ERROR_INVALID_PRINTER_NAME;
    return false;
  }
  for (Printer &p : Printers())
    if (SameName(p.name, name)) {
      out = std::move(p);
      return true;
    }
  error = ERROR_INVALID_PRINTER_NAME;
  return false;
}

Printer DefaultPrinter() { return Printers().front(); }

}  // namespace qx::print
