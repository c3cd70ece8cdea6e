// The 3270 engine of vtconsole: the field buffer and its refresh onto the
// terminal's screen grid, the 3270 data stream in both directions and the
// 3270 keyboard. It knows no socket and no window: host records come in
// through Tn3270Entry, outbound records leave through the send callback and
// screen cells through the cell-write callback the binding installs. It links
// nothing of the platform layer, so tests and the fuzzer run it alone.
#ifndef QX_TERMINAL_TN3270_H
#define QX_TERMINAL_TN3270_H

#include <cstddef>
#include <functional>

typedef unsigned char BYTE;

// Sizes.
constexpr int TN_BUFFER_MAX = 3564;    // 27 x 132, the largest geometry
constexpr int TN_OUTPUT_SIZE = 400;    // outbound bytes gathered before a send
constexpr int TN_KEY_QUEUE_SIZE = 64;  // key functions waiting for the keyboard
constexpr int TN_TAB_COLUMNS = 80;     // tab stops exist for columns 0..79
constexpr int TN_SLOTS = 8;            // sessions the engine can serve

// Tn3270Entry operations (opword >> 8).
enum {
  TN3270_OP_SETSEND = 0,
  TN3270_OP_PARAMS = 1,
  TN3270_OP_HOSTDATA = 2,
  TN3270_OP_KEYS = 3,
  TN3270_OP_RESET = 4,
  TN3270_OP_POPOUT = 5,   // reserved
  TN3270_OP_COLLECT = 6,  // reserved
};

// Attention identifiers the keyboard and the replies use.
enum : BYTE {
  AID_NONE = 0x00,
  AID_ENTER = 0x7D,
  AID_CLEAR = 0x6D,
  AID_PA1 = 0x6C,
  AID_PA2 = 0x6E,
  AID_PA3 = 0x6B,
  AID_TEST_REQUEST = 0xF0,
  AID_SELECTOR_PEN = 0x7E,
};

// Field attribute bits (stored as 0xC0 | bits in the field buffer).
enum : BYTE {
  FA_MARK = 0xC0,
  FA_PROTECTED = 0x20,
  FA_NUMERIC = 0x10,
  FA_DISPLAY = 0x0C,
  FA_INTENSIFIED = 0x08,
  FA_MDT = 0x01,
};

// Internal character codes with a meaning of their own.
enum : BYTE { IC_NULL = 0x00, IC_SPACE = 0x10, IC_FIELD_MARK = 0x9E, IC_DUP = 0x9F };

// Callbacks. The send callback gets (bytes, 0, end-of-record flag, count); the
// cell-write callback (offset = cell index x 2, value = attribute << 8 |
// character, count) and returns the offset after the last cell written.
using Tn3270SendProc = void (*)(const BYTE *bytes, int ignored, int eor, int count);
using Tn3270CellWriteProc = int (*)(int offset, int value, int count);
using Tn3270EntryProc = int (*)(void *data, int ignored, int a3, int a4, int a5, int opword);
// What the engine needs of the window: the shown cursor, a beep, the new
// geometry after an Erase/Write changed it. Any may be null.
struct TN3270_HOOKS {
  void (*setCursor)(int row, int column) = nullptr;
  void (*beep)() = nullptr;
  void (*geometry)(int rows, int columns) = nullptr;
};

struct KEY_QUEUE_ENTRY {
  int function;
  int data;
};

// The whole engine: one per process in the program (g_Tn3270), any number in
// tests. Every index into buffer is kept below size, and size never exceeds
// TN_BUFFER_MAX.
struct TN3270_ENGINE {
  // Binding.
  Tn3270SendProc send = nullptr;
  Tn3270CellWriteProc cellWrite = nullptr;
  TN3270_HOOKS hooks;
  bool installed = false;
  int slot = -1;
  BYTE slotTable[TN_SLOTS] = {};
  // Display attributes: [0] unprotected-normal, [1] unprotected-intensified,
  // [2] protected-normal, [3] protected-intensified.
  BYTE displayAttr[4] = {0, 1, 2, 3};
  int rows = 24, columns = 80, size = 1920;
  int altRows = 24, altColumns = 80;  // taken by Erase/Write Alternate (the model)

  // Field buffer.
  BYTE buffer[TN_BUFFER_MAX] = {};
  int changedLow = 0, changedHigh = -1;  // empty: low = size, high = -1
  int cursor = 0;
  int shownCursor = 0;
  bool insertMode = false, inputInhibited = false, systemWait = false;
  bool oiaRedraw = false, messageShown = false;

  // Data stream.
  bool startOfRecord = true;
  int command = 0, wcc = 0;
  int address = 0;
  bool dataWritten = false;
  bool dropRecord = false;  // a bad order ended this record: the rest is discarded
  BYTE orderFlags[256] = {};
  int recordCounter = 1, transparentMark = -1;
  BYTE output[TN_OUTPUT_SIZE] = {};
  int outStart = 0, outWrite = 0;
  bool aidPending = false;
  int aid = 0;
  BYTE tabStops[TN_TAB_COLUMNS] = {};
  int homeRow = 0, margin = 0;
  bool keyboardUnlocked = true;

