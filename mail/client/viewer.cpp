// The message viewer. Each list item is the index of a LINE_REF (the line's
// file offset and decode flags); painting seeks to the offset and decodes
// that one line again, so a message of any size costs two numbers a line.
// The viewer shows once its first lines are read; the rest of a long message
// is read a batch at a time while the viewer waits for input.
// Reply, Reply-All and Forward start the compose window; Print prints the
// message as it is shown.
#include "viewer.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

#include "attachkit.h"
#include "choicepop.h"
#include "compose.h"
#include "displayline.h"
#include "folders.h"
#include "mimepart.h"
#include "msglist.h"
#include "msgprint.h"
#include "redirect.h"
#include "retrieve.h"
#include "sendqueue.h"
#include "settings.h"
#include "startcompose.h"
#include "uucode.h"

#include <qxcommon.h>

namespace {

enum {
  IDS_FIND = 80,
  IDS_ERROR_READING = 81,
  IDS_SAVE_MESSAGE = 85,
  IDS_SAVED_CORRUPT = 86,
  IDS_SAVE_ERROR = 87,
  IDS_CREATE_ERROR = 82,
  IDS_UU_CORRUPT = 83,
  IDS_UU_ERROR = 84,
  IDS_SAVE_ATTACHMENT = 42,
  IDS_CHOICE_EXECUTE = 139,
  IDS_CHOICE_DISPLAY = 140,
  IDS_CHOICE_PLAY = 141,
  IDS_CHOICE_GET = 142,
  IDS_EXECUTE_ATTACHMENT = 118,
  IDS_EXEC_FAILED = 119,
  IDS_EXEC_FAILURE = 120,
};

constexpr DWORD kDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
#define VIEW_BUTTON(text, id, x) QX_PUSHBUTTON(text, id, x, 186, 40, 14)

const QX_DIALOG_ITEM kReadItems[] = {
    QX_CONTROL("", IDC_VIEW_LINES, "ListBox",
               LBS_OWNERDRAWVARIABLE | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_CHILD | WS_VISIBLE | WS_BORDER |
                   WS_VSCROLL | WS_HSCROLL | WS_TABSTOP,
               4, 4, 440, 176),
    QX_DEFPUSHBUTTON("&Next", IDC_VIEW_NEXT, 4, 186, 40, 14),
    VIEW_BUTTON("E&xit", IDOK, 44),
    VIEW_BUTTON("Repl&y", IDC_VIEW_REPLY, 84),
    VIEW_BUTTON("Reply-&All", IDC_VIEW_REPLYALL, 124),
    VIEW_BUTTON("For&ward", IDC_VIEW_FORWARD, 164),
    VIEW_BUTTON("&Print", IDC_VIEW_PRINT, 204),
    VIEW_BUTTON("&Help", IDC_VIEW_HELP, 244),
    VIEW_BUTTON("&File...", IDC_VIEW_FILE, 284),
    VIEW_BUTTON("&Delete", IDC_VIEW_DELETE, 324),
    VIEW_BUTTON("&Save...", IDC_VIEW_SAVE, 364),
    QX_CHECKBOX("Advance", IDC_VIEW_ADVANCE, 406, 188, 40, 10),
};
const QX_DIALOG kRead = QX_DIALOG_TEMPLATE(0, 0, 448, 204, kDialogStyle, "Read Mail", "MS Sans Serif", 8, kReadItems);

const QX_RESOURCE kViewerResources[] = {
    QX_RES_DIALOG("Read", kRead),
    QX_STRING(IDS_FIND, "F&ind"),
    QX_STRING(IDS_ERROR_READING, "*** Error Reading Message ****"),
    QX_STRING(IDS_SAVE_MESSAGE, "Save Message"),
    QX_STRING(IDS_SAVED_CORRUPT, "Saved Message may be corrupted"),
    QX_STRING(IDS_SAVE_ERROR, "Save Error"),
    QX_STRING(IDS_CREATE_ERROR, "Error creating output file"),
    QX_STRING(IDS_UU_CORRUPT, "Attachment may be corrupted"),
    QX_STRING(IDS_UU_ERROR, "uudecode error"),
    QX_STRING(IDS_SAVE_ATTACHMENT, "Save Attachment"),
    QX_STRING(IDS_EXECUTE_ATTACHMENT, "Execute Attachment"),
    QX_STRING(IDS_EXEC_FAILED, "Unable to execute application - WinExec returns %d"),
    QX_STRING(IDS_EXEC_FAILURE, "Failure executing Application"),
    QX_STRING(IDS_CHOICE_EXECUTE, "Save\nExecute"),
    QX_STRING(IDS_CHOICE_DISPLAY, "Save\nDisplay"),
    QX_STRING(IDS_CHOICE_PLAY, "Save\nPlay"),
    QX_STRING(IDS_CHOICE_GET, "Get\nGet"),
};

constexpr uint32_t kErrorLine = 0xFFFFFFFFu;
constexpr int kIconSize = 32;
// Lines read before the viewer shows (and at least to the line selected at
// opening), lines read per tick of the reading timer afterwards, and the
// lines measured for the list's width.
constexpr size_t kFirstLines = 200;
constexpr size_t kLinesPerTick = 4000;
constexpr size_t kMeasuredLines = 2000;
constexpr UINT_PTR kReadingTimer = 1;

struct LINE_REF {
  uint32_t flags = 0;
  uint32_t position = 0;
};

// The one open viewer.
struct VIEWER {
  std::string folder;
  MSG_ENTRY entry;
  std::unique_ptr<MessageFile> file;
  std::vector<LINE_REF> lines;
  bool reading = false;  // lines are still to be read, from readAt
  long readAt = 0;
  int headerEnd = -1;  // the line that ends the message header
  int widest = 0;
  HFONT font = nullptr;
  int lineHeight = 16;
  int minWidth = 0;
  POINT at{};
  bool *autoAdvance = nullptr;
  WNDPROC listProc = nullptr;
  HWND window = nullptr;
  bool searching = false;
};
VIEWER g_viewer;

std::string Text(UINT id) {
  char buffer[160] = {};
  LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return buffer;
}

HWND Lines(HWND dialog) { return GetDlgItem(dialog, IDC_VIEW_LINES); }

void CloseFile() {
  g_viewer.file.reset();
  g_viewer.reading = false;
}

// The text of a line as painted; attachment lines give their description.
std::string LineText(const LINE_REF &ref) {
  if (ref.position == kErrorLine) return Text(IDS_ERROR_READING);
  std::string text = g_viewer.file ? DisplayLineAt(*g_viewer.file, ref.position, ref.flags) : std::string();
  if (!(ref.position & kAttachmentLine)) MapIncoming(text);
  return text;
}

HFONT MakeReadFont(HWND dialog) {
  const MAIL_SETTINGS &s = Settings();
  HDC dc = GetDC(dialog);
  const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc) ReleaseDC(dialog, dc);
  LOGFONTA font{};
  font.lfHeight = -FontHeight(s.readSize, dpi);
  font.lfWeight = s.readWeight;
  lstrcpynA(font.lfFaceName, s.readFont.empty() ? "Courier New" : s.readFont.c_str(), LF_FACESIZE);
  return CreateFontIndirectA(&font);
}

