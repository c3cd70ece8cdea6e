// Telnet receive decoding, option negotiation and typed-byte encoding.
#include "telnet.h"

#include <cstring>

namespace {

enum : BYTE { ST_DATA = 0, ST_IN_SB = 1, ST_CR = 13 };

constexpr BYTE kSbSend = 1;  // TERMINAL-TYPE / TERMINAL-SPEED "SEND"
constexpr BYTE kSbIs = 0;

void Command(std::string &out, BYTE verb, BYTE option) {
  out.push_back((char)TN_IAC);
  out.push_back((char)verb);
  out.push_back((char)option);
}

// Answers a subnegotiation the host ended with IAC SE.
void SubnegotiationEnd(TELNET_STATE &tn, std::string &out) {
  const bool send = !tn.sbData.empty() && (BYTE)tn.sbData[0] == kSbSend;
  if (!send) return;  // only SEND asks for an answer
  if (tn.sbOption == OPT_TTYPE) {
    out += "\xFF\xFA\x18";
    out.push_back((char)kSbIs);
    const char *name = tn.termTypes[tn.typeIndex];
    for (const char *p = name; *p; ++p) {
      out.push_back(*p);
      if ((BYTE)*p == TN_IAC) out.push_back(*p);
    }
    out += "\xFF\xF0";
    // The last name is repeated once the list is exhausted.
    if (tn.typeIndex + 1 < 2 && tn.termTypes[tn.typeIndex + 1][0]) ++tn.typeIndex;
  } else if (tn.sbOption == OPT_TSPEED) {
    out += std::string(
        "\xFF\xFA\x20\x00"
        "9600,9600\xFF\xF0",
        15);
  }
}

// Host offers to do an option (WILL).
void OnWill(TELNET_STATE &tn, BYTE opt, std::string &out) {
  if ((opt == OPT_ECHO && (tn.pending & PEND_ECHO)) || (opt == OPT_BINARY && (tn.pending & PEND_HIS_BINARY))) {
    tn.pending &= opt == OPT_ECHO ? ~PEND_ECHO : ~PEND_HIS_BINARY;
    tn.him[opt] = true;  // the answer to our own DO
    return;
  }
  if (tn.him[opt]) return;  // already in effect
  const bool agree = opt == OPT_ECHO || opt == OPT_BINARY || opt == OPT_EOR || opt == OPT_SGA;
  tn.him[opt] = agree;
  Command(out, agree ? TN_DO : TN_DONT, opt);
}

// Host will not do an option (WONT).
void OnWont(TELNET_STATE &tn, BYTE opt, std::string &out) {
  if ((opt == OPT_ECHO && (tn.pending & PEND_ECHO)) || (opt == OPT_BINARY && (tn.pending & PEND_HIS_BINARY))) {
    tn.pending &= opt == OPT_ECHO ? ~PEND_ECHO : ~PEND_HIS_BINARY;
    tn.him[opt] = false;
    return;
  }
  if (!tn.him[opt]) return;
  tn.him[opt] = false;
  Command(out, TN_DONT, opt);
}

// Host asks us to do an option (DO).
void OnDo(TELNET_STATE &tn, BYTE opt, std::string &out, Tn3270StartProc start3270) {
  if (opt == OPT_TTYPE) tn.typeIndex = 0;  // a new DO starts the list again
  if (opt == OPT_BINARY) {
    tn.mode |= MODE_BINARY;
    if (tn.mode & MODE_EOR) {
      const bool started = start3270 && start3270();
      if (started) tn.mode |= MODE_3270 | MODE_EOR;
      if (tn.us[opt] == started) return;
      tn.us[opt] = started;
      Command(out, started ? TN_WILL : TN_WONT, opt);
      return;
    }
    if (tn.pending & PEND_MY_BINARY) {
      tn.pending &= ~PEND_MY_BINARY;
      tn.us[opt] = true;
      return;
    }
  }
  if (tn.us[opt]) return;  // already in effect
  bool agree = false;
  switch (opt) {
    case OPT_ECHO: agree = tn.localEcho && *tn.localEcho == 1; break;
    case OPT_BINARY:
    case OPT_SGA:
    case OPT_TSPEED:
    case OPT_TTYPE: agree = true; break;
    case OPT_EOR:
      agree = start3270 && start3270();
      if (agree) tn.mode |= MODE_3270 | MODE_EOR;
      break;
    default: break;
  }
  tn.us[opt] = agree;
  Command(out, agree ? TN_WILL : TN_WONT, opt);
  if (opt == OPT_EOR && !agree) TelnetEndBinary(tn, out);
}

// Host asks us to stop an option (DONT).
void OnDont(TELNET_STATE &tn, BYTE opt, std::string &out) {
  if (opt == OPT_ECHO && tn.localEcho) *tn.localEcho = 0;
  if (opt == OPT_BINARY) {
    tn.mode &= ~(MODE_3270 | MODE_BINARY);
    if (tn.pending & PEND_MY_BINARY) {
      tn.pending &= ~PEND_MY_BINARY;
      tn.us[opt] = false;
      return;
    }
  }
  if (opt == OPT_EOR) tn.mode &= ~(MODE_3270 | MODE_EOR);
  if (!tn.us[opt]) return;
  tn.us[opt] = false;
  Command(out, TN_WONT, opt);
}

// The byte after IAC.
int AfterIac(TELNET_STATE &tn, BYTE b, std::string &out) {
  tn.state = ST_DATA;
  if (b == TN_IAC) return TN_IAC;
  if (b >= TN_SB) {
    tn.state = b;
  } else if (b == TN_AO) {
    out += "\xFF\xF2";  // data mark
  } else if (b == TN_EOR && (tn.mode & MODE_3270)) {
    return TELNET_END_OF_RECORD;
  }
  // IAC EOR outside a 3270 session means nothing. Every other command (NOP,
  // DM, BRK, IP, AYT, EC, EL, GA, SE) is ignored.
  return TELNET_CONSUMED;
}

// Inside SB: bytes up to IAC SE, with IAC IAC standing for one 255.
void InSubnegotiation(TELNET_STATE &tn, BYTE b, std::string &out) {
  if (tn.sbIac) {
    tn.sbIac = false;
    if (b == TN_SE) {
      tn.state = ST_DATA;
      SubnegotiationEnd(tn, out);
      tn.sbData.clear();
      return;
    }
    if (b != TN_IAC) return;  // a stray command inside SB is dropped
  } else if (b == TN_IAC) {
    tn.sbIac = true;
    return;
  }
  if (tn.sbData.size() < SB_MAX) tn.sbData.push_back((char)b);
}

}  // namespace

