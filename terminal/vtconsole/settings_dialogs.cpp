// The settings dialogs: templates, one table of the record bytes that the
// radio pairs set, and one dialog procedure with small handlers per dialog.
#include "settings_dialogs.h"

#include <qxwin/resources.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "command_line.h"
#include "settings_text.h"

#include <qxcommon.h>

namespace {

enum DialogKind { DLG_DIRECTORY, DLG_DISPLAY, DLG_GENERAL, DLG_PRINTER, DLG_KEYBOARD, DLG_TAB, DLG_COLOUR, DLG_KINDS };
const char *const kDialogNames[DLG_KINDS] = {"DIRECTORY", "DISPLAY", "GENERAL", "PRINTER", "KEYBOARD", "TAB", "COLOUR"};

// ---------------------------------------------------------------- templates
#define RADIO(text, id, x, y) QX_RADIOBUTTON(text, id, x, y, 104, 10)
#define PAIR(id0, text0, id1, text1, y) RADIO(text0, id0, 8, y), RADIO(text1, id1, 116, y)
#define OK_CANCEL(x) QX_DEFPUSHBUTTON("OK", IDOK, x, 8, 44, 14), QX_PUSHBUTTON("Cancel", IDCANCEL, x, 26, 44, 14)
constexpr DWORD kStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;

const QX_DIALOG_ITEM kDirectoryItems[] = {
    PAIR(401, "&Multi-National", 402, "&National", 8),
    PAIR(403, "&Local", 404, "&On Line", 22),
    QX_PUSHBUTTON("&Display...", IDC_DIR_DISPLAY, 8, 40, 60, 14),
    QX_PUSHBUTTON("&General...", IDC_DIR_GENERAL, 72, 40, 60, 14),
    QX_PUSHBUTTON("&Printer...", IDC_DIR_PRINTER, 136, 40, 60, 14),
    QX_PUSHBUTTON("&Keyboard...", IDC_DIR_KEYBOARD, 8, 58, 60, 14),
    QX_PUSHBUTTON("&Tab...", IDC_DIR_TAB, 72, 58, 60, 14),
    QX_PUSHBUTTON("Clear Display", IDC_DIR_CLEAR_DISPLAY, 8, 80, 60, 14),
    QX_PUSHBUTTON("Clear Comm", IDC_DIR_CLEAR_COMM, 72, 80, 60, 14),
    QX_PUSHBUTTON("Disconnect", IDC_DIR_DISCONNECT, 136, 80, 60, 14),
    QX_PUSHBUTTON("Reset Terminal", IDC_DIR_RESET, 8, 98, 60, 14),
    QX_PUSHBUTTON("De&fault Setup", IDC_DIR_DEFAULT, 72, 98, 60, 14),
    QX_PUSHBUTTON("Change &Key File", IDC_DIR_KEY_FILE, 136, 98, 60, 14),
    QX_PUSHBUTTON("&Save Setup...", IDC_DIR_SAVE, 8, 116, 60, 14),
    QX_PUSHBUTTON("&Recall Setup...", IDC_DIR_RECALL, 72, 116, 60, 14),
    QX_LTEXT("Key file:", -1, 8, 138, 50, 8),
    QX_LTEXT("", IDC_DIR_KEY_NAME, 60, 138, 170, 8),
    QX_LTEXT("Setup file:", -1, 8, 150, 50, 8),
    QX_LTEXT("", IDC_DIR_SETUP_NAME, 60, 150, 170, 8),
    OK_CANCEL(240),
};
const QX_DIALOG kDirectory =
    QX_DIALOG_TEMPLATE(20, 20, 290, 166, kStyle, "Setup Directory", "MS Sans Serif", 8, kDirectoryItems);

const QX_DIALOG_ITEM kDisplayItems[] = {
    PAIR(501, "&80 Columns", 502, "&132 Columns", 8),
    PAIR(503, "&Interpret Controls", 504, "&Display Controls", 22),
    PAIR(505, "No &AutoWrap", 506, "&AutoWrap", 36),
    PAIR(507, "&Jump Scroll", 508, "&Smooth Scroll", 50),
    PAIR(509, "&Cursor", 510, "No &Cursor", 64),
    PAIR(511, "&Underline Cursor", 512, "&Block Cursor", 78),
    PAIR(513, "Light &Text, Dark Screen", 514, "Dark &Text, Light Screen", 92),
    QX_PUSHBUTTON("C&olours...", IDC_DISPLAY_COLOURS, 8, 110, 60, 14),
    OK_CANCEL(230),
};
const QX_DIALOG kDisplay =
    QX_DIALOG_TEMPLATE(20, 20, 280, 130, kStyle, "Display Setup", "MS Sans Serif", 8, kDisplayItems);

const QX_DIALOG_ITEM kGeneralItems[] = {
    PAIR(601, "No &New Line", 602, "&New Line", 8),
    PAIR(604, "&User Features Unlocked", 603, "&User Features Locked", 22),
    PAIR(605, "No &Local Echo", 606, "&Local Echo", 36),
    PAIR(607, "Numeric &Keypad", 608, "Application &Keypad", 50),
    PAIR(609, "&VT100 ASCII", 610, "&VT100 U.K.", 64),
    PAIR(611, "Numeric &Cursor Keys", 612, "A&pplication &Cursor Keys", 78),
    PAIR(613, "User &Defined Keys Unlocked", 614, "User &Defined Keys Locked", 92),
    QX_LTEXT("&Terminal Mode:", -1, 8, 112, 60, 8),
    QX_COMBOBOX(IDC_GENERAL_MODE, 72, 110, 140, 80, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP),
    OK_CANCEL(230),
};
const QX_DIALOG kGeneral =
    QX_DIALOG_TEMPLATE(20, 20, 280, 130, kStyle, "General Setup", "MS Sans Serif", 8, kGeneralItems);

const QX_DIALOG_ITEM kPrinterItems[] = {
    PAIR(701, "Print Full Page", 702, "Print Scroll Region", 8),
    PAIR(703, "No Terminator", 704, "Terminator = FF", 22),
    PAIR(705, "ASCII/U.K. Only", 706, "All Characters", 36),
    QX_LTEXT("Print File:", -1, 8, 56, 50, 8),
    QX_EDITTEXT(IDC_PRINTER_FILE, 60, 54, 150, 12),
    QX_LTEXT("Printer Mode:", -1, 8, 74, 50, 8),
    QX_COMBOBOX(IDC_PRINTER_MODE, 60, 72, 150, 60, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP),
    OK_CANCEL(230),
};
const QX_DIALOG kPrinter =
    QX_DIALOG_TEMPLATE(20, 20, 280, 96, kStyle, "Printer Setup", "MS Sans Serif", 8, kPrinterItems);

const QX_DIALOG_ITEM kKeyboardItems[] = {
    PAIR(901, "No &Warning", 902, "&Warning", 8),
    PAIR(903, "Data &Processing", 904, "&Typewriter", 22),
    PAIR(905, "No &Margin Bell", 906, "&Margin Bell", 36),
    PAIR(907, "No &Auto Answerback", 908, "&Auto Answerback", 50),
    PAIR(909, "&BS", 910, "&DEL", 64),
    PAIR(911, "Not &Concealed", 912, "&Concealed", 78),
    PAIR(913, "No &Keyclick", 914, "&Keyclick", 92),
    PAIR(915, "No Auto &Repeat", 916, "Auto &Repeat", 106),
    QX_LTEXT("Keyboard &Language:", -1, 8, 124, 70, 8),
    QX_COMBOBOX(IDC_KEYBOARD_LANGUAGE, 80, 122, 130, 100, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP),
    QX_LTEXT("Answerback:", -1, 8, 142, 70, 8),
    QX_EDITTEXT(IDC_KEYBOARD_ANSWERBACK, 80, 140, 190, 12),
    OK_CANCEL(230),
};
const QX_DIALOG kKeyboard =
    QX_DIALOG_TEMPLATE(20, 20, 280, 160, kStyle, "Keyboard Setup", "MS Sans Serif", 8, kKeyboardItems);

const QX_DIALOG_ITEM kTabItems[] = {
    QX_PUSHBUTTON("Clear All Tabs", IDC_TAB_CLEAR_ALL, 8, 8, 70, 14),
    QX_PUSHBUTTON("Set 8 Column Tabs", IDC_TAB_SET_8, 84, 8, 70, 14),
    QX_SCROLLBAR(IDC_TAB_SCROLL, 8, 30, 200, 10, SBS_HORZ),
    QX_LTEXT("", IDC_TAB_LABEL, 8, 46, 60, 8),
    QX_PUSHBUTTON("Set", IDC_TAB_SET, 84, 44, 40, 14),
    QX_PUSHBUTTON("Clear", IDC_TAB_CLEAR, 130, 44, 40, 14),
    OK_CANCEL(220),
};
const QX_DIALOG kTab = QX_DIALOG_TEMPLATE(20, 20, 270, 66, kStyle, "Tab Setup", "MS Sans Serif", 8, kTabItems);

// The colour grid: 64 samples, 20 dialog units apart, from (18, 20).
#define SAMPLE(bg, fg)                                                                                         \
  QX_CONTROL("", IDC_COLOUR_GRID + 8 * (bg) + (fg), "Static", SS_LEFT | WS_CHILD | WS_VISIBLE, 18 + 20 * (fg), \
             20 + 20 * (bg), 16, 8)
#define SAMPLE_ROW(bg) \
  SAMPLE(bg, 0), SAMPLE(bg, 1), SAMPLE(bg, 2), SAMPLE(bg, 3), SAMPLE(bg, 4), SAMPLE(bg, 5), SAMPLE(bg, 6), SAMPLE(bg, 7)
const QX_DIALOG_ITEM kColourItems[] = {
    QX_RADIOBUTTON("Normal", IDC_COLOUR_NORMAL, 8, 4, 50, 10),
    QX_RADIOBUTTON("Blink", IDC_COLOUR_BLINK, 62, 4, 50, 10),
    QX_RADIOBUTTON("Underline", IDC_COLOUR_UNDERLINE, 116, 4, 50, 10),
    QX_RADIOBUTTON("Blink Underline", IDC_COLOUR_BLINK_UNDERLINE, 170, 4, 70, 10),
    SAMPLE_ROW(0),
    SAMPLE_ROW(1),
    SAMPLE_ROW(2),
    SAMPLE_ROW(3),
    SAMPLE_ROW(4),
    SAMPLE_ROW(5),
    SAMPLE_ROW(6),
    SAMPLE_ROW(7),
    OK_CANCEL(200),
};
const QX_DIALOG kColour = QX_DIALOG_TEMPLATE(20, 20, 250, 184, kStyle, "Colour", "MS Sans Serif", 8, kColourItems);

const QX_DIALOG_ITEM kGetHostItems[] = {
    QX_LTEXT("&Host:", -1, 8, 10, 30, 8),
    QX_COMBOBOX(IDC_HOST_NAME, 40, 8, 150, 90, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP),
    QX_LTEXT("&Port:", -1, 8, 28, 30, 8),
    QX_EDITTEXT(IDC_HOST_PORT, 40, 26, 40, 12),
    QX_SCROLLBAR(IDC_HOST_PORT_SCROLL, 82, 26, 10, 12, SBS_VERT),
    OK_CANCEL(200),
};
const QX_DIALOG kGetHost =
    QX_DIALOG_TEMPLATE(30, 30, 250, 48, kStyle, "Connect to Host", "MS Sans Serif", 8, kGetHostItems);

const QX_RESOURCE kDialogResources[] = {
    QX_RES_DIALOG("GetHost", kGetHost), QX_RES_DIALOG("DIRECTORY", kDirectory), QX_RES_DIALOG("DISPLAY", kDisplay),
    QX_RES_DIALOG("GENERAL", kGeneral), QX_RES_DIALOG("PRINTER", kPrinter),     QX_RES_DIALOG("KEYBOARD", kKeyboard),
    QX_RES_DIALOG("TAB", kTab),         QX_RES_DIALOG("COLOUR", kColour),
};

}  // namespace

