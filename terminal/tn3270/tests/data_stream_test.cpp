// The 3270 data stream and field buffer: host records in, the screen grid,
// the field buffer and the replies out; hostile records as a table.
#include <gtest/gtest.h>

#include <string>

#include "tn3270_harness.h"

namespace {

const std::string kEraseWrite = "\xF5\xC3";  // Erase/Write, reset MDT + keyboard restore
const std::string kWrite = "\xF1\xC3";
std::string Sf(unsigned char attribute) { return std::string("\x1D") + (char)attribute; }
constexpr unsigned char kUnprotected = 0x40;
constexpr unsigned char kProtected = 0x60;
constexpr unsigned char kAutoSkip = 0xF0;
constexpr unsigned char kNonDisplay = 0x4C;

TEST(Tn3270Tables, EveryEbcdicByteHasOneInternalCodeAndPrintableAsciiComesBack) {
  for (int b = 0; b < 256; ++b) {
    const BYTE internal = EbcdicToInternal((BYTE)b);
    ASSERT_LT(internal, 0xC0) << b;
    const bool control = (b < 0x40 && b != 0x1C && b != 0x1E) || b == 0xFF;
    if (control) {
      EXPECT_EQ(internal, 0) << b;
    } else if (b != 0xEF && b != 0xFE) {
      EXPECT_EQ(InternalToEbcdic(internal), b) << b;
    }
  }
  for (int c = 0x20; c < 0x7F; ++c) {
    BYTE ebcdic = 0;
    ASSERT_TRUE(AsciiToEbcdic((BYTE)c, ebcdic));
    EXPECT_EQ(InternalToDisplay(EbcdicToInternal(ebcdic)), c) << c;
  }
  BYTE unused;
  EXPECT_FALSE(AsciiToEbcdic(0x80, unused));
  EXPECT_FALSE(AsciiToEbcdic(0x01, unused));
}

TEST(Tn3270DataStream, EraseWriteBuildsAFieldAndUnlocksTheKeyboard) {
  Tn3270Harness h;
  h.e.keyboardUnlocked = false;
  h.Record("\xF5\xC3\x11\x40\x40\x1D\xF0\xC8\xC5\xD3\xD3\xD6");
  EXPECT_EQ(h.e.buffer[0], 0xF0);  // protected, numeric: auto-skip
  EXPECT_EQ(h.Row(0).substr(0, 7), " HELLO ");
  EXPECT_EQ(h.Attr(0, 1), 2);  // protected-normal
  EXPECT_TRUE(h.e.keyboardUnlocked);
  EXPECT_EQ(h.cursorRow, 0);
  EXPECT_EQ(h.cursorCol, 0);
}

TEST(Tn3270DataStream, AddressesDecodeFromTwelveBits) {
  EXPECT_EQ(DecodeAddress(0x40, 0x40), 0);
  EXPECT_EQ(DecodeAddress(0xC1, 0x50), 80);
  EXPECT_EQ(DecodeAddress(0x7F, 0x7F), 4095);
  Tn3270Harness h;
  h.Record(kEraseWrite + "\x11\xC1\x50" + Ebcdic("X") + "\x13");
  EXPECT_EQ(h.Row(1)[0], 'X');
  EXPECT_EQ(h.e.cursor, 81);
}

TEST(Tn3270DataStream, RepeatToTheCurrentAddressFillsTheWholeBuffer) {
  Tn3270Harness h;
  h.Record(kEraseWrite + "\x3C" + Address(0) + Ebcdic("*"));
  for (int row = 0; row < 24; ++row) EXPECT_EQ(h.Row(row), std::string(80, '*')) << row;
  h.Record(kWrite + Sba(10) + "\x3C" + Address(20) + "\x08\xC1");  // RA with a GE character
  EXPECT_EQ(h.Row(0).substr(8, 14), "**AAAAAAAAAA**");
}

TEST(Tn3270DataStream, ProgramTabNullsTheFieldOnlyAfterData) {
  Tn3270Harness h;
  const std::string screen = kEraseWrite + Sf(kUnprotected) + Ebcdic("abcdefgh") + Sf(kUnprotected) + Ebcdic("xyz");
  h.Record(screen);
  h.Record(kWrite + Sba(1) + Ebcdic("Q") + "\x05" + Ebcdic("R"));
  EXPECT_EQ(h.Row(0).substr(0, 14), " Q        Ryz ");
  h.Record(screen);
  h.Record(kWrite + Sba(1) + "\x05" + Ebcdic("R"));
  EXPECT_EQ(h.Row(0).substr(0, 14), " abcdefgh Ryz ");
}

TEST(Tn3270DataStream, EraseUnprotectedToAddressSkipsProtectedFields) {
  Tn3270Harness h;
  h.Record(kEraseWrite + Sf(kUnprotected) + Ebcdic("aaa") + Sf(kProtected) + Ebcdic("ppp") + Sf(kUnprotected) +
           Ebcdic("bbb"));
  h.Record(kWrite + Sba(0) + "\x12" + Address(11));
  EXPECT_EQ(h.Row(0).substr(0, 12), "     ppp   b");  // the stop address is not erased
}

TEST(Tn3270DataStream, StartFieldExtendedTakesTheBasicAttribute) {
  Tn3270Harness h;
  h.Record(kEraseWrite + "\x29\x02\x41\xF2\xC0" + (char)kNonDisplay + Ebcdic("secret"));
  EXPECT_EQ(h.e.buffer[0], 0xC0 | kNonDisplay);
  EXPECT_EQ(h.Row(0).substr(0, 8), "        ");  // non-display shows blanks
  h.Record("\x02");                              // Read Buffer keeps the characters
  ASSERT_EQ(h.records.size(), 1u);
  EXPECT_EQ(h.records[0].substr(0, 11),
            "\x60\x40\x40\x1D" + std::string(1, (char)AddressCode(kNonDisplay)) + Ebcdic("secret"));
}

TEST(Tn3270DataStream, ErasesWriteChangeTheGeometryOfEveryModel) {
  const struct { int model, rows, columns; } models[] = {{2, 24, 80}, {3, 32, 80}, {4, 43, 80}, {5, 27, 132}};
  for (const auto &m : models) {
    Tn3270Harness h(m.model);
    h.Record("\x7E\xC3" + Sba(m.rows * m.columns - 1) + Ebcdic("Z"));
    EXPECT_EQ(h.e.size, m.rows * m.columns) << m.model;
    EXPECT_EQ(h.Char(m.rows - 1, m.columns - 1), 'Z') << m.model;
    EXPECT_EQ(h.Char(m.rows, 31), 'A') << "status row of model " << m.model;
    EXPECT_FALSE(h.cellOutside);
    h.Record(kEraseWrite);
    EXPECT_EQ(h.e.size, 1920) << m.model;
  }
}

TEST(Tn3270DataStream, OneByteRecordsReadOrEraseUnprotected) {
  Tn3270Harness h;
  h.Record(kEraseWrite + Sf(kUnprotected) + Ebcdic("ab") + Sf(kProtected) + Ebcdic("pp") + Sf(0x41) + Ebcdic("cd") +
           Sba(4) + "\x13");
  h.Record("\xF6");  // Read Modified: the modified field only
  ASSERT_EQ(h.records.size(), 1u);
  EXPECT_EQ(Hex(h.records[0]), Hex("\x60" + Address(4) + Sba(7) + Ebcdic("cd")));
  h.e.aid = AID_PA1;
  h.Record("\x6E");  // Read Modified All sends the fields even for a PA key
  EXPECT_EQ(Hex(h.records[1]), Hex("\x6C" + Address(4) + Sba(7) + Ebcdic("cd")));
  h.e.keyboardUnlocked = false;
  h.Record("\x6F");  // Erase All Unprotected carries no write control character
  EXPECT_EQ(h.Row(0).substr(0, 9), "    pp   ");
  EXPECT_EQ(h.e.cursor, 1);
  EXPECT_TRUE(h.e.keyboardUnlocked);
  EXPECT_FALSE(h.e.buffer[6] & FA_MDT);
  h.Record("\x42");
  EXPECT_NE(h.oiaWrites.find("Unexpected read command code 0x42"), std::string::npos);
}

TEST(Tn3270DataStream, RepliesLongerThanTheOutputBufferGoOutInPieces) {
  Tn3270Harness h;
  h.Record(kEraseWrite);
  h.Record("\x02");  // Read Buffer of 1920 positions
  ASSERT_EQ(h.records.size(), 1u);
  EXPECT_EQ(h.records[0].size(), 3u + 1920u);
  ASSERT_EQ(h.pieces.size(), 5u);
  for (size_t i = 0; i + 1 < h.pieces.size(); ++i) EXPECT_EQ(h.pieces[i].size(), 400u);
  EXPECT_EQ(h.pieces.back().size(), 1923u - 1600u);
}

TEST(Tn3270DataStream, YaleTabOrderWaitsForItsBytesUnlessTheRecordEnds) {
  const std::string yale = std::string("\x2B\x5B\xE3") + "\x42\x45" + "\x44\x4A";  // home row 2, margin 5, tabs 4, 10
  Tn3270Harness h;
  h.Host(kEraseWrite, false);
  EXPECT_EQ(h.Host(yale + std::string(8, '\x40'), false), 0);  // 12 bytes after the letter: wait
  EXPECT_EQ(h.e.homeRow, 0);
  h.Record(yale + Ebcdic("x"));
  EXPECT_EQ(h.e.homeRow, 2);
  EXPECT_EQ(h.e.margin, 5);
  EXPECT_EQ(h.e.tabStops[4] + h.e.tabStops[10] + h.e.tabStops[8], 2);
  EXPECT_EQ(h.Char(0, 0), 'x');  // the byte that stopped the tab list is data
}

TEST(Tn3270DataStream, AnOrderSplitAcrossBatchesCompletesInTheNext) {
  Tn3270Harness h;
  TN3270_RECORD record;
  const Tn3270ParseProc parse = [&h](const BYTE *bytes, int count, int eor) {
    return Tn3270Dispatch(h.e, (void *)bytes, 0, count, 0, TN3270_OP_HOSTDATA << 8 | eor);
  };
  // 1022 bytes of data, then an SBA whose address straddles the batch boundary.
  std::string stream = kEraseWrite + std::string(1020, '\xC1') + Sba(1900) + Ebcdic("END");
  for (unsigned char b : stream) Tn3270RecordByte(record, b, parse);
  Tn3270RecordHand(record, 1, parse);
  EXPECT_EQ(h.Row(23).substr(60, 3), "END");
  EXPECT_EQ(h.Row(12).substr(0, 20), std::string(20, 'A'));
  EXPECT_EQ(record.fill, 0);
}

TEST(Tn3270DataStream, UnsupportedOrdersAreReportedAndTheirParametersSkipped) {
  Tn3270Harness h;
  h.Record(kEraseWrite + "\x28\x41\xF2" + Ebcdic("ok") + "\x2C\x01\x41\xF4" + Ebcdic("!"));
  EXPECT_EQ(h.Row(0).substr(0, 4), "ok! ");
  EXPECT_NE(h.oiaWrites.find("Unsupported order 'Modify Field' (MF, 0x2c)"), std::string::npos);
}

// Hostile records: each must leave every write inside the buffer and the
// screen, and a bad order ends its record.
TEST(Tn3270DataStream, HostileRecordsStayInsideTheBuffer) {
  const struct {
    const char *name;
    std::string record;
    const char *message;  // on the operator line, or null
    bool dataShown;       // whether the X after the order reached the screen
  } cases[] = {
      {"SBA past the buffer", kEraseWrite + "\x11\x7F\x7F" + Ebcdic("X"), "Set Buffer Address' to address 4095", false},
      {"EUA past the buffer", kEraseWrite + "\x12\x7F\x7F", "Erase Unprotected to Address' to address", false},
      {"RA past the buffer", kEraseWrite + "\x3C\x7F\x7F" + Ebcdic("X"), "Repeat to Address' to address 4095", false},
      {"SBA to the first address past 24 x 80", kEraseWrite + Sba(1920) + Ebcdic("X"), "to address 1920", false},
      {"record cut in an SBA", kEraseWrite + "\x11\x40", nullptr, false},
      {"record cut in an SFE", kEraseWrite + "\x29\x05\xC0\x60", nullptr, false},
      {"record cut in an RA with GE", kEraseWrite + "\x3C\x40\x50\x08", nullptr, false},
      {"record cut in a Yale order", kEraseWrite + "\x2B", nullptr, false},
      {"SFE with the largest count", kEraseWrite + "\x29\xFF" + std::string(510, '\xC0'), nullptr, false},
      {"unknown write command", "\x33\xC3" + Ebcdic("X"), "Unexpected write command code 0x33", true},
      {"write structured field", std::string("\xF3\x00\x05\x01\xFF\x02", 6) + Ebcdic("X"),
       "Unexpected write command code 0xf3", false},
  };
  for (const auto &c : cases) {
    Tn3270Harness h;
    h.Record(c.record);
    EXPECT_FALSE(h.cellOutside) << c.name;
    EXPECT_LE(h.maxCellRow, 24) << c.name;
    EXPECT_LT(h.e.address, h.e.size) << c.name;
    EXPECT_TRUE(h.e.startOfRecord) << c.name;
    if (c.message) {
      EXPECT_NE(h.oiaWrites.find(c.message), std::string::npos) << c.name << ": " << h.oiaWrites;
    }
    EXPECT_EQ(h.Row(0).find('X') != std::string::npos, c.dataShown) << c.name;
    // The next record is read as a record of its own.
    h.Record(kWrite + Sba(5) + Ebcdic("Y"));
    EXPECT_EQ(h.Char(0, 5), 'Y') << c.name;
  }
}

TEST(Tn3270DataStream, AnEndlessRecordIsTakenInBatchesWithoutGrowing) {
  Tn3270Harness h;
  TN3270_RECORD record;
  const Tn3270ParseProc parse = [&h](const BYTE *bytes, int count, int eor) {
    return Tn3270Dispatch(h.e, (void *)bytes, 0, count, 0, TN3270_OP_HOSTDATA << 8 | eor);
  };
  const std::string start = kEraseWrite;
  for (unsigned char b : start) Tn3270RecordByte(record, b, parse);
  const std::string pattern = Sba(1919) + "\x1D\x60" + "\x3C\x40\x40\xC1" + "\x29\x01\xC0\x20" + Ebcdic("abc");
  for (int n = 0; n < 20000; ++n)
    for (unsigned char b : pattern) Tn3270RecordByte(record, b, parse);
  EXPECT_LE(record.fill, TN_RECORD_SIZE);
  EXPECT_FALSE(h.cellOutside);
  Tn3270RecordHand(record, 1, parse);
  EXPECT_EQ(record.fill, 0);
}

TEST(Tn3270DataStream, TransparentSetBufferAddressMakesTheNextRecordTransparent) {
  Tn3270Harness h;
  h.Record(kEraseWrite + Ebcdic("kept") + std::string("\x11\x00\x01", 3) + "anything at all");
  EXPECT_TRUE(Tn3270Transparent(h.e));
  h.Host(kWrite, false);
  h.Record(Ebcdic("discarded"));
  EXPECT_FALSE(Tn3270Transparent(h.e));
  EXPECT_EQ(h.Row(0).substr(0, 5), "kept ");
}

TEST(Tn3270FieldBuffer, TheFieldSearchWrapsBackwardsThroughTheEnd) {
  Tn3270Harness h;
  h.Record(kEraseWrite + Sba(100) + Sf(kProtected));
  EXPECT_TRUE(Formatted(h.e));
  EXPECT_EQ(FieldAttributeAt(h.e, 50), 100);
  EXPECT_EQ(PrevAttribute(h.e, 50), 100);
  EXPECT_EQ(NextAttribute(h.e, 100), 0);  // none but itself
  EXPECT_EQ(NextAttribute(h.e, 150), 100);
}

TEST(Tn3270FieldBuffer, OverwritingAnAttributeRedrawsTheWholeScreen) {
  Tn3270Harness h;
  h.Record(kEraseWrite + Sf(0x68) + Ebcdic("bright") + Sba(1000) + Ebcdic("far"));
  EXPECT_EQ(h.Attr(0, 1), 3);    // protected-intensified
  EXPECT_EQ(h.Attr(12, 40), 3);  // the field runs on to the end
  h.Record(kWrite + Sba(0) + Ebcdic("x"));
  EXPECT_EQ(h.Attr(12, 40), 0);  // unformatted now: unprotected-normal everywhere
  EXPECT_EQ(h.Row(0).substr(0, 7), "xbright");
}

TEST(Tn3270FieldBuffer, StatusTextAndTheLockedCursor) {
  Tn3270Harness h;
  h.Record(kEraseWrite + Sf(kUnprotected) + Sba(5) + "\x13");
  EXPECT_EQ(h.Row(24).substr(31, 17), "A                ");
  h.Keys("\r");
  EXPECT_EQ(h.cursorRow * 80 + h.cursorCol, 1919);  // locked: the last position
  EXPECT_EQ(h.Row(24).substr(31, 9), "A XSYS X\x9D");
  h.Record(kWrite);
  EXPECT_EQ(h.cursorRow * 80 + h.cursorCol, 5);
  EXPECT_EQ(h.Row(24).substr(31, 6), "A     ");
}

TEST(Tn3270FieldBuffer, OperatorMessagesStopAtTheEndOfTheirRow) {
  Tn3270Harness h;
  h.Record(kEraseWrite + "\x11\x7F\x7F");  // the longest message there is
  EXPECT_FALSE(h.cellOutside);
  EXPECT_EQ(h.maxCellRow, 24);
  const std::string before = h.Row(24);
  h.Keys("\x16");  // the next keyboard string blanks the first 24 cells
  EXPECT_EQ(h.Row(24).substr(10, 24), std::string(24, ' '));
  EXPECT_EQ(h.Row(24).substr(34), before.substr(34));
}

}  // namespace

