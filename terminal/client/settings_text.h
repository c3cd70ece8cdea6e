// Text forms that the settings dialogs show and read back: the answerback in
// caret notation, a recent-host entry with its "(port)", the tab ruler's
// label and the colour grid's cell under a click.
#ifndef QX_TERMINAL_CLIENT_SETTINGS_TEXT_H
#define QX_TERMINAL_CLIENT_SETTINGS_TEXT_H

#include <string>

#include "term_state.h"

// The answerback as an edit shows it: "^" as "^^", a control byte as "^"
// and the byte + 64, others as themselves.
std::string AnswerbackToCaret(const BYTE *answerback);
// The edit's text back into the 51 answerback bytes: "^^" is "^", "^x" the
// byte x - 64 (a lower-case x taken in upper case), a trailing "^" itself;
// at most 50 bytes, then NUL.
void AnswerbackFromCaret(const std::string &text, BYTE *answerback);
// The placeholder of a concealed answerback in a Set-Up language (code page 437).
const char *ConcealedPlaceholder(int language);

// A recent-host entry "sun (2323)": the host without a trailing " (digits)",
// and the port in the parentheses, else 513 for rlogin or 23.
void HostEntryParse(const std::string &entry, bool rlogin, std::string &host, unsigned &port);

// The colour cell under a click (dialog coordinates, dialog base units):
// false outside the 8 x 8 grid.
bool ColourGridCell(int x, int y, int baseWidth, int baseHeight, int &foreground, int &background);

#endif
