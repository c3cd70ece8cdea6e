// The mail client's dialogs: "Configure" over the settings and the progress
// dialogs of SMTP and POP with the conversation list and the Cancel button.
// Templates and texts are the module's resources, declared as data below.
#include "maildlg.h"

#include <array>
#include <cctype>
#include <vector>

#include "qxcommon.h"
#include "settings.h"

// ---------------------------------------------------------------------------
// Resources
// ---------------------------------------------------------------------------
namespace {

constexpr DWORD kEditStyle = ES_LEFT | ES_AUTOHSCROLL | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP;
#define CFG_EDIT(id, x, y, cx) QX_CONTROL("", id, "Edit", kEditStyle, x, y, cx, 12)

const QX_DIALOG_ITEM kConfigureItems[] = {
    QX_LTEXT("Mail Director&y:", -1, 8, 10, 70, 8),
    CFG_EDIT(IDC_CFG_MAILDIR, 80, 8, 160),
    QX_LTEXT("Mail H&ost:", -1, 8, 26, 70, 8),
    CFG_EDIT(IDC_CFG_MAILHOST, 80, 24, 160),
    QX_LTEXT("Organi&zation:", -1, 8, 42, 70, 8),
    CFG_EDIT(IDC_CFG_ORGANIZATION, 80, 40, 160),
    QX_LTEXT("&Personal Name:", -1, 8, 58, 70, 8),
    CFG_EDIT(IDC_CFG_PERSONALNAME, 80, 56, 160),
    QX_LTEXT("&Editor:", -1, 8, 74, 70, 8),
    CFG_EDIT(IDC_CFG_EDITOR, 80, 72, 160),
    QX_LTEXT("&Reply-To:", -1, 8, 90, 70, 8),
    CFG_EDIT(IDC_CFG_REPLYTO, 80, 88, 160),
    QX_CHECKBOX("&Cc Self", IDC_CFG_CCSELF, 8, 106, 64, 10),
    QX_CHECKBOX("&Save Sent", IDC_CFG_SAVESENT, 76, 106, 64, 10),
    QX_CHECKBOX("Ver&bose", IDC_CFG_VERBOSE, 144, 106, 64, 10),
    QX_CHECKBOX("So&und", IDC_CFG_USESOUND, 212, 106, 64, 10),
    QX_CHECKBOX("Redirec&t", IDC_CFG_REDIRECT, 8, 120, 64, 10),
    QX_CHECKBOX("&Auto Advance", IDC_CFG_AUTOADVANCE, 76, 120, 64, 10),
    QX_CHECKBOX("&Delete Mail from Server", IDC_CFG_DELETEFROMSERVER, 144, 120, 110, 10),
    QX_LTEXT("Word-&Wrap Column:", -1, 8, 136, 70, 8),
    CFG_EDIT(IDC_CFG_WORDWRAP, 80, 134, 30),
    QX_CHECKBOX("Delayed Se&nd", IDC_CFG_DELAYEDSEND, 144, 135, 64, 10),
    QX_GROUPBOX("Include Options", -1, 4, 150, 292, 62),
    QX_CHECKBOX("Include Messa&ge", IDC_CFG_INCLUDEREPLY, 10, 162, 80, 10),
    QX_CHECKBOX("Include &Headers", IDC_CFG_INCLUDEHEADER, 144, 162, 80, 10),
    QX_LTEXT("&Indent:", -1, 10, 178, 60, 8),
    CFG_EDIT(IDC_CFG_INDENT, 80, 176, 40),
    QX_LTEXT("Include &Format:", -1, 10, 194, 60, 8),
    CFG_EDIT(IDC_CFG_REPLYSTRING, 80, 192, 208),
    QX_GROUPBOX("Mail Retrieval", -1, 4, 216, 292, 28),
    QX_CHECKBOX("At &Login", IDC_CFG_LOGIN, 10, 228, 50, 10),
    QX_CHECKBOX("Ti&med", IDC_CFG_TIMED, 64, 228, 40, 10),
    QX_LTEXT("Inter&val:", -1, 110, 229, 34, 8),
    CFG_EDIT(IDC_CFG_INTERVAL, 146, 227, 36),
    QX_LTEXT("minutes", -1, 186, 229, 40, 8),
    QX_DEFPUSHBUTTON("OK", IDOK, 248, 8, 44, 14),
    QX_PUSHBUTTON("Cancel", IDCANCEL, 248, 26, 44, 14),
};
const QX_DIALOG kConfigure = QX_DIALOG_TEMPLATE(20, 20, 300, 250, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                                "Configuration", "MS Sans Serif", 8, kConfigureItems);

constexpr DWORD kProgressStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;

const QX_DIALOG_ITEM kVerboseItems[] = {
    QX_CONTROL("", IDC_PROGRESS_LIST, "ListBox",
               LBS_NOINTEGRALHEIGHT | WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_HSCROLL, 6, 6, 268, 110),
    QX_DEFPUSHBUTTON("&Cancel", IDC_PROGRESS_BUTTON, 118, 122, 44, 14),
};
const QX_DIALOG kVerbose =
    QX_DIALOG_TEMPLATE(30, 30, 280, 142, kProgressStyle, "Sending Mail", "MS Sans Serif", 8, kVerboseItems);

const QX_DIALOG_ITEM kNonVerboseItems[] = {
    QX_CTEXT("Sending mail...", -1, 6, 10, 148, 8),
    QX_DEFPUSHBUTTON("&Cancel", IDC_PROGRESS_BUTTON, 58, 28, 44, 14),
};
const QX_DIALOG kNonVerbose =
    QX_DIALOG_TEMPLATE(30, 30, 160, 48, kProgressStyle, "Sending Mail", "MS Sans Serif", 8, kNonVerboseItems);

const QX_DIALOG_ITEM kRetrievingItems[] = {
    QX_CTEXT("Contacting POP Server", IDC_PROGRESS_STATUS, 6, 10, 148, 8),
    QX_DEFPUSHBUTTON("&Cancel", IDC_PROGRESS_BUTTON, 58, 28, 44, 14),
};
const QX_DIALOG kRetrieving =
    QX_DIALOG_TEMPLATE(30, 30, 160, 48, kProgressStyle, "Retrieving Mail", "MS Sans Serif", 8, kRetrievingItems);

const QX_RESOURCE kMailDialogResources[] = {
    QX_RES_DIALOG("Configure", kConfigure),
    QX_RES_DIALOG("Verbose", kVerbose),
    QX_RES_DIALOG("NonVerbose", kNonVerbose),
    QX_RES_DIALOG("retrieving", kRetrieving),
    QX_STRING(IDS_OK, "&OK"),
    QX_STRING(IDS_VERBOSE_DIALOG, "Verbose"),
    QX_STRING(IDS_NONVERBOSE_DIALOG, "NonVerbose"),
    QX_STRING(IDS_WRITE_ERROR, "Error writing configuration"),
    QX_STRING(IDS_MAILDIR_MISSING, "Unable to access MailDir directory %s"),
    QX_STRING(IDS_WRITE_CONFIGURATION, "Write Configuration"),
};

}  // namespace

