// The 3270 data stream: host records (command, write control character,
// orders and data) applied to the field buffer, and the terminal's replies
// (Read Buffer, Read Modified, attention keys) built in the output buffer.
// Every address and length from the host is checked against the current
// buffer size; an order that would reach outside ends its record.
#include <cstdio>
#include <cstring>

#include "tn3270.h"

namespace {

enum : BYTE {
  ORDER_PT = 0x05,
  ORDER_GE = 0x08,
  ORDER_SBA = 0x11,
  ORDER_EUA = 0x12,
  ORDER_IC = 0x13,
  ORDER_SF = 0x1D,
  ORDER_SA = 0x28,
  ORDER_SFE = 0x29,
  ORDER_YALE = 0x2B,
  ORDER_MF = 0x2C,
  ORDER_RA = 0x3C,
};

struct ORDER_NAME {
  BYTE code;
  const char *shortName;
  const char *longName;
};

constexpr ORDER_NAME kOrders[] = {
    {ORDER_SF, "SF", "Start Field"},
    {ORDER_SFE, "SFE", "Start Field Extended"},
    {ORDER_SBA, "SBA", "Set Buffer Address"},
    {ORDER_SA, "SA", "Set Attribute"},
    {ORDER_MF, "MF", "Modify Field"},
    {ORDER_IC, "IC", "Insert Cursor"},
    {ORDER_PT, "PT", "Program Tab"},
    {ORDER_RA, "RA", "Repeat to Address"},
    {ORDER_EUA, "EUA", "Erase Unprotected to Address"},
    {ORDER_GE, "GE", "Graphics Escape"},
    {ORDER_YALE, "YALE", "Yale Order"},
};

// The 64 codes of a 6-bit value in an outbound buffer address.
constexpr BYTE kAddressCode[64] = {
    0x40, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    0x60, 0x61, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
};

// Commands.
enum : BYTE {
  CMD_WRITE = 0x01,
  CMD_WRITE_SNA = 0xF1,
  CMD_ERASE_WRITE = 0x05,
  CMD_ERASE_WRITE_SNA = 0xF5,
  CMD_ERASE_WRITE_ALT = 0x0D,
  CMD_ERASE_WRITE_ALT_SNA = 0x7E,
  CMD_ERASE_UNPROTECTED = 0x0F,
  CMD_ERASE_UNPROTECTED_SNA = 0x6F,
  CMD_READ_BUFFER = 0x02,
  CMD_READ_BUFFER_SNA = 0xF2,
  CMD_READ_MODIFIED = 0x06,
  CMD_READ_MODIFIED_SNA = 0xF6,
  CMD_READ_MODIFIED_ALL = 0x6E,
  CMD_WRITE_STRUCTURED = 0x11,
  CMD_WRITE_STRUCTURED_SNA = 0xF3,
};

enum : BYTE { WCC_RESET_MDT = 0x01, WCC_RESTORE = 0x02 };

constexpr int kYaleTabBytes = 30;  // bytes a Yale 'T' order waits for

// What an order handler tells the parser.
enum OrderResult { ORDER_DONE, ORDER_SHORT, ORDER_BAD };

struct PARSE {
  const BYTE *bytes;
  int count;
  int eor;
  int i;     // the order's first byte
  int used;  // bytes the order took, set by the handler
};

const ORDER_NAME &OrderName(BYTE code) {
  for (const ORDER_NAME &o : kOrders)
    if (o.code == code) return o;
  return kOrders[0];
}

void Message(TN3270_ENGINE &e, const char *format, int value) {
  char text[128];
  std::snprintf(text, sizeof text, format, value);
  OperatorMessage(e, text);
}

// "Invalid 3270 order" for an address past the buffer.
void InvalidAddress(TN3270_ENGINE &e, const char *orderName, int address) {
  char what[96];
  std::snprintf(what, sizeof what, "Invalid 3270 order '%s' to address ", orderName);
  char text[200];
  std::snprintf(text, sizeof text, "tn3270:  %s%d.\n\t%s%d%s%d%s\n", what, address, "(Screen currently set to ", e.rows,
                " by ", e.columns, ".)");
  OperatorMessage(e, text);
}

int Next(const TN3270_ENGINE &e, int p) { return p + 1 >= e.size ? 0 : p + 1; }

void ClearAllMdt(TN3270_ENGINE &e) {
  for (int p = 0; p < e.size; ++p)
    if (IsAttribute(e.buffer[p])) e.buffer[p] &= (BYTE)~FA_MDT;
}

void ResetIndicatorsForWrite(TN3270_ENGINE &e) {
  e.inputInhibited = false;
  e.oiaRedraw = true;
}

// Erase/Write and Erase/Write Alternate: the geometry, then a clear buffer.
void EraseWrite(TN3270_ENGINE &e, bool alternate) {
  const int rows = alternate ? e.altRows : 24;
  const int columns = alternate ? e.altColumns : 80;
  if (rows != e.rows || columns != e.columns) {
    ClearBuffer(e);
    ScreenRefresh(e);  // blanks over the old screen
    e.rows = rows;
    e.columns = columns;
    e.size = rows * columns;
    if (e.hooks.geometry) e.hooks.geometry(rows, columns);
  }
  ClearBuffer(e);
  e.changedLow = 0;
  e.changedHigh = e.size - 1;
  if (Tn3270Transparent(e)) ScreenRefresh(e);
}

void EraseAllUnprotected(TN3270_ENGINE &e) {
  int first = -1;
  BYTE bits = FieldBits(e, 0);
  for (int p = 0; p < e.size; ++p) {
    if (IsAttribute(e.buffer[p])) {
      bits = e.buffer[p];
      continue;
    }
    if (bits & FA_PROTECTED) continue;
    CellStore(e, p, IC_NULL);
    if (first < 0) first = p;
  }
  e.cursor = first < 0 ? 0 : first;
  ClearAllMdt(e);
  e.keyboardUnlocked = true;
  e.aid = AID_NONE;
  e.systemWait = false;
  ResetIndicatorsForWrite(e);
}

// A one-byte record: a read command (or Erase All Unprotected, which carries
// no write control character).
void OneByteCommand(TN3270_ENGINE &e, BYTE command) {
  switch (command) {
    case CMD_READ_BUFFER:
    case CMD_READ_BUFFER_SNA:
      e.oiaRedraw = true;
      ReadBufferReply(e);
      break;
    case CMD_READ_MODIFIED:
    case CMD_READ_MODIFIED_SNA:
    case CMD_READ_MODIFIED_ALL:
      e.oiaRedraw = true;
      ReadModifiedReply(e, command);
      break;
    case CMD_ERASE_UNPROTECTED:
    case CMD_ERASE_UNPROTECTED_SNA: EraseAllUnprotected(e); break;
    default: Message(e, "Unexpected read command code 0x%x received.\n", command); break;
  }
}

// The command and write control character of a record; false when the rest
// of the record is to be dropped.
bool WriteCommand(TN3270_ENGINE &e) {
  if (e.wcc & WCC_RESET_MDT) ClearAllMdt(e);
  switch (e.command) {
    case CMD_WRITE:
    case CMD_WRITE_SNA: break;
    case CMD_ERASE_WRITE:
    case CMD_ERASE_WRITE_SNA: EraseWrite(e, false); break;
    case CMD_ERASE_WRITE_ALT:
    case CMD_ERASE_WRITE_ALT_SNA: EraseWrite(e, true); break;
    case CMD_ERASE_UNPROTECTED:
    case CMD_ERASE_UNPROTECTED_SNA: EraseAllUnprotected(e); return true;
    case CMD_WRITE_STRUCTURED:
    case CMD_WRITE_STRUCTURED_SNA:
      // Structured fields are not part of this terminal's data stream; written
      // as text they would scribble over the screen.
      Message(e, "Unexpected write command code 0x%x received.\n", e.command);
      return false;
    default: Message(e, "Unexpected write command code 0x%x received.\n", e.command); break;
  }
  ResetIndicatorsForWrite(e);
  return true;
}

// Data characters from p.i up to the next order byte.
int StoreData(TN3270_ENGINE &e, const BYTE *bytes, int count, int i) {
  while (i < count && !e.orderFlags[bytes[i]]) {
    CellStore(e, e.address, EbcdicToInternal(bytes[i]));
    e.address = Next(e, e.address);
    ++i;
  }
  e.dataWritten = true;
  return i;
}

// ---- orders: each sets p.used and says whether it was complete and sound.

OrderResult OrderIc(TN3270_ENGINE &e, PARSE &p) {
  e.cursor = e.address;
  p.used = 1;
  return ORDER_DONE;
}

OrderResult OrderPt(TN3270_ENGINE &e, PARSE &p) {
  p.used = 1;
  for (int q = e.address; q < e.size; ++q) {
    if (IsAttribute(e.buffer[q])) {
      e.dataWritten = false;
      const int next = Next(e, q);
      if (!IsAttribute(e.buffer[next]) && !(e.buffer[q] & FA_PROTECTED)) {
        e.address = next;
        return ORDER_DONE;
      }
    } else if (e.dataWritten) {
      CellStore(e, q, IC_NULL);
    }
  }
  e.address = 0;
  return ORDER_DONE;
}

OrderResult OrderGe(TN3270_ENGINE &e, PARSE &p) {
  if (p.i + 2 > p.count) return ORDER_SHORT;
  p.used = 1;  // the byte after it is taken as it comes
  return ORDER_DONE;
}

OrderResult OrderSba(TN3270_ENGINE &e, PARSE &p) {
  if (p.i + 3 > p.count) return ORDER_SHORT;
  const BYTE b1 = p.bytes[p.i + 1], b2 = p.bytes[p.i + 2];
  if (b1 == 0 && (b2 == 0 || b2 == 1 || b2 == 5)) {
    // Transparent Set Buffer Address: the rest goes to the transparent hook,
    // which discards it, and the next record is transparent.
    e.transparentMark = e.recordCounter + 1;
    p.used = p.count - p.i;
    return ORDER_DONE;
  }
  const int address = DecodeAddress(b1, b2);
  if (address >= e.size) {
    InvalidAddress(e, "Set Buffer Address", address);
    return ORDER_BAD;
  }
  e.address = address;
  p.used = 3;
  return ORDER_DONE;
}

OrderResult OrderEua(TN3270_ENGINE &e, PARSE &p) {
  if (p.i + 3 > p.count) return ORDER_SHORT;
  const int stop = DecodeAddress(p.bytes[p.i + 1], p.bytes[p.i + 2]);
  if (stop > e.size - 1) {
    InvalidAddress(e, "Erase Unprotected to Address", stop);
    return ORDER_BAD;
  }
  BYTE bits = FieldBits(e, e.address);
  int q = e.address;
  do {
    if (IsAttribute(e.buffer[q]))
      bits = e.buffer[q];
    else if (!(bits & FA_PROTECTED))
      CellStore(e, q, IC_NULL);
    q = Next(e, q);
  } while (q != stop);
  e.address = stop;
  p.used = 3;
  return ORDER_DONE;
}

OrderResult OrderSf(TN3270_ENGINE &e, PARSE &p) {
  if (p.i + 2 > p.count) return ORDER_SHORT;
  const BYTE a = p.bytes[p.i + 1] | FA_MARK;
  if (e.buffer[e.address] != a) {
    e.buffer[e.address] = a;
    if (e.address < e.changedLow) e.changedLow = e.address;
    if (e.address > e.changedHigh) e.changedHigh = e.address;
  }
  e.address = Next(e, e.address);
  p.used = 2;
  return ORDER_DONE;
}

OrderResult OrderSfe(TN3270_ENGINE &e, PARSE &p) {
  if (p.i + 2 > p.count) return ORDER_SHORT;
  const int pairs = p.bytes[p.i + 1];
  if (p.i + 2 + 2 * pairs > p.count) return ORDER_SHORT;
  BYTE a = 0;
  for (int k = 0; k < pairs; ++k)
    if (p.bytes[p.i + 2 + 2 * k] == 0xC0) a = p.bytes[p.i + 3 + 2 * k];
  PARSE sf = p;
  const BYTE stand[2] = {ORDER_SF, a};
  sf.bytes = stand;
  sf.count = 2;
  sf.i = 0;
  OrderSf(e, sf);
  p.used = 2 + 2 * pairs;
  return ORDER_DONE;
}

OrderResult OrderRa(TN3270_ENGINE &e, PARSE &p) {
  if (p.i + 4 > p.count) return ORDER_SHORT;
  int length = 4;
  BYTE c = p.bytes[p.i + 3];
  if (c == ORDER_GE) {
    if (p.i + 5 > p.count) return ORDER_SHORT;
    c = p.bytes[p.i + 4];
    length = 5;
  }
  const int stop = DecodeAddress(p.bytes[p.i + 1], p.bytes[p.i + 2]);
  if (stop > e.size - 1) {
    InvalidAddress(e, "Repeat to Address", stop);
    return ORDER_BAD;
  }
  const BYTE internal = EbcdicToInternal(c);
  int q = e.address;
  do {
    CellStore(e, q, internal);
    q = Next(e, q);
  } while (q != stop);
  e.address = stop;
  p.used = length;
  return ORDER_DONE;
}

OrderResult OrderYale(TN3270_ENGINE &e, PARSE &p) {
  if (p.i + 2 > p.count) return ORDER_SHORT;
  if (p.bytes[p.i + 1] != 0x5B) {
    p.used = 1;
    return ORDER_DONE;
  }
  const int r = YaleOrder(e, p.bytes + p.i + 2, p.count - p.i - 2, p.eor);
  if (r == 0) return ORDER_SHORT;
  p.used = 2 + r;
  return ORDER_DONE;
}

// Set Attribute (order, type, value) and Modify Field (order, count, pairs)
// are not supported; their parameter bytes are skipped so they do not show
// as text.
OrderResult OrderUnsupported(TN3270_ENGINE &e, PARSE &p) {
  const BYTE code = p.bytes[p.i];
  int length = 1;
  if (code == ORDER_SA) {
    length = 3;
  } else if (code == ORDER_MF) {
    if (p.i + 2 > p.count) return ORDER_SHORT;
    length = 2 + 2 * p.bytes[p.i + 1];
  }
  if (p.i + length > p.count) return ORDER_SHORT;
  const ORDER_NAME &o = OrderName(code);
  char text[128];
  std::snprintf(text, sizeof text, "Unsupported order '%s' (%s, 0x%x) received.\n", o.longName, o.shortName, code);
  OperatorMessage(e, text);
  p.used = length;
  return ORDER_DONE;
}

OrderResult RunOrder(TN3270_ENGINE &e, PARSE &p) {
  switch (p.bytes[p.i]) {
    case ORDER_IC: return OrderIc(e, p);
    case ORDER_PT: return OrderPt(e, p);
    case ORDER_GE: return OrderGe(e, p);
    case ORDER_SBA: return OrderSba(e, p);
    case ORDER_EUA: return OrderEua(e, p);
    case ORDER_SF: return OrderSf(e, p);
    case ORDER_SFE: return OrderSfe(e, p);
    case ORDER_RA: return OrderRa(e, p);
    case ORDER_YALE: return OrderYale(e, p);
    default: return OrderUnsupported(e, p);
  }
}

// Orders and data from byte i: the bytes consumed.
int OrdersAndData(TN3270_ENGINE &e, const BYTE *bytes, int count, int eor, int i) {
  while (i < count) {
    if (!e.orderFlags[bytes[i]]) {
      i = StoreData(e, bytes, count, i);
      continue;
    }
    PARSE p{bytes, count, eor, i, 0};
    const OrderResult r = RunOrder(e, p);
    e.dataWritten = false;
    if (r == ORDER_SHORT) return eor ? count : i;  // wait for the rest, or drop a cut order
    if (r == ORDER_BAD) {
      e.dropRecord = true;
      return count;
    }
    i += p.used;
  }
  return count;
}

}  // namespace

