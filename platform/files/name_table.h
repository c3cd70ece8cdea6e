// The names of one host directory, found without regard to case: the set the
// directory-name cache (dir_cache.cpp) keeps per directory.
//
// Kept compact because a program may hold a folder of many thousands of files
// (a mail store): every stored spelling once, NUL-ended, in one block of text,
// and an open-addressing table of 32-bit offsets into it, placed by a hash of
// the case-folded name (linear probing). Spellings that
// differ only in case hash alike and sit in one run of the table; a lookup
// walks that run and takes the first of them in byte order. The table is
// at most three quarters full (halved when under an eighth); the block grows by half
// at a time, and a removed name leaves its bytes behind until they are a
// fifth of the block (a quarter of the live ones), then the block is
// rewritten. A name costs its
// length (up to twice that with the slack) plus 5-11 bytes: 22 bytes for a
// typical "File123.Txt", where a hash-map node and a list held over 130.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qx {

class NameTable {
 public:
  // Empties the table and gives its memory back.
  void Clear();
  // Adds a stored spelling (nothing when it is there already). False when the
  // name cannot be a directory entry (empty, or holding a NUL byte) or the
  // text block would pass 4 GB; the table is unchanged then. stored must not
  // be a view into this table (a Find result): copy it first.
  bool Add(std::string_view stored);
  // Removes one stored spelling, if present.
  void Remove(std::string_view stored);
  // The first spelling in byte order equal to name without regard to case
  // (ASCII letters); empty when there is none. Valid until the next change.
  std::string_view Find(std::string_view name) const;
  // Every stored spelling, in no particular order.
  template <class F>
  void ForEach(F &&visit) const {
    for (std::uint32_t slot : slots_)
      if (slot != kEmpty) visit(NameAt(slot));
  }
  size_t size() const { return count_; }
  // Bytes held: the text block and the table, as allocated.
  size_t MemoryBytes() const { return text_.capacity() + slots_.capacity() * sizeof(std::uint32_t); }

 private:
  static constexpr std::uint32_t kEmpty = UINT32_MAX;
  std::string_view NameAt(std::uint32_t offset) const;
  size_t Home(std::string_view name) const;
  // Index of the slot holding exactly stored, or kNone.
  size_t SlotOf(std::string_view stored) const;
  void Place(std::uint32_t offset);
  void Resize(size_t slots);
  void Compact();

  static constexpr size_t kNone = SIZE_MAX;
  std::vector<char> text_;            // the spellings, each followed by NUL
  std::vector<std::uint32_t> slots_;  // offsets into text_, or kEmpty; size a power of two
  size_t count_ = 0;                  // names held
  size_t dead_ = 0;                   // bytes of text_ left by removed names
};

}  // namespace qx