int TextWidth(HDC dc, const std::string &text) {
  return static_cast<int>(LOWORD(GetTabbedTextExtentA(dc, text.c_str(), static_cast<int>(text.size()), 0, nullptr)));
}

// Reads up to count more display lines into the list, from where the last
// read stopped (painting moves the file); false once the message has ended.
bool ReadMoreLines(HWND dialog, size_t count) {
  if (!g_viewer.reading || !g_viewer.file) return false;
  MessageFile &file = *g_viewer.file;
  file.Seek(g_viewer.readAt);
  const size_t from = g_viewer.lines.size();
  uint32_t position = 0, flags = 0;
  for (size_t added = 0; added < count; ++added) {
    const auto line =
        NextDisplayLine(file, g_viewer.entry.flags, position, g_viewer.readAt == 0 && from + added == 0, &flags);
    if (!line) {
      g_viewer.reading = false;
      break;
    }
    if (g_viewer.headerEnd < 0 && *line == "\n") g_viewer.headerEnd = static_cast<int>(g_viewer.lines.size());
    g_viewer.lines.push_back(LINE_REF{flags, position});
  }
  g_viewer.readAt = file.Tell();
  if (!g_viewer.reading) KillTimer(dialog, kReadingTimer);
  if (g_viewer.lines.empty()) {  // nothing to show: the error line
    CloseFile();
    g_viewer.lines.push_back(LINE_REF{0, kErrorLine});
  }
  HWND list = Lines(dialog);
  HDC dc = GetDC(list);
  HGDIOBJ old = SelectObject(dc, g_viewer.font);
  const int widest = g_viewer.widest;
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  for (size_t i = from; i < g_viewer.lines.size(); ++i) {
    SendMessageA(list, LB_ADDSTRING, 0, static_cast<LPARAM>(i));
    if (i < kMeasuredLines)  // the first screens
      g_viewer.widest = std::max(g_viewer.widest, TextWidth(dc, LineText(g_viewer.lines[i])) + 4);
  }
  SelectObject(dc, old);
  ReleaseDC(list, dc);
  if (g_viewer.widest != widest)
    SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(g_viewer.widest + kIconSize + 4), 0);
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  return g_viewer.reading;
}