int DecodeAddress(BYTE b1, BYTE b2) { return (b1 & 0x3F) << 6 | (b2 & 0x3F); }

BYTE AddressCode(int sixBits) { return kAddressCode[sixBits & 0x3F]; }

void PutAddress(TN3270_ENGINE &e, int address) {
  NetPutByte(e, AddressCode(address >> 6));
  NetPutByte(e, AddressCode(address));
}

bool Tn3270Transparent(const TN3270_ENGINE &e) { return e.transparentMark == e.recordCounter; }

int DsParse(TN3270_ENGINE &e, const BYTE *bytes, int count, int eor) {
  if (count < 0) count = 0;
  int consumed = 0;
  if (e.startOfRecord) {
    if (count == 0) {
      OperatorMessage(e, "Short count received from host!\n");
      return 0;
    }
    if (count == 1) {
      OneByteCommand(e, bytes[0]);
      return 1;
    }
    e.command = bytes[0];
    e.wcc = bytes[1];
    e.dropRecord = false;
    if (!WriteCommand(e)) e.dropRecord = true;
    consumed = e.dropRecord ? count : OrdersAndData(e, bytes, count, eor, 2);
  } else if (Tn3270Transparent(e) || e.dropRecord) {
    consumed = count;  // the transparent hook discards them
  } else {
    consumed = OrdersAndData(e, bytes, count, eor, 0);
  }
  if (eor) {
    ++e.recordCounter;
    e.dropRecord = false;
    if (e.wcc & WCC_RESTORE) {
      e.keyboardUnlocked = true;
      e.systemWait = false;
      e.oiaRedraw = true;
      if (!Tn3270Transparent(e)) e.aid = AID_NONE;
    }
  }
  e.startOfRecord = eor != 0;
  return consumed;
}