namespace {

TEST(Tn3270Entry, OperationsAndSlots) {
  Tn3270Harness h;
  // Codes above 6 (and the reserved 5 and 6) do nothing and return a4.
  for (int op : {5, 6, 7, 0xFF}) EXPECT_EQ(Tn3270Dispatch(h.e, nullptr, 0, 1234, 0, op << 8 | 1), 1234) << op;
  EXPECT_EQ(Tn3270Dispatch(h.e, nullptr, 0x0302, 3, 0x0100, TN3270_OP_PARAMS << 8), 3);
  EXPECT_EQ(h.e.slot, 3);
  EXPECT_EQ(h.e.displayAttr[3], 3);
  EXPECT_EQ(h.e.displayAttr[0], 0);
  Tn3270Dispatch(h.e, nullptr, 0, 3, 0, TN3270_OP_RESET << 8);
  EXPECT_EQ(h.e.slot, -1);
  // Eight sessions at most; a freed slot is taken again.
  for (int i = 0; i < TN_SLOTS; ++i) EXPECT_EQ(Tn3270TakeSlot(h.e), i);
  EXPECT_EQ(Tn3270TakeSlot(h.e), -1);
  Tn3270FreeSlot(h.e, 5);
  EXPECT_EQ(Tn3270TakeSlot(h.e), 5);
}

TEST(Tn3270Entry, AnEmptyEndOfRecordStillReachesTheParser) {
  Tn3270Harness h;
  TN3270_RECORD record;
  const Tn3270ParseProc parse = [&h](const BYTE *bytes, int count, int eor) {
    return Tn3270Dispatch(h.e, (void *)bytes, 0, count, 0, TN3270_OP_HOSTDATA << 8 | eor);
  };
  Tn3270RecordHand(record, 1, parse);
  EXPECT_NE(h.oiaWrites.find("Short count received from host!"), std::string::npos);
  EXPECT_EQ(h.beeps, 1);
}

}  // namespace
