// Reading message and attachment files: positional reads through a
// RandomReader (a file handle of our own, or memory in tests), and a buffered
// reader with its own position over it, so a caller's file offset is never
// the library's.
#ifndef QX_ATTACHKIT_INPUT_H
#define QX_ATTACHKIT_INPUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace attachkit {

class RandomReader {
 public:
  virtual ~RandomReader() = default;
  // Reads up to size bytes at offset; returns the count (0 at the end), or
  // -1 on a read error.
  virtual long long ReadAt(uint64_t offset, uint8_t *buffer, size_t size) = 0;
};

class MemoryReader final : public RandomReader {
 public:
  explicit MemoryReader(std::string_view bytes) : bytes_(bytes) {}
  long long ReadAt(uint64_t offset, uint8_t *buffer, size_t size) override;

 private:
  std::string_view bytes_;
};

// Lines and bytes from a RandomReader through a fixed buffer.
class BufferedInput {
 public:
  explicit BufferedInput(RandomReader &source, size_t buffer_size = 65536) : source_(source), buffer_(buffer_size) {}

  uint64_t Tell() const { return start_ + pos_; }
  void Seek(uint64_t offset);
  // One line through its LF (or to the end of input) into line, of which at
  // most max bytes are kept; the rest of a longer line is read and dropped.
  // False at the end of input or on a read error.
  bool ReadLine(std::string &line, size_t max);
  // Up to size bytes; fewer only at the end of input or on an error.
  size_t Read(uint8_t *out, size_t size);
  // The next byte without taking it, or -1 at the end.
  int Peek();
  bool failed() const { return failed_; }

 private:
  bool Fill();  // false at the end or on an error

  RandomReader &source_;
  std::vector<uint8_t> buffer_;
  uint64_t start_ = 0;  // file offset of buffer_[0]
  size_t pos_ = 0, end_ = 0;
  bool failed_ = false;
};

}  // namespace attachkit

#endif