int YaleOrder(TN3270_ENGINE &e, const BYTE *bytes, int count, int eor) {
  if (count <= 0) return 0;
  if (bytes[0] != 0xE3) return 1;  // sub-orders that change nothing here
  if (!eor && count - 1 < kYaleTabBytes) return 0;
  std::memset(e.tabStops, 0, sizeof e.tabStops);
  int j = 1;
  if (j < count) {
    const int row = bytes[j++] - 0x40;
    if (row < 0 || row > 23) return j;
    e.homeRow = row;
  }
  if (j < count) {
    const int margin = bytes[j++] - 0x40;
    if (margin < 0 || margin >= TN_TAB_COLUMNS) return j;
    e.margin = margin;
  }
  for (int k = 0; k < 28 && j < count; ++k, ++j) {
    if (bytes[j] < 0x40 || bytes[j] > 0x8F) break;
    e.tabStops[bytes[j] - 0x40] = 1;
  }
  return j;
}

void NetPutByte(TN3270_ENGINE &e, BYTE b) {
  if (e.outWrite >= TN_OUTPUT_SIZE) {
    if (e.send) e.send(e.output + e.outStart, 0, 0, e.outWrite - e.outStart);
    e.outStart = e.outWrite = 0;
  }
  e.output[e.outWrite++] = b;
}

