// Set-Up screens: static tables of screens and items in three languages, the
// key loop that walks and changes them, the colour chooser, the line editor
// for names and the answerback, and the tab ruler.
#include "setup_screens.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "keys.h"

namespace {

// Set-Up rows from the Set-Up block's first row: 0 title, 1/3/5 items, 6 a
// line, 7 messages and prompts, 8 the answerback hint (the screen's last row).
constexpr int kSetupRows = 9;
constexpr BYTE kTitleAttr = 4, kItemAttr = 8, kHighlightAttr = 10, kInputAttr = 8, kControlAttr = 72;

enum Kind { GOTO, VALUE, ACTION };
enum Action {
  ACT_NONE,
  ACT_DISCONNECT,
  ACT_CLEAR_DISPLAY,
  ACT_CLEAR_COMM,
  ACT_RESET,
  ACT_RECALL,
  ACT_SAVE,
  ACT_KEYMAP,
  ACT_DEFAULT,
  ACT_EXIT,
  ACT_COLOUR,
  ACT_PRINT_FILE,
  ACT_ANSWERBACK,
  ACT_CLEAR_TABS,
  ACT_SET_8_TABS,
  ACT_RULER,
};
enum After {
  AFTER_NONE,
  AFTER_CHARSET,
  AFTER_COLUMNS,
  AFTER_SCREEN_MODE,
  AFTER_CURSOR,
  AFTER_TERMINAL_MODE,
  AFTER_KEYPAD,
  AFTER_CURSOR_KEYS,
  AFTER_KEYBOARD_MODE,
  AFTER_BACKSPACE,
  AFTER_LANGUAGE,
  AFTER_CONCEALED,
};

// One item. For a value item, names holds the value names of each language
// separated by '|', parallel to values; for the others, its label.
struct SETUP_ITEM {
  int row;
  Kind kind;
  const char *names[3];
  int target = 0;  // screen of a go-to, action of an action item, field of a value item
  After after = AFTER_NONE;
  const char *values = "";  // "0,1" or "80,132"
};

#define NAMES(en, fr, de) \
  { en, fr, de }

const char *const kNextSetUp[3] = {"To Next Set-Up", "Mode de f. suiv.", "NÄCHSTE AUSWAHL"};
const char *const kToDirectory[3] = {"To Directory", "Vers répertoire", "ÜBERSICHT"};

#define NEXT(screen) \
  { 1, GOTO, NAMES(kNextSetUp[0], kNextSetUp[1], kNextSetUp[2]), screen }
#define TO_DIRECTORY \
  { 1, GOTO, NAMES(kToDirectory[0], kToDirectory[1], kToDirectory[2]), SCREEN_DIRECTORY }
#define FIELD(name) static_cast<int>(offsetof(TERM_SETUP, name))

const SETUP_ITEM kDirectory[] = {
    {1, GOTO, NAMES("Display", "Ecran", "ANZEIGE"), SCREEN_DISPLAY},
    {1, GOTO, NAMES("General", "Généralités", "ALLGEMEINES"), SCREEN_GENERAL},
    {1, GOTO, NAMES("Printer", "Imprimante", "DRUCKER"), SCREEN_PRINTER},
    {1, GOTO, NAMES("Keyboard", "Clavier", "TASTATUR"), SCREEN_KEYBOARD},
    {1, GOTO, NAMES("Tab", "Tab", "TAB"), SCREEN_TAB},
    {1, VALUE, NAMES("Multi-National|National", "Multinational|National", "Multinational|National"),
     FIELD(nationalMode), AFTER_CHARSET, "0,1"},
    {1, ACTION, NAMES("Disconnect", "Détacher", "disconect"), ACT_DISCONNECT},
    {3, VALUE, NAMES("Local|On Line", "Local|En Ligne", "lokal|online"), FIELD(onLine), AFTER_NONE, "0,1"},
    {3, ACTION, NAMES("Clear Display", "Eff. écran", "Anzeige löschen"), ACT_CLEAR_DISPLAY},
    {3, ACTION, NAMES("Clear Comm", "Init. comm.", "Komm rücks."), ACT_CLEAR_COMM},
    {3, ACTION, NAMES("Reset Terminal", "Remise à 0", "Terminal rücks."), ACT_RESET},
    {3, ACTION, NAMES("Recall", "Rappel", "abrufen"), ACT_RECALL},
    {3, ACTION, NAMES("Save", "Sauvegarde", "speichern"), ACT_SAVE},
    {5, VALUE,
     NAMES("Set-Up=English|Set-Up=Français|Set-Up=Deutsch",
           "Mode de fonct.=English|Mode de fonct.=Français|Mode de fonct.=Deutsch",
           "Auswahlbild=English|Auswahlbild=Français|Auswahlbild=Deutsch"),
     FIELD(setupLanguage), AFTER_LANGUAGE, "0,1,2"},
    {5, ACTION, NAMES("Keyboard = ", "Clavier = ", "Tastatur = "), ACT_KEYMAP},
    {5, ACTION, NAMES("Default", "Défaut", "Standard"), ACT_DEFAULT},
    {5, ACTION, NAMES("Exit", "Sortie", "FERTIG"), ACT_EXIT},
};

const SETUP_ITEM kDisplay[] = {
    NEXT(SCREEN_GENERAL),
    TO_DIRECTORY,
    {1, VALUE, NAMES("80 Columns|132 Columns", "80 Col.|132 Col.", "80 Zeichen|132 Zeichen"), FIELD(columns),
     AFTER_COLUMNS, "80,132"},
    {1, VALUE,
     NAMES("Interpret Controls|Display Controls", "Sans visu. caract. ctrl.|Visu. caract. ctrl.",
           "Steuerzn unsichtbar|Steuerzn sichtbar"),
     FIELD(displayControls), AFTER_NONE, "0,1"},
    {3, VALUE, NAMES("No Auto Wrap|Auto Wrap", "Sans retour auto|Retour auto", "kein Auto-Umbruch|Auto-Umbruch"),
     FIELD(autowrap), AFTER_NONE, "0,1"},
    {3, VALUE, NAMES("Jump Scroll|Smooth Scroll", "Défilé rapide|Défilé lent", "schnell Abrollen|weich Abrollen"),
     FIELD(smoothScroll), AFTER_NONE, "0,1"},
    {3, VALUE,
     NAMES("Light Text, Dark Screen|Dark Text, Light Screen", "Affichage normal|Affichage inversé",
           "Normal-Darstellung|Invers-Darstellung"),
     FIELD(screenMode), AFTER_SCREEN_MODE, "0,1"},
    {3, VALUE, NAMES("Cursor|No Cursor", "Curseur|Sans curseur", "Schreibmarke|keine Schreibmarke"),
     FIELD(cursorHidden), AFTER_CURSOR, "0,1"},
    {5, VALUE,
     NAMES("Block Cursor Style|Underline Cursor Style", "Bloc|Souligné", "Block-Schreibmarke|Strich-Schreibmarke"),
     FIELD(cursorStyle), AFTER_CURSOR, "1,0"},
    {5, ACTION, NAMES("Normal", "Normal", "Normal"), ACT_COLOUR, AFTER_NONE, "229"},
    {5, ACTION, NAMES("Blink", "Clinger", "Blinzeln"), ACT_COLOUR, AFTER_NONE, "230"},
    {5, ACTION, NAMES("Underline", "Souligné", "Unterstrichen"), ACT_COLOUR, AFTER_NONE, "228"},
    {5, ACTION, NAMES("Blink Underline", "Clinger et souligné", "Blinzeln Unterstrichen"), ACT_COLOUR, AFTER_NONE,
     "231"},
};

const SETUP_ITEM kGeneral[] = {
    NEXT(SCREEN_PRINTER),
    TO_DIRECTORY,
    {1, VALUE,
     NAMES("VT52 Mode|VT100 Mode|VT200 Mode, 7 Bit Controls|VT200 Mode, 7 Raw Controls|VT200 Mode, 8 Bit "
           "Controls|VT200 Mode, 8 Raw Controls",
           "VT52|VT100|VT200, Car. de ctrl 7 Bits|VT200, Car. de ctrl 7 Raw|VT200, Car. de ctrl 8 Bits|VT200, Car. "
           "de ctrl 8 Raw",
           "VT52-Modus|VT100-Modus|VT200-Modu,7-Bit-Steuerng|VT200-Modu,7-Raw-Steuerng|VT200-Modu,8-Bit-Steuerng|"
           "VT200-Modu,8-Raw-Steuerng"),
     FIELD(terminalId), AFTER_TERMINAL_MODE, "0,1,2,3,4,5"},
    {1, VALUE, NAMES("VT100 ASCII|VT100 U.K.", "VT100 ASCII|VT100 U.K.", "VT100 ASCII|VT100 U.K."),
     FIELD(vt100CharsetUk), AFTER_NONE, "0,1"},
    {3, VALUE,
     NAMES("User Defined Keys Unlocked|User Defined Keys Locked", "T.D.U. modifiables|T.D.U. non modifiables",
           "F-Tasten frei|F-Tasten gesperrt"),
     FIELD(udkLocked), AFTER_NONE, "0,1"},
    {3, VALUE,
     NAMES("User Features Unlocked|User Features Locked", "F.D.U. modifiables|F.D.U. non modifiables",
           "Benutzer Auswahl frei|Benutzer Auswahl gesperrt"),
     FIELD(userFeaturesLocked), AFTER_NONE, "0,1"},
    {3, VALUE, NAMES("No Local Echo|Local Echo", "Sans écho local|Echo local", "Fernecho|Lokalecho"), FIELD(localEcho),
     AFTER_NONE, "0,1"},
    {5, VALUE,
     NAMES("Numeric Keypad|Application Keypad", "Mode numérique|Mode application",
           "Numerik-Tastenblock|Anwendungs-Tastenblock"),
     FIELD(keypadApp), AFTER_KEYPAD, "0,1"},
    {5, VALUE,
     NAMES("Numeric Cursor Keys|Application Cursor Keys", "Mode déplacement|Mode application sec.",
           "Normal-Pfeiltasten|Anwendungs-Pfeiltasten"),
     FIELD(cursorKeysApp), AFTER_CURSOR_KEYS, "0,1"},
    {5, VALUE, NAMES("No New Line|New Line", "Même ligne|Nelle ligne", "gleiche Zeile|neue Zeile"), FIELD(newLineMode),
     AFTER_NONE, "0,1"},
};

const SETUP_ITEM kPrinter[] = {
    NEXT(SCREEN_KEYBOARD),
    TO_DIRECTORY,
    {1, VALUE,
     NAMES("Normal Print Mode|Auto Print|Controller Mode", "Normal|Impression auto|Contrôleur",
           "Normal-Betrieb|Auto-Betrieb|Fern-Betrieb"),
     FIELD(printMode), AFTER_NONE, "0,1,2"},
    {3, VALUE,
     NAMES("Print Full Page|Print Scroll Region", "Pleine page|Zone de défilement",
           "drucke volle Seite|drucke Abrollbereich"),
     FIELD(printExtentRegion), AFTER_NONE, "0,1"},
    {3, VALUE,
     NAMES("ASCII/U.K. Only|All Characters", "ASCII/U.K.|Jeu de caract. étendu", "nur ASCII/U.K.|alle Zeichen"),
     FIELD(print8Bit), AFTER_NONE, "0,1"},
    {5, VALUE,
     NAMES("No Terminator|Terminator = FF", "Sans terminatuer|Terminateur = Av. 1 page", "neue Zeile|neue Seite"),
     FIELD(printFormFeed), AFTER_NONE, "0,1"},
    {5, ACTION, NAMES("Print File = ", "Imprimer fichier = ", "File drucken = "), ACT_PRINT_FILE},
};

const SETUP_ITEM kKeyboard[] = {
    NEXT(SCREEN_TAB),
    TO_DIRECTORY,
    {1, VALUE, NAMES("No Auto Repeat|Auto Repeat", "0 Rép. auto|Répét. auto", "keine Typamatik|Typamatik"),
     FIELD(autoRepeat), AFTER_NONE, "0,1"},
    {1, VALUE, NAMES("No Keyclick|Keyclick", "0 Bip de touche|Bip de touche", "kein Tastklick|Tastklick"),
     FIELD(keyclick), AFTER_NONE, "0,1"},
    {1, VALUE, NAMES("Data Processing|Typewriter", "informat.|bureaut.", "EDV Tastatur|Schreibmasch"),
     FIELD(keyboardMode), AFTER_KEYBOARD_MODE, "0,1"},
    {3, VALUE, NAMES("No Margin Bell|Margin Bell", "0 Alarme de marge|Alarme de marge", "kein Randsignal|Randsignal"),
     FIELD(marginBell), AFTER_NONE, "0,1"},
    {3, VALUE, NAMES("No Warning|Warning", "0 Alarme|Alarme", "kein Signal|Signal"), FIELD(warningBell), AFTER_NONE,
     "0,1"},
    {3, VALUE,
     NAMES("No Auto Answerback|Auto Answerback", "0 Msg de Réponse|Msg de Réponse", "keine Auto-Antwort|Auto-Antwort"),
     FIELD(autoAnswerback), AFTER_NONE, "0,1"},
    {3, VALUE,
     NAMES("North American|British|Dutch|Finnish|French|French "
           "Canadian|German|Italian|Norwegian|Portuguese|Spanish|Swedish|Swiss",
           "américain du nord|Britannique|hollandois|finnois|français|canadien "
           "français|allemand|italien|norvégien|portugais|espagnol|suédois|suisse",
           "amerikanisch|britisch|holländisch|finnisch|französisch|kanad. "
           "französisch|deutsch|italienisch|norwegish|portugiesisch|spanisch|schwedisch|schweizerisch"),
     FIELD(nationalLanguage), AFTER_NONE, "0,1,2,3,4,5,6,7,8,9,10,11,12"},
    {3, VALUE, NAMES("BS|DEL", "BS|DEL", "BS|DEL"), FIELD(backspaceSendsDel), AFTER_BACKSPACE, "0,1"},
    {5, ACTION, NAMES("Answerback= ", "Msg de rép= ", "Antwort= "), ACT_ANSWERBACK},
    {5, VALUE, NAMES("Not Concealed|Concealed", "Affiché|Caché", "sichtbar|unsichtbar"), FIELD(answerbackConcealed),
     AFTER_CONCEALED, "0,1"},
};

const SETUP_ITEM kTab[] = {
    NEXT(SCREEN_DISPLAY),
    TO_DIRECTORY,
    {1, ACTION, NAMES("Clear All Tabs", "Annulation des tab.", "lösche Tab-Stops"), ACT_CLEAR_TABS},
    {1, ACTION, NAMES("Set 8 Column Tabs", "Tab. 8 col.", "setze Tab-Stops"), ACT_SET_8_TABS},
    {3, ACTION, NAMES("", "", ""), ACT_RULER},
};

struct SETUP_SCREEN {
  const char *titles[3];
  const SETUP_ITEM *items;
  int count;
};

#define SCREEN(en, fr, de, items) \
  { {en, fr, de}, items, static_cast<int>(std::size(items)) }
const SETUP_SCREEN kScreens[SETUP_SCREENS] = {
    SCREEN("Set-Up Directory", "Répertoire des modes de fonct.", "Auswahlbild ÜBERSICHT", kDirectory),
    SCREEN("Display Set-Up", "Mode de fonct. de l'écran", "Auswahlbild ANZEIGE", kDisplay),
    SCREEN("General Set-Up", "Mode de fonct. général", "Auswahlbild ALLGEMEINES", kGeneral),
    SCREEN("Printer Set-up", "Mode de fonct. de l'impriante", "Auswahlbild DRUCKER", kPrinter),
    SCREEN("Keyboard Set-up", "Mode de fonct. du clavier", "Auswahlbild TASTATUR", kKeyboard),
    SCREEN("Tab Set-up", "Mode de fonct. des tab.", "Auswahlbild TAB", kTab),
};

// The hot keys of the header: number, row offset above the Set-Up block, right column.
struct HOT_KEY_LABEL {
  int number;
  int rowsAbove;
  bool right;
  const char *names[3];
};
const HOT_KEY_LABEL kHotKeyLabels[] = {
    {HOTKEY_EXIT, 10, false, {"Exit Emulator", "Sortie de l'émulateur", "Emulation beenden"}},
    {HOTKEY_FREEZE, 8, true, {"Freeze screen", "Figer écran", "Schirm einfrieren"}},
    {HOTKEY_SETUP, 10, true, {"Enter/Exit Setup", "Entrer/Sortie d'Adapte", "Setup ein/ausschalten"}},
    {HOTKEY_LOGGING, 4, false, {"Toggle Logging", "Début/Fin enregistrement", "Log ein/ausschalten"}},
    {HOTKEY_PRINT, 4, true, {"Print-Screen", "Imprimer écran", "Schirminhalt drucken"}},
    {HOTKEY_DOS, 8, false, {"Push to DOS", "Passer au DOS", "DOS Befehlsebene"}},
    {HOTKEY_SWITCH, 6, false, {"Switch Session", "Commuter la session", "Session wechsein"}},
    {HOTKEY_NEW_SESSION, 6, true, {"Start New Session", "Commencer une session", "neue Session starten"}},
    {HOTKEY_COMPOSE, 2, false, {"Compose Key", "Touche Composer", "Compose Key"}},
};
// Label and "= " columns per language: left label, left "= ", right label, right "= ".
const int kLabelColumns[3][4] = {{9, 24, 43, 61}, {1, 27, 41, 70}, {1, 29, 40, 69}};

const char *const kNotice[3] = {"QX VT220 Terminal Set-Up", "Mode de fonctionnement du terminal QX VT220",
                                "QX VT220 Terminal Auswahlbild"};
const char *const kMoveHint = "Press ENTER to change this field - Press Cursor Keys to move";
const char *const kUseArrows[3] = {"Use the arrow keys:", "Utiliser les touches fléchées:", "Pfeiltasten benutzen:"};
const char *const kUnknown = "Unknown";
const char *const kConcealedText[3] = {"<Concealed>", "<Caché>", "<unsichtbar>"};
const char *const kAnswerbackHint = "Terminate with Ctrl-Enter";
const char *const kDone[3] = {"Done", "Effectué", "AUSGEFÜRT"};
const char *const kPromptSetupFile[3] = {"Setup File=", "Fichier Adapte=", "Aufstellungsakte"};
const char *const kPromptPrintFile[3] = {"Print File=", "Imprimer fichier=", "File drucken="};
const char *const kPromptKeyFile[3] = {"Keyboard File=", "Fichier clavier=", "Tastaturakte="};
const char *const kPromptAnswerback[3] = {"Enter Answerback=", "Entrer msg de rép=", "Rüchruf antwort="};

// The name of a path without its directory.
std::string BaseName(const char *path) {
  const char *slash = std::max(std::strrchr(path, '\\'), std::strrchr(path, '/'));
  const char *colon = std::strrchr(path, ':');
  const char *cut = std::max(slash, colon && colon[1] ? colon : nullptr);
  return cut ? cut + 1 : path;
}

// Part i of a '|' separated list.
std::string Part(const char *list, int i) {
  const char *p = list;
  for (; i > 0 && p; --i) {
    p = std::strchr(p, '|');
    if (p) ++p;
  }
  if (!p) return {};
  const char *end = std::strchr(p, '|');
  return end ? std::string(p, end) : std::string(p);
}

int ParseValues(const char *list, int *values, int max) {
  int n = 0;
  for (const char *p = list; *p && n < max;) {
    values[n++] = std::atoi(p);
    p = std::strchr(p, ',');
    if (!p) break;
    ++p;
  }
  return n;
}

BYTE &FieldByte(VtTerminal &t, int offset) { return reinterpret_cast<BYTE *>(&t.st.s)[offset]; }

bool IsUp(BYTE c) { return c == 72 || c == 95; }
bool IsDown(BYTE c) { return c == 80 || c == 97; }
bool IsLeft(BYTE c) { return c == 75 || c == 96; }
bool IsRight(BYTE c) { return c == 77 || c == 98; }
bool IsEnter(BYTE c) { return c == 28 || c == 78 || c == 99; }

}  // namespace

