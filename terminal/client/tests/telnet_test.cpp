// The telnet layer byte by byte: what comes out as data, what the terminal
// answers, and how typed bytes are encoded.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "telnet.h"

namespace {

struct Fixture {
  TELNET_STATE tn;
  BYTE localEcho = 0;
  BYTE onLine = 1;
  std::string out;
  Fixture() {
    tn.localEcho = &localEcho;
    tn.onLine = &onLine;
  }
  // Feeds bytes; returns the data bytes that came out.
  std::string Feed(const std::string &bytes, Tn3270StartProc start = nullptr) {
    std::string data;
    for (unsigned char b : bytes) {
      int r = TelnetReceive(tn, b, out, start);
      if (r >= 0) data.push_back((char)r);
    }
    return data;
  }
  std::string Take() {
    std::string s = out;
    out.clear();
    return s;
  }
};

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back((char)b);
  return s;
}

TEST(TelnetReceive, DataBytesCommandsAndLineEnds) {
  struct Case {
    const char *what;
    std::string in, data;
  } cases[] = {
      {"CR NUL is a bare CR", B({'a', 13, 0, 'b'}), B({'a', 13, 'b'})},
      {"CR LF passes both", B({13, 10}), B({13, 10})},
      {"IAC IAC is one 255", B({255, 255, 'x'}), B({255, 'x'})},
      {"a command below EOR is swallowed with its IAC", B({'a', 255, 241, 'b', 255, 249, 'c'}), "abc"},
      {"IAC EOR outside 3270 means nothing", B({'a', 255, 239, 'b'}), "ab"},
      {"an unknown subnegotiation ends only at IAC SE", B({255, 250, 99, 'x', 240, 255, 255, 'y', 255, 240, 'z'}), "z"},
  };
  for (const Case &c : cases) {
    Fixture f;
    EXPECT_EQ(f.Feed(c.in), c.data) << c.what;
  }
}

TEST(TelnetReceive, BinaryHostKeepsNulAfterCr) {
  Fixture f;
  f.Feed(B({255, 251, 0}));
  EXPECT_EQ(f.Take(), B({255, 253, 0}));
  EXPECT_EQ(f.Feed(B({13, 0})), B({13, 0}));
}

TEST(TelnetNegotiation, AnswersFollowTheTableAndNeverRepeatAState) {
  struct Case {
    const char *what;
    std::string in, answer;
  } cases[] = {
      {"WILL ECHO", B({255, 251, 1}), B({255, 253, 1})},
      {"WILL SGA", B({255, 251, 3}), B({255, 253, 3})},
      {"WILL of an unknown option", B({255, 251, 31}), B({255, 254, 31})},
      {"WILL ECHO twice is answered once", B({255, 251, 1, 255, 251, 1}), B({255, 253, 1})},
      {"WONT of an option already off", B({255, 252, 5}), ""},
      {"DO TTYPE", B({255, 253, 24}), B({255, 251, 24})},
      {"DO TSPEED", B({255, 253, 32}), B({255, 251, 32})},
      {"DO SGA", B({255, 253, 3}), B({255, 251, 3})},
      {"DO NAWS is refused", B({255, 253, 31}), B({255, 252, 31})},
      {"DO ECHO without local echo", B({255, 253, 1}), B({255, 252, 1})},
      {"DONT of an option never on", B({255, 254, 3}), ""},
      {"DO BINARY", B({255, 253, 0}), B({255, 251, 0})},
      {"DO EOR without a 3270 engine", B({255, 253, 25}), B({255, 252, 25, 255, 252, 0, 255, 254, 0})},
  };
  for (const Case &c : cases) {
    Fixture f;
    f.Feed(c.in);
    EXPECT_EQ(f.Take(), c.answer) << c.what;
  }
}

TEST(TelnetNegotiation, OwnRequestsAreNotAnsweredAgain) {
  Fixture f;
  TelnetAskEcho(f.tn, f.out);
  EXPECT_EQ(f.Take(), B({255, 253, 1}));
  f.Feed(B({255, 251, 1}));
  EXPECT_EQ(f.Take(), "");
  TelnetAskBinary(f.tn, f.out);
  EXPECT_EQ(f.Take(), B({255, 251, 0, 255, 253, 0}));
  f.Feed(B({255, 253, 0, 255, 251, 0}));
  EXPECT_EQ(f.Take(), "");
  EXPECT_TRUE(f.tn.mode & MODE_BINARY);
}

TEST(TelnetNegotiation, DontEchoTurnsLocalEchoOff) {
  Fixture f;
  f.localEcho = 1;
  f.Feed(B({255, 253, 1}));
  EXPECT_EQ(f.Take(), B({255, 251, 1}));
  f.Feed(B({255, 254, 1}));
  EXPECT_EQ(f.Take(), B({255, 252, 1}));
  EXPECT_EQ(f.localEcho, 0);
}

TEST(TelnetSubnegotiation, TerminalTypeWalksTheListAndRepeatsTheLast) {
  Fixture f;
  const std::string send = B({255, 250, 24, 1, 255, 240});
  f.Feed(B({255, 253, 24}));
  f.Take();
  f.Feed(send + send + send);
  const std::string vt = B({255, 250, 24, 0}) + "VT220" + B({255, 240});
  const std::string ibm = B({255, 250, 24, 0}) + "IBM-3278-2" + B({255, 240});
  EXPECT_EQ(f.Take(), vt + ibm + ibm);
  // A new DO starts the list again, without a second WILL.
  f.Feed(B({255, 253, 24}) + send);
  EXPECT_EQ(f.Take(), vt);
}

