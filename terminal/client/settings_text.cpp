// Answerback caret notation, recent-host entries and the colour grid.
#include "settings_text.h"

#include <cctype>
#include <cstring>

std::string AnswerbackToCaret(const BYTE *answerback) {
  std::string text;
  for (size_t i = 0; i < 50 && answerback[i]; ++i) {
    const BYTE b = answerback[i];
    if (b == '^')
      text += "^^";
    else if (b < 32)
      text += std::string("^") + static_cast<char>(b + 64);
    else
      text += static_cast<char>(b);
  }
  return text;
}

void AnswerbackFromCaret(const std::string &text, BYTE *answerback) {
  std::memset(answerback, 0, 51);
  size_t n = 0;
  for (size_t i = 0; i < text.size() && n < 50; ++i) {
    BYTE b = static_cast<BYTE>(text[i]);
    if (b == '^' && i + 1 < text.size()) {
      const BYTE next = static_cast<BYTE>(text[++i]);
      b = next == '^' ? '^' : static_cast<BYTE>(std::toupper(next) - 64);
    }
    answerback[n++] = b;
  }
}

const char *ConcealedPlaceholder(int language) {
  static const char *const kPlaceholders[3] = {"<Concealed>", "<Cach\x82>", "<unsichtbar>"};
  return kPlaceholders[language >= 0 && language <= 2 ? language : 0];
}

void HostEntryParse(const std::string &entry, bool rlogin, std::string &host, unsigned &port) {
  host = entry;
  port = rlogin ? 513 : 23;
  const size_t open = entry.rfind(" (");
  if (open == std::string::npos || open == 0 || entry.back() != ')') return;
  const std::string digits = entry.substr(open + 2, entry.size() - open - 3);
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return;
  const unsigned value = static_cast<unsigned>(std::stoul(digits));
  if (value < 1 || value > 65535) return;
  host = entry.substr(0, open);
  if (!rlogin) port = value;
}

bool ColourGridCell(int x, int y, int baseWidth, int baseHeight, int &foreground, int &background) {
  if (baseWidth <= 0 || baseHeight <= 0) return false;
  // Dialog units: the grid starts 18 across and 20 down, cells 20 apart; the
  // division rounds towards zero, so a click just left of the first column
  // still counts for it.
  const int col = (x * 8 / baseWidth - 18) / 20, row = (y * 16 / baseHeight - 20) / 20;
  if (col < 0 || col > 7 || row < 0 || row > 7) return false;
  foreground = col;
  background = row;
  return true;
}
