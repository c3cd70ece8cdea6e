#include "blockreader.h"

#include <unistd.h>

#include <algorithm>
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
