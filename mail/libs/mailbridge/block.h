// The hand-off block: the request mailbridge gives the mail client (and the
// form of a saved message). Eleven 32-bit little-endian words, then strings:
//   0 the hidden window the mail client closes when it is done
//   1 the result, 0 until the mail client writes another
//   2 flags: 1 show the compose window first, 2 a receipt is requested
//   3 user name, 4 password, 5 subject or 0, 6 note text or 0 (pointers)
//   7 recipient count, 8 first recipient entry, 9 file count, 10 first file
// Pointer words hold base + offset: the base is a token of the writer's own
// (the mapping's name carries it), so a reader finds every string at
// pointer - base. A recipient entry is a class letter ("T", "C" or "B") and
// the address; a file entry the path, or the path, "=\" and a display name.
#ifndef QX_MAILBRIDGE_BLOCK_H
#define QX_MAILBRIDGE_BLOCK_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mailbridge {

inline constexpr size_t kWords = 11;
inline constexpr size_t kUserField = 44, kPasswordField = 109, kStringsAt = 174;
inline constexpr size_t kFieldSize = 65;  // 64 characters and the NUL

enum BlockFlags : uint32_t { kShowDialog = 1, kReceipt = 2 };

struct Recipient {
  char kind;  // 'T', 'C' or 'B'
  std::string text;
};

struct Request {
  uint32_t window = 0, result = 0, flags = 0;
  std::string user, password;
  std::optional<std::string> subject, note;
  std::vector<Recipient> recipients;
  std::vector<std::string> files;  // "path" or "path=\name"
};

// The mail layout: fixed user and password fields, then the strings.
std::vector<uint8_t> BuildMailBlock(const Request &r, uint32_t base);
// The documents layout: user, password and files one after another.
std::vector<uint8_t> BuildDocumentsBlock(const Request &r, uint32_t base);

// The mapping's name for a base: "@low:high" in decimal.
std::string MappingName(uint32_t base);

// Reads a block of either layout; none when a count or pointer leads outside
// it. The base is taken from word 3, which always points at the user name.
std::optional<Request> ParseBlock(const uint8_t *data, size_t size, bool mailLayout);

}  // namespace mailbridge

#endif
