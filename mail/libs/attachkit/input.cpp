// Positional and buffered reading (see input.h).
#include "input.h"

#include <algorithm>
#include <cstring>

namespace attachkit {

long long MemoryReader::ReadAt(uint64_t offset, uint8_t *buffer, size_t size) {
  if (offset >= bytes_.size()) return 0;
  const size_t n = std::min<uint64_t>(size, bytes_.size() - offset);
  std::memcpy(buffer, bytes_.data() + offset, n);
  return static_cast<long long>(n);
}

void BufferedInput::Seek(uint64_t offset) {
  if (offset >= start_ && offset <= start_ + end_) {
    pos_ = static_cast<size_t>(offset - start_);
    return;
  }
  start_ = offset;
  pos_ = end_ = 0;
}

bool BufferedInput::Fill() {
  if (failed_) return false;
  start_ += pos_;
  pos_ = end_ = 0;
  const long long n = source_.ReadAt(start_, buffer_.data(), buffer_.size());
  if (n < 0) failed_ = true;
  if (n <= 0) return false;
  end_ = static_cast<size_t>(n);
  return true;
}

bool BufferedInput::ReadLine(std::string &line, size_t max) {
  line.clear();
  bool any = false;
  for (;;) {
    if (pos_ == end_ && !Fill()) return any;
    any = true;
    const uint8_t *from = buffer_.data() + pos_;
    const size_t avail = end_ - pos_;
    const void *lf = std::memchr(from, '\n', avail);
    const size_t take = lf ? static_cast<size_t>(static_cast<const uint8_t *>(lf) - from) + 1 : avail;
    if (line.size() < max) line.append(reinterpret_cast<const char *>(from), std::min(take, max - line.size()));
    pos_ += take;
    if (lf) return true;
  }
}

size_t BufferedInput::Read(uint8_t *out, size_t size) {
  size_t done = 0;
  while (done < size) {
    if (pos_ == end_) {
      // Large reads go straight to the caller's buffer.
      if (size - done >= buffer_.size()) {
        if (failed_) break;
        start_ += pos_;
        pos_ = end_ = 0;
        const long long n = source_.ReadAt(start_, out + done, size - done);
        if (n < 0) failed_ = true;
        if (n <= 0) break;
        start_ += static_cast<uint64_t>(n);
        done += static_cast<size_t>(n);
        continue;
      }
      if (!Fill()) break;
    }
    const size_t n = std::min(size - done, end_ - pos_);
    std::memcpy(out + done, buffer_.data() + pos_, n);
    pos_ += n;
    done += n;
  }
  return done;
}

int BufferedInput::Peek() {
  if (pos_ == end_ && !Fill()) return -1;
  return buffer_[pos_];
}

}  // namespace attachkit
