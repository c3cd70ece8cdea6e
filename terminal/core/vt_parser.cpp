// The VT parser: state tables of VT_STATE_ENTRY records in static data, searched
// in order for the first entry that accepts the byte, and the printer-controller
// pass-through. 17 ANSI states and 4 VT52 states.
#include <cstring>

#include "vt_actions.h"

using namespace vt;

extern const VT_STATE_ENTRY VT_ESC_HASH[];
extern const VT_STATE_ENTRY VT_CSI_BANG[];
extern const VT_STATE_ENTRY VT_CSI_QUOTE[];
extern const VT_STATE_ENTRY VT_CSI_DQUOTE[];
extern const VT_STATE_ENTRY VT_ESC_SPACE[];
extern const VT_STATE_ENTRY VT_DCS[];
extern const VT_STATE_ENTRY VT_DLD[];
extern const VT_STATE_ENTRY VT_DLD_ESC[];
extern const VT_STATE_ENTRY VT_UDK[];
extern const VT_STATE_ENTRY VT_UDK_ESC[];
extern const VT_STATE_ENTRY VT_CSI_GT[];
extern const VT_STATE_ENTRY VT_CSI_PRIVATE[];
extern const VT_STATE_ENTRY VT52_ROW[];
extern const VT_STATE_ENTRY VT52_COL[];

#define PRINTABLE VT_MATCH_PRINTABLE
#define ANY VT_MATCH_ANY
#define DIGIT VT_MATCH_DIGIT
#define OTHER_C0 VT_MATCH_C0

// Embedded controls inside a sequence: they act without ending it.
#define VT_BLOCK_COMMON(SELF, GROUND)                                                                            \
  {0x0D, Cr, SELF}, {0x0A, Lf, SELF}, {0x0B, Lf, SELF}, {0x0C, Lf, SELF}, {0x08, Bs, SELF}, {0x09, Ht, SELF},    \
      {0x07, Bel, SELF}, {0x05, Enq, SELF}, {0x11, nullptr, SELF}, {0x13, nullptr, SELF}, {0x7F, nullptr, SELF}, \
      {0x18, nullptr, GROUND}, {                                                                                 \
    0x1A, Sub, GROUND                                                                                            \
  }
#define VT_SHIFTS(SELF) \
  {0x0E, Ls1, SELF}, { 0x0F, Ls0, SELF }
// ANSI states where ESC restarts the sequence (17 entries).
#define VT_BLOCK(SELF) \
  VT_BLOCK_COMMON(SELF, VT_GROUND), VT_SHIFTS(SELF), {0x1B, ClearParams, VT_ESCAPE}, { OTHER_C0, nullptr, SELF }
// ANSI states where ESC is ignored with the other C0 controls (16 entries).
#define VT_BLOCK_NO_ESC(SELF) \
  VT_BLOCK_COMMON(SELF, VT_GROUND), VT_SHIFTS(SELF), { OTHER_C0, nullptr, SELF }
// VT52 states: no shifts (15 entries).
#define VT52_BLOCK(SELF) \
  VT_BLOCK_COMMON(SELF, VT52_GROUND), {0x1B, ClearParams, VT52_ESCAPE}, { OTHER_C0, nullptr, SELF }

const VT_STATE_ENTRY VT_GROUND[] = {
    {PRINTABLE, PutGraphic, VT_GROUND},
    {0x0D, Cr, VT_GROUND},
    {0x0A, Lf, VT_GROUND},
    {0x1B, ClearParams, VT_ESCAPE},
    {0x9B, ClearParams, VT_CSI},
    {0x0B, Lf, VT_GROUND},
    {0x0C, Lf, VT_GROUND},
    {0x08, Bs, VT_GROUND},
    {0x09, Ht, VT_GROUND},
    {0x07, Bel, VT_GROUND},
    {0x18, nullptr, VT_GROUND},
    {0x1A, Sub, VT_GROUND},
    {0x7F, nullptr, VT_GROUND},
    {0x05, Enq, VT_GROUND},
    {0x0E, Ls1, VT_GROUND},
    {0x0F, Ls0, VT_GROUND},
    {0x11, nullptr, VT_GROUND},
    {0x13, nullptr, VT_GROUND},
    {0x84, Ind, VT_GROUND},
    {0x85, Nel, VT_GROUND},
    {0x88, Hts, VT_GROUND},
    {0x8D, Ri, VT_GROUND},
    {0x8E, Ss2, VT_GROUND},
    {0x8F, Ss3, VT_GROUND},
    {0x90, DcsStart, VT_DCS},
    {OTHER_C0, nullptr, VT_GROUND},
    {ANY, nullptr, VT_GROUND},
};

