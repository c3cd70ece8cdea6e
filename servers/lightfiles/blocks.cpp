#include "blocks.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tftp.h"

int TftpBlockReader::Read(int fd, int64_t position, unsigned char *out) {
  const int64_t offset = position - start_;
  const bool held = offset >= 0 && (held_ - offset >= kTftpBlock || (reachesEnd_ && offset <= held_));
  if (!held) {
    span_.resize(kSpan);
    ssize_t got = position < 0 ? -1 : pread(fd, span_.data(), span_.size(), (off_t)position);
    if (got < 0) got = 0;
    start_ = position;
    held_ = got;
    reachesEnd_ = got < (ssize_t)span_.size();
  }
  const int64_t at = position - start_;
  const int64_t count = std::min<int64_t>(kTftpBlock, held_ - at);
  if (count <= 0) return 0;
  memcpy(out, span_.data() + at, (size_t)count);
  return (int)count;
}

bool TftpBlockWriter::Add(int fd, const unsigned char *data, int length) {
  if (length <= 0) return true;
  if (gathered_.capacity() == 0) gathered_.reserve(kSpan);
  gathered_.insert(gathered_.end(), data, data + length);
  return (int64_t)gathered_.size() < kSpan || Flush(fd);
}

bool TftpBlockWriter::Flush(int fd) {
  size_t done = 0;
  while (done < gathered_.size()) {
    const ssize_t wrote = write(fd, gathered_.data() + done, gathered_.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    done += (size_t)wrote;
  }
  const bool whole = done == gathered_.size();
  gathered_.clear();
  return whole;
}
