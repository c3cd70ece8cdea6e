// The VT220/VT52 terminal's state: the 233-byte set-up record TERM_SETUP, the
// screen grid TERM_SCREEN and the state block TERM_STATE that the parser, the
// control functions, the display and Set-Up all work on.
#ifndef QX_TERMINAL_TERM_STATE_H
#define QX_TERMINAL_TERM_STATE_H

#include <cstddef>
#include <cstdint>

#include "term_interfaces.h"

typedef unsigned char BYTE;
typedef uint32_t DWORD;

// ---------------------------------------------------------------- set-up record
#pragma pack(push, 1)
struct TERM_SETUP {
  char magic[2];              // 0   "47"
  BYTE reserved[3];           // 2   always 0
  BYTE keyboardMode;          // 5   0 data processing, 1 typewriter
  BYTE nationalLanguage;      // 6   keyboard language = national set 0..12
  BYTE nationalMode;          // 7   1 = national replacement sets
  BYTE answerbackConcealed;   // 8
  BYTE autoAnswerback;        // 9
  BYTE warningBell;           // 10
  BYTE printMode;             // 11  0 normal, 1 auto print, 2 printer controller
  BYTE printExtentRegion;     // 12
  BYTE print8Bit;             // 13
  BYTE printFormFeed;         // 14
  BYTE userFeaturesLocked;    // 15
  BYTE udkLocked;             // 16
  BYTE cursorHidden;          // 17
  BYTE displayControls;       // 18
  BYTE onLine;                // 19
  BYTE setupLanguage;         // 20  0 English, 1 French, 2 German
  BYTE columns;               // 21  80 or 132
  BYTE cursorKeysApp;         // 22
  BYTE keypadApp;             // 23
  BYTE smoothScroll;          // 24
  BYTE autoRepeat;            // 25
  BYTE screenMode;            // 26  DECSCNM
  BYTE cursorStyle;           // 27  1 block, 0 underline
  BYTE marginBell;            // 28
  BYTE keyclick;              // 29
  BYTE ansiMode;              // 30  1 ANSI (VT220), 0 VT52
  BYTE vt100CharsetUk;        // 31
  BYTE autowrap;              // 32
  BYTE newLineMode;           // 33
  BYTE parityEven;            // 34
  BYTE parityOn;              // 35
  BYTE eightBit;              // 36
  BYTE receiveOn;             // 37
  BYTE speedIndex;            // 38
  BYTE reserved39;            // 39
  BYTE terminalId;            // 40  0 VT52, 1 VT100, 2..5 VT200
  BYTE reserved41;            // 41
  BYTE tabStops[132];         // 42
  BYTE answerback[51];        // 174
  BYTE localEcho;             // 225
  BYTE reserved226;           // 226
  BYTE attribute;             // 227 attribute of characters written now
  BYTE underlineColour;       // 228
  BYTE defaultColour;         // 229 colour of normal text
  BYTE blinkColour;           // 230
  BYTE blinkUnderlineColour;  // 231
  BYTE backspaceSendsDel;     // 232
};
#pragma pack(pop)

static_assert(sizeof(TERM_SETUP) == 233, "the set-up record is 233 bytes");
static_assert(offsetof(TERM_SETUP, keyboardMode) == 5);
static_assert(offsetof(TERM_SETUP, nationalLanguage) == 6);
static_assert(offsetof(TERM_SETUP, warningBell) == 10);
static_assert(offsetof(TERM_SETUP, displayControls) == 18);
static_assert(offsetof(TERM_SETUP, columns) == 21);
static_assert(offsetof(TERM_SETUP, ansiMode) == 30);
static_assert(offsetof(TERM_SETUP, autowrap) == 32);
static_assert(offsetof(TERM_SETUP, eightBit) == 36);
static_assert(offsetof(TERM_SETUP, speedIndex) == 38);
static_assert(offsetof(TERM_SETUP, terminalId) == 40);
static_assert(offsetof(TERM_SETUP, tabStops) == 42);
static_assert(offsetof(TERM_SETUP, answerback) == 174);
static_assert(offsetof(TERM_SETUP, localEcho) == 225);
static_assert(offsetof(TERM_SETUP, attribute) == 227);
static_assert(offsetof(TERM_SETUP, underlineColour) == 228);
static_assert(offsetof(TERM_SETUP, defaultColour) == 229);
static_assert(offsetof(TERM_SETUP, backspaceSendsDel) == 232);

