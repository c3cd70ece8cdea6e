// The terminal's own Set-Up, drawn inside the terminal screen: a header with
// the hot keys, six screens of items walked with the cursor keys and changed
// with Enter, in English, French or German. Entering Set-Up keeps the host's
// screen, cursor, key map and user keys aside; leaving puts them back (a key
// map chosen in Set-Up stays). It lays itself out from the bottom of the
// screen, so every row count from 20 to 45 shows all of it.
#ifndef QX_TERMINAL_CLIENT_SETUP_SCREENS_H
#define QX_TERMINAL_CLIENT_SETUP_SCREENS_H

#include <string>

#include "keymap.h"
#include "vt_core.h"

// What Set-Up asks of the program around it.
class SetupHost {
 public:
  virtual ~SetupHost() = default;
  virtual void Disconnect() {}
  virtual void ClearComm() {}  // drop received bytes not yet shown
  virtual void Bell() {}
  virtual void CursorChanged() {}  // cursor shown or hidden, its style
  virtual void RepaintAll() {}     // colours or the screen mode changed
  virtual void ClosePrinter() {}
  virtual void MenusEnabled(bool enabled) {}  // the settings dialogs' menu commands
};

enum SETUP_SCREEN_ID : int {
  SCREEN_DIRECTORY,
  SCREEN_DISPLAY,
  SCREEN_GENERAL,
  SCREEN_PRINTER,
  SCREEN_KEYBOARD,
  SCREEN_TAB,
  SETUP_SCREENS
};

class TermSetup {
 public:
  TermSetup(VtTerminal &t, TERM_KEYMAP &km, SetupHost &host) : t_(t), km_(km), host_(host) {}

  // Keeps the host's screen and key state and shows the Directory.
  void Enter();
  // Puts the host's screen and key state back.
  void Leave();
  bool Active() const { return active_; }

  // A key that is not a hot key: key code and modifier code of the key path.
  void Key(BYTE code, BYTE modifier);

  // A message centred on the message row (while Set-Up is shown).
  void Message(const char *text);

  // For tests and the window: where Set-Up row 0 is on the screen.
  int BaseRow() const;
  int Screen() const { return screen_; }
  std::string CurrentLabel() const;

 private:
  enum class Mode { kNavigate, kColour, kInput };
  enum class InputFor { kNone, kAnswerback, kPrintFile, kKeyMap, kSaveFile, kRecallFile };

  void DrawScreen();
  void DrawHeader();
  void DrawItem(int item, BYTE attribute);
  void DrawRuler();
  void Highlight();
  void WriteAt(int setupRow, int col, const std::string &text, BYTE attribute, int width = -1);
  void ClearSetupRow(int setupRow);
  std::string ItemText(int item) const;
  int ItemCount() const;
  void Layout();
  void Move(int direction);
  void Act();
  void ChangeValue(int item);
  void RunAction(int item);
  void ColourKey(BYTE code);
  void ColourShow();
  void StartInput(const char *const prompt[3], const char *initial, int size, bool raw, InputFor what);
  void InputKey(BYTE code, BYTE modifier);
  void InputShow();
  void InputDone();
  void Bell();
  const char *Lang(const char *const texts[3]) const;
  void TabKey();
  void RulerMove(int delta);
  int RulerColumn() const { return rulerRow_ == 3 ? rulerCol_ : 80 + rulerCol_; }

  VtTerminal &t_;
  TERM_KEYMAP &km_;
  SetupHost &host_;
  bool active_ = false;
  int screen_ = SCREEN_DIRECTORY;
  int item_ = 0;
  int itemCol_[24] = {};
  int rulerRow_ = 3, rulerCol_ = 0;
  Mode mode_ = Mode::kNavigate;
  // Colour chooser.
  int colourItem_ = 0, fg_ = 0, bg_ = 0;
  // Line editor.
  InputFor inputFor_ = InputFor::kNone;
  std::string prompt_, input_;
  int inputSize_ = 0;
  bool inputRaw_ = false, inputFresh_ = false;
  std::string lastMessage_;
  // Kept while Set-Up is shown.
  TERM_SAVED_SCREEN savedScreen_;
  TERM_KEYMAP savedMap_;
  unsigned loadsAtEnter_ = 0;
};

// Text in the program's UTF-8 turned into the code page 437 of the grid.
std::string Cp437(const char *utf8);

#endif