QX_REGISTER_RESOURCES(kDialogResources)

namespace {

// ---------------------------------------------------------------- the record bytes of the radio pairs
struct RADIO_PAIR {
  DialogKind dialog;
  int id0, id1;  // the buttons storing value0 and value1
  size_t offset;
  BYTE value0, value1;
};
#define AT(field) offsetof(TERM_SETUP, field)
const RADIO_PAIR kPairs[] = {
    {DLG_DIRECTORY, 401, 402, AT(nationalMode), 0, 1},
    {DLG_DIRECTORY, 403, 404, AT(onLine), 0, 1},
    {DLG_DISPLAY, 501, 502, AT(columns), 80, 132},
    {DLG_DISPLAY, 503, 504, AT(displayControls), 0, 1},
    {DLG_DISPLAY, 505, 506, AT(autowrap), 0, 1},
    {DLG_DISPLAY, 507, 508, AT(smoothScroll), 0, 1},
    {DLG_DISPLAY, 509, 510, AT(cursorHidden), 0, 1},
    {DLG_DISPLAY, 511, 512, AT(cursorStyle), 0, 1},
    {DLG_DISPLAY, 513, 514, AT(screenMode), 0, 1},
    {DLG_GENERAL, 601, 602, AT(newLineMode), 0, 1},
    {DLG_GENERAL, 604, 603, AT(userFeaturesLocked), 0, 1},
    {DLG_GENERAL, 605, 606, AT(localEcho), 0, 1},
    {DLG_GENERAL, 607, 608, AT(keypadApp), 0, 1},
    {DLG_GENERAL, 609, 610, AT(vt100CharsetUk), 0, 1},
    {DLG_GENERAL, 611, 612, AT(cursorKeysApp), 0, 1},
    {DLG_GENERAL, 613, 614, AT(udkLocked), 0, 1},
    {DLG_PRINTER, 701, 702, AT(printExtentRegion), 0, 1},
    {DLG_PRINTER, 703, 704, AT(printFormFeed), 0, 1},
    {DLG_PRINTER, 705, 706, AT(print8Bit), 0, 1},
    {DLG_KEYBOARD, 901, 902, AT(warningBell), 0, 1},
    {DLG_KEYBOARD, 903, 904, AT(keyboardMode), 0, 1},
    {DLG_KEYBOARD, 905, 906, AT(marginBell), 0, 1},
    {DLG_KEYBOARD, 907, 908, AT(autoAnswerback), 0, 1},
    {DLG_KEYBOARD, 909, 910, AT(backspaceSendsDel), 0, 1},
    {DLG_KEYBOARD, 911, 912, AT(answerbackConcealed), 0, 1},
    {DLG_KEYBOARD, 913, 914, AT(keyclick), 0, 1},
    {DLG_KEYBOARD, 915, 916, AT(autoRepeat), 0, 1},
};

const char *const kTerminalModes[] = {"VT52",
                                      "VT100",
                                      "VT200, 7 bit controls",
                                      "VT200, 7 raw controls",
                                      "VT200, 8 bit controls",
                                      "VT200, 8 raw controls"};
const char *const kPrinterModes[] = {"Normal Print Mode", "Auto Print", "Controller Mode"};
const char *const kLanguages[] = {"North American",  "British", "Dutch",   "Finnish",   "French",
                                  "French Canadian", "German",  "Italian", "Norwegian", "Portuguese",
                                  "Spanish",         "Swedish", "Swiss"};
// The colour byte each colour button edits.
const size_t kColourFields[4] = {AT(defaultColour), AT(blinkColour), AT(underlineColour), AT(blinkUnderlineColour)};

struct DIALOG_STATE {
  DialogKind kind;
  VtTerminal *t;
  TERM_KEYMAP *km;
  SettingsHost *host;
  TERM_SETUP copy;
  char printName[64];
  TERM_SETUP *owner = nullptr;  // COLOUR writes into the DISPLAY dialog's copy
  int tabColumn = 1;
  int colourButton = IDC_COLOUR_NORMAL;
  HBRUSH brushes[8] = {};
};
DIALOG_STATE *g_states[DLG_KINDS];

BYTE &Byte(TERM_SETUP &s, size_t offset) { return reinterpret_cast<BYTE *>(&s)[offset]; }

COLORREF ColourOf(int bits) { return RGB(bits & 4 ? 255 : 0, bits & 2 ? 255 : 0, bits & 1 ? 255 : 0); }

INT_PTR RunDialog(HWND owner, DialogKind kind, DIALOG_STATE &state);

void ShowRadios(HWND dialog, DIALOG_STATE &st) {
  for (const RADIO_PAIR &p : kPairs) {
    if (p.dialog != st.kind) continue;
    const bool second = Byte(st.copy, p.offset) == p.value1;
    CheckRadioButton(dialog, std::min(p.id0, p.id1), std::max(p.id0, p.id1), second ? p.id1 : p.id0);
  }
}

bool RadioClicked(HWND dialog, DIALOG_STATE &st, int id) {
  for (const RADIO_PAIR &p : kPairs) {
    if (p.dialog != st.kind || (id != p.id0 && id != p.id1)) continue;
    Byte(st.copy, p.offset) = id == p.id1 ? p.value1 : p.value0;
    CheckRadioButton(dialog, std::min(p.id0, p.id1), std::max(p.id0, p.id1), id);
    return true;
  }
  return false;
}

void FillCombo(HWND dialog, int id, const char *const *texts, int count, int chosen) {
  for (int i = 0; i < count; ++i) {
    const LRESULT at = SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(texts[i]));
    SendDlgItemMessageA(dialog, id, CB_SETITEMDATA, static_cast<WPARAM>(at), i);
  }
  SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(chosen), 0);
}