// ---------------------------------------------------------------- screen grid
constexpr int GRID_COLUMNS = 132;  // cells in every row, whatever the column mode
constexpr int GRID_ROWS = 46;      // 45 screen rows and the status line
constexpr int MIN_SCREEN_ROWS = 20;
constexpr int MAX_SCREEN_ROWS = 45;
constexpr int DEFAULT_SCREEN_ROWS = 24;

enum : BYTE {
  ATTR_BOLD = 0x01,
  ATTR_UNDERLINE = 0x02,
  ATTR_BLINK = 0x04,
  ATTR_REVERSE = 0x08,
  ATTR_PROTECTED = 0x10,
  ATTR_GLYPH = 0x40,
  ATTR_COLOUR = 0x80,
};

enum : BYTE { LINE_SINGLE = 1, LINE_DOUBLE = 2 };

// Designations of G0..G3.
enum : BYTE { CS_ASCII = 0, CS_SPECIAL = 1, CS_NATIONAL = 2, CS_SUPPLEMENTAL = 3, CS_SOFT = 4 };

struct TERM_CELL {
  BYTE ch;
  BYTE attr;
};

struct TERM_SCREEN {
  TERM_CELL cells[GRID_ROWS][GRID_COLUMNS];
};
static_assert(sizeof(TERM_SCREEN) == GRID_ROWS * 264, "a row is 264 bytes");

struct VT_STATE_ENTRY;

// Saved cursor of DECSC / DECRC.
struct TERM_SAVED_CURSOR {
  BYTE col, row, autowrap, attribute, gl, gr, g[4];
};
static_assert(sizeof(TERM_SAVED_CURSOR) == 10);

// ---------------------------------------------------------------- parser variables
constexpr int VT_MAX_PARAMS = 16;
constexpr int PRINT_BUFFER_SIZE = 32;
constexpr int DCS_BUFFER_SIZE = 256;

// Soft font: 95 glyphs of 14 rows for characters 0x20..0x7E.
constexpr int SOFT_GLYPHS = 95;
constexpr int SOFT_GLYPH_ROWS = 14;

// ---------------------------------------------------------------- state block
struct TERM_STATE {
  TERM_SETUP s;  // first 233 bytes: the set-up record

  // Names kept with the record in a set-up file, and the file's own name.
  char printName[64];
  char keyMapName[64];
  char setupFileName[260];

  const VT_STATE_ENTRY *stateEntry;  // current parser state
  BYTE screenRows;                   // 20..45; the status line is row screenRows
  BYTE lineAttribute[GRID_ROWS];     // LINE_SINGLE or LINE_DOUBLE
  TERM_SAVED_CURSOR savedCursor;
  DWORD designationCode;
  BYTE colourAttribute;
  BYTE wrapPending;
  BYTE marginTop, marginBottom;
  BYTE cursorCol, cursorRow;
  BYTE originMode;
  BYTE glSet, grSet;
  BYTE ssSavedGl, singleShift;
  BYTE gSet[4];
  BYTE designateTarget;
  BYTE marginBellRow;
  BYTE insertMode;
  BYTE composeState;
  BYTE leds;
  BYTE viewLeft, viewRight;  // owned by the display: visible columns
  char statusTitle[128];     // title of the status line, kept for redraws

  // Parser variables.
  BYTE currentByte;
  BYTE params[VT_MAX_PARAMS];
  BYTE paramIndex;
  BYTE printBuffer[PRINT_BUFFER_SIZE];
  BYTE printCount;

  // Device-control strings (soft font and user-defined keys).
  BYTE dcsBuffer[DCS_BUFFER_SIZE];
  int dcsLength;
  DWORD softFontDesignator;  // 0xFFFFFFFF until a font is loaded
  int softFontChar;          // character the next glyph goes to
  BYTE glyphAccumulator[16];
  int udkKeyNumber;  // -1 while no key number is collected
  BYTE udkCleared;   // DECUDK Pc=0 already cleared the keys
  BYTE softFont[SOFT_GLYPHS][SOFT_GLYPH_ROWS];
};

// One emulator: the state block, its grid and the interfaces to the outside.
struct VtTerminal {
  TERM_STATE st;
  TERM_SCREEN screen;
  TermDisplay *display;
  TermHost *host;
  TermPrinter *printer;
  TermFiles *files = nullptr;
};

#endif
