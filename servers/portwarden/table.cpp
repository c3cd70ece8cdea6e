/* The service table's default rows and the reading and writing of
 * "PORTWARDEN.CFG", with every length checked against the bytes present. */
#include "table.h"

#include <cstring>
#include <string>

SERVICE_SLOT g_Slots[MAX_SERVICES];
BYTE g_Logging = 0;

namespace {

struct DEFAULT_ROW {
  const char *name;       /* display name */
  const char *program;    /* daemon program */
  const char *parameters; /* optional parameters */
  BOOL datagram;          /* UDP service */
  WORD port;              /* well-known port */
  LONG maximum;           /* most daemons at once */
};

const DEFAULT_ROW kDefaultRows[] = {
    {"haulerd", "haulerd", "-v", FALSE, 21, 4},      {"burrowserve", "burrowserve", "", FALSE, 70, 4},
    {"consoled", "consoled", "", FALSE, 23, 4},      {"whoanswer", "whoanswer", "", FALSE, 79, 4},
    {"Lpd", "printspool", "", FALSE, 515, 4},        {"quipserve", "quipserve", "", TRUE, 17, 1},
    {"clockanswer", "clockanswer", "", TRUE, 37, 1}, {"nameanswer", "nameanswer", "", TRUE, 42, 1},
    {"oldparleyd", "oldparleyd", "", TRUE, 517, 1},  {"parleyd", "parleyd", "", TRUE, 518, 1},
    {"lightfiles", "lightfiles", "", TRUE, 69, 1},   {"startanswer", "startanswer", "", TRUE, 67, 1},
};

/* A bounded reader over the file image. */
struct Cursor {
  const std::string &image;
  size_t at;
  bool Take(void *out, size_t count) {
    if (image.size() - at < count) return false;
    memcpy(out, image.data() + at, count);
    at += count;
    return true;
  }
  bool TakeString(std::string *out) {
    unsigned char raw[4];
    if (!Take(raw, 4)) return false;
    DWORD length = raw[0] | raw[1] << 8 | raw[2] << 16 | (DWORD)raw[3] << 24;
    if (length < 1 || length > SLOT_STRING_MAX || image.size() - at < length) return false;
    const char *text = image.data() + at;
    out->assign(text, strnlen(text, length)); /* up to the NUL, never past the length */
    at += length;
    return true;
  }
};

void PutLe(std::string *out, DWORD value, int bytes) {
  for (int i = 0; i < bytes; i++) out->push_back((char)(value >> (8 * i)));
}

void PutString(std::string *out, const std::string &text) {
  std::string stored = text.substr(0, SLOT_STRING_MAX - 1);
  PutLe(out, (DWORD)stored.size() + 1, 4);
  out->append(stored);
  out->push_back('\0');
}

}  // namespace

void ResetSlot(SERVICE_SLOT *slot) {
  *slot = SERVICE_SLOT{};
  slot->socket = -1;
  slot->ownerPid = -1;
  slot->reserved = -1;
}

void FillDefaults(SERVICE_SLOT *slots) {
  for (int i = 0; i < MAX_SERVICES; i++) ResetSlot(&slots[i]);
  int i = 0;
  for (const DEFAULT_ROW &row : kDefaultRows) {
    SERVICE_SLOT &slot = slots[i++];
    slot.flags = SLOT_USED | (row.datagram ? SLOT_DATAGRAM : 0);
    slot.port = row.port;
    slot.name = row.name;
    slot.program = row.program;
    slot.parameters = row.parameters;
    slot.maximum = row.maximum;
  }
}

