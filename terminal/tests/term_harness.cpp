// Test harness of the terminal core: row text, field names and escapes.
#include "term_harness.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string TestTerminal::RowText(int row) const {
  std::string text;
  for (const TERM_CELL &cell : term->screen.cells[row]) text += static_cast<char>(cell.ch);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

namespace {

struct Field {
  const char *name;
  size_t offset;
};

#define REC(f) \
  { #f, offsetof(TERM_STATE, s) + offsetof(TERM_SETUP, f) }
#define MEM(f) \
  { #f, offsetof(TERM_STATE, f) }
const Field kFields[] = {
    REC(keyboardMode),       REC(nationalLanguage),  REC(nationalMode),  REC(warningBell),
    REC(printMode),          REC(printExtentRegion), REC(print8Bit),     REC(printFormFeed),
    REC(userFeaturesLocked), REC(udkLocked),         REC(cursorHidden),  REC(displayControls),
    REC(setupLanguage),      REC(columns),           REC(cursorKeysApp), REC(keypadApp),
    REC(smoothScroll),       REC(autoRepeat),        REC(screenMode),    REC(cursorStyle),
    REC(ansiMode),           REC(autowrap),          REC(newLineMode),   REC(parityEven),
    REC(parityOn),           REC(eightBit),          REC(speedIndex),    REC(terminalId),
    REC(localEcho),          REC(attribute),         REC(defaultColour), MEM(colourAttribute),
    MEM(wrapPending),        MEM(marginTop),         MEM(marginBottom),  MEM(cursorCol),
    MEM(cursorRow),          MEM(originMode),        MEM(glSet),         MEM(grSet),
    MEM(singleShift),        MEM(insertMode),        MEM(leds),          MEM(screenRows),
    MEM(composeState),       MEM(viewLeft),          MEM(viewRight),
};

}  // namespace

BYTE *FieldByName(TERM_STATE &st, const std::string &name) {
  BYTE *base = reinterpret_cast<BYTE *>(&st);
  if (name.rfind("tab:", 0) == 0) {
    int col = std::atoi(name.c_str() + 4);
    return col >= 0 && col < 132 ? &st.s.tabStops[col] : nullptr;
  }
  if (name.size() == 2 && name[0] == 'g' && name[1] >= '0' && name[1] <= '3') return &st.gSet[name[1] - '0'];
  for (const Field &f : kFields)
    if (name == f.name) return base + f.offset;
  return nullptr;
}

std::string Unescape(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\\' || i + 1 >= text.size()) {
      out += c;
      continue;
    }
    char e = text[++i];
    switch (e) {
      case 'e': out += '\x1b'; break;
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'v': out += '\v'; break;
      case 'a': out += '\a'; break;
      case '0': out += '\0'; break;
      case 'x':
        if (i + 2 < text.size()) {
          out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
          i += 2;
        }
        break;
      default: out += e; break;
    }
  }
  return out;
}

std::string Escape(const std::string &bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == 0x1b)
      out += "\\e";
    else if (c >= 0x20 && c < 0x7F)
      out += static_cast<char>(c);
    else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}