// ---------------------------------------------------------------- text
std::string Cp437(const char *utf8) {
  static const struct {
    const char *utf8;
    char cp;
  } kMap[] = {{"é", '\x82'}, {"è", '\x8A'}, {"ê", '\x88'}, {"ë", '\x89'}, {"à", '\x85'}, {"â", '\x83'}, {"ç", '\x87'},
              {"ô", '\x93'}, {"ö", '\x94'}, {"ü", '\x81'}, {"û", '\x96'}, {"ä", '\x84'}, {"î", '\x8C'}, {"ï", '\x8B'},
              {"Ä", '\x8E'}, {"Ö", '\x99'}, {"Ü", '\x9A'}, {"É", '\x90'}, {"ß", '\xE1'}};
  std::string out;
  for (const char *p = utf8; *p;) {
    bool mapped = false;
    for (const auto &m : kMap) {
      const size_t n = std::strlen(m.utf8);
      if (std::strncmp(p, m.utf8, n) == 0) {
        out.push_back(m.cp);
        p += n;
        mapped = true;
        break;
      }
    }
    if (!mapped) out.push_back(*p++);
  }
  return out;
}

// ---------------------------------------------------------------- layout
int TermSetup::BaseRow() const { return t_.st.screenRows - kSetupRows; }

int TermSetup::ItemCount() const { return kScreens[screen_].count; }

