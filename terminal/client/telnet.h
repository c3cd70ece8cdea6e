// The telnet byte layer of a terminal session, without the socket: received
// bytes go in one at a time and come out as data bytes or are consumed as
// commands, whose answers are appended to the session's one output queue;
// typed bytes are encoded into the same queue. In rlogin mode both
// directions pass unchanged.
#ifndef QX_TERMINAL_CLIENT_TELNET_H
#define QX_TERMINAL_CLIENT_TELNET_H

#include <cstddef>
#include <string>

typedef unsigned char BYTE;

// Telnet commands and the options the terminal knows.
enum : BYTE {
  TN_SE = 240,
  TN_NOP = 241,
  TN_DM = 242,
  TN_BRK = 243,
  TN_AO = 245,
  TN_SB = 250,
  TN_WILL = 251,
  TN_WONT = 252,
  TN_DO = 253,
  TN_DONT = 254,
  TN_IAC = 255,
  TN_EOR = 239,
};
enum : BYTE {
  OPT_BINARY = 0,
  OPT_ECHO = 1,
  OPT_SGA = 3,
  OPT_TTYPE = 24,
  OPT_EOR = 25,
  OPT_TSPEED = 32,
};

// Pending answers: requests the terminal sent and whose answer it awaits.
enum : BYTE { PEND_ECHO = 0x01, PEND_HIS_BINARY = 0x02, PEND_MY_BINARY = 0x04 };
// Session mode bits.
enum : BYTE { MODE_BINARY = 0x01, MODE_3270 = 0x02, MODE_EOR = 0x04 };

constexpr size_t TERM_TYPE_MAX = 40;  // longest terminal-type name sent
constexpr size_t SB_MAX = 64;         // subnegotiation bytes kept for examination

struct TELNET_STATE {
  bool rlogin = false;
  BYTE state = 0;    // receive state: 0 data, 13 CR, 255 IAC, 250 SB, 251..254 verbs, 1 inside SB
  BYTE pending = 0;  // PEND_* bits
  BYTE mode = 0;     // MODE_* bits
  BYTE typeIndex = 0;
  // Option state of each side (RFC 1143): a request for the state already in
  // effect is not answered, so two sides can never ping-pong.
  bool him[256] = {};  // the host does the option (it sent WILL and we agreed)
  bool us[256] = {};   // we do the option (it sent DO and we agreed)
  // The subnegotiation being read.
  BYTE sbOption = 0;
  bool sbIac = false;
  std::string sbData;
  // Terminal-type list: slot 0 the VT name, slot 1 the 3270 name.
  char termTypes[2][TERM_TYPE_MAX + 1] = {"VT220", "IBM-3278-2"};
  // Set-up fields the negotiation reads and writes.
  BYTE *localEcho = nullptr;  // set-up byte 225
  BYTE *onLine = nullptr;     // set-up byte 19
};

// Starts a 3270 session for DO END-OF-RECORD / DO BINARY; false when none can
// be started. Without a 3270 engine the terminal refuses.
using Tn3270StartProc = bool (*)();

// Resets the receive state for a new connection; option state starts over.
void TelnetReset(TELNET_STATE &tn);

// What TelnetReceive returns besides a data byte.
enum { TELNET_CONSUMED = -1, TELNET_END_OF_RECORD = -2 };

// One received byte: returns the data byte (0..255), TELNET_CONSUMED when the
// byte was consumed by the protocol, or TELNET_END_OF_RECORD for IAC EOR in a
// 3270 session (the record collected so far is complete). Answers are
// appended to out.
int TelnetReceive(TELNET_STATE &tn, BYTE b, std::string &out, Tn3270StartProc start3270 = nullptr);

// The requests the terminal makes on its own.
void TelnetAskEcho(TELNET_STATE &tn, std::string &out);
void TelnetAskNoEcho(TELNET_STATE &tn, std::string &out);
void TelnetAskBinary(TELNET_STATE &tn, std::string &out);
void TelnetEndBinary(TELNET_STATE &tn, std::string &out);
void TelnetBreak(const TELNET_STATE &tn, std::string &out);

// A typed byte on its way to the host (CR as CR LF outside binary, 255
// doubled); false when it must not be sent (local mode).
bool TelnetEncodeTyped(const TELNET_STATE &tn, BYTE b, std::string &out);

// A 3270 record on its way to the host in binary mode: every 255 doubled,
// and IAC EOR after it when eor is set.
void TelnetEncodeRecord(const BYTE *bytes, size_t count, bool eor, std::string &out);

// True when a typed byte is echoed locally (local mode or local echo on).
bool TelnetEchoesLocally(const TELNET_STATE &tn);

// Sets the model digit of a "IBM-3278-" name (appended when the name ends there).
void TelnetModelName(char *name, size_t size, int model);

#endif
