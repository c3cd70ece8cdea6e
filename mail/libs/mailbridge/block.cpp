// The hand-off block (see block.h).
#include "block.h"

#include <cstring>

namespace mailbridge {
namespace {

void PutWord(std::vector<uint8_t> &b, size_t word, uint32_t value) {
  for (int i = 0; i < 4; ++i) b[word * 4 + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Word(const uint8_t *data, size_t word) {
  const uint8_t *p = data + word * 4;
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Appends text and its NUL; the offset it starts at.
uint32_t Append(std::vector<uint8_t> &b, const std::string &text) {
  const size_t at = b.size();
  b.insert(b.end(), text.begin(), text.end());
  b.push_back(0);
  return static_cast<uint32_t>(at);
}

void PutField(std::vector<uint8_t> &b, size_t at, const std::string &text) {
  const size_t n = std::min(text.size(), kFieldSize - 1);
  std::memcpy(b.data() + at, text.data(), n);
  b[at + n] = 0;
}

void PutCommon(std::vector<uint8_t> &b, const Request &r) {
  PutWord(b, 0, r.window);
  PutWord(b, 1, r.result);
  PutWord(b, 2, r.flags);
  PutWord(b, 7, static_cast<uint32_t>(r.recipients.size()));
  PutWord(b, 9, static_cast<uint32_t>(r.files.size()));
}

}  // namespace

std::vector<uint8_t> BuildMailBlock(const Request &r, uint32_t base) {
  std::vector<uint8_t> b(kStringsAt, 0);
  PutCommon(b, r);
  PutField(b, kUserField, r.user);
  PutField(b, kPasswordField, r.password);
  PutWord(b, 3, base + kUserField);
  PutWord(b, 4, base + kPasswordField);
  if (r.subject) PutWord(b, 5, base + Append(b, *r.subject));
  if (r.note) PutWord(b, 6, base + Append(b, *r.note));
  const uint32_t recipientsAt = static_cast<uint32_t>(b.size());
  for (const Recipient &rc : r.recipients) Append(b, std::string(1, rc.kind) + rc.text);
  const uint32_t filesAt = static_cast<uint32_t>(b.size());
  for (const std::string &f : r.files) Append(b, f);
  PutWord(b, 8, base + recipientsAt);
  PutWord(b, 10, base + filesAt);
  // The block's size as the layout counts it: four bytes beyond the strings.
  b.resize(b.size() + 4, 0);
  return b;
}

std::vector<uint8_t> BuildDocumentsBlock(const Request &r, uint32_t base) {
  std::vector<uint8_t> b(kUserField, 0);
  PutCommon(b, r);
  PutWord(b, 3, base + Append(b, r.user));
  PutWord(b, 4, base + Append(b, r.password));
  PutWord(b, 10, base + static_cast<uint32_t>(b.size()));
  for (const std::string &f : r.files) Append(b, f);
  return b;
}

std::string MappingName(uint32_t base) {
  return "@" + std::to_string(base & 0xFFFF) + ":" + std::to_string(base >> 16);
}

std::optional<Request> ParseBlock(const uint8_t *data, size_t size, bool mailLayout) {
  if (size < kWords * 4 + 2) return std::nullopt;
  const uint32_t base = Word(data, 3) - kUserField;
  // The string at a pointer word, bounded by the block.
  auto at = [&](uint32_t pointer, size_t &offset) {
    offset = static_cast<uint32_t>(pointer - base);
    return offset >= kUserField && offset < size;
  };
  auto text = [&](size_t offset, std::string &out) {
    const void *end = std::memchr(data + offset, 0, size - offset);
    if (!end) return false;
    out.assign(reinterpret_cast<const char *>(data + offset), static_cast<const uint8_t *>(end) - (data + offset));
    return true;
  };
  Request r;
  r.window = Word(data, 0);
  r.result = Word(data, 1);
  r.flags = Word(data, 2);
  size_t offset = 0;
  if (!at(Word(data, 3), offset) || !text(offset, r.user)) return std::nullopt;
  if (!at(Word(data, 4), offset) || !text(offset, r.password)) return std::nullopt;
  if (mailLayout && size < kStringsAt) return std::nullopt;
  for (size_t w : {size_t{5}, size_t{6}}) {
    if (Word(data, w) == 0) continue;
    std::string s;
    if (!at(Word(data, w), offset) || !text(offset, s)) return std::nullopt;
    (w == 5 ? r.subject : r.note) = s;
  }
  const uint32_t recipients = Word(data, 7), files = Word(data, 9);
  // Each entry takes at least one byte, so a count beyond the size is a lie.
  if (recipients > size || files > size) return std::nullopt;
  if (recipients > 0) {
    if (!at(Word(data, 8), offset)) return std::nullopt;
    for (uint32_t i = 0; i < recipients; ++i) {
      std::string entry;
      if (offset >= size || !text(offset, entry)) return std::nullopt;
      offset += entry.size() + 1;
      r.recipients.push_back({entry.empty() ? 'T' : entry[0], entry.empty() ? "" : entry.substr(1)});
    }
  }
  if (files > 0) {
    if (!at(Word(data, 10), offset)) return std::nullopt;
    for (uint32_t i = 0; i < files; ++i) {
      std::string entry;
      if (offset >= size || !text(offset, entry)) return std::nullopt;
      offset += entry.size() + 1;
      r.files.push_back(entry);
    }
  }
  return r;
}

}  // namespace mailbridge