int ComboChoice(HWND dialog, int id, int fallback) {
  const LRESULT at = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
  if (at < 0) return fallback;
  return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETITEMDATA, static_cast<WPARAM>(at), 0));
}

// Cancel reads "Close" (and keeps what sub-dialogs already applied).
void CancelBecomesClose(HWND dialog) { SetDlgItemTextA(dialog, IDCANCEL, "Close"); }

// ---------------------------------------------------------------- DIRECTORY
void ShowNames(HWND dialog, DIALOG_STATE &st) {
  const TERM_STATE &ts = st.t->st;
  SetDlgItemTextA(dialog, IDC_DIR_KEY_NAME, ts.keyMapName[0] ? ts.keyMapName : "(None)");
  SetDlgItemTextA(dialog, IDC_DIR_SETUP_NAME, ts.setupFileName[0] ? ts.setupFileName : "(None)");
}

void TakeNewCopies(HWND dialog, DIALOG_STATE &st) {
  st.copy = st.t->st.s;
  std::memcpy(st.printName, st.t->st.printName, sizeof st.printName);
  ShowRadios(dialog, st);
  ShowNames(dialog, st);
}

void DirectoryCommand(HWND dialog, DIALOG_STATE &st, int id) {
  VtTerminal &t = *st.t;
  static const DialogKind kSubs[] = {DLG_DISPLAY, DLG_GENERAL, DLG_PRINTER, DLG_KEYBOARD, DLG_TAB};
  if (id >= IDC_DIR_DISPLAY && id <= IDC_DIR_TAB) {
    DIALOG_STATE sub{kSubs[id - IDC_DIR_DISPLAY], st.t, st.km, st.host, t.st.s, {}};
    std::memcpy(sub.printName, t.st.printName, sizeof sub.printName);
    if (RunDialog(dialog, sub.kind, sub) == IDOK) CancelBecomesClose(dialog);
    return;
  }
  switch (id) {
    case IDC_DIR_CLEAR_DISPLAY: st.host->ClearDisplay(); break;
    case IDC_DIR_CLEAR_COMM: st.host->ClearComm(); break;
    case IDC_DIR_DISCONNECT: st.host->Disconnect(); break;
    case IDC_DIR_RESET: st.host->ResetTerminal(); break;
    case IDC_DIR_DEFAULT:
      SetupDefault(t);
      SetupApplyColumns(t);
      st.host->DisplayChanged();
      TakeNewCopies(dialog, st);
      CancelBecomesClose(dialog);
      break;
    case IDC_DIR_KEY_FILE: {
      std::string name = t.st.keyMapName;
      if (!st.host->ChooseFile(false, "Change Key File", "KEY", name)) break;
      std::string error;
      if (name.size() > 63) {
        st.host->Tell("The key file's name is longer than 63 characters; choose a shorter path.");
        break;
      }
      if (KeyMapLoad(*st.km, name.c_str(), t.files, t.st.s.backspaceSendsDel != 0, &error)) {
        std::snprintf(t.st.keyMapName, sizeof t.st.keyMapName, "%s", name.c_str());
      } else {
        st.host->Tell(error.c_str());
        std::snprintf(t.st.keyMapName, sizeof t.st.keyMapName, "%s", "VT220AT.KEY");
      }
      KeyMapApplyModes(*st.km, t.st.s);
      ShowNames(dialog, st);
      CancelBecomesClose(dialog);
      break;
    }
    case IDC_DIR_SAVE: {
      std::string name = t.st.setupFileName;
      if (!st.host->ChooseFile(true, "Save Setup", "STU", name)) break;
      t.st.s.nationalMode = st.copy.nationalMode;
      t.st.s.onLine = st.copy.onLine;
      std::memcpy(t.st.printName, st.printName, sizeof t.st.printName);
      SetupFileSave(t, name.c_str());
      ShowNames(dialog, st);
      break;
    }
    case IDC_DIR_RECALL: {
      std::string name = t.st.setupFileName;
      if (!st.host->ChooseFile(false, "Recall Setup", "STU", name)) break;
      SetupRecall(t, name.c_str());
      st.host->DisplayChanged();
      TakeNewCopies(dialog, st);
      CancelBecomesClose(dialog);
      break;
    }
    default: return;
  }
  SetFocus(dialog);
}