const VT_STATE_ENTRY VT_ESCAPE[] = {
    {'[', nullptr, VT_CSI},       {'#', nullptr, VT_ESC_HASH}, {'Z', Decid, VT_GROUND},    {'=', Deckpam, VT_GROUND},
    {'>', Deckpnm, VT_GROUND},    {'8', Decrc, VT_GROUND},     {'7', Decsc, VT_GROUND},    {'H', Hts, VT_GROUND},
    {'D', Ind, VT_GROUND},        {'M', Ri, VT_GROUND},        {'E', Nel, VT_GROUND},      {'c', Ris, VT_GROUND},
    {'(', ScsG0, VT_DESIGNATE},   {')', ScsG1, VT_DESIGNATE},  {'*', ScsG2, VT_DESIGNATE}, {'+', ScsG3, VT_DESIGNATE},
    {'~', Ls1r, VT_GROUND},       {'n', Ls2, VT_GROUND},       {'}', Ls2r, VT_GROUND},     {'o', Ls3, VT_GROUND},
    {'|', Ls3r, VT_GROUND},       {'N', Ss2, VT_GROUND},       {'O', Ss3, VT_GROUND},      {'P', DcsStart, VT_DCS},
    {' ', nullptr, VT_ESC_SPACE}, VT_BLOCK(VT_ESCAPE),         {ANY, nullptr, VT_GROUND},
};

const VT_STATE_ENTRY VT_ESC_HASH[] = {
    {'8', Decaln, VT_GROUND}, {'3', Decdhl, VT_GROUND}, {'4', Decdhl, VT_GROUND},  {'6', Decdwl, VT_GROUND},
    {'5', Decswl, VT_GROUND}, VT_BLOCK(VT_ESC_HASH),    {ANY, nullptr, VT_GROUND},
};

#define INTERMEDIATES(ACTION, SELF)                                                                                   \
  {0x20, ACTION, SELF}, {0x21, ACTION, SELF}, {0x22, ACTION, SELF}, {0x23, ACTION, SELF}, {0x24, ACTION, SELF},       \
      {0x25, ACTION, SELF}, {0x26, ACTION, SELF}, {0x27, ACTION, SELF}, {0x28, ACTION, SELF}, {0x29, ACTION, SELF},   \
      {0x2A, ACTION, SELF}, {0x2B, ACTION, SELF}, {0x2C, ACTION, SELF}, {0x2D, ACTION, SELF}, {0x2E, ACTION, SELF}, { \
    0x2F, ACTION, SELF                                                                                                \
  }

const VT_STATE_ENTRY VT_DESIGNATE[] = {
    INTERMEDIATES(ScsIntermediate, VT_DESIGNATE),
    VT_BLOCK(VT_DESIGNATE),
    {PRINTABLE, ScsFinal, VT_GROUND},
    {ANY, nullptr, VT_GROUND},
};