void NetFlush(TN3270_ENGINE &e, int eor) {
  if (e.send) e.send(e.output + e.outStart, 0, eor, e.outWrite - e.outStart);
  e.outStart = e.outWrite = 0;
}

void ReadModifiedReply(TN3270_ENGINE &e, int command) {
  const bool all = command == CMD_READ_MODIFIED_ALL;
  const bool testRequest = e.aid == AID_TEST_REQUEST && !all;
  if (e.aid == AID_NONE) {
    NetPutByte(e, 0x60);
  } else if (e.aid == AID_TEST_REQUEST) {
    for (BYTE b : {0x01, 0x6C, 0x61, 0x02}) NetPutByte(e, b);
  } else {
    NetPutByte(e, (BYTE)e.aid);
  }
  const bool shortRead = e.aid == AID_PA1 || e.aid == AID_PA2 || e.aid == AID_PA3 || e.aid == AID_CLEAR;
  if (!shortRead || all) {
    if (!testRequest) PutAddress(e, e.cursor);
    const bool withData = !(e.aid == AID_SELECTOR_PEN && !all);
    if (Formatted(e)) {
      const int first = IsAttribute(e.buffer[0]) ? 0 : NextAttribute(e, 0);
      int a = first;
      do {
        if (e.buffer[a] & FA_MDT) {
          const int start = Next(e, a);
          if (!testRequest) {
            NetPutByte(e, ORDER_SBA);
            PutAddress(e, start);
          }
          for (int q = start; withData && q != a && !IsAttribute(e.buffer[q]); q = Next(e, q))
            if (e.buffer[q] != IC_NULL) NetPutByte(e, InternalToEbcdic(e.buffer[q]));
        }
        a = NextAttribute(e, a);
      } while (a != first);
    } else {
      for (int q = 0; q < e.size; ++q)
        if (e.buffer[q] != IC_NULL) NetPutByte(e, InternalToEbcdic(e.buffer[q]));
    }
  }
  NetFlush(e, 1);
  e.aidPending = false;
}

