/* The blocks of a transfer's file, read and written many at a time: one
 * system call per 512-byte block would cost more than the block. */
#ifndef QX_SERVERS_LIGHTFILES_BLOCKS_H
#define QX_SERVERS_LIGHTFILES_BLOCKS_H

#include <cstdint>
#include <vector>

/* A reading transfer asks for its blocks in order. This reads a span of many
 * blocks at once and hands them out from memory; a block asked for again (a
 * resend) comes from the same bytes while they are held, and a position
 * outside them reads a new span there. */
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

/* A writing transfer's blocks are gathered and written a span at a time.
 * Whoever ends the transfer calls Flush: its last block is acknowledged only
 * once everything is written, and a transfer that is dropped still leaves
 * every acknowledged block in the file. A write that fails or comes short
 * (a full disk) is reported by the call that made it, and what was gathered
 * is dropped then. */
class TftpBlockWriter {
 public:
  static constexpr int kSpan = 64 * 1024;

  /* Adds a block's bytes, writing the span out once it is full; false when
   * that write failed. */
  bool Add(int fd, const unsigned char *data, int length);
  /* Writes out what is gathered; false when the write failed. */
  bool Flush(int fd);

 private:
  std::vector<unsigned char> gathered_; /* reserved on the first block */
};

#endif
