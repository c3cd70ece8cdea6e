// The mail store: folders of message files "m<n>.msg" with a fixed-record
// index "index.idx", the message list entries and the 8-bit character map.
#ifndef QX_MAIL_MAILSTORE_H
#define QX_MAIL_MAILSTORE_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "headers.h"

#pragma pack(push, 1)
// One 109-byte record of "index.idx"; record k lies at k * 109. Record 0 is the
// header: flags 1, n = head of the free list, the rest zero.
struct IDX_RECORD {
  uint8_t flags;         // bit 0: free (always in record 0); bit 1: MIME message
  int32_t n;             // header: free head; free: next free; used: own slot = file number
  int32_t date;          // Date header, seconds since 1970 UTC; -1 out of range
  int32_t arrival;       // retrieval, file write or adding time, seconds since 1970 UTC
  char subject[60];      // NUL-terminated only when shorter
  char from[20];         // summary of sender or recipient
  uint8_t reserved[12];  // zero
  uint8_t trailer[4];    // 00 00 0D 0A from POP retrieval, else zero
};
#pragma pack(pop)
static_assert(sizeof(IDX_RECORD) == 109);
static_assert(offsetof(IDX_RECORD, n) == 1 && offsetof(IDX_RECORD, date) == 5);
static_assert(offsetof(IDX_RECORD, arrival) == 9 && offsetof(IDX_RECORD, subject) == 13);
static_assert(offsetof(IDX_RECORD, from) == 73 && offsetof(IDX_RECORD, reserved) == 93);
static_assert(offsetof(IDX_RECORD, trailer) == 105);
static_assert(std::endian::native == std::endian::little, "index records are little-endian");

constexpr uint8_t kRecordFree = 0x01;
constexpr uint8_t kRecordMime = 0x02;
constexpr long kRecordSize = 109;
constexpr int kStoreNoIndex = -9;    // index missing, unopenable, or a path too long
constexpr int kStoreNoRecord = -10;  // slot outside the index, or a free record
constexpr size_t kStorePathLimit = 259;

std::string IndexPath(const std::string &folder);
std::string MessagePath(const std::string &folder, uint64_t number);

int IndexOpenFirst(const std::string &folder, IDX_RECORD &record, FILE *&file);
int IndexNextRecord(IDX_RECORD &record, FILE *&file);
void IndexClose(FILE *&file);

int StoreDeleteMessage(const std::string &folder, int32_t slot);
int StoreMoveMessage(const std::string &source, const std::string &destination, int32_t slot);
int StoreCreateFolder(const std::string &folder);
int StoreAddMessage(const std::string &messageFile, const std::string &folder);
int RebuildFolder(const std::string &folder);
void RebuildAllFolders(const std::string &directory);
// path holds a directory ending in a separator; on success the file's path.
// The file is created exclusively: an existing file is never reused.
FILE *CreateUniqueFile(std::string &path);

// Slot allocation in an index open for reading and writing (also used by POP
// retrieval). Each candidate slot is claimed by making its message file under
// a name that must not exist yet (a rename that refuses an existing target,
// or an exclusive create); a name that exists is passed over, so no message
// file is ever replaced. A free-list head that is out of range or names a used
// record is not trusted.
enum class SlotClaimResult { kClaimed, kTaken, kFailed };
using SlotClaim = std::function<SlotClaimResult(int32_t slot)>;
constexpr int32_t kMaxSlotsPassedOver = 100000;
struct SLOT_CHOICE {
  int32_t slot = 0;
  int32_t newHead = 0;      // the header's free-list head after commit
  int32_t fileRecords = 0;  // records in the file before commit
  bool headChanged = false;
};
// True with the claimed slot in choice; false when a claim failed otherwise
// (nothing was made then) or the index cannot be read.
bool IndexChooseSlot(FILE *index, SLOT_CHOICE &choice, const SlotClaim &claim);
// A claim that renames from to the slot's name: kTaken when that name exists.
SlotClaimResult ClaimByRename(const std::string &from, const std::string &to);
// Writes record at the chosen slot (with n = slot) and the header's new head.
bool IndexCommitSlot(FILE *index, const SLOT_CHOICE &choice, IDX_RECORD record);
// The record of a message: flags, n, Date, arrival, subject and from by the summary rule.
IDX_RECORD MakeRecord(const HEADER_SUMMARY &summary, int32_t slot, int32_t arrival, const std::string &ownAddress);

// One message-list entry. rowText holds the list row ("mm/dd  from<tabs>subject").
struct MSG_ENTRY {
  int32_t date = 0;
  int32_t arrival = 0;
  int32_t number = 0;
  std::string rowText;
  uint8_t flags = 0;
  uint32_t record = 0;  // the entry's record in the index
};
// What orders one message of a list by Date or arrival, and where its record
// is: a folder opens with these alone, and the entries (with their rows) are
// made for the rows shown.
struct MSG_KEY {
  int32_t date = 0;
  int32_t arrival = 0;
  int32_t number = 0;
  uint32_t record = 0;  // later records list first among equal keys
  uint8_t flags = 0;
};
// How wide a row is on the dialog, for cutting the from text and the tabs.
class RowMeasure {
 public:
  virtual ~RowMeasure() = default;
  virtual int TextWidth(const std::string &text) = 0;
  int tabUnit = 64;      // T: 8 dialog base width units
  int bitmapWidth = 16;  // B: the "RegMessage" bitmap
};
// The two message lists (Select and FindMessage) and the switch between them.
std::vector<MSG_ENTRY> &CurrentMessageList();
void SelectMessageList(int which);
// Builds the current list from the folder's index (head first, as the list box
// shows it); returns the number of entries.
int BuildMessageList(const std::string &folder, RowMeasure &measure);
// Hands the folder's index records after its header to visit in pieces of
// about 64 KiB (with the place of each piece's first record); with lastFirst
// the last piece comes first, then the others in order. False when the index
// cannot be read.
using IndexPieceVisit = std::function<void(const IDX_RECORD *records, size_t count, uint32_t first)>;
bool ReadIndexPieces(const std::string &folder, bool lastFirst, const IndexPieceVisit &visit);
// The keys of the folder's messages in index order; returns their number.
int LoadMessageKeys(const std::string &folder, std::vector<MSG_KEY> &keys);
// The entries of keys[first, last), rows built from their index records. A
// record that no longer holds its key's message (the index changed since the
// keys were read) gives a row of the date alone.
std::vector<MSG_ENTRY> BuildEntries(const std::string &folder, const std::vector<MSG_KEY> &keys, size_t first,
                                    size_t last, RowMeasure &measure);
void FreeMessageList();
std::string MessageCountText(int count);  // "(%d Message%s)"

// 8-bit character map of the mail directory ("qxmap.ini", [QX-Mapping]).
void LoadCharacterMap(const std::string &mailDir);
void MapIncoming(std::string &text);
void MapOutgoing(std::string &text);
uint8_t MapIncomingByte(uint8_t b);
uint8_t MapOutgoingByte(uint8_t b);

// Test hook: called at numbered points of a move and a rebuild so that a test
// can end the process there and check what a crash leaves.
extern void (*g_StoreStepHook)(const char *operation, int step);

#endif