// Reads the lines not read yet: commands that read the message again from its
// start (printing, quoting) or need a part's end find every line there.
void ReadAllLines(HWND dialog) {
  while (ReadMoreLines(dialog, SIZE_MAX)) {
  }
}

// Opens the message and reads its first lines, at least to the line selected
// at opening, which it selects; a timer reads the rest.
void FillMessageLines(HWND dialog) {
  g_viewer.lines.clear();
  g_viewer.file =
      std::make_unique<MessageFile>(MessagePath(g_viewer.folder, static_cast<uint64_t>(g_viewer.entry.number)));
  g_viewer.reading = true;
  g_viewer.readAt = 0;
  g_viewer.headerEnd = -1;
  while (ReadMoreLines(dialog, kFirstLines) &&
         (g_viewer.headerEnd < 0 || g_viewer.lines.size() <= static_cast<size_t>(g_viewer.headerEnd) + 17)) {
  }
  SendMessageA(Lines(dialog), LB_SETCURSEL,
               static_cast<WPARAM>(InitialViewerLine(static_cast<int>(g_viewer.lines.size()), g_viewer.headerEnd)), 0);
  if (g_viewer.reading) SetTimer(dialog, kReadingTimer, 1, nullptr);
}

// The attachment picture: a framed square with the kind's letter.
void DrawIcon32(HDC dc, int x, int y, const char *letter) {
  RECT r{x + 2, y + 2, x + kIconSize - 2, y + kIconSize - 2};
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  SetTextColor(dc, RGB(0, 0, 128));
  TextOutA(dc, x + 12, y + 9, letter, 1);
}

const char *IconLetter(const std::string &description) {
  if (description.find("Image part") != std::string::npos) return "I";
  if (description.find("Audio part") != std::string::npos) return "S";
  if (description.find("Video part") != std::string::npos) return "V";
  if (description.find("External File") != std::string::npos) return "T";
  if (description.find("Unknown body") != std::string::npos) return "?";
  return "F";
}

void DrawLine(const DRAWITEMSTRUCT &item) {
  if (item.itemID >= g_viewer.lines.size()) return;
  const LINE_REF &ref = g_viewer.lines[item.itemID];
  HDC dc = item.hDC;
  const RECT &r = item.rcItem;
  FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
  HGDIOBJ old = SelectObject(dc, g_viewer.font);
  SetBkMode(dc, TRANSPARENT);
  const std::string text = LineText(ref);
  if (ref.position != kErrorLine && (ref.position & kAttachmentLine)) {
    const int shift = (kIconSize - g_viewer.lineHeight) / 2;
    DrawIcon32(dc, r.left, r.top + std::max(0, -shift), IconLetter(text));
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    TextOutA(dc, r.left + kIconSize + 2, r.top + std::max(0, shift), text.c_str(), static_cast<int>(text.size()));
  } else {
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    TabbedTextOutA(dc, r.left, r.top, text.c_str(), static_cast<int>(text.size()), 0, nullptr, r.left);
  }
  SelectObject(dc, old);
}

