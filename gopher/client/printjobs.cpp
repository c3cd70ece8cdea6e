// burrowview's print jobs: the picture stretched to the page (GifPrint, in
// pictures.cpp) and the text document line by line (here), both through one
// job record with the shared progress dialog and abort procedure.
//
// The layer's printer pages are the whole sheet, so the jobs keep their own
// margins: half an inch at the sides, an inch above and below a picture,
// half an inch above and below text.
#include "printjobs.h"

#include <algorithm>
#include <string>

#include "gophercore.h"
#include "pictures.h"
#include "printing.h"

#include <qxcommon.h>

namespace {

constexpr const char *kCannotPrint = "Cannot print document";
constexpr const char *kPrintingError = "Printing Error";

const QX_DIALOG_ITEM kGifAbortItems[] = {
    QX_CTEXT("Sending", -1, 8, 8, 112, 8),
    QX_CTEXT("Image", -1, 8, 18, 112, 8),
    QX_CTEXT("0%", kPrintPercentControl, 8, 28, 112, 8),
    QX_CTEXT("to print spooler.", -1, 8, 38, 112, 8),
    QX_DEFPUSHBUTTON("Cancel", IDCANCEL, 44, 52, 40, 14),
};
const QX_DIALOG kGifAbort = QX_DIALOG_TEMPLATE(40, 40, 128, 72, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                               "Gif Print", "MS Sans Serif", 8, kGifAbortItems);
const QX_DIALOG_ITEM kTextAbortItems[] = {
    QX_CTEXT("Sending", -1, 8, 8, 112, 8),
    QX_CTEXT("Document", -1, 8, 18, 112, 8),
    QX_CTEXT("to print spooler.", -1, 8, 28, 112, 8),
    QX_DEFPUSHBUTTON("Cancel", IDCANCEL, 44, 44, 40, 14),
};
const QX_DIALOG kTextAbort = QX_DIALOG_TEMPLATE(40, 40, 128, 64, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                                "Printing", "MS Sans Serif", 8, kTextAbortItems);

const QX_RESOURCE kPrintResources[] = {
    QX_RES_DIALOG("AbortDlgGif", kGifAbort),
    QX_RES_DIALOG("AbortDlg", kTextAbort),
};

// Up to 2047 bytes of the line at offset, without its line end.
std::string ReadDocumentLine(HANDLE file, LONG offset) {
  char buffer[2048];
  DWORD got = 0;
  if (SetFilePointer(file, offset, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !ReadFile(file, buffer, sizeof buffer - 1, &got, nullptr))
    return "";
  std::string line(buffer, got);
  const size_t lf = line.find('\n');
  if (lf != std::string::npos) line.resize(lf);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// The printing font: a fixed-pitch face of 10 points at the printer's
// resolution, as documents from gopher servers are laid out in columns.
HFONT MakePrinterFont(HDC dc) {
  LOGFONTA lf{};
  lf.lfHeight = -(10 * GetDeviceCaps(dc, LOGPIXELSY) / 72);
  lf.lfWeight = FW_NORMAL;
  lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  lstrcpynA(lf.lfFaceName, "Courier New", LF_FACESIZE);
  return CreateFontIndirectA(&lf);
}

}  // namespace

QX_REGISTER_RESOURCES(kPrintResources)

GopherPrintJob::~GopherPrintJob() {
  if (dc_) End(false);
}

bool GopherPrintJob::Begin(HWND owner, const char *docName, const char *dialogName) {
  PrintTakeDefaults(owner);
  dc_ = PrintGetDC();
  if (!dc_) {
    Ui().Message(kCannotPrint, kPrintingError, MB_OK | MB_ICONSTOP);
    return false;
  }
  owner_ = owner;
  SetAbortProc(dc_, PrintAbortProc);
  DOCINFOA doc{};
  doc.cbSize = sizeof doc;
  doc.lpszDocName = docName;
  if (StartDocA(dc_, &doc) <= 0) {
    // Nothing could be drawn into a document that never started.
    DeleteDC(dc_);
    dc_ = nullptr;
    Ui().Message("The printer did not accept the document (StartDoc failed).  Check the printer in Print Setup.",
                 kPrintingError, MB_OK | MB_ICONSTOP);
    return false;
  }
  started_ = true;
  PrintClearCancel();
  dialog_ = CreateDialogParamA(GetModuleHandleA(nullptr), dialogName, owner, PrintAbortDlgProc, 0);
  PrintSetProgressDialog(dialog_);
  if (owner_) EnableWindow(owner_, FALSE);
  return true;
}

bool GopherPrintJob::Cancelled() {
  PrintPump();
  return PrintCancelled();
}

void GopherPrintJob::Progress(unsigned percent) {
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  if (dialog_) PostMessageA(dialog_, kPrintProgress, percent, 0);
}

bool GopherPrintJob::NewFrame() {
  if (Escape(dc_, NEWFRAME, 0, nullptr, nullptr) > 0) return true;
  refused_ = true;
  return false;
}

void GopherPrintJob::End(bool finished) {
  if (!dc_) return;
  if (started_) {
    if (finished) {
      if (dialog_) SendMessageA(dialog_, kPrintProgress, 100, 0);
      if (!NewFrame() || EndDoc(dc_) <= 0) {
        refused_ = true;
        AbortDoc(dc_);
      }
    } else {
      AbortDoc(dc_);  // a stopped job leaves nothing half-printed in the spooler
    }
  }
  if (owner_) EnableWindow(owner_, TRUE);
  PrintSetProgressDialog(nullptr);
  if (dialog_) DestroyWindow(dialog_);
  dialog_ = nullptr;
  DeleteDC(dc_);
  dc_ = nullptr;
  started_ = false;
  if (refused_ && !PrintCancelled())
    Ui().Message("The printer did not accept a page, so nothing was printed.  Check the printer in Print Setup.",
                 kPrintingError, MB_OK | MB_ICONSTOP);
  refused_ = false;
}

void PrintDocument(HWND dialog, int listId) {
  HWND list = GetDlgItem(dialog, listId);
  const int rows = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
  if (rows <= 0) return;
  FileHandle document(CreateFileA(TempPath("UseFile").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!document.ok()) {
    Ui().Message("The document file could not be read; retrieve the document again.", kPrintingError,
                 MB_OK | MB_ICONSTOP);
    return;
  }
  // The window disabled while the job runs: the program's main window.
  HWND owner = GetParent(dialog);
  GopherPrintJob job;
  if (!job.Begin(owner ? owner : dialog, "Gopher Message", "AbortDlg")) return;
  HDC dc = job.dc();
  HFONT font = MakePrinterFont(dc);
  HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  const int lineHeight = std::max(1, static_cast<int>(tm.tmHeight + tm.tmExternalLeading));
  const int ppiX = GetDeviceCaps(dc, LOGPIXELSX), ppiY = GetDeviceCaps(dc, LOGPIXELSY);
  const int linesPerPage = std::max(1, (GetDeviceCaps(dc, VERTRES) - ppiY) / lineHeight);
  const int left = ppiX / 2, top = ppiY / 2;
  int line = 1;
  bool stopped = false;
  for (int row = 0; row < rows && !stopped; ++row) {
    if (job.Cancelled()) {
      stopped = true;
      break;
    }
    // The new page comes before the first line that needs it, so a document
    // of exactly one page prints one page.
    if (line > linesPerPage) {
      if (!job.NewFrame()) {
        stopped = true;
        break;
      }
      line = 1;
    }
    const LONG offset = static_cast<LONG>(SendMessageA(list, LB_GETITEMDATA, row, 0));
    const std::string text = ReadDocumentLine(document.get(), offset);
    if (!text.empty())
      TabbedTextOutA(dc, left, top + lineHeight * (line - 1), text.data(), static_cast<int>(text.size()), 0, nullptr,
                     left);
    ++line;
  }
  if (oldFont) SelectObject(dc, oldFont);
  if (font) DeleteObject(font);
  job.End(!stopped);
}
