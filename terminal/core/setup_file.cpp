// The set-up record's built-in defaults, the set-up file (.STU: the record and
// two 64-byte names) with its answerback concealment, and the routines that put
// a changed setting into effect. A loaded record is checked field by field: a
// value out of its range takes the factory value, so no file can push an index
// outside a table or the grid. The files are found, read and written through
// the program's TermFiles.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vt_actions.h"

namespace {

// Concealment seed of the answerback in set-up files.
const BYTE kConcealSeed = 0xA5;

TERM_SETUP MakeFactoryRecord() {
  TERM_SETUP s{};
  s.magic[0] = '4';
  s.magic[1] = '7';
  s.warningBell = 1;
  s.onLine = 1;
  s.columns = 80;
  s.autoRepeat = 1;
  s.screenMode = 1;
  s.cursorStyle = 1;
  s.marginBell = 1;
  s.ansiMode = 1;
  s.eightBit = 1;
  s.receiveOn = 1;
  s.speedIndex = 14;
  s.terminalId = 2;
  for (int col = 8; col < 132; col += 8) s.tabStops[col] = 1;
  s.underlineColour = 1;
  s.defaultColour = 7;
  s.blinkColour = 4;
  s.blinkUnderlineColour = 2;
  s.backspaceSendsDel = 1;
  return s;
}

const TERM_SETUP kFactory = MakeFactoryRecord();
const char kFactoryPrintName[] = "PRN:";
const char kFactoryKeyMapName[] = "VT220AT.KEY";

// The last-loaded copy: loading works here and commits only on success.
TERM_SETUP g_lastLoaded = kFactory;
char g_lastNames[2][64] = {"PRN:", "VT220AT.KEY"};

enum SetupMessage { MSG_NOT_FOUND, MSG_BAD_FORMAT, MSG_CORRUPTED, MSG_BAD_NAME, MSG_DISK_FULL, MSG_DONE };

// English, French and German, in code page 437.
const char *const kMessages[6][3] = {
    {"Setup file %s not found", "Fichier Adapte %s manquant", "Aufstellungsakte %s fehlt"},
    {"Invalid setup file format", "Format de fichier Adappte incorrect", "Format def Aufstellungsakte ist ung\x81ltig"},
    {"Corrupted setup file", "Fichier Adapte alt\x82r\x82", "Aufstellungsakte defkt"},
    {"Invalid Setup Filename", "Nom de fichier Adapte incorrect", "Name der Aufstellungsakte ist ung\x81ltig"},
    {"Disk full writing setup file", "Disque plein en cours de sauvegarde du fichier Adapte",
     "Disc voll, w\x84hrend aufladung def Aufstellungsakte"},
    {"Done", "Effectu\x82", "AUSGEF\x9ART"},
};

void ShowSetupMessage(VtTerminal &t, SetupMessage id, const char *name = "") {
  if (!t.host) return;
  int language = t.st.s.setupLanguage <= 2 ? t.st.s.setupLanguage : 0;
  char text[400];
  std::snprintf(text, sizeof text, kMessages[id][language], name);
  t.host->ShowMessage(text);
}

void CopyName(char *field, const char *text) {
  std::memset(field, 0, 64);
  std::memcpy(field, text, strnlen(text, 63));
}

// A set-up file: the record and the two names.
constexpr size_t kNamesSize = sizeof g_lastNames;
constexpr size_t kFileSize = sizeof(TERM_SETUP) + kNamesSize;

}  // namespace

const TERM_SETUP &SetupFactoryRecord() { return kFactory; }

void AnswerbackConceal(BYTE *answerback) {
  BYTE running = kConcealSeed;
  for (int i = 0; i < 51; ++i) {
    running ^= answerback[i];
    answerback[i] = running;
  }
}

void AnswerbackReveal(BYTE *answerback) {
  BYTE running = kConcealSeed;
  for (int i = 0; i < 51; ++i) {
    BYTE stored = answerback[i];
    answerback[i] = running ^ stored;
    running = stored;
  }
}