void DirectoryOk(DIALOG_STATE &st) {
  VtTerminal &t = *st.t;
  t.st.s.nationalMode = st.copy.nationalMode;
  t.st.s.onLine = st.copy.onLine;
  std::memcpy(t.st.printName, st.printName, sizeof t.st.printName);
  SetupApplyCharset(t);
}

// ---------------------------------------------------------------- KEYBOARD
void ShowAnswerback(HWND dialog, DIALOG_STATE &st) {
  const std::string text =
      st.copy.answerbackConcealed ? ConcealedPlaceholder(st.copy.setupLanguage) : AnswerbackToCaret(st.copy.answerback);
  SetDlgItemTextA(dialog, IDC_KEYBOARD_ANSWERBACK, text.c_str());
}

void KeyboardOk(HWND dialog, DIALOG_STATE &st) {
  VtTerminal &t = *st.t;
  st.copy.nationalLanguage = static_cast<BYTE>(ComboChoice(dialog, IDC_KEYBOARD_LANGUAGE, st.copy.nationalLanguage));
  char text[2 * 50 + 2] = {};  // every answerback byte may show as two characters
  GetDlgItemTextA(dialog, IDC_KEYBOARD_ANSWERBACK, text, sizeof text);
  if (std::strcmp(text, ConcealedPlaceholder(st.copy.setupLanguage)) == 0) {
    st.copy.answerbackConcealed = t.st.s.answerbackConcealed;  // untouched: kept as it was
    std::memcpy(st.copy.answerback, t.st.s.answerback, sizeof st.copy.answerback);
  } else {
    if (t.st.s.answerbackConcealed) st.copy.answerbackConcealed = 0;
    AnswerbackFromCaret(text, st.copy.answerback);
  }
  t.st.s = st.copy;
  SetupApplyKeyboardMode(t);
  FixBackspace(*st.km, t.st.s.backspaceSendsDel != 0);
}