// Keys of the line list move the view, never the selection.
LRESULT CALLBACK LinesProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN) {
    const int top = static_cast<int>(SendMessageA(list, LB_GETTOPINDEX, 0, 0));
    RECT client;
    GetClientRect(list, &client);
    int next = top;
    switch (wParam) {
      case VK_UP: next = top - 1; break;
      case VK_DOWN: next = top + 1; break;
      case VK_PRIOR:
      case VK_NEXT: {
        const int step = wParam == VK_NEXT ? 1 : -1;
        int height = 0, moved = 0;
        for (int i = top; i >= 0 && static_cast<size_t>(i) < g_viewer.lines.size(); i += step) {
          height += static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, static_cast<WPARAM>(i), 0));
          if (height > client.bottom && moved > 0) break;
          ++moved;
        }
        next = top + step * std::max(moved, 1);
        break;
      }
      default: return 0;
    }
    next = std::clamp(next, 0, std::max(0, static_cast<int>(g_viewer.lines.size()) - 1));
    SendMessageA(list, LB_SETTOPINDEX, static_cast<WPARAM>(next), 0);
    return 0;
  }
  if (message == WM_KEYUP || message == WM_CHAR) return 0;
  return CallWindowProcA(g_viewer.listProc, list, message, wParam, lParam);
}

