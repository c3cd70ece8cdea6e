// The parser's state tables: each state is a run of entries that ends with the
// "any" class (the search relies on it), text costs one comparison, and the
// runs have the lengths the tables are built to.
#include <gtest/gtest.h>

#include "vt_internal.h"

extern const VT_STATE_ENTRY VT_ESC_HASH[], VT_CSI_BANG[], VT_CSI_QUOTE[], VT_CSI_DQUOTE[], VT_ESC_SPACE[], VT_DCS[],
    VT_DLD[], VT_DLD_ESC[], VT_UDK[], VT_UDK_ESC[], VT_CSI_GT[], VT_CSI_PRIVATE[], VT52_ROW[], VT52_COL[];

namespace {

int RunLength(const VT_STATE_ENTRY *state) {
  int n = 1;
  while (state->match != VT_MATCH_ANY) ++state, ++n;
  return n;
}

struct StateRun {
  const char *name;
  const VT_STATE_ENTRY *first;
  int entries;
};

TEST(ParserTables, EveryStateEndsWithAnyAndHasItsLength) {
  // The DLD and UDK data states carry two more entries than listed: CAN and
  // SUB end a cut-off string there.
  const StateRun runs[] = {
      {"VT_GROUND", VT_GROUND, 27},
      {"VT_ESCAPE", VT_ESCAPE, 43},
      {"VT_ESC_HASH", VT_ESC_HASH, 23},
      {"VT_DESIGNATE", VT_DESIGNATE, 35},
      {"VT_CSI", VT_CSI, 49},
      {"VT_CSI_BANG", VT_CSI_BANG, 2},
      {"VT_CSI_QUOTE", VT_CSI_QUOTE, 17},
      {"VT_CSI_DQUOTE", VT_CSI_DQUOTE, 19},
      {"VT_ESC_SPACE", VT_ESC_SPACE, 19},
      {"VT_DCS", VT_DCS, 11},
      {"VT_DLD", VT_DLD, 25},
      {"VT_DLD_DATA", VT_DLD_DATA, 7},
      {"VT_DLD_ESC", VT_DLD_ESC, 2},
      {"VT_UDK", VT_UDK, 7},
      {"VT_UDK_ESC", VT_UDK_ESC, 2},
      {"VT_CSI_GT", VT_CSI_GT, 26},
      {"VT_CSI_PRIVATE", VT_CSI_PRIVATE, 26},
      {"VT52_GROUND", VT52_GROUND, 17},
      {"VT52_ESCAPE", VT52_ESCAPE, 37},
      {"VT52_ROW", VT52_ROW, 17},
      {"VT52_COL", VT52_COL, 17},
  };
  int ansi = 0, vt52 = 0;
  for (const StateRun &run : runs) {
    EXPECT_EQ(RunLength(run.first), run.entries) << run.name;
    (run.name[2] == '5' ? vt52 : ansi) += RunLength(run.first);
  }
  EXPECT_EQ(ansi, 340);
  EXPECT_EQ(vt52, 88);
}

TEST(ParserTables, TextIsTheFirstEntryOfBothGroundStates) {
  EXPECT_EQ(VT_GROUND[0].match, VT_MATCH_PRINTABLE);
  EXPECT_EQ(VT52_GROUND[0].match, VT_MATCH_PRINTABLE);
}

TEST(ParserTables, EveryNextStateIsATable) {
  const VT_STATE_ENTRY *states[] = {
      VT_GROUND,     VT_ESCAPE,    VT_ESC_HASH,    VT_DESIGNATE, VT_CSI,      VT_CSI_BANG, VT_CSI_QUOTE,
      VT_CSI_DQUOTE, VT_ESC_SPACE, VT_DCS,         VT_DLD,       VT_DLD_DATA, VT_DLD_ESC,  VT_UDK,
      VT_UDK_ESC,    VT_CSI_GT,    VT_CSI_PRIVATE, VT52_GROUND,  VT52_ESCAPE, VT52_ROW,    VT52_COL};
  for (const VT_STATE_ENTRY *state : states) {
    for (const VT_STATE_ENTRY *e = state;; ++e) {
      bool known = false;
      for (const VT_STATE_ENTRY *s : states) known = known || e->next == s;
      EXPECT_TRUE(known) << "entry " << (e - state) << " of a state leads nowhere";
      if (e->match == VT_MATCH_ANY) break;
    }
  }
}

}  // namespace