const char *TermSetup::Lang(const char *const texts[3]) const { return texts[std::min<int>(t_.st.s.setupLanguage, 2)]; }

std::string TermSetup::ItemText(int i) const {
  const SETUP_ITEM &item = kScreens[screen_].items[i];
  const int lang = std::min<int>(t_.st.s.setupLanguage, 2);
  if (item.kind == VALUE) {
    int values[16];
    const int n = ParseValues(item.values, values, 16);
    const BYTE v = reinterpret_cast<const BYTE *>(&t_.st.s)[item.target];
    for (int k = 0; k < n; ++k)
      if (values[k] == v) return Cp437(Part(item.names[lang], k).c_str());
    return kUnknown;
  }
  std::string text = Cp437(item.names[lang]);
  if (item.kind == ACTION) {
    const TERM_STATE &st = t_.st;
    switch (item.target) {
      case ACT_KEYMAP: text += BaseName(st.keyMapName); break;
      case ACT_PRINT_FILE: text += BaseName(st.printName); break;
      case ACT_ANSWERBACK:
        if (st.s.answerbackConcealed)
          text += Cp437(kConcealedText[lang]);
        else
          text.append(reinterpret_cast<const char *>(st.s.answerback), strnlen((const char *)st.s.answerback, 50));
        break;
      default: break;
    }
  }
  return text;
}