  // Keyboard.
  KEY_QUEUE_ENTRY keys[TN_KEY_QUEUE_SIZE] = {};
  int keyWrite = 0, keyRead = 0, keyCount = 0;
};

// The program's engine, the one Tn3270Entry serves.
extern TN3270_ENGINE g_Tn3270;

// ---- entry (engine.cpp)
int Tn3270Entry(void *data, int ignored, int a3, int a4, int a5, int opword);
void Tn3270Install(Tn3270EntryProc *slot, Tn3270CellWriteProc cellWrite);
// The same operations on any engine (tests, the fuzzer).
int Tn3270Dispatch(TN3270_ENGINE &e, void *data, int a3, int a4, int a5, int opword);
// Rows and columns Erase/Write Alternate takes (from the 3278 model 2..5).
void Tn3270SetAlternate(TN3270_ENGINE &e, int model);
// Rows and columns of a 3278 model; any other model counts as model 2.
void Tn3270ModelGeometry(int model, int &rows, int &columns);
// A free session slot (marked in use), or -1 when all are taken.
int Tn3270TakeSlot(TN3270_ENGINE &e);
void Tn3270FreeSlot(TN3270_ENGINE &e, int slot);

// The host bytes of the record being received (the binding's record buffer).
constexpr int TN_RECORD_SIZE = 1024;
struct TN3270_RECORD {
  BYTE bytes[TN_RECORD_SIZE] = {};
  int fill = 0;
};
// Hands the record buffer to the parser (count, end-of-record flag; it
// returns the bytes it consumed). With eor everything counts as consumed;
// otherwise the tail the parser left moves to the front for the next batch.
using Tn3270ParseProc = std::function<int(const BYTE *bytes, int count, int eor)>;
void Tn3270RecordHand(TN3270_RECORD &r, int eor, const Tn3270ParseProc &parse);
// Appends one host byte; a full buffer is handed over as not ending a record.
void Tn3270RecordByte(TN3270_RECORD &r, BYTE b, const Tn3270ParseProc &parse);

// ---- data stream (data_stream.cpp)
int DsParse(TN3270_ENGINE &e, const BYTE *bytes, int count, int eor);
void EngineReset(TN3270_ENGINE &e);
void ReadModifiedReply(TN3270_ENGINE &e, int command);
void ReadBufferReply(TN3270_ENGINE &e);
void SendPendingAid(TN3270_ENGINE &e);
void NetPutByte(TN3270_ENGINE &e, BYTE b);
void NetFlush(TN3270_ENGINE &e, int eor);
int YaleOrder(TN3270_ENGINE &e, const BYTE *bytes, int count, int eor);
bool Tn3270Transparent(const TN3270_ENGINE &e);
// Decodes a 12-bit buffer address from two bytes; writes one as two bytes.
int DecodeAddress(BYTE b1, BYTE b2);
BYTE AddressCode(int sixBits);  // the code of the low 6 bits
void PutAddress(TN3270_ENGINE &e, int address);

// ---- field buffer and refresh (field_buffer.cpp)
bool IsAttribute(BYTE b);
bool Formatted(const TN3270_ENGINE &e);
int PrevAttribute(const TN3270_ENGINE &e, int p);
int NextAttribute(const TN3270_ENGINE &e, int p);
// The position of p's field attribute, -1 on an unformatted buffer.
int FieldAttributeAt(const TN3270_ENGINE &e, int p);
// The attribute bits of p's field (0 on an unformatted buffer: unprotected).
BYTE FieldBits(const TN3270_ENGINE &e, int p);
void CellStore(TN3270_ENGINE &e, int p, BYTE v);
void ClearBuffer(TN3270_ENGINE &e);
void SetMdt(TN3270_ENGINE &e, int p, bool on);
void MarkWholeBuffer(TN3270_ENGINE &e);
void ScreenRefresh(TN3270_ENGINE &e);
void FullRefresh(TN3270_ENGINE &e);
void ClearAndRefresh(TN3270_ENGINE &e);
void OperatorMessage(TN3270_ENGINE &e, const char *text);
void ClearOperatorMessage(TN3270_ENGINE &e);
// Code tables.
BYTE InternalToEbcdic(BYTE internal);
BYTE EbcdicToInternal(BYTE ebcdic);
BYTE InternalToDisplay(BYTE internal);
// ASCII to EBCDIC (code page 1047 for 0x20..0x7E; 0x1C and 0x1E kept); false
// when the byte has no mapping.
bool AsciiToEbcdic(BYTE ascii, BYTE &ebcdic);

// ---- keyboard (keyboard.cpp)
void Tn3270Keys(TN3270_ENGINE &e, const char *text);
void KeyQueueDrain(TN3270_ENGINE &e);
int KeyFunction(TN3270_ENGINE &e, int data, int function);
void CharEntry(TN3270_ENGINE &e, BYTE c, bool insert);

#endif