const VT_STATE_ENTRY VT_CSI[] = {
    {'?', nullptr, VT_CSI_PRIVATE}, {'>', nullptr, VT_CSI_GT},
    {DIGIT, ParamDigit, VT_CSI},    {';', ParamNext, VT_CSI},
    {'D', Cub, VT_GROUND},          {'B', Cud, VT_GROUND},
    {'C', Cuf, VT_GROUND},          {'H', Cup, VT_GROUND},
    {'A', Cuu, VT_GROUND},          {'c', Da, VT_GROUND},
    {'q', Decll, VT_GROUND},        {'x', Decreqtparm, VT_GROUND},
    {'r', Decstbm, VT_GROUND},      {'y', nullptr, VT_GROUND},
    {'n', Dsr, VT_GROUND},          {'J', Ed, VT_GROUND},
    {'K', El, VT_GROUND},           {'f', Cup, VT_GROUND},
    {'l', Rm, VT_GROUND},           {'m', Sgr, VT_GROUND},
    {'h', Sm, VT_GROUND},           {'g', Tbc, VT_GROUND},
    {'i', Mc, VT_GROUND},           {'P', Dch, VT_GROUND},
    {'M', Dl, VT_GROUND},           {'L', Il, VT_GROUND},
    {'@', Ich, VT_GROUND},          {'X', Ech, VT_GROUND},
    {'!', nullptr, VT_CSI_BANG},    {'\'', nullptr, VT_CSI_QUOTE},
    {'"', nullptr, VT_CSI_DQUOTE},  VT_BLOCK(VT_CSI),
    {ANY, nullptr, VT_GROUND},
};

const VT_STATE_ENTRY VT_CSI_BANG[] = {
    {'p', Decstr, VT_GROUND},
    {ANY, nullptr, VT_GROUND},
};

const VT_STATE_ENTRY VT_CSI_QUOTE[] = {
    VT_BLOCK_NO_ESC(VT_CSI_QUOTE),
    {ANY, nullptr, VT_GROUND},
};

const VT_STATE_ENTRY VT_CSI_DQUOTE[] = {
    {'q', Decsca, VT_GROUND},
    {'p', Decscl, VT_GROUND},
    VT_BLOCK_NO_ESC(VT_CSI_DQUOTE),
    {ANY, nullptr, VT_GROUND},
};

const VT_STATE_ENTRY VT_ESC_SPACE[] = {
    {'F', S7c1t, VT_GROUND},
    {'G', S8c1t, VT_GROUND},
    VT_BLOCK_NO_ESC(VT_ESC_SPACE),
    {ANY, nullptr, VT_GROUND},
};

const VT_STATE_ENTRY VT_DCS[] = {
    {DIGIT, ParamDigit, VT_DCS}, {';', ParamNext, VT_DCS},    {'{', nullptr, VT_DLD},    {'|', nullptr, VT_UDK},
    {0x1A, Sub, VT_GROUND},      {0x18, nullptr, VT_GROUND},  {0x7F, nullptr, VT_DCS},   {0x11, nullptr, VT_DCS},
    {0x13, nullptr, VT_DCS},     {OTHER_C0, nullptr, VT_DCS}, {ANY, nullptr, VT_GROUND},
};

const VT_STATE_ENTRY VT_DLD[] = {
    INTERMEDIATES(DldIntermediate, VT_DLD),
    {0x1B, ClearParams, VT_ESCAPE},
    {0x18, nullptr, VT_GROUND},
    {0x1A, Sub, VT_GROUND},
    {0x7F, nullptr, VT_DLD},
    {0x11, nullptr, VT_DLD},
    {0x13, nullptr, VT_DLD},
    {OTHER_C0, nullptr, VT_DLD},
    {PRINTABLE, DldStart, VT_DLD_DATA},
    {ANY, nullptr, VT_GROUND},
};

// A string cut off by CAN or SUB ends there, so that the host's following
// output is shown rather than swallowed as glyph or key data.
const VT_STATE_ENTRY VT_DLD_DATA[] = {
    {0x9C, DldFinish, VT_GROUND},    {0x1B, nullptr, VT_DLD_ESC}, {'/', DldUpperEnd, VT_DLD_DATA},
    {';', DldGlyphEnd, VT_DLD_DATA}, {0x18, nullptr, VT_GROUND},  {0x1A, Sub, VT_GROUND},
    {ANY, DldCollect, VT_DLD_DATA},
};