void ReadBufferReply(TN3270_ENGINE &e) {
  NetPutByte(e, e.aid == AID_NONE ? 0x60 : (BYTE)e.aid);
  PutAddress(e, e.cursor);
  for (int q = 0; q < e.size; ++q) {
    const BYTE b = e.buffer[q];
    if (IsAttribute(b)) {
      NetPutByte(e, ORDER_SF);
      NetPutByte(e, kAddressCode[b & 0x3F]);
    } else {
      NetPutByte(e, InternalToEbcdic(b));
    }
  }
  NetFlush(e, 1);
  e.aidPending = false;
}

void SendPendingAid(TN3270_ENGINE &e) {
  if (Tn3270Transparent(e)) {
    NetPutByte(e, (BYTE)e.aid);
    NetFlush(e, 1);
    e.aidPending = false;
    return;
  }
  ReadModifiedReply(e, CMD_READ_MODIFIED);
}

void EngineReset(TN3270_ENGINE &e) {
  std::memset(e.tabStops, 0, sizeof e.tabStops);
  for (int c = 0; c < TN_TAB_COLUMNS; c += 8) e.tabStops[c] = 1;
  e.homeRow = 0;
  e.margin = 0;
  e.startOfRecord = true;
  e.outStart = e.outWrite = 0;
  e.aidPending = false;
  e.aid = AID_NONE;
  e.insertMode = e.inputInhibited = e.systemWait = e.oiaRedraw = e.messageShown = false;
  std::memset(e.buffer, 0, sizeof e.buffer);
  std::memset(e.orderFlags, 0, sizeof e.orderFlags);
  for (const ORDER_NAME &o : kOrders) e.orderFlags[o.code] = 1;
  e.changedLow = e.size;
  e.changedHigh = -1;
  e.cursor = e.address = e.shownCursor = 0;
  e.keyboardUnlocked = true;
  e.recordCounter = 1;
  e.transparentMark = -1;
  e.dataWritten = e.dropRecord = false;
  e.command = e.wcc = 0;
  e.keyWrite = e.keyRead = e.keyCount = 0;
}