// An attachment line was chosen: the pop-up offers its two actions.
void OfferAttachment(HWND dialog, int row) {
  SendMessageA(Lines(dialog), LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  const LINE_REF &ref = g_viewer.lines[static_cast<size_t>(row)];
  std::string upper = PhysicalLineAt(*g_viewer.file, ref.position);
  if (upper.empty()) return;
  for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  UINT choices = IDS_CHOICE_EXECUTE;
  int initial = 1;
  if (upper.find("IMAGE/") != std::string::npos) {
    choices = IDS_CHOICE_DISPLAY;
    initial = 2;
  } else if (upper.find("AUDIO/") != std::string::npos) {
    choices = IDS_CHOICE_PLAY;
    initial = 2;
  } else if (upper.find("MESSAGE/EXTERNAL-BODY") != std::string::npos) {
    choices = IDS_CHOICE_GET;
  }
  const std::string both = Text(choices);
  const size_t lf = both.find('\n');
  POINT at;
  GetCursorPos(&at);
  SetWindowLongPtrA(dialog, GWLP_USERDATA, row);
  ShowChoicePopup(dialog, both.substr(0, lf).c_str(), both.substr(lf + 1).c_str(), initial, at,
                  (GetKeyState(VK_SHIFT) & 0x8000) != 0);
}

// A uuencoded file: the save dialog, starting in the mail directory with the
// file's safe name, then the decoder writes the chosen file.
void SaveUuencoded(HWND dialog, uint32_t start) {
  FILE *in = std::fopen(MessagePath(g_viewer.folder, static_cast<uint64_t>(g_viewer.entry.number)).c_str(), "rb");
  char line[1024] = {};
  if (!in || std::fseek(in, static_cast<long>(start), SEEK_SET) != 0 || !std::fgets(line, sizeof line, in)) {
    if (in) std::fclose(in);
    g_MailMessageBox(dialog, Text(IDS_ERROR_READING).c_str(), Text(IDS_SAVE_ATTACHMENT).c_str(), MB_ICONERROR);
    return;
  }
  char path[MAX_PATH] = {};
  lstrcpynA(path, UuAttachmentName(line).c_str(), sizeof path);
  const std::string directory = Settings().mailDir;
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = dialog;
  ofn.lpstrFilter = "All Files (*.*)\0*.*\0ZIP Files (*.ZIP)\0*.ZIP\0";
  ofn.lpstrFile = path;
  ofn.nMaxFile = sizeof path;
  ofn.lpstrInitialDir = directory.c_str();
  ofn.lpstrTitle = "Save Attachment";
  ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  if (!GetSaveFileNameA(&ofn)) {
    std::fclose(in);
    return;
  }
  FILE *out = std::fopen(path, "wb");
  if (!out) {
    std::fclose(in);
    g_MailMessageBox(dialog, Text(IDS_CREATE_ERROR).c_str(), Text(IDS_SAVE_ATTACHMENT).c_str(), MB_ICONERROR);
    return;
  }
  const int decoded = UudecodeFile(in, out);
  std::fclose(in);
  if (std::fclose(out) != 0 || decoded != 0)
    g_MailMessageBox(dialog, Text(IDS_UU_CORRUPT).c_str(), Text(IDS_UU_ERROR).c_str(), MB_ICONERROR);
}

// The file of a uuencoded attachment to be opened: made exclusively in the
// mail directory under the attachment's safe name, or with "-1", "-2", ...
// before its extension when that name is taken (nothing is ever replaced).
FILE *CreateOpenedAttachment(const std::string &name, std::string &path) {
  const size_t dot = name.rfind('.');
  const std::string stem = name.substr(0, dot), extension = dot == std::string::npos ? "" : name.substr(dot);
  for (int n = 0; n < 100; ++n) {
    path = Settings().mailDir + "\\" + (n == 0 ? name : stem + "-" + std::to_string(n) + extension);
    if (FILE *f = std::fopen(path.c_str(), "wbx")) return f;
  }
  return nullptr;
}

// Execute on a uuencoded file with an association: the file is decoded into
// the mail directory and handed to the desktop's association, which opens it
// with its program (the file itself is never run: program extensions have no
// association here, and the layer refuses files it could run). Without an
// association the file is saved instead.
void OpenUuencoded(HWND dialog, uint32_t start) {
  FILE *in = std::fopen(MessagePath(g_viewer.folder, static_cast<uint64_t>(g_viewer.entry.number)).c_str(), "rb");
  char line[1024] = {};
  if (!in || std::fseek(in, static_cast<long>(start), SEEK_SET) != 0 || !std::fgets(line, sizeof line, in)) {
    if (in) std::fclose(in);
    g_MailMessageBox(dialog, Text(IDS_ERROR_READING).c_str(), Text(IDS_EXECUTE_ATTACHMENT).c_str(), MB_ICONERROR);
    return;
  }
  const std::string name = UuAttachmentName(line);
  if (!AttachmentAssociation(name)) {
    std::fclose(in);
    return SaveUuencoded(dialog, start);
  }
  std::string path;
  FILE *out = CreateOpenedAttachment(name, path);
  if (!out) {
    std::fclose(in);
    g_MailMessageBox(dialog, Text(IDS_CREATE_ERROR).c_str(), Text(IDS_EXECUTE_ATTACHMENT).c_str(), MB_ICONERROR);
    return;
  }
  const int decoded = UudecodeFile(in, out);
  std::fclose(in);
  if (std::fclose(out) != 0 || decoded != 0)
    g_MailMessageBox(dialog, Text(IDS_UU_CORRUPT).c_str(), Text(IDS_UU_ERROR).c_str(), MB_ICONERROR);
  const auto started = reinterpret_cast<UINT_PTR>(
      ShellExecuteA(dialog, "open", path.c_str(), nullptr, Settings().mailDir.c_str(), SW_SHOWNORMAL));
  if (started <= 32) {
    char text[160];
    std::snprintf(text, sizeof text, Text(IDS_EXEC_FAILED).c_str(), static_cast<int>(started));
    g_MailMessageBox(dialog, text, Text(IDS_EXEC_FAILURE).c_str(), MB_ICONERROR);
  }
}

// The chosen action on an attachment: a MIME part goes to the MIME library,
// which saves, shows or plays it; a uuencoded file is saved (1), or opened
// with its associated program (2).
void ActOnAttachment(HWND dialog, int mode) {
  const LONG_PTR row = GetWindowLongPtrA(dialog, GWLP_USERDATA);
  if (row < 0 || static_cast<size_t>(row) >= g_viewer.lines.size() || !g_viewer.file) return;
  ReadAllLines(dialog);  // the part ends where the next line starts
  const LINE_REF &ref = g_viewer.lines[static_cast<size_t>(row)];
  const uint32_t start = ref.position & ~kAttachmentLine;
  const std::string raw = PhysicalLineAt(*g_viewer.file, start);
  if (raw.empty()) return;
  if (_strnicmp(raw.c_str(), "Content-Type:", 13) != 0)
    return mode == MIME_MODE_SHOW ? OpenUuencoded(dialog, start) : SaveUuencoded(dialog, start);
  const uint32_t end = static_cast<size_t>(row) + 1 < g_viewer.lines.size()
                           ? g_viewer.lines[static_cast<size_t>(row) + 1].position & ~kAttachmentLine
                           : 0xFFFFFFFFu;
  static HMODULE library = LoadLibraryA(ATTACHKIT_MODULE);
  const auto process = library ? reinterpret_cast<PROCESSMIME>(GetProcAddress(library, "ProcessMime"))
                               : static_cast<PROCESSMIME>(nullptr);
  if (!process) {
    g_MailMessageBox(dialog, "The MIME library attachkit could not be loaded; attachments cannot be saved or shown.",
                     Text(IDS_SAVE_ATTACHMENT).c_str(), MB_ICONERROR);
    return;
  }
  const MAIL_SETTINGS &s = Settings();
  // A request the library queued (an external body fetched by mail) goes out at once.
  if (process(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(g_viewer.file->Stream()))), static_cast<int32_t>(start),
              end, s.mailDir.c_str(), s.ownAddress.c_str(), mode, dialog) == MIME_MAIL_QUEUED)
    SendDeferred(1, dialog);
}