std::string TermSetup::CurrentLabel() const { return ItemText(item_); }

// Item columns: the first of a row at 0, the next 3 cells after the widest
// text the item can show in this language.
void TermSetup::Layout() {
  const int lang = std::min<int>(t_.st.s.setupLanguage, 2);
  int row = -1, col = 0;
  for (int i = 0; i < ItemCount(); ++i) {
    const SETUP_ITEM &item = kScreens[screen_].items[i];
    int width = 0;
    if (item.kind == VALUE) {
      int values[16];
      const int n = ParseValues(item.values, values, 16);
      for (int k = 0; k < n; ++k) width = std::max<int>(width, Cp437(Part(item.names[lang], k).c_str()).size());
    } else {
      width = static_cast<int>(ItemText(i).size());
    }
    if (item.row != row) {
      row = item.row;
      col = 0;
    }
    itemCol_[i] = col;
    col += width + 3;
  }
}

void TermSetup::WriteAt(int setupRow, int col, const std::string &text, BYTE attribute, int width) {
  const int row = BaseRow() + setupRow;
  if (row < 0 || row >= t_.st.screenRows) return;
  const int limit = std::min(80, GRID_COLUMNS);
  if (width < 0) width = static_cast<int>(text.size());
  for (int i = 0; i < width && col + i < limit; ++i) {
    BYTE ch = i < static_cast<int>(text.size()) ? static_cast<BYTE>(text[i]) : ' ';
    BYTE attr = attribute;
    if (ch < 32) {  // a control character shows as its symbol
      ch = static_cast<BYTE>(ch + 128);
      attr |= ATTR_GLYPH;
    }
    t_.screen.cells[row][col + i] = {ch, attr};
  }
  if (t_.display) t_.display->PaintCells(row, col, std::min(width, limit - col));
}