const VT_STATE_ENTRY VT_DLD_ESC[] = {
    {'\\', DldFinish, VT_GROUND},
    {ANY, nullptr, VT_GROUND},
};

const VT_STATE_ENTRY VT_UDK[] = {
    {0x9C, UdkFinish, VT_GROUND}, {0x1B, nullptr, VT_UDK_ESC}, {'/', UdkKeyEnd, VT_UDK},  {';', UdkKeyFinish, VT_UDK},
    {0x18, nullptr, VT_GROUND},   {0x1A, Sub, VT_GROUND},      {ANY, UdkCollect, VT_UDK},
};

const VT_STATE_ENTRY VT_UDK_ESC[] = {
    {'\\', UdkFinish, VT_GROUND},
    {ANY, nullptr, VT_GROUND},
};

const VT_STATE_ENTRY VT_CSI_GT[] = {
    {DIGIT, ParamDigit, VT_CSI_GT}, {'c', DaSecondary, VT_GROUND}, {'h', Decset, VT_GROUND},
    {'l', Decrst, VT_GROUND},       {';', ParamNext, VT_CSI_GT},   {'K', Decsel, VT_GROUND},
    {'J', Decsed, VT_GROUND},       {'i', McPrivate, VT_GROUND},   VT_BLOCK(VT_CSI_GT),
    {ANY, nullptr, VT_GROUND},
};

const VT_STATE_ENTRY VT_CSI_PRIVATE[] = {
    {DIGIT, ParamDigit, VT_CSI_PRIVATE}, {'h', Decset, VT_GROUND},     {'l', Decrst, VT_GROUND},
    {';', ParamNext, VT_CSI_PRIVATE},    {'K', Decsel, VT_GROUND},     {'J', Decsed, VT_GROUND},
    {'i', McPrivate, VT_GROUND},         {'n', DsrPrivate, VT_GROUND}, VT_BLOCK(VT_CSI_PRIVATE),
    {ANY, nullptr, VT_GROUND},
};

const VT_STATE_ENTRY VT52_GROUND[] = {
    {PRINTABLE, PutGraphic, VT52_GROUND},
    {0x0D, Cr, VT52_GROUND},
    {0x0A, Lf, VT52_GROUND},
    {0x1B, ClearParams, VT52_ESCAPE},
    {0x0B, Lf, VT52_GROUND},
    {0x0C, Lf, VT52_GROUND},
    {0x08, Bs, VT52_GROUND},
    {0x09, Ht, VT52_GROUND},
    {0x07, Bel, VT52_GROUND},
    {0x18, nullptr, VT52_GROUND},
    {0x1A, Sub, VT52_GROUND},
    {0x7F, nullptr, VT52_GROUND},
    {0x05, Enq, VT52_GROUND},
    {0x11, nullptr, VT52_GROUND},
    {0x13, nullptr, VT52_GROUND},
    {OTHER_C0, nullptr, VT52_GROUND},
    {ANY, nullptr, VT52_GROUND},
};