// ---------------------------------------------------------------- TAB
int ColumnCount(const DIALOG_STATE &st) { return st.t->st.s.columns == 132 ? 132 : 80; }

void ShowTab(HWND dialog, DIALOG_STATE &st) {
  SetScrollPos(GetDlgItem(dialog, IDC_TAB_SCROLL), SB_CTL, st.tabColumn, TRUE);
  char label[16];
  std::snprintf(label, sizeof label, st.copy.tabStops[st.tabColumn - 1] ? "%3d - Tab" : "%3d", st.tabColumn);
  SetDlgItemTextA(dialog, IDC_TAB_LABEL, label);
}

void TabCommand(HWND dialog, DIALOG_STATE &st, int id) {
  switch (id) {
    case IDC_TAB_CLEAR_ALL: std::memset(st.copy.tabStops, 0, sizeof st.copy.tabStops); break;
    case IDC_TAB_SET_8:
      std::memset(st.copy.tabStops, 0, sizeof st.copy.tabStops);
      for (int c = 8; c < 132; c += 8) st.copy.tabStops[c] = 1;
      break;
    case IDC_TAB_SET: st.copy.tabStops[st.tabColumn - 1] = 1; break;
    case IDC_TAB_CLEAR: st.copy.tabStops[st.tabColumn - 1] = 0; break;
    default: return;
  }
  ShowTab(dialog, st);
}