void TermSetup::ClearSetupRow(int setupRow) { WriteAt(setupRow, 0, "", 0, 80); }

void TermSetup::DrawHeader() {
  const int lang = std::min<int>(t_.st.s.setupLanguage, 2);
  const int base = BaseRow();
  const std::string notice = Cp437(kNotice[lang]);
  const int noticeRow = std::max(0, base - 13);
  if (noticeRow < base - 10) WriteAt(noticeRow - base, (80 - static_cast<int>(notice.size())) / 2, notice, 0);
  for (const HOT_KEY_LABEL &h : kHotKeyLabels) {
    const int *cols = kLabelColumns[lang];
    const int labelCol = h.right ? cols[2] : cols[0], equalsCol = h.right ? cols[3] : cols[1];
    WriteAt(-h.rowsAbove, labelCol, Cp437(h.names[lang]), 0);
    WriteAt(-h.rowsAbove, equalsCol, "= " + KeyMapHotKeyName(km_, h.number), 0);
  }
}

void TermSetup::DrawItem(int i, BYTE attribute) {
  const SETUP_ITEM &item = kScreens[screen_].items[i];
  if (item.kind == ACTION && item.target == ACT_RULER) {
    const bool stop = t_.st.s.tabStops[RulerColumn()] != 0;
    WriteAt(rulerRow_, rulerCol_, stop ? "T" : " ", attribute);
    return;
  }
  WriteAt(item.row, itemCol_[i], ItemText(i), attribute, static_cast<int>(ItemText(i).size()) + 1);
}

void TermSetup::DrawRuler() {
  const TERM_SETUP &s = t_.st.s;
  for (int half = 0; half < 2; ++half) {
    const int first = half * 80, count = half ? 52 : 80;
    for (int c = 0; c < count; ++c) {
      const int column = first + c;
      WriteAt(3 + 2 * half, c, s.tabStops[column] ? "T" : " ", kItemAttr);
      const char digit[2] = {static_cast<char>('0' + (column + 1) % 10), 0};
      WriteAt(4 + 2 * half, c, digit, (column / 10) % 2 ? kItemAttr : 0);
    }
  }
}

