// A GIF file read through the platform layer's file handle, for the programs
// that show pictures (the MIME library's viewer, the gopher client). Kept
// apart from gifimage.h, which needs no operating system.
#ifndef QX_GIF_GIFHANDLE_H
#define QX_GIF_GIFHANDLE_H

#include <windows.h>

#include <array>
#include <cstdint>

#include "gifimage.h"

namespace qxgif {

// Reads the file in 16 KB pieces; owns the handle and closes it.
class HandleInput final : public ByteInput {
 public:
  explicit HandleInput(HANDLE file) : file_(file) {}
  ~HandleInput() override { Close(); }
  HandleInput(const HandleInput &) = delete;
  HandleInput &operator=(const HandleInput &) = delete;
  int ReadByte() override {
    if (pos_ == end_) {
      DWORD got = 0;
      if (file_ == INVALID_HANDLE_VALUE ||
          !ReadFile(file_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &got, nullptr) || got == 0)
        return -1;
      pos_ = 0;
      end_ = got;
    }
    return buffer_[pos_++];
  }
  // Closes the file early (the picture is read); later reads give -1.
  void Close() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    pos_ = end_ = 0;
  }

 private:
  HANDLE file_;
  std::array<uint8_t, 16384> buffer_{};
  size_t pos_ = 0, end_ = 0;
};

}  // namespace qxgif

#endif