// Every enumerated field inside its range; the answerback a terminated string.
void SetupValidateRecord(TERM_SETUP &s) {
  struct Limit {
    size_t offset;
    BYTE max;
  };
  static const Limit kLimits[] = {
      {offsetof(TERM_SETUP, keyboardMode), 1},    {offsetof(TERM_SETUP, nationalLanguage), 12},
      {offsetof(TERM_SETUP, nationalMode), 1},    {offsetof(TERM_SETUP, answerbackConcealed), 1},
      {offsetof(TERM_SETUP, printMode), 2},       {offsetof(TERM_SETUP, setupLanguage), 2},
      {offsetof(TERM_SETUP, screenMode), 1},      {offsetof(TERM_SETUP, ansiMode), 1},
      {offsetof(TERM_SETUP, terminalId), 5},      {offsetof(TERM_SETUP, cursorStyle), 1},
      {offsetof(TERM_SETUP, displayControls), 1}, {offsetof(TERM_SETUP, autowrap), 1},
  };
  BYTE *bytes = reinterpret_cast<BYTE *>(&s);
  const BYTE *factory = reinterpret_cast<const BYTE *>(&kFactory);
  for (const Limit &l : kLimits)
    if (bytes[l.offset] > l.max) bytes[l.offset] = factory[l.offset];
  if (s.columns != 80 && s.columns != 132) s.columns = kFactory.columns;
  s.answerback[50] = 0;
}

void SetupStartKeyMapName(VtTerminal &t, const char *name) {
  CopyName(g_lastNames[1], name);
  CopyName(t.st.keyMapName, name);
}

int SetupFileLoad(VtTerminal &t) {
  TERM_STATE &st = t.st;
  int result = -1;
  std::string found = t.files ? t.files->FindSetupFile(st.setupFileName) : std::string();
  BYTE file[kFileSize];
  long got = found.empty() ? -1 : t.files->ReadSetupFile(found, file, sizeof file);
  if (got < 0) {
    ShowSetupMessage(t, MSG_NOT_FOUND, st.setupFileName);
  } else if (got < 4 || std::memcmp(file, "47\0\0", 4) != 0) {
    ShowSetupMessage(t, MSG_BAD_FORMAT);
  } else if (static_cast<size_t>(got) < sizeof(TERM_SETUP)) {
    g_lastLoaded = kFactory;
    ShowSetupMessage(t, MSG_CORRUPTED);
  } else {
    std::memcpy(&g_lastLoaded, file, sizeof(TERM_SETUP));
    AnswerbackReveal(g_lastLoaded.answerback);
    if (static_cast<size_t>(got) < kFileSize) {
      CopyName(g_lastNames[0], kFactoryPrintName);
      CopyName(g_lastNames[1], kFactoryKeyMapName);
      ShowSetupMessage(t, MSG_CORRUPTED);
    } else {
      std::memcpy(g_lastNames, file + sizeof(TERM_SETUP), kNamesSize);
      g_lastNames[0][63] = g_lastNames[1][63] = 0;
      SetupValidateRecord(g_lastLoaded);
      st.s = g_lastLoaded;
      CopyName(st.printName, g_lastNames[0]);
      std::snprintf(st.setupFileName, sizeof st.setupFileName, "%s", found.c_str());
      result = 0;
    }
  }
  st.colourAttribute = st.s.defaultColour;
  st.s.eightBit = 1;
  CopyName(st.keyMapName, g_lastNames[1]);
  if (t.host) t.host->ReloadKeyMap(st.keyMapName);
  vt::ClampCursor(st);
  SetupApplyCharset(t);
  SetupApplyCursorKeys(t);
  SetupApplyKeypad(t);
  return result;
}

