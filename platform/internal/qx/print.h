// The printers of this machine and the spooler that hands documents to them,
// shared by the spooler calls (core library), the printer device contexts and
// the print dialog (drawing library) and the files part ("PRN", "LPT1:").
//
// Printers: the queues of the local CUPS server (libcups is loaded when first
// needed), the "Print to PDF" printer (PDF files in a folder) and the
// "Print to File" printer on FILE: (PostScript or the job's raw data in a
// folder), plus printers named in $QX_HOME/printers.ini.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace qx::print {

enum class Kind { Pdf, File, Cups };

struct Printer {
  std::string name;    // what OpenPrinterA, DEVNAMES and DEVMODE carry
  std::string driver;  // "qxpdf", "qxfile", "qxcups"
  std::string port;    // "PDF:", "FILE:", "CUPS:"
  Kind kind = Kind::Pdf;
  std::string folder;  // Pdf and File: where documents are written
  std::string queue;   // Cups: the queue name
  short paper = 1;     // the paper a document gets when the program names none (DMPAPER_*)
};

// A paper size: its DMPAPER_* number and size in tenths of a millimetre.
struct Paper {
  short id;
  int width, height;
};
// Letter, A4 or Legal; Letter for any other number.
Paper PaperOf(short id);

// A printer name as it may arrive from a program or the network: 1..127
// printable characters, none of / \ : * ? " < > |, not "." or "..".
bool ValidPrinterName(std::string_view name);

// The printers, default first. CUPS queues are asked for each time.
std::vector<Printer> Printers();
// Looks a printer up by name (ASCII case ignored). ERROR_INVALID_PRINTER_NAME
// for a bad or unknown name.
bool FindPrinter(std::string_view name, Printer &out, DWORD &error);
// The default printer: printers.ini [printers] Default, else the CUPS
// default queue, else "Print to PDF".
Printer DefaultPrinter();

// A job in the spool directory (the Windows system directory's
// SPOOL\PRINTERS): the data file "<id>.SPL" and its record "<id>.SHD".
struct Job {
  DWORD id = 0;
  std::string data;     // host path of the data file
  std::string windows;  // Windows path of the data file
};
enum class JobKind { Added, Device, Document };
// Makes a new empty job for a printer. Owned by this process until it is
// scheduled or discarded; a job whose process ended without scheduling it is
// removed (a device job is printed instead).
bool NewJob(const Printer &printer, JobKind kind, const std::string &title, Job &out, DWORD &error);
// Hands a job's data to its printer and removes it from the spool directory.
// format: "application/pdf", "application/postscript", or "" to let the
// printer decide from the data.
bool Schedule(DWORD id, const std::string &format, int copies, DWORD &error);
// Removes a job that will not be printed.
void Discard(DWORD id);
// The jobs waiting in the spool directory.
int JobCount();

// A document title as text for a PDF's information, a PostScript comment
// or a print server: Windows-1252 bytes as UTF-8, control characters as
// blanks, at most 200 bytes of the title.
std::string TitleUtf8(std::string_view title);

// "PRN", "PRN:", "LPT1".."LPT3" (with or without the colon): the printer the
// device table maps it to, as a new device job whose data file the caller
// opens; it prints when the last descriptor on it closes. False when the name
// is no printer device; error is set when it is one but cannot print.
bool OpenDevice(const char *name, std::string &host, DWORD &error);
bool IsPrinterDevice(std::string_view name);

}  // namespace qx::print