void TabScroll(HWND dialog, DIALOG_STATE &st, int code, int position) {
  const int last = ColumnCount(st);
  int c = st.tabColumn;
  switch (code) {
    case SB_LINELEFT: c -= 1; break;
    case SB_LINERIGHT: c += 1; break;
    case SB_PAGELEFT: c -= 8; break;
    case SB_PAGERIGHT: c += 8; break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: c = position; break;
    default: return;
  }
  st.tabColumn = std::clamp(c, 1, last);
  ShowTab(dialog, st);
}

// ---------------------------------------------------------------- COLOUR
BYTE &ChosenColour(DIALOG_STATE &st) { return Byte(st.copy, kColourFields[st.colourButton - IDC_COLOUR_NORMAL]); }

void ColourClick(HWND dialog, DIALOG_STATE &st, int x, int y) {
  const LONG units = GetDialogBaseUnits();
  int fg = 0, bg = 0;
  if (!ColourGridCell(x, y, LOWORD(units), HIWORD(units), fg, bg)) return;
  ChosenColour(st) = static_cast<BYTE>(fg + 16 * bg);
  InvalidateRect(GetDlgItem(dialog, st.colourButton), nullptr, TRUE);
}

// ---------------------------------------------------------------- the dialog procedure
void Init(HWND dialog, DIALOG_STATE &st) {
  ShowRadios(dialog, st);
  switch (st.kind) {
    case DLG_DIRECTORY: ShowNames(dialog, st); break;
    case DLG_GENERAL:
      FillCombo(dialog, IDC_GENERAL_MODE, kTerminalModes, 6, std::min<int>(st.copy.terminalId, 5));
      break;
    case DLG_PRINTER:
      FillCombo(dialog, IDC_PRINTER_MODE, kPrinterModes, 3, std::min<int>(st.copy.printMode, 2));
      SendDlgItemMessageA(dialog, IDC_PRINTER_FILE, EM_LIMITTEXT, 62, 0);
      SetDlgItemTextA(dialog, IDC_PRINTER_FILE, st.printName);
      break;
    case DLG_KEYBOARD:
      FillCombo(dialog, IDC_KEYBOARD_LANGUAGE, kLanguages, 13, std::min<int>(st.copy.nationalLanguage, 12));
      ShowAnswerback(dialog, st);
      break;
    case DLG_TAB:
      SetScrollRange(GetDlgItem(dialog, IDC_TAB_SCROLL), SB_CTL, 1, ColumnCount(st), FALSE);
      ShowTab(dialog, st);
      break;
    case DLG_COLOUR:
      CheckRadioButton(dialog, IDC_COLOUR_NORMAL, IDC_COLOUR_BLINK_UNDERLINE, IDC_COLOUR_NORMAL);
      for (int i = 0; i < 8; ++i) st.brushes[i] = CreateSolidBrush(ColourOf(i));
      break;
    default: break;
  }
}

void Ok(HWND dialog, DIALOG_STATE &st) {
  VtTerminal &t = *st.t;
  switch (st.kind) {
    case DLG_DIRECTORY: DirectoryOk(st); break;
    case DLG_DISPLAY:
      t.st.s = st.copy;
      SetupApplyColumns(t);
      st.host->DisplayChanged();
      break;
    case DLG_GENERAL:
      st.copy.terminalId = static_cast<BYTE>(ComboChoice(dialog, IDC_GENERAL_MODE, st.copy.terminalId));
      t.st.s = st.copy;
      SetupApplyTerminalMode(t);
      SetupApplyCursorKeys(t);
      SetupApplyKeypad(t);
      break;
    case DLG_PRINTER: {
      st.copy.printMode = static_cast<BYTE>(ComboChoice(dialog, IDC_PRINTER_MODE, st.copy.printMode));
      char name[64] = {};
      GetDlgItemTextA(dialog, IDC_PRINTER_FILE, name, 63);
      t.st.s = st.copy;
      std::snprintf(t.st.printName, sizeof t.st.printName, "%s", name);
      break;
    }
    case DLG_KEYBOARD: KeyboardOk(dialog, st); break;
    case DLG_TAB: t.st.s = st.copy; break;
    case DLG_COLOUR:
      for (size_t f : kColourFields) Byte(*st.owner, f) = Byte(st.copy, f);
      t.st.colourAttribute = st.copy.defaultColour;
      break;
    default: break;
  }
}

