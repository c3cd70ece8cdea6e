// The parser inside a sequence: every control byte, in every state that
// collects a sequence, either acts and lets the sequence go on, is ignored,
// or ends the sequence (CAN, SUB, and ESC where it starts a new one). The
// tables are searched in order for the first entry that accepts a byte, so
// each state must also end with an entry that accepts anything.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "term_harness.h"
#include "vt_internal.h"

extern const VT_STATE_ENTRY VT_ESC_HASH[], VT_CSI_BANG[], VT_CSI_QUOTE[], VT_CSI_DQUOTE[], VT_ESC_SPACE[], VT_DCS[],
    VT_DLD[], VT_DLD_ESC[], VT_UDK[], VT_UDK_ESC[], VT_CSI_GT[], VT_CSI_PRIVATE[], VT52_ROW[], VT52_COL[];

namespace {

const VT_STATE_ENTRY *const kStates[] = {
    VT_GROUND,     VT_ESCAPE,    VT_ESC_HASH,    VT_DESIGNATE, VT_CSI,      VT_CSI_BANG, VT_CSI_QUOTE,
    VT_CSI_DQUOTE, VT_ESC_SPACE, VT_DCS,         VT_DLD,       VT_DLD_DATA, VT_DLD_ESC,  VT_UDK,
    VT_UDK_ESC,    VT_CSI_GT,    VT_CSI_PRIVATE, VT52_GROUND,  VT52_ESCAPE, VT52_ROW,    VT52_COL};

TEST(ParserTables, EveryStateEndsWithAnyAndLeadsOnlyToStates) {
  for (const VT_STATE_ENTRY *state : kStates) {
    int entries = 0;
    for (const VT_STATE_ENTRY *e = state;; ++e) {
      ASSERT_LT(++entries, 64) << "a state runs on without an entry that accepts any byte";
      bool known = false;
      for (const VT_STATE_ENTRY *s : kStates) known = known || e->next == s;
      EXPECT_TRUE(known) << "entry " << (e - state) << " of a state leads nowhere";
      if (e->match == VT_MATCH_ANY) break;
    }
  }
  // Text costs one comparison in both ground states.
  EXPECT_EQ(VT_GROUND[0].match, VT_MATCH_PRINTABLE);
  EXPECT_EQ(VT52_GROUND[0].match, VT_MATCH_PRINTABLE);
}

// How a state treats controls: the sequences act on the format effectors and
// shifts and ESC restarts them; a few ignore ESC; a device control string
// ignores every control but CAN and SUB; the VT52 escape has no shifts.
enum class Kind { kRestarts, kIgnoresEsc, kDeviceString, kVt52 };

struct SequenceState {
  const char *name;
  const char *enter;   // bytes that leave the parser in the state
  const char *finish;  // a byte that ends the sequence without a visible effect
  Kind kind;
};

const SequenceState kSequences[] = {
    {"ESC", "\x1b", "w", Kind::kRestarts},
    {"ESC #", "\x1b#", "w", Kind::kRestarts},
    {"ESC (", "\x1b(", "B", Kind::kRestarts},
    {"CSI", "\x1b[", "w", Kind::kRestarts},
    {"CSI with parameters", "\x1b[3;4", "w", Kind::kRestarts},
    {"8-bit CSI", "\x9b", "w", Kind::kRestarts},
    {"CSI ?", "\x1b[?", "w", Kind::kRestarts},
    {"CSI >", "\x1b[>", "w", Kind::kRestarts},
    {"CSI '", "\x1b['", "w", Kind::kIgnoresEsc},
    {"CSI \"", "\x1b[\"", "w", Kind::kIgnoresEsc},
    {"ESC SP", "\x1b ", "w", Kind::kIgnoresEsc},
    {"DCS", "\x1bP", "w", Kind::kDeviceString},
    {"DCS with parameters", "\x1bP1;2", "w", Kind::kDeviceString},
    {"VT52 ESC", "\x1b[?2l\x1b", "w", Kind::kVt52},
};

// What the terminal shows after: cursor at row 4, column 10; the sequence's
// first bytes; one control; the finishing byte; then "!".
struct Effect {
  int row = 4, col = 10;  // where "!" lands (the cursor before it)
  bool finishShown = false;
  bool substitute = false;
  int beeps = 0;
  std::string reply;
  int glSet = 0;
};

Effect Expected(Kind kind, char control) {
  Effect e;
  bool acts = kind != Kind::kDeviceString;
  switch (control) {
    case '\r': e.col = acts ? 0 : 10; break;
    case '\n':
    case '\v':
    case '\f': e.row = acts ? 5 : 4; break;
    case '\b': e.col = acts ? 9 : 10; break;
    case '\t': e.col = acts ? 16 : 10; break;
    case '\a': e.beeps = acts ? 1 : 0; break;
    case '\x05': e.reply = acts ? "ab" : ""; break;
    case '\x0e': e.glSet = kind == Kind::kRestarts || kind == Kind::kIgnoresEsc ? 1 : 0; break;
    case '\x18': e.finishShown = true; break;
    case '\x1a':
      e.finishShown = e.substitute = true;
      e.col = 11;
      break;
    default: break;  // NUL, SOH, XON, XOFF, DEL and the rest: ignored
  }
  return e;
}

TEST(ParserSequences, ControlsInsideEverySequence) {
  const char kControls[] = {'\r',   '\n',   '\v',   '\f',   '\b',   '\t',   '\a',   '\x05', '\x0e',
                            '\x18', '\x1a', '\x00', '\x01', '\x11', '\x13', '\x1f', '\x7f'};
  for (const SequenceState &state : kSequences) {
    for (char control : kControls) {
      SCOPED_TRACE(std::string(state.name) + " then control 0x" + std::to_string(static_cast<int>(control)));
      TestTerminal t;
      t.st().s.warningBell = 1;
      std::memcpy(t.st().s.answerback, "ab", 3);
      t.Push("\x1b[5;11H" + std::string(state.enter) + std::string(1, control) + state.finish + "!");
      Effect e = Expected(state.kind, control);
      const TERM_CELL *row = t.term->screen.cells[e.row];
      int col = e.col;
      if (e.substitute) {
        EXPECT_EQ(row[col - 1].ch, ' ') << "the substitute for SUB";
      }
      if (e.finishShown) {
        EXPECT_EQ(row[col++].ch, static_cast<BYTE>(state.finish[0])) << "the sequence was not ended";
      }
      EXPECT_EQ(row[col].ch, '!') << "row " << e.row << ": \"" << t.RowText(e.row) << "\"";
      EXPECT_EQ(t.st().cursorRow, e.row);
      EXPECT_EQ(t.st().cursorCol, col + 1);
      EXPECT_EQ(t.display.beeps, e.beeps);
      EXPECT_EQ(t.host.replies, e.reply);
      EXPECT_EQ(t.st().glSet, e.glSet);
    }
  }
}

TEST(ParserSequences, EscapeInsideASequence) {
  // ESC either starts a new sequence (the cursor moves two columns) or is
  // ignored, after which "[" ends the old one and the rest is text.
  for (const SequenceState &state : kSequences) {
    SCOPED_TRACE(state.name);
    TestTerminal t;
    bool vt52 = state.kind == Kind::kVt52;
    t.Push("\x1b[5;11H" + std::string(state.enter) +
           (vt52 ? "\x1b"
                   "C"
                   "\x1b"
                   "C!"
                 : "\x1b[2C!"));
    bool restarts = state.kind == Kind::kRestarts || vt52;
    if (restarts) {
      EXPECT_EQ(t.RowText(4), std::string(12, ' ') + "!");
    } else {
      EXPECT_EQ(t.RowText(4), std::string(10, ' ') + "2C!");
    }
  }
}

}  // namespace
