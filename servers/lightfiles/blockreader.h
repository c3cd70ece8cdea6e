/* The blocks a reading transfer sends, read ahead many at a time. */
#ifndef QX_SERVERS_LIGHTFILES_BLOCKREADER_H
#define QX_SERVERS_LIGHTFILES_BLOCKREADER_H

#include <cstdint>
#include <vector>

/* A lock-step transfer asks for its blocks in order; reading each 512-byte
 * block on its own would be a system call per block. This reads a span of
 * many blocks at once and hands them out from memory; a block asked for
 * again (a resend) comes from the same bytes while they are held, and a
 * position outside them reads a new span there. */
class TftpBlockReader {
 public:
  static constexpr int kSpan = 64 * 1024;

  /* Copies the block at position (at most 512 bytes, fewer at the file's
   * end) into out, which holds 512 bytes; returns how many. A read error
   * counts as the end of the file. */
  int Read(int fd, int64_t position, unsigned char *out);

 private:
  std::vector<unsigned char> span_; /* allocated on the first read */
  int64_t start_ = 0;               /* file position of span_[0] */
  int64_t held_ = 0;                /* bytes of span_ read from the file */
  bool reachesEnd_ = false;         /* the read that filled it stopped at the end */
};

#endif