void TermSetup::DrawScreen() {
  TERM_STATE &st = t_.st;
  for (int r = 0; r < st.screenRows; ++r) {
    st.lineAttribute[r] = LINE_SINGLE;
    for (int c = 0; c < GRID_COLUMNS; ++c) t_.screen.cells[r][c] = {0x20, 0};
  }
  if (t_.display) t_.display->RepaintRows(0, st.screenRows - 1);
  DrawHeader();
  WriteAt(0, 0, Cp437(Lang(kScreens[screen_].titles)), kTitleAttr);
  Layout();
  for (int i = 0; i < ItemCount(); ++i)
    if (!(kScreens[screen_].items[i].kind == ACTION && kScreens[screen_].items[i].target == ACT_RULER))
      DrawItem(i, kItemAttr);
  WriteAt(6, 0, std::string(80, '-'), 0);
  if (screen_ == SCREEN_TAB) DrawRuler();
  Highlight();
}

void TermSetup::Highlight() {
  const SETUP_ITEM &item = kScreens[screen_].items[item_];
  BYTE attribute = kHighlightAttr;
  if (item.kind == ACTION && item.target == ACT_COLOUR) {
    const int field = std::atoi(item.values);
    attribute = field == 230 ? 1 : field == 228 ? 2 : field == 231 ? 3 : kHighlightAttr;
  }
  DrawItem(item_, attribute);
}

void TermSetup::Message(const char *text) {
  lastMessage_ = text ? text : "";
  ClearSetupRow(7);
  const int n = std::min<int>(lastMessage_.size(), 80);
  WriteAt(7, (80 - n) / 2, lastMessage_.substr(0, n), 0);
}

void TermSetup::Bell() {
  if (t_.st.s.warningBell) host_.Bell();
}

// ---------------------------------------------------------------- entering and leaving
void TermSetup::Enter() {
  if (active_) return;  // entered once; a second save would lose the first
  ScreenSave(t_, savedScreen_);
  savedMap_ = km_;
  loadsAtEnter_ = km_.loads;
  active_ = true;
  mode_ = Mode::kNavigate;
  screen_ = SCREEN_DIRECTORY;
  item_ = 0;
  rulerRow_ = 3;
  rulerCol_ = 0;
  host_.MenusEnabled(false);
  DrawScreen();
}

void TermSetup::Leave() {
  if (!active_) return;
  active_ = false;
  mode_ = Mode::kNavigate;
  // A key map chosen in Set-Up stays in force, and the host's user keys go
  // with the old map; otherwise the map and keys come back as they were.
  if (km_.loads == loadsAtEnter_) km_ = savedMap_;
  savedMap_ = TERM_KEYMAP{};
  KeyMapApplyModes(km_, t_.st.s);  // the modes Set-Up may have changed
  ScreenRestore(t_, savedScreen_);
  host_.MenusEnabled(true);
}

// ---------------------------------------------------------------- keys
void TermSetup::Key(BYTE code, BYTE modifier) {
  if (!active_) return;
  if (mode_ == Mode::kInput) {
    InputKey(code, modifier);
    return;
  }
  if (mode_ == Mode::kColour) {
    ColourKey(code);
    return;
  }
  ClearSetupRow(7);
  lastMessage_.clear();
  DrawItem(item_, kItemAttr);
  const SETUP_ITEM &item = kScreens[screen_].items[item_];
  const bool onRuler = item.kind == ACTION && item.target == ACT_RULER;
  if (onRuler && (IsLeft(code) || IsRight(code)))
    RulerMove(IsLeft(code) ? -1 : 1);
  else if (IsUp(code) || IsDown(code) || IsLeft(code) || IsRight(code))
    Move(code);
  else if (IsEnter(code))
    Act();
  else if (code == 15 && onRuler)
    TabKey();
  else {
    Message(kMoveHint);
    Bell();
  }
  if (active_ && mode_ == Mode::kNavigate) Highlight();
}

void TermSetup::Move(int code) {
  const SETUP_ITEM *items = kScreens[screen_].items;
  if (IsLeft(code)) {
    if (item_ > 0) --item_;
    return;
  }
  if (IsRight(code)) {
    if (item_ + 1 < ItemCount()) ++item_;
    return;
  }
  // Up and down: the item of the row above or below that starts nearest.
  const int row = items[item_].row;
  int best = -1, bestRow = IsUp(code) ? -1 : 99;
  for (int i = 0; i < ItemCount(); ++i) {
    const int r = items[i].row;
    const bool candidate = IsUp(code) ? (r < row && r >= bestRow) : (r > row && r <= bestRow);
    if (!candidate) continue;
    if (r != bestRow || std::abs(itemCol_[i] - itemCol_[item_]) < std::abs(itemCol_[best] - itemCol_[item_])) {
      best = i;
      bestRow = r;
    }
  }
  if (best >= 0) item_ = best;
}

void TermSetup::RulerMove(int delta) {
  if (delta < 0) {
    if (rulerCol_ > 0)
      --rulerCol_;
    else if (rulerRow_ == 5) {
      rulerRow_ = 3;
      rulerCol_ = 79;
    }
  } else if (rulerRow_ == 3) {
    if (rulerCol_ < 79)
      ++rulerCol_;
    else {
      rulerRow_ = 5;
      rulerCol_ = 0;
    }
  } else if (rulerCol_ < 51) {
    ++rulerCol_;
  }
}

void TermSetup::TabKey() {
  int column = RulerColumn() + 1;
  while (column < 131 && !t_.st.s.tabStops[column]) ++column;
  column = std::min(column, 131);
  rulerRow_ = column < 80 ? 3 : 5;
  rulerCol_ = column < 80 ? column : column - 80;
}