TEST(TelnetSubnegotiation, TerminalSpeedAndDataByteF0InsideSb) {
  Fixture f;
  f.Feed(B({255, 250, 32, 1, 255, 240}));
  EXPECT_EQ(f.Take(), std::string("\xFF\xFA\x20\x00"
                                  "9600,9600\xFF\xF0",
                                  15));
  // A 0xF0 data byte inside the request does not end it early.
  EXPECT_EQ(f.Feed(B({255, 250, 24, 1, 240, 'q', 255, 240, 'k'})), "k");
}

TEST(TelnetEncode, TypedBytes) {
  Fixture f;
  for (unsigned char b : std::string("a\r") + B({255})) TelnetEncodeTyped(f.tn, b, f.out);
  EXPECT_EQ(f.Take(), std::string("a\r\n") + B({255, 255}));
  f.tn.mode |= MODE_BINARY;
  TelnetEncodeTyped(f.tn, '\r', f.out);
  EXPECT_EQ(f.Take(), "\r");
  f.onLine = 0;
  EXPECT_FALSE(TelnetEncodeTyped(f.tn, 'x', f.out));
  EXPECT_TRUE(TelnetEchoesLocally(f.tn));
  EXPECT_EQ(f.Take(), "");
}

TEST(TelnetRlogin, BytesPassUnchangedBothWays) {
  Fixture f;
  f.tn.rlogin = true;
  EXPECT_EQ(f.Feed(B({255, 253, 24, 13, 0})), B({255, 253, 24, 13, 0}));
  for (unsigned char b : B({13, 255})) TelnetEncodeTyped(f.tn, b, f.out);
  EXPECT_EQ(f.Take(), B({13, 255}));
  TelnetBreak(f.tn, f.out);
  TelnetAskEcho(f.tn, f.out);
  EXPECT_EQ(f.Take(), "");
}

TEST(TelnetModelName, DigitReplacedOrAppendedWithinTheName) {
  char full[41] = "IBM-3278-2";
  TelnetModelName(full, sizeof full, 4);
  EXPECT_STREQ(full, "IBM-3278-4");
  char bare[41] = "IBM-3278-";
  TelnetModelName(bare, sizeof bare, 3);
  EXPECT_STREQ(bare, "IBM-3278-3");
  char other[41] = "VT220";
  TelnetModelName(other, sizeof other, 5);
  EXPECT_STREQ(other, "VT220");
}

}  // namespace

// A TN3270 host's usual order: terminal type twice, then end-of-record and
// binary in both directions; IAC EOR then ends each record.
TEST(TelnetNegotiation, Tn3270HostEntersAndLeavesRecordMode) {
  static int starts;
  starts = 0;
  const Tn3270StartProc start = [] {
    ++starts;
    return true;
  };
  Fixture f;
  std::snprintf(f.tn.termTypes[0], sizeof f.tn.termTypes[0], "IBM-3278-4");
  f.Feed(B({255, 253, 24, 255, 250, 24, 1, 255, 240}), start);
  EXPECT_EQ(f.Take(), B({255, 251, 24}) + B({255, 250, 24, 0}) + "IBM-3278-4" + B({255, 240}));
  f.Feed(B({255, 253, 25, 255, 251, 25, 255, 253, 0, 255, 251, 0}), start);
  EXPECT_EQ(f.Take(), B({255, 251, 25, 255, 253, 25, 255, 251, 0, 255, 253, 0}));
  EXPECT_EQ(f.tn.mode & (MODE_3270 | MODE_EOR | MODE_BINARY), MODE_3270 | MODE_EOR | MODE_BINARY);
  EXPECT_GE(starts, 1);
  // Binary: CR and NUL are data, IAC IAC is one 255, IAC EOR ends the record.
  std::vector<int> got;
  for (unsigned char b : B({0xF5, 13, 0, 255, 255, 255, 239})) got.push_back(TelnetReceive(f.tn, b, f.out, start));
  EXPECT_EQ(got, (std::vector<int>{0xF5, 13, 0, TELNET_CONSUMED, 255, TELNET_CONSUMED, TELNET_END_OF_RECORD}));
  f.Feed(B({255, 254, 0}), start);  // DONT BINARY leaves 3270 mode
  EXPECT_EQ(f.Take(), B({255, 252, 0}));
  EXPECT_FALSE(f.tn.mode & MODE_3270);
  EXPECT_EQ(TelnetReceive(f.tn, 255, f.out, start), TELNET_CONSUMED);
  EXPECT_EQ(TelnetReceive(f.tn, 239, f.out, start), TELNET_CONSUMED);
}

TEST(TelnetEncodeRecord, BinaryRecordsDoubleIacAndEndWithEor) {
  std::string out;
  const BYTE record[] = {0x7D, 0xFF, 0x40, 0xFF, 0xFF};
  TelnetEncodeRecord(record, sizeof record, true, out);
  EXPECT_EQ(out, B({0x7D, 255, 255, 0x40, 255, 255, 255, 255, 255, 239}));
  out.clear();
  TelnetEncodeRecord(record, 2, false, out);  // a piece of a record longer than the output buffer
  EXPECT_EQ(out, B({0x7D, 255, 255}));
}