void Command(HWND dialog, DIALOG_STATE &st, int id) {
  if (RadioClicked(dialog, st, id)) return;
  if (id == IDOK) {
    Ok(dialog, st);
    EndDialog(dialog, IDOK);
    return;
  }
  if (id == IDCANCEL) {
    // After a sub-dialog's OK the button reads "Close" and keeps the changes.
    char label[16] = {};
    GetDlgItemTextA(dialog, IDCANCEL, label, sizeof label);
    if (std::strcmp(label, "Close") == 0) {
      Ok(dialog, st);
      EndDialog(dialog, IDOK);
    } else {
      EndDialog(dialog, IDCANCEL);
    }
    return;
  }
  switch (st.kind) {
    case DLG_DIRECTORY: DirectoryCommand(dialog, st, id); break;
    case DLG_TAB: TabCommand(dialog, st, id); break;
    case DLG_DISPLAY:
      if (id == IDC_DISPLAY_COLOURS) {
        DIALOG_STATE colour{DLG_COLOUR, st.t, st.km, st.host, st.copy, {}};
        colour.owner = &st.copy;
        if (RunDialog(dialog, DLG_COLOUR, colour) == IDOK) {
          st.host->DisplayChanged();
          CancelBecomesClose(dialog);
        }
      }
      break;
    case DLG_COLOUR:
      if (id >= IDC_COLOUR_NORMAL && id <= IDC_COLOUR_BLINK_UNDERLINE) {
        st.colourButton = id;
        CheckRadioButton(dialog, IDC_COLOUR_NORMAL, IDC_COLOUR_BLINK_UNDERLINE, id);
      }
      break;
    default: break;
  }
}

// Colour samples and the colour buttons in their own colours.
INT_PTR ColourCtl(HWND dialog, DIALOG_STATE &st, HDC dc, HWND control) {
  const int id = GetDlgCtrlID(control);
  int fg = 7, bg = 0;
  if (id >= IDC_COLOUR_GRID && id < IDC_COLOUR_GRID + 64) {
    fg = (id - IDC_COLOUR_GRID) % 8;
    bg = (id - IDC_COLOUR_GRID) / 8;
  } else if (id >= IDC_COLOUR_NORMAL && id <= IDC_COLOUR_BLINK_UNDERLINE) {
    const BYTE c = Byte(st.copy, kColourFields[id - IDC_COLOUR_NORMAL]);
    fg = c & 7;
    bg = (c >> 4) & 7;
  } else {
    return FALSE;
  }
  SetTextColor(dc, ColourOf(fg));
  SetBkColor(dc, ColourOf(bg));
  return reinterpret_cast<INT_PTR>(st.brushes[bg]);
}

template <int Kind>
INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  DIALOG_STATE *st = g_states[Kind];
  if (!st) return FALSE;
  switch (message) {
    case WM_INITDIALOG: Init(dialog, *st); return TRUE;
    case WM_COMMAND: Command(dialog, *st, LOWORD(wParam)); return TRUE;
    case WM_HSCROLL:
      if (Kind == DLG_TAB) TabScroll(dialog, *st, LOWORD(wParam), static_cast<short>(HIWORD(wParam)));
      return TRUE;
    case WM_LBUTTONDOWN:
      if (Kind == DLG_COLOUR)
        ColourClick(dialog, *st, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
      return TRUE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      if (Kind == DLG_COLOUR)
        return ColourCtl(dialog, *st, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
      return FALSE;
    case WM_DESTROY:
      for (HBRUSH &b : st->brushes)
        if (b) {
          DeleteObject(b);
          b = nullptr;
        }
      return FALSE;
    default: return FALSE;
  }
}

const DLGPROC kProcs[DLG_KINDS] = {DialogProc<0>, DialogProc<1>, DialogProc<2>, DialogProc<3>,
                                   DialogProc<4>, DialogProc<5>, DialogProc<6>};

INT_PTR RunDialog(HWND owner, DialogKind kind, DIALOG_STATE &state) {
  DIALOG_STATE *outer = g_states[kind];
  g_states[kind] = &state;
  const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), kDialogNames[kind], owner, kProcs[kind], 0);
  g_states[kind] = outer;
  return result;
}

}  // namespace

INT_PTR TermSettingsDialog(HWND owner, const char *name, VtTerminal &t, TERM_KEYMAP &km, SettingsHost &host) {
  for (int k = 0; k < DLG_KINDS; ++k) {
    if (std::strcmp(name, kDialogNames[k]) != 0 || k == DLG_COLOUR) continue;
    DIALOG_STATE state{static_cast<DialogKind>(k), &t, &km, &host, t.st.s, {}};
    std::memcpy(state.printName, t.st.printName, sizeof state.printName);
    return RunDialog(owner, static_cast<DialogKind>(k), state);
  }
  return IDCANCEL;
}