// Save...: the message as text, each line ending in CR LF.
void SaveAsText(HWND dialog) {
  char path[MAX_PATH] = {};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = dialog;
  ofn.lpstrFilter = "Text Files (*.TXT)\0*.TXT\0All Files (*.*)\0*.*\0";
  ofn.lpstrFile = path;
  ofn.nMaxFile = sizeof path;
  ofn.lpstrTitle = "Save Message";
  ofn.lpstrDefExt = "TXT";
  ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  if (!GetSaveFileNameA(&ofn)) return;
  FILE *in = std::fopen(MessagePath(g_viewer.folder, static_cast<uint64_t>(g_viewer.entry.number)).c_str(), "rb");
  FILE *out = in ? std::fopen(path, "wb") : nullptr;
  if (!out) {
    if (in) std::fclose(in);
    g_MailMessageBox(dialog, Text(IDS_CREATE_ERROR).c_str(), Text(IDS_SAVE_ATTACHMENT).c_str(), MB_ICONERROR);
    return;
  }
  bool ok = true, lastWasCr = false;
  for (int c; ok && (c = std::getc(in)) != EOF; lastWasCr = c == '\r') {
    if (c == '\n' && !lastWasCr) ok = std::putc('\r', out) != EOF;
    ok = ok && std::putc(c, out) != EOF;
  }
  std::fclose(in);
  ok = std::fclose(out) == 0 && ok;
  if (!ok) g_MailMessageBox(dialog, Text(IDS_SAVED_CORRUPT).c_str(), Text(IDS_SAVE_ERROR).c_str(), MB_ICONERROR);
}

BOOL OnInit(HWND dialog) {
  g_viewer.window = dialog;
  g_viewer.font = MakeReadFont(dialog);
  HDC dc = GetDC(dialog);
  HGDIOBJ old = SelectObject(dc, g_viewer.font);
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(dialog, dc);
  g_viewer.lineHeight = std::max(1, static_cast<int>(tm.tmHeight + tm.tmExternalLeading));
  HWND list = Lines(dialog);
  g_viewer.listProc =
      reinterpret_cast<WNDPROC>(SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LinesProc)));
  SetWindowLongPtrA(dialog, GWLP_USERDATA, -1);
  FillMessageLines(dialog);
  std::string title = g_viewer.entry.rowText;
  for (size_t at = title.find('\t'); at != std::string::npos; at = title.find('\t', at + 4))
    title.replace(at, 1, "    ");
  SetWindowTextA(dialog, title.c_str());
  CheckDlgButton(dialog, IDC_VIEW_ADVANCE, *g_viewer.autoAdvance ? BST_CHECKED : BST_UNCHECKED);
  if (g_viewer.searching) SetDlgItemTextA(dialog, IDC_VIEW_NEXT, Text(IDS_FIND).c_str());
  RECT r;
  GetWindowRect(dialog, &r);
  g_viewer.minWidth = r.right - r.left;
  SetWindowPos(dialog, nullptr, g_viewer.at.x, g_viewer.at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  SetFocus(list);
  if (g_ViewerShownHook) g_ViewerShownHook(g_viewer.lines.size());
  return FALSE;
}