void TermSetup::Act() {
  const SETUP_ITEM &item = kScreens[screen_].items[item_];
  switch (item.kind) {
    case GOTO:
      screen_ = item.target;
      item_ = 0;
      DrawScreen();
      break;
    case VALUE: ChangeValue(item_); break;
    case ACTION: RunAction(item_); break;
  }
}

void TermSetup::ChangeValue(int i) {
  const SETUP_ITEM &item = kScreens[screen_].items[i];
  int values[16];
  const int n = ParseValues(item.values, values, 16);
  BYTE &field = FieldByte(t_, item.target);
  const BYTE old = field;
  int next = 0;
  for (int k = 0; k < n; ++k)
    if (values[k] == field) next = (k + 1) % n;
  field = static_cast<BYTE>(values[next]);
  switch (item.after) {
    case AFTER_CHARSET: SetupApplyCharset(t_); break;
    case AFTER_COLUMNS: SetupApplyColumns(t_); break;
    case AFTER_SCREEN_MODE: host_.RepaintAll(); break;
    case AFTER_CURSOR: host_.CursorChanged(); break;
    case AFTER_TERMINAL_MODE: SetupApplyTerminalMode(t_); break;
    case AFTER_KEYPAD: SetupApplyKeypad(t_); break;
    case AFTER_CURSOR_KEYS: SetupApplyCursorKeys(t_); break;
    case AFTER_KEYBOARD_MODE: SetupApplyKeyboardMode(t_); break;
    case AFTER_BACKSPACE: FixBackspace(km_, t_.st.s.backspaceSendsDel != 0); break;
    case AFTER_CONCEALED:
      // Only a new entry shows an answerback again.
      if (old == 1) field = 1;
      break;
    default: break;
  }
  DrawScreen();
}

void TermSetup::RunAction(int i) {
  const SETUP_ITEM &item = kScreens[screen_].items[i];
  TERM_STATE &st = t_.st;
  const int lang = std::min<int>(st.s.setupLanguage, 2);
  switch (item.target) {
    case ACT_DISCONNECT:
      host_.Disconnect();
      Message(Cp437(kDone[lang]).c_str());
      break;
    case ACT_CLEAR_DISPLAY:
      // The host's screen, kept aside, is what gets cleared.
      savedScreen_ = TERM_SAVED_SCREEN{};
      st.cursorRow = st.cursorCol = 0;
      Message(Cp437(kDone[lang]).c_str());
      break;
    case ACT_CLEAR_COMM: host_.ClearComm(); break;
    case ACT_RESET:
      TermReset(t_);
      savedScreen_ = TERM_SAVED_SCREEN{};
      DrawScreen();
      break;
    case ACT_RECALL:
      StartInput((kPromptSetupFile), BaseName(st.setupFileName).c_str(), 64, false, InputFor::kRecallFile);
      break;
    case ACT_SAVE:
      StartInput((kPromptSetupFile), BaseName(st.setupFileName).c_str(), 64, false, InputFor::kSaveFile);
      break;
    case ACT_KEYMAP: StartInput((kPromptKeyFile), st.keyMapName, 64, false, InputFor::kKeyMap); break;
    case ACT_PRINT_FILE:
      host_.ClosePrinter();
      StartInput((kPromptPrintFile), st.printName, 64, false, InputFor::kPrintFile);
      break;
    case ACT_ANSWERBACK:
      std::memset(st.s.answerback, 0, sizeof st.s.answerback);
      WriteAt(8, 0, "", 0, 80);
      WriteAt(8, (80 - static_cast<int>(std::strlen(kAnswerbackHint))) / 2, kAnswerbackHint, 0);
      StartInput((kPromptAnswerback), "", 51, true, InputFor::kAnswerback);
      break;
    case ACT_DEFAULT:
      savedScreen_ = TERM_SAVED_SCREEN{};
      SetupDefault(t_);  // says "Done" through the host
      {
        const std::string done = lastMessage_;
        SetupApplyColumns(t_);
        DrawScreen();
        Message(done.c_str());
      }
      break;
    case ACT_EXIT: Leave(); break;
    case ACT_COLOUR: {
      colourItem_ = i;
      const BYTE colour = FieldByte(t_, std::atoi(item.values));
      fg_ = colour & 7;
      bg_ = (colour >> 4) & 7;
      mode_ = Mode::kColour;
      ColourShow();
      break;
    }
    case ACT_CLEAR_TABS:
      std::memset(st.s.tabStops, 0, sizeof st.s.tabStops);
      DrawRuler();
      break;
    case ACT_SET_8_TABS:
      std::memset(st.s.tabStops, 0, sizeof st.s.tabStops);
      for (int c = 8; c < 132; c += 8) st.s.tabStops[c] = 1;
      DrawRuler();
      break;
    case ACT_RULER:
      st.s.tabStops[RulerColumn()] ^= 1;
      DrawRuler();
      break;
    default: break;
  }
}

// ---------------------------------------------------------------- colour chooser
void TermSetup::ColourShow() {
  const SETUP_ITEM &item = kScreens[screen_].items[colourItem_];
  const int lang = std::min<int>(t_.st.s.setupLanguage, 2);
  ClearSetupRow(7);
  WriteAt(7, 0, Cp437(kUseArrows[lang]), 0);
  const std::string label = Cp437(item.names[lang]);
  const BYTE colour = static_cast<BYTE>(ATTR_COLOUR | fg_ | (bg_ << 3));
  WriteAt(7, (80 - static_cast<int>(label.size())) / 2, label, colour);
}

