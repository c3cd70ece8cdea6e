// Printing a message. The file is walked with the display line reader and
// every line is printed as the viewer paints it (decoded, wrapped, mapped
// through the incoming table; attachment lines as their description), so
// paper and screen agree; a line wider than the paper goes on in the next
// printed line. The page keeps half an inch of margin on every side, because
// the layer's printer devices draw on the whole sheet.
#include "msgprint.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "displayline.h"
#include "headers.h"
#include "mailstore.h"
#include "mainwnd.h"
#include "printing.h"
#include "retrieve.h"
#include "settings.h"

#include <qxcommon.h>

namespace {

enum {
  IDS_NO_MESSAGE_FILE = 73,
  IDS_PRINT = 74,
  IDS_CANNOT_PRINT = 121,
  IDS_PRINTING_ERROR = 122,
};

const QX_DIALOG_ITEM kAbortItems[] = {
    QX_CTEXT("Sending", -1, 8, 8, 112, 8),
    QX_CTEXT("Message", -1, 8, 18, 112, 8),
    QX_CTEXT("(0%)", kPrintPercentControl, 8, 28, 112, 8),
    QX_CTEXT("to print spooler.", -1, 8, 38, 112, 8),
    QX_DEFPUSHBUTTON("Cancel", IDCANCEL, 44, 52, 40, 14),
};
const QX_DIALOG kAbort = QX_DIALOG_TEMPLATE(40, 40, 128, 72, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                            "Message", "MS Sans Serif", 8, kAbortItems);

const QX_RESOURCE kPrintResources[] = {
    QX_RES_DIALOG("AbortDlg", kAbort),
    QX_STRING(IDS_NO_MESSAGE_FILE, "Unable to open message file"),
    QX_STRING(IDS_PRINT, "Print"),
    QX_STRING(IDS_CANNOT_PRINT, "Cannot print %s"),
    QX_STRING(IDS_PRINTING_ERROR, "Printing Error"),
};

std::string Text(UINT id) {
  char buffer[160] = {};
  LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return buffer;
}

struct LineRef {
  uint32_t position;
  uint32_t flags;
};

// Every display line's place in the file (two numbers a line).
std::vector<LineRef> ReadLineRefs(MessageFile &file, uint8_t mimeFlags) {
  std::vector<LineRef> refs;
  uint32_t position = 0, flags = 0;
  for (bool first = true;; first = false) {
    if (!NextDisplayLine(file, mimeFlags, position, first, &flags)) break;
    refs.push_back(LineRef{position, flags});
  }
  return refs;
}

// The read font at the printer's resolution.
HFONT MakePrintFont(HDC dc) {
  const MAIL_SETTINGS &s = Settings();
  LOGFONTA font{};
  font.lfHeight = -FontHeight(s.readSize > 0 ? s.readSize : 10, GetDeviceCaps(dc, LOGPIXELSY));
  font.lfWeight = s.readWeight;
  lstrcpynA(font.lfFaceName, s.readFont.empty() ? "Courier New" : s.readFont.c_str(), LF_FACESIZE);
  return CreateFontIndirectA(&font);
}

// The owner and the main window are disabled while a job runs.
class DisabledWindows {
 public:
  explicit DisabledWindows(HWND owner) : owner_(owner) {
    if (owner_) EnableWindow(owner_, FALSE);
    if (g_MainWindow && g_MainWindow != owner_) EnableWindow(g_MainWindow, FALSE);
  }
  ~DisabledWindows() {
    if (g_MainWindow && g_MainWindow != owner_) EnableWindow(g_MainWindow, TRUE);
    if (owner_) EnableWindow(owner_, TRUE);
  }
  DisabledWindows(const DisabledWindows &) = delete;
  DisabledWindows &operator=(const DisabledWindows &) = delete;

 private:
  HWND owner_;
};

struct PageLayout {
  int left, top, width, lineHeight, linesPerPage;
};

PageLayout Layout(HDC dc) {
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  const int marginX = GetDeviceCaps(dc, LOGPIXELSX) / 2, marginY = GetDeviceCaps(dc, LOGPIXELSY) / 2;
  const int lineHeight = std::max(1, static_cast<int>(tm.tmHeight + tm.tmExternalLeading));
  return PageLayout{marginX, marginY, GetDeviceCaps(dc, HORZRES) - 2 * marginX, lineHeight,
                    PrintLinesPerPage(GetDeviceCaps(dc, VERTRES) - 2 * marginY, lineHeight)};
}

int PrintedWidth(HDC dc, const std::string &text, size_t length) {
  return static_cast<int>(LOWORD(GetTabbedTextExtentA(dc, text.c_str(), static_cast<int>(length), 0, nullptr)));
}

// The characters of text that fit the page's width (at least one), broken
// after the last blank that fits when there is one: a line wider than the
// paper goes on in the next printed line instead of off the sheet.
size_t FittingPrefix(HDC dc, const std::string &text, int width) {
  size_t low = 1, high = text.size();
  while (low < high) {  // the longest prefix whose extent fits
    const size_t mid = (low + high + 1) / 2;
    if (PrintedWidth(dc, text, mid) <= width)
      low = mid;
    else
      high = mid - 1;
  }
  if (low == text.size()) return low;
  const size_t blank = text.find_last_of(' ', low - 1);
  return blank != std::string::npos && blank > 0 ? blank + 1 : low;
}

// The open document's pages, filled one printed line after another.
class Pages {
 public:
  Pages(HDC dc, const PageLayout &layout) : dc_(dc), layout_(layout) {}
  bool Print(const std::string &text) {
    size_t at = 0;
    do {
      if (!NextLine()) return false;
      const std::string rest = text.substr(at);
      const size_t take = rest.empty() ? 0 : FittingPrefix(dc_, rest, layout_.width);
      if (take > 0)
        TabbedTextOutA(dc_, layout_.left, layout_.top + line_ * layout_.lineHeight, rest.c_str(),
                       static_cast<int>(take), 0, nullptr, layout_.left);
      at += take;
    } while (at < text.size());
    return true;
  }
  bool Finish() { return !started_ || EndPage(dc_) > 0; }