void End(HWND dialog, INT_PTR result) {
  KillTimer(dialog, kReadingTimer);
  CloseFile();
  EndDialog(dialog, result);
}

// Reply, Reply-All and Forward on this message; with ReDirectPrompt, Forward
// first asks whether to redirect it unchanged.
void ComposeOnMessage(HWND dialog, int mode) {
  const std::vector<int32_t> numbers{g_viewer.entry.number};
  const int wasBusy = g_MailBusy;
  g_MailBusy = 1;
  if (mode == kComposeForward && Settings().reDirectPrompt) {
    const INT_PTR choice = RedirectDialog(dialog);
    if (choice == 2) RedirectMessages(dialog, g_viewer.folder, numbers);
    if (choice != 1) {
      g_MailBusy = wasBusy;
      return;
    }
  }
  StartCompose(dialog, mode, g_viewer.folder, numbers);
  g_MailBusy = wasBusy;
}

BOOL OnCommand(HWND dialog, UINT id, UINT notification, LPARAM lParam) {
  // Printing and quoting read the message again with the one display line reader.
  if (id == IDC_VIEW_REPLY || id == IDC_VIEW_REPLYALL || id == IDC_VIEW_FORWARD || id == IDC_VIEW_PRINT)
    ReadAllLines(dialog);
  switch (id) {
    case IDC_VIEW_REPLY: ComposeOnMessage(dialog, kComposeReply); return TRUE;
    case IDC_VIEW_REPLYALL: ComposeOnMessage(dialog, kComposeReplyAll); return TRUE;
    case IDC_VIEW_FORWARD: ComposeOnMessage(dialog, kComposeForward); return TRUE;
    case IDOK:
    case IDCANCEL:
    case IDC_VIEW_NEXT:
    case IDC_VIEW_FILE: End(dialog, static_cast<INT_PTR>(id)); return TRUE;
    case IDC_VIEW_DELETE:
      CloseFile();
      StoreDeleteMessage(g_viewer.folder, g_viewer.entry.number);
      End(dialog, IDC_VIEW_DELETE);
      return TRUE;
    case IDC_VIEW_ADVANCE:
      *g_viewer.autoAdvance = !*g_viewer.autoAdvance;
      CheckDlgButton(dialog, IDC_VIEW_ADVANCE, *g_viewer.autoAdvance ? BST_CHECKED : BST_UNCHECKED);
      return TRUE;
    case IDC_VIEW_SAVE: SaveAsText(dialog); return TRUE;
    case IDC_VIEW_PRINT: PrintMessage(dialog, g_viewer.folder, g_viewer.entry.number); return TRUE;
    case IDC_VIEW_HELP:
      WinHelpA(dialog, "RAZUZUZ.HLP", HELP_KEY, reinterpret_cast<ULONG_PTR>("Read Help"));
      return TRUE;
    case IDC_VIEW_LINES:
      if (notification == LBN_SELCHANGE) {
        const LRESULT row = SendMessageA(Lines(dialog), LB_GETCURSEL, 0, 0);
        if (row >= 0 && static_cast<size_t>(row) < g_viewer.lines.size() && g_viewer.file &&
            g_viewer.lines[static_cast<size_t>(row)].position != kErrorLine &&
            (g_viewer.lines[static_cast<size_t>(row)].position & kAttachmentLine))
          OfferAttachment(dialog, static_cast<int>(row));
      } else if (notification == kChoicePopupChosen) {
        ActOnAttachment(dialog, static_cast<int>(lParam));
      }
      return TRUE;
    default: return FALSE;
  }
}

