// The actions that the parser tables call: one small function per control
// function, named after its sequence. Each takes the emulator and reads the
// current byte and the collected parameters from its state block.
#ifndef QX_TERMINAL_VT_ACTIONS_H
#define QX_TERMINAL_VT_ACTIONS_H

#include "vt_internal.h"

// clang-format off
#define VT_ACTION_LIST(X)                                                                     \
    /* controls */                                                                            \
    X(Enq) X(Bel) X(Bs) X(Ht) X(Lf) X(Cr) X(Ls0) X(Ls1) X(Sub) X(Ind) X(Nel) X(Hts) X(Ri)     \
    X(Ss2) X(Ss3)                                                                             \
    /* parameters and sequence starts */                                                      \
    X(ClearParams) X(ParamDigit) X(ParamNext) X(DcsStart)                                     \
    X(ScsG0) X(ScsG1) X(ScsG2) X(ScsG3) X(ScsIntermediate) X(ScsFinal)                        \
    /* escape sequences */                                                                    \
    X(Decid) X(Deckpam) X(Deckpnm) X(Decsc) X(Decrc) X(Ris) X(Ls1r) X(Ls2) X(Ls2r) X(Ls3)     \
    X(Ls3r) X(S7c1t) X(S8c1t) X(Decaln) X(Decdhl) X(Decdwl) X(Decswl)                         \
    /* control sequences */                                                                   \
    X(Cuu) X(Cud) X(Cuf) X(Cub) X(Cup) X(Ed) X(El) X(Ich) X(Dch) X(Ech) X(Il) X(Dl)           \
    X(Decstbm) X(Tbc) X(Sm) X(Rm) X(Sgr) X(Dsr) X(Da) X(Decll) X(Decreqtparm) X(Mc)           \
    X(Decstr) X(Decscl) X(Decsca) X(Decset) X(Decrst) X(Decsed) X(Decsel) X(DsrPrivate)       \
    X(McPrivate) X(DaSecondary)                                                               \
    /* device-control strings: soft font and user-defined keys */                             \
    X(DldIntermediate) X(DldStart) X(DldCollect) X(DldUpperEnd) X(DldGlyphEnd) X(DldFinish)   \
    X(UdkCollect) X(UdkKeyEnd) X(UdkKeyFinish) X(UdkFinish)                                   \
    /* VT52 */                                                                                \
    X(Vt52Graphics) X(Vt52Ascii) X(Vt52Identify) X(Vt52AnsiMode) X(Vt52AutoPrintOn)           \
    X(Vt52AutoPrintOff) X(Vt52PrinterOn) X(Vt52PrinterOff) X(Vt52PrintScreen)                 \
    X(Vt52PrintLine) X(Vt52Row) X(Vt52Col)
// clang-format on

namespace vt {
#define VT_DECLARE_ACTION(name) void name(VtTerminal &t);
VT_ACTION_LIST(VT_DECLARE_ACTION)
#undef VT_DECLARE_ACTION
}  // namespace vt

#endif
