// A stand-in for the mail transport that hands out a scripted byte stream in
// pieces of at most a given size, as a server's bytes may arrive in receives
// of any size; sends are taken whole. The line reader's tests and the mail
// server fuzzer share it, so it needs nothing of GoogleTest.
#ifndef QX_MAIL_CHUNK_TRANSPORT_H
#define QX_MAIL_CHUNK_TRANSPORT_H

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "mailio.h"

namespace mailtest {

class ChunkTransport : public MailTransport {
 public:
  ChunkTransport() = default;
  ChunkTransport(std::string_view bytes, size_t piece) { Reset(bytes, piece); }
  // Starts the stream again with other bytes and pieces of at most piece bytes.
  void Reset(std::string_view bytes, size_t piece) {
    bytes_.assign(bytes);
    at_ = 0;
    piece_ = std::max<size_t>(piece, 1);
  }
  bool Drained() const { return at_ >= bytes_.size(); }
  int Recv(SocketHandle, char *buffer, int length) override {
    const size_t n = std::min({bytes_.size() - at_, static_cast<size_t>(std::max(length, 0)), piece_});
    if (n) std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return static_cast<int>(n);
  }
  int Send(SocketHandle, const char *, int length) override { return length; }
  int LastError() override { return 0; }
  int CloseSocket(SocketHandle) override { return 0; }
  bool PumpMessages() override { return true; }
  void WaitForWork(SocketHandle, bool) override {}

 private:
  std::string bytes_;
  size_t at_ = 0;
  size_t piece_ = 1;
};

}  // namespace mailtest

#endif