INT_PTR CALLBACK ReadProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return OnInit(dialog);
    case WM_COMMAND: return OnCommand(dialog, LOWORD(wParam), HIWORD(wParam), lParam);
    case WM_MEASUREITEM: {
      auto *m = reinterpret_cast<MEASUREITEMSTRUCT *>(lParam);
      const bool attachment = m->itemID < g_viewer.lines.size() && g_viewer.lines[m->itemID].position != kErrorLine &&
                              (g_viewer.lines[m->itemID].position & kAttachmentLine);
      m->itemHeight = static_cast<UINT>(attachment ? std::max(g_viewer.lineHeight, kIconSize) : g_viewer.lineHeight);
      return TRUE;
    }
    case WM_DRAWITEM: DrawLine(*reinterpret_cast<const DRAWITEMSTRUCT *>(lParam)); return TRUE;
    case WM_TIMER:
      if (wParam != kReadingTimer) return FALSE;
      ReadMoreLines(dialog, kLinesPerTick);
      return TRUE;
    case WM_GETMINMAXINFO: {
      auto *info = reinterpret_cast<MINMAXINFO *>(lParam);
      info->ptMinTrackSize.x = g_viewer.minWidth;
      info->ptMinTrackSize.y = 150;
      return TRUE;
    }
    case WM_DESTROY:
      KillTimer(dialog, kReadingTimer);
      if (g_viewer.listProc)
        SetWindowLongPtrA(Lines(dialog), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_viewer.listProc));
      CloseFile();
      g_viewer.window = nullptr;
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace

QX_REGISTER_RESOURCES(kViewerResources)

void (*g_ViewerShownHook)(size_t linesRead) = nullptr;

HWND ViewerWindow() { return g_viewer.window; }

std::vector<std::string> ViewerLineTexts() {
  if (g_viewer.window) ReadAllLines(g_viewer.window);
  std::vector<std::string> texts;
  for (const LINE_REF &ref : g_viewer.lines) texts.push_back(LineText(ref));
  return texts;
}

namespace {
bool StartsNoCase(const std::string &text, const char *prefix) {
  return _strnicmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

// Names of the mail store's own files in a mail directory or folder.
bool StoreFileName(const std::string &name) {
  for (const char *prefix : {"index.", "rebuild.", "qx", "tosend", "popuidl."})
    if (StartsNoCase(name, prefix)) return true;
  // "m<n>.msg"
  size_t i = 1;
  while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i]))) ++i;
  return name.size() > 1 && (name[0] == 'm' || name[0] == 'M') && i > 1 && lstrcmpiA(name.c_str() + i, ".msg") == 0;
}
}  // namespace

std::string UuAttachmentName(const std::string &beginLine) {
  std::string name = beginLine.size() > 10 ? beginLine.substr(10) : std::string();
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
  name = attachkit::SafeFileComponent(name, 128);
  if (name.empty()) return "attachment";
  return ReservedDeviceName(name) || StoreFileName(name) ? "_" + name : name;
}

std::optional<std::string> AttachmentAssociation(const std::string &name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size()) return std::nullopt;
  const std::string extension = name.substr(dot + 1);
  for (const char *program : {"exe", "com", "bat", "cmd", "pif", "scr"})
    if (lstrcmpiA(extension.c_str(), program) == 0) return std::nullopt;
  char association[256] = {};
  GetProfileStringA("Extensions", extension.c_str(), "<<>>", association, sizeof association);
  if (association[0] == '\0' || std::strcmp(association, "<<>>") == 0) return std::nullopt;
  return std::string(association);
}

int InitialViewerLine(int lineCount, int headerEndLine) {
  const int wanted = headerEndLine >= 0 ? headerEndLine + 17 : 16;
  return std::clamp(wanted, 0, std::max(0, lineCount - 1));
}

INT_PTR ReadMessageDialog(HWND owner, const std::string &folder, const MSG_ENTRY &entry, POINT at, bool &autoAdvance,
                          bool searching) {
  g_viewer = VIEWER{};
  g_viewer.searching = searching;
  g_viewer.folder = folder;
  g_viewer.entry = entry;
  g_viewer.at = at;
  g_viewer.autoAdvance = &autoAdvance;
  const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), "Read", owner, ReadProc, 0);
  if (g_viewer.font) DeleteObject(g_viewer.font);
  CloseFile();
  g_viewer = VIEWER{};
  return result;
}