 private:
  bool NextLine() {
    if (started_ && line_ < layout_.linesPerPage) {
      ++line_;
      return true;
    }
    if (started_ && EndPage(dc_) <= 0) return false;
    started_ = StartPage(dc_) > 0;
    line_ = 1;
    return started_;
  }
  HDC dc_;
  PageLayout layout_;
  bool started_ = false;
  int line_ = 0;
};

// Sends every line to the open document; false on an error or a cancel.
bool PrintLines(HDC dc, MessageFile &file, const std::vector<LineRef> &refs, HWND progress) {
  Pages pages(dc, Layout(dc));
  unsigned lastPercent = ~0u;
  for (size_t i = 0; i < refs.size(); ++i) {
    std::string text = DisplayLineAt(file, refs[i].position, refs[i].flags);
    if (!(refs[i].position & kAttachmentLine)) MapIncoming(text);
    if (!pages.Print(text)) return false;
    const auto percent = static_cast<unsigned>(i * 100 / refs.size());
    if (progress && percent != lastPercent) PostMessageA(progress, kPrintProgress, percent, 0);
    lastPercent = percent;
    PrintPump();
    if (PrintCancelled()) return false;
  }
  if (progress) SendMessageA(progress, kPrintProgress, 100, 0);
  return pages.Finish();
}

}  // namespace

QX_REGISTER_RESOURCES(kPrintResources)

int PrintLinesPerPage(int printableHeight, int lineHeight) {
  return std::max(1, printableHeight / std::max(1, lineHeight) - 1);
}

void MailPrintSetup(HWND owner) {
  PrintTakeDefaults(owner);
  PRINTDLGA &pd = PrintSettings();
  pd.lStructSize = sizeof pd;
  pd.hwndOwner = owner;
  pd.Flags = PD_PRINTSETUP;
  PrintDlgA(&pd);
}

bool PrintMessage(HWND owner, const std::string &folder, int32_t number) {
  const std::string path = MessagePath(folder, static_cast<uint64_t>(number));
  MessageFile file(path);
  if (!file.IsOpen()) {
    g_MailMessageBox(owner, Text(IDS_NO_MESSAGE_FILE).c_str(), Text(IDS_PRINT).c_str(), MB_ICONERROR);
    return false;
  }
  PrintTakeDefaults(owner);
  HDC dc = PrintGetDC();
  if (!dc) {
    char text[MAX_PATH + 64];
    std::snprintf(text, sizeof text, Text(IDS_CANNOT_PRINT).c_str(), path.c_str());
    g_MailMessageBox(owner, text, Text(IDS_PRINTING_ERROR).c_str(), MB_ICONERROR);
    return false;
  }
  HEADER_SUMMARY summary;
  const uint8_t mimeFlags =
      ReadMessageHeader(folder, static_cast<uint32_t>(number), summary) == 0 ? summary.flags : uint8_t{0};
  FreeHeaderSummary(summary);
  const std::vector<LineRef> refs = ReadLineRefs(file, mimeFlags);

  HFONT font = MakePrintFont(dc);
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetAbortProc(dc, PrintAbortProc);
  DOCINFOA doc{};
  doc.cbSize = sizeof doc;
  doc.lpszDocName = "Message Message";
  bool printed = false;
  if (StartDocA(dc, &doc) > 0) {
    DisabledWindows disabled(owner);
    HWND progress = CreateDialogParamA(GetModuleHandleA(nullptr), "AbortDlg", owner, PrintAbortDlgProc, 0);
    PrintSetProgressDialog(progress);
    PrintClearCancel();
    printed = PrintLines(dc, file, refs, progress);
    if (printed)
      printed = EndDoc(dc) > 0;
    else
      AbortDoc(dc);  // a stopped job leaves nothing half-printed in the spooler
    PrintSetProgressDialog(nullptr);
    if (progress) DestroyWindow(progress);
  }
  SelectObject(dc, oldFont);
  DeleteObject(font);
  DeleteDC(dc);
  if (!printed && !PrintCancelled()) {
    char text[MAX_PATH + 64];
    std::snprintf(text, sizeof text, Text(IDS_CANNOT_PRINT).c_str(), path.c_str());
    g_MailMessageBox(owner, text, Text(IDS_PRINTING_ERROR).c_str(), MB_ICONERROR);
  }
  return printed;
}