int SetupFileSave(VtTerminal &t, const char *name) {
  TERM_STATE &st = t.st;
  if (!name || !name[0] || std::strlen(name) > 63) {
    ShowSetupMessage(t, MSG_BAD_NAME);
    return -1;
  }
  BYTE file[kFileSize];
  AnswerbackConceal(st.s.answerback);
  std::memcpy(file, &st.s, sizeof st.s);
  AnswerbackReveal(st.s.answerback);
  CopyName(reinterpret_cast<char *>(file + sizeof st.s), st.printName);
  CopyName(reinterpret_cast<char *>(file + sizeof st.s + 64), st.keyMapName);
  TermFiles::WriteResult written =
      t.files ? t.files->WriteSetupFile(name, file, sizeof file) : TermFiles::WriteResult::kCannotCreate;
  if (written == TermFiles::WriteResult::kCannotCreate) {
    ShowSetupMessage(t, MSG_BAD_NAME);
    return -1;
  }
  std::snprintf(st.setupFileName, sizeof st.setupFileName, "%s", name);
  bool ok = written == TermFiles::WriteResult::kWritten;
  ShowSetupMessage(t, ok ? MSG_DONE : MSG_DISK_FULL);
  return ok ? 0 : -1;
}

int SetupRecall(VtTerminal &t, const char *name) {
  TERM_STATE &st = t.st;
  char old[sizeof st.setupFileName];
  std::memcpy(old, st.setupFileName, sizeof old);
  std::snprintf(st.setupFileName, sizeof st.setupFileName, "%s", name ? name : "");
  if (SetupFileLoad(t) == 0) {
    SetupApplyColumns(t);
    ShowSetupMessage(t, MSG_DONE);
    return 0;
  }
  std::memcpy(st.setupFileName, old, sizeof old);
  SetupFileLoad(t);
  SetupApplyColumns(t);
  return -1;
}

void SetupDefault(VtTerminal &t) {
  TERM_STATE &st = t.st;
  st.s = kFactory;
  SetupApplyCharset(t);
  st.colourAttribute = st.s.defaultColour;
  vt::ClampCursor(st);
  vt::BlankRows(t, 0, st.screenRows - 1);
  vt::CursorTo(t, 0, 0);
  ShowSetupMessage(t, MSG_DONE);
}

void SetupApplyCharset(VtTerminal &t) {
  TERM_STATE &st = t.st;
  if (st.s.nationalMode) {
    for (BYTE &g : st.gSet) g = CS_NATIONAL;
  } else {
    st.gSet[0] = st.gSet[1] = CS_ASCII;
    st.gSet[2] = st.gSet[3] = CS_SUPPLEMENTAL;
  }
  st.glSet = 0;
  st.grSet = 2;
}

void SetupApplyCursorKeys(VtTerminal &t) {
  if (!t.host) return;
  if (!t.st.s.ansiMode)
    t.host->ApplyCursorKeys(2);
  else
    t.host->ApplyCursorKeys(t.st.s.cursorKeysApp ? 3 : 1);
}

void SetupApplyKeypad(VtTerminal &t) {
  if (!t.host) return;
  if (t.st.s.keypadApp)
    t.host->ApplyKeypad(t.st.s.ansiMode ? 1 : 2);
  else
    t.host->ApplyKeypadNumeric();
}

void SetupApplyKeyboardMode(VtTerminal &t) {
  if (t.host) t.host->ApplySetupKeys(t.st.s.keyboardMode);
}

void SetupApplyTerminalMode(VtTerminal &t) {
  if (t.st.s.terminalId == 0)
    vt::EnterVt52Mode(t);
  else
    vt::EnterAnsiMode(t);
}

void SetupApplyColumns(VtTerminal &t) {
  TERM_STATE &st = t.st;
  st.viewRight = static_cast<BYTE>(std::min<int>(st.viewRight, vt::Columns(st) - 1));
  vt::ClampCursor(st);
  if (t.display) t.display->Resize(vt::Columns(st));
}