QX_REGISTER_RESOURCES(kMailDialogResources)

// ---------------------------------------------------------------------------
// Shared helpers
// ---------------------------------------------------------------------------
namespace {

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

std::string LoadText(UINT id) {
  std::array<char, 256> buffer{};
  LoadStringA(Instance(), id, buffer.data(), static_cast<int>(buffer.size()));
  return buffer.data();
}

// The text of a dialog item, at most width - 1 characters.
std::string ItemText(HWND dialog, int id, size_t width) {
  std::vector<char> buffer(width, '\0');
  GetDlgItemTextA(dialog, id, buffer.data(), static_cast<int>(buffer.size()));
  buffer.back() = '\0';
  return buffer.data();
}

// The face-coloured background of a dialog without the 3-D look.
INT_PTR FaceColour(HBRUSH &brush, UINT message, WPARAM wParam, LPARAM lParam, bool selectBrush = false) {
  if (g_Ctl3dActive && Ctl3dCtlColorEx) return reinterpret_cast<INT_PTR>(Ctl3dCtlColorEx(message, wParam, lParam));
  if (!brush) brush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  HDC dc = reinterpret_cast<HDC>(wParam);
  if (selectBrush) SelectObject(dc, brush);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<INT_PTR>(brush);
}

void DeleteBrush(HBRUSH &brush) {
  if (brush) DeleteObject(brush);
  brush = nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Configure
// ---------------------------------------------------------------------------
int g_RetrievalCountdown = 0;

namespace {

struct EditField {
  int id;
  std::string CONFIGURE_VALUES::*value;
  size_t width;  // characters kept, terminator included
};
// 755 and 757 are taken only while Include Message is ticked (see OnOk).
const EditField kEdits[] = {
    {IDC_CFG_MAILDIR, &CONFIGURE_VALUES::mailDir, 128},
    {IDC_CFG_MAILHOST, &CONFIGURE_VALUES::mailHost, 64},
    {IDC_CFG_ORGANIZATION, &CONFIGURE_VALUES::organization, 128},
    {IDC_CFG_PERSONALNAME, &CONFIGURE_VALUES::personalName, 64},
    {IDC_CFG_EDITOR, &CONFIGURE_VALUES::editor, 64},
    {IDC_CFG_REPLYSTRING, &CONFIGURE_VALUES::replyString, 255},
    {IDC_CFG_INDENT, &CONFIGURE_VALUES::indentString, 25},
    {IDC_CFG_REPLYTO, &CONFIGURE_VALUES::replyTo, 64},
    {IDC_CFG_WORDWRAP, &CONFIGURE_VALUES::wordWrapText, 10},
    {IDC_CFG_INTERVAL, &CONFIGURE_VALUES::intervalText, 10},
};

struct CheckField {
  int id;
  int CONFIGURE_VALUES::*value;
};
const CheckField kChecks[] = {
    {IDC_CFG_CCSELF, &CONFIGURE_VALUES::ccSelf},
    {IDC_CFG_SAVESENT, &CONFIGURE_VALUES::saveSent},
    {IDC_CFG_VERBOSE, &CONFIGURE_VALUES::verbose},
    {IDC_CFG_USESOUND, &CONFIGURE_VALUES::useSound},
    {IDC_CFG_REDIRECT, &CONFIGURE_VALUES::reDirectPrompt},
    {IDC_CFG_AUTOADVANCE, &CONFIGURE_VALUES::autoAdvance},
    {IDC_CFG_DELETEFROMSERVER, &CONFIGURE_VALUES::deleteReadFromServer},
    {IDC_CFG_INCLUDEREPLY, &CONFIGURE_VALUES::includeReply},
    {IDC_CFG_INCLUDEHEADER, &CONFIGURE_VALUES::includeHeader},
    {IDC_CFG_DELAYEDSEND, &CONFIGURE_VALUES::delayedSend},
    {IDC_CFG_LOGIN, &CONFIGURE_VALUES::login},
    {IDC_CFG_TIMED, &CONFIGURE_VALUES::timed},
};

// The dialog is modal, so one set of its state is enough: the owner whose
// timer 1 it sets, the check boxes' copies of their settings, the brush.
struct ConfigureState {
  HWND owner = nullptr;
  CONFIGURE_VALUES copies;
  HBRUSH brush = nullptr;
};
ConfigureState g_configure;

const CheckField *FindCheck(int id) {
  for (const CheckField &c : kChecks)
    if (c.id == id) return &c;
  return nullptr;
}

void EnableIncludeFields(HWND dialog) {
  const BOOL on = g_configure.copies.includeReply ? TRUE : FALSE;
  for (int id : {IDC_CFG_REPLYSTRING, IDC_CFG_INDENT, IDC_CFG_INCLUDEHEADER}) EnableWindow(GetDlgItem(dialog, id), on);
}

void EnableIntervalField(HWND dialog) {
  EnableWindow(GetDlgItem(dialog, IDC_CFG_INTERVAL), g_configure.copies.timed ? TRUE : FALSE);
}

BOOL OnConfigureInit(HWND dialog, LPARAM owner) {
  g_configure.owner = reinterpret_cast<HWND>(owner);
  if (!g_Ctl3dActive && !g_configure.brush) g_configure.brush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  g_configure.copies = ConfigureInitialValues();
  for (const EditField &e : kEdits) {
    // Typing stops at the width the setting keeps.
    SendDlgItemMessageA(dialog, e.id, EM_LIMITTEXT, e.width - 1, 0);
    SetDlgItemTextA(dialog, e.id, (g_configure.copies.*e.value).c_str());
  }
  for (const CheckField &c : kChecks)
    CheckDlgButton(dialog, c.id, g_configure.copies.*c.value ? BST_CHECKED : BST_UNCHECKED);
  EnableIncludeFields(dialog);
  EnableIntervalField(dialog);
  return TRUE;
}

void OnCheckClicked(HWND dialog, const CheckField &check) {
  int &copy = g_configure.copies.*check.value;
  copy = !copy;
  CheckDlgButton(dialog, check.id, copy ? BST_CHECKED : BST_UNCHECKED);
  if (check.id == IDC_CFG_INCLUDEREPLY) {
    const MAIL_SETTINGS &s = Settings();
    SetDlgItemTextA(dialog, IDC_CFG_REPLYSTRING, s.replyString.c_str());
    SetDlgItemTextA(dialog, IDC_CFG_INDENT, s.indentString.c_str());
    EnableIncludeFields(dialog);
  } else if (check.id == IDC_CFG_TIMED) {
    EnableIntervalField(dialog);
  }
}

void OnConfigureOk(HWND dialog) {
  CONFIGURE_VALUES values = g_configure.copies;
  for (const EditField &e : kEdits) {
    const bool includeText = e.id == IDC_CFG_REPLYSTRING || e.id == IDC_CFG_INDENT;
    if (includeText && !values.includeReply) continue;  // the settings keep their values
    values.*e.value = ItemText(dialog, e.id, e.width);
  }
  const CONFIGURE_RESULT result = ConfigureApply(values);
  if (result.killTimer) KillTimer(g_configure.owner, kRetrievalTimer);
  if (result.setTimer) {
    SetTimer(g_configure.owner, kRetrievalTimer, kRetrievalTimerMs, nullptr);
    g_RetrievalCountdown = Settings().interval;
  }
  const std::string caption = LoadText(IDS_WRITE_CONFIGURATION);
  if (result.failedWrites > 0)
    MessageBoxA(dialog, LoadText(IDS_WRITE_ERROR).c_str(), caption.c_str(), MB_ICONINFORMATION);
  if (result.mailDirMissing) {
    std::vector<char> text(512 + Settings().mailDir.size(), '\0');
    wsprintfA(text.data(), LoadText(IDS_MAILDIR_MISSING).c_str(), Settings().mailDir.c_str());
    MessageBoxA(dialog, text.data(), caption.c_str(), MB_ICONERROR);
    return;  // the dialog stays open
  }
  EndDialog(dialog, 1);
}

BOOL OnConfigureCommand(HWND dialog, int id) {
  if (id == IDOK) {
    OnConfigureOk(dialog);
    return TRUE;
  }
  if (id == IDCANCEL) {
    EndDialog(dialog, 2);  // nothing is written
    return TRUE;
  }
  if (const CheckField *check = FindCheck(id)) {
    OnCheckClicked(dialog, *check);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

INT_PTR CALLBACK ConfigureDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return OnConfigureInit(dialog, lParam);
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      return OnConfigureCommand(dialog, LOWORD(wParam));
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC: return FaceColour(g_configure.brush, message, wParam, lParam);
    case WM_DESTROY: DeleteBrush(g_configure.brush); return FALSE;
    default: return FALSE;
  }
}

INT_PTR ConfigureDialog(HWND owner) {
  return DialogBoxParamA(Instance(), "Configure", owner, ConfigureDlgProc, reinterpret_cast<LPARAM>(owner));
}

// ---------------------------------------------------------------------------
// Progress dialogs and the conversation
// ---------------------------------------------------------------------------
namespace {

// One progress dialog exists at a time (one session runs at a time).
struct ProgressState {
  HWND window = nullptr;
  HBRUSH brush = nullptr;
  int widest = 0;    // widest line so far, the list's horizontal extent
  std::string line;  // the line ShowConversationLine left
};
ProgressState g_progress;

BOOL OnProgressInit(HWND dialog) {
  if (g_Ctl3dActive && Ctl3dSubclassDlg)
    Ctl3dSubclassDlg(dialog, 0xFFFF);
  else if (!g_progress.brush)
    g_progress.brush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  g_progress.widest = 0;
  return TRUE;
}

int TextWidth(HWND window, const std::string &text) {
  HDC dc = GetDC(window);
  if (!dc) return 0;
  HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageA(window, WM_GETFONT, 0, 0));
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  SIZE size{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  if (old) SelectObject(dc, old);
  ReleaseDC(window, dc);
  return size.cx;
}

void OnConversationLine(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_PROGRESS_LIST);
  if (!list) return;  // the dialog without a conversation list
  const int width = TextWidth(list, g_progress.line) + 4;
  if (width > g_progress.widest) {
    g_progress.widest = width;
    SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(width), 0);
  }
  const LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(g_progress.line.c_str()));
  if (index >= 0) SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void OnProgressClose(HWND dialog) {
  DestroyWindow(dialog);
  if (g_progress.window == dialog) g_progress.window = nullptr;
}

}  // namespace

INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return OnProgressInit(dialog);
    case WM_QX_CONVERSATION_LINE: OnConversationLine(dialog); return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) != IDC_PROGRESS_BUTTON) return FALSE;
      MailIo().cancel = 1;
      PostMessageA(dialog, WM_CLOSE, 0, 0);
      return TRUE;
    case WM_CLOSE: OnProgressClose(dialog); return TRUE;
    case WM_DESTROY: DeleteBrush(g_progress.brush); return FALSE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC: return FaceColour(g_progress.brush, message, wParam, lParam, true);
    default: return FALSE;
  }
}

