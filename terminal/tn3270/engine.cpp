// The engine's one entry point: the binding reaches the 3270 engine only
// through Tn3270Entry (opword >> 8 is the operation), and the engine reaches
// the program only through the callbacks the binding gave it.
#include <cstring>

#include "tn3270.h"

TN3270_ENGINE g_Tn3270;

namespace {

struct MODEL_GEOMETRY {
  int model, rows, columns;
};

constexpr MODEL_GEOMETRY kModels[] = {{2, 24, 80}, {3, 32, 80}, {4, 43, 80}, {5, 27, 132}};

int HostData(TN3270_ENGINE &e, const BYTE *bytes, int count, int eor) {
  const int consumed = DsParse(e, bytes, count, eor);
  if (eor) {
    KeyQueueDrain(e);
    ScreenRefresh(e);
  }
  return consumed;
}

}  // namespace

void Tn3270ModelGeometry(int model, int &rows, int &columns) {
  rows = 24;
  columns = 80;
  for (const MODEL_GEOMETRY &m : kModels) {
    if (m.model != model) continue;
    rows = m.rows;
    columns = m.columns;
  }
}

void Tn3270SetAlternate(TN3270_ENGINE &e, int model) { Tn3270ModelGeometry(model, e.altRows, e.altColumns); }

int Tn3270TakeSlot(TN3270_ENGINE &e) {
  for (int i = 0; i < TN_SLOTS; ++i) {
    if (e.slotTable[i]) continue;
    e.slotTable[i] = 1;
    return i;
  }
  return -1;
}

void Tn3270FreeSlot(TN3270_ENGINE &e, int slot) {
  if (slot >= 0 && slot < TN_SLOTS) e.slotTable[slot] = 0;
}

int Tn3270Dispatch(TN3270_ENGINE &e, void *data, int a3, int a4, int a5, int opword) {
  switch (opword >> 8) {
    case TN3270_OP_SETSEND: e.send = reinterpret_cast<Tn3270SendProc>(data); return a4;
    case TN3270_OP_PARAMS:
      e.displayAttr[3] = (BYTE)(a3 >> 8);
      e.displayAttr[2] = (BYTE)a3;
      e.displayAttr[1] = (BYTE)(a5 >> 8);
      e.displayAttr[0] = (BYTE)a5;
      e.slot = a4;
      return a4;
    case TN3270_OP_HOSTDATA: return HostData(e, static_cast<const BYTE *>(data), a4, opword & 0xFF);
    case TN3270_OP_KEYS: Tn3270Keys(e, static_cast<const char *>(data)); return a4;
    case TN3270_OP_RESET: e.slot = -1; return a4;
    default: return a4;  // 5 and 6 are reserved; higher codes do nothing
  }
}

int Tn3270Entry(void *data, int ignored, int a3, int a4, int a5, int opword) {
  return Tn3270Dispatch(g_Tn3270, data, a3, a4, a5, opword);
}

void Tn3270Install(Tn3270EntryProc *slot, Tn3270CellWriteProc cellWrite) {
  if (slot) *slot = Tn3270Entry;
  g_Tn3270.cellWrite = cellWrite;
  g_Tn3270.rows = 24;
  g_Tn3270.columns = 80;
  g_Tn3270.size = 1920;
  EngineReset(g_Tn3270);
}

void Tn3270RecordHand(TN3270_RECORD &r, int eor, const Tn3270ParseProc &parse) {
  if (r.fill == 0 && !eor) return;
  int consumed = parse(r.bytes, r.fill, eor);
  if (consumed < 0) consumed = 0;
  if (consumed > r.fill) consumed = r.fill;
  // A full buffer of which nothing could be used would never drain: no order
  // is that long, so it is dropped as a broken record.
  if (eor || (consumed == 0 && r.fill == TN_RECORD_SIZE)) consumed = r.fill;
  std::memmove(r.bytes, r.bytes + consumed, (size_t)(r.fill - consumed));
  r.fill -= consumed;
}

void Tn3270RecordByte(TN3270_RECORD &r, BYTE b, const Tn3270ParseProc &parse) {
  if (r.fill >= TN_RECORD_SIZE) Tn3270RecordHand(r, 0, parse);
  r.bytes[r.fill++] = b;
  if (r.fill >= TN_RECORD_SIZE) Tn3270RecordHand(r, 0, parse);
}