// ---------------------------------------------------------------- the host dialog
namespace {

struct HOST_DIALOG {
  const char *iniFile;
  bool rlogin;
  SettingsHost *host;
  std::string *hostName;
  unsigned *port;
  bool edited = false;  // the combo's text was edited since the last selection
};
HOST_DIALOG *g_hostDialog;

constexpr int kMaxPort = 65535;

void ShowPort(HWND dialog, unsigned port) {
  SetDlgItemInt(dialog, IDC_HOST_PORT, port, FALSE);
  SetScrollPos(GetDlgItem(dialog, IDC_HOST_PORT_SCROLL), SB_CTL, static_cast<int>(port), TRUE);
}

void ShowChosenPort(HWND dialog, HOST_DIALOG &hd) {
  const LRESULT at = SendDlgItemMessageA(dialog, IDC_HOST_NAME, CB_GETCURSEL, 0, 0);
  if (at < 0) return;
  char entry[RECENT_ENTRY_MAX] = {};
  SendDlgItemMessageA(dialog, IDC_HOST_NAME, CB_GETLBTEXT, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(entry));
  std::string name;
  unsigned port = 0;
  HostEntryParse(entry, hd.rlogin, name, port);
  ShowPort(dialog, port);
  hd.edited = false;
}

void HostInit(HWND dialog, HOST_DIALOG &hd) {
  SetScrollRange(GetDlgItem(dialog, IDC_HOST_PORT_SCROLL), SB_CTL, 1, kMaxPort, FALSE);
  if (hd.rlogin) {
    EnableWindow(GetDlgItem(dialog, IDC_HOST_PORT_SCROLL), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_HOST_PORT), FALSE);
  }
  char stored[RECENT_HOSTS][RECENT_HOST_LEN] = {};
  const int found = ReadRecentHosts(hd.iniFile, "QX220", stored, RECENT_HOSTS);
  for (int i = 0; i < found; ++i)
    SendDlgItemMessageA(dialog, IDC_HOST_NAME, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(stored[i]));
  if (found > 0) {
    SendDlgItemMessageA(dialog, IDC_HOST_NAME, CB_SETCURSEL, 0, 0);
    ShowChosenPort(dialog, hd);
  } else {
    ShowPort(dialog, hd.rlogin ? 513 : 23);
  }
}

void HostScroll(HWND dialog, int code, int position) {
  BOOL ok = FALSE;
  int port = static_cast<int>(GetDlgItemInt(dialog, IDC_HOST_PORT, &ok, FALSE));
  switch (code) {
    case SB_LINEUP: port += 1; break;
    case SB_LINEDOWN: port -= 1; break;
    case SB_PAGEUP: port += 8; break;
    case SB_PAGEDOWN: port -= 8; break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: port = position; break;
    default: return;
  }
  ShowPort(dialog, static_cast<unsigned>(std::clamp(port, 1, kMaxPort)));
}

bool HostOk(HWND dialog, HOST_DIALOG &hd) {
  char text[128] = {};
  GetDlgItemTextA(dialog, IDC_HOST_NAME, text, sizeof text);
  std::string name;
  unsigned entryPort = 0;
  HostEntryParse(text, hd.rlogin, name, entryPort);
  BOOL ok = FALSE;
  const UINT port = GetDlgItemInt(dialog, IDC_HOST_PORT, &ok, FALSE);
  if (!hd.rlogin && (!ok || port < 1 || port > kMaxPort)) {
    hd.host->Tell("The port must be a number from 1 to 65535.");
    return false;
  }
  if (name.empty()) {
    hd.host->Tell("Type the name or address of the host to connect to.");
    return false;
  }
  *hd.hostName = name;
  *hd.port = hd.rlogin ? 513 : port;
  return true;
}

INT_PTR CALLBACK HostDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  HOST_DIALOG *hd = g_hostDialog;
  if (!hd) return FALSE;
  switch (message) {
    case WM_INITDIALOG: HostInit(dialog, *hd); return TRUE;
    case WM_VSCROLL: HostScroll(dialog, LOWORD(wParam), static_cast<short>(HIWORD(wParam))); return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          if (HostOk(dialog, *hd)) EndDialog(dialog, IDOK);
          return TRUE;
        case IDCANCEL:
          hd->hostName->clear();
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        case IDC_HOST_NAME:
          if (HIWORD(wParam) == CBN_SELCHANGE) ShowChosenPort(dialog, *hd);
          if (HIWORD(wParam) == CBN_EDITCHANGE && !hd->edited) {
            // A new name typed: the port starts again from the protocol's own.
            hd->edited = true;
            ShowPort(dialog, hd->rlogin ? 513 : 23);
          }
          return TRUE;
        default: return FALSE;
      }
    default: return FALSE;
  }
}

}  // namespace

INT_PTR TermHostDialog(HWND owner, const char *iniFile, bool rlogin, SettingsHost &host, std::string &hostName,
                       unsigned &port) {
  if (owner) InvalidateRect(owner, nullptr, FALSE);
  HOST_DIALOG hd{iniFile, rlogin, &host, &hostName, &port};
  HOST_DIALOG *outer = g_hostDialog;
  g_hostDialog = &hd;
  const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), "GetHost", owner, HostDialogProc, 0);
  g_hostDialog = outer;
  if (result != IDOK) hostName.clear();
  return result == IDOK ? IDOK : IDCANCEL;
}