HWND OpenProgressDialog(HWND owner, const char *templateName) {
  HWND dialog = CreateDialogParamA(Instance(), templateName, owner, ProgressDlgProc, 0);
  g_progress.window = dialog;
  return dialog;
}

HWND OpenSmtpProgressDialog(HWND owner, bool verbose) {
  return OpenProgressDialog(owner, LoadText(verbose ? IDS_VERBOSE_DIALOG : IDS_NONVERBOSE_DIALOG).c_str());
}

HWND ConversationWindow() { return g_progress.window; }

void ProgressConversationView::AddLine(const std::string &text) {
  if (!g_progress.window) return;
  g_progress.line = text;  // each line of the conversation comes once, on its own
  SendMessageA(g_progress.window, WM_QX_CONVERSATION_LINE, 0, 0);
}

void ProgressConversationView::Close(bool verbose) {
  if (!g_progress.window) return;
  if (verbose)
    SetDlgItemTextA(g_progress.window, IDC_PROGRESS_BUTTON, LoadText(IDS_OK).c_str());
  else
    PostMessageA(g_progress.window, WM_CLOSE, 0, 0);
  MSG message;
  while (g_progress.window) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));  // the main loop still ends
      break;
    }
    if (IsDialogMessageA(g_progress.window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

ProgressConversationView &ProgressConversation() {
  static ProgressConversationView view;
  return view;
}

int ConversationDialogFilter(const MSG *message) {
  if (!g_progress.window || !message) return 0;
  MSG copy = *message;
  return IsDialogMessageA(g_progress.window, &copy) ? 1 : 0;
}