void TermSetup::ColourKey(BYTE code) {
  if (IsUp(code))
    bg_ = (bg_ + 1) & 7;
  else if (IsDown(code))
    bg_ = (bg_ + 7) & 7;
  else if (IsLeft(code))
    fg_ = (fg_ + 1) & 7;
  else if (IsRight(code))
    fg_ = (fg_ + 7) & 7;
  else if (IsEnter(code)) {
    const SETUP_ITEM &item = kScreens[screen_].items[colourItem_];
    const int field = std::atoi(item.values);
    FieldByte(t_, field) = static_cast<BYTE>(fg_ | (bg_ << 4));
    if (field == static_cast<int>(offsetof(TERM_SETUP, defaultColour))) t_.st.colourAttribute = t_.st.s.defaultColour;
    mode_ = Mode::kNavigate;
    ClearSetupRow(7);
    host_.RepaintAll();
    Highlight();
    return;
  }
  ColourShow();
}

// ---------------------------------------------------------------- line editor
void TermSetup::StartInput(const char *const prompt[3], const char *initial, int size, bool raw, InputFor what) {
  prompt_ = Cp437(Lang(prompt));
  input_ = initial ? std::string(initial).substr(0, size - 1) : "";
  inputSize_ = size;
  inputRaw_ = raw;
  inputFresh_ = true;
  inputFor_ = what;
  mode_ = Mode::kInput;
  InputShow();
}

void TermSetup::InputShow() {
  ClearSetupRow(7);
  const int col = std::max(0, (81 - static_cast<int>(prompt_.size()) - inputSize_) / 2);
  WriteAt(7, col, prompt_, 0);
  const int fieldCol = col + static_cast<int>(prompt_.size());
  WriteAt(7, fieldCol, "", kInputAttr, inputSize_ - 1);
  for (size_t i = 0; i < input_.size(); ++i) {
    const BYTE ch = static_cast<BYTE>(input_[i]);
    const std::string one(1, static_cast<char>(ch));
    WriteAt(7, fieldCol + static_cast<int>(i), one, ch < 32 ? kControlAttr : kInputAttr);
  }
  // The caret sits after the text.
  t_.st.cursorRow = static_cast<BYTE>(BaseRow() + 7);
  t_.st.cursorCol = static_cast<BYTE>(std::min(79, fieldCol + static_cast<int>(input_.size())));
  SyncCursor(t_);
}

void TermSetup::InputKey(BYTE code, BYTE modifier) {
  const bool ctrl = modifier == 1, shift = modifier == 4;
  const bool enter = code == 28 || code == 99;
  if (enter && (!inputRaw_ || ctrl)) {
    InputDone();
    return;
  }
  int ch = -1;
  if (enter)
    ch = '\r';
  else if (code == 14)
    ch = t_.st.s.backspaceSendsDel ? 0x7F : 0x08;
  else if (code == 92)
    ch = 0x7F;  // Delete
  else if (code == 1)
    ch = 0x1B;
  else if (code == 15)
    ch = '\t';
  else if (const BYTE c = TermKeyChar(code, shift); c) {
    ch = c;
    if (ctrl) ch = (c >= 'a' && c <= 'z') ? c - 'a' + 1 : (c >= '@' && c <= '_') ? c - '@' : c;
  }
  if (ch < 0) return;
  if (inputFresh_) {
    input_.clear();
    inputFresh_ = false;
  }
  if (!inputRaw_ && (ch == 0x08 || ch == 0x7F)) {
    if (!input_.empty()) input_.pop_back();
  } else if ((inputRaw_ || (ch >= 32 && ch <= 127)) && static_cast<int>(input_.size()) < inputSize_ - 1) {
    input_.push_back(static_cast<char>(ch));
  }
  InputShow();
}

void TermSetup::InputDone() {
  TERM_STATE &st = t_.st;
  mode_ = Mode::kNavigate;
  const InputFor what = inputFor_;
  inputFor_ = InputFor::kNone;
  ClearSetupRow(7);
  lastMessage_.clear();
  const int lang = std::min<int>(st.s.setupLanguage, 2);
  switch (what) {
    case InputFor::kAnswerback:
      std::memset(st.s.answerback, 0, sizeof st.s.answerback);
      std::memcpy(st.s.answerback, input_.data(), std::min<size_t>(input_.size(), 50));
      st.s.answerbackConcealed = 0;
      WriteAt(8, 0, "", 0, 80);
      break;
    case InputFor::kPrintFile: std::snprintf(st.printName, sizeof st.printName, "%s", input_.c_str()); break;
    case InputFor::kKeyMap: {
      std::string error;
      const bool loaded = KeyMapLoad(km_, input_.c_str(), t_.files, st.s.backspaceSendsDel != 0, &error);
      std::snprintf(st.keyMapName, sizeof st.keyMapName, "%s", loaded ? input_.c_str() : "VT220AT.KEY");
      KeyMapApplyModes(km_, st.s);
      DrawScreen();
      Message(loaded ? Cp437(kDone[lang]).c_str() : error.c_str());
      return;
    }
    case InputFor::kSaveFile: SetupFileSave(t_, input_.c_str()); break;
    case InputFor::kRecallFile: {
      SetupRecall(t_, input_.c_str());
      const std::string said = lastMessage_;
      DrawScreen();
      Message(said.c_str());
      return;
    }
    case InputFor::kNone: break;
  }
  const std::string said = lastMessage_;
  DrawScreen();
  if (!said.empty()) Message(said.c_str());
}