bool ParseTableFile(const std::string &image, SERVICE_SLOT *slots, BYTE *logging, std::string *problem) {
  std::string reason;
  for (int i = 0; i < MAX_SERVICES; i++) ResetSlot(&slots[i]);
  Cursor in{image, 0};
  BYTE stored = 0;
  if (!in.Take(&stored, 1)) {
    if (problem) *problem = "the file is empty: not even the logging byte is there";
    return false;
  }
  *logging = stored ? 1 : 0;
  if (stored > 1) reason = "the logging byte is " + std::to_string(stored) + ", not 0 or 1";
  int i = 0;
  for (; i < MAX_SERVICES && in.at < image.size(); i++) { /* records past the 32nd are ignored */
    BYTE flags;
    unsigned char port[2], maximum[4];
    SERVICE_SLOT slot;
    ResetSlot(&slot);
    size_t start = in.at;
    if (!in.Take(&flags, 1) || !in.Take(port, 2) || !in.Take(maximum, 4) || !in.TakeString(&slot.name) ||
        !in.TakeString(&slot.program) || !in.TakeString(&slot.parameters)) {
      if (reason.empty())
        reason = "record " + std::to_string(i + 1) + " (at byte " + std::to_string(start) +
                 ") is cut short or holds a string length outside 1-256";
      break; /* a truncated or malformed record ends the table */
    }
    if (reason.empty() && (!(flags & SLOT_USED) || (flags & ~(SLOT_STORED_FLAGS | SLOT_OPEN))))
      reason =
          "record " + std::to_string(i + 1) + " has the flags " + std::to_string(flags) + ", which no table file holds";
    slot.flags = flags & SLOT_STORED_FLAGS;
    slot.port = (WORD)(port[0] | port[1] << 8);
    slot.maximum = (LONG)(maximum[0] | maximum[1] << 8 | maximum[2] << 16 | (DWORD)maximum[3] << 24);
    if (slot.maximum < 1 || (slot.flags & SLOT_DATAGRAM))
      slot.maximum = 1; /* one daemon owns a UDP port; no service may have none */
    slots[i] = slot;
  }
  if (reason.empty() && i == MAX_SERVICES && in.at < image.size())
    reason = "it holds more than " + std::to_string(MAX_SERVICES) + " records";
  if (problem) *problem = reason;
  return true;
}

std::string FormatTableFile(const SERVICE_SLOT *slots, BYTE logging) {
  std::string out(1, (char)logging);
  for (int i = 0; i < MAX_SERVICES; i++) {
    const SERVICE_SLOT &slot = slots[i];
    if (!(slot.flags & SLOT_USED)) continue;
    out.push_back((char)(slot.flags & ~SLOT_OPEN));
    PutLe(&out, slot.port, 2);
    PutLe(&out, (DWORD)slot.maximum, 4);
    PutString(&out, slot.name);
    PutString(&out, slot.program);
    PutString(&out, slot.parameters);
  }
  return out;
}

bool ReadTableFile(const char *name, SERVICE_SLOT *slots, BYTE *logging, char *pathOut, int pathSize,
                   std::string *problem) {
  if (problem) problem->clear();
  OFSTRUCT of{};
  HFILE file = OpenFile(name, &of, OF_READ);
  if (file == HFILE_ERROR) {
    DWORD error = of.nErrCode ? of.nErrCode : GetLastError();
    if (problem && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      *problem = "it cannot be opened for reading: " + ErrorWords(error);
    return false;
  }
  /* One byte more than a table may hold tells a file that is too long. */
  std::string image(TABLE_FILE_MAX + 1, '\0');
  UINT got = _lread(file, image.data(), (UINT)image.size());
  _lclose(file);
  bool readFailed = got == (UINT)HFILE_ERROR;
  image.resize(readFailed ? 0 : got);
  bool tooLong = image.size() > TABLE_FILE_MAX;
  if (tooLong) image.resize(TABLE_FILE_MAX);
  std::string reason;
  ParseTableFile(image, slots, logging, &reason);
  if (readFailed) reason = "it could not be read";
  if (tooLong) reason = "it is longer than " + std::to_string(TABLE_FILE_MAX) + " bytes";
  if (problem) *problem = reason;
  if (pathOut && pathSize > 0) lstrcpynA(pathOut, of.szPathName, pathSize);
  return true;
}

std::string ErrorWords(DWORD error) {
  char text[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                           nullptr, error, 0, text, sizeof text, nullptr);
  return (n ? std::string(text) + " " : std::string()) + "(error " + std::to_string(error) + ")";
}

bool WriteTableFile(const char *name, const SERVICE_SLOT *slots, BYTE logging, char *pathOut, int pathSize) {
  OFSTRUCT of{};
  HFILE file = OpenFile(name, &of, OF_CREATE | OF_READWRITE);
  if (file == HFILE_ERROR) return false;
  std::string image = FormatTableFile(slots, logging);
  UINT written = _lwrite(file, image.data(), (UINT)image.size());
  _lclose(file);
  if (pathOut && pathSize > 0) lstrcpynA(pathOut, of.szPathName, pathSize);
  return written == image.size();
}
