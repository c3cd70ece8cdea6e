// A directory's names in one block of text with an open-addressing index
// (name_table.h).
#include "name_table.h"

#include <algorithm>
#include <cstring>

namespace qx {
namespace {

constexpr size_t kMinSlots = 16;
constexpr size_t kMaxText = UINT32_MAX - 1;  // offsets are 32-bit; UINT32_MAX marks an empty slot
constexpr size_t kCompactFloor = 4096;       // dead bytes always tolerated

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// 64-bit FNV-1a over the case-folded bytes, then mixed so that the low bits
// (the slot) depend on every byte.
std::uint64_t FoldedHash(std::string_view name) {
  std::uint64_t h = 14695981039346656037ull;
  for (char c : name) h = (h ^ static_cast<unsigned char>(Fold(c))) * 1099511628211ull;
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  return h;
}

bool EqualFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

}  // namespace

std::string_view NameTable::NameAt(std::uint32_t offset) const {
  // Every offset in slots_ starts a NUL-ended name inside text_.
  const char *start = text_.data() + offset;
  return std::string_view(start, std::strlen(start));
}

size_t NameTable::Home(std::string_view name) const { return FoldedHash(name) & (slots_.size() - 1); }

size_t NameTable::SlotOf(std::string_view stored) const {
  if (slots_.empty()) return kNone;
  const size_t mask = slots_.size() - 1;
  for (size_t i = Home(stored); slots_[i] != kEmpty; i = (i + 1) & mask)
    if (NameAt(slots_[i]) == stored) return i;
  return kNone;
}

void NameTable::Clear() {
  std::vector<char>().swap(text_);
  std::vector<std::uint32_t>().swap(slots_);
  count_ = 0;
  dead_ = 0;
}

std::string_view NameTable::Find(std::string_view name) const {
  if (slots_.empty()) return {};
  const size_t mask = slots_.size() - 1;
  std::string_view best;
  bool found = false;
  // Names equal but for case share the hash, so they all lie in the run of
  // occupied slots that starts at their home slot.
  for (size_t i = Home(name); slots_[i] != kEmpty; i = (i + 1) & mask) {
    std::string_view candidate = NameAt(slots_[i]);
    if (EqualFolded(candidate, name) && (!found || candidate < best)) {
      best = candidate;
      found = true;
    }
  }
  return best;
}

void NameTable::Place(std::uint32_t offset) {
  const size_t mask = slots_.size() - 1;
  size_t i = Home(NameAt(offset));
  while (slots_[i] != kEmpty) i = (i + 1) & mask;
  slots_[i] = offset;
}

void NameTable::Resize(size_t slots) {
  std::vector<std::uint32_t> old;
  old.swap(slots_);
  slots_.assign(slots, kEmpty);
  for (std::uint32_t offset : old)
    if (offset != kEmpty) Place(offset);
}

// Rewrites the text block without the bytes of removed names. Slots keep
// their places (a name's hash does not change), only their offsets move.
void NameTable::Compact() {
  std::vector<char> text;
  text.reserve(text_.size() - dead_);
  for (std::uint32_t &slot : slots_) {
    if (slot == kEmpty) continue;
    std::string_view name = NameAt(slot);
    slot = static_cast<std::uint32_t>(text.size());
    text.insert(text.end(), name.begin(), name.end());
    text.push_back('\0');
  }
  text_.swap(text);
  dead_ = 0;
}

bool NameTable::Add(std::string_view stored) {
  if (stored.empty() || stored.find('\0') != std::string_view::npos) return false;
  if (SlotOf(stored) != kNone) return true;
  if (text_.size() + stored.size() + 1 > kMaxText) {
    if (dead_ > 0) Compact();
    if (text_.size() + stored.size() + 1 > kMaxText) return false;
  }
  if (slots_.empty())
    slots_.assign(kMinSlots, kEmpty);
  else if ((count_ + 1) * 4 > slots_.size() * 3)  // at most three quarters full
    Resize(slots_.size() * 2);
  const auto offset = static_cast<std::uint32_t>(text_.size());
  // Grown by half at a time, not doubled: the slack is part of every name's cost.
  const size_t needed = text_.size() + stored.size() + 1;
  if (needed > text_.capacity()) text_.reserve(std::min(kMaxText, std::max(needed, needed + text_.size() / 2)));
  text_.insert(text_.end(), stored.begin(), stored.end());
  text_.push_back('\0');
  Place(offset);
  ++count_;
  return true;
}

void NameTable::Remove(std::string_view stored) {
  size_t hole = SlotOf(stored);
  if (hole == kNone) return;
  dead_ += stored.size() + 1;
  --count_;
  // Backward-shift deletion: pull later entries of the run into the hole
  // unless their home lies cyclically after the hole, so no lookup's run is
  // ever cut short.
  const size_t mask = slots_.size() - 1;
  for (size_t j = (hole + 1) & mask; slots_[j] != kEmpty; j = (j + 1) & mask) {
    size_t home = Home(NameAt(slots_[j]));
    bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
    if (stays) continue;
    slots_[hole] = slots_[j];
    hole = j;
  }
  slots_[hole] = kEmpty;
  if (count_ == 0) {
    Clear();
    return;
  }
  if (slots_.size() > kMinSlots && count_ * 8 < slots_.size()) Resize(slots_.size() / 2);
  // Rewritten once removed names take a fifth of the block: each rewrite
  // copies the live names, at most four bytes copied per byte removed.
  if (dead_ > kCompactFloor && dead_ * 4 > text_.size() - dead_) Compact();
}

}  // namespace qx