const VT_STATE_ENTRY VT52_ESCAPE[] = {
    {'A', Cuu, VT52_GROUND},
    {'B', Cud, VT52_GROUND},
    {'C', Cuf, VT52_GROUND},
    {'D', Cub, VT52_GROUND},
    {'F', Vt52Graphics, VT52_GROUND},
    {'G', Vt52Ascii, VT52_GROUND},
    {'H', Cup, VT52_GROUND},
    {'I', Ri, VT52_GROUND},
    {'J', Ed, VT52_GROUND},
    {'K', El, VT52_GROUND},
    {'Y', nullptr, VT52_ROW},
    {'Z', Vt52Identify, VT52_GROUND},
    {'=', Deckpam, VT52_GROUND},
    {'>', Deckpnm, VT52_GROUND},
    {'<', Vt52AnsiMode, VT52_GROUND},
    {'^', Vt52AutoPrintOn, VT52_GROUND},
    {'_', Vt52AutoPrintOff, VT52_GROUND},
    {'W', Vt52PrinterOn, VT52_GROUND},
    {'X', Vt52PrinterOff, VT52_GROUND},
    {']', Vt52PrintScreen, VT52_GROUND},
    {'V', Vt52PrintLine, VT52_GROUND},
    {0x0D, Cr, VT52_ESCAPE},
    {0x0A, Lf, VT52_ESCAPE},
    {0x0B, Lf, VT52_ESCAPE},
    {0x0C, Lf, VT52_ESCAPE},
    {0x08, Bs, VT52_ESCAPE},
    {0x09, Ht, VT52_ESCAPE},
    {0x07, Bel, VT52_ESCAPE},
    {0x05, Enq, VT52_ESCAPE},
    {0x11, nullptr, VT52_ESCAPE},
    {0x13, nullptr, VT52_ESCAPE},
    {0x7F, nullptr, VT52_ESCAPE},
    {0x1B, ClearParams, VT52_ESCAPE},
    {0x18, nullptr, VT52_GROUND},
    {0x1A, Sub, VT52_GROUND},
    {OTHER_C0, nullptr, VT52_ESCAPE},
    {ANY, nullptr, VT52_GROUND},
};

const VT_STATE_ENTRY VT52_ROW[] = {
    {PRINTABLE, Vt52Row, VT52_COL},
    VT52_BLOCK(VT52_ROW),
    {ANY, nullptr, VT52_GROUND},
};

const VT_STATE_ENTRY VT52_COL[] = {
    {PRINTABLE, Vt52Col, VT52_GROUND},
    VT52_BLOCK(VT52_COL),
    {ANY, nullptr, VT52_GROUND},
};

namespace {

inline bool Matches(DWORD match, BYTE b) {
  if (match < 0x100) return match == b;
  switch (match) {
    case VT_MATCH_PRINTABLE: return (b >= 0x20 && b <= 0x7E) || b >= 0xA0;
    case VT_MATCH_DIGIT: return b >= '0' && b <= '9';
    case VT_MATCH_C0: return b < 0x20;
    default: return true;  // VT_MATCH_ANY ends every state
  }
}

}  // namespace

void vt::PrinterControllerByte(VtTerminal &t) {
  TERM_STATE &st = t.st;
  BYTE b = st.currentByte;
  if (st.printCount >= 19 || b == 0x1B || b == 0x9B) {
    if (st.printCount && OpenPrintFile(t)) t.printer->Write(st.printBuffer, st.printCount);
    st.printCount = 0;
  }
  st.printBuffer[st.printCount++] = b;
  if (b != 'i') return;
  bool end7 = st.printCount == 4 && std::memcmp(st.printBuffer, "\x1b[4i", 4) == 0;
  bool end8 = st.printCount == 3 && std::memcmp(st.printBuffer,
                                                "\x9b"
                                                "4i",
                                                3) == 0;
  if (!end7 && !end8) return;
  st.s.printMode = 0;
  st.printCount = 0;
  if (t.printer && t.printer->IsOpen()) t.printer->Close();
}

void VtParseByte(VtTerminal &t) {
  TERM_STATE &st = t.st;
  BYTE b = st.currentByte;
  if (st.s.displayControls) {
    PutGraphic(t);
    if (b == 0x0A || b == 0x0B || b == 0x0C) {
      CarriageReturn(t);
      LineFeed(t, true);
    }
    return;
  }
  const VT_STATE_ENTRY *e = st.stateEntry;
  while (!Matches(e->match, b)) ++e;
  if (st.s.printMode == 2) {
    PrinterControllerByte(t);
    return;
  }
  st.stateEntry = e->next;
  if (e->action) e->action(t);
}

void VtParseBytes(VtTerminal &t, const BYTE *data, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    t.st.currentByte = data[i];
    VtParseByte(t);
  }
}