void TelnetReset(TELNET_STATE &tn) {
  tn.state = ST_DATA;
  tn.pending = 0;
  tn.mode = 0;
  tn.typeIndex = 0;
  std::memset(tn.him, 0, sizeof tn.him);
  std::memset(tn.us, 0, sizeof tn.us);
  tn.sbIac = false;
  tn.sbData.clear();
}

int TelnetReceive(TELNET_STATE &tn, BYTE b, std::string &out, Tn3270StartProc start3270) {
  if (tn.rlogin) return b;
  switch (tn.state) {
    case ST_CR:
      tn.state = ST_DATA;
      if (b == 0) return -1;  // CR NUL is a bare CR
      [[fallthrough]];
    case ST_DATA:
      if (b == TN_IAC) {
        tn.state = TN_IAC;
        return -1;
      }
      if (b == '\r' && !tn.him[OPT_BINARY]) tn.state = ST_CR;
      return b;
    case TN_IAC: return AfterIac(tn, b, out);
    case TN_SB:
      tn.sbOption = b;
      tn.sbIac = false;
      tn.sbData.clear();
      tn.state = ST_IN_SB;
      return -1;
    case ST_IN_SB: InSubnegotiation(tn, b, out); return -1;
    case TN_WILL:
      tn.state = ST_DATA;
      OnWill(tn, b, out);
      return -1;
    case TN_WONT:
      tn.state = ST_DATA;
      OnWont(tn, b, out);
      return -1;
    case TN_DO:
      tn.state = ST_DATA;
      OnDo(tn, b, out, start3270);
      return -1;
    case TN_DONT:
      tn.state = ST_DATA;
      OnDont(tn, b, out);
      return -1;
    default: tn.state = ST_DATA; return -1;
  }
}

void TelnetAskEcho(TELNET_STATE &tn, std::string &out) {
  if (tn.rlogin) return;
  Command(out, TN_DO, OPT_ECHO);
  tn.pending |= PEND_ECHO;
}

void TelnetAskNoEcho(TELNET_STATE &tn, std::string &out) {
  if (tn.rlogin) return;
  Command(out, TN_DONT, OPT_ECHO);
  tn.pending |= PEND_ECHO;
}

void TelnetAskBinary(TELNET_STATE &tn, std::string &out) {
  if (tn.rlogin) return;
  Command(out, TN_WILL, OPT_BINARY);
  Command(out, TN_DO, OPT_BINARY);
  tn.pending |= PEND_HIS_BINARY | PEND_MY_BINARY;
}

void TelnetEndBinary(TELNET_STATE &tn, std::string &out) {
  if (tn.rlogin) return;
  Command(out, TN_WONT, OPT_BINARY);
  Command(out, TN_DONT, OPT_BINARY);
  tn.pending |= PEND_HIS_BINARY | PEND_MY_BINARY;
}

void TelnetBreak(const TELNET_STATE &tn, std::string &out) {
  if (!tn.rlogin) out += "\xFF\xF3";
}

bool TelnetEncodeTyped(const TELNET_STATE &tn, BYTE b, std::string &out) {
  if (tn.onLine && *tn.onLine == 0) return false;
  if (tn.rlogin) {
    out.push_back((char)b);
  } else if (b == '\r' && !(tn.mode & MODE_BINARY)) {
    out += "\r\n";
  } else if (b == TN_IAC) {
    out += "\xFF\xFF";
  } else {
    out.push_back((char)b);
  }
  return true;
}

void TelnetEncodeRecord(const BYTE *bytes, size_t count, bool eor, std::string &out) {
  for (size_t i = 0; i < count; ++i) {
    out.push_back((char)bytes[i]);
    if (bytes[i] == TN_IAC) out.push_back((char)TN_IAC);
  }
  if (eor) {
    out.push_back((char)TN_IAC);
    out.push_back((char)TN_EOR);
  }
}

bool TelnetEchoesLocally(const TELNET_STATE &tn) {
  return (tn.onLine && *tn.onLine == 0) || (tn.localEcho && *tn.localEcho == 1);
}

void TelnetModelName(char *name, size_t size, int model) {
  static const char kPrefix[] = "IBM-3278-";
  const size_t prefix = sizeof kPrefix - 1;
  if (std::strncmp(name, kPrefix, prefix) != 0 || size < prefix + 2) return;
  if (name[prefix] == '\0') name[prefix + 1] = '\0';  // "IBM-3278-" alone: the digit is appended
  name[prefix] = (char)('0' + model);
}
