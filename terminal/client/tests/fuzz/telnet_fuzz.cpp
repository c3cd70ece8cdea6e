// Fuzz target of the telnet layer: any bytes from a host, one at a time, as
// vtconsole's receive loop hands them over. Besides crashes it checks what the
// session relies on:
// - every answer is whole commands (IAC verb option, IAC SB ... IAC SE, IAC
//   DM), at most one terminal-type answer's worth per received byte;
// - the terminal never announces a state already in effect (WILL or DO of an
//   option it already does or agreed to), so a host that follows the same
//   rule can never make the two sides loop;
// - data survives the host's encoding: bytes sent as a line-mode host sends
//   them (IAC doubled, CR as CR NUL) or as a 3270 record (IAC doubled, IAC
//   EOR after) come out unchanged, and the record ends where the host ended it;
// - in rlogin mode every byte passes unchanged and nothing is answered.
//
// Input: byte 0 picks the check, local echo and whether a 3270 session can
// start; the rest is the host's bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "telnet.h"

namespace {

bool g_start3270 = false;
bool Start3270() { return g_start3270; }

constexpr size_t kMostAnswerPerByte = 4 + 2 * TERM_TYPE_MAX + 2 + 9;

// Splits an answer into commands; aborts on anything that is not a whole one.
// `each` sees the verb and option of every IAC verb option.
template <typename Each>
void ForEachCommand(const std::string &out, Each each) {
  size_t at = 0;
  while (at < out.size()) {
    if ((BYTE)out[at] != TN_IAC || at + 1 >= out.size()) abort();
    const BYTE verb = (BYTE)out[at + 1];
    if (verb == TN_DM) {
      at += 2;
    } else if (verb >= TN_WILL && verb <= TN_DONT) {
      if (at + 2 >= out.size()) abort();
      each(verb, (BYTE)out[at + 2]);
      at += 3;
    } else if (verb == TN_SB) {
      size_t end = at + 3;
      for (;; ++end) {
        if (end + 1 >= out.size()) abort();
        if ((BYTE)out[end] != TN_IAC) continue;
        if ((BYTE)out[end + 1] == TN_SE) break;
        if ((BYTE)out[end + 1] != TN_IAC) abort();
        ++end;  // IAC IAC: one 255 inside the subnegotiation
      }
      at = end + 2;
    } else {
      abort();
    }
  }
}

struct Session {
  TELNET_STATE tn;
  BYTE localEcho = 0;
  BYTE onLine = 1;
  Session(BYTE echo) : localEcho(echo) {
    tn.localEcho = &localEcho;
    tn.onLine = &onLine;
  }
  // One host byte with the checks every byte gets; returns what TelnetReceive did.
  int Receive(BYTE b, std::string &out) {
    bool usBefore[256], himBefore[256];
    memcpy(usBefore, tn.us, sizeof usBefore);
    memcpy(himBefore, tn.him, sizeof himBefore);
    const bool was3270 = tn.mode & MODE_3270;
    std::string answer;
    const int r = TelnetReceive(tn, b, answer, Start3270);
    if (r < TELNET_END_OF_RECORD || r > 255) abort();
    if (r == TELNET_END_OF_RECORD && !was3270) abort();
    if (answer.size() > kMostAnswerPerByte || tn.sbData.size() > SB_MAX) abort();
    if (strnlen(tn.termTypes[tn.typeIndex], TERM_TYPE_MAX + 1) > TERM_TYPE_MAX) abort();
    ForEachCommand(answer, [&](BYTE verb, BYTE option) {
      // Binary is also asked for and withdrawn on the terminal's own account.
      if (option == OPT_BINARY) return;
      if (verb == TN_WILL && (usBefore[option] || !tn.us[option])) abort();
      if (verb == TN_DO && (himBefore[option] || !tn.him[option])) abort();
      if (verb == TN_WONT && tn.us[option]) abort();
      if (verb == TN_DONT && tn.him[option]) abort();
    });
    out += answer;
    return r;
  }
};

void FuzzNegotiation(Session &s, const uint8_t *data, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i) s.Receive(data[i], out);
  ForEachCommand(out, [](BYTE, BYTE) {});
}

// Bytes a line-mode host sends (IAC doubled, CR as CR NUL) come back as they were.
void FuzzLineModeData(Session &s, const uint8_t *data, size_t size) {
  std::string wire, got, out;
  for (size_t i = 0; i < size; ++i) {
    wire.push_back((char)data[i]);
    if (data[i] == TN_IAC) wire.push_back((char)TN_IAC);
    if (data[i] == '\r') wire.push_back('\0');
  }
  for (unsigned char b : wire) {
    const int r = s.Receive(b, out);
    if (r >= 0) got.push_back((char)r);
  }
  if (got != std::string((const char *)data, size) || !out.empty()) abort();
}

// A 3270 record as the host sends it comes back whole, then its end.
void FuzzRecord(Session &s, const uint8_t *data, size_t size) {
  static const BYTE kEnter3270[] = {255, 253, 25, 255, 251, 25, 255, 253, 0, 255, 251, 0};
  std::string out, wire, got;
  g_start3270 = true;
  for (BYTE b : kEnter3270) s.Receive(b, out);
  if (!(s.tn.mode & MODE_3270) || !s.tn.him[OPT_BINARY]) abort();
  TelnetEncodeRecord(data, size, true, wire);
  int last = 0;
  for (unsigned char b : wire) {
    last = s.Receive(b, out);
    if (last >= 0) got.push_back((char)last);
  }
  if (last != TELNET_END_OF_RECORD || got != std::string((const char *)data, size)) abort();
}

void FuzzRlogin(Session &s, const uint8_t *data, size_t size) {
  s.tn.rlogin = true;
  std::string out;
  for (size_t i = 0; i < size; ++i)
    if (s.Receive(data[i], out) != data[i]) abort();
  if (!out.empty()) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const BYTE choice = data[0];
  Session s((choice >> 2) & 1);
  g_start3270 = (choice >> 3) & 1;
  if ((choice >> 4) & 1) strcpy(s.tn.termTypes[1], "");  // a VT session lists one name
  switch (choice & 3) {
    case 0: FuzzNegotiation(s, data + 1, size - 1); break;
    case 1: FuzzLineModeData(s, data + 1, size - 1); break;
    case 2: FuzzRecord(s, data + 1, size - 1); break;
    default: FuzzRlogin(s, data + 1, size - 1); break;
  }
  return 0;
}
